#include "support/fit_patches.h"

#include <cmath>
#include <vector>

namespace calivant::testing {

FitPatches devicePatches(const DeviceModel& device, int targetType, int bits) {
    const ReferenceData r = generatedReference(targetType);
    const double full = std::ldexp(1.0, bits) - 1.0;
    auto quantised = [&](const CieTriple& xyz) {
        ColorTriple d = deviceFromXyz(device, xyz);
        for (double& v : d) v = std::round(v * full) / full;
        return d;
    };
    std::vector<ColorTriple> grays, colors;
    for (int i = 0; i < r.grayCount; ++i) grays.push_back(quantised(r.grayXYZ[static_cast<std::size_t>(i)]));
    for (int i = 0; i < r.colorCount; ++i) colors.push_back(quantised(r.colorXYZ[static_cast<std::size_t>(i)]));
    const auto g = static_cast<std::size_t>(r.grayCount);
    const auto c = static_cast<std::size_t>(r.colorCount);
    return fitPatchesOf(grays, colors, std::span(r.grayXYZ).first(g), std::span(r.grayLab).first(g),
                        std::span(r.colorXYZ).first(c), std::span(r.colorLab).first(c));
}

}  // namespace calivant::testing
