// Transmittance and absorbance against a blank, and the exposure assistant
// on a synthetic instrument.
#include "app/spectrum/absorbance.h"
#include "app/spectrum/exposureassistant.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

TEST(Absorbance, KnownValuesAndEveryInvalidPixel)
{
    // Pixels: plain, half light, no dark, too little light, saturated S, R and
    // D, and S at or below dark.
    const TCounts s = {510, 260, 100, 25, 1023, 500, 500, 20, 15};
    const TCounts r = {1010, 1010, 1000, 28, 900, 1023, 900, 900, 900};
    const TCounts d = {10, 10, 0, 20, 10, 10, 1023, 20, 20};
    const TRatioSpectrum t = RatioSpectrum(TQuantity::Transmittance, s, r, d);
    const TRatioSpectrum a = RatioSpectrum(TQuantity::Absorbance, s, r, d);
    EXPECT_DOUBLE_EQ(t.Values[0], 50);
    EXPECT_DOUBLE_EQ(a.Values[0], std::log10(2.0));
    EXPECT_DOUBLE_EQ(t.Values[1], 25);
    EXPECT_NEAR(a.Values[1], std::log10(4.0), 1e-12);
    EXPECT_DOUBLE_EQ(t.Values[2], 10);
    EXPECT_NEAR(a.Values[2], 1, 1e-12);
    const TPixelFault faults[] = {TPixelFault::TooLittleLight, TPixelFault::Saturated, TPixelFault::Saturated,
                                  TPixelFault::Saturated};
    for (std::size_t i = 3; i < 7; ++i) {
        EXPECT_EQ(t.Faults[i], faults[i - 3]) << i;
        EXPECT_EQ(a.Faults[i], faults[i - 3]) << i;
    }
    // S - D <= 0: a transmittance of 0 % (or less), but no absorbance.
    EXPECT_TRUE(t.Valid(7));
    EXPECT_DOUBLE_EQ(t.Values[7], 0);
    EXPECT_EQ(a.Faults[7], TPixelFault::NoSignal);
    EXPECT_EQ(a.Faults[8], TPixelFault::NoSignal);
    EXPECT_EQ(a.ValidCount(), 3);
    for (double v : a.Values) EXPECT_TRUE(std::isfinite(v));
    // Without a dark spectrum D = 0.
    EXPECT_DOUBLE_EQ(RatioSpectrum(TQuantity::Transmittance, {300}, {600}, {}).Values[0], 50);
}

TEST(Absorbance, StoredSpectraBelongToTheirExposure)
{
    const TStoredSpectrum reference{{500, 500}, 10000, u"10:00:00"};
    EXPECT_TRUE(SameExposure(reference, 10000));
    EXPECT_FALSE(SameExposure(reference, 5000));
}

TEST(Absorbance, SaturatedRunsAndAbsorptionMaxima)
{
    const auto runs = SaturatedRuns({10, 1023, 1023, 500, 1030, 10});
    ASSERT_EQ(runs.size(), 2U);
    EXPECT_DOUBLE_EQ(runs[0].Middle(), 1.5);
    EXPECT_EQ(runs[1].First, 4);

    // A band at pixel 40.3 (sigma 6 pixels, A = 0.8) behind a gap of invalid pixels.
    TRatioSpectrum a;
    for (int p = 0; p < 128; ++p) {
        const double x = (p - 40.3) / 6;
        a.Values.push_back(0.8 * std::exp(-0.5 * x * x) + 0.01);
        a.Faults.push_back(p < 5 ? TPixelFault::TooLittleLight : TPixelFault::None);
    }
    const auto bands = AbsorptionMaxima(a, 0.1);
    ASSERT_EQ(bands.size(), 1U);
    EXPECT_NEAR(bands[0].Centre, 40.3, 0.05);
    EXPECT_NEAR(bands[0].Height, 0.81, 0.01);
    EXPECT_NEAR(bands[0].Fwhm, 6 * 2.3548, 0.4);
}

// A linear sensor: dark plus light per millisecond, full at 1023.
struct TSyntheticInstrument {
    double CountsPerMs;
    double Max(double Ms) const { return std::min(1023.0, 18 + CountsPerMs * Ms); }
};

int CapturesToWindow(const TSyntheticInstrument& I, double StartMs, TAssistantResult& Result, double& Ms)
{
    TExposureAssistant assistant(0.1, 30, 0.1);
    Ms = StartMs;
    while ((Result = assistant.Captured(Ms, I.Max(Ms))) == TAssistantResult::Capture) {
        EXPECT_GE(assistant.Exposure(), 0.1);
        EXPECT_LE(assistant.Exposure(), 30);
        Ms = assistant.Exposure();
    }
    return assistant.Captures();
}

TEST(ExposureAssistant, StepRuleReachesTheWindowInSixCaptures)
{
    EXPECT_DOUBLE_EQ(NextExposureMs(10, 1023), 5);
    EXPECT_DOUBLE_EQ(NextExposureMs(1, 20), 5);        // at most x5 up
    EXPECT_DOUBLE_EQ(NextExposureMs(10, 1000), 8.25);  // proportional
    TAssistantResult result;
    double ms = 0;
    for (const double rate : {30.0, 80.0, 300.0})
        for (const double start : {0.1, 10.0, 30.0}) {
            const int captures = CapturesToWindow({rate}, start, result, ms);
            EXPECT_EQ(result, TAssistantResult::Done) << rate << " counts/ms from " << start << " ms";
            EXPECT_LE(captures, AssistantMaxCaptures);
            EXPECT_GE(TSyntheticInstrument{rate}.Max(ms), AssistantTargetLow);
            EXPECT_LE(TSyntheticInstrument{rate}.Max(ms), AssistantTargetHigh);
        }
    // Too little light even at 30 ms; saturated even at the shortest exposure.
    EXPECT_LE(CapturesToWindow({10}, 10, result, ms), AssistantMaxCaptures);
    EXPECT_EQ(result, TAssistantResult::TooDark);
    EXPECT_DOUBLE_EQ(ms, 30);
    EXPECT_LE(CapturesToWindow({50000}, 0.4, result, ms), AssistantMaxCaptures);
    EXPECT_EQ(result, TAssistantResult::TooBright);
}

}  // namespace
