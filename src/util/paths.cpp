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

bool nameSameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    if (std::filesystem::equivalent(a, b, ec) && !ec) return true;
    const std::filesystem::path ra = std::filesystem::weakly_canonical(std::filesystem::absolute(a, ec), ec);
    if (ec) return a == b;
    const std::filesystem::path rb = std::filesystem::weakly_canonical(std::filesystem::absolute(b, ec), ec);
    if (ec) return a == b;
    return ra == rb;
}

}  // namespace calivant
