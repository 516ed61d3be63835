#include "target/overlay_drag.h"

#include <cstdint>

namespace calivant {
namespace {

constexpr std::int64_t kTolerance = 5;

constexpr std::array<std::array<int, 2>, 4> kEdges{{{0, 1}, {1, 2}, {2, 3}, {3, 0}}};

}  // namespace

bool nearPoint(WindowPoint p, WindowPoint corner) {
    const std::int64_t dx = std::int64_t{p.x} - corner.x;
    const std::int64_t dy = std::int64_t{p.y} - corner.y;
    return dx * dx + dy * dy < kTolerance * kTolerance;
}

bool nearSegment(WindowPoint p, WindowPoint a, WindowPoint b) {
    const double abx = static_cast<double>(b.x) - a.x;
    const double aby = static_cast<double>(b.y) - a.y;
    const double apx = static_cast<double>(p.x) - a.x;
    const double apy = static_cast<double>(p.y) - a.y;
    const double length2 = abx * abx + aby * aby;
    double fx = apx;
    double fy = apy;
    if (length2 > 0.0) {
        const double t = (apx * abx + apy * aby) / length2;
        if (t >= 1.0) {
            fx = static_cast<double>(p.x) - b.x;
            fy = static_cast<double>(p.y) - b.y;
        } else if (t > 0.0) {
            fx = apx - t * abx;
            fy = apy - t * aby;
        }
    }
    return fx * fx + fy * fy <= static_cast<double>(kTolerance * kTolerance);
}

bool insideQuad(WindowPoint p, const WindowQuad& c) {
    bool inside = false;
    for (const auto& edge : kEdges) {
        const WindowPoint a = c[static_cast<std::size_t>(edge[0])];
        const WindowPoint b = c[static_cast<std::size_t>(edge[1])];
        const int lo = a.x < b.x ? a.x : b.x;
        const int hi = a.x < b.x ? b.x : a.x;
        if (p.x < lo || p.x > hi) continue;
        double edgeY;
        if (a.x == b.x) {
            // A vertical edge under the point: the ray meets it when any part
            // of it lies at or below the point.
            edgeY = a.y > b.y ? a.y : b.y;
        } else {
            edgeY = a.y + (static_cast<double>(b.y) - a.y) * (static_cast<double>(p.x) - a.x) /
                              (static_cast<double>(b.x) - a.x);
        }
        if (edgeY >= p.y) inside = !inside;
    }
    return inside;
}

std::optional<DragMode> classifyPoint(WindowPoint p, const WindowQuad& c) {
    for (int k = 0; k < 4; ++k)
        if (nearPoint(p, c[static_cast<std::size_t>(k)])) return static_cast<DragMode>(k);
    for (int k = 0; k < 4; ++k) {
        const auto& edge = kEdges[static_cast<std::size_t>(k)];
        if (nearSegment(p, c[static_cast<std::size_t>(edge[0])], c[static_cast<std::size_t>(edge[1])]))
            return static_cast<DragMode>(4 + k);
    }
    if (insideQuad(p, c)) return DragMode::Whole;
    return std::nullopt;
}

DragCursor cursorFor(std::optional<DragMode> mode) {
    if (!mode) return DragCursor::Arrow;
    switch (*mode) {
        case DragMode::Corner0:
        case DragMode::Corner2: return DragCursor::SizeNeSw;
        case DragMode::Corner1:
        case DragMode::Corner3: return DragCursor::SizeNwSe;
        case DragMode::Edge01:
        case DragMode::Edge23: return DragCursor::SizeWe;
        case DragMode::Edge12:
        case DragMode::Edge30: return DragCursor::SizeNs;
        case DragMode::Whole: return DragCursor::UpArrow;
    }
    return DragCursor::Arrow;
}

WindowQuad draggedCorners(DragMode mode, const WindowQuad& start, const WindowQuad& current, WindowPoint press,
                          WindowPoint p) {
    WindowQuad moved = current;
    const int dx = p.x - press.x;
    const int dy = p.y - press.y;
    auto move = [&](int k) {
        const auto i = static_cast<std::size_t>(k);
        moved[i] = {start[i].x + dx, start[i].y + dy};
    };
    const int m = static_cast<int>(mode);
    if (m <= 3) {
        move(m);
    } else if (m <= 7) {
        move(kEdges[static_cast<std::size_t>(m - 4)][0]);
        move(kEdges[static_cast<std::size_t>(m - 4)][1]);
    } else {
        for (int k = 0; k < 4; ++k) move(k);
    }
    return moved;
}

ImagePoint windowToImage(const DisplayPlacement& p, WindowPoint w) {
    const double x = (static_cast<double>(w.x) - p.originX) * (p.imageWidth - 1) / (p.displayWidth - 1);
    const double y = static_cast<double>(p.imageHeight - 1) *
                     (static_cast<double>(p.originY) - w.y + p.displayHeight - 1) / (p.displayHeight - 1);
    return {x, y};
}

bool acceptsOverlayDrag(const DisplayPlacement& p) {
    return p.displayWidth >= 2 && p.displayHeight >= 2 && p.imageWidth >= 1 && p.imageHeight >= 1;
}

DragCursor pressOverlay(OverlayDrag& drag, const OverlayQuad& quad, const DisplayPlacement& placement,
                        WindowPoint p) {
    drag.dragging = false;
    if (!acceptsOverlayDrag(placement)) return DragCursor::Arrow;
    drag.pressPoint = p;
    drag.startCorners = overlayWindowCorners(quad, placement);
    const std::optional<DragMode> mode = classifyPoint(p, drag.startCorners);
    if (!mode) return DragCursor::Arrow;
    drag.mode = *mode;
    drag.dragging = true;
    return cursorFor(mode);
}

DragCursor moveOverlay(OverlayDrag& drag, OverlayQuad& quad, const DisplayPlacement& placement, WindowPoint p) {
    if (!acceptsOverlayDrag(placement)) {
        drag.dragging = false;
        return DragCursor::Arrow;
    }
    const WindowQuad current = overlayWindowCorners(quad, placement);
    const DragCursor cursor = cursorFor(classifyPoint(p, current));
    if (!drag.dragging) return cursor;
    const WindowQuad moved = draggedCorners(drag.mode, drag.startCorners, current, drag.pressPoint, p);
    for (std::size_t k = 0; k < moved.size(); ++k) quad.corners[k] = windowToImage(placement, moved[k]);
    return cursor;
}

void releaseOverlay(OverlayDrag& drag) { drag.dragging = false; }

}  // namespace calivant
