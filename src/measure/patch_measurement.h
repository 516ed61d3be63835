#pragma once
// Reduces every patch of the target image to one device RGB value: the
// patch's cell is carried through the overlay onto the image, a 21 x 21 grid
// over the middle half of the cell is sampled with bilinear interpolation,
// and the mean and the scatter of the samples are kept.

#include <array>
#include <cstdint>
#include <string>

#include "image/target_image.h"
#include "target/overlay.h"

namespace calivant {

struct ScanSession;

// Device RGB on the 0.0 .. 1.0 scale (full 16-bit range = 1.0), red first.
using DeviceRgb = std::array<double, 3>;

struct PatchMeasurement {
    double meanR = 0.0;
    double meanG = 0.0;
    double meanB = 0.0;
    // Root mean square distance of the samples from the mean, or -1.0 when
    // no sample point fell inside the image.
    double deviation = 0.0;
};

// Border patches of one kind (white, mid-gray, black) on any chart.
inline constexpr int kMaxBorderPatches = 20;
// Sample points per patch side: the grid runs i, j = -10 .. 10.
inline constexpr int kSampleGridSide = 21;
// 1 / 65535, the scale of a 16-bit sample.
inline constexpr double kSampleScale = 1.5259021896696422e-05;

// a + (b - a) * t / 255, the division truncating toward zero; t in 0..255.
constexpr int blend255(int a, int b, int t) { return a + (b - a) * t / 255; }

// Bilinear sample of an Rgb24 or Rgb48 image at (px, py), image row 0 at the
// bottom. Channels are 0..255 or 0..65535. Positions outside the image are
// clamped to its edge so no read can leave the raster.
std::array<int, 3> sampleImage(const TargetImage& image, double px, double py);

// Measures the patch whose cell has left edge u, top edge vTop, width w and
// height h in overlay coordinates.
PatchMeasurement measurePatch(const TargetImage& image, const OverlayQuad& quad, double u, double vTop, double w,
                              double h);

// Measures every patch of the session's layout, runs the quality checks,
// smooths the gray scale and fills the working values (with the contrast
// stretch when it is on). interactive is 1 for a computation (bad patches
// are marked, the gray-order question may be asked) and 0 for the Advanced
// Options dialog (warnings only). Returns 0 when the target passed the
// checks, 1 when it did not, the user stopped, or there is nothing to
// measure (no usable image or no reference for the current layout).
int measureTarget(ScanSession& session, int interactive);

// The working values with the contrast stretch: the largest channel of the
// darkest patch goes to dmax percent, that of the lightest to dmin percent,
// every patch keeping its channel ratios.
void stretchContrast(ScanSession& session);

// The target image contrast the Advanced Options dialog shows: 100 x the
// mean of R, G, B of the darkest and of the lightest gray patch.
struct TargetContrast {
    bool available = false;  // false: shown as "N/A"
    double dmax = 0.0;
    double dmin = 0.0;
};
// The contrast of the last measurement (available when it has a gray scale).
TargetContrast contrastOfMeasurement(const ScanSession& session);
// Measures without marking patches (interactive 0) when an image and a
// reference are ready; unavailable when either is missing or the checks
// fail (their warnings have then been shown).
TargetContrast measureTargetContrast(ScanSession& session);
// "%2f" of the value, or "N/A" when unavailable.
std::string formatContrastValue(const TargetContrast& contrast, bool darkEnd);

}  // namespace calivant
