#include "target/overlay.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "target/overlay_drag.h"

namespace calivant {
namespace {

int countPart(const std::vector<WindowSegment>& segments, OverlayPart part) {
    return static_cast<int>(std::count_if(segments.begin(), segments.end(), [&](const auto& s) { return s.part == part; }));
}

// Bilinear: along edges 0-3 and 1-2 at u, then between them at v. Window
// points flip rows and round half away from zero after every product.
TEST(Overlay, MappingAndRounding) {
    OverlayQuad quad;
    quad.corners = {ImagePoint{10, 20}, ImagePoint{30, 220}, ImagePoint{170, 200}, ImagePoint{190, 0}};
    EXPECT_EQ(mapTargetPoint(quad, 0.25, 0.75), (ImagePoint{55 + 0.75 * (65 - 55), 15 + 0.75 * (215 - 15)}));
    // 101 x 51 shown at 201 x 101 from (10, 20); image row 0 is the bottom.
    const DisplayPlacement placement{101, 51, 201, 101, 10, 20};
    EXPECT_EQ(imageToWindow(placement, 100, 50), (WindowPoint{210, 20}));
    EXPECT_EQ(imageToWindow(placement, 0.25, 0.25), (WindowPoint{11, 119}));
    EXPECT_EQ(imageToWindow(placement, -0.25, 0).x, 9);
    EXPECT_EQ(imageToWindow(DisplayPlacement{1, 1, 1, 21, 5, 7}, 0, 0), (WindowPoint{5, 27}));  // one pixel
    // 3 x 0.5 rounds to 2; mirrored, -1.5 rounds to -2 (3 - 2 = 1).
    EXPECT_EQ(overlayToWindow(0.5, 0.5, {WindowPoint{0, 0}, {0, 10}, {3, 10}, {3, 0}}), (WindowPoint{2, 5}));
    EXPECT_EQ(overlayToWindow(0.5, 0.5, {WindowPoint{3, 0}, {3, 10}, {0, 10}, {0, 0}}), (WindowPoint{1, 5}));
    // Edges rounded first (2 and 10 - 2 = 8), then the blend: 2 + round(1.5).
    EXPECT_EQ(overlayToWindow(0.5, 0.25, {WindowPoint{0, 0}, {10, 7}, {7, 7}, {3, 0}}), (WindowPoint{4, 2}));
}

// Outline, handles, corner marks, then markers, each crossed after it if flagged.
TEST(Overlay, It8DrawingPartsInOrder) {
    OverlayQuad quad;
    resetOverlayQuad(quad, 400, 300);
    const TargetLayout layout = makeTargetLayout(static_cast<int>(TargetType::It8));
    ColorBadFlags colorBad{};
    GrayBadFlags grayBad{};
    colorBad[5] = grayBad[23] = 1;
    const auto s = overlaySegments(quad, layout, colorBad, grayBad, {400, 300, 400, 300, 0, 0});
    EXPECT_EQ(s[0], (WindowSegment{{0, 299}, {0, 0}, OverlayPart::Outline}));
    EXPECT_EQ(s[6], (WindowSegment{{2, 301}, {-2, 301}, OverlayPart::Handle}));  // 5 x 5 around corner 0
    EXPECT_EQ(s[20], (WindowSegment{{0, 0}, {9, 0}, OverlayPart::CornerMark}));  // 0.0224 x 399
    EXPECT_EQ(s[24], (WindowSegment{{0, 252}, {9, 252}, OverlayPart::CornerMark}));  // 0.8413 from the top
    const std::size_t colorFive = 4 + 16 + 16 + 4 * 5;
    EXPECT_EQ(s[colorFive + 4], (WindowSegment{s[colorFive].from, s[colorFive + 2].from, OverlayPart::Cross}));
    EXPECT_EQ(countPart(s, OverlayPart::Cross), 4);
    EXPECT_EQ(s.back().part, OverlayPart::Cross);  // the last gray cell, GS23
    EXPECT_TRUE(overlaySegments(quad, layout, colorBad, grayBad, {400, 300, 400, 0, 0, 0}).empty());
}

// The middle half of each cell (the DC's double cell too); borders never crossed.
TEST(Overlay, MarkersAreTheMiddleHalfOfTheirCells) {
    const int w = 617, h = 407;
    OverlayQuad quad;
    resetOverlayQuad(quad, w, h);
    ColorBadFlags colorBad;
    GrayBadFlags grayBad;
    colorBad.fill(1);
    grayBad.fill(1);
    const TargetLayout layout = makeTargetLayout(static_cast<int>(TargetType::ColorCheckerDc));
    const auto s = overlaySegments(quad, layout, colorBad, grayBad, {w, h, w, h, 0, 0});
    EXPECT_EQ(countPart(s, OverlayPart::Cross), 2 * (164 + 13));
    EXPECT_EQ(countPart(s, OverlayPart::Marker), 4 * (164 + 13 + 60));
    std::size_t at = 4 + 16;
    for (const auto* cells : {&layout.colorCells, &layout.grayCells, &layout.whiteCells}) {
        for (const PatchCell& cell : *cells) {
            // The marker's corners in drawing order: a quarter in from the
            // cell's top left, top right, bottom right, bottom left.
            for (std::size_t k = 0; k < 4; ++k) {
                const double fu = k == 1 || k == 2 ? 0.75 : 0.25, ft = k >= 2 ? 0.75 : 0.25;
                const WindowPoint p = s[at + k].from;
                EXPECT_NEAR(p.x, (w - 1) * (cell.u + fu * cell.width), 0.51) << cell.name << " " << k;
                EXPECT_NEAR(p.y, (h - 1) * (cell.t + ft * cell.height), 0.51) << cell.name << " " << k;
            }
            at += cells == &layout.whiteCells ? 4 : 6;
        }
    }
}

TEST(Overlay, FarAwayCornersStayWithinRange) {
    OverlayQuad quad;
    resetOverlayQuad(quad, 100, 100);
    quad.corners[2] = ImagePoint{1e12, 1e12};
    quad.corners[3] = ImagePoint{-1e300, 0};
    for (const WindowSegment& s : overlaySegments(quad, makeTargetLayout(4), {}, {}, {100, 100, 100, 100, 0, 0}))
        EXPECT_LE(std::max({std::abs(s.from.x), std::abs(s.from.y), std::abs(s.to.x), std::abs(s.to.y)}),
                  kMaxWindowCoordinate + 2);
}

TEST(OverlayDrag, CornersWinOverEdgesAndEdgesOverTheInside) {
    // Corner 0 bottom-left (y down); within 5 of a corner, up to 5 of an edge.
    const WindowQuad square{{{100, 300}, {100, 100}, {300, 100}, {300, 300}}};
    const std::pair<WindowPoint, std::optional<DragMode>> cases[] = {
        {{103, 103}, DragMode::Corner1}, {{103, 98}, DragMode::Corner1},  {{104, 97}, DragMode::Edge01},
        {{100, 295}, DragMode::Edge01},  {{297, 104}, DragMode::Edge12},  {{304, 303}, DragMode::Edge23},
        {{200, 105}, DragMode::Edge12},  {{295, 200}, DragMode::Edge23},  {{200, 305}, DragMode::Edge30},
        {{200, 106}, DragMode::Whole},   {{304, 306}, std::nullopt},      {{200, 306}, std::nullopt},
        {{10, 10}, std::nullopt}};
    for (const auto& [p, mode] : cases) EXPECT_EQ(classifyPoint(p, square), mode) << p.x << "," << p.y;
    // Beyond a segment's end and on a zero-length one: the distance to the end.
    EXPECT_TRUE(nearSegment({13, 4}, {0, 0}, {10, 0}) && nearSegment({3, 4}, {0, 0}, {0, 0}));
    EXPECT_FALSE(nearSegment({14, 4}, {0, 0}, {10, 0}) || nearSegment({4, 4}, {0, 0}, {0, 0}));
    // Even-odd rule on an arrowhead (corner 2 pushed toward corner 0).
    const WindowQuad arrow{{{0, 100}, {0, 0}, {40, 50}, {100, 100}}};
    EXPECT_TRUE(insideQuad({10, 50}, arrow) && insideQuad({60, 90}, arrow));
    EXPECT_FALSE(insideQuad({60, 50}, arrow));
}

// 1001 x 501 shown at 201 x 101 from (50, 40): 5 image pixels a display pixel.
TEST(OverlayDrag, EdgesMoveTwoCornersTheInsideAllAndCornersOne) {
    const DisplayPlacement placement{1001, 501, 201, 101, 50, 40};
    OverlayQuad quad;
    resetOverlayQuad(quad, 1001, 501);
    OverlayDrag drag;
    EXPECT_EQ(pressOverlay(drag, quad, placement, {150, 41}), DragCursor::SizeNs);  // the top edge
    moveOverlay(drag, quad, placement, {160, 61});
    EXPECT_EQ(overlayWindowCorners(quad, placement), (WindowQuad{{{50, 140}, {60, 60}, {260, 60}, {250, 140}}}));
    EXPECT_EQ(quad.corners[1], (ImagePoint{50, 400}));  // image rows count up
    releaseOverlay(drag);
    EXPECT_FALSE(drag.dragging);
    EXPECT_EQ(pressOverlay(drag, quad, placement, {150, 90}), DragCursor::UpArrow);
    moveOverlay(drag, quad, placement, {140, 97});
    moveOverlay(drag, quad, placement, {130, 93});  // only the last position counts
    EXPECT_EQ(overlayWindowCorners(quad, placement), (WindowQuad{{{30, 143}, {40, 63}, {240, 63}, {230, 143}}}));
    releaseOverlay(drag);
    EXPECT_EQ(pressOverlay(drag, quad, placement, {241, 64}), DragCursor::SizeNeSw);  // corner 2
    moveOverlay(drag, quad, placement, {251, 44});
    EXPECT_EQ(overlayWindowCorners(quad, placement), (WindowQuad{{{30, 143}, {40, 63}, {250, 43}, {230, 143}}}));
    EXPECT_EQ(pressOverlay(drag, quad, placement, {35, 100}), DragCursor::SizeWe);  // the left edge
}

TEST(OverlayDrag, PressOutsideOrWithoutAPictureStartsNothing) {
    OverlayQuad quad;
    resetOverlayQuad(quad, 1001, 501);
    OverlayDrag drag;
    for (const DisplayPlacement& p : {DisplayPlacement{1001, 501, 201, 101, 50, 40}, DisplayPlacement{},
                                      DisplayPlacement{100, 100, 1, 50, 0, 0}, DisplayPlacement{100, 100, 50, 1, 0, 0}}) {
        EXPECT_EQ(pressOverlay(drag, quad, p, {5, 5}), DragCursor::Arrow);
        EXPECT_EQ(moveOverlay(drag, quad, p, {50, 140}), p.imageWidth == 1001 ? DragCursor::SizeNeSw : DragCursor::Arrow);
        EXPECT_EQ(quad.corners[1], (ImagePoint{0, 500}));
    }
    EXPECT_TRUE(acceptsOverlayDrag({1, 1, 2, 2, 0, 0}) && !acceptsOverlayDrag({0, 1, 50, 50, 0, 0}));
}

}  // namespace
}  // namespace calivant
