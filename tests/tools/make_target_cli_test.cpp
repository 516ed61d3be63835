// The make-target command run as a black box: exit status, messages, and
// the files it writes compared with the library's own rendering.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <string>
#include <sys/wait.h>

#include "make-target/synthetic_target.h"
#include "reference/reference_file.h"
#include "support/temp_folder.h"
#include "tiff_read_back.h"

namespace calivant {
namespace {

struct RunResult {
    int exitCode;
    std::string output;
};

RunResult runMakeTarget(const std::string& arguments) {
    const std::string command = std::string("'") + MAKE_TARGET_PATH + "' " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return {-1, {}};
    std::string output;
    std::array<char, 4096> buffer{};
    std::size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) output.append(buffer.data(), n);
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

std::string quoted(const std::filesystem::path& path) { return "'" + path.string() + "'"; }

TEST(MakeTargetCli, WritesTheLibrarysPictureAndReference) {
    testing::TempFolder folder;
    const auto image = folder / "sg.tif";
    const auto reference = folder / "sg.ref";
    const RunResult r = runMakeTarget("--target colorchecker-sg --width 300 --height 200 --bits 16 "
                                      "--compression lzw --predictor --orientation 6 --noise 0.01 --seed 3 "
                                      "--gradient 0.1 --bad-patch E6 --out-image " +
                                      quoted(image) + " --out-reference " + quoted(reference));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.output, "");

    testing::TiffFile file;
    ASSERT_TRUE(testing::readTiffFile(image.string(), file));
    EXPECT_EQ(file.stored.width, 200);
    EXPECT_EQ(file.stored.height, 300);
    EXPECT_EQ(file.bitsPerSample, 16);
    EXPECT_EQ(file.compression, 5);
    EXPECT_EQ(file.predictor, 2);
    EXPECT_EQ(file.orientation, 6);

    // The same rendering through the library, from the built-in SG reference.
    SyntheticTargetOptions options;
    options.targetType = 3;
    options.width = 300;
    options.height = 200;
    options.bitsPerSample = 16;
    options.noiseSigma = 0.01;
    options.seed = 3;
    options.gradient = 0.1;
    options.badPatch = "E6";
    ReferenceData builtIn;
    ASSERT_EQ(readReferencePath(std::string(CALIVANT_SOURCE_DIR) + "/data/Reference Files/Macbeth/ColorChecker SG.ref",
                                3, builtIn),
              0);
    SyntheticTarget target;
    ASSERT_EQ(renderSyntheticTarget(options, builtIn, target), 0);
    EXPECT_TRUE(testing::uprightRaster(file.stored, 6).samples == target.picture.samples);

    std::ifstream in(reference, std::ios::binary);
    ReferenceData read;
    ASSERT_EQ(readReferenceFile(in, 3, read), kReferenceComplete);
    EXPECT_EQ(read.colorXYZ, builtIn.colorXYZ);
    EXPECT_EQ(read.grayXYZ, builtIn.grayXYZ);
}

TEST(MakeTargetCli, RendersFromAGivenReferenceAndSplitsTheFirstPatchByDefault) {
    testing::TempFolder folder;
    // A reference of our own, with one patch changed from the generated values.
    SyntheticTargetOptions options;
    options.targetType = 4;
    options.width = 290;
    options.height = 220;
    ReferenceData source = generatedReference(4);
    source.colorXYZ[0] = {20.0, 21.0, 17.0};
    source.colorLab[0] = xyzToLab(source.colorXYZ[0]);
    SyntheticTarget target;
    ASSERT_EQ(renderSyntheticTarget(options, source, target), 0);
    const auto given = folder / "in.ref";
    ASSERT_EQ(writeReferencePath(given.string(), target), 0);

    const auto image = folder / "hct.tif";
    const auto written = folder / "out.ref";
    const RunResult r = runMakeTarget("--target HCT --width 290 --height 220 --compression LZW --bad-patch --reference-in " +
                                      quoted(given) + " --out-image " + quoted(image) + " --out-reference " +
                                      quoted(written));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(testing::readFile(written), testing::readFile(given));

    options.badPatch = "B02";
    ASSERT_EQ(renderSyntheticTarget(options, source, target), 0);
    testing::TiffFile file;
    ASSERT_TRUE(testing::readTiffFile(image.string(), file));
    EXPECT_EQ(file.compression, 5);
    EXPECT_TRUE(file.stored.samples == target.picture.samples);
}

TEST(MakeTargetCli, ReportsWhatItCannotDo) {
    testing::TempFolder folder;
    const std::string out = " --out-image " + quoted(folder / "x.tif");

    RunResult r = runMakeTarget("--target it8 --bad-patch ZZ9" + out);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.output, "make-target: no gray or colour patch is named ZZ9\n");

    r = runMakeTarget("--target it8 --reference-in " + quoted(folder / "none.ref") + out);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.output, "make-target: cannot open reference file: " + (folder / "none.ref").string() + "\n");

    // An IT8 reference for an HCT target.
    SyntheticTarget it8;
    ASSERT_EQ(renderSyntheticTarget(SyntheticTargetOptions{}, generatedReference(0), it8), 0);
    ASSERT_EQ(writeReferencePath((folder / "it8.ref").string(), it8), 0);
    r = runMakeTarget("--target hct --reference-in " + quoted(folder / "it8.ref") + out);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.output.find("reference file is incomplete or not for this target"), std::string::npos) << r.output;

    r = runMakeTarget("--target it8 --predictor" + out);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.output, "make-target: the predictor needs LZW\n");

    // Usage errors are CLI11's.
    for (const char* arguments : {"--bits 12", "--orientation 9", "--target ab", "--gradient 1.5"}) {
        r = runMakeTarget(std::string(arguments) + out);
        EXPECT_NE(r.exitCode, 0) << arguments;
        EXPECT_NE(r.exitCode, 1) << arguments;
    }
    EXPECT_NE(runMakeTarget("--target it8").exitCode, 0);  // no --out-image
    EXPECT_FALSE(std::filesystem::exists(folder / "x.tif"));
}

}  // namespace
}  // namespace calivant
