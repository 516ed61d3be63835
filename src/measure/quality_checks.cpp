#include "measure/quality_checks.h"

#include <algorithm>
#include <cmath>
#include <span>


namespace calivant {

int checkUniformity(TargetMeasurement& m, const TargetLayout& layout, MeasureMode mode, Diagnostics& diagnostics) {
    const bool mark = mode == MeasureMode::Compute;
    int count = 0;
    // A deviation of -1 (no sample inside the image) is never counted.
    for (int i = 0; i < layout.grayCount; ++i) {
        if (m.grayDeviation[i] > kUniformityThreshold) {
            ++count;
            if (mark) m.grayBad[i] = 1;
        }
    }
    for (int i = 0; i < layout.colorCount; ++i) {
        if (m.colorDeviation[i] > kUniformityThreshold) {
            ++count;
            if (mark) m.colorBad[i] = 1;
        }
    }
    if (count == 0) return 0;
    if (mark)
        addError(diagnostics, kNonUniformError);
    else
        addWarning(diagnostics, kNonUniformWarning);
    return 1;
}

int checkGrayOrder(TargetMeasurement& m, int grayCount) {
    return checkGrayOrder(std::span(m.grayMeasured).first(static_cast<std::size_t>(std::max(grayCount, 0))));
}

int checkGrayOrder(std::span<DeviceRgb> gray) {
    int changed = 0;
    for (std::size_t i = 0; i + 1 < gray.size(); ++i) {
        for (int c = 0; c < 3; ++c) {
            double& lower = gray[i][c];
            double& upper = gray[i + 1][c];
            if (upper < lower) {
                std::swap(lower, upper);
                changed = 1;
            }
        }
    }
    return changed;
}

namespace {

double groupSpread(std::span<const DeviceRgb> group) {
    if (group.empty()) return 0.0;
    DeviceRgb mean{0.0, 0.0, 0.0};
    for (const DeviceRgb& p : group)
        for (int c = 0; c < 3; ++c) mean[c] += p[c];
    for (double& m : mean) m /= static_cast<double>(group.size());
    double sum = 0.0;
    for (const DeviceRgb& p : group)
        for (int c = 0; c < 3; ++c) sum += (p[c] - mean[c]) * (p[c] - mean[c]);
    return std::sqrt(sum / static_cast<double>(group.size()));
}

}  // namespace

int checkIllumination(TargetMeasurement& m, const TargetLayout& layout, MeasureMode mode, Diagnostics& diagnostics) {
    m.whiteUniformity = groupSpread(std::span(m.whiteMeasured).first(layout.whiteCount));
    m.midGrayUniformity = groupSpread(std::span(m.midGrayMeasured).first(layout.midGrayCount));
    m.blackUniformity = groupSpread(std::span(m.blackMeasured).first(layout.blackCount));
    if (m.whiteUniformity > kUniformityThreshold || m.midGrayUniformity > kUniformityThreshold ||
        m.blackUniformity > kUniformityThreshold) {
        if (mode == MeasureMode::Compute)
            addError(diagnostics, kIlluminationMessage);
        else
            addWarning(diagnostics, kIlluminationMessage);
        return 1;
    }
    return 0;
}

}  // namespace calivant
