#include "app/spectrum/spectrumprint.h"

#include "app/spectrum/spectrumtext.h"
#include "platform/winapi.h"

#include <algorithm>

namespace {

UnicodeString TwoDigits(int V) { return (V < 10 ? u"0" : u"") + IntToStr(V); }

// Lines of text from Top down in Box, as many as fit; the last one that does
// not fit becomes "…".
void TextLines(TPageCanvas& Page, const TRect& Box, int Top, const std::vector<UnicodeString>& Lines)
{
    const int step = Page.Font.Height * 13 / 10;
    for (std::size_t i = 0; i < Lines.size(); ++i, Top += step) {
        if (Top + 2 * step > Box.Bottom && i + 1 < Lines.size()) {
            Page.TextOut(Box.Left, Top, u"…");
            return;
        }
        Page.TextOut(Box.Left, Top, Lines[i]);
    }
}

}  // namespace

TReportLayout LayOutReport(const TPageCanvas& Page)
{
    const int m = Page.Mm(15), w = Page.PageWidth(), h = Page.PageHeight();
    TReportLayout l;
    l.Title = {m, m, w - m, m + Page.Mm(14)};
    l.Plot = {m, l.Title.Bottom + Page.Mm(2), w - m, l.Title.Bottom + Page.Mm(2) + (h - 2 * m) * 55 / 100};
    const int below = l.Plot.Bottom + Page.Mm(6);
    l.Facts = {m, below, m + (w - 2 * m) / 2 - Page.Mm(5), h - m};
    l.List = {m + (w - 2 * m) / 2 + Page.Mm(5), below, w - m, h - m};
    return l;
}

void DrawReport(TPageCanvas& Page, const TReportPage& Report, const TPagePlot& Plot)
{
    const TReportLayout l = LayOutReport(Page);
    Page.Font = TFont{u"Helvetica", Page.Mm(6)};
    Page.Font.Style = TFontStyles{fsBold};
    Page.Font.Color = clBlack;
    Page.TextOut(l.Title.Left, l.Title.Top, Report.Title);
    Page.Font = TFont{u"Helvetica", Page.Mm(3.5)};
    Page.Font.Color = clBlack;
    Page.TextOut(l.Title.Left, l.Title.Top + Page.Mm(8), Report.Subtitle);
    Page.Font = TFont{u"Helvetica", Page.Mm(3)};
    Page.Font.Color = clBlack;
    Plot(Page, l.Plot, Page.DotsPerInch() / 96.0);
    Page.Font = TFont{u"Helvetica", Page.Mm(3.5)};
    Page.Font.Color = clBlack;
    TextLines(Page, l.Facts, l.Facts.Top, Report.Facts);
    if (!Report.ListCaption.empty()) {
        Page.Font.Style = TFontStyles{fsBold};
        Page.TextOut(l.List.Left, l.List.Top, Report.ListCaption);
        Page.Font.Style = TFontStyles{};
    }
    TextLines(Page, l.List, l.List.Top + Page.Font.Height * 13 / 10, Report.List);
}

void PrintReport(bool Pdf, TSaveDialog& Dialog, const UnicodeString& DefaultName, const TReportPage& Report,
                 const TSceneSource& Scene)
{
    const TPageDrawer draw = [&](TPageCanvas& Page) {
        DrawReport(Page, Report, [&](TPageCanvas& P, const TRect& Box, double Unit) {
            double x0, x1, y0, y1;
            TPlotScene scene = Scene(x0, x1, y0, y1);
            for (TLineMarker& m : scene.LineMarkers) m.Hover = false;
            DrawPlot(P, Box, PlotFrameIn(Box, x0, x1, y0, y1, Unit), scene);
        });
    };
    if (!Pdf) {
        Application->PrintPage(Report.Title, draw);
        return;
    }
    Dialog.FileName = DefaultName;
    if (!Dialog.Execute()) return;
    const UnicodeString name = WithExtension(Dialog.FileName, u".pdf");
    Application->SavePdfPage(name, Report.Title, draw);
}

UnicodeString PrintedAtText()
{
    SYSTEMTIME t{};
    GetLocalTime(&t);
    return TwoDigits(t.wDay) + u"." + TwoDigits(t.wMonth) + u"." + IntToStr(t.wYear) + u" " + TwoDigits(t.wHour) +
           u":" + TwoDigits(t.wMinute);
}
