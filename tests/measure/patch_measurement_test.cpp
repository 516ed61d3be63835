#include "measure/patch_measurement.h"

#include <gtest/gtest.h>

#include <cmath>

#include "measure/quality_checks.h"

namespace calivant {
namespace {

void setPixel(TargetImage& image, int x, int y, int r, int g, int b) {
    std::uint8_t* row = image.rows[static_cast<std::size_t>(y)];
    if (image.format == PixelFormat::Rgb48) {
        std::uint8_t* p = row + static_cast<std::size_t>(x) * 6;
        const int values[3] = {b, g, r};
        for (int c = 0; c < 3; ++c) {
            p[2 * c] = static_cast<std::uint8_t>(values[c] & 0xFF);
            p[2 * c + 1] = static_cast<std::uint8_t>(values[c] >> 8);
        }
    } else {
        std::uint8_t* p = row + static_cast<std::size_t>(x) * 3;
        p[0] = static_cast<std::uint8_t>(b);
        p[1] = static_cast<std::uint8_t>(g);
        p[2] = static_cast<std::uint8_t>(r);
    }
}

void fillImage(TargetImage& image, int r, int g, int b) {
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) setPixel(image, x, y, r, g, b);
}

// Paints the whole cell, as the reset overlay maps it onto the image.
void paintCell(TargetImage& image, const PatchCell& cell, int r, int g, int b) {
    const double sx = image.width - 1;
    const double sy = image.height - 1;
    const int x0 = static_cast<int>(std::floor(cell.u * sx));
    const int x1 = static_cast<int>(std::ceil((cell.u + cell.width) * sx));
    const int y0 = static_cast<int>(std::floor((1.0 - cell.t - cell.height) * sy));
    const int y1 = static_cast<int>(std::ceil((1.0 - cell.t) * sy));
    for (int y = std::max(y0, 0); y <= std::min(y1, image.height - 1); ++y)
        for (int x = std::max(x0, 0); x <= std::min(x1, image.width - 1); ++x) setPixel(image, x, y, r, g, b);
}

class MeasureTest : public ::testing::Test {
protected:
    // A target of the given type on a uniform image with the reset overlay
    // and a reference whose gray Y rises from dark to light.
    void prepare(int targetType, PixelFormat format, int width = 400, int height = 300) {
        layout = makeTargetLayout(targetType);
        ASSERT_EQ(allocateImage(image, format, width, height, 300.0), 0);
        fillImage(image, 100, 100, 100);
        resetOverlayQuad(quad, width, height);
        reference = ReferenceData{};
        reference.grayCount = layout.grayCount;
        reference.colorCount = layout.colorCount;
        for (int i = 0; i < layout.grayCount; ++i)
            reference.grayXYZ[i] = {1.0 + 3.0 * i, 1.0 + 3.0 * i, 1.0 + 3.0 * i};
    }
    // Paints the gray scale so that gray index i has value base + step * i.
    void paintGrayScale(int base, int step) {
        for (int pos = 0; pos < layout.grayCount; ++pos) {
            const int v = base + step * grayIndexOfPosition(layout, pos);
            paintCell(image, layout.grayCells[pos], v, v, v);
        }
    }
    TargetMeasurement measure(MeasureMode mode = MeasureMode::Compute) {
        return measureTarget(image, layout, quad, reference, options, mode);
    }

    TargetImage image;
    TargetLayout layout;
    OverlayQuad quad;
    ReferenceData reference;
    AdvancedOptions options;
};

TEST(SampleImage, InterpolationAndEdges) {
    TargetImage image;
    ASSERT_EQ(allocateImage(image, PixelFormat::Rgb24, 3, 2, 0.0), 0);
    fillImage(image, 0, 0, 0);
    setPixel(image, 0, 0, 10, 20, 30);
    setPixel(image, 1, 0, 20, 40, 60);
    setPixel(image, 2, 0, 200, 0, 255);
    setPixel(image, 2, 1, 100, 100, 100);
    // On a pixel: the pixel itself.
    EXPECT_EQ(sampleImage(image, 1.0, 0.0), (std::array<int, 3>{20, 40, 60}));
    // Half-way (fx = 128) between (0,0) and (1,0), truncating.
    EXPECT_EQ(sampleImage(image, 0.5, 0.0), (std::array<int, 3>{15, 30, 45}));
    // The last column: the step moves back one pixel and blends with weight 255.
    EXPECT_EQ(sampleImage(image, 2.0, 0.5), (std::array<int, 3>{150, 50, 178}));
    // The last row likewise.
    EXPECT_EQ(sampleImage(image, 1.5, 1.0), (std::array<int, 3>{50, 50, 50}));
    // A stray position outside the image is read at the edge, never beyond.
    EXPECT_EQ(sampleImage(image, -5.0, 99.0), (std::array<int, 3>{0, 0, 0}));
    EXPECT_EQ(blend255(10, 0, 128), 5);  // truncates toward zero
    EXPECT_EQ(blend255(0, 65535, 255), 65535);
}

TEST_F(MeasureTest, UniformImagesGiveExactMeansAndNoScatter) {
    for (PixelFormat format : {PixelFormat::Rgb24, PixelFormat::Rgb48}) {
        prepare(4, format);
        const bool eight = format == PixelFormat::Rgb24;
        fillImage(image, eight ? 255 : 65535, eight ? 51 : 13107, 0);
        const TargetMeasurement m = measure();
        ASSERT_EQ(m.status, 0);
        for (int i = 0; i < layout.colorCount; ++i) {
            EXPECT_EQ(m.colorMeasured[i][0], 1.0);
            EXPECT_NEAR(m.colorMeasured[i][1], 0.2, 1e-14);
            EXPECT_EQ(m.colorMeasured[i][2], 0.0);
            EXPECT_NEAR(m.colorDeviation[i], 0.0, 1e-12);
        }
        EXPECT_NEAR(m.whiteUniformity, 0.0, 1e-12);
        EXPECT_TRUE(m.diagnostics.empty());
    }
}

TEST_F(MeasureTest, PatchOutsideTheImageHasNoSamples) {
    prepare(1, PixelFormat::Rgb24);
    OverlayQuad away = quad;
    for (ImagePoint& c : away.corners) c.x += 10000.0;
    const PatchMeasurement p = measurePatch(image, away, 0.1, 0.9, 0.1, 0.1);
    EXPECT_EQ(p.meanR, 0.0);
    EXPECT_EQ(p.deviation, -1.0);
    // Corners turned far outside the image after a rotation: nothing is read
    // outside the raster, every patch is simply empty and never "non-uniform".
    for (ImagePoint& c : quad.corners) c = {-5000.0 + c.y, 7000.0 - c.x};
    const TargetMeasurement m = measure();
    EXPECT_EQ(m.status, 0);
    EXPECT_EQ(m.colorDeviation[0], -1.0);
}

TEST_F(MeasureTest, PointsOnTheFirstColumnDoNotCount) {
    prepare(1, PixelFormat::Rgb24, 101, 101);
    // The quad is the line x = 0: every point has px exactly 0.
    for (ImagePoint& c : quad.corners) c.x = 0.0;
    EXPECT_EQ(measurePatch(image, quad, 0.0, 1.0, 1.0, 1.0).deviation, -1.0);
}

TEST_F(MeasureTest, It8GrayScaleIsStoredDarkestFirst) {
    prepare(0, PixelFormat::Rgb48);
    // IT8 lists its gray cells lightest first, left to right.
    paintGrayScale(1000, 2000);
    const TargetMeasurement m = measure();
    ASSERT_EQ(m.status, 0);
    for (int i = 0; i < 24; ++i) EXPECT_NEAR(m.grayMeasured[i][0], (1000.0 + 2000.0 * i) / 65535.0, 1e-14);
    // The first cell sampled is at the left edge of the image and is the lightest.
    EXPECT_LT(layout.grayCells[0].u, 0.1);
    EXPECT_EQ(grayIndexOfPosition(layout, 0), 23);
    EXPECT_EQ(m.grayWorking, m.grayMeasured);
}

TEST_F(MeasureTest, ChecksReportInTheirOrder) {
    prepare(3, PixelFormat::Rgb24);  // ColorChecker SG: has border groups
    paintGrayScale(20, 15);
    for (const PatchCell& c : layout.whiteCells) paintCell(image, c, 240, 240, 240);
    paintCell(image, layout.whiteCells[0], 200, 200, 200);  // uneven lighting
    // Gray index 2 darker than index 1: out of order.
    paintCell(image, layout.grayCells[grayPositionOfIndex(layout, 2)], 25, 25, 25);
    // A non-uniform colour patch: left half black, right half white.
    PatchCell half = layout.colorCells[5];
    paintCell(image, half, 0, 0, 0);
    half.width /= 2;
    paintCell(image, half, 255, 255, 255);

    TargetMeasurement m = measure();
    EXPECT_EQ(m.status, 1);  // the uniformity failure stands
    EXPECT_TRUE(m.grayOrderQuestion);
    EXPECT_EQ(m.diagnostics, (Diagnostics{{Severity::Error, std::string(kIlluminationMessage)},
                                          {Severity::Error, std::string(kNonUniformError)}}));
    EXPECT_EQ(m.colorBad[5], 1);
    EXPECT_GT(m.whiteUniformity, kUniformityThreshold);
    // The swap stays in the measured and working values.
    EXPECT_LE(m.grayMeasured[1][0], m.grayMeasured[2][0]);

    m = measure(MeasureMode::Preview);
    EXPECT_EQ(m.status, 1);
    EXPECT_FALSE(m.grayOrderQuestion);
    EXPECT_EQ(m.diagnostics, (Diagnostics{{Severity::Warning, std::string(kIlluminationMessage)},
                                          {Severity::Warning, std::string(kNonUniformWarning)},
                                          {Severity::Warning, std::string(kGrayOrderWarning)}}));
    EXPECT_EQ(m.colorBad[5], 0);  // only a computation marks bad patches
}

TEST_F(MeasureTest, GrayOrderQuestionAloneDoesNotFail) {
    prepare(1, PixelFormat::Rgb24);
    paintGrayScale(40, 30);
    paintCell(image, layout.grayCells[grayPositionOfIndex(layout, 3)], 10, 10, 10);
    const TargetMeasurement m = measure();
    EXPECT_EQ(m.status, 0);
    EXPECT_TRUE(m.grayOrderQuestion);
    EXPECT_EQ(m.whiteUniformity, 0.0);  // no border groups on a ColorChecker
}

TEST_F(MeasureTest, UniformityThresholdIsStrict) {
    prepare(1, PixelFormat::Rgb24);
    TargetMeasurement m;
    Diagnostics diags;
    m.grayDeviation[0] = 0.05;
    m.colorDeviation[0] = -1.0;
    EXPECT_EQ(checkUniformity(m, layout, MeasureMode::Compute, diags), 0);
    m.grayDeviation[0] = 0.0500001;
    EXPECT_EQ(checkUniformity(m, layout, MeasureMode::Compute, diags), 1);
    EXPECT_EQ(m.grayBad[0], 1);
}

TEST_F(MeasureTest, GrayOrderIsOnePassPerChannel) {
    TargetMeasurement m;
    m.grayMeasured[0] = {0.3, 0.1, 0.5};
    m.grayMeasured[1] = {0.2, 0.1, 0.5};
    m.grayMeasured[2] = {0.1, 0.1, 0.5};
    EXPECT_EQ(checkGrayOrder(m, 3), 1);
    EXPECT_EQ(m.grayMeasured[0][0], 0.2);
    EXPECT_EQ(m.grayMeasured[1][0], 0.1);
    EXPECT_EQ(m.grayMeasured[2][0], 0.3);
    EXPECT_EQ(checkGrayOrder(m, 3), 1);
    EXPECT_EQ(m.grayMeasured[0][0], 0.1);
    EXPECT_EQ(m.grayMeasured[1][0], 0.2);
    EXPECT_EQ(checkGrayOrder(m, 3), 0);  // equal values pass
}

TEST_F(MeasureTest, ContrastStretchEndPoints) {
    prepare(1, PixelFormat::Rgb24);
    TargetMeasurement m;
    for (int i = 0; i < 6; ++i) m.grayMeasured[i] = {0.1 + 0.1 * i, 0.1 + 0.1 * i, 0.05 + 0.1 * i};
    for (int i = 0; i < 18; ++i) m.colorMeasured[i] = {0.3, 0.2, 0.1};
    m.colorMeasured[7] = {0.2, 0.9, 0.45};
    stretchContrast(m, layout, 0.0, 100.0);
    EXPECT_EQ(m.colorWorking[7][1], 1.0);
    EXPECT_NEAR(m.colorWorking[7][0], 0.2 / 0.9, 1e-15);  // ratios kept
    EXPECT_EQ(m.grayWorking[0], (DeviceRgb{0.0, 0.0, 0.0}));

    // Levels 5 and 95: the ends land on them.
    stretchContrast(m, layout, 5.0, 95.0);
    EXPECT_NEAR(m.colorWorking[7][1], 0.95, 1e-15);
    EXPECT_NEAR(m.grayWorking[0][0], 0.05, 1e-15);

    // A patch black in every channel becomes a neutral at the dark level.
    m.grayMeasured[0] = {0.0, 0.0, 0.0};
    stretchContrast(m, layout, 5.0, 95.0);
    EXPECT_EQ(m.grayWorking[0], (DeviceRgb{0.05, 0.05, 0.05}));

    // All patches equally bright: nothing to stretch, no division by zero.
    for (int i = 0; i < 6; ++i) m.grayMeasured[i] = {0.5, 0.25, 0.5};
    for (int i = 0; i < 18; ++i) m.colorMeasured[i] = {0.1, 0.5, 0.2};
    stretchContrast(m, layout, 5.0, 95.0);
    EXPECT_EQ(m.colorWorking[3], (DeviceRgb{0.1, 0.5, 0.2}));
    EXPECT_EQ(m.grayWorking[3], (DeviceRgb{0.5, 0.25, 0.5}));
}

TEST_F(MeasureTest, TargetContrastNeedsAMeasuredGrayScale) {
    prepare(1, PixelFormat::Rgb24);
    paintGrayScale(51, 20);
    reference.grayCount = 0;  // a reference that is not the layout's
    TargetMeasurement m = measure();
    EXPECT_FALSE(m.measured);
    EXPECT_EQ(m.status, 1);
    EXPECT_TRUE(m.diagnostics.empty());
    TargetContrast c = contrastOfMeasurement(m, 0);
    EXPECT_FALSE(c.available);
    EXPECT_EQ(formatContrastValue(c, true), "N/A");

    reference.grayCount = layout.grayCount;
    m = measure(MeasureMode::Preview);
    c = contrastOfMeasurement(m, layout.grayCount);
    ASSERT_TRUE(c.available);
    EXPECT_EQ(formatContrastValue(c, true), "20.00");
    EXPECT_EQ(formatContrastValue(c, false), "59.22");  // (51 + 100) / 255
}

}  // namespace
}  // namespace calivant
