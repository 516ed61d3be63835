#pragma once
// How far a found chart frame lies from the true one, in patch pitches.

#include "target/overlay.h"

namespace calivant::testing {

// The largest corner error: each corner's error carried back into layout
// units through the true mapping's local derivative, in the layout's site
// pitches.
double worstCornerError(const OverlayQuad& truth, const OverlayQuad& found, int targetType);

}  // namespace calivant::testing
