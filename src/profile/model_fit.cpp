#include "profile/model_fit.h"

#include <algorithm>
#include <cassert>
#include <cmath>

namespace calivant {
namespace {

// A model value beyond this in any component is a fit that ran away.
constexpr double kMaxLabComponent = 1e4;

struct SeedCurves {
    bool tried = false;
    bool ok = false;
    std::array<ToneCurveShape, 3> shapes;
    std::vector<ColorTriple> points;  // the subset's linear values
};

// The tone curves of a colour space through the subset's gray patches, as
// buildToneCurves makes them, and the subset's linear values.
void seedCurves(const FitPatches& patches, std::span<const std::size_t> subset, int colorSpace, SeedCurves& out) {
    out.tried = true;
    std::vector<double> targets;
    std::array<std::vector<double>, 3> grays;
    for (std::size_t i : subset) {
        if (i >= patches.grayCount) break;
        targets.push_back(colorSpace == CieLab ? patches.lab[i][0] * 0.01 : patches.xyz[i][1] / 100.0);
        for (int c = 0; c < 3; ++c) grays[static_cast<std::size_t>(c)].push_back(patches.device[i][c]);
    }
    for (int c = 0; c < 3; ++c)
        if (shapeToneCurve(grays[static_cast<std::size_t>(c)], targets, out.shapes[static_cast<std::size_t>(c)]) != 0)
            return;
    out.points.clear();
    out.points.reserve(subset.size());
    for (std::size_t i : subset) {
        ColorTriple p;
        for (int c = 0; c < 3; ++c) p[c] = out.shapes[static_cast<std::size_t>(c)].linearize(patches.device[i][c]);
        out.points.push_back(p);
    }
    out.ok = true;
}

bool modelHolds(const FittedModel& model, const FitPatches& patches, std::span<const std::size_t> subset) {
    for (std::size_t i : subset)
        if (!plausibleLab(model.lab(patches.device[i]))) return false;
    return true;
}

}  // namespace

FitPatches fitPatchesOf(std::span<const ColorTriple> grayDevice, std::span<const ColorTriple> colorDevice,
                        std::span<const CieTriple> grayXyz, std::span<const CieTriple> grayLab,
                        std::span<const CieTriple> colorXyz, std::span<const CieTriple> colorLab) {
    assert(grayDevice.size() == grayXyz.size() && grayDevice.size() == grayLab.size());
    assert(colorDevice.size() == colorXyz.size() && colorDevice.size() == colorLab.size());
    FitPatches patches;
    patches.grayCount = grayDevice.size();
    patches.device.assign(grayDevice.begin(), grayDevice.end());
    patches.device.insert(patches.device.end(), colorDevice.begin(), colorDevice.end());
    patches.xyz.assign(grayXyz.begin(), grayXyz.end());
    patches.xyz.insert(patches.xyz.end(), colorXyz.begin(), colorXyz.end());
    patches.lab.assign(grayLab.begin(), grayLab.end());
    patches.lab.insert(patches.lab.end(), colorLab.begin(), colorLab.end());
    return patches;
}

std::string_view fitModelName(FitModel model) {
    switch (model) {
        case FitModel::LabLinear: return "CIE Lab Linear";
        case FitModel::XyzLinear: return "CIE XYZ Linear";
        case FitModel::ShaperMatrix: return "Shaper/Matrix";
        case FitModel::MixingShaper: return "Matrix/Shaper/Matrix";
        case FitModel::LabQuadratic: return "CIE Lab Quadratic";
        case FitModel::XyzQuadratic: return "CIE XYZ Quadratic";
        case FitModel::ShaperQuadratic: return "Shaper + Quadratic";
        case FitModel::LabCubic: return "CIE Lab Cubic";
        case FitModel::XyzCubic: return "CIE XYZ Cubic";
        case FitModel::ShaperCubic: return "Shaper + Cubic";
    }
    return "Unknown";
}

FitModel seedFitModel(int colorSpace, int regressionModel) {
    const bool xyz = colorSpace == CieXyz;
    switch (regressionModel) {
        case Linear: return xyz ? FitModel::XyzLinear : FitModel::LabLinear;
        case Quadratic: return xyz ? FitModel::XyzQuadratic : FitModel::LabQuadratic;
        default: return xyz ? FitModel::XyzCubic : FitModel::LabCubic;
    }
}

bool isSeedModel(FitModel model) { return !usesShaper(model); }

bool usesShaper(FitModel model) {
    return model == FitModel::ShaperMatrix || model == FitModel::MixingShaper || model == FitModel::ShaperQuadratic ||
           model == FitModel::ShaperCubic;
}

int seedColorSpace(FitModel model) {
    return model == FitModel::XyzLinear || model == FitModel::XyzQuadratic || model == FitModel::XyzCubic ? CieXyz
                                                                                                           : CieLab;
}

int seedRegressionModel(FitModel model) {
    switch (model) {
        case FitModel::LabQuadratic:
        case FitModel::XyzQuadratic:
        case FitModel::ShaperQuadratic: return Quadratic;
        case FitModel::LabCubic:
        case FitModel::XyzCubic:
        case FitModel::ShaperCubic: return Cubic;
        default: return Linear;
    }
}

int parametersPerOutput(FitModel model) {
    // A shaper adds its three curves' offset, gamma and weights, a third of
    // them per output; its matrix is the 3 of the linear terms.
    constexpr int kCurve = 2 + kShaperKnots;
    switch (model) {
        case FitModel::ShaperMatrix: return 3 + kCurve;
        case FitModel::MixingShaper: return 3 + 2 + kCurve;  // the mix's six entries, a third of them each
        case FitModel::ShaperQuadratic: return kQuadraticTermCount + kCurve;
        case FitModel::ShaperCubic: return kCubicTermCount + kCurve;
        default: return regressionTermCount(seedRegressionModel(model));
    }
}

ColorTriple FittedModel::linear(const ColorTriple& device) const {
    if (mixesChannels()) return mixing.linear(device);
    if (usesShaper(model)) return shaper.linear(device);
    ColorTriple p;
    for (int c = 0; c < 3; ++c) p[c] = toneCurves[static_cast<std::size_t>(c)].linearize(device[c]);
    return p;
}

double FittedModel::channelLinear(int channel, double device) const {
    const auto c = static_cast<std::size_t>(channel);
    if (mixesChannels()) {
        // The curve's power law alone: no dark offset holding it at 0, so
        // the table's axis keeps telling the darkest device values apart.
        return std::pow(std::clamp(device, 0.0, 1.0), mixing.shaper.curves[c].gamma);
    }
    return usesShaper(model) ? shaper.curves[c].value(device) : toneCurves[c].linearize(device);
}

CieTriple FittedModel::lab(const ColorTriple& device) const {
    if (mixesChannels()) return xyzToLab(mixing.xyz(device));
    return labOfLinear(linear(device));
}

CieTriple FittedModel::xyz(const ColorTriple& device) const {
    if (mixesChannels()) return mixing.xyz(device);
    return xyzOfLinear(linear(device));
}

CieTriple FittedModel::xyzOfLinear(const ColorTriple& p) const {
    if (model == FitModel::ShaperMatrix || mixesChannels()) {
        const Matrix3& matrix = mixesChannels() ? mixing.shaper.matrix : shaper.matrix;
        CieTriple xyz{};
        for (std::size_t r = 0; r < 3; ++r) xyz[r] = matrix[r][0] * p[0] + matrix[r][1] * p[1] + matrix[r][2] * p[2];
        return xyz;
    }
    const int terms = regressionTermCount(seedRegressionModel(model));
    CieTriple v = evaluatePolynomial(coefficients, terms, p[0], p[1], p[2]);
    if (usesShaper(model)) return v;
    if (seedColorSpace(model) == CieLab) return labToXyz(v);
    for (double& component : v)
        if (component < 0.0) component = 0.0;
    return v;
}

CieTriple FittedModel::labOfLinear(const ColorTriple& p) const {
    if (model == FitModel::ShaperMatrix || mixesChannels()) {
        const Matrix3& matrix = mixesChannels() ? mixing.shaper.matrix : shaper.matrix;
        CieTriple xyz{};
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) xyz[r] += matrix[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)] * p[c];
        return xyzToLab(xyz);
    }
    const int terms = regressionTermCount(seedRegressionModel(model));
    CieTriple v = evaluatePolynomial(coefficients, terms, p[0], p[1], p[2]);
    if (usesShaper(model)) return xyzToLab(v);
    if (seedColorSpace(model) == CieLab) return v;
    // As the regression's XYZ form: each negative component becomes 0.
    for (double& component : v)
        if (component < 0.0) component = 0.0;
    return xyzToLab(v);
}

bool plausibleLab(const CieTriple& lab) {
    for (double v : lab)
        if (!(std::fabs(v) <= kMaxLabComponent)) return false;
    return true;
}

void fitModels(const FitPatches& patches, std::span<const std::size_t> subset, std::span<const FitModel> models,
               const ModelStarts& starts, std::vector<FittedModel>& fitted, std::vector<bool>& ok) {
    fitted.assign(models.size(), FittedModel{});
    ok.assign(models.size(), false);
    std::array<SeedCurves, 2> curves;  // by colour space
    bool shaperTried = false;
    bool shaperOk = false;
    MatrixShaper shaper;
    std::vector<ColorTriple> shaperPoints, subsetXyz, subsetDevice, subsetLab;

    for (std::size_t m = 0; m < models.size(); ++m) {
        FittedModel& out = fitted[m];
        out.model = models[m];
        const int terms = regressionTermCount(seedRegressionModel(out.model));
        if (isSeedModel(out.model)) {
            const int space = seedColorSpace(out.model);
            SeedCurves& seed = curves[static_cast<std::size_t>(space)];
            if (!seed.tried) seedCurves(patches, subset, space, seed);
            if (!seed.ok) continue;
            std::vector<CieTriple> targets;
            targets.reserve(subset.size());
            for (std::size_t i : subset) targets.push_back(space == CieLab ? patches.lab[i] : patches.xyz[i]);
            out.toneCurves = seed.shapes;
            if (fitPolynomial(seed.points, targets, terms, 0.0, out.coefficients) != 0) continue;
        } else {
            if (!shaperTried) {
                shaperTried = true;
                for (std::size_t i : subset) {
                    subsetDevice.push_back(patches.device[i]);
                    subsetXyz.push_back(patches.xyz[i]);
                    subsetLab.push_back(patches.lab[i]);
                }
                shaperOk = fitMatrixShaper(subsetDevice, subsetXyz, subsetLab, starts.shaper, shaper) == 0;
                if (shaperOk)
                    for (const ColorTriple& d : subsetDevice) shaperPoints.push_back(shaper.linear(d));
            }
            if (!shaperOk) continue;
            out.shaper = shaper;
            if (out.mixesChannels()) {
                const int failed = starts.mixing ? refitMixingShaper(subsetDevice, subsetLab, *starts.mixing, out.mixing)
                                                 : fitMixingShaper(subsetDevice, subsetLab, shaper, out.mixing);
                if (failed != 0) continue;
            } else if (out.model != FitModel::ShaperMatrix &&
                fitPolynomial(shaperPoints, subsetXyz, terms,
                              kShaperPolynomialRidge * static_cast<double>(subset.size()), out.coefficients) != 0)
                continue;
        }
        ok[m] = modelHolds(out, patches, subset);
    }
}

int fitModel(const FitPatches& patches, FitModel model, const ModelStarts& starts, FittedModel& out) {
    std::vector<std::size_t> all(patches.size());
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
    std::vector<FittedModel> fitted;
    std::vector<bool> ok;
    fitModels(patches, all, std::span<const FitModel>(&model, 1), starts, fitted, ok);
    if (!ok[0]) return 1;
    out = std::move(fitted[0]);
    return 0;
}

}  // namespace calivant
