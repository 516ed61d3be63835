#include "shell/settings.h"

#include <gtest/gtest.h>

#include <sstream>

#include "shell/data_folder.h"
#include "shell/recording_platform.h"
#include "shell/setup_actions.h"
#include "support/temp_folder.h"

namespace calivant {
namespace {

using namespace calivant::testing;

class SettingsTest : public ::testing::Test {
protected:
    SettingsTest() { session.programFolder = "/opt/cs"; }

    std::string load(const std::string& text) {
        writeFile(file, text);
        EXPECT_EQ(loadSettings(session, file), 0);
        return state();
    }
    // Type, material, colour space, regression word, table size, smoothing,
    // stretch, DMAX, DMIN, illumination correction |copyright|target folder.
    std::string state() const {
        const AdvancedOptions& o = session.options;
        std::ostringstream s;
        s << session.targetType << ' ' << session.reflective << ' ' << o.colorSpace << ' ' << regressionWord(o) << ' '
          << o.clutSize << ' ' << o.smoothing << ' ' << o.stretch << ' ' << o.stretchDmax << ' ' << o.stretchDmin
          << ' ' << o.correctIllumination << " |" << session.copyright << '|' << session.lastTargetFolder;
        return s.str();
    }

    TempFolder folder;
    std::filesystem::path file = folder / "Tessaray/Calivant - Scanner/State";
    RecordingPlatform platform;
    ScanSession session{platform};
};

TEST_F(SettingsTest, LoadTakesValidValuesAndDefaultsTheRest) {
    const std::string path(kMaxPathLength, 'p');
    const std::pair<std::string, std::string> cases[] = {
        {"", "0 1 1 2 33 0 0 0 100 0 ||"},
        {"targettype=4\nreflective=0\nfit=0 5\nclut_size=65\nsmooth_gray=3\nstretch_target=1 5.00 95.00\n"
         "lasttargetfolder=/scans\ncopyright=\xC2\xA9 Ann=Bo\n",
         "4 0 0 5 65 3 1 5 95 0 |\xC2\xA9 Ann=Bo|/scans"},
        // ColorCheckers exist only as reflective charts.
        {"targettype=1\nreflective=0\n", "1 1 1 2 33 0 0 0 100 0 ||"},
        {"targettype=3\nreflective=0\nfit=1 6\n", "3 1 1 6 33 0 0 0 100 0 ||"},
        // The ends of every range, and just beyond them.
        {"stretch_target=1 25 75\nclut_size=17\n", "0 1 1 2 17 0 1 25 75 0 ||"},
        {"targettype=5\nreflective=2\nfit=2 8\nclut_size=34\nsmooth_gray=4\nstretch_target=2 25.01 74.99\n",
         "0 1 1 2 33 0 0 0 100 0 ||"},
        {"targettype=-1\nfit=-1 -1\nsmooth_gray=-1\nstretch_target=1 -0.01 100.01\n", "0 1 1 2 33 0 1 0 100 0 ||"},
        // Missing fields keep their defaults; numbers read as the parsers read them.
        {"fit=0\nstretch_target=1\nclut_size=65abc\nsmooth_gray=x\ntargettype=+3\n", "3 1 0 2 65 0 1 0 100 0 ||"},
        // Values too long to be ours are not taken.
        {"copyright=" + std::string(339, 'c') + "\nlasttargetfolder=/" + path + "\nclut_size=" +
             std::string(254, ' ') + "65\n",
         "0 1 1 2 33 0 0 0 100 0 ||"},
        {"copyright=" + std::string(338, 'c') + "\nlasttargetfolder=" + path + "\nclut_size=" +
             std::string(253, ' ') + "65\n",
         "0 1 1 2 65 0 0 0 100 0 |" + std::string(338, 'c') + '|' + path},
        // The illumination correction: a missing key is off, so is anything but 0 or 1.
        {"correct_illumination=1\n", "0 1 1 2 33 0 0 0 100 1 ||"},
        {"correct_illumination=2\n", "0 1 1 2 33 0 0 0 100 0 ||"},
        // Either line end; lines without a name are skipped.
        {"garbage\r\n\r\ntargettype=1\r\n=\r\ncopyright=x\r\n", "1 1 1 2 33 0 0 0 100 0 |x|"},
        {"copyright=a\rb=c\r\r\ntargettype=2", "2 1 1 2 33 0 0 0 100 0 |a|"},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(load(text), expected) << text;
    // A saved type and material pick the wizard's list entry.
    EXPECT_EQ(targetTypeListIndex(0, 1), 0);
    EXPECT_EQ(targetTypeListIndex(4, 0), 6);

    // Without a file every setting is reset.
    load("targettype=3\ncopyright=old\nlastlogfolder=/logs\nlastreferencefolder=/refs\nclut_size=65\n");
    EXPECT_EQ(loadSettings(session, folder / "missing"), 1);
    EXPECT_EQ(state(), "0 1 1 2 33 0 0 0 100 0 ||");
    EXPECT_EQ(session.lastLogFolder, "");
    EXPECT_EQ(session.lastReferenceFolder, "/opt/cs/Reference Files");
    EXPECT_EQ(loadOptionDefaults(folder / "missing"), AdvancedOptions{});
}

TEST_F(SettingsTest, GoldenFileFromBothSaves) {
    session.targetType = 4;
    session.reflective = 0;
    session.lastTargetFolder = "/home/ann/scans";
    session.lastReferenceFolder = "/opt/cs/Reference Files";
    session.copyright = "Copyright Ann 2026";
    session.description = "never saved";
    ASSERT_EQ(saveSessionSettings(session, file), 0);
    AdvancedOptions options;
    options.stretch = 1;
    options.stretchDmax = 2.5;
    options.stretchDmin = 97.125;
    options.eliminateResiduals = 1;
    options.correctIllumination = 1;
    ASSERT_EQ(saveOptionDefaults(options, file), 0);
    EXPECT_TRUE(matchesGolden(readFile(file), "settings/State.golden"));
}

TEST_F(SettingsTest, EachSaveKeepsTheOtherSavesValues) {
    AdvancedOptions saved;
    saved.colorSpace = CieXyz;
    saved.clutSize = 65;
    saved.smoothing = SmoothingModerate;
    ASSERT_EQ(saveOptionDefaults(saved, file), 0);
    writeFile(file, readFile(file) + "future_value=42\n");  // written by a later version
    session.targetType = 1;
    session.copyright = "line one\r\nline two";  // a value never spans lines
    // The run's options are stored only by Save As Default.
    session.options.clutSize = 17;
    ASSERT_EQ(saveSessionSettings(session, file), 0);
    EXPECT_EQ(load(readFile(file)), "1 1 0 2 65 2 0 0 100 0 |line one  line two|");
    EXPECT_NE(readFile(file).find("future_value=42\n"), std::string::npos);

    // A folder where the file should be: nothing is written, nothing is lost.
    std::filesystem::remove(file);
    std::filesystem::create_directories(file);
    EXPECT_EQ(saveOptionDefaults(saved, file), 1);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(file.parent_path()), {}), 1);
}

TEST(SettingsLocation, FollowsXdgFolders) {
    EXPECT_EQ(settingsFilePath("/xdg", "/home/ann"), "/xdg/Tessaray/Calivant - Scanner/State");
    EXPECT_EQ(settingsFilePath("relative", "/home/ann"), "/home/ann/.config/Tessaray/Calivant - Scanner/State");
    EXPECT_EQ(settingsFilePath(nullptr, ""), std::filesystem::path{});
    EXPECT_EQ(userProfileFolder("/data", "/home/ann"), "/data/icc");
    EXPECT_EQ(userProfileFolder("data", "/home/ann"), "/home/ann/.local/share/icc");

    // The build tree keeps the data beside the executables; an installed
    // program in share/calivant-scanner beside bin.
    TempFolder root;
    std::filesystem::create_directories(root / "bin");
    EXPECT_EQ(programDataFolder(root / "bin"), (root / "bin").string());
    std::filesystem::create_directories(root / "share/calivant-scanner");
    EXPECT_EQ(programDataFolder(root / "bin"), (root / "share/calivant-scanner").string());
    EXPECT_EQ(programDataFolder(root / "other"), (root / "other").string());
}

}  // namespace
}  // namespace calivant
