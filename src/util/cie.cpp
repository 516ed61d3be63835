#include "util/cie.h"

#include <cmath>
#include <limits>

namespace calivant {

double labF(double t) {
    if (t > kLabThreshold) return std::pow(t, kLabCubeRootExponent);
    return kLabLinearSlope * t + kLabLinearOffset;
}

double labFInverse(double t) {
    const double cube = t * t * t;
    if (cube > kLabThreshold) return cube;
    return (t - kLabLinearOffset) * kLabInverseSlope;
}

void xyzToLab(double x, double y, double z, double& l, double& a, double& b) {
    const double fx = labF(x / kD50WhiteX);
    const double fy = labF(y / kD50WhiteY);
    const double fz = labF(z / kD50WhiteZ);
    l = 116.0 * fy - 16.0;
    a = 500.0 * (fx - fy);
    b = 200.0 * (fy - fz);
}

void labToXyz(double l, double a, double b, double& x, double& y, double& z) {
    const double fy = (l + 16.0) * 0.008620689655172414;
    const double fx = a * 0.002 + fy;
    const double fz = fy - b * 0.005;
    x = labFInverse(fx) * kD50WhiteX;
    y = labFInverse(fy) * kD50WhiteY;
    z = labFInverse(fz) * kD50WhiteZ;
}

CieTriple xyzToLab(const CieTriple& xyz) {
    CieTriple lab{};
    xyzToLab(xyz[0], xyz[1], xyz[2], lab[0], lab[1], lab[2]);
    return lab;
}

CieTriple labToXyz(const CieTriple& lab) {
    CieTriple xyz{};
    labToXyz(lab[0], lab[1], lab[2], xyz[0], xyz[1], xyz[2]);
    return xyz;
}

void chromaticity(double x, double y, double z, double& cx, double& cy) {
    const double s = x + y + z;
    cx = x / s;
    cy = y / s;
}

std::int64_t roundHalfAway(double v) {
    // 2^63 is exactly representable; anything at or past it would overflow
    // the conversion.
    constexpr double kLimit = 9223372036854775808.0;
    if (std::isnan(v)) return 0;
    const double shifted = v >= 0.0 ? v + 0.5 : v - 0.5;
    if (shifted >= kLimit) return std::numeric_limits<std::int64_t>::max();
    if (shifted <= -kLimit) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(shifted);
}

}  // namespace calivant
