// Band machinery of the edge-emphasis family: the three-line window, the
// four-neighbour and wide kernels and the parameterised gray member.
#include "EdgeFuncImpl.h"

#include "TvkIpError.h"
#include "VectorTarget.h"
#include "ImageCheck.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <utility>
#include <new>

namespace {

// Clip of a corrected sample: sums -255..768 to 0..255 (index sum + 255).
constexpr std::array<uint8_t, 1024> MakeClip() {
    std::array<uint8_t, 1024> t{};
    for (int i = 0; i < 1024; ++i) {
        const int v = i - 255;
        t[static_cast<size_t>(i)] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
    }
    return t;
}
constexpr std::array<uint8_t, 1024> kClipTable = MakeClip();
inline const uint8_t* to0_255() {
    return kClipTable.data() + 255;
}

// Inner samples x .. end - 1 in blocks of 32: a block whose responses all
// lie within -zero..zero (the flat paper of a page, where the table adds
// nothing) is copied, the others are looked up through put. Returns where the
// blocks stopped; zero < 0 (no response is known to be free) copies nothing.
template <typename Resp, typename Put>
inline int32_t FlatBlocks(uint8_t* __restrict out, const uint8_t* __restrict c, int32_t x,
                          int32_t end, int32_t zero, Resp resp, Put put) {
    constexpr int32_t kBlock = 32;
    if (zero < 0) return x;
    for (; x + kBlock <= end; x += kBlock) {
        int16_t r[kBlock];
        int32_t peak = 0;
        for (int32_t j = 0; j < kBlock; ++j) {
            const int32_t l = resp(x + j);
            r[j] = static_cast<int16_t>(l);
            peak = std::max(peak, l < 0 ? -l : l);
        }
        if (peak <= zero) {
            std::memcpy(out + x, c + x, kBlock);
            continue;
        }
        for (int32_t j = 0; j < kBlock; ++j) put(x + j, r[j]);
    }
    return x;
}

#if defined(__SSE2__)

// The vector twins of FlatBlocks for the four-neighbour window with two
// neighbour lines: the responses of a block in 16-bit lanes (at most 4 * 255
// in size), the flat test on all of them at once, and the table only for
// blocks that have an edge. They give the bytes of FlatBlocks and return where
// they stopped.

// The newest line of the window (v2) is asked for this far ahead as the
// kernels go: where the window reads the source in place, the lines that
// follow, spread over the loop rather than a whole line at once.
constexpr int64_t kAheadBytes = 4096;

// block(at) over [x, end), W samples a step, then the last samples as one
// more block that overlaps the one before (the same bytes again where they
// overlap); returns where it stopped. Always inlined, so that the vector
// kernel's block is inlined in its own target.
template <int32_t W, typename Block>
[[gnu::always_inline]] inline int32_t RunBlocks(int32_t x, int32_t end, const uint8_t* v2,
                                                const Block& block) {
    const int32_t first = x;
    for (; x + W <= end; x += W) {
        PrefetchAhead(v2 + x, kAheadBytes, 1);
        block(x);
    }
    if (x < end && end - W >= first) {
        block(end - W);
        x = end;
    }
    return x;
}

// How a block is found flat without computing its responses. Mean: by the
// rounded mean m of the four neighbours (two rounds of byte averages):
// 4m - 4 <= their sum <= 4m, so the response lies within
// 4(c - m) .. 4(c - m) + 4, and within -zero..zero when c - m <= above and
// m - c <= below (zero >= 4). Equal: five equal samples (response 0), for
// smaller free bands. None: no response is known to be free (zero < 0).
enum class FlatTest { None, Equal, Mean };
struct FlatLimits {
    FlatTest test;
    int32_t above;
    int32_t below;
};
inline FlatLimits FlatLimitsOf(int32_t zero) {
    if (zero < 0) return {FlatTest::None, 0, 0};
    if (zero < 4) return {FlatTest::Equal, 0, 0};
    const int32_t below = std::min(zero / 4, 255);
    return {FlatTest::Mean, below - 1, below};
}

// Responses of the 8 samples of c16 (already 16-bit) and their neighbours.
template <bool Neg>
inline __m128i FourResponse8(__m128i c16, __m128i l16, __m128i r16, __m128i u16, __m128i d16) {
    const __m128i around = _mm_add_epi16(_mm_add_epi16(l16, r16), _mm_add_epi16(u16, d16));
    const __m128i centre = _mm_slli_epi16(c16, 2);
    return Neg ? _mm_sub_epi16(around, centre) : _mm_sub_epi16(centre, around);
}

// The pieces of a level shape in vector registers.
struct ShapeLanes128 {
    int pieces;
    __m128i above[EdgeLevelShape::kMaxPieces];
    __m128i mul[EdgeLevelShape::kMaxPieces];
    __m128i add[EdgeLevelShape::kMaxPieces];
    __m128i shift[EdgeLevelShape::kMaxPieces];
};
struct ShapeLanes256 {
    int pieces;
    __m256i above[EdgeLevelShape::kMaxPieces];
    __m256i mul[EdgeLevelShape::kMaxPieces];
    __m256i add[EdgeLevelShape::kMaxPieces];
    __m128i shift[EdgeLevelShape::kMaxPieces];
};

inline ShapeLanes128 ShapeLanesSSE2(const EdgeLevelShape& shape) {
    ShapeLanes128 s;
    s.pieces = shape.pieces;
    for (int k = 0; k < shape.pieces; ++k) {
        s.above[k] = _mm_set1_epi16(shape.above[k]);
        s.mul[k] = _mm_set1_epi16(static_cast<int16_t>(shape.mul[k]));
        s.add[k] = _mm_set1_epi16(shape.add[k]);
        s.shift[k] = _mm_cvtsi32_si128(shape.shift[k]);
    }
    return s;
}

// Corrected samples of 8 pixels: c16 plus the shape's correction of each
// response, as 16-bit lanes (the caller's pack clips them to 0..255).
inline __m128i ShapeCorrected8(__m128i c16, __m128i resp, const ShapeLanes128& s) {
    const __m128i neg = _mm_srai_epi16(resp, 15);
    const __m128i a = _mm_sub_epi16(_mm_xor_si128(resp, neg), neg);
    const __m128i a6 = _mm_slli_epi16(a, 6);
    const auto piece = [&](int k) {
        return _mm_add_epi16(_mm_srl_epi16(_mm_mulhi_epu16(a6, s.mul[k]), s.shift[k]), s.add[k]);
    };
    __m128i v = piece(0);
    for (int k = 1; k < s.pieces; ++k) {
        const __m128i in = _mm_cmpgt_epi16(a, s.above[k]);
        v = _mm_or_si128(_mm_and_si128(in, piece(k)), _mm_andnot_si128(in, v));
    }
    // min(v, 255) with unsigned lanes, then the response's sign.
    v = _mm_sub_epi16(v, _mm_subs_epu16(v, _mm_set1_epi16(255)));
    return _mm_add_epi16(c16, _mm_sub_epi16(_mm_xor_si128(v, neg), neg));
}

template <int S, bool Neg>
int32_t FourBlocksSSE2(uint8_t* __restrict out, const uint8_t* __restrict c,
                       const uint8_t* __restrict v1, const uint8_t* __restrict v2, int32_t x,
                       int32_t end, const int32_t* __restrict level, int32_t zero,
                       const EdgeLevelShape& shape) {
    const ShapeLanes128 lanes = ShapeLanesSSE2(shape);
    const uint8_t* clip = to0_255();
    const __m128i z = _mm_setzero_si128();
    const __m128i limit = _mm_set1_epi16(static_cast<int16_t>(zero));
    const FlatLimits flat = FlatLimitsOf(zero);
    const __m128i aboveMean = _mm_set1_epi8(static_cast<char>(flat.above));
    const __m128i belowMean = _mm_set1_epi8(static_cast<char>(flat.below));
    const auto load = [](const uint8_t* p) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    };
    const auto block = [&](int32_t at) {
        const __m128i cc = load(c + at), l = load(c + at - S), r = load(c + at + S);
        const __m128i u = load(v1 + at), d = load(v2 + at);
        if (flat.test != FlatTest::None) {
            __m128i over;
            if (flat.test == FlatTest::Mean) {
                const __m128i m = _mm_avg_epu8(_mm_avg_epu8(l, r), _mm_avg_epu8(u, d));
                over = _mm_or_si128(_mm_subs_epu8(_mm_subs_epu8(cc, m), aboveMean),
                                    _mm_subs_epu8(_mm_subs_epu8(m, cc), belowMean));
            } else {
                over = _mm_or_si128(_mm_or_si128(_mm_xor_si128(cc, l), _mm_xor_si128(cc, r)),
                                    _mm_or_si128(_mm_xor_si128(cc, u), _mm_xor_si128(cc, d)));
            }
            if (_mm_movemask_epi8(_mm_cmpeq_epi8(over, z)) == 0xFFFF) {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at), cc);
                return;
            }
        }
        const __m128i lo = FourResponse8<Neg>(_mm_unpacklo_epi8(cc, z), _mm_unpacklo_epi8(l, z),
                                              _mm_unpacklo_epi8(r, z), _mm_unpacklo_epi8(u, z),
                                              _mm_unpacklo_epi8(d, z));
        const __m128i hi = FourResponse8<Neg>(_mm_unpackhi_epi8(cc, z), _mm_unpackhi_epi8(l, z),
                                              _mm_unpackhi_epi8(r, z), _mm_unpackhi_epi8(u, z),
                                              _mm_unpackhi_epi8(d, z));
        const __m128i absLo = _mm_max_epi16(lo, _mm_sub_epi16(z, lo));
        const __m128i absHi = _mm_max_epi16(hi, _mm_sub_epi16(z, hi));
        const __m128i over =
            _mm_or_si128(_mm_cmpgt_epi16(absLo, limit), _mm_cmpgt_epi16(absHi, limit));
        if (_mm_movemask_epi8(over) == 0) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at), cc);
            return;
        }
        if (lanes.pieces > 0) {
            const __m128i cLo = ShapeCorrected8(_mm_unpacklo_epi8(cc, z), lo, lanes);
            const __m128i cHi = ShapeCorrected8(_mm_unpackhi_epi8(cc, z), hi, lanes);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at), _mm_packus_epi16(cLo, cHi));
            return;
        }
        alignas(16) int16_t resp[16];
        _mm_store_si128(reinterpret_cast<__m128i*>(resp), lo);
        _mm_store_si128(reinterpret_cast<__m128i*>(resp + 8), hi);
        for (int32_t j = 0; j < 16; ++j) out[at + j] = clip[c[at + j] + level[resp[j]]];
    };
    return RunBlocks<16>(x, end, v2, block);
}

KD_AVX2 inline __m256i Load32(const uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

KD_AVX2 inline __m256i Widen16(const uint8_t* p) {
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

// Responses of 16 samples from x, in order, as 16-bit lanes.
template <int S, bool Neg>
KD_AVX2 inline __m256i FourResponse16(const uint8_t* c, const uint8_t* v1, const uint8_t* v2,
                                      int32_t x) {
    const __m256i around =
        _mm256_add_epi16(_mm256_add_epi16(Widen16(c + x - S), Widen16(c + x + S)),
                         _mm256_add_epi16(Widen16(v1 + x), Widen16(v2 + x)));
    const __m256i centre = _mm256_slli_epi16(Widen16(c + x), 2);
    return Neg ? _mm256_sub_epi16(around, centre) : _mm256_sub_epi16(centre, around);
}

// Corrected samples of 8 pixels from x: c plus the table entry of each
// response, as 32-bit lanes.
KD_AVX2 inline __m256i Corrected8(const uint8_t* c, int32_t x, __m128i resp8,
                                  const int32_t* level) {
    const __m256i entry = _mm256_i32gather_epi32(level, _mm256_cvtepi16_epi32(resp8), 4);
    const __m256i centre =
        _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(c + x)));
    return _mm256_add_epi32(centre, entry);
}

KD_AVX2 inline ShapeLanes256 ShapeLanesAVX2(const EdgeLevelShape& shape) {
    ShapeLanes256 s;
    s.pieces = shape.pieces;
    for (int k = 0; k < shape.pieces; ++k) {
        s.above[k] = _mm256_set1_epi16(shape.above[k]);
        s.mul[k] = _mm256_set1_epi16(static_cast<int16_t>(shape.mul[k]));
        s.add[k] = _mm256_set1_epi16(shape.add[k]);
        s.shift[k] = _mm_cvtsi32_si128(shape.shift[k]);
    }
    return s;
}

// The twin of ShapeCorrected8 for 16 pixels.
KD_AVX2 inline __m256i ShapeCorrected16(__m256i c16, __m256i resp,
                                        const ShapeLanes256& s) {
    const __m256i a = _mm256_abs_epi16(resp);
    const __m256i a6 = _mm256_slli_epi16(a, 6);
    const auto piece = [&](int k) KD_AVX2 {
        return _mm256_add_epi16(_mm256_srl_epi16(_mm256_mulhi_epu16(a6, s.mul[k]), s.shift[k]),
                                s.add[k]);
    };
    __m256i v = piece(0);
    for (int k = 1; k < s.pieces; ++k)
        v = _mm256_blendv_epi8(v, piece(k), _mm256_cmpgt_epi16(a, s.above[k]));
    v = _mm256_min_epu16(v, _mm256_set1_epi16(255));
    return _mm256_add_epi16(c16, _mm256_sign_epi16(v, resp));
}

template <int S, bool Neg>
KD_AVX2 int32_t FourBlocksAVX2(uint8_t* __restrict out, const uint8_t* __restrict c,
                               const uint8_t* __restrict v1, const uint8_t* __restrict v2,
                               int32_t x, int32_t end, const int32_t* __restrict level,
                               int32_t zero, const EdgeLevelShape& shape) {
    const ShapeLanes256 lanes = ShapeLanesAVX2(shape);
    const __m256i limit = _mm256_set1_epi16(static_cast<int16_t>(zero));
    const FlatLimits flat = FlatLimitsOf(zero);
    const __m256i aboveMean = _mm256_set1_epi8(static_cast<char>(flat.above));
    const __m256i belowMean = _mm256_set1_epi8(static_cast<char>(flat.below));
    // The two packs leave 4-pixel groups in the order 0 2 4 6 1 3 5 7.
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    const auto block = [&](int32_t at) KD_AVX2 {
        if (flat.test == FlatTest::Mean) {
            const __m256i cc = Load32(c + at);
            const __m256i m = _mm256_avg_epu8(_mm256_avg_epu8(Load32(c + at - S), Load32(c + at + S)),
                                              _mm256_avg_epu8(Load32(v1 + at), Load32(v2 + at)));
            const __m256i over =
                _mm256_or_si256(_mm256_subs_epu8(_mm256_subs_epu8(cc, m), aboveMean),
                                _mm256_subs_epu8(_mm256_subs_epu8(m, cc), belowMean));
            if (_mm256_testz_si256(over, over)) {
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + at), cc);
                return;
            }
        } else if (flat.test == FlatTest::Equal) {
            const __m256i cc = Load32(c + at);
            const __m256i over = _mm256_or_si256(
                _mm256_or_si256(_mm256_xor_si256(cc, Load32(c + at - S)),
                                _mm256_xor_si256(cc, Load32(c + at + S))),
                _mm256_or_si256(_mm256_xor_si256(cc, Load32(v1 + at)),
                                _mm256_xor_si256(cc, Load32(v2 + at))));
            if (_mm256_testz_si256(over, over)) {
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + at), cc);
                return;
            }
        }
        const __m256i lo = FourResponse16<S, Neg>(c, v1, v2, at);
        const __m256i hi = FourResponse16<S, Neg>(c, v1, v2, at + 16);
        const __m256i over = _mm256_or_si256(_mm256_cmpgt_epi16(_mm256_abs_epi16(lo), limit),
                                             _mm256_cmpgt_epi16(_mm256_abs_epi16(hi), limit));
        if (_mm256_testz_si256(over, over)) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + at), Load32(c + at));
            return;
        }
        if (lanes.pieces > 0) {
            const __m256i cLo = ShapeCorrected16(Widen16(c + at), lo, lanes);
            const __m256i cHi = ShapeCorrected16(Widen16(c + at + 16), hi, lanes);
            // The in-lane pack leaves 8-pixel groups in the order 0 2 1 3.
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + at),
                                _mm256_permute4x64_epi64(_mm256_packus_epi16(cLo, cHi), 0xD8));
            return;
        }
        // c + entry lies within -255 .. 510: the saturating packs clip it
        // to 0 .. 255 as the clip table does.
        const __m256i p0 =
            _mm256_packs_epi32(Corrected8(c, at, _mm256_castsi256_si128(lo), level),
                               Corrected8(c, at + 8, _mm256_extracti128_si256(lo, 1), level));
        const __m256i p1 =
            _mm256_packs_epi32(Corrected8(c, at + 16, _mm256_castsi256_si128(hi), level),
                               Corrected8(c, at + 24, _mm256_extracti128_si256(hi, 1), level));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + at),
                            _mm256_permutevar8x32_epi32(_mm256_packus_epi16(p0, p1), order));
    };
    return RunBlocks<32>(x, end, v2, block);
}

#endif

// The inner samples x .. end - 1 through the vector twin the processor and
// the portable override allow; returns where it stopped (x when none runs).
template <int S, bool Neg>
int32_t FourBlocksVector(uint8_t* out, const uint8_t* c, const uint8_t* v1, const uint8_t* v2,
                         int32_t x, int32_t end, const int32_t* level, int32_t zero,
                         const EdgeLevelShape& shape) {
#if defined(__SSE2__)
    if (IsAVX2FeatureAvailable())
        return FourBlocksAVX2<S, Neg>(out, c, v1, v2, x, end, level, zero, shape);
    if (IsSSE2FeatureAvailable())
        return FourBlocksSSE2<S, Neg>(out, c, v1, v2, x, end, level, zero, shape);
#endif
    return x;
}

// Four-neighbour response on a line of n bytes whose pixels are S bytes apart
// (each channel with its own neighbours). v2 null: one vertical neighbour.
// Neg negates the response (the smoothing members). Responses within
// -zero..zero have no correction (zero < 0: none is known to be free).
template <int S, bool Neg>
void FourRow(uint8_t* __restrict out, const uint8_t* __restrict c, const uint8_t* __restrict v1,
             const uint8_t* __restrict v2, int32_t n, const int32_t* __restrict level,
             int32_t zero, const EdgeLevelShape& shape) {
    const uint8_t* clip = to0_255();
    auto put = [&](int32_t i, int32_t l) {
        if constexpr (Neg) l = -l;
        out[i] = clip[c[i] + level[l]];
    };
    if (v2 != nullptr) {
        for (int32_t i = 0; i < S; ++i) put(i, 3 * c[i] - c[i + S] - v1[i] - v2[i]);
        const auto inner = [&](int32_t x) {
            return 4 * c[x] - c[x - S] - c[x + S] - v1[x] - v2[x];
        };
        int32_t i = FourBlocksVector<S, Neg>(out, c, v1, v2, S, n - S, level, zero, shape);
        i = FlatBlocks(out, c, i, n - S, zero, inner, put);
        for (; i < n - S; ++i) put(i, inner(i));
        for (int32_t i2 = n - S; i2 < n; ++i2) put(i2, 3 * c[i2] - c[i2 - S] - v1[i2] - v2[i2]);
    } else {
        for (int32_t i = 0; i < S; ++i) put(i, 2 * c[i] - c[i + S] - v1[i]);
        for (int32_t i = S; i < n - S; ++i) put(i, 3 * c[i] - c[i - S] - c[i + S] - v1[i]);
        for (int32_t i = n - S; i < n; ++i) put(i, 2 * c[i] - c[i - S] - v1[i]);
    }
}

// Neighbour-line terms of the wide kernel.
inline int32_t WideInner(const uint8_t* v, int32_t x) {
    return 2 * v[x - 2] + v[x - 1] + v[x] + v[x + 1] + 2 * v[x + 2];
}
inline int32_t Wide0(const uint8_t* v) {
    return v[0] + v[1] + 2 * v[2];
}
inline int32_t Wide1(const uint8_t* v) {
    return v[0] + v[1] + v[2] + 2 * v[3];
}
inline int32_t WideR1(const uint8_t* v, int32_t w) {
    return 2 * v[w - 4] + v[w - 3] + v[w - 2] + v[w - 1];
}
inline int32_t WideR0(const uint8_t* v, int32_t w) {
    return 2 * v[w - 3] + v[w - 2] + v[w - 1];
}

// Wide kernel with two neighbour lines (TwoLines) or one.
template <bool TwoLines>
void WideRow(uint8_t* __restrict out, const uint8_t* __restrict c, const uint8_t* __restrict v1,
             const uint8_t* __restrict v2, int32_t w, const int32_t* __restrict level,
             int32_t zero) {
    const uint8_t* clip = to0_255();
    auto put = [&](int32_t i, int32_t l) { out[i] = clip[c[i] + level[l]]; };
    if constexpr (TwoLines) {
        put(0, 8 * c[0] + c[1] - c[2] - Wide0(v1) - Wide0(v2));
        put(1, c[0] + 9 * c[1] + c[2] - c[3] - Wide1(v1) - Wide1(v2));
        const auto inner = [&](int32_t x) {
            return 12 * c[x] + 2 * c[x - 1] + 2 * c[x + 1] - c[x - 2] - c[x + 2] -
                   WideInner(v1, x) - WideInner(v2, x);
        };
        int32_t x = FlatBlocks(out, c, 2, w - 2, zero, inner, put);
        for (; x < w - 2; ++x) put(x, inner(x));
        put(w - 2, c[w - 3] + 9 * c[w - 2] + c[w - 1] - c[w - 4] - WideR1(v1, w) - WideR1(v2, w));
        put(w - 1, c[w - 2] + 8 * c[w - 1] - c[w - 3] - WideR0(v1, w) - WideR0(v2, w));
    } else {
        put(0, 4 * c[0] + c[1] - c[2] - Wide0(v1));
        put(1, c[0] + 4 * c[1] + c[2] - c[3] - Wide1(v1));
        for (int32_t x = 2; x < w - 2; ++x) {
            put(x, 7 * c[x] + c[x - 1] + c[x + 1] - c[x - 2] - c[x + 2] - WideInner(v1, x));
        }
        put(w - 2, c[w - 3] + 4 * c[w - 2] + c[w - 1] - c[w - 4] - WideR1(v1, w));
        put(w - 1, c[w - 2] + 4 * c[w - 1] - c[w - 3] - WideR0(v1, w));
    }
}

} // namespace

// ---------------------------------------------------------------------------
// Level tables in pieces

namespace {

// A non-negative fraction; den 0 stands for infinity.
struct Ratio {
    int64_t num;
    int64_t den;
};
bool Below(const Ratio& a, const Ratio& b) {
    if (b.den == 0) return a.den != 0;
    if (a.den == 0) return false;
    return a.num * b.den < b.num * a.den;
}

// Corrections of at least this much clip every sample alike.
constexpr int32_t kFullLevel = 255;

// The longest run from a = start on which floor(a * q) gives g(a) for one
// slope q (g(a) = 255 needs only floor(a * q) >= 255: the clamp makes it
// 255), as mul and shift of a piece. Returns the end of the run (start when
// no piece fits).
template <typename G>
int32_t LinearRun(G g, int32_t start, uint16_t& mul, uint8_t& shift) {
    Ratio lo{0, 1}, hi{1, 0};
    int32_t end = start;
    for (int32_t a = start; a <= EdgeLevelShape::kMaxResponse; ++a) {
        const int32_t v = g(a);
        if (a == 0) {
            if (v != 0) break;
            end = a + 1;
            continue;
        }
        Ratio nlo = lo, nhi = hi;
        if (Below(nlo, Ratio{v, a})) nlo = Ratio{v, a};
        if (v < kFullLevel && Below(Ratio{v + 1, a}, nhi)) nhi = Ratio{v + 1, a};
        if (!Below(nlo, nhi)) break;
        lo = nlo;
        hi = nhi;
        end = a + 1;
    }
    // q = m / 2^(10 + shift): the high half of (a << 6) * m, shifted.
    for (int sh = 0; sh < 16 && end > start; ++sh) {
        const int64_t scale = int64_t{1} << (10 + sh);
        const int64_t m = (lo.num * scale + lo.den - 1) / lo.den;
        if (m > 0xFFFF) break;
        if (hi.den == 0 || m * hi.den < hi.num * scale) {
            mul = static_cast<uint16_t>(m);
            shift = static_cast<uint8_t>(sh);
            return end;
        }
    }
    return start;
}

} // namespace

int32_t EdgeLevelShape::Level(int32_t response) const {
    const int32_t a = response < 0 ? -response : response;
    int k = 0;
    while (k + 1 < pieces && a > above[k + 1]) ++k;
    const int64_t high = (int64_t{a} << 6) * mul[k] >> 16;
    const int32_t v = std::min<int32_t>(kFullLevel, static_cast<int32_t>(high >> shift[k]) + add[k]);
    return response < 0 ? -v : v;
}

EdgeLevelShape EdgeLevelShapeOf(const int32_t* level) {
    constexpr int32_t kMax = EdgeLevelShape::kMaxResponse;
    EdgeLevelShape shape;
    for (int32_t a = 0; a <= kMax; ++a)
        if (level[a] < 0 || level[a] > kFullLevel || level[-a] != -level[a]) return shape;
    const auto g = [level](int32_t a) { return level[a]; };
    int32_t start = 0;
    while (start <= kMax) {
        if (shape.pieces == EdgeLevelShape::kMaxPieces) return EdgeLevelShape{};
        const int k = shape.pieces++;
        shape.above[k] = static_cast<int16_t>(start - 1);
        int32_t end = LinearRun(g, start, shape.mul[k], shape.shift[k]);
        int32_t flat = start;
        while (flat <= kMax && g(flat) == g(start)) ++flat;
        if (flat > end) { // a constant piece reaches further
            shape.mul[k] = 0;
            shape.shift[k] = 0;
            shape.add[k] = static_cast<int16_t>(g(start));
            end = flat;
        }
        start = end;
    }
    for (int32_t l = -kMax; l <= kMax; ++l)
        if (shape.Level(l) != level[l]) return EdgeLevelShape{};
    return shape;
}

tagTVKIMAGEINFO EdgeBand(const tagTVKIMAGEINFO& img, int32_t start, int32_t count) {
    tagTVKIMAGEINFO band = img;
    const int32_t left = std::max(img.lHeight - start, 0);
    band.lpImage = EdgeLinePtr(img, start);
    band.lYpos = 0;
    band.lHeight = std::max(std::min(count, left), 0);
    band.tImageSize = static_cast<uint32_t>(band.lHeight * EdgeLineStep(img));
    return band;
}

tagEDGEINFO EdgeInfoCopy(const tagEDGEINFO* info) {
    tagEDGEINFO local{};
    std::memcpy(&local, info, std::min<size_t>(info->ulSize, sizeof(tagEDGEINFO)));
    return local;
}

// ---------------------------------------------------------------------------
// CEdgeFuncGray

CEdgeFuncGray::~CEdgeFuncGray() {
    delete[] m_pLineBuffer;
    delete[] m_pLevelBlock;
}

void CEdgeFuncGray::Init() {
    delete[] m_pLineBuffer;
    delete[] m_pLevelBlock;
    m_pNewest = m_pCentre = m_pOldest = nullptr;
    m_pLevelBlock = nullptr;
    m_pLevel = nullptr;
    m_pLineBuffer = nullptr;
    m_lLevelRange = 0;
    m_lWidth = 0;
    m_bReady = false;
}

void CEdgeFuncGray::SetInfo(const tagEDGEINFO* info) {
    m_Info = EdgeInfoCopy(info);
}

bool CEdgeFuncGray::GetBuffer(size_t size) {
    delete[] m_pLineBuffer;
    m_pLineBuffer = new (std::nothrow) uint8_t[size]();
    return m_pLineBuffer != nullptr;
}

bool CEdgeFuncGray::AllocLevelTable(int32_t range) {
    delete[] m_pLevelBlock;
    m_pLevel = nullptr;
    m_lLevelRange = 0;
    m_pLevelBlock = new (std::nothrow) int32_t[static_cast<size_t>(range) * 2];
    if (m_pLevelBlock == nullptr) return false;
    m_pLevel = m_pLevelBlock + range;
    m_lLevelRange = range;
    return true;
}

bool CEdgeFuncGray::AcceptsImage(const tagTVKIMAGEINFO* img) const {
    return img->lSpp == 1;
}

bool CEdgeFuncGray::CheckImage(const tagTVKIMAGEINFO* img, int32_t width, bool needPixels) const {
    if (img->lBps != 8 || !AcceptsImage(img) || img->lYpos < 0 || img->lHeight < 0) return false;
    if (width < 1 ||
        static_cast<int64_t>(img->lSync) < static_cast<int64_t>(width) * BytesPerPixel())
        return false;
    return !needPixels ||
           (img->lpImage != nullptr && TvkImageFits(img, kTvkAnyLayout | kTvkFromYpos));
}

bool CEdgeFuncGray::AcceptsBand(const tagTVKIMAGEINFO* dst, const tagTVKIMAGEINFO* src,
                                bool fresh) {
    if (fresh && src->lWidth < MinWidth()) return false;
    // A window that was never filled cannot continue an image, and a filled
    // one only an image of its width.
    if (!fresh && IsUseLineBuffer() && !m_bReady) return false;
    if (!fresh && m_bReady && src->lWidth != m_lWidth) return false;
    return CheckImage(src, src->lWidth, true) && CheckImage(dst, src->lWidth, true);
}

int CEdgeFuncGray::CopyLine(uint8_t* out, const uint8_t* in, int32_t width) const {
    std::memcpy(out, in, static_cast<size_t>(LineBytes(width)));
    return 1;
}
int CEdgeFuncGray::LineStart1(uint8_t* out, const uint8_t* in, int32_t width) {
    return CopyLine(out, in, width);
}
int CEdgeFuncGray::LineStart2(uint8_t* out, const uint8_t* in, int32_t width) {
    return CopyLine(out, in, width);
}
int CEdgeFuncGray::LineCont(uint8_t* out, const uint8_t* in, int32_t width) {
    return CopyLine(out, in, width);
}
int CEdgeFuncGray::LineFinish(uint8_t* out, const uint8_t* in, int32_t width) {
    return 0;
}
void CEdgeFuncGray::LinesCont(uint8_t* out, int64_t outStep, const uint8_t* in, int64_t inStep,
                              int32_t h) {
    for (int32_t i = 0; i < h; ++i) LineCont(out + i * outStep, in + i * inStep, m_lWidth);
}

int CEdgeFuncGray::Start(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagEDGEINFO* info) {
    if (dst == nullptr || src == nullptr || info == nullptr || src->lHeight < 0) return 0;
    int32_t h = src->lHeight;
    const tagEDGEINFO saved = m_Info;
    SetInfo(info);
    int32_t state = m_Info.lLineCount;
    if (state < 0) { // no progress state of this family
        m_Info = saved;
        return 0;
    }

    if (h > 0) {
        // A caller's non-zero line count on a fresh object is refused, not
        // run on missing buffers.
        const bool fresh = state == 0;
        if (!AcceptsBand(dst, src, fresh)) {
            m_Info = saved;
            return 0;
        }
        if (fresh || !m_bReady) m_lWidth = src->lWidth;
    }

    dst->lHeight = h;
    const int32_t width = m_lWidth;
    int32_t written = 0;
    int32_t used = 0;
    if (h > 0 && state == 0) {
        m_bReady = false;
        if (IsUseLineBuffer()) {
            const size_t lineBytes = static_cast<size_t>(LineBytes(width));
            if (!GetBuffer(lineBytes * static_cast<size_t>(UseLineBuffer())))
                throw kEdgeFuncNoMemory;
            NewBuffer(dst, src, info);
        }
        if (MakeLevelTable() == 0) throw kEdgeFuncNoMemory;
        m_bReady = true;
        state = 1;
        --h;
        if (LineStart1(EdgeLinePtr(*dst, 0), EdgeLinePtr(*src, 0), width) != 0)
            ++written;
        else
            --dst->lHeight;
        ++used;
    }
    if (h > 0 && state == 1) {
        state = 2;
        --h;
        if (LineStart2(EdgeLinePtr(*dst, written), EdgeLinePtr(*src, used), width) != 0)
            ++written;
        else
            --dst->lHeight;
        ++used;
    }
    m_Info.lLineCount = state;
    info->lLineCount = state;
    if (h > 0) {
        tagTVKIMAGEINFO dstBand = EdgeBand(*dst, written, dst->lHeight - written);
        tagTVKIMAGEINFO srcBand = EdgeBand(*src, used, h);
        if (Cont(&dstBand, &srcBand, info) == 0) return 0;
    }
    return 1;
}

int CEdgeFuncGray::Cont(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagEDGEINFO* info) {
    if (dst == nullptr || src == nullptr || info == nullptr || src->lHeight < 0) return 0;
    if (m_Info.lLineCount <= 1) return Start(dst, src, info);
    const int32_t h = src->lHeight;
    if (h > 0) {
        if (!AcceptsBand(dst, src, false)) return 0;
        if (!m_bReady) m_lWidth = src->lWidth;
    }
    const int64_t ds = EdgeLineStep(*dst);
    const int64_t ss = EdgeLineStep(*src);
    uint8_t* d = EdgeLinePtr(*dst, 0);
    const uint8_t* s = EdgeLinePtr(*src, 0);
    if (h > 0) LinesCont(d, ds, s, ss, h);
    dst->lHeight = h;
    info->lLineCount += h;
    return 1;
}

int CEdgeFuncGray::Finish(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagEDGEINFO* info) {
    if (dst == nullptr || info == nullptr) return 0;
    int32_t at = 0;
    if (src != nullptr && src->lHeight > 0) {
        tagTVKIMAGEINFO copy = *dst;
        if (Cont(&copy, src, info) == 0) return 0;
        at = copy.lHeight;
    }
    // Nothing pending for the copying members, nor when the image brought no
    // line at all.
    if (!IsUseLineBuffer() || m_Info.lLineCount == 0 || !m_bReady) return 1;
    if (!CheckImage(dst, m_lWidth, true)) return 0;
    LineFinish(EdgeLinePtr(*dst, at), nullptr, m_lWidth);
    return 1;
}

// ---------------------------------------------------------------------------
// CEdgeFuncOn

void CEdgeFuncOn::NewBuffer(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagEDGEINFO* info) {
    m_lLineBytes = LineBytes(m_lWidth);
    m_pNewest = m_pLineBuffer;
    m_pCentre = m_pLineBuffer + m_lLineBytes;
    m_pOldest = m_pLineBuffer + 2 * static_cast<int64_t>(m_lLineBytes);
}

int CEdgeFuncOn::MakeLevelTable() {
    const int32_t range = TableRange();
    if (!AllocLevelTable(range)) return 0;
    for (int32_t l = -range; l < range; ++l) m_pLevel[l] = EdgeLevel::Clamp255(RawLevel(l));
    // The widest band of responses around 0 that the table leaves uncorrected.
    m_lZeroBand = -1;
    while (m_lZeroBand + 1 < range && m_pLevel[m_lZeroBand + 1] == 0 &&
           m_pLevel[-(m_lZeroBand + 1)] == 0)
        ++m_lZeroBand;
    m_Shape = EdgeLevelShapeOf(m_pLevel);
    return 1;
}

void CEdgeFuncOn::Rotate() {
    uint8_t* t = m_pOldest;
    m_pOldest = m_pCentre;
    m_pCentre = m_pNewest;
    m_pNewest = t;
}

void CEdgeFuncOn::Row(uint8_t* out, const uint8_t* c, const uint8_t* v1, const uint8_t* v2,
                      int32_t n) const {
    FourRow<1, false>(out, c, v1, v2, n, m_pLevel, m_lZeroBand, m_Shape);
}

int CEdgeFuncOn::LineStart1(uint8_t* out, const uint8_t* in, int32_t width) {
    WindowCopy(m_pNewest, in, m_lLineBytes);
    return 0;
}

int CEdgeFuncOn::LineStart2(uint8_t* out, const uint8_t* in, int32_t width) {
    WindowCopy(m_pOldest, in, m_lLineBytes);
    Rotate();
    Row(out, m_pCentre, m_pNewest, nullptr, m_lLineBytes);
    return 1;
}

int CEdgeFuncOn::LineCont(uint8_t* out, const uint8_t* in, int32_t width) {
    WindowCopy(m_pOldest, in, m_lLineBytes);
    Rotate();
    Row(out, m_pCentre, m_pOldest, m_pNewest, m_lLineBytes);
    return 1;
}

void CEdgeFuncOn::LinesCont(uint8_t* out, int64_t outStep, const uint8_t* in, int64_t inStep,
                            int32_t h) {
    // Bytes the band's lines span, first to last.
    const auto span = [this, h](const uint8_t* p, int64_t step) {
        const uint8_t* last = p + (h - 1) * step;
        return std::pair{std::min(p, last), std::max(p, last) + m_lLineBytes};
    };
    const auto [outLo, outHi] = span(out, outStep);
    const auto [inLo, inHi] = span(in, inStep);
    const bool apart = std::less<>()(outHi, inLo + 1) || std::less<>()(inHi, outLo + 1);
    if (h < 2 || !apart) return CEdgeFuncGray::LinesCont(out, outStep, in, inStep, h);
    // Destination and source lie apart: the window's lines are read where
    // they stand, and only the last two lines of the band are kept for the
    // next one.
    Row(out, m_pNewest, m_pCentre, in, m_lLineBytes);
    Row(out + outStep, in, m_pNewest, in + inStep, m_lLineBytes);
    for (int32_t i = 2; i < h; ++i)
        Row(out + i * outStep, in + (i - 1) * inStep, in + (i - 2) * inStep, in + i * inStep,
            m_lLineBytes);
    uint8_t* const free1 = m_pOldest;
    uint8_t* const free2 = m_pCentre;
    WindowCopy(free1, in + (h - 2) * inStep, m_lLineBytes);
    WindowCopy(free2, in + (h - 1) * inStep, m_lLineBytes);
    m_pOldest = m_pNewest;
    m_pCentre = free1;
    m_pNewest = free2;
}

int CEdgeFuncOn::LineFinish(uint8_t* out, const uint8_t* in, int32_t width) {
    // An image of a single line has no neighbour line at all: the line stands
    // in for its own missing neighbour, which leaves the horizontal response.
    if (m_Info.lLineCount <= 1)
        Row(out, m_pNewest, m_pNewest, nullptr, m_lLineBytes);
    else
        Row(out, m_pNewest, m_pCentre, nullptr, m_lLineBytes);
    return 1;
}

// ---------------------------------------------------------------------------
// Wide kernel

void CEdgeFuncMS::Row(uint8_t* out, const uint8_t* c, const uint8_t* v1, const uint8_t* v2,
                      int32_t n) const {
    if (v2 != nullptr)
        WideRow<true>(out, c, v1, v2, n, m_pLevel, m_lZeroBand);
    else
        WideRow<false>(out, c, v1, nullptr, n, m_pLevel, m_lZeroBand);
}

// ---------------------------------------------------------------------------
// Interleaved colour kernels

bool CEdgeFuncColorRGB::AcceptsImage(const tagTVKIMAGEINFO* img) const {
    return img->lSpp == 3 && img->ulRGBOrder == 0;
}

void CEdgeFuncColorRGB::Row(uint8_t* out, const uint8_t* c, const uint8_t* v1, const uint8_t* v2,
                            int32_t n) const {
    FourRow<3, false>(out, c, v1, v2, n, m_pLevel, m_lZeroBand, m_Shape);
}

void CEdgeFuncColorRGBAve::Row(uint8_t* out, const uint8_t* c, const uint8_t* v1, const uint8_t* v2,
                               int32_t n) const {
    FourRow<3, true>(out, c, v1, v2, n, m_pLevel, m_lZeroBand, m_Shape);
}

// ---------------------------------------------------------------------------
// Parameterised level tables

EdgeLevelParams EdgeLevelParamsFrom(const tagEDGEINFO* info) {
    EdgeLevelParams p;
    if (info != nullptr && info->ulSize >= kEdgeInfoSizeParam && info->lHighDiv != 0 &&
        info->lLowDiv != 0) {
        p.highTh = info->lHighTh;
        p.highMul = info->lHighMul;
        p.highDiv = info->lHighDiv;
        p.lowTh = info->lLowTh;
        p.lowMul = info->lLowMul;
        p.lowDiv = info->lLowDiv;
    }
    return p;
}

int32_t EdgeLevelFromParams(const EdgeLevelParams& p, int32_t l) {
    const int32_t a = l < 0 ? -l : l;
    int64_t f = 0;
    if (a > p.highTh)
        f = static_cast<int64_t>(l) * p.highMul / p.highDiv;
    else if (a > p.lowTh)
        f = static_cast<int64_t>(l) * p.lowMul / p.lowDiv;
    // Large products are clamped here already; the table clamps to the same range.
    return static_cast<int32_t>(std::clamp<int64_t>(f, -255, 255));
}
