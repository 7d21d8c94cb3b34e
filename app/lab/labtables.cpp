#include "app/lab/labtables.h"

#include <charconv>
#include <cmath>

namespace {

std::string Number(double V)
{
    if (!std::isfinite(V)) return "";
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, V);
    return std::string(buf, r.ptr);
}

std::string Field(const UnicodeString& S)
{
    std::string u = ToUtf8(S);
    if (u.find_first_of(",\"\r\n") == std::string::npos) return u;
    std::string q = "\"";
    for (char c : u) q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
}

// The fields of one CSV line (quotes as RFC 4180 has them).
std::vector<std::string> Fields(const std::string& Line)
{
    std::vector<std::string> f(1);
    bool quoted = false;
    for (std::size_t i = 0; i < Line.size(); ++i) {
        const char c = Line[i];
        if (quoted) {
            if (c == '"' && i + 1 < Line.size() && Line[i + 1] == '"') {
                f.back() += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                f.back() += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            f.emplace_back();
        } else {
            f.back() += c;
        }
    }
    return f;
}

double ReadNumber(const std::string& S, int Line)
{
    double v = 0;
    const char* end = S.data() + S.size();
    const auto r = std::from_chars(S.data(), end, v);
    if (S.empty() || r.ec != std::errc() || r.ptr != end || !std::isfinite(v))
        throw EConvertError(Format(u"Zeile %d: '%s' ist keine Zahl.", {Line, Utf8ToUnicode(S)}));
    return v;
}

}  // namespace

std::string SeriesCsv(const std::vector<TSeriesRow>& Rows)
{
    std::string s = "kind,name,concentration,absorbance\n";
    for (const TSeriesRow& r : Rows)
        s += std::string(r.Sample ? "sample," : "standard,") + Field(r.Name) + "," + Number(r.Concentration) + "," +
             Number(r.Absorbance) + "\n";
    return s;
}

std::vector<TSeriesRow> ReadSeriesCsv(const std::string& Text)
{
    std::vector<TSeriesRow> rows;
    std::size_t from = 0;
    int line = 0;
    while (from < Text.size()) {
        std::size_t to = Text.find('\n', from);
        if (to == std::string::npos) to = Text.size();
        std::string l = Text.substr(from, to - from);
        from = to + 1;
        ++line;
        if (!l.empty() && l.back() == '\r') l.pop_back();
        if (line == 1 && l.rfind("\xEF\xBB\xBF", 0) == 0) l.erase(0, 3);
        if (l.empty()) continue;
        const std::vector<std::string> f = Fields(l);
        if (line == 1) {
            if (l != "kind,name,concentration,absorbance")
                throw EConvertError(u"Zeile 1: die Kopfzeile \"kind,name,concentration,absorbance\" fehlt.");
            continue;
        }
        if (f.size() != 4 || (f[0] != "standard" && f[0] != "sample"))
            throw EConvertError(Format(u"Zeile %d: keine Zeile der Tabelle: '%s'", {line, Utf8ToUnicode(l)}));
        if (f[0] == "sample") continue;
        rows.push_back({false, Utf8ToUnicode(f[1]), ReadNumber(f[2], line), ReadNumber(f[3], line)});
    }
    return rows;
}

std::string KineticsCsv(const TKineticsTable& T)
{
    std::string s = "time_s";
    for (const UnicodeString& c : T.Columns) s += "," + ToUtf8(c);
    s += "\n";
    for (std::size_t i = 0; i < T.Times.size(); ++i) {
        s += Number(T.Times[i]);
        for (const std::vector<double>& column : T.Values) s += "," + (i < column.size() ? Number(column[i]) : "");
        s += "\n";
    }
    return s;
}
