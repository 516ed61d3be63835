#include "measure/illumination.h"

#include <cmath>

#include "util/format.h"

namespace calivant {

double IlluminationField::at(double u, double t) const {
    const double x = 2.0 * u - 1.0;
    const double y = 2.0 * t - 1.0;
    const double r2 = (aspect * aspect * x * x + y * y) / (aspect * aspect + 1.0);
    const auto& c = logTerms;
    return std::exp(c[0] + c[1] * x + c[2] * y + c[3] * x * x + c[4] * x * y + c[5] * y * y + c[6] * r2 * r2);
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
