#include "tiff_read_back.h"

#include <cstring>
#include <memory>

#include <tiffio.h>

namespace calivant::testing {
namespace {

Raster mirrored(const Raster& r) {
    Raster out = r;
    for (int row = 0; row < r.height; ++row)
        for (int column = 0; column < r.width; ++column)
            for (int c = 0; c < 3; ++c)
                out.samples[(static_cast<std::size_t>(row) * r.width + column) * 3 + c] =
                    r.at(r.width - 1 - column, row, c);
    return out;
}

Raster flipped(const Raster& r) {
    Raster out = r;
    for (int row = 0; row < r.height; ++row)
        for (int column = 0; column < r.width; ++column)
            for (int c = 0; c < 3; ++c)
                out.samples[(static_cast<std::size_t>(row) * r.width + column) * 3 + c] =
                    r.at(column, r.height - 1 - row, c);
    return out;
}

// Rows become columns: the first row the left column, read downward.
Raster transposed(const Raster& r) {
    Raster out;
    out.width = r.height;
    out.height = r.width;
    out.samples.resize(r.samples.size());
    for (int row = 0; row < out.height; ++row)
        for (int column = 0; column < out.width; ++column)
            for (int c = 0; c < 3; ++c)
                out.samples[(static_cast<std::size_t>(row) * out.width + column) * 3 + c] = r.at(row, column, c);
    return out;
}

}  // namespace

bool readTiffFile(const std::string& path, TiffFile& file) {
    std::unique_ptr<TIFF, void (*)(TIFF*)> tif(TIFFOpen(path.c_str(), "r"), TIFFClose);
    if (!tif) return false;
    TIFF* t = tif.get();
    std::uint32_t width = 0, height = 0, rowsPerStrip = 0;
    std::uint16_t bits = 0, spp = 0, orientation = 0, compression = 0, predictor = 0;
    if (!TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(t, TIFFTAG_IMAGELENGTH, &height)) return false;
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(t, TIFFTAG_ORIENTATION, &orientation);
    TIFFGetFieldDefaulted(t, TIFFTAG_COMPRESSION, &compression);
    predictor = 1;
    if (compression != COMPRESSION_NONE) TIFFGetFieldDefaulted(t, TIFFTAG_PREDICTOR, &predictor);
    TIFFGetFieldDefaulted(t, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    if ((bits != 8 && bits != 16) || spp < 3) return false;
    file.bitsPerSample = bits;
    file.samplesPerPixel = spp;
    file.orientation = orientation;
    file.compression = compression;
    file.predictor = predictor;
    file.rowsPerStrip = static_cast<int>(rowsPerStrip);
    file.strips = static_cast<int>(TIFFNumberOfStrips(t));
    file.bigEndian = TIFFIsBigEndian(t) != 0;
    file.stored.width = static_cast<int>(width);
    file.stored.height = static_cast<int>(height);
    file.stored.samples.assign(static_cast<std::size_t>(width) * height * 3, 0);
    std::vector<std::uint8_t> line(static_cast<std::size_t>(TIFFScanlineSize(t)));
    for (std::uint32_t row = 0; row < height; ++row) {
        if (TIFFReadScanline(t, line.data(), row, 0) < 0) return false;
        for (std::uint32_t column = 0; column < width; ++column)
            for (int c = 0; c < 3; ++c) {
                const std::size_t at = static_cast<std::size_t>(column) * spp + c;
                std::uint16_t value = 0;
                if (bits == 8) value = line[at];
                else std::memcpy(&value, line.data() + 2 * at, 2);  // libtiff gives native order
                file.stored.samples[(static_cast<std::size_t>(row) * width + column) * 3 + c] = value;
            }
    }
    return true;
}

Raster uprightRaster(const Raster& stored, int orientation) {
    switch (orientation) {
        case 2: return mirrored(stored);
        case 3: return flipped(mirrored(stored));  // a half turn
        case 4: return flipped(stored);
        case 5: return transposed(stored);
        case 6: return mirrored(transposed(stored));  // a quarter turn clockwise
        case 7: return flipped(mirrored(transposed(stored)));
        case 8: return flipped(transposed(stored));  // a quarter turn counter-clockwise
        default: return stored;
    }
}

}  // namespace calivant::testing
