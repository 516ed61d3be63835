#include "shell/data_folder.h"

#include <cstdlib>
#include <system_error>

namespace calivant {

std::filesystem::path executableFolder() {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || self.empty()) return std::filesystem::current_path(ec);
    return self.parent_path();
}

std::string programDataFolder(const std::filesystem::path& folder) {
    const std::filesystem::path bin = CALIVANT_BIN_RELATIVE_DIR;
    const std::filesystem::path data = CALIVANT_DATA_RELATIVE_DIR;
    if (folder.filename() == bin.filename()) {
        std::filesystem::path installed = folder.parent_path() / data;
        std::error_code ec;
        if (std::filesystem::is_directory(installed, ec)) return installed.lexically_normal().string();
    }
    return folder.string();
}

std::filesystem::path userProfileFolder(const char* xdgDataHome, const char* home) {
    if (xdgDataHome && xdgDataHome[0] == '/') return std::filesystem::path(xdgDataHome) / "icc";
    if (home && home[0] != '\0') return std::filesystem::path(home) / ".local" / "share" / "icc";
    return {};
}

std::filesystem::path userProfileFolder() {
    return userProfileFolder(std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
}

}  // namespace calivant
