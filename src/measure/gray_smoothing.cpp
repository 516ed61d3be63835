#include "measure/gray_smoothing.h"

#include <algorithm>
#include <cassert>

#include "measure/smoothing_spline.h"
#include "measure/advanced_options.h"

namespace calivant {

double smoothingNoiseVariance(int level) {
    switch (level) {
        case SmoothingLight: return 5e-06;
        case SmoothingModerate: return 1e-05;
        case SmoothingHeavy: return 2e-05;
        default: return 0.0;
    }
}

std::vector<double> grayScaleKnots(std::span<const double> grayY) {
    std::vector<double> x(grayY.begin(), grayY.end());
    for (std::size_t i = 1; i < x.size(); ++i)
        if (!(x[i] > x[i - 1])) x[i] = x[i - 1] + kGrayKnotStep;
    return x;
}

int smoothSeries(Diagnostics& diagnostics, std::span<const double> x, std::span<const double> y, double val,
                 std::span<double> out) {
    assert(y.size() == x.size() && out.size() == x.size());
    const std::vector<double> w(x.size(), 1.0);
    std::vector<double> c(x.size());
    SplineWork work;
    const int code = fitSmoothingSpline(x, y, w, kSplineHalfOrder, val, c, work);
    if (code != 0) {
        addError(diagnostics, "Spline Smoothing Error");
        return code;
    }
    int interval = 0;
    for (std::size_t i = 0; i < x.size(); ++i) out[i] = evaluateSpline(0, kSplineHalfOrder, x[i], x, c, interval);
    return 0;
}

int smoothGrayScale(Diagnostics& diagnostics, std::span<const double> grayY, std::span<double> red,
                    std::span<double> green, std::span<double> blue, int level) {
    assert(red.size() == grayY.size() && green.size() == grayY.size() && blue.size() == grayY.size());
    const double val = smoothingNoiseVariance(level);
    if (val == 0.0) return 0;
    const std::vector<double> x = grayScaleKnots(grayY);
    std::vector<double> smoothed(x.size());
    int result = 0;
    for (std::span<double> channel : {red, green, blue}) {
        const int code = smoothSeries(diagnostics, x, channel, val, smoothed);
        if (code == 0)
            std::copy(smoothed.begin(), smoothed.end(), channel.begin());
        else if (result == 0)
            result = code;
    }
    return result;
}

}  // namespace calivant
