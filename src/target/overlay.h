#pragma once
// The overlay: the quadrilateral the user drags onto the chart's corners in
// the target image. Every layout point is carried into the image by bilinear
// interpolation between the corners, which copes with scale, rotation, shear
// and moderate perspective.
//
// Image coordinates: x is the pixel column (0 at the left), y the image row
// as the TargetImage numbers it (0 at the bottom). Overlay coordinates (u, v):
// u runs from corner 0 to corner 3, v from the chart's bottom edge (0) to its
// top edge (1); a layout point (u, t) has v = 1 - t.
//
// The drawing is produced here as window-space line segments so that the
// image window only paints them (with XOR, so that painting twice restores
// the picture) and tests can inspect exactly what is drawn.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "target/target_layout.h"

namespace calivant {

struct ImagePoint {
    double x = 0.0;
    double y = 0.0;
    bool operator==(const ImagePoint&) const = default;
};

struct WindowPoint {
    int x = 0;
    int y = 0;
    bool operator==(const WindowPoint&) const = default;
};

// Corner 0 bottom-left of the chart as displayed, 1 top-left, 2 top-right,
// 3 bottom-right.
struct OverlayQuad {
    std::array<ImagePoint, 4> corners{};
};

// One flag byte per colour patch index, respectively per position in
// grayCells; non-zero marks the patch bad (drawn crossed).
inline constexpr std::size_t kColorBadCapacity = 600;
inline constexpr std::size_t kGrayBadCapacity = 100;
using ColorBadFlags = std::array<std::uint8_t, kColorBadCapacity>;
using GrayBadFlags = std::array<std::uint8_t, kGrayBadCapacity>;

// Where the displayed picture lies in the image window.
struct DisplayPlacement {
    int imageWidth = 0;     // of the target image
    int imageHeight = 0;
    int displayWidth = 0;   // of its scaled display copy
    int displayHeight = 0;
    int originX = 0;        // window position of the display copy's top-left pixel
    int originY = 0;
};

// Window coordinates are kept within this range so that a corner dragged
// absurdly far away cannot overflow the integer arithmetic of the drawing.
inline constexpr int kMaxWindowCoordinate = 1 << 20;

using WindowQuad = std::array<WindowPoint, 4>;

// The corners of the whole image: (0, 0), (0, h - 1), (w - 1, h - 1), (w - 1, 0).
void resetOverlayQuad(OverlayQuad& quad, int imageWidth, int imageHeight);

// Bilinear mapping, no rounding: A = c0 + u (c3 - c0), B = c1 + u (c2 - c1),
// result A + v (B - A).
ImagePoint mapTargetPoint(const OverlayQuad& quad, double u, double v);

// Image point to window pixel; image row 0 lands on the bottom row of the
// displayed picture. A one-pixel-wide or -high image maps its only column or
// row to the display's first column or bottom row.
WindowPoint imageToWindow(const DisplayPlacement& placement, double x, double y);

WindowQuad overlayWindowCorners(const OverlayQuad& quad, const DisplayPlacement& placement);

// The bilinear rule of mapTargetPoint on integer window corners, rounding
// (half away from zero) after every product.
WindowPoint overlayToWindow(double u, double v, const WindowQuad& corners);

enum class OverlayPart { Outline, Handle, CornerMark, Marker, Cross };

// A line from `from` to `to`, with `to` itself not drawn (as a polyline
// draws), so a closed path inverts each of its pixels exactly once.
struct WindowSegment {
    WindowPoint from;
    WindowPoint to;
    OverlayPart part = OverlayPart::Outline;
    bool operator==(const WindowSegment&) const = default;
};

// The marker of one patch: the middle half of the cell (left edge u, top
// edge vTop, size w by h) in both directions, which is exactly the area the
// sampling averages; with `cross` its two diagonals as well.
void appendPatchMarker(std::vector<WindowSegment>& segments, double u, double vTop, double w, double h,
                       const WindowQuad& corners, bool cross);

// Outline of the layout rectangle (u, v), (u + du, v), (u + du, v - dv), (u, v - dv).
void appendLayoutRectangle(std::vector<WindowSegment>& segments, double u, double v, double du, double dv,
                           const WindowQuad& corners, OverlayPart part);

// Everything the overlay shows, in drawing order: the outline through
// corners 0, 1, 2, 3, a 5 x 5 handle at each corner, the IT8 corner marks,
// then a marker for every colour and gray cell (crossed where flagged bad)
// and for every border cell (never crossed). Empty when there is no picture.
std::vector<WindowSegment> overlaySegments(const OverlayQuad& quad, const TargetLayout& layout,
                                           const ColorBadFlags& colorBad, const GrayBadFlags& grayBad,
                                           const DisplayPlacement& placement);

}  // namespace calivant
