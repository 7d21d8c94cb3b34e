// Pages on Qt: the print dialog and printer, and Qt's PDF writer, both drawn
// through a QPainter at the device's resolution.
#include "toolkit/qt/qtapplication.h"
#include "toolkit/qt/qtpeers.h"

#include <QApplication>
#include <QFile>
#include <QFontMetrics>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPrintDialog>
#include <QPrinter>

namespace {

class TQtPage : public TPageCanvas {
public:
    TQtPage(QPainter& Painter, int Width, int Height, int Dpi)
        : fPainter(Painter), fWidth(Width), fHeight(Height), fDpi(Dpi)
    {
    }
    int PageWidth() const override { return fWidth; }
    int PageHeight() const override { return fHeight; }
    int DotsPerInch() const override { return fDpi; }
    void Rectangle(int X1, int Y1, int X2, int Y2) override
    {
        fPainter.setPen(LinePen());
        fPainter.setBrush(ToQColor(Brush.Color));
        fPainter.drawRect(QRect(X1, Y1, X2 - X1, Y2 - Y1));
    }
    void FillRect(const TRect& R) override
    {
        fPainter.fillRect(QRect(R.Left, R.Top, R.Width(), R.Height()), ToQColor(Brush.Color));
    }
    void TextOut(int X, int Y, const UnicodeString& Text) override
    {
        fPainter.setFont(PageFont());
        fPainter.setPen(ToQColor(Font.Color));
        const QFontMetrics m(PageFont(), fPainter.device());
        fPainter.drawText(X, Y + m.ascent(), ToQString(Text));
    }
    TPoint TextExtent(const UnicodeString& Text) const override
    {
        const QFontMetrics m(PageFont(), fPainter.device());
        return {m.horizontalAdvance(ToQString(Text)), m.height()};
    }

protected:
    void Line(int X1, int Y1, int X2, int Y2) override
    {
        fPainter.setPen(LinePen());
        fPainter.drawLine(X1, Y1, X2, Y2);
    }

private:
    // Lines about 0.15 mm wide, whatever the resolution.
    QPen LinePen() const { return QPen(ToQColor(Pen.Color), std::max(1, fDpi / 170)); }
    QFont PageFont() const
    {
        QFont f(ToQString(Font.Name));
        f.setPixelSize(std::max(1, Font.Height));
        f.setBold(Font.Style.Contains(fsBold));
        return f;
    }
    QPainter& fPainter;
    int fWidth, fHeight, fDpi;
};

}  // namespace

bool TQtApplication::PrintPage(const UnicodeString& Title, const TPageDrawer& Draw)
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageOrientation(QPageLayout::Landscape);
    printer.setDocName(ToQString(Title));
    QPrintDialog dialog(&printer, QApplication::activeWindow());
    if (dialog.exec() != QDialog::Accepted) return false;
    QPainter painter;
    if (!painter.begin(&printer)) throw Exception(u"Der Drucker lässt sich nicht ansprechen.");
    TQtPage page(painter, printer.width(), printer.height(), printer.resolution());
    Draw(page);
    painter.end();
    return true;
}

void TQtApplication::SavePdfPage(const UnicodeString& FileName, const UnicodeString& Title, const TPageDrawer& Draw)
{
    QPdfWriter writer(ToQString(FileName));
    writer.setTitle(ToQString(Title));
    writer.setCreator(QStringLiteral("Spektrometer"));
    writer.setResolution(600);
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape, QMarginsF()));
    QPainter painter;
    if (!painter.begin(&writer)) throw EFCreateError(Format(u"Datei \"%s\" kann nicht erstellt werden.", {FileName}));
    TQtPage page(painter, writer.width(), writer.height(), writer.resolution());
    Draw(page);
    painter.end();
}
