#pragma once
// A device described by one curve per channel and a 3 x 3 matrix:
//
//   XYZ = matrix x (s_R(R), s_G(G), s_B(B))     (white Y 100)
//
// Each curve is a power law bent by a monotone correction, with the device's
// black offset folded in:
//
//   s(d) = max(0, offset + (1 - offset) g(d)^gamma)
//   g(d) = (d + sum_k w_k I_k(d)) / (1 + sum_k w_k),   w_k >= 0
//
// where the I_k are rising quadratic splines from 0 at d = 0 to 1 at d = 1
// (integrals of hat functions on fixed knots, denser towards black). g runs
// from 0 to 1 and cannot turn back, so s cannot either; s(1) = 1, the scale
// of each channel is carried by the matrix. All parameters are fitted
// jointly to every patch, minimising the CIE L*a*b* differences (a* and b*
// weighted down with chroma, as CIEDE2000 does) by Levenberg-Marquardt.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "profile/profile_result.h"
#include "util/cie.h"

namespace calivant {

inline constexpr int kShaperKnots = 7;
// The knots of the correction splines, denser where a curve bends most.
inline constexpr std::array<double, kShaperKnots> kShaperKnotPositions = {0.0, 0.05, 0.12, 0.22, 0.38, 0.62, 1.0};

using Matrix3 = std::array<std::array<double, 3>, 3>;

struct ShaperCurve {
    double offset = 0.0;  // s(0) before holding at 0; negative for a dark offset or flare
    double gamma = 1.0;
    std::array<double, kShaperKnots> weights{};

    // s at a device value, which is taken as 0..1.
    double value(double device) const;
};

struct MatrixShaper {
    std::array<ShaperCurve, 3> curves;
    Matrix3 matrix{};  // rows X, Y, Z; column c the full contribution of channel c

    ColorTriple linear(const ColorTriple& device) const;
    CieTriple xyz(const ColorTriple& device) const;
};

// Fits the curves and the matrix to the patches (device values 0..1, their
// reference XYZ and L*a*b*). start, when given, is where the search begins
// (a fit to more patches of the same device); otherwise a start is estimated
// from the patches. Returns 0, or 1 when the fit is not finite or runs away.
int fitMatrixShaper(std::span<const ColorTriple> device, std::span<const ColorTriple> xyz,
                    std::span<const ColorTriple> lab, const MatrixShaper* start, MatrixShaper& out);

// A device whose channels mix before its curves as well as after them, as a
// scanner's saturation boost or a camera's look matrix mixes encoded values:
//
//   XYZ = matrix x s(mix x device)
//
// The mix's rows sum to 1, so a neutral passes it unchanged and the curves
// keep their meaning along the gray axis; outside 0..1 the curves go on with
// their end slopes, since a mixed value may stray a little beyond.
struct MixingShaper {
    Matrix3 mix{{{1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}}};
    MatrixShaper shaper;  // the curves s and the matrix after them

    ColorTriple mixed(const ColorTriple& device) const;
    // s(mix x device)
    ColorTriple linear(const ColorTriple& device) const;
    CieTriple xyz(const ColorTriple& device) const;
};

// A curve's value at any input: value() within 0..1, its end slopes beyond.
double extendedCurveValue(const ShaperCurve& curve, double input);

// Iterations of a refit from a fit to more patches of the device (a fold of
// a cross-validation starts close to its end).
inline constexpr int kMixingRefitIterations = 25;

// Fits the mix, the curves and the matrix to the patches by
// Levenberg-Marquardt, starting from a shaper/matrix fit to them with no mix.
// Returns 0, or 1 when the fit is not finite or runs away.
int fitMixingShaper(std::span<const ColorTriple> device, std::span<const ColorTriple> lab, const MatrixShaper& shaper,
                    MixingShaper& out);
// The same from a fit to more patches of the device, in at most
// kMixingRefitIterations steps.
int refitMixingShaper(std::span<const ColorTriple> device, std::span<const ColorTriple> lab, const MixingShaper& start,
                      MixingShaper& out);

// A curve at a device value (taken as 0..1, as value() takes it) with its
// derivatives by its parameters (offset, gamma, then the weights) and by the
// device value; all 0 where the curve is held at 0.
struct ShaperCurvePoint {
    double s = 0.0;
    std::array<double, 2 + kShaperKnots> bySetting{};
    double byDevice = 0.0;
};
ShaperCurvePoint shaperCurvePoint(const ShaperCurve& curve, double device);

// The matrix/TRC tags of a profile: each curve sampled at count device values
// 0, 1/(count-1), .., 1 as 16-bit codes (1.0 -> 65535), and the matrix
// columns as colorants.
MatrixTrcTags matrixTrcTagsOf(const MatrixShaper& shaper, int count);

}  // namespace calivant
