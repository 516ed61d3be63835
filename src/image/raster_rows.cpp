#include "image/raster_rows.h"

#include <algorithm>
#include <cstring>

namespace calivant {
namespace {

void store16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

// The row conversions: samples reordered to blue, green, red and to
// little-endian, alpha dropped, and with the predictor each sample summed
// with the same channel of the pixel to its left (modulo the sample size).
// The running sums stay in registers, so undoing the predictor costs no
// second pass over the row.
template <bool predictor>
void storeRgb24(const std::uint8_t* in, std::uint8_t* out, std::size_t width, std::size_t step) {
    std::uint8_t r = 0, g = 0, b = 0;
    for (std::size_t x = 0; x < width; ++x, in += step, out += 3) {
        r = static_cast<std::uint8_t>(predictor ? r + in[0] : in[0]);
        g = static_cast<std::uint8_t>(predictor ? g + in[1] : in[1]);
        b = static_cast<std::uint8_t>(predictor ? b + in[2] : in[2]);
        out[0] = b;
        out[1] = g;
        out[2] = r;
    }
}

template <bool predictor, bool bigEndian>
void storeRgb48(const std::uint8_t* in, std::uint8_t* out, std::size_t width, std::size_t step) {
    std::uint32_t r = 0, g = 0, b = 0;
    for (std::size_t x = 0; x < width; ++x, in += step, out += 6) {
        r = predictor ? r + load16(in, bigEndian) : load16(in, bigEndian);
        g = predictor ? g + load16(in + 2, bigEndian) : load16(in + 2, bigEndian);
        b = predictor ? b + load16(in + 4, bigEndian) : load16(in + 4, bigEndian);
        store16(out, b);
        store16(out + 2, g);
        store16(out + 4, r);
    }
}

template <bool predictor, bool bigEndian>
void storeGray16(const std::uint8_t* in, std::uint8_t* out, std::size_t width) {
    std::uint32_t v = 0;
    for (std::size_t x = 0; x < width; ++x, in += 2, out += 2) {
        v = predictor ? v + load16(in, bigEndian) : load16(in, bigEndian);
        store16(out, v);
    }
}

void storeGray8(const std::uint8_t* in, std::uint8_t* out, std::size_t width, bool predictor) {
    if (!predictor) {
        std::memcpy(out, in, width);
        return;
    }
    std::uint8_t v = 0;
    for (std::size_t x = 0; x < width; ++x) out[x] = v = static_cast<std::uint8_t>(v + in[x]);
}

}  // namespace

void storeRow(const RowFormat& f, const std::uint8_t* in, std::uint8_t* out) {
    const auto w = static_cast<std::size_t>(f.width);
    const bool be = !f.littleEndian;
    switch (f.format) {
        case PixelFormat::Bilevel: std::memcpy(out, in, f.fileRowBytes); break;
        case PixelFormat::Gray8:
            if (f.bits == 4) {
                // The first pixel in the high-order half of the byte.
                for (std::size_t x = 0; x < w; ++x) {
                    const std::uint8_t pair = in[x / 2];
                    out[x] = static_cast<std::uint8_t>(17 * ((x & 1) ? (pair & 0x0F) : (pair >> 4)));
                }
            } else {
                storeGray8(in, out, w, f.predictor);
            }
            break;
        case PixelFormat::Gray16:
            if (f.predictor)
                be ? storeGray16<true, true>(in, out, w) : storeGray16<true, false>(in, out, w);
            else
                be ? storeGray16<false, true>(in, out, w) : storeGray16<false, false>(in, out, w);
            break;
        case PixelFormat::Rgb24:
            f.predictor ? storeRgb24<true>(in, out, w, f.samples) : storeRgb24<false>(in, out, w, f.samples);
            break;
        case PixelFormat::Rgb48: {
            const std::size_t step = 2 * std::size_t{f.samples};
            if (f.predictor)
                be ? storeRgb48<true, true>(in, out, w, step) : storeRgb48<true, false>(in, out, w, step);
            else
                be ? storeRgb48<false, true>(in, out, w, step) : storeRgb48<false, false>(in, out, w, step);
            break;
        }
        case PixelFormat::None: break;
    }
    if (f.inverted)
        for (std::size_t i = 0; i < f.imageRowBytes; ++i) out[i] = static_cast<std::uint8_t>(~out[i]);
}

void RowPlacer::place(const std::uint8_t* converted, std::size_t stride, std::size_t count, std::uint64_t top,
                      std::uint64_t left, std::uint64_t visible) const {
    const std::size_t n = pixelBytes_;
    const auto w = static_cast<std::uint64_t>(image_.width);
    const auto h = static_cast<std::uint64_t>(image_.height);
    if (!o_.transpose) {
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t* in = converted + i * stride;
            std::uint8_t* out = rowFor(top + i);
            if (!o_.flipX) {
                std::memcpy(out + left * n, in, static_cast<std::size_t>(visible) * n);
                continue;
            }
            for (std::uint64_t c = 0; c < visible; ++c) std::memcpy(out + (w - 1 - left - c) * n, in + c * n, n);
        }
        return;
    }
    // Stored column c becomes an upright row and stored row r a column;
    // the rows of a band land side by side in each upright row.
    for (std::uint64_t c = 0; c < visible; ++c) {
        const std::uint64_t column = left + c;
        std::uint8_t* out = image_.rows[static_cast<std::size_t>(o_.flipY ? column : h - 1 - column)];
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint64_t r = top + i;
            std::memcpy(out + (o_.flipX ? w - 1 - r : r) * n, converted + i * stride + c * n, n);
        }
    }
}

std::string_view rasterSizeProblem(PixelFormat format, std::int64_t width, std::int64_t height,
                                   std::int64_t maxRasterBytes) {
    if (width < 1 || height < 1) return "image size not valid";
    if (strideFor(format, width) > kMaxBlockBytes) return "image too wide";
    if (rasterBytesFor(format, width, height) > std::min(maxRasterBytes, kMaxRasterBytes))
        return "more than 1.5 GiB of raster";
    return {};
}

void storeRows(const RowFormat& f, const RowPlacer& placer, const std::uint8_t* rows, std::size_t count,
               std::uint64_t top, std::uint64_t left, std::uint64_t visible, std::uint8_t* converted) {
    const bool wholeRows = visible == static_cast<std::uint64_t>(f.width);
    // Tile widths of bilevel images are whole bytes, so every tile starts
    // on a byte of the image row.
    const auto leftBytes = static_cast<std::size_t>(rowBytesFor(f.format, static_cast<std::int64_t>(left)));
    const auto visibleBytes = static_cast<std::size_t>(rowBytesFor(f.format, static_cast<std::int64_t>(visible)));
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* in = rows + i * f.fileRowBytes;
        if (placer.direct() && wholeRows) {
            storeRow(f, in, placer.rowFor(top + i) + leftBytes);
            continue;
        }
        // The predictor runs along the whole stored row, so the row is
        // converted whole and cut afterwards.
        std::uint8_t* row = converted + i * f.imageRowBytes;
        storeRow(f, in, row);
        if (placer.direct()) std::memcpy(placer.rowFor(top + i) + leftBytes, row, visibleBytes);
    }
    if (!placer.direct()) placer.place(converted, f.imageRowBytes, count, top, left, visible);
}

}  // namespace calivant
