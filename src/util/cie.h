#pragma once
// CIE XYZ <-> L*a*b* relative to the D50 white, xy chromaticity, and the
// rounding used wherever a real becomes an integer code. XYZ is on the scale
// where the perfect white has Y = 100. The constants are the classic
// four-digit ones (0.008856, 7.787), not the exact CIE fractions, so that
// profiles and logs reproduce the historical figures.

#include <array>
#include <cstdint>

namespace calivant {

// One colour as three reals: X, Y, Z or L*, a*, b*.
using CieTriple = std::array<double, 3>;

inline constexpr double kD50WhiteX = 96.42;
inline constexpr double kD50WhiteY = 100.0;
inline constexpr double kD50WhiteZ = 82.49;

// Above this labF takes the cube root, at or below it the linear segment.
inline constexpr double kLabThreshold = 0.008856;
inline constexpr double kLabLinearSlope = 7.787;
inline constexpr double kLabLinearOffset = 0.13793103448275862;  // 16/116
inline constexpr double kLabInverseSlope = 0.1284191601386927;    // 1/7.787
inline constexpr double kLabCubeRootExponent = 0.3333333333333333;

double labF(double t);
// Tests the cube of t against the threshold, not t against a break point of
// its own, so it is not an exact inverse of labF right at the seam.
double labFInverse(double t);

void xyzToLab(double x, double y, double z, double& l, double& a, double& b);
void labToXyz(double l, double a, double b, double& x, double& y, double& z);
CieTriple xyzToLab(const CieTriple& xyz);
CieTriple labToXyz(const CieTriple& lab);

// x = X / (X + Y + Z), y = Y / (X + Y + Z). A triple summing to 0 gives
// non-finite results; callers that can meet pure black check for it.
void chromaticity(double x, double y, double z, double& cx, double& cy);

// Half away from zero: 2.5 -> 3, -2.5 -> -3, 0.49999 -> 0. Values beyond the
// 64-bit range saturate and NaN gives 0, so no input is undefined.
std::int64_t roundHalfAway(double v);

}  // namespace calivant
