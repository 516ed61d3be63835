#pragma once
// Per-channel tone curves: each maps a 16-bit device code to the lightness
// the target's gray scale shows at that code (L*/100 for a Lab fit, Y/100
// for an XYZ fit), by a monotone piecewise cubic Hermite interpolation
// through the gray patches, extended linearly beyond the darkest and the
// lightest. Every patch is then linearized through the curves.

#include <array>
#include <span>
#include <string_view>
#include <vector>

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

// One channel's curve before sampling: the knots (device values normalised
// to 0..1 between the darkest and lightest gray), their targets and slopes,
// and the codes of the two ends. entry(m) is what the sampled curve holds at
// code m, so a few patches can be linearized without sampling all 65536.
struct ToneCurveShape {
    std::vector<double> x;
    std::vector<double> y;
    std::vector<double> slopes;
    std::int64_t c0 = 0;
    std::int64_t cN = 1;

    std::uint16_t entry(std::int64_t code) const;
    // The same as linearize() on the sampled curve.
    double linearize(double deviceValue) const;
};

// The curve through gray device values of one channel (gray order, darkest
// first) and their targets. Returns 1 when there are fewer than two grays or
// the lightest is not above the darkest (a negative image).
int shapeToneCurve(std::span<const double> grayValues, std::span<const double> targets, ToneCurveShape& shape);
void sampleToneCurve(const ToneCurveShape& shape, ToneCurve& curve);

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
