// Deskew and cut-out of a page from its four corners, in one pass over the
// scanner's bands with a small window of source lines. Geometry is in fixed
// point with 12 fraction bits.
#include "RotateImage.h"

#include "DetectTextSlant.h"
#include "ImageCheck.h"
#include "TvkIpError.h"
#include "VectorTarget.h"
#include "WorkImage.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr uint32_t kOk = 0;

// Divisions rounding down and up for a positive divisor.
int64_t FloorDiv(int64_t a, int64_t b) {
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}
int64_t CeilDiv(int64_t a, int64_t b) {
    return a >= 0 ? (a + b - 1) / b : -((-a) / b);
}

// Length of an edge; one parallel to an axis is the difference itself.
int32_t EdgeLength(const Tvk::tagPOINT& a, const Tvk::tagPOINT& b) {
    const int64_t dx = int64_t{b.x} - a.x;
    const int64_t dy = int64_t{b.y} - a.y;
    if (dx == 0 || dy == 0) return static_cast<int32_t>(std::llabs(dx) + std::llabs(dy));
    return get_vector_length(dx, dy);
}

int32_t SourceBits(const tagTVKIMAGEINFO& img) {
    return Clamp32(int64_t{img.lBps} * img.lSpp);
}

// Bilinear sample of one pixel: ((p00 (1 - fx) + p01 fx) (1 - fy) + (p10 (1 - fx) + p11 fx) fy)
// in 1/4096 steps, written with the four corner weights (the same integer).
// The sum reaches 255 x 2^24, which only unsigned 32-bit arithmetic holds.
template <int Spp>
inline void SamplePixel(uint8_t* out, const uint8_t* r0, const uint8_t* r1, int64_t x, int64_t y) {
    const int64_t c = (x >> kRotateShift) * Spp;
    const uint32_t fx = static_cast<uint32_t>(x & (kRotateOne - 1));
    const uint32_t fy = static_cast<uint32_t>(y & (kRotateOne - 1));
    const uint32_t gx = kRotateOne - fx;
    const uint32_t gy = kRotateOne - fy;
    const uint32_t w00 = gx * gy, w01 = fx * gy, w10 = gx * fy, w11 = fx * fy;
    const uint8_t* a = r0 + c;
    const uint8_t* b = r1 + c;
    for (int s = 0; s < Spp; ++s) {
        const uint32_t v = a[s] * w00 + a[s + Spp] * w01 + b[s] * w10 + b[s + Spp] * w11;
        out[s] = static_cast<uint8_t>(v >> (2 * kRotateShift));
    }
}

// The same sample as SamplePixel, interpolated across then down:
// h0 = p00 (1 - fx) + p01 fx = p00 4096 + (p01 - p00) fx, likewise h1, and
// h0 (1 - fy) + h1 fy = h0 4096 + (h1 - h0) fy. Each true value lies in
// [0, 2^32), so unsigned wrap-around arithmetic gives it exactly: the same
// integer as the corner-weight form, with three products per sample.
template <int Spp>
inline void SampleAcrossThenDown(uint8_t* out, const uint8_t* a, const uint8_t* b, uint32_t fx,
                                 uint32_t fy) {
#pragma GCC unroll 3
    for (int s = 0; s < Spp; ++s) {
        const uint32_t h0 = (uint32_t{a[s]} << kRotateShift) + (uint32_t{a[s + Spp]} - a[s]) * fx;
        const uint32_t h1 = (uint32_t{b[s]} << kRotateShift) + (uint32_t{b[s + Spp]} - b[s]) * fx;
        out[s] =
            static_cast<uint8_t>(((h0 << kRotateShift) + (h1 - h0) * fy) >> (2 * kRotateShift));
    }
}

#if defined(__SSE2__)
// Four samples of SampleAcrossThenDown, the same integers, from their
// neighbour pairs (sample, right neighbour) as 16-bit words in the upper (qa)
// and lower (qb) row and their weight pairs across (wx) and down (wy).
// Across, h = p0 (4096 - fx) + p1 fx (below 2^20) is one multiply-add of
// 16-bit words. Down, h splits into 4096 hi + lo with hi below 256 and lo
// below 4096, so that
// h0 (4096 - fy) + h1 fy = 4096 (hi0 gy + hi1 fy) + (lo0 gy + lo1 fy)
// is two more; the sum stays below 2^32 and is shifted as unsigned.
inline __m128i FourSamples(__m128i qa, __m128i qb, __m128i wx, __m128i wy) {
    const __m128i low12 = _mm_set1_epi32(kRotateOne - 1);
    const __m128i h0 = _mm_madd_epi16(qa, wx);
    const __m128i h1 = _mm_madd_epi16(qb, wx);
    const __m128i hi = _mm_or_si128(_mm_srli_epi32(h0, kRotateShift),
                                    _mm_slli_epi32(_mm_srli_epi32(h1, kRotateShift), 16));
    const __m128i lo =
        _mm_or_si128(_mm_and_si128(h0, low12), _mm_slli_epi32(_mm_and_si128(h1, low12), 16));
    const __m128i sum =
        _mm_add_epi32(_mm_slli_epi32(_mm_madd_epi16(hi, wy), kRotateShift), _mm_madd_epi16(lo, wy));
    return _mm_srli_epi32(sum, 2 * kRotateShift);
}

// Weight pairs (4096 - f, f) as 16-bit words of the fractions f0, f0 + d,
// f0 + 2d and f0 + 3d.
inline __m128i FourWeightPairs(uint32_t f0, int32_t d) {
    const __m128i f =
        _mm_add_epi32(_mm_set1_epi32(static_cast<int32_t>(f0)), _mm_setr_epi32(0, d, 2 * d, 3 * d));
    return _mm_or_si128(_mm_sub_epi32(_mm_set1_epi32(kRotateOne), f), _mm_slli_epi32(f, 16));
}

// Bytes 0 to 14 of p in the low fifteen bytes, read without touching p[15].
inline __m128i LoadFifteen(const uint8_t* p) {
    const __m128i lo = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
    const __m128i hi = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + 7));
    return _mm_unpacklo_epi64(lo, _mm_srli_epi64(hi, 8));
}

// The twelve samples of four colour pixels on consecutive columns from p,
// each beside its right neighbour (three bytes on): samples 0-3, 4-7, 8-11.
inline void ColourPairs(const uint8_t* p, __m128i (&q)[3]) {
    const __m128i v = LoadFifteen(p);
    const __m128i s = _mm_srli_si128(v, 3);
    const __m128i lo = _mm_unpacklo_epi8(v, s);
    const __m128i z = _mm_setzero_si128();
    q[0] = _mm_unpacklo_epi8(lo, z);
    q[1] = _mm_unpackhi_epi8(lo, z);
    q[2] = _mm_unpacklo_epi8(_mm_unpackhi_epi8(v, s), z);
}

// The eight samples of eight gray pixels on consecutive columns from p, each
// beside its right neighbour: samples 0-3 and 4-7.
inline void GrayPairs(const uint8_t* p, __m128i (&q)[2]) {
    const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
    const __m128i n = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + 1));
    const __m128i both = _mm_unpacklo_epi8(v, n);
    const __m128i z = _mm_setzero_si128();
    q[0] = _mm_unpacklo_epi8(both, z);
    q[1] = _mm_unpackhi_epi8(both, z);
}

// Four colour pixels on consecutive columns from a and b, the column
// fraction moving by dfx and the row fraction by dfy from pixel to pixel.
inline void SampleFourColour(uint8_t* out, const uint8_t* a, const uint8_t* b, uint32_t fx,
                             int32_t dfx, uint32_t fy, int32_t dfy) {
    __m128i qa[3], qb[3];
    ColourPairs(a, qa);
    ColourPairs(b, qb);
    // The pixels' weights spread over their samples: 0 0 0 1 | 1 1 2 2 | 2 3 3 3.
    const __m128i wx = FourWeightPairs(fx, dfx);
    const __m128i wy = FourWeightPairs(fy, dfy);
    const __m128i v0 = FourSamples(qa[0], qb[0], _mm_shuffle_epi32(wx, _MM_SHUFFLE(1, 0, 0, 0)),
                                   _mm_shuffle_epi32(wy, _MM_SHUFFLE(1, 0, 0, 0)));
    const __m128i v1 = FourSamples(qa[1], qb[1], _mm_shuffle_epi32(wx, _MM_SHUFFLE(2, 2, 1, 1)),
                                   _mm_shuffle_epi32(wy, _MM_SHUFFLE(2, 2, 1, 1)));
    const __m128i v2 = FourSamples(qa[2], qb[2], _mm_shuffle_epi32(wx, _MM_SHUFFLE(3, 3, 3, 2)),
                                   _mm_shuffle_epi32(wy, _MM_SHUFFLE(3, 3, 3, 2)));
    const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(v0, v1), _mm_packs_epi32(v2, v2));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), bytes);
    const int32_t last = _mm_cvtsi128_si32(_mm_srli_si128(bytes, 8));
    std::memcpy(out + 8, &last, 4);
}

// Eight gray pixels on consecutive columns from a and b, as SampleFourColour.
inline void SampleEightGray(uint8_t* out, const uint8_t* a, const uint8_t* b, uint32_t fx,
                            int32_t dfx, uint32_t fy, int32_t dfy) {
    __m128i qa[2], qb[2];
    GrayPairs(a, qa);
    GrayPairs(b, qb);
    const __m128i v0 =
        FourSamples(qa[0], qb[0], FourWeightPairs(fx, dfx), FourWeightPairs(fy, dfy));
    const __m128i v1 = FourSamples(qa[1], qb[1], FourWeightPairs(fx + 4 * dfx, dfx),
                                   FourWeightPairs(fy + 4 * dfy, dfy));
    const __m128i words = _mm_packs_epi32(v0, v1);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(words, words));
}

// AVX2: two groups of the SSE2 samplers at once, one in each 128-bit half,
// with the same integers.
KD_AVX2 inline __m256i EightSamples(__m256i qa, __m256i qb, __m256i wx, __m256i wy) {
    const __m256i low12 = _mm256_set1_epi32(kRotateOne - 1);
    const __m256i h0 = _mm256_madd_epi16(qa, wx);
    const __m256i h1 = _mm256_madd_epi16(qb, wx);
    const __m256i hi = _mm256_or_si256(_mm256_srli_epi32(h0, kRotateShift),
                                       _mm256_slli_epi32(_mm256_srli_epi32(h1, kRotateShift), 16));
    const __m256i lo = _mm256_or_si256(_mm256_and_si256(h0, low12),
                                       _mm256_slli_epi32(_mm256_and_si256(h1, low12), 16));
    const __m256i sum = _mm256_add_epi32(
        _mm256_slli_epi32(_mm256_madd_epi16(hi, wy), kRotateShift), _mm256_madd_epi16(lo, wy));
    return _mm256_srli_epi32(sum, 2 * kRotateShift);
}

KD_AVX2 inline __m256i Halves(__m128i low, __m128i high) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
}

// Eight colour pixels on consecutive columns, as two SampleFourColour.
KD_AVX2 inline void SampleEightColour(uint8_t* out, const uint8_t* a, const uint8_t* b,
                                      uint32_t fx, int32_t dfx, uint32_t fy, int32_t dfy) {
    __m128i qa[2][3], qb[2][3];
    for (int g = 0; g < 2; ++g) {
        ColourPairs(a + 12 * g, qa[g]);
        ColourPairs(b + 12 * g, qb[g]);
    }
    const __m256i wx = Halves(FourWeightPairs(fx, dfx), FourWeightPairs(fx + 4 * dfx, dfx));
    const __m256i wy = Halves(FourWeightPairs(fy, dfy), FourWeightPairs(fy + 4 * dfy, dfy));
    const __m256i v0 =
        EightSamples(Halves(qa[0][0], qa[1][0]), Halves(qb[0][0], qb[1][0]),
                     _mm256_shuffle_epi32(wx, _MM_SHUFFLE(1, 0, 0, 0)),
                     _mm256_shuffle_epi32(wy, _MM_SHUFFLE(1, 0, 0, 0)));
    const __m256i v1 =
        EightSamples(Halves(qa[0][1], qa[1][1]), Halves(qb[0][1], qb[1][1]),
                     _mm256_shuffle_epi32(wx, _MM_SHUFFLE(2, 2, 1, 1)),
                     _mm256_shuffle_epi32(wy, _MM_SHUFFLE(2, 2, 1, 1)));
    const __m256i v2 =
        EightSamples(Halves(qa[0][2], qa[1][2]), Halves(qb[0][2], qb[1][2]),
                     _mm256_shuffle_epi32(wx, _MM_SHUFFLE(3, 3, 3, 2)),
                     _mm256_shuffle_epi32(wy, _MM_SHUFFLE(3, 3, 3, 2)));
    const __m256i bytes =
        _mm256_packus_epi16(_mm256_packs_epi32(v0, v1), _mm256_packs_epi32(v2, v2));
    const __m128i half[2] = {_mm256_castsi256_si128(bytes), _mm256_extracti128_si256(bytes, 1)};
    for (int g = 0; g < 2; ++g) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 12 * g), half[g]);
        const int32_t last = _mm_cvtsi128_si32(_mm_srli_si128(half[g], 8));
        std::memcpy(out + 12 * g + 8, &last, 4);
    }
}

// Sixteen gray pixels on consecutive columns, as two SampleEightGray.
KD_AVX2 inline void SampleSixteenGray(uint8_t* out, const uint8_t* a, const uint8_t* b,
                                      uint32_t fx, int32_t dfx, uint32_t fy, int32_t dfy) {
    __m128i qa[2][2], qb[2][2];
    for (int g = 0; g < 2; ++g) {
        GrayPairs(a + 8 * g, qa[g]);
        GrayPairs(b + 8 * g, qb[g]);
    }
    __m256i v[2];
    for (int h = 0; h < 2; ++h) {
        const uint32_t x0 = fx + static_cast<uint32_t>(4 * h * dfx);
        const uint32_t y0 = fy + static_cast<uint32_t>(4 * h * dfy);
        v[h] = EightSamples(
            Halves(qa[0][h], qa[1][h]), Halves(qb[0][h], qb[1][h]),
            Halves(FourWeightPairs(x0, dfx), FourWeightPairs(x0 + 8 * dfx, dfx)),
            Halves(FourWeightPairs(y0, dfy), FourWeightPairs(y0 + 8 * dfy, dfy)));
    }
    const __m256i words = _mm256_packs_epi32(v[0], v[1]);
    const __m256i bytes = _mm256_packus_epi16(words, words);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(bytes));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 8), _mm256_extracti128_si256(bytes, 1));
}
#endif

// Pixels of a run that stay on the rows of its first pixel: the row and its
// fraction are looked up once per stretch, and the row two below, which the
// next destination line reads at about the same columns, is requested from
// memory a cache line at a time while this line works. The path crosses the
// source rows in pieces too short for the hardware to see a stream, so
// without the request nearly every piece waits for memory. Rows at or past
// `rowCount` are never touched (0: no request at all). With `Vector`, pixels
// on consecutive columns go four (colour) or eight (gray) at a time through
// the vector samplers.
#if defined(__SSE2__)
// Pixels k to k1 of a stretch, N at a time on a vector sampler while the N
// pixels lie on consecutive columns: each step of a group moves exactly one
// column, so the column fraction moves by cx - 4096.
template <int64_t N, int Spp, class Sampler>
inline void VectorGroups(Sampler sample, int64_t& k, int64_t k1, uint8_t*& out,
                         const uint8_t* r0, const uint8_t* r1, int64_t& x, int32_t cx,
                         uint32_t& fy, int32_t cy) {
    for (; k + N <= k1 && ((x + (N - 1) * int64_t{cx}) >> kRotateShift) ==
                              (x >> kRotateShift) + N - 1;
         k += N) {
        const int64_t c = (x >> kRotateShift) * Spp;
        sample(out, r0 + c, r1 + c, static_cast<uint32_t>(x & (kRotateOne - 1)),
               cx - kRotateOne, fy, cy);
        out += N * Spp;
        x += N * int64_t{cx};
        fy += N * static_cast<uint32_t>(cy);
    }
}
#endif

template <int Spp, bool Bilinear, bool Vector = false, bool Wide = false>
inline void RunWise(uint8_t* out, const uint8_t* const* rows, int64_t rowCount, int64_t x,
                    int64_t y, int32_t cx, int32_t cy, int64_t count) {
    static_assert(!Vector || Bilinear);
    static_assert(!Wide || Vector);
    constexpr int64_t kGroup = Spp == 3 ? 4 : 8;
    // One request ahead per cache line at most: 20 colour pixels (five groups
    // of four) or 64 gray ones (eight groups of eight).
    constexpr int64_t kPixelsPerCacheLine = Spp == 3 ? 20 : 64;
    while (count > 0) {
        const int64_t r = y >> kRotateShift;
        int64_t m = count;
        if (cy > 0) {
            m = CeilDiv(((r + 1) << kRotateShift) - y, cy);
        } else if (cy < 0) {
            m = (y - (r << kRotateShift)) / -cy + 1;
        }
        if (m > count) m = count;
        const uint8_t* r0 = rows[r];
        const uint8_t* r1 = Bilinear ? rows[r + 1] : r0;
        const uint8_t* below = r + 2 < rowCount ? rows[r + 2] : nullptr;
        // The row fraction moves by cy and stays inside [0, 4096) on the stretch.
        uint32_t fy = static_cast<uint32_t>(y - (r << kRotateShift));
        for (int64_t k0 = 0; k0 < m; k0 += kPixelsPerCacheLine) {
            if (below != nullptr) __builtin_prefetch(below + (x >> kRotateShift) * Spp);
            const int64_t k1 = std::min(m, k0 + kPixelsPerCacheLine);
            int64_t k = k0;
#if defined(__SSE2__)
            if constexpr (Wide) {
                // Twice the group on the AVX2 samplers first, then the rest
                // as below.
                VectorGroups<2 * kGroup, Spp>(
                    [](auto... a) {
                        if constexpr (Spp == 3) {
                            SampleEightColour(a...);
                        } else {
                            SampleSixteenGray(a...);
                        }
                    },
                    k, k1, out, r0, r1, x, cx, fy, cy);
            }
            if constexpr (Vector) {
                VectorGroups<kGroup, Spp>(
                    [](auto... a) {
                        if constexpr (Spp == 3) {
                            SampleFourColour(a...);
                        } else {
                            SampleEightGray(a...);
                        }
                    },
                    k, k1, out, r0, r1, x, cx, fy, cy);
            }
#endif
            for (; k < k1; ++k) {
                const int64_t c = (x >> kRotateShift) * Spp;
                if constexpr (Bilinear) {
                    SampleAcrossThenDown<Spp>(out, r0 + c, r1 + c,
                                              static_cast<uint32_t>(x & (kRotateOne - 1)), fy);
                } else {
                    std::memcpy(out, r0 + c, Spp);
                }
                out += Spp;
                x += cx;
                fy += static_cast<uint32_t>(cy);
            }
        }
        y += m * cy;
        count -= m;
    }
}

#if defined(__SSE2__)
// The run-wise bilinear sampler with the AVX2 groups, everything inlined
// under the AVX2 target.
template <int Spp>
KD_AVX2 __attribute__((flatten)) void RunWiseAVX2(uint8_t* out, const uint8_t* const* rows,
                                                  int64_t rowCount, int64_t x, int64_t y,
                                                  int32_t cx, int32_t cy, int64_t count) {
    RunWise<Spp, true, true, true>(out, rows, rowCount, x, y, cx, cy, count);
}
#endif

template <int Spp>
void PerPixel(uint8_t* out, const uint8_t* const* rows, int64_t x, int64_t y, int32_t cx,
              int32_t cy, int64_t count) {
    for (int64_t k = 0; k < count; ++k) {
        const int64_t r = y >> kRotateShift;
        SamplePixel<Spp>(out, rows[r], rows[r + 1], x, y);
        out += Spp;
        x += cx;
        y += cy;
    }
}

// A bilinear sample exactly on the last source column: the column after it
// has weight 0 and is not read. Same integers as SamplePixel.
void SampleLastColumn(uint8_t* out, const uint8_t* r0, const uint8_t* r1, int32_t spp, int64_t x,
                      int64_t y) {
    const int64_t c = (x >> kRotateShift) * spp;
    const uint32_t fy = static_cast<uint32_t>(y & (kRotateOne - 1));
    const uint32_t gy = kRotateOne - fy;
    for (int32_t s = 0; s < spp; ++s) {
        out[s] = static_cast<uint8_t>((r0[c + s] * gy + r1[c + s] * fy) >> kRotateShift);
    }
}

uint32_t g_debugFlag = 0;

} // namespace

int32_t get_vector_length(int64_t x, int64_t y) {
    uint64_t sum = static_cast<uint64_t>(x * x) + static_cast<uint64_t>(y * y);
    int shift = 0;
    while (sum > uint64_t{INT32_MAX}) {
        sum /= 4;
        ++shift;
    }
    const int64_t root = static_cast<int64_t>(std::sqrt(static_cast<double>(sum)));
    return static_cast<int32_t>(root << shift);
}

// ---------------------------------------------------------------------------
// Handle

CRotateImage::~CRotateImage() {
    FreeLines();
    delete[] m_ppLine;
    delete[] m_ppOwn;
}

void CRotateImage::FreeLines() {
    if (m_ppOwn != nullptr) {
        for (int32_t i = 0; i < m_lAllocateLine; ++i) {
            delete[] m_ppOwn[i];
            m_ppOwn[i] = nullptr;
        }
    }
    m_lKeepLine = 0;
}

uint32_t CRotateImage::Initialize(tagROTATEINFO* info) {
    if (info == nullptr || info->size != kRotateInfoSize || info->bitsPerPixel < 8) {
        return kIpErrBadArgument;
    }
    m_ptTL = info->topLeft;
    m_ptBL = info->bottomLeft;
    m_ptTR = info->topRight;
    m_ptBR = info->bottomRight;
    const int32_t left = std::min(m_ptTL.x, m_ptBL.x);
    const int32_t top = std::min(m_ptTL.y, m_ptTR.y);
    const int32_t right = std::max(m_ptBR.x, m_ptTR.x);
    const int32_t bottom = std::max(m_ptBL.y, m_ptBR.y);
    if (m_ptTR.x < m_ptTL.x || m_ptBR.x < m_ptBL.x || m_ptBL.y < m_ptTL.y || m_ptBR.y < m_ptTR.y ||
        left >= right || top >= bottom) {
        return kIpErrBadArgument;
    }
    if (info->srcWidth <= 0 || info->paperWidth <= 0 || info->paperHeight <= 0) {
        return kIpErrBadArgument;
    }
    m_lSpp = info->bitsPerPixel == 24 ? 3 : 1;
    m_lSrcWidth = info->srcWidth;
    m_lLineBytes = m_lSrcWidth * m_lSpp;
    m_lPaperWidth = info->paperWidth;
    m_lPaperHeight = info->paperHeight;
    m_bNearest = info->interpolate != 1;
    m_bRightAnchored = info->rightAnchored != 0;
    m_bFill = info->fillMode != 0;
    m_bDetectBackground = info->fillMode == 1;
    m_ulFillColour = info->fillColour;
    m_lLeft = left;
    m_lTop = top;
    m_lRight = right;
    m_lBottom = bottom;

    // A page outside the source leaves the destination as filled.
    if (left >= m_lSrcWidth || right < 0 || bottom < 0) {
        m_bDone = true;
        return kOk;
    }
    const int64_t dx = int64_t{m_ptTR.x} - m_ptTL.x;
    const int64_t dy = int64_t{m_ptTR.y} - m_ptTL.y;
    const int64_t len = get_vector_length(dx, dy);
    if (len == 0) {
        m_bDone = true;
        return kOk;
    }
    m_lCos = static_cast<int32_t>(dx * kRotateOne / len);
    m_lSin = static_cast<int32_t>(dy * kRotateOne / len);
    if (m_lSin != 0 && m_lCos == 0) return kIpErrFailed;
    m_bCutOut = m_lSin == 0;

    // Fit the page to the paper width along the top edge's direction.
    const int64_t w = m_lPaperWidth;
    const int64_t ox = CeilDiv(int64_t{m_lCos} * w, kRotateOne);
    const int64_t oyAbs = CeilDiv(std::llabs(int64_t{m_lSin} * w), kRotateOne);
    const int64_t oy = m_lSin < 0 ? -oyAbs : oyAbs;
    if (m_bRightAnchored) {
        m_ptTL = {static_cast<int32_t>(m_ptTR.x - ox), static_cast<int32_t>(m_ptTR.y - oy)};
        m_ptBL = {static_cast<int32_t>(m_ptBR.x - ox), static_cast<int32_t>(m_ptBR.y - oy)};
    } else {
        m_ptTR = {static_cast<int32_t>(m_ptTL.x + ox), static_cast<int32_t>(m_ptTL.y + oy)};
        m_ptBR = {static_cast<int32_t>(m_ptBL.x + ox), static_cast<int32_t>(m_ptBL.y + oy)};
    }
    m_lLeft = std::min(m_ptTL.x, m_ptBL.x);
    m_lTop = std::min(m_ptTL.y, m_ptTR.y);
    m_lRight = std::max(m_ptBR.x, m_ptTR.x);
    m_lBottom = std::max(m_ptBL.y, m_ptBR.y);

    // Window: the source lines one destination line spans, plus the bilinear
    // neighbour and two lines of margin.
    const int64_t fdx = int64_t{m_ptTR.x} - m_ptTL.x;
    const int64_t fdy = int64_t{m_ptTR.y} - m_ptTL.y;
    const int64_t n =
        fdx == 0 ? 5 : CeilDiv(std::llabs(std::max<int64_t>(fdx, m_lSrcWidth) * fdy), fdx) + 4;
    if (n > INT32_MAX / 2) return kIpErrOutOfMemory;
    m_lAllocateLine = static_cast<int32_t>(n);
    info->keptLines = m_lAllocateLine;
    m_ppLine = new (std::nothrow) uint8_t*[static_cast<size_t>(n)]();
    m_ppOwn = new (std::nothrow) uint8_t*[static_cast<size_t>(n)]();
    if (m_ppLine == nullptr || m_ppOwn == nullptr) return kIpErrOutOfMemory;
    // Source lines above both top corners (counted from 1) are never needed.
    m_lTopRow = std::max<int64_t>(0, int64_t{std::min(m_ptTL.y, m_ptTR.y)} - 1);
    return kOk;
}

uint32_t CRotateImage::DetectBackground(const tagTVKIMAGEINFO& src) {
    if (src.lXResolution <= 0 || src.lYResolution <= 0) return kIpErrBadArgument;
    const int64_t mx = int64_t{src.lXResolution} * 1000 / 25400;
    const int64_t my = int64_t{src.lYResolution} * 1000 / 25400;
    const int64_t width = src.lWidth;
    const int64_t height = src.lHeight;
    const int64_t l = m_lLeft - mx;
    const int64_t r = m_lRight + mx;
    const int64_t t = m_lTop - my;
    const int64_t b = m_lBottom + my;
    const int spp = m_lSpp;
    uint8_t th[3] = {static_cast<uint8_t>(m_ulFillColour),
                     static_cast<uint8_t>(m_ulFillColour >> 8),
                     static_cast<uint8_t>(m_ulFillColour >> 16)};
    const bool dark = th[0] < 129;
    uint64_t sum[3] = {0, 0, 0};
    uint64_t count = 0;
    auto strip = [&](int64_t x0, int64_t y0, int64_t x1, int64_t y1) {
        x0 = std::clamp<int64_t>(x0, 0, width);
        x1 = std::clamp<int64_t>(x1, 0, width);
        y0 = std::clamp<int64_t>(y0, 0, height);
        y1 = std::clamp<int64_t>(y1, 0, height);
        for (int64_t y = y0; y < y1; ++y) {
            const uint8_t* line = src.lpImage + y * src.lSync;
            for (int64_t x = x0; x < x1; ++x) {
                const uint8_t* p = line + x * spp;
                bool counted = true;
                for (int s = 0; s < spp; ++s) {
                    counted = counted && (dark ? p[s] < th[s] : p[s] > th[s]);
                }
                if (!counted) continue;
                ++count;
                for (int s = 0; s < spp; ++s) sum[s] += p[s];
            }
        }
    };
    if (t > 0) strip(0, 0, width, t);
    if (l > 0) strip(0, std::max<int64_t>(t, 0), l, std::min(b, height));
    if (r < width) strip(r, std::max<int64_t>(t, 0), width, std::min(b, height));
    if (b < height) strip(0, b, width, height);
    if (count == 0) {
        m_bFill = false;
        return kOk;
    }
    uint32_t colour = 0;
    for (int s = 0; s < spp; ++s) colour |= static_cast<uint32_t>(sum[s] / count) << (8 * s);
    m_ulFillColour = colour;
    return kOk;
}

void CRotateImage::Fill(tagTVKIMAGEINFO& dst) const {
    if (dst.lHeight <= 0 || dst.lWidth <= 0) return;
    const size_t bytes = static_cast<size_t>(dst.lWidth) * m_lSpp;
    // The first line gets the colour, every other line a copy of it.
    uint8_t* first = dst.lpImage;
    if (m_lSpp == 1) {
        std::memset(first, static_cast<uint8_t>(m_ulFillColour), bytes);
    } else {
        const uint8_t c[3] = {static_cast<uint8_t>(m_ulFillColour),
                              static_cast<uint8_t>(m_ulFillColour >> 8),
                              static_cast<uint8_t>(m_ulFillColour >> 16)};
        for (size_t i = 0; i < bytes; i += 3) std::memcpy(first + i, c, 3);
    }
    for (int32_t y = 1; y < dst.lHeight; ++y) {
        std::memcpy(dst.lpImage + int64_t{y} * dst.lSync, first, bytes);
    }
}

uint32_t CRotateImage::Process(tagTVKIMAGEINFO* src, tagTVKIMAGEINFO* dst, tagROTATEINFO* info) {
    if (src == nullptr || dst == nullptr || info == nullptr || src->lpImage == nullptr ||
        dst->lpImage == nullptr || !TvkImageFits(src, kTvkGray8 | kTvkRgb24) ||
        !TvkImageFits(dst, kTvkGray8 | kTvkRgb24)) {
        return kIpErrBadArgument;
    }
    // Both images have the request's depth; colour is pixel-interleaved.
    const int32_t bits = 8 * m_lSpp;
    if (SourceBits(*src) != bits || SourceBits(*dst) != bits ||
        (bits == 24 && (src->ulRGBOrder != 0 || dst->ulRGBOrder != 0))) {
        return kIpErrBadArgument;
    }
    // The source lines must hold the request's width; the destination is
    // written only inside its own width.
    if (src->lHeight < 0 || dst->lHeight < 0 || dst->lWidth < 0 ||
        int64_t{dst->lSync} < int64_t{dst->lWidth} * m_lSpp ||
        (src->lHeight > 0 && (src->lWidth < m_lSrcWidth || src->lSync < m_lLineBytes))) {
        return kIpErrBadArgument;
    }
    if (m_bDetectBackground) {
        if (info->last == 0) return kIpErrBadArgument;
        const uint32_t r = DetectBackground(*src);
        if (r != kOk) return r;
        m_bDetectBackground = false;
    }
    if (m_bFill) Fill(*dst);
    if (m_bDone) {
        info->linesOut = 0;
        info->linesIn = src->lHeight;
        m_lDoneLines += dst->lHeight;
        return kOk;
    }
    return m_bCutOut ? CutOut(*src, *dst, *info) : Rotate(*src, *dst, *info);
}

uint32_t CRotateImage::CutOut(tagTVKIMAGEINFO& src, tagTVKIMAGEINFO& dst, tagROTATEINFO& info) {
    const int64_t room = std::min<int64_t>(m_lPaperHeight - m_lDoneLines, dst.lHeight);
    int64_t produced = 0;
    int64_t consumed = 0;
    // Lines of the box above the source keep the fill.
    while (produced < room && m_lTop + m_lDoneLines < 0) {
        ++m_lDoneLines;
        ++produced;
    }
    const int64_t width = std::min<int64_t>(m_lPaperWidth, dst.lWidth);
    const int64_t x0 = std::max<int64_t>(m_lLeft, 0);
    const int64_t x1 = std::min<int64_t>(int64_t{m_lLeft} + width, m_lSrcWidth);
    while (produced < room && consumed < src.lHeight) {
        const int64_t row = m_lRecvLines;
        ++m_lRecvLines;
        const uint8_t* line = src.lpImage + consumed * src.lSync;
        ++consumed;
        if (row < m_lTop + m_lDoneLines) continue;
        if (x1 > x0) {
            std::memcpy(dst.lpImage + produced * dst.lSync + (x0 - m_lLeft) * m_lSpp,
                        line + x0 * m_lSpp, static_cast<size_t>((x1 - x0) * m_lSpp));
        }
        ++m_lDoneLines;
        ++produced;
    }
    // Lines of the box below the source keep the fill.
    if (info.last != 0) {
        while (produced < room) {
            ++m_lDoneLines;
            ++produced;
        }
    }
    info.linesOut = static_cast<int32_t>(produced);
    info.linesIn = static_cast<int32_t>(consumed);
    if (m_lDoneLines >= m_lPaperHeight) m_bDone = true;
    return kOk;
}

void CRotateImage::DropRowsBefore(int64_t row) {
    const int64_t k = row - m_lTopRow;
    if (k <= 0) return;
    if (k >= m_lKeepLine) {
        m_lKeepLine = 0;
    } else {
        // Owned buffers move with their slot so that each stays with its line.
        std::rotate(m_ppLine, m_ppLine + k, m_ppLine + m_lAllocateLine);
        std::rotate(m_ppOwn, m_ppOwn + k, m_ppOwn + m_lAllocateLine);
        m_lKeepLine -= static_cast<int32_t>(k);
    }
    m_lTopRow = row;
}

bool CRotateImage::KeepOwnCopies() {
    for (int32_t i = 0; i < m_lKeepLine; ++i) {
        if (m_ppLine[i] == m_ppOwn[i]) continue;
        if (m_ppOwn[i] == nullptr) {
            m_ppOwn[i] = new (std::nothrow) uint8_t[static_cast<size_t>(m_lLineBytes)];
            if (m_ppOwn[i] == nullptr) return false;
        }
        std::memcpy(m_ppOwn[i], m_ppLine[i], static_cast<size_t>(m_lLineBytes));
        m_ppLine[i] = m_ppOwn[i];
    }
    return true;
}

CRotateImage::Point64 CRotateImage::LineStart(int64_t line) const {
    // Down the page's left edge: one line moves by (-sin, cos).
    return {int64_t{m_ptTL.x} * kRotateOne - line * m_lSin,
            int64_t{m_ptTL.y} * kRotateOne + line * m_lCos};
}

CRotateImage::Run CRotateImage::Clip(Point64 start, int32_t width, bool bounded,
                                     int64_t rowLimit) const {
    const int64_t sx = start.x;
    const int64_t sy = start.y;
    const int64_t cx = m_lCos;
    const int64_t cy = m_lSin;
    int64_t lo = 0;
    int64_t hi = int64_t{width} - 1;
    // Columns: positions up to the last column's own, (W - 1) x 4096, for
    // both samplings (a bilinear sample there does not read the next one).
    if (sx < 0) lo = std::max(lo, CeilDiv(-sx, cx));
    const int64_t xLast = (int64_t{m_lSrcWidth} - 1) * kRotateOne;
    hi = std::min(hi, FloorDiv(xLast - sx, cx));
    // Rows: from the window's first row, and below the limit when bounded.
    const int64_t yMin = m_lTopRow * kRotateOne;
    if (cy > 0) {
        if (sy < yMin) lo = std::max(lo, CeilDiv(yMin - sy, cy));
        if (bounded) hi = std::min(hi, FloorDiv(rowLimit - 1 - sy, cy));
    } else {
        hi = std::min(hi, FloorDiv(sy - yMin, -cy));
        if (bounded) lo = std::max(lo, CeilDiv(sy - rowLimit + 1, -cy));
    }
    return {lo, hi};
}

int64_t CRotateImage::DrawPending(tagTVKIMAGEINFO& dst, int64_t produced, int64_t room,
                                  bool flush) {
    const int32_t width = std::min(m_lPaperWidth, dst.lWidth);
    const bool runWise = m_lSin < 1024;
    int64_t n = 0;
    while (produced + n < room && m_lDoneLines < m_lPaperHeight) {
        const Point64 start = LineStart(m_lDoneLines);
        const int64_t sy = start.y;
        // Rows above this line's highest point are not needed any more.
        const int64_t yTop = sy + std::min<int64_t>(0, int64_t{m_lPaperWidth - 1} * m_lSin);
        if (yTop >= 0) DropRowsBefore(yTop >> kRotateShift);
        const int64_t bottomRow = m_lTopRow + m_lKeepLine - 1;
        const int64_t limit = (bottomRow + (m_bNearest ? 1 : 0)) * kRotateOne;
        const Run run = Clip(start, width, flush, limit);
        if (run.first <= run.last) {
            if (!flush) {
                // Wait until the deepest sampled row has two rows of margin below it.
                const int64_t deepest = sy + (m_lSin > 0 ? run.last : run.first) * m_lSin;
                if (deepest >= (m_lTopRow + m_lKeepLine - 2) * kRotateOne) break;
            }
            const int64_t x = start.x + run.first * m_lCos;
            const int64_t y = sy + run.first * m_lSin - m_lTopRow * kRotateOne;
            uint8_t* out = dst.lpImage + (produced + n) * dst.lSync + run.first * m_lSpp;
            int64_t count = run.last - run.first + 1;
            const int64_t xEnd = x + (count - 1) * m_lCos;
            if (!m_bNearest && xEnd == (int64_t{m_lSrcWidth} - 1) * kRotateOne) {
                // The run's last pixel lies exactly on the last column.
                const int64_t yEnd = y + (count - 1) * m_lSin;
                const int64_t r = yEnd >> kRotateShift;
                --count;
                SampleLastColumn(out + count * m_lSpp, m_ppLine[r], m_ppLine[r + 1], m_lSpp, xEnd,
                                 yEnd);
            }
            if (m_bNearest) {
                DrawNearest(out, m_ppLine, m_lSpp, x, y, m_lCos, m_lSin, count, m_lKeepLine);
            } else if (runWise) {
                DrawBilinearRun(out, m_ppLine, m_lSpp, x, y, m_lCos, m_lSin, count, m_lKeepLine);
            } else {
                DrawBilinearPixel(out, m_ppLine, m_lSpp, x, y, m_lCos, m_lSin, count);
            }
        }
        ++m_lDoneLines;
        ++n;
    }
    return n;
}

uint32_t CRotateImage::Rotate(tagTVKIMAGEINFO& src, tagTVKIMAGEINFO& dst, tagROTATEINFO& info) {
    const int64_t room = std::min<int64_t>(m_lPaperHeight - m_lDoneLines, dst.lHeight);
    int64_t produced = DrawPending(dst, 0, room, false);
    int64_t consumed = 0;
    while (produced < room && consumed < src.lHeight) {
        const int64_t row = m_lRecvLines;
        ++m_lRecvLines;
        uint8_t* line = src.lpImage + consumed * src.lSync;
        ++consumed;
        if (row < m_lTopRow) continue;
        if (m_lKeepLine == m_lAllocateLine) {
            // The window is sized so that this cannot happen; pixels above a
            // forced drop would keep the fill rather than read a lost line.
            DropRowsBefore(m_lTopRow + 1);
        }
        m_ppLine[m_lKeepLine++] = line;
        produced += DrawPending(dst, produced, room, false);
    }
    if (m_lDoneLines < m_lPaperHeight && info.last != 0) {
        produced += DrawPending(dst, produced, room, true);
        // What the source cannot reach keeps the fill.
        while (produced < room) {
            ++m_lDoneLines;
            ++produced;
        }
    }
    info.linesOut = static_cast<int32_t>(produced);
    info.linesIn = static_cast<int32_t>(consumed);
    if (m_lDoneLines >= m_lPaperHeight) {
        m_bDone = true;
        FreeLines();
        return kOk;
    }
    // The caller may reuse its band: keep copies of the window's lines.
    return KeepOwnCopies() ? kOk : kIpErrOutOfMemory;
}

void CRotateImage::DrawBilinearRun(uint8_t* out, const uint8_t* const* rows, int32_t spp, int64_t x,
                                   int64_t y, int32_t cx, int32_t cy, int64_t count,
                                   int64_t rowCount) {
#if defined(__SSE2__)
    if (IsAVX2FeatureAvailable()) {
        if (spp == 3) {
            RunWiseAVX2<3>(out, rows, rowCount, x, y, cx, cy, count);
        } else {
            RunWiseAVX2<1>(out, rows, rowCount, x, y, cx, cy, count);
        }
        return;
    }
    if (IsSSE2FeatureAvailable()) {
        if (spp == 3) {
            RunWise<3, true, true>(out, rows, rowCount, x, y, cx, cy, count);
        } else {
            RunWise<1, true, true>(out, rows, rowCount, x, y, cx, cy, count);
        }
        return;
    }
#endif
    if (spp == 3) {
        RunWise<3, true>(out, rows, rowCount, x, y, cx, cy, count);
    } else {
        RunWise<1, true>(out, rows, rowCount, x, y, cx, cy, count);
    }
}

void CRotateImage::DrawBilinearPixel(uint8_t* out, const uint8_t* const* rows, int32_t spp,
                                     int64_t x, int64_t y, int32_t cx, int32_t cy, int64_t count) {
    if (spp == 3) {
        PerPixel<3>(out, rows, x, y, cx, cy, count);
    } else {
        PerPixel<1>(out, rows, x, y, cx, cy, count);
    }
}

void CRotateImage::DrawNearest(uint8_t* out, const uint8_t* const* rows, int32_t spp, int64_t x,
                               int64_t y, int32_t cx, int32_t cy, int64_t count, int64_t rowCount) {
    if (spp == 3) {
        RunWise<3, false>(out, rows, rowCount, x, y, cx, cy, count);
    } else {
        RunWise<1, false>(out, rows, rowCount, x, y, cx, cy, count);
    }
}

// ---------------------------------------------------------------------------
// Shared steps of the whole-page entries

namespace {

// Gray of one interleaved colour pixel.
inline uint32_t GrayOf(const uint8_t* p) {
    return (306u * p[0] + 601u * p[1] + 117u * p[2]) >> 10;
}

// 2 x 2 means of the gray pixels of lines a and b (8-bit or interleaved colour).
template <int Spp> void HalveLines(uint8_t* out, const uint8_t* a, const uint8_t* b, int32_t n) {
    for (int32_t x = 0; x < n; ++x, a += 2 * Spp, b += 2 * Spp) {
        if constexpr (Spp == 1) {
            out[x] = static_cast<uint8_t>((a[0] + a[1] + b[0] + b[1]) >> 2);
        } else {
            out[x] =
                static_cast<uint8_t>((GrayOf(a) + GrayOf(a + 3) + GrayOf(b) + GrayOf(b + 3)) >> 2);
        }
    }
}

// Half-size 8-bit gray image of an 8-bit or interleaved colour one, line
// pair by line pair, without a full-size gray copy in between.
uint32_t HalveToGray(tagTVKIMAGEINFO& out, const tagTVKIMAGEINFO& src) {
    const int32_t bits = SourceBits(src);
    if (!MakeWorkImage(out, src, src.lWidth / 2, src.lHeight / 2)) return kIpErrOutOfMemory;
    out.lXResolution = src.lXResolution / 2;
    out.lYResolution = src.lYResolution / 2;
    for (int32_t y = 0; y < out.lHeight; ++y) {
        const uint8_t* a = src.lpImage + 2 * int64_t{y} * src.lSync;
        uint8_t* o = out.lpImage + int64_t{y} * out.lSync;
        if (bits == 24) {
            HalveLines<3>(o, a, a + src.lSync, out.lWidth);
        } else {
            HalveLines<1>(o, a, a + src.lSync, out.lWidth);
        }
    }
    return kOk;
}

} // namespace

uint32_t ROTATEIMAGE_COMMON_FUNCTION::ToGrayImage(tagTVKIMAGEINFO& out,
                                                  const tagTVKIMAGEINFO& src) {
    const int32_t bits = SourceBits(src);
    if ((bits != 8 && bits != 24) || (bits == 24 && src.ulRGBOrder != 0)) {
        return kIpErrBadArgument;
    }
    if (!MakeWorkImage(out, src, src.lWidth, src.lHeight)) return kIpErrOutOfMemory;
    for (int32_t y = 0; y < src.lHeight; ++y) {
        const uint8_t* in = src.lpImage + int64_t{y} * src.lSync;
        uint8_t* o = out.lpImage + int64_t{y} * out.lSync;
        if (bits == 8) {
            std::memcpy(o, in, static_cast<size_t>(src.lWidth));
            continue;
        }
        for (int32_t x = 0; x < src.lWidth; ++x, in += 3) o[x] = static_cast<uint8_t>(GrayOf(in));
    }
    return kOk;
}

uint32_t ROTATEIMAGE_COMMON_FUNCTION::ToHalveImage(tagTVKIMAGEINFO& out,
                                                   const tagTVKIMAGEINFO& src) {
    if (SourceBits(src) != 8) return kIpErrBadArgument;
    return HalveToGray(out, src);
}

void ROTATEIMAGE_COMMON_FUNCTION::RotateFourPoint(Tvk::tagPOINT& topLeft, Tvk::tagPOINT& bottomLeft,
                                                  Tvk::tagPOINT& topRight,
                                                  Tvk::tagPOINT& bottomRight, double angle) {
    if (angle == 0.0) return;
    const int64_t cx = topLeft.x + (int64_t{bottomRight.x} - topLeft.x) / 2;
    const int64_t cy = topLeft.y + (int64_t{bottomRight.y} - topLeft.y) / 2;
    const double c = std::cos(angle);
    const double s = std::sin(angle);
    auto turn = [&](Tvk::tagPOINT p) {
        const double dx = static_cast<double>(p.x - cx);
        const double dy = static_cast<double>(p.y - cy);
        return Tvk::tagPOINT{static_cast<int32_t>(static_cast<double>(cx) + dx * c - dy * s),
                             static_cast<int32_t>(static_cast<double>(cy) + dx * s + dy * c)};
    };
    const Tvk::tagPOINT tl = turn(topLeft);
    const Tvk::tagPOINT tr = turn(topRight);
    topLeft = tl;
    topRight = tr;
    bottomLeft = {static_cast<int32_t>(2 * cx - tr.x), static_cast<int32_t>(2 * cy - tr.y)};
    bottomRight = {static_cast<int32_t>(2 * cx - tl.x), static_cast<int32_t>(2 * cy - tl.y)};
}

void ROTATEIMAGE_COMMON_FUNCTION::CalcNewFourPoint(tagROTATEINFO& info, double angle) {
    if (info.size < kRotateInfoTextSlantSize) return;
    const int32_t w = EdgeLength(info.topLeft, info.topRight);
    const int32_t h = EdgeLength(info.topLeft, info.bottomLeft);
    const int32_t x0 = info.rightAnchored != 0 ? info.paperWidth - w : 0;
    Tvk::tagPOINT tl{x0, 0};
    Tvk::tagPOINT bl{x0, h};
    Tvk::tagPOINT tr{x0 + w, 0};
    Tvk::tagPOINT br{x0 + w, h};
    RotateFourPoint(tl, bl, tr, br, angle);
    info.dstTopLeft = tl;
    info.dstBottomLeft = bl;
    info.dstTopRight = tr;
    info.dstBottomRight = br;
    info.sin1024 = static_cast<int32_t>(std::sin(angle) * 1024.0);
    info.cos1024 = static_cast<int32_t>(std::cos(angle) * 1024.0);
}

void ROTATEIMAGE_COMMON_FUNCTION::CordinateToDetectTextImage(tagROTATEINFO& info) {
    for (Tvk::tagPOINT* p : {&info.topLeft, &info.bottomLeft, &info.topRight, &info.bottomRight}) {
        p->x /= 2;
        p->y /= 2;
    }
    info.srcWidth /= 2;
}

uint32_t ROTATEIMAGE_COMMON_FUNCTION::DetectTextSlant_for_RotateImage(tagTVKIMAGEINFO* src,
                                                                      tagROTATEINFO* info) {
    if (src == nullptr || src->lpImage == nullptr || info == nullptr ||
        info->size < kRotateInfoTextSlantSize || info->textSlant == nullptr ||
        !TvkImageFits(src, kTvkAnyLayout)) {
        return kIpErrBadArgument;
    }
    struct Owned {
        uint8_t* p = nullptr;
        ~Owned() { delete[] p; }
    };
    const int32_t bits = SourceBits(*src);
    if ((bits != 8 && bits != 24) || (bits == 24 && src->ulRGBOrder != 0)) {
        return kIpErrBadArgument;
    }
    tagROTATEINFO req{};
    std::memcpy(&req, info, std::min<size_t>(info->size, sizeof(req)));
    req.size = kRotateInfoSize;
    req.bitsPerPixel = 8;
    req.slantFlags = 0;
    req.handle = nullptr;
    req.last = 1;
    // A gray working image, halved while it has at least twice the working
    // resolution; a colour page turns gray in its first halving.
    const int64_t wanted = info->textSlant->workingResolution;
    auto halving = [wanted](const tagTVKIMAGEINFO& img) {
        return wanted > 0 && 2 * wanted <= img.lXResolution && img.lWidth >= 2 && img.lHeight >= 2;
    };
    tagTVKIMAGEINFO work = *src;
    Owned workBuf;
    if (bits == 24 && !halving(work)) {
        const uint32_t r = ToGrayImage(work, *src);
        if (r != kOk) return r;
        workBuf.p = work.lpImage;
    }
    while (halving(work)) {
        tagTVKIMAGEINFO half{};
        const uint32_t r = HalveToGray(half, work);
        if (r != kOk) return r;
        delete[] workBuf.p;
        workBuf.p = half.lpImage;
        work = half;
        CordinateToDetectTextImage(req);
    }
    req.srcWidth = std::min(req.srcWidth, work.lWidth);
    GetRotateImagePaperSize(&req);
    // The page cut out upright at its paper size.
    tagTVKIMAGEINFO cut{};
    Owned cutBuf;
    if (!MakeWorkImage(cut, work, req.paperWidth, req.paperHeight)) {
        return req.paperWidth <= 0 || req.paperHeight <= 0 ? kIpErrBadArgument : kIpErrOutOfMemory;
    }
    cutBuf.p = cut.lpImage;
    uint32_t r = RotateImagePage(&work, &cut, &req);
    if (r != kOk) return r;
    const int32_t slant = DetectTextSlant(&cut, info->textSlant);
    if (slant != 0) return static_cast<uint32_t>(slant);
    RotateFourPoint(info->topLeft, info->bottomLeft, info->topRight, info->bottomRight,
                    info->textSlant->angle);
    return kOk;
}

void ROTATEIMAGE_COMMON_FUNCTION::SetDebugFlag(uint32_t flag) {
    g_debugFlag = flag;
}

uint32_t ROTATEIMAGE_COMMON_FUNCTION::GetDebugFlag() {
    return g_debugFlag;
}

// ---------------------------------------------------------------------------
// Exports

namespace {

// Whole page, optionally turned by the text slant, without a caller's handle.
uint32_t WholePageWithTextSlant(tagTVKIMAGEINFO* src, tagTVKIMAGEINFO* dst, tagROTATEINFO* info) {
    using F = ROTATEIMAGE_COMMON_FUNCTION;
    if (info->last == 0) return kIpErrBadArgument;
    tagROTATEINFO work{};
    std::memcpy(&work, info, std::min<size_t>(info->size, sizeof(work)));
    work.handle = nullptr;
    double angle = 0.0;
    if ((work.slantFlags & kRotateSlantDetect) != 0) {
        const uint32_t r = F::DetectTextSlant_for_RotateImage(src, &work);
        if (r != kOk) return r;
        if (dst == nullptr) return kOk;
        angle = work.textSlant->angle;
    } else {
        if ((work.slantFlags & kRotateSlantUseAngle) != 0) {
            if (work.textSlant == nullptr) return kIpErrBadArgument;
            angle = work.textSlant->angle;
        }
        F::RotateFourPoint(work.topLeft, work.bottomLeft, work.topRight, work.bottomRight, angle);
        if (dst == nullptr) return kIpErrBadArgument;
    }
    F::CalcNewFourPoint(*info, -angle);
    const uint32_t r = RotateImagePage(src, dst, &work);
    info->keptLines = work.keptLines;
    info->linesOut = work.linesOut;
    info->linesIn = work.linesIn;
    return r;
}

} // namespace

uint32_t CreateRotateImageHandle(tagROTATEINFO* info) {
    IpSetLastError(0);
    if (info == nullptr) return kIpErrBadArgument;
    auto* h = new (std::nothrow) CRotateImage;
    if (h == nullptr) return kIpErrOutOfMemory;
    const uint32_t r = h->Initialize(info);
    if (r != kOk) {
        delete h;
        return r;
    }
    info->handle = h;
    return kOk;
}

uint32_t ReleaseRotateImageHandle(tagROTATEINFO* info) {
    IpSetLastError(0);
    if (info == nullptr) return kOk;
    delete static_cast<CRotateImage*>(info->handle);
    info->handle = nullptr;
    return kOk;
}

uint32_t RotateImage(tagTVKIMAGEINFO* src, tagTVKIMAGEINFO* dst, tagROTATEINFO* info) {
    IpSetLastError(0);
    if (src == nullptr || info == nullptr || info->size < kRotateInfoMinSize)
        return kIpErrBadArgument;
    const int32_t bits = SourceBits(*src);
    if (bits != 8 && bits != 24) return kIpErrBadArgument;
    if (info->handle == nullptr) return WholePageWithTextSlant(src, dst, info);
    if (dst == nullptr) return kIpErrBadArgument;
    return static_cast<CRotateImage*>(info->handle)->Process(src, dst, info);
}

uint32_t RotateImagePage(tagTVKIMAGEINFO* src, tagTVKIMAGEINFO* dst, tagROTATEINFO* info) {
    IpSetLastError(0);
    if (info == nullptr || info->size < kRotateInfoMinSize || info->last == 0)
        return kIpErrBadArgument;
    if (src == nullptr || dst == nullptr) return kIpErrBadArgument;
    const int32_t bits = SourceBits(*src);
    if (bits != 8 && bits != 24) return kIpErrBadArgument;
    // A handle of our own, so that a handle in the caller's record is untouched.
    CRotateImage handle;
    uint32_t r = handle.Initialize(info);
    if (r != kOk) return r;
    return handle.Process(src, dst, info);
}

uint32_t RotateImagePageAndDetectTextSlant(tagTVKIMAGEINFO* src, tagTVKIMAGEINFO* dst,
                                           tagROTATEINFO* info) {
    IpSetLastError(0);
    if (src == nullptr || info == nullptr || info->size < kRotateInfoMinSize)
        return kIpErrBadArgument;
    return WholePageWithTextSlant(src, dst, info);
}

uint32_t GetRotateImagePaperSize(tagROTATEINFO* info) {
    IpSetLastError(0);
    if (info == nullptr) return kIpErrBadArgument;
    info->paperWidth = EdgeLength(info->topLeft, info->topRight);
    info->paperHeight = EdgeLength(info->topLeft, info->bottomLeft);
    return kOk;
}
