#include "image/target_image.h"

#include <cassert>
#include <cstring>
#include <new>
#include <utility>

namespace calivant {
namespace {

bool hasPixels(PixelFormat format) {
    return format >= PixelFormat::Bilevel && format <= PixelFormat::Rgb48;
}

void takeFrom(TargetImage& to, TargetImage& from) noexcept {
    to.format = std::exchange(from.format, PixelFormat::None);
    to.width = std::exchange(from.width, 0);
    to.height = std::exchange(from.height, 0);
    to.stride = std::exchange(from.stride, 0);
    to.resolution = std::exchange(from.resolution, 0.0);
    to.rows = std::exchange(from.rows, {});
    to.blockCount = std::exchange(from.blockCount, 0);
    to.rowsPerBlock = std::exchange(from.rowsPerBlock, 0);
    to.blocks = std::exchange(from.blocks, {});
}

// Builds the tables and blocks of a record whose fields are already set.
// Returns 1 when memory runs out.
int allocateRaster(TargetImage& image) {
    const std::int32_t stride = image.stride;
    const std::int32_t rowsPerBlock = image.rowsPerBlock;
    const std::int32_t blockCount = (image.height + rowsPerBlock - 1) / rowsPerBlock;
    const std::int64_t rowBytes = rowBytesFor(image.format, image.width);
    try {
        image.rows.resize(static_cast<std::size_t>(image.height));
        image.blocks.resize(static_cast<std::size_t>(blockCount));
    } catch (const std::bad_alloc&) {
        return 1;
    }
    image.blockCount = blockCount;
    for (std::int32_t b = 0; b < blockCount; ++b) {
        const std::int32_t rows = rowsInBlock(image, b);
        // Not value-initialised: the reader and the transforms overwrite
        // every pixel, and clearing a large scan would cost a pass over it.
        image.blocks[static_cast<std::size_t>(b)].reset(
            new (std::nothrow) std::uint8_t[static_cast<std::size_t>(rows) * static_cast<std::size_t>(stride)]);
        std::uint8_t* block = image.blocks[static_cast<std::size_t>(b)].get();
        if (!block) return 1;
        for (std::int32_t i = 0; i < rows; ++i) {
            std::uint8_t* row = block + static_cast<std::size_t>(i) * static_cast<std::size_t>(stride);
            // The padding is never written by anyone; zeroing it keeps whole
            // rows comparable and copyable without touching undefined bytes.
            std::memset(row + rowBytes, 0, static_cast<std::size_t>(stride - rowBytes));
            image.rows[static_cast<std::size_t>(b) * static_cast<std::size_t>(rowsPerBlock) +
                       static_cast<std::size_t>(i)] = row;
        }
    }
    return 0;
}

}  // namespace

TargetImage::TargetImage(TargetImage&& other) noexcept { takeFrom(*this, other); }

TargetImage& TargetImage::operator=(TargetImage&& other) noexcept {
    if (this != &other) takeFrom(*this, other);
    return *this;
}

int bytesPerPixel(PixelFormat format) {
    switch (format) {
        case PixelFormat::Gray8: return 1;
        case PixelFormat::Rgb24: return 3;
        case PixelFormat::Gray16: return 2;
        case PixelFormat::Rgb48: return 6;
        default: return 0;
    }
}

std::int64_t rowBytesFor(PixelFormat format, std::int64_t width) {
    if (width < 1 || !hasPixels(format)) return 0;
    if (format == PixelFormat::Bilevel) return (width + 7) / 8;
    return width * bytesPerPixel(format);
}

std::int64_t strideFor(PixelFormat format, std::int64_t width) {
    return (rowBytesFor(format, width) + 3) / 4 * 4;
}

std::int64_t rasterBytesFor(PixelFormat format, std::int64_t width, std::int64_t height) {
    // The row table counts too: a one-pixel-wide image of absurd height
    // would otherwise need gigabytes of pointers for a small raster.
    return (strideFor(format, width) + static_cast<std::int64_t>(sizeof(std::uint8_t*))) * height;
}

std::int32_t rowsInBlock(const TargetImage& image, std::int32_t block) {
    assert(block >= 0 && block < image.blockCount);
    if (block + 1 < image.blockCount) return image.rowsPerBlock;
    return image.height - block * image.rowsPerBlock;
}

void initImage(TargetImage& image) { image = TargetImage{}; }

int allocateImage(TargetImage& image, PixelFormat format, std::int32_t width, std::int32_t height,
                  double resolution) {
    if (image.format == format && image.width == width && image.height == height) {
        image.resolution = resolution;
        return 0;
    }
    freeImage(image);
    const std::int64_t stride = strideFor(format, width);
    image.format = format;
    image.width = width;
    image.height = height;
    image.resolution = resolution;
    if (!hasPixels(format) || stride == 0 || height < 1) return 0;
    if (stride > kMaxBlockBytes || rasterBytesFor(format, width, height) > kMaxRasterBytes) {
        freeImage(image);
        return 1;
    }
    image.stride = static_cast<std::int32_t>(stride);
    image.rowsPerBlock = kMaxBlockBytes / image.stride;
    if (allocateRaster(image) != 0) {
        freeImage(image);
        return 1;
    }
    return 0;
}

void freeImage(TargetImage& image) { image = TargetImage{}; }

void clearImage(TargetImage& image) { allocateImage(image, PixelFormat::None, 0, 0, 0.0); }

int copyImage(const TargetImage& source, TargetImage& target) {
    assert(&source != &target);
    if (allocateImage(target, source.format, source.width, source.height, source.resolution) != 0) return 1;
    assert(target.rows.size() == source.rows.size());
    for (std::size_t r = 0; r < source.rows.size(); ++r)
        std::memcpy(target.rows[r], source.rows[r], static_cast<std::size_t>(source.stride));
    return 0;
}

}  // namespace calivant
