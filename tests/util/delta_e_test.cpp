#include "util/delta_e.h"

#include <gtest/gtest.h>

namespace calivant {
namespace {

// Pairs from the CIEDE2000 test data of Sharma, Wu and Dalal (2005),
// chosen for the hue-angle and neutral cases where implementations slip.
TEST(DeltaE2000, MatchesThePublishedTestData) {
    const struct {
        CieTriple a, b;
        double expected;
    } cases[] = {
        {{50.0, 2.6772, -79.7751}, {50.0, 0.0, -82.7485}, 2.0425},
        {{50.0, 0.0, 0.0}, {50.0, -1.0, 2.0}, 2.3669},
        {{50.0, 2.49, -0.001}, {50.0, -2.49, 0.0009}, 7.1792},
        {{50.0, -0.001, 2.49}, {50.0, 0.0009, -2.49}, 4.8045},
        {{50.0, 2.5, 0.0}, {73.0, 25.0, -18.0}, 27.1492},
        {{60.2574, -34.0099, 36.2677}, {60.4626, -34.1751, 39.4387}, 1.2644},
        {{2.0776, 0.0795, -1.135}, {0.9033, -0.0636, -0.5514}, 0.9082},
    };
    for (const auto& c : cases) {
        EXPECT_NEAR(deltaE2000(c.a, c.b), c.expected, 5e-5);
        EXPECT_NEAR(deltaE2000(c.b, c.a), c.expected, 5e-5);
    }
    EXPECT_EQ(deltaE2000({50.0, 10.0, -3.0}, {50.0, 10.0, -3.0}), 0.0);
}

}  // namespace
}  // namespace calivant
