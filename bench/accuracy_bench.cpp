// How well profiles predict colours that were not on the chart: synthetic
// IT8, ColorChecker SG, ColorChecker DC and HCT scans of every make-target
// device kind, a profile from each of our models, from the automatic choice
// (and from the automatic choice as it was before the mixing model and the
// exact tables: the nine first candidates and CIE Lab tables with 256-entry
// curves), the true device sampled into the same table format (the format
// floor), and ArgyllCMS's colprof (a LUT and a shaper/matrix profile from our
// .ti3 of the same measurement), each applied by Little CMS (A2B1, or
// colprof's A2B0) to 1,000 random colours of the chart's gamut and compared
// with the device's true colour (CIEDE2000). Also: how exactly the automatic
// profile's A2B1 carries its own model, the same scans lit unevenly (a light
// fall-off from one corner and lens vignetting) with and without the
// illumination correction, and the automatic choice's time on the HCT chart.
//
//   accuracy_bench [--quick] [--bits 8|16] [--noise SIGMA] [--chart it8|sg|dc|hct]
//                  [--device KIND] [--no-argyll] [--no-lighting] [--lighting-only] [--forms]
//     --quick: IT8 only, without ArgyllCMS and the lighting cases

#include <lcms2.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "bench_timing.h"
#include "make-target/device_kinds.h"
#include "make-target/synthetic_target.h"
#include "output/icc_profile.h"
#include "output/ti3_file.h"
#include "profile/compute_profile.h"
#include "profile/fitted_table.h"
#include "profile/illumination_correction.h"
#include "profile/lookup_table.h"
#include "profile/model_choice.h"
#include "profile/model_fit.h"
#include "util/delta_e.h"

namespace {

using namespace calivant;

constexpr int kTestColours = 1000;
const LocalTime kTime{2026, 1, 1, 12, 0, 0, 4, 0};
// The grid and the input curves of the format floor.
constexpr int kFloorGrid = 33;
constexpr int kFloorInputEntries = 256;

struct Scan {
    SyntheticTarget target;
    TargetImage image;
    OverlayQuad quad;
    TargetMeasurement measurement;
};

std::string chartName(int type) {
    switch (type) {
        case 0: return "IT8";
        case 2: return "ColorChecker DC";
        case 3: return "ColorChecker SG";
        case 4: return "HCT";
        default: return "chart " + std::to_string(type);
    }
}

struct Lighting {
    const char* name;
    double gradient;
    double angle;
    double vignetting;
};

// Noise of every rendering (--noise), as a fraction of full scale.
double gNoise = 0.0;

bool renderAndMeasure(int targetType, const DeviceModel& device, int bits, const Lighting& light, bool correct,
                      Scan& scan) {
    SyntheticTargetOptions options;
    options.targetType = targetType;
    // The chart fills the picture with square cells, as a photograph shows
    // it; lens vignetting is round in the picture.
    const PatchCell cell = makeTargetLayout(targetType).colorCells.front();
    options.width = targetType == 4 ? 2200 : 1400;
    options.height = static_cast<int>(std::lround(options.width * cell.width / cell.height));
    options.bitsPerSample = bits;
    options.device = device;
    options.gradient = light.gradient;
    options.gradientAngle = light.angle;
    options.vignetting = light.vignetting;
    options.noiseSigma = gNoise;
    if (renderSyntheticTarget(options, generatedReference(targetType), scan.target) != kSyntheticOk) return false;
    if (pictureToTargetImage(scan.target.picture, scan.image) != 0) return false;
    resetOverlayQuad(scan.quad, scan.image.width, scan.image.height);
    AdvancedOptions measureOptions;
    measureOptions.correctIllumination = correct ? 1 : 0;
    scan.measurement = measureTarget(scan.image, scan.target.layout, scan.quad, scan.target.reference, measureOptions,
                                     MeasureMode::Compute);
    correctIllumination(scan.measurement, scan.target.layout, scan.target.reference, measureOptions);
    return scan.measurement.measured && scan.measurement.status == 0;
}

// Random colours of the generated charts' gamut (not their Halton points),
// as device values quantised to 16 bits, with the device's true colour.
struct TestColours {
    std::vector<std::array<cmsUInt16Number, 3>> input;
    std::vector<DeviceRgb> device;
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
        t.device.push_back(quantised);
        t.truth.push_back(xyzToLab(xyzFromDevice(device, quantised)));
    }
    return t;
}

struct Figures {
    bool valid = false;
    double mean = 0.0;
    double p95 = 0.0;
};

Figures summarise(std::vector<double> errors) {
    Figures f;
    if (errors.empty()) return f;
    for (double e : errors) f.mean += e;
    f.mean /= static_cast<double>(errors.size());
    std::sort(errors.begin(), errors.end());
    f.p95 = errors[static_cast<std::size_t>(std::ceil(0.95 * static_cast<double>(errors.size()))) - 1];
    f.valid = true;
    return f;
}

// The profile's A2B (relative colorimetric) on the test colours against
// `expected` (the device's truth, or a model's own colours).
Figures evaluate(cmsHPROFILE profile, const TestColours& colours, const std::vector<CieTriple>& expected) {
    if (!profile) return {};
    cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
    cmsHTRANSFORM transform =
        cmsCreateTransform(profile, TYPE_RGB_16, lab, TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOOPTIMIZE);
    std::vector<double> errors;
    if (transform) {
        for (std::size_t i = 0; i < colours.input.size(); ++i) {
            cmsCIELab got;
            cmsDoTransform(transform, colours.input[i].data(), &got, 1);
            errors.push_back(deltaE2000({got.L, got.a, got.b}, expected[i]));
        }
        cmsDeleteTransform(transform);
    }
    cmsCloseProfile(lab);
    return summarise(errors);
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

Figures evaluateBytes(const std::vector<std::uint8_t>& bytes, const TestColours& colours,
                      const std::vector<CieTriple>& expected, bool matrixTrcOnly = false) {
    if (bytes.empty()) return {};
    cmsHPROFILE p = cmsOpenProfileFromMem(bytes.data(), static_cast<cmsUInt32Number>(bytes.size()));
    if (p && matrixTrcOnly) {
        cmsWriteTag(p, cmsSigAToB0Tag, nullptr);
        cmsWriteTag(p, cmsSigAToB1Tag, nullptr);
    }
    const Figures f = evaluate(p, colours, expected);
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
    const Figures f = evaluate(p, colours, colours.truth);
    if (p) cmsCloseProfile(p);
    return f;
}

// --- The format floor ---------------------------------------------------------

// The true device's value in one channel for the neutral of linear light t.
double neutralDevice(const DeviceModel& device, int channel, double t) {
    return deviceFromXyz(device, {t * kD50WhiteX, t * kD50WhiteY, t * kD50WhiteZ})[static_cast<std::size_t>(channel)];
}

// The neutral's linear light whose device value in the channel is d.
double neutralLinear(const DeviceModel& device, int channel, double d) {
    double lo = 0.0, hi = 1.0;
    if (!(neutralDevice(device, channel, lo) < d)) return lo;
    if (!(neutralDevice(device, channel, hi) > d)) return hi;
    for (int i = 0; i < 60; ++i) {
        const double mid = 0.5 * (lo + hi);
        if (neutralDevice(device, channel, mid) < d) lo = mid;
        else hi = mid;
    }
    return 0.5 * (lo + hi);
}

// The true device sampled into a profile's table: input curves of 256
// entries along the device's neutral axis, a 33-point grid holding the
// device's colour, in the connection space and axes of `form`.
std::vector<std::uint8_t> floorProfile(const DeviceModel& device, const FittedTableForm& form) {
    auto result = std::make_unique<ProfileResult>();
    ProfileTable& table = result->colorimetric;
    auto axisCode = [&](double t) { return form.lightnessAxes ? lightnessEncode(t) : std::clamp(t, 0.0, 1.0); };
    auto axisLinear = [&](double code) { return form.lightnessAxes ? lightnessDecode(code) : code; };
    table.inputTables.resize(3 * kFloorInputEntries);
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < kFloorInputEntries; ++i) {
            const double code = axisCode(neutralLinear(device, c, static_cast<double>(i) / (kFloorInputEntries - 1)));
            table.inputTables[static_cast<std::size_t>(c * kFloorInputEntries + i)] =
                static_cast<std::uint16_t>(std::lround(std::clamp(code, 0.0, 1.0) * 65535.0));
        }
    std::array<std::array<double, kFloorGrid>, 3> axis{};
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < kFloorGrid; ++i)
            axis[static_cast<std::size_t>(c)][static_cast<std::size_t>(i)] =
                neutralDevice(device, c, axisLinear(static_cast<double>(i) / (kFloorGrid - 1)));
    std::uint16_t* out = table.clut.data();
    for (int r = 0; r < kFloorGrid; ++r)
        for (int g = 0; g < kFloorGrid; ++g)
            for (int b = 0; b < kFloorGrid; ++b, out += 3) {
                const CieTriple xyz = xyzFromDevice(device, {axis[0][static_cast<std::size_t>(r)],
                                                             axis[1][static_cast<std::size_t>(g)],
                                                             axis[2][static_cast<std::size_t>(b)]});
                if (form.connectionSpace == CieXyz) encodeXyzPoint(xyz, out);
                else encodeLabPoint(xyzToLab(xyz), out);
            }
    result->perceptual = result->colorimetric;
    IccProfileSettings settings{"floor", "", form.connectionSpace, 1, kFloorGrid};
    std::vector<std::uint8_t> bytes;
    buildIccProfile(settings, *result, kTime, bytes);
    return bytes;
}

// The true colours of the test set rounded to the 16-bit encoding of a
// connection space, as any table must hold them: the least error a table in
// that space can have.
Figures encodingAlone(const TestColours& colours, int connectionSpace) {
    std::vector<double> errors;
    for (const CieTriple& lab : colours.truth) {
        std::uint16_t code[3];
        CieTriple back;
        if (connectionSpace == CieXyz) {
            encodeXyzPoint(labToXyz(lab), code);
            // Little CMS reads the XYZ encoding as 1.0 = 32768.
            back = xyzToLab({code[0] / 32768.0 * 100.0, code[1] / 32768.0 * 100.0, code[2] / 32768.0 * 100.0});
        } else {
            encodeLabPoint(lab, code);
            back = {code[0] / 652.8, (code[1] - 32768.0) / 256.0, (code[2] - 32768.0) / 256.0};
        }
        errors.push_back(deltaE2000(back, lab));
    }
    return summarise(errors);
}

// --- Printing -----------------------------------------------------------------

void printRow(const std::string& name, const Figures& f, const std::string& note = "") {
    if (f.valid) std::printf("  %-34s %6.3f %6.3f  %s\n", name.c_str(), f.mean, f.p95, note.c_str());
    else std::printf("  %-34s    n/a    n/a  %s\n", name.c_str(), note.c_str());
}

std::string format3(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", v);
    return text;
}

double seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

using bench::processSeconds;

FitModel usedModel(const ProfileComputation& c) {
    return c.profile.accuracy.candidates.at(static_cast<std::size_t>(c.profile.accuracy.used)).model;
}

// The automatic choice as it was before this benchmark's mixing model and
// exact tables: the nine first candidates, CIE Lab tables with 256-entry
// curves.
ProfileComputation earlierAutomatic(const ProfileInputs& in) {
    const FitPatches patches = fitPatchesOf(
        std::span(in.measurement.grayWorking).first(static_cast<std::size_t>(in.layout.grayCount)),
        std::span(in.measurement.colorWorking).first(static_cast<std::size_t>(in.layout.colorCount)),
        std::span(in.reference.grayXYZ).first(static_cast<std::size_t>(in.layout.grayCount)),
        std::span(in.reference.grayLab).first(static_cast<std::size_t>(in.layout.grayCount)),
        std::span(in.reference.colorXYZ).first(static_cast<std::size_t>(in.layout.colorCount)),
        std::span(in.reference.colorLab).first(static_cast<std::size_t>(in.layout.colorCount)));
    std::vector<FitModel> candidates = automaticCandidates();
    candidates.erase(std::remove(candidates.begin(), candidates.end(), FitModel::MixingShaper), candidates.end());
    MatrixShaper shaper;
    const bool ok = fitMatrixShaper(patches.device, patches.xyz, patches.lab, nullptr, shaper) == 0;
    const CrossValidation cv = crossValidate(patches, candidates, {ok ? &shaper : nullptr, nullptr});
    const int chosen = chooseModel(cv.candidates);
    if (chosen < 0) return {};
    return computeProfileWithModel(in, candidates[static_cast<std::size_t>(chosen)], FittedTableForm{});
}

struct SummaryRow {
    std::string chart, device, chose;
    Figures automatic, earlier, factory, floor, argyllLut, argyllShaper, exactness;
};

// The automatic choice's own work on the HCT chart (the fits to every
// patch, the cross-validation of every candidate on two threads, the
// choice), wall clock and processor time, against the factory-default
// computation of the whole profile.
void timeChoice(const Scan& scan, const std::string& device) {
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
    double best = 1e9, bestCpu = 1e9, bestBaseline = 1e9, bestBaselineCpu = 1e9;
    for (int run = 0; run < kRuns; ++run) {
        auto start = std::chrono::steady_clock::now();
        double cpu = processSeconds();
        MatrixShaper shaper;
        MixingShaper mixing;
        const bool ok = fitMatrixShaper(patches.device, patches.xyz, patches.lab, nullptr, shaper) == 0;
        const bool mixed = ok && fitMixingShaper(patches.device, patches.lab, shaper, mixing) == 0;
        const CrossValidation cv = crossValidate(patches, candidates, {ok ? &shaper : nullptr, mixed ? &mixing : nullptr}, 2);
        volatile int chosen = chooseModel(cv.candidates);
        (void)chosen;
        best = std::min(best, seconds(std::chrono::steady_clock::now() - start));
        bestCpu = std::min(bestCpu, processSeconds() - cpu);

        start = std::chrono::steady_clock::now();
        cpu = processSeconds();
        const AdvancedOptions factory;
        const ProfileComputation c = computeProfile({layout, r, scan.measurement, factory});
        bestBaseline = std::min(bestBaseline, seconds(std::chrono::steady_clock::now() - start));
        bestBaselineCpu = std::min(bestBaselineCpu, processSeconds() - cpu);
        (void)c;
    }
    std::printf("  %-13s fit + choice %.3f s wall, %.3f s processor (both threads); factory-default computation of "
                "the whole profile %.3f s wall, %.3f s processor (%.2f x in wall time)\n",
                device.c_str(), best, bestCpu, bestBaseline, bestBaselineCpu, best / bestBaseline);
    (void)kRuns;
}

void lightingCases(const std::vector<int>& charts, const std::vector<DeviceKind>& kinds, int bits) {
    const Lighting cases[] = {{"even", 0.0, 0.0, 0.0},
                              {"15% corner to corner", 0.15, 45.0, 0.0},
                              {"30% corner to corner", 0.30, 45.0, 0.0},
                              {"vignetting 15%", 0.0, 0.0, 0.15},
                              {"vignetting 30%", 0.0, 0.0, 0.30}};
    std::printf("\nUneven light: Automatic's held-out mean CIEDE2000 without / with the illumination correction; "
                "ratio = corrected / evenly lit without (target <= 1.15; even light: change < 2%%)\n");
    std::printf("  %-16s %-13s %-22s %7s %7s %7s  %s\n", "chart", "device", "light", "off", "on", "ratio", "field");
    int met = 0, total = 0;
    for (int chart : charts) {
        if (!hasBorderPatches(chart)) continue;
        for (DeviceKind kind : kinds) {
            const DeviceModel device = deviceModelOfKind(kind);
            const TestColours colours = testColours(device);
            double even = 0.0;
            for (const Lighting& light : cases) {
                Figures f[2];
                std::string field, chose;
                for (int correct = 0; correct < 2; ++correct) {
                    Scan scan;
                    if (!renderAndMeasure(chart, device, bits, light, correct != 0, scan)) continue;
                    AdvancedOptions automatic;
                    automatic.regressionModel = Automatic;
                    const ProfileComputation c =
                        computeProfile({scan.target.layout, scan.target.reference, scan.measurement, automatic});
                    f[correct] = evaluateBytes(profileBytes(scan, automatic, c), colours, colours.truth);
                    if (correct && c.status == 0) chose = std::string(fitModelName(usedModel(c)));
                    if (correct) {
                        const IlluminationCorrection& ic = scan.measurement.illumination;
                        field = ic.status == IlluminationStatus::Corrected ? format3(ic.lowest) + " to 1.00"
                                : ic.status == IlluminationStatus::Even        ? "even, left alone"
                                                                               : "not corrected";
                        if (!ic.leftOut.empty()) field += ", " + std::to_string(ic.leftOut.size()) + " left out";
                    }
                }
                if (light.gradient == 0.0 && light.vignetting == 0.0) even = f[0].mean;
                const double ratio = even > 0.0 && f[1].valid ? f[1].mean / even : 0.0;
                const bool isEven = light.gradient == 0.0 && light.vignetting == 0.0;
                const bool ok = isEven ? std::fabs(ratio - 1.0) < 0.02 : ratio <= 1.15;
                met += ok ? 1 : 0;
                ++total;
                std::printf("  %-16s %-13s %-22s %7.3f %7.3f %7.3f%s %-28s %s\n", chartName(chart).c_str(),
                            std::string(deviceKindName(kind)).c_str(), light.name, f[0].mean, f[1].mean, ratio,
                            ok ? " " : "!", field.c_str(), chose.c_str());
            }
        }
    }
    std::printf("  within target: %d of %d cases\n", met, total);
}

// How exactly each table form carries each model (A2B1 against the model
// itself), and the floor in each form: what fittedTableForm's choices rest on.
void compareForms(const std::vector<int>& charts, const std::vector<DeviceKind>& kinds, int bits) {
    const FittedTableForm forms[] = {{CieXyz, false, 4096}, {CieXyz, true, 4096}, {CieLab, true, 4096}, {CieLab, false, 4096}};
    const char* formNames[] = {"XYZ linear", "XYZ lightness", "Lab lightness", "Lab linear"};
    std::printf("\nTable forms: A2B1 against its own model (mean CIEDE2000), and the floor in each form\n");
    for (int chart : charts)
        for (DeviceKind kind : kinds) {
            const DeviceModel device = deviceModelOfKind(kind);
            Scan scan;
            if (!renderAndMeasure(chart, device, bits, {"even", 0.0, 0.0, 0.0}, false, scan)) continue;
            const TestColours colours = testColours(device);
            std::printf("%s, %s\n  %-24s", chartName(chart).c_str(), std::string(deviceKindName(kind)).c_str(), "");
            for (const char* name : formNames) std::printf(" %14s", name);
            std::printf("\n");
            for (FitModel model : automaticCandidates()) {
                std::printf("  %-24s", std::string(fitModelName(model)).c_str());
                for (const FittedTableForm& form : forms) {
                    AdvancedOptions options;
                    options.regressionModel = Automatic;
                    const ProfileComputation c = computeProfileWithModel(
                        {scan.target.layout, scan.target.reference, scan.measurement, options}, model, form);
                    Figures f;
                    if (c.status == 0 && c.profile.fittedModel) {
                        std::vector<CieTriple> own;
                        for (const DeviceRgb& d : colours.device) own.push_back(c.profile.fittedModel->lab(d));
                        f = evaluateBytes(profileBytes(scan, options, c), colours, own);
                    }
                    std::printf(" %14.4f", f.mean);
                }
                std::printf("\n");
            }
            std::printf("  %-24s", "floor");
            for (const FittedTableForm& form : forms)
                std::printf(" %14.4f", evaluateBytes(floorProfile(device, form), colours, colours.truth).mean);
            std::printf("\n");
        }
}

}  // namespace

int main(int argc, char** argv) {
    bool quick = false, noArgyll = false, noLighting = false, lightingOnly = false, forms = false;
    int bits = 8;
    std::string onlyChart, onlyDevice;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--quick") quick = true;
        else if (arg == "--no-argyll") noArgyll = true;
        else if (arg == "--no-lighting") noLighting = true;
        else if (arg == "--lighting-only") lightingOnly = true;
        else if (arg == "--forms") forms = true;
        else if (arg == "--bits" && i + 1 < argc) bits = std::atoi(argv[++i]);
        else if (arg == "--noise" && i + 1 < argc) gNoise = std::atof(argv[++i]);
        else if (arg == "--chart" && i + 1 < argc) onlyChart = argv[++i];
        else if (arg == "--device" && i + 1 < argc) onlyDevice = argv[++i];
    }
    if (bits != 8 && bits != 16) bits = 8;
    char pattern[] = "/tmp/accuracy-bench-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (!made) return 1;
    const std::filesystem::path folder(made);
    const bool haveArgyll = !quick && !noArgyll && std::system("command -v colprof > /dev/null 2>&1") == 0;

    const std::map<std::string, int> chartNames = {{"it8", 0}, {"dc", 2}, {"sg", 3}, {"hct", 4}};
    std::vector<int> charts = quick ? std::vector<int>{0} : std::vector<int>{0, 3, 2, 4};
    if (!onlyChart.empty() && chartNames.count(onlyChart)) charts = {chartNames.at(onlyChart)};
    std::vector<DeviceKind> kinds;
    for (DeviceKind kind : kDeviceKinds)
        if (onlyDevice.empty() || onlyDevice == deviceKindName(kind)) kinds.push_back(kind);

    if (forms) {
        compareForms(charts, kinds, bits);
        return 0;
    }
    std::vector<FitModel> models = automaticCandidates();
    std::vector<SummaryRow> summary;
    std::vector<std::pair<std::string, Scan>> hct;
    const Lighting even{"even", 0.0, 0.0, 0.0};
    if (!lightingOnly) {
        std::printf("Held-out CIEDE2000 (mean, 95th percentile) of %d random colours through Little CMS, %d-bit scans, "
                    "noise %.4f\n",
                    kTestColours, bits, gNoise);
        for (int chart : charts) {
            for (DeviceKind kind : kinds) {
                const DeviceModel device = deviceModelOfKind(kind);
                Scan scan;
                if (!renderAndMeasure(chart, device, bits, even, false, scan)) {
                    std::printf("%s: the scan could not be measured\n", std::string(deviceKindName(kind)).c_str());
                    continue;
                }
                const TestColours colours = testColours(device);
                SummaryRow row;
                row.chart = chartName(chart);
                row.device = deviceKindName(kind);
                std::printf("\n%s chart, %s device\n", row.chart.c_str(), row.device.c_str());
                std::printf("  %-34s %6s %6s\n", "profile", "mean", "p95");
                const ProfileInputs base{scan.target.layout, scan.target.reference, scan.measurement, AdvancedOptions{}};
                for (FitModel model : models) {
                    AdvancedOptions options;
                    ProfileComputation computed;
                    const bool factory = model == FitModel::LabCubic;
                    if (isSeedModel(model)) {
                        // The fixed models, as the setting builds them.
                        options.colorSpace = seedColorSpace(model);
                        options.regressionModel = seedRegressionModel(model);
                        computed = computeProfile({base.layout, base.reference, base.measurement, options});
                    } else {
                        options.regressionModel = Automatic;
                        computed = computeProfileWithModel({base.layout, base.reference, base.measurement, options}, model);
                    }
                    const Figures f = evaluateBytes(profileBytes(scan, options, computed), colours, colours.truth);
                    std::string note;
                    if (!computed.profile.accuracy.candidates.empty() &&
                        computed.profile.accuracy.candidates[0].status == FitStatus::Ok)
                        note = "cv " + format3(computed.profile.accuracy.candidates[0].mean);
                    printRow(std::string(fitModelName(model)) + (factory ? " (factory)" : ""), f, note);
                    if (factory) row.factory = f;
                }
                AdvancedOptions automatic;
                automatic.regressionModel = Automatic;
                const ProfileComputation chosen =
                    computeProfile({base.layout, base.reference, base.measurement, automatic});
                const std::vector<std::uint8_t> bytes = profileBytes(scan, automatic, chosen);
                row.automatic = evaluateBytes(bytes, colours, colours.truth);
                row.chose = chosen.status == 0 ? std::string(fitModelName(usedModel(chosen))) : "failed";
                printRow("Automatic", row.automatic, "chose " + row.chose);
                const ProfileComputation earlier = earlierAutomatic(base);
                row.earlier = evaluateBytes(profileBytes(scan, automatic, earlier), colours, colours.truth);
                printRow("Automatic before (9 models, Lab/256)", row.earlier,
                         earlier.status == 0 ? "chose " + std::string(fitModelName(usedModel(earlier))) : "");
                printRow("Matrix/TRC tags alone", evaluateBytes(bytes, colours, colours.truth, true));
                if (chosen.status == 0 && chosen.profile.fittedModel) {
                    // The tables against the model they were sampled from.
                    std::vector<CieTriple> own;
                    for (const DeviceRgb& d : colours.device) own.push_back(chosen.profile.fittedModel->lab(d));
                    row.exactness = evaluateBytes(bytes, colours, own);
                }
                printRow("Automatic's A2B1 against its model", row.exactness);
                const FittedTableForm form = chosen.status == 0 && chosen.profile.fittedModel
                                                 ? chosen.profile.tableForm
                                                 : FittedTableForm{};
                row.floor = evaluateBytes(floorProfile(device, form), colours, colours.truth);
                printRow("XYZ encoding alone", encodingAlone(colours, CieXyz));
                printRow("L*a*b* encoding alone", encodingAlone(colours, CieLab));
                printRow("Format floor (33 grid, 256 curves)", row.floor,
                         std::string(form.connectionSpace == CieXyz ? "XYZ" : "Lab") +
                             (form.lightnessAxes ? ", lightness axes" : ", linear axes"));
                if (haveArgyll) {
                    row.argyllLut = argyll(scan, "", colours, folder);
                    row.argyllShaper = argyll(scan, "-as", colours, folder);
                    printRow("ArgyllCMS LUT (-qh)", row.argyllLut);
                    printRow("ArgyllCMS shaper/matrix (-as)", row.argyllShaper);
                }
                summary.push_back(row);
                if (chart == 4) hct.emplace_back(row.device, std::move(scan));
            }
        }

        std::printf("\nSummary, held-out mean CIEDE2000 (%d-bit scans)\n", bits);
        std::printf("  %-16s %-13s %9s %9s %9s %9s %9s %9s %7s %9s  %s\n", "chart", "device", "Automatic", "before",
                    "factory", "Argyll", "Argyll", "floor", "/floor", "A2B-model", "chose");
        std::printf("  %-16s %-13s %9s %9s %9s %9s %9s %9s %7s %9s\n", "", "", "", "", "", "LUT", "shaper", "", "", "");
        for (const SummaryRow& r : summary) {
            const double ratio = r.floor.valid && r.floor.mean > 0.0 ? r.automatic.mean / r.floor.mean : 0.0;
            std::printf("  %-16s %-13s %9.3f %9.3f %9.3f %9.3f %9.3f %9.3f %7.2f %9.4f  %s\n", r.chart.c_str(),
                        r.device.c_str(), r.automatic.mean, r.earlier.mean, r.factory.mean, r.argyllLut.mean,
                        r.argyllShaper.mean, r.floor.mean, ratio, r.exactness.mean, r.chose.c_str());
        }
        if (!hct.empty())
            std::printf("\nAutomatic choice on the HCT chart (%d patches, %zu candidates, 2 threads, best of 5 runs):\n",
                        hct.front().second.target.layout.grayCount + hct.front().second.target.layout.colorCount,
                        automaticCandidates().size());
        for (const auto& [device, scan] : hct) timeChoice(scan, device);
    }
    if (!quick && !noLighting) {
        std::vector<int> lit;
        for (int chart : charts)
            if (hasBorderPatches(chart)) lit.push_back(chart);
        if (lit.empty()) lit = {3, 2, 4};
        lightingCases(lit, kinds, bits);
    }
    std::filesystem::remove_all(folder);
    return 0;
}
