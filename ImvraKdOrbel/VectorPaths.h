// Which vector forms of the page loops this processor runs. The plain loops
// stay the reference; forcing the lower layer's portable paths (for tests and
// benchmarks) also selects the plain loops here.
#pragma once

#include "TvkIpError.h"

namespace Tvk::Imvra {

// 512-bit registers with byte permutes (table look-ups of 64 bytes a step).
inline bool UseByteShuffle512() {
    static const bool available = __builtin_cpu_supports("avx512f") &&
                                  __builtin_cpu_supports("avx512bw") &&
                                  __builtin_cpu_supports("avx512vbmi");
    return available && IsSSE2FeatureAvailable();
}

inline bool UseAvx2() {
    static const bool available = __builtin_cpu_supports("avx2");
    return available && IsSSE2FeatureAvailable();
}

} // namespace Tvk::Imvra

#define KD_TARGET_BYTE_SHUFFLE_512 __attribute__((target("avx512f,avx512bw,avx512vbmi")))
#define KD_TARGET_AVX2 __attribute__((target("avx2")))
