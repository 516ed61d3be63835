#pragma once
// The command line's side of the platform interface: messages go to standard
// error, warnings that ask are answered by the --yes policy, the clock is the
// system's.

#include <ostream>

#include "shell/platform.h"

namespace calivant::cli {

class CliPlatform : public Platform {
public:
    // continueOnWarning: the answer to questions a window would ask (OK when
    // true, Cancel when false).
    CliPlatform(std::ostream& err, bool continueOnWarning) : err_(err), continue_(continueOnWarning) {}

    void showError(std::string_view message) override;
    void showWarning(std::string_view message) override;
    int askWarning(std::string_view message) override;
    void showBusyCursor() override {}
    void showArrowCursor() override {}
    LocalTime localTime() override { return systemLocalTime(); }

private:
    std::ostream& err_;
    bool continue_;
};

}  // namespace calivant::cli
