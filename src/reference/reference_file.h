#pragma once
// Reader of target reference files, the IT8 / CGATS-style text that chart
// makers publish with each batch.

#include <cstdint>
#include <istream>
#include <string>
#include <string_view>

#include "reference/reference_data.h"
#include "target/target_layout.h"

namespace calivant {

// Results of readReferenceFile.
inline constexpr int kReferenceComplete = 0;
inline constexpr int kReferenceGrayMissing = 1;
inline constexpr int kReferenceColorMissing = 2;
// Wrong identification keyword, BEGIN_DATA twice, END_DATA before
// BEGIN_DATA, or a value of a patch line that cannot be right: a token that
// is not wholly a number or holds a comma, a number that is not finite, L*
// outside -0.5..100.5, a* or b* beyond +-500, a negative X, Y or Z, or a
// patch given twice with different values. A UTF-8 byte-order mark before
// the keyword is skipped.
inline constexpr int kReferenceMalformed = 3;

// Why a file was refused, for the user: the line it was found on (0 when it
// belongs to no line), what is wrong and the token it is wrong in.
struct ReferenceProblem {
    std::int32_t line = 0;
    std::string what;
    std::string token;
};

// "line 42: not a number: 18abc", "patch missing: GS12"; the token part is
// left out when there is none.
std::string describeReferenceProblem(const ReferenceProblem& problem);

// Turns a patch name into a gray index (isGray = 1) or a colour index
// (isGray = 0) of the layout's target; -1 for a name it does not use.
//   IT8: Dmin/GS0 -> gray 23, Dmax/GS23 -> gray 0, GSn -> gray 23 - n,
//        A..L + column 1..19 -> colour 19 row + column - 1.
//   ColorChecker: Dmin -> gray 5, Dmax -> gray 0, GS1..GS4 -> gray 5 - n,
//        A..C + column 1..6 -> colour 6 row + column - 1.
//   DC, SG: the layout's gray names first, then its colour names, ignoring case.
//   HCT: as DC and SG, but matched by row letter and column number, so that
//        "B2" (the maker's spelling) finds "B02".
int referencePatchIndex(std::string_view name, const TargetLayout& layout, int& isGray);

// Reads a reference file from the stream's position to END_DATA or its end
// and fills `reference` for the target type: first the counts (from the
// layout) and the missing mark on every patch, then the values read.
// Returns one of the kReference* results; shows nothing. Lines are counted
// from the stream's position. problem says why a result is not
// kReferenceComplete.
int readReferenceFile(std::istream& in, int targetType, ReferenceData& reference, ReferenceProblem& problem);
int readReferenceFile(std::istream& in, int targetType, ReferenceData& reference);

}  // namespace calivant
