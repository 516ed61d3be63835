#include "util/paths.h"

#include <filesystem>
#include <system_error>

#include "util/ascii.h"

namespace calivant {

std::string joinPath(std::string_view folder, std::string_view name) {
    std::string out(folder);
    if (out.empty() || out.back() != kPathSeparator) out.push_back(kPathSeparator);
    out.append(name);
    return out;
}

std::string folderOf(std::string_view path) {
    const std::size_t cut = path.rfind(kPathSeparator);
    if (cut == std::string_view::npos) return ".";
    if (cut == 0) return std::string(1, kPathSeparator);
    return std::string(path.substr(0, cut));
}

std::string fileNameOf(std::string_view path) {
    const std::size_t cut = path.rfind(kPathSeparator);
    return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

bool hasExtension(std::string_view path, std::string_view extension) {
    if (path.size() < extension.size()) return false;
    return asciiEqualNoCase(path.substr(path.size() - extension.size()), extension);
}

namespace {

// The path a name finally leads to: symbolic links followed even when the
// file they name does not exist yet, then dots and folder links resolved.
std::filesystem::path finalPath(const std::string& name) {
    std::error_code ec;
    std::filesystem::path path = std::filesystem::absolute(name, ec);
    if (ec) return name;
    for (int hops = 0; hops < 40 && std::filesystem::is_symlink(path, ec); ++hops) {
        const std::filesystem::path next = std::filesystem::read_symlink(path, ec);
        if (ec) break;
        path = next.is_absolute() ? next : path.parent_path() / next;
    }
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(path, ec);
    return ec ? path.lexically_normal() : resolved;
}

}  // namespace

bool nameSameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    if (std::filesystem::equivalent(a, b, ec) && !ec) return true;
    return finalPath(a) == finalPath(b);
}

}  // namespace calivant
