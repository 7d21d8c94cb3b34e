// The spectrum window's plot: axes with ticks and labels, grid, curves,
// peak marks, legend and cross-hair, drawn on a canvas.
#pragma once

#include "toolkit/graphics.h"
#include "toolkit/printing.h"

#include <vector>

// Ticks at 1, 2 or 5 times a power of ten inside [Lo, Hi], at most about
// MaxTicks of them.
std::vector<double> AxisTicks(double Lo, double Hi, int MaxTicks);

// The data area inside the picture and the value range it shows.
struct TPlotFrame {
    TRect Area;             // pixels; right and bottom edge excluded
    double X0 = 0, X1 = 1;  // x range shown
    double Y0 = 0, Y1 = 1024;
    double Unit = 1;  // dots per screen pixel: a page's frame scales its margins and marks
    int U(int Pixels) const { return static_cast<int>(Pixels * Unit + 0.5); }
    int XPixel(double X) const;
    int YPixel(double Y) const;
    double XValue(int Px) const;
    double YValue(int Py) const;
    bool Contains(int Px, int Py) const;
};
// The frame for a W x H picture with room for the tick labels.
TPlotFrame PlotFrame(int W, int H, double X0, double X1, double Y0 = 0, double Y1 = 1024);
// The frame in Box (of a page), its margins and marks scaled by Unit.
TPlotFrame PlotFrameIn(const TRect& Box, double X0, double X1, double Y0, double Y1, double Unit);

struct TPlotCurve {
    std::vector<double> X;
    std::vector<double> Y;
    TColor Color = clRed;
    UnicodeString Name;  // in the legend (none when empty)
};
struct TPlotMark {
    double X = 0, Y = 0;
    UnicodeString Label;
};

// A known line drawn at its wavelength: a stroke up from the bottom of the
// data area, Length (0..1) of the way to the top, with a cap of the element's
// Shape (0..3); labelled when Hover is set or when its label has room.
struct TLineMarker {
    double X = 0;
    double Length = 0;
    TColor Color = clBlack;
    int Shape = 0;
    UnicodeString Label;
    bool Hover = false;
};

struct TPlotScene {
    UnicodeString XTitle;
    UnicodeString YTitle;  // at the top left of the data area
    std::vector<TPlotCurve> Curves;
    std::vector<TPlotMark> Marks;
    // Stretches of x shaded as a warning (saturated pixels) and points marked in them.
    std::vector<std::pair<double, double>> AlertBands;
    std::vector<std::pair<double, double>> AlertPoints;
    std::vector<TLineMarker> LineMarkers;
    // Measured points, each a small filled square.
    struct TDot {
        double X = 0, Y = 0;
        TColor Color = clBlue;
    };
    std::vector<TDot> Dots;
    // The x axis in nm: a band of the spectral colours along the bottom of the
    // data area, and the area under curve FillCurve (-1: none) in them.
    bool Rainbow = false;
    int FillCurve = -1;
    // Cross-hair at a picture pixel (none when negative) and a zoom band
    // being dragged (none when equal).
    TPoint Cross{-1, -1};
    int BandFrom = 0, BandTo = 0;
};

void DrawPlot(TCanvas& Canvas, int W, int H, const TPlotFrame& Frame, const TPlotScene& Scene);
// The same on a page, in Box.
void DrawPlot(TPageCanvas& Canvas, const TRect& Box, const TPlotFrame& Frame, const TPlotScene& Scene);
