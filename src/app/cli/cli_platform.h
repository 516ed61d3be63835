#pragma once
// The command line's side of the platform interface: messages go to standard
// error with their exact texts, prefixed once with "error: " or "warning: ";
// the one question the computation asks (gray patches out of order) is
// answered by a flag; the clock is the system's, or SOURCE_DATE_EPOCH's.

#include <optional>
#include <ostream>

#include "shell/platform.h"

namespace calivant::cli {

class CliPlatform : public Platform {
public:
    // continueOnWarning answers askWarning with OK (true) or Cancel (false).
    CliPlatform(std::ostream& err, bool continueOnWarning, std::optional<LocalTime> fixedTime)
        : err_(err), continue_(continueOnWarning), fixedTime_(fixedTime) {}

    void showError(std::string_view message) override;
    void showWarning(std::string_view message) override;
    int askWarning(std::string_view message) override;
    void showBusyCursor() override {}
    void showArrowCursor() override {}
    LocalTime localTime() override { return fixedTime_ ? *fixedTime_ : systemLocalTime(); }

    void setContinueOnWarning(bool value) { continue_ = value; }
    bool anyError() const { return errors_ > 0; }

private:
    std::ostream& err_;
    bool continue_;
    std::optional<LocalTime> fixedTime_;
    int errors_ = 0;
};

// The UTC civil time of a count of seconds since 1970 (SOURCE_DATE_EPOCH).
LocalTime utcTimeOf(long long secondsSinceEpoch);

}  // namespace calivant::cli
