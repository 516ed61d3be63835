#include "image/tiff_raster.h"

#include <algorithm>
#include <array>
#include <limits>
#include <new>


namespace calivant {
namespace {

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
    kTagJpegTables = 347,
};
constexpr std::uint32_t kSampleFormatUnsigned = 1;
constexpr std::uint32_t kPhotometricYCbCr = 6;
// The tables of a JPEG stream fill a few hundred bytes; anything near this
// is not a table stream.
constexpr std::uint32_t kMaxJpegTablesBytes = 65536;

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
    if (count != 3 && count != 4) {
        layout.refusedValue = count;
        return TiffProblem::SamplesNotSupported;
    }
    std::array<std::uint8_t, 6> raw{};
    if (readFullyAt(file, getTiff32(entry, 8, le), raw.data(), raw.size()) != 0) return TiffProblem::Truncated;
    const std::uint16_t bits = getTiff16(raw.data(), 0, le);
    layout.refusedValue = bits;
    if (getTiff16(raw.data(), 2, le) != bits || getTiff16(raw.data(), 4, le) != bits) {
        layout.refusedValue = 0;
        return TiffProblem::BitsNotSupported;
    }
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
    layout.refusedValue = v;
    auto unless = [](bool accepted, TiffProblem problem) { return accepted ? TiffProblem::None : problem; };

    switch (tag) {
        case kTagNewSubfileType: return unless(v <= 1, TiffProblem::SubfileNotSupported);
        case kTagSubfileType: return unless(v == 1, TiffProblem::SubfileNotSupported);
        case kTagImageWidth: layout.width = v; return TiffProblem::None;
        case kTagImageLength: layout.height = v; return TiffProblem::None;
        case kTagBitsPerSample: return applyBitsPerSample(file, entry, v, layout);
        case kTagCompression:
            layout.compression = v;
            switch (v) {
                case kCompressionNone:
                case kCompressionLzw:
                case kCompressionJpeg:
                case kCompressionDeflate:
                case kCompressionDeflateOld:
                case kCompressionPackBits: return TiffProblem::None;
                default: return TiffProblem::CompressionNotSupported;
            }
        case kTagPhotometric:
            // Palette images (3) would need their colour map; they are not
            // scans of targets, so they are refused rather than misread.
            if (v > 2 && v != kPhotometricYCbCr) return TiffProblem::PhotometricNotSupported;
            layout.inverted = v == 0;
            layout.ycbcr = v == kPhotometricYCbCr;
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
            const auto other =
                std::find_if(formats.begin(), formats.end(), [](std::uint32_t f) { return f != kSampleFormatUnsigned; });
            if (other == formats.end()) return TiffProblem::None;
            layout.sampleFormat = layout.refusedValue = *other;
            return TiffProblem::SampleFormatNotSupported;
        }
        case kTagJpegTables: {
            if (count <= 4 || count > kMaxJpegTablesBytes) return TiffProblem::DamagedData;
            const std::uint64_t offset = getTiff32(entry, 8, le);
            if (offset > file.size() || count > file.size() - offset) return TiffProblem::Truncated;
            std::vector<std::uint8_t> tables(count);
            if (readFullyAt(file, offset, tables.data(), tables.size()) != 0) return TiffProblem::Truncated;
            layout.jpegTables = std::move(tables);
            return TiffProblem::None;
        }
        default: return TiffProblem::None;
    }
}

}  // namespace

TiffProblem readTiffDirectory(ByteSource& file, TiffDirectory& directory) {
    std::array<std::uint8_t, 8> header{};
    std::size_t got = 0;
    if (seekTo(file, 0) == 0)
        while (got < header.size()) {
            std::size_t piece = 0;
            if (readBytes(file, header.size() - got, header.data() + got, piece) != 0) break;
            got += piece;
        }
    const bool orderMark = header[0] == header[1] && (header[0] == 'I' || header[0] == 'M');
    const bool le = directory.littleEndian = header[0] == 'I';
    if (got < 4 || !orderMark) return TiffProblem::NotTiff;
    const std::uint16_t magic = getTiff16(header.data(), 2, le);
    // 43 marks BigTIFF, whose 64-bit offsets this reader does not follow.
    if (magic == 43) return TiffProblem::BigTiff;
    if (magic != 42) return TiffProblem::NotTiff;
    if (got < header.size()) return TiffProblem::Truncated;

    const std::uint64_t directoryAt = getTiff32(header.data(), 4, le);
    std::array<std::uint8_t, 2> countBytes{};
    if (readFullyAt(file, directoryAt, countBytes.data(), 2) != 0) return TiffProblem::Truncated;
    // The count is taken as signed: above 32767 there are no entries.
    const auto entries = static_cast<std::int16_t>(getTiff16(countBytes.data(), 0, le));
    if (entries <= 0) return TiffProblem::None;
    const std::size_t directoryBytes = static_cast<std::size_t>(entries) * kTiffEntryBytes;
    if (directoryBytes > file.size() - (directoryAt + 2)) return TiffProblem::Truncated;
    directory.entries.resize(directoryBytes);
    if (readFully(file, directory.entries.data(), directory.entries.size()) != 0) return TiffProblem::Truncated;
    return TiffProblem::None;
}

namespace {

// Reads the directory into layout; the first problem stops it.
TiffProblem readDirectory(ByteSource& file, TiffLayout& layout) {
    TiffDirectory directory;
    if (const TiffProblem problem = readTiffDirectory(file, directory); problem != TiffProblem::None) return problem;
    layout.littleEndian = directory.littleEndian;
    const std::vector<std::uint8_t>& entries = directory.entries;
    std::uint32_t workingValue = 0;
    for (std::size_t i = 0; i < entries.size(); i += kTiffEntryBytes) {
        const TiffProblem problem = applyEntry(file, entries.data() + i, workingValue, layout);
        if (problem == TiffProblem::None) continue;
        // Floating-point samples are refused by their bits before their
        // format is seen; the words name the format.
        if (problem == TiffProblem::BitsNotSupported) {
            const std::uint32_t bits = layout.refusedValue;
            for (std::size_t j = i + kTiffEntryBytes; j < entries.size(); j += kTiffEntryBytes) {
                if (getTiff16(entries.data() + j, 0, layout.littleEndian) != kTagSampleFormat) continue;
                TiffLayout formats;
                formats.littleEndian = layout.littleEndian;
                std::uint32_t value = 0;
                applyEntry(file, entries.data() + j, value, formats);
                layout.sampleFormat = formats.sampleFormat;
            }
            layout.refusedValue = bits;
        }
        return problem;
    }
    return TiffProblem::None;
}

// True for the combinations of format, bits and samples that the row
// conversions below handle. JPEG data is read as 8-bit gray or RGB.
bool consistent(const TiffLayout& layout) {
    if (layout.compression == kCompressionJpeg)
        return layout.bits == 8 && ((layout.format == PixelFormat::Gray8 && layout.samples == 1) ||
                                    (layout.format == PixelFormat::Rgb24 && layout.samples == 3));
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
    if (layout.compression != kCompressionNone && strips > layout.byteCounts->size()) return TiffProblem::InvalidLayout;

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
// the sizes their rows need (their byte counts add nothing); compressed
// chunks are read up to their byte counts, and must be able to expand to
// their rows. Only the rows inside the image are read.
TiffProblem checkProducible(const TiffLayout& layout, const ChunkGrid& grid, std::uint64_t rowBytes,
                            std::uint64_t fileSize) {
    const bool compressed = layout.compression != kCompressionNone;
    for (std::uint64_t k = 0; k < grid.count; ++k) {
        const std::uint64_t top = k / grid.across * grid.length;
        const std::uint64_t needed = std::min<std::uint64_t>(grid.length, layout.height - top) * rowBytes;
        const std::uint64_t offset = (*grid.offsets)[k];
        if (offset > fileSize) return TiffProblem::Truncated;
        const std::uint64_t available = fileSize - offset;
        if (!compressed && needed > available) return TiffProblem::Truncated;
        if (compressed) {
            const std::uint64_t byteCount = (*grid.byteCounts)[k];
            // JPEG data has no useful bound, but all of it must be there.
            if (layout.compression == kCompressionJpeg && byteCount > available) return TiffProblem::Truncated;
            if (needed > largestChunkOutput(layout.compression, std::min(byteCount, available)))
                return byteCount > available ? TiffProblem::Truncated : TiffProblem::DamagedData;
        }
    }
    return TiffProblem::None;
}

}  // namespace

int readExactlyAt(const ByteSource& file, std::uint64_t offset, std::uint8_t* buffer, std::size_t count) {
    while (count > 0) {
        const std::size_t got = file.readAt(offset, buffer, std::min(count, kReadPieceBytes));
        if (got == 0) return 1;
        buffer += got;
        offset += got;
        count -= got;
    }
    return 0;
}

TiffProblem readTiffRaster(ByteSource& file, TiffRaster& raster, std::int64_t maxRasterBytes) {
    TiffLayout& layout = raster.layout;
    ChunkGrid& grid = raster.grid;
    if (const TiffProblem problem = readDirectory(file, layout); problem != TiffProblem::None) return problem;
    // YCbCr is read as libjpeg delivers it, in RGB; uncompressed YCbCr
    // (subsampled in blocks) is not.
    if (layout.ycbcr && layout.compression != kCompressionJpeg) {
        layout.refusedValue = kPhotometricYCbCr;
        return TiffProblem::PhotometricNotSupported;
    }
    if (layout.compression == kCompressionJpeg && !layout.jpegTables) layout.jpegTables.emplace();
    // libtiff undoes the predictor only for the codecs that define it;
    // PackBits and JPEG ignore the tag.
    if (layout.compression == kCompressionPackBits || layout.compression == kCompressionJpeg) layout.predictor = false;

    constexpr auto kMaxSide = static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max());
    if (layout.width == 0 || layout.height == 0 || layout.width > kMaxSide || layout.height > kMaxSide)
        return TiffProblem::InvalidSize;
    if (!consistent(layout)) return TiffProblem::BitsAndSamplesDisagree;
    // The predictor works on whole 8- or 16-bit samples.
    if (layout.predictor && layout.bits < 8) {
        layout.refusedValue = 2;
        return TiffProblem::PredictorNotSupported;
    }

    // Rows wider than a block are refused here already, which also keeps
    // every size product below within 64 bits.
    if (strideFor(layout.format, layout.width) > kMaxBlockBytes) return TiffProblem::TooWide;
    if (rasterBytesFor(layout.format, layout.width, layout.height) > std::min(maxRasterBytes, kMaxRasterBytes))
        return TiffProblem::RasterTooLarge;

    if (const TiffProblem problem = layout.tiled() ? tileGrid(layout, grid) : stripGrid(layout, grid);
        problem != TiffProblem::None)
        return problem;
    const std::uint64_t rowBytes = fileRowBytes(layout, grid.width);
    if (const TiffProblem problem = checkProducible(layout, grid, rowBytes, file.size()); problem != TiffProblem::None)
        return problem;

    const std::uint32_t rowsPerChunk = std::min(grid.length, layout.height);
    std::size_t rowsPerRead = rowsPerChunk;
    if (rowBytes * rowsPerChunk > static_cast<std::uint64_t>(kMaxBlockBytes)) {
        rowsPerRead = static_cast<std::size_t>(kMaxBlockBytes / rowBytes);
        if (rowsPerRead == 0) {
            // An uncompressed row must fit one read; compressed data is
            // decoded a row at a time.
            if (!raster.compressed()) return TiffProblem::TooWide;
            rowsPerRead = 1;
        }
    }
    raster.fileRowBytes = rowBytes;
    raster.rowsPerRead = rowsPerRead;
    return TiffProblem::None;
}

}  // namespace calivant
