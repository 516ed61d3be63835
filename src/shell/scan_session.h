#pragma once
// The record of one run of the program: the user's choices, what has been
// read and what has been computed. One exists per window or batch job; it is
// passed by reference and never copied.

#include <string>

#include "image/display_image.h"
#include "image/picture_reader.h"
#include "image/target_image.h"
#include "measure/patch_measurement.h"
#include "measure/advanced_options.h"
#include "output/icc_profile.h"
#include "output/profile_record.h"
#include "profile/profile_result.h"
#include "reference/reference_data.h"
#include "target/overlay.h"
#include "target/target_layout.h"
#include "util/diagnostics.h"

namespace calivant {

class Platform;

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
    // Valid only after readReferenceFile returned 0.
    ReferenceData reference;
    // The files the image and the reference were read from (empty when none
    // is ready): messages name them, and saving never writes over them.
    std::string imageFile;
    std::string referenceFile;

    // --- Target image ---
    // The working image the patches are measured in: Rgb24 or Rgb48 once
    // accepted by the setup page, upright as the user turned it.
    TargetImage image;
    // The kind of file it was read from: a JPEG is said to be one wherever
    // the profile's quality is shown.
    PictureKind imageKind = PictureKind::Unknown;
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
    // The last measurement, with the patches its checks marked bad (per
    // colour index, per position in targetLayout.grayCells).
    TargetMeasurement measurement;

    // --- Profile computation ---
    // The last successful computation: both passes' tables and the values
    // of the colorimetric pass.
    ProfileResult profile;
};

// After loading an image, changing the target type or creating the setup
// page: resets the overlay to the image, makes the layout of the session's
// targetType current and clears the bad-patch marks. Calling it on every
// change of target type keeps the layout's counts and cells in step.
void resetOverlay(ScanSession& session, int imageWidth, int imageHeight);

// Everything the overlay shows for the session's chart and marks.
std::vector<WindowSegment> overlaySegments(const ScanSession& session, const DisplayPlacement& placement);

// The session's last computation as the profile and log writers read it.
ProfileRecord profileRecordOf(const ScanSession& session);

// Shows each diagnostic in order: errors and warnings in their boxes.
void presentDiagnostics(Platform& platform, const Diagnostics& diagnostics);

}  // namespace calivant
