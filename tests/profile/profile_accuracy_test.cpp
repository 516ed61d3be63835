// End to end: a synthetic scan of each target type, rendered from a known
// device, gives a profile whose colorimetric table, applied by Little CMS to
// device colours that are not patches of the target, lands close to the
// device's true colours.
#include <gtest/gtest.h>
#include <lcms2.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>

#include "output/icc_profile.h"
#include "output/profile_record.h"
#include "support/synthetic_scan.h"
#include "util/cie.h"

namespace calivant {
namespace {

struct Accuracy {
    double mean = 0.0, p95 = 0.0;
};

// CIEDE2000 of the profile's A2B1 against the device's true colour, over
// random device colours inside the range the target spans.
Accuracy accuracyOf(int targetType, int colorSpace, int bits) {
    SyntheticTargetOptions options;
    options.targetType = targetType;
    options.bitsPerSample = bits;
    options.width = 700;
    options.height = 480;
    const testing::SyntheticScan scan = testing::renderScan(options);
    AdvancedOptions o;
    o.colorSpace = colorSpace;
    o.clutSize = 33;
    TargetMeasurement m;
    const ProfileComputation computed = testing::computeScan(scan, o, &m);
    EXPECT_EQ(computed.status, 0);
    const ProfileRecord record{"accuracy", "", targetType, 1, o, scan.target.layout, m, computed.profile};
    std::vector<std::uint8_t> bytes;
    EXPECT_EQ(buildIccProfile(iccProfileSettingsOf(record), computed.profile, LocalTime{2026, 1, 1}, bytes), 0);

    cmsHPROFILE device = cmsOpenProfileFromMem(bytes.data(), static_cast<cmsUInt32Number>(bytes.size()));
    cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);  // D50
    cmsHTRANSFORM transform =
        cmsCreateTransform(device, TYPE_RGB_16, lab, TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOOPTIMIZE);
    EXPECT_NE(transform, nullptr);

    std::mt19937 random(11);
    std::uniform_real_distribution<double> value(0.08, 0.92);
    std::vector<double> errors;
    for (int i = 0; i < 2000 && transform; ++i) {
        cmsUInt16Number in[3];
        for (int c = 0; c < 3; ++c) in[c] = static_cast<cmsUInt16Number>(std::lround(value(random) * 65535));
        cmsCIELab got;
        cmsDoTransform(transform, in, &got, 1);
        const DeviceRgb rgb{in[0] / 65535.0, in[1] / 65535.0, in[2] / 65535.0};
        const CieTriple truth = xyzToLab(xyzFromDevice(options.device, rgb));
        const cmsCIELab expected{truth[0], truth[1], truth[2]};
        errors.push_back(cmsCIE2000DeltaE(&got, &expected, 1, 1, 1));
    }
    if (transform) cmsDeleteTransform(transform);
    cmsCloseProfile(lab);
    cmsCloseProfile(device);

    if (errors.empty()) return {1e9, 1e9};
    std::sort(errors.begin(), errors.end());
    return {std::accumulate(errors.begin(), errors.end(), 0.0) / errors.size(), errors[errors.size() * 95 / 100]};
}

TEST(ProfileAccuracy, A2B1MatchesTheDeviceBetweenThePatches) {
    struct Case {
        int targetType, colorSpace, bits;
        double meanLimit, p95Limit;
    };
    // The ColorChecker's 24 patches fit only a quadratic model and span a
    // smaller gamut, so its limits are wider.
    const Case cases[] = {{0, CieLab, 16, 1.0, 2.0}, {1, CieLab, 8, 3.0, 6.0}, {2, CieXyz, 8, 0.5, 1.0},
                          {3, CieLab, 16, 1.0, 2.0}, {4, CieXyz, 16, 0.5, 1.0}};
    for (const Case& c : cases) {
        const Accuracy a = accuracyOf(c.targetType, c.colorSpace, c.bits);
        std::printf("target %d: mean dE2000 %.3f, 95th percentile %.3f\n", c.targetType, a.mean, a.p95);
        EXPECT_LT(a.mean, c.meanLimit) << "target " << c.targetType;
        EXPECT_LT(a.p95, c.p95Limit) << "target " << c.targetType;
    }
}

}  // namespace
}  // namespace calivant
