#pragma once
// The few file operations that saving needs, behind an interface so that
// tests can make any one of them fail, or stop the process at it, and check
// that nothing was lost.

#include <cstddef>
#include <string>

namespace calivant {

class FileLayer {
public:
    virtual ~FileLayer() = default;
    // Creates a new file for writing, never following a symbolic link and
    // never opening one that exists. Returns a descriptor, or -1.
    virtual int createExclusive(const std::string& path, unsigned mode) = 0;
    // Writes every byte (retrying short writes). False on failure.
    virtual bool write(int fd, const void* data, std::size_t size) = 0;
    // Sets the permission bits exactly (the creation mode is cut by the
    // umask).
    virtual bool setMode(int fd, unsigned mode) = 0;
    virtual bool sync(int fd) = 0;
    virtual bool close(int fd) = 0;
    // A second name for an existing file.
    virtual bool link(const std::string& existing, const std::string& name) = 0;
    // Moves a name over another in the same folder, in one step.
    virtual bool rename(const std::string& from, const std::string& to) = 0;
    virtual bool remove(const std::string& path) = 0;
    // Makes the folder's entries (new names, renames) durable.
    virtual bool syncFolder(const std::string& folder) = 0;
    // Whether this process may change the file's content: a read-only file
    // is not replaced, as cp would not overwrite it (root may).
    virtual bool mayWrite(const std::string& path) = 0;
    // Takes the advisory lock of the lock file at path (made when missing)
    // without waiting. Returns a descriptor holding it, or -1 when another
    // process holds it or the file cannot be made.
    virtual int lock(const std::string& path) = 0;
    // Removes the lock file, then lets go of the lock.
    virtual void unlock(const std::string& path, int fd) = 0;
};

// The operating system's files.
FileLayer& systemFileLayer();

}  // namespace calivant
