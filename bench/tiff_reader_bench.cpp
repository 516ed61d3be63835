// Reads a 6000 x 4000 48-bit scan (uncompressed, and LZW with the
// horizontal predictor) with our reader and with libtiff in the same run,
// and prints the ratio of our time to libtiff's (target: at most 1 for
// both files). Then prints the peak heap use of one read of each file
// against the raster's size (target: below 1.1 x raster + 16 MB).
//
// The picture imitates a scanned chart: a grid of flat patches with
// scanner noise and a slight light fall-off, so LZW does what it does on
// real targets. libtiff reads every strip into one raster buffer; our
// reader also reorders the samples to blue, green, red.
#include <benchmark/benchmark.h>
#include <tiffio.h>

#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "image/tiff_reader.h"

// Counts heap bytes in use so the reader's peak can be measured. libtiff
// allocates with malloc and is not counted; only our reader is measured.
namespace {
std::atomic<std::size_t> gInUse{0};
std::atomic<std::size_t> gPeak{0};
constexpr std::size_t kHeader = 16;  // keeps the alignment of malloc

// Kept out of line: inlined into delete expressions on known objects, the
// header arithmetic sets off GCC's bounds warnings.
[[gnu::noinline]] void* countedAllocate(std::size_t n) {
    auto* block = static_cast<unsigned char*>(std::malloc(n + kHeader));
    if (!block) return nullptr;
    *reinterpret_cast<std::size_t*>(block) = n;
    const std::size_t now = gInUse.fetch_add(n) + n;
    std::size_t peak = gPeak.load();
    while (now > peak && !gPeak.compare_exchange_weak(peak, now)) {
    }
    return block + kHeader;
}

// GCC sees free() reached from operator delete and takes it for a
// mismatch; here the pairing is by design.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpragmas"
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
[[gnu::noinline]] void countedFree(void* p) {
    if (!p) return;
    auto* block = static_cast<unsigned char*>(p) - kHeader;
    gInUse.fetch_sub(*reinterpret_cast<std::size_t*>(block));
    std::free(block);
}
#pragma GCC diagnostic pop
}  // namespace

void* operator new(std::size_t n) {
    if (void* p = countedAllocate(n)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n) {
    if (void* p = countedAllocate(n)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return countedAllocate(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return countedAllocate(n); }
void operator delete(void* p) noexcept { countedFree(p); }
void operator delete[](void* p) noexcept { countedFree(p); }
void operator delete(void* p, std::size_t) noexcept { countedFree(p); }
void operator delete[](void* p, std::size_t) noexcept { countedFree(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { countedFree(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { countedFree(p); }

namespace {

constexpr std::uint32_t kWidth = 6000;
constexpr std::uint32_t kHeight = 4000;

struct BenchFile {
    const char* label;
    std::filesystem::path path;
};

std::vector<BenchFile> gFiles;

std::uint32_t nextRandom(std::uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

void writeScan(const std::filesystem::path& path, bool lzw) {
    TIFF* tif = TIFFOpen(path.string().c_str(), "w");
    if (!tif) {
        std::fprintf(stderr, "cannot write %s\n", path.string().c_str());
        std::exit(1);
    }
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kWidth);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, kHeight);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 16);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, lzw ? COMPRESSION_LZW : COMPRESSION_NONE);
    if (lzw) TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
    std::vector<std::uint16_t> row(kWidth * 3);
    std::uint32_t state = 12345;
    for (std::uint32_t y = 0; y < kHeight; ++y) {
        for (std::uint32_t x = 0; x < kWidth; ++x) {
            // 24 x 16 patches of 250 x 250 pixels.
            const std::uint32_t patch = (y / 250) * 24 + x / 250;
            const double falloff = 1.0 - 0.1 * ((x - 3000.0) * (x - 3000.0) + (y - 2000.0) * (y - 2000.0)) / 13e6;
            for (std::uint32_t c = 0; c < 3; ++c) {
                const double base = 4000.0 + ((patch * (c * 7 + 3) * 2654435761u) >> 8) % 56000;
                const double noise = static_cast<double>(nextRandom(state) % 257) - 128.0;
                row[x * 3 + c] = static_cast<std::uint16_t>(base * falloff + noise);
            }
        }
        TIFFWriteScanline(tif, row.data(), y, 0);
    }
    TIFFClose(tif);
}

bool readWithOurs(const BenchFile& file);

void BM_OurReader(benchmark::State& state, const BenchFile* file) {
    for (auto _ : state)
        if (!readWithOurs(*file)) state.SkipWithError("our reader failed");
}

// Reads every strip into one raster buffer; false on failure.
bool readWithLibtiff(const BenchFile& file) {
    TIFF* tif = TIFFOpen(file.path.string().c_str(), "r");
    if (!tif) return false;
    const tmsize_t stripSize = TIFFStripSize(tif);
    const std::uint32_t strips = TIFFNumberOfStrips(tif);
    auto* raster = static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(stripSize) * strips));
    bool ok = raster != nullptr;
    tmsize_t at = 0;
    for (std::uint32_t s = 0; ok && s < strips; ++s) {
        const tmsize_t got = TIFFReadEncodedStrip(tif, s, raster + at, stripSize);
        ok = got >= 0;
        at += got;
    }
    benchmark::DoNotOptimize(raster);
    std::free(raster);
    TIFFClose(tif);
    return ok;
}

bool readWithOurs(const BenchFile& file) {
    calivant::TargetImage image;
    const bool ok = calivant::readTiffImage(file.path, image) == 0;
    benchmark::DoNotOptimize(image.rows.data());
    return ok;
}

void BM_Libtiff(benchmark::State& state, const BenchFile* file) {
    for (auto _ : state)
        if (!readWithLibtiff(*file)) state.SkipWithError("libtiff failed");
}

struct Seconds {
    double wall;
    double cpu;
};

// Wall and process CPU time (user and system, so page faults count).
Seconds timeOf(bool (*read)(const BenchFile&), const BenchFile& file) {
    timespec cpu0{}, cpu1{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu0);
    const auto wall0 = std::chrono::steady_clock::now();
    if (!read(file)) std::fprintf(stderr, "read of %s failed\n", file.label);
    const auto wall1 = std::chrono::steady_clock::now();
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu1);
    return {std::chrono::duration<double>(wall1 - wall0).count(),
            static_cast<double>(cpu1.tv_sec - cpu0.tv_sec) + 1e-9 * static_cast<double>(cpu1.tv_nsec - cpu0.tv_nsec)};
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Our time over libtiff's, as the median of rounds that read the file with
// each in turn: on a shared machine the load drifts, and a ratio taken
// within one round sees the same load on both sides.
void printRatios() {
    constexpr int kRounds = 7;
    std::printf("\nOur time / libtiff's time, median of %d alternating rounds (target: at most 1.00):\n", kRounds);
    for (const BenchFile& f : gFiles) {
        std::vector<double> wall, cpu;
        for (int round = 0; round < kRounds; ++round) {
            const Seconds ours = timeOf(readWithOurs, f);
            const Seconds theirs = timeOf(readWithLibtiff, f);
            wall.push_back(ours.wall / theirs.wall);
            cpu.push_back(ours.cpu / theirs.cpu);
        }
        std::printf("  %-14s wall %.2f   cpu %.2f\n", f.label, median(wall), median(cpu));
    }
}

void printPeakMemory(const BenchFile& file) {
    calivant::TargetImage image;
    gPeak.store(gInUse.load());
    const std::size_t before = gInUse.load();
    if (calivant::readTiffImage(file.path, image) != 0) {
        std::printf("%s: read failed\n", file.label);
        return;
    }
    const double raster = static_cast<double>(image.stride) * image.height;
    const double peak = static_cast<double>(gPeak.load() - before);
    const double target = 1.1 * raster + 16.0 * 1024 * 1024;
    std::printf("%-14s peak heap %.1f MB for a %.1f MB raster: %.4f x raster, %.2f MB over it (target below %.1f MB: %s)\n",
                file.label, peak / 1048576.0, raster / 1048576.0, peak / raster, (peak - raster) / 1048576.0,
                target / 1048576.0, peak < target ? "met" : "MISSED");
}

}  // namespace

int main(int argc, char** argv) {
    TIFFSetWarningHandler(nullptr);
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "calivant-tiff-bench";
    std::filesystem::create_directories(folder);
    gFiles = {{"uncompressed", folder / "scan-uncompressed.tif"}, {"lzw+predictor", folder / "scan-lzw.tif"}};
    std::printf("Writing two %u x %u 48-bit scans with libtiff...\n", kWidth, kHeight);
    writeScan(gFiles[0].path, false);
    writeScan(gFiles[1].path, true);
    for (const BenchFile& f : gFiles)
        std::printf("  %s: %.1f MB\n", f.label, static_cast<double>(std::filesystem::file_size(f.path)) / 1048576.0);

    for (const BenchFile& f : gFiles) {
        benchmark::RegisterBenchmark((std::string("OurReader/") + f.label).c_str(), BM_OurReader, &f)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(3);
        benchmark::RegisterBenchmark((std::string("Libtiff/") + f.label).c_str(), BM_Libtiff, &f)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(3);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    printRatios();

    std::printf("\nPeak heap of one read:\n");
    for (const BenchFile& f : gFiles) printPeakMemory(f);

    std::filesystem::remove_all(folder);
    benchmark::Shutdown();
    return 0;
}
