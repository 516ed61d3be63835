// The log writes thousands of "%2f"/"%3f" numbers; compare our formatter with
// snprintf on the same values (the baseline is printf, our output is not).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

#include "util/format.h"

namespace {

std::vector<double> sampleValues() {
    std::vector<double> values;
    for (int i = 0; i < 1000; ++i) values.push_back((i - 500) * 0.12345);
    return values;
}

void BM_FormatText(benchmark::State& state) {
    const auto values = sampleValues();
    char buffer[64];
    for (auto _ : state)
        for (double v : values) benchmark::DoNotOptimize(calivant::formatText(buffer, sizeof buffer, "%3f", {v}));
}
BENCHMARK(BM_FormatText);

void BM_Snprintf(benchmark::State& state) {
    const auto values = sampleValues();
    char buffer[64];
    for (auto _ : state)
        for (double v : values) benchmark::DoNotOptimize(std::snprintf(buffer, sizeof buffer, "%.3f", v));
}
BENCHMARK(BM_Snprintf);

}  // namespace

BENCHMARK_MAIN();
