#pragma once
// The record of one run of the program: the user's choices, what has been
// read and what has been computed. One exists per window or batch job; it is
// passed by reference and never copied.

#include <string>

#include "image/display_image.h"
#include "image/target_image.h"
#include "measure/patch_measurement.h"
#include "profile/profile_result.h"
#include "reference/reference_data.h"
#include "shell/advanced_options.h"
#include "target/overlay.h"
#include "target/target_layout.h"

namespace calivant {

class Platform;

// Byte caps of the texts typed by the user; they end up in fixed-size
// profile tags.
inline constexpr std::size_t kMaxDescriptionLength = 338;
inline constexpr std::size_t kMaxCopyrightLength = 338;
// Longest folder path kept in the settings (PATH_MAX less its terminator).
inline constexpr std::size_t kMaxPathLength = 4095;

struct ScanSession {
    explicit ScanSession(Platform& p) : platform(p) {}
    ScanSession(const ScanSession&) = delete;
    ScanSession& operator=(const ScanSession&) = delete;

    // Where messages, cursor changes and the clock come from.
    Platform& platform;

    // --- Settings (persisted by shell/settings) ---
    int targetType = static_cast<int>(TargetType::It8);
    int reflective = 1;
    std::string description;  // never persisted
    std::string copyright;
    std::string lastTargetFolder;
    std::string lastReferenceFolder;
    std::string lastLogFolder;
    // Folder of the program's shipped data (reference files, manual).
    std::string programFolder;
    AdvancedOptions options;

    // --- Target layout, overlay and reference ---
    // The layout of targetType, made current by resetOverlay on every change
    // of target type so that patch counts and cells always agree.
    TargetLayout targetLayout;
    // Where the user placed the chart in the target image.
    OverlayQuad overlay;
    // Patches the quality checks marked bad: per colour index, per position
    // in targetLayout.grayCells.
    ColorBadFlags colorBad{};
    GrayBadFlags grayBad{};
    // Valid only after readReferenceFile returned 0.
    ReferenceData reference;

    // --- Target image ---
    // The working image the patches are measured in: Rgb24 or Rgb48 once
    // accepted by the setup page, upright as the user turned it.
    TargetImage image;
    // Its scaled 24-bit copy painted by the image window, and the size and
    // window position it was last shown at.
    TargetImage displayImage;
    std::int32_t displayWidth = 0;
    std::int32_t displayHeight = 0;
    DisplayOrigin displayOrigin;

    // --- Setup state ---
    // 1 once a usable 24-bit or 48-bit target image, respectively a complete
    // reference file for the current target type, has been read.
    int imageReady = 0;
    int referenceReady = 0;

    // --- Patch measurement ---
    // Gray arrays are in gray order (index 0 darkest) except the deviations,
    // which, like grayBad, follow the layout's gray cells.
    std::array<DeviceRgb, kMaxGrayPatches> grayMeasured{};
    std::array<DeviceRgb, kMaxColorPatches> colorMeasured{};
    std::array<double, kMaxGrayPatches> grayDeviation{};
    std::array<double, kMaxColorPatches> colorDeviation{};
    std::array<DeviceRgb, kMaxBorderPatches> whiteMeasured{};
    std::array<DeviceRgb, kMaxBorderPatches> midGrayMeasured{};
    std::array<DeviceRgb, kMaxBorderPatches> blackMeasured{};
    // What the profile computation reads: the measured values, contrast
    // stretched when that option is on.
    std::array<DeviceRgb, kMaxGrayPatches> grayWorking{};
    std::array<DeviceRgb, kMaxColorPatches> colorWorking{};
    // Spread of the border groups (0 for charts without them).
    double whiteUniformity = 0.0;
    double midGrayUniformity = 0.0;
    double blackUniformity = 0.0;

    // --- Profile computation ---
    // Both passes' tables and the values of the pass that ran last.
    ProfileResult profile;
};

}  // namespace calivant
