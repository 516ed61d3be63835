#include "shell/advanced_options_form.h"

#include "measure/patch_measurement.h"
#include "reference/text_input.h"
#include "shell/computation.h"
#include "shell/scan_session.h"
#include "util/format.h"

namespace calivant {
namespace {

// 0 and the value when text is a number, 1 otherwise.
int readField(const std::string& text, double& value) {
    return parseReal(std::string_view(text).substr(0, kMaxOptionFieldLength), value);
}

}  // namespace

AdvancedOptionsForm formFromOptions(const AdvancedOptions& o, int targetType) {
    AdvancedOptionsForm form;
    form.colorSpaceIndex = (o.colorSpace == CieXyz || o.colorSpace == CieLab) ? o.colorSpace : -1;
    form.modelIndex = (o.regressionModel >= Linear && o.regressionModel <= Automatic) ? o.regressionModel : -1;
    for (int i = 0; i < 3; ++i)
        if (kClutSizes[i] == o.clutSize) form.clutIndex = i;
    form.eliminateResiduals = o.eliminateResiduals != 0;
    form.stretch = o.stretch != 0;
    form.smoothing = (o.smoothing >= SmoothingNone && o.smoothing <= SmoothingHeavy) ? o.smoothing : SmoothingNone;
    form.dmaxText = formatText("%2f", {o.stretchDmax});
    form.dminText = formatText("%2f", {o.stretchDmin});
    form.correctIllumination = hasBorderPatches(targetType) ? (o.correctIllumination != 0 ? 1 : 0) : -1;
    return form;
}

bool colorSpaceChoosable(const AdvancedOptionsForm& form) { return form.modelIndex != Automatic; }

int applyOptionsForm(const AdvancedOptionsForm& form, AdvancedOptions& options, std::string& message) {
    double dmax = 0.0;
    double dmin = 0.0;
    if (readField(form.dmaxText, dmax) != 0) {
        message = "Illegal target DMAX value";
        return 1;
    }
    if (dmax < kStretchDmaxMin || dmax > kStretchDmaxMax) {
        message = "Target DMAX value out of range (0.0 .. 25.0)";
        return 1;
    }
    if (readField(form.dminText, dmin) != 0) {
        message = "Illegal target DMIN value";
        return 1;
    }
    if (dmin < kStretchDminMin || dmin > kStretchDminMax) {
        message = "Target DMIN value out of range (75.0 .. 100.0)";
        return 1;
    }
    message.clear();
    if (form.colorSpaceIndex == CieXyz || form.colorSpaceIndex == CieLab) options.colorSpace = form.colorSpaceIndex;
    if (form.modelIndex >= Linear && form.modelIndex <= Automatic) options.regressionModel = form.modelIndex;
    if (form.clutIndex >= 0 && form.clutIndex < 3) options.clutSize = kClutSizes[form.clutIndex];
    options.eliminateResiduals = form.eliminateResiduals ? 1 : 0;
    options.stretch = form.stretch ? 1 : 0;
    if (form.smoothing >= SmoothingNone && form.smoothing <= SmoothingHeavy) options.smoothing = form.smoothing;
    options.stretchDmax = dmax;
    options.stretchDmin = dmin;
    if (form.correctIllumination == 0 || form.correctIllumination == 1) options.correctIllumination = form.correctIllumination;
    return 0;
}

void remeasureAfterOptions(ScanSession& session) {
    session.measurement.grayBad.fill(0);
    session.measurement.colorBad.fill(0);
    // The measurement needs the reference for the gray order; without one
    // there is nothing to show anyway.
    measureSession(session, MeasureMode::Preview);
}

}  // namespace calivant
