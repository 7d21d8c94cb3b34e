// Colours, fonts, bitmaps and the canvas that draws on them.
//
// A bitmap keeps its pixels in the toolkit object (0x00RRGGBB, row by row), so
// what is drawn can be read back in tests whatever backend shows it; a backend
// only copies the pixels onto the screen.
#pragma once

#include "toolkit/classes.h"

#ifdef _WIN32
// windows.h first, so that its macros of the same names are gone for good; the
// functions below give the same values.
#include <winapi.h>
#undef RGB
#undef GetRValue
#undef GetGValue
#undef GetBValue
#undef TextOut
#endif

#include <cstdint>
#include <functional>
#include <vector>

// A colour as the runtime stores it: 0x00BBGGRR, or a system colour
// (0x80000000 | the Win32 COLOR_ index).
using TColor = std::uint32_t;

constexpr TColor RGB(int R, int G, int B)
{
    return static_cast<TColor>((R & 0xFF) | ((G & 0xFF) << 8) | ((B & 0xFF) << 16));
}
constexpr int GetRValue(TColor C) { return static_cast<int>(C & 0xFF); }
constexpr int GetGValue(TColor C) { return static_cast<int>((C >> 8) & 0xFF); }
constexpr int GetBValue(TColor C) { return static_cast<int>((C >> 16) & 0xFF); }

constexpr TColor clBlack = RGB(0, 0, 0), clWhite = RGB(255, 255, 255), clRed = RGB(255, 0, 0), clLime = RGB(0, 255, 0),
                 clBlue = RGB(0, 0, 255), clNavy = RGB(0, 0, 128), clMaroon = RGB(128, 0, 0), clGreen = RGB(0, 128, 0),
                 clGray = RGB(128, 128, 128), clSilver = RGB(192, 192, 192), clYellow = RGB(255, 255, 0);
// System colours.
constexpr TColor clSystemColor = 0x80000000;
constexpr TColor clWindow = clSystemColor | 5, clWindowText = clSystemColor | 8, clBtnFace = clSystemColor | 15,
                 clBtnText = clSystemColor | 18, clInactiveCaptionText = clSystemColor | 19;
// "Not set": the control takes its parent's / the system's colour.
constexpr TColor clDefault = 0x20000000;

inline bool IsSystemColor(TColor C) { return (C & clSystemColor) != 0; }
// The RGB value of a colour; system colours through the installed resolver
// (a backend installs the platform's; the default is the classic scheme).
TColor ColorToRGB(TColor C);
using TSystemColorResolver = std::function<TColor(int Index)>;
// The classic scheme's value of a system colour index (COLOR_WINDOW, ...).
TColor ClassicSystemColor(int Index);
void SetSystemColorResolver(TSystemColorResolver Resolver);

enum class TFontStyle { fsBold, fsItalic, fsUnderline, fsStrikeOut };
using enum TFontStyle;
using TFontStyles = TSet<TFontStyle>;

// A font: face name, height in pixels, style, colour.
struct TFont {
    TFont() = default;
    TFont(UnicodeString AName, int AHeight) : Name(std::move(AName)), Height(AHeight) {}
    UnicodeString Name = u"MS Sans Serif";
    int Height = 11;
    TFontStyles Style;
    TColor Color = clWindowText;
    bool operator==(const TFont&) const = default;
};

struct TPoint {
    int X = 0;
    int Y = 0;
    bool operator==(const TPoint&) const = default;
};

struct TRect {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    bool operator==(const TRect&) const = default;
};

// Pixels in memory, 0x00RRGGBB each, rows top to bottom.
class TBitmap : public TObject {
public:
    int Width() const { return fWidth; }
    int Height() const { return fHeight; }
    bool Empty() const { return fWidth == 0 || fHeight == 0; }
    // New size; the pixels are filled with Fill.
    void SetSize(int W, int H, TColor Fill = clWhite);
    // The pixel as a TColor (clBlack outside the bitmap).
    TColor Pixel(int X, int Y) const;
    void SetPixel(int X, int Y, TColor C);
    const std::uint32_t* Scanline(int Y) const { return fPixels.data() + static_cast<std::size_t>(Y) * fWidth; }
    std::uint32_t* Scanline(int Y) { return fPixels.data() + static_cast<std::size_t>(Y) * fWidth; }
    // Writes a PNG file (RGB, no compression); false when it cannot be written.
    bool SaveToPngFile(const UnicodeString& FileName) const;

private:
    int fWidth = 0;
    int fHeight = 0;
    std::vector<std::uint32_t> fPixels;
};

// Draws text into a bitmap (a backend installs one; without it TextOut draws
// nothing). Draws at X, Y (top left of the text) in Font, clipped to the bitmap.
using TTextRenderer = std::function<void(TBitmap& Bitmap, int X, int Y, const UnicodeString& Text, const TFont& Font)>;
void SetTextRenderer(TTextRenderer Renderer);
// Measures text in Font (a backend installs a measurer; the default estimates).
using TTextMeasurer = std::function<TPoint(const UnicodeString& Text, const TFont& Font)>;
void SetTextMeasurer(TTextMeasurer Measurer);
TPoint MeasureText(const UnicodeString& Text, const TFont& Font);

struct TPen {
    TColor Color = clBlack;
};
struct TBrush {
    TColor Color = clWhite;
};

// Drawing on a bitmap with the Win32 rules: Rectangle fills the inside with the
// brush and frames it with the pen, right and bottom edge excluded; LineTo
// draws from the pen position up to, not including, the end point; everything
// is clipped to the bitmap. OnChange fires after each drawing operation.
class TCanvas : public TObject {
public:
    explicit TCanvas(TBitmap& Bitmap) : fBitmap(Bitmap) {}
    TPen Pen;
    TBrush Brush;
    TFont Font;
    TPoint PenPos() const { return fPenPos; }

    void MoveTo(int X, int Y);
    void LineTo(int X, int Y);
    void Rectangle(int X1, int Y1, int X2, int Y2);
    void FillRect(const TRect& R);
    void TextOut(int X, int Y, const UnicodeString& Text);
    TPoint TextExtent(const UnicodeString& Text) const { return MeasureText(Text, Font); }
    TColor Pixels(int X, int Y) const { return fBitmap.Pixel(X, Y); }
    void SetPixels(int X, int Y, TColor C);

    TNotifyEvent OnChange;

private:
    void Changed();
    void Plot(int X, int Y, TColor C);
    TBitmap& fBitmap;
    TPoint fPenPos;
};
