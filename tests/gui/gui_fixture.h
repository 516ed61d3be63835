#pragma once
// The wizard's main window on the offscreen platform with every dialog answered
// by the test: file dialogs from a queue, message boxes recorded as "Title: text".

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <deque>
#include <functional>

#include "gui_dialogs.h"
#include "image_window.h"
#include "main_window.h"
#include "qt_platform.h"
#include "shell/scan_session.h"
#include "support/temp_folder.h"

namespace calivant::gui::testing {

class ScriptedDialogs final : public GuiDialogs {
public:
    std::optional<std::string> openFileName(QWidget*, const FileDialogRequest& request) override {
        requests.push_back(request);
        std::optional<std::string> answer;
        if (!fileAnswers.empty()) answer = fileAnswers.front(), fileAnswers.pop_front();
        return answer;
    }
    std::optional<std::string> saveFileName(QWidget* owner, const FileDialogRequest& request) override {
        return openFileName(owner, request);
    }
    void message(QWidget*, MessageKind, const QString& title, const QString& text) override {
        messages.push_back(toStdString(title + ": " + text));
        if (onMessage) onMessage();
    }
    int askOkCancel(QWidget* owner, const QString& title, const QString& text) override {
        message(owner, MessageKind::Warning, title, text);
        if (askAnswers.empty()) return 0;  // OK
        const int answer = askAnswers.front();
        askAnswers.pop_front();
        return answer;
    }
    bool openDocument(const std::string& path) override {
        openedDocuments.push_back(path);
        return std::filesystem::exists(path);
    }

    std::deque<std::optional<std::string>> fileAnswers;  // in order; nullopt is Cancel
    std::deque<int> askAnswers;                          // in order; 1 is Cancel, OK when empty
    std::vector<FileDialogRequest> requests;
    std::vector<std::string> messages;
    std::vector<std::string> openedDocuments;
    std::function<void()> onMessage;  // looks at the window behind a box
};

class WizardTest : public ::testing::Test {
protected:
    WizardTest() {
        if (!QApplication::instance()) {  // one for the whole program; it lives until the end
            static int argc = 1;
            static char name[] = "calivant_tests_gui", *argv[] = {name, nullptr};
            qputenv("QT_QPA_PLATFORM", "offscreen");
            new QApplication(argc, argv);
        }
        // Saving proposes $XDG_DATA_HOME/icc and creates it: not in the real home.
        qputenv("XDG_DATA_HOME", QByteArray::fromStdString((folder / "data").string()));
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
