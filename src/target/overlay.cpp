#include "target/overlay.h"

#include <algorithm>

#include "util/cie.h"

namespace calivant {
namespace {

int toWindowCoordinate(std::int64_t value) {
    return static_cast<int>(std::clamp<std::int64_t>(value, -kMaxWindowCoordinate, kMaxWindowCoordinate));
}

// The span of an image side for the window scale; a single pixel would give
// zero, and its only position is 0 anyway.
double imageSpan(int size) { return size > 1 ? static_cast<double>(size - 1) : 1.0; }

void appendClosedPath(std::vector<WindowSegment>& segments, const WindowQuad& path, OverlayPart part) {
    for (std::size_t i = 0; i < path.size(); ++i) segments.push_back({path[i], path[(i + 1) % path.size()], part});
}

}  // namespace

void resetOverlayQuad(OverlayQuad& quad, int imageWidth, int imageHeight) {
    const double right = imageWidth - 1.0;
    const double top = imageHeight - 1.0;
    quad.corners = {ImagePoint{0.0, 0.0}, ImagePoint{0.0, top}, ImagePoint{right, top}, ImagePoint{right, 0.0}};
}

ImagePoint mapTargetPoint(const OverlayQuad& quad, double u, double v) {
    const auto& c = quad.corners;
    const double ax = c[0].x + u * (c[3].x - c[0].x);
    const double ay = c[0].y + u * (c[3].y - c[0].y);
    const double bx = c[1].x + u * (c[2].x - c[1].x);
    const double by = c[1].y + u * (c[2].y - c[1].y);
    return {ax + v * (bx - ax), ay + v * (by - ay)};
}

WindowPoint imageToWindow(const DisplayPlacement& p, double x, double y) {
    const std::int64_t dx = roundHalfAway(x / imageSpan(p.imageWidth) * (p.displayWidth - 1));
    const std::int64_t dy = roundHalfAway(y / imageSpan(p.imageHeight) * (p.displayHeight - 1));
    return {toWindowCoordinate(std::int64_t{p.originX} + dx),
            toWindowCoordinate(std::int64_t{p.originY} - dy + p.displayHeight - 1)};
}

WindowQuad overlayWindowCorners(const OverlayQuad& quad, const DisplayPlacement& placement) {
    WindowQuad corners;
    for (std::size_t i = 0; i < corners.size(); ++i)
        corners[i] = imageToWindow(placement, quad.corners[i].x, quad.corners[i].y);
    return corners;
}

WindowPoint overlayToWindow(double u, double v, const WindowQuad& c) {
    // Differences are taken in 64 bits: corners may lie far apart.
    auto along = [](int from, int to, double f) {
        return std::int64_t{from} + roundHalfAway((std::int64_t{to} - from) * f);
    };
    const std::int64_t ax = along(c[0].x, c[3].x, u);
    const std::int64_t ay = along(c[0].y, c[3].y, u);
    const std::int64_t bx = along(c[1].x, c[2].x, u);
    const std::int64_t by = along(c[1].y, c[2].y, u);
    return {toWindowCoordinate(ax + roundHalfAway(static_cast<double>(bx - ax) * v)),
            toWindowCoordinate(ay + roundHalfAway(static_cast<double>(by - ay) * v))};
}

void appendPatchMarker(std::vector<WindowSegment>& segments, double u, double vTop, double w, double h,
                       const WindowQuad& corners, bool cross) {
    const WindowQuad marker = {overlayToWindow(u + w / 4, vTop - h / 4, corners),
                               overlayToWindow(u + 3 * w / 4, vTop - h / 4, corners),
                               overlayToWindow(u + 3 * w / 4, vTop - 3 * h / 4, corners),
                               overlayToWindow(u + w / 4, vTop - 3 * h / 4, corners)};
    appendClosedPath(segments, marker, OverlayPart::Marker);
    if (cross) {
        segments.push_back({marker[0], marker[2], OverlayPart::Cross});
        segments.push_back({marker[1], marker[3], OverlayPart::Cross});
    }
}

void appendLayoutRectangle(std::vector<WindowSegment>& segments, double u, double v, double du, double dv,
                           const WindowQuad& corners, OverlayPart part) {
    const WindowQuad rectangle = {overlayToWindow(u, v, corners), overlayToWindow(u + du, v, corners),
                                  overlayToWindow(u + du, v - dv, corners), overlayToWindow(u, v - dv, corners)};
    appendClosedPath(segments, rectangle, part);
}

std::vector<WindowSegment> overlaySegments(const OverlayQuad& quad, const TargetLayout& layout,
                                           const ColorBadFlags& colorBad, const GrayBadFlags& grayBad,
                                           const DisplayPlacement& placement) {
    std::vector<WindowSegment> segments;
    if (placement.imageWidth <= 0 || placement.imageHeight <= 0 || placement.displayWidth <= 0 ||
        placement.displayHeight <= 0)
        return segments;

    const WindowQuad corners = overlayWindowCorners(quad, placement);
    appendClosedPath(segments, corners, OverlayPart::Outline);
    for (const WindowPoint& c : corners) {
        const WindowQuad handle = {WindowPoint{c.x - 2, c.y - 2}, WindowPoint{c.x + 2, c.y - 2},
                                   WindowPoint{c.x + 2, c.y + 2}, WindowPoint{c.x - 2, c.y + 2}};
        appendClosedPath(segments, handle, OverlayPart::Handle);
    }
    for (const LayoutRectangle& mark : layoutCornerMarks(layout.targetType))
        appendLayoutRectangle(segments, mark.u, 1.0 - mark.t, mark.width, mark.height, corners,
                              OverlayPart::CornerMark);

    auto appendCells = [&](const std::vector<PatchCell>& cells, const std::uint8_t* bad, std::size_t capacity) {
        for (std::size_t i = 0; i < cells.size(); ++i) {
            const PatchCell& cell = cells[i];
            const bool cross = bad != nullptr && i < capacity && bad[i] != 0;
            appendPatchMarker(segments, cell.u, 1.0 - cell.t, cell.width, cell.height, corners, cross);
        }
    };
    appendCells(layout.colorCells, colorBad.data(), colorBad.size());
    appendCells(layout.grayCells, grayBad.data(), grayBad.size());
    appendCells(layout.whiteCells, nullptr, 0);
    appendCells(layout.midGrayCells, nullptr, 0);
    appendCells(layout.blackCells, nullptr, 0);
    return segments;
}


}  // namespace calivant
