// The simulated instrument: its replies are what the program's interpreter reads.
#include "app/acquisition.h"
#include "tools/spectrosim/instrument.h"
#include "tools/spectrosim/virtual_instrument.h"
#include "platform/posix/virtual_port.h"
#include "tests/support/fake_view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>

#include <winapi.h>

using namespace spectrosim;

namespace {

std::string Join(const std::vector<std::string>& Lines)
{
    std::string s;
    for (const auto& l : Lines) s += l;
    return s;
}

void Interpret(const std::string& Bytes, TFakeView& V)
{
    FrameReceivedBytes(reinterpret_cast<const std::uint8_t*>(Bytes.data()), static_cast<std::uint32_t>(Bytes.size()),
                       [&](const UnicodeString& L) { InterpretReplyLine(L, V); });
}

TEST(Simulator, RepliesAreReadByTheInterpreter)
{
    ResetAcquisitionState();
    FormatSettings.DecimalSeparator = u'.';
    TInstrument sim;
    TFakeView v;
    v.Exposure = u"1";
    std::vector<std::string> replies;

    sim.Receive("t\r\n", replies);
    ASSERT_EQ(replies.size(), 1u);
    v.Command = u"t";
    Interpret(Join(replies), v);
    EXPECT_EQ(v.Celsius.size(), 6u);
    EXPECT_FALSE(v.Fahrenheit.empty());
    EXPECT_EQ(v.Command, u"s1000");

    replies.clear();
    sim.Receive("s1500.4\r", replies);  // a lone CR ends a command too
    ASSERT_EQ(replies.size(), 2u + Pixels);
    EXPECT_EQ(replies[0], "CT:1500\r\n");
    EXPECT_EQ(replies[1], "RN:1\r\n");
    v.Command = u"s1500.4";
    Interpret(Join(replies), v);
    EXPECT_EQ(CaptureTime, 1500);
    EXPECT_EQ(v.List.size(), static_cast<std::size_t>(Pixels));
    EXPECT_EQ(v.Completed, 1);
    const auto expected = CaptureSpectrum(TLamp::Fluorescent, 1500, 1, 1, 2.0);
    for (int i = 0; i < Pixels; ++i) EXPECT_EQ(Counts[i], expected[i]);

    // "s" alone repeats the exposure; other text is ignored.
    replies.clear();
    sim.Receive("s\r\nx\r\ns12a\r\nT\r\n", replies);
    ASSERT_EQ(replies.size(), 2u + Pixels);
    EXPECT_EQ(replies[0], "CT:1500\r\n");
    EXPECT_EQ(replies[1], "RN:2\r\n");
}

TEST(Simulator, SpectraScaleWithExposureAndSaturate)
{
    const auto dim = CaptureSpectrum(TLamp::Fluorescent, 100, 3, 1, 0);
    const auto bright = CaptureSpectrum(TLamp::Fluorescent, 1000, 3, 1, 0);
    const auto burnt = CaptureSpectrum(TLamp::Fluorescent, 30000, 3, 1, 0);
    const int hg = PixelOf(546.1);
    EXPECT_GT(bright[hg], 5 * (dim[hg] - 18));
    EXPECT_LT(bright[hg], FullScale);
    EXPECT_EQ(burnt[hg], FullScale);
    for (int c : burnt) EXPECT_LE(c, FullScale);
    // The sodium doublet dominates its lamp's spectrum.
    const auto na = CaptureSpectrum(TLamp::Sodium, 1000, 3, 1, 2);
    int peak = 0;
    for (int i = 1; i < Pixels; ++i)
        if (na[i] > na[peak]) peak = i;
    EXPECT_NEAR(PixelWavelength(peak), 589.3, 2.2);
    // Noise: two runs differ a little, equal runs are equal.
    EXPECT_EQ(CaptureSpectrum(TLamp::Sodium, 1000, 3, 1, 2), na);
    EXPECT_NE(CaptureSpectrum(TLamp::Sodium, 1000, 3, 2, 2), na);
}

TEST(Simulator, HalogenIsAnUnsaturatedContinuumAndOffIsDark)
{
    const auto halogen = CaptureSpectrum(TLamp::Halogen, 10000, 5, 1, 2.0);
    for (int p = 0; p < Pixels; ++p) {
        EXPECT_LT(halogen[p], FullScale) << p;
        if (PixelWavelength(p) < 440 || PixelWavelength(p) > 650) continue;
        EXPECT_GE(halogen[p] - 18, 150) << PixelWavelength(p);
        EXPECT_LE(halogen[p] - 18, 950) << PixelWavelength(p);
    }
    // No lines: neighbouring pixels differ little; the light scales with the exposure.
    const auto clean = CaptureSpectrum(TLamp::Halogen, 10000, 5, 1, 0);
    const auto half = CaptureSpectrum(TLamp::Halogen, 5000, 5, 1, 0);
    for (int p = 1; p < Pixels; ++p) EXPECT_LE(std::abs(clean[p] - clean[p - 1]), 20) << p;
    const int centre = PixelOf(590);
    EXPECT_NEAR(2.0 * (half[centre] - 18), clean[centre] - 18, 2.0);

    const auto off = CaptureSpectrum(TLamp::Off, 10000, 5, 1, 2.0);
    double sum = 0;
    for (int c : off) {
        sum += c;
        EXPECT_LE(std::abs(c - 18), 10);
    }
    EXPECT_NEAR(sum / Pixels, 18.0, 0.6);
}

TEST(Simulator, DyeAbsorbanceFollowsBeerLambert)
{
    const auto dark = CaptureSpectrum(TLamp::Off, 10000, 1, 1, 0);
    const auto reference = CaptureSpectrum(TLamp::Halogen, 10000, 1, 1, 0);
    for (double c : {0.5, 1.0}) {
        const auto sample = CaptureSpectrum(TLamp::Halogen, 10000, 1, 1, 0, {TSample::TKind::Dye, c});
        auto absorbance = [&](double Nm) {
            const int p = PixelOf(Nm);
            return std::log10(double(reference[p] - dark[p]) / (sample[p] - dark[p]));
        };
        const double centre = absorbance(590);
        EXPECT_NEAR(centre, 0.8 * c, 0.01) << c;
        // A broad band: half the centre's absorbance 45 nm either side, none far off.
        EXPECT_NEAR(absorbance(545) / centre, 0.5, 0.05) << c;
        EXPECT_NEAR(absorbance(635) / centre, 0.5, 0.05) << c;
        EXPECT_NEAR(absorbance(450), 0.0, 0.01) << c;
    }

    // The instrument captures through the sample it was given.
    const TSample dye{TSample::TKind::Dye, 0.5};
    TInstrumentOptions options;
    options.Lamp = TLamp::Halogen;
    TInstrument sim(options);
    sim.SetSample(dye);
    std::vector<std::string> replies;
    sim.Receive("s10000\r\n", replies);
    ASSERT_EQ(replies.size(), 2u + Pixels);
    const auto expected = CaptureSpectrum(TLamp::Halogen, 10000, options.Seed, 1, options.NoiseSigma, dye);
    const int p = PixelOf(590);
    EXPECT_EQ(replies[2 + p], std::to_string(p) + " " + std::to_string(expected[p]) + "\r\n");

    // A fading dye, on the instrument's clock: A0 e^(-K t) from when it was put in.
    double now = 100;
    options.Clock = [&] { return now; };
    TInstrument fading(options);
    fading.SetSample(*SampleFromText("fade:1.2:0.05"));
    now += 20;
    replies.clear();
    fading.Receive("s10000\r\n", replies);
    const auto faded = CaptureSpectrum(TLamp::Halogen, 10000, options.Seed, 1, options.NoiseSigma,
                                       {TSample::TKind::Dye, 1.2 * std::exp(-0.05 * 20) / 0.8});
    EXPECT_EQ(replies[2 + p], std::to_string(p) + " " + std::to_string(faded[p]) + "\r\n");
}

TEST(Simulator, LampAndSampleNames)
{
    const auto names = LampNames();
    for (const char* n : {"halogen", "off"}) EXPECT_NE(std::find(names.begin(), names.end(), n), names.end()) << n;
    for (const auto& n : names) {
        const auto lamp = LampFromName(n);
        ASSERT_TRUE(lamp) << n;
        EXPECT_EQ(LampName(*lamp), n);
    }

    const auto dye = SampleFromText("dye:0.5");
    ASSERT_TRUE(dye);
    EXPECT_EQ(dye->Kind, TSample::TKind::Dye);
    EXPECT_EQ(dye->Concentration, 0.5);
    EXPECT_EQ(SampleText(*dye), "dye:0.5");
    const auto none = SampleFromText("none");
    ASSERT_TRUE(none);
    EXPECT_EQ(none->Kind, TSample::TKind::None);
    EXPECT_EQ(SampleText(*none), "none");
    for (const char* bad : {"dye:", "dye:-1", "dye:abc", "foo", "dye:0,5", "dye:1e2", "dye:inf", "dye: 1", "dye:1x"})
        EXPECT_FALSE(SampleFromText(bad)) << bad;
}

// A host on the virtual port, through the Win32 calls: the reply to a capture
// arrives at the line's pace, or at once when pacing is off.
double CaptureSeconds(bool Paced, std::string& Received)
{
    TVirtualInstrument sim(u"", {}, Paced);
    const std::u16string name = u"\\\\?\\" + sim.ComName();
    HANDLE h = CreateFileW(reinterpret_cast<LPCWSTR>(name.c_str()), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return -1;
    COMMTIMEOUTS t{};
    t.ReadTotalTimeoutConstant = 200;
    SetCommTimeouts(h, &t);
    DWORD n = 0;
    const auto start = std::chrono::steady_clock::now();
    WriteFile(h, "s1000\r\n", 7, &n, nullptr);
    char buf[512];
    while (Received.size() < 1200 && std::chrono::steady_clock::now() - start < std::chrono::seconds(5)) {
        if (!ReadFile(h, buf, sizeof buf, &n, nullptr)) break;
        Received.append(buf, n);
        if (Received.find("127 ") != std::string::npos && Received.size() > 2 && Received.back() == '\n') break;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    CloseHandle(h);
    return seconds;
}

TEST(Simulator, VirtualPortRepliesArePacedAtTheBaudRate)
{
    std::vector<std::string> replies;
    TInstrument reference;
    reference.Receive("s1000\r\n", replies);
    const std::string expected = Join(replies);

    std::string fast, paced;
    const double fastSeconds = CaptureSeconds(false, fast);
    const double pacedSeconds = CaptureSeconds(true, paced);
    ASSERT_GE(fastSeconds, 0);
    EXPECT_EQ(fast, expected);
    EXPECT_EQ(paced, expected);
    // 10 bits per byte at 9600 baud.
    EXPECT_GT(pacedSeconds, 0.8 * expected.size() / 960.0);
    EXPECT_LT(fastSeconds, 0.5);
}

}  // namespace
