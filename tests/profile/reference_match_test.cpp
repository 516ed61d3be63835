// A reference that does not belong to the chart is told from one that does
// by the fixed model's cross-validated error, and a gray scale running the
// other way is refused outright.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "profile/reference_match.h"
#include "support/synthetic_scan.h"

namespace calivant {
namespace {

TEST(ReferenceMatch, CorrectChartsStayBelowTheThresholdForeignOnesAbove) {
    for (const int type : {0, 1, 3, 4}) {
        {
            SyntheticTargetOptions options;
            options.targetType = type;
            options.noiseSigma = 0.01;
            options.gradient = 0.2;
            const testing::SyntheticScan scan = testing::renderScan(options);
            const TargetMeasurement m = testing::measureScan(scan, AdvancedOptions{});
            const ReferenceData& reference = scan.target.reference;
            const double correct = referenceMismatchError(m, reference);
            EXPECT_LT(correct, kReferenceMismatchThreshold) << type;
            EXPECT_FALSE(grayScaleRunsAgainstReference(m, reference));

            // Another chart, simulated by the colour patches' values shuffled.
            ReferenceData shuffled = reference;
            std::mt19937 random(7);
            std::vector<int> order(static_cast<std::size_t>(reference.colorCount));
            for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
            std::shuffle(order.begin(), order.end(), random);
            for (std::size_t i = 0; i < order.size(); ++i) {
                shuffled.colorXYZ[i] = reference.colorXYZ[static_cast<std::size_t>(order[i])];
                shuffled.colorLab[i] = reference.colorLab[static_cast<std::size_t>(order[i])];
            }
            const double foreign = referenceMismatchError(m, shuffled);
            EXPECT_GT(foreign, kReferenceMismatchThreshold) << type;

            // The gray scale the other way round.
            ReferenceData reversed = reference;
            std::reverse(reversed.grayXYZ.begin(), reversed.grayXYZ.begin() + reference.grayCount);
            std::reverse(reversed.grayLab.begin(), reversed.grayLab.begin() + reference.grayCount);
            EXPECT_TRUE(grayScaleRunsAgainstReference(m, reversed));
        }
    }
    EXPECT_EQ(referenceMismatchQuestion(31.456),
              "The reference file does not seem to match the chart (cross-validated error 31.46)");
}

}  // namespace
}  // namespace calivant
