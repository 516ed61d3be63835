#include "profile/model_choice.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>

#include "util/delta_e.h"
#include "util/parallel.h"

namespace calivant {
namespace {

// splitmix64: a portable hash, so the folds are the same everywhere.
std::uint64_t mix(std::uint64_t z) {
    z += 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

void summarise(std::vector<double> errors, CandidateAccuracy& out) {
    if (errors.empty()) return;
    out.mean = std::accumulate(errors.begin(), errors.end(), 0.0) / static_cast<double>(errors.size());
    std::sort(errors.begin(), errors.end());
    const auto rank = static_cast<std::size_t>(std::ceil(0.95 * static_cast<double>(errors.size())));
    out.p95 = errors[std::max<std::size_t>(rank, 1) - 1];
    out.max = errors.back();
}

}  // namespace

std::vector<int> foldAssignment(std::size_t patchCount, int foldCount) {
    std::vector<std::size_t> order(patchCount);
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [](std::size_t a, std::size_t b) {
        const std::uint64_t ha = mix(a), hb = mix(b);
        return ha != hb ? ha < hb : a < b;
    });
    const std::size_t folds = std::min<std::size_t>(static_cast<std::size_t>(std::max(foldCount, 1)), patchCount);
    std::vector<int> fold(patchCount, 0);
    for (std::size_t rank = 0; rank < order.size(); ++rank) fold[order[rank]] = static_cast<int>(rank % folds);
    return fold;
}

CrossValidation crossValidate(const FitPatches& patches, std::span<const FitModel> models, const ModelStarts& starts,
                              unsigned threadCount) {
    const std::size_t n = patches.size();
    const std::vector<int> fold = foldAssignment(n, kFoldCount);
    CrossValidation cv;
    cv.foldCount = n == 0 ? 0 : *std::max_element(fold.begin(), fold.end()) + 1;
    cv.candidates.resize(models.size());
    cv.errors.resize(models.size());

    // The smallest training set any fold leaves decides which models have
    // enough patches.
    std::vector<std::size_t> foldSize(static_cast<std::size_t>(cv.foldCount), 0);
    for (int f : fold) ++foldSize[static_cast<std::size_t>(f)];
    const std::size_t largestFold = foldSize.empty() ? n : *std::max_element(foldSize.begin(), foldSize.end());
    const double training = static_cast<double>(n - largestFold);
    std::vector<FitModel> active;
    std::vector<std::size_t> activeIndex;
    for (std::size_t m = 0; m < models.size(); ++m) {
        cv.candidates[m].model = models[m];
        if (cv.foldCount < 2 || training < kPatchesPerParameter * parametersPerOutput(models[m])) {
            cv.candidates[m].status = FitStatus::TooFewPatches;
        } else {
            active.push_back(models[m]);
            activeIndex.push_back(m);
        }
    }
    if (active.empty()) return cv;

    // Each fold writes only its own patches' errors and its own flags.
    std::vector<std::vector<double>> errors(active.size(), std::vector<double>(n, 0.0));
    std::vector<std::vector<char>> failed(static_cast<std::size_t>(cv.foldCount), std::vector<char>(active.size(), 0));
    runEachIndex(static_cast<std::size_t>(cv.foldCount), threadCount, [&](std::size_t index) {
        const int f = static_cast<int>(index);
        std::vector<std::size_t> subset;
        subset.reserve(n);
        for (std::size_t i = 0; i < n; ++i)
            if (fold[i] != f) subset.push_back(i);
        std::vector<FittedModel> fitted;
        std::vector<bool> ok;
        fitModels(patches, subset, active, starts, fitted, ok);
        for (std::size_t m = 0; m < active.size(); ++m) {
            if (!ok[m]) {
                failed[static_cast<std::size_t>(f)][m] = 1;
                continue;
            }
            for (std::size_t i = 0; i < n; ++i) {
                if (fold[i] != f) continue;
                const CieTriple lab = fitted[m].lab(patches.device[i]);
                if (!plausibleLab(lab)) failed[static_cast<std::size_t>(f)][m] = 1;
                else errors[m][i] = deltaE2000(lab, patches.lab[i]);
            }
        }
    });

    for (std::size_t m = 0; m < active.size(); ++m) {
        CandidateAccuracy& candidate = cv.candidates[activeIndex[m]];
        const bool anyFailed = std::any_of(failed.begin(), failed.end(), [&](const std::vector<char>& f) { return f[m] != 0; });
        if (anyFailed) {
            candidate.status = FitStatus::Failed;
            continue;
        }
        candidate.status = FitStatus::Ok;
        summarise(errors[m], candidate);
        cv.errors[activeIndex[m]] = std::move(errors[m]);
    }
    return cv;
}

int chooseModel(std::span<const CandidateAccuracy> candidates) {
    int best = -1;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        if (candidates[i].status != FitStatus::Ok) continue;
        if (best < 0 || candidates[i].mean < (1.0 - kSimplerModelMargin) * candidates[static_cast<std::size_t>(best)].mean)
            best = static_cast<int>(i);
    }
    return best;
}

std::vector<FitModel> automaticCandidates() {
    std::vector<FitModel> models;
    for (int m = 0; m < kFitModelCount; ++m) models.push_back(static_cast<FitModel>(m));
    return models;
}

}  // namespace calivant
