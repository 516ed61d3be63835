// The chart locator on random pictures (tools/make-target/placement.h):
// for each layout, how often the chart is found, how often within 0.1 patch
// pitch of the true corners at every corner, how often a wrong placement
// (a corner more than 0.5 pitch off) is reported as found, the corner
// error's percentiles in pitches, and the time per picture against a
// baseline of reading every pixel of it once.
//
//   locate_bench [--count 300] [--ranges wide|old] [--style printed|plain]
//                [--types 0,1,2,3,4] [--seed 1] [--threads 2] [--dump FOLDER]
//                [--case N] [--width 6000] [--height 4525] [--references DIR]
//
// --ranges wide (the default): widePlacement, the ranges real pictures span
// (pitches 12..600 px, 0.3..60 MP, perspective, lens, light, clutter, JPEG,
// cropped scans, second charts); old: randomPlacement on --width x
// --height pictures. The charts are printed (--style printed, the default)
// or plain. IT8 charts show the maker's reference files of --references
// (default ../shared/reference-data/real beside the project), one per case
// in turn, read at run time.
//
// IT8 and HCT run twice: with their reference, and without one (then no
// mirrored placements and no second chart of the same type, since only a
// reference can tell them). A picture with a second chart of the same type
// counts as right when the chart is found, or refused with the reason "two
// charts in the picture".
//
// --dump writes every miss and every wrong case as a TIFF, its true corners
// and a text file with the make-target arguments that render it again;
// --case N renders case N of each chosen layout alone, writes it the same
// way (to --dump, default the current folder) and prints its outcome.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench_timing.h"
#include "make-target/placement.h"
#include "make-target/placement_options.h"
#include "make-target/printed_chart.h"
#include "make-target/synthetic_target.h"
#include "make-target/synthetic_tiff.h"
#include "locate/chart_locator.h"
#include "locate/layout_grid.h"
#include "shell/data_folder.h"
#include "util/paths.h"

namespace {

using namespace calivant;
using Clock = std::chrono::steady_clock;
using bench::processSeconds;

struct Settings {
    int count = 300;
    int width = 6000;
    int height = 4525;
    std::vector<int> types = {0, 1, 2, 3, 4};
    std::uint64_t seed = 1;
    int threads = 2;
    std::string dump;
    bool wide = true;
    bool printed = true;
    int oneCase = -1;
    std::string references = CALIVANT_SHARED_DIR "/reference-data/real";
};

const char* const kRealIt8Files[] = {"R080505.it8", "R000926.it8", "E020429.it8"};

enum class Verdict { Within, Found, Wrong, Missed, RefusedTwo };

struct Outcome {
    Verdict verdict = Verdict::Missed;
    double error = 0.0;  // largest corner error, pitches
    bool twoCharts = false;
};

const char* const kNames[] = {"IT8", "ColorChecker", "ColorChecker DC", "ColorChecker SG", "HCT"};

// A chart's colours: the built-in reference of a ColorChecker type, a
// maker's file for IT8 (with its own patches in columns 20..22), a generated
// one for HCT.
struct ChartColours {
    ReferenceData reference;
    std::vector<CieTriple> extra;
    std::string file;  // for the make-target arguments
};

std::vector<ChartColours> coloursFor(const Settings& settings, int type) {
    std::vector<ChartColours> all;
    const std::string name = builtInReferenceName(type);
    if (!name.empty()) {
        ChartColours c;
        c.file = joinPath(joinPath(programDataFolder(executableFolder()), "Reference Files/Macbeth"), name);
        if (readReferencePath(c.file, type, c.reference) != 0) {
            std::fprintf(stderr, "cannot read the built-in reference %s\n", c.file.c_str());
            std::exit(1);
        }
        all.push_back(c);
        return all;
    }
    if (type == static_cast<int>(TargetType::It8) && settings.printed)
        for (const char* file : kRealIt8Files) {
            ChartColours c;
            c.file = joinPath(settings.references, file);
            if (readReferencePath(c.file, type, c.reference) != 0) continue;
            c.extra = readExtraPatches(c.file, type);
            all.push_back(c);
        }
    if (all.empty()) {
        if (type == static_cast<int>(TargetType::It8))
            std::fprintf(stderr, "no IT8 reference files in %s: rendering generated colours\n", settings.references.c_str());
        all.push_back({generatedReference(type), {}, {}});
    }
    return all;
}

// A corner's error in pitches: the error vector carried back into layout
// units through the true mapping's local derivative, divided by the pitch.
double cornerError(const OverlayQuad& truth, const OverlayQuad& found, const SiteGrid& grid) {
    const double corners[4][2] = {{0, 0}, {0, 1}, {1, 1}, {1, 0}};  // (u, v) of corners 0..3
    double worst = 0.0;
    for (int k = 0; k < 4; ++k) {
        const double u = corners[k][0];
        const double v = corners[k][1];
        const double h = 1e-4;
        const ImagePoint p = mapTargetPoint(truth, u, v);
        const ImagePoint pu = mapTargetPoint(truth, u + (u > 0.5 ? -h : h), v);
        const ImagePoint pv = mapTargetPoint(truth, u, v + (v > 0.5 ? -h : h));
        const double s = u > 0.5 ? -h : h;
        const double r = v > 0.5 ? -h : h;
        const double a = (pu.x - p.x) / s, b = (pv.x - p.x) / r, c = (pu.y - p.y) / s, d = (pv.y - p.y) / r;
        const double ex = found.corners[static_cast<std::size_t>(k)].x - p.x;
        const double ey = found.corners[static_cast<std::size_t>(k)].y - p.y;
        const double det = a * d - b * c;
        const double du = (d * ex - b * ey) / det;
        const double dv = (-c * ex + a * ey) / det;
        worst = std::max(worst, std::hypot(du / grid.pitchU, dv / grid.pitchT));
    }
    return worst;
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const std::size_t k = static_cast<std::size_t>(std::lround(p * (values.size() - 1)));
    return values[k];
}

// One case, rendered the same way every time.
struct Case {
    RandomPlacement r;
    const ChartColours* colours = nullptr;
    SyntheticTarget target;
    TargetImage image;
};

void renderCase(const Settings& settings, int type, bool withReference, int n, const std::vector<ChartColours>& colours,
                unsigned workers, Case& c) {
    const std::uint64_t seed =
        settings.seed * 1000003ull + static_cast<std::uint64_t>(type) * 7919ull + static_cast<std::uint64_t>(n);
    c.r = settings.wide ? widePlacement(type, seed, withReference, withReference)
                        : randomPlacement(type, settings.width, settings.height, seed, withReference);
    ChartPlacement& p = c.r.placement;
    if (settings.printed) p.style = ChartStyle::Printed;
    p.workers = workers;
    c.colours = &colours[static_cast<std::size_t>(n) % colours.size()];
    p.extraPatches = c.colours->extra;
    std::string error;
    int result = renderPlacedTarget(c.r.options, p, c.colours->reference, c.target, &error);
    if (result != kSyntheticOk && p.second != SecondChart::None) {
        // No room for the second chart: the picture without it.
        p.second = SecondChart::None;
        result = renderPlacedTarget(c.r.options, p, c.colours->reference, c.target, &error);
    }
    if (result != kSyntheticOk || pictureToTargetImage(c.target.picture, c.image) != 0) {
        std::fprintf(stderr, "cannot render case %d of %s: %s\n", n, kNames[type], error.c_str());
        std::exit(1);
    }
}

Outcome judge(const Case& c, const ChartLocation& location, const SiteGrid& grid, int type) {
    Outcome o;
    const ChartPlacement& p = c.r.placement;
    o.twoCharts = p.second == SecondChart::OtherChart && p.secondType == type;
    if (!location.found) {
        const bool refusedTwo = o.twoCharts && location.reason.find("two charts") != std::string::npos;
        o.verdict = refusedTwo ? Verdict::RefusedTwo : Verdict::Missed;
        return o;
    }
    o.error = cornerError(c.target.quad, location.quad, grid);
    o.verdict = o.error <= 0.1 ? Verdict::Within : o.error <= 0.5 ? Verdict::Found : Verdict::Wrong;
    return o;
}

const char* verdictName(Verdict v) {
    switch (v) {
        case Verdict::Within: return "found";
        case Verdict::Found: return "imprecise";
        case Verdict::Wrong: return "WRONG";
        case Verdict::Missed: return "missed";
        case Verdict::RefusedTwo: return "refused (two charts)";
    }
    return "";
}

// The picture, its true corners and what renders it again.
void writeCase(const std::string& folder, const std::string& base, const Case& c, const Outcome& o,
               const ChartLocation& location) {
    const std::string path = (folder.empty() ? std::string(".") : folder) + "/" + base;
    writeSyntheticTiff(path + ".tif", c.target.picture, TiffWriteOptions{});
    writeCornersPath(path + ".corners", c.target.quad, c.target.picture.height);
    std::ofstream text(path + ".txt");
    std::string arguments = placementArguments(c.r.options, c.r.placement);
    if (!c.colours->file.empty() && builtInReferenceName(c.r.options.targetType).empty())
        arguments += " --reference-in '" + c.colours->file + "'";
    text << "make-target " << arguments << " --out-image " << base << ".tif\n"
         << verdictName(o.verdict) << " (error " << o.error << " pitch, reason: " << location.reason << ")\n";
    std::fprintf(stderr, "%s: %s (error %.3f, reason: %s)\n", path.c_str(), verdictName(o.verdict), o.error,
                 location.reason.c_str());
}

std::string caseName(int type, bool withReference, int n) {
    return "type" + std::to_string(type) + (withReference ? "r" : "n") + "-" + std::to_string(n);
}

void runOneCase(const Settings& settings, int type, bool withReference) {
    const std::vector<ChartColours> colours = coloursFor(settings, type);
    const TargetLayout layout = makeTargetLayout(type);
    Case c;
    renderCase(settings, type, withReference, settings.oneCase, colours, 0, c);
    const ChartLocation location = locateChart(c.image, layout, withReference ? &c.colours->reference : nullptr);
    const Outcome o = judge(c, location, siteGrid(layout), type);
    writeCase(settings.dump, caseName(type, withReference, settings.oneCase), c, o, location);
}

void runLayout(const Settings& settings, int type, bool withReference) {
    const std::vector<ChartColours> colours = coloursFor(settings, type);
    const TargetLayout layout = makeTargetLayout(type);
    const SiteGrid grid = siteGrid(layout);
    std::vector<Outcome> outcomes(static_cast<std::size_t>(settings.count));
    std::vector<double> megapixels(outcomes.size());
    std::atomic<int> next{0};
    std::mutex dumpLock;
    auto work = [&]() {
        for (int n = next++; n < settings.count; n = next++) {
            Case c;
            renderCase(settings, type, withReference, n, colours, 1, c);
            megapixels[static_cast<std::size_t>(n)] = 1e-6 * c.image.width * c.image.height;
            const ChartLocation location = locateChart(c.image, layout, withReference ? &c.colours->reference : nullptr);
            Outcome& o = outcomes[static_cast<std::size_t>(n)] = judge(c, location, grid, type);
            if (!settings.dump.empty() && o.verdict != Verdict::Within && o.verdict != Verdict::RefusedTwo) {
                const std::lock_guard<std::mutex> lock(dumpLock);
                writeCase(settings.dump, caseName(type, withReference, n), c, o, location);
            }
        }
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < settings.threads; ++t) pool.emplace_back(work);
    work();
    for (std::thread& t : pool) t.join();

    // Timing alone on the machine, on a few of the same pictures.
    constexpr int kTimed = 5;
    std::vector<double> times, cpuTimes, baselines, ratios;
    for (int n = 0; n < kTimed && n < settings.count; ++n) {
        Case c;
        renderCase(settings, type, withReference, n, colours, 0, c);
        baselines.push_back(bench::onePassOverSamples(c.image));
        const auto start = Clock::now();
        const double cpuStart = processSeconds();
        const ChartLocation location = locateChart(c.image, layout, withReference ? &c.colours->reference : nullptr);
        cpuTimes.push_back(processSeconds() - cpuStart);
        times.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        ratios.push_back(times.back() / baselines.back());
        (void)location;
    }

    int within = 0, found = 0, wrong = 0, two = 0, twoRight = 0;
    std::vector<double> errors;
    for (const Outcome& o : outcomes) {
        two += o.twoCharts;
        if (o.twoCharts && (o.verdict == Verdict::Within || o.verdict == Verdict::RefusedTwo)) ++twoRight;
        if (o.verdict == Verdict::Within || o.verdict == Verdict::RefusedTwo) ++within;
        if (o.verdict == Verdict::Within || o.verdict == Verdict::Found || o.verdict == Verdict::RefusedTwo) ++found;
        if (o.verdict == Verdict::Wrong) ++wrong;
        if (o.verdict == Verdict::Within || o.verdict == Verdict::Found || o.verdict == Verdict::Wrong)
            errors.push_back(o.error);
    }
    const double n = settings.count;
    std::printf("| %-16s | %-3s | %4d | %6.1f %% | %6.1f %% | %5d | %3d/%-3d | %6.4f | %6.4f | %8.3f | %5.1f | %6.0f ms | %6.0f ms | %5.1f |\n",
                kNames[type], withReference ? "yes" : "no", settings.count, 100.0 * found / n, 100.0 * within / n,
                wrong, twoRight, two, percentile(errors, 0.5), percentile(errors, 0.95), percentile(errors, 1.0),
                percentile(megapixels, 0.5), 1000.0 * percentile(times, 0.5), 1000.0 * percentile(cpuTimes, 0.5),
                percentile(ratios, 0.5));
    std::fflush(stdout);
}

bool parse(int argc, char** argv, Settings& s) {
    for (int k = 1; k + 1 < argc; k += 2) {
        const std::string key = argv[k];
        const std::string value = argv[k + 1];
        if (key == "--count") s.count = std::atoi(value.c_str());
        else if (key == "--width") s.width = std::atoi(value.c_str());
        else if (key == "--height") s.height = std::atoi(value.c_str());
        else if (key == "--seed") s.seed = std::strtoull(value.c_str(), nullptr, 10);
        else if (key == "--threads") s.threads = std::max(1, std::atoi(value.c_str()));
        else if (key == "--dump") s.dump = value;
        else if (key == "--case") s.oneCase = std::atoi(value.c_str());
        else if (key == "--references") s.references = value;
        else if (key == "--ranges" && (value == "wide" || value == "old")) s.wide = value == "wide";
        else if (key == "--style" && (value == "printed" || value == "plain")) s.printed = value == "printed";
        else if (key == "--types") {
            s.types.clear();
            for (char c : value)
                if (c >= '0' && c <= '4') s.types.push_back(c - '0');
        } else return false;
    }
    return argc % 2 == 1 && s.count > 0 && s.width >= 64 && s.height >= 64;
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    if (!parse(argc, argv, settings)) {
        std::fprintf(stderr, "usage: locate_bench [--count N] [--ranges wide|old] [--style printed|plain] "
                             "[--types 0,1,2,3,4] [--seed S] [--threads T] [--dump FOLDER] [--case N] "
                             "[--width W] [--height H] [--references DIR]\n");
        return 2;
    }
    if (settings.oneCase >= 0) {
        for (int type : settings.types) {
            runOneCase(settings, type, true);
            if (builtInReferenceName(type).empty()) runOneCase(settings, type, false);
        }
        return 0;
    }
    if (settings.wide)
        std::printf("%d random %s pictures per layout over the ranges of real ones (0.3..60 MP, pitches 12..600 px, "
                    "cropped scans among them)",
                    settings.count, settings.printed ? "printed-chart" : "plain-chart");
    else
        std::printf("%d random %s placements per layout on %d x %d 48-bit pictures (the old ranges)", settings.count,
                    settings.printed ? "printed-chart" : "plain-chart", settings.width, settings.height);
    std::printf("; right: found within 0.1 pitch, or refused as two charts where a second chart of the type lies "
                "in the picture (two: such cases right/all); errors in patch pitches (largest corner); MP: median "
                "picture size; time: median of 5 pictures rendered alone, wall clock and processor, and the median "
                "ratio of the wall clock to one pass over every sample\n\n");
    std::printf("| layout           | ref | runs |  found   |  right   | wrong |   two   |  p50   |  p95   |   max    |  MP   |   time    |    cpu    | ratio |\n");
    std::printf("|------------------|-----|------|----------|----------|-------|---------|--------|--------|----------|-------|-----------|-----------|-------|\n");
    for (int type : settings.types) {
        runLayout(settings, type, true);
        if (builtInReferenceName(type).empty()) runLayout(settings, type, false);
    }
    return 0;
}
