#pragma once
// A synthetic target scan as the engine sees a loaded one: the picture as a
// working image, the overlay on the whole picture (where loading puts it),
// and the steps run on it with plain values, no session.

#include "image/target_image.h"
#include "make-target/synthetic_target.h"
#include "measure/advanced_options.h"
#include "measure/patch_measurement.h"
#include "profile/compute_profile.h"

namespace calivant::testing {

struct SyntheticScan {
    SyntheticTarget target;
    TargetImage image;
    OverlayQuad overlay;  // the whole picture
};

// Renders the chart with the options (reference: generated for the type
// unless given) and loads the picture. Fails the calling test on error.
SyntheticScan renderScan(const SyntheticTargetOptions& options);
SyntheticScan renderScan(const SyntheticTargetOptions& options, const ReferenceData& reference);

TargetMeasurement measureScan(const SyntheticScan& scan, const AdvancedOptions& options,
                              MeasureMode mode = MeasureMode::Compute);

// Measures (Compute mode) and computes both passes; measurement receives the
// measurement when given.
ProfileComputation computeScan(const SyntheticScan& scan, const AdvancedOptions& options,
                               TargetMeasurement* measurement = nullptr);

}  // namespace calivant::testing
