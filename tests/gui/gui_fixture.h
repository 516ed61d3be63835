#pragma once
// A main window on the offscreen platform with every dialog answered by the
// test: file dialogs from a queue, message boxes recorded as "Title: text".

#include <gtest/gtest.h>

#include <QApplication>
#include <deque>
#include <memory>
#include <optional>

#include "gui_dialogs.h"
#include "main_window.h"
#include "qt_platform.h"
#include "shell/scan_session.h"
#include "support/temp_folder.h"

namespace calivant::gui::testing {

// One QApplication for the whole test program, on the offscreen platform.
void ensureApplication();

class ScriptedDialogs final : public GuiDialogs {
public:
    std::optional<std::string> openFileName(QWidget*, const FileDialogRequest& request) override {
        requests.push_back(request);
        if (fileAnswers.empty()) return std::nullopt;
        const std::optional<std::string> answer = fileAnswers.front();
        fileAnswers.pop_front();
        return answer;
    }
    std::optional<std::string> saveFileName(QWidget* owner, const FileDialogRequest& request) override {
        return openFileName(owner, request);
    }
    void message(QWidget*, MessageKind, const QString& title, const QString& text) override {
        messages.push_back(toStdString(title + QStringLiteral(": ") + text));
    }
    int askOkCancel(QWidget* owner, const QString& title, const QString& text) override {
        message(owner, MessageKind::Warning, title, text);
        return 0;
    }
    bool openDocument(const std::string& path) override {
        openedDocuments.push_back(path);
        return std::filesystem::exists(path);
    }

    std::deque<std::optional<std::string>> fileAnswers;  // in order; nullopt is Cancel
    std::vector<FileDialogRequest> requests;
    std::vector<std::string> messages;
    std::vector<std::string> openedDocuments;
};

class WizardTest : public ::testing::Test {
protected:
    WizardTest() {
        ensureApplication();
        session.programFolder = std::string(CALIVANT_BINARY_DIR) + "/bin";
        session.options.clutSize = 17;  // small tables keep the computation quick under the sanitizers
    }
    // Builds the window (after the test has changed the session) on first use.
    MainWindow& window() {
        if (!window_) {
            window_ = std::make_unique<MainWindow>(session, dialogs, settingsFile);
            platform.setOwner(window_.get());
            window_->resize(1400, 900);
            window_->show();
        }
        return *window_;
    }
    static std::string samplePath() { return std::string(CALIVANT_SOURCE_DIR) + "/samples/colorchecker-sg.tif"; }
    // Picks Macbeth Color Checker SG and loads the bundled sample as the user would.
    void loadSample() {
        window().onTargetTypeChanged(4);
        dialogs.fileAnswers.push_back(samplePath());
        window().chooseTargetImage();
    }

    calivant::testing::TempFolder folder;
    std::filesystem::path settingsFile = folder / "State";
    ScriptedDialogs dialogs;
    QtPlatform platform{dialogs};
    ScanSession session{platform};
    std::unique_ptr<MainWindow> window_;
};

}  // namespace calivant::gui::testing
