// The readers' reasons reach the command line as a plain second line.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/wait.h>

#include "make-target/synthetic_target.h"
#include "make-target/synthetic_tiff.h"
#include "support/temp_folder.h"

namespace calivant {
namespace {

#ifdef CALIVANT_CLI_PATH
TEST(CliReasons, SecondLineSaysWhy) {
    testing::TempFolder folder;
    testing::writeFile(folder / "text.tif", "This is not a TIFF file.\n");
    testing::writeFile(folder / "bad.it8", "IT8.7/2\nBEGIN_DATA\nA1 18abc 2 3 4 5 6\n");
    SyntheticTargetOptions options;
    options.width = 480;
    options.height = 320;
    SyntheticTarget target;
    ASSERT_EQ(renderSyntheticTarget(options, generatedReference(options.targetType), target), 0);
    ASSERT_EQ(writeSyntheticTiff((folder / "it8.tif").string(), target.picture, TiffWriteOptions{}), 0);
    struct Case {
        std::string arguments;
        std::string err;
    };
    const Case cases[] = {
        {"measure --target colorchecker --image text.tif",
         "error: Cannot read target file: text.tif\nnot a TIFF file\n"},
        {"measure --target it8-reflective --image it8.tif --reference bad.it8",
         "error: Illegal reference file: bad.it8\nline 3: not a number: 18abc\n"},
    };
    for (const Case& c : cases) {
        const std::string command = "cd '" + folder.path().string() + "' && XDG_CONFIG_HOME='" +
                                    (folder / "config").string() + "' '" + CALIVANT_CLI_PATH + "' " + c.arguments +
                                    " >/dev/null 2>err.txt";
        const int status = std::system(command.c_str());
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 1) << c.arguments;
        EXPECT_EQ(testing::readFile(folder / "err.txt"), c.err) << c.arguments;
    }
}
#endif

}  // namespace
}  // namespace calivant
