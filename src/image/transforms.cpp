#include "image/transforms.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <new>
#include <vector>

namespace calivant {
namespace {

// Tile edge for the transforms that exchange width and height: 64 source
// rows by 64 source columns keep both the rows read and the rows written
// within a few cache lines each.
constexpr std::int32_t kTileSize = 64;

// Moves whole pixels of N bytes.
template <int N>
struct BytePixels {
    static void copy(std::uint8_t* to, std::int32_t toColumn, const std::uint8_t* from, std::int32_t fromColumn) {
        std::memcpy(to + static_cast<std::size_t>(toColumn) * N, from + static_cast<std::size_t>(fromColumn) * N, N);
    }
};

// Moves single bits, first pixel in the most significant bit.
struct BitPixels {
    static void copy(std::uint8_t* to, std::int32_t toColumn, const std::uint8_t* from, std::int32_t fromColumn) {
        const bool white = (from[fromColumn >> 3] & (0x80u >> (fromColumn & 7))) != 0;
        const auto mask = static_cast<std::uint8_t>(0x80u >> (toColumn & 7));
        if (white)
            to[toColumn >> 3] = static_cast<std::uint8_t>(to[toColumn >> 3] | mask);
        else
            to[toColumn >> 3] = static_cast<std::uint8_t>(to[toColumn >> 3] & ~mask);
    }
};

template <class Op>
void withPixels(PixelFormat format, Op&& op) {
    switch (format) {
        case PixelFormat::Bilevel: op(BitPixels{}); break;
        case PixelFormat::Gray8: op(BytePixels<1>{}); break;
        case PixelFormat::Rgb24: op(BytePixels<3>{}); break;
        case PixelFormat::Gray16: op(BytePixels<2>{}); break;
        case PixelFormat::Rgb48: op(BytePixels<6>{}); break;
        case PixelFormat::None: break;
    }
}

// Allocates destination for a transform; `swap` exchanges width and height.
// Returns 1 on failure; `ready` tells whether there are pixels to move.
int prepare(const TargetImage& source, TargetImage& destination, bool swap, bool& ready) {
    assert(&source != &destination);
    ready = false;
    const std::int32_t width = swap ? source.height : source.width;
    const std::int32_t height = swap ? source.width : source.height;
    if (allocateImage(destination, source.format, width, height, source.resolution) != 0) return 1;
    if (source.rows.empty()) return 0;
    assert(static_cast<std::int32_t>(destination.rows.size()) == height);
    // Bit pixels are set and cleared one at a time; clearing first leaves the
    // unused bits of each row's last byte zero.
    if (source.format == PixelFormat::Bilevel)
        for (std::uint8_t* row : destination.rows) std::memset(row, 0, static_cast<std::size_t>(destination.stride));
    ready = true;
    return 0;
}

// mirrorImage and turnHalf: row by row, columns reversed.
int reverseColumns(const TargetImage& source, TargetImage& destination, bool turnRows) {
    bool ready = false;
    const int result = prepare(source, destination, false, ready);
    if (result != 0 || !ready) return result;
    const std::int32_t w = source.width;
    const std::int32_t h = source.height;
    withPixels(source.format, [&](auto pixels) {
        using P = decltype(pixels);
        for (std::int32_t r = 0; r < h; ++r) {
            const std::uint8_t* from = source.rows[static_cast<std::size_t>(turnRows ? h - 1 - r : r)];
            std::uint8_t* to = destination.rows[static_cast<std::size_t>(r)];
            for (std::int32_t x = 0; x < w; ++x) P::copy(to, x, from, w - 1 - x);
        }
    });
    return 0;
}

// The four transforms that exchange width and height. Source pixel (x, y)
// lands in destination column y (or H-1-y with flipRows) of destination row
// x (or W-1-x with flipColumns).
template <bool flipColumns, bool flipRows>
int exchangeAxes(const TargetImage& source, TargetImage& destination) {
    bool ready = false;
    const int result = prepare(source, destination, true, ready);
    if (result != 0 || !ready) return result;
    const std::int32_t w = source.width;
    const std::int32_t h = source.height;
    withPixels(source.format, [&](auto pixels) {
        using P = decltype(pixels);
        for (std::int32_t y0 = 0; y0 < h; y0 += kTileSize) {
            const std::int32_t y1 = std::min(h, y0 + kTileSize);
            for (std::int32_t x0 = 0; x0 < w; x0 += kTileSize) {
                const std::int32_t x1 = std::min(w, x0 + kTileSize);
                for (std::int32_t y = y0; y < y1; ++y) {
                    const std::uint8_t* from = source.rows[static_cast<std::size_t>(y)];
                    const std::int32_t toColumn = flipRows ? h - 1 - y : y;
                    for (std::int32_t x = x0; x < x1; ++x) {
                        const std::int32_t toRow = flipColumns ? w - 1 - x : x;
                        P::copy(destination.rows[static_cast<std::size_t>(toRow)], toColumn, from, x);
                    }
                }
            }
        }
    });
    return 0;
}

}  // namespace

int mirrorImage(const TargetImage& source, TargetImage& destination) {
    return reverseColumns(source, destination, false);
}

int turnHalf(const TargetImage& source, TargetImage& destination) {
    return reverseColumns(source, destination, true);
}

int flipImage(const TargetImage& source, TargetImage& destination) {
    bool ready = false;
    const int result = prepare(source, destination, false, ready);
    if (result != 0 || !ready) return result;
    const std::int32_t h = source.height;
    for (std::int32_t r = 0; r < h; ++r)
        std::memcpy(destination.rows[static_cast<std::size_t>(r)], source.rows[static_cast<std::size_t>(h - 1 - r)],
                    static_cast<std::size_t>(source.stride));
    return 0;
}

int turnClockwise(const TargetImage& source, TargetImage& destination) {
    return exchangeAxes<true, false>(source, destination);
}

int turnCounterClockwise(const TargetImage& source, TargetImage& destination) {
    return exchangeAxes<false, true>(source, destination);
}

int transposeImage(const TargetImage& source, TargetImage& destination) {
    return exchangeAxes<true, true>(source, destination);
}

int transverseImage(const TargetImage& source, TargetImage& destination) {
    return exchangeAxes<false, false>(source, destination);
}

int scaleImage(const TargetImage& source, TargetImage& destination, std::int32_t width, std::int32_t height) {
    assert(&source != &destination);
    if (source.rows.empty()) {
        freeImage(destination);
        return 0;
    }
    if (allocateImage(destination, source.format, width, height, source.resolution) != 0) return 1;
    if (destination.rows.empty()) return 0;
    if (source.format == PixelFormat::Bilevel)
        for (std::uint8_t* row : destination.rows) std::memset(row, 0, static_cast<std::size_t>(destination.stride));

    std::vector<std::int32_t> columns;
    std::vector<std::int32_t> rows;
    try {
        columns.resize(static_cast<std::size_t>(width));
        rows.resize(static_cast<std::size_t>(height));
    } catch (const std::bad_alloc&) {
        freeImage(destination);
        return 1;
    }
    // A size of 1 would divide by zero: it takes column or row 0.
    for (std::int32_t i = 0; i < width; ++i)
        columns[static_cast<std::size_t>(i)] =
            width == 1 ? 0 : static_cast<std::int32_t>(std::int64_t{source.width - 1} * i / (width - 1));
    for (std::int32_t j = 0; j < height; ++j)
        rows[static_cast<std::size_t>(j)] =
            height == 1 ? 0 : static_cast<std::int32_t>(std::int64_t{source.height - 1} * j / (height - 1));

    withPixels(source.format, [&](auto pixels) {
        using P = decltype(pixels);
        for (std::int32_t j = 0; j < height; ++j) {
            const std::uint8_t* from = source.rows[static_cast<std::size_t>(rows[static_cast<std::size_t>(j)])];
            std::uint8_t* to = destination.rows[static_cast<std::size_t>(j)];
            for (std::int32_t i = 0; i < width; ++i) P::copy(to, i, from, columns[static_cast<std::size_t>(i)]);
        }
    });
    return 0;
}

int reduceTo24(const TargetImage& source, TargetImage& destination) {
    assert(&source != &destination);
    if (source.format != PixelFormat::Rgb48) return 1;
    if (allocateImage(destination, PixelFormat::Rgb24, source.width, source.height, source.resolution) != 0) return 1;
    const std::size_t samples = static_cast<std::size_t>(source.width) * 3;
    for (std::size_t r = 0; r < source.rows.size(); ++r) {
        const std::uint8_t* from = source.rows[r];
        std::uint8_t* to = destination.rows[r];
        for (std::size_t i = 0; i < samples; ++i)
            to[i] = reduceSample(static_cast<std::uint16_t>(from[2 * i] | (from[2 * i + 1] << 8)));
    }
    return 0;
}

}  // namespace calivant
