#pragma once
// A reduced floating-point copy of the target image, for the searches that
// need every pixel but not full resolution: each pixel is the mean of a
// factor x factor block, red, green, blue on the 0..1 scale, row 0 at the
// bottom as in the image.

#include <vector>

#include "image/target_image.h"

namespace calivant {

struct ReducedImage {
    int width = 0;
    int height = 0;
    int factor = 1;
    std::vector<float> rgb;  // width x height x 3, row 0 first

    const float* at(int x, int y) const { return &rgb[(static_cast<std::size_t>(y) * width + x) * 3]; }
    // Image coordinates of a reduced pixel's centre, and back.
    double toImage(double reduced) const { return factor * reduced + 0.5 * (factor - 1); }
    double fromImage(double image) const { return (image - 0.5 * (factor - 1)) / factor; }
};

// The largest factor that keeps the shorter side at least `side` pixels (1
// for smaller pictures), raised where the copy would hold more than a few
// million pixels.
int reductionFactor(int width, int height, int side);

// Block means of an Rgb24 or Rgb48 image; blocks past the last whole one are
// dropped. Uses two threads on large pictures. An image of another format,
// or smaller than one block, gives an empty copy.
ReducedImage reduceImage(const TargetImage& image, int factor);

// Part of the copy reduceImage would make with this factor: the block means
// of reduced columns x0 .. x0 + width - 1 and rows y0 .. y0 + height - 1
// (row 0 at the bottom), made without the rest of the copy. Its toImage and
// fromImage are those of the part's own pixels.
ReducedImage reduceRegion(const TargetImage& image, int factor, int x0, int y0, int width, int height);

// The copy reduced by two more (its factor doubled): 2 x 2 means of its
// pixels, the odd last row or column dropped. Empty when nothing is left.
ReducedImage halveImage(const ReducedImage& image);

// Bilinear sample of all three channels at reduced coordinates, clamped to
// the copy's edge.
void sampleReduced(const ReducedImage& image, double x, double y, float out[3]);

}  // namespace calivant
