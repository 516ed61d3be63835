#include "util/atomic_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <sstream>
#include <system_error>
#include <vector>

namespace calivant {
namespace {

constexpr unsigned kNewFileMode = 0644;
constexpr int kNameAttempts = 8;

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

std::string randomSuffix() {
    static std::random_device random;
    return std::to_string(random() & 0xFFFFFF);
}

// One file of a transaction on its way into place.
struct Pending {
    std::string target;     // after following links
    std::string temporary;  // the new content, complete once written
    std::string backup;     // a second name of the old file, empty when there is none
    bool existed = false;
    bool replaced = false;
};

class Transaction {
public:
    explicit Transaction(FileLayer& layer) : layer_(layer) {}
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    ~Transaction() {
        // Whatever is still lying around belongs to a failed attempt.
        for (const Pending& p : pending_) {
            if (!p.temporary.empty()) layer_.remove(p.temporary);
            if (!p.backup.empty()) layer_.remove(p.backup);
        }
    }

    AtomicWriteResult prepare(const FileToWrite& file, bool createFolders) {
        Pending& p = pending_.emplace_back();
        p.target = resolveLinks(file.target).string();
        const std::filesystem::path folder = std::filesystem::path(p.target).parent_path();
        std::error_code ec;
        if (createFolders && !folder.empty()) {
            std::filesystem::create_directories(folder, ec);
            if (ec) return AtomicWriteResult::CannotCreate;
        }
        struct stat old {};
        unsigned mode = kNewFileMode;
        bool keepMode = false;
        if (::stat(p.target.c_str(), &old) == 0) {
            // A folder or a device cannot be replaced by a file.
            if (!S_ISREG(old.st_mode)) return AtomicWriteResult::CannotReplace;
            p.existed = true;
            mode = static_cast<unsigned>(old.st_mode) & 07777;
            keepMode = true;
        }

        int fd = -1;
        for (int attempt = 0; attempt < kNameAttempts && fd < 0; ++attempt) {
            const std::string name = p.target + ".tmp-" + randomSuffix();
            fd = layer_.createExclusive(name, mode);
            if (fd >= 0) p.temporary = name;
        }
        if (fd < 0) return AtomicWriteResult::CannotCreate;
        // The creation mode is cut by the umask; an old file's mode is kept
        // exactly.
        bool ok = (!keepMode || layer_.setMode(fd, mode)) && layer_.write(fd, file.bytes.data(), file.bytes.size()) &&
                  layer_.sync(fd);
        ok = layer_.close(fd) && ok;
        return ok ? AtomicWriteResult::Ok : AtomicWriteResult::WriteFailed;
    }

    // A second name for each old file, so that it can be put back after a
    // later file fails to go into place. Returns the index that failed, or -1.
    long keepOldFiles() {
        for (std::size_t k = 0; k < pending_.size(); ++k)
            if (pending_[k].existed && !keepOldFile(pending_[k])) return static_cast<long>(k);
        return -1;
    }

    // Renames last to first; returns the index that failed, or -1.
    long commit() {
        for (std::size_t k = pending_.size(); k-- > 0;) {
            Pending& p = pending_[k];
            if (!layer_.rename(p.temporary, p.target)) {
                rollBack();
                return static_cast<long>(k);
            }
            p.temporary.clear();
            p.replaced = true;
        }
        std::set<std::string> folders;
        for (Pending& p : pending_) {
            if (!p.backup.empty() && layer_.remove(p.backup)) p.backup.clear();
            folders.insert(std::filesystem::path(p.target).parent_path().string());
        }
        // The files are in place; a folder that cannot be flushed changes
        // nothing we could still undo.
        for (const std::string& folder : folders) layer_.syncFolder(folder);
        return -1;
    }

private:
    bool keepOldFile(Pending& p) {
        for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
            const std::string name = p.target + ".old-" + randomSuffix();
            errno = 0;
            if (layer_.link(p.target, name)) {
                p.backup = name;
                return true;
            }
            if (errno != EEXIST) break;
        }
        // Some file systems have no hard links: keep a copy instead.
        std::ifstream in(p.target, std::ios::binary);
        if (!in) return false;
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (in.bad()) return false;
        for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
            const std::string name = p.target + ".old-" + randomSuffix();
            const int fd = layer_.createExclusive(name, kNewFileMode);
            if (fd < 0) continue;
            p.backup = name;
            bool ok = layer_.write(fd, bytes.data(), bytes.size()) && layer_.sync(fd);
            ok = layer_.close(fd) && ok;
            return ok;
        }
        return false;
    }

    void rollBack() {
        for (Pending& p : pending_) {
            if (!p.replaced) continue;
            if (p.existed) {
                if (layer_.rename(p.backup, p.target)) p.backup.clear();
            } else {
                layer_.remove(p.target);
            }
            p.replaced = false;
        }
    }

    FileLayer& layer_;
    std::vector<Pending> pending_;
};

}  // namespace

FilesWritten writeFilesTogether(std::span<const FileToWrite> files, bool createFolders, FileLayer& layer) {
    Transaction transaction(layer);
    for (std::size_t i = 0; i < files.size(); ++i) {
        const AtomicWriteResult r = transaction.prepare(files[i], createFolders);
        if (r != AtomicWriteResult::Ok) return {r, i};
    }
    long failed = transaction.keepOldFiles();
    if (failed >= 0) return {AtomicWriteResult::CannotReplace, static_cast<std::size_t>(failed)};
    failed = transaction.commit();
    if (failed >= 0) return {AtomicWriteResult::CannotReplace, static_cast<std::size_t>(failed)};
    return {};
}

AtomicWriteResult writeFileAtomically(const std::filesystem::path& target, const std::string& bytes,
                                      bool createFolders, FileLayer& layer) {
    const FileToWrite file{target, bytes};
    return writeFilesTogether(std::span(&file, 1), createFolders, layer).result;
}

AtomicWriteResult writeFileAtomically(const std::filesystem::path& target,
                                      const std::function<int(std::ostream&)>& write, bool createFolders,
                                      FileLayer& layer) {
    std::ostringstream out;
    if (write(out) != 0 || !out) return AtomicWriteResult::WriteFailed;
    return writeFileAtomically(target, out.str(), createFolders, layer);
}

}  // namespace calivant
