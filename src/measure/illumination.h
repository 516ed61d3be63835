#pragma once
// The light over the chart as the border patches of ColorChecker DC, SG and
// HCT show it, and what the illumination correction made of it. The record
// travels with the measurement so the log, the command line and the
// results window can say what was done; the correction itself reads the
// gray scale's tone curves and lives above, in profile/.

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace calivant {

enum class IlluminationStatus {
    Off,                  // the option is off
    NoBorderPatches,      // asked for, but the chart has none (IT8, ColorChecker 24)
    TooFewBorderPatches,  // asked for, but too few border patches could be used
    Even,                 // the border patches show no unevenness beyond their own scatter
    Corrected,
};

// Relative light at a point (u, t) of the chart, in the layout's
// coordinates: exp of a cubic in x = 2u - 1 and y = 2t - 1 plus the fourth
// power of the distance from the chart's centre (lens vignetting is radial),
// scaled so that the brightest point of the chart is 1. The cubic terms
// carry a strong one-sided fall-off, whose logarithm a quadratic bends
// away from by a few tenths of a percent at 30% fall-off.
inline constexpr int kIlluminationShapeTerms = 10;

struct IlluminationField {
    // Coefficients of 1 and of the shape terms below.
    std::array<double, kIlluminationShapeTerms + 1> logTerms{};
    // The chart's width over its height, which makes r a distance:
    // r^2 = ((aspect x)^2 + y^2) / (aspect^2 + 1), 1 at the corners.
    double aspect = 1.0;

    double at(double u, double t) const;
};

// The field's shape terms at (u, t): x, y, x^2, xy, y^2, r^4, x^3, x^2 y,
// x y^2, y^3.
std::array<double, kIlluminationShapeTerms> illuminationShapeTerms(double u, double t, double aspect);

struct IlluminationCorrection {
    IlluminationStatus status = IlluminationStatus::Off;
    IlluminationField field;
    // The field's range over the chart.
    double lowest = 1.0;
    double highest = 1.0;
    // Border patches the fit left out: samples that scatter (or lie outside
    // the picture), or light that departs from the field the others show.
    struct LeftOut {
        std::string name;
        bool outlying = false;  // else non-uniform
    };
    std::vector<LeftOut> leftOut;
};

inline constexpr std::string_view kIlluminationNoBorderLine =
    "Illumination not corrected: the chart has no border patches";
inline constexpr std::string_view kIlluminationTooFewLine =
    "Illumination not corrected: too few usable border patches";
inline constexpr std::string_view kIlluminationEvenLine =
    "Illumination not corrected: the border patches show even light";

// The lines the log (after the border uniformity figures) and the command
// line's measure print for a correction; none when the option was off.
std::vector<std::string> illuminationReport(const IlluminationCorrection& correction);

}  // namespace calivant
