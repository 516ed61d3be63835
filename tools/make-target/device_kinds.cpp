#include "make-target/device_kinds.h"

#include <algorithm>
#include <cmath>

namespace calivant {
namespace {

Matrix3 whiteBalanced(const Matrix3& m) {
    // Rows scaled so that linear (1, 1, 1) is the D50 white exactly.
    const CieTriple white = {kD50WhiteX, kD50WhiteY, kD50WhiteZ};
    Matrix3 out{};
    for (int r = 0; r < 3; ++r) {
        const double sum = m[r][0] + m[r][1] + m[r][2];
        for (int c = 0; c < 3; ++c) out[r][c] = m[r][c] * white[r] / sum;
    }
    return out;
}

// A wide-gamut sensor: its primaries lie outside the spectral locus, so the
// matrix to XYZ has negative lobes and every real colour of a chart still
// gives positive signals.
constexpr Matrix3 kCameraToXyz = {{{0.70, 0.22, 0.04}, {0.28, 0.86, -0.14}, {0.03, -0.13, 0.93}}};
// Rows sum to 1, so the white stays white.
constexpr Matrix3 kCrosstalk = {{{0.93, 0.05, 0.02}, {0.035, 0.925, 0.04}, {0.015, 0.055, 0.93}}};
constexpr double kCameraFlare = 0.015;
constexpr double kLinearDarkOffset = 0.01;
// Matrices after the curves, rows summing to 1 so neutrals stay neutral. The
// exposures keep every colour of a chart below full scale after them.
constexpr Matrix3 kSaturationBoost = {{{1.15, -0.06, -0.09}, {-0.05, 1.13, -0.08}, {-0.04, -0.07, 1.11}}};
constexpr double kSaturationExposure = 0.87;
constexpr Matrix3 kCameraLook = {{{1.16, -0.10, -0.06}, {-0.04, 1.12, -0.08}, {-0.02, -0.09, 1.11}}};
constexpr double kCameraLookExposure = 0.92;

double srgbEncode(double v) { return v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055; }
double srgbDecode(double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); }

double powerEncode(double v, double gamma) { return std::pow(std::clamp(v, 0.0, 1.0), 1.0 / gamma); }

DeviceRgb mix(const Matrix3& m, const DeviceRgb& v) {
    DeviceRgb out{};
    for (int r = 0; r < 3; ++r) out[r] = m[r][0] * v[0] + m[r][1] * v[1] + m[r][2] * v[2];
    return out;
}

}  // namespace

std::string_view deviceKindName(DeviceKind kind) {
    switch (kind) {
        case DeviceKind::MatrixShaper: return "matrix-shaper";
        case DeviceKind::Crosstalk: return "crosstalk";
        case DeviceKind::Camera: return "camera";
        case DeviceKind::Linear: return "linear";
        case DeviceKind::Saturation: return "saturation";
        case DeviceKind::CameraLook: return "camera-look";
    }
    return {};
}

std::optional<DeviceKind> deviceKindNamed(std::string_view name) {
    for (DeviceKind kind : kDeviceKinds)
        if (deviceKindName(kind) == name) return kind;
    return std::nullopt;
}

DeviceModel deviceModelOfKind(DeviceKind kind) {
    DeviceModel model = defaultDeviceModel();
    model.kind = kind;
    switch (kind) {
        case DeviceKind::MatrixShaper: break;
        case DeviceKind::Crosstalk:
            model.gamma = {1.8, 2.2, 2.6};
            model.crosstalk = kCrosstalk;
            break;
        case DeviceKind::Camera:
            model.gamma = {2.4, 2.4, 2.4};  // the sRGB curve's exponent
            model.toXyz = whiteBalanced(kCameraToXyz);
            model.flare = kCameraFlare;
            break;
        case DeviceKind::Linear:
            model.gamma = {1.0, 1.0, 1.0};
            model.darkOffset = kLinearDarkOffset;
            break;
        case DeviceKind::Saturation:
            model.crosstalk = kSaturationBoost;
            model.exposure = kSaturationExposure;
            break;
        case DeviceKind::CameraLook:
            model.gamma = {2.4, 2.4, 2.4};
            model.toXyz = whiteBalanced(kCameraToXyz);
            model.flare = kCameraFlare;
            model.crosstalk = kCameraLook;
            model.exposure = kCameraLookExposure;
            break;
    }
    return model;
}

DeviceRgb encodeDeviceKind(const DeviceModel& model, const DeviceRgb& linear) {
    DeviceRgb out{};
    switch (model.kind) {
        case DeviceKind::MatrixShaper:
        case DeviceKind::Crosstalk:
        case DeviceKind::Saturation:
            for (int c = 0; c < 3; ++c) out[c] = powerEncode(model.exposure * linear[c], model.gamma[c]);
            if (model.kind != DeviceKind::MatrixShaper) out = mix(model.crosstalk, out);
            break;
        case DeviceKind::Camera:
        case DeviceKind::CameraLook:
            for (int c = 0; c < 3; ++c)
                out[c] = srgbEncode(
                    std::clamp((model.exposure * linear[c] + model.flare) / (1.0 + model.flare), 0.0, 1.0));
            if (model.kind == DeviceKind::CameraLook) out = mix(model.crosstalk, out);
            break;
        case DeviceKind::Linear:
            for (int c = 0; c < 3; ++c) out[c] = model.darkOffset + (1.0 - model.darkOffset) * std::clamp(linear[c], 0.0, 1.0);
            break;
    }
    return out;
}

DeviceRgb decodeDeviceKind(const DeviceModel& model, const DeviceRgb& device) {
    DeviceRgb out{};
    switch (model.kind) {
        case DeviceKind::MatrixShaper:
        case DeviceKind::Crosstalk:
        case DeviceKind::Saturation:
        {
            const DeviceRgb unmixed = model.kind != DeviceKind::MatrixShaper ? mix(inverse(model.crosstalk), device) : device;
            for (int c = 0; c < 3; ++c) out[c] = std::pow(std::max(unmixed[c], 0.0), model.gamma[c]) / model.exposure;
            break;
        }
        case DeviceKind::Camera:
        case DeviceKind::CameraLook:
        {
            const DeviceRgb unmixed = model.kind == DeviceKind::CameraLook ? mix(inverse(model.crosstalk), device) : device;
            for (int c = 0; c < 3; ++c)
                out[c] = (srgbDecode(unmixed[c]) * (1.0 + model.flare) - model.flare) / model.exposure;
            break;
        }
        case DeviceKind::Linear:
            for (int c = 0; c < 3; ++c) out[c] = (device[c] - model.darkOffset) / (1.0 - model.darkOffset);
            break;
    }
    return out;
}

}  // namespace calivant
