#include "cli_app.h"

#include <CLI/CLI.hpp>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <new>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>

#include "measure/quality_checks.h"
#include "output/icc_profile.h"
#include "output/ti3_file.h"
#include "profile/model_fit.h"
#include "reference/text_input.h"
#include "shell/data_folder.h"
#include "shell/profile_job.h"
#include "shell/saving.h"
#include "shell/settings.h"
#include "shell/setup_actions.h"
#include "util/atomic_file.h"
#include "util/format.h"
#include "util/paths.h"
#include "util/utf8.h"

namespace calivant::cli {
namespace {

// The seven entries of the wizard's target type list, by their command-line names.
const std::map<std::string, int> kTargetNames = {
    {"it8-reflective", 0}, {"it8-transparency", 1}, {"colorchecker", 2},      {"colorchecker-dc", 3},
    {"colorchecker-sg", 4}, {"hct-reflective", 5},  {"hct-transparency", 6},
};
const std::map<std::string, int> kColorSpaceNames = {{"xyz", CieXyz}, {"lab", CieLab}};
const std::map<std::string, int> kModelNames = {
    {"linear", Linear}, {"quadratic", Quadratic}, {"cubic", Cubic}, {"auto", Automatic}};
const std::map<std::string, int> kSmoothingNames = {
    {"none", SmoothingNone}, {"light", SmoothingLight}, {"moderate", SmoothingModerate}, {"heavy", SmoothingHeavy}};

struct Arguments {
    std::string target;
    std::string image;
    std::string reference;
    std::string corners = "auto";
    int rotate = 0;
    bool mirror = false;
    // build only
    std::string description;
    std::string copyright;
    std::optional<std::string> colorSpace;
    std::optional<std::string> model;
    bool eliminateResiduals = false;
    bool noEliminateResiduals = false;
    std::optional<int> clut;
    std::optional<std::string> smoothing;
    std::optional<std::string> stretch;
    bool noStretch = false;
    bool correctIllumination = false;
    bool noCorrectIllumination = false;
    bool factoryDefaults = false;
    bool continueOnGrayOrder = false;
    bool continueOnMismatch = false;
    std::string output;
    std::string log;
    // measure only
    std::string ti3;
};

// Far beyond any picture the reader accepts, and small enough that the
// overlay arithmetic stays exact.
constexpr double kMaxCornerCoordinate = 1e6;

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

const char* const kSubcommands[] = {"build", "measure", "locate"};

// A number as people write it: an optional sign, digits, an optional point
// with more digits. No hexadecimal, exponent, infinity or blanks, which the
// usual conversions would take without a word.
bool isPlainDecimal(std::string_view text) {
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t digits = 0;
    bool point = false;
    for (; i < text.size(); ++i) {
        if (text[i] >= '0' && text[i] <= '9') {
            ++digits;
        } else if (text[i] == '.' && !point) {
            point = true;
        } else {
            return false;
        }
    }
    return digits > 0;
}

// The check CLI11 runs on a numeric option's text before converting it.
const CLI::Validator kPlainDecimal(
    [](std::string& text) { return isPlainDecimal(text) ? std::string() : "not a plain decimal number: " + text; },
    "");

double plainDecimalValue(const std::string& text) { return std::strtod(text.c_str(), nullptr); }

void addCommonOptions(CLI::App& command, Arguments& a, bool withCorners = true) {
    command.add_option("--target", a.target, "Target type")
        ->required()
        ->check(CLI::IsMember(kTargetNames))
        ->type_name("TYPE");
    command.add_option("--image", a.image,
                       "Scan or photograph of the target: TIFF, PNG or JPEG, RGB with 8 or 16 bits per sample")
        ->required();
    command.add_option("--reference", a.reference,
                       "Reference file of the target (built in for the three ColorChecker types)");
    if (withCorners)
        command.add_option("--corners", a.corners,
                           "Chart corners: auto finds the chart in the picture, full is the whole picture, or "
                           "top-left, top-right, bottom-right, bottom-left as X,Y pairs in pixels (x right, y "
                           "down, 0,0 the centre of the top-left pixel)")
            ->capture_default_str()
            ->type_name("auto|full|X,Y,X,Y,X,Y,X,Y");
    command.add_option("--rotate", a.rotate, "Turn the picture clockwise by this many degrees")
        ->check(kPlainDecimal)
        ->check(CLI::IsMember({0, 90, 180, 270}));
    command.add_flag("--mirror", a.mirror, "Mirror the picture left to right (after --rotate)");
}

void addIlluminationOptions(CLI::App& command, Arguments& a) {
    command.add_flag("--correct-illumination", a.correctIllumination,
                     "Divide out the uneven light the border patches show (ColorChecker DC, SG, HCT)");
    command.add_flag("--no-correct-illumination", a.noCorrectIllumination, "Switch a saved illumination correction off");
}

void addComputationOptions(CLI::App& command, Arguments& a) {
    command.add_option("--color-space", a.colorSpace, "Colour space of the fit and the profile")
        ->check(CLI::IsMember({"lab", "xyz"}));
    command.add_option("--model", a.model, "Regression model; auto chooses the best by cross-validation")
        ->check(CLI::IsMember({"linear", "quadratic", "cubic", "auto"}));
    command.add_flag("--eliminate-residuals", a.eliminateResiduals, "Make the tables pass through every patch");
    command.add_flag("--no-eliminate-residuals", a.noEliminateResiduals, "Switch a saved residual elimination off");
    command.add_option("--clut", a.clut, "Grid points per axis of the lookup tables")
        ->check(kPlainDecimal)
        ->check(CLI::IsMember({17, 33, 65}));
    command.add_option("--smoothing", a.smoothing, "Gray curve smoothing")
        ->check(CLI::IsMember({"none", "light", "moderate", "heavy"}));
    command.add_option("--stretch", a.stretch, "Contrast stretch of the target image to DMAX,DMIN percent")
        ->type_name("DMAX,DMIN");
    command.add_flag("--no-stretch", a.noStretch, "Switch a saved contrast stretch off");
    addIlluminationOptions(command, a);
    command.add_flag("--factory-defaults", a.factoryDefaults, "Ignore the option defaults saved by the wizard");
}

// The option defaults as the wizard would start with them.
AdvancedOptions startingOptions(bool factoryDefaults) {
    if (factoryDefaults) return AdvancedOptions{};
    // The settings file is only read here, never written.
    return loadOptionDefaults(settingsFilePath());
}

// The DMAX,DMIN text: two plain numbers, checked against the ranges of the
// Advanced Options dialog's fields. (The fields themselves read commas as
// thousands separators; here the comma separates the two.)
void applyStretch(AdvancedOptions& options, const std::string& text) {
    const std::size_t comma = text.find(',');
    if (comma == std::string::npos || text.find(',', comma + 1) != std::string::npos)
        throw UsageError("--stretch takes two numbers DMAX,DMIN");
    const std::string dmaxText = text.substr(0, comma);
    const std::string dminText = text.substr(comma + 1);
    if (!isPlainDecimal(dmaxText)) throw UsageError("Illegal target DMAX value");
    const double dmax = plainDecimalValue(dmaxText);
    if (dmax < kStretchDmaxMin || dmax > kStretchDmaxMax)
        throw UsageError("Target DMAX value out of range (0.0 .. 25.0)");
    if (!isPlainDecimal(dminText)) throw UsageError("Illegal target DMIN value");
    const double dmin = plainDecimalValue(dminText);
    if (dmin < kStretchDminMin || dmin > kStretchDminMax)
        throw UsageError("Target DMIN value out of range (75.0 .. 100.0)");
    options.stretch = 1;
    options.stretchDmax = dmax;
    options.stretchDmin = dmin;
}

// The chart type of the --target name.
int targetTypeOf(const Arguments& a) {
    return kTargetTypeEntries[static_cast<std::size_t>(kTargetNames.at(a.target))].targetType;
}

AdvancedOptions resolveOptions(const Arguments& a) {
    AdvancedOptions o = startingOptions(a.factoryDefaults);
    if (a.colorSpace) o.colorSpace = kColorSpaceNames.at(*a.colorSpace);
    if (a.model) o.regressionModel = kModelNames.at(*a.model);
    if (a.eliminateResiduals && a.noEliminateResiduals)
        throw UsageError("--eliminate-residuals and --no-eliminate-residuals exclude each other");
    if (a.eliminateResiduals) o.eliminateResiduals = 1;
    if (a.noEliminateResiduals) o.eliminateResiduals = 0;
    if (a.clut) o.clutSize = *a.clut;
    if (a.smoothing) o.smoothing = kSmoothingNames.at(*a.smoothing);
    if (a.stretch && a.noStretch) throw UsageError("--stretch and --no-stretch exclude each other");
    if (a.stretch) applyStretch(o, *a.stretch);
    if (a.noStretch) o.stretch = 0;
    if (a.correctIllumination && a.noCorrectIllumination)
        throw UsageError("--correct-illumination and --no-correct-illumination exclude each other");
    if (a.correctIllumination && !hasBorderPatches(targetTypeOf(a)))
        throw UsageError("--correct-illumination needs the border patches of SG, DC or HCT");
    if (a.correctIllumination) o.correctIllumination = 1;
    if (a.noCorrectIllumination) o.correctIllumination = 0;
    return o;
}

bool isTerminal() { return ::isatty(2) == 1; }

// How the reference mismatch question starts, whatever its figure.
constexpr std::string_view kMismatchStart = "The reference file does not seem to match the chart";

// Messages go to standard error, prefixed once with "error: " or "warning: ",
// with the wizard's texts except where those speak of its buttons and
// crosses: here they name the bad patches and the option that changes the
// outcome. Progress lines only when a person is watching.
class CliObserver : public JobObserver {
public:
    CliObserver(std::ostream& err, bool building, bool continueOnGrayOrder, bool hintCorners = true)
        : err_(err),
          showProgress_(isTerminal()),
          building_(building),
          continue_(continueOnGrayOrder),
          hintCorners_(hintCorners) {}

    // The job whose measurement names the bad patches.
    void watch(const ScanJob& job) { job_ = &job; }

    void progress(std::string_view step) override {
        if (showProgress_) err_ << step << "...\n" << std::flush;
    }

    void report(const Diagnostic& d) override {
        err_ << (d.severity == Severity::Error ? "error: " : "warning: ");
        if (d.message == kNonUniformError || d.message == kNonUniformWarning) {
            err_ << kNonUniformWarning << '\n' << "Non-uniform patches: " << badPatchNames() << '\n';
            if (d.severity == Severity::Error) err_ << "Check the chart's corners (--corners) and the scan.\n";
        } else if (d.message.starts_with(kChartNotFound) && hintCorners_) {
            err_ << d.message << '\n';
            if (job_ && job_->chartLocation().referenceWouldHelp)
                err_ << "Give the chart's reference file with --reference FILE, or its corners with --corners "
                        "X,Y,X,Y,X,Y,X,Y.\n";
            else
                err_ << "Give the chart's corners with --corners X,Y,X,Y,X,Y,X,Y, or --corners full for the whole "
                        "picture.\n";
        } else if (d.message == kGrayOrderWarning && building_) {
            err_ << d.message << '\n'
                 << (continue_ ? "Going on as --continue-on-gray-order asks.\n"
                               : "Give --continue-on-gray-order to build the profile anyway.\n");
        } else if (d.message.starts_with(kMismatchStart)) {
            err_ << d.message << '\n'
                 << (d.severity == Severity::Warning ? "Going on as --continue-on-mismatch asks.\n"
                                                     : "Give --continue-on-mismatch to build the profile anyway.\n");
        } else {
            err_ << d.message << '\n';
        }
    }

private:
    // The gray and colour patches whose samples scatter beyond the check's
    // threshold, by their names on the chart; a long list is cut short (a
    // misplaced chart makes most patches bad).
    std::string badPatchNames() const {
        if (!job_) return {};
        constexpr int kListed = 20;
        const TargetLayout& layout = job_->layout();
        const TargetMeasurement& m = job_->measurement();
        std::string names;
        int count = 0;
        auto add = [&](const std::string& name) {
            if (++count <= kListed) names += (names.empty() ? "" : ", ") + name;
        };
        for (int i = 0; i < layout.grayCount; ++i)
            if (m.grayDeviation[static_cast<std::size_t>(i)] > kUniformityThreshold)
                add(layout.grayCells[static_cast<std::size_t>(i)].name);
        for (int i = 0; i < layout.colorCount; ++i)
            if (m.colorDeviation[static_cast<std::size_t>(i)] > kUniformityThreshold)
                add(layout.colorCells[static_cast<std::size_t>(i)].name);
        if (count > kListed) names += formatText(" and %d more", {count - kListed});
        return names;
    }

    std::ostream& err_;
    bool showProgress_;
    bool building_;
    bool continue_;
    bool hintCorners_;
    const ScanJob* job_ = nullptr;
};

// Eight numbers X,Y,X,Y,X,Y,X,Y of --corners.
std::vector<double> cornerValues(const std::string& text) {
    std::vector<double> values;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = text.find(',', start);
        const std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (!isPlainDecimal(item)) throw UsageError("--corners takes auto, full or eight numbers X,Y,X,Y,X,Y,X,Y");
        values.push_back(plainDecimalValue(item));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    if (values.size() != 8) throw UsageError("--corners takes auto, full or eight numbers X,Y,X,Y,X,Y,X,Y");
    for (double v : values) {
        if (!std::isfinite(v)) throw UsageError("--corners: every coordinate must be a finite number");
        if (std::fabs(v) > kMaxCornerCoordinate)
            throw UsageError("--corners: coordinates lie within 1000000 pixels of the picture");
    }
    return values;
}

std::optional<LocalTime> reproducibleTime() {
    const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
    if (!epoch || !*epoch) return std::nullopt;
    char* end = nullptr;
    const long long seconds = std::strtoll(epoch, &end, 10);
    if (*end != '\0' || seconds < 0) return std::nullopt;
    return utcTimeOf(seconds);
}

// An output never replaces an input: the scan, the reference file (the
// built-in one of a ColorChecker type too), by any of their names.
void refuseOverInputs(std::string_view option, const std::string& output, const Arguments& a) {
    auto refuse = [&](const std::string& input, std::string_view what) {
        if (!input.empty() && nameSameFile(output, input))
            throw UsageError(std::string(option) + " names the same file as " + std::string(what));
    };
    refuse(a.image, "--image");
    if (!a.reference.empty()) {
        refuse(a.reference, "--reference");
    } else if (const auto entry = kTargetNames.find(a.target); entry != kTargetNames.end()) {
        const int targetType = kTargetTypeEntries[static_cast<std::size_t>(entry->second)].targetType;
        refuse(builtInReferencePath(programDataFolder(executableFolder()), targetType), "the built-in reference file");
    }
}

// The target, scan and reference of the arguments. A usage error when the
// target type needs a reference file and none was given.
JobTarget jobTargetOf(const Arguments& a, bool referenceNeeded = true) {
    const int listIndex = kTargetNames.at(a.target);
    const TargetTypeEntry& entry = kTargetTypeEntries[static_cast<std::size_t>(listIndex)];
    const bool needsReference = referenceNeeded && (entry.targetType == 0 || entry.targetType == 4);
    if (needsReference && a.reference.empty())
        throw UsageError(formatText("--reference is needed for the target type %s", {a.target}));
    JobTarget target;
    target.targetType = entry.targetType;
    target.reflective = entry.reflective;
    target.image = a.image;
    target.reference = a.reference;
    target.dataFolder = programDataFolder(executableFolder());
    target.quarterTurns = a.rotate / 90;
    target.mirror = a.mirror;
    if (a.corners == "auto") {
        target.locateChart = true;
    } else if (a.corners != "full") {
        const std::vector<double> values = cornerValues(a.corners);
        std::array<ImagePoint, 4> corners;
        for (std::size_t k = 0; k < 4; ++k) corners[k] = {values[2 * k], values[2 * k + 1]};
        target.corners = corners;
    }
    return target;
}

// One row of measure's output: name, R, G, B in percent, and the samples'
// scatter in 8-bit steps, or "-" for a patch with no sample in the picture.
std::string patchRow(const std::string& name, const DeviceRgb& rgb, double deviation) {
    const std::string scatter = deviation < 0.0 ? std::string("-") : formatText("%3f", {255.0 * deviation});
    return formatText("%s\t%2f\t%2f\t%2f\t", {name, 100.0 * rgb[0], 100.0 * rgb[1], 100.0 * rgb[2]}) + scatter + '\n';
}

int runMeasure(const Arguments& a, std::ostream& out, std::ostream& err) {
    if (!a.ti3.empty()) {
        if (!hasExtension(a.ti3, ".ti3")) throw UsageError("Measurement files must have an extension of .ti3");
        refuseOverInputs("--ti3", a.ti3, a);
    }
    const AdvancedOptions options = resolveOptions(a);
    CliObserver observer(err, false, false);
    ScanJob job(observer);
    observer.watch(job);
    if (job.load(jobTargetOf(a)) != 0) return kExitFailure;
    const int result = job.measure(options);
    const TargetLayout& layout = job.layout();
    const TargetMeasurement& m = job.measurement();
    if (!m.measured) return kExitFailure;
    for (int i = 0; i < layout.grayCount; ++i) {
        const int position = grayPositionOfIndex(layout, i);
        out << patchRow(layout.grayCells[static_cast<std::size_t>(position)].name,
                        m.grayMeasured[static_cast<std::size_t>(i)], m.grayDeviation[static_cast<std::size_t>(position)]);
    }
    for (int i = 0; i < layout.colorCount; ++i)
        out << patchRow(layout.colorCells[static_cast<std::size_t>(i)].name, m.colorMeasured[static_cast<std::size_t>(i)],
                        m.colorDeviation[static_cast<std::size_t>(i)]);
    const TargetContrast contrast = result == 0 ? contrastOfMeasurement(m, layout.grayCount) : TargetContrast{};
    out << "DMAX\t" << formatContrastValue(contrast, true) << '\n';
    out << "DMIN\t" << formatContrastValue(contrast, false) << '\n';
    for (const std::string& line : illuminationReport(m.illumination)) out << line << '\n';
    if (result == 0 && !a.ti3.empty()) {
        std::ostringstream ti3;
        const AtomicWriteResult written = writeTi3(ti3, layout, job.reference(), m) != 0
                                              ? AtomicWriteResult::WriteFailed
                                              : writeFileAtomically(a.ti3, ti3.str());
        if (written != AtomicWriteResult::Ok) {
            err << "error: " << fileWriteMessage(written, a.ti3) << '\n';
            return kExitFailure;
        }
    }
    return result == 0 ? kExitOk : kExitFailure;
}

// Prints where the chart lies, as --corners takes it, and how sure the
// locator is; the reference only helps (it tells mirror images apart).
int runLocate(const Arguments& a, std::ostream& out, std::ostream& err) {
    CliObserver observer(err, false, false);
    ScanJob job(observer);
    observer.watch(job);
    JobTarget target = jobTargetOf(a, false);
    target.locateChart = true;
    if (job.load(target) != 0) return kExitFailure;
    std::string corners;
    // No "-0.00" for a corner a hair left of or above the first pixel.
    auto tidy = [](double v) { return std::fabs(v) < 0.005 ? 0.0 : v; };
    for (const ImagePoint& p : job.chartCorners())
        corners += formatText(corners.empty() ? "%2f,%2f" : ",%2f,%2f", {tidy(p.x), tidy(p.y)});
    out << "corners " << corners << '\n' << formatText("confidence %3f", {job.chartConfidence()}) << '\n';
    return kExitOk;
}

int runBuild(const Arguments& a, std::ostream& out, std::ostream& err) {
    if (a.description.empty()) throw UsageError("You must enter a profile description");
    if (a.description.size() > kMaxDescriptionLength)
        throw UsageError("--description takes at most 338 bytes");
    if (a.copyright.size() > kMaxCopyrightLength) throw UsageError("--copyright takes at most 338 bytes");
    if (!isValidUtf8(a.description)) throw UsageError("--description is not valid UTF-8 text");
    if (!isValidUtf8(a.copyright)) throw UsageError("--copyright is not valid UTF-8 text");
    // A line break would forge lines of the log; an escape byte would reach
    // whoever shows the profile's description.
    if (hasControlCharacters(a.description)) throw UsageError("--description must not hold control characters");
    if (hasControlCharacters(a.copyright)) throw UsageError("--copyright must not hold control characters");
    if (!hasProfileExtension(a.output)) throw UsageError(std::string(kProfileExtensionError));
    if (!a.log.empty() && !hasLogExtension(a.log)) throw UsageError(std::string(kLogExtensionError));
    refuseOverInputs("--output", a.output, a);
    if (!a.log.empty()) {
        if (nameSameFile(a.log, a.output)) throw UsageError("--log names the same file as --output");
        refuseOverInputs("--log", a.log, a);
    }
    const AdvancedOptions options = resolveOptions(a);

    CliObserver observer(err, true, a.continueOnGrayOrder);
    ScanJob job(observer);
    observer.watch(job);
    if (job.load(jobTargetOf(a)) != 0) return kExitFailure;
    if (job.compute(options, {a.description, a.copyright, a.continueOnGrayOrder, a.continueOnMismatch}) != 0)
        return kExitFailure;
    const LocalTime time = reproducibleTime().value_or(systemLocalTime());
    if (job.save(a.output, a.log, time) != 0) return kExitFailure;
    out << "Profile written to " << a.output << '\n';
    if (!a.log.empty()) out << "Log written to " << a.log << '\n';
    const ModelAccuracy& accuracy = job.accuracy();
    if (accuracy.used >= 0) {
        const CandidateAccuracy& used = accuracy.candidates[static_cast<std::size_t>(accuracy.used)];
        out << formatText("Model used: %s (cross-validated CIEDE2000: mean %2f, 95th percentile %2f)\n",
                          {std::string(fitModelName(used.model)), used.mean, used.p95});
    }
    return kExitOk;
}

}  // namespace

int runCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    CLI::App app{"Calivant - Scanner: builds ICC input profiles for scanners and digital cameras from a scan or "
                 "photograph of a colour target.",
                 "calivant-scanner-cli"};
    app.set_version_flag("-V,--version", std::string("calivant-scanner-cli ") + CALIVANT_FULL_VERSION_TEXT);
    app.require_subcommand(1);
    app.footer(
        "Examples:\n"
        "  calivant-scanner-cli build --target colorchecker-sg --image sg.tif --description \"Scanner X 600 dpi\" \\\n"
        "      --output \"Scanner X.icc\" --log \"Scanner X.txt\"\n"
        "  calivant-scanner-cli build --target it8-reflective --image it8.tif --reference R080505.it8 \\\n"
        "      --corners 12,10,1988,14,1985,1402,9,1398 --model cubic --clut 65 --description \"Flatbed\" \\\n"
        "      --output flatbed.icm\n"
        "  calivant-scanner-cli measure --target hct-reflective --image hct.tif --reference hct.txt\n"
        "  calivant-scanner-cli locate --target colorchecker --image photo.tif\n"
        "\n"
        "Target types: it8-reflective, it8-transparency, colorchecker, colorchecker-dc, colorchecker-sg,\n"
        "hct-reflective, hct-transparency. Options not given take the defaults saved by the wizard.\n"
        "Without --corners the chart is found in the picture.\n"
        "Pictures are read from TIFF (uncompressed, LZW, Deflate, PackBits or JPEG), PNG and JPEG files.\n"
        "Exit status: 0 success, 1 failure, 2 usage error.");

    Arguments a;
    CLI::App* build = app.add_subcommand("build", "Build a profile (and optionally its log) from a target scan");
    addCommonOptions(*build, a);
    build->add_option("--description", a.description, "Profile description (at most 338 bytes)")->required();
    build->add_option("--copyright", a.copyright, "Copyright notice (at most 338 bytes)");
    addComputationOptions(*build, a);
    build->add_flag("--continue-on-gray-order", a.continueOnGrayOrder,
                    "Go on when gray patches are out of brightness order");
    build->add_flag("--continue-on-mismatch", a.continueOnMismatch,
                    "Go on when the reference file does not seem to match the chart");
    build->add_option("--output", a.output, "Profile to write (.icm or .icc)")->required();
    build->add_option("--log", a.log, "Log of the computation to write (.txt)");

    CLI::App* measure =
        app.add_subcommand("measure", "Measure the target and run the checks; print the patch values");
    addCommonOptions(*measure, a);
    measure->add_option("--smoothing", a.smoothing, "Gray curve smoothing")
        ->check(CLI::IsMember({"none", "light", "moderate", "heavy"}));
    measure->add_option("--stretch", a.stretch, "Contrast stretch to DMAX,DMIN percent")->type_name("DMAX,DMIN");
    addIlluminationOptions(*measure, a);
    measure->add_flag("--factory-defaults", a.factoryDefaults, "Ignore the option defaults saved by the wizard");
    measure->add_option("--ti3", a.ti3, "Also write the patches with their reference values as a CGATS .ti3 file");

    CLI::App* locate = app.add_subcommand(
        "locate", "Find the chart in the picture; print its corners as --corners takes them");
    addCommonOptions(*locate, a, false);

    // The first word that is not an option names the subcommand.
    for (int i = 1; i < argc; ++i) {
        const std::string_view word = argv[i];
        if (word.starts_with("-")) continue;
        if (std::find(std::begin(kSubcommands), std::end(kSubcommands), word) == std::end(kSubcommands)) {
            err << "error: unknown subcommand \"" << printableText(word) << "\" (build, measure or locate)\n";
            return kExitUsage;
        }
        break;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e, out, err);
        return code == 0 ? kExitOk : kExitUsage;
    }
    try {
        if (*build) return runBuild(a, out, err);
        if (*locate) return runLocate(a, out, err);
        return runMeasure(a, out, err);
    } catch (const UsageError& e) {
        err << "error: " << e.what() << '\n';
        return kExitUsage;
    } catch (const std::bad_alloc&) {
        err << "error: not enough memory\n";
        return kExitFailure;
    } catch (const std::exception& e) {
        // Nothing the engine throws may end the program unreported.
        err << "error: " << printableText(e.what()) << '\n';
        return kExitFailure;
    }
}

}  // namespace calivant::cli
