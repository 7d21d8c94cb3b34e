// Element identification and line assignment on peaks built from the line
// library and on the simulated neon tube; the colours of the rainbow.
#include "app/spectrum/elementid.h"
#include "app/spectrum/spectralcolour.h"
#include "tools/spectrosim/instrument.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// The peaks a 3 nm instrument shows of an element between From and To: its
// resolved lines, each shifted by up to Shift nm, height by strength.
std::vector<TMeasuredPeak> PeaksOf(const char* Element, double Shift, double From = 380, double To = 780,
                                   double Scale = 1000)
{
    std::vector<TMeasuredPeak> peaks;
    int k = 0;
    for (const TResolvedLine& l : ResolvedLines(Element, 3, From, To)) {
        if (l.Ion || l.Strength < 0.05) continue;
        const double shift = Shift * ((k++ % 3) - 1);  // -Shift, 0, +Shift in turn
        peaks.push_back({l.Nm + shift, Scale * l.Strength, 5});
    }
    return peaks;
}

TEST(ElementIdentification, EachElementFromItsOwnShiftedLines)
{
    for (const char* e : {"H", "He", "Ne", "Ar", "Kr", "Hg", "Na", "Zn"}) {
        const TIdentification id = IdentifyElements(PeaksOf(e, 1.5), 380, 780, 0);
        ASSERT_EQ(id.Elements.size(), 1U) << e << ": " << ToUtf8(VerdictText(id));
        EXPECT_EQ(id.Elements[0], e);
    }
    // Within the simulator's range too, and hydrogen is not helium.
    EXPECT_EQ(VerdictText(IdentifyElements(PeaksOf("H", 1.5, 400, 680), 400, 680, 0)), u"Wahrscheinlich: Wasserstoff");
    EXPECT_EQ(VerdictText(IdentifyElements(PeaksOf("He", 1.5, 400, 680), 400, 680, 0)), u"Wahrscheinlich: Helium");
}

TEST(ElementIdentification, MixturesAndNoise)
{
    // A fluorescent tube's mercury with the argon it is filled with.
    std::vector<TMeasuredPeak> tube = PeaksOf("Hg", 0.5);
    for (const TMeasuredPeak& p : PeaksOf("Ar", 0.5, 380, 780, 600)) tube.push_back(p);
    const TIdentification id = IdentifyElements(tube, 380, 780, 0);
    ASSERT_EQ(id.Elements.size(), 2U) << ToUtf8(VerdictText(id));
    EXPECT_TRUE(
        (id.Elements == std::vector<std::string>{"Hg", "Ar"} || id.Elements == std::vector<std::string>{"Ar", "Hg"}));
    EXPECT_NE(VerdictText(id).find(u"(Gemisch)"), UnicodeString::npos);
    // Noise: a few small peaks at arbitrary places name nothing.
    const std::vector<TMeasuredPeak> noise = {{417.3, 40, 3}, {523.9, 35, 3}, {598.2, 45, 3}, {681.7, 30, 3}};
    EXPECT_EQ(VerdictText(IdentifyElements(noise, 400, 700, 0)), u"keine eindeutige Zuordnung");
    EXPECT_TRUE(IdentifyElements({}, 400, 700, 0).Elements.empty());
}

TEST(ElementIdentification, NeonTubeCalibratesItself)
{
    // The simulated neon tube, peaks in pixels: the proposed lines give the
    // simulator's own 400 nm + 2.2 nm per pixel.
    const auto counts = spectrosim::CaptureSpectrum(spectrosim::TLamp::Neon, 10000, 1, 1, 2);
    const TCounts c(counts.begin(), counts.end());
    const std::vector<TPeak> peaks = FindPeaks(c, 100);
    const std::vector<TProposedLine> proposed = ProposeAssignments("Ne", peaks);
    ASSERT_GE(proposed.size(), 4U);
    std::vector<double> px, nm;
    for (const TProposedLine& p : proposed) {
        px.push_back(peaks[static_cast<std::size_t>(p.Peak)].Centre);
        nm.push_back(p.Nm);
    }
    const TLineFit fit = FitLine(px, nm);
    for (double pixel : {0.0, 40.0, 80.0, 127.0})
        EXPECT_NEAR(fit.Slope * pixel + fit.Offset, spectrosim::PixelWavelength(0) + 2.2 * pixel, 0.3) << pixel;
}

TEST(SpectralColour, RegionsOfTheSpectrumAndItsEnds)
{
    const auto rgb = [](double Nm) {
        const TColor c = SpectralColour(Nm);
        return std::array<int, 3>{GetRValue(c), GetGValue(c), GetBValue(c)};
    };
    const auto blue = rgb(450), green = rgb(530), yellow = rgb(580), red = rgb(650);
    EXPECT_TRUE(blue[2] > 200 && blue[2] > blue[0] && blue[1] < 100);
    EXPECT_TRUE(green[1] > 200 && green[0] < green[1] && green[2] < green[1]);
    EXPECT_TRUE(yellow[0] > 200 && yellow[1] > 150 && yellow[2] < 60);
    EXPECT_TRUE(red[0] > 200 && red[1] < 60 && red[2] < 100);
    for (double end : {380.0, 780.0}) EXPECT_LT(rgb(end)[0] + rgb(end)[1] + rgb(end)[2], 60) << end;
    const auto outside = rgb(300);
    EXPECT_TRUE(outside[0] == outside[1] && outside[1] == outside[2] && outside[0] > 100);
}

}  // namespace
