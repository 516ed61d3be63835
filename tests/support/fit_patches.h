#pragma once
// Patches for the model fits straight from a synthetic device: the generated
// reference of a chart and the device value each patch gives, quantised to
// the given bits, without rendering a picture.

#include "make-target/synthetic_target.h"
#include "profile/model_fit.h"

namespace calivant::testing {

FitPatches devicePatches(const DeviceModel& device, int targetType, int bits = 16);

}  // namespace calivant::testing
