#include "app/spectrum/linelibrary.h"

#include <algorithm>

const std::vector<TLibraryLine>& LibraryLines()
{
    struct TRow {
        const char* Element;
        int Ion;
        double Nm;
        double Intensity;
    };
    static const TRow rows[] = {
#include "emission_lines.inc"
    };
    static const std::vector<TLibraryLine> lines = [] {
        std::vector<TLibraryLine> v;
        for (const TRow& r : rows) v.push_back({r.Element, r.Ion != 0, r.Nm, r.Intensity});
        return v;
    }();
    return lines;
}

const std::vector<TElementInfo>& LibraryElements()
{
    static const std::vector<TElementInfo> elements = {
        {"H", u"Wasserstoff"}, {"He", u"Helium"},      {"Ne", u"Neon"},    {"Ar", u"Argon"}, {"Kr", u"Krypton"},
        {"Xe", u"Xenon"},      {"Hg", u"Quecksilber"}, {"Na", u"Natrium"}, {"Zn", u"Zink"},
    };
    return elements;
}

UnicodeString ElementName(std::string_view Symbol)
{
    for (const TElementInfo& e : LibraryElements())
        if (Symbol == e.Symbol) return e.Name;
    return Utf8ToUnicode(std::string(Symbol));
}

std::vector<TResolvedLine> ResolvedLines(std::string_view Symbol, double ResolutionNm, double FromNm, double ToNm)
{
    std::vector<TLibraryLine> lines;
    for (const TLibraryLine& l : LibraryLines())
        if (Symbol == l.Element && l.Nm >= FromNm && l.Nm <= ToNm) lines.push_back(l);
    std::sort(lines.begin(), lines.end(), [](const TLibraryLine& a, const TLibraryLine& b) { return a.Nm < b.Nm; });
    // Neighbours closer than the resolution become one line.
    std::vector<TResolvedLine> merged;
    double weighted = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const TLibraryLine& l = lines[i];
        if (i > 0 && l.Nm - lines[i - 1].Nm < ResolutionNm) {
            TResolvedLine& m = merged.back();
            weighted += l.Nm * l.Intensity;
            m.Strength += l.Intensity;
            m.Nm = weighted / m.Strength;
            m.Ion = m.Ion && l.Ion;
        } else {
            weighted = l.Nm * l.Intensity;
            merged.push_back({l.Nm, l.Intensity, l.Ion});
        }
    }
    double top = 0;
    for (const TResolvedLine& m : merged) top = std::max(top, m.Strength);
    for (TResolvedLine& m : merged) m.Strength /= top;
    std::stable_sort(merged.begin(), merged.end(),
                     [](const TResolvedLine& a, const TResolvedLine& b) { return a.Strength > b.Strength; });
    return merged;
}

const std::vector<TReferenceLine>& ReferenceLines()
{
    static const std::vector<TReferenceLine> lines = [] {
        std::vector<TReferenceLine> v;
        for (const TElementInfo& e : LibraryElements())
            for (const TResolvedLine& l : ResolvedLines(e.Symbol, 0.1, 0, 10000))
                v.push_back({Utf8ToUnicode(e.Symbol), l.Nm, e.Symbol});
        for (const auto& [name, nm] : {std::pair{u"HeNe", 632.82}, std::pair{u"Laser grün", 532.0},
                                       std::pair{u"Laser rot", 650.0}, std::pair{u"Laser rot", 655.0}})
            v.push_back({name, nm, ""});
        return v;
    }();
    return lines;
}
