// The illumination correction on synthetic charts lit by a known field: the
// field it finds, the working values it gives, the border patches it leaves
// out, and what it does on charts without border patches.
#include <gtest/gtest.h>

#include <cmath>

#include "make-target/device_kinds.h"
#include "profile/illumination_correction.h"
#include "support/synthetic_scan.h"

namespace calivant {
namespace {

struct LitCase {
    int targetType;
    DeviceKind device;
    double gradient;
    double angle;
    double vignetting;
    double fieldTolerance = 0.003;  // relative, at every patch
};

SyntheticTargetOptions litChart(const LitCase& c) {
    SyntheticTargetOptions o;
    o.targetType = c.targetType;
    o.device = deviceModelOfKind(c.device);
    // Square cells, as a photograph shows the chart; 16 bits, so the field
    // is seen to the last part in a thousand.
    const PatchCell cell = makeTargetLayout(c.targetType).colorCells.front();
    o.width = 900;
    o.height = static_cast<int>(std::lround(o.width * cell.width / cell.height));
    o.bitsPerSample = 16;
    o.gradient = c.gradient;
    o.gradientAngle = c.angle;
    o.vignetting = c.vignetting;
    return o;
}

AdvancedOptions correcting() {
    AdvancedOptions o;
    o.correctIllumination = 1;
    return o;
}

// The field found matches the light the chart was rendered with at every
// patch, and the corrected working values are those of the evenly lit chart.
TEST(IlluminationCorrection, RecoversAKnownField) {
    const LitCase cases[] = {
        // One-sided light across an SG: strong enough that a quadratic in
        // the log misses it by most of a part in a thousand.
        {3, DeviceKind::MatrixShaper, 0.30, 45.0, 0.0, 0.0005},
        {2, DeviceKind::Camera, 0.0, 0.0, 0.30},         // lens vignetting on a DC
        {4, DeviceKind::CameraLook, 0.15, 120.0, 0.0},  // an HCT, whose grays run down one side
    };
    for (const LitCase& c : cases) {
        SCOPED_TRACE(c.targetType);
        const SyntheticTargetOptions lit = litChart(c);
        const testing::SyntheticScan scan = testing::renderScan(lit);
        SyntheticTargetOptions evenOptions = lit;
        evenOptions.gradient = evenOptions.vignetting = 0.0;
        const testing::SyntheticScan even = testing::renderScan(evenOptions);

        TargetMeasurement m = testing::measureScan(scan, correcting());
        const TargetMeasurement before = m;
        correctIllumination(m, scan.target.layout, scan.target.reference, correcting());
        const IlluminationCorrection& ic = m.illumination;
        ASSERT_EQ(ic.status, IlluminationStatus::Corrected);
        EXPECT_TRUE(ic.leftOut.empty());
        const TargetLayout& layout = scan.target.layout;
        double lowest = 1.0;
        for (int i = 0; i < layout.colorCount; ++i) {
            const PatchCell& cell = layout.colorCells[static_cast<std::size_t>(i)];
            const double u = cell.u + 0.5 * cell.width, t = cell.t + 0.5 * cell.height;
            const ImagePoint p = mapTargetPoint(scan.overlay, u, 1.0 - t);
            const double truth = lightAt(lit, p.x, lit.height - 1 - p.y);
            lowest = std::min(lowest, truth);
            EXPECT_NEAR(ic.field.at(u, t) / truth, 1.0, c.fieldTolerance) << cell.name;
            for (int k = 0; k < 3; ++k)
                EXPECT_NEAR(m.colorWorking[static_cast<std::size_t>(i)][k],
                            even.target.expected.color[static_cast<std::size_t>(i)][k], 0.002)
                    << cell.name;
        }
        EXPECT_LE(ic.lowest, lowest + 0.003);
        // What the checks and the log show as measured stays so.
        EXPECT_EQ(m.grayMeasured, before.grayMeasured);
        EXPECT_EQ(m.whiteUniformity, before.whiteUniformity);

        // The picture of the light: the border patches as uneven as the
        // field said before, even after.
        const BorderLighting view = borderLighting(m, layout, scan.target.reference);
        ASSERT_TRUE(view.available && view.corrected);
        ASSERT_EQ(view.patches.size(),
                  static_cast<std::size_t>(layout.whiteCount + layout.midGrayCount + layout.blackCount));
        double beforeLow = 1.0, afterLow = 1.0;
        for (const BorderPatchLight& p : view.patches) {
            if (p.group != BorderGroup::White) continue;
            beforeLow = std::min(beforeLow, p.before);
            afterLow = std::min(afterLow, p.after);
        }
        EXPECT_LT(beforeLow, 0.9);
        EXPECT_GT(afterLow, 0.995);
    }
}

// A border patch that scatters and one that lies off the field are left out
// and named; the field stands on the others.
TEST(IlluminationCorrection, LeavesOutNonUniformAndOutlyingBorderPatches) {
    const LitCase c{3, DeviceKind::MatrixShaper, 0.15, 0.0, 0.0};
    const SyntheticTargetOptions lit = litChart(c);
    const testing::SyntheticScan scan = testing::renderScan(lit);
    TargetMeasurement m = testing::measureScan(scan, correcting());
    const TargetLayout& layout = scan.target.layout;
    m.whiteDeviation[0] = 0.06;                     // A1: a scratch across it
    for (double& v : m.whiteMeasured[4]) v *= 0.96;  // D1: in a shadow
    correctIllumination(m, layout, scan.target.reference, correcting());
    ASSERT_EQ(m.illumination.status, IlluminationStatus::Corrected);
    EXPECT_EQ(illuminationReport(m.illumination),
              (std::vector<std::string>{"Illumination corrected: 0.85 to 1.00 of the brightest",
                                        "Left out of the illumination field: " + layout.whiteCells[0].name +
                                            " (non-uniform), " + layout.whiteCells[4].name + " (outlying)"}));
    const PatchCell& cell = layout.colorCells.front();
    const ImagePoint p = mapTargetPoint(scan.overlay, cell.u + 0.5 * cell.width, 1.0 - cell.t - 0.5 * cell.height);
    EXPECT_NEAR(m.illumination.field.at(cell.u + 0.5 * cell.width, cell.t + 0.5 * cell.height) /
                    lightAt(lit, p.x, lit.height - 1 - p.y),
                1.0, 0.003);
}

// Even light, seen through noise and 8-bit steps, is left as it is, and so
// are charts without border patches; an option that is off changes nothing.
TEST(IlluminationCorrection, EvenLightAndChartsWithoutBorderPatches) {
    SyntheticTargetOptions noisy = litChart({3, DeviceKind::Camera, 0.0, 0.0, 0.0});
    noisy.bitsPerSample = 8;
    noisy.noiseSigma = 0.004;
    const testing::SyntheticScan sg = testing::renderScan(noisy);
    TargetMeasurement m = testing::measureScan(sg, correcting());
    const TargetMeasurement measured = m;
    correctIllumination(m, sg.target.layout, sg.target.reference, correcting());
    EXPECT_EQ(m.illumination.status, IlluminationStatus::Even);
    EXPECT_EQ(m.colorWorking, measured.colorWorking);
    EXPECT_EQ(illuminationReport(m.illumination),
              std::vector<std::string>{"Illumination not corrected: the border patches show even light"});

    for (int type : {0, 1}) {
        SyntheticTargetOptions o;
        o.targetType = type;
        o.gradient = 0.2;
        const testing::SyntheticScan scan = testing::renderScan(o);
        TargetMeasurement n = testing::measureScan(scan, correcting());
        const TargetMeasurement before = n;
        correctIllumination(n, scan.target.layout, scan.target.reference, correcting());
        EXPECT_EQ(n.illumination.status, IlluminationStatus::NoBorderPatches);
        EXPECT_EQ(n.colorWorking, before.colorWorking);
        EXPECT_EQ(illuminationReport(n.illumination),
                  std::vector<std::string>{"Illumination not corrected: the chart has no border patches"});
        EXPECT_FALSE(borderLighting(n, scan.target.layout, scan.target.reference).available);
        correctIllumination(n, scan.target.layout, scan.target.reference, AdvancedOptions{});
        EXPECT_EQ(n.illumination.status, IlluminationStatus::Off);
        EXPECT_TRUE(illuminationReport(n.illumination).empty());
    }
}

}  // namespace
}  // namespace calivant
