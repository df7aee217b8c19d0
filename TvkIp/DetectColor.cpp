// Colour test: area-averaging reduction to a coarse copy, optional fringe
// cleaning, and counting of colour lines.
#include "DetectColor.h"
#include "ImageCheck.h"
#include "SpreadCountTable.h"
#include "TvkIpError.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <numbers>

void MakeSpreadCountTable(uint32_t* table, int32_t n, int32_t m) {
    if (table == nullptr || m <= 0) return;
    std::fill(table, table + m, 0u);
    if (n <= 0) return;
    if (n < m) {
        // Bresenham-like walk: an output unit completes each time the
        // accumulated n - 1 steps pass the next multiple of m - 1.
        const int64_t step = n - 1;
        const int64_t limit = int64_t{m - 1} - (n - 1);
        int64_t acc = 0;
        int64_t base = 0;
        for (int32_t i = 0; i < m; ++i) {
            acc += step;
            if (acc - base >= limit) {
                table[i] += 1;
                base += m - 1;
            }
        }
        if (2 * int64_t{n} <= m) table[m - 1] += 1;
    } else if (n > m) {
        const int64_t step = m - 1;
        const int64_t limit = int64_t{n - 1} - (m - 1);
        int64_t acc = 0;
        int64_t base = 0;
        int32_t j = 0;
        for (int32_t i = 0; i < n; ++i) {
            acc += step;
            table[j] += 1;
            if (acc - base >= limit) {
                base += n - 1;
                if (j < m - 1) ++j;
            }
        }
    } else {
        std::fill(table, table + m, 1u);
    }
}

namespace {

template <class T> std::unique_ptr<T[]> NewZeroed(size_t n) {
    return std::unique_ptr<T[]>(new (std::nothrow) T[n == 0 ? 1 : n]());
}

// ---------------------------------------------------------------------------
// Chroma tables: entry i is the smallest (largest - smallest channel) above
// which a pixel whose largest channel is i counts as colour.

struct Run {
    uint8_t value;
    uint16_t count;
};

template <size_t N>
constexpr std::array<uint8_t, 256> BuildChromaTable(int identityEnd, const Run (&runs)[N]) {
    std::array<uint8_t, 256> t{};
    int i = 0;
    for (; i < identityEnd; ++i) t[i] = static_cast<uint8_t>(i);
    for (const Run& r : runs)
        for (int k = 0; k < r.count; ++k) t[i++] = r.value;
    if (i != 256) throw "chroma table must have 256 entries";
    return t;
}

constexpr std::array<uint8_t, 256> g_threshold_table1 = BuildChromaTable(
    61, {{55, 1}, {49, 1},  {44, 1},  {40, 1},  {37, 1},  {35, 1},  {33, 1},  {31, 1}, {29, 1},
         {28, 1}, {27, 1},  {26, 1},  {25, 2},  {24, 1},  {23, 2},  {22, 3},  {21, 3}, {20, 4},
         {19, 8}, {18, 57}, {19, 22}, {20, 18}, {21, 18}, {22, 17}, {23, 16}, {24, 12}});

constexpr std::array<uint8_t, 256> g_threshold_table2 =
    BuildChromaTable(61, {{60, 1}, {54, 1},  {49, 1},  {45, 1},  {42, 1}, {40, 1}, {38, 1}, {36, 1},
                          {35, 1}, {34, 1},  {33, 1},  {32, 1},  {31, 2}, {30, 1}, {29, 3}, {28, 3},
                          {27, 7}, {26, 21}, {27, 14}, {28, 10}, {29, 9}, {30, 8}, {31, 9}, {32, 7},
                          {33, 8}, {34, 8},  {35, 7},  {36, 8},  {37, 7}, {38, 7}, {39, 7}, {40, 7},
                          {41, 8}, {42, 7},  {43, 7},  {44, 7},  {45, 1}});

constexpr std::array<uint8_t, 256> g_threshold_table3 = BuildChromaTable(
    63, {{57, 1}, {53, 1}, {51, 1}, {48, 1},  {47, 1}, {45, 1}, {44, 1}, {43, 1}, {42, 1},
         {41, 2}, {40, 2}, {39, 4}, {38, 16}, {39, 7}, {40, 6}, {41, 5}, {42, 5}, {43, 5},
         {44, 4}, {45, 4}, {46, 5}, {47, 4},  {48, 4}, {49, 4}, {50, 4}, {51, 4}, {52, 4},
         {53, 4}, {54, 4}, {55, 3}, {56, 4},  {57, 4}, {58, 4}, {59, 4}, {60, 3}, {61, 4},
         {62, 4}, {63, 4}, {64, 3}, {65, 4},  {66, 4}, {67, 4}, {68, 3}, {69, 4}, {70, 4},
         {71, 3}, {72, 4}, {73, 4}, {74, 3},  {75, 4}, {76, 4}, {77, 3}, {78, 2}});

inline bool IsColorPixel(const uint8_t* p, const uint8_t* table) {
    const int mx = std::max({p[0], p[1], p[2]});
    const int mn = std::min({p[0], p[1], p[2]});
    return mx - mn > table[mx];
}

// Pages the colour test reads: 8-bit RGB (of the layouts in `accept`) whose
// lines lie in their buffer and are at least as wide as the worker's page.
bool UsableBand(const tagTVKIMAGEINFO* band, int32_t width, uint32_t accept) {
    return band != nullptr && band->lpImage != nullptr && TvkImageFits(band, accept) &&
           band->lWidth >= width;
}

// One line of a line-sequential RGB page (three planes of `plane` bytes) as
// interleaved pixels, the form every filter of the colour test reads.
void InterleaveLine(uint8_t* out, const uint8_t* line, int64_t plane, int32_t width) {
    const uint8_t* r = line;
    const uint8_t* g = line + plane;
    const uint8_t* b = line + 2 * plane;
    for (int32_t x = 0; x < width; ++x) {
        out[3 * x] = r[x];
        out[3 * x + 1] = g[x];
        out[3 * x + 2] = b[x];
    }
}

// ---------------------------------------------------------------------------
// Line fringe filter: a window of 2n + 1 lines; a colour pixel of the middle
// line next to a dark pixel above or below is a fringe and takes the fill
// colour.

class CStoreLine {
public:
    virtual ~CStoreLine() = default;

    virtual bool option_init(int32_t halfWindow, uint8_t darkLevel, uint32_t fillColor,
                             const uint8_t* table, int32_t width, int32_t pageHeight) {
        int64_t n = halfWindow > 0 ? halfWindow : 2;
        // A window taller than the page never fills; keeping it at most the
        // page's height gives the same (empty) output without a huge window.
        n = std::min<int64_t>(n, std::max(pageHeight, 1));
        m_n = static_cast<int32_t>(n);
        m_k = 2 * m_n + 1;
        m_darkLevel = darkLevel != 0 ? darkLevel : 50;
        m_fill[0] = static_cast<uint8_t>(fillColor);
        m_fill[1] = static_cast<uint8_t>(fillColor >> 8);
        m_fill[2] = static_cast<uint8_t>(fillColor >> 16);
        m_table = table;
        m_lineBytes = static_cast<size_t>(width) * 3;
        m_out = NewZeroed<uint8_t>(m_lineBytes);
        m_ringStore = NewZeroed<uint8_t>(m_lineBytes * static_cast<size_t>(m_k));
        m_ring = NewZeroed<uint8_t*>(static_cast<size_t>(m_k));
        m_window = NewZeroed<uint8_t*>(static_cast<size_t>(m_k));
        m_inUse = NewZeroed<bool>(static_cast<size_t>(m_k));
        if (!m_out || !m_ringStore || !m_ring || !m_window || !m_inUse) return false;
        for (int32_t i = 0; i < m_k; ++i)
            m_ring[i] = m_ringStore.get() + static_cast<size_t>(i) * m_lineBytes;
        return true;
    }

    void SetBand(tagTVKIMAGEINFO* band) {
        m_band = band;
        m_read = 0;
    }

    // The next filtered line, or null when the band needs more lines.
    const uint8_t* Next() {
        while (m_count < m_k) {
            if (m_band == nullptr || m_read >= m_band->lHeight) return nullptr;
            uint8_t* line = TvkLinePtr(*m_band, m_read++);
            if (m_band->ulRGBOrder == 1) {
                // Planes are interleaved into a ring line of their own, so the
                // window only ever holds interleaved lines.
                uint8_t* slot = FreeRingLine();
                InterleaveLine(slot, line, m_band->lSync, static_cast<int32_t>(m_lineBytes / 3));
                line = slot;
            }
            if (!m_primed) {
                for (int32_t i = 0; i < m_n; ++i) m_window[m_count++] = line;
                m_primed = true;
            }
            m_window[m_count++] = line;
        }
        std::memcpy(m_out.get(), m_window[m_n], m_lineBytes);
        FilterLine(m_out.get(), m_window[0], m_window[m_k - 1]);
        for (int32_t i = 0; i + 1 < m_k; ++i) m_window[i] = m_window[i + 1];
        --m_count;
        return m_out.get();
    }

    // Lines of the band still in the window are carried in the ring so they
    // stay valid after the caller's band is gone.
    void EndBand() {
        bool* inUse = m_inUse.get();
        std::fill(inUse, inUse + m_k, false);
        for (int32_t i = 0; i < m_count; ++i)
            for (int32_t r = 0; r < m_k; ++r)
                if (m_window[i] == m_ring[r]) inUse[r] = true;
        for (int32_t i = 0; i < m_count; ++i) {
            bool inRing = false;
            for (int32_t r = 0; r < m_k && !inRing; ++r) inRing = m_window[i] == m_ring[r];
            if (inRing) continue;
            for (int32_t r = 0; r < m_k; ++r) {
                if (inUse[r]) continue;
                std::memcpy(m_ring[r], m_window[i], m_lineBytes);
                m_window[i] = m_ring[r];
                inUse[r] = true;
                break;
            }
        }
        m_band = nullptr;
    }

protected:
    // A ring line no window entry points at; the window holds fewer than
    // m_k lines whenever a line is read, so one is always free.
    uint8_t* FreeRingLine() {
        bool* inUse = m_inUse.get();
        std::fill(inUse, inUse + m_k, false);
        const uint8_t* store = m_ringStore.get();
        const uint8_t* storeEnd = store + m_lineBytes * static_cast<size_t>(m_k);
        for (int32_t i = 0; i < m_count; ++i) {
            const uint8_t* p = m_window[i];
            if (p >= store && p < storeEnd)
                inUse[static_cast<size_t>(p - store) / m_lineBytes] = true;
        }
        for (int32_t r = 0; r < m_k; ++r)
            if (!inUse[r]) return m_ring[r];
        return m_ring[0]; // not reached: at most m_k - 1 lines are in use
    }

    // One call a line; a kind with a step for each pixel pair of the middle
    // and the next line passes it to FilterLineWith, where it inlines.
    virtual void FilterLine(uint8_t* out, const uint8_t* prev, uint8_t* next) {
        FilterLineWith(out, prev, next, [](uint8_t*, uint8_t*) {});
    }

    template <class PairStep>
    void FilterLineWith(uint8_t* out, const uint8_t* prev, uint8_t* next, PairStep pairStep) {
        const size_t width = m_lineBytes / 3;
        for (size_t x = 0; x < width; ++x) {
            uint8_t* o = out + 3 * x;
            uint8_t* nx = next + 3 * x;
            pairStep(o, nx);
            if (!IsColorPixel(o, m_table)) continue;
            const uint8_t* pv = prev + 3 * x;
            const bool darkPrev = pv[0] < m_darkLevel && pv[1] < m_darkLevel && pv[2] < m_darkLevel;
            const bool darkNext = nx[0] < m_darkLevel && nx[1] < m_darkLevel && nx[2] < m_darkLevel;
            if (darkPrev || darkNext) std::memcpy(o, m_fill, 3);
        }
    }

    const uint8_t* m_table = nullptr;
    int32_t m_n = 2;
    int32_t m_k = 5;
    uint8_t m_darkLevel = 50;
    uint8_t m_fill[3] = {0, 0, 0};
    size_t m_lineBytes = 0;
    std::unique_ptr<uint8_t[]> m_out;
    tagTVKIMAGEINFO* m_band = nullptr;
    int32_t m_read = 0;
    bool m_primed = false;
    std::unique_ptr<uint8_t[]> m_ringStore;
    std::unique_ptr<uint8_t*[]> m_ring;
    std::unique_ptr<uint8_t*[]> m_window;
    std::unique_ptr<bool[]> m_inUse;
    int32_t m_count = 0;
};

// Adds the complementary-pair step: sensor misregistration leaves reddish
// and bluish twins on neighbouring lines; such a pair is pulled to gray.
class CStoreLine2 : public CStoreLine {
public:
    bool option_init(int32_t halfWindow, uint8_t darkLevel, uint32_t fillColor,
                     const uint8_t* table, int32_t width, int32_t pageHeight) override {
        if (!CStoreLine::option_init(halfWindow, darkLevel, fillColor, table, width, pageHeight))
            return false;
        m_classes = NewZeroed<uint8_t>(32768);
        if (!m_classes) return false;
        for (int w = 0; w < 32768; ++w) {
            const int r = ((w >> 10) & 31) * 8;
            const int g = ((w >> 5) & 31) * 8;
            const int b = (w & 31) * 8;
            uint8_t c = 0;
            if (b <= g && g <= r && r >= 33 && 102 * r / 1024 < r - b)
                c = 1;
            else if (r <= g && g <= b && b > 32 && 102 * b / 1024 < b - r)
                c = 2;
            m_classes[w] = c;
        }
        return true;
    }

protected:
    void FilterLine(uint8_t* out, const uint8_t* prev, uint8_t* next) override {
        FilterLineWith(out, prev, next, [this](uint8_t* a, uint8_t* b) { calc(a, b); });
    }

    void calc(uint8_t* a, uint8_t* b) {
        if (m_classes[Word(a)] + m_classes[Word(b)] != 3) return;
        Soften(a);
        Soften(b);
    }

    static int Word(const uint8_t* p) { return (p[0] >> 3) << 10 | (p[1] >> 3) << 5 | (p[2] >> 3); }
    static void Soften(uint8_t* p) {
        const int r = p[0], g = p[1], b = p[2];
        p[0] = static_cast<uint8_t>((2 * r + g + b) / 4);
        p[1] = static_cast<uint8_t>((2 * g + r + b) / 4);
        p[2] = static_cast<uint8_t>((2 * b + r + g) / 4);
    }

    std::unique_ptr<uint8_t[]> m_classes;
};

// ---------------------------------------------------------------------------
// Area-averaging reducer.

class CTvkResCon {
public:
    virtual ~CTvkResCon() = default;

    // Feeds the lines of one band while the copy has room.
    virtual void image(tagTVKIMAGEINFO* band) {
        if (band->ulRGBOrder == 1) {
            for (int32_t y = 0; y < band->lHeight && !Full(); ++y) {
                InterleaveLine(m_planeLine.get(), TvkLinePtr(*band, y), band->lSync, m_w);
                FeedLine(m_planeLine.get());
            }
            return;
        }
        for (int32_t y = 0; y < band->lHeight && !Full(); ++y)
            FeedLine(band->lpImage + static_cast<size_t>(y) * band->lSync);
    }

    virtual bool SetFringeFilter(int32_t, uint8_t, uint32_t, const uint8_t*) { return true; }

    int32_t Prepare(int32_t w, int32_t h, int64_t outW, int64_t outH, int32_t tx, int32_t ty) {
        if (w <= 0 || h <= 0 || outW <= 0 || outH <= 0 || outW > INT32_MAX / 3 || outH > INT32_MAX)
            return kDetectColorErrNoMemory;
        m_w = w;
        m_h = h;
        m_outW = static_cast<int32_t>(outW);
        m_outH = static_cast<int32_t>(outH);
        m_hTable = NewZeroed<uint32_t>(static_cast<size_t>(w));
        m_vTable = NewZeroed<uint32_t>(static_cast<size_t>(h));
        const size_t outBytes = static_cast<size_t>(m_outW) * 3 * static_cast<size_t>(m_outH);
        m_outBuf = NewZeroed<uint8_t>(outBytes);
        m_sum = NewZeroed<uint32_t>(static_cast<size_t>(m_outW) * 3);
        m_cnt = NewZeroed<uint32_t>(static_cast<size_t>(m_outW));
        m_planeLine = NewZeroed<uint8_t>(static_cast<size_t>(w) * 3);
        if (!m_hTable || !m_vTable || !m_outBuf || !m_sum || !m_cnt || !m_planeLine)
            return kDetectColorErrNoMemory;
        MakeSpreadCountTable(m_hTable.get(), m_outW, w);
        MakeSpreadCountTable(m_vTable.get(), m_outH, h);
        m_runStart = NewZeroed<int32_t>(static_cast<size_t>(m_outW) + 1);
        if (!m_runStart) return kDetectColorErrNoMemory;
        int32_t o = 0;
        for (int32_t x = 0; x < w && o < m_outW; ++x)
            if (m_hTable[x] != 0) m_runStart[++o] = x + 1;
        // Output pixels that no source pixel closes stay empty.
        for (int32_t k = o + 1; k <= m_outW; ++k) m_runStart[k] = m_runStart[o];
        m_outInfo = tagTVKIMAGEINFO{};
        m_outInfo.size = kTvkImageInfoSize;
        m_outInfo.lpImage = m_outBuf.get();
        m_outInfo.lWidth = m_outW;
        m_outInfo.lHeight = m_outH;
        m_outInfo.lSync = m_outW * 3;
        m_outInfo.tImageSize = static_cast<uint32_t>(std::min<size_t>(outBytes, UINT32_MAX));
        m_outInfo.lBps = 8;
        m_outInfo.lSpp = 3;
        m_outInfo.ulRGBOrder = 0;
        m_outInfo.lXResolution = tx;
        m_outInfo.lYResolution = ty;
        return 0;
    }

    int32_t Width() const { return m_w; }
    int32_t Height() const { return m_h; }
    int32_t LinesWritten() const { return m_outLine; }

    // Hands the reduced copy over; the reducer keeps no pixels afterwards.
    std::unique_ptr<uint8_t[]> TakeOutput(tagTVKIMAGEINFO* info) {
        *info = m_outInfo;
        m_outInfo.lpImage = nullptr;
        return std::move(m_outBuf);
    }

protected:
    bool Full() const { return m_outLine >= m_outH || m_vCursor >= m_h; }

    void FeedLine(const uint8_t* p) {
        uint32_t* sum = m_sum.get();
        uint32_t* cnt = m_cnt.get();
        // Each output pixel takes the source pixels up to and including the
        // one its spread entry closes it at.
        for (int32_t o = 0; o < m_outW; ++o) {
            const int32_t x0 = m_runStart[o], n = m_runStart[o + 1] - x0;
            const uint8_t* q = p + 3 * static_cast<size_t>(x0);
            uint32_t r = 0, g = 0, b = 0;
            for (int32_t i = 0; i < n; ++i, q += 3) {
                r += q[0];
                g += q[1];
                b += q[2];
            }
            sum[3 * o] += r;
            sum[3 * o + 1] += g;
            sum[3 * o + 2] += b;
            cnt[o] += static_cast<uint32_t>(n);
        }
        if (m_vTable[m_vCursor] != 0) {
            uint8_t* out = m_outBuf.get() + static_cast<size_t>(m_outLine) * m_outW * 3;
            for (int32_t o = 0; o < m_outW; ++o) {
                if (cnt[o] != 0) {
                    out[3 * o] = static_cast<uint8_t>(sum[3 * o] / cnt[o]);
                    out[3 * o + 1] = static_cast<uint8_t>(sum[3 * o + 1] / cnt[o]);
                    out[3 * o + 2] = static_cast<uint8_t>(sum[3 * o + 2] / cnt[o]);
                }
            }
            std::fill(sum, sum + 3 * static_cast<size_t>(m_outW), 0u);
            std::fill(cnt, cnt + m_outW, 0u);
            ++m_outLine;
        }
        ++m_vCursor;
    }

    int32_t m_w = 0, m_h = 0;
    int32_t m_outW = 0, m_outH = 0;
    std::unique_ptr<uint32_t[]> m_hTable, m_vTable;
    std::unique_ptr<int32_t[]> m_runStart; // first source pixel of each output pixel
    int32_t m_vCursor = 0;
    std::unique_ptr<uint8_t[]> m_outBuf;
    tagTVKIMAGEINFO m_outInfo{};
    int32_t m_outLine = 0;
    // 32-bit sums: a 16-bit sum would limit one output pixel to 128 source
    // pixels, far fewer than a 600 dpi page brings to a 75 dpi pixel.
    std::unique_ptr<uint32_t[]> m_sum, m_cnt;
    std::unique_ptr<uint8_t[]> m_planeLine; // a line of planes, interleaved
};

// Reducer fed through a line store (fringe filter).
template <class Store> class CTvkResConStored : public CTvkResCon {
public:
    bool SetFringeFilter(int32_t halfWindow, uint8_t dark, uint32_t fill,
                         const uint8_t* table) override {
        return m_store.option_init(halfWindow, dark, fill, table, m_w, m_h);
    }
    void image(tagTVKIMAGEINFO* band) override {
        m_store.SetBand(band);
        while (!Full()) {
            const uint8_t* line = m_store.Next();
            if (line == nullptr) break;
            FeedLine(line);
        }
        m_store.EndBand();
    }

private:
    Store m_store;
};
using CTvkResCon2 = CTvkResConStored<CStoreLine>;
using CTvkResCon3 = CTvkResConStored<CStoreLine2>;

// ---------------------------------------------------------------------------
// Halftone rainbow filter on the reduced copy: a hue that turns round more
// than once within a short run is a screen artefact, not colour.

class CHalftoneColorGapFilter {
public:
    static constexpr int kChromaFactor = 51;

    bool Run(tagTVKIMAGEINFO* img) {
        const int32_t w = img->lWidth;
        std::unique_ptr<State[]> cols(new (std::nothrow) State[static_cast<size_t>(w) + 1]);
        if (!cols) return false;
        for (int32_t y = 0; y < img->lHeight; ++y) {
            State row;
            uint8_t* line = img->lpImage + static_cast<size_t>(y) * img->lSync;
            for (int32_t x = 0; x < w; ++x) {
                uint8_t* p = line + 3 * x;
                const int mx = std::max({p[0], p[1], p[2]});
                const int mn = std::min({p[0], p[1], p[2]});
                if (mx - mn < kChromaFactor * mx / 1024) {
                    cols[x] = State{};
                    row = State{};
                    continue;
                }
                const int hue = Hue(p[0], p[1], p[2]);
                const int rowLen = Step(row, hue);
                if (rowLen > 0) std::memset(line + 3 * (x - rowLen + 1), 0, 3 * rowLen);
                const int colLen = Step(cols[x], hue);
                for (int k = 0; k < colLen; ++k) {
                    uint8_t* q = img->lpImage + static_cast<size_t>(y - k) * img->lSync + 3 * x;
                    q[0] = q[1] = q[2] = 0;
                }
            }
        }
        return true;
    }

private:
    struct State {
        int prev = -1; // previous hue, -1 after a neutral pixel
        int dir = 0;   // 0 none, 1 up, 2 down
        int len = 0;
        int turn = 0;
    };

    static int Hue(int r, int g, int b) {
        double a = std::atan2(std::sqrt(3.0) * (g - b), 2.0 * r - g - b);
        if (a < 0) a += 2.0 * std::numbers::pi;
        const int h = static_cast<int>(a * 128.0 / std::numbers::pi);
        return std::clamp(h, 0, 255);
    }

    // Returns the number of pixels (ending at the current one) to clear.
    static int Step(State& s, int hue) {
        if (s.prev < 0 || hue == s.prev) {
            s = State{hue, 0, 1, 0};
            return 0;
        }
        const int d = (hue - s.prev) & 255;
        const int size = d < 128 ? d : 256 - d;
        const int dir = d < 128 ? 1 : 2;
        s.prev = hue;
        if (s.dir != 0 && dir != s.dir) {
            s.dir = dir;
            s.len = 1;
            s.turn = 0;
            return 0;
        }
        s.dir = dir;
        s.len = std::min(s.len + 1, 16);
        s.turn += size;
        if (s.turn > 256) {
            const int n = s.len;
            s.len = 1;
            s.turn = 0;
            return n;
        }
        return 0;
    }
};

// ---------------------------------------------------------------------------

class CDetectColor {
public:
    virtual ~CDetectColor() = default;

    int32_t lLinesPerCount = 5;
    int32_t lPixelsPerRun = 2;
    int32_t lRunsPerLine = 1;
    int32_t lColorLineCount = 0;
    int32_t lMinColorLines = 2;
    uint8_t table[256];
    std::unique_ptr<uint8_t[]> copyBuf;
    tagTVKIMAGEINFO copy{};
    std::unique_ptr<CTvkResCon> reducer;

    // Settings from the request kept for the analysis.
    uint32_t size = 0;
    uint32_t options = 0;
    int32_t pageYResolution = 0;
    int32_t areaLength = 0;
    int32_t areaOffset = 0;

    CDetectColor() { std::memcpy(table, g_threshold_table2.data(), 256); }

    int32_t Create(tagDETECT_COLOR_INFO* req) {
        size = req->ulSize;
        pageYResolution = req->lYResolution;
        if (req->lXResolution <= 0 || req->lYResolution <= 0) return kDetectColorErrBadArgument;
        const bool withOptions = size >= kDetectColorInfoSizeOptions;
        options = withOptions ? req->ulOptions : 0;
        if (size >= kDetectColorInfoSizeFull) {
            areaLength = req->lAreaLength;
            areaOffset = req->lAreaOffset;
        }
        const bool fringe = (options & kDetectColorOptFringeFilter) != 0;
        if (!fringe)
            reducer.reset(new (std::nothrow) CTvkResCon);
        else if (options & kDetectColorOptComplementary)
            reducer.reset(new (std::nothrow) CTvkResCon3);
        else
            reducer.reset(new (std::nothrow) CTvkResCon2);
        if (!reducer) return kDetectColorErrNoMemory;

        int32_t tx = 75, ty = 75;
        if (withOptions) {
            int32_t t = 75;
            if (options & kDetectColorOptCoarse) {
                t = std::min(std::min(req->lXResolution, req->lYResolution) / 4, 75);
                if (t < 1) t = 75;
            }
            if (req->lReducedXResolution == 0) req->lReducedXResolution = t;
            if (req->lReducedYResolution == 0) req->lReducedYResolution = t;
            tx = req->lReducedXResolution;
            ty = req->lReducedYResolution;
        }
        const int64_t outW = int64_t{tx} * req->lWidth / req->lXResolution;
        const int64_t outH = int64_t{req->lHeight} * ty / req->lYResolution;
        if (int32_t rc = reducer->Prepare(req->lWidth, req->lHeight, outW, outH, tx, ty); rc != 0)
            return rc;
        if (withOptions && fringe &&
            !reducer->SetFringeFilter(req->lFilterHalfWindow, req->btDarkLevel, req->ulFillColor,
                                      table))
            return kDetectColorErrNoMemory;
        if (withOptions && ty < 75) lLinesPerCount = (ty * 5 + 74) / 75;

        switch (req->lThresholdMode) {
        case 1:
            lLinesPerCount = req->lLinesPerCount;
            lPixelsPerRun = req->lPixelsPerRun;
            lRunsPerLine = req->lRunsPerLine;
            std::memcpy(table, req->btThreshold, 256);
            lColorLineCount = 0;
            break;
        case 2: {
            const auto& t = req->lSensitivity == 1   ? g_threshold_table1
                            : req->lSensitivity == 3 ? g_threshold_table3
                                                     : g_threshold_table2;
            std::memcpy(table, t.data(), 256);
            lMinColorLines = req->lIntensity == 1 ? 2 : req->lIntensity == 3 ? 16 : 8;
            break;
        }
        case 3: {
            std::memcpy(table, req->btThreshold, 256);
            static constexpr int32_t byIntensity[8] = {2, 1, 2, 5, 8, 12, 16, 24};
            lMinColorLines =
                req->lIntensity >= 1 && req->lIntensity <= 7 ? byIntensity[req->lIntensity] : 2;
            break;
        }
        default:
            break;
        }
        return 0;
    }

    int32_t Feed(tagTVKIMAGEINFO* band) {
        if (!reducer) return kDetectColorErrNoReducer;
        if (!UsableBand(band, reducer->Width(), kTvkRgb24Any)) return kDetectColorErrBadArgument;
        reducer->image(band);
        return 0;
    }

    int32_t Analyse(tagDETECT_COLOR_INFO* req) {
        if (!reducer) return kDetectColorErrNoReducer;
        copyBuf = reducer->TakeOutput(&copy);
        if (!copyBuf) return kDetectColorErrNoMemory;
        if ((options & kDetectColorOptComplementary) && pageYResolution < 300) {
            CHalftoneColorGapFilter filter;
            if (!filter.Run(&copy)) return kDetectColorErrNoMemory;
        }
        int32_t from = 1, to = copy.lHeight;
        if (size >= kDetectColorInfoSizeFull && (options & kDetectColorOptArea) &&
            areaLength != 0) {
            const int64_t ry = copy.lYResolution;
            const int64_t m = ry * 5000 / 25400;
            int64_t f = m + ry * areaOffset / pageYResolution;
            int64_t t = ry * (int64_t{areaOffset} + areaLength) / pageYResolution - m;
            if (f >= copy.lHeight) f = 1;
            f = std::max<int64_t>(f, 1);
            t = std::min<int64_t>(t, copy.lHeight);
            from = static_cast<int32_t>(f);
            to = static_cast<int32_t>(std::max<int64_t>(t, 0));
        }
        Count(from, to, true);
        reducer.reset();
        const int32_t count = Count(from, to, false);
        lColorLineCount = count;
        req->lColorLineCount = count;
        req->bColor = count >= lMinColorLines ? 1 : 0;
        return 0;
    }

private:
    int32_t Count(int32_t from, int32_t to, bool mark) {
        int32_t count = 0;
        int32_t streak = 0;
        for (int32_t y = std::max(from, 1); y < to; ++y) {
            const uint8_t* cur = copy.lpImage + static_cast<size_t>(y) * copy.lSync;
            const uint8_t* above = cur - copy.lSync;
            int32_t run = 0, runs = 0;
            for (int32_t x = 0; x < copy.lWidth; ++x) {
                if (IsColorPixel(cur + 3 * x, table) && IsColorPixel(above + 3 * x, table)) {
                    if (++run >= lPixelsPerRun) {
                        ++runs;
                        run = 0;
                    }
                } else {
                    run = 0;
                }
            }
            if (runs < lRunsPerLine) {
                streak = 0;
                continue;
            }
            if (++streak < lLinesPerCount) continue;
            ++count;
            streak = 0;
            if (mark) {
                uint8_t* line = copy.lpImage + static_cast<size_t>(y) * copy.lSync;
                for (int32_t x = 0; x < copy.lWidth; x += 4) {
                    line[3 * x] = 255;
                    line[3 * x + 1] = 0;
                    line[3 * x + 2] = 0;
                }
            }
        }
        return count;
    }
};

bool AcceptedSize(uint32_t size) {
    return size == kDetectColorInfoSizeMinimal || size == kDetectColorInfoSizeBasic ||
           size == kDetectColorInfoSizeOptions || size == kDetectColorInfoSizeFull;
}

int32_t RunCommand(tagTVKIMAGEINFO* page, tagDETECT_COLOR_INFO* req) {
    auto* worker = static_cast<CDetectColor*>(req->pDetectColor);
    switch (req->lCommand) {
    case kDetectColorCreate: {
        // A worker left from an earlier, unfinished sequence is replaced.
        delete worker;
        req->pDetectColor = nullptr;
        std::unique_ptr<CDetectColor> made(new (std::nothrow) CDetectColor);
        if (!made) return kDetectColorErrNoMemory;
        if (int32_t rc = made->Create(req); rc != 0) return rc;
        req->pDetectColor = made.release();
        return 0;
    }
    case kDetectColorBand:
    case kDetectColorNextBand:
        if (page == nullptr || worker == nullptr) return kDetectColorErrBadArgument;
        return worker->Feed(page);
    case kDetectColorEnd:
        if (worker == nullptr) return kDetectColorErrBadArgument;
        if (page != nullptr)
            if (int32_t rc = worker->Feed(page); rc != 0) return rc;
        return worker->Analyse(req);
    case kDetectColorRelease:
        delete worker;
        req->pDetectColor = nullptr;
        return 0;
    case kDetectColorWholePage:
        if (page == nullptr || worker == nullptr) return kDetectColorErrBadArgument;
        if (int32_t rc = worker->Feed(page); rc != 0) return rc;
        return worker->Analyse(req);
    default:
        return kDetectColorErrBadArgument;
    }
}

} // namespace

int32_t IsColorImage(tagTVKIMAGEINFO* page, tagDETECT_COLOR_INFO* request) {
    IpSetLastError(0);
    if (request == nullptr) return kDetectColorErrNoRequest;
    if (!AcceptedSize(request->ulSize)) return kDetectColorErrBadArgument;
    int32_t rc = 0;
    try {
        rc = RunCommand(page, request);
    } catch (...) {
        rc = kDetectColorErrNoMemory;
    }
    if (rc != 0) {
        delete static_cast<CDetectColor*>(request->pDetectColor);
        request->pDetectColor = nullptr;
    }
    return rc;
}

int32_t ReviseColorGap(tagTVKIMAGEINFO* page) {
    IpSetLastError(0);
    if (page == nullptr || !UsableBand(page, page->lWidth, kTvkRgb24) || page->lWidth <= 0 ||
        page->lHeight <= 0)
        return kDetectColorErrNoRequest;
    CTvkResCon2 reducer;
    if (reducer.Prepare(page->lWidth, page->lHeight, page->lWidth, page->lHeight,
                        page->lXResolution, page->lYResolution) != 0 ||
        !reducer.SetFringeFilter(2, 50, 0, g_threshold_table2.data()))
        return kDetectColorErrNoMemory;
    reducer.image(page);
    tagTVKIMAGEINFO out{};
    std::unique_ptr<uint8_t[]> buf = reducer.TakeOutput(&out);
    // Only the lines the filter handed out are copied back: the last lines of
    // the page never leave the window and keep their own pixels.
    const int32_t lines = std::min(reducer.LinesWritten(), page->lHeight);
    const size_t bytes =
        std::min<size_t>(static_cast<size_t>(out.lSync), static_cast<size_t>(page->lSync));
    for (int32_t y = 0; y < lines; ++y)
        std::memcpy(page->lpImage + static_cast<size_t>(y) * page->lSync,
                    buf.get() + static_cast<size_t>(y) * out.lSync, bytes);
    return 0;
}
