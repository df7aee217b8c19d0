// Sorting 16 interleaved R, G, B pixels (48 bytes) into their three channels
// with SSE2 alone: four rounds of one perfect shuffle.
#pragma once

#if defined(__SSE2__)
#include <emmintrin.h>

// One round: bytes move so that four rounds leave the bytes of position 0, 1
// and 2 modulo 3 in a, b and c, in order.
inline void RgbUnzipRound(__m128i& a, __m128i& b, __m128i& c) {
    const __m128i na = _mm_unpacklo_epi8(a, _mm_unpackhi_epi64(b, b));
    const __m128i nb = _mm_unpacklo_epi8(_mm_unpackhi_epi64(a, a), c);
    const __m128i nc = _mm_unpacklo_epi8(b, _mm_unpackhi_epi64(c, c));
    a = na;
    b = nb;
    c = nc;
}

// a, b and c hold bytes 0-15, 16-31 and 32-47 of 16 pixels; afterwards the
// R, G and B samples.
inline void RgbUnzip16(__m128i& a, __m128i& b, __m128i& c) {
    for (int round = 0; round < 4; ++round) RgbUnzipRound(a, b, c);
}
#endif
