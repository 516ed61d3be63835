#pragma once
// What the profile computation produces: the two lookup-table sets of the
// profile, the fitted regression model and the per-patch values of the pass
// that ran last (after a successful run, the colorimetric pass).

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "measure/advanced_options.h"

namespace calivant {

// Three reals: an RGB, an XYZ or an L*a*b* value.
using ColorTriple = std::array<double, 3>;

inline constexpr int kToneCurveLength = 65536;
inline constexpr int kMaxClutGridSize = 65;
inline constexpr std::size_t kMaxClutValues =
    static_cast<std::size_t>(kMaxClutGridSize) * kMaxClutGridSize * kMaxClutGridSize * 3;

// Terms of the regression models: every monomial in R, G, B of degree up to
// 1, 2 or 3.
inline constexpr int kLinearTermCount = 4;
inline constexpr int kQuadraticTermCount = 10;
inline constexpr int kCubicTermCount = 20;

// Device code (0..65535) of one channel to its linearized code.
struct ToneCurve {
    std::vector<std::uint16_t> values = std::vector<std::uint16_t>(kToneCurveLength);
};

// The tables of one pass: "A2B0" (perceptual) or "A2B1" (colorimetric).
struct ProfileTable {
    std::array<ToneCurve, 3> toneCurves;  // R, G, B
    // The input tables as the profile holds them, R, G, B one after another,
    // when they are finer than 256 samples of toneCurves (an automatic
    // choice's tables); empty otherwise.
    std::vector<std::uint16_t> inputTables;
    // grid^3 points x 3 values, R index slowest, B fastest. Sized once for
    // the largest grid so a table build allocates nothing.
    std::vector<std::uint16_t> clut = std::vector<std::uint16_t>(kMaxClutValues);
};

// What the fit leaves unexplained at each patch, in the order the residual
// correction visits them: colour patches, then gray patches darkest first.
struct PatchResiduals {
    std::vector<ColorTriple> points;     // linearized RGB
    std::vector<ColorTriple> residuals;  // working value - model value
};

// The models a profile can be built from: the six polynomial models on the
// gray-scale tone curves, a shaper/matrix fitted to every patch, alone or
// followed by a polynomial, and a shaper/matrix with a second matrix that
// mixes the channels before the curves. Listed from the simplest.
enum class FitModel : int {
    LabLinear,
    XyzLinear,
    ShaperMatrix,
    MixingShaper,
    LabQuadratic,
    XyzQuadratic,
    ShaperQuadratic,
    LabCubic,
    XyzCubic,
    ShaperCubic,
};
inline constexpr int kFitModelCount = 10;

enum class FitStatus : int { Ok, TooFewPatches, Failed };

// How well one model predicts patches it was not fitted to: the CIEDE2000
// of every patch from a fit to the other folds.
struct CandidateAccuracy {
    FitModel model = FitModel::LabLinear;
    FitStatus status = FitStatus::Failed;
    double mean = 0.0;
    double p95 = 0.0;  // nearest-rank 95th percentile
    double max = 0.0;
};

struct ModelAccuracy {
    int foldCount = 0;
    std::vector<CandidateAccuracy> candidates;
    int used = -1;  // the candidate the profile is built from
};

// The matrix/TRC tags: each channel's curve sampled at evenly spaced device
// values as 16-bit codes, and the XYZ of each channel's full contribution.
struct MatrixTrcTags {
    std::array<std::array<double, 3>, 3> colorants{};
    std::array<std::vector<std::uint16_t>, 3> curves;
};

struct FittedModel;

// How the tables of a fitted model are laid out: the connection space of
// their values, whether the grid runs even in lightness (the L* of each
// channel's linear value) or in linear light, and the entries of each input
// table (256 to 4096, as "mft2" allows).
struct FittedTableForm {
    int connectionSpace = 1;  // CieXyz 0 or CieLab 1
    bool lightnessAxes = true;
    int inputEntries = 256;

    bool operator==(const FittedTableForm&) const = default;
};

struct ProfileResult {
    ProfileTable perceptual;
    ProfileTable colorimetric;

    // Rows are the output components (X, Y, Z or L*, a*, b*), columns the
    // terms in degree-then-R-G-B order. The Linear model is always fitted;
    // modelCoefficients holds the Quadratic (first 10 columns, the rest 0)
    // or Cubic model and is left alone when the model is Linear.
    std::array<std::array<double, kLinearTermCount>, 3> linearCoefficients{};
    std::array<std::array<double, kCubicTermCount>, 3> modelCoefficients{};
    // The model the last successful fit used (the setting, with the
    // ColorChecker's Cubic taken as Quadratic).
    int effectiveModel = Linear;
    // Residuals of the last successful fit, computed once per fit for the
    // table builder.
    PatchResiduals patchResiduals;

    // Working reference values of the running pass, per patch, in the order
    // of the reference data (gray darkest first).
    std::vector<ColorTriple> workGrayLab;
    std::vector<ColorTriple> workGrayXYZ;
    std::vector<ColorTriple> workColorLab;
    std::vector<ColorTriple> workColorXYZ;
    // Linearized RGB (0..1) of every patch for the running pass.
    std::vector<ColorTriple> grayLinear;
    std::vector<ColorTriple> colorLinear;

    // The shaper/matrix fit to the colorimetric reference, for the
    // matrix/TRC tags.
    MatrixTrcTags matrixTrc;
    // The cross-validated figures of the model used (and, when it was chosen
    // automatically, of every candidate).
    ModelAccuracy accuracy;
    // Set when the tables were sampled from a fitted model other than the
    // regression above (an automatic choice): the model of the last pass.
    // The tables' input curves then map device values to the lightness
    // encoding of the model's linear values, and grayLinear / colorLinear
    // hold the patches' grid coordinates.
    std::shared_ptr<const FittedModel> fittedModel;
    FittedTableForm tableForm;  // of the tables sampled from fittedModel
};

}  // namespace calivant
