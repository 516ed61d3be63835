#include "gui_fixture.h"

#include <QComboBox>

namespace calivant::gui::testing {

void ensureApplication() {
    if (QApplication::instance()) return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "calivant_tests_gui";
    static char* argv[] = {name, nullptr};
    // Lives until the process ends: widgets of every test need it.
    static QApplication* application = new QApplication(argc, argv);
    (void)application;
}

std::optional<std::string> ScriptedDialogs::openFileName(QWidget*, const FileDialogRequest& request) {
    requests.push_back(request);
    if (fileAnswers.empty()) return std::nullopt;
    auto answer = fileAnswers.front();
    fileAnswers.pop_front();
    return answer;
}

std::optional<std::string> ScriptedDialogs::saveFileName(QWidget* owner, const FileDialogRequest& request) {
    return openFileName(owner, request);
}

void ScriptedDialogs::message(QWidget*, MessageKind kind, const QString& title, const QString& text) {
    messages.push_back({kind, toStdString(title), toStdString(text)});
}

int ScriptedDialogs::askOkCancel(QWidget*, const QString& title, const QString& text) {
    messages.push_back({MessageKind::Warning, toStdString(title), toStdString(text)});
    return cancelAnswer;
}

bool ScriptedDialogs::openDocument(const std::string& path) {
    openedDocuments.push_back(path);
    return std::filesystem::exists(path);
}

WizardTest::WizardTest() {
    ensureApplication();
    session.programFolder = std::string(CALIVANT_BINARY_DIR) + "/bin";
    // Small tables keep the computation quick under the sanitizers.
    session.options.clutSize = 17;
}

WizardTest::~WizardTest() { window_.reset(); }

MainWindow& WizardTest::window() {
    if (!window_) {
        window_ = std::make_unique<MainWindow>(session, dialogs, settingsFile);
        platform.setOwner(window_.get());
        window_->resize(1400, 900);
        window_->show();
    }
    return *window_;
}

std::string WizardTest::samplePath() const { return std::string(CALIVANT_SOURCE_DIR) + "/samples/colorchecker-sg.tif"; }

void WizardTest::loadSample() {
    MainWindow& w = window();
    w.onTargetTypeChanged(4);  // Macbeth Color Checker SG
    w.typeList()->setCurrentIndex(4);
    dialogs.fileAnswers.push_back(samplePath());
    w.chooseTargetImage();
}

std::vector<std::string> WizardTest::messageTexts() const {
    std::vector<std::string> texts;
    for (const RecordedMessage& m : dialogs.messages) texts.push_back(m.title + ": " + m.text);
    return texts;
}

}  // namespace calivant::gui::testing

// Fontconfig keeps its configuration in memory it never frees; that is its
// own and not a leak of the wizard.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
