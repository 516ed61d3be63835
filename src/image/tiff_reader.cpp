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
};

constexpr std::uint32_t kCompressionNone = 1;
constexpr std::uint32_t kCompressionLzw = 5;

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
    std::vector<std::uint32_t> offsets{0};
    std::optional<std::vector<std::uint32_t>> byteCounts;
    double xResolution = 300.0;
    double unitDivisor = 1.0;
    std::uint32_t orientation = 1;
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

// The strip offsets or byte counts of a directory entry. Returns 1 when the
// array lies outside the file or cannot be allocated.
int readStripArray(ByteSource& file, const std::uint8_t* entry, std::uint32_t workingValue, bool littleEndian,
                   std::vector<std::uint32_t>& values) {
    const std::uint16_t type = getTiff16(entry, 2, littleEndian);
    const std::uint32_t count = getTiff32(entry, 4, littleEndian);
    if (count == 1) {
        values.assign(1, workingValue);
        return 0;
    }
    if (type == kTypeShort && count == 2) {
        values.assign({getTiff16(entry, 8, littleEndian), getTiff16(entry, 10, littleEndian)});
        return 0;
    }
    const std::size_t elementBytes = type == kTypeShort ? 2 : 4;
    const std::uint64_t offset = getTiff32(entry, 8, littleEndian);
    const std::uint64_t bytes = std::uint64_t{count} * elementBytes;
    // Checked before allocating: a count is only believed if the file holds it.
    if (offset > file.size() || bytes > file.size() - offset) return 1;
    std::vector<std::uint8_t> raw;
    try {
        raw.resize(static_cast<std::size_t>(bytes));
        values.resize(count);
    } catch (const std::bad_alloc&) {
        return 1;
    }
    if (readFullyAt(file, offset, raw.data(), raw.size()) != 0) return 1;
    for (std::size_t i = 0; i < count; ++i)
        values[i] = elementBytes == 2 ? getTiff16(raw.data(), 2 * i, littleEndian)
                                      : getTiff32(raw.data(), 4 * i, littleEndian);
    return 0;
}

// Applies one directory entry. Returns 1 for a value the reader refuses.
int applyEntry(ByteSource& file, const std::uint8_t* entry, std::uint32_t& workingValue, TiffLayout& layout) {
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

    switch (tag) {
        case kTagNewSubfileType: return v <= 1 ? 0 : 1;
        case kTagSubfileType: return v == 1 ? 0 : 1;
        case kTagImageWidth: layout.width = v; return 0;
        case kTagImageLength: layout.height = v; return 0;
        case kTagBitsPerSample:
            if (count == 1) {
                if (v == 1)
                    layout.format = PixelFormat::Bilevel;
                else if (v == 4 || v == 8)
                    layout.format = PixelFormat::Gray8;
                else if (v == 16)
                    layout.format = PixelFormat::Gray16;
                else
                    return 1;
                layout.bits = v;
                return 0;
            }
            if (count == 3 || count == 4) {
                std::array<std::uint8_t, 6> raw{};
                if (readFullyAt(file, getTiff32(entry, 8, le), raw.data(), raw.size()) != 0) return 1;
                const std::uint16_t bits = getTiff16(raw.data(), 0, le);
                if (getTiff16(raw.data(), 2, le) != bits || getTiff16(raw.data(), 4, le) != bits) return 1;
                if (bits == 8)
                    layout.format = PixelFormat::Rgb24;
                else if (bits == 16)
                    layout.format = PixelFormat::Rgb48;
                else
                    return 1;
                layout.bits = bits;
                return 0;
            }
            return 1;
        case kTagCompression:
            if (v != kCompressionNone && v != kCompressionLzw) return 1;
            layout.compression = v;
            return 0;
        case kTagPhotometric:
            // Palette images (3) would need their colour map; they are not
            // scans of targets, so they are refused rather than misread.
            if (v > 2) return 1;
            layout.inverted = v == 0;
            return 0;
        case kTagFillOrder: return v == 1 ? 0 : 1;
        case kTagStripOffsets:
            layout.stripCount = count;
            return readStripArray(file, entry, v, le, layout.offsets);
        case kTagOrientation:
            if (v < 1 || v > 8) return 1;
            layout.orientation = v;
            return 0;
        case kTagSamplesPerPixel:
            if (v != 1 && v != 3 && v != 4) return 1;
            layout.samples = v;
            if (v != 1 && layout.format == PixelFormat::Gray8) layout.format = PixelFormat::Rgb24;
            if (v != 1 && layout.format == PixelFormat::Gray16) layout.format = PixelFormat::Rgb48;
            return 0;
        case kTagRowsPerStrip: layout.rowsPerStrip = v; return 0;
        case kTagStripByteCounts: {
            layout.stripCount = count;
            std::vector<std::uint32_t> counts;
            if (readStripArray(file, entry, v, le, counts) != 0) return 1;
            layout.byteCounts = std::move(counts);
            return 0;
        }
        case kTagXResolution: {
            if (type != kTypeRational) return 0;
            std::array<std::uint8_t, 8> raw{};
            if (readFullyAt(file, v, raw.data(), raw.size()) != 0) return 1;
            const auto numerator = static_cast<std::int32_t>(getTiff32(raw.data(), 0, le));
            const auto denominator = static_cast<std::int32_t>(getTiff32(raw.data(), 4, le));
            // A zero denominator says nothing; the default stays.
            if (denominator != 0) layout.xResolution = static_cast<double>(numerator) / denominator;
            return 0;
        }
        case kTagPlanarConfiguration: return v == 1 ? 0 : 1;
        case kTagResolutionUnit: layout.unitDivisor = v == 3 ? kCentimetresPerInch : 1.0; return 0;
        case kTagPredictor:
            if (v != 1 && v != 2) return 1;
            layout.predictor = v == 2;
            return 0;
        default: return 0;
    }
}

int readDirectory(ByteSource& file, TiffLayout& layout) {
    std::array<std::uint8_t, 8> header{};
    if (readFullyAt(file, 0, header.data(), header.size()) != 0) return 1;
    if (header[0] != header[1] || (header[0] != 'I' && header[0] != 'M')) return 1;
    layout.littleEndian = header[0] == 'I';
    if (getTiff16(header.data(), 2, layout.littleEndian) != 42) return 1;

    std::array<std::uint8_t, 2> countBytes{};
    if (readFullyAt(file, getTiff32(header.data(), 4, layout.littleEndian), countBytes.data(), 2) != 0) return 1;
    // The count is taken as signed: above 32767 there are no entries.
    const auto entries = static_cast<std::int16_t>(getTiff16(countBytes.data(), 0, layout.littleEndian));
    if (entries <= 0) return 0;
    std::vector<std::uint8_t> directory(static_cast<std::size_t>(entries) * kEntryBytes);
    if (readFully(file, directory.data(), directory.size()) != 0) return 1;

    std::uint32_t workingValue = 0;
    for (std::size_t i = 0; i < directory.size(); i += kEntryBytes)
        if (applyEntry(file, directory.data() + i, workingValue, layout) != 0) return 1;
    return 0;
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

std::uint64_t fileRowBytes(const TiffLayout& layout) {
    const std::uint64_t w = layout.width;
    switch (layout.format) {
        case PixelFormat::Bilevel: return (w + 7) / 8;
        case PixelFormat::Gray8: return layout.bits == 4 ? (w + 1) / 2 : w;
        case PixelFormat::Gray16: return 2 * w;
        case PixelFormat::Rgb24: return w * layout.samples;
        case PixelFormat::Rgb48: return w * layout.samples * 2;
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

// Decodes the strips of a checked layout into image, top row first.
class StripDecoder {
public:
    StripDecoder(ByteSource& file, const TiffLayout& layout, const RowFormat& rows, TargetImage& image)
        : file_(file), layout_(layout), rows_(rows), image_(image) {}

    int run(std::uint32_t rowsPerStrip, std::uint32_t strips, std::size_t rowsPerRead) {
        // Rows are read or decoded into a buffer that stays in cache and
        // converted from there into the image. Filling the image directly
        // was slower: a large read leaves the rows in memory only, and the
        // decoder's scattered stores to fresh pages cost more than one
        // sequential pass.
        try {
            buffer_.resize(rowsPerRead * rows_.fileRowBytes);
            if (layout_.compression == kCompressionLzw) {
                packed_.resize(kReadPieceBytes);
                lzw_ = std::make_unique<LzwDecoder>();
            }
        } catch (const std::bad_alloc&) {
            return 1;
        }
        std::int64_t nextRow = image_.height - 1;
        for (std::uint32_t s = 0; s < strips; ++s) {
            const auto stripRows = static_cast<std::size_t>(std::min<std::int64_t>(rowsPerStrip, nextRow + 1));
            if (seekTo(file_, layout_.offsets[s]) != 0) return 1;
            if (lzw_) startStrip((*layout_.byteCounts)[s]);
            for (std::size_t done = 0; done < stripRows;) {
                const std::size_t count = std::min(rowsPerRead, stripRows - done);
                if (fill(buffer_.data(), count * rows_.fileRowBytes) != 0) return 1;
                for (std::size_t i = 0; i < count; ++i)
                    storeRow(rows_, buffer_.data() + i * rows_.fileRowBytes,
                             image_.rows[static_cast<std::size_t>(nextRow--)]);
                done += count;
            }
        }
        return 0;
    }

private:
    void startStrip(std::uint32_t byteCount) {
        startLzw(*lzw_);
        packedLeft_ = std::min<std::uint64_t>(byteCount, file_.size() - tellPosition(file_));
        input_ = {};
        firstPiece_ = true;
    }

    // Reads or decodes exactly bytes bytes of the current strip; a strip
    // whose data ends sooner fails rather than leave rows unwritten.
    int fill(std::uint8_t* out, std::size_t bytes) {
        if (!lzw_) return readFully(file_, out, bytes);
        std::size_t filled = 0;
        while (filled < bytes) {
            if (input_.empty()) {
                if (packedLeft_ == 0 || lzw_->ended) return 1;
                std::size_t got = 0;
                const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(packedLeft_, kReadPieceBytes));
                if (readBytes(file_, want, packed_.data(), got) != 0) return 1;
                packedLeft_ -= got;
                input_ = std::span<const std::uint8_t>(packed_.data(), got);
                if (firstPiece_ && isOldStyleLzw(input_)) return 1;
                firstPiece_ = false;
            }
            std::size_t produced = 0;
            if (decodeLzw(*lzw_, input_, out + filled, bytes - filled, produced) != 0) return 1;
            filled += produced;
            if (filled < bytes && lzw_->ended) return 1;
        }
        return 0;
    }

    ByteSource& file_;
    const TiffLayout& layout_;
    const RowFormat& rows_;
    TargetImage& image_;
    std::vector<std::uint8_t> buffer_;
    std::vector<std::uint8_t> packed_;
    std::unique_ptr<LzwDecoder> lzw_;
    std::span<const std::uint8_t> input_;
    std::uint64_t packedLeft_ = 0;
    bool firstPiece_ = true;
};

int orient(TargetImage& image, std::uint32_t orientation) {
    if (orientation == 1) return 0;
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
    if (result != 0) return 1;
    image = std::move(turned);
    return 0;
}

int readInto(ByteSource& file, TargetImage& image) {
    TiffLayout layout;
    if (readDirectory(file, layout) != 0) return 1;

    constexpr auto kMaxSide = static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max());
    if (layout.width == 0 || layout.height == 0 || layout.width > kMaxSide || layout.height > kMaxSide) return 1;
    if (!consistent(layout)) return 1;
    // The predictor works on whole 8- or 16-bit samples.
    if (layout.predictor && layout.bits < 8) return 1;

    // Rows wider than a block are refused here already, which also keeps
    // every size product below within 64 bits.
    if (strideFor(layout.format, layout.width) > kMaxBlockBytes) return 1;
    const std::uint64_t rowBytes = fileRowBytes(layout);
    std::uint32_t rowsPerStrip = layout.rowsPerStrip.value_or(layout.height);
    if (layout.stripCount == 1) rowsPerStrip = layout.height;
    if (rowsPerStrip == 0) return 1;
    rowsPerStrip = std::min(rowsPerStrip, layout.height);
    const std::uint32_t strips = (layout.height - 1) / rowsPerStrip + 1;

    if (layout.stripCount > 1 && !layout.byteCounts) return 1;
    if (layout.stripCount == 1 && !layout.byteCounts)
        layout.byteCounts = std::vector<std::uint32_t>{
            static_cast<std::uint32_t>(std::min<std::uint64_t>(rowBytes * layout.height, 0xFFFFFFFFu))};
    // Rows past the strips a file has would stay unwritten; so would rows
    // beyond the shorter of the two arrays when their counts differ.
    const bool lzw = layout.compression == kCompressionLzw;
    if (strips > layout.stripCount || strips > layout.offsets.size()) return 1;
    if (lzw && strips > layout.byteCounts->size()) return 1;

    // Every strip must be able to produce its rows from the bytes the file
    // holds, before the raster is allocated. Uncompressed strips are read
    // with the sizes their rows need (their byte counts add nothing); LZW
    // strips are read up to their byte counts.
    const std::uint64_t fileSize = file.size();
    for (std::uint32_t s = 0; s < strips; ++s) {
        const std::uint64_t rows = std::min<std::uint64_t>(rowsPerStrip, layout.height - std::uint64_t{s} * rowsPerStrip);
        const std::uint64_t needed = rows * rowBytes;
        const std::uint64_t offset = layout.offsets[s];
        if (offset > fileSize) return 1;
        const std::uint64_t available = fileSize - offset;
        if (!lzw && needed > available) return 1;
        if (lzw && needed > lzwLargestOutput(std::min<std::uint64_t>((*layout.byteCounts)[s], available))) return 1;
    }

    std::size_t rowsPerRead = rowsPerStrip;
    if (rowBytes * rowsPerStrip > static_cast<std::uint64_t>(kMaxBlockBytes)) {
        rowsPerRead = static_cast<std::size_t>(kMaxBlockBytes / rowBytes);
        if (rowsPerRead == 0) {
            // An uncompressed row must fit one read; LZW is decoded a row at a time.
            if (!lzw) return 1;
            rowsPerRead = 1;
        }
    }

    if (allocateImage(image, layout.format, static_cast<std::int32_t>(layout.width),
                      static_cast<std::int32_t>(layout.height), layout.xResolution / layout.unitDivisor) != 0)
        return 1;
    if (image.rows.empty()) return 1;

    RowFormat rows;
    rows.format = layout.format;
    rows.width = image.width;
    rows.samples = layout.samples;
    rows.bits = layout.bits;
    rows.littleEndian = layout.littleEndian;
    rows.predictor = layout.predictor;
    rows.inverted = layout.inverted;
    rows.fileRowBytes = static_cast<std::size_t>(rowBytes);
    rows.imageRowBytes = static_cast<std::size_t>(rowBytesFor(layout.format, layout.width));
    StripDecoder decoder(file, layout, rows, image);
    if (decoder.run(rowsPerStrip, strips, rowsPerRead) != 0) return 1;
    return orient(image, layout.orientation);
}

}  // namespace

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

int readTiffImage(ByteSource& file, TargetImage& image) {
    int result = 1;
    try {
        result = readInto(file, image);
    } catch (const std::bad_alloc&) {
        // The large buffers are checked where they are made; this catches
        // the small tables that run out in a starved process.
        result = 1;
    }
    if (result != 0) freeImage(image);
    return result;
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
