#pragma once
// Reads a PNG file into a TargetImage through libpng: RGB and RGBA of 8 or
// 16 bits per sample (Rgb24, Rgb48; alpha dropped), palette images as
// Rgb24, gray as Gray8 or Gray16 (which the setup page refuses, as it does
// gray TIFFs). The pixel values are the file's: embedded ICC profiles and
// gamma chunks are not applied, since the profile being built describes the
// device's own values.
//
// What a file looks like: a signature, then chunks of length, type, data
// and CRC.
//
//   89 50 4E 47 0D 0A 1A 0A                       signature
//   00 00 00 0D "IHDR" 00 00 17 70 00 00 11 AD    6000 x 4525,
//      10 02 00 00 00 CRC                         16 bits, RGB, not interlaced
//   ... "IDAT" ... zlib data of the filtered rows (there may be many)
//   00 00 00 00 "IEND" AE 42 60 82

#include <cstdint>
#include <string>

#include "image/byte_source.h"
#include "image/orientation.h"
#include "image/target_image.h"

namespace calivant {

// Reads file from its start into image, turned as asked. Returns 0; or 1
// with image empty and reason saying why, in libpng's words where it found
// the fault (a file that ends early is "truncated file"). Pictures whose
// raster would exceed maxRasterBytes are refused before anything is
// decoded.
int readPngImage(const ByteSource& file, TargetImage& image, std::string& reason, const PictureTurn& turn,
                 std::int64_t maxRasterBytes);

}  // namespace calivant
