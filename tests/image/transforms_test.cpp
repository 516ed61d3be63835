#include "image/transforms.h"

#include <gtest/gtest.h>

#include "image/display_image.h"
#include "image/image_fixtures.h"

// The turns and mirrors are checked pixel by pixel through the TIFF
// orientations in tiff_reader_test.cpp.

namespace calivant {
namespace {

using testing::imageSample;

TargetImage noise(PixelFormat format, std::int32_t width, std::int32_t height) {
    TargetImage image;
    EXPECT_EQ(allocateImage(image, format, width, height, 123.0), 0);
    std::uint32_t seed = 5;
    for (std::uint8_t* row : image.rows)
        for (std::int64_t i = 0; i < rowBytesFor(format, width); ++i)
            row[i] = static_cast<std::uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24);
    return image;
}

TEST(Transforms, DisplayCopyIsTheNearestPixelReducedTo24Bits) {
    for (std::uint32_t v = 0; v < 65536; ++v)  // reduceSample rounds to nearest
        ASSERT_EQ(reduceSample(static_cast<std::uint16_t>(v)), static_cast<int>(v * 255.0 / 65535.0 + 0.5 - 1e-9)) << v;
    const TargetImage source = noise(PixelFormat::Rgb48, 37, 23);
    TargetImage display;
    // Column i of n takes source column last * i / (n - 1), or 0 when n is 1. Rows likewise.
    auto nearest = [](std::int32_t i, std::int32_t n, std::int32_t last) { return n > 1 ? last * i / (n - 1) : 0; };
    for (const auto& [w, h] : {std::pair{37, 23}, {5, 4}, {80, 50}, {1, 3}, {3, 1}}) {
        ASSERT_EQ(buildDisplayImage(source, DisplaySize{w, h}, display), 0);
        ASSERT_TRUE(display.format == PixelFormat::Rgb24 && display.width == w && display.height == h);
        EXPECT_EQ(display.resolution, 123.0);
        for (std::int32_t j = 0; j < h * 3; ++j)
            for (std::int32_t i = 0; i < w; ++i)
                ASSERT_EQ(imageSample(display, i, j / 3, j % 3),
                          reduceSample(imageSample(source, nearest(i, w, 36), nearest(j / 3, h, 22), j % 3)))
                    << w << " x " << h << " at " << i << ", " << j / 3;
    }
    ASSERT_EQ(buildDisplayImage(noise(PixelFormat::Rgb24, 30, 20), DisplaySize{30, 20}, display), 0);
    EXPECT_EQ(imageSample(display, 29, 19, 0), imageSample(noise(PixelFormat::Rgb24, 30, 20), 29, 19, 0));
    ASSERT_EQ(buildDisplayImage(source, DisplaySize{0, 5}, display), 0);  // no width, no raster
    EXPECT_TRUE(display.rows.empty());
    display = noise(PixelFormat::Gray8, 4, 4);
    EXPECT_EQ(scaleImage(TargetImage{}, display, 10, 10), 0);  // an empty source empties
    EXPECT_TRUE(display.rows.empty() && display.format == PixelFormat::None);
}

TEST(Transforms, DisplayFillsTheWindowLessItsMarginCentred) {
    // A margin of 5 takes 40 pixels each way.
    auto sizeIn = [](PixelFormat format, std::int32_t width, std::int32_t height, std::int32_t clientWidth) {
        TargetImage image;
        EXPECT_EQ(allocateImage(image, format, width, height, 300.0), 0);
        const auto size = displaySizeFor(image, clientWidth, 640, 5);
        return size ? std::pair{size->width, size->height} : std::pair{-1, -1};
    };
    EXPECT_EQ(sizeIn(PixelFormat::Rgb24, 3000, 2000, 840), std::pair(800, 533));
    EXPECT_EQ(sizeIn(PixelFormat::Rgb48, 2000, 3000, 840), std::pair(400, 600));
    EXPECT_EQ(sizeIn(PixelFormat::Rgb48, 2000, 3000, 40), std::pair(0, 0));
    EXPECT_EQ(sizeIn(PixelFormat::Gray8, 20, 30, 840), std::pair(-1, -1));
    EXPECT_EQ(sizeIn(PixelFormat::None, 0, 0, 840), std::pair(-1, -1));
    EXPECT_EQ(displayOriginFor(DisplaySize{400, 600}, 840, 640).x, 220);
    EXPECT_EQ(displayOriginFor(DisplaySize{400, 600}, 840, 640).y, 20);
}

}  // namespace
}  // namespace calivant
