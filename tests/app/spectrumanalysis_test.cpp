// Peak fit, calibration from known lines, averaging and the export files of
// the spectrum window, against known answers.
#include "app/export.h"
#include "app/spectrum/spectrumfiles.h"
#include "tests/app/helpers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sstream>

namespace fs = std::filesystem;

namespace {

TCounts Gaussian(int N, double Centre, double Sigma, double Height, double Base)
{
    TCounts c(static_cast<std::size_t>(N));
    for (int p = 0; p < N; ++p) {
        const double d = (p - Centre) / Sigma;
        c[static_cast<std::size_t>(p)] = Base + Height * std::exp(-0.5 * d * d);
    }
    return c;
}

TEST(PeakFit, SampledGaussiansGiveCentreAndWidth)
{
    for (double sigma : {0.8, 1.0, 1.7, 3.0})
        for (double centre : {40.0, 40.23, 40.5, 40.81}) {
            const TCounts c = Gaussian(128, centre, sigma, 700, 18);
            const TPeak p = FitPeak(c, HighestSample(c));
            EXPECT_NEAR(p.Centre, centre, 0.05) << "sigma " << sigma;
            EXPECT_NEAR(p.Fwhm, 2.35482 * sigma, 0.02 * 2.35482 * sigma) << "sigma " << sigma;
            EXPECT_NEAR(p.Height, 718, 7);
        }
    // A saturated top: centre of the flat part, width at half height.
    TCounts flat = Gaussian(64, 30.5, 3, 2000, 0);
    for (double& v : flat) v = std::min(v, 1023.0);
    const TPeak s = FitPeak(flat, HighestSample(flat));
    EXPECT_NEAR(s.Centre, 30.5, 0.5);
    EXPECT_GT(s.Fwhm, 2.35482 * 3);
}

TEST(PeakFit, PeaksAboveTheThresholdHighestFirst)
{
    TCounts c = Gaussian(128, 20.3, 1.2, 300, 20);
    const TCounts b = Gaussian(128, 70.6, 1.0, 800, 0), small = Gaussian(128, 100, 1.0, 40, 0);
    for (std::size_t i = 0; i < c.size(); ++i)
        c[i] += b[i] + small[i] + ((i % 2) ? 1.5 : -1.5);  // ripple below the threshold
    const auto peaks = FindPeaks(c, 100);
    ASSERT_EQ(peaks.size(), 2u);
    EXPECT_NEAR(peaks[0].Centre, 70.6, 0.05);
    EXPECT_NEAR(peaks[1].Centre, 20.3, 0.05);
    EXPECT_EQ(FindPeaks(c, 50).size(), 3u);
    EXPECT_TRUE(FindPeaks(c, 900).empty());
}

TEST(LineCalibration, LeastSquaresLineAndResiduals)
{
    const double slope = 2.2, offset = 400;
    const std::vector<double> px{2.3, 16.4, 66.3};
    std::vector<double> nm;
    for (double p : px) nm.push_back(slope * p + offset);
    const TLineFit fit = FitLine(px, nm);
    EXPECT_NEAR(fit.Slope, slope, 1e-9);
    EXPECT_NEAR(fit.Offset, offset, 1e-9);
    for (double r : fit.Residuals) EXPECT_NEAR(r, 0, 1e-9);

    // One line off by 1 nm: the residuals show it and sum to zero.
    nm[1] += 1;
    const TLineFit off = FitLine(px, nm);
    EXPECT_GT(off.Residuals[1], 0.5);
    EXPECT_NEAR(off.Residuals[0] + off.Residuals[1] + off.Residuals[2], 0, 1e-9);
    EXPECT_THROW(FitLine({5}, {500}), Exception);
    EXPECT_THROW(FitLine({5, 5}, {500, 510}), Exception);
}

TEST(Averaging, MeanStdAndDark)
{
    const TAverage a = AverageSpectra({{1, 10, 5}, {3, 10, 9}, {5, 10, 1}});
    EXPECT_EQ(a.Mean, (TCounts{3, 10, 5}));
    EXPECT_DOUBLE_EQ(a.Std[0], 2);
    EXPECT_DOUBLE_EQ(a.Std[1], 0);
    EXPECT_DOUBLE_EQ(a.Std[2], 4);
    EXPECT_EQ(AverageSpectra({{7, 8}}).Std, (TCounts{0, 0}));
    EXPECT_THROW(AverageSpectra({}), Exception);
    EXPECT_THROW(AverageSpectra({{1, 2}, {1}}), Exception);
    EXPECT_EQ(SubtractDark({100, 50, 20}, {18, 20, 25}), (TCounts{82, 30, -5}));
}

TEST(SpectrumFiles, CsvReadsBackAndJcampHasItsLabels)
{
    const TWavelengthScale scale{2.1578947368421053, 409.0};
    const TCounts counts{18, 1023, 433.5, 20};
    const TSpectrumTable t = MakeTable(counts, {0.5, 1.25, 0, 3.1}, scale);
    std::istringstream csv(CsvText(t));
    std::string line;
    std::getline(csv, line);
    EXPECT_EQ(line, "wavelength_nm,counts,std");
    for (std::size_t i = 0; i < counts.size(); ++i) {
        ASSERT_TRUE(std::getline(csv, line));
        double x, y, s;
        char c1, c2;
        std::istringstream fields(line);
        fields.imbue(std::locale::classic());
        ASSERT_TRUE(fields >> x >> c1 >> y >> c2 >> s) << line;
        EXPECT_EQ(x, scale.At(static_cast<double>(i)));
        EXPECT_EQ(y, counts[i]);
        EXPECT_EQ(s, t.Std[i]);
    }
    EXPECT_FALSE(std::getline(csv, line));
    EXPECT_EQ(CsvText(MakeTable({5}, {}, {})), "pixel,counts\n0,5\n");

    const std::string j = JcampText(t, u"Leuchtstoffröhre");
    for (const char* label :
         {"##TITLE=Leuchtstoffröhre\n", "##JCAMP-DX=4.24\n", "##DATA TYPE=UV/VIS SPECTRUM\n", "##XUNITS=NANOMETERS\n",
          "##YUNITS=COUNTS\n", "##NPOINTS=4\n", "##FIRSTX=409\n", "##XYDATA=(X++(Y..Y))\n409 18\n"})
        EXPECT_NE(j.find(label), std::string::npos) << label;
    EXPECT_NE(j.find("##LASTX=" + NumberText(scale.At(3)) + "\n"), std::string::npos);
    EXPECT_NE(j.find("##DELTAX=" + NumberText((scale.At(3) - scale.At(0)) / 3) + "\n"), std::string::npos);
    EXPECT_EQ(j.substr(j.size() - 7), "##END=\n");
}

TEST(SpectrumFiles, DatFileOfTheMainWindowReadsBackAsOverlay)
{
    FormatSettings.DecimalSeparator = u'.';
    const fs::path p = fs::temp_directory_path() / "spectro-overlay-test.dat";
    WriteSpectrumFile(Utf8ToUnicode(p.string()), 10000, {u"409 18", u"411.157894736842 1023", u"413.3 433"});
    const TOverlay o = ReadSpectrumFile(Utf8ToUnicode(p.string()));
    EXPECT_EQ(o.Nm, (std::vector<double>{409, 411.157894736842, 413.3}));
    EXPECT_EQ(o.Counts, (TCounts{18, 1023, 433}));
    WriteAll(p, "a\r\nb\r\nc\r\nd\r\ne\r\n409 18\r\nkaputt\r\n");
    EXPECT_THROW(ReadSpectrumFile(Utf8ToUnicode(p.string())), EConvertError);
    fs::remove(p);
}

}  // namespace
