#include "app/spectrum/absorbance.h"

#include <algorithm>
#include <cmath>

int TRatioSpectrum::ValidCount() const
{
    return static_cast<int>(std::count(Faults.begin(), Faults.end(), TPixelFault::None));
}

TRatioSpectrum RatioSpectrum(TQuantity Quantity, const TCounts& Sample, const TCounts& Reference, const TCounts& Dark)
{
    const std::size_t n = std::min(Sample.size(), Reference.size());
    TRatioSpectrum r;
    r.Values.assign(n, 0.0);
    r.Faults.assign(n, TPixelFault::None);
    for (std::size_t i = 0; i < n; ++i) {
        const double s = Sample[i], ref = Reference[i], d = i < Dark.size() ? Dark[i] : 0.0;
        TPixelFault& fault = r.Faults[i];
        if (s >= SaturationCounts || ref >= SaturationCounts || d >= SaturationCounts)
            fault = TPixelFault::Saturated;
        else if (ref - d < MinReferenceLight)
            fault = TPixelFault::TooLittleLight;
        else if (Quantity == TQuantity::Absorbance && s - d <= 0)
            fault = TPixelFault::NoSignal;
        if (fault != TPixelFault::None) continue;
        const double t = (s - d) / (ref - d);
        r.Values[i] = Quantity == TQuantity::Absorbance ? -std::log10(t) : 100 * t;
    }
    return r;
}

std::optional<double> BandMean(const TRatioSpectrum& V, double Pixel, int Band)
{
    const long centre = std::lround(Pixel);
    double sum = 0;
    int n = 0;
    for (long p = centre - Band; p <= centre + Band; ++p) {
        if (p < 0 || p >= static_cast<long>(V.Values.size()) || !V.Valid(static_cast<std::size_t>(p))) continue;
        sum += V.Values[static_cast<std::size_t>(p)];
        ++n;
    }
    if (n == 0) return std::nullopt;
    return sum / n;
}

std::vector<TPixelRun> SaturatedRuns(const TCounts& Counts)
{
    std::vector<TPixelRun> runs;
    const int n = static_cast<int>(Counts.size());
    for (int i = 0; i < n; ++i) {
        if (Counts[static_cast<std::size_t>(i)] < SaturationCounts) continue;
        if (!runs.empty() && runs.back().Last == i - 1)
            runs.back().Last = i;
        else
            runs.push_back({i, i});
    }
    return runs;
}

namespace {

// The bands of one stretch of valid pixels, smoothed over three pixels so
// that noise makes no maxima of its own. Centre and height from a parabola
// through the top three points; the width between the crossings of half the
// height (the stretch's end where the band runs out of it).
void RunMaxima(const std::vector<double>& A, std::size_t From, double MinHeight, std::vector<TPeak>& Bands)
{
    const std::size_t n = A.size();
    std::vector<double> m(n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t l = i > 0 ? i - 1 : i, r = i + 1 < n ? i + 1 : i;
        m[i] = (A[l] + A[i] + A[r]) / 3;
    }
    const double top = n ? *std::max_element(m.begin(), m.end()) : 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (m[i] < MinHeight || (i > 0 && m[i - 1] >= m[i]) || (i + 1 < n && m[i + 1] > m[i])) continue;
        // It must stand out: the lowest point on each side before higher
        // ground (or the end), the higher of the two, is well below it.
        double leftLow = m[i], rightLow = m[i];
        bool leftSide = false, rightSide = false;
        for (std::size_t k = i; k > 0 && m[k - 1] <= m[i]; --k) {
            leftLow = std::min(leftLow, m[k - 1]);
            leftSide = true;
        }
        for (std::size_t k = i + 1; k < n && m[k] <= m[i]; ++k) {
            rightLow = std::min(rightLow, m[k]);
            rightSide = true;
        }
        const double valley = leftSide && rightSide ? std::max(leftLow, rightLow) : leftSide ? leftLow : rightLow;
        if (m[i] - valley < std::max(0.02, 0.1 * top) && (leftSide || rightSide)) continue;
        TPeak p;
        p.Index = static_cast<int>(From + i);
        p.Centre = static_cast<double>(i);
        p.Height = m[i];
        if (i > 0 && i + 1 < n) {
            const double curve = m[i - 1] - 2 * m[i] + m[i + 1];
            if (curve < 0) {
                const double delta = 0.5 * (m[i - 1] - m[i + 1]) / curve;
                p.Centre = static_cast<double>(i) + delta;
                p.Height = m[i] - 0.25 * (m[i - 1] - m[i + 1]) * delta;
            }
        }
        const double half = p.Height / 2;
        double left = 0, right = static_cast<double>(n - 1);
        for (std::size_t k = i; k > 0; --k)
            if (m[k - 1] <= half) {
                left = static_cast<double>(k) - (m[k] - half) / (m[k] - m[k - 1]);
                break;
            }
        for (std::size_t k = i; k + 1 < n; ++k)
            if (m[k + 1] <= half) {
                right = static_cast<double>(k) + (m[k] - half) / (m[k] - m[k + 1]);
                break;
            }
        p.Fwhm = right - left;
        p.Centre += static_cast<double>(From);
        Bands.push_back(p);
    }
}

}  // namespace

std::vector<TPeak> AbsorptionMaxima(const TRatioSpectrum& A, double MinHeight)
{
    std::vector<TPeak> bands;
    const std::size_t n = A.Values.size();
    for (std::size_t from = 0; from < n;) {
        if (!A.Valid(from)) {
            ++from;
            continue;
        }
        std::size_t to = from;
        while (to < n && A.Valid(to)) ++to;
        RunMaxima(
            {A.Values.begin() + static_cast<std::ptrdiff_t>(from), A.Values.begin() + static_cast<std::ptrdiff_t>(to)},
            from, MinHeight, bands);
        from = to;
    }
    std::stable_sort(bands.begin(), bands.end(), [](const TPeak& a, const TPeak& b) { return a.Height > b.Height; });
    return bands;
}
