#include "util/atomic_file.h"

#include <gtest/gtest.h>

#include "support/temp_folder.h"

namespace calivant {
namespace {

using testing::readFile;
using testing::TempFolder;
using testing::writeFile;

std::size_t entriesIn(const std::filesystem::path& folder) {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder)) ++n;
    return n;
}

TEST(AtomicFile, ReplacesOnlyWhenEverythingWasWritten) {
    TempFolder folder;
    const auto file = folder / "profile.icm";
    ASSERT_EQ(writeFileAtomically(file, std::string("first")), AtomicWriteResult::Ok);
    EXPECT_EQ(readFile(file), "first");

    // A writer that fails half-way leaves the old file and no temporary.
    const AtomicWriteResult r = writeFileAtomically(file, [](std::ostream& out) {
        out << "partial";
        return 1;
    });
    EXPECT_EQ(r, AtomicWriteResult::WriteFailed);
    EXPECT_EQ(readFile(file), "first");
    EXPECT_EQ(entriesIn(folder.path()), 1u);

    // A missing folder is an error unless asked to create it.
    EXPECT_EQ(writeFileAtomically(folder / "new/sub/x.txt", std::string("x")), AtomicWriteResult::CannotCreate);
    EXPECT_EQ(writeFileAtomically(folder / "new/sub/x.txt", std::string("x"), true), AtomicWriteResult::Ok);
    // A folder standing where the file should go cannot be replaced.
    std::filesystem::create_directory(folder / "dir.icm");
    EXPECT_EQ(writeFileAtomically(folder / "dir.icm", std::string("x")), AtomicWriteResult::CannotReplace);
}

TEST(AtomicFile, KeepsPermissionsAndWritesThroughLinks) {
    TempFolder folder;
    const auto real = folder / "real.icc";
    writeFile(real, "old");
    std::filesystem::permissions(real, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                                           std::filesystem::perms::group_read);
    std::filesystem::create_symlink("real.icc", folder / "link.icc");
    ASSERT_EQ(writeFileAtomically(folder / "link.icc", std::string("new")), AtomicWriteResult::Ok);
    EXPECT_TRUE(std::filesystem::is_symlink(folder / "link.icc"));
    EXPECT_EQ(readFile(real), "new");
    EXPECT_EQ(std::filesystem::status(real).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                  std::filesystem::perms::group_read);
}

}  // namespace
}  // namespace calivant
