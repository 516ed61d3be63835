// The profile and the log of synthetic target scans, byte for byte: every
// target, both colour spaces, every grid size, reflective and transparency
// material, each model, residuals, stretch and smoothing between them.
// Beside the golden files, each case pins what the matrix/TRC fit must not
// have moved: the profile outside the six matrix/TRC tags (and the offsets
// and size they shift), and the log before its accuracy section, as digests
// of the files from before the fit.

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "output/icc_profile.h"
#include "output/profile_log.h"
#include "support/synthetic_scan.h"
#include "support/temp_folder.h"

namespace calivant {
namespace {

const LocalTime kMarchFifth{2005, 3, 5, 14, 30, 0, 6, 0};

// 64-bit FNV-1a.
std::uint64_t digest(std::string_view bytes) {
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (unsigned char b : bytes) h = (h ^ b) * 0x100000001b3ull;
    return h;
}

std::uint32_t bigEndian32(const std::string& p, std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(p[at])) << 24 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(p[at + 1])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(p[at + 2])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(p[at + 3]));
}

// The header without its size, every tag signature, and the size and data
// of every tag but rXYZ, gXYZ, bXYZ, rTRC, gTRC, bTRC.
std::uint64_t digestOutsideMatrixTrc(const std::string& p) {
    if (p.size() < 132) return 0;
    std::string kept = p.substr(4, 128);
    const std::uint32_t count = bigEndian32(p, 128);
    for (std::uint32_t i = 0; i < count && 132 + 12 * (i + 1) <= p.size(); ++i) {
        const std::size_t entry = 132 + 12 * i;
        const std::string signature = p.substr(entry, 4);
        kept += signature;
        if (std::string_view("rXYZgXYZbXYZrTRCgTRCbTRC").find(signature) != std::string_view::npos) continue;
        kept += p.substr(entry + 8, 4);
        kept += p.substr(bigEndian32(p, entry + 4), bigEndian32(p, entry + 8));
    }
    return digest(kept);
}

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
    std::uint64_t profileOutsideMatrixTrc;
    std::size_t logLengthBeforeAccuracy;
    std::uint64_t logBeforeAccuracy;
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
    const std::string logText = log.str();
    EXPECT_EQ(digest(std::string_view(logText).substr(0, c.logLengthBeforeAccuracy)), c.logBeforeAccuracy)
        << "the log before its accuracy section changed";
    const std::string section = "\r\nCross-Validated Accuracy\r\n";
    EXPECT_EQ(logText.substr(c.logLengthBeforeAccuracy, section.size()), section);

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
    EXPECT_EQ(digestOutsideMatrixTrc(profile), c.profileOutsideMatrixTrc)
        << "the profile changed outside the matrix/TRC tags";
}

INSTANTIATE_TEST_SUITE_P(
    Targets, Golden,
    ::testing::Values(
        GoldenCase{"it8-reflective-lab-17", 0, 1, CieLab, Cubic, 0, 17, SmoothingNone, 0, 0.0, "(c) Tessaray",
                   0x2671a330ec1f98b7, 4577, 0x0269a605613163e9},
        GoldenCase{"hct-transparency-xyz-17", 4, 0, CieXyz, Quadratic, 0, 17, SmoothingLight, 0, 0.02, "",
                   0x843c44970e2b98b1, 11961, 0xa1fb421dc0df8e59},
        GoldenCase{"colorchecker-lab-33", 1, 1, CieLab, Cubic, 1, 33, SmoothingHeavy, 0, 0.0, "(c) Tessaray",
                   0x90e6e3839c98a7cd, 1039, 0xa4d86bb281d8e875},
        GoldenCase{"dc-xyz-33", 2, 1, CieXyz, Cubic, 0, 33, SmoothingModerate, 0, 0.03, "(c) Tessaray",
                   0xc29ec2ad38875f9c, 4628, 0x249d2e54443b9c78},
        GoldenCase{"sg-xyz-65", 3, 1, CieXyz, Linear, 0, 65, SmoothingNone, 1, 0.03, "(c) Tessaray",
                   0xe41e763579a6f515, 2904, 0x005ca42499321afa}),
    [](const ::testing::TestParamInfo<GoldenCase>& info) {
        std::string name = info.param.name;
        for (char& ch : name)
            if (ch == '-') ch = '_';
        return name;
    });

}  // namespace
}  // namespace calivant
