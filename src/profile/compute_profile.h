#pragma once
// From a prepared session (target, measured image, reference, description,
// options) to the content of a profile: two passes over the same
// measurement, a perceptual one whose reference lightness is stretched to
// run from L* 0 to L* 100 ("A2B0") and a colorimetric one with the
// reference as read ("A2B1").

#include <string_view>

namespace calivant {

struct ScanSession;

inline constexpr std::string_view kMissingDescriptionError = "You must enter a profile description";
inline constexpr std::string_view kFlatReferenceGrayError =
    "The reference gray scale has the same lightness at both ends";

// Fills the working reference values of session.profile from the reference
// data: copied, or with stretch the lightness stretched so the darkest gray
// patch is L* 0 and the lightest L* 100, a* and b* scaled in proportion.
// Returns 1 (after a message) when the reference gray scale cannot be
// stretched because its ends have the same lightness.
int prepareWorkingReference(ScanSession& session, bool stretch);

// Runs the whole computation; 0 on success, 1 when a step failed (that step
// has shown its message).
int computeProfile(ScanSession& session);

}  // namespace calivant
