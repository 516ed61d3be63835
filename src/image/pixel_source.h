#pragma once
// A picture as the measurement reads it: one pixel at a time, red, green and
// blue, row 0 at the bottom. The loaded working image is one such picture; a
// file read in place, without building the image, is another.

#include <array>
#include <cstddef>
#include <cstdint>

#include "image/target_image.h"

namespace calivant {

// Red, green, blue: 0..255 for Rgb24, 0..65535 for Rgb48.
using PixelRgb = std::array<int, 3>;

class PixelSource {
public:
    virtual ~PixelSource() = default;
    // Rgb24 or Rgb48 for a picture with pixels; anything else has none.
    PixelFormat format() const { return format_; }
    std::int32_t width() const { return width_; }
    std::int32_t height() const { return height_; }
    // The pixel at column x, row y (0 <= x < width, 0 <= y < height). Safe
    // to call from several threads at once.
    virtual PixelRgb pixel(std::int32_t x, std::int32_t y) const = 0;
    // True when pixels read so far may be wrong because the file beneath
    // them shrank while it was read (the pixels then read as zeros). Asked
    // once after reading, not per pixel.
    virtual bool changedWhileRead() const { return false; }

protected:
    PixelFormat format_ = PixelFormat::None;
    std::int32_t width_ = 0;
    std::int32_t height_ = 0;
};

// A TargetImage read where it lies; the image must outlive this.
class ImagePixels final : public PixelSource {
public:
    explicit ImagePixels(const TargetImage& image) : image_(image) {
        const bool rgb = image.format == PixelFormat::Rgb24 || image.format == PixelFormat::Rgb48;
        if (rgb && image.width >= 1 && image.height >= 1 &&
            static_cast<std::int64_t>(image.rows.size()) >= image.height) {
            format_ = image.format;
            width_ = image.width;
            height_ = image.height;
        }
    }

    PixelRgb pixel(std::int32_t x, std::int32_t y) const override {
        // Stored blue, green, red, 16-bit samples low byte first.
        const std::uint8_t* row = image_.rows[static_cast<std::size_t>(y)];
        if (format_ == PixelFormat::Rgb48) {
            const std::uint8_t* p = row + static_cast<std::size_t>(x) * 6;
            return {p[4] | (p[5] << 8), p[2] | (p[3] << 8), p[0] | (p[1] << 8)};
        }
        const std::uint8_t* p = row + static_cast<std::size_t>(x) * 3;
        return {p[2], p[1], p[0]};
    }

private:
    const TargetImage& image_;
};

}  // namespace calivant
