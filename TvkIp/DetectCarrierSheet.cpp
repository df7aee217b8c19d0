// Carrier-sheet geometry and image steps.
#include "DetectCarrierSheet.h"

#include "TvkIpError.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace CARRIERSHEET_FUNCSPACE {

namespace {

constexpr int64_t kOne16 = 65536;

int64_t Cross(int64_t ax, int64_t ay, int64_t bx, int64_t by) {
    return ax * by - ay * bx;
}

bool MakeGray(tagTVKIMAGEINFO& out, const tagTVKIMAGEINFO& like, int32_t width, int32_t height) {
    const int64_t size = int64_t{width} * height;
    if (width <= 0 || height <= 0 || size > int64_t{UINT32_MAX}) return false;
    auto* buf = new (std::nothrow) uint8_t[static_cast<size_t>(size)]();
    if (buf == nullptr) return false;
    out = like;
    out.size = kTvkImageInfoSize;
    out.lpImage = buf;
    out.lXpos = 0;
    out.lYpos = 0;
    out.lWidth = width;
    out.lHeight = height;
    out.lSync = width;
    out.tImageSize = static_cast<uint32_t>(size);
    out.lBps = 8;
    out.lSpp = 1;
    out.ulRGBOrder = 1;
    return true;
}

// Output sample k of an area-averaged reduction of n samples (step apart)
// from `high` to `low` units.
void ReduceRun(const uint8_t* in, int64_t inStep, int64_t n, uint8_t* out, int64_t outStep,
               int64_t outN, int64_t high, int64_t low) {
    // Source sample j covers [j * low, (j + 1) * low), output k covers
    // [k * high, (k + 1) * high) in common units.
    for (int64_t k = 0; k < outN; ++k) {
        const int64_t a = k * high;
        const int64_t b = a + high;
        int64_t sum = 0;
        int64_t weight = 0;
        for (int64_t j = a / low; j < n && j * low < b; ++j) {
            const int64_t w = std::min(b, (j + 1) * low) - std::max(a, j * low);
            if (w <= 0) continue;
            sum += in[j * inStep] * w;
            weight += w;
        }
        out[k * outStep] = static_cast<uint8_t>(weight > 0 ? sum / weight : 0);
    }
}

} // namespace

int32_t DetectBlackBelt(const tagTVKIMAGEINFO* image, Tvk::tagPOINT leftTop, Tvk::tagPOINT rightTop,
                        Tvk::tagPOINT slant, const tagBELTPARAM* param, bool front,
                        int32_t duplexOffset) {
    if (image == nullptr || image->lpImage == nullptr || param == nullptr) return kBeltBadRequest;
    const int64_t spp = std::clamp(image->lSpp, 1, 3);
    const bool planar = image->ulRGBOrder == 1;
    const int64_t channelStep = planar ? image->lSync : 1;
    const int64_t pixelStep = planar ? 1 : spp;
    const int64_t lineStep = planar ? int64_t{image->lSync} * spp : image->lSync;

    const int64_t m = int64_t{image->lXResolution} * 1000 / 25400;
    const int64_t x0 = leftTop.x + m;
    const int64_t x1 = std::min<int64_t>(image->lWidth, rightTop.x - m);
    const int64_t belt = int64_t{image->lYResolution} * param->lenBelt / 25400;
    const int64_t ignore = int64_t{image->lYResolution} * param->lenIgnore / 25400;
    const int64_t h = belt > ignore ? belt - ignore : 1;

    int64_t line = leftTop.y;
    if (front && duplexOffset < 0) {
        line = leftTop.y - int64_t{duplexOffset};
    } else if (!front && duplexOffset > 0) {
        line = leftTop.y + int64_t{duplexOffset};
    }
    line += ignore;

    // Follow the top edge across the columns in 16.16 fixed point.
    int64_t step = 0;
    int64_t dir = 1;
    if (slant.y != 0) {
        if (slant.y > slant.x) {
            step = int64_t{slant.x} * kOne16 / slant.y;
            dir = -1;
        } else if (slant.x != 0) {
            step = int64_t{slant.y} * kOne16 / slant.x;
        }
    }
    int64_t acc = step * m;
    int64_t sum = 0;
    int64_t columns = 0;
    for (int64_t x = x0; x < x1; ++x) {
        if (acc > kOne16 || acc < -kOne16) {
            line += dir * (acc / kOne16);
            acc %= kOne16;
        }
        int64_t y0 = line;
        int64_t y1 = line + h;
        acc += step;
        if (x < 0) continue;
        ++columns;
        if (y0 < 0) y0 = 0;
        if (y1 > image->lHeight) y1 = image->lHeight;
        const int64_t lines = y1 - y0;
        if (lines <= 0) continue;
        int64_t dark = 0;
        const uint8_t* p = image->lpImage + y0 * lineStep + x * pixelStep;
        for (int64_t y = y0; y < y1; ++y, p += lineStep) {
            bool isDark = true;
            for (int64_t c = 0; c < spp && isDark; ++c) isDark = p[c * channelStep] < param->th[c];
            if (isDark) ++dark;
        }
        if (4 * dark > 3 * lines) sum += dark;
    }
    const int64_t n = h * columns;
    return sum * kOne16 > n * int64_t{param->thBlack} ? kBeltFound : kBeltMissing;
}

Tvk::tagPOINT BuildSlant(Tvk::tagPOINT p, int32_t rx, int32_t ry, int32_t lengthUm) {
    const int64_t r = std::min(rx, ry);
    if (r <= 0) return p;
    const double f = static_cast<double>(int64_t{lengthUm} * r) / 25400.0;
    const int64_t qx = r * p.x / rx;
    const int64_t qy = r * p.y / ry;
    const double n = std::sqrt(static_cast<double>(qx * qx + qy * qy));
    if (n == 0.0) return p;
    int64_t u = static_cast<int64_t>(f * static_cast<double>(qx) / n);
    int64_t v = static_cast<int64_t>(f * static_cast<double>(qy) / n);
    if (v == 0) {
        v = u;
        u = 0;
    }
    return {static_cast<int32_t>(rx * u / r), static_cast<int32_t>(ry * v / r)};
}

void CheckFourPoint(tagFOURPOINT& pts) {
    Tvk::tagPOINT ul = pts.leftTop, ll = pts.leftBottom;
    if (ll.y < ul.y) std::swap(ul, ll);
    Tvk::tagPOINT ur = pts.rightTop, lr = pts.rightBottom;
    if (lr.y < ur.y) std::swap(ur, lr);
    if (ul.y < ur.y && ur.y > ll.y) {
        std::swap(ur, ll);
    } else if (ul.y > ur.y && ul.y > lr.y) {
        std::swap(ul, lr);
    }
    if (ur.x < ul.x) std::swap(ul, ur);
    if (lr.x < ll.x) std::swap(ll, lr);
    pts = {ul, ur, ll, lr};
}

void RotateFourPoint(tagFOURPOINT& pts, Tvk::tagPOINT vec) {
    if (vec.x == 0 || vec.y == 0) return;
    int64_t c = vec.x;
    int64_t d = vec.y;
    if (vec.x < vec.y) {
        c = vec.y;
        d = -int64_t{vec.x};
    }
    const double n = std::sqrt(static_cast<double>(c * c + d * d));
    for (Tvk::tagPOINT* p : {&pts.leftTop, &pts.rightTop, &pts.leftBottom, &pts.rightBottom}) {
        const int64_t x = p->x;
        const int64_t y = p->y;
        *p = {static_cast<int32_t>(static_cast<double>(x * c - y * d) / n),
              static_cast<int32_t>(static_cast<double>(x * d + y * c) / n)};
    }
    CheckFourPoint(pts);
}

bool is_cross_line(Tvk::tagPOINT a1, Tvk::tagPOINT a2, Tvk::tagPOINT b1, Tvk::tagPOINT b2,
                   Tvk::tagPOINT* at) {
    const int64_t rx = int64_t{a2.x} - a1.x, ry = int64_t{a2.y} - a1.y;
    const int64_t sx = int64_t{b2.x} - b1.x, sy = int64_t{b2.y} - b1.y;
    const int64_t d = Cross(rx, ry, sx, sy);
    if (d == 0) return false;
    const int64_t qx = int64_t{b1.x} - a1.x, qy = int64_t{b1.y} - a1.y;
    int64_t t = Cross(qx, qy, sx, sy);
    int64_t u = Cross(qx, qy, rx, ry);
    int64_t dd = d;
    if (dd < 0) {
        dd = -dd;
        t = -t;
        u = -u;
    }
    if (t < 0 || t > dd || u < 0 || u > dd) return false;
    if (at != nullptr) {
        *at = {static_cast<int32_t>(a1.x + rx * t / dd), static_cast<int32_t>(a1.y + ry * t / dd)};
    }
    return true;
}

tagEDGEBOX get_rect_from_points(const Tvk::tagPOINT* pts, int n) {
    if (n <= 0) return {0, 0, 0, 0};
    int32_t l = pts[0].x, t = pts[0].y, rr = pts[0].x, b = pts[0].y;
    for (int i = 1; i < n; ++i) {
        l = std::min(l, pts[i].x);
        t = std::min(t, pts[i].y);
        rr = std::max(rr, pts[i].x);
        b = std::max(b, pts[i].y);
    }
    return {l, t, rr, b};
}

tagEDGEBOX compare_rect_and_four_point(const Tvk::tagPOINT rect[4], const Tvk::tagPOINT quad[4]) {
    Tvk::tagPOINT found[4 * 2 + 4 + 4];
    int n = 0;
    for (int i = 0; i < 4; ++i) {
        int hits = 0;
        for (int j = 0; j < 4 && hits < 2; ++j) {
            Tvk::tagPOINT at{};
            if (is_cross_line(rect[i], rect[(i + 1) % 4], quad[j], quad[(j + 1) % 4], &at)) {
                found[n++] = at;
                ++hits;
            }
        }
    }
    auto centre = [](const Tvk::tagPOINT p[4]) {
        int64_t x = 0, y = 0;
        for (int i = 0; i < 4; ++i) {
            x += p[i].x;
            y += p[i].y;
        }
        return Tvk::tagPOINT{static_cast<int32_t>(x / 4), static_cast<int32_t>(y / 4)};
    };
    // Corners of one shape that its centre-to-corner segment shows inside the other.
    auto inside = [&](const Tvk::tagPOINT from[4], const Tvk::tagPOINT other[4]) {
        const Tvk::tagPOINT c = centre(other);
        for (int i = 0; i < 4; ++i) {
            bool crosses = false;
            for (int j = 0; j < 4 && !crosses; ++j) {
                crosses = is_cross_line(c, from[i], other[j], other[(j + 1) % 4], nullptr);
            }
            if (!crosses) found[n++] = from[i];
        }
    };
    inside(rect, quad);
    inside(quad, rect);
    return n == 0 ? get_rect_from_points(rect, 4) : get_rect_from_points(found, n);
}

namespace {
// To the scanned image: shift by the cut-out's origin, then scale from the
// lower resolution.
Tvk::tagPOINT ToSource(Tvk::tagPOINT p, Tvk::tagPOINT origin, int32_t xdpi, int32_t ydpi) {
    const int64_t low = std::min(xdpi, ydpi);
    int64_t x = int64_t{p.x} + origin.x;
    int64_t y = int64_t{p.y} + origin.y;
    if (low > 0) {
        x = x * xdpi / low;
        y = y * ydpi / low;
    }
    return {static_cast<int32_t>(x), static_cast<int32_t>(y)};
}
} // namespace

void calc_four_point_core_for_carrieer_sheet(tagFOURPOINT& pts, Tvk::tagPOINT keep,
                                             Tvk::tagPOINT origin, int32_t xdpi, int32_t ydpi) {
    RotateFourPoint(pts, keep);
    for (Tvk::tagPOINT* p : {&pts.leftTop, &pts.rightTop, &pts.leftBottom, &pts.rightBottom}) {
        *p = ToSource(*p, origin, xdpi, ydpi);
    }
}

tagEDGEBOX calc_rect_core_for_carrier_sheet(const tagEDGEBOX& rect, const tagFOURPOINT& pts,
                                            Tvk::tagPOINT keep, Tvk::tagPOINT origin, int32_t xdpi,
                                            int32_t ydpi) {
    // The rectangle's corners (left, top, right, bottom words) turned like the corners.
    tagFOURPOINT box{{rect.left, rect.top},
                     {rect.right, rect.top},
                     {rect.left, rect.bottom},
                     {rect.right, rect.bottom}};
    RotateFourPoint(box, keep);
    tagFOURPOINT quad = pts;
    RotateFourPoint(quad, keep);
    const Tvk::tagPOINT r[4] = {box.leftTop, box.rightTop, box.rightBottom, box.leftBottom};
    const Tvk::tagPOINT q[4] = {quad.leftTop, quad.rightTop, quad.rightBottom, quad.leftBottom};
    const tagEDGEBOX o = compare_rect_and_four_point(r, q);
    const Tvk::tagPOINT lt = ToSource({o.left, o.top}, origin, xdpi, ydpi);
    const Tvk::tagPOINT rb = ToSource({o.right, o.bottom}, origin, xdpi, ydpi);
    return {lt.x, lt.y, rb.x, rb.y};
}

bool GreenToGray(tagTVKIMAGEINFO& out, const tagTVKIMAGEINFO& src) {
    if (src.lpImage == nullptr || src.lBps != 8 || (src.lSpp != 1 && src.lSpp != 3)) return false;
    if (!MakeGray(out, src, src.lWidth, src.lHeight)) return false;
    const bool planar = src.lSpp == 3 && src.ulRGBOrder == 1;
    const int64_t lineStep = planar ? 3 * int64_t{src.lSync} : src.lSync;
    for (int32_t y = 0; y < src.lHeight; ++y) {
        const uint8_t* in = src.lpImage + y * lineStep;
        uint8_t* o = out.lpImage + int64_t{y} * out.lSync;
        if (src.lSpp == 1) {
            std::memcpy(o, in, static_cast<size_t>(src.lWidth));
        } else if (planar) {
            std::memcpy(o, in + src.lSync, static_cast<size_t>(src.lWidth));
        } else {
            for (int32_t x = 0; x < src.lWidth; ++x) o[x] = in[3 * x + 1];
        }
    }
    return true;
}

uint32_t ResampleToLowerResolution(tagTVKIMAGEINFO& out, const tagTVKIMAGEINFO& src,
                                   tagROTATEINFO& rot) {
    const int64_t xr = src.lXResolution;
    const int64_t yr = src.lYResolution;
    if (xr <= 0 || yr <= 0 || src.lBps * src.lSpp != 8) return kIpErrBadArgument;
    if (xr == yr) return 0;
    const bool across = xr > yr;
    const int64_t high = across ? xr : yr;
    const int64_t low = across ? yr : xr;
    const int64_t w = across ? src.lWidth * low / high : src.lWidth;
    const int64_t h = across ? src.lHeight : src.lHeight * low / high;
    if (!MakeGray(out, src, static_cast<int32_t>(w), static_cast<int32_t>(h))) {
        return kIpErrCannotRun;
    }
    if (across) {
        out.lXResolution = static_cast<int32_t>(low);
        for (int64_t y = 0; y < h; ++y) {
            ReduceRun(src.lpImage + y * src.lSync, 1, src.lWidth, out.lpImage + y * out.lSync, 1, w,
                      high, low);
        }
        auto sx = [&](int32_t& v) { v = static_cast<int32_t>(v * low / high); };
        for (Tvk::tagPOINT* p : {&rot.topLeft, &rot.bottomLeft, &rot.topRight, &rot.bottomRight}) {
            sx(p->x);
        }
        sx(rot.keep.x);
        sx(rot.srcWidth);
    } else {
        out.lYResolution = static_cast<int32_t>(low);
        for (int64_t x = 0; x < w; ++x) {
            ReduceRun(src.lpImage + x, src.lSync, src.lHeight, out.lpImage + x, out.lSync, h, high,
                      low);
        }
        auto sy = [&](int32_t& v) { v = static_cast<int32_t>(v * low / high); };
        for (Tvk::tagPOINT* p : {&rot.topLeft, &rot.bottomLeft, &rot.topRight, &rot.bottomRight}) {
            sy(p->y);
        }
        sy(rot.keep.y);
    }
    if (rot.keep.x == 0 && rot.keep.y == 0) rot.keep = {1, 0};
    return 0;
}

} // namespace CARRIERSHEET_FUNCSPACE
