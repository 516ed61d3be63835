// Fuzzes the chart locator on small pictures: it must never read outside
// the raster, crash or hang, and its answer must keep its own rules (a found
// chart has finite corners and enough confidence, a chart not found says why).
//
// Input: byte 0 the target type (mod 5); byte 1 flags (bit 0: 16-bit samples,
// bit 1: with a reference); bytes 2 and 3 the width and height less 16
// (mod 144); then the pixels, bottom row first, blue, green, red (16-bit
// samples low byte first), the bytes repeated when they run out.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "image/target_image.h"
#include "locate/chart_locator.h"
#include "reference/reference_data.h"
#include "target/target_layout.h"

namespace {

using namespace calivant;

constexpr std::size_t kHeader = 4;
constexpr int kMinSide = 16;
constexpr int kSideRange = 144;

struct Fixture {
    TargetLayout layouts[5];
    ReferenceData references[5];
    Fixture() {
        for (int type = 0; type < 5; ++type) {
            layouts[type] = makeTargetLayout(type);
            ReferenceData& r = references[type];
            r.grayCount = layouts[type].grayCount;
            r.colorCount = layouts[type].colorCount;
            // Any values will do: the fit must cope with every reference.
            for (int i = 0; i < r.grayCount; ++i) r.grayLab[i] = {10.0 + 80.0 * i / r.grayCount, 0.0, 0.0};
            for (int i = 0; i < r.colorCount; ++i) r.colorLab[i] = {30.0 + i % 50, (i * 37) % 120 - 60.0, (i * 53) % 120 - 60.0};
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const Fixture fixture;
    if (size < kHeader) return 0;
    const int type = data[0] % 5;
    const bool wide = (data[1] & 1) != 0;
    const bool withReference = (data[1] & 2) != 0;
    const int width = kMinSide + data[2] % kSideRange;
    const int height = kMinSide + data[3] % kSideRange;
    TargetImage image;
    if (allocateImage(image, wide ? PixelFormat::Rgb48 : PixelFormat::Rgb24, width, height, 300.0) != 0) std::abort();
    const std::uint8_t* pixels = data + kHeader;
    const std::size_t available = size - kHeader;
    std::size_t next = 0;
    const std::size_t rowBytes = static_cast<std::size_t>(rowBytesFor(image.format, width));
    for (std::uint8_t* row : image.rows)
        for (std::size_t i = 0; i < rowBytes; ++i) {
            row[i] = available > 0 ? pixels[next % available] : 0;
            ++next;
        }

    const ChartLocation location =
        locateChart(image, fixture.layouts[type], withReference ? &fixture.references[type] : nullptr);
    if (!(location.confidence >= 0.0 && location.confidence <= 1.0)) std::abort();
    if (location.found) {
        if (location.confidence < kMinChartConfidence || !location.reason.empty()) std::abort();
        for (const ImagePoint& c : location.quad.corners)
            if (!std::isfinite(c.x) || !std::isfinite(c.y)) std::abort();
    } else if (location.reason.empty() || location.confidence >= kMinChartConfidence) {
        std::abort();
    }
    return 0;
}
