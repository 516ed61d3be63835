#include "util/input_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace calivant {

std::string systemErrorText(int error) {
    std::string text = std::strerror(error);
    if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z' && !(text.size() > 1 && text[1] >= 'A' && text[1] <= 'Z'))
        text[0] = static_cast<char>(text[0] - 'A' + 'a');
    return text;
}

InputFile::~InputFile() {
    if (fd_ >= 0) ::close(fd_);
}

int InputFile::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

int InputFile::open(const std::filesystem::path& path) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    size_ = 0;
    problem_.clear();
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        problem_ = systemErrorText(errno);
        return 1;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        problem_ = kNotRegularFile;
        ::close(fd);
        return 1;
    }
    // Reads of a regular file wait as reads do, whatever the open asked.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    if (info.st_size == 0) {
        char probe;
        ssize_t n;
        do {
            n = ::pread(fd, &probe, 1, 0);
        } while (n < 0 && errno == EINTR);
        if (n < 0) {
            problem_ = systemErrorText(errno);
            ::close(fd);
            return 1;
        }
    }
    fd_ = fd;
    size_ = static_cast<std::uint64_t>(info.st_size);
    return 0;
}

InputFileBuffer::int_type InputFileBuffer::underflow() {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    if (error_ != 0 || fd_ < 0) return traits_type::eof();
    ssize_t n;
    do {
        n = ::read(fd_, buffer_, sizeof buffer_);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        error_ = errno;
        return traits_type::eof();
    }
    if (n == 0) return traits_type::eof();
    setg(buffer_, buffer_, buffer_ + n);
    return traits_type::to_int_type(*gptr());
}

}  // namespace calivant
