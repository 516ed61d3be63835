// Saving a profile and its log as one: whatever single file operation
// fails, the old files stay exactly as they were and nothing is left behind.

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/temp_folder.h"
#include "util/atomic_file.h"
#include "util/utf8.h"

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

protected:
    static FileLayer& system() { return systemFileLayer(); }
    virtual bool fail() { return ++calls == failAt_; }

private:
    int failAt_;
};

// The system's files, except that the process dies (as by kill -9) just
// before operation number killAt: nothing after it runs, not even cleaning.
class KillingLayer : public FailingLayer {
public:
    explicit KillingLayer(int killAt) : FailingLayer(0), killAt_(killAt) {}

protected:
    bool fail() override {
        if (++calls == killAt_) ::_exit(9);
        return false;
    }

private:
    int killAt_;
};

// Runs work in a child process; its exit status.
template <typename Work>
int inChild(Work work) {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(work());
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

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

// A run killed before any step of the transaction leaves either the old pair
// or the new one in place, and the next run that takes the lock finishes or
// undoes it and removes every file it left: no temporary, backup, journal or
// lock remains.
TEST(FileTransaction, AKillAtAnyStepIsRecoveredByTheNextRun) {
    for (const bool oldLog : {true, false}) {
        testing::TempFolder folder;
        const std::vector<FileToWrite> files{{folder / "p.icc", std::string(5000, 'P')}, {folder / "p.txt", "new log"}};
        const std::vector<std::filesystem::path> targets{files[0].target, files[1].target};
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
        ASSERT_GT(counting.calls, 12);
        int finished = 0;
        for (int n = 1; n <= counting.calls; ++n) {
            reset();
            const std::set<std::string> before = namesIn(folder.path());
            EXPECT_EQ(inChild([&] {
                          KillingLayer layer(n);
                          writeFilesTogether(files, false, layer);
                          return 0;
                      }),
                      9)
                << n;
            ASSERT_EQ(recoverInterruptedWrites(targets), AtomicWriteResult::Ok) << n;
            const bool isNew = readFile(folder / "p.icc") == files[0].bytes;
            finished += isNew;
            EXPECT_EQ(namesIn(folder.path()), isNew ? after : before) << "killed before call " << n;
            if (isNew) {
                EXPECT_EQ(readFile(folder / "p.txt"), files[1].bytes) << n;
            } else {
                EXPECT_EQ(readFile(folder / "p.icc"), "old profile") << n;
                if (oldLog) {
                    EXPECT_EQ(readFile(folder / "p.txt"), "old log") << n;
                }
            }
        }
        // Kills after the journal said ready are finished, earlier ones undone.
        EXPECT_GT(finished, 0);
        EXPECT_LT(finished, counting.calls);
    }
}

// A journal planted beside a target by someone who may write in its folder
// is not obeyed: it could otherwise have the next save remove or replace
// any file the user may write. Only a transaction's own side files beside
// its own targets are ever moved; the save then fails, losing nothing.
TEST(FileTransaction, APlantedJournalMovesNothingElsewhere) {
    testing::TempFolder folder;
    std::filesystem::create_directory(folder / "shared");
    std::filesystem::create_directory(folder / "home");
    const std::string shared = (folder / "shared").string(), home = (folder / "home").string();
    const std::string target = shared + "/p.icc";
    const std::vector<std::vector<std::string>> entries = {
        // A foreign target whose "backup" is another foreign file.
        {home + "/notes", home + "/missing", home + "/thesis.doc"},
        // The right target, a foreign "backup".
        {target, target + ".tmp-12", home + "/thesis.doc"},
        // Side names of the right form, but of a target elsewhere only.
        {home + "/notes", home + "/notes.tmp-5", home + "/notes.old-7"},
    };
    for (const auto& entry : entries) {
        SCOPED_TRACE(entry[0] + " " + entry[2]);
        writeFile(home + "/notes", "notes");
        writeFile(home + "/thesis.doc", "thesis");
        writeFile(home + "/notes.old-7", "kept");
        writeFile(target, "old profile");
        writeFile(target + ".journal",
                  "calivant-scanner journal 1\nfile\t" + entry[0] + "\t" + entry[1] + "\t" + entry[2] + "\nprepared\nready\n");
        const std::vector<FileToWrite> files{{target, "new profile"}};
        EXPECT_NE(writeFilesTogether(files, false, systemFileLayer()).result, AtomicWriteResult::Ok);
        EXPECT_EQ(readFile(target), "old profile");
        EXPECT_EQ(readFile(home + "/notes"), "notes");
        EXPECT_EQ(readFile(home + "/thesis.doc"), "thesis");
        EXPECT_EQ(readFile(home + "/notes.old-7"), "kept");
    }
}

// Two processes writing one pair take turns: every pair on the disk comes
// from one writer, and no lock file stays behind.
TEST(FileTransaction, TwoProcessesWritingOnePairTakeTurns) {
    testing::TempFolder folder;
    auto writer = [&](char who) {
        return [&folder, who] {
            for (int round = 0; round < 40; ++round) {
                const std::string text(2000 + round, who);
                const std::vector<FileToWrite> files{{folder / "p.icc", text}, {folder / "p.txt", text}};
                if (writeFilesTogether(files).result != AtomicWriteResult::Ok) return 1;
            }
            return 0;
        };
    };
    const pid_t first = ::fork();
    if (first == 0) ::_exit(writer('a')());
    EXPECT_EQ(writer('b')(), 0);
    int status = 0;
    ::waitpid(first, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(readFile(folder / "p.icc"), readFile(folder / "p.txt"));
    EXPECT_EQ(namesIn(folder.path()), (std::set<std::string>{"p.icc", "p.txt"}));
}

// A writer that finds the lock held waits, then gives up without touching
// the files; read-only files are refused, unless the writer is root.
TEST(FileTransaction, WaitsForTheLockAndRefusesReadOnlyFiles) {
    testing::TempFolder folder;
    writeFile(folder / "p.icc", "old");
    const std::string lockFile = siblingName((folder / "p.icc").string(), ".lock");
    const int held = systemFileLayer().lock(lockFile);
    ASSERT_GE(held, 0);
    const std::vector<FileToWrite> files{{folder / "q.txt", "log"}, {folder / "p.icc", "new"}};
    const FilesWritten busy = writeFilesTogether(files, false, systemFileLayer(), std::chrono::milliseconds(200));
    EXPECT_EQ(busy.result, AtomicWriteResult::Busy);
    EXPECT_EQ(busy.file, 1u);
    systemFileLayer().unlock(lockFile, held);
    EXPECT_EQ(readFile(folder / "p.icc"), "old");
    EXPECT_EQ(namesIn(folder.path()), std::set<std::string>{"p.icc"});

    ::chmod((folder / "p.icc").c_str(), 0444);
    ::chmod(folder.path().c_str(), 0777);
    // An ordinary user (root becomes one in a child) may not replace it;
    // root may, as cp would.
    const int asUser = inChild([&] {
        if (::geteuid() == 0 && ::setuid(65534) != 0) return 3;
        return writeFileAtomically(folder / "p.icc", std::string("new")) == AtomicWriteResult::PermissionDenied ? 0 : 1;
    });
    EXPECT_EQ(asUser, 0);
    EXPECT_EQ(readFile(folder / "p.icc"), "old");
    EXPECT_EQ(namesIn(folder.path()), std::set<std::string>{"p.icc"});
    if (::geteuid() == 0) {
        EXPECT_EQ(writeFileAtomically(folder / "p.icc", std::string("new")), AtomicWriteResult::Ok);
        EXPECT_EQ(readFile(folder / "p.icc"), "new");
    }
}

// Any legal name, up to 255 bytes, can be written: the side names are cut
// to fit and stay apart for names that differ only at their end.
TEST(FileTransaction, LongNamesKeepTheirSideNamesWithinTheLimit) {
    testing::TempFolder folder;
    for (const std::size_t length : {240u, 250u, 255u}) {
        const std::string a(length - 4, 'a');
        for (const std::string& name : {a + ".icc", a.substr(0, length - 5) + "b.icc"}) {
            ASSERT_EQ(writeFileAtomically(folder / name, std::string("x")), AtomicWriteResult::Ok) << length;
            ASSERT_EQ(writeFileAtomically(folder / name, std::string("y")), AtomicWriteResult::Ok) << length;
            EXPECT_EQ(readFile(folder / name), "y");
            for (const char* suffix : {".lock", ".journal", ".tmp-16777215"})
                EXPECT_LE(std::filesystem::path(siblingName((folder / name).string(), suffix)).filename().string().size(),
                          255u);
        }
        EXPECT_NE(siblingName(a + ".icc", ".journal"), siblingName(a.substr(0, length - 5) + "b.icc", ".journal"));
    }
    EXPECT_EQ(siblingName("/x/p.icc", ".lock"), "/x/p.icc.lock");
    // Never cut inside a character.
    const std::string cut = siblingName(std::string(250, 'a') + "\xC3\xA9\xC3\xA9", ".journal");
    EXPECT_TRUE(isValidUtf8(cut));
}

TEST(FileTransaction, KeepsPermissionsAndRefusesFolders) {
    testing::TempFolder folder;
    writeFile(folder / "p.icc", "old");
    ::chmod((folder / "p.icc").c_str(), 04764);
    const mode_t mask = ::umask(022);
    ASSERT_EQ(writeFileAtomically(folder / "p.icc", std::string("new")), AtomicWriteResult::Ok);
    ASSERT_EQ(writeFileAtomically(folder / "q.icc", std::string("new")), AtomicWriteResult::Ok);
    ::umask(mask);
    struct stat s {};
    ASSERT_EQ(::stat((folder / "p.icc").c_str(), &s), 0);
    // The permission bits only: a replaced setuid file is not setuid.
    EXPECT_EQ(s.st_mode & 07777, 0764u);
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
