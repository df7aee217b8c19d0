#include "ResolutionConvert.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace Tvk::Imvra {

namespace {

uint8_t Clamp(int64_t v) {
    return static_cast<uint8_t>(std::clamp<int64_t>(v, 0, 255));
}

// Row y of a page in pixel order.
const uint8_t* Row(const tagIMAGEINFO& img, long y) {
    return img.lpImage + static_cast<size_t>(y) * static_cast<size_t>(img.lSync);
}
uint8_t* Row(tagIMAGEINFO& img, long y) {
    return img.lpImage + static_cast<size_t>(y) * static_cast<size_t>(img.lSync);
}

// Output `o` of an axis of n sources stretched to outCount, on the straight
// line through the two neighbouring sources: inside the line between them,
// past the last source on the line through the last pair. Used where a
// template has no full window of four sources.
uint8_t LinearAt(const uint8_t* in, long n, long outCount, long o, int spp) {
    if (n < 2) return in[0];
    const int64_t num = static_cast<int64_t>(o) * n;
    const int64_t den = outCount;
    const int64_t i = num / den;
    const int64_t f = num % den;
    if (i <= n - 2)
        return static_cast<uint8_t>(((den - f) * in[i * spp] + f * in[(i + 1) * spp]) / den);
    const int64_t e = num - static_cast<int64_t>(n - 1) * den;
    return Clamp(((den + e) * in[(n - 1) * spp] - e * in[(n - 2) * spp]) / den);
}

// The 3-to-2 look-up table, built once.
const uint8_t* Fix23Table() {
    static const auto table = [] {
        auto t = std::make_unique<uint8_t[]>(256 * 256);
        for (int a = 0; a < 256; ++a)
            for (int b = 0; b < 256; ++b)
                t[a * 256 + b] = static_cast<uint8_t>(std::min((2 * a + b) / 3, 255));
        return t;
    }();
    return table.get();
}

// Creates an image for the stage's output: RTN_PAR when the record is
// refused, RTN_MEM when it came without a buffer.
int CreateOut(CImg& out, int64_t width, int64_t height, int32_t bps, int32_t spp, int32_t xres,
              int32_t yres) {
    const int64_t sync = (width * bps * spp + 7) / 8;
    if (width < 1 || height < 1 || height > INT32_MAX || sync > INT32_MAX) return RTN_PAR;
    if (!out.createImg(static_cast<int32_t>(width), static_cast<int32_t>(height),
                       static_cast<int32_t>(sync), bps, spp, 0, xres, yres))
        return RTN_PAR;
    return out.isNull() ? RTN_MEM : RTN_OK;
}

// The output image keeps its first `lines` lines and takes the output
// resolutions.
void Shrink(CImg& out, long lines) {
    tagIMAGEINFO& o = out.info();
    o.lHeight = static_cast<int32_t>(lines);
    o.tImageSize =
        static_cast<uint32_t>(static_cast<uint64_t>(lines) * static_cast<uint64_t>(o.lSync));
}

} // namespace

// ---------------------------------------------------------------------------
// Tables

void makeSpreadCountTable(std::vector<uint32_t>& table, long out, long in) {
    table.assign(static_cast<size_t>(std::max(in, 0L)), 0);
    if (in < 1 || out < 1) return;
    if (in - 1 > out - 1) {
        int64_t s = 0, u = 0;
        for (long i = 0; i < in; ++i) {
            s += out - 1;
            if (s - u >= in - out) {
                table[i] = 1;
                u += in - 1;
            }
        }
        if (!(in < 2 * out)) table[in - 1] += 1;
    } else if (in - 1 < out - 1) {
        int64_t s = 0, u = 0;
        long cursor = 0;
        for (long o = 0; o < out && cursor < in; ++o) {
            s += in - 1;
            table[cursor] += 1;
            if (s - u >= out - in) {
                ++cursor;
                u += out - 1;
            }
        }
    } else {
        std::fill(table.begin(), table.end(), 1u);
    }
}

void CStretchDataCore::makeLinearCountTable(std::vector<uint64_t>& table, long out, long in) {
    table.assign(static_cast<size_t>(std::max(out, 0L)), 0);
    if (out < 2) return;
    for (long i = 0; i < out; ++i)
        table[i] = static_cast<uint64_t>(i) * LINER_UNIT * static_cast<uint64_t>(in - 1) /
                   static_cast<uint64_t>(out - 1);
}

// ---------------------------------------------------------------------------
// Stretchers

template <int N>
long CStretchSpread<N>::StretchDataProc(uint8_t* out, long outCount, const uint8_t* in,
                                        long inCount, const uint32_t* table) {
    long o = 0;
    uint64_t sum[N] = {};
    long members = 0;
    for (long i = 0; i < inCount && o < outCount; ++i) {
        const uint8_t* px = in + i * N;
        const uint32_t c = table[i];
        if (c == 0) {
            for (int k = 0; k < N; ++k) sum[k] += px[k];
            ++members;
        } else if (members == 0) {
            for (uint32_t r = 0; r < c && o < outCount; ++r, ++o) std::memcpy(out + o * N, px, N);
        } else {
            ++members;
            for (int k = 0; k < N; ++k) {
                out[o * N + k] = static_cast<uint8_t>((sum[k] + px[k]) / members);
                sum[k] = 0;
            }
            members = 0;
            ++o;
        }
    }
    return o;
}

template <int N>
long CStretchLinear<N>::StretchDataProc(uint8_t* out, long outCount, const uint8_t* in,
                                        long inCount, const uint32_t*) {
    if (outCount < 1 || inCount < 1) return -1;
    if (outCount != m_tableOut || inCount != m_tableIn) {
        makeLinearCountTable(m_table, outCount, inCount);
        m_tableOut = outCount;
        m_tableIn = inCount;
    }
    for (long i = 0; i + 1 < outCount; ++i) {
        const uint64_t k = m_table[i] / LINER_UNIT;
        const uint64_t f = m_table[i] % LINER_UNIT;
        const uint8_t* a = in + k * N;
        const uint8_t* b = f != 0 ? a + N : a;
        for (int c = 0; c < N; ++c)
            out[i * N + c] =
                static_cast<uint8_t>(((LINER_UNIT - f) * a[c] + f * b[c] + 128) / LINER_UNIT);
    }
    std::memcpy(out + (outCount - 1) * N, in + (inCount - 1) * N, N);
    return outCount;
}

template <int N> CStretchFix2_3<N>::CStretchFix2_3() : m_t(Fix23Table()) {}

template <int N>
long CStretchFix2_3<N>::StretchDataProc(uint8_t* out, long outCount, const uint8_t* in,
                                        long inCount, const uint32_t* table) {
    const long g = std::min(inCount / 3, outCount / 2) - 1;
    if (g < 1 || outCount - 2 * g <= 1 || inCount - 3 * g <= 2) return -1;
    for (long j = 0; j < g; ++j) {
        const uint8_t* p = in + 3 * j * N;
        uint8_t* o = out + 2 * j * N;
        for (int c = 0; c < N; ++c) {
            const int q = p[N + c];
            o[c] = m_t[p[c] * 256 + q];
            o[N + c] = m_t[p[2 * N + c] * 256 + q];
        }
    }
    const long rest = m_rest.StretchDataProc(out + 2 * g * N, outCount - 2 * g, in + 3 * g * N,
                                             inCount - 3 * g, table);
    return rest < 0 ? -1 : 2 * g + rest;
}

template class CStretchSpread<1>;
template class CStretchSpread<3>;
template class CStretchLinear<1>;
template class CStretchLinear<3>;
template class CStretchFix2_3<1>;
template class CStretchFix2_3<3>;

// ---------------------------------------------------------------------------
// Bicubic enlargement

int CBicubic::ModeFor(long outWidth, long inWidth) {
    if (outWidth == 4 * inWidth) return kQuadruple;
    if (outWidth == 2 * inWidth) return kTwice;
    if (2 * outWidth == 3 * inWidth) return kTwoToThree;
    return kGeneral;
}

int64_t CBicubic::InnerWeight(int64_t x) {
    return (x * ((kA + 16) * x - 64 * kA - 1536) * x + 0x200000) / 8;
}

int64_t CBicubic::OuterWeight(int64_t x) {
    return (x * (kA * x) * (x - 320) + kA * x * 32768 - int64_t{kA} * 1048576) / 8;
}

namespace {

// The cubic sample between s[1] and s[2] at phase p sixty-fourths, from
// four neighbours `step` bytes apart.
uint8_t CubicAt(const uint8_t* s, long step, int64_t p) {
    const int64_t sum = CBicubic::OuterWeight(64 + p) * s[0] + CBicubic::InnerWeight(p) * s[step] +
                        CBicubic::InnerWeight(64 - p) * s[2 * step] +
                        CBicubic::OuterWeight(128 - p) * s[3 * step];
    return Clamp(sum / 0x40000);
}

// Weighted sum of four neighbours `step` bytes apart over `den`.
uint8_t Weighted(const uint8_t* s, long step, const int64_t (&w)[4], int64_t den) {
    return Clamp((w[0] * s[0] + w[1] * s[step] + w[2] * s[2 * step] + w[3] * s[3 * step]) / den);
}

} // namespace

void CBicubic::HorizontalLine(int mode, const uint8_t* in, long n, uint8_t* out, long outW,
                              int spp) {
    for (int c = 0; c < spp; ++c) {
        const uint8_t* src = in + c;
        uint8_t* dst = out + c;
        auto put = [&](long o, uint8_t v) { dst[o * spp] = v; };
        long done = 0; // outputs written by the template; the rest lie on lines
        constexpr int64_t a = kA;
        if (mode == kTwice && n >= 4) {
            const int64_t w[4] = {8 * a, 256 - 8 * a, 256 - 8 * a, 8 * a};
            put(0, src[0]);
            put(1, static_cast<uint8_t>((src[0] + src[spp]) / 2));
            for (long k = 0; k + 3 < n; ++k) {
                put(2 * k + 2, src[(k + 1) * spp]);
                put(2 * k + 3, Weighted(src + k * spp, spp, w, 512));
                done = 2 * k + 4;
            }
        } else if (mode == kQuadruple && n >= 4) {
            const int64_t w1[4] = {9 * a, 432 - 3 * a, 80 - 9 * a, 3 * a};
            const int64_t w2[4] = {8 * a, 256 - 8 * a, 256 - 8 * a, 8 * a};
            const int64_t w3[4] = {3 * a, 80 - 9 * a, 432 - 3 * a, 9 * a};
            const int s0 = src[0], s1 = src[spp];
            put(0, src[0]);
            put(1, static_cast<uint8_t>((3 * s0 + s1) / 4));
            put(2, static_cast<uint8_t>((s0 + s1) / 2));
            put(3, static_cast<uint8_t>((s0 + 3 * s1) / 4));
            for (long k = 0; k + 3 < n; ++k) {
                const uint8_t* s = src + k * spp;
                put(4 * k + 4, src[(k + 1) * spp]);
                put(4 * k + 5, Weighted(s, spp, w1, 512));
                put(4 * k + 6, Weighted(s, spp, w2, 512));
                put(4 * k + 7, Weighted(s, spp, w3, 512));
                done = 4 * k + 8;
            }
        } else if (mode == kTwoToThree && n >= 5) {
            constexpr int64_t A = a / 8;
            const int64_t w[4] = {16384 * A / 27, (57344 - 32768 * A) / 27,
                                  (163840 - 16384 * A) / 27, 32768 * A / 27};
            const int64_t m[4] = {w[3], w[2], w[1], w[0]};
            put(0, src[0]);
            put(1, static_cast<uint8_t>((341 * src[0] + 683 * src[spp]) >> 10));
            put(2, static_cast<uint8_t>((683 * src[spp] + 341 * src[2 * spp]) >> 10));
            done = 3;
            for (long k = 1; k + 4 < n; k += 2) {
                put(done, src[(k + 1) * spp]);
                put(done + 1, Weighted(src + k * spp, spp, w, 8192));
                put(done + 2, Weighted(src + (k + 1) * spp, spp, m, 8192));
                done += 3;
            }
        } else if (mode == kGeneral && n >= 4) {
            const int64_t step = 1048576 / outW;
            for (long o = 0; o < outW; ++o) {
                const int64_t num = static_cast<int64_t>(o) * n;
                const long i = static_cast<long>(num / outW);
                const int64_t acc = num % outW;
                const int64_t p = ((acc * step) * 64) >> 20;
                if (p == 0 && i < n)
                    put(o, src[i * spp]);
                else if (i >= 1 && i + 2 < n)
                    put(o, CubicAt(src + (i - 1) * spp, spp, p));
                else
                    put(o, LinearAt(src, n, outW, o, spp));
            }
            done = outW;
        }
        // Line ends (and lines too short for a window): the last interval is
        // interpolated between the last pair of sources, in[n-2] and in[n-1],
        // and outputs past the last source lie on the line through that pair.
        for (long o = done; o < outW; ++o) put(o, LinearAt(src, n, outW, o, spp));
    }
}

int CBicubic::Initialize(long outWidth, long inWidth, long outHeight, long inHeight,
                         const tagIMAGEINFO& page) {
    if (outWidth < 1 || inWidth < 1 || outHeight < 1 || inHeight < 1) return RTN_PAR;
    if (page.lWidth != inWidth || page.lHeight != inHeight) return RTN_PAR;
    m_outW = outWidth;
    m_inW = inWidth;
    m_outH = outHeight;
    m_inH = inHeight;
    m_spp = page.lSpp;
    m_mode = ModeFor(outWidth, inWidth);
    try {
        for (auto& line : m_ring) line.assign(static_cast<size_t>(outWidth) * m_spp, 0);
    } catch (const std::bad_alloc&) {
        return RTN_MEM;
    }
    std::fill(std::begin(m_ringLine), std::end(m_ringLine), -1);
    return RTN_OK;
}

const uint8_t* CBicubic::InputOneLine(const tagIMAGEINFO& in, long y) {
    std::vector<uint8_t>& slot = m_ring[y % 4];
    if (m_ringLine[y % 4] != y) {
        if (m_outW == m_inW)
            std::memcpy(slot.data(), Row(in, y), slot.size());
        else
            HorizontalLine(m_mode, Row(in, y), m_inW, slot.data(), m_outW, m_spp);
        m_ringLine[y % 4] = y;
    }
    return slot.data();
}

long CBicubic::WriteBuffer(const tagIMAGEINFO& in, tagIMAGEINFO& out) {
    const size_t bytes = static_cast<size_t>(m_outW) * m_spp;
    long k = 0;      // the interval between lines k and k + 1
    int64_t acc = 0; // position inside it, in steps of the input height
    long written = 0;
    for (; written < m_outH && written < out.lHeight; ++written) {
        uint8_t* dst = Row(out, written);
        const int64_t p = acc * 64 / m_outH;
        if (m_inH == 1) {
            std::memcpy(dst, InputOneLine(in, 0), bytes);
        } else if (k >= 1 && k + 2 < m_inH) {
            const uint8_t* l[4] = {InputOneLine(in, k - 1), InputOneLine(in, k),
                                   InputOneLine(in, k + 1), InputOneLine(in, k + 2)};
            const int64_t w[4] = {OuterWeight(64 + p), InnerWeight(p), InnerWeight(64 - p),
                                  OuterWeight(128 - p)};
            for (size_t x = 0; x < bytes; ++x)
                dst[x] = Clamp((w[0] * l[0][x] + w[1] * l[1][x] + w[2] * l[2][x] + w[3] * l[3][x]) /
                               0x40000);
        } else {
            // Start and end: bilinear between the interval's two lines; past
            // the last line, on the straight line through the last two.
            const long k0 = std::min(k, m_inH - 2);
            const int64_t q = p + 64 * (k - k0);
            const uint8_t* a = InputOneLine(in, k0);
            const uint8_t* b = InputOneLine(in, k0 + 1);
            for (size_t x = 0; x < bytes; ++x) dst[x] = Clamp(((64 - q) * a[x] + q * b[x]) / 64);
        }
        acc += m_inH;
        while (acc >= m_outH) {
            acc -= m_outH;
            ++k;
        }
    }
    return written;
}

// ---------------------------------------------------------------------------
// Band converter

bool CResolutionConvertNormal::IsStretch2_3(long out, long in) {
    if (in < 1) return false;
    const int64_t r = static_cast<int64_t>(out) * 256 / in;
    return r == 170 || r == 171;
}

bool CResolutionConvertNormal::setMode(long bps, long spp) {
    if (bps == 8 && spp == 3)
        m_kind = 2;
    else if (bps == 8 && spp == 1)
        m_kind = 1;
    else if (bps == 1 && spp == 1)
        m_kind = 0;
    else
        return false;
    return true;
}

bool CResolutionConvertNormal::setXRatio(long out, long in) {
    if (out < 1 || in < 1 || out > kMaxConvertSide || in > kMaxConvertSide) return false;
    try {
        makeSpreadCountTable(m_xTable, out, in);
        // The pairs of the reduction, as the spread stretcher pairs them: a
        // source with a count feeds that many outputs alone, or closes a
        // group of merged sources that feed one output.
        m_pairSrc.clear();
        m_pairOut.clear();
        m_xMembers.assign(static_cast<size_t>(out), 0);
        long o = 0;
        long groupStart = -1;
        for (long i = 0; i < in && o < out; ++i) {
            const uint32_t c = m_xTable[i];
            if (c == 0) {
                if (groupStart < 0) groupStart = i;
                continue;
            }
            if (groupStart < 0) {
                for (uint32_t r = 0; r < c && o < out; ++r, ++o) {
                    m_pairSrc.push_back(static_cast<uint32_t>(i));
                    m_pairOut.push_back(static_cast<uint32_t>(o));
                    m_xMembers[o] = 1;
                }
            } else {
                for (long j = groupStart; j <= i; ++j) {
                    m_pairSrc.push_back(static_cast<uint32_t>(j));
                    m_pairOut.push_back(static_cast<uint32_t>(o));
                }
                m_xMembers[o] = static_cast<uint32_t>(i - groupStart + 1);
                groupStart = -1;
                ++o;
            }
        }
        // The few distinct member counts, for the quotients of each line.
        m_distinctMembers.clear();
        m_memberIndex.assign(static_cast<size_t>(out), 0);
        for (long p = 0; p < out; ++p) {
            const auto it =
                std::find(m_distinctMembers.begin(), m_distinctMembers.end(), m_xMembers[p]);
            m_memberIndex[p] = static_cast<uint32_t>(it - m_distinctMembers.begin());
            if (it == m_distinctMembers.end()) m_distinctMembers.push_back(m_xMembers[p]);
        }
        m_magic.assign(m_distinctMembers.size(), 0);
        m_magicLines = 0;
        if (IsStretch2_3(out, in)) {
            if (m_kind == 2)
                m_stretch = std::make_unique<CStretchFix2_3RGBData>();
            else
                m_stretch = std::make_unique<CStretchFix2_3Data>();
        } else if (m_kind == 2) {
            m_stretch = std::make_unique<CStretchRGBData>();
        } else {
            m_stretch = std::make_unique<CStretchData>();
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool CResolutionConvertNormal::setYRatio(long out, long in) {
    if (out < 1 || in < 1 || out > kMaxConvertSide || in > kMaxConvertSide) return false;
    try {
        makeSpreadCountTable(m_yTable, out, in);
        // The most lines one output line sums, and the most sources one
        // output pixel gathers: 32-bit sums hold unless 255 times both
        // could pass 2^32.
        uint64_t run = 0, maxRun = 1;
        for (uint32_t c : m_yTable) {
            ++run;
            if (c != 0) {
                maxRun = std::max(maxRun, run);
                run = 0;
            }
        }
        maxRun = std::max(maxRun, run);
        uint64_t maxX = 1;
        for (uint32_t m : m_xMembers) maxX = std::max<uint64_t>(maxX, m);
        m_wideSums = 255 * maxX * maxRun > UINT32_MAX;
        const size_t n = m_xMembers.size() * static_cast<size_t>(samples());
        m_sum32.assign(m_wideSums ? 0 : n, 0);
        m_sum64.assign(m_wideSums ? n : 0, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void CResolutionConvertNormal::StartConvert() {
    m_inLine = 0;
    m_pendingLines = 0;
    std::fill(m_sum32.begin(), m_sum32.end(), 0);
    std::fill(m_sum64.begin(), m_sum64.end(), 0);
}

int CResolutionConvertNormal::takeSettings(CImg& img, void* info, bool startPage) {
    const auto* rec = static_cast<const tagRESOLUTIONCONVERTINFO*>(info);
    if (rec == nullptr || rec->ulSize != kResolutionConvertInfoSize) return RTN_PAR;
    const tagIMAGEINFO& page = img.info();
    // A band of a page started already keeps the page's tables and counters:
    // only the first band or a whole image starts a page.
    if (!startPage) return RTN_OK;
    if (!setMode(page.lBps, page.lSpp)) return RTN_PAR;
    m_info = *rec;
    if (!setXRatio(m_info.lOutWidth, m_info.lInWidth) ||
        !setYRatio(m_info.lOutHeight, m_info.lInHeight))
        return RTN_PAR;
    StartConvert();
    return RTN_OK;
}

namespace {

template <int N, class Sum>
void AddPairs(Sum* sum, const uint8_t* line, const uint32_t* src, const uint32_t* out, size_t n) {
    for (size_t p = 0; p < n; ++p) {
        Sum* s = sum + static_cast<size_t>(out[p]) * N;
        const uint8_t* px = line + static_cast<size_t>(src[p]) * N;
        for (int k = 0; k < N; ++k) s[k] += px[k];
    }
}

// Quotients by multiplication: for a sum x <= 255 d, floor(x x m / 2^55)
// with m = ceil(2^55 / d) equals floor(x / d) while 255 d^2 < 2^55 (the
// error x (m d - 2^55) / (d 2^55) stays below 1 / d). Larger counts divide.
constexpr int kMagicShift = 55;
constexpr uint64_t kMagicMaxCount = 1200000; // 255 x 1200000^2 < 2^55

uint64_t Magic(uint64_t count) {
    if (count > kMagicMaxCount) return 0;
    return ((uint64_t{1} << kMagicShift) + count - 1) / count;
}

// Each output sample = sum / count, stopping at the first output pixel that
// gathered nothing; the sums are cleared. magic: per distinct member count
// (index of each output pixel in memberIndex) for the lines summed.
template <int N, class Sum>
void OutputSums(uint8_t* row, std::vector<Sum>& sum, const std::vector<uint32_t>& members,
                const std::vector<uint32_t>& memberIndex, const std::vector<uint64_t>& magic,
                uint64_t lines) {
    for (size_t o = 0; o < members.size() && members[o] != 0; ++o) {
        const Sum* s = sum.data() + o * N;
        uint8_t* out = row + o * N;
        const uint64_t m = magic[memberIndex[o]];
        if (m != 0) {
            for (int k = 0; k < N; ++k)
                out[k] = static_cast<uint8_t>((uint64_t{s[k]} * m) >> kMagicShift);
        } else {
            const uint64_t count = members[o] * lines;
            for (int k = 0; k < N; ++k) out[k] = static_cast<uint8_t>(s[k] / count);
        }
    }
    std::fill(sum.begin(), sum.end(), 0);
}

} // namespace

void CResolutionConvertNormal::AddReductLineData(const uint8_t* line) {
    const size_t n = m_pairSrc.size();
    if (m_wideSums) {
        if (m_kind == 2)
            AddPairs<3>(m_sum64.data(), line, m_pairSrc.data(), m_pairOut.data(), n);
        else
            AddPairs<1>(m_sum64.data(), line, m_pairSrc.data(), m_pairOut.data(), n);
    } else if (m_kind == 2) {
        AddPairs<3>(m_sum32.data(), line, m_pairSrc.data(), m_pairOut.data(), n);
    } else {
        AddPairs<1>(m_sum32.data(), line, m_pairSrc.data(), m_pairOut.data(), n);
    }
}

void CResolutionConvertNormal::OutputReductData(uint8_t* row) {
    const uint64_t lines = static_cast<uint64_t>(m_pendingLines) + 1;
    if (lines != m_magicLines) {
        for (size_t j = 0; j < m_distinctMembers.size(); ++j)
            m_magic[j] = Magic(m_distinctMembers[j] * lines);
        m_magicLines = lines;
    }
    if (m_wideSums) {
        if (m_kind == 2)
            OutputSums<3>(row, m_sum64, m_xMembers, m_memberIndex, m_magic, lines);
        else
            OutputSums<1>(row, m_sum64, m_xMembers, m_memberIndex, m_magic, lines);
    } else if (m_kind == 2) {
        OutputSums<3>(row, m_sum32, m_xMembers, m_memberIndex, m_magic, lines);
    } else {
        OutputSums<1>(row, m_sum32, m_xMembers, m_memberIndex, m_magic, lines);
    }
}

long CResolutionConvertNormal::WriteReductLine(const uint8_t* line, tagIMAGEINFO& out,
                                               long& written) {
    if (m_inLine >= static_cast<long>(m_yTable.size())) {
        ++m_inLine;
        return 0;
    }
    AddReductLineData(line);
    const uint32_t c = m_yTable[m_inLine++];
    if (c == 0) {
        ++m_pendingLines;
        return 0;
    }
    if (written >= out.lHeight) return -1;
    OutputReductData(Row(out, written++));
    m_pendingLines = 0;
    return 1;
}

long CResolutionConvertNormal::WriteExpandLine(const uint8_t* line, tagIMAGEINFO& out,
                                               long& written) {
    const uint32_t c = m_inLine < static_cast<long>(m_yTable.size()) ? m_yTable[m_inLine] : 0;
    ++m_inLine;
    if (c == 0) return 0;
    if (written + static_cast<long>(c) > out.lHeight) return -1;
    uint8_t* first = Row(out, written);
    if (m_stretch->StretchDataProc(first, m_info.lOutWidth, line, m_info.lInWidth,
                                   m_xTable.data()) < 0)
        return -1;
    ++written;
    for (uint32_t r = 1; r < c; ++r)
        std::memcpy(Row(out, written++), first, static_cast<size_t>(out.lSync));
    return c;
}

int CResolutionConvertNormal::ResolutionConvertNormal(CImg& band) {
    tagIMAGEINFO& in = band.info();
    if (in.lBps != 8 || (in.lSpp == 3 && in.ulRGBOrder != 0)) return RTN_PAR;
    // The band must be of the format and width the page's tables were made
    // for, or the stretchers would read past its lines.
    if (m_kind == 0 || in.lSpp != samples()) return RTN_PAR;
    if (in.lXResolution == m_info.lOutXResolution && in.lYResolution == m_info.lOutYResolution)
        return RTN_OK;
    if (m_info.lOutWidth < 1 || m_info.lOutHeight < 1 || m_info.lInWidth < 1 ||
        m_info.lInHeight < 1)
        return RTN_PAR;
    if (in.lWidth != m_info.lInWidth || band.isNull()) return RTN_PAR;

    const bool reduce = m_info.lOutHeight < m_info.lInHeight;
    // The output lines this band yields, counted from the Y table, so that
    // the output band holds exactly what is written.
    int64_t lines = 0;
    for (long y = 0; y < in.lHeight; ++y) {
        const long i = m_inLine + y;
        if (i >= static_cast<long>(m_yTable.size())) break;
        lines += reduce ? (m_yTable[i] != 0 ? 1 : 0) : m_yTable[i];
    }
    if (lines == 0) {
        // Nothing to hand on yet: reduced lines wait in the sums for the
        // next band; they must not pass on at the input resolution.
        for (long y = 0; y < in.lHeight; ++y) {
            long written = 0;
            tagIMAGEINFO none{};
            if ((reduce ? WriteReductLine(Row(in, y), none, written)
                        : WriteExpandLine(Row(in, y), none, written)) < 0)
                return RTN_PAR;
        }
        band.deleteImg();
        return RTN_OK;
    }
    CImg out;
    const int r = CreateOut(out, m_info.lOutWidth, lines, 8, in.lSpp, m_info.lOutXResolution,
                            m_info.lOutYResolution);
    if (r != RTN_OK) return r;
    tagIMAGEINFO& o = out.info();
    long written = 0;
    for (long y = 0; y < in.lHeight; ++y) {
        const long c = reduce ? WriteReductLine(Row(in, y), o, written)
                              : WriteExpandLine(Row(in, y), o, written);
        if (c < 0) return RTN_PAR;
    }
    Shrink(out, written);
    band.attachImg(out);
    return RTN_OK;
}

int CResolutionConvertNormal::IP(CImg& img) {
    if (static_cast<double>(m_info.lOutHeight) >= 1.4 * static_cast<double>(m_info.lInHeight))
        return Bicubic(img);
    return ResolutionConvertNormal(img);
}

int CResolutionConvertNormal::Bicubic(CImg& page) {
    const tagIMAGEINFO& in = page.info();
    if (in.lBps != 8 || (in.lSpp != 1 && in.lSpp != 3) || (in.lSpp == 3 && in.ulRGBOrder != 0) ||
        page.isNull())
        return RTN_PAR;
    CBicubic bicubic;
    int r = bicubic.Initialize(m_info.lOutWidth, m_info.lInWidth, m_info.lOutHeight,
                               m_info.lInHeight, in);
    if (r != RTN_OK) return r;
    CImg out;
    r = CreateOut(out, m_info.lOutWidth, static_cast<int64_t>(m_info.lOutHeight) + 1, 8, in.lSpp,
                  m_info.lOutXResolution, m_info.lOutYResolution);
    if (r != RTN_OK) return r;
    const long lines = bicubic.WriteBuffer(in, out.info());
    Shrink(out, lines);
    page.attachImg(out);
    return RTN_OK;
}

// ---------------------------------------------------------------------------
// Moire reduction

namespace {

// The lower layer's results as the stage's codes.
int MoireResult(int32_t r) {
    if (r == 0) return RTN_OK;
    if (r == kReduceMoireErrNoMemory) return RTN_MEM;
    if (r == -5) return RTN_STATE;
    return RTN_PAR;
}

} // namespace

void CResolutionConvertWithReduceMoire::release() {
    if (m_request.pReduceMoire == nullptr) return;
    m_request.lCommand = kReduceMoireRelease;
    ReduceMoire(nullptr, nullptr, &m_request);
}

int CResolutionConvertWithReduceMoire::takeSettings(void* info, bool startPage) {
    const auto* rec = static_cast<const tagRESOLUTIONCONVERTINFO*>(info);
    if (rec == nullptr || rec->ulSize != kResolutionConvertInfoSize) return RTN_PAR;
    // Later bands of a page keep the running conversion.
    if (!startPage) return RTN_OK;
    release();
    m_info = *rec;
    m_request = tagREDUCEMOIREFILTERINFO{};
    m_request.ulSize = kReduceMoireInfoSize;
    m_request.lCommand = kReduceMoireCreate;
    m_request.lOutXResolution = rec->lOutXResolution;
    m_request.lOutYResolution = rec->lOutYResolution;
    m_request.lOutWidth = rec->lOutWidth;
    m_request.lOutHeight = rec->lOutHeight;
    m_request.lInXResolution = rec->lInXResolution;
    m_request.lInYResolution = rec->lInYResolution;
    m_request.lInWidth = rec->lInWidth;
    m_request.lInHeight = rec->lInHeight;
    m_written = 0;
    // A conversion that cannot start is reported here, not as success.
    return MoireResult(ReduceMoire(nullptr, nullptr, &m_request));
}

int CResolutionConvertWithReduceMoire::ResolutionConvertWithReduceMoire(CImg& band,
                                                                        int32_t command) {
    tagIMAGEINFO& in = band.info();
    if (band.isNull() || in.lHeight < 1) return RTN_OK;
    if (in.lBps != 8 || (in.lSpp == 3 && in.ulRGBOrder != 0)) return RTN_UNSUPPORTED;
    if (in.lXResolution == m_info.lOutXResolution && in.lYResolution == m_info.lOutYResolution)
        return RTN_OK;
    if (m_info.lInHeight < 1) return RTN_PAR;
    CImg out;
    const int64_t height =
        static_cast<int64_t>(in.lHeight) * m_info.lOutHeight / m_info.lInHeight + 5;
    int r = CreateOut(out, m_info.lOutWidth, height, 8, in.lSpp, m_info.lOutXResolution,
                      m_info.lOutYResolution);
    if (r != RTN_OK) return r;
    m_request.lCommand = command;
    r = MoireResult(ReduceMoire(out, band, &m_request));
    if (r != RTN_OK) return r;
    const long lines = std::clamp<long>(out.info().lHeight, 0, static_cast<long>(height));
    m_written += lines;
    if (lines == 0) {
        band.deleteImg();
        return RTN_OK;
    }
    Shrink(out, lines);
    band.attachImg(out);
    return RTN_OK;
}

int CResolutionConvertWithReduceMoire::flush(CImg& band) {
    if (m_request.pReduceMoire == nullptr || m_spp == 0) return RTN_OK;
    // The lower layer writes what it holds, up to the page's output height.
    const int64_t room = std::max<int64_t>(m_info.lOutHeight - m_written, 0) + 1;
    CImg extra;
    int r = CreateOut(extra, m_info.lOutWidth, room, m_bps, m_spp, m_info.lOutXResolution,
                      m_info.lOutYResolution);
    if (r != RTN_OK) return r;
    // The flush feeds no new lines: a source of no lines.
    tagIMAGEINFO none = extra.info();
    none.lWidth = m_info.lInWidth;
    none.lSync = std::max(none.lSync, m_info.lInWidth * m_spp);
    none.lHeight = 0;
    m_request.lCommand = kReduceMoireLastBand;
    r = MoireResult(ReduceMoire(extra, &none, &m_request));
    if (r != RTN_OK) return r;
    const long lines = std::clamp<long>(extra.info().lHeight, 0, static_cast<long>(room));
    if (lines == 0) return RTN_OK;
    Shrink(extra, lines);
    m_written += lines;
    return band.appendImg(extra) ? RTN_OK : RTN_MEM;
}

int CResolutionConvertWithReduceMoire::IPFirst(CImg& img) {
    m_spp = img.info().lSpp;
    m_bps = img.info().lBps;
    return ResolutionConvertWithReduceMoire(img, kReduceMoireFirstBand);
}

int CResolutionConvertWithReduceMoire::IPMiddle(CImg& img) {
    return ResolutionConvertWithReduceMoire(img, kReduceMoireBand);
}

int CResolutionConvertWithReduceMoire::IPLast(CImg& img) {
    int r = ResolutionConvertWithReduceMoire(img, kReduceMoireBand);
    if (r == RTN_OK) r = flush(img);
    release();
    return r;
}

int CResolutionConvertWithReduceMoire::IP(CImg& img) {
    const int r = ResolutionConvertWithReduceMoire(img, kReduceMoireWholePage);
    release();
    return r;
}

// ---------------------------------------------------------------------------
// Resolution measurement

int CDetectRes::setInfo(CImg&, void* info) {
    const auto* rec = static_cast<const tagDETECTRESSTAGEINFO*>(info);
    if (rec == nullptr || rec->ulSize != kDetectResStageInfoSize) return RTN_PAR;
    m_info = *rec;
    return RTN_OK;
}

int CDetectRes::IP(CImg& img) {
    tagIMAGEINFO& page = img.info();
    if (page.lXResolution != page.lYResolution) return RTN_UNSUPPORTED;
    if (img.isNull()) return RTN_PAR;
    tagDETECT_RESOLUTION_INFO request{};
    request.ulSize = kDetectResolutionInfoSize;
    request.ulCommand = kDetResWhole;
    request.pWorker = nullptr;
    request.reserved = 0;
    request.lWidth = page.lWidth;
    request.lHeight = page.lHeight;
    request.lXResolution = page.lXResolution;
    request.lYResolution = page.lYResolution;
    request.lStepLevel = -1; // the detector's defaults
    request.lSharpRatio = -1;
    request.lUnitLength = -1;
    request.lMarginLeft = m_info.lLeftMargin;
    request.lMarginRight = m_info.lRightMargin;
    request.lMarginTop = m_info.lTopMargin;
    request.lMarginBottom = m_info.lBottomMargin;
    if (DetectResolution(&page, &request) != 0) return RTN_PAR;
    if (m_info.plResult != nullptr) *m_info.plResult = request.lResult;
    return RTN_OK;
}

} // namespace Tvk::Imvra
