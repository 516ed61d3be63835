// What the shaper/matrix fit and the model choice add to the profile and the
// log: the curv tags' layout and the accuracy section of an automatic choice.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "output/icc_profile.h"
#include "output/profile_log.h"
#include "support/synthetic_scan.h"

namespace calivant {
namespace {

std::uint32_t be32(const std::vector<std::uint8_t>& p, std::size_t at) {
    return std::uint32_t{p.at(at)} << 24 | std::uint32_t{p.at(at + 1)} << 16 | std::uint32_t{p.at(at + 2)} << 8 |
           p.at(at + 3);
}

struct Computed {
    testing::SyntheticScan scan;
    TargetMeasurement measurement;
    AdvancedOptions options;
    ProfileComputation computed;
};

Computed automaticColorChecker() {
    Computed c;
    SyntheticTargetOptions render;
    render.targetType = static_cast<int>(TargetType::ColorChecker);
    c.scan = testing::renderScan(render);
    c.options.regressionModel = Automatic;
    c.options.clutSize = 17;
    c.computed = testing::computeScan(c.scan, c.options, &c.measurement);
    return c;
}

TEST(MatrixTrcOutput, CurveTagsHoldTheFittedCurvesAndColorants) {
    const Computed c = automaticColorChecker();
    ASSERT_EQ(c.computed.status, 0);
    const ProfileRecord record{"d", "", c.scan.target.targetType, 1, c.options, c.scan.target.layout,
                               c.measurement, c.computed.profile};
    std::vector<std::uint8_t> p;
    ASSERT_EQ(buildIccProfile(iccProfileSettingsOf(record), c.computed.profile, LocalTime{2026, 1, 1}, p), 0);
    const MatrixTrcTags& trc = c.computed.profile.matrixTrc;
    for (std::size_t tag = 0; tag < 3; ++tag) {
        const std::size_t colorant = be32(p, 132 + 12 * (4 + tag) + 4);
        for (std::size_t k = 0; k < 3; ++k)
            EXPECT_EQ(static_cast<std::int32_t>(be32(p, colorant + 8 + 4 * k)),
                      roundHalfAway(trc.colorants[tag][k] * 655.35));
        const std::size_t entry = 132 + 12 * (7 + tag);
        const std::size_t at = be32(p, entry + 4);
        EXPECT_EQ(be32(p, entry + 8), 12u + 2 * 1024);
        EXPECT_EQ(be32(p, at + 8), 1024u);
        for (std::size_t i = 0; i < 1024; i += 341)
            EXPECT_EQ(std::uint32_t{p.at(at + 12 + 2 * i)} << 8 | p.at(at + 13 + 2 * i), trc.curves[tag][i]);
        // Tags follow each other, 4-byte aligned.
        EXPECT_EQ(be32(p, entry + 12 + 4), at + 2060);
    }
    ProfileResult uneven = c.computed.profile;
    uneven.matrixTrc.curves[1].pop_back();
    EXPECT_EQ(buildIccProfile(iccProfileSettingsOf(record), uneven, LocalTime{2026, 1, 1}, p), 1);
}

// Every candidate's line, the one used marked, those left out saying why.
TEST(MatrixTrcOutput, AutomaticLogListsEveryCandidate) {
    Computed c = automaticColorChecker();
    ASSERT_EQ(c.computed.status, 0);
    ModelAccuracy& accuracy = c.computed.profile.accuracy;
    ASSERT_EQ(accuracy.candidates.size(), static_cast<std::size_t>(kFitModelCount));
    accuracy.candidates[1].status = FitStatus::Failed;
    accuracy.candidates[0] = {FitModel::LabLinear, FitStatus::Ok, 1.234, 2.5, 3.005};
    accuracy.used = 0;
    const ProfileRecord record{"d", "", c.scan.target.targetType, 1, c.options, c.scan.target.layout,
                               c.measurement, c.computed.profile};
    std::ostringstream out;
    ASSERT_EQ(writeProfileLog(out, record, LocalTime{2026, 1, 1}), 0);
    const std::string log = out.str();
    EXPECT_NE(log.find("  Color Space: CIE Lab\r\n  Regression Type: Automatic (Best Fit)\r\n"), std::string::npos);
    const std::size_t section = log.find("\r\nCross-Validated Accuracy\r\n10-fold, CIEDE2000 of the held-out patches\r\n"
                                         "\r\nModel\tMean\t95%\tMax\r\nCIE Lab Linear\t1.23\t2.50\t3.01\tused\r\n"
                                         "CIE XYZ Linear\tfit failed\r\n");
    ASSERT_NE(section, std::string::npos) << log;
    EXPECT_NE(log.find("\r\nShaper + Cubic\ttoo few patches\r\n", section), std::string::npos);
}

}  // namespace
}  // namespace calivant
