// The profile and the log of synthetic target scans, byte for byte: every
// target, both colour spaces, every grid size, reflective and transparency
// material, each model, residuals, stretch and smoothing between them.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "output/icc_profile.h"
#include "output/profile_log.h"
#include "support/synthetic_scan.h"
#include "support/temp_folder.h"

namespace calivant {
namespace {

const LocalTime kMarchFifth{2005, 3, 5, 14, 30, 0, 6, 0};

struct GoldenCase {
    const char* name;  // tests/data/output/log-<name>.txt and profile-<name>.icm
    int targetType;
    int reflective;
    int colorSpace;
    int model;
    int eliminateResiduals;
    int clutSize;
    int smoothing;
    int stretch;
    double gradient;
    const char* copyright;
};

void PrintTo(const GoldenCase& c, std::ostream* os) { *os << c.name; }

class Golden : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(Golden, ProfileAndLogMatch) {
    const GoldenCase& c = GetParam();
    SyntheticTargetOptions render;
    render.targetType = c.targetType;
    render.bitsPerSample = 8;
    render.noiseSigma = 0.01;
    render.seed = 7;
    render.gradient = c.gradient;
    const testing::SyntheticScan scan = testing::renderScan(render);

    AdvancedOptions o;
    o.colorSpace = c.colorSpace;
    o.regressionModel = c.model;
    o.eliminateResiduals = c.eliminateResiduals;
    o.clutSize = c.clutSize;
    o.smoothing = c.smoothing;
    o.stretch = c.stretch;
    o.stretchDmax = 3.0;
    o.stretchDmin = 96.5;
    TargetMeasurement measurement;
    const ProfileComputation computed = testing::computeScan(scan, o, &measurement);
    ASSERT_EQ(computed.status, 0);
    EXPECT_FALSE(hasError(measurement.diagnostics) || hasError(computed.diagnostics));

    const std::string description = std::string("Synthetic log-") + c.name;
    const ProfileRecord record{description, c.copyright, c.targetType, c.reflective, o,
                               scan.target.layout, measurement, computed.profile};
    std::ostringstream log;
    ASSERT_EQ(writeProfileLog(log, record, kMarchFifth), 0);
    EXPECT_TRUE(testing::matchesGolden(log.str(), std::string("output/log-") + c.name + ".txt"));

    std::vector<std::uint8_t> bytes;
    ASSERT_EQ(buildIccProfile(iccProfileSettingsOf(record), computed.profile, kMarchFifth, bytes), 0);
    const std::string profile(bytes.begin(), bytes.end());
    const std::string golden = std::string("output/profile-") + c.name + ".icm";
    const ::testing::AssertionResult same = testing::matchesGolden(profile, golden);
    if (!same) {
        const std::string expected = testing::readFile(testing::testDataPath(golden));
        std::size_t offset = 0;
        while (offset < expected.size() && offset < profile.size() && expected[offset] == profile[offset]) ++offset;
        ADD_FAILURE() << same.message() << "\nfirst difference in the " << testing::iccPartAt(profile, offset);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Targets, Golden,
    ::testing::Values(
        GoldenCase{"it8-reflective-lab-17", 0, 1, CieLab, Cubic, 0, 17, SmoothingNone, 0, 0.0, "(c) Tessaray"},
        GoldenCase{"hct-transparency-xyz-17", 4, 0, CieXyz, Quadratic, 0, 17, SmoothingLight, 0, 0.02, ""},
        GoldenCase{"colorchecker-lab-33", 1, 1, CieLab, Cubic, 1, 33, SmoothingHeavy, 0, 0.0, "(c) Tessaray"},
        GoldenCase{"dc-xyz-33", 2, 1, CieXyz, Cubic, 0, 33, SmoothingModerate, 0, 0.03, "(c) Tessaray"},
        GoldenCase{"sg-xyz-65", 3, 1, CieXyz, Linear, 0, 65, SmoothingNone, 1, 0.03, "(c) Tessaray"}),
    [](const ::testing::TestParamInfo<GoldenCase>& info) {
        std::string name = info.param.name;
        for (char& ch : name)
            if (ch == '-') ch = '_';
        return name;
    });

}  // namespace
}  // namespace calivant
