#pragma once
// A synthetic target scan as the engine sees a loaded one (the overlay on the
// whole picture, where loading puts it), and the engine steps run on it.

#include "make-target/synthetic_target.h"
#include "profile/compute_profile.h"

namespace calivant::testing {

struct SyntheticScan {
    SyntheticTarget target;
    TargetImage image;
    OverlayQuad overlay;  // the whole picture
};

// Renders the chart with the options (and the reference generated for the
// type unless one is given) and loads the picture. Fails the test on error.
SyntheticScan renderScan(const SyntheticTargetOptions& options, const ReferenceData* reference = nullptr);

TargetMeasurement measureScan(const SyntheticScan& scan, const AdvancedOptions& options,
                              MeasureMode mode = MeasureMode::Compute);

// Measures (Compute mode) and computes both passes, keeping the measurement if asked.
ProfileComputation computeScan(const SyntheticScan& scan, const AdvancedOptions& options,
                               TargetMeasurement* measurement = nullptr);

}  // namespace calivant::testing
