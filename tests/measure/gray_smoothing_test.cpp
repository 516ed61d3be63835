#include "measure/gray_smoothing.h"

#include <gtest/gtest.h>


#include "measure/advanced_options.h"
#include "measure/smoothing_spline.h"

namespace calivant {
namespace {

using Vector = std::vector<double>;

TEST(GrayScaleKnots, MovesEqualAndFallingValuesUpFromTheAdjustedOneBefore) {
    EXPECT_EQ(grayScaleKnots(Vector{3.0, 3.0, 3.0, 9.0}), (Vector{3.0, 3.0 + 0.001, 3.0 + 0.001 + 0.001, 9.0}));
    EXPECT_EQ(grayScaleKnots(Vector{5.0, 3.0, 5.0005, 9.0}), (Vector{5.0, 5.0 + 0.001, 5.0 + 0.001 + 0.001, 9.0}));
}

TEST(SmoothGrayScale, AFailedFitReportsPerChannelAndKeepsTheValues) {
    Diagnostics diags;
    Vector y{1.0, 20.0, 80.0}, red{0.1, 0.4, 0.9}, green{0.1, 0.5, 0.9}, blue{0.2, 0.4, 0.8};
    EXPECT_EQ(smoothGrayScale(diags, y, red, green, blue, SmoothingHeavy), kSplineBadOrder);
    EXPECT_EQ(diags, Diagnostics(3, Diagnostic{Severity::Error, "Spline Smoothing Error"}));
    EXPECT_EQ(red, (Vector{0.1, 0.4, 0.9}));
}

}  // namespace
}  // namespace calivant
