#include "locate/patch_blobs.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>

namespace calivant {
namespace {

// An edge must rise this far above nothing even in a noise-free picture
// (gradient per pixel on the 0..1 scale).
constexpr float kMinEdgeGradient = 0.004f;
// ... and this many times the gradient of the flattest parts of the picture.
constexpr float kNoiseFactor = 3.0f;
// Side of the blocks whose mean gradient estimates the noise, and the share
// of the flattest blocks that stands for it.
constexpr int kNoiseBlock = 8;
constexpr double kNoiseQuantile = 0.02;
// Blocks this near black or white may be clipped, and clipping hides noise.
constexpr float kClipMargin = 0.02f;

constexpr double kMinBlobArea = 8.0;
// No patch covers more than this share of the picture (a ColorChecker
// filling the whole picture has patches of about 2 %).
constexpr double kMaxBlobShare = 0.125;
// area / (12 sqrt(det covariance)) is 1 for any parallelogram; a little more
// for small pixel blocks, less for ragged or hollow regions.
constexpr double kMinFill = 0.8;
constexpr double kMaxFill = 1.3;
// Longer over shorter axis: cells are about square, with keystone and
// unusual chart proportions allowing some stretch.
constexpr double kMaxElongation = 2.5;

// [1 2 1] / 4 along a row of the copy, the edge repeated.
void smoothAlongRow(const ReducedImage& image, int y, float* out) {
    const int w = image.width;
    for (int x = 0; x < w; ++x) {
        const float* l = image.at(std::max(x - 1, 0), y);
        const float* c = image.at(x, y);
        const float* r = image.at(std::min(x + 1, w - 1), y);
        float* o = out + static_cast<std::size_t>(x) * 3;
        for (int k = 0; k < 3; ++k) o[k] = 0.25f * (l[k] + 2.0f * c[k] + r[k]);
    }
}

// Row y of the copy smoothed by [1 2 1] / 4 in both directions, the edge
// repeated; `across` holds three rows of scratch.
void smoothedRow(const ReducedImage& image, int y, std::vector<float>& across, float* out) {
    const std::size_t row = static_cast<std::size_t>(image.width) * 3;
    float* b = across.data();
    float* c = b + row;
    float* t = c + row;
    smoothAlongRow(image, std::max(y - 1, 0), b);
    smoothAlongRow(image, y, c);
    smoothAlongRow(image, std::min(y + 1, image.height - 1), t);
    for (std::size_t i = 0; i < row; ++i) out[i] = 0.25f * (b[i] + 2.0f * c[i] + t[i]);
}

// The gradient magnitude of the smoothed copy, and in `flat` the gradient
// that noise alone gives in the flattest parts of the picture: the mean
// gradient of the flattest of the blocks not near black or white (clipping
// hides noise). The smoothed copy is made three rows at a time: whole, it
// would be the largest buffer of the search, beside a picture of hundreds of
// megabytes.
std::vector<float> gradientMagnitude(const ReducedImage& image, float& flat) {
    const int w = image.width;
    const int h = image.height;
    const std::size_t row = static_cast<std::size_t>(w) * 3;
    std::vector<float> g(static_cast<std::size_t>(w) * h);
    std::vector<float> across(3 * row);
    std::vector<float> rows(3 * row);
    float* below = rows.data();
    float* here = below + row;
    float* above = here + row;
    smoothedRow(image, 0, across, here);
    std::copy(here, here + row, below);
    smoothedRow(image, std::min(1, h - 1), across, above);

    const int blockColumns = w / kNoiseBlock;
    const int blockRows = h / kNoiseBlock;
    std::vector<double> sums(static_cast<std::size_t>(blockColumns));
    std::vector<double> levels(static_cast<std::size_t>(blockColumns) * 3);
    std::vector<float> blocks;
    for (int y = 0; y < h; ++y) {
        float* gy = &g[static_cast<std::size_t>(y) * w];
        for (int x = 0; x < w; ++x) {
            const int xl = std::max(x - 1, 0) * 3;
            const int xr = std::min(x + 1, w - 1) * 3;
            float sum = 0.0f;
            for (int k = 0; k < 3; ++k) {
                const float gx = 0.5f * (here[xr + k] - here[xl + k]);
                const float gyk = 0.5f * (above[x * 3 + k] - below[x * 3 + k]);
                sum += gx * gx + gyk * gyk;
            }
            gy[x] = std::sqrt(sum);
        }
        if (y / kNoiseBlock < blockRows) {
            for (int bx = 0; bx < blockColumns; ++bx)
                for (int x = bx * kNoiseBlock; x < (bx + 1) * kNoiseBlock; ++x) {
                    sums[static_cast<std::size_t>(bx)] += gy[x];
                    for (int k = 0; k < 3; ++k) levels[static_cast<std::size_t>(bx) * 3 + k] += here[x * 3 + k];
                }
            if (y % kNoiseBlock == kNoiseBlock - 1) {
                for (int bx = 0; bx < blockColumns; ++bx) {
                    bool clipped = false;
                    for (int k = 0; k < 3; ++k) {
                        const double mean = levels[static_cast<std::size_t>(bx) * 3 + k] / (kNoiseBlock * kNoiseBlock);
                        if (mean < kClipMargin || mean > 1.0 - kClipMargin) clipped = true;
                    }
                    if (!clipped) blocks.push_back(static_cast<float>(sums[static_cast<std::size_t>(bx)] / (kNoiseBlock * kNoiseBlock)));
                }
                std::fill(sums.begin(), sums.end(), 0.0);
                std::fill(levels.begin(), levels.end(), 0.0);
            }
        }
        // Move down a row.
        std::rotate(rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(row), rows.end());
        if (y + 2 <= h - 1) smoothedRow(image, y + 2, across, above);
        else std::copy(here, here + row, above);
    }

    flat = 0.0f;
    if (!blocks.empty()) {
        const std::size_t k = static_cast<std::size_t>(kNoiseQuantile * (blocks.size() - 1));
        std::nth_element(blocks.begin(), blocks.begin() + static_cast<std::ptrdiff_t>(k), blocks.end());
        flat = blocks[k];
    }
    return g;
}

int findRoot(std::vector<std::int32_t>& parent, std::int32_t i) {
    while (parent[i] != i) {
        parent[i] = parent[parent[i]];
        i = parent[i];
    }
    return i;
}

struct Moments {
    double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0, syy = 0;
    double rgb[3] = {0, 0, 0};
};

}  // namespace

std::vector<PatchBlob> findPatchBlobs(const ReducedImage& image) {
    const int w = image.width;
    const int h = image.height;
    std::vector<PatchBlob> blobs;
    if (w < 3 || h < 3) return blobs;
    float flat = 0.0f;
    std::vector<float> g = gradientMagnitude(image, flat);
    const float threshold = std::max(kMinEdgeGradient, kNoiseFactor * flat);

    // Union-find over the flat pixels, 4-connected.
    const std::size_t n = static_cast<std::size_t>(w) * h;
    std::vector<std::int32_t> parent(n, -1);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const std::int32_t i = y * w + x;
            if (g[static_cast<std::size_t>(i)] > threshold) continue;
            parent[static_cast<std::size_t>(i)] = i;
            if (x > 0 && parent[static_cast<std::size_t>(i - 1)] >= 0) parent[static_cast<std::size_t>(i)] = findRoot(parent, i - 1);
            if (y > 0 && parent[static_cast<std::size_t>(i - w)] >= 0) {
                const std::int32_t a = findRoot(parent, i - w);
                const std::int32_t b = findRoot(parent, i);
                if (a != b) parent[static_cast<std::size_t>(std::max(a, b))] = std::min(a, b);
            }
        }
    std::vector<float>().swap(g);

    std::vector<std::int32_t> slot(n, -1);
    std::vector<Moments> moments;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const std::int32_t i = y * w + x;
            if (parent[static_cast<std::size_t>(i)] < 0) continue;
            const std::size_t root = static_cast<std::size_t>(findRoot(parent, i));
            if (slot[root] < 0) {
                slot[root] = static_cast<std::int32_t>(moments.size());
                moments.emplace_back();
            }
            Moments& m = moments[static_cast<std::size_t>(slot[root])];
            m.n += 1;
            m.sx += x;
            m.sy += y;
            m.sxx += static_cast<double>(x) * x;
            m.sxy += static_cast<double>(x) * y;
            m.syy += static_cast<double>(y) * y;
            const float* p = image.at(x, y);
            for (int k = 0; k < 3; ++k) m.rgb[k] += p[k];
        }

    const double maxArea = kMaxBlobShare * static_cast<double>(n);
    for (const Moments& m : moments) {
        if (m.n < kMinBlobArea || m.n > maxArea) continue;
        const double cx = m.sx / m.n;
        const double cy = m.sy / m.n;
        const double vxx = m.sxx / m.n - cx * cx;
        const double vxy = m.sxy / m.n - cx * cy;
        const double vyy = m.syy / m.n - cy * cy;
        const double det = vxx * vyy - vxy * vxy;
        if (!(det > 0.0)) continue;
        const double fill = m.n / (12.0 * std::sqrt(det));
        if (fill < kMinFill || fill > kMaxFill) continue;
        const double half = 0.5 * (vxx + vyy);
        const double root = std::sqrt(std::max(0.0, half * half - det));
        const double major = half + root;
        const double minor = half - root;
        if (!(minor > 0.0) || major > kMaxElongation * kMaxElongation * minor) continue;
        PatchBlob blob;
        blob.x = cx;
        blob.y = cy;
        blob.area = m.n;
        for (int k = 0; k < 3; ++k) blob.rgb[k] = static_cast<float>(m.rgb[k] / m.n);
        blobs.push_back(blob);
    }
    if (blobs.size() > static_cast<std::size_t>(kMaxBlobs)) {
        std::nth_element(blobs.begin(), blobs.begin() + kMaxBlobs, blobs.end(),
                         [](const PatchBlob& a, const PatchBlob& b) { return a.area > b.area; });
        blobs.resize(kMaxBlobs);
    }
    return blobs;
}

}  // namespace calivant
