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
    const std::string e = "\xC3\xA9";  // one two-byte character
    const struct {
        std::string description, name;
    } cases[] = {
        {"Scanner A/B: 1200 dpi", "Scanner A_B_ 1200 dpi.icm"},
        // Only separators, the colon and control characters go; UTF-8 stays.
        {"Num" + e + "riseur\\scan\t1\x7F~", "Num" + e + "riseur_scan_1_~.icm"},
        // Never a hidden file.
        {"../.a.b", "_.a.b.icm"},
        {"..", "_.icm"},
        // Cut to 255 bytes with the extension, never inside a character.
        {std::string(300, 'a'), std::string(251, 'a') + ".icm"},
        {std::string(250, 'a') + e + e, std::string(250, 'a') + ".icm"},
        {std::string(249, 'a') + e + e, std::string(249, 'a') + e + ".icm"},
    };
    for (const auto& c : cases) EXPECT_EQ(proposedProfileName(c.description), c.name) << c.description;
    EXPECT_EQ(proposedLogName("a:b"), "a_b.txt");
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
    // A save that works says so, and shows nothing.
    EXPECT_EQ(saveFileWith(session, good, [](std::ostream& out) { return out << "new" ? 0 : 1; }), 0);
    EXPECT_EQ(readFile(good), "new");
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
