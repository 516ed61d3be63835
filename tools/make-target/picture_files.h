#pragma once
// Writes a synthetic picture as a PNG (libpng) or a JPEG (libjpeg-turbo),
// the other kinds of file the target image reader takes.

#include <string>

#include "make-target/synthetic_target.h"

namespace calivant {

struct PngWriteOptions {
    bool alpha = false;       // an opaque alpha sample (RGBA)
    bool interlaced = false;  // Adam7
};

// An RGB PNG of the picture's bits per sample. Returns 0, or 1 with error
// saying why.
int writeSyntheticPng(const std::string& path, const SyntheticPicture& picture, const PngWriteOptions& options,
                      std::string* error = nullptr);

struct JpegWriteOptions {
    int quality = 95;  // 1..100
    // 1..8: the raster is stored turned so that a reader applying the Exif
    // Orientation written with it gets the upright picture back (1 writes
    // no Exif block).
    int orientation = 1;
    bool progressive = false;
};

// A YCbCr JPEG (chroma halved both ways, as cameras write) of an 8-bit
// picture. Returns 0, or 1 with error saying why.
int writeSyntheticJpeg(const std::string& path, const SyntheticPicture& picture, const JpegWriteOptions& options,
                       std::string* error = nullptr);

}  // namespace calivant
