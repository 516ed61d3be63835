#pragma once
// Writing a whole file so that a crash, a full disk or a failing writer never
// leaves a partial file where a good one stood: the bytes go to a temporary
// file in the same folder, which is renamed over the target only when
// everything was written.

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>

namespace calivant {

enum class AtomicWriteResult {
    Ok = 0,
    CannotCreate,  // the folder or the temporary file could not be made
    WriteFailed,   // the writer reported failure or the stream broke
    CannotReplace, // the finished file could not be renamed into place
};

// Calls write with a stream on the temporary file; write returns 0 on
// success. An existing target keeps its permissions; a symbolic link is
// written through to the file it names. With createFolders the target's
// folder is created when missing.
AtomicWriteResult writeFileAtomically(const std::filesystem::path& target,
                                      const std::function<int(std::ostream&)>& write, bool createFolders = false);

AtomicWriteResult writeFileAtomically(const std::filesystem::path& target, const std::string& bytes,
                                      bool createFolders = false);

}  // namespace calivant
