#include "shell/settings.h"

#include <gtest/gtest.h>

#include "shell/data_folder.h"
#include "shell/recording_platform.h"
#include "support/temp_folder.h"

namespace calivant {
namespace {

using calivant::testing::matchesGolden;
using calivant::testing::readFile;
using calivant::testing::TempFolder;
using calivant::testing::writeFile;

class SettingsTest : public ::testing::Test {
protected:
    SettingsTest() { session.programFolder = "/opt/cs"; }

    // Loads a settings file holding exactly the given lines.
    void loadFrom(const std::string& text) {
        writeFile(file, text);
        ASSERT_EQ(loadSettings(session, file), 0);
    }

    TempFolder folder;
    std::filesystem::path file = folder / "Tessaray/Calivant - Scanner/State";
    RecordingPlatform platform;
    ScanSession session{platform};
};

TEST_F(SettingsTest, FirstRunGivesTheDefaults) {
    session.targetType = 3;
    session.copyright = "old";
    session.options.clutSize = 65;
    EXPECT_EQ(loadSettings(session, file), 1);  // no file yet: nothing to report
    EXPECT_EQ(session.targetType, 0);
    EXPECT_EQ(session.reflective, 1);
    EXPECT_EQ(session.copyright, "");
    EXPECT_EQ(session.lastTargetFolder, "");
    EXPECT_EQ(session.lastLogFolder, "");
    EXPECT_EQ(session.lastReferenceFolder, "/opt/cs/Reference Files");
    EXPECT_EQ(session.options, AdvancedOptions{});
    EXPECT_EQ(session.options.colorSpace, CieLab);
    EXPECT_EQ(regressionWord(session.options), 2);
    EXPECT_EQ(session.options.clutSize, 33);
    EXPECT_EQ(session.options.stretchDmin, 100.0);
    EXPECT_TRUE(platform.events.empty());
}

TEST_F(SettingsTest, StoredValuesLoad) {
    loadFrom("targettype=4\nreflective=0\nfit=0 5\nclut_size=65\nsmooth_gray=3\n"
             "stretch_target=1 5.00 95.00\nlasttargetfolder=/scans\nlastlogfolder=/logs\n"
             "copyright=\xC2\xA9 Ann=Bo\nlastreferencefolder=/refs\nversion=9.9\n");
    EXPECT_EQ(session.targetType, 4);
    EXPECT_EQ(session.reflective, 0);  // HCT transparency
    EXPECT_EQ(session.options.colorSpace, CieXyz);
    EXPECT_EQ(session.options.regressionModel, Quadratic);
    EXPECT_EQ(session.options.eliminateResiduals, 1);
    EXPECT_EQ(session.options.clutSize, 65);
    EXPECT_EQ(session.options.smoothing, 3);
    EXPECT_EQ(session.options.stretch, 1);
    EXPECT_DOUBLE_EQ(session.options.stretchDmax, 5.0);
    EXPECT_DOUBLE_EQ(session.options.stretchDmin, 95.0);
    EXPECT_EQ(session.lastTargetFolder, "/scans");
    EXPECT_EQ(session.lastLogFolder, "/logs");
    EXPECT_EQ(session.copyright, "\xC2\xA9 Ann=Bo");  // split at the first '=' only
    EXPECT_EQ(session.lastReferenceFolder, "/refs");

    // The word is model + 4 * flag: 6 is cubic with residuals eliminated.
    loadFrom("fit=0 6\n");
    EXPECT_EQ(session.options.regressionModel, Cubic);
    EXPECT_EQ(session.options.eliminateResiduals, 1);
}

TEST_F(SettingsTest, ColorCheckersAreAlwaysReflective) {
    loadFrom("targettype=2\nreflective=0\n");
    EXPECT_EQ(session.targetType, 2);
    EXPECT_EQ(session.reflective, 1);
}

TEST_F(SettingsTest, OutOfRangeValuesFallBackToTheirDefaults) {
    loadFrom("targettype=7\nreflective=2\nfit=5 8\nclut_size=34\nsmooth_gray=-1\n"
             "stretch_target=2 30 70\n");
    EXPECT_EQ(session.targetType, 0);
    EXPECT_EQ(session.reflective, 1);
    EXPECT_EQ(session.options, AdvancedOptions{});

    loadFrom("fit=1 9\nstretch_target=1 -1 100.5\nclut_size=17\n");
    EXPECT_EQ(regressionWord(session.options), 2);
    EXPECT_EQ(session.options.stretch, 1);
    EXPECT_EQ(session.options.stretchDmax, 0.0);
    EXPECT_EQ(session.options.stretchDmin, 100.0);
    EXPECT_EQ(session.options.clutSize, 17);
}

TEST_F(SettingsTest, MissingFieldsKeepDefaultsAndOddNumbersParseLikeTheParsers) {
    loadFrom("stretch_target=1\nfit=0\nclut_size=33abc\nsmooth_gray=x\ntargettype=+3\n");
    EXPECT_EQ(session.options.stretch, 1);
    EXPECT_EQ(session.options.stretchDmax, 0.0);
    EXPECT_EQ(session.options.stretchDmin, 100.0);
    EXPECT_EQ(session.options.colorSpace, CieXyz);
    EXPECT_EQ(regressionWord(session.options), 2);
    EXPECT_EQ(session.options.clutSize, 33);  // the number before the stray text
    EXPECT_EQ(session.options.smoothing, 0);  // not a number reads as 0
    EXPECT_EQ(session.targetType, 3);

    loadFrom("stretch_target=1 12,5 8000%\n");  // commas skipped, percent divides
    EXPECT_DOUBLE_EQ(session.options.stretchDmax, 0.0);  // 125 is out of range
    EXPECT_DOUBLE_EQ(session.options.stretchDmin, 80.0);
}

TEST_F(SettingsTest, OverlongValuesAreNotTaken) {
    loadFrom("copyright=" + std::string(339, 'c') + "\nlasttargetfolder=/" + std::string(kMaxPathLength, 'p') +
             "\nclut_size=" + std::string(300, ' ') + "65\nlastlogfolder=/" + std::string(200, 'l') + "\n");
    EXPECT_EQ(session.copyright, "");
    EXPECT_EQ(session.lastTargetFolder, "");
    EXPECT_EQ(session.options.clutSize, 33);
    EXPECT_EQ(session.lastLogFolder.size(), 201u);

    loadFrom("copyright=" + std::string(338, 'c') + "\n");
    EXPECT_EQ(session.copyright.size(), 338u);
}

TEST_F(SettingsTest, WindowsLineEndsAndStrayLinesAreTolerated) {
    loadFrom("garbage without equals\r\n\r\ntargettype=1\r\n=\r\ncopyright=x\r\n");
    EXPECT_EQ(session.targetType, 1);
    EXPECT_EQ(session.copyright, "x");
    // A lone CR ends a line too, so a value never carries one.
    loadFrom("copyright=a\rb=c\r\r\ntargettype=2");
    EXPECT_EQ(session.copyright, "a");
    EXPECT_EQ(session.targetType, 2);
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
    ASSERT_EQ(saveOptionDefaults(options, file), 0);
    EXPECT_TRUE(matchesGolden(readFile(file), "settings/State.golden"));
}

TEST_F(SettingsTest, FactoryDefaultsTexts) {
    ASSERT_EQ(saveOptionDefaults(AdvancedOptions{}, file), 0);
    EXPECT_EQ(readFile(file), "fit=1 2\nclut_size=33\nsmooth_gray=0\nstretch_target=0 0.00 100.00\n");
}

TEST_F(SettingsTest, EachSaveKeepsTheOtherSavesValues) {
    AdvancedOptions saved;
    saved.colorSpace = CieXyz;
    saved.clutSize = 65;
    saved.smoothing = 2;
    ASSERT_EQ(saveOptionDefaults(saved, file), 0);

    session.targetType = 1;
    session.copyright = "c";
    ASSERT_EQ(saveSessionSettings(session, file), 0);
    // OK in the dialog changes the run's options, but only Save As Default
    // stores them: the next start brings back the saved defaults.
    session.options.clutSize = 17;
    ASSERT_EQ(saveSessionSettings(session, file), 0);

    RecordingPlatform other;
    ScanSession restarted{other};
    restarted.programFolder = "/opt/cs";
    ASSERT_EQ(loadSettings(restarted, file), 0);
    EXPECT_EQ(restarted.options, saved);
    EXPECT_EQ(restarted.targetType, 1);
    EXPECT_EQ(restarted.copyright, "c");
    EXPECT_EQ(restarted.description, "");

    // Unknown lines written by a later version survive a save.
    writeFile(file, readFile(file) + "future_value=42\n");
    ASSERT_EQ(saveOptionDefaults(AdvancedOptions{}, file), 0);
    EXPECT_NE(readFile(file).find("future_value=42\n"), std::string::npos);
}

TEST_F(SettingsTest, EveryValidOptionSetSurvivesARoundTrip) {
    const double dmaxes[] = {0.01, 25.0};
    const double dmins[] = {75.0, 99.99};
    int checked = 0;
    for (int colorSpace : {0, 1})
        for (int word : {0, 1, 2, 4, 5, 6})
            for (int clut : kClutSizes)
                for (int smoothing = 0; smoothing <= 3; ++smoothing)
                    for (int stretch : {0, 1})
                        for (double dmax : dmaxes)
                            for (double dmin : dmins) {
                                AdvancedOptions o;
                                o.colorSpace = colorSpace;
                                ASSERT_TRUE(setRegressionWord(o, word));
                                o.clutSize = clut;
                                o.smoothing = smoothing;
                                o.stretch = stretch;
                                o.stretchDmax = dmax;
                                o.stretchDmin = dmin;
                                ASSERT_EQ(saveOptionDefaults(o, file), 0);
                                ASSERT_EQ(loadSettings(session, file), 0);
                                ASSERT_EQ(session.options, o) << readFile(file);
                                ++checked;
                            }
    EXPECT_EQ(checked, 2 * 6 * 3 * 4 * 2 * 2 * 2);

    for (int type = 0; type < kTargetTypeCount; ++type)
        for (int reflective : {0, 1}) {
            session.targetType = type;
            session.reflective = reflective;
            session.lastTargetFolder = "/scans/\xC3\xA9t\xC3\xA9 " + std::to_string(type);
            ASSERT_EQ(saveSessionSettings(session, file), 0);
            ASSERT_EQ(loadSettings(session, file), 0);
            EXPECT_EQ(session.targetType, type);
            EXPECT_EQ(session.reflective, (type >= 1 && type <= 3) ? 1 : reflective);
            EXPECT_EQ(session.lastTargetFolder, "/scans/\xC3\xA9t\xC3\xA9 " + std::to_string(type));
        }
}

TEST_F(SettingsTest, ValuesNeverSpanLines) {
    session.copyright = "line one\r\nline two";
    ASSERT_EQ(saveSessionSettings(session, file), 0);
    ASSERT_EQ(loadSettings(session, file), 0);
    EXPECT_EQ(session.copyright, "line one  line two");
}

TEST_F(SettingsTest, FailedSaveLeavesTheOldFileAndNoLeftovers) {
    // A folder where the file should be: the rename fails, nothing is lost.
    std::filesystem::create_directories(file);
    EXPECT_EQ(saveSessionSettings(session, file), 1);
    EXPECT_TRUE(std::filesystem::is_directory(file));
    for (const auto& entry : std::filesystem::directory_iterator(file.parent_path()))
        EXPECT_EQ(entry.path().filename(), "State");
}

TEST(SettingsLocation, FollowsXdgConfigHome) {
    EXPECT_EQ(settingsFilePath("/xdg", "/home/ann"), "/xdg/Tessaray/Calivant - Scanner/State");
    EXPECT_EQ(settingsFilePath(nullptr, "/home/ann"), "/home/ann/.config/Tessaray/Calivant - Scanner/State");
    EXPECT_EQ(settingsFilePath("relative", "/home/ann"), "/home/ann/.config/Tessaray/Calivant - Scanner/State");
    EXPECT_EQ(settingsFilePath("", nullptr), std::filesystem::path{});
    EXPECT_EQ(userProfileFolder("/data", "/home/ann"), "/data/icc");
    EXPECT_EQ(userProfileFolder(nullptr, "/home/ann"), "/home/ann/.local/share/icc");
}

TEST(DataFolder, BuildTreeAndInstalledLayout) {
    TempFolder root;
    std::filesystem::create_directories(root / "bin");
    // Build tree: no share folder beside bin, the data sits with the executables.
    EXPECT_EQ(programDataFolder(root / "bin"), (root / "bin").string());
    std::filesystem::create_directories(root / "share/calivant-scanner");
    EXPECT_EQ(programDataFolder(root / "bin"), (root / "share/calivant-scanner").string());
    EXPECT_EQ(programDataFolder(root / "other"), (root / "other").string());
}

}  // namespace
}  // namespace calivant
