#include "shell/computation.h"

#include <utility>

#include "measure/quality_checks.h"
#include "profile/compute_profile.h"
#include "profile/illumination_correction.h"
#include "shell/platform.h"
#include "shell/scan_session.h"

namespace calivant {

int measureSession(ScanSession& session, MeasureMode mode) {
    return measureSession(session, mode, ImagePixels(session.image));
}

int measureSession(ScanSession& session, MeasureMode mode, const PixelSource& picture) {
    if (session.imageReady != 1 || session.referenceReady != 1) return 1;
    TargetMeasurement m = measureTarget(picture, session.targetLayout, session.overlay, session.reference,
                                        session.options, mode);
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

int computeSessionProfile(ScanSession& session) { return computeSessionProfile(session, ImagePixels(session.image)); }

int computeSessionProfile(ScanSession& session, const PixelSource& picture) {
    if (session.description.empty()) {
        session.platform.showError(kMissingDescriptionError);
        return 1;
    }
    if (measureSession(session, MeasureMode::Compute, picture) != 0) return 1;
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
