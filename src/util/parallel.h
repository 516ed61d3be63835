#pragma once
// Work spread over the machine's cores: the calling thread and up to
// workers - 1 more. This is the program's one way to use several cores;
// everything that does so goes through runOnWorkers, directly or through
// the two shapes of work below.
//
// Work that must come out the same on any number of threads writes each
// result to a place of its own, chosen by the task's index and never by the
// thread that ran it.

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <thread>
#include <vector>

namespace calivant {

// Threads worth starting on this machine: at least 1.
inline unsigned coreCount() { return std::max(1u, std::thread::hardware_concurrency()); }

// Calls work(w) for w in 0 .. workers - 1 (w = 0 on the calling thread) and
// returns when every call has returned. work must not throw. A thread the
// system refuses is no error: its call runs on the calling thread instead.
template <class Work>
void runOnWorkers(unsigned workers, Work&& work) {
    std::vector<std::thread> threads;
    try {
        threads.reserve(workers > 1 ? workers - 1 : 0);
    } catch (const std::exception&) {
        // No room to track threads: everything on this one.
    }
    for (unsigned w = 1; w < workers; ++w) {
        bool started = false;
        if (threads.size() < threads.capacity()) {
            try {
                threads.emplace_back([&work, w] { work(w); });
                started = true;
            } catch (const std::exception&) {
                // Refused; runs here.
            }
        }
        if (!started) work(w);
    }
    work(0u);
    for (std::thread& t : threads) t.join();
}

// The workers to use for count pieces of work when asked for `requested`
// (0: one per core): never more than the pieces, at least 1.
inline unsigned workersFor(std::size_t count, unsigned requested) {
    const unsigned wanted = requested == 0 ? coreCount() : requested;
    return static_cast<unsigned>(std::max<std::size_t>(1, std::min<std::size_t>(wanted, count)));
}

// Splits [0, count) into `workers` contiguous ranges, the split fixed by
// count and workers alone, and calls range(first, last) for each on a worker
// of its own. For work of even cost per item (rows of a table or a picture).
template <class Range>
void runOnRanges(std::size_t count, unsigned workers, Range&& range) {
    if (count == 0) return;
    workers = workersFor(count, workers);
    runOnWorkers(workers, [&](unsigned w) {
        range(count * w / workers, count * (w + 1) / workers);
    });
}

// Calls task(i) for every i in [0, count), each worker taking the next
// index as it becomes free. For pieces of uneven cost (the folds of a
// cross-validation, the patches of a chart).
template <class Task>
void runEachIndex(std::size_t count, unsigned workers, Task&& task) {
    if (count == 0) return;
    std::atomic<std::size_t> next{0};
    runOnWorkers(workersFor(count, workers), [&](unsigned) {
        for (std::size_t i = next++; i < count; i = next++) task(i);
    });
}

}  // namespace calivant
