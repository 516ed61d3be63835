#include "image/display_image.h"

#include <cassert>

#include "image/transforms.h"

namespace calivant {

std::optional<DisplaySize> displaySizeFor(const TargetImage& image, std::int32_t clientWidth,
                                          std::int32_t clientHeight, std::int32_t margin) {
    if (image.width < 1 || image.height < 1) return std::nullopt;
    if (image.format != PixelFormat::Rgb24 && image.format != PixelFormat::Rgb48) return std::nullopt;
    const std::int64_t availableWidth = std::int64_t{clientWidth} - 8 * std::int64_t{margin};
    const std::int64_t availableHeight = std::int64_t{clientHeight} - 8 * std::int64_t{margin};
    if (availableWidth < 1 || availableHeight < 1) return DisplaySize{};
    std::int64_t width = availableWidth;
    std::int64_t height = width * image.height / image.width;
    if (height > availableHeight) {
        height = availableHeight;
        width = height * image.width / image.height;
    }
    return DisplaySize{static_cast<std::int32_t>(width), static_cast<std::int32_t>(height)};
}

int buildDisplayImage(const TargetImage& image, DisplaySize size, TargetImage& display) {
    assert(&image != &display);
    if (image.format == PixelFormat::Rgb24) return scaleImage(image, display, size.width, size.height);
    assert(image.format == PixelFormat::Rgb48);
    TargetImage scaled;
    if (scaleImage(image, scaled, size.width, size.height) != 0) {
        freeImage(display);
        return 1;
    }
    if (scaled.rows.empty()) {
        freeImage(display);
        return 0;
    }
    if (reduceTo24(scaled, display) != 0) {
        freeImage(display);
        return 1;
    }
    return 0;
}

DisplayOrigin displayOriginFor(DisplaySize size, std::int32_t clientWidth, std::int32_t clientHeight) {
    return DisplayOrigin{(clientWidth - size.width) / 2, (clientHeight - size.height) / 2};
}

}  // namespace calivant
