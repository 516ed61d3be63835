// The k-fold cross-validation and the choice it drives.
#include "profile/model_choice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "make-target/device_kinds.h"
#include "support/fit_patches.h"
#include "util/delta_e.h"

namespace calivant {
namespace {

TEST(FoldAssignment, EveryFoldGetsItsShareAndTheSameOnEveryCall) {
    for (std::size_t n : {7u, 24u, 96u, 504u}) {
        const std::vector<int> folds = foldAssignment(n, kFoldCount);
        EXPECT_EQ(folds, foldAssignment(n, kFoldCount));
        const int count = static_cast<int>(std::min<std::size_t>(n, kFoldCount));
        std::vector<std::size_t> sizes(static_cast<std::size_t>(count), 0);
        for (int f : folds) {
            ASSERT_GE(f, 0);
            ASSERT_LT(f, count);
            ++sizes[static_cast<std::size_t>(f)];
        }
        const auto [small, large] = std::minmax_element(sizes.begin(), sizes.end());
        EXPECT_LE(*large - *small, 1u) << n;
        // Neighbours in chart order (the gray scale) are spread over folds.
        EXPECT_NE(folds[0], folds[1]);
    }
}

// Each patch's error is that of a fit to the patches of the other folds,
// the same folds for every candidate, whatever the thread count.
TEST(CrossValidation, HeldOutErrorsAreThoseOfExplicitRefits) {
    const FitPatches patches = testing::devicePatches(deviceModelOfKind(DeviceKind::Crosstalk), 3);
    const std::vector<FitModel> models = {FitModel::XyzCubic, FitModel::LabQuadratic, FitModel::ShaperMatrix,
                                          FitModel::MixingShaper, FitModel::ShaperCubic};
    // The folds' iterative fits start from fits to every patch.
    MatrixShaper shaper;
    ASSERT_EQ(fitMatrixShaper(patches.device, patches.xyz, patches.lab, nullptr, shaper), 0);
    MixingShaper mixing;
    ASSERT_EQ(fitMixingShaper(patches.device, patches.lab, shaper, mixing), 0);
    const ModelStarts starts{&shaper, &mixing};
    const CrossValidation cv = crossValidate(patches, models, starts, 3);
    ASSERT_EQ(cv.foldCount, kFoldCount);
    const std::vector<int> folds = foldAssignment(patches.size(), kFoldCount);
    for (int f = 0; f < kFoldCount; ++f) {
        std::vector<std::size_t> training;
        for (std::size_t i = 0; i < patches.size(); ++i)
            if (folds[i] != f) training.push_back(i);
        std::vector<FittedModel> fitted;
        std::vector<bool> ok;
        fitModels(patches, training, models, starts, fitted, ok);
        for (std::size_t m = 0; m < models.size(); ++m) {
            ASSERT_TRUE(ok[m]);
            for (std::size_t i = 0; i < patches.size(); ++i) {
                if (folds[i] != f) continue;
                EXPECT_EQ(cv.errors[m][i], deltaE2000(fitted[m].lab(patches.device[i]), patches.lab[i]))
                    << fitModelName(models[m]) << " patch " << i;
            }
        }
    }
    for (std::size_t m = 0; m < models.size(); ++m) {
        double sum = 0.0;
        for (double e : cv.errors[m]) sum += e;
        std::vector<double> sorted = cv.errors[m];
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(cv.candidates[m].status, FitStatus::Ok);
        EXPECT_DOUBLE_EQ(cv.candidates[m].mean, sum / static_cast<double>(sorted.size()));
        EXPECT_EQ(cv.candidates[m].p95, sorted[91]);  // nearest rank: ceil(0.95 x 96) = 92
        EXPECT_EQ(cv.candidates[m].max, sorted.back());
    }
}

TEST(ModelChoice, TheSimplerModelStaysUnlessBeatenByMoreThanTwoPercent) {
    const struct {
        std::vector<double> means;  // simplest first; negative: not validated
        int chosen;
    } cases[] = {
        {{1.0, 0.981}, 0},
        {{1.0, 0.979}, 1},
        {{1.0, 0.99, 0.97}, 2},
        {{-1.0, 0.5, 0.495}, 1},
        {{1.0, 0.97, 0.955}, 1},  // judged against the model that won, not the first
        {{-1.0, -1.0}, -1},
    };
    for (const auto& c : cases) {
        std::vector<CandidateAccuracy> candidates;
        for (double mean : c.means)
            candidates.push_back({FitModel::LabLinear, mean < 0.0 ? FitStatus::Failed : FitStatus::Ok, mean, 0.0, 0.0});
        EXPECT_EQ(chooseModel(candidates), c.chosen) << ::testing::PrintToString(c.means);
    }
}

TEST(CrossValidation, ModelsWithTooFewPatchesOrFailingFitsAreNoCandidates) {
    // 24 patches leave 21 per fit: enough for 10 terms, not for 20.
    FitPatches patches = testing::devicePatches(defaultDeviceModel(), 1);
    const std::vector<FitModel> models = {FitModel::LabQuadratic, FitModel::LabCubic, FitModel::ShaperCubic};
    CrossValidation cv = crossValidate(patches, models, {});
    EXPECT_EQ(cv.candidates[0].status, FitStatus::Ok);
    EXPECT_EQ(cv.candidates[1].status, FitStatus::TooFewPatches);
    EXPECT_EQ(cv.candidates[2].status, FitStatus::TooFewPatches);

    // A gray scale that falls in red has no tone curves: the seed models fail.
    patches = testing::devicePatches(defaultDeviceModel(), 3);
    for (std::size_t i = 0; i < patches.grayCount; ++i) patches.device[i][0] = 1.0 - patches.device[i][0];
    cv = crossValidate(patches, std::vector<FitModel>{FitModel::XyzLinear}, {});
    EXPECT_EQ(cv.candidates[0].status, FitStatus::Failed);
    EXPECT_EQ(chooseModel(cv.candidates), -1);
}

}  // namespace
}  // namespace calivant
