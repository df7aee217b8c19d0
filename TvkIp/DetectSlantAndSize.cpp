// Single-image slant and size entries.
#include "DetectSlantAndSize.h"

#include "DetectSize.h"
#include "ImgDetect.h"
#include "SizeDetectorGlue.h"
#include "TvkIpError.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <new>

namespace {

// The size detector, remembering the page's resolutions for the corner
// assignment of the result.
class CSideDetectSize : public CDetectSize {
public:
    uint32_t Init(const CImg::tagIMGSET& page, const tagOPTION& option) {
        m_xdpi = page.xdpi;
        m_ydpi = page.ydpi;
        return Initialize(page, &option);
    }
    int32_t xdpi() const { return m_xdpi; }
    int32_t ydpi() const { return m_ydpi; }

private:
    int32_t m_xdpi = 0;
    int32_t m_ydpi = 0;
};

bool Failed(uint32_t code) {
    return static_cast<int32_t>(code) < 0;
}

// Option word i (0 is the size word) of the size detector's request.
void SetWord(CDetectSize::tagOPTION& o, int i, int32_t v) {
    static_assert(sizeof(CDetectSize::tagOPTION) == 16 * sizeof(int32_t));
    std::memcpy(reinterpret_cast<unsigned char*>(&o) + i * sizeof(int32_t), &v, sizeof(v));
}

CDetectSize::tagOPTION BaseOption(const int32_t (&ref)[4]) {
    CDetectSize::tagOPTION o{};
    o.ulSize = CDetectSize::kOptionSize;
    for (int i = 0; i < 4; ++i) SetWord(o, 1 + i, ref[i]);
    for (int i = 11; i <= 14; ++i) SetWord(o, i, -1);
    return o;
}

// Both records share their layout up to the parameter words.
template <typename Info> void Release(Info* info) {
    delete info->pDetector;
    info->pDetector = nullptr;
}

// The detector's result in the record; `steep` picks the corner labels of a
// sheet turned by more than its diagonal.
template <typename Info> void StoreResult(Info* info, const tagDETECTSIZEINFO& r, bool steep) {
    const tagLABELLEDCORNERS c = SizeDetectorCorners(r.corner, steep);
    info->leftTop = c.leftTop;
    info->rightTop = c.rightTop;
    info->leftBottom = c.leftBottom;
    info->rightBottom = c.rightBottom;
    info->lLeft = r.rect.left;
    info->lTop = r.rect.top;
    info->lRight = r.rect.right;
    info->lBottom = r.rect.bottom;
    info->slant = r.slant;
}

// Phases shared by both band-wise entries; `init` and `result` fill the
// option of the initialisation and of the result.
template <typename Info, typename InitOption, typename ResultOption, typename Steep>
uint32_t RunPhase(const tagTVKIMAGEINFO* image, Info* info, InitOption initOption,
                  ResultOption resultOption, Steep steep) {
    const int32_t phase = info->lPhase;
    if (phase < kSlantSizeInit || phase > kSlantSizeResult) {
        Release(info);
        return kIpErrUnsupported;
    }
    if (phase == kSlantSizeRelease) {
        Release(info);
        return 0;
    }
    const CImg::tagIMGSET set = ImageSetOf(image);
    uint32_t code = 0;
    if (phase == kSlantSizeInit) {
        Release(info);
        auto* det = new (std::nothrow) CSideDetectSize;
        if (det == nullptr) return kIpErrOutOfMemory;
        info->pDetector = det;
        code = det->Init(set, initOption(info));
    } else {
        auto* det = static_cast<CSideDetectSize*>(info->pDetector);
        if (det == nullptr) return kIpErrUnsupported;
        if (phase == kSlantSizeFirst) {
            code = det->first(set);
        } else if (phase == kSlantSizeMid) {
            code = det->mid(set);
        } else if (phase == kSlantSizeLast) {
            code = det->last(set);
        } else {
            tagDETECTSIZEINFO r{};
            r.ulSize = kDetectSizeInfoSize;
            const CDetectSize::tagOPTION o = resultOption(info);
            code = det->result(&r, &o);
            if (!Failed(code)) StoreResult(info, r, steep(*det, r.slant));
        }
    }
    if (Failed(code)) Release(info);
    return code;
}

} // namespace

extern "C" uint32_t DetectSlantAndSize(const tagTVKIMAGEINFO* image, tagSLANTSIZEINFO* info) {
    IpSetLastError(0);
    if (info == nullptr || info->size != kSlantSizeInfoSize) return kIpErrUnsupported;
    try {
        return RunPhase(
            image, info, [](tagSLANTSIZEINFO* i) { return BaseOption(i->lOption); },
            [](tagSLANTSIZEINFO* i) {
                CDetectSize::tagOPTION o = BaseOption(i->lOption);
                SetWord(o, 5, i->lParam[0]);
                SetWord(o, 6, i->lParam[1]);
                SetWord(o, 8, i->lParam[2]);
                SetWord(o, 7, i->lParam[3]);
                SetWord(o, 9, i->lParam[4]);
                SetWord(o, 10, i->lParam[5]);
                return o;
            },
            [](const CSideDetectSize& det, const Tvk::tagPOINT& s) {
                return SteeperThanDiagonal(s, det.xdpi(), det.ydpi());
            });
    } catch (...) {
        Release(info);
        return kIpErrOutOfMemory;
    }
}

extern "C" uint32_t DetectSlantAndSize2(const tagTVKIMAGEINFO* image, tagSLANTSIZEINFO2* info) {
    IpSetLastError(0);
    if (info == nullptr || info->size != kSlantSizeInfo2Size) return kIpErrUnsupported;
    try {
        return RunPhase(
            image, info,
            [](tagSLANTSIZEINFO2* i) {
                CDetectSize::tagOPTION o = BaseOption(i->lOption);
                for (int w = 7; w <= 14; ++w) SetWord(o, w, i->lParam[w - 5]);
                if (i->lNoSkipFlatBands != 0) o.ulFlags |= CDetectSize::kNoSkipFlatBands;
                return o;
            },
            [](tagSLANTSIZEINFO2* i) {
                CDetectSize::tagOPTION o = BaseOption(i->lOption);
                for (int w = 5; w <= 10; ++w) SetWord(o, w, i->lParam[w - 5]);
                return o;
            },
            [](const CSideDetectSize&, const Tvk::tagPOINT& s) { return s.x < s.y; });
    } catch (...) {
        Release(info);
        return kIpErrOutOfMemory;
    }
}

// ---------------------------------------------------------------------------
// Paper edges as straight lines

namespace STRAIGHT_FUNCSPACE {

namespace {
constexpr uint32_t kPaperLevel = 128;
constexpr int kTries = 10;

Tvk::tagPOINT Truncated(double x, double y) {
    return {static_cast<int32_t>(x), static_cast<int32_t>(y)};
}
} // namespace

int CalcStraight(const Tvk::tagPOINT& p1, const Tvk::tagPOINT& p2, tagSTRAIGHT* out) {
    *out = {};
    if (p1.x == p2.x && p1.y == p2.y) return 5;
    if (p1.x == p2.x) {
        out->x = p1.x;
        out->kind = tagSTRAIGHT::kVertical;
    } else if (p1.y == p2.y) {
        out->y = p1.y;
        out->kind = tagSTRAIGHT::kHorizontal;
    } else {
        out->a = static_cast<double>(p1.y - p2.y) / static_cast<double>(p1.x - p2.x);
        out->b = (static_cast<double>(p2.x) * p1.y - static_cast<double>(p1.x) * p2.y) /
                 static_cast<double>(p2.x - p1.x);
        out->kind = tagSTRAIGHT::kSloped;
    }
    return 0;
}

namespace {
// The first of `count` pixels from `p` on, moving by `step`, brighter than
// paper level: 0 with its place, or 1.
int FirstPaperPixel(const CImg& img, Tvk::tagPOINT p, Tvk::tagPOINT step, int32_t count,
                    Tvk::tagPOINT* pt) {
    for (int32_t i = 0; i < count; ++i, p.x += step.x, p.y += step.y) {
        if (img.get(p.x, p.y) > kPaperLevel) {
            *pt = p;
            return 0;
        }
    }
    return 1;
}
} // namespace

int GetTopPoint(const CImg& img, int32_t x, Tvk::tagPOINT* pt) {
    return FirstPaperPixel(img, {x, 0}, {0, 1}, img.height, pt);
}

int GetBottomPoint(const CImg& img, int32_t x, Tvk::tagPOINT* pt) {
    return FirstPaperPixel(img, {x, img.height - 1}, {0, -1}, img.height, pt);
}

int GetLeftPoint(const CImg& img, int32_t y, Tvk::tagPOINT* pt) {
    return FirstPaperPixel(img, {0, y}, {1, 0}, img.width, pt);
}

int GetRightPoint(const CImg& img, int32_t y, Tvk::tagPOINT* pt) {
    return FirstPaperPixel(img, {img.width - 1, y}, {-1, 0}, img.width, pt);
}

namespace {
template <typename Probe>
int StraightThroughProbes(const CImg& img, int32_t extent, int32_t n, Probe probe,
                          tagSTRAIGHT* out) {
    Tvk::tagPOINT p1{};
    Tvk::tagPOINT p2{};
    int r = probe(img, extent / 2 - extent / 8 - n, &p1);
    if (r != 0) return r;
    r = probe(img, n + extent / 2 + extent / 8, &p2);
    if (r != 0) return r;
    return CalcStraight(p1, p2, out);
}
} // namespace

int GetTopStraight(const CImg& img, int32_t n, tagSTRAIGHT* out) {
    return StraightThroughProbes(img, img.width, n, GetTopPoint, out);
}

int GetBottomStraight(const CImg& img, int32_t n, tagSTRAIGHT* out) {
    return StraightThroughProbes(img, img.width, n, GetBottomPoint, out);
}

int GetLeftStraight(const CImg& img, int32_t n, tagSTRAIGHT* out) {
    return StraightThroughProbes(img, img.height, n, GetLeftPoint, out);
}

int GetRightStraight(const CImg& img, int32_t n, tagSTRAIGHT* out) {
    return StraightThroughProbes(img, img.height, n, GetRightPoint, out);
}

int GetPaperLine(tagSTRAIGHT* top, tagSTRAIGHT* bottom, tagSTRAIGHT* left, tagSTRAIGHT* right,
                 const CImg& img) {
    using Finder = int (*)(const CImg&, int32_t, tagSTRAIGHT*);
    const Finder finders[4] = {GetTopStraight, GetBottomStraight, GetLeftStraight,
                               GetRightStraight};
    tagSTRAIGHT* lines[4] = {top, bottom, left, right};
    for (int i = 0; i < 4; ++i) {
        int r = 0;
        for (int n = 0; n < kTries; ++n) {
            r = finders[i](img, n, lines[i]);
            if (r == 0) break;
        }
        if (r != 0) return r;
    }
    return 0;
}

int CalcPointFrom2Straights(const tagSTRAIGHT& l0, const tagSTRAIGHT& l1, Tvk::tagPOINT* pt) {
    using K = tagSTRAIGHT::Kind;
    const K k0 = l0.kind;
    const K k1 = l1.kind;
    if (k0 == k1 && k0 != K::kSloped) return 3;
    if (k0 == K::kSloped && k1 == K::kSloped) {
        if (l0.a == l1.a) return 4;
        const double d = l0.a - l1.a;
        *pt = Truncated((l1.b - l0.b) / d, (l0.a * l1.b - l1.a * l0.b) / d);
        return 0;
    }
    const tagSTRAIGHT& other = k0 == K::kSloped ? l1 : l0;
    const tagSTRAIGHT& sloped = k0 == K::kSloped ? l0 : l1;
    if (k0 == K::kSloped || k1 == K::kSloped) {
        if (other.kind == K::kVertical) {
            *pt = Truncated(other.x, sloped.a * other.x + sloped.b);
            return 0;
        }
        // A sloped line never has slope 0; a degenerate one is parallel.
        if (sloped.a == 0.0) return 4;
        *pt = Truncated((other.y - sloped.b) / sloped.a, other.y);
        return 0;
    }
    const tagSTRAIGHT& v = k0 == K::kVertical ? l0 : l1;
    const tagSTRAIGHT& h = k0 == K::kVertical ? l1 : l0;
    *pt = Truncated(v.x, h.y);
    return 0;
}

int CalcSlantFrom4Straight(const tagSTRAIGHT& top, const tagSTRAIGHT& bottom,
                           const tagSTRAIGHT& left, const tagSTRAIGHT& right,
                           tagSLANTSIZEINFO2* info) {
    int r = CalcPointFrom2Straights(left, bottom, &info->leftBottom);
    if (r == 0) r = CalcPointFrom2Straights(left, top, &info->leftTop);
    if (r == 0) r = CalcPointFrom2Straights(bottom, right, &info->rightBottom);
    if (r == 0) r = CalcPointFrom2Straights(top, right, &info->rightTop);
    return r;
}

double SetXGetY(const tagSTRAIGHT& line, double x) {
    switch (line.kind) {
    case tagSTRAIGHT::kHorizontal:
        return line.y;
    case tagSTRAIGHT::kVertical:
        return 0.0;
    default:
        return line.a * x + line.b;
    }
}

} // namespace STRAIGHT_FUNCSPACE

extern "C" uint32_t DetectSlantAndSize3(const tagTVKIMAGEINFO* image, tagSLANTSIZEINFO2* info) {
    using namespace STRAIGHT_FUNCSPACE;
    IpSetLastError(0);
    if (info == nullptr || info->size != kSlantSizeInfo2Size) return kIpErrUnsupported;
    if (image == nullptr) return kIpErrOutOfMemory; // no raster can be made
    const CImg::tagIMGSET set = ImageSetOf(image);
    CImgPtr raster(CImg::Set(set));
    if (!raster) return kIpErrOutOfMemory;
    CImgPtr gray(raster->gray());
    if (!gray) return kIpErrOutOfMemory;
    tagSTRAIGHT top{}, bottom{}, left{}, right{};
    const int r = GetPaperLine(&top, &bottom, &left, &right, *gray);
    if (r != 0) return static_cast<uint32_t>(r);
    return static_cast<uint32_t>(CalcSlantFrom4Straight(top, bottom, left, right, info));
}
