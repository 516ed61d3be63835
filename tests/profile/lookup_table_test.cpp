#include "profile/lookup_table.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "util/cie.h"
#include "profile/regression.h"

namespace calivant {
namespace {

struct Lcg {
    std::uint64_t state;
    double next() {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(state >> 11) * 0x1.0p-53;
    }
};

// A smooth device response no polynomial of the models fits exactly, plus
// noise, so every residual is non-zero.
ColorTriple labOf(const ColorTriple& p, Lcg& noise) {
    const double y = 0.25 * p[0] + 0.65 * p[1] + 0.1 * p[2];
    return {100 * y / (0.3 + 0.7 * y) + 0.4 * noise.next(), 90 * (p[0] - p[1]) / (1 + p[2]) + 0.4 * noise.next(),
            70 * (p[1] - p[2] * p[2]) + 0.4 * noise.next()};
}

// Gray on the diagonal, random colour patches, and patches that sit on grid
// points or grid lines of a 17- and a 33-point grid (exact hits, and rows
// whose R and G are a patch's).
ProfileResult makePatches(int colorCount, std::uint64_t seed) {
    ProfileResult result;
    Lcg lcg{seed};
    for (int i = 0; i < 12; ++i) {
        const double v = (i + 0.5) / 12;
        result.grayLinear.push_back({v, v, v});
    }
    result.grayLinear.push_back({0.5, 0.5, 0.5});
    for (int i = 0; i < colorCount; ++i) result.colorLinear.push_back({lcg.next(), lcg.next(), lcg.next()});
    result.colorLinear.push_back({0.5, 0.25, 0.75});
    result.colorLinear.push_back({0.125, 0.0625, 0.3});
    result.colorLinear.push_back({1.0, 0.0, 0.0});
    for (const ColorTriple& p : result.grayLinear) result.workGrayLab.push_back(labOf(p, lcg));
    for (const ColorTriple& p : result.colorLinear) result.workColorLab.push_back(labOf(p, lcg));
    for (const ColorTriple& v : result.workGrayLab) result.workGrayXYZ.push_back(labToXyz(v));
    for (const ColorTriple& v : result.workColorLab) result.workColorXYZ.push_back(labToXyz(v));
    return result;
}

AdvancedOptions optionsFor(int colorSpace, int model, int eliminate, int grid) {
    AdvancedOptions o;
    o.colorSpace = colorSpace;
    o.regressionModel = model;
    o.eliminateResiduals = eliminate;
    o.clutSize = grid;
    return o;
}

const int kIt8 = static_cast<int>(TargetType::It8);

// The encodings written out from their definition, with the C library's
// half-away rounding.
std::array<std::uint16_t, 3> expectedLab(ColorTriple v) {
    if (v[0] < 0) v = {0, 0, 0};
    if (v[0] > 100) v = {100, 0, 0};
    auto ab = [](double x) { return static_cast<std::uint16_t>(std::lround(std::fmin(65535, std::fmax(0, x * 256 + 32768)))); };
    return {static_cast<std::uint16_t>(std::lround(v[0] * 652.8)), ab(v[1]), ab(v[2])};
}

std::array<std::uint16_t, 3> expectedXyz(const ColorTriple& v) {
    const double white[3] = {96.42, 100, 82.49};
    std::array<std::uint16_t, 3> out{};
    for (int k = 0; k < 3; ++k)
        out[k] = static_cast<std::uint16_t>(std::lround(std::fmin(white[k], std::fmax(0, v[k])) * 327.67));
    return out;
}

std::array<std::uint16_t, 3> encodedLab(const ColorTriple& v) {
    std::array<std::uint16_t, 3> out{1, 1, 1};
    EXPECT_TRUE(encodeLabPoint(v, out.data()));
    return out;
}

std::array<std::uint16_t, 3> encodedXyz(const ColorTriple& v) {
    std::array<std::uint16_t, 3> out{1, 1, 1};
    EXPECT_TRUE(encodeXyzPoint(v, out.data()));
    return out;
}

using Codes = std::array<std::uint16_t, 3>;

TEST(LookupTableEncoding, LabClipsToBlackOrWhiteAndSaturatesAB) {
    EXPECT_EQ(encodedLab({100, 0, 0}), (Codes{65280, 32768, 32768}));
    EXPECT_EQ(encodedLab({0, 0, 0}), (Codes{0, 32768, 32768}));
    // Out of range L* replaces the whole colour; exactly 0 or 100 keeps a*, b*.
    EXPECT_EQ(encodedLab({-0.001, 40, -40}), (Codes{0, 32768, 32768}));
    EXPECT_EQ(encodedLab({100.001, 40, -40}), (Codes{65280, 32768, 32768}));
    EXPECT_EQ(encodedLab({0, 10, -10}), (Codes{0, 35328, 30208}));
    EXPECT_EQ(encodedLab({100, 10, -10}), (Codes{65280, 35328, 30208}));
    // a* 127.998 gives 65535.488: clipped before rounding, never 65536.
    EXPECT_EQ(encodedLab({50, 127.998, -128.5}), (Codes{32640, 65535, 0}));
    EXPECT_EQ(encodedLab({50, 128, -128}), (Codes{32640, 65535, 0}));
    EXPECT_EQ(encodedLab({50, 1e300, -1e300}), (Codes{32640, 65535, 0}));
    EXPECT_EQ(encodedLab({50, 0.001, -0.001}), (Codes{32640, 32768, 32768}));
    EXPECT_EQ(encodedLab({50, 0.002, -0.002}), (Codes{32640, 32769, 32767}));
}

TEST(LookupTableEncoding, XyzClipsEachComponentToTheD50White) {
    EXPECT_EQ(encodedXyz({96.42, 100, 82.49}), (Codes{31594, 32767, 27029}));
    // Brighter than the white in X alone: only X is cut.
    EXPECT_EQ(encodedXyz({97, 50, 10}), (Codes{31594, 16384, 3277}));
    EXPECT_EQ(encodedXyz({-1, 1e300, 90}), (Codes{0, 32767, 27029}));
}

TEST(LookupTableEncoding, NonFiniteValuesAreRefusedAndNothingIsStored) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (const ColorTriple& v : {ColorTriple{nan, 0, 0}, ColorTriple{50, nan, 0}, ColorTriple{inf, 0, 0},
                                 ColorTriple{50, 0, -inf}, ColorTriple{-inf, 0, 0}}) {
        Codes out{7, 7, 7};
        EXPECT_FALSE(encodeLabPoint(v, out.data()));
        EXPECT_FALSE(encodeXyzPoint(v, out.data()));
        EXPECT_EQ(out, (Codes{7, 7, 7}));
    }
}

// Every point against the model evaluated at the grid coordinates and
// encoded by the formulas above; R index slowest, B fastest.
TEST(BuildLookupTable, SamplesTheModelOnTheGridInTableOrder) {
    for (int space : {CieLab, CieXyz}) {
        SCOPED_TRACE(space == CieLab ? "Lab" : "XYZ");
        Diagnostics diags;
        ProfileResult result = makePatches(60, 7);
        const AdvancedOptions options = optionsFor(space, Quadratic, 0, 17);
        result.perceptual.clut.assign(result.perceptual.clut.size(), 0xABCD);
        ASSERT_EQ(buildLookupTable(options, kIt8, result, result.perceptual.clut, diags), 0);
        EXPECT_TRUE(diags.empty());

        const std::vector<std::uint16_t>& clut = result.perceptual.clut;
        for (int i = 0; i < 17; ++i)
            for (int j = 0; j < 17; ++j)
                for (int k = 0; k < 17; ++k) {
                    const double r = i / 16.0, g = j / 16.0, b = k / 16.0;
                    const Codes expected = space == CieLab ? expectedLab(evaluateModelLab(result, r, g, b, false))
                                                           : expectedXyz(evaluateModelXyz(result, r, g, b, false));
                    const std::size_t at = ((i * 17 + j) * 17 + k) * 3;
                    ASSERT_EQ((Codes{clut[at], clut[at + 1], clut[at + 2]}), expected) << i << " " << j << " " << k;
                }
        // Room beyond the grid is left alone.
        EXPECT_EQ(clut[17 * 17 * 17 * 3], 0xABCD);
        EXPECT_EQ(clut.back(), 0xABCD);
    }
}

TEST(BuildLookupTable, EliminatedResidualsPassThroughAPatchOnAGridPoint) {
    for (int space : {CieLab, CieXyz}) {
        Diagnostics diags;
        ProfileResult result = makePatches(60, 11);
        ASSERT_EQ(buildLookupTable(optionsFor(space, Cubic, 1, 17), kIt8, result, result.colorimetric.clut, diags), 0);
        // Colour patch (0.5, 0.25, 0.75) is grid point (8, 4, 12); (1, 0, 0) is (16, 0, 0).
        const std::vector<std::uint16_t>& clut = result.colorimetric.clut;
        const std::size_t index = result.colorLinear.size() - 3;
        for (auto [point, at] : {std::pair{index, ((8 * 17 + 4) * 17 + 12) * 3}, std::pair{index + 2, 16 * 17 * 17 * 3}}) {
            const Codes expected = space == CieLab ? expectedLab(result.workColorLab[point])
                                                   : expectedXyz(result.workColorXYZ[point]);
            EXPECT_EQ((Codes{clut[at], clut[at + 1], clut[at + 2]}), expected);
        }
        // The model alone misses it.
        const Codes model = space == CieLab ? expectedLab(evaluateModelLab(result, 0.5, 0.25, 0.75, false))
                                            : expectedXyz(evaluateModelXyz(result, 0.5, 0.25, 0.75, false));
        const std::size_t at = ((8 * 17 + 4) * 17 + 12) * 3;
        EXPECT_NE((Codes{clut[at], clut[at + 1], clut[at + 2]}), model);
    }
}

// The threaded table with precomputed residuals against the correction
// evaluated per point on one thread: the same bytes for every thread count.
TEST(FillLookupTable, EqualsThePerQueryTableForAnyThreadCount) {
    for (auto [space, grid] : {std::pair{CieLab, 33}, std::pair{CieXyz, 17}}) {
        SCOPED_TRACE(::testing::Message() << "space " << space << " grid " << grid);
        Diagnostics diags;
        ProfileResult result = makePatches(20, 3);
        const AdvancedOptions options = optionsFor(space, Cubic, 1, grid);
        ASSERT_EQ(fitRegression(options, kIt8, result, diags), 0);
        std::vector<std::uint16_t> literal(kMaxClutValues, 0);
        ASSERT_EQ(fillLookupTablePerQuery(result, options, literal), 0);
        for (unsigned threads : {1u, 2u, 3u, 7u, 0u}) {
            std::vector<std::uint16_t> ours(kMaxClutValues, 0);
            ASSERT_EQ(fillLookupTable(result, options, ours, threads), 0);
            EXPECT_EQ(std::memcmp(literal.data(), ours.data(), literal.size() * sizeof(std::uint16_t)), 0)
                << threads << " threads";
        }
    }
}

TEST(InterpolateResidualRow, GivesThePointwiseBitsOnAndOffPatches) {
    Diagnostics diags;
    ProfileResult result = makePatches(30, 5);
    ASSERT_EQ(fitRegression(optionsFor(CieLab, Cubic, 1, 17), kIt8, result, diags), 0);
    std::vector<double> b;
    for (int k = 0; k < 17; ++k) b.push_back(k / 16.0);
    b.push_back(0.3);  // the patch at (0.125, 0.0625, 0.3)
    b.push_back(0.3000000001);
    // Rows through patches (with hits), beside them and through none.
    for (auto [r, g] : {std::pair{0.5, 0.25}, std::pair{0.125, 0.0625}, std::pair{0.5, 0.5}, std::pair{0.2, 0.9},
                        std::pair{1.0, 0.0}, std::pair{0.5, 0.2500000001}}) {
        std::vector<ColorTriple> row(b.size());
        interpolateResidualRow(result.patchResiduals, r, g, b, row);
        for (std::size_t q = 0; q < b.size(); ++q) {
            const ColorTriple point = interpolateResidual(result.patchResiduals, r, g, b[q]);
            EXPECT_EQ(std::memcmp(&point, &row[q], sizeof point), 0) << r << " " << g << " " << b[q];
        }
    }
}

TEST(BuildLookupTable, FailsOnceWithRegressionError) {
    const Diagnostics regressionError{{Severity::Error, "Regression error"}};
    // A singular fit.
    {
        Diagnostics diags;
        ProfileResult result = makePatches(0, 1);
        for (auto* points : {&result.grayLinear, &result.colorLinear})
            for (ColorTriple& p : *points) p = {0.5, 0.5, 0.5};
        const std::vector<std::uint16_t> before = result.perceptual.clut;
        EXPECT_EQ(buildLookupTable(optionsFor(CieLab, Linear, 0, 17), kIt8, result, result.perceptual.clut, diags), 1);
        EXPECT_EQ(diags, regressionError);
        EXPECT_EQ(result.perceptual.clut, before);
    }
    // A finite fit whose colorants cannot be written (L* in the millions).
    {
        Diagnostics diags;
        ProfileResult result = makePatches(20, 2);
        for (auto* values : {&result.workGrayLab, &result.workColorLab})
            for (ColorTriple& v : *values) v[0] *= 1e5;
        EXPECT_EQ(buildLookupTable(optionsFor(CieLab, Cubic, 1, 17), kIt8, result, result.perceptual.clut, diags), 1);
        EXPECT_EQ(diags, regressionError);
    }
}

TEST(FillLookupTable, NonFiniteModelOrWrongGridFailsWithoutAMessage) {
    ProfileResult result = makePatches(20, 4);
    Diagnostics diags;
    AdvancedOptions options = optionsFor(CieLab, Cubic, 0, 17);
    ASSERT_EQ(fitRegression(options, kIt8, result, diags), 0);
    result.modelCoefficients[1][19] = std::numeric_limits<double>::quiet_NaN();
    for (unsigned threads : {1u, 4u}) EXPECT_EQ(fillLookupTable(result, options, result.perceptual.clut, threads), 1);
    EXPECT_EQ(fillLookupTablePerQuery(result, options, result.perceptual.clut), 1);

    result.modelCoefficients[1][19] = 0;
    options.clutSize = 16;
    EXPECT_EQ(fillLookupTable(result, options, result.perceptual.clut), 1);
    options.clutSize = 65;
    std::vector<std::uint16_t> small(65 * 65 * 65 * 3 - 1);
    EXPECT_EQ(fillLookupTable(result, options, small), 1);
    EXPECT_TRUE(diags.empty());
}

}  // namespace
}  // namespace calivant
