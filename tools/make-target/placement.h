#pragma once
// A synthetic chart placed inside a larger picture the way real scans and
// photos show it: anywhere, turned by any angle, possibly mirrored (a
// transparency scanned from the wrong side), with camera keystone, on a flat,
// noisy or striped background, blurred, unevenly lit and noisy. The true
// corners are known exactly, so the chart locator can be checked against them.
//
// The chart is rendered as renderSyntheticTarget renders it (every pixel
// whose centre lies in a cell takes the cell's colour, the bilinear mapping
// of the overlay inside the frame), then composed in this order: background
// outside the frame, lighting, blur, noise, quantisation.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "make-target/camera_scene.h"
#include "make-target/synthetic_target.h"

namespace calivant {

// Plain: the layout's cells on an empty frame, as renderSyntheticTarget
// draws them. Printed: the chart as printed (printed_chart.h).
enum class ChartStyle { Plain, Printed };

// Beside the chart: a ColorChecker Passport's second page (hinged along the
// frame's top edge), or another chart elsewhere in the picture.
enum class SecondChart { None, PassportPage, OtherChart };

// Around a cropped scan's chart: its own card reaching to the picture's
// edges, or the scanner's white, gray or black backing, or its lid.
enum class ScanBorder { None, White, Gray, Black, Lid };

struct ChartPlacement {
    // Size of the chart's frame in pixels along the layout's u and t
    // (before keystone); 0 for either: the largest frame of the layout's
    // natural aspect (square cells) that fits the picture's shorter side at
    // 60 %.
    double chartWidth = 0.0;
    double chartHeight = 0.0;
    // Centre of the frame, x right, y down from the top-left pixel's centre;
    // negative: the picture's centre.
    double centerX = -1.0;
    double centerY = -1.0;
    // Counter-clockwise as the picture is seen, in degrees.
    double angle = 0.0;
    // Seen from the back: left and right of the chart exchanged.
    bool mirror = false;
    // The chart's top edge (as laid out) is shorter than its bottom edge by
    // this fraction, as a camera tilted back shows it; negative widens it.
    double keystone = 0.0;
    BackgroundKind background = BackgroundKind::Flat;
    // Device value of the flat background, and the mean of the others.
    double backgroundLevel = 0.8;
    // Gaussian blur, standard deviation in pixels.
    double blur = 0.0;
    // Direction in which the light falls off (SyntheticTargetOptions::gradient
    // says by how much), counter-clockwise from "left to right", in degrees.
    double gradientAngle = 0.0;

    // --- The flaws of real pictures. Any of these (or the printed style)
    // renders through the camera model of camera_scene.h, where perspective
    // is projective; without them the picture is the plain rendering.
    ChartStyle style = ChartStyle::Plain;
    // Printed style: colours of the cells the layout leaves out (see
    // printedArtwork); empty: plausible ones.
    std::vector<CieTriple> extraPatches;
    // The chart's left edge (as laid out) shorter than its right edge by
    // this fraction; negative shortens the right edge.
    double keystoneLeft = 0.0;
    double barrel = 0.0;        // CameraScene::barrel
    double vignetting = 0.0;    // light at the picture's corners: 1 - vignetting
    std::array<double, 3> cast{1.0, 1.0, 1.0};  // linear light per channel
    double exposure = 1.0;      // linear light overall
    // A glare spot centred on layout point (glareU, glareT), adding `glare`
    // times the white's light there, Gaussian with a standard deviation of
    // glareRadius patch pitches.
    double glare = 0.0;
    double glareU = 0.5;
    double glareT = 0.5;
    double glareRadius = 1.0;
    // A shadow whose edge runs through layout point (shadowU, shadowT) at
    // shadowAngle degrees in the picture; on its left the light falls by
    // `shadow`.
    double shadow = 0.0;
    double shadowU = 0.5;
    double shadowT = 0.5;
    double shadowAngle = 0.0;
    // A thumb or a clip over the patch at one corner of the frame: 0
    // top-left, 1 top-right, 2 bottom-right, 3 bottom-left (as laid out).
    OccluderKind occluder = OccluderKind::None;
    int occludedCorner = 0;
    double sharpen = 0.0;       // unsharp mask amount on the luminance
    double sharpenRadius = 1.5; // its sigma, pixels
    int jpegQuality = 0;        // 1..100: through JPEG, 8 bits
    SecondChart second = SecondChart::None;
    int secondType = 0;         // the other chart's target type
    // Cropped scan: the frame's distance from the picture's left, top,
    // right and bottom edges, in patch pitches (negative: cut off by that
    // much); the frame's size and centre follow from the picture's.
    bool scanCrop = false;
    std::array<double, 4> scanMargins{0.0, 0.0, 0.0, 0.0};
    ScanBorder scanBorder = ScanBorder::None;
    // Threads that render; 0: every core.
    unsigned workers = 0;

    // True when the plain renderer cannot draw it.
    bool needsCamera() const;
};

inline constexpr double kMaxKeystone = 0.2;
inline constexpr double kMaxBlur = 10.0;
inline constexpr double kMaxBarrel = 0.05;
// Beyond half a pitch the cut chart is no cropped scan but a fragment.
inline constexpr double kMinScanMargin = -0.5;

// The patch pitch of a layout's grid in layout units, along u and t.
std::array<double, 2> layoutPitch(int targetType);
// Width over height of a frame whose cells come out square.
double naturalAspect(int targetType);

// The chart's corners in image coordinates (corner 0 bottom-left of the
// chart as laid out, 1 top-left, 2 top-right, 3 bottom-right; y counted from
// the bottom row) for a picture of width x height.
OverlayQuad placementQuad(int targetType, int width, int height, const ChartPlacement& placement);

// Renders the placed chart. `options` gives the target type, the picture's
// size and bits, the device model, the noise, the light fall-off (its
// `gradient`, in the direction placement.gradientAngle) and the seed; its
// chartQuad is ignored. `target.quad` holds the true corners and
// `target.expected` the values of an evenly lit, noise-free chart. Returns
// kSyntheticBadOptions with `error` set for options renderSyntheticTarget
// refuses, a keystone beyond kMaxKeystone, a blur beyond kMaxBlur or
// negative, a barrel beyond kMaxBarrel, or a frame reaching outside the
// picture (allowed for a cropped scan, down to kMinScanMargin). Under the
// camera model `target.quad` holds where the frame's corners land,
// distortion included.
int renderPlacedTarget(const SyntheticTargetOptions& options, const ChartPlacement& placement,
                       const ReferenceData& reference, SyntheticTarget& target, std::string* error = nullptr);

// The camera-model half of renderPlacedTarget.
int renderCameraPlacement(const SyntheticTargetOptions& options, const ChartPlacement& placement,
                          const ReferenceData& reference, SyntheticTarget& target, std::string* error);

// A random placement for tests and benchmarks: the chart's shorter side
// 0.25 .. 0.85 of the picture's shorter side, its natural aspect +-10 %, any
// angle (a right angle one time in four), mirrored one time in four when
// `mirror` allows, keystone up to 5 %, blur up to 2 pixels, noise up to 1.5 %
// of full scale, light falling off by up to 30 % in any direction, and each
// background kind equally often; the chart lies wholly inside the picture.
struct RandomPlacement {
    SyntheticTargetOptions options;
    ChartPlacement placement;
};
RandomPlacement randomPlacement(int targetType, int width, int height, std::uint64_t seed, bool mirror);

// A random picture over the ranges real ones span, the printed chart in it:
// patch pitches 12..600 pixels on pictures of 0.3..60 megapixels, the chart
// 7..90 % of the picture's width, keystone up to 15 % both ways, barrel up
// to 2 %, light falling off by up to 40 % and vignetting, glare, shadow,
// casts, linear dark exposures, a thumb or clip, busy backgrounds, JPEG,
// sharpening halos, noise, blur up to 3 pixels, a Passport's second page or
// another chart (of the same type one time in two); and one time in six a
// cropped scan (cut by up to half a pitch, any border). `mirror`: mirrored
// one time in four; `sameTypeSecond`: may add a second chart of the same
// type (needs a reference to tell them apart).
RandomPlacement widePlacement(int targetType, std::uint64_t seed, bool mirror, bool sameTypeSecond);

// The corners as the command line writes them: "corners X,Y,X,Y,X,Y,X,Y",
// top-left, top-right, bottom-right, bottom-left of the layout's frame, x
// right and y down, 0,0 the centre of the top-left pixel, three decimals.
std::string cornersLine(const OverlayQuad& quad, int height);

// Writes cornersLine and a line end to a file; 0, or 1 when it cannot.
int writeCornersPath(const std::string& path, const OverlayQuad& quad, int height);

}  // namespace calivant
