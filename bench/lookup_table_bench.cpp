// Both table builds of an HCT profile (504 patches, cubic, residuals
// eliminated, 65 x 65 x 65, Lab): the fit and the fill of the perceptual and
// the colorimetric pass. The baseline evaluates the residual correction per
// grid point on one thread, as the correction is defined; ours uses the
// residuals computed once per fit and fills on every core. The tables of the
// last runs must be identical, or the program fails.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "profile/lookup_table.h"
#include "profile/regression.h"

namespace {

using namespace calivant;

constexpr int kGrayCount = 60;
constexpr int kColorCount = 444;
constexpr int kGrid = 65;

struct Pass {
    ProfileResult result;
};

// A device with a smooth, non-polynomial response and some measurement
// noise, so the cubic fit leaves real residuals.
struct Setup {
    AdvancedOptions options;
    Pass perceptual;
    Pass colorimetric;
};

Setup makeSetup() {
    Setup s;
    s.options.regressionModel = Cubic;
    s.options.colorSpace = CieLab;
    s.options.eliminateResiduals = 1;
    s.options.clutSize = kGrid;
    std::uint64_t state = 20240611;
    auto next = [&] {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(state >> 11) * 0x1.0p-53;
    };
    // Linearized values as the tone curves give them: a code times 1/65535.
    auto code = [&](double v) { return static_cast<int>(v * 65535) * 1.5259021896696422e-05; };
    std::vector<ColorTriple> gray, color;
    for (int i = 0; i < kGrayCount; ++i) {
        const double v = code((i + 0.5) / kGrayCount);
        gray.push_back({v, v, v});
    }
    for (int i = 0; i < kColorCount; ++i) color.push_back({code(next()), code(next()), code(next())});
    auto lab = [&](const ColorTriple& p) {
        const double y = 0.25 * p[0] + 0.65 * p[1] + 0.1 * p[2];
        return ColorTriple{100 * y / (0.3 + 0.7 * y) * (1 - 0.1 * y) + 0.5 * next(),
                           90 * (p[0] - p[1]) / (1 + p[2]) + 0.5 * next(), 70 * (p[1] - p[2] * p[2]) + 0.5 * next()};
    };
    for (Pass* pass : {&s.perceptual, &s.colorimetric}) {
        pass->result.grayLinear = gray;
        pass->result.colorLinear = color;
    }
    for (const ColorTriple& p : gray) s.colorimetric.result.workGrayLab.push_back(lab(p));
    for (const ColorTriple& p : color) s.colorimetric.result.workColorLab.push_back(lab(p));
    // The perceptual pass stretches lightness between the darkest and the
    // lightest gray, scaling a* and b* with it.
    const double l0 = s.colorimetric.result.workGrayLab.front()[0];
    const double top = s.colorimetric.result.workGrayLab.back()[0];
    auto stretch = [&](const ColorTriple& v) {
        const double l = (v[0] - l0) * 100 / (top - l0);
        return ColorTriple{l, l * v[1] / v[0], v[2] * l / v[0]};
    };
    for (const ColorTriple& v : s.colorimetric.result.workGrayLab) s.perceptual.result.workGrayLab.push_back(stretch(v));
    for (const ColorTriple& v : s.colorimetric.result.workColorLab)
        s.perceptual.result.workColorLab.push_back(stretch(v));
    return s;
}

Setup& setup() {
    static Setup s = makeSetup();
    return s;
}

const int kHct = static_cast<int>(TargetType::Hct);

void BM_BuildPerQuery(benchmark::State& state) {
    Setup& s = setup();
    Diagnostics diagnostics;
    for (auto _ : state) {
        for (Pass* pass : {&s.perceptual, &s.colorimetric}) {
            ProfileTable& table = pass == &s.perceptual ? pass->result.perceptual : pass->result.colorimetric;
            if (fitRegression(s.options, kHct, pass->result, diagnostics) != 0 ||
                fillLookupTablePerQuery(pass->result, s.options, table.clut) != 0)
                state.SkipWithError("build failed");
        }
    }
}
BENCHMARK(BM_BuildPerQuery)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

// Keeps the tables of our build apart from the baseline's for the comparison.
struct OurTables {
    ProfileTable perceptual;
    ProfileTable colorimetric;
};
OurTables& ourTables() {
    static OurTables tables;
    return tables;
}

void buildOurs(benchmark::State& state, unsigned threads) {
    Setup& s = setup();
    Diagnostics diagnostics;
    for (auto _ : state) {
        for (Pass* pass : {&s.perceptual, &s.colorimetric}) {
            ProfileTable& table = pass == &s.perceptual ? ourTables().perceptual : ourTables().colorimetric;
            if (fitRegression(s.options, kHct, pass->result, diagnostics) != 0 ||
                fillLookupTable(pass->result, s.options, table.clut, threads) != 0)
                state.SkipWithError("build failed");
        }
    }
}

void BM_BuildOursOneThread(benchmark::State& state) { buildOurs(state, 1); }
BENCHMARK(BM_BuildOursOneThread)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_BuildOurs(benchmark::State& state) {
    // The real entry point, as the compute driver calls it.
    Setup& s = setup();
    Diagnostics diagnostics;
    for (auto _ : state) {
        if (buildLookupTable(s.options, kHct, s.perceptual.result, ourTables().perceptual.clut, diagnostics) != 0 ||
            buildLookupTable(s.options, kHct, s.colorimetric.result, ourTables().colorimetric.clut, diagnostics) != 0)
            state.SkipWithError("build failed");
    }
}
BENCHMARK(BM_BuildOurs)->Unit(benchmark::kMillisecond)->UseRealTime();

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) times_[run.benchmark_name()] = run.GetAdjustedRealTime();
    }
    double time(const std::string& prefix) const {
        for (const auto& [name, t] : times_)
            if (name.rfind(prefix, 0) == 0) return t;
        return 0;
    }

private:
    std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const double baseline = reporter.time("BM_BuildPerQuery");
    const double oneThread = reporter.time("BM_BuildOursOneThread");
    const double ours = reporter.time("BM_BuildOurs/");
    if (baseline <= 0 || ours <= 0) return 0;

    const std::size_t values = static_cast<std::size_t>(kGrid) * kGrid * kGrid * 3;
    const Setup& s = setup();
    if (std::memcmp(s.perceptual.result.perceptual.clut.data(), ourTables().perceptual.clut.data(), values * 2) != 0 ||
        std::memcmp(s.colorimetric.result.colorimetric.clut.data(), ourTables().colorimetric.clut.data(),
                    values * 2) != 0) {
        std::fprintf(stderr, "tables differ between the per-query and the precomputed build\n");
        return 1;
    }
    std::printf("tables identical (%d^3 points, %d patches, cubic, both passes)\n", kGrid, kGrayCount + kColorCount);
    if (oneThread > 0) std::printf("precomputed residuals, one thread: %.1fx faster\n", baseline / oneThread);
    std::printf("precomputed residuals, %u threads: %.1fx faster than per query (ours %.0f ms)\n",
                std::thread::hardware_concurrency(), baseline / ours, ours);
    return 0;
}
