#pragma once
// Fitting the models a profile can be built from to a set of patches, as
// plain values: patches in, a fitted model out, which maps a device RGB to
// CIE L*a*b* through per-channel linear values.
//
//   seed models      device --tone curves of the gray scale--> linear
//                    --polynomial (4, 10 or 20 terms)--> XYZ or L*a*b*
//   shaper/matrix    device --fitted curves--> linear --matrix--> XYZ
//   shaper + poly    device --fitted curves--> linear --ridge polynomial--> XYZ
//   mixing shaper    device --matrix--> --fitted curves--> linear --matrix--> XYZ
//
// The seed models are the regression and tone curves of the profile
// computation, to the bit: fitted to the same patches they give the same
// coefficients and linear values.

#include <array>
#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

#include "profile/profile_result.h"
#include "profile/regression.h"
#include "profile/shaper_matrix.h"
#include "profile/tone_curves.h"
#include "util/cie.h"

namespace calivant {

// The ridge of the polynomial after the shaper, per patch: its terms of
// degree 2 and up pay this much for a unit coefficient.
inline constexpr double kShaperPolynomialRidge = 1e-5;

// Patches to fit: the gray scale first (darkest first), then the colours.
struct FitPatches {
    std::vector<ColorTriple> device;  // 0..1 per channel
    std::vector<CieTriple> xyz;       // D50, white Y 100
    std::vector<CieTriple> lab;
    std::size_t grayCount = 0;

    std::size_t size() const { return device.size(); }
};

FitPatches fitPatchesOf(std::span<const ColorTriple> grayDevice, std::span<const ColorTriple> colorDevice,
                        std::span<const CieTriple> grayXyz, std::span<const CieTriple> grayLab,
                        std::span<const CieTriple> colorXyz, std::span<const CieTriple> colorLab);

// "CIE Lab Cubic", "Shaper/Matrix", "Shaper + Quadratic" and so on.
std::string_view fitModelName(FitModel model);
// The seed model of a colour space and regression model setting.
FitModel seedFitModel(int colorSpace, int regressionModel);
bool isSeedModel(FitModel model);
// The shaper models, the mixing one among them: fitted curves, not the gray
// scale's.
bool usesShaper(FitModel model);
// CieXyz or CieLab, and Linear, Quadratic or Cubic, of a seed model.
int seedColorSpace(FitModel model);
int seedRegressionModel(FitModel model);
// Free parameters per output component; a model needs more patches than
// this to mean anything.
int parametersPerOutput(FitModel model);

// Where the iterative fits start: fits of the same model to more patches of
// the device (every patch, for the folds of a cross-validation). Without
// them the shaper/matrix estimates its own start, and the mixing model starts
// from the subset's shaper/matrix with no mix.
struct ModelStarts {
    const MatrixShaper* shaper = nullptr;
    const MixingShaper* mixing = nullptr;
};

struct FittedModel {
    FitModel model = FitModel::LabLinear;
    std::array<ToneCurveShape, 3> toneCurves;  // seed models
    MatrixShaper shaper;                       // shaper models
    MixingShaper mixing;                       // the mixing model
    // The seed polynomial (rows X, Y, Z or L*, a*, b*) or the polynomial
    // after the shaper (rows X, Y, Z).
    PolynomialRows coefficients{};

    // Per-channel linear values: the tone curves' (through their 16-bit
    // codes, as the profile's tables see them) or the shaper's. For the
    // mixing model the curves after the mix.
    ColorTriple linear(const ColorTriple& device) const;
    // One channel's curve alone. For the mixing model, whose colour is no
    // function of per-channel values, a power law with its curve's gamma:
    // what the tables' axes follow.
    double channelLinear(int channel, double device) const;
    // The model's colour at linear values.
    CieTriple labOfLinear(const ColorTriple& linear) const;
    CieTriple xyzOfLinear(const ColorTriple& linear) const;
    CieTriple lab(const ColorTriple& device) const;
    CieTriple xyz(const ColorTriple& device) const;
    // Whether the channels mix before the curves, so that the colour is no
    // function of channelLinear's values.
    bool mixesChannels() const { return model == FitModel::MixingShaper; }
};

// Fits each of models to the patches whose indices subset lists (in
// increasing order). Models of one colour space share their tone curves and
// the shaper models share one shaper/matrix fit. fitted[i] receives
// models[i]; ok[i] is false when that fit failed (a negative gray scale,
// singular equations, a result that is not finite or runs away).
void fitModels(const FitPatches& patches, std::span<const std::size_t> subset, std::span<const FitModel> models,
               const ModelStarts& starts, std::vector<FittedModel>& fitted, std::vector<bool>& ok);

// One model fitted to every patch. Returns 0, or 1 when the fit failed.
int fitModel(const FitPatches& patches, FitModel model, const ModelStarts& starts, FittedModel& out);

// True when every component is finite and within a colour's range by a wide
// margin.
bool plausibleLab(const CieTriple& lab);

}  // namespace calivant
