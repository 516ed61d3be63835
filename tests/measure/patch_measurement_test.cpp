#include "measure/patch_measurement.h"

#include <gtest/gtest.h>

#include "measure/quality_checks.h"
#include "support/synthetic_scan.h"

namespace calivant {
namespace {

TEST(SampleImage, InterpolationAndEdges) {
    TargetImage image;
    ASSERT_EQ(allocateImage(image, PixelFormat::Rgb24, 3, 2, 0.0), 0);
    const int rgb[2][3][3] = {{{10, 20, 30}, {20, 40, 60}, {200, 0, 255}}, {{0, 0, 0}, {0, 0, 0}, {100, 100, 100}}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            for (int c = 0; c < 3; ++c) image.rows[y][x * 3 + 2 - c] = static_cast<std::uint8_t>(rgb[y][x][c]);
    EXPECT_EQ(sampleImage(image, 1.0, 0.0), (std::array{20, 40, 60}));  // on a pixel
    EXPECT_EQ(sampleImage(image, 0.5, 0.0), (std::array{15, 30, 45}));  // fx 128, truncating
    // The last column and row: the step moves back one pixel and blends with weight 255.
    EXPECT_EQ(sampleImage(image, 2.0, 0.5), (std::array{150, 50, 178}));
    EXPECT_EQ(sampleImage(image, 1.5, 1.0), (std::array{50, 50, 50}));
    EXPECT_EQ(sampleImage(image, -5.0, 2.0), (std::array{0, 0, 0}));  // outside: read at the edge, never beyond
}

TEST(MeasureTarget, ChecksReportInTheirOrderAndOnlyAComputationMarksPatches) {
    SyntheticTargetOptions options;
    options.targetType = 3;  // ColorChecker SG: has border groups
    options.badPatch = makeTargetLayout(3).colorCells[40].name;
    options.gradient = 0.3;
    ReferenceData reference = generatedReference(3);
    std::swap(reference.grayXYZ[1], reference.grayXYZ[2]);  // painted out of order
    const testing::SyntheticScan scan = testing::renderScan(options, &reference);

    TargetMeasurement m = testing::measureScan(scan, AdvancedOptions{});
    EXPECT_EQ(m.status, 1);
    EXPECT_TRUE(m.grayOrderQuestion);
    EXPECT_EQ(m.diagnostics, (Diagnostics{{Severity::Error, std::string(kIlluminationMessage)},
                                          {Severity::Error, std::string(kNonUniformError)}}));
    EXPECT_EQ(m.colorBad[scan.target.badColorIndex], 1);

    m = testing::measureScan(scan, AdvancedOptions{}, MeasureMode::Preview);
    EXPECT_EQ(m.status, 1);
    EXPECT_FALSE(m.grayOrderQuestion);
    EXPECT_EQ(m.diagnostics, (Diagnostics{{Severity::Warning, std::string(kIlluminationMessage)},
                                          {Severity::Warning, std::string(kNonUniformWarning)},
                                          {Severity::Warning, std::string(kGrayOrderWarning)}}));
    EXPECT_EQ(m.colorBad[scan.target.badColorIndex], 0);
}

TEST(MeasureTarget, SixteenBitSamplesPatchesWithoutSamplesAndUnmeasurableInput) {
    SyntheticTargetOptions options;
    options.targetType = 1;
    options.bitsPerSample = 16;
    testing::SyntheticScan scan = testing::renderScan(options);
    TargetMeasurement m = testing::measureScan(scan, AdvancedOptions{});
    for (int i = 0; i < 18; ++i)  // the device values the chart was painted with, to a hundredth of a code
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(m.colorMeasured[i][c], scan.target.expected.color[i][c], 1.5e-7);
    // Only points with x and y above 0 count: a quad on the line x = 0 or y = 0 has none.
    for (int axis = 0; axis < 2; ++axis) {
        OverlayQuad edge = scan.overlay;
        for (ImagePoint& c : edge.corners) (axis ? c.y : c.x) = 0.0;
        EXPECT_EQ(measurePatch(scan.image, edge, 0.0, 1.0, 1.0, 1.0).deviation, -1.0) << axis;
    }
    // Corners turned far outside: no patch has a sample, and that is said
    // once (a warning in the preview), not as "non-uniform" patches.
    const OverlayQuad inside = scan.overlay;
    for (ImagePoint& c : scan.overlay.corners) c = {-5000.0 + c.y, 7000.0 - c.x};
    m = testing::measureScan(scan, AdvancedOptions{});
    EXPECT_FALSE(m.measured);
    EXPECT_EQ(m.diagnostics, (Diagnostics{{Severity::Error, std::string(kChartOutsideError)}}));
    m = testing::measureScan(scan, AdvancedOptions{}, MeasureMode::Preview);
    EXPECT_EQ(m.diagnostics, (Diagnostics{{Severity::Warning, std::string(kChartOutsideError)}}));
    // All corners on one point, or less than a pixel per cell.
    for (const double size : {0.0, 4.0}) {
        for (std::size_t k = 0; k < 4; ++k)
            scan.overlay.corners[k] = {100.0 + size * (k == 2 || k == 3), 100.0 + size * (k == 1 || k == 2)};
        m = testing::measureScan(scan, AdvancedOptions{}, MeasureMode::Report);
        EXPECT_EQ(m.diagnostics, (Diagnostics{{Severity::Error, std::string(kChartTooSmallError)}})) << size;
    }
    // Partly outside: only the patches with no sample are empty.
    scan.overlay = inside;
    for (ImagePoint& c : scan.overlay.corners) c.x += 300.0;
    m = testing::measureScan(scan, AdvancedOptions{});
    EXPECT_TRUE(m.measured);
    EXPECT_GE(m.colorDeviation[0], 0.0);
    EXPECT_EQ(m.colorDeviation[5], -1.0);
    // A reference that is not the layout's, or an image that is not RGB: nothing measured.
    scan.target.reference.colorCount = 17;
    EXPECT_FALSE(testing::measureScan(scan, AdvancedOptions{}).measured);
    scan.target.reference.colorCount = scan.target.layout.colorCount;
    ASSERT_EQ(allocateImage(scan.image, PixelFormat::Gray8, 600, 400, 0.0), 0);
    EXPECT_FALSE(testing::measureScan(scan, AdvancedOptions{}).measured);
}

TEST(QualityChecks, UniformityThresholdIsStrictAndGrayOrderOnePassPerChannel) {
    const TargetLayout layout = makeTargetLayout(1);
    TargetMeasurement m;
    Diagnostics diags;
    m.grayDeviation[5] = m.colorDeviation[17] = kUniformityThreshold;
    EXPECT_EQ(checkUniformity(m, layout, MeasureMode::Compute, diags), 0);
    m.grayDeviation[0] = m.colorDeviation[0] = 0.0500001;
    EXPECT_EQ(checkUniformity(m, layout, MeasureMode::Compute, diags), 1);
    EXPECT_EQ(m.grayBad[0] + m.colorBad[0], 2);

    // One pass per channel: 0.3 0.2 0.1 takes two passes to sort; equal values pass.
    for (int i = 0; i < 3; ++i) m.grayMeasured[i] = {std::array{0.3, 0.2, 0.1}[i], 0.1, 0.5};
    EXPECT_EQ(checkGrayOrder(m, 3), 1);
    EXPECT_EQ(m.grayMeasured[0], (DeviceRgb{0.2, 0.1, 0.5}));
    EXPECT_EQ(checkGrayOrder(m, 3), 1);
    EXPECT_EQ(checkGrayOrder(m, 3), 0);
}

TEST(StretchContrast, BlackBecomesANeutralAndAFlatTargetPassesUnchanged) {
    const TargetLayout layout = makeTargetLayout(1);
    TargetMeasurement m;
    for (int i = 0; i < 6; ++i) m.grayMeasured[i] = {0.1 * i, 0.1 * i, 0.05 * i};
    m.colorMeasured.fill({0.2, 0.9, 0.45});
    stretchContrast(m, layout, 5.0, 95.0);
    EXPECT_EQ(m.grayWorking[0], (DeviceRgb{0.05, 0.05, 0.05}));  // black: neutral at the dark level
    EXPECT_NEAR(m.colorWorking[7][0], 0.95 * 0.2 / 0.9, 1e-15);  // the lightest: at dmin, ratios kept
    m.grayMeasured.fill({0.1, 0.5, 0.2});
    m.colorMeasured.fill({0.5, 0.1, 0.2});
    stretchContrast(m, layout, 5.0, 95.0);
    EXPECT_EQ(m.colorWorking[3], (DeviceRgb{0.5, 0.1, 0.2}));
}

TEST(TargetContrast, MeanOfTheGrayEndsOrNotAvailable) {
    TargetMeasurement m;
    m.grayMeasured[0] = {0.1, 0.2, 0.3};
    m.grayMeasured[5] = {0.5, 0.6, 0.6766};
    EXPECT_EQ(formatContrastValue(contrastOfMeasurement(m, 0), true), "N/A");
    EXPECT_EQ(formatContrastValue(contrastOfMeasurement(m, 6), true), "20.00");
    EXPECT_EQ(formatContrastValue(contrastOfMeasurement(m, 6), false), "59.22");
}

}  // namespace
}  // namespace calivant
