#pragma once
// Reads the target image from a TIFF, PNG or JPEG file, recognised by its
// first bytes whatever its name:
//
//   49 49 2A 00 / 4D 4D 00 2A    TIFF, little- or big-endian
//   89 50 4E 47 0D 0A 1A 0A      PNG
//   FF D8 FF                     JPEG
//
// Every reader gives the same record: row 0 at the bottom, blue, green,
// red, 16-bit samples low byte first, turned upright by the file's own
// orientation (TIFF's tag, JPEG's Exif) and then as the user asked.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "image/byte_source.h"
#include "image/orientation.h"
#include "image/target_image.h"

namespace calivant {

enum class PictureKind { Unknown, Tiff, Png, Jpeg };

// The kind the first bytes of a file say it is.
PictureKind pictureKindOf(std::span<const std::uint8_t> start);

struct PictureReadOptions {
    // Turns after the file's own orientation, made while the pixels are
    // placed.
    PictureTurn turn;
    // Threads decoding TIFF strips or tiles at once; 0: as many as pay.
    unsigned threads = 0;
    // Pictures whose raster would exceed this (and kMaxRasterBytes) are
    // refused before anything is decoded.
    std::int64_t maxRasterBytes = kMaxRasterBytes;
};

struct PictureRead {
    PictureKind kind = PictureKind::Unknown;
    // Why the file was refused: the line shown under "Cannot read target
    // file: %s". Empty on success.
    std::string reason;
};

// Reads file from its start into image. Returns 0, or 1 with the image
// empty and read.reason saying why.
int readPicture(ByteSource& file, TargetImage& image, PictureRead& read, const PictureReadOptions& options = {});

// Said of every JPEG target image: by the command line's build and measure,
// in the profile log and on the wizard's setup page.
inline constexpr std::string_view kJpegPictureWarning =
    "The target image is a JPEG: lossy, and already rendered by the camera; the profile describes that rendering.";

}  // namespace calivant
