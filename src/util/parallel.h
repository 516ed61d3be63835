#pragma once
// Work spread over the machine's cores: the calling thread and up to
// workers - 1 more, each calling work(worker) once. Work that must come out
// the same on any number of threads writes each result to a place of its
// own, chosen by the task's index and never by the thread that ran it.

#include <algorithm>
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

}  // namespace calivant
