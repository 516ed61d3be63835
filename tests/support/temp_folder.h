#pragma once
// A fresh folder under the system's temporary folder, removed with its
// contents when the test ends.

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

namespace calivant::testing {

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

std::string readFile(const std::filesystem::path& file);
void writeFile(const std::filesystem::path& file, const std::string& bytes);

// Where checked-in test data lives (tests/data).
std::filesystem::path testDataPath(const std::string& relative);

// Compares bytes with a golden file, naming the first differing offset and its
// line; with CALIVANT_UPDATE_GOLDEN=1 in the environment, rewrites the file.
::testing::AssertionResult matchesGolden(const std::string& bytes, const std::string& goldenRelative);

// Where a byte offset of an ICC profile lies: "header", "tag table", "tag
// A2B0" and so on; for naming the first difference from a golden profile.
std::string iccPartAt(const std::string& profile, std::size_t offset);

}  // namespace calivant::testing
