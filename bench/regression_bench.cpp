// The residual correction over a 33-point grid for an HCT-sized target (504
// patches, cubic): every patch's residual evaluated afresh per grid point
// (the baseline) against residuals computed once per fit. Both must give the
// same bits; the run stops if they do not.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "profile/regression.h"
#include "util/diagnostics.h"

namespace {

using namespace calivant;

constexpr int kGrid = 33;
constexpr int kGrayCount = 24;
constexpr int kColorCount = 480;

struct Setup {
    Diagnostics diagnostics;
    AdvancedOptions options;
    ProfileResult result;
};

Setup& fitted() {
    static Setup setup = [] {
        Setup s;
        s.options.regressionModel = Cubic;
        s.options.colorSpace = CieLab;
        std::uint64_t state = 12345;
        auto next = [&] {
            state = state * 6364136223846793005ULL + 1442695040888963407ULL;
            return static_cast<double>(state >> 11) * 0x1.0p-53;
        };
        // Codes as the tone curves give them: multiples of 1/65535.
        auto code = [&] { return static_cast<int>(next() * 65535) / 65535.0; };
        for (int i = 0; i < kGrayCount; ++i) {
            const double v = static_cast<int>((i + 0.5) / kGrayCount * 65535) / 65535.0;
            s.result.grayLinear.push_back({v, v, v});
        }
        for (int i = 0; i < kColorCount; ++i) s.result.colorLinear.push_back({code(), code(), code()});
        auto lab = [&](const ColorTriple& p) {
            return ColorTriple{100 * (0.2 * p[0] + 0.7 * p[1] + 0.1 * p[2]) + 3 * next(),
                               80 * (p[0] - p[1]) * (1 - p[2]) + 3 * next(), 60 * (p[1] - p[2]) + 3 * next()};
        };
        for (const auto& p : s.result.grayLinear) s.result.workGrayLab.push_back(lab(p));
        for (const auto& p : s.result.colorLinear) s.result.workColorLab.push_back(lab(p));
        if (fitRegression(s.options, static_cast<int>(TargetType::Hct), s.result, s.diagnostics) != 0) {
            std::fprintf(stderr, "fit failed\n");
            std::exit(1);
        }
        return s;
    }();
    return setup;
}

template <bool kPrecomputed>
void fillGrid(const ProfileResult& result, std::vector<double>& out) {
    std::size_t at = 0;
    for (int i = 0; i < kGrid; ++i)
        for (int j = 0; j < kGrid; ++j)
            for (int k = 0; k < kGrid; ++k) {
                const double r = i / double(kGrid - 1), g = j / double(kGrid - 1), b = k / double(kGrid - 1);
                const ColorTriple m = evaluateModelLab(result, r, g, b, false);
                const ColorTriple c = kPrecomputed ? interpolateResidual(result.patchResiduals, r, g, b)
                                                   : residualCorrectionLab(result, r, g, b);
                for (int n = 0; n < 3; ++n) out[at++] = m[n] + c[n];
            }
}

void BM_ResidualPerQuery(benchmark::State& state) {
    std::vector<double> grid(kGrid * kGrid * kGrid * 3);
    for (auto _ : state) {
        fillGrid<false>(fitted().result, grid);
        benchmark::DoNotOptimize(grid.data());
    }
}
BENCHMARK(BM_ResidualPerQuery)->Unit(benchmark::kMillisecond);

void BM_ResidualPrecomputed(benchmark::State& state) {
    std::vector<double> grid(kGrid * kGrid * kGrid * 3);
    for (auto _ : state) {
        fillGrid<true>(fitted().result, grid);
        benchmark::DoNotOptimize(grid.data());
    }
}
BENCHMARK(BM_ResidualPrecomputed)->Unit(benchmark::kMillisecond);

// Prints the speed-up of the precomputed form after the usual table.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) times_[run.benchmark_name()] = run.GetAdjustedRealTime();
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        const double baseline = times_["BM_ResidualPerQuery"];
        const double ours = times_["BM_ResidualPrecomputed"];
        if (baseline > 0 && ours > 0)
            std::printf("precomputed residuals: %.1fx faster than per query\n", baseline / ours);
    }

private:
    std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
    std::vector<double> literal(kGrid * kGrid * kGrid * 3), precomputed(literal.size());
    fillGrid<false>(fitted().result, literal);
    fillGrid<true>(fitted().result, precomputed);
    if (std::memcmp(literal.data(), precomputed.data(), literal.size() * sizeof(double)) != 0) {
        std::fprintf(stderr, "precomputed residuals differ from the per-query form\n");
        return 1;
    }
    std::printf("grids identical (%d^3 points, %d patches, cubic)\n", kGrid, kGrayCount + kColorCount);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
