#include "image/tiff_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "image/image_fixtures.h"
#include "support/temp_folder.h"

namespace calivant {
namespace {

using testing::imageShowsPicture;
using testing::makePicture;
using testing::Picture;
using testing::TiffBuilder;
using testing::TiffOptions;
using testing::writeWithLibtiff;

int readMemory(const std::string& bytes, TargetImage& image) {
    MemoryByteSource source(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    return readTiffImage(source, image);
}

int readMemory(const std::vector<std::uint8_t>& bytes, TargetImage& image) {
    MemoryByteSource source(bytes);
    return readTiffImage(source, image);
}

std::string describe(const TiffOptions& o, const Picture& p) {
    return std::string(o.bigEndian ? "MM" : "II") + " compression " + std::to_string(o.compression) +
           " predictor " + std::to_string(o.predictor) + " rows/strip " + std::to_string(o.rowsPerStrip) + " bits " +
           std::to_string(p.bits) + " samples " + std::to_string(p.samples);
}

class TiffReader : public ::testing::Test {
protected:
    // Writes picture with libtiff, reads it back with our reader.
    ::testing::AssertionResult roundTrip(const Picture& picture, const TiffOptions& options, bool inverted = false) {
        const std::string file = writeWithLibtiff(folder.path(), picture, options);
        TargetImage image;
        if (readMemory(file, image) != 0) return ::testing::AssertionFailure() << "read failed";
        return imageShowsPicture(image, picture, options.orientation, inverted);
    }

    testing::TempFolder folder;
};

TEST_F(TiffReader, ReadsColourInEveryEncoding) {
    for (int bits : {8, 16}) {
        const Picture picture = makePicture(37, 29, 3, bits);
        for (bool bigEndian : {false, true})
            for (const auto& [compression, predictor] : {std::pair{1, 1}, std::pair{5, 1}, std::pair{5, 2}})
                for (std::uint32_t rowsPerStrip : {0u, 1u, 4u}) {
                    TiffOptions o;
                    o.bigEndian = bigEndian;
                    o.compression = compression;
                    o.predictor = predictor;
                    o.rowsPerStrip = rowsPerStrip;
                    EXPECT_TRUE(roundTrip(picture, o)) << describe(o, picture);
                }
    }
}

TEST_F(TiffReader, ReadsAFileFromDisk) {
    const Picture picture = makePicture(20, 10, 3, 16);
    TiffOptions o;
    o.bigEndian = true;
    o.compression = 5;
    o.predictor = 2;
    const std::filesystem::path path = folder / "target.tif";
    testing::writeFile(path, writeWithLibtiff(folder.path(), picture, o));
    TargetImage image;
    ASSERT_EQ(readTiffImage(path, image), 0);
    EXPECT_TRUE(imageShowsPicture(image, picture));
    EXPECT_EQ(readTiffImage(folder / "missing.tif", image), 1);
    EXPECT_TRUE(image.rows.empty());
}

TEST_F(TiffReader, DropsAlphaFromRgba) {
    for (int bits : {8, 16})
        for (int predictor : {1, 2}) {
            TiffOptions o;
            o.compression = predictor == 2 ? 5 : 1;
            o.predictor = predictor;
            o.rowsPerStrip = 3;
            const Picture picture = makePicture(13, 11, 4, bits);
            EXPECT_TRUE(roundTrip(picture, o)) << describe(o, picture);
        }
}

TEST_F(TiffReader, ReadsGrayAndBilevel) {
    for (int bits : {1, 4, 8, 16})
        for (bool bigEndian : {false, true})
            for (int compression : {1, 5}) {
                TiffOptions o;
                o.bigEndian = bigEndian;
                o.compression = compression;
                o.rowsPerStrip = 5;
                const Picture picture = makePicture(19, 12, 1, bits);
                EXPECT_TRUE(roundTrip(picture, o)) << describe(o, picture);
                if (bits >= 8 && compression == 5) {
                    o.predictor = 2;
                    EXPECT_TRUE(roundTrip(picture, o)) << describe(o, picture);
                }
            }
}

TEST_F(TiffReader, WhiteIsZeroIsInverted) {
    for (int bits : {1, 4, 8, 16}) {
        TiffOptions o;
        o.photometric = 0;
        const Picture picture = makePicture(9, 7, 1, bits);
        EXPECT_TRUE(roundTrip(picture, o, true)) << bits;
        if (bits >= 8) {
            // Inverted after the predictor is undone, not before.
            o.compression = 5;
            o.predictor = 2;
            EXPECT_TRUE(roundTrip(picture, o, true)) << bits << " with predictor";
        }
    }
}

TEST_F(TiffReader, TurnsEveryOrientationUpright) {
    for (int orientation = 1; orientation <= 8; ++orientation)
        for (int bits : {8, 16}) {
            TiffOptions o;
            o.orientation = orientation;
            o.rowsPerStrip = 2;
            const Picture picture = makePicture(7, 4, 3, bits);
            EXPECT_TRUE(roundTrip(picture, o)) << "orientation " << orientation;
        }
    // Orientation 6 on a wide picture: width and height exchanged.
    TiffOptions o;
    o.orientation = 6;
    TargetImage image;
    ASSERT_EQ(readMemory(writeWithLibtiff(folder.path(), makePicture(30, 20, 3, 8), o), image), 0);
    EXPECT_EQ(image.width, 20);
    EXPECT_EQ(image.height, 30);
}

TEST_F(TiffReader, UncompressedStripsAreReadWithTheSizesTheirRowsNeed) {
    const Picture picture = makePicture(11, 10, 3, 8);
    TiffOptions o;
    o.rowsPerStrip = 3;
    const std::string good = writeWithLibtiff(folder.path(), picture, o);
    std::string file = good;
    testing::setEntryArrayValue(file, 279, 1, 5);
    TargetImage image;
    ASSERT_EQ(readMemory(file, image), 0);
    EXPECT_TRUE(imageShowsPicture(image, picture));
    file = good;
    testing::setEntryArrayValue(file, 279, 3, 100000);
    ASSERT_EQ(readMemory(file, image), 0);
    EXPECT_TRUE(imageShowsPicture(image, picture));

    // LZW byte counts are used as they are: one cut short fails the file.
    o.compression = 5;
    file = writeWithLibtiff(folder.path(), picture, o);
    testing::setEntryArrayValue(file, 279, 1, testing::entryArrayValue(file, 279, 1) / 2);
    EXPECT_EQ(readMemory(file, image), 1);
    EXPECT_TRUE(image.rows.empty());
}

TEST_F(TiffReader, ResolutionInInches) {
    TiffOptions o;
    o.resolutionInCentimetres = true;
    const Picture picture = makePicture(3, 2, 3, 8);
    TargetImage image;
    ASSERT_EQ(readMemory(writeWithLibtiff(folder.path(), picture, o), image), 0);
    EXPECT_DOUBLE_EQ(image.resolution, 300.0 / 2.540005);
    o.resolutionInCentimetres = false;
    ASSERT_EQ(readMemory(writeWithLibtiff(folder.path(), picture, o), image), 0);
    EXPECT_DOUBLE_EQ(image.resolution, 300.0);
    o.writeResolution = false;
    ASSERT_EQ(readMemory(writeWithLibtiff(folder.path(), picture, o), image), 0);
    EXPECT_DOUBLE_EQ(image.resolution, 300.0);
    ASSERT_EQ(readMemory(testing::rgbFile(1, 1, {1, 2, 3}).rational(282, 600, 0).build(), image), 0);
    EXPECT_DOUBLE_EQ(image.resolution, 300.0);
    ASSERT_EQ(readMemory(testing::rgbFile(1, 1, {1, 2, 3}).rational(282, 1200, 4).build(), image), 0);
    EXPECT_DOUBLE_EQ(image.resolution, 300.0);
}

TEST_F(TiffReader, ReadsTheSampleFileOfItsHeader) {
    // The two-pixel file shown at the top of tiff_reader.h, byte for byte.
    const std::vector<std::uint8_t> file = {
        0x49, 0x49, 0x2A, 0x00, 0x08, 0x00, 0x00, 0x00, 0x07, 0x00,                          //
        0x00, 0x01, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,              //
        0x01, 0x01, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,              //
        0x02, 0x01, 0x03, 0x00, 0x03, 0x00, 0x00, 0x00, 0x62, 0x00, 0x00, 0x00,              //
        0x06, 0x01, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,              //
        0x11, 0x01, 0x04, 0x00, 0x01, 0x00, 0x00, 0x00, 0x68, 0x00, 0x00, 0x00,              //
        0x15, 0x01, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00,              //
        0x17, 0x01, 0x04, 0x00, 0x01, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00,              //
        0x00, 0x00, 0x00, 0x00, 0x08, 0x00, 0x08, 0x00, 0x08, 0x00,                          //
        0xFF, 0x00, 0x00, 0x00, 0x00, 0xFF};
    TargetImage image;
    ASSERT_EQ(readMemory(file, image), 0);
    EXPECT_EQ(image.format, PixelFormat::Rgb24);
    EXPECT_EQ(image.width, 2);
    EXPECT_EQ(image.height, 1);
    const std::uint8_t bgr[] = {0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00};
    EXPECT_EQ(std::memcmp(image.rows[0], bgr, 6), 0);
}

TEST_F(TiffReader, OneStripWithoutByteCounts) {
    // Two rows of two pixels, top row first in the file.
    const std::vector<std::uint8_t> pixels = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    TiffBuilder b;
    b.data(pixels)
        .entry(256, 3, {2})
        .entry(257, 3, {2})
        .entry(258, 3, {8, 8, 8})
        .entry(262, 3, {2})
        .entry(273, 4, {TiffBuilder::kDataStart})
        .entry(277, 3, {3});
    TargetImage image;
    ASSERT_EQ(readMemory(b.build(), image), 0);
    const std::uint8_t top[] = {3, 2, 1, 6, 5, 4};
    const std::uint8_t bottom[] = {9, 8, 7, 12, 11, 10};
    EXPECT_EQ(std::memcmp(image.rows[1], top, 6), 0);
    EXPECT_EQ(std::memcmp(image.rows[0], bottom, 6), 0);

    // Several strips without byte counts fail.
    b.entry(278, 3, {1}).entry(273, 3, {TiffBuilder::kDataStart, TiffBuilder::kDataStart + 6});
    EXPECT_EQ(readMemory(b.build(), image), 1);
    b.entry(279, 3, {6, 6});
    ASSERT_EQ(readMemory(b.build(), image), 0);
    EXPECT_EQ(std::memcmp(image.rows[1], top, 6), 0);
}

TEST_F(TiffReader, StripArraysOfDifferentLengthsAreNeverOverrun) {
    const std::vector<std::uint8_t> pixels(3 * 4 * 3, 9);
    auto file = [&](std::vector<std::uint32_t> offsets, std::vector<std::uint32_t> counts, bool countsFirst) {
        TiffBuilder b;
        b.data(pixels).entry(256, 3, {3}).entry(257, 3, {4}).entry(258, 3, {8, 8, 8}).entry(262, 3, {2});
        b.entry(277, 3, {3}).entry(278, 3, {1});
        if (countsFirst) b.entry(279, 4, counts);
        b.entry(273, 4, offsets);
        if (!countsFirst) b.entry(279, 4, counts);
        return b.build();
    };
    const std::vector<std::uint32_t> four = {8, 17, 26, 35};
    TargetImage image;
    EXPECT_EQ(readMemory(file(four, {9, 9, 9, 9}, false), image), 0);
    // Fewer offsets than rows need, whichever tag comes last.
    EXPECT_EQ(readMemory(file({8, 17}, {9, 9, 9, 9}, false), image), 1);
    EXPECT_EQ(readMemory(file({8, 17}, {9, 9, 9, 9}, true), image), 1);
    // The later tag's count is the strip count.
    EXPECT_EQ(readMemory(file(four, {9, 9}, false), image), 1);
    EXPECT_EQ(readMemory(file(four, {9, 9, 9, 9, 9, 9}, false), image), 0);
}

TEST_F(TiffReader, RefusesWhatItDoesNotRead) {
    const std::vector<std::uint8_t> pixels = {10, 20, 30};
    TargetImage image;
    ASSERT_EQ(readMemory(testing::rgbFile(1, 1, pixels).build(), image), 0);

    auto refused = [&](std::vector<std::uint8_t> bytes) {
        TargetImage out;
        ASSERT_EQ(allocateImage(out, PixelFormat::Gray8, 2, 2, 1.0), 0);
        EXPECT_EQ(readMemory(bytes, out), 1);
        EXPECT_TRUE(out.rows.empty());
        EXPECT_EQ(out.format, PixelFormat::None);
    };
    auto with = [&](std::uint16_t tag, std::uint32_t value) {
        return testing::rgbFile(1, 1, pixels).entry(tag, 3, {value}).build();
    };
    std::vector<std::uint8_t> bytes = testing::rgbFile(1, 1, pixels).build();
    bytes[1] = 'M';  // "IM"
    refused(bytes);
    bytes = testing::rgbFile(1, 1, pixels).build();
    bytes[2] = 43;
    refused(bytes);
    refused(with(259, 7));  // JPEG
    refused(with(284, 2));  // planar
    refused(with(262, 3));  // palette
    refused(with(262, 5));  // CMYK
    refused(with(274, 9));
    refused(with(277, 2));
    refused(with(317, 3));
    refused(with(266, 2));
    refused(with(255, 2));
    refused(with(254, 2));
    refused(with(256, 0));
    // Three bits per sample that differ, or are not 8 or 16.
    refused(testing::rgbFile(1, 1, pixels).entry(258, 3, {8, 8, 16}).build());
    refused(testing::rgbFile(1, 1, pixels).entry(258, 3, {4, 4, 4}).build());
    refused(testing::rgbFile(1, 1, pixels).entry(258, 3, {8, 8}).build());
    // Colour bits with one sample per pixel would read past every row.
    refused(testing::rgbFile(1, 1, pixels).entry(277, 3, {1}).build());
    // The predictor needs whole 8- or 16-bit samples.
    TiffBuilder gray4;
    gray4.data({0x12}).entry(256, 3, {2}).entry(257, 3, {1}).entry(258, 3, {4}).entry(273, 4, {8}).entry(317, 3, {2});
    TargetImage out;
    ASSERT_EQ(readMemory(gray4.build(), out), 1);
    gray4.entry(317, 3, {1});
    ASSERT_EQ(readMemory(gray4.build(), out), 0);
    EXPECT_EQ(out.format, PixelFormat::Gray8);
    EXPECT_EQ(out.rows[0][0], 0x11);
    EXPECT_EQ(out.rows[0][1], 0x22);
}

TEST_F(TiffReader, CutFilesFailCleanly) {
    for (int compression : {1, 5}) {
        TiffOptions o;
        o.compression = compression;
        o.predictor = compression == 5 ? 2 : 1;
        o.rowsPerStrip = 3;
        const Picture picture = makePicture(6, 7, 3, 16);
        const std::string file = writeWithLibtiff(folder.path(), picture, o);
        const std::uint64_t dataEnd = testing::entryArrayValue(file, 273, 2) + testing::entryArrayValue(file, 279, 2);
        for (std::size_t size = 0; size < file.size(); ++size) {
            TargetImage image;
            const int result = readMemory(file.substr(0, size), image);
            // Only bytes the reader never needs (the YResolution value)
            // may be missing from a file that still reads.
            if (result == 0)
                EXPECT_TRUE(imageShowsPicture(image, picture)) << "cut at " << size;
            else
                EXPECT_TRUE(image.rows.empty());
            if (size < dataEnd) {
                EXPECT_EQ(result, 1) << "cut at " << size;
            }
        }
    }
}

TEST_F(TiffReader, SizesTheFileCannotHoldAreRefusedBeforeAllocating) {
    // A 48-bit 16000 x 12000 scan claimed by a file of a few hundred bytes.
    auto claim = [](std::uint32_t compression) {
        return TiffBuilder()
            .data(std::vector<std::uint8_t>(64, 0))
            .entry(256, 4, {16000})
            .entry(257, 4, {12000})
            .entry(258, 3, {16, 16, 16})
            .entry(259, 3, {compression})
            .entry(262, 3, {2})
            .entry(273, 4, {TiffBuilder::kDataStart})
            .entry(277, 3, {3})
            .entry(279, 4, {0xFFFFFFF0})
            .build();
    };
    TargetImage image;
    EXPECT_EQ(readMemory(claim(1), image), 1);
    EXPECT_EQ(readMemory(claim(5), image), 1);
    // A strip array claiming four billion entries.
    EXPECT_EQ(readMemory(testing::rgbFile(1, 1, {1, 2, 3}).build(), image), 0);
    std::vector<std::uint8_t> huge = testing::rgbFile(1, 1, {1, 2, 3}).entry(273, 4, {8, 8}).build();
    // Patch the count of the last entry (StripOffsets) to 0xFFFFFFFF.
    const std::size_t lastEntry = 8 + 3 + 2 + 7 * 12;
    std::memset(&huge[lastEntry + 4], 0xFF, 4);
    EXPECT_EQ(readMemory(huge, image), 1);

    // A flat picture that LZW squeezes a thousandfold still reads.
    testing::TempFolder folder2;
    Picture flat;
    flat.width = 3000;
    flat.height = 300;
    flat.samples = 3;
    flat.bits = 8;
    flat.values.assign(3000 * 300 * 3, 200);
    TiffOptions o;
    o.compression = 5;
    o.predictor = 2;
    const std::string file = writeWithLibtiff(folder2.path(), flat, o);
    EXPECT_LT(file.size() * 500, flat.values.size());
    ASSERT_EQ(readMemory(file, image), 0);
    EXPECT_TRUE(imageShowsPicture(image, flat));
}

}  // namespace
}  // namespace calivant
