// The command line as a black box: exact output, messages and exit status,
// and the profile and log it writes, byte for byte.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>

#include "make-target/picture_files.h"
#include "make-target/placement.h"
#include "make-target/synthetic_target.h"
#include "make-target/synthetic_tiff.h"
#include "support/temp_folder.h"
#include "util/format.h"

namespace calivant {
namespace {

using testing::readFile;

// How a synthetic scan's gray patches differ from its reference.
enum class Grays { AsReferenced, SwappedInPicture, FlatInReference };

class CliTest : public ::testing::Test {
protected:
    // Runs the command line in the test's folder with a settings folder of its own, so no saved defaults
    // leak in. Returns the exit status and standard error ("1 error: ..."); keeps standard output.
    std::string run(const std::string& arguments, const std::string& environment = "") {
        const std::string command = "cd '" + folder.path().string() + "' && XDG_CONFIG_HOME=\"$PWD/config\" " +
                                    environment + " '" CALIVANT_CLI_PATH "' " + arguments + " >cli.out 2>cli.err";
        const int status = std::system(command.c_str());
        out = readFile(folder / "cli.out");
        return std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + " " + readFile(folder / "cli.err");
    }

    // Writes a synthetic scan as name.tif and its reference as name.ref.
    void writeTarget(const std::string& name, int targetType, const std::string& badPatch = "",
                     Grays grays = Grays::AsReferenced, double noise = 0.0, double gradient = 0.0, int width = 600,
                     int height = 400) {
        SyntheticTargetOptions options;
        options.width = width;
        options.height = height;
        options.targetType = targetType;
        options.badPatch = badPatch;
        options.noiseSigma = noise;
        options.seed = 7;
        options.gradient = gradient;
        ReferenceData rendered = generatedReference(targetType);
        if (grays == Grays::SwappedInPicture) std::swap(rendered.grayXYZ[2], rendered.grayXYZ[3]);
        SyntheticTarget target;
        ASSERT_EQ(renderSyntheticTarget(options, rendered, target), kSyntheticOk);
        target.reference = generatedReference(targetType);
        if (grays == Grays::FlatInReference) target.reference.grayLab.fill(target.reference.grayLab[0]);
        ASSERT_EQ(writeSyntheticTiff((folder / (name + ".tif")).string(), target.picture, TiffWriteOptions{}), 0);
        ASSERT_EQ(writeReferencePath((folder / (name + ".ref")).string(), target), 0);
    }

    testing::TempFolder folder;
    std::string out;
    // The synthetic scans fill the picture: the whole picture is the chart.
    const std::string build = "build --target colorchecker --image cc.tif --reference cc.ref --corners full --description d ";
};

TEST_F(CliTest, UsageErrorsAndVersion) {
    const std::string cc = "build --target colorchecker --image a.tif ";
    const std::string ok = cc + "--description d --output out.icc ";
    const std::pair<std::string, std::string> cases[] = {
        {cc + "--description d --output a.icc2", "Profiles must have an extension of .icm or .icc"},
        {ok + "--log a.log", "Log files must have an extension of .txt"},
        {ok + "--stretch x,90", "Illegal target DMAX value"},
        {ok + "--stretch 25.01,90", "Target DMAX value out of range (0.0 .. 25.0)"},
        {ok + "--stretch 5,", "Illegal target DMIN value"},
        {ok + "--stretch 5", "--stretch takes two numbers DMAX,DMIN"},
        {ok + "--stretch 5,9,5", "--stretch takes two numbers DMAX,DMIN"},
        {ok + "--stretch 5,9e1", "Illegal target DMIN value"},
        {ok + "--corners 0x1,0,1,0,1,1,0,1", "--corners takes auto, full or eight numbers X,Y,X,Y,X,Y,X,Y"},
        {cc + "--output out.icc --description 'a\nCopyright: forged'", "--description must not hold control characters"},
        {ok + "--copyright \"$(printf 'a\\033[2Jb')\"", "--copyright must not hold control characters"},
        {"measure --target colorchecker --image a.tif --ti3 a.txt", "Measurement files must have an extension of .ti3"},
        {ok + "--stretch 5,74.99", "Target DMIN value out of range (75.0 .. 100.0)"},
        {ok + "--stretch 5,90 --no-stretch", "--stretch and --no-stretch exclude each other"},
        {ok + "--eliminate-residuals --no-eliminate-residuals",
         "--eliminate-residuals and --no-eliminate-residuals exclude each other"},
        {"build --target hct-reflective --image a.tif --description d --output out.icc",
         "--reference is needed for the target type hct-reflective"},
        {cc + "--description '' --output out.icc", "You must enter a profile description"},
        {cc + "--output out.icc --description " + std::string(339, 'd'), "--description takes at most 338 bytes"},
        {ok + "--copyright " + std::string(339, 'c'), "--copyright takes at most 338 bytes"},
    };
    for (const auto& [arguments, message] : cases) EXPECT_EQ(run(arguments), "2 error: " + message + "\n") << arguments;
    // Numbers in plain decimals only: CLI11's conversion would take 0x5A as 90.
    EXPECT_EQ(run(cc + "--rotate 0x5A --description d --output o.icc"),
              "2 --rotate: not a plain decimal number: 0x5A\nRun with --help for more information.\n");
    EXPECT_EQ(run(ok + "--clut 0x11"), "2 --clut: not a plain decimal number: 0x11\nRun with --help for more information.\n");
    EXPECT_EQ(run("frobnicate --target colorchecker"),
              "2 error: unknown subcommand \"frobnicate\" (build, measure or locate)\n");
    EXPECT_EQ(run("--version"), "0 ");
    EXPECT_EQ(out, "calivant-scanner-cli 1.0.0.3\n");
}

// The golden case sg-xyz-65 through the TIFF and the reference file, dated as the golden files (14:30 on 5
// March 2005 UTC). Saved defaults that would change the profile must not count with --factory-defaults.
TEST_F(CliTest, BuildWritesTheGoldenProfileAndLog) {
    writeTarget("s", 3, "", Grays::AsReferenced, 0.01, 0.03);
    testing::writeFile(folder / "config/Tessaray/Calivant - Scanner/State", "fit=1 6\nsmooth_gray=2\n");
    const std::string sg = "build --target colorchecker-sg --image s.tif --reference s.ref --output p.icc --log l.txt "
                           "--factory-defaults --color-space xyz --model linear --clut 65 --copyright '(c) Tessaray' "
                           "--stretch 3,96.5 --corners 0,0,599,0,599,399,0,399 --description 'Synthetic log-sg-xyz-65'";
    ASSERT_EQ(run(sg, "SOURCE_DATE_EPOCH=1110033000"), "0 ");
    EXPECT_EQ(out, "Profile written to p.icc\nLog written to l.txt\nModel used: CIE XYZ Linear (cross-validated CIEDE2000: mean 1.57, 95th percentile 3.61)\n");
    EXPECT_TRUE(testing::matchesGolden(readFile(folder / "l.txt"), "output/log-sg-xyz-65.txt"));
    EXPECT_TRUE(testing::matchesGolden(readFile(folder / "p.icc"), "output/profile-sg-xyz-65.icm"));
}

TEST_F(CliTest, BuildsWithSavedDefaultsAndFailures) {
    // Without --factory-defaults the options saved by the wizard count, unless switched off one by one. A
    // SOURCE_DATE_EPOCH that is no number of seconds is not taken: the clock's date differs.
    writeTarget("cc", 1);
    testing::writeFile(folder / "config/Tessaray/Calivant - Scanner/State", "fit=1 6\nstretch_target=1 5.00 90.00\n");
    ASSERT_EQ(run(build + "--output e.icc --factory-defaults --eliminate-residuals", "SOURCE_DATE_EPOCH=0"), "0 ");
    ASSERT_EQ(run(build + "--output s.icc --no-stretch", "SOURCE_DATE_EPOCH=0"), "0 ");
    ASSERT_EQ(run(build + "--output n.icc --no-stretch --no-eliminate-residuals", "SOURCE_DATE_EPOCH=0"), "0 ");
    ASSERT_EQ(run(build + "--output x.icc --no-stretch", "SOURCE_DATE_EPOCH=0x"), "0 ");
    EXPECT_EQ(readFile(folder / "s.icc"), readFile(folder / "e.icc"));
    EXPECT_NE(readFile(folder / "n.icc"), readFile(folder / "e.icc"));
    EXPECT_NE(readFile(folder / "x.icc"), readFile(folder / "e.icc"));

    // The profile and the log go into place together or not at all: a
    // failed build leaves the old files as they were, and a new one nothing.
    EXPECT_EQ(run(build + "--output no/such/out.icc --log out.txt"), "1 error: Cannot create file: no/such/out.icc\n");
    EXPECT_FALSE(std::filesystem::exists(folder / "out.txt"));
    EXPECT_EQ(run(build + "--output out.icc --log no/such/out.txt"), "1 error: Cannot create file: no/such/out.txt\n");
    EXPECT_FALSE(std::filesystem::exists(folder / "out.icc"));
    testing::writeFile(folder / "old.icc", "old profile");
    EXPECT_EQ(run(build + "--output old.icc --log no/such/out.txt"), "1 error: Cannot create file: no/such/out.txt\n");
    EXPECT_EQ(out, "");
    EXPECT_EQ(readFile(folder / "old.icc"), "old profile");
    // A log that is the profile under another name is refused before anything is done.
    std::filesystem::create_symlink("old.icc", folder / "link.txt");
    std::filesystem::create_hard_link(folder / "old.icc", folder / "hard.txt");
    for (const char* log : {"link.txt", "hard.txt"})
        EXPECT_EQ(run(build + "--output old.icc --log " + log), "2 error: --log names the same file as --output\n");
    EXPECT_EQ(readFile(folder / "old.icc"), "old profile");
    writeTarget("cc", 1, "", Grays::FlatInReference);
    EXPECT_EQ(run(build + "--output f.icc"), "1 error: The reference gray scale has the same lightness at both ends\n");
    EXPECT_FALSE(std::filesystem::exists(folder / "f.icc"));

    // Gray patches out of order stop the build unless told to go on; the
    // message names the option, not the wizard's buttons.
    writeTarget("cc", 1, "", Grays::SwappedInPicture);
    const std::string order = "One of more gray patches not in increasing brightness order.\nTarget lighting may be uneven.\n";
    EXPECT_EQ(run(build + "--output out.icc"),
              "1 error: " + order + "Give --continue-on-gray-order to build the profile anyway.\n");
    EXPECT_EQ(run(build + "--output out.icc --continue-on-gray-order"),
              "0 warning: " + order + "Going on as --continue-on-gray-order asks.\n");
    EXPECT_EQ(out, "Profile written to out.icc\nModel used: CIE Lab Quadratic (cross-validated CIEDE2000: mean 2.65, 95th percentile 4.83)\n");
    // measure builds nothing: it reports the order and has no option to offer.
    EXPECT_EQ(run("measure --target colorchecker --image cc.tif --reference cc.ref"), "1 warning: " + order);
}

TEST_F(CliTest, MeasurePrintsEveryPatchAndTheContrast) {
    writeTarget("cc", 1);
    const std::string bare = "measure --target colorchecker --image cc.tif --reference cc.ref ";
    const std::string measure = bare + "--corners full ";
    ASSERT_EQ(run(measure), "0 ");
    const std::string upright = out;
    // Six grays darkest first, 18 colours (name, R, G, B in percent, deviation), the contrast.
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 6 + 18 + 2);
    EXPECT_EQ(out.substr(0, 5) + out.substr(out.find('\n') + 1, 4), "Dmax\tGS4\t");
    EXPECT_EQ(out.find("N/A"), std::string::npos);
    // Turned twice and mirrored (upside down), the chart is found again by its corners.
    run(bare + "--rotate 180 --mirror --corners 0,399,599,399,599,0,0,0");
    EXPECT_EQ(out, upright);

    // Non-uniform patches are named; building stops at them.
    writeTarget("cc", 1, "A1");
    EXPECT_EQ(run(measure), "1 warning: Some gray or color patches are non-uniform.\nNon-uniform patches: A1\n");
    EXPECT_NE(out.find("DMAX\tN/A\nDMIN\tN/A\n"), std::string::npos);
    EXPECT_EQ(run(build + "--output out.icc"), "1 error: Some gray or color patches are non-uniform.\nNon-uniform "
                                               "patches: A1\nCheck the chart's corners (--corners) and the scan.\n");

    // Corners that are no numbers or lie absurdly far, and a picture too small for the chart.
    EXPECT_EQ(run(bare + "--corners nan,0,1,0,1,1,0,1"),
              "2 error: --corners takes auto, full or eight numbers X,Y,X,Y,X,Y,X,Y\n");
    EXPECT_EQ(run(bare + "--corners 0,0,1,0,1,1,0," + std::string(400, '9')),
              "2 error: --corners: every coordinate must be a finite number\n");
    EXPECT_EQ(run(bare + "--corners 0,0,1,0,1,1,0,2000001"),
              "2 error: --corners: coordinates lie within 1000000 pixels of the picture\n");
    EXPECT_EQ(run(bare + "--corners 0,0,1,0,1,1,0"),
              "2 error: --corners takes auto, full or eight numbers X,Y,X,Y,X,Y,X,Y\n");
    for (const int side : {1, 5}) {
        SyntheticPicture tiny;
        tiny.width = side;
        tiny.height = side;
        tiny.samples.assign(static_cast<std::size_t>(side * side * 3), 128);
        ASSERT_EQ(writeSyntheticTiff((folder / "cc.tif").string(), tiny, TiffWriteOptions{}), 0);
        EXPECT_EQ(run(measure), "1 error: The picture is too small to hold the chart\n");
        EXPECT_EQ(out, "");
        EXPECT_EQ(run(build + "--output out.icc"), "1 error: The picture is too small to hold the chart\n");
    }
}

// The deviation column: the samples' scatter in 8-bit steps, "-" for a patch
// with no sample in the picture; a chart with none, or with less than a pixel
// per cell, is one error and no rows.
TEST_F(CliTest, MeasureTellsEmptyPatchesAndChartsOffThePicture) {
    writeTarget("cc", 1, "A1");
    const std::string measure = "measure --target colorchecker --image cc.tif --reference cc.ref ";
    run(measure + "--corners full");
    // The bad patch scatters by tens of steps; a flat one not at all.
    auto deviationOf = [&](const std::string& name) {
        const std::size_t start = out.find("\n" + name + "\t") + 1, end = out.find('\n', start);
        return out.substr(out.rfind('\t', end) + 1, end - out.rfind('\t', end) - 1);
    };
    EXPECT_GT(std::stod(deviationOf("A1")), 10.0);
    EXPECT_EQ(deviationOf("B1"), "0.000");
    // Half the chart beyond the right edge: its right columns have no samples.
    writeTarget("cc", 1);
    ASSERT_EQ(run(measure + "--corners 300,0,899,0,899,399,300,399"), "0 ");
    EXPECT_NE(out.find("\nA6\t0.00\t0.00\t0.00\t-\n"), std::string::npos);
    EXPECT_NE(out.find("\nA1\t"), std::string::npos);
    EXPECT_EQ(out.find("-255"), std::string::npos);
    const std::pair<std::string, std::string> unmeasurable[] = {
        {"-5000,-5000,-4000,-5000,-4000,-4000,-5000,-4000", "The chart lies outside the picture"},
        {"10,10,10,10,10,10,10,10", "The chart is too small to measure"},
        {"10,10,14,10,14,13,10,13", "The chart is too small to measure"},
    };
    for (const auto& [corners, message] : unmeasurable) {
        EXPECT_EQ(run(measure + "--corners " + corners), "1 error: " + message + "\n") << corners;
        EXPECT_EQ(out, "");
        EXPECT_EQ(run("build --target colorchecker --image cc.tif --reference cc.ref --description d --output out.icc "
                      "--corners " + corners),
                  "1 error: " + message + "\n");
    }
    EXPECT_FALSE(std::filesystem::exists(folder / "out.icc"));
}

// What cannot be read ends with the file named and the reason, never a
// hang, an abort or a signal.
TEST_F(CliTest, InputsThatAreNoRegularFilesOrFailToRead) {
    writeTarget("cc", 1);
    ASSERT_EQ(::mkfifo((folder / "fifo").c_str(), 0600), 0);
    std::filesystem::create_directory(folder / "dir");
    testing::writeFile(folder / "big.tif", std::string("II+\0\x08\0\0\0\0\0\0\0\0\0\0\0", 16));
    const std::string measure = "measure --target colorchecker --corners full ";
    const std::pair<std::string, std::string> cases[] = {
        {"--image fifo", "Cannot open target image file: fifo\nnot a regular file"},
        {"--image dir", "Cannot open target image file: dir\nnot a regular file"},
        {"--image /dev/zero", "Cannot open target image file: /dev/zero\nnot a regular file"},
        {"--image /proc/self/mem", "Cannot open target image file: /proc/self/mem\ninput/output error"},
        {"--image big.tif", "Cannot read target file: big.tif\nBigTIFF is not supported"},
        {"--image cc.tif --reference fifo", "Cannot open reference file: fifo\nnot a regular file"},
        {"--image cc.tif --reference dir", "Cannot open reference file: dir\nnot a regular file"},
        {"--image cc.tif --reference /proc/self/mem", "Cannot open reference file: /proc/self/mem\ninput/output error"},
    };
    for (const auto& [arguments, message] : cases) {
        EXPECT_EQ(run(measure + arguments, "timeout 60"), "1 error: " + message + "\n") << arguments;
        EXPECT_EQ(run("locate --target colorchecker " + arguments, "timeout 60"), "1 error: " + message + "\n");
    }
}

// An output never replaces an input or the other output, by any name.
TEST_F(CliTest, OutputsNeverReplaceInputs) {
    writeTarget("cc", 1);
    const std::string before = readFile(folder / "cc.ref") + readFile(folder / "cc.tif");
    std::filesystem::create_hard_link(folder / "cc.tif", folder / "hard.icc");
    std::filesystem::create_symlink("cc.ref", folder / "link.txt");
    std::filesystem::create_symlink("cc.ref", folder / "link.TI3");
    const std::pair<std::string, std::string> cases[] = {
        {build + "--output p.icc --log link.txt", "--log names the same file as --reference"},
        {build + "--output hard.icc", "--output names the same file as --image"},
        {"measure --target colorchecker --image cc.tif --reference cc.ref --corners full --ti3 link.TI3",
         "--ti3 names the same file as --reference"},
    };
    for (const auto& [arguments, message] : cases) EXPECT_EQ(run(arguments), "2 error: " + message + "\n") << arguments;
    EXPECT_EQ(readFile(folder / "cc.ref") + readFile(folder / "cc.tif"), before);
    EXPECT_EQ(run("measure --target colorchecker --image cc.tif --reference cc.ref --corners full --ti3 m.TI3"), "0 ");
}

// A reference of another chart, or one whose gray scale runs the other way,
// stops the build: the first unless told to go on.
TEST_F(CliTest, RefusesAReferenceThatDoesNotBelongToTheChart) {
    writeTarget("other", 1);
    writeTarget("cc", 1);
    SyntheticTarget other;
    SyntheticTargetOptions options;
    options.targetType = 1;
    ASSERT_EQ(renderSyntheticTarget(options, generatedReference(1), other), kSyntheticOk);
    const ReferenceData right = generatedReference(1);
    for (std::size_t i = 0; i < 18; ++i) {
        other.reference.colorXYZ[i] = right.colorXYZ[(i * 7 + 3) % 18];
        other.reference.colorLab[i] = right.colorLab[(i * 7 + 3) % 18];
    }
    ASSERT_EQ(writeReferencePath((folder / "other.ref").string(), other), 0);
    const std::string other_ = "build --target colorchecker --image cc.tif --reference other.ref --corners full --description d ";
    // The figure comes from a fixed model: it is pinned here.
    EXPECT_EQ(run(other_ + "--output o.icc"),
              "1 error: The reference file does not seem to match the chart (cross-validated error 21.84)\n"
              "Give --continue-on-mismatch to build the profile anyway.\n");
    EXPECT_FALSE(std::filesystem::exists(folder / "o.icc"));
    EXPECT_EQ(run(other_ + "--output o.icc --continue-on-mismatch").substr(0, 12), "0 warning: T");
    EXPECT_TRUE(std::filesystem::exists(folder / "o.icc"));

    std::reverse(other.reference.grayXYZ.begin(), other.reference.grayXYZ.begin() + 6);
    std::reverse(other.reference.grayLab.begin(), other.reference.grayLab.begin() + 6);
    other.reference.colorXYZ = right.colorXYZ;
    other.reference.colorLab = right.colorLab;
    ASSERT_EQ(writeReferencePath((folder / "other.ref").string(), other), 0);
    EXPECT_EQ(run(other_ + "--output r.icc --continue-on-mismatch --continue-on-gray-order"),
              "1 error: The gray scale of the target image runs the other way from the reference file's\n");
}

// One chart saved as every lossless kind of picture measures byte for byte the same; as a
// quality-95 JPEG, every patch within 1% of full scale of the TIFF's, with a warning that
// the build's log repeats after its cross-validated figures.
TEST_F(CliTest, EveryKindOfPictureMeasuresAlike) {
    SyntheticTargetOptions options;
    options.width = 600;
    options.height = 400;
    options.targetType = 1;
    options.bitsPerSample = 16;
    options.noiseSigma = 0.003;
    SyntheticTarget target;
    ASSERT_EQ(renderSyntheticTarget(options, generatedReference(1), target), kSyntheticOk);
    target.reference = generatedReference(1);
    ASSERT_EQ(writeReferencePath((folder / "cc.ref").string(), target), 0);
    TiffWriteOptions deflate, packBits;
    deflate.compression = kTiffCompressionDeflate, deflate.predictor = true, deflate.rowsPerStrip = 7;
    packBits.compression = kTiffCompressionPackBits;
    ASSERT_EQ(writeSyntheticTiff((folder / "cc.tif").string(), target.picture, TiffWriteOptions{}), 0);
    ASSERT_EQ(writeSyntheticTiff((folder / "deflate.tif").string(), target.picture, deflate), 0);
    ASSERT_EQ(writeSyntheticTiff((folder / "packbits.tif").string(), target.picture, packBits), 0);
    ASSERT_EQ(writeSyntheticPng((folder / "cc.png").string(), target.picture, {}), 0);
    SyntheticPicture eight = target.picture;
    eight.bitsPerSample = 8;
    for (std::uint16_t& v : eight.samples) v = static_cast<std::uint16_t>((v * 255 + 32767) / 65535);
    ASSERT_EQ(writeSyntheticJpeg((folder / "cc.jpg").string(), eight, {95, 1, false}), 0);

    const std::string measure = "measure --target colorchecker --reference cc.ref --corners full --image ";
    ASSERT_EQ(run(measure + "cc.tif"), "0 ");
    const std::string tiff = out;
    for (const char* image : {"deflate.tif", "packbits.tif", "cc.png"}) {
        EXPECT_EQ(run(measure + image), "0 ") << image;
        EXPECT_EQ(out, tiff) << image;
    }
    const std::string warning =
        "The target image is a JPEG: lossy, and already rendered by the camera; the profile describes that rendering.";
    EXPECT_EQ(run(measure + "cc.jpg"), "0 warning: " + warning + "\n");
    std::istringstream fromTiff(tiff), fromJpeg(out);
    int patches = 0;
    for (std::string a, b; std::getline(fromTiff, a) && std::getline(fromJpeg, b);) {
        double ta[3], tb[3];
        char name[16];
        if (std::sscanf(a.c_str(), "%15s %lf %lf %lf", name, &ta[0], &ta[1], &ta[2]) != 4) continue;
        ASSERT_EQ(std::sscanf(b.c_str(), "%15s %lf %lf %lf", name, &tb[0], &tb[1], &tb[2]), 4);
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(ta[c], tb[c], 1.0) << name;  // percent of full scale
        ++patches;
    }
    EXPECT_EQ(patches, 24);
    ASSERT_EQ(run("build --target colorchecker --reference cc.ref --corners full --image cc.jpg --description d "
                  "--output j.icc --log j.txt"),
              "0 warning: " + warning + "\n");
    const std::string log = readFile(folder / "j.txt");
    EXPECT_LT(log.find("Cross-Validated Accuracy"), log.find(warning));
    EXPECT_EQ(log.substr(log.size() - warning.size() - 6), "\r\n\r\n" + warning + "\r\n");
}

// The illumination correction: refused where the chart has no border
// patches, ignored there when saved (the log says so), and on an unevenly lit
// SG it says how uneven the light was, in the log and after measure's table.
TEST_F(CliTest, CorrectsUnevenIlluminationOnlyWithBorderPatches) {
    writeTarget("cc", 1);
    const std::string refused = "2 error: --correct-illumination needs the border patches of SG, DC or HCT\n";
    EXPECT_EQ(run(build + "--output o.icc --correct-illumination"), refused);
    EXPECT_EQ(run("measure --target it8-reflective --image cc.tif --reference cc.ref --correct-illumination"), refused);
    EXPECT_EQ(run(build + "--output o.icc --correct-illumination --no-correct-illumination"),
              "2 error: --correct-illumination and --no-correct-illumination exclude each other\n");
    ASSERT_EQ(run(build + "--output off.icc --log off.txt", "SOURCE_DATE_EPOCH=0"), "0 ");
    testing::writeFile(folder / "config/Tessaray/Calivant - Scanner/State", "correct_illumination=1\n");
    ASSERT_EQ(run(build + "--output on.icc --log on.txt", "SOURCE_DATE_EPOCH=0"), "0 ");
    EXPECT_EQ(readFile(folder / "on.icc"), readFile(folder / "off.icc"));
    std::string log = readFile(folder / "on.txt");
    const std::string ignored = "\r\nIllumination not corrected: the chart has no border patches\r\n\r\nGray Patches\r\n";
    ASSERT_NE(log.find(ignored), std::string::npos) << log;
    EXPECT_EQ(log.erase(log.find(ignored) + 2, 63), readFile(folder / "off.txt"));

    writeTarget("sg", 3, "", Grays::AsReferenced, 0.0, 0.15, 700, 500);
    const std::string sg = "build --target colorchecker-sg --image sg.tif --reference sg.ref --corners full --description d ";
    ASSERT_EQ(run(sg + "--output sg.icc --log sg.txt"), "0 ");
    const std::string corrected = readFile(folder / "sg.txt");
    const std::size_t line = corrected.find("\r\n", corrected.find("RMS Black Uniformity Error: "));
    EXPECT_EQ(corrected.substr(line, 59), "\r\nIllumination corrected: 0.85 to 1.00 of the brightest\r\n\r\n");
    ASSERT_EQ(run(sg + "--output plain.icc --log plain.txt --factory-defaults"), "0 ");
    EXPECT_EQ(readFile(folder / "plain.txt").find("Illumination"), std::string::npos);
    ASSERT_EQ(run("measure --target colorchecker-sg --image sg.tif --reference sg.ref --corners full"), "0 ");
    EXPECT_EQ(out.substr(out.find("DMIN\t")).substr(out.substr(out.find("DMIN\t")).find('\n') + 1),
              "Illumination corrected: 0.85 to 1.00 of the brightest\n");
}

// The chart found in the picture: locate prints the corners that --corners
// takes (after --rotate and --mirror too), build and measure find it by
// default, and a picture without a chart is an error that names the way out.
TEST_F(CliTest, FindsTheChartInThePicture) {
    SyntheticTargetOptions options;
    options.width = 640;
    options.height = 480;
    options.targetType = 1;
    ChartPlacement placement;
    placement.chartWidth = 330;
    placement.chartHeight = 230;
    placement.centerX = 350;
    placement.centerY = 220;
    placement.angle = 200;
    placement.blur = 1.0;
    placement.background = BackgroundKind::Striped;
    SyntheticTarget placed;
    ASSERT_EQ(renderPlacedTarget(options, placement, generatedReference(1), placed), kSyntheticOk);
    placed.reference = generatedReference(1);
    ASSERT_EQ(writeSyntheticTiff((folder / "p.tif").string(), placed.picture, TiffWriteOptions{}), 0);
    ASSERT_EQ(writeReferencePath((folder / "p.ref").string(), placed), 0);
    // The true corners as --corners takes them: top-left first, y down.
    std::string truth;
    for (int k : {1, 2, 3, 0}) {
        const ImagePoint& p = placed.quad.corners[static_cast<std::size_t>(k)];
        truth += formatText(truth.empty() ? "%2f,%2f" : ",%2f,%2f", {p.x, options.height - 1 - p.y});
    }

    const std::string locate = "locate --target colorchecker --image p.tif --reference p.ref";
    ASSERT_EQ(run(locate), "0 ");
    double found[8];
    ASSERT_EQ(std::sscanf(out.c_str(), "corners %lf,%lf,%lf,%lf,%lf,%lf,%lf,%lf\nconfidence", &found[0], &found[1],
                          &found[2], &found[3], &found[4], &found[5], &found[6], &found[7]),
              8);
    double expected[8];
    ASSERT_EQ(std::sscanf(truth.c_str(), "%lf,%lf,%lf,%lf,%lf,%lf,%lf,%lf", &expected[0], &expected[1], &expected[2],
                          &expected[3], &expected[4], &expected[5], &expected[6], &expected[7]),
              8);
    // A tenth of the ColorChecker's pitch is about 5 pixels here.
    for (int k = 0; k < 8; ++k) EXPECT_NEAR(found[k], expected[k], 1.0) << k;
    ASSERT_EQ(run(locate + " --rotate 90"), "0 ");
    EXPECT_EQ(out.substr(0, 8), "corners ");
    EXPECT_NE(out.substr(8, out.find('\n') - 8), truth);

    // Found by default, the patches measure as at the true corners.
    const std::string measure = "measure --target colorchecker --image p.tif --reference p.ref ";
    ASSERT_EQ(run(measure), "0 ");
    const std::string automatic = out;
    ASSERT_EQ(run(measure + "--corners " + truth), "0 ");
    EXPECT_EQ(automatic, out);

    SyntheticPicture flat;
    flat.width = 300;
    flat.height = 200;
    flat.samples.assign(300 * 200 * 3, 128);
    ASSERT_EQ(writeSyntheticTiff((folder / "f.tif").string(), flat, TiffWriteOptions{}), 0);
    const std::string missing = run("locate --target colorchecker --image f.tif");
    EXPECT_EQ(missing, "1 error: Could not find the chart: no chart patches in the picture\n"
                       "Give the chart's corners with --corners X,Y,X,Y,X,Y,X,Y, or --corners full for the whole "
                       "picture.\n");
    EXPECT_EQ(run("build --target colorchecker --image f.tif --description d --output f.icc"), missing);
    EXPECT_FALSE(std::filesystem::exists(folder / "f.icc"));
}

// A scan cropped to the chart as printed, cut into its outer patches with
// no border: build finds the chart by default for every target type.
TEST_F(CliTest, BuildsFromCroppedScansOfEveryTargetType) {
    const std::pair<const char*, int> targets[] = {{"it8-reflective", 0}, {"it8-transparency", 0},
                                                   {"colorchecker", 1},   {"colorchecker-dc", 2},
                                                   {"colorchecker-sg", 3}, {"hct-reflective", 4},
                                                   {"hct-transparency", 4}};
    for (const auto& [name, type] : targets) {
        SCOPED_TRACE(name);
        SyntheticTargetOptions options;
        options.targetType = type;
        options.width = 720;
        options.height = 500;
        options.bitsPerSample = 16;
        ChartPlacement placement;
        placement.style = ChartStyle::Printed;
        placement.scanCrop = true;
        placement.scanMargins = {-0.3, -0.4, -0.2, -0.1};
        SyntheticTarget target;
        std::string error;
        ASSERT_EQ(renderPlacedTarget(options, placement, generatedReference(type), target, &error), kSyntheticOk)
            << error;
        ASSERT_EQ(writeSyntheticTiff((folder / "scan.tif").string(), target.picture, TiffWriteOptions{}), 0);
        ASSERT_EQ(writeReferencePath((folder / "scan.ref").string(), target), 0);
        EXPECT_EQ(run(std::string("build --target ") + name +
                      " --image scan.tif --reference scan.ref --description d --output scan.icc --factory-defaults"),
                  "0 ");
    }
}

}  // namespace
}  // namespace calivant
