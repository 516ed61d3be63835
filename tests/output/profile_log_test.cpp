// What the golden logs leave open: dates, target lines, a black primary, XYZ residuals, refusals.

#include "output/profile_log.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "util/cie.h"

namespace calivant {
namespace {

// A Linear XYZ model set by hand and working values that it misses.
struct HandLog {
    AdvancedOptions options;
    TargetLayout layout;
    TargetMeasurement measurement;
    ProfileResult profile;
    int reflective = 1;

    explicit HandLog(int targetType) : layout(makeTargetLayout(targetType)) {
        options.colorSpace = CieXyz;
        profile.linearCoefficients = {{{10, 80, 5, 2}, {10, 10, 80, 5}, {8, 2, 5, 70}}};
        for (int i = 0; i < layout.grayCount + layout.colorCount; ++i) {
            const bool gray = i < layout.grayCount;
            const double v = (i + 1.0) / (layout.grayCount + 1);
            (gray ? profile.grayLinear : profile.colorLinear)
                .push_back(gray ? ColorTriple{v, v, v} : ColorTriple{i % 7 / 7.0 + 0.05, i % 11 / 11.0, i % 13 / 13.0});
            const ColorTriple xyz{20.0 + i % 17, 30.0 + i % 5, 25.0};
            (gray ? profile.workGrayXYZ : profile.workColorXYZ).push_back(xyz);
            (gray ? profile.workGrayLab : profile.workColorLab).push_back(xyzToLab(xyz));
        }
    }

    int write(std::ostream& out, const LocalTime& time = {2005, 3, 5}) const {
        return writeProfileLog(out, {"Hand", "", layout.targetType, reflective, options, layout, measurement, profile}, time);
    }
    std::vector<std::string> lines(const LocalTime& time = {2005, 3, 5}) const {
        std::ostringstream out;
        EXPECT_EQ(write(out, time), 0);
        std::vector<std::string> lines;
        for (std::string text = out.str(); !text.empty(); text.erase(0, text.find("\r\n") + 2))
            lines.push_back(text.substr(0, text.find("\r\n")));
        return lines;
    }
};

TEST(ProfileLog, DateTargetAndPrimaryLines) {
    const HandLog it8(0);
    EXPECT_EQ(it8.lines({1999, 1, 31}).at(1), "31-Jan-1999");
    EXPECT_EQ(it8.lines({1999, 12, 31}).at(1), "31-Dec-1999");
    // A clock without a valid month still gives a date, not a stray read.
    EXPECT_EQ(it8.lines({2026, 0, 2}).at(1), "2-0-2026");
    EXPECT_EQ(it8.lines({2026, 13, 2}).at(1), "2-13-2026");
    HandLog transparency(0), hct(4);
    transparency.reflective = 0;
    EXPECT_EQ(transparency.lines().at(6), "Target Type: IT8 Transmissive");
    EXPECT_EQ(hct.lines().at(6), "Target Type: HCT Reflective");
    // A primary clipped to black has no chromaticity: (0, 0), not NaN.
    hct.profile.linearCoefficients = {{{0, -5, 96.42, 1}, {0, -5, 100, 1}, {0, -5, 82.49, 1}}};
    EXPECT_EQ(hct.lines().at(15), "Red Primary CIE xy (estimated): (0.000, 0.000)");
}

TEST(ProfileLog, EliminatedXyzResidualsLandOnEveryPatch) {
    HandLog hand(1);
    hand.options.eliminateResiduals = 1;
    // Blue clipped at 0 by the model: its residual carries the negative part.
    hand.profile.linearCoefficients[2] = {-40, 2, 5, 7};
    const std::vector<std::string> lines = hand.lines();
    EXPECT_EQ(std::vector<std::string>(lines.end() - 4, lines.end()),
              (std::vector<std::string>{"Average RMS Error = 0.00", "Max RMS Error = 0.00", "Average Delta E = 0.00",
                                        "Max Delta E = 0.00"}));
}

TEST(ProfileLog, NothingWrittenWithoutAProfileForTheLayout) {
    HandLog empty(0);
    empty.profile = ProfileResult{};
    HandLog changed(4);
    changed.layout = makeTargetLayout(3);  // changed after the computation
    for (const HandLog* hand : {&empty, &changed}) {
        std::ostringstream out;
        EXPECT_EQ(hand->write(out), 1);
        EXPECT_TRUE(out.str().empty());
    }
    std::ostream broken(nullptr);
    EXPECT_EQ(HandLog(1).write(broken), 1);
    // Names outside the layout are empty.
    EXPECT_EQ(grayPatchName(empty.layout, 24) + colorPatchName(empty.layout, -1) + colorPatchName(changed.layout, 81), "");
}

}  // namespace
}  // namespace calivant
