// Test kit: owning images, generated pages and PNM files.
#include "TestKit.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

namespace kdtest {

// ---------------------------------------------------------------------------
// TestImage

namespace {

int32_t DefaultSyncFor(int32_t width, int32_t bps, int32_t spp, uint32_t order) {
    // Interleaved colour keeps all samples of a pixel on one line; otherwise a
    // line size is that of one plane.
    const int64_t bits = (spp == 3 && order == 0) ? int64_t{bps} * spp : int64_t{bps};
    return TvkDefaultSync(width, bits);
}

bool IsPlanar(const tagTVKIMAGEINFO& i) {
    return i.lSpp == 3 && i.ulRGBOrder != 0;
}

int32_t FullSyncOf(const tagTVKIMAGEINFO& i) {
    return IsPlanar(i) ? 3 * i.lSync : i.lSync;
}

// Byte offset, within a line, of sample c of pixel x of a colour image.
size_t SampleOffset(const tagTVKIMAGEINFO& i, int32_t x, int c) {
    const size_t bytes = static_cast<size_t>(i.lBps / 8);
    return IsPlanar(i) ? static_cast<size_t>(c) * i.lSync + x * bytes
                       : (static_cast<size_t>(x) * 3 + c) * bytes;
}

} // namespace

TestImage::TestImage(int32_t width, int32_t height, int32_t bps, int32_t spp, uint32_t order,
                     int32_t sync, int32_t dpi) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    m_info.size = kTvkImageInfoSize;
    m_info.lWidth = width;
    m_info.lHeight = height;
    m_info.lBps = bps;
    m_info.lSpp = spp;
    m_info.ulRGBOrder = order;
    m_info.lSync = sync > 0 ? sync : DefaultSyncFor(width, bps, spp, order);
    m_info.lXResolution = dpi;
    m_info.lYResolution = dpi;
    m_buf.assign(static_cast<size_t>(fullSync()) * static_cast<size_t>(height), 0);
    repoint();
}

TestImage::TestImage(const TestImage& other) : m_buf(other.m_buf), m_info(other.m_info) {
    repoint();
}

TestImage::TestImage(TestImage&& other) noexcept
    : m_buf(std::move(other.m_buf)), m_info(other.m_info) {
    repoint();
    other.m_buf.clear();
    other.m_info = tagTVKIMAGEINFO{};
    other.repoint();
}

TestImage& TestImage::operator=(const TestImage& other) {
    if (this != &other) {
        m_buf = other.m_buf;
        m_info = other.m_info;
        repoint();
    }
    return *this;
}

TestImage& TestImage::operator=(TestImage&& other) noexcept {
    if (this != &other) {
        m_buf = std::move(other.m_buf);
        m_info = other.m_info;
        repoint();
        other.m_buf.clear();
        other.m_info = tagTVKIMAGEINFO{};
        other.repoint();
    }
    return *this;
}

void TestImage::repoint() {
    m_info.lpImage = m_buf.empty() ? nullptr : m_buf.data();
    m_info.tImageSize = static_cast<uint32_t>(m_buf.size());
}

TestImage TestImage::Gray(int32_t w, int32_t h, uint8_t fill, int32_t dpi) {
    TestImage img(w, h, 8, 1, 1, 0, dpi);
    std::fill(img.m_buf.begin(), img.m_buf.end(), fill);
    return img;
}

TestImage TestImage::Binary(int32_t w, int32_t h, int32_t dpi) {
    return TestImage(w, h, 1, 1, 1, 0, dpi);
}

TestImage TestImage::Color(int32_t w, int32_t h, uint32_t order, uint8_t fill, int32_t dpi) {
    TestImage img(w, h, 8, 3, order, 0, dpi);
    std::fill(img.m_buf.begin(), img.m_buf.end(), fill);
    return img;
}

int32_t TestImage::fullSync() const {
    return FullSyncOf(m_info);
}

uint32_t GetPixel(const tagTVKIMAGEINFO& image, int32_t x, int32_t y) {
    const uint8_t* l = image.lpImage + static_cast<size_t>(y) * FullSyncOf(image);
    const int32_t bps = image.lBps;
    if (image.lSpp != 3) {
        if (bps == 1) return (l[x >> 3] >> (7 - (x & 7))) & 1u;
        if (bps == 16) {
            uint16_t v;
            std::memcpy(&v, l + 2 * static_cast<size_t>(x), 2);
            return v;
        }
        return l[x];
    }
    uint32_t s[3];
    for (int c = 0; c < 3; ++c) {
        const size_t pos = SampleOffset(image, x, c);
        if (bps == 16) {
            uint16_t v;
            std::memcpy(&v, l + pos, 2);
            s[c] = v >> 8;
        } else {
            s[c] = l[pos];
        }
    }
    return s[0] | s[1] << 8 | s[2] << 16;
}

void SetPixel(const tagTVKIMAGEINFO& image, int32_t x, int32_t y, uint32_t v) {
    uint8_t* l = image.lpImage + static_cast<size_t>(y) * FullSyncOf(image);
    const int32_t bps = image.lBps;
    if (image.lSpp != 3) {
        if (bps == 1) {
            const uint8_t bit = static_cast<uint8_t>(0x80u >> (x & 7));
            if (v & 1u)
                l[x >> 3] |= bit;
            else
                l[x >> 3] &= static_cast<uint8_t>(~bit);
        } else if (bps == 16) {
            const uint16_t s = static_cast<uint16_t>(v);
            std::memcpy(l + 2 * static_cast<size_t>(x), &s, 2);
        } else {
            l[x] = static_cast<uint8_t>(v);
        }
        return;
    }
    for (int c = 0; c < 3; ++c) {
        const uint8_t b = static_cast<uint8_t>(v >> (8 * c));
        const size_t pos = SampleOffset(image, x, c);
        if (bps == 16) {
            const uint16_t s = static_cast<uint16_t>(b * 257u);
            std::memcpy(l + pos, &s, 2);
        } else {
            l[pos] = b;
        }
    }
}

uint32_t TestImage::get(int32_t x, int32_t y) const {
    return GetPixel(m_info, x, y);
}

void TestImage::set(int32_t x, int32_t y, uint32_t v) {
    SetPixel(m_info, x, y, v);
}

void FillRect(TestImage& img, int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint32_t v) {
    for (int32_t y = y0; y < y1; ++y)
        for (int32_t x = x0; x < x1; ++x) img.set(x, y, v);
}

TestImage GrayToColor(const TestImage& gray, uint32_t order) {
    TestImage rgb =
        TestImage::Color(gray.width(), gray.height(), order, 255, gray.info()->lXResolution);
    for (int32_t y = 0; y < gray.height(); ++y)
        for (int32_t x = 0; x < gray.width(); ++x) rgb.set(x, y, gray.get(x, y) * 0x010101u);
    rgb.info()->lYResolution = gray.info()->lYResolution;
    return rgb;
}

tagTVKIMAGEINFO TestImage::band(int32_t y0, int32_t n) const {
    tagTVKIMAGEINFO b = m_info;
    y0 = std::clamp(y0, 0, m_info.lHeight);
    n = std::clamp(n, 0, m_info.lHeight - y0);
    b.lpImage = const_cast<uint8_t*>(m_buf.data()) + static_cast<size_t>(y0) * fullSync();
    b.lHeight = n;
    b.tImageSize = static_cast<uint32_t>(static_cast<size_t>(n) * fullSync());
    return b;
}

bool TestImage::samePixels(const TestImage& other) const {
    const tagTVKIMAGEINFO& a = m_info;
    const tagTVKIMAGEINFO& b = other.m_info;
    if (a.lWidth != b.lWidth || a.lHeight != b.lHeight || a.lBps != b.lBps || a.lSpp != b.lSpp)
        return false;
    const bool sameLayout = a.lSpp == 1 || (a.ulRGBOrder == 0) == (b.ulRGBOrder == 0);
    if (!sameLayout) {
        for (int32_t y = 0; y < a.lHeight; ++y)
            for (int32_t x = 0; x < a.lWidth; ++x)
                if (get(x, y) != other.get(x, y)) return false;
        return true;
    }
    // Same layout: compare the meaningful bytes of each sample row.
    const int rows = IsPlanar(a) ? 3 : 1;
    const int64_t bits = int64_t{a.lWidth} * a.lBps * (IsPlanar(a) ? 1 : a.lSpp);
    const size_t whole = static_cast<size_t>(bits / 8);
    const int rest = static_cast<int>(bits % 8);
    const uint8_t mask = static_cast<uint8_t>(0xFF00u >> rest);
    for (int32_t y = 0; y < a.lHeight; ++y) {
        for (int r = 0; r < rows; ++r) {
            const uint8_t* pa = line(y) + static_cast<size_t>(r) * a.lSync;
            const uint8_t* pb = other.line(y) + static_cast<size_t>(r) * b.lSync;
            if (std::memcmp(pa, pb, whole) != 0) return false;
            if (rest && ((pa[whole] ^ pb[whole]) & mask)) return false;
        }
    }
    return true;
}

std::mt19937& Rng(uint32_t seed) {
    thread_local std::mt19937 engine;
    engine.seed(seed);
    return engine;
}

void FillRandom(uint8_t* p, size_t n, uint32_t seed) {
    std::mt19937& rng = Rng(seed);
    for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(rng());
}

// ---------------------------------------------------------------------------
// Drawing helpers shared by the generators

namespace {

// Up to three 8-bit planes of w x h that become a TestImage at the end.
struct Canvas {
    int32_t w = 0, h = 0, planes = 1;
    std::vector<uint8_t> px; // plane after plane
    Canvas(int32_t w_, int32_t h_, int32_t planes_, uint8_t fill)
        : w(std::max(w_, 0)), h(std::max(h_, 0)), planes(planes_),
          px(static_cast<size_t>(w) * h * planes, fill) {}
    uint8_t* row(int p, int32_t y) { return px.data() + (static_cast<size_t>(p) * h + y) * w; }
};

TestImage ToImage(Canvas& c, int32_t spp, uint32_t order, int32_t xdpi, int32_t ydpi) {
    // Gray pages carry layout 1, as the library's own gray images do.
    TestImage img(c.w, c.h, 8, spp, spp == 3 ? order : 1u, 0, xdpi);
    img.info()->lYResolution = ydpi;
    for (int32_t y = 0; y < c.h; ++y) {
        uint8_t* dst = img.line(y);
        if (spp == 1) {
            std::memcpy(dst, c.row(0, y), static_cast<size_t>(c.w));
            continue;
        }
        for (int p = 0; p < 3; ++p) {
            const uint8_t* src = c.row(c.planes == 3 ? p : 0, y);
            if (order != 0) {
                std::memcpy(dst + static_cast<size_t>(p) * img.sync(), src,
                            static_cast<size_t>(c.w));
            } else {
                for (int32_t x = 0; x < c.w; ++x) dst[3 * static_cast<size_t>(x) + p] = src[x];
            }
        }
    }
    return img;
}

void FillRect(Canvas& c, int32_t x0, int32_t y0, int32_t x1, int32_t y1, const uint8_t* levels) {
    x0 = std::clamp(x0, 0, c.w);
    x1 = std::clamp(x1, 0, c.w);
    y0 = std::clamp(y0, 0, c.h);
    y1 = std::clamp(y1, 0, c.h);
    if (x1 <= x0) return;
    for (int p = 0; p < c.planes; ++p)
        for (int32_t y = y0; y < y1; ++y)
            std::memset(c.row(p, y) + x0, levels[p], static_cast<size_t>(x1 - x0));
}

struct Box {
    double x0, y0, x1, y1;
};

// Word blocks on text lines inside a w x h area, with margins, ragged line
// ends and paragraph gaps.
std::vector<Box> WordBoxes(double w, double h, uint32_t seed) {
    std::vector<Box> boxes;
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u01(0.0, 1.0);
    const double pitch = std::max(6.0, h / 55.0);
    const double wordH = std::max(2.0, std::round(pitch * 0.55));
    const double mx = std::max(2.0, std::round(w * 0.08));
    const double my = std::max(2.0, std::round(h * 0.07));
    for (double y = my; y + wordH <= h - my; y += pitch) {
        if (u01(rng) < 0.12) continue; // paragraph gap
        const double lineEnd = w - mx - (u01(rng) < 0.2 ? u01(rng) * (w - 2 * mx) * 0.6 : 0.0);
        double x = mx + (u01(rng) < 0.15 ? pitch * 2 : 0.0);
        while (true) {
            const double ww = std::round(pitch * (0.8 + 4.0 * u01(rng)));
            if (x + ww > lineEnd) break;
            boxes.push_back({x, y, x + ww, y + wordH});
            x += ww + std::round(pitch * 0.6);
        }
    }
    return boxes;
}

struct Pt {
    double x, y;
};

// Paints a convex quadrilateral (corners in order around it) with a level,
// blending by coverage. Coverage is exact across a row and sampled at four
// heights within it, and only pixels on the edges pay for it.
void PaintQuad(Canvas& c, const Pt (&q)[4], const uint8_t* levels) {
    double minY = q[0].y, maxY = q[0].y;
    for (const Pt& p : q) {
        minY = std::min(minY, p.y);
        maxY = std::max(maxY, p.y);
    }
    const int32_t ys = std::max<int32_t>(0, static_cast<int32_t>(std::floor(minY)));
    const int32_t ye = std::min<int32_t>(c.h, static_cast<int32_t>(std::ceil(maxY)));
    constexpr int kSub = 4;
    constexpr double kInf = std::numeric_limits<double>::infinity();
    for (int32_t y = ys; y < ye; ++y) {
        double L[kSub], R[kSub];
        bool all = true, any = false;
        for (int k = 0; k < kSub; ++k) {
            const double t = y + (k + 0.5) / kSub;
            L[k] = kInf;
            R[k] = -kInf;
            for (int e = 0; e < 4; ++e) {
                const Pt& a = q[e];
                const Pt& b = q[(e + 1) & 3];
                if (a.y == b.y) continue;
                const double lo = std::min(a.y, b.y), hi = std::max(a.y, b.y);
                if (t < lo || t >= hi) continue;
                const double x = a.x + (t - a.y) * (b.x - a.x) / (b.y - a.y);
                L[k] = std::min(L[k], x);
                R[k] = std::max(R[k], x);
            }
            if (L[k] < R[k])
                any = true;
            else
                all = false;
        }
        if (!any) continue;
        double minL = kInf, maxL = -kInf, minR = kInf, maxR = -kInf;
        for (int k = 0; k < kSub; ++k) {
            if (L[k] >= R[k]) continue;
            minL = std::min(minL, L[k]);
            maxL = std::max(maxL, L[k]);
            minR = std::min(minR, R[k]);
            maxR = std::max(maxR, R[k]);
        }
        const int32_t x0 = std::max<int32_t>(0, static_cast<int32_t>(std::floor(minL)));
        const int32_t x1 = std::min<int32_t>(c.w, static_cast<int32_t>(std::ceil(maxR)));
        int32_t i0 = x1, i1 = x1; // fully covered run [i0, i1)
        if (all) {
            i0 = std::clamp(static_cast<int32_t>(std::ceil(maxL)), x0, x1);
            i1 = std::clamp(static_cast<int32_t>(std::floor(minR)), i0, x1);
        }
        for (int p = 0; p < c.planes; ++p) {
            uint8_t* r = c.row(p, y);
            const double lv = levels[p];
            auto blend = [&](int32_t from, int32_t to) {
                for (int32_t x = from; x < to; ++x) {
                    double cov = 0;
                    for (int k = 0; k < kSub; ++k) {
                        const double a = std::max<double>(x, L[k]);
                        const double b = std::min<double>(x + 1, R[k]);
                        if (b > a) cov += b - a;
                    }
                    cov /= kSub;
                    if (cov <= 0) continue;
                    const double v = r[x] + (lv - r[x]) * cov;
                    r[x] = static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L));
                }
            };
            blend(x0, i0);
            if (i1 > i0) std::memset(r + i0, levels[p], static_cast<size_t>(i1 - i0));
            blend(i1, x1);
        }
    }
}

} // namespace

// ---------------------------------------------------------------------------
// Generated pages

TestImage TextPage(int32_t w, int32_t h, int32_t spp, uint32_t order, uint32_t seed, uint8_t paper,
                   uint8_t ink) {
    Canvas c(w, h, 1, paper);
    const uint8_t lv[1] = {ink};
    for (const Box& b : WordBoxes(c.w, c.h, seed))
        FillRect(c, static_cast<int32_t>(b.x0), static_cast<int32_t>(b.y0),
                 static_cast<int32_t>(b.x1), static_cast<int32_t>(b.y1), lv);
    return ToImage(c, spp, order, 300, 300);
}

TestImage PhotoPage(int32_t w, int32_t h, int32_t spp, uint32_t order, uint32_t seed) {
    const int planes = spp == 3 ? 3 : 1;
    Canvas c(w, h, planes, 0);
    if (c.w == 0 || c.h == 0) return ToImage(c, spp, order, 300, 300);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u01(0.0, 1.0);
    // A gradient per plane in its own direction.
    for (int p = 0; p < planes; ++p) {
        const double gx = (u01(rng) * 2 - 1) * 160.0 / c.w;
        const double gy = (u01(rng) * 2 - 1) * 160.0 / c.h;
        const double base = 60 + u01(rng) * 120;
        const double cx = c.w / 2.0, cy = c.h / 2.0;
        for (int32_t y = 0; y < c.h; ++y) {
            uint8_t* r = c.row(p, y);
            const double rowBase = base + gy * (y - cy);
            for (int32_t x = 0; x < c.w; ++x) {
                const double v = rowBase + gx * (x - cx);
                r[x] = static_cast<uint8_t>(std::clamp(static_cast<int>(v), 0, 255));
            }
        }
    }
    // Soft blobs, lighter or darker, touched only inside their bounding box.
    const int blobs = 8;
    for (int i = 0; i < blobs; ++i) {
        const double bx = u01(rng) * c.w, by = u01(rng) * c.h;
        const double rad = std::max(2.0, (0.05 + 0.15 * u01(rng)) * std::min(c.w, c.h));
        double amp[3];
        for (double& a : amp) a = (u01(rng) * 2 - 1) * 90;
        const int32_t y0 = std::max(0, static_cast<int32_t>(by - rad));
        const int32_t y1 = std::min(c.h, static_cast<int32_t>(by + rad) + 1);
        const int32_t x0 = std::max(0, static_cast<int32_t>(bx - rad));
        const int32_t x1 = std::min(c.w, static_cast<int32_t>(bx + rad) + 1);
        for (int p = 0; p < planes; ++p) {
            for (int32_t y = y0; y < y1; ++y) {
                uint8_t* r = c.row(p, y);
                const double dy2 = (y - by) * (y - by);
                for (int32_t x = x0; x < x1; ++x) {
                    const double d2 = ((x - bx) * (x - bx) + dy2) / (rad * rad);
                    if (d2 >= 1) continue;
                    const double f = (1 - d2) * (1 - d2);
                    const double v = r[x] + amp[p] * f;
                    r[x] = static_cast<uint8_t>(std::clamp(static_cast<int>(v), 0, 255));
                }
            }
        }
    }
    return ToImage(c, spp, order, 300, 300);
}

TestImage NoisePage(int32_t w, int32_t h, int32_t bps, int32_t spp, uint32_t order, uint32_t seed) {
    TestImage img(w, h, bps, spp, spp == 3 ? order : 1u);
    std::mt19937 rng(seed);
    std::vector<uint8_t>& b = img.bytes();
    size_t i = 0;
    for (; i + 4 <= b.size(); i += 4) {
        const uint32_t v = rng();
        std::memcpy(b.data() + i, &v, 4);
    }
    for (; i < b.size(); ++i) b[i] = static_cast<uint8_t>(rng());
    return img;
}

TestImage BinaryTextPage(int32_t w, int32_t h, uint32_t seed) {
    TestImage img = TestImage::Binary(w, h);
    if (img.width() == 0 || img.height() == 0) return img;
    auto fillBits = [&img](int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
        x0 = std::clamp(x0, 0, img.width());
        x1 = std::clamp(x1, 0, img.width());
        y0 = std::clamp(y0, 0, img.height());
        y1 = std::clamp(y1, 0, img.height());
        for (int32_t y = y0; y < y1; ++y) {
            uint8_t* l = img.line(y);
            for (int32_t x = x0; x < x1; ++x) l[x >> 3] |= static_cast<uint8_t>(0x80u >> (x & 7));
        }
    };
    for (const Box& b : WordBoxes(img.width(), img.height(), seed))
        fillBits(static_cast<int32_t>(b.x0), static_cast<int32_t>(b.y0), static_cast<int32_t>(b.x1),
                 static_cast<int32_t>(b.y1));
    // Isolated specks of one to two pixels, as a noise filter would see them.
    std::mt19937 rng(seed ^ 0x9E3779B9u);
    const int specks = std::max(4, static_cast<int>(int64_t{img.width()} * img.height() / 20000));
    for (int i = 0; i < specks; ++i) {
        const int32_t x = static_cast<int32_t>(rng() % static_cast<uint32_t>(img.width()));
        const int32_t y = static_cast<int32_t>(rng() % static_cast<uint32_t>(img.height()));
        const int32_t s = 1 + static_cast<int32_t>(rng() % 2);
        fillBits(x, y, x + s, y + s);
    }
    return img;
}

namespace {

// Maps a point of the sheet's own frame (origin at its centre, u across,
// v down) to image pixels, turning it clockwise by the skew.
Pt SheetToImage(const SheetSpec& s, double u, double v) {
    const double a = s.angleDeg * 3.14159265358979323846 / 180.0;
    const double ca = std::cos(a), sa = std::sin(a);
    return {s.centerX + u * ca - v * sa, s.centerY + u * sa + v * ca};
}

} // namespace

std::vector<Corner> SheetCorners(const SheetSpec& s) {
    const double hw = s.sheetWidth / 2, hh = s.sheetHeight / 2;
    const Pt p[4] = {SheetToImage(s, -hw, -hh), SheetToImage(s, hw, -hh), SheetToImage(s, hw, hh),
                     SheetToImage(s, -hw, hh)};
    std::vector<Corner> out;
    for (const Pt& q : p) out.push_back({q.x, q.y});
    return out;
}

TestImage SheetPage(const SheetSpec& s) {
    const int planes = s.spp == 3 ? 3 : 1;
    Canvas c(s.imageWidth, s.imageHeight, planes, s.backing);
    const double hw = s.sheetWidth / 2, hh = s.sheetHeight / 2;
    auto quad = [&s](double u0, double v0, double u1, double v1, Pt(&q)[4]) {
        q[0] = SheetToImage(s, u0, v0);
        q[1] = SheetToImage(s, u1, v0);
        q[2] = SheetToImage(s, u1, v1);
        q[3] = SheetToImage(s, u0, v1);
    };
    const uint8_t shadow[3] = {s.shadowLevel, s.shadowLevel, s.shadowLevel};
    const uint8_t paper[3] = {s.paper, s.paper, s.paper};
    const uint8_t ink[3] = {40, 40, 40};
    Pt q[4];
    if (s.shadow > 0) {
        quad(-hw, -hh - s.shadow, hw, -hh, q);
        PaintQuad(c, q, shadow);
    }
    if (s.sheetWidth > 0 && s.sheetHeight > 0) {
        quad(-hw, -hh, hw, hh, q);
        PaintQuad(c, q, paper);
        if (s.content) {
            for (const Box& b : WordBoxes(s.sheetWidth, s.sheetHeight, s.seed)) {
                quad(b.x0 - hw, b.y0 - hh, b.x1 - hw, b.y1 - hh, q);
                PaintQuad(c, q, ink);
            }
        }
    }
    return ToImage(c, s.spp, s.order, s.xdpi, s.ydpi);
}

SheetSpec FedSheetSpec(double sheetWidth, double sheetHeight, double angle, int32_t leadIn,
                       int32_t trailing, int32_t side) {
    SheetSpec s;
    s.sheetWidth = sheetWidth;
    s.sheetHeight = sheetHeight;
    const double a = std::fabs(angle) * 3.14159265358979323846 / 180;
    const double h = sheetWidth * std::sin(a) + sheetHeight * std::cos(a);
    const double w = sheetWidth * std::cos(a) + sheetHeight * std::sin(a);
    s.imageWidth = static_cast<int32_t>(std::ceil(w)) + 2 * side;
    s.imageHeight = static_cast<int32_t>(std::ceil(leadIn + h)) + trailing;
    s.centerX = side + w / 2;
    s.centerY = leadIn + h / 2;
    s.angleDeg = angle;
    return s;
}

namespace {

// Calls f(samples, step) for every 8-bit sample row of every line: `step`
// bytes from one pixel's sample to the next.
template <class F> void ForEachSampleRow(TestImage& img, F f) {
    const tagTVKIMAGEINFO& i = *img.info();
    if (i.lBps != 8 || img.width() <= 0) return;
    const bool planar = i.lSpp == 3 && i.ulRGBOrder != 0;
    for (int32_t y = 0; y < img.height(); ++y) {
        for (int c = 0; c < i.lSpp; ++c) {
            uint8_t* row = img.line(y) + (planar ? static_cast<size_t>(c) * i.lSync : c);
            f(y, c, row, planar || i.lSpp == 1 ? 1 : 3);
        }
    }
}

uint8_t ClampLevel(double v) {
    return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L));
}

} // namespace

void AddGaussianNoise(TestImage& img, double sigma, uint32_t seed) {
    if (sigma <= 0) return;
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, sigma);
    ForEachSampleRow(img, [&](int32_t, int, uint8_t* row, int step) {
        for (int32_t x = 0; x < img.width(); ++x) {
            uint8_t& v = row[static_cast<size_t>(x) * step];
            v = ClampLevel(v + noise(rng));
        }
    });
}

void BoxBlur(TestImage& img, int32_t radius) {
    if (radius <= 0) return;
    const int32_t w = img.width(), h = img.height();
    const int samples = img.info()->lSpp;
    // One plane per sample: copy out, blur along rows, then along columns.
    std::vector<double> plane(static_cast<size_t>(w) * h), tmp(plane.size());
    for (int c = 0; c < samples; ++c) {
        ForEachSampleRow(img, [&](int32_t y, int cc, uint8_t* row, int step) {
            if (cc != c) return;
            for (int32_t x = 0; x < w; ++x)
                plane[static_cast<size_t>(y) * w + x] = row[static_cast<size_t>(x) * step];
        });
        auto pass = [&](const std::vector<double>& in, std::vector<double>& out, bool rows) {
            const int32_t n = rows ? w : h, lines = rows ? h : w;
            for (int32_t l = 0; l < lines; ++l) {
                for (int32_t k = 0; k < n; ++k) {
                    double sum = 0;
                    for (int32_t d = -radius; d <= radius; ++d) {
                        const int32_t j = std::clamp(k + d, 0, n - 1);
                        sum += rows ? in[static_cast<size_t>(l) * w + j]
                                    : in[static_cast<size_t>(j) * w + l];
                    }
                    (rows ? out[static_cast<size_t>(l) * w + k]
                          : out[static_cast<size_t>(k) * w + l]) = sum / (2 * radius + 1);
                }
            }
        };
        pass(plane, tmp, true);
        pass(tmp, plane, false);
        ForEachSampleRow(img, [&](int32_t y, int cc, uint8_t* row, int step) {
            if (cc != c) return;
            for (int32_t x = 0; x < w; ++x)
                row[static_cast<size_t>(x) * step] =
                    ClampLevel(plane[static_cast<size_t>(y) * w + x]);
        });
    }
}

void JpegLikeLoss(TestImage& img, double step) {
    if (step <= 0) return;
    const int32_t w = img.width(), h = img.height();
    double basis[8][8];
    for (int k = 0; k < 8; ++k)
        for (int n = 0; n < 8; ++n)
            basis[k][n] = (k == 0 ? std::sqrt(0.125) : 0.5) *
                          std::cos((2 * n + 1) * k * 3.14159265358979323846 / 16);
    // Line pointers and sample steps of each sample row, per sample.
    const int samples = img.info()->lSpp;
    std::vector<uint8_t*> rows(static_cast<size_t>(h) * samples);
    int sampleStep = 1;
    ForEachSampleRow(img, [&](int32_t y, int c, uint8_t* row, int st) {
        rows[static_cast<size_t>(y) * samples + c] = row;
        sampleStep = st;
    });
    for (int c = 0; c < samples; ++c) {
        for (int32_t by = 0; by + 8 <= h; by += 8) {
            for (int32_t bx = 0; bx + 8 <= w; bx += 8) {
                double block[8][8], coef[8][8], tmp[8][8];
                for (int y = 0; y < 8; ++y)
                    for (int x = 0; x < 8; ++x)
                        block[y][x] =
                            rows[static_cast<size_t>(by + y) * samples + c]
                                [static_cast<size_t>(bx + x) * sampleStep] - 128.0;
                for (int y = 0; y < 8; ++y) // rows
                    for (int k = 0; k < 8; ++k) {
                        double s = 0;
                        for (int n = 0; n < 8; ++n) s += basis[k][n] * block[y][n];
                        tmp[y][k] = s;
                    }
                for (int k = 0; k < 8; ++k) // columns, then rounding
                    for (int x = 0; x < 8; ++x) {
                        double s = 0;
                        for (int n = 0; n < 8; ++n) s += basis[k][n] * tmp[n][x];
                        const double q = k == 0 && x == 0 ? std::max(1.0, step / 4) : step;
                        coef[k][x] = std::round(s / q) * q;
                    }
                for (int n = 0; n < 8; ++n) // back along columns
                    for (int x = 0; x < 8; ++x) {
                        double s = 0;
                        for (int k = 0; k < 8; ++k) s += basis[k][n] * coef[k][x];
                        tmp[n][x] = s;
                    }
                for (int y = 0; y < 8; ++y)
                    for (int n = 0; n < 8; ++n) {
                        double s = 0;
                        for (int k = 0; k < 8; ++k) s += basis[k][n] * tmp[y][k];
                        rows[static_cast<size_t>(by + y) * samples + c]
                            [static_cast<size_t>(bx + n) * sampleStep] = ClampLevel(s + 128.0);
                    }
            }
        }
    }
}

// ---------------------------------------------------------------------------
// PNM files

namespace {

struct FileCloser {
    void operator()(FILE* f) const {
        if (f) std::fclose(f);
    }
};
using File = std::unique_ptr<FILE, FileCloser>;

// Reads one header number, skipping white space and comments.
bool ReadNumber(FILE* f, int64_t& out) {
    int ch = std::fgetc(f);
    while (true) {
        if (ch == '#') {
            while (ch != EOF && ch != '\n') ch = std::fgetc(f);
        } else if (ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n') {
            ch = std::fgetc(f);
        } else {
            break;
        }
    }
    if (ch < '0' || ch > '9') return false;
    out = 0;
    while (ch >= '0' && ch <= '9') {
        out = out * 10 + (ch - '0');
        if (out > (int64_t{1} << 31)) return false;
        ch = std::fgetc(f);
    }
    // Exactly one white-space character ends the last header field.
    return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n';
}

} // namespace

bool WritePnm(const std::string& path, const tagTVKIMAGEINFO& im) {
    if (!im.lpImage || im.lWidth <= 0 || im.lHeight <= 0) return false;
    const int32_t w = im.lWidth, h = im.lHeight;
    const int32_t full = FullSyncOf(im);
    std::vector<uint8_t> row;
    char header[64];
    if (im.lBps == 1 && im.lSpp == 1) {
        std::snprintf(header, sizeof header, "P4\n%d %d\n", w, h);
        row.resize(static_cast<size_t>(w + 7) / 8);
    } else if ((im.lBps == 8 || im.lBps == 16) && (im.lSpp == 1 || im.lSpp == 3)) {
        std::snprintf(header, sizeof header, "P%c\n%d %d\n%d\n", im.lSpp == 1 ? '5' : '6', w, h,
                      im.lBps == 8 ? 255 : 65535);
        row.resize(static_cast<size_t>(w) * im.lSpp * (im.lBps / 8));
    } else {
        return false;
    }
    File f(std::fopen(path.c_str(), "wb"));
    if (!f) return false;
    if (std::fputs(header, f.get()) < 0) return false;
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* l = im.lpImage + static_cast<size_t>(y) * full;
        if (im.lBps == 1) {
            std::memcpy(row.data(), l, row.size());
            if (w % 8) row.back() &= static_cast<uint8_t>(0xFF00u >> (w % 8));
        } else {
            const int spp = im.lSpp, bytes = im.lBps / 8;
            for (int32_t x = 0; x < w; ++x) {
                for (int c = 0; c < spp; ++c) {
                    const size_t pos =
                        spp == 1 ? static_cast<size_t>(x) * bytes : SampleOffset(im, x, c);
                    uint8_t* d = row.data() + (static_cast<size_t>(x) * spp + c) * bytes;
                    if (bytes == 1) {
                        d[0] = l[pos];
                    } else { // PNM stores the high byte first
                        uint16_t v;
                        std::memcpy(&v, l + pos, 2);
                        d[0] = static_cast<uint8_t>(v >> 8);
                        d[1] = static_cast<uint8_t>(v);
                    }
                }
            }
        }
        if (std::fwrite(row.data(), 1, row.size(), f.get()) != row.size()) return false;
    }
    return std::fflush(f.get()) == 0;
}

bool ReadPnm(const std::string& path, TestImage& out) {
    File f(std::fopen(path.c_str(), "rb"));
    if (!f) return false;
    if (std::fgetc(f.get()) != 'P') return false;
    const int kind = std::fgetc(f.get());
    if (kind != '4' && kind != '5' && kind != '6') return false;
    int64_t w = 0, h = 0, maxval = 1;
    if (!ReadNumber(f.get(), w) || !ReadNumber(f.get(), h)) return false;
    if (kind != '4' && !ReadNumber(f.get(), maxval)) return false;
    if (w <= 0 || h <= 0 || w > 1 << 16 || h > 1 << 16 || maxval <= 0 || maxval > 65535)
        return false;
    const int32_t bps = kind == '4' ? 1 : (maxval > 255 ? 16 : 8);
    const int32_t spp = kind == '6' ? 3 : 1;
    TestImage img(static_cast<int32_t>(w), static_cast<int32_t>(h), bps, spp, spp == 3 ? 0u : 1u);
    const size_t rowBytes =
        bps == 1 ? static_cast<size_t>(w + 7) / 8 : static_cast<size_t>(w) * spp * (bps / 8);
    std::vector<uint8_t> row(rowBytes);
    for (int32_t y = 0; y < img.height(); ++y) {
        if (std::fread(row.data(), 1, rowBytes, f.get()) != rowBytes) return false;
        uint8_t* l = img.line(y);
        if (bps == 16) {
            for (size_t i = 0; i < rowBytes / 2; ++i) {
                const uint16_t v = static_cast<uint16_t>(row[2 * i] << 8 | row[2 * i + 1]);
                std::memcpy(l + 2 * i, &v, 2);
            }
        } else {
            std::memcpy(l, row.data(), rowBytes);
        }
    }
    out = std::move(img);
    return true;
}

std::string TempPath(const std::string& name) {
    const char* dir = std::getenv("KD_TEST_TMP");
    std::string base = (dir && *dir) ? dir : "/tmp";
    if (base.back() != '/') base += '/';
    return base + name;
}

} // namespace kdtest
