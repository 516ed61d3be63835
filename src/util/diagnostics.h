#pragma once
// What an engine step has to tell the user, as data: each message with its
// severity, in the order the step came upon them. The engine never shows
// anything itself; the wizard turns these into message boxes, the command
// line into lines on standard error, a test compares them.

#include <string>
#include <string_view>
#include <vector>

namespace calivant {

enum class Severity {
    // The step could not do its work, or found a fault the user must see
    // before going on (shown in a box titled "Error").
    Error,
    // Worth knowing; the step went on (a box titled "Warning").
    Warning,
};

struct Diagnostic {
    Severity severity = Severity::Error;
    std::string message;
    bool operator==(const Diagnostic&) const = default;
};

using Diagnostics = std::vector<Diagnostic>;

inline void addError(Diagnostics& list, std::string_view message) {
    list.push_back({Severity::Error, std::string(message)});
}
inline void addWarning(Diagnostics& list, std::string_view message) {
    list.push_back({Severity::Warning, std::string(message)});
}

// True when the list holds an error.
inline bool hasError(const Diagnostics& list) {
    for (const Diagnostic& d : list)
        if (d.severity == Severity::Error) return true;
    return false;
}

}  // namespace calivant
