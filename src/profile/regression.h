#pragma once
// The regression model from linearized device RGB to CIE XYZ or L*a*b*: an
// unweighted least-squares polynomial fit over every patch of the target,
// its evaluation, and the inverse-distance interpolation of what the fit
// leaves unexplained (so a table can pass through every measured patch).
//
// Terms, in the order of the stored coefficients:
//   0: 1   1: R   2: G   3: B   4: R2   5: RG   6: RB   7: G2   8: GB   9: B2
//   10: R3  11: R2G  12: R2B  13: RG2  14: RGB  15: RB2  16: G3  17: G2B
//   18: GB2  19: B3
// Linear uses terms 0-3, Quadratic 0-9, Cubic 0-19.

#include <array>
#include <span>

#include "profile/profile_result.h"
#include "util/cie.h"
#include "measure/advanced_options.h"

#include "util/diagnostics.h"

namespace calivant {

// Coefficient rows beyond this sum of magnitudes, or patch residuals beyond
// it, fail the fit: such a model is numerically meaningless, and the bound
// keeps every value the table builder computes finite.
inline constexpr double kModelMagnitudeLimit = 1e90;

// Coefficient rows of a polynomial model: one per output component, one
// column per term.
using PolynomialRows = std::array<std::array<double, kCubicTermCount>, 3>;

// Least squares of the polynomial of termCount terms (4, 10 or 20) from
// points to targets; ridge > 0 penalises the coefficients of degree 2 and up by
// ridge times their squares, which keeps a model with few patches per term
// from swinging between them. Returns 1 when the normal equations are
// singular or the fit is not finite.
int fitPolynomial(std::span<const ColorTriple> points, std::span<const ColorTriple> targets, int termCount,
                  double ridge, PolynomialRows& out);
ColorTriple evaluatePolynomial(const PolynomialRows& rows, int termCount, double r, double g, double b);

// Number of terms of a model (Linear, Quadratic or Cubic).
int regressionTermCount(int model);

// The model that is fitted and evaluated: the setting, except that the Macbeth
// ColorChecker (24 patches) takes Cubic as Quadratic.
int effectiveRegressionModel(const AdvancedOptions& options, int targetType);

// Fits the Linear model and, for an effective Quadratic or Cubic model, that
// one too, from result.grayLinear / colorLinear to the working values of the
// options' colour space (workGrayXYZ / workColorXYZ or workGrayLab /
// workColorLab). On success writes linearCoefficients, modelCoefficients (not
// for Linear), effectiveModel and patchResiduals and returns 0. Reports
// "Regression error" and returns 1 when the normal equations are singular
// (a pivot exactly 0.0) or the fit is not finite; the Linear coefficients stay
// when only the higher-order fit fails.
int fitRegression(const AdvancedOptions& options, int targetType, ProfileResult& result, Diagnostics& diagnostics);

// The fitted model at (r, g, b), or the Linear model when forceLinear. The
// XYZ form sets each negative component to 0; the Lab form does not clip.
// Inputs are not clamped: outside 0..1 the polynomial extrapolates.
ColorTriple evaluateModelXyz(const ProfileResult& result, double r, double g, double b, bool forceLinear);
ColorTriple evaluateModelLab(const ProfileResult& result, double r, double g, double b, bool forceLinear);

// Residual correction at (r, g, b), computed from the patches as it stands:
// one model evaluation per patch per query. The table builder uses
// interpolateResidual, which gives the same bits.
ColorTriple residualCorrectionXyz(const ProfileResult& result, double r, double g, double b);
ColorTriple residualCorrectionLab(const ProfileResult& result, double r, double g, double b);

// Each patch's residual (working value minus model value, the XYZ model
// clipped at 0) in the colour space given, in visiting order.
void computePatchResiduals(const ProfileResult& result, int colorSpace, PatchResiduals& out);

// XYZ of the device's full red (channel 0), green (1) or blue (2) primary
// as the Linear model of the last fit estimates it, in the colour space the
// model was fitted in (colorSpace CieXyz or CieLab; the Lab result is
// converted). It includes the model's constant term: the primary on the
// target's black, not the primary's contribution alone. These are the
// profile's colorants.
CieTriple primaryXyz(const ProfileResult& result, int colorSpace, int channel);

// Inverse-distance (power 2) interpolation of precomputed residuals. A query
// on a patch returns that patch's residual, the first one visited winning.
ColorTriple interpolateResidual(const PatchResiduals& residuals, double r, double g, double b);

// interpolateResidual at (r, g, b[q]) for every q, to the bit: several
// queries share each pass over the patches and the R and G distances, which
// is what makes a table row cheap. out has the size of b.
void interpolateResidualRow(const PatchResiduals& residuals, double r, double g, std::span<const double> b,
                            std::span<ColorTriple> out);

}  // namespace calivant
