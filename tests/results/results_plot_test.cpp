#include "results/results_plot.h"

#include <gtest/gtest.h>


namespace calivant {
namespace {

TEST(ResultsPlot, ChromaticityPixelsAndMarkers) {
    const int m = 7;
    // sRGB red: 0.64 * 400 = 256, 0.33 * 400 = 132.
    EXPECT_EQ(gamutPixel(m, 0.64, 0.33), (PlotPoint{m + 276, m + 288}));
    EXPECT_EQ(gamutPixel(m, 0.0, 0.0), (PlotPoint{m + 20, m + 420}));
    EXPECT_EQ(gamutPixel(m, 1.0, 1.0), (PlotPoint{m + 420, m + 20}));
    // Half away from zero: 0.00125 * 400 = 0.5.
    EXPECT_EQ(gamutPixel(0, 0.00125, 0.00125), (PlotPoint{21, 419}));
    EXPECT_EQ(markerBox({100, 50}, false), (PlotBox{99, 49, 102, 52}));
    EXPECT_EQ(markerBox({100, 50}, true), (PlotBox{98, 48, 103, 53}));
}

TEST(ResultsPlot, GamutOfAModelWithTheSrgbPrimaries) {
    ReferenceData reference;
    ProfileResult profile;
    // X, Y, Z rows over the terms 1, R, G, B: the sRGB primaries (D65 scaled
    // to Y = 100 for white) on a zero black.
    profile.linearCoefficients = {{{0.0, 41.24, 35.76, 18.05},
                                           {0.0, 21.26, 71.52, 7.22},
                                           {0.0, 1.93, 11.92, 95.05}}};
    reference.colorCount = 81;
    for (auto& lab : reference.colorLab) lab = {50.0, 0.0, 0.0};
    const int m = 5;
    const GamutPlot plot = gamutPlot(reference, profile, CieXyz, m);
    EXPECT_EQ(plot.patches.size(), 81u);
    // Neutral Lab is D50: x 0.3457, y 0.3585 give 138.28 and 143.4.
    EXPECT_EQ(plot.patches[0], (PlotPoint{m + 20 + 138, m + 420 - 143}));
    ASSERT_TRUE(plot.primaries[0] && plot.primaries[1] && plot.primaries[2] && plot.white);
    EXPECT_EQ(*plot.primaries[0], plot.srgb[0]);
    EXPECT_EQ(*plot.primaries[0], (PlotPoint{m + 276, m + 288}));
    EXPECT_EQ(*plot.primaries[1], plot.srgb[1]);
    EXPECT_EQ(*plot.primaries[2], plot.srgb[2]);
    // D65 white: x 0.3127, y 0.3290.
    EXPECT_EQ(*plot.white, (PlotPoint{m + 20 + 125, m + 420 - 132}));
}

TEST(ResultsPlot, ABlackPrimaryHasNoChromaticity) {
    ReferenceData reference;
    ProfileResult profile;
    profile.linearCoefficients = {};
    reference.colorCount = 0;
    const GamutPlot plot = gamutPlot(reference, profile, CieXyz, 0);
    EXPECT_TRUE(plot.patches.empty());
    EXPECT_FALSE(plot.primaries[0].has_value());
    EXPECT_FALSE(plot.white.has_value());
}

TEST(ResultsPlot, IdentityCurveIsTheDiagonal) {
    ToneCurve identity;
    for (int v = 0; v < kToneCurveLength; ++v) identity.values[static_cast<std::size_t>(v)] = static_cast<std::uint16_t>(v);
    const int m = 6;
    const auto points = curvePoints(identity, m, 440 + 2 * m, 460 + 2 * m);
    ASSERT_EQ(points.size(), 256u);
    EXPECT_EQ(points.front(), (PlotPoint{m + 20, m + 420}));
    EXPECT_EQ(points.back(), (PlotPoint{m + 420, m + 20}));
    for (int i = 0; i < 256; ++i) {
        // x = 20 + i * 400 div 255 and y mirrors it within a pixel.
        EXPECT_EQ(points[static_cast<std::size_t>(i)].x, m + 20 + i * 400 / 255);
        EXPECT_EQ(points[static_cast<std::size_t>(i)].y, m + 20 + (65535 - i * 257) * 400 / 65535);
    }
}

TEST(ResultsPlot, TabsSplitTheStripAndTheCurrentOneStaysOpen) {
    const auto tabs = resultTabs(0, 480, 460, 500, 5, CurvesView);
    EXPECT_EQ(tabs[0].box, (PlotBox{0, 482, 230, 500}));
    EXPECT_EQ(tabs[1].box, (PlotBox{230, 482, 460, 500}));
    EXPECT_EQ(tabs[0].outline.size(), 5u);  // closed along the top
    EXPECT_EQ(tabs[1].outline.size(), 4u);
    EXPECT_EQ(tabs[1].outline[1], (PlotPoint{235, 500}));
    EXPECT_EQ(tabs[1].outline[2], (PlotPoint{455, 500}));
    EXPECT_EQ(tabViewAt(230, 0, 460), GamutView);
    EXPECT_EQ(tabViewAt(231, 0, 460), CurvesView);
}

TEST(ResultsPlot, SpectralLocusEnclosesTheWhitesAndNotThePurpleCorners) {
    EXPECT_TRUE(insideSpectralLocus(kD50ChromaticityX, kD50ChromaticityY));
    EXPECT_TRUE(insideSpectralLocus(0.64, 0.33));
    EXPECT_FALSE(insideSpectralLocus(0.1, 0.9));
    EXPECT_FALSE(insideSpectralLocus(0.6, 0.1));
    EXPECT_FALSE(insideSpectralLocus(0.8, 0.8));
    // 520 nm sits at the locus' top, near (0.074, 0.834).
    const auto& locus = spectralLocus();
    EXPECT_NEAR(locus[28][0], 0.0743, 0.0005);
    EXPECT_NEAR(locus[28][1], 0.8338, 0.0005);
    const auto white = diagramColor(0.3127, 0.3290);
    EXPECT_EQ(white, (std::array<int, 3>{255, 255, 255}));
    const auto green = diagramColor(0.2, 0.7);
    EXPECT_EQ(green[1], 255);
    EXPECT_LT(green[0], 200);
}

}  // namespace
}  // namespace calivant
