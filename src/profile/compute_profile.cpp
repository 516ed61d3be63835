#include "profile/compute_profile.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <span>
#include <vector>

#include "profile/fitted_table.h"
#include "profile/lookup_table.h"
#include "profile/model_choice.h"
#include "profile/model_fit.h"
#include "profile/regression.h"
#include "profile/shaper_matrix.h"
#include "profile/tone_curves.h"
#include "util/cie.h"

namespace calivant {

int prepareWorkingReference(const ReferenceData& reference, bool stretch, ProfileResult& profile,
                            Diagnostics& diagnostics) {
    const auto grays = static_cast<std::size_t>(reference.grayCount);
    const auto colors = static_cast<std::size_t>(reference.colorCount);
    profile.workGrayLab.assign(reference.grayLab.begin(), reference.grayLab.begin() + grays);
    profile.workGrayXYZ.assign(reference.grayXYZ.begin(), reference.grayXYZ.begin() + grays);
    profile.workColorLab.assign(reference.colorLab.begin(), reference.colorLab.begin() + colors);
    profile.workColorXYZ.assign(reference.colorXYZ.begin(), reference.colorXYZ.begin() + colors);
    if (!stretch || grays == 0) return 0;

    const double l0 = reference.grayLab[0][0];
    const double lTop = reference.grayLab[grays - 1][0];
    if (!(lTop != l0)) {
        addError(diagnostics, kFlatReferenceGrayError);
        return 1;
    }
    auto stretchPatch = [&](ColorTriple& lab, ColorTriple& xyz) {
        const double l = lab[0];
        const double stretched = (l - l0) * 100.0 / (lTop - l0);
        // A patch of L* 0 has no chroma-to-lightness ratio to keep; its a*
        // and b* pass unchanged instead of becoming infinite.
        if (l != 0.0) lab = {stretched, stretched * lab[1] / l, lab[2] * stretched / l};
        else lab[0] = stretched;
        xyz = labToXyz(lab);
    };
    for (std::size_t i = 0; i < grays; ++i) stretchPatch(profile.workGrayLab[i], profile.workGrayXYZ[i]);
    for (std::size_t i = 0; i < colors; ++i) stretchPatch(profile.workColorLab[i], profile.workColorXYZ[i]);
    return 0;
}

namespace {

// The 1024 entries of each TRC tag: the curves at 1/1023 steps are well below
// a code apart even where they are steepest.
constexpr int kTrcEntries = 1024;

std::span<const DeviceRgb> grayDevice(const ProfileInputs& in) {
    return std::span(in.measurement.grayWorking).first(static_cast<std::size_t>(in.layout.grayCount));
}

std::span<const DeviceRgb> colorDevice(const ProfileInputs& in) {
    return std::span(in.measurement.colorWorking).first(static_cast<std::size_t>(in.layout.colorCount));
}

// The measured patches against the reference as read: what the model
// choice, its figures and the matrix/TRC tags are fitted to.
FitPatches colorimetricPatches(const ProfileInputs& in) {
    const auto grays = static_cast<std::size_t>(in.layout.grayCount);
    const auto colors = static_cast<std::size_t>(in.layout.colorCount);
    const ReferenceData& r = in.reference;
    return fitPatchesOf(grayDevice(in), colorDevice(in), std::span(r.grayXYZ).first(grays),
                        std::span(r.grayLab).first(grays), std::span(r.colorXYZ).first(colors),
                        std::span(r.colorLab).first(colors));
}

// The patches of a pass: the working reference values in profile.
FitPatches passPatches(const ProfileInputs& in, const ProfileResult& profile) {
    return fitPatchesOf(grayDevice(in), colorDevice(in), profile.workGrayXYZ, profile.workGrayLab,
                        profile.workColorXYZ, profile.workColorLab);
}

int failRegression(Diagnostics& diagnostics) {
    addError(diagnostics, "Regression error");
    return 1;
}

// One pass: working references, tone curves and linearized patches, then
// the regression and its table.
int runPass(const ProfileInputs& in, const AdvancedOptions& options, bool perceptual, ProfileComputation& out) {
    ProfileResult& profile = out.profile;
    ProfileTable& table = perceptual ? profile.perceptual : profile.colorimetric;
    if (prepareWorkingReference(in.reference, perceptual, profile, out.diagnostics) != 0) return 1;
    if (buildToneCurves(grayDevice(in), colorDevice(in), options.colorSpace, profile, table.toneCurves,
                        out.diagnostics) != 0)
        return 1;
    return buildLookupTable(options, in.layout.targetType, profile, table.clut, out.diagnostics);
}

// One pass of an automatically chosen model other than a CIE Lab seed
// model: the model fitted to the pass's working values and sampled into L*a*b*
// tables. The CIE Lab Linear model is fitted beside it for the estimated
// primaries, as for every CIE Lab profile.
int runFittedPass(const ProfileInputs& in, FitModel model, const ModelStarts& starts, const FittedTableForm& form,
                  bool perceptual, ProfileComputation& out) {
    ProfileResult& profile = out.profile;
    ProfileTable& table = perceptual ? profile.perceptual : profile.colorimetric;
    if (prepareWorkingReference(in.reference, perceptual, profile, out.diagnostics) != 0) return 1;
    const FitPatches patches = passPatches(in, profile);
    auto fitted = std::make_shared<FittedModel>();
    FittedModel linear;
    if (fitModel(patches, model, starts, *fitted) != 0 || fitModel(patches, FitModel::LabLinear, {}, linear) != 0)
        return failRegression(out.diagnostics);
    for (int k = 0; k < 3; ++k)
        for (int j = 0; j < kLinearTermCount; ++j)
            profile.linearCoefficients[static_cast<std::size_t>(k)][static_cast<std::size_t>(j)] =
                linear.coefficients[static_cast<std::size_t>(k)][static_cast<std::size_t>(j)];
    profile.effectiveModel = Linear;
    if (buildFittedTables(*fitted, form, grayDevice(in), colorDevice(in), in.options, table, profile) != 0)
        return failRegression(out.diagnostics);
    profile.fittedModel = std::move(fitted);
    profile.tableForm = form;
    return 0;
}

// The matrix/TRC tags from a shaper/matrix fit; without one (a fit that
// failed), straight curves and the colorants the Linear model estimates.
void setMatrixTrc(const MatrixShaper* shaper, const ProfileResult& profile, int colorSpace, MatrixTrcTags& tags) {
    if (shaper) {
        tags = matrixTrcTagsOf(*shaper, kTrcEntries);
        return;
    }
    MatrixShaper straight;
    for (int c = 0; c < 3; ++c) {
        const CieTriple xyz = primaryXyz(profile, colorSpace, c);
        for (int r = 0; r < 3; ++r) straight.matrix[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)] = xyz[r];
    }
    tags = matrixTrcTagsOf(straight, kTrcEntries);
}

void computeFixed(const ProfileInputs& in, ProfileComputation& out) {
    if (runPass(in, in.options, true, out) != 0) return;
    if (runPass(in, in.options, false, out) != 0) return;
    const FitPatches patches = colorimetricPatches(in);
    const FitModel model =
        seedFitModel(in.options.colorSpace, effectiveRegressionModel(in.options, in.layout.targetType));
    const CrossValidation cv = crossValidate(patches, std::span<const FitModel>(&model, 1), {});
    out.profile.accuracy = {cv.foldCount, cv.candidates, 0};
    MatrixShaper shaper;
    const bool shaperOk = fitMatrixShaper(patches.device, patches.xyz, patches.lab, nullptr, shaper) == 0;
    setMatrixTrc(shaperOk ? &shaper : nullptr, out.profile, in.options.colorSpace, out.profile.matrixTrc);
    out.status = 0;
}

// Both passes from one model, as an automatic choice of it builds them.
void buildFromModel(const ProfileInputs& in, FitModel model, const ModelStarts& starts, const FittedTableForm& form,
                    ProfileComputation& out) {
    if (isSeedModel(model) && seedColorSpace(model) == CieLab && form == FittedTableForm{}) {
        // In the classic form: the tables of the fixed CIE Lab model, to the bit.
        AdvancedOptions options = in.options;
        options.colorSpace = CieLab;
        options.regressionModel = seedRegressionModel(model);
        if (runPass(in, options, true, out) != 0 || runPass(in, options, false, out) != 0) return;
    } else {
        if (runFittedPass(in, model, starts, form, true, out) != 0 ||
            runFittedPass(in, model, starts, form, false, out) != 0)
            return;
    }
    setMatrixTrc(starts.shaper, out.profile, CieLab, out.profile.matrixTrc);
    out.status = 0;
}

// The fits to every patch that the folds and the passes start from; the
// mixing model's only when it is among the models.
struct FullFits {
    MatrixShaper shaper;
    MixingShaper mixing;
    bool shaperOk = false;
    bool mixingOk = false;

    ModelStarts starts() const { return {shaperOk ? &shaper : nullptr, mixingOk ? &mixing : nullptr}; }
};

FullFits fullFits(const FitPatches& patches, std::span<const FitModel> models) {
    FullFits fits;
    fits.shaperOk = fitMatrixShaper(patches.device, patches.xyz, patches.lab, nullptr, fits.shaper) == 0;
    const bool mixing = std::find(models.begin(), models.end(), FitModel::MixingShaper) != models.end();
    if (fits.shaperOk && mixing) fits.mixingOk = fitMixingShaper(patches.device, patches.lab, fits.shaper, fits.mixing) == 0;
    return fits;
}

void computeAutomatic(const ProfileInputs& in, ProfileComputation& out) {
    const FitPatches patches = colorimetricPatches(in);
    const std::vector<FitModel> candidates = automaticCandidates();
    const FullFits fits = fullFits(patches, candidates);
    const CrossValidation cv = crossValidate(patches, candidates, fits.starts());
    const int chosen = chooseModel(cv.candidates);
    if (chosen < 0) {
        failRegression(out.diagnostics);
        return;
    }
    const FitModel model = candidates[static_cast<std::size_t>(chosen)];
    buildFromModel(in, model, fits.starts(), fittedTableForm(model), out);
    out.profile.accuracy = {cv.foldCount, cv.candidates, chosen};
}

}  // namespace

ProfileComputation computeProfileWithModel(const ProfileInputs& inputs, FitModel model,
                                           const std::optional<FittedTableForm>& form) {
    ProfileComputation out;
    const FitPatches patches = colorimetricPatches(inputs);
    const FullFits fits = fullFits(patches, std::span<const FitModel>(&model, 1));
    const CrossValidation cv = crossValidate(patches, std::span<const FitModel>(&model, 1), fits.starts());
    buildFromModel(inputs, model, fits.starts(), form.value_or(fittedTableForm(model)), out);
    out.profile.accuracy = {cv.foldCount, cv.candidates, 0};
    return out;
}

ProfileComputation computeProfile(const ProfileInputs& inputs) {
    ProfileComputation out;
    if (inputs.options.regressionModel == Automatic) computeAutomatic(inputs, out);
    else computeFixed(inputs, out);
    return out;
}

}  // namespace calivant
