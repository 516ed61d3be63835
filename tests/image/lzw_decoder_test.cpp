#include "image/lzw_decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/image_fixtures.h"
#include "support/temp_folder.h"

namespace calivant {
namespace {

constexpr int kClear = 256;
constexpr int kEnd = 257;

// Packs codes most significant bit first, each with the width given.
std::vector<std::uint8_t> pack(const std::vector<std::pair<int, int>>& codes) {
    std::vector<std::uint8_t> out;
    std::uint64_t bits = 0;
    int count = 0;
    for (const auto& [code, width] : codes) {
        bits = (bits << width) | static_cast<std::uint64_t>(code);
        count += width;
        while (count >= 8) {
            out.push_back(static_cast<std::uint8_t>(bits >> (count - 8)));
            count -= 8;
        }
    }
    if (count > 0) out.push_back(static_cast<std::uint8_t>(bits << (8 - count)));
    return out;
}

// Decodes with readLzwStrip; returns the output, or "FAIL".
std::string decode(const std::vector<std::uint8_t>& data, std::size_t limit = 100) {
    std::string out(limit, '\0');
    std::size_t produced = 0;
    if (readLzwStrip(data.data(), data.size(), reinterpret_cast<std::uint8_t*>(out.data()), limit, produced) != 0)
        return "FAIL";
    out.resize(produced);
    return out;
}

std::vector<std::pair<int, int>> nineBit(std::initializer_list<int> codes) {
    std::vector<std::pair<int, int>> out;
    for (int c : codes) out.emplace_back(c, 9);
    return out;
}

TEST(Lzw, DecodesStringsAndTheCodeBeingDefined) {
    EXPECT_EQ(decode(pack(nineBit({kClear, 'a', 'b', 258, kEnd}))), "abab");
    // 258 used as it is defined: "a" + its own first byte.
    EXPECT_EQ(decode(pack(nineBit({kClear, 'a', 258, 259, kEnd}))), "aaaaaa");
    // Data after End of Information is ignored; so is a second Clear.
    EXPECT_EQ(decode(pack(nineBit({kClear, kClear, 'x', kEnd, 'y', 'z'}))), "x");
    // Without End of Information decoding stops with the input.
    EXPECT_EQ(decode(pack(nineBit({kClear, 'a', 'b'}))), "ab");
}

TEST(Lzw, DataWithoutALeadingClearDecodesAsIfItHadOne) {
    EXPECT_EQ(decode(pack(nineBit({'a', 'b', 258, kEnd}))), "abab");
    // Its first code has no table to refer to.
    EXPECT_EQ(decode(pack(nineBit({258, kEnd}))), "FAIL");
}

TEST(Lzw, StringsPastTheLimitKeepTheirLeadingBytes) {
    const auto data = pack(nineBit({kClear, 'a', 'b', 258, kEnd}));
    EXPECT_EQ(decode(data, 3), "aba");
    EXPECT_EQ(decode(data, 2), "ab");
    EXPECT_EQ(decode(data, 0), "");
}

TEST(Lzw, RefusesCodesOutsideTheTable) {
    EXPECT_EQ(decode(pack(nineBit({kClear, 'a', 300, kEnd}))), "FAIL");
    // A string code straight after Clear.
    EXPECT_EQ(decode(pack(nineBit({kClear, 'a', 'b', kClear, 258, kEnd}))), "FAIL");
    // The old bit-reversed coding.
    EXPECT_EQ(decode({0x00, 0x01, 0x02, 0x03}), "FAIL");
}

TEST(Lzw, CodesWidenAtTheEarlyChangePoints) {
    // 253 literals after the first make codes 258..510; the code after them
    // is the first 10-bit one.
    std::vector<std::pair<int, int>> codes{{kClear, 9}, {'a', 9}};
    std::string expected = "a";
    for (int i = 0; i < 253; ++i) {
        codes.emplace_back('b', 9);
        expected += 'b';
    }
    codes.emplace_back(258, 10);  // "ab"
    expected += "ab";
    codes.emplace_back(kEnd, 10);
    EXPECT_EQ(decode(pack(codes), 1000), expected);
}

TEST(Lzw, DecodesLibtiffStripsInAnyPieces) {
    testing::TempFolder folder;
    // Noisy 8-bit data fills the table several times: Clears inside the
    // strip and codes of every width.
    const testing::Picture picture = testing::makePicture(120, 90, 3, 8, 4);
    testing::TiffOptions options;
    options.compression = 5;
    const std::string file = testing::writeWithLibtiff(folder.path(), picture, options);
    const std::uint32_t offset = testing::entryArrayValue(file, 273, 0);
    const std::uint32_t count = testing::entryArrayValue(file, 279, 0);
    const std::vector<std::uint8_t> strip(file.begin() + offset, file.begin() + offset + count);

    std::string expected;
    for (std::uint16_t v : picture.values) expected += static_cast<char>(v);
    ASSERT_EQ(decode(strip, expected.size()), expected);

    // The same strip fed a few bytes at a time into odd-sized outputs.
    for (std::size_t piece : {1u, 3u, 7u}) {
        LzwDecoder decoder;
        startLzw(decoder);
        std::string out;
        std::size_t at = 0;
        std::size_t capacity = 1;
        while (out.size() < expected.size()) {
            std::span<const std::uint8_t> input(strip.data() + at, std::min(piece, strip.size() - at));
            const std::size_t before = input.size();
            std::string chunk(capacity, '\0');
            std::size_t produced = 0;
            ASSERT_EQ(decodeLzw(decoder, input, reinterpret_cast<std::uint8_t*>(chunk.data()), capacity, produced), 0);
            out.append(chunk, 0, produced);
            at += before - input.size();
            capacity = capacity % 13 + 1;
            ASSERT_TRUE(produced > 0 || at < strip.size()) << "stalled";
        }
        EXPECT_EQ(out, expected) << "pieces of " << piece;
    }
}

TEST(Lzw, LargestOutputBoundsEveryStrip) {
    // A flat strip compresses by hundreds to one, still within the bound.
    testing::TempFolder folder;
    testing::Picture flat;
    flat.width = 2000;
    flat.height = 200;
    flat.samples = 1;
    flat.bits = 8;
    flat.values.assign(2000 * 200, 77);
    testing::TiffOptions options;
    options.compression = 5;
    const std::string file = testing::writeWithLibtiff(folder.path(), flat, options);
    const std::uint32_t count = testing::entryArrayValue(file, 279, 0);
    EXPECT_GT(400000u / count, 100u);
    EXPECT_GE(lzwLargestOutput(count), 400000u);
}

}  // namespace
}  // namespace calivant
