#pragma once
// The core's Platform on the desktop: its message boxes are owned by the main
// window and go through GuiDialogs; the busy cursor is the application's
// override cursor.

#include "gui_dialogs.h"
#include "shell/platform.h"

namespace calivant::gui {

class QtPlatform final : public Platform {
public:
    explicit QtPlatform(GuiDialogs& dialogs) : dialogs_(dialogs) {}

    // The window that owns the message boxes (none before it exists).
    void setOwner(QWidget* owner) { owner_ = owner; }

    void showError(std::string_view message) override;
    void showWarning(std::string_view message) override;
    int askWarning(std::string_view message) override;
    void showBusyCursor() override;
    void showArrowCursor() override;
    LocalTime localTime() override { return systemLocalTime(); }

private:
    template <typename Ask>
    auto modal(Ask ask);

    GuiDialogs& dialogs_;
    QWidget* owner_ = nullptr;
    bool busy_ = false;
};

}  // namespace calivant::gui
