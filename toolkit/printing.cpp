#include "toolkit/printing.h"

#include "toolkit/classes.h"

#include <charconv>
#include <cstdio>

namespace {

// Helvetica's advance widths (1/1000 em) for Windows-1252 32..255, as the
// font's metrics give them.
const short HelveticaWidths[224] = {
    278,  278, 355, 556,  556, 889, 667, 191, 333, 333, 389, 584,  278, 333, 278,  278, 556,  556,  556, 556,  556,
    556,  556, 556, 556,  556, 278, 278, 584, 584, 584, 556, 1015, 667, 667, 722,  722, 667,  611,  778, 722,  278,
    500,  667, 556, 833,  722, 778, 667, 778, 722, 667, 611, 722,  667, 944, 667,  667, 611,  278,  278, 278,  469,
    556,  333, 556, 556,  500, 556, 556, 278, 556, 556, 222, 222,  500, 222, 833,  556, 556,  556,  556, 333,  500,
    278,  556, 500, 722,  500, 500, 500, 334, 260, 334, 584, 350,  556, 350, 222,  556, 333,  1000, 556, 556,  333,
    1000, 667, 333, 1000, 350, 611, 350, 350, 222, 222, 333, 333,  350, 556, 1000, 333, 1000, 500,  333, 944,  350,
    500,  667, 278, 333,  556, 556, 556, 556, 260, 556, 333, 737,  370, 556, 584,  333, 737,  333,  400, 584,  333,
    333,  333, 556, 537,  278, 333, 333, 365, 556, 834, 834, 834,  611, 667, 667,  667, 667,  667,  667, 1000, 722,
    667,  667, 667, 667,  278, 278, 278, 278, 722, 722, 778, 778,  778, 778, 778,  584, 778,  722,  722, 722,  722,
    667,  667, 611, 556,  556, 556, 556, 556, 556, 889, 500, 556,  556, 556, 556,  278, 278,  278,  278, 556,  556,
    556,  556, 556, 556,  556, 584, 611, 556, 556, 556, 556, 500,  556, 500};

int HelveticaWidth(const AnsiString& Text, int Height)
{
    long sum = 0;
    for (unsigned char c : Text) sum += c >= 32 ? HelveticaWidths[c - 32] : 0;
    return static_cast<int>(sum * Height / 1000);
}

// A coordinate in points from 720-dpi dots ("12.3").
std::string Pt(double Dots)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", Dots / 10.0);
    std::string s = buf;
    for (char& c : s)
        if (c == ',') c = '.';  // whatever the C library's locale
    return s;
}

std::string RgbOperands(TColor C)
{
    C = ColorToRGB(C);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.3f %.3f %.3f", GetRValue(C) / 255.0, GetGValue(C) / 255.0, GetBValue(C) / 255.0);
    std::string s = buf;
    for (char& c : s)
        if (c == ',') c = '.';
    return s;
}

// A PDF string literal of Windows-1252 bytes.
std::string Literal(const AnsiString& Text)
{
    std::string s = "(";
    for (char c : Text) {
        if (c == '(' || c == ')' || c == '\\') s += '\\';
        s += c;
    }
    return s + ")";
}

}  // namespace

void TPageCanvas::LineTo(int X, int Y)
{
    Line(fPenPos.X, fPenPos.Y, X, Y);
    fPenPos = {X, Y};
}

void TPageCanvas::SetPixels(int X, int Y, TColor C)
{
    const TBrush saved = Brush;
    Brush.Color = C;
    FillRect({X, Y, X + 1, Y + 1});
    Brush = saved;
}

// --- TRecordingPage --------------------------------------------------------------

void TRecordingPage::Line(int X1, int Y1, int X2, int Y2)
{
    Operations.push_back({TOperation::TKind::Line, {X1, Y1, X2, Y2}, Pen.Color, {}});
}

void TRecordingPage::Rectangle(int X1, int Y1, int X2, int Y2)
{
    Operations.push_back({TOperation::TKind::Rectangle, {X1, Y1, X2, Y2}, Pen.Color, {}});
}

void TRecordingPage::FillRect(const TRect& R) { Operations.push_back({TOperation::TKind::Fill, R, Brush.Color, {}}); }

void TRecordingPage::TextOut(int X, int Y, const UnicodeString& Text)
{
    const TPoint e = TextExtent(Text);
    Operations.push_back({TOperation::TKind::Text, {X, Y, X + e.X, Y + e.Y}, Font.Color, Text});
}

TPoint TRecordingPage::TextExtent(const UnicodeString& Text) const
{
    return {HelveticaWidth(UnicodeToAnsi(Text), Font.Height), Font.Height};
}

// --- TPdfPage --------------------------------------------------------------------

void TPdfPage::Line(int X1, int Y1, int X2, int Y2)
{
    const int h = PageHeight();
    fContent +=
        RgbOperands(Pen.Color) + " RG " + Pt(X1) + " " + Pt(h - Y1) + " m " + Pt(X2) + " " + Pt(h - Y2) + " l S\n";
}

void TPdfPage::Rectangle(int X1, int Y1, int X2, int Y2)
{
    const int h = PageHeight();
    fContent += RgbOperands(Brush.Color) + " rg " + RgbOperands(Pen.Color) + " RG " + Pt(X1) + " " + Pt(h - Y2) + " " +
                Pt(X2 - X1) + " " + Pt(Y2 - Y1) + " re B\n";
}

void TPdfPage::FillRect(const TRect& R)
{
    const int h = PageHeight();
    fContent += RgbOperands(Brush.Color) + " rg " + Pt(R.Left) + " " + Pt(h - R.Bottom) + " " + Pt(R.Width()) + " " +
                Pt(R.Height()) + " re f\n";
}

void TPdfPage::TextOut(int X, int Y, const UnicodeString& Text)
{
    // The top of the text at Y: the baseline about 0.8 of the height below.
    const int baseline = Y + Font.Height * 4 / 5;
    fContent += std::string("BT /") + (Font.Style.Contains(fsBold) ? "F2 " : "F1 ") + Pt(Font.Height) + " Tf " +
                RgbOperands(Font.Color) + " rg " + Pt(X) + " " + Pt(PageHeight() - baseline) + " Td " +
                Literal(UnicodeToAnsi(Text)) + " Tj ET\n";
}

TPoint TPdfPage::TextExtent(const UnicodeString& Text) const
{
    // Helvetica-Bold runs about a tenth wider.
    const int w = HelveticaWidth(UnicodeToAnsi(Text), Font.Height);
    return {Font.Style.Contains(fsBold) ? w * 11 / 10 : w, Font.Height};
}

std::string TPdfPage::Document(const UnicodeString& Title) const
{
    const std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + Pt(PageWidth()) + " " + Pt(PageHeight()) +
            "] /Resources << /Font << /F1 5 0 R /F2 7 0 R >> >> /Contents 4 0 R >>",
        "<< /Length " + std::to_string(fContent.size()) + " >>\nstream\n" + fContent + "endstream",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
        "<< /Title " + Literal(UnicodeToAnsi(Title)) + " /Producer (Spektrometer) >>",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica-Bold /Encoding /WinAnsiEncoding >>",
    };
    std::string pdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const std::size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (std::size_t o : offsets) {
        char line[24];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", o);
        pdf += line;
    }
    pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R /Info 6 0 R >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
    return pdf;
}

void WritePdfFile(const UnicodeString& FileName, const UnicodeString& Title, const TPageDrawer& Draw)
{
    TPdfPage page;
    Draw(page);
    WriteFileBytes(FileName, page.Document(Title));
}
