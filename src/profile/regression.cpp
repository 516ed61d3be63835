#include "profile/regression.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>

#include "profile/lu_decomposition.h"

namespace calivant {
namespace {

// Monomials R^r G^g B^b of degree up to 6, ordered by degree and, within a
// degree, with R before G before B (R3, R2G, R2B, RG2, RGB, RB2, G3, ...).
// The first 20 are the model terms; the rest are needed for the moments of
// the cubic normal matrix, whose entries are products of two terms.
struct Exponents {
    int r = 0;
    int g = 0;
    int b = 0;
};

constexpr int kMaxMomentDegree = 6;
constexpr int kMonomialCount = 84;

constexpr std::array<Exponents, kMonomialCount> makeMonomials() {
    std::array<Exponents, kMonomialCount> monomials{};
    int index = 0;
    for (int degree = 0; degree <= kMaxMomentDegree; ++degree)
        for (int r = degree; r >= 0; --r)
            for (int g = degree - r; g >= 0; --g) monomials[index++] = {r, g, degree - r - g};
    return monomials;
}
constexpr auto kMonomials = makeMonomials();

constexpr int monomialIndex(int r, int g, int b) {
    for (int i = 0; i < kMonomialCount; ++i)
        if (kMonomials[i].r == r && kMonomials[i].g == g && kMonomials[i].b == b) return i;
    return -1;
}

// kTermProduct[r][c]: the monomial that is term r times term c.
constexpr std::array<std::array<std::uint8_t, kCubicTermCount>, kCubicTermCount> makeTermProducts() {
    std::array<std::array<std::uint8_t, kCubicTermCount>, kCubicTermCount> table{};
    for (int r = 0; r < kCubicTermCount; ++r)
        for (int c = 0; c < kCubicTermCount; ++c)
            table[r][c] = static_cast<std::uint8_t>(monomialIndex(kMonomials[r].r + kMonomials[c].r,
                                                                  kMonomials[r].g + kMonomials[c].g,
                                                                  kMonomials[r].b + kMonomials[c].b));
    return table;
}
constexpr auto kTermProduct = makeTermProducts();

static_assert(monomialIndex(0, 0, 3) == 19, "term 19 is B3");
static_assert(monomialIndex(1, 1, 1) == 14, "term 14 is RGB");
static_assert(kTermProduct[1][2] == 5, "R x G is RG");
static_assert(kTermProduct[4][7] == 23, "R2 x G2 is R2G2");
static_assert(kTermProduct[10][10] == 56, "R3 x R3 is the first sextic");
static_assert(kTermProduct[19][19] == kMonomialCount - 1, "B3 x B3 is the last monomial");

// Number of monomials of degree up to d: (d + 1)(d + 2)(d + 3) / 6.
constexpr int monomialCountUpTo(int degree) { return (degree + 1) * (degree + 2) * (degree + 3) / 6; }

constexpr int modelDegree(int termCount) {
    return termCount == kLinearTermCount ? 1 : termCount == kQuadraticTermCount ? 2 : 3;
}

using LinearRows = std::array<std::array<double, kLinearTermCount>, 3>;
using ModelRows = PolynomialRows;

// A fitted model as evaluation needs it, whether stored yet or not.
struct ModelView {
    const LinearRows& linear;
    const ModelRows& model;
    int effectiveModel;
};

ModelView viewOf(const ProfileResult& result) {
    return {result.linearCoefficients, result.modelCoefficients, result.effectiveModel};
}

void termValues(double r, double g, double b, std::array<double, kCubicTermCount>& t) {
    t[0] = 1.0;
    t[1] = r;
    t[2] = g;
    t[3] = b;
    t[4] = r * r;
    t[5] = r * g;
    t[6] = r * b;
    t[7] = g * g;
    t[8] = g * b;
    t[9] = b * b;
    t[10] = t[4] * r;
    t[11] = t[4] * g;
    t[12] = t[4] * b;
    t[13] = t[5] * g;
    t[14] = t[5] * b;
    t[15] = t[6] * b;
    t[16] = t[7] * g;
    t[17] = t[7] * b;
    t[18] = t[8] * b;
    t[19] = t[9] * b;
}

ColorTriple evaluate(const ModelView& view, double r, double g, double b, bool forceLinear, bool clipNegative) {
    std::array<double, kCubicTermCount> t;
    termValues(r, g, b, t);
    ColorTriple out;
    if (forceLinear || view.effectiveModel == Linear) {
        for (int k = 0; k < 3; ++k) {
            double sum = 0.0;
            for (int j = 0; j < kLinearTermCount; ++j) sum += view.linear[k][j] * t[j];
            out[k] = sum;
        }
    } else {
        const int n = regressionTermCount(view.effectiveModel);
        for (int k = 0; k < 3; ++k) {
            double sum = 0.0;
            for (int j = 0; j < n; ++j) sum += view.model[k][j] * t[j];
            out[k] = sum;
        }
    }
    if (clipNegative)
        for (double& v : out)
            if (v < 0.0) v = 0.0;
    return out;
}

// Below this squared distance a query counts as on the patch. Only an exact
// 0.0 is reachable from tone-curve codes and grid points; the bound keeps
// 1 / d2 and the weighted sums finite for any input.
constexpr double kCoincidentDistanceSquared = 1e-200;

// The inverse-distance sums. Both forms of the correction go through this one
// piece of arithmetic, so they agree to the bit.
struct WeightedResidualSum {
    ColorTriple sum{0.0, 0.0, 0.0};
    double total = 0.0;

    // Adds a patch; true when the query is on it (its residual is the answer).
    bool add(const ColorTriple& point, const ColorTriple& residual, double r, double g, double b) {
        const double dr = point[0] - r;
        const double dg = point[1] - g;
        const double db = point[2] - b;
        const double d2 = dr * dr + dg * dg + db * db;
        if (d2 < kCoincidentDistanceSquared) return true;
        const double w = 1.0 / d2;
        for (int k = 0; k < 3; ++k) sum[k] += w * residual[k];
        total += w;
        return false;
    }

    ColorTriple mean() const {
        assert(total > 0.0);
        return {sum[0] / total, sum[1] / total, sum[2] / total};
    }
};

ColorTriple residualAt(const ModelView& view, const ColorTriple& point, const ColorTriple& target, bool xyz) {
    const ColorTriple model = evaluate(view, point[0], point[1], point[2], false, xyz);
    return {target[0] - model[0], target[1] - model[1], target[2] - model[2]};
}

struct PatchSet {
    std::span<const ColorTriple> grayLinear;
    std::span<const ColorTriple> grayTargets;
    std::span<const ColorTriple> colorLinear;
    std::span<const ColorTriple> colorTargets;
};

PatchSet patchesOf(const ProfileResult& result, int colorSpace) {
    const bool xyz = colorSpace == CieXyz;
    PatchSet set{result.grayLinear, xyz ? result.workGrayXYZ : result.workGrayLab, result.colorLinear,
                 xyz ? result.workColorXYZ : result.workColorLab};
    assert(set.grayLinear.size() == set.grayTargets.size());
    assert(set.colorLinear.size() == set.colorTargets.size());
    return set;
}

// The correction exactly as defined: colour patches first, then gray, each
// residual evaluated afresh for this query.
ColorTriple residualCorrectionPerQuery(const ProfileResult& result, int colorSpace, double r, double g, double b) {
    const ModelView view = viewOf(result);
    const PatchSet patches = patchesOf(result, colorSpace);
    const bool xyz = colorSpace == CieXyz;
    WeightedResidualSum acc;
    for (std::size_t i = 0; i < patches.colorLinear.size(); ++i) {
        const ColorTriple residual = residualAt(view, patches.colorLinear[i], patches.colorTargets[i], xyz);
        if (acc.add(patches.colorLinear[i], residual, r, g, b)) return residual;
    }
    for (std::size_t i = 0; i < patches.grayLinear.size(); ++i) {
        const ColorTriple residual = residualAt(view, patches.grayLinear[i], patches.grayTargets[i], xyz);
        if (acc.add(patches.grayLinear[i], residual, r, g, b)) return residual;
    }
    return acc.mean();
}

void residualsOf(const ModelView& view, const PatchSet& patches, bool xyz, PatchResiduals& out) {
    out.points.clear();
    out.residuals.clear();
    out.points.reserve(patches.colorLinear.size() + patches.grayLinear.size());
    out.residuals.reserve(out.points.capacity());
    for (std::size_t i = 0; i < patches.colorLinear.size(); ++i) {
        out.points.push_back(patches.colorLinear[i]);
        out.residuals.push_back(residualAt(view, patches.colorLinear[i], patches.colorTargets[i], xyz));
    }
    for (std::size_t i = 0; i < patches.grayLinear.size(); ++i) {
        out.points.push_back(patches.grayLinear[i]);
        out.residuals.push_back(residualAt(view, patches.grayLinear[i], patches.grayTargets[i], xyz));
    }
}

// One run of patches for a fit.
struct FitSegment {
    std::span<const ColorTriple> points;
    std::span<const ColorTriple> targets;
};

// Least squares of one model over the segments' patches, through the normal
// equations; ridge > 0 adds ridge to the diagonal of every term of degree 2
// and up. Returns 1 when a pivot is exactly 0.0 or the solution is not finite
// and reasonably bounded; `out` is then unspecified.
int fitModel(std::span<const FitSegment> segments, int termCount, double ridge, ModelRows& out) {
    const int n = termCount;
    const int momentCount = monomialCountUpTo(2 * modelDegree(termCount));

    // One sum per distinct monomial (84 for the cubic model, not 400 matrix
    // entries) and one per output and term for the right-hand sides.
    std::array<double, kMonomialCount> moments{};
    std::array<std::array<double, kCubicTermCount>, 3> rhs{};
    auto accumulate = [&](const FitSegment& segment) {
        const std::span<const ColorTriple> linear = segment.points;
        const std::span<const ColorTriple> targets = segment.targets;
        for (std::size_t i = 0; i < linear.size(); ++i) {
            std::array<std::array<double, kMaxMomentDegree + 1>, 3> powers;
            for (int c = 0; c < 3; ++c) {
                powers[c][0] = 1.0;
                for (int e = 1; e <= kMaxMomentDegree; ++e) powers[c][e] = powers[c][e - 1] * linear[i][c];
            }
            std::array<double, kMonomialCount> value;
            for (int j = 0; j < momentCount; ++j) {
                const Exponents& e = kMonomials[j];
                value[j] = powers[0][e.r] * powers[1][e.g] * powers[2][e.b];
            }
            for (int j = 0; j < momentCount; ++j) moments[j] += value[j];
            for (int k = 0; k < 3; ++k)
                for (int j = 0; j < n; ++j) rhs[k][j] += targets[i][k] * value[j];
        }
    };
    for (const FitSegment& segment : segments) accumulate(segment);

    std::array<double, kCubicTermCount * kCubicTermCount> a;
    for (int r = 0; r < n; ++r)
        for (int c = 0; c < n; ++c) a[static_cast<std::size_t>(r) * n + c] = moments[kTermProduct[r][c]];
    if (ridge > 0.0)
        for (int r = kLinearTermCount; r < n; ++r) a[static_cast<std::size_t>(r) * n + r] += ridge;
    std::array<int, kCubicTermCount> pivots;
    const std::span<double> matrix(a.data(), static_cast<std::size_t>(n) * n);
    if (luFactor(matrix, n, pivots) != 0) return 1;

    for (int k = 0; k < 3; ++k) {
        luSolve(matrix, n, std::span<double>(rhs[k].data(), n), pivots);
        // NaN fails the comparison as well as a runaway magnitude does.
        double magnitude = 0.0;
        for (int j = 0; j < n; ++j) magnitude += std::fabs(rhs[k][j]);
        if (!(magnitude <= kModelMagnitudeLimit)) return 1;
        out[k] = {};
        for (int j = 0; j < n; ++j) out[k][j] = rhs[k][j];
    }
    return 0;
}

int fitModel(const PatchSet& patches, int termCount, ModelRows& out) {
    const FitSegment segments[2] = {{patches.grayLinear, patches.grayTargets},
                                    {patches.colorLinear, patches.colorTargets}};
    return fitModel(segments, termCount, 0.0, out);
}

int failFit(Diagnostics& diagnostics) {
    addError(diagnostics, "Regression error");
    return 1;
}

}  // namespace

int regressionTermCount(int model) {
    assert(model == Linear || model == Quadratic || model == Cubic);
    return model == Linear ? kLinearTermCount : model == Quadratic ? kQuadraticTermCount : kCubicTermCount;
}

int effectiveRegressionModel(const AdvancedOptions& options, int targetType) {
    // 24 patches are too few for 20 terms to mean much.
    if (targetType == static_cast<int>(TargetType::ColorChecker) && options.regressionModel == Cubic)
        return Quadratic;
    return options.regressionModel;
}

int fitRegression(const AdvancedOptions& options, int targetType, ProfileResult& result, Diagnostics& diagnostics) {
    const int model = effectiveRegressionModel(options, targetType);
    const PatchSet patches = patchesOf(result, options.colorSpace);
    const bool xyz = options.colorSpace == CieXyz;

    ModelRows linear{};
    if (fitModel(patches, kLinearTermCount, linear) != 0) return failFit(diagnostics);
    for (int k = 0; k < 3; ++k)
        for (int j = 0; j < kLinearTermCount; ++j) result.linearCoefficients[k][j] = linear[k][j];

    ModelRows higher{};
    if (model != Linear && fitModel(patches, regressionTermCount(model), higher) != 0) return failFit(diagnostics);

    // A bounded model can still leave a runaway residual at a patch far
    // outside the unit cube or with an absurd working value.
    PatchResiduals residuals;
    const ModelView view{result.linearCoefficients, higher, model};
    residualsOf(view, patches, xyz, residuals);
    for (const ColorTriple& residual : residuals.residuals)
        for (double v : residual)
            if (!(std::fabs(v) <= kModelMagnitudeLimit)) return failFit(diagnostics);

    if (model != Linear) result.modelCoefficients = higher;
    result.effectiveModel = model;
    result.patchResiduals = std::move(residuals);
    return 0;
}

ColorTriple evaluateModelXyz(const ProfileResult& result, double r, double g, double b, bool forceLinear) {
    return evaluate(viewOf(result), r, g, b, forceLinear, true);
}

ColorTriple evaluateModelLab(const ProfileResult& result, double r, double g, double b, bool forceLinear) {
    return evaluate(viewOf(result), r, g, b, forceLinear, false);
}

ColorTriple residualCorrectionXyz(const ProfileResult& result, double r, double g, double b) {
    return residualCorrectionPerQuery(result, CieXyz, r, g, b);
}

ColorTriple residualCorrectionLab(const ProfileResult& result, double r, double g, double b) {
    return residualCorrectionPerQuery(result, CieLab, r, g, b);
}

void computePatchResiduals(const ProfileResult& result, int colorSpace, PatchResiduals& out) {
    residualsOf(viewOf(result), patchesOf(result, colorSpace), colorSpace == CieXyz, out);
}

CieTriple primaryXyz(const ProfileResult& result, int colorSpace, int channel) {
    assert(channel >= 0 && channel < 3);
    double rgb[3] = {0.0, 0.0, 0.0};
    rgb[channel] = 1.0;
    if (colorSpace == CieXyz) return evaluateModelXyz(result, rgb[0], rgb[1], rgb[2], true);
    return labToXyz(evaluateModelLab(result, rgb[0], rgb[1], rgb[2], true));
}

ColorTriple interpolateResidual(const PatchResiduals& residuals, double r, double g, double b) {
    assert(residuals.points.size() == residuals.residuals.size());
    WeightedResidualSum acc;
    for (std::size_t i = 0; i < residuals.points.size(); ++i)
        if (acc.add(residuals.points[i], residuals.residuals[i], r, g, b)) return residuals.residuals[i];
    return acc.mean();
}

// Compiled for the wide vector registers too, and picked by the processor
// at load time; every clone does the same arithmetic lane by lane.
__attribute__((target_clones("avx512f", "avx2", "default"))) void interpolateResidualRow(
    const PatchResiduals& residuals, double r, double g, std::span<const double> b, std::span<ColorTriple> out) {
    assert(residuals.points.size() == residuals.residuals.size());
    assert(out.size() == b.size());
    const std::size_t patchCount = residuals.points.size();
    auto rgDistance = [&](const ColorTriple& point) {
        const double dr = point[0] - r;
        const double dg = point[1] - g;
        return dr * dr + dg * dg;
    };
    // A query can only be on a patch whose R and G are the row's; a row with
    // such a patch takes the point-by-point form (rare: only patches that
    // sit on grid lines).
    for (const ColorTriple& point : residuals.points) {
        if (rgDistance(point) < kCoincidentDistanceSquared) {
            for (std::size_t q = 0; q < b.size(); ++q) out[q] = interpolateResidual(residuals, r, g, b[q]);
            return;
        }
    }
    // Independent sums for a block of queries: nothing chains one query to
    // the next, so the divisions pipeline. Each query still adds the patches
    // in visiting order with the arithmetic of WeightedResidualSum (the R and
    // G part of d2 is its first partial sum), so its result does not change.
    // The block is one vector of the compiler's: every lane is the scalar
    // arithmetic, done for eight queries by one instruction where the
    // processor has wide registers (the clones above).
    constexpr std::size_t kBlock = 8;
    using Lanes = double __attribute__((vector_size(kBlock * sizeof(double))));
    for (std::size_t start = 0; start < b.size(); start += kBlock) {
        const std::size_t count = std::min(kBlock, b.size() - start);
        Lanes bq{}, sum0{}, sum1{}, sum2{}, total{};
        for (std::size_t q = 0; q < kBlock; ++q) bq[q] = b[start + (q < count ? q : 0)];  // padding never read back
        for (std::size_t i = 0; i < patchCount; ++i) {
            const ColorTriple& point = residuals.points[i];
            const ColorTriple& residual = residuals.residuals[i];
            const double rg = rgDistance(point);
            const Lanes db = point[2] - bq;
            const Lanes w = 1.0 / (rg + db * db);
            sum0 += w * residual[0];
            sum1 += w * residual[1];
            sum2 += w * residual[2];
            total += w;
        }
        for (std::size_t q = 0; q < count; ++q) {
            assert(total[q] > 0.0);
            out[start + q] = {sum0[q] / total[q], sum1[q] / total[q], sum2[q] / total[q]};
        }
    }
}

int fitPolynomial(std::span<const ColorTriple> points, std::span<const ColorTriple> targets, int termCount,
                  double ridge, PolynomialRows& out) {
    assert(points.size() == targets.size());
    const FitSegment segment{points, targets};
    return fitModel(std::span<const FitSegment>(&segment, 1), termCount, ridge, out);
}

ColorTriple evaluatePolynomial(const PolynomialRows& rows, int termCount, double r, double g, double b) {
    std::array<double, kCubicTermCount> t;
    termValues(r, g, b, t);
    ColorTriple out;
    for (int k = 0; k < 3; ++k) {
        double sum = 0.0;
        for (int j = 0; j < termCount; ++j) sum += rows[k][j] * t[j];
        out[k] = sum;
    }
    return out;
}

}  // namespace calivant
