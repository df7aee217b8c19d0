// Carrier-sheet geometry and image steps.
#include "DetectCarrierSheet.h"

#include "DetectSize2Duplex.h"
#include "DetectSlantAndSizeEx_OneRadiateEx.h"
#include "OneRadiateExFields.h"
#include "SizeDetectorGlue.h"
#include "TrimCorner.h"
#include "TvkIpError.h"
#include "WorkImage.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <new>

namespace CARRIERSHEET_FUNCSPACE {

namespace {

constexpr int64_t kOne16 = 65536;

int64_t Cross(int64_t ax, int64_t ay, int64_t bx, int64_t by) {
    return ax * by - ay * bx;
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
    if (!MakeWorkImage(out, src, src.lWidth, src.lHeight)) return false;
    const bool planar = src.lSpp == 3 && src.ulRGBOrder == 1;
    for (int32_t y = 0; y < src.lHeight; ++y) {
        const uint8_t* in = TvkLinePtr(src, y);
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
    if (xr <= 0 || yr <= 0 || int64_t{src.lBps} * src.lSpp != 8) return kIpErrBadArgument;
    if (xr == yr) return 0;
    const bool across = xr > yr;
    const int64_t high = across ? xr : yr;
    const int64_t low = across ? yr : xr;
    const int64_t w = across ? src.lWidth * low / high : src.lWidth;
    const int64_t h = across ? src.lHeight : src.lHeight * low / high;
    if (!MakeWorkImage(out, src, static_cast<int32_t>(w), static_cast<int32_t>(h))) {
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

// ---------------------------------------------------------------------------
// Carrier-sheet passes of the four-corner detector

namespace {

using Request = tagDETECTSLANTSIZEEX_ONERADIATE_EX;
using ScanInfo = tagONERADIATEEX_SCANINFO;
using ScannerInfo = tagONERADIATEEX_SCANNERINFO;
using SettingInfo = tagONERADIATEEX_SETTINGINFO;
using CSInfo = tagONERADIATEEX_CSINFO;
namespace cs = CARRIERSHEET_FUNCSPACE;

using namespace ONERADIATEEX_FIELDS;

constexpr int32_t kSecondPassMedianUm = 5000;
constexpr int32_t kShadowClearUm = 10000;
constexpr int32_t kLengthToleranceUm = 5000;

int64_t MicronsToPixels(int64_t um, int64_t dpi) {
    return um * dpi / 25400;
}

// Owns the buffer of a prepared image.
struct PreparedImage {
    tagTVKIMAGEINFO info{};
    uint8_t* buffer = nullptr;
    PreparedImage() = default;
    PreparedImage(const PreparedImage&) = delete;
    PreparedImage& operator=(const PreparedImage&) = delete;
    ~PreparedImage() { delete[] buffer; }
};

// Sleeve margins pulled off the rotation request's corners, after the lower
// corners were rebuilt from the top edge when asked. 0, or 87.
uint32_t FilterRotInfoCorrect(tagROTATEINFO& rot, const CSInfo& type, uint32_t processFlag,
                              const tagTVKIMAGEINFO& image) {
    const int64_t xres = image.lXResolution;
    const int64_t yres = image.lYResolution;
    if (xres <= 0 || yres <= 0) return kDssBadRequest;
    if ((processFlag & kProcessRebuildLowerCorners) != 0) {
        int64_t length = type.SheetSize.y;
        if (length == 0) length = (int64_t{image.lHeight} - rot.topLeft.y) * 25400 / yres;
        const int64_t meanTop = (int64_t{rot.topLeft.y} + rot.topRight.y) / 2;
        if (meanTop > MicronsToPixels(length, yres) || rot.topLeft.x == rot.topRight.x) {
            return kDssBadRequest;
        }
        const Tvk::tagPOINT v =
            cs::BuildSlant(rot.keep, static_cast<int32_t>(xres), static_cast<int32_t>(yres),
                           static_cast<int32_t>(length));
        if (v.x >= v.y) {
            rot.bottomLeft = {rot.topLeft.x - v.y, rot.topLeft.y + v.x};
            rot.bottomRight = {rot.topRight.x - v.y, rot.topRight.y + v.x};
        } else {
            rot.bottomLeft = {rot.topLeft.x + v.x, rot.topLeft.y + v.y};
            rot.bottomRight = {rot.topRight.x + v.x, rot.topRight.y + v.y};
        }
    }
    const int32_t trim[4] = {static_cast<int32_t>(MicronsToPixels(type.SheetMargin[0], yres)),
                             static_cast<int32_t>(MicronsToPixels(type.SheetMargin[1], xres)),
                             static_cast<int32_t>(MicronsToPixels(type.SheetMargin[2], xres)),
                             static_cast<int32_t>(MicronsToPixels(type.SheetMargin[3], yres))};
    const bool upright = rot.keep.x > rot.keep.y;
    Tvk::tagPOINT p[4];
    if (upright) {
        p[0] = rot.bottomLeft, p[1] = rot.bottomRight, p[2] = rot.topRight, p[3] = rot.topLeft;
    } else {
        p[0] = rot.topLeft, p[1] = rot.bottomLeft, p[2] = rot.bottomRight, p[3] = rot.topRight;
    }
    TrimFourPoint(p, trim, rot.keep);
    if (upright) {
        rot.bottomLeft = p[0], rot.bottomRight = p[1], rot.topRight = p[2], rot.topLeft = p[3];
    } else {
        rot.topLeft = p[0], rot.bottomLeft = p[1], rot.bottomRight = p[2], rot.topRight = p[3];
    }
    return 0;
}

// One side cut out along the sleeve (from the front results) into `out`;
// `rot` receives how it was cut. 0 with an empty `out` when the side cannot
// be prepared; a resampling failure's code.
uint32_t FilterCore(const tagTVKIMAGEINFO* image, const tagDETECTRESULTBLOCK& res, int32_t offset,
                    const CSInfo& type, uint32_t processFlag, tagROTATEINFO& rot,
                    PreparedImage& out) {
    if (image == nullptr || image->lpImage == nullptr) return kDssBadRequest;
    rot = tagROTATEINFO{};
    if ((processFlag & kProcessDeskewCut) != 0) {
        rot.topLeft = res.leftTop;
        rot.topRight = res.rightTop;
        rot.bottomLeft = res.leftBottom;
        rot.bottomRight = res.rightBottom;
        rot.keep = res.slantVector;
        if (offset > 0) {
            for (Tvk::tagPOINT* p :
                 {&rot.topLeft, &rot.topRight, &rot.bottomLeft, &rot.bottomRight}) {
                p->y += offset;
            }
        }
    } else {
        const Tvk::tagPOINT o = res.rectXY;
        const Tvk::tagPOINT s = res.rectSize;
        rot.topLeft = o;
        rot.topRight = {o.x + s.x, o.y};
        rot.bottomLeft = {o.x, o.y + s.y};
        rot.bottomRight = {o.x + s.x, o.y + s.y};
        rot.keep = {s.x, 0};
    }
    rot.size = kRotateInfoSize;
    rot.last = 1;
    rot.interpolate = 0;

    PreparedImage gray;
    if (!cs::GreenToGray(gray.info, *image)) return 0;
    gray.buffer = gray.info.lpImage;
    PreparedImage resampled;
    const tagTVKIMAGEINFO* src = &gray.info;
    if (gray.info.lXResolution != gray.info.lYResolution) {
        const uint32_t rc = cs::ResampleToLowerResolution(resampled.info, gray.info, rot);
        if (rc != 0) return rc;
        resampled.buffer = resampled.info.lpImage;
        src = &resampled.info;
    }
    rot.srcWidth = src->lWidth;
    rot.bitsPerPixel = 8;
    rot.fillMode = 2;
    rot.fillColour = 0xFFFFFF;
    if (FilterRotInfoCorrect(rot, type, processFlag, *src) != 0) return 0;
    GetRotateImagePaperSize(&rot);
    const int64_t size = int64_t{rot.paperWidth} * rot.paperHeight;
    if (rot.paperWidth <= 0 || rot.paperHeight <= 0 || size > int64_t{UINT32_MAX}) return 0;
    if (!MakeWorkImage(out.info, *src, rot.paperWidth, rot.paperHeight)) return kIpErrCannotRun;
    out.buffer = out.info.lpImage;
    tagTVKIMAGEINFO srcCopy = *src;
    if (RotateImagePage(&srcCopy, &out.info, &rot) != 0) {
        delete[] out.buffer;
        out.buffer = nullptr;
        out.info = {};
    }
    return 0;
}

// The duplex size detector for one pass over the two sides: set up as for a
// duplex page, but without sensor points, with the carrier-sheet thresholds
// in the second pass and with the thresholds of the two images exchanged.
uint32_t InitializeCore_CarrierSheet(CDetectSlantAndSize_OneRadiateEx& d,
                                     const tagTVKIMAGEINFO* front, const tagTVKIMAGEINFO* back,
                                     Request* r, bool second) {
    d.ReleaseDetectSizeClass();
    d.m_pDuplex.reset(new (std::nothrow) CDetectSizeWithDuplex2());
    if (!d.m_pDuplex) return kDssNoMemory;
    d.m_bDuplex = 1;
    const ScannerInfo* scanner = OneRadiateExScannerInfo(r);
    const ScanInfo* scan = OneRadiateExScanInfo(r);
    const SettingInfo* setting = OneRadiateExSettingInfo(r);
    const bool shadow = ShadowIdOf(scan) == 1;

    CDetectSizeWithDuplex2::tagOPTION o{};
    o.ulSize = CDetectSizeWithDuplex2::kOptionSize;
    for (int32_t& w : o.lSensor) w = -1;
    if (second) {
        o.lMedianUm = kSecondPassMedianUm;
    } else {
        o.lOffset = DuplexOffsetOf(scanner);
    }
    if (Reaches(scan, ONERADIATEEX_FIELD_END(ScanInfo, rightMargin))) {
        o.lFallbackTop = scan->topMargin;
        o.lShortfall = scan->bottomMargin;
        o.lFallbackLeft = scan->leftMargin;
        o.lFallbackRight = scan->rightMargin;
    }
    o.lEdgeTh[0] = shadow ? 50 : 10;
    o.lEdgeTh[1] = shadow ? 10 : 50;
    o.lDrop[0] = o.lDrop[1] = 40;
    o.lLevel[0] = o.lLevel[1] = 100;

    const int32_t mmX = CDetectSlantAndSize_OneRadiateEx::OneMillimetre(
        front != nullptr ? front->lXResolution : d.m_imgFront.lXResolution);
    const int32_t mmY = CDetectSlantAndSize_OneRadiateEx::OneMillimetre(
        front != nullptr ? front->lYResolution : d.m_imgFront.lYResolution);
    for (int32_t* t : {d.m_trimFront, d.m_trimBack}) {
        t[0] = t[3] = mmY;
        t[1] = t[2] = mmX;
    }
    if (shadow) {
        d.m_trimFront[0] *= 2;
        d.m_trimBack[3] *= 2;
    } else {
        d.m_trimFront[3] *= 2;
        d.m_trimBack[0] *= 2;
    }
    if (setting != nullptr) {
        if (setting->cbsize < kSettingInfoMinSize) return kIpErrBadArgument;
        for (int k = 0; k < 2; ++k) {
            if (!second) {
                if (setting->duplex_edge_th[k] >= 0) o.lDrop[k] = setting->duplex_edge_th[k];
                if (setting->duplex_br_th[k] >= 0) o.lLevel[k] = setting->duplex_br_th[k];
            } else if (Reaches(setting, kSettingInfoCarrierSheetSize)) {
                if (setting->duplex_cs_edge_th[k] >= 0) o.lDrop[k] = setting->duplex_cs_edge_th[k];
                if (setting->duplex_cs_br_th[k] >= 0) o.lLevel[k] = setting->duplex_cs_br_th[k];
            }
        }
        for (int i = 0; i < 4; ++i) {
            if (setting->revise_margin_front[i] >= 0)
                d.m_trimFront[i] = setting->revise_margin_front[i];
            if (setting->revise_margin_back[i] >= 0)
                d.m_trimBack[i] = setting->revise_margin_back[i];
        }
        if (Reaches(setting, kSettingInfoBaseBackSize)) {
            o.bTakeBottomFront = setting->bIsBaseBack[0];
            o.bTakeBottomBack = setting->bIsBaseBack[1];
        }
        const uint32_t f = ProcessFlagOf(setting);
        if ((f & kProcessWholePageOnly) != 0) o.bBottomUp = 1;
        if (!second && (f & kProcessPass0) != 0) o.ulPass |= 1u << 0;
        if ((f & kProcessExtraPass) != 0) o.ulPass |= 1u << 1;
    }
    std::swap(o.lDrop[0], o.lDrop[1]);
    std::swap(o.lLevel[0], o.lLevel[1]);
    return d.m_pDuplex->Initialize(DescriptionSetOf(front), DescriptionSetOf(back), &o, shadow);
}

} // namespace

uint32_t CDetectSlantAndSize_OneRadiateEx::InitProc_CarrierSheet(const tagTVKIMAGEINFO* image,
                                                                 Request* r) {
    if (r == nullptr || !m_bDuplex || m_bBlackBack) return kDssBadRequest;
    const uint32_t need = kDssResultCorners | kDssResultSlant;
    if ((r->basic.dwResultFlag & need) != need) return kDssBadRequest;
    const ScanInfo* scan = OneRadiateExScanInfo(r);
    if (scan == nullptr || !Reaches(scan, ONERADIATEEX_FIELD_END(ScanInfo, DuplexScan)) ||
        !scan->DuplexScan) {
        return kDssBadRequest;
    }
    m_lCarrierSheetStep = 0;
    const tagTVKIMAGEINFO* back = BackImageOf(scan);
    return InitializeCore_CarrierSheet(*this, image, back != nullptr ? back : &m_imgBack, r, false);
}

namespace {

// The first carrier-sheet type that matches the first pass, or null.
const CSInfo* MatchCarrierSheet(const Request* r, const tagTVKIMAGEINFO* front,
                                const tagTVKIMAGEINFO* back, CSInfo& type) {
    const SettingInfo* setting = OneRadiateExSettingInfo(r);
    const ScanInfo* scan = OneRadiateExScanInfo(r);
    if (!Reaches(setting, kSettingInfoCarrierSheetSize) || setting->pCSInfo == nullptr) {
        return nullptr;
    }
    const int32_t offset = DuplexOffsetOf(OneRadiateExScannerInfo(r));
    const auto* p = reinterpret_cast<const unsigned char*>(setting->pCSInfo);
    for (uint32_t k = 0; k < setting->csinfo_count; ++k) {
        const auto* rec = reinterpret_cast<const CSInfo*>(p);
        // A record that names no size cannot lead to the next one.
        if (rec->cbsize == 0) break;
        std::memset(&type, 0, sizeof(type));
        std::memcpy(&type, rec, std::min<size_t>(rec->cbsize, sizeof(type)));
        p += rec->cbsize;
        if (type.dwTag == 0) return rec;
        if ((type.dwTag & 2u) != 0) {
            // The sleeve's length along its slant against the type's length.
            const Tvk::tagPOINT v = r->basic.result.slantVector;
            const double n =
                std::sqrt(static_cast<double>(int64_t{v.x} * v.x + int64_t{v.y} * v.y));
            const int32_t yres = front != nullptr ? front->lYResolution : 0;
            const int32_t length =
                Reaches(scan, ONERADIATEEX_FIELD_END(ScanInfo, paperSize)) ? scan->paperSize.y : 0;
            if (n == 0.0 || yres <= 0) continue;
            const double c = static_cast<double>(std::max(v.x, v.y)) / n;
            const double um = static_cast<double>(int64_t{length} * 25400 / yres) * c;
            if (std::fabs(um - type.SheetSize.y) > kLengthToleranceUm) continue;
        }
        if ((type.dwTag & 1u) == 0) continue;
        cs::tagBELTPARAM belt{};
        belt.lenBelt = type.len_belt;
        belt.lenIgnore = type.len_ignore;
        belt.thBlack = type.dwTh_black;
        for (int c = 0; c < 3; ++c) belt.th[c] = static_cast<uint8_t>(type.th_br[0] >> (8 * c));
        const tagDETECTRESULTBLOCK& f = r->basic.result;
        if (cs::DetectBlackBelt(front, f.leftTop, f.rightTop, f.slantVector, &belt, true, offset) !=
            cs::kBeltFound) {
            continue;
        }
        if (!Reaches(scan, kScanInfoBackResultSize)) continue;
        for (int c = 0; c < 3; ++c) belt.th[c] = static_cast<uint8_t>(type.th_br[1] >> (8 * c));
        const tagDETECTRESULTBLOCK& b = scan->back;
        if (cs::DetectBlackBelt(back, b.leftTop, b.rightTop, b.slantVector, &belt, false, offset) ==
            cs::kBeltFound) {
            return rec;
        }
    }
    return nullptr;
}

// Corners, rectangle and slant found on one side's cut-out, back in that
// side's scanned image.
void MapSideBack(tagDETECTRESULTBLOCK& out, const tagDETECTRESULTBLOCK& work, uint32_t flags,
                 const tagROTATEINFO& rot, const tagTVKIMAGEINFO& img) {
    const int32_t xres = img.lXResolution;
    const int32_t yres = img.lYResolution;
    cs::tagFOURPOINT pts{work.leftTop, work.rightTop, work.leftBottom, work.rightBottom};
    cs::calc_four_point_core_for_carrieer_sheet(pts, rot.keep, rot.topLeft, xres, yres);
    out.leftTop = pts.leftTop;
    out.rightTop = pts.rightTop;
    out.leftBottom = pts.leftBottom;
    out.rightBottom = pts.rightBottom;
    if ((flags & kDssResultRect) != 0) {
        const cs::tagEDGEBOX rect{work.rectXY.x, work.rectXY.y, work.rectXY.x + work.rectSize.x,
                                  work.rectXY.y + work.rectSize.y};
        const cs::tagFOURPOINT found{work.leftTop, work.rightTop, work.leftBottom,
                                     work.rightBottom};
        const cs::tagEDGEBOX box =
            cs::calc_rect_core_for_carrier_sheet(rect, found, rot.keep, rot.topLeft, xres, yres);
        out.rectXY = {box.left, box.top};
        out.rectSize = {box.right - box.left, box.bottom - box.top};
    }
    int64_t sx = int64_t{rot.keep.x} + work.slantVector.x;
    int64_t sy = int64_t{rot.keep.y} + work.slantVector.y;
    if (xres > 0 && yres > 0) {
        if (xres <= yres) {
            sy = sy * yres / xres;
        } else {
            sx = xres * sx / yres;
        }
    }
    out.slantVector = {static_cast<int32_t>(sx), static_cast<int32_t>(sy)};
}

} // namespace

uint32_t CDetectSlantAndSize_OneRadiateEx::PageProc_CarrierSheet(const tagTVKIMAGEINFO* image,
                                                                 Request* r) {
    if (r == nullptr || !m_pDuplex) return kDssBadRequest;
    m_lCarrierSheetStep = 0;
    ScanInfo* scan = OneRadiateExScanInfo(r);
    const tagTVKIMAGEINFO* back = BackImageOf(scan);
    if (back == nullptr) back = &m_imgBack;

    // First pass: the sleeve, like any duplex sheet.
    uint32_t rc = m_pDuplex->first(ImageSetOf(image), ImageSetOf(back));
    if (rc != 0) return DuplexFailureCode(rc);
    rc = m_pDuplex->last(CImg::tagIMGSET{}, CImg::tagIMGSET{});
    if (rc != 0) return DuplexFailureCode(rc);
    rc = ResultProc_Duplex(r);
    if (rc != 0) return rc;

    CSInfo type{};
    if (MatchCarrierSheet(r, image, back, type) == nullptr) return kDssOk;
    m_lCarrierSheetStep = 1;

    // Both sides cut out along the sleeve found on the front.
    const int32_t offset = DuplexOffsetOf(OneRadiateExScannerInfo(r));
    const uint32_t flags = ProcessFlagOf(OneRadiateExSettingInfo(r));
    PreparedImage sides[2];
    const tagTVKIMAGEINFO* source[2] = {image, back};
    for (int k = 0; k < 2; ++k) {
        rc = FilterCore(source[k], r->basic.result, k == 0 ? -offset : offset, type, flags,
                        m_rotInfo[k], sides[k]);
        if (rc != 0) return rc;
        if (sides[k].buffer == nullptr) return kDssOk; // the first-pass results stand
    }
    // The leading shadow is cleared from the side that shows it.
    tagTVKIMAGEINFO& shadowSide = ShadowIdOf(scan) != 1 ? sides[0].info : sides[1].info;
    const int64_t clear = std::min<int64_t>(
        MicronsToPixels(kShadowClearUm, shadowSide.lYResolution), shadowSide.lHeight);
    if (clear > 0)
        std::memset(shadowSide.lpImage, 255, static_cast<size_t>(clear * shadowSide.lSync));
    const int32_t w = std::min(sides[0].info.lWidth, sides[1].info.lWidth);
    const int32_t h = std::min(sides[0].info.lHeight, sides[1].info.lHeight);
    for (PreparedImage& s : sides) {
        s.info.lWidth = w;
        s.info.lHeight = h;
    }

    // Second pass: the document inside the sleeve.
    rc = InitializeCore_CarrierSheet(*this, &sides[0].info, &sides[1].info, r, true);
    if (rc != 0) return DuplexFailureCode(rc);
    rc = m_pDuplex->first(ImageSetOf(&sides[0].info), ImageSetOf(&sides[1].info));
    if (rc != 0) return DuplexFailureCode(rc);
    rc = m_pDuplex->last(CImg::tagIMGSET{}, CImg::tagIMGSET{});
    if (rc != 0) return DuplexFailureCode(rc);
    return ResultProc_CarrierSheet(r);
}

uint32_t CDetectSlantAndSize_OneRadiateEx::ResultProc_CarrierSheet(Request* r) {
    if (r == nullptr) return kDssBadRequest;
    if (m_lCarrierSheetStep == 0) return ResultProc_Duplex(r);
    ScanInfo* scan = OneRadiateExScanInfo(r);
    if (scan == nullptr) return kDssBadRequest;

    // The duplex results on the cut-outs, in working copies.
    Request work{};
    std::memcpy(&work, r, std::min<size_t>(r->basic.cbsize, sizeof(work)));
    work.basic.cbsize = kOneRadiateExSize;
    work.basic.dwResultFlag |= 0x1Fu;
    ScanInfo workScan{};
    std::memcpy(&workScan, scan, std::min<size_t>(scan->cbsize, kScanInfoBackResultSize));
    workScan.cbsize =
        static_cast<uint32_t>(std::min<size_t>(scan->cbsize, kScanInfoBackResultSize));
    work.pScanInfo = &workScan;
    const uint32_t rc = ResultProc_Duplex(&work);
    if (rc != 0) return rc;

    const uint32_t flags = r->basic.dwResultFlag;
    MapSideBack(r->basic.result, work.basic.result, flags, m_rotInfo[0], m_imgFront);
    const bool hasBack = Reaches(scan, kScanInfoBackResultSize);
    if (hasBack) MapSideBack(scan->back, workScan.back, flags, m_rotInfo[1], m_imgBack);

    const int32_t offset = DuplexOffsetOf(OneRadiateExScannerInfo(r));
    if (offset != 0 && (ProcessFlagOf(OneRadiateExSettingInfo(r)) & kProcessDeskewCut) != 0) {
        tagDETECTRESULTBLOCK* side =
            offset > 0 ? (hasBack ? &scan->back : nullptr) : &r->basic.result;
        if (side != nullptr) {
            const int32_t d = offset > 0 ? offset : -offset;
            for (Tvk::tagPOINT* p : {&side->leftTop, &side->rightTop, &side->leftBottom,
                                     &side->rightBottom, &side->rectXY}) {
                p->y -= d;
            }
        }
    }
    return kDssOk;
}
