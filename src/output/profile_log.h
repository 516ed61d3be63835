#pragma once
// The plain-text log of one profile build, written from the computation's
// record (the colorimetric pass). CR LF line ends, numbers
// through formatText, TAB-separated patch tables. An IT8 log in CIE Lab
// starts like this:
//
//   Calivant - Scanner 1.0 Log
//   5-Mar-2005
//
//   Description: Flatbed 1200 dpi
//   Copyright: (c) Example Imaging
//
//   Target Type: IT8 Reflective
//
//   Advanced Options:
//     Color Space: CIE Lab
//     Regression Type: Cubic
//     Residuals not eliminated
//     No Target Image Contrast Stretch
//     No smoothing
//
//   Red Primary CIE xy (estimated): (0.640, 0.330)
//   ...
//   Dmax patch RGB: (3.12%, 2.95%, 3.40%)
//   Dmin patch RGB: (91.20%, 90.85%, 92.01%)
//
//   Gray Patches
//
//   <TAB>RMS
//   <TAB>Uniform<TAB>Delta
//   Patch<TAB>Err<TAB>E
//   23<TAB>0.41<TAB>0.312
//   ...
//   Average Delta E = 0.52
//   Max Delta E = 2.10
//
// With CIE XYZ the tables gain an RMS column in the XYZ scale (white Y 100)
// and the summary reports both figures. Last comes the cross-validated
// accuracy of the model (of every candidate with an automatic choice):
//
//   Cross-Validated Accuracy
//   10-fold, CIEDE2000 of the held-out patches
//
//   Model<TAB>Mean<TAB>95%<TAB>Max
//   CIE Lab Cubic<TAB>0.41<TAB>0.95<TAB>1.62<TAB>used

#include <ostream>
#include <string>

#include "output/profile_record.h"
#include "util/local_time.h"

namespace calivant {

// The name in the first column of gray patch `index` (gray order, darkest
// first) and of colour patch `index`: IT8 numbers its gray scale 23 down to 0
// and its colours by row letter and column ("A1".."L19"), the ColorChecker
// counts from 1, the other charts use their layout's cell names. Empty for an
// index outside the layout.
std::string grayPatchName(const TargetLayout& layout, int index);
std::string colorPatchName(const TargetLayout& layout, int index);

// Writes the whole log. Returns 0, or 1 when the stream failed at any point
// (every line is still attempted) or the record holds no computed profile
// for its layout (then nothing is written). The caller writes to a temporary
// file and keeps it only on 0.
int writeProfileLog(std::ostream& out, const ProfileRecord& record, const LocalTime& time);

}  // namespace calivant
