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

TEST(ToneCurve, TurningAndFlatKnotsGetZeroSlopes) {
    const std::vector<double> x{0.0, 0.25, 0.5, 0.75, 1.0};
    EXPECT_EQ(slopesOf(x, {0.0, 0.4, 0.3, 0.6, 1.0})[2], 0.0);  // a dip at knot 2
    const std::vector<double> flat = slopesOf(x, {0.0, 0.5, 0.5, 0.8, 1.0});
    EXPECT_EQ(flat[1], 0.0);
    EXPECT_EQ(flat[2], 0.0);
    EXPECT_GT(flat[3], 0.0);  // only the flat piece's own ends
    EXPECT_EQ(slopesOf(x, {0.0, 0.2, 0.5, 1.0, 1.0})[3], 0.0);  // flat at the top
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
    }
    int build() { return buildToneCurves(gray, color, colorSpace, profile, curves, diags); }
    std::array<DeviceRgb, 6> gray{};
    std::array<DeviceRgb, 1> color{{{0.5, 1.0, 0.0}}};
    int colorSpace = CieLab;
    ProfileResult profile;
    Diagnostics diags;
    std::array<ToneCurve, 3> curves;
};

TEST_F(BuildToneCurvesTest, NegativeImagesAreRefused) {
    gray[5][1] = gray[0][1];
    EXPECT_EQ(build(), 1);
    EXPECT_EQ(diags, (Diagnostics{{Severity::Error, "Cannot profile negative images"}}));
}

TEST_F(BuildToneCurvesTest, ClippedShadowsAndTinyRangesStayFinite) {
    // Two equal darkest values (clipped shadows), merged with their
    // targets (L* 0 and 20) averaged, and a pair out of order in blue.
    gray[1] = gray[0];
    std::swap(gray[3][2], gray[4][2]);
    ASSERT_EQ(build(), 0);
    for (int m = 1; m < kToneCurveLength; ++m) ASSERT_GE(curves[0].values[m], curves[0].values[m - 1]);
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
