#pragma once
// Patch sets for the regression and table tests: linearized RGB and working
// values as the tone curves and the working reference would leave them.

#include <cstdint>

#include "profile/profile_result.h"
#include "util/cie.h"

namespace calivant::testing {

// Deterministic values in [0, 1) on every platform.
struct Lcg {
    std::uint64_t state;
    double next() {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(state >> 11) * 0x1.0p-53;
    }
};

// Twelve grays on the diagonal, colorCount random colours, and colours on
// points of a 17- and a 33-point grid ((0.5, 0.25, 0.75), (1, 0, 0)) and on
// a grid row ((0.125, 0.0625, 0.3)). Their values follow a smooth response
// no model fits exactly, plus noise, so every residual is non-zero.
inline ProfileResult makePatches(int colorCount, std::uint64_t seed) {
    ProfileResult result;
    Lcg lcg{seed};
    for (int i = 0; i < 12; ++i) result.grayLinear.push_back({(i + 0.5) / 12, (i + 0.5) / 12, (i + 0.5) / 12});
    for (int i = 0; i < colorCount; ++i) result.colorLinear.push_back({lcg.next(), lcg.next(), lcg.next()});
    for (ColorTriple p : {ColorTriple{0.5, 0.25, 0.75}, ColorTriple{0.125, 0.0625, 0.3}, ColorTriple{1, 0, 0}})
        result.colorLinear.push_back(p);
    const auto labOf = [&](const ColorTriple& p) {
        const double y = 0.25 * p[0] + 0.65 * p[1] + 0.1 * p[2];
        const double noise[3] = {0.4 * lcg.next(), 0.4 * lcg.next(), 0.4 * lcg.next()};
        return ColorTriple{100 * y / (0.3 + 0.7 * y) + noise[0], 90 * (p[0] - p[1]) / (1 + p[2]) + noise[1],
                           70 * (p[1] - p[2] * p[2]) + noise[2]};
    };
    for (const ColorTriple& p : result.grayLinear) result.workGrayLab.push_back(labOf(p));
    for (const ColorTriple& p : result.colorLinear) result.workColorLab.push_back(labOf(p));
    for (const ColorTriple& v : result.workGrayLab) result.workGrayXYZ.push_back(labToXyz(v));
    for (const ColorTriple& v : result.workColorLab) result.workColorXYZ.push_back(labToXyz(v));
    return result;
}

}  // namespace calivant::testing
