#include "image/lzw_decoder.h"

#include <gtest/gtest.h>

#include "image/image_fixtures.h"

namespace calivant {
namespace {

// 9-bit codes only; the strips libtiff writes bring the wider ones.
using testing::lzwCodes;

TEST(Lzw, DecodesCodeStreams) {
    constexpr int C = kLzwClear, E = kLzwEnd;
    const std::tuple<std::vector<std::uint8_t>, std::size_t, std::string> cases[] = {
        {lzwCodes({C, 'a', 'b', 258, E}), 100, "abab"},
        {lzwCodes({C, 'a', 258, 259, E}), 100, "aaaaaa"},  // 258 used as it is defined
        {lzwCodes({C, C, 'x', E, 'y', 'z'}), 100, "x"},   // a second Clear; data after the end
        {lzwCodes({C, 'a', 'b'}), 100, "ab"},              // no End of Information
        {lzwCodes({'a', 'b', 258, E}), 100, "abab"},       // no leading Clear
        {lzwCodes({258, E}), 100, "FAIL"},                 // a string code with no table
        {lzwCodes({C, 'a', 'b', C, 258, E}), 100, "FAIL"}, // a string code after Clear
        {lzwCodes({C, 'a', 300, E}), 100, "FAIL"},         // beyond the table
        {{0x00, 0x01, 0x02, 0x03}, 100, "FAIL"},       // the old bit-reversed coding
        {lzwCodes({C, 'a', 'b', 258, E}), 3, "aba"},       // strings past the limit keep their leading bytes
    };
    for (const auto& [data, limit, expected] : cases) {
        std::vector<std::uint8_t> out(limit);
        std::size_t produced = 0;
        const int result = readLzwStrip(data.data(), data.size(), out.data(), limit, produced);
        EXPECT_EQ(result == 0 ? std::string(out.begin(), out.begin() + produced) : "FAIL", expected);
    }
}

TEST(Lzw, DecodesLibtiffStripsInAnyPieces) {
    // Noise fills the table several times: Clears inside the strip, codes of every width.
    const testing::Picture picture = testing::makePicture(120, 90, 3, 8, 4);
    // libtiff writes the one strip at offset 8 and the directory after it.
    const std::string file = testing::writeWithLibtiff(picture, {false, 5});
    auto byte = [&](int i) { return std::uint32_t{static_cast<std::uint8_t>(file[i])}; };
    const std::uint32_t directory = byte(4) | byte(5) << 8 | byte(6) << 16 | byte(7) << 24;
    const std::vector<std::uint8_t> strip(file.begin() + 8, file.begin() + directory);
    const std::string expected(picture.values.begin(), picture.values.end());
    // Fed 1, 3 or 7 bytes at a time into outputs of 1 to 13 bytes.
    for (std::size_t piece : {1u, 3u, 7u}) {
        LzwDecoder decoder;
        startLzw(decoder);
        std::string out;
        for (std::size_t at = 0, capacity = 1; out.size() < expected.size(); capacity = capacity % 13 + 1) {
            std::span<const std::uint8_t> input(strip.data() + at, std::min(piece, strip.size() - at));
            std::string chunk(capacity, '\0');
            std::size_t produced = 0;
            at += input.size();
            ASSERT_EQ(decodeLzw(decoder, input, reinterpret_cast<std::uint8_t*>(chunk.data()), capacity, produced), 0);
            at -= input.size();  // what was left unread
            ASSERT_TRUE(produced > 0 || at < strip.size()) << "stalled";
            out.append(chunk, 0, produced);
        }
        EXPECT_EQ(out, expected) << "pieces of " << piece;
    }
}

}  // namespace
}  // namespace calivant
