#include "make-target/synthetic_target.h"
#include "make-target/device_kinds.h"

#include "shell/scan_session.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <fstream>
#include <limits>

#include "util/format.h"
#include "util/text_output.h"
#include "reference/reference_file.h"
#include "reference/text_input.h"
#include "measure/advanced_options.h"

namespace calivant {
namespace {

constexpr int kXyzDecimals = 4;
constexpr int kLabDecimals = 2;

// Beyond these the model is no scanner but a typing error.
constexpr double kMaxGamma = 10.0;
constexpr double kMinRelativeDeterminant = 1e-9;
constexpr double kMaxFlare = 0.2;
constexpr double kMaxDarkOffset = 0.2;

// The half-split patch: its right half moves this far in every channel.
constexpr double kSplitOffset = 0.35;

// Buckets per side of the grid that finds the cell under a point.
constexpr int kBuckets = 64;

constexpr double kMaxGradient = 0.99;

// sRGB primaries adapted to D50 (Bradford), linear RGB to XYZ with Y = 1.
constexpr Matrix3 kSrgbD50 = {{{0.4360747, 0.3850649, 0.1430804},
                               {0.2225045, 0.7168786, 0.0606169},
                               {0.0139322, 0.0971045, 0.7141733}}};

// Generated colour patches: the encoded sRGB cube with this gamma, mapped to
// linear light in kGeneratedFloor .. kGeneratedFloor + kGeneratedRange, which
// keeps them off paper white and off the deepest black as printed charts are.
constexpr double kGeneratedGamma = 2.2;
constexpr double kGeneratedFloor = 0.02;
constexpr double kGeneratedRange = 0.86;
constexpr double kGrayDarkestL = 10.0;
constexpr double kGrayLightestL = 92.0;


std::array<double, 3> multiply(const Matrix3& m, const std::array<double, 3>& v) {
    return {m[0][0] * v[0] + m[0][1] * v[1] + m[0][2] * v[2], m[1][0] * v[0] + m[1][1] * v[1] + m[1][2] * v[2],
            m[2][0] * v[0] + m[2][1] * v[1] + m[2][2] * v[2]};
}

double clamp01(double v) { return std::clamp(v, 0.0, 1.0); }

DeviceRgb linearFromDevice(const DeviceModel& model, const DeviceRgb& device) {
    if (model.kind != DeviceKind::MatrixShaper) {
        DeviceRgb clamped{};
        for (int c = 0; c < 3; ++c) clamped[c] = clamp01(device[c]);
        return decodeDeviceKind(model, clamped);
    }
    DeviceRgb linear{};
    for (int c = 0; c < 3; ++c) linear[c] = std::pow(clamp01(device[c]), model.gamma[c]);
    return linear;
}

DeviceRgb deviceFromLinear(const DeviceModel& model, const DeviceRgb& linear) {
    DeviceRgb device{};
    if (model.kind != DeviceKind::MatrixShaper) {
        device = encodeDeviceKind(model, linear);
        for (double& v : device) v = clamp01(v);
        return device;
    }
    for (int c = 0; c < 3; ++c) device[c] = std::pow(clamp01(linear[c]), 1.0 / model.gamma[c]);
    return device;
}

double roundedAsWritten(double value, int decimals) {
    double parsed = 0.0;
    parseReal(formatReal(value, decimals), parsed);
    return parsed;
}

CieTriple roundedXyz(const CieTriple& xyz) {
    return {roundedAsWritten(xyz[0], kXyzDecimals), roundedAsWritten(xyz[1], kXyzDecimals),
            roundedAsWritten(xyz[2], kXyzDecimals)};
}

CieTriple roundedLab(const CieTriple& lab) {
    return {roundedAsWritten(lab[0], kLabDecimals), roundedAsWritten(lab[1], kLabDecimals),
            roundedAsWritten(lab[2], kLabDecimals)};
}

// The radical inverse of index in a base: the Halton sequence's coordinate.
double radicalInverse(int index, int base) {
    double result = 0.0;
    double scale = 1.0 / base;
    for (int i = index; i > 0; i /= base, scale /= base) result += (i % base) * scale;
    return result;
}

bool validTargetType(int targetType) { return targetType >= 0 && targetType < kTargetTypeCount; }

double cross(double ax, double ay, double bx, double by) { return ax * by - ay * bx; }

// The quad must be a proper convex quadrilateral for the inverse mapping to
// have one answer inside it.
bool convexQuad(const OverlayQuad& quad) {
    double sign = 0.0;
    for (int i = 0; i < 4; ++i) {
        const ImagePoint& a = quad.corners[i];
        const ImagePoint& b = quad.corners[(i + 1) % 4];
        const ImagePoint& c = quad.corners[(i + 2) % 4];
        if (!std::isfinite(a.x) || !std::isfinite(a.y)) return false;
        const double turn = cross(b.x - a.x, b.y - a.y, c.x - b.x, c.y - b.y);
        if (std::abs(turn) < 1e-9) return false;
        if (sign == 0.0) sign = turn;
        else if ((turn > 0) != (sign > 0)) return false;
    }
    return true;
}

// Inverts mapTargetPoint: the overlay coordinates (u, v) of an image point.
// The mapping is P = c0 + u e + v f + u v g, with e = c3 - c0, f = c1 - c0,
// g = c0 - c3 + c2 - c1; eliminating u leaves a quadratic in v.
class QuadInverse {
public:
    explicit QuadInverse(const OverlayQuad& quad) : c0_(quad.corners[0]) {
        const auto& c = quad.corners;
        ex_ = c[3].x - c[0].x;
        ey_ = c[3].y - c[0].y;
        fx_ = c[1].x - c[0].x;
        fy_ = c[1].y - c[0].y;
        gx_ = c[0].x - c[3].x + c[2].x - c[1].x;
        gy_ = c[0].y - c[3].y + c[2].y - c[1].y;
        k2_ = cross(gx_, gy_, fx_, fy_);
    }

    // False when the point lies outside the chart.
    bool map(double x, double y, double& u, double& v) const {
        const double hx = x - c0_.x;
        const double hy = y - c0_.y;
        const double k1 = cross(ex_, ey_, fx_, fy_) + cross(hx, hy, gx_, gy_);
        const double k0 = cross(hx, hy, ex_, ey_);
        if (std::abs(k2_) <= 1e-12 * std::abs(k1)) {
            if (k1 == 0.0) return false;
            return accept(hx, hy, -k0 / k1, u, v);
        }
        const double discriminant = k1 * k1 - 4.0 * k0 * k2_;
        if (discriminant < 0.0) return false;
        // The cancellation-free pair of roots.
        const double q = -0.5 * (k1 + std::copysign(std::sqrt(discriminant), k1));
        if (accept(hx, hy, q / k2_, u, v)) return true;
        return q != 0.0 && accept(hx, hy, k0 / q, u, v);
    }

private:
    bool accept(double hx, double hy, double vCandidate, double& u, double& v) const {
        const double denominatorX = ex_ + gx_ * vCandidate;
        const double denominatorY = ey_ + gy_ * vCandidate;
        double uCandidate;
        if (std::abs(denominatorX) >= std::abs(denominatorY)) {
            if (denominatorX == 0.0) return false;
            uCandidate = (hx - fx_ * vCandidate) / denominatorX;
        } else {
            uCandidate = (hy - fy_ * vCandidate) / denominatorY;
        }
        constexpr double kSlack = 1e-9;
        if (uCandidate < -kSlack || uCandidate > 1.0 + kSlack || vCandidate < -kSlack || vCandidate > 1.0 + kSlack)
            return false;
        u = uCandidate;
        v = vCandidate;
        return true;
    }

    ImagePoint c0_;
    double ex_, ey_, fx_, fy_, gx_, gy_, k2_;
};

// The homography carrying the unit square's (u, v) onto a quad's corners
// (corner 0 at (0, 0), 1 at (0, 1), 2 at (1, 1), 3 at (1, 0)), and back.
class QuadHomography {
public:
    explicit QuadHomography(const OverlayQuad& quad) {
        // The square-to-quad map of Heckbert's "Fundamentals of texture
        // mapping": x = (a u + b v + c) / (g u + h v + 1), alike for y.
        const auto& c = quad.corners;
        const double x0 = c[0].x, y0 = c[0].y, x1 = c[3].x, y1 = c[3].y;
        const double x2 = c[2].x, y2 = c[2].y, x3 = c[1].x, y3 = c[1].y;
        const double sx = x0 - x1 + x2 - x3, sy = y0 - y1 + y2 - y3;
        const double dx1 = x1 - x2, dx2 = x3 - x2, dy1 = y1 - y2, dy2 = y3 - y2;
        const double det = dx1 * dy2 - dx2 * dy1;
        double g = 0.0, h = 0.0;
        if (det != 0.0) {
            g = (sx * dy2 - dx2 * sy) / det;
            h = (dx1 * sy - sx * dy1) / det;
        }
        m_ = {x1 - x0 + g * x1, x3 - x0 + h * x3, x0, y1 - y0 + g * y1, y3 - y0 + h * y3, y0, g, h, 1.0};
        const auto& m = m_;
        const double d = m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6]) +
                         m[2] * (m[3] * m[7] - m[4] * m[6]);
        inverse_ = {(m[4] * m[8] - m[5] * m[7]) / d, (m[2] * m[7] - m[1] * m[8]) / d, (m[1] * m[5] - m[2] * m[4]) / d,
                    (m[5] * m[6] - m[3] * m[8]) / d, (m[0] * m[8] - m[2] * m[6]) / d, (m[2] * m[3] - m[0] * m[5]) / d,
                    (m[3] * m[7] - m[4] * m[6]) / d, (m[1] * m[6] - m[0] * m[7]) / d, (m[0] * m[4] - m[1] * m[3]) / d};
    }

    ImagePoint forward(double u, double v) const { return apply(m_, u, v); }

    // False when the point lies outside the chart.
    bool map(double x, double y, double& u, double& v) const {
        const ImagePoint p = apply(inverse_, x, y);
        constexpr double kSlack = 1e-9;
        if (!(p.x >= -kSlack && p.x <= 1.0 + kSlack && p.y >= -kSlack && p.y <= 1.0 + kSlack)) return false;
        u = p.x;
        v = p.y;
        return true;
    }

private:
    static ImagePoint apply(const std::array<double, 9>& m, double a, double b) {
        const double w = m[6] * a + m[7] * b + m[8];
        return {(m[0] * a + m[1] * b + m[2]) / w, (m[3] * a + m[4] * b + m[5]) / w};
    }

    std::array<double, 9> m_{};
    std::array<double, 9> inverse_{};
};

// One colour the picture is painted with.
struct Paint {
    DeviceRgb device{};
    DeviceRgb linear{};
};

Paint paintOfDevice(const DeviceModel& model, const DeviceRgb& device) {
    DeviceRgb clamped{};
    for (int c = 0; c < 3; ++c) clamped[c] = clamp01(device[c]);
    return {clamped, linearFromDevice(model, clamped)};
}

Paint paintOfXyz(const DeviceModel& model, const CieTriple& xyz) {
    const DeviceRgb device = deviceFromXyz(model, xyz);
    return {device, linearFromDevice(model, device)};
}

struct PaintedCell {
    double u0, t0, u1, t1;
    double split;  // u from which the second paint applies; above u1 when none
    int paint;
    int splitPaint;
};

// Finds the cell under an overlay point through a coarse grid of buckets,
// each listing the cells that reach into it.
class CellIndex {
public:
    explicit CellIndex(const std::vector<PaintedCell>& cells) : cells_(cells), buckets_(kBuckets * kBuckets) {
        for (std::size_t i = 0; i < cells.size(); ++i) {
            const PaintedCell& c = cells[i];
            const int uFirst = bucketOf(c.u0), uLast = bucketOf(c.u1);
            const int tFirst = bucketOf(c.t0), tLast = bucketOf(c.t1);
            for (int bt = tFirst; bt <= tLast; ++bt)
                for (int bu = uFirst; bu <= uLast; ++bu) buckets_[bt * kBuckets + bu].push_back(static_cast<int>(i));
        }
    }

    // The cell holding (u, t), -1 for none. Cells are half-open on their
    // right and bottom edges, so cells that touch never both claim a point.
    int find(double u, double t) const {
        for (int i : buckets_[bucketOf(t) * kBuckets + bucketOf(u)]) {
            const PaintedCell& c = cells_[i];
            if (u >= c.u0 && u < c.u1 && t >= c.t0 && t < c.t1) return i;
        }
        return -1;
    }

private:
    static int bucketOf(double f) { return std::clamp(static_cast<int>(f * kBuckets), 0, kBuckets - 1); }

    const std::vector<PaintedCell>& cells_;
    std::vector<std::vector<int>> buckets_;
};

// Reproducible normal deviates: splitmix64 and the Box-Muller transform,
// written out so that a seed gives the same picture with every standard
// library.
class GaussianNoise {
public:
    explicit GaussianNoise(std::uint64_t seed) : state_(seed) {}

    double next() {
        if (hasSpare_) {
            hasSpare_ = false;
            return spare_;
        }
        const double u1 = uniform();
        const double u2 = uniform();
        const double radius = std::sqrt(-2.0 * std::log(u1));
        constexpr double kTwoPi = 6.283185307179586;
        spare_ = radius * std::sin(kTwoPi * u2);
        hasSpare_ = true;
        return radius * std::cos(kTwoPi * u2);
    }

private:
    std::uint64_t nextBits() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // In (0, 1]: the logarithm above never sees 0.
    double uniform() { return (static_cast<double>(nextBits() >> 11) + 1.0) * 0x1.0p-53; }

    std::uint64_t state_;
    bool hasSpare_ = false;
    double spare_ = 0.0;
};

bool fail(std::string* error, const std::string& message) {
    if (error) *error = message;
    return false;
}

bool checkOptions(const SyntheticTargetOptions& o, std::string* error) {
    if (!validTargetType(o.targetType)) return fail(error, "unknown target type");
    if (o.width < kMinSyntheticSide || o.height < kMinSyntheticSide || o.width > kMaxSyntheticSide ||
        o.height > kMaxSyntheticSide ||
        static_cast<std::int64_t>(o.width) * o.height > kMaxSyntheticPixels)
        return fail(error, "picture size out of range");
    if (o.bitsPerSample != 8 && o.bitsPerSample != 16) return fail(error, "bits per sample must be 8 or 16");
    if (checkDeviceModel(o.device) != 0) return fail(error, "device model cannot be inverted");
    if (!(o.noiseSigma >= 0.0) || !std::isfinite(o.noiseSigma)) return fail(error, "noise must be 0 or more");
    if (!(o.gradient >= 0.0 && o.gradient <= kMaxGradient)) return fail(error, "gradient must lie in 0..0.99");
    if (!std::isfinite(o.gradientAngle)) return fail(error, "gradient angle must be a finite number");
    if (!(o.vignetting >= 0.0 && o.vignetting <= kMaxGradient)) return fail(error, "vignetting must lie in 0..0.99");
    if (o.chartQuad && !convexQuad(*o.chartQuad)) return fail(error, "chart corners do not form a convex quadrilateral");
    return true;
}

bool completeReference(const ReferenceData& reference, const TargetLayout& layout) {
    if (reference.grayCount != layout.grayCount || reference.colorCount != layout.colorCount) return false;
    for (int i = 0; i < reference.grayCount; ++i)
        if (reference.grayXYZ[i][0] == kReferenceMissing) return false;
    for (int i = 0; i < reference.colorCount; ++i)
        if (reference.colorXYZ[i][0] == kReferenceMissing) return false;
    return true;
}

int findCell(const std::vector<PatchCell>& cells, const std::string& name) {
    for (std::size_t i = 0; i < cells.size(); ++i)
        if (equalsNoCase(cells[i].name, name)) return static_cast<int>(i);
    return -1;
}

}  // namespace

double determinant(const Matrix3& m) {
    return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
           m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
}

Matrix3 inverse(const Matrix3& m) {
    const double det = determinant(m);
    assert(det != 0.0);
    Matrix3 r{};
    r[0][0] = (m[1][1] * m[2][2] - m[1][2] * m[2][1]) / det;
    r[0][1] = (m[0][2] * m[2][1] - m[0][1] * m[2][2]) / det;
    r[0][2] = (m[0][1] * m[1][2] - m[0][2] * m[1][1]) / det;
    r[1][0] = (m[1][2] * m[2][0] - m[1][0] * m[2][2]) / det;
    r[1][1] = (m[0][0] * m[2][2] - m[0][2] * m[2][0]) / det;
    r[1][2] = (m[0][2] * m[1][0] - m[0][0] * m[1][2]) / det;
    r[2][0] = (m[1][0] * m[2][1] - m[1][1] * m[2][0]) / det;
    r[2][1] = (m[0][1] * m[2][0] - m[0][0] * m[2][1]) / det;
    r[2][2] = (m[0][0] * m[1][1] - m[0][1] * m[1][0]) / det;
    return r;
}

DeviceModel defaultDeviceModel() {
    DeviceModel model;
    const CieTriple white = {kD50WhiteX, kD50WhiteY, kD50WhiteZ};
    for (int row = 0; row < 3; ++row) {
        const double sum = kSrgbD50[row][0] + kSrgbD50[row][1] + kSrgbD50[row][2];
        for (int c = 0; c < 3; ++c) model.toXyz[row][c] = kSrgbD50[row][c] * white[row] / sum;
    }
    return model;
}

int checkDeviceModel(const DeviceModel& model) {
    double largest = 0.0;
    for (const auto& row : model.toXyz)
        for (double v : row) {
            if (!std::isfinite(v)) return 1;
            largest = std::max(largest, std::abs(v));
        }
    for (double g : model.gamma)
        if (!(g > 0.0 && g <= kMaxGamma)) return 1;
    if (largest == 0.0) return 1;
    const double det = determinant(model.toXyz);
    if (!(std::abs(det) > kMinRelativeDeterminant * largest * largest * largest)) return 1;
    const bool mixes = model.kind == DeviceKind::Crosstalk || model.kind == DeviceKind::Saturation ||
                       model.kind == DeviceKind::CameraLook;
    if (mixes && !(std::abs(determinant(model.crosstalk)) > kMinRelativeDeterminant)) return 1;
    if (!(model.exposure > 0.0 && model.exposure <= 1.0)) return 1;
    if (!(model.flare >= 0.0 && model.flare <= kMaxFlare) || !(model.darkOffset >= 0.0 && model.darkOffset <= kMaxDarkOffset))
        return 1;
    return 0;
}

DeviceRgb linearFromXyz(const DeviceModel& model, const CieTriple& xyz) {
    return multiply(inverse(model.toXyz), xyz);
}

DeviceRgb deviceFromXyz(const DeviceModel& model, const CieTriple& xyz) {
    return deviceFromLinear(model, linearFromXyz(model, xyz));
}

CieTriple xyzFromDevice(const DeviceModel& model, const DeviceRgb& device) {
    if (model.kind != DeviceKind::MatrixShaper) return multiply(model.toXyz, decodeDeviceKind(model, device));
    DeviceRgb linear{};
    for (int c = 0; c < 3; ++c) linear[c] = std::pow(device[c], model.gamma[c]);
    return multiply(model.toXyz, linear);
}

std::string builtInReferenceName(int targetType) {
    switch (targetType) {
        case static_cast<int>(TargetType::ColorChecker): return "ColorChecker.ref";
        case static_cast<int>(TargetType::ColorCheckerDc): return "ColorChecker DC.ref";
        case static_cast<int>(TargetType::ColorCheckerSg): return "ColorChecker SG.ref";
        default: return {};
    }
}

int readReferencePath(const std::string& path, int targetType, ReferenceData& reference) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return kReferenceCannotOpen;
    return readReferenceFile(in, targetType, reference);
}

ReferenceData generatedReference(int targetType) {
    const TargetLayout layout = makeTargetLayout(targetType);
    ReferenceData reference;
    reference.grayCount = layout.grayCount;
    reference.colorCount = layout.colorCount;
    reference.whiteCount = layout.whiteCount;
    reference.midGrayCount = layout.midGrayCount;
    reference.blackCount = layout.blackCount;
    const Matrix3& m = kSrgbD50;
    for (int i = 0; i < reference.colorCount; ++i) {
        // Index 0 of the sequence is the origin; start at 1.
        const std::array<double, 3> encoded = {radicalInverse(i + 1, 2), radicalInverse(i + 1, 3),
                                               radicalInverse(i + 1, 5)};
        std::array<double, 3> linear{};
        for (int c = 0; c < 3; ++c)
            linear[c] = kGeneratedFloor + kGeneratedRange * std::pow(encoded[c], kGeneratedGamma);
        CieTriple xyz = multiply(m, linear);
        for (double& v : xyz) v *= 100.0;
        reference.colorXYZ[i] = xyz;
        reference.colorLab[i] = xyzToLab(xyz);
    }
    for (int g = 0; g < reference.grayCount; ++g) {
        const double fraction = reference.grayCount > 1 ? static_cast<double>(g) / (reference.grayCount - 1) : 1.0;
        const double l = kGrayDarkestL + (kGrayLightestL - kGrayDarkestL) * fraction;
        reference.grayXYZ[g] = labToXyz(CieTriple{l, 0.0, 0.0});
        reference.grayLab[g] = xyzToLab(reference.grayXYZ[g]);
    }
    roundReferenceAsWritten(reference);
    return reference;
}

void roundReferenceAsWritten(ReferenceData& reference) {
    for (int i = 0; i < reference.grayCount; ++i) {
        reference.grayXYZ[i] = roundedXyz(reference.grayXYZ[i]);
        reference.grayLab[i] = roundedLab(reference.grayLab[i]);
    }
    for (int i = 0; i < reference.colorCount; ++i) {
        reference.colorXYZ[i] = roundedXyz(reference.colorXYZ[i]);
        reference.colorLab[i] = roundedLab(reference.colorLab[i]);
    }
}

BorderXyz defaultBorderXyz() {
    return {roundedXyz(labToXyz(CieTriple{95.0, 0.0, 0.0})), roundedXyz(labToXyz(CieTriple{50.0, 0.0, 0.0})),
            roundedXyz(labToXyz(CieTriple{15.0, 0.0, 0.0}))};
}

double lightAt(const SyntheticTargetOptions& options, double x, double row) {
    const double right = options.width - 1.0;
    const double bottom = options.height - 1.0;
    double light = 1.0;
    if (options.gradient != 0.0) {
        if (options.gradientAngle == 0.0) {
            light = 1.0 - options.gradient * x / right;
        } else {
            // Along the direction, from the picture's first corner to its last.
            const double a = options.gradientAngle * 3.141592653589793 / 180.0;
            const double dx = std::cos(a);
            const double dy = -std::sin(a);  // rows run down
            const double corners[4] = {0.0, right * dx, bottom * dy, right * dx + bottom * dy};
            const double lo = *std::min_element(corners, corners + 4);
            const double hi = *std::max_element(corners, corners + 4);
            light = 1.0 - options.gradient * (x * dx + row * dy - lo) / (hi > lo ? hi - lo : 1.0);
        }
    }
    if (options.vignetting != 0.0) {
        // cos^4 falloff of a lens: 1 / (1 + k r^2)^2 with r 1 at the corners.
        const double k = 1.0 / std::sqrt(1.0 - options.vignetting) - 1.0;
        const double cx = x - 0.5 * right;
        const double cy = row - 0.5 * bottom;
        const double r2 = (cx * cx + cy * cy) / (0.25 * (right * right + bottom * bottom));
        light /= (1.0 + k * r2) * (1.0 + k * r2);
    }
    return light;
}

int renderSyntheticTarget(const SyntheticTargetOptions& options, const ReferenceData& reference,
                          SyntheticTarget& target, std::string* error) {
    if (!checkOptions(options, error)) return kSyntheticBadOptions;
    const TargetLayout layout = makeTargetLayout(options.targetType);
    if (!completeReference(reference, layout)) {
        fail(error, "reference does not hold every patch of the target");
        return kSyntheticBadOptions;
    }
    int badGrayPosition = -1;
    int badColorIndex = -1;
    if (!options.badPatch.empty()) {
        badGrayPosition = findCell(layout.grayCells, options.badPatch);
        if (badGrayPosition < 0) badColorIndex = findCell(layout.colorCells, options.badPatch);
        if (badGrayPosition < 0 && badColorIndex < 0) {
            fail(error, "no gray or colour patch is named " + options.badPatch);
            return kSyntheticBadOptions;
        }
    }

    target = SyntheticTarget{};
    target.targetType = options.targetType;
    target.layout = layout;
    target.reference = reference;
    roundReferenceAsWritten(target.reference);
    target.border = options.border;
    target.badGrayPosition = badGrayPosition;
    target.badColorIndex = badColorIndex;
    if (options.chartQuad) target.quad = *options.chartQuad;
    else resetOverlayQuad(target.quad, options.width, options.height);

    const DeviceModel& model = options.device;
    const ReferenceData& ref = target.reference;

    // Paints 0 and 1 are the background and the surround; then one per cell,
    // and the split half of the bad patch last.
    std::vector<Paint> paints = {paintOfDevice(model, options.background), paintOfDevice(model, options.surround)};
    constexpr int kBackground = 0;
    constexpr int kSurround = 1;
    std::vector<PaintedCell> cells;
    auto addCell = [&](const PatchCell& cell, const CieTriple& xyz, bool split) {
        paints.push_back(paintOfXyz(model, xyz));
        const int paint = static_cast<int>(paints.size()) - 1;
        int splitPaint = paint;
        double splitU = cell.u + cell.width + 1.0;
        if (split) {
            DeviceRgb other = paints[paint].device;
            for (double& c : other) c = c < 0.5 ? c + kSplitOffset : c - kSplitOffset;
            paints.push_back(paintOfDevice(model, other));
            splitPaint = static_cast<int>(paints.size()) - 1;
            splitU = cell.u + cell.width * 0.5;
        }
        cells.push_back({cell.u, cell.t, cell.u + cell.width, cell.t + cell.height, splitU, paint, splitPaint});
    };
    for (int p = 0; p < layout.grayCount; ++p)
        addCell(layout.grayCells[p], ref.grayXYZ[grayIndexOfPosition(layout, p)], p == badGrayPosition);
    for (int i = 0; i < layout.colorCount; ++i) addCell(layout.colorCells[i], ref.colorXYZ[i], i == badColorIndex);
    for (const PatchCell& cell : layout.whiteCells) addCell(cell, options.border.white, false);
    for (const PatchCell& cell : layout.midGrayCells) addCell(cell, options.border.midGray, false);
    for (const PatchCell& cell : layout.blackCells) addCell(cell, options.border.black, false);

    const int maxCode = options.bitsPerSample == 8 ? 255 : 65535;
    const double right = options.width - 1.0;
    const double bottom = options.height - 1.0;
    auto quantised = [&](double device) {
        return static_cast<std::uint16_t>(std::lround(clamp01(device) * maxCode));
    };
    const bool evenLight = options.gradient == 0.0 && options.vignetting == 0.0;
    auto deviceAt = [&](const Paint& paint, double light, int channel) {
        if (evenLight) return paint.device[channel];
        if (model.kind != DeviceKind::MatrixShaper) {
            const DeviceRgb dimmed{paint.linear[0] * light, paint.linear[1] * light, paint.linear[2] * light};
            return deviceFromLinear(model, dimmed)[channel];
        }
        return std::pow(paint.linear[channel] * light, 1.0 / model.gamma[channel]);
    };

    // The expected values: the nominal paint at each cell's centre.
    auto expectedOf = [&](const PaintedCell& cell) {
        const double u = 0.5 * (cell.u0 + cell.u1), v = 1.0 - 0.5 * (cell.t0 + cell.t1);
        const ImagePoint centre =
            options.perspective ? QuadHomography(target.quad).forward(u, v) : mapTargetPoint(target.quad, u, v);
        const double light = lightAt(options, std::clamp(std::round(centre.x), 0.0, right),
                                     bottom - std::clamp(std::round(centre.y), 0.0, bottom));
        DeviceRgb value{};
        for (int c = 0; c < 3; ++c)
            value[c] = quantised(deviceAt(paints[cell.paint], light, c)) / static_cast<double>(maxCode);
        return value;
    };
    std::size_t next = 0;
    ExpectedDevice& expected = target.expected;
    expected.gray.resize(layout.grayCount);
    for (int p = 0; p < layout.grayCount; ++p) expected.gray[grayIndexOfPosition(layout, p)] = expectedOf(cells[next++]);
    for (int i = 0; i < layout.colorCount; ++i) expected.color.push_back(expectedOf(cells[next++]));
    for (int i = 0; i < layout.whiteCount; ++i) expected.white.push_back(expectedOf(cells[next++]));
    for (int i = 0; i < layout.midGrayCount; ++i) expected.midGray.push_back(expectedOf(cells[next++]));
    for (int i = 0; i < layout.blackCount; ++i) expected.black.push_back(expectedOf(cells[next++]));

    SyntheticPicture& picture = target.picture;
    picture.width = options.width;
    picture.height = options.height;
    picture.bitsPerSample = options.bitsPerSample;
    picture.samples.assign(static_cast<std::size_t>(options.width) * static_cast<std::size_t>(options.height) * 3, 0);

    // Without noise and gradient a paint always gives the same codes.
    std::vector<std::array<std::uint16_t, 3>> paintCodes(paints.size());
    for (std::size_t i = 0; i < paints.size(); ++i)
        for (int c = 0; c < 3; ++c) paintCodes[i][c] = quantised(paints[i].device[c]);
    const bool plain = options.noiseSigma == 0.0 && evenLight;

    const CellIndex index(cells);
    const QuadInverse bilinear(target.quad);
    const QuadHomography perspective(target.quad);
    auto inverseMap = [&](double x, double y, double& u, double& v) {
        return options.perspective ? perspective.map(x, y, u, v) : bilinear.map(x, y, u, v);
    };
    GaussianNoise noise(options.seed);
    std::uint16_t* out = picture.samples.data();
    for (int row = 0; row < options.height; ++row) {
        const double y = options.height - 1.0 - row;
        for (int x = 0; x < options.width; ++x, out += 3) {
            double u = 0.0;
            double v = 0.0;
            int paint = kSurround;
            if (inverseMap(x, y, u, v)) {
                const double t = 1.0 - v;
                const int cell = index.find(u, t);
                if (cell < 0) paint = kBackground;
                else paint = u >= cells[cell].split ? cells[cell].splitPaint : cells[cell].paint;
            }
            if (plain) {
                std::copy(paintCodes[paint].begin(), paintCodes[paint].end(), out);
                continue;
            }
            const double light = lightAt(options, x, row);
            for (int c = 0; c < 3; ++c) {
                double device = deviceAt(paints[paint], light, c);
                if (options.noiseSigma > 0.0) device += options.noiseSigma * noise.next();
                out[c] = quantised(device);
            }
        }
    }
    return kSyntheticOk;
}

std::string referenceKeyword(int targetType) {
    switch (targetType) {
        case static_cast<int>(TargetType::It8): return "IT8.7/2";
        case static_cast<int>(TargetType::ColorChecker): return "ColorChecker";
        case static_cast<int>(TargetType::ColorCheckerDc): return "ColorCheckerDC";
        case static_cast<int>(TargetType::ColorCheckerSg): return "ColorCheckerSG";
        case static_cast<int>(TargetType::Hct): return "HCT";
        default: return {};
    }
}

int writeReferenceFile(std::ostream& out, const SyntheticTarget& target) {
    const TargetLayout& layout = target.layout;
    const ReferenceData& ref = target.reference;
    const int borderCount = hasBorderPatches(target.targetType)
                                ? layout.whiteCount + layout.midGrayCount + layout.blackCount
                                : 0;
    int failed = 0;
    auto line = [&](const std::string& text) { failed |= writeLine(out, text); };
    auto patch = [&](const std::string& name, const CieTriple& xyz, const CieTriple& lab) {
        line(formatText("%s\t%4f\t%4f\t%4f\t%2f\t%2f\t%2f", {name, xyz[0], xyz[1], xyz[2], lab[0], lab[1], lab[2]}));
    };
    line(referenceKeyword(target.targetType));
    line("ORIGINATOR \"make-target\"");
    line("DESCRIPTOR \"Synthetic target: values of the rendered patches\"");
    line("ILLUMINANT \"D50 2 degree, Y of the perfect white 100\"");
    line("NUMBER_OF_FIELDS 7");
    line("BEGIN_DATA_FORMAT");
    line("SAMPLE_ID\tXYZ_X\tXYZ_Y\tXYZ_Z\tLAB_L\tLAB_A\tLAB_B");
    line("END_DATA_FORMAT");
    line(formatText("NUMBER_OF_SETS %d", {layout.colorCount + layout.grayCount + borderCount}));
    line("BEGIN_DATA");
    for (int i = 0; i < layout.colorCount; ++i) patch(layout.colorCells[i].name, ref.colorXYZ[i], ref.colorLab[i]);
    for (int p = 0; p < layout.grayCount; ++p) {
        const int g = grayIndexOfPosition(layout, p);
        patch(layout.grayCells[p].name, ref.grayXYZ[g], ref.grayLab[g]);
    }
    if (borderCount > 0) {
        auto group = [&](const std::vector<PatchCell>& cells, const CieTriple& xyz) {
            const CieTriple written = roundedXyz(xyz);
            const CieTriple lab = roundedLab(xyzToLab(written));
            for (const PatchCell& cell : cells) patch(cell.name, written, lab);
        };
        group(layout.whiteCells, target.border.white);
        group(layout.midGrayCells, target.border.midGray);
        group(layout.blackCells, target.border.black);
    }
    line("END_DATA");
    out.flush();
    return failed != 0 || !out ? 1 : 0;
}

int writeReferencePath(const std::string& path, const SyntheticTarget& target) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return 1;
    return writeReferenceFile(out, target);
}

}  // namespace calivant

namespace calivant {

int pictureToTargetImage(const SyntheticPicture& picture, TargetImage& image) {
    const bool wide = picture.bitsPerSample == 16;
    if (allocateImage(image, wide ? PixelFormat::Rgb48 : PixelFormat::Rgb24, picture.width, picture.height, 300.0) != 0 ||
        image.rows.empty())
        return 1;
    for (int row = 0; row < picture.height; ++row) {
        // Picture rows run top first; the image's row 0 is the bottom row.
        std::uint8_t* out = image.rows[static_cast<std::size_t>(picture.height - 1 - row)];
        for (int x = 0; x < picture.width; ++x) {
            for (int c = 0; c < 3; ++c) {
                const std::uint16_t v = picture.sample(x, row, 2 - c);  // stored blue, green, red
                if (wide) {
                    out[(x * 3 + c) * 2] = static_cast<std::uint8_t>(v & 0xFF);
                    out[(x * 3 + c) * 2 + 1] = static_cast<std::uint8_t>(v >> 8);
                } else {
                    out[x * 3 + c] = static_cast<std::uint8_t>(v);
                }
            }
        }
    }
    return 0;
}

int loadSyntheticTarget(ScanSession& session, const SyntheticTarget& target) {
    session.targetType = target.targetType;
    if (pictureToTargetImage(target.picture, session.image) != 0) return 1;
    resetOverlay(session, session.image.width, session.image.height);
    session.reference = target.reference;
    session.imageReady = 1;
    session.referenceReady = 1;
    return 0;
}

}  // namespace calivant
