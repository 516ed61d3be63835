#include "util/cie.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <cmath>
#include <limits>

#include "profile/profile_result.h"
#include "profile/regression.h"

namespace calivant {
namespace {

TEST(ColorConversions, WhiteAndBlackAreFixedPoints) {
    double l = 0, a = 0, b = 0;
    xyzToLab(96.42, 100.0, 82.49, l, a, b);
    EXPECT_NEAR(l, 100.0, 1e-12);
    EXPECT_NEAR(a, 0.0, 1e-12);
    EXPECT_NEAR(b, 0.0, 1e-12);
    xyzToLab(0, 0, 0, l, a, b);
    EXPECT_NEAR(l, 0.0, 1e-12);
    EXPECT_NEAR(a, 0.0, 1e-12);
    EXPECT_NEAR(b, 0.0, 1e-12);

    const CieTriple white = labToXyz(CieTriple{100, 0, 0});
    EXPECT_NEAR(white[0], 96.42, 1e-12);
    EXPECT_NEAR(white[1], 100.0, 1e-12);
    EXPECT_NEAR(white[2], 82.49, 1e-12);
    const CieTriple black = labToXyz(CieTriple{0, 0, 0});
    for (double v : black) EXPECT_NEAR(v, 0.0, 1e-12);
}

TEST(ColorConversions, SegmentsSwitchAtTheClassicThreshold) {
    // Exactly at the threshold the linear segment applies.
    EXPECT_EQ(labF(0.008856), 7.787 * 0.008856 + 16.0 / 116.0);
    EXPECT_EQ(labF(0.0088561), std::pow(0.0088561, 0.3333333333333333));
    // The inverse tests the cube of its argument: 0.2^3 = 0.008 is below the
    // threshold (linear), 0.21^3 = 0.009261 above it (cube).
    EXPECT_NEAR(labFInverse(0.2), (0.2 - 16.0 / 116.0) / 7.787, 1e-15);
    EXPECT_NEAR(labFInverse(0.21), 0.21 * 0.21 * 0.21, 1e-15);
    EXPECT_NEAR(labFInverse(0.1), (0.1 - 16.0 / 116.0) / 7.787, 1e-15);
    // Nothing clips: a strongly negative L* gives negative XYZ.
    const CieTriple xyz = labToXyz(CieTriple{-50, 0, 0});
    EXPECT_LT(xyz[0], 0.0);
    EXPECT_LT(xyz[1], 0.0);
    EXPECT_NEAR(xyz[1], ((-34.0 / 116.0) - 16.0 / 116.0) / 7.787 * 100.0, 1e-9);
}

// Little CMS uses the exact CIE constants ((6/29)^3 and 841/108) where the
// program keeps 0.008856 and 7.787; the two agree to well under 1e-3 L*.
TEST(ColorConversions, AgreeWithLittleCms) {
    const cmsCIEXYZ d50{0.9642, 1.0, 0.8249};
    int checked = 0;
    for (double x : {0.0, 0.2, 0.7, 3.0, 18.0, 45.0, 96.42, 110.0}) {
        for (double y : {0.0, 0.3, 0.8, 5.0, 19.0, 50.0, 100.0}) {
            for (double z : {0.0, 0.25, 0.6, 4.0, 20.0, 82.49, 90.0}) {
                const cmsCIEXYZ in{x / 100.0, y / 100.0, z / 100.0};
                cmsCIELab expected;
                cmsXYZ2Lab(&d50, &expected, &in);
                const CieTriple lab = xyzToLab(CieTriple{x, y, z});
                EXPECT_NEAR(lab[0], expected.L, 1e-3) << x << " " << y << " " << z;
                EXPECT_NEAR(lab[1], expected.a, 1e-3) << x << " " << y << " " << z;
                EXPECT_NEAR(lab[2], expected.b, 1e-3) << x << " " << y << " " << z;

                cmsCIEXYZ back;
                cmsLab2XYZ(&d50, &back, &expected);
                const CieTriple xyz = labToXyz(CieTriple{expected.L, expected.a, expected.b});
                EXPECT_NEAR(xyz[0], back.X * 100.0, 1e-3);
                EXPECT_NEAR(xyz[1], back.Y * 100.0, 1e-3);
                EXPECT_NEAR(xyz[2], back.Z * 100.0, 1e-3);
                ++checked;
            }
        }
    }
    EXPECT_EQ(checked, 8 * 7 * 7);
}

TEST(ColorConversions, RoundTripAwayFromTheSeam) {
    for (double x : {1.0, 12.5, 40.0, 95.0})
        for (double y : {2.0, 20.0, 60.0, 99.0})
            for (double z : {1.5, 15.0, 70.0}) {
                const CieTriple back = labToXyz(xyzToLab(CieTriple{x, y, z}));
                EXPECT_NEAR(back[0], x, 1e-9);
                EXPECT_NEAR(back[1], y, 1e-9);
                EXPECT_NEAR(back[2], z, 1e-9);
            }
}

TEST(ColorConversions, ChromaticityOfD50) {
    double cx = 0, cy = 0;
    chromaticity(96.42, 100.0, 82.49, cx, cy);
    EXPECT_NEAR(cx, 0.345703, 5e-7);
    EXPECT_NEAR(cy, 0.358539, 5e-7);
}

// The colorants come from the Linear model whatever model was chosen, with
// its constant term, converted from L*a*b* through Little CMS's formula here.
TEST(PrimaryXyz, LinearModelAtTheUnitPrimaries) {
    ProfileResult result;
    result.linearCoefficients = {{{10, 30, 50, 5}, {2, 60, -70, 8}, {-1, 40, 20, -90}}};
    result.effectiveModel = Cubic;
    for (auto& row : result.modelCoefficients) row.fill(1000.0);  // must not be used

    const cmsCIEXYZ d50{0.9642, 1.0, 0.8249};
    for (int channel = 0; channel < 3; ++channel) {
        const cmsCIELab lab{result.linearCoefficients[0][0] + result.linearCoefficients[0][channel + 1],
                            result.linearCoefficients[1][0] + result.linearCoefficients[1][channel + 1],
                            result.linearCoefficients[2][0] + result.linearCoefficients[2][channel + 1]};
        cmsCIEXYZ expected;
        cmsLab2XYZ(&d50, &expected, &lab);
        const CieTriple xyz = primaryXyz(result, CieLab, channel);
        EXPECT_NEAR(xyz[0], expected.X * 100, 1e-3) << channel;
        EXPECT_NEAR(xyz[1], expected.Y * 100, 1e-3) << channel;
        EXPECT_NEAR(xyz[2], expected.Z * 100, 1e-3) << channel;
    }
    // In XYZ the values are taken as they are, negative components set to 0.
    EXPECT_EQ(primaryXyz(result, CieXyz, 0), (CieTriple{40, 62, 39}));
    EXPECT_EQ(primaryXyz(result, CieXyz, 1), (CieTriple{60, 0, 19}));
    EXPECT_EQ(primaryXyz(result, CieXyz, 2), (CieTriple{15, 10, 0}));
}

TEST(RoundHalfAway, HalvesGoAwayFromZero) {
    EXPECT_EQ(roundHalfAway(2.5), 3);
    EXPECT_EQ(roundHalfAway(-2.5), -3);
    EXPECT_EQ(roundHalfAway(-0.5), -1);
    EXPECT_EQ(roundHalfAway(0.49999), 0);
    EXPECT_EQ(roundHalfAway(-0.49999), 0);
    EXPECT_EQ(roundHalfAway(65534.5), 65535);
    EXPECT_EQ(roundHalfAway(-7.2), -7);
    EXPECT_EQ(roundHalfAway(4294967295.4), 4294967295LL);
    // Out of range and NaN stay defined.
    EXPECT_EQ(roundHalfAway(1e300), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(roundHalfAway(-1e300), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(roundHalfAway(std::numeric_limits<double>::quiet_NaN()), 0);
}

}  // namespace
}  // namespace calivant
