#pragma once
// A platform that records every message and cursor change instead of showing
// it, answers askWarning from a script and tells a fixed time. Used by the
// tests and by headless runs that want the messages as data.

#include <deque>
#include <string>
#include <vector>

#include "shell/platform.h"

namespace calivant {

class RecordingPlatform : public Platform {
public:
    enum class Kind { Error, Warning, AskWarning, BusyCursor, ArrowCursor };
    struct Event {
        Kind kind;
        std::string message;  // empty for cursor changes
        bool operator==(const Event&) const = default;
    };

    void showError(std::string_view message) override;
    void showWarning(std::string_view message) override;
    int askWarning(std::string_view message) override;
    void showBusyCursor() override;
    void showArrowCursor() override;
    LocalTime localTime() override { return clock; }

    // The messages of one kind, in order.
    std::vector<std::string> messages(Kind kind) const;

    std::vector<Event> events;
    // Answers for askWarning, taken from the front; 0 (OK) when empty.
    std::deque<int> askAnswers;
    LocalTime clock{2026, 1, 2, 3, 4, 5, 5, 0};
};

}  // namespace calivant
