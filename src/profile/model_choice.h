#pragma once
// Choosing a model by k-fold cross-validation: every patch is predicted by a
// fit to the folds it is not in, every candidate on the same folds, and the
// mean CIEDE2000 of those held-out predictions decides. The simpler model
// (the earlier in FitModel order) stays unless another beats it by more than
// kSimplerModelMargin.

#include <cstddef>
#include <span>
#include <vector>

#include "profile/model_fit.h"

namespace calivant {

inline constexpr int kFoldCount = 10;
inline constexpr double kSimplerModelMargin = 0.02;
// A candidate needs this many patches in every fit per parameter of an
// output component.
inline constexpr double kPatchesPerParameter = 1.5;

// The fold of every patch: the patches in a fixed pseudo-random order (the
// same on every run and machine), dealt to the folds in turn. With fewer
// patches than folds every patch is a fold of its own.
std::vector<int> foldAssignment(std::size_t patchCount, int foldCount);

struct CrossValidation {
    int foldCount = 0;
    std::vector<CandidateAccuracy> candidates;  // one per model, in the order given
    // Per candidate, per patch: the CIEDE2000 of its held-out prediction
    // (empty for a candidate that was not validated).
    std::vector<std::vector<double>> errors;
};

// Validates each model on the folds, fold by fold on threadCount threads (0:
// one per core); the results do not depend on the thread count. The
// iterative fits start from starts (fits to all patches) when given.
CrossValidation crossValidate(const FitPatches& patches, std::span<const FitModel> models, const ModelStarts& starts,
                              unsigned threadCount = 0);

// The index of the candidate to use, -1 when none validated.
int chooseModel(std::span<const CandidateAccuracy> candidates);

// Every model, simplest first: the candidates of an automatic choice.
std::vector<FitModel> automaticCandidates();

}  // namespace calivant
