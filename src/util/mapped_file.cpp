#include "util/mapped_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace calivant {

MappedFile::~MappedFile() {
    if (data_) ::munmap(const_cast<std::uint8_t*>(data_), size_);
}

int MappedFile::open(const std::filesystem::path& file) {
    if (data_) return 1;
    int fd;
    do {
        fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return 1;
    struct stat info {};
    void* mapped = MAP_FAILED;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0)
        mapped = ::mmap(nullptr, static_cast<std::size_t>(info.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    // The mapping keeps the file's pages; the descriptor is not needed.
    ::close(fd);
    if (mapped == MAP_FAILED) return 1;
    data_ = static_cast<const std::uint8_t*>(mapped);
    size_ = static_cast<std::size_t>(info.st_size);
    return 0;
}

}  // namespace calivant
