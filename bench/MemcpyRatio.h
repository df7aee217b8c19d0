// A kernel's time as a multiple of one memcpy of its input, both measured in
// the same rounds of the same program run: a figure that holds from one
// machine to the next and stays comparable while other programs share the
// machine, because a busy moment slows the copy beside the kernel too.
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

namespace kdbench {

// Copies of the pages of `pages` (one, or a ring larger than the processor's
// caches to copy from memory rather than cache) in turn, into buffers whose
// pages are already mapped, one copy per round of the kernel.
class InterleavedMemcpy {
public:
    InterleavedMemcpy(std::vector<const uint8_t*> pages, size_t bytes)
        : m_pages(std::move(pages)), m_bytes(bytes),
          m_dst(m_pages.size(), std::vector<uint8_t>(bytes, 1)) {}
    InterleavedMemcpy(const void* page, size_t bytes)
        : InterleavedMemcpy(std::vector<const uint8_t*>{static_cast<const uint8_t*>(page)},
                            bytes) {}

    // Called once in every round of the benchmark loop, after the kernel:
    // one memcpy of the next page, with the framework's clock paused.
    void interleave(benchmark::State& state) {
        state.PauseTiming();
        copyOnce();
        state.ResumeTiming();
    }

    // Times one memcpy of the next page of the ring.
    double copyOnce() {
        const size_t i = m_next;
        m_next = (m_next + 1) % m_pages.size();
        const auto t0 = std::chrono::steady_clock::now();
        std::memcpy(m_dst[i].data(), m_pages[i], m_bytes);
        benchmark::ClobberMemory();
        const auto t1 = std::chrono::steady_clock::now();
        const double s = std::chrono::duration<double>(t1 - t0).count();
        m_copy += s;
        ++m_rounds;
        return s;
    }

    // Mean seconds of the copies so far.
    double meanSeconds() const { return m_rounds > 0 ? m_copy / static_cast<double>(m_rounds) : 0; }

    // The counter "x_memcpy": time per iteration over the mean copy of the
    // same rounds.
    void report(benchmark::State& state) const {
        if (m_rounds == 0) return;
        state.counters["x_memcpy"] =
            benchmark::Counter(meanSeconds(), benchmark::Counter::kIsIterationInvariantRate |
                                                  benchmark::Counter::kInvert);
    }

private:
    std::vector<const uint8_t*> m_pages;
    size_t m_bytes;
    std::vector<std::vector<uint8_t>> m_dst;
    size_t m_next = 0;
    double m_copy = 0;
    int64_t m_rounds = 0;
};

} // namespace kdbench
