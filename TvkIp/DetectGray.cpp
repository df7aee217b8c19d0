// Gray-versus-monochrome test and colour mode detection.
#include "DetectGray.h"
#include "DetectGrayFunctions.h"
#include "ImageCheck.h"
#include "Luminance.h"
#include "TvkIpError.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <numbers>

namespace DetectGray_FunctionSpace {

// Smooths n bins with a 15-tap integer Gaussian of variance s (weights in
// units of 1/2048); taps outside the bins are left out.
void GaussianFilter(int64_t* bins, int n, double s) {
    int64_t w[8];
    for (int k = 0; k < 8; ++k)
        w[k] = static_cast<int64_t>(2048.0 / std::sqrt(2.0 * std::numbers::pi * s) *
                                    std::exp(-k * k / (2.0 * s)));
    int64_t src[64];
    const int m = std::min(n, 64);
    std::copy(bins, bins + m, src);
    for (int x = 0; x < m; ++x) {
        int64_t sum = 0;
        for (int k = -7; k <= 7; ++k) {
            const int i = x + k;
            if (i >= 0 && i < m) sum += w[k < 0 ? -k : k] * src[i];
        }
        bins[x] = sum >> 11;
    }
}

// Folds every bin above the white level into the white level's bin.
template <class T> void HistgramToWhite(T* bins, int n, int white) {
    if (white < 0 || white >= n) return;
    for (int i = white + 1; i < n; ++i) {
        bins[white] += bins[i];
        bins[i] = 0;
    }
}

// Fills lum[0..n) with the luminance of pixels x0..x0 + n - 1 of line y of a
// colour page.
void LuminanceLine(const tagTVKIMAGEINFO& page, int32_t y, int32_t x0, int32_t n, uint8_t* lum) {
    if (page.ulRGBOrder == 0) {
        LuminanceInterleaved(page.lpImage + static_cast<size_t>(y) * page.lSync + 3 * size_t(x0), n,
                             lum);
        return;
    }
    const size_t sync = static_cast<size_t>(page.lSync);
    const uint8_t* r = page.lpImage + static_cast<size_t>(y) * 3 * sync + x0;
    LuminancePlanar(r, r + sync, r + 2 * sync, n, lum);
}

inline uint64_t LoadBE64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = v << 8 | p[i];
    return v;
}
inline void StoreBE64(uint8_t* p, uint64_t v) {
    for (int i = 7; i >= 0; --i, v >>= 8) p[i] = static_cast<uint8_t>(v);
}

inline uint8_t NeighbourRight(const uint8_t* line, int32_t n, int32_t i, int k) {
    return static_cast<uint8_t>((line[i] << k) | (line[(i + 1) % n] >> (8 - k)));
}
inline uint8_t NeighbourLeft(const uint8_t* line, int32_t n, int32_t i, int k) {
    return static_cast<uint8_t>((line[i] >> k) | (line[(i + n - 1) % n] << (8 - k)));
}

// Erosion (erode = true) or dilation over reach x reach pixels/lines.
uint32_t MorphWnd(BitImage& img, int reachX, int reachY, bool erode) {
    if (reachX < 0 || reachY < 0 || reachX >= 8 || reachY >= 8) return kIpErrBadArgument;
    const int32_t n = img.bytes;
    const int32_t lines = img.lines;
    if (n <= 0 || lines <= 0) return 0;
    const size_t total = static_cast<size_t>(n) * lines;
    std::unique_ptr<uint8_t[]> tmp(new (std::nothrow) uint8_t[total]);
    if (!tmp) return kIpErrOutOfMemory;
    for (int32_t y = 0; y < lines; ++y) {
        const uint8_t* line = img.bits + static_cast<size_t>(y) * n;
        uint8_t* out = tmp.get() + static_cast<size_t>(y) * n;
        auto at = [&](int32_t i) {
            uint8_t v = line[i];
            for (int k = 1; k <= reachX; ++k) {
                const uint8_t r = NeighbourRight(line, n, i, k);
                const uint8_t l = NeighbourLeft(line, n, i, k);
                v = erode ? static_cast<uint8_t>(v & r & l) : static_cast<uint8_t>(v | r | l);
            }
            return v;
        };
        // The wrapping neighbours matter only for the first and last byte;
        // the bytes between go eight at a time as one big-endian word.
        out[0] = at(0);
        int32_t i = 1;
        for (; i + 9 <= n; i += 8) {
            const uint64_t w = LoadBE64(line + i);
            const uint64_t next = line[i + 8], prev = line[i - 1];
            uint64_t v = w;
            for (int k = 1; k <= reachX; ++k) {
                const uint64_t r = (w << k) | (next >> (8 - k));
                const uint64_t l = (w >> k) | (prev << (64 - k));
                v = erode ? (v & r & l) : (v | r | l);
            }
            StoreBE64(out + i, v);
        }
        for (; i + 1 < n; ++i) {
            uint8_t v = line[i];
            for (int k = 1; k <= reachX; ++k) {
                const auto r = static_cast<uint8_t>((line[i] << k) | (line[i + 1] >> (8 - k)));
                const auto l = static_cast<uint8_t>((line[i] >> k) | (line[i - 1] << (8 - k)));
                v = erode ? static_cast<uint8_t>(v & r & l) : static_cast<uint8_t>(v | r | l);
            }
            out[i] = v;
        }
        if (n > 1) out[n - 1] = at(n - 1);
    }
    for (int32_t y = 0; y < lines; ++y) {
        uint8_t* out = img.bits + static_cast<size_t>(y) * n;
        std::memcpy(out, tmp.get() + static_cast<size_t>(y) * n, n);
        for (int k = 1; k <= reachY; ++k) {
            const uint8_t* up =
                tmp.get() + static_cast<size_t>(((y - k) % lines + lines) % lines) * n;
            const uint8_t* dn = tmp.get() + static_cast<size_t>((y + k) % lines) * n;
            int32_t i = 0;
            for (; i + 8 <= n; i += 8) {
                uint64_t o, u, d;
                std::memcpy(&o, out + i, 8);
                std::memcpy(&u, up + i, 8);
                std::memcpy(&d, dn + i, 8);
                o = erode ? (o & u & d) : (o | u | d);
                std::memcpy(out + i, &o, 8);
            }
            for (; i < n; ++i)
                out[i] = erode ? static_cast<uint8_t>(out[i] & up[i] & dn[i])
                               : static_cast<uint8_t>(out[i] | up[i] | dn[i]);
        }
    }
    return 0;
}

uint32_t CompressWnd(BitImage& img, int reachX, int reachY) {
    return MorphWnd(img, reachX, reachY, true);
}
uint32_t ExtendWnd(BitImage& img, int reachX, int reachY) {
    return MorphWnd(img, reachX, reachY, false);
}

void DetectHistgram(const uint32_t* histIn, const PeakSettings& s, uint8_t* ranges) {
    static constexpr double variance[8] = {1.0, 1.0, 0.6, 0.7, 0.9, 1.0, 1.15, 1.3};
    const int64_t D = s.divisor != 0 ? s.divisor : 65536;
    int intensity = s.intensity != 0 ? s.intensity : 2;
    intensity = std::clamp(intensity, 0, 7);
    const int B = s.black, W = s.white, G1 = s.gray1, G2 = s.gray2;
    auto nothing = [&] { std::fill(ranges, ranges + 4, static_cast<uint8_t>(B)); };

    int64_t total = 0;
    for (int v = 0; v < 256; ++v) total += histIn[v];
    int64_t coarse[64] = {};
    const int64_t floor = total / D;
    for (int v = 0; v < 256; ++v)
        if (histIn[v] > floor) coarse[v / 4] += histIn[v];
    GaussianFilter(coarse, 64, variance[intensity]);
    int64_t b[32];
    for (int k = 0; k < 32; ++k) {
        b[k] = coarse[2 * k];
        if (k > 0) b[k] += coarse[2 * k - 1] >> 1;
        if (2 * k + 1 <= 61) b[k] += coarse[2 * k + 1] >> 1;
    }
    int64_t h[256];
    for (int v = 0; v < 256; ++v) h[v] = histIn[v];
    HistgramToWhite(h, 256, W);
    HistgramToWhite(b, 32, W / 8);

    const int64_t S = total * 8 / D;
    int peaks = 0;
    int pos[2] = {31, 31};
    bool armed = false;
    auto scan = [&](int from, int to) {
        for (int k = from; k <= to; ++k) {
            const int64_t d = b[k] - b[k + 1];
            if ((d < 0 ? -d : d) < S) continue;
            if (d < 1) {
                armed = true;
            } else if (armed) {
                if (peaks < 2) pos[peaks] = k;
                ++peaks;
                armed = false;
            }
        }
    };
    const int B8 = B / 8;
    scan(0, B8 - 1);
    if (peaks >= 2 || (peaks == 0 && B8 >= 1 && b[B8 - 1] != 0)) return nothing();
    scan(B8, 30);
    if (peaks >= 3 || (peaks == 2 && (pos[0] > B8 || armed))) return nothing();
    if (peaks == 0 || (peaks == 1 && pos[0] == W / 8)) {
        ranges[0] = 0;
        ranges[1] = static_cast<uint8_t>(G1);
        ranges[2] = static_cast<uint8_t>(G2);
        ranges[3] = 255;
        return;
    }
    const int64_t t = S / 8;
    struct Range {
        int lo, hi, peak, windowStart;
    };
    auto findRange = [&](int p, int lowerLimit, int upperLimit) {
        Range r{};
        const int ws = std::max(8 * p - 4, 0);
        const int we = std::min(8 * p + 12, 255);
        r.windowStart = ws;
        int peak = ws;
        for (int i = ws; i < we; ++i)
            if (h[i] > h[peak] + t) peak = i;
        r.peak = peak;
        int lo = std::max(peak - 8, 0);
        while (lo > lowerLimit && h[lo - 1] <= h[lo] + t) --lo;
        int hi = std::min(peak + 8, 255);
        while (hi < upperLimit && h[hi + 1] <= h[hi] + t) ++hi;
        int nlo = lo, nhi = hi;
        while (nhi - nlo > 32) {
            if (h[nlo] < h[nhi])
                ++nlo;
            else
                --nhi;
        }
        r.lo = h[lo] <= t ? lo : nlo;
        r.hi = h[hi] <= t ? hi : nhi;
        return r;
    };
    const Range dark = findRange(pos[0], 0, G1);
    const Range light = findRange(peaks == 2 ? pos[1] : 31, G2, 255);
    if (dark.peak > G1 || light.windowStart < G2) return nothing();
    ranges[0] = static_cast<uint8_t>(dark.lo);
    ranges[1] = static_cast<uint8_t>(std::min(dark.hi, G1));
    ranges[2] = static_cast<uint8_t>(std::max(light.lo, G2));
    ranges[3] = static_cast<uint8_t>(light.hi);
}

} // namespace DetectGray_FunctionSpace

namespace {

using namespace DetectGray_FunctionSpace;

class CDetectGray {
public:
    virtual ~CDetectGray() = default;

    virtual uint32_t Process(tagTVKIMAGEINFO* page) { return MainProcess(page); }
    virtual void SetBinarizeThreshold(uint8_t v) { m_black = m_gray1 = m_gray2 = v; }
    virtual void SetWhiteThreshold(uint8_t v) { m_white = v; }
    virtual int32_t IsGrayImage() { return m_verdict; }
    virtual int32_t GetGrayBlockCount() { return m_count; }
    virtual void SetGrayThreshold(uint8_t v) {
        if (m_black >= v)
            m_gray1 = v;
        else
            m_gray2 = v;
    }
    virtual void SetBlockThreshold(int32_t n) {
        static constexpr uint32_t threshold[8] = {0, 1152, 2304, 4608, 9216, 18432, 36864, 73728};
        static constexpr uint32_t divisor[8] = {0, 65536, 42000, 32768, 24576, 16384, 8192, 4096};
        m_nIntensity = n;
        if (n >= 1 && n <= 7) {
            m_countThreshold = threshold[n];
            m_divisor = divisor[n];
        } else {
            m_countThreshold = 2304;
            m_divisor = 65536;
            m_nIntensity = 2;
        }
    }
    virtual void SetImageBorder(int32_t a, int32_t b) {
        m_first = std::max(a, 0);
        m_end = std::max(b, 0);
    }
    virtual void SetSideMargin(int32_t l, int32_t r) {
        m_left = std::max(l, 0);
        m_right = std::max(r, 0);
    }

    virtual uint32_t MainProcess(tagTVKIMAGEINFO* page) {
        InitFromImage(page);
        uint32_t hist[256] = {};
        if (!GetHistgram(page, hist)) return kIpErrOutOfMemory;
        if (IsWhiteImage(hist)) {
            m_verdict = 0;
            m_count = -1;
            return 0;
        }
        const int32_t steps = std::min(m_nIntensity, 7);
        bool found = false;
        uint8_t kept[4] = {};
        for (int32_t n = 1; n <= steps; ++n) {
            SetBlockThreshold(n);
            uint8_t r[4];
            DetectHistgram(hist, r);
            const bool nothing = r[1] == m_black && r[1] == r[2] && m_gray1 != m_gray2;
            if (nothing) continue;
            found = true;
            std::copy(r, r + 4, kept);
            if (m_white <= kept[3]) kept[3] = 255;
        }
        if (!found) {
            m_verdict = 1;
            const int64_t all = int64_t{page->lWidth} * page->lHeight;
            m_count = static_cast<int32_t>(std::min<int64_t>(all, INT32_MAX));
            return 0;
        }
        tagTVKIMAGEINFO flags{};
        std::unique_ptr<uint8_t[]> buf;
        if (uint32_t rc = GetGrayFlagImage(page, &flags, kept, buf); rc != 0) return rc;
        const int64_t count = GetGrayFieldCount(&flags);
        m_count = static_cast<int32_t>(std::min<int64_t>(count, INT32_MAX));
        m_verdict = count >= m_countThreshold ? 1 : 0;
        return 0;
    }

    virtual bool IsWhiteImage(const uint32_t* hist) {
        int lo = -1, hi = -1;
        uint64_t below = 0;
        for (int v = 0; v < m_white; ++v) {
            if (hist[v] == 0) continue;
            if (lo < 0) lo = v;
            hi = v;
            below += hist[v];
        }
        for (int v = m_white; v < 256; ++v)
            if (hist[v] != 0) {
                hi = m_white;
                break;
            }
        if (below == 0) return true;
        return hi - lo < 10 && ((lo < m_gray1 && hi < m_gray1) || (lo > m_gray2 && hi > m_gray2));
    }

    virtual void InitFromImage(tagTVKIMAGEINFO* page) {
        const int32_t r = std::min(page->lXResolution, page->lYResolution);
        if (r > 0) {
            const int64_t factor = std::max<int64_t>(1, int64_t{r} * r / 22500);
            m_countThreshold = static_cast<uint32_t>(
                std::min<int64_t>(int64_t{m_countThreshold} * factor, UINT32_MAX));
        }
        const int32_t h = page->lHeight;
        if (m_first < m_end) {
            const int32_t m = std::max(page->lYResolution, 0) * 5000 / 25400;
            if (int64_t{m_end} - m_first > 2 * int64_t{m}) {
                m_first += m;
                m_end -= m;
            }
            m_first = std::clamp(m_first, 0, h);
            m_end = std::clamp(m_end, 0, h);
        } else {
            m_first = 0;
            m_end = h;
        }
        if (int64_t{m_left} + m_right >= page->lWidth) m_left = m_right = 0;
    }

    // Colour pages are turned into one luminance plane for all lines, which
    // the flag image reads again; gray pages are read as they are.
    virtual bool GetHistgram(tagTVKIMAGEINFO* page, uint32_t* hist) {
        const int32_t n = page->lWidth - m_left - m_right;
        if (n <= 0) return true;
        if (page->lSpp != 1) {
            const size_t total = static_cast<size_t>(n) * static_cast<size_t>(page->lHeight);
            m_lumPlane.reset(new (std::nothrow) uint8_t[total == 0 ? 1 : total]);
            if (!m_lumPlane) return false;
            for (int32_t y = 0; y < page->lHeight; ++y)
                LuminanceLine(*page, y, m_left, n, m_lumPlane.get() + static_cast<size_t>(y) * n);
        }
        for (int32_t y = m_first; y < m_end; ++y) {
            const uint8_t* lum = LumRow(page, y);
            for (int32_t i = 0; i < n; ++i) ++hist[lum[i]];
        }
        return true;
    }

    virtual void DetectHistgram(const uint32_t* histIn, uint8_t* ranges) {
        DetectGray_FunctionSpace::DetectHistgram(
            histIn, {m_black, m_white, m_gray1, m_gray2, m_divisor, m_nIntensity}, ranges);
    }

    // One bit per pixel, set for luminance outside the dark and light
    // ranges, then opened to drop isolated gray specks (anti-aliased edges).
    virtual uint32_t GetGrayFlagImage(tagTVKIMAGEINFO* page, tagTVKIMAGEINFO* flags,
                                      const uint8_t* r, std::unique_ptr<uint8_t[]>& buf) {
        uint8_t lut[256];
        for (int v = 0; v < 256; ++v)
            lut[v] = ((v >= r[0] && v <= r[1]) || (v >= r[2] && v <= r[3])) ? 0 : 1;
        const int32_t pixels = std::max(page->lWidth - m_left - m_right, 0);
        const int32_t bytes = (pixels + 7) / 8;
        const int32_t lines = std::max(page->lHeight, 0);
        const size_t total = static_cast<size_t>(bytes) * lines;
        buf.reset(new (std::nothrow) uint8_t[total == 0 ? 1 : total]());
        if (!buf) return kIpErrOutOfMemory;
        const int32_t groups = pixels / 8;
        for (int32_t y = 0; y < lines && groups > 0; ++y) {
            const uint8_t* lum = LumRow(page, y);
            uint8_t* out = buf.get() + static_cast<size_t>(y) * bytes;
            for (int32_t g = 0; g < groups; ++g) {
                const uint8_t* l = lum + 8 * g;
                out[g] = static_cast<uint8_t>(lut[l[0]] << 7 | lut[l[1]] << 6 | lut[l[2]] << 5 |
                                              lut[l[3]] << 4 | lut[l[4]] << 3 | lut[l[5]] << 2 |
                                              lut[l[6]] << 1 | lut[l[7]]);
            }
        }
        BitImage img{buf.get(), bytes, lines};
        if (uint32_t rc = CompressWnd(img, 2, 2); rc != 0) return rc;
        if (uint32_t rc = ExtendWnd(img, 2, 2); rc != 0) return rc;
        *flags = tagTVKIMAGEINFO{};
        flags->size = kTvkImageInfoSize;
        flags->lpImage = buf.get();
        flags->lWidth = pixels;
        flags->lHeight = lines;
        flags->lSync = bytes;
        flags->tImageSize = static_cast<uint32_t>(std::min<size_t>(total, UINT32_MAX));
        flags->lBps = 1;
        flags->lSpp = 1;
        flags->ulRGBOrder = 1;
        flags->lXResolution = page->lXResolution;
        flags->lYResolution = page->lYResolution;
        return 0;
    }

    virtual int64_t GetGrayFieldCount(tagTVKIMAGEINFO* flags) {
        int64_t count = 0;
        const int32_t end = std::min(m_end, flags->lHeight);
        for (int32_t y = std::max(m_first, 0); y < end; ++y) {
            const uint8_t* p = flags->lpImage + static_cast<size_t>(y) * flags->lSync;
            int32_t i = 0;
            for (; i + 8 <= flags->lSync; i += 8) {
                uint64_t w;
                std::memcpy(&w, p + i, 8);
                count += std::popcount(w);
            }
            for (; i < flags->lSync; ++i) count += std::popcount(static_cast<unsigned>(p[i]));
        }
        return count;
    }

private:
    const uint8_t* LumRow(const tagTVKIMAGEINFO* page, int32_t y) const {
        if (page->lSpp == 1) return page->lpImage + static_cast<size_t>(y) * page->lSync + m_left;
        const size_t n = static_cast<size_t>(page->lWidth - m_left - m_right);
        return m_lumPlane.get() + static_cast<size_t>(y) * n;
    }

    std::unique_ptr<uint8_t[]> m_lumPlane;
    uint8_t m_black = 160;
    uint8_t m_white = 240;
    uint8_t m_gray1 = 160;
    uint8_t m_gray2 = 160;
    int32_t m_verdict = 0;
    int32_t m_count = 0;
    uint32_t m_countThreshold = 2304;
    uint32_t m_divisor = 65536;
    int32_t m_first = 0;
    int32_t m_end = 0;
    int32_t m_left = 0;
    int32_t m_right = 0;
    int32_t m_nIntensity = 0;
};

// The gray test with its argument checks, for IsGrayImage and DetectColorMode
// alike: a page with pixels, a request of at least the short form, and a page
// of 8-bit gray or RGB whose lines lie inside its buffer.
uint32_t RunGrayTest(tagTVKIMAGEINFO* page, tagDETECTGRAYINFO* req) {
    if (page == nullptr || page->lpImage == nullptr || req == nullptr ||
        req->ulSize < kDetectGrayInfoSizeMin)
        return kIpErrBadArgument;
    if (int64_t{page->lBps} * page->lSpp < 8) {
        req->bGray = 0;
        return 0;
    }
    if (!TvkImageFits(page, kTvkGray8 | kTvkRgb24Any)) return kIpErrBadArgument;
    std::unique_ptr<CDetectGray> worker(new (std::nothrow) CDetectGray);
    if (!worker) return kIpErrOutOfMemory;
    worker->SetBinarizeThreshold(req->btBlackLevel);
    worker->SetBlockThreshold(req->lIntensity);
    worker->SetGrayThreshold(req->btGrayBound1);
    worker->SetGrayThreshold(req->btGrayBound2);
    worker->SetWhiteThreshold(req->btWhiteLevel);
    if (req->ulSize >= kDetectGrayInfoSizeArea)
        worker->SetImageBorder(req->lAreaOffset, static_cast<int32_t>(std::clamp<int64_t>(
                                                     int64_t{req->lAreaOffset} + req->lAreaLength,
                                                     INT32_MIN, INT32_MAX)));
    if (req->ulSize >= kDetectGrayInfoSizeFull)
        worker->SetSideMargin(req->lLeftMargin, req->lRightMargin);
    const uint32_t rc = worker->Process(page);
    if (rc == 0) {
        req->bGray = static_cast<uint32_t>(worker->IsGrayImage());
        req->lGrayCount = worker->GetGrayBlockCount();
    }
    return rc;
}

uint32_t RunColorMode(tagTVKIMAGEINFO* page, tagDETECTCOLORMODEINFO* req) {
    req->ulResult = req->ulMode;
    for (;;) {
        uint32_t m = req->ulResult;
        if (m == 0) return kIpErrBadArgument;
        if (m == kColorModeColor || m == kColorModeGray || m == kColorModeMono) return 0;
        if (m & kColorModeColor) {
            if (int64_t{page->lBps} * page->lSpp != 24 || req->pColorInfo == nullptr)
                return kIpErrBadArgument;
            tagDETECT_COLOR_INFO local{};
            std::memcpy(&local, req->pColorInfo,
                        std::min<size_t>(sizeof(local), req->pColorInfo->ulSize));
            // The worker lives only within this call.
            local.pDetectColor = nullptr;
            local.lCommand = kDetectColorCreate;
            int32_t rc = IsColorImage(nullptr, &local);
            if (rc == 0) {
                local.lCommand = kDetectColorWholePage;
                rc = IsColorImage(page, &local);
            }
            local.lCommand = kDetectColorRelease;
            IsColorImage(nullptr, &local);
            if (rc != 0) {
                req->ulResult = 0;
                return static_cast<uint32_t>(rc);
            }
            req->pColorInfo->bColor = local.bColor;
            req->pColorInfo->lColorLineCount = local.lColorLineCount;
            if (local.bColor != 0) {
                req->ulResult = kColorModeColor;
                return 0;
            }
            m &= ~kColorModeColor;
        } else {
            if ((req->ulMode & kColorModeGray) == 0 || (req->ulMode & kColorModeMono) == 0) {
                req->ulResult = 0;
                return kIpErrBadArgument;
            }
            if (req->pGrayInfo == nullptr) return kIpErrBadArgument;
            if (uint32_t rc = RunGrayTest(page, req->pGrayInfo); rc != 0) {
                req->ulResult = 0;
                return rc;
            }
            const uint32_t before = m;
            m &= req->pGrayInfo->bGray != 0 ? ~kColorModeMono : ~kColorModeGray;
            // Bits other than the three modes would send the loop round the
            // gray test for ever.
            if (m == before || (m != kColorModeGray && m != kColorModeMono)) {
                req->ulResult = m;
                return kIpErrBadArgument;
            }
        }
        req->ulResult = m;
    }
}

} // namespace

uint32_t IsGrayImage(tagTVKIMAGEINFO* page, tagDETECTGRAYINFO* request) {
    IpSetLastError(0);
    try {
        return RunGrayTest(page, request);
    } catch (...) {
        return kIpErrOutOfMemory;
    }
}

uint32_t DetectColorMode(tagTVKIMAGEINFO* page, tagDETECTCOLORMODEINFO* request) {
    IpSetLastError(0);
    if (page == nullptr || request == nullptr || request->ulSize < kDetectColorModeInfoSize)
        return kIpErrBadArgument;
    uint32_t rc;
    try {
        rc = RunColorMode(page, request);
    } catch (...) {
        rc = kIpErrOutOfMemory;
    }
    return rc;
}
