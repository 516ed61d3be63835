#include "image/image_fixtures.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "support/temp_folder.h"

namespace calivant::testing {
namespace {

std::uint32_t nextRandom(std::uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

// Packs one file row of picture into the bytes libtiff expects (16-bit
// samples in the machine's order; libtiff swaps them for big-endian files).
void packRow(const Picture& p, std::int32_t row, std::vector<std::uint8_t>& out) {
    const std::size_t samples = static_cast<std::size_t>(p.width) * p.samples;
    const std::uint16_t* v = &p.values[static_cast<std::size_t>(row) * samples];
    if (p.bits == 16) {
        const std::size_t at = out.size();
        out.resize(at + 2 * samples);
        std::memcpy(out.data() + at, v, 2 * samples);
    } else if (p.bits == 8) {
        for (std::size_t i = 0; i < samples; ++i) out.push_back(static_cast<std::uint8_t>(v[i]));
    } else {
        const int perByte = 8 / p.bits;
        const std::size_t at = out.size();
        out.resize(at + (samples + perByte - 1) / perByte, 0);
        for (std::size_t i = 0; i < samples; ++i) {
            const int shift = 8 - p.bits * (static_cast<int>(i % perByte) + 1);
            out[at + i / perByte] = static_cast<std::uint8_t>(out[at + i / perByte] | (v[i] << shift));
        }
    }
}

bool uprightPosition(const Picture& p, int orientation, std::int32_t i, std::int32_t j, std::int32_t& x,
                     std::int32_t& y) {
    const std::int32_t w = p.width;
    const std::int32_t h = p.height;
    // TIFF's orientations: where the file's row 0 and column 0 are shown.
    switch (orientation) {
        case 1: x = j, y = i; return true;                  // top, left
        case 2: x = w - 1 - j, y = i; return true;          // top, right
        case 3: x = w - 1 - j, y = h - 1 - i; return true;  // bottom, right
        case 4: x = j, y = h - 1 - i; return true;          // bottom, left
        case 5: x = i, y = j; return true;                  // left, top
        case 6: x = h - 1 - i, y = j; return true;          // right, top
        case 7: x = h - 1 - i, y = w - 1 - j; return true;  // right, bottom
        case 8: x = i, y = w - 1 - j; return true;          // left, bottom
        default: return false;
    }
}

void writeStrips(TIFF* tif, const Picture& p, std::uint32_t rowsPerStrip) {
    std::uint32_t strip = 0;
    for (std::int32_t first = 0; first < p.height; first += static_cast<std::int32_t>(rowsPerStrip), ++strip) {
        std::vector<std::uint8_t> bytes;
        const std::int32_t last = std::min<std::int32_t>(p.height, first + static_cast<std::int32_t>(rowsPerStrip));
        for (std::int32_t row = first; row < last; ++row) packRow(p, row, bytes);
        if (TIFFWriteEncodedStrip(tif, strip, bytes.data(), static_cast<tmsize_t>(bytes.size())) < 0) {
            TIFFClose(tif);
            throw std::runtime_error("libtiff cannot write a strip");
        }
    }
}

// Each tile as a picture of its own; the parts past the image's right and
// bottom edges hold values of their own, which a reader must never show.
void writeTiles(TIFF* tif, const Picture& p, std::int32_t tileWidth, std::int32_t tileLength) {
    Picture tile = p;
    tile.width = tileWidth;
    tile.height = tileLength;
    std::uint32_t index = 0;
    for (std::int32_t top = 0; top < p.height; top += tileLength)
        for (std::int32_t left = 0; left < p.width; left += tileWidth, ++index) {
            tile.values.assign(static_cast<std::size_t>(tileWidth) * tileLength * p.samples,
                               static_cast<std::uint16_t>(((1u << p.bits) - 1) >> (index % 3)));
            for (std::int32_t i = 0; i < tileLength && top + i < p.height; ++i)
                for (std::int32_t j = 0; j < tileWidth && left + j < p.width; ++j)
                    for (int s = 0; s < p.samples; ++s)
                        tile.values[(static_cast<std::size_t>(i) * tileWidth + j) * p.samples + s] =
                            p.at(top + i, left + j, s);
            std::vector<std::uint8_t> bytes;
            for (std::int32_t row = 0; row < tileLength; ++row) packRow(tile, row, bytes);
            if (TIFFWriteEncodedTile(tif, index, bytes.data(), static_cast<tmsize_t>(bytes.size())) < 0) {
                TIFFClose(tif);
                throw std::runtime_error("libtiff cannot write a tile");
            }
        }
}

PixelFormat expectedFormat(const Picture& p) {
    if (p.samples == 1) return p.bits == 1 ? PixelFormat::Bilevel : p.bits == 16 ? PixelFormat::Gray16 : PixelFormat::Gray8;
    return p.bits == 16 ? PixelFormat::Rgb48 : PixelFormat::Rgb24;
}

}  // namespace

Picture makePicture(std::int32_t width, std::int32_t height, int samples, int bits, std::uint32_t seed) {
    Picture p;
    p.width = width;
    p.height = height;
    p.samples = samples;
    p.bits = bits;
    const std::uint32_t maximum = (1u << bits) - 1;
    std::uint32_t state = seed;
    p.values.resize(static_cast<std::size_t>(width) * height * samples);
    std::size_t k = 0;
    for (std::int32_t i = 0; i < height; ++i)
        for (std::int32_t j = 0; j < width; ++j)
            for (int s = 0; s < samples; ++s) {
                std::uint32_t v;
                if (i % 7 == 3) {
                    v = maximum / (s + 2);  // a flat band
                } else {
                    const std::uint64_t ramp = std::uint64_t{maximum} * ((j * (s + 1) + i * 3) % 97) / 96;
                    v = static_cast<std::uint32_t>(ramp) ^ (nextRandom(state) & (maximum >> 3));
                }
                p.values[k++] = static_cast<std::uint16_t>(std::min(v, maximum));
            }
    return p;
}

std::string writeWithLibtiff(const std::filesystem::path& folder, const Picture& p, const TiffOptions& o) {
    TIFFSetWarningHandler(nullptr);
    const std::filesystem::path file = folder / "libtiff-fixture.tif";
    TIFF* tif = TIFFOpen(file.string().c_str(), o.bigEndian ? "wb" : "wl");
    if (!tif) throw std::runtime_error("libtiff cannot create " + file.string());
    const std::uint32_t rowsPerStrip = o.rowsPerStrip ? o.rowsPerStrip : static_cast<std::uint32_t>(p.height);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(p.width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(p.height));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, static_cast<std::uint16_t>(p.bits));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, static_cast<std::uint16_t>(p.samples));
    const int photometric = o.photometric >= 0 ? o.photometric
                            : p.samples >= 3   ? PHOTOMETRIC_RGB
                                               : PHOTOMETRIC_MINISBLACK;
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, static_cast<std::uint16_t>(photometric));
    if (p.samples == 4) {
        const std::uint16_t alpha = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &alpha);
    }
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, static_cast<std::uint16_t>(PLANARCONFIG_CONTIG));
    TIFFSetField(tif, TIFFTAG_COMPRESSION, static_cast<std::uint16_t>(o.compression));
    if (o.predictor != 1) TIFFSetField(tif, TIFFTAG_PREDICTOR, static_cast<std::uint16_t>(o.predictor));
    TIFFSetField(tif, TIFFTAG_ORIENTATION, static_cast<std::uint16_t>(o.orientation));
    if (o.sampleFormat != 1) TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, static_cast<std::uint16_t>(o.sampleFormat));
    if (o.tileWidth != 0) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, o.tileWidth);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, o.tileLength);
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
    }
    if (o.writeResolution) {
        TIFFSetField(tif, TIFFTAG_XRESOLUTION, 300.0);
        TIFFSetField(tif, TIFFTAG_YRESOLUTION, 300.0);
        TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT,
                     static_cast<std::uint16_t>(o.resolutionInCentimetres ? RESUNIT_CENTIMETER : RESUNIT_INCH));
    }
    if (o.tileWidth != 0)
        writeTiles(tif, p, static_cast<std::int32_t>(o.tileWidth), static_cast<std::int32_t>(o.tileLength));
    else
        writeStrips(tif, p, rowsPerStrip);
    TIFFClose(tif);
    std::string bytes = readFile(file);
    std::filesystem::remove(file);
    return bytes;
}

std::uint16_t imageSample(const TargetImage& image, std::int32_t column, std::int32_t row, int sample) {
    const std::uint8_t* r = image.rows.at(static_cast<std::size_t>(row));
    const auto c = static_cast<std::size_t>(column);
    switch (image.format) {
        case PixelFormat::Bilevel: return (r[c / 8] >> (7 - c % 8)) & 1;
        case PixelFormat::Gray8: return r[c];
        case PixelFormat::Gray16: return static_cast<std::uint16_t>(r[2 * c] | (r[2 * c + 1] << 8));
        case PixelFormat::Rgb24: return r[3 * c + static_cast<std::size_t>(2 - sample)];
        case PixelFormat::Rgb48: {
            const std::size_t at = 6 * c + 2 * static_cast<std::size_t>(2 - sample);
            return static_cast<std::uint16_t>(r[at] | (r[at + 1] << 8));
        }
        case PixelFormat::None: break;
    }
    throw std::logic_error("image without pixels");
}

::testing::AssertionResult imageShowsPicture(const TargetImage& image, const Picture& p, int orientation,
                                             bool inverted) {
    const bool swapped = orientation >= 5;
    const std::int32_t w = swapped ? p.height : p.width;
    const std::int32_t h = swapped ? p.width : p.height;
    if (image.format != expectedFormat(p))
        return ::testing::AssertionFailure() << "format " << static_cast<int>(image.format) << ", expected "
                                             << static_cast<int>(expectedFormat(p));
    if (image.width != w || image.height != h || image.rows.size() != static_cast<std::size_t>(h))
        return ::testing::AssertionFailure() << "size " << image.width << " x " << image.height << ", expected " << w
                                             << " x " << h;
    const int channels = std::min(p.samples, 3);
    const std::uint32_t maximum = p.bits == 16 ? 65535 : p.bits == 1 ? 1 : 255;
    for (std::int32_t i = 0; i < p.height; ++i)
        for (std::int32_t j = 0; j < p.width; ++j) {
            std::int32_t x = 0;
            std::int32_t y = 0;
            uprightPosition(p, orientation, i, j, x, y);
            const std::int32_t row = h - 1 - y;
            for (int s = 0; s < channels; ++s) {
                std::uint32_t expected = p.at(i, j, s);
                if (p.bits == 4) expected *= 17;
                if (inverted) expected = maximum - expected;
                const std::uint16_t got = imageSample(image, x, row, s);
                if (got != expected)
                    return ::testing::AssertionFailure()
                           << "file row " << i << " column " << j << " sample " << s << " (image column " << x
                           << ", row " << row << "): " << got << ", expected " << expected;
            }
        }
    return ::testing::AssertionSuccess();
}

void TiffBuilder::put16(std::vector<std::uint8_t>& out, std::uint32_t v) const {
    if (littleEndian_) {
        out.push_back(static_cast<std::uint8_t>(v));
        out.push_back(static_cast<std::uint8_t>(v >> 8));
    } else {
        out.push_back(static_cast<std::uint8_t>(v >> 8));
        out.push_back(static_cast<std::uint8_t>(v));
    }
}

void TiffBuilder::put32(std::vector<std::uint8_t>& out, std::uint32_t v) const {
    if (littleEndian_) {
        put16(out, v & 0xFFFF);
        put16(out, v >> 16);
    } else {
        put16(out, v >> 16);
        put16(out, v & 0xFFFF);
    }
}

TiffBuilder& TiffBuilder::data(const std::vector<std::uint8_t>& bytes) {
    data_ = bytes;
    return *this;
}

TiffBuilder& TiffBuilder::entry(std::uint16_t tag, std::uint16_t type, const std::vector<std::uint32_t>& values) {
    Entry e{tag, type, static_cast<std::uint32_t>(values.size()), {}};
    for (std::uint32_t v : values) {
        if (type == 3)
            put16(e.bytes, v);
        else if (type == 1)
            e.bytes.push_back(static_cast<std::uint8_t>(v));
        else
            put32(e.bytes, v);
    }
    entries_.push_back(std::move(e));
    return *this;
}

TiffBuilder& TiffBuilder::rational(std::uint16_t tag, std::int32_t numerator, std::int32_t denominator) {
    Entry e{tag, 5, 1, {}};
    put32(e.bytes, static_cast<std::uint32_t>(numerator));
    put32(e.bytes, static_cast<std::uint32_t>(denominator));
    entries_.push_back(std::move(e));
    return *this;
}

std::vector<std::uint8_t> TiffBuilder::build() const {
    std::vector<std::uint8_t> out;
    out.push_back(littleEndian_ ? 'I' : 'M');
    out.push_back(littleEndian_ ? 'I' : 'M');
    put16(out, 42);
    const std::uint32_t directory = kDataStart + static_cast<std::uint32_t>(data_.size());
    put32(out, directory);
    out.insert(out.end(), data_.begin(), data_.end());
    put16(out, static_cast<std::uint32_t>(entries_.size()));
    std::uint32_t extra = directory + 2 + 12 * static_cast<std::uint32_t>(entries_.size()) + 4;
    std::vector<std::uint8_t> extraBytes;
    for (const Entry& e : entries_) {
        put16(out, e.tag);
        put16(out, e.type);
        put32(out, e.count);
        if (e.bytes.size() <= 4) {
            std::vector<std::uint8_t> field = e.bytes;
            field.resize(4, 0);
            out.insert(out.end(), field.begin(), field.end());
        } else {
            put32(out, extra + static_cast<std::uint32_t>(extraBytes.size()));
            extraBytes.insert(extraBytes.end(), e.bytes.begin(), e.bytes.end());
        }
    }
    put32(out, 0);
    out.insert(out.end(), extraBytes.begin(), extraBytes.end());
    return out;
}

TiffBuilder rgbFile(std::int32_t width, std::int32_t height, const std::vector<std::uint8_t>& pixels) {
    TiffBuilder b;
    b.data(pixels)
        .entry(256, 3, {static_cast<std::uint32_t>(width)})
        .entry(257, 3, {static_cast<std::uint32_t>(height)})
        .entry(258, 3, {8, 8, 8})
        .entry(262, 3, {2})
        .entry(273, 4, {TiffBuilder::kDataStart})
        .entry(277, 3, {3})
        .entry(279, 4, {static_cast<std::uint32_t>(pixels.size())});
    return b;
}

namespace {

bool fileIsLittleEndian(const std::string& file) { return file.at(0) == 'I'; }

std::uint32_t get(const std::string& file, std::size_t at, int size) {
    std::uint32_t v = 0;
    for (int i = 0; i < size; ++i) {
        const auto byte = static_cast<std::uint8_t>(file.at(at + static_cast<std::size_t>(fileIsLittleEndian(file) ? size - 1 - i : i)));
        v = (v << 8) | byte;
    }
    return v;
}

void put(std::string& file, std::size_t at, int size, std::uint32_t v) {
    for (int i = 0; i < size; ++i) {
        const int shift = 8 * (fileIsLittleEndian(file) ? i : size - 1 - i);
        file.at(at + static_cast<std::size_t>(i)) = static_cast<char>((v >> shift) & 0xFF);
    }
}

std::size_t entryOffset(const std::string& file, std::uint16_t tag) {
    const std::uint32_t directory = get(file, 4, 4);
    const std::uint32_t count = get(file, directory, 2);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t at = directory + 2 + 12 * i;
        if (get(file, at, 2) == tag) return at;
    }
    throw std::logic_error("no entry for tag " + std::to_string(tag));
}

std::size_t arrayElement(const std::string& file, std::uint16_t tag, std::uint32_t n, int& size) {
    const std::size_t at = entryOffset(file, tag);
    size = get(file, at + 2, 2) == 3 ? 2 : 4;
    const std::uint32_t count = get(file, at + 4, 4);
    if (n >= count) throw std::logic_error("array too short");
    const std::size_t base = count * static_cast<std::uint32_t>(size) <= 4 ? at + 8 : get(file, at + 8, 4);
    return base + n * static_cast<std::size_t>(size);
}

}  // namespace

std::uint8_t* findEntry(std::string& file, std::uint16_t tag) {
    try {
        return reinterpret_cast<std::uint8_t*>(file.data() + entryOffset(file, tag));
    } catch (const std::logic_error&) {
        return nullptr;
    }
}

void setEntryValue(std::string& file, std::uint16_t tag, std::uint32_t value) {
    const std::size_t at = entryOffset(file, tag);
    put(file, at + 8, get(file, at + 2, 2) == 3 ? 2 : 4, value);
}

std::uint32_t entryArrayValue(const std::string& file, std::uint16_t tag, std::uint32_t n) {
    int size = 0;
    const std::size_t at = arrayElement(file, tag, n, size);
    return get(file, at, size);
}

void setEntryArrayValue(std::string& file, std::uint16_t tag, std::uint32_t n, std::uint32_t value) {
    int size = 0;
    const std::size_t at = arrayElement(file, tag, n, size);
    put(file, at, size, value);
}

}  // namespace calivant::testing
