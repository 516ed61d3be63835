#pragma once
// Timing helpers the benchmarks share: the process's processor time beside
// the wall clock, and the baseline every picture benchmark prints its times
// against (one pass over every sample of the picture).

#include <time.h>

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "image/target_image.h"

namespace calivant::bench {

// Processor time of the whole process, every thread's.
inline double processSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// Wall-clock seconds of one pass over every sample of the picture.
inline double onePassOverSamples(const TargetImage& image) {
    const auto start = std::chrono::steady_clock::now();
    std::uint64_t sum = 0;
    const std::size_t bytes = static_cast<std::size_t>(image.width) * (image.format == PixelFormat::Rgb48 ? 6 : 3);
    for (const std::uint8_t* row : image.rows)
        for (std::size_t i = 0; i < bytes; i += 2) sum += row[i] | (row[i + 1] << 8);
    volatile std::uint64_t keep = sum;
    (void)keep;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace calivant::bench
