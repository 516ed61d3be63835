#pragma once
// Per-channel tone curves: each maps a 16-bit device code to the lightness
// the target's gray scale shows at that code (L*/100 for a Lab fit, Y/100
// for an XYZ fit), by a monotone piecewise cubic Hermite interpolation
// through the gray patches, extended linearly beyond the darkest and the
// lightest. Every patch is then linearized through the curves.

#include <array>
#include <span>
#include <string_view>

#include "measure/patch_measurement.h"
#include "profile/profile_result.h"
#include "util/diagnostics.h"

namespace calivant {

inline constexpr std::string_view kNegativeImageError = "Cannot profile negative images";
// Secants and slopes below this are treated as flat.
inline constexpr double kFlatness = 1e-10;

// Knot slopes of the monotone interpolant through (x, y); x strictly
// increasing, n >= 2. w (n - 1 entries) ends holding each interval's scale
// factor.
void hermiteSlopes(std::span<const double> x, std::span<const double> y, std::span<double> d,
                   std::span<double> w);

// One cubic Hermite segment between (x0, y0) and (x1, y1) with end slopes d0, d1.
double hermiteValue(double t, double x0, double x1, double y0, double y1, double d0, double d1);

// Fills the 65536 entries: codes c0..cN follow the interpolant over x = 0..1,
// codes outside extend with the end slopes. Entries are clamped to 0..65535.
void sampleToneCurve(std::span<const double> x, std::span<const double> y, std::span<const double> d,
                     std::int64_t c0, std::int64_t cN, ToneCurve& curve);

// Builds the three curves of a pass from the measured gray working values
// (gray order) and the pass's working gray references in profile (L* for a
// Lab fit, Y for XYZ), then writes the linearized RGB of every gray and
// colour patch into profile. Returns 1 after "Cannot profile negative
// images" when a channel's lightest gray patch is not above its darkest.
int buildToneCurves(std::span<const DeviceRgb> grayWorking, std::span<const DeviceRgb> colorWorking, int colorSpace,
                    ProfileResult& profile, std::array<ToneCurve, 3>& curves, Diagnostics& diagnostics);

// Value of a curve at a device value 0..1.
double linearize(const ToneCurve& curve, double deviceValue);

}  // namespace calivant
