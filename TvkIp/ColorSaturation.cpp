// Background detection and repaint.
#include "ColorSaturation.h"
#include "ImageCheck.h"
#include "Luminance.h"
#include "TvkIpError.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace COLOR_SATURATION_FUNC {

// Sample addressing of interleaved and line-sequential pages.
struct PageView {
    uint8_t* base;
    int32_t width, height;
    int32_t channels;  // 1 or 3
    size_t lineStride; // bytes from one line to the next
    size_t pixelStep;  // bytes from one pixel to the next within a channel
    size_t planeStep;  // bytes from one channel to the next within a pixel

    uint8_t* At(int32_t x, int32_t y) const {
        return base + static_cast<size_t>(y) * lineStride + static_cast<size_t>(x) * pixelStep;
    }
};

bool MakeView(const tagTVKIMAGEINFO* page, PageView& v) {
    if (page == nullptr || page->lpImage == nullptr || page->lBps != 8) return false;
    if (page->lWidth <= 0 || page->lHeight <= 0 || page->lSync <= 0) return false;
    // The common layouts pass the library's check; other sample counts are
    // read as their first sample and checked below.
    const bool common = page->lSpp == 1 || (page->lSpp == 3 && page->ulRGBOrder <= 1);
    if (common && !TvkImageFits(page, kTvkGray8 | kTvkRgb24Any)) return false;
    v.base = page->lpImage;
    v.width = page->lWidth;
    v.height = page->lHeight;
    v.channels = page->lSpp == 3 ? 3 : 1;
    const int64_t sync = page->lSync;
    if (v.channels == 3 && page->ulRGBOrder != 0) {
        if (sync < page->lWidth) return false;
        v.lineStride = static_cast<size_t>(sync) * 3;
        v.pixelStep = 1;
        v.planeStep = static_cast<size_t>(sync);
    } else {
        // Other sample counts are read as their first sample.
        const int64_t spp = std::max(page->lSpp, 1);
        if (sync < int64_t{page->lWidth} * spp) return false;
        v.lineStride = static_cast<size_t>(sync);
        v.pixelStep = static_cast<size_t>(spp);
        v.planeStep = 1;
    }
    return true;
}

// Left (inclusive) and right (exclusive) bounds of the outline per line.
struct Outline {
    std::unique_ptr<int32_t[]> left, right;
    int32_t first = 0; // line of entry 0
    int32_t count = 0;
    int32_t top = 0, bottom = -1; // examined lines, inclusive

    // Lines outside the lists take the nearest entry.
    void Bounds(int32_t y, int32_t width, int32_t& l, int32_t& r) const {
        if (count <= 0) {
            l = r = 0;
            return;
        }
        const int32_t i = std::clamp(y - first, 0, count - 1);
        l = std::clamp(left[i], 0, width);
        r = std::clamp(right[i], 0, width);
    }
};

// Writes the x of the edge P -> Q into list entries of lines max(P.y, 0)
// .. Q.y - 1, stepping whole pixels per line and carrying the remainder.
void GetOnPoint(const Tvk::tagPOINT& p, const Tvk::tagPOINT& q, int32_t* list, int32_t first,
                int32_t count) {
    const int64_t dy = int64_t{q.y} - p.y;
    const int64_t dx = int64_t{q.x} - p.x;
    if (dy <= 0 || q.y < 0) return;
    int64_t y = std::max<int64_t>(p.y, 0);
    int64_t x = p.x;
    if (p.y < 0) x = p.x + dx * (0 - int64_t{p.y}) / dy;
    const int64_t whole = dx / dy;
    const int64_t rem = (dx < 0 ? -dx : dx) % dy;
    const int64_t dir = dx < 0 ? -1 : 1;
    int64_t acc = 0;
    for (; y < q.y; ++y) {
        const int64_t i = y - first;
        if (i >= count) break;
        if (i >= 0) list[i] = static_cast<int32_t>(std::clamp<int64_t>(x, INT32_MIN, INT32_MAX));
        x += whole;
        acc += rem;
        if (acc >= dy) {
            acc -= dy;
            x += dir;
        }
    }
}

bool GetShapeFrom2Poiunt(bool outlined, const Tvk::tagPOINT& lt, const Tvk::tagPOINT& rt,
                         const Tvk::tagPOINT& lb, const Tvk::tagPOINT& rb, int32_t width,
                         int32_t height, Outline& o) {
    if (!outlined) {
        o.first = 0;
        o.count = height;
        o.top = 0;
        o.bottom = height - 1;
        o.left.reset(new (std::nothrow) int32_t[static_cast<size_t>(height)]);
        o.right.reset(new (std::nothrow) int32_t[static_cast<size_t>(height)]);
        if (!o.left || !o.right) return false;
        std::fill(o.left.get(), o.left.get() + height, 0);
        std::fill(o.right.get(), o.right.get() + height, width);
        return true;
    }
    Tvk::tagPOINT a, b, c, d;
    if (lt.y < rt.y) {
        a = lt;
        b = lb;
        c = rt;
        d = rb;
    } else {
        a = rt;
        b = lt;
        c = rb;
        d = lb;
    }
    o.first = std::max(0, a.y);
    // Lines below the page are never examined, so the lists stop there.
    const int64_t lastLine = std::min<int64_t>(d.y, height - 1);
    o.count = static_cast<int32_t>(std::max<int64_t>(lastLine - o.first + 1, 0));
    o.top = std::max(0, std::min(lt.y, rt.y));
    o.bottom = static_cast<int32_t>(std::min<int64_t>(std::max(lb.y, rb.y), height - 1));
    if (o.count == 0) return true;
    o.left.reset(new (std::nothrow) int32_t[static_cast<size_t>(o.count)]);
    o.right.reset(new (std::nothrow) int32_t[static_cast<size_t>(o.count)]);
    if (!o.left || !o.right) return false;
    // Lines no edge reaches stay empty.
    std::fill(o.left.get(), o.left.get() + o.count, width);
    std::fill(o.right.get(), o.right.get() + o.count, 0);
    GetOnPoint(a, b, o.left.get(), o.first, o.count);
    GetOnPoint(b, d, o.left.get(), o.first, o.count);
    GetOnPoint(a, c, o.right.get(), o.first, o.count);
    GetOnPoint(c, d, o.right.get(), o.first, o.count);
    if (d.y >= o.first && d.y - o.first < o.count) {
        const int32_t x = std::clamp(d.x, 0, width);
        o.left[d.y - o.first] = x;
        o.right[d.y - o.first] = x;
    }
    return true;
}

// Peak of one 256-bin histogram and the range of bins around it.
bool DetectBrightnessHistgram(const uint64_t* h, int& peakOut, int& lowOut, int& highOut) {
    uint64_t total = 0;
    for (int v = 0; v < 256; ++v) total += h[v];
    const uint64_t t = total >> 16;
    uint64_t coarse[64] = {};
    for (int v = 0; v < 256; ++v)
        if (h[v] > t) coarse[v / 4] += h[v];
    uint64_t b[32];
    for (int k = 0; k < 32; ++k) b[k] = coarse[2 * k];
    for (int k = 0; k <= 30; ++k) {
        const uint64_t odd = coarse[2 * k + 1];
        const uint64_t l = coarse[2 * k], r = coarse[2 * k + 2];
        if (l + r == 0) {
            b[k] += odd / 2;
            b[k + 1] += odd / 2;
        } else {
            b[k] += static_cast<uint64_t>(static_cast<unsigned __int128>(odd) * l / (l + r));
            b[k + 1] += static_cast<uint64_t>(static_cast<unsigned __int128>(odd) * r / (l + r));
        }
    }
    int p = 0;
    for (int k = 1; k < 32; ++k)
        if (b[k] > b[p]) p = k;
    const int ws = std::max(8 * p - 4, 0);
    const int we = std::min(8 * p + 12, 256);
    int peak = ws;
    for (int i = ws; i < we; ++i)
        if (h[i] > h[peak] + t) peak = i;
    int lo = std::max(peak - 8, 0);
    while (lo > 0 && h[lo] <= h[lo + 1] + t) --lo;
    int hi = std::min(peak + 8, 256);
    while (hi <= 255 && h[hi] <= h[hi - 1] + t) ++hi;
    lo = std::clamp(lo, 0, 255);
    hi = std::clamp(hi, 0, 255);
    int nlo = lo, nhi = hi;
    while (nhi - nlo > 32) {
        if (h[nlo] < h[nhi])
            ++nlo;
        else
            --nhi;
    }
    if (h[lo] > t) lo = nlo;
    if (h[hi] > t) hi = nhi;
    if (lo > peak || peak > hi) return false;
    peakOut = peak;
    lowOut = lo;
    highOut = hi;
    return true;
}

// One bit per pixel, most significant bit first.
struct Mask {
    std::unique_ptr<uint8_t[]> bits;
    int32_t bytes = 0;
    int32_t lines = 0;

    uint8_t* Line(int32_t y) const { return bits.get() + static_cast<size_t>(y) * bytes; }
    void Set(int32_t x, int32_t y) const {
        Line(y)[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
    }
    bool Get(int32_t x, int32_t y) const { return (Line(y)[x >> 3] & (0x80 >> (x & 7))) != 0; }
};

// Pixel layouts read by the per-pixel loops, so that the common ones run
// with constant steps: C channels, planar or interleaved.
template <int C, bool Planar> struct Layout {
    static constexpr int kChannels = C;
    const PageView& v;
    size_t PixelStep() const { return Planar ? 1 : (C == 3 ? 3 : v.pixelStep); }
    size_t PlaneStep() const { return Planar ? v.planeStep : 1; }
};

template <class F> void WithLayout(const PageView& v, F&& f) {
    if (v.channels == 1)
        f(Layout<1, false>{v});
    else if (v.planeStep == 1)
        f(Layout<3, false>{v});
    else
        f(Layout<3, true>{v});
}

// Set bits mark pixels outside the background range widened by 8.
bool GetBackGround(const PageView& v, const int* lower, const int* upper, Mask& m) {
    m.bytes = (v.width + 7) / 8;
    m.lines = v.height;
    const size_t n = static_cast<size_t>(m.bytes) * m.lines;
    m.bits.reset(new (std::nothrow) uint8_t[n]());
    if (!m.bits) return false;
    // A table per channel: 1 outside the widened range.
    uint8_t outside[3][256];
    for (int c = 0; c < 3; ++c) {
        const int lo = std::max(lower[c] - 8, 0), hi = std::min(upper[c] + 8, 255);
        for (int s = 0; s < 256; ++s) outside[c][s] = s < lo || s > hi ? 1 : 0;
    }
    WithLayout(v, [&](auto layout) {
        constexpr int C = decltype(layout)::kChannels;
        const size_t ps = layout.PixelStep(), pl = layout.PlaneStep();
        for (int32_t y = 0; y < v.height; ++y) {
            const uint8_t* p = v.At(0, y);
            uint8_t* out = m.Line(y);
            for (int32_t x0 = 0; x0 < v.width; x0 += 8) {
                const int32_t end = std::min(x0 + 8, v.width);
                unsigned byte = 0;
                for (int32_t x = x0; x < end; ++x, p += ps) {
                    unsigned fore = outside[0][p[0]];
                    if (C == 3) fore |= outside[1][p[pl]] | outside[2][p[2 * pl]];
                    byte |= fore << (7 - (x - x0));
                }
                out[x0 >> 3] = static_cast<uint8_t>(byte);
            }
        }
    });
    return true;
}

// Drops set bits without a set neighbour left or right, then those without
// one above or below.
bool EraseIsolatedPoint(Mask& m) {
    const int32_t n = m.bytes;
    std::unique_ptr<uint8_t[]> line(new (std::nothrow) uint8_t[static_cast<size_t>(n)]);
    if (!line) return false;
    for (int32_t y = 0; y < m.lines; ++y) {
        uint8_t* b = m.Line(y);
        std::memcpy(line.get(), b, n);
        for (int32_t i = 1; i + 1 < n; ++i) {
            const unsigned cur = line[i];
            const unsigned left = (cur >> 1) | ((line[i - 1] & 1u) << 7);
            const unsigned right = ((cur << 1) & 0xFFu) | (line[i + 1] >> 7);
            b[i] = static_cast<uint8_t>(cur & (left | right));
        }
    }
    if (m.lines < 3) return true;
    const size_t total = static_cast<size_t>(n) * m.lines;
    std::unique_ptr<uint8_t[]> copy(new (std::nothrow) uint8_t[total]);
    if (!copy) return false;
    std::memcpy(copy.get(), m.bits.get(), total);
    for (int32_t y = 1; y + 1 < m.lines; ++y) {
        const uint8_t* up = copy.get() + static_cast<size_t>(y - 1) * n;
        const uint8_t* dn = copy.get() + static_cast<size_t>(y + 1) * n;
        uint8_t* b = m.Line(y);
        for (int32_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(b[i] & (up[i] | dn[i]));
    }
    return true;
}

// Marks both pixels of every strong step down or to the right.
void GetEdgeImage(const PageView& v, int32_t threshold, Mask& m) {
    WithLayout(v, [&](auto layout) {
        constexpr int C = decltype(layout)::kChannels;
        const size_t ps = layout.PixelStep(), pl = layout.PlaneStep();
        for (int32_t y = 0; y + 1 < v.height; ++y) {
            const uint8_t* p = v.At(0, y);
            const uint8_t* below = v.At(0, y + 1);
            uint8_t* line = m.Line(y);
            uint8_t* next = m.Line(y + 1);
            for (int32_t x = 0; x + 1 < v.width; ++x, p += ps, below += ps) {
                int32_t down = 0, across = 0;
                for (int c = 0; c < C; ++c) {
                    const int32_t a = p[c * pl];
                    down += std::abs(a - below[c * pl]);
                    across += std::abs(a - p[ps + c * pl]);
                }
                const auto bit = static_cast<uint8_t>(0x80 >> (x & 7));
                const auto bitRight = static_cast<uint8_t>(0x80 >> ((x + 1) & 7));
                if (down > threshold) {
                    line[x >> 3] |= bit;
                    next[x >> 3] |= bit;
                }
                if (across > threshold) {
                    line[x >> 3] |= bit;
                    line[(x + 1) >> 3] |= bitRight;
                }
            }
        }
    });
}

} // namespace COLOR_SATURATION_FUNC

namespace {

using namespace COLOR_SATURATION_FUNC;

uint32_t Pack(const int* c) {
    return static_cast<uint32_t>(c[0]) | static_cast<uint32_t>(c[1]) << 8 |
           static_cast<uint32_t>(c[2]) << 16;
}

class CColorSaturation {
public:
    void Init(const tagCOLOR_SATURATION_INFO* req) {
        m_lt = req->ptLeftTop;
        m_rt = req->ptRightTop;
        m_lb = req->ptLeftBottom;
        m_rb = req->ptRightBottom;
        m_outlined = m_rb.x != 0 || m_rb.y != 0;
        m_reserved = req->lReserved == -1 ? 40 : req->lReserved;
        m_edgeThreshold = req->lEdgeThreshold == -1 ? 12 : req->lEdgeThreshold;
    }

    int32_t DetectBackGround(tagTVKIMAGEINFO* page, tagCOLOR_SATURATION_INFO* req) {
        PageView v;
        if (!MakeView(page, v)) return static_cast<int32_t>(kIpErrBadParamBlock);
        Outline o;
        if (!GetShapeFrom2Poiunt(m_outlined, m_lt, m_rt, m_lb, m_rb, v.width, v.height, o))
            return static_cast<int32_t>(kIpErrCannotRun);
        std::unique_ptr<uint64_t[]> hist(new (std::nothrow) uint64_t[3 * 256]());
        if (!hist) return static_cast<int32_t>(kIpErrCannotRun);
        WithLayout(v, [&](auto layout) {
            constexpr int C = decltype(layout)::kChannels;
            const size_t ps = layout.PixelStep(), pl = layout.PlaneStep();
            uint64_t* h0 = hist.get();
            uint64_t* h1 = h0 + 256;
            uint64_t* h2 = h0 + 512;
            for (int32_t y = o.top; y <= o.bottom; ++y) {
                int32_t l, r;
                o.Bounds(y, v.width, l, r);
                const uint8_t* p = l < r ? v.At(l, y) : nullptr;
                for (int32_t x = l; x < r; ++x, p += ps) {
                    ++h0[p[0]];
                    if (C == 3) {
                        ++h1[p[pl]];
                        ++h2[p[2 * pl]];
                    }
                }
            }
        });
        int peak[3], lower[3], upper[3];
        for (int c = 0; c < v.channels; ++c)
            if (!DetectBrightnessHistgram(hist.get() + c * 256, peak[c], lower[c], upper[c])) {
                req->ulBackgroundColor = kNoBackgroundColor;
                return 0;
            }
        if (v.channels == 1)
            for (int c = 1; c < 3; ++c) {
                peak[c] = peak[0];
                lower[c] = lower[0];
                upper[c] = upper[0];
            }
        std::copy(peak, peak + 3, m_peak);
        std::copy(lower, lower + 3, m_lower);
        std::copy(upper, upper + 3, m_upper);
        m_detected = true;
        req->ulBackgroundColor = Pack(m_peak);
        return 0;
    }

    int32_t PaintBackGround(tagTVKIMAGEINFO* page, const tagCOLOR_SATURATION_INFO* req) {
        PageView v;
        if (!MakeView(page, v) || !m_detected) return static_cast<int32_t>(kIpErrBadParamBlock);
        Mask m;
        Outline o;
        if (!GetBackGround(v, m_lower, m_upper, m) || !EraseIsolatedPoint(m) ||
            !GetShapeFrom2Poiunt(m_outlined, m_lt, m_rt, m_lb, m_rb, v.width, v.height, o))
            return static_cast<int32_t>(kIpErrCannotRun);
        const int64_t threshold = int64_t{m_edgeThreshold} * (v.channels == 3 ? 3 : 1);
        GetEdgeImage(v, static_cast<int32_t>(std::clamp<int64_t>(threshold, INT32_MIN, INT32_MAX)),
                     m);
        uint8_t color[3];
        switch (req->lPaintMode) {
        case kPaintDetectedColor:
            for (int c = 0; c < 3; ++c) color[c] = static_cast<uint8_t>(m_peak[c]);
            break;
        case kPaintWhiteOrBlack: {
            const int lum = TvkLuminance(m_peak[0], m_peak[1], m_peak[2]);
            std::fill(color, color + 3, lum >= 161 ? 255 : 0);
            break;
        }
        case kPaintGivenColor:
            for (int c = 0; c < 3; ++c)
                color[c] = static_cast<uint8_t>(req->ulPaintColor >> (8 * c));
            break;
        default:
            std::fill(color, color + 3, 0);
            break;
        }
        WithLayout(v, [&](auto layout) {
            constexpr int C = decltype(layout)::kChannels;
            const size_t ps = layout.PixelStep(), pl = layout.PlaneStep();
            for (int32_t y = o.top; y <= o.bottom; ++y) {
                int32_t l, r;
                o.Bounds(y, v.width, l, r);
                if (l >= r) continue;
                uint8_t* p = v.At(l, y);
                const uint8_t* bits = m.Line(y);
                for (int32_t x = l; x < r; ++x, p += ps) {
                    if (bits[x >> 3] & (0x80 >> (x & 7))) continue;
                    p[0] = color[0];
                    if (C == 3) {
                        p[pl] = color[1];
                        p[2 * pl] = color[2];
                    }
                }
            }
        });
        return 0;
    }

    bool Detected() const { return m_detected; }

private:
    int m_peak[3] = {0, 0, 0};
    int m_lower[3] = {0, 0, 0};
    int m_upper[3] = {0, 0, 0};
    Tvk::tagPOINT m_lt{}, m_rt{}, m_lb{}, m_rb{};
    bool m_outlined = false;
    int32_t m_reserved = 40;
    int32_t m_edgeThreshold = 8;
    bool m_detected = false;
};

bool UsablePage(const tagTVKIMAGEINFO* page) {
    PageView v;
    return MakeView(page, v);
}

int32_t Run(tagTVKIMAGEINFO* page, tagCOLOR_SATURATION_INFO* req) {
    constexpr auto kBad = static_cast<int32_t>(kIpErrBadParamBlock);
    auto* worker = static_cast<CColorSaturation*>(req->pColorSaturation);
    switch (req->lCommand) {
    case kColorSaturationCreate: {
        if (worker != nullptr) return kBad;
        auto* w = new (std::nothrow) CColorSaturation;
        if (w == nullptr) return static_cast<int32_t>(kIpErrNoMemory);
        w->Init(req);
        req->pColorSaturation = w;
        return 0;
    }
    case kColorSaturationDetect:
        if (worker == nullptr || !UsablePage(page)) return kBad;
        return worker->DetectBackGround(page, req);
    case kColorSaturationPaint:
        if (worker == nullptr || !UsablePage(page) || !worker->Detected()) return kBad;
        return worker->PaintBackGround(page, req);
    case kColorSaturationRelease:
        delete worker;
        req->pColorSaturation = nullptr;
        return 0;
    case kColorSaturationOneShot: {
        if (worker != nullptr || !UsablePage(page)) return kBad;
        std::unique_ptr<CColorSaturation> w(new (std::nothrow) CColorSaturation);
        if (!w) return static_cast<int32_t>(kIpErrNoMemory);
        w->Init(req);
        int32_t rc = w->DetectBackGround(page, req);
        if (rc == 0 && w->Detected()) rc = w->PaintBackGround(page, req);
        return rc;
    }
    default:
        return 0;
    }
}

} // namespace

int32_t ColorSaturation(tagTVKIMAGEINFO* page, tagCOLOR_SATURATION_INFO* request) {
    IpSetLastError(0);
    if (request == nullptr || request->ulSize < kColorSaturationInfoSize)
        return static_cast<int32_t>(kIpErrBadParamBlock);
    try {
        return Run(page, request);
    } catch (...) {
        return static_cast<int32_t>(kIpErrNoMemory);
    }
}
