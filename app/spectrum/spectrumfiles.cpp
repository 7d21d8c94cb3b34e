#include "app/spectrum/spectrumfiles.h"

#include "toolkit/classes.h"

#include <charconv>

TSpectrumTable MakeTable(const TCounts& Counts, const TCounts& Std, const TWavelengthScale& Scale)
{
    TSpectrumTable t;
    t.Counts = Counts;
    t.Std = Std;
    t.Calibrated = Scale.Calibrated();
    for (std::size_t p = 0; p < Counts.size(); ++p) t.X.push_back(Scale.At(static_cast<double>(p)));
    return t;
}

TSpectrumTable MakeRatioTable(TQuantity Quantity, const TRatioSpectrum& Ratio, const TWavelengthScale& Scale)
{
    TSpectrumTable t = MakeTable(Ratio.Values, {}, Scale);
    t.Quantity = Quantity;
    for (std::size_t p = 0; p < Ratio.Values.size(); ++p) t.Valid.push_back(Ratio.Valid(p));
    return t;
}

std::string NumberText(double V)
{
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, V);
    return std::string(buf, r.ptr);
}

std::string CsvText(const TSpectrumTable& T)
{
    const bool withStd = !T.Std.empty();
    std::string s = T.Calibrated ? "wavelength_nm," : "pixel,";
    s += T.Quantity == TQuantity::Transmittance ? "transmittance_percent"
         : T.Quantity == TQuantity::Absorbance  ? "absorbance"
                                                : "counts";
    s += withStd ? ",std\n" : "\n";
    for (std::size_t i = 0; i < T.X.size(); ++i) {
        s += NumberText(T.X[i]) + "," + (T.IsValid(i) ? NumberText(T.Counts[i]) : "");
        if (withStd) s += "," + NumberText(i < T.Std.size() ? T.Std[i] : 0.0);
        s += "\n";
    }
    return s;
}

namespace {

// The rest of a transmittance or absorbance file: the valid points as (XY..XY).
std::string RatioJcampPoints(const TSpectrumTable& T)
{
    const bool transmittance = T.Quantity == TQuantity::Transmittance;
    std::string s = transmittance ? "##YUNITS=TRANSMITTANCE\n" : "##YUNITS=ABSORBANCE\n";
    for (const std::string& note : T.Notes) s += note + "\n";
    std::string points;
    std::size_t n = 0;
    double first = 0, last = 0;
    for (std::size_t i = 0; i < T.X.size(); ++i) {
        if (!T.IsValid(i)) continue;
        if (n++ == 0) first = T.X[i];
        last = T.X[i];
        points += NumberText(T.X[i]) + ", " + NumberText(transmittance ? T.Counts[i] / 100 : T.Counts[i]) + "\n";
    }
    s += "##XFACTOR=1\n##YFACTOR=1\n";
    s += "##NPOINTS=" + std::to_string(n) + "\n";
    if (n > 0) s += "##FIRSTX=" + NumberText(first) + "\n##LASTX=" + NumberText(last) + "\n";
    s += "##XYPOINTS=(XY..XY)\n" + points + "##END=\n";
    return s;
}

}  // namespace

std::string JcampText(const TSpectrumTable& T, const UnicodeString& Title)
{
    std::string s;
    s += "##TITLE=" + ToUtf8(Title) + "\n";
    s += "##JCAMP-DX=4.24\n";
    s += "##DATA TYPE=UV/VIS SPECTRUM\n";
    s += "##ORIGIN=Spektrometer\n";
    s += "##OWNER=\n";
    s += T.Calibrated ? "##XUNITS=NANOMETERS\n" : "##XUNITS=PIXEL\n";
    if (T.Quantity != TQuantity::Counts) return s + RatioJcampPoints(T);
    s += "##YUNITS=COUNTS\n";
    s += "##XFACTOR=1\n##YFACTOR=1\n";
    s += "##NPOINTS=" + std::to_string(T.X.size()) + "\n";
    if (!T.X.empty()) {
        s += "##FIRSTX=" + NumberText(T.X.front()) + "\n";
        s += "##LASTX=" + NumberText(T.X.back()) + "\n";
        const double step = T.X.size() > 1 ? (T.X.back() - T.X.front()) / static_cast<double>(T.X.size() - 1) : 1;
        s += "##DELTAX=" + NumberText(step) + "\n";
    }
    // One point per line: its x and y (the x scale is linear in the pixel).
    s += "##XYDATA=(X++(Y..Y))\n";
    for (std::size_t i = 0; i < T.X.size(); ++i) s += NumberText(T.X[i]) + " " + NumberText(T.Counts[i]) + "\n";
    s += "##END=\n";
    return s;
}

void WriteCsvFile(const UnicodeString& FileName, const TSpectrumTable& T) { WriteFileBytes(FileName, CsvText(T)); }

void WriteJcampFile(const UnicodeString& FileName, const TSpectrumTable& T, const UnicodeString& Title)
{
    WriteFileBytes(FileName, JcampText(T, Title));
}

TOverlay ReadSpectrumFile(const UnicodeString& FileName)
{
    TStringList lines;
    lines.LoadFromFile(FileName);
    TFormatSettings dot;
    dot.DecimalSeparator = u'.';
    TOverlay o;
    o.Name = ExtractFileName(FileName);
    constexpr int HeaderLines = 5;
    for (int i = HeaderLines; i < lines.Count(); ++i) {
        const UnicodeString line = lines[i];
        if (line.empty()) continue;
        const auto space = line.find(u' ');
        if (space == UnicodeString::npos)
            throw EConvertError(Format(u"Zeile %d von %s ist kein Messpunkt: '%s'", {i + 1, o.Name, line}));
        o.Nm.push_back(StrToFloat(line.substr(0, space), dot));
        o.Counts.push_back(StrToFloat(line.substr(space + 1), dot));
    }
    return o;
}
