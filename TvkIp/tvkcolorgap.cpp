// Colour-gap correction. A run of doubtful colours in one column that starts
// and ends at near-neutral pixels with transitions typical of the gap is
// flagged; flagged pixels and their vertical neighbours are turned gray.
// Lines pass through a 16-line ring, so output lags input by 13 lines.
#include "colorgaptable.h"
#include "ImageCheck.h"
#include "LiveObjects.h"
#include "TvkIpError.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

// ---------------------------------------------------------------------------
// Tables

namespace {

constexpr const char* kJudgeRows[32] = {
    "01110111011100001111000011110000", "10111011111111110000000011110000",
    "00000000000000001111000000000000", "00000000000000001111000000000000",
    "01110101011111001111000001110000", "10111011100111111000000011110000",
    "11000100010011001111000000000000", "11001100010011001111000000000000",
    "11100110000011001111111100000000", "10111011100011001000111111110000",
    "11001100010011001111000000000000", "11001100010011001000000000000000",
    "00111011111100001000000011110000", "00111011111100001000000011110000",
    "11001000000011000000000000000000", "11001000000011000000000000000000",
    "01000111011100000000000000000000", "01001111111100000000000000000000",
    "01000111011100000000000000000000", "01000111011100000000000000000000",
    "00000000110000000000000000000000", "00000000110000000000000000000000",
    "00000000110000000000000000000000", "00000000110000000000000000000000",
    "11001100100011000000000000000000", "10001000100011000000000000000000",
    "10001000100011000000000000000000", "11001100100011000000000000000000",
    "01000111011100000000000000000000", "01000111011100000000000000000000",
    "01000111011100000000000000000000", "00000000000000000000000000000000",
};

constexpr std::array<uint8_t, kColorGapJudgeSize> MakeJudge() {
    std::array<uint8_t, kColorGapJudgeSize> t{};
    for (size_t p = 0; p < 32; ++p)
        for (size_t c = 0; c < 32; ++c) t[p * 32 + c] = kJudgeRows[p][c] == '1' ? 1 : 0;
    return t;
}
constexpr std::array<uint8_t, kColorGapJudgeSize> kJudge = MakeJudge();

// Default limits P1..P13 by vertical resolution.
constexpr int32_t kDefaultLimits[5][13] = {
    {104, 144, 152, 88, 64, 144, 152, 80, 56, 144, 160, 64, 96}, // up to 150
    {96, 136, 144, 88, 64, 136, 144, 80, 56, 144, 160, 64, 96},  // 151-200
    {84, 116, 116, 88, 64, 100, 116, 80, 56, 128, 160, 72, 92},  // 201-300
    {84, 116, 116, 88, 64, 100, 108, 80, 48, 128, 160, 72, 92},  // 301-400
    {80, 102, 102, 96, 64, 96, 96, 88, 40, 160, 128, 72, 80},    // above 400
};

// A run of doubtful colours flags at most this many lines back from the
// newest line, so a line's flags are final (and side-checked) this far
// behind it, and corrected one line later.
constexpr int32_t kSearchSpan = kColorGapDelay - 1;

int LimitRow(int32_t r) {
    if (r <= 150) return 0;
    if (r <= 200) return 1;
    if (r <= 300) return 2;
    if (r <= 400) return 3;
    return 4;
}

} // namespace

const uint8_t ColorGapBoolMap[kColorGapJudgeSize] = {
#define ROW(i)                                                                                     \
    kJudge[i * 32 + 0], kJudge[i * 32 + 1], kJudge[i * 32 + 2], kJudge[i * 32 + 3],                \
        kJudge[i * 32 + 4], kJudge[i * 32 + 5], kJudge[i * 32 + 6], kJudge[i * 32 + 7],            \
        kJudge[i * 32 + 8], kJudge[i * 32 + 9], kJudge[i * 32 + 10], kJudge[i * 32 + 11],          \
        kJudge[i * 32 + 12], kJudge[i * 32 + 13], kJudge[i * 32 + 14], kJudge[i * 32 + 15],        \
        kJudge[i * 32 + 16], kJudge[i * 32 + 17], kJudge[i * 32 + 18], kJudge[i * 32 + 19],        \
        kJudge[i * 32 + 20], kJudge[i * 32 + 21], kJudge[i * 32 + 22], kJudge[i * 32 + 23],        \
        kJudge[i * 32 + 24], kJudge[i * 32 + 25], kJudge[i * 32 + 26], kJudge[i * 32 + 27],        \
        kJudge[i * 32 + 28], kJudge[i * 32 + 29], kJudge[i * 32 + 30], kJudge[i * 32 + 31]
    ROW(0),  ROW(1),  ROW(2),  ROW(3),  ROW(4),  ROW(5),  ROW(6),  ROW(7),
    ROW(8),  ROW(9),  ROW(10), ROW(11), ROW(12), ROW(13), ROW(14), ROW(15),
    ROW(16), ROW(17), ROW(18), ROW(19), ROW(20), ROW(21), ROW(22), ROW(23),
    ROW(24), ROW(25), ROW(26), ROW(27), ROW(28), ROW(29), ROW(30), ROW(31),
#undef ROW
};

const uint8_t* ByteColorMap() {
    static const std::vector<uint8_t> map = [] {
        std::vector<uint8_t> m(kColorGapMapSize);
        CBuildDefColorGapMap builder;
        builder.Init(nullptr, 300);
        builder.OutputTable(m.data(), kColorGapMapSize);
        return m;
    }();
    return map.data();
}

// ---------------------------------------------------------------------------
// Class map

void CBuildDefColorGapMap::Init(const tagGAPPARAM* param, int32_t yResolution) {
    const int32_t* src = param != nullptr && param->dwGapParamSize == kGapParamSize
                             ? param->lLimit
                             : kDefaultLimits[LimitRow(yResolution)];
    std::copy_n(src, 13, m_P);
}

bool CBuildDefColorGapMap::OutputTable(uint8_t* buffer, uint32_t size) const {
    if (buffer == nullptr || size < kColorGapMapSize) return false;
    for (uint32_t w = 0; w < kColorGapMapSize; ++w) {
        int32_t r, g, b;
        WordToColor(w, r, g, b);
        buffer[w] = IsDoubtColor(r, g, b);
    }
    return true;
}

uint8_t CBuildDefColorGapMap::IsDoubtColor(int32_t r, int32_t g, int32_t b) const {
    const int32_t mx = std::max({r, g, b});
    const int32_t mn = std::min({r, g, b});
    const int32_t d = mx - mn;
    const int32_t p9 = m_P[8], p10 = m_P[9], p11 = m_P[10];
    if ((mx < p9 && d < 25) || (mx == p9 && d <= 16) || (mn >= p10 - 8 && d <= 16) ||
        (mn >= p10 && std::min(mx, p11) - mn < 33))
        return IsMonoColor(r, g, b);
    if (mn < p11 && d > 8) {
        if (b == mx) return IsDoubtBlue(r, g, b);
        if (g <= r) return IsDoubtRed(r, g, b);
        return IsDoubtGreen(r, g, b);
    }
    return IsMonoColor(r, g, b);
}

uint8_t CBuildDefColorGapMap::IsMonoColor(int32_t r, int32_t g, int32_t b) const {
    const int32_t mx = std::max({r, g, b});
    const int32_t mn = std::min({r, g, b});
    int32_t base = 16;
    if (mx > m_P[8] + 16) base = mx > m_P[9] ? 24 : 20;
    int32_t low = 2;
    if (mx < mn + 3)
        low = 3;
    else if (r == mx)
        low = 0;
    else if (b == mx)
        low = 1;
    return static_cast<uint8_t>(base + low);
}

uint8_t CBuildDefColorGapMap::IsDoubtRed(int32_t r, int32_t g, int32_t b) const {
    const int32_t p1 = m_P[0], p2 = m_P[1], p3 = m_P[2], p4 = m_P[3], p6 = m_P[5];
    const int32_t p12 = m_P[11], p13 = m_P[12];
    if (g < b && b > p12) {
        if (g > p12 || r - g > p6) return 31;
        return b - g > p3 ? 31 : 12;
    }
    if (g <= p12 && r <= p4 && r - g <= p1) return 0;
    if (g - b > p3 && r - g > p2) return 31;
    if (b < p13) return 4;
    return g - b > p3 ? 31 : 8;
}

uint8_t CBuildDefColorGapMap::IsDoubtBlue(int32_t r, int32_t g, int32_t b) const {
    const int32_t p5 = m_P[4], p6 = m_P[5], p7 = m_P[6], p8 = m_P[7];
    const int32_t p12 = m_P[11], p13 = m_P[12];
    if (g < r && r > p12) {
        if (g > p12 || r - g > p6) return 31;
        return b - g > p7 ? 31 : 13;
    }
    if (g <= p12 && b < p8 && b - g <= p5) return 1;
    if (g - r > p6 && b - g > p7) return 31;
    if (r < p13) return 5;
    return g - r > p6 ? 31 : 9;
}

uint8_t CBuildDefColorGapMap::IsDoubtGreen(int32_t r, int32_t g, int32_t b) const {
    const int32_t mn = std::min({r, g, b});
    const int32_t p2 = m_P[1], p3 = m_P[2], p8 = m_P[7], p9 = m_P[8], p10 = m_P[9];
    const int32_t p12 = m_P[11];
    const int32_t e = r == mn ? 2 : 3;
    if (g <= p12) return static_cast<uint8_t>(e);
    if (g <= p8 && g - std::max(r, b) <= p9) return static_cast<uint8_t>(e + 4);
    if (g - r > p2 || g - b > p3 || mn >= p10) return mn < p10 ? 31 : static_cast<uint8_t>(e + 12);
    return static_cast<uint8_t>(e + 8);
}

void BuildColorGapTable(uint8_t* map, int32_t yResolution, const tagGAPPARAM* param) {
    if (yResolution <= 0) {
        std::memcpy(map, ByteColorMap(), kColorGapMapSize);
        return;
    }
    CBuildDefColorGapMap builder;
    builder.Init(param, yResolution);
    if (!builder.OutputTable(map, kColorGapMapSize))
        std::memcpy(map, ByteColorMap(), kColorGapMapSize);
}

void CorrectTableinLightOrder(uint8_t* map, uint32_t order) {
    if (order < 1 || order > 5) return;
    std::vector<uint8_t> old(map, map + kColorGapMapSize);
    for (uint32_t w = 0; w < kColorGapMapSize; ++w) {
        const uint32_t r = (w >> 10) & 31, g = (w >> 5) & 31, b = w & 31;
        uint32_t hi = 0, mid = 0, lo = 0;
        switch (order) {
        case 1:
            hi = b, mid = g, lo = r;
            break;
        case 2:
            hi = g, mid = r, lo = b;
            break;
        case 3:
            hi = b, mid = r, lo = g;
            break;
        case 4:
            hi = r, mid = b, lo = g;
            break;
        default:
            hi = g, mid = b, lo = r;
            break;
        }
        map[hi << 10 | mid << 5 | lo] = old[w];
    }
}

// ---------------------------------------------------------------------------
// Worker

CTvkColorGap::~CTvkColorGap() {
    delete[] m_BuffImg;
    delete[] m_ColorGapMap;
    delete[] m_pScratch;
    delete[] m_PreLineInfo;
    delete[] m_pByteTable;
}

uint32_t CTvkColorGap::Initialize(const tagTVKIMAGEINFO* src, const COLORGAPINFO* info) {
    COLORGAPINFO local{};
    std::memcpy(&local, info, std::min<size_t>(info->ulSize, sizeof(COLORGAPINFO)));
    const bool ownMap = local.pByteTable != nullptr && local.ulByteTableSize == kColorGapMapSize;
    const bool ownJudge =
        local.pJudgeTable != nullptr && local.ulJudgeTableSize == kColorGapJudgeSize;

    m_pByteTable = new (std::nothrow) uint8_t[kColorGapMapSize];
    if (m_pByteTable == nullptr) return kColorGapNoMemory;
    if (local.pGapParam == nullptr && ownMap) {
        // Only five bits of a class are meaningful; the judge index relies on it.
        for (uint32_t i = 0; i < kColorGapMapSize; ++i) m_pByteTable[i] = local.pByteTable[i] & 31;
    } else {
        BuildColorGapTable(m_pByteTable, src->lYResolution, local.pGapParam);
        if (info->ulSize >= kColorGapInfoSizeLightOrder && local.ulLightOrder != 0)
            CorrectTableinLightOrder(m_pByteTable, local.ulLightOrder);
    }
    std::memcpy(m_JudgeTable, ownJudge ? local.pJudgeTable : ColorGapBoolMap, kColorGapJudgeSize);

    m_bMode = 0;
    m_bGraded = 0;
    m_lWidth = src->lWidth;
    m_lLineBytes = static_cast<size_t>(m_lWidth) * 3;
    const size_t w = static_cast<size_t>(m_lWidth);
    m_BuffImg = new (std::nothrow) uint8_t[m_lLineBytes * kRing]();
    m_ColorGapMap = new (std::nothrow) uint8_t[w * kRing]();
    m_pScratch = new (std::nothrow) uint8_t[w]();
    m_PreLineInfo = new (std::nothrow) PreLineInfo[w]();
    if (m_BuffImg == nullptr || m_ColorGapMap == nullptr || m_pScratch == nullptr ||
        m_PreLineInfo == nullptr)
        return kColorGapNoMemory;
    m_lLines = 0;
    return kColorGapOk;
}

int32_t CTvkColorGap::LinesDue(int32_t h) const {
    const int32_t after = m_lLines + std::max(h, 0);
    return std::max(after - kColorGapDelay, 0) - std::max(m_lLines - kColorGapDelay, 0);
}

int32_t CTvkColorGap::LinesFlushed(int32_t h) const {
    return std::min(m_lLines + std::max(h, 0), kColorGapDelay);
}

void CTvkColorGap::FirstProcess(const uint8_t* line) {
    std::memcpy(Ring(0), line, m_lLineBytes);
    std::memset(Flags(0), 0, static_cast<size_t>(m_lWidth));
    m_bMarked[0] = 0;
    const uint8_t* px = Ring(0);
    for (int32_t x = 0; x < m_lWidth; ++x, px += 3) {
        m_PreLineInfo[x].btColorDat = m_pByteTable[ColorToWord(px[0], px[1], px[2])];
        m_PreLineInfo[x].start = -1;
        m_PreLineInfo[x].strong = 0;
    }
    m_lLines = 1;
}

void CTvkColorGap::CheckDoubt(int32_t x, int32_t from, int32_t to, bool strong) {
    const uint8_t v = strong ? 2 : 1;
    for (int32_t r = from;; r = (r + 1) % kRing) {
        Flags(r)[x] = v;
        m_bMarked[r] = 1;
        if (r == to) break;
    }
}

void CTvkColorGap::Search(int32_t y) {
    uint8_t* flags = Flags(y);
    std::memset(flags, 0, static_cast<size_t>(m_lWidth));
    m_bMarked[y] = 0;
    const int32_t oldest = (y + kRing - kSearchSpan) % kRing;
    const int32_t above = (y + kRing - 1) % kRing;
    const uint8_t* px = Ring(y);
    for (int32_t x = 0; x < m_lWidth; ++x, px += 3) {
        PreLineInfo& st = m_PreLineInfo[x];
        const uint8_t c = m_pByteTable[ColorToWord(px[0], px[1], px[2])];
        const uint8_t p = st.btColorDat;
        st.btColorDat = c;
        if (m_JudgeTable[p << 5 | c] == 0) {
            st.start = -1;
            continue;
        }
        st.strong = (st.strong != 0 || (c & 12) == 0) ? 1 : 0;
        if ((c & 16) == 0) { // doubtful colour
            if (st.start == oldest) {
                CheckDoubt(x, st.start, y, st.strong != 0);
                st.start = static_cast<int8_t>(y);
            } else if (st.start < 0 && (p & 16) != 0) {
                st.strong = (c & p & 12) == 0 ? 1 : 0;
                st.start = static_cast<int8_t>(above);
            }
        } else if (st.start >= 0) { // near-neutral closes the run
            CheckDoubt(x, st.start, y, st.strong != 0);
            st.start = -1;
        }
    }
}

void CTvkColorGap::SideCheck(int32_t y) {
    const int32_t w = m_lWidth;
    if (w < 2 || m_bMarked[y] == 0) return; // nothing flagged, nothing to clean
    uint8_t* f = Flags(y);
    std::memcpy(m_pScratch, f, static_cast<size_t>(w));
    const uint8_t* o = m_pScratch; // judged on the line as it was
    for (int32_t x = 1; x < w - 1; ++x) {
        if (o[x] != 0 && o[x - 1] == 0 && o[x + 1] == 0)
            f[x] = 0;
        else if (o[x] == 0 && o[x - 1] != 0 && o[x + 1] != 0)
            f[x] = 1;
    }
    if (o[w - 1] != 0 && o[w - 2] == 0) f[w - 1] = 0;
}

void CTvkColorGap::Correct(int32_t y, uint8_t* out) const {
    const uint8_t* before = Flags((y + kRing - 1) % kRing);
    const uint8_t* here = Flags(y);
    const uint8_t* after = Flags((y + 1) % kRing);
    const uint8_t* line = Ring(y);
    std::memcpy(out, line, m_lLineBytes);
    const int32_t prev = (y + kRing - 1) % kRing, next = (y + 1) % kRing;
    if ((m_bMarked[prev] | m_bMarked[y] | m_bMarked[next]) == 0) return;
    for (int32_t x = 0; x < m_lWidth; ++x) {
        if ((here[x] | before[x] | after[x]) == 0) continue;
        const uint8_t* px = line + 3 * static_cast<size_t>(x);
        uint8_t* o = out + 3 * static_cast<size_t>(x);
        const int32_t r = px[0], g = px[1], b = px[2];
        if (m_bGraded == 0 || here[x] == 2) {
            const uint8_t gray = static_cast<uint8_t>((r + 2 * g + b) / 4);
            o[0] = o[1] = o[2] = gray;
        } else { // softened toward gray
            const int32_t sum = r + g + b;
            o[0] = static_cast<uint8_t>((r + sum) / 4);
            o[1] = static_cast<uint8_t>((g + sum) / 4);
            o[2] = static_cast<uint8_t>((b + sum) / 4);
        }
    }
}

namespace {
// Line y from lYpos of an interleaved record.
uint8_t* LineAt(const tagTVKIMAGEINFO* img, int32_t y) {
    return TvkLinePtr(*img, int64_t{img->lYpos} + y);
}
} // namespace

void CTvkColorGap::TakeLine(const uint8_t* line, uint8_t* out) {
    if (m_lLines == 0) {
        FirstProcess(line);
        return;
    }
    const int32_t y = m_lLines % kRing;
    std::memcpy(Ring(y), line, m_lLineBytes);
    Search(y);
    ++m_lLines;
    if (m_lLines > kSearchSpan) SideCheck((y + kRing - kSearchSpan) % kRing);
    if (m_lLines > kColorGapDelay) Correct((y + kRing - kColorGapDelay) % kRing, out);
}

int32_t CTvkColorGap::Process(tagTVKIMAGEINFO* dst, const tagTVKIMAGEINFO* src, int32_t first,
                              int32_t dstStart) {
    int32_t written = 0;
    for (int32_t i = first; i < src->lHeight; ++i) {
        const bool due = m_lLines >= kColorGapDelay;
        TakeLine(LineAt(src, i), due ? LineAt(dst, dstStart + written) : nullptr);
        if (due) ++written;
    }
    return written;
}

int32_t CTvkColorGap::ProcessLast(tagTVKIMAGEINFO* dst, int32_t dstStart) {
    const int32_t n = m_lLines;
    if (n == 0) return 0;
    for (int32_t k = std::max(0, n - kSearchSpan); k < n; ++k) SideCheck(k % kRing);
    std::memset(Flags(n % kRing), 0, static_cast<size_t>(m_lWidth));
    m_bMarked[n % kRing] = 0;
    int32_t written = 0;
    for (int32_t k = std::max(0, n - kColorGapDelay); k < n; ++k)
        Correct(k % kRing, LineAt(dst, dstStart + written++));
    return written;
}

uint32_t CTvkColorGap::PageProcess(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src) {
    const bool same =
        dst->lpImage == src->lpImage && dst->lYpos == src->lYpos && dst->lSync == src->lSync;
    if (!same) {
        if (dst->lWidth != src->lWidth || dst->lHeight != src->lHeight) return kColorGapNoMemory;
        for (int32_t y = 0; y < src->lHeight; ++y)
            std::memmove(LineAt(dst, y), LineAt(src, y), m_lLineBytes);
    }
    // The page is corrected in its own lines: each is taken into the ring
    // before the line 13 above it is written back.
    const int32_t written = Process(dst, dst, 0, 0);
    ProcessLast(dst, written);
    return kColorGapOk;
}

// ---------------------------------------------------------------------------
// Exports

namespace {

using Workers = LiveObjects<CTvkColorGap>;

bool IsLiveWorker(const CTvkColorGap* w) {
    return Workers::Find(reinterpret_cast<uintptr_t>(w)) != nullptr;
}

void DestroyWorker(COLORGAPINFO* info) {
    CTvkColorGap* w = info->pColorGap;
    if (w != nullptr && Workers::Remove(w)) delete w;
    info->pColorGap = nullptr;
}

// 24-bit interleaved RGB whose lines hold `width` pixels.
bool IsRgb24(const tagTVKIMAGEINFO* img, int32_t width) {
    return img->lBps == 8 && img->lSpp == 3 && img->ulRGBOrder == 0 && img->lYpos >= 0 &&
           img->lHeight >= 0 && width >= 1 &&
           static_cast<int64_t>(img->lSync) >= static_cast<int64_t>(width) * 3 &&
           (img->lpImage == nullptr || TvkImageFits(img, kTvkRgb24 | kTvkFromYpos));
}

} // namespace

uint32_t ColorGapCorrect(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, COLORGAPINFO* info) {
    IpSetLastError(0);
    if (dst == nullptr || src == nullptr || info == nullptr || info->ulSize < kColorGapInfoSizeMin)
        return kColorGapBadParam;
    const bool last = info->bLastBand == 1;
    CTvkColorGap* worker = info->pColorGap;
    if (worker != nullptr && !IsLiveWorker(worker)) return kColorGapBadParam;

    // Both records interleaved RGB of the worker's width (a new worker takes
    // the source's).
    const int32_t width = worker != nullptr ? worker->Width() : src->lWidth;
    if (!IsRgb24(src, width) || src->lWidth != width || !IsRgb24(dst, width) ||
        (src->lHeight > 0 && src->lpImage == nullptr))
        return kColorGapBadParam;

    const bool created = worker == nullptr;
    if (created) {
        std::unique_ptr<CTvkColorGap> made(new (std::nothrow) CTvkColorGap);
        if (!made || made->Initialize(src, info) != kColorGapOk) return kColorGapNoMemory;
        info->lDelayLines = kColorGapDelay;
        if (last && src->lHeight >= 16 && made->m_bMode != 2 && made->m_bMode != 4) {
            if (dst->lpImage == nullptr) return kColorGapBadParam;
            const uint32_t r = made->PageProcess(dst, src);
            if (r == kColorGapOk) dst->lHeight = src->lHeight;
            return r;
        }
        if (!Workers::Add(made.get())) return kColorGapNoMemory;
        worker = made.release();
        info->pColorGap = worker;
    }

    // Every line this call is due to write must fit in the destination; a
    // call that does not fit takes nothing in, so it can be repeated.
    const int32_t due = worker->LinesDue(src->lHeight);
    const int32_t needed = due + (last ? worker->LinesFlushed(src->lHeight) : 0);
    if (dst->lHeight < needed || (needed > 0 && dst->lpImage == nullptr)) {
        if (created) DestroyWorker(info); // a refused first call leaves no worker behind
        return kColorGapBadParam;
    }
    int32_t written = worker->Process(dst, src, 0, 0);
    if (last) {
        written += worker->ProcessLast(dst, written);
        DestroyWorker(info);
    }
    dst->lHeight = written;
    return kColorGapOk;
}

void ReleaseColorGapHandle(COLORGAPINFO* info) {
    IpSetLastError(0);
    if (info == nullptr || info->ulSize < kColorGapInfoSizeMin) return;
    DestroyWorker(info);
}
