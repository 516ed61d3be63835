#include "profile/lu_decomposition.h"

#include <gtest/gtest.h>

#include <array>

namespace calivant {
namespace {

TEST(LuDecomposition, SolvesWithRowSwapsAndRecordsThem) {
    // Column 0 needs a swap (row 2 is largest), column 1 too; x = (1, -2, 3).
    std::array<double, 9> a{1, 2, 0,  //
                            0, 1, 4,  //
                            4, 0, 1};
    const std::array<double, 9> original = a;
    const std::array<double, 3> x{1, -2, 3};
    std::array<double, 3> b{};
    for (int i = 0; i < 3; ++i)
        for (int k = 0; k < 3; ++k) b[i] += original[i * 3 + k] * x[k];

    std::array<int, 3> pivots{};
    ASSERT_EQ(luFactor(a, 3, pivots), 0);
    EXPECT_EQ(pivots[0], 2);
    EXPECT_EQ(pivots[1], 2);
    EXPECT_EQ(pivots[2], 1);  // two swaps: an even permutation
    luSolve(a, 3, b, pivots);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(b[k], x[k], 1e-14);
}

TEST(LuDecomposition, EqualMagnitudesKeepTheUpperRow) {
    std::array<double, 4> a{1, 2,  //
                            -1, 3};
    std::array<int, 2> pivots{};
    ASSERT_EQ(luFactor(a, 2, pivots), 0);
    EXPECT_EQ(pivots[0], 0);
    EXPECT_EQ(pivots[1], 1);
    std::array<double, 2> b{3, 2};  // x = (1, 1)
    luSolve(a, 2, b, pivots);
    EXPECT_EQ(b, (std::array<double, 2>{1, 1}));
}

TEST(LuDecomposition, OnlyAnExactZeroPivotIsSingular) {
    // Rows proportional by a power of two: elimination leaves exactly 0.
    std::array<double, 4> exact{1, 2, 2, 4};
    std::array<int, 2> pivots{};
    EXPECT_EQ(luFactor(exact, 2, pivots), 1);

    // Singular in exact arithmetic, but 0.1 is not a binary fraction, so the
    // last pivot is rounding noise and no tolerance turns it into a failure.
    std::array<double, 9> nearly{0.1, 0.2, 0.3,  //
                                 0.4, 0.5, 0.6,  //
                                 0.7, 0.8, 0.9};
    std::array<int, 3> pivots3{};
    EXPECT_EQ(luFactor(nearly, 3, pivots3), 0);
    EXPECT_NE(nearly[8], 0.0);
    EXPECT_LT(std::abs(nearly[8]), 1e-14);

    // A zero column met before the last step.
    std::array<double, 9> zeroColumn{0, 1, 2,  //
                                     0, 3, 4,  //
                                     0, 5, 7};
    EXPECT_EQ(luFactor(zeroColumn, 3, pivots3), 1);
}

}  // namespace
}  // namespace calivant
