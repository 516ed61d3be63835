#include "profile/tone_curves.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>


namespace calivant {
namespace {

std::vector<double> slopesOf(const std::vector<double>& x, const std::vector<double>& y) {
    std::vector<double> d(x.size()), w(x.size() - 1);
    hermiteSlopes(x, y, d, w);
    return d;
}

TEST(ToneCurve, StraightLineIsReproduced) {
    const std::vector<double> x{0.0, 0.2, 0.5, 1.0};
    const std::vector<double> d = slopesOf(x, x);
    for (double s : d) EXPECT_DOUBLE_EQ(s, 1.0);
    for (double t : {0.0, 0.1, 0.3, 0.77, 1.0}) {
        const std::size_t k = t <= 0.2 ? 1 : (t <= 0.5 ? 2 : 3);
        EXPECT_NEAR(hermiteValue(t, x[k - 1], x[k], x[k - 1], x[k], d[k - 1], d[k]), t, 1e-15);
    }
    ToneCurve curve;
    sampleToneCurve(x, x, d, 0, 65535, curve);
    for (int m : {0, 1, 1000, 32768, 65534, 65535}) EXPECT_EQ(curve.values[m], m);
}

TEST(ToneCurve, TurningAndFlatKnotsGetZeroSlopes) {
    // A target that dips at knot 2: zero slope there, no overshoot.
    const std::vector<double> x{0.0, 0.25, 0.5, 0.75, 1.0};
    const std::vector<double> y{0.0, 0.4, 0.3, 0.6, 1.0};
    const std::vector<double> d = slopesOf(x, y);
    EXPECT_EQ(d[2], 0.0);
    ToneCurve curve;
    sampleToneCurve(x, y, d, 0, 65535, curve);
    for (int m = 16384; m <= 32768; ++m) {
        EXPECT_LE(curve.values[m], 0.4 * 65535 + 0.5);
        EXPECT_GE(curve.values[m], 0.3 * 65535 - 0.5);
    }
    // Equal neighbouring targets: a flat piece with zero slopes at both ends.
    const std::vector<double> flat{0.0, 0.5, 0.5, 0.8, 1.0};
    const std::vector<double> df = slopesOf(x, flat);
    EXPECT_EQ(df[1], 0.0);
    EXPECT_EQ(df[2], 0.0);
}

TEST(ToneCurve, MonotoneDataGivesMonotoneCurves) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> step(0.0, 1.0);
    for (int trial = 0; trial < 50; ++trial) {
        std::vector<double> x{0.0}, y{step(random) * 0.1};
        for (int i = 0; i < 10; ++i) {
            x.push_back(x.back() + 0.01 + step(random));
            y.push_back(y.back() + step(random) * step(random) * step(random));
        }
        for (double& v : x) v /= x.back();
        const double top = y.back() * 1.1;
        for (double& v : y) v /= top;
        ToneCurve curve;
        sampleToneCurve(x, y, slopesOf(x, y), 3000, 60000, curve);
        for (int m = 1; m < kToneCurveLength; ++m) ASSERT_GE(curve.values[m], curve.values[m - 1]) << trial;
    }
}

class BuildToneCurvesTest : public ::testing::Test {
protected:
    void SetUp() override {
        profile.workGrayLab.assign(6, {});
        for (int i = 0; i < 6; ++i) {
            profile.workGrayLab[i] = {20.0 * i, 0.0, 0.0};  // perceptual-like: 0 .. 100
            gray[i] = {0.05 + 0.15 * i, 0.1 + 0.15 * i, 0.02 + 0.18 * i};
        }
        color.fill({0.5, 1.0, 0.0});
    }
    int build() { return buildToneCurves(gray, color, colorSpace, profile, curves, diags); }
    std::array<DeviceRgb, 6> gray{};
    std::array<DeviceRgb, 18> color{};
    int colorSpace = CieLab;
    ProfileResult profile;
    Diagnostics diags;
    std::array<ToneCurve, 3> curves;
};

TEST_F(BuildToneCurvesTest, PerceptualCurvesRunFromZeroToFullScale) {
    ASSERT_EQ(build(), 0);
    const std::int64_t c0 = roundHalfAway(0.05 * 65535);
    const std::int64_t cN = roundHalfAway(0.80 * 65535);
    EXPECT_EQ(curves[0].values[c0], 0);
    EXPECT_EQ(curves[0].values[cN], 65535);
    EXPECT_EQ(curves[0].values[cN + 1], 65535);  // extends with a positive slope
    EXPECT_EQ(curves[0].values[0], 0);
    // Full scale looks up the last entry; the linearized gray ends are 0 and 1.
    EXPECT_EQ(profile.colorLinear[0][1], curves[1].values[65535] * (1.0 / 65535.0));
    EXPECT_EQ(profile.grayLinear[0][0], 0.0);
    EXPECT_EQ(profile.grayLinear[5][2], 1.0);
    EXPECT_TRUE(diags.empty());
}

TEST_F(BuildToneCurvesTest, NegativeImagesAreRefused) {
    gray[5][1] = gray[0][1];
    EXPECT_EQ(build(), 1);
    EXPECT_EQ(diags, (Diagnostics{{Severity::Error, "Cannot profile negative images"}}));
}

TEST_F(BuildToneCurvesTest, ClippedShadowsAndTinyRangesStayFinite) {
    // Two equal darkest values (clipped shadows) and a pair out of order.
    gray[1] = gray[0];
    std::swap(gray[3][2], gray[4][2]);
    ASSERT_EQ(build(), 0);
    // The merged channel stays monotone; the swapped one follows its dip
    // but still runs from 0 to full scale.
    for (int m = 1; m < kToneCurveLength; ++m) ASSERT_GE(curves[0].values[m], curves[0].values[m - 1]);
    // The two equal darkest knots merged: their targets (L* 0 and 20) averaged.
    EXPECT_EQ(curves[2].values[roundHalfAway(0.02 * 65535)], roundHalfAway(0.1 * 65535));
    EXPECT_EQ(curves[2].values[roundHalfAway(0.92 * 65535)], 65535);
    // Darkest and lightest within one code of each other.
    for (int i = 0; i < 6; ++i) gray[i][0] = 0.5 + 1e-7 * i;
    ASSERT_EQ(build(), 0);
    EXPECT_EQ(curves[0].values[0], 0);
    EXPECT_EQ(curves[0].values[65535], 65535);
}

TEST_F(BuildToneCurvesTest, TargetsBeyondWhiteClampInsteadOfWrapping) {
    colorSpace = CieXyz;
    profile.workGrayXYZ.assign(6, {});
    for (int i = 0; i < 6; ++i) profile.workGrayXYZ[i] = {0.0, 5.0 + 22.0 * i, 0.0};  // up to Y 115
    ASSERT_EQ(build(), 0);
    for (int m = 40000; m < kToneCurveLength; ++m) ASSERT_GE(curves[0].values[m], 30000) << m;
    EXPECT_EQ(curves[0].values[65535], 65535);
}

}  // namespace
}  // namespace calivant
