#pragma once
// What the first directory of a TIFF file says about its raster, read and
// checked: the shared front half of the image reader and of the in-place
// view. Internal to the image folder.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "image/byte_source.h"
#include "image/chunk_decoders.h"
#include "image/raster_rows.h"
#include "image/target_image.h"
#include "image/tiff_reader.h"

namespace calivant {

// File data is read in calls of at most this many bytes: one block's worth
// of rows. Every call is a system call; in 8192-byte calls a 6000-pixel
// 48-bit scan took several percent longer, enough to fall behind libtiff.
inline constexpr std::size_t kReadPieceBytes = kMaxBlockBytes;

// What the directory says, with the defaults of a file that says nothing.
struct TiffLayout {
    bool littleEndian = true;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t bits = 1;
    PixelFormat format = PixelFormat::Bilevel;
    std::uint32_t samples = 1;
    std::uint32_t compression = kCompressionNone;
    bool predictor = false;
    bool inverted = false;
    // PhotometricInterpretation 6: only JPEG data is read in YCbCr, which
    // libjpeg turns into RGB.
    bool ycbcr = false;
    // The tables shared by every JPEG strip or tile (JPEGTables), a JPEG
    // stream of their own.
    std::optional<std::vector<std::uint8_t>> jpegTables;
    std::optional<std::uint32_t> rowsPerStrip;
    std::uint32_t stripCount = 1;
    std::optional<std::vector<std::uint32_t>> offsets;
    std::optional<std::vector<std::uint32_t>> byteCounts;
    // A tile size makes the file tiled; its strip tags then mean nothing.
    std::optional<std::uint32_t> tileWidth;
    std::optional<std::uint32_t> tileLength;
    std::optional<std::vector<std::uint32_t>> tileOffsets;
    std::optional<std::vector<std::uint32_t>> tileByteCounts;
    double xResolution = kDefaultResolution;
    double unitDivisor = 1.0;
    std::uint32_t orientation = 1;

    // For the words of a refusal: the value of the entry refused (for bits
    // per sample the bits, 0 when the samples' bits differ), and the first
    // sample format other than unsigned integers.
    std::uint32_t refusedValue = 0;
    std::uint32_t sampleFormat = 1;

    bool tiled() const { return tileWidth || tileLength; }
};

// The pieces the file stores its pixels in, strips or tiles, counted left
// to right and then top to bottom. A strip is a tile as wide as the image.
// Tiles at the right and bottom edges reach past the image; their rows are
// stored at full tile width.
struct ChunkGrid {
    std::uint32_t width = 0;   // pixels of one stored row
    std::uint32_t length = 0;  // rows of a whole chunk
    std::uint64_t across = 0;
    std::uint64_t count = 0;
    const std::vector<std::uint32_t>* offsets = nullptr;
    const std::vector<std::uint32_t>* byteCounts = nullptr;
};


// A directory whose raster passed every check: sizes, layout, and strips or
// tiles that the file's bytes can fill. Not copied: the grid points into the
// layout.
struct TiffRaster {
    TiffLayout layout;
    ChunkGrid grid;
    // Bytes of one stored row of a chunk (a whole tile row for tiles).
    std::uint64_t fileRowBytes = 0;
    // Rows read or decoded at once: at most a block's worth.
    std::size_t rowsPerRead = 0;

    bool lzw() const { return layout.compression == kCompressionLzw; }
    bool jpeg() const { return layout.compression == kCompressionJpeg; }
    bool compressed() const { return layout.compression != kCompressionNone; }

    TiffRaster() = default;
    TiffRaster(const TiffRaster&) = delete;
    TiffRaster& operator=(const TiffRaster&) = delete;
};

// Reads the directory and checks the raster; nothing of the raster's size
// is allocated, and rasters above maxRasterBytes are refused. None when
// the pixels can be read.
TiffProblem readTiffRaster(ByteSource& file, TiffRaster& raster, std::int64_t maxRasterBytes = kMaxRasterBytes);

// The first directory of TIFF data as it stands: its byte order and its
// entries, 12 bytes each (tag, type, count, value or offset). Also serves
// the TIFF data inside a JPEG's Exif block.
struct TiffDirectory {
    bool littleEndian = true;
    std::vector<std::uint8_t> entries;
};
TiffProblem readTiffDirectory(ByteSource& file, TiffDirectory& directory);
inline constexpr std::size_t kTiffEntryBytes = 12;

// Reads exactly count bytes at offset through readAt; 1 when the file ends sooner.
int readExactlyAt(const ByteSource& file, std::uint64_t offset, std::uint8_t* buffer, std::size_t count);

}  // namespace calivant
