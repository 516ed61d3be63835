#include "profile/compute_profile.h"

#include <gtest/gtest.h>

#include <cmath>

#include "profile/regression.h"
#include "profile/tone_curves.h"
#include "support/synthetic_scan.h"
#include "util/cie.h"

namespace calivant {
namespace {

class WorkingReferenceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ReferenceData& r = reference;
        r.grayCount = 3;
        r.colorCount = 3;
        const CieTriple grayLab[3] = {{10.0, 0.5, -0.5}, {50.0, 0.0, 0.0}, {90.0, -1.0, 2.0}};
        const CieTriple colorLab[3] = {{40.0, 30.0, -20.0}, {5.0, 10.0, 4.0}, {0.0, 2.0, -2.0}};
        for (int i = 0; i < 3; ++i) {
            r.grayLab[i] = grayLab[i];
            r.grayXYZ[i] = {1.0, 2.0, 3.0};  // deliberately unrelated: never used by the stretch
            r.colorLab[i] = colorLab[i];
            r.colorXYZ[i] = labToXyz(colorLab[i]);
        }
    }
    ReferenceData reference;
    ProfileResult profile;
    Diagnostics diags;
};

TEST_F(WorkingReferenceTest, ColorimetricPassCopies) {
    ASSERT_EQ(prepareWorkingReference(reference, false, profile, diags), 0);
    EXPECT_EQ(profile.workGrayXYZ[1], (ColorTriple{1.0, 2.0, 3.0}));
    EXPECT_EQ(profile.workColorLab[0], (ColorTriple{40.0, 30.0, -20.0}));
    EXPECT_EQ(profile.workColorLab.size(), 3u);
}

TEST_F(WorkingReferenceTest, PerceptualPassStretchesLightnessAndKeepsChromaRatios) {
    ASSERT_EQ(prepareWorkingReference(reference, true, profile, diags), 0);
    const ProfileResult& p = profile;
    EXPECT_EQ(p.workGrayLab[0][0], 0.0);
    EXPECT_EQ(p.workGrayLab[2][0], 100.0);
    EXPECT_DOUBLE_EQ(p.workGrayLab[2][1], -100.0 / 90.0);
    // (40 - 10) * 100 / 80 = 37.5; a* and b* scale with L'/L.
    EXPECT_DOUBLE_EQ(p.workColorLab[0][0], 37.5);
    EXPECT_DOUBLE_EQ(p.workColorLab[0][1], 37.5 * 30.0 / 40.0);
    EXPECT_DOUBLE_EQ(p.workColorLab[0][2], -20.0 * 37.5 / 40.0);
    // A patch darker than gray 0: negative L', a* and b* change sign.
    EXPECT_LT(p.workColorLab[1][0], 0.0);
    EXPECT_LT(p.workColorLab[1][1], 0.0);
    // L* exactly 0: a* and b* pass unchanged, nothing becomes NaN.
    EXPECT_EQ(p.workColorLab[2][1], 2.0);
    EXPECT_EQ(p.workColorLab[2][2], -2.0);
    // XYZ always follows from the stretched L*a*b*.
    const CieTriple xyz = labToXyz(p.workGrayLab[1]);
    EXPECT_EQ(p.workGrayXYZ[1], xyz);
    for (const ColorTriple& v : p.workColorXYZ)
        for (double c : v) EXPECT_TRUE(std::isfinite(c));
}

TEST_F(WorkingReferenceTest, AlreadyFullRangeGrayGivesTheSameLab) {
    reference.grayLab[0] = {0.0, 0.0, 0.0};
    reference.grayLab[2] = {100.0, 0.0, 0.0};
    ASSERT_EQ(prepareWorkingReference(reference, true, profile, diags), 0);
    EXPECT_EQ(profile.workColorLab[0], (ColorTriple{40.0, 30.0, -20.0}));
    EXPECT_EQ(profile.workGrayXYZ[2], labToXyz(CieTriple{100.0, 0.0, 0.0}));
}

TEST_F(WorkingReferenceTest, FlatReferenceGrayIsRefused) {
    reference.grayLab[2][0] = 10.0;
    EXPECT_EQ(prepareWorkingReference(reference, true, profile, diags), 1);
    EXPECT_EQ(diags, (Diagnostics{{Severity::Error, std::string(kFlatReferenceGrayError)}}));
}

TEST(ComputeProfile, ColorimetricFitReproducesThePatches) {
    for (int type : {0, 3, 4}) {
        SCOPED_TRACE(type);
        SyntheticTargetOptions render;
        render.targetType = type;
        render.bitsPerSample = 16;
        const testing::SyntheticScan scan = testing::renderScan(render);
        AdvancedOptions options;
        options.clutSize = 17;
        TargetMeasurement m;
        const ProfileComputation computed = testing::computeScan(scan, options, &m);
        ASSERT_EQ(computed.status, 0);
        EXPECT_TRUE(computed.diagnostics.empty());
        // Through the colorimetric curves and model, every colour patch lands
        // near its reference.
        const ProfileResult& p = computed.profile;
        double sum = 0.0, worst = 0.0;
        for (int i = 0; i < scan.target.layout.colorCount; ++i) {
            ColorTriple lin;
            for (int c = 0; c < 3; ++c) lin[c] = linearize(p.colorimetric.toneCurves[c], m.colorWorking[i][c]);
            const ColorTriple lab = evaluateModelLab(p, lin[0], lin[1], lin[2], false);
            const CieTriple& ref = scan.target.reference.colorLab[i];
            const double de = std::hypot(lab[0] - ref[0], lab[1] - ref[1], lab[2] - ref[2]);
            sum += de;
            worst = std::max(worst, de);
        }
        const double mean = sum / scan.target.layout.colorCount;
        EXPECT_LT(mean, 1.0);
        EXPECT_LT(worst, 5.0);
        RecordProperty("meanDeltaE" + std::to_string(type), std::to_string(mean));
    }
}

}  // namespace
}  // namespace calivant
