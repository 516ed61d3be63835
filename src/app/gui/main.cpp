// The desktop wizard: answers --help and --version without a display,
// checks the display, loads the settings, shows the main window maximized
// (with the picture named on the command line loaded) and runs until the user
// leaves.

#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>
#include <filesystem>
#include <iostream>
#include <new>

#include "gui_dialogs.h"
#include "main_window.h"
#include "qt_platform.h"
#include "shell/data_folder.h"
#include "shell/scan_session.h"
#include "shell/settings.h"
#include "util/utf8.h"
#include "wizard_arguments.h"
#include "wizard_texts.h"

namespace {

constexpr int kExitUsage = 2;

// Nothing thrown while an event is handled may end the wizard unreported:
// the user is told, and the wizard goes on with what it has.
class GuardedApplication : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::bad_alloc&) {
            report(QStringLiteral("Not enough memory"));
        } catch (const std::exception& e) {
            report(QString::fromStdString(calivant::printableText(e.what())));
        } catch (...) {
            report(QStringLiteral("Unexpected error"));
        }
        return false;
    }

private:
    static void report(const QString& text) {
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"), text, QMessageBox::Ok);
        box.exec();
    }
};

// Exit status of a usage error, after saying what was wrong.
int usageError(const std::string& error) {
    std::cerr << "calivant-scanner: " << error << "\nTry 'calivant-scanner --help' for more information.\n";
    return kExitUsage;
}

}  // namespace

int runWizard(int argc, char** argv) {
    using calivant::gui::WizardAction;
    const calivant::gui::WizardArguments early = calivant::gui::parseWizardArguments(argc, argv);
    if (early.action == WizardAction::Help) {
        calivant::gui::printWizardHelp(std::cout);
        return 0;
    }
    if (early.action == WizardAction::Version) {
        calivant::gui::printWizardVersion(std::cout);
        return 0;
    }

    GuardedApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Calivant - Scanner"));
    QApplication::setOrganizationName(QStringLiteral("Tessaray"));
    // Ties the windows to the menu entry and its icon (Wayland matches by it).
    QGuiApplication::setDesktopFileName(QStringLiteral(CALIVANT_APP_ID));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral(CALIVANT_APP_ID)));
    // Qt has taken its own options out of argv by now.
    const calivant::gui::WizardArguments arguments = calivant::gui::parseWizardArguments(argc, argv);
    if (arguments.action == WizardAction::UsageError) return usageError(arguments.error);

    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen || screen->depth() < 24) {
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"), calivant::gui::kDepthError, QMessageBox::Ok);
        box.exec();
        return 0;
    }

    calivant::gui::QtDialogs dialogs;
    calivant::gui::QtPlatform platform(dialogs);
    calivant::ScanSession session{platform};
    session.programFolder = calivant::programDataFolder(calivant::executableFolder());
    const std::filesystem::path settingsFile = calivant::settingsFilePath();
    calivant::loadSettings(session, settingsFile);

    calivant::gui::MainWindow window(session, dialogs, settingsFile);
    platform.setOwner(&window);
    window.showMaximized();
    if (!arguments.imagePath.empty()) {
        // Absolute like a path from the file dialog, so the folder the
        // settings remember does not depend on where the wizard was started.
        std::error_code ec;
        std::filesystem::path path = std::filesystem::absolute(arguments.imagePath, ec);
        if (ec) path = arguments.imagePath;
        // Once the window is on the screen, so a message box has its owner drawn.
        QTimer::singleShot(0, &window, [&window, image = path.string()] { window.openTargetImage(image); });
    }
    return app.exec();
}

int main(int argc, char** argv) {
    // What the event loop does not see (start-up, leaving) is caught here.
    try {
        return runWizard(argc, argv);
    } catch (const std::exception& e) {
        std::cerr << "calivant-scanner: " << calivant::printableText(e.what()) << '\n';
    } catch (...) {
        std::cerr << "calivant-scanner: unexpected error\n";
    }
    return 1;
}
