// Line algorithms of the binarisation family: error diffusion (kind 1 and
// the older one-dimensional form), colour to 1 bit (kinds 4 and 6) and the
// median threshold (kind 5).
#include "BitPack.h"
#include "CBFuncKinds.h"
#include "Luminance.h"

#include "TvkIpError.h"

#include <array>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

using GRAY_WEIGHT::BlueToGray;
using GRAY_WEIGHT::GreenToGray;
using GRAY_WEIGHT::RedToGray;

bool IsColour24(const tagTVKIMAGEINFO* image) {
    return image != nullptr && image->lBps == 8 && image->lSpp == 3;
}
bool IsBinary(const tagTVKIMAGEINFO* image) {
    return image != nullptr && image->lBps == 1 && image->lSpp == 1;
}

// Writes one destination line from three sample rows (a, b, c advance by
// `step` bytes per pixel); black when `black(r, g, b)` holds. The loop fills
// whole bytes, then the remaining width mod 8 bits.
template <int32_t step, typename Black>
void ColourLine(uint8_t* dst, const uint8_t* a, const uint8_t* b, const uint8_t* c, int32_t width,
                Black black) {
    const int32_t whole = width >> 3;
    for (int32_t i = 0; i < whole; ++i) {
        unsigned bits = 0;
        for (int k = 0; k < 8; ++k, a += step, b += step, c += step)
            bits = (bits << 1) | static_cast<unsigned>(black(*a, *b, *c));
        dst[i] = static_cast<uint8_t>(bits);
    }
    const int32_t rest = width & 7;
    if (rest != 0) {
        unsigned bits = 0;
        for (int k = 0; k < rest; ++k, a += step, b += step, c += step)
            bits = (bits << 1) | static_cast<unsigned>(black(*a, *b, *c));
        dst[whole] = static_cast<uint8_t>(bits << (8 - rest));
    }
}

} // namespace

// ---------------------------------------------------------------------------
// Kind 1: error diffusion

namespace {
constexpr int32_t kEDInitialCapacity = 200;
}

CBFuncED::CBFuncED() {
    if (Grow(kEDInitialCapacity)) ZeroFill();
}

CBFuncED::~CBFuncED() {
    delete[] m_pErrBlock;
    delete[] m_pSum;
}

bool CBFuncED::Grow(int32_t n) {
    if (n <= m_lCapacity) return true;
    int32_t* errBlock = new (std::nothrow) int32_t[static_cast<size_t>(n) + 4]();
    int32_t* sum = new (std::nothrow) int32_t[static_cast<size_t>(n) + 2]();
    if (errBlock == nullptr || sum == nullptr) {
        delete[] errBlock;
        delete[] sum;
        return false;
    }
    if (m_pErrBlock != nullptr) {
        std::memcpy(errBlock, m_pErrBlock,
                    (static_cast<size_t>(m_lCapacity) + 4) * sizeof(int32_t));
        std::memcpy(sum, m_pSum, (static_cast<size_t>(m_lCapacity) + 2) * sizeof(int32_t));
    }
    delete[] m_pErrBlock;
    delete[] m_pSum;
    m_pErrBlock = errBlock;
    m_pErr = errBlock + 2;
    m_pSum = sum;
    m_lCapacity = n;
    return true;
}

void CBFuncED::ZeroFill() {
    if (m_pErrBlock == nullptr) return;
    std::memset(m_pErrBlock, 0, (static_cast<size_t>(m_lCapacity) + 4) * sizeof(int32_t));
    std::memset(m_pSum, 0, (static_cast<size_t>(m_lCapacity) + 2) * sizeof(int32_t));
}

int CBFuncED::Start(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagBINFUNCINFO* info) {
    if (info->lineCount == 0) {
        const int32_t need = dst->lWidth > src->lWidth ? dst->lWidth : src->lWidth;
        if (!Grow(need)) throw kIpErrNoMemory;
        ZeroFill();
    }
    return CBFunc::Start(dst, src, info);
}

void CBFuncED::Line() {
    const int32_t width = m_lWidth;
    // A line call reaches the object without a start; the arrays must still
    // hold the whole width.
    if (width > m_lCapacity && !Grow(width)) throw kIpErrNoMemory;

    int32_t* const err = m_pErr;
    int32_t* const sum = m_pSum;
    const uint8_t* const src = m_pSrc;
    uint8_t* const dst = m_pDst;
    const int32_t slice = m_lSlice;

    for (int32_t x = 0; x < width; ++x) sum[x] = src[x] + err[x];
    if (m_lDstSync > 0) std::memset(dst, 0, static_cast<size_t>(m_lDstSync));

    for (int32_t x = 0; x < width; ++x) {
        const int32_t v = sum[x];
        int32_t residue;
        if (slice >= v) {
            BitPack::SetBit(dst, x);
            residue = v;
        } else {
            residue = v - 255;
        }
        const int32_t e = residue / 4;
        if (e == 0) continue;
        sum[x + 1] += e;
        err[x] = e;
        const int32_t h = e / 2;
        if (h != 0) {
            sum[x + 2] += h;
            err[x - 2] += h;
            err[x - 1] += h;
            err[x + 1] += h;
        }
    }
    NextLine();
}

void CBFuncEDOld::Line() {
    ClearDstBits();
    int32_t error = 0;
    for (int32_t x = 0; x < m_lWidth; ++x) {
        const int32_t s = m_pSrc[x] + error;
        if (m_lSlice >= s) {
            BitPack::SetBit(m_pDst, x);
            error = s;
        } else {
            error = s - 255;
        }
    }
    NextLine();
}

// ---------------------------------------------------------------------------
// Kinds 4 and 6: 24-bit colour to 1 bit

namespace {

// Shared line walk of the two colour kinds: finds the three sample rows of
// the line for the layout, writes the line (every byte of the width, the
// bits beyond it cleared) and advances.
template <typename Black>
void ColourKindLine(uint8_t*& dstLine, uint8_t*& srcLine, int32_t dstSync, int32_t srcSync,
                    uint32_t order, int32_t width, Black black) {
    if (order != 0 && order != 1) return; // unknown layout: nothing written, nothing moves
    if (order == 1) {
        ColourLine<1>(dstLine, srcLine, srcLine + srcSync, srcLine + 2 * int64_t{srcSync}, width,
                      black);
        srcLine += 3 * int64_t{srcSync};
    } else {
        ColourLine<3>(dstLine, srcLine, srcLine + 1, srcLine + 2, width, black);
        srcLine += srcSync;
    }
    dstLine += dstSync;
}

} // namespace

int CBFuncColourTo1Bit::Start(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagBINFUNCINFO* info) {
    if (!IsColour24(src) || !IsBinary(dst)) return 0;
    return CBFunc::Start(dst, src, info);
}

void CBFuncToMonoChrome::Line() {
    const int32_t slice = m_lSlice;
    ColourKindLine(m_pDst, m_pSrc, m_lDstSync, m_lSrcSync, m_ulRGBOrder, m_lWidth,
                   [slice](uint8_t r, uint8_t g, uint8_t b) {
                       return RedToGray[r] + GreenToGray[g] + BlueToGray[b] < slice;
                   });
    ++m_lLine;
}

void CBFuncMebrin::Line() {
    const int32_t slice = m_lSlice;
    ColourKindLine(m_pDst, m_pSrc, m_lDstSync, m_lSrcSync, m_ulRGBOrder, m_lWidth,
                   [slice](uint8_t r, uint8_t g, uint8_t b) {
                       return (r < slice) & (g < slice) & (b < slice);
                   });
    ++m_lLine;
}

// ---------------------------------------------------------------------------
// Kind 5: median threshold

namespace {

constexpr int32_t kRingLines = 8;
constexpr int32_t kMedianRank = 41; // of 81 values, counted from 1

// Running 256-level histogram of a 9 x 9 window with its median tracked as
// the window slides (the median moves little from one column to the next).
class MedianWindow {
public:
    void Reset() {
        m_hist.fill(0);
        m_median = 0;
        m_below = 0;
    }
    // Branch-free: on noisy pages the comparisons are unpredictable.
    void Add(uint8_t v) {
        ++m_hist[v];
        m_below += static_cast<int32_t>(v < m_median);
    }
    void Remove(uint8_t v) {
        --m_hist[v];
        m_below -= static_cast<int32_t>(v < m_median);
    }
    // The kMedianRank-th smallest value of the window.
    int32_t Median() {
        while (m_below >= kMedianRank) {
            --m_median;
            m_below -= m_hist[m_median];
        }
        while (m_below + m_hist[m_median] < kMedianRank) {
            m_below += m_hist[m_median];
            ++m_median;
        }
        return m_median;
    }

private:
    std::array<int32_t, 256> m_hist{};
    int32_t m_median = 0;
    int32_t m_below = 0; // values below m_median
};

} // namespace

// One median line: bit x of the (cleared) destination line is set when the
// 41st smallest of the 81 values of the window around x is above pixel x.
// The window centre c stays 4 columns inside both line ends, so all 81
// values are pixels of the line.
void IntegrityMedianLine(uint8_t* dst, const uint8_t* const rows[9], const uint8_t* src,
                         int32_t width) {
    MedianWindow window;
    window.Reset();
    for (int32_t col = 0; col < 9; ++col)
        for (int32_t r = 0; r < 9; ++r) window.Add(rows[r][col]);
    const int32_t lastCentre = width - 5;
    int32_t centre = 4;
    int32_t median = window.Median();
    for (int32_t x = 0; x < width; ++x) {
        const int32_t want = x < 4 ? 4 : (x > lastCentre ? lastCentre : x);
        while (centre < want) {
            for (int32_t r = 0; r < 9; ++r) {
                // Equal values leave the window unchanged (common on paper).
                const uint8_t out = rows[r][centre - 4], in = rows[r][centre + 5];
                if (out != in) {
                    window.Remove(out);
                    window.Add(in);
                }
            }
            ++centre;
            median = window.Median();
        }
        if (median > src[x]) BitPack::SetBit(dst, x);
    }
}

namespace {

// The 41st smallest value is above p exactly when at most 40 values are at
// or below p, so a pixel needs only that count.
bool MedianAbove(const uint8_t* const rows[9], int32_t centre, uint8_t p) {
    int32_t atOrBelow = 0;
    for (int32_t r = 0; r < 9; ++r)
        for (int32_t col = centre - 4; col <= centre + 4; ++col) atOrBelow += rows[r][col] <= p;
    return atOrBelow < kMedianRank;
}

} // namespace

void SSE2MedianLine(uint8_t* dst, const uint8_t* const rows[9], const uint8_t* src, int32_t width) {
#if defined(__SSE2__)
    const int32_t lastCentre = width - 5;
    const auto scalar = [&](int32_t x) {
        const int32_t c = x < 4 ? 4 : (x > lastCentre ? lastCentre : x);
        if (MedianAbove(rows, c, src[x])) BitPack::SetBit(dst, x);
    };
    int32_t x = 0;
    for (; x < 4; ++x) scalar(x);
    // Sixteen pixels at once: count the window values at or below each.
    const __m128i rank = _mm_set1_epi8(kMedianRank);
    for (; x + 15 <= lastCentre; x += 16) {
        const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + x));
        __m128i count = _mm_setzero_si128();
        for (int32_t r = 0; r < 9; ++r) {
            const uint8_t* row = rows[r] + x - 4;
            for (int32_t d = 0; d < 9; ++d) {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + d));
                count = _mm_sub_epi8(count, _mm_cmpeq_epi8(_mm_min_epu8(v, p), v));
            }
        }
        // At most 81: a signed byte compare is safe.
        const unsigned black =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmplt_epi8(count, rank)));
        for (int32_t k = 0; k < 16; ++k)
            if (black & (1u << k)) BitPack::SetBit(dst, x + k);
    }
    for (; x < width; ++x) scalar(x);
#else
    IntegrityMedianLine(dst, rows, src, width);
#endif
}

CBFuncMedian::~CBFuncMedian() {
    delete[] m_pRing;
}

bool CBFuncMedian::RingFits() const {
    return m_pRing != nullptr && m_lRingLine == m_lSrcSync;
}

void CBFuncMedian::PrepareRing(const tagTVKIMAGEINFO* src, bool clear) {
    // The 9 x 9 window must fit inside the line.
    if (src->lWidth < kMedianMinWidth || src->lSync < src->lWidth) throw kIpErrCannotRun;
    if (m_pRing != nullptr && m_lRingLine == src->lSync) {
        if (clear) std::memset(m_pRing, 0, m_lRingSize);
        return;
    }
    delete[] m_pRing;
    m_pRing = nullptr;
    m_lRingSize = 0;
    m_lRingLine = 0;
    const uint64_t size = uint64_t{kRingLines} * static_cast<uint32_t>(src->lSync);
    if (size > UINT32_MAX) throw kIpErrNoMemory;
    m_pRing = new (std::nothrow) uint8_t[size]();
    if (m_pRing == nullptr) throw kIpErrNoMemory;
    m_lRingSize = static_cast<uint32_t>(size);
    m_lRingLine = src->lSync;
}

int CBFuncMedian::Start(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagBINFUNCINFO* info) {
    PrepareRing(src, info->lineCount == 0);
    return CBFunc::Start(dst, src, info);
}

int CBFuncMedian::Line(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagBINFUNCINFO* info) {
    // The line call skips the start: the ring is checked here (and kept).
    PrepareRing(src, false);
    return CBFunc::Line(dst, src, info);
}

void CBFuncMedian::Line() {
    if (!RingFits() || m_lWidth < kMedianMinWidth) throw kIpErrCannotRun;
    const int32_t n = m_lLine;
    const size_t lineBytes = static_cast<size_t>(m_lSrcSync);
    uint8_t* const slot = m_pRing + static_cast<size_t>(n % kRingLines) * lineBytes;

    if (n < kRingLines - 1) {
        std::memcpy(slot, m_pSrc, lineBytes);
        CBFunc::Line(); // plain threshold; advances both lines
        return;
    }
    if (n == kRingLines - 1) {
        std::memcpy(slot, m_pSrc, lineBytes);
        m_pSrc += m_lSrcSync;
        ++m_lLine;
        return;
    }

    const int32_t width = m_lWidth;
    const uint8_t* rows[kRingLines + 1];
    for (int32_t k = 0; k < kRingLines; ++k) rows[k] = m_pRing + static_cast<size_t>(k) * lineBytes;
    rows[kRingLines] = m_pSrc;

    uint8_t* const dst = m_pDst;
    std::memset(dst, 0, static_cast<size_t>((width + 7) / 8));
    if (IsSSE2FeatureAvailable())
        SSE2MedianLine(dst, rows, m_pSrc, width);
    else
        IntegrityMedianLine(dst, rows, m_pSrc, width);
    std::memcpy(slot, m_pSrc, lineBytes);
    NextLine();
}
