// Tiled files read exactly as the same picture in strips, and every refusal
// says why.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "image/image_fixtures.h"
#include "image/tiff_reader.h"

namespace calivant {
namespace {

using testing::buildTiff;
using testing::makePicture;
using testing::Picture;
using testing::TiffOptions;
using testing::writeWithLibtiff;

int readMemory(const std::string& bytes, TargetImage& image, TiffProblem& problem) {
    MemoryByteSource source(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    return readTiffImage(source, image, problem);
}

TiffProblem problemOf(const std::string& bytes) {
    TargetImage image;
    TiffProblem problem = TiffProblem::None;
    const int result = readMemory(bytes, image, problem);
    EXPECT_EQ(result != 0, problem != TiffProblem::None);
    return problem;
}

::testing::AssertionResult sameImage(const TargetImage& a, const TargetImage& b) {
    if (a.format != b.format || a.width != b.width || a.height != b.height || a.stride != b.stride)
        return ::testing::AssertionFailure() << "records differ";
    for (std::size_t r = 0; r < a.rows.size(); ++r)
        if (std::memcmp(a.rows[r], b.rows[r], static_cast<std::size_t>(a.stride)) != 0)
            return ::testing::AssertionFailure() << "row " << r << " differs";
    return ::testing::AssertionSuccess();
}

// The picture tiled three ways (partial tiles right and at the bottom) must
// show the picture and give the strip path's image byte for byte.
void expectSameAsStrips(const Picture& picture, TiffOptions o, bool inverted) {
    TargetImage strips;
    TiffProblem problem = TiffProblem::None;
    o.rowsPerStrip = 5;
    ASSERT_EQ(readMemory(writeWithLibtiff(picture, o), strips, problem), 0);
    for (const auto& [width, length] : {std::pair{16u, 16u}, std::pair{32u, 48u}, std::pair{80u, 16u}}) {
        o.tileWidth = width;
        o.tileLength = length;
        TargetImage tiles;
        ASSERT_EQ(readMemory(writeWithLibtiff(picture, o), tiles, problem), 0) << tiffProblemText(problem);
        EXPECT_TRUE(testing::imageShowsPicture(tiles, picture, o.orientation, inverted)) << width << "x" << length;
        // Bilevel rows end in bits no pixel owns; what the file held there differs.
        if (picture.bits > 1) {
            EXPECT_TRUE(sameImage(tiles, strips)) << width << "x" << length;
        }
    }
}

TEST(TiffTiles, ReadLikeStrips) {
    for (int bits : {8, 16})
        for (int samples : {3, 4})
            for (bool bigEndian : {false, true})
                for (const auto& [compression, predictor] :
                     {std::pair{1, 1}, std::pair{5, 1}, std::pair{5, 2}, std::pair{8, 1}, std::pair{8, 2}, std::pair{32773, 1}}) {
                    SCOPED_TRACE(::testing::Message() << bits << " bits, " << samples << " samples, big endian "
                                                      << bigEndian << ", " << compression << "/" << predictor);
                    expectSameAsStrips(makePicture(37, 29, samples, bits),
                                       {bigEndian, compression, predictor, 0, -1, 1, 0, 0, 1}, false);
                }
    for (int bits : {1, 4, 8, 16}) {
        SCOPED_TRACE(::testing::Message() << bits << " bits, white is zero");
        expectSameAsStrips(makePicture(37, 29, 1, bits), {false, 5, bits >= 8 ? 2 : 1, 0, 0, 1, 0, 0, 1}, true);
    }
    for (int orientation = 2; orientation <= 8; ++orientation) {
        SCOPED_TRACE(::testing::Message() << "orientation " << orientation);
        expectSameAsStrips(makePicture(41, 23, 3, 16), {false, 1, 1, 0, -1, orientation, 0, 0, 1}, false);
    }
}

TEST(TiffTiles, RefusalsSayWhy) {
    const Picture picture = makePicture(37, 29, 3, 16);
    // A 1 x 1 RGB file with one entry changed or added.
    auto rgb = [](std::uint16_t tag, std::vector<std::uint32_t> values) {
        testing::TiffEntries entries = {{256, 3, {1}}, {257, 3, {1}}, {258, 3, {8, 8, 8}}, {262, 3, {2}},
                                        {273, 4, {8}}, {277, 3, {3}}, {279, 4, {3}}};
        bool replaced = false;
        for (auto& [t, type, v] : entries)
            if (t == tag) v = values, replaced = true;
        if (!replaced) entries.push_back({tag, 3, values});
        std::sort(entries.begin(), entries.end());
        return buildTiff({10, 20, 30}, entries);
    };
    // A 48-bit picture in one strip or tile, claimed by a file of a few hundred bytes.
    auto claim = [](std::uint32_t width, std::uint32_t height, bool tiles) {
        testing::TiffEntries e = {{256, 4, {width}}, {257, 4, {height}}, {258, 3, {16, 16, 16}}, {262, 3, {2}}};
        if (tiles) e.insert(e.end(), {{277, 3, {3}}, {322, 4, {width}}, {323, 4, {height}}, {324, 4, {8}}, {325, 4, {64}}});
        else e.insert(e.end(), {{273, 4, {8}}, {277, 3, {3}}, {279, 4, {64}}});
        return buildTiff(std::vector<std::uint8_t>(64, 0), e);
    };
    const struct {
        const char* what;
        std::string file;
        TiffProblem problem;
    } cases[] = {
        {"valid", rgb(259, {1}), TiffProblem::None},
        {"not a TIFF", "GIF89a", TiffProblem::NotTiff},
        {"header cut", writeWithLibtiff(picture).substr(0, 6), TiffProblem::Truncated},
        {"JPEG 2000", rgb(259, {34712}), TiffProblem::CompressionNotSupported},
        {"JPEG data that is not JPEG", rgb(259, {7}), TiffProblem::DamagedData},
        {"signed samples", writeWithLibtiff(picture, {false, 1, 1, 0, -1, 1, 0, 0, 2}),
         TiffProblem::SampleFormatNotSupported},
        {"16-bit floating point", writeWithLibtiff(makePicture(9, 7, 1, 16), {false, 1, 1, 0, -1, 1, 0, 0, 3}),
         TiffProblem::SampleFormatNotSupported},
        {"one sample of three floating point", rgb(339, {1, 1, 3}), TiffProblem::SampleFormatNotSupported},
        {"12 bits", rgb(258, {12}), TiffProblem::BitsNotSupported},
        {"two samples", rgb(277, {2}), TiffProblem::SamplesNotSupported},
        {"palette", rgb(262, {3}), TiffProblem::PhotometricNotSupported},
        {"planar", rgb(284, {2}), TiffProblem::PlanarNotSupported},
        {"orientation 9", rgb(274, {9}), TiffProblem::OrientationInvalid},
        {"predictor 3", rgb(317, {3}), TiffProblem::PredictorNotSupported},
        {"width 0", rgb(256, {0}), TiffProblem::InvalidSize},
        {"200000 pixels wide", claim(200000, 1, false), TiffProblem::TooWide},
        {"20000 x 20000", claim(20000, 20000, false), TiffProblem::RasterTooLarge},
        // At the limits themselves: the size is taken, and the small file fails.
        {"2147483647 pixels wide", claim(2147483647, 1, false), TiffProblem::TooWide},
        {"exactly 1.5 GiB with the row table", claim(4, 50331648, false), TiffProblem::Truncated},
        {"a tile claimed by a small file", claim(16000, 12000, true), TiffProblem::Truncated},
        {"tile width 0", claim(0, 1, true), TiffProblem::InvalidSize},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(problemOf(c.file), c.problem);
    }
}

// A strip of more rows than one read holds is decoded a band at a time, each decoder
// carrying on where the last band stopped (a run or string cut by the band's end).
TEST(TiffTiles, LongStripsDecodeInBands) {
    const Picture picture = makePicture(9001, 23, 3, 8);  // 27003 bytes a row: 9 rows a read
    for (const auto& [compression, predictor] : {std::pair{5, 2}, std::pair{8, 2}, std::pair{32773, 1}}) {
        SCOPED_TRACE(compression);
        TargetImage image;
        TiffProblem problem = TiffProblem::None;
        ASSERT_EQ(readMemory(writeWithLibtiff(picture, {.compression = compression, .predictor = predictor}), image,
                             problem),
                  0)
            << tiffProblemText(problem);
        EXPECT_TRUE(testing::imageShowsPicture(image, picture));
    }
    // A run that ends the data and crosses into the last band: 2667 rows of 96 bytes are a
    // run of 32 bytes and 2000 of 128, and a read holds 2666 rows.
    std::vector<std::uint8_t> runs = {0xE1, 77};
    for (int i = 0; i < 2000; ++i) runs.insert(runs.end(), {0x81, 77});
    const std::string flat = buildTiff(runs, {{256, 3, {32}}, {257, 3, {2667}}, {258, 3, {8, 8, 8}}, {259, 3, {32773}},
                                              {262, 3, {2}}, {273, 4, {8}}, {277, 3, {3}}, {279, 4, {4002}}});
    TargetImage image;
    TiffProblem problem = TiffProblem::None;
    ASSERT_EQ(readMemory(flat, image, problem), 0) << tiffProblemText(problem);
    EXPECT_EQ(image.rows[0][95], 77);
}

// The largest difference between an RGB image and a picture's samples.
int largestDifference(const TargetImage& image, const Picture& p) {
    int largest = 0;
    for (std::int32_t y = 0; y < p.height; ++y)
        for (std::int32_t x = 0; x < p.width; ++x)
            for (int s = 0; s < p.samples; ++s)
                largest = std::max(largest, std::abs(int(testing::imageSample(image, x, p.height - 1 - y, s)) -
                                                     int(p.values[(y * std::size_t(p.width) + x) * p.samples + s])));
    return largest;
}

// JPEG strips and tiles decode exactly as libtiff decodes them through libjpeg with the
// same settings, both through its scanlines and tiles and through its RGBA interface.
TEST(TiffTiles, JpegAsLibtiffDecodesIt) {
    const Picture colour = makePicture(45, 37, 3, 8), gray = makePicture(45, 37, 1, 8);
    const struct { const char* what; const Picture& picture; TiffOptions o; } cases[] = {
        {"YCbCr strips", colour, {.compression = 7, .rowsPerStrip = 16, .photometric = 6}},
        {"YCbCr tiles", colour, {.compression = 7, .photometric = 6, .tileWidth = 16, .tileLength = 32}},
        {"RGB in one strip", colour, {.compression = 7}},
        {"gray tiles", gray, {.compression = 7, .tileWidth = 32, .tileLength = 16}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string bytes = writeWithLibtiff(c.picture, c.o);
        for (unsigned threads : {1u, 3u}) {
            TargetImage image;
            TiffProblem problem = TiffProblem::None;
            MemoryByteSource source(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
            ASSERT_EQ(readTiffImage(source, image, problem, {{}, threads}), 0) << tiffProblemText(problem);
            EXPECT_TRUE(testing::imageShowsPicture(image, testing::readWithLibtiff(bytes)));
            if (c.picture.samples == 3) {
                EXPECT_EQ(largestDifference(image, testing::readWithLibtiff(bytes, true)), 0);
            }
        }
    }
}

}  // namespace
}  // namespace calivant
