#include "shell/recording_platform.h"

namespace calivant {

void RecordingPlatform::showError(std::string_view message) {
    events.push_back({Kind::Error, std::string(message)});
}

void RecordingPlatform::showWarning(std::string_view message) {
    events.push_back({Kind::Warning, std::string(message)});
}

int RecordingPlatform::askWarning(std::string_view message) {
    events.push_back({Kind::AskWarning, std::string(message)});
    if (askAnswers.empty()) return 0;
    const int answer = askAnswers.front();
    askAnswers.pop_front();
    return answer;
}

void RecordingPlatform::showBusyCursor() { events.push_back({Kind::BusyCursor, {}}); }

void RecordingPlatform::showArrowCursor() { events.push_back({Kind::ArrowCursor, {}}); }

std::vector<std::string> RecordingPlatform::messages(Kind kind) const {
    std::vector<std::string> out;
    for (const Event& e : events)
        if (e.kind == kind) out.push_back(e.message);
    return out;
}

}  // namespace calivant
