#include "app/spectrum/spectrumanalysis.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double FwhmPerSigma = 2.3548200450309493;  // 2 sqrt(2 ln 2)

// The valleys beside the peak at Index: walking down each side while the
// counts do not rise.
std::pair<int, int> Valleys(const TCounts& C, int Index)
{
    int l = Index, r = Index;
    while (l > 0 && C[static_cast<std::size_t>(l - 1)] <= C[static_cast<std::size_t>(l)]) --l;
    const int last = static_cast<int>(C.size()) - 1;
    while (r < last && C[static_cast<std::size_t>(r + 1)] <= C[static_cast<std::size_t>(r)]) ++r;
    return {l, r};
}

// Where the counts cross Level between the peak and the valley in direction
// Step, interpolated between samples.
double HalfCrossing(const TCounts& C, int Index, int Valley, int Step, double Level)
{
    for (int i = Index; i != Valley; i += Step) {
        const double a = C[static_cast<std::size_t>(i)], b = C[static_cast<std::size_t>(i + Step)];
        if (b <= Level) return i + Step * (a - Level) / (a - b);
    }
    return Valley;
}

}  // namespace

TPeak FitPeak(const TCounts& C, int Index)
{
    TPeak p;
    p.Index = Index;
    p.Centre = Index;
    const double top = C.at(static_cast<std::size_t>(Index));
    p.Height = top;
    const auto [left, right] = Valleys(C, Index);
    const double base = std::min(C[static_cast<std::size_t>(left)], C[static_cast<std::size_t>(right)]);
    if (Index == 0 || Index + 1 >= static_cast<int>(C.size()) || top <= base) return p;
    const double y1 = C[static_cast<std::size_t>(Index - 1)] - base, y2 = top - base,
                 y3 = C[static_cast<std::size_t>(Index + 1)] - base;
    // Three or more equal samples at the top: a flat (saturated) peak.
    int end = Index;
    while (end < right && C[static_cast<std::size_t>(end + 1)] == top) ++end;
    if (y1 > 0 && y3 > 0 && end - Index < 2) {
        const double l1 = std::log(y1), l2 = std::log(y2), l3 = std::log(y3);
        const double curve = l1 - 2 * l2 + l3;
        if (curve < 0) {
            const double delta = 0.5 * (l1 - l3) / curve;
            if (std::abs(delta) <= 1) {
                p.Centre = Index + delta;
                p.Height = base + std::exp(l2 - 0.25 * (l1 - l3) * delta);
                p.Fwhm = FwhmPerSigma * std::sqrt(-1 / curve);
                return p;
            }
        }
    }
    // Flat or saturated top: the middle between the half-height crossings.
    const double half = base + y2 / 2;
    const double from = HalfCrossing(C, Index, left, -1, half), to = HalfCrossing(C, end, right, 1, half);
    p.Centre = (from + to) / 2;
    p.Fwhm = to - from;
    return p;
}

int HighestSample(const TCounts& C)
{
    if (C.empty()) return -1;
    return static_cast<int>(std::max_element(C.begin(), C.end()) - C.begin());
}

std::vector<TPeak> FindPeaks(const TCounts& C, double Threshold, double MinProminence)
{
    std::vector<TPeak> peaks;
    if (C.empty()) return peaks;
    const double floor = *std::min_element(C.begin(), C.end());
    const int n = static_cast<int>(C.size());
    for (int i = 0; i < n; ++i) {
        const double v = C[static_cast<std::size_t>(i)];
        // A maximum: higher than the left neighbour, not lower than the right
        // (a plateau counts once, at its first sample).
        if (v < Threshold || (i > 0 && C[static_cast<std::size_t>(i - 1)] >= v) ||
            (i + 1 < n && C[static_cast<std::size_t>(i + 1)] > v))
            continue;
        const auto [left, right] = Valleys(C, i);
        const double prominence = v - std::max(C[static_cast<std::size_t>(left)], C[static_cast<std::size_t>(right)]);
        if (prominence < std::max(MinProminence, 0.05 * (v - floor)) && !(left == 0 && right == n - 1)) continue;
        peaks.push_back(FitPeak(C, i));
    }
    std::stable_sort(peaks.begin(), peaks.end(), [](const TPeak& a, const TPeak& b) { return a.Height > b.Height; });
    return peaks;
}

TLineFit FitLine(const std::vector<double>& X, const std::vector<double>& Y)
{
    const std::size_t n = std::min(X.size(), Y.size());
    double mx = 0, my = 0;
    for (std::size_t i = 0; i < n; ++i) {
        mx += X[i];
        my += Y[i];
    }
    mx /= static_cast<double>(n ? n : 1);
    my /= static_cast<double>(n ? n : 1);
    double sxx = 0, sxy = 0;
    for (std::size_t i = 0; i < n; ++i) {
        sxx += (X[i] - mx) * (X[i] - mx);
        sxy += (X[i] - mx) * (Y[i] - my);
    }
    if (n < 2 || sxx == 0)
        throw Exception(u"Für die Eichung sind mindestens zwei Linien an verschiedenen Pixeln nötig.");
    TLineFit fit;
    fit.Slope = sxy / sxx;
    fit.Offset = my - fit.Slope * mx;
    for (std::size_t i = 0; i < n; ++i) fit.Residuals.push_back(Y[i] - (fit.Slope * X[i] + fit.Offset));
    return fit;
}

TAverage AverageSpectra(const std::vector<TCounts>& Spectra)
{
    if (Spectra.empty()) throw Exception(u"Keine Aufnahme zum Mitteln.");
    const std::size_t len = Spectra.front().size();
    for (const TCounts& s : Spectra)
        if (s.size() != len) throw Exception(u"Die Aufnahmen sind verschieden lang.");
    const double n = static_cast<double>(Spectra.size());
    TAverage a{TCounts(len, 0.0), TCounts(len, 0.0)};
    for (std::size_t p = 0; p < len; ++p) {
        double sum = 0;
        for (const TCounts& s : Spectra) sum += s[p];
        const double mean = sum / n;
        double sq = 0;
        for (const TCounts& s : Spectra) sq += (s[p] - mean) * (s[p] - mean);
        a.Mean[p] = mean;
        a.Std[p] = Spectra.size() > 1 ? std::sqrt(sq / (n - 1)) : 0.0;
    }
    return a;
}

TCounts SubtractDark(const TCounts& Counts, const TCounts& Dark)
{
    TCounts out = Counts;
    for (std::size_t p = 0; p < out.size() && p < Dark.size(); ++p) out[p] -= Dark[p];
    return out;
}
