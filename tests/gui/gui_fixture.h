#pragma once
// A main window on the offscreen platform with every dialog answered by the
// test: file dialogs from a queue, message boxes recorded.

#include <gtest/gtest.h>

#include <QApplication>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "gui_dialogs.h"
#include "main_window.h"
#include "qt_platform.h"
#include "shell/scan_session.h"
#include "support/temp_folder.h"

namespace calivant::gui::testing {

// One QApplication for the whole test program, on the offscreen platform.
void ensureApplication();

struct RecordedMessage {
    MessageKind kind;
    std::string title;
    std::string text;
    bool operator==(const RecordedMessage&) const = default;
};

class ScriptedDialogs final : public GuiDialogs {
public:
    std::optional<std::string> openFileName(QWidget* owner, const FileDialogRequest& request) override;
    std::optional<std::string> saveFileName(QWidget* owner, const FileDialogRequest& request) override;
    void message(QWidget* owner, MessageKind kind, const QString& title, const QString& text) override;
    int askOkCancel(QWidget* owner, const QString& title, const QString& text) override;
    bool openDocument(const std::string& path) override;

    // Answers of the next file dialogs, in order; nullopt is Cancel.
    std::deque<std::optional<std::string>> fileAnswers;
    std::vector<FileDialogRequest> requests;
    std::vector<RecordedMessage> messages;
    std::vector<std::string> openedDocuments;
    int cancelAnswer = 0;
};

class WizardTest : public ::testing::Test {
protected:
    WizardTest();
    ~WizardTest() override;

    // Builds the window (after the test has changed session or settings).
    MainWindow& window();
    std::string samplePath() const;
    // Loads the bundled ColorChecker SG sample as the user would.
    void loadSample();
    std::vector<std::string> messageTexts() const;

    calivant::testing::TempFolder folder;
    std::filesystem::path settingsFile = folder / "State";
    ScriptedDialogs dialogs;
    QtPlatform platform{dialogs};
    ScanSession session{platform};
    std::unique_ptr<MainWindow> window_;
};

}  // namespace calivant::gui::testing
