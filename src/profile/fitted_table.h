#pragma once
// The lookup tables of a profile built from a fitted model (an automatic
// choice other than a CIE Lab seed model). The connection space is L*a*b*;
// the input curves take each channel's device value to the lightness
// encoding of the model's linear value,
//
//   code = L*(100 x linear) / 100      (0 -> 0, 1 -> 1)
//
// so that the grid is even in lightness, as the tables of a CIE Lab fit
// are; the grid point at code u holds the model's colour at the linear
// values u decodes to. Encoding and clipping are those of every L*a*b*
// table, the residual correction the same inverse-distance interpolation,
// in grid coordinates.

#include <span>

#include "measure/advanced_options.h"
#include "measure/patch_measurement.h"
#include "profile/model_fit.h"
#include "profile/profile_result.h"

namespace calivant {

double lightnessEncode(double linear);
double lightnessDecode(double code);

// The input curve of one channel (device code to grid code).
void fittedInputCurve(const FittedModel& model, int channel, ToneCurve& curve);

// The model's colour at a grid point.
CieTriple fittedTableLab(const FittedModel& model, const ColorTriple& gridPoint);

// Builds the input curves and the table of one pass into table, and the
// patches' grid coordinates and residuals into result (grayLinear,
// colorLinear, patchResiduals), from the patches' device values and their
// working L*a*b* references. Returns 1 when a value is not finite.
int buildFittedTables(const FittedModel& model, std::span<const DeviceRgb> grayDevice,
                      std::span<const DeviceRgb> colorDevice, const AdvancedOptions& options, ProfileTable& table,
                      ProfileResult& result);

}  // namespace calivant
