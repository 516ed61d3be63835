#include "qt_platform.h"

#include <QCursor>
#include <QGuiApplication>
#include <QWidget>

namespace calivant::gui {

template <typename Ask>
auto QtPlatform::modal(Ask ask) {
    // A message box must not show the hourglass, and what it speaks of (the
    // patches a computation marked bad) is drawn behind it.
    const bool wasBusy = busy_;
    if (wasBusy) showArrowCursor();
    if (owner_) owner_->update();
    const auto answer = ask();
    if (wasBusy) showBusyCursor();
    return answer;
}

void QtPlatform::showError(std::string_view message) {
    modal([&] {
        dialogs_.message(owner_, MessageKind::Error, QStringLiteral("Error"), toQString(message));
        return 0;
    });
}

void QtPlatform::showWarning(std::string_view message) {
    modal([&] {
        dialogs_.message(owner_, MessageKind::Warning, QStringLiteral("Warning"), toQString(message));
        return 0;
    });
}

int QtPlatform::askWarning(std::string_view message) {
    return modal([&] { return dialogs_.askOkCancel(owner_, QStringLiteral("Warning"), toQString(message)); });
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
