#pragma once
// Pictures, TIFF files written from them with libtiff (the oracle for what a
// TIFF file means), hand-built TIFF files for the cases libtiff will not
// write, and pixel access to TargetImage written independently of the
// reader and the transforms.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "image/target_image.h"

namespace calivant::testing {

// A picture as a TIFF file stores it: rows top first, samples in file order
// (red, green, blue[, alpha]) at their file bit depth.
struct Picture {
    std::int32_t width = 0;
    std::int32_t height = 0;
    int samples = 3;
    int bits = 8;
    std::vector<std::uint16_t> values;  // width * height * samples

    std::uint16_t at(std::int32_t fileRow, std::int32_t column, int sample) const {
        return values[(static_cast<std::size_t>(fileRow) * width + column) * samples + sample];
    }
};

// Deterministic content: smooth ramps with noise and a flat band, so LZW
// finds both repeats and novelty.
Picture makePicture(std::int32_t width, std::int32_t height, int samples, int bits, std::uint32_t seed = 1);

struct TiffOptions {
    bool bigEndian = false;
    int compression = 1;  // 1 none, 5 LZW
    int predictor = 1;
    std::uint32_t rowsPerStrip = 0;  // 0: one strip
    int photometric = -1;  // -1: RGB or BlackIsZero by samples
    int orientation = 1;
    bool resolutionInCentimetres = false;
    bool writeResolution = true;
    int sampleFormat = 1;        // 1 unsigned, 2 signed, 3 floating point
    std::uint32_t tileWidth = 0;  // with tileLength: tiles instead of strips
    std::uint32_t tileLength = 0;
};

// Writes picture with libtiff; returns the file's bytes (the file is removed).
std::string writeWithLibtiff(const std::filesystem::path& folder, const Picture& picture,
                             const TiffOptions& options = {});

// The sample of a TargetImage pixel that file sample `sample` (0 red or
// gray, 1 green, 2 blue) went to, as a number: 0/1 for Bilevel, 0..255 for
// 8-bit formats, 0..65535 for 16-bit ones.
std::uint16_t imageSample(const TargetImage& image, std::int32_t column, std::int32_t row, int sample);

// Compares image with picture as a TIFF reader must deliver it: turned
// upright by orientation, row 0 at the bottom, 4-bit samples widened by 17,
// complemented when inverted. Reports the first mismatch.
::testing::AssertionResult imageShowsPicture(const TargetImage& image, const Picture& picture, int orientation = 1,
                                             bool inverted = false);

// Builds TIFF files entry by entry, in the order given, for the layouts
// libtiff refuses to write. Pixel data starts at kDataStart; the directory
// follows it, and values that do not fit an entry follow the directory.
class TiffBuilder {
public:
    static constexpr std::uint32_t kDataStart = 8;

    explicit TiffBuilder(bool littleEndian = true) : littleEndian_(littleEndian) {}

    TiffBuilder& data(const std::vector<std::uint8_t>& bytes);
    // Adds an entry with its values (SHORT, LONG or BYTE by type).
    TiffBuilder& entry(std::uint16_t tag, std::uint16_t type, const std::vector<std::uint32_t>& values);
    // Adds a RATIONAL entry.
    TiffBuilder& rational(std::uint16_t tag, std::int32_t numerator, std::int32_t denominator);
    std::vector<std::uint8_t> build() const;

private:
    struct Entry {
        std::uint16_t tag;
        std::uint16_t type;
        std::uint32_t count;
        std::vector<std::uint8_t> bytes;
    };
    void put16(std::vector<std::uint8_t>& out, std::uint32_t v) const;
    void put32(std::vector<std::uint8_t>& out, std::uint32_t v) const;

    bool littleEndian_;
    std::vector<std::uint8_t> data_;
    std::vector<Entry> entries_;
};

// A minimal uncompressed 8-bit RGB file of width x height with the given
// pixel bytes (red, green, blue, rows top first) in one strip.
TiffBuilder rgbFile(std::int32_t width, std::int32_t height, const std::vector<std::uint8_t>& pixels);

// Finds an entry's 12 bytes in a classic TIFF file (nullptr when absent), so
// a file written by libtiff can be damaged in one place.
std::uint8_t* findEntry(std::string& file, std::uint16_t tag);
// Reads or replaces the value field of an entry (count 1 values).
void setEntryValue(std::string& file, std::uint16_t tag, std::uint32_t value);
// Value n of an entry's array (SHORT or LONG), wherever it lies.
std::uint32_t entryArrayValue(const std::string& file, std::uint16_t tag, std::uint32_t n);
void setEntryArrayValue(std::string& file, std::uint16_t tag, std::uint32_t n, std::uint32_t value);

}  // namespace calivant::testing
