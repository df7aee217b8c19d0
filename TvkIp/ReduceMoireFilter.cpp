// Moire reduction: symmetric low-pass masks applied only at the pixels and
// lines that a resolution reduction keeps.
#include "ReduceMoireFilter.h"
#include "ImageCheck.h"
#include "ReduceMoireKernels.h"
#include "SpreadCountTable.h"
#include "TvkIpError.h"
#include "VectorTarget.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>

namespace {

template <class T> std::unique_ptr<T[]> NewArray(size_t n) {
    return std::unique_ptr<T[]>(new (std::nothrow) T[n == 0 ? 1 : n]());
}

// ---------------------------------------------------------------------------
// Masks.

struct BuiltInMask {
    int32_t source, target;
    int32_t count;
    int16_t coef[9];
    int32_t scale;
};

constexpr BuiltInMask g_tbl[] = {
    {600, 100, 9, {8, 11, 15, 18, 21, 18, 15, 11, 8}, 131},
    {600, 150, 7, {8, 17, 25, 28, 25, 17, 8}, 128},
    {600, 200, 5, {15, 30, 37, 30, 15}, 129},
    {600, 240, 5, {15, 30, 37, 30, 15}, 129},
    {600, 300, 3, {32, 64, 32}, 128},
    {300, 100, 9, {-4, 15, 35, 53, 59, 53, 35, 15, -4}, 64},
    {300, 150, 7, {-15, 22, 73, 96, 73, 22, -15}, 64},
    {300, 200, 5, {31, 61, 73, 61, 31}, 64},
    {300, 240, 5, {31, 61, 73, 61, 31}, 64},
};

int getIndex(int32_t target, int32_t source) {
    for (int i = 0; i < static_cast<int>(std::size(g_tbl)); ++i)
        if (g_tbl[i].target == target && g_tbl[i].source == source) return i;
    return -1;
}

struct Mask {
    std::unique_ptr<int16_t[]> coef16;
    int32_t count = 0;
    int32_t half = 0;
    int32_t scale = 0;
    // A caller's mask may be large enough for sums beyond 32 bits; such a
    // mask is computed in 64 bits.
    bool wide = false;
    bool sse2Exact = false;
};

int32_t TakeMask(const tagREDUCEMOIREFILTERINFO* req, int32_t target, int32_t source, Mask& m) {
    const int16_t* coef = nullptr;
    if (req->lMaskMode == kReduceMoireCallerMask) {
        if (req->pMask == nullptr || req->lMaskCount <= 0 || (req->lMaskCount & 1) == 0)
            return kReduceMoireErrParam;
        coef = req->pMask;
        m.count = req->lMaskCount;
        m.scale = req->lMaskScale;
    } else {
        const int i = getIndex(target, source);
        if (i < 0) return kReduceMoireErrParam;
        coef = g_tbl[i].coef;
        m.count = g_tbl[i].count;
        m.scale = g_tbl[i].scale;
    }
    m.half = m.count / 2;
    m.coef16 = NewArray<int16_t>(static_cast<size_t>(m.count));
    if (!m.coef16) return kReduceMoireErrNoMemory;
    __int128 bound = 0;
    for (int32_t k = 0; k < m.count; ++k) {
        m.coef16[k] = coef[k];
        bound += coef[k] < 0 ? -coef[k] : coef[k];
    }
    bound *= 255;
    bound *= m.scale < 0 ? -__int128{m.scale} : __int128{m.scale};
    if (bound > INT64_MAX) return kReduceMoireErrParam;
    m.wide = bound > INT32_MAX;
    m.sse2Exact = MOIRE_KERNEL::SSE2Exact(m.coef16.get(), m.count, m.scale);
    return 0;
}

inline uint8_t Clamp255(int64_t v) {
    return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

// ---------------------------------------------------------------------------
// Kernel choice, at each call: 64-bit sums for masks that need them, SSE2
// where the processor has it and it is exact for the mask, else portable.

void MaskLine(const uint8_t* const* rows, int32_t bytes, const Mask& m, int64_t* sums,
              uint8_t* out);
void MaskH(const uint8_t* pad, int32_t width, const int32_t* xs, int32_t outW, int32_t spp,
           const Mask& m, uint8_t* tmp, uint8_t* out);

// ---------------------------------------------------------------------------
// Kernels of masks whose sums need 64 bits (caller's masks only).

void WideMaskH(const uint8_t* pad, const int32_t* xs, int32_t outW, int32_t spp, const Mask& m,
               uint8_t* __restrict out) {
    for (int32_t o = 0; o < outW; ++o) {
        const uint8_t* p = pad + static_cast<size_t>(xs[o]) * spp;
        for (int32_t s = 0; s < spp; ++s) {
            int64_t sum = 0;
            for (int32_t k = 0; k < m.count; ++k) sum += int64_t{m.coef16[k]} * p[k * spp + s];
            out[o * spp + s] = Clamp255(sum * m.scale / 16384);
        }
    }
}

void WideMaskLine(const uint8_t* const* rows, int32_t bytes, const Mask& m, int64_t* sums,
                  uint8_t* __restrict out) {
    for (int32_t i = 0; i < bytes; ++i) sums[i] = int64_t{m.coef16[0]} * rows[0][i];
    for (int32_t k = 1; k < m.count; ++k) {
        const int64_t c = m.coef16[k];
        const uint8_t* r = rows[k];
        for (int32_t i = 0; i < bytes; ++i) sums[i] += c * r[i];
    }
    for (int32_t i = 0; i < bytes; ++i) out[i] = Clamp255(sums[i] * m.scale / 16384);
}

void MaskLine(const uint8_t* const* rows, int32_t bytes, const Mask& m, int64_t* sums,
              uint8_t* out) {
    if (m.wide) return WideMaskLine(rows, bytes, m, sums, out);
    if (m.sse2Exact && IsSSE2FeatureAvailable())
        return MOIRE_KERNEL::SSE2MaskLine(rows, m.count, m.coef16.get(), m.scale, bytes, out);
    MOIRE_KERNEL::IntegrityMaskLine(rows, m.count, m.coef16.get(), m.scale, bytes, out);
}

void MaskH(const uint8_t* pad, int32_t width, const int32_t* xs, int32_t outW, int32_t spp,
           const Mask& m, uint8_t* tmp, uint8_t* out) {
    if (m.wide) return WideMaskH(pad, xs, outW, spp, m, out);
    if (m.sse2Exact && IsSSE2FeatureAvailable())
        return MOIRE_KERNEL::SSE2MaskH(pad, width, xs, outW, spp, m.coef16.get(), m.count, m.scale,
                                       tmp, out);
    MOIRE_KERNEL::IntegrityMaskH(pad, xs, outW, spp, m.coef16.get(), m.count, m.scale, out);
}

// ---------------------------------------------------------------------------
// Vertical window: a ring of source lines. The centre line c needs lines
// c - half .. c + half; the page's first line stands in above the page and
// the last line entered below it. Output for a centre is due `lag` lines
// after it entered.

class CVWindow {
public:
    bool Init(const Mask& m, int32_t lineBytes, int32_t lag) {
        m_mask = &m;
        m_lineBytes = lineBytes;
        m_lag = lag;
        m_slots = lag + m.half + 1;
        m_store = NewArray<uint8_t>(static_cast<size_t>(m_slots) * lineBytes);
        m_rows = NewArray<const uint8_t*>(static_cast<size_t>(m.count));
        if (m.wide) m_sums64 = NewArray<int64_t>(static_cast<size_t>(lineBytes));
        return m_store && m_rows && (!m.wide || m_sums64);
    }

    void Enter(const uint8_t* line) { WindowCopy(Fill(), line, m_lineBytes); }
    // The slot of the next line, entered at once: the caller fills it.
    uint8_t* Fill() { return Slot(m_entered++); }
    bool Due() const { return m_entered > 0 && m_centre + m_lag <= m_entered - 1; }
    bool AnyEntered() const { return m_entered > 0; }
    int64_t Centre() const { return m_centre; }
    int64_t Entered() const { return m_entered; }
    void Advance() { ++m_centre; }

    // The lines of the window centred on the current centre, top to bottom.
    const uint8_t* const* Rows() {
        const Mask& m = *m_mask;
        for (int32_t k = 0; k < m.count; ++k) {
            const int64_t idx = std::clamp<int64_t>(m_centre - m.half + k, 0, m_entered - 1);
            m_rows[k] = Slot(idx);
        }
        return m_rows.get();
    }

    // Filters the window centred on the current centre into out.
    void Filter(uint8_t* out) { MaskLine(Rows(), m_lineBytes, *m_mask, m_sums64.get(), out); }

private:
    uint8_t* Slot(int64_t idx) {
        return m_store.get() + static_cast<size_t>(idx % m_slots) * m_lineBytes;
    }

    const Mask* m_mask = nullptr;
    int32_t m_lineBytes = 0;
    int32_t m_lag = 0;
    int32_t m_slots = 0;
    std::unique_ptr<uint8_t[]> m_store;
    std::unique_ptr<const uint8_t*[]> m_rows;
    std::unique_ptr<int64_t[]> m_sums64;
    int64_t m_entered = 0;
    int64_t m_centre = 0;
};

// Builds the padded line: half a mask of copies of the first pixel, the
// line, half a mask of copies of the last pixel.
void PadLine(const uint8_t* line, int32_t width, int32_t spp, int32_t half, uint8_t* pad) {
    uint8_t* p = pad;
    for (int32_t i = 0; i < half; ++i, p += spp) std::memcpy(p, line, spp);
    std::memcpy(p, line, static_cast<size_t>(width) * spp);
    p += static_cast<size_t>(width) * spp;
    const uint8_t* last = line + static_cast<size_t>(width - 1) * spp;
    for (int32_t i = 0; i < half; ++i, p += spp) std::memcpy(p, last, spp);
}

// A source line filtered at the kept pixels into out (which may overlap the
// line): the vector kernel reads the line itself, the others a padded copy.
void MaskHLine(const uint8_t* line, int32_t width, const int32_t* xs, int32_t outW, int32_t spp,
               const Mask& m, uint8_t* pad, uint8_t* tmp, uint8_t* out) {
    if (!m.wide && m.sse2Exact && IsSSE2FeatureAvailable() &&
        MOIRE_KERNEL::SSE2MaskHLine(line, width, xs, outW, spp, m.coef16.get(), m.count, m.scale,
                                    tmp, out))
        return;
    PadLine(line, width, spp, m.half, pad);
    MaskH(pad, width, xs, outW, spp, m, tmp, out);
}

// ---------------------------------------------------------------------------
// Workers. A common base lets a release free any of them, and a band call
// refuse a worker of another export (two exports share one field).

enum class Kind { ReduceMoire, MaskFilterH, MaskFilterV, ConvertV, ConvertH };

class CMoireWorker {
public:
    explicit CMoireWorker(Kind k) : m_kind(k) {}
    CMoireWorker(const CMoireWorker&) = delete;
    CMoireWorker& operator=(const CMoireWorker&) = delete;
    virtual ~CMoireWorker() = default;
    Kind kind() const { return m_kind; }

private:
    Kind m_kind;
};

bool UsableImage(const tagTVKIMAGEINFO* img) {
    if (img == nullptr || img->lpImage == nullptr || img->lBps != 8) return false;
    if (img->lSpp != 1 && (img->lSpp != 3 || img->ulRGBOrder != 0)) return false;
    if (img->lWidth <= 0 || img->lHeight < 0) return false;
    return int64_t{img->lSync} >= int64_t{img->lWidth} * img->lSpp &&
           TvkImageFits(img, kTvkGray8 | kTvkRgb24);
}

// The spread table of an axis of `in` pixels or lines reduced to `out`.
int32_t NewSpreadTable(int32_t out, int32_t in, std::unique_ptr<uint32_t[]>& table) {
    if (in <= 0 || out <= 0) return kReduceMoireErrParam;
    table = NewArray<uint32_t>(static_cast<size_t>(in));
    if (!table) return kReduceMoireErrNoMemory;
    MakeSpreadCountTable(table.get(), out, in);
    return 0;
}

class CTvkReduceMoire : public CMoireWorker {
public:
    static constexpr Kind kKind = Kind::ReduceMoire;
    CTvkReduceMoire() : CMoireWorker(kKind) {}

    int32_t Create(const tagREDUCEMOIREFILTERINFO* req) {
        if (int32_t rc = TakeMask(req, req->lOutXResolution, req->lInXResolution, m_mask); rc != 0)
            return rc;
        // Reduced lines are written over the source band, so the output may
        // not be wider or taller than the source.
        if (req->lInWidth <= 0 || req->lInHeight <= 0 || req->lOutWidth <= 0 ||
            req->lOutHeight <= 0 || req->lOutWidth > req->lInWidth ||
            req->lOutHeight > req->lInHeight)
            return kReduceMoireErrParam;
        m_inW = req->lInWidth;
        m_inH = req->lInHeight;
        m_outW = req->lOutWidth;
        m_expected = req->lOutHeight;
        if (int32_t rc = NewSpreadTable(m_outW, m_inW, m_hTable); rc != 0) return rc;
        if (int32_t rc = NewSpreadTable(m_expected, m_inH, m_vTable); rc != 0) return rc;
        m_xs = NewArray<int32_t>(static_cast<size_t>(m_outW));
        if (!m_xs) return kReduceMoireErrNoMemory;
        int32_t o = 0;
        for (int32_t x = 0; x < m_inW && o < m_outW; ++x)
            if (m_hTable[x] != 0) m_xs[o++] = x;
        for (; o < m_outW; ++o) m_xs[o] = m_inW - 1;
        return 0;
    }

    // Every band (usable images, see BandWorker) must have the geometry of
    // the request and of the first band; the first band also sizes the line
    // buffers.
    int32_t CheckBand(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src) {
        if (src->lWidth != m_inW || dst->lWidth != m_outW || src->lSpp != dst->lSpp)
            return kReduceMoireErrParam;
        if (m_started) return src->lSpp == m_spp ? 0 : kReduceMoireErrParam;
        m_spp = src->lSpp;
        m_outBytes = m_outW * m_spp;
        m_pad = NewArray<uint8_t>(static_cast<size_t>(m_inW + 2 * m_mask.half) * m_spp);
        m_full = NewArray<uint8_t>(static_cast<size_t>(m_inW) * m_spp);
        if (!m_pad || !m_full || !m_window.Init(m_mask, m_outBytes, m_mask.half))
            return kReduceMoireErrNoMemory;
        // The 600 to 300 dpi colour kernels, chosen for the whole page: the
        // window then holds complemented lines.
        if (m_spp == 3 && !m_mask.wide &&
            MOIRE_KERNEL::IsQuarter121(m_mask.coef16.get(), m_mask.count, m_mask.scale) &&
            IsAVX2FeatureAvailable()) {
            m_runs = NewArray<MOIRE_KERNEL::HalfRun>(
                static_cast<size_t>(m_outW / MOIRE_KERNEL::kHalfRunMin + 1));
            if (!m_runs) return kReduceMoireErrNoMemory;
            m_runCount = MOIRE_KERNEL::FindHalfRuns(m_xs.get(), m_outW, m_inW, m_runs.get());
            m_inverted = true;
        }
        m_started = true;
        return 0;
    }

    // Feeds a band (src may be null for the flush) and writes output lines
    // from dst's first line on; returns the lines written.
    int32_t Band(tagTVKIMAGEINFO* dst, int32_t firstLine, int32_t room, tagTVKIMAGEINFO* src,
                 bool last) {
        int32_t written = 0;
        auto emit = [&] {
            const int64_t c = m_window.Centre();
            if (c < m_inH && m_vTable[c] != 0) Output(dst, firstLine, room, written);
            m_window.Advance();
        };
        if (src != nullptr) {
            for (int32_t y = 0; y < src->lHeight; ++y) {
                // Source lines asked for ahead; the 1-2-1 colour kernel asks
                // for its own, spread along the line (a whole line asked
                // for at once slows it down).
                if (!m_inverted && y + 4 < src->lHeight)
                    PrefetchAhead(TvkLinePtr(*src, y + 4), 0, m_inW * m_spp);
                // The horizontally reduced line replaces the source pixels;
                // line y of the output lies before source line y + 1.
                uint8_t* reduced = src->lpImage + static_cast<size_t>(y) * m_outBytes;
                HLine(TvkLinePtr(*src, y), reduced);
                while (m_window.Due()) emit();
            }
        }
        if (last && m_window.AnyEntered()) {
            while (m_window.Centre() < m_window.Entered()) emit();
            // Below the last source line the bottom line repeats, up to the
            // expected output height.
            while (m_written < m_expected && written < room) {
                Output(dst, firstLine, room, written);
                m_window.Advance();
            }
        }
        return written;
    }

    int32_t Expected() const { return m_expected; }
    int32_t PendingLines() const { return m_mask.count - 1; }
    int32_t TotalWritten() const { return m_written; }

private:
    // A source line filtered at the kept pixels into `reduced` (which lies at
    // or before it, overlapping it on a band's first line) and entered into
    // the window.
    void HLine(const uint8_t* line, uint8_t* reduced) {
        if (m_inverted) {
            const bool overlaps = line < reduced + m_outBytes;
            uint8_t* to = overlaps ? m_full.get() : reduced;
            MOIRE_KERNEL::AVX2Quarter121H3(line, m_inW, m_xs.get(), m_outW, m_runs.get(),
                                           m_runCount, to, m_window.Fill());
            if (overlaps) std::memmove(reduced, to, static_cast<size_t>(m_outBytes));
            return;
        }
        MaskHLine(line, m_inW, m_xs.get(), m_outW, m_spp, m_mask, m_pad.get(), m_full.get(),
                  reduced);
        m_window.Enter(reduced);
    }

    void Output(tagTVKIMAGEINFO* dst, int32_t firstLine, int32_t room, int32_t& written) {
        if (written >= room || m_written >= m_expected) return;
        uint8_t* out = TvkLinePtr(*dst, int64_t{firstLine} + written);
        if (m_inverted)
            MOIRE_KERNEL::AVX2InvertedQuarter121(m_window.Rows(), m_outBytes, out);
        else
            m_window.Filter(out);
        ++written;
        ++m_written;
    }

    Mask m_mask;
    int32_t m_inW = 0, m_inH = 0, m_outW = 0, m_expected = 0;
    int32_t m_spp = 0, m_outBytes = 0;
    bool m_started = false;
    std::unique_ptr<uint32_t[]> m_hTable, m_vTable;
    std::unique_ptr<int32_t[]> m_xs;
    std::unique_ptr<uint8_t[]> m_pad;
    // A whole filtered line for the SSE2 kernel; a band's first reduced line
    // for the 1-2-1 colour kernel.
    std::unique_ptr<uint8_t[]> m_full;
    // Kept colour pixels two apart, for the 1-2-1 mask's AVX2 kernels.
    std::unique_ptr<MOIRE_KERNEL::HalfRun[]> m_runs;
    int32_t m_runCount = 0;
    bool m_inverted = false;
    CVWindow m_window;
    int32_t m_written = 0;
};

class CTvkMaskFilterH : public CMoireWorker {
public:
    static constexpr Kind kKind = Kind::MaskFilterH;
    CTvkMaskFilterH() : CMoireWorker(kKind) {}
    int32_t Create(const tagREDUCEMOIREFILTERINFO* req) {
        return TakeMask(req, req->lOutXResolution, req->lInXResolution, m_mask);
    }
    int32_t Band(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src) {
        if (dst->lWidth != src->lWidth || dst->lSpp != src->lSpp) return kReduceMoireErrParam;
        const int32_t w = src->lWidth, spp = src->lSpp;
        if (m_width != w || m_spp != spp) {
            m_pad = NewArray<uint8_t>(static_cast<size_t>(w + 2 * m_mask.half) * spp);
            m_xs = NewArray<int32_t>(static_cast<size_t>(w));
            if (!m_pad || !m_xs) return kReduceMoireErrNoMemory;
            for (int32_t x = 0; x < w; ++x) m_xs[x] = x;
            m_width = w;
            m_spp = spp;
        }
        const int32_t lines = std::min(src->lHeight, dst->lHeight);
        for (int32_t y = 0; y < lines; ++y) {
            PadLine(TvkLinePtr(*src, y), w, spp, m_mask.half, m_pad.get());
            MaskH(m_pad.get(), w, m_xs.get(), w, spp, m_mask, nullptr, TvkLinePtr(*dst, y));
        }
        dst->lHeight = lines;
        return 0;
    }

private:
    Mask m_mask;
    int32_t m_width = 0, m_spp = 0;
    std::unique_ptr<uint8_t[]> m_pad;
    std::unique_ptr<int32_t[]> m_xs;
};

class CTvkMaskFilterV : public CMoireWorker {
public:
    static constexpr Kind kKind = Kind::MaskFilterV;
    CTvkMaskFilterV() : CMoireWorker(kKind) {}
    int32_t Create(const tagREDUCEMOIREFILTERINFO* req) {
        return TakeMask(req, req->lOutYResolution, req->lInYResolution, m_mask);
    }
    int32_t Band(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, bool last) {
        if (dst->lWidth != src->lWidth || dst->lSpp != src->lSpp) return kReduceMoireErrParam;
        const int32_t bytes = src->lWidth * src->lSpp;
        if (!m_started) {
            // Output lags the input by the whole mask less one line.
            if (!m_window.Init(m_mask, bytes, m_mask.count - 1)) return kReduceMoireErrNoMemory;
            m_bytes = bytes;
            m_started = true;
        } else if (bytes != m_bytes) {
            return kReduceMoireErrParam;
        }
        const int32_t room = dst->lHeight;
        int32_t written = 0;
        auto emit = [&] {
            if (written < room) m_window.Filter(TvkLinePtr(*dst, written++));
            m_window.Advance();
        };
        for (int32_t y = 0; y < src->lHeight; ++y) {
            m_window.Enter(TvkLinePtr(*src, y));
            while (m_window.Due()) emit();
        }
        if (last && m_window.AnyEntered())
            while (m_window.Centre() < m_window.Entered()) emit();
        dst->lHeight = written;
        return 0;
    }
    int32_t PendingLines() const { return m_mask.count - 1; }

private:
    Mask m_mask;
    bool m_started = false;
    int32_t m_bytes = 0;
    CVWindow m_window;
};

class CTvkResolutionConvertV : public CMoireWorker {
public:
    static constexpr Kind kKind = Kind::ConvertV;
    CTvkResolutionConvertV() : CMoireWorker(kKind) {}
    int32_t Create(const tagREDUCEMOIREFILTERINFO* req) {
        m_inH = req->lInHeight;
        return NewSpreadTable(req->lOutHeight, m_inH, m_table);
    }
    int32_t Band(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src) {
        if (dst->lWidth != src->lWidth) return kReduceMoireErrParam;
        const size_t bytes = static_cast<size_t>(std::min(dst->lSync, src->lSync));
        const int32_t room = dst->lHeight;
        int32_t written = 0;
        for (int32_t y = 0; y < src->lHeight && m_cursor < m_inH; ++y, ++m_cursor) {
            if (m_table[m_cursor] == 0 || written >= room) continue;
            std::memcpy(TvkLinePtr(*dst, written++), TvkLinePtr(*src, y), bytes);
        }
        m_written += written;
        dst->lHeight = written;
        return 0;
    }
    int64_t Written() const { return m_written; }

private:
    int32_t m_inH = 0;
    int32_t m_cursor = 0;
    int64_t m_written = 0;
    std::unique_ptr<uint32_t[]> m_table;
};

class CTvkResolutionConvertH : public CMoireWorker {
public:
    static constexpr Kind kKind = Kind::ConvertH;
    CTvkResolutionConvertH() : CMoireWorker(kKind) {}
    int32_t Create(const tagREDUCEMOIREFILTERINFO* req) {
        m_inW = req->lInWidth;
        return NewSpreadTable(req->lOutWidth, m_inW, m_table);
    }
    int32_t Band(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src) {
        if (src->lWidth != m_inW || dst->lSpp != src->lSpp) return kReduceMoireErrParam;
        const int32_t spp = src->lSpp;
        const int32_t lines = std::min(src->lHeight, dst->lHeight);
        for (int32_t y = 0; y < lines; ++y) {
            const uint8_t* s = TvkLinePtr(*src, y);
            uint8_t* d = TvkLinePtr(*dst, y);
            int32_t o = 0;
            for (int32_t x = 0; x < m_inW && o < dst->lWidth; ++x)
                if (m_table[x] != 0)
                    std::memcpy(d + static_cast<size_t>(o++) * spp, s + x * spp, spp);
        }
        dst->lHeight = lines;
        return 0;
    }

private:
    int32_t m_inW = 0;
    std::unique_ptr<uint32_t[]> m_table;
};

} // namespace

// ---------------------------------------------------------------------------
// Line kernels.

namespace MOIRE_KERNEL {

bool SSE2Exact(const int16_t* coef, int32_t count, int32_t scale) {
    int64_t sum = 0;
    for (int32_t k = 0; k < count; ++k) sum += coef[k] < 0 ? -int64_t{coef[k]} : coef[k];
    const int64_t s = scale < 0 ? -int64_t{scale} : scale;
    return sum * 255 < (int64_t{1} << 24) && sum * 255 * s < (int64_t{1} << 24);
}

namespace {

template <int N>
void MaskLineN(const uint8_t* const* rows, const int16_t* coef, int32_t scale, int32_t bytes,
               uint8_t* __restrict out) {
    const uint8_t* r[N];
    int32_t c[N];
    for (int k = 0; k < N; ++k) {
        r[k] = rows[k];
        c[k] = coef[k];
    }
    for (int32_t i = 0; i < bytes; ++i) {
        int32_t sum = 0;
        for (int k = 0; k < N; ++k) sum += c[k] * r[k][i];
        out[i] = Clamp255(sum * scale / 16384);
    }
}

template <int SPP, int N>
void MaskHN(const uint8_t* pad, const int32_t* xs, int32_t outW, const int16_t* coef, int32_t scale,
            uint8_t* __restrict out) {
    int32_t c[N];
    for (int k = 0; k < N; ++k) c[k] = coef[k];
    for (int32_t o = 0; o < outW; ++o) {
        const uint8_t* p = pad + static_cast<size_t>(xs[o]) * SPP;
        for (int s = 0; s < SPP; ++s) {
            int32_t sum = 0;
            for (int k = 0; k < N; ++k) sum += c[k] * p[k * SPP + s];
            out[o * SPP + s] = Clamp255(sum * scale / 16384);
        }
    }
}

} // namespace

void IntegrityMaskLine(const uint8_t* const* rows, int32_t count, const int16_t* coef,
                       int32_t scale, int32_t bytes, uint8_t* out) {
    switch (count) {
    case 1:
        return MaskLineN<1>(rows, coef, scale, bytes, out);
    case 3:
        return MaskLineN<3>(rows, coef, scale, bytes, out);
    case 5:
        return MaskLineN<5>(rows, coef, scale, bytes, out);
    case 7:
        return MaskLineN<7>(rows, coef, scale, bytes, out);
    case 9:
        return MaskLineN<9>(rows, coef, scale, bytes, out);
    default:
        break;
    }
    for (int32_t i = 0; i < bytes; ++i) {
        int32_t sum = 0;
        for (int32_t k = 0; k < count; ++k) sum += int32_t{coef[k]} * rows[k][i];
        out[i] = Clamp255(sum * scale / 16384);
    }
}

void IntegrityMaskH(const uint8_t* pad, const int32_t* xs, int32_t outW, int32_t spp,
                    const int16_t* coef, int32_t count, int32_t scale, uint8_t* out) {
#define KD_MASKH_CASE(S, N)                                                                        \
    if (spp == S && count == N) return MaskHN<S, N>(pad, xs, outW, coef, scale, out);
    KD_MASKH_CASE(3, 3)
    KD_MASKH_CASE(3, 5)
    KD_MASKH_CASE(3, 7)
    KD_MASKH_CASE(3, 9)
    KD_MASKH_CASE(1, 3)
    KD_MASKH_CASE(1, 5)
    KD_MASKH_CASE(1, 7)
    KD_MASKH_CASE(1, 9)
#undef KD_MASKH_CASE
    for (int32_t o = 0; o < outW; ++o) {
        const uint8_t* p = pad + static_cast<size_t>(xs[o]) * spp;
        for (int32_t s = 0; s < spp; ++s) {
            int32_t sum = 0;
            for (int32_t k = 0; k < count; ++k) sum += int32_t{coef[k]} * p[k * spp + s];
            out[o * spp + s] = Clamp255(sum * scale / 16384);
        }
    }
}

bool IsQuarter121(const int16_t* coef, int32_t count, int32_t scale) {
    return count == 3 && coef[0] > 0 && coef[2] == coef[0] && coef[1] == 2 * coef[0] &&
           int64_t{coef[0]} * 4 * scale == 16384;
}

namespace {
// One kept colour pixel of the 1-2-1 mask, the end pixels standing in
// beyond the line, into out and its complement into inverted.
inline void Quarter121Pixel3(const uint8_t* line, int32_t width, int32_t x, uint8_t* out,
                             uint8_t* inverted) {
    const uint8_t* l = line + 3 * static_cast<size_t>(std::max(x - 1, 0));
    const uint8_t* c = line + 3 * static_cast<size_t>(x);
    const uint8_t* r = line + 3 * static_cast<size_t>(std::min(x + 1, width - 1));
    for (int s = 0; s < 3; ++s) {
        out[s] = static_cast<uint8_t>((l[s] + 2 * c[s] + r[s]) >> 2);
        inverted[s] = static_cast<uint8_t>(~out[s]);
    }
}
} // namespace

namespace {
// The 1-2-1 mask on bytes from..bytes-1 of three lines, one at a time;
// Inverted: the lines hold complements (255 - v), out gets plain values.
template <bool Inverted>
void Quarter121Tail(const uint8_t* const* rows, int32_t from, int32_t bytes, uint8_t* out) {
    for (int32_t i = from; i < bytes; ++i) {
        const int32_t sum = rows[0][i] + 2 * rows[1][i] + rows[2][i];
        out[i] = static_cast<uint8_t>((Inverted ? 1020 - sum : sum) >> 2);
    }
}
} // namespace

int32_t FindHalfRuns(const int32_t* xs, int32_t outW, int32_t width, HalfRun* runs) {
    int32_t n = 0;
    for (int32_t o = 0; o < outW;) {
        if (xs[o] < 1 || xs[o] + 1 >= width) {
            ++o;
            continue;
        }
        int32_t end = o + 1;
        while (end < outW && xs[end] == xs[end - 1] + 2 && xs[end] + 1 < width) ++end;
        if (end - o >= kHalfRunMin) runs[n++] = HalfRun{o, end - o};
        o = end;
    }
    return n;
}

#if defined(__SSE2__)
// Sixteen bytes at a time: pairs of taps are multiplied and added by
// _mm_madd_epi16 into 32-bit sums; the scale is applied in single precision,
// which is exact below 2^24 (SSE2Exact), and truncated towards zero; the two
// saturating packs clamp to 0..255.
namespace {
// N is the tap count when known at compile time (unrolled), else 0.
template <int N>
void SSE2MaskLineN(const uint8_t* const* rows, int32_t count, const int16_t* coef, int32_t scale,
                   int32_t bytes, uint8_t* out) {
    if (N != 0) count = N;
    const __m128i zero = _mm_setzero_si128();
    const __m128 factor = _mm_set1_ps(static_cast<float>(scale) / 16384.0f);
    int32_t i = 0;
    for (; i + 16 <= bytes; i += 16) {
        __m128i acc0 = zero, acc1 = zero, acc2 = zero, acc3 = zero;
        for (int32_t k = 0; k < count; k += 2) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k] + i));
            __m128i b = zero;
            uint32_t cb = 0;
            if (k + 1 < count) {
                b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k + 1] + i));
                cb = static_cast<uint16_t>(coef[k + 1]);
            }
            const __m128i c =
                _mm_set1_epi32(static_cast<int32_t>(static_cast<uint16_t>(coef[k]) | cb << 16));
            const __m128i alo = _mm_unpacklo_epi8(a, zero), ahi = _mm_unpackhi_epi8(a, zero);
            const __m128i blo = _mm_unpacklo_epi8(b, zero), bhi = _mm_unpackhi_epi8(b, zero);
            acc0 = _mm_add_epi32(acc0, _mm_madd_epi16(_mm_unpacklo_epi16(alo, blo), c));
            acc1 = _mm_add_epi32(acc1, _mm_madd_epi16(_mm_unpackhi_epi16(alo, blo), c));
            acc2 = _mm_add_epi32(acc2, _mm_madd_epi16(_mm_unpacklo_epi16(ahi, bhi), c));
            acc3 = _mm_add_epi32(acc3, _mm_madd_epi16(_mm_unpackhi_epi16(ahi, bhi), c));
        }
        const __m128i r0 = _mm_cvttps_epi32(_mm_mul_ps(_mm_cvtepi32_ps(acc0), factor));
        const __m128i r1 = _mm_cvttps_epi32(_mm_mul_ps(_mm_cvtepi32_ps(acc1), factor));
        const __m128i r2 = _mm_cvttps_epi32(_mm_mul_ps(_mm_cvtepi32_ps(acc2), factor));
        const __m128i r3 = _mm_cvttps_epi32(_mm_mul_ps(_mm_cvtepi32_ps(acc3), factor));
        const __m128i lo = _mm_packs_epi32(r0, r1), hi = _mm_packs_epi32(r2, r3);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(lo, hi));
    }
    for (; i < bytes; ++i) {
        int32_t sum = 0;
        for (int32_t k = 0; k < count; ++k) sum += int32_t{coef[k]} * rows[k][i];
        out[i] = Clamp255(sum * scale / 16384);
    }
}
} // namespace

namespace {
// Masks of non-negative coefficients whose sums fit 16 bits keep the sums in
// 16-bit lanes, and the scaling is one high multiply: (sum x 4 scale) >> 16
// = floor(sum x scale / 16384), the truncated quotient of a sum that is
// never negative.
bool Fits16(const int16_t* coef, int32_t count, int32_t scale) {
    int32_t sum = 0;
    for (int32_t k = 0; k < count; ++k) {
        if (coef[k] < 0) return false;
        sum += coef[k];
        if (sum * 255 > 32767) return false;
    }
    return scale >= 0 && scale <= 32767 / 4;
}

template <int N>
void SSE2MaskLine16(const uint8_t* const* rows, int32_t count, const int16_t* coef, int32_t scale,
                    int32_t bytes, uint8_t* out) {
    if (N != 0) count = N;
    const __m128i zero = _mm_setzero_si128();
    const __m128i scale4 = _mm_set1_epi16(static_cast<int16_t>(scale * 4));
    int32_t i = 0;
    for (; i + 16 <= bytes; i += 16) {
        __m128i lo = zero, hi = zero;
        for (int32_t k = 0; k < count; ++k) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k] + i));
            const __m128i c = _mm_set1_epi16(coef[k]);
            lo = _mm_add_epi16(lo, _mm_mullo_epi16(_mm_unpacklo_epi8(a, zero), c));
            hi = _mm_add_epi16(hi, _mm_mullo_epi16(_mm_unpackhi_epi8(a, zero), c));
        }
        lo = _mm_mulhi_epi16(lo, scale4);
        hi = _mm_mulhi_epi16(hi, scale4);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(lo, hi));
    }
    for (; i < bytes; ++i) {
        int32_t sum = 0;
        for (int32_t k = 0; k < count; ++k) sum += int32_t{coef[k]} * rows[k][i];
        out[i] = Clamp255(sum * scale / 16384);
    }
}
} // namespace

namespace {
// The AVX2 twin of SSE2MaskLine16, 32 bytes a step, for masks whose taps
// also fit a signed byte: pairs of taps are one multiply-add of bytes into
// the 16-bit sums (which stay below 2^15, so nothing saturates). The
// unpacking and packing within 128-bit lanes cancel.
bool FitsBytePairs(const int16_t* coef, int32_t count) {
    for (int32_t k = 0; k < count; ++k)
        if (coef[k] > 127) return false;
    return true;
}

template <int N>
KD_AVX2 void AVX2MaskLine16(const uint8_t* const* rows, int32_t count, const int16_t* coef,
                            int32_t scale, int32_t bytes, uint8_t* out) {
    if (N != 0) count = N;
    const __m256i zero = _mm256_setzero_si256();
    const __m256i scale4 = _mm256_set1_epi16(static_cast<int16_t>(scale * 4));
    int32_t i = 0;
    for (; i + 32 <= bytes; i += 32) {
        __m256i lo = zero, hi = zero;
        for (int32_t k = 0; k < count; k += 2) {
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[k] + i));
            __m256i b = zero;
            int32_t cb = 0;
            if (k + 1 < count) {
                b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[k + 1] + i));
                cb = coef[k + 1];
            }
            const __m256i c = _mm256_set1_epi16(static_cast<int16_t>(coef[k] | cb << 8));
            lo = _mm256_add_epi16(lo, _mm256_maddubs_epi16(_mm256_unpacklo_epi8(a, b), c));
            hi = _mm256_add_epi16(hi, _mm256_maddubs_epi16(_mm256_unpackhi_epi8(a, b), c));
        }
        lo = _mm256_mulhi_epi16(lo, scale4);
        hi = _mm256_mulhi_epi16(hi, scale4);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_packus_epi16(lo, hi));
    }
    if (i < bytes) {
        // The tail is SSE code; the compiler may turn the call into a jump
        // without clearing the upper halves, which slows every SSE
        // instruction after it on some processors.
        _mm256_zeroupper();
        const uint8_t* rest[64];
        if (count > 64) return SSE2MaskLine16<N>(rows, count, coef, scale, bytes, out);
        for (int32_t k = 0; k < count; ++k) rest[k] = rows[k] + i;
        SSE2MaskLine16<N>(rest, count, coef, scale, bytes - i, out + i);
    }
}

// Kept colour pixels of a filtered line, 8 output pixels (24 bytes) a step:
// where they lie two pixels apart, from 16 filtered ones (48 bytes) by byte
// shuffles; at other steps by one gather of four bytes a pixel, packed to
// three; the line's end pixel by pixel.
using PickMask = std::array<uint8_t, 16>;
constexpr PickMask PickFrom(int32_t firstOut, int32_t reg) {
    PickMask m{};
    for (int32_t j = 0; j < 16; ++j) {
        const int32_t o = firstOut + j;
        const int32_t at = 6 * (o / 3) + o % 3;
        m[static_cast<size_t>(j)] = static_cast<uint8_t>(at / 16 == reg ? at % 16 : 0x80);
    }
    return m;
}
constexpr PickMask kPick00 = PickFrom(0, 0), kPick01 = PickFrom(0, 1);
constexpr PickMask kPick11 = PickFrom(16, 1), kPick12 = PickFrom(16, 2);

KD_AVX2 inline __m128i LoadPick(const PickMask& m) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(m.data()));
}

KD_AVX2 void AVX2PickKept3(const uint8_t* tmp, int32_t width, const int32_t* xs, int32_t outW,
                           uint8_t* out) {
    const __m128i m00 = LoadPick(kPick00), m01 = LoadPick(kPick01);
    const __m128i m11 = LoadPick(kPick11), m12 = LoadPick(kPick12);
    const __m256i steps = _mm256_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14);
    const __m256i three = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1,
                                           0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const __m256i pack = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7);
    int32_t o = 0;
    for (; o + 8 <= outW; o += 8) {
        const int32_t x = xs[o];
        const __m256i got = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(xs + o));
        const __m256i want = _mm256_add_epi32(_mm256_set1_epi32(x), steps);
        const bool regular = _mm256_movemask_epi8(_mm256_cmpeq_epi32(got, want)) == -1;
        if (regular && x + 16 <= width) {
            const uint8_t* p = tmp + 3 * static_cast<size_t>(x);
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
            const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
            uint8_t* d = out + 3 * static_cast<size_t>(o);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d),
                             _mm_or_si128(_mm_shuffle_epi8(a, m00), _mm_shuffle_epi8(b, m01)));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(d + 16),
                             _mm_or_si128(_mm_shuffle_epi8(b, m11), _mm_shuffle_epi8(c, m12)));
            continue;
        }
        if (xs[o + 7] + 2 <= width) { // four bytes from each pixel stay on the line
            const __m256i at = _mm256_add_epi32(got, _mm256_add_epi32(got, got));
            const __m256i px = _mm256_i32gather_epi32(reinterpret_cast<const int*>(tmp), at, 1);
            const __m256i r = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(px, three), pack);
            uint8_t* d = out + 3 * static_cast<size_t>(o);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm256_castsi256_si128(r));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(d + 16), _mm256_extracti128_si256(r, 1));
            continue;
        }
        for (int32_t j = o; j < o + 8; ++j) std::memcpy(out + 3 * j, tmp + 3 * xs[j], 3);
    }
    for (; o < outW; ++o) std::memcpy(out + 3 * o, tmp + 3 * xs[o], 3);
}
} // namespace

namespace {
// The 1-2-1 mask (IsQuarter121): floor((a + 2b + c) / 4) =
// floor((floor((a + c) / 2) + b) / 2), two rounded-down byte averages, with
// no wider lanes at all.
inline __m128i FloorAvg16(__m128i a, __m128i b) {
    return _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), _mm_set1_epi8(1)));
}

void SSE2Quarter121(const uint8_t* const* rows, int32_t bytes, uint8_t* out) {
    const uint8_t *a = rows[0], *b = rows[1], *c = rows[2];
    int32_t i = 0;
    for (; i + 16 <= bytes; i += 16) {
        const auto load = [i](const uint8_t* p) {
            return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        };
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                         FloorAvg16(FloorAvg16(load(a), load(c)), load(b)));
    }
    Quarter121Tail<false>(rows, i, bytes, out);
}

// Rounded-up averages of complements round down: avg(~a, ~b) =
// ~floor((a + b) / 2), so over complemented lines the mask is
// ~avg(avg(~a, ~c), ~b). Inverted: the rows hold the complements already.
template <bool Inverted>
KD_AVX2 void AVX2Quarter121(const uint8_t* const* rows, int32_t bytes, uint8_t* out) {
    const uint8_t *a = rows[0], *b = rows[1], *c = rows[2];
    const __m256i ones = _mm256_set1_epi8(-1);
    const auto load = [&](const uint8_t* p, int32_t i) KD_AVX2 {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
        return Inverted ? v : _mm256_xor_si256(v, ones);
    };
    int32_t i = 0;
    for (; i + 32 <= bytes; i += 32)
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i),
                            _mm256_xor_si256(_mm256_avg_epu8(_mm256_avg_epu8(load(a, i), load(c, i)),
                                                             load(b, i)),
                                             ones));
    Quarter121Tail<Inverted>(rows, i, bytes, out);
}
} // namespace

namespace {
// Eight kept colour pixels two apart, from the 51 bytes at p (source pixels
// x - 1 .. x + 15 for centres x .. x + 14): each 128-bit lane serves four
// of them from two overlapping 16-byte loads (bytes 0..15 and 11..26 of its
// 27), byte shuffles gather the neighbours (pixels 0, 2, .. 8 of the lane,
// whose shift by one pixel gives the right-hand ones) and the centres
// (1, 3, .. 7). The rounded-down averages run on complements:
// avg(~a, ~b) = ~floor((a + b) / 2).
using HalfShuffle = std::array<uint8_t, 32>;
constexpr HalfShuffle HalfGather(bool centres, bool second) {
    HalfShuffle m{};
    for (int32_t j = 0; j < 32; ++j) {
        const int32_t at = j % 16;
        const int32_t src =
            at < (centres ? 12 : 15) ? 6 * (at / 3) + (centres ? 3 : 0) + at % 3 : -1;
        uint8_t v = 0x80;
        if (src >= 0 && !second && src < 16) v = static_cast<uint8_t>(src);
        if (src >= 16 && second) v = static_cast<uint8_t>(src - 11);
        m[static_cast<size_t>(j)] = v;
    }
    return m;
}
constexpr HalfShuffle kNeighbours0 = HalfGather(false, false),
                      kNeighbours1 = HalfGather(false, true);
constexpr HalfShuffle kCentres0 = HalfGather(true, false), kCentres1 = HalfGather(true, true);

KD_AVX2 inline __m256i LoadGather(const HalfShuffle& m) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(m.data()));
}
KD_AVX2 inline __m256i LoadLanes(const uint8_t* lo, const uint8_t* hi) {
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(lo))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(hi)), 1);
}

// The complements of twelve results in each lane's low bytes.
KD_AVX2 inline __m256i Quarter121Block3(const uint8_t* p, __m256i n0, __m256i n1, __m256i c0,
                                        __m256i c1) {
    const __m256i ones = _mm256_set1_epi8(-1);
    const __m256i first = _mm256_xor_si256(LoadLanes(p, p + 24), ones);
    const __m256i second = _mm256_xor_si256(LoadLanes(p + 11, p + 35), ones);
    const __m256i left =
        _mm256_or_si256(_mm256_shuffle_epi8(first, n0), _mm256_shuffle_epi8(second, n1));
    const __m256i centre =
        _mm256_or_si256(_mm256_shuffle_epi8(first, c0), _mm256_shuffle_epi8(second, c1));
    const __m256i right = _mm256_srli_si256(left, 3);
    return _mm256_avg_epu8(_mm256_avg_epu8(left, right), centre);
}

// Each step of the run kernel asks for the source bytes about one 600 dpi
// colour line below: far enough ahead for the memory to deliver them in
// time, spread out so that the requests do not come in bursts.
constexpr int64_t kHalfAhead = 16384;

KD_AVX2 inline void Store24(uint8_t* d, __m256i r, bool more) {
    if (more) { // the 8 bytes beyond are the next step's
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), r);
        return;
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm256_castsi256_si128(r));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(d + 16), _mm256_extracti128_si256(r, 1));
}

// The output pixels of one run: centres x, x + 2, ..
KD_AVX2 void AVX2Quarter121Run3(const uint8_t* line, int32_t width, int32_t x, int32_t n,
                                uint8_t* out, uint8_t* inverted) {
    const __m256i n0 = LoadGather(kNeighbours0), n1 = LoadGather(kNeighbours1);
    const __m256i c0 = LoadGather(kCentres0), c1 = LoadGather(kCentres1);
    const __m256i pack = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7);
    const __m256i ones = _mm256_set1_epi8(-1);
    int32_t k = 0;
    for (; k + 8 <= n; k += 8) {
        const uint8_t* p = line + 3 * static_cast<size_t>(x + 2 * k - 1);
        PrefetchAhead(p, kHalfAhead, 1);
        const __m256i r = _mm256_permutevar8x32_epi32(Quarter121Block3(p, n0, n1, c0, c1), pack);
        const size_t at = 3 * static_cast<size_t>(k);
        const bool more = k + 16 <= n;
        Store24(inverted + at, r, more);
        Store24(out + at, _mm256_xor_si256(r, ones), more);
    }
    for (; k < n; ++k) {
        const size_t at = 3 * static_cast<size_t>(k);
        Quarter121Pixel3(line, width, x + 2 * k, out + at, inverted + at);
    }
}
} // namespace

void AVX2Quarter121H3(const uint8_t* line, int32_t width, const int32_t* xs, int32_t outW,
                      const HalfRun* runs, int32_t runCount, uint8_t* out, uint8_t* inverted) {
    int32_t o = 0;
    for (int32_t i = 0; i <= runCount; ++i) {
        const int32_t to = i < runCount ? runs[i].o : outW;
        for (; o < to; ++o) {
            const size_t at = 3 * static_cast<size_t>(o);
            Quarter121Pixel3(line, width, xs[o], out + at, inverted + at);
        }
        if (i == runCount) break;
        const size_t at = 3 * static_cast<size_t>(o);
        AVX2Quarter121Run3(line, width, xs[o], runs[i].count, out + at, inverted + at);
        o += runs[i].count;
    }
}

void AVX2InvertedQuarter121(const uint8_t* const* rows, int32_t bytes, uint8_t* out) {
    AVX2Quarter121<true>(rows, bytes, out);
}

void SSE2MaskLine(const uint8_t* const* rows, int32_t count, const int16_t* coef, int32_t scale,
                  int32_t bytes, uint8_t* out) {
    if (IsQuarter121(coef, count, scale)) {
        if (IsAVX2FeatureAvailable()) return AVX2Quarter121<false>(rows, bytes, out);
        return SSE2Quarter121(rows, bytes, out);
    }
    const bool lanes16 = Fits16(coef, count, scale);
    const bool avx2 = lanes16 && FitsBytePairs(coef, count) && IsAVX2FeatureAvailable();
    // The built-in mask lengths get kernels unrolled for their tap count
    // (N); any other length is read at run time (N = 0).
    const auto run = [&](auto taps) {
        constexpr int N = decltype(taps)::value;
        if (avx2)
            AVX2MaskLine16<N>(rows, count, coef, scale, bytes, out);
        else if (lanes16)
            SSE2MaskLine16<N>(rows, count, coef, scale, bytes, out);
        else
            SSE2MaskLineN<N>(rows, count, coef, scale, bytes, out);
    };
    switch (count) {
    case 3:
        return run(std::integral_constant<int, 3>{});
    case 5:
        return run(std::integral_constant<int, 5>{});
    case 7:
        return run(std::integral_constant<int, 7>{});
    case 9:
        return run(std::integral_constant<int, 9>{});
    default:
        return run(std::integral_constant<int, 0>{});
    }
}

#else
void AVX2Quarter121H3(const uint8_t* line, int32_t width, const int32_t* xs, int32_t outW,
                      const HalfRun*, int32_t, uint8_t* out, uint8_t* inverted) {
    for (int32_t o = 0; o < outW; ++o) {
        const size_t at = 3 * static_cast<size_t>(o);
        Quarter121Pixel3(line, width, xs[o], out + at, inverted + at);
    }
}

void AVX2InvertedQuarter121(const uint8_t* const* rows, int32_t bytes, uint8_t* out) {
    Quarter121Tail<true>(rows, 0, bytes, out);
}

void SSE2MaskLine(const uint8_t* const* rows, int32_t count, const int16_t* coef, int32_t scale,
                  int32_t bytes, uint8_t* out) {
    IntegrityMaskLine(rows, count, coef, scale, bytes, out);
}
#endif

namespace {
// The kept pixels of a filtered line.
void PickKept(const uint8_t* tmp, int32_t width, const int32_t* xs, int32_t outW, int32_t spp,
              uint8_t* out) {
    if (spp == 3) {
#if defined(__SSE2__)
        if (IsAVX2FeatureAvailable()) return AVX2PickKept3(tmp, width, xs, outW, out);
#endif
        for (int32_t o = 0; o < outW; ++o) {
            const uint8_t* p = tmp + 3 * static_cast<size_t>(xs[o]);
            out[3 * o] = p[0];
            out[3 * o + 1] = p[1];
            out[3 * o + 2] = p[2];
        }
        return;
    }
    for (int32_t o = 0; o < outW; ++o)
        std::memcpy(out + static_cast<size_t>(o) * spp, tmp + static_cast<size_t>(xs[o]) * spp,
                    spp);
}
} // namespace

void SSE2MaskH(const uint8_t* pad, int32_t width, const int32_t* xs, int32_t outW, int32_t spp,
               const int16_t* coef, int32_t count, int32_t scale, uint8_t* tmp, uint8_t* out) {
    const uint8_t* taps[64];
    std::unique_ptr<const uint8_t*[]> many;
    const uint8_t** rows = taps;
    if (count > 64) {
        many.reset(new (std::nothrow) const uint8_t*[static_cast<size_t>(count)]);
        if (!many) return IntegrityMaskH(pad, xs, outW, spp, coef, count, scale, out);
        rows = many.get();
    }
    for (int32_t k = 0; k < count; ++k) rows[k] = pad + static_cast<size_t>(k) * spp;
    const int32_t bytes = width * spp;
    if (tmp == nullptr) { // every pixel kept
        SSE2MaskLine(rows, count, coef, scale, bytes, out);
        return;
    }
    SSE2MaskLine(rows, count, coef, scale, bytes, tmp);
    PickKept(tmp, width, xs, outW, spp, out);
}

bool SSE2MaskHLine(const uint8_t* line, int32_t width, const int32_t* xs, int32_t outW, int32_t spp,
                   const int16_t* coef, int32_t count, int32_t scale, uint8_t* tmp, uint8_t* out) {
    constexpr int32_t kMaxTaps = 64;
    if (count > kMaxTaps) return false;
    const int32_t half = count / 2;
    // Pixels whose taps all lie on the line are filtered straight from it...
    const int32_t first = std::min(half, width);
    const int32_t last = std::max(first, width - half);
    if (last > first) {
        const uint8_t* rows[kMaxTaps];
        for (int32_t k = 0; k < count; ++k)
            rows[k] = line + static_cast<ptrdiff_t>(first - half + k) * spp;
        SSE2MaskLine(rows, count, coef, scale, (last - first) * spp,
                     tmp + static_cast<size_t>(first) * spp);
    }
    // ...the few at each end with the end pixel standing in beyond the line.
    const auto edge = [&](int32_t x) {
        for (int32_t s = 0; s < spp; ++s) {
            int64_t sum = 0;
            for (int32_t k = 0; k < count; ++k) {
                const int32_t at = std::clamp(x - half + k, 0, width - 1);
                sum += int64_t{coef[k]} * line[static_cast<size_t>(at) * spp + s];
            }
            tmp[static_cast<size_t>(x) * spp + s] = Clamp255(sum * scale / 16384);
        }
    };
    for (int32_t x = 0; x < first; ++x) edge(x);
    for (int32_t x = last; x < width; ++x) edge(x);
    PickKept(tmp, width, xs, outW, spp, out);
    return true;
}

} // namespace MOIRE_KERNEL

namespace {

// ---------------------------------------------------------------------------
// Export plumbing.

template <class W> W* WorkerOf(void* field) {
    auto* base = static_cast<CMoireWorker*>(field);
    return base != nullptr && base->kind() == W::kKind ? static_cast<W*>(base) : nullptr;
}

// The worker of a band call: both images usable and a worker of the export's
// kind in its field. Null, with the code to return in rc, otherwise.
template <class W>
W* BandWorker(void* field, const tagTVKIMAGEINFO* dst, const tagTVKIMAGEINFO* src, int32_t& rc) {
    rc = kReduceMoireErrBadRequest;
    if (!UsableImage(dst) || !UsableImage(src)) return nullptr;
    if (field == nullptr) {
        rc = kReduceMoireErrNoWorker;
        return nullptr;
    }
    return WorkerOf<W>(field);
}

void Release(void*& field) {
    delete static_cast<CMoireWorker*>(field);
    field = nullptr;
}

template <class W> int32_t CreateInto(void*& field, const tagREDUCEMOIREFILTERINFO* req) {
    Release(field);
    std::unique_ptr<W> w(new (std::nothrow) W);
    if (!w) return kReduceMoireErrNoMemory;
    if (int32_t rc = w->Create(req); rc != 0) return rc;
    field = w.release();
    return 0;
}

// Common entry: checks the request, runs `body` and frees the worker of the
// call on any failure.
template <class Body>
int32_t RunExport(tagREDUCEMOIREFILTERINFO* req, void* tagREDUCEMOIREFILTERINFO::*field,
                  Body body) {
    IpSetLastError(0);
    if (req == nullptr) return kReduceMoireErrParam;
    if (req->ulSize != kReduceMoireInfoSize) return kReduceMoireErrBadRequest;
    int32_t rc;
    try {
        rc = body(req->*field);
    } catch (...) {
        rc = kReduceMoireErrNoMemory;
    }
    if (rc != 0) Release(req->*field);
    return rc;
}

// An export whose worker treats each line alone: create, first and middle
// bands, and a last band that (like release) only frees the worker.
template <class W>
int32_t LineWiseExport(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagREDUCEMOIREFILTERINFO* req,
                       void* tagREDUCEMOIREFILTERINFO::*field) {
    return RunExport(req, field, [&](void*& worker) -> int32_t {
        switch (req->lCommand) {
        case kReduceMoireCreate:
            return CreateInto<W>(worker, req);
        case kReduceMoireLastBand:
        case kReduceMoireRelease:
            Release(worker);
            return 0;
        case kReduceMoireFirstBand:
        case kReduceMoireBand: {
            int32_t rc;
            auto* w = BandWorker<W>(worker, dst, src, rc);
            return w != nullptr ? w->Band(dst, src) : rc;
        }
        default:
            return kReduceMoireErrBadRequest;
        }
    });
}

bool IsBand(int32_t command) {
    return command == kReduceMoireFirstBand || command == kReduceMoireBand ||
           command == kReduceMoireLastBand || command == kReduceMoireWholePage;
}

} // namespace

int32_t ReduceMoire(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagREDUCEMOIREFILTERINFO* req) {
    return RunExport(req, &tagREDUCEMOIREFILTERINFO::pReduceMoire, [&](void*& field) -> int32_t {
        const int32_t cmd = req->lCommand;
        if (cmd == kReduceMoireCreate) return CreateInto<CTvkReduceMoire>(field, req);
        if (cmd == kReduceMoireRelease) {
            Release(field);
            return 0;
        }
        if (!IsBand(cmd)) return kReduceMoireErrBadRequest;
        int32_t rc;
        auto* w = BandWorker<CTvkReduceMoire>(field, dst, src, rc);
        if (w == nullptr) return rc;
        if (int32_t rc = w->CheckBand(dst, src); rc != 0) return rc;
        const int32_t room = dst->lHeight;
        if (cmd == kReduceMoireWholePage) {
            int32_t lines = w->Band(dst, 0, room, src, false);
            req->lPendingLines = w->PendingLines();
            if (req->lPendingLines != 0) {
                lines += w->Band(dst, lines, room - lines, nullptr, true);
                req->lPendingLines = 0;
            }
            dst->lHeight = std::min(lines, w->Expected());
            return 0;
        }
        const int32_t lines = w->Band(dst, 0, room, src, cmd == kReduceMoireLastBand);
        if (cmd == kReduceMoireFirstBand) req->lPendingLines = w->PendingLines();
        dst->lHeight = lines;
        return 0;
    });
}

int32_t MaskFilterH(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagREDUCEMOIREFILTERINFO* req) {
    return LineWiseExport<CTvkMaskFilterH>(dst, src, req, &tagREDUCEMOIREFILTERINFO::pMaskFilterH);
}

int32_t MaskFilterV(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagREDUCEMOIREFILTERINFO* req) {
    return RunExport(req, &tagREDUCEMOIREFILTERINFO::pReduceMoire, [&](void*& field) -> int32_t {
        switch (req->lCommand) {
        case kReduceMoireCreate:
            return CreateInto<CTvkMaskFilterV>(field, req);
        case kReduceMoireRelease:
            Release(field);
            return 0;
        case kReduceMoireFirstBand:
        case kReduceMoireBand:
        case kReduceMoireLastBand: {
            int32_t rc;
            auto* w = BandWorker<CTvkMaskFilterV>(field, dst, src, rc);
            if (w == nullptr) return rc;
            const bool last = req->lCommand == kReduceMoireLastBand;
            rc = w->Band(dst, src, last);
            if (rc != 0) return rc;
            if (req->lCommand == kReduceMoireFirstBand) req->lPendingLines = w->PendingLines();
            if (last) Release(field);
            return 0;
        }
        default:
            return kReduceMoireErrBadRequest;
        }
    });
}

int32_t ResolutionConvertH(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src,
                           tagREDUCEMOIREFILTERINFO* req) {
    return LineWiseExport<CTvkResolutionConvertH>(dst, src, req,
                                                  &tagREDUCEMOIREFILTERINFO::pResolutionConvertH);
}

int32_t ResolutionConvertV(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src,
                           tagREDUCEMOIREFILTERINFO* req) {
    return RunExport(
        req, &tagREDUCEMOIREFILTERINFO::pResolutionConvertV, [&](void*& field) -> int32_t {
            switch (req->lCommand) {
            case kReduceMoireCreate:
                return CreateInto<CTvkResolutionConvertV>(field, req);
            case kReduceMoireLastBand: {
                auto* w = WorkerOf<CTvkResolutionConvertV>(field);
                if (w != nullptr && dst != nullptr)
                    dst->lHeight =
                        static_cast<int32_t>(std::min<int64_t>(dst->lHeight, w->Written()));
                Release(field);
                return 0;
            }
            case kReduceMoireRelease:
                Release(field);
                return 0;
            case kReduceMoireFirstBand:
            case kReduceMoireBand: {
                int32_t rc;
                auto* w = BandWorker<CTvkResolutionConvertV>(field, dst, src, rc);
                return w != nullptr ? w->Band(dst, src) : rc;
            }
            default:
                return kReduceMoireErrBadRequest;
            }
        });
}
