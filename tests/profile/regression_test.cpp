#include "profile/regression.h"

#include <gtest/gtest.h>

#include <cmath>

#include "patch_set.h"

namespace calivant {
namespace {

TEST(FitRegression, SingularOnlyOnAnExactZeroPivot) {
    // The black point and the primaries: on 0/1 values R2 equals R, so the
    // quadratic normal matrix has equal rows, computed exactly.
    ProfileResult r;
    r.grayLinear = {{0, 0, 0}, {0, 0, 0}};
    r.colorLinear = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 0}};
    r.workGrayLab = {{1, 2, 3}, {1, 2, 3}};
    r.workColorLab = {{51, 2, 3}, {1, 62, 3}, {1, 2, 73}, {51, 2, 3}};
    for (auto& row : r.modelCoefficients) row.fill(99.0);
    AdvancedOptions quadratic;
    quadratic.regressionModel = Quadratic;
    Diagnostics diags;
    EXPECT_EQ(fitRegression(quadratic, 0, r, diags), 1);
    EXPECT_EQ(diags, (Diagnostics{{Severity::Error, "Regression error"}}));
    // The Linear fit that succeeded stays; the failed fit stores nothing.
    for (int j = 0; j < 4; ++j) EXPECT_NEAR(r.linearCoefficients[0][j], (std::array{1.0, 50.0, 0.0, 0.0})[j], 1e-12);
    EXPECT_EQ(r.modelCoefficients[1][5], 99.0);

    // Nine colours for ten terms: singular in exact arithmetic, but the
    // pivots are rounding noise, not zero, so the fit is solved silently.
    ProfileResult few = testing::makePatches(6, 5);
    few.grayLinear.clear();
    few.workGrayLab.clear();
    few.workGrayXYZ.clear();
    diags.clear();
    EXPECT_EQ(fitRegression(quadratic, 0, few, diags), 0);
    EXPECT_TRUE(diags.empty());
}

TEST(FitRegression, NonFiniteOrRunawayValuesFailTheFit) {
    const struct {
        int model;
        void (*spoil)(ProfileResult&);
    } cases[] = {
        {Cubic, [](ProfileResult& r) { r.colorLinear[3][1] = NAN; }},
        {Linear, [](ProfileResult& r) { r.workGrayLab[2][0] = INFINITY; }},
        {Quadratic, [](ProfileResult& r) { r.workColorLab[0][2] = NAN; }},
        {Cubic, [](ProfileResult& r) { r.workColorLab[5][0] = 1e200; }},
    };
    for (const auto& c : cases) {
        ProfileResult r = testing::makePatches(40, 9);
        c.spoil(r);
        for (auto& row : r.modelCoefficients) row.fill(99.0);
        AdvancedOptions options;
        options.regressionModel = c.model;
        Diagnostics diags;
        EXPECT_EQ(fitRegression(options, 0, r, diags), 1);
        EXPECT_EQ(diags.size(), 1u);
        EXPECT_EQ(r.modelCoefficients[0][0], 99.0);
        EXPECT_TRUE(r.patchResiduals.points.empty());
    }
}

TEST(EvaluateModel, ClipsXyzComponentsAloneAndExtrapolates) {
    ProfileResult result;
    result.effectiveModel = Cubic;
    result.linearCoefficients = {{{-5, 20, 0, 0}, {2, 30, 60, 10}, {1, -40, 0, 3}}};
    for (auto& row : result.modelCoefficients) row.fill(1.0);
    EXPECT_EQ(evaluateModelXyz(result, 1, 0, 0, true), (ColorTriple{15, 32, 0}));  // Z = -39 clipped alone
    EXPECT_EQ(evaluateModelLab(result, 1, 0, 0, true), (ColorTriple{15, 32, -39}));
    // Every coefficient 1 at (2, 0, 0): 1 + 2 + 4 + 8, the input not clamped.
    EXPECT_EQ(evaluateModelLab(result, 2, 0, 0, false), (ColorTriple{15, 15, 15}));
    EXPECT_EQ(evaluateModelXyz(result, 1, 1, 1, false), (ColorTriple{20, 20, 20}));
}

TEST(InterpolateResidual, InverseSquaredDistanceAndFiniteNextToAPatch) {
    PatchResiduals residuals;
    residuals.points = {{0.1, 0.2, 0.3}, {0, 0, 1e-160}};
    residuals.residuals = {{1, 2, 3}, {-4, -5, -6}};
    // d2 = 1e-320: 1 / d2 would overflow and the mean be NaN.
    EXPECT_EQ(interpolateResidual(residuals, 0, 0, 0), (ColorTriple{-4, -5, -6}));
    residuals.points = {{0, 0, 0}, {1, 0, 0}};
    EXPECT_EQ(interpolateResidual(residuals, 0.5, 0, 0), (ColorTriple{-1.5, -1.5, -1.5}));
    // Three times as far: a ninth of the weight.
    const ColorTriple near = interpolateResidual(residuals, 0.25, 0, 0);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(near[k], (std::array{0.5, 1.3, 2.1})[k], 1e-15);
}

}  // namespace
}  // namespace calivant
