#include "output/profile_log.h"

#include <cmath>
#include <string_view>

#include "util/format.h"
#include "image/picture_reader.h"
#include "output/icc_profile.h"
#include "util/text_output.h"
#include "util/cie.h"
#include "profile/fitted_table.h"
#include "profile/model_fit.h"
#include "profile/regression.h"
#include "target/target_layout.h"

namespace calivant {
namespace {

constexpr std::string_view kLogTitle = "Calivant - Scanner 1.0 Log";
constexpr std::string_view kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr int kIt8ColorColumns = 19;
// Deviations and uniformity figures are kept in the 0..1 sample scale; the
// log shows them in 8-bit codes and in percent.
constexpr double kCodeScale = 255.0;
constexpr double kPercentScale = 100.0;

// Every line is attempted even after one failed, as a log on a flaky disk is
// still worth as much of itself as can be written; the failure is remembered
// so the caller can discard the file.
struct LineSink {
    std::ostream& out;
    int failed = 0;

    void line(std::string_view text) { failed |= writeLine(out, text); }
    void blank() { line({}); }
};

std::string dateLine(const LocalTime& time) {
    const int date = localDateNumber(time);
    const int year = date / 10000;
    const int month = date % 10000 / 100;
    const int day = date % 100;
    // A clock that reports no valid month still gets a readable date.
    const std::string monthText =
        month >= 1 && month <= 12 ? std::string(kMonthNames[month - 1]) : formatInteger(month);
    return formatText("%d-%s-%d", {day, monthText, year});
}

std::string_view targetTypeLine(int targetType, int reflective) {
    switch (static_cast<TargetType>(targetType)) {
        case TargetType::It8:
            return reflective ? "Target Type: IT8 Reflective" : "Target Type: IT8 Transmissive";
        case TargetType::ColorChecker: return "Target Type: Macbeth ColorChecker";
        case TargetType::ColorCheckerDc: return "Target Type: Macbeth ColorChecker DC";
        case TargetType::ColorCheckerSg: return "Target Type: Macbeth ColorChecker SG";
        case TargetType::Hct:
            return reflective ? "Target Type: HCT Reflective" : "Target Type: HCT Transmissive";
    }
    return "Target Type: Unknown";
}

std::string_view regressionLine(const AdvancedOptions& options, int targetType) {
    if (options.regressionModel == Automatic) return "  Regression Type: Automatic (Best Fit)";
    // The model that was fitted: the ColorChecker takes Cubic as Quadratic.
    switch (effectiveRegressionModel(options, targetType)) {
        case Linear: return "  Regression Type: Linear";
        case Quadratic: return "  Regression Type: Quadratic";
        case Cubic: return "  Regression Type: Cubic";
        default: return "  Regression Type: Unknown";
    }
}

std::string_view smoothingLine(int smoothing) {
    switch (smoothing) {
        case SmoothingNone: return "  No smoothing";
        case SmoothingLight: return "  Light smoothing";
        case SmoothingModerate: return "  Medium smoothing";
        case SmoothingHeavy: return "  Heavy smoothing";
        default: return "  Unknown smoothing";
    }
}

// xy of a primary. A primary the model estimates as pure black (all three
// components clipped to 0) has no chromaticity: it is shown as (0, 0), a
// point no real colour has, rather than as a division by zero.
void primaryChromaticity(const CieTriple& xyz, double& x, double& y) {
    x = 0.0;
    y = 0.0;
    if (xyz[0] + xyz[1] + xyz[2] == 0.0) return;
    chromaticity(xyz[0], xyz[1], xyz[2], x, y);
    if (!std::isfinite(x) || !std::isfinite(y)) {
        x = 0.0;
        y = 0.0;
    }
}

double distance(const ColorTriple& a, const ColorTriple& b) {
    const double d0 = a[0] - b[0];
    const double d1 = a[1] - b[1];
    const double d2 = a[2] - b[2];
    return std::sqrt(d0 * d0 + d1 * d1 + d2 * d2);
}

// How far the fitted model (with its residual correction when the profile's
// tables carry one) lands from one patch's working reference value.
struct PatchError {
    double rms = 0.0;     // XYZ distance, CIE XYZ fits only
    double deltaE = 0.0;  // CIE 1976 Delta E*ab
};

PatchError patchError(const ProfileResult& result, const AdvancedOptions& options, const ColorTriple& p,
                      const ColorTriple& targetXyz, const ColorTriple& targetLab) {
    PatchError error;
    if (result.fittedModel) {
        // Tables sampled from a fitted model: p is the patch's grid point.
        ColorTriple m = fittedTableValue(*result.fittedModel, result.tableForm, p);
        if (options.eliminateResiduals) {
            const ColorTriple r = interpolateResidual(result.patchResiduals, p[0], p[1], p[2]);
            for (int k = 0; k < 3; ++k) m[k] += r[k];
        }
        if (result.tableForm.connectionSpace == CieXyz) {
            error.rms = distance(m, targetXyz);
            error.deltaE = distance(xyzToLab(m), xyzToLab(targetXyz));
        } else {
            error.deltaE = distance(m, targetLab);
        }
    } else if (effectiveColorSpace(options) == CieXyz) {
        ColorTriple m = evaluateModelXyz(result, p[0], p[1], p[2], false);
        if (options.eliminateResiduals) {
            const ColorTriple r = residualCorrectionXyz(result, p[0], p[1], p[2]);
            for (int k = 0; k < 3; ++k) m[k] += r[k];
        }
        error.rms = distance(m, targetXyz);
        error.deltaE = distance(xyzToLab(m), xyzToLab(targetXyz));
    } else {
        ColorTriple m = evaluateModelLab(result, p[0], p[1], p[2], false);
        if (options.eliminateResiduals) {
            const ColorTriple r = residualCorrectionLab(result, p[0], p[1], p[2]);
            for (int k = 0; k < 3; ++k) m[k] += r[k];
        }
        error.deltaE = distance(m, targetLab);
    }
    return error;
}

struct ErrorSummary {
    double rmsSum = 0.0;
    double rmsMax = 0.0;
    double deltaESum = 0.0;
    double deltaEMax = 0.0;

    void add(const PatchError& e) {
        rmsSum += e.rms;
        deltaESum += e.deltaE;
        if (e.rms > rmsMax) rmsMax = e.rms;
        if (e.deltaE > deltaEMax) deltaEMax = e.deltaE;
    }
};

void writeTableHeader(LineSink& sink, bool xyz, bool grayTable) {
    if (xyz) {
        sink.line("\tRMS\tRMS");
        sink.line("\tUniform\tRegress\tDelta");
        // The gray table has always had a blank before its last "E".
        sink.line(grayTable ? "Patch\tErr\tErr\t E" : "Patch\tErr\tErr\tE");
    } else {
        sink.line("\tRMS");
        sink.line("\tUniform\tDelta");
        sink.line("Patch\tErr\tE");
    }
}

void writePatchLine(LineSink& sink, bool xyz, const std::string& name, double deviation, const PatchError& e) {
    if (xyz)
        sink.line(formatText("%s\t%2f\t%3f\t%3f", {name, kCodeScale * deviation, e.rms, e.deltaE}));
    else
        sink.line(formatText("%s\t%2f\t%3f", {name, kCodeScale * deviation, e.deltaE}));
}

// The section after everything else: how well the model predicts patches
// it was not fitted to, and with an automatic choice every candidate's.
void writeAccuracy(LineSink& sink, const ModelAccuracy& accuracy) {
    sink.blank();
    sink.line("Cross-Validated Accuracy");
    sink.line(formatText("%d-fold, CIEDE2000 of the held-out patches", {accuracy.foldCount}));
    sink.blank();
    sink.line("Model\tMean\t95%\tMax");
    for (std::size_t i = 0; i < accuracy.candidates.size(); ++i) {
        const CandidateAccuracy& c = accuracy.candidates[i];
        const std::string name(fitModelName(c.model));
        switch (c.status) {
            case FitStatus::Ok:
            {
                std::string line = formatText("%s\t%2f\t%2f\t%2f", {name, c.mean, c.p95, c.max});
                if (static_cast<int>(i) == accuracy.used) line += "\tused";
                sink.line(line);
                break;
            }
            case FitStatus::TooFewPatches: sink.line(name + "\ttoo few patches"); break;
            case FitStatus::Failed: sink.line(name + "\tfit failed"); break;
        }
    }
}

// The log reads one computed value per patch of the layout; anything else
// means no profile was computed for this layout.
bool hasComputedProfile(const ProfileRecord& record) {
    const TargetLayout& layout = record.layout;
    const ProfileResult& r = record.profile;
    const int grays = layout.grayCount;
    const int colors = layout.colorCount;
    if (grays < 1 || grays > kMaxGrayPatches || colors < 0 || colors > kMaxColorPatches) return false;
    const auto g = static_cast<std::size_t>(grays);
    const auto c = static_cast<std::size_t>(colors);
    return r.grayLinear.size() == g && r.workGrayXYZ.size() == g && r.workGrayLab.size() == g &&
           r.colorLinear.size() == c && r.workColorXYZ.size() == c && r.workColorLab.size() == c;
}

}  // namespace

std::string grayPatchName(const TargetLayout& layout, int index) {
    if (index < 0 || index >= layout.grayCount) return {};
    switch (static_cast<TargetType>(layout.targetType)) {
        case TargetType::It8: return formatInteger(layout.grayCount - 1 - index);  // the darkest is 23
        case TargetType::ColorChecker: return formatInteger(index + 1);
        default: break;
    }
    const auto cell = static_cast<std::size_t>(index);
    return cell < layout.grayCells.size() ? layout.grayCells[cell].name : std::string();
}

std::string colorPatchName(const TargetLayout& layout, int index) {
    if (index < 0 || index >= layout.colorCount) return {};
    switch (static_cast<TargetType>(layout.targetType)) {
        case TargetType::It8:
        {
            // Appended in place: the one-character string + number form trips
            // a false -Wrestrict in GCC 12 at -O3.
            std::string name(1, static_cast<char>('A' + index / kIt8ColorColumns));
            name.append(formatInteger(index % kIt8ColorColumns + 1));
            return name;
        }
        case TargetType::ColorChecker: return formatInteger(index + 1);
        default: break;
    }
    const auto cell = static_cast<std::size_t>(index);
    return cell < layout.colorCells.size() ? layout.colorCells[cell].name : std::string();
}

int writeProfileLog(std::ostream& out, const ProfileRecord& record, const LocalTime& time) {
    if (!hasComputedProfile(record)) return 1;

    const TargetLayout& layout = record.layout;
    const AdvancedOptions& options = record.options;
    const ProfileResult& result = record.profile;
    const TargetMeasurement& measured = record.measurement;
    const int grayCount = layout.grayCount;
    const int colorCount = layout.colorCount;
    const int colorSpace = profileConnectionSpace(options, result);
    const bool xyz = colorSpace == CieXyz;
    LineSink sink{out};

    sink.line(kLogTitle);
    sink.line(dateLine(time));
    sink.blank();
    sink.line(formatText("Description: %s", {record.description}));
    sink.line(formatText("Copyright: %s", {record.copyright}));
    sink.blank();
    sink.line(targetTypeLine(record.targetType, record.reflective));
    sink.blank();

    sink.line("Advanced Options:");
    sink.line(xyz ? "  Color Space: CIE XYZ" : "  Color Space: CIE Lab");
    sink.line(regressionLine(options, record.targetType));
    sink.line(options.eliminateResiduals ? "  Residuals eliminated" : "  Residuals not eliminated");
    if (options.stretch)
        sink.line(formatText("  Target Image Contrast Stretch to %3f .. %3f", {options.stretchDmax, options.stretchDmin}));
    else
        sink.line("  No Target Image Contrast Stretch");
    sink.line(smoothingLine(options.smoothing));
    sink.blank();

    constexpr std::string_view kPrimaryNames[3] = {"Red", "Green", "Blue"};
    for (int channel = 0; channel < 3; ++channel) {
        double x = 0.0;
        double y = 0.0;
        // A fitted model's profile keeps the CIE Lab Linear model for its primaries.
        primaryChromaticity(primaryXyz(result, result.fittedModel ? CieLab : colorSpace, channel), x, y);
        sink.line(formatText("%s Primary CIE xy (estimated): (%3f, %3f)", {kPrimaryNames[channel], x, y}));
    }
    sink.blank();

    const DeviceRgb& dmax = measured.grayMeasured[0];
    const DeviceRgb& dmin = measured.grayMeasured[static_cast<std::size_t>(grayCount - 1)];
    sink.line(formatText("Dmax patch RGB: (%2f%%, %2f%%, %2f%%)",
                         {kPercentScale * dmax[0], kPercentScale * dmax[1], kPercentScale * dmax[2]}));
    sink.line(formatText("Dmin patch RGB: (%2f%%, %2f%%, %2f%%)",
                         {kPercentScale * dmin[0], kPercentScale * dmin[1], kPercentScale * dmin[2]}));
    sink.blank();

    // Only the charts with border patches have an illumination figure.
    const auto type = static_cast<TargetType>(record.targetType);
    if (type == TargetType::ColorCheckerDc || type == TargetType::ColorCheckerSg || type == TargetType::Hct) {
        sink.line(formatText("RMS White Uniformity Error: %2f%%", {kPercentScale * measured.whiteUniformity}));
        sink.line(formatText("RMS Gray Uniformity Error: %2f%%", {kPercentScale * measured.midGrayUniformity}));
        sink.line(formatText("RMS Black Uniformity Error: %2f%%", {kPercentScale * measured.blackUniformity}));
        for (const std::string& line : illuminationReport(measured.illumination)) sink.line(line);
        sink.blank();
    } else if (const std::vector<std::string> lines = illuminationReport(measured.illumination); !lines.empty()) {
        // A saved correction the chart has no border patches for.
        for (const std::string& line : lines) sink.line(line);
        sink.blank();
    }

    ErrorSummary summary;
    sink.line("Gray Patches");
    sink.blank();
    writeTableHeader(sink, xyz, true);
    for (int i = 0; i < grayCount; ++i) {
        const auto at = static_cast<std::size_t>(i);
        const PatchError e = patchError(result, options, result.grayLinear[at], result.workGrayXYZ[at],
                                        result.workGrayLab[at]);
        summary.add(e);
        // Gray deviations follow the layout's cells, which IT8 and the
        // ColorChecker list lightest first.
        const double deviation = measured.grayDeviation[static_cast<std::size_t>(grayPositionOfIndex(layout, i))];
        writePatchLine(sink, xyz, grayPatchName(layout, i), deviation, e);
    }
    sink.blank();

    sink.line("Color Patches");
    sink.blank();
    writeTableHeader(sink, xyz, false);
    for (int i = 0; i < colorCount; ++i) {
        const auto at = static_cast<std::size_t>(i);
        const PatchError e = patchError(result, options, result.colorLinear[at], result.workColorXYZ[at],
                                        result.workColorLab[at]);
        summary.add(e);
        writePatchLine(sink, xyz, colorPatchName(layout, i), measured.colorDeviation[at], e);
    }
    sink.blank();

    const double patchCount = static_cast<double>(grayCount + colorCount);  // at least 1
    if (xyz) {
        sink.line(formatText("Average RMS Error = %2f", {summary.rmsSum / patchCount}));
        sink.line(formatText("Max RMS Error = %2f", {summary.rmsMax}));
    }
    sink.line(formatText("Average Delta E = %2f", {summary.deltaESum / patchCount}));
    sink.line(formatText("Max Delta E = %2f", {summary.deltaEMax}));
    if (!result.accuracy.candidates.empty()) writeAccuracy(sink, result.accuracy);
    if (record.jpegPicture) {
        sink.blank();
        sink.line(kJpegPictureWarning);
    }
    return sink.failed != 0 || !out ? 1 : 0;
}

}  // namespace calivant
