#include "measure/smoothing_spline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

namespace calivant {
namespace {

using Vector = std::vector<double>;
// The oracle works in extended precision, so that its own rounding stays
// well below that of the code it checks.
using Real = long double;
using RealVector = std::vector<Real>;
using Matrix = std::vector<RealVector>;

// Solves A X = B by Gaussian elimination with partial pivoting.
Matrix solveDense(Matrix a, Matrix b) {
    const std::size_t n = a.size();
    for (std::size_t k = 0; k < n; ++k) {
        std::size_t pivot = k;
        for (std::size_t i = k + 1; i < n; ++i)
            if (std::abs(a[i][k]) > std::abs(a[pivot][k])) pivot = i;
        std::swap(a[k], a[pivot]);
        std::swap(b[k], b[pivot]);
        for (std::size_t i = k + 1; i < n; ++i) {
            const Real f = a[i][k] / a[k][k];
            for (std::size_t j = k; j < n; ++j) a[i][j] -= f * a[k][j];
            for (std::size_t j = 0; j < b[i].size(); ++j) b[i][j] -= f * b[k][j];
        }
    }
    for (std::size_t k = n; k-- > 0;) {
        for (std::size_t j = 0; j < b[k].size(); ++j) {
            Real sum = b[k][j];
            for (std::size_t i = k + 1; i < n; ++i) sum -= a[k][i] * b[i][j];
            b[k][j] = sum / a[k][k];
        }
    }
    return b;
}

// The smoothing spline of Green and Silverman (Nonparametric Regression and
// GLMs, ch. 2), written from scratch as an oracle: with h the knot gaps, Q
// (n x n-2) and R (n-2 x n-2) such that the roughness of the natural spline
// through values g is g' K g, K = Q R^-1 Q', the fitted values minimizing
// sum w (y - g)^2 + alpha g' K g are g = (W + alpha K)^-1 W y, and the
// second derivatives at the inner knots are gamma = R^-1 Q' g.
struct OracleFit {
    RealVector fitted;
    RealVector gamma;  // s'' at every knot, 0 at both ends
    Real trace = 0.0L;  // trace(I - A)
    Real esn = 0.0L;
    Real criterion = 0.0L;
};

OracleFit oracleSpline(const Vector& x, const Vector& y, const Vector& w, double alpha, double val) {
    const std::size_t n = x.size();
    RealVector h(n - 1);
    for (std::size_t i = 0; i + 1 < n; ++i) h[i] = static_cast<Real>(x[i + 1]) - x[i];
    Matrix q(n, RealVector(n - 2, 0.0L));
    Matrix r(n - 2, RealVector(n - 2, 0.0L));
    for (std::size_t j = 1; j + 1 < n; ++j) {
        q[j - 1][j - 1] = 1.0L / h[j - 1];
        q[j][j - 1] = -1.0L / h[j - 1] - 1.0L / h[j];
        q[j + 1][j - 1] = 1.0L / h[j];
        r[j - 1][j - 1] = (h[j - 1] + h[j]) / 3.0L;
        if (j + 2 < n) r[j - 1][j] = r[j][j - 1] = h[j] / 6.0L;
    }
    Matrix qt(n - 2, RealVector(n));
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j + 2 < n; ++j) qt[j][i] = q[i][j];
    const Matrix rInvQt = solveDense(r, qt);
    Matrix system(n, RealVector(n, 0.0L));
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = 0; j < n; ++j) {
            Real k = 0.0L;
            for (std::size_t l = 0; l + 2 < n; ++l) k += q[i][l] * rInvQt[l][j];
            system[i][j] = alpha * k;
        }
        system[i][i] += w[i];
    }
    Matrix wDiag(n, RealVector(n, 0.0L));
    for (std::size_t i = 0; i < n; ++i) wDiag[i][i] = w[i];
    const Matrix influence = solveDense(system, wDiag);

    OracleFit fit;
    fit.fitted.assign(n, 0.0L);
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = 0; j < n; ++j) fit.fitted[i] += influence[i][j] * y[j];
        fit.trace += 1.0L - influence[i][i];
        fit.esn += w[i] * (fit.fitted[i] - y[i]) * (fit.fitted[i] - y[i]);
    }
    fit.esn /= static_cast<Real>(n);
    fit.criterion = fit.esn - val * (2.0L * fit.trace / static_cast<Real>(n) - 1.0L);
    fit.gamma.assign(n, 0.0L);
    for (std::size_t j = 0; j + 2 < n; ++j)
        for (std::size_t i = 0; i < n; ++i) fit.gamma[j + 1] += rInvQt[j][i] * fit.fitted[i];
    return fit;
}

// The natural cubic spline with knot values g and second derivatives gamma.
double oracleValue(const Vector& x, const OracleFit& fit, double t) {
    const RealVector& g = fit.fitted;
    const std::size_t n = x.size();
    if (t < x[0]) {
        const Real h = static_cast<Real>(x[1]) - x[0];
        const Real slope = (g[1] - g[0]) / h - h * fit.gamma[1] / 6.0L;
        return static_cast<double>(g[0] - (x[0] - t) * slope);
    }
    if (t > x[n - 1]) {
        const Real h = static_cast<Real>(x[n - 1]) - x[n - 2];
        const Real slope = (g[n - 1] - g[n - 2]) / h + h * fit.gamma[n - 2] / 6.0L;
        return static_cast<double>(g[n - 1] + (t - x[n - 1]) * slope);
    }
    std::size_t i = 0;
    while (i + 2 < n && t > x[i + 1]) ++i;
    const Real h = static_cast<Real>(x[i + 1]) - x[i];
    const Real a = static_cast<Real>(t) - x[i];
    const Real b = static_cast<Real>(x[i + 1]) - t;
    return static_cast<double>((a * g[i + 1] + b * g[i]) / h -
                               a * b / 6.0L * ((1.0L + a / h) * fit.gamma[i + 1] + (1.0L + b / h) * fit.gamma[i]));
}

// Reference Y of an IT8-like gray scale, with two patches 0.001 apart as
// the gray scale's knot adjustment makes them, and a noisy gamma curve.
Vector grayKnots() {
    Vector x;
    for (int i = 0; i < 22; ++i) x.push_back(0.6 * std::pow(1.24, i));
    x.insert(x.begin() + 8, x[7] + 0.001);
    return x;
}

Vector noisyGammaCurve(const Vector& x) {
    Vector y;
    for (std::size_t i = 0; i < x.size(); ++i)
        y.push_back(std::pow(x[i] / 100.0, 1.0 / 2.2) + 0.004 * std::sin(7.1 * static_cast<double>(i) + 0.3));
    return y;
}

Vector fittedAtKnots(const Vector& x, const Vector& c) {
    Vector out;
    int interval = 0;
    for (double t : x) out.push_back(evaluateSpline(0, kSplineHalfOrder, t, x, c, interval));
    return out;
}

TEST(SplineCriterion, MatchesAnIndependentDenseSmoothingSpline) {
    const Vector x = grayKnots();
    const Vector y = noisyGammaCurve(x);
    const std::size_t n = x.size();
    Vector weighted(n);
    for (std::size_t i = 0; i < n; ++i) weighted[i] = 0.5 + 0.1 * static_cast<double>(i % 7);
    const double val = 1e-05;

    for (const Vector& w : {Vector(n, 1.0), weighted}) {
        SplineWork work;
        ASSERT_EQ(buildSplineMatrices(x, w, work), 0);
        for (double scale : {1e-4, 1e-2, 1.0, 1e2, 1e4}) {
            SCOPED_TRACE(scale);
            const double p = scale / work.penaltyNorm;
            Vector c(n);
            const double f = splineCriterion(y, w, val, p, work, c);
            const OracleFit oracle = oracleSpline(x, y, w, p, val);

            const Vector fitted = fittedAtKnots(x, c);
            for (std::size_t i = 0; i < n; ++i) EXPECT_NEAR(fitted[i], oracle.fitted[i], 1e-10) << i;
            // Between the knots and beyond both ends (where it is a line),
            // the interval carried from the last evaluation going down.
            int interval = static_cast<int>(n) - 2;
            for (double t = x[n - 1] + 5.0; t > x[0] - 2.0; t -= 0.37)
                EXPECT_NEAR(evaluateSpline(0, kSplineHalfOrder, t, x, c, interval), oracleValue(x, oracle, t), 1e-9)
                    << t;

            const SplineStatistics& s = work.statistics;
            EXPECT_NEAR(s.residualTrace, oracle.trace, 1e-8 * oracle.trace);
            EXPECT_NEAR(s.meanSquaredResidual, oracle.esn, 1e-8 * oracle.esn + 1e-20);
            EXPECT_NEAR(f, oracle.criterion, 1e-12);
            EXPECT_EQ(s.criterion, f);
            const double trn = s.residualTrace / static_cast<double>(n);
            EXPECT_DOUBLE_EQ(s.estimatedVariance, s.meanSquaredResidual / trn);
            EXPECT_DOUBLE_EQ(s.crossValidation, s.meanSquaredResidual / trn / trn);
            EXPECT_DOUBLE_EQ(s.pStatistic, p / (1.0 + p));
        }
    }
}

TEST(SplineCriterion, ClampsTheParameterAtTheInterpolationAndLineLimits) {
    const Vector x = grayKnots();
    const Vector y = noisyGammaCurve(x);
    const Vector w(x.size(), 1.0);
    SplineWork work;
    ASSERT_EQ(buildSplineMatrices(x, w, work), 0);
    Vector c(x.size());
    Vector atLimit(x.size());
    const double el = work.penaltyNorm;

    splineCriterion(y, w, 0.0, 1e-3 * kSplineEps / el, work, c);
    EXPECT_EQ(work.statistics.pStatistic, 0.0);
    splineCriterion(y, w, 0.0, kSplineEps / el, work, atLimit);
    EXPECT_EQ(c, atLimit);
    // Next to interpolation: the spline passes through the data.
    const Vector fitted = fittedAtKnots(x, c);
    for (std::size_t i = 0; i < x.size(); ++i) EXPECT_NEAR(fitted[i], y[i], 1e-9);

    splineCriterion(y, w, 0.0, 1e3 / (el * kSplineEps), work, c);
    EXPECT_EQ(work.statistics.pStatistic, 1.0);
    splineCriterion(y, w, 0.0, 1.0 / (el * kSplineEps), work, atLimit);
    EXPECT_EQ(c, atLimit);
}

// The criterion can have more than one minimum; the search brackets the one
// reached by going downhill from p = 1/EL. The scan below walks downhill from
// there over p = 10^(k/100) / EL, a tenth of a decade at a time, then looks
// at every hundredth of a decade around the lowest point.
TEST(FitSmoothingSpline, FindsTheMinimumOfTheCriterion) {
    const Vector x = grayKnots();
    const std::size_t n = x.size();
    const Vector w(n, 1.0);
    for (double val : {5e-06, 1e-05, 2e-05}) {
        for (double noise : {0.002, 0.006}) {
            SCOPED_TRACE(val);
            SCOPED_TRACE(noise);
            Vector y = noisyGammaCurve(x);
            for (std::size_t i = 0; i < n; ++i) y[i] += noise * std::cos(3.3 * static_cast<double>(i) * i);

            SplineWork work;
            Vector c(n);
            ASSERT_EQ(fitSmoothingSpline(x, y, w, 2, val, c, work), 0);
            const double s = work.statistics.pStatistic;
            ASSERT_GT(s, 0.0);
            ASSERT_LT(s, 1.0);
            const double found = s / (1.0 - s);

            const double el = work.penaltyNorm;
            const auto scan = [&](int k) {
                return static_cast<double>(oracleSpline(x, y, w, std::pow(10.0, k / 100.0) / el, val).criterion);
            };
            int k = 0;
            const int step = scan(10) < scan(0) ? 10 : -10;
            while (std::abs(k) < 1000 && scan(k + step) < scan(k)) k += step;
            ASSERT_LT(std::abs(k), 1000) << "no minimum found by the scan";
            int bestK = k;
            for (int fine = k - 10; fine <= k + 10; ++fine)
                if (scan(fine) < scan(bestK)) bestK = fine;

            const OracleFit atFound = oracleSpline(x, y, w, found, val);
            EXPECT_LE(atFound.criterion, scan(bestK) + 1e-15);
            EXPECT_NEAR(std::log10(found * el), bestK / 100.0, 0.015);
            // The coefficients left are those of the final fit.
            const Vector fitted = fittedAtKnots(x, c);
            for (std::size_t i = 0; i < n; ++i) EXPECT_NEAR(fitted[i], atFound.fitted[i], 1e-10);
            EXPECT_NEAR(work.statistics.criterion, atFound.criterion, 1e-13);
        }
    }
}

TEST(FitSmoothingSpline, StopsAtTheLimits) {
    const Vector x = grayKnots();
    const std::size_t n = x.size();
    const Vector w(n, 1.0);
    Vector c(n);
    SplineWork work;

    // With no noise to allow for, the interpolating spline is best.
    const Vector y = noisyGammaCurve(x);
    ASSERT_EQ(fitSmoothingSpline(x, y, w, 2, 0.0, c, work), 0);
    EXPECT_EQ(work.statistics.pStatistic, 0.0);
    Vector fitted = fittedAtKnots(x, c);
    for (std::size_t i = 0; i < n; ++i) EXPECT_NEAR(fitted[i], y[i], 1e-9);

    // Points on a line leave nothing to smooth: the line itself comes back.
    Vector line;
    for (double xi : x) line.push_back(0.02 + 0.0093 * xi);
    ASSERT_EQ(fitSmoothingSpline(x, line, w, 2, 1e-05, c, work), 0);
    EXPECT_EQ(work.statistics.pStatistic, 1.0);
    fitted = fittedAtKnots(x, c);
    for (std::size_t i = 0; i < n; ++i) EXPECT_NEAR(fitted[i], line[i], 1e-12);
}

TEST(FitSmoothingSpline, RefusesUnusableInput) {
    Vector x{1.0, 2.0, 3.5, 4.0, 6.0};
    Vector y{0.1, 0.2, 0.25, 0.4, 0.5};
    Vector w(5, 1.0);
    const Vector untouched{9.0, 9.0, 9.0, 9.0, 9.0};
    Vector c = untouched;
    SplineWork work;
    const auto fit = [&](int m) {
        return fitSmoothingSpline(x, y, w, m, 1e-05, c, work);
    };

    EXPECT_EQ(fit(0), kSplineBadOrder);
    EXPECT_EQ(fit(3), kSplineBadOrder);  // fewer than 2m points
    EXPECT_EQ(fitSmoothingSpline(std::span(x).first(3), std::span(y).first(3), std::span(w).first(3), 2, 1e-05,
                                 std::span(c).first(3), work),
              kSplineBadOrder);
    x[3] = 3.5;
    EXPECT_EQ(fit(2), kSplineBadData);  // knots not increasing
    x[3] = 4.0;
    w[0] = 0.0;
    EXPECT_EQ(fit(2), kSplineBadData);
    w[0] = 1.0;
    w[4] = -1.0;
    EXPECT_EQ(fit(2), kSplineBadData);
    w[4] = 1.0;
    y[2] = NAN;
    EXPECT_EQ(fit(2), kSplineBadData);
    y[2] = 0.25;
    x[4] = INFINITY;
    EXPECT_EQ(fit(2), kSplineBadData);
    x[4] = 6.0;
    EXPECT_EQ(c, untouched);

    // Knots so close that their divided differences overflow.
    const Vector tight{0.0, 1e-300, 2e-300, 3e-300};
    const Vector ones(4, 1.0);
    Vector c4(4, 9.0);
    EXPECT_EQ(fitSmoothingSpline(tight, std::span(y).first(4), ones, 2, 1e-05, c4, work), kSplineNoSolution);
    EXPECT_EQ(c4, Vector(4, 9.0));

    EXPECT_EQ(fit(2), 0);
}

}  // namespace
}  // namespace calivant
