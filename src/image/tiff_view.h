#pragma once
// A TIFF file's picture read where it lies: the file is mapped into memory
// and every pixel asked for is taken from its strip or tile, through the
// file's orientation and any turn asked for after it, with the values the
// image reader would have stored. Nothing of the raster's size is
// allocated, and only the pages of the file holding pixels asked for are
// read.
//
// Only files whose pixels can be found without decoding anything before
// them are viewed: uncompressed 24- or 48-bit RGB (RGBA: alpha ignored)
// without the predictor. For every other file, and for a file the reader
// would refuse, open fails and the caller reads the image whole, which
// then says what is wrong.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>

#include "image/orientation.h"
#include "image/pixel_source.h"

namespace calivant {

class TiffView final : public PixelSource {
public:
    TiffView();
    ~TiffView() override;
    TiffView(const TiffView&) = delete;
    TiffView& operator=(const TiffView&) = delete;

    // Returns 0 when the file's picture can be read in place, else 1.
    int open(const std::filesystem::path& file, const PictureTurn& turn = {});
    // The same for a file's bytes in memory, which the caller keeps alive.
    int open(std::span<const std::uint8_t> bytes, const PictureTurn& turn = {});

    PixelRgb pixel(std::int32_t x, std::int32_t y) const override;
    // The mapped file lost pages under the reader (see MappedFile).
    bool changedWhileRead() const override;

    // Pixels per inch, as the image reader gives it.
    double resolution() const { return resolution_; }

private:
    struct Layout;
    int openLayout(std::unique_ptr<Layout> layout, const PictureTurn& turn);
    std::unique_ptr<Layout> layout_;
    double resolution_ = 0.0;
};

}  // namespace calivant
