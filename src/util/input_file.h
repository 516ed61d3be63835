#pragma once
// Opening a file the user named, for reading. A name can stand for anything:
// a FIFO that no one writes to, a device, a folder, a file that fails while
// it is read. Every reader of the user's files opens them here, so that none
// of them hangs, and none of them takes anything but a regular file.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <streambuf>
#include <string>

namespace calivant {

// The second line of a message about a file that is not a regular file.
inline constexpr const char* kNotRegularFile = "not a regular file";
// ... and about a file that shrank or failed under a reader.
inline constexpr const char* kFileChanged = "the file changed while it was read";

// The system's reason for an error number, as a lower-case phrase
// ("input/output error").
std::string systemErrorText(int error);

// A file opened for reading; closed when the object goes.
class InputFile {
public:
    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // Opens without waiting for a writer (a FIFO) or a device, then looks at
    // what was opened: anything but a regular file is refused. Looking at
    // the open file, not at the name, leaves no moment in which the name
    // could be made to point elsewhere. A file that claims to be empty is
    // read once, so that one that cannot be read (/proc/self/mem) says so
    // here. Returns 0, or 1 with problem() saying why.
    int open(const std::filesystem::path& path);

    int descriptor() const { return fd_; }
    // The size when it was opened.
    std::uint64_t size() const { return size_; }
    const std::string& problem() const { return problem_; }

    // Gives the descriptor to the caller, who closes it.
    int release();

private:
    int fd_ = -1;
    std::uint64_t size_ = 0;
    std::string problem_;
};

// A stream buffer over an open file that never throws: a read error ends
// the input as the end of the file would, and error() tells them apart
// (0, or the error number).
class InputFileBuffer final : public std::streambuf {
public:
    explicit InputFileBuffer(int fd) : fd_(fd) {}
    int error() const { return error_; }

protected:
    int_type underflow() override;

private:
    int fd_;
    int error_ = 0;
    char buffer_[8192];
};

}  // namespace calivant
