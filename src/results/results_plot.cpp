#include "results/results_plot.h"

#include <algorithm>
#include <cmath>

#include "util/cie.h"
#include "profile/regression.h"

namespace calivant {
namespace {

// CIE 1931 2-degree colour-matching functions x-bar, y-bar, z-bar, 380 to
// 700 nm in 5 nm steps (beyond 700 nm the chromaticity no longer moves).
constexpr double kColorMatching[][3] = {
    {0.001368, 0.000039, 0.006450}, {0.002236, 0.000064, 0.010550}, {0.004243, 0.000120, 0.020050},
    {0.007650, 0.000217, 0.036210}, {0.014310, 0.000396, 0.067850}, {0.023190, 0.000640, 0.110200},
    {0.043510, 0.001210, 0.207400}, {0.077630, 0.002180, 0.371300}, {0.134380, 0.004000, 0.645600},
    {0.214770, 0.007300, 1.039050}, {0.283900, 0.011600, 1.385600}, {0.328500, 0.016840, 1.622960},
    {0.348280, 0.023000, 1.747060}, {0.348060, 0.029800, 1.782600}, {0.336200, 0.038000, 1.772110},
    {0.318700, 0.048000, 1.744100}, {0.290800, 0.060000, 1.669200}, {0.251100, 0.073900, 1.528100},
    {0.195360, 0.090980, 1.287640}, {0.142100, 0.112600, 1.041900}, {0.095640, 0.139020, 0.812950},
    {0.057950, 0.169300, 0.616200}, {0.032010, 0.208020, 0.465180}, {0.014700, 0.258600, 0.353300},
    {0.004900, 0.323000, 0.272000}, {0.002400, 0.407300, 0.212300}, {0.009300, 0.503000, 0.158200},
    {0.029100, 0.608200, 0.111700}, {0.063270, 0.710000, 0.078250}, {0.109600, 0.793200, 0.057250},
    {0.165500, 0.862000, 0.042160}, {0.225750, 0.914850, 0.029840}, {0.290400, 0.954000, 0.020300},
    {0.359700, 0.980300, 0.013400}, {0.433450, 0.994950, 0.008750}, {0.512050, 1.000000, 0.005750},
    {0.594500, 0.995000, 0.003900}, {0.678400, 0.978600, 0.002750}, {0.762100, 0.952000, 0.002100},
    {0.842500, 0.915400, 0.001800}, {0.916300, 0.870000, 0.001650}, {0.978600, 0.816300, 0.001400},
    {1.026300, 0.757000, 0.001100}, {1.056700, 0.694900, 0.001000}, {1.062200, 0.631000, 0.000800},
    {1.045600, 0.566800, 0.000600}, {1.002600, 0.503000, 0.000340}, {0.938400, 0.441200, 0.000240},
    {0.854450, 0.381000, 0.000190}, {0.751400, 0.321000, 0.000100}, {0.642400, 0.265000, 0.000050},
    {0.541900, 0.217000, 0.000030}, {0.447900, 0.175000, 0.000020}, {0.360800, 0.138200, 0.000010},
    {0.283500, 0.107000, 0.000000}, {0.218700, 0.081600, 0.000000}, {0.164900, 0.061000, 0.000000},
    {0.121200, 0.044580, 0.000000}, {0.087400, 0.032000, 0.000000}, {0.063600, 0.023200, 0.000000},
    {0.046770, 0.017000, 0.000000}, {0.032900, 0.011920, 0.000000}, {0.022700, 0.008210, 0.000000},
    {0.015840, 0.005723, 0.000000}, {0.011359, 0.004102, 0.000000},
};

std::optional<PlotPoint> chromaticityPixel(const PlotFrame& frame, const ColorTriple& xyz) {
    const double sum = xyz[0] + xyz[1] + xyz[2];
    if (!(sum > 0.0) || !std::isfinite(sum)) return std::nullopt;
    double cx = 0.0, cy = 0.0;
    chromaticity(xyz[0], xyz[1], xyz[2], cx, cy);
    return gamutPixel(frame, cx, cy);
}

// The model's XYZ for linearized RGB, with the Linear model whatever the fit.
ColorTriple linearModelXyz(const ProfileResult& result, int colorSpace, double r, double g, double b) {
    if (colorSpace == CieLab) return labToXyz(evaluateModelLab(result, r, g, b, true));
    return evaluateModelXyz(result, r, g, b, true);
}

double srgbEncode(double c) {
    c = std::clamp(c, 0.0, 1.0);
    return c <= 0.0031308 ? 12.92 * c : 1.055 * std::pow(c, 1.0 / 2.4) - 0.055;
}

}  // namespace

PlotFrame smallestPlotFrame(int margin) { return {margin, margin}; }

PlotFrame plotFrameFor(int clientWidth, int clientHeight, int margin) {
    const int side = std::max(kPlotBackgroundSize,
                              std::min(clientWidth - 2 * margin, clientHeight - kResultTabStripHeight - 2 * margin));
    PlotFrame frame{(clientWidth - side) / 2, (clientHeight - kResultTabStripHeight - side) / 2, side};
    frame.inset = scaledLength(frame, kPlotInset);
    frame.span = side - 2 * frame.inset;
    return frame;
}

int scaledLength(const PlotFrame& frame, int length) {
    return static_cast<int>(roundHalfAway(static_cast<double>(length) * frame.size / kPlotBackgroundSize));
}

int plotLineWidth(const PlotFrame& frame) { return std::max(1, frame.size / kPlotBackgroundSize); }

PlotPoint gamutPixel(const PlotFrame& frame, double x, double y) {
    const int left = frame.left + frame.inset, top = frame.top + frame.inset;
    return {left + static_cast<int>(roundHalfAway(x * frame.span)),
            top + frame.span - static_cast<int>(roundHalfAway(y * frame.span))};
}

PlotBox markerBox(PlotPoint p, bool large, const PlotFrame& frame) {
    const int a = std::max(large ? 2 : 1, scaledLength(frame, large ? 2 : 1));
    const int b = a + 1;
    return {p.x - a, p.y - a, p.x + b, p.y + b};
}

GamutPlot gamutPlot(const ReferenceData& reference, const ProfileResult& profile, int colorSpace,
                    const PlotFrame& frame) {
    GamutPlot plot;
    const int colorCount = std::clamp(reference.colorCount, 0, static_cast<int>(kMaxColorPatches));
    for (int i = 0; i < colorCount; ++i) {
        const CieTriple xyz = labToXyz(reference.colorLab[static_cast<std::size_t>(i)]);
        if (auto p = chromaticityPixel(frame, xyz)) plot.patches.push_back(*p);
    }
    for (int c = 0; c < 3; ++c)
        plot.primaries[static_cast<std::size_t>(c)] = chromaticityPixel(
            frame, linearModelXyz(profile, colorSpace, c == 0 ? 1.0 : 0.0, c == 1 ? 1.0 : 0.0, c == 2 ? 1.0 : 0.0));
    plot.white = chromaticityPixel(frame, linearModelXyz(profile, colorSpace, 1.0, 1.0, 1.0));
    plot.srgb = {gamutPixel(frame, 0.64, 0.33), gamutPixel(frame, 0.30, 0.60), gamutPixel(frame, 0.15, 0.06)};
    return plot;
}

std::vector<PlotPoint> curvePoints(const ToneCurve& curve, const PlotFrame& frame) {
    const std::int64_t span = frame.span;
    const int left = frame.left + frame.inset, top = frame.top + frame.inset;
    std::vector<PlotPoint> points;
    points.reserve(256);
    for (int i = 0; i < 256; ++i) {
        const std::size_t code = static_cast<std::size_t>(i) * 257;
        const std::int64_t v = code < curve.values.size() ? curve.values[code] : 0;
        points.push_back({left + static_cast<int>(i * span / 255), top + static_cast<int>((65535 - v) * span / 65535)});
    }
    return points;
}

std::vector<ResultTab> resultTabs(int left, int top, int right, int bottom, int margin, int count, int currentView) {
    std::vector<ResultTab> tabs(static_cast<std::size_t>(std::max(count, 0)));
    auto edge = [&](int t) { return t == count ? right : left + t * (right - left) / count; };
    for (int t = 0; t < count; ++t) {
        ResultTab& tab = tabs[static_cast<std::size_t>(t)];
        tab.box = {edge(t), top + 2, edge(t + 1), bottom};
        const PlotBox& b = tab.box;
        // The strip's right and bottom edges lie outside it: the outline runs
        // on its last column and row, so the bottom edge shows.
        const int right = b.right - 1, bottom = b.bottom - 1;
        tab.outline = {{b.left, b.top}, {b.left + margin, bottom}, {right - margin, bottom}, {right, b.top}};
        if (t != currentView) tab.outline.push_back({b.left, b.top});
    }
    return tabs;
}

int tabViewAt(int x, int stripLeft, int stripRight, int count) {
    int view = 0;
    while (view + 1 < count && x > stripLeft + (view + 1) * (stripRight - stripLeft) / count) ++view;
    return view;
}

const std::vector<std::array<double, 2>>& spectralLocus() {
    static const std::vector<std::array<double, 2>> locus = [] {
        std::vector<std::array<double, 2>> points;
        for (const auto& cmf : kColorMatching) {
            const double sum = cmf[0] + cmf[1] + cmf[2];
            points.push_back({cmf[0] / sum, cmf[1] / sum});
        }
        return points;
    }();
    return locus;
}

std::vector<double> spectralLocusCrossings(double y) {
    // The edges of the locus closed by the line of purples.
    const auto& locus = spectralLocus();
    std::vector<double> crossings;
    for (std::size_t i = 0, j = locus.size() - 1; i < locus.size(); j = i++) {
        const double xi = locus[i][0], yi = locus[i][1], xj = locus[j][0], yj = locus[j][1];
        if ((yi > y) != (yj > y)) crossings.push_back((xj - xi) * (y - yi) / (yj - yi) + xi);
    }
    return crossings;
}

bool insideSpectralLocus(double x, double y) {
    bool inside = false;
    for (const double crossing : spectralLocusCrossings(y))
        if (x < crossing) inside = !inside;
    return inside;
}

std::array<int, 3> diagramColor(double x, double y) {
    if (y <= 0.0) return {0, 0, 0};
    // XYZ at Y = 1, to linear sRGB (D65 primaries; the diagram only suggests
    // the hues), then scaled so the brightest channel is full.
    const double bigX = x / y;
    const double bigZ = (1.0 - x - y) / y;
    double r = 3.2406 * bigX - 1.5372 - 0.4986 * bigZ;
    double g = -0.9689 * bigX + 1.8758 + 0.0415 * bigZ;
    double b = 0.0557 * bigX - 0.2040 + 1.0570 * bigZ;
    r = std::max(r, 0.0);
    g = std::max(g, 0.0);
    b = std::max(b, 0.0);
    const double top = std::max({r, g, b});
    if (top <= 0.0) return {0, 0, 0};
    auto code = [&](double c) { return static_cast<int>(roundHalfAway(255.0 * srgbEncode(c / top))); };
    return {code(r), code(g), code(b)};
}

}  // namespace calivant
