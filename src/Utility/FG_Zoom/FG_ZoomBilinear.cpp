#include "FG_ZoomBilinear.h"

#include "RgbUnzip.h"
#include "TvkIpError.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <type_traits>

namespace {

// A line buffer is max(width) * (work depth + 7) bytes; larger products are
// refused instead of being cut down to a buffer too small for the line.
constexpr uint64_t kMaxLineBufferSize = 0x1FFFFFFF;

// Above these sizes an axis computes in double precision: the 32-bit sums of
// (size - 1) * sample value would overflow.
constexpr int32_t kDoubleThreshold16 = 65536;
constexpr int32_t kDoubleThreshold8 = 16777216;

// floor(n / d) as one multiply: with m = ceil(2^63 / d), (n * m) >> 63 is exact
// for every n < 2^32 and 1 <= d < 2^31 (the error term n * (m - 2^63 / d) / 2^63
// stays below 2^-31 <= 1 / d).
inline uint64_t Reciprocal(int32_t d) {
    const uint64_t div = static_cast<uint64_t>(d);
    return ((uint64_t{1} << 63) + div - 1) / div;
}

inline uint32_t DivExact(uint32_t n, uint64_t recip) {
    return static_cast<uint32_t>((static_cast<unsigned __int128>(n) * recip) >> 63);
}

template <typename T> inline T* As(void* p) {
    return static_cast<T*>(p);
}

// 1-bit unpacking: the eight pixels of a byte, most significant bit first, as 0 or 255.
constexpr std::array<std::array<uint8_t, 8>, 256> kUnpackTable = [] {
    std::array<std::array<uint8_t, 8>, 256> t{};
    for (unsigned v = 0; v < 256; ++v)
        for (unsigned k = 0; k < 8; ++k) t[v][k] = (v & (0x80u >> k)) != 0 ? 255 : 0;
    return t;
}();

// Packs eight 8-bit pixels into one byte, first pixel in the most significant
// bit; a pixel is set when its value is 128 or more (its top bit). The
// multiply gathers the top bit of each byte into the top byte.
inline uint8_t PackEight(const uint8_t* px) {
    uint64_t x;
    std::memcpy(&x, px, 8);
    if constexpr (std::endian::native == std::endian::little) x = __builtin_bswap64(x);
    return static_cast<uint8_t>(((x & 0x8080808080808080ull) * 0x0002040810204081ull) >> 56);
}

} // namespace

// ---------------------------------------------------------------------------
// Coefficient tables

void Calc_ExpandParam(FG_Zoom2_Param* table, int32_t dstN, int32_t srcN) {
    if (srcN == 1) {
        for (int32_t i = 0; i < dstN; ++i) table[i] = {0, 1, 0, 0, 0, 1, i == 0 ? dstN : 0};
        return;
    }
    if (dstN == srcN) {
        for (int32_t i = 0; i < dstN; ++i) table[i] = {i, 1, 0, 0, 0, 1, 1};
        return;
    }
    // End pixels coincide. An output that falls exactly on source pixel q is
    // made from the pair (q - 1, q), so it is ready once q has arrived and the
    // last output never needs a pixel beyond the last source pixel.
    const int64_t d = dstN - 1;
    const int64_t s = srcN - 1;
    for (int32_t i = 0; i < dstN; ++i) {
        const int64_t q = i * s / d;
        const int64_t r = i * s % d;
        FG_Zoom2_Param& e = table[i];
        if (r == 0 && i > 0) {
            e = {static_cast<int32_t>(q - 1), 0, 0, static_cast<int32_t>(d), 0,
                 static_cast<int32_t>(d),     0};
        } else {
            e = {static_cast<int32_t>(q),
                 static_cast<int32_t>(d - r),
                 0,
                 static_cast<int32_t>(r),
                 0,
                 static_cast<int32_t>(d),
                 0};
        }
    }
    int32_t start = 0;
    for (int32_t i = 1; i <= dstN; ++i) {
        if (i == dstN || table[i].first != table[start].first) {
            table[start].runOrLast = i - start;
            start = i;
        }
    }
}

int32_t Shift_Coefficient(int32_t g, int32_t n) {
    const double half = 0.5 * n;
    const double gd = g;
    if (gd > half) {
        const double rest = static_cast<double>(n) - gd;
        return static_cast<int32_t>(static_cast<double>(n) - rest * rest / half);
    }
    if (gd < half) return static_cast<int32_t>(gd * gd / half);
    return g;
}

int Calc_ReducedParam(FG_Zoom2_Param* table, int32_t dstN, int32_t srcN) {
    // Units of 1/dstN source pixel: a source pixel is dstN units wide, an
    // output pixel srcN units.
    int result = 0;
    const int64_t n = dstN;
    const int64_t m = srcN;
    int64_t carried = 0;
    for (int32_t i = 0; i < dstN; ++i) {
        const int64_t first = i * m / n;
        const int64_t w1 = n - carried;
        const int64_t rest = m - w1;
        const int64_t full = rest / n;
        const int64_t g = rest - full * n;
        const int32_t lastWeight = Shift_Coefficient(static_cast<int32_t>(g), dstN);
        const int64_t divisor = w1 + full * n + lastWeight;
        if (divisor > 0xFFFF) result = 1;
        FG_Zoom2_Param& e = table[i];
        e.first = static_cast<int32_t>(first);
        e.firstWeight = static_cast<int32_t>(w1);
        e.lastFull = static_cast<int32_t>(first + full);
        e.lastWeight = lastWeight;
        e.rawLastWeight = static_cast<int32_t>(g);
        e.divisor = static_cast<int32_t>(divisor);
        e.runOrLast = static_cast<int32_t>(first + full + (g != 0 ? 1 : 0));
        // The next output takes the rest of that same source pixel, unreshaped.
        carried = g;
    }
    return result;
}

// ---------------------------------------------------------------------------
// Horizontal kernels, specialised by samples per pixel so that the per-sample
// loops unroll and the sums stay in registers.

namespace {

// The first `count` outputs of the tables given (an output line of dstW).
template <int Spp, typename Sample>
void ReduceHorzInt(const Sample* src, uint32_t* dst, const FG_Zoom2_Param* tab,
                   const uint64_t* recip, int32_t dstW, int32_t count) {
    const uint32_t n = static_cast<uint32_t>(dstW);
    for (int32_t x = 0; x < count; ++x, dst += Spp) {
        const FG_Zoom2_Param& e = tab[x];
        const Sample* p = src + static_cast<ptrdiff_t>(e.first) * Spp;
        const uint32_t w1 = static_cast<uint32_t>(e.firstWeight);
        uint32_t acc[Spp];
        uint32_t mid[Spp];
        for (int j = 0; j < Spp; ++j) {
            acc[j] = w1 * p[j];
            mid[j] = 0;
        }
        const Sample* q = p + Spp;
        const Sample* end = src + static_cast<ptrdiff_t>(e.lastFull + 1) * Spp;
        for (; q < end; q += Spp)
            for (int j = 0; j < Spp; ++j) mid[j] += q[j];
        if (e.lastWeight != 0) {
            const uint32_t wl = static_cast<uint32_t>(e.lastWeight);
            for (int j = 0; j < Spp; ++j) acc[j] += n * mid[j] + wl * end[j];
        } else {
            for (int j = 0; j < Spp; ++j) acc[j] += n * mid[j];
        }
        const uint64_t r = recip[x];
        for (int j = 0; j < Spp; ++j) dst[j] = DivExact(acc[j], r);
    }
}

template <int Spp, typename Sample>
void ReduceHorzDouble(const Sample* src, uint32_t* dst, const FG_Zoom2_Param* tab, int32_t dstW,
                      int32_t count) {
    const double n = dstW;
    for (int32_t x = 0; x < count; ++x, dst += Spp) {
        const FG_Zoom2_Param& e = tab[x];
        const Sample* p = src + static_cast<ptrdiff_t>(e.first) * Spp;
        const Sample* end = src + static_cast<ptrdiff_t>(e.lastFull + 1) * Spp;
        for (int j = 0; j < Spp; ++j) {
            double mid = 0.0;
            for (const Sample* q = p + Spp; q < end; q += Spp) mid += q[j];
            double acc = static_cast<double>(e.firstWeight) * p[j] + n * mid;
            if (e.lastWeight != 0) acc += static_cast<double>(e.lastWeight) * end[j];
            dst[j] = static_cast<uint32_t>(acc / e.divisor);
        }
    }
}

template <int Spp, typename Sample>
void ExpandHorzInt(const Sample* src, uint32_t* dst, const FG_Zoom2_Param* tab, int32_t dstW,
                   uint64_t recip) {
    for (int32_t x = 0; x < dstW; ++x, dst += Spp) {
        const FG_Zoom2_Param& e = tab[x];
        const Sample* p = src + static_cast<ptrdiff_t>(e.first) * Spp;
        const uint32_t w1 = static_cast<uint32_t>(e.firstWeight);
        const uint32_t w2 = static_cast<uint32_t>(e.lastWeight);
        for (int j = 0; j < Spp; ++j) dst[j] = DivExact(w1 * p[j] + w2 * p[Spp + j], recip);
    }
}

template <int Spp, typename Sample>
void ExpandHorzDouble(const Sample* src, uint32_t* dst, const FG_Zoom2_Param* tab, int32_t dstW) {
    for (int32_t x = 0; x < dstW; ++x, dst += Spp) {
        const FG_Zoom2_Param& e = tab[x];
        const Sample* p = src + static_cast<ptrdiff_t>(e.first) * Spp;
        for (int j = 0; j < Spp; ++j) {
            const double v = static_cast<double>(e.firstWeight) * p[j] +
                             static_cast<double>(e.lastWeight) * p[Spp + j];
            dst[j] = static_cast<uint32_t>(v / e.divisor);
        }
    }
}

// Reduction of 8-bit lines by 2, 4 or 8 exactly (source width = K x
// destination width): every output is K whole pixels of weight n over the
// divisor K x n, so its value is the pixel sum over K, a shift. Sixteen
// source pixels a step, summed in vector lanes; returns the outputs done.
#if defined(__SSE2__)
// Sums of each K neighbouring bytes of v, in order, into out (16 / K of them).
template <int K> inline void GroupSums(__m128i v, uint32_t* out) {
    const __m128i zero = _mm_setzero_si128();
    if constexpr (K == 8) {
        const __m128i s = _mm_sad_epu8(v, zero);
        out[0] = static_cast<uint32_t>(_mm_cvtsi128_si32(s));
        out[1] = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(s, 8)));
    } else {
        const __m128i lowBytes = _mm_set1_epi16(0x00FF);
        __m128i p = _mm_add_epi16(_mm_and_si128(v, lowBytes), _mm_srli_epi16(v, 8));
        alignas(16) uint16_t pairs[8];
        alignas(16) uint32_t quads[4];
        if constexpr (K == 4) {
            p = _mm_add_epi32(_mm_and_si128(p, _mm_set1_epi32(0xFFFF)), _mm_srli_epi32(p, 16));
            _mm_store_si128(reinterpret_cast<__m128i*>(quads), p);
            for (int j = 0; j < 4; ++j) out[j] = quads[j];
        } else {
            _mm_store_si128(reinterpret_cast<__m128i*>(pairs), p);
            for (int j = 0; j < 8; ++j) out[j] = pairs[j];
        }
    }
}

template <int Spp, int K>
int32_t ReduceHorzGroups(const uint8_t* src, uint32_t* dst, int32_t dstW) {
    constexpr int32_t kOut = 16 / K;
    constexpr int kShift = K == 2 ? 1 : (K == 4 ? 2 : 3);
    int32_t o = 0;
    for (; o + kOut <= dstW; o += kOut) {
        const uint8_t* p = src + static_cast<ptrdiff_t>(o) * K * Spp;
        uint32_t* d = dst + static_cast<ptrdiff_t>(o) * Spp;
        __m128i v[Spp];
        for (int j = 0; j < Spp; ++j)
            v[j] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * j));
        if constexpr (Spp == 3) RgbUnzip16(v[0], v[1], v[2]);
        for (int j = 0; j < Spp; ++j) {
            uint32_t sums[kOut];
            GroupSums<K>(v[j], sums);
            for (int32_t i = 0; i < kOut; ++i) d[i * Spp + j] = sums[i] >> kShift;
        }
    }
    return o;
}
#endif

// The outputs a reduction by 2, 4 or 8 did in vector lanes (0 for none).
int32_t ReduceHorzGroupsAny(const uint8_t* src, uint32_t* dst, int32_t dstW, int spp, int k) {
#if defined(__SSE2__)
    if (!IsSSE2FeatureAvailable()) return 0;
    const auto bySpp = [&](auto group) {
        constexpr int K = decltype(group)::value;
        return spp == 1 ? ReduceHorzGroups<1, K>(src, dst, dstW)
                        : ReduceHorzGroups<3, K>(src, dst, dstW);
    };
    if (k == 2) return bySpp(std::integral_constant<int, 2>{});
    if (k == 4) return bySpp(std::integral_constant<int, 4>{});
    if (k == 8) return bySpp(std::integral_constant<int, 8>{});
#endif
    return 0;
}

// Outputs `first` .. dstW - 1 of a line.
template <int Spp, typename Acc, typename Sample>
void HorzBySpp(const Sample* src, uint32_t* dst, const FG_Zoom2_Param* tab, const uint64_t* recip,
               int32_t dstW, int32_t first, bool reduce) {
    dst += static_cast<ptrdiff_t>(first) * Spp;
    tab += first;
    const int32_t count = dstW - first;
    if constexpr (std::is_same_v<Acc, double>) {
        if (reduce)
            ReduceHorzDouble<Spp>(src, dst, tab, dstW, count);
        else
            ExpandHorzDouble<Spp>(src, dst, tab, count);
    } else {
        if (reduce)
            ReduceHorzInt<Spp>(src, dst, tab, recip + first, dstW, count);
        else
            ExpandHorzInt<Spp>(src, dst, tab, count, recip[0]);
    }
}

} // namespace

// ---------------------------------------------------------------------------
// FG_ZoomBilinear

FG_ZoomBilinear::FG_ZoomBilinear() {
    ClearEngine();
}

FG_ZoomBilinear::~FG_ZoomBilinear() {
    FG_ZoomBilinear::Close();
}

void FG_ZoomBilinear::ClearEngine() {
    ClearMembers();
    m_workDepth = 0;
    m_lineBufferSize = 0;
    m_samplesPerPixel = 0;
    m_lineCounter = 0;
    m_pingPong = 0;
    m_pending = false;
    m_horzDouble = false;
    m_vertDouble = false;
    m_lineBuffer[0] = nullptr;
    m_lineBuffer[1] = nullptr;
    m_unpackBuffer = nullptr;
    m_horzTable = nullptr;
    m_vertTable = nullptr;
    m_curVert = nullptr;
    m_horzRecip = nullptr;
    m_horzGroup = 0;
}

void FG_ZoomBilinear::Close() {
    FG_Zoom_MemFree(&m_lineBuffer[0]);
    FG_Zoom_MemFree(&m_lineBuffer[1]);
    FG_Zoom_MemFree(&m_unpackBuffer);
    FG_Zoom_MemFree(&m_horzTable);
    FG_Zoom_MemFree(&m_vertTable);
    FG_Zoom_MemFree(&m_horzRecip);
    ClearEngine();
}

int FG_ZoomBilinear::Open(int dstWidth, int dstHeight, int srcWidth, int srcHeight,
                          int bitsPerPixel, int mode) {
    Close();
    const int spp = FG_Zoom_SamplePerPixel(bitsPerPixel);
    if (dstWidth <= 0 || dstHeight <= 0 || srcWidth <= 0 || srcHeight <= 0 || spp == 0 ||
        mode != 2) {
        Close();
        return kBadParameter;
    }
    const int32_t threshold =
        FG_Zoom_BitsPerSample(bitsPerPixel) == 16 ? kDoubleThreshold16 : kDoubleThreshold8;
    const int32_t maxW = std::max(dstWidth, srcWidth);
    const int32_t maxH = std::max(dstHeight, srcHeight);
    const int32_t workDepth = bitsPerPixel == 1 ? 8 : bitsPerPixel;
    const uint64_t lineBufferSize =
        static_cast<uint64_t>(maxW) * static_cast<uint64_t>(workDepth + 7);
    if (lineBufferSize > kMaxLineBufferSize) {
        Close();
        return kBadParameter;
    }

    m_horzDouble = dstWidth != srcWidth && maxW >= threshold;
    m_vertDouble = dstHeight != srcHeight && maxH >= threshold;
    m_dstWidth = dstWidth;
    m_dstHeight = dstHeight;
    m_srcWidth = srcWidth;
    m_srcHeight = srcHeight;
    m_bitsPerPixel = bitsPerPixel;
    m_mode = mode;
    m_samplesPerPixel = spp;
    m_workDepth = workDepth;
    m_lineBufferSize = static_cast<int32_t>(lineBufferSize);

    const std::size_t wEntries = static_cast<std::size_t>(maxW);
    const std::size_t hEntries = static_cast<std::size_t>(maxH);
    if (FG_Zoom_MemAlloc(&m_lineBuffer[0], lineBufferSize) != 0 ||
        FG_Zoom_MemAlloc(&m_lineBuffer[1], lineBufferSize) != 0 ||
        FG_Zoom_MemAlloc(&m_horzTable, wEntries * sizeof(FG_Zoom2_Param)) != 0 ||
        FG_Zoom_MemAlloc(&m_vertTable, hEntries * sizeof(FG_Zoom2_Param)) != 0 ||
        (bitsPerPixel == 1 && FG_Zoom_MemAlloc(&m_unpackBuffer, wEntries) != 0) ||
        FG_Zoom_MemAlloc(&m_horzRecip, wEntries * sizeof(uint64_t)) != 0) {
        Close();
        return kNoMemory;
    }
    m_curVert = m_vertTable;

    if (dstWidth < srcWidth) {
        if (Calc_ReducedParam(m_horzTable, dstWidth, srcWidth) == 1) m_horzDouble = true;
    } else {
        Calc_ExpandParam(m_horzTable, dstWidth, srcWidth);
    }
    if (dstHeight < srcHeight) {
        if (Calc_ReducedParam(m_vertTable, dstHeight, srcHeight) == 1) m_vertDouble = true;
    } else {
        Calc_ExpandParam(m_vertTable, dstHeight, srcHeight);
    }
    for (int32_t x = 0; x < dstWidth; ++x) m_horzRecip[x] = Reciprocal(m_horzTable[x].divisor);
    // Lines of one 8-bit sample or three reduced by exactly 2, 4 or 8.
    m_horzGroup = 0;
    const int bitsPerSample = FG_Zoom_BitsPerSample(bitsPerPixel);
    if (!m_horzDouble && (bitsPerSample == 8 || bitsPerPixel == 1) && (spp == 1 || spp == 3)) {
        for (int k : {2, 4, 8})
            if (static_cast<int64_t>(dstWidth) * k == srcWidth) m_horzGroup = k;
    }
    return kOk;
}

int FG_ZoomBilinear::Send(const void* srcLine) {
    if (m_horzTable == nullptr) return kNotNow; // not open, or Open failed
    if (srcLine == nullptr && !m_pending) return kBadParameter;
    return SendLine(srcLine);
}

int FG_ZoomBilinear::SendLine(const void* srcLine) {
    if (m_readyLines > 0) return kNotNow;
    // Every declared source line has been taken: the tables end here.
    if (m_lineCounter >= m_srcHeight) return kNotNow;

    const void* work = srcLine;
    if (m_bitsPerPixel == 1) {
        if (!m_pending) Unpack(static_cast<const uint8_t*>(srcLine));
        work = m_unpackBuffer;
    }

    const FG_Zoom2_Param& e = *m_curVert;
    if (m_dstHeight < m_srcHeight) {
        uint32_t* line = As<uint32_t>(m_lineBuffer[1]);
        // A kept line (pending) has been scaled already.
        if (!m_pending) HorizontalPass(work, line);
        const std::size_t count = static_cast<std::size_t>(m_dstWidth) * m_samplesPerPixel;
        if (m_lineCounter == e.first) {
            std::memset(m_lineBuffer[0], 0,
                        count * (m_vertDouble ? sizeof(double) : sizeof(uint32_t)));
        }
        int32_t weight;
        if (m_lineCounter == e.first)
            weight = e.firstWeight;
        else if (m_lineCounter > e.lastFull)
            weight = e.lastWeight;
        else
            weight = m_dstHeight;
        if (m_vertDouble) {
            Add_ReduceVert<double>(As<double>(m_lineBuffer[0]), line,
                                   static_cast<uint32_t>(weight));
        } else {
            Add_ReduceVert<uint32_t>(As<uint32_t>(m_lineBuffer[0]), line,
                                     static_cast<uint32_t>(weight));
        }
        if (m_lineCounter == e.runOrLast) {
            if (e.rawLastWeight != 0) {
                // The line is shared with the next output line: Read hands it
                // over again before the caller sends a new one.
                m_pending = true;
                --m_lineCounter;
            }
            m_readyLines = 1;
        }
    } else {
        HorizontalPass(work, As<uint32_t>(m_lineBuffer[m_pingPong]));
        if (m_lineCounter == 0) {
            if (m_srcHeight == 1 || m_srcHeight == m_dstHeight) m_readyLines = e.runOrLast;
        } else if (m_lineCounter >= e.first) {
            m_readyLines = e.runOrLast;
        }
        if (m_dstHeight > m_srcHeight && m_srcHeight >= 2) m_pingPong ^= 1;
    }
    ++m_lineCounter;
    return kOk;
}

int FG_ZoomBilinear::Read(void* dstLine) {
    if (dstLine == nullptr) return kBadParameter;
    if (m_readyLines <= 0) return kNotNow;

    void* out = m_bitsPerPixel == 1 ? static_cast<void*>(m_unpackBuffer) : dstLine;
    if (FG_Zoom_BitsPerSample(m_bitsPerPixel) == 16)
        ReadSamples<uint16_t>(out);
    else
        ReadSamples<uint8_t>(out);
    if (m_bitsPerPixel == 1) Pack(static_cast<uint8_t*>(dstLine));

    ++m_curVert;
    --m_readyLines;
    if (m_pending) {
        const int result = SendLine(nullptr);
        m_pending = false;
        return result;
    }
    return kOk;
}

template <typename Sample> void FG_ZoomBilinear::ReadSamples(void* out) {
    Sample* dst = static_cast<Sample*>(out);
    const FG_Zoom2_Param& e = *m_curVert;
    const std::size_t count = static_cast<std::size_t>(m_dstWidth) * m_samplesPerPixel;
    if (m_dstHeight > m_srcHeight) {
        const uint32_t* upper = As<uint32_t>(m_lineBuffer[m_pingPong]);
        const uint32_t* lower = As<uint32_t>(m_lineBuffer[m_pingPong ^ 1]);
        if (m_vertDouble)
            Expand_Vert<Sample, double>(upper, lower, dst);
        else
            Expand_Vert<Sample, uint32_t>(upper, lower, dst);
    } else if (m_dstHeight < m_srcHeight) {
        if (m_vertDouble) {
            Reduce_Vert<Sample, double>(As<double>(m_lineBuffer[0]), dst);
        } else {
            const uint32_t* acc = As<uint32_t>(m_lineBuffer[0]);
            const uint64_t r = Reciprocal(e.divisor);
            for (std::size_t i = 0; i < count; ++i)
                dst[i] = static_cast<Sample>(DivExact(acc[i], r));
        }
    } else {
        const uint32_t* line = As<uint32_t>(m_lineBuffer[0]);
        for (std::size_t i = 0; i < count; ++i) dst[i] = static_cast<Sample>(line[i]);
    }
}

void FG_ZoomBilinear::Unpack(const uint8_t* packed) {
    uint8_t* dst = m_unpackBuffer;
    const int32_t width = m_srcWidth;
    const int32_t whole = width / 8;
    for (int32_t b = 0; b < whole; ++b, dst += 8)
        std::memcpy(dst, kUnpackTable[packed[b]].data(), 8);
    const int32_t rest = width - whole * 8;
    if (rest > 0)
        std::memcpy(dst, kUnpackTable[packed[whole]].data(), static_cast<std::size_t>(rest));
}

void FG_ZoomBilinear::Pack(uint8_t* packed) const {
    const uint8_t* src = m_unpackBuffer;
    const int32_t width = m_dstWidth;
    const int32_t whole = width / 8;
    for (int32_t b = 0; b < whole; ++b, src += 8) packed[b] = PackEight(src);
    const int32_t rest = width - whole * 8;
    if (rest > 0) {
        // Bits that no pixel fills stay 0.
        uint8_t last[8] = {};
        std::memcpy(last, src, static_cast<std::size_t>(rest));
        packed[whole] = PackEight(last);
    }
}

void FG_ZoomBilinear::HorizontalPass(const void* src, uint32_t* dst) {
    const bool wide = FG_Zoom_BitsPerSample(m_bitsPerPixel) == 16;
    if (m_horzDouble) {
        if (wide)
            Expand_Horz<double, uint16_t>(static_cast<const uint16_t*>(src), dst);
        else
            Expand_Horz<double, uint8_t>(static_cast<const uint8_t*>(src), dst);
    } else {
        if (wide)
            Expand_Horz<uint32_t, uint16_t>(static_cast<const uint16_t*>(src), dst);
        else
            Expand_Horz<uint32_t, uint8_t>(static_cast<const uint8_t*>(src), dst);
    }
}

template <typename Acc, typename Sample>
void FG_ZoomBilinear::Expand_Horz(const Sample* src, uint32_t* dst) {
    const int32_t spp = m_samplesPerPixel;
    if (m_dstWidth == m_srcWidth) {
        const std::size_t count = static_cast<std::size_t>(m_dstWidth) * spp;
        for (std::size_t i = 0; i < count; ++i) dst[i] = src[i];
        return;
    }
    if (m_srcWidth == 1) {
        for (int32_t x = 0; x < m_dstWidth; ++x, dst += spp)
            for (int32_t j = 0; j < spp; ++j) dst[j] = src[j];
        return;
    }
    const bool reduce = m_dstWidth < m_srcWidth;
    int32_t done = 0;
    if constexpr (std::is_same_v<Acc, uint32_t> && std::is_same_v<Sample, uint8_t>) {
        if (m_horzGroup != 0) done = ReduceHorzGroupsAny(src, dst, m_dstWidth, spp, m_horzGroup);
    }
    // The rest (all of it without a vector path) through the tables.
    switch (spp) {
    case 1:
        HorzBySpp<1, Acc>(src, dst, m_horzTable, m_horzRecip, m_dstWidth, done, reduce);
        break;
    case 3:
        HorzBySpp<3, Acc>(src, dst, m_horzTable, m_horzRecip, m_dstWidth, done, reduce);
        break;
    default:
        HorzBySpp<4, Acc>(src, dst, m_horzTable, m_horzRecip, m_dstWidth, done, reduce);
        break;
    }
}

template <typename Acc>
void FG_ZoomBilinear::Add_ReduceVert(Acc* acc, const uint32_t* line, uint32_t weight) {
    if (weight == 0) return;
    const std::size_t count = static_cast<std::size_t>(m_dstWidth) * m_samplesPerPixel;
    if constexpr (std::is_same_v<Acc, double>) {
        const double w = weight;
        for (std::size_t i = 0; i < count; ++i) acc[i] += w * line[i];
    } else {
        for (std::size_t i = 0; i < count; ++i) acc[i] += weight * line[i];
    }
}

template <typename Sample, typename Acc>
void FG_ZoomBilinear::Expand_Vert(const uint32_t* upper, const uint32_t* lower, Sample* out) {
    const FG_Zoom2_Param& e = *m_curVert;
    const std::size_t count = static_cast<std::size_t>(m_dstWidth) * m_samplesPerPixel;
    // The two weights add up to the divisor, so a zero weight leaves the other
    // line unchanged: (divisor * v) / divisor == v.
    if (e.lastWeight == 0) {
        for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<Sample>(upper[i]);
        return;
    }
    if (e.firstWeight == 0) {
        for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<Sample>(lower[i]);
        return;
    }
    if constexpr (std::is_same_v<Acc, double>) {
        const double w1 = e.firstWeight;
        const double w2 = e.lastWeight;
        const double d = e.divisor;
        for (std::size_t i = 0; i < count; ++i)
            out[i] = static_cast<Sample>((w1 * upper[i] + w2 * lower[i]) / d);
    } else if constexpr (sizeof(Sample) == 1) {
        // The weights add up to the divisor, so (w1 * u + w2 * l) / d equals
        // l + floor(w1 * (u - l) / d); 8-bit values give only 511 differences,
        // so one small table per line replaces a division per sample.
        // Built by stepping k * w1 / d as quotient and remainder: w1 < d, so
        // the quotient grows by at most 1 per step.
        int32_t table[511];
        int32_t* diff = table + 255;
        const uint32_t w1 = static_cast<uint32_t>(e.firstWeight);
        const uint32_t d = static_cast<uint32_t>(e.divisor);
        uint32_t rem = 0;
        int32_t quot = 0;
        diff[0] = 0;
        for (int32_t k = 1; k <= 255; ++k) {
            rem += w1;
            if (rem >= d) {
                rem -= d;
                ++quot;
            }
            diff[k] = quot;                          // floor(k * w1 / d)
            diff[-k] = rem != 0 ? -quot - 1 : -quot; // floor(-k * w1 / d)
        }
        for (std::size_t i = 0; i < count; ++i) {
            const int32_t l = static_cast<int32_t>(lower[i]);
            out[i] = static_cast<Sample>(l + diff[static_cast<int32_t>(upper[i]) - l]);
        }
    } else {
        const uint32_t w1 = static_cast<uint32_t>(e.firstWeight);
        const uint32_t w2 = static_cast<uint32_t>(e.lastWeight);
        const uint64_t r = Reciprocal(e.divisor);
        for (std::size_t i = 0; i < count; ++i)
            out[i] = static_cast<Sample>(DivExact(w1 * upper[i] + w2 * lower[i], r));
    }
}

template <typename Sample, typename Acc>
void FG_ZoomBilinear::Reduce_Vert(const Acc* acc, Sample* out) {
    const double d = m_curVert->divisor;
    const std::size_t count = static_cast<std::size_t>(m_dstWidth) * m_samplesPerPixel;
    for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<Sample>(acc[i] / d);
}
