#include "image/byte_source.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <unistd.h>

#include "util/input_file.h"

namespace calivant {

FileByteSource::~FileByteSource() {
    if (fd_ >= 0) ::close(fd_);
}

int FileByteSource::open(const std::filesystem::path& file) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    size_ = 0;
    position_ = 0;
    readError_ = 0;
    InputFile input;
    if (input.open(file) != 0) {
        problem_ = input.problem();
        return 1;
    }
    problem_.clear();
    size_ = input.size();
    fd_ = input.release();
    return 0;
}

// Positioned reads: the decoders' threads share the one descriptor.
std::size_t FileByteSource::readAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t count) const {
    if (fd_ < 0 || count == 0 || offset >= size_) return 0;
    constexpr auto kLargestRead = static_cast<std::uint64_t>(std::numeric_limits<ssize_t>::max());
    const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>({count, size_ - offset, kLargestRead}));
    std::size_t got = 0;
    while (got < wanted) {
        const ssize_t n = ::pread(fd_, buffer + got, wanted - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            int expected = 0;
            readError_.compare_exchange_strong(expected, n < 0 ? errno : -1);
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    return got;
}

std::string FileByteSource::readProblem() const {
    const int error = readError_.load();
    if (error == 0) return {};
    return error < 0 ? std::string(kFileChanged) : systemErrorText(error);
}

std::size_t FileByteSource::read(std::uint8_t* buffer, std::size_t count) {
    const std::size_t got = readAt(position_, buffer, count);
    position_ += got;
    return got;
}

bool FileByteSource::seek(std::uint64_t offset) {
    if (fd_ < 0 || offset > size_) return false;
    position_ = offset;
    return true;
}

std::size_t MemoryByteSource::readAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t count) const {
    if (offset >= bytes_.size()) return 0;
    const auto got = static_cast<std::size_t>(std::min<std::uint64_t>(count, bytes_.size() - offset));
    std::memcpy(buffer, bytes_.data() + offset, got);
    return got;
}

std::size_t MemoryByteSource::read(std::uint8_t* buffer, std::size_t count) {
    const std::size_t got = readAt(position_, buffer, count);
    position_ += got;
    return got;
}

bool MemoryByteSource::seek(std::uint64_t offset) {
    if (offset > bytes_.size()) return false;
    position_ = offset;
    return true;
}

int readBytes(ByteSource& file, std::size_t count, std::uint8_t* buffer, std::size_t& got) {
    got = 0;
    if (count == 0) return 0;
    got = file.read(buffer, count);
    return got == 0 ? 1 : 0;
}

int seekTo(ByteSource& file, std::uint64_t offset) { return file.seek(offset) ? 0 : 1; }

std::uint64_t tellPosition(const ByteSource& file) { return file.position(); }

}  // namespace calivant
