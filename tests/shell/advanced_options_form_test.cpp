#include "shell/advanced_options_form.h"

#include <gtest/gtest.h>

namespace calivant {
namespace {

constexpr int kSg = static_cast<int>(TargetType::ColorCheckerSg);

TEST(AdvancedOptionsForm, FilledAndAppliedEveryFieldComesBack) {
    const AdvancedOptions changed{CieXyz, Linear, 1, 17, SmoothingHeavy, 1, 25.0, 75.0, 1};
    AdvancedOptions options;
    std::string message = "stale";
    ASSERT_EQ(applyOptionsForm(formFromOptions(changed, kSg), options, message), 0);
    EXPECT_EQ(message, "");
    EXPECT_EQ(options, changed);
    // Values the dialog does not offer select nothing and are left alone.
    ASSERT_EQ(applyOptionsForm(formFromOptions({7, 9, 0, 20, 8, 0, 0.0, 100.0, 0}, kSg), options, message), 0);
    EXPECT_EQ(options, (AdvancedOptions{CieXyz, Linear, 0, 17, SmoothingNone, 0, 0.0, 100.0, 0}));
    ASSERT_EQ(applyOptionsForm(formFromOptions(AdvancedOptions{}, kSg), options, message), 0);
    EXPECT_EQ(options, AdvancedOptions{});

    // The dialog reads 79 characters: what lies beyond does not count.
    AdvancedOptionsForm form = formFromOptions({}, kSg);
    form.dmaxText = std::string(78, '0') + "1x";
    EXPECT_EQ(applyOptionsForm(form, options, message), 0) << message;
    EXPECT_EQ(options.stretchDmax, 1.0);
}

TEST(AdvancedOptionsForm, ChecksDmaxBeforeDminAndNumbersBeforeRanges) {
    const char* const cases[][3] = {
        {"x", "x", "Illegal target DMAX value"},
        {"", "90", "Illegal target DMAX value"},
        {"25.01", "x", "Target DMAX value out of range (0.0 .. 25.0)"},
        {"-0.01", "90", "Target DMAX value out of range (0.0 .. 25.0)"},
        {"10", "abc", "Illegal target DMIN value"},
        {"10", "74.99", "Target DMIN value out of range (75.0 .. 100.0)"},
        {"10", "100.01", "Target DMIN value out of range (75.0 .. 100.0)"},
    };
    for (const auto& [dmax, dmin, expected] : cases) {
        AdvancedOptionsForm form = formFromOptions({CieXyz, Linear, 1, 65, SmoothingHeavy, 1, 25.0, 75.0, 1}, kSg);
        form.dmaxText = dmax;
        form.dminText = dmin;
        AdvancedOptions options;
        std::string message;
        EXPECT_EQ(applyOptionsForm(form, options, message), 1) << dmax << " " << dmin;
        EXPECT_EQ(message, expected);
        EXPECT_EQ(options, AdvancedOptions{});
    }
}

// Charts without border patches show the box unchecked and disabled, and a
// saved "on" survives OK and Save As Default there.
TEST(AdvancedOptionsForm, IlluminationBoxOnlyForChartsWithBorderPatches) {
    AdvancedOptions on;
    on.correctIllumination = 1;
    for (int type = 0; type < kTargetTypeCount; ++type) {
        const AdvancedOptionsForm form = formFromOptions(on, type);
        EXPECT_EQ(form.correctIllumination, type >= 2 ? 1 : -1) << type;
        AdvancedOptions applied = on;
        std::string message;
        ASSERT_EQ(applyOptionsForm(form, applied, message), 0);
        EXPECT_EQ(applied.correctIllumination, 1) << type;
    }
    AdvancedOptionsForm off = formFromOptions(on, kSg);
    off.correctIllumination = 0;
    std::string message;
    ASSERT_EQ(applyOptionsForm(off, on, message), 0);
    EXPECT_EQ(on.correctIllumination, 0);
}

}  // namespace
}  // namespace calivant
