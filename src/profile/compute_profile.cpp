#include "profile/compute_profile.h"

#include <cmath>

#include "measure/patch_measurement.h"
#include "profile/color_conversions.h"
#include "profile/lookup_table.h"
#include "profile/tone_curves.h"
#include "shell/platform.h"
#include "shell/scan_session.h"

namespace calivant {

int prepareWorkingReference(ScanSession& session, bool stretch) {
    const ReferenceData& reference = session.reference;
    ProfileResult& profile = session.profile;
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
        session.platform.showError(kFlatReferenceGrayError);
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

}  // namespace calivant

namespace calivant {
namespace {

// One pass: working references, tone curves and linearized patches, then
// the regression and its table.
int runPass(ScanSession& session, bool perceptual) {
    ProfileTable& table = perceptual ? session.profile.perceptual : session.profile.colorimetric;
    if (prepareWorkingReference(session, perceptual) != 0) return 1;
    if (buildToneCurves(session, table.toneCurves) != 0) return 1;
    return buildLookupTable(session.platform, session.options, session.targetType, session.profile, table.clut);
}

}  // namespace

int computeProfile(ScanSession& session) {
    if (session.description.empty()) {
        session.platform.showError(kMissingDescriptionError);
        return 1;
    }
    if (measureTarget(session, 1) != 0) return 1;
    if (runPass(session, true) != 0) return 1;
    return runPass(session, false);
}

}  // namespace calivant
