// The parallel decode, the turns made while reading and the in-place view
// against one thread reading the file and the transforms turning the result:
// the same pixels, byte for byte, on every kind of file the reader takes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "image/image_fixtures.h"
#include "image/tiff_reader.h"
#include "image/tiff_view.h"
#include "image/transforms.h"
#include "support/temp_folder.h"

namespace calivant {
namespace {

using testing::Picture;
using testing::TiffOptions;

TiffProblem readBytes(const std::string& bytes, TargetImage& image, const TiffReadOptions& options) {
    MemoryByteSource source(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    TiffProblem problem = TiffProblem::None;
    readTiffImage(source, image, problem, options);
    return problem;
}

::testing::AssertionResult sameImage(const TargetImage& a, const TargetImage& b) {
    if (a.format != b.format || a.width != b.width || a.height != b.height || a.resolution != b.resolution)
        return ::testing::AssertionFailure() << "records differ";
    for (std::size_t r = 0; r < a.rows.size(); ++r)
        if (std::memcmp(a.rows[r], b.rows[r], static_cast<std::size_t>(a.stride)) != 0)
            return ::testing::AssertionFailure() << "row " << r << " differs";
    return ::testing::AssertionSuccess();
}

// The picture read in place gives every pixel the image reader stores.
::testing::AssertionResult sameAsView(const TargetImage& image, const TiffView& view) {
    const ImagePixels pixels(image);
    if (view.format() != image.format || view.width() != image.width || view.height() != image.height ||
        view.resolution() != image.resolution)
        return ::testing::AssertionFailure() << "view's record differs";
    for (std::int32_t y = 0; y < image.height; ++y)
        for (std::int32_t x = 0; x < image.width; ++x)
            if (view.pixel(x, y) != pixels.pixel(x, y))
                return ::testing::AssertionFailure() << "pixel " << x << ", " << y << " differs";
    return ::testing::AssertionSuccess();
}

// The upright image turned by the transforms, as the wizard turns it.
TargetImage turnedByTransforms(const TargetImage& upright, const PictureTurn& turn) {
    TargetImage image;
    copyImage(upright, image);
    for (int k = 0; k < turn.quarterTurns; ++k) {
        TargetImage next;
        turnClockwise(image, next);
        image = std::move(next);
    }
    if (turn.mirror) {
        TargetImage next;
        mirrorImage(image, next);
        image = std::move(next);
    }
    return image;
}

struct Variant {
    const char* name;
    int samples;
    int bits;
    TiffOptions options;
    bool inPlace;  // read in place: uncompressed RGB without the predictor
};

TEST(TiffParallel, SameImageOnEveryThreadCountTurnAndInPlace) {
    const Variant variants[] = {
        {"rgb8, one strip", 3, 8, {}, true},
        {"rgb16 big-endian, strips of 5", 3, 16, {.bigEndian = true, .rowsPerStrip = 5}, true},
        {"rgba16, one-row strips", 4, 16, {.rowsPerStrip = 1}, true},
        {"rgba8 big-endian, strips of 4", 4, 8, {.bigEndian = true, .rowsPerStrip = 4}, true},
        {"rgb8 white-is-zero, strips of 3", 3, 8, {.rowsPerStrip = 3, .photometric = 0}, true},
        {"rgb16 white-is-zero big-endian", 3, 16, {.bigEndian = true, .rowsPerStrip = 7, .photometric = 0}, true},
        {"rgb16 tiles", 3, 16, {.tileWidth = 16, .tileLength = 16}, true},
        {"rgba8 big-endian tiles", 4, 8, {.bigEndian = true, .tileWidth = 32, .tileLength = 16}, true},
        {"rgb16 be lzw", 3, 16, {.bigEndian = true, .compression = 5, .predictor = 2, .rowsPerStrip = 3}, false},
        {"rgb8 lzw, one strip", 3, 8, {.compression = 5}, false},
        {"rgba16 lzw tiles", 4, 16, {.compression = 5, .predictor = 2, .tileWidth = 16, .tileLength = 32}, false},
        {"gray16 be lzw", 1, 16, {.bigEndian = true, .compression = 5, .predictor = 2, .rowsPerStrip = 2}, false},
        {"gray8 white-is-zero", 1, 8, {.rowsPerStrip = 6, .photometric = 0}, false},
        {"gray4 tiles", 1, 4, {.compression = 5, .tileWidth = 16, .tileLength = 16}, false},
        {"bilevel lzw", 1, 1, {.compression = 5, .rowsPerStrip = 3}, false},
        {"rgb16 be deflate", 3, 16, {.bigEndian = true, .compression = 8, .predictor = 2, .rowsPerStrip = 4}, false},
        {"rgba8 deflate tiles", 4, 8, {.compression = 8, .tileWidth = 16, .tileLength = 16}, false},
        {"rgb16 packbits", 3, 16, {.compression = 32773, .rowsPerStrip = 5}, false},
        {"gray8 packbits tiles", 1, 8, {.compression = 32773, .tileWidth = 32, .tileLength = 16}, false},
    };
    testing::TempFolder folder;
    for (const Variant& v : variants) {
        const Picture picture = testing::makePicture(37, 23, v.samples, v.bits);
        for (int orientation = 1; orientation <= 8; ++orientation) {
            SCOPED_TRACE(std::string(v.name) + ", orientation " + std::to_string(orientation));
            TiffOptions o = v.options;
            o.orientation = orientation;
            const std::string bytes = writeWithLibtiff(picture, o);
            const std::filesystem::path file = folder / "picture.tif";
            testing::writeFile(file, bytes);

            TargetImage upright;
            ASSERT_EQ(readBytes(bytes, upright, {{}, 1}), TiffProblem::None);
            ASSERT_TRUE(imageShowsPicture(upright, picture, orientation, o.photometric == 0));
            for (int turns = 0; turns < 4; ++turns)
                for (bool mirror : {false, true}) {
                    SCOPED_TRACE("turned " + std::to_string(turns) + (mirror ? " and mirrored" : ""));
                    const PictureTurn turn{turns, mirror};
                    const TargetImage expected = turnedByTransforms(upright, turn);
                    TargetImage image;
                    ASSERT_EQ(readBytes(bytes, image, {turn, 4}), TiffProblem::None);
                    EXPECT_TRUE(sameImage(image, expected));
                    TiffView view;
                    ASSERT_EQ(view.open(file, turn) == 0, v.inPlace);
                    if (v.inPlace) {
                        EXPECT_TRUE(sameAsView(expected, view));
                    }
                }
        }
    }
}

// Damaged strips fail with the reason of the first in file order, as one
// thread going through them in turn finds it, however many threads run.
TEST(TiffParallel, FirstDamagedStripInFileOrderNamesTheProblem) {
    testing::TempFolder folder;
    const std::string valid = writeWithLibtiff(testing::makePicture(64, 40, 3, 16),
                                               {.compression = 5, .predictor = 2, .rowsPerStrip = 1});
    auto damaged = [&](std::uint32_t oldStyleStrip, std::uint32_t garbageStrip) {
        std::string bytes = valid;
        bytes[testing::entryArrayValue(bytes, 273, oldStyleStrip)] = 0;
        bytes[testing::entryArrayValue(bytes, 273, oldStyleStrip) + 1] = 1;
        bytes[testing::entryArrayValue(bytes, 273, garbageStrip)] = static_cast<char>(0xFF);
        bytes[testing::entryArrayValue(bytes, 273, garbageStrip) + 1] = static_cast<char>(0xFF);
        return bytes;
    };
    for (unsigned threads : {1u, 2u, 7u}) {
        TargetImage image;
        EXPECT_EQ(readBytes(damaged(30, 36), image, {{}, threads}), TiffProblem::CompressionNotSupported);
        EXPECT_TRUE(image.rows.empty());
        EXPECT_EQ(readBytes(damaged(36, 30), image, {{}, threads}), TiffProblem::DamagedData);
    }

    // A file the reader refuses is not viewed either: the reader says why.
    std::string cut = writeWithLibtiff(testing::makePicture(64, 40, 3, 16), {.rowsPerStrip = 8});
    testing::setEntryArrayValue(cut, 273, 4, static_cast<std::uint32_t>(cut.size() - 100));
    testing::writeFile(folder / "cut.tif", cut);
    TargetImage image;
    EXPECT_EQ(readBytes(cut, image, {}), TiffProblem::Truncated);
    TiffView view;
    EXPECT_EQ(view.open(folder / "cut.tif"), 1);
}

}  // namespace
}  // namespace calivant
