// The Advanced Options dialog: its fields, the order of its checks, and what
// OK, Save As Default, Reset to Factory Defaults and Cancel change.

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include "advanced_options_dialog.h"
#include "gui_fixture.h"
#include "shell/recording_platform.h"
#include "shell/settings.h"

namespace calivant::gui::testing {
namespace {

using calivant::testing::readFile;

class AdvancedOptionsTest : public WizardTest {
protected:
    std::unique_ptr<AdvancedOptionsDialog> open() {
        auto dialog = std::make_unique<AdvancedOptionsDialog>(session, dialogs, settingsFile, &window());
        dialog->show();
        return dialog;
    }
};

TEST_F(AdvancedOptionsTest, ShowsTheOptionsAndNaWithoutAnImage) {
    session.options.smoothing = SmoothingModerate;
    auto dialog = open();
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Advanced Options"));
    EXPECT_EQ(dialog->colorSpaceList()->currentText(), QStringLiteral("Use CIE Lab"));
    EXPECT_EQ(dialog->modelList()->currentText(), QStringLiteral("Cubic"));
    EXPECT_EQ(dialog->clutList()->currentText(), QStringLiteral("17x17x17 Color Lookup Table"));
    EXPECT_EQ(dialog->dmaxField()->text(), QStringLiteral("0.00"));
    EXPECT_EQ(dialog->dminField()->text(), QStringLiteral("100.00"));
    EXPECT_EQ(dialog->measuredDmaxField()->text(), QStringLiteral("N/A"));
    EXPECT_EQ(dialog->measuredDminField()->text(), QStringLiteral("N/A"));
    EXPECT_EQ(dialog->smoothingButtons()->checkedId(), SmoothingModerate);
}

TEST_F(AdvancedOptionsTest, MeasuresTheLoadedTarget) {
    loadSample();
    auto dialog = open();
    EXPECT_NE(dialog->measuredDmaxField()->text(), QStringLiteral("N/A"));
    EXPECT_NE(dialog->measuredDminField()->text(), QStringLiteral("N/A"));
    bool ok = false;
    const double dmax = dialog->measuredDmaxField()->text().toDouble(&ok);
    EXPECT_TRUE(ok);
    EXPECT_LT(dmax, dialog->measuredDminField()->text().toDouble());
}

TEST_F(AdvancedOptionsTest, ValidationKeepsTheDialogOpenAndTheOptionsUnchanged) {
    auto dialog = open();
    const AdvancedOptions before = session.options;
    const std::pair<const char*, const char*> entries[] = {
        {"abc", "x"}, {"25.01", "x"}, {"25", "x"}, {"25", "74.9"}};
    for (const auto& [dmax, dmin] : entries) {
        dialog->dmaxField()->setText(QString::fromLatin1(dmax));
        dialog->dminField()->setText(QString::fromLatin1(dmin));
        dialog->modelList()->setCurrentIndex(Linear);
        dialog->okButton()->click();
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(dialog->dmaxField()->text(), QString::fromLatin1(dmax));
    }
    dialog->saveDefaultButton()->click();
    EXPECT_EQ(session.options, before);
    EXPECT_FALSE(std::filesystem::exists(settingsFile));
    std::vector<std::string> texts;
    for (const RecordedMessage& m : dialogs.messages) {
        EXPECT_EQ(m.title, "Error");
        texts.push_back(m.text);
    }
    EXPECT_EQ(texts, (std::vector<std::string>{"Illegal target DMAX value",
                                               "Target DMAX value out of range (0.0 .. 25.0)",
                                               "Illegal target DMIN value",
                                               "Target DMIN value out of range (75.0 .. 100.0)",
                                               "Target DMIN value out of range (75.0 .. 100.0)"}));
}

TEST_F(AdvancedOptionsTest, OkAppliesAndCancelUndoesNothingLater) {
    auto dialog = open();
    dialog->modelList()->setCurrentIndex(Cubic);
    dialog->eliminateBox()->setChecked(true);
    dialog->colorSpaceList()->setCurrentIndex(CieXyz);
    dialog->clutList()->setCurrentIndex(2);
    dialog->stretchBox()->setChecked(true);
    dialog->dmaxField()->setText(QStringLiteral("25"));
    dialog->dminField()->setText(QStringLiteral("75"));
    dialog->smoothingButtons()->button(SmoothingLight)->click();
    dialog->okButton()->click();
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(regressionWord(session.options), 6);
    EXPECT_EQ(session.options.colorSpace, CieXyz);
    EXPECT_EQ(session.options.clutSize, 65);
    EXPECT_EQ(session.options.stretch, 1);
    EXPECT_DOUBLE_EQ(session.options.stretchDmax, 25.0);
    EXPECT_DOUBLE_EQ(session.options.stretchDmin, 75.0);
    EXPECT_EQ(session.options.smoothing, SmoothingLight);
    EXPECT_FALSE(std::filesystem::exists(settingsFile));  // OK stores nothing

    // A new radio choice then Cancel: smoothing stays.
    auto second = open();
    second->smoothingButtons()->button(SmoothingHeavy)->click();
    second->cancelButton()->click();
    EXPECT_EQ(second->result(), QDialog::Rejected);
    EXPECT_EQ(session.options.smoothing, SmoothingLight);
}

TEST_F(AdvancedOptionsTest, SaveAsDefaultStoresAndStaysOpenResetRestoresTheFactory) {
    auto dialog = open();
    dialog->modelList()->setCurrentIndex(Quadratic);
    dialog->saveDefaultButton()->click();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(session.options.regressionModel, Quadratic);
    RecordingPlatform quiet;
    ScanSession saved{quiet};
    ASSERT_EQ(loadSettings(saved, settingsFile), 0);
    EXPECT_EQ(saved.options.regressionModel, Quadratic);
    EXPECT_EQ(saved.options.clutSize, 17);

    dialog->resetButton()->click();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->colorSpaceList()->currentText(), QStringLiteral("Use CIE Lab"));
    EXPECT_EQ(dialog->modelList()->currentText(), QStringLiteral("Cubic"));
    EXPECT_EQ(dialog->clutList()->currentIndex(), 1);
    EXPECT_FALSE(dialog->eliminateBox()->isChecked());
    EXPECT_FALSE(dialog->stretchBox()->isChecked());
    EXPECT_EQ(dialog->dmaxField()->text(), QStringLiteral("0.00"));
    EXPECT_EQ(dialog->dminField()->text(), QStringLiteral("100.00"));
    EXPECT_EQ(dialog->smoothingButtons()->checkedId(), SmoothingNone);
    ASSERT_EQ(loadSettings(saved, settingsFile), 0);
    EXPECT_EQ(saved.options, AdvancedOptions{});
    // Cancel after a save keeps what was saved and applied.
    dialog->cancelButton()->click();
    EXPECT_EQ(session.options, AdvancedOptions{});
}

}  // namespace
}  // namespace calivant::gui::testing
