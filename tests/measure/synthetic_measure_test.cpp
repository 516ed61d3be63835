// Measuring a synthetic scan written to a TIFF file and read back with our
// own reader recovers the device values it was rendered with.
#include <gtest/gtest.h>

#include "image/tiff_reader.h"
#include "make-target/synthetic_target.h"
#include "make-target/synthetic_tiff.h"
#include "measure/patch_measurement.h"
#include "measure/quality_checks.h"
#include "support/synthetic_scan.h"
#include "support/temp_folder.h"

namespace calivant {
namespace {

struct Case {
    int targetType;
    int bits;
    int orientation;
};

TEST(SyntheticMeasure, RecoversTheRenderedDeviceValuesOfEveryTarget) {
    const Case cases[] = {{0, 8, 1}, {1, 16, 3}, {2, 8, 6}, {3, 16, 8}, {4, 8, 1}, {4, 16, 5}};
    testing::TempFolder folder;
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "target " << c.targetType << ", " << c.bits << " bits, orientation "
                                          << c.orientation);
        SyntheticTargetOptions options;
        options.targetType = c.targetType;
        options.bitsPerSample = c.bits;
        options.width = 640;
        options.height = 420;
        SyntheticTarget target;
        ASSERT_EQ(renderSyntheticTarget(options, generatedReference(c.targetType), target), 0);
        TiffWriteOptions tiff;
        tiff.orientation = c.orientation;
        tiff.compression = kTiffCompressionLzw;
        tiff.predictor = c.bits == 16;
        const std::string path = (folder / "target.tif").string();
        ASSERT_EQ(writeSyntheticTiff(path, target.picture, tiff), 0);

        TargetImage image;
        ASSERT_EQ(readTiffImage(std::filesystem::path(path), image), 0);
        ASSERT_EQ(image.width, options.width);
        OverlayQuad quad;
        resetOverlayQuad(quad, image.width, image.height);
        const TargetMeasurement m =
            measureTarget(image, target.layout, quad, target.reference, AdvancedOptions{}, MeasureMode::Compute);
        ASSERT_EQ(m.status, 0);
        EXPECT_TRUE(m.diagnostics.empty());

        const double quantum = c.bits == 8 ? 1.0 / 255.0 : 1.0 / 65535.0;
        const TargetLayout& layout = target.layout;
        for (int i = 0; i < layout.grayCount; ++i)
            for (int ch = 0; ch < 3; ++ch)
                ASSERT_NEAR(m.grayMeasured[i][ch], target.expected.gray[i][ch], quantum * 0.01) << "gray " << i;
        for (int i = 0; i < layout.colorCount; ++i)
            for (int ch = 0; ch < 3; ++ch)
                ASSERT_NEAR(m.colorMeasured[i][ch], target.expected.color[i][ch], quantum * 0.01)
                    << layout.colorCells[i].name;
        for (int i = 0; i < layout.whiteCount; ++i)
            EXPECT_NEAR(m.whiteMeasured[i][0], target.expected.white[i][0], quantum * 0.01);
    }
}

TEST(SyntheticMeasure, BadPatchAndUnevenLightingAreFound) {
    SyntheticTargetOptions options;
    options.targetType = 3;
    options.badPatch = makeTargetLayout(3).colorCells[40].name;
    options.gradient = 0.3;
    const testing::SyntheticScan scan = testing::renderScan(options);
    ASSERT_GE(scan.target.badColorIndex, 0);
    const TargetMeasurement m = testing::measureScan(scan, AdvancedOptions{});
    EXPECT_EQ(m.status, 1);
    EXPECT_EQ(m.colorBad[static_cast<std::size_t>(scan.target.badColorIndex)], 1);
    ASSERT_GE(m.diagnostics.size(), 2u);
    EXPECT_EQ(m.diagnostics[0].message, kIlluminationMessage);
}

}  // namespace
}  // namespace calivant
