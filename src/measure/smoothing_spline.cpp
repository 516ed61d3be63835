#include "measure/smoothing_spline.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <limits>

namespace calivant {
namespace {

// Entry (i, j) of a band matrix of half-width h, stored row by row.
std::size_t at(int i, int j, int h) {
    return static_cast<std::size_t>(i) * static_cast<std::size_t>(2 * h + 1) + static_cast<std::size_t>(j - i + h);
}

std::size_t ix(int i) { return static_cast<std::size_t>(i); }

// Basis function j is scale * (divided difference over knots first..last of
// a truncated cubic). Left-sided functions use (t - z)^3_+ and are linear
// below the first knot; right-sided ones use (z - t)^3_+ and are linear above
// the last, which makes every combination a natural spline.
struct BasisShape {
    int first;
    int last;
    double scale;
    bool rightSided;
};

BasisShape basisShape(std::span<const double> x, int j) {
    const int n = static_cast<int>(x.size());
    assert(n >= 4 && j >= 0 && j < n);
    if (j == 0) return {0, 2, 1.0, false};
    if (j == 1) return {0, 3, 1.0, false};
    if (j == n - 2) return {n - 4, n - 1, -1.0, true};
    if (j == n - 1) return {n - 3, n - 1, 1.0, true};
    // The usual cubic B-spline, normalized to sum to one.
    return {j - 2, j + 2, x[ix(j + 2)] - x[ix(j - 2)], false};
}

// The weight of knot k in the divided difference over knots first..last.
double dividedDifferenceWeight(std::span<const double> x, int first, int last, int k) {
    double product = 1.0;
    for (int i = first; i <= last; ++i)
        if (i != k) product *= x[ix(k)] - x[ix(i)];
    return 1.0 / product;
}

// d^derivative/dz^derivative of (knot - z)^3_+ (left) or (z - knot)^3_+ (right).
double truncatedCubic(double knot, double z, int derivative, bool rightSided) {
    const double u = rightSided ? z - knot : knot - z;
    if (!(u > 0.0)) return 0.0;
    const double sign = rightSided ? 1.0 : -1.0;
    switch (derivative) {
        case 0: return u * u * u;
        case 1: return sign * 3.0 * u * u;
        case 2: return 6.0 * u;
        case 3: return sign * 6.0;
        default: return 0.0;
    }
}

bool allFinite(std::span<const double> values) {
    return std::all_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); });
}

// Factors the band matrix a (n rows, half-width h) in place into a unit
// lower and an upper band factor, without pivoting: the matrices factored
// here are symmetric positive definite, or B, which is totally positive.
// Returns false on a pivot that is zero or not finite.
bool factorBand(std::vector<double>& a, int n, int h) {
    for (int k = 0; k < n; ++k) {
        const double pivot = a[at(k, k, h)];
        if (pivot == 0.0 || !std::isfinite(pivot)) return false;
        for (int i = k + 1; i <= std::min(k + h, n - 1); ++i) {
            const double factor = a[at(i, k, h)] / pivot;
            a[at(i, k, h)] = factor;
            for (int j = k + 1; j <= std::min(k + h, n - 1); ++j) a[at(i, j, h)] -= factor * a[at(k, j, h)];
        }
    }
    return true;
}

// Solves (LU) out = rhs; out may be rhs itself.
void solveBand(const std::vector<double>& lu, int n, int h, std::span<const double> rhs, std::span<double> out) {
    for (int i = 0; i < n; ++i) {
        double sum = rhs[ix(i)];
        for (int k = std::max(0, i - h); k < i; ++k) sum -= lu[at(i, k, h)] * out[ix(k)];
        out[ix(i)] = sum;
    }
    for (int i = n - 1; i >= 0; --i) {
        double sum = out[ix(i)];
        for (int k = i + 1; k <= std::min(i + h, n - 1); ++k) sum -= lu[at(i, k, h)] * out[ix(k)];
        out[ix(i)] = sum / lu[at(i, i, h)];
    }
}

// The band of Z = (LU)^-1, from U Z = L^-1 (unit lower, so its upper part is
// the identity) and Z L = U^-1 (upper, so the lower part of Z L vanishes).
// Working upward from the last row, each entry needs only band entries that
// are already known.
void invertBand(const std::vector<double>& lu, int n, int h, std::vector<double>& z) {
    for (int i = n - 1; i >= 0; --i) {
        const int right = std::min(i + h, n - 1);
        for (int j = right; j >= i; --j) {
            double sum = j == i ? 1.0 : 0.0;
            for (int k = i + 1; k <= right; ++k) sum -= lu[at(i, k, h)] * z[at(k, j, h)];
            z[at(i, j, h)] = sum / lu[at(i, i, h)];
        }
        for (int j = i - 1; j >= std::max(0, i - h); --j) {
            double sum = 0.0;
            for (int k = j + 1; k <= std::min(j + h, n - 1); ++k) sum -= z[at(i, k, h)] * lu[at(k, j, h)];
            z[at(i, j, h)] = sum;
        }
    }
}

}  // namespace

double naturalBasisFunction(std::span<const double> x, int j, double z, int derivative) {
    assert(derivative >= 0);
    BasisShape shape = basisShape(x, j);
    // A fourth divided difference of a cubic vanishes, so an inner B-spline
    // is the same over (t - z)^3_+ and (z - t)^3_+. Taking the side with the
    // fewer knots beyond z avoids cancellation and gives exact zeros outside
    // the support.
    if (shape.last - shape.first == 4 && z < x[ix(j)]) shape.rightSided = true;
    double sum = 0.0;
    for (int k = shape.first; k <= shape.last; ++k)
        sum += dividedDifferenceWeight(x, shape.first, shape.last, k) *
               truncatedCubic(x[ix(k)], z, derivative, shape.rightSided);
    return shape.scale * sum;
}

int buildSplineMatrices(std::span<const double> x, std::span<const double> w, SplineWork& work) {
    const int n = static_cast<int>(x.size());
    assert(n >= 4 && w.size() == x.size());
    const int inner = n - 2;
    work.basis.assign(ix(n) * 3, 0.0);
    work.penalty.assign(ix(n) * 5, 0.0);
    work.jumps.assign(ix(n) * 3, 0.0);
    work.roughness.assign(ix(inner) * 3, 0.0);
    work.jumpProduct.assign(ix(inner) * 5, 0.0);
    work.system.assign(ix(inner) * 5, 0.0);
    work.inverse.assign(ix(inner) * 5, 0.0);
    work.gamma.assign(ix(inner), 0.0);

    double basisSum = 0.0;
    for (int i = 0; i < n; ++i) {
        for (int j = std::max(0, i - 1); j <= std::min(n - 1, i + 1); ++j) {
            const double value = naturalBasisFunction(x, j, x[ix(i)], 0);
            work.basis[at(i, j, 1)] = value;
            basisSum += std::abs(value);
        }
    }
    // A truncated cubic's third derivative jumps by 6 at its knot, so basis
    // function j makes the third derivative jump at each of its knots by 6
    // times its scale times that knot's divided-difference weight.
    double penaltySum = 0.0;
    for (int j = 0; j < n; ++j) {
        const BasisShape shape = basisShape(x, j);
        for (int k = shape.first; k <= shape.last; ++k) {
            const double jump = 6.0 * shape.scale * dividedDifferenceWeight(x, shape.first, shape.last, k);
            const double value = jump / w[ix(k)];
            work.penalty[at(k, j, 2)] = value;
            penaltySum += std::abs(value);
        }
    }
    work.basisNorm = basisSum / n;
    work.penaltyNorm = penaltySum / n / work.basisNorm;

    // With second derivatives gamma at the knots (0 at both ends), the third
    // derivative on [x_j, x_j+1] is (gamma_j+1 - gamma_j) / h_j; column j of
    // Q gives its jumps, and the integral of s''^2 is gamma' R gamma.
    for (int j = 1; j <= inner; ++j) {
        const double before = x[ix(j)] - x[ix(j - 1)];
        const double after = x[ix(j + 1)] - x[ix(j)];
        work.jumps[at(j - 1, j, 1)] = 1.0 / before;
        work.jumps[at(j, j, 1)] = -1.0 / before - 1.0 / after;
        work.jumps[at(j + 1, j, 1)] = 1.0 / after;
        work.roughness[at(j - 1, j - 1, 1)] = (before + after) / 3.0;
        if (j < inner) work.roughness[at(j - 1, j, 1)] = work.roughness[at(j, j - 1, 1)] = after / 6.0;
    }
    for (int i = 0; i < n; ++i)
        for (int j1 = std::max(1, i - 1); j1 <= std::min(inner, i + 1); ++j1)
            for (int j2 = std::max(1, i - 1); j2 <= std::min(inner, i + 1); ++j2)
                work.jumpProduct[at(j1 - 1, j2 - 1, 2)] +=
                    work.jumps[at(i, j1, 1)] * work.jumps[at(i, j2, 1)] / w[ix(i)];

    work.basisFactor = work.basis;
    const bool usable = std::isfinite(work.basisNorm) && work.basisNorm > 0.0 && std::isfinite(work.penaltyNorm) &&
                        work.penaltyNorm > 0.0 && allFinite(work.jumpProduct) && allFinite(work.roughness) &&
                        factorBand(work.basisFactor, n, 1);
    return usable ? 0 : kSplineNoSolution;
}

double splineCriterion(std::span<const double> y, std::span<const double> w, double val, double p, SplineWork& work,
                       std::span<double> c) {
    const int n = static_cast<int>(y.size());
    const int inner = n - 2;
    assert(n >= 4 && w.size() == y.size() && c.size() == y.size());
    assert(work.basis.size() == ix(n) * 3);
    const double el = work.penaltyNorm;
    SplineStatistics& stats = work.statistics;

    double dp = p;
    stats.pStatistic = p / (1.0 + p);
    if (p * el < kSplineEps) {
        dp = kSplineEps / el;
        stats.pStatistic = 0.0;
    }
    if (p * el * kSplineEps > 1.0) {
        dp = 1.0 / (el * kSplineEps);
        stats.pStatistic = 1.0;
    }

    std::vector<double>& system = work.system;
    std::vector<double>& gamma = work.gamma;
    for (int k = 0; k < inner; ++k) {
        for (int l = std::max(0, k - 2); l <= std::min(inner - 1, k + 2); ++l) {
            double value = dp * work.jumpProduct[at(k, l, 2)];
            if (std::abs(k - l) <= 1) value += work.roughness[at(k, l, 1)];
            system[at(k, l, 2)] = value;
        }
        const int j = k + 1;
        gamma[ix(k)] = work.jumps[at(j - 1, j, 1)] * y[ix(j - 1)] + work.jumps[at(j, j, 1)] * y[ix(j)] +
                       work.jumps[at(j + 1, j, 1)] * y[ix(j + 1)];
    }
    if (!factorBand(system, inner, 2)) {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        std::fill(c.begin(), c.end(), nan);
        stats = SplineStatistics{nan, nan, nan, stats.pStatistic, nan, nan};
        return nan;
    }
    solveBand(system, inner, 2, gamma, gamma);

    // I - A = dp W^-1 Q S^-1 Q', so trace(I - A) = dp trace(S^-1 Q' W^-1 Q),
    // which meets only the band of S^-1.
    invertBand(system, inner, 2, work.inverse);
    double trace = 0.0;
    for (int k = 0; k < inner; ++k)
        for (int l = std::max(0, k - 2); l <= std::min(inner - 1, k + 2); ++l)
            trace += work.inverse[at(k, l, 2)] * work.jumpProduct[at(l, k, 2)];
    const double trn = dp * trace / n;

    // y_i - s(x_i) = (dp / w_i) * (jump of the third derivative at x_i); the
    // coefficients then follow from the fitted values through B.
    double esn = 0.0;
    for (int i = 0; i < n; ++i) {
        double jump = 0.0;
        for (int j = std::max(1, i - 1); j <= std::min(inner, i + 1); ++j)
            jump += work.jumps[at(i, j, 1)] * gamma[ix(j - 1)];
        const double residual = dp / w[ix(i)] * jump;
        c[ix(i)] = y[ix(i)] - residual;
        esn += w[ix(i)] * residual * residual;
    }
    esn /= n;
    solveBand(work.basisFactor, n, 1, c, c);

    stats.crossValidation = esn / trn / trn;
    stats.meanSquaredResidual = esn;
    stats.residualTrace = trn * n;
    stats.criterion = esn - val * (2.0 * trn - 1.0);
    stats.estimatedVariance = esn / trn;
    return stats.criterion;
}

int fitSmoothingSpline(std::span<const double> x, std::span<const double> y, std::span<const double> w, int m,
                       double val, std::span<double> c, SplineWork& work) {
    const std::size_t n = x.size();
    assert(y.size() == n && w.size() == n && c.size() == n);
    if (m < 1 || n < 2 * static_cast<std::size_t>(m)) return kSplineBadOrder;
    if (m != kSplineHalfOrder) return kSplineBadOrder;
    if (!(w[0] > 0.0)) return kSplineBadData;
    for (std::size_t i = 1; i < n; ++i)
        if (!(w[i] > 0.0) || !(x[i] > x[i - 1])) return kSplineBadData;
    if (!allFinite(x) || !allFinite(y) || !allFinite(w)) return kSplineBadData;
    if (buildSplineMatrices(x, w, work) != 0) return kSplineNoSolution;

    std::vector<double> trial(n);
    const auto criterion = [&](double p) { return splineCriterion(y, w, val, p, work, trial); };
    const double ratio = kSplineSearchRatio;

    // Bracket the minimum: step p down from 1/EL while the criterion falls,
    // then up from the last good value. Reaching either limit ends the
    // search with that limit's spline.
    double r1 = 1.0 / work.penaltyNorm;
    double r2 = ratio * r1;
    double f2 = criterion(r2);
    double f1 = criterion(r1);
    bool bracketed = true;
    while (f1 <= f2) {
        if (work.statistics.pStatistic == 0.0) {
            bracketed = false;
            break;
        }
        f2 = f1;
        r2 = r1;
        r1 /= ratio;
        f1 = criterion(r1);
    }
    if (bracketed) {
        double r3 = ratio * r2;
        double f3 = criterion(r3);
        while (f3 <= f2) {
            if (work.statistics.pStatistic == 1.0) {
                bracketed = false;
                break;
            }
            f2 = f3;
            r3 *= ratio;
            f3 = criterion(r3);
        }
        if (bracketed) {
            // Golden section on [r1, r3] to a relative width of TOL.
            double lo = r1;
            double hi = r3;
            double alpha = (hi - lo) * kSplineGoldenStep;
            double a = lo + alpha;
            double b = hi - alpha;
            double fb = criterion(b);
            double fa = criterion(a);
            for (;;) {
                if (fb > fa) {
                    lo = b;
                    const double err = (hi - lo) / (lo + hi);
                    if (err * err + 1.0 == 1.0 || err <= kSplineTolerance) break;
                    alpha *= kSplineGoldenStep;
                    b = a;
                    fb = fa;
                    a = lo + alpha;
                    fa = criterion(a);
                } else {
                    hi = a;
                    const double err = (hi - lo) / (hi + lo);
                    if (err * err + 1.0 == 1.0 || err <= kSplineTolerance) break;
                    alpha *= kSplineGoldenStep;
                    a = b;
                    fa = fb;
                    b = hi - alpha;
                    fb = criterion(b);
                }
            }
            criterion((lo + hi) / 2.0);
        }
    }

    if (!allFinite(trial)) return kSplineNoSolution;
    std::copy(trial.begin(), trial.end(), c.begin());
    return 0;
}

double evaluateSpline(int derivative, int m, double t, std::span<const double> x, std::span<const double> c,
                      int& interval) {
    const int n = static_cast<int>(x.size());
    assert(m == kSplineHalfOrder && n >= 4 && c.size() == x.size());
    (void)m;
    int l = std::clamp(interval, 0, n - 2);
    while (l > 0 && t < x[static_cast<std::size_t>(l)]) --l;
    while (l < n - 2 && t >= x[static_cast<std::size_t>(l) + 1]) ++l;
    interval = l;

    // Only the four basis functions around the interval are non-zero there.
    double sum = 0.0;
    for (int j = std::max(0, l - 1); j <= std::min(n - 1, l + 2); ++j)
        sum += c[static_cast<std::size_t>(j)] * naturalBasisFunction(x, j, t, derivative);
    return sum;
}

}  // namespace calivant
