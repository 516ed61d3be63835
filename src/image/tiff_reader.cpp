#include "image/tiff_reader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <vector>

#include "image/lzw_decoder.h"
#include "image/transforms.h"

namespace calivant {
namespace {

// File data is read in calls of at most this many bytes: one block's worth
// of rows. Every call is a system call; in 8192-byte calls a 6000-pixel
// 48-bit scan took several percent longer, enough to fall behind libtiff.
constexpr std::size_t kReadPieceBytes = kMaxBlockBytes;
constexpr std::size_t kEntryBytes = 12;
constexpr double kCentimetresPerInch = 2.540005;

enum : std::uint16_t {
    kTypeByte = 1,
    kTypeAscii = 2,
    kTypeShort = 3,
    kTypeLong = 4,
    kTypeRational = 5,
};

enum : std::uint16_t {
    kTagNewSubfileType = 254,
    kTagSubfileType = 255,
    kTagImageWidth = 256,
    kTagImageLength = 257,
    kTagBitsPerSample = 258,
    kTagCompression = 259,
    kTagPhotometric = 262,
    kTagFillOrder = 266,
    kTagStripOffsets = 273,
    kTagOrientation = 274,
    kTagSamplesPerPixel = 277,
    kTagRowsPerStrip = 278,
    kTagStripByteCounts = 279,
    kTagXResolution = 282,
    kTagPlanarConfiguration = 284,
    kTagResolutionUnit = 296,
    kTagPredictor = 317,
    kTagTileWidth = 322,
    kTagTileLength = 323,
    kTagTileOffsets = 324,
    kTagTileByteCounts = 325,
    kTagSampleFormat = 339,
};

constexpr std::uint32_t kCompressionNone = 1;
constexpr std::uint32_t kCompressionLzw = 5;
constexpr std::uint32_t kSampleFormatUnsigned = 1;

// What the directory says, with the defaults of a file that says nothing.
struct TiffLayout {
    bool littleEndian = true;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t bits = 1;
    PixelFormat format = PixelFormat::Bilevel;
    std::uint32_t samples = 1;
    std::uint32_t compression = kCompressionNone;
    bool predictor = false;
    bool inverted = false;
    std::optional<std::uint32_t> rowsPerStrip;
    std::uint32_t stripCount = 1;
    std::optional<std::vector<std::uint32_t>> offsets;
    std::optional<std::vector<std::uint32_t>> byteCounts;
    // A tile size makes the file tiled; its strip tags then mean nothing.
    std::optional<std::uint32_t> tileWidth;
    std::optional<std::uint32_t> tileLength;
    std::optional<std::vector<std::uint32_t>> tileOffsets;
    std::optional<std::vector<std::uint32_t>> tileByteCounts;
    double xResolution = 300.0;
    double unitDivisor = 1.0;
    std::uint32_t orientation = 1;

    bool tiled() const { return tileWidth || tileLength; }
};

// The pieces the file stores its pixels in, strips or tiles, counted left
// to right and then top to bottom. A strip is a tile as wide as the image.
// Tiles at the right and bottom edges reach past the image; their rows are
// stored at full tile width.
struct ChunkGrid {
    std::uint32_t width = 0;   // pixels of one stored row
    std::uint32_t length = 0;  // rows of a whole chunk
    std::uint64_t across = 0;
    std::uint64_t count = 0;
    const std::vector<std::uint32_t>* offsets = nullptr;
    const std::vector<std::uint32_t>* byteCounts = nullptr;
};

// How the rows of one file are turned into rows of the image.
struct RowFormat {
    PixelFormat format = PixelFormat::None;
    std::int32_t width = 0;
    std::uint32_t samples = 1;
    std::uint32_t bits = 8;
    bool littleEndian = true;
    bool predictor = false;
    bool inverted = false;
    std::size_t fileRowBytes = 0;
    std::size_t imageRowBytes = 0;
};

std::uint32_t load16(const std::uint8_t* p, bool bigEndian) {
    return bigEndian ? (std::uint32_t{p[0]} << 8) | p[1] : p[0] | (std::uint32_t{p[1]} << 8);
}

void store16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

int readFully(ByteSource& file, std::uint8_t* buffer, std::size_t count) {
    while (count > 0) {
        std::size_t got = 0;
        if (readBytes(file, std::min(count, kReadPieceBytes), buffer, got) != 0) return 1;
        buffer += got;
        count -= got;
    }
    return 0;
}

int readFullyAt(ByteSource& file, std::uint64_t offset, std::uint8_t* buffer, std::size_t count) {
    if (seekTo(file, offset) != 0) return 1;
    return readFully(file, buffer, count);
}

// The values of an array entry (strip or tile offsets or byte counts, sample
// formats), SHORT or LONG, in the entry or where it points.
TiffProblem readArray(ByteSource& file, const std::uint8_t* entry, std::uint32_t workingValue, bool littleEndian,
                      std::vector<std::uint32_t>& values) {
    const std::uint16_t type = getTiff16(entry, 2, littleEndian);
    const std::uint32_t count = getTiff32(entry, 4, littleEndian);
    if (count == 1) {
        values.assign(1, workingValue);
        return TiffProblem::None;
    }
    if (type == kTypeShort && count == 2) {
        values.assign({getTiff16(entry, 8, littleEndian), getTiff16(entry, 10, littleEndian)});
        return TiffProblem::None;
    }
    const std::size_t elementBytes = type == kTypeShort ? 2 : 4;
    const std::uint64_t offset = getTiff32(entry, 8, littleEndian);
    const std::uint64_t bytes = std::uint64_t{count} * elementBytes;
    // Checked before allocating: a count is only believed if the file holds it.
    if (offset > file.size() || bytes > file.size() - offset) return TiffProblem::Truncated;
    std::vector<std::uint8_t> raw;
    try {
        raw.resize(static_cast<std::size_t>(bytes));
        values.resize(count);
    } catch (const std::bad_alloc&) {
        return TiffProblem::OutOfMemory;
    }
    if (readFullyAt(file, offset, raw.data(), raw.size()) != 0) return TiffProblem::Truncated;
    for (std::size_t i = 0; i < count; ++i)
        values[i] = elementBytes == 2 ? getTiff16(raw.data(), 2 * i, littleEndian)
                                      : getTiff32(raw.data(), 4 * i, littleEndian);
    return TiffProblem::None;
}

TiffProblem readArrayInto(ByteSource& file, const std::uint8_t* entry, std::uint32_t workingValue, bool littleEndian,
                          std::optional<std::vector<std::uint32_t>>& values) {
    std::vector<std::uint32_t> read;
    const TiffProblem problem = readArray(file, entry, workingValue, littleEndian, read);
    if (problem == TiffProblem::None) values = std::move(read);
    return problem;
}

TiffProblem applyBitsPerSample(ByteSource& file, const std::uint8_t* entry, std::uint32_t v, TiffLayout& layout) {
    const bool le = layout.littleEndian;
    const std::uint32_t count = getTiff32(entry, 4, le);
    if (count == 1) {
        if (v == 1)
            layout.format = PixelFormat::Bilevel;
        else if (v == 4 || v == 8)
            layout.format = PixelFormat::Gray8;
        else if (v == 16)
            layout.format = PixelFormat::Gray16;
        else
            return TiffProblem::BitsNotSupported;
        layout.bits = v;
        return TiffProblem::None;
    }
    if (count != 3 && count != 4) return TiffProblem::SamplesNotSupported;
    std::array<std::uint8_t, 6> raw{};
    if (readFullyAt(file, getTiff32(entry, 8, le), raw.data(), raw.size()) != 0) return TiffProblem::Truncated;
    const std::uint16_t bits = getTiff16(raw.data(), 0, le);
    if (getTiff16(raw.data(), 2, le) != bits || getTiff16(raw.data(), 4, le) != bits) return TiffProblem::BitsNotSupported;
    if (bits == 8)
        layout.format = PixelFormat::Rgb24;
    else if (bits == 16)
        layout.format = PixelFormat::Rgb48;
    else
        return TiffProblem::BitsNotSupported;
    layout.bits = bits;
    return TiffProblem::None;
}

// Applies one directory entry; a problem for a value the reader refuses.
TiffProblem applyEntry(ByteSource& file, const std::uint8_t* entry, std::uint32_t& workingValue, TiffLayout& layout) {
    const bool le = layout.littleEndian;
    const std::uint16_t tag = getTiff16(entry, 0, le);
    const std::uint16_t type = getTiff16(entry, 2, le);
    const std::uint32_t count = getTiff32(entry, 4, le);
    switch (type) {
        case kTypeByte: workingValue = entry[8]; break;
        case kTypeAscii: workingValue = 0; break;
        case kTypeShort: workingValue = getTiff16(entry, 8, le); break;
        case kTypeLong:
        case kTypeRational: workingValue = getTiff32(entry, 8, le); break;
        default: break;  // other types keep the previous entry's value
    }
    const std::uint32_t v = workingValue;
    auto unless = [](bool accepted, TiffProblem problem) { return accepted ? TiffProblem::None : problem; };

    switch (tag) {
        case kTagNewSubfileType: return unless(v <= 1, TiffProblem::SubfileNotSupported);
        case kTagSubfileType: return unless(v == 1, TiffProblem::SubfileNotSupported);
        case kTagImageWidth: layout.width = v; return TiffProblem::None;
        case kTagImageLength: layout.height = v; return TiffProblem::None;
        case kTagBitsPerSample: return applyBitsPerSample(file, entry, v, layout);
        case kTagCompression:
            if (v != kCompressionNone && v != kCompressionLzw) return TiffProblem::CompressionNotSupported;
            layout.compression = v;
            return TiffProblem::None;
        case kTagPhotometric:
            // Palette images (3) would need their colour map; they are not
            // scans of targets, so they are refused rather than misread.
            if (v > 2) return TiffProblem::PhotometricNotSupported;
            layout.inverted = v == 0;
            return TiffProblem::None;
        case kTagFillOrder: return unless(v == 1, TiffProblem::FillOrderNotSupported);
        case kTagStripOffsets:
            layout.stripCount = count;
            return readArrayInto(file, entry, v, le, layout.offsets);
        case kTagOrientation:
            if (v < 1 || v > 8) return TiffProblem::OrientationInvalid;
            layout.orientation = v;
            return TiffProblem::None;
        case kTagSamplesPerPixel:
            if (v != 1 && v != 3 && v != 4) return TiffProblem::SamplesNotSupported;
            layout.samples = v;
            if (v != 1 && layout.format == PixelFormat::Gray8) layout.format = PixelFormat::Rgb24;
            if (v != 1 && layout.format == PixelFormat::Gray16) layout.format = PixelFormat::Rgb48;
            return TiffProblem::None;
        case kTagRowsPerStrip: layout.rowsPerStrip = v; return TiffProblem::None;
        case kTagStripByteCounts:
            layout.stripCount = count;
            return readArrayInto(file, entry, v, le, layout.byteCounts);
        case kTagXResolution: {
            if (type != kTypeRational) return TiffProblem::None;
            std::array<std::uint8_t, 8> raw{};
            if (readFullyAt(file, v, raw.data(), raw.size()) != 0) return TiffProblem::Truncated;
            const auto numerator = static_cast<std::int32_t>(getTiff32(raw.data(), 0, le));
            const auto denominator = static_cast<std::int32_t>(getTiff32(raw.data(), 4, le));
            // A zero denominator says nothing; the default stays.
            if (denominator != 0) layout.xResolution = static_cast<double>(numerator) / denominator;
            return TiffProblem::None;
        }
        case kTagPlanarConfiguration: return unless(v == 1, TiffProblem::PlanarNotSupported);
        case kTagResolutionUnit: layout.unitDivisor = v == 3 ? kCentimetresPerInch : 1.0; return TiffProblem::None;
        case kTagPredictor:
            if (v != 1 && v != 2) return TiffProblem::PredictorNotSupported;
            layout.predictor = v == 2;
            return TiffProblem::None;
        case kTagTileWidth: layout.tileWidth = v; return TiffProblem::None;
        case kTagTileLength: layout.tileLength = v; return TiffProblem::None;
        case kTagTileOffsets: return readArrayInto(file, entry, v, le, layout.tileOffsets);
        case kTagTileByteCounts: return readArrayInto(file, entry, v, le, layout.tileByteCounts);
        case kTagSampleFormat: {
            // Signed and floating-point samples would be misread as unsigned
            // integers; one value per sample, and every one must say unsigned.
            std::vector<std::uint32_t> formats;
            if (const TiffProblem problem = readArray(file, entry, v, le, formats); problem != TiffProblem::None)
                return problem;
            const bool allUnsigned =
                std::all_of(formats.begin(), formats.end(), [](std::uint32_t f) { return f == kSampleFormatUnsigned; });
            return unless(allUnsigned, TiffProblem::SampleFormatNotSupported);
        }
        default: return TiffProblem::None;
    }
}

TiffProblem readDirectory(ByteSource& file, TiffLayout& layout) {
    std::array<std::uint8_t, 8> header{};
    std::size_t got = 0;
    if (seekTo(file, 0) == 0)
        while (got < header.size()) {
            std::size_t piece = 0;
            if (readBytes(file, header.size() - got, header.data() + got, piece) != 0) break;
            got += piece;
        }
    const bool orderMark = header[0] == header[1] && (header[0] == 'I' || header[0] == 'M');
    layout.littleEndian = header[0] == 'I';
    if (got < 4 || !orderMark || getTiff16(header.data(), 2, layout.littleEndian) != 42) return TiffProblem::NotTiff;
    if (got < header.size()) return TiffProblem::Truncated;

    const std::uint64_t directoryAt = getTiff32(header.data(), 4, layout.littleEndian);
    std::array<std::uint8_t, 2> countBytes{};
    if (readFullyAt(file, directoryAt, countBytes.data(), 2) != 0) return TiffProblem::Truncated;
    // The count is taken as signed: above 32767 there are no entries.
    const auto entries = static_cast<std::int16_t>(getTiff16(countBytes.data(), 0, layout.littleEndian));
    if (entries <= 0) return TiffProblem::None;
    const std::size_t directoryBytes = static_cast<std::size_t>(entries) * kEntryBytes;
    if (directoryBytes > file.size() - (directoryAt + 2)) return TiffProblem::Truncated;
    std::vector<std::uint8_t> directory(directoryBytes);
    if (readFully(file, directory.data(), directory.size()) != 0) return TiffProblem::Truncated;

    std::uint32_t workingValue = 0;
    for (std::size_t i = 0; i < directory.size(); i += kEntryBytes)
        if (const TiffProblem problem = applyEntry(file, directory.data() + i, workingValue, layout);
            problem != TiffProblem::None)
            return problem;
    return TiffProblem::None;
}

// True for the combinations of format, bits and samples that the row
// conversions below handle.
bool consistent(const TiffLayout& layout) {
    switch (layout.format) {
        case PixelFormat::Bilevel: return layout.samples == 1 && layout.bits == 1;
        case PixelFormat::Gray8: return layout.samples == 1 && (layout.bits == 4 || layout.bits == 8);
        case PixelFormat::Gray16: return layout.samples == 1 && layout.bits == 16;
        case PixelFormat::Rgb24: return (layout.samples == 3 || layout.samples == 4) && layout.bits == 8;
        case PixelFormat::Rgb48: return (layout.samples == 3 || layout.samples == 4) && layout.bits == 16;
        case PixelFormat::None: return false;
    }
    return false;
}

// Bytes of one stored row of width pixels.
std::uint64_t fileRowBytes(const TiffLayout& layout, std::uint64_t width) {
    switch (layout.format) {
        case PixelFormat::Bilevel: return (width + 7) / 8;
        case PixelFormat::Gray8: return layout.bits == 4 ? (width + 1) / 2 : width;
        case PixelFormat::Gray16: return 2 * width;
        case PixelFormat::Rgb24: return width * layout.samples;
        case PixelFormat::Rgb48: return width * layout.samples * 2;
        case PixelFormat::None: return 0;
    }
    return 0;
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

// Turns one row of file data into an image row. White-is-zero data is
// inverted last: the predictor works on the values as written.
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


// Decodes the strips or tiles of a checked layout into image.
class ChunkDecoder {
public:
    ChunkDecoder(ByteSource& file, const TiffLayout& layout, const ChunkGrid& grid, const RowFormat& rows,
                 TargetImage& image)
        : file_(file), layout_(layout), grid_(grid), rows_(rows), image_(image) {}

    TiffProblem run(std::size_t rowsPerRead) {
        // Rows are read or decoded into a buffer that stays in cache and
        // converted from there into the image. Filling the image directly
        // was slower: a large read leaves the rows in memory only, and the
        // decoder's scattered stores to fresh pages cost more than one
        // sequential pass.
        const bool edgeTiles = grid_.across * grid_.width > static_cast<std::uint64_t>(image_.width);
        try {
            buffer_.resize(rowsPerRead * rows_.fileRowBytes);
            if (edgeTiles) edgeRow_.resize(rows_.imageRowBytes);
            if (layout_.compression == kCompressionLzw) {
                packed_.resize(kReadPieceBytes);
                lzw_ = std::make_unique<LzwDecoder>();
            }
        } catch (const std::bad_alloc&) {
            return TiffProblem::OutOfMemory;
        }
        const auto imageWidth = static_cast<std::uint64_t>(image_.width);
        const auto imageHeight = static_cast<std::uint64_t>(image_.height);
        for (std::uint64_t k = 0; k < grid_.count; ++k) {
            const std::uint64_t top = k / grid_.across * grid_.length;
            const std::uint64_t left = k % grid_.across * grid_.width;
            const auto chunkRows = static_cast<std::size_t>(std::min<std::uint64_t>(grid_.length, imageHeight - top));
            const std::uint64_t visibleWidth = std::min<std::uint64_t>(grid_.width, imageWidth - left);
            // Tile widths of bilevel images are whole bytes, so every tile
            // starts on a byte of the image row.
            const auto leftBytes = static_cast<std::size_t>(rowBytesFor(image_.format, static_cast<std::int64_t>(left)));
            const auto visibleBytes =
                static_cast<std::size_t>(rowBytesFor(image_.format, static_cast<std::int64_t>(visibleWidth)));
            if (seekTo(file_, (*grid_.offsets)[k]) != 0) return TiffProblem::Truncated;
            if (lzw_) startChunk((*grid_.byteCounts)[k]);
            // Image row 0 is the bottom row.
            auto nextRow = static_cast<std::size_t>(imageHeight - 1 - top);
            for (std::size_t done = 0; done < chunkRows;) {
                const std::size_t count = std::min(rowsPerRead, chunkRows - done);
                if (const TiffProblem problem = fill(buffer_.data(), count * rows_.fileRowBytes);
                    problem != TiffProblem::None)
                    return problem;
                for (std::size_t i = 0; i < count; ++i) {
                    const std::uint8_t* in = buffer_.data() + i * rows_.fileRowBytes;
                    std::uint8_t* out = image_.rows[nextRow--] + leftBytes;
                    if (visibleWidth == grid_.width) {
                        storeRow(rows_, in, out);
                    } else {
                        // The predictor runs along the whole stored row, so
                        // the row is converted whole and cut afterwards.
                        storeRow(rows_, in, edgeRow_.data());
                        std::memcpy(out, edgeRow_.data(), visibleBytes);
                    }
                }
                done += count;
            }
        }
        return TiffProblem::None;
    }

private:
    void startChunk(std::uint32_t byteCount) {
        startLzw(*lzw_);
        const std::uint64_t available = file_.size() - tellPosition(file_);
        packedLeft_ = std::min<std::uint64_t>(byteCount, available);
        cutByFileEnd_ = byteCount > available;
        input_ = {};
        firstPiece_ = true;
    }

    // Reads or decodes exactly bytes bytes of the current chunk; a chunk
    // whose data ends sooner fails rather than leave rows unwritten.
    TiffProblem fill(std::uint8_t* out, std::size_t bytes) {
        if (!lzw_) return readFully(file_, out, bytes) == 0 ? TiffProblem::None : TiffProblem::Truncated;
        const TiffProblem endedEarly = cutByFileEnd_ ? TiffProblem::Truncated : TiffProblem::DamagedData;
        std::size_t filled = 0;
        while (filled < bytes) {
            if (input_.empty()) {
                if (packedLeft_ == 0 || lzw_->ended) return endedEarly;
                std::size_t got = 0;
                const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(packedLeft_, kReadPieceBytes));
                if (readBytes(file_, want, packed_.data(), got) != 0) return TiffProblem::Truncated;
                packedLeft_ -= got;
                input_ = std::span<const std::uint8_t>(packed_.data(), got);
                if (firstPiece_ && isOldStyleLzw(input_)) return TiffProblem::CompressionNotSupported;
                firstPiece_ = false;
            }
            std::size_t produced = 0;
            if (decodeLzw(*lzw_, input_, out + filled, bytes - filled, produced) != 0) return TiffProblem::DamagedData;
            filled += produced;
            if (filled < bytes && lzw_->ended) return endedEarly;
        }
        return TiffProblem::None;
    }

    ByteSource& file_;
    const TiffLayout& layout_;
    const ChunkGrid& grid_;
    const RowFormat& rows_;
    TargetImage& image_;
    std::vector<std::uint8_t> buffer_;
    std::vector<std::uint8_t> edgeRow_;
    std::vector<std::uint8_t> packed_;
    std::unique_ptr<LzwDecoder> lzw_;
    std::span<const std::uint8_t> input_;
    std::uint64_t packedLeft_ = 0;
    bool cutByFileEnd_ = false;
    bool firstPiece_ = true;
};

TiffProblem orient(TargetImage& image, std::uint32_t orientation) {
    if (orientation == 1) return TiffProblem::None;
    TargetImage turned;
    int result = 1;
    switch (orientation) {
        case 2: result = mirrorImage(image, turned); break;
        case 3: result = turnHalf(image, turned); break;
        case 4: result = flipImage(image, turned); break;
        case 5: result = transposeImage(image, turned); break;
        case 6: result = turnClockwise(image, turned); break;
        case 7: result = transverseImage(image, turned); break;
        case 8: result = turnCounterClockwise(image, turned); break;
        default: break;
    }
    if (result != 0) return TiffProblem::OutOfMemory;
    image = std::move(turned);
    return TiffProblem::None;
}

// Strips of RowsPerStrip rows, the last one shorter.
TiffProblem stripGrid(TiffLayout& layout, ChunkGrid& grid) {
    if (!layout.offsets) return TiffProblem::InvalidLayout;
    std::uint32_t rowsPerStrip = layout.rowsPerStrip.value_or(layout.height);
    if (layout.stripCount == 1) rowsPerStrip = layout.height;
    if (rowsPerStrip == 0) return TiffProblem::InvalidLayout;
    rowsPerStrip = std::min(rowsPerStrip, layout.height);
    const std::uint32_t strips = (layout.height - 1) / rowsPerStrip + 1;

    if (layout.stripCount > 1 && !layout.byteCounts) return TiffProblem::InvalidLayout;
    if (layout.stripCount == 1 && !layout.byteCounts)
        layout.byteCounts = std::vector<std::uint32_t>{static_cast<std::uint32_t>(
            std::min<std::uint64_t>(fileRowBytes(layout, layout.width) * layout.height, 0xFFFFFFFFu))};
    // Rows past the strips a file has would stay unwritten; so would rows
    // beyond the shorter of the two arrays when their counts differ.
    if (strips > layout.stripCount || strips > layout.offsets->size()) return TiffProblem::InvalidLayout;
    if (layout.compression == kCompressionLzw && strips > layout.byteCounts->size()) return TiffProblem::InvalidLayout;

    grid.width = layout.width;
    grid.length = rowsPerStrip;
    grid.across = 1;
    grid.count = strips;
    grid.offsets = &*layout.offsets;
    grid.byteCounts = &*layout.byteCounts;
    return TiffProblem::None;
}

// Tiles of TileWidth x TileLength, as many as cover the image.
TiffProblem tileGrid(TiffLayout& layout, ChunkGrid& grid) {
    if (!layout.tileWidth || !layout.tileLength || *layout.tileWidth == 0 || *layout.tileLength == 0 ||
        !layout.tileOffsets)
        return TiffProblem::InvalidLayout;
    // The standard asks for multiples of 16; bilevel tiles must at least
    // start on whole bytes of the image row.
    if (layout.format == PixelFormat::Bilevel && *layout.tileWidth % 8 != 0) return TiffProblem::InvalidLayout;
    if (strideFor(layout.format, *layout.tileWidth) > kMaxBlockBytes) return TiffProblem::TooWide;
    const std::uint64_t across = (std::uint64_t{layout.width} + *layout.tileWidth - 1) / *layout.tileWidth;
    const std::uint64_t down = (std::uint64_t{layout.height} + *layout.tileLength - 1) / *layout.tileLength;
    const std::uint64_t count = across * down;
    if (count > 1 && !layout.tileByteCounts) return TiffProblem::InvalidLayout;
    if (count > layout.tileOffsets->size()) return TiffProblem::InvalidLayout;
    if (layout.tileByteCounts && count > layout.tileByteCounts->size()) return TiffProblem::InvalidLayout;
    if (!layout.tileByteCounts)
        layout.tileByteCounts = std::vector<std::uint32_t>{static_cast<std::uint32_t>(std::min<std::uint64_t>(
            fileRowBytes(layout, *layout.tileWidth) * *layout.tileLength, 0xFFFFFFFFu))};

    grid.width = *layout.tileWidth;
    grid.length = *layout.tileLength;
    grid.across = across;
    grid.count = count;
    grid.offsets = &*layout.tileOffsets;
    grid.byteCounts = &*layout.tileByteCounts;
    return TiffProblem::None;
}

// Every chunk must be able to produce its rows from the bytes the file
// holds, before the raster is allocated. Uncompressed chunks are read with
// the sizes their rows need (their byte counts add nothing); LZW chunks are
// read up to their byte counts. Only the rows inside the image are read.
TiffProblem checkProducible(const TiffLayout& layout, const ChunkGrid& grid, std::uint64_t rowBytes,
                            std::uint64_t fileSize) {
    const bool lzw = layout.compression == kCompressionLzw;
    for (std::uint64_t k = 0; k < grid.count; ++k) {
        const std::uint64_t top = k / grid.across * grid.length;
        const std::uint64_t needed = std::min<std::uint64_t>(grid.length, layout.height - top) * rowBytes;
        const std::uint64_t offset = (*grid.offsets)[k];
        if (offset > fileSize) return TiffProblem::Truncated;
        const std::uint64_t available = fileSize - offset;
        if (!lzw && needed > available) return TiffProblem::Truncated;
        if (lzw) {
            const std::uint64_t byteCount = (*grid.byteCounts)[k];
            if (needed > lzwLargestOutput(std::min(byteCount, available)))
                return byteCount > available ? TiffProblem::Truncated : TiffProblem::DamagedData;
        }
    }
    return TiffProblem::None;
}

TiffProblem readInto(ByteSource& file, TargetImage& image) {
    TiffLayout layout;
    if (const TiffProblem problem = readDirectory(file, layout); problem != TiffProblem::None) return problem;

    constexpr auto kMaxSide = static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max());
    if (layout.width == 0 || layout.height == 0 || layout.width > kMaxSide || layout.height > kMaxSide)
        return TiffProblem::InvalidSize;
    if (!consistent(layout)) return TiffProblem::BitsAndSamplesDisagree;
    // The predictor works on whole 8- or 16-bit samples.
    if (layout.predictor && layout.bits < 8) return TiffProblem::PredictorNotSupported;

    // Rows wider than a block are refused here already, which also keeps
    // every size product below within 64 bits.
    if (strideFor(layout.format, layout.width) > kMaxBlockBytes) return TiffProblem::TooWide;
    if (rasterBytesFor(layout.format, layout.width, layout.height) > kMaxRasterBytes)
        return TiffProblem::RasterTooLarge;

    ChunkGrid grid;
    if (const TiffProblem problem = layout.tiled() ? tileGrid(layout, grid) : stripGrid(layout, grid);
        problem != TiffProblem::None)
        return problem;
    const std::uint64_t rowBytes = fileRowBytes(layout, grid.width);
    if (const TiffProblem problem = checkProducible(layout, grid, rowBytes, file.size()); problem != TiffProblem::None)
        return problem;

    const bool lzw = layout.compression == kCompressionLzw;
    const std::uint32_t rowsPerChunk = std::min(grid.length, layout.height);
    std::size_t rowsPerRead = rowsPerChunk;
    if (rowBytes * rowsPerChunk > static_cast<std::uint64_t>(kMaxBlockBytes)) {
        rowsPerRead = static_cast<std::size_t>(kMaxBlockBytes / rowBytes);
        if (rowsPerRead == 0) {
            // An uncompressed row must fit one read; LZW is decoded a row at a time.
            if (!lzw) return TiffProblem::TooWide;
            rowsPerRead = 1;
        }
    }

    if (allocateImage(image, layout.format, static_cast<std::int32_t>(layout.width),
                      static_cast<std::int32_t>(layout.height), layout.xResolution / layout.unitDivisor) != 0 ||
        image.rows.empty())
        return TiffProblem::OutOfMemory;

    RowFormat rows;
    rows.format = layout.format;
    rows.width = static_cast<std::int32_t>(grid.width);
    rows.samples = layout.samples;
    rows.bits = layout.bits;
    rows.littleEndian = layout.littleEndian;
    rows.predictor = layout.predictor;
    rows.inverted = layout.inverted;
    rows.fileRowBytes = static_cast<std::size_t>(rowBytes);
    rows.imageRowBytes = static_cast<std::size_t>(rowBytesFor(layout.format, grid.width));
    ChunkDecoder decoder(file, layout, grid, rows, image);
    if (const TiffProblem problem = decoder.run(rowsPerRead); problem != TiffProblem::None) return problem;
    return orient(image, layout.orientation);
}

}  // namespace

std::string_view tiffProblemText(TiffProblem problem) {
    switch (problem) {
        case TiffProblem::None: return "";
        case TiffProblem::NotTiff: return "not a TIFF file";
        case TiffProblem::Truncated: return "truncated file";
        case TiffProblem::DamagedData: return "damaged image data";
        case TiffProblem::InvalidSize: return "image size not valid";
        case TiffProblem::InvalidLayout: return "strip or tile layout not valid";
        case TiffProblem::CompressionNotSupported: return "compression not supported";
        case TiffProblem::SampleFormatNotSupported: return "sample format not supported (signed or floating-point)";
        case TiffProblem::BitsNotSupported: return "bits per sample not supported";
        case TiffProblem::SamplesNotSupported: return "samples per pixel not supported";
        case TiffProblem::BitsAndSamplesDisagree: return "bits per sample do not match samples per pixel";
        case TiffProblem::PhotometricNotSupported: return "colour model not supported (palette, CMYK, ...)";
        case TiffProblem::PlanarNotSupported: return "separate colour planes not supported";
        case TiffProblem::FillOrderNotSupported: return "bit fill order not supported";
        case TiffProblem::SubfileNotSupported: return "reduced-resolution or multi-page image not supported";
        case TiffProblem::OrientationInvalid: return "orientation not valid";
        case TiffProblem::PredictorNotSupported: return "predictor not supported";
        case TiffProblem::TooWide: return "image or tile too wide";
        case TiffProblem::RasterTooLarge: return "more than 1.5 GiB of raster";
        case TiffProblem::OutOfMemory: return "not enough memory";
    }
    return "";
}

std::uint16_t getTiff16(const std::uint8_t* buffer, std::size_t offset, bool littleEndian) {
    const std::uint8_t* p = buffer + offset;
    return littleEndian ? static_cast<std::uint16_t>(p[0] | (p[1] << 8)) : static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

std::uint32_t getTiff32(const std::uint8_t* buffer, std::size_t offset, bool littleEndian) {
    const std::uint8_t* p = buffer + offset;
    if (littleEndian)
        return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
               (std::uint32_t{p[3]} << 24);
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           std::uint32_t{p[3]};
}

int readTiffImage(ByteSource& file, TargetImage& image, TiffProblem& problem) {
    try {
        problem = readInto(file, image);
    } catch (const std::bad_alloc&) {
        // The large buffers are checked where they are made; this catches
        // the small tables that run out in a starved process.
        problem = TiffProblem::OutOfMemory;
    }
    if (problem == TiffProblem::None) return 0;
    freeImage(image);
    return 1;
}

int readTiffImage(ByteSource& file, TargetImage& image) {
    TiffProblem problem = TiffProblem::None;
    return readTiffImage(file, image, problem);
}

int readTiffImage(const std::filesystem::path& file, TargetImage& image) {
    FileByteSource source;
    if (source.open(file) != 0) {
        freeImage(image);
        return 1;
    }
    return readTiffImage(source, image);
}

}  // namespace calivant
