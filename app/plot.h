// Geometry of the spectrum plot and the peak search, free of any GUI.
#pragma once

#include <array>
#include <cstdint>

#include "app/acquisition.h"

struct TPlotPoint {
    int X = 0;
    int Y = 0;
    bool operator==(const TPlotPoint&) const = default;
};

struct TSpectrumPlot {
    TPlotPoint Start;                               // where the red line starts
    std::array<TPlotPoint, SpectrumPoints> Points;  // line-to targets, arrival order
    int Peak = 0;                                   // first arrival position of the highest count
    int Max = -5;                                   // that count (-5 when none exceeds it)
    int MarkerX = 0;                                // x of the peak marker
};

// Rounds to the nearest integer, halves to the even neighbour.
int RoundHalfEven(double Value);

// Polyline and peak of Counts on a W x H bitmap: arrival position 0..127 over
// the full width, counts on a fixed full scale of 1024 (0 at y = H).
TSpectrumPlot ComputeSpectrumPlot(const std::array<std::int32_t, SpectrumPoints>& Counts, int W, int H);

// The peak message of a calibration scan, e.g. "57;1000".
UnicodeString PeakMessage(const TSpectrumPlot& Plot);
