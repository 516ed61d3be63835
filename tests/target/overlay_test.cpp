#include "target/overlay.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "measure/advanced_options.h"

namespace calivant {
namespace {

int countPart(const std::vector<WindowSegment>& segments, OverlayPart part) {
    return static_cast<int>(std::count_if(segments.begin(), segments.end(),
                                          [part](const WindowSegment& s) { return s.part == part; }));
}

TEST(Overlay, ResetPutsTheQuadOnTheImageCorners) {
    OverlayQuad quad;
    resetOverlayQuad(quad, 640, 480);
    EXPECT_EQ(mapTargetPoint(quad, 0, 0), (ImagePoint{0, 0}));
    EXPECT_EQ(mapTargetPoint(quad, 1, 1), (ImagePoint{639, 479}));
    EXPECT_EQ(mapTargetPoint(quad, 0, 1), (ImagePoint{0, 479}));
    EXPECT_EQ(mapTargetPoint(quad, 1, 0), (ImagePoint{639, 0}));
}

TEST(Overlay, BilinearMappingOnATrapezoid) {
    OverlayQuad quad;
    quad.corners = {ImagePoint{10, 20}, ImagePoint{30, 220}, ImagePoint{170, 200}, ImagePoint{190, 0}};
    const ImagePoint mid = mapTargetPoint(quad, 0.5, 0.5);
    // Mean of the midpoints of edges 0-3 and 1-2.
    EXPECT_DOUBLE_EQ(mid.x, ((10 + 190) / 2.0 + (30 + 170) / 2.0) / 2.0);
    EXPECT_DOUBLE_EQ(mid.y, ((20 + 0) / 2.0 + (220 + 200) / 2.0) / 2.0);
    // Off centre: interpolate along the bottom and top edges, then between them.
    const double u = 0.25;
    const double v = 0.75;
    const double bottomX = 10 + u * 180, bottomY = 20 - u * 20;
    const double topX = 30 + u * 140, topY = 220 - u * 20;
    const ImagePoint p = mapTargetPoint(quad, u, v);
    EXPECT_DOUBLE_EQ(p.x, bottomX + v * (topX - bottomX));
    EXPECT_DOUBLE_EQ(p.y, bottomY + v * (topY - bottomY));
}

TEST(Overlay, ImageToWindowFlipsRowsAndRoundsHalfAway) {
    // 101 x 51 image shown at 201 x 101 with its top-left pixel at (10, 20).
    const DisplayPlacement placement{101, 51, 201, 101, 10, 20};
    EXPECT_EQ(imageToWindow(placement, 0, 0), (WindowPoint{10, 120}));   // bottom-left
    EXPECT_EQ(imageToWindow(placement, 100, 50), (WindowPoint{210, 20}));  // top-right
    // 0.25 x 200 = 50 exactly; 0.0025 x 200 = 0.5 rounds up, -0.5 rounds down.
    EXPECT_EQ(imageToWindow(placement, 25, 0).x, 60);
    EXPECT_EQ(imageToWindow(placement, 0.25, 0).x, 11);
    EXPECT_EQ(imageToWindow(placement, -0.25, 0).x, 9);
    // Rows: 0.25 / 50 x 100 = 0.5 rounds away from zero, one row up.
    EXPECT_EQ(imageToWindow(placement, 0, 0.25).y, 119);
}

TEST(Overlay, OnePixelImageDoesNotDivideByZero) {
    const DisplayPlacement placement{1, 1, 1, 1, 5, 7};
    EXPECT_EQ(imageToWindow(placement, 0, 0), (WindowPoint{5, 7}));
    OverlayQuad quad;
    resetOverlayQuad(quad, 1, 1);
    const auto segments =
        overlaySegments(quad, makeTargetLayout(0), ColorBadFlags{}, GrayBadFlags{}, placement);
    ASSERT_FALSE(segments.empty());
    for (const WindowSegment& s : segments) {
        if (s.part == OverlayPart::Handle) continue;
        EXPECT_EQ(s.from, (WindowPoint{5, 7}));
        EXPECT_EQ(s.to, (WindowPoint{5, 7}));
    }
    // A one-pixel-wide but taller image still maps its rows.
    const DisplayPlacement tall{1, 11, 1, 21, 0, 0};
    EXPECT_EQ(imageToWindow(tall, 0, 10), (WindowPoint{0, 0}));
    EXPECT_EQ(imageToWindow(tall, 0, 0), (WindowPoint{0, 20}));
}

TEST(Overlay, OverlayToWindowRoundsAfterEveryProduct) {
    const WindowQuad corners = {WindowPoint{0, 0}, WindowPoint{0, 10}, WindowPoint{3, 10}, WindowPoint{3, 0}};
    // 3 x 0.5 = 1.5 rounds to 2 on both edges.
    EXPECT_EQ(overlayToWindow(0.5, 0.5, corners), (WindowPoint{2, 5}));
    // Mirrored: -3 x 0.5 = -1.5 rounds to -2, so 3 - 2 = 1 (a single rounding
    // of 1.5 would give 2).
    const WindowQuad mirrored = {WindowPoint{3, 0}, WindowPoint{3, 10}, WindowPoint{0, 10}, WindowPoint{0, 0}};
    EXPECT_EQ(overlayToWindow(0.5, 0.5, mirrored), (WindowPoint{1, 5}));
    // Edges rounded separately, then the blend: ax = round(1.5) = 2,
    // bx = 10 + round(-1.5) = 8, x = 2 + round(6 x 0.25) = 4 (2 + 1.5 -> 4).
    const WindowQuad skew = {WindowPoint{0, 0}, WindowPoint{10, 7}, WindowPoint{7, 7}, WindowPoint{3, 0}};
    EXPECT_EQ(overlayToWindow(0.5, 0.25, skew), (WindowPoint{4, 2}));
}

// The whole drawing of a freshly reset IT8 overlay on a picture shown 1:1.
TEST(Overlay, It8DrawingParts) {
    const DisplayPlacement placement{400, 300, 400, 300, 0, 0};
    OverlayQuad quad;
    resetOverlayQuad(quad, 400, 300);
    const TargetLayout layout = makeTargetLayout(static_cast<int>(TargetType::It8));
    ColorBadFlags colorBad{};
    GrayBadFlags grayBad{};
    auto segments = overlaySegments(quad, layout, colorBad, grayBad, placement);
    EXPECT_EQ(countPart(segments, OverlayPart::Outline), 4);
    EXPECT_EQ(countPart(segments, OverlayPart::Handle), 16);
    EXPECT_EQ(countPart(segments, OverlayPart::CornerMark), 16);
    EXPECT_EQ(countPart(segments, OverlayPart::Marker), 4 * (228 + 24));
    EXPECT_EQ(countPart(segments, OverlayPart::Cross), 0);

    // Outline: corner 0 on the picture's bottom-left pixel, then top-left,
    // top-right, bottom-right and back.
    EXPECT_EQ(segments[0], (WindowSegment{{0, 299}, {0, 0}, OverlayPart::Outline}));
    EXPECT_EQ(segments[1], (WindowSegment{{0, 0}, {399, 0}, OverlayPart::Outline}));
    EXPECT_EQ(segments[2], (WindowSegment{{399, 0}, {399, 299}, OverlayPart::Outline}));
    EXPECT_EQ(segments[3], (WindowSegment{{399, 299}, {0, 299}, OverlayPart::Outline}));
    // First handle: the 5 x 5 square around corner 0.
    EXPECT_EQ(segments[4], (WindowSegment{{-2, 297}, {2, 297}, OverlayPart::Handle}));
    EXPECT_EQ(segments[6], (WindowSegment{{2, 301}, {-2, 301}, OverlayPart::Handle}));

    // The top-left corner mark spans 0.0224 x 0.0336 of the chart from its
    // top-left corner.
    EXPECT_EQ(segments[20].from, (WindowPoint{0, 0}));
    EXPECT_EQ(segments[20].to, (WindowPoint{static_cast<int>(std::round(0.0224 * 399)), 0}));

    // Crosses only where flagged; a cross joins opposite marker corners.
    colorBad[5] = 1;
    grayBad[23] = 1;
    segments = overlaySegments(quad, layout, colorBad, grayBad, placement);
    ASSERT_EQ(countPart(segments, OverlayPart::Cross), 4);
    const std::size_t firstMarker = 4 + 16 + 16;
    const std::size_t colorFive = firstMarker + 4 * 5;
    EXPECT_EQ(segments[colorFive + 4].part, OverlayPart::Cross);
    EXPECT_EQ(segments[colorFive + 4].from, segments[colorFive].from);
    EXPECT_EQ(segments[colorFive + 4].to, segments[colorFive + 2].from);
    EXPECT_EQ(segments.back().part, OverlayPart::Cross);  // the last gray cell, GS23

    EXPECT_TRUE(overlaySegments(quad, layout, colorBad, grayBad, DisplayPlacement{}).empty());
}

// A marker is the middle half of its cell; computed here directly with
// std::round (half away from zero) on the picture shown 1:1.
TEST(Overlay, MarkerIsTheMiddleHalfOfTheCell) {
    const int w = 617;
    const int h = 407;
    const DisplayPlacement placement{w, h, w, h, 0, 0};
    OverlayQuad quad;
    resetOverlayQuad(quad, w, h);
    const TargetLayout layout = makeTargetLayout(static_cast<int>(TargetType::ColorChecker));
    const auto segments = overlaySegments(quad, layout, ColorBadFlags{}, GrayBadFlags{}, placement);
    const std::size_t firstMarker = 4 + 16;
    for (std::size_t i = 0; i < layout.colorCells.size(); ++i) {
        const PatchCell& cell = layout.colorCells[i];
        const double left = cell.u + cell.width / 4;
        const double top = cell.t + cell.height / 4;  // from the chart's top
        const WindowPoint expected{static_cast<int>(std::round((w - 1) * left)),
                                   static_cast<int>((h - 1) + std::round(-(h - 1) * (1 - top)))};
        EXPECT_EQ(segments[firstMarker + 4 * i].from, expected) << cell.name;
        const WindowPoint opposite = segments[firstMarker + 4 * i + 2].from;
        EXPECT_NEAR(opposite.x - expected.x, (w - 1) * cell.width / 2, 1.0) << cell.name;
        EXPECT_NEAR(opposite.y - expected.y, (h - 1) * cell.height / 2, 1.0) << cell.name;
    }
}

TEST(Overlay, BorderPatchesAreNeverCrossed) {
    const DisplayPlacement placement{800, 600, 400, 300, 3, 4};
    OverlayQuad quad;
    resetOverlayQuad(quad, 800, 600);
    ColorBadFlags colorBad;
    GrayBadFlags grayBad;
    colorBad.fill(1);
    grayBad.fill(1);
    for (TargetType type : {TargetType::ColorCheckerDc, TargetType::ColorCheckerSg, TargetType::Hct}) {
        const TargetLayout layout = makeTargetLayout(static_cast<int>(type));
        const auto segments = overlaySegments(quad, layout, colorBad, grayBad, placement);
        const int measured = layout.colorCount + layout.grayCount;
        const int border = layout.whiteCount + layout.midGrayCount + layout.blackCount;
        EXPECT_EQ(countPart(segments, OverlayPart::Cross), 2 * measured);
        EXPECT_EQ(countPart(segments, OverlayPart::Marker), 4 * (measured + border));
        EXPECT_EQ(countPart(segments, OverlayPart::CornerMark), 0);
        EXPECT_EQ(segments.back().part, OverlayPart::Marker);
    }
    // The DC's double gray cell draws a marker twice the size of a single one.
    const TargetLayout dc = makeTargetLayout(static_cast<int>(TargetType::ColorCheckerDc));
    const auto segments = overlaySegments(quad, dc, ColorBadFlags{}, GrayBadFlags{}, placement);
    const std::size_t grayStart = 4 + 16 + 4 * 164;
    const int singleWidth = segments[grayStart + 1].from.x - segments[grayStart].from.x;
    const std::size_t last = grayStart + 4 * 12;
    const int doubleWidth = segments[last + 1].from.x - segments[last].from.x;
    EXPECT_NEAR(doubleWidth, 2.2 * singleWidth, 2.0);
}

TEST(Overlay, FarAwayCornersStayWithinRange) {
    const DisplayPlacement placement{100, 100, 100, 100, 0, 0};
    OverlayQuad quad;
    resetOverlayQuad(quad, 100, 100);
    quad.corners[2] = ImagePoint{1e12, 1e12};
    quad.corners[3] = ImagePoint{-1e300, 0};
    const auto segments =
        overlaySegments(quad, makeTargetLayout(static_cast<int>(TargetType::Hct)), ColorBadFlags{}, GrayBadFlags{},
                        placement);
    ASSERT_FALSE(segments.empty());
    for (const WindowSegment& s : segments) {
        for (const WindowPoint& p : {s.from, s.to}) {
            EXPECT_LE(std::abs(p.x), kMaxWindowCoordinate + 2);
            EXPECT_LE(std::abs(p.y), kMaxWindowCoordinate + 2);
        }
    }
}

}  // namespace
}  // namespace calivant
