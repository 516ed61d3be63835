#include "measure/quality_checks.h"

#include <cmath>
#include <span>

#include "shell/platform.h"
#include "shell/scan_session.h"

namespace calivant {

int checkUniformity(ScanSession& session, int interactive) {
    const TargetLayout& layout = session.targetLayout;
    int count = 0;
    // A deviation of -1 (no sample inside the image) is never counted.
    for (int i = 0; i < layout.grayCount; ++i) {
        if (session.grayDeviation[i] > kUniformityThreshold) {
            ++count;
            if (interactive == 1) session.grayBad[i] = 1;
        }
    }
    for (int i = 0; i < layout.colorCount; ++i) {
        if (session.colorDeviation[i] > kUniformityThreshold) {
            ++count;
            if (interactive == 1) session.colorBad[i] = 1;
        }
    }
    if (count == 0) return 0;
    if (interactive == 1)
        session.platform.showError(kNonUniformError);
    else
        session.platform.showWarning(kNonUniformWarning);
    return 1;
}

int checkGrayOrder(ScanSession& session) {
    const int n = session.targetLayout.grayCount;
    int changed = 0;
    for (int i = 0; i + 1 < n; ++i) {
        for (int c = 0; c < 3; ++c) {
            double& lower = session.grayMeasured[i][c];
            double& upper = session.grayMeasured[i + 1][c];
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

int checkIllumination(ScanSession& session, int interactive) {
    const TargetLayout& layout = session.targetLayout;
    session.whiteUniformity = groupSpread(std::span(session.whiteMeasured).first(layout.whiteCount));
    session.midGrayUniformity = groupSpread(std::span(session.midGrayMeasured).first(layout.midGrayCount));
    session.blackUniformity = groupSpread(std::span(session.blackMeasured).first(layout.blackCount));
    if (session.whiteUniformity > kUniformityThreshold || session.midGrayUniformity > kUniformityThreshold ||
        session.blackUniformity > kUniformityThreshold) {
        if (interactive == 1)
            session.platform.showError(kIlluminationMessage);
        else
            session.platform.showWarning(kIlluminationMessage);
        return 1;
    }
    return 0;
}

}  // namespace calivant
