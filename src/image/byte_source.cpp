#include "image/byte_source.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace calivant {

int FileByteSource::open(const std::filesystem::path& file) {
    // Unbuffered: the readers ask for large pieces, which then go straight
    // from the system into their destination instead of through a copy.
    in_.rdbuf()->pubsetbuf(nullptr, 0);
    in_.open(file, std::ios::binary);
    if (!in_) return 1;
    in_.seekg(0, std::ios::end);
    const std::streamoff end = in_.tellg();
    in_.seekg(0, std::ios::beg);
    if (end < 0 || !in_) {
        in_.close();
        return 1;
    }
    size_ = static_cast<std::uint64_t>(end);
    position_ = 0;
    return 0;
}

std::size_t FileByteSource::read(std::uint8_t* buffer, std::size_t count) {
    if (!in_.is_open() || count == 0) return 0;
    const std::size_t wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(count, static_cast<std::uint64_t>(
                                                                    std::numeric_limits<std::streamsize>::max())));
    in_.read(reinterpret_cast<char*>(buffer), static_cast<std::streamsize>(wanted));
    const auto got = static_cast<std::size_t>(in_.gcount());
    // End of file leaves the stream failed; the next seek starts afresh.
    if (!in_) in_.clear();
    position_ += got;
    return got;
}

bool FileByteSource::seek(std::uint64_t offset) {
    if (!in_.is_open() || offset > size_) return false;
    in_.clear();
    in_.seekg(static_cast<std::streamoff>(offset), std::ios::beg);
    if (!in_) {
        in_.clear();
        return false;
    }
    position_ = offset;
    return true;
}

std::size_t MemoryByteSource::read(std::uint8_t* buffer, std::size_t count) {
    const std::uint64_t left = bytes_.size() - position_;
    const auto got = static_cast<std::size_t>(std::min<std::uint64_t>(count, left));
    if (got > 0) std::memcpy(buffer, bytes_.data() + position_, got);
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
