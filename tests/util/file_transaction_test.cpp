// Saving a profile and its log as one: whatever single file operation
// fails, the old files stay exactly as they were and nothing is left behind.

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <set>
#include <sys/stat.h>

#include "support/temp_folder.h"
#include "util/atomic_file.h"

namespace calivant {
namespace {

using testing::readFile;
using testing::writeFile;

// The system's files, except that operation number failAt (counting from 1)
// fails; 0 never fails. Counts every call.
class FailingLayer : public FileLayer {
public:
    explicit FailingLayer(int failAt) : failAt_(failAt) {}
    int calls = 0;

    int createExclusive(const std::string& path, unsigned mode) override {
        return fail() ? -1 : system().createExclusive(path, mode);
    }
    bool write(int fd, const void* data, std::size_t size) override {
        return !fail() && system().write(fd, data, size);
    }
    bool setMode(int fd, unsigned mode) override { return !fail() && system().setMode(fd, mode); }
    bool sync(int fd) override { return !fail() && system().sync(fd); }
    bool close(int fd) override {
        // A failed close still releases the descriptor.
        const bool failed = fail();
        return system().close(fd) && !failed;
    }
    bool link(const std::string& a, const std::string& b) override { return !fail() && system().link(a, b); }
    bool rename(const std::string& a, const std::string& b) override { return !fail() && system().rename(a, b); }
    bool remove(const std::string& path) override { return !fail() && system().remove(path); }
    bool syncFolder(const std::string& folder) override { return !fail() && system().syncFolder(folder); }
    bool mayWrite(const std::string& path) override { return !fail() && system().mayWrite(path); }
    int lock(const std::string& path) override {
        if (!fail()) return system().lock(path);
        errno = EACCES;
        return -1;
    }
    void unlock(const std::string& path, int fd) override {
        fail();
        system().unlock(path, fd);
    }

private:
    static FileLayer& system() { return systemFileLayer(); }
    bool fail() { return ++calls == failAt_; }
    int failAt_;
};

std::set<std::string> namesIn(const std::filesystem::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.insert(entry.path().filename());
    return names;
}

TEST(FileTransaction, AFailureAtAnyStepLosesNothing) {
    // Old files of both kinds, and the case of a new log beside an old profile.
    for (const bool oldLog : {true, false}) {
        testing::TempFolder folder;
        const std::vector<FileToWrite> files{{folder / "p.icc", std::string(5000, 'P')},
                                             {folder / "p.txt", "new log"}};
        auto reset = [&] {
            writeFile(folder / "p.icc", "old profile");
            if (oldLog)
                writeFile(folder / "p.txt", "old log");
            else
                std::filesystem::remove(folder / "p.txt");
        };
        reset();
        FailingLayer counting(0);
        ASSERT_EQ(writeFilesTogether(files, false, counting).result, AtomicWriteResult::Ok);
        const std::set<std::string> after = namesIn(folder.path());
        ASSERT_GT(counting.calls, 8);

        for (int n = 1; n <= counting.calls; ++n) {
            reset();
            const std::set<std::string> before = namesIn(folder.path());
            FailingLayer layer(n);
            const FilesWritten r = writeFilesTogether(files, false, layer);
            if (r.result == AtomicWriteResult::Ok) {
                // Only flushing a folder or dropping the old copies may fail
                // once the files are in place.
                EXPECT_EQ(readFile(folder / "p.icc"), files[0].bytes) << n;
                EXPECT_EQ(readFile(folder / "p.txt"), files[1].bytes) << n;
                EXPECT_EQ(namesIn(folder.path()), after) << n;
            } else {
                EXPECT_EQ(readFile(folder / "p.icc"), "old profile") << "failing call " << n;
                if (oldLog) {
                    EXPECT_EQ(readFile(folder / "p.txt"), "old log") << "failing call " << n;
                }
                EXPECT_EQ(namesIn(folder.path()), before) << "failing call " << n;
            }
        }
    }
}

TEST(FileTransaction, KeepsPermissionsAndRefusesFolders) {
    testing::TempFolder folder;
    writeFile(folder / "p.icc", "old");
    ::chmod((folder / "p.icc").c_str(), 0664);
    const mode_t mask = ::umask(022);
    ASSERT_EQ(writeFileAtomically(folder / "p.icc", std::string("new")), AtomicWriteResult::Ok);
    ASSERT_EQ(writeFileAtomically(folder / "q.icc", std::string("new")), AtomicWriteResult::Ok);
    ::umask(mask);
    struct stat s {};
    ASSERT_EQ(::stat((folder / "p.icc").c_str(), &s), 0);
    EXPECT_EQ(s.st_mode & 0777, 0664u);
    ASSERT_EQ(::stat((folder / "q.icc").c_str(), &s), 0);
    EXPECT_EQ(s.st_mode & 0777, 0644u);

    std::filesystem::create_directory(folder / "dir.txt");
    const std::vector<FileToWrite> files{{folder / "p.icc", "newer"}, {folder / "dir.txt", "log"}};
    const FilesWritten r = writeFilesTogether(files);
    EXPECT_EQ(r.result, AtomicWriteResult::CannotReplace);
    EXPECT_EQ(r.file, 1u);
    EXPECT_EQ(readFile(folder / "p.icc"), "new");
    EXPECT_EQ(writeFileAtomically(folder / "missing/x.icc", std::string("x")), AtomicWriteResult::CannotCreate);
}

}  // namespace
}  // namespace calivant
