#include "make-target/picture_filters.h"

#include <algorithm>
#include <cmath>

#include "util/parallel.h"

namespace calivant {
namespace {

constexpr double kPi = 3.141592653589793;
// Entries of the light fall-off table across the picture.
constexpr int kLightSteps = 4096;

void fillClassicBackground(Plane& plane, int width, int height, BackgroundKind kind, double backgroundLevel, Random& random) {
    const double level = std::clamp(backgroundLevel, 0.0, 1.0);
    const std::array<double, 3> tint = {1.0, 0.98, 0.95};
    if (kind == BackgroundKind::Flat) {
        for (std::size_t i = 0; i < plane.size(); ++i) plane[i] = static_cast<float>(level * tint[i % 3]);
        return;
    }
    const double shortSide = std::min(width, height);
    if (kind == BackgroundKind::Striped) {
        const double period = std::max(6.0, shortSide / 20.0);
        const double angle = random.uniform(0.0, kPi);
        const double dx = std::cos(angle) / period;
        const double dy = std::sin(angle) / period;
        const double dark = std::clamp(level - 0.3, 0.0, 1.0);
        const double light = std::clamp(level + 0.3, 0.0, 1.0);
        for (int row = 0; row < height; ++row)
            for (int x = 0; x < width; ++x) {
                const double phase = x * dx + row * dy;
                const double value = phase - std::floor(phase) < 0.5 ? dark : light;
                float* out = &plane[(static_cast<std::size_t>(row) * width + x) * 3];
                for (int c = 0; c < 3; ++c) out[c] = static_cast<float>(value * tint[c]);
            }
        return;
    }
    // Noisy: smooth random blobs on a coarse grid, with fine grain on top.
    const double spacing = std::max(8.0, shortSide / 24.0);
    const int gridW = static_cast<int>(width / spacing) + 2;
    const int gridH = static_cast<int>(height / spacing) + 2;
    std::vector<double> grid(static_cast<std::size_t>(gridW) * gridH * 3);
    for (double& g : grid) g = random.uniform(-0.3, 0.3);
    auto smooth = [](double f) { return f * f * (3.0 - 2.0 * f); };
    for (int row = 0; row < height; ++row) {
        const double gy = row / spacing;
        const int iy = static_cast<int>(gy);
        const double fy = smooth(gy - iy);
        for (int x = 0; x < width; ++x) {
            const double gx = x / spacing;
            const int ix = static_cast<int>(gx);
            const double fx = smooth(gx - ix);
            float* out = &plane[(static_cast<std::size_t>(row) * width + x) * 3];
            for (int c = 0; c < 3; ++c) {
                auto at = [&](int i, int j) { return grid[(static_cast<std::size_t>(j) * gridW + i) * 3 + c]; };
                const double top = at(ix, iy) + (at(ix + 1, iy) - at(ix, iy)) * fx;
                const double bottom = at(ix, iy + 1) + (at(ix + 1, iy + 1) - at(ix, iy + 1)) * fx;
                const double value = level + top + (bottom - top) * fy + 0.05 * random.normal();
                out[c] = static_cast<float>(std::clamp(value, 0.0, 1.0) * tint[c]);
            }
        }
    }
}

// Paints the pixels of a shape given in its own frame: centre, half sizes,
// angle; ellipse or rectangle.
struct Shape {
    double cx, cy, halfA, halfB, angle;
    bool ellipse;
    std::array<float, 3> colour;
};

void paintShape(Plane& plane, int width, int height, const Shape& s) {
    const double c = std::cos(s.angle), n = std::sin(s.angle);
    const double extentX = std::abs(c) * s.halfA + std::abs(n) * s.halfB;
    const double extentY = std::abs(n) * s.halfA + std::abs(c) * s.halfB;
    const int x0 = std::max(0, static_cast<int>(std::floor(s.cx - extentX)));
    const int x1 = std::min(width - 1, static_cast<int>(std::ceil(s.cx + extentX)));
    const int y0 = std::max(0, static_cast<int>(std::floor(s.cy - extentY)));
    const int y1 = std::min(height - 1, static_cast<int>(std::ceil(s.cy + extentY)));
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
            const double dx = x - s.cx, dy = y - s.cy;
            const double a = (dx * c + dy * n) / s.halfA, b = (-dx * n + dy * c) / s.halfB;
            if (s.ellipse ? a * a + b * b > 1.0 : std::abs(a) > 1.0 || std::abs(b) > 1.0) continue;
            float* out = &plane[(static_cast<std::size_t>(y) * width + x) * 3];
            std::copy(s.colour.begin(), s.colour.end(), out);
        }
}

std::array<float, 3> clutterColour(Random& random, bool vivid) {
    std::array<float, 3> colour{};
    if (vivid) {
        // One or two strong channels: boxes, labels, toys.
        for (float& v : colour) v = static_cast<float>(random.uniform(0.05, 0.35));
        colour[static_cast<std::size_t>(random.index(3))] = static_cast<float>(random.uniform(0.7, 1.0));
        if (random.chance(0.4)) colour[static_cast<std::size_t>(random.index(3))] = static_cast<float>(random.uniform(0.6, 1.0));
        return colour;
    }
    const double level = random.uniform(0.05, 0.95);
    for (float& v : colour) v = static_cast<float>(std::clamp(level + random.uniform(-0.12, 0.12), 0.0, 1.0));
    return colour;
}

// A line of text-like strokes along a baseline: words of glyphs, each glyph
// a stem and one or two bars.
void paintTextLine(Plane& plane, int width, int height, Random& random, double size) {
    const double angle = random.chance(0.6) ? random.uniform(-0.05, 0.05) : random.uniform(0.0, kPi);
    const double c = std::cos(angle), n = std::sin(angle);
    double x = random.uniform(0.0, width), y = random.uniform(0.0, height);
    const double glyph = size * 0.6, stroke = std::max(0.6, size * 0.12);
    const std::array<float, 3> ink = random.chance(0.7) ? std::array<float, 3>{0.06f, 0.06f, 0.08f}
                                                        : clutterColour(random, true);
    const int glyphs = 8 + random.index(40);
    for (int g = 0; g < glyphs; ++g) {
        if (random.chance(0.18)) {  // a space between words
            x += glyph * c;
            y += glyph * n;
            continue;
        }
        auto stroke_at = [&](double along, double across, double halfAlong, double halfAcross) {
            paintShape(plane, width, height,
                       {x + along * c - across * n, y + along * n + across * c, halfAlong, halfAcross, angle, false, ink});
        };
        stroke_at(0.0, -0.5 * size, 0.5 * stroke, 0.5 * size);
        stroke_at(0.3 * glyph, -size * (random.chance(0.5) ? 0.9 : 0.5), 0.3 * glyph, 0.5 * stroke);
        if (random.chance(0.5)) stroke_at(0.3 * glyph, -0.05 * size, 0.3 * glyph, 0.5 * stroke);
        x += glyph * 1.25 * c;
        y += glyph * 1.25 * n;
    }
}

void addClutter(Plane& plane, int width, int height, Random& random) {
    const double shortSide = std::min(width, height);
    const int count = 60 + random.index(100);
    for (int k = 0; k < count; ++k) {
        const int kind = random.index(4);
        if (kind == 3) {
            const int lines = 1 + random.index(6);
            const double size = shortSide * std::exp(random.uniform(std::log(0.006), std::log(0.03)));
            for (int l = 0; l < lines; ++l) paintTextLine(plane, width, height, random, size);
            continue;
        }
        Shape s{};
        s.cx = random.uniform(0.0, width);
        s.cy = random.uniform(0.0, height);
        s.halfA = 0.5 * shortSide * std::exp(random.uniform(std::log(0.02), std::log(0.35)));
        s.halfB = s.halfA * random.uniform(0.2, 1.2);
        s.angle = random.chance(0.3) ? 0.0 : random.uniform(0.0, kPi);
        s.ellipse = kind == 1;
        s.colour = clutterColour(random, kind == 2);
        paintShape(plane, width, height, s);
    }
}

}  // namespace

void fillBackground(Plane& plane, int width, int height, BackgroundKind kind, double level, Random& random) {
    if (kind == BackgroundKind::Lid) {
        // A white lid, a little uneven.
        const double phase = random.uniform(0.0, 2.0 * kPi);
        for (int row = 0; row < height; ++row)
            for (int x = 0; x < width; ++x) {
                const double v = 0.9 + 0.015 * std::sin(phase + 3.0 * x / width + 2.0 * row / height);
                float* out = &plane[(static_cast<std::size_t>(row) * width + x) * 3];
                out[0] = static_cast<float>(v);
                out[1] = static_cast<float>(v * 0.995);
                out[2] = static_cast<float>(v * 0.985);
            }
        return;
    }
    // Clutter lies on a plain surface (a desk, a floor, a sheet).
    fillClassicBackground(plane, width, height, kind == BackgroundKind::Busy ? BackgroundKind::Flat : kind, level,
                          random);
    if (kind == BackgroundKind::Busy) addClutter(plane, width, height, random);
}

// Light falls off linearly in linear light; on device values a power curve
// with exponent gamma turns that into a factor of light^(1 / gamma).
void applyLighting(Plane& plane, int width, int height, double falloff, double angleDegrees, const DeviceModel& model) {
    if (falloff <= 0.0) return;
    const double a = angleDegrees * kPi / 180.0;
    // Direction in picture rows (y down): counter-clockwise as seen.
    const double dx = std::cos(a);
    const double dy = -std::sin(a);
    const double corners[4] = {0.0, (width - 1) * dx, (height - 1) * dy, (width - 1) * dx + (height - 1) * dy};
    const double lo = *std::min_element(corners, corners + 4);
    const double hi = *std::max_element(corners, corners + 4);
    const double span = hi > lo ? hi - lo : 1.0;
    std::vector<std::array<float, 3>> factor(kLightSteps + 1);
    for (int i = 0; i <= kLightSteps; ++i) {
        const double light = 1.0 - falloff * i / kLightSteps;
        for (int c = 0; c < 3; ++c) factor[i][c] = static_cast<float>(std::pow(light, 1.0 / model.gamma[c]));
    }
    for (int row = 0; row < height; ++row)
        for (int x = 0; x < width; ++x) {
            const int step = static_cast<int>((x * dx + row * dy - lo) / span * kLightSteps + 0.5);
            float* out = &plane[(static_cast<std::size_t>(row) * width + x) * 3];
            for (int c = 0; c < 3; ++c) out[c] *= factor[static_cast<std::size_t>(step)][c];
        }
}

void applyBlur(Plane& plane, int width, int height, int channels, double sigma, unsigned workers) {
    if (sigma <= 0.0) return;
    const int radius = static_cast<int>(std::ceil(3.0 * sigma));
    std::vector<float> kernel(static_cast<std::size_t>(2 * radius + 1));
    double sum = 0.0;
    for (int i = -radius; i <= radius; ++i) sum += kernel[static_cast<std::size_t>(i + radius)] =
                                                    static_cast<float>(std::exp(-0.5 * i * i / (sigma * sigma)));
    for (float& k : kernel) k = static_cast<float>(k / sum);
    const std::size_t rowFloats = static_cast<std::size_t>(width) * channels;
    workers = std::max(1u, std::min(workers, static_cast<unsigned>(std::min(width, height))));

    // Along the rows, each worker a band of them.
    runOnWorkers(workers, [&](unsigned w) {
        std::vector<float> line((static_cast<std::size_t>(width) + 2 * radius) * channels);
        const int first = static_cast<int>(static_cast<long long>(height) * w / workers);
        const int last = static_cast<int>(static_cast<long long>(height) * (w + 1) / workers);
        for (int y = first; y < last; ++y) {
            float* row = &plane[static_cast<std::size_t>(y) * rowFloats];
            for (int i = -radius; i < width + radius; ++i) {
                const float* src = row + static_cast<std::size_t>(std::clamp(i, 0, width - 1)) * channels;
                std::copy(src, src + channels, &line[static_cast<std::size_t>(i + radius) * channels]);
            }
            std::fill(row, row + rowFloats, 0.0f);
            for (std::size_t k = 0; k < kernel.size(); ++k) {
                const float* shifted = &line[k * channels];
                const float weight = kernel[k];
                for (std::size_t i = 0; i < rowFloats; ++i) row[i] += weight * shifted[i];
            }
        }
    });
    // Down the columns, each worker a strip of them, through a ring of the
    // source rows still needed.
    const int taps = 2 * radius + 1;
    runOnWorkers(workers, [&](unsigned w) {
        const std::size_t begin = static_cast<std::size_t>(static_cast<long long>(width) * w / workers) * channels;
        const std::size_t end = static_cast<std::size_t>(static_cast<long long>(width) * (w + 1) / workers) * channels;
        const std::size_t strip = end - begin;
        if (strip == 0) return;
        std::vector<float> ring(static_cast<std::size_t>(taps) * strip);
        auto slot = [&](int index) { return &ring[static_cast<std::size_t>((index % taps + taps) % taps) * strip]; };
        auto keep = [&](int index) {
            const float* src = &plane[static_cast<std::size_t>(std::clamp(index, 0, height - 1)) * rowFloats + begin];
            std::copy(src, src + strip, slot(index));
        };
        for (int index = -radius; index < radius; ++index) keep(index);
        for (int y = 0; y < height; ++y) {
            keep(y + radius);
            float* row = &plane[static_cast<std::size_t>(y) * rowFloats + begin];
            std::fill(row, row + strip, 0.0f);
            for (int k = -radius; k <= radius; ++k) {
                const float* src = slot(y + k);
                const float weight = kernel[static_cast<std::size_t>(k + radius)];
                for (std::size_t i = 0; i < strip; ++i) row[i] += weight * src[i];
            }
        }
    });
}

}  // namespace calivant
