// Writes a small picture with known pixels for the independent PNG reader.
#include "toolkit/graphics.h"

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) return 2;
    TBitmap b;
    b.SetSize(37, 21, clWhite);
    TCanvas c(b);
    c.Pen.Color = clRed;
    c.MoveTo(0, 0);
    c.LineTo(37, 0);
    c.Brush.Color = RGB(10, 200, 30);
    c.FillRect({5, 5, 20, 15});
    b.SetPixel(36, 20, RGB(1, 2, 3));
    return b.SaveToPngFile(Utf8ToUnicode(argv[1])) ? 0 : 1;
}
