#include "measure/gray_smoothing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "measure/advanced_options.h"

namespace calivant {
namespace {

using Vector = std::vector<double>;

TEST(GrayScaleKnots, MovesEqualAndFallingValuesUp) {
    EXPECT_EQ(grayScaleKnots(Vector{0.5, 3.0, 9.0}), (Vector{0.5, 3.0, 9.0}));
    const Vector two = grayScaleKnots(Vector{0.5, 3.0, 3.0, 9.0});
    EXPECT_EQ(two, (Vector{0.5, 3.0, 3.0 + 0.001, 9.0}));
    // Each step builds on the adjusted value before it.
    const Vector three = grayScaleKnots(Vector{3.0, 3.0, 3.0, 9.0});
    EXPECT_EQ(three, (Vector{3.0, 3.0 + 0.001, 3.0 + 0.001 + 0.001, 9.0}));
    EXPECT_NEAR(three[2], 3.002, 1e-15);
    const Vector falling = grayScaleKnots(Vector{5.0, 3.0, 5.0005, 9.0});
    EXPECT_EQ(falling, (Vector{5.0, 5.0 + 0.001, 5.0 + 0.001 + 0.001, 9.0}));
    EXPECT_TRUE(grayScaleKnots(Vector{}).empty());
}

TEST(SmoothingNoiseVariance, OneVariancePerLevel) {
    EXPECT_EQ(smoothingNoiseVariance(SmoothingNone), 0.0);
    EXPECT_EQ(smoothingNoiseVariance(SmoothingLight), 5e-06);
    EXPECT_EQ(smoothingNoiseVariance(SmoothingModerate), 1e-05);
    EXPECT_EQ(smoothingNoiseVariance(SmoothingHeavy), 2e-05);
    EXPECT_EQ(smoothingNoiseVariance(-1), 0.0);
    EXPECT_EQ(smoothingNoiseVariance(4), 0.0);
}

// A gray scale of 24 patches with two pairs of equal reference Y, and three
// noisy channels with different tone curves.
struct GrayScale {
    Vector y;
    Vector red, green, blue;
};

GrayScale noisyGrayScale() {
    GrayScale g;
    for (int i = 0; i < 24; ++i) {
        g.y.push_back(0.7 * std::pow(1.22, i));
        const double t = g.y.back() / 100.0;
        g.red.push_back(std::pow(t, 0.45) + 0.005 * std::sin(5.3 * i));
        g.green.push_back(std::pow(t, 0.50) + 0.005 * std::cos(4.1 * i));
        g.blue.push_back(std::pow(t, 0.40) + 0.005 * std::sin(2.9 * i + 1.0));
    }
    g.y[5] = g.y[4];
    g.y[15] = g.y[14];
    return g;
}

double meanSquaredChange(const Vector& a, const Vector& b) {
    double sum = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i) sum += (a[i] - b[i]) * (a[i] - b[i]);
    return sum / static_cast<double>(a.size());
}

TEST(SmoothGrayScale, LevelNoneLeavesTheMeasurementAlone) {
    Diagnostics diags;
    GrayScale g = noisyGrayScale();
    const GrayScale measured = g;
    EXPECT_EQ(smoothGrayScale(diags, g.y, g.red, g.green, g.blue, SmoothingNone), 0);
    EXPECT_EQ(g.red, measured.red);
    EXPECT_EQ(g.green, measured.green);
    EXPECT_EQ(g.blue, measured.blue);
    EXPECT_TRUE(diags.empty());
}

TEST(SmoothGrayScale, SmoothsEachChannelAtTheAdjustedKnotsWithTheLevelsVariance) {
    const GrayScale measured = noisyGrayScale();
    const Vector knots = grayScaleKnots(measured.y);
    double lastChange = 0.0;
    for (int level : {SmoothingLight, SmoothingModerate, SmoothingHeavy}) {
        SCOPED_TRACE(level);
        Diagnostics diags;
        GrayScale g = measured;
        ASSERT_EQ(smoothGrayScale(diags, g.y, g.red, g.green, g.blue, level), 0);
        EXPECT_TRUE(diags.empty());
        EXPECT_EQ(g.y, measured.y);

        const double val = smoothingNoiseVariance(level);
        for (auto [channel, source] : {std::pair{&g.red, &measured.red}, std::pair{&g.green, &measured.green},
                                       std::pair{&g.blue, &measured.blue}}) {
            Vector expected(knots.size());
            ASSERT_EQ(smoothSeries(diags, knots, *source, val, expected), 0);
            EXPECT_EQ(*channel, expected);
        }
        // A larger noise variance allows a smoother curve further from the data.
        const double change = meanSquaredChange(g.red, measured.red);
        EXPECT_GT(change, lastChange);
        lastChange = change;
    }
    // The noise put in has mean square 1.25e-5; the smoothing removes that
    // order of change, not more.
    EXPECT_GT(lastChange, 2e-6);
    EXPECT_LT(lastChange, 5e-5);
}

TEST(SmoothGrayScale, StraightLinesComeBackUnchanged) {
    // Lines in the knots as the spline sees them: equal reference Y moved
    // apart by the knot adjustment.
    GrayScale g = noisyGrayScale();
    const Vector x = grayScaleKnots(g.y);
    for (std::size_t i = 0; i < g.y.size(); ++i) {
        g.red[i] = 0.01 + 0.0095 * x[i];
        g.green[i] = 0.9 - 0.002 * x[i];
        g.blue[i] = 0.3;
    }
    for (int level : {SmoothingLight, SmoothingModerate, SmoothingHeavy}) {
        Diagnostics diags;
        GrayScale s = g;
        ASSERT_EQ(smoothGrayScale(diags, s.y, s.red, s.green, s.blue, level), 0);
        for (std::size_t i = 0; i < g.y.size(); ++i) {
            EXPECT_NEAR(s.red[i], g.red[i], 1e-12);
            EXPECT_NEAR(s.green[i], g.green[i], 1e-12);
            EXPECT_NEAR(s.blue[i], g.blue[i], 1e-12);
        }
    }
}

TEST(SmoothGrayScale, AFailedFitShowsAnErrorPerChannelAndKeepsTheValues) {
    Diagnostics diags;
    Vector y{1.0, 20.0, 80.0};
    Vector red{0.1, 0.4, 0.9}, green{0.1, 0.5, 0.9}, blue{0.2, 0.4, 0.8};
    const Vector r0 = red, g0 = green, b0 = blue;
    EXPECT_EQ(smoothGrayScale(diags, y, red, green, blue, SmoothingHeavy), 1);
    EXPECT_EQ(diags, Diagnostics(3, Diagnostic{Severity::Error, "Spline Smoothing Error"}));
    EXPECT_EQ(red, r0);
    EXPECT_EQ(green, g0);
    EXPECT_EQ(blue, b0);

    // Knots that are not increasing: smoothSeries does not adjust them.
    Diagnostics other;
    const Vector x{1.0, 2.0, 2.0, 3.0, 4.0};
    Vector out(5, -1.0);
    EXPECT_EQ(smoothSeries(other, x, Vector{0.1, 0.2, 0.3, 0.4, 0.5}, 1e-05, out), 2);
    EXPECT_EQ(other, Diagnostics(1, Diagnostic{Severity::Error, "Spline Smoothing Error"}));
    EXPECT_EQ(out, Vector(5, -1.0));
}

}  // namespace
}  // namespace calivant
