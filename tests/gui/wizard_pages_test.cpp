// The page switch with the computation, Enter and Escape, Help, saving the
// profile and the log, the results tabs, and the settings written on close.

#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "gui_fixture.h"
#include "image_window.h"
#include "results/results_plot.h"
#include "results_window.h"
#include "shell/recording_platform.h"
#include "shell/settings.h"
#include "support/temp_folder.h"

namespace calivant::gui::testing {
namespace {

using calivant::testing::readFile;

class WizardPagesTest : public WizardTest {};

TEST_F(WizardPagesTest, ComputationFailureReturnsToSetupAndSuccessShowsTheComputePage) {
    loadSample();
    MainWindow& w = window();
    ASSERT_TRUE(w.instructions()->next->isEnabled());

    // Enter with an empty description runs the computation, which refuses.
    QTest::keyClick(w.descriptionField(), Qt::Key_Return);
    EXPECT_EQ(w.currentPage(), 1);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0], (RecordedMessage{MessageKind::Error, "Error", "You must enter a profile description"}));
    EXPECT_EQ(w.pageTitle()->text(), QStringLiteral("Scanner Profiling -- Setup"));
    EXPECT_FALSE(w.imageWindow()->isHidden());

    // Escape on the setup page does nothing.
    QTest::keyClick(w.descriptionField(), Qt::Key_Escape);
    EXPECT_EQ(w.currentPage(), 1);

    w.descriptionField()->setText(QStringLiteral("Scanner A/B: 1200 dpi"));
    QTest::keyClick(w.descriptionField(), Qt::Key_Enter);
    ASSERT_EQ(w.currentPage(), 2) << messageTexts().back();
    EXPECT_EQ(w.pageTitle()->text(), QStringLiteral("Scanner Profiling -- Compute Profile"));
    EXPECT_TRUE(w.instructions()->text->toPlainText().startsWith(QStringLiteral("The scanner profile was built successfully.")));
    EXPECT_FALSE(w.saveProfileButton()->isHidden());
    EXPECT_FALSE(w.saveLogButton()->isHidden());
    EXPECT_FALSE(w.resultsWindow()->isHidden());
    EXPECT_TRUE(w.imageWindow()->isHidden());
    EXPECT_TRUE(w.descriptionField()->isHidden());
    EXPECT_TRUE(w.instructions()->prev->isEnabled());

    // Escape (Prev) goes back with everything as it was; Next again, then
    // Next on the compute page starts over on the setup page.
    const auto corners = session.overlay.corners;
    QTest::keyClick(w.saveProfileButton(), Qt::Key_Escape);
    EXPECT_EQ(w.currentPage(), 1);
    EXPECT_EQ(w.descriptionField()->text(), QStringLiteral("Scanner A/B: 1200 dpi"));
    EXPECT_EQ(session.overlay.corners, corners);
    EXPECT_EQ(session.imageReady, 1);
    w.instructions()->next->click();
    EXPECT_EQ(w.currentPage(), 2);
    w.instructions()->next->click();
    EXPECT_EQ(w.currentPage(), 1);
    EXPECT_TRUE(w.instructions()->next->isEnabled());
}

TEST_F(WizardPagesTest, EnterDoesNothingWhileNextIsDisabled) {
    MainWindow& w = window();
    ASSERT_FALSE(w.instructions()->next->isEnabled());
    QTest::keyClick(w.descriptionField(), Qt::Key_Return);
    EXPECT_EQ(w.currentPage(), 1);
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(WizardPagesTest, SavingTheProfileAndTheLogInsistsOnTheirExtensions) {
    loadSample();
    MainWindow& w = window();
    w.descriptionField()->setText(QStringLiteral("Scanner A/B: 1200 dpi"));
    w.nextPage();
    ASSERT_EQ(w.currentPage(), 2);

    const std::string profile = (folder / "mine.IcC").string();
    dialogs.fileAnswers = {(folder / "mine.icc2").string(), profile};
    EXPECT_EQ(w.saveProfile(), 0);
    ASSERT_EQ(dialogs.requests.size(), 3u);  // the image, then the profile twice
    EXPECT_EQ(dialogs.requests[1].title, QStringLiteral("Save Profile"));
    EXPECT_EQ(dialogs.requests[1].presetName, QStringLiteral("Scanner A_B_ 1200 dpi.icm"));
    EXPECT_TRUE(dialogs.requests[1].startFolder.endsWith(QStringLiteral("icc")));
    EXPECT_EQ(dialogs.requests[2].presetName, QStringLiteral("mine.icc2"));
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "Profiles must have an extension of .icm or .icc");
    const std::string bytes = readFile(profile);
    ASSERT_GT(bytes.size(), 128u);
    EXPECT_EQ(bytes.substr(36, 4), "acsp");

    // The log: no extension, then Cancel; then a good name.
    dialogs.messages.clear();
    dialogs.fileAnswers = {(folder / "log").string(), std::nullopt};
    EXPECT_EQ(w.saveProfileLog(), 1);
    EXPECT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "Log files must have an extension of .txt");
    EXPECT_EQ(dialogs.requests.back().title, QStringLiteral("Save Scanner Profile Log"));
    const std::string log = (folder / "run.TXT").string();
    dialogs.fileAnswers = {log};
    EXPECT_EQ(w.saveProfileLog(), 0);
    EXPECT_EQ(dialogs.requests.back().presetName, QStringLiteral("Scanner A_B_ 1200 dpi.txt"));
    EXPECT_EQ(session.lastLogFolder, folder.path().string());
    EXPECT_FALSE(readFile(log).empty());
    // The next log dialog starts in that folder.
    dialogs.fileAnswers = {std::nullopt};
    w.saveProfileLog();
    EXPECT_EQ(dialogs.requests.back().startFolder.toStdString(), folder.path().string());
}

void clickAt(QWidget* widget, QPoint p) {
    QMouseEvent press(QEvent::MouseButtonPress, p, widget->mapToGlobal(p), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, p, widget->mapToGlobal(p), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(widget, &release);
}

TEST_F(WizardPagesTest, ResultsTabsSwitchTheView) {
    loadSample();
    MainWindow& w = window();
    w.descriptionField()->setText(QStringLiteral("tabs"));
    w.nextPage();
    ASSERT_EQ(w.currentPage(), 2);
    ResultsCanvas* canvas = w.resultsWindow()->canvas();
    EXPECT_EQ(canvas->view(), GamutView);
    const int stripY = canvas->height() - 10;
    clickAt(canvas, {canvas->width() - 20, stripY});
    EXPECT_EQ(canvas->view(), CurvesView);
    clickAt(canvas, {canvas->width() - 20, stripY});
    EXPECT_EQ(canvas->view(), CurvesView);
    clickAt(canvas, {20, 30});  // on the plot: nothing
    EXPECT_EQ(canvas->view(), CurvesView);
    clickAt(canvas, {20, stripY});
    EXPECT_EQ(canvas->view(), GamutView);

    // The gamut view draws the sRGB triangle in gray over the background.
    const QImage frame = canvas->renderFrame();
    const int m = w.margin();
    const PlotPoint blue = gamutPixel(m, 0.15, 0.06);
    EXPECT_EQ(frame.pixel(blue.x, blue.y), qRgb(128, 128, 128));
    EXPECT_EQ(canvas->size(), QSize(440 + 2 * m, 460 + 2 * m));
}

TEST_F(WizardPagesTest, HelpWithoutTheManualSaysSo) {
    session.programFolder = folder.path().string();
    MainWindow& w = window();
    w.instructions()->help->click();
    ASSERT_EQ(dialogs.openedDocuments.size(), 1u);
    EXPECT_EQ(dialogs.openedDocuments[0], (folder / "Calivant - Scanner 1.0.pdf").string());
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0], (RecordedMessage{MessageKind::Error, "Error", "Error opening electronic manual"}));
}

TEST_F(WizardPagesTest, TheBuiltManualOpens) {
    MainWindow& w = window();
    w.openManual();
    EXPECT_TRUE(dialogs.messages.empty());
    ASSERT_EQ(dialogs.openedDocuments.size(), 1u);
    EXPECT_EQ(readFile(dialogs.openedDocuments[0]).substr(0, 5), "%PDF-");
}

TEST_F(WizardPagesTest, ClosingByExitOrCloseBoxSavesTheSettings) {
    MainWindow& w = window();
    w.onTargetTypeChanged(3);
    w.copyrightField()->setText(QStringLiteral("Ann 2026"));
    w.instructions()->exit->click();
    EXPECT_FALSE(w.isVisible());
    RecordingPlatform quiet;
    ScanSession loaded{quiet};
    ASSERT_EQ(loadSettings(loaded, settingsFile), 0);
    EXPECT_EQ(loaded.targetType, 2);
    EXPECT_EQ(loaded.copyright, "Ann 2026");

    // A second window closed by its close box.
    window_.reset();
    std::filesystem::remove(settingsFile);
    session.copyright = "Bob";
    MainWindow& again = window();
    again.close();
    ASSERT_EQ(loadSettings(loaded, settingsFile), 0);
    EXPECT_EQ(loaded.copyright, "Bob");
}

}  // namespace
}  // namespace calivant::gui::testing
