// "Automatic (Best Fit)": model 3 of the regression word, in the settings
// file and the Advanced Options form.
#include <gtest/gtest.h>

#include "shell/advanced_options_form.h"
#include "shell/settings.h"
#include "support/temp_folder.h"

namespace calivant {
namespace {

TEST(AutomaticOption, TravelsAsModelThreeOfTheRegressionWord) {
    testing::TempFolder folder;
    const std::filesystem::path file = folder / "State";
    for (int residuals : {0, 1}) {
        AdvancedOptions o;
        o.colorSpace = CieXyz;
        o.regressionModel = Automatic;
        o.eliminateResiduals = residuals;
        ASSERT_EQ(saveOptionDefaults(o, file), 0);
        EXPECT_NE(testing::readFile(file).find(residuals ? "fit=0 7\n" : "fit=0 3\n"), std::string::npos);
        EXPECT_EQ(loadOptionDefaults(file), o);
        EXPECT_EQ(effectiveColorSpace(o), CieLab);
    }
    // A file written before the option existed loads as it always did.
    testing::writeFile(file, "fit=0 6\nclut_size=17\n");
    const AdvancedOptions old = loadOptionDefaults(file);
    EXPECT_EQ(old.colorSpace, CieXyz);
    EXPECT_EQ(old.regressionModel, Cubic);
    EXPECT_EQ(old.eliminateResiduals, 1);
    EXPECT_EQ(effectiveColorSpace(old), CieXyz);
}

TEST(AutomaticOption, TheFormKeepsTheColourSpaceButDisablesItsList) {
    AdvancedOptions o;
    o.colorSpace = CieXyz;
    AdvancedOptionsForm form = formFromOptions(o, 0);
    EXPECT_TRUE(colorSpaceChoosable(form));
    form.modelIndex = Automatic;
    EXPECT_FALSE(colorSpaceChoosable(form));
    std::string message;
    ASSERT_EQ(applyOptionsForm(form, o, message), 0);
    EXPECT_EQ(o.regressionModel, Automatic);
    EXPECT_EQ(o.colorSpace, CieXyz);
    EXPECT_EQ(formFromOptions(o, 0).modelIndex, Automatic);
}

}  // namespace
}  // namespace calivant
