#include "app/spectrum/elementid.h"

#include <algorithm>
#include <cmath>

namespace {

// Lines closer than this are one line for a school instrument.
constexpr double MergeNm = 1.0;
// A line at least this strong that is missing counts against its element.
constexpr double StrongLine = 0.3;

TElementScore ScoreElement(const char* Symbol, const std::vector<TMeasuredPeak>& Peaks, double FromNm, double ToNm,
                           double ResidualNm)
{
    TElementScore s;
    s.Symbol = Symbol;
    const std::vector<TResolvedLine> lines = ResolvedLines(Symbol, MergeNm, FromNm, ToNm);
    if (lines.empty() || Peaks.empty()) return s;
    std::vector<bool> explained(Peaks.size(), false);
    double weight = 0, matched = 0, missing = 0;
    for (const TResolvedLine& l : lines) {
        int best = -1;
        double bestDistance = 0;
        for (std::size_t i = 0; i < Peaks.size(); ++i) {
            const double d = std::abs(Peaks[i].Nm - l.Nm);
            const double tolerance = std::max(2.0, Peaks[i].FwhmNm / 2) + ResidualNm;
            if (d <= tolerance && (best < 0 || d < bestDistance)) {
                best = static_cast<int>(i);
                bestDistance = d;
            }
        }
        if (best >= 0) {
            explained[static_cast<std::size_t>(best)] = true;
            weight += l.Strength;
            matched += l.Strength;
            s.Matched.push_back({Peaks[static_cast<std::size_t>(best)].Nm, l.Nm});
        } else if (!l.Ion) {
            weight += l.Strength;
            if (l.Strength >= StrongLine) missing += l.Strength;
        }
    }
    double total = 0, covered = 0;
    for (std::size_t i = 0; i < Peaks.size(); ++i) {
        total += Peaks[i].Height;
        if (explained[i]) covered += Peaks[i].Height;
    }
    s.LineScore = weight > 0 ? (matched - missing) / weight : 0;
    s.Explained = total > 0 ? covered / total : 0;
    s.Score = (s.LineScore + s.Explained) / 2;
    std::sort(s.Matched.begin(), s.Matched.end(),
              [](const TLineMatch& a, const TLineMatch& b) { return a.TrueNm < b.TrueNm; });
    return s;
}

// The part of the peaks' height that the lines of either element explain.
double ExplainedTogether(const TElementScore& A, const TElementScore& B, const std::vector<TMeasuredPeak>& Peaks)
{
    double total = 0, covered = 0;
    for (const TMeasuredPeak& p : Peaks) {
        total += p.Height;
        const auto has = [&](const TElementScore& s) {
            return std::any_of(s.Matched.begin(), s.Matched.end(),
                               [&](const TLineMatch& m) { return m.MeasuredNm == p.Nm; });
        };
        if (has(A) || has(B)) covered += p.Height;
    }
    return total > 0 ? covered / total : 0;
}

}  // namespace

TIdentification IdentifyElements(const std::vector<TMeasuredPeak>& Peaks, double FromNm, double ToNm, double ResidualNm)
{
    TIdentification id;
    for (const TElementInfo& e : LibraryElements())
        id.Ranking.push_back(ScoreElement(e.Symbol, Peaks, FromNm, ToNm, ResidualNm));
    std::stable_sort(id.Ranking.begin(), id.Ranking.end(),
                     [](const TElementScore& a, const TElementScore& b) { return a.Score > b.Score; });
    const TElementScore& first = id.Ranking[0];
    // Its lines must explain most of the light, with two lines where it has two.
    const std::size_t lines = ResolvedLines(first.Symbol, MergeNm, FromNm, ToNm).size();
    if (first.Score < 0.4 || first.LineScore < 0.3 || first.Explained < 0.5 ||
        first.Matched.size() < std::min<std::size_t>(2, lines))
        return id;
    // A mixture: each element's lines are there, and together they explain
    // what neither explains alone.
    for (std::size_t k = 1; k < id.Ranking.size(); ++k) {
        const TElementScore& other = id.Ranking[k];
        if (other.LineScore < 0.6 || other.Score < 0.3 || other.Matched.size() < 2) continue;
        // Its lines must sit on the peaks, not merely within the tolerance of
        // broad bands (the phosphors of a fluorescent tube).
        double offset = 0;
        for (const TLineMatch& m : other.Matched) offset += std::abs(m.MeasuredNm - m.TrueNm);
        if (offset / static_cast<double>(other.Matched.size()) > 1.0 + ResidualNm) continue;
        const double together = ExplainedTogether(first, other, Peaks);
        if (first.Explained < 0.85 && together >= 0.85 && together - first.Explained >= 0.15) {
            id.Elements = {first.Symbol, other.Symbol};
            return id;
        }
    }
    if (id.Ranking.size() > 1 && id.Ranking[1].Score > first.Score - 0.1) return id;
    id.Elements = {first.Symbol};
    return id;
}

UnicodeString VerdictText(const TIdentification& Id)
{
    if (Id.Elements.empty()) return u"keine eindeutige Zuordnung";
    if (Id.Elements.size() == 1) return u"Wahrscheinlich: " + ElementName(Id.Elements[0]);
    return u"Wahrscheinlich: " + ElementName(Id.Elements[0]) + u" und " + ElementName(Id.Elements[1]) + u" (Gemisch)";
}

std::vector<TProposedLine> ProposeAssignments(std::string_view Element, const std::vector<TPeak>& Peaks,
                                              double MinSlope, double MaxSlope)
{
    constexpr std::size_t MaxPeaks = 14;
    std::vector<TResolvedLine> lines = ResolvedLines(Element, MergeNm, 300, 1100);
    std::vector<int> peaks;  // the highest peaks, by index
    for (std::size_t i = 0; i < Peaks.size(); ++i) peaks.push_back(static_cast<int>(i));
    std::sort(peaks.begin(), peaks.end(), [&](int a, int b) {
        return Peaks[static_cast<std::size_t>(a)].Height > Peaks[static_cast<std::size_t>(b)].Height;
    });
    if (peaks.size() > MaxPeaks) peaks.resize(MaxPeaks);
    const auto pixel = [&](int Peak) { return Peaks[static_cast<std::size_t>(Peak)].Centre; };

    // Every line through two peaks and two lines; each is judged by the
    // strength of the lines that its peaks land on (within 0.7 pixels: a
    // tolerance in nm would favour steep lines).
    struct TFit {
        double Slope = 0, Offset = 0, Value = -1, Error = 0;
        std::vector<TProposedLine> Pairs;
    };
    const auto judge = [&](double Slope, double Offset) {
        TFit f{Slope, Offset, 0, 0, {}};
        const double tolerance = std::max(0.5, 0.7 * std::abs(Slope));
        std::vector<bool> used(lines.size(), false);
        for (int p : peaks) {
            const double nm = Slope * pixel(p) + Offset;
            int best = -1;
            for (std::size_t j = 0; j < lines.size(); ++j)
                if (!used[j] && std::abs(lines[j].Nm - nm) <= tolerance &&
                    (best < 0 || std::abs(lines[j].Nm - nm) < std::abs(lines[static_cast<std::size_t>(best)].Nm - nm)))
                    best = static_cast<int>(j);
            if (best < 0) continue;
            used[static_cast<std::size_t>(best)] = true;
            f.Value += 1 + lines[static_cast<std::size_t>(best)].Strength;
            f.Error += std::abs(lines[static_cast<std::size_t>(best)].Nm - nm);
            f.Pairs.push_back({p, lines[static_cast<std::size_t>(best)].Nm});
        }
        return f;
    };
    TFit best;
    for (std::size_t a = 0; a < peaks.size(); ++a)
        for (std::size_t b = a + 1; b < peaks.size(); ++b) {
            const double dp = pixel(peaks[b]) - pixel(peaks[a]);
            if (std::abs(dp) < 1) continue;
            for (std::size_t j = 0; j < lines.size(); ++j)
                for (std::size_t k = 0; k < lines.size(); ++k) {
                    if (j == k) continue;
                    const double slope = (lines[k].Nm - lines[j].Nm) / dp;
                    if (std::abs(slope) < MinSlope || std::abs(slope) > MaxSlope) continue;
                    TFit f = judge(slope, lines[j].Nm - slope * pixel(peaks[a]));
                    if (f.Value > best.Value + 1e-9 || (std::abs(f.Value - best.Value) <= 1e-9 && f.Error < best.Error))
                        best = std::move(f);
                }
        }
    if (best.Pairs.size() < 2) return {};
    // Refined by least squares, against the lines as peaks of this width
    // show them (neighbours closer than the peaks are wide blend into one).
    std::vector<double> widths;
    for (int p : peaks) widths.push_back(Peaks[static_cast<std::size_t>(p)].Fwhm);
    std::nth_element(widths.begin(), widths.begin() + static_cast<std::ptrdiff_t>(widths.size() / 2), widths.end());
    const double blend = 0.8 * widths[widths.size() / 2] * std::abs(best.Slope);
    if (blend > MergeNm) lines = ResolvedLines(Element, blend, 300, 1100);
    TFit fit = best;
    for (int round = 0; round < 3; ++round) {
        std::vector<double> px, nm;
        for (const TProposedLine& p : fit.Pairs) {
            px.push_back(pixel(p.Peak));
            nm.push_back(p.Nm);
        }
        const TLineFit line = FitLine(px, nm);
        TFit next = judge(line.Slope, line.Offset);
        if (next.Pairs.size() < 2) break;
        fit = std::move(next);
    }
    std::vector<TProposedLine> pairs = fit.Pairs;
    std::sort(pairs.begin(), pairs.end(),
              [&](const TProposedLine& a, const TProposedLine& b) { return pixel(a.Peak) < pixel(b.Peak); });
    return pairs;
}
