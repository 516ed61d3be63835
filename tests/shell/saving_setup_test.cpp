#include <gtest/gtest.h>

#include "shell/recording_platform.h"
#include "shell/saving.h"
#include "shell/scan_session.h"
#include "shell/setup_actions.h"
#include "support/temp_folder.h"

namespace calivant {
namespace {

using Kind = RecordingPlatform::Kind;
using testing::TempFolder;
using testing::writeFile;

TEST(Saving, ProposedNamesAndExtensions) {
    EXPECT_EQ(proposedProfileName("Scanner A/B: 1200 dpi"), "Scanner A_B_ 1200 dpi.icm");
    EXPECT_EQ(proposedLogName("Caf\xC3\xA9\\scan\t1"), "Caf__scan_1.txt");
    EXPECT_EQ(proposedProfileName(""), ".icm");
    EXPECT_EQ(proposedProfileName("50% \\n"), "50% _n.icm");  // escapes are not processed in the text
    EXPECT_TRUE(hasProfileExtension("/a/b.ICC"));
    EXPECT_TRUE(hasProfileExtension("b.IcM"));
    EXPECT_FALSE(hasProfileExtension("b.icc2"));
    EXPECT_FALSE(hasProfileExtension("icc"));
    EXPECT_TRUE(hasLogExtension("log.TXT"));
    EXPECT_FALSE(hasLogExtension("log"));
}

TEST(Saving, FailuresNameTheFile) {
    TempFolder folder;
    RecordingPlatform platform;
    ScanSession session{platform};
    const std::string missing = (folder / "no/such/folder/p.icm").string();
    EXPECT_EQ(saveFileWith(session, missing, [](std::ostream&) { return 0; }), 1);
    const std::string good = (folder / "p.icm").string();
    writeFile(good, "previous");
    EXPECT_EQ(saveFileWith(session, good, [](std::ostream&) { return 1; }), 1);
    EXPECT_EQ(testing::readFile(good), "previous");
    EXPECT_EQ(platform.messages(Kind::Error),
              (std::vector<std::string>{"Cannot create file: " + missing, "Cannot write file: " + good}));
}

class SetupTest : public ::testing::Test {
protected:
    SetupTest() { session.programFolder = std::string(CALIVANT_BINARY_DIR) + "/bin"; }
    RecordingPlatform platform;
    ScanSession session{platform};
    std::string referencePath;
};

TEST_F(SetupTest, TargetTypeListAndBuiltInReferences) {
    EXPECT_EQ(targetTypeListIndex(4, 0), 6);
    EXPECT_EQ(targetTypeListIndex(2, 0), 3);
    EXPECT_EQ(targetTypeListIndex(9, 1), -1);

    ASSERT_EQ(selectTargetType(session, 4, referencePath), 0);  // ColorChecker SG
    EXPECT_EQ(session.targetType, 3);
    EXPECT_EQ(session.referenceReady, 1);
    EXPECT_EQ(referencePath, session.programFolder + "/Reference Files/Macbeth/ColorChecker SG.ref");
    EXPECT_EQ(session.targetLayout.colorCount, session.reference.colorCount);

    ASSERT_EQ(selectTargetType(session, 6, referencePath), 0);  // HCT transparency
    EXPECT_EQ(session.targetType, 4);
    EXPECT_EQ(session.reflective, 0);
    EXPECT_EQ(session.referenceReady, 0);
    EXPECT_TRUE(referencePath.empty());
    EXPECT_TRUE(platform.events.empty());

    // A missing built-in file is named; the layout still follows the type.
    session.programFolder = "/nonexistent";
    EXPECT_EQ(selectTargetType(session, 2, referencePath), 1);
    EXPECT_EQ(session.targetLayout.targetType, 1);
    EXPECT_EQ(session.referenceReady, 0);
    EXPECT_EQ(platform.messages(Kind::Error),
              std::vector<std::string>{"Cannot open reference file: /nonexistent/Reference Files/Macbeth/ColorChecker.ref"});
}

TEST_F(SetupTest, ImageAndReferenceMessages) {
    TempFolder folder;
    const std::string missing = (folder / "missing.tif").string();
    const std::string notTiff = (folder / "text.tif").string();
    writeFile(notTiff, "not a tiff");
    // A 1 x 1 8-bit grayscale TIFF: read fine, but not an RGB image.
    const std::string gray = (folder / "gray.tif").string();
    const unsigned char grayTiff[] = {
        'I', 'I', 42, 0, 8, 0, 0, 0,  // header, first directory at 8
        7, 0,                         // 7 entries
        0, 1, 3, 0, 1, 0, 0, 0, 1, 0, 0, 0,    // width 1
        1, 1, 3, 0, 1, 0, 0, 0, 1, 0, 0, 0,    // height 1
        2, 1, 3, 0, 1, 0, 0, 0, 8, 0, 0, 0,    // 8 bits
        6, 1, 3, 0, 1, 0, 0, 0, 1, 0, 0, 0,    // black is zero
        17, 1, 4, 0, 1, 0, 0, 0, 98, 0, 0, 0,  // strip at 98
        22, 1, 3, 0, 1, 0, 0, 0, 1, 0, 0, 0,   // one row per strip
        23, 1, 4, 0, 1, 0, 0, 0, 1, 0, 0, 0,   // one byte
        0, 0, 0, 0,                            // no next directory
        200};
    writeFile(gray, std::string(reinterpret_cast<const char*>(grayTiff), sizeof grayTiff));

    EXPECT_EQ(loadTargetImage(session, missing), 1);
    EXPECT_EQ(loadTargetImage(session, notTiff), 1);
    EXPECT_EQ(loadTargetImage(session, gray), 1);
    EXPECT_EQ(session.imageReady, 0);
    EXPECT_EQ(loadReferenceFile(session, missing), 1);
    EXPECT_EQ(loadReferenceFile(session, notTiff), 1);
    EXPECT_EQ(platform.messages(Kind::Error),
              (std::vector<std::string>{"Cannot open target image file: " + missing,
                                        "Cannot read target file: " + notTiff + "\nnot a TIFF file",
                                        "Target file is not a 24-bit or 48-bit color image: " + gray,
                                        "Cannot open reference file: " + missing,
                                        "Illegal reference file: " + notTiff +
                                            "\nline 1: keyword not recognised for this target type: not"}));
    EXPECT_EQ(session.lastTargetFolder, "");
}

TEST_F(SetupTest, TextsAreCutWithoutSplittingACharacter) {
    setDescription(session, std::string(337, 'd') + "\xC3\xA9");
    EXPECT_EQ(session.description.size(), 337u);
    setCopyright(session, std::string(400, 'c'));
    EXPECT_EQ(session.copyright.size(), 338u);
}

}  // namespace
}  // namespace calivant
