#pragma once
// Reads a JPEG file (JFIF or Exif, baseline or progressive) into a
// TargetImage through libjpeg-turbo: 8-bit RGB or YCbCr, delivered as
// Rgb24 and turned upright by the Exif Orientation.
//
// What a file looks like: markers of FF and a code, most with a length.
//
//   FF D8                          start of image
//   FF E1 00 5A "Exif\0\0" ...     APP1: a TIFF header and directory, whose
//                                  Orientation (274) says how to turn it
//   FF DB ... FF C4 ...            quantization and Huffman tables
//   FF C0 00 11 08 0B B8 0F A0 03  start of frame: 8 bits, 3000 x 4000, 3
//                                  components (with their sampling)
//   FF DA ... entropy-coded data
//   FF D9                          end of image
//
// Gray and CMYK files are refused with their colour model, and so is a
// file that ends early or whose data is damaged (libjpeg itself would pad
// the picture with gray and only warn).

#include <cstdint>
#include <span>
#include <string>

#include "image/byte_source.h"
#include "image/orientation.h"
#include "image/target_image.h"

namespace calivant {

// Reads file from its start into image, turned by the Exif Orientation and
// then by turn. Returns 0; or 1 with image empty and reason saying why, in
// libjpeg's words where it found the fault. Pictures whose raster would
// exceed maxRasterBytes are refused before anything is decoded.
int readJpegImage(const ByteSource& file, TargetImage& image, std::string& reason, const PictureTurn& turn,
                  std::int64_t maxRasterBytes);

// The Exif Orientation (1..8) in the TIFF data of an Exif block; 1 when the
// block is damaged or says nothing valid (a photo is not refused for its
// metadata).
std::uint32_t exifOrientation(std::span<const std::uint8_t> tiffData);

}  // namespace calivant
