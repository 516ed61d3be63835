#include "image/transforms.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "image/display_image.h"

namespace calivant {
namespace {

const PixelFormat kFormats[] = {PixelFormat::Bilevel, PixelFormat::Gray8, PixelFormat::Rgb24, PixelFormat::Gray16,
                                PixelFormat::Rgb48};

// A pixel as comparable bytes: its bit, or its bytes.
std::string pixel(const TargetImage& image, std::int32_t x, std::int32_t r) {
    const std::uint8_t* row = image.rows.at(static_cast<std::size_t>(r));
    if (image.format == PixelFormat::Bilevel) return std::string(1, static_cast<char>((row[x / 8] >> (7 - x % 8)) & 1));
    const int n = bytesPerPixel(image.format);
    return std::string(reinterpret_cast<const char*>(row) + x * n, static_cast<std::size_t>(n));
}

TargetImage noise(PixelFormat format, std::int32_t width, std::int32_t height, std::uint32_t seed) {
    TargetImage image;
    EXPECT_EQ(allocateImage(image, format, width, height, 123.0), 0);
    const auto bytes = static_cast<std::size_t>(rowBytesFor(format, width));
    for (std::uint8_t* row : image.rows)
        for (std::size_t i = 0; i < bytes; ++i) {
            seed = seed * 1664525u + 1013904223u;
            row[i] = static_cast<std::uint8_t>(seed >> 24);
        }
    // Bits past the last bilevel pixel are not pixels; keep them clear so
    // whole rows compare.
    if (format == PixelFormat::Bilevel && width % 8)
        for (std::uint8_t* row : image.rows) row[bytes - 1] &= static_cast<std::uint8_t>(0xFF << (8 - width % 8));
    return image;
}

::testing::AssertionResult sameRaster(const TargetImage& a, const TargetImage& b) {
    if (a.format != b.format || a.width != b.width || a.height != b.height || a.rows.size() != b.rows.size())
        return ::testing::AssertionFailure() << "different formats or sizes";
    if (a.resolution != b.resolution) return ::testing::AssertionFailure() << "resolution not carried";
    for (std::size_t r = 0; r < a.rows.size(); ++r)
        if (std::memcmp(a.rows[r], b.rows[r], static_cast<std::size_t>(a.stride)) != 0)
            return ::testing::AssertionFailure() << "row " << r << " differs";
    return ::testing::AssertionSuccess();
}

using Transform = int (*)(const TargetImage&, TargetImage&);

TargetImage apply(Transform t, const TargetImage& source) {
    TargetImage out;
    EXPECT_EQ(t(source, out), 0);
    return out;
}

struct Mapping {
    const char* name;
    Transform transform;
    bool swaps;
    // Source column and row of destination pixel (x, r), source size w x h.
    std::function<void(std::int32_t x, std::int32_t r, std::int32_t w, std::int32_t h, std::int32_t& sx, std::int32_t& sr)>
        from;
};

const Mapping kMappings[] = {
    {"mirror", mirrorImage, false, [](auto x, auto r, auto w, auto, auto& sx, auto& sr) { sx = w - 1 - x, sr = r; }},
    {"half", turnHalf, false, [](auto x, auto r, auto w, auto h, auto& sx, auto& sr) { sx = w - 1 - x, sr = h - 1 - r; }},
    {"flip", flipImage, false, [](auto x, auto r, auto, auto h, auto& sx, auto& sr) { sx = x, sr = h - 1 - r; }},
    {"clockwise", turnClockwise, true, [](auto x, auto r, auto w, auto, auto& sx, auto& sr) { sx = w - 1 - r, sr = x; }},
    {"counter", turnCounterClockwise, true,
     [](auto x, auto r, auto, auto h, auto& sx, auto& sr) { sx = r, sr = h - 1 - x; }},
    {"transpose", transposeImage, true,
     [](auto x, auto r, auto w, auto h, auto& sx, auto& sr) { sx = w - 1 - r, sr = h - 1 - x; }},
    {"transverse", transverseImage, true, [](auto x, auto r, auto, auto, auto& sx, auto& sr) { sx = r, sr = x; }},
};

TEST(Transforms, EachMovesEveryPixelWhereItsTableSays) {
    // 67 x 130 crosses the 64-pixel tiles both ways; 9 columns leave a
    // partial byte in bilevel rows.
    for (PixelFormat format : kFormats)
        for (const auto& [w, h] : {std::pair{67, 130}, std::pair{9, 3}, std::pair{1, 1}}) {
            const TargetImage source = noise(format, w, h, 7);
            for (const Mapping& m : kMappings) {
                SCOPED_TRACE(std::string(m.name) + " format " + std::to_string(static_cast<int>(format)) + " " +
                             std::to_string(w) + "x" + std::to_string(h));
                const TargetImage out = apply(m.transform, source);
                ASSERT_EQ(out.format, format);
                ASSERT_EQ(out.width, m.swaps ? h : w);
                ASSERT_EQ(out.height, m.swaps ? w : h);
                EXPECT_EQ(out.resolution, 123.0);
                for (std::int32_t r = 0; r < out.height; ++r)
                    for (std::int32_t x = 0; x < out.width; ++x) {
                        std::int32_t sx = 0;
                        std::int32_t sr = 0;
                        m.from(x, r, w, h, sx, sr);
                        ASSERT_EQ(pixel(out, x, r), pixel(source, sx, sr)) << "pixel " << x << "," << r;
                    }
            }
        }
}

TEST(Transforms, TurnsAndMirrorsUndoThemselves) {
    // 500 x 300 Rgb48 has rows of 3000 bytes: 85 rows per block, so the
    // transforms cross blocks as well as tiles.
    for (PixelFormat format : kFormats)
        for (const auto& [w, h] : {std::pair{500, 300}, std::pair{70, 13}}) {
            SCOPED_TRACE(static_cast<int>(format));
            const TargetImage source = noise(format, w, h, 11);
            TargetImage turned = apply(turnClockwise, source);
            for (int i = 0; i < 3; ++i) turned = apply(turnClockwise, turned);
            EXPECT_TRUE(sameRaster(turned, source));
            EXPECT_TRUE(sameRaster(apply(turnCounterClockwise, apply(turnClockwise, source)), source));
            EXPECT_TRUE(sameRaster(apply(mirrorImage, apply(mirrorImage, source)), source));
            EXPECT_TRUE(sameRaster(apply(flipImage, apply(flipImage, source)), source));
            EXPECT_TRUE(sameRaster(apply(turnHalf, apply(turnHalf, source)), source));
            EXPECT_TRUE(sameRaster(apply(transposeImage, apply(transposeImage, source)), source));
            EXPECT_TRUE(sameRaster(apply(transverseImage, apply(transverseImage, source)), source));
            // Composites: a half turn is two quarter turns; a transpose is a
            // quarter turn clockwise then a mirror.
            EXPECT_TRUE(sameRaster(apply(turnHalf, source), apply(turnClockwise, apply(turnClockwise, source))));
            EXPECT_TRUE(sameRaster(apply(transposeImage, source), apply(mirrorImage, apply(turnClockwise, source))));
        }
}

TEST(Transforms, RotateShowsTheBottomRightPixelAtTheBottomLeft) {
    TargetImage source = noise(PixelFormat::Rgb24, 300, 200, 3);
    const TargetImage turned = apply(turnClockwise, source);
    EXPECT_EQ(turned.width, 200);
    EXPECT_EQ(turned.height, 300);
    EXPECT_EQ(pixel(turned, 0, 0), pixel(source, 299, 0));
}

TEST(Transforms, EmptySourceGivesEmptyDestination) {
    const TargetImage empty;
    for (const Mapping& m : kMappings) {
        TargetImage out = noise(PixelFormat::Gray8, 4, 4, 1);
        EXPECT_EQ(m.transform(empty, out), 0) << m.name;
        EXPECT_TRUE(out.rows.empty()) << m.name;
    }
}

TEST(ScaleImage, KeepsCornersAndReproducesItsOwnSize) {
    for (PixelFormat format : kFormats) {
        SCOPED_TRACE(static_cast<int>(format));
        const TargetImage source = noise(format, 37, 23, 5);
        TargetImage same;
        ASSERT_EQ(scaleImage(source, same, 37, 23), 0);
        EXPECT_TRUE(sameRaster(same, source));

        TargetImage small;
        ASSERT_EQ(scaleImage(source, small, 5, 4), 0);
        // Column i takes (W - 1) * i / (width - 1), row j likewise.
        const std::int32_t columns[] = {0, 9, 18, 27, 36};
        const std::int32_t rows[] = {0, 7, 14, 22};
        for (std::int32_t j = 0; j < 4; ++j)
            for (std::int32_t i = 0; i < 5; ++i) EXPECT_EQ(pixel(small, i, j), pixel(source, columns[i], rows[j]));

        TargetImage large;
        ASSERT_EQ(scaleImage(source, large, 80, 50), 0);
        EXPECT_EQ(pixel(large, 79, 49), pixel(source, 36, 22));
        EXPECT_EQ(pixel(large, 40, 25), pixel(source, 36 * 40 / 79, 22 * 25 / 49));

        // A size of 1 takes column or row 0 instead of dividing by zero.
        TargetImage line;
        ASSERT_EQ(scaleImage(source, line, 1, 3), 0);
        EXPECT_EQ(pixel(line, 0, 2), pixel(source, 0, 22));
        ASSERT_EQ(scaleImage(source, line, 3, 1), 0);
        EXPECT_EQ(pixel(line, 2, 0), pixel(source, 36, 0));
    }
    TargetImage out = noise(PixelFormat::Gray8, 3, 3, 1);
    EXPECT_EQ(scaleImage(TargetImage{}, out, 10, 10), 0);
    EXPECT_TRUE(out.rows.empty());
    EXPECT_EQ(out.format, PixelFormat::None);
}

TEST(ReduceTo24, RoundsSixteenBitSamples) {
    EXPECT_EQ(reduceSample(65535), 255);
    EXPECT_EQ(reduceSample(32767), 127);
    EXPECT_EQ(reduceSample(32768), 128);
    EXPECT_EQ(reduceSample(128), 0);
    EXPECT_EQ(reduceSample(129), 1);
    EXPECT_EQ(reduceSample(0), 0);
    // The formula against rounding to nearest in doubles, every value.
    for (std::uint32_t v = 0; v < 65536; ++v)
        ASSERT_EQ(reduceSample(static_cast<std::uint16_t>(v)), static_cast<int>(v * 255.0 / 65535.0 + 0.5 - 1e-9))
            << v;

    TargetImage source;
    ASSERT_EQ(allocateImage(source, PixelFormat::Rgb48, 2, 1, 300.0), 0);
    const std::uint16_t samples[] = {65535, 32767, 32768, 128, 129, 0};  // blue, green, red, ...
    for (int i = 0; i < 6; ++i) {
        source.rows[0][2 * i] = static_cast<std::uint8_t>(samples[i]);
        source.rows[0][2 * i + 1] = static_cast<std::uint8_t>(samples[i] >> 8);
    }
    TargetImage reduced;
    ASSERT_EQ(reduceTo24(source, reduced), 0);
    EXPECT_EQ(reduced.format, PixelFormat::Rgb24);
    EXPECT_EQ(reduced.resolution, 300.0);
    const std::uint8_t expected[] = {255, 127, 128, 0, 1, 0};
    EXPECT_EQ(std::memcmp(reduced.rows[0], expected, 6), 0);

    EXPECT_EQ(reduceTo24(reduced, source), 1);  // not 48-bit
}

TEST(DisplayImage, FillsTheAvailableWidthOrHeight) {
    TargetImage image;
    ASSERT_EQ(allocateImage(image, PixelFormat::Rgb24, 3000, 2000, 300.0), 0);
    // A margin of 5 takes 40 pixels each way.
    auto size = displaySizeFor(image, 840, 640, 5);
    ASSERT_TRUE(size);
    EXPECT_EQ(size->width, 800);
    EXPECT_EQ(size->height, 533);

    ASSERT_EQ(allocateImage(image, PixelFormat::Rgb48, 2000, 3000, 300.0), 0);
    size = displaySizeFor(image, 840, 640, 5);
    ASSERT_TRUE(size);
    EXPECT_EQ(size->width, 400);
    EXPECT_EQ(size->height, 600);

    // Too small a window shows nothing; non-colour images change nothing.
    size = displaySizeFor(image, 40, 640, 5);
    ASSERT_TRUE(size);
    EXPECT_EQ(size->width, 0);
    EXPECT_EQ(size->height, 0);
    ASSERT_EQ(allocateImage(image, PixelFormat::Gray8, 20, 30, 300.0), 0);
    EXPECT_FALSE(displaySizeFor(image, 840, 640, 5));
    EXPECT_FALSE(displaySizeFor(TargetImage{}, 840, 640, 5));

    // The copy sits centred; a larger window keeps its size.
    EXPECT_EQ(displayOriginFor(DisplaySize{400, 600}, 840, 640).x, 220);
    EXPECT_EQ(displayOriginFor(DisplaySize{400, 600}, 840, 640).y, 20);
    EXPECT_EQ(displayOriginFor(DisplaySize{400, 600}, 1000, 900).x, 300);
}

TEST(DisplayImage, IsAlways24Bit) {
    TargetImage image = noise(PixelFormat::Rgb48, 30, 20, 9);
    TargetImage display;
    ASSERT_EQ(buildDisplayImage(image, DisplaySize{15, 10}, display), 0);
    EXPECT_EQ(display.format, PixelFormat::Rgb24);
    ASSERT_EQ(display.width, 15);
    ASSERT_EQ(display.height, 10);
    // Top-right pixel: source column 29, row 19, each sample reduced.
    const std::uint8_t* from = image.rows[19] + 29 * 6;
    for (int s = 0; s < 3; ++s)
        EXPECT_EQ(display.rows[9][14 * 3 + s], reduceSample(static_cast<std::uint16_t>(from[2 * s] | (from[2 * s + 1] << 8))));

    image = noise(PixelFormat::Rgb24, 30, 20, 9);
    ASSERT_EQ(buildDisplayImage(image, DisplaySize{30, 20}, display), 0);
    EXPECT_TRUE(sameRaster(display, image));
    ASSERT_EQ(buildDisplayImage(image, DisplaySize{0, 0}, display), 0);
    EXPECT_TRUE(display.rows.empty());
}

}  // namespace
}  // namespace calivant
