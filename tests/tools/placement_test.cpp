// The placed synthetic scans are the ground truth of the chart locator's
// tests and benchmark: their true corners must be where the chart really is,
// and the corners file must speak the command line's convention.
#include "make-target/placement.h"

#include <gtest/gtest.h>

#include "measure/patch_measurement.h"

namespace calivant {
namespace {

TEST(Placement, TrueCornersMeasureTheRenderedValuesHoweverTheChartLies) {
    struct Case {
        double angle;
        bool mirror;
        double keystone;
        BackgroundKind background;
    };
    const Case cases[] = {{0, false, 0, BackgroundKind::Flat},
                          {90, true, 0.05, BackgroundKind::Striped},
                          {213, false, -0.05, BackgroundKind::Noisy}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "angle " << c.angle);
        SyntheticTargetOptions options;
        options.targetType = 3;
        options.width = 500;
        options.height = 400;
        ChartPlacement placement;
        placement.chartWidth = 280;
        placement.chartHeight = 200;
        placement.centerX = 240;
        placement.centerY = 210;
        placement.angle = c.angle;
        placement.mirror = c.mirror;
        placement.keystone = c.keystone;
        placement.background = c.background;
        SyntheticTarget target;
        std::string error;
        ASSERT_EQ(renderPlacedTarget(options, placement, generatedReference(3), target, &error), kSyntheticOk) << error;
        TargetImage image;
        ASSERT_EQ(pictureToTargetImage(target.picture, image), 0);
        for (std::size_t i = 0; i < target.layout.colorCells.size(); ++i) {
            const PatchCell& cell = target.layout.colorCells[i];
            const PatchMeasurement m = measurePatch(image, target.quad, cell.u, 1.0 - cell.t, cell.width, cell.height);
            ASSERT_NEAR(m.meanR, target.expected.color[i][0], 1e-9) << cell.name;
            ASSERT_NEAR(m.meanB, target.expected.color[i][2], 1e-9) << cell.name;
            ASSERT_LT(m.deviation, 1e-9) << cell.name;
        }
    }
}

TEST(Placement, CornersLineRunsClockwiseFromTopLeftWithYDown) {
    OverlayQuad quad;
    quad.corners = {ImagePoint{10, 20}, ImagePoint{10.5, 80}, ImagePoint{90, 80.25}, ImagePoint{90, 20}};
    EXPECT_EQ(cornersLine(quad, 101), "corners 10.500,20.000,90.000,19.750,90.000,80.000,10.000,80.000");
}

TEST(Placement, RefusesAChartReachingOutOfThePictureAndExcessiveDistortion) {
    SyntheticTargetOptions options;
    options.targetType = 1;
    options.width = 300;
    options.height = 200;
    ChartPlacement outside;
    outside.chartWidth = 200;
    outside.chartHeight = 150;
    outside.angle = 45;
    ChartPlacement keystone;
    keystone.keystone = 0.3;
    ChartPlacement blur;
    blur.blur = -1;
    const std::pair<ChartPlacement, const char*> cases[] = {
        {outside, "the chart reaches outside the picture"},
        {keystone, "keystone must lie in -0.2..0.2"},
        {blur, "blur must lie in 0..10"}};
    for (const auto& [placement, message] : cases) {
        SyntheticTarget target;
        std::string error;
        EXPECT_EQ(renderPlacedTarget(options, placement, generatedReference(1), target, &error), kSyntheticBadOptions);
        EXPECT_EQ(error, message);
    }
}

}  // namespace
}  // namespace calivant
