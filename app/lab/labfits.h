// The fits of the school lab, free of any GUI: a straight line (with or
// without intercept) with standard errors, the concentration it predicts
// for a measured absorbance, and a first-order decay A(t).
#pragma once

#include "toolkit/sysutils.h"

#include <optional>
#include <vector>

// y = Slope * x + Intercept by least squares; with ThroughOrigin the
// intercept is 0. Standard errors are NaN where the points do not determine
// them (two points for a line with intercept). R² is 1 - SSE/SST, for a line
// through the origin 1 - SSE/Σy² (the convention of spreadsheets).
struct TLinearFit {
    double Slope = 0, Intercept = 0;
    double SlopeSE = 0, InterceptSE = 0;
    double R2 = 0;
    bool ThroughOrigin = false;
    int N = 0;
    double ResidualSD = 0;  // s of the residuals (n - 2, or n - 1 through the origin)
    double MeanX = 0, MeanY = 0, Sxx = 0, SumXX = 0;
};
// Raises Exception with a German message for fewer than two points, x that
// are all the same, or numbers that are not finite.
TLinearFit FitStraightLine(const std::vector<double>& X, const std::vector<double>& Y, bool ThroughOrigin);

// The x at which the fitted line reaches Y (one measurement), with its
// standard uncertainty from the fit.
struct TPrediction {
    double X = 0;
    double XSE = 0;
};
TPrediction InversePrediction(const TLinearFit& Fit, double Y);

// A(t) = AInf + (A0 - AInf) e^(-K t) by Levenberg-Marquardt, started from a
// log-linear fit unless Start is given. Raises Exception ("Die Anpassung
// konvergiert nicht.") when it does not converge to a decay (K > 0), and for
// fewer than four points.
struct TFirstOrderFit {
    double AInf = 0, A0 = 0, K = 0;
    double KSE = 0;
    double HalfLife = 0;  // ln 2 / K
    double R2 = 0;
    int Iterations = 0;
};
struct TFirstOrderStart {
    double AInf, A0, K;
};
TFirstOrderFit FitFirstOrder(const std::vector<double>& T, const std::vector<double>& A,
                             std::optional<TFirstOrderStart> Start = std::nullopt);
