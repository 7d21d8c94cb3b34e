// The simulated spectrometer: the instrument's side of the serial protocol.
//
// Commands from the host end with CR LF (a lone CR or LF is accepted too):
//   "t"        one temperature line, e.g. "23.456C" (six characters of degrees
//              Celsius, then "C")
//   "s<us>"    a capture with the given exposure in microseconds (a decimal
//   "s"        fraction is rounded); "s" alone repeats the last exposure.
//              Replies "CT:<us>", "RN:<run>" and 128 lines "<pixel> <count>".
// Anything else is ignored. Counts are dark signal plus the light source's
// spectrum, attenuated by the sample in the light path and scaled with the
// exposure, a little noise, saturating at 1023.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace spectrosim {

constexpr int Pixels = 128;
constexpr int FullScale = 1023;

// The discharge tubes (hydrogen, helium, neon, argon) shine the lines of the
// program's emission line library.
enum class TLamp { Fluorescent, Sodium, GreenLaser, RedLaser, Halogen, Off, Hydrogen, Helium, Neon, Argon };

// "fluorescent", "sodium", "green-laser", "red-laser", "halogen", "off",
// "hydrogen", "helium", "neon", "argon".
std::optional<TLamp> LampFromName(std::string_view Name);
const char* LampName(TLamp Lamp);
// Every light source's name, the default (TInstrumentOptions) first.
std::vector<std::string> LampNames();

// What stands in the light path: nothing, or a cuvette of a dye solution with
// one broad absorption band (Gaussian, centre 590 nm, FWHM 90 nm, decadic
// absorbance 0.8 per mmol/l at the centre). A fading dye has the absorbance
// A0 e^(-K t) at 590 nm, t in seconds since it was put in.
struct TSample {
    enum class TKind { None, Dye, Fade };
    TKind Kind = TKind::None;
    double Concentration = 0;  // mmol/l
    double A0 = 0, K = 0;      // a fading dye
    bool operator==(const TSample&) const = default;
};

// "none", "dye:C" with C in mmol/l, or "fade:A0:K" (K per second); plain
// non-negative decimals ("0.25").
std::optional<TSample> SampleFromText(std::string_view Text);
// The form SampleFromText reads.
std::string SampleText(const TSample& Sample);
// The sample's decadic absorbance at a wavelength in nm (a fading dye: as
// it is put in).
double SampleAbsorbance(const TSample& Sample, double Nm);
// A fading dye as it is Seconds after it was put in: a dye of that
// concentration; other samples as they are.
TSample SampleAt(const TSample& Sample, double Seconds);

struct TInstrumentOptions {
    TLamp Lamp = TLamp::Fluorescent;
    TSample Sample;
    std::uint32_t Seed = 1;
    double NoiseSigma = 2.0;          // counts
    double Temperature = 23.5;        // degrees Celsius at start
    std::uint32_t ExposureUs = 1000;  // used by "s" before any exposure was given
    // Seconds on the clock that fading samples follow (default: steady time).
    std::function<double()> Clock;
};

// The instrument's own dispersion: wavelength in nm at a pixel.
double PixelWavelength(int Pixel);
// The pixel whose wavelength is nearest to Nm.
int PixelOf(double Nm);

// The counts of one capture. Deterministic for equal arguments.
std::array<int, Pixels> CaptureSpectrum(TLamp Lamp, double ExposureUs, std::uint32_t Seed, std::uint32_t Run,
                                        double NoiseSigma, const TSample& Sample = {});

class TInstrument {
public:
    explicit TInstrument(const TInstrumentOptions& Options = {});

    // Bytes from the host. Complete commands are answered: their reply lines
    // (each ending in CR LF) are appended to Replies.
    void Receive(std::string_view Bytes, std::vector<std::string>& Replies);

    void SetLamp(TLamp Lamp) { fOptions.Lamp = Lamp; }
    TLamp Lamp() const { return fOptions.Lamp; }
    // A fading sample starts to fade now.
    void SetSample(const TSample& Sample);
    const TSample& Sample() const { return fOptions.Sample; }
    std::uint32_t Runs() const { return fRun; }
    // The temperature line the next "t" answers with (without CR LF).
    std::string TemperatureLine() const;

private:
    void Command(const std::string& Line, std::vector<std::string>& Replies);
    double Now() const;
    TInstrumentOptions fOptions;
    std::string fLine;
    std::uint32_t fRun = 0;
    std::uint32_t fQueries = 0;
    std::uint32_t fExposureUs;
    double fSampleSince = 0;
};

// Time the reply bytes take on a line at BaudRate (start, 8 data, stop bit),
// in microseconds.
std::uint64_t LineTimeUs(std::size_t Bytes, std::uint32_t BaudRate, int BitsPerChar = 10);

}  // namespace spectrosim
