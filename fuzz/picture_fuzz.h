#pragma once
// What the PNG and JPEG fuzz targets check of one input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "image/byte_source.h"
#include "image/picture_reader.h"
#include "image/target_image.h"

namespace calivant {

// Pictures up to this size are decoded; larger ones are refused unread,
// which keeps each run within the fuzzer's memory and time.
inline constexpr std::int64_t kFuzzRasterBytes = std::int64_t{64} << 20;

inline void fuzzPictureReader(const std::uint8_t* data, std::size_t size) {
    MemoryByteSource source(std::span<const std::uint8_t>(data, size));
    const PictureTurn turn{static_cast<int>(size % 4), size % 3 == 0};
    TargetImage image;
    PictureRead read;
    const int result = readPicture(source, image, read, {turn, 0, kFuzzRasterBytes});
    if (result != 0) {
        if (!image.rows.empty() || image.format != PixelFormat::None || image.width != 0) std::abort();
        if (read.reason.empty()) std::abort();
        return;
    }
    if (!read.reason.empty()) std::abort();
    if (image.width < 1 || image.height < 1 || image.rows.size() != static_cast<std::size_t>(image.height)) std::abort();
    if (image.stride < rowBytesFor(image.format, image.width) || image.stride % 4 != 0) std::abort();
    // Every byte of every row touched: a row outside its block shows under
    // AddressSanitizer, and bytes never written under MemorySanitizer.
    unsigned sum = 0;
    for (const std::uint8_t* row : image.rows)
        for (std::int32_t i = 0; i < image.stride; ++i) sum += row[i];
    volatile unsigned keep = sum;
    (void)keep;
}

}  // namespace calivant
