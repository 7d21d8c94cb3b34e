// PDF files read by Debian's poppler-utils (an independent reader): their
// text, and whether a rectangle's frame is drawn where a layout put it.
#pragma once

#include "toolkit/graphics.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

// What pdftotext reads from the file ("" when it cannot).
inline std::string PdfText(const std::filesystem::path& Pdf)
{
    std::string text;
    if (FILE* p = ::popen(("pdftotext -layout '" + Pdf.string() + "' - 2>/dev/null").c_str(), "r")) {
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
        ::pclose(p);
    }
    return text;
}

// The page rendered by pdftoppm at 72 dpi (1 pixel per point), grey levels.
struct TRenderedPage {
    int Width = 0, Height = 0;
    std::vector<unsigned char> Grey;
    int At(int X, int Y) const
    {
        return X < 0 || Y < 0 || X >= Width || Y >= Height ? 255 : Grey[static_cast<std::size_t>(Y) * Width + X];
    }
};

inline bool RenderPdf(const std::filesystem::path& Pdf, TRenderedPage& Page)
{
    const std::filesystem::path pgm = Pdf.string() + ".pgm";
    if (std::system(("pdftoppm -r 72 -gray -singlefile '" + Pdf.string() + "' '" + Pdf.string() + "'").c_str()) != 0)
        return false;
    std::ifstream in(pgm, std::ios::binary);
    std::string magic;
    int max = 0;
    in >> magic >> Page.Width >> Page.Height >> max;
    in.get();
    if (magic != "P5" || max != 255) return false;
    Page.Grey.resize(static_cast<std::size_t>(Page.Width) * Page.Height);
    in.read(reinterpret_cast<char*>(Page.Grey.data()), static_cast<std::streamsize>(Page.Grey.size()));
    std::filesystem::remove(pgm);
    return static_cast<bool>(in);
}

// The share of a rectangle's top, left and right edges (in points, the middle
// 80 % of each) that is dark within a point of where it should be.
inline double FrameDrawn(const TRenderedPage& Page, const TRect& R)
{
    int dark = 0, all = 0;
    const auto near = [&](int X, int Y, bool Horizontal) {
        for (int d = -1; d <= 1; ++d)
            if (Page.At(Horizontal ? X : X + d, Horizontal ? Y + d : Y) < 128) return true;
        return false;
    };
    for (int x = R.Left + R.Width() / 10; x < R.Right - R.Width() / 10; ++x, ++all) dark += near(x, R.Top, true);
    for (int y = R.Top + R.Height() / 10; y < R.Bottom - R.Height() / 10; ++y, all += 2)
        dark += near(R.Left, y, false) + near(R.Right, y, false);
    return all ? static_cast<double>(dark) / all : 0;
}
