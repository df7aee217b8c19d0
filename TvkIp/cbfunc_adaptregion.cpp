// Adaptive-region binarisation (kind 8): the image is cut into 8 x 8 blocks
// at a pitch of 4; each block is classified by contrast and activity, the
// class map is cleaned, each block gets a slice level by class, the levels
// are interpolated to one threshold per pixel and the pixels (from the
// source or a smoothed copy, by class) are compared with it. Also holds the
// class-map clean-up and the 1-2-1 smoothing filter, and the block
// statistics shared with the edge-extracting kind.
#include "AdaptRegionCore.h"
#include "BitPack.h"
#include "CBFuncKinds.h"

#include "TvkIpError.h"
#include "VectorTarget.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace {

template <typename T> std::unique_ptr<T[]> NewArray(size_t n, bool zero = false) {
    return std::unique_ptr<T[]>(zero ? new (std::nothrow) T[n]() : new (std::nothrow) T[n]);
}

inline int32_t AbsDiff(int32_t a, int32_t b) {
    return a > b ? a - b : b - a;
}

#if defined(__SSE2__)
// mask ? a : b, lane by lane (mask lanes all ones or all zeros).
inline __m128i Select(__m128i mask, __m128i a, __m128i b) {
    return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
}
#endif

} // namespace

// ---------------------------------------------------------------------------
// Parameters

int64_t GetLinearY(int64_t x, int64_t x1, int64_t y1, int64_t x2, int64_t y2) {
    if (x1 == x2 || y1 == y2) return y1;
    // Each division truncates on its own, as the levels were always computed.
    return y1 - (x1 * (y2 - y1)) / (x2 - x1) + ((y2 - y1) * x) / (x2 - x1);
}

AdaptParams MakeAdaptParams(int32_t firstSlice, int32_t nextSlice) {
    AdaptParams p{};
    // 64-bit: the record's levels are not clamped and may be any 32-bit value.
    const int64_t u = 255 - int64_t{nextSlice};
    const int64_t v = 255 - int64_t{firstSlice};
    if (u > 128) {
        p.A = static_cast<uint32_t>(GetLinearY(u, 128, 120, 255, 350));
        p.B = static_cast<uint32_t>(GetLinearY(u, 128, 55, 255, 300));
        p.C = static_cast<uint32_t>(GetLinearY(u, 128, 60, 255, 300));
    } else {
        p.A = static_cast<uint32_t>(GetLinearY(u, 1, 1, 128, 120));
        p.B = static_cast<uint32_t>(GetLinearY(u, 1, 1, 128, 55));
        p.C = static_cast<uint32_t>(GetLinearY(u, 1, 1, 128, 60));
    }
    if (v > 128) {
        p.D = static_cast<uint32_t>(GetLinearY(v, 128, 80, 255, 255));
        p.E = static_cast<uint32_t>(GetLinearY(v, 128, 60, 255, 255));
    } else {
        p.D = static_cast<uint32_t>(GetLinearY(v, 1, 1, 128, 80));
        p.E = static_cast<uint32_t>(GetLinearY(v, 1, 1, 128, 60));
    }
    p.T = 100;
    return p;
}

// ---------------------------------------------------------------------------
// Block statistics

namespace AdaptRegionBin {

void IntegralGetBlockInfo(const uint8_t* top, int32_t sync, int32_t width, int32_t count,
                          uint16_t* G, uint16_t* V, uint8_t* M) {
    for (int32_t i = 0; i < count; ++i) {
        const uint8_t* b = top + 4 * i;
        int32_t q[2][2] = {{0, 0}, {0, 0}};
        int32_t act = 0, mx = 0, mn = 255;
        for (int32_t y = 0; y < 8; ++y) {
            const uint8_t* r = b + int64_t{y} * sync;
            for (int32_t x = 0; x < 8; ++x) {
                const int32_t v = r[x];
                q[y >> 2][x >> 2] += v;
                mx = std::max(mx, v);
                mn = std::min(mn, v);
                if (x < 7) act += AbsDiff(r[x + 1], v);
                if (y < 7) act += AbsDiff(r[x + sync], v);
            }
        }
        const int32_t g = std::abs((q[0][0] + q[0][1]) - (q[1][0] + q[1][1])) +
                          std::abs((q[0][0] + q[1][0]) - (q[0][1] + q[1][1]));
        G[i] = static_cast<uint16_t>(g);
        V[i] = static_cast<uint16_t>(act);
        M[i] = static_cast<uint8_t>((mx + mn) / 2);
    }
}

namespace {

// Statistics of one 4-pixel-wide cell over the 8 rows of a block row; a
// block is two neighbouring cells.
struct CellInfo {
    uint32_t sumTop, sumBottom; // pixel sums of rows 0-3 and 4-7
    uint32_t hIn;               // |right - left| of the 3 pairs inside the cell, 8 rows
    uint32_t hCross;            // |right - left| of the pair into the next cell, 8 rows
    uint32_t vIn;               // |lower - upper| of the 7 row pairs, 4 columns
    uint8_t mx, mn;
};

void CellInfoScalar(const uint8_t* top, int32_t sync, int32_t width, int32_t c, CellInfo& out) {
    out = CellInfo{0, 0, 0, 0, 0, 0, 255};
    const int32_t x0 = 4 * c;
    for (int32_t y = 0; y < 8; ++y) {
        const uint8_t* r = top + int64_t{y} * sync;
        for (int32_t x = x0; x < x0 + 4; ++x) {
            const int32_t v = r[x];
            (y < 4 ? out.sumTop : out.sumBottom) += static_cast<uint32_t>(v);
            out.mx = static_cast<uint8_t>(std::max<int32_t>(out.mx, v));
            out.mn = static_cast<uint8_t>(std::min<int32_t>(out.mn, v));
            if (y < 7) out.vIn += static_cast<uint32_t>(AbsDiff(r[x + sync], v));
            if (x < x0 + 3)
                out.hIn += static_cast<uint32_t>(AbsDiff(r[x + 1], v));
            else if (x + 1 < width)
                out.hCross += static_cast<uint32_t>(AbsDiff(r[x + 1], v));
        }
    }
}

inline void CombineBlock(const CellInfo& l, const CellInfo& r, uint16_t& G, uint16_t& V,
                         uint8_t& M) {
    const int32_t q00 = static_cast<int32_t>(l.sumTop), q01 = static_cast<int32_t>(r.sumTop);
    const int32_t q10 = static_cast<int32_t>(l.sumBottom), q11 = static_cast<int32_t>(r.sumBottom);
    G = static_cast<uint16_t>(std::abs((q00 + q01) - (q10 + q11)) +
                              std::abs((q00 + q10) - (q01 + q11)));
    V = static_cast<uint16_t>(l.hIn + l.hCross + r.hIn + l.vIn + r.vIn);
    M = static_cast<uint8_t>((std::max(l.mx, r.mx) + std::min(l.mn, r.mn)) / 2);
}

#if defined(__SSE2__)
// Max and min of each group of four bytes, as 32-bit lanes.
inline void GroupMaxMin(__m128i& mx, __m128i& mn) {
    const __m128i low = _mm_set1_epi32(0xFF);
    mx = _mm_max_epu8(mx, _mm_srli_epi32(mx, 8));
    mx = _mm_and_si128(_mm_max_epu8(mx, _mm_srli_epi32(mx, 16)), low);
    mn = _mm_min_epu8(mn, _mm_srli_epi32(mn, 8));
    mn = _mm_and_si128(_mm_min_epu8(mn, _mm_srli_epi32(mn, 16)), low);
}
// GroupMaxMin of the 16 columns from p over `lines` lines.
inline void GroupMaxMinOfLines(const uint8_t* p, int32_t sync, int32_t lines, __m128i& mx,
                               __m128i& mn) {
    mx = _mm_setzero_si128();
    mn = _mm_set1_epi8(static_cast<char>(0xFF));
    for (int32_t y = 0; y < lines; ++y) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + int64_t{y} * sync));
        mx = _mm_max_epu8(mx, v);
        mn = _mm_min_epu8(mn, v);
    }
    GroupMaxMin(mx, mn);
}
KD_AVX2 inline void GroupMaxMin(__m256i& mx, __m256i& mn) {
    const __m256i low = _mm256_set1_epi32(0xFF);
    mx = _mm256_max_epu8(mx, _mm256_srli_epi32(mx, 8));
    mx = _mm256_and_si256(_mm256_max_epu8(mx, _mm256_srli_epi32(mx, 16)), low);
    mn = _mm256_min_epu8(mn, _mm256_srli_epi32(mn, 8));
    mn = _mm256_and_si256(_mm256_min_epu8(mn, _mm256_srli_epi32(mn, 16)), low);
}

inline __m128i AbsDiff8(__m128i a, __m128i b) {
    return _mm_or_si128(_mm_subs_epu8(a, b), _mm_subs_epu8(b, a));
}
inline void Accumulate16(__m128i& lo, __m128i& hi, __m128i v) {
    const __m128i zero = _mm_setzero_si128();
    lo = _mm_add_epi16(lo, _mm_unpacklo_epi8(v, zero));
    hi = _mm_add_epi16(hi, _mm_unpackhi_epi8(v, zero));
}
// Sums of neighbouring 32-bit lanes: [a0 + a1, a2 + a3, b0 + b1, b2 + b3].
inline __m128i PairSums32(__m128i a, __m128i b) {
    const __m128 fa = _mm_castsi128_ps(a), fb = _mm_castsi128_ps(b);
    const __m128i even = _mm_castps_si128(_mm_shuffle_ps(fa, fb, _MM_SHUFFLE(2, 0, 2, 0)));
    const __m128i odd = _mm_castps_si128(_mm_shuffle_ps(fa, fb, _MM_SHUFFLE(3, 1, 3, 1)));
    return _mm_add_epi32(even, odd);
}
// The four cells' sums of the 16-bit lanes lo (cells 0, 1) and hi (cells 2,
// 3), each lane weighted, as 32-bit lanes.
inline __m128i CellSums4(__m128i lo, __m128i hi, __m128i weights) {
    return PairSums32(_mm_madd_epi16(lo, weights), _mm_madd_epi16(hi, weights));
}

// Statistics of cells in 32-bit lanes, one array per field, cell c at [c].
struct CellArrays {
    uint32_t *sumTop, *sumBottom, *hIn, *hCross, *vIn, *mx, *mn;
    void Put(int32_t c, const CellInfo& i) const {
        sumTop[c] = i.sumTop;
        sumBottom[c] = i.sumBottom;
        hIn[c] = i.hIn;
        hCross[c] = i.hCross;
        vIn[c] = i.vIn;
        mx[c] = i.mx;
        mn[c] = i.mn;
    }
    CellInfo Get(int32_t c) const {
        return CellInfo{sumTop[c],
                        sumBottom[c],
                        hIn[c],
                        hCross[c],
                        vIn[c],
                        static_cast<uint8_t>(mx[c]),
                        static_cast<uint8_t>(mn[c])};
    }
};

inline void Store4(uint32_t* p, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}
inline __m128i Load4(const uint32_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Four cells (16 columns from x) over 8 rows into cells c .. c + 3 of out;
// columns x .. x + 16 readable.
void CellInfo4(const uint8_t* top, int32_t sync, int32_t x, const CellArrays& out, int32_t c) {
    __m128i sTl = _mm_setzero_si128(), sTh = sTl, sBl = sTl, sBh = sTl;
    __m128i hl = sTl, hh = sTl, vl = sTl, vh = sTl;
    __m128i mx = sTl, mn = _mm_set1_epi8(static_cast<char>(0xFF));
    const uint8_t* p = top + x;
    __m128i prev = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    for (int32_t y = 0; y < 8; ++y) {
        const uint8_t* r = p + int64_t{y} * sync;
        const __m128i cur = y == 0 ? prev : _mm_loadu_si128(reinterpret_cast<const __m128i*>(r));
        const __m128i right = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + 1));
        if (y < 4)
            Accumulate16(sTl, sTh, cur);
        else
            Accumulate16(sBl, sBh, cur);
        Accumulate16(hl, hh, AbsDiff8(cur, right));
        if (y > 0) Accumulate16(vl, vh, AbsDiff8(cur, prev));
        mx = _mm_max_epu8(mx, cur);
        mn = _mm_min_epu8(mn, cur);
        prev = cur;
    }
    const __m128i ones = _mm_set1_epi16(1);
    Store4(out.sumTop + c, CellSums4(sTl, sTh, ones));
    Store4(out.sumBottom + c, CellSums4(sBl, sBh, ones));
    Store4(out.hIn + c, CellSums4(hl, hh, _mm_setr_epi16(1, 1, 1, 0, 1, 1, 1, 0)));
    Store4(out.hCross + c, CellSums4(hl, hh, _mm_setr_epi16(0, 0, 0, 1, 0, 0, 0, 1)));
    Store4(out.vIn + c, CellSums4(vl, vh, ones));
    GroupMaxMin(mx, mn);
    Store4(out.mx + c, mx);
    Store4(out.mn + c, mn);
}

// The AVX2 twin of CellInfo4: eight cells (32 columns from x, columns x ..
// x + 32 readable) into cells c .. c + 7. Unpacking within 128-bit lanes
// puts cells 0, 1, 4, 5 in the low and 2, 3, 6, 7 in the high lanes; the
// in-lane pair sums bring them back in order.
KD_AVX2 inline void Accumulate16x2(__m256i& lo, __m256i& hi, __m256i v) {
    const __m256i zero = _mm256_setzero_si256();
    lo = _mm256_add_epi16(lo, _mm256_unpacklo_epi8(v, zero));
    hi = _mm256_add_epi16(hi, _mm256_unpackhi_epi8(v, zero));
}
KD_AVX2 inline __m256i AbsDiff8x2(__m256i a, __m256i b) {
    return _mm256_or_si256(_mm256_subs_epu8(a, b), _mm256_subs_epu8(b, a));
}
KD_AVX2 inline __m256i CellSums8(__m256i lo, __m256i hi, __m256i weights) {
    const __m256 a = _mm256_castsi256_ps(_mm256_madd_epi16(lo, weights));
    const __m256 b = _mm256_castsi256_ps(_mm256_madd_epi16(hi, weights));
    return _mm256_add_epi32(_mm256_castps_si256(_mm256_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0))),
                            _mm256_castps_si256(_mm256_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1))));
}
KD_AVX2 inline void Store8(uint32_t* p, __m256i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

KD_AVX2 void CellInfo8(const uint8_t* top, int32_t sync, int32_t x, const CellArrays& out,
                       int32_t c) {
    __m256i sTl = _mm256_setzero_si256(), sTh = sTl, sBl = sTl, sBh = sTl;
    __m256i hl = sTl, hh = sTl, vl = sTl, vh = sTl;
    __m256i mx = sTl, mn = _mm256_set1_epi8(static_cast<char>(0xFF));
    const uint8_t* p = top + x;
    __m256i prev = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    for (int32_t y = 0; y < 8; ++y) {
        const uint8_t* r = p + int64_t{y} * sync;
        const __m256i cur = y == 0 ? prev : _mm256_loadu_si256(reinterpret_cast<const __m256i*>(r));
        const __m256i right = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(r + 1));
        if (y < 4)
            Accumulate16x2(sTl, sTh, cur);
        else
            Accumulate16x2(sBl, sBh, cur);
        Accumulate16x2(hl, hh, AbsDiff8x2(cur, right));
        if (y > 0) Accumulate16x2(vl, vh, AbsDiff8x2(cur, prev));
        mx = _mm256_max_epu8(mx, cur);
        mn = _mm256_min_epu8(mn, cur);
        prev = cur;
    }
    const __m256i ones = _mm256_set1_epi16(1);
    Store8(out.sumTop + c, CellSums8(sTl, sTh, ones));
    Store8(out.sumBottom + c, CellSums8(sBl, sBh, ones));
    Store8(out.hIn + c,
           CellSums8(hl, hh, _mm256_setr_epi16(1, 1, 1, 0, 1, 1, 1, 0, 1, 1, 1, 0, 1, 1, 1, 0)));
    Store8(out.hCross + c,
           CellSums8(hl, hh, _mm256_setr_epi16(0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1)));
    Store8(out.vIn + c, CellSums8(vl, vh, ones));
    GroupMaxMin(mx, mn);
    Store8(out.mx + c, mx);
    Store8(out.mn + c, mn);
}

inline __m128i Abs32(__m128i v) {
    const __m128i sign = _mm_srai_epi32(v, 31);
    return _mm_sub_epi32(_mm_xor_si128(v, sign), sign);
}

// Blocks i .. i + 3 from cells i .. i + 4, as CombineBlock computes them.
// G and V stay below 2^15, so the signed pack keeps them.
void CombineBlocks4(const CellArrays& c, int32_t i, uint16_t* G, uint16_t* V, uint8_t* M) {
    const __m128i q00 = Load4(c.sumTop + i), q01 = Load4(c.sumTop + i + 1);
    const __m128i q10 = Load4(c.sumBottom + i), q11 = Load4(c.sumBottom + i + 1);
    const __m128i g =
        _mm_add_epi32(Abs32(_mm_sub_epi32(_mm_add_epi32(q00, q01), _mm_add_epi32(q10, q11))),
                      Abs32(_mm_sub_epi32(_mm_add_epi32(q00, q10), _mm_add_epi32(q01, q11))));
    const __m128i v = _mm_add_epi32(
        _mm_add_epi32(_mm_add_epi32(Load4(c.hIn + i), Load4(c.hCross + i)), Load4(c.hIn + i + 1)),
        _mm_add_epi32(Load4(c.vIn + i), Load4(c.vIn + i + 1)));
    const __m128i m =
        _mm_srli_epi32(_mm_add_epi32(_mm_max_epu8(Load4(c.mx + i), Load4(c.mx + i + 1)),
                                     _mm_min_epu8(Load4(c.mn + i), Load4(c.mn + i + 1))),
                       1);
    const __m128i gv = _mm_packs_epi32(g, v);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(G + i), gv);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(V + i), _mm_srli_si128(gv, 8));
    const __m128i m8 = _mm_packus_epi16(_mm_packs_epi32(m, m), _mm_setzero_si128());
    const int32_t bytes = _mm_cvtsi128_si32(m8);
    std::memcpy(M + i, &bytes, 4);
}

#endif

} // namespace

void GetBlockInfo(const uint8_t* top, int32_t sync, int32_t width, int32_t count, uint16_t* G,
                  uint16_t* V, uint8_t* M) {
#if defined(__SSE2__)
    // Cells 0 .. count, four at a time where 17 columns are readable; block
    // i joins cells i and i + 1, four at a time where cell i + 4 exists.
    const int32_t cells = count + 1;
    auto store = NewArray<uint32_t>(7 * static_cast<size_t>(cells));
    if (!store) return IntegralGetBlockInfo(top, sync, width, count, G, V, M);
    uint32_t* a = store.get();
    const CellArrays arr{a,
                         a + cells,
                         a + 2 * static_cast<size_t>(cells),
                         a + 3 * static_cast<size_t>(cells),
                         a + 4 * static_cast<size_t>(cells),
                         a + 5 * static_cast<size_t>(cells),
                         a + 6 * static_cast<size_t>(cells)};
    int32_t c = 0;
    if (IsAVX2FeatureAvailable())
        for (; c + 8 <= cells && 4 * c + 33 <= width; c += 8) CellInfo8(top, sync, 4 * c, arr, c);
    for (; c + 4 <= cells && 4 * c + 17 <= width; c += 4) CellInfo4(top, sync, 4 * c, arr, c);
    for (; c < cells; ++c) {
        CellInfo one;
        CellInfoScalar(top, sync, width, c, one);
        arr.Put(c, one);
    }
    int32_t i = 0;
    for (; i + 5 <= cells; i += 4) CombineBlocks4(arr, i, G, V, M);
    for (; i < count; ++i) CombineBlock(arr.Get(i), arr.Get(i + 1), G[i], V[i], M[i]);
#else
    IntegralGetBlockInfo(top, sync, width, count, G, V, M);
#endif
}

void IntegralGetMaxMinBand(const uint8_t* top, int32_t sync, int32_t width, int32_t count,
                           uint8_t* M) {
    for (int32_t i = 0; i < count; ++i) {
        int32_t mx = 0, mn = 255;
        for (int32_t y = 0; y < 8; ++y) {
            const uint8_t* r = top + int64_t{y} * sync + 4 * i;
            for (int32_t x = 0; x < 8; ++x) {
                mx = std::max<int32_t>(mx, r[x]);
                mn = std::min<int32_t>(mn, r[x]);
            }
        }
        M[i] = static_cast<uint8_t>((mx + mn) / 2);
    }
}

void GetMaxMinBand(const uint8_t* top, int32_t sync, int32_t width, int32_t count, uint8_t* M) {
#if defined(__SSE2__)
    // Cells c .. c + 3 (16 columns) a step, each max and min in the low byte
    // of a 32-bit lane; the blocks of a step are finished by the next one,
    // which holds their right cell.
    __m128i prevMx = _mm_setzero_si128(), prevMn = prevMx;
    int32_t c = 0;
    for (; 4 * c + 16 <= width && c + 4 <= count + 1; c += 4) {
        __m128i mx, mn;
        GroupMaxMinOfLines(top + 4 * c, sync, 8, mx, mn);
        if (c > 0) {
            const __m128i rMx = _mm_or_si128(_mm_srli_si128(prevMx, 4), _mm_slli_si128(mx, 12));
            const __m128i rMn = _mm_or_si128(_mm_srli_si128(prevMn, 4), _mm_slli_si128(mn, 12));
            const __m128i m = _mm_srli_epi32(
                _mm_add_epi32(_mm_max_epu8(prevMx, rMx), _mm_min_epu8(prevMn, rMn)), 1);
            const __m128i m8 = _mm_packus_epi16(_mm_packs_epi32(m, m), _mm_setzero_si128());
            const int32_t bytes = _mm_cvtsi128_si32(m8);
            std::memcpy(M + c - 4, &bytes, 4);
        }
        prevMx = mx;
        prevMn = mn;
    }
    // Blocks from the last step on, each from its own pixels.
    const int32_t done = c > 0 ? c - 4 : 0;
    IntegralGetMaxMinBand(top + 4 * done, sync, width - 4 * done, count - done, M + done);
#else
    IntegralGetMaxMinBand(top, sync, width, count, M);
#endif
}

} // namespace AdaptRegionBin

// ---------------------------------------------------------------------------
// Threshold lines and binary rows

namespace Hokan {

namespace {
#if defined(__SSE2__)
// Eight sample gaps at once: the 32 pixels s0, (2 s0 + s1) / 3,
// (s0 + 2 s1) / 3, s1 of samples[l], samples[l + 1], l = 0..7. The division
// by 3 is a multiply: (v * 43691) >> 17 is v / 3 for every v below 2^16.
void HokanThirds8(uint8_t* out, const uint8_t* samples) {
    const __m128i zero = _mm_setzero_si128(), third = _mm_set1_epi16(static_cast<short>(43691));
    const __m128i a = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(samples)), zero);
    const __m128i b =
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(samples + 1)), zero);
    const __m128i t1 = _mm_srli_epi16(_mm_mulhi_epu16(_mm_add_epi16(_mm_add_epi16(a, a), b), third), 1);
    const __m128i t2 = _mm_srli_epi16(_mm_mulhi_epu16(_mm_add_epi16(_mm_add_epi16(b, b), a), third), 1);
    const __m128i first = _mm_unpacklo_epi8(_mm_packus_epi16(a, a), _mm_packus_epi16(t1, t1));
    const __m128i second = _mm_unpacklo_epi8(_mm_packus_epi16(t2, t2), _mm_packus_epi16(b, b));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi16(first, second));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_unpackhi_epi16(first, second));
}
#endif
} // namespace

void Hokan(uint8_t* line, int32_t dstWidth, const uint8_t* samples, int32_t offset, int32_t count) {
    if (dstWidth <= 0) return;
    if (count <= 0) {
        std::memset(line, 128, static_cast<size_t>(dstWidth));
        return;
    }
    const int32_t n = std::min(count, (dstWidth + 2) / 4) - 1;
    if (n <= 0) {
        std::memset(line, samples[0], static_cast<size_t>(dstWidth));
        return;
    }
    const int32_t head = std::min(offset, dstWidth);
    std::memset(line, samples[0], static_cast<size_t>(head));
    int32_t l = 0;
#if defined(__SSE2__)
    if (IsSSE2FeatureAvailable() && offset >= 0)
        for (; l + 8 <= n && int64_t{offset} + 4 * l + 32 <= dstWidth; l += 8)
            HokanThirds8(line + offset + 4 * l, samples + l);
#endif
    for (; l < n; ++l) {
        const int32_t s0 = samples[l], s1 = samples[l + 1];
        for (int32_t i = 0; i < 4; ++i) {
            const int64_t x = int64_t{offset} + 4 * l + i;
            if (x >= dstWidth) break;
            line[x] = static_cast<uint8_t>(((3 - i) * s0 + i * s1) / 3);
        }
    }
    for (int64_t x = int64_t{offset} + 4 * n; x < dstWidth; ++x) line[x] = samples[n];
}

namespace {
inline int32_t Avg(int32_t a, int32_t b) {
    return (a + b + 1) / 2;
}
inline int32_t PhaseThreshold(int32_t a, int32_t b, int phase) {
    switch (phase) {
    case 0:
        return a;
    case 1:
        return Avg(a, Avg(a, b));
    case 2:
        return Avg(a, b);
    case 3:
        return Avg(b, Avg(a, b));
    default:
        return 128;
    }
}
} // namespace

void IntegrityBinalise(uint8_t* dst, const uint8_t* pix, const uint8_t* a, const uint8_t* b,
                       int32_t width, int phase) {
    for (int32_t x = 0; x < width; ++x) {
        if (pix[x] >= PhaseThreshold(a[x], b[x], phase))
            BitPack::SetBit(dst, x);
        else
            BitPack::ClearBit(dst, x);
    }
}

void SSEBinalise(uint8_t* dst, const uint8_t* pix, const uint8_t* a, const uint8_t* b,
                 int32_t width, int phase) {
#if defined(__SSE2__)
    if (phase < 0 || phase > 3) {
        IntegrityBinalise(dst, pix, a, b, width, phase);
        return;
    }
    const auto threshold = [phase](__m128i va, __m128i vb) {
        switch (phase) {
        case 0:
            return va;
        case 1:
            return _mm_avg_epu8(va, _mm_avg_epu8(va, vb));
        case 2:
            return _mm_avg_epu8(va, vb);
        default:
            return _mm_avg_epu8(vb, _mm_avg_epu8(va, vb));
        }
    };
    int32_t x = 0;
    for (; x + 16 <= width; x += 16) {
        const __m128i t = threshold(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + x)),
                                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + x)));
        const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pix + x));
        const unsigned m =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(p, t), p)));
        BitPack::StoreMask16(dst + (x >> 3), m);
    }
    // Binalize8Pixels: one destination byte.
    for (; x + 8 <= width; x += 8) {
        const __m128i t = threshold(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a + x)),
                                    _mm_loadl_epi64(reinterpret_cast<const __m128i*>(b + x)));
        const __m128i p = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pix + x));
        const unsigned m =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(p, t), p)));
        dst[x >> 3] = BitPack::kReverseBits[m & 0xFF];
    }
    IntegrityBinalise(dst + (x >> 3), pix + x, a + x, b + x, width - x, phase);
#else
    IntegrityBinalise(dst, pix, a, b, width, phase);
#endif
}

void Binalise(uint8_t* dst, const uint8_t* pix, const uint8_t* a, const uint8_t* b, int32_t width,
              int phase) {
    if (IsSSE2FeatureAvailable())
        SSEBinalise(dst, pix, a, b, width, phase);
    else
        IntegrityBinalise(dst, pix, a, b, width, phase);
}

} // namespace Hokan

// ---------------------------------------------------------------------------
// 1-2-1 smoothing

namespace Filter {

void IntegrityLine121Filter(uint16_t* out, const uint8_t* s, int32_t width) {
    if (width <= 0) return;
    if (width == 1) {
        out[0] = static_cast<uint16_t>(4 * s[0]);
        return;
    }
    out[0] = static_cast<uint16_t>(3 * s[0] + s[1]);
    for (int32_t x = 1; x < width - 1; ++x)
        out[x] = static_cast<uint16_t>(s[x - 1] + 2 * s[x] + s[x + 1]);
    out[width - 1] = static_cast<uint16_t>(s[width - 2] + 3 * s[width - 1]);
}

void SSE2Line121Filter(uint16_t* out, const uint8_t* s, int32_t width) {
#if defined(__SSE2__)
    if (width < 32) {
        IntegrityLine121Filter(out, s, width);
        return;
    }
    const __m128i zero = _mm_setzero_si128();
    out[0] = static_cast<uint16_t>(3 * s[0] + s[1]);
    int32_t x = 1;
    for (; x + 16 < width; x += 16) {
        const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + x - 1));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + x));
        const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + x + 1));
        const __m128i lo =
            _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi8(l, zero), _mm_unpacklo_epi8(r, zero)),
                          _mm_slli_epi16(_mm_unpacklo_epi8(c, zero), 1));
        const __m128i hi =
            _mm_add_epi16(_mm_add_epi16(_mm_unpackhi_epi8(l, zero), _mm_unpackhi_epi8(r, zero)),
                          _mm_slli_epi16(_mm_unpackhi_epi8(c, zero), 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), lo);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x + 8), hi);
    }
    for (; x < width - 1; ++x) out[x] = static_cast<uint16_t>(s[x - 1] + 2 * s[x] + s[x + 1]);
    out[width - 1] = static_cast<uint16_t>(s[width - 2] + 3 * s[width - 1]);
#else
    IntegrityLine121Filter(out, s, width);
#endif
}

void IntegrityFilter121(uint8_t* out, const uint16_t* up, const uint16_t* mid, const uint16_t* down,
                        int32_t width) {
    for (int32_t x = 0; x < width; ++x)
        out[x] = static_cast<uint8_t>((up[x] + 2 * mid[x] + down[x]) >> 4);
}

void MMXFilter121(uint8_t* out, const uint16_t* up, const uint16_t* mid, const uint16_t* down,
                  int32_t width) {
#if defined(__SSE2__)
    int32_t x = 0;
    for (; x + 8 <= width; x += 8) {
        const __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i*>(up + x));
        const __m128i m = _mm_loadu_si128(reinterpret_cast<const __m128i*>(mid + x));
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(down + x));
        const __m128i sum = _mm_adds_epu16(_mm_adds_epu16(u, d), _mm_adds_epu16(m, m));
        const __m128i v = _mm_srli_epi16(sum, 4);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(v, v));
    }
    IntegrityFilter121(out + x, up + x, mid + x, down + x, width - x);
#else
    IntegrityFilter121(out, up, mid, down, width);
#endif
}

namespace {
// The vertical step's window of three line sums down h lines, in three
// slots: sums(slot, y) fills a slot with line y's sums, then row(y, up, mid,
// down) gets the slots of lines y - 1, y and y + 1 (the edge lines stand in
// for the missing ones). Line y + 1 is summed before row y.
template <typename Sums, typename Row> void RollWindow(int32_t h, Sums sums, Row row) {
    int prev = 0, cur = 0;
    sums(0, 0);
    for (int32_t y = 0; y < h; ++y) {
        int next = cur;
        if (y + 1 < h) {
            next = (cur + 1) % 3;
            if (next == prev) next = (next + 1) % 3;
            sums(next, y + 1);
        }
        row(y, prev, cur, next);
        prev = cur;
        cur = next;
    }
}
} // namespace

void FilterFunc(const ImagePlane& image) {
    FilterFunc(image, image);
}

void FilterFunc(const ImagePlane& out, const ImagePlane& image) {
    const int32_t w = image.width, h = image.height;
    if (w <= 0 || h <= 0) return;
    auto lines = NewArray<uint16_t>(3 * static_cast<size_t>(w));
    if (!lines) throw kIpErrNoMemory;
    const bool sse2 = IsSSE2FeatureAvailable();
    const auto horizontal = sse2 ? SSE2Line121Filter : IntegrityLine121Filter;
    const auto vertical = sse2 ? MMXFilter121 : IntegrityFilter121;
    uint16_t* buf[3] = {lines.get(), lines.get() + w, lines.get() + 2 * static_cast<size_t>(w)};
    // Row y + 1 is read before row y is written, so the filter works in place.
    RollWindow(
        h, [&](int slot, int32_t y) { horizontal(buf[slot], image.Line(y), w); },
        [&](int32_t y, int up, int mid, int down) {
            vertical(out.Line(y), buf[up], buf[mid], buf[down], w);
        });
}

} // namespace Filter

// ---------------------------------------------------------------------------
// Edge map clean-up

void XorImage(const ImagePlane& image, const ImagePlane& other) {
    const int32_t bytes = (image.width + 7) / 8;
    for (int32_t y = 0; y < image.height; ++y) {
        uint8_t* r = image.Line(y);
        const uint8_t* o = other.Line(y);
        for (int32_t i = 0; i < bytes; ++i) r[i] ^= o[i];
    }
}

namespace EdgeCorrection {

namespace {
// Rough bytes from..bytes - 1 of map row y, cell by cell.
void RoughBytes(uint8_t* row, const EdgeMap& edge, int32_t y, int32_t from, int32_t bytes) {
    for (int32_t i = from; i < bytes; ++i) {
        unsigned b = 0;
        for (int32_t k = 0; k < 8; ++k) {
            const int32_t x = 8 * i + k;
            unsigned bit = 0;
            if (x < edge.width) {
                const uint8_t code = edge.Get(x, y);
                bit = (code == kCodeBusyContrast || code == kCodeBusy) ? 0u : 1u;
            }
            b = (b << 1) | bit;
        }
        row[i] = static_cast<uint8_t>(b);
    }
}
} // namespace

void IntegrityEdgeInfoToRoughBin(const ImagePlane& rough, const EdgeMap& edge) {
    const int32_t bytes = (edge.width + 7) / 8;
    for (int32_t y = 0; y < edge.height; ++y) RoughBytes(rough.Line(y), edge, y, 0, bytes);
}

void MMXEdgeInfoToRoughBin(const ImagePlane& rough, const EdgeMap& edge) {
#if defined(__SSE2__)
    const __m128i low4 = _mm_set1_epi8(0x0F);
    const __m128i pick = _mm_set1_epi8(0x0D);
    const __m128i busy = _mm_set1_epi8(0x0C);
    const __m128i all = _mm_set1_epi8(static_cast<char>(0xFF));
    const int32_t bytes = (edge.width + 7) / 8;
    for (int32_t y = 0; y < edge.height; ++y) {
        uint8_t* row = rough.Line(y);
        const uint8_t* cells = edge.p + int64_t{y} * edge.sync;
        int32_t x = 0;
        // 32 cells (16 map bytes) make 4 rough bytes.
        for (; x + 32 <= edge.width; x += 32) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cells + x / 2));
            const __m128i hi = _mm_and_si128(_mm_srli_epi16(v, 4), low4);
            const __m128i lo = _mm_and_si128(v, low4);
            // Codes 12 and 14 are the ones with (code & 0xD) == 0xC.
            const __m128i setHi = _mm_xor_si128(_mm_cmpeq_epi8(_mm_and_si128(hi, pick), busy), all);
            const __m128i setLo = _mm_xor_si128(_mm_cmpeq_epi8(_mm_and_si128(lo, pick), busy), all);
            const unsigned m0 =
                static_cast<unsigned>(_mm_movemask_epi8(_mm_unpacklo_epi8(setHi, setLo)));
            const unsigned m1 =
                static_cast<unsigned>(_mm_movemask_epi8(_mm_unpackhi_epi8(setHi, setLo)));
            BitPack::StoreMask16(row + x / 8, m0);
            BitPack::StoreMask16(row + x / 8 + 2, m1);
        }
        RoughBytes(row, edge, y, x / 8, bytes);
    }
#else
    IntegrityEdgeInfoToRoughBin(rough, edge);
#endif
}

void EdgeInfoToRoughBin(const ImagePlane& rough, const EdgeMap& edge) {
    if (IsMMXFeatureAvailable())
        MMXEdgeInfoToRoughBin(rough, edge);
    else
        IntegrityEdgeInfoToRoughBin(rough, edge);
}

namespace {
// The code a cell takes when its rough bit changed: the matching code of
// the other group.
uint8_t FeedbackCode(uint8_t code) {
    switch (code) {
    case kCodeBusyContrast:
        return kCodeWeakEdge;
    case kCodeBusy:
        return kCodeFlat;
    case kCodeFlat:
        return kCodeBusy;
    case kCodeWeakEdge:
    case kCodeStrongEdge:
        return kCodeBusyContrast;
    default:
        return kCodeFlat;
    }
}

// Rough bits of the cells of a grid row into lane words (bit x % 64 of word
// x / 64), zero beyond the row.
void RoughLanes(uint64_t* words, const uint8_t* cells, int32_t width) {
    std::memset(words, 0, static_cast<size_t>((width + 63) / 64) * sizeof(uint64_t));
    int32_t x = 0;
#if defined(__SSE2__)
    const __m128i pick = _mm_set1_epi8(0x0D), busy = _mm_set1_epi8(0x0C);
    for (; x + 16 <= width; x += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cells + x));
        const auto bits = static_cast<uint64_t>(
            ~_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(v, pick), busy)) & 0xFFFF);
        words[x / 64] |= bits << (x % 64);
    }
#endif
    for (; x < width; ++x)
        if (cells[x] != kCodeBusyContrast && cells[x] != kCodeBusy)
            words[x / 64] |= uint64_t{1} << (x % 64);
}
} // namespace

void FeedbackRoughBinToEdgeInfo(EdgeMap& edge, const ImagePlane& rough) {
    for (int32_t y = 0; y < edge.height; ++y) {
        const uint8_t* r = rough.Line(y);
        for (int32_t x = 0; x < edge.width; ++x)
            if (BitPack::GetBit(r, x)) edge.Set(x, y, FeedbackCode(edge.Get(x, y)));
    }
}

} // namespace EdgeCorrection

namespace RunLenFilter {

namespace {

// The filter works on 64 lines at once: bit k of word t is pixel t of line
// k. Turning the image between passes becomes a bit transpose of 64 x 64
// blocks, and a run test is a few word operations per pixel.
constexpr int32_t kPad = 6; // words either side of a line: the longest run (4) and its ends

// Flips, in the lanes `lanes`, every run of `colour` (1 or 0) of at most n
// pixels with the other colour on both sides (so neither the first nor the
// last run of its line). x, y and hit are scratch lines with kPad words
// either side. True when a pixel flipped.
bool FlipShortRuns(uint64_t* b, int32_t len, int32_t n, uint64_t lanes, bool colour, uint64_t* x,
                   uint64_t* y, uint64_t* hit) {
    for (int32_t t = 1; t <= kPad; ++t) x[-t] = y[-t] = x[len - 1 + t] = y[len - 1 + t] = 0;
    for (int32_t t = 0; t < len; ++t) {
        x[t] = colour ? b[t] : ~b[t];
        y[t] = ~x[t];
        hit[t] = 0;
    }
    uint64_t any = 0;
    for (int32_t s = 0; s < len; ++s) {
        uint64_t run = y[s - 1] & x[s]; // runs of the colour starting at s
        for (int32_t l = 1; l <= n && run != 0; ++l) {
            if (l > 1) run &= x[s + l - 1];
            const uint64_t ends = run & y[s + l]; // ... exactly l long
            if (ends == 0) continue;
            for (int32_t o = 0; o < l; ++o) hit[s + o] |= ends;
            any |= ends;
        }
    }
    if ((any & lanes) == 0) return false;
    for (int32_t t = 0; t < len; ++t) b[t] ^= hit[t] & lanes;
    return true;
}

// Transposes a 64 x 64 bit block: bit c of m[r] goes to bit r of m[c].
void Transpose64(uint64_t* m) {
    uint64_t mask = 0x00000000FFFFFFFFull;
    for (int32_t j = 32; j != 0; j >>= 1, mask ^= mask << j) {
        for (int32_t k = 0; k < 64; k = ((k | j) + 1) & ~j) {
            const uint64_t t = ((m[k] >> j) ^ m[k | j]) & mask;
            m[k] ^= t << j;
            m[k | j] ^= t;
        }
    }
}

// The image in lane words, rows of `words` words (bit x % 64 of word x / 64
// is pixel x), and its transpose; zero beyond the image.
class LaneImage {
public:
    LaneImage(int32_t width, int32_t height)
        : width_(width), height_(height), w8_((width + 7) & ~7), h8_((height + 7) & ~7),
          wx_((w8_ + 63) / 64), wy_((h8_ + 63) / 64),
          line_(static_cast<size_t>(std::max(w8_, h8_)) + 2 * kPad) {}

    bool Make() {
        const size_t rows = static_cast<size_t>(wy_) * 64 * wx_;
        const size_t cols = static_cast<size_t>(wx_) * 64 * wy_;
        a_ = NewArray<uint64_t>(rows, true);
        t_ = NewArray<uint64_t>(cols, true);
        scratch_ = NewArray<uint64_t>(4 * line_, true);
        return a_ && t_ && scratch_;
    }
    uint64_t* Row(int32_t y) { return a_.get() + static_cast<size_t>(y) * wx_; }
    int32_t Words() const { return wx_; }

    // The quarter-turn passes of the filter, as the turned image gives them:
    // after the first column pass the lines run on over the white tails of
    // the turned image (rows to w8, columns to h8), which decide which run
    // is the last one of a line.
    void Filter() {
        for (int32_t n = 1; n <= 4; ++n) {
            candidates_ = false;
            Columns(n == 1 ? height_ : h8_, n);
            Rows(n);
            Columns(h8_, n);
            Rows(n);
            // No line of three runs or more: the image stays as it is, also
            // for the longer runs of the rounds to come.
            if (!candidates_) break;
        }
    }

private:
    static uint64_t LaneMask(int32_t first, int32_t end) {
        const int32_t count = std::clamp(end - first, 0, 64);
        return count == 64 ? ~uint64_t{0} : (uint64_t{1} << count) - 1;
    }
    // Lines of len pixels `stride` words apart from p, lanes `lanes`.
    void Lines(uint64_t* p, size_t stride, int32_t len, int32_t n, uint64_t lanes) {
        // Four scratch lines: the line, and x, y and hit with their pads.
        uint64_t* b = scratch_.get();
        uint64_t* x = b + line_ + kPad;
        uint64_t* y = x + line_;
        uint64_t* hit = y + line_;
        // A line changes only when it has three runs or more: lanes with
        // two colour changes at least.
        uint64_t once = 0, twice = 0;
        b[0] = p[0];
        for (int32_t t = 1; t < len; ++t) {
            b[t] = p[t * stride];
            const uint64_t change = b[t] ^ b[t - 1];
            twice |= once & change;
            once |= change;
        }
        if ((twice & lanes) == 0) return;
        candidates_ = true;
        const bool black = FlipShortRuns(b, len, n, lanes, true, x, y, hit);
        const bool white = FlipShortRuns(b, len, n, lanes, false, x, y, hit);
        if (black || white)
            for (int32_t t = 0; t < len; ++t) p[t * stride] = b[t];
    }
    void Columns(int32_t len, int32_t n) {
        for (int32_t k = 0; k < wx_; ++k) {
            const uint64_t lanes = LaneMask(64 * k, width_);
            if (lanes != 0) Lines(a_.get() + k, static_cast<size_t>(wx_), len, n, lanes);
        }
    }
    void Rows(int32_t n) {
        Turn(a_.get(), wx_, t_.get(), wy_, wy_, wx_);
        for (int32_t k = 0; k < wy_; ++k) {
            const uint64_t lanes = LaneMask(64 * k, height_);
            if (lanes != 0) Lines(t_.get() + k, static_cast<size_t>(wy_), w8_, n, lanes);
        }
        Turn(t_.get(), wy_, a_.get(), wx_, wx_, wy_);
    }
    // Block (by, bx) of from (rows of fromWords) to block (bx, by) of to.
    static void Turn(const uint64_t* from, int32_t fromWords, uint64_t* to, int32_t toWords,
                     int32_t blocksDown, int32_t blocksAcross) {
        uint64_t m[64];
        for (int32_t by = 0; by < blocksDown; ++by)
            for (int32_t bx = 0; bx < blocksAcross; ++bx) {
                uint64_t any = 0, all = ~uint64_t{0};
                for (int32_t i = 0; i < 64; ++i) {
                    m[i] = from[(static_cast<size_t>(by) * 64 + i) * fromWords + bx];
                    any |= m[i];
                    all &= m[i];
                }
                // A block of one value (most of a page's map) is its own transpose.
                if (any != 0 && all != ~uint64_t{0}) Transpose64(m);
                for (int32_t i = 0; i < 64; ++i)
                    to[(static_cast<size_t>(bx) * 64 + i) * toWords + by] = m[i];
            }
    }

    int32_t width_, height_, w8_, h8_, wx_, wy_;
    size_t line_; // words of a scratch line: the longest line and two pads
    std::unique_ptr<uint64_t[]> a_, t_, scratch_;
    bool candidates_ = false;
};

} // namespace

bool RunLenFilter(const ImagePlane& image) {
    const int32_t width = image.width, height = image.height;
    if (width <= 0 || height <= 0) return true;
    LaneImage lanes(width, height);
    if (!lanes.Make()) return false;
    const int32_t bytes = (width + 7) / 8;
    const uint8_t tail = static_cast<uint8_t>(0xFF00u >> (8 - (bytes * 8 - width)));
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* row = image.Line(y);
        uint64_t* w = lanes.Row(y);
        for (int32_t i = 0; i < bytes; ++i) {
            const uint8_t v = i == bytes - 1 ? static_cast<uint8_t>(row[i] & tail) : row[i];
            w[i / 8] |= uint64_t{BitPack::kReverseBits[v]} << (8 * (i % 8));
        }
    }
    lanes.Filter();
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* row = image.Line(y);
        const uint64_t* w = lanes.Row(y);
        for (int32_t i = 0; i < bytes; ++i)
            row[i] = BitPack::kReverseBits[(w[i / 8] >> (8 * (i % 8))) & 0xFF];
    }
    return true;
}

} // namespace RunLenFilter

namespace ComplementEdge {

bool RoughBinFilter(const ImagePlane& rough) {
    const size_t size = static_cast<size_t>(rough.sync) * rough.height;
    auto copy = NewArray<uint8_t>(size);
    if (!copy) return false;
    std::memcpy(copy.get(), rough.p, size);
    const ImagePlane filtered{copy.get(), rough.width, rough.height, rough.sync};
    if (!RunLenFilter::RunLenFilter(filtered)) return false;
    XorImage(rough, filtered);
    return true;
}

namespace {

// Number of neighbours of each code, four bits per code in one word: kept
// in a register, so runs of equal codes cost no stores and reloads.
template <typename Map> inline uint64_t NeighbourCounts(const Map& edge, int32_t x, int32_t y) {
    uint64_t counts = 0;
    for (int32_t dy = -1; dy <= 1; ++dy)
        for (int32_t dx = -1; dx <= 1; ++dx)
            if (dx != 0 || dy != 0) counts += uint64_t{1} << (4 * edge.Get(x + dx, y + dy));
    return counts;
}
inline int32_t CountOf(uint64_t counts, uint8_t code) {
    return static_cast<int32_t>((counts >> (4 * code)) & 0xF);
}

template <typename Map> uint8_t RemoveIsolateInfoCore(const Map& edge, int32_t x, int32_t y) {
    const uint8_t c = edge.Get(x, y);
    const uint64_t counts = NeighbourCounts(edge, x, y);
    const struct {
        int32_t n0, n7, n12, n14, n15;
    } n{CountOf(counts, kCodeFlat), CountOf(counts, kCodeWeakEdge),
        CountOf(counts, kCodeBusyContrast), CountOf(counts, kCodeBusy),
        CountOf(counts, kCodeStrongEdge)};
    if (n.n0 == 8) return kCodeFlat;
    if (n.n14 == 8) return kCodeBusy;
    int32_t r0 = n.n0, r14 = n.n14;
    if (c == kCodeWeakEdge || c == kCodeBusyContrast) {
        for (int32_t dy = -2; dy <= 2; ++dy)
            for (int32_t dx = -2; dx <= 2; ++dx) {
                if (dx > -2 && dx < 2 && dy > -2 && dy < 2) continue;
                const uint8_t code = edge.Get(x + dx, y + dy);
                r0 += code == kCodeFlat;
                r14 += code == kCodeBusy;
            }
    }
    switch (c) {
    case kCodeFlat:
        if (n.n14 <= 3) return c;
        if (n.n0 + n.n14 >= 8) return kCodeBusy;
        return c;
    case kCodeBusyContrast:
        if (r14 > 20) return kCodeBusy;
        if (n.n14 == 7) return kCodeBusy;
        if (n.n0 + n.n15 + n.n7 <= 6) return c;
        if (n.n15 + n.n7 >= 3) return kCodeWeakEdge;
        return kCodeFlat;
    case kCodeStrongEdge:
        if (n.n14 + n.n12 >= 8) return kCodeBusyContrast;
        return c;
    case kCodeWeakEdge:
        if (r0 > 22) return kCodeFlat;
        if (n.n0 + n.n14 >= 8) return kCodeFlat;
        if (n.n0 + n.n15 + n.n7 >= 8) return n.n15 == 0 ? static_cast<uint8_t>(kCodeStrongEdge) : c;
        if (n.n14 + n.n7 + n.n12 >= 7) return kCodeBusyContrast;
        return c;
    case kCodeBusy:
        if (n.n0 + n.n15 + n.n7 + n.n14 >= 7 && n.n14 <= 1) return kCodeFlat;
        return c;
    default:
        return c;
    }
}

} // namespace

namespace {

// Bytes readable after the last cell of a grid: the row flags read 32 cells
// and a row and a cell beyond.
constexpr size_t kGridSpare = 64;

// One byte per cell: the passes read each cell many times, and a plain
// byte is the cheapest cell to read. Same Get/Set as the edge map.
struct CellGrid {
    uint8_t* p = nullptr;
    int32_t width = 0, height = 0;
    uint8_t Get(int32_t x, int32_t y) const { return p[int64_t{y} * width + x]; }
    void Set(int32_t x, int32_t y, uint8_t code) { p[int64_t{y} * width + x] = code; }
};

// True when the cell and its 8 neighbours all hold the cell's code; then
// neither pass changes a cell of code 0, 12, 14 or 15.
inline bool Uniform3x3(const CellGrid& g, int32_t x, int32_t y, uint8_t c) {
    const uint32_t want = 0x010101u * c;
    for (int32_t dy = -1; dy <= 1; ++dy) {
        uint32_t v;
        std::memcpy(&v, g.p + int64_t{y + dy} * g.width + x - 1, 4); // grid has 4 spare bytes
        if (((v ^ want) & 0x00FFFFFFu) != 0) return false;
    }
    return true;
}
inline bool Uniform3x3(const EdgeMap&, int32_t, int32_t, uint8_t) {
    return false;
}
// Uniform3x3 for the eight cells x .. x + 7 at once (columns x - 1 .. x + 8
// readable): on the flat paper of a page most cells pass it.
inline bool Uniform3x3Run8(const CellGrid& g, int32_t x, int32_t y, uint8_t c) {
    const uint64_t want = 0x0101010101010101ull * c;
    for (int32_t dy = -1; dy <= 1; ++dy) {
        const uint8_t* row = g.p + int64_t{y + dy} * g.width;
        uint64_t a, b;
        std::memcpy(&a, row + x - 1, 8);
        std::memcpy(&b, row + x + 1, 8);
        if (((a ^ want) | (b ^ want)) != 0) return false;
    }
    return true;
}
inline bool Uniform3x3Run8(const EdgeMap&, int32_t, int32_t, uint8_t) {
    return false;
}

inline bool KeptWhenUniform(uint8_t c) {
    return c == kCodeFlat || c == kCodeBusyContrast || c == kCodeBusy || c == kCodeStrongEdge;
}

std::unique_ptr<uint8_t[]> Unpack(const EdgeMap& edge, CellGrid& grid) {
    auto buf = NewArray<uint8_t>(static_cast<size_t>(edge.width) * edge.height + kGridSpare, true);
    if (!buf) return buf;
    grid = CellGrid{buf.get(), edge.width, edge.height};
    for (int32_t y = 0; y < edge.height; ++y)
        for (int32_t x = 0; x < edge.width; ++x) grid.Set(x, y, edge.Get(x, y));
    return buf;
}

void Pack(const CellGrid& grid, EdgeMap& edge) {
    for (int32_t y = 0; y < edge.height; ++y)
        for (int32_t x = 0; x < edge.width; ++x) edge.Set(x, y, grid.Get(x, y));
}

template <typename Map> void RemoveIsolateInfoT(Map& edge) {
    for (int32_t y = 2; y <= edge.height - 3; ++y)
        for (int32_t x = 2; x <= edge.width - 3; ++x) {
            const uint8_t c = edge.Get(x, y);
            // A cell left alone changes nothing its right neighbours see, so
            // eight uniform cells are passed at once.
            if (KeptWhenUniform(c) && x + 7 <= edge.width - 3 && Uniform3x3Run8(edge, x, y, c)) {
                x += 7;
                continue;
            }
            if (KeptWhenUniform(c) && Uniform3x3(edge, x, y, c)) continue;
            edge.Set(x, y, RemoveIsolateInfoCore(edge, x, y));
        }
}

// Strain step of one cell: true when the cell changed.
template <typename Map>
bool StrainCell(Map& edge, int32_t x, int32_t y, const ImagePlane& edgeSlice,
                const ImagePlane& mixedSlice) {
    static constexpr int32_t kDx[8] = {-1, 0, 1, -1, 1, -1, 0, 1};
    static constexpr int32_t kDy[8] = {-1, -1, -1, 0, 0, 1, 1, 1};
    const uint8_t c = edge.Get(x, y);
    if (c != kCodeFlat && c != kCodeBusy && c != kCodeStrongEdge) return false;
    // Skip the ordered walk when no rule can fire.
    const uint64_t counts = NeighbourCounts(edge, x, y);
    const int32_t n7 = CountOf(counts, kCodeWeakEdge), n12 = CountOf(counts, kCodeBusyContrast),
                  n14 = CountOf(counts, kCodeBusy), n15 = CountOf(counts, kCodeStrongEdge);
    if (c == kCodeFlat && n15 == 0 && n7 < 2 && n12 + n14 < 5) return false;
    if (c == kCodeBusy && n12 + n15 + n7 < 3) return false;
    if (c == kCodeStrongEdge && n12 + n14 < 5) return false;
    // A rule fires: the first in the neighbours' order decides.
    uint8_t& es = edgeSlice.Line(y)[x];
    uint8_t& ms = mixedSlice.Line(y)[x];
    int32_t k = 0, m = 0;
    for (int32_t i = 0; i < 8; ++i) {
        const int32_t nx = x + kDx[i], ny = y + kDy[i];
        const uint8_t nc = edge.Get(nx, ny);
        if (c == kCodeFlat) {
            if (nc == kCodeStrongEdge || (nc == kCodeWeakEdge && ++m == 2)) {
                edge.Set(x, y, kCodeFlatByEdge);
                es = edgeSlice.Line(ny)[nx];
                break;
            }
            if ((nc == kCodeBusyContrast || nc == kCodeBusy) && ++k == 5) {
                edge.Set(x, y, kCodeBusy);
                break;
            }
        } else if (c == kCodeBusy) {
            if ((nc == kCodeBusyContrast || nc == kCodeStrongEdge || nc == kCodeWeakEdge) &&
                ++k == 3) {
                edge.Set(x, y, kCodeBusyAmongEdges);
                ms = mixedSlice.Line(ny)[nx];
                break;
            }
        } else if ((nc == kCodeBusyContrast || nc == kCodeBusy) && ++k == 5) {
            edge.Set(x, y, kCodeBusyContrast);
            break;
        }
    }
    return true;
}

template <typename Map>
void StrainEdgeT(Map& edge, const ImagePlane& edgeSlice, const ImagePlane& mixedSlice) {
    for (int32_t y = 1; y <= edge.height - 2; ++y) {
        for (int32_t x = 1; x <= edge.width - 2; ++x) {
            const uint8_t c = edge.Get(x, y);
            if (c != kCodeFlat && c != kCodeBusy && c != kCodeStrongEdge) continue;
            if (x + 7 <= edge.width - 2 && Uniform3x3Run8(edge, x, y, c)) {
                x += 7;
                continue;
            }
            if (Uniform3x3(edge, x, y, c)) continue;
            StrainCell(edge, x, y, edgeSlice, mixedSlice);
        }
    }
}

// The two passes on a grid a row at a time: which cells of a row may change
// is known ahead from the row's neighbourhoods as they stand (rows above
// final, the row and those below not yet visited); then only those cells
// and the cells right of a changed one (whose neighbourhood it is part of)
// take the exact step, in order. On a page most cells are left alone.
struct Counts {
    int32_t n0, n7, n12, n14, n15;
    explicit Counts(uint64_t c)
        : n0(CountOf(c, kCodeFlat)), n7(CountOf(c, kCodeWeakEdge)),
          n12(CountOf(c, kCodeBusyContrast)), n14(CountOf(c, kCodeBusy)),
          n15(CountOf(c, kCodeStrongEdge)) {}
};
// Whether RemoveIsolateInfoCore may give another code (codes 7 and 12 also
// count their outer ring, so they are always visited).
inline bool IsolateMayChange(uint8_t c, const Counts& n) {
    if (c == kCodeWeakEdge || c == kCodeBusyContrast) return true;
    if (n.n0 == 8) return c != kCodeFlat;
    if (n.n14 == 8) return c != kCodeBusy;
    switch (c) {
    case kCodeFlat:
        return n.n14 > 3 && n.n0 + n.n14 >= 8;
    case kCodeStrongEdge:
        return n.n14 + n.n12 >= 8;
    case kCodeBusy:
        return n.n14 <= 1 && n.n0 + n.n15 + n.n7 + n.n14 >= 7;
    default:
        return false;
    }
}
// Whether StrainCell changes the cell.
inline bool StrainMayChange(uint8_t c, const Counts& n) {
    switch (c) {
    case kCodeFlat:
        return n.n15 > 0 || n.n7 >= 2 || n.n12 + n.n14 >= 5;
    case kCodeBusy:
        return n.n12 + n.n15 + n.n7 >= 3;
    case kCodeStrongEdge:
        return n.n12 + n.n14 >= 5;
    default:
        return false;
    }
}

enum class Pass { Isolate, Strain };

// Flags of cells first .. first + 31 of row y (bit k for cell first + k);
// cells up to first + 32 and the rows y - 1, y + 1 readable.
uint32_t RowFlags32(const CellGrid& g, int32_t first, int32_t y, Pass pass) {
    uint32_t flags = 0;
    for (int32_t k = 0; k < 32; ++k) {
        const int32_t x = first + k;
        if (x + 1 >= g.width) break;
        const Counts n(NeighbourCounts(g, x, y));
        const uint8_t c = g.Get(x, y);
        if (pass == Pass::Isolate ? IsolateMayChange(c, n) : StrainMayChange(c, n))
            flags |= 1u << k;
    }
    return flags;
}

#if defined(__SSE2__)
// The AVX2 twin of RowFlags32: neighbour counts of 32 cells in byte lanes,
// two codes a lane in nibbles through table lookups.
// Lookup table of the 16 codes, twice: 1 for code a, 16 for code b.
constexpr std::array<uint8_t, 32> CodeTable(int a, int b) {
    std::array<uint8_t, 32> t{};
    for (int c = 0; c < 32; ++c)
        t[static_cast<size_t>(c)] = static_cast<uint8_t>((c % 16 == a ? 1 : 0) | (c % 16 == b ? 16 : 0));
    return t;
}
constexpr std::array<uint8_t, 32> kFlatBusy = CodeTable(kCodeFlat, kCodeBusy);
constexpr std::array<uint8_t, 32> kContrastStrong = CodeTable(kCodeBusyContrast, kCodeStrongEdge);
constexpr std::array<uint8_t, 32> kWeak = CodeTable(kCodeWeakEdge, -1);

KD_AVX2 inline __m256i Load32(const uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
KD_AVX2 inline __m256i Is(__m256i v, int k) {
    return _mm256_cmpeq_epi8(v, _mm256_set1_epi8(static_cast<char>(k)));
}
KD_AVX2 inline __m256i Over(__m256i v, int k) {
    return _mm256_cmpgt_epi8(v, _mm256_set1_epi8(static_cast<char>(k)));
}
KD_AVX2 inline __m256i Add(__m256i a, __m256i b) {
    return _mm256_add_epi8(a, b);
}

KD_AVX2 uint32_t RowFlags32Avx2(const CellGrid& g, int32_t first, int32_t y, Pass pass) {
    const uint8_t* p = g.p + int64_t{y} * g.width + first;
    const ptrdiff_t s = g.width;
    const __m256i t1 = Load32(kFlatBusy.data()), t2 = Load32(kContrastStrong.data()),
                  t3 = Load32(kWeak.data());
    const __m256i c = Load32(p);
    __m256i s1 = _mm256_setzero_si256(), s2 = s1, s3 = s1, any = c;
    for (const ptrdiff_t off : {-s - 1, -s, -s + 1, ptrdiff_t{-1}, ptrdiff_t{1}, s - 1, s, s + 1}) {
        const __m256i v = Load32(p + off);
        any = _mm256_or_si256(any, v);
        s1 = _mm256_add_epi8(s1, _mm256_shuffle_epi8(t1, v));
        s2 = _mm256_add_epi8(s2, _mm256_shuffle_epi8(t2, v));
        s3 = _mm256_add_epi8(s3, _mm256_shuffle_epi8(t3, v));
    }
    // Flat cells among flat ones stay in either pass.
    if (_mm256_testz_si256(any, any)) return 0;
    const __m256i low = _mm256_set1_epi8(0x0F);
    const __m256i n0 = _mm256_and_si256(s1, low);
    const __m256i n14 = _mm256_and_si256(_mm256_srli_epi16(s1, 4), low);
    const __m256i n12 = _mm256_and_si256(s2, low);
    const __m256i n15 = _mm256_and_si256(_mm256_srli_epi16(s2, 4), low);
    const __m256i n7 = s3;
    __m256i f;
    if (pass == Pass::Isolate) {
        const __m256i flat = Is(c, kCodeFlat), busy = Is(c, kCodeBusy);
        f = _mm256_or_si256(Is(c, kCodeWeakEdge), Is(c, kCodeBusyContrast));
        f = _mm256_or_si256(f, _mm256_andnot_si256(flat, Is(n0, 8)));
        f = _mm256_or_si256(f, _mm256_andnot_si256(busy, Is(n14, 8)));
        f = _mm256_or_si256(f, _mm256_and_si256(flat, _mm256_and_si256(Over(n14, 3), Over(Add(n0, n14), 7))));
        f = _mm256_or_si256(f, _mm256_and_si256(Is(c, kCodeStrongEdge), Over(Add(n14, n12), 7)));
        f = _mm256_or_si256(
            f, _mm256_and_si256(_mm256_andnot_si256(Over(n14, 1), busy),
                                Over(Add(Add(n0, n15), Add(n7, n14)), 6)));
    } else {
        const __m256i flatRule =
            _mm256_or_si256(Over(n15, 0), _mm256_or_si256(Over(n7, 1), Over(Add(n12, n14), 4)));
        f = _mm256_and_si256(Is(c, kCodeFlat), flatRule);
        f = _mm256_or_si256(f, _mm256_and_si256(Is(c, kCodeBusy), Over(Add(Add(n12, n15), n7), 2)));
        f = _mm256_or_si256(f, _mm256_and_si256(Is(c, kCodeStrongEdge), Over(Add(n12, n14), 4)));
    }
    return static_cast<uint32_t>(_mm256_movemask_epi8(f));
}
#endif

// The walk of a pass over cells first..lastX of rows first..lastY: flags
// from rowFlags(x0, y, w) for cells x0 .. x0 + 31 (x0 = first + 32 w) of a
// row, then step(x, y) for the flagged cells in order; when it returns true
// the `reach` cells right of x are visited too, revisit(x + r, y, w', bit)
// telling which (word w' of the row's flags, and the bit).
template <typename Flags, typename Step, typename Revisit>
void WalkFlagged(int32_t first, int32_t lastX, int32_t lastY, int32_t reach, uint32_t* flags,
                 Flags rowFlags, Step step, Revisit revisit) {
    const int32_t words = (lastX - first + 1 + 31) / 32;
    if (words <= 0) return;
    for (int32_t y = first; y <= lastY; ++y) {
        for (int32_t w = 0; w < words; ++w) flags[w] = rowFlags(first + 32 * w, y, w);
        flags[words] = 0;
        for (int32_t w = 0; w < words; ++w) {
            uint32_t m = flags[w];
            while (m != 0) {
                const int32_t b = std::countr_zero(m);
                m &= m - 1;
                const int32_t x = first + 32 * w + b;
                if (x > lastX) break;
                if (!step(x, y)) continue;
                for (int32_t r = 1; r <= reach; ++r) {
                    const int32_t at = b + r, word = at < 32 ? w : w + 1;
                    const uint32_t bit = 1u << (at % 32);
                    revisit(x + r, y, word, bit);
                    if (word == w)
                        m |= bit;
                    else
                        flags[w + 1] |= bit;
                }
            }
        }
    }
}

template <typename Step>
void FlaggedPass(CellGrid& g, int32_t first, int32_t lastX, int32_t lastY, Pass pass, int32_t reach,
                 uint32_t* flags, Step step) {
#if defined(__SSE2__)
    const bool avx2 = IsAVX2FeatureAvailable();
#endif
    WalkFlagged(
        first, lastX, lastY, reach, flags,
        [&](int32_t x0, int32_t y, int32_t) {
#if defined(__SSE2__)
            if (avx2) return RowFlags32Avx2(g, x0, y, pass);
#endif
            return RowFlags32(g, x0, y, pass);
        },
        step, [](int32_t, int32_t, int32_t, uint32_t) {});
}

// Bit k set for each byte k of v equal to `code` (8 bytes).
inline uint32_t ByteMask(uint64_t v, uint8_t code) {
    constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
    const uint64_t t = v ^ (0x0101010101010101ull * code);
    const uint64_t zero = ~(((t & kLow7) + kLow7) | t) & ~kLow7; // 0x80 in each zero byte
    return static_cast<uint32_t>(((zero >> 7) * 0x0102040810204080ull) >> 56);
}
// Index of the n-th (1-based) set bit of m, 8 when there is none.
inline int32_t NthBit(uint32_t m, int32_t n) {
    for (int32_t i = 1; i < n && m != 0; ++i) m &= m - 1;
    return m != 0 ? std::countr_zero(m) : 8;
}

// StrainCell on a grid without the walk: the neighbours in the walk's order
// as the bytes of one word, where each rule fires from masks of codes.
// True when the cell changed in a way its neighbours' rules see: code 9
// counts in no rule, as code 0 before it, and no cell takes its slice from
// a cell of code 9 (only from 7 or 15), so a flat cell turned 9 is not.
bool StrainCellGrid(CellGrid& g, int32_t x, int32_t y, const ImagePlane& edgeSlice,
                    const ImagePlane& mixedSlice) {
    if constexpr (std::endian::native != std::endian::little)
        return StrainCell(g, x, y, edgeSlice, mixedSlice);
    const uint8_t c = g.Get(x, y);
    if (c != kCodeFlat && c != kCodeBusy && c != kCodeStrongEdge) return false;
    const uint8_t* mid = g.p + int64_t{y} * g.width + x;
    uint32_t above, below;
    std::memcpy(&above, mid - g.width - 1, 4);
    std::memcpy(&below, mid + g.width - 1, 4);
    const uint64_t n = uint64_t{above & 0xFFFFFF} | uint64_t{mid[-1]} << 24 |
                       uint64_t{mid[1]} << 32 | uint64_t{below & 0xFFFFFF} << 40;
    static constexpr int32_t kDx[8] = {-1, 0, 1, -1, 1, -1, 0, 1};
    static constexpr int32_t kDy[8] = {-1, -1, -1, 0, 0, 1, 1, 1};
    const uint32_t busy = ByteMask(n, kCodeBusyContrast) | ByteMask(n, kCodeBusy);
    if (c == kCodeFlat) {
        const uint32_t strong = ByteMask(n, kCodeStrongEdge), weak = ByteMask(n, kCodeWeakEdge);
        const int32_t byEdge = std::min(NthBit(strong, 1), NthBit(weak, 2));
        const int32_t byBusy = NthBit(busy, 5);
        if (byEdge < byBusy) {
            g.Set(x, y, kCodeFlatByEdge);
            edgeSlice.Line(y)[x] = edgeSlice.Line(y + kDy[byEdge])[x + kDx[byEdge]];
            return false;
        }
        if (byBusy == 8) return false;
        g.Set(x, y, kCodeBusy);
        return true;
    }
    if (c == kCodeBusy) {
        const uint32_t edges = ByteMask(n, kCodeBusyContrast) | ByteMask(n, kCodeStrongEdge) |
                               ByteMask(n, kCodeWeakEdge);
        const int32_t at = NthBit(edges, 3);
        if (at == 8) return false;
        g.Set(x, y, kCodeBusyAmongEdges);
        mixedSlice.Line(y)[x] = mixedSlice.Line(y + kDy[at])[x + kDx[at]];
        return true;
    }
    if (NthBit(busy, 5) == 8) return false;
    g.Set(x, y, kCodeBusyContrast);
    return true;
}

// The passes on a grid with kGridSpare bytes after its cells.
void IsolateGrid(CellGrid& g) {
    auto flags = NewArray<uint32_t>(static_cast<size_t>(g.width) / 32 + 2);
    if (!flags) return RemoveIsolateInfoT(g);
    FlaggedPass(g, 2, g.width - 3, g.height - 3, Pass::Isolate, 2, flags.get(),
                [&](int32_t x, int32_t y) {
                    const uint8_t c = g.Get(x, y), r = RemoveIsolateInfoCore(g, x, y);
                    g.Set(x, y, r);
                    return r != c;
                });
}
#if defined(__SSE2__)
// The strain step's outcome for the flat cells x0 .. x0 + 31 of row y as the
// neighbourhoods stand, in the walk's order: the first strong edge or second
// weak edge (code 9 and that neighbour's edge slice) against the fifth busy
// neighbour (code 14). Flat cells that turn 9 are written at once (their old
// slices kept in saved[x]): no rule sees a 9, and no cell takes its slice.
// Returns the cells left for the exact step (all other changes); `quick`
// gets the cells written.
KD_AVX2 uint32_t StrainRowAvx2(CellGrid& g, const ImagePlane& edgeSlice, int32_t x0, int32_t y,
                               int32_t lastX, uint8_t* saved, uint32_t& quick) {
    uint8_t* p = g.p + int64_t{y} * g.width + x0;
    const ptrdiff_t s = g.width;
    const ptrdiff_t offsets[8] = {-s - 1, -s, -s + 1, -1, 1, s - 1, s, s + 1};
    static constexpr int32_t kDx[8] = {-1, 0, 1, -1, 1, -1, 0, 1};
    static constexpr int32_t kDy[8] = {-1, -1, -1, 0, 0, 1, 1, 1};
    const __m256i c = Load32(p);
    quick = 0;
    // Flat paper (all flat around) neither changes nor turns 9.
    __m256i any = c;
    for (const ptrdiff_t off : offsets) any = _mm256_or_si256(any, Load32(p + off));
    if (_mm256_testz_si256(any, any)) return 0;
    __m256i n7 = _mm256_setzero_si256(), n12 = n7, n14 = n7, n15 = n7;
    __m256i found = n7, byBusy = n7, from = n7, slice = n7;
    for (int32_t k = 0; k < 8; ++k) {
        const __m256i v = Load32(p + offsets[k]);
        const __m256i is7 = Is(v, kCodeWeakEdge), is12 = Is(v, kCodeBusyContrast),
                      is14 = Is(v, kCodeBusy), is15 = Is(v, kCodeStrongEdge);
        // Counts up as the masks are -1.
        n7 = _mm256_sub_epi8(n7, is7);
        n12 = _mm256_sub_epi8(n12, is12);
        n14 = _mm256_sub_epi8(n14, is14);
        n15 = _mm256_sub_epi8(n15, is15);
        const __m256i edge = _mm256_andnot_si256(
            found, _mm256_or_si256(is15, _mm256_and_si256(is7, Is(n7, 2))));
        const __m256i busy = _mm256_andnot_si256(
            found, _mm256_and_si256(_mm256_or_si256(is12, is14), Is(Add(n12, n14), 5)));
        const __m256i es = Load32(edgeSlice.Line(y + kDy[k]) + x0 + kDx[k]);
        slice = _mm256_blendv_epi8(slice, es, edge);
        from = _mm256_or_si256(from, edge);
        byBusy = _mm256_or_si256(byBusy, busy);
        found = _mm256_or_si256(found, _mm256_or_si256(edge, busy));
    }
    const __m256i flat = Is(c, kCodeFlat);
    const __m256i flatRule =
        _mm256_or_si256(Over(n15, 0), _mm256_or_si256(Over(n7, 1), Over(Add(n12, n14), 4)));
    __m256i f = _mm256_and_si256(flat, flatRule);
    f = _mm256_or_si256(f, _mm256_and_si256(Is(c, kCodeBusy), Over(Add(Add(n12, n15), n7), 2)));
    f = _mm256_or_si256(f, _mm256_and_si256(Is(c, kCodeStrongEdge), Over(Add(n12, n14), 4)));
    // Lanes up to lastX.
    const __m256i lane = _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16,
                                          17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31);
    const int limit = std::min(lastX - x0 + 1, 32);
    const __m256i inside = _mm256_cmpgt_epi8(_mm256_set1_epi8(static_cast<char>(limit)), lane);
    const __m256i turned = _mm256_and_si256(_mm256_and_si256(flat, from), inside);
    quick = static_cast<uint32_t>(_mm256_movemask_epi8(turned));
    if (quick != 0) {
        uint8_t* es = edgeSlice.Line(y) + x0;
        const __m256i old = Load32(es);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(saved + x0), old);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(es), _mm256_blendv_epi8(old, slice, turned));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p),
                            _mm256_blendv_epi8(c, _mm256_set1_epi8(kCodeFlatByEdge), turned));
    }
    return static_cast<uint32_t>(_mm256_movemask_epi8(f)) & ~quick;
}

// The strain step with the flat cells turning 9 written a row at a time;
// the other changes by the exact step in order. A cell right of a visible
// change is stepped exactly, its early 9 taken back first.
KD_AVX2 void StrainGridAvx2(CellGrid& g, const ImagePlane& edgeSlice, const ImagePlane& mixedSlice,
                            uint32_t* flags, uint32_t* quick, uint8_t* saved) {
    const int32_t lastX = g.width - 2;
    WalkFlagged(
        1, lastX, g.height - 2, 1, flags,
        [&](int32_t x0, int32_t y, int32_t w) {
            return StrainRowAvx2(g, edgeSlice, x0, y, lastX, saved, quick[w]);
        },
        [&](int32_t x, int32_t y) { return StrainCellGrid(g, x, y, edgeSlice, mixedSlice); },
        [&](int32_t x, int32_t y, int32_t word, uint32_t bit) {
            // An early 9 is taken back before the exact step.
            if ((quick[word] & bit) == 0) return;
            quick[word] &= ~bit;
            g.Set(x, y, kCodeFlat);
            edgeSlice.Line(y)[x] = saved[x];
        });
}
#endif

// `spare`: the edge slice plane has a line of 64 readable bytes after it,
// which the AVX2 form reads.
void StrainGrid(CellGrid& g, const ImagePlane& edgeSlice, const ImagePlane& mixedSlice,
                bool spare) {
    const size_t words = static_cast<size_t>(g.width) / 32 + 2;
    auto flags = NewArray<uint32_t>(2 * words, true); // the quick word after a row stays 0
    auto saved = NewArray<uint8_t>(static_cast<size_t>(g.width) + 64);
    if (!flags || !saved) return StrainEdgeT(g, edgeSlice, mixedSlice);
#if defined(__SSE2__)
    if constexpr (std::endian::native == std::endian::little) {
        if (spare && IsAVX2FeatureAvailable())
            return StrainGridAvx2(g, edgeSlice, mixedSlice, flags.get(), flags.get() + words,
                                  saved.get());
    }
#endif
    FlaggedPass(g, 1, g.width - 2, g.height - 2, Pass::Strain, 1, flags.get(),
                [&](int32_t x, int32_t y) { return StrainCellGrid(g, x, y, edgeSlice, mixedSlice); });
}
void CompEdgeInfoGrid(CellGrid& g, const ImagePlane& edgeSlice, const ImagePlane& mixedSlice,
                      bool spare) {
    IsolateGrid(g);
    StrainGrid(g, edgeSlice, mixedSlice, spare);
}

} // namespace

void RemoveIsolateInfo(EdgeMap& edge) {
    CellGrid grid;
    auto buf = Unpack(edge, grid);
    if (!buf) return RemoveIsolateInfoT(edge); // slower, same result
    RemoveIsolateInfoT(grid);
    Pack(grid, edge);
}

void StrainEdge(EdgeMap& edge, const ImagePlane& edgeSlice, const ImagePlane& mixedSlice) {
    CellGrid grid;
    auto buf = Unpack(edge, grid);
    if (!buf) return StrainEdgeT(edge, edgeSlice, mixedSlice);
    StrainEdgeT(grid, edgeSlice, mixedSlice);
    Pack(grid, edge);
}

void CompEdgeInfo(EdgeMap& edge, const ImagePlane& edgeSlice, const ImagePlane& mixedSlice) {
    CellGrid grid;
    auto buf = Unpack(edge, grid);
    if (!buf) {
        RemoveIsolateInfoT(edge);
        StrainEdgeT(edge, edgeSlice, mixedSlice);
        return;
    }
    if (IsSSE2FeatureAvailable()) {
        CompEdgeInfoGrid(grid, edgeSlice, mixedSlice, false);
    } else {
        RemoveIsolateInfoT(grid);
        StrainEdgeT(grid, edgeSlice, mixedSlice);
    }
    Pack(grid, edge);
}

} // namespace ComplementEdge

// ---------------------------------------------------------------------------
// Mixing

void CopyBlockImage(const ImagePlane& dst, const ImagePlane& src, int32_t x0, int32_t y0,
                    int32_t x1, int32_t y1) {
    for (int32_t y = y0; y <= y1; ++y)
        std::memcpy(dst.Line(y) + x0, src.Line(y) + x0, static_cast<size_t>(x1 - x0 + 1));
}

namespace {
// The 4 x 4 quarters of blocks first .. end - 1 of block row j: four copies
// of one run.
inline void CopyQuarters(const ImagePlane& dst, const ImagePlane& src, int32_t first, int32_t end,
                         int32_t j) {
    const size_t bytes = 4 * static_cast<size_t>(end - first);
    for (int32_t y = 4 * j; y < 4 * j + 4; ++y)
        std::memcpy(dst.Line(y) + 4 * first, src.Line(y) + 4 * first, bytes);
}
} // namespace

namespace MixImage {

namespace {
template <typename Map>
void MixtureSrcT(const ImagePlane& average, const ImagePlane& src, const ImagePlane& mixed,
                 const Map& edge, const ImagePlane& edgeSlice, uint8_t D, uint8_t E) {
    for (int32_t j = 0; j < edge.height; ++j) {
        // Neighbouring blocks that take the source pixels are copied as one run.
        int32_t run = -1;
        for (int32_t i = 0; i < edge.width; ++i) {
            uint8_t& slice = mixed.Line(j)[i];
            bool copy = false;
            switch (edge.Get(i, j)) {
            case kCodeFlat:
                slice = D;
                copy = true;
                break;
            case kCodeBusy:
                slice = E; // the smoothed pixels stay
                break;
            case kCodeWeakEdge:
            case kCodeFlatByEdge:
            case kCodeStrongEdge:
                slice = edgeSlice.Line(j)[i];
                copy = true;
                break;
            default: // 11, 12: smoothed midrange and smoothed pixels
                break;
            }
            if (copy && run < 0) run = i;
            if (!copy && run >= 0) {
                CopyQuarters(average, src, run, i, j);
                run = -1;
            }
        }
        if (run >= 0) CopyQuarters(average, src, run, edge.width, j);
    }
}

// The mixing step's levels for one row of cells, without copying pixels:
// copy[i] is 0xFF for the cells that take the source pixels, else 0.
void MixLevelsRow(uint8_t* slice, uint8_t* copy, const uint8_t* codes, const uint8_t* edgeSlice,
                  int32_t W, uint8_t D, uint8_t E) {
    int32_t i = 0;
#if defined(__SSE2__)
    const auto is = [](__m128i v, int k) {
        return _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(k)));
    };
    for (; i + 16 <= W; i += 16) {
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(codes + i));
        const __m128i flat = is(c, kCodeFlat), busy = is(c, kCodeBusy);
        const __m128i edge = _mm_or_si128(
            _mm_or_si128(is(c, kCodeWeakEdge), is(c, kCodeFlatByEdge)), is(c, kCodeStrongEdge));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(copy + i), _mm_or_si128(edge, flat));
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(slice + i));
        v = Select(edge, _mm_loadu_si128(reinterpret_cast<const __m128i*>(edgeSlice + i)), v);
        v = Select(flat, _mm_set1_epi8(static_cast<char>(D)), v);
        v = Select(busy, _mm_set1_epi8(static_cast<char>(E)), v);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(slice + i), v);
    }
#endif
    for (; i < W; ++i) {
        const uint8_t c = codes[i];
        const bool edge = c == kCodeWeakEdge || c == kCodeFlatByEdge || c == kCodeStrongEdge;
        copy[i] = (edge || c == kCodeFlat) ? 0xFF : 0;
        slice[i] = c == kCodeFlat ? D : (c == kCodeBusy ? E : (edge ? edgeSlice[i] : slice[i]));
    }
}
} // namespace

int MixtureSrc(const ImagePlane& average, const ImagePlane& src, const ImagePlane& mixed,
               const EdgeMap& edge, const ImagePlane& edgeSlice, uint8_t D, uint8_t E) {
    MixtureSrcT(average, src, mixed, edge, edgeSlice, D, E);
    return 1;
}

} // namespace MixImage

// ---------------------------------------------------------------------------
// The whole kind

namespace AdaptRegionBin {

void IpDetectEdgeInfoAndSlice(EdgeMap& edge, const ImagePlane& edgeSlice, const ImagePlane& src,
                              uint32_t A, uint32_t B, uint32_t C, uint32_t T) {
    ClassifyBlocks(
        src, edge.width, edge.height, BlockThresholds(A, B, C, T),
        [&](int32_t j) { return edgeSlice.Line(j); },
        [&](int32_t i, int32_t j, uint8_t code) { edge.Set(i, j, code); });
}

bool IpEdgeCorrection(EdgeMap& edge) {
    const int32_t sync = BitSync(edge.width);
    auto buf = NewArray<uint8_t>(static_cast<size_t>(sync) * edge.height, true);
    if (!buf) return false;
    const ImagePlane rough{buf.get(), edge.width, edge.height, sync};
    EdgeCorrection::EdgeInfoToRoughBin(rough, edge);
    // Without the filtered copy every set bit would count as changed and
    // switch its cell, so the feedback is skipped.
    if (!ComplementEdge::RoughBinFilter(rough)) return false;
    EdgeCorrection::FeedbackRoughBinToEdgeInfo(edge, rough);
    return true;
}

void IpDetectAveAndSlice(const ImagePlane& average, const ImagePlane& mixed,
                         const ImagePlane& src) {
    Filter::FilterFunc(average, src);
    const auto maxMin = IsSSE2FeatureAvailable() ? GetMaxMinBand : IntegralGetMaxMinBand;
    for (int32_t j = 0; j < mixed.height; ++j) {
        std::memset(mixed.Line(j), 128, static_cast<size_t>(mixed.sync));
        maxMin(average.Line(4 * j), average.sync, average.width, mixed.width, mixed.Line(j));
    }
}

namespace {

// Class codes of a row of blocks from their statistics, as
// BlockThresholds::Classify gives them.
void ClassifyRow(uint8_t* codes, const uint16_t* g, const uint16_t* v, int32_t count,
                 const BlockThresholds& th) {
    int32_t i = 0;
#if defined(__SSE2__)
    // G and V stay below 2^15: a threshold clamped to 2^15 - 1 compares the
    // same, and signed.
    const auto limit = [](uint32_t t) {
        return _mm_set1_epi16(static_cast<short>(std::min<uint32_t>(t, 0x7FFF)));
    };
    const __m128i a8 = limit(th.a8), b8 = limit(th.b8), c8 = limit(th.c8), t8 = limit(th.t8);
    for (; i + 8 <= count; i += 8) {
        const __m128i vg = _mm_loadu_si128(reinterpret_cast<const __m128i*>(g + i));
        const __m128i vv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v + i));
        const __m128i busy = Select(_mm_cmpgt_epi16(vg, c8), _mm_set1_epi16(kCodeBusyContrast),
                                    _mm_set1_epi16(kCodeBusy));
        const __m128i quiet = _mm_and_si128(_mm_cmpgt_epi16(vg, b8), _mm_set1_epi16(kCodeWeakEdge));
        const __m128i code = Select(_mm_cmpgt_epi16(vg, a8), _mm_set1_epi16(kCodeStrongEdge),
                                    Select(_mm_cmpgt_epi16(vv, t8), busy, quiet));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(codes + i), _mm_packus_epi16(code, code));
    }
#endif
    for (; i < count; ++i) codes[i] = th.Classify(g[i], v[i]);
}

// Max and min of each 4 x 4 cell c = 0..cells-1 of the four lines from top.
void QuadMaxMin(const uint8_t* top, int32_t sync, int32_t width, int32_t cells, uint8_t* mx,
                uint8_t* mn) {
    int32_t c = 0;
#if defined(__SSE2__)
    for (; c + 4 <= cells && 4 * c + 16 <= width; c += 4) {
        __m128i vmx, vmn;
        GroupMaxMinOfLines(top + 4 * c, sync, 4, vmx, vmn);
        const __m128i both = _mm_packus_epi16(_mm_packs_epi32(vmx, vmn), _mm_setzero_si128());
        const int64_t bytes = _mm_cvtsi128_si64(both);
        std::memcpy(mx + c, &bytes, 4);
        std::memcpy(mn + c, reinterpret_cast<const uint8_t*>(&bytes) + 4, 4);
    }
#endif
    for (; c < cells; ++c) {
        int32_t hi = 0, lo = 255;
        for (int32_t y = 0; y < 4; ++y)
            for (int32_t x = 4 * c; x < 4 * c + 4; ++x) {
                hi = std::max<int32_t>(hi, top[int64_t{y} * sync + x]);
                lo = std::min<int32_t>(lo, top[int64_t{y} * sync + x]);
            }
        mx[c] = static_cast<uint8_t>(hi);
        mn[c] = static_cast<uint8_t>(lo);
    }
}

// Midranges of count blocks from the cells of two strips (upper, lower):
// block i is cells i and i + 1 of both.
void BlockMidranges(uint8_t* M, const uint8_t* upMx, const uint8_t* upMn, const uint8_t* loMx,
                    const uint8_t* loMn, int32_t count) {
    int32_t i = 0;
#if defined(__SSE2__)
    const auto at = [](const uint8_t* p) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    };
    for (; i + 16 <= count; i += 16) {
        const __m128i mx = _mm_max_epu8(_mm_max_epu8(at(upMx + i), at(upMx + i + 1)),
                                        _mm_max_epu8(at(loMx + i), at(loMx + i + 1)));
        const __m128i mn = _mm_min_epu8(_mm_min_epu8(at(upMn + i), at(upMn + i + 1)),
                                        _mm_min_epu8(at(loMn + i), at(loMn + i + 1)));
        // (mx + mn) / 2 in bytes: the halves and the carry of the low bits.
        const __m128i half = _mm_set1_epi8(0x7F);
        const __m128i m = _mm_add_epi8(
            _mm_add_epi8(_mm_and_si128(_mm_srli_epi16(mx, 1), half),
                         _mm_and_si128(_mm_srli_epi16(mn, 1), half)),
            _mm_and_si128(_mm_and_si128(mx, mn), _mm_set1_epi8(1)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(M + i), m);
    }
#endif
    for (; i < count; ++i) {
        const int32_t mx = std::max({upMx[i], upMx[i + 1], loMx[i], loMx[i + 1]});
        const int32_t mn = std::min({upMn[i], upMn[i + 1], loMn[i], loMn[i + 1]});
        M[i] = static_cast<uint8_t>((mx + mn) / 2);
    }
}

#if defined(__SSE2__)
// Horizontal 1-2-1 sums of a line for the smoothing, in 32-pixel chunks
// from pixel 1 (chunk k: pixels 1 + 32k ..): each chunk holds the sums of
// its even pixels, then of its odd ones, as byte pair products give them.
// Pixel 0 and the pixels after the last chunk are in `plain` by position.
struct SumLine {
    uint16_t* chunks;
    uint16_t* plain;
};
inline int32_t SumChunks(int32_t width) {
    return width >= 34 ? (width - 34) / 32 + 1 : 0; // pixels up to 32k + 33 readable
}

KD_AVX2 void Line121Avx2(const SumLine& out, const uint8_t* s, int32_t width) {
    const int32_t chunks = SumChunks(width);
    const __m256i w12 = _mm256_set1_epi16(0x0201), w10 = _mm256_set1_epi16(0x0001),
                  w01 = _mm256_set1_epi16(0x0100);
    for (int32_t k = 0; k < chunks; ++k) {
        const uint8_t* p = s + 1 + 32 * k;
        using ComplementEdge::Load32;
        const __m256i left = Load32(p - 1), here = Load32(p), right = Load32(p + 1);
        // Even pixel 2j: s[2j - 1] + 2 s[2j] + s[2j + 1]; odd: one further.
        const __m256i even = _mm256_add_epi16(_mm256_maddubs_epi16(left, w12),
                                              _mm256_maddubs_epi16(right, w10));
        const __m256i odd = _mm256_add_epi16(_mm256_maddubs_epi16(here, w12),
                                             _mm256_maddubs_epi16(right, w01));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out.chunks + 32 * k), even);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out.chunks + 32 * k + 16), odd);
    }
    out.plain[0] = static_cast<uint16_t>(3 * s[0] + s[1]);
    for (int32_t x = 1 + 32 * chunks; x < width - 1; ++x)
        out.plain[x] = static_cast<uint16_t>(s[x - 1] + 2 * s[x] + s[x + 1]);
    out.plain[width - 1] = static_cast<uint16_t>(s[width - 2] + 3 * s[width - 1]);
}

KD_AVX2 inline __m256i Load16(const uint16_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
KD_AVX2 inline __m256i Vertical121(const uint16_t* up, const uint16_t* mid, const uint16_t* down) {
    const __m256i m = Load16(mid);
    // At most 4 * 1020: no lane overflows.
    return _mm256_add_epi16(_mm256_add_epi16(Load16(up), Load16(down)), _mm256_add_epi16(m, m));
}

KD_AVX2 void Filter121Avx2(uint8_t* out, const SumLine& up, const SumLine& mid,
                           const SumLine& down, int32_t width) {
    const int32_t chunks = SumChunks(width);
    const __m256i high = _mm256_set1_epi16(static_cast<short>(0xFF00));
    for (int32_t k = 0; k < chunks; ++k) {
        const size_t at = 32 * static_cast<size_t>(k);
        const __m256i even =
            _mm256_srli_epi16(Vertical121(up.chunks + at, mid.chunks + at, down.chunks + at), 4);
        const __m256i odd = Vertical121(up.chunks + at + 16, mid.chunks + at + 16,
                                        down.chunks + at + 16);
        // Pixel 2j in the low byte of word j, pixel 2j + 1 in the high one.
        const __m256i bytes = _mm256_or_si256(even, _mm256_and_si256(_mm256_slli_epi16(odd, 4), high));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 1 + at), bytes);
    }
    const auto plain = [&](int32_t x) {
        out[x] = static_cast<uint8_t>((up.plain[x] + 2 * mid.plain[x] + down.plain[x]) >> 4);
    };
    plain(0);
    for (int32_t x = 1 + 32 * chunks; x < width; ++x) plain(x);
}

// The midranges of IpDetectAveAndSlice in one pass: each four smoothed
// lines (in lines4, four lines of the source's width) give the max and min
// of their 4 x 4 cells, and two such strips the midranges of a block row.
// The smoothed page itself is not kept: the threshold step smooths again
// the few lines that need it.
KD_AVX2 void SmoothAndSliceAvx2(const ImagePlane& lines4, const ImagePlane& mixed,
                                const ImagePlane& src) {
    const int32_t w = src.width, h = src.height, W = mixed.width, H = mixed.height;
    const size_t lineWords = 32 * static_cast<size_t>(SumChunks(w)) + static_cast<size_t>(w);
    auto lines = NewArray<uint16_t>(3 * lineWords);
    const size_t cells = static_cast<size_t>(W) + 1;
    auto quads = NewArray<uint8_t>(4 * cells + 16);
    if (!lines || !quads) throw kIpErrNoMemory;
    SumLine buf[3];
    for (size_t i = 0; i < 3; ++i) {
        buf[i].chunks = lines.get() + i * lineWords;
        buf[i].plain = buf[i].chunks + 32 * static_cast<size_t>(SumChunks(w));
    }
    uint8_t *upMx = quads.get(), *upMn = upMx + cells, *loMx = upMn + cells, *loMn = loMx + cells;
    Filter::RollWindow(
        h, [&](int slot, int32_t y) { Line121Avx2(buf[slot], src.Line(y), w); },
        [&](int32_t y, int up, int mid, int down) {
            Filter121Avx2(lines4.Line(y % 4), buf[up], buf[mid], buf[down], w);
            const int32_t strip = y / 4;
            if (y % 4 != 3 || strip > H) return;
            QuadMaxMin(lines4.Line(0), lines4.sync, w, W + 1, loMx, loMn);
            if (strip > 0) {
                uint8_t* M = mixed.Line(strip - 1);
                std::memset(M, 128, static_cast<size_t>(mixed.sync));
                BlockMidranges(M, upMx, upMn, loMx, loMn, W);
            }
            std::swap(upMx, loMx);
            std::swap(upMn, loMn);
        });
}
#endif

// Statistics of the 4 x 4 cells of one strip of four lines: a block of the
// grid is two cells of two neighbouring strips, so each pixel is read once
// for the statistics of the four blocks it belongs to.
struct StripCells {
    uint32_t *sum, *hIn, *hCross, *vIn, *vCross, *mx, *mn;
    // hIn: |right - left| of the 3 pairs inside the cell, 4 lines; hCross:
    // of the pair into the next cell (0 at the image's edge); vIn: of the 3
    // line pairs, 4 columns; vCross: from the last line to the line below
    // the strip (0 when there is none).
    static size_t Words(int32_t cells) { return 7 * (static_cast<size_t>(cells) + 8); }
    StripCells(uint32_t* p, int32_t cells) {
        const size_t n = static_cast<size_t>(cells) + 8;
        uint32_t** fields[7] = {&sum, &hIn, &hCross, &vIn, &vCross, &mx, &mn};
        for (size_t f = 0; f < 7; ++f) *fields[f] = p + f * n;
    }
};

void StripCellScalar(const uint8_t* top, int32_t sync, int32_t width, bool below, int32_t c,
                     const StripCells& out) {
    uint32_t sum = 0, hIn = 0, hCross = 0, vIn = 0, vCross = 0;
    int32_t mx = 0, mn = 255;
    for (int32_t y = 0; y < 4; ++y) {
        const uint8_t* r = top + int64_t{y} * sync;
        for (int32_t x = 4 * c; x < 4 * c + 4; ++x) {
            const int32_t v = r[x];
            sum += static_cast<uint32_t>(v);
            mx = std::max(mx, v);
            mn = std::min(mn, v);
            if (y < 3)
                vIn += static_cast<uint32_t>(AbsDiff(r[x + sync], v));
            else if (below)
                vCross += static_cast<uint32_t>(AbsDiff(r[x + sync], v));
            if (x < 4 * c + 3)
                hIn += static_cast<uint32_t>(AbsDiff(r[x + 1], v));
            else if (x + 1 < width)
                hCross += static_cast<uint32_t>(AbsDiff(r[x + 1], v));
        }
    }
    out.sum[c] = sum;
    out.hIn[c] = hIn;
    out.hCross[c] = hCross;
    out.vIn[c] = vIn;
    out.vCross[c] = vCross;
    out.mx[c] = static_cast<uint32_t>(mx);
    out.mn[c] = static_cast<uint32_t>(mn);
}

#if defined(__SSE2__)
using ComplementEdge::Load32;
KD_AVX2 inline __m256i AbsDiffU8(__m256i a, __m256i b) {
    return _mm256_or_si256(_mm256_subs_epu8(a, b), _mm256_subs_epu8(b, a));
}
// The 16-bit pair sums of eight cells as the cells' 32-bit sums.
KD_AVX2 inline void PutCellSums(uint32_t* to, __m256i pairs16) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(to),
                        _mm256_madd_epi16(pairs16, _mm256_set1_epi16(1)));
}
// Eight cells (32 columns from 4c; columns up to 4c + 32 readable, and the
// line below the strip when `below`).
KD_AVX2 void StripCells8(const uint8_t* top, int32_t sync, bool below, int32_t c,
                         const StripCells& out) {
    const uint8_t* p = top + 4 * c;
    const __m256i ones = _mm256_set1_epi8(1);
    const __m256i inner = _mm256_set1_epi32(0x00010101); // pairs 0-2 of a cell
    const __m256i last = _mm256_set1_epi32(0x01000000);  // pair 3, into the next cell
    __m256i sum = _mm256_setzero_si256(), hIn = sum, hCross = sum, vIn = sum;
    __m256i cur = Load32(p), mx = cur, mn = cur;
    for (int32_t y = 0; y < 4; ++y) {
        const uint8_t* r = p + int64_t{y} * sync;
        const __m256i h = AbsDiffU8(cur, Load32(r + 1));
        // Pair sums of bytes in 16-bit lanes: at most 4 lines x 2 x 255.
        sum = _mm256_add_epi16(sum, _mm256_maddubs_epi16(cur, ones));
        hIn = _mm256_add_epi16(hIn, _mm256_maddubs_epi16(h, inner));
        hCross = _mm256_add_epi16(hCross, _mm256_maddubs_epi16(h, last));
        if (y < 3) {
            const __m256i next = Load32(r + sync);
            vIn = _mm256_add_epi16(vIn, _mm256_maddubs_epi16(AbsDiffU8(next, cur), ones));
            mx = _mm256_max_epu8(mx, next);
            mn = _mm256_min_epu8(mn, next);
            cur = next;
        }
    }
    PutCellSums(out.sum + c, sum);
    PutCellSums(out.hIn + c, hIn);
    PutCellSums(out.hCross + c, hCross);
    PutCellSums(out.vIn + c, vIn);
    __m256i vCross = _mm256_setzero_si256();
    if (below)
        vCross = _mm256_maddubs_epi16(AbsDiffU8(Load32(p + int64_t{4} * sync), cur), ones);
    PutCellSums(out.vCross + c, vCross);
    GroupMaxMin(mx, mn);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out.mx + c), mx);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out.mn + c), mn);
}

// The cells 0..cells-1 of the strip from top.
KD_AVX2 void StripCellsAvx2(const uint8_t* top, int32_t sync, int32_t width, bool below,
                            int32_t cells, const StripCells& out) {
    int32_t c = 0;
    for (; c + 8 <= cells && 4 * c + 33 <= width; c += 8) StripCells8(top, sync, below, c, out);
    for (; c < cells; ++c) StripCellScalar(top, sync, width, below, c, out);
}

KD_AVX2 inline __m256i At8(const uint32_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

KD_AVX2 inline __m256i Pick8(__m256i mask, __m256i a, __m256i b) { // mask ? a : b
    return _mm256_blendv_epi8(b, a, mask);
}

// Blocks 0..count-1 of the block row between two strips, their class codes
// and midranges, as GetBlockInfo and ClassifyRow give them; each strip has
// count + 1 cells.
KD_AVX2 void BlocksFromStrips(const StripCells& up, const StripCells& lo, int32_t count,
                              const BlockThresholds& th, uint8_t* codes, uint8_t* M) {
    // G and V stay below 2^15: thresholds clamped to 2^15 - 1 compare the
    // same, and signed.
    const auto limit = [](uint32_t t) { return static_cast<int>(std::min<uint32_t>(t, 0x7FFF)); };
    const __m256i a8 = _mm256_set1_epi32(limit(th.a8)), b8 = _mm256_set1_epi32(limit(th.b8));
    const __m256i c8 = _mm256_set1_epi32(limit(th.c8)), t8 = _mm256_set1_epi32(limit(th.t8));
    int32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256i q00 = At8(up.sum + i), q01 = At8(up.sum + i + 1);
        const __m256i q10 = At8(lo.sum + i), q11 = At8(lo.sum + i + 1);
        const __m256i g = _mm256_add_epi32(
            _mm256_abs_epi32(_mm256_sub_epi32(_mm256_add_epi32(q00, q01), _mm256_add_epi32(q10, q11))),
            _mm256_abs_epi32(_mm256_sub_epi32(_mm256_add_epi32(q00, q10), _mm256_add_epi32(q01, q11))));
        __m256i v = _mm256_add_epi32(_mm256_add_epi32(At8(up.hIn + i), At8(up.hCross + i)),
                                     _mm256_add_epi32(At8(up.hIn + i + 1), At8(lo.hIn + i)));
        v = _mm256_add_epi32(v, _mm256_add_epi32(At8(lo.hCross + i), At8(lo.hIn + i + 1)));
        v = _mm256_add_epi32(v, _mm256_add_epi32(At8(up.vIn + i), At8(up.vIn + i + 1)));
        v = _mm256_add_epi32(v, _mm256_add_epi32(At8(up.vCross + i), At8(up.vCross + i + 1)));
        v = _mm256_add_epi32(v, _mm256_add_epi32(At8(lo.vIn + i), At8(lo.vIn + i + 1)));
        const __m256i mx = _mm256_max_epu32(_mm256_max_epu32(At8(up.mx + i), At8(up.mx + i + 1)),
                                            _mm256_max_epu32(At8(lo.mx + i), At8(lo.mx + i + 1)));
        const __m256i mn = _mm256_min_epu32(_mm256_min_epu32(At8(up.mn + i), At8(up.mn + i + 1)),
                                            _mm256_min_epu32(At8(lo.mn + i), At8(lo.mn + i + 1)));
        const __m256i m = _mm256_srli_epi32(_mm256_add_epi32(mx, mn), 1);
        const __m256i busy = Pick8(_mm256_cmpgt_epi32(g, c8), _mm256_set1_epi32(kCodeBusyContrast),
                                   _mm256_set1_epi32(kCodeBusy));
        const __m256i quiet =
            _mm256_and_si256(_mm256_cmpgt_epi32(g, b8), _mm256_set1_epi32(kCodeWeakEdge));
        const __m256i code = Pick8(_mm256_cmpgt_epi32(g, a8), _mm256_set1_epi32(kCodeStrongEdge),
                                   Pick8(_mm256_cmpgt_epi32(v, t8), busy, quiet));
        // Codes and midranges to bytes: lane k of each 128-bit half to byte
        // k of the half's first four (codes) and next four (midranges).
        const __m256i both = _mm256_packus_epi16(_mm256_packs_epi32(code, m), code);
        const uint64_t lo4 = static_cast<uint64_t>(_mm256_extract_epi64(both, 0));
        const uint64_t hi4 = static_cast<uint64_t>(_mm256_extract_epi64(both, 2));
        const uint32_t c0 = static_cast<uint32_t>(lo4), c1 = static_cast<uint32_t>(hi4);
        const uint32_t m0 = static_cast<uint32_t>(lo4 >> 32), m1 = static_cast<uint32_t>(hi4 >> 32);
        std::memcpy(codes + i, &c0, 4);
        std::memcpy(codes + i + 4, &c1, 4);
        std::memcpy(M + i, &m0, 4);
        std::memcpy(M + i + 4, &m1, 4);
    }
    for (; i < count; ++i) {
        const int32_t q00 = static_cast<int32_t>(up.sum[i]), q01 = static_cast<int32_t>(up.sum[i + 1]);
        const int32_t q10 = static_cast<int32_t>(lo.sum[i]), q11 = static_cast<int32_t>(lo.sum[i + 1]);
        const auto g = static_cast<uint32_t>(std::abs((q00 + q01) - (q10 + q11)) +
                                             std::abs((q00 + q10) - (q01 + q11)));
        const auto v = static_cast<uint32_t>(up.hIn[i] + up.hCross[i] + up.hIn[i + 1] + lo.hIn[i] +
                                     lo.hCross[i] + lo.hIn[i + 1] + up.vIn[i] + up.vIn[i + 1] +
                                     up.vCross[i] + up.vCross[i + 1] + lo.vIn[i] + lo.vIn[i + 1]);
        const uint32_t mx = std::max({up.mx[i], up.mx[i + 1], lo.mx[i], lo.mx[i + 1]});
        const uint32_t mn = std::min({up.mn[i], up.mn[i + 1], lo.mn[i], lo.mn[i + 1]});
        M[i] = static_cast<uint8_t>((mx + mn) / 2);
        codes[i] = th.Classify(g, v);
    }
}

// Class codes and midranges of every block row, each strip of the source
// read once.
KD_AVX2 void ClassifyByStrips(ComplementEdge::CellGrid& grid, const ImagePlane& edgeSlice,
                              const ImagePlane& src, const BlockThresholds& th) {
    const int32_t W = grid.width, H = grid.height, cells = W + 1;
    auto store = NewArray<uint32_t>(2 * StripCells::Words(cells));
    if (!store) throw kIpErrNoMemory;
    StripCells up(store.get(), cells), lo(store.get() + StripCells::Words(cells), cells);
    const auto strip = [&](int32_t s, const StripCells& out) {
        StripCellsAvx2(src.Line(4 * s), src.sync, src.width, 4 * s + 4 < src.height, cells, out);
    };
    strip(0, up);
    for (int32_t j = 0; j < H; ++j) {
        strip(j + 1, lo);
        BlocksFromStrips(up, lo, W, th, grid.p + static_cast<size_t>(j) * W, edgeSlice.Line(j));
        std::swap(up, lo);
    }
}
#endif

// The first cell from x on in row y whose code is one of a and b, or the
// width.
int32_t NextOf(const ComplementEdge::CellGrid& g, int32_t x, int32_t y, uint8_t a, uint8_t b) {
    const uint8_t* row = g.p + static_cast<size_t>(y) * g.width;
#if defined(__SSE2__)
    const __m128i va = _mm_set1_epi8(static_cast<char>(a)), vb = _mm_set1_epi8(static_cast<char>(b));
    for (; x + 16 <= g.width; x += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x));
        const int m = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, va), _mm_cmpeq_epi8(v, vb)));
        if (m != 0) return x + std::countr_zero(static_cast<unsigned>(m));
    }
#endif
    for (; x < g.width; ++x)
        if (row[x] == a || row[x] == b) return x;
    return g.width;
}

// Sets need[] for every busy cell (12, 14) and its eight neighbours;
// returns how many are set.
int64_t MarkBusyNeighbourhoods(uint8_t* need, const ComplementEdge::CellGrid& g) {
    int64_t count = 0;
    for (int32_t y = 0; y < g.height; ++y)
        for (int32_t x = 0; (x = NextOf(g, x, y, kCodeBusyContrast, kCodeBusy)) < g.width; ++x) {
            for (int32_t ny = std::max(y - 1, 0); ny <= std::min(y + 1, g.height - 1); ++ny)
                for (int32_t nx = std::max(x - 1, 0); nx <= std::min(x + 1, g.width - 1); ++nx) {
                    uint8_t& n = need[static_cast<size_t>(ny) * g.width + nx];
                    count += n == 0;
                    n = 1;
                }
        }
    return count;
}

// IpEdgeCorrection on a grid: the rough map in lane words straight from the
// cells, filtered, and every cell whose bit the filter changed switched.
bool EdgeCorrectionGrid(ComplementEdge::CellGrid& g) {
    RunLenFilter::LaneImage lanes(g.width, g.height);
    const int32_t words = lanes.Words();
    auto rough = NewArray<uint64_t>(static_cast<size_t>(words) * g.height);
    if (!rough || !lanes.Make()) return false;
    for (int32_t y = 0; y < g.height; ++y) {
        uint64_t* r = rough.get() + static_cast<size_t>(y) * words;
        EdgeCorrection::RoughLanes(r, g.p + int64_t{y} * g.width, g.width);
        std::memcpy(lanes.Row(y), r, static_cast<size_t>(words) * sizeof(uint64_t));
    }
    lanes.Filter();
    for (int32_t y = 0; y < g.height; ++y) {
        const uint64_t* r = rough.get() + static_cast<size_t>(y) * words;
        const uint64_t* f = lanes.Row(y);
        for (int32_t k = 0; k < words; ++k)
            for (uint64_t d = r[k] ^ f[k]; d != 0; d &= d - 1) {
                const int32_t x = 64 * k + std::countr_zero(d);
                g.Set(x, y, EdgeCorrection::FeedbackCode(g.Get(x, y)));
            }
    }
    return true;
}

void InvertBuffer(const ImagePlane& dst) {
    const size_t size = static_cast<size_t>(dst.sync) * dst.height;
    for (size_t i = 0; i < size; ++i) dst.p[i] = static_cast<uint8_t>(~dst.p[i]);
}

// Steps 8 to 10: clear the destination, compare every pixel of `pixels`
// with the threshold surface interpolated from the block levels, invert.
void ThresholdSurface(const ImagePlane& dst, const ImagePlane& pixels, const ImagePlane& levels) {
    const int32_t w = pixels.width, h = pixels.height, W = levels.width, H = levels.height;
    auto lines = NewArray<uint8_t>(2 * static_cast<size_t>(w));
    if (!lines) throw kIpErrNoMemory;
    std::memset(dst.p, 0, static_cast<size_t>(dst.sync) * dst.height);
    uint8_t* upper = lines.get();
    uint8_t* lower = lines.get() + w;
    Hokan::Hokan(lower, w, levels.Line(0), 4, W);
    for (int32_t y = 0; y < std::min(h, 4); ++y)
        Hokan::Binalise(dst.Line(y), pixels.Line(y), lower, lower, w, 0);
    for (int32_t y = 4; y < h; ++y) {
        const int32_t k = y / 4, phase = y % 4;
        if (phase == 0) {
            std::swap(upper, lower);
            Hokan::Hokan(lower, w, levels.Line(std::min(k, H - 1)), 4, W);
        }
        Hokan::Binalise(dst.Line(y), pixels.Line(y), upper, lower, w, phase);
    }
    InvertBuffer(dst);
}

#if defined(__SSE2__)
// One destination line of the mixed threshold step: pixel x is the source's
// where copy[x / 4] is set, else the smoothed one; its bit is set when it
// is below the phase's threshold (the compare and the inversion at once).
// Bits beyond the width and bytes up to `bytes` are set, as the inversion
// of the cleared destination leaves them.
KD_AVX2 void BinaliseMixedAvx2(uint8_t* dst, int32_t bytes, const uint8_t* src, const uint8_t* avg,
                               const uint8_t* a, const uint8_t* b, const uint8_t* copy, int32_t w,
                               int phase) {
    // Pixel k of each group of eight into bit 7 - k of its byte's movemask.
    const __m256i reverse = _mm256_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8,
                                             7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8);
    const __m256i spread = _mm256_setr_epi8(0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4,
                                            4, 4, 5, 5, 5, 5, 6, 6, 6, 6, 7, 7, 7, 7);
    int32_t x = 0;
    for (; x + 32 <= w; x += 32) {
        const __m256i va = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + x));
        const __m256i vb = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + x));
        __m256i t;
        switch (phase) {
        case 0:
            t = va;
            break;
        case 1:
            t = _mm256_avg_epu8(va, _mm256_avg_epu8(va, vb));
            break;
        case 2:
            t = _mm256_avg_epu8(va, vb);
            break;
        default:
            t = _mm256_avg_epu8(vb, _mm256_avg_epu8(va, vb));
            break;
        }
        int64_t cells;
        std::memcpy(&cells, copy + x / 4, 8);
        // Each cell flag on its four pixels (cells 0-3 from the low lane, 4-7
        // from the high one).
        const __m256i m = _mm256_shuffle_epi8(
            _mm256_setr_epi64x(cells, 0, cells, 0), spread);
        const __m256i p = _mm256_blendv_epi8(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(avg + x)),
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + x)), m);
        const __m256i ge = _mm256_cmpeq_epi8(_mm256_max_epu8(p, t), p);
        const uint32_t bits =
            ~static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_shuffle_epi8(ge, reverse)));
        std::memcpy(dst + x / 8, &bits, 4);
    }
    std::memset(dst + x / 8, 0xFF, static_cast<size_t>(bytes - x / 8));
    for (; x < w; ++x) {
        const uint8_t p = (copy[x / 4] != 0 ? src : avg)[x];
        if (p >= Hokan::PhaseThreshold(a[x], b[x], phase)) BitPack::ClearBit(dst, x);
    }
}

// One pixel of the smoothed source, as FilterFunc gives it: the edges
// repeat their pixel, as the line sums and the filter do.
inline uint8_t SmoothedPixel(const ImagePlane& src, int32_t x, int32_t y) {
    const int32_t w = src.width, h = src.height;
    const auto sum = [&](int32_t r) {
        const uint8_t* s = src.Line(std::clamp(r, 0, h - 1));
        return s[std::max(x - 1, 0)] + 2 * s[x] + s[std::min(x + 1, w - 1)];
    };
    return static_cast<uint8_t>((sum(y - 1) + 2 * sum(y) + sum(y + 1)) >> 4);
}

// The midrange of the smoothed pixels of block (i, j), as
// IpDetectAveAndSlice gives it.
uint8_t SmoothedMidrange(const ImagePlane& src, int32_t i, int32_t j) {
    int32_t mx = 0, mn = 255;
    for (int32_t y = 4 * j; y < 4 * j + 8; ++y)
        for (int32_t x = 4 * i; x < 4 * i + 8; ++x) {
            const int32_t v = SmoothedPixel(src, x, y);
            mx = std::max(mx, v);
            mn = std::min(mn, v);
        }
    return static_cast<uint8_t>((mx + mn) / 2);
}

// Smoothed lines of the source on demand, as FilterFunc gives them: whole,
// or only the pixels right of the block grid (from `margin` on).
class SmoothedLines {
public:
    explicit SmoothedLines(const ImagePlane& src) : src_(src) {
        const int32_t w = src.width;
        lineWords_ = 32 * static_cast<size_t>(SumChunks(w)) + static_cast<size_t>(w);
        sums_ = NewArray<uint16_t>(3 * lineWords_);
        line_ = NewArray<uint8_t>(static_cast<size_t>(w) + 32, true);
        if (!sums_ || !line_) throw kIpErrNoMemory;
    }
    KD_AVX2 const uint8_t* Whole(int32_t y) {
        const int32_t h = src_.height;
        Filter121Avx2(line_.get(), Sums(std::max(y - 1, 0)), Sums(y), Sums(std::min(y + 1, h - 1)),
                      src_.width);
        return line_.get();
    }
    const uint8_t* Margin(int32_t y, int32_t margin) {
        for (int32_t x = margin; x < src_.width; ++x) line_[x] = SmoothedPixel(src_, x, y);
        return line_.get();
    }

private:
    // The line sums of source line r, made once while they are needed.
    KD_AVX2 SumLine Sums(int32_t r) {
        const size_t slot = static_cast<size_t>(r % 3);
        SumLine line{sums_.get() + slot * lineWords_, nullptr};
        line.plain = line.chunks + 32 * static_cast<size_t>(SumChunks(src_.width));
        if (rowOf_[slot] != r) {
            Line121Avx2(line, src_.Line(r), src_.width);
            rowOf_[slot] = r;
        }
        return line;
    }

    const ImagePlane& src_;
    size_t lineWords_ = 0;
    std::unique_ptr<uint16_t[]> sums_;
    std::unique_ptr<uint8_t[]> line_;
    int32_t rowOf_[3] = {-1, -1, -1};
};

// ThresholdSurface of the mixed pixels, without the mixed plane: copy holds
// a row of cell flags (stride bytes, zero from cell W on) for each block row.
KD_AVX2 void ThresholdSurfaceMixed(const ImagePlane& dst, const ImagePlane& src,
                                   const ImagePlane& levels, const uint8_t* copy, int32_t stride,
                                   const uint8_t* noCopy) {
    const int32_t w = src.width, h = src.height, W = levels.width, H = levels.height;
    auto lines = NewArray<uint8_t>(2 * static_cast<size_t>(w));
    if (!lines) throw kIpErrNoMemory;
    uint8_t* upper = lines.get();
    uint8_t* lower = lines.get() + w;
    SmoothedLines smoothed(src);
    const auto row = [&](int32_t y, const uint8_t* a, const uint8_t* b, int phase) {
        const uint8_t* cells = y < 4 * H ? copy + static_cast<size_t>(y / 4) * stride : noCopy;
        // Only where a cell keeps its smoothed pixels is the line smoothed
        // whole; right of the grid it always is.
        const bool whole = std::memchr(cells, 0, static_cast<size_t>(W)) != nullptr;
        const uint8_t* avg = whole ? smoothed.Whole(y) : smoothed.Margin(y, 4 * W);
        BinaliseMixedAvx2(dst.Line(y), dst.sync, src.Line(y), avg, a, b, cells, w, phase);
    };
    Hokan::Hokan(lower, w, levels.Line(0), 4, W);
    for (int32_t y = 0; y < std::min(h, 4); ++y) row(y, lower, lower, 0);
    for (int32_t y = 4; y < h; ++y) {
        const int32_t k = y / 4, phase = y % 4;
        if (phase == 0) {
            std::swap(upper, lower);
            Hokan::Hokan(lower, w, levels.Line(std::min(k, H - 1)), 4, W);
        }
        row(y, upper, lower, phase);
    }
}
#endif

} // namespace

int AdaptRegionBin(const ImagePlane& dst, const ImagePlane& src, uint32_t A, uint32_t B, uint32_t C,
                   uint32_t T, uint32_t D, uint32_t E) {
    const int32_t w = src.width, h = src.height;
    if (w <= 0 || h <= 0) return 0;
    const uint8_t levelD = static_cast<uint8_t>(D);
    const uint8_t levelE = static_cast<uint8_t>(E);
    if (w < 8 || h < 8) {
        // No block fits: every pixel is treated as part of one flat block,
        // compared with the flat level D as a flat block would be.
        auto flat = NewArray<uint8_t>(static_cast<size_t>(ByteSync(1)));
        if (!flat) throw kIpErrNoMemory;
        flat[0] = levelD;
        ThresholdSurface(dst, src, ImagePlane{flat.get(), 1, 1, ByteSync(1)});
        return 1;
    }

    const int32_t W = BlockCount(w), H = BlockCount(h); // at least 1 each from here

    // Work images; any that cannot be made fails the kind before the
    // destination is touched.
    bool avx2 = false;
#if defined(__SSE2__)
    avx2 = IsSSE2FeatureAvailable() && IsAVX2FeatureAvailable();
#endif
    // The AVX2 form keeps four smoothed lines, not the smoothed page.
    const int32_t averageLines = avx2 ? 4 : h;
    const bool portable = !IsSSE2FeatureAvailable();
    EdgeMap edge{nullptr, W, H, EdgeMapSync(W)};
    // The packed map only for the portable form; the others keep a byte a cell.
    auto edgeBuf = NewArray<uint8_t>(portable ? static_cast<size_t>(edge.sync) * H : 1, true);
    // A spare line of 64 bytes after the edge slices for the vector reads.
    auto edgeSliceBuf = NewArray<uint8_t>(static_cast<size_t>(ByteSync(W)) * H + 64, true);
    auto mixedBuf = NewArray<uint8_t>(static_cast<size_t>(ByteSync(W)) * H, true);
    auto averageBuf = NewArray<uint8_t>(static_cast<size_t>(ByteSync(w)) * averageLines);
    if (!edgeBuf || !edgeSliceBuf || !mixedBuf || !averageBuf) return 0;
    edge.p = edgeBuf.get();
    const ImagePlane edgeSlice{edgeSliceBuf.get(), W, H, ByteSync(W)};
    const ImagePlane mixed{mixedBuf.get(), W, H, ByteSync(W)};
    const ImagePlane average{averageBuf.get(), w, averageLines, ByteSync(w)};

    if (portable) {
        // The portable form, step by step on the packed map: the reference
        // of the one below.
        IpDetectEdgeInfoAndSlice(edge, edgeSlice, src, A, B, C, T);
        IpEdgeCorrection(edge); // when it cannot run the map stays as classified
        IpDetectAveAndSlice(average, mixed, src);
        ComplementEdge::CompEdgeInfo(edge, edgeSlice, mixed);
        MixImage::MixtureSrc(average, src, mixed, edge, edgeSlice, levelD, levelE);
        ThresholdSurface(dst, average, mixed);
        return 1;
    }
    // The same steps on one byte per cell, never packed.
    auto gridBuf = NewArray<uint8_t>(static_cast<size_t>(W) * H + ComplementEdge::kGridSpare, true);
    if (!gridBuf) return 0;
    ComplementEdge::CellGrid grid{gridBuf.get(), W, H};
    const BlockThresholds th(A, B, C, T);
#if defined(__SSE2__)
    if (avx2) {
        ClassifyByStrips(grid, edgeSlice, src, th);
    } else
#endif
    {
        auto g = NewArray<uint16_t>(2 * static_cast<size_t>(W));
        if (!g) throw kIpErrNoMemory;
        uint16_t* v = g.get() + W;
        for (int32_t j = 0; j < H; ++j) {
            GetBlockInfo(src.Line(4 * j), src.sync, w, W, g.get(), v, edgeSlice.Line(j));
            ClassifyRow(grid.p + static_cast<size_t>(j) * W, g.get(), v, W, th);
        }
    }
    EdgeCorrectionGrid(grid);
#if defined(__SSE2__)
    if (avx2) {
        ComplementEdge::IsolateGrid(grid);
        // The smoothed midranges are read only for busy cells (12, and 11
        // from its busy neighbours in the strain step): with few busy cells
        // they are made for those blocks alone.
        auto need = NewArray<uint8_t>(static_cast<size_t>(W) * H, true);
        if (!need) throw kIpErrNoMemory;
        const bool few = MarkBusyNeighbourhoods(need.get(), grid) * 256 < int64_t{W} * H;
        if (few) {
            for (int32_t j = 0; j < H; ++j) {
                const uint8_t* row = need.get() + static_cast<size_t>(j) * W;
                for (const uint8_t* at = row; (at = static_cast<const uint8_t*>(std::memchr(
                                                   at, 1, static_cast<size_t>(row + W - at)))) != nullptr;
                     ++at)
                    mixed.Line(j)[at - row] = SmoothedMidrange(src, static_cast<int32_t>(at - row), j);
            }
        } else {
            SmoothAndSliceAvx2(average, mixed, src);
        }
        ComplementEdge::StrainGrid(grid, edgeSlice, mixed, true);
        // A strong edge the strain step made busy reads its own.
        if (few)
            for (int32_t j = 0; j < H; ++j)
                for (int32_t i = 0; (i = NextOf(grid, i, j, kCodeBusyContrast, kCodeBusyContrast)) < W;
                     ++i)
                    if (!need[static_cast<size_t>(j) * W + i]) mixed.Line(j)[i] = SmoothedMidrange(src, i, j);
    } else
#endif
    {
        IpDetectAveAndSlice(average, mixed, src);
        ComplementEdge::CompEdgeInfoGrid(grid, edgeSlice, mixed, true);
    }
#if defined(__SSE2__)
    if (avx2) {
        // The mixing step's pixel choice is made in the compare.
        const int32_t stride = W + 16;
        auto copy = NewArray<uint8_t>(static_cast<size_t>(stride) * (H + 1), true);
        if (!copy) throw kIpErrNoMemory;
        for (int32_t j = 0; j < H; ++j)
            MixImage::MixLevelsRow(mixed.Line(j), copy.get() + static_cast<size_t>(j) * stride,
                                   grid.p + static_cast<size_t>(j) * W, edgeSlice.Line(j), W,
                                   levelD, levelE);
        ThresholdSurfaceMixed(dst, src, mixed, copy.get(), stride,
                              copy.get() + static_cast<size_t>(H) * stride);
        return 1;
    }
#endif
    MixImage::MixtureSrcT(average, src, mixed, grid, edgeSlice, levelD, levelE);
    ThresholdSurface(dst, average, mixed);
    return 1;
}

} // namespace AdaptRegionBin

// ---------------------------------------------------------------------------
// Kinds 8 and 10 through the handle interface

int CBFuncBlockGrid::Start(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagBINFUNCINFO* info) {
    m_lSrcBps = src->lBps;
    m_lSrcSpp = src->lSpp;
    return CBFunc::Start(dst, src, info);
}

void CBFuncBlockGrid::Rect() {
    if (m_lSrcBps != 8 || m_lSrcSpp != 1 || m_lWidth <= 0 || m_lHeight <= 0) {
        IpSetLastError(kIpErrCannotRun);
        return;
    }
    const AdaptParams prm = MakeAdaptParams(m_lFirstSlice, m_lNextSlice);
    const ImagePlane src{m_pSrc, m_lWidth, m_lHeight, m_lSrcSync};
    const ImagePlane dst{m_pDst, m_lWidth, m_lHeight, m_lDstSync};
    try {
        if (RunKind(dst, src, prm) == 0) IpSetLastError(kIpErrCannotRun);
    } catch (uint32_t code) {
        IpSetLastError(code);
    }
}

int CBFuncAdaptRegion::RunKind(const ImagePlane& dst, const ImagePlane& src,
                               const AdaptParams& prm) {
    return AdaptRegionBin::AdaptRegionBin(dst, src, prm.A, prm.B, prm.C, prm.T, prm.D, prm.E);
}
