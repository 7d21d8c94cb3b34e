#include "tools/spectrosim/instrument.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <random>

namespace spectrosim {

namespace {

struct TEmissionLine {
    double Nm;
    double Intensity;  // relative, 1 = about 750 counts at 10 ms
    double Width;      // Gaussian sigma in nm, instrument resolution included
};

// A fluorescent tube: the mercury lines at their wavelengths in air plus the
// rare-earth phosphor bands.
const TEmissionLine FluorescentLines[] = {
    {404.66, 0.30, 2.2}, {435.83, 0.55, 2.2}, {487.7, 0.22, 3.0}, {546.07, 1.00, 2.2}, {576.96, 0.20, 2.2},
    {579.07, 0.20, 2.2}, {587.6, 0.18, 3.0},  {611.6, 0.80, 2.6}, {631.0, 0.12, 3.0},  {650.0, 0.06, 3.0},
};
const TEmissionLine SodiumLines[] = {
    {498.3, 0.03, 2.2}, {568.8, 0.04, 2.2}, {589.0, 0.62, 2.4}, {589.6, 0.31, 2.4}, {615.4, 0.04, 2.2},
};
const TEmissionLine GreenLaserLines[] = {{532.0, 1.10, 1.6}};
const TEmissionLine RedLaserLines[] = {{655.0, 1.10, 1.6}};

template <std::size_t N>
double Emission(const TEmissionLine (&Lines)[N], double Nm)
{
    double sum = 0;
    for (const TEmissionLine& line : Lines) {
        const double d = (Nm - line.Nm) / line.Width;
        sum += line.Intensity * std::exp(-0.5 * d * d);
    }
    return sum;
}

// A tungsten-halogen bulb: a black body at about 3200 K, seen through a
// sensor whose response falls off towards both ends of its range. 1 at 600 nm
// before the response.
double HalogenEmission(double Nm)
{
    constexpr double Kelvin = 3200;
    constexpr double C2 = 1.4388e7;  // second radiation constant in nm K
    auto planck = [](double L) { return std::pow(L, -5.0) / std::expm1(C2 / (L * Kelvin)); };
    const double response = std::exp(-0.5 * std::pow((Nm - 545.0) / 150.0, 4));
    return planck(Nm) / planck(600.0) * response;
}

// The rows of the emission line library.
struct TLibraryRow {
    const char* Element;
    int Ion;  // 0 neutral, 1 singly ionised
    double Nm;
    double Intensity;
};
const TLibraryRow LibraryRows[] = {
#include "emission_lines.inc"
};

// A discharge tube of Element: each library line (the ion lines too where
// WithIons) a Gaussian of the instrument's width, with the library's relative
// intensity, scaled so that the brightest point within the sensor's range is 1.
class TDischargeTube {
public:
    TDischargeTube(const char* Element, bool WithIons)
    {
        for (const TLibraryRow& row : LibraryRows)
            if (std::string_view(row.Element) == Element && (WithIons || row.Ion == 0))
                fLines.push_back({row.Nm, row.Intensity, 2.2});
        double top = 0;
        for (double nm = 395; nm <= 685; nm += 0.05) top = std::max(top, Raw(nm));
        for (TEmissionLine& line : fLines) line.Intensity /= top;
    }
    double operator()(double Nm) const { return Raw(Nm); }

private:
    double Raw(double Nm) const
    {
        double sum = 0;
        for (const TEmissionLine& line : fLines) {
            const double d = (Nm - line.Nm) / line.Width;
            sum += line.Intensity * std::exp(-0.5 * d * d);
        }
        return sum;
    }
    std::vector<TEmissionLine> fLines;
};

double TubeEmission(TLamp Lamp, double Nm)
{
    static const TDischargeTube hydrogen("H", false), helium("He", false), neon("Ne", false), argon("Ar", true);
    switch (Lamp) {
    case TLamp::Hydrogen: return hydrogen(Nm);
    case TLamp::Helium: return helium(Nm);
    case TLamp::Neon: return neon(Nm);
    default: return argon(Nm);
    }
}

double LampEmission(TLamp Lamp, double Nm)
{
    switch (Lamp) {
    case TLamp::Fluorescent:
        // A faint phosphor continuum under the lines.
        return Emission(FluorescentLines, Nm) + 0.02;
    case TLamp::Sodium: return Emission(SodiumLines, Nm);
    case TLamp::GreenLaser: return Emission(GreenLaserLines, Nm);
    case TLamp::RedLaser: return Emission(RedLaserLines, Nm);
    case TLamp::Halogen: return HalogenEmission(Nm);
    case TLamp::Off: return 0;
    case TLamp::Hydrogen:
    case TLamp::Helium:
    case TLamp::Neon:
    case TLamp::Argon: return TubeEmission(Lamp, Nm);
    }
    return 0;
}

constexpr double DarkCounts = 18;
constexpr double DyePerMmolPerL = 0.8;  // the dye's absorbance at 590 nm per mmol/l
constexpr double CountsPerMs = 75;      // the default 10 ms exposure shows the lines unsaturated

void AppendInt(std::string& S, long long V)
{
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, V);
    S.append(buf, r.ptr);
}

}  // namespace

std::optional<TLamp> LampFromName(std::string_view Name)
{
    if (Name == "fluorescent") return TLamp::Fluorescent;
    if (Name == "sodium") return TLamp::Sodium;
    if (Name == "green-laser") return TLamp::GreenLaser;
    if (Name == "red-laser") return TLamp::RedLaser;
    if (Name == "halogen") return TLamp::Halogen;
    if (Name == "off") return TLamp::Off;
    if (Name == "hydrogen") return TLamp::Hydrogen;
    if (Name == "helium") return TLamp::Helium;
    if (Name == "neon") return TLamp::Neon;
    if (Name == "argon") return TLamp::Argon;
    return std::nullopt;
}

const char* LampName(TLamp Lamp)
{
    switch (Lamp) {
    case TLamp::Fluorescent: return "fluorescent";
    case TLamp::Sodium: return "sodium";
    case TLamp::GreenLaser: return "green-laser";
    case TLamp::RedLaser: return "red-laser";
    case TLamp::Halogen: return "halogen";
    case TLamp::Off: return "off";
    case TLamp::Hydrogen: return "hydrogen";
    case TLamp::Helium: return "helium";
    case TLamp::Neon: return "neon";
    case TLamp::Argon: return "argon";
    }
    return "?";
}

std::vector<std::string> LampNames()
{
    std::vector<std::string> names;
    for (TLamp l : {TLamp::Fluorescent, TLamp::Sodium, TLamp::GreenLaser, TLamp::RedLaser, TLamp::Halogen, TLamp::Off,
                    TLamp::Hydrogen, TLamp::Helium, TLamp::Neon, TLamp::Argon})
        names.push_back(LampName(l));
    return names;
}

namespace {

// A plain non-negative decimal: digits and a decimal point only, no sign,
// exponent, "inf" or "nan".
std::optional<double> PlainNumber(std::string_view Number)
{
    if (Number.empty() || !((Number[0] >= '0' && Number[0] <= '9') || Number[0] == '.')) return std::nullopt;
    double v = 0;
    const char* last = Number.data() + Number.size();
    auto r = std::from_chars(Number.data(), last, v, std::chars_format::fixed);
    if (r.ec != std::errc() || r.ptr != last || !std::isfinite(v)) return std::nullopt;
    return v;
}

std::string PlainText(double V)
{
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, V, std::chars_format::fixed);
    return std::string(buf, r.ptr);
}

}  // namespace

std::optional<TSample> SampleFromText(std::string_view Text)
{
    if (Text == "none") return TSample{};
    if (Text.substr(0, 5) == "fade:") {
        const std::string_view rest = Text.substr(5);
        const auto colon = rest.find(':');
        if (colon == std::string_view::npos) return std::nullopt;
        const auto a0 = PlainNumber(rest.substr(0, colon)), k = PlainNumber(rest.substr(colon + 1));
        if (!a0 || !k) return std::nullopt;
        TSample s;
        s.Kind = TSample::TKind::Fade;
        s.A0 = *a0;
        s.K = *k;
        return s;
    }
    constexpr std::string_view Dye = "dye:";
    if (Text.substr(0, Dye.size()) != Dye) return std::nullopt;
    const std::string_view number = Text.substr(Dye.size());
    // Digits and a decimal point only: no sign, exponent, "inf" or "nan".
    if (number.empty() || !((number[0] >= '0' && number[0] <= '9') || number[0] == '.')) return std::nullopt;
    double c = 0;
    const char* last = number.data() + number.size();
    auto r = std::from_chars(number.data(), last, c, std::chars_format::fixed);
    if (r.ec != std::errc() || r.ptr != last || !std::isfinite(c)) return std::nullopt;
    return TSample{TSample::TKind::Dye, c};
}

std::string SampleText(const TSample& Sample)
{
    if (Sample.Kind == TSample::TKind::None) return "none";
    if (Sample.Kind == TSample::TKind::Fade) return "fade:" + PlainText(Sample.A0) + ":" + PlainText(Sample.K);
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, Sample.Concentration, std::chars_format::fixed);
    return "dye:" + std::string(buf, r.ptr);
}

double SampleAbsorbance(const TSample& Sample, double Nm)
{
    if (Sample.Kind == TSample::TKind::None) return 0;
    constexpr double CentreNm = 590, FwhmNm = 90;
    const double d = (Nm - CentreNm) / FwhmNm;
    const double centre = Sample.Kind == TSample::TKind::Fade ? Sample.A0 : DyePerMmolPerL * Sample.Concentration;
    return centre * std::exp(-4 * std::log(2.0) * d * d);
}

TSample SampleAt(const TSample& Sample, double Seconds)
{
    if (Sample.Kind != TSample::TKind::Fade) return Sample;
    TSample dye;
    dye.Kind = TSample::TKind::Dye;
    dye.Concentration = Sample.A0 * std::exp(-Sample.K * Seconds) / DyePerMmolPerL;
    return dye;
}

double TInstrument::Now() const
{
    return fOptions.Clock ? fOptions.Clock()
                          : std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void TInstrument::SetSample(const TSample& Sample)
{
    fOptions.Sample = Sample;
    fSampleSince = Now();
}

double PixelWavelength(int Pixel) { return 400.0 + 2.2 * Pixel; }

int PixelOf(double Nm)
{
    const int p = static_cast<int>(std::lround((Nm - 400.0) / 2.2));
    return std::clamp(p, 0, Pixels - 1);
}

std::array<int, Pixels> CaptureSpectrum(TLamp Lamp, double ExposureUs, std::uint32_t Seed, std::uint32_t Run,
                                        double NoiseSigma, const TSample& Sample)
{
    // One generator per capture, seeded from the run, so a capture can be
    // recomputed by a test from its run number alone.
    std::mt19937 rng(Seed * 2654435761u + Run);
    std::normal_distribution<double> noise(0.0, 1.0);
    std::array<int, Pixels> counts{};
    for (int p = 0; p < Pixels; ++p) {
        const double nm = PixelWavelength(p);
        const double signal =
            LampEmission(Lamp, nm) * std::pow(10.0, -SampleAbsorbance(Sample, nm)) * CountsPerMs * ExposureUs / 1000.0;
        // Shot noise grows with the signal; the read noise is NoiseSigma.
        const double sigma = NoiseSigma > 0 ? std::sqrt(NoiseSigma * NoiseSigma + signal * 0.02) : 0;
        const double value = DarkCounts + signal + sigma * noise(rng);
        counts[static_cast<std::size_t>(p)] =
            static_cast<int>(std::clamp(std::lround(value), 0L, static_cast<long>(FullScale)));
    }
    return counts;
}

std::uint64_t LineTimeUs(std::size_t Bytes, std::uint32_t BaudRate, int BitsPerChar)
{
    if (BaudRate == 0) return 0;
    return static_cast<std::uint64_t>(Bytes) * static_cast<std::uint64_t>(BitsPerChar) * 1000000u / BaudRate;
}

TInstrument::TInstrument(const TInstrumentOptions& Options) : fOptions(Options), fExposureUs(Options.ExposureUs)
{
    fSampleSince = Now();
}

std::string TInstrument::TemperatureLine() const
{
    // A slow drift of a few hundredths of a degree between queries.
    double t = fOptions.Temperature + 0.12 * std::sin(fQueries * 0.9) + 0.01 * (fQueries % 3);
    t = std::clamp(t, 10.0, 99.999);
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, t, std::chars_format::fixed, 3);
    std::string line(buf, r.ptr);
    line += "C";
    return line;
}

void TInstrument::Receive(std::string_view Bytes, std::vector<std::string>& Replies)
{
    for (char c : Bytes) {
        if (c == '\r' || c == '\n') {
            if (!fLine.empty()) Command(fLine, Replies);
            fLine.clear();
        } else if (fLine.size() < 256) {
            fLine.push_back(c);
        }
    }
}

void TInstrument::Command(const std::string& Line, std::vector<std::string>& Replies)
{
    if (Line == "t") {
        Replies.push_back(TemperatureLine() + "\r\n");
        ++fQueries;
        return;
    }
    if (Line[0] != 's') return;
    if (Line.size() > 1) {
        double us = 0;
        const char* first = Line.data() + 1;
        const char* last = Line.data() + Line.size();
        auto r = std::from_chars(first, last, us);
        if (r.ec != std::errc() || r.ptr != last || !(us >= 0) || us > 1e9) return;  // not a capture command
        fExposureUs = static_cast<std::uint32_t>(std::lround(us));
    }
    ++fRun;
    std::string line = "CT:";
    AppendInt(line, fExposureUs);
    Replies.push_back(line + "\r\n");
    line = "RN:";
    AppendInt(line, fRun);
    Replies.push_back(line + "\r\n");
    const auto counts = CaptureSpectrum(fOptions.Lamp, fExposureUs, fOptions.Seed, fRun, fOptions.NoiseSigma,
                                        SampleAt(fOptions.Sample, Now() - fSampleSince));
    for (int p = 0; p < Pixels; ++p) {
        line.clear();
        AppendInt(line, p);
        line += ' ';
        AppendInt(line, counts[static_cast<std::size_t>(p)]);
        line += "\r\n";
        Replies.push_back(line);
    }
}

}  // namespace spectrosim
