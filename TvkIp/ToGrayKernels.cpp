// Colour-to-gray line kernels: the table reference and its vector twins.
#include "ToGrayKernels.h"

#include "Luminance.h"
#include "RgbUnzip.h"
#include "TvkIpError.h"
#include "VectorTarget.h"

#include <array>
#include <cstdint>

namespace {

constexpr const auto& kGrayR = GRAY_WEIGHT::RedToGray;
constexpr const auto& kGrayG = GRAY_WEIGHT::GreenToGray;
constexpr const auto& kGrayB = GRAY_WEIGHT::BlueToGray;

// The SSE2 paths compute each table entry without a lookup: the high half
// of ((v << shift) + add) * mul, a 16-bit product. The red table differs from
// that rounding at one entry: 50 * 0.29 is just below 14.5 in double, so the
// table holds 14 where the product gives 15, and the paths subtract one there.
struct Weight {
    int shift;
    int add;
    int mul;
};
constexpr Weight kWeightR{5, 55, 594};
constexpr Weight kWeightG{5, 28, 1202};
constexpr Weight kWeightB{4, 70, 467};
constexpr int kRedDip = 50;

constexpr int Weigh(const Weight& w, int v) {
    return (((v << w.shift) + w.add) * w.mul) >> 16;
}
constexpr bool WeightsMatchTables() {
    for (int v = 0; v < 256; ++v) {
        if (Weigh(kWeightR, v) - (v == kRedDip ? 1 : 0) != kGrayR[v] ||
            Weigh(kWeightG, v) != kGrayG[v] || Weigh(kWeightB, v) != kGrayB[v])
            return false;
        // The shifted sample plus its offset stays a positive 16-bit value.
        for (const Weight& w : {kWeightR, kWeightG, kWeightB})
            if (((v << w.shift) + w.add) > 0x7FFF || w.mul > 0xFFFF) return false;
    }
    return true;
}
static_assert(WeightsMatchTables());

// The AVX2 paths use a rounding multiply instead: ((v * mul >> 14) + 1) >> 1
// of the plain sample, with the same one-off entry in the red table.
constexpr int kRoundR = 9503;
constexpr int kRoundG = 19234;
constexpr int kRoundB = 3736;

constexpr int WeighRounded(int mul, int v) {
    return (((v * mul) >> 14) + 1) >> 1;
}
constexpr bool RoundedWeightsMatchTables() {
    for (int v = 0; v < 256; ++v)
        if (WeighRounded(kRoundR, v) - (v == kRedDip ? 1 : 0) != kGrayR[v] ||
            WeighRounded(kRoundG, v) != kGrayG[v] || WeighRounded(kRoundB, v) != kGrayB[v])
            return false;
    // Sample and factor are positive signed 16-bit values.
    return kRoundR <= 0x7FFF && kRoundG <= 0x7FFF && kRoundB <= 0x7FFF;
}
static_assert(RoundedWeightsMatchTables());

// The kernels ask for the source this far ahead as they go (about one line
// of an A4 page; for the planes of a line together too): spread over the
// loop, the requests keep the memory busy without the burst a whole line
// asked for at once makes.
constexpr int64_t kAheadBytes = 8192;

inline uint8_t GrayOf(uint8_t r, uint8_t g, uint8_t b) {
    return static_cast<uint8_t>(kGrayR[r] + kGrayG[g] + kGrayB[b]);
}

#if defined(__SSE2__)

// ---------------------------------------------------------------------------
// SSE2: 16 pixels a step.

template <int Shift, int Add, int Mul> inline __m128i Weigh16(__m128i v) {
    return _mm_mulhi_epu16(_mm_add_epi16(_mm_slli_epi16(v, Shift), _mm_set1_epi16(Add)),
                           _mm_set1_epi16(static_cast<int16_t>(Mul)));
}

// Gray of 16 pixels whose samples stand in r, g and b.
inline __m128i Gray16(__m128i r, __m128i g, __m128i b) {
    const __m128i zero = _mm_setzero_si128();
    const auto sum = [&](__m128i r16, __m128i g16, __m128i b16) {
        return _mm_add_epi16(
            _mm_add_epi16(Weigh16<kWeightR.shift, kWeightR.add, kWeightR.mul>(r16),
                          Weigh16<kWeightG.shift, kWeightG.add, kWeightG.mul>(g16)),
            Weigh16<kWeightB.shift, kWeightB.add, kWeightB.mul>(b16));
    };
    const __m128i lo =
        sum(_mm_unpacklo_epi8(r, zero), _mm_unpacklo_epi8(g, zero), _mm_unpacklo_epi8(b, zero));
    const __m128i hi =
        sum(_mm_unpackhi_epi8(r, zero), _mm_unpackhi_epi8(g, zero), _mm_unpackhi_epi8(b, zero));
    const __m128i dip = _mm_cmpeq_epi8(r, _mm_set1_epi8(kRedDip));
    return _mm_add_epi8(_mm_packus_epi16(lo, hi), dip);
}

// ---------------------------------------------------------------------------
// AVX2: 32 pixels a step.

// Weight of the even (Odd: the odd) samples of 32, in 16-bit lanes.
template <int Mul, bool Odd> KD_AVX2 inline __m256i Weigh32(__m256i v) {
    const __m256i sample =
        Odd ? _mm256_srli_epi16(v, 8) : _mm256_and_si256(v, _mm256_set1_epi16(0x00FF));
    return _mm256_mulhrs_epi16(sample, _mm256_set1_epi16(static_cast<int16_t>(Mul)));
}

template <bool Odd> KD_AVX2 inline __m256i Sum32(__m256i r, __m256i g, __m256i b) {
    return _mm256_add_epi16(_mm256_add_epi16(Weigh32<kRoundR, Odd>(r), Weigh32<kRoundG, Odd>(g)),
                            Weigh32<kRoundB, Odd>(b));
}

// Gray of 32 pixels; even and odd pixels are computed in the low and high
// byte of each 16-bit lane (a gray value fits a byte), so they stay in place.
KD_AVX2 inline __m256i Gray32(__m256i r, __m256i g, __m256i b) {
    const __m256i dip = _mm256_cmpeq_epi8(r, _mm256_set1_epi8(kRedDip));
    const __m256i gray =
        _mm256_or_si256(Sum32<false>(r, g, b), _mm256_slli_epi16(Sum32<true>(r, g, b), 8));
    return _mm256_add_epi8(gray, dip);
}

// One channel of 16 interleaved pixels (48 bytes in three registers). Each
// byte position of a register holds a sample of one channel, and for each
// channel the three registers together cover every position once
// (16 = 1 mod 3): two blends gather the channel's 16 samples in one register,
// in a fixed order; two byte shuffles then spread pixels 0-7 and 8-15 of it
// into 16-bit lanes, zero-extended and in pixel order.
using ShuffleMask = std::array<uint8_t, 16>;
// 0x80 where register k holds channel c at that position.
constexpr ShuffleMask BlendMask(int channel, int k) {
    ShuffleMask m{};
    for (int p = 0; p < 16; ++p)
        m[static_cast<size_t>(p)] = static_cast<uint8_t>((16 * k + p) % 3 == channel ? 0x80 : 0);
    return m;
}
// Pixels 8 * half .. 8 * half + 7 of the channel after the blends, each in
// the low byte of a 16-bit lane (0x80 clears the high byte).
constexpr ShuffleMask SpreadMask(int channel, int half) {
    ShuffleMask m{};
    for (int i = 0; i < 8; ++i) {
        m[static_cast<size_t>(2 * i)] = static_cast<uint8_t>((3 * (8 * half + i) + channel) % 16);
        m[static_cast<size_t>(2 * i + 1)] = 0x80;
    }
    return m;
}
constexpr bool BlendsCoverEachPositionOnce() {
    for (int c = 0; c < 3; ++c)
        for (int p = 0; p < 16; ++p) {
            int hits = 0;
            for (int k = 0; k < 3; ++k) hits += BlendMask(c, k)[static_cast<size_t>(p)] != 0;
            if (hits != 1) return false;
        }
    return true;
}
static_assert(BlendsCoverEachPositionOnce());
constexpr std::array<std::array<ShuffleMask, 2>, 3> kBlend = {{
    {BlendMask(0, 1), BlendMask(0, 2)},
    {BlendMask(1, 1), BlendMask(1, 2)},
    {BlendMask(2, 1), BlendMask(2, 2)},
}};
constexpr std::array<std::array<ShuffleMask, 2>, 3> kSpread = {{
    {SpreadMask(0, 0), SpreadMask(0, 1)},
    {SpreadMask(1, 0), SpreadMask(1, 1)},
    {SpreadMask(2, 0), SpreadMask(2, 1)},
}};
// The interleaved path moves the red dip into the sample: 49 weighs what
// the table holds for 50.
static_assert(WeighRounded(kRoundR, kRedDip - 1) == kGrayR[kRedDip]);

KD_AVX2 inline __m256i LoadMask(const ShuffleMask& m) {
    return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(m.data())));
}

KD_AVX2 inline __m256i Load32(const uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

#endif

} // namespace

namespace GRAY_KERNEL {

void InterleavedPortable(uint8_t* out, const uint8_t* rgb, int32_t n) {
    for (int32_t x = 0; x < n; ++x, rgb += 3) out[x] = GrayOf(rgb[0], rgb[1], rgb[2]);
}

void PlanarPortable(uint8_t* out, const uint8_t* r, const uint8_t* g, const uint8_t* b, int32_t n) {
    for (int32_t x = 0; x < n; ++x) out[x] = GrayOf(r[x], g[x], b[x]);
}

#if defined(__SSE2__)

void InterleavedSSE2(uint8_t* out, const uint8_t* rgb, int32_t n) {
    int32_t x = 0;
    for (; x + 16 <= n; x += 16, rgb += 48) {
        PrefetchAhead(rgb, kAheadBytes, 1);
        __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rgb));
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rgb + 16));
        __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rgb + 32));
        RgbUnzip16(a, b, c);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), Gray16(a, b, c));
    }
    InterleavedPortable(out + x, rgb, n - x);
}

void PlanarSSE2(uint8_t* out, const uint8_t* r, const uint8_t* g, const uint8_t* b, int32_t n) {
    int32_t x = 0;
    for (; x + 16 <= n; x += 16) {
        PrefetchAhead(r + x, kAheadBytes, 1);
        PrefetchAhead(g + x, kAheadBytes, 1);
        PrefetchAhead(b + x, kAheadBytes, 1);
        const auto load = [x](const uint8_t* p) {
            return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + x));
        };
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), Gray16(load(r), load(g), load(b)));
    }
    PlanarPortable(out + x, r + x, g + x, b + x, n - x);
}

KD_AVX2 void InterleavedAVX2(uint8_t* out, const uint8_t* rgb, int32_t n) {
    const __m256i blendR1 = LoadMask(kBlend[0][0]), blendR2 = LoadMask(kBlend[0][1]);
    const __m256i blendG1 = LoadMask(kBlend[1][0]), blendG2 = LoadMask(kBlend[1][1]);
    const __m256i blendB1 = LoadMask(kBlend[2][0]), blendB2 = LoadMask(kBlend[2][1]);
    const __m256i spreadR0 = LoadMask(kSpread[0][0]), spreadR1 = LoadMask(kSpread[0][1]);
    const __m256i spreadG0 = LoadMask(kSpread[1][0]), spreadG1 = LoadMask(kSpread[1][1]);
    const __m256i spreadB0 = LoadMask(kSpread[2][0]), spreadB1 = LoadMask(kSpread[2][1]);
    const __m256i mulR = _mm256_set1_epi16(kRoundR);
    const __m256i mulG = _mm256_set1_epi16(kRoundG);
    const __m256i mulB = _mm256_set1_epi16(kRoundB);
    const __m256i dip = _mm256_set1_epi8(kRedDip);
    int32_t x = 0;
    for (; x + 32 <= n; x += 32, rgb += 96) {
        PrefetchAhead(rgb, kAheadBytes, 96);
        // Bytes 0-47 in the low lanes of in0, in1, in2 and 48-95 in the high
        // ones: one lane-crossing move for three registers.
        const __m256i a = Load32(rgb), b0 = Load32(rgb + 32), c0 = Load32(rgb + 64);
        const __m256i in0 = _mm256_blend_epi32(a, b0, 0xF0);
        const __m256i in1 = _mm256_permute2x128_si256(a, c0, 0x21);
        const __m256i in2 = _mm256_blend_epi32(b0, c0, 0xF0);
        __m256i r = _mm256_blendv_epi8(_mm256_blendv_epi8(in0, in1, blendR1), in2, blendR2);
        const __m256i g = _mm256_blendv_epi8(_mm256_blendv_epi8(in0, in1, blendG1), in2, blendG2);
        const __m256i bl = _mm256_blendv_epi8(_mm256_blendv_epi8(in0, in1, blendB1), in2, blendB2);
        r = _mm256_add_epi8(r, _mm256_cmpeq_epi8(r, dip));
        // Gray of the pixels the three spread masks pick, in 16-bit lanes.
        const auto gray = [&](__m256i spreadR, __m256i spreadG, __m256i spreadB) KD_AVX2 {
            return _mm256_add_epi16(
                _mm256_add_epi16(_mm256_mulhrs_epi16(_mm256_shuffle_epi8(r, spreadR), mulR),
                                 _mm256_mulhrs_epi16(_mm256_shuffle_epi8(g, spreadG), mulG)),
                _mm256_mulhrs_epi16(_mm256_shuffle_epi8(bl, spreadB), mulB));
        };
        // Per 128-bit lane: pixels 0-7 then 8-15 of that lane's 16.
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x),
                            _mm256_packus_epi16(gray(spreadR0, spreadG0, spreadB0),
                                                gray(spreadR1, spreadG1, spreadB1)));
    }
    // The compiler may turn the tail into a jump without clearing the upper
    // halves, which slows every later SSE instruction on some processors.
    _mm256_zeroupper();
    InterleavedSSE2(out + x, rgb, n - x);
}

KD_AVX2 void PlanarAVX2(uint8_t* out, const uint8_t* r, const uint8_t* g, const uint8_t* b,
                        int32_t n) {
    int32_t x = 0;
    for (; x + 32 <= n; x += 32) {
        PrefetchAhead(r + x, kAheadBytes, 1);
        PrefetchAhead(g + x, kAheadBytes, 1);
        PrefetchAhead(b + x, kAheadBytes, 1);
        const __m256i rv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(r + x));
        const __m256i gv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(g + x));
        const __m256i bv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + x));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), Gray32(rv, gv, bv));
    }
    _mm256_zeroupper();
    PlanarSSE2(out + x, r + x, g + x, b + x, n - x);
}

#endif

void Interleaved(uint8_t* out, const uint8_t* rgb, int32_t n) {
#if defined(__SSE2__)
    if (IsAVX2FeatureAvailable()) return InterleavedAVX2(out, rgb, n);
    if (IsSSE2FeatureAvailable()) return InterleavedSSE2(out, rgb, n);
#endif
    InterleavedPortable(out, rgb, n);
}

void Planar(uint8_t* out, const uint8_t* r, const uint8_t* g, const uint8_t* b, int32_t n) {
#if defined(__SSE2__)
    if (IsAVX2FeatureAvailable()) return PlanarAVX2(out, r, g, b, n);
    if (IsSSE2FeatureAvailable()) return PlanarSSE2(out, r, g, b, n);
#endif
    PlanarPortable(out, r, g, b, n);
}

} // namespace GRAY_KERNEL
