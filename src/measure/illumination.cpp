#include "measure/illumination.h"

#include <cmath>

#include "util/format.h"

namespace calivant {

std::array<double, kIlluminationShapeTerms> illuminationShapeTerms(double u, double t, double aspect) {
    const double x = 2.0 * u - 1.0;
    const double y = 2.0 * t - 1.0;
    const double r2 = (aspect * aspect * x * x + y * y) / (aspect * aspect + 1.0);
    return {x, y, x * x, x * y, y * y, r2 * r2, x * x * x, x * x * y, x * y * y, y * y * y};
}

double IlluminationField::at(double u, double t) const {
    const auto terms = illuminationShapeTerms(u, t, aspect);
    double v = logTerms[0];
    for (std::size_t k = 0; k < terms.size(); ++k) v += logTerms[k + 1] * terms[k];
    return std::exp(v);
}

std::vector<std::string> illuminationReport(const IlluminationCorrection& correction) {
    std::vector<std::string> lines;
    switch (correction.status) {
        case IlluminationStatus::Off: break;
        case IlluminationStatus::NoBorderPatches: lines.emplace_back(kIlluminationNoBorderLine); break;
        case IlluminationStatus::TooFewBorderPatches: lines.emplace_back(kIlluminationTooFewLine); break;
        case IlluminationStatus::Even: lines.emplace_back(kIlluminationEvenLine); break;
        case IlluminationStatus::Corrected:
            lines.push_back(
                formatText("Illumination corrected: %2f to %2f of the brightest", {correction.lowest, correction.highest}));
            break;
    }
    if (!correction.leftOut.empty()) {
        std::string names;
        for (const IlluminationCorrection::LeftOut& patch : correction.leftOut)
            names += (names.empty() ? "" : ", ") + patch.name + (patch.outlying ? " (outlying)" : " (non-uniform)");
        lines.push_back("Left out of the illumination field: " + names);
    }
    return lines;
}

}  // namespace calivant
