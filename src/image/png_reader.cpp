#include "image/png_reader.h"

#include <png.h>

#include <algorithm>
#include <condition_variable>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "image/raster_rows.h"
#include "util/parallel.h"

namespace calivant {
namespace {

constexpr double kMetresPerInch = 0.0254;

// libpng reports errors by a longjmp to the jump buffer of its read struct.
// Every libpng call that can fail is made from one of the small functions
// below, whose locals are plain values set before their setjmp; the frames
// the jump passes are libpng's and this file's callbacks, which hold no
// object with a destructor. So the jump skips no destructor, and the C++
// objects of the reader live in the caller, outside it.
struct PngSession {
    png_structp png = nullptr;
    png_infop info = nullptr;
    const ByteSource* file = nullptr;
    std::uint64_t next = 0;  // file offset of the byte after the piece
    // libpng asks for a few kilobytes at a time; the file is read in
    // larger pieces.
    std::vector<std::uint8_t> piece;
    std::size_t pieceAt = 0;
    std::size_t pieceEnd = 0;
    char message[200] = {};

    ~PngSession() {
        if (png) png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    }
};

PngSession& sessionOf(png_structp png) { return *static_cast<PngSession*>(png_get_error_ptr(png)); }

void onError(png_structp png, png_const_charp text) {
    PngSession& s = sessionOf(png);
    std::snprintf(s.message, sizeof s.message, "%s", text);
    png_longjmp(png, 1);
}

// Warnings (an unknown chunk, a profile libpng dislikes) do not touch the
// pixels.
void onWarning(png_structp, png_const_charp) {}

void readData(png_structp png, png_bytep out, std::size_t count) {
    PngSession& s = sessionOf(png);
    while (count > 0) {
        if (s.pieceAt == s.pieceEnd) {
            s.pieceAt = 0;
            s.pieceEnd = s.file->readAt(s.next, s.piece.data(), s.piece.size());
            if (s.pieceEnd == 0) png_error(png, "truncated file");
            s.next += s.pieceEnd;
        }
        const std::size_t n = std::min(count, s.pieceEnd - s.pieceAt);
        std::memcpy(out, s.piece.data() + s.pieceAt, n);
        s.pieceAt += n;
        out += n;
        count -= n;
    }
}

bool readInfo(PngSession& session) {
    PngSession* s = &session;
    if (setjmp(png_jmpbuf(s->png))) return false;
    png_read_info(s->png, s->info);
    return true;
}

// Sets the transformations to apply and reads what they make of a row;
// passes receives the number of times every row is read.
bool updateInfo(PngSession& session, bool palette, bool gray, int& passes) {
    PngSession* s = &session;
    int* p = &passes;
    if (setjmp(png_jmpbuf(s->png))) return false;
    if (palette) png_set_palette_to_rgb(s->png);
    if (gray) {
        png_set_expand_gray_1_2_4_to_8(s->png);
        png_set_strip_alpha(s->png);
    }
    // Interlaced rows come pass by pass; libpng combines them in rows it is
    // given again with each pass.
    *p = png_set_interlace_handling(s->png);
    png_read_update_info(s->png, s->info);
    return true;
}

bool readRows(PngSession& session, std::uint8_t* const* rows, std::size_t count) {
    PngSession* s = &session;
    std::uint8_t* const* r = rows;
    const std::size_t n = count;
    if (setjmp(png_jmpbuf(s->png))) return false;
    for (std::size_t i = 0; i < n; ++i) png_read_row(s->png, r[i], nullptr);
    return true;
}

bool readEnd(PngSession& session) {
    PngSession* s = &session;
    if (setjmp(png_jmpbuf(s->png))) return false;
    png_read_end(s->png, nullptr);
    return true;
}

// Decodes the rows of a file that is not interlaced, band by band, and
// converts them into the image. libpng decodes on one thread at a time;
// the conversion of bands already decoded runs meanwhile on another core,
// so the whole takes about as long as libpng alone. The bands go round a
// ring of slots. A thread takes the decoding whenever it is free and a slot
// is, as libpng is the slower half, and converts otherwise: one thread
// alone does both in turn. False, with the session's message, when libpng
// fails.
bool decodeBands(PngSession& s, const RowFormat& f, const RowPlacer& placer, std::size_t height, std::size_t band) {
    constexpr std::size_t kSlots = 4;
    constexpr unsigned kWorkers = 2;
    const std::size_t bands = (height + band - 1) / band;
    std::vector<std::uint8_t> buffer(kSlots * band * f.fileRowBytes);
    std::vector<std::uint8_t*> rows(kSlots * band);
    for (std::size_t i = 0; i < rows.size(); ++i) rows[i] = buffer.data() + i * f.fileRowBytes;
    std::vector<std::uint8_t> converted(placer.direct() ? 0 : kWorkers * band * f.imageRowBytes);
    std::vector<char> stored(bands, 0);
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t decoded = 0, claimed = 0, done = 0;
    bool decoding = false, failed = false;
    auto rowsIn = [&](std::size_t k) { return std::min(band, height - k * band); };
    runOnWorkers(kWorkers, [&](unsigned worker) {
        std::unique_lock lock(mutex);
        while (!failed && done < bands) {
            const bool slotFree = decoded < bands && (decoded < kSlots || stored[decoded - kSlots]);
            if (!decoding && slotFree) {
                const std::size_t k = decoded;
                decoding = true;
                lock.unlock();
                const bool ok = readRows(s, rows.data() + k % kSlots * band, rowsIn(k));
                lock.lock();
                decoding = false;
                if (ok)
                    ++decoded;
                else
                    failed = true;
                changed.notify_all();
            } else if (claimed < decoded) {
                const std::size_t k = claimed++;
                lock.unlock();
                std::uint8_t* scratch = converted.empty() ? nullptr : converted.data() + worker * band * f.imageRowBytes;
                storeRows(f, placer, rows[k % kSlots * band], rowsIn(k), k * band, 0, static_cast<std::uint64_t>(f.width),
                          scratch);
                lock.lock();
                stored[k] = 1;
                ++done;
                changed.notify_all();
            } else {
                changed.wait(lock);
            }
        }
    });
    return !failed;
}

int readInto(const ByteSource& file, TargetImage& image, std::string& reason, const PictureTurn& turn,
             std::int64_t maxRasterBytes) {
    auto fail = [&](std::string_view why) {
        reason = why;
        return 1;
    };
    PngSession s;
    s.file = &file;
    s.piece.resize(kMaxBlockBytes);
    s.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &s, onError, onWarning);
    if (!s.png || !(s.info = png_create_info_struct(s.png))) return fail("not enough memory");
    png_set_read_fn(s.png, &s, readData);
    // Every compressed byte is covered by its chunk's CRC, which libpng
    // checks; zlib's second checksum over the decompressed rows would only
    // cost time (a tenth of a large 16-bit file's).
    png_set_option(s.png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
    if (!readInfo(s)) return fail(s.message);

    const std::uint32_t width = png_get_image_width(s.png, s.info);
    const std::uint32_t height = png_get_image_height(s.png, s.info);
    const int colourType = png_get_color_type(s.png, s.info);
    const bool gray = (colourType & PNG_COLOR_MASK_COLOR) == 0;
    const bool palette = colourType == PNG_COLOR_TYPE_PALETTE;
    int passes = 1;
    if (!updateInfo(s, palette, gray, passes)) return fail(s.message);
    const int channels = png_get_channels(s.png, s.info);
    const bool wide = png_get_bit_depth(s.png, s.info) == 16;

    RowFormat f;
    f.format = gray ? (wide ? PixelFormat::Gray16 : PixelFormat::Gray8) : (wide ? PixelFormat::Rgb48 : PixelFormat::Rgb24);
    f.width = static_cast<std::int32_t>(std::min<std::uint32_t>(width, 0x7FFFFFFF));
    f.samples = static_cast<std::uint32_t>(channels);
    f.bits = wide ? 16 : 8;
    f.littleEndian = false;  // PNG's 16-bit samples are big-endian
    f.fileRowBytes = png_get_rowbytes(s.png, s.info);
    if ((gray && channels != 1) || (!gray && channels != 3 && channels != 4)) return fail("unexpected row layout");

    const Orientation o = afterTurn({}, turn);
    const std::int64_t w = o.transpose ? height : width;
    const std::int64_t h = o.transpose ? width : height;
    if (const std::string_view problem = rasterSizeProblem(f.format, w, h, maxRasterBytes); !problem.empty())
        return fail(problem);
    f.imageRowBytes = static_cast<std::size_t>(rowBytesFor(f.format, width));
    png_uint_32 xPerMetre = 0, yPerMetre = 0;
    int unit = 0;
    const bool metres = png_get_pHYs(s.png, s.info, &xPerMetre, &yPerMetre, &unit) != 0 &&
                        unit == PNG_RESOLUTION_METER && xPerMetre > 0;
    if (allocateImage(image, f.format, static_cast<std::int32_t>(w), static_cast<std::int32_t>(h),
                      metres ? xPerMetre * kMetresPerInch : kDefaultResolution) != 0)
        return fail("not enough memory");

    const std::size_t band = std::max<std::size_t>(1, static_cast<std::size_t>(kMaxBlockBytes) / f.fileRowBytes);
    const RowPlacer placer(image, o);
    if (passes == 1) {
        if (!decodeBands(s, f, placer, height, band)) return fail(s.message);
    } else {
        // Each pass of an interlaced file adds to every row: the file's rows
        // are read whole, then converted.
        if (f.fileRowBytes * height > static_cast<std::uint64_t>(std::min(maxRasterBytes, kMaxRasterBytes)))
            return fail("more than 1.5 GiB of raster");
        std::vector<std::uint8_t> buffer(height * f.fileRowBytes);
        std::vector<std::uint8_t> converted(placer.direct() ? 0 : band * f.imageRowBytes);
        std::vector<std::uint8_t*> rows(height);
        for (std::size_t i = 0; i < height; ++i) rows[i] = buffer.data() + i * f.fileRowBytes;
        for (int pass = 0; pass < passes; ++pass)
            if (!readRows(s, rows.data(), height)) return fail(s.message);
        for (std::size_t top = 0; top < height; top += band)
            storeRows(f, placer, rows[top], std::min<std::size_t>(band, height - top), top, 0, width, converted.data());
    }
    // The chunks after the pixels, to the end: a file cut after its last
    // row is refused too.
    if (!readEnd(s)) return fail(s.message);
    return 0;
}

}  // namespace

int readPngImage(const ByteSource& file, TargetImage& image, std::string& reason, const PictureTurn& turn,
                 std::int64_t maxRasterBytes) {
    reason.clear();
    int result = 1;
    try {
        result = readInto(file, image, reason, turn, maxRasterBytes);
    } catch (const std::bad_alloc&) {
        reason = "not enough memory";
    }
    if (result != 0) freeImage(image);
    return result;
}

}  // namespace calivant
