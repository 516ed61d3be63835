#include "profile/fitted_table.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "profile/lookup_table.h"
#include "profile/regression.h"
#include "profile/tone_curves.h"

namespace calivant {
namespace {

constexpr int kFineInputEntries = 4096;
constexpr int kBisections = 60;

double axisDecode(const FittedTableForm& form, double code) { return form.lightnessAxes ? lightnessDecode(code) : code; }

// The device value 0..1 whose channel curve gives `linear`: the curves rise
// (or stay flat), so bisection finds it.
double deviceOfLinear(const FittedModel& model, int channel, double linear) {
    double lo = 0.0;
    double hi = 1.0;
    if (!(model.channelLinear(channel, lo) < linear)) return lo;
    if (!(model.channelLinear(channel, hi) > linear)) return hi;
    for (int i = 0; i < kBisections; ++i) {
        const double mid = 0.5 * (lo + hi);
        if (model.channelLinear(channel, mid) < linear) lo = mid;
        else hi = mid;
    }
    return 0.5 * (lo + hi);
}

CieTriple valueAtLinear(const FittedModel& model, const FittedTableForm& form, const ColorTriple& linear) {
    return form.connectionSpace == CieXyz ? model.xyzOfLinear(linear) : model.labOfLinear(linear);
}

CieTriple valueAtDevice(const FittedModel& model, const FittedTableForm& form, const ColorTriple& device) {
    return form.connectionSpace == CieXyz ? model.xyz(device) : model.lab(device);
}

// Per axis, the grid's n coordinates turned into what the model reads at
// them: linear values, or for a mixing model neutral-axis device values.
struct GridAxes {
    int n = 0;
    std::array<std::array<double, kMaxClutGridSize>, 3> values{};

    double at(int channel, double coordinate) const {
        const auto index = static_cast<std::size_t>(roundHalfAway(coordinate * (n - 1)));
        return values[static_cast<std::size_t>(channel)][index];
    }
};

GridAxes gridAxes(const FittedModel& model, const FittedTableForm& form, int n) {
    GridAxes axes;
    axes.n = n;
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < n; ++i) {
            const double linear = axisDecode(form, gridCoordinate(static_cast<std::size_t>(i), n));
            axes.values[static_cast<std::size_t>(c)][static_cast<std::size_t>(i)] =
                model.mixesChannels() ? deviceOfLinear(model, c, linear) : linear;
        }
    return axes;
}

std::uint16_t codeOf(double axisCode) { return static_cast<std::uint16_t>(roundHalfAway(std::clamp(axisCode, 0.0, 1.0) * 65535.0)); }

}  // namespace

double lightnessEncode(double linear) {
    return (116.0 * labF(std::clamp(linear, 0.0, 1.0)) - 16.0) / 100.0;
}

double lightnessDecode(double code) { return labFInverse((100.0 * code + 16.0) / 116.0); }

FittedTableForm fittedTableForm(FitModel model) {
    FittedTableForm form;
    form.inputEntries = kFineInputEntries;
    if (isSeedModel(model) && seedColorSpace(model) == CieLab) {
        // A polynomial in L*a*b* of the gray scale's lightness: its own
        // variables are already even in lightness.
        form.connectionSpace = CieLab;
        form.lightnessAxes = false;
    } else if (model == FitModel::MixingShaper) {
        // Mixed before the curves, the colour bends across the whole grid:
        // a grid even in lightness and L*a*b* values bend least with it.
        form.connectionSpace = CieLab;
        form.lightnessAxes = true;
    } else {
        // The others are linear in linear light, or nearly so after their
        // ridge: trilinear interpolation between grid points then
        // reproduces them up to the XYZ encoding's own steps.
        form.connectionSpace = CieXyz;
        form.lightnessAxes = false;
    }
    return form;
}

int profileConnectionSpace(const AdvancedOptions& options, const ProfileResult& result) {
    return result.fittedModel ? result.tableForm.connectionSpace : effectiveColorSpace(options);
}

double fittedAxisCode(const FittedModel& model, const FittedTableForm& form, int channel, double device) {
    const double linear = model.channelLinear(channel, device);
    return form.lightnessAxes ? lightnessEncode(linear) : std::clamp(linear, 0.0, 1.0);
}

CieTriple fittedTableValue(const FittedModel& model, const FittedTableForm& form, const ColorTriple& gridPoint) {
    ColorTriple read{};
    for (int c = 0; c < 3; ++c) {
        const double linear = axisDecode(form, gridPoint[c]);
        read[c] = model.mixesChannels() ? deviceOfLinear(model, c, linear) : linear;
    }
    return model.mixesChannels() ? valueAtDevice(model, form, read) : valueAtLinear(model, form, read);
}

int buildFittedTables(const FittedModel& model, const FittedTableForm& form, std::span<const DeviceRgb> grayDevice,
                      std::span<const DeviceRgb> colorDevice, const AdvancedOptions& options, ProfileTable& table,
                      ProfileResult& result) {
    if (!isValidClutSize(options.clutSize)) return 1;
    for (int c = 0; c < 3; ++c) {
        ToneCurve& curve = table.toneCurves[static_cast<std::size_t>(c)];
        for (std::size_t m = 0; m < curve.values.size(); ++m)
            curve.values[m] = codeOf(fittedAxisCode(model, form, c, static_cast<double>(m) / 65535.0));
    }
    table.inputTables.clear();
    if (form.inputEntries != 256) {
        const auto entries = static_cast<std::size_t>(form.inputEntries);
        table.inputTables.resize(3 * entries);
        for (int c = 0; c < 3; ++c)
            for (std::size_t i = 0; i < entries; ++i)
                table.inputTables[static_cast<std::size_t>(c) * entries + i] =
                    codeOf(fittedAxisCode(model, form, c, static_cast<double>(i) / static_cast<double>(entries - 1)));
    }

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
    const bool xyz = form.connectionSpace == CieXyz;
    PatchResiduals& residuals = result.patchResiduals;
    residuals.points.clear();
    residuals.residuals.clear();
    auto addResidual = [&](const ColorTriple& point, const CieTriple& target) {
        const CieTriple modelValue = fittedTableValue(model, form, point);
        residuals.points.push_back(point);
        residuals.residuals.push_back({target[0] - modelValue[0], target[1] - modelValue[1], target[2] - modelValue[2]});
    };
    for (std::size_t i = 0; i < result.colorLinear.size(); ++i)
        addResidual(result.colorLinear[i], xyz ? result.workColorXYZ[i] : result.workColorLab[i]);
    for (std::size_t i = 0; i < result.grayLinear.size(); ++i)
        addResidual(result.grayLinear[i], xyz ? result.workGrayXYZ[i] : result.workGrayLab[i]);
    for (const ColorTriple& r : residuals.residuals)
        if (!plausibleLab(r)) return 1;

    const int n = options.clutSize;
    const GridAxes axes = gridAxes(model, form, n);
    auto value = [&](double r, double g, double b) {
        const ColorTriple read{axes.at(0, r), axes.at(1, g), axes.at(2, b)};
        return model.mixesChannels() ? valueAtDevice(model, form, read) : valueAtLinear(model, form, read);
    };
    const PatchResiduals* correction = options.eliminateResiduals != 0 ? &residuals : nullptr;
    const bool filled = fillOnCores(
        static_cast<std::size_t>(n) * static_cast<std::size_t>(n), 0, [&](std::size_t first, std::size_t last) {
            return fillGridRows(n, correction, first, last, table.clut.data(), value,
                                [&](const CieTriple& v, std::uint16_t* out) {
                                    return xyz ? encodeXyzPoint(v, out) : encodeLabPoint(v, out);
                                });
        });
    return filled ? 0 : 1;
}

}  // namespace calivant
