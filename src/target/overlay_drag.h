#pragma once
// Dragging the overlay in the image window: what a window point hits (a
// corner, an edge or the inside of the quad, with a tolerance of 5 pixels),
// which cursor shows it, and where the corners go when the mouse moves. The
// window only forwards its mouse events here, so all of it is testable
// without a display.

#include <optional>

#include "target/overlay.h"

namespace calivant {

// What a press holds: 0..3 a corner, 4..7 the edges 0-1, 1-2, 2-3, 3-0,
// 8 the whole quad.
enum class DragMode : int {
    Corner0 = 0, Corner1 = 1, Corner2 = 2, Corner3 = 3,
    Edge01 = 4, Edge12 = 5, Edge23 = 6, Edge30 = 7,
    Whole = 8,
};

// The cursor that shows what lies under the mouse.
enum class DragCursor { Arrow, SizeNeSw, SizeNwSe, SizeWe, SizeNs, UpArrow };

// Distance below 5 pixels.
bool nearPoint(WindowPoint p, WindowPoint corner);
// Squared distance to the segment (its nearest point) at most 25.
bool nearSegment(WindowPoint p, WindowPoint a, WindowPoint b);
// Even-odd rule with a vertical ray toward increasing y; an edge counts when
// p.x lies within its x range (ends included) and the edge lies at or below p.
bool insideQuad(WindowPoint p, const WindowQuad& corners);

// Corners first, then edges, then the inside; nothing elsewhere.
std::optional<DragMode> classifyPoint(WindowPoint p, const WindowQuad& corners);
DragCursor cursorFor(std::optional<DragMode> mode);

// The window corners after the mouse moved from press to p: the corners the
// mode holds move by p - press from their place at the press, the others
// keep `current`.
WindowQuad draggedCorners(DragMode mode, const WindowQuad& startCorners, const WindowQuad& current,
                          WindowPoint press, WindowPoint p);

// Window pixel back to image coordinates, the inverse of imageToWindow on the
// display grid. Only for a display copy of at least 2 x 2 pixels.
ImagePoint windowToImage(const DisplayPlacement& placement, WindowPoint w);

// True when the picture is large enough to take mouse input: below 2 pixels
// a side the inverse mapping would divide by zero.
bool acceptsOverlayDrag(const DisplayPlacement& placement);

// The drag in progress in one image window.
struct OverlayDrag {
    bool dragging = false;
    DragMode mode = DragMode::Whole;
    WindowPoint pressPoint;
    WindowQuad startCorners{};
};

// Press at p: starts a drag when p hits the overlay. Returns the cursor.
DragCursor pressOverlay(OverlayDrag& drag, const OverlayQuad& quad, const DisplayPlacement& placement,
                        WindowPoint p);
// Move to p: moves the held corners (stored back in image coordinates, so the
// corners not held snap to the display grid) when dragging. Returns the
// cursor for what now lies under p.
DragCursor moveOverlay(OverlayDrag& drag, OverlayQuad& quad, const DisplayPlacement& placement, WindowPoint p);
void releaseOverlay(OverlayDrag& drag);

}  // namespace calivant
