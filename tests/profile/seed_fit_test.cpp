// The seed models of the fitting API are the profile computation's tone
// curves and regression, to the bit: an automatic profile that settles on a
// CIE Lab model gets the very tables of that fixed model.
#include <gtest/gtest.h>

#include "profile/compute_profile.h"
#include "profile/model_fit.h"
#include "profile/tone_curves.h"
#include "support/synthetic_scan.h"

namespace calivant {
namespace {

TEST(SeedFit, ToneCurveShapeGivesTheSampledEntries) {
    const std::vector<double> gray = {0.031, 0.05, 0.05, 0.2, 0.45, 0.449, 0.93};  // a tie and a dip
    const std::vector<double> target = {0.04, 0.09, 0.1, 0.3, 0.6, 0.61, 0.95};
    ToneCurveShape shape;
    ASSERT_EQ(shapeToneCurve(gray, target, shape), 0);
    ToneCurve sampled;
    sampleToneCurve(shape, sampled);
    for (std::int64_t code = 0; code < kToneCurveLength; ++code)
        ASSERT_EQ(shape.entry(code), sampled.values[static_cast<std::size_t>(code)]) << code;
    EXPECT_EQ(shapeToneCurve(std::vector<double>{0.5, 0.4}, std::vector<double>{0.1, 0.9}, shape), 1);
}

TEST(SeedFit, SeedModelsAreTheRegressionOfTheProfile) {
    SyntheticTargetOptions render;
    render.targetType = static_cast<int>(TargetType::ColorCheckerDc);
    render.noiseSigma = 0.01;
    const testing::SyntheticScan scan = testing::renderScan(render);
    for (int colorSpace : {CieXyz, CieLab}) {
        AdvancedOptions options;
        options.colorSpace = colorSpace;
        TargetMeasurement m;
        const ProfileComputation c = testing::computeScan(scan, options, &m);
        ASSERT_EQ(c.status, 0);
        const ReferenceData& r = scan.target.reference;
        const auto g = static_cast<std::size_t>(r.grayCount);
        const auto n = static_cast<std::size_t>(r.colorCount);
        const FitPatches patches = fitPatchesOf(std::span(m.grayWorking).first(g), std::span(m.colorWorking).first(n),
                                                std::span(r.grayXYZ).first(g), std::span(r.grayLab).first(g),
                                                std::span(r.colorXYZ).first(n), std::span(r.colorLab).first(n));
        FittedModel fitted;
        ASSERT_EQ(fitModel(patches, seedFitModel(colorSpace, Cubic), {}, fitted), 0);
        EXPECT_EQ(fitted.coefficients, c.profile.modelCoefficients);
        for (std::size_t i = 0; i < n; ++i) EXPECT_EQ(fitted.linear(patches.device[g + i]), c.profile.colorLinear[i]);
    }
}

}  // namespace
}  // namespace calivant
