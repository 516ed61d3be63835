#include "shell/computation.h"

#include <utility>

#include "measure/quality_checks.h"
#include "profile/compute_profile.h"
#include "profile/illumination_correction.h"
#include "profile/reference_match.h"
#include "shell/platform.h"
#include "shell/scan_session.h"
#include "util/format.h"
#include "util/input_file.h"

namespace calivant {

int measureSession(ScanSession& session, MeasureMode mode) {
    return measureSession(session, mode, ImagePixels(session.image));
}

int measureSession(ScanSession& session, MeasureMode mode, const PixelSource& picture) {
    if (session.imageReady != 1 || session.referenceReady != 1) return 1;
    TargetMeasurement m = measureTarget(picture, session.targetLayout, session.overlay, session.reference,
                                        session.options, mode);
    // Read in place, the file may have shrunk under the sampling: what was
    // measured is then partly zeros and nothing of it is shown.
    if (picture.changedWhileRead()) {
        session.platform.showError(formatText("Cannot read target file: %s", {session.imageFile}) + "\n" +
                                   kFileChanged);
        return 1;
    }
    if (!m.measured) {
        presentDiagnostics(session.platform, m.diagnostics);
        return 1;
    }
    correctIllumination(m, session.targetLayout, session.reference, session.options);
    // Kept before the messages show, so that what they speak of (the
    // patches marked bad) is already there to be looked at.
    const Diagnostics diagnostics = std::move(m.diagnostics);
    const bool ask = m.grayOrderQuestion;
    int status = m.status;
    session.measurement = std::move(m);
    session.measurement.diagnostics = diagnostics;
    presentDiagnostics(session.platform, diagnostics);
    if (ask && session.platform.askWarning(kGrayOrderQuestion) == 1) status = 1;
    return status;
}

int refuseForeignReference(ScanSession& session) {
    if (grayScaleRunsAgainstReference(session.measurement, session.reference)) {
        session.platform.showError(kGrayScaleReversedError);
        return 1;
    }
    const double error = referenceMismatchError(session.measurement, session.reference);
    if (!(error > kReferenceMismatchThreshold)) return 0;
    return session.platform.askWarning(referenceMismatchQuestion(error) + "\n" + std::string(kClickOkOrCancel)) == 1
               ? 1
               : 0;
}

int computeSessionProfile(ScanSession& session) { return computeSessionProfile(session, ImagePixels(session.image)); }

int computeSessionProfile(ScanSession& session, const PixelSource& picture) {
    if (session.description.empty()) {
        session.platform.showError(kMissingDescriptionError);
        return 1;
    }
    if (measureSession(session, MeasureMode::Compute, picture) != 0) return 1;
    if (refuseForeignReference(session) != 0) return 1;
    ProfileComputation computed =
        computeProfile({session.targetLayout, session.reference, session.measurement, session.options});
    presentDiagnostics(session.platform, computed.diagnostics);
    if (computed.status != 0) return 1;
    session.profile = std::move(computed.profile);
    return 0;
}

TargetContrast measureSessionContrast(ScanSession& session) {
    if (session.imageReady != 1 || session.referenceReady != 1) return {};
    session.measurement.grayBad.fill(0);
    session.measurement.colorBad.fill(0);
    if (measureSession(session, MeasureMode::Preview) != 0) return {};
    return contrastOfMeasurement(session.measurement, session.targetLayout.grayCount);
}

}  // namespace calivant
