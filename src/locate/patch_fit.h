#pragma once
// How well measured patches look like the chart they are supposed to be:
// the tests that tell the right orientation of a chart from the wrong ones.
// In the right orientation the device values follow the reference closely
// through a simple model, and the gray scale rises from its darkest patch to
// its lightest; in a wrong one the patches are paired with the wrong
// reference values and neither holds.

#include <array>
#include <vector>

#include "reference/reference_data.h"

namespace calivant {

using PatchRgb = std::array<double, 3>;  // red, green, blue 0..1; NaN: not measured

// Residual of the best affine map from device RGB (raised to one of a few
// powers, for linear and display-encoded devices) to the reference's L*a*b*
// over every measured gray (in gray order) and colour patch that the
// reference holds (X not kReferenceMissing), as a share of the reference's
// own spread: near 0 for a good fit, near 1 for none. 1 when fewer than
// eight patches count.
double referenceMisfit(const std::vector<PatchRgb>& gray, const std::vector<PatchRgb>& color,
                       const ReferenceData& reference);

// Rank correlation between gray index and each channel of the measured gray
// patches, the smallest of the three: 1 for a gray scale rising in every
// channel from index 0 (darkest) on. 0 when the patches span less than half
// the lightest one's level (uneven light on a plain surface rises too, but
// not that far), or when more than a quarter of them are not flat (`spread`,
// the scatter within each patch, beyond a tenth of that span: stripes or
// texture seen through the cells); -1 when fewer than four were measured.
// An empty `spread` counts every patch as flat.
double grayScaleRise(const std::vector<PatchRgb>& gray, const std::vector<double>& spread = {});

}  // namespace calivant
