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

#include <cstdint>
#include <string>

#include "make-target/synthetic_target.h"

namespace calivant {

enum class BackgroundKind { Flat, Noisy, Striped };

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
};

inline constexpr double kMaxKeystone = 0.2;
inline constexpr double kMaxBlur = 10.0;

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
// negative, or a chart reaching outside the picture.
int renderPlacedTarget(const SyntheticTargetOptions& options, const ChartPlacement& placement,
                       const ReferenceData& reference, SyntheticTarget& target, std::string* error = nullptr);

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

// The corners as the command line writes them: "corners X,Y,X,Y,X,Y,X,Y",
// top-left, top-right, bottom-right, bottom-left of the layout's frame, x
// right and y down, 0,0 the centre of the top-left pixel, three decimals.
std::string cornersLine(const OverlayQuad& quad, int height);

// Writes cornersLine and a line end to a file; 0, or 1 when it cannot.
int writeCornersPath(const std::string& path, const OverlayQuad& quad, int height);

}  // namespace calivant
