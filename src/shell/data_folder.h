#pragma once
// Where the program's shipped data lives (the "Reference Files" folder and
// the manual), found relative to the executable so that both the build tree
// and an installed copy work without configuration.

#include <filesystem>
#include <string>

namespace calivant {

// The folder of the running executable (from /proc/self/exe), or the current
// folder when that cannot be read.
std::filesystem::path executableFolder();

// <prefix>/share/calivant-scanner when the executable sits in <prefix>/bin
// and that folder exists; otherwise the executable's own folder (the build
// tree keeps the data beside the executables).
std::string programDataFolder(const std::filesystem::path& executableFolder);

// "$XDG_DATA_HOME/icc" (default ~/.local/share/icc): where Linux colour
// management looks for per-user profiles.
std::filesystem::path userProfileFolder(const char* xdgDataHome, const char* home);
std::filesystem::path userProfileFolder();

}  // namespace calivant
