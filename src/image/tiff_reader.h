#pragma once
// Reads the target image from a baseline TIFF file into a TargetImage.
//
// What a file looks like (little-endian, one uncompressed 2 x 1 RGB strip):
//
//   49 49 2A 00 08 00 00 00          "II", 42, first directory at offset 8
//   07 00                            7 directory entries of 12 bytes:
//   00 01 03 00 01 00 00 00 02 00 00 00   256 ImageWidth      SHORT x1  2
//   01 01 03 00 01 00 00 00 01 00 00 00   257 ImageLength     SHORT x1  1
//   02 01 03 00 03 00 00 00 62 00 00 00   258 BitsPerSample   SHORT x3  at 98
//   06 01 03 00 01 00 00 00 02 00 00 00   262 Photometric     SHORT x1  2 (RGB)
//   11 01 04 00 01 00 00 00 68 00 00 00   273 StripOffsets    LONG  x1  104
//   15 01 03 00 01 00 00 00 03 00 00 00   277 SamplesPerPixel SHORT x1  3
//   17 01 04 00 01 00 00 00 06 00 00 00   279 StripByteCounts LONG  x1  6
//   00 00 00 00                      no next directory
//   08 00 08 00 08 00                bits per sample 8, 8, 8
//   FF 00 00 00 00 FF                red pixel, blue pixel
//
// The subset read: the first directory only; 1, 4, 8 or 16 bits per sample,
// unsigned integers; one (gray, bilevel), three or four (RGB, RGBA with the
// alpha dropped) samples per pixel in chunky order; strips or tiles,
// uncompressed, LZW, Deflate or PackBits, with or without the horizontal
// predictor (LZW and Deflate); JPEG-compressed 8-bit gray, RGB and YCbCr
// through libjpeg; white-is-zero; both byte orders; the eight orientations,
// after which the image is upright. Palette images, planar data, signed or
// floating-point samples and every other compression are refused.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "image/byte_source.h"
#include "image/orientation.h"
#include "image/target_image.h"

namespace calivant {

// Why a file was refused, for the user: tiffProblemText gives the words.
enum class TiffProblem {
    None,
    NotTiff,
    BigTiff,
    Truncated,
    DamagedData,
    InvalidSize,
    InvalidLayout,
    CompressionNotSupported,
    SampleFormatNotSupported,
    BitsNotSupported,
    SamplesNotSupported,
    BitsAndSamplesDisagree,
    PhotometricNotSupported,
    PlanarNotSupported,
    FillOrderNotSupported,
    SubfileNotSupported,
    OrientationInvalid,
    PredictorNotSupported,
    TooWide,
    RasterTooLarge,
    OutOfMemory,
};

// A short lower-case phrase ("truncated file", "compression not
// supported"); empty for None.
std::string_view tiffProblemText(TiffProblem problem);

struct TiffReadOptions {
    // Turns after the file's own orientation, made while the pixels are
    // placed: the same image as turning the upright one, without a copy.
    PictureTurn turn;
    // Threads decoding strips or tiles at once; 0: one per core where the
    // picture is large enough for them to pay. The image does not depend on
    // it.
    unsigned threads = 0;
    // Rasters above this (and above kMaxRasterBytes) are refused unread.
    std::int64_t maxRasterBytes = kMaxRasterBytes;
};

// Reads the file from its start into image. Returns 0 on success; 1 for any
// failure (unreadable, damaged or unsupported data), image then empty, and
// problem saying why (the first failing strip's or tile's in file order).
// The file stays open. Sizes a file cannot back with strip or tile data are
// refused before any raster is allocated, and so are rasters above
// kMaxRasterBytes.
int readTiffImage(ByteSource& file, TargetImage& image, TiffProblem& problem, const TiffReadOptions& options = {});
// The same, with the refusal in words for the user (the line under "Cannot
// read target file"): what was found and, where that helps, what is read
// instead. Empty on success.
int readTiffImage(ByteSource& file, TargetImage& image, TiffProblem& problem, std::string& reason,
                  const TiffReadOptions& options = {});
int readTiffImage(ByteSource& file, TargetImage& image);

// Opens file and reads it; 1 also when it cannot be opened.
int readTiffImage(const std::filesystem::path& file, TargetImage& image);

// 16- and 32-bit unsigned values at buffer + offset in the file's byte order.
std::uint16_t getTiff16(const std::uint8_t* buffer, std::size_t offset, bool littleEndian);
std::uint32_t getTiff32(const std::uint8_t* buffer, std::size_t offset, bool littleEndian);

}  // namespace calivant
