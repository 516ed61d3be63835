#include "util/atomic_file.h"

#include <fstream>
#include <random>
#include <system_error>

namespace calivant {
namespace {

// The file a path finally names, following symbolic links (relative links
// resolve against their own folder).
std::filesystem::path resolveLinks(std::filesystem::path path) {
    std::error_code ec;
    for (int hops = 0; hops < 40 && std::filesystem::is_symlink(path, ec); ++hops) {
        std::filesystem::path next = std::filesystem::read_symlink(path, ec);
        if (ec) break;
        path = next.is_absolute() ? next : path.parent_path() / next;
    }
    return path;
}

}  // namespace

AtomicWriteResult writeFileAtomically(const std::filesystem::path& target,
                                      const std::function<int(std::ostream&)>& write, bool createFolders) {
    std::error_code ec;
    const std::filesystem::path file = resolveLinks(target);
    const std::filesystem::path folder = file.parent_path();
    if (createFolders && !folder.empty()) {
        std::filesystem::create_directories(folder, ec);
        if (ec) return AtomicWriteResult::CannotCreate;
    }

    std::random_device random;
    std::filesystem::path temporary;
    std::ofstream out;
    for (int attempt = 0; attempt < 8 && !out.is_open(); ++attempt) {
        temporary = file;
        temporary += ".tmp-" + std::to_string(random() & 0xFFFFFF);
        if (std::filesystem::exists(temporary, ec)) continue;
        out.open(temporary, std::ios::binary | std::ios::trunc);
    }
    if (!out.is_open()) return AtomicWriteResult::CannotCreate;

    auto discard = [&]() {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
    };
    const int written = write(out);
    out.flush();
    const bool streamOk = static_cast<bool>(out);
    out.close();
    if (written != 0 || !streamOk || out.fail()) {
        discard();
        return AtomicWriteResult::WriteFailed;
    }
    // Replacing a file keeps its permissions; a new file gets the defaults.
    const std::filesystem::file_status existing = std::filesystem::status(file, ec);
    if (!ec && std::filesystem::is_regular_file(existing))
        std::filesystem::permissions(temporary, existing.permissions(), ec);
    std::filesystem::rename(temporary, file, ec);
    if (ec) {
        discard();
        return AtomicWriteResult::CannotReplace;
    }
    return AtomicWriteResult::Ok;
}

AtomicWriteResult writeFileAtomically(const std::filesystem::path& target, const std::string& bytes,
                                      bool createFolders) {
    return writeFileAtomically(
        target,
        [&](std::ostream& out) {
            out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
            return out ? 0 : 1;
        },
        createFolders);
}

}  // namespace calivant
