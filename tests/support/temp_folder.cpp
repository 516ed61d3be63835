#include "support/temp_folder.h"

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

namespace calivant::testing {

TempFolder::TempFolder() {
    std::random_device random;
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (;;) {
        path_ = base / ("calivant-test-" + std::to_string(random()));
        if (std::filesystem::create_directory(path_)) break;
    }
}

TempFolder::~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string readFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void writeFile(const std::filesystem::path& file, const std::string& bytes) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::filesystem::path testDataPath(const std::string& relative) {
    return std::filesystem::path(CALIVANT_TEST_DATA_DIR) / relative;
}

::testing::AssertionResult matchesGolden(const std::string& bytes, const std::string& goldenRelative) {
    const std::filesystem::path golden = testDataPath(goldenRelative);
    const char* update = std::getenv("CALIVANT_UPDATE_GOLDEN");
    if (update && std::string(update) == "1") {
        writeFile(golden, bytes);
        return ::testing::AssertionSuccess() << "updated " << golden;
    }
    if (!std::filesystem::exists(golden))
        return ::testing::AssertionFailure() << "golden file missing: " << golden
                                             << " (run with CALIVANT_UPDATE_GOLDEN=1 to create it)";
    const std::string expected = readFile(golden);
    if (expected == bytes) return ::testing::AssertionSuccess();
    std::size_t offset = 0;
    while (offset < expected.size() && offset < bytes.size() && expected[offset] == bytes[offset]) ++offset;
    std::size_t line = 1;
    for (std::size_t i = 0; i < offset && i < expected.size(); ++i)
        if (expected[i] == '\n') ++line;
    return ::testing::AssertionFailure()
           << "output differs from " << golden << " at byte offset " << offset << " (line " << line
           << "); sizes " << bytes.size() << " vs golden " << expected.size()
           << ". If the change is intended, rerun with CALIVANT_UPDATE_GOLDEN=1.";
}

}  // namespace calivant::testing

namespace calivant::testing {

std::string iccPartAt(const std::string& profile, std::size_t offset) {
    if (offset < 128) return "header";
    auto big32 = [&](std::size_t at) -> std::uint32_t {
        if (at + 4 > profile.size()) return 0;
        std::uint32_t v = 0;
        for (std::size_t i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(profile[at + i]);
        return v;
    };
    const std::uint32_t count = big32(128);
    if (offset < 132 + 12 * static_cast<std::size_t>(count)) return "tag table";
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t entry = 132 + 12 * static_cast<std::size_t>(i);
        const std::uint32_t start = big32(entry + 4);
        const std::uint32_t size = big32(entry + 8);
        if (offset >= start && offset < static_cast<std::size_t>(start) + size)
            return "tag " + profile.substr(entry, 4);
    }
    return "padding or end of file";
}

}  // namespace calivant::testing
