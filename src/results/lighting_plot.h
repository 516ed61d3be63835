#pragma once
// The geometry of the lighting view: the chart's outline with its border
// patches coloured by their relative brightness, as measured and (when the
// light was corrected) after the correction, side by side on one colour
// scale, with the scale's legend under them. Everything lies in the plot
// square of a PlotFrame, so it grows with the results window as the other
// views do; the window only paints what is computed here.

#include <array>
#include <string>
#include <vector>

#include "profile/illumination_correction.h"
#include "results/results_plot.h"
#include "target/target_layout.h"

namespace calivant {

// 8-bit sRGB.
using PlotColor = std::array<int, 3>;

// The colour at a fraction 0..1 along the scale (clamped): dark violet
// through blue and green to yellow, each step lighter than the last, so
// that brightness reads in order whatever the hue.
PlotColor lightingScaleColor(double fraction);

struct LightingTick {
    double value = 0.0;  // relative brightness
    std::string label;   // "85%"
};

// The range the colours span, from low (the scale's darkest colour) up to
// 1, the brightest patch of each group: low is the dimmest patch the field
// was fitted to, rounded down to a tick, so that a few percent of
// unevenness fill the whole ramp. Ticks run from low to 100% in steps of
// 1, 2, 5, 10 or 20 percent, at most six of them.
struct LightingScale {
    double low = 0.0;
    std::vector<LightingTick> ticks;

    // A relative brightness as a fraction of the scale, clamped to 0..1.
    double fraction(double value) const;
};
LightingScale lightingScale(const BorderLighting& lighting);

struct LightingCell {
    PlotBox box;  // right and bottom excluded
    PlotColor color{};
    bool leftOut = false;
};

struct LightingPanel {
    bool after = false;  // the corrected light, else as measured
    PlotBox title;       // the box its label is centred in
    PlotBox chart;       // the chart's outline, right and bottom excluded
    std::vector<LightingCell> border;
    std::vector<PlotBox> inner;  // the other patches, drawn for orientation
};

struct LightingPlot {
    std::vector<LightingPanel> panels;  // before, and after when corrected
    LightingScale scale;
    PlotBox legend;  // the colour bar, low on the left; right and bottom excluded
    // Where each tick of scale sits on the bar (x) and the box its label is
    // centred in.
    std::vector<int> tickX;
    std::vector<PlotBox> tickLabels;
};

// The panels, each as wide as the chart's aspect lets the plot square hold
// (two panels share its width), and the legend centred under them; the
// whole centred in the plot square.
LightingPlot lightingPlot(const BorderLighting& lighting, const TargetLayout& layout, const PlotFrame& frame);

}  // namespace calivant
