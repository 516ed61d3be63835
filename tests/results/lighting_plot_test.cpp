#include "results/lighting_plot.h"

#include <gtest/gtest.h>

#include <cmath>

namespace calivant {
namespace {

BorderPatchLight patch(double before, double after, bool leftOut = false) {
    BorderPatchLight p;
    p.before = before;
    p.after = after;
    p.leftOut = leftOut;
    return p;
}

// The ramp starts where the least even patch the field stood on lies,
// rounded down to a tick, and ticks up to 100% at most five steps.
TEST(LightingScale, SpansTheDimmestFittedPatchInRoundSteps) {
    struct Case {
        double dimmest;
        bool corrected;
        std::vector<std::string> labels;
    };
    const Case cases[] = {
        {1.0, true, {"99%", "100%"}},  // even light still has a scale
        {0.97, false, {"97%", "98%", "99%", "100%"}},
        {0.90, true, {"90%", "92%", "94%", "96%", "98%", "100%"}},  // 10 percent is five steps of 2, not six
        {0.83, true, {"80%", "85%", "90%", "95%", "100%"}},
        {0.30, false, {"20%", "40%", "60%", "80%", "100%"}},
        {0.0, true, {"0%", "20%", "40%", "60%", "80%", "100%"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dimmest);
        BorderLighting lighting;
        lighting.corrected = c.corrected;
        // The dimmest is the before value, or an after value when corrected;
        // a left-out patch and an after value of an uncorrected one count for nothing.
        lighting.patches = {patch(1.0, 1.0), patch(c.corrected ? 1.0 : c.dimmest, c.corrected ? c.dimmest : 0.05),
                            patch(0.01, 0.01, true)};
        const LightingScale scale = lightingScale(lighting);
        std::vector<std::string> labels;
        for (const LightingTick& t : scale.ticks) labels.push_back(t.label);
        EXPECT_EQ(labels, c.labels);
        EXPECT_DOUBLE_EQ(scale.low, scale.ticks.front().value);
        EXPECT_EQ(scale.fraction(scale.low), 0.0);
        EXPECT_EQ(scale.fraction(1.0), 1.0);
        EXPECT_EQ(scale.fraction(-1.0), 0.0);
    }
}

// Brightness must read in order whatever the hue: the ramp's luminance rises
// all along it.
TEST(LightingScale, ColoursGetLighterAlongTheRamp) {
    EXPECT_EQ(lightingScaleColor(0.0), (PlotColor{68, 1, 84}));
    EXPECT_EQ(lightingScaleColor(1.0), (PlotColor{253, 231, 37}));
    EXPECT_EQ(lightingScaleColor(-0.5), lightingScaleColor(0.0));
    EXPECT_EQ(lightingScaleColor(7.0), lightingScaleColor(1.0));
    auto luminance = [](const PlotColor& c) {
        double y = 0.0;
        const double weights[3] = {0.2126, 0.7152, 0.0722};
        for (int k = 0; k < 3; ++k) {
            const double v = c[k] / 255.0;
            y += weights[k] * (v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4));
        }
        return y;
    };
    for (int i = 1; i <= 100; ++i)
        EXPECT_GT(luminance(lightingScaleColor(i / 100.0)), luminance(lightingScaleColor((i - 1) / 100.0))) << i;
}

bool inside(const PlotBox& inner, const PlotBox& outer) {
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

// Before and after side by side at one size, the chart's shape kept, every
// patch in its outline, the legend under them; one panel alone takes more
// room. Everything stays in the plot square at any size.
TEST(LightingPlot, PanelsAndLegendFitThePlotSquare) {
    const TargetLayout layout = makeTargetLayout(static_cast<int>(TargetType::ColorCheckerSg));
    BorderLighting lighting;
    lighting.available = true;
    for (const auto* cells : {&layout.whiteCells, &layout.midGrayCells, &layout.blackCells})
        for (const PatchCell& cell : *cells) {
            lighting.patches.push_back(patch(0.9, 1.0, lighting.patches.size() == 3));
            lighting.patches.back().cell = cell;
        }
    ASSERT_FALSE(lighting.patches.empty());
    for (const PlotFrame& frame : {smallestPlotFrame(5), plotFrameFor(1000, 900, 5)}) {
        SCOPED_TRACE(frame.size);
        const PlotBox square{frame.left + frame.inset, frame.top + frame.inset, frame.left + frame.inset + frame.span,
                             frame.top + frame.inset + frame.span};
        int singleWidth = 0;
        for (const bool corrected : {false, true}) {
            lighting.corrected = corrected;
            const LightingPlot plot = lightingPlot(lighting, layout, frame);
            ASSERT_EQ(plot.panels.size(), corrected ? 2u : 1u);
            for (const LightingPanel& panel : plot.panels) {
                const PlotBox& c = panel.chart;
                EXPECT_NEAR(static_cast<double>(c.right - c.left) / (c.bottom - c.top), chartAspect(layout), 0.02);
                EXPECT_TRUE(inside(panel.title, square) && inside(c, square));
                EXPECT_EQ(panel.title.bottom, c.top);
                ASSERT_EQ(panel.border.size(), lighting.patches.size());
                for (const LightingCell& cell : panel.border) EXPECT_TRUE(inside(cell.box, c));
                EXPECT_TRUE(panel.border[3].leftOut);
                EXPECT_EQ(panel.border[0].color, lightingScaleColor(panel.after ? 1.0 : 0.0));
                EXPECT_EQ(panel.inner.size(), static_cast<std::size_t>(layout.colorCount + layout.grayCount));
                EXPECT_GT(plot.legend.top, c.bottom);
            }
            const int width = plot.panels[0].chart.right - plot.panels[0].chart.left;
            if (!corrected) singleWidth = width;
            if (corrected) {
                const PlotBox &a = plot.panels[0].chart, &b = plot.panels[1].chart;
                EXPECT_EQ(b.right - b.left, width);
                EXPECT_EQ(b.top, a.top);
                EXPECT_LT(a.right, b.left);
                EXPECT_LT(width, singleWidth);
            }
            EXPECT_TRUE(inside(plot.legend, square));
            ASSERT_EQ(plot.tickX.size(), plot.scale.ticks.size());
            EXPECT_EQ(plot.tickX.front(), plot.legend.left);
            EXPECT_EQ(plot.tickX.back(), plot.legend.right - 1);
            const PlotBox background{frame.left, frame.top, frame.left + frame.size, frame.top + frame.size};
            EXPECT_TRUE(inside(plot.tickLabels.front(), background) && inside(plot.tickLabels.back(), background));
        }
    }
}

}  // namespace
}  // namespace calivant
