#include "image/tiff_reader.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <span>
#include <vector>

#include "image/lzw_decoder.h"
#include "image/tiff_raster.h"
#include "image/transforms.h"
#include "util/parallel.h"

namespace calivant {
namespace {

// Below this much raster one thread does it all: starting more costs more
// than they save.
constexpr std::uint64_t kBytesPerThread = std::uint64_t{1} << 20;

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
// chunk when it is compressed (LZW runs from the chunk's start), else a
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
    units.rowsPerBand = raster.lzw() ? chunkRows : raster.rowsPerRead;
    units.bands = (chunkRows + units.rowsPerBand - 1) / units.rowsPerBand;
    units.count = raster.grid.count * units.bands;
    return units;
}

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

private:
    TargetImage& image_;
    Orientation o_;
    std::size_t pixelBytes_;
};

// One thread's share of the decoding: its buffers, its LZW decoder, and the
// units it takes.
class ChunkWorker {
public:
    ChunkWorker(const ByteSource& file, const TiffRaster& raster, const RowFormat& rows, const WorkUnits& units,
                const RowPlacer& placer, TargetImage& image)
        : file_(file), raster_(raster), grid_(raster.grid), rows_(rows), units_(units), placer_(placer),
          image_(image) {}

    // Rows are read or decoded into a buffer that stays in cache and
    // converted from there into the image. Filling the image directly was
    // slower: a large read leaves the rows in memory only, and the decoder's
    // scattered stores to fresh pages cost more than one sequential pass.
    TiffProblem prepare() {
        try {
            buffer_.resize(raster_.rowsPerRead * rows_.fileRowBytes);
            converted_.resize(raster_.rowsPerRead * rows_.imageRowBytes);
            if (raster_.lzw()) {
                packed_.resize(kReadPieceBytes);
                lzw_ = std::make_unique<LzwDecoder>();
                // Chunks of at most a read's worth of rows are decoded whole.
                if (wholeChunks()) {
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
        if (lzw_) startChunk(offset, (*grid_.byteCounts)[k]);
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
            if (const TiffProblem problem = lzw_ ? decodeLzwRows(bytes) : readRows(offset, bytes);
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

    TiffProblem readRows(std::uint64_t offset, std::size_t bytes) {
        return readExactlyAt(file_, offset, buffer_.data(), bytes) == 0 ? TiffProblem::None : TiffProblem::Truncated;
    }

    // The whole chunk's packed bytes at once, decoded in one go; the same
    // outcome as decodeLzwRows over its rows.
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

    void storeRows(const std::uint8_t* rows, std::size_t count, std::uint64_t top, std::uint64_t left,
                   std::uint64_t visibleWidth) {
        const bool wholeRows = visibleWidth == grid_.width;
        // Tile widths of bilevel images are whole bytes, so every tile
        // starts on a byte of the image row.
        const auto leftBytes = static_cast<std::size_t>(rowBytesFor(image_.format, static_cast<std::int64_t>(left)));
        const auto visibleBytes =
            static_cast<std::size_t>(rowBytesFor(image_.format, static_cast<std::int64_t>(visibleWidth)));
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t* in = rows + i * rows_.fileRowBytes;
            if (placer_.direct() && wholeRows) {
                storeRow(rows_, in, placer_.rowFor(top + i) + leftBytes);
                continue;
            }
            // The predictor runs along the whole stored row, so the row is
            // converted whole and cut afterwards.
            std::uint8_t* row = converted_.data() + i * rows_.imageRowBytes;
            storeRow(rows_, in, row);
            if (placer_.direct()) std::memcpy(placer_.rowFor(top + i) + leftBytes, row, visibleBytes);
        }
        if (!placer_.direct()) placer_.place(converted_.data(), rows_.imageRowBytes, count, top, left, visibleWidth);
    }

    void startChunk(std::uint64_t offset, std::uint32_t byteCount) {
        startLzw(*lzw_);
        const std::uint64_t available = file_.size() - offset;
        packedAt_ = offset;
        packedLeft_ = std::min<std::uint64_t>(byteCount, available);
        cutByFileEnd_ = byteCount > available;
        input_ = {};
        firstPiece_ = true;
    }

    // Decodes exactly bytes bytes of the current chunk; a chunk whose data
    // ends sooner fails rather than leave rows unwritten.
    TiffProblem decodeLzwRows(std::size_t bytes) {
        std::uint8_t* out = buffer_.data();
        const TiffProblem endedEarly = cutByFileEnd_ ? TiffProblem::Truncated : TiffProblem::DamagedData;
        std::size_t filled = 0;
        while (filled < bytes) {
            if (input_.empty()) {
                if (packedLeft_ == 0 || lzw_->ended) return endedEarly;
                const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(packedLeft_, kReadPieceBytes));
                const std::size_t got = file_.readAt(packedAt_, packed_.data(), want);
                if (got == 0) return TiffProblem::Truncated;
                packedAt_ += got;
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

    const ByteSource& file_;
    const TiffRaster& raster_;
    const ChunkGrid& grid_;
    const RowFormat& rows_;
    const WorkUnits& units_;
    const RowPlacer& placer_;
    TargetImage& image_;
    std::vector<std::uint8_t> buffer_;
    std::vector<std::uint8_t> converted_;
    std::vector<std::uint8_t> packed_;
    std::unique_ptr<LzwDecoder> lzw_;
    std::unique_ptr<LzwChunkDecoder> chunk_;
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
        ChunkWorker decoder(file, raster, rows, units, placer, image);
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

TiffProblem readInto(ByteSource& file, TargetImage& image, const TiffReadOptions& options) {
    TiffRaster raster;
    if (const TiffProblem problem = readTiffRaster(file, raster); problem != TiffProblem::None) return problem;
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

int readTiffImage(ByteSource& file, TargetImage& image, TiffProblem& problem, const TiffReadOptions& options) {
    try {
        problem = readInto(file, image, options);
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
