// The page switch with the computation, saving the profile and the log, the
// results tabs, Help, the settings written on close, and the Advanced
// Options dialog.

#include <QButtonGroup>
#include <QCheckBox>

#include "advanced_options_dialog.h"
#include "gui_fixture.h"
#include "results/results_plot.h"
#include "results_window.h"
#include "shell/data_folder.h"
#include "shell/settings.h"

namespace calivant::gui::testing {
namespace {

using calivant::testing::readFile;

TEST_F(WizardTest, ComputingSavingTheResultsHelpAndExit) {
    MainWindow& w = window();
    QLineEdit* description = w.descriptionField();
    QTest::keyClick(description, Qt::Key_Return);  // Next is disabled: nothing
    loadSample();
    std::string behind;  // the setup page, never a success behind the error
    dialogs.onMessage = [&] {
        behind = toStdString(w.pageTitle()->text() + w.instructions()->text->toPlainText().left(8));
    };
    QTest::keyClick(description, Qt::Key_Return);  // computes and refuses: no description
    QTest::keyClick(description, Qt::Key_Escape);  // nothing on the setup page
    EXPECT_EQ(w.currentPage(), 1);
    EXPECT_EQ(behind, "Scanner Profiling -- SetupTo build");
    EXPECT_EQ(dialogs.messages, std::vector<std::string>{"Error: You must enter a profile description"});
    description->setText(QStringLiteral("Scanner A/B: 1200 dpi"));
    QTest::keyClick(description, Qt::Key_Enter);
    ASSERT_EQ(w.currentPage(), 2) << dialogs.messages.back();
    EXPECT_EQ(w.pageTitle()->text(), QStringLiteral("Scanner Profiling -- Compute Profile"));
    EXPECT_TRUE(w.imageWindow()->isHidden() && !w.resultsWindow()->isHidden() && !w.saveLogButton()->isHidden());
    QTest::keyClick(w.saveProfileButton(), Qt::Key_Escape);  // Prev: everything as it was
    EXPECT_EQ(w.currentPage(), 1);
    EXPECT_EQ(description->text(), QStringLiteral("Scanner A/B: 1200 dpi"));
    w.instructions()->next->click();
    ASSERT_EQ(w.currentPage(), 2);

    // Wrong extensions are refused and the names typed proposed again; the log
    // dialog starts in the folder of the last log. (Braced lists run in order.)
    dialogs.messages.clear();
    const std::string icc = userProfileFolder().string(), profile = icc + "/p.IcC", log = (folder / "l.TXT").string();
    dialogs.fileAnswers = {(folder / "p.icc2").string(), profile, (folder / "l").string(), std::nullopt, log};
    EXPECT_EQ((std::vector{w.saveProfile(), w.saveProfileLog(), w.saveProfileLog(), w.saveProfileLog()}),
              (std::vector{0, 1, 0, 1}));
    std::string asked;
    for (const FileDialogRequest& r : dialogs.requests)
        asked += toStdString(r.title + "|" + r.startFolder + "|" + r.presetName + "\n");
    EXPECT_EQ(asked, "Load Target Image TIFF File||\nSave Profile|" + icc + "|Scanner A_B_ 1200 dpi.icm\n"
                     "Save Profile|" + icc + "|p.icc2\nSave Scanner Profile Log||Scanner A_B_ 1200 dpi.txt\n"
                     "Save Scanner Profile Log||l\nSave Scanner Profile Log||Scanner A_B_ 1200 dpi.txt\n"
                     "Save Scanner Profile Log|" + folder.path().string() + "|Scanner A_B_ 1200 dpi.txt\n");
    EXPECT_EQ(dialogs.messages, (std::vector<std::string>{"Error: Profiles must have an extension of .icm or .icc",
                                                          "Error: Log files must have an extension of .txt"}));
    EXPECT_EQ(toStdString(w.instructions()->text->toPlainText().section("\n\n", 4)),  // where they went
              "The profile was saved as " + profile + ". It lies in " + icc +
                  ", where color-managed applications on this desktop find it.\n\nThe profile log was saved as " +
                  log + ".");
    EXPECT_EQ(readFile(profile).substr(36, 4), "acsp");
    EXPECT_NE(readFile(log).find("Scanner A/B: 1200 dpi"), std::string::npos);

    // A 500-character description is cut to what a profile holds, and said
    // so on the setup page; the proposed name fits the file system's 255
    // bytes and saves (the temporary and backup names beside it are cut to
    // fit too).
    const QString letters = QStringLiteral("Num\u00e9riseur 600 dpi");  // the letters stay in the name
    description->setText(letters + ' ' + QString(500 - 19, QChar('a')));
    EXPECT_EQ(session.description.size(), 338u);
    dialogs.requests.clear();
    dialogs.fileAnswers = {std::nullopt};
    w.saveProfile();
    const std::string proposed = toStdString(dialogs.requests.at(0).presetName);
    EXPECT_EQ(proposed, toStdString(letters) + " " + std::string(255 - 4 - 20, 'a') + ".icm");
    const std::string longest = (folder / proposed).string();
    dialogs.fileAnswers = {longest};
    EXPECT_EQ(w.saveProfile(), 0);
    EXPECT_EQ(readFile(longest).substr(36, 4), "acsp");
    EXPECT_FALSE(w.descriptionCutNote()->isVisible());  // on the compute page
    QTest::keyClick(w.saveProfileButton(), Qt::Key_Escape);
    EXPECT_EQ(w.descriptionCutNote()->text(), QStringLiteral("Cut to 338 characters, the most a profile holds"));
    EXPECT_TRUE(w.descriptionCutNote()->isVisible() && !w.copyrightCutNote()->isVisible());
    description->setText(letters);
    EXPECT_FALSE(w.descriptionCutNote()->isVisible());
    dialogs.requests.clear();
    dialogs.fileAnswers = {std::nullopt};
    w.saveProfileLog();
    EXPECT_EQ(dialogs.requests.at(0).presetName, letters + QStringLiteral(".txt"));
    w.instructions()->next->click();
    ASSERT_EQ(w.currentPage(), 2);

    // The gamut view draws the sRGB triangle in gray; the tabs below the
    // plot (three for the SG) switch the view.
    ResultsCanvas* canvas = w.resultsWindow()->canvas();
    const PlotPoint blue = gamutPixel(plotFrameFor(canvas->width(), canvas->height(), w.margin()), 0.15, 0.06);
    EXPECT_EQ(canvas->renderFrame().pixel(blue.x, blue.y), qRgb(128, 128, 128));
    const int tabs = canvas->height() - 10;
    for (const auto& [x, y, view] :
         {std::tuple{canvas->width() / 2, tabs, CurvesView}, {20, tabs, GamutView}, {20, 30, GamutView},
          {canvas->width() - 20, tabs, LightingView}}) {
        QTest::mouseClick(canvas, Qt::LeftButton, Qt::NoModifier, QPoint(x, y));
        EXPECT_EQ(canvas->view(), view) << x << " " << y;
    }
    w.instructions()->next->click();  // Next on the last page starts over
    EXPECT_EQ(w.currentPage(), 1);
    w.instructions()->next->click();  // a new profile shows its gamut first
    EXPECT_EQ(canvas->view(), GamutView);

    // Help without the manual says so; Exit saves the settings.
    dialogs.messages.clear();
    session.programFolder = folder.path().string();
    w.instructions()->help->click();
    const std::string manual = (folder / "Calivant - Scanner 1.0.pdf").string();  // named, to open by hand
    EXPECT_EQ(dialogs.openedDocuments, std::vector<std::string>{manual});
    EXPECT_EQ(dialogs.messages, std::vector<std::string>{"Error: Error opening electronic manual\n" + manual});
    w.onTargetTypeChanged(3);
    w.copyrightField()->setText(QStringLiteral("Ann 2026"));
    w.instructions()->exit->click();
    EXPECT_FALSE(w.isVisible());
    EXPECT_NE(readFile(settingsFile).find("targettype=2\nreflective=1\n"), std::string::npos);
    EXPECT_NE(readFile(settingsFile).find("copyright=Ann 2026\n"), std::string::npos);
}

// Lists, boxes, stretch, smoothing and the measured contrast as shown.
std::string shown(const AdvancedOptionsDialog& d) {
    return toStdString(QStringList{d.colorSpaceList()->currentText(), d.modelList()->currentText(),
                                   d.clutList()->currentText(), QString::number(d.eliminateBox()->isChecked()),
                                   QString::number(d.stretchBox()->isChecked()), d.dmaxField()->text(),
                                   d.dminField()->text(), QString::number(d.smoothingButtons()->checkedId()),
                                   d.measuredDmaxField()->text(), d.measuredDminField()->text()}.join('|'));
}

TEST_F(WizardTest, AdvancedOptionsOkSaveAsDefaultResetAndCancel) {
    session.options.smoothing = SmoothingModerate;
    std::unique_ptr<AdvancedOptionsDialog> dialog;
    auto open = [&] {
        dialog = std::make_unique<AdvancedOptionsDialog>(session, dialogs, settingsFile, &window());
        dialog->show();
    };
    open();
    EXPECT_EQ(shown(*dialog), "Use CIE Lab|Cubic|17x17x17 Color Lookup Table|0|0|0.00|100.00|2|N/A|N/A");
    dialog->dmaxField()->setText(QStringLiteral("abc"));  // refused: nothing changes, the dialog stays
    dialog->okButton()->click();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialogs.messages, std::vector<std::string>{"Error: Illegal target DMAX value"});
    dialog->modelList()->setCurrentIndex(Linear);
    dialog->eliminateBox()->setChecked(true);
    dialog->colorSpaceList()->setCurrentIndex(CieXyz);
    dialog->clutList()->setCurrentIndex(2);
    dialog->stretchBox()->setChecked(true);
    dialog->dmaxField()->setText(QStringLiteral("25"));
    dialog->dminField()->setText(QStringLiteral("75"));
    dialog->smoothingButtons()->button(SmoothingLight)->click();
    dialog->okButton()->click();
    const AdvancedOptions chosen{CieXyz, Linear, 1, 65, SmoothingLight, 1, 25.0, 75.0};
    EXPECT_EQ(session.options, chosen);
    EXPECT_FALSE(std::filesystem::exists(settingsFile));  // OK stores nothing
    open();
    dialog->modelList()->setCurrentIndex(Quadratic);
    dialog->saveDefaultButton()->click();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(loadOptionDefaults(settingsFile).regressionModel, Quadratic);
    dialog->resetButton()->click();
    EXPECT_EQ(shown(*dialog), "Use CIE Lab|Cubic|33x33x33 Color Lookup Table|0|0|0.00|100.00|0|N/A|N/A");
    EXPECT_EQ(loadOptionDefaults(settingsFile), AdvancedOptions{});
    dialog->smoothingButtons()->button(SmoothingHeavy)->click();
    dialog->cancelButton()->click();  // what was saved stays applied, nothing else
    EXPECT_EQ(session.options, AdvancedOptions{});

    loadSample();  // the contrast measured in the image
    open();
    EXPECT_LT(0.0, dialog->measuredDmaxField()->text().toDouble());
    EXPECT_LT(dialog->measuredDmaxField()->text().toDouble(), dialog->measuredDminField()->text().toDouble());
}

// The illumination box: disabled and unchecked for a chart without border
// patches (a saved "on" stays saved), there for the others; Reset clears it.
TEST_F(WizardTest, AdvancedOptionsIlluminationBox) {
    session.options.correctIllumination = 1;
    for (int type : {0, 1, 3}) {
        session.targetType = type;
        AdvancedOptionsDialog dialog(session, dialogs, settingsFile, &window());
        EXPECT_EQ(dialog.illuminationBox()->isEnabled(), type == 3) << type;
        EXPECT_EQ(dialog.illuminationBox()->isChecked(), type == 3) << type;
        dialog.okButton()->click();
        EXPECT_EQ(session.options.correctIllumination, 1) << type;
    }
    AdvancedOptionsDialog dialog(session, dialogs, settingsFile, &window());
    dialog.illuminationBox()->setChecked(false);
    dialog.saveDefaultButton()->click();
    EXPECT_EQ(loadOptionDefaults(settingsFile).correctIllumination, 0);
    dialog.illuminationBox()->setChecked(true);
    dialog.saveDefaultButton()->click();
    EXPECT_EQ(loadOptionDefaults(settingsFile).correctIllumination, 1);
    dialog.resetButton()->click();
    EXPECT_FALSE(dialog.illuminationBox()->isChecked());
    EXPECT_EQ(loadOptionDefaults(settingsFile).correctIllumination, 0);
}

}  // namespace
}  // namespace calivant::gui::testing
