// The placed chart under the camera model: the placement's flaws turned
// into a CameraScene, and random pictures over the ranges real ones span.
#include <algorithm>
#include <cmath>

#include "make-target/device_kinds.h"
#include "make-target/placement.h"
#include "make-target/printed_chart.h"
#include "make-target/random.h"
#include "util/parallel.h"

namespace calivant {
namespace {

constexpr double kMaxVignetting = 0.95;
constexpr double kMaxGain = 4.0;
constexpr double kMaxGlare = 5.0;
constexpr double kMaxShadow = 0.95;
constexpr double kMaxSharpen = 5.0;
// A scanned card's thickness, as the shadow it casts on the lid.
constexpr double kLidShadow = 0.004;
// Tries at putting a second chart where it covers nothing of the first.
constexpr int kSecondTries = 300;

bool fail(std::string* error, const std::string& message) {
    if (error) *error = message;
    return false;
}

bool checkFlaws(const ChartPlacement& p, std::string* error) {
    auto within = [](double v, double lo, double hi) { return v >= lo && v <= hi; };
    if (!within(p.barrel, 0.0, kMaxBarrel)) return fail(error, "barrel must lie in 0..0.05");
    if (!within(p.vignetting, 0.0, kMaxVignetting)) return fail(error, "vignetting must lie in 0..0.95");
    for (double g : p.cast)
        if (!(g > 0.0 && g <= kMaxGain)) return fail(error, "cast gains must lie in 0..4");
    if (!(p.exposure > 0.0 && p.exposure <= kMaxGain)) return fail(error, "exposure must lie in 0..4");
    if (!within(p.glare, 0.0, kMaxGlare) || !(p.glareRadius > 0.0)) return fail(error, "glare must lie in 0..5");
    if (!within(p.shadow, 0.0, kMaxShadow)) return fail(error, "shadow must lie in 0..0.95");
    if (!within(p.sharpen, 0.0, kMaxSharpen) || !within(p.sharpenRadius, 0.1, kMaxBlur))
        return fail(error, "sharpening must lie in 0..5 with a radius of 0.1..10");
    if (!within(p.jpegQuality, 0, 100)) return fail(error, "JPEG quality must lie in 1..100");
    if (!within(p.occludedCorner, 0, 3)) return fail(error, "the occluded corner must be 0..3");
    if (!within(p.secondType, 0, kTargetTypeCount - 1)) return fail(error, "unknown type of the second chart");
    if (p.scanCrop)
        for (double m : p.scanMargins)
            if (!(m >= kMinScanMargin)) return fail(error, "a cropped scan is cut by half a pitch at most");
    return true;
}

PicturePoint toPicture(const ImagePoint& p, int height) { return {p.x, (height - 1) - p.y}; }

// The frame corners in CameraScene order, (u, t) = (0, 0), (1, 0), (1, 1), (0, 1).
std::array<PicturePoint, 4> frameOf(const OverlayQuad& quad, int height) {
    return {toPicture(quad.corners[1], height), toPicture(quad.corners[2], height), toPicture(quad.corners[3], height),
            toPicture(quad.corners[0], height)};
}

struct Box {
    double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
    void take(const PicturePoint& p) {
        x0 = std::min(x0, p.x);
        y0 = std::min(y0, p.y);
        x1 = std::max(x1, p.x);
        y1 = std::max(y1, p.y);
    }
    bool meets(const Box& o, double margin) const {
        return x0 - margin < o.x1 && o.x0 - margin < x1 && y0 - margin < o.y1 && o.y0 - margin < y1;
    }
};

Box artworkBox(const SceneChart& chart) {
    const ArtworkRect b = chart.artwork.bounds();
    Box box;
    for (const auto& [u, t] : {std::pair{b.u0, b.t0}, {b.u1, b.t0}, {b.u1, b.t1}, {b.u0, b.t1}})
        box.take(chartPoint(chart, u, t));
    return box;
}

double distance(const PicturePoint& a, const PicturePoint& b) { return std::hypot(a.x - b.x, a.y - b.y); }

// The thumb or clip over the patch nearest a corner of the frame.
Occluder occluderOver(const SceneChart& chart, const TargetLayout& layout, const ChartPlacement& p) {
    const double cornerU = p.occludedCorner == 1 || p.occludedCorner == 2 ? 1.0 : 0.0;
    const double cornerT = p.occludedCorner >= 2 ? 1.0 : 0.0;
    const std::array<double, 2> pitch = layoutPitch(layout.targetType);
    const PatchCell* nearest = nullptr;
    double best = 1e300;
    for (const auto* group : {&layout.colorCells, &layout.grayCells, &layout.whiteCells, &layout.midGrayCells, &layout.blackCells})
        for (const PatchCell& cell : *group) {
            const double du = (cell.u + 0.5 * cell.width - cornerU) / pitch[0];
            const double dt = (cell.t + 0.5 * cell.height - cornerT) / pitch[1];
            if (du * du + dt * dt < best) {
                best = du * du + dt * dt;
                nearest = &cell;
            }
        }
    const double uc = nearest->u + 0.5 * nearest->width, tc = nearest->t + 0.5 * nearest->height;
    const PicturePoint centre = chartPoint(chart, uc, tc);
    const double pitchPx = distance(centre, chartPoint(chart, uc + pitch[0], tc));
    Occluder o;
    o.kind = p.occluder;
    if (p.occluder == OccluderKind::Thumb) {
        // A thumb reaching in over the corner from outside the chart.
        const PicturePoint middle = chartPoint(chart, 0.5, 0.5), corner = chartPoint(chart, cornerU, cornerT);
        const double length = std::max(distance(middle, corner), 1e-9);
        const double ox = (corner.x - middle.x) / length, oy = (corner.y - middle.y) / length;
        o.centre = {centre.x + ox * 0.8 * pitchPx, centre.y + oy * 0.8 * pitchPx};
        o.halfLength = 1.7 * pitchPx;
        o.halfWidth = 0.8 * pitchPx;
        o.angle = std::atan2(-oy, -ox);  // the nail towards the chart
    } else {
        // A clip gripping the card's edge nearest the corner.
        const PicturePoint a = chartPoint(chart, 0.0, cornerT), b = chartPoint(chart, 1.0, cornerT);
        const double length = std::max(distance(a, b), 1e-9);
        const double ex = (b.x - a.x) / length, ey = (b.y - a.y) / length;
        const PicturePoint middle = chartPoint(chart, uc, 0.5);
        double nx = -ey, ny = ex;
        if ((centre.x - middle.x) * nx + (centre.y - middle.y) * ny < 0.0) {
            nx = -nx;
            ny = -ny;
        }
        o.centre = {centre.x + nx * 0.45 * pitchPx, centre.y + ny * 0.45 * pitchPx};
        o.halfLength = 0.75 * pitchPx;
        o.halfWidth = 1.0 * pitchPx;
        o.angle = std::atan2(ey, ex);
    }
    return o;
}

// Another chart beside the first, at the same print scale, where it covers
// nothing of it. Of the same type it shows other colours, so that the
// reference tells the two apart.
bool addSecondChart(CameraScene& scene, const ChartPlacement& p, double pitchPx, const BorderXyz& border, std::string* error) {
    const int type = p.secondType;
    const TargetLayout layout = makeTargetLayout(type);
    ReferenceData reference = generatedReference(type);
    std::reverse(reference.colorXYZ.begin(), reference.colorXYZ.begin() + reference.colorCount);
    SceneChart second;
    second.artwork = p.style == ChartStyle::Printed ? printedArtwork(layout, reference, border)
                                                    : plainArtwork(layout, reference, border, labToXyz(CieTriple{60, 0, 0}));
    const Box first = artworkBox(scene.charts.front());
    Random random(scene.seed ^ 0x5EC0DC4A27ull);
    double width = pitchPx / layoutPitch(type)[0];
    for (int attempt = 0; attempt < 5 * kSecondTries; ++attempt) {
        if (attempt > 0 && attempt % kSecondTries == 0) width *= 0.8;
        ChartPlacement q;
        q.chartWidth = width;
        q.chartHeight = width / naturalAspect(type);
        q.centerX = random.uniform(0.0, scene.width - 1.0);
        q.centerY = random.uniform(0.0, scene.height - 1.0);
        q.angle = p.angle + random.uniform(-25.0, 25.0);
        q.keystone = p.keystone;
        q.keystoneLeft = p.keystoneLeft;
        second.frame = frameOf(placementQuad(type, scene.width, scene.height, q), scene.height);
        const Box box = artworkBox(second);
        if (box.x0 >= 0.0 && box.y0 >= 0.0 && box.x1 <= scene.width - 1.0 && box.y1 <= scene.height - 1.0 &&
            !box.meets(first, 0.5 * pitchPx)) {
            scene.charts.push_back(std::move(second));
            return true;
        }
    }
    return fail(error, "no room for a second chart in the picture");
}

double logUniform(Random& random, double lo, double hi) { return std::exp(random.uniform(std::log(lo), std::log(hi))); }

}  // namespace

bool ChartPlacement::needsCamera() const {
    return style != ChartStyle::Plain || keystoneLeft != 0.0 || barrel != 0.0 || vignetting != 0.0 ||
           cast != std::array<double, 3>{1.0, 1.0, 1.0} || exposure != 1.0 || glare != 0.0 || shadow != 0.0 ||
           occluder != OccluderKind::None || sharpen != 0.0 || jpegQuality != 0 || second != SecondChart::None ||
           scanCrop || background == BackgroundKind::Busy || background == BackgroundKind::Lid;
}

std::array<double, 2> layoutPitch(int targetType) {
    const TargetLayout layout = makeTargetLayout(targetType);
    std::array<double, 2> pitch{1.0, 1.0};
    if (layout.colorCells.empty()) return pitch;
    double u = 1.0, t = 1.0;
    const PatchCell& first = layout.colorCells.front();
    for (const PatchCell& cell : layout.colorCells) {
        if (cell.u - first.u > 1e-6) u = std::min(u, cell.u - first.u);
        if (cell.t - first.t > 1e-6) t = std::min(t, cell.t - first.t);
    }
    return {u, t};
}

int renderCameraPlacement(const SyntheticTargetOptions& options, const ChartPlacement& placement,
                          const ReferenceData& reference, SyntheticTarget& target, std::string* error) {
    if (!checkFlaws(placement, error)) return kSyntheticBadOptions;
    if (!options.badPatch.empty()) {
        fail(error, "a split patch goes only with the plain rendering");
        return kSyntheticBadOptions;
    }
    // The target's records (layout, rounded reference, expected values) as
    // the plain renderer gives them, on a picture too small to matter.
    SyntheticTargetOptions records = options;
    records.width = kMinSyntheticSide;
    records.height = kMinSyntheticSide;
    records.noiseSigma = 0.0;
    records.gradient = 0.0;
    records.chartQuad.reset();
    if (renderSyntheticTarget(records, reference, target, error) != kSyntheticOk) return kSyntheticBadOptions;

    const int width = options.width, height = options.height;
    const int type = options.targetType;
    const std::array<double, 2> pitch = layoutPitch(type);
    ChartPlacement p = placement;
    if (p.scanCrop) {
        // The frame fills the picture but for the margins.
        const auto& m = p.scanMargins;
        p.chartWidth = (width - 1.0) / (1.0 + (m[0] + m[2]) * pitch[0]);
        p.chartHeight = (height - 1.0) / (1.0 + (m[1] + m[3]) * pitch[1]);
        p.centerX = m[0] * pitch[0] * p.chartWidth + 0.5 * p.chartWidth;
        p.centerY = m[1] * pitch[1] * p.chartHeight + 0.5 * p.chartHeight;
        if (!(p.chartWidth > 1.0 && p.chartHeight > 1.0)) {
            fail(error, "the margins leave no room for the chart");
            return kSyntheticBadOptions;
        }
    }
    const OverlayQuad quad = placementQuad(type, width, height, p);

    CameraScene scene;
    scene.width = width;
    scene.height = height;
    scene.bitsPerSample = options.bitsPerSample;
    scene.device = options.device;
    scene.seed = options.seed;
    scene.workers = p.workers > 0 ? p.workers : coreCount();
    SceneChart main;
    main.frame = frameOf(quad, height);
    main.artwork = p.style == ChartStyle::Printed
                       ? printedArtwork(target.layout, target.reference, options.border, p.extraPatches)
                       : plainArtwork(target.layout, target.reference, options.border,
                                      xyzFromDevice(options.device, options.background));
    if (p.second == SecondChart::PassportPage) addPassportPage(main.artwork);
    scene.background = p.background;
    scene.backgroundLevel = p.backgroundLevel;
    if (p.scanCrop) {
        switch (p.scanBorder) {
            case ScanBorder::None:
                main.artwork.card = {-1e3, -1e3, 1e3, 1e3, main.artwork.card.paint};
                main.artwork.cornerU = main.artwork.cornerT = 0.0;
                break;
            case ScanBorder::White: scene.background = BackgroundKind::Flat, scene.backgroundLevel = 0.94; break;
            case ScanBorder::Gray: scene.background = BackgroundKind::Flat, scene.backgroundLevel = 0.5; break;
            case ScanBorder::Black: scene.background = BackgroundKind::Flat, scene.backgroundLevel = 0.04; break;
            case ScanBorder::Lid:
                scene.background = BackgroundKind::Lid;
                main.dropShadow = kLidShadow;
                break;
        }
    }
    scene.charts.push_back(std::move(main));
    const SceneChart& chart = scene.charts.front();
    const double pitchPx = distance(chartPoint(chart, 0.5, 0.5), chartPoint(chart, 0.5 + pitch[0], 0.5));

    scene.barrel = p.barrel;
    PicturePoint corners[4];
    for (int k = 0; k < 4; ++k) corners[k] = lensPoint(scene, chart.frame[static_cast<std::size_t>(k)]);
    constexpr double kSlack = 1e-6;
    for (const PicturePoint& c : corners)
        if (!p.scanCrop && !(c.x >= -kSlack && c.y >= -kSlack && c.x <= width - 1 + kSlack && c.y <= height - 1 + kSlack)) {
            fail(error, "the chart reaches outside the picture");
            return kSyntheticBadOptions;
        }
    if (p.second == SecondChart::OtherChart && !addSecondChart(scene, p, pitchPx, options.border, error))
        return kSyntheticBadOptions;
    if (p.occluder != OccluderKind::None) scene.occluder = occluderOver(scene.charts.front(), target.layout, p);
    scene.gradient = options.gradient;
    scene.gradientAngle = p.gradientAngle;
    scene.vignetting = p.vignetting;
    scene.shadowDepth = p.shadow;
    scene.shadowPoint = chartPoint(scene.charts.front(), p.shadowU, p.shadowT);
    scene.shadowAngle = p.shadowAngle;
    scene.shadowSoftness = std::max(1.0, 0.3 * pitchPx);
    scene.glare = p.glare;
    scene.glarePoint = chartPoint(scene.charts.front(), p.glareU, p.glareT);
    scene.glareRadius = std::max(0.5, p.glareRadius * pitchPx);
    scene.cast = p.cast;
    scene.exposure = p.exposure;
    scene.blur = p.blur;
    scene.sharpen = p.sharpen;
    scene.sharpenRadius = p.sharpenRadius;
    scene.noise = options.noiseSigma;
    scene.jpegQuality = p.jpegQuality;
    if (renderCameraScene(scene, target.picture, error, &target.jpeg) != 0) return kSyntheticBadOptions;
    // Corner 0 of the overlay is the layout's (0, 1), then (0, 0), (1, 0), (1, 1).
    const int order[4] = {3, 0, 1, 2};
    for (int k = 0; k < 4; ++k) {
        const PicturePoint& c = corners[order[k]];
        target.quad.corners[static_cast<std::size_t>(k)] = {c.x, (height - 1) - c.y};
    }
    return kSyntheticOk;
}

RandomPlacement widePlacement(int targetType, std::uint64_t seed, bool mirror, bool sameTypeSecond) {
    Random r(seed * 0xD6E8FEB86659FD93ull + 0x51);
    RandomPlacement out;
    SyntheticTargetOptions& o = out.options;
    ChartPlacement& p = out.placement;
    o.targetType = targetType;
    o.seed = seed;
    o.bitsPerSample = 16;
    p.style = ChartStyle::Printed;
    const std::array<double, 2> pitch = layoutPitch(targetType);
    const double aspect = naturalAspect(targetType);
    constexpr double kMinPixels = 0.3e6, kMaxPixels = 60e6;
    const bool crop = r.chance(1.0 / 6.0);

    if (crop) {
        o.device = deviceModelOfKind(kDeviceKinds[r.index(2)]);
        p.scanCrop = true;
        p.scanBorder = static_cast<ScanBorder>(r.index(5));
        for (double& m : p.scanMargins)
            m = p.scanBorder == ScanBorder::None || r.chance(0.5) ? r.uniform(kMinScanMargin, 0.3) : r.uniform(0.3, 3.0);
        for (int attempt = 0; attempt < 200; ++attempt) {
            const double pitchPx = logUniform(r, 12.0, 600.0);
            const double frameW = pitchPx / pitch[0], frameH = frameW / aspect;
            o.width = static_cast<int>(std::lround(frameW * (1.0 + (p.scanMargins[0] + p.scanMargins[2]) * pitch[0]) + 1));
            o.height = static_cast<int>(std::lround(frameH * (1.0 + (p.scanMargins[1] + p.scanMargins[3]) * pitch[1]) + 1));
            const double pixels = static_cast<double>(o.width) * o.height;
            if (pixels >= kMinPixels && pixels <= kMaxPixels) break;
        }
        p.angle = r.uniform(-1.5, 1.5);
        p.blur = r.uniform(0.0, 1.2);
        o.noiseSigma = r.uniform(0.0, 0.006);
        o.gradient = r.uniform(0.0, 0.1);
        p.gradientAngle = r.uniform(0.0, 360.0);
        if (r.chance(0.25)) p.jpegQuality = 75 + r.index(21);
        if (r.chance(0.2)) p.sharpen = r.uniform(0.3, 0.8);
        p.mirror = mirror && r.chance(0.25);
        return out;
    }

    // The chart's frame, then a picture around it of a common shape.
    constexpr double kShapes[4] = {4.0 / 3.0, 3.0 / 2.0, 16.0 / 9.0, 1.0};
    double frameW = 0.0;
    for (int attempt = 0; attempt < 200; ++attempt) {
        const double pitchPx = logUniform(r, 12.0, 600.0);
        frameW = pitchPx / pitch[0];
        const double share = logUniform(r, 0.07, 0.9);
        double shape = kShapes[r.index(4)];
        if (r.chance(0.4)) shape = 1.0 / shape;
        o.width = static_cast<int>(std::lround(frameW / share));
        o.height = static_cast<int>(std::lround(o.width / shape));
        const double pixels = static_cast<double>(o.width) * o.height;
        if (pixels >= kMinPixels && pixels <= kMaxPixels && std::min(o.width, o.height) > frameW / aspect * 1.2) break;
    }
    p.chartWidth = frameW;
    p.chartHeight = frameW / aspect;
    p.angle = r.chance(0.25) ? 90.0 * r.index(4) + r.uniform(-3.0, 3.0) : r.uniform(0.0, 360.0);
    p.mirror = mirror && r.chance(0.25);
    p.keystone = r.uniform(-0.15, 0.15);
    p.keystoneLeft = r.uniform(-0.15, 0.15);
    p.barrel = r.uniform(0.0, 0.02);

    // Shrink until the turned chart fits with a margin, then put it anywhere.
    const double margin = 0.01 * std::min(o.width, o.height) + 2.0;
    p.centerX = 0.5 * (o.width - 1);
    p.centerY = 0.5 * (o.height - 1);
    const OverlayQuad centred = placementQuad(targetType, o.width, o.height, p);
    double minX = 1e300, maxX = -1e300, minY = 1e300, maxY = -1e300;
    for (const ImagePoint& c : centred.corners) {
        minX = std::min(minX, c.x);
        maxX = std::max(maxX, c.x);
        minY = std::min(minY, c.y);
        maxY = std::max(maxY, c.y);
    }
    const double shrink = std::min(1.0, std::min((o.width - 1 - 2 * margin) / (maxX - minX),
                                                 (o.height - 1 - 2 * margin) / (maxY - minY)));
    p.chartWidth *= shrink;
    p.chartHeight *= shrink;
    const double halfW = 0.5 * (maxX - minX) * shrink, halfH = 0.5 * (maxY - minY) * shrink;
    const double offsetX = 0.5 * (minX + maxX) - p.centerX;
    const double offsetY = 0.5 * (minY + maxY) - ((o.height - 1) - p.centerY);
    const double boxX = r.uniform(margin + halfW, o.width - 1 - margin - halfW);
    const double boxY = r.uniform(margin + halfH, o.height - 1 - margin - halfH);
    p.centerX = boxX - offsetX * shrink;
    p.centerY = (o.height - 1) - (boxY - offsetY * shrink);
    const double pitchPx = p.chartWidth * pitch[0];

    // Light and lens.
    o.gradient = r.uniform(0.0, 0.4);
    p.gradientAngle = r.uniform(0.0, 360.0);
    if (r.chance(0.5)) p.vignetting = r.uniform(0.0, 0.4);
    if (r.chance(0.25)) {
        p.glare = r.uniform(0.3, 1.5);
        p.glareU = r.uniform(0.1, 0.9);
        p.glareT = r.uniform(0.1, 0.9);
        p.glareRadius = r.uniform(0.6, 1.5);
    }
    if (r.chance(0.25)) {
        p.shadow = r.uniform(0.2, 0.6);
        p.shadowU = r.uniform(0.2, 0.8);
        p.shadowT = r.uniform(0.2, 0.8);
        p.shadowAngle = r.uniform(0.0, 360.0);
    }
    if (r.chance(0.5)) {
        // No white balance: tungsten, shade, fluorescent green.
        p.cast = {r.uniform(0.55, 1.0), r.uniform(0.7, 1.0), r.uniform(0.5, 1.0)};
        const double top = std::max({p.cast[0], p.cast[1], p.cast[2]});
        for (double& g : p.cast) g /= top;
    }
    if (r.chance(0.15)) {
        o.device = deviceModelOfKind(kDeviceKinds[3]);  // linear, gamma 1
        p.exposure = r.uniform(0.12, 0.45);
    } else {
        o.device = deviceModelOfKind(kDeviceKinds[r.chance(0.6) ? 2 : r.index(3)]);
        p.exposure = r.uniform(0.6, 1.0);
    }
    if (r.chance(0.12)) {
        p.occluder = r.chance(0.6) ? OccluderKind::Thumb : OccluderKind::Clip;
        p.occludedCorner = r.index(4);
    }
    p.background = r.chance(0.4) ? BackgroundKind::Busy : static_cast<BackgroundKind>(r.index(3));
    p.backgroundLevel = r.uniform(0.1, 0.9);

    // The camera's processing.
    // A linear exposure is a raw developer's 16-bit export, never a JPEG.
    if (r.chance(0.5) && o.device.kind != DeviceKind::Linear) p.jpegQuality = 55 + r.index(41);
    if (r.chance(0.4)) {
        p.sharpen = r.uniform(0.4, 1.5);
        p.sharpenRadius = r.uniform(0.8, 2.5);
    }
    o.noiseSigma = r.uniform(0.0, 0.02);
    // Up to 3 pixels, but never so much that the patches smear into each
    // other: past an eighth of the pitch no patch is flat enough to measure,
    // and such a picture is of no use for a profile.
    p.blur = r.uniform(0.0, std::min(3.0, pitchPx / 8.0));

    if (r.chance(0.2)) {
        if (targetType == static_cast<int>(TargetType::ColorChecker) && r.chance(0.5)) {
            p.second = SecondChart::PassportPage;
        } else {
            p.second = SecondChart::OtherChart;
            p.secondType = sameTypeSecond && r.chance(0.5) ? targetType : (targetType + 1 + r.index(kTargetTypeCount - 1)) % kTargetTypeCount;
        }
    }
    return out;
}

}  // namespace calivant
