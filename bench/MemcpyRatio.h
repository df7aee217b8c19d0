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

// Seconds of one memcpy of a page: the pages of `pages` (one, or a ring
// larger than the processor's caches to copy from memory rather than cache)
// each copied in turn into buffers whose pages are already mapped, the best
// of a few rounds divided by the number of pages.
inline double MemcpyRingSeconds(const std::vector<const uint8_t*>& pages, size_t bytes) {
    std::vector<std::vector<uint8_t>> dst(pages.size(), std::vector<uint8_t>(bytes, 0));
    double best = 1e9;
    for (int round = 0; round < 7; ++round) {
        const auto t0 = std::chrono::steady_clock::now();
        for (size_t i = 0; i < pages.size(); ++i) std::memcpy(dst[i].data(), pages[i], bytes);
        benchmark::ClobberMemory();
        const auto t1 = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
    }
    return best / static_cast<double>(pages.size());
}

// Seconds of one memcpy of `bytes` from `src`.
inline double MemcpySeconds(const void* src, size_t bytes) {
    return MemcpyRingSeconds({static_cast<const uint8_t*>(src)}, bytes);
}

// Adds the counter "x_memcpy": time per iteration divided by the time of one
// memcpy of the input (measured now, as the benchmark starts).
inline void ReportMemcpyRatio(benchmark::State& state, double memcpySeconds) {
    state.counters["x_memcpy"] = benchmark::Counter(
        memcpySeconds, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

} // namespace kdbench
