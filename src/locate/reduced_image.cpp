#include "locate/reduced_image.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "util/parallel.h"

namespace calivant {
namespace {

// Below this many source pixels a second thread costs more than it saves.
constexpr long long kThreadedPixels = 2'000'000;
constexpr long long kMaxReducedPixels = 4'000'000;

// Rows firstRow .. lastRow - 1 of out, whose pixel (0, 0) is the image's
// reduced pixel (x0, y0).
template <bool Wide>
void reduceRows(const TargetImage& image, ReducedImage& out, int firstRow, int lastRow, int x0 = 0, int y0 = 0) {
    const int f = out.factor;
    const double scale = 1.0 / (static_cast<double>(f) * f * (Wide ? 65535.0 : 255.0));
    std::vector<std::uint32_t> sums(static_cast<std::size_t>(out.width) * 3);
    for (int y = firstRow; y < lastRow; ++y) {
        std::fill(sums.begin(), sums.end(), 0u);
        for (int r = 0; r < f; ++r) {
            const std::uint8_t* row =
                image.rows[static_cast<std::size_t>(y + y0) * f + r] + static_cast<std::size_t>(x0) * f * (Wide ? 6 : 3);
            std::uint32_t* sum = sums.data();
            for (int x = 0; x < out.width; ++x, sum += 3) {
                for (int k = 0; k < f; ++k) {
                    const std::uint8_t* p = row + (static_cast<std::size_t>(x) * f + k) * (Wide ? 6 : 3);
                    if constexpr (Wide) {
                        sum[0] += p[4] | (p[5] << 8);
                        sum[1] += p[2] | (p[3] << 8);
                        sum[2] += p[0] | (p[1] << 8);
                    } else {
                        sum[0] += p[2];
                        sum[1] += p[1];
                        sum[2] += p[0];
                    }
                }
            }
        }
        float* dst = &out.rgb[static_cast<std::size_t>(y) * out.width * 3];
        for (std::size_t i = 0; i < sums.size(); ++i) dst[i] = static_cast<float>(sums[i] * scale);
    }
}

}  // namespace

int reductionFactor(int width, int height, int side) {
    const int shorter = std::min(width, height);
    int factor = side > 0 ? std::max(1, shorter / side) : 1;
    // A very long, narrow picture would otherwise keep too many pixels.
    while (static_cast<long long>(width / factor) * (height / factor) > kMaxReducedPixels) ++factor;
    return factor;
}

ReducedImage reduceImage(const TargetImage& image, int factor) {
    ReducedImage out;
    const bool wide = image.format == PixelFormat::Rgb48;
    if ((!wide && image.format != PixelFormat::Rgb24) || factor < 1 || image.width < 1 || image.height < 1 ||
        static_cast<std::int64_t>(image.rows.size()) < image.height)
        return out;
    // A 16-bit sum of a block must fit 32 bits: 65535 * f * f < 2^32.
    factor = std::min(factor, 256);
    out.factor = factor;
    out.width = image.width / factor;
    out.height = image.height / factor;
    if (out.width < 1 || out.height < 1) return ReducedImage{};
    out.rgb.resize(static_cast<std::size_t>(out.width) * out.height * 3);

    auto run = [&](int first, int last) {
        if (wide) reduceRows<true>(image, out, first, last);
        else reduceRows<false>(image, out, first, last);
    };
    // Small pictures are not worth a thread's start.
    const unsigned workers = static_cast<long long>(image.width) * image.height >= kThreadedPixels ? 0u : 1u;
    runOnRanges(static_cast<std::size_t>(out.height), workers, [&](std::size_t first, std::size_t last) {
        run(static_cast<int>(first), static_cast<int>(last));
    });
    return out;
}

ReducedImage reduceRegion(const TargetImage& image, int factor, int x0, int y0, int width, int height) {
    ReducedImage out;
    const bool wide = image.format == PixelFormat::Rgb48;
    if ((!wide && image.format != PixelFormat::Rgb24) || factor < 1 || factor > 256 || x0 < 0 || y0 < 0 ||
        width < 1 || height < 1 || static_cast<std::int64_t>(x0 + width) * factor > image.width ||
        static_cast<std::int64_t>(y0 + height) * factor > image.height ||
        static_cast<std::int64_t>(image.rows.size()) < image.height)
        return out;
    out.factor = factor;
    out.width = width;
    out.height = height;
    out.rgb.resize(static_cast<std::size_t>(width) * height * 3);
    if (wide) reduceRows<true>(image, out, 0, height, x0, y0);
    else reduceRows<false>(image, out, 0, height, x0, y0);
    return out;
}

ReducedImage halveImage(const ReducedImage& image) {
    ReducedImage out;
    out.width = image.width / 2;
    out.height = image.height / 2;
    out.factor = image.factor * 2;
    if (out.width < 1 || out.height < 1) return ReducedImage{};
    out.rgb.resize(static_cast<std::size_t>(out.width) * out.height * 3);
    for (int y = 0; y < out.height; ++y)
        for (int x = 0; x < out.width; ++x) {
            const float* a = image.at(2 * x, 2 * y);
            const float* b = image.at(2 * x + 1, 2 * y);
            const float* c = image.at(2 * x, 2 * y + 1);
            const float* d = image.at(2 * x + 1, 2 * y + 1);
            float* o = &out.rgb[(static_cast<std::size_t>(y) * out.width + x) * 3];
            for (int k = 0; k < 3; ++k) o[k] = 0.25f * (a[k] + b[k] + c[k] + d[k]);
        }
    return out;
}

void sampleReduced(const ReducedImage& image, double x, double y, float out[3]) {
    // Written so that a NaN lands on the edge too.
    x = x > 0.0 ? std::min(x, image.width - 1.0) : 0.0;
    y = y > 0.0 ? std::min(y, image.height - 1.0) : 0.0;
    const int ix = std::min(static_cast<int>(x), std::max(image.width - 2, 0));
    const int iy = std::min(static_cast<int>(y), std::max(image.height - 2, 0));
    const int jx = std::min(ix + 1, image.width - 1);
    const int jy = std::min(iy + 1, image.height - 1);
    const float fx = static_cast<float>(x - ix);
    const float fy = static_cast<float>(y - iy);
    const float* p00 = image.at(ix, iy);
    const float* p10 = image.at(jx, iy);
    const float* p01 = image.at(ix, jy);
    const float* p11 = image.at(jx, jy);
    for (int c = 0; c < 3; ++c) {
        const float bottom = p00[c] + (p10[c] - p00[c]) * fx;
        const float top = p01[c] + (p11[c] - p01[c]) * fx;
        out[c] = bottom + (top - bottom) * fy;
    }
}

}  // namespace calivant
