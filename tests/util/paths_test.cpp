#include "util/paths.h"

#include <gtest/gtest.h>

#include "util/utf8.h"

namespace calivant {
namespace {

TEST(Paths, JoinFolderAndName) {
    EXPECT_EQ(joinPath("/usr/share/calivant-scanner", "Reference Files"),
              "/usr/share/calivant-scanner/Reference Files");
    EXPECT_EQ(joinPath("/opt/cs/", "Reference Files"), "/opt/cs/Reference Files");
    EXPECT_EQ(joinPath("/", "x"), "/x");
}

TEST(Paths, FolderAndNameOf) {
    EXPECT_EQ(folderOf("/home/ann/scans/it8.tif"), "/home/ann/scans");
    EXPECT_EQ(folderOf("/it8.tif"), "/");
    EXPECT_EQ(folderOf("it8.tif"), ".");
    EXPECT_EQ(folderOf("scans/"), "scans");
    EXPECT_EQ(fileNameOf("/home/ann/scans/it8.tif"), "it8.tif");
    EXPECT_EQ(fileNameOf("it8.tif"), "it8.tif");
}

TEST(Paths, ExtensionIgnoresCase) {
    EXPECT_TRUE(hasExtension("profile.ICM", ".icm"));
    EXPECT_TRUE(hasExtension("a.Icc", ".icc"));
    EXPECT_FALSE(hasExtension("a.icc.txt", ".icc"));
    EXPECT_FALSE(hasExtension("icc", ".icc"));
}

TEST(Utf8, CapsNeverSplitACharacter) {
    EXPECT_EQ(truncateUtf8("abc", 5), "abc");
    EXPECT_EQ(truncateUtf8("abc", 2), "ab");
    // "é" is two bytes, "€" three: a cap inside either drops the whole character.
    EXPECT_EQ(truncateUtf8("a\xC3\xA9", 2), "a");
    EXPECT_EQ(truncateUtf8("a\xC3\xA9", 3), "a\xC3\xA9");
    EXPECT_EQ(truncateUtf8("\xE2\x82\xAC\xE2\x82\xAC", 5), "\xE2\x82\xAC");
    EXPECT_EQ(truncateUtf8("\xE2\x82\xAC", 0), "");
}

}  // namespace
}  // namespace calivant
