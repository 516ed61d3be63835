#include "results/lighting_plot.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "util/cie.h"

namespace calivant {
namespace {

// Ten evenly spaced colours of the viridis map: its lightness rises
// steadily from the first to the last, and it stays readable to the colour
// blind.
constexpr PlotColor kRamp[] = {{68, 1, 84},    {72, 40, 120},  {62, 74, 137},   {49, 104, 142},  {38, 130, 142},
                               {31, 158, 137}, {53, 183, 121}, {109, 205, 89}, {180, 222, 44}, {253, 231, 37}};
constexpr int kRampStops = static_cast<int>(std::size(kRamp));

constexpr int kTickSteps[] = {1, 2, 5, 10, 20};
constexpr int kMaxTickIntervals = 5;

int rounded(double v) { return static_cast<int>(roundHalfAway(v)); }

}  // namespace

PlotColor lightingScaleColor(double fraction) {
    const double at = std::clamp(std::isfinite(fraction) ? fraction : 0.0, 0.0, 1.0) * (kRampStops - 1);
    const int i = std::min(static_cast<int>(at), kRampStops - 2);
    const double w = at - i;
    PlotColor c{};
    for (std::size_t k = 0; k < 3; ++k)
        c[k] = rounded(kRamp[i][k] + w * (kRamp[i + 1][k] - kRamp[i][k]));
    return c;
}

double LightingScale::fraction(double value) const {
    if (!(low < 1.0) || !std::isfinite(value)) return 1.0;
    return std::clamp((value - low) / (1.0 - low), 0.0, 1.0);
}

LightingScale lightingScale(const BorderLighting& lighting) {
    // A left-out patch may be far off (a speck of dust, a shadow): it would
    // squeeze what the others show into a corner of the ramp.
    double dimmest = 1.0;
    for (const BorderPatchLight& p : lighting.patches) {
        if (p.leftOut) continue;
        dimmest = std::min(dimmest, p.before);
        if (lighting.corrected) dimmest = std::min(dimmest, p.after);
    }
    const double spread = 100.0 * (1.0 - std::clamp(dimmest, 0.0, 1.0));
    int step = kTickSteps[std::size(kTickSteps) - 1];
    for (const int s : kTickSteps)
        if (std::ceil(spread / s - 1e-9) <= kMaxTickIntervals) {
            step = s;
            break;
        }
    const int intervals = std::max(1, static_cast<int>(std::ceil(spread / step - 1e-9)));
    const int lowPercent = std::max(0, 100 - intervals * step);
    LightingScale scale;
    scale.low = lowPercent / 100.0;
    for (int percent = lowPercent; percent <= 100; percent += step)
        scale.ticks.push_back({percent / 100.0, std::to_string(percent) + "%"});
    return scale;
}

LightingPlot lightingPlot(const BorderLighting& lighting, const TargetLayout& layout, const PlotFrame& frame) {
    LightingPlot plot;
    plot.scale = lightingScale(lighting);
    auto s = [&](int length) { return scaledLength(frame, length); };
    const int panelCount = lighting.corrected ? 2 : 1;
    const int gap = s(20), titleHeight = s(18), legendGap = s(22), legendHeight = s(12), labelGap = s(3),
              labelHeight = s(14);
    const double aspect = chartAspect(layout);
    const int across = (frame.span - (panelCount - 1) * gap) / panelCount;
    const int down = frame.span - titleHeight - legendGap - legendHeight - labelGap - labelHeight;
    const int width = std::min(across, rounded(down * aspect));
    const int height = rounded(width / aspect);

    const int plotLeft = frame.left + frame.inset, plotTop = frame.top + frame.inset;
    const int blockHeight = titleHeight + height + legendGap + legendHeight + labelGap + labelHeight;
    const int blockWidth = panelCount * width + (panelCount - 1) * gap;
    const int top = plotTop + (frame.span - blockHeight) / 2;
    const int left = plotLeft + (frame.span - blockWidth) / 2;

    std::set<std::string> borderNames;
    for (const BorderPatchLight& p : lighting.patches) borderNames.insert(p.cell.name);
    // A 1-pixel (or line-wide) dark seam keeps neighbouring patches apart.
    const int seam = plotLineWidth(frame);
    for (int n = 0; n < panelCount; ++n) {
        LightingPanel panel;
        panel.after = n == 1;
        const int x = left + n * (width + gap), y = top + titleHeight;
        panel.title = {x, top, x + width, y};
        panel.chart = {x, y, x + width, y + height};
        auto box = [&](const PatchCell& cell) {
            return PlotBox{x + rounded(cell.u * width), y + rounded(cell.t * height),
                           x + rounded((cell.u + cell.width) * width) - seam,
                           y + rounded((cell.t + cell.height) * height) - seam};
        };
        for (const BorderPatchLight& p : lighting.patches)
            panel.border.push_back(
                {box(p.cell), lightingScaleColor(plot.scale.fraction(panel.after ? p.after : p.before)), p.leftOut});
        for (const std::vector<PatchCell>* cells : {&layout.colorCells, &layout.grayCells})
            for (const PatchCell& cell : *cells)
                if (!borderNames.count(cell.name)) panel.inner.push_back(box(cell));
        plot.panels.push_back(std::move(panel));
    }

    const int legendTop = top + titleHeight + height + legendGap;
    // As wide as the panels, but never so narrow that the labels crowd.
    const int legendWidth = std::max(blockWidth, frame.span / 2);
    const int legendLeft = plotLeft + (frame.span - legendWidth) / 2;
    plot.legend = {legendLeft, legendTop, legendLeft + legendWidth, legendTop + legendHeight};
    const int labelTop = legendTop + legendHeight + labelGap, labelWidth = s(40);
    for (const LightingTick& tick : plot.scale.ticks) {
        const int tx = legendLeft + rounded(plot.scale.fraction(tick.value) * (legendWidth - 1));
        plot.tickX.push_back(tx);
        plot.tickLabels.push_back({tx - labelWidth / 2, labelTop, tx + labelWidth / 2, labelTop + labelHeight});
    }
    return plot;
}

}  // namespace calivant
