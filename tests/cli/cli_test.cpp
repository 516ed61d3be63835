#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>
#include <sys/wait.h>

#include "make-target/synthetic_target.h"
#include "make-target/synthetic_tiff.h"
#include "support/temp_folder.h"

namespace calivant {
namespace {

using testing::readFile;
using testing::TempFolder;

struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

class CliTest : public ::testing::Test {
protected:
    // Runs the command line with the given arguments (already quoted for the
    // shell) and an empty settings folder, so saved defaults never leak in.
    RunResult run(const std::string& arguments, const std::string& environment = "") {
        RunResult r;
#ifdef CALIVANT_CLI_PATH
        const std::string errFile = (folder / "stderr.txt").string();
        const std::string command = "cd '" + folder.path().string() + "' && XDG_CONFIG_HOME='" +
                                    (folder / "config").string() + "' " + environment + " '" + CALIVANT_CLI_PATH +
                                    "' " + arguments + " 2>'" + errFile + "'";
        FILE* pipe = popen(command.c_str(), "r");
        if (pipe == nullptr) return r;
        std::array<char, 4096> buffer{};
        std::size_t n;
        while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) r.out.append(buffer.data(), n);
        const int status = pclose(pipe);
        r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.err = readFile(errFile);
#else
        (void)arguments;
        (void)environment;
#endif
        return r;
    }

    // A synthetic scan of a target type written as a TIFF, with its reference file.
    void makeTarget(int targetType, const std::string& name, const std::string& badPatch = "") {
        SyntheticTargetOptions options;
        options.targetType = targetType;
        options.width = 480;
        options.height = 320;
        options.badPatch = badPatch;
        SyntheticTarget target;
        ASSERT_EQ(renderSyntheticTarget(options, generatedReference(targetType), target), 0);
        ASSERT_EQ(writeSyntheticTiff((folder / (name + ".tif")).string(), target.picture, TiffWriteOptions{}), 0);
        ASSERT_EQ(writeReferencePath((folder / (name + ".ref")).string(), target), 0);
    }

    bool exists(const std::string& name) { return std::filesystem::exists(folder / name); }

    TempFolder folder;
};

TEST_F(CliTest, VersionHelpAndUsageErrors) {
    RunResult r = run("--version");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "calivant-scanner-cli 1.0\n");

    r = run("--help");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("Examples:"), std::string::npos) << r.out;

    EXPECT_EQ(run("").exitCode, 2);
    EXPECT_EQ(run("--no-such-option").exitCode, 2);
    EXPECT_EQ(run("build --target it8 --image a.tif --description d --output a.icc").exitCode, 2);
    EXPECT_EQ(run("build --target colorchecker --image a.tif --description d --output a.icc --clut 34").exitCode, 2);
}

TEST_F(CliTest, OwnUsageErrorsUseTheWizardsMessages) {
    const std::string base = "build --target colorchecker --image a.tif --description d ";
    const struct {
        std::string arguments;
        std::string message;
    } cases[] = {
        {base + "--output a.icc2", "Profiles must have an extension of .icm or .icc"},
        {base + "--output a.icc --log a.log", "Log files must have an extension of .txt"},
        {base + "--output a.icc --stretch 25.01,90", "Target DMAX value out of range (0.0 .. 25.0)"},
        {base + "--output a.icc --stretch x,90", "Illegal target DMAX value"},
        {base + "--output a.icc --stretch 5,74.5", "Target DMIN value out of range (75.0 .. 100.0)"},
        {base + "--output a.icc --stretch 5", "Illegal target DMIN value"},
        {"build --target hct-reflective --image a.tif --description d --output a.icc",
         "--reference is needed for the target type hct-reflective"},
        {"build --target colorchecker --image a.tif --description " + std::string(339, 'd') + " --output a.icc",
         "--description takes at most 338 bytes"},
    };
    for (const auto& c : cases) {
        const RunResult r = run(c.arguments);
        EXPECT_EQ(r.exitCode, 2) << c.arguments;
        EXPECT_EQ(r.err, "error: " + c.message + "\n") << c.arguments;
    }
    EXPECT_FALSE(exists("a.icc"));
}

TEST_F(CliTest, BuildWritesProfileAndLogReproducibly) {
    makeTarget(4, "hct");
    const std::string arguments =
        "build --target hct-reflective --image hct.tif --reference hct.ref --description 'HCT test' "
        "--copyright 'Ann' --clut 17 --output hct.icc --log hct.txt";
    RunResult r = run(arguments, "SOURCE_DATE_EPOCH=1700000000");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Profile written to hct.icc\nLog written to hct.txt\n"
                     "Model used: CIE Lab Cubic (cross-validated CIEDE2000: mean 0.57, 95th percentile 1.40)\n");
    const std::string profile = readFile(folder / "hct.icc");
    const std::string log = readFile(folder / "hct.txt");
    ASSERT_GT(profile.size(), 128u);
    EXPECT_EQ(profile.substr(36, 4), "acsp");
    // 2023-11-14 22:13:20 UTC in the header's date fields.
    EXPECT_EQ(static_cast<unsigned char>(profile[24]) * 256 + static_cast<unsigned char>(profile[25]), 2023);
    EXPECT_NE(log.find("HCT test"), std::string::npos);

    r = run(arguments, "SOURCE_DATE_EPOCH=1700000000");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFile(folder / "hct.icc"), profile);
    EXPECT_EQ(readFile(folder / "hct.txt"), log);
}

TEST_F(CliTest, FailuresLeaveNoFilesBehind) {
    RunResult r = run("build --target colorchecker --image missing.tif --description d --output out.icc --log out.txt");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "error: Cannot open target image file: missing.tif\n");
    EXPECT_FALSE(exists("out.icc"));
    EXPECT_FALSE(exists("out.txt"));

    makeTarget(3, "sg", makeTargetLayout(3).colorCells[20].name);
    r = run("build --target colorchecker-sg --image sg.tif --description d --output out.icc");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err,
              "error: Some gray or color patches are non-uniform.\n"
              "Bad patches will be identified with an X when you click OK.\n");
    EXPECT_FALSE(exists("out.icc"));
}

TEST_F(CliTest, MeasurePrintsEveryPatchAndTheContrast) {
    makeTarget(1, "cc");
    RunResult r = run("measure --target colorchecker --image cc.tif --reference cc.ref");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = r.out.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(r.out.substr(start, end - start));
    ASSERT_EQ(lines.size(), 6u + 18u + 2u);
    EXPECT_EQ(lines[0].substr(0, 5), "Dmax\t");  // darkest gray first
    EXPECT_EQ(lines[24].substr(0, 5), "DMAX\t");
    EXPECT_EQ(lines[25].substr(0, 5), "DMIN\t");
    EXPECT_NE(lines[0].find("\t0.000"), std::string::npos);  // a uniform patch

    // The whole picture given as corners (480 x 320) is the default overlay;
    // turned twice and given the same corners, the chart is upside down.
    const RunResult same = run("measure --target colorchecker --image cc.tif --reference cc.ref "
                               "--corners 0,0,479,0,479,319,0,319");
    EXPECT_EQ(same.out, r.out);
    const RunResult turned = run("measure --target colorchecker --image cc.tif --reference cc.ref "
                                 "--rotate 180 --corners 479,319,0,319,0,0,479,0");
    EXPECT_EQ(turned.out, r.out);

    makeTarget(1, "bad", "A1");
    r = run("measure --target colorchecker --image bad.tif --reference bad.ref");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "warning: Some gray or color patches are non-uniform.\n");
    EXPECT_NE(r.out.find("DMAX\tN/A\nDMIN\tN/A\n"), std::string::npos);
}

}  // namespace
}  // namespace calivant
