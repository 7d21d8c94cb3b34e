#include "app/lab/labfits.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numeric>

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

void CheckFinite(const std::vector<double>& V)
{
    if (!std::all_of(V.begin(), V.end(), [](double x) { return std::isfinite(x); }))
        throw Exception(u"Ein Messwert ist keine Zahl.");
}

// Solves the 3 x 3 system M d = R (Gaussian elimination with pivoting);
// false when it is singular.
bool Solve3(std::array<std::array<double, 3>, 3> M, std::array<double, 3> R, std::array<double, 3>& D)
{
    for (int c = 0; c < 3; ++c) {
        int p = c;
        for (int r = c + 1; r < 3; ++r)
            if (std::abs(M[r][c]) > std::abs(M[p][c])) p = r;
        if (!(std::abs(M[p][c]) > 1e-300)) return false;
        std::swap(M[c], M[p]);
        std::swap(R[c], R[p]);
        for (int r = c + 1; r < 3; ++r) {
            const double f = M[r][c] / M[c][c];
            for (int k = c; k < 3; ++k) M[r][k] -= f * M[c][k];
            R[r] -= f * R[c];
        }
    }
    for (int c = 2; c >= 0; --c) {
        double s = R[c];
        for (int k = c + 1; k < 3; ++k) s -= M[c][k] * D[k];
        D[c] = s / M[c][c];
    }
    return true;
}

struct TModel {
    double AInf, A0, K;
    double At(double T) const { return AInf + (A0 - AInf) * std::exp(-K * T); }
};

double Sse(const TModel& M, const std::vector<double>& T, const std::vector<double>& A)
{
    double s = 0;
    for (std::size_t i = 0; i < T.size(); ++i) s += (A[i] - M.At(T[i])) * (A[i] - M.At(T[i]));
    return s;
}

// J^T J and J^T r of the model at its parameters.
void Normal(const TModel& M, const std::vector<double>& T, const std::vector<double>& A,
            std::array<std::array<double, 3>, 3>& JtJ, std::array<double, 3>& Jtr)
{
    JtJ = {};
    Jtr = {};
    for (std::size_t i = 0; i < T.size(); ++i) {
        const double e = std::exp(-M.K * T[i]);
        const std::array<double, 3> j = {1 - e, e, -T[i] * (M.A0 - M.AInf) * e};
        const double r = A[i] - M.At(T[i]);
        for (int a = 0; a < 3; ++a) {
            Jtr[a] += j[a] * r;
            for (int b = 0; b < 3; ++b) JtJ[a][b] += j[a] * j[b];
        }
    }
}

// A start from the data: the end level from the last points, then a straight
// line through ln(A - AInf) over t.
TModel LogLinearStart(const std::vector<double>& T, const std::vector<double>& A)
{
    const std::size_t n = T.size();
    const std::size_t tail = std::max<std::size_t>(1, n / 10);
    double end = 0;
    for (std::size_t i = n - tail; i < n; ++i) end += A[i];
    end /= static_cast<double>(tail);
    const double first = A.front();
    const double span = first - end;
    // The level lies a little beyond the last points, on the side they approach it from.
    const double aInf = end - 0.05 * span;
    std::vector<double> t, y;
    for (std::size_t i = 0; i < n; ++i) {
        const double d = (A[i] - aInf) / (span >= 0 ? 1 : -1);
        if (d > 0) {
            t.push_back(T[i]);
            y.push_back(std::log(d));
        }
    }
    if (t.size() >= 2 && !std::all_of(t.begin(), t.end(), [&](double v) { return v == t[0]; })) {
        const TLinearFit line = FitStraightLine(t, y, false);
        if (line.Slope < 0) return {aInf, aInf + (span >= 0 ? 1 : -1) * std::exp(line.Intercept), -line.Slope};
    }
    const double duration = T.back() - T.front();
    return {aInf, first, duration > 0 ? 1 / duration : 1};
}

}  // namespace

TLinearFit FitStraightLine(const std::vector<double>& X, const std::vector<double>& Y, bool ThroughOrigin)
{
    const std::size_t n = std::min(X.size(), Y.size());
    if (n < 2) throw Exception(u"Für die Gerade braucht es mindestens zwei Messpunkte.");
    CheckFinite(X);
    CheckFinite(Y);
    TLinearFit f;
    f.ThroughOrigin = ThroughOrigin;
    f.N = static_cast<int>(n);
    for (std::size_t i = 0; i < n; ++i) {
        f.MeanX += X[i];
        f.MeanY += Y[i];
    }
    f.MeanX /= static_cast<double>(n);
    f.MeanY /= static_cast<double>(n);
    double sxy = 0, syy = 0, sumYY = 0;
    for (std::size_t i = 0; i < n; ++i) {
        f.Sxx += (X[i] - f.MeanX) * (X[i] - f.MeanX);
        sxy += (X[i] - f.MeanX) * (Y[i] - f.MeanY);
        syy += (Y[i] - f.MeanY) * (Y[i] - f.MeanY);
        f.SumXX += X[i] * X[i];
        sumYY += Y[i] * Y[i];
    }
    if (ThroughOrigin ? !(f.SumXX > 0) : !(f.Sxx > 0))
        throw Exception(ThroughOrigin ? u"Für die Gerade braucht es einen Messpunkt mit x ≠ 0."
                                      : u"Die Messpunkte brauchen verschiedene x-Werte (Konzentrationen).");
    if (ThroughOrigin) {
        double sxyOrigin = 0;
        for (std::size_t i = 0; i < n; ++i) sxyOrigin += X[i] * Y[i];
        f.Slope = sxyOrigin / f.SumXX;
    } else {
        f.Slope = sxy / f.Sxx;
        f.Intercept = f.MeanY - f.Slope * f.MeanX;
    }
    double sse = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double r = Y[i] - (f.Slope * X[i] + f.Intercept);
        sse += r * r;
    }
    const double total = ThroughOrigin ? sumYY : syy;
    f.R2 = total > 0 ? 1 - sse / total : 1;
    const int dof = static_cast<int>(n) - (ThroughOrigin ? 1 : 2);
    if (dof > 0) {
        f.ResidualSD = std::sqrt(sse / dof);
        if (ThroughOrigin) {
            f.SlopeSE = f.ResidualSD / std::sqrt(f.SumXX);
        } else {
            f.SlopeSE = f.ResidualSD / std::sqrt(f.Sxx);
            f.InterceptSE = f.ResidualSD * std::sqrt(1.0 / static_cast<double>(n) + f.MeanX * f.MeanX / f.Sxx);
        }
    } else {
        f.ResidualSD = f.SlopeSE = f.InterceptSE = NaN;
    }
    return f;
}

TPrediction InversePrediction(const TLinearFit& F, double Y)
{
    if (F.Slope == 0) throw Exception(u"Die Gerade ist waagrecht: keine Konzentration ablesbar.");
    TPrediction p;
    p.X = (Y - F.Intercept) / F.Slope;
    const double m = std::abs(F.Slope);
    if (F.ThroughOrigin)
        p.XSE = F.ResidualSD / m * std::sqrt(1 + Y * Y / (F.Slope * F.Slope * F.SumXX));
    else
        p.XSE =
            F.ResidualSD / m * std::sqrt(1 + 1.0 / F.N + (Y - F.MeanY) * (Y - F.MeanY) / (F.Slope * F.Slope * F.Sxx));
    return p;
}

TFirstOrderFit FitFirstOrder(const std::vector<double>& T, const std::vector<double>& A,
                             std::optional<TFirstOrderStart> Start)
{
    const std::size_t n = std::min(T.size(), A.size());
    if (n < 4) throw Exception(u"Für die Anpassung braucht es mindestens vier Messpunkte.");
    CheckFinite(T);
    CheckFinite(A);
    const std::vector<double> t(T.begin(), T.begin() + static_cast<std::ptrdiff_t>(n)),
        a(A.begin(), A.begin() + static_cast<std::ptrdiff_t>(n));
    TModel m = Start ? TModel{Start->AInf, Start->A0, Start->K} : LogLinearStart(t, a);
    double sse = Sse(m, t, a), lambda = 1e-3;
    TFirstOrderFit f;
    bool converged = false;
    for (f.Iterations = 1; f.Iterations <= 500 && !converged; ++f.Iterations) {
        std::array<std::array<double, 3>, 3> jtj;
        std::array<double, 3> jtr;
        Normal(m, t, a, jtj, jtr);
        for (int tries = 0; tries < 30; ++tries) {
            auto damped = jtj;
            for (int k = 0; k < 3; ++k) damped[k][k] += lambda * std::max(jtj[k][k], 1e-12);
            std::array<double, 3> d{};
            if (!Solve3(damped, jtr, d)) {
                lambda *= 10;
                continue;
            }
            const TModel next{m.AInf + d[0], m.A0 + d[1], m.K + d[2]};
            const double nextSse = Sse(next, t, a);
            if (std::isfinite(nextSse) && nextSse <= sse) {
                const double change = sse - nextSse;
                m = next;
                lambda = std::max(lambda / 10, 1e-12);
                converged = change <= 1e-14 * std::max(sse, 1e-300) ||
                            std::abs(d[2]) <= 1e-12 * std::max(std::abs(m.K), 1e-300);
                sse = nextSse;
                break;
            }
            lambda *= 10;
            if (lambda > 1e12) {
                converged = true;  // no step improves: a minimum
                break;
            }
        }
    }
    if (!converged || !(m.K > 0) || !std::isfinite(m.K)) throw Exception(u"Die Anpassung konvergiert nicht.");
    f.AInf = m.AInf;
    f.A0 = m.A0;
    f.K = m.K;
    f.HalfLife = std::log(2.0) / m.K;
    double mean = std::accumulate(a.begin(), a.end(), 0.0) / static_cast<double>(n), sst = 0;
    for (double v : a) sst += (v - mean) * (v - mean);
    f.R2 = sst > 0 ? 1 - sse / sst : 1;
    // The standard error of k from the covariance s² (J^T J)^-1 at the minimum.
    std::array<std::array<double, 3>, 3> jtj;
    std::array<double, 3> jtr;
    Normal(m, t, a, jtj, jtr);
    std::array<double, 3> column{};
    f.KSE = n > 3 && Solve3(jtj, {0, 0, 1}, column)
                ? std::sqrt(std::max(0.0, sse / static_cast<double>(n - 3) * column[2]))
                : NaN;
    return f;
}
