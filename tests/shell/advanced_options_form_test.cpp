#include "shell/advanced_options_form.h"

#include <gtest/gtest.h>

namespace calivant {
namespace {

TEST(AdvancedOptionsForm, FilledFromTheFactoryDefaults) {
    const AdvancedOptionsForm form = formFromOptions(AdvancedOptions{});
    EXPECT_EQ(form.colorSpaceIndex, CieLab);
    EXPECT_EQ(form.modelIndex, Cubic);
    EXPECT_EQ(form.clutIndex, 1);
    EXPECT_FALSE(form.eliminateResiduals);
    EXPECT_FALSE(form.stretch);
    EXPECT_EQ(form.smoothing, SmoothingNone);
    EXPECT_EQ(form.dmaxText, "0.00");
    EXPECT_EQ(form.dminText, "100.00");
    AdvancedOptions odd;
    odd.clutSize = 20;
    EXPECT_EQ(formFromOptions(odd).clutIndex, -1);
}

TEST(AdvancedOptionsForm, ChecksDmaxBeforeDminAndNumbersBeforeRanges) {
    struct Case {
        const char* dmax;
        const char* dmin;
        const char* message;
    };
    const Case cases[] = {
        {"x", "x", "Illegal target DMAX value"},
        {"", "90", "Illegal target DMAX value"},
        {"25.01", "x", "Target DMAX value out of range (0.0 .. 25.0)"},
        {"-0.5", "90", "Target DMAX value out of range (0.0 .. 25.0)"},
        {"10", "abc", "Illegal target DMIN value"},
        {"10", "74.99", "Target DMIN value out of range (75.0 .. 100.0)"},
        {"10", "100.5", "Target DMIN value out of range (75.0 .. 100.0)"},
    };
    for (const Case& c : cases) {
        AdvancedOptionsForm form = formFromOptions(AdvancedOptions{});
        form.modelIndex = Linear;
        form.dmaxText = c.dmax;
        form.dminText = c.dmin;
        AdvancedOptions options;
        const AdvancedOptions before = options;
        std::string message;
        EXPECT_EQ(applyOptionsForm(form, options, message), 1) << c.dmax << " " << c.dmin;
        EXPECT_EQ(message, c.message);
        EXPECT_EQ(options, before);
    }
}

TEST(AdvancedOptionsForm, AcceptsTheRangeEndsAndAppliesEveryField) {
    AdvancedOptionsForm form;
    form.colorSpaceIndex = CieXyz;
    form.modelIndex = Cubic;
    form.eliminateResiduals = true;
    form.clutIndex = 2;
    form.stretch = true;
    form.smoothing = SmoothingHeavy;
    form.dmaxText = "25";
    form.dminText = "75";
    AdvancedOptions options;
    std::string message = "stale";
    ASSERT_EQ(applyOptionsForm(form, options, message), 0);
    EXPECT_EQ(message, "");
    EXPECT_EQ(options.colorSpace, CieXyz);
    EXPECT_EQ(regressionWord(options), 6);
    EXPECT_EQ(options.clutSize, 65);
    EXPECT_EQ(options.stretch, 1);
    EXPECT_EQ(options.smoothing, SmoothingHeavy);
    EXPECT_DOUBLE_EQ(options.stretchDmax, 25.0);
    EXPECT_DOUBLE_EQ(options.stretchDmin, 75.0);

    // Lists without a selection leave their values alone.
    form.colorSpaceIndex = -1;
    form.modelIndex = -1;
    form.clutIndex = -1;
    form.dmaxText = "0";
    form.dminText = "100.00";
    options.clutSize = 17;
    ASSERT_EQ(applyOptionsForm(form, options, message), 0);
    EXPECT_EQ(options.colorSpace, CieXyz);
    EXPECT_EQ(options.regressionModel, Cubic);
    EXPECT_EQ(options.clutSize, 17);
}

TEST(AdvancedOptionsForm, ReadsOnlyTheFirst79Characters) {
    AdvancedOptionsForm form = formFromOptions(AdvancedOptions{});
    form.dmaxText = std::string(78, '0') + "1x";  // the x lies beyond the cut
    AdvancedOptions options;
    std::string message;
    EXPECT_EQ(applyOptionsForm(form, options, message), 0) << message;
    EXPECT_DOUBLE_EQ(options.stretchDmax, 1.0);
}

}  // namespace
}  // namespace calivant
