#pragma once
// What the core needs from the world around it: message boxes, the busy
// cursor and the local clock. The Qt wizard and the command line each
// implement it; tests use RecordingPlatform. The core never prints.

#include <string>
#include <string_view>

#include "util/local_time.h"

namespace calivant {

class Platform {
public:
    virtual ~Platform() = default;

    // Modal message with the title "Error" and an OK button.
    virtual void showError(std::string_view message) = 0;
    // Modal message with the title "Warning" and an OK button.
    virtual void showWarning(std::string_view message) = 0;
    // Modal message with the title "Warning", OK and Cancel. Returns 1 when
    // the user chose Cancel, else 0.
    virtual int askWarning(std::string_view message) = 0;
    virtual void showBusyCursor() = 0;
    virtual void showArrowCursor() = 0;
    virtual LocalTime localTime() = 0;
};

}  // namespace calivant
