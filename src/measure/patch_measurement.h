#pragma once
// Reduces every patch of the target image to one device RGB value: the
// patch's cell is carried through the overlay onto the image, a 21 x 21 grid
// over the middle half of the cell is sampled with bilinear interpolation,
// and the mean and the scatter of the samples are kept.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "image/pixel_source.h"
#include "image/target_image.h"
#include "measure/advanced_options.h"
#include "measure/illumination.h"
#include "reference/reference_data.h"
#include "target/overlay.h"
#include "target/target_layout.h"
#include "util/diagnostics.h"

namespace calivant {

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

// Bilinear sample of an Rgb24 or Rgb48 picture at (px, py), row 0 at the
// bottom. Channels are 0..255 or 0..65535. Positions outside the picture are
// clamped to its edge so no read can leave the raster.
std::array<int, 3> sampleImage(const PixelSource& picture, double px, double py);
std::array<int, 3> sampleImage(const TargetImage& image, double px, double py);

// Measures the patch whose cell has left edge u, top edge vTop, width w and
// height h in overlay coordinates.
PatchMeasurement measurePatch(const PixelSource& picture, const OverlayQuad& quad, double u, double vTop, double w,
                              double h);
PatchMeasurement measurePatch(const TargetImage& image, const OverlayQuad& quad, double u, double vTop, double w,
                              double h);

// How the checks report. Compute: for a profile computation; patches that
// fail are marked bad and the findings are errors. Preview: for the Advanced
// Options dialog's contrast figures; nothing is marked, findings are
// warnings, and a gray scale out of order fails the measurement. Report: for
// printing the measurement; as Preview, except that a chart that cannot be
// measured at all is an error.
enum class MeasureMode { Compute, Preview, Report };

// Everything measuring the target gives. Gray arrays are in gray order
// (index 0 darkest) except the deviations, which, like grayBad, follow the
// layout's gray cells.
struct TargetMeasurement {
    // False when there was nothing to measure: an image that is not Rgb24 or
    // Rgb48, a picture with fewer pixels than the chart has cells across or
    // down, a chart outside the picture or smaller than a pixel per cell
    // (these three reported), or a reference whose counts are not the
    // layout's.
    // Nothing else in the record is meaningful then.
    bool measured = false;
    // 0 when the target passed the checks, 1 when it did not (or was not
    // measured).
    int status = 1;
    // Compute mode only: the gray scale was out of brightness order (and has
    // been put in order). The caller asks kGrayOrderQuestion and stops when
    // the user declines; status does not include it.
    bool grayOrderQuestion = false;
    Diagnostics diagnostics;

    std::array<DeviceRgb, kMaxGrayPatches> grayMeasured{};
    // The gray patches as sampled, before the smoothing and the order check
    // touched them (gray order): where each one's light can be read.
    std::array<DeviceRgb, kMaxGrayPatches> graySampled{};
    std::array<DeviceRgb, kMaxColorPatches> colorMeasured{};
    std::array<double, kMaxGrayPatches> grayDeviation{};
    std::array<double, kMaxColorPatches> colorDeviation{};
    std::array<DeviceRgb, kMaxBorderPatches> whiteMeasured{};
    std::array<DeviceRgb, kMaxBorderPatches> midGrayMeasured{};
    std::array<DeviceRgb, kMaxBorderPatches> blackMeasured{};
    std::array<double, kMaxBorderPatches> whiteDeviation{};
    std::array<double, kMaxBorderPatches> midGrayDeviation{};
    std::array<double, kMaxBorderPatches> blackDeviation{};
    // What the profile computation reads: the measured values, contrast
    // stretched when that option is on.
    std::array<DeviceRgb, kMaxGrayPatches> grayWorking{};
    std::array<DeviceRgb, kMaxColorPatches> colorWorking{};
    // Spread of the border groups (0 for charts without them).
    double whiteUniformity = 0.0;
    double midGrayUniformity = 0.0;
    double blackUniformity = 0.0;
    // Patches the checks marked bad (Compute mode).
    ColorBadFlags colorBad{};
    GrayBadFlags grayBad{};
    // What the illumination correction did to the working values (Off
    // until correctIllumination of profile/illumination_correction.h runs).
    IlluminationCorrection illumination;
};

inline constexpr std::string_view kPictureTooSmallError = "The picture is too small to hold the chart";
// No patch has a sample point inside the picture.
inline constexpr std::string_view kChartOutsideError = "The chart lies outside the picture";
// The chart covers less than one pixel per cell of its grid.
inline constexpr std::string_view kChartTooSmallError = "The chart is too small to measure";

// Measures every patch of the layout through the overlay, runs the quality
// checks, smooths the gray scale (against the reference's gray Y) and fills
// the working values, with the contrast stretch when it is on. The patches
// are sampled on every core; the results do not depend on how many.
TargetMeasurement measureTarget(const PixelSource& picture, const TargetLayout& layout, const OverlayQuad& quad,
                                const ReferenceData& reference, const AdvancedOptions& options, MeasureMode mode);
TargetMeasurement measureTarget(const TargetImage& image, const TargetLayout& layout, const OverlayQuad& quad,
                                const ReferenceData& reference, const AdvancedOptions& options, MeasureMode mode);

// The working values with the contrast stretch: the largest channel of the
// darkest patch goes to dmax percent, that of the lightest to dmin percent,
// every patch keeping its channel ratios.
void stretchContrast(TargetMeasurement& measurement, const TargetLayout& layout, double dmax, double dmin);
// The same stretch from given gray and colour values into the working ones.
void stretchContrast(std::span<const DeviceRgb> gray, std::span<const DeviceRgb> color, double dmax, double dmin,
                     std::span<DeviceRgb> grayWorking, std::span<DeviceRgb> colorWorking);

// The smoothing of a gray scale (gray order) against the reference's gray
// Y when the level asks for it, then the one pass of the order check, as
// measuring does them. Returns 1 when the order check changed anything.
int tidyGrayScale(std::span<DeviceRgb> gray, const ReferenceData& reference, int smoothing, Diagnostics& diagnostics);

// The target image contrast the Advanced Options dialog shows: 100 x the
// mean of R, G, B of the darkest and of the lightest gray patch.
struct TargetContrast {
    bool available = false;  // false: shown as "N/A"
    double dmax = 0.0;
    double dmin = 0.0;
};
// The contrast of a measurement of a chart with grayCount gray patches
// (available when it has a gray scale).
TargetContrast contrastOfMeasurement(const TargetMeasurement& measurement, int grayCount);
// "%2f" of the value, or "N/A" when unavailable.
std::string formatContrastValue(const TargetContrast& contrast, bool darkEnd);

}  // namespace calivant
