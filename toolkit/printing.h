// Pages to print or to save as PDF: a canvas in the page's own dots, the
// headless page that records what was drawn, and a small PDF writer (lines,
// rectangles and text in the standard Helvetica font).
#pragma once

#include "toolkit/graphics.h"

#include <functional>
#include <string>
#include <vector>

// Drawing on a page; coordinates in dots of the page (DotsPerInch), origin
// top left. Font.Height is in dots too. LineTo draws the whole line.
class TPageCanvas {
public:
    virtual ~TPageCanvas() = default;
    TPen Pen;
    TBrush Brush;
    TFont Font;
    virtual int PageWidth() const = 0;
    virtual int PageHeight() const = 0;
    virtual int DotsPerInch() const = 0;
    void MoveTo(int X, int Y) { fPenPos = {X, Y}; }
    void LineTo(int X, int Y);
    // Filled with the brush, framed with the pen.
    virtual void Rectangle(int X1, int Y1, int X2, int Y2) = 0;
    // Filled with the brush, no frame.
    virtual void FillRect(const TRect& R) = 0;
    virtual void TextOut(int X, int Y, const UnicodeString& Text) = 0;
    virtual TPoint TextExtent(const UnicodeString& Text) const = 0;
    // A dot in C (the end of a line on the screen's canvas).
    void SetPixels(int X, int Y, TColor C);
    // Dots for a length in millimetres.
    int Mm(double Millimetres) const { return static_cast<int>(Millimetres * DotsPerInch() / 25.4 + 0.5); }

protected:
    virtual void Line(int X1, int Y1, int X2, int Y2) = 0;
    TPoint fPenPos;
};

using TPageDrawer = std::function<void(TPageCanvas&)>;

// The page as drawn, for tests: every operation with its place and colour.
class TRecordingPage : public TPageCanvas {
public:
    struct TOperation {
        enum class TKind { Line, Rectangle, Fill, Text } Kind;
        TRect Bounds;  // a line: its two ends as Left/Top and Right/Bottom
        TColor Color;
        UnicodeString Text;
    };
    // A4 landscape at 300 dpi.
    int PageWidth() const override { return 3508; }
    int PageHeight() const override { return 2480; }
    int DotsPerInch() const override { return 300; }
    void Rectangle(int X1, int Y1, int X2, int Y2) override;
    void FillRect(const TRect& R) override;
    void TextOut(int X, int Y, const UnicodeString& Text) override;
    TPoint TextExtent(const UnicodeString& Text) const override;
    std::vector<TOperation> Operations;

protected:
    void Line(int X1, int Y1, int X2, int Y2) override;
};

// One A4 landscape page as a PDF file, drawn at 720 dots per inch.
class TPdfPage : public TPageCanvas {
public:
    int PageWidth() const override { return 8419; }   // 297 mm
    int PageHeight() const override { return 5953; }  // 210 mm
    int DotsPerInch() const override { return 720; }
    void Rectangle(int X1, int Y1, int X2, int Y2) override;
    void FillRect(const TRect& R) override;
    void TextOut(int X, int Y, const UnicodeString& Text) override;
    TPoint TextExtent(const UnicodeString& Text) const override;
    // The whole file, with Title in its information.
    std::string Document(const UnicodeString& Title) const;

protected:
    void Line(int X1, int Y1, int X2, int Y2) override;

private:
    std::string fContent;
};

// Draws one page with Draw and writes it as a PDF file; raises EFCreateError.
void WritePdfFile(const UnicodeString& FileName, const UnicodeString& Title, const TPageDrawer& Draw);
