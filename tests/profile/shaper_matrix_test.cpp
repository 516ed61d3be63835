// The shaper/matrix fit against devices whose truth is known.
#include "profile/shaper_matrix.h"

#include <gtest/gtest.h>

#include <random>

#include "make-target/device_kinds.h"
#include "profile/model_fit.h"
#include "support/fit_patches.h"
#include "support/synthetic_scan.h"
#include "util/delta_e.h"

namespace calivant {
namespace {

// A matrix/shaper scanner, rendered, scanned at 16 bits and measured, is
// recovered to about the precision of its reference table (L*a*b* to two
// decimals): curves, colorants and colours between the patches.
TEST(ShaperMatrix, RecoversAMatrixShaperScanner) {
    SyntheticTargetOptions render;
    render.targetType = static_cast<int>(TargetType::It8);
    render.bitsPerSample = 16;
    render.width = 1000;
    render.height = 700;
    const testing::SyntheticScan scan = testing::renderScan(render);
    const TargetMeasurement m = testing::measureScan(scan, AdvancedOptions{});
    const ReferenceData& r = scan.target.reference;
    const FitPatches patches = fitPatchesOf(std::span(m.grayWorking).first(24), std::span(m.colorWorking).first(228),
                                            std::span(r.grayXYZ).first(24), std::span(r.grayLab).first(24),
                                            std::span(r.colorXYZ).first(228), std::span(r.colorLab).first(228));
    MatrixShaper fit;
    ASSERT_EQ(fitMatrixShaper(patches.device, patches.xyz, patches.lab, nullptr, fit), 0);

    const DeviceModel& device = render.device;
    for (int c = 0; c < 3; ++c) {
        EXPECT_NEAR(fit.curves[static_cast<std::size_t>(c)].gamma, device.gamma[static_cast<std::size_t>(c)], 0.02);
        for (int row = 0; row < 3; ++row)
            EXPECT_NEAR(fit.matrix[static_cast<std::size_t>(row)][static_cast<std::size_t>(c)],
                        device.toXyz[static_cast<std::size_t>(row)][static_cast<std::size_t>(c)], 0.2);
    }
    std::mt19937 random(5);
    std::uniform_real_distribution<double> value(0.05, 0.95);
    double sum = 0.0;
    for (int i = 0; i < 500; ++i) {
        const DeviceRgb d{value(random), value(random), value(random)};
        sum += deltaE2000(xyzToLab(fit.xyz(d)), xyzToLab(xyzFromDevice(device, d)));
    }
    EXPECT_LT(sum / 500.0, 0.01);
}

// A dark offset or flare folds into the curves, which hold at 0 below it and
// never turn back; the tags carry the curves as 0..65535.
TEST(ShaperMatrix, CurvesStayNonNegativeAndRising) {
    for (DeviceKind kind : {DeviceKind::Linear, DeviceKind::Camera}) {
        const FitPatches patches = testing::devicePatches(deviceModelOfKind(kind), 0);
        MatrixShaper fit;
        ASSERT_EQ(fitMatrixShaper(patches.device, patches.xyz, patches.lab, nullptr, fit), 0);
        const MatrixTrcTags tags = matrixTrcTagsOf(fit, 1024);
        for (const std::vector<std::uint16_t>& curve : tags.curves) {
            ASSERT_EQ(curve.size(), 1024u);
            EXPECT_EQ(curve.front(), 0) << deviceKindName(kind);
            EXPECT_EQ(curve.back(), 65535);
            EXPECT_TRUE(std::is_sorted(curve.begin(), curve.end()));
        }
        for (const ShaperCurve& curve : fit.curves) EXPECT_LT(curve.offset, 0.0) << deviceKindName(kind);
    }
}

}  // namespace
}  // namespace calivant
