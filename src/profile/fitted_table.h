#pragma once
// The lookup tables of a profile built from a fitted model (an automatic
// choice other than a CIE Lab seed model). The input tables take each
// channel's device value to an axis code of the model's linear value,
//
//   lightness axes   code = L*(100 x linear) / 100      (0 -> 0, 1 -> 1)
//   linear axes      code = linear
//
// and the grid point at code u holds the model's colour at the linear values
// u decodes to, as L*a*b* or XYZ (the form says which). When the model's
// channels mix before its curves, the colour is no function of the linear
// values alone: the grid point then holds the colour of the neutral-axis
// device values whose curves give them. Encoding and clipping are those of
// every table, the residual correction the same inverse-distance
// interpolation, in grid coordinates.
//
// The form is chosen per model so the tables carry it as exactly as the
// format allows: a shaper/matrix is linear in linear light, so linear axes
// and an XYZ table reproduce it up to the 16-bit encoding; input tables of
// 4096 entries keep the curves' own error below the table's.

#include <span>

#include "measure/advanced_options.h"
#include "measure/patch_measurement.h"
#include "profile/model_fit.h"
#include "profile/profile_result.h"

namespace calivant {

double lightnessEncode(double linear);
double lightnessDecode(double code);

// The form an automatic choice writes for a model.
FittedTableForm fittedTableForm(FitModel model);

// The connection space of a profile's tables: the fitted model's form for
// an automatic choice other than a CIE Lab seed model, else the setting's.
int profileConnectionSpace(const AdvancedOptions& options, const ProfileResult& result);

// The axis code of one channel at a device value 0..1 (the input curve).
double fittedAxisCode(const FittedModel& model, const FittedTableForm& form, int channel, double device);

// The model's colour at a grid point, in the form's connection space.
CieTriple fittedTableValue(const FittedModel& model, const FittedTableForm& form, const ColorTriple& gridPoint);

// Builds the input curves and the table of one pass into table, and the
// patches' grid coordinates and residuals into result (grayLinear,
// colorLinear, patchResiduals), from the patches' device values and their
// working references. Returns 1 when a value is not finite.
int buildFittedTables(const FittedModel& model, const FittedTableForm& form, std::span<const DeviceRgb> grayDevice,
                      std::span<const DeviceRgb> colorDevice, const AdvancedOptions& options, ProfileTable& table,
                      ProfileResult& result);

}  // namespace calivant
