// Fuzzes the TIFF reader on arbitrary files: it must never read or write
// outside a buffer, leak, or hand back an image that breaks the record's
// rules; a failure must leave the image empty and say why.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "image/byte_source.h"
#include "image/target_image.h"
#include "image/tiff_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace calivant;
    MemoryByteSource source(std::span<const std::uint8_t>(data, size));
    TargetImage image;
    TiffProblem problem = TiffProblem::None;
    if (readTiffImage(source, image, problem) != 0) {
        if (!image.rows.empty() || image.format != PixelFormat::None || image.width != 0) std::abort();
        if (tiffProblemText(problem).empty()) std::abort();
        return 0;
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
