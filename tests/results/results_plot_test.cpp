#include "results/results_plot.h"

#include <gtest/gtest.h>

namespace calivant {
namespace {

TEST(GamutPlot, PatchesPrimariesAndWhiteOfTheLinearModel) {
    EXPECT_EQ(gamutPixel(0, 0.00125, 0.00125), (PlotPoint{21, 419}));  // half away from zero
    EXPECT_EQ(markerBox({100, 50}, false), (PlotBox{99, 49, 102, 52}));
    EXPECT_EQ(markerBox({100, 50}, true), (PlotBox{98, 48, 103, 53}));
    // X, Y, Z rows over the terms 1, R, G, B: the sRGB primaries (D65 white
    // at Y 100) on a zero black.
    ProfileResult profile;
    profile.linearCoefficients = {{{0, 41.24, 35.76, 18.05}, {0, 21.26, 71.52, 7.22}, {0, 1.93, 11.92, 95.05}}};
    ReferenceData reference;
    reference.colorCount = 81;
    reference.colorLab.fill({50.0, 0.0, 0.0});
    const GamutPlot plot = gamutPlot(reference, profile, CieXyz, 5);
    ASSERT_EQ(plot.patches.size(), 81u);
    EXPECT_EQ(plot.patches[80], (PlotPoint{5 + 20 + 138, 5 + 420 - 143}));  // D50: 0.3457, 0.3585
    EXPECT_EQ(plot.srgb, (std::array{PlotPoint{281, 293}, PlotPoint{145, 185}, PlotPoint{85, 401}}));
    for (int c = 0; c < 3; ++c) EXPECT_EQ(plot.primaries[c], plot.srgb[c]);
    EXPECT_EQ(plot.white, (PlotPoint{5 + 20 + 125, 5 + 420 - 132}));  // D65: 0.3127, 0.3290
    profile.linearCoefficients = {{{0, 0, 0, 0}, {1, 0, 0, 0}, {}}};  // XYZ 0, 1, 0; as Lab, X alone
    EXPECT_EQ(gamutPlot(reference, profile, CieXyz, 0).white, (PlotPoint{20, 20}));
    EXPECT_EQ(gamutPlot(reference, profile, CieLab, 0).white, (PlotPoint{420, 420}));
    EXPECT_FALSE(gamutPlot(ReferenceData{}, ProfileResult{}, CieXyz, 0).white.has_value());  // black: no chromaticity
}

TEST(CurvePoints, TheIdentityIsTheDiagonal) {
    ToneCurve identity;
    for (int v = 0; v < kToneCurveLength; ++v) identity.values[v] = static_cast<std::uint16_t>(v);
    const auto points = curvePoints(identity, 6, 452, 472);
    ASSERT_EQ(points.size(), 256u);
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(points[i], (PlotPoint{26 + i * 400 / 255, 26 + (65535 - i * 257) * 400 / 65535})) << i;
}

TEST(ResultTabs, SplitTheStripAndTheCurrentOneStaysOpen) {
    const auto tabs = resultTabs(0, 480, 460, 500, 5, CurvesView);
    EXPECT_EQ(tabs[0].box, (PlotBox{0, 482, 230, 500}));
    EXPECT_EQ(tabs[1].outline, (std::vector<PlotPoint>{{230, 482}, {235, 499}, {454, 499}, {459, 482}}));
    EXPECT_EQ(tabViewAt(230, 0, 460), GamutView);
    EXPECT_EQ(tabViewAt(231, 0, 460), CurvesView);
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
