#include "make-target/synthetic_tiff.h"

#include <cstdint>
#include <memory>
#include <vector>

#include <tiffio.h>

namespace calivant {
namespace {

bool fail(std::string* error, const std::string& message) {
    if (error) *error = message;
    return false;
}

bool checkOptions(const SyntheticPicture& picture, const TiffWriteOptions& o, std::string* error) {
    if (o.orientation < 1 || o.orientation > 8) return fail(error, "orientation must lie in 1..8");
    const int c = o.compression;
    if (c != kTiffCompressionNone && c != kTiffCompressionLzw && c != kTiffCompressionDeflate &&
        c != kTiffCompressionPackBits && c != kTiffCompressionJpeg)
        return fail(error, "compression must be none, LZW, Deflate, PackBits or JPEG");
    if (o.predictor && c != kTiffCompressionLzw && c != kTiffCompressionDeflate)
        return fail(error, "the predictor needs LZW or Deflate");
    if (c == kTiffCompressionJpeg && (picture.bitsPerSample != 8 || o.alpha))
        return fail(error, "JPEG takes 8-bit RGB pictures only");
    if (o.jpegQuality < 1 || o.jpegQuality > 100) return fail(error, "JPEG quality must lie in 1..100");
    if (o.rowsPerStrip < 0) return fail(error, "rows per strip must be 0 or more");
    if (!(o.resolution > 0.0)) return fail(error, "resolution must be positive");
    if (picture.bitsPerSample != 8 && picture.bitsPerSample != 16) return fail(error, "bits per sample must be 8 or 16");
    if (picture.width <= 0 || picture.height <= 0 ||
        picture.samples.size() != static_cast<std::size_t>(picture.width) * picture.height * 3)
        return fail(error, "picture is empty or its samples do not match its size");
    return true;
}

// Closes the file on every path.
struct TiffCloser {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};

}  // namespace

void storedSize(int orientation, int uprightWidth, int uprightHeight, int& storedWidth, int& storedHeight) {
    const bool transposed = orientation >= 5;
    storedWidth = transposed ? uprightHeight : uprightWidth;
    storedHeight = transposed ? uprightWidth : uprightHeight;
}

// The tag names where the stored row 0 and column 0 lie in the upright
// picture: 1 top/left, 2 top/right, 3 bottom/right, 4 bottom/left, 5 left/top,
// 6 right/top, 7 right/bottom, 8 left/bottom.
void uprightPosition(int orientation, int uprightWidth, int uprightHeight, int storedColumn, int storedRow,
                     int& uprightColumn, int& uprightRow) {
    const int lastColumn = uprightWidth - 1;
    const int lastRow = uprightHeight - 1;
    switch (orientation) {
        case 2: uprightColumn = lastColumn - storedColumn; uprightRow = storedRow; break;
        case 3: uprightColumn = lastColumn - storedColumn; uprightRow = lastRow - storedRow; break;
        case 4: uprightColumn = storedColumn; uprightRow = lastRow - storedRow; break;
        case 5: uprightColumn = storedRow; uprightRow = storedColumn; break;
        case 6: uprightColumn = lastColumn - storedRow; uprightRow = storedColumn; break;
        case 7: uprightColumn = lastColumn - storedRow; uprightRow = lastRow - storedColumn; break;
        case 8: uprightColumn = storedRow; uprightRow = lastRow - storedColumn; break;
        default: uprightColumn = storedColumn; uprightRow = storedRow; break;
    }
}

int writeSyntheticTiff(const std::string& path, const SyntheticPicture& picture, const TiffWriteOptions& options,
                       std::string* error) {
    if (!checkOptions(picture, options, error)) return 1;
    int storedWidth = 0;
    int storedHeight = 0;
    storedSize(options.orientation, picture.width, picture.height, storedWidth, storedHeight);
    const int samplesPerPixel = options.alpha ? 4 : 3;

    std::unique_ptr<TIFF, TiffCloser> tif(TIFFOpen(path.c_str(), options.bigEndian ? "wb" : "wl"));
    if (!tif) {
        fail(error, "cannot create " + path);
        return 1;
    }
    TIFF* t = tif.get();
    // JPEG data is stored as YCbCr; libtiff converts the RGB rows given.
    const bool jpeg = options.compression == kTiffCompressionJpeg;
    bool ok = TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(storedWidth)) &&
              TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(storedHeight)) &&
              TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, picture.bitsPerSample) &&
              TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, samplesPerPixel) &&
              TIFFSetField(t, TIFFTAG_PHOTOMETRIC, jpeg ? PHOTOMETRIC_YCBCR : PHOTOMETRIC_RGB) &&
              TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
              TIFFSetField(t, TIFFTAG_COMPRESSION, options.compression) &&
              TIFFSetField(t, TIFFTAG_ORIENTATION, options.orientation) &&
              TIFFSetField(t, TIFFTAG_XRESOLUTION, options.resolution) &&
              TIFFSetField(t, TIFFTAG_YRESOLUTION, options.resolution) &&
              TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    if (ok && options.alpha) {
        const std::uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
        ok = TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    if (ok && options.predictor) ok = TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    if (ok && jpeg)
        ok = TIFFSetField(t, TIFFTAG_JPEGQUALITY, options.jpegQuality) &&
             TIFFSetField(t, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    if (ok) {
        const std::uint32_t rows = TIFFDefaultStripSize(t, static_cast<std::uint32_t>(options.rowsPerStrip));
        ok = TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rows);
    }
    if (!ok) {
        fail(error, "cannot set the TIFF tags of " + path);
        return 1;
    }

    const std::size_t rowSamples = static_cast<std::size_t>(storedWidth) * samplesPerPixel;
    const std::uint16_t opaque = picture.bitsPerSample == 8 ? 255 : 65535;
    std::vector<std::uint8_t> row8(picture.bitsPerSample == 8 ? rowSamples : 0);
    std::vector<std::uint16_t> row16(picture.bitsPerSample == 16 ? rowSamples : 0);
    for (int storedRow = 0; storedRow < storedHeight; ++storedRow) {
        for (int storedColumn = 0; storedColumn < storedWidth; ++storedColumn) {
            int column = 0;
            int row = 0;
            uprightPosition(options.orientation, picture.width, picture.height, storedColumn, storedRow, column, row);
            const std::size_t at = static_cast<std::size_t>(storedColumn) * samplesPerPixel;
            for (int c = 0; c < samplesPerPixel; ++c) {
                const std::uint16_t value = c < 3 ? picture.sample(column, row, c) : opaque;
                if (picture.bitsPerSample == 8) row8[at + c] = static_cast<std::uint8_t>(value);
                else row16[at + c] = value;
            }
        }
        void* data = picture.bitsPerSample == 8 ? static_cast<void*>(row8.data()) : static_cast<void*>(row16.data());
        if (TIFFWriteScanline(t, data, static_cast<std::uint32_t>(storedRow), 0) < 0) {
            fail(error, "cannot write " + path);
            return 1;
        }
    }
    if (!TIFFFlush(t)) {
        fail(error, "cannot write " + path);
        return 1;
    }
    return 0;
}

}  // namespace calivant
