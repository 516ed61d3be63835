#include "shell/scan_session.h"

#include "shell/platform.h"

namespace calivant {

void resetOverlay(ScanSession& session, int imageWidth, int imageHeight) {
    resetOverlayQuad(session.overlay, imageWidth, imageHeight);
    session.targetLayout = makeTargetLayout(session.targetType);
    session.measurement.colorBad.fill(0);
    session.measurement.grayBad.fill(0);
}

std::vector<WindowSegment> overlaySegments(const ScanSession& session, const DisplayPlacement& placement) {
    return overlaySegments(session.overlay, session.targetLayout, session.measurement.colorBad,
                           session.measurement.grayBad, placement);
}

ProfileRecord profileRecordOf(const ScanSession& session) {
    return {session.description, session.copyright,    session.targetType,  session.reflective,
            session.options,     session.targetLayout, session.measurement, session.profile,
            session.imageKind == PictureKind::Jpeg};
}

void presentDiagnostics(Platform& platform, const Diagnostics& diagnostics) {
    for (const Diagnostic& d : diagnostics) {
        if (d.severity == Severity::Error)
            platform.showError(d.message);
        else
            platform.showWarning(d.message);
    }
}

}  // namespace calivant
