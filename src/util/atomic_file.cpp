#include "util/atomic_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <sstream>
#include <system_error>
#include <thread>
#include <vector>

#include "util/input_file.h"

namespace calivant {
namespace {

constexpr unsigned kNewFileMode = 0644;
// Only the permission bits of an old file pass to the new one: a profile
// that was setuid does not make its replacement so.
constexpr unsigned kKeptModeBits = 0777;
constexpr int kNameAttempts = 8;
constexpr std::size_t kMaxNameBytes = 255;
constexpr auto kLockPoll = std::chrono::milliseconds(20);
constexpr std::string_view kJournalHeader = "calivant-scanner journal 1";
constexpr std::string_view kPrepared = "prepared";
constexpr std::string_view kReady = "ready";
constexpr std::string_view kUndo = "undo";

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

bool exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

std::string folderOfPath(const std::string& path) { return std::filesystem::path(path).parent_path().string(); }

// A name of the form target + stem + random digits that no file has yet.
std::string unusedName(const std::string& target, std::string_view stem) {
    std::string name;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        name = siblingName(target, std::string(stem) + randomSuffix());
        if (!exists(name)) break;
    }
    return name;
}

std::string journalOf(const std::string& target) { return siblingName(target, ".journal"); }
std::string lockOf(const std::string& target) { return siblingName(target, ".lock"); }

// Journal fields are separated by tabs and lines: those bytes, and every
// other control byte, are written as %XX.
std::string escapeField(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b <= 0x20 || b == '%' || b == 0x7F) {
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 15];
        } else {
            out += c;
        }
    }
    return out;
}

std::string unescapeField(std::string_view text) {
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 && hex(text[i + 2]) >= 0) {
            out += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// One file of a transaction on its way into place.
struct Pending {
    std::string target;     // after following links
    std::string temporary;  // the new content, complete once written
    std::string backup;     // a second name of the old file, empty when there is none
    bool existed = false;
    unsigned mode = kNewFileMode;
    bool temporaryMade = false;
    bool backupMade = false;
    bool replaced = false;
};

enum class JournalState { Incomplete, Prepared, Ready, Undo };

struct Journal {
    JournalState state = JournalState::Incomplete;
    std::vector<Pending> files;
};

// Whether `side` is a name unusedName(target, stem) can give: the target's
// sibling with the stem and random digits. A journal is read from a folder
// others may write to; it may only ever move or remove the side files of
// its own targets.
bool isSideName(const std::string& target, const std::string& side, std::string_view stem) {
    for (std::size_t digits = 1; digits <= 8 && digits < side.size(); ++digits) {
        const std::string tail = side.substr(side.size() - digits);
        if (tail.find_first_not_of("0123456789") != std::string::npos) break;
        if (siblingName(target, std::string(stem) + tail) == side) return true;
    }
    return false;
}

// Reads a journal; false when the file is not one of ours: not in our
// format, or naming side files that are not its targets' own, or not
// naming the target it lies beside.
bool readJournal(const std::string& path, Journal& journal) {
    InputFile file;
    if (file.open(path) != 0) return false;
    InputFileBuffer buffer(file.descriptor());
    std::istream in(&buffer);
    std::string line;
    // A run killed while it wrote the first line leaves a part of it: that
    // journal is ours, and nothing was made after it.
    if (!std::getline(in, line)) return buffer.error() == 0;
    if (in.eof() && kJournalHeader.starts_with(line)) return true;
    if (line != kJournalHeader) return false;
    while (std::getline(in, line)) {
        if (in.eof()) break;  // a last line without its end was cut short
        if (line == kPrepared) journal.state = JournalState::Prepared;
        else if (line == kReady && journal.state == JournalState::Prepared) journal.state = JournalState::Ready;
        else if (line == kUndo && journal.state != JournalState::Incomplete) journal.state = JournalState::Undo;
        else if (journal.state == JournalState::Incomplete && line.starts_with("file\t")) {
            std::vector<std::string> fields;
            std::stringstream split(line.substr(5));
            for (std::string field; std::getline(split, field, '\t');) fields.push_back(unescapeField(field));
            if (fields.size() != 3) return false;
            Pending p;
            p.target = fields[0];
            p.temporary = fields[1];
            p.existed = fields[2] != "-";
            if (p.existed) p.backup = fields[2];
            if (p.target.empty() || !isSideName(p.target, p.temporary, ".tmp-") ||
                (p.existed && !isSideName(p.target, p.backup, ".old-")))
                return false;
            journal.files.push_back(p);
        }
    }
    if (buffer.error() != 0) return false;
    // Every target's journal holds the whole transaction, so this one names
    // the target it lies beside.
    return journal.files.empty() ||
           std::any_of(journal.files.begin(), journal.files.end(),
                       [&](const Pending& p) { return journalOf(p.target) == path; });
}

std::string journalText(const std::vector<Pending>& files) {
    std::string text(kJournalHeader);
    text += '\n';
    for (const Pending& p : files)
        text += "file\t" + escapeField(p.target) + '\t' + escapeField(p.temporary) + '\t' +
                (p.existed ? escapeField(p.backup) : std::string("-")) + '\n';
    text += kPrepared;
    text += '\n';
    return text;
}

// The locks of a transaction's targets, let go (and their files removed) in
// reverse order when it ends.
class Locks {
public:
    explicit Locks(FileLayer& layer) : layer_(layer) {}
    Locks(const Locks&) = delete;
    Locks& operator=(const Locks&) = delete;
    ~Locks() {
        for (auto h = held_.rbegin(); h != held_.rend(); ++h) layer_.unlock(h->path, h->fd);
    }

    bool holds(const std::string& target) const {
        const std::string path = lockOf(target);
        return std::any_of(held_.begin(), held_.end(), [&](const Held& h) { return h.path == path; });
    }

    // Waits for the lock until deadline. Busy when another process kept
    // it; CannotCreate when the lock file cannot be made.
    AtomicWriteResult take(const std::string& target, std::chrono::steady_clock::time_point deadline) {
        if (holds(target)) return AtomicWriteResult::Ok;
        const std::string path = lockOf(target);
        for (;;) {
            errno = 0;
            const int fd = layer_.lock(path);
            if (fd >= 0) {
                held_.push_back({path, fd});
                return AtomicWriteResult::Ok;
            }
            // Anything but a lock held elsewhere (or let go and removed
            // meanwhile) will not change by waiting.
            if (errno != 0 && errno != EWOULDBLOCK && errno != EAGAIN) return AtomicWriteResult::CannotCreate;
            if (std::chrono::steady_clock::now() >= deadline) return AtomicWriteResult::Busy;
            std::this_thread::sleep_for(kLockPoll);
        }
    }

private:
    struct Held {
        std::string path;
        int fd;
    };
    FileLayer& layer_;
    std::vector<Held> held_;
};

bool removeIfThere(FileLayer& layer, const std::string& path) {
    if (!exists(path)) return true;
    // Once more: a single failed call should not leave a stray file.
    return layer.remove(path) || layer.remove(path) || !exists(path);
}

// Puts every old file back as it was: a backup over its target, a new file
// put in place removed, the temporaries removed. replacedNew says which new
// files (no old file) were already put in place.
bool restoreOldFiles(FileLayer& layer, const std::vector<Pending>& files, const std::vector<bool>& replacedNew) {
    bool clean = true;
    for (std::size_t k = 0; k < files.size(); ++k) {
        const Pending& p = files[k];
        if (p.existed && exists(p.backup)) {
            // A backup that is still a name of the target stays so after the
            // rename; it is removed below.
            clean = layer.rename(p.backup, p.target) && clean;
            clean = removeIfThere(layer, p.backup) && clean;
        } else if (!p.existed && replacedNew[k]) {
            clean = removeIfThere(layer, p.target) && clean;
        }
        clean = removeIfThere(layer, p.temporary) && clean;
    }
    return clean;
}

// Finishes the transaction a journal describes: forward when every
// temporary was complete (the journal says ready) and each one is either
// still there or already in place; otherwise back to the old files.
AtomicWriteResult recoverJournal(FileLayer& layer, Locks& locks, const std::string& journalPath,
                                 std::chrono::steady_clock::time_point deadline) {
    Journal journal;
    // Not ours to touch; writing the target will then fail, losing nothing.
    if (!readJournal(journalPath, journal)) return AtomicWriteResult::Ok;
    for (const Pending& p : journal.files)
        if (const AtomicWriteResult r = locks.take(p.target, deadline); r != AtomicWriteResult::Ok) return r;

    bool clean = true;
    if (journal.state != JournalState::Incomplete) {
        bool forward = journal.state == JournalState::Ready;
        // Before the journal said ready nothing was renamed; after it, a
        // temporary that has gone was renamed into place.
        std::vector<bool> placed(journal.files.size(), false);
        for (std::size_t k = 0; k < journal.files.size() && journal.state != JournalState::Prepared; ++k) {
            const Pending& p = journal.files[k];
            const bool pending = exists(p.temporary);
            placed[k] = !pending && exists(p.target);
            if (!pending && !placed[k]) forward = false;
        }
        if (forward) {
            for (std::size_t k = journal.files.size(); k-- > 0;) {
                const Pending& p = journal.files[k];
                if (exists(p.temporary) && !layer.rename(p.temporary, p.target)) return AtomicWriteResult::CannotReplace;
            }
            for (const Pending& p : journal.files)
                if (p.existed) clean = removeIfThere(layer, p.backup) && clean;
        } else {
            clean = restoreOldFiles(layer, journal.files, placed);
        }
    }
    if (!clean) return AtomicWriteResult::CannotReplace;
    std::set<std::string> folders;
    for (const Pending& p : journal.files) {
        removeIfThere(layer, journalOf(p.target));
        folders.insert(folderOfPath(p.target));
    }
    removeIfThere(layer, journalPath);
    for (const std::string& folder : folders) layer.syncFolder(folder);
    return AtomicWriteResult::Ok;
}

class Transaction {
public:
    Transaction(FileLayer& layer, std::vector<Pending>& pending) : layer_(layer), pending_(pending) {}
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    ~Transaction() {
        for (const JournalFile& j : journals_)
            if (j.fd >= 0) layer_.close(j.fd);
        if (committed_) return;
        // Whatever is still lying around belongs to a failed attempt. The
        // journals go last, and only when the rest went: otherwise the next
        // run finishes the cleaning.
        bool clean = true;
        for (const Pending& p : pending_) {
            if (p.temporaryMade) clean = removeIfThere(layer_, p.temporary) && clean;
            if (p.backupMade) clean = removeIfThere(layer_, p.backup) && clean;
        }
        if (clean)
            for (const JournalFile& j : journals_) removeIfThere(layer_, j.path);
    }

    // Names every temporary and backup in a journal beside each target
    // before any of them is made, so that a run killed from here on leaves
    // nothing the next run cannot find.
    bool writeJournals() {
        const std::string text = journalText(pending_);
        for (const Pending& p : pending_) {
            JournalFile& j = journals_.emplace_back();
            j.path = journalOf(p.target);
            j.fd = layer_.createExclusive(j.path, kNewFileMode);
            if (j.fd < 0) {
                journals_.pop_back();
                return false;
            }
            if (!layer_.write(j.fd, text.data(), text.size()) || !layer_.sync(j.fd)) return false;
        }
        syncFolders();
        return true;
    }

    // Adds a line to every journal; true when all of them hold it.
    bool markJournals(std::string_view state) {
        const std::string line = std::string(state) + '\n';
        bool ok = true;
        for (const JournalFile& j : journals_) ok = layer_.write(j.fd, line.data(), line.size()) && layer_.sync(j.fd) && ok;
        return ok;
    }

    AtomicWriteResult prepare(Pending& p, const std::string& bytes) {
        const int fd = layer_.createExclusive(p.temporary, p.mode);
        if (fd < 0) return AtomicWriteResult::CannotCreate;
        p.temporaryMade = true;
        // The creation mode is cut by the umask; an old file's mode is kept
        // exactly.
        bool ok = (!p.existed || layer_.setMode(fd, p.mode)) && layer_.write(fd, bytes.data(), bytes.size()) &&
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
                markJournals(kUndo);
                rollBack();
                return static_cast<long>(k);
            }
            p.temporaryMade = false;
            p.replaced = true;
        }
        committed_ = true;
        // The files are in place: the old copies and the journals go. What
        // cannot be removed now the next run removes.
        bool clean = true;
        for (const Pending& p : pending_)
            if (p.backupMade) clean = removeIfThere(layer_, p.backup) && clean;
        if (clean) {
            for (JournalFile& j : journals_) {
                layer_.close(j.fd);
                j.fd = -1;
                removeIfThere(layer_, j.path);
            }
        }
        // A folder that cannot be flushed changes nothing we could still undo.
        syncFolders();
        return -1;
    }

private:
    struct JournalFile {
        std::string path;
        int fd = -1;
    };

    void syncFolders() {
        std::set<std::string> folders;
        for (const Pending& p : pending_) folders.insert(folderOfPath(p.target));
        for (const std::string& folder : folders) layer_.syncFolder(folder);
    }

    bool keepOldFile(Pending& p) {
        errno = 0;
        if (layer_.link(p.target, p.backup)) {
            p.backupMade = true;
            return true;
        }
        if (errno == EEXIST) return false;
        // Some file systems have no hard links: keep a copy instead.
        InputFile file;
        if (file.open(p.target) != 0) return false;
        InputFileBuffer buffer(file.descriptor());
        std::istream in(&buffer);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (buffer.error() != 0) return false;
        const int fd = layer_.createExclusive(p.backup, p.mode);
        if (fd < 0) return false;
        p.backupMade = true;
        bool ok = layer_.setMode(fd, p.mode) && layer_.write(fd, bytes.data(), bytes.size()) && layer_.sync(fd);
        ok = layer_.close(fd) && ok;
        return ok;
    }

    void rollBack() {
        for (Pending& p : pending_) {
            if (!p.replaced) continue;
            if (p.existed) {
                if (layer_.rename(p.backup, p.target)) p.backupMade = false;
            } else {
                layer_.remove(p.target);
            }
            p.replaced = false;
        }
    }

    FileLayer& layer_;
    std::vector<Pending>& pending_;
    std::vector<JournalFile> journals_;
    bool committed_ = false;
};

// Takes the lock of every target (in one order for every run, so that two
// runs never each hold what the other waits for) and finishes what a killed
// run left beside them. Returns Ok, or the failure and the target it
// concerns.
FilesWritten lockAndRecover(FileLayer& layer, Locks& locks, const std::vector<std::string>& targets,
                            std::chrono::milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    std::vector<std::size_t> order(targets.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return targets[a] < targets[b]; });
    for (const std::size_t i : order)
        if (const AtomicWriteResult r = locks.take(targets[i], deadline); r != AtomicWriteResult::Ok) return {r, i};
    for (std::size_t i = 0; i < targets.size(); ++i) {
        const std::string journal = journalOf(targets[i]);
        if (!exists(journal)) continue;
        if (const AtomicWriteResult r = recoverJournal(layer, locks, journal, deadline); r != AtomicWriteResult::Ok)
            return {r, i};
    }
    return {};
}

}  // namespace

std::string siblingName(const std::string& target, std::string_view suffix) {
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    if (name.size() + suffix.size() <= kMaxNameBytes) return folder + name + std::string(suffix);
    // FNV-1a of the whole name, 16 hex digits.
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : name) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    static constexpr char kHex[] = "0123456789abcdef";
    std::string tag = "~";
    for (int shift = 60; shift >= 0; shift -= 4) tag += kHex[(hash >> shift) & 15];
    std::size_t keep = kMaxNameBytes - suffix.size() - tag.size();
    // Not in the middle of a UTF-8 character.
    while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
    return folder + name.substr(0, keep) + tag + std::string(suffix);
}

FilesWritten writeFilesTogether(std::span<const FileToWrite> files, bool createFolders, FileLayer& layer,
                                std::chrono::milliseconds lockWait) {
    std::vector<Pending> pending(files.size());
    std::vector<std::string> targets;
    for (std::size_t i = 0; i < files.size(); ++i) {
        Pending& p = pending[i];
        p.target = resolveLinks(files[i].target).string();
        targets.push_back(p.target);
        const std::filesystem::path folder = std::filesystem::path(p.target).parent_path();
        std::error_code ec;
        if (createFolders && !folder.empty()) {
            std::filesystem::create_directories(folder, ec);
            if (ec) return {AtomicWriteResult::CannotCreate, i};
        }
    }
    Locks locks(layer);
    if (const FilesWritten r = lockAndRecover(layer, locks, targets, lockWait); r.result != AtomicWriteResult::Ok)
        return r;

    for (std::size_t i = 0; i < files.size(); ++i) {
        Pending& p = pending[i];
        struct stat old {};
        if (::stat(p.target.c_str(), &old) == 0) {
            // A folder or a device cannot be replaced by a file.
            if (!S_ISREG(old.st_mode)) return {AtomicWriteResult::CannotReplace, i};
            if (!layer.mayWrite(p.target)) return {AtomicWriteResult::PermissionDenied, i};
            p.existed = true;
            p.mode = static_cast<unsigned>(old.st_mode) & kKeptModeBits;
            p.backup = unusedName(p.target, ".old-");
        }
        p.temporary = unusedName(p.target, ".tmp-");
    }

    Transaction transaction(layer, pending);
    if (!transaction.writeJournals()) return {AtomicWriteResult::CannotCreate, 0};
    for (std::size_t i = 0; i < files.size(); ++i) {
        const AtomicWriteResult r = transaction.prepare(pending[i], files[i].bytes);
        if (r != AtomicWriteResult::Ok) return {r, i};
    }
    long failed = transaction.keepOldFiles();
    if (failed >= 0) return {AtomicWriteResult::CannotReplace, static_cast<std::size_t>(failed)};
    if (!transaction.markJournals(kReady)) return {AtomicWriteResult::WriteFailed, 0};
    failed = transaction.commit();
    if (failed >= 0) return {AtomicWriteResult::CannotReplace, static_cast<std::size_t>(failed)};
    return {};
}

AtomicWriteResult recoverInterruptedWrites(std::span<const std::filesystem::path> targets, FileLayer& layer,
                                           std::chrono::milliseconds lockWait) {
    std::vector<std::string> resolved;
    for (const auto& t : targets) resolved.push_back(resolveLinks(t).string());
    Locks locks(layer);
    return lockAndRecover(layer, locks, resolved, lockWait).result;
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
