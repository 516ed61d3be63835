#include "util/cie.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <cmath>
#include <limits>

namespace calivant {
namespace {

// Ours against Little CMS both ways, and our round trip. Little CMS uses the
// exact CIE constants ((6/29)^3, 841/108) where we keep 0.008856 and 7.787;
// the two agree to well under 1e-3 L*.
TEST(Cie, LabAgreesWithLittleCmsAndRoundTrips) {
    const cmsCIEXYZ d50{0.9642, 1.0, 0.8249};
    for (double x : {0.0, 0.2, 0.7, 3.0, 18.0, 45.0, 96.42, 110.0})
        for (double y : {0.0, 0.3, 0.8, 5.0, 19.0, 50.0, 100.0})
            for (double z : {0.0, 0.25, 0.6, 4.0, 20.0, 82.49, 90.0}) {
                const cmsCIEXYZ in{x / 100.0, y / 100.0, z / 100.0};
                cmsCIELab lab;
                cmsCIEXYZ back;
                cmsXYZ2Lab(&d50, &lab, &in);
                cmsLab2XYZ(&d50, &back, &lab);
                const CieTriple ours = xyzToLab(CieTriple{x, y, z});
                const CieTriple got[] = {ours, labToXyz(CieTriple{lab.L, lab.a, lab.b}), labToXyz(ours)};
                const CieTriple ref[] = {{lab.L, lab.a, lab.b}, {back.X * 100, back.Y * 100, back.Z * 100}, {x, y, z}};
                for (int k = 0; k < 9; ++k)
                    EXPECT_NEAR(got[k / 3][k % 3], ref[k / 3][k % 3], k < 6 ? 1e-3 : 1e-9) << x << " " << y << " " << z;
            }
}

TEST(Cie, SegmentsSwitchAtTheClassicThreshold) {
    EXPECT_EQ(labF(0.008856), 7.787 * 0.008856 + 16.0 / 116.0);  // linear up to it, inclusive
    EXPECT_EQ(labF(0.0088561), std::pow(0.0088561, 0.3333333333333333));
    // The inverse tests the cube of its argument: 0.2^3 is below the threshold, 0.21^3 above.
    EXPECT_NEAR(labFInverse(0.2), (0.2 - 16.0 / 116.0) / 7.787, 1e-15);
    EXPECT_NEAR(labFInverse(0.21), 0.21 * 0.21 * 0.21, 1e-15);
    double cx = 0, cy = 0;
    chromaticity(96.42, 100.0, 82.49, cx, cy);
    EXPECT_NEAR(cx, 0.345703, 5e-7);
    EXPECT_NEAR(cy, 0.358539, 5e-7);
}

TEST(Cie, RoundHalfAwayFromZero) {
    const std::pair<double, std::int64_t> cases[] = {
        {2.5, 3}, {-2.5, -3}, {-0.5, -1}, {0.49999, 0}, {-0.49999, 0}, {65534.5, 65535}, {-7.2, -7},
        {4294967295.4, 4294967295LL}, {1e300, std::numeric_limits<std::int64_t>::max()},
        {-1e300, std::numeric_limits<std::int64_t>::min()}, {std::numeric_limits<double>::quiet_NaN(), 0}};
    for (const auto& [value, expected] : cases) EXPECT_EQ(roundHalfAway(value), expected) << value;
}

}  // namespace
}  // namespace calivant
