// Binary noise filter over 3 x 3 neighbourhoods, streaming in bands.
#include "CBinFilter.h"

#include "ImageCheck.h"
#include "TvkIpError.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <new>

namespace {

// Neighbourhood index: bits 8-6 the line above (left, centre, right), bits
// 5-3 the current line, bits 2-0 the line below; a set bit is black.
constexpr unsigned Pattern(unsigned above, unsigned current, unsigned below) {
    return (above << 6) | (current << 3) | below;
}

struct PatternGroup {
    unsigned bit;
    unsigned patterns[4];
    int count;
};

constexpr PatternGroup kGroups[] = {
    {kBinFilterWhiteNotch,
     {Pattern(07, 05, 00), Pattern(03, 01, 03), Pattern(00, 05, 07), Pattern(06, 04, 06)},
     4},
    {kBinFilterBlackBump,
     {Pattern(00, 02, 07), Pattern(04, 06, 04), Pattern(07, 02, 00), Pattern(01, 03, 01)},
     4},
    {kBinFilterWhiteDot, {Pattern(07, 05, 07)}, 1},
    {kBinFilterBlackDot, {Pattern(00, 02, 00)}, 1},
    {kBinFilterGroup1,
     {Pattern(06, 07, 03), Pattern(03, 07, 06), Pattern(07, 02, 07), Pattern(05, 07, 05)},
     4},
    {kBinFilterGroup2,
     {Pattern(01, 00, 04), Pattern(04, 00, 01), Pattern(00, 05, 00), Pattern(02, 00, 02)},
     4},
};

constexpr unsigned kCentre = 0x010;
// The four neighbours that share an edge with the centre: above, left, right, below.
constexpr unsigned kEdgeNeighbours = 0x080 | 0x020 | 0x008 | 0x002;

// Patterns of each level by number of black neighbours (3 to 7); all
// patterns with up to two black neighbours belong to every level.
constexpr int kLevelCounts[7][5] = {
    {0, 0, 0, 0, 0},    {46, 35, 10, 0, 0},  {56, 58, 26, 3, 0},  {56, 70, 56, 3, 0},
    {56, 70, 56, 6, 0}, {56, 70, 56, 22, 4}, {56, 70, 56, 28, 8},
};

// Within one number of black neighbours, the patterns whose black neighbours
// touch the centre along fewer edges are the more exposed ones and join the
// lower levels first (ties by index). This keeps every level inside the next.
constexpr std::array<int, 512> MakeRanks() {
    std::array<int, 512> rank{};
    for (unsigned i = 0; i < 512; ++i) {
        if (!(i & kCentre)) continue;
        const int k = std::popcount(i & ~kCentre);
        const int e = std::popcount(i & kEdgeNeighbours);
        int r = 0;
        for (unsigned j = 0; j < 512; ++j) {
            if (!(j & kCentre) || std::popcount(j & ~kCentre) != k) continue;
            const int ej = std::popcount(j & kEdgeNeighbours);
            if (ej < e || (ej == e && j < i)) ++r;
        }
        rank[i] = r;
    }
    return rank;
}
constexpr std::array<int, 512> kRank = MakeRanks();

// 10-bit window of a byte: its left neighbour bit, the byte, its right
// neighbour bit.
inline unsigned Window(uint8_t left, uint8_t mid, uint8_t right) {
    return (static_cast<unsigned>(left & 1) << 9) | (static_cast<unsigned>(mid) << 1) |
           (static_cast<unsigned>(right) >> 7);
}

// Neighbourhood index of the pixel `sh` bits above the least significant
// pixel bit of the three windows.
inline unsigned PatternIndex(unsigned wa, unsigned wc, unsigned wb, int sh) {
    return Pattern((wa >> sh) & 7, (wc >> sh) & 7, (wb >> sh) & 7);
}

// Flip mask of the eight pixels of a byte.
inline uint8_t Flips(const uint8_t* table, unsigned wa, unsigned wc, unsigned wb) {
    if ((wa | wc | wb) == 0 && !table[0]) return 0;
    if ((wa & wc & wb) == 0x3FF && !table[511]) return 0;
    unsigned f = 0;
    for (int k = 0; k < 8; ++k) f = (f << 1) | table[PatternIndex(wa, wc, wb, 7 - k)];
    return static_cast<uint8_t>(f);
}

constexpr uint8_t kLastByteMask[8] = {0xFE, 0x00, 0x80, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};

} // namespace

// ---------------------------------------------------------------------------
// CBinFilter

CBinFilter::CBinFilter(unsigned int mode) {
    SetMode(mode);
}

CBinFilter::~CBinFilter() {
    delete[] m_pBuff;
}

void CBinFilter::InitMode() {
    std::memset(m_byTable, 0, sizeof m_byTable);
}

void CBinFilter::SetMode(unsigned int mode) {
    m_uMode = mode;
    m_ulMode = mode;
    InitMode();
    for (const PatternGroup& g : kGroups)
        if (mode & g.bit)
            for (int i = 0; i < g.count; ++i) m_byTable[g.patterns[i]] = 1;
}

bool CBinFilter::IsPattern(const uint8_t* table, unsigned above, unsigned current, unsigned below,
                           int bit) {
    return table[PatternIndex(above, current, below, 7 - bit)] != 0;
}

bool CBinFilter::AllocLineBuff(int32_t lineSize) {
    if (lineSize <= 0) lineSize = 1;
    if (m_pBuff != nullptr && lineSize <= m_lBuffSize / 3) return true;
    // Grow, keeping both lines (ReNew). The third line takes a finished line
    // that the destination has no room for.
    uint8_t* buf = new (std::nothrow) uint8_t[3 * static_cast<size_t>(lineSize)]();
    if (buf == nullptr) return false;
    if (m_pBuff != nullptr) {
        const size_t old = static_cast<size_t>(m_lBuffSize / 3);
        std::memcpy(buf, m_pPrev, old);
        std::memcpy(buf + lineSize, m_pCur, old);
        delete[] m_pBuff;
    }
    m_pBuff = buf;
    m_lBuffSize = 3 * lineSize;
    m_pPrev = buf;
    m_pCur = buf + lineSize;
    m_pSpare = buf + 2 * static_cast<size_t>(lineSize);
    return true;
}

namespace {
// Lines the record's buffer holds, when it gives its size.
int32_t Capacity(const tagTVKIMAGEINFO* dst) {
    if (dst == nullptr || dst->tImageSize == 0 || dst->lSync <= 0) return INT32_MAX;
    return static_cast<int32_t>(
        std::min<uint64_t>(dst->tImageSize / static_cast<uint32_t>(dst->lSync), INT32_MAX));
}
} // namespace

uint8_t* CBinFilter::NextDstLine() {
    if (m_lProduced < m_lDstCapacity) return m_pDst + int64_t{m_lProduced} * m_lDstSync;
    // No room: the line is lost rather than written past the buffer.
    IpSetLastError(kIpErrBadArgument);
    return nullptr;
}

int CBinFilter::Start(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, void* info) {
    SetFinishDst(dst); // the band's destination, taken as a finish takes it
    m_pSrc = src != nullptr ? src->lpImage : nullptr;
    m_lSrcSync = src != nullptr ? src->lSync : m_lSrcSync;
    m_lSrcLeft = src != nullptr && src->lpImage != nullptr ? std::max(src->lHeight, 0) : 0;
    if (info != nullptr) {
        const auto* r = static_cast<const tagBINFILTERINFO*>(info);
        m_ulSize = r->size;
        m_ulLines = r->lines;
        m_pHandle = r->handle;
        m_pHandle2 = r->handle2;
    }
    if (!m_bFailed && !AllocLineBuff(std::max(m_lSrcSync, m_lDstSync))) {
        IpSetLastError(kIpErrNoMemory);
        m_bFailed = true;
    }
    if (m_pDst == nullptr && m_lSrcLeft > 0) {
        // Nowhere to put the lines: they are dropped and the call reports it.
        IpSetLastError(kIpErrBadArgument);
        m_lSrcLeft = 0;
    }
    return m_bFailed ? 0 : 1;
}

void CBinFilter::SetFinishDst(tagTVKIMAGEINFO* dst) {
    m_pDst = dst != nullptr ? dst->lpImage : nullptr;
    m_lDstSync = dst != nullptr ? dst->lSync : 0;
    m_lDstCapacity = Capacity(dst);
    m_lProduced = 0;
}

void CBinFilter::FilterCurrent(const uint8_t* next, uint8_t* dstLine) {
    // Flips go into the current line itself, so the next line sees the
    // filtered line above it; within the line the neighbours are the
    // unfiltered pixels.
    const int32_t n = m_lSrcSync;
    const uint8_t out = Outside();
    uint8_t leftOrig = out;
    for (int32_t i = 0; i < n; ++i) {
        const uint8_t c = m_pCur[i];
        const bool hasRight = i + 1 < n;
        const unsigned wa =
            Window(i > 0 ? m_pPrev[i - 1] : out, m_pPrev[i], hasRight ? m_pPrev[i + 1] : out);
        const unsigned wc = Window(leftOrig, c, hasRight ? m_pCur[i + 1] : out);
        const unsigned wb =
            Window(i > 0 ? next[i - 1] : out, next[i], hasRight ? next[i + 1] : out);
        m_pCur[i] = static_cast<uint8_t>(c ^ Flips(m_byTable, wa, wc, wb));
        leftOrig = c;
    }
    std::memcpy(dstLine, m_pCur, CopyBytes());
}

void CBinFilter::PassLine(const uint8_t* line) {
    if (uint8_t* dstLine = NextDstLine()) {
        std::memcpy(dstLine, line, CopyBytes());
        ++m_lProduced;
    }
}

void CBinFilter::Line() {
    if (m_lSrcLeft <= 0) return;
    const uint8_t* s = m_pSrc;
    if (m_bFailed) {
        PassLine(s);
    } else if (!m_bHavePrev) {
        // The image's first line passes unchanged.
        PassLine(s);
        std::memcpy(m_pPrev, s, static_cast<size_t>(m_lSrcSync));
        m_bHavePrev = true;
    } else if (!m_bHaveCur) {
        std::memcpy(m_pCur, s, static_cast<size_t>(m_lSrcSync));
        m_bHaveCur = true;
    } else {
        uint8_t* dstLine = NextDstLine();
        FilterCurrent(s, dstLine != nullptr ? dstLine : m_pSpare);
        if (dstLine != nullptr) ++m_lProduced;
        std::swap(m_pPrev, m_pCur);
        std::memcpy(m_pCur, s, static_cast<size_t>(m_lSrcSync));
    }
    m_pSrc += m_lSrcSync;
    --m_lSrcLeft;
}

void CBinFilter::Rect() {
    while (m_lSrcLeft > 0) Line();
}

void CBinFilter::Finish() {
    // The image's last line is written as it stands.
    if (!m_bFailed && m_bHaveCur && m_pDst == nullptr) IpSetLastError(kIpErrBadArgument);
    if (!m_bFailed && m_bHaveCur && m_pDst != nullptr) PassLine(m_pCur);
    m_bHavePrev = m_bHaveCur = false;
    delete[] m_pBuff;
    m_pBuff = m_pCur = m_pPrev = m_pSpare = nullptr;
    m_lBuffSize = 0;
}

// ---------------------------------------------------------------------------
// CBinFilter2

int CBinFilter2::PatternCount(unsigned int level) {
    if (level < 1 || level > 6) return 0;
    int n = 0;
    for (unsigned i = 0; i < 512; ++i) n += InLevel(level, i);
    return n;
}

bool CBinFilter2::InLevel(unsigned int level, unsigned int index) {
    if (level < 1 || level > 6 || index >= 512 || !(index & kCentre)) return false;
    const int k = std::popcount(index & ~kCentre);
    if (k <= 2) return true;
    if (k == 8) return false;
    return kRank[index] < kLevelCounts[level][k - 3];
}

CBinFilter2::CBinFilter2(unsigned int mode) : CBinFilter(0) {
    m_uMode = mode;
    m_ulMode = mode;
    InitMode();
    const unsigned level = mode & kBinFilterLevelMask;
    const bool thin = (mode & kBinFilterLevelThin) != 0;
    for (unsigned i = 0; i < 512; ++i)
        if (InLevel(level, i)) m_byTable[thin ? i : (~i & 0x1FF)] = 1;
}

int CBinFilter2::Start(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, void* info) {
    if (src != nullptr) {
        m_lWidth = src->lWidth;
        m_lWidthMod8 = src->lWidth & 7;
    }
    return CBinFilter::Start(dst, src, info);
}

void CBinFilter2::FilterCurrent(const uint8_t* next, uint8_t* dstLine) {
    // Flips go into the destination copy; the current line stays as read.
    const int32_t copy = std::min(m_lSrcSync, m_lDstSync);
    std::memcpy(dstLine, m_pCur, static_cast<size_t>(copy));
    const int32_t n = std::min((m_lWidth + 7) / 8, copy);
    const uint8_t out = Outside();
    for (int32_t i = 0; i < n; ++i) {
        const bool hasRight = i + 1 < n;
        const unsigned wa =
            Window(i > 0 ? m_pPrev[i - 1] : out, m_pPrev[i], hasRight ? m_pPrev[i + 1] : out);
        const unsigned wc =
            Window(i > 0 ? m_pCur[i - 1] : out, m_pCur[i], hasRight ? m_pCur[i + 1] : out);
        const unsigned wb =
            Window(i > 0 ? next[i - 1] : out, next[i], hasRight ? next[i + 1] : out);
        uint8_t f = Flips(m_byTable, wa, wc, wb);
        // The last pixel of the line and the bits beyond the width never change.
        if (i == n - 1) f &= kLastByteMask[m_lWidthMod8];
        dstLine[i] ^= f;
    }
}

// ---------------------------------------------------------------------------
// Exports

namespace {

CBinFilter* First(tagBINFILTERINFO* info) {
    return static_cast<CBinFilter*>(info->handle);
}
CBinFilter* Second(tagBINFILTERINFO* info) {
    return static_cast<CBinFilter*>(info->handle2);
}

void Release(tagBINFILTERINFO* info) {
    delete First(info);
    delete Second(info);
    info->handle = nullptr;
    info->handle2 = nullptr;
}

// The lines of an image from `first` on. When the record gives its buffer
// size, the rest keeps what is left of it, and a buffer with no room left
// becomes a record without buffer (nothing is written to it).
tagTVKIMAGEINFO LinesFrom(const tagTVKIMAGEINFO& image, int32_t first) {
    tagTVKIMAGEINFO r = image;
    const int64_t used = int64_t{first} * image.lSync;
    r.lpImage = image.lpImage != nullptr ? image.lpImage + used : nullptr;
    r.lHeight = std::max(image.lHeight - first, 0);
    r.tImageSize = 0;
    if (image.tImageSize != 0) {
        const int64_t left = int64_t{image.tImageSize} - used;
        if (left > 0)
            r.tImageSize = static_cast<uint32_t>(left);
        else
            r.lpImage = nullptr;
    }
    return r;
}

int32_t RunStage(CBinFilter* f, tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src,
                 tagBINFILTERINFO* info) {
    f->Start(dst, src, info);
    f->Rect();
    return f->Produced();
}

// One band through the stages; returns the lines written to dst, or -1.
int32_t Feed(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagBINFILTERINFO* info) {
    CBinFilter* f1 = First(info);
    CBinFilter* f2 = Second(info);
    if (src == nullptr) return 0;
    if (f1 == nullptr) return std::max(src->lHeight, 0); // no filter bit: count only
    if (dst == nullptr) return -1;
    if (f2 == nullptr) return RunStage(f1, dst, src, info);
    // Two stages: the first writes into a copy that feeds the second.
    const int32_t lines = std::max(src->lHeight, 0);
    std::unique_ptr<uint8_t[]> temp(
        new (std::nothrow)
            uint8_t[std::max<size_t>(1, static_cast<size_t>(lines) * std::max(src->lSync, 1))]);
    if (!temp) {
        IpSetLastError(kIpErrNoMemory);
        return -1;
    }
    tagTVKIMAGEINFO mid = *src;
    mid.lpImage = temp.get();
    const int32_t p1 = RunStage(f1, &mid, src, info);
    mid.lHeight = p1;
    mid.tImageSize = static_cast<uint32_t>(int64_t{p1} * mid.lSync);
    return RunStage(f2, dst, &mid, info);
}

// The delayed lines of every stage; returns the lines written to dst.
int32_t Drain(tagTVKIMAGEINFO* dst, tagBINFILTERINFO* info) {
    CBinFilter* f1 = First(info);
    CBinFilter* f2 = Second(info);
    if (f1 == nullptr) return 0;
    if (f2 == nullptr) {
        f1->SetFinishDst(dst);
        f1->Finish();
        return f1->Produced();
    }
    const int32_t sync = dst != nullptr ? std::max(dst->lSync, 1) : 1;
    std::unique_ptr<uint8_t[]> line(new (std::nothrow) uint8_t[static_cast<size_t>(sync) * 4]());
    int32_t produced = 0;
    if (line) {
        tagTVKIMAGEINFO mid = dst != nullptr ? *dst : tagTVKIMAGEINFO{};
        mid.lpImage = line.get();
        mid.lSync = sync;
        mid.lHeight = 1;
        f1->SetFinishDst(&mid);
        f1->Finish();
        mid.lHeight = f1->Produced();
        if (mid.lHeight > 0 && dst != nullptr) produced += RunStage(f2, dst, &mid, info);
    } else {
        IpSetLastError(kIpErrNoMemory);
        f1->SetFinishDst(nullptr);
        f1->Finish();
    }
    tagTVKIMAGEINFO rest = dst != nullptr ? LinesFrom(*dst, produced) : tagTVKIMAGEINFO{};
    f2->SetFinishDst(dst != nullptr ? &rest : nullptr);
    f2->Finish();
    return produced + f2->Produced();
}

// A band through the stages with the counts written back: 1, or -1.
// A 1-bit source band whose lines lie in its buffer, or none.
bool UsableBand(const tagTVKIMAGEINFO* src) {
    if (src == nullptr || src->lpImage == nullptr || TvkImageFits(src, kTvkBits1)) return true;
    IpSetLastError(kIpErrBadArgument);
    return false;
}

int32_t FeedBand(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagBINFILTERINFO* info) {
    if (!UsableBand(src)) return -1;
    const int32_t n = Feed(dst, src, info);
    if (n < 0) return -1;
    if (dst != nullptr) dst->lHeight = n;
    info->lines += static_cast<uint32_t>(n);
    return 1;
}

int32_t StartImpl(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagBINFILTERINFO* info) {
    Release(info); // an earlier sequence that was never ended
    info->lines = 0;
    const unsigned mode = info->mode;
    if (mode & kBinFilterLevelMode) {
        if (!CBinFilter2::ValidLevel(mode)) {
            IpSetLastError(kIpErrBadArgument);
            return -1;
        }
        info->handle = new (std::nothrow) CBinFilter2(mode);
        if (info->handle == nullptr) {
            IpSetLastError(kIpErrNoMemory);
            return -1;
        }
    } else if ((mode & kBinFilterGroupBits) && (mode & kBinFilterSingleBits)) {
        info->handle = new (std::nothrow) CBinFilter(mode & kBinFilterSingleBits);
        info->handle2 = new (std::nothrow) CBinFilter(mode & kBinFilterGroupBits);
        if (info->handle == nullptr || info->handle2 == nullptr) {
            Release(info);
            IpSetLastError(kIpErrNoMemory);
            return -1;
        }
    } else if (mode & (kBinFilterGroupBits | kBinFilterSingleBits)) {
        info->handle = new (std::nothrow) CBinFilter(mode);
        if (info->handle == nullptr) {
            IpSetLastError(kIpErrNoMemory);
            return -1;
        }
    }
    return FeedBand(dst, src, info);
}

int32_t EndImpl(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagBINFILTERINFO* info) {
    if (!UsableBand(src)) return -1;
    int32_t n = 0;
    if (src != nullptr) {
        n = Feed(dst, src, info);
        if (n < 0) n = 0;
    }
    tagTVKIMAGEINFO rest = dst != nullptr ? LinesFrom(*dst, n) : tagTVKIMAGEINFO{};
    n += Drain(dst != nullptr ? &rest : nullptr, info);
    if (dst != nullptr) dst->lHeight = n;
    info->lines += static_cast<uint32_t>(n);
    Release(info);
    return 1;
}

} // namespace

int32_t BinFilterStart(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagBINFILTERINFO* info) {
    IpSetLastError(0);
    if (info == nullptr) return -1;
    return StartImpl(dst, src, info);
}

int32_t BinFilterCont(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagBINFILTERINFO* info) {
    IpSetLastError(0);
    if (info == nullptr) return -1;
    return FeedBand(dst, src, info);
}

int32_t BinFilterEnd(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagBINFILTERINFO* info) {
    IpSetLastError(0);
    if (info == nullptr) return -1;
    return EndImpl(dst, src, info);
}

int32_t BinFilter(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagBINFILTERINFO* info) {
    IpSetLastError(0);
    if (info == nullptr || dst == nullptr || src == nullptr) return -1;
    // Every source line comes out: the destination must hold them all.
    if (dst->lHeight < src->lHeight) {
        IpSetLastError(kIpErrBadArgument);
        return -1;
    }
    const int32_t height = dst->lHeight;
    tagTVKIMAGEINFO first = *dst;
    if (StartImpl(&first, src, info) < 0) {
        Release(info);
        return -1;
    }
    tagTVKIMAGEINFO rest = LinesFrom(*dst, first.lHeight);
    rest.lHeight = height - first.lHeight;
    EndImpl(&rest, nullptr, info);
    dst->lHeight = first.lHeight + rest.lHeight;
    return 0;
}

void ReleaseBinFilterHandle(tagBINFILTERINFO* info) {
    IpSetLastError(0);
    if (info == nullptr) return;
    Release(info);
}
