#pragma once
// Optional smoothing of the measured gray scale: each channel is replaced by
// the values of a cubic smoothing spline through it, taken as a function of
// the patches' reference luminance Y. The user's level sets the noise
// variance for which the spline's smoothness is chosen.

#include <span>
#include <vector>

#include "util/diagnostics.h"

namespace calivant {

// Smallest gap between neighbouring knots: gray patches with equal (or
// falling) reference Y are moved up by this much.
inline constexpr double kGrayKnotStep = 0.001;

// Noise variance, on the 0..1 scale of the measured means, of a smoothing
// level (Smoothing in measure/advanced_options.h); 0 for none, and for a level
// that does not exist.
double smoothingNoiseVariance(int level);

// Strictly increasing knots from the gray patches' reference Y, darkest
// first: a value not above the (adjusted) one before becomes that plus
// kGrayKnotStep.
std::vector<double> grayScaleKnots(std::span<const double> grayY);

// Fits the smoothing spline through (x, y) for noise variance val and writes
// its values at the knots to out. Returns the fit's error code; on an error
// reports "Spline Smoothing Error" and leaves out alone.
int smoothSeries(Diagnostics& diagnostics, std::span<const double> x, std::span<const double> y, double val,
                 std::span<double> out);

// Smooths the gray patches' red, green and blue means in place (gray order,
// darkest first, grayY their reference Y) at the given level. A channel
// whose fit fails keeps its measured values. Returns 0, or the error code of
// the first channel that failed.
int smoothGrayScale(Diagnostics& diagnostics, std::span<const double> grayY, std::span<double> red,
                    std::span<double> green, std::span<double> blue, int level);

}  // namespace calivant
