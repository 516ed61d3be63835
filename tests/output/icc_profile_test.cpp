// What the golden profiles leave open: text lengths and grids through Little CMS, limits, refusals.

#include "output/icc_profile.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "util/cie.h"

namespace calivant {
namespace {

using Bytes = std::vector<std::uint8_t>;

const LocalTime kClock{2026, 1, 2, 3, 4, 5, 5, 0};

std::uint32_t be32(const Bytes& p, std::size_t at) {
    return std::uint32_t{p.at(at)} << 24 | std::uint32_t{p.at(at + 1)} << 16 | std::uint32_t{p.at(at + 2)} << 8 |
           p.at(at + 3);
}

// Perceptual: identity input curves, an affine table (exact between nodes);
// colorimetric: three curve shapes, the identity table. Each shows one part.
ProfileResult patternResult(int grid) {
    ProfileResult r;
    for (std::uint32_t m = 0; m < kToneCurveLength; ++m) {
        for (ToneCurve& curve : r.perceptual.toneCurves) curve.values[m] = static_cast<std::uint16_t>(m);
        r.colorimetric.toneCurves[0].values[m] = static_cast<std::uint16_t>(m * m / 65535);
        r.colorimetric.toneCurves[1].values[m] = static_cast<std::uint16_t>(65535 - m);
        r.colorimetric.toneCurves[2].values[m] = static_cast<std::uint16_t>(m / 2 + 9000);
    }
    const std::size_t g = static_cast<std::size_t>(grid);
    for (std::size_t i = 0; i < g * g * g * 3; ++i) {
        const std::size_t k = i % 3, node = i / 3, red = node / (g * g), green = node / g % g, blue = node % g;
        r.perceptual.clut[i] = static_cast<std::uint16_t>(20000 * k + 300 * red + 13 * green + blue);
        const double step = static_cast<double>(k == 0 ? red : k == 1 ? green : blue);
        r.colorimetric.clut[i] = static_cast<std::uint16_t>(roundHalfAway(step * 65535.0 / static_cast<double>(g - 1)));
    }
    r.linearCoefficients = {{{20, 30, 40, 10}, {0, -30, -50, 5}, {0, 10, 20, -60}}};
    return r;
}

struct LittleCmsCase { int colorSpace, reflective; std::size_t descriptionLength, copyrightLength; int grid; };

class ProfileForLittleCms : public ::testing::TestWithParam<LittleCmsCase> {};

TEST_P(ProfileForLittleCms, OpensAsAV2InputProfileWithOurTablesAndTexts) {
    const LittleCmsCase c = GetParam();
    const std::string description(c.descriptionLength, 'd'), copyright(c.copyrightLength, 'c');
    const IccProfileSettings settings{description, copyright, c.colorSpace, c.reflective, c.grid};
    const ProfileResult r = patternResult(c.grid);
    std::ostringstream written;
    ASSERT_EQ(writeIccProfile(written, settings, r, kClock), 0);
    const std::string bytes = written.str();
    const Bytes p(bytes.begin(), bytes.end());
    ASSERT_EQ(p.size(), iccProfileSize(settings));
    EXPECT_EQ(be32(p, 268) + be32(p, 272), p.size());  // the last tag ends the file

    std::unique_ptr<void, decltype(&cmsCloseProfile)> h(
        cmsOpenProfileFromMem(p.data(), static_cast<cmsUInt32Number>(p.size())), &cmsCloseProfile);
    ASSERT_TRUE(h);
    EXPECT_EQ(cmsGetDeviceClass(h.get()), cmsSigInputClass);
    EXPECT_EQ(cmsGetColorSpace(h.get()), cmsSigRgbData);
    EXPECT_EQ(cmsGetPCS(h.get()), c.colorSpace == CieLab ? cmsSigLabData : cmsSigXYZData);
    EXPECT_EQ(cmsGetEncodedICCversion(h.get()), 0x02400000u);
    char text[400] = {};
    cmsGetProfileInfoASCII(h.get(), cmsInfoDescription, "en", "US", text, sizeof text);
    EXPECT_EQ(text, description);
    cmsGetProfileInfoASCII(h.get(), cmsInfoCopyright, "en", "US", text, sizeof text);
    EXPECT_EQ(text, copyright);
    // The eight attribute bytes as one number: transparency is in the upper half.
    cmsUInt64Number attributes = 0;
    cmsGetHeaderAttributes(h.get(), &attributes);
    EXPECT_EQ(attributes, c.reflective ? 0u : cmsUInt64Number{1} << 32);
    EXPECT_TRUE(cmsIsMatrixShaper(h.get()));

    // A2B0 at the grid nodes (identity curves) gives the table's entries.
    const auto* a2b0 = static_cast<const cmsPipeline*>(cmsReadTag(h.get(), cmsSigAToB0Tag));
    const auto* a2b1 = static_cast<const cmsPipeline*>(cmsReadTag(h.get(), cmsSigAToB1Tag));
    ASSERT_TRUE(a2b0 && a2b1);
    const int g = c.grid;
    cmsUInt16Number out[3];
    auto code = [g](int step) { return static_cast<cmsUInt16Number>(roundHalfAway(step * 65535.0 / (g - 1))); };
    for (int node = 0; node < g * g * g; node += 7) {
        const cmsUInt16Number device[3] = {code(node / (g * g)), code(node / g % g), code(node % g)};
        cmsPipelineEval16(device, out, a2b0);
        for (int k = 0; k < 3; ++k) ASSERT_NEAR(out[k], r.perceptual.clut[3 * node + k], 1) << node << " " << k;
    }
    // A2B1 (identity table) at device code 257 e gives entry e of each input table.
    for (int e = 0; e < 256; ++e) {
        const auto d = static_cast<cmsUInt16Number>(257 * e);
        const cmsUInt16Number device[3] = {d, d, d};
        cmsPipelineEval16(device, out, a2b1);
        for (int k = 0; k < 3; ++k) ASSERT_NEAR(out[k], r.colorimetric.toneCurves[k].values[257 * e], 2) << e << " " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(LengthsAndGrids, ProfileForLittleCms,
                         ::testing::Values(LittleCmsCase{CieLab, 1, 1, 0, 17}, LittleCmsCase{CieXyz, 0, 2, 1, 33},
                                           LittleCmsCase{CieLab, 0, 3, 2, 17}, LittleCmsCase{CieXyz, 1, 4, 3, 65},
                                           LittleCmsCase{CieLab, 1, kMaxDescriptionLength, kMaxCopyrightLength, 17}));

TEST(IccProfile, NumbersBeyondTheirFieldsSaturate) {
    ProfileResult r = patternResult(17);
    r.linearCoefficients = {{{1e10, 0, 0, 0}, {-1e10, 0, 0, 0}, {std::numeric_limits<double>::quiet_NaN(), 0, 0, 0}}};
    Bytes p;
    ASSERT_EQ(buildIccProfile({"d", "", CieXyz, 1, 17}, r, kClock, p), 0);
    const std::size_t red = be32(p, 132 + 12 * 4 + 4);
    EXPECT_EQ(be32(p, red + 8), 0x7FFFFFFFu);
    EXPECT_EQ(be32(p, red + 12) + be32(p, red + 16), 0u);  // negative XYZ is 0 before writing
    // A clock beyond what the header holds stays a defined number.
    EXPECT_EQ(localDateNumber({1000000, 100, -1}), 655359900);
    EXPECT_EQ(localDateNumber({-5, 1, 1}), 101);
    EXPECT_EQ(localTimeNumber({2026, 1, 1, 100, -1, 7}), 990007);
}

TEST(IccProfile, WritesNothingItCannotWriteWhole) {
    const ProfileResult r = patternResult(33);
    const IccProfileSettings settings{"Scanner", "", CieXyz, 0, 33};
    std::ostream broken(nullptr);
    EXPECT_EQ(writeIccProfile(broken, settings, r, kClock), 1);

    // What cannot be written is refused before anything is allocated or written.
    const std::string tooLong(kMaxDescriptionLength + 1, 'x');
    for (const IccProfileSettings& bad : {IccProfileSettings{tooLong, "", CieLab, 1, 17},
                                          IccProfileSettings{"d", tooLong, CieLab, 1, 17},
                                          IccProfileSettings{"d", "", CieLab, 1, 16}}) {
        std::ostringstream refused;
        EXPECT_EQ(writeIccProfile(refused, bad, r, kClock), 1);
        EXPECT_TRUE(refused.str().empty());
        EXPECT_EQ(iccProfileSize(bad), 0u);
    }
    ProfileResult shortCurve = r, smallTable = r;
    shortCurve.colorimetric.toneCurves[2].values.resize(100);
    smallTable.perceptual.clut.resize(33 * 33 * 33 * 3 - 1);
    for (const ProfileResult* bad : {&shortCurve, &smallTable}) {
        Bytes p{1, 2, 3};
        EXPECT_EQ(buildIccProfile(settings, *bad, kClock, p), 1);
        EXPECT_TRUE(p.empty());
    }
}

}  // namespace
}  // namespace calivant
