// Measuring a synthetic scan written to a TIFF file and read back with our
// own reader recovers the device values it was rendered with.
#include <gtest/gtest.h>

#include "image/tiff_reader.h"
#include "make-target/synthetic_target.h"
#include "make-target/synthetic_tiff.h"
#include "measure/patch_measurement.h"
#include "shell/recording_platform.h"
#include "shell/scan_session.h"
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

        RecordingPlatform platform;
        ScanSession session{platform};
        session.targetType = c.targetType;
        ASSERT_EQ(readTiffImage(std::filesystem::path(path), session.image), 0);
        ASSERT_EQ(session.image.width, options.width);
        resetOverlay(session, session.image.width, session.image.height);
        session.reference = target.reference;
        session.imageReady = 1;
        session.referenceReady = 1;
        ASSERT_EQ(measureTarget(session, 1), 0);
        EXPECT_TRUE(platform.events.empty());

        const double quantum = c.bits == 8 ? 1.0 / 255.0 : 1.0 / 65535.0;
        const TargetLayout& layout = session.targetLayout;
        for (int i = 0; i < layout.grayCount; ++i)
            for (int ch = 0; ch < 3; ++ch)
                ASSERT_NEAR(session.grayMeasured[i][ch], target.expected.gray[i][ch], quantum * 0.01) << "gray " << i;
        for (int i = 0; i < layout.colorCount; ++i)
            for (int ch = 0; ch < 3; ++ch)
                ASSERT_NEAR(session.colorMeasured[i][ch], target.expected.color[i][ch], quantum * 0.01)
                    << layout.colorCells[i].name;
        for (int i = 0; i < layout.whiteCount; ++i)
            EXPECT_NEAR(session.whiteMeasured[i][0], target.expected.white[i][0], quantum * 0.01);
    }
}

TEST(SyntheticMeasure, BadPatchAndUnevenLightingAreFound) {
    SyntheticTargetOptions options;
    options.targetType = 3;
    options.badPatch = makeTargetLayout(3).colorCells[40].name;
    options.gradient = 0.3;
    SyntheticTarget target;
    ASSERT_EQ(renderSyntheticTarget(options, generatedReference(3), target), 0);
    ASSERT_GE(target.badColorIndex, 0);
    RecordingPlatform platform;
    ScanSession session{platform};
    ASSERT_EQ(loadSyntheticTarget(session, target), 0);
    platform.askAnswers = {0};
    EXPECT_EQ(measureTarget(session, 1), 1);
    EXPECT_EQ(session.colorBad[static_cast<std::size_t>(target.badColorIndex)], 1);
    const auto errors = platform.messages(RecordingPlatform::Kind::Error);
    ASSERT_GE(errors.size(), 2u);
    EXPECT_EQ(errors[0], "Nonuniform target illumination detected");
}

}  // namespace
}  // namespace calivant
