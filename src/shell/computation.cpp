#include "shell/computation.h"

#include <utility>

#include "measure/quality_checks.h"
#include "profile/compute_profile.h"
#include "shell/platform.h"
#include "shell/scan_session.h"

namespace calivant {

int measureSession(ScanSession& session, MeasureMode mode) {
    if (session.imageReady != 1 || session.referenceReady != 1) return 1;
    TargetMeasurement m = measureTarget(session.image, session.targetLayout, session.overlay, session.reference,
                                        session.options, mode);
    if (!m.measured) return 1;
    presentDiagnostics(session.platform, m.diagnostics);
    int status = m.status;
    if (m.grayOrderQuestion && session.platform.askWarning(kGrayOrderQuestion) == 1) status = 1;
    session.measurement = std::move(m);
    return status;
}

int computeSessionProfile(ScanSession& session) {
    if (session.description.empty()) {
        session.platform.showError(kMissingDescriptionError);
        return 1;
    }
    if (measureSession(session, MeasureMode::Compute) != 0) return 1;
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
