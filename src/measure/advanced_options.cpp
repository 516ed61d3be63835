#include "measure/advanced_options.h"

namespace calivant {

bool setRegressionWord(AdvancedOptions& o, int word) {
    if (word < 0 || word > 7) return false;
    o.regressionModel = word & 3;
    o.eliminateResiduals = (word & 4) ? 1 : 0;
    return true;
}

bool isValidClutSize(int size) {
    for (int s : kClutSizes)
        if (s == size) return true;
    return false;
}

int effectiveColorSpace(const AdvancedOptions& options) {
    return options.regressionModel == Automatic ? CieLab : options.colorSpace;
}

void resetOptionsToFactory(AdvancedOptions& options) { options = AdvancedOptions{}; }

bool hasBorderPatches(int targetType) {
    return targetType == static_cast<int>(TargetType::ColorCheckerDc) ||
           targetType == static_cast<int>(TargetType::ColorCheckerSg) || targetType == static_cast<int>(TargetType::Hct);
}

}  // namespace calivant
