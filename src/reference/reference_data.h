#pragma once
// The measured CIE values of every patch of the current target, as read from
// its reference file. Gray patches are stored darkest first (gray index 0 is
// Dmax); colour patches in the layout's colour order.

#include <array>
#include <cstdint>

#include "util/cie.h"
#include "target/target_layout.h"

namespace calivant {

// An X equal to this marks a patch that was not read; only X carries it.
inline constexpr double kReferenceMissing = -999.0;

struct ReferenceData {
    std::int32_t grayCount = 0;
    std::int32_t colorCount = 0;
    std::int32_t whiteCount = 0;
    std::int32_t midGrayCount = 0;
    std::int32_t blackCount = 0;
    // Sized for the largest chart; the first grayCount / colorCount are used.
    std::array<CieTriple, kMaxGrayPatches> grayXYZ{};
    std::array<CieTriple, kMaxGrayPatches> grayLab{};
    std::array<CieTriple, kMaxColorPatches> colorXYZ{};
    std::array<CieTriple, kMaxColorPatches> colorLab{};
};

}  // namespace calivant
