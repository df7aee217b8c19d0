// Double-density binarisation: an 8-bit gray image becomes a 1-bit image of
// twice the width and height, by replication (kind 11), linear (kind 12) or
// four-tap cubic (kind 13) interpolation of the in-between samples.
#include "BitPack.h"
#include "CBFuncKinds.h"

#include "TvkIpError.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace BinFunc_Cubic_Function {

// Outer taps weigh c, the inner ones 32 - c; the sum is taken over 64.
constexpr int32_t contrast_binfunc_cubic = -8;

namespace {

inline uint8_t Clamp255(int32_t v) {
    return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// The sample beyond the last one, extrapolated from the last two.
inline uint8_t Extrapolate(int32_t last, int32_t previous) {
    return Clamp255((3 * last - previous) >> 1);
}

} // namespace

// In-between samples of a line for kind 12: m(x) lies between s(x) and s(x+1).
void ChargeOneLineLinear(const uint8_t* s, uint8_t* m, int32_t w) {
    int32_t x = 0;
#if defined(__SSE2__)
    if (IsSSE2FeatureAvailable()) {
        // The floor of the mean: the rounded-up mean less the odd bit.
        const __m128i one = _mm_set1_epi8(1);
        for (; x + 17 <= w; x += 16) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + x));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + x + 1));
            const __m128i mean =
                _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), one));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(m + x), mean);
        }
    }
#endif
    for (; x + 1 < w; ++x) m[x] = static_cast<uint8_t>((s[x] + s[x + 1]) >> 1);
    m[w - 1] = Extrapolate(s[w - 1], s[w - 2]);
}

// In-between samples of a line for kind 13 (w >= 4).
void ChargeOneLine(const uint8_t* s, uint8_t* m, int32_t w) {
    constexpr int32_t c = contrast_binfunc_cubic;
    m[0] = static_cast<uint8_t>((s[0] + s[1]) >> 1);
    int32_t x = 1;
#if defined(__SSE2__)
    if (IsSSE2FeatureAvailable()) {
        // Sixteen-bit lanes hold every term (|sum| <= 40 x 510); the shift is
        // arithmetic and the pack clamps to 0..255.
        const __m128i zero = _mm_setzero_si128();
        const __m128i outer = _mm_set1_epi16(static_cast<int16_t>(c));
        const __m128i inner = _mm_set1_epi16(static_cast<int16_t>(32 - c));
        const auto load8 = [&](int32_t at) {
            return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + at)),
                                     zero);
        };
        for (; x + 10 <= w; x += 8) {
            const __m128i v =
                _mm_add_epi16(_mm_mullo_epi16(_mm_add_epi16(load8(x - 1), load8(x + 2)), outer),
                              _mm_mullo_epi16(_mm_add_epi16(load8(x), load8(x + 1)), inner));
            const __m128i r = _mm_srai_epi16(v, 6);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(m + x), _mm_packus_epi16(r, r));
        }
    }
#endif
    for (; x <= w - 3; ++x)
        m[x] = Clamp255(((s[x - 1] + s[x + 2]) * c + (s[x] + s[x + 1]) * (32 - c)) >> 6);
    m[w - 2] = static_cast<uint8_t>((s[w - 2] + s[w - 1]) >> 1);
    m[w - 1] = Extrapolate(s[w - 1], s[w - 2]);
}

// Bit k of a byte moved to bit 2k of a 16-bit word.
constexpr std::array<uint16_t, 256> MakeSpread() {
    std::array<uint16_t, 256> t{};
    for (unsigned v = 0; v < 256; ++v) {
        unsigned r = 0;
        for (unsigned k = 0; k < 8; ++k)
            if (v & (1u << k)) r |= 1u << (2 * k);
        t[v] = static_cast<uint16_t>(r);
    }
    return t;
}
constexpr std::array<uint16_t, 256> kSpread = MakeSpread();

// Pixel pairs x0 .. w - 1 one by one: pixel 2x is black when even(x),
// pixel 2x + 1 when odd(x); bits beyond 2w keep their value.
template <typename Even, typename Odd>
inline void WritePairs(uint8_t* row, int32_t x0, int32_t w, Even even, Odd odd) {
    for (int32_t x = x0; x < w; ++x) {
        const int32_t bit = 2 * x;
        uint8_t& b = row[bit >> 3];
        const unsigned pair = (static_cast<unsigned>(even(x)) << 1) | static_cast<unsigned>(odd(x));
        const int32_t shift = 6 - (bit & 7);
        b = static_cast<uint8_t>((b & ~(3u << shift)) | (pair << shift));
    }
}

// Writes one destination row of 2w pixels: pixel 2x is black when even(x),
// pixel 2x + 1 when odd(x). The tests of a chunk run in two plain loops of
// fixed length (which the compiler vectorises), then eight source pixels
// make two bytes. Bits beyond 2w keep their value.
template <typename Even, typename Odd>
inline void WriteRow(uint8_t* row, int32_t w, Even even, Odd odd) {
    constexpr int32_t kChunk = 256; // a multiple of 8, so chunks start on whole bytes
    uint8_t fe[kChunk], fo[kChunk];
    int32_t x0 = 0;
    for (; x0 + kChunk <= w; x0 += kChunk) {
        for (int32_t k = 0; k < kChunk; ++k) fe[k] = static_cast<uint8_t>(even(x0 + k));
        for (int32_t k = 0; k < kChunk; ++k) fo[k] = static_cast<uint8_t>(odd(x0 + k));
        uint8_t* out = row + x0 / 4;
        for (int32_t k = 0; k < kChunk; k += 8) {
            const unsigned v =
                (kSpread[BitPack::Pack8(fe + k)] << 1) | kSpread[BitPack::Pack8(fo + k)];
            out[k / 4] = static_cast<uint8_t>(v >> 8);
            out[k / 4 + 1] = static_cast<uint8_t>(v);
        }
    }
    WritePairs(row, x0, w, even, odd); // the rest of the row
}

#if defined(__SSE2__)
// Eight samples from p as 16-bit lanes.
inline __m128i Load8(const uint8_t* p) {
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)),
                             _mm_setzero_si128());
}

// The vector twin of WriteRow: evenV(x) and oddV(x) give the tests of
// pixels x .. x + 7 as 16-bit lane masks; eight source pixels make two
// destination bytes. The width mod 8 pixels go through even(x) and odd(x).
template <typename EvenV, typename OddV, typename Even, typename Odd>
inline void WriteRowSSE2(uint8_t* row, int32_t w, EvenV evenV, OddV oddV, Even even, Odd odd) {
    int32_t x = 0;
    for (; x + 8 <= w; x += 8) {
        const __m128i e = _mm_packs_epi16(evenV(x), _mm_setzero_si128());
        const __m128i o = _mm_packs_epi16(oddV(x), _mm_setzero_si128());
        // Bytes in destination order e0 o0 e1 o1 ..., one bit each.
        BitPack::StoreMask16(row + (x >> 2),
                             static_cast<unsigned>(_mm_movemask_epi8(_mm_unpacklo_epi8(e, o))));
    }
    WritePairs(row, x, w, even, odd);
}
#endif

// Both writers of a row, chosen by the processor: the portable one is the
// reference and the vector one gives the same bytes.
#if defined(__SSE2__)
#define KD_WRITE_ROW(row, w, evenV, oddV, even, odd)                                               \
    do {                                                                                           \
        if (IsSSE2FeatureAvailable())                                                              \
            WriteRowSSE2(row, w, evenV, oddV, even, odd);                                          \
        else                                                                                       \
            WriteRow(row, w, even, odd);                                                           \
    } while (0)
#else
#define KD_WRITE_ROW(row, w, evenV, oddV, even, odd) WriteRow(row, w, even, odd)
#endif

// Row 2y: the line's own samples and its in-between samples.
void OutputDstLineEven(uint8_t* row, const uint8_t* s, const uint8_t* m, int32_t w, int32_t t) {
    const auto even = [&](int32_t x) { return t > s[x]; };
    const auto odd = [&](int32_t x) { return t > m[x]; };
#if defined(__SSE2__)
    const __m128i tv = _mm_set1_epi16(static_cast<int16_t>(t));
    const auto evenV = [&](int32_t x) { return _mm_cmpgt_epi16(tv, Load8(s + x)); };
    const auto oddV = [&](int32_t x) { return _mm_cmpgt_epi16(tv, Load8(m + x)); };
#endif
    KD_WRITE_ROW(row, w, evenV, oddV, even, odd);
}

// Row 2y + 1 between two lines.
void OutputDstLineLinear(uint8_t* row, const uint8_t* s0, const uint8_t* m0, const uint8_t* s1,
                         const uint8_t* m1, int32_t w, int32_t t) {
    const int32_t t2 = 2 * t;
    const auto even = [&](int32_t x) { return s0[x] + s1[x] < t2; };
    const auto odd = [&](int32_t x) { return m0[x] + m1[x] < t2; };
#if defined(__SSE2__)
    const __m128i tv = _mm_set1_epi16(static_cast<int16_t>(t2));
    const auto evenV = [&](int32_t x) {
        return _mm_cmplt_epi16(_mm_add_epi16(Load8(s0 + x), Load8(s1 + x)), tv);
    };
    const auto oddV = [&](int32_t x) {
        return _mm_cmplt_epi16(_mm_add_epi16(Load8(m0 + x), Load8(m1 + x)), tv);
    };
#endif
    KD_WRITE_ROW(row, w, evenV, oddV, even, odd);
}

// Row 2y + 1 from four lines y - 1 .. y + 2.
void OutputDstLine(uint8_t* row, const uint8_t* const s[4], const uint8_t* const m[4], int32_t w,
                   int32_t t) {
    constexpr int32_t c = contrast_binfunc_cubic;
    const int32_t t64 = 64 * t;
    const auto even = [&](int32_t x) {
        return (s[0][x] + s[3][x]) * c + (s[1][x] + s[2][x]) * (32 - c) < t64;
    };
    const auto odd = [&](int32_t x) {
        return (m[0][x] + m[3][x]) * c + (m[1][x] + m[2][x]) * (32 - c) < t64;
    };
#if defined(__SSE2__)
    // Every term stays inside 16 bits: |sums| <= 40 x 510 and |64 T| <= 64 x 384.
    const __m128i tv = _mm_set1_epi16(static_cast<int16_t>(t64));
    const __m128i outer = _mm_set1_epi16(static_cast<int16_t>(c));
    const __m128i inner = _mm_set1_epi16(static_cast<int16_t>(32 - c));
    const auto cubic = [&](const uint8_t* const l[4], int32_t x) {
        const __m128i a = _mm_mullo_epi16(_mm_add_epi16(Load8(l[0] + x), Load8(l[3] + x)), outer);
        const __m128i b = _mm_mullo_epi16(_mm_add_epi16(Load8(l[1] + x), Load8(l[2] + x)), inner);
        return _mm_cmplt_epi16(_mm_add_epi16(a, b), tv);
    };
    const auto evenV = [&](int32_t x) { return cubic(s, x); };
    const auto oddV = [&](int32_t x) { return cubic(m, x); };
#endif
    KD_WRITE_ROW(row, w, evenV, oddV, even, odd);
}

// Row 2y + 1 of the last line: extrapolated beyond it.
void OutputDstLineLast(uint8_t* row, const uint8_t* sPrev, const uint8_t* mPrev,
                       const uint8_t* sLast, const uint8_t* mLast, int32_t w, int32_t t) {
    const int32_t t2 = 2 * t;
    const auto even = [&](int32_t x) { return 3 * sLast[x] - sPrev[x] < t2; };
    const auto odd = [&](int32_t x) { return 3 * mLast[x] - mPrev[x] < t2; };
#if defined(__SSE2__)
    const __m128i tv = _mm_set1_epi16(static_cast<int16_t>(t2));
    const auto beyond = [&](const uint8_t* last, const uint8_t* prev, int32_t x) {
        const __m128i l = Load8(last + x);
        return _mm_cmplt_epi16(
            _mm_sub_epi16(_mm_add_epi16(_mm_slli_epi16(l, 1), l), Load8(prev + x)), tv);
    };
    const auto evenV = [&](int32_t x) { return beyond(sLast, sPrev, x); };
    const auto oddV = [&](int32_t x) { return beyond(mLast, mPrev, x); };
#endif
    KD_WRITE_ROW(row, w, evenV, oddV, even, odd);
}

} // namespace BinFunc_Cubic_Function

namespace {

// Levels outside this range compare like its ends with every sum the rows
// form (at most 64 x 320 > 40 x 510), and keep 64 x T inside 32 bits.
inline int32_t UsableSlice(int32_t t) {
    return std::clamp(t, -128, 384);
}

// Pixel pairs doubled: the four bits of a nibble spread to eight.
constexpr uint8_t kDoubleNibble[16] = {0x00, 0x03, 0x0C, 0x0F, 0x30, 0x33, 0x3C, 0x3F,
                                       0xC0, 0xC3, 0xCC, 0xCF, 0xF0, 0xF3, 0xFC, 0xFF};

// n lines of w in-between samples for an image of at least n x n pixels;
// null, with the last error set, for a smaller image or lacking memory.
std::unique_ptr<uint8_t[]> MidLines(int32_t w, int32_t h, int32_t n) {
    if (w < n || h < n) {
        IpSetLastError(kIpErrBadArgument);
        return nullptr;
    }
    std::unique_ptr<uint8_t[]> work(new (std::nothrow) uint8_t[static_cast<size_t>(n) * w]);
    if (!work) IpSetLastError(kIpErrOutOfMemory);
    return work;
}

} // namespace

int CBFuncDouble::Start(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagBINFUNCINFO* info) {
    if (src->lBps != 8 || src->lSpp != 1 || dst->lBps != 1 || dst->lSpp != 1) return 0;
    if (int64_t{dst->lWidth} < 2 * int64_t{src->lWidth} ||
        int64_t{dst->lHeight} < 2 * int64_t{src->lHeight})
        return 0;
    return CBFunc::Start(dst, src, info);
}

void CBFuncDouble::Line() {
    const int32_t w = m_lWidth;
    const int32_t t = m_lSlice;
    uint8_t* const row0 = m_pDst;
    uint8_t* const row1 = m_pDst + m_lDstSync;
    const uint8_t* const s = m_pSrc;

    // Four source pixels fill one destination byte.
    int32_t x = 0;
    for (; x + 4 <= w; x += 4) {
        const unsigned nib =
            (static_cast<unsigned>(t > s[x]) << 3) | (static_cast<unsigned>(t > s[x + 1]) << 2) |
            (static_cast<unsigned>(t > s[x + 2]) << 1) | static_cast<unsigned>(t > s[x + 3]);
        row0[x >> 2] = kDoubleNibble[nib];
    }
    const int32_t whole = x >> 2;
    const int32_t rest = w - x;
    uint8_t mask = 0;
    if (rest > 0) {
        unsigned nib = 0;
        for (int32_t k = 0; k < 4; ++k)
            nib = (nib << 1) | static_cast<unsigned>(k < rest && t > s[x + k]);
        mask = static_cast<uint8_t>(0xFFu << (8 - 2 * rest));
        row0[whole] = static_cast<uint8_t>((row0[whole] & ~mask) | (kDoubleNibble[nib] & mask));
    }
    std::memcpy(row1, row0, static_cast<size_t>(whole));
    if (rest > 0) row1[whole] = static_cast<uint8_t>((row1[whole] & ~mask) | (row0[whole] & mask));

    m_pDst += 2 * int64_t{m_lDstSync};
    m_pSrc += m_lSrcSync;
    ++m_lLine;
}

void CBFuncDouble_Linear::Rect() {
    using namespace BinFunc_Cubic_Function;
    const int32_t w = m_lWidth;
    const int32_t h = m_lHeight;
    const int32_t t = UsableSlice(m_lSlice);
    const std::unique_ptr<uint8_t[]> work = MidLines(w, h, 2);
    if (!work) return;
    uint8_t* cur = work.get();
    uint8_t* other = cur + w;

    ChargeOneLineLinear(SrcLine(0), cur, w);
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* s = SrcLine(y);
        OutputDstLineEven(DstRow(2 * int64_t{y}), s, cur, w, t);
        if (y + 1 < h) {
            ChargeOneLineLinear(SrcLine(y + 1), other, w);
            OutputDstLineLinear(DstRow(2 * int64_t{y} + 1), s, cur, SrcLine(y + 1), other, w, t);
            std::swap(cur, other); // other now holds line y
        } else {
            OutputDstLineLast(DstRow(2 * int64_t{y} + 1), SrcLine(y - 1), other, s, cur, w, t);
        }
    }
}

void CBFuncDouble_Cubic::Rect() {
    using namespace BinFunc_Cubic_Function;
    const int32_t w = m_lWidth;
    const int32_t h = m_lHeight;
    const int32_t t = UsableSlice(m_lSlice);
    const std::unique_ptr<uint8_t[]> work = MidLines(w, h, 4);
    if (!work) return;
    // In-between lines of source lines y - 1 .. y + 2 rotate through four slots.
    const auto mid = [&](int32_t y) { return work.get() + static_cast<size_t>(y & 3) * w; };

    for (int32_t y = 0; y < 3; ++y) ChargeOneLine(SrcLine(y), mid(y), w);
    OutputDstLineEven(DstRow(0), SrcLine(0), mid(0), w, t);
    OutputDstLineLinear(DstRow(1), SrcLine(0), mid(0), SrcLine(1), mid(1), w, t);
    for (int32_t y = 1; y <= h - 3; ++y) {
        ChargeOneLine(SrcLine(y + 2), mid(y + 2), w);
        const uint8_t* const s[4] = {SrcLine(y - 1), SrcLine(y), SrcLine(y + 1), SrcLine(y + 2)};
        const uint8_t* const m[4] = {mid(y - 1), mid(y), mid(y + 1), mid(y + 2)};
        OutputDstLineEven(DstRow(2 * int64_t{y}), s[1], m[1], w, t);
        OutputDstLine(DstRow(2 * int64_t{y} + 1), s, m, w, t);
    }
    const int32_t y = h - 2;
    OutputDstLineEven(DstRow(2 * int64_t{y}), SrcLine(y), mid(y), w, t);
    OutputDstLineLinear(DstRow(2 * int64_t{y} + 1), SrcLine(y), mid(y), SrcLine(y + 1), mid(y + 1),
                        w, t);
    const int32_t last = h - 1;
    OutputDstLineEven(DstRow(2 * int64_t{last}), SrcLine(last), mid(last), w, t);
    OutputDstLineLast(DstRow(2 * int64_t{last} + 1), SrcLine(last - 1), mid(last - 1),
                      SrcLine(last), mid(last), w, t);
}
