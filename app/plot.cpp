#include "app/plot.h"

#include <cmath>

int RoundHalfEven(double Value)
{
    const double lower = std::floor(Value);
    const double fraction = Value - lower;
    double r;
    if (fraction > 0.5)
        r = lower + 1;
    else if (fraction < 0.5)
        r = lower;
    else
        r = std::fmod(lower, 2.0) == 0 ? lower : lower + 1;
    return static_cast<int>(r);
}

namespace {
int CountY(std::int32_t Count, int H) { return RoundHalfEven((1 - Count / 1024.0) * H); }
int PositionX(int Position, int W) { return RoundHalfEven(Position / 127.0 * W); }
}  // namespace

TSpectrumPlot ComputeSpectrumPlot(const std::array<std::int32_t, SpectrumPoints>& Counts, int W, int H)
{
    TSpectrumPlot plot;
    plot.Start = {0, CountY(Counts[0], H)};
    for (int i = 0; i < SpectrumPoints; ++i) {
        const std::int32_t count = Counts[static_cast<std::size_t>(i)];
        plot.Points[static_cast<std::size_t>(i)] = {PositionX(i, W), CountY(count, H)};
        if (count > plot.Max) {
            plot.Max = count;
            plot.Peak = i;
        }
    }
    plot.MarkerX = PositionX(plot.Peak, W);
    return plot;
}

UnicodeString PeakMessage(const TSpectrumPlot& Plot) { return IntToStr(Plot.Peak) + u";" + IntToStr(Plot.Max); }
