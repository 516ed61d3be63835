#pragma once
// Writing whole files so that a crash, a full disk, a failing writer or a
// second writer never leaves a partial file where a good one stood: the
// bytes go to a new temporary file in the target's folder and are flushed to
// the disk; only then is the temporary renamed over the target. Several
// files can be written as one: either all are replaced, or none.
//
// Beside each target, while it is being written:
//   NAME.lock          the advisory lock every writer of NAME takes first;
//                      removed when the writer is done
//   NAME.journal       what the transaction is doing: its targets, their
//                      temporaries and their backups
//   NAME.tmp-DIGITS    the new content
//   NAME.old-DIGITS    a second name of the old file, until the new one is
//                      in place
// A run that was killed leaves the journal and some of the others; the next
// run that writes NAME finishes the renames (every temporary was complete
// before the first) or puts the old files back, and removes the rest. Names
// too long for the folder are cut and carry a hash of the whole name.

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <ostream>
#include <span>
#include <string>

#include "util/file_layer.h"

namespace calivant {

enum class AtomicWriteResult {
    Ok = 0,
    CannotCreate,      // the folder or the temporary file could not be made
    WriteFailed,       // the writer reported failure, or writing or flushing broke
    CannotReplace,     // the finished file could not be put in place
    Busy,              // another process kept the file's lock past the wait
    PermissionDenied,  // the old file is read-only for this process
};

// How long a writer waits for another one to finish the same file.
inline constexpr std::chrono::milliseconds kLockWait{10000};

struct FileToWrite {
    std::filesystem::path target;
    std::string bytes;
};

struct FilesWritten {
    AtomicWriteResult result = AtomicWriteResult::Ok;
    // The file the failure concerns (an index into the list).
    std::size_t file = 0;
};

// Writes every file or none, holding every target's lock throughout and
// first finishing any transaction a killed run left on them. The files are
// renamed into place last first, so the first file (the one that matters
// most) replaces its old copy only after all the others have replaced
// theirs; if it cannot, the others are put back as they were. On any failure
// every old file is left exactly as it was and no temporary file is left
// behind. An existing target keeps its permission bits (not setuid, setgid
// or sticky), a new one gets 0644 less the umask; a symbolic link is written
// through to the file it names. With createFolders missing folders are made.
FilesWritten writeFilesTogether(std::span<const FileToWrite> files, bool createFolders = false,
                                FileLayer& layer = systemFileLayer(),
                                std::chrono::milliseconds lockWait = kLockWait);

// One file, its bytes made by write (which returns 0 on success).
AtomicWriteResult writeFileAtomically(const std::filesystem::path& target,
                                      const std::function<int(std::ostream&)>& write, bool createFolders = false,
                                      FileLayer& layer = systemFileLayer());

AtomicWriteResult writeFileAtomically(const std::filesystem::path& target, const std::string& bytes,
                                      bool createFolders = false, FileLayer& layer = systemFileLayer());

// Takes the targets' locks and finishes whatever a killed run left on them,
// as every writer does before it writes. Ok, or Busy after the wait.
AtomicWriteResult recoverInterruptedWrites(std::span<const std::filesystem::path> targets,
                                           FileLayer& layer = systemFileLayer(),
                                           std::chrono::milliseconds lockWait = kLockWait);

// A name in target's folder: target's name followed by suffix, cut so that
// it fits the folder's 255-byte limit (a cut name carries a hash of the
// whole, so that two long names do not meet).
std::string siblingName(const std::string& target, std::string_view suffix);

}  // namespace calivant
