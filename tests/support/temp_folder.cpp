#include "support/temp_folder.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

namespace calivant::testing {

TempFolder::TempFolder() {
    std::random_device random;
    do path_ = std::filesystem::temp_directory_path() / ("calivant-test-" + std::to_string(random()));
    while (!std::filesystem::create_directory(path_));
}

TempFolder::~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string readFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::filesystem::path& file, const std::string& bytes) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

std::filesystem::path testDataPath(const std::string& relative) {
    return std::filesystem::path(CALIVANT_TEST_DATA_DIR) / relative;
}

::testing::AssertionResult matchesGolden(const std::string& bytes, const std::string& goldenRelative) {
    const std::filesystem::path golden = testDataPath(goldenRelative);
    if (const char* update = std::getenv("CALIVANT_UPDATE_GOLDEN"); update && std::string(update) == "1") {
        writeFile(golden, bytes);
        return ::testing::AssertionSuccess() << "updated " << golden;
    }
    const std::string expected = readFile(golden);
    if (expected == bytes) return ::testing::AssertionSuccess();
    const auto differ = std::mismatch(expected.begin(), expected.end(), bytes.begin(), bytes.end()).first;
    return ::testing::AssertionFailure()
           << "output differs from " << golden << " at byte offset " << (differ - expected.begin()) << " (line "
           << std::count(expected.begin(), differ, '\n') + 1 << "); sizes " << bytes.size() << " vs golden "
           << expected.size() << ". If the change is intended, rerun with CALIVANT_UPDATE_GOLDEN=1.";
}

std::string iccPartAt(const std::string& profile, std::size_t offset) {
    const auto big32 = [&](std::size_t at) {
        std::size_t v = 0;
        for (std::size_t i = at; i < at + 4 && at + 4 <= profile.size(); ++i)
            v = (v << 8) | static_cast<unsigned char>(profile[i]);
        return v;
    };
    if (offset < 128) return "header";
    const std::size_t count = big32(128);
    if (offset < 132 + 12 * count) return "tag table";
    for (std::size_t entry = 132; entry < 132 + 12 * count; entry += 12)
        if (offset >= big32(entry + 4) && offset < big32(entry + 4) + big32(entry + 8))
            return "tag " + profile.substr(entry, 4);
    return "padding or end of file";
}

}  // namespace calivant::testing
