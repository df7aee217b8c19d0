// Byte-value histogram, its peaks, and the exported image histogram.
#include "CHist.h"

#include "ImageCheck.h"
#include "TvkIpError.h"

#include <cstring>
#include <new>

namespace {

// Four partial tables let consecutive equal bytes land in different
// counters, so a flat area does not serialise on one memory word.
void CountBytes(uint32_t* hist, const uint8_t* p, size_t n) {
    constexpr size_t kSplitFrom = 1024;
    if (n < kSplitFrom) {
        for (size_t i = 0; i < n; ++i) ++hist[p[i]];
        return;
    }
    uint32_t part[4][kHistBins] = {};
    size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        ++part[0][p[i]];
        ++part[1][p[i + 1]];
        ++part[2][p[i + 2]];
        ++part[3][p[i + 3]];
    }
    for (; i < n; ++i) ++part[0][p[i]];
    for (int v = 0; v < kHistBins; ++v)
        hist[v] += part[0][v] + part[1][v] + part[2][v] + part[3][v];
}

} // namespace

CHist::CHist(uint32_t* counts, uint32_t total) : m_dwTotal(total) {
    if (counts != nullptr) {
        m_pdwHist = counts;
    } else {
        m_pdwHist = new (std::nothrow) uint32_t[kHistBins]();
        m_bOwnBuffer = m_pdwHist != nullptr;
    }
}

CHist::~CHist() {
    if (m_bOwnBuffer) delete[] m_pdwHist;
}

void CHist::Init() {
    if (m_bOwnBuffer) std::memset(m_pdwHist, 0, sizeof(uint32_t) * kHistBins);
    m_bPeekDone = false;
}

void CHist::Add(const uint8_t* bytes, size_t n) {
    m_dwTotal += static_cast<uint32_t>(n);
    if (m_pdwHist == nullptr || bytes == nullptr) return;
    CountBytes(m_pdwHist, bytes, n);
    // New counts make cached peaks stale.
    m_bPeekDone = false;
}

void CHist::Add(const uint8_t* bytes, int32_t width, int32_t lines, int32_t step) {
    if (width <= 0 || lines <= 0) return;
    // Lines without padding are one run, which counts faster than short ones.
    if (step == width) {
        Add(bytes, static_cast<size_t>(width) * static_cast<size_t>(lines));
        return;
    }
    for (int32_t y = 0; y < lines; ++y) Add(bytes + int64_t{y} * step, static_cast<size_t>(width));
}

void CHist::Add(const tagTVKIMAGEINFO* image) {
    if (image == nullptr) return;
    Add(image->lpImage, image->lWidth, image->lHeight, image->lSync);
}

int CHist::GetColorNum() const {
    if (m_pdwHist == nullptr) return 0;
    int n = 0;
    for (int v = 0; v < kHistBins; ++v) n += m_pdwHist[v] != 0;
    return n;
}

void CHist::ComputePeeks() {
    double weighted = 0;
    double count = 0;
    if (m_pdwHist != nullptr) {
        for (int v = 0; v < kHistBins; ++v) {
            weighted += double(v) * m_pdwHist[v];
            count += m_pdwHist[v];
        }
    }
    const double mean = count > 0 ? weighted / count : 0.0;
    const int split = static_cast<int>(mean) + 1;

    auto peakOf = [this](int from, int to) {
        int best = from;
        if (m_pdwHist == nullptr) return best;
        for (int v = from + 1; v < to; ++v)
            if (m_pdwHist[v] > m_pdwHist[best]) best = v;
        return best;
    };
    m_lPeek1 = peakOf(0, split);
    // Every count at 255 leaves nothing above the split; the top value is
    // then the nearest peak that still names a byte value.
    m_lPeek2 = split < kHistBins ? peakOf(split, kHistBins) : kHistBins - 1;
    m_bPeekDone = true;
}

void CHist::GetPeek(int32_t* peek1, int32_t* peek2) {
    if (!m_bPeekDone) ComputePeeks();
    if (peek1 != nullptr) *peek1 = m_lPeek1;
    if (peek2 != nullptr) *peek2 = m_lPeek2;
}

int32_t CHist::Peek1() {
    GetPeek(nullptr, nullptr);
    return m_lPeek1;
}

int32_t CHist::Peek2() {
    GetPeek(nullptr, nullptr);
    return m_lPeek2;
}

uint32_t GetHistogram(tagTVKIMAGEINFO* image, tagHISTOGRAMINFO* info) {
    IpSetLastError(0);
    if (info == nullptr) return 0;
    // Bytes of 8-bit samples are counted; a record of another depth, or one
    // whose lines leave its buffer, adds nothing.
    const bool counted = image != nullptr && image->lpImage != nullptr &&
                         TvkImageFits(image, kTvkGray8 | kTvkRgb24Any);
    if (image != nullptr && !counted) IpSetLastError(kIpErrBadArgument);
    if (counted && image->lWidth > 0 && image->lHeight > 0) {
        CHist hist(info->hist);
        const int32_t w = image->lWidth;
        const int32_t h = image->lHeight;
        const int32_t sync = image->lSync;
        if (image->lSpp == 1) {
            hist.Add(image->lpImage, w, h, sync);
        } else if (image->lSpp == 3 && image->ulRGBOrder == 0) {
            // All three samples of every pixel, counted together.
            hist.Add(image->lpImage, 3 * w, h, sync);
        } else if (image->lSpp == 3) {
            // Planar: each line holds three sample rows of sync bytes.
            hist.Add(image->lpImage, w, 3 * h, sync);
        }
    }
    uint64_t sum = 0;
    for (int v = 0; v < kHistBins; ++v) sum += info->hist[v];
    info->count = static_cast<uint32_t>(sum);
    return info->count;
}
