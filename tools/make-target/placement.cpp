#include "make-target/placement.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <vector>

#include "make-target/picture_filters.h"
#include "make-target/random.h"
#include "util/parallel.h"
#include "util/format.h"

namespace calivant {
namespace {

constexpr double kPi = 3.141592653589793;
// The default frame's shorter side, as a fraction of the picture's.
constexpr double kDefaultFill = 0.6;

bool fail(std::string* error, const std::string& message) {
    if (error) *error = message;
    return false;
}

double cross(const ImagePoint& a, const ImagePoint& b, double x, double y) {
    return (b.x - a.x) * (y - a.y) - (b.y - a.y) * (x - a.x);
}

// Inside the convex quad (either winding), edges included: the pixels the
// bilinear renderer paints with the chart.
bool insideQuad(const OverlayQuad& quad, double x, double y) {
    bool negative = false;
    bool positive = false;
    for (int i = 0; i < 4; ++i) {
        const double c = cross(quad.corners[i], quad.corners[(i + 1) % 4], x, y);
        if (c < -1e-9) negative = true;
        if (c > 1e-9) positive = true;
    }
    return !(negative && positive);
}

}  // namespace

double naturalAspect(int targetType) {
    const TargetLayout layout = makeTargetLayout(targetType);
    if (layout.colorCells.empty()) return 1.5;
    const PatchCell& cell = layout.colorCells.front();
    return cell.height / cell.width;
}

OverlayQuad placementQuad(int targetType, int width, int height, const ChartPlacement& p) {
    double w = p.chartWidth;
    double h = p.chartHeight;
    if (!(w > 0.0) || !(h > 0.0)) {
        const double aspect = naturalAspect(targetType);
        const double fit = kDefaultFill * std::min(width, height);
        h = aspect >= 1.0 ? fit : fit / aspect;
        w = h * aspect;
        const double shrink = std::min(1.0, std::min(kDefaultFill * width / w, kDefaultFill * height / h));
        w *= shrink;
        h *= shrink;
    }
    const double top = 0.5 * w * (1.0 - p.keystone);
    // Corner 0 bottom-left, 1 top-left, 2 top-right, 3 bottom-right; y up.
    std::array<ImagePoint, 4> local = {ImagePoint{-0.5 * w, -0.5 * h}, ImagePoint{-top, 0.5 * h},
                                       ImagePoint{top, 0.5 * h}, ImagePoint{0.5 * w, -0.5 * h}};
    if (p.keystoneLeft != 0.0) {
        // The left edge shortened towards its middle (right edge for a negative value).
        const int shorter[2] = {p.keystoneLeft > 0.0 ? 0 : 3, p.keystoneLeft > 0.0 ? 1 : 2};
        for (int k : shorter) local[static_cast<std::size_t>(k)].y *= 1.0 - std::abs(p.keystoneLeft);
    }
    const double a = p.angle * kPi / 180.0;
    const double cx = p.centerX >= 0.0 ? p.centerX : 0.5 * (width - 1);
    const double cy = (height - 1) - (p.centerY >= 0.0 ? p.centerY : 0.5 * (height - 1));
    OverlayQuad quad;
    for (int i = 0; i < 4; ++i) {
        const double x = p.mirror ? -local[i].x : local[i].x;
        const double y = local[i].y;
        quad.corners[i] = {cx + x * std::cos(a) - y * std::sin(a), cy + x * std::sin(a) + y * std::cos(a)};
    }
    return quad;
}

int renderPlacedTarget(const SyntheticTargetOptions& options, const ChartPlacement& placement,
                       const ReferenceData& reference, SyntheticTarget& target, std::string* error) {
    if (!(std::abs(placement.keystone) <= kMaxKeystone) || !(std::abs(placement.keystoneLeft) <= kMaxKeystone)) {
        fail(error, "keystone must lie in -0.2..0.2");
        return kSyntheticBadOptions;
    }
    if (!(placement.blur >= 0.0 && placement.blur <= kMaxBlur)) {
        fail(error, "blur must lie in 0..10");
        return kSyntheticBadOptions;
    }
    if (placement.needsCamera()) return renderCameraPlacement(options, placement, reference, target, error);
    const int width = options.width;
    const int height = options.height;
    // Checked here: the chart is rendered on its bounding box only.
    if (width < kMinSyntheticSide || height < kMinSyntheticSide || width > kMaxSyntheticSide ||
        height > kMaxSyntheticSide || static_cast<std::int64_t>(width) * height > kMaxSyntheticPixels) {
        fail(error, "picture size out of range");
        return kSyntheticBadOptions;
    }
    const OverlayQuad quad = placementQuad(options.targetType, width, height, placement);
    double minX = quad.corners[0].x, maxX = minX, minY = quad.corners[0].y, maxY = minY;
    for (const ImagePoint& c : quad.corners) {
        minX = std::min(minX, c.x);
        maxX = std::max(maxX, c.x);
        minY = std::min(minY, c.y);
        maxY = std::max(maxY, c.y);
    }
    constexpr double kSlack = 1e-6;
    if (!(minX >= -kSlack && minY >= -kSlack && maxX <= width - 1 + kSlack && maxY <= height - 1 + kSlack)) {
        fail(error, "the chart reaches outside the picture");
        return kSyntheticBadOptions;
    }

    // The chart alone, rendered on its bounding box without noise or light
    // fall-off; those come after the blur, over the whole picture.
    const int x0 = static_cast<int>(std::floor(minX + kSlack));
    const int y0 = static_cast<int>(std::floor(minY + kSlack));
    SyntheticTargetOptions crop = options;
    crop.width = std::max(kMinSyntheticSide, static_cast<int>(std::ceil(maxX - kSlack)) - x0 + 1);
    crop.height = std::max(kMinSyntheticSide, static_cast<int>(std::ceil(maxY - kSlack)) - y0 + 1);
    crop.noiseSigma = 0.0;
    crop.gradient = 0.0;
    OverlayQuad cropQuad = quad;
    for (ImagePoint& c : cropQuad.corners) {
        c.x -= x0;
        c.y -= y0;
    }
    crop.chartQuad = cropQuad;
    crop.perspective = true;
    if (renderSyntheticTarget(crop, reference, target, error) != kSyntheticOk) return kSyntheticBadOptions;
    Random random(options.seed ^ 0x5DEECE66Dull);
    Plane plane(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
    fillBackground(plane, width, height, placement.background, placement.backgroundLevel, random);
    const SyntheticPicture& chart = target.picture;
    const double scale = 1.0 / (options.bitsPerSample == 8 ? 255.0 : 65535.0);
    for (int row = 0; row < chart.height; ++row) {
        const int y = y0 + chart.height - 1 - row;  // image row, counted from the bottom
        if (y < 0 || y >= height) continue;
        const int pictureRow = height - 1 - y;
        for (int column = 0; column < chart.width; ++column) {
            const int x = x0 + column;
            if (x >= width || !insideQuad(quad, x, y)) continue;
            float* out = &plane[(static_cast<std::size_t>(pictureRow) * width + x) * 3];
            for (int c = 0; c < 3; ++c) out[c] = static_cast<float>(chart.sample(column, row, c) * scale);
        }
    }
    applyLighting(plane, width, height, options.gradient, placement.gradientAngle, options.device);
    applyBlur(plane, width, height, 3, placement.blur, placement.workers > 0 ? placement.workers : coreCount());

    SyntheticPicture& picture = target.picture;
    picture.width = width;
    picture.height = height;
    picture.bitsPerSample = options.bitsPerSample;
    picture.samples.assign(plane.size(), 0);
    const double maxCode = options.bitsPerSample == 8 ? 255.0 : 65535.0;
    for (std::size_t i = 0; i < plane.size(); ++i) {
        double value = plane[i];
        if (options.noiseSigma > 0.0) value += options.noiseSigma * random.normal();
        picture.samples[i] = static_cast<std::uint16_t>(std::clamp(value, 0.0, 1.0) * maxCode + 0.5);
    }
    target.quad = quad;
    return kSyntheticOk;
}

RandomPlacement randomPlacement(int targetType, int width, int height, std::uint64_t seed, bool mirror) {
    Random random(seed * 0x2545F4914F6CDD1Dull + 17);
    RandomPlacement r;
    SyntheticTargetOptions& o = r.options;
    ChartPlacement& p = r.placement;
    o.targetType = targetType;
    o.width = width;
    o.height = height;
    o.bitsPerSample = 16;
    o.seed = seed;
    o.noiseSigma = random.uniform(0.0, 0.015);
    o.gradient = random.uniform(0.0, 0.3);
    p.gradientAngle = random.uniform(0.0, 360.0);

    const double shortSide = std::min(width, height);
    const double aspect = naturalAspect(targetType) * random.uniform(0.9, 1.1);
    const double side = random.uniform(0.27, 0.85) * shortSide;
    p.chartHeight = aspect >= 1.0 ? side : side / aspect;
    p.chartWidth = p.chartHeight * aspect;
    p.angle = random.uniform() < 0.25 ? 90.0 * static_cast<int>(random.uniform(0.0, 4.0)) : random.uniform(0.0, 360.0);
    p.mirror = mirror && random.uniform() < 0.25;
    p.keystone = random.uniform(-0.05, 0.05);
    p.blur = random.uniform(0.0, 2.0);
    p.background = static_cast<BackgroundKind>(static_cast<int>(random.uniform(0.0, 3.0)));
    p.backgroundLevel = random.uniform(0.15, 0.9);

    // Shrink until the turned chart fits with a margin, then place it anywhere.
    constexpr double kMargin = 2.0;
    p.centerX = 0.5 * (width - 1);
    p.centerY = 0.5 * (height - 1);
    const OverlayQuad centred = placementQuad(targetType, width, height, p);
    double minX = centred.corners[0].x, maxX = minX, minY = centred.corners[0].y, maxY = minY;
    for (const ImagePoint& c : centred.corners) {
        minX = std::min(minX, c.x);
        maxX = std::max(maxX, c.x);
        minY = std::min(minY, c.y);
        maxY = std::max(maxY, c.y);
    }
    const double shrink =
        std::min(1.0, std::min((width - 1 - 2 * kMargin) / (maxX - minX), (height - 1 - 2 * kMargin) / (maxY - minY)));
    p.chartWidth *= shrink;
    p.chartHeight *= shrink;
    const double halfW = 0.5 * (maxX - minX) * shrink;
    const double halfH = 0.5 * (maxY - minY) * shrink;
    const double offsetX = 0.5 * (minX + maxX) - p.centerX;  // of the box centre from the frame centre (keystone)
    const double offsetY = 0.5 * (minY + maxY) - ((height - 1) - p.centerY);
    const double boxX = random.uniform(kMargin + halfW, width - 1 - kMargin - halfW);
    const double boxY = random.uniform(kMargin + halfH, height - 1 - kMargin - halfH);
    p.centerX = boxX - offsetX * shrink;
    p.centerY = (height - 1) - (boxY - offsetY * shrink);
    return r;
}

std::string cornersLine(const OverlayQuad& quad, int height) {
    std::string line = "corners ";
    const int order[4] = {1, 2, 3, 0};  // top-left, top-right, bottom-right, bottom-left
    for (int k = 0; k < 4; ++k) {
        const ImagePoint& c = quad.corners[order[k]];
        if (k > 0) line += ',';
        line += formatReal(c.x, 3) + ',' + formatReal((height - 1) - c.y, 3);
    }
    return line;
}

int writeCornersPath(const std::string& path, const OverlayQuad& quad, int height) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << cornersLine(quad, height) << "\n";
    out.flush();
    return out ? 0 : 1;
}

}  // namespace calivant
