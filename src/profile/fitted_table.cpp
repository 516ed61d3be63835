#include "profile/fitted_table.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "profile/lookup_table.h"
#include "profile/regression.h"
#include "profile/tone_curves.h"

namespace calivant {

double lightnessEncode(double linear) {
    return (116.0 * labF(std::clamp(linear, 0.0, 1.0)) - 16.0) / 100.0;
}

double lightnessDecode(double code) { return labFInverse((100.0 * code + 16.0) / 116.0); }

void fittedInputCurve(const FittedModel& model, int channel, ToneCurve& curve) {
    for (std::size_t m = 0; m < curve.values.size(); ++m) {
        const double d = static_cast<double>(m) / 65535.0;
        const double linear = model.channelLinear(channel, d);
        const double code = std::clamp(lightnessEncode(linear), 0.0, 1.0) * 65535.0;
        curve.values[m] = static_cast<std::uint16_t>(roundHalfAway(code));
    }
}

CieTriple fittedTableLab(const FittedModel& model, const ColorTriple& gridPoint) {
    return model.labOfLinear(
        {lightnessDecode(gridPoint[0]), lightnessDecode(gridPoint[1]), lightnessDecode(gridPoint[2])});
}

int buildFittedTables(const FittedModel& model, std::span<const DeviceRgb> grayDevice,
                      std::span<const DeviceRgb> colorDevice, const AdvancedOptions& options, ProfileTable& table,
                      ProfileResult& result) {
    if (!isValidClutSize(options.clutSize)) return 1;
    for (int c = 0; c < 3; ++c) fittedInputCurve(model, c, table.toneCurves[static_cast<std::size_t>(c)]);

    auto gridOf = [&](const DeviceRgb& device) {
        ColorTriple p;
        for (int c = 0; c < 3; ++c) p[c] = linearize(table.toneCurves[static_cast<std::size_t>(c)], device[c]);
        return p;
    };
    result.grayLinear.clear();
    result.colorLinear.clear();
    for (const DeviceRgb& d : grayDevice) result.grayLinear.push_back(gridOf(d));
    for (const DeviceRgb& d : colorDevice) result.colorLinear.push_back(gridOf(d));

    // Residuals in the order the correction visits them: colours, then grays.
    PatchResiduals& residuals = result.patchResiduals;
    residuals.points.clear();
    residuals.residuals.clear();
    auto addResidual = [&](const ColorTriple& point, const CieTriple& target) {
        const CieTriple modelValue = fittedTableLab(model, point);
        residuals.points.push_back(point);
        residuals.residuals.push_back({target[0] - modelValue[0], target[1] - modelValue[1], target[2] - modelValue[2]});
    };
    for (std::size_t i = 0; i < result.colorLinear.size(); ++i) addResidual(result.colorLinear[i], result.workColorLab[i]);
    for (std::size_t i = 0; i < result.grayLinear.size(); ++i) addResidual(result.grayLinear[i], result.workGrayLab[i]);
    for (const ColorTriple& r : residuals.residuals)
        if (!plausibleLab(r)) return 1;

    const int n = options.clutSize;
    const PatchResiduals* correction = options.eliminateResiduals != 0 ? &residuals : nullptr;
    const bool filled = fillOnCores(
        static_cast<std::size_t>(n) * static_cast<std::size_t>(n), 0, [&](std::size_t first, std::size_t last) {
            return fillGridRows(
                n, correction, first, last, table.clut.data(),
                [&](double r, double g, double b) { return fittedTableLab(model, {r, g, b}); },
                [](const CieTriple& v, std::uint16_t* out) { return encodeLabPoint(v, out); });
        });
    return filled ? 0 : 1;
}

}  // namespace calivant
