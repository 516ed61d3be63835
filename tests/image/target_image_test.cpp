#include "image/target_image.h"

#include <gtest/gtest.h>

#include <cstring>

namespace calivant {
namespace {

void expectEmpty(const TargetImage& image) {
    EXPECT_EQ(image.format, PixelFormat::None);
    EXPECT_EQ(image.width, 0);
    EXPECT_EQ(image.height, 0);
    EXPECT_EQ(image.stride, 0);
    EXPECT_EQ(image.resolution, 0.0);
    EXPECT_TRUE(image.rows.empty());
    EXPECT_EQ(image.blockCount, 0);
    EXPECT_EQ(image.rowsPerBlock, 0);
    EXPECT_TRUE(image.blocks.empty());
}

TEST(TargetImage, AZeroRecordIsAnEmptyImage) {
    TargetImage image;
    expectEmpty(image);
    freeImage(image);
    expectEmpty(image);
    clearImage(image);
    expectEmpty(image);
    initImage(image);
    expectEmpty(image);
}

TEST(TargetImage, StrideAndBlockLayout) {
    TargetImage image;
    ASSERT_EQ(allocateImage(image, PixelFormat::Rgb24, 1000, 1000, 300.0), 0);
    EXPECT_EQ(image.stride, 3000);
    EXPECT_EQ(image.rowsPerBlock, 85);
    EXPECT_EQ(image.blockCount, 12);
    ASSERT_EQ(image.rows.size(), 1000u);
    EXPECT_EQ(rowsInBlock(image, 11), 65);
    // Rows are consecutive within a block, bottom row first, and row r lies
    // in block r / rowsPerBlock.
    for (std::int32_t r = 0; r < 1000; ++r) {
        const std::uint8_t* block = image.blocks[static_cast<std::size_t>(r / 85)].get();
        EXPECT_EQ(image.rows[static_cast<std::size_t>(r)], block + (r % 85) * 3000) << "row " << r;
    }

    // Each format's stride is its row padded to a multiple of 4.
    const struct {
        PixelFormat format;
        std::int32_t width;
        std::int32_t stride;
    } strides[] = {{PixelFormat::Bilevel, 9, 4},  {PixelFormat::Bilevel, 33, 8}, {PixelFormat::Gray8, 5, 8},
                   {PixelFormat::Rgb24, 5, 16},   {PixelFormat::Gray16, 3, 8},   {PixelFormat::Rgb48, 3, 20}};
    for (const auto& s : strides) {
        TargetImage small;
        ASSERT_EQ(allocateImage(small, s.format, s.width, 2, 72.0), 0);
        EXPECT_EQ(small.stride, s.stride) << static_cast<int>(s.format) << " width " << s.width;
        EXPECT_EQ(small.blockCount, 1);
        // The padding of every row is zero.
        for (std::uint8_t* row : small.rows)
            for (std::int64_t i = rowBytesFor(s.format, s.width); i < s.stride; ++i) EXPECT_EQ(row[i], 0);
    }
}

TEST(TargetImage, WidestRowIs256000Bytes) {
    TargetImage image;
    // 42666 pixels make a row of 255996 bytes, the widest that fits.
    ASSERT_EQ(allocateImage(image, PixelFormat::Rgb48, 42666, 3, 300.0), 0);
    EXPECT_EQ(image.stride, 255996);
    EXPECT_EQ(image.rowsPerBlock, 1);
    EXPECT_EQ(image.blockCount, 3);

    EXPECT_EQ(allocateImage(image, PixelFormat::Rgb48, 42667, 3, 300.0), 1);
    expectEmpty(image);
}

TEST(TargetImage, RefusesRastersAboveTheLimit) {
    TargetImage image;
    // 256000-byte rows: the limit falls between these two heights.
    const auto rows = static_cast<std::int32_t>(kMaxRasterBytes / 256000);
    EXPECT_EQ(allocateImage(image, PixelFormat::Rgb48, 42666, rows + 1, 300.0), 1);
    expectEmpty(image);
    // So is a tall sliver whose row table alone would take gigabytes.
    EXPECT_EQ(allocateImage(image, PixelFormat::Gray8, 1, 300000000, 300.0), 1);
    expectEmpty(image);
    // A 48-bit 16000 x 12000 scan, row table included, is within it.
    EXPECT_LE((std::int64_t{16000} * 6 + 8) * 12000, kMaxRasterBytes);
}

TEST(TargetImage, SameFormatAndSizeKeepsThePixels) {
    TargetImage image;
    ASSERT_EQ(allocateImage(image, PixelFormat::Gray8, 10, 4, 300.0), 0);
    std::memset(image.rows[2], 0xAB, 10);
    const std::uint8_t* before = image.rows[2];
    ASSERT_EQ(allocateImage(image, PixelFormat::Gray8, 10, 4, 150.0), 0);
    EXPECT_EQ(image.resolution, 150.0);
    EXPECT_EQ(image.rows[2], before);
    EXPECT_EQ(image.rows[2][9], 0xAB);

    // Any other size gives a fresh raster.
    ASSERT_EQ(allocateImage(image, PixelFormat::Gray8, 11, 4, 150.0), 0);
    EXPECT_EQ(image.width, 11);
    EXPECT_EQ(image.rows.size(), 4u);
}

TEST(TargetImage, SizesWithoutPixelsLeaveTheFieldsSet) {
    TargetImage image;
    ASSERT_EQ(allocateImage(image, PixelFormat::Rgb24, 0, 10, 300.0), 0);
    EXPECT_EQ(image.format, PixelFormat::Rgb24);
    EXPECT_EQ(image.height, 10);
    EXPECT_EQ(image.stride, 0);
    EXPECT_TRUE(image.rows.empty());
    ASSERT_EQ(allocateImage(image, PixelFormat::Gray16, 5, 0, 300.0), 0);
    EXPECT_EQ(image.stride, 0);
    EXPECT_TRUE(image.rows.empty());
    ASSERT_EQ(allocateImage(image, PixelFormat::Gray8, 4, 4, 300.0), 0);
    clearImage(image);
    expectEmpty(image);
}

TEST(TargetImage, CopyAndMove) {
    TargetImage source;
    ASSERT_EQ(allocateImage(source, PixelFormat::Rgb24, 100, 200, 600.0), 0);
    for (std::size_t r = 0; r < source.rows.size(); ++r)
        for (int i = 0; i < 300; ++i) source.rows[r][i] = static_cast<std::uint8_t>(r * 7 + i);

    TargetImage copy;
    ASSERT_EQ(copyImage(source, copy), 0);
    EXPECT_EQ(copy.format, PixelFormat::Rgb24);
    EXPECT_EQ(copy.resolution, 600.0);
    ASSERT_EQ(copy.rows.size(), 200u);
    for (std::size_t r = 0; r < 200; ++r) EXPECT_EQ(std::memcmp(copy.rows[r], source.rows[r], 300), 0);
    EXPECT_NE(copy.rows[0], source.rows[0]);

    TargetImage moved(std::move(copy));
    expectEmpty(copy);
    EXPECT_EQ(moved.rows.size(), 200u);
    copy = std::move(moved);
    expectEmpty(moved);
    EXPECT_EQ(copy.rows[199][299], source.rows[199][299]);

    // Copying an empty record empties the target.
    TargetImage empty;
    EXPECT_EQ(copyImage(empty, copy), 0);
    expectEmpty(copy);
}

}  // namespace
}  // namespace calivant
