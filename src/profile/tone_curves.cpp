#include "profile/tone_curves.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

#include "util/cie.h"

namespace calivant {
namespace {

constexpr double kCodeScale = 1.5259021896696422e-05;  // 1 / 65535

std::uint16_t toEntry(double value) {
    // A reference gray lighter than the scale's end (or darker than black)
    // would otherwise wrap around the 16-bit range.
    const double scaled = value * 65535.0;
    if (!(scaled > 0.0)) return 0;
    if (scaled >= 65535.0) return 65535;
    return static_cast<std::uint16_t>(roundHalfAway(scaled));
}

std::size_t codeOf(double deviceValue) {
    const double scaled = deviceValue * 65535.0;
    if (!(scaled > 0.0)) return 0;
    if (scaled >= 65535.0) return 65535;
    return static_cast<std::size_t>(roundHalfAway(scaled));
}

// Knots of one channel: device values u (gray order) against targets y.
// Values that are out of order are sorted and equal ones merged (their
// targets averaged), so no interval has zero width. Clipped shadows of 8-bit
// scans produce such runs routinely. A strictly increasing channel passes
// unchanged.
void orderKnots(std::vector<double>& u, std::vector<double>& y) {
    bool increasing = true;
    for (std::size_t i = 1; i < u.size(); ++i)
        if (!(u[i] > u[i - 1])) increasing = false;
    if (increasing) return;

    std::vector<std::size_t> order(u.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return u[a] < u[b]; });
    std::vector<double> mu, my;
    for (std::size_t k = 0; k < order.size();) {
        const double value = u[order[k]];
        double sum = 0.0;
        std::size_t count = 0;
        for (; k < order.size() && u[order[k]] == value; ++k, ++count) sum += y[order[k]];
        mu.push_back(value);
        my.push_back(sum / static_cast<double>(count));
    }
    u = std::move(mu);
    y = std::move(my);
}

}  // namespace

void hermiteSlopes(std::span<const double> x, std::span<const double> y, std::span<double> d,
                   std::span<double> w) {
    const std::size_t n = x.size();
    for (std::size_t i = 0; i + 1 < n; ++i) w[i] = (y[i + 1] - y[i]) / (x[i + 1] - x[i]);
    for (std::size_t i = 1; i + 1 < n; ++i) d[i] = (w[i - 1] + w[i]) * 0.5;
    d[0] = w[0];
    d[n - 1] = w[n - 2];

    for (std::size_t i = 0; i + 2 < n; ++i) {
        if (std::fabs(w[i]) <= kFlatness) {
            d[i] = 0.0;
            d[i + 1] = 0.0;
        } else if (w[i + 1] * w[i] < 0.0) {
            d[i + 1] = 0.0;
        }
    }
    if (std::fabs(w[n - 2]) <= kFlatness) {
        d[n - 2] = 0.0;
        d[n - 1] = 0.0;
    }

    for (std::size_t i = 0; i + 1 < n; ++i) {
        if (w[i] * d[i] < 0.0) d[i] = 0.0;
        if (d[i + 1] * w[i] < 0.0) d[i + 1] = 0.0;
    }
    if (w[n - 2] * d[n - 1] < 0.0) d[n - 1] = 0.0;

    for (std::size_t i = 0; i + 1 < n; ++i) {
        double candidate = 0.0;
        if (std::fabs(d[i]) + std::fabs(d[i + 1]) > kFlatness) {
            const double alpha = (2.0 * d[i] + d[i + 1]) / (3.0 * w[i]);
            const double beta = (2.0 * d[i + 1] + d[i]) / (3.0 * w[i]);
            if ((1.0 - alpha) * (beta - 1.0) < 0.0) candidate = std::min(alpha, beta);
        }
        double rootTerm = 0.0;
        if (std::fabs(w[i]) >= kFlatness)
            rootTerm = (d[i + 1] + d[i]) / (3.0 * w[i]) - std::sqrt(d[i + 1] * d[i]) / std::fabs(3.0 * w[i]);
        double f = 1.0;
        if (candidate > 1.0) f = candidate;
        if (rootTerm > f) f = rootTerm;
        w[i] = f;
    }

    d[0] /= w[0];
    d[n - 1] /= w[n - 2];
    for (std::size_t i = 1; i + 1 < n; ++i) d[i] /= std::max(w[i - 1], w[i]);
}

double hermiteValue(double t, double x0, double x1, double y0, double y1, double d0, double d1) {
    const double h = x1 - x0;
    const double s = (t - x0) / h;
    const double sp = (x1 - t) / h;
    return y0 * (3.0 - 2.0 * sp) * sp * sp + y1 * (3.0 - 2.0 * s) * s * s + d0 * (x0 - x1) * (sp - 1.0) * sp * sp +
           d1 * (s - 1.0) * s * s * h;
}

namespace {

// Entry m of the sampled curve; k is the interval search's position, which
// only moves forward as m grows.
std::uint16_t toneCurveEntry(std::span<const double> x, std::span<const double> y, std::span<const double> d,
                             std::int64_t c0, std::int64_t cN, std::int64_t m, std::size_t& k) {
    const std::size_t n = x.size();
    const double t = static_cast<double>(m - c0) / static_cast<double>(cN - c0);
    double value;
    if (m < c0) {
        value = std::clamp(y[0] + t * d[0], 0.0, 1.0);
    } else if (m > cN) {
        value = std::clamp(y[n - 1] + (t - 1.0) * d[n - 1], 0.0, 1.0);
    } else {
        while (k < n - 1 && t > x[k]) ++k;
        value = hermiteValue(t, x[k - 1], x[k], y[k - 1], y[k], d[k - 1], d[k]);
    }
    return toEntry(value);
}

}  // namespace

void sampleToneCurve(std::span<const double> x, std::span<const double> y, std::span<const double> d,
                     std::int64_t c0, std::int64_t cN, ToneCurve& curve) {
    std::size_t k = 1;
    for (std::int64_t m = 0; m < kToneCurveLength; ++m)
        curve.values[static_cast<std::size_t>(m)] = toneCurveEntry(x, y, d, c0, cN, m, k);
}

int shapeToneCurve(std::span<const double> grayValues, std::span<const double> targets, ToneCurveShape& shape) {
    const std::size_t n = grayValues.size();
    if (n < 2 || !(grayValues[0] < grayValues[n - 1])) return 1;
    std::vector<double> u(grayValues.begin(), grayValues.end());
    std::vector<double> y(targets.begin(), targets.end());
    orderKnots(u, y);
    const double u0 = u.front();
    const double uN = u.back();
    const std::size_t knots = u.size();
    shape.x.assign(knots, 0.0);
    shape.slopes.assign(knots, 0.0);
    std::vector<double> work(knots - 1);
    for (std::size_t i = 0; i < knots; ++i) shape.x[i] = (u[i] - u0) / (uN - u0);
    shape.y = std::move(y);
    hermiteSlopes(shape.x, shape.y, shape.slopes, work);
    shape.c0 = roundHalfAway(u0 * 65535.0);
    shape.cN = roundHalfAway(uN * 65535.0);
    // Ends closer than one code would make every code's position
    // infinite; give the interpolant the narrowest range there is.
    if (shape.cN <= shape.c0) {
        if (shape.c0 >= 65535) shape.c0 = 65534;
        shape.cN = shape.c0 + 1;
    }
    return 0;
}

std::uint16_t ToneCurveShape::entry(std::int64_t code) const {
    // The interval search starts afresh: the entry is the one the sampled
    // curve holds, whatever code came before.
    std::size_t k = 1;
    return toneCurveEntry(x, y, slopes, c0, cN, code, k);
}

double ToneCurveShape::linearize(double deviceValue) const {
    return entry(static_cast<std::int64_t>(codeOf(deviceValue))) * kCodeScale;
}

void sampleToneCurve(const ToneCurveShape& shape, ToneCurve& curve) {
    sampleToneCurve(shape.x, shape.y, shape.slopes, shape.c0, shape.cN, curve);
}

double linearize(const ToneCurve& curve, double deviceValue) {
    return curve.values[codeOf(deviceValue)] * kCodeScale;
}

int buildToneCurves(std::span<const DeviceRgb> grayWorking, std::span<const DeviceRgb> colorWorking, int colorSpace,
                    ProfileResult& profile, std::array<ToneCurve, 3>& curves, Diagnostics& diagnostics) {
    const int n = static_cast<int>(grayWorking.size());
    const bool lab = colorSpace == CieLab;
    std::vector<double> target(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        target[static_cast<std::size_t>(i)] =
            lab ? profile.workGrayLab[static_cast<std::size_t>(i)][0] * 0.01
                : profile.workGrayXYZ[static_cast<std::size_t>(i)][1] / 100.0;

    for (int c = 0; c < 3; ++c) {
        std::vector<double> u(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i) u[static_cast<std::size_t>(i)] = grayWorking[static_cast<std::size_t>(i)][c];
        ToneCurveShape shape;
        if (shapeToneCurve(u, target, shape) != 0) {
            addError(diagnostics, kNegativeImageError);
            return 1;
        }
        sampleToneCurve(shape, curves[static_cast<std::size_t>(c)]);
    }

    profile.grayLinear.assign(static_cast<std::size_t>(n), ColorTriple{});
    for (int i = 0; i < n; ++i)
        for (int c = 0; c < 3; ++c)
            profile.grayLinear[static_cast<std::size_t>(i)][c] =
                linearize(curves[static_cast<std::size_t>(c)], grayWorking[static_cast<std::size_t>(i)][c]);
    const int colors = static_cast<int>(colorWorking.size());
    profile.colorLinear.assign(static_cast<std::size_t>(colors), ColorTriple{});
    for (int i = 0; i < colors; ++i)
        for (int c = 0; c < 3; ++c)
            profile.colorLinear[static_cast<std::size_t>(i)][c] = linearize(
                curves[static_cast<std::size_t>(c)], colorWorking[static_cast<std::size_t>(i)][c]);
    return 0;
}

}  // namespace calivant
