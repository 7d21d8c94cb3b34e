// The lab's fits against known answers: the straight line and its standard
// errors (values from Python's statistics.linear_regression and the textbook
// formulas), the line through the origin, the concentration it predicts, and
// the first-order decay from clean and noisy data.
#include "app/lab/labfits.h"
#include "app/lab/labtables.h"
#include "tests/app/helpers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

const std::vector<double> Conc = {0.25, 0.5, 1.0, 1.5}, Abs = {0.205, 0.398, 0.802, 1.197};

TEST(LabFits, StraightLineWithAndWithoutIntercept)
{
    const TLinearFit f = FitStraightLine(Conc, Abs, false);
    EXPECT_NEAR(f.Slope, 0.7957966101694917, 1e-12);
    EXPECT_NEAR(f.Intercept, 0.003915254237288113, 1e-12);
    EXPECT_NEAR(f.SlopeSE, 0.003661016949152552, 1e-12);
    EXPECT_NEAR(f.InterceptSE, 0.003455008978852725, 1e-12);
    EXPECT_NEAR(f.R2, 0.9999576736399006, 1e-12);
    const TLinearFit o = FitStraightLine(Conc, Abs, true);
    EXPECT_NEAR(o.Slope, 0.7993684210526316, 1e-12);
    EXPECT_EQ(o.Intercept, 0);
    EXPECT_NEAR(o.SlopeSE, 0.001948553456409087, 1e-12);
    EXPECT_NEAR(o.R2, 0.9999821743987466, 1e-12);
    // Reading a concentration back: on the line, with a small uncertainty.
    const TPrediction p = InversePrediction(f, 0.6 * f.Slope + f.Intercept);
    EXPECT_NEAR(p.X, 0.6, 1e-12);
    EXPECT_GT(p.XSE, 0);
    EXPECT_LT(p.XSE, 0.01);
    // Two points: a line, but no standard errors.
    EXPECT_TRUE(std::isnan(FitStraightLine({1, 2}, {0.8, 1.6}, false).SlopeSE));
}

TEST(LabFits, BadSeriesGetGermanMessages)
{
    EXPECT_EQ(MessageOf<Exception>([] { FitStraightLine({}, {}, false); }),
              u"Für die Gerade braucht es mindestens zwei Messpunkte.");
    EXPECT_EQ(MessageOf<Exception>([] {
                  FitStraightLine({0.5, 0.5}, {0.4, 0.41}, false);
              }),
              u"Die Messpunkte brauchen verschiedene x-Werte (Konzentrationen).");
    EXPECT_EQ(MessageOf<Exception>([] {
                  FitFirstOrder({0, 1, 2}, {1, 0.9, 0.8});
              }),
              u"Für die Anpassung braucht es mindestens vier Messpunkte.");
    // Rising without bound is no first-order decay towards a level.
    EXPECT_EQ(MessageOf<Exception>([] {
                  FitFirstOrder({0, 1, 2, 3, 4, 5}, {1, 2, 4, 8, 16, 32});
              }),
              u"Die Anpassung konvergiert nicht.");
}

TEST(LabFits, FirstOrderDecayFromCleanAndNoisyData)
{
    std::vector<double> t, clean, noisy;
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0, 0.01);
    for (int i = 0; i <= 60; ++i) {
        t.push_back(5.0 * i);
        clean.push_back(0.1 + 1.1 * std::exp(-0.01 * t.back()));
        noisy.push_back(clean.back() * (1 + noise(rng)));
    }
    const TFirstOrderFit poorStart = FitFirstOrder(t, clean, TFirstOrderStart{0, 0.5, 0.1});
    EXPECT_NEAR(poorStart.K, 0.01, 0.01 * 0.001);
    EXPECT_NEAR(poorStart.AInf, 0.1, 1e-6);
    EXPECT_NEAR(poorStart.HalfLife, std::log(2.0) / 0.01, 0.1);
    const TFirstOrderFit fromData = FitFirstOrder(t, noisy);
    EXPECT_NEAR(fromData.K, 0.01, 0.01 * 0.05);
    EXPECT_GT(fromData.KSE, 0);
    EXPECT_LT(fromData.KSE, 0.002);
    EXPECT_GT(fromData.R2, 0.99);
}

}  // namespace

namespace {

TEST(LabTables, SeriesRoundTripAndBadRows)
{
    const std::vector<TSeriesRow> rows = {{false, u"Standard 1", 0.25, 0.2013},
                                          {false, u"Blau, \"verdünnt\"", 0.5, 0.40125},
                                          {true, u"Probe", 0.6012345678, 0.482}};
    const std::string csv = SeriesCsv(rows);
    EXPECT_EQ(csv.substr(0, csv.find('\n')), "kind,name,concentration,absorbance");
    EXPECT_NE(csv.find("\nsample,Probe,0.6012345678,0.482\n"), std::string::npos);
    const std::vector<TSeriesRow> back = ReadSeriesCsv(csv);
    ASSERT_EQ(back.size(), 2U);  // the standards only
    EXPECT_EQ(back[1].Name, rows[1].Name);
    EXPECT_EQ(back[1].Concentration, 0.5);
    EXPECT_EQ(back[1].Absorbance, 0.40125);
    EXPECT_EQ(
        MessageOf<EConvertError>([] { ReadSeriesCsv("kind,name,concentration,absorbance\nstandard,a,0,5,0.4\n"); }),
        u"Zeile 2: keine Zeile der Tabelle: 'standard,a,0,5,0.4'");
    EXPECT_EQ(MessageOf<EConvertError>([] { ReadSeriesCsv("kind,name,concentration,absorbance\nstandard,a,x,0.4\n"); }),
              u"Zeile 2: 'x' ist keine Zahl.");
}

}  // namespace
