#include "image/jpeg_reader.h"

#include <algorithm>
#include <new>
#include <vector>

#include "image/jpeg_codec.h"
#include "image/raster_rows.h"
#include "image/tiff_raster.h"

namespace calivant {
namespace {

constexpr std::uint16_t kTagOrientation = 274;
constexpr std::uint16_t kTypeShort = 3;
constexpr double kCentimetresPerInch = 2.54;

std::string_view colourModelRefusal(const JpegHeader& header) {
    switch (header.colours) {
        case JpegHeader::Colours::Rgb:
        case JpegHeader::Colours::YCbCr: return {};
        case JpegHeader::Colours::Gray: return "colour model gray: not supported; reads RGB and YCbCr";
        case JpegHeader::Colours::Cmyk: return "colour model CMYK: not supported; reads RGB and YCbCr";
        case JpegHeader::Colours::Ycck: return "colour model CMYK (as YCCK): not supported; reads RGB and YCbCr";
        case JpegHeader::Colours::Other: break;
    }
    return "colour model unknown: not supported; reads RGB and YCbCr";
}

double resolutionOf(const JpegHeader& header) {
    if (header.xDensity == 0) return kDefaultResolution;
    if (header.densityUnit == 1) return header.xDensity;
    if (header.densityUnit == 2) return header.xDensity * kCentimetresPerInch;
    return kDefaultResolution;
}

int readInto(const ByteSource& file, TargetImage& image, std::string& reason, const PictureTurn& turn,
             std::int64_t maxRasterBytes) {
    auto fail = [&](std::string_view why) {
        reason = why;
        return 1;
    };
    JpegDecompressor jpeg(static_cast<std::uint64_t>(maxRasterBytes));
    jpeg.setInput(file, 0, file.size());
    JpegHeader header;
    if (!jpeg.readHeader(true, header)) return fail(jpeg.message());
    if (const std::string_view refusal = colourModelRefusal(header); !refusal.empty()) return fail(refusal);
    const Orientation o = afterTurn(orientationOfTag(exifOrientation(jpeg.exifBlock())), turn);
    const std::int64_t width = o.transpose ? header.height : header.width;
    const std::int64_t height = o.transpose ? header.width : header.height;
    if (const std::string_view problem = rasterSizeProblem(PixelFormat::Rgb24, width, height, maxRasterBytes);
        !problem.empty())
        return fail(problem);
    if (allocateImage(image, PixelFormat::Rgb24, static_cast<std::int32_t>(width), static_cast<std::int32_t>(height),
                      resolutionOf(header)) != 0)
        return fail("not enough memory");
    if (!jpeg.start(header.colours, JpegDecompressor::Output::Bgr)) return fail(jpeg.message());

    // libjpeg delivers the image's own pixel layout: upright pictures are
    // decoded straight into their rows, turned ones a band at a time and
    // placed.
    const RowPlacer placer(image, o);
    const std::size_t rowBytes = std::size_t{header.width} * 3;
    const std::size_t band = placer.direct() ? 64 : std::max<std::size_t>(1, kMaxBlockBytes / rowBytes);
    std::vector<std::uint8_t> buffer(placer.direct() ? 0 : band * rowBytes);
    std::vector<std::uint8_t*> rows(band);
    for (std::size_t top = 0; top < header.height;) {
        const std::size_t count = std::min<std::size_t>(band, header.height - top);
        for (std::size_t i = 0; i < count; ++i)
            rows[i] = placer.direct() ? placer.rowFor(top + i) : buffer.data() + i * rowBytes;
        if (!jpeg.readRows(rows.data(), count)) return fail(jpeg.message());
        if (!placer.direct()) placer.place(buffer.data(), rowBytes, count, top, 0, header.width);
        top += count;
    }
    // The rest up to the end marker: a file cut after its last row is
    // refused too.
    if (!jpeg.readToEnd()) return fail(jpeg.message());
    return 0;
}

}  // namespace

std::uint32_t exifOrientation(std::span<const std::uint8_t> tiffData) {
    MemoryByteSource source(tiffData);
    TiffDirectory directory;
    if (tiffData.empty() || readTiffDirectory(source, directory) != TiffProblem::None) return 1;
    const bool le = directory.littleEndian;
    for (std::size_t i = 0; i < directory.entries.size(); i += kTiffEntryBytes) {
        const std::uint8_t* entry = directory.entries.data() + i;
        if (getTiff16(entry, 0, le) != kTagOrientation || getTiff16(entry, 2, le) != kTypeShort) continue;
        const std::uint32_t v = getTiff16(entry, 8, le);
        return v >= 1 && v <= 8 ? v : 1;
    }
    return 1;
}

int readJpegImage(const ByteSource& file, TargetImage& image, std::string& reason, const PictureTurn& turn,
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
