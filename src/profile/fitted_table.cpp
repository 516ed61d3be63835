#include "profile/fitted_table.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <exception>
#include <thread>
#include <vector>

#include "profile/lookup_table.h"
#include "profile/regression.h"
#include "profile/tone_curves.h"

namespace calivant {
namespace {

double gridCoordinate(std::size_t index, int n) { return static_cast<double>(index) / (n - 1); }

// Rows [first, last) of the grid (a row: the n points of one R, G pair).
bool fillRows(const FittedModel& model, const PatchResiduals& residuals, bool eliminate, int n, std::size_t first,
              std::size_t last, std::uint16_t* clut) {
    const std::size_t size = static_cast<std::size_t>(n);
    std::array<double, kMaxClutGridSize> b;
    std::array<ColorTriple, kMaxClutGridSize> corrections;
    for (std::size_t k = 0; k < size; ++k) b[k] = gridCoordinate(k, n);
    for (std::size_t row = first; row < last; ++row) {
        const double r = gridCoordinate(row / size, n);
        const double g = gridCoordinate(row % size, n);
        if (eliminate)
            interpolateResidualRow(residuals, r, g, std::span<const double>(b.data(), size),
                                   std::span<ColorTriple>(corrections.data(), size));
        for (std::size_t k = 0; k < size; ++k) {
            CieTriple v = fittedTableLab(model, {r, g, b[k]});
            if (eliminate)
                for (int c = 0; c < 3; ++c) v[c] += corrections[k][c];
            if (!encodeLabPoint(v, clut + (row * size + k) * 3)) return false;
        }
    }
    return true;
}

}  // namespace

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
    const std::size_t rows = static_cast<std::size_t>(n) * static_cast<std::size_t>(n);
    const unsigned threadCount = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t count = std::min<std::size_t>(threadCount, rows);
    std::vector<char> succeeded(count, 0);
    const bool eliminate = options.eliminateResiduals != 0;
    auto fillRange = [&](std::size_t t) {
        succeeded[t] = fillRows(model, residuals, eliminate, n, rows * t / count, rows * (t + 1) / count,
                                table.clut.data())
                           ? 1
                           : 0;
    };
    std::vector<std::thread> workers;
    std::vector<std::size_t> leftOver;
    for (std::size_t t = 1; t < count; ++t) {
        try {
            workers.emplace_back(fillRange, t);
        } catch (const std::exception&) {
            leftOver.push_back(t);
        }
    }
    fillRange(0);
    for (std::size_t t : leftOver) fillRange(t);
    for (std::thread& w : workers) w.join();
    return std::all_of(succeeded.begin(), succeeded.end(), [](char ok) { return ok != 0; }) ? 0 : 1;
}

}  // namespace calivant
