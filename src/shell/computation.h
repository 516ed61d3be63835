#pragma once
// The wizard's and the command line's way through the engine for the
// session: measure, ask what has to be asked, compute, and show every
// message on the session's platform in the order it arose.

#include <string_view>

#include "image/pixel_source.h"
#include "measure/patch_measurement.h"

namespace calivant {

struct ScanSession;

inline constexpr std::string_view kMissingDescriptionError = "You must enter a profile description";
// The wizard's second line of a question it asks before going on.
inline constexpr std::string_view kClickOkOrCancel = "Click OK to continue or Cancel to abort.";

// Measures the session's target when an image and a reference are ready and
// keeps the measurement (with its bad-patch marks) in the session. In Compute
// mode a gray scale out of order asks kGrayOrderQuestion; Cancel fails the
// measurement. Returns 0 when the target passed the checks, else 1 (also
// when there was nothing to measure).
int measureSession(ScanSession& session, MeasureMode mode);
// The same, measured in picture (the session's image read in place).
int measureSession(ScanSession& session, MeasureMode mode, const PixelSource& picture);

// The whole computation: the description, the measurement, both passes.
// On success the session holds the new profile. Returns 0, or 1 after the
// failing step's message.
int computeSessionProfile(ScanSession& session);
int computeSessionProfile(ScanSession& session, const PixelSource& picture);

// After measuring: refuses a gray scale that runs against the reference's,
// and asks whether to go on when the reference does not seem to belong to
// the chart. 0 to go on, 1 after the message (or the user's Cancel).
int refuseForeignReference(ScanSession& session);

// The contrast figures of the Advanced Options dialog: measured without
// marking patches; unavailable when the image or the reference is missing or
// the checks fail (their warnings have then been shown).
TargetContrast measureSessionContrast(ScanSession& session);

}  // namespace calivant
