#pragma once
// Writing whole files so that a crash, a full disk or a failing writer never
// leaves a partial file where a good one stood: the bytes go to a new
// temporary file in the target's folder and are flushed to the disk; only
// then is the temporary renamed over the target. Several files can be
// written as one: either all are replaced, or none.

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
    CannotCreate,  // the folder or the temporary file could not be made
    WriteFailed,   // the writer reported failure, or writing or flushing broke
    CannotReplace, // the finished file could not be put in place
};

struct FileToWrite {
    std::filesystem::path target;
    std::string bytes;
};

struct FilesWritten {
    AtomicWriteResult result = AtomicWriteResult::Ok;
    // The file the failure concerns (an index into the list).
    std::size_t file = 0;
};

// Writes every file or none. The files are renamed into place last first,
// so the first file (the one that matters most) replaces its old copy only
// after all the others have replaced theirs; if it cannot, the others are
// put back as they were. On any failure every old file is left exactly as
// it was and no temporary file is left behind. An existing target keeps its
// permissions, a new one gets 0644 less the umask; a symbolic link is written
// through to the file it names. With createFolders missing folders are made.
FilesWritten writeFilesTogether(std::span<const FileToWrite> files, bool createFolders = false,
                                FileLayer& layer = systemFileLayer());

// One file, its bytes made by write (which returns 0 on success).
AtomicWriteResult writeFileAtomically(const std::filesystem::path& target,
                                      const std::function<int(std::ostream&)>& write, bool createFolders = false,
                                      FileLayer& layer = systemFileLayer());

AtomicWriteResult writeFileAtomically(const std::filesystem::path& target, const std::string& bytes,
                                      bool createFolders = false, FileLayer& layer = systemFileLayer());

}  // namespace calivant
