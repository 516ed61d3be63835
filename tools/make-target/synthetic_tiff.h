#pragma once
// Writes a synthetic picture as a baseline RGB TIFF with libtiff, in any of
// the variants the target image reader accepts: uncompressed, LZW, Deflate,
// PackBits or JPEG (YCbCr), with or without the horizontal predictor,
// either byte order, an extra alpha sample, any strip size and any of the
// eight orientations.

#include <string>

#include "make-target/synthetic_target.h"

namespace calivant {

inline constexpr int kTiffCompressionNone = 1;
inline constexpr int kTiffCompressionLzw = 5;
inline constexpr int kTiffCompressionJpeg = 7;
inline constexpr int kTiffCompressionDeflate = 8;
inline constexpr int kTiffCompressionPackBits = 32773;

struct TiffWriteOptions {
    int compression = kTiffCompressionNone;
    // Horizontal differencing (Predictor 2); only with LZW and Deflate.
    bool predictor = false;
    // 1..8. The raster is stored so that a reader applying the tag gets the
    // upright picture back.
    int orientation = 1;
    // 0: libtiff's default (strips of about 8 KB).
    int rowsPerStrip = 0;
    bool bigEndian = false;
    // A fourth, unassociated alpha sample, always opaque.
    bool alpha = false;
    double resolution = 300.0;  // pixels per inch
    // JPEG only (8-bit pictures): the quality, 1..100.
    int jpegQuality = 95;
};

// Width and height of the raster as stored for an orientation: exchanged for 5..8.
void storedSize(int orientation, int uprightWidth, int uprightHeight, int& storedWidth, int& storedHeight);

// Where the stored pixel (column, row from the top) appears in the upright
// picture under the orientation tag.
void uprightPosition(int orientation, int uprightWidth, int uprightHeight, int storedColumn, int storedRow,
                     int& uprightColumn, int& uprightRow);

// Returns 0, or 1 for invalid options (orientation outside 1..8, a predictor
// without LZW or Deflate, JPEG of a 16-bit picture, negative rows per
// strip) or when libtiff fails to write.
int writeSyntheticTiff(const std::string& path, const SyntheticPicture& picture, const TiffWriteOptions& options,
                       std::string* error = nullptr);

}  // namespace calivant
