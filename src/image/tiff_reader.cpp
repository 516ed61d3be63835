#include "image/tiff_reader.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <span>
#include <vector>

#include "image/jpeg_codec.h"
#include "image/lzw_decoder.h"
#include "image/raster_rows.h"
#include "image/tiff_raster.h"
#include "image/transforms.h"
#include "util/parallel.h"

namespace calivant {
namespace {

// Below this much raster one thread does it all: starting more costs more
// than they save.
constexpr std::uint64_t kBytesPerThread = std::uint64_t{1} << 20;

RowFormat rowFormatOf(const TiffRaster& raster) {
    const TiffLayout& layout = raster.layout;
    RowFormat rows;
    rows.format = layout.format;
    rows.width = static_cast<std::int32_t>(raster.grid.width);
    rows.samples = layout.samples;
    rows.bits = layout.bits;
    rows.littleEndian = layout.littleEndian;
    rows.predictor = layout.predictor;
    rows.inverted = layout.inverted;
    rows.fileRowBytes = static_cast<std::size_t>(raster.fileRowBytes);
    rows.imageRowBytes = static_cast<std::size_t>(rowBytesFor(layout.format, raster.grid.width));
    return rows;
}

// The work is cut into units that need nothing from one another: a whole
// chunk when it is compressed (its data runs from the chunk's start), else a
// read's worth of rows of a chunk. Unit u is band u % bands of chunk
// u / bands; bands past a short last chunk are empty.
struct WorkUnits {
    std::uint64_t count = 0;
    std::uint64_t bands = 1;
    std::size_t rowsPerBand = 0;
};

WorkUnits workUnitsOf(const TiffRaster& raster) {
    const std::size_t chunkRows = std::min(raster.grid.length, raster.layout.height);
    WorkUnits units;
    units.rowsPerBand = raster.compressed() ? chunkRows : raster.rowsPerRead;
    units.bands = (chunkRows + units.rowsPerBand - 1) / units.rowsPerBand;
    units.count = raster.grid.count * units.bands;
    return units;
}

// One thread's share of the decoding: its buffers, its decoder, and the
// units it takes.
class ChunkWorker {
public:
    ChunkWorker(const ByteSource& file, const TiffRaster& raster, const RowFormat& rows, const WorkUnits& units,
                const RowPlacer& placer)
        : file_(file), raster_(raster), grid_(raster.grid), rows_(rows), units_(units), placer_(placer) {}

    // Rows are read or decoded into a buffer that stays in cache and
    // converted from there into the image. Filling the image directly was
    // slower: a large read leaves the rows in memory only, and the decoder's
    // scattered stores to fresh pages cost more than one sequential pass.
    TiffProblem prepare() {
        try {
            buffer_.resize(raster_.rowsPerRead * rows_.fileRowBytes);
            converted_.resize(raster_.rowsPerRead * rows_.imageRowBytes);
            if (raster_.jpeg()) return prepareJpeg();
            if (raster_.compressed()) {
                packed_.resize(kReadPieceBytes);
                stream_ = makeChunkStreamDecoder(raster_.layout.compression);
                // LZW chunks of at most a read's worth of rows are decoded whole.
                if (raster_.lzw() && wholeChunks()) {
                    chunk_ = std::make_unique<LzwChunkDecoder>();
                    prepareLzwChunk(*chunk_, buffer_.size());
                }
            }
        } catch (const std::bad_alloc&) {
            return TiffProblem::OutOfMemory;
        }
        return TiffProblem::None;
    }

    TiffProblem decode(std::uint64_t unit) {
        const std::uint64_t k = unit / units_.bands;
        const std::uint64_t top = k / grid_.across * grid_.length;
        const std::uint64_t left = k % grid_.across * grid_.width;
        const auto imageHeight = static_cast<std::uint64_t>(raster_.layout.height);
        const auto chunkRows = static_cast<std::size_t>(std::min<std::uint64_t>(grid_.length, imageHeight - top));
        const std::size_t first = static_cast<std::size_t>(unit % units_.bands) * units_.rowsPerBand;
        if (first >= chunkRows) return TiffProblem::None;
        const std::size_t last = std::min(chunkRows, first + units_.rowsPerBand);
        const std::uint64_t visibleWidth =
            std::min<std::uint64_t>(grid_.width, static_cast<std::uint64_t>(raster_.layout.width) - left);

        std::uint64_t offset = (*grid_.offsets)[k] + first * std::uint64_t{rows_.fileRowBytes};
        if (jpeg_) return decodeJpegChunk(offset, (*grid_.byteCounts)[k], chunkRows, top, left, visibleWidth);
        if (stream_) startChunk(offset, (*grid_.byteCounts)[k]);
        if (chunk_ && packedLeft_ <= packed_.size()) {
            const std::uint8_t* rows = nullptr;
            if (const TiffProblem problem = decodeWholeChunk(chunkRows * rows_.fileRowBytes, rows);
                problem != TiffProblem::None)
                return problem;
            storeRows(rows, chunkRows, top, left, visibleWidth);
            return TiffProblem::None;
        }
        for (std::size_t done = first; done < last;) {
            const std::size_t count = std::min(raster_.rowsPerRead, last - done);
            const std::size_t bytes = count * rows_.fileRowBytes;
            if (const TiffProblem problem = stream_ ? decodeStreamRows(bytes) : readRows(offset, bytes);
                problem != TiffProblem::None)
                return problem;
            offset += bytes;
            storeRows(buffer_.data(), count, top + done, left, visibleWidth);
            done += count;
        }
        return TiffProblem::None;
    }

private:
    bool wholeChunks() const { return std::min(grid_.length, raster_.layout.height) <= raster_.rowsPerRead; }

    void storeRows(const std::uint8_t* rows, std::size_t count, std::uint64_t top, std::uint64_t left,
                   std::uint64_t visibleWidth) {
        calivant::storeRows(rows_, placer_, rows, count, top, left, visibleWidth, converted_.data());
    }

    TiffProblem readRows(std::uint64_t offset, std::size_t bytes) {
        return readExactlyAt(file_, offset, buffer_.data(), bytes) == 0 ? TiffProblem::None : TiffProblem::Truncated;
    }

    // The whole chunk's packed bytes at once, decoded in one go; the same
    // outcome as decodeStreamRows over its rows.
    TiffProblem decodeWholeChunk(std::size_t bytes, const std::uint8_t*& rows) {
        const TiffProblem endedEarly = cutByFileEnd_ ? TiffProblem::Truncated : TiffProblem::DamagedData;
        const auto count = static_cast<std::size_t>(packedLeft_);
        if (readExactlyAt(file_, packedAt_, packed_.data(), count) != 0) return TiffProblem::Truncated;
        const std::span<const std::uint8_t> input(packed_.data(), count);
        if (isOldStyleLzw(input)) return TiffProblem::CompressionNotSupported;
        std::size_t produced = 0;
        if (decodeLzwChunk(*chunk_, input, bytes, produced) != 0) return TiffProblem::DamagedData;
        if (produced < bytes) return endedEarly;
        rows = chunk_->bytes.data() + kLzwOutputStart;
        return TiffProblem::None;
    }

    void startChunk(std::uint64_t offset, std::uint32_t byteCount) {
        stream_->start();
        const std::uint64_t available = file_.size() - offset;
        packedAt_ = offset;
        packedLeft_ = std::min<std::uint64_t>(byteCount, available);
        cutByFileEnd_ = byteCount > available;
        input_ = {};
        firstPiece_ = true;
    }

    // Decodes exactly bytes bytes of the current chunk; a chunk whose data
    // ends sooner fails rather than leave rows unwritten.
    TiffProblem decodeStreamRows(std::size_t bytes) {
        std::uint8_t* out = buffer_.data();
        const TiffProblem endedEarly = cutByFileEnd_ ? TiffProblem::Truncated : TiffProblem::DamagedData;
        std::size_t filled = 0;
        while (filled < bytes) {
            if (input_.empty() && packedLeft_ > 0 && !stream_->ended()) {
                const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(packedLeft_, kReadPieceBytes));
                const std::size_t got = file_.readAt(packedAt_, packed_.data(), want);
                if (got == 0) return TiffProblem::Truncated;
                packedAt_ += got;
                packedLeft_ -= got;
                input_ = std::span<const std::uint8_t>(packed_.data(), got);
                if (firstPiece_)
                    if (const TiffProblem problem = stream_->begin(input_); problem != TiffProblem::None) return problem;
                firstPiece_ = false;
            }
            // A decoder may hold output back for want of room: it is asked
            // even when no input is left.
            const bool fed = !input_.empty();
            std::size_t produced = 0;
            if (const TiffProblem problem = stream_->decode(input_, out + filled, bytes - filled, produced);
                problem != TiffProblem::None)
                return problem;
            filled += produced;
            if (filled < bytes && (stream_->ended() || (!fed && produced == 0))) return endedEarly;
        }
        return TiffProblem::None;
    }

    // Every worker has its own decompressor with the file's tables loaded.
    TiffProblem prepareJpeg() {
        jpeg_ = std::make_unique<JpegDecompressor>(kMaxRasterBytes);
        rowPointers_.resize(raster_.rowsPerRead);
        for (std::size_t i = 0; i < rowPointers_.size(); ++i)
            rowPointers_[i] = buffer_.data() + i * rows_.fileRowBytes;
        const std::vector<std::uint8_t>& tables = *raster_.layout.jpegTables;
        if (tables.empty()) return TiffProblem::None;
        const MemoryByteSource source(tables);
        jpeg_->setInput(source, 0, tables.size());
        return jpeg_->readTables() ? TiffProblem::None : TiffProblem::DamagedData;
    }

    // A JPEG strip or tile is a JPEG stream of its own (its tables may be
    // the file's), as wide as the chunk and at least as tall as its rows in
    // the image.
    TiffProblem decodeJpegChunk(std::uint64_t offset, std::uint32_t byteCount, std::size_t chunkRows,
                                std::uint64_t top, std::uint64_t left, std::uint64_t visibleWidth) {
        const bool gray = raster_.layout.samples == 1;
        jpeg_->setInput(file_, offset, byteCount);
        JpegHeader header;
        if (!jpeg_->readHeader(false, header) || header.width != grid_.width || header.height < chunkRows ||
            header.components != static_cast<int>(raster_.layout.samples))
            return TiffProblem::DamagedData;
        const auto colours = gray                       ? JpegHeader::Colours::Gray
                             : raster_.layout.ycbcr     ? JpegHeader::Colours::YCbCr
                                                        : JpegHeader::Colours::Rgb;
        if (!jpeg_->start(colours, gray ? JpegDecompressor::Output::Gray : JpegDecompressor::Output::Rgb))
            return TiffProblem::DamagedData;
        for (std::size_t done = 0; done < chunkRows;) {
            const std::size_t count = std::min(raster_.rowsPerRead, chunkRows - done);
            if (!jpeg_->readRows(rowPointers_.data(), count)) return TiffProblem::DamagedData;
            storeRows(buffer_.data(), count, top + done, left, visibleWidth);
            done += count;
        }
        jpeg_->finish();
        return TiffProblem::None;
    }

    const ByteSource& file_;
    const TiffRaster& raster_;
    const ChunkGrid& grid_;
    const RowFormat& rows_;
    const WorkUnits& units_;
    const RowPlacer& placer_;
    std::vector<std::uint8_t> buffer_;
    std::vector<std::uint8_t> converted_;
    std::vector<std::uint8_t> packed_;
    std::unique_ptr<ChunkStreamDecoder> stream_;
    std::unique_ptr<LzwChunkDecoder> chunk_;
    std::unique_ptr<JpegDecompressor> jpeg_;
    std::vector<std::uint8_t*> rowPointers_;
    std::span<const std::uint8_t> input_;
    std::uint64_t packedAt_ = 0;
    std::uint64_t packedLeft_ = 0;
    bool cutByFileEnd_ = false;
    bool firstPiece_ = true;
};

// The first failure in the order of the units, which is the failure one
// thread going through them in turn would have met: the outcome does not
// depend on the number of threads.
class FirstFailure {
public:
    void record(std::uint64_t unit, TiffProblem problem) {
        const std::lock_guard lock(mutex_);
        if (unit < unit_.load()) {
            unit_ = unit;
            problem_ = problem;
        }
    }
    // Units after a failure cannot change the outcome.
    bool after(std::uint64_t unit) const { return unit > unit_.load(std::memory_order_relaxed); }
    TiffProblem problem() const { return problem_; }

private:
    std::mutex mutex_;
    std::atomic<std::uint64_t> unit_{std::numeric_limits<std::uint64_t>::max()};
    TiffProblem problem_ = TiffProblem::None;
};

// Decodes the strips or tiles into image on up to threads threads.
TiffProblem decodeChunks(const ByteSource& file, const TiffRaster& raster, const RowPlacer& placer,
                         TargetImage& image, unsigned threads) {
    const RowFormat rows = rowFormatOf(raster);
    const WorkUnits units = workUnitsOf(raster);
    const auto rasterBytes = static_cast<std::uint64_t>(rasterBytesFor(image.format, image.width, image.height));
    const std::uint64_t worthwhile = std::max<std::uint64_t>(1, rasterBytes / kBytesPerThread);
    const auto workers = static_cast<unsigned>(
        threads != 0 ? std::min<std::uint64_t>(threads, units.count)
                     : std::min<std::uint64_t>({coreCount(), units.count, worthwhile}));
    std::atomic<std::uint64_t> next{0};
    FirstFailure failure;
    TiffProblem setup = TiffProblem::None;
    runOnWorkers(workers, [&](unsigned worker) {
        ChunkWorker decoder(file, raster, rows, units, placer);
        if (const TiffProblem problem = decoder.prepare(); problem != TiffProblem::None) {
            // Only the calling thread's failure counts: the others' units
            // are taken by whoever is running.
            if (worker == 0) setup = problem;
            return;
        }
        for (std::uint64_t unit = next++; unit < units.count && !failure.after(unit); unit = next++)
            if (const TiffProblem problem = decoder.decode(unit); problem != TiffProblem::None)
                failure.record(unit, problem);
    });
    return setup != TiffProblem::None ? setup : failure.problem();
}

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

TiffProblem readInto(ByteSource& file, TiffRaster& raster, TargetImage& image, const TiffReadOptions& options) {
    if (const TiffProblem problem = readTiffRaster(file, raster, options.maxRasterBytes); problem != TiffProblem::None)
        return problem;
    const TiffLayout& layout = raster.layout;
    const Orientation orientation = afterTurn(orientationOfTag(layout.orientation), options.turn);
    // Single bits are not moved one by one while decoding: a bilevel image
    // is decoded as stored and turned afterwards.
    const bool placed = layout.format != PixelFormat::Bilevel;
    const bool exchange = placed && orientation.transpose;
    const auto width = static_cast<std::int32_t>(exchange ? layout.height : layout.width);
    const auto height = static_cast<std::int32_t>(exchange ? layout.width : layout.height);
    if (allocateImage(image, layout.format, width, height, layout.xResolution / layout.unitDivisor) != 0 ||
        image.rows.empty())
        return TiffProblem::OutOfMemory;
    const RowPlacer placer(image, placed ? orientation : Orientation{});
    if (const TiffProblem problem = decodeChunks(file, raster, placer, image, options.threads);
        problem != TiffProblem::None)
        return problem;
    return placed ? TiffProblem::None : orient(image, tagOfOrientation(orientation));
}

std::string decimal(std::uint32_t value) {
    char text[16];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

std::string_view compressionName(std::uint32_t compression) {
    switch (compression) {
        case 2: return "CCITT modified Huffman";
        case 3: return "CCITT Group 3 fax";
        case 4: return "CCITT Group 4 fax";
        case 6: return "old-style JPEG";
        case 32809: return "ThunderScan";
        case 34661: return "JBIG";
        case 34676: return "SGI LogL";
        case 34677: return "SGI LogLuv";
        case 34712: return "JPEG 2000";
        case 34887: return "LERC";
        case 34925: return "LZMA";
        case 50000: return "Zstandard";
        case 50001: return "WebP";
        case 50002: return "JPEG XL";
        default: return {};
    }
}

std::string_view colourModelName(std::uint32_t photometric) {
    switch (photometric) {
        case 3: return "palette";
        case 4: return "transparency mask";
        case 5: return "CMYK";
        case 6: return "YCbCr";
        case 8: return "CIE L*a*b*";
        case 9: return "ICC L*a*b*";
        case 10: return "ITU L*a*b*";
        case 32803: return "colour filter array";
        case 32844: return "LogL";
        case 32845: return "LogLuv";
        case 34892: return "linear raw";
        default: return {};
    }
}

// The second line of the message for a refused file: what was found and,
// where the user can do something about it, what is read instead.
std::string refusalText(TiffProblem problem, const TiffLayout& layout) {
    const std::uint32_t v = layout.refusedValue;
    auto named = [&](std::string_view name) {
        return name.empty() ? decimal(v) : std::string(name) + " (" + decimal(v) + ")";
    };
    const bool otherSamples = layout.sampleFormat != 1;
    switch (problem) {
        case TiffProblem::CompressionNotSupported: {
            const std::string found = layout.compression == kCompressionLzw
                                          ? std::string("old-style LZW compression")
                                          : "compression " + named(compressionName(v));
            return found + ": not supported; reads uncompressed, LZW, Deflate, PackBits, JPEG";
        }
        case TiffProblem::SampleFormatNotSupported:
        case TiffProblem::BitsNotSupported:
            if (otherSamples) {
                const std::uint32_t bits = problem == TiffProblem::BitsNotSupported ? v : layout.bits;
                const std::string_view kind = layout.sampleFormat == 3   ? "floating-point"
                                              : layout.sampleFormat == 2 ? "signed integer"
                                                                         : "untyped";
                return (bits != 0 ? decimal(bits) + "-bit " : std::string()) + std::string(kind) +
                       " samples: not supported; export a 16-bit integer TIFF";
            }
            return (v != 0 ? decimal(v) + " bits per sample" : std::string("unequal bits per sample")) +
                   ": not supported; reads 8 and 16";
        case TiffProblem::SamplesNotSupported:
            return decimal(v) + " samples per pixel: not supported; reads 1 (gray), 3 (RGB) and 4 (RGBA)";
        case TiffProblem::BitsAndSamplesDisagree:
            if (layout.compression == kCompressionJpeg)
                return "JPEG compression of " + decimal(layout.samples) + " samples of " + decimal(layout.bits) +
                       " bits: not supported; reads 8-bit gray and RGB";
            break;
        case TiffProblem::PhotometricNotSupported:
            return "colour model " + named(colourModelName(v)) + ": not supported; reads RGB";
        case TiffProblem::PlanarNotSupported:
            return "planar configuration " + decimal(v) + " (separate colour planes): not supported; reads 1 (interleaved)";
        case TiffProblem::FillOrderNotSupported: return "bit fill order " + decimal(v) + ": not supported; reads 1";
        case TiffProblem::OrientationInvalid: return "orientation " + decimal(v) + ": not valid (1 to 8)";
        case TiffProblem::PredictorNotSupported:
            if (v == 2) return "horizontal predictor on samples of fewer than 8 bits: not supported";
            return "predictor " + named(v == 3 ? "floating point" : "") + ": not supported; reads 1 (none) and 2 (horizontal)";
        default: break;
    }
    return std::string(tiffProblemText(problem));
}

}  // namespace

std::string_view tiffProblemText(TiffProblem problem) {
    switch (problem) {
        case TiffProblem::None: return "";
        case TiffProblem::NotTiff: return "not a TIFF file";
        case TiffProblem::BigTiff: return "BigTIFF is not supported";
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

int readTiffImage(ByteSource& file, TargetImage& image, TiffProblem& problem, std::string& reason,
                  const TiffReadOptions& options) {
    TiffRaster raster;
    try {
        problem = readInto(file, raster, image, options);
    } catch (const std::bad_alloc&) {
        // The large buffers are checked where they are made; this catches
        // the small tables that run out in a starved process.
        problem = TiffProblem::OutOfMemory;
    }
    reason.clear();
    if (problem == TiffProblem::None) return 0;
    reason = refusalText(problem, raster.layout);
    freeImage(image);
    return 1;
}

int readTiffImage(ByteSource& file, TargetImage& image, TiffProblem& problem, const TiffReadOptions& options) {
    std::string reason;
    return readTiffImage(file, image, problem, reason, options);
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
