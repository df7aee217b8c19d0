// A kernel's time as a multiple of one memcpy of its input, measured in the
// same program run: a figure that holds from one machine to the next and
// stays comparable while other programs share the machine.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace kdbench {

// Seconds of one memcpy of `bytes` from `src`: the best of a few copies into
// a buffer whose pages are already mapped.
inline double MemcpySeconds(const void* src, size_t bytes) {
    static std::vector<uint8_t> dst;
    if (dst.size() < bytes) dst.assign(bytes, 0);
    double best = 1e9;
    for (int i = 0; i < 7; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        std::memcpy(dst.data(), src, bytes);
        benchmark::ClobberMemory();
        const auto t1 = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
    }
    benchmark::DoNotOptimize(dst.data());
    return best;
}

// Seconds of one memcpy of a page from memory rather than cache: the pages of
// a ring larger than the processor's caches, each copied in turn, the best
// of a few rounds divided by the number of pages.
inline double MemcpyRingSeconds(const std::vector<const uint8_t*>& pages, size_t bytes) {
    std::vector<std::vector<uint8_t>> dst(pages.size(), std::vector<uint8_t>(bytes, 0));
    double best = 1e9;
    for (int round = 0; round < 4; ++round) {
        const auto t0 = std::chrono::steady_clock::now();
        for (size_t i = 0; i < pages.size(); ++i) std::memcpy(dst[i].data(), pages[i], bytes);
        benchmark::ClobberMemory();
        const auto t1 = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
    }
    return best / static_cast<double>(pages.size());
}

// Adds the counter "x_memcpy": time per iteration divided by the time of one
// memcpy of the input (measured now, as the benchmark starts).
inline void ReportMemcpyRatio(benchmark::State& state, double memcpySeconds) {
    state.counters["x_memcpy"] = benchmark::Counter(
        memcpySeconds, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

} // namespace kdbench
