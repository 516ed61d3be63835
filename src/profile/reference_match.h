#pragma once
// Whether the reference file belongs to the chart that was measured. A
// reference of another chart, or one whose gray scale runs the wrong way,
// still gives a profile; only a poor fit shows that something is wrong, and
// the fit of the chosen model depends on the model. So the question is
// asked of one fixed model that no later change of the profile models
// moves: each channel taken to Y through the gray scale, then a 3 x 4
// matrix to XYZ, every patch predicted by a fit that leaves it out.

#include <string>
#include <string_view>

#include "measure/patch_measurement.h"
#include "reference/reference_data.h"
#include "target/target_layout.h"

namespace calivant {

// The measured gray scale gets darker where the reference's gets lighter:
// the reference's lightest gray patch is measured darker than its darkest.
inline constexpr std::string_view kGrayScaleReversedError =
    "The gray scale of the target image runs the other way from the reference file's";

bool grayScaleRunsAgainstReference(const TargetMeasurement& measurement, const ReferenceData& reference);

// Above every correct chart met so far (synthetic scans of every device kind
// reach 2, phone photographs of a ColorChecker 10.5 with this model) and
// below a reference of another chart (a ColorChecker's colours shuffled:
// 22 on a synthetic scan, 30 on the photographs).
inline constexpr double kReferenceMismatchThreshold = 15.0;

// The mean CIEDE2000, over every gray and colour patch, between the
// reference and the fixed model fitted without that patch. Infinity when
// the model cannot be fitted.
double referenceMismatchError(const TargetMeasurement& measurement, const ReferenceData& reference);

// "The reference file does not seem to match the chart (cross-validated
// error X)", X with two decimals.
std::string referenceMismatchQuestion(double error);

}  // namespace calivant
