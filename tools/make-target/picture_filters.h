#pragma once
// The filters a synthetic picture goes through on a plane of float samples
// (width x height x channels, rows top first): backgrounds, light fall-off,
// Gaussian blur. Rows and column strips are spread over the cores where the
// result does not depend on it.

#include <array>
#include <vector>

#include "make-target/random.h"
#include "make-target/synthetic_target.h"

namespace calivant {

using Plane = std::vector<float>;

// Flat, noisy and striped as the plain placement draws them; busy: a flat
// surface under random clutter (rectangles and ellipses at any angle and
// colour, lines of text-like strokes), never on a regular grid; lid: a
// scanner's white lid, nearly flat.
enum class BackgroundKind { Flat, Noisy, Striped, Busy, Lid };

// Device values of a three-channel plane around `level`.
void fillBackground(Plane& plane, int width, int height, BackgroundKind kind, double level, Random& random);

// Light falling off linearly by `falloff` across the picture in the
// direction angleDegrees (counter-clockwise from left to right), applied to
// device values of the model's power curves.
void applyLighting(Plane& plane, int width, int height, double falloff, double angleDegrees, const DeviceModel& model);

// Separable Gaussian of standard deviation sigma, the picture's edge
// repeated beyond it. The same result on any number of workers.
void applyBlur(Plane& plane, int width, int height, int channels, double sigma, unsigned workers = 1);

}  // namespace calivant
