// Measuring the HCT target (535 patches, 441 points each) on a 48-bit
// 8000 x 6000 scan. Prints the time per patch and per sample point, against
// a baseline of reading the same number of pixels straight from the raster.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>

#include "image/target_image.h"
#include "make-target/synthetic_target.h"
#include "measure/patch_measurement.h"

namespace {

using namespace calivant;

struct Fixture {
    SyntheticTarget target;
    TargetImage image;
    OverlayQuad overlay;
    AdvancedOptions options;
    Fixture() {
        SyntheticTargetOptions options;
        options.targetType = 4;
        options.bitsPerSample = 16;
        options.width = 8000;
        options.height = 6000;
        if (renderSyntheticTarget(options, generatedReference(4), target) != 0 ||
            pictureToTargetImage(target.picture, image) != 0)
            std::abort();
        resetOverlayQuad(overlay, image.width, image.height);
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

int patchCount(const TargetLayout& l) {
    return l.grayCount + l.colorCount + l.whiteCount + l.midGrayCount + l.blackCount;
}

void BM_MeasureHct(benchmark::State& state) {
    Fixture& f = fixture();
    for (auto _ : state)
        benchmark::DoNotOptimize(
            measureTarget(f.image, f.target.layout, f.overlay, f.target.reference, f.options, MeasureMode::Preview));
    const int patches = patchCount(f.target.layout);
    state.counters["patches"] = patches;
    state.counters["ns_per_patch"] = benchmark::Counter(static_cast<double>(patches) * state.iterations(),
                                                        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["ns_per_point"] = benchmark::Counter(static_cast<double>(patches) * 441 * state.iterations(),
                                                        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_MeasureHct)->Unit(benchmark::kMillisecond);

// Baseline: four plain pixel reads per sample point, no mapping or blending.
void BM_ReadPixelsBaseline(benchmark::State& state) {
    Fixture& f = fixture();
    const TargetImage& image = f.image;
    const int points = patchCount(f.target.layout) * 441;
    for (auto _ : state) {
        std::uint64_t sum = 0;
        for (int k = 0; k < points; ++k) {
            const int x = static_cast<int>((std::int64_t{k} * 7919) % (image.width - 1));
            const int y = static_cast<int>((std::int64_t{k} * 104729) % (image.height - 1));
            for (int dy = 0; dy < 2; ++dy)
                for (int dx = 0; dx < 2; ++dx) sum += image.rows[y + dy][(x + dx) * 6];
        }
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_ReadPixelsBaseline)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
