#include "cli_platform.h"

namespace calivant::cli {

void CliPlatform::showError(std::string_view message) { err_ << "Error: " << message << '\n'; }

void CliPlatform::showWarning(std::string_view message) { err_ << "Warning: " << message << '\n'; }

int CliPlatform::askWarning(std::string_view message) {
    err_ << "Warning: " << message << '\n';
    if (!continue_) err_ << "Stopped (use --yes to continue past warnings).\n";
    return continue_ ? 0 : 1;
}

}  // namespace calivant::cli
