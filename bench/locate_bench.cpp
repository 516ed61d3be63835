// The chart locator on random placements (tools/make-target/placement.h):
// for each layout, how often the chart is found, how often within 0.1 patch
// pitch of the true corners at every corner, how often a wrong placement
// (a corner more than 0.5 pitch off) is reported as found, the corner
// error's percentiles in pitches, and the time per picture against a
// baseline of reading every pixel of it once.
//
//   locate_bench [--count 300] [--width 6000] [--height 4525] [--types 0,1,2,3,4]
//                [--seed 1] [--threads 2] [--dump FOLDER]
//
// IT8 and HCT run twice: with their reference, and without one (then no
// mirrored placements, since only a reference can tell them). --dump writes
// every miss as a TIFF with its true corners.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "make-target/placement.h"
#include "make-target/synthetic_target.h"
#include "make-target/synthetic_tiff.h"
#include "locate/chart_locator.h"
#include "locate/layout_grid.h"
#include "shell/data_folder.h"
#include "util/paths.h"

namespace {

using namespace calivant;
using Clock = std::chrono::steady_clock;

struct Settings {
    int count = 300;
    int width = 6000;
    int height = 4525;
    std::vector<int> types = {0, 1, 2, 3, 4};
    std::uint64_t seed = 1;
    int threads = 2;
    std::string dump;
};

struct Outcome {
    bool found = false;
    double error = 0.0;  // largest corner error, pitches
};

const char* const kNames[] = {"IT8", "ColorChecker", "ColorChecker DC", "ColorChecker SG", "HCT"};

ReferenceData referenceFor(int type) {
    const std::string name = builtInReferenceName(type);
    if (name.empty()) return generatedReference(type);
    ReferenceData reference;
    const std::string folder = joinPath(programDataFolder(executableFolder()), "Reference Files/Macbeth");
    if (readReferencePath(joinPath(folder, name), type, reference) != 0) {
        std::fprintf(stderr, "cannot read the built-in reference %s\n", name.c_str());
        std::exit(1);
    }
    return reference;
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

// Processor time of the whole process (both of the locator's threads).
double processSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// The baseline: one pass over every sample of the picture.
double readEverySample(const TargetImage& image) {
    const auto start = Clock::now();
    std::uint64_t sum = 0;
    const std::size_t bytes = static_cast<std::size_t>(image.width) * (image.format == PixelFormat::Rgb48 ? 6 : 3);
    for (const std::uint8_t* row : image.rows)
        for (std::size_t i = 0; i < bytes; i += 2) sum += row[i] | (row[i + 1] << 8);
    volatile std::uint64_t keep = sum;
    (void)keep;
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void runLayout(const Settings& settings, int type, bool withReference) {
    const ReferenceData reference = referenceFor(type);
    const TargetLayout layout = makeTargetLayout(type);
    const SiteGrid grid = siteGrid(layout);
    std::vector<Outcome> outcomes(static_cast<std::size_t>(settings.count));
    std::atomic<int> next{0};
    std::mutex dumpLock;
    auto work = [&]() {
        for (int n = next++; n < settings.count; n = next++) {
            const std::uint64_t seed = settings.seed * 1000003ull + static_cast<std::uint64_t>(type) * 7919ull +
                                       static_cast<std::uint64_t>(n);
            const RandomPlacement r = randomPlacement(type, settings.width, settings.height, seed, withReference);
            SyntheticTarget target;
            TargetImage image;
            if (renderPlacedTarget(r.options, r.placement, reference, target) != kSyntheticOk ||
                pictureToTargetImage(target.picture, image) != 0) {
                std::fprintf(stderr, "cannot render placement %d\n", n);
                std::exit(1);
            }
            const ChartLocation location = locateChart(image, layout, withReference ? &reference : nullptr);
            Outcome& o = outcomes[static_cast<std::size_t>(n)];
            o.found = location.found;
            if (location.found) o.error = cornerError(target.quad, location.quad, grid);
            if (!settings.dump.empty() && (!o.found || o.error > 0.1)) {
                const std::lock_guard<std::mutex> lock(dumpLock);
                const std::string base = settings.dump + "/type" + std::to_string(type) + (withReference ? "r" : "n") +
                                         "-" + std::to_string(n);
                writeSyntheticTiff(base + ".tif", target.picture, TiffWriteOptions{});
                writeCornersPath(base + ".corners", target.quad, settings.height);
                std::fprintf(stderr, "%s: %s (error %.3f, reason: %s)\n", base.c_str(), o.found ? "found" : "missed",
                             o.error, location.reason.c_str());
            }
        }
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < settings.threads; ++t) pool.emplace_back(work);
    work();
    for (std::thread& t : pool) t.join();

    // Timing alone on the machine, on a few of the same placements.
    constexpr int kTimed = 5;
    std::vector<double> times, cpuTimes, baselines;
    for (int n = 0; n < kTimed && n < settings.count; ++n) {
        const RandomPlacement r = randomPlacement(type, settings.width, settings.height,
                                                  settings.seed * 1000003ull + static_cast<std::uint64_t>(type) * 7919ull +
                                                      static_cast<std::uint64_t>(n),
                                                  withReference);
        SyntheticTarget target;
        TargetImage image;
        if (renderPlacedTarget(r.options, r.placement, reference, target) != kSyntheticOk ||
            pictureToTargetImage(target.picture, image) != 0)
            std::exit(1);
        baselines.push_back(readEverySample(image));
        const auto start = Clock::now();
        const double cpuStart = processSeconds();
        const ChartLocation location = locateChart(image, layout, withReference ? &reference : nullptr);
        cpuTimes.push_back(processSeconds() - cpuStart);
        times.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        (void)location;
    }

    int found = 0, within = 0, wrong = 0;
    std::vector<double> errors;
    for (const Outcome& o : outcomes) {
        if (!o.found) continue;
        ++found;
        errors.push_back(o.error);
        if (o.error <= 0.1) ++within;
        if (o.error > 0.5) ++wrong;
    }
    const double n = settings.count;
    const double time = percentile(times, 0.5);
    const double baseline = percentile(baselines, 0.5);
    std::printf("| %-16s | %-3s | %4d | %6.1f %% | %6.1f %% | %5d | %6.4f | %6.4f | %6.4f | %6.0f ms | %6.0f ms | %5.1f |\n",
                kNames[type], withReference ? "yes" : "no", settings.count, 100.0 * found / n, 100.0 * within / n,
                wrong, percentile(errors, 0.5), percentile(errors, 0.95), percentile(errors, 1.0), 1000.0 * time,
                1000.0 * percentile(cpuTimes, 0.5), time / baseline);
    std::fflush(stdout);
}

bool parse(int argc, char** argv, Settings& s) {
    for (int k = 1; k + 1 < argc; k += 2) {
        const std::string key = argv[k];
        const char* value = argv[k + 1];
        if (key == "--count") s.count = std::atoi(value);
        else if (key == "--width") s.width = std::atoi(value);
        else if (key == "--height") s.height = std::atoi(value);
        else if (key == "--seed") s.seed = std::strtoull(value, nullptr, 10);
        else if (key == "--threads") s.threads = std::max(1, std::atoi(value));
        else if (key == "--dump") s.dump = value;
        else if (key == "--types") {
            s.types.clear();
            for (const char* p = value; *p; ++p)
                if (*p >= '0' && *p <= '4') s.types.push_back(*p - '0');
        } else return false;
    }
    return argc % 2 == 1 && s.count > 0 && s.width >= 64 && s.height >= 64;
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    if (!parse(argc, argv, settings)) {
        std::fprintf(stderr, "usage: locate_bench [--count N] [--width W] [--height H] [--types 0,1,2,3,4] [--seed S] "
                             "[--threads T] [--dump FOLDER]\n");
        return 2;
    }
    std::printf("%d random placements per layout on %d x %d 48-bit pictures; errors in patch pitches (largest "
                "corner); time: median of 5, wall clock and processor (both threads), and the wall clock's ratio to one "
                "pass over every sample\n\n",
                settings.count, settings.width, settings.height);
    std::printf("| layout           | ref | runs |  found   | <= 0.1 p | wrong |  p50   |  p95   |  max   |   time    |    cpu    | ratio |\n");
    std::printf("|------------------|-----|------|----------|----------|-------|--------|--------|--------|-----------|-----------|-------|\n");
    for (int type : settings.types) {
        runLayout(settings, type, true);
        if (builtInReferenceName(type).empty()) runLayout(settings, type, false);
    }
    return 0;
}
