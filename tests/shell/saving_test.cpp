#include "shell/saving.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "shell/recording_platform.h"
#include "shell/scan_session.h"
#include "support/temp_folder.h"

namespace calivant {
namespace {

using testing::readFile;

TEST(Saving, ProposedNames) {
    EXPECT_EQ(proposedProfileName("Scanner A/B: 1200 dpi"), "Scanner A_B_ 1200 dpi.icm");
    // One "_" per character beyond ASCII, per control byte and per backslash.
    EXPECT_EQ(proposedLogName("Caf\xC3\xA9\\scan\t1\x7F~"), "Caf__scan_1_~.txt");
    // Never a hidden file.
    EXPECT_EQ(proposedProfileName("../.a.b"), "_.a.b.icm");
    EXPECT_EQ(proposedProfileName(".."), "_.icm");
    EXPECT_TRUE(hasProfileExtension("b.IcM"));  // the others are tried by the wizard's and the CLI's tests
}

TEST(Saving, FailuresNameTheFileAndKeepTheOldOne) {
    testing::TempFolder folder;
    RecordingPlatform platform;
    ScanSession session{platform};
    const std::string missing = (folder / "no/such/folder/p.icm").string();
    EXPECT_EQ(saveFileWith(session, missing, [](std::ostream&) { return 0; }), 1);
    const std::string good = (folder / "p.icm").string();
    testing::writeFile(good, "previous");
    EXPECT_EQ(saveFileWith(session, good, [](std::ostream&) { return 1; }), 1);
    EXPECT_EQ(readFile(good), "previous");
    EXPECT_EQ(platform.messages(RecordingPlatform::Kind::Error),
              (std::vector<std::string>{"Cannot create file: " + missing, "Cannot write file: " + good}));
    EXPECT_EQ(fileWriteMessage(AtomicWriteResult::Busy, "p.icm"), "Cannot write file: p.icm\nanother run is writing it");
    EXPECT_EQ(fileWriteMessage(AtomicWriteResult::PermissionDenied, "p.icm"),
              "Cannot write file: p.icm\npermission denied");
}

// The wizard's save dialogs refuse the files the session read and the other
// file saved from the same computation, by any of their names.
TEST(Saving, NeverOverTheInputsOrTheOtherOutput) {
    testing::TempFolder folder;
    RecordingPlatform platform;
    ScanSession session{platform};
    session.imageFile = (folder / "scan.tif").string();
    session.referenceFile = (folder / "chart.it8").string();
    testing::writeFile(session.imageFile, "tiff");
    testing::writeFile(session.referenceFile, "it8");
    std::filesystem::create_hard_link(session.imageFile, folder / "hard.icc");
    std::filesystem::create_symlink("chart.it8", folder / "link.txt");
    const std::string log = (folder / "p.txt").string();
    const std::pair<std::string, std::string> cases[] = {
        {(folder / "hard.icc").string(), "it is the target image file"},
        {(folder / "link.txt").string(), "it is the reference file"},
        {log, "it is the other file just saved"},
        {(folder / "p.icc").string(), ""},
    };
    for (const auto& [path, what] : cases)
        EXPECT_EQ(outputClashMessage(session, path, log), what.empty() ? "" : "Cannot write file: " + path + "\n" + what);
}

}  // namespace
}  // namespace calivant
