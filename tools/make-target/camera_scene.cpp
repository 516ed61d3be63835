#include "make-target/camera_scene.h"

#include <algorithm>
#include <cmath>

#include "make-target/device_kinds.h"
#include "make-target/synthetic_jpeg.h"
#include "util/parallel.h"

namespace calivant {
namespace {

constexpr double kPi = 3.141592653589793;
// Entries of the encoding and decoding tables.
constexpr int kCurveSteps = 4096;
// Paint codes beside the paints: the background, and the background in a
// card's shadow.
constexpr int kBackground = -1;
constexpr int kCardShadow = -2;
constexpr float kCardShadowLight = 0.55f;

// The projective map of the unit square (u, t) onto four points.
struct Homography {
    double a, b, c, d, e, f, g, h;

    static Homography of(const std::array<PicturePoint, 4>& p) {
        Homography m{};
        const double sx = p[0].x - p[1].x + p[2].x - p[3].x;
        const double sy = p[0].y - p[1].y + p[2].y - p[3].y;
        const double dx1 = p[1].x - p[2].x, dx2 = p[3].x - p[2].x;
        const double dy1 = p[1].y - p[2].y, dy2 = p[3].y - p[2].y;
        const double det = dx1 * dy2 - dx2 * dy1;
        m.g = det != 0.0 ? (sx * dy2 - dx2 * sy) / det : 0.0;
        m.h = det != 0.0 ? (dx1 * sy - sx * dy1) / det : 0.0;
        m.a = p[1].x - p[0].x + m.g * p[1].x;
        m.b = p[3].x - p[0].x + m.h * p[3].x;
        m.c = p[0].x;
        m.d = p[1].y - p[0].y + m.g * p[1].y;
        m.e = p[3].y - p[0].y + m.h * p[3].y;
        m.f = p[0].y;
        return m;
    }

    PicturePoint map(double u, double t) const {
        const double w = g * u + h * t + 1.0;
        return {(a * u + b * t + c) / w, (d * u + e * t + f) / w};
    }
};

// The inverse of a homography as a 3 x 3 adjugate: picture to (u, t).
struct InverseHomography {
    double m[3][3];

    explicit InverseHomography(const Homography& k) {
        const double f[3][3] = {{k.a, k.b, k.c}, {k.d, k.e, k.f}, {k.g, k.h, 1.0}};
        m[0][0] = f[1][1] * f[2][2] - f[1][2] * f[2][1];
        m[0][1] = f[0][2] * f[2][1] - f[0][1] * f[2][2];
        m[0][2] = f[0][1] * f[1][2] - f[0][2] * f[1][1];
        m[1][0] = f[1][2] * f[2][0] - f[1][0] * f[2][2];
        m[1][1] = f[0][0] * f[2][2] - f[0][2] * f[2][0];
        m[1][2] = f[0][2] * f[1][0] - f[0][0] * f[1][2];
        m[2][0] = f[1][0] * f[2][1] - f[1][1] * f[2][0];
        m[2][1] = f[0][1] * f[2][0] - f[0][0] * f[2][1];
        m[2][2] = f[0][0] * f[1][1] - f[0][1] * f[1][0];
    }

    bool map(double x, double y, double& u, double& t) const {
        const double w = m[2][0] * x + m[2][1] * y + m[2][2];
        if (w == 0.0) return false;
        u = (m[0][0] * x + m[0][1] * y + m[0][2]) / w;
        t = (m[1][0] * x + m[1][1] * y + m[1][2]) / w;
        return true;
    }
};

struct Lens {
    double cx, cy, scale;  // scale: barrel / (half diagonal)^2

    explicit Lens(const CameraScene& s)
        : cx(0.5 * (s.width - 1)), cy(0.5 * (s.height - 1)),
          scale(s.barrel / (0.25 * (static_cast<double>(s.width) * s.width + static_cast<double>(s.height) * s.height))) {}

    // The undistorted point of a picture point.
    PicturePoint ideal(double x, double y) const {
        const double dx = x - cx, dy = y - cy;
        const double k = 1.0 + scale * (dx * dx + dy * dy);
        return {cx + dx * k, cy + dy * k};
    }

    PicturePoint picture(const PicturePoint& p) const {
        const double dx = p.x - cx, dy = p.y - cy;
        double k = 1.0;
        for (int i = 0; i < 100; ++i) {
            const double rx = dx / k, ry = dy / k;
            const double next = 1.0 + scale * (rx * rx + ry * ry);
            if (std::abs(next - k) < 1e-15) break;
            k = next;
        }
        return {cx + dx / k, cy + dy / k};
    }
};

struct PlacedChart {
    const SceneChart* chart;
    InverseHomography inverse;
    ArtworkRect bounds;
    int paintOffset;
};

// Per channel: a table over [0, 1], read with linear interpolation.
struct Curve {
    std::vector<float> values;
    float at(float x) const {
        const float f = std::clamp(x, 0.0f, 1.0f) * kCurveSteps;
        const int i = std::min(static_cast<int>(f), kCurveSteps - 1);
        return values[static_cast<std::size_t>(i)] + (f - i) * (values[static_cast<std::size_t>(i) + 1] - values[static_cast<std::size_t>(i)]);
    }
};

// Device values of linear light, per channel, before the crosstalk mix;
// the table runs over the square root of the light, where the curves are gentle.
std::array<Curve, 3> encodingCurves(const DeviceModel& model) {
    DeviceModel perChannel = model;
    if (perChannel.kind == DeviceKind::Crosstalk) perChannel.kind = DeviceKind::MatrixShaper;
    std::array<Curve, 3> curves;
    for (Curve& c : curves) c.values.resize(kCurveSteps + 1);
    for (int i = 0; i <= kCurveSteps; ++i) {
        const double s = static_cast<double>(i) / kCurveSteps;
        const double l = s * s;
        const DeviceRgb d = encodeDeviceKind(perChannel, {l, l, l});
        for (int c = 0; c < 3; ++c) curves[static_cast<std::size_t>(c)].values[static_cast<std::size_t>(i)] =
                                        static_cast<float>(std::clamp(d[static_cast<std::size_t>(c)], 0.0, 1.0));
    }
    return curves;
}

// Linear light of device values, per channel (grays decode exactly).
std::array<Curve, 3> decodingCurves(const DeviceModel& model) {
    std::array<Curve, 3> curves;
    for (Curve& c : curves) c.values.resize(kCurveSteps + 1);
    for (int i = 0; i <= kCurveSteps; ++i) {
        const double v = static_cast<double>(i) / kCurveSteps;
        const DeviceRgb l = decodeDeviceKind(model, {v, v, v});
        for (int c = 0; c < 3; ++c) curves[static_cast<std::size_t>(c)].values[static_cast<std::size_t>(i)] =
                                        static_cast<float>(std::max(l[static_cast<std::size_t>(c)], 0.0));
    }
    return curves;
}

double smoothStep(double x) {
    x = std::clamp(x, 0.0, 1.0);
    return x * x * (3.0 - 2.0 * x);
}

bool fail(std::string* error, const std::string& message) {
    if (error) *error = message;
    return false;
}

// Rows first .. last - 1 of worker w among `workers`.
void bandOf(int height, unsigned w, unsigned workers, int& first, int& last) {
    first = static_cast<int>(static_cast<long long>(height) * w / workers);
    last = static_cast<int>(static_cast<long long>(height) * (w + 1) / workers);
}

}  // namespace

PicturePoint chartPoint(const SceneChart& chart, double u, double t) { return Homography::of(chart.frame).map(u, t); }

PicturePoint lensPoint(const CameraScene& scene, const PicturePoint& ideal) { return Lens(scene).picture(ideal); }

int renderCameraScene(const CameraScene& s, SyntheticPicture& picture, std::string* error,
                      std::vector<unsigned char>* jpeg) {
    const int width = s.width, height = s.height;
    if (width < kMinSyntheticSide || height < kMinSyntheticSide || width > kMaxSyntheticSide ||
        height > kMaxSyntheticSide || static_cast<std::int64_t>(width) * height > kMaxSyntheticPixels) {
        fail(error, "picture size out of range");
        return 1;
    }
    const unsigned workers = std::max(1u, std::min(s.workers, static_cast<unsigned>(height)));
    const Lens lens(s);

    // Every paint of every chart and of the occluder, in linear light.
    std::vector<std::array<float, 3>> paints;
    auto addLinear = [&](const CieTriple& xyz) {
        const DeviceRgb l = linearFromXyz(s.device, xyz);
        paints.push_back({static_cast<float>(std::max(l[0], 0.0)), static_cast<float>(std::max(l[1], 0.0)),
                          static_cast<float>(std::max(l[2], 0.0))});
    };
    std::vector<PlacedChart> placed;
    double minX = 1e300, minY = 1e300, maxX = -1e300, maxY = -1e300;
    auto widen = [&](const PicturePoint& p) {
        minX = std::min(minX, p.x);
        maxX = std::max(maxX, p.x);
        minY = std::min(minY, p.y);
        maxY = std::max(maxY, p.y);
    };
    for (const SceneChart& chart : s.charts) {
        const Homography forward = Homography::of(chart.frame);
        ArtworkRect b = chart.artwork.bounds();
        b.u1 += chart.dropShadow;
        b.t1 += chart.dropShadow;
        placed.push_back({&chart, InverseHomography(forward), b, static_cast<int>(paints.size())});
        for (const CieTriple& xyz : chart.artwork.paints) addLinear(xyz);
        // The outline, finely enough for the lens's curves.
        for (int k = 0; k <= 64; ++k) {
            const double f = k / 64.0;
            for (const auto& [u, t] : {std::pair{b.u0 + f * (b.u1 - b.u0), b.t0}, {b.u0 + f * (b.u1 - b.u0), b.t1},
                                       {b.u0, b.t0 + f * (b.t1 - b.t0)}, {b.u1, b.t0 + f * (b.t1 - b.t0)}})
                widen(lens.picture(forward.map(u, t)));
        }
    }
    const Occluder& o = s.occluder;
    const int occluderPaint = static_cast<int>(paints.size());
    if (o.kind != OccluderKind::None) {
        addLinear(o.kind == OccluderKind::Thumb ? labToXyz(CieTriple{66.0, 15.0, 18.0}) : labToXyz(CieTriple{30.0, 0.0, -2.0}));
        addLinear(o.kind == OccluderKind::Thumb ? labToXyz(CieTriple{58.0, 17.0, 17.0}) : labToXyz(CieTriple{70.0, 0.0, -2.0}));
        const double reach = std::hypot(o.halfLength, o.halfWidth);
        widen(lens.picture({o.centre.x - reach, o.centre.y - reach}));
        widen(lens.picture({o.centre.x + reach, o.centre.y + reach}));
        widen(lens.picture({o.centre.x - reach, o.centre.y + reach}));
        widen(lens.picture({o.centre.x + reach, o.centre.y - reach}));
    }
    const int x0 = std::clamp(static_cast<int>(std::floor(minX)) - 2, 0, width);
    const int x1 = std::clamp(static_cast<int>(std::ceil(maxX)) + 2, 0, width);
    const int y0 = std::clamp(static_cast<int>(std::floor(minY)) - 2, 0, height);
    const int y1 = std::clamp(static_cast<int>(std::ceil(maxY)) + 2, 0, height);

    // What covers an undistorted point: the occluder, else the first chart
    // whose artwork reaches it.
    const double oc = std::cos(o.angle), os = std::sin(o.angle);
    auto paintAt = [&](double px, double py) {
        const PicturePoint p = lens.ideal(px, py);
        if (o.kind != OccluderKind::None) {
            const double dx = p.x - o.centre.x, dy = p.y - o.centre.y;
            const double a = (dx * oc + dy * os) / o.halfLength, b = (-dx * os + dy * oc) / o.halfWidth;
            if (o.kind == OccluderKind::Thumb && a * a + b * b <= 1.0)
                return occluderPaint + (a > 0.55 && std::abs(b) < 0.6 ? 1 : 0);  // the nail at its tip
            if (o.kind == OccluderKind::Clip && std::abs(a) <= 1.0 && std::abs(b) <= 1.0)
                return occluderPaint + (std::abs(b) < 0.15 ? 1 : 0);  // a bright fold along the metal
        }
        int shade = kBackground;
        for (const PlacedChart& c : placed) {
            double u = 0.0, t = 0.0;
            if (!c.inverse.map(p.x, p.y, u, t) || u < c.bounds.u0 || u > c.bounds.u1 || t < c.bounds.t0 || t > c.bounds.t1)
                continue;
            const int paint = c.chart->artwork.paintAt(u, t);
            if (paint >= 0) return c.paintOffset + paint;
            const double d = c.chart->dropShadow;
            if (d > 0.0 && c.chart->artwork.paintAt(u - d, t - d) >= 0) shade = kCardShadow;
        }
        return shade;
    };

    // The background, as device values, then in linear light.
    Plane plane(static_cast<std::size_t>(width) * height * 3);
    Random random(s.seed ^ 0xB5AD4ECEDA1CE2A9ull);
    fillBackground(plane, width, height, s.background, s.backgroundLevel, random);
    const std::array<Curve, 3> decode = decodingCurves(s.device);

    // Lighting: falling off across the picture, the shadow, the glare, the
    // lens's fall-off (cos^4 of the angle off the axis), cast and exposure.
    const double ga = s.gradientAngle * kPi / 180.0;
    const double gdx = std::cos(ga), gdy = -std::sin(ga);
    const double gc[4] = {0.0, (width - 1) * gdx, (height - 1) * gdy, (width - 1) * gdx + (height - 1) * gdy};
    const double glo = *std::min_element(gc, gc + 4), ghi = *std::max_element(gc, gc + 4);
    const double gspan = ghi > glo ? ghi - glo : 1.0;
    const double sa = s.shadowAngle * kPi / 180.0;
    const double snx = -std::sin(sa), sny = -std::cos(sa);
    const double cornerR2 = 0.25 * (static_cast<double>(width - 1) * (width - 1) + static_cast<double>(height - 1) * (height - 1));
    const double vignetteC = s.vignetting > 0.0 ? 1.0 / std::sqrt(1.0 - std::min(s.vignetting, 0.99)) - 1.0 : 0.0;
    const double glareReach2 = 16.0 * s.glareRadius * s.glareRadius;

    runOnWorkers(workers, [&](unsigned w) {
        int first = 0, last = 0;
        bandOf(height, w, workers, first, last);
        // Paints at the pixel corners of the row's top and bottom edges:
        // each pixel takes the mean of its four corners.
        std::vector<int> above(static_cast<std::size_t>(width) + 1, kBackground), below(above.size(), kBackground);
        auto cornerRow = [&](double y, std::vector<int>& out) {
            std::fill(out.begin(), out.end(), kBackground);
            if (y < y0 - 1 || y > y1) return;
            for (int x = x0; x <= x1 && x <= width; ++x) out[static_cast<std::size_t>(x)] = paintAt(x - 0.5, y);
        };
        cornerRow(first - 0.5, above);
        for (int y = first; y < last; ++y) {
            cornerRow(y + 0.5, below);
            float* row = &plane[static_cast<std::size_t>(y) * width * 3];
            for (int x = 0; x < width; ++x) {
                float* px = row + static_cast<std::size_t>(x) * 3;
                float background[3];
                for (int c = 0; c < 3; ++c) background[c] = decode[static_cast<std::size_t>(c)].at(px[c]);
                const int corners[4] = {above[static_cast<std::size_t>(x)], above[static_cast<std::size_t>(x) + 1],
                                        below[static_cast<std::size_t>(x)], below[static_cast<std::size_t>(x) + 1]};
                float sum[3] = {0.0f, 0.0f, 0.0f};
                for (int k : corners)
                    for (int c = 0; c < 3; ++c)
                        sum[c] += k >= 0 ? paints[static_cast<std::size_t>(k)][static_cast<std::size_t>(c)]
                                         : background[c] * (k == kCardShadow ? kCardShadowLight : 1.0f);
                double light = 1.0;
                if (s.gradient > 0.0) light -= s.gradient * ((x * gdx + y * gdy) - glo) / gspan;
                if (s.shadowDepth > 0.0) {
                    const double side = (x - s.shadowPoint.x) * snx + (y - s.shadowPoint.y) * sny;
                    light *= 1.0 - s.shadowDepth * smoothStep(side / s.shadowSoftness + 0.5);
                }
                double glare = 0.0;
                if (s.glare > 0.0) {
                    const double d2 = (x - s.glarePoint.x) * (x - s.glarePoint.x) + (y - s.glarePoint.y) * (y - s.glarePoint.y);
                    if (d2 < glareReach2) glare = s.glare * std::exp(-0.5 * d2 / (s.glareRadius * s.glareRadius));
                }
                double gain = s.exposure;
                if (vignetteC > 0.0) {
                    const double r2 = ((x - lens.cx) * (x - lens.cx) + (y - lens.cy) * (y - lens.cy)) / cornerR2;
                    const double f = 1.0 / (1.0 + vignetteC * r2);
                    gain *= f * f;
                }
                for (int c = 0; c < 3; ++c)
                    px[c] = static_cast<float>((0.25 * sum[c] * light + glare) * gain * s.cast[static_cast<std::size_t>(c)]);
            }
            std::swap(above, below);
        }
    });
    applyBlur(plane, width, height, 3, s.blur, workers);

    // Encoded through the device, then sharpened on the luminance.
    const std::array<Curve, 3> encode = encodingCurves(s.device);
    const bool mixes = s.device.kind == DeviceKind::Crosstalk;
    const Matrix3& mix = s.device.crosstalk;
    runOnWorkers(workers, [&](unsigned w) {
        int first = 0, last = 0;
        bandOf(height, w, workers, first, last);
        for (std::size_t i = static_cast<std::size_t>(first) * width * 3; i < static_cast<std::size_t>(last) * width * 3; i += 3) {
            float d[3];
            for (int c = 0; c < 3; ++c) d[c] = encode[static_cast<std::size_t>(c)].at(std::sqrt(std::max(plane[i + c], 0.0f)));
            for (int c = 0; c < 3; ++c)
                plane[i + c] = mixes ? static_cast<float>(mix[c][0] * d[0] + mix[c][1] * d[1] + mix[c][2] * d[2]) : d[c];
        }
    });
    if (s.sharpen > 0.0) {
        Plane luma(static_cast<std::size_t>(width) * height);
        for (std::size_t i = 0; i < luma.size(); ++i)
            luma[i] = (plane[3 * i] + plane[3 * i + 1] + plane[3 * i + 2]) * (1.0f / 3.0f);
        Plane soft = luma;
        applyBlur(soft, width, height, 1, s.sharpenRadius, workers);
        const float amount = static_cast<float>(s.sharpen);
        for (std::size_t i = 0; i < luma.size(); ++i) {
            const float detail = amount * (luma[i] - soft[i]);
            for (int c = 0; c < 3; ++c) plane[3 * i + c] += detail;
        }
    }

    picture.width = width;
    picture.height = height;
    picture.bitsPerSample = s.jpegQuality > 0 ? 8 : s.bitsPerSample;
    picture.samples.assign(plane.size(), 0);
    const double maxCode = picture.bitsPerSample == 8 ? 255.0 : 65535.0;
    runOnWorkers(workers, [&](unsigned w) {
        int first = 0, last = 0;
        bandOf(height, w, workers, first, last);
        for (int y = first; y < last; ++y) {
            // Each row its own noise, whichever worker draws it.
            Random noise(s.seed * 0x9E3779B97F4A7C15ull + static_cast<std::uint64_t>(y) * 0xD1B54A32D192ED03ull + 1);
            const std::size_t begin = static_cast<std::size_t>(y) * width * 3;
            for (std::size_t i = begin; i < begin + static_cast<std::size_t>(width) * 3; ++i) {
                double v = plane[i];
                if (s.noise > 0.0) v += s.noise * noise.normal();
                picture.samples[i] = static_cast<std::uint16_t>(std::clamp(v, 0.0, 1.0) * maxCode + 0.5);
            }
        }
    });
    Plane().swap(plane);
    if (s.jpegQuality > 0) {
        std::vector<unsigned char> bytes;
        if (encodeJpeg(picture, s.jpegQuality, bytes, error) != 0 || decodeJpeg(bytes, picture, error) != 0) return 1;
        if (jpeg) jpeg->swap(bytes);
    }
    return 0;
}

}  // namespace calivant
