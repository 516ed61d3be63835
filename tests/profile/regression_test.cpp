#include "profile/regression.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>


namespace calivant {
namespace {

// The terms written out from their definition (degree, then R before G
// before B), independently of the table the fit builds.
constexpr int kTermExponents[20][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {2, 0, 0}, {1, 1, 0}, {1, 0, 1},
                                       {0, 2, 0}, {0, 1, 1}, {0, 0, 2}, {3, 0, 0}, {2, 1, 0}, {2, 0, 1}, {1, 2, 0},
                                       {1, 1, 1}, {1, 0, 2}, {0, 3, 0}, {0, 2, 1}, {0, 1, 2}, {0, 0, 3}};

double term(int j, const ColorTriple& rgb) {
    return std::pow(rgb[0], kTermExponents[j][0]) * std::pow(rgb[1], kTermExponents[j][1]) *
           std::pow(rgb[2], kTermExponents[j][2]);
}

// Deterministic values in [0, 1) on every platform.
struct Lcg {
    std::uint64_t state;
    double next() {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(state >> 11) * 0x1.0p-53;
    }
};

struct Fixture {
    Diagnostics diags;
    AdvancedOptions options;
    int targetType = static_cast<int>(TargetType::It8);
    ProfileResult result;
};

// A gray scale on the diagonal and random colour patches.
void makePatches(ProfileResult& result, int grayCount, int colorCount, std::uint64_t seed) {
    Lcg lcg{seed};
    result.grayLinear.clear();
    result.colorLinear.clear();
    for (int i = 0; i < grayCount; ++i) {
        const double v = (i + 0.5) / grayCount;
        result.grayLinear.push_back({v, v, v});
    }
    for (int i = 0; i < colorCount; ++i) result.colorLinear.push_back({lcg.next(), lcg.next(), lcg.next()});
}

// Working values from a known polynomial plus optional noise; the same
// numbers go to both colour spaces (the fit does not care what they mean).
void setTargets(ProfileResult& result, const double (&coefficients)[3][20], int termCount, double noise,
                std::uint64_t seed) {
    Lcg lcg{seed};
    auto targetOf = [&](const ColorTriple& rgb) {
        ColorTriple t{};
        for (int k = 0; k < 3; ++k) {
            for (int j = 0; j < termCount; ++j) t[k] += coefficients[k][j] * term(j, rgb);
            t[k] += noise * (lcg.next() - 0.5);
        }
        return t;
    };
    result.workGrayLab.clear();
    result.workColorLab.clear();
    for (const ColorTriple& p : result.grayLinear) result.workGrayLab.push_back(targetOf(p));
    for (const ColorTriple& p : result.colorLinear) result.workColorLab.push_back(targetOf(p));
    result.workGrayXYZ = result.workGrayLab;
    result.workColorXYZ = result.workColorLab;
}

// Least squares by Householder QR on the design matrix: no normal equations.
std::vector<double> solveByQr(std::vector<std::vector<double>> x, std::vector<double> y) {
    const std::size_t rows = x.size();
    const std::size_t n = x[0].size();
    for (std::size_t k = 0; k < n; ++k) {
        double norm = 0;
        for (std::size_t i = k; i < rows; ++i) norm += x[i][k] * x[i][k];
        norm = std::sqrt(norm);
        const double alpha = x[k][k] > 0 ? -norm : norm;
        std::vector<double> v(rows, 0.0);
        for (std::size_t i = k; i < rows; ++i) v[i] = x[i][k];
        v[k] -= alpha;
        double vv = 0;
        for (std::size_t i = k; i < rows; ++i) vv += v[i] * v[i];
        auto reflect = [&](auto&& element) {
            double dot = 0;
            for (std::size_t i = k; i < rows; ++i) dot += v[i] * element(i);
            const double f = 2 * dot / vv;
            for (std::size_t i = k; i < rows; ++i) element(i) -= f * v[i];
        };
        for (std::size_t c = k; c < n; ++c) reflect([&](std::size_t i) -> double& { return x[i][c]; });
        reflect([&](std::size_t i) -> double& { return y[i]; });
    }
    std::vector<double> solution(n);
    for (std::size_t k = n; k-- > 0;) {
        double s = y[k];
        for (std::size_t c = k + 1; c < n; ++c) s -= x[k][c] * solution[c];
        solution[k] = s / x[k][k];
    }
    return solution;
}

constexpr double kKnown[3][20] = {
    {5, 40, 30, 10, -8, 6, 4, -5, 3, 2, 7, -3, 2, 4, -6, 1, 5, -2, 3, -4},
    {-3, 12, 55, -9, 4, -6, 3, 9, -2, 5, -5, 2, 6, -3, 4, -2, -7, 3, 2, 6},
    {8, -6, 14, 70, 2, 3, -7, 1, 6, -9, 3, 5, -4, 2, -3, 6, 2, 4, -5, 8}};

TEST(FitRegression, RecoversAKnownPolynomialForEveryModelAndMatchesQr) {
    for (int model : {Linear, Quadratic, Cubic}) {
        for (int space : {CieXyz, CieLab}) {
            SCOPED_TRACE(::testing::Message() << "model " << model << " space " << space);
            const int n = regressionTermCount(model);
            Fixture f;
            f.options.regressionModel = model;
            f.options.colorSpace = space;
            makePatches(f.result, 12, 60, 7);

            // Exact data: the fit returns the generating coefficients.
            setTargets(f.result, kKnown, n, 0.0, 1);
            ASSERT_EQ(fitRegression(f.options, f.targetType, f.result, f.diags), 0);
            EXPECT_TRUE(f.diags.empty());
            EXPECT_EQ(f.result.effectiveModel, model);
            for (int k = 0; k < 3; ++k)
                for (int j = 0; j < n; ++j) {
                    const double fitted =
                        model == Linear ? f.result.linearCoefficients[k][j] : f.result.modelCoefficients[k][j];
                    EXPECT_NEAR(fitted, kKnown[k][j], 1e-7) << "output " << k << " term " << j;
                }

            // Noisy data: the same least-squares solution as QR finds.
            setTargets(f.result, kKnown, n, 4.0, 2);
            ASSERT_EQ(fitRegression(f.options, f.targetType, f.result, f.diags), 0);
            std::vector<std::vector<double>> design;
            std::vector<std::vector<double>> targets(3);
            auto addRows = [&](const std::vector<ColorTriple>& linear, const std::vector<ColorTriple>& work) {
                for (std::size_t i = 0; i < linear.size(); ++i) {
                    std::vector<double> row;
                    for (int j = 0; j < n; ++j) row.push_back(term(j, linear[i]));
                    design.push_back(row);
                    for (int k = 0; k < 3; ++k) targets[k].push_back(work[i][k]);
                }
            };
            addRows(f.result.grayLinear, f.result.workGrayLab);
            addRows(f.result.colorLinear, f.result.workColorLab);
            std::vector<std::vector<double>> linearDesign;
            for (const auto& row : design) linearDesign.emplace_back(row.begin(), row.begin() + 4);
            for (int k = 0; k < 3; ++k) {
                const std::vector<double> expected = solveByQr(design, targets[k]);
                for (int j = 0; j < n; ++j) {
                    const double fitted =
                        model == Linear ? f.result.linearCoefficients[k][j] : f.result.modelCoefficients[k][j];
                    EXPECT_NEAR(fitted, expected[j], 1e-6 * (1 + std::abs(expected[j]))) << k << " " << j;
                }
                // The Linear model is always fitted alongside.
                const std::vector<double> linearExpected = solveByQr(linearDesign, targets[k]);
                for (int j = 0; j < 4; ++j)
                    EXPECT_NEAR(f.result.linearCoefficients[k][j], linearExpected[j],
                                1e-9 * (1 + std::abs(linearExpected[j])));
            }
        }
    }
}

TEST(FitRegression, ColorCheckerFitsQuadraticWhenCubicIsChosen) {
    Fixture cubic;
    cubic.targetType = static_cast<int>(TargetType::ColorChecker);
    cubic.options.regressionModel = Cubic;
    makePatches(cubic.result, 6, 18, 11);
    setTargets(cubic.result, kKnown, 20, 2.0, 3);
    for (auto& row : cubic.result.modelCoefficients) row.fill(99.0);  // stale values of an earlier run
    ASSERT_EQ(fitRegression(cubic.options, cubic.targetType, cubic.result, cubic.diags), 0);
    EXPECT_EQ(cubic.options.regressionModel, Cubic);  // the setting itself stays
    EXPECT_EQ(cubic.result.effectiveModel, Quadratic);
    for (int k = 0; k < 3; ++k)
        for (int j = 10; j < 20; ++j) EXPECT_EQ(cubic.result.modelCoefficients[k][j], 0.0);

    Fixture quadratic;
    quadratic.options.regressionModel = Quadratic;
    quadratic.result.grayLinear = cubic.result.grayLinear;
    quadratic.result.colorLinear = cubic.result.colorLinear;
    quadratic.result.workGrayLab = cubic.result.workGrayLab;
    quadratic.result.workColorLab = cubic.result.workColorLab;
    ASSERT_EQ(fitRegression(quadratic.options, quadratic.targetType, quadratic.result, quadratic.diags), 0);
    EXPECT_EQ(cubic.result.modelCoefficients, quadratic.result.modelCoefficients);
    const ColorTriple a = evaluateModelLab(cubic.result, 0.2, 0.9, 0.4, false);
    const ColorTriple b = evaluateModelLab(quadratic.result, 0.2, 0.9, 0.4, false);
    EXPECT_EQ(a, b);

    // The other charts keep Cubic.
    for (TargetType type : {TargetType::It8, TargetType::ColorCheckerDc, TargetType::ColorCheckerSg, TargetType::Hct})
        EXPECT_EQ(effectiveRegressionModel(cubic.options, static_cast<int>(type)), Cubic);
    AdvancedOptions linear;
    linear.regressionModel = Linear;
    EXPECT_EQ(effectiveRegressionModel(linear, static_cast<int>(TargetType::ColorChecker)), Linear);
}

TEST(FitRegression, SingularOnlyOnAnExactZeroPivot) {
    // The black point and the three primaries: the Linear fit is exact, but
    // on 0/1 values R2 equals R, so the quadratic normal matrix has equal
    // rows, computed exactly, and its elimination meets a zero pivot.
    Fixture f;
    f.options.regressionModel = Quadratic;
    f.result.grayLinear = {{0, 0, 0}, {0, 0, 0}};
    f.result.colorLinear = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 0}};
    f.result.workGrayLab = {{1, 2, 3}, {1, 2, 3}};
    f.result.workColorLab = {{51, 2, 3}, {1, 62, 3}, {1, 2, 73}, {51, 2, 3}};
    for (auto& row : f.result.modelCoefficients) row.fill(99.0);
    EXPECT_EQ(fitRegression(f.options, f.targetType, f.result, f.diags), 1);
    EXPECT_EQ(f.diags, (Diagnostics{{Severity::Error, "Regression error"}}));
    // The Linear fit that succeeded stays; the failed fit stores nothing.
    EXPECT_NEAR(f.result.linearCoefficients[0][0], 1, 1e-12);
    EXPECT_NEAR(f.result.linearCoefficients[0][1], 50, 1e-12);
    EXPECT_NEAR(f.result.linearCoefficients[1][2], 60, 1e-12);
    EXPECT_NEAR(f.result.linearCoefficients[2][3], 70, 1e-12);
    EXPECT_EQ(f.result.modelCoefficients[1][5], 99.0);

    // No patches at all: the Linear fit already fails.
    Fixture empty;
    EXPECT_EQ(fitRegression(empty.options, empty.targetType, empty.result, empty.diags), 1);
    EXPECT_EQ(empty.diags.size(), 1u);

    // Nine distinct colours for ten quadratic terms: singular in exact
    // arithmetic, but the pivots are rounding noise, not zero, so the fit is
    // solved without a message.
    Fixture few;
    few.options.regressionModel = Quadratic;
    makePatches(few.result, 0, 9, 5);
    for (int i = 0; i < 9; ++i) few.result.colorLinear.push_back(few.result.colorLinear[i]);
    setTargets(few.result, kKnown, 10, 0.0, 1);
    EXPECT_EQ(fitRegression(few.options, few.targetType, few.result, few.diags), 0);
    EXPECT_TRUE(few.diags.empty());
}

TEST(FitRegression, NonFiniteOrRunawayValuesFailTheFit) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* name;
        int model;
        void (*spoil)(ProfileResult&, double, double);
    };
    const Case cases[] = {
        {"NaN linearized value", Cubic, [](ProfileResult& r, double n, double) { r.colorLinear[3][1] = n; }},
        {"infinite working value", Linear, [](ProfileResult& r, double, double i) { r.workGrayLab[2][0] = i; }},
        {"NaN working value", Quadratic, [](ProfileResult& r, double n, double) { r.workColorLab[0][2] = n; }},
        {"runaway working value", Cubic, [](ProfileResult& r, double, double) { r.workColorLab[5][0] = 1e200; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        f.options.regressionModel = c.model;
        makePatches(f.result, 10, 40, 9);
        setTargets(f.result, kKnown, 20, 1.0, 4);
        c.spoil(f.result, nan, inf);
        for (auto& row : f.result.modelCoefficients) row.fill(99.0);
        EXPECT_EQ(fitRegression(f.options, f.targetType, f.result, f.diags), 1);
        EXPECT_EQ(f.diags, (Diagnostics{{Severity::Error, "Regression error"}}));
        EXPECT_EQ(f.result.modelCoefficients[0][0], 99.0);
        EXPECT_TRUE(f.result.patchResiduals.points.empty());
    }
}

TEST(EvaluateModel, ClipsXyzComponentsAloneAndExtrapolates) {
    ProfileResult result;
    result.effectiveModel = Cubic;
    result.linearCoefficients = {{{-5, 20, 0, 0}, {2, 30, 60, 10}, {1, -40, 0, 3}}};
    for (auto& row : result.modelCoefficients) row.fill(1.0);

    // The unit primary through the Linear model: constant plus its column.
    EXPECT_EQ(evaluateModelXyz(result, 1, 0, 0, true), (ColorTriple{15, 32, 0}));    // Z = -39 clipped alone
    EXPECT_EQ(evaluateModelLab(result, 1, 0, 0, true), (ColorTriple{15, 32, -39}));  // Lab keeps it
    EXPECT_EQ(evaluateModelXyz(result, 0, 0, 0, true), (ColorTriple{0, 2, 1}));
    // Cubic with every coefficient 1 at (2, 0, 0): 1 + 2 + 4 + 8, no clamping of the input.
    EXPECT_EQ(evaluateModelLab(result, 2, 0, 0, false), (ColorTriple{15, 15, 15}));
    // At (1, 1, 1) every one of the 20 terms is 1.
    EXPECT_EQ(evaluateModelXyz(result, 1, 1, 1, false), (ColorTriple{20, 20, 20}));
}

// A fitted model with residuals left: a cubic surface fitted linearly.
void fitWithResiduals(Fixture& f, int space, int model) {
    f.options.colorSpace = space;
    f.options.regressionModel = model;
    makePatches(f.result, 8, 50, 21);
    setTargets(f.result, kKnown, 20, 6.0, 8);
    ASSERT_EQ(fitRegression(f.options, f.targetType, f.result, f.diags), 0);
}

TEST(ResidualCorrection, ExactAtPatchesColourFirstAndWeightedElsewhere) {
    for (int space : {CieXyz, CieLab}) {
        SCOPED_TRACE(space);
        Fixture f;
        // A gray patch on the same RGB as colour patch 4, with another value.
        f.options.colorSpace = space;
        f.options.regressionModel = Quadratic;
        makePatches(f.result, 8, 50, 21);
        f.result.grayLinear[5] = f.result.colorLinear[4];
        setTargets(f.result, kKnown, 20, 6.0, 8);
        ASSERT_EQ(fitRegression(f.options, f.targetType, f.result, f.diags), 0);
        const bool xyz = space == CieXyz;
        auto correction = [&](const ColorTriple& q) {
            return xyz ? residualCorrectionXyz(f.result, q[0], q[1], q[2])
                       : residualCorrectionLab(f.result, q[0], q[1], q[2]);
        };
        auto model = [&](const ColorTriple& q) {
            return xyz ? evaluateModelXyz(f.result, q[0], q[1], q[2], false)
                       : evaluateModelLab(f.result, q[0], q[1], q[2], false);
        };
        const auto& colorWork = xyz ? f.result.workColorXYZ : f.result.workColorLab;
        const auto& grayWork = xyz ? f.result.workGrayXYZ : f.result.workGrayLab;

        // On a patch: that patch's residual, so model + correction is its value.
        for (std::size_t i = 0; i < f.result.colorLinear.size(); ++i) {
            const ColorTriple p = f.result.colorLinear[i];
            const ColorTriple m = model(p);
            const ColorTriple c = correction(p);
            for (int k = 0; k < 3; ++k) {
                EXPECT_EQ(c[k], colorWork[i][k] - m[k]);
                EXPECT_NEAR(m[k] + c[k], colorWork[i][k], 1e-12 * (1 + std::abs(colorWork[i][k])));
            }
        }
        ASSERT_NE(grayWork[5], colorWork[4]);
        const ColorTriple shared = correction(f.result.grayLinear[5]);
        EXPECT_EQ(shared[0], colorWork[4][0] - model(f.result.colorLinear[4])[0]);

        // Elsewhere: inverse squared-distance mean of every patch's residual.
        const ColorTriple q{0.41, 0.27, 0.83};
        ColorTriple sum{};
        double total = 0;
        auto add = [&](const ColorTriple& p, const ColorTriple& work) {
            const double d2 = std::pow(p[0] - q[0], 2) + std::pow(p[1] - q[1], 2) + std::pow(p[2] - q[2], 2);
            const ColorTriple m = model(p);
            for (int k = 0; k < 3; ++k) sum[k] += (work[k] - m[k]) / d2;
            total += 1 / d2;
        };
        for (std::size_t i = 0; i < f.result.colorLinear.size(); ++i) add(f.result.colorLinear[i], colorWork[i]);
        for (std::size_t i = 0; i < f.result.grayLinear.size(); ++i) add(f.result.grayLinear[i], grayWork[i]);
        const ColorTriple c = correction(q);
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(c[k], sum[k] / total, 1e-10 * (1 + std::abs(c[k])));
    }
}

TEST(ResidualCorrection, XyzResidualIsTakenAgainstTheClippedModel) {
    // Dark patches whose X is 0 while the rest climb steeply: the linear
    // fit dips below 0 there, and the residual carries the negative part.
    Fixture f;
    f.options.colorSpace = CieXyz;
    f.options.regressionModel = Linear;
    makePatches(f.result, 6, 30, 17);
    auto work = [](const ColorTriple& p) {
        const double x = p[0] < 0.5 ? 0.0 : 200 * (p[0] - 0.5);
        return ColorTriple{x, 50 * p[1], 50 * p[2]};
    };
    for (const auto& p : f.result.grayLinear) f.result.workGrayXYZ.push_back(work(p));
    for (const auto& p : f.result.colorLinear) f.result.workColorXYZ.push_back(work(p));
    ASSERT_EQ(fitRegression(f.options, f.targetType, f.result, f.diags), 0);
    int clipped = 0;
    for (std::size_t i = 0; i < f.result.colorLinear.size(); ++i) {
        const ColorTriple& p = f.result.colorLinear[i];
        // The Lab form evaluates the same coefficients without the clip.
        const double raw = evaluateModelLab(f.result, p[0], p[1], p[2], false)[0];
        if (raw >= 0) continue;
        ++clipped;
        EXPECT_EQ(residualCorrectionXyz(f.result, p[0], p[1], p[2])[0], f.result.workColorXYZ[i][0]);
    }
    EXPECT_GT(clipped, 0);
}

TEST(ResidualCorrection, PrecomputedResidualsGiveTheSameBits) {
    for (int space : {CieXyz, CieLab}) {
        for (int model : {Linear, Cubic}) {
            SCOPED_TRACE(::testing::Message() << "space " << space << " model " << model);
            Fixture f;
            fitWithResiduals(f, space, model);
            PatchResiduals again;
            computePatchResiduals(f.result, space, again);
            ASSERT_EQ(again.points, f.result.patchResiduals.points);
            ASSERT_EQ(again.residuals, f.result.patchResiduals.residuals);
            ASSERT_EQ(again.points.size(), 58u);

            std::vector<ColorTriple> queries(f.result.colorLinear.begin(), f.result.colorLinear.begin() + 5);
            queries.push_back(f.result.grayLinear[3]);
            constexpr int kGrid = 13;
            for (int i = 0; i < kGrid; ++i)
                for (int j = 0; j < kGrid; ++j)
                    for (int k = 0; k < kGrid; ++k)
                        queries.push_back({i / double(kGrid - 1), j / double(kGrid - 1), k / double(kGrid - 1)});
            for (const ColorTriple& q : queries) {
                const ColorTriple literal = space == CieXyz ? residualCorrectionXyz(f.result, q[0], q[1], q[2])
                                                            : residualCorrectionLab(f.result, q[0], q[1], q[2]);
                const ColorTriple fast = interpolateResidual(f.result.patchResiduals, q[0], q[1], q[2]);
                ASSERT_EQ(std::memcmp(literal.data(), fast.data(), sizeof literal), 0)
                    << q[0] << " " << q[1] << " " << q[2];
            }
        }
    }
}

TEST(ResidualCorrection, StaysFiniteForAQueryAlmostOnAPatch) {
    PatchResiduals residuals;
    residuals.points = {{0.1, 0.2, 0.3}, {0, 0, 1e-160}};
    residuals.residuals = {{1, 2, 3}, {-4, -5, -6}};
    // d2 = 1e-320: 1 / d2 would overflow to infinity and the mean be NaN.
    const ColorTriple c = interpolateResidual(residuals, 0, 0, 0);
    EXPECT_EQ(c, (ColorTriple{-4, -5, -6}));
    // Halfway between: the plain mean.
    residuals.points = {{0, 0, 0}, {1, 0, 0}};
    EXPECT_EQ(interpolateResidual(residuals, 0.5, 0, 0), (ColorTriple{-1.5, -1.5, -1.5}));
    // Three times as far: a ninth of the weight.
    const ColorTriple near = interpolateResidual(residuals, 0.25, 0, 0);
    const ColorTriple expected{0.5, 1.3, 2.1};
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(near[k], expected[k], 1e-15);
}

}  // namespace
}  // namespace calivant
