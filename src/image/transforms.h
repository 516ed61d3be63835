#pragma once
// Turning, mirroring and resampling rasters. Every operation writes a new
// destination record (allocated in the source's format and resolution) and
// returns 0, or 1 with the destination empty when it cannot be allocated.
// All five pixel formats are handled; a pixel always moves as a whole.
//
// With X the destination column, R its row counted from the bottom, and W, H
// the source's width and height, destination pixel (X, R) comes from:
//   mirrorImage           W x H  (W-1-X, R)         mirror left to right
//   turnHalf              W x H  (W-1-X, H-1-R)     half turn
//   flipImage             W x H  (X, H-1-R)         flip top to bottom
//   turnClockwise         H x W  (W-1-R, X)         quarter turn clockwise
//   turnCounterClockwise  H x W  (R, H-1-X)         quarter turn counter-clockwise
//   transposeImage        H x W  (W-1-R, H-1-X)     across the top-left diagonal
//   transverseImage       H x W  (R, X)             across the bottom-left diagonal

#include <cstdint>

#include "image/target_image.h"

namespace calivant {

int mirrorImage(const TargetImage& source, TargetImage& destination);
int turnHalf(const TargetImage& source, TargetImage& destination);
int flipImage(const TargetImage& source, TargetImage& destination);
int turnClockwise(const TargetImage& source, TargetImage& destination);
int turnCounterClockwise(const TargetImage& source, TargetImage& destination);
int transposeImage(const TargetImage& source, TargetImage& destination);
int transverseImage(const TargetImage& source, TargetImage& destination);

// Nearest-neighbour resampling to width x height. Destination column i takes
// source column (W-1) * i / (width-1) and row j source row
// (H-1) * j / (height-1), so the first and last columns and rows always
// appear; a destination size of 1 takes column or row 0. A source without a
// raster empties the destination (result 0).
int scaleImage(const TargetImage& source, TargetImage& destination, std::int32_t width, std::int32_t height);

// The 8-bit value a 16-bit sample is shown as: (v * 255 + 32767) / 65535.
inline std::uint8_t reduceSample(std::uint16_t v) {
    return static_cast<std::uint8_t>((static_cast<std::uint32_t>(v) * 255u + 32767u) / 65535u);
}

// Rgb48 to Rgb24 of the same size through reduceSample. Returns 1, leaving
// the destination alone, when the source is not Rgb48.
int reduceTo24(const TargetImage& source, TargetImage& destination);

}  // namespace calivant
