#include "util/atomic_file.h"

#include <gtest/gtest.h>

#include "support/temp_folder.h"

namespace calivant {
namespace {

TEST(AtomicFile, ReplacesOnlyAWholeFileAndKeepsPermissionsAndLinks) {
    testing::TempFolder folder;
    namespace fs = std::filesystem;
    const auto real = folder / "real.icc", link = folder / "link.icc";
    const auto perms = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    ASSERT_EQ(writeFileAtomically(real, std::string("first")), AtomicWriteResult::Ok);
    fs::permissions(real, perms);
    fs::create_symlink("real.icc", link);
    ASSERT_EQ(writeFileAtomically(link, std::string("new")), AtomicWriteResult::Ok);
    EXPECT_TRUE(fs::is_symlink(link) && testing::readFile(real) == "new" && fs::status(real).permissions() == perms);
    // A writer that fails half-way leaves the old file and no temporary.
    auto partial = [](std::ostream& out) { out << "partial"; return 1; };
    EXPECT_EQ(writeFileAtomically(real, partial), AtomicWriteResult::WriteFailed);
    EXPECT_EQ(testing::readFile(real), "new");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 2);
    // A missing folder is made only when asked; a folder in the way stays.
    EXPECT_EQ(writeFileAtomically(folder / "new/sub/x.txt", std::string("x")), AtomicWriteResult::CannotCreate);
    EXPECT_EQ(writeFileAtomically(folder / "new/sub/x.txt", std::string("x"), true), AtomicWriteResult::Ok);
    EXPECT_EQ(writeFileAtomically(folder / "new", std::string("x")), AtomicWriteResult::CannotReplace);
}

}  // namespace
}  // namespace calivant
