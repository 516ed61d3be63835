#include "image/tiff_view.h"

#include "image/tiff_raster.h"
#include "util/mapped_file.h"

namespace calivant {

struct TiffView::Layout {
    MappedFile file;
    std::span<const std::uint8_t> bytes;  // the mapped file's, or the caller's
    TiffRaster raster;
    Orientation orientation;
    bool tiled = false;
    bool wide = false;  // 16-bit samples
    bool bigEndian = false;
    bool inverted = false;
    std::size_t pixelBytes = 0;
};

TiffView::TiffView() = default;
TiffView::~TiffView() = default;

int TiffView::open(const std::filesystem::path& file, const PictureTurn& turn) {
    auto layout = std::make_unique<Layout>();
    if (layout->file.open(file) != 0) return 1;
    layout->bytes = layout->file.bytes();
    return openLayout(std::move(layout), turn);
}

int TiffView::open(std::span<const std::uint8_t> bytes, const PictureTurn& turn) {
    auto layout = std::make_unique<Layout>();
    layout->bytes = bytes;
    return openLayout(std::move(layout), turn);
}

int TiffView::openLayout(std::unique_ptr<Layout> layout, const PictureTurn& turn) {
    MemoryByteSource bytes(layout->bytes);
    if (readTiffRaster(bytes, layout->raster) != TiffProblem::None) return 1;
    const TiffLayout& t = layout->raster.layout;
    if (t.compression != kCompressionNone || t.predictor) return 1;
    if (t.format != PixelFormat::Rgb24 && t.format != PixelFormat::Rgb48) return 1;

    layout->orientation = afterTurn(orientationOfTag(t.orientation), turn);
    layout->tiled = t.tiled();
    layout->wide = t.format == PixelFormat::Rgb48;
    layout->bigEndian = !t.littleEndian;
    layout->inverted = t.inverted;
    layout->pixelBytes = std::size_t{t.samples} * (layout->wide ? 2 : 1);
    const bool exchange = layout->orientation.transpose;
    format_ = t.format;
    width_ = static_cast<std::int32_t>(exchange ? t.height : t.width);
    height_ = static_cast<std::int32_t>(exchange ? t.width : t.height);
    resolution_ = t.xResolution / t.unitDivisor;
    layout_ = std::move(layout);
    return 0;
}

bool TiffView::changedWhileRead() const { return layout_ && layout_->file.changed(); }

PixelRgb TiffView::pixel(std::int32_t x, std::int32_t y) const {
    const Layout& l = *layout_;
    const ChunkGrid& grid = l.raster.grid;
    // Back from the upright picture (row 0 at the bottom) to the stored
    // column and row (from the top).
    const auto a = static_cast<std::uint32_t>(l.orientation.flipX ? width_ - 1 - x : x);
    const auto b = static_cast<std::uint32_t>(l.orientation.flipY ? y : height_ - 1 - y);
    const std::uint32_t column = l.orientation.transpose ? b : a;
    const std::uint32_t row = l.orientation.transpose ? a : b;

    const std::uint32_t chunkRow = row / grid.length;
    std::uint64_t chunk = chunkRow;
    std::uint32_t chunkColumn = column;
    if (l.tiled) {
        const std::uint32_t across = column / grid.width;
        chunk = chunkRow * grid.across + across;
        chunkColumn = column - across * grid.width;
    }
    // The raster checks made sure every chunk's rows lie within the file.
    const std::uint8_t* p = l.bytes.data() + (*grid.offsets)[chunk] +
                            std::uint64_t{row - chunkRow * grid.length} * l.raster.fileRowBytes +
                            std::uint64_t{chunkColumn} * l.pixelBytes;
    PixelRgb rgb;
    if (l.wide) {
        rgb = {static_cast<int>(load16(p, l.bigEndian)), static_cast<int>(load16(p + 2, l.bigEndian)),
               static_cast<int>(load16(p + 4, l.bigEndian))};
        if (l.inverted)
            for (int& v : rgb) v = 65535 - v;
    } else {
        rgb = {p[0], p[1], p[2]};
        if (l.inverted)
            for (int& v : rgb) v = 255 - v;
    }
    return rgb;
}

}  // namespace calivant
