#include "profile/compute_profile.h"

#include <gtest/gtest.h>

#include "util/cie.h"

namespace calivant {
namespace {

// Gray L* 10 .. 90 and colours with an L* of 40, below the darkest gray and 0.
ReferenceData reference() {
    ReferenceData r;
    r.grayCount = r.colorCount = 3;
    const CieTriple gray[3] = {{10.0, 0.5, -0.5}, {50.0, 0.0, 0.0}, {90.0, -1.0, 2.0}};
    const CieTriple color[3] = {{40.0, 30.0, -20.0}, {5.0, 10.0, 4.0}, {0.0, 2.0, -2.0}};
    for (int i = 0; i < 3; ++i) {
        r.grayLab[i] = gray[i];
        r.grayXYZ[i] = {1.0, 2.0, 3.0};  // unrelated: the stretch never reads it
        r.colorLab[i] = color[i];
        r.colorXYZ[i] = labToXyz(color[i]);
    }
    return r;
}

TEST(PrepareWorkingReference, CopiesOrStretchesLightnessKeepingChromaRatios) {
    ProfileResult p;
    Diagnostics diags;
    ASSERT_EQ(prepareWorkingReference(reference(), false, p, diags), 0);
    EXPECT_EQ(p.workGrayXYZ[1], (ColorTriple{1.0, 2.0, 3.0}));
    EXPECT_EQ(p.workColorLab, (std::vector<ColorTriple>{{40, 30, -20}, {5, 10, 4}, {0, 2, -2}}));

    ASSERT_EQ(prepareWorkingReference(reference(), true, p, diags), 0);
    EXPECT_EQ(p.workGrayLab[0][0], 0.0);
    EXPECT_EQ(p.workGrayLab[2][0], 100.0);
    // (40 - 10) * 100 / 80 = 37.5; a* and b* scale with L'/L.
    EXPECT_EQ(p.workColorLab[0], (ColorTriple{37.5, 37.5 * 30.0 / 40.0, -20.0 * 37.5 / 40.0}));
    // Darker than gray 0: a* and b* change sign. L* 0: they pass unchanged.
    EXPECT_LT(p.workColorLab[1][1], 0.0);
    EXPECT_EQ(p.workColorLab[2], (ColorTriple{-12.5, 2.0, -2.0}));
    EXPECT_EQ(p.workColorXYZ[2], labToXyz(p.workColorLab[2]));
    EXPECT_TRUE(diags.empty());
}

TEST(PrepareWorkingReference, FlatReferenceGrayIsRefused) {
    ReferenceData r = reference();
    r.grayLab[2][0] = 10.0;
    ProfileResult p;
    Diagnostics diags;
    EXPECT_EQ(prepareWorkingReference(r, true, p, diags), 1);
    EXPECT_EQ(diags, (Diagnostics{{Severity::Error, std::string(kFlatReferenceGrayError)}}));
}

}  // namespace
}  // namespace calivant
