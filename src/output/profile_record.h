#pragma once
// Everything a finished computation is made of, as the profile and log
// writers read it: the user's texts and choices, the chart, what was
// measured and what was computed from it.

#include <string_view>

#include "measure/advanced_options.h"
#include "measure/patch_measurement.h"
#include "profile/profile_result.h"
#include "target/target_layout.h"

namespace calivant {

struct ProfileRecord {
    std::string_view description;
    std::string_view copyright;
    int targetType = 0;
    int reflective = 1;  // 0 for a transparency target
    const AdvancedOptions& options;
    const TargetLayout& layout;
    const TargetMeasurement& measurement;
    const ProfileResult& profile;
    // Measured in a JPEG: the log says what that means for the profile.
    bool jpegPicture = false;
};

}  // namespace calivant
