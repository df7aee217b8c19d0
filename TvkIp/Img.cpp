// Raster images of the page-edge detectors.
#include "Img.h"

#include "ImageCheck.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

namespace {

// Bytes a line needs to hold `width` pixels of a depth (all planes).
int64_t NeededSync(int32_t bpp, int32_t width) {
    switch (bpp) {
    case 1:
        return (int64_t{width} + 7) / 8;
    case 8:
        return width;
    default:
        return int64_t{width} * 3;
    }
}

bool SupportedDepth(int32_t bpp) {
    return bpp == 1 || bpp == 8 || bpp == 24;
}

// A set describes a raster we can address safely: known depth, no negative
// sizes, and lines long enough for the width (a shorter line would make the
// last pixels of the last line lie beyond the buffer).
bool GeometryOk(const CImg::tagIMGSET& s, int64_t sync) {
    return SupportedDepth(s.bpp) && s.width >= 0 && s.height >= 0 && sync >= 0 &&
           sync <= INT32_MAX && sync >= NeededSync(s.bpp, s.width);
}

// A new owning raster of the given size and kind with a zeroed buffer.
CImg* NewRaster(int32_t w, int32_t h, int32_t bpp, int32_t order, int32_t xdpi, int32_t ydpi) {
    CImg::tagIMGSET s{nullptr, w, h, 0, xdpi, ydpi, bpp, order};
    return CImg::Create(s);
}

// Overlap of [pos, pos + len) with [0, limit), as a start in both ranges and a
// length; 64-bit so that pos + len cannot overflow.
struct Span {
    int64_t src = 0, dst = 0, len = 0;
};
Span Overlap(int32_t pos, int32_t len, int32_t limit) {
    const int64_t a = std::max<int64_t>(pos, 0);
    const int64_t b = std::min<int64_t>(int64_t{pos} + len, limit);
    Span s;
    if (b > a) {
        s.src = a;
        s.dst = a - pos;
        s.len = b - a;
    }
    return s;
}

constexpr int32_t kRectThreshold = 128;

} // namespace

// ---------------------------------------------------------------------------
// CImg

CImg::~CImg() {
    if (m_bOwn) delete[] pImg;
}

CImg* CImg::Make(const tagIMGSET& set) {
    switch (set.bpp) {
    case 1:
        return new (std::nothrow) CBinaryImg;
    case 8:
        return new (std::nothrow) CGrayImg;
    case 24:
        if (set.pixelorder == 1) return new (std::nothrow) CColorImg2;
        return new (std::nothrow) CColorImg;
    default:
        return nullptr;
    }
}

CImg* CImg::Create(const tagIMGSET& set) {
    const int64_t sync = set.sync != 0 ? int64_t{set.sync} : NeededSync(set.bpp, set.width);
    if (!GeometryOk(set, sync)) return nullptr;
    const uint64_t bytes = static_cast<uint64_t>(sync) * static_cast<uint64_t>(set.height);
    if (bytes > static_cast<uint64_t>(PTRDIFF_MAX)) return nullptr;
    CImg* img = Make(set);
    if (!img) return nullptr;
    // A raster made to be filled later starts zeroed, so nothing reads
    // indeterminate bytes from it.
    const size_t n = static_cast<size_t>(bytes);
    uint8_t* buf =
        set.pImg ? new (std::nothrow) uint8_t[n ? n : 1] : new (std::nothrow) uint8_t[n ? n : 1]();
    if (!buf) {
        delete img;
        return nullptr;
    }
    if (set.pImg && n) std::memcpy(buf, set.pImg, n);
    img->pImg = buf;
    img->m_bOwn = true;
    img->width = set.width;
    img->height = set.height;
    img->sync = static_cast<int32_t>(sync);
    img->xdpi = set.xdpi;
    img->ydpi = set.ydpi;
    img->bpp = set.bpp;
    img->m_lAdded = 0;
    return img;
}

CImg* CImg::Set(const tagIMGSET& set) {
    if (!set.pImg || set.sync == 0 || !GeometryOk(set, set.sync)) return nullptr;
    CImg* img = Make(set);
    if (!img) return nullptr;
    img->pImg = set.pImg;
    img->m_bOwn = false;
    img->width = set.width;
    img->height = set.height;
    img->sync = set.sync;
    img->xdpi = set.xdpi;
    img->ydpi = set.ydpi;
    img->bpp = set.bpp;
    return img;
}

void CImg::imgset(tagIMGSET* set) const {
    if (!set) return;
    set->pImg = pImg;
    set->width = width;
    set->height = height;
    set->sync = sync;
    set->xdpi = xdpi;
    set->ydpi = ydpi;
    set->bpp = bpp;
    // The planar kind describes itself as planar, so a copy made from this
    // description reads its planes as planes.
    set->pixelorder = m_bPlanar ? 1 : 0;
}

CImg* CImg::clone() const {
    tagIMGSET s;
    imgset(&s);
    return Create(s);
}

CImg* CImg::change_pImg(uint8_t* p) {
    if (!m_bOwn) pImg = p;
    return this;
}

void CImg::revers() {
    if (bpp == 1 || !pImg) return;
    const size_t n = static_cast<size_t>(sync) * static_cast<size_t>(std::max(height, 0));
    for (size_t i = 0; i < n; ++i) pImg[i] = static_cast<uint8_t>(~pImg[i]);
}

uint32_t CImg::add(const CImg* band) {
    if (!band || bpp == 1 || !pImg) return kIpErrBadArgument;
    const CImgPtr conv(bpp == 8 ? band->gray() : band->color());
    if (!conv) return band->bpp == 1 ? kIpErrBadArgument : kIpErrOutOfMemory;
    // The next line to write follows from the count: a band taller than the
    // room left is clipped, and the count still grows by its full height.
    const int32_t start = std::clamp(m_lAdded, 0, height);
    const int32_t lines = std::max(0, std::min(conv->height, height - start));
    if (!m_bPlanar) {
        const size_t n = static_cast<size_t>(std::max(0, std::min(conv->sync, sync)));
        for (int32_t i = 0; i < lines; ++i) std::memcpy(line(start + i), conv->line(i), n);
    } else {
        const int32_t n = std::min(conv->width, planeSync());
        const int32_t ps = planeSync();
        for (int32_t i = 0; i < lines; ++i) {
            const uint8_t* s = conv->line(i);
            uint8_t* d = line(start + i);
            for (int32_t x = 0; x < n; ++x) {
                d[x] = s[3 * x];
                d[ps + x] = s[3 * x + 1];
                d[2 * ps + x] = s[3 * x + 2];
            }
        }
    }
    m_lAdded = static_cast<int32_t>(
        std::min<int64_t>(int64_t{m_lAdded} + std::max(band->height, 0), INT32_MAX));
    return 0;
}

uint32_t CImg::past(int32_t, int32_t, const CImg*) {
    return kIpErrFailed;
}

CImg* CImg::rivise_resolution() const {
    if (xdpi <= 0 || ydpi <= 0) return nullptr;
    if (xdpi == ydpi) return clone();
    tagIMGSET s;
    imgset(&s);
    s.pImg = nullptr;
    s.pixelorder = 0;
    const int32_t r = std::min(xdpi, ydpi);
    if (xdpi > ydpi)
        s.width = static_cast<int32_t>(int64_t{width} * ydpi / xdpi);
    else
        s.height = static_cast<int32_t>(int64_t{height} * xdpi / ydpi);
    s.xdpi = r;
    s.ydpi = r;
    CImg* out = Create(s);
    if (!out) return nullptr;
    for (int32_t y = 0; y < out->height; ++y) {
        const int32_t sy = ydpi > xdpi ? static_cast<int32_t>(int64_t{y} * ydpi / xdpi) : y;
        for (int32_t x = 0; x < out->width; ++x) {
            const int32_t sx = xdpi > ydpi ? static_cast<int32_t>(int64_t{x} * xdpi / ydpi) : x;
            out->put(x, y, get(sx, sy));
        }
    }
    return out;
}

uint32_t CImg::rect(Tvk::tagRECT* box, Tvk::tagPOINT* points) const {
    if (!box) return kIpErrBadArgument;
    *box = {width, -1, -1, height};
    if (!pImg || width <= 0 || height <= 0) return 0;

    // The same test as `black` at 128, without a virtual call per pixel.
    const int32_t ps = planeSync();
    const auto dark = [&](int32_t x, int32_t y) -> bool {
        const uint8_t* l = line(y);
        switch (bpp) {
        case 1:
            return (l[x >> 3] >> (7 - (x & 7))) & 1;
        case 8:
            return l[x] < kRectThreshold;
        default:
            return (m_bPlanar ? l[ps + x] : l[3 * x + 1]) < kRectThreshold;
        }
    };

    // Top: the first dark pixel in row order.
    int32_t topX = -1, topY = -1;
    for (int32_t y = 0; y < height && topY < 0; ++y)
        for (int32_t x = 0; x < width; ++x)
            if (dark(x, y)) {
                topX = x;
                topY = y;
                break;
            }
    if (topY < 0) return 0; // no dark pixel: the box stays empty, points untouched

    // Bottom: the first dark pixel of the last row that has one.
    int32_t botX = -1, botY = -1;
    for (int32_t y = height - 1; y >= topY && botY < 0; --y)
        for (int32_t x = 0; x < width; ++x)
            if (dark(x, y)) {
                botX = x;
                botY = y;
                break;
            }

    // Left: the smallest x; among equals the smallest y (rows are visited
    // downwards and only a strictly smaller x replaces the best).
    int32_t leftX = width, leftY = -1;
    for (int32_t y = topY; y <= botY; ++y)
        for (int32_t x = 0; x < leftX; ++x)
            if (dark(x, y)) {
                leftX = x;
                leftY = y;
                break;
            }

    // Right: the largest x; among equals the smallest y.
    int32_t rightX = -1, rightY = -1;
    for (int32_t y = topY; y <= botY; ++y)
        for (int32_t x = width - 1; x > rightX; --x)
            if (dark(x, y)) {
                rightX = x;
                rightY = y;
                break;
            }

    *box = {leftX, botY, rightX, topY};
    if (points) {
        points[0] = {leftX, leftY};
        points[1] = {botX, botY};
        points[2] = {rightX, rightY};
        points[3] = {topX, topY};
    }
    return 0;
}

CImg* CImg::cutout(int32_t x, int32_t y, int32_t w, int32_t h) const {
    // The byte kinds use this as it is: whole pixels of `bytes` bytes, copied
    // line by line where the rectangle overlaps the raster (planes one by one).
    if (w < 0 || h < 0) return nullptr;
    CImg* out = NewRaster(w, h, bpp, m_bPlanar ? 1 : 0, xdpi, ydpi);
    if (!out || !pImg) return out;
    const int32_t bytes = (bpp == 24 && !m_bPlanar) ? 3 : 1;
    const int planes = m_bPlanar ? 3 : 1;
    const Span sx = Overlap(x, w, width);
    const Span sy = Overlap(y, h, height);
    for (int64_t i = 0; i < sy.len; ++i) {
        const uint8_t* s = line(static_cast<int32_t>(sy.src + i));
        uint8_t* d = out->line(static_cast<int32_t>(sy.dst + i));
        for (int p = 0; p < planes; ++p)
            std::memcpy(d + static_cast<ptrdiff_t>(p) * out->planeSync() + sx.dst * bytes,
                        s + static_cast<ptrdiff_t>(p) * planeSync() + sx.src * bytes,
                        static_cast<size_t>(sx.len * bytes));
    }
    return out;
}

// ---------------------------------------------------------------------------
// CBinaryImg

void CBinaryImg::put(int32_t x, int32_t y, uint32_t value) {
    if (!inside(x, y)) return;
    uint8_t& b = line(y)[x >> 3];
    const uint8_t bit = static_cast<uint8_t>(0x80u >> (x & 7));
    b = value ? static_cast<uint8_t>(b | bit) : static_cast<uint8_t>(b & ~bit);
}

uint32_t CBinaryImg::get(int32_t x, int32_t y) const {
    return inside(x, y) && dark(x, y);
}

CImg* CBinaryImg::binary(int32_t) const {
    return clone();
}
CImg* CBinaryImg::gray() const {
    return nullptr;
}
CImg* CBinaryImg::color() const {
    return nullptr;
}

bool CBinaryImg::black(int32_t x, int32_t y, int32_t) const {
    return inside(x, y) && dark(x, y);
}

CImg* CBinaryImg::cutout(int32_t x, int32_t y, int32_t w, int32_t h) const {
    // The rectangle itself, shifted to bit 0 of the new lines.
    if (w < 0 || h < 0) return nullptr;
    CImg* out = NewRaster(w, h, 1, 0, xdpi, ydpi);
    if (!out || !pImg) return out;
    auto* bin = static_cast<CBinaryImg*>(out);
    const Span sx = Overlap(x, w, width);
    const Span sy = Overlap(y, h, height);
    for (int64_t i = 0; i < sy.len; ++i) {
        const int32_t ys = static_cast<int32_t>(sy.src + i);
        uint8_t* d = bin->line(static_cast<int32_t>(sy.dst + i));
        for (int64_t j = 0; j < sx.len; ++j) {
            const int32_t xd = static_cast<int32_t>(sx.dst + j);
            if (dark(static_cast<int32_t>(sx.src + j), ys))
                d[xd >> 3] |= static_cast<uint8_t>(0x80u >> (xd & 7));
        }
    }
    return out;
}

// ---------------------------------------------------------------------------
// CGrayImg

void CGrayImg::put(int32_t x, int32_t y, uint32_t value) {
    if (inside(x, y)) line(y)[x] = static_cast<uint8_t>(value);
}

uint32_t CGrayImg::get(int32_t x, int32_t y) const {
    return inside(x, y) ? line(y)[x] : 0u;
}

CImg* CGrayImg::binary(int32_t) const {
    return nullptr;
}
CImg* CGrayImg::gray() const {
    return clone();
}

CImg* CGrayImg::color() const {
    CImg* out = NewRaster(width, height, 24, 0, xdpi, ydpi);
    if (!out) return nullptr;
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* s = line(y);
        uint8_t* d = out->line(y);
        for (int32_t x = 0; x < width; ++x) d[3 * x] = d[3 * x + 1] = d[3 * x + 2] = s[x];
    }
    return out;
}

bool CGrayImg::black(int32_t x, int32_t y, int32_t threshold) const {
    return inside(x, y) && line(y)[x] < threshold;
}

// ---------------------------------------------------------------------------
// CColorImg

namespace {

// Binary and gray forms of a colour raster from its second sample, given the
// offset of that sample in a line and the step from pixel to pixel.
CImg* BinaryFromSecond(const CImg& src, ptrdiff_t offset, int step, int32_t threshold) {
    CImg* out = NewRaster(src.width, src.height, 1, 0, src.xdpi, src.ydpi);
    if (!out) return nullptr;
    for (int32_t y = 0; y < src.height; ++y) {
        const uint8_t* s = src.line(y) + offset;
        uint8_t* d = out->line(y);
        for (int32_t x = 0; x < src.width; ++x)
            if (s[static_cast<ptrdiff_t>(x) * step] < threshold)
                d[x >> 3] |= static_cast<uint8_t>(0x80u >> (x & 7));
    }
    return out;
}

CImg* GrayFromSecond(const CImg& src, ptrdiff_t offset, int step) {
    CImg* out = NewRaster(src.width, src.height, 8, 0, src.xdpi, src.ydpi);
    if (!out) return nullptr;
    for (int32_t y = 0; y < src.height; ++y) {
        const uint8_t* s = src.line(y) + offset;
        uint8_t* d = out->line(y);
        for (int32_t x = 0; x < src.width; ++x) d[x] = s[static_cast<ptrdiff_t>(x) * step];
    }
    return out;
}

} // namespace

void CColorImg::put(int32_t x, int32_t y, uint32_t value) {
    if (!inside(x, y)) return;
    uint8_t* p = line(y) + 3 * static_cast<ptrdiff_t>(x);
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
    p[2] = static_cast<uint8_t>(value >> 16);
}

uint32_t CColorImg::get(int32_t x, int32_t y) const {
    if (!inside(x, y)) return 0;
    const uint8_t* p = line(y) + 3 * static_cast<ptrdiff_t>(x);
    return p[0] | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16;
}

CImg* CColorImg::binary(int32_t threshold) const {
    return BinaryFromSecond(*this, 1, 3, threshold);
}

CImg* CColorImg::gray() const {
    return GrayFromSecond(*this, 1, 3);
}

CImg* CColorImg::color() const {
    return clone();
}

bool CColorImg::black(int32_t x, int32_t y, int32_t threshold) const {
    return inside(x, y) && line(y)[3 * static_cast<ptrdiff_t>(x) + 1] < threshold;
}

// ---------------------------------------------------------------------------
// CColorImg2: the same operations reading the planes as planes.

void CColorImg2::put(int32_t x, int32_t y, uint32_t value) {
    if (!inside(x, y)) return;
    plane(y, 0)[x] = static_cast<uint8_t>(value);
    plane(y, 1)[x] = static_cast<uint8_t>(value >> 8);
    plane(y, 2)[x] = static_cast<uint8_t>(value >> 16);
}

uint32_t CColorImg2::get(int32_t x, int32_t y) const {
    if (!inside(x, y)) return 0;
    return plane(y, 0)[x] | uint32_t{plane(y, 1)[x]} << 8 | uint32_t{plane(y, 2)[x]} << 16;
}

CImg* CColorImg2::binary(int32_t threshold) const {
    return BinaryFromSecond(*this, planeSync(), 1, threshold);
}

CImg* CColorImg2::gray() const {
    return GrayFromSecond(*this, planeSync(), 1);
}

CImg* CColorImg2::color() const {
    CImg* out = NewRaster(width, height, 24, 0, xdpi, ydpi);
    if (!out) return nullptr;
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* r = plane(y, 0);
        const uint8_t* g = plane(y, 1);
        const uint8_t* b = plane(y, 2);
        uint8_t* d = out->line(y);
        for (int32_t x = 0; x < width; ++x) {
            d[3 * x] = r[x];
            d[3 * x + 1] = g[x];
            d[3 * x + 2] = b[x];
        }
    }
    return out;
}

bool CColorImg2::black(int32_t x, int32_t y, int32_t threshold) const {
    return inside(x, y) && plane(y, 1)[x] < threshold;
}

// ---------------------------------------------------------------------------
// Descriptions

void Convert_TVKIMAGEINFOtoIMGSET(const tagTVKIMAGEINFO* info, CImg::tagIMGSET* set,
                                   bool descriptionOnly) {
    if (!info || !set) return;
    // A record whose lines leave its buffer becomes no raster at all, which
    // every detector refuses with its own code. A description (set-up) may
    // come without pixels; its raster then has no buffer.
    if (!TvkImageFits(info, kTvkAnyLayout | (descriptionOnly ? kTvkDescription : 0u))) {
        *set = CImg::tagIMGSET{};
        return;
    }
    set->pImg = info->lpImage;
    set->width = info->lWidth;
    set->height = info->lHeight;
    set->sync = info->lSync;
    set->xdpi = info->lXResolution;
    set->ydpi = info->lYResolution;
    set->bpp = Clamp32(int64_t{info->lBps} * info->lSpp);
    if (info->ulRGBOrder == 1) {
        // The record's line size counts one plane; the raster's all of them.
        set->pixelorder = 1;
        set->sync = static_cast<int32_t>(
            std::clamp<int64_t>(int64_t{info->lSync} * info->lSpp, INT32_MIN, INT32_MAX));
    } else {
        set->pixelorder = 0;
    }
}

bool is_artful_image(const CImg::tagIMGSET& set) {
    switch (set.bpp) {
    case 8:
        return is_artful_image_gray(set);
    case 24:
        return is_artful_image_color(set);
    default:
        return false;
    }
}

bool is_artful_image_gray(const CImg::tagIMGSET& set) {
    if (!set.pImg || set.width <= 0) return false;
    const uint8_t* p = set.pImg;
    return std::all_of(p + 1, p + set.width, [first = p[0]](uint8_t v) { return v == first; });
}

bool is_artful_image_color(const CImg::tagIMGSET& set) {
    if (!set.pImg || set.width <= 0) return false;
    const uint8_t* p = set.pImg;
    if (set.pixelorder == 1) {
        // A line too short for three planes of the width cannot be read.
        const int64_t ps = (set.sync != 0 ? int64_t{set.sync} : int64_t{set.width} * 3) / 3;
        if (ps < set.width) return false;
        for (int k = 0; k < 3; ++k) {
            const uint8_t* q = p + k * ps;
            for (int32_t x = 1; x < set.width; ++x)
                if (q[x] != q[0]) return false;
        }
        return true;
    }
    for (int32_t x = 1; x < set.width; ++x) {
        const uint8_t* q = p + 3 * static_cast<ptrdiff_t>(x);
        if (q[0] != p[0] || q[1] != p[1] || q[2] != p[2]) return false;
    }
    return true;
}
