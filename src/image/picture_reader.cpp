#include "image/picture_reader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <initializer_list>

#include "image/jpeg_reader.h"
#include "image/png_reader.h"
#include "image/tiff_reader.h"

namespace calivant {
namespace {

constexpr std::uint8_t kPngSignature[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

bool startsWith(std::span<const std::uint8_t> bytes, std::initializer_list<std::uint8_t> start) {
    return bytes.size() >= start.size() && std::equal(start.begin(), start.end(), bytes.begin());
}

// BigTIFF, TIFF with 64-bit offsets (magic 43), is TIFF to the user but not
// what the reader reads.
bool isBigTiff(std::span<const std::uint8_t> b) {
    return startsWith(b, {'I', 'I', 43, 0}) || startsWith(b, {'M', 'M', 0, 43});
}

}  // namespace

PictureKind pictureKindOf(std::span<const std::uint8_t> start) {
    if (startsWith(start, {'I', 'I', 42, 0}) || startsWith(start, {'M', 'M', 0, 42}) || isBigTiff(start))
        return PictureKind::Tiff;
    if (start.size() >= sizeof kPngSignature && std::memcmp(start.data(), kPngSignature, sizeof kPngSignature) == 0)
        return PictureKind::Png;
    if (startsWith(start, {0xFF, 0xD8, 0xFF})) return PictureKind::Jpeg;
    return PictureKind::Unknown;
}

int readPicture(ByteSource& file, TargetImage& image, PictureRead& read, const PictureReadOptions& options) {
    std::array<std::uint8_t, 8> start{};
    const std::size_t got = file.readAt(0, start.data(), start.size());
    const std::span<const std::uint8_t> first(start.data(), got);
    read.kind = pictureKindOf(first);
    read.reason.clear();
    int result = 1;
    switch (read.kind) {
        case PictureKind::Tiff:
            if (isBigTiff(first)) {
                read.reason = "BigTIFF is not supported";
                break;
            }
            {
                TiffProblem problem = TiffProblem::None;
                result = readTiffImage(file, image, problem, read.reason, {options.turn, options.threads,
                                                                           options.maxRasterBytes});
            }
            break;
        case PictureKind::Png:
            result = readPngImage(file, image, read.reason, options.turn, options.maxRasterBytes);
            break;
        case PictureKind::Jpeg:
            result = readJpegImage(file, image, read.reason, options.turn, options.maxRasterBytes);
            break;
        case PictureKind::Unknown: read.reason = "not a TIFF, PNG or JPEG file"; break;
    }
    if (result != 0) freeImage(image);
    return result;
}

}  // namespace calivant
