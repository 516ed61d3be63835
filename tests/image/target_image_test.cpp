#include "image/target_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

namespace calivant {
namespace {

bool isEmpty(const TargetImage& i) {
    return i.format == PixelFormat::None && i.width == 0 && i.height == 0 && i.stride == 0 && i.resolution == 0.0 &&
           i.rows.empty() && i.blockCount == 0 && i.rowsPerBlock == 0 && i.blocks.empty();
}

TEST(TargetImage, RowsLieInBlocksBottomFirstPaddedToFourBytes) {
    TargetImage image;
    ASSERT_EQ(allocateImage(image, PixelFormat::Rgb24, 1000, 1000, 300.0), 0);
    EXPECT_EQ(rowsInBlock(image, 11), 65);
    for (std::size_t r = 0; r < 1000; ++r) ASSERT_EQ(image.rows.at(r), image.blocks.at(r / 85).get() + r % 85 * 3000);
    const std::tuple<PixelFormat, std::int32_t, std::int32_t> strides[] = {
        {PixelFormat::Bilevel, 9, 4}, {PixelFormat::Bilevel, 33, 8}, {PixelFormat::Gray8, 5, 8},
        {PixelFormat::Rgb24, 5, 16},  {PixelFormat::Gray16, 3, 8},   {PixelFormat::Rgb48, 3, 20}};
    for (const auto& [format, width, stride] : strides) {
        ASSERT_EQ(allocateImage(image, format, width, 2, 72.0), 0);
        EXPECT_EQ(image.stride, stride) << int(format) << " width " << width;
        for (auto i = rowBytesFor(format, width); i < stride; ++i) EXPECT_EQ(image.rows[1][i], 0) << "padding";
    }
    // The widest row, 255996 bytes, is a block of its own; anything wider is refused.
    ASSERT_EQ(allocateImage(image, PixelFormat::Rgb48, 42666, 3, 300.0), 0);
    EXPECT_EQ(image.blockCount, 3);
    EXPECT_EQ(allocateImage(image, PixelFormat::Rgb48, 42667, 3, 300.0), 1);
    EXPECT_TRUE(isEmpty(image));
    EXPECT_EQ(allocateImage(image, PixelFormat::Rgb48, 42666, kMaxRasterBytes / 256000 + 1, 300.0), 1);
    EXPECT_EQ(allocateImage(image, PixelFormat::Gray8, 1, 300000000, 300.0), 1);  // its row table would be too large
}

TEST(TargetImage, ReallocationCopyAndMove) {
    TargetImage image, copy;
    ASSERT_EQ(allocateImage(image, PixelFormat::Gray8, 10, 4, 300.0), 0);
    std::memset(image.rows[2], 0xAB, 12);
    const std::uint8_t* before = image.rows[2];
    ASSERT_EQ(allocateImage(image, PixelFormat::Gray8, 10, 4, 150.0), 0);  // the same size keeps the pixels
    ASSERT_EQ(copyImage(image, copy), 0);
    EXPECT_TRUE(copy.resolution == 150.0 && copy.rows[2] != before && std::memcmp(copy.rows[2], before, 12) == 0);
    TargetImage moved(std::move(copy));
    EXPECT_TRUE(isEmpty(copy));
    copy = std::move(moved);
    EXPECT_TRUE(isEmpty(moved) && copy.rows[2][9] == 0xAB);
    clearImage(image);
    EXPECT_TRUE(isEmpty(image));
}

}  // namespace
}  // namespace calivant
