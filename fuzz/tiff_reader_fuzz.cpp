// Fuzzes the TIFF reader on arbitrary files: it must never read or write
// outside a buffer, leak, or hand back an image that breaks the record's
// rules; a failure must leave the image empty and say why.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "image/byte_source.h"
#include "image/target_image.h"
#include "image/tiff_reader.h"
#include "image/tiff_view.h"
#include "image/transforms.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace calivant;
    MemoryByteSource source(std::span<const std::uint8_t>(data, size));
    TargetImage image;
    TiffProblem problem = TiffProblem::None;
    std::string reason;
    // A picture viewed in place is one the reader reads, pixel for pixel;
    // so is one read on several threads and turned while read.
    const PictureTurn turn{static_cast<int>(size % 4), size % 3 == 0};
    TiffView view;
    const bool viewed = view.open(std::span<const std::uint8_t>(data, size), turn) == 0;
    TargetImage turned;
    TiffProblem turnedProblem = TiffProblem::None;
    readTiffImage(source, turned, turnedProblem, {turn, 3});
    if (readTiffImage(source, image, problem, reason) != 0) {
        if (!image.rows.empty() || image.format != PixelFormat::None || image.width != 0) std::abort();
        if (reason.empty()) std::abort();
        if (viewed || turnedProblem != problem) std::abort();
        return 0;
    }
    if (turnedProblem != TiffProblem::None) std::abort();
    if (viewed) {
        const ImagePixels pixels(turned);
        if (view.width() != pixels.width() || view.height() != pixels.height()) std::abort();
        for (std::int32_t y = 0; y < view.height(); ++y)
            for (std::int32_t x = 0; x < view.width(); ++x)
                if (view.pixel(x, y) != pixels.pixel(x, y)) std::abort();
    }
    if (problem != TiffProblem::None) std::abort();
    if (image.width < 1 || image.height < 1 || image.rows.size() != static_cast<std::size_t>(image.height)) std::abort();
    if (image.stride < rowBytesFor(image.format, image.width) || image.stride % 4 != 0) std::abort();
    // Touch every byte of every row so that a row pointing outside its
    // block shows up under AddressSanitizer.
    unsigned sum = 0;
    for (const std::uint8_t* row : image.rows)
        for (std::int32_t i = 0; i < image.stride; ++i) sum += row[i];
    volatile unsigned keep = sum;
    (void)keep;
    return 0;
}
