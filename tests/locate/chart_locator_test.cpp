// The chart locator on synthetic scans whose true corners are known: placed
// charts of every layout, turned, mirrored, keystoned, blurred, noisy and
// unevenly lit on every kind of background; charts filling the picture; and
// pictures in which it must find nothing.
#include "locate/chart_locator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "make-target/placement.h"
#include "make-target/synthetic_target.h"
#include "locate/layout_grid.h"
#include "measure/patch_measurement.h"
#include "support/corner_error.h"

namespace calivant {
namespace {

// The largest difference of a patch mean, full scale 1, between measuring
// through the found and through the true corners.
double worstMeanDifference(const TargetImage& image, const TargetLayout& layout, const OverlayQuad& truth,
                           const OverlayQuad& found) {
    double worst = 0.0;
    for (const auto* cells : {&layout.grayCells, &layout.colorCells, &layout.whiteCells, &layout.midGrayCells,
                              &layout.blackCells})
        for (const PatchCell& c : *cells) {
            const PatchMeasurement a = measurePatch(image, truth, c.u, 1.0 - c.t, c.width, c.height);
            const PatchMeasurement b = measurePatch(image, found, c.u, 1.0 - c.t, c.width, c.height);
            worst = std::max({worst, std::abs(a.meanR - b.meanR), std::abs(a.meanG - b.meanG),
                              std::abs(a.meanB - b.meanB)});
        }
    return worst;
}

struct Placed {
    int targetType;
    bool reference;
    int width, height;
    double side;  // the chart's shorter side, as a share of the picture's
    double angle;
    bool mirror;
    double keystone;
    BackgroundKind background;
    double blur, noise, gradient;
};

TEST(ChartLocator, FindsEveryLayoutWhereverAndHoweverItLies) {
    using B = BackgroundKind;
    const Placed cases[] = {
        // Every turn of a chart symmetric under a half turn, and its mirror
        // images: only the reference can tell them.
        {3, true, 640, 480, 0.6, 0, false, 0, B::Flat, 0, 0, 0},
        {3, true, 640, 480, 0.6, 90, false, 0, B::Flat, 0, 0, 0},
        {3, true, 640, 480, 0.6, 180, true, 0, B::Flat, 0, 0, 0},
        {3, true, 640, 480, 0.6, 270, true, 0, B::Flat, 0, 0, 0},
        {2, true, 640, 480, 0.7, 180, false, 0.03, B::Noisy, 0.8, 0.01, 0.3},
        {2, true, 800, 600, 0.5, 33, true, -0.05, B::Striped, 1.0, 0.005, 0.2},
        // Without a reference the IT8 and HCT gray scales tell the turn.
        {0, false, 640, 480, 0.6, 90, false, 0, B::Striped, 0.5, 0.005, 0},
        {0, false, 640, 480, 0.6, 180, false, 0.05, B::Flat, 0, 0, 0.3},
        {0, true, 800, 600, 0.45, 301, true, 0.04, B::Noisy, 2.0, 0.01, 0.3},
        {4, false, 900, 700, 0.7, 270, false, 0, B::Noisy, 0.7, 0.01, 0.2},
        {4, true, 900, 700, 0.7, 17, true, -0.04, B::Flat, 0.5, 0.005, 0.3},
        {4, false, 1000, 800, 0.26, 0, false, 0.05, B::Striped, 0.3, 0.003, 0.1},
        // The ColorChecker at the smallest size allowed, blurred and noisy.
        {1, true, 640, 480, 0.25, 128, false, 0.05, B::Striped, 1.0, 0.015, 0.3},
        {1, true, 640, 480, 0.55, 270, true, 0, B::Noisy, 2.0, 0.01, 0},
    };
    for (const Placed& c : cases) {
        SCOPED_TRACE(::testing::Message() << "target " << c.targetType << (c.reference ? " with" : " without")
                                          << " reference, angle " << c.angle << (c.mirror ? " mirrored" : ""));
        SyntheticTargetOptions options;
        options.targetType = c.targetType;
        options.width = c.width;
        options.height = c.height;
        options.bitsPerSample = 16;
        options.noiseSigma = c.noise;
        options.gradient = c.gradient;
        ChartPlacement placement;
        const TargetLayout layout = makeTargetLayout(c.targetType);
        const double aspect = layout.colorCells[0].height / layout.colorCells[0].width;
        placement.chartHeight = c.side * std::min(c.width, c.height);
        placement.chartWidth = placement.chartHeight * aspect;
        placement.angle = c.angle;
        placement.mirror = c.mirror;
        placement.keystone = c.keystone;
        placement.background = c.background;
        placement.blur = c.blur;
        placement.gradientAngle = 3 * c.angle + 10;
        const ReferenceData reference = generatedReference(c.targetType);
        SyntheticTarget target;
        std::string error;
        ASSERT_EQ(renderPlacedTarget(options, placement, reference, target, &error), kSyntheticOk) << error;
        TargetImage image;
        ASSERT_EQ(pictureToTargetImage(target.picture, image), 0);

        const ChartLocation location = locateChart(image, layout, c.reference ? &reference : nullptr);
        ASSERT_TRUE(location.found) << location.reason;
        EXPECT_GE(location.confidence, kMinChartConfidence);
        EXPECT_EQ(location.orientedByReference, c.reference);
        EXPECT_LE(testing::worstCornerError(target.quad, location.quad, c.targetType), 0.1);
        // With keystone the overlay's bilinear cells lie a little off the
        // chart's, so their means move with the smallest corner shift.
        if (c.keystone == 0.0) {
            EXPECT_LE(worstMeanDifference(image, layout, target.quad, location.quad), 0.003);
        }
    }
}

TEST(ChartLocator, FindsAChartFillingThePictureAtItsCorners) {
    for (int type = 0; type < 5; ++type)
        for (int bits : {8, 16}) {
            SCOPED_TRACE(::testing::Message() << "target " << type << ", " << bits << " bits");
            SyntheticTargetOptions options;
            options.targetType = type;
            options.width = 640;
            options.height = 420;
            options.bitsPerSample = bits;
            const ReferenceData reference = generatedReference(type);
            SyntheticTarget target;
            ASSERT_EQ(renderSyntheticTarget(options, reference, target), kSyntheticOk);
            TargetImage image;
            ASSERT_EQ(pictureToTargetImage(target.picture, image), 0);
            const ChartLocation location = locateChart(image, target.layout, bits == 8 ? nullptr : &reference);
            ASSERT_TRUE(location.found) << location.reason;
            EXPECT_LE(testing::worstCornerError(target.quad, location.quad, type), 0.1);
        }
}

// Part of the chart cut off by the picture's edge: what is left fits
// placements shifted by a row or a column, which must not be taken, and a
// chart with a patch gone is not found.
TEST(ChartLocator, ChartCutOffByThePictureIsNeverPlacedWrong) {
    for (int type : {0, 4})
        for (double cut : {0.7, 1.2, 2.5})
            for (int side = 0; side < 4; ++side) {
                SCOPED_TRACE(::testing::Message() << "target " << type << " cut " << cut << " side " << side);
                const SiteGrid grid = siteGrid(makeTargetLayout(type));
                const double w = 640, h = 440, dx = cut * w * grid.pitchU, dy = cut * h * grid.pitchT;
                const double shift[4][2] = {{0, 60 + dy}, {0, -60 - dy}, {60 + dx, 0}, {-60 - dx, 0}};
                const double x0 = 60 + shift[side][0], y0 = 60 + shift[side][1];
                SyntheticTargetOptions options;
                options.targetType = type;
                options.width = 760;
                options.height = 560;
                options.chartQuad = OverlayQuad{
                    {ImagePoint{x0, y0}, ImagePoint{x0, y0 + h}, ImagePoint{x0 + w, y0 + h}, ImagePoint{x0 + w, y0}}};
                SyntheticTarget target;
                ASSERT_EQ(renderSyntheticTarget(options, generatedReference(type), target), kSyntheticOk);
                TargetImage image;
                ASSERT_EQ(pictureToTargetImage(target.picture, image), 0);
                const ChartLocation location = locateChart(image, target.layout, nullptr);
                // A measured patch whose centre lies well beyond the edge
                // cannot be measured; a scan cropped through the outer
                // patches (their centres near the edge) can.
                const SiteGrid g = siteGrid(target.layout);
                const double slack = 0.3 * std::min(w * g.pitchU, h * g.pitchT);
                bool patchGone = false;
                for (const auto* cells : {&target.layout.grayCells, &target.layout.colorCells, &target.layout.whiteCells})
                    for (const PatchCell& c : *cells) {
                        const ImagePoint p = mapTargetPoint(target.quad, c.u + 0.5 * c.width, 1.0 - c.t - 0.5 * c.height);
                        patchGone = patchGone || p.x < -slack || p.y < -slack || p.x > 759 + slack || p.y > 559 + slack;
                    }
                if (patchGone) {
                    EXPECT_FALSE(location.found);
                }
                if (location.found) {
                    EXPECT_LE(testing::worstCornerError(target.quad, location.quad, type), 0.1);
                }
            }
}

// A picture from a function of the pixel position, red, green, blue 0..1.
TargetImage pictureOf(int width, int height, const std::function<std::array<double, 3>(int, int)>& colour) {
    SyntheticPicture picture;
    picture.width = width;
    picture.height = height;
    picture.bitsPerSample = 16;
    for (int row = 0; row < height; ++row)
        for (int x = 0; x < width; ++x)
            for (double v : colour(x, row)) picture.samples.push_back(static_cast<std::uint16_t>(std::lround(v * 65535)));
    TargetImage image;
    EXPECT_EQ(pictureToTargetImage(picture, image), 0);
    return image;
}

TEST(ChartLocator, FindsNothingWhereThereIsNoChart) {
    std::uint32_t state = 12345;
    auto random = [&]() {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) / 16777216.0;
    };
    const TargetImage pictures[] = {
        pictureOf(400, 300, [&](int, int) { return std::array<double, 3>{random(), random(), random()}; }),
        pictureOf(400, 300, [](int, int) { return std::array<double, 3>{0.5, 0.5, 0.5}; }),
        pictureOf(400, 300, [](int x, int y) {
            const double v = ((x + 2 * y) / 12) % 2 ? 0.8 : 0.2;
            return std::array<double, 3>{v, v, v * 0.9};
        }),
    };
    for (const TargetImage& image : pictures)
        for (int type = 0; type < 5; ++type) {
            const ReferenceData reference = generatedReference(type);
            const TargetLayout layout = makeTargetLayout(type);
            EXPECT_FALSE(locateChart(image, layout, &reference).found) << "target " << type;
            const ChartLocation location = locateChart(image, layout, nullptr);
            EXPECT_FALSE(location.found) << "target " << type;
            EXPECT_LT(location.confidence, kMinChartConfidence);
            EXPECT_FALSE(location.reason.empty());
        }
}

// A chart of one type is never taken for another: the SG holds a 6 x 4 block
// whose bottom row is a falling gray scale, exactly a ColorChecker without
// its reference; the patch lattice going on beyond the frame gives it away.
TEST(ChartLocator, DoesNotTakeOneChartForAnother) {
    const int pairs[][2] = {{3, 1}, {4, 0}, {0, 4}, {2, 3}, {1, 3}};
    for (const auto& pair : pairs) {
        SyntheticTargetOptions options;
        options.targetType = pair[0];
        options.width = 800;
        options.height = 560;
        SyntheticTarget target;
        ASSERT_EQ(renderSyntheticTarget(options, generatedReference(pair[0]), target), kSyntheticOk);
        TargetImage image;
        ASSERT_EQ(pictureToTargetImage(target.picture, image), 0);
        const ReferenceData other = generatedReference(pair[1]);
        const TargetLayout layout = makeTargetLayout(pair[1]);
        EXPECT_FALSE(locateChart(image, layout, &other).found) << pair[0] << " as " << pair[1];
        EXPECT_FALSE(locateChart(image, layout, nullptr).found) << pair[0] << " as " << pair[1];
    }
}

TEST(ChartLocator, UnusablePicturesAreNotFoundWithAReason) {
    const TargetLayout layout = makeTargetLayout(1);
    TargetImage empty;
    EXPECT_EQ(locateChart(empty, layout, nullptr).reason, "the picture is not an RGB picture");
    TargetImage gray;
    ASSERT_EQ(allocateImage(gray, PixelFormat::Gray8, 64, 64, 300.0), 0);
    EXPECT_FALSE(locateChart(gray, layout, nullptr).found);
    const TargetImage tiny = pictureOf(12, 200, [](int, int) { return std::array<double, 3>{0.5, 0.5, 0.5}; });
    EXPECT_EQ(locateChart(tiny, layout, nullptr).reason, "the picture is too small");
    const TargetImage picture = pictureOf(64, 64, [](int, int) { return std::array<double, 3>{0.5, 0.5, 0.5}; });
    EXPECT_EQ(locateChart(picture, TargetLayout{}, nullptr).reason, "the target has no patch grid");
}

}  // namespace
}  // namespace calivant
