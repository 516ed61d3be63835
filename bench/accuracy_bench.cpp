// How well profiles predict colours that were not on the chart: synthetic
// IT8 and HCT scans of several kinds of device (make-target), a profile from
// each of our models, from the automatic choice and from ArgyllCMS's colprof
// (a LUT and a shaper/matrix profile, from our .ti3 of the same
// measurement), each applied by Little CMS (A2B1, or colprof's A2B0) to
// 1,000 random colours of the chart's gamut and compared with the device's
// true colour (CIEDE2000). The matrix/TRC tags are also read alone, and the
// automatic choice is timed on the HCT chart against the factory-default
// computation.
//
//   accuracy_bench [--quick] [--chart it8|hct] [--device KIND]
//     --quick: IT8 only, without ArgyllCMS; --device: one make-target kind

#include <lcms2.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "make-target/device_kinds.h"
#include "make-target/synthetic_target.h"
#include "output/icc_profile.h"
#include "output/ti3_file.h"
#include "profile/compute_profile.h"
#include "profile/model_choice.h"
#include "profile/model_fit.h"
#include "util/delta_e.h"

namespace {

using namespace calivant;

constexpr int kTestColours = 1000;
const LocalTime kTime{2026, 1, 1, 12, 0, 0, 4, 0};

struct Scan {
    SyntheticTarget target;
    TargetImage image;
    OverlayQuad quad;
    TargetMeasurement measurement;
};

bool renderAndMeasure(int targetType, const DeviceModel& device, Scan& scan) {
    SyntheticTargetOptions options;
    options.targetType = targetType;
    options.width = targetType == 4 ? 2200 : 1400;
    options.height = targetType == 4 ? 1650 : 1000;
    options.bitsPerSample = 8;
    options.device = device;
    if (renderSyntheticTarget(options, generatedReference(targetType), scan.target) != kSyntheticOk) return false;
    if (pictureToTargetImage(scan.target.picture, scan.image) != 0) return false;
    resetOverlayQuad(scan.quad, scan.image.width, scan.image.height);
    scan.measurement = measureTarget(scan.image, scan.target.layout, scan.quad, scan.target.reference, AdvancedOptions{},
                                     MeasureMode::Compute);
    return scan.measurement.measured && scan.measurement.status == 0;
}

// Random colours of the generated charts' gamut (not their Halton points),
// as device values quantised to 16 bits, with the device's true colour.
struct TestColours {
    std::vector<std::array<cmsUInt16Number, 3>> input;
    std::vector<CieTriple> truth;
};

TestColours testColours(const DeviceModel& device) {
    constexpr double kSrgbD50[3][3] = {
        {0.4360747, 0.3850649, 0.1430804}, {0.2225045, 0.7168786, 0.0606169}, {0.0139322, 0.0971045, 0.7141733}};
    std::mt19937 random(20260101);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    TestColours t;
    while (static_cast<int>(t.input.size()) < kTestColours) {
        std::array<double, 3> linear;
        for (double& v : linear) v = 0.02 + 0.86 * std::pow(unit(random), 2.2);
        CieTriple xyz{};
        for (int r = 0; r < 3; ++r)
            xyz[r] = 100.0 * (kSrgbD50[r][0] * linear[0] + kSrgbD50[r][1] * linear[1] + kSrgbD50[r][2] * linear[2]);
        const DeviceRgb d = deviceFromXyz(device, xyz);
        std::array<cmsUInt16Number, 3> in;
        DeviceRgb quantised;
        for (int c = 0; c < 3; ++c) {
            in[c] = static_cast<cmsUInt16Number>(std::lround(d[c] * 65535.0));
            quantised[c] = in[c] / 65535.0;
        }
        t.input.push_back(in);
        t.truth.push_back(xyzToLab(xyzFromDevice(device, quantised)));
    }
    return t;
}

struct Figures {
    bool valid = false;
    double mean = 0.0;
    double p95 = 0.0;
};

Figures evaluate(cmsHPROFILE profile, int intent, const TestColours& colours) {
    Figures f;
    if (!profile) return f;
    cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
    cmsHTRANSFORM transform = cmsCreateTransform(profile, TYPE_RGB_16, lab, TYPE_Lab_DBL, intent, cmsFLAGS_NOOPTIMIZE);
    if (transform) {
        std::vector<double> errors;
        for (std::size_t i = 0; i < colours.input.size(); ++i) {
            cmsCIELab got;
            cmsDoTransform(transform, colours.input[i].data(), &got, 1);
            errors.push_back(deltaE2000({got.L, got.a, got.b}, colours.truth[i]));
        }
        for (double e : errors) f.mean += e;
        f.mean /= static_cast<double>(errors.size());
        std::sort(errors.begin(), errors.end());
        f.p95 = errors[static_cast<std::size_t>(std::ceil(0.95 * static_cast<double>(errors.size()))) - 1];
        f.valid = true;
        cmsDeleteTransform(transform);
    }
    cmsCloseProfile(lab);
    return f;
}

std::vector<std::uint8_t> profileBytes(const Scan& scan, const AdvancedOptions& options,
                                       const ProfileComputation& computed) {
    std::vector<std::uint8_t> bytes;
    if (computed.status != 0) return bytes;
    const ProfileRecord record{"accuracy", "", scan.target.targetType, 1, options, scan.target.layout,
                               scan.measurement, computed.profile};
    buildIccProfile(iccProfileSettingsOf(record), computed.profile, kTime, bytes);
    return bytes;
}

Figures evaluateBytes(const std::vector<std::uint8_t>& bytes, const TestColours& colours, bool matrixTrcOnly) {
    if (bytes.empty()) return {};
    cmsHPROFILE p = cmsOpenProfileFromMem(bytes.data(), static_cast<cmsUInt32Number>(bytes.size()));
    if (p && matrixTrcOnly) {
        cmsWriteTag(p, cmsSigAToB0Tag, nullptr);
        cmsWriteTag(p, cmsSigAToB1Tag, nullptr);
    }
    const Figures f = evaluate(p, INTENT_RELATIVE_COLORIMETRIC, colours);
    if (p) cmsCloseProfile(p);
    return f;
}

// colprof on the scan's .ti3; absolute intent (-ua) so that its profile maps
// the chart's own scale, as ours does, rather than its lightest patch to white.
Figures argyll(const Scan& scan, const std::string& algorithm, const TestColours& colours,
               const std::filesystem::path& folder) {
    const std::filesystem::path ti3 = folder / "chart.ti3";
    {
        std::ofstream out(ti3);
        if (writeTi3(out, scan.target.layout, scan.target.reference, scan.measurement) != 0) return {};
    }
    std::filesystem::remove(folder / "chart.icc");
    const std::string command = "cd '" + folder.string() + "' && colprof -qh -bn -ua " + algorithm +
                                " -D accuracy chart > colprof.log 2>&1";
    if (std::system(command.c_str()) != 0) return {};
    cmsHPROFILE p = cmsOpenProfileFromFile((folder / "chart.icc").string().c_str(), "r");
    const Figures f = evaluate(p, INTENT_RELATIVE_COLORIMETRIC, colours);
    if (p) cmsCloseProfile(p);
    return f;
}

void printRow(const std::string& name, const Figures& f, const std::string& note = "") {
    if (f.valid) std::printf("  %-22s %6.3f %6.3f  %s\n", name.c_str(), f.mean, f.p95, note.c_str());
    else std::printf("  %-22s    n/a    n/a  %s\n", name.c_str(), note.c_str());
}

double seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The automatic choice's own work on the HCT chart (the shaper/matrix fit to
// every patch and the cross-validation of every candidate, two threads),
// against the factory-default computation of the whole profile.
void timeChoice(const Scan& scan) {
    const TargetLayout& layout = scan.target.layout;
    const ReferenceData& r = scan.target.reference;
    const auto grays = static_cast<std::size_t>(layout.grayCount);
    const auto colours = static_cast<std::size_t>(layout.colorCount);
    const FitPatches patches = fitPatchesOf(
        std::span(scan.measurement.grayWorking).first(grays), std::span(scan.measurement.colorWorking).first(colours),
        std::span(r.grayXYZ).first(grays), std::span(r.grayLab).first(grays), std::span(r.colorXYZ).first(colours),
        std::span(r.colorLab).first(colours));
    const std::vector<FitModel> candidates = automaticCandidates();
    constexpr int kRuns = 5;
    double best = 1e9;
    double bestBaseline = 1e9;
    for (int run = 0; run < kRuns; ++run) {
        auto start = std::chrono::steady_clock::now();
        MatrixShaper shaper;
        const bool ok = fitMatrixShaper(patches.device, patches.xyz, patches.lab, nullptr, shaper) == 0;
        const CrossValidation cv = crossValidate(patches, candidates, ok ? &shaper : nullptr, 2);
        volatile int chosen = chooseModel(cv.candidates);
        (void)chosen;
        best = std::min(best, seconds(std::chrono::steady_clock::now() - start));

        start = std::chrono::steady_clock::now();
        const AdvancedOptions factory;
        const ProfileComputation c = computeProfile({layout, r, scan.measurement, factory});
        bestBaseline = std::min(bestBaseline, seconds(std::chrono::steady_clock::now() - start));
        (void)c;
    }
    std::printf("\nAutomatic choice on the HCT chart (%zu patches, 2 threads, best of %d): %.3f s fit + choice; "
                "%.2f x the factory-default computation of the whole profile (%.3f s)\n",
                patches.size(), kRuns, best, best / bestBaseline, bestBaseline);
}

}  // namespace

int main(int argc, char** argv) {
    bool quick = false;
    std::string onlyChart, onlyDevice;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--quick") quick = true;
        else if (arg == "--chart" && i + 1 < argc) onlyChart = argv[++i];
        else if (arg == "--device" && i + 1 < argc) onlyDevice = argv[++i];
    }
    char pattern[] = "/tmp/accuracy-bench-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (!made) return 1;
    const std::filesystem::path folder(made);
    const bool haveArgyll = !quick && std::system("command -v colprof > /dev/null 2>&1") == 0;

    std::vector<int> charts = quick || onlyChart == "it8" ? std::vector<int>{0} : std::vector<int>{0, 4};
    if (onlyChart == "hct") charts = {4};
    const FitModel models[] = {FitModel::LabLinear,    FitModel::LabQuadratic, FitModel::LabCubic,
                               FitModel::XyzLinear,    FitModel::XyzQuadratic, FitModel::XyzCubic,
                               FitModel::ShaperMatrix, FitModel::ShaperQuadratic, FitModel::ShaperCubic};
    Scan hct;
    bool haveHct = false;
    std::printf("Held-out CIEDE2000 (mean, 95th percentile) of %d random colours through Little CMS\n", kTestColours);
    for (int chart : charts) {
        for (DeviceKind kind : kDeviceKinds) {
            if (!onlyDevice.empty() && onlyDevice != deviceKindName(kind)) continue;
            const DeviceModel device = deviceModelOfKind(kind);
            Scan scan;
            if (!renderAndMeasure(chart, device, scan)) {
                std::printf("%s: the scan could not be measured\n", std::string(deviceKindName(kind)).c_str());
                continue;
            }
            const TestColours colours = testColours(device);
            std::printf("\n%s chart, %s device\n", chart == 0 ? "IT8" : "HCT", std::string(deviceKindName(kind)).c_str());
            std::printf("  %-22s %6s %6s\n", "profile", "mean", "p95");
            const ProfileInputs base{scan.target.layout, scan.target.reference, scan.measurement, AdvancedOptions{}};
            Figures best;
            std::string bestName;
            for (FitModel model : models) {
                AdvancedOptions options;
                ProfileComputation computed;
                if (isSeedModel(model)) {
                    options.colorSpace = seedColorSpace(model);
                    options.regressionModel = seedRegressionModel(model);
                    computed = computeProfile({base.layout, base.reference, base.measurement, options});
                } else {
                    options.regressionModel = Automatic;
                    computed = computeProfileWithModel({base.layout, base.reference, base.measurement, options}, model);
                }
                const Figures f = evaluateBytes(profileBytes(scan, options, computed), colours, false);
                std::string note;
                if (!computed.profile.accuracy.candidates.empty() &&
                    computed.profile.accuracy.candidates[0].status == FitStatus::Ok)
                    note = "cv " + std::to_string(computed.profile.accuracy.candidates[0].mean).substr(0, 5);
                printRow(std::string(fitModelName(model)) + (model == FitModel::LabCubic ? " (factory)" : ""), f, note);
                if (f.valid && (!best.valid || f.mean < best.mean)) {
                    best = f;
                    bestName = fitModelName(model);
                }
            }
            AdvancedOptions automatic;
            automatic.regressionModel = Automatic;
            const ProfileComputation chosen = computeProfile({base.layout, base.reference, base.measurement, automatic});
            const std::vector<std::uint8_t> bytes = profileBytes(scan, automatic, chosen);
            const ModelAccuracy& accuracy = chosen.profile.accuracy;
            const Figures autoFigures = evaluateBytes(bytes, colours, false);
            printRow("Automatic", autoFigures,
                     accuracy.used >= 0
                         ? "chose " + std::string(fitModelName(accuracy.candidates[static_cast<std::size_t>(accuracy.used)].model))
                         : "");
            if (best.valid && autoFigures.valid)
                std::printf("  %-22s %6.3f %6.3f  (best single: %s)\n", "Automatic / best", autoFigures.mean / best.mean,
                            autoFigures.p95 / best.p95, bestName.c_str());
            printRow("Matrix/TRC tags alone", evaluateBytes(bytes, colours, true));
            if (haveArgyll) {
                printRow("ArgyllCMS LUT", argyll(scan, "", colours, folder));
                printRow("ArgyllCMS shaper/matrix", argyll(scan, "-as", colours, folder));
            }
            if (chart == 4 && kind == DeviceKind::MatrixShaper) {
                hct = std::move(scan);
                haveHct = true;
            }
        }
    }
    if (haveHct) timeChoice(hct);
    std::filesystem::remove_all(folder);
    return 0;
}
