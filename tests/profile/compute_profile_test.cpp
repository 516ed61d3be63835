#include "profile/compute_profile.h"

#include <gtest/gtest.h>

#include <cmath>

#include "profile/color_conversions.h"
#include "shell/recording_platform.h"
#include "shell/scan_session.h"

namespace calivant {
namespace {

class WorkingReferenceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ReferenceData& r = session.reference;
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
    RecordingPlatform platform;
    ScanSession session{platform};
};

TEST_F(WorkingReferenceTest, ColorimetricPassCopies) {
    ASSERT_EQ(prepareWorkingReference(session, false), 0);
    EXPECT_EQ(session.profile.workGrayXYZ[1], (ColorTriple{1.0, 2.0, 3.0}));
    EXPECT_EQ(session.profile.workColorLab[0], (ColorTriple{40.0, 30.0, -20.0}));
    EXPECT_EQ(session.profile.workColorLab.size(), 3u);
}

TEST_F(WorkingReferenceTest, PerceptualPassStretchesLightnessAndKeepsChromaRatios) {
    ASSERT_EQ(prepareWorkingReference(session, true), 0);
    const ProfileResult& p = session.profile;
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
    session.reference.grayLab[0] = {0.0, 0.0, 0.0};
    session.reference.grayLab[2] = {100.0, 0.0, 0.0};
    ASSERT_EQ(prepareWorkingReference(session, true), 0);
    EXPECT_EQ(session.profile.workColorLab[0], (ColorTriple{40.0, 30.0, -20.0}));
    EXPECT_EQ(session.profile.workGrayXYZ[2], labToXyz(CieTriple{100.0, 0.0, 0.0}));
}

TEST_F(WorkingReferenceTest, FlatReferenceGrayIsRefused) {
    session.reference.grayLab[2][0] = 10.0;
    EXPECT_EQ(prepareWorkingReference(session, true), 1);
    EXPECT_EQ(platform.messages(RecordingPlatform::Kind::Error),
              std::vector<std::string>{std::string(kFlatReferenceGrayError)});
}

}  // namespace
}  // namespace calivant
