#include "target/overlay_drag.h"

#include <gtest/gtest.h>

namespace calivant {
namespace {

// A square 100..300 in window pixels: corner 0 bottom-left (y down in the window).
const WindowQuad kSquare{{{100, 300}, {100, 100}, {300, 100}, {300, 300}}};

TEST(OverlayDrag, CornersWinOverEdgesAndEdgesOverTheInside) {
    // Distance 4.24 from corner 1, also on edges 0-1 and 1-2.
    EXPECT_EQ(classifyPoint({103, 103}, kSquare), DragMode::Corner1);
    EXPECT_EQ(classifyPoint({103, 98}, kSquare), DragMode::Corner1);
    // Exactly 5 from corner 1 outside the quad: the nearer end of edge 0-1.
    EXPECT_EQ(classifyPoint({104, 97}, kSquare), DragMode::Edge01);
    // Exactly 5 from corner 0 and on the edge 0-1's line: the edge.
    EXPECT_EQ(classifyPoint({100, 295}, kSquare), DragMode::Edge01);
    // 5 from corner 2 (3-4-5), 4 pixels below edge 1-2: that edge.
    EXPECT_EQ(classifyPoint({297, 104}, kSquare), DragMode::Edge12);
    // 5 from corner 3 outside the quad: within 5 of the end of edge 2-3.
    EXPECT_EQ(classifyPoint({304, 303}, kSquare), DragMode::Edge23);
    EXPECT_FALSE(classifyPoint({304, 306}, kSquare).has_value());
    EXPECT_EQ(classifyPoint({200, 200}, kSquare), DragMode::Whole);
    EXPECT_EQ(classifyPoint({200, 105}, kSquare), DragMode::Edge12);
    EXPECT_EQ(classifyPoint({200, 106}, kSquare), DragMode::Whole);
    EXPECT_EQ(classifyPoint({295, 200}, kSquare), DragMode::Edge23);
    EXPECT_EQ(classifyPoint({200, 305}, kSquare), DragMode::Edge30);
    EXPECT_FALSE(classifyPoint({200, 306}, kSquare).has_value());
    EXPECT_FALSE(classifyPoint({10, 10}, kSquare).has_value());
}

TEST(OverlayDrag, SegmentToleranceIncludesExactlyFive) {
    EXPECT_TRUE(nearSegment({0, 5}, {0, 0}, {10, 0}));
    EXPECT_TRUE(nearSegment({5, -5}, {0, 0}, {10, 0}));
    EXPECT_FALSE(nearSegment({5, -6}, {0, 0}, {10, 0}));
    EXPECT_TRUE(nearSegment({13, 4}, {0, 0}, {10, 0}));   // 3-4-5 beyond the end
    EXPECT_FALSE(nearSegment({14, 4}, {0, 0}, {10, 0}));
    EXPECT_TRUE(nearSegment({3, 4}, {0, 0}, {0, 0}));     // zero length: distance to the end
    EXPECT_FALSE(nearSegment({4, 4}, {0, 0}, {0, 0}));
    EXPECT_TRUE(nearPoint({3, 3}, {0, 0}));
    EXPECT_FALSE(nearPoint({3, 4}, {0, 0}));
}

TEST(OverlayDrag, InsideFollowsTheEvenOddRuleOnAConcaveQuad) {
    // An arrowhead: corner 2 pushed inside toward corner 0.
    const WindowQuad arrow{{{0, 100}, {0, 0}, {40, 50}, {100, 100}}};
    EXPECT_TRUE(insideQuad({10, 50}, arrow));
    EXPECT_FALSE(insideQuad({60, 50}, arrow));  // in the notch
    EXPECT_TRUE(insideQuad({60, 90}, arrow));
    EXPECT_FALSE(insideQuad({-1, 50}, arrow));
}

TEST(OverlayDrag, CursorsFollowTheHit) {
    EXPECT_EQ(cursorFor(DragMode::Corner0), DragCursor::SizeNeSw);
    EXPECT_EQ(cursorFor(DragMode::Corner2), DragCursor::SizeNeSw);
    EXPECT_EQ(cursorFor(DragMode::Corner1), DragCursor::SizeNwSe);
    EXPECT_EQ(cursorFor(DragMode::Corner3), DragCursor::SizeNwSe);
    EXPECT_EQ(cursorFor(DragMode::Edge01), DragCursor::SizeWe);
    EXPECT_EQ(cursorFor(DragMode::Edge23), DragCursor::SizeWe);
    EXPECT_EQ(cursorFor(DragMode::Edge12), DragCursor::SizeNs);
    EXPECT_EQ(cursorFor(DragMode::Edge30), DragCursor::SizeNs);
    EXPECT_EQ(cursorFor(DragMode::Whole), DragCursor::UpArrow);
    EXPECT_EQ(cursorFor(std::nullopt), DragCursor::Arrow);
}

// A 1001 x 501 image shown at 201 x 101 from (50, 40): one display pixel is
// exactly 5 image pixels.
const DisplayPlacement kPlacement{1001, 501, 201, 101, 50, 40};

TEST(OverlayDrag, DraggingAnEdgeMovesItsTwoCorners) {
    OverlayQuad quad;
    resetOverlayQuad(quad, 1001, 501);
    OverlayDrag drag;
    const WindowQuad before = overlayWindowCorners(quad, kPlacement);
    EXPECT_EQ(before[1], (WindowPoint{50, 40}));
    EXPECT_EQ(before[3], (WindowPoint{250, 140}));
    // Press on the middle of edge 1-2 (the top), drag right 10 and down 20.
    EXPECT_EQ(pressOverlay(drag, quad, kPlacement, {150, 41}), DragCursor::SizeNs);
    ASSERT_TRUE(drag.dragging);
    EXPECT_EQ(drag.mode, DragMode::Edge12);
    moveOverlay(drag, quad, kPlacement, {160, 61});
    const WindowQuad after = overlayWindowCorners(quad, kPlacement);
    EXPECT_EQ(after[0], before[0]);
    EXPECT_EQ(after[3], before[3]);
    EXPECT_EQ(after[1], (WindowPoint{60, 60}));
    EXPECT_EQ(after[2], (WindowPoint{260, 60}));
    // Image coordinates: 5 image pixels per display pixel, y up.
    EXPECT_DOUBLE_EQ(quad.corners[1].x, 50.0);
    EXPECT_DOUBLE_EQ(quad.corners[1].y, 400.0);
    EXPECT_DOUBLE_EQ(quad.corners[0].x, 0.0);
    EXPECT_DOUBLE_EQ(quad.corners[0].y, 0.0);
    releaseOverlay(drag);
    EXPECT_FALSE(drag.dragging);
}

TEST(OverlayDrag, DraggingInsideTranslatesEveryCornerAndCornersAlone) {
    OverlayQuad quad;
    resetOverlayQuad(quad, 1001, 501);
    OverlayDrag drag;
    EXPECT_EQ(pressOverlay(drag, quad, kPlacement, {150, 90}), DragCursor::UpArrow);
    moveOverlay(drag, quad, kPlacement, {140, 97});
    moveOverlay(drag, quad, kPlacement, {130, 93});  // only the last position counts
    const WindowQuad moved = overlayWindowCorners(quad, kPlacement);
    EXPECT_EQ(moved[0], (WindowPoint{30, 143}));
    EXPECT_EQ(moved[2], (WindowPoint{230, 43}));
    // Then grab corner 2 alone (distance 2 from it).
    releaseOverlay(drag);
    EXPECT_EQ(pressOverlay(drag, quad, kPlacement, {231, 44}), DragCursor::SizeNeSw);
    moveOverlay(drag, quad, kPlacement, {251, 34});
    const WindowQuad after = overlayWindowCorners(quad, kPlacement);
    EXPECT_EQ(after[2], (WindowPoint{250, 33}));
    EXPECT_EQ(after[1], moved[1]);
    EXPECT_EQ(after[3], moved[3]);
}

TEST(OverlayDrag, PressOutsideStartsNothingAndMovingOnlyChangesTheCursor) {
    OverlayQuad quad;
    resetOverlayQuad(quad, 1001, 501);
    const OverlayQuad original = quad;
    OverlayDrag drag;
    EXPECT_EQ(pressOverlay(drag, quad, kPlacement, {5, 5}), DragCursor::Arrow);
    EXPECT_FALSE(drag.dragging);
    EXPECT_EQ(moveOverlay(drag, quad, kPlacement, {150, 90}), DragCursor::UpArrow);
    EXPECT_EQ(moveOverlay(drag, quad, kPlacement, {50, 140}), DragCursor::SizeNeSw);
    EXPECT_EQ(quad.corners, original.corners);
}

TEST(OverlayDrag, NoInputWithoutAPictureOfTwoByTwo) {
    OverlayQuad quad;
    resetOverlayQuad(quad, 0, 0);
    OverlayDrag drag;
    for (const DisplayPlacement& p : {DisplayPlacement{}, DisplayPlacement{100, 100, 1, 50, 0, 0},
                                      DisplayPlacement{100, 100, 50, 1, 0, 0}}) {
        EXPECT_FALSE(acceptsOverlayDrag(p));
        EXPECT_EQ(pressOverlay(drag, quad, p, {0, 0}), DragCursor::Arrow);
        EXPECT_FALSE(drag.dragging);
        EXPECT_EQ(moveOverlay(drag, quad, p, {3, 3}), DragCursor::Arrow);
    }
}

TEST(OverlayDrag, StoredCornersReproduceTheDraggedWindowPositions) {
    // An awkward scale: 3000 x 2000 shown at 800 x 533.
    const DisplayPlacement p{3000, 2000, 800, 533, 17, 9};
    OverlayQuad quad;
    resetOverlayQuad(quad, 3000, 2000);
    OverlayDrag drag;
    const WindowQuad start = overlayWindowCorners(quad, p);
    ASSERT_NE(pressOverlay(drag, quad, p, start[3]), DragCursor::Arrow);
    for (int step = 0; step < 40; ++step) {
        const WindowPoint to{start[3].x - 7 * step, start[3].y - 3 * step};
        moveOverlay(drag, quad, p, to);
        EXPECT_EQ(overlayWindowCorners(quad, p)[3], to);
        EXPECT_EQ(overlayWindowCorners(quad, p)[1], start[1]);
    }
}

}  // namespace
}  // namespace calivant
