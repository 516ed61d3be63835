#include "gui_dialogs.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrl>

namespace calivant::gui {
namespace {

std::optional<std::string> runFileDialog(QWidget* owner, const FileDialogRequest& request, bool save) {
    QFileDialog dialog(owner, request.title, request.startFolder, request.filter);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    dialog.setOption(QFileDialog::ReadOnly, false);
    // No default suffix: the wizard checks the extension itself.
    dialog.setDefaultSuffix(QString());
    if (!request.presetName.isEmpty()) dialog.selectFile(request.presetName);
    dialog.setSizeGripEnabled(true);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) return std::nullopt;
    return toStdString(files.front());
}

}  // namespace

std::optional<std::string> QtDialogs::openFileName(QWidget* owner, const FileDialogRequest& request) {
    return runFileDialog(owner, request, false);
}

std::optional<std::string> QtDialogs::saveFileName(QWidget* owner, const FileDialogRequest& request) {
    return runFileDialog(owner, request, true);
}

void QtDialogs::message(QWidget* owner, MessageKind kind, const QString& title, const QString& text) {
    QMessageBox box(kind == MessageKind::Error ? QMessageBox::Critical : QMessageBox::Warning, title, text,
                    QMessageBox::Ok, owner);
    box.exec();
}

int QtDialogs::askOkCancel(QWidget* owner, const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok | QMessageBox::Cancel, owner);
    return box.exec() == QMessageBox::Cancel ? 1 : 0;
}

bool QtDialogs::openDocument(const std::string& path) {
    const QString file = toQString(path);
    if (!QFileInfo::exists(file)) return false;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(file));
}

}  // namespace calivant::gui
