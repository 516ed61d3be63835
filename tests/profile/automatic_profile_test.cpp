// Profiles with the automatic model choice, end to end on synthetic scans.
#include <gtest/gtest.h>
#include <lcms2.h>

#include <random>

#include "make-target/device_kinds.h"
#include "output/icc_profile.h"
#include "profile/compute_profile.h"
#include "profile/model_fit.h"
#include "support/synthetic_scan.h"
#include "util/delta_e.h"

namespace calivant {
namespace {

struct AutomaticScan {
    testing::SyntheticScan scan;
    TargetMeasurement measurement;
    AdvancedOptions options;
    ProfileComputation computed;
};

AutomaticScan automaticProfileOf(DeviceKind kind) {
    SyntheticTargetOptions render;
    render.targetType = static_cast<int>(TargetType::It8);
    render.device = deviceModelOfKind(kind);
    render.width = 700;
    render.height = 480;
    AutomaticScan a;
    a.scan = testing::renderScan(render);
    a.options.regressionModel = Automatic;
    a.options.colorSpace = CieLab;  // overruled: the model decides the tables' space
    a.computed = testing::computeScan(a.scan, a.options, &a.measurement);
    return a;
}

FitModel usedModel(const ProfileComputation& c) {
    return c.profile.accuracy.candidates.at(static_cast<std::size_t>(c.profile.accuracy.used)).model;
}

// A device whose channels mix after its curves takes the model that mixes
// before them too; the others do without it.
TEST(AutomaticProfile, PicksTheModelTheDeviceAsksFor) {
    const AutomaticScan matrixShaper = automaticProfileOf(DeviceKind::MatrixShaper);
    ASSERT_EQ(matrixShaper.computed.status, 0);
    EXPECT_EQ(usedModel(matrixShaper.computed), FitModel::ShaperMatrix);
    EXPECT_EQ(matrixShaper.computed.profile.accuracy.candidates.size(), static_cast<std::size_t>(kFitModelCount));

    for (DeviceKind kind : {DeviceKind::Crosstalk, DeviceKind::Saturation, DeviceKind::CameraLook}) {
        const AutomaticScan mixing = automaticProfileOf(kind);
        ASSERT_EQ(mixing.computed.status, 0);
        EXPECT_EQ(usedModel(mixing.computed), FitModel::MixingShaper) << deviceKindName(kind);
    }
}

// Both halves of the profile describe one device: read through its
// matrix/TRC tags alone, or through A2B1, Little CMS gives the same colours.
TEST(AutomaticProfile, MatrixTrcTagsAndA2B1AgreeThroughLittleCms) {
    const AutomaticScan a = automaticProfileOf(DeviceKind::MatrixShaper);
    ASSERT_EQ(a.computed.status, 0);
    const ProfileRecord record{"automatic", "", a.scan.target.targetType, 1, a.options, a.scan.target.layout,
                               a.measurement, a.computed.profile};
    std::vector<std::uint8_t> bytes;
    ASSERT_EQ(buildIccProfile(iccProfileSettingsOf(record), a.computed.profile, LocalTime{2026, 1, 1}, bytes), 0);
    // A shaper/matrix is written in XYZ, where its tables are exact.
    EXPECT_EQ(std::string(bytes.begin() + 20, bytes.begin() + 24), "XYZ ");

    cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
    auto transformOf = [&](bool matrixTrcOnly) {
        cmsHPROFILE p = cmsOpenProfileFromMem(bytes.data(), static_cast<cmsUInt32Number>(bytes.size()));
        if (matrixTrcOnly) {
            cmsWriteTag(p, cmsSigAToB0Tag, nullptr);
            cmsWriteTag(p, cmsSigAToB1Tag, nullptr);
        }
        cmsHTRANSFORM t = cmsCreateTransform(p, TYPE_RGB_16, lab, TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC,
                                             cmsFLAGS_NOOPTIMIZE);
        cmsCloseProfile(p);
        return t;
    };
    cmsHTRANSFORM table = transformOf(false);
    cmsHTRANSFORM matrixTrc = transformOf(true);
    ASSERT_NE(table, nullptr);
    ASSERT_NE(matrixTrc, nullptr);
    std::mt19937 random(9);
    std::uniform_int_distribution<int> code(3000, 62000);
    double sum = 0.0;
    for (int i = 0; i < 1000; ++i) {
        const cmsUInt16Number in[3] = {static_cast<cmsUInt16Number>(code(random)),
                                       static_cast<cmsUInt16Number>(code(random)),
                                       static_cast<cmsUInt16Number>(code(random))};
        cmsCIELab viaTable, viaMatrix;
        cmsDoTransform(table, in, &viaTable, 1);
        cmsDoTransform(matrixTrc, in, &viaMatrix, 1);
        sum += cmsCIE2000DeltaE(&viaTable, &viaMatrix, 1, 1, 1);
    }
    EXPECT_LT(sum / 1000.0, 0.1);
    cmsDeleteTransform(table);
    cmsDeleteTransform(matrixTrc);
    cmsCloseProfile(lab);
}

TEST(AutomaticProfile, NoCandidateLeftIsARegressionError) {
    SyntheticTargetOptions render;
    render.targetType = static_cast<int>(TargetType::ColorChecker);
    const testing::SyntheticScan scan = testing::renderScan(render);
    TargetMeasurement m = testing::measureScan(scan, AdvancedOptions{});
    // One device value for every patch: no curve, no matrix.
    for (DeviceRgb& d : m.grayWorking) d = {0.5, 0.5, 0.5};
    for (DeviceRgb& d : m.colorWorking) d = {0.5, 0.5, 0.5};
    AdvancedOptions options;
    options.regressionModel = Automatic;
    const ProfileComputation c = computeProfile({scan.target.layout, scan.target.reference, m, options});
    EXPECT_EQ(c.status, 1);
    EXPECT_EQ(c.diagnostics, (Diagnostics{{Severity::Error, "Regression error"}}));
}

}  // namespace
}  // namespace calivant
