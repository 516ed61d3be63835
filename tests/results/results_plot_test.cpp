#include "results/results_plot.h"

#include <gtest/gtest.h>

namespace calivant {
namespace {

TEST(PlotFrame, TheSmallestWindowHasThe440PixelBackgroundAndLargerOnesTheLargestCentredSquare) {
    EXPECT_EQ(plotFrameFor(452, 472, 6), smallestPlotFrame(6));
    EXPECT_EQ(smallestPlotFrame(6), (PlotFrame{6, 6, 440, 20, 400}));
    // 1000 x 700: the height decides (700 - 20 - 12 = 668), centred across.
    const PlotFrame wide = plotFrameFor(1000, 700, 6);
    EXPECT_EQ(wide, (PlotFrame{166, 6, 668, 30, 608}));
    EXPECT_EQ(plotFrameFor(700, 1000, 6), (PlotFrame{6, 146, 688, 31, 626}));
    EXPECT_EQ(plotFrameFor(300, 300, 6).size, 440);  // never below the smallest
    EXPECT_EQ(gamutPixel(wide, 1.0, 0.0), (PlotPoint{166 + 30 + 608, 6 + 30 + 608}));
    EXPECT_EQ((std::array{plotLineWidth(wide), plotLineWidth(plotFrameFor(1000, 1000, 0))}), (std::array{1, 2}));
}

TEST(GamutPlot, PatchesPrimariesAndWhiteOfTheLinearModel) {
    const PlotFrame at0 = smallestPlotFrame(0);
    EXPECT_EQ(gamutPixel(at0, 0.00125, 0.00125), (PlotPoint{21, 419}));  // half away from zero
    EXPECT_EQ(markerBox({100, 50}, false, at0), (PlotBox{99, 49, 102, 52}));
    EXPECT_EQ(markerBox({100, 50}, true, at0), (PlotBox{98, 48, 103, 53}));
    EXPECT_EQ(markerBox({100, 50}, true, plotFrameFor(900, 920, 0)), (PlotBox{96, 46, 105, 55}));
    // X, Y, Z rows over the terms 1, R, G, B: the sRGB primaries (D65 white
    // at Y 100) on a zero black.
    ProfileResult profile;
    profile.linearCoefficients = {{{0, 41.24, 35.76, 18.05}, {0, 21.26, 71.52, 7.22}, {0, 1.93, 11.92, 95.05}}};
    ReferenceData reference;
    reference.colorCount = 81;
    reference.colorLab.fill({50.0, 0.0, 0.0});
    const GamutPlot plot = gamutPlot(reference, profile, CieXyz, smallestPlotFrame(5));
    ASSERT_EQ(plot.patches.size(), 81u);
    EXPECT_EQ(plot.patches[80], (PlotPoint{5 + 20 + 138, 5 + 420 - 143}));  // D50: 0.3457, 0.3585
    EXPECT_EQ(plot.srgb, (std::array{PlotPoint{281, 293}, PlotPoint{145, 185}, PlotPoint{85, 401}}));
    for (int c = 0; c < 3; ++c) EXPECT_EQ(plot.primaries[c], plot.srgb[c]);
    EXPECT_EQ(plot.white, (PlotPoint{5 + 20 + 125, 5 + 420 - 132}));  // D65: 0.3127, 0.3290
    profile.linearCoefficients = {{{0, 0, 0, 0}, {1, 0, 0, 0}, {}}};  // XYZ 0, 1, 0; as Lab, X alone
    EXPECT_EQ(gamutPlot(reference, profile, CieXyz, at0).white, (PlotPoint{20, 20}));
    EXPECT_EQ(gamutPlot(reference, profile, CieLab, at0).white, (PlotPoint{420, 420}));
    EXPECT_FALSE(gamutPlot(ReferenceData{}, ProfileResult{}, CieXyz, at0).white.has_value());  // black: no chromaticity
}

TEST(CurvePoints, TheIdentityIsTheDiagonal) {
    ToneCurve identity;
    for (int v = 0; v < kToneCurveLength; ++v) identity.values[v] = static_cast<std::uint16_t>(v);
    const auto points = curvePoints(identity, smallestPlotFrame(6));
    ASSERT_EQ(points.size(), 256u);
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(points[i], (PlotPoint{26 + i * 400 / 255, 26 + (65535 - i * 257) * 400 / 65535})) << i;
}

TEST(ResultTabs, SplitTheStripAndTheCurrentOneStaysOpen) {
    const auto tabs = resultTabs(0, 480, 460, 500, 5, 2, CurvesView);
    ASSERT_EQ(tabs.size(), 2u);
    EXPECT_EQ(tabs[0].box, (PlotBox{0, 482, 230, 500}));
    EXPECT_EQ(tabs[0].outline.size(), 5u);  // closed along its top
    EXPECT_EQ(tabs[1].outline, (std::vector<PlotPoint>{{230, 482}, {235, 499}, {454, 499}, {459, 482}}));
    // Three tabs in thirds, the last to the strip's edge.
    const auto three = resultTabs(0, 480, 461, 500, 5, 3, 0);
    EXPECT_EQ((std::array{three[1].box.left, three[2].box.left, three[2].box.right}), (std::array{153, 307, 461}));
    const struct {
        int x, count, view;
    } presses[] = {{230, 2, GamutView}, {231, 2, CurvesView}, {153, 3, 0}, {154, 3, 1}, {307, 3, 1}, {308, 3, 2}};
    for (const auto& p : presses) EXPECT_EQ(tabViewAt(p.x, 0, p.count == 2 ? 460 : 461, p.count), p.view) << p.x;
}

TEST(ChromaticityDiagram, LocusEnclosesTheWhitesAndColoursThem) {
    EXPECT_TRUE(insideSpectralLocus(kD50ChromaticityX, kD50ChromaticityY));
    EXPECT_FALSE(insideSpectralLocus(0.6, 0.1));
    EXPECT_NEAR(spectralLocus()[28][1], 0.8338, 0.0005);  // 520 nm at the top
    EXPECT_EQ(diagramColor(0.3127, 0.3290), (std::array<int, 3>{255, 255, 255}));
    EXPECT_EQ(diagramColor(0.2, 0.7)[1], 255);
}

}  // namespace
}  // namespace calivant
