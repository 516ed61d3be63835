#include "qt_platform.h"

#include <QCursor>
#include <QGuiApplication>

namespace calivant::gui {

void QtPlatform::showError(std::string_view message) {
    // A message box must not show the hourglass.
    const bool wasBusy = busy_;
    if (wasBusy) showArrowCursor();
    dialogs_.message(owner_, MessageKind::Error, QStringLiteral("Error"), toQString(message));
    if (wasBusy) showBusyCursor();
}

void QtPlatform::showWarning(std::string_view message) {
    const bool wasBusy = busy_;
    if (wasBusy) showArrowCursor();
    dialogs_.message(owner_, MessageKind::Warning, QStringLiteral("Warning"), toQString(message));
    if (wasBusy) showBusyCursor();
}

int QtPlatform::askWarning(std::string_view message) {
    const bool wasBusy = busy_;
    if (wasBusy) showArrowCursor();
    const int answer = dialogs_.askOkCancel(owner_, QStringLiteral("Warning"), toQString(message));
    if (wasBusy) showBusyCursor();
    return answer;
}

void QtPlatform::showBusyCursor() {
    if (busy_) return;
    busy_ = true;
    QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
}

void QtPlatform::showArrowCursor() {
    if (!busy_) return;
    busy_ = false;
    QGuiApplication::restoreOverrideCursor();
}

}  // namespace calivant::gui
