#pragma once
// The measured patches with their reference values as a CGATS ".ti3" file
// of the kind ArgyllCMS's colprof reads, so a measurement can go on to other
// tools:
//
//   CTI3
//
//   DESCRIPTOR "Calivant - Scanner measurement of a HCT target"
//   ORIGINATOR "Calivant - Scanner"
//   DEVICE_CLASS "INPUT"
//   COLOR_REP "XYZ_RGB"
//
//   NUMBER_OF_FIELDS 7
//   BEGIN_DATA_FORMAT
//   SAMPLE_ID XYZ_X XYZ_Y XYZ_Z RGB_R RGB_G RGB_B
//   END_DATA_FORMAT
//
//   NUMBER_OF_SETS 504
//   BEGIN_DATA
//   B26 3.1234 3.2456 2.6789 4.5678 4.4321 4.9876
//   ...
//   END_DATA
//
// Gray patches first (darkest first), then the colour patches; XYZ on the
// scale where the perfect white has Y 100, device values in percent of full
// scale (the working values the profile is computed from).

#include <ostream>

#include "measure/patch_measurement.h"
#include "reference/reference_data.h"
#include "target/target_layout.h"

namespace calivant {

// Returns 0, or 1 when the stream failed.
int writeTi3(std::ostream& out, const TargetLayout& layout, const ReferenceData& reference,
             const TargetMeasurement& measurement);

}  // namespace calivant
