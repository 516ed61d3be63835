#pragma once
// How the decoders' rows become rows of the image: each stored row is
// converted to the image's pixel layout (blue, green, red; 16-bit samples
// low byte first; alpha dropped; the horizontal predictor undone) and put
// where the orientation sends it in the upright picture. Shared by the TIFF,
// PNG and JPEG readers; internal to the image folder.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "image/orientation.h"
#include "image/target_image.h"

namespace calivant {

// Pixels per inch of a picture that does not say: a TIFF without
// XResolution, a PNG without pHYs, a JPEG without a JFIF density.
inline constexpr double kDefaultResolution = 300.0;

// 16-bit value at p in either byte order.
inline std::uint32_t load16(const std::uint8_t* p, bool bigEndian) {
    return bigEndian ? (std::uint32_t{p[0]} << 8) | p[1] : p[0] | (std::uint32_t{p[1]} << 8);
}

// How the stored rows of one picture are turned into rows of the image.
struct RowFormat {
    PixelFormat format = PixelFormat::None;
    std::int32_t width = 0;  // pixels of one stored row
    std::uint32_t samples = 1;
    std::uint32_t bits = 8;
    bool littleEndian = true;
    bool predictor = false;
    bool inverted = false;
    std::size_t fileRowBytes = 0;
    std::size_t imageRowBytes = 0;
};

// Turns one stored row into an image row of f.width pixels. White-is-zero
// data is inverted last: the predictor works on the values as written.
void storeRow(const RowFormat& f, const std::uint8_t* in, std::uint8_t* out);

// Puts converted rows (image pixel format, stored order) where the
// orientation sends them in the upright image.
class RowPlacer {
public:
    RowPlacer(TargetImage& image, Orientation orientation)
        : image_(image), o_(orientation), pixelBytes_(static_cast<std::size_t>(bytesPerPixel(image.format))) {}

    bool direct() const { return o_.identity(); }

    // The image row (row 0 at the bottom) that stored row r fills when the
    // rows are not exchanged with the columns.
    std::uint8_t* rowFor(std::uint64_t r) const {
        const auto h = static_cast<std::uint64_t>(image_.height);
        return image_.rows[static_cast<std::size_t>(o_.flipY ? r : h - 1 - r)];
    }

    // count converted rows of stride bytes, stored rows top.., holding
    // stored columns left .. left + visible - 1 from their first byte on.
    void place(const std::uint8_t* converted, std::size_t stride, std::size_t count, std::uint64_t top,
               std::uint64_t left, std::uint64_t visible) const;

private:
    TargetImage& image_;
    Orientation o_;
    std::size_t pixelBytes_;
};

// Why a picture of this format and size cannot be held ("too wide", "more
// than 1.5 GiB of raster"), or empty when it can: checked before anything
// of its size is allocated or decoded.
std::string_view rasterSizeProblem(PixelFormat format, std::int64_t width, std::int64_t height,
                                   std::int64_t maxRasterBytes);

// Converts count stored rows (fileRowBytes apart) of a piece of the picture
// that starts at stored row top and column left and shows visible columns,
// and places them. Rows go straight into the image when nothing is turned
// and the piece is as wide as the picture; otherwise through converted,
// which holds count image rows of the piece's full width.
void storeRows(const RowFormat& f, const RowPlacer& placer, const std::uint8_t* rows, std::size_t count,
               std::uint64_t top, std::uint64_t left, std::uint64_t visible, std::uint8_t* converted);

}  // namespace calivant
