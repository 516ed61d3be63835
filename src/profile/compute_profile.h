#pragma once
// From a measured target and its reference to the content of a profile: two
// passes over the same measurement, a perceptual one whose reference
// lightness is stretched to run from L* 0 to L* 100 ("A2B0") and a
// colorimetric one with the reference as read ("A2B1").

#include <optional>
#include <string_view>

#include "measure/advanced_options.h"
#include "measure/patch_measurement.h"
#include "profile/profile_result.h"
#include "reference/reference_data.h"
#include "target/target_layout.h"
#include "util/diagnostics.h"

namespace calivant {

inline constexpr std::string_view kFlatReferenceGrayError =
    "The reference gray scale has the same lightness at both ends";

// What the computation reads. The measurement's working values are used for
// the layout's gray and colour counts; the reference must have the same
// counts.
struct ProfileInputs {
    const TargetLayout& layout;
    const ReferenceData& reference;
    const TargetMeasurement& measurement;
    const AdvancedOptions& options;
};

struct ProfileComputation {
    // 0 on success, 1 when a step failed (its message is in diagnostics).
    int status = 1;
    Diagnostics diagnostics;
    // Both passes' tables and the values of the pass that ran last (after a
    // success, the colorimetric one).
    ProfileResult profile;
};

// Fills the working reference values of profile from the reference data:
// copied, or with stretch the lightness stretched so the darkest gray patch
// is L* 0 and the lightest L* 100, a* and b* scaled in proportion. Returns 1
// (after a message) when the reference gray scale cannot be stretched
// because its ends have the same lightness.
int prepareWorkingReference(const ReferenceData& reference, bool stretch, ProfileResult& profile,
                            Diagnostics& diagnostics);

// With options.regressionModel Automatic, the model is chosen among every
// candidate by cross-validation on the colorimetric reference and the
// tables are built from it in CIE Lab; otherwise the set model, as ever.
// Either way the matrix/TRC tags come from a shaper/matrix fit and the
// accuracy figures from cross-validation.
ProfileComputation computeProfile(const ProfileInputs& inputs);

// The profile an automatic choice of model would build, for comparing the
// candidates' profiles (benchmarks); form, when given, overrides the
// tables' form that choice would write.
ProfileComputation computeProfileWithModel(const ProfileInputs& inputs, FitModel model,
                                           const std::optional<FittedTableForm>& form = std::nullopt);

}  // namespace calivant
