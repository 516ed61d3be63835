#pragma once
// The command line: "build" makes a profile (and optionally its log) from a
// target scan, "measure" measures the target and runs the checks only.

#include <ostream>

namespace calivant::cli {

// Exit statuses: 0 success (and --help, --version), 1 failure of the work,
// 2 usage errors.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

int runCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace calivant::cli
