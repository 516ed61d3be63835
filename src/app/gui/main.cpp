// The desktop wizard: checks the display, loads the settings, shows the main
// window maximized and runs until the user leaves.

#include <QApplication>
#include <QMessageBox>
#include <QScreen>

#include "gui_dialogs.h"
#include "main_window.h"
#include "qt_platform.h"
#include "shell/data_folder.h"
#include "shell/scan_session.h"
#include "shell/settings.h"
#include "wizard_texts.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Calivant - Scanner"));
    QApplication::setOrganizationName(QStringLiteral("Tessaray"));

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
    return app.exec();
}
