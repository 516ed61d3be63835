#include "util/file_layer.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace calivant {
namespace {

class SystemFileLayer : public FileLayer {
public:
    int createExclusive(const std::string& path, unsigned mode) override {
        int fd;
        do {
            fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, static_cast<mode_t>(mode));
        } while (fd < 0 && errno == EINTR);
        return fd;
    }

    bool write(int fd, const void* data, std::size_t size) override {
        const auto* p = static_cast<const char*>(data);
        while (size > 0) {
            const ssize_t n = ::write(fd, p, size);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            p += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }

    bool setMode(int fd, unsigned mode) override { return ::fchmod(fd, static_cast<mode_t>(mode)) == 0; }
    bool sync(int fd) override { return ::fsync(fd) == 0; }
    bool close(int fd) override { return ::close(fd) == 0; }
    bool link(const std::string& existing, const std::string& name) override {
        return ::link(existing.c_str(), name.c_str()) == 0;
    }
    bool rename(const std::string& from, const std::string& to) override {
        return ::rename(from.c_str(), to.c_str()) == 0;
    }
    bool remove(const std::string& path) override { return ::unlink(path.c_str()) == 0; }

    bool mayWrite(const std::string& path) override {
        return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
    }

    int lock(const std::string& path) override {
        int fd;
        do {
            fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0) return -1;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            ::close(fd);
            errno = error;
            return -1;
        }
        // The holder before us removes the file as it lets go: a lock taken
        // on a name that has gone, or been made anew, excludes no one.
        struct stat held {};
        struct stat named {};
        if (::fstat(fd, &held) != 0 || ::lstat(path.c_str(), &named) != 0 || held.st_dev != named.st_dev ||
            held.st_ino != named.st_ino) {
            ::close(fd);
            errno = EAGAIN;
            return -1;
        }
        return fd;
    }

    void unlock(const std::string& path, int fd) override {
        ::unlink(path.c_str());
        ::close(fd);
    }

    bool syncFolder(const std::string& folder) override {
        const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return false;
        const bool ok = ::fsync(fd) == 0;
        ::close(fd);
        return ok;
    }
};

}  // namespace

FileLayer& systemFileLayer() {
    static SystemFileLayer layer;
    return layer;
}

}  // namespace calivant
