#pragma once
// The display copy: a 24-bit version of the working image, scaled to fit the
// image window, that the window paints centred under the overlay. The working
// image itself is never resampled. The window owns the painting; what is here
// needs no display.

#include <cstdint>
#include <optional>

#include "image/target_image.h"

namespace calivant {

struct DisplaySize {
    std::int32_t width = 0;
    std::int32_t height = 0;
};

struct DisplayOrigin {
    std::int32_t x = 0;
    std::int32_t y = 0;
};

// The size at which image is shown in a client area of clientWidth x
// clientHeight pixels, less 8 * margin each way: it fills the available width
// or height and keeps the picture's aspect ratio. Nothing (the display copy
// stays as it is) when image has no width or height or is neither Rgb24 nor
// Rgb48. An area too small for one pixel gives 0 x 0: nothing is shown.
std::optional<DisplaySize> displaySizeFor(const TargetImage& image, std::int32_t clientWidth,
                                          std::int32_t clientHeight, std::int32_t margin);

// Scales image to size into display, always as Rgb24 (48-bit images go
// through a temporary 48-bit copy at the display size and reduceTo24).
// Returns 1 when memory runs out, display then empty.
int buildDisplayImage(const TargetImage& image, DisplaySize size, TargetImage& display);

// Where the display copy's top-left pixel goes: centred in the client area.
DisplayOrigin displayOriginFor(DisplaySize size, std::int32_t clientWidth, std::int32_t clientHeight);

}  // namespace calivant
