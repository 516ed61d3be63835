#include "util/delta_e.h"

#include <cmath>

namespace calivant {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDegree = kPi / 180.0;
constexpr double k25ToThe7th = 6103515625.0;  // 25^7

double pow7(double v) {
    const double v2 = v * v;
    return v2 * v2 * v2 * v;
}

// Hue angle in degrees, 0..360; 0 for a neutral colour.
double hueDegrees(double b, double a) {
    if (a == 0.0 && b == 0.0) return 0.0;
    const double h = std::atan2(b, a) / kDegree;
    return h < 0.0 ? h + 360.0 : h;
}

}  // namespace

double deltaE2000(const CieTriple& lab1, const CieTriple& lab2) {
    const double c1 = std::hypot(lab1[1], lab1[2]);
    const double c2 = std::hypot(lab2[1], lab2[2]);
    const double cMean7 = pow7(0.5 * (c1 + c2));
    const double g = 0.5 * (1.0 - std::sqrt(cMean7 / (cMean7 + k25ToThe7th)));
    const double a1 = (1.0 + g) * lab1[1];
    const double a2 = (1.0 + g) * lab2[1];
    const double cp1 = std::hypot(a1, lab1[2]);
    const double cp2 = std::hypot(a2, lab2[2]);
    const double hp1 = hueDegrees(lab1[2], a1);
    const double hp2 = hueDegrees(lab2[2], a2);

    const double dL = lab2[0] - lab1[0];
    const double dC = cp2 - cp1;
    double dh = 0.0;
    if (cp1 * cp2 != 0.0) {
        dh = hp2 - hp1;
        if (dh > 180.0) dh -= 360.0;
        else if (dh < -180.0) dh += 360.0;
    }
    const double dH = 2.0 * std::sqrt(cp1 * cp2) * std::sin(0.5 * dh * kDegree);

    const double lMean = 0.5 * (lab1[0] + lab2[0]);
    const double cpMean = 0.5 * (cp1 + cp2);
    double hMean = hp1 + hp2;
    if (cp1 * cp2 != 0.0) {
        if (std::fabs(hp1 - hp2) > 180.0) hMean += hMean < 360.0 ? 360.0 : -360.0;
        hMean *= 0.5;
    }
    const double t = 1.0 - 0.17 * std::cos((hMean - 30.0) * kDegree) + 0.24 * std::cos(2.0 * hMean * kDegree) +
                     0.32 * std::cos((3.0 * hMean + 6.0) * kDegree) - 0.20 * std::cos((4.0 * hMean - 63.0) * kDegree);
    const double l50 = (lMean - 50.0) * (lMean - 50.0);
    const double sL = 1.0 + 0.015 * l50 / std::sqrt(20.0 + l50);
    const double sC = 1.0 + 0.045 * cpMean;
    const double sH = 1.0 + 0.015 * cpMean * t;
    const double dTheta = 30.0 * std::exp(-((hMean - 275.0) / 25.0) * ((hMean - 275.0) / 25.0));
    const double cpMean7 = pow7(cpMean);
    const double rT = -2.0 * std::sqrt(cpMean7 / (cpMean7 + k25ToThe7th)) * std::sin(2.0 * dTheta * kDegree);

    const double l = dL / sL;
    const double c = dC / sC;
    const double h = dH / sH;
    return std::sqrt(l * l + c * c + h * h + rT * c * h);
}

}  // namespace calivant
