#pragma once
// Named kinds of synthetic device beside the plain one (a power curve per
// channel and a 3 x 3 matrix), each a way real scanners and cameras depart
// from it:
//
//   matrix-shaper  device = linear ^ (1 / gamma) per channel
//   crosstalk      device = crosstalk x (linear ^ (1 / gamma)): the channels
//                  mix after curves that differ per channel
//   camera         device = srgbCurve((linear + flare) / (1 + flare)): a
//                  sensor matrix with negative lobes, flare lifting every
//                  channel by a part of the white's signal
//   linear         device = offset + (1 - offset) x linear: gamma 1 with a
//                  small dark offset
//   saturation     device = boost x ((exposure x linear) ^ (1 / gamma)): a
//                  scanner whose firmware boosts saturation after its
//                  curves (negative off-diagonals, rows summing to 1)
//   camera-look    device = look x srgbCurve((exposure x linear + flare) /
//                  (1 + flare)): camera's sensor, flare and curve, then a
//                  JPEG look matrix that adds saturation and turns hues
//
// where linear = toXyz^-1 x XYZ (1 on every channel for the white).

#include <optional>
#include <string_view>

#include "make-target/synthetic_target.h"

namespace calivant {

inline constexpr DeviceKind kDeviceKinds[] = {DeviceKind::MatrixShaper, DeviceKind::Crosstalk, DeviceKind::Camera,
                                              DeviceKind::Linear,       DeviceKind::Saturation, DeviceKind::CameraLook};

// "matrix-shaper", "crosstalk", "camera", "linear", "saturation", "camera-look".
std::string_view deviceKindName(DeviceKind kind);
std::optional<DeviceKind> deviceKindNamed(std::string_view name);

// The model of each kind as the tests and benchmarks use it; matrix-shaper
// is defaultDeviceModel().
DeviceModel deviceModelOfKind(DeviceKind kind);

// Device values of linear values (not clamped) and back, for the kinds
// other than matrix-shaper.
DeviceRgb encodeDeviceKind(const DeviceModel& model, const DeviceRgb& linear);
DeviceRgb decodeDeviceKind(const DeviceModel& model, const DeviceRgb& device);

}  // namespace calivant
