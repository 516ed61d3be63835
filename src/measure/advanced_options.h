#pragma once
// The options that steer the profile computation, with their factory
// defaults and the encodings they are stored in.

#include "target/target_layout.h"

namespace calivant {

enum ColorSpace : int { CieXyz = 0, CieLab = 1 };
// Automatic: the model is chosen by cross-validation among every candidate
// (see profile/model_choice.h); the profile's connection space is then
// L*a*b* whatever colorSpace says.
enum RegressionModel : int { Linear = 0, Quadratic = 1, Cubic = 2, Automatic = 3 };

enum Smoothing : int { SmoothingNone = 0, SmoothingLight = 1, SmoothingModerate = 2, SmoothingHeavy = 3 };

inline constexpr int kClutSizes[] = {17, 33, 65};

// Contrast stretch limits, in percent of full scale: DMAX is where the
// darkest measured value goes, DMIN where the lightest goes.
inline constexpr double kStretchDmaxMin = 0.0;
inline constexpr double kStretchDmaxMax = 25.0;
inline constexpr double kStretchDminMin = 75.0;
inline constexpr double kStretchDminMax = 100.0;

struct AdvancedOptions {
    int colorSpace = CieLab;
    int regressionModel = Cubic;
    int eliminateResiduals = 0;
    int clutSize = 33;
    int smoothing = SmoothingNone;
    int stretch = 0;
    double stretchDmax = 0.0;
    double stretchDmin = 100.0;
    // Divide out the uneven light the border patches show (charts that have
    // them: ColorChecker DC, SG, HCT).
    int correctIllumination = 0;

    bool operator==(const AdvancedOptions&) const = default;
};

// The model and the residual flag travel as one word: model + 4 * flag.
inline int regressionWord(const AdvancedOptions& o) { return o.regressionModel + 4 * o.eliminateResiduals; }

// Sets the model and flag from a regression word. Returns false (and changes
// nothing) for a word that is not model + 4 * flag with a model of 0..3.
bool setRegressionWord(AdvancedOptions& o, int word);

bool isValidClutSize(int size);

// The colour space of the profile's tables and connection space: CIE Lab
// for an automatic model choice, else the setting.
int effectiveColorSpace(const AdvancedOptions& options);

void resetOptionsToFactory(AdvancedOptions& options);

// Whether a chart prints the white, gray and black border patches the
// illumination check and the illumination correction read.
bool hasBorderPatches(int targetType);

}  // namespace calivant
