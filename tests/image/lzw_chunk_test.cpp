// The whole-chunk decoder against the incremental one on the same data:
// libtiff's streams, cut short, with bytes damaged, random bytes, and a
// table filled without a Clear. Same bytes out, same refusals.
#include "image/lzw_decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/image_fixtures.h"
#include "support/temp_folder.h"

namespace calivant {
namespace {

// The output, or "FAIL".
std::string incremental(const std::vector<std::uint8_t>& data, std::size_t limit) {
    std::string out(limit, '\0');
    std::size_t produced = 0;
    if (readLzwStrip(data.data(), data.size(), reinterpret_cast<std::uint8_t*>(out.data()), limit, produced) != 0)
        return "FAIL";
    out.resize(produced);
    return out;
}

std::string whole(const std::vector<std::uint8_t>& data, std::size_t limit) {
    if (isOldStyleLzw(data)) return "FAIL";
    LzwChunkDecoder decoder;
    prepareLzwChunk(decoder, limit);
    std::size_t produced = 0;
    if (decodeLzwChunk(decoder, data, limit, produced) != 0) return "FAIL";
    const auto* out = reinterpret_cast<const char*>(decoder.bytes.data() + kLzwOutputStart);
    return {out, produced};
}

// The first strip of a one-strip LZW file libtiff wrote.
std::vector<std::uint8_t> libtiffStream(const testing::Picture& picture, int predictor) {
    testing::TempFolder folder;
    testing::TiffOptions o;
    o.compression = 5;
    o.predictor = predictor;
    const std::string file = testing::writeWithLibtiff(picture, o);
    const std::uint32_t at = testing::entryArrayValue(file, 273, 0);
    const std::uint32_t count = testing::entryArrayValue(file, 279, 0);
    return {file.begin() + at, file.begin() + at + count};
}

TEST(LzwChunk, SameOutputAndRefusalsAsTheIncrementalDecoder) {
    std::vector<std::vector<std::uint8_t>> streams = {
        libtiffStream(testing::makePicture(300, 40, 3, 16), 2),
        libtiffStream(testing::makePicture(500, 60, 3, 8), 1),
        libtiffStream(testing::makePicture(64, 64, 1, 8, 5), 2),
    };
    // Literals until the table is full, codes widening as they must, and
    // one more: refused once the table has no room.
    std::vector<std::uint8_t> full;
    std::uint64_t bits = 0;
    int count = 0;
    auto put = [&](int code, int width) {
        bits = (bits << width) | static_cast<std::uint64_t>(code);
        for (count += width; count >= 8; count -= 8) full.push_back(static_cast<std::uint8_t>(bits >> (count - 8)));
    };
    put(256, 9);
    put('a', 9);
    for (int nextFree = 258, width = 9; nextFree <= 4097; ++nextFree) {
        put('a' + nextFree % 3, width);
        if (nextFree + 1 > (1 << width) - 2 && width < 12) ++width;
    }
    put(0, 0);
    if (count > 0) full.push_back(static_cast<std::uint8_t>(bits << (8 - count)));
    ASSERT_EQ(incremental(full, 1u << 20), "FAIL");
    ASSERT_EQ(incremental(full, 3840).size(), 3840u);
    streams.push_back(full);
    const std::size_t base = streams.size();
    for (std::size_t s = 0; s < base; ++s) {
        const std::vector<std::uint8_t> valid = streams[s];
        for (std::size_t cut : {valid.size() / 3, valid.size() - 1})
            streams.emplace_back(valid.begin(), valid.begin() + static_cast<std::ptrdiff_t>(cut));
        for (int flip = 0; flip < 12; ++flip) {
            std::vector<std::uint8_t> damaged = valid;
            damaged[(flip * 7919u + 13) % damaged.size()] ^= static_cast<std::uint8_t>(1u << (flip % 8));
            streams.push_back(damaged);
        }
    }
    for (std::size_t s = 0; s < streams.size(); ++s) {
        const std::size_t full = incremental(streams[s], 1u << 20).size();
        for (std::size_t limit : {std::size_t{1} << 20, full, full / 2 + 1, std::size_t{3}}) {
            SCOPED_TRACE("stream " + std::to_string(s) + ", limit " + std::to_string(limit));
            EXPECT_EQ(whole(streams[s], limit), incremental(streams[s], limit));
        }
    }
}

}  // namespace
}  // namespace calivant
