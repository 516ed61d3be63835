#pragma once
// The one raster type of the program: the loaded target, its display copy and
// every temporary copy made while turning it.
//
// Row 0 is the bottom row of the picture (the order of a bottom-up
// device-independent bitmap). Colour pixels are stored blue, green, red and
// 16-bit samples low byte first, whatever the source file used.
//
// The raster lives in blocks of whole rows, each at most kMaxBlockBytes, and
// every block is itself a bottom-up bitmap of its rows: the display paints a
// block at a time and the TIFF reader fills at most a block's worth of rows
// per read.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace calivant {

enum class PixelFormat : std::int32_t {
    None = 0,
    Bilevel = 1,  // 1 bit per pixel, first pixel in bit 0x80; a set bit is white
    Gray8 = 2,    // 0 black, 255 white
    Rgb24 = 3,    // blue, green, red bytes
    Gray16 = 4,   // one little-endian 16-bit value
    Rgb48 = 5,    // blue, green, red little-endian 16-bit values
};

// Largest block, and therefore the widest row a record can hold.
inline constexpr std::int32_t kMaxBlockBytes = 256000;

// Largest raster allocateImage accepts: stride x height plus the row table.
// It takes a 48-bit 16000 x 12000 scan (1.15e9 bytes) with room to spare;
// its purpose is to turn absurd sizes from a damaged file header into a
// clean failure.
inline constexpr std::int64_t kMaxRasterBytes = std::int64_t{1536} * 1024 * 1024;

struct TargetImage {
    PixelFormat format = PixelFormat::None;
    std::int32_t width = 0;
    std::int32_t height = 0;
    // Bytes from one row to the next: the row's bytes padded to a multiple of 4.
    std::int32_t stride = 0;
    // Pixels per inch; carried through every copy and transform.
    double resolution = 0.0;
    // One pointer per row into the blocks, rows[0] the bottom row. Empty for
    // an image without a raster.
    std::vector<std::uint8_t*> rows;
    std::int32_t blockCount = 0;
    std::int32_t rowsPerBlock = 0;
    // Block b holds rows b * rowsPerBlock onward, consecutive, bottom row first.
    std::vector<std::unique_ptr<std::uint8_t[]>> blocks;

    // A default record is the empty image. Records own their raster: they
    // move but never copy (copyImage copies explicitly).
    TargetImage() = default;
    TargetImage(TargetImage&& other) noexcept;
    TargetImage& operator=(TargetImage&& other) noexcept;
    TargetImage(const TargetImage&) = delete;
    TargetImage& operator=(const TargetImage&) = delete;
    ~TargetImage() = default;
};

// Bytes of one pixel of a byte-aligned format; 0 for Bilevel and None.
int bytesPerPixel(PixelFormat format);

// Row stride of a format at a width, before the 256000-byte limit is
// applied: the row's bytes padded up to a multiple of 4. 0 for None or a
// width below 1.
std::int64_t strideFor(PixelFormat format, std::int64_t width);

// Bytes of a row that hold pixels (the stride without its padding).
std::int64_t rowBytesFor(PixelFormat format, std::int64_t width);

// What allocateImage weighs against kMaxRasterBytes: the rows with their
// padding and the row table. Widths and heights up to 2^31 - 1 stay within
// 64 bits.
std::int64_t rasterBytesFor(PixelFormat format, std::int64_t width, std::int64_t height);

// Number of rows held in block `block` of image.
std::int32_t rowsInBlock(const TargetImage& image, std::int32_t block);

// Resets the record to the empty image. A default-constructed record is
// already empty; this is for records being reused.
void initImage(TargetImage& image);

// Gives image a raster of the given format and size. When the record already
// has this format, width and height only the resolution changes and the
// pixels stay. A format outside Bilevel..Rgb48 or a size below 1 leaves the
// record without a raster but with these fields set (result 0). Pixel
// contents of a fresh raster are undefined except the row padding, which is
// zero. Returns 1, with the record emptied, when a row would exceed
// kMaxBlockBytes, the raster would exceed kMaxRasterBytes, or memory runs out.
int allocateImage(TargetImage& image, PixelFormat format, std::int32_t width, std::int32_t height,
                  double resolution);

// Releases the raster and zeroes every field.
void freeImage(TargetImage& image);

// Empties the record through allocateImage, as a caller holding no sizes does.
void clearImage(TargetImage& image);

// Makes target a copy of source (format, sizes, resolution, every row).
// Returns 1, with target emptied, when target cannot be allocated.
int copyImage(const TargetImage& source, TargetImage& target);

}  // namespace calivant
