#include "profile/reference_match.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "util/delta_e.h"
#include "util/format.h"

namespace calivant {
namespace {

double brightness(const DeviceRgb& rgb) { return (rgb[0] + rgb[1] + rgb[2]) / 3.0; }

// One channel taken to the reference's Y (0..1) through the gray patches:
// straight lines between them, the end segments carried on beyond them.
class ChannelToY {
public:
    ChannelToY(const TargetMeasurement& m, const ReferenceData& reference, int channel) {
        std::vector<std::pair<double, double>> points;
        for (int i = 0; i < reference.grayCount; ++i)
            points.emplace_back(m.grayMeasured[static_cast<std::size_t>(i)][static_cast<std::size_t>(channel)],
                                reference.grayXYZ[static_cast<std::size_t>(i)][1] / 100.0);
        std::sort(points.begin(), points.end());
        // Equal device values become one point at their mean Y.
        for (std::size_t i = 0; i < points.size();) {
            std::size_t j = i;
            double sum = 0.0;
            for (; j < points.size() && points[j].first == points[i].first; ++j) sum += points[j].second;
            points_.emplace_back(points[i].first, sum / static_cast<double>(j - i));
            i = j;
        }
    }

    bool usable() const { return points_.size() >= 2; }

    double operator()(double v) const {
        std::size_t k = 1;
        while (k + 1 < points_.size() && v > points_[k].first) ++k;
        const auto& [x0, y0] = points_[k - 1];
        const auto& [x1, y1] = points_[k];
        return y0 + (v - x0) * (y1 - y0) / (x1 - x0);
    }

private:
    std::vector<std::pair<double, double>> points_;
};

using Features = std::array<double, 4>;
using Matrix4 = std::array<std::array<double, 4>, 4>;
using Targets = std::array<std::array<double, 3>, 4>;

// Solves a w = b for the three columns of b; false when a is singular.
bool solve(Matrix4 a, Targets b, Targets& w) {
    for (int col = 0; col < 4; ++col) {
        int pivot = col;
        for (int r = col + 1; r < 4; ++r)
            if (std::fabs(a[r][col]) > std::fabs(a[pivot][col])) pivot = r;
        if (!(std::fabs(a[pivot][col]) > 1e-12)) return false;
        std::swap(a[col], a[pivot]);
        std::swap(b[col], b[pivot]);
        for (int r = col + 1; r < 4; ++r) {
            const double f = a[r][col] / a[col][col];
            for (int c = col; c < 4; ++c) a[r][c] -= f * a[col][c];
            for (int c = 0; c < 3; ++c) b[r][c] -= f * b[col][c];
        }
    }
    for (int row = 3; row >= 0; --row) {
        for (int c = 0; c < 3; ++c) {
            double v = b[row][c];
            for (int k = row + 1; k < 4; ++k) v -= a[row][k] * w[k][c];
            w[row][c] = v / a[row][row];
        }
    }
    return true;
}

}  // namespace

bool grayScaleRunsAgainstReference(const TargetMeasurement& measurement, const ReferenceData& reference) {
    if (reference.grayCount < 2) return false;
    std::size_t darkest = 0;
    std::size_t lightest = 0;
    for (std::size_t i = 1; i < static_cast<std::size_t>(reference.grayCount); ++i) {
        if (reference.grayXYZ[i][1] < reference.grayXYZ[darkest][1]) darkest = i;
        if (reference.grayXYZ[i][1] > reference.grayXYZ[lightest][1]) lightest = i;
    }
    return brightness(measurement.grayMeasured[lightest]) < brightness(measurement.grayMeasured[darkest]);
}

double referenceMismatchError(const TargetMeasurement& measurement, const ReferenceData& reference) {
    constexpr double kUnfit = std::numeric_limits<double>::infinity();
    const ChannelToY red(measurement, reference, 0), green(measurement, reference, 1), blue(measurement, reference, 2);
    if (!red.usable() || !green.usable() || !blue.usable()) return kUnfit;

    struct Patch {
        Features x;
        std::array<double, 3> xyz;
        CieTriple lab;
    };
    std::vector<Patch> patches;
    auto add = [&](const DeviceRgb& rgb, const CieTriple& xyz, const CieTriple& lab) {
        patches.push_back({{red(rgb[0]), green(rgb[1]), blue(rgb[2]), 1.0}, {xyz[0], xyz[1], xyz[2]}, lab});
    };
    for (std::size_t i = 0; i < static_cast<std::size_t>(reference.grayCount); ++i)
        add(measurement.grayMeasured[i], reference.grayXYZ[i], reference.grayLab[i]);
    for (std::size_t i = 0; i < static_cast<std::size_t>(reference.colorCount); ++i)
        add(measurement.colorMeasured[i], reference.colorXYZ[i], reference.colorLab[i]);
    if (patches.size() < 6) return kUnfit;

    Matrix4 a{};
    Targets b{};
    for (const Patch& p : patches)
        for (int r = 0; r < 4; ++r) {
            for (int c = 0; c < 4; ++c) a[r][c] += p.x[r] * p.x[c];
            for (int c = 0; c < 3; ++c) b[r][c] += p.x[r] * p.xyz[c];
        }
    double sum = 0.0;
    for (const Patch& p : patches) {
        // The sums without this patch.
        Matrix4 a1 = a;
        Targets b1 = b;
        for (int r = 0; r < 4; ++r) {
            for (int c = 0; c < 4; ++c) a1[r][c] -= p.x[r] * p.x[c];
            for (int c = 0; c < 3; ++c) b1[r][c] -= p.x[r] * p.xyz[c];
        }
        Targets w{};
        if (!solve(a1, b1, w)) return kUnfit;
        CieTriple xyz{};
        for (int c = 0; c < 3; ++c)
            for (int r = 0; r < 4; ++r) xyz[static_cast<std::size_t>(c)] += w[r][c] * p.x[r];
        const double error = deltaE2000(xyzToLab(xyz), p.lab);
        if (!std::isfinite(error)) return kUnfit;
        sum += error;
    }
    return sum / static_cast<double>(patches.size());
}

std::string referenceMismatchQuestion(double error) {
    return formatText("The reference file does not seem to match the chart (cross-validated error %2f)", {error});
}

}  // namespace calivant
