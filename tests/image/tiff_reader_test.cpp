#include "image/tiff_reader.h"

#include <gtest/gtest.h>

#include <numeric>

#include "image/image_fixtures.h"
#include "image/lzw_decoder.h"

namespace calivant {
namespace {

using namespace testing;

int readMemory(const std::string& bytes, TargetImage& image) {
    MemoryByteSource source(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    return readTiffImage(source, image);
}

// Orientations 2..8 go through the seven turns and mirrors of transforms.h,
// so this checks them too, in every pixel format and across their tiles.
TEST(TiffReader, ReadsEveryVariantAsLibtiffWroteIt) {
    int n = 0;
    for (int samples : {1, 3, 4})
        for (int bits : {1, 4, 8, 16})
            for (int encoding : {0, 1, 2})  // none, LZW, LZW with the predictor
                for (bool bigEndian : {false, true})
                    for (bool whiteIsZero : {false, true}) {
                        if ((bits < 8 && (samples > 1 || encoding == 2)) || (samples > 1 && whiteIsZero)) continue;
                        const std::uint32_t rowsPerStrip[] = {0, 1, 7};
                        const TiffOptions o{bigEndian, encoding ? 5 : 1, encoding == 2 ? 2 : 1, rowsPerStrip[n % 3],
                                            whiteIsZero ? 0 : -1, 1 + n % 8};
                        const Picture picture = makePicture(67 + n % 5, 66, samples, bits, n + 1);
                        ++n;
                        TargetImage image;
                        ASSERT_EQ(readMemory(writeWithLibtiff(picture, o), image), 0) << n;
                        EXPECT_EQ(image.resolution, 300.0);
                        EXPECT_TRUE(imageShowsPicture(image, picture, o.orientation, whiteIsZero))
                            << samples << " x " << bits << " bits, encoding " << encoding << (bigEndian ? " MM" : " II")
                            << ", rows/strip " << o.rowsPerStrip << ", orientation " << o.orientation;
                    }
}

TEST(TiffReader, HandBuiltFilesReadOrAreRefused) {
    // Two columns, three rows of red, green, blue bytes 0..17, top row first, the same as LZW
    // literals at offset 26; each case adds entries to these, applied in order after them.
    std::vector<int> codes(18);
    std::iota(codes.begin(), codes.end(), 0);
    const std::vector<std::uint8_t> pixels(codes.begin(), codes.end());
    codes.insert(codes.begin(), kLzwClear);
    std::vector<std::uint8_t> data = pixels, lzw = lzwCodes(codes);
    data.insert(data.end(), lzw.begin(), lzw.end());
    const TiffEntries base = {{256, 3, {2}}, {257, 3, {3}}, {258, 3, {8, 8, 8}},
                              {262, 3, {2}}, {273, 4, {8}}, {277, 3, {3}}};
    const std::uint16_t S = 3, L = 4;
    const TiffEntries twoOffsets = {{273, L, {8, 8}}, {279, L, {18, 18}}};
    struct Case {
        std::string what;
        TiffEntries added;
        int result;
        double resolution = 300.0;
    };
    std::vector<Case> cases = {
        {"valid", {{279, L, {18}}}, 0},
        {"one strip without byte counts", {}, 0},
        {"strips without byte counts", {{278, S, {1}}, {273, L, {8, 14, 20}}}, 1},
        {"uncompressed byte counts", {{278, S, {1}}, {279, L, {6, 1, 100000}}, {273, L, {8, 14, 20}}}, 0},
        {"two offsets for one strip", twoOffsets, 0},
        {"fewer offsets than strips", {{278, S, {1}}, {273, L, {8, 14}}, {279, L, {6, 6, 6}}}, 1},
        {"fewer offsets, offsets last", {{278, S, {1}}, {279, L, {6, 6, 6}}, {273, L, {8, 14}}}, 1},
        {"the later tag's count is the strip count", {{278, S, {1}}, {273, L, {8, 14, 20}}, {279, L, {6, 6}}}, 1},
        {"more byte counts than strips", {{278, S, {1}}, {273, L, {8, 14, 20}}, {279, L, {6, 6, 6, 6, 6}}}, 0},
        {"LZW", {{259, S, {5}}, {273, L, {26}}, {279, L, {std::uint32_t(lzw.size())}}}, 0},
        {"LZW cut short by its byte count", {{259, S, {5}}, {273, L, {26}}, {279, L, {10}}}, 1},
        {"old-style LZW", {{259, S, {5}}, {279, L, {18}}}, 1},  // 00 01 ...
        {"resolution in inches", {{282, 5, {600, 2}}, {296, S, {2}}}, 0, 300.0},
        {"resolution in centimetres", {{282, 5, {300, 1}}, {296, S, {3}}}, 0, 300.0 / 2.540005},
        {"resolution over zero", {{282, 5, {600, 0}}}, 0, 300.0},
        {"bits 8, 8, 16", {{258, S, {8, 8, 16}}}, 1},
        {"bits 4, 4, 4", {{258, S, {4, 4, 4}}}, 1},
        {"two bits values", {{258, S, {8, 8}}}, 1},
        {"the predictor on 4-bit samples", {{258, S, {4}}, {277, S, {1}}, {262, S, {1}}, {317, S, {2}}}, 1},
        // A 48-bit 16000 x 12000 scan claimed by a file of a few hundred bytes.
        {"uncompressed size the file cannot hold", {{256, L, {16000}}, {257, L, {12000}}, {258, S, {16, 16, 16}}}, 1},
        {"LZW size the file cannot hold",
         {{256, L, {16000}}, {257, L, {12000}}, {258, S, {16, 16, 16}}, {259, S, {5}}, {279, L, {0xFFFFFFF0}}}, 1},
    };
    // JPEG, planar, palette, CMYK, orientation 9, two samples, predictor 3,
    // fill order 2, subfile types 2, width 0, colour bits with one sample.
    for (const auto& [tag, value] : std::vector<std::pair<std::uint16_t, std::uint32_t>>{
             {259, 7}, {284, 2}, {262, 3}, {262, 5}, {274, 9}, {277, 2}, {317, 3}, {266, 2}, {255, 2}, {254, 2},
             {256, 0}, {277, 1}})
        cases.push_back({"tag " + std::to_string(tag) + " = " + std::to_string(value), {{tag, S, {value}}}, 1});
    for (const Case& c : cases) {
        TiffEntries entries = base;
        entries.insert(entries.end(), c.added.begin(), c.added.end());
        TargetImage image;
        ASSERT_EQ(allocateImage(image, PixelFormat::Gray8, 2, 2, 1.0), 0);
        ASSERT_EQ(readMemory(buildTiff(data, entries), image), c.result) << c.what;
        if (c.result != 0) {
            EXPECT_TRUE(image.rows.empty() && image.format == PixelFormat::None) << c.what;
            continue;
        }
        ASSERT_EQ(image.rows.size(), 3u) << c.what;
        EXPECT_DOUBLE_EQ(image.resolution, c.resolution) << c.what;
        for (std::size_t i = 0; i < 18; ++i)  // rows bottom first, blue, green, red
            EXPECT_EQ(image.rows[2 - i / 6][i % 6], pixels[i / 3 * 3 + 2 - i % 3]) << c.what << " byte " << i;
    }
    // Broken in one place: byte order "IM", version 43, four billion strip offsets.
    TiffEntries entries = base;
    entries.insert(entries.end(), twoOffsets.begin(), twoOffsets.end());
    const std::size_t count = 8 + data.size() + 2 + 12 * base.size() + 4;
    for (const auto& [at, n, value] : {std::tuple<std::size_t, int, char>{1, 1, 'M'}, {2, 1, '+'}, {count, 4, '\377'}}) {
        std::string broken = buildTiff(data, entries);
        std::fill_n(broken.begin() + at, n, value);
        TargetImage image;
        EXPECT_EQ(readMemory(broken, image), 1) << "byte " << at;
    }
}

TEST(TiffReader, ReadsFilesFromDiskAndFailsCleanlyOnCutOnes) {
    // A flat picture that LZW squeezes a thousandfold still reads.
    const Picture flat{3000, 300, 3, 8, std::vector<std::uint16_t>(3000 * 300 * 3, 200)};
    TempFolder folder;
    writeFile(folder / "flat.tif", writeWithLibtiff(flat, {false, 5, 2}));
    EXPECT_LT(std::filesystem::file_size(folder / "flat.tif") * 500, flat.values.size());
    TargetImage image;
    ASSERT_EQ(readTiffImage(folder / "flat.tif", image), 0);
    EXPECT_TRUE(imageShowsPicture(image, flat));
    EXPECT_EQ(readTiffImage(folder / "missing.tif", image), 1);
    const Picture picture = makePicture(6, 7, 3, 16);
    const std::string file = writeWithLibtiff(picture, {true, 5, 2, 3});
    for (std::size_t size = 0; size < file.size(); ++size)
        if (readMemory(file.substr(0, size), image) == 0)
            EXPECT_TRUE(imageShowsPicture(image, picture)) << "cut at " << size;
        else
            EXPECT_TRUE(image.rows.empty()) << "cut at " << size;
}

}  // namespace
}  // namespace calivant
