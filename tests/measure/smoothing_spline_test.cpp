#include "measure/smoothing_spline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <vector>

namespace calivant {
namespace {

using Vector = std::vector<double>;
// The oracle works in extended precision so its own rounding stays well
// below that of the banded code it checks.
using Real = long double;
using Matrix = std::vector<std::vector<Real>>;

// Solves A X = B by Gaussian elimination without pivoting: the oracle's
// system has a positive diagonal block, then a negative definite Schur
// complement.
Matrix solveDense(Matrix a, Matrix b) {
    const std::size_t n = a.size();
    for (std::size_t k = 0; k < n; ++k)
        for (std::size_t i = 0; i < n; ++i) {
            if (i == k) continue;
            const Real f = a[i][k] / a[k][k];
            for (std::size_t j = k; j < n; ++j) a[i][j] -= f * a[k][j];
            for (std::size_t j = 0; j < b[i].size(); ++j) b[i][j] -= f * b[k][j];
        }
    for (std::size_t k = 0; k < n; ++k)
        for (Real& v : b[k]) v /= a[k][k];
    return b;
}

struct OracleFit {
    std::vector<Real> fitted, gamma;  // values and s'' at the knots
    Real trace = 0, esn = 0, criterion = 0;
};

// The smoothing spline of Green and Silverman (Nonparametric Regression and
// GLMs, ch. 2), from scratch: with h the knot gaps, Q (n x n-2) and R
// (n-2 x n-2) of the roughness g' Q R^-1 Q' g, the minimizer of
// sum w (y - g)^2 + alpha * roughness solves W (g - y) + alpha Q gamma = 0,
// Q' g = R gamma. One dense solve per unit vector y gives the influence
// matrix A (top rows) and the second derivatives (bottom rows).
OracleFit oracleSpline(const Vector& x, const Vector& y, const Vector& w, double alpha, double val) {
    const std::size_t n = x.size(), m = 2 * n - 2;
    Matrix a(m, std::vector<Real>(m, 0)), units(m, std::vector<Real>(n, 0));
    for (std::size_t i = 0; i < n; ++i) a[i][i] = units[i][i] = w[i];
    for (std::size_t j = 1; j + 1 < n; ++j) {
        const Real h0 = Real(x[j]) - x[j - 1], h1 = Real(x[j + 1]) - x[j], q[3] = {1 / h0, -1 / h0 - 1 / h1, 1 / h1};
        const std::size_t c = n + j - 1;
        for (std::size_t k = 0; k < 3; ++k) a[j - 1 + k][c] = alpha * q[k], a[c][j - 1 + k] = q[k];
        a[c][c] = -(h0 + h1) / 3;
        if (j + 2 < n) a[c][c + 1] = a[c + 1][c] = -h1 / 6;
    }
    const Matrix influence = solveDense(a, units);
    OracleFit fit{std::vector<Real>(n, 0), std::vector<Real>(n, 0)};
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = 0; j < n; ++j) {
            fit.fitted[i] += influence[i][j] * y[j];
            if (i > 0 && i + 1 < n) fit.gamma[i] += influence[n + i - 1][j] * y[j];
        }
        fit.trace += 1 - influence[i][i];
        fit.esn += w[i] * (fit.fitted[i] - y[i]) * (fit.fitted[i] - y[i]) / Real(n);
    }
    fit.criterion = fit.esn - val * (2 * fit.trace / Real(n) - 1);
    return fit;
}

// The natural cubic spline through the fitted values, linear beyond the ends.
double oracleValue(const Vector& x, const OracleFit& f, double t) {
    const std::vector<Real>&g = f.fitted, &d2 = f.gamma;
    std::size_t n = x.size(), i = 0;
    while (i + 2 < n && t > x[i + 1]) ++i;
    const Real h = Real(x[i + 1]) - x[i], a = Real(t) - x[i], b = Real(x[i + 1]) - t;
    if (t < x[0]) return double(g[0] + a * ((g[1] - g[0]) / h - h * d2[1] / 6));
    if (t > x[n - 1]) return double(g[n - 1] + (t - x[n - 1]) * ((g[n - 1] - g[n - 2]) / h + h * d2[n - 2] / 6));
    return double((a * g[i + 1] + b * g[i]) / h - a * b / 6 * ((1 + a / h) * d2[i + 1] + (1 + b / h) * d2[i]));
}

// Reference Y of an IT8-like gray scale, two patches 0.001 apart as the gray
// knot adjustment leaves them, and a noisy gamma curve over them.
Vector grayKnots() {
    Vector x;
    for (int i = 0; i < 22; ++i) x.push_back(0.6 * std::pow(1.24, i));
    x.insert(x.begin() + 8, x[7] + 0.001);
    return x;
}

Vector noisyGammaCurve(const Vector& x) {
    Vector y;
    for (std::size_t i = 0; i < x.size(); ++i)
        y.push_back(std::pow(x[i] / 100.0, 1.0 / 2.2) + 0.004 * std::sin(7.1 * double(i) + 0.3));
    return y;
}

Vector fittedAtKnots(const Vector& x, const Vector& c) {
    Vector out;
    int interval = 0;
    for (double t : x) out.push_back(evaluateSpline(0, kSplineHalfOrder, t, x, c, interval));
    return out;
}

TEST(SplineCriterion, MatchesAnIndependentDenseSmoothingSpline) {
    const Vector x = grayKnots(), y = noisyGammaCurve(x);
    const std::size_t n = x.size();
    Vector weighted(n);
    for (std::size_t i = 0; i < n; ++i) weighted[i] = 0.5 + 0.1 * double(i % 7);
    for (const Vector& w : {Vector(n, 1.0), weighted}) {
        SplineWork work;
        ASSERT_EQ(buildSplineMatrices(x, w, work), 0);
        for (double scale : {1e-4, 1e-2, 1.0, 1e2, 1e4}) {
            const double p = scale / work.penaltyNorm;
            Vector c(n);
            const double f = splineCriterion(y, w, 1e-05, p, work, c);
            const OracleFit oracle = oracleSpline(x, y, w, p, 1e-05);
            for (std::size_t i = 0; i < n; ++i) EXPECT_NEAR(fittedAtKnots(x, c)[i], oracle.fitted[i], 1e-10) << scale;
            // Between the knots and beyond both ends, the interval carried
            // from the last evaluation going down.
            int interval = int(n) - 2;
            for (double t = x[n - 1] + 5.0; t > x[0] - 2.0; t -= 0.37)
                EXPECT_NEAR(evaluateSpline(0, kSplineHalfOrder, t, x, c, interval), oracleValue(x, oracle, t), 1e-9);
            const SplineStatistics& s = work.statistics;
            EXPECT_NEAR(s.residualTrace, oracle.trace, 1e-8 * oracle.trace);
            EXPECT_NEAR(s.meanSquaredResidual, oracle.esn, 1e-8 * oracle.esn + 1e-20);
            EXPECT_NEAR(f, oracle.criterion, 1e-12);
            EXPECT_DOUBLE_EQ(s.pStatistic, p / (1.0 + p));
        }
    }
}

TEST(FitSmoothingSpline, StopsAtTheLimits) {
    const Vector x = grayKnots(), w(x.size(), 1.0);
    Vector y = noisyGammaCurve(x), line, c(x.size());
    for (double xi : x) line.push_back(0.02 + 0.0093 * xi);
    SplineWork work;
    // No noise allowed for: the interpolating spline. Points on a line: the line.
    for (auto [data, val, stat] : {std::tuple{&y, 0.0, 0.0}, std::tuple{&line, 1e-05, 1.0}}) {
        ASSERT_EQ(fitSmoothingSpline(x, *data, w, 2, val, c, work), 0);
        EXPECT_EQ(work.statistics.pStatistic, stat);
        for (std::size_t i = 0; i < x.size(); ++i) EXPECT_NEAR(fittedAtKnots(x, c)[i], (*data)[i], 1e-9);
    }
}

TEST(FitSmoothingSpline, RefusesUnusableInputAndLeavesTheCoefficients) {
    // Order m; then which input is spoilt (0 knots, 1 weights, 2 values), where, with what.
    const std::tuple<int, int, int, double, int> cases[] = {
        {0, 0, 0, 1.0, kSplineBadOrder}, {3, 0, 0, 1.0, kSplineBadOrder}, {2, 0, 3, 3.5, kSplineBadData},
        {2, 0, 4, INFINITY, kSplineBadData}, {2, 1, 0, 0.0, kSplineBadData}, {2, 1, 4, -1.0, kSplineBadData},
        {2, 2, 2, NAN, kSplineBadData}, {2, 0, 1, 0.5, kSplineBadData}};
    for (auto [m, at, index, value, code] : cases) {
        Vector v[3] = {{1.0, 2.0, 3.5, 4.0, 6.0}, Vector(5, 1.0), {0.1, 0.2, 0.25, 0.4, 0.5}};
        v[at][index] = value;
        Vector c(5, 9.0);
        SplineWork work;
        EXPECT_EQ(fitSmoothingSpline(v[0], v[2], v[1], m, 1e-05, c, work), code) << at << " " << index;
        EXPECT_EQ(c, Vector(5, 9.0));
    }
    // Four points are enough, but knots this close overflow the divided differences.
    const Vector tight{0.0, 1e-300, 2e-300, 3e-300}, ones(4, 1.0);
    Vector c(4);
    SplineWork work;
    EXPECT_EQ(fitSmoothingSpline(tight, ones, ones, 2, 1e-05, c, work), kSplineNoSolution);
}

}  // namespace
}  // namespace calivant
