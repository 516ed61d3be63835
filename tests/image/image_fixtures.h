#pragma once
// TIFF files written by libtiff, the oracle for what a file means, and by
// hand for what libtiff will not write; pixel access of our own.

#include <tiffio.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "image/target_image.h"
#include "support/temp_folder.h"

namespace calivant::testing {

// Rows top first, samples in file order at their file bit depth.
struct Picture {
    std::int32_t width = 0, height = 0;
    int samples = 3, bits = 8;
    std::vector<std::uint16_t> values;  // width * height * samples
};

// Noise with a flat band every seventh row: LZW meets novelty and repeats.
inline Picture makePicture(std::int32_t width, std::int32_t height, int samples, int bits, std::uint32_t seed = 1) {
    Picture p{width, height, samples, bits, {}};
    const std::uint32_t maximum = (1u << bits) - 1;
    for (std::int32_t i = 0; i < width * height * samples; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const bool band = i / samples / width % 7 == 3;
        p.values.push_back(static_cast<std::uint16_t>(band ? maximum / 3 : (seed >> 8) & maximum));
    }
    return p;
}

struct TiffOptions {
    bool bigEndian = false;
    int compression = 1, predictor = 1;     // 1 or 5 (LZW); 1 or 2 (horizontal)
    std::uint32_t rowsPerStrip = 0;         // 0: one strip
    int photometric = -1, orientation = 1;  // photometric -1: RGB or BlackIsZero by samples
    std::uint32_t tileWidth = 0, tileLength = 0;  // tiles instead of strips
    int sampleFormat = 1;
    int jpegQuality = 90;  // compression 7 (photometric 6 makes it YCbCr, subsampled)
};

// The bytes of the file libtiff writes for the picture.
inline std::string writeWithLibtiff(const Picture& p, const TiffOptions& o = {}) {
    TempFolder folder;
    const std::string path = (folder / "libtiff.tif").string();
    TIFF* tif = TIFFOpen(path.c_str(), o.bigEndian ? "wb" : "wl");
    if (!tif) throw std::runtime_error("libtiff cannot create " + path);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(p.width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(p.height));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, p.bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, p.samples);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, o.photometric >= 0 ? o.photometric : p.samples >= 3 ? 2 : 1);
    const std::uint16_t alpha = EXTRASAMPLE_UNASSALPHA;
    if (p.samples == 4) TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &alpha);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, o.compression);
    if (o.predictor != 1) TIFFSetField(tif, TIFFTAG_PREDICTOR, o.predictor);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, o.orientation);
    if (o.sampleFormat != 1) TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, o.sampleFormat);
    if (o.compression == COMPRESSION_JPEG) {
        TIFFSetField(tif, TIFFTAG_JPEGQUALITY, o.jpegQuality);
        TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    }
    // 16-bit samples in the machine's order; smaller ones first in the high
    // bits. Positions past the picture (edge tiles) hold values of their own
    // that a reader must never show.
    auto pack = [&](std::int32_t top, std::int32_t left, std::int32_t width, std::int32_t height) {
        const std::size_t rowBytes = (static_cast<std::size_t>(width) * p.samples * p.bits + 7) / 8;
        std::vector<std::uint8_t> bytes(rowBytes * height, 0);
        for (std::int32_t i = 0; i < height; ++i)
            for (std::int32_t k = 0; k < width * p.samples; ++k) {
                const bool inside = top + i < p.height && left + k / p.samples < p.width;
                const std::uint16_t v = inside ? p.values[((top + i) * std::size_t(p.width) + left) * p.samples + k]
                                               : static_cast<std::uint16_t>(((1u << p.bits) - 1) >> (k % 3));
                std::uint8_t* row = &bytes[i * rowBytes];
                if (p.bits == 16) std::memcpy(&row[2 * k], &v, 2);
                else row[k * p.bits / 8] |= static_cast<std::uint8_t>(v << (8 - p.bits - k * p.bits % 8));
            }
        return bytes;
    };
    bool ok = true;
    if (o.tileWidth != 0) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, o.tileWidth);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, o.tileLength);
        std::uint32_t index = 0;
        for (std::int32_t top = 0; top < p.height; top += std::int32_t(o.tileLength))
            for (std::int32_t left = 0; left < p.width; left += std::int32_t(o.tileWidth), ++index) {
                std::vector<std::uint8_t> bytes = pack(top, left, std::int32_t(o.tileWidth), std::int32_t(o.tileLength));
                ok = ok && TIFFWriteEncodedTile(tif, index, bytes.data(), tmsize_t(bytes.size())) >= 0;
            }
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, o.rowsPerStrip ? o.rowsPerStrip : static_cast<std::uint32_t>(p.height));
        for (std::int32_t row = 0; row < p.height; ++row) {
            std::vector<std::uint8_t> bytes = pack(row, 0, p.width, 1);
            ok = ok && TIFFWriteScanline(tif, bytes.data(), static_cast<std::uint32_t>(row), 0) >= 0;
        }
    }
    TIFFClose(tif);
    if (!ok) throw std::runtime_error("libtiff cannot write the picture");
    return readFile(path);
}

// What libtiff itself reads from a file, rows top first as stored (the
// orientation tag not applied): JPEG data in RGB through libjpeg with its
// default settings (JPEGCOLORMODE_RGB), or, with rgba, through libtiff's
// own RGBA interface, which converts YCbCr itself.
inline Picture readWithLibtiff(const std::string& bytes, bool rgba = false) {
    TempFolder folder;
    const std::string path = (folder / "libtiff.tif").string();
    writeFile(path, bytes);
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif) throw std::runtime_error("libtiff cannot open " + path);
    std::uint32_t width = 0, height = 0, tileWidth = 0, tileLength = 0;
    std::uint16_t samples = 1, bits = 1, photometric = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    Picture p{std::int32_t(width), std::int32_t(height), samples, bits, {}};
    bool ok = true;
    if (rgba) {
        std::vector<std::uint32_t> raster(std::size_t(width) * height);
        ok = TIFFReadRGBAImageOriented(tif, width, height, raster.data(), ORIENTATION_TOPLEFT, 0) == 1;
        p.samples = 3, p.bits = 8;
        for (std::uint32_t v : raster)
            for (std::uint32_t sample : {TIFFGetR(v), TIFFGetG(v), TIFFGetB(v)}) p.values.push_back(std::uint16_t(sample));
    } else {
        if (photometric == PHOTOMETRIC_YCBCR) TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
        const bool tiled = TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth) && TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileLength);
        const std::size_t pixel = samples * (bits / 8);
        std::vector<std::uint8_t> raster(std::size_t(width) * height * pixel);
        std::vector<std::uint8_t> tile(tiled ? TIFFTileSize(tif) : 0);
        for (std::uint32_t y = 0; ok && y < height; y += tiled ? tileLength : 1)
            for (std::uint32_t x = 0; ok && x < width; x += tiled ? tileWidth : width) {
                if (!tiled) {
                    ok = TIFFReadScanline(tif, &raster[y * width * pixel], y, 0) == 1;
                    continue;
                }
                ok = TIFFReadTile(tif, tile.data(), x, y, 0, 0) > 0;
                for (std::uint32_t r = 0; r < tileLength && y + r < height; ++r)
                    std::memcpy(&raster[((y + r) * width + x) * pixel], &tile[r * tileWidth * pixel],
                                std::min(tileWidth, width - x) * pixel);
            }
        for (std::size_t i = 0; i < raster.size(); i += bits / 8)
            p.values.push_back(bits == 16 ? std::uint16_t(raster[i] | raster[i + 1] << 8) : raster[i]);
    }
    TIFFClose(tif);
    if (!ok) throw std::runtime_error("libtiff cannot read the picture");
    return p;
}

// Where file sample 0 (red or gray), 1 or 2 of a pixel went, as its value.
inline std::uint32_t imageSample(const TargetImage& image, std::int32_t column, std::int32_t row, int sample) {
    const std::uint8_t* r = image.rows.at(static_cast<std::size_t>(row));
    if (image.format == PixelFormat::Bilevel) return (r[column / 8] >> (7 - column % 8)) & 1;
    const bool wide = image.format == PixelFormat::Gray16 || image.format == PixelFormat::Rgb48;
    const bool colour = image.format == PixelFormat::Rgb24 || image.format == PixelFormat::Rgb48;
    const std::uint8_t* p = r + (colour ? 3 * column + 2 - sample : column) * (wide ? 2 : 1);
    return wide ? p[0] | p[1] << 8 : p[0];
}

// Compares image with picture as a TIFF reader must deliver it: turned
// upright by the orientation tag, row 0 at the bottom, alpha dropped, 4-bit
// samples widened by 17, complemented when white is zero.
inline ::testing::AssertionResult imageShowsPicture(const TargetImage& image, const Picture& p, int orientation = 1,
                                                    bool inverted = false) {
    const std::int32_t w = orientation >= 5 ? p.height : p.width, h = orientation >= 5 ? p.width : p.height;
    const PixelFormat format = p.samples > 1 ? (p.bits == 16 ? PixelFormat::Rgb48 : PixelFormat::Rgb24)
                               : p.bits == 1 ? PixelFormat::Bilevel
                                             : (p.bits == 16 ? PixelFormat::Gray16 : PixelFormat::Gray8);
    if (image.format != format || image.width != w || image.height != h || image.rows.size() != std::size_t(h))
        return ::testing::AssertionFailure() << "format " << int(image.format) << " " << image.width << " x "
                                             << image.height << ", expected " << int(format) << " " << w << " x " << h;
    const std::uint32_t maximum = p.bits == 16 ? 65535 : p.bits == 1 ? 1 : 255;
    for (std::int32_t i = 0; i < p.height; ++i)
        for (std::int32_t j = 0; j < p.width; ++j) {
            // Where the tag puts file row i, column j, counted from the top left.
            const std::int32_t across[] = {j, w - 1 - j, w - 1 - j, j, i, w - 1 - i, w - 1 - i, i};
            const std::int32_t down[] = {i, i, h - 1 - i, h - 1 - i, j, j, h - 1 - j, h - 1 - j};
            const std::int32_t x = across[orientation - 1], row = h - 1 - down[orientation - 1];
            for (int s = 0; s < std::min(p.samples, 3); ++s) {
                const std::uint32_t v = p.values[(i * std::size_t(p.width) + j) * p.samples + s] * (p.bits == 4 ? 17 : 1);
                const std::uint32_t expected = inverted ? maximum - v : v;
                if (imageSample(image, x, row, s) != expected)
                    return ::testing::AssertionFailure() << "file row " << i << ", column " << j << ", sample " << s
                                                         << ": " << imageSample(image, x, row, s) << ", " << expected;
            }
        }
    return ::testing::AssertionSuccess();
}

// Where value `index` of the entry `tag` of the first directory lies in a
// file (SHORT or LONG values, either byte order), and how wide it is.
inline std::pair<std::size_t, int> entryValueAt(const std::string& f, std::uint16_t tag, std::uint32_t index) {
    const bool little = f[0] == 'I';
    auto get = [&](std::size_t at, int bytes) {
        std::uint32_t v = 0;
        for (int i = 0; i < bytes; ++i)
            v |= static_cast<std::uint32_t>(static_cast<unsigned char>(f.at(at + i))) << 8 * (little ? i : bytes - 1 - i);
        return v;
    };
    const std::size_t ifd = get(4, 4);
    for (std::uint32_t e = 0, n = get(ifd, 2); e < n; ++e) {
        const std::size_t entry = ifd + 2 + 12 * e;
        if (get(entry, 2) != tag) continue;
        const int width = get(entry + 2, 2) == 3 ? 2 : 4;
        const std::size_t values = get(entry + 4, 4) * width <= 4 ? entry + 8 : get(entry + 8, 4);
        return {values + index * width, width};
    }
    throw std::runtime_error("no entry " + std::to_string(tag));
}

inline std::uint32_t entryArrayValue(const std::string& f, std::uint16_t tag, std::uint32_t index) {
    const auto [at, width] = entryValueAt(f, tag, index);
    std::uint32_t v = 0;
    for (int i = 0; i < width; ++i)
        v |= static_cast<std::uint32_t>(static_cast<unsigned char>(f[at + i])) << 8 * (f[0] == 'I' ? i : width - 1 - i);
    return v;
}

inline void setEntryArrayValue(std::string& f, std::uint16_t tag, std::uint32_t index, std::uint32_t value) {
    const auto [at, width] = entryValueAt(f, tag, index);
    for (int i = 0; i < width; ++i)
        f[at + i] = static_cast<char>(value >> 8 * (f[0] == 'I' ? i : width - 1 - i));
}

// LZW data of 9-bit codes, packed most significant bit first.
inline std::vector<std::uint8_t> lzwCodes(const std::vector<int>& codes) {
    std::vector<std::uint8_t> out;
    std::uint64_t bits = 0;
    int count = 0;
    for (int code : codes) {
        bits = (bits << 9) | static_cast<std::uint64_t>(code);
        for (count += 9; count >= 8; count -= 8) out.push_back(static_cast<std::uint8_t>(bits >> (count - 8)));
    }
    if (count > 0) out.push_back(static_cast<std::uint8_t>(bits << (8 - count)));
    return out;
}

// A little-endian file: data at offset 8, the entries (tag, type, values) in
// the order given, then the values that do not fit their entries. Types:
// SHORT 3, LONG 4, RATIONAL 5 (numerator and denominator as two values).
using TiffEntries = std::vector<std::tuple<std::uint16_t, std::uint16_t, std::vector<std::uint32_t>>>;

inline std::string buildTiff(const std::vector<std::uint8_t>& data, const TiffEntries& entries) {
    std::vector<std::uint8_t> out, extra;
    auto put = [](std::vector<std::uint8_t>& to, std::size_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) to.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    put(out, 0x002A4949, 4);  // "II", 42
    put(out, 8 + data.size(), 4);
    out.insert(out.end(), data.begin(), data.end());
    put(out, entries.size(), 2);
    for (const auto& [tag, type, values] : entries) {
        std::vector<std::uint8_t> bytes;
        for (std::uint32_t v : values) put(bytes, v, type == 3 ? 2 : 4);
        put(out, tag, 2);
        put(out, type, 2);
        put(out, type == 5 ? values.size() / 2 : values.size(), 4);
        if (bytes.size() <= 4) {
            bytes.resize(4, 0);
            out.insert(out.end(), bytes.begin(), bytes.end());
        } else {
            put(out, 8 + data.size() + 6 + 12 * entries.size() + extra.size(), 4);
            extra.insert(extra.end(), bytes.begin(), bytes.end());
        }
    }
    put(out, 0, 4);
    out.insert(out.end(), extra.begin(), extra.end());
    return std::string(out.begin(), out.end());
}

}  // namespace calivant::testing
