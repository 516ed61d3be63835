#pragma once
// Checks of the target image after measuring: non-uniform patches, gray
// patches out of brightness order, and uneven lighting seen in the border
// patches that some charts repeat around their edge.

#include <span>
#include <string_view>

#include "measure/patch_measurement.h"
#include "target/target_layout.h"
#include "util/diagnostics.h"

namespace calivant {

// A patch or border group whose spread exceeds this (on the 0..1 scale of
// the means) is reported.
inline constexpr double kUniformityThreshold = 0.05;

inline constexpr std::string_view kNonUniformError =
    "Some gray or color patches are non-uniform.\nBad patches will be identified with an X when you click OK.";
inline constexpr std::string_view kNonUniformWarning = "Some gray or color patches are non-uniform.";
inline constexpr std::string_view kGrayOrderQuestion =
    "One of more gray patches not in increasing brightness order.\nTarget lighting may be uneven.\n"
    "Click OK to continue or Cancel to abort.";
inline constexpr std::string_view kGrayOrderWarning =
    "One of more gray patches not in increasing brightness order.\nTarget lighting may be uneven.";
inline constexpr std::string_view kIlluminationMessage = "Nonuniform target illumination detected";

// Counts the gray and colour patches whose deviation exceeds the threshold
// (marking them bad in Compute mode) and reports them. Returns 1 when any
// was found.
int checkUniformity(TargetMeasurement& m, const TargetLayout& layout, MeasureMode mode, Diagnostics& diagnostics);

// One pass over the measured gray scale per channel, swapping each
// neighbour pair that falls in brightness. Returns 1 when it changed
// anything.
int checkGrayOrder(TargetMeasurement& m, int grayCount);
// The same pass over gray values in gray order.
int checkGrayOrder(std::span<DeviceRgb> gray);

// Spread of the white, mid-gray and black border groups; reports one above
// the threshold. Returns 1 when it reported a problem.
int checkIllumination(TargetMeasurement& m, const TargetLayout& layout, MeasureMode mode, Diagnostics& diagnostics);

}  // namespace calivant
