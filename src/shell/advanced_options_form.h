#pragma once
// The Advanced Options dialog's fields as plain values, and the checks its
// OK and Save As Default buttons run before anything changes, so the rules
// and their messages are testable without the dialog.

#include <string>

#include "measure/advanced_options.h"

namespace calivant {

struct ScanSession;

// The dialog reads at most this many characters of a typed value.
inline constexpr std::size_t kMaxOptionFieldLength = 79;

struct AdvancedOptionsForm {
    int colorSpaceIndex = -1;  // list selection; -1 none
    int modelIndex = -1;  // Linear, Quadratic, Cubic, Automatic
    int clutIndex = -1;
    bool eliminateResiduals = false;
    bool stretch = false;
    int smoothing = SmoothingNone;  // the checked radio button, 0..3
    // The "Correct uneven illumination" box: 0 or 1, or -1 while it is
    // disabled (a chart without border patches), which keeps the option as
    // it was.
    int correctIllumination = -1;
    std::string dmaxText;
    std::string dminText;
};

// The fields as the dialog fills them from the options: the stretch ends
// with two decimals, no table size selected for a size other than 17, 33, 65.
// The illumination box shows unchecked and disabled for a chart without
// border patches.
AdvancedOptionsForm formFromOptions(const AdvancedOptions& options, int targetType);

// The colour space list is disabled while "Automatic (Best Fit)" is chosen:
// an automatic profile is always built in CIE Lab.
bool colorSpaceChoosable(const AdvancedOptionsForm& form);

// Checks DMAX (number, then 0..25) before DMIN (number, then 75..100); the
// first problem's message goes to message and 1 is returned with options
// untouched. Otherwise the form is applied: a list without a selection
// leaves its value as it was. Returns 0.
int applyOptionsForm(const AdvancedOptionsForm& form, AdvancedOptions& options, std::string& message);

// After the options changed: every bad-patch mark is cleared and, with an
// image loaded, the target measured again without marking patches.
void remeasureAfterOptions(ScanSession& session);

}  // namespace calivant
