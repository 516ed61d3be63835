// make-target: renders a synthetic scan of a colour target as a TIFF, PNG or JPEG, with
// the reference file that describes its patches, for tests, benchmarks and
// the sample that ships with the program.
//
//   make-target --target colorchecker-sg --width 1200 --height 860 --bits 16
//       --compression lzw --predictor --noise 0.004
//       --out-image sg.tif --out-reference sg.ref

#include <CLI/CLI.hpp>

#include <cctype>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "make-target/device_kinds.h"
#include "make-target/placement_options.h"
#include "make-target/printed_chart.h"
#include "make-target/synthetic_jpeg.h"
#include "make-target/synthetic_target.h"
#include "make-target/picture_files.h"
#include "make-target/synthetic_tiff.h"
#include "reference/reference_file.h"
#include "shell/data_folder.h"
#include "util/paths.h"

namespace {

using namespace calivant;

int failWith(const std::string& message) {
    std::cerr << "make-target: " << message << "\n";
    return 1;
}

// The reference the picture is rendered from: the given file, else the
// built-in file of a ColorChecker type, else a generated one (for a printed
// IT8, one with the printed chart's structure).
int loadReference(int targetType, const std::string& referenceIn, bool generate, bool printed, ReferenceData& reference) {
    std::string path = referenceIn;
    if (path.empty() && !generate && !builtInReferenceName(targetType).empty()) {
        const std::string folder = joinPath(programDataFolder(executableFolder()), "Reference Files/Macbeth");
        path = joinPath(folder, builtInReferenceName(targetType));
    }
    if (path.empty()) {
        reference = printed && targetType == static_cast<int>(TargetType::It8) ? printedIt8Reference()
                                                                                : generatedReference(targetType);
        return 0;
    }
    const int result = readReferencePath(path, targetType, reference);
    if (result == kReferenceCannotOpen) return failWith("cannot open reference file: " + path);
    if (result != kReferenceComplete) return failWith("reference file is incomplete or not for this target: " + path);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Renders a synthetic scan of a colour target (TIFF) and its reference file.", "make-target"};

    SyntheticTargetOptions options;
    TiffWriteOptions tiff;
    std::string referenceIn;
    std::string outImage;
    std::string outReference;
    bool generate = false;
    int inset = -1;
    std::vector<double> quad;
    std::vector<std::string> badPatch;

    const std::map<std::string, int> targets = {{"it8", 0}, {"colorchecker", 1}, {"colorchecker-dc", 2},
                                                {"colorchecker-sg", 3}, {"hct", 4}};
    app.add_option("--target", options.targetType, "Chart: it8, colorchecker, colorchecker-dc, colorchecker-sg, hct")
        ->transform(CLI::CheckedTransformer(targets, CLI::ignore_case));
    app.add_option("--width", options.width, "Picture width in pixels")->capture_default_str();
    app.add_option("--height", options.height, "Picture height in pixels")->capture_default_str();
    app.add_option("--bits", options.bitsPerSample, "Bits per sample")->check(CLI::IsMember({8, 16}))->capture_default_str();
    const std::map<std::string, int> compressions = {{"none", kTiffCompressionNone},
                                                     {"lzw", kTiffCompressionLzw},
                                                     {"deflate", kTiffCompressionDeflate},
                                                     {"packbits", kTiffCompressionPackBits},
                                                     {"jpeg", kTiffCompressionJpeg}};
    app.add_option("--compression", tiff.compression, "TIFF compression: none, lzw, deflate, packbits or jpeg")
        ->transform(CLI::CheckedTransformer(compressions, CLI::ignore_case));
    app.add_flag("--predictor", tiff.predictor, "Horizontal differencing (with LZW or Deflate)");
    std::string format = "tiff";
    app.add_option("--format", format, "File to write: tiff, png or jpeg")
        ->check(CLI::IsMember({"tiff", "png", "jpeg"}))
        ->capture_default_str();
    app.add_option("--quality", tiff.jpegQuality, "JPEG quality (JPEG files and JPEG in TIFF)")
        ->check(CLI::Range(1, 100))
        ->capture_default_str();
    app.add_option("--orientation", tiff.orientation,
                   "TIFF orientation tag (Exif orientation in a JPEG); the raster is stored to match")
        ->check(CLI::Range(1, 8))
        ->capture_default_str();
    app.add_option("--rows-per-strip", tiff.rowsPerStrip, "Rows per strip (0: about 8 KB strips)")
        ->check(CLI::NonNegativeNumber);
    app.add_flag("--big-endian", tiff.bigEndian, "Write a big-endian (MM) file");
    app.add_flag("--alpha", tiff.alpha, "Add an opaque alpha sample");
    app.add_option("--noise", options.noiseSigma, "Gaussian noise, standard deviation as a fraction of full scale")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--gradient", options.gradient, "Light falls by this fraction from left to right (0..0.99)")
        ->check(CLI::Range(0.0, 0.99));
    app.add_option("--vignetting", options.vignetting,
                   "Light falls off from the centre to the corners by this fraction, as lenses do (0..0.99)")
        ->check(CLI::Range(0.0, 0.99));
    app.add_option("--bad-patch", badPatch, "Split this gray or colour patch in two colours (default: the first colour patch)")
        ->expected(0, 1);
    app.add_option("--seed", options.seed, "Seed of the noise")->capture_default_str();
    std::string device = "matrix-shaper";
    app.add_option("--device", device, "Device kind: matrix-shaper, crosstalk, camera, linear, saturation, camera-look")
        ->check(CLI::IsMember({"matrix-shaper", "crosstalk", "camera", "linear", "saturation", "camera-look"}))
        ->capture_default_str();
    auto* insetOption = app.add_option("--inset", inset, "Chart inset by this many pixels on every side")
                            ->check(CLI::NonNegativeNumber);
    app.add_option("--quad", quad,
                   "Chart corners x0 y0 x1 y1 x2 y2 x3 y3 (bottom-left, top-left, top-right, bottom-right; "
                   "y counted from the bottom row)")
        ->expected(8)
        ->excludes(insetOption);
    auto* referenceOption = app.add_option("--reference-in", referenceIn, "Reference file to render from");
    app.add_flag("--generate-reference", generate, "Generate the reference even for a ColorChecker type")
        ->excludes(referenceOption);
    app.add_option("--out-image", outImage,
                   "Picture file to write (with --jpeg and a .jpg or .jpeg name, the camera's JPEG itself)")
        ->required();
    app.add_option("--out-reference", outReference, "Reference file to write");
    PlacementArguments placed;
    placed.add(app);
    CLI11_PARSE(app, argc, argv);
    if (placed.given() && (inset >= 0 || !quad.empty())) return failWith("--inset and --quad do not go with placement");
    if (placed.given() && options.vignetting > 0.0) return failWith("--vignetting does not go with placement yet");
    ChartPlacement placement;
    if (const std::string problem = placed.placement(placement); !problem.empty()) return failWith(problem);
    const bool printed = placement.style == ChartStyle::Printed;
    if (printed && !referenceIn.empty()) placement.extraPatches = readExtraPatches(referenceIn, options.targetType);
    const std::size_t dot = outImage.rfind('.');
    std::string extension = dot == std::string::npos ? "" : outImage.substr(dot);
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    // A picture through the camera's JPEG, named as a JPEG: that JPEG itself.
    const bool jpegFile = (extension == ".jpg" || extension == ".jpeg") && placement.jpegQuality > 0;
    options.device = deviceModelOfKind(*deviceKindNamed(device));

    if (inset >= 0) {
        const double right = options.width - 1.0 - inset;
        const double top = options.height - 1.0 - inset;
        options.chartQuad = OverlayQuad{{ImagePoint{1.0 * inset, 1.0 * inset}, ImagePoint{1.0 * inset, top},
                                         ImagePoint{right, top}, ImagePoint{right, 1.0 * inset}}};
    }
    if (quad.size() == 8) {
        OverlayQuad q;
        for (int i = 0; i < 4; ++i) q.corners[i] = ImagePoint{quad[2 * i], quad[2 * i + 1]};
        options.chartQuad = q;
    }
    if (app.count("--bad-patch") > 0)
        options.badPatch = badPatch.empty() || badPatch[0].empty()
                               ? makeTargetLayout(options.targetType).colorCells.front().name
                               : badPatch[0];

    ReferenceData reference;
    if (loadReference(options.targetType, referenceIn, generate, printed, reference) != 0) return 1;

    SyntheticTarget target;
    std::string error;
    const int rendered = placed.given() ? renderPlacedTarget(options, placement, reference, target, &error)
                                        : renderSyntheticTarget(options, reference, target, &error);
    if (rendered != kSyntheticOk) return failWith(error);
    const int written =
        jpegFile ? (writeBytes(outImage, target.jpeg) != 0 ? (error = "cannot write " + outImage, 1) : 0)
        : format == "png"  ? writeSyntheticPng(outImage, target.picture, {tiff.alpha, false}, &error)
        : format == "jpeg" ? writeSyntheticJpeg(outImage, target.picture, {tiff.jpegQuality, tiff.orientation, false}, &error)
                           : writeSyntheticTiff(outImage, target.picture, tiff, &error);
    if (written != 0) return failWith(error);
    if (placed.given() && writeCornersPath(placed.cornersPath(outImage), target.quad, options.height) != 0)
        return failWith("cannot write corners file: " + placed.cornersPath(outImage));
    if (!outReference.empty() && writeReferencePath(outReference, target) != 0)
        return failWith("cannot write reference file: " + outReference);
    return 0;
}
