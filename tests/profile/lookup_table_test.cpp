#include "profile/lookup_table.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <vector>

#include "patch_set.h"
#include "profile/regression.h"

namespace calivant {
namespace {

using Codes = std::array<std::uint16_t, 3>;
const int kIt8 = static_cast<int>(TargetType::It8);

AdvancedOptions optionsFor(int colorSpace, int model, int eliminate, int grid) {
    return {.colorSpace = colorSpace, .regressionModel = model, .eliminateResiduals = eliminate, .clutSize = grid};
}

TEST(EncodePoint, ClipsAndRoundsHalfAwayAsDefined) {
    const std::tuple<bool, ColorTriple, Codes> cases[] = {
        {false, {100, 0, 0}, {65280, 32768, 32768}},
        {false, {-0.001, 40, -40}, {0, 32768, 32768}},       // L* below 0: black
        {false, {100.001, 40, -40}, {65280, 32768, 32768}},  // above 100: white
        {false, {0, 10, -10}, {0, 35328, 30208}},            // 0 and 100 keep a* and b*
        {false, {100, 10, -10}, {65280, 35328, 30208}},
        {false, {50, 127.998, -128.5}, {32640, 65535, 0}},  // clipped before rounding: never 65536
        {false, {50, 1e300, -1e300}, {32640, 65535, 0}},
        {false, {50, 0.002, -0.002}, {32640, 32769, 32767}},
        {true, {96.42, 100, 82.49}, {31594, 32767, 27029}},  // the D50 white, Y 100 at 32767
        {true, {97, 50, 10}, {31594, 16384, 3277}},          // each component cut alone
        {true, {-1, 1e300, 90}, {0, 32767, 27029}},
    };
    for (const auto& [xyz, value, codes] : cases) {
        Codes out{1, 1, 1};
        EXPECT_TRUE(xyz ? encodeXyzPoint(value, out.data()) : encodeLabPoint(value, out.data()));
        EXPECT_EQ(out, codes) << value[0] << " " << value[1] << " " << value[2];
    }
    for (const ColorTriple& v : {ColorTriple{NAN, 0, 0}, ColorTriple{50, 0, -INFINITY}}) {
        Codes out{7, 7, 7};
        EXPECT_FALSE(encodeLabPoint(v, out.data()));
        EXPECT_FALSE(encodeXyzPoint(v, out.data()));
        EXPECT_EQ(out, (Codes{7, 7, 7}));
    }
}

// The threaded table with precomputed residuals, a row at a time, against
// the correction evaluated per point as defined on one thread: the same
// bytes for every thread count.
TEST(FillLookupTable, EqualsThePerQueryTableForAnyThreadCount) {
    for (auto [space, grid] : {std::pair{CieLab, 33}, std::pair{CieXyz, 17}}) {
        SCOPED_TRACE(::testing::Message() << "space " << space << " grid " << grid);
        ProfileResult result = testing::makePatches(20, 3);
        const AdvancedOptions options = optionsFor(space, Cubic, 1, grid);
        Diagnostics diags;
        ASSERT_EQ(fitRegression(options, kIt8, result, diags), 0);
        std::vector<std::uint16_t> literal(kMaxClutValues, 0);
        ASSERT_EQ(fillLookupTablePerQuery(result, options, literal), 0);
        for (unsigned threads : {1u, 2u, 3u, 7u, 0u}) {
            std::vector<std::uint16_t> ours(kMaxClutValues, 0);
            ASSERT_EQ(fillLookupTable(result, options, ours, threads), 0);
            EXPECT_TRUE(ours == literal) << threads << " threads";
        }
    }
}

TEST(BuildLookupTable, ASingularFitOrUnwritableColorantsFailWithRegressionError) {
    ProfileResult singular = testing::makePatches(0, 1);
    for (auto* points : {&singular.grayLinear, &singular.colorLinear})
        for (ColorTriple& p : *points) p = {0.5, 0.5, 0.5};
    ProfileResult huge = testing::makePatches(20, 2);  // a finite fit with L* in the millions
    for (auto* values : {&huge.workGrayLab, &huge.workColorLab})
        for (ColorTriple& v : *values) v[0] *= 1e5;
    for (ProfileResult* result : {&singular, &huge}) {
        Diagnostics diags;
        EXPECT_EQ(buildLookupTable(optionsFor(CieLab, Cubic, 1, 17), kIt8, *result, result->perceptual.clut, diags), 1);
        EXPECT_EQ(diags, (Diagnostics{{Severity::Error, "Regression error"}}));
    }
}

TEST(FillLookupTable, NonFiniteModelOrWrongGridFailsWithoutAMessage) {
    ProfileResult result = testing::makePatches(20, 4);
    AdvancedOptions options = optionsFor(CieLab, Cubic, 0, 17);
    Diagnostics diags;
    ASSERT_EQ(fitRegression(options, kIt8, result, diags), 0);
    result.modelCoefficients[1][19] = NAN;
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
