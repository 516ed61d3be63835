#include "profile/compute_profile.h"

#include <cmath>
#include <span>

#include "profile/lookup_table.h"
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

// One pass: working references, tone curves and linearized patches, then
// the regression and its table.
int runPass(const ProfileInputs& in, bool perceptual, ProfileComputation& out) {
    ProfileResult& profile = out.profile;
    ProfileTable& table = perceptual ? profile.perceptual : profile.colorimetric;
    if (prepareWorkingReference(in.reference, perceptual, profile, out.diagnostics) != 0) return 1;
    const auto grays = std::span(in.measurement.grayWorking).first(static_cast<std::size_t>(in.layout.grayCount));
    const auto colors = std::span(in.measurement.colorWorking).first(static_cast<std::size_t>(in.layout.colorCount));
    if (buildToneCurves(grays, colors, in.options.colorSpace, profile, table.toneCurves, out.diagnostics) != 0)
        return 1;
    return buildLookupTable(in.options, in.layout.targetType, profile, table.clut, out.diagnostics);
}

}  // namespace

ProfileComputation computeProfile(const ProfileInputs& inputs) {
    ProfileComputation out;
    if (runPass(inputs, true, out) != 0) return out;
    if (runPass(inputs, false, out) != 0) return out;
    out.status = 0;
    return out;
}

}  // namespace calivant
