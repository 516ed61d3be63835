#pragma once
// Reads the synthetic pictures back through libtiff, independently of the
// writer, and turns a stored raster upright by composing plain mirror, flip
// and transpose steps.

#include <cstdint>
#include <string>
#include <vector>

namespace calivant::testing {

// RGB samples, rows top first; any alpha sample is dropped.
struct Raster {
    int width = 0;
    int height = 0;
    std::vector<std::uint16_t> samples;

    std::uint16_t at(int column, int row, int channel) const {
        return samples[(static_cast<std::size_t>(row) * width + column) * 3 + channel];
    }
    bool operator==(const Raster&) const = default;
};

struct TiffFile {
    Raster stored;
    int bitsPerSample = 0;
    int samplesPerPixel = 0;
    int orientation = 0;
    int compression = 0;
    int predictor = 0;
    int rowsPerStrip = 0;
    int strips = 0;
    bool bigEndian = false;
};

// False when libtiff cannot read the file.
bool readTiffFile(const std::string& path, TiffFile& file);

// The upright picture a viewer shows for the stored raster and its orientation tag.
Raster uprightRaster(const Raster& stored, int orientation);

}  // namespace calivant::testing
