#pragma once
// Uneven light divided out of a measurement, for the charts that print
// neutral patches all around their border (ColorChecker DC, SG, HCT):
//
//   1. tone curves from the gray scale as measured (device value to Y / 100
//      per channel), which make the border patches' values linear in light;
//   2. a smooth field fitted to the border patches, a white, a mid-gray and a
//      black level times exp(quadratic in u, t), each patch weighted by how
//      exactly its value gives the light (the dark ones hardly count); a
//      non-uniform or outlying border patch is left out;
//   3. every gray and colour patch divided by the field in linear light
//      (the field is 1 at the chart's brightest point) and taken back
//      through the same curves: the working values as if the whole chart
//      had the brightest point's light.
//
// The measured values, the uniformity figures and their warning stay as
// measured; only the working values the profile is fitted to change.

#include <vector>

#include "measure/advanced_options.h"
#include "measure/patch_measurement.h"
#include "reference/reference_data.h"
#include "target/target_layout.h"

namespace calivant {

// With options.correctIllumination set: the correction above into the
// working values of m (contrast stretched after it when that option is on),
// and its record into m.illumination. A chart without border patches, or one
// whose border patches cannot carry a field, keeps its working values and
// says so in the record. With the option off nothing changes.
void correctIllumination(TargetMeasurement& m, const TargetLayout& layout, const ReferenceData& reference,
                         const AdvancedOptions& options);

// What a picture of the light draws: each border patch's brightness
// relative to the brightest of its group (white, mid-gray, black), as
// measured and, when the measurement was corrected, after the correction.
enum class BorderGroup { White, MidGray, Black };

struct BorderPatchLight {
    PatchCell cell;  // name and place on the chart
    BorderGroup group = BorderGroup::White;
    double before = 0.0;  // 0..1
    double after = 0.0;   // 0..1; meaningful when BorderLighting::corrected
    bool leftOut = false;  // not used by the field (non-uniform or outlying)
};

struct BorderLighting {
    bool available = false;  // a chart with border patches and a usable gray scale
    bool corrected = false;
    std::vector<BorderPatchLight> patches;
};

// The border patches' light for a measurement of a chart with border
// patches; reads m.illumination for the "after" values.
BorderLighting borderLighting(const TargetMeasurement& m, const TargetLayout& layout, const ReferenceData& reference);

}  // namespace calivant
