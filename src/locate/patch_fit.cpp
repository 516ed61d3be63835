#include "locate/patch_fit.h"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace calivant {
namespace {

constexpr int kMinFitPatches = 8;
// Linear, display-encoded and between: what cameras and scanners deliver.
constexpr double kDevicePowers[] = {1.0, 0.6, 0.4};
constexpr int kMinGrayPatches = 4;
// A printed gray scale runs from near black to near white; uneven light on a
// plain surface also darkens steadily, but by far less.
constexpr double kMinGraySpan = 0.5;
// A gray patch is flat when its samples scatter by less than this share of
// the scale's span, and a quarter of the patches may fail that.
constexpr double kMaxGraySpread = 0.1;
constexpr double kMaxUnevenGrays = 0.25;

bool measured(const PatchRgb& rgb) { return !std::isnan(rgb[0]); }

// Ranks 0..n-1, ties sharing their mean rank.
std::vector<double> ranks(const std::vector<double>& values) {
    std::vector<int> order(values.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](int a, int b) { return values[static_cast<std::size_t>(a)] < values[static_cast<std::size_t>(b)]; });
    std::vector<double> rank(values.size());
    for (std::size_t k = 0; k < order.size();) {
        std::size_t end = k + 1;
        while (end < order.size() && values[static_cast<std::size_t>(order[end])] == values[static_cast<std::size_t>(order[k])]) ++end;
        const double mean = 0.5 * (static_cast<double>(k) + static_cast<double>(end - 1));
        for (std::size_t m = k; m < end; ++m) rank[static_cast<std::size_t>(order[m])] = mean;
        k = end;
    }
    return rank;
}

double correlation(const std::vector<double>& a, const std::vector<double>& b) {
    const double n = static_cast<double>(a.size());
    const double ma = std::accumulate(a.begin(), a.end(), 0.0) / n;
    const double mb = std::accumulate(b.begin(), b.end(), 0.0) / n;
    double sab = 0.0, saa = 0.0, sbb = 0.0;
    for (std::size_t k = 0; k < a.size(); ++k) {
        sab += (a[k] - ma) * (b[k] - mb);
        saa += (a[k] - ma) * (a[k] - ma);
        sbb += (b[k] - mb) * (b[k] - mb);
    }
    return saa > 0.0 && sbb > 0.0 ? sab / std::sqrt(saa * sbb) : 0.0;
}

}  // namespace

double referenceMisfit(const std::vector<PatchRgb>& gray, const std::vector<PatchRgb>& color,
                       const ReferenceData& reference) {
    std::vector<const PatchRgb*> rgb;
    std::vector<const CieTriple*> lab;
    for (std::size_t k = 0; k < gray.size() && k < static_cast<std::size_t>(reference.grayCount); ++k)
        if (measured(gray[k]) && reference.grayXYZ[k][0] != kReferenceMissing) {
            rgb.push_back(&gray[k]);
            lab.push_back(&reference.grayLab[k]);
        }
    for (std::size_t k = 0; k < color.size() && k < static_cast<std::size_t>(reference.colorCount); ++k)
        if (measured(color[k]) && reference.colorXYZ[k][0] != kReferenceMissing) {
            rgb.push_back(&color[k]);
            lab.push_back(&reference.colorLab[k]);
        }
    const Eigen::Index n = static_cast<Eigen::Index>(rgb.size());
    if (n < kMinFitPatches) return 1.0;
    Eigen::MatrixXd y(n, 3);
    double top = 0.0;
    for (Eigen::Index k = 0; k < n; ++k)
        for (int c = 0; c < 3; ++c) {
            y(k, c) = (*lab[static_cast<std::size_t>(k)])[static_cast<std::size_t>(c)];
            top = std::max(top, (*rgb[static_cast<std::size_t>(k)])[static_cast<std::size_t>(c)]);
        }
    const double spread = (y.rowwise() - y.colwise().mean()).squaredNorm();
    if (!(spread > 0.0) || !(top > 0.0)) return 1.0;
    // The device values may be encoded for display (a JPEG, a gamma-encoded
    // scan) or linear (a raw camera file): an affine map from a power of
    // them, whichever power fits best, stands for the device.
    double best = 1.0;
    for (double power : kDevicePowers) {
        Eigen::MatrixXd a(n, 4);
        for (Eigen::Index k = 0; k < n; ++k) {
            a(k, 0) = 1.0;
            for (int c = 0; c < 3; ++c)
                a(k, c + 1) = std::pow(std::max(0.0, (*rgb[static_cast<std::size_t>(k)])[static_cast<std::size_t>(c)] / top), power);
        }
        const Eigen::MatrixXd fit = a.colPivHouseholderQr().solve(y);
        const double residual = (a * fit - y).squaredNorm();
        best = std::min(best, std::sqrt(residual / spread));
    }
    return best;
}

double grayScaleRise(const std::vector<PatchRgb>& gray, const std::vector<double>& spread) {
    std::vector<double> index;
    std::vector<std::vector<double>> channel(3);
    for (std::size_t k = 0; k < gray.size(); ++k)
        if (measured(gray[k])) {
            index.push_back(static_cast<double>(k));
            for (int c = 0; c < 3; ++c) channel[static_cast<std::size_t>(c)].push_back(gray[k][static_cast<std::size_t>(c)]);
        }
    if (index.size() < static_cast<std::size_t>(kMinGrayPatches)) return -1.0;
    double lightest = 0.0, darkest = 1e300;
    for (std::size_t k = 0; k < index.size(); ++k) {
        const double level = (channel[0][k] + channel[1][k] + channel[2][k]) / 3.0;
        lightest = std::max(lightest, level);
        darkest = std::min(darkest, level);
    }
    if (!(lightest > 0.0) || (lightest - darkest) / lightest < kMinGraySpan) return 0.0;
    int uneven = 0;
    for (std::size_t k = 0; k < gray.size() && k < spread.size(); ++k)
        if (measured(gray[k]) && spread[k] > kMaxGraySpread * (lightest - darkest)) ++uneven;
    if (uneven > kMaxUnevenGrays * static_cast<double>(index.size())) return 0.0;
    const std::vector<double> indexRank = ranks(index);
    double rise = 1.0;
    for (const auto& values : channel) rise = std::min(rise, correlation(indexRank, ranks(values)));
    return rise;
}

}  // namespace calivant
