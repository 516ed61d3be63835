// PNG, JPEG and JPEG in TIFF against the libraries that define them, called
// directly; damaged and truncated files; what every refusal says; and real
// photographs.
#include "image/picture_reader.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "image/picture_fixtures.h"
#include "make-target/picture_files.h"

namespace calivant {
namespace {

using namespace testing;

int readBytes(const std::string& bytes, TargetImage& image, PictureRead& read, const PictureTurn& turn = {}) {
    MemoryByteSource source(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    return readPicture(source, image, read, {turn, 0, kMaxRasterBytes});
}

std::string reasonFor(const std::string& bytes) {
    TargetImage image;
    PictureRead read;
    if (readBytes(bytes, image, read) == 0) return "read";
    EXPECT_TRUE(image.rows.empty() && image.format == PixelFormat::None);
    return read.reason;
}

// An 8-bit picture of smooth gradients with a sharp edge: what JPEG is made for, and what
// shows a misplaced row or column.
SyntheticPicture gradient(int width, int height) {
    SyntheticPicture p{width, height, 8, {}};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                p.samples.push_back(std::uint16_t((x * 255 / width * (c == 0) + y * 255 / height * (c == 1) +
                                                   (x > width / 2) * 200 * (c == 2)) % 256));
    return p;
}

std::string jpegOf(const SyntheticPicture& picture, const JpegWriteOptions& options) {
    TempFolder folder;
    EXPECT_EQ(writeSyntheticJpeg((folder / "p.jpg").string(), picture, options), 0);
    return readFile(folder / "p.jpg");
}

TEST(PictureReader, PngAsLibpngDecodesIt) {
    const struct { const char* what; int type, samples, bits; bool interlaced; } cases[] = {
        {"rgb8", PNG_COLOR_TYPE_RGB, 3, 8, false},          {"rgb16", PNG_COLOR_TYPE_RGB, 3, 16, false},
        {"rgba8 interlaced", PNG_COLOR_TYPE_RGBA, 4, 8, true}, {"rgba16", PNG_COLOR_TYPE_RGBA, 4, 16, false},
        {"palette, transparent", PNG_COLOR_TYPE_PALETTE, 3, 8, false},
        {"gray16 interlaced", PNG_COLOR_TYPE_GRAY, 1, 16, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Picture picture = makePicture(37, 23, c.samples, c.bits);
        if (c.type == PNG_COLOR_TYPE_PALETTE)
            for (std::uint16_t& v : picture.values) v &= 0xC0;  // 64 colours
        const std::string bytes = writePng(picture, c.type, c.interlaced);
        TargetImage image;
        PictureRead read;
        ASSERT_EQ(readBytes(bytes, image, read), 0) << read.reason;
        EXPECT_EQ(read.kind, PictureKind::Png);
        EXPECT_TRUE(imageShowsPicture(image, decodePng(bytes)));
        // Turned while read, as TIFFs are.
        ASSERT_EQ(readBytes(bytes, image, read, {1, true}), 0);
        EXPECT_TRUE(imageShowsPicture(image, decodePng(bytes), 5));
    }
}

// Byte order and channel order spelled out, without the fixtures' own mapping.
TEST(PictureReader, KnownPixelsOfEachKind) {
    const Picture picture{2, 1, 3, 16, {0x1234, 0x5678, 0x9ABC, 0xFEDC, 0xBA98, 0x7654}};
    const std::vector<std::uint8_t> expected = {0xBC, 0x9A, 0x78, 0x56, 0x34, 0x12,
                                                0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE};
    std::string oldDeflate = writeWithLibtiff(picture, {.compression = 8});
    setEntryArrayValue(oldDeflate, 259, 0, 32946);  // the code of older writers
    const std::string files[] = {writePng(picture, PNG_COLOR_TYPE_RGB),
                                 writeWithLibtiff(picture, {.bigEndian = true, .compression = 8, .predictor = 2}),
                                 oldDeflate, writeWithLibtiff(picture, {.compression = 32773})};
    for (const std::string& bytes : files) {
        TargetImage image;
        PictureRead read;
        ASSERT_EQ(readBytes(bytes, image, read), 0) << read.reason;
        EXPECT_EQ(std::vector<std::uint8_t>(image.rows[0], image.rows[0] + 12), expected);
    }
    // Flat halves at the highest quality come back within the rounding of the transform.
    SyntheticPicture flat{16, 8, 8, {}};
    for (int i = 0; i < 16 * 8; ++i)
        for (std::uint16_t v : i % 16 < 8 ? std::vector<std::uint16_t>{200, 30, 40} : std::vector<std::uint16_t>{20, 180, 220})
            flat.samples.push_back(v);
    TargetImage image;
    PictureRead read;
    ASSERT_EQ(readBytes(jpegOf(flat, {100, 1, false}), image, read), 0) << read.reason;
    EXPECT_EQ(read.kind, PictureKind::Jpeg);
    const int left[] = {40, 30, 200}, right[] = {220, 180, 20};  // blue, green, red
    for (int c = 0; c < 3; ++c) {
        EXPECT_NEAR(image.rows[3][c], left[c], 3);
        EXPECT_NEAR(image.rows[3][45 + c], right[c], 3);
    }
}

// Every Exif orientation turns the picture upright as TIFF's tag does; the pixels are
// libjpeg's, baseline and progressive.
TEST(PictureReader, JpegAsLibjpegDecodesItTurnedByExif) {
    const SyntheticPicture picture = gradient(45, 29);
    for (int orientation = 1; orientation <= 8; ++orientation)
        for (bool progressive : {false, true}) {
            SCOPED_TRACE(::testing::Message() << "orientation " << orientation << (progressive ? ", progressive" : ""));
            const std::string bytes = jpegOf(picture, {92, orientation, progressive});
            TargetImage image;
            PictureRead read;
            ASSERT_EQ(readBytes(bytes, image, read), 0) << read.reason;
            EXPECT_TRUE(imageShowsPicture(image, decodeJpeg(bytes), orientation));
        }
}

// Cut anywhere, a PNG or JPEG is refused, never padded; damaged data is named in the
// library's words.
TEST(PictureReader, TruncatedAndDamagedFilesAreRefused) {
    const std::string png = writePng(makePicture(12, 9, 3, 16), PNG_COLOR_TYPE_RGB);
    const std::string jpeg = jpegOf(gradient(24, 16), {90, 6, false});
    for (const std::string* file : {&png, &jpeg})
        for (std::size_t size = 0; size < file->size(); ++size) {
            const std::string reason = reasonFor(file->substr(0, size));
            ASSERT_NE(reason, "read") << size;
            ASSERT_FALSE(reason.empty()) << size;
        }
    EXPECT_EQ(reasonFor(png.substr(0, png.size() / 2)), "truncated file");
    EXPECT_EQ(reasonFor(jpeg.substr(0, jpeg.size() - 40)), "Premature end of JPEG file");
    std::string crc = png;
    crc[png.find("IDAT") + 20] ^= 0x55;
    EXPECT_EQ(reasonFor(crc).substr(0, 6), "IDAT: ");  // zlib's words for the damage it meets
    std::string marker = jpeg;
    marker[jpeg.size() - 30] = char(0xFF), marker[jpeg.size() - 29] = char(0xD0);
    EXPECT_EQ(reasonFor(marker).substr(0, 17), "Corrupt JPEG data");
}

TEST(PictureReader, RefusalsNameWhatWasFoundAndWhatIsRead) {
    // A 1 x 1 RGB TIFF with one entry changed or added.
    auto tiff = [](std::uint16_t tag, std::vector<std::uint32_t> values) {
        TiffEntries entries = {{256, 3, {1}}, {257, 3, {1}}, {258, 3, {8, 8, 8}}, {262, 3, {2}},
                               {273, 4, {8}}, {277, 3, {3}}, {279, 4, {3}}};
        std::erase_if(entries, [&](const auto& e) { return std::get<0>(e) == tag; });
        entries.push_back({tag, 3, values});
        std::sort(entries.begin(), entries.end());
        return buildTiff({10, 20, 30}, entries);
    };
    std::string floats = tiff(339, {3, 3, 3});
    setEntryArrayValue(floats, 258, 0, 32), setEntryArrayValue(floats, 258, 1, 32), setEntryArrayValue(floats, 258, 2, 32);
    std::string huge = writePng(makePicture(1, 1, 3, 16), PNG_COLOR_TYPE_RGB);
    huge.replace(16, 8, std::string("\0\0\x4E\x20\0\0\x4E\x20", 8));  // 20000 x 20000
    const auto crc = crc32(0, reinterpret_cast<const Bytef*>(huge.data() + 12), 17);
    for (int i = 0; i < 4; ++i) huge[29 + i] = char(crc >> (24 - 8 * i));
    std::string tall = jpegOf(gradient(16, 16), {90, 1, false});
    const std::size_t frame = tall.find("\xFF\xC0");
    tall.replace(frame + 5, 4, "\xFD\xE8\xFD\xE8");  // 65000 x 65000
    const struct { const char* what; std::string file, reason; } cases[] = {
        {"GIF", "GIF89a\x01\0\x01\0", "not a TIFF, PNG or JPEG file"},
        {"empty", "", "not a TIFF, PNG or JPEG file"},
        {"BigTIFF", std::string("II+\0\x08\0\0\0", 8), "BigTIFF is not supported"},
        {"JPEG 2000 in TIFF", tiff(259, {34712}),
         "compression JPEG 2000 (34712): not supported; reads uncompressed, LZW, Deflate, PackBits, JPEG"},
        {"unknown compression", tiff(259, {60000}),
         "compression 60000: not supported; reads uncompressed, LZW, Deflate, PackBits, JPEG"},
        {"32-bit float", floats, "32-bit floating-point samples: not supported; export a 16-bit integer TIFF"},
        {"signed", tiff(339, {2, 2, 2}), "8-bit signed integer samples: not supported; export a 16-bit integer TIFF"},
        {"12 bits", tiff(258, {12}), "12 bits per sample: not supported; reads 8 and 16"},
        {"palette", tiff(262, {3}), "colour model palette (3): not supported; reads RGB"},
        {"uncompressed YCbCr", tiff(262, {6}), "colour model YCbCr (6): not supported; reads RGB"},
        {"two samples", tiff(277, {2}), "2 samples per pixel: not supported; reads 1 (gray), 3 (RGB) and 4 (RGBA)"},
        {"planar", tiff(284, {2}), "planar configuration 2 (separate colour planes): not supported; reads 1 (interleaved)"},
        {"predictor 3", tiff(317, {3}), "predictor floating point (3): not supported; reads 1 (none) and 2 (horizontal)"},
        {"orientation 9", tiff(274, {9}), "orientation 9: not valid (1 to 8)"},
        {"gray JPEG", encodeJpeg(8, 8, JCS_GRAYSCALE), "colour model gray: not supported; reads RGB and YCbCr"},
        {"CMYK JPEG", encodeJpeg(8, 8, JCS_CMYK), "colour model CMYK: not supported; reads RGB and YCbCr"},
        {"RGB JPEG", encodeJpeg(8, 8, JCS_RGB), "read"},
        {"PNG of 20000 x 20000", huge, "more than 1.5 GiB of raster"},
        {"JPEG of 65000 x 65000", tall, "more than 1.5 GiB of raster"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(reasonFor(c.file), c.reason);
    }
}

// The real photographs load at the size their list gives (upright, as viewers show them).
TEST(PictureReader, RealPhotographsLoadAtTheirSize) {
    const std::filesystem::path folder = CALIVANT_REAL_PHOTOS_DIR;
    if (!std::filesystem::is_directory(folder / "ci")) GTEST_SKIP() << "no shared photographs at " << folder;
    std::ifstream list(folder / "pictures.tsv");
    std::map<std::string, std::pair<int, int>> sizes;
    for (std::string line; std::getline(list, line);) {
        std::istringstream fields(line);
        std::string name, expect, target;
        int width = 0, height = 0;
        if (fields >> name >> expect >> target >> width >> height) sizes[name] = {width, height};
    }
    int read = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder / "ci")) {
        SCOPED_TRACE(entry.path().filename().string());
        const auto size = sizes.find(entry.path().stem().string());
        ASSERT_NE(size, sizes.end());
        FileByteSource file;
        ASSERT_EQ(file.open(entry.path()), 0);
        TargetImage image;
        PictureRead outcome;
        ASSERT_EQ(readPicture(file, image, outcome), 0) << outcome.reason;
        EXPECT_EQ(image.format, PixelFormat::Rgb24);
        EXPECT_EQ(std::pair(image.width, image.height), size->second);
        ++read;
    }
    EXPECT_EQ(read, 4);
}

}  // namespace
}  // namespace calivant
