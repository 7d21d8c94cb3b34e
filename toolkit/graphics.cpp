// Colours, bitmaps, the canvas and a PNG writer.
#include "toolkit/graphics.h"

#include "toolkit/pngencode.h"

#include <algorithm>
#include <array>
#include <cstdlib>

namespace {

TSystemColorResolver& Resolver()
{
    static TSystemColorResolver R;
    return R;
}

TTextRenderer& Renderer()
{
    static TTextRenderer R;
    return R;
}

TTextMeasurer& Measurer()
{
    static TTextMeasurer M;
    return M;
}

std::uint32_t ToPixel(TColor C)
{
    C = ColorToRGB(C);
    return static_cast<std::uint32_t>(GetRValue(C)) << 16 | static_cast<std::uint32_t>(GetGValue(C)) << 8 |
           static_cast<std::uint32_t>(GetBValue(C));
}

}  // namespace

TColor ClassicSystemColor(int Index)
{
    switch (Index) {
    case 5: return clWhite;  // COLOR_WINDOW
    case 8:
    case 18: return clBlack;  // COLOR_WINDOWTEXT, COLOR_BTNTEXT
    case 15:
    case 19: return RGB(212, 208, 200);  // COLOR_BTNFACE, COLOR_INACTIVECAPTIONTEXT
    default: return RGB(192, 192, 192);
    }
}

TColor ColorToRGB(TColor C)
{
    if (!IsSystemColor(C)) return C & 0xFFFFFF;
    const int Index = static_cast<int>(C & 0xFF);
    if (Resolver()) return Resolver()(Index);
    return ClassicSystemColor(Index);
}

void SetSystemColorResolver(TSystemColorResolver R) { Resolver() = std::move(R); }

void SetTextRenderer(TTextRenderer R) { Renderer() = std::move(R); }

void SetTextMeasurer(TTextMeasurer M) { Measurer() = std::move(M); }

TPoint MeasureText(const UnicodeString& Text, const TFont& Font)
{
    if (Measurer()) return Measurer()(Text, Font);
    // Without a backend: an average character of about half the height.
    const int CharWidth = std::max(1, (Font.Height * 6 + 5) / 11);
    return {static_cast<int>(Text.size()) * CharWidth, Font.Height + 2};
}

// ---------------------------------------------------------------------------
// TBitmap

void TBitmap::SetSize(int W, int H, TColor Fill)
{
    fWidth = std::max(0, W);
    fHeight = std::max(0, H);
    fPixels.assign(static_cast<std::size_t>(fWidth) * fHeight, ToPixel(Fill));
}

TColor TBitmap::Pixel(int X, int Y) const
{
    if (X < 0 || Y < 0 || X >= fWidth || Y >= fHeight) return clBlack;
    const std::uint32_t P = fPixels[static_cast<std::size_t>(Y) * fWidth + X];
    return RGB(static_cast<int>(P >> 16), static_cast<int>(P >> 8), static_cast<int>(P));
}

void TBitmap::SetPixel(int X, int Y, TColor C)
{
    if (X < 0 || Y < 0 || X >= fWidth || Y >= fHeight) return;
    fPixels[static_cast<std::size_t>(Y) * fWidth + X] = ToPixel(C);
}

bool TBitmap::SaveToPngFile(const UnicodeString& FileName) const
{
    std::vector<std::uint8_t> rgb;
    rgb.reserve(static_cast<std::size_t>(fHeight) * 3 * static_cast<std::size_t>(fWidth));
    for (int Y = 0; Y < fHeight; ++Y)
        for (int X = 0; X < fWidth; ++X) {
            const std::uint32_t P = Scanline(Y)[X];
            rgb.push_back(static_cast<std::uint8_t>((P >> 16) & 0xFF));
            rgb.push_back(static_cast<std::uint8_t>((P >> 8) & 0xFF));
            rgb.push_back(static_cast<std::uint8_t>(P & 0xFF));
        }
    const std::string png = EncodePng(rgb.data(), fWidth, fHeight);
    if (png.empty()) return false;
    try {
        WriteFileBytes(FileName, png);
    } catch (const Exception&) {
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// TCanvas

void TCanvas::Changed()
{
    if (OnChange) OnChange(this);
}

void TCanvas::Plot(int X, int Y, TColor C) { fBitmap.SetPixel(X, Y, C); }

void TCanvas::MoveTo(int X, int Y) { fPenPos = {X, Y}; }

void TCanvas::LineTo(int X, int Y)
{
    // Bresenham from the pen position; the end point is not drawn.
    int X0 = fPenPos.X, Y0 = fPenPos.Y;
    const int Dx = std::abs(X - X0), Sx = X0 < X ? 1 : -1;
    const int Dy = -std::abs(Y - Y0), Sy = Y0 < Y ? 1 : -1;
    int Err = Dx + Dy;
    while (X0 != X || Y0 != Y) {
        Plot(X0, Y0, Pen.Color);
        const int E2 = 2 * Err;
        if (E2 >= Dy) {
            Err += Dy;
            X0 += Sx;
        }
        if (E2 <= Dx) {
            Err += Dx;
            Y0 += Sy;
        }
    }
    fPenPos = {X, Y};
    Changed();
}

void TCanvas::Rectangle(int X1, int Y1, int X2, int Y2)
{
    if (X2 < X1) std::swap(X1, X2);
    if (Y2 < Y1) std::swap(Y1, Y2);
    for (int Y = std::max(Y1, 0); Y < std::min(Y2, fBitmap.Height()); ++Y)
        for (int X = std::max(X1, 0); X < std::min(X2, fBitmap.Width()); ++X) {
            const bool Border = X == X1 || X == X2 - 1 || Y == Y1 || Y == Y2 - 1;
            Plot(X, Y, Border ? Pen.Color : Brush.Color);
        }
    Changed();
}

void TCanvas::FillRect(const TRect& R)
{
    for (int Y = std::max(R.Top, 0); Y < std::min(R.Bottom, fBitmap.Height()); ++Y)
        for (int X = std::max(R.Left, 0); X < std::min(R.Right, fBitmap.Width()); ++X) Plot(X, Y, Brush.Color);
    Changed();
}

void TCanvas::TextOut(int X, int Y, const UnicodeString& Text)
{
    if (Renderer()) Renderer()(fBitmap, X, Y, Text, Font);
    fPenPos = {X + TextExtent(Text).X, Y};
    Changed();
}

void TCanvas::SetPixels(int X, int Y, TColor C)
{
    Plot(X, Y, C);
    Changed();
}
