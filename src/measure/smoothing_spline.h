#pragma once
// Generalized cross-validatory cubic smoothing spline (GCVSPL, half-order
// m = 2): a natural cubic spline with a knot at every data point whose
// smoothing parameter p is searched so that the estimated true mean squared
// error for a known noise variance is smallest.
//
// For a given p the spline s minimizes
//     sum w[i] (y[i] - s(x[i]))^2 + p * integral s''(x)^2 dx,
// that is y[i] - s(x[i]) = (p / w[i]) * (jump of the third derivative of s
// at x[i]). The spline is kept as coefficients c of a natural B-spline basis
// N_j (see evaluateSpline); B(i, j) = N_j(x_i), and the jumps WE(i, j) of the
// third derivative of N_j at x_i set the scale EL on which p is searched.
//
// Each trial solves for the second derivatives gamma of s at the inner knots
// (Reinsch): (R + p Q' W^-1 Q) gamma = Q' y, where Q gamma gives the jumps of
// the third derivative and R the roughness. The system in c instead,
// (B + p WE) c = y, loses the data term B to rounding as p nears the
// straight-line limit, and its error grows with p; this one stays well
// conditioned for every p. The fitted values then give c through the
// tridiagonal B. All matrix work is banded, so one trial costs time
// proportional to n.

#include <span>
#include <vector>

namespace calivant {

// Error codes of fitSmoothingSpline.
inline constexpr int kSplineBadOrder = 1;    // m is not 2, or fewer than 2m points
inline constexpr int kSplineBadData = 2;     // a weight not positive, knots not increasing, a value not finite
inline constexpr int kSplineNoSolution = 3;  // the arithmetic overflows

// The only half-order built: a natural cubic spline.
inline constexpr int kSplineHalfOrder = 2;

// Constants of the parameter search.
inline constexpr double kSplineSearchRatio = 2.0;
inline constexpr double kSplineGoldenStep = 0.6180339909461593;  // 1 / 1.618033983
inline constexpr double kSplineTolerance = 1e-06;
// Relative limit on p * EL below which the fit is pseudo-interpolation and
// above whose reciprocal it is the pseudo least-squares straight line.
inline constexpr double kSplineEps = 1e-15;

// Figures of the last criterion evaluation.
struct SplineStatistics {
    double crossValidation = 0.0;      // generalized cross-validation (ESN/TRN)/TRN
    double meanSquaredResidual = 0.0;  // ESN
    double residualTrace = 0.0;        // trace(I - A), A the influence matrix; TRN = this / n
    double pStatistic = 0.0;           // p/(1+p); exactly 0 or 1 at the limits
    double criterion = 0.0;            // ESN - VAL (2 TRN - 1)
    double estimatedVariance = 0.0;    // ESN/TRN
};

// The band matrices of one fit, each stored row by row with its diagonals
// side by side: entry (i, j) of a matrix with half-width h is at
// [i * (2h + 1) + (j - i + h)]. Rows of the inner-knot matrices are numbered
// by inner knot, 0 for x[1].
struct SplineWork {
    SplineStatistics statistics;
    std::vector<double> basis;        // B(i, j) = N_j(x_i), 3 diagonals
    std::vector<double> basisFactor;  // B factored without pivoting
    std::vector<double> penalty;      // WE(i, j) = jump of N_j''' at x_i / w[i], 5 diagonals
    std::vector<double> jumps;        // Q (n rows), 3 diagonals: (Q gamma)_i = jump of s''' at x_i
    std::vector<double> roughness;    // R (n - 2 rows), 3 diagonals
    std::vector<double> jumpProduct;  // Q' W^-1 Q (n - 2 rows), 5 diagonals
    std::vector<double> system;       // R + p Q' W^-1 Q, factored
    std::vector<double> inverse;      // the band of its inverse
    std::vector<double> gamma;        // s'' at the inner knots
    double basisNorm = 0.0;           // RB: sum of |B| / n
    double penaltyNorm = 0.0;         // EL: (sum of |WE| / n) / RB
};

// Value (derivative 0) or derivative 1 to 3 at z of the natural B-spline
// basis function j (0-based) over the knots x; n = x.size() >= 4.
double naturalBasisFunction(std::span<const double> x, int j, double z, int derivative);

// Fills the matrices that do not depend on p, and the norms, for the knots x
// and weights w (same size, at least 4, knots strictly increasing, weights
// positive). Returns kSplineNoSolution when they are not usable (knots so far
// apart or so close that the arithmetic overflows).
int buildSplineMatrices(std::span<const double> x, std::span<const double> w, SplineWork& work);

// Solves the spline for the smoothing parameter p (work prepared by
// buildSplineMatrices), leaves its coefficients in c and its figures in
// work.statistics, and returns the criterion for noise variance val.
double splineCriterion(std::span<const double> y, std::span<const double> w, double val, double p, SplineWork& work,
                       std::span<double> c);

// Coefficients c of the smoothing spline through (x, y) with weights w whose
// parameter minimizes the criterion for noise variance val. Returns 0 or an
// error code; with an error code c is not written.
int fitSmoothingSpline(std::span<const double> x, std::span<const double> y, std::span<const double> w, int m,
                       double val, std::span<double> c, SplineWork& work);

// The spline's value (derivative 0) or derivative 1 to 3 at t. interval is
// the knot interval of the previous call (start with 0); the search starts
// there and stores the interval of t.
double evaluateSpline(int derivative, int m, double t, std::span<const double> x, std::span<const double> c,
                      int& interval);

}  // namespace calivant
