// The function-level target of the AVX2 twins: the library is built for the
// SSE2 baseline, and each AVX2 function runs only after the run-time test
// (IsAVX2FeatureAvailable) said yes. Also the line copy of the kernels'
// windows.
#pragma once

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <immintrin.h>
#define KD_AVX2 __attribute__((target("avx2")))
#endif

// A line into a kernel's window. Lines of a page are a few kilobytes, where
// the C library's string copy starts slowly on some processors; plain vector
// moves keep pace with the kernels.
inline void WindowCopy(uint8_t* __restrict to, const uint8_t* __restrict from, int32_t n) {
    int32_t i = 0;
#if defined(__SSE2__)
    for (; i + 64 <= n; i += 64) {
        for (int32_t k = 0; k < 64; k += 16) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i + k),
                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i + k)));
        }
    }
#endif
    std::memcpy(to + i, from + i, static_cast<size_t>(n - i));
}

// Asks for the cache lines of the `bytes` bytes `ahead` bytes past p, due
// soon (a line or two ahead): the kernels read a line faster than the memory
// delivers it unasked. Only a hint, which never faults: the address is
// formed as an integer, so it may lie beyond the image.
inline void PrefetchAhead(const uint8_t* p, int64_t ahead, int64_t bytes) {
    const uintptr_t at = reinterpret_cast<uintptr_t>(p) + static_cast<uintptr_t>(ahead);
    for (int64_t i = 0; i < bytes; i += 64)
        __builtin_prefetch(reinterpret_cast<const void*>(at + static_cast<uintptr_t>(i)));
}
