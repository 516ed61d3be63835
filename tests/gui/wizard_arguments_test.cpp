// The wizard's command line, and the TIFF it names loaded at start.

#include <QLineEdit>
#include <QPushButton>

#include "gui_fixture.h"
#include "wizard_arguments.h"

namespace calivant::gui::testing {
namespace {

TEST(WizardArgumentsTest, HelpVersionFileAndUsageErrors) {
    const struct {
        std::vector<const char*> args;
        WizardAction action;
        std::string imagePath;
    } cases[] = {
        {{}, WizardAction::Run, ""},
        {{"scan.tif"}, WizardAction::Run, "scan.tif"},
        {{"--", "-odd name.tif"}, WizardAction::Run, "-odd name.tif"},
        {{"-platform", "offscreen", "--version"}, WizardAction::Version, ""},
        {{"scan.tif", "-h"}, WizardAction::Help, ""},
        {{"--", "--help"}, WizardAction::Run, "--help"},
        {{"--geometry"}, WizardAction::UsageError, ""},
        {{"a.tif", "b.tif"}, WizardAction::UsageError, ""},
    };
    for (const auto& c : cases) {
        std::vector<const char*> argv = {"calivant-scanner"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const WizardArguments parsed = parseWizardArguments(static_cast<int>(argv.size()), argv.data());
        EXPECT_EQ(parsed.action, c.action) << argv.size();
        EXPECT_EQ(parsed.imagePath, c.imagePath);
        EXPECT_EQ(parsed.error.empty(), c.action != WizardAction::UsageError);
    }
}

TEST_F(WizardTest, ImageOpenedAtStartIsReadyAndAFailureSaysWhatChooseSays) {
    session.targetType = 3;  // ColorChecker SG, its reference built in
    MainWindow& w = window();
    w.openTargetImage(samplePath());
    EXPECT_TRUE(w.instructions()->next->isEnabled());
    EXPECT_TRUE(w.rotateButton()->isEnabled());

    const std::string missing = (folder / "missing.tif").string();
    w.openTargetImage(missing);
    EXPECT_FALSE(w.instructions()->next->isEnabled());
    EXPECT_TRUE(w.imagePathField()->text().isEmpty());
    EXPECT_EQ(dialogs.messages, std::vector<std::string>{"Error: Cannot open target image file: " + missing +
                                                          "\nno such file or directory"});
}

}  // namespace
}  // namespace calivant::gui::testing
