#include "output/icc_profile.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "util/cie.h"
#include "profile/lookup_table.h"
#include "profile/regression.h"
#include "util/diagnostics.h"
#include "support/temp_folder.h"

namespace calivant {
namespace {

using Bytes = std::vector<std::uint8_t>;

const LocalTime kClock{2026, 1, 2, 3, 4, 5, 5, 0};

std::uint32_t be32(const Bytes& p, std::size_t at) {
    return std::uint32_t{p.at(at)} << 24 | std::uint32_t{p.at(at + 1)} << 16 | std::uint32_t{p.at(at + 2)} << 8 |
           p.at(at + 3);
}
std::uint16_t be16(const Bytes& p, std::size_t at) {
    return static_cast<std::uint16_t>(p.at(at) << 8 | p.at(at + 1));
}
std::string text(const Bytes& p, std::size_t at, std::size_t count) {
    return std::string(p.begin() + static_cast<std::ptrdiff_t>(at), p.begin() + static_cast<std::ptrdiff_t>(at + count));
}
bool zeroBetween(const Bytes& p, std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i)
        if (p.at(i) != 0) return false;
    return true;
}

struct Tag {
    std::string signature;
    std::uint32_t offset;
    std::uint32_t size;
};

std::vector<Tag> tagsOf(const Bytes& p) {
    std::vector<Tag> tags;
    for (std::uint32_t i = 0; i < be32(p, 128) && 132 + 12 * i + 12 <= p.size(); ++i)
        tags.push_back({text(p, 132 + 12 * i, 4), be32(p, 136 + 12 * i), be32(p, 140 + 12 * i)});
    return tags;
}

// Integer curves of three shapes, so nothing depends on a math library.
void setToneCurves(ProfileTable& table, bool swapGreenBlue) {
    for (std::int64_t m = 0; m < kToneCurveLength; ++m) {
        const auto root = static_cast<std::int64_t>(std::sqrt(static_cast<double>(m * 65535)));
        table.toneCurves[0].values[m] = static_cast<std::uint16_t>(m * m / 65535);
        table.toneCurves[swapGreenBlue ? 2 : 1].values[m] = static_cast<std::uint16_t>(root);
        table.toneCurves[swapGreenBlue ? 1 : 2].values[m] = static_cast<std::uint16_t>(m);
    }
}

// Tables with recognisable contents and a Linear model set by hand.
ProfileResult patternResult() {
    ProfileResult r;
    setToneCurves(r.perceptual, false);
    setToneCurves(r.colorimetric, true);
    for (std::size_t i = 0; i < kMaxClutValues; ++i) {
        r.perceptual.clut[i] = static_cast<std::uint16_t>(i * 40503u);
        r.colorimetric.clut[i] = static_cast<std::uint16_t>(i * 7u + 12345u);
    }
    // Red has a* -300: a negative X colorant in the Lab space.
    r.linearCoefficients = {{{20, 30, 40, 10}, {0, -300, -50, 5}, {0, 10, 20, -60}}};
    r.effectiveModel = Linear;
    return r;
}

IccProfileSettings settings(std::string_view description, std::string_view copyright, int space, int reflective,
                            int grid) {
    return {description, copyright, space, reflective, grid};
}

Bytes build(const IccProfileSettings& s, const ProfileResult& r) {
    Bytes bytes;
    EXPECT_EQ(buildIccProfile(s, r, kClock, bytes), 0);
    return bytes;
}

TEST(IccProfileHelpers, BigEndianPaddingAndClockNumbers) {
    Bytes buffer(8, 0xEE);
    putBigEndian16(buffer, 1, 0xABCD);
    putBigEndian32(buffer, 3, 0x01234567);
    EXPECT_EQ(buffer, (Bytes{0xEE, 0xAB, 0xCD, 0x01, 0x23, 0x45, 0x67, 0xEE}));
    EXPECT_EQ(padTo4(0), 0u);
    EXPECT_EQ(padTo4(1), 4u);
    EXPECT_EQ(padTo4(4), 4u);
    EXPECT_EQ(padTo4(91), 92u);
    EXPECT_EQ(localDateNumber({2026, 12, 31, 23, 59, 58}), 20261231);
    EXPECT_EQ(localTimeNumber({2026, 12, 31, 23, 59, 58}), 235958);
    EXPECT_EQ(localTimeNumber({2026, 1, 1, 0, 0, 7}), 7);
    // A clock beyond what the header holds stays a defined number.
    EXPECT_EQ(localDateNumber({1000000, 1, 1}), 655350101);
    EXPECT_EQ(localDateNumber({-5, 1, 1}), 101);
}

TEST(IccProfile, HeaderFields) {
    const ProfileResult r = patternResult();
    for (int space : {CieLab, CieXyz}) {
        for (int reflective : {1, 0}) {
            SCOPED_TRACE(::testing::Message() << "space " << space << " reflective " << reflective);
            const Bytes p = build(settings("Scanner", "(c) Us", space, reflective, 17), r);
            EXPECT_EQ(be32(p, 0), p.size());
            EXPECT_EQ(text(p, 4, 4), "TSRY");
            EXPECT_EQ(be32(p, 8), 0x02400000u);
            EXPECT_EQ(text(p, 12, 4), "scnr");
            EXPECT_EQ(text(p, 16, 4), "RGB ");
            EXPECT_EQ(text(p, 20, 4), space == CieLab ? "Lab " : "XYZ ");
            const std::uint16_t stamp[6] = {2026, 1, 2, 3, 4, 5};
            for (int i = 0; i < 6; ++i) EXPECT_EQ(be16(p, 24 + 2 * i), stamp[i]);
            EXPECT_EQ(text(p, 36, 4), "acsp");
            EXPECT_EQ(text(p, 40, 4), "MSFT");
            EXPECT_EQ(be32(p, 44), 0u);
            EXPECT_EQ(text(p, 48, 4), "N/A ");
            EXPECT_EQ(text(p, 52, 4), "N/A ");
            // The transparency bit is the last bit of the first half.
            EXPECT_EQ(be32(p, 56), reflective ? 0u : 1u);
            EXPECT_EQ(be32(p, 60), 0u);
            EXPECT_EQ(be32(p, 64), 0u);
            EXPECT_EQ(be32(p, 68), 0x0000F6D6u);
            EXPECT_EQ(be32(p, 72), 0x00010000u);
            EXPECT_EQ(be32(p, 76), 0x0000D32Du);
            EXPECT_EQ(text(p, 80, 4), "TSRY");
            EXPECT_TRUE(zeroBetween(p, 84, 128));
        }
    }
}

// Offsets and sizes from the lengths of the texts and the grid, written out
// from the table layout; the numbers quoted are the documented examples.
TEST(IccProfile, TagTableFollowsTheTextLengthsAndTheGrid) {
    const ProfileResult r = patternResult();
    const std::string longText(338, 'x');
    for (const std::string& copyright : {std::string(), std::string("c"), std::string("cc"), std::string("ccc"),
                                         std::string("cccc"), std::string("ccccc"), longText}) {
        for (const std::string& description : {std::string("d"), std::string("dd"), std::string("ddd"),
                                               std::string("dddd"), std::string("ddddd"), longText}) {
            for (int grid : {17, 33, 65}) {
                if (grid != 17 && copyright.size() > 1 && description.size() > 1) continue;  // keep it quick
                SCOPED_TRACE(::testing::Message() << copyright.size() << " " << description.size() << " " << grid);
                const Bytes p = build(settings(description, copyright, CieLab, 1, grid), r);
                const std::size_t lc = copyright.size(), ld = description.size();
                const std::size_t w = 296 + padTo4(lc + 1) + padTo4(ld + 79);
                const std::size_t t = 6 * static_cast<std::size_t>(grid) * grid * grid + 3124;
                const std::vector<Tag> expected = {
                    {"cprt", 276, static_cast<std::uint32_t>(lc + 9)},
                    {"desc", static_cast<std::uint32_t>(284 + padTo4(lc + 1)), static_cast<std::uint32_t>(ld + 91)},
                    {"wtpt", static_cast<std::uint32_t>(w), 20},
                    {"bkpt", static_cast<std::uint32_t>(w + 20), 20},
                    {"rXYZ", static_cast<std::uint32_t>(w + 40), 20},
                    {"gXYZ", static_cast<std::uint32_t>(w + 60), 20},
                    {"bXYZ", static_cast<std::uint32_t>(w + 80), 20},
                    {"rTRC", static_cast<std::uint32_t>(w + 100), 14},
                    {"gTRC", static_cast<std::uint32_t>(w + 116), 14},
                    {"bTRC", static_cast<std::uint32_t>(w + 132), 14},
                    {"A2B0", static_cast<std::uint32_t>(w + 148), static_cast<std::uint32_t>(padTo4(t))},
                    {"A2B1", static_cast<std::uint32_t>(w + 148 + padTo4(t)), static_cast<std::uint32_t>(t)}};
                const std::vector<Tag> tags = tagsOf(p);
                ASSERT_EQ(be32(p, 128), 12u);
                ASSERT_EQ(tags.size(), expected.size());
                for (std::size_t i = 0; i < tags.size(); ++i) {
                    EXPECT_EQ(tags[i].signature, expected[i].signature);
                    EXPECT_EQ(tags[i].offset, expected[i].offset) << expected[i].signature;
                    EXPECT_EQ(tags[i].size, expected[i].size) << expected[i].signature;
                }
                EXPECT_EQ(p.size(), w + 148 + padTo4(t) + t);
                EXPECT_EQ(iccProfileSize(settings(description, copyright, CieLab, 1, grid)), p.size());
            }
        }
    }
    // The documented cases.
    const std::vector<Tag> tags = tagsOf(build(settings("d", "", CieLab, 1, 17), r));
    EXPECT_EQ(tags[0].offset, 276u);
    EXPECT_EQ(tags[0].size, 9u);
    EXPECT_EQ(tags[1].offset, 288u);
    EXPECT_EQ(tags[1].size, 92u);
    EXPECT_EQ(tags[2].offset, 296u + 4 + 80);
    EXPECT_EQ(tags[11].size, 32602u);
    EXPECT_EQ(tags[10].size, 32604u);
    EXPECT_EQ(tagsOf(build(settings("d", "", CieLab, 1, 33), r))[11].size, 218746u);
    EXPECT_EQ(tagsOf(build(settings("d", "", CieLab, 1, 33), r))[10].size, 218748u);
    EXPECT_EQ(tagsOf(build(settings("d", "", CieLab, 1, 65), r))[11].size, 1650874u);
    EXPECT_EQ(tagsOf(build(settings("d", "", CieLab, 1, 65), r))[10].size, 1650876u);
}

TEST(IccProfile, TagContents) {
    ProfileResult r = patternResult();
    const Bytes p = build(settings("Flatbed 48-bit", "(c) 2026 Me", CieLab, 1, 17), r);
    const std::vector<Tag> tags = tagsOf(p);
    auto at = [&](int i) -> std::size_t { return tags[i].offset; };

    EXPECT_EQ(text(p, at(0), 4), "text");
    EXPECT_EQ(be32(p, at(0) + 4), 0u);
    EXPECT_EQ(text(p, at(0) + 8, 12), std::string("(c) 2026 Me\0", 12));
    EXPECT_TRUE(zeroBetween(p, at(0) + 19, at(1)));

    EXPECT_EQ(text(p, at(1), 4), "desc");
    EXPECT_EQ(be32(p, at(1) + 8), 15u);
    EXPECT_EQ(text(p, at(1) + 12, 15), std::string("Flatbed 48-bit\0", 15));
    EXPECT_TRUE(zeroBetween(p, at(1) + 27, at(2)));

    EXPECT_EQ(text(p, at(2), 4), "XYZ ");
    EXPECT_EQ(be32(p, at(2) + 8), 63189u);
    EXPECT_EQ(be32(p, at(2) + 12), 65535u);
    EXPECT_EQ(be32(p, at(2) + 16), 54060u);
    EXPECT_TRUE(zeroBetween(p, at(3) + 4, at(3) + 20));
    for (int channel = 0; channel < 3; ++channel) {
        const CieTriple xyz = primaryXyz(r, CieLab, channel);
        EXPECT_EQ(text(p, at(4 + channel), 4), "XYZ ");
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(static_cast<std::int32_t>(be32(p, at(4 + channel) + 8 + 4 * k)), roundHalfAway(xyz[k] * 655.35))
                << channel << " " << k;
    }
    EXPECT_LT(static_cast<std::int32_t>(be32(p, at(4) + 8)), 0);  // red X is negative

    for (int i = 7; i < 10; ++i) {
        EXPECT_EQ(text(p, at(i), 4), "curv");
        EXPECT_EQ(be32(p, at(i) + 8), 1u);
        EXPECT_EQ(be16(p, at(i) + 12), 0x0100u);
        EXPECT_EQ(be16(p, at(i) + 14), 0u);
    }

    for (int i : {10, 11}) {
        const ProfileTable& table = i == 10 ? r.perceptual : r.colorimetric;
        const std::size_t lut = at(i);
        EXPECT_EQ(text(p, lut, 4), "mft2");
        EXPECT_EQ(be32(p, lut + 4), 0u);
        EXPECT_EQ(p[lut + 8], 3);
        EXPECT_EQ(p[lut + 9], 3);
        EXPECT_EQ(p[lut + 10], 17);
        EXPECT_EQ(p[lut + 11], 0);
        for (int e = 0; e < 9; ++e) EXPECT_EQ(be32(p, lut + 12 + 4 * e), e % 4 == 0 ? 0x00010000u : 0u);
        EXPECT_EQ(be16(p, lut + 48), 256u);
        EXPECT_EQ(be16(p, lut + 50), 256u);
        for (int c = 0; c < 3; ++c)
            for (int e = 0; e < 256; ++e)
                ASSERT_EQ(be16(p, lut + 52 + 512 * c + 2 * e), table.toneCurves[c].values[257 * e]) << c << " " << e;
        for (std::size_t v = 0; v < 17 * 17 * 17 * 3; ++v) ASSERT_EQ(be16(p, lut + 1588 + 2 * v), table.clut[v]) << v;
        const std::size_t output = lut + 1588 + 6 * 17 * 17 * 17;
        for (int c = 0; c < 3; ++c)
            for (int e = 0; e < 256; ++e) ASSERT_EQ(be16(p, output + 512 * c + 2 * e), 257 * e);
    }
    // A2B0 ends with its two padding bytes; the file ends with A2B1.
    EXPECT_EQ(be16(p, at(11) - 2), 0u);
    EXPECT_EQ(at(11) + tags[11].size, p.size());
}

TEST(IccProfile, ColorantsBeyondThe32BitRangeSaturate) {
    ProfileResult r = patternResult();
    r.linearCoefficients = {{{1e10, 0, 0, 0}, {-1e10, 0, 0, 0}, {std::numeric_limits<double>::quiet_NaN(), 0, 0, 0}}};
    const Bytes p = build(settings("d", "", CieXyz, 1, 17), r);
    const std::size_t red = tagsOf(p)[4].offset;
    EXPECT_EQ(be32(p, red + 8), 0x7FFFFFFFu);
    EXPECT_EQ(be32(p, red + 12), 0u);  // negative XYZ is 0 before writing
    EXPECT_EQ(be32(p, red + 16), 0u);
}

class FailingBuffer : public std::streambuf {
protected:
    int_type overflow(int_type) override { return traits_type::eof(); }
};

TEST(WriteIccProfile, WritesTheWholeProfileOrReportsFailure) {
    const ProfileResult r = patternResult();
    const IccProfileSettings s = settings("Scanner", "", CieXyz, 0, 33);
    std::ostringstream out;
    ASSERT_EQ(writeIccProfile(out, s, r, kClock), 0);
    EXPECT_EQ(out.str().size(), iccProfileSize(s));
    const Bytes p = build(s, r);
    EXPECT_EQ(out.str(), std::string(p.begin(), p.end()));

    FailingBuffer failing;
    std::ostream broken(&failing);
    EXPECT_EQ(writeIccProfile(broken, s, r, kClock), 1);

    // What cannot be written is refused before anything is allocated or written.
    const std::string tooLong(339, 'x');
    for (const IccProfileSettings& bad :
         {settings(tooLong, "", CieLab, 1, 17), settings("d", tooLong, CieLab, 1, 17), settings("d", "", CieLab, 1, 16)}) {
        std::ostringstream refused;
        EXPECT_EQ(writeIccProfile(refused, bad, r, kClock), 1);
        EXPECT_TRUE(refused.str().empty());
        EXPECT_EQ(iccProfileSize(bad), 0u);
    }
    ProfileResult shortCurve = patternResult();
    shortCurve.colorimetric.toneCurves[2].values.resize(100);
    Bytes bytes{1, 2, 3};
    EXPECT_EQ(buildIccProfile(settings("d", "", CieLab, 1, 17), shortCurve, kClock, bytes), 1);
    EXPECT_TRUE(bytes.empty());
}

// --- Profiles from a fitted model ---

struct Lcg {
    std::uint64_t state;
    double next() {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(state >> 11) * 0x1.0p-53;
    }
};

// Both passes of a small synthetic target: 10 gray and 40 colour patches,
// cubic with residuals eliminated, tables built as the compute step does.
ProfileResult fittedResult(int space, int grid) {
    ProfileResult r;
    Lcg lcg{99};
    for (int i = 0; i < 10; ++i) {
        const double v = (i + 0.5) / 10;
        r.grayLinear.push_back({v, v, v});
    }
    for (int i = 0; i < 40; ++i) r.colorLinear.push_back({lcg.next(), lcg.next(), lcg.next()});
    AdvancedOptions options;
    options.colorSpace = space;
    options.regressionModel = Cubic;
    options.eliminateResiduals = 1;
    options.clutSize = grid;
    Diagnostics diagnostics;
    for (double stretch : {1.1, 1.0}) {
        auto lab = [&](const ColorTriple& p) {
            const double y = 0.25 * p[0] + 0.65 * p[1] + 0.1 * p[2];
            return ColorTriple{std::fmin(100, stretch * 100 * y / (0.3 + 0.7 * y)) + 0.3 * lcg.next(),
                               90 * (p[0] - p[1]) / (1 + p[2]), 70 * (p[1] - p[2] * p[2])};
        };
        r.workGrayLab.clear();
        r.workColorLab.clear();
        r.workGrayXYZ.clear();
        r.workColorXYZ.clear();
        for (const ColorTriple& p : r.grayLinear) r.workGrayLab.push_back(lab(p));
        for (const ColorTriple& p : r.colorLinear) r.workColorLab.push_back(lab(p));
        for (const ColorTriple& v : r.workGrayLab) r.workGrayXYZ.push_back(labToXyz(v));
        for (const ColorTriple& v : r.workColorLab) r.workColorXYZ.push_back(labToXyz(v));
        ProfileTable& table = stretch != 1.0 ? r.perceptual : r.colorimetric;
        setToneCurves(table, stretch == 1.0);
        EXPECT_EQ(buildLookupTable(options, static_cast<int>(TargetType::It8), r, table.clut, diagnostics), 0);
    }
    return r;
}

// --- Little CMS applies what we write ---

struct ProfileCloser {
    void operator()(void* h) const { cmsCloseProfile(h); }
};
using ProfileHandle = std::unique_ptr<void, ProfileCloser>;

std::string infoText(cmsHPROFILE h, cmsInfoType info) {
    char buffer[512] = {};
    cmsGetProfileInfoASCII(h, info, "en", "US", buffer, sizeof buffer);
    return buffer;
}

TEST(IccProfileWithLittleCms, OpensAsAV2InputProfile) {
    const ProfileResult r = patternResult();
    for (int space : {CieLab, CieXyz}) {
        const Bytes p = build(settings("Scanner one", "(c) Someone", space, 0, 33), r);
        ProfileHandle h(cmsOpenProfileFromMem(p.data(), static_cast<cmsUInt32Number>(p.size())));
        ASSERT_TRUE(h);
        EXPECT_EQ(cmsGetDeviceClass(h.get()), cmsSigInputClass);
        EXPECT_EQ(cmsGetColorSpace(h.get()), cmsSigRgbData);
        EXPECT_EQ(cmsGetPCS(h.get()), space == CieLab ? cmsSigLabData : cmsSigXYZData);
        EXPECT_EQ(cmsGetEncodedICCversion(h.get()), 0x02400000u);
        EXPECT_EQ(infoText(h.get(), cmsInfoDescription), "Scanner one");
        EXPECT_EQ(infoText(h.get(), cmsInfoCopyright), "(c) Someone");
        // Little CMS reads the eight attribute bytes as one number: our
        // transparency bit lands in its upper half.
        cmsUInt64Number attributes = 0;
        cmsGetHeaderAttributes(h.get(), &attributes);
        EXPECT_EQ(attributes, cmsUInt64Number{1} << 32);
        const auto* white = static_cast<const cmsCIEXYZ*>(cmsReadTag(h.get(), cmsSigMediaWhitePointTag));
        ASSERT_NE(white, nullptr);
        EXPECT_NEAR(white->X, 63189 / 65536.0, 1e-6);
        EXPECT_NEAR(white->Y, 65535 / 65536.0, 1e-6);
        EXPECT_NEAR(white->Z, 54060 / 65536.0, 1e-6);
        for (cmsUInt32Number intent : {INTENT_PERCEPTUAL, INTENT_RELATIVE_COLORIMETRIC})
            EXPECT_TRUE(cmsIsCLUT(h.get(), intent, LCMS_USED_AS_INPUT));
        EXPECT_TRUE(cmsIsMatrixShaper(h.get()));
    }
}

// An affine model is reproduced exactly by the table's interpolation, so at
// any device value the profile must give the model's value at the
// linearized input, to the encoding's rounding. Device codes 257 x i hit
// the input tables' entries exactly.
TEST(IccProfileWithLittleCms, A2B1ReproducesTheModelAtLinearizedInputs) {
    for (int space : {CieLab, CieXyz}) {
        SCOPED_TRACE(space == CieLab ? "Lab" : "XYZ");
        ProfileResult r = patternResult();
        r.linearCoefficients = space == CieLab
                                   ? std::array<std::array<double, 4>, 3>{{{20, 30, 40, 10}, {0, 40, -50, 5}, {3, 10, 20, -60}}}
                                   : std::array<std::array<double, 4>, 3>{{{2, 40, 35, 18}, {2, 21, 70, 7}, {2, 2, 12, 66}}};
        AdvancedOptions options;
        options.colorSpace = space;
        options.eliminateResiduals = 0;
        options.clutSize = 33;
        ASSERT_EQ(fillLookupTable(r, options, r.colorimetric.clut), 0);
        const Bytes p = build(settings("d", "", space, 1, 33), r);
        ProfileHandle h(cmsOpenProfileFromMem(p.data(), static_cast<cmsUInt32Number>(p.size())));
        ASSERT_TRUE(h);
        const auto* a2b1 = static_cast<const cmsPipeline*>(cmsReadTag(h.get(), cmsSigAToB1Tag));
        ASSERT_NE(a2b1, nullptr);

        ProfileHandle pcs(space == CieLab ? cmsCreateLab4Profile(nullptr) : cmsCreateXYZProfile());
        cmsHTRANSFORM transform =
            cmsCreateTransform(h.get(), TYPE_RGB_16, pcs.get(), space == CieLab ? TYPE_Lab_DBL : TYPE_XYZ_DBL,
                               INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOOPTIMIZE | cmsFLAGS_NOCACHE);
        ASSERT_NE(transform, nullptr);

        Lcg lcg{17};
        for (int n = 0; n < 300; ++n) {
            const cmsUInt16Number device[3] = {static_cast<cmsUInt16Number>(257 * static_cast<int>(lcg.next() * 256)),
                                               static_cast<cmsUInt16Number>(257 * static_cast<int>(lcg.next() * 256)),
                                               static_cast<cmsUInt16Number>(257 * static_cast<int>(lcg.next() * 256))};
            ColorTriple linear;
            for (int c = 0; c < 3; ++c) linear[c] = r.colorimetric.toneCurves[c].values[device[c]] * 1.5259021896696422e-05;
            const ColorTriple model = space == CieLab ? evaluateModelLab(r, linear[0], linear[1], linear[2], false)
                                                      : evaluateModelXyz(r, linear[0], linear[1], linear[2], false);
            std::uint16_t expected[3];
            ASSERT_TRUE(space == CieLab ? encodeLabPoint(model, expected) : encodeXyzPoint(model, expected));

            cmsUInt16Number codes[3];
            cmsPipelineEval16(device, codes, a2b1);
            for (int k = 0; k < 3; ++k) EXPECT_NEAR(codes[k], expected[k], 1) << device[0] << " " << device[1] << " " << device[2];

            double pcsValue[3];
            cmsDoTransform(transform, device, pcsValue, 1);
            for (int k = 0; k < 3; ++k) {
                if (space == CieLab)
                    EXPECT_NEAR(pcsValue[k], model[k], k == 0 ? 1.5 / 652.8 : 1.5 / 256.0);
                else  // Little CMS reads 32768 as 1.0; our scale puts 100 at 32767
                    EXPECT_NEAR(pcsValue[k] * 32768 / 327.67, model[k], 1.5 / 327.67);
            }
        }
        cmsDeleteTransform(transform);
    }
}

// With the cubic model and residuals eliminated the surface is not affine;
// at the grid points the profile gives the model's corrected values.
TEST(IccProfileWithLittleCms, A2B1HitsTheCorrectedModelAtGridPoints) {
    for (int space : {CieLab, CieXyz}) {
        SCOPED_TRACE(space == CieLab ? "Lab" : "XYZ");
        ProfileResult r = fittedResult(space, 17);
        // Identity input tables, so device code = linearized code.
        for (ToneCurve& curve : r.colorimetric.toneCurves)
            for (int m = 0; m < kToneCurveLength; ++m) curve.values[m] = static_cast<std::uint16_t>(m);
        const Bytes p = build(settings("d", "", space, 1, 17), r);
        ProfileHandle h(cmsOpenProfileFromMem(p.data(), static_cast<cmsUInt32Number>(p.size())));
        ASSERT_TRUE(h);
        const auto* a2b1 = static_cast<const cmsPipeline*>(cmsReadTag(h.get(), cmsSigAToB1Tag));
        ASSERT_NE(a2b1, nullptr);
        for (int i = 0; i < 17; i += 3)
            for (int j = 0; j < 17; j += 2)
                for (int k = 0; k < 17; ++k) {
                    const int node[3] = {i, j, k};
                    cmsUInt16Number device[3];
                    ColorTriple linear;
                    for (int c = 0; c < 3; ++c) {
                        device[c] = static_cast<cmsUInt16Number>(roundHalfAway(node[c] * 65535.0 / 16));
                        linear[c] = node[c] / 16.0;
                    }
                    ColorTriple v = space == CieLab ? evaluateModelLab(r, linear[0], linear[1], linear[2], false)
                                                    : evaluateModelXyz(r, linear[0], linear[1], linear[2], false);
                    const ColorTriple c = space == CieLab ? residualCorrectionLab(r, linear[0], linear[1], linear[2])
                                                          : residualCorrectionXyz(r, linear[0], linear[1], linear[2]);
                    for (int n = 0; n < 3; ++n) v[n] += c[n];
                    std::uint16_t expected[3];
                    ASSERT_TRUE(space == CieLab ? encodeLabPoint(v, expected) : encodeXyzPoint(v, expected));
                    cmsUInt16Number codes[3];
                    cmsPipelineEval16(device, codes, a2b1);
                    for (int n = 0; n < 3; ++n) EXPECT_NEAR(codes[n], expected[n], 1) << i << " " << j << " " << k;
                }
    }
}

}  // namespace
}  // namespace calivant
