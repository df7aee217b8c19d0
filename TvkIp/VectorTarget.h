// The function-level target of the AVX2 twins: the library is built for the
// SSE2 baseline, and each AVX2 function runs only after the run-time test
// (IsAVX2FeatureAvailable) said yes.
#pragma once

#if defined(__SSE2__)
#include <immintrin.h>
#define KD_AVX2 __attribute__((target("avx2")))
#endif
