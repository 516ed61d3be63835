#pragma once
// The wizard's way to the user's desktop: file dialogs, message boxes and
// the document viewer. The wizard never calls QFileDialog or QMessageBox
// itself, so tests can answer every question it asks.

#include <QString>
#include <optional>
#include <string>

class QWidget;

namespace calivant::gui {

struct FileDialogRequest {
    QString title;
    QString filter;       // "Name (*.a *.b)"
    QString startFolder;  // empty: the dialog's own default
    QString presetName;   // text in the file name box
};

enum class MessageKind { Error, Warning };

class GuiDialogs {
public:
    virtual ~GuiDialogs() = default;
    // The chosen path, or nothing when the user cancelled.
    virtual std::optional<std::string> openFileName(QWidget* owner, const FileDialogRequest& request) = 0;
    virtual std::optional<std::string> saveFileName(QWidget* owner, const FileDialogRequest& request) = 0;
    // Modal box with one OK button.
    virtual void message(QWidget* owner, MessageKind kind, const QString& title, const QString& text) = 0;
    // Modal box with OK and Cancel; 1 when the user chose Cancel, else 0.
    virtual int askOkCancel(QWidget* owner, const QString& title, const QString& text) = 0;
    // Opens a document with the desktop's default viewer; false when that failed.
    virtual bool openDocument(const std::string& path) = 0;
};

// The real dialogs.
class QtDialogs final : public GuiDialogs {
public:
    std::optional<std::string> openFileName(QWidget* owner, const FileDialogRequest& request) override;
    std::optional<std::string> saveFileName(QWidget* owner, const FileDialogRequest& request) override;
    void message(QWidget* owner, MessageKind kind, const QString& title, const QString& text) override;
    int askOkCancel(QWidget* owner, const QString& title, const QString& text) override;
    bool openDocument(const std::string& path) override;
};

inline QString toQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
inline std::string toStdString(const QString& text) { return text.toUtf8().toStdString(); }

}  // namespace calivant::gui
