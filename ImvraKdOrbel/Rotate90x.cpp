#include "Rotate90x.h"

#include "CImgInfPtr.h"
#include "Shading.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

namespace Tvk::Imvra {

namespace {

// Bit order of every byte reversed.
constexpr std::array<uint8_t, 256> MakeBitReverse() {
    std::array<uint8_t, 256> t{};
    for (int v = 0; v < 256; ++v) {
        int r = 0;
        for (int b = 0; b < 8; ++b)
            if (v & (1 << b)) r |= 0x80 >> b;
        t[static_cast<size_t>(v)] = static_cast<uint8_t>(r);
    }
    return t;
}
constexpr std::array<uint8_t, 256> kBitReverse = MakeBitReverse();

// dst receives the 1-bit line src of `width` pixels mirrored left to right:
// bytes reversed, bits of each byte reversed, then the line shifted left by
// the spare bits at its end so that pixel 0 is the first bit again.
void MirrorBinaryLine(uint8_t* dst, const uint8_t* src, int32_t width) {
    const int32_t n = (width + 7) / 8;
    const int32_t spare = n * 8 - width;
    for (int32_t i = 0; i < n; ++i) dst[i] = kBitReverse[src[n - 1 - i]];
    if (spare != 0) {
        for (int32_t i = 0; i < n; ++i) {
            const uint8_t next = i + 1 < n ? dst[i + 1] : 0;
            dst[i] = static_cast<uint8_t>((dst[i] << spare) | (next >> (8 - spare)));
        }
    }
}

uint8_t* Line(const tagIMAGEINFO& info, int64_t y) {
    return TvkLinePtr(info, y);
}

bool IsBinary(const tagIMAGEINFO& s) {
    return s.lBps == 1 && s.lSpp == 1;
}

// A new image of the source's shape (RTN_PAR refused, RTN_MEM no buffer).
int SameShape(CImg& out, const CImg& model) {
    if (!out.createImg(model)) return RTN_PAR;
    return out.isNull() ? RTN_MEM : RTN_OK;
}

int Create(CImg& out, const tagIMAGEINFO& rec) {
    if (!out.createImg(rec)) return RTN_PAR;
    return out.isNull() ? RTN_MEM : RTN_OK;
}

// A quarter turn into a new image; the source stays as it is on failure.
int TurnQuarter(CImg& img, bool clockwise) {
    const tagIMAGEINFO& s = img.info();
    if (s.ulRGBOrder > 1) return RTN_PAR;
    const bool binary = IsBinary(s);
    if (s.lSpp == 3 && s.ulRGBOrder == 1) return RTN_UNSUPPORTED;
    if (!binary && !(s.lBps == 8 && (s.lSpp == 1 || s.lSpp == 3))) return RTN_UNSUPPORTED;

    tagIMAGEINFO t = s;
    t.lWidth = s.lHeight;
    t.lHeight = binary ? (s.lWidth + 7) / 8 * 8 : s.lWidth;
    const int64_t sync = CImg::calcMinSync(t.lWidth, t.lBps, t.lSpp, t.ulRGBOrder);
    if (sync < 0 || sync > INT32_MAX) return RTN_PAR;
    t.lSync = static_cast<int32_t>(sync);
    t.tImageSize = static_cast<uint32_t>(CImg::calcSize(t.lSync, t.lHeight, t.lSpp, t.ulRGBOrder));
    CImg turned;
    if (const int r = Create(turned, t); r != RTN_OK) return r;
    if (!RotateQuarterInto(turned.info(), s, clockwise)) return RTN_UNSUPPORTED;
    if (binary && t.lHeight != s.lWidth) {
        // The transposition works on whole 8 x 8 blocks; the page keeps only
        // the lines it has.
        tagIMAGEINFO e = turned.info();
        e.lHeight = s.lWidth;
        e.tImageSize = static_cast<uint32_t>(int64_t{e.lSync} * e.lHeight);
        CImg exact;
        if (!exact.createImg(e)) return RTN_STATE;
        if (exact.isNull()) return RTN_MEM;
        if (e.tImageSize != 0)
            std::memcpy(exact.info().lpImage, turned.info().lpImage, e.tImageSize);
        turned.attachImg(exact);
    }
    img.attachImg(turned);
    return RTN_OK;
}

int Turn180(CImg& img) {
    const tagIMAGEINFO& s = img.info();
    if (s.ulRGBOrder > 1) return RTN_PAR;
    const int32_t w = s.lWidth, h = s.lHeight;
    if (IsBinary(s)) {
        CImg out;
        if (const int r = SameShape(out, img); r != RTN_OK) return r;
        for (int32_t y = 0; y < h; ++y)
            MirrorBinaryLine(Line(out.info(), h - 1 - y), Line(s, y), w);
        img.attachImg(out);
        return RTN_OK;
    }
    if (s.lBps != 8 || (s.lSpp != 1 && s.lSpp != 3)) return RTN_UNSUPPORTED;
    if (s.lSpp == 3 && s.ulRGBOrder == 0) {
        // Interleaved colour in place: pixel triples swapped from both ends.
        for (int32_t y = 0; y <= (h - 1) / 2; ++y) {
            uint8_t* a = Line(s, y);
            uint8_t* b = Line(s, h - 1 - y);
            const int32_t count = (a == b) ? w / 2 : w;
            for (int32_t x = 0; x < count; ++x)
                for (int k = 0; k < 3; ++k) std::swap(a[3 * x + k], b[3 * (w - 1 - x) + k]);
        }
        return RTN_OK;
    }
    // Gray and planar colour: each stored row reversed into the mirrored line.
    CImg out;
    if (const int r = SameShape(out, img); r != RTN_OK) return r;
    const int32_t rows = s.lSpp == 3 ? 3 : 1;
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t k = 0; k < rows; ++k) {
            const uint8_t* src = Line(s, y) + int64_t{k} * s.lSync;
            uint8_t* dst = Line(out.info(), h - 1 - y) + int64_t{k} * s.lSync;
            std::reverse_copy(src, src + w, dst);
        }
    }
    img.attachImg(out);
    return RTN_OK;
}

int FlipTopBottom(CImg& img) {
    const tagIMAGEINFO& s = img.info();
    if (IsBinary(s)) return RTN_UNSUPPORTED;
    if (s.ulRGBOrder > 1) return RTN_PAR;
    if (s.lSpp != 1 && s.ulRGBOrder != 0) return RTN_UNSUPPORTED;
    CImg out;
    if (const int r = SameShape(out, img); r != RTN_OK) return r;
    for (int32_t y = 0; y < s.lHeight; ++y)
        std::memcpy(Line(out.info(), s.lHeight - 1 - y), Line(s, y),
                    static_cast<size_t>(s.lSync));
    img.attachImg(out);
    return RTN_OK;
}

} // namespace

// ---------------------------------------------------------------------------
// CRotate90x

int CRotate90x::setInfo(CImg&, void* info) {
    const auto* r = static_cast<const tagROTATE90XINFO*>(info);
    if (r == nullptr || r->ulSize != kRotate90xInfoSize || r->lDegree % 90 != 0) return RTN_PAR;
    m_info = *r;
    return RTN_OK;
}

int CRotate90x::Rotate90x(CImg& img) {
    // The remainder keeps the sign of the angle: -450 is -90.
    const int32_t r = m_info.lDegree % 360;
    if (r == 0) return RTN_OK;
    if (r == -90 || r == -270) return RTN_UNSUPPORTED;
    if (img.isNull()) return RTN_OK;
    if (r == 180) return Turn180(img);
    if (r == 90 || r == 270) return TurnQuarter(img, r == 90);
    return FlipTopBottom(img);
}

bool CRotate90x::rotate(CImg& img, int32_t degrees) {
    if (degrees % 90 != 0) return false;
    CRotate90x stage;
    tagROTATE90XINFO info{kRotate90xInfoSize, degrees};
    return stage.IPInterface(img, &info) == RTN_OK;
}

// ---------------------------------------------------------------------------
// CColorToGray

int CColorToGray::setInfo(CImg& img, void*) {
    return img.info().lBps == 8 && img.info().lSpp == 3 ? RTN_OK : RTN_PAR;
}

int CColorToGray::ColorToGray(CImg& img) {
    const tagIMAGEINFO& s = img.info();
    if (s.ulRGBOrder != 0) return RTN_UNSUPPORTED;
    if (s.lBps != 8 || s.lSpp != 3) return RTN_PAR;
    CImg gray;
    if (!gray.createImg(s.lXpos, s.lYpos, s.lWidth, s.lHeight, s.lWidth, 8, 1, 0,
                        s.lXResolution, s.lYResolution))
        return RTN_PAR;
    if (gray.isNull()) return RTN_MEM;
    for (int32_t y = 0; y < s.lHeight; ++y) {
        const uint8_t* p = Line(s, y);
        uint8_t* q = Line(gray.info(), y);
        for (int32_t x = 0; x < s.lWidth; ++x, p += 3) {
            const uint32_t v = (p[0] * 299u + p[1] * 587u + p[2] * 114u) / 1000u;
            q[x] = static_cast<uint8_t>(std::min(v, 255u));
        }
    }
    img.attachImg(gray);
    return RTN_OK;
}

// ---------------------------------------------------------------------------
// CPutImageOnSide

int CPutImageOnSide::setInfo(CImg& img, void* info) {
    m_held[0].deleteImg();
    m_held[1].deleteImg();
    return setInfoMiddle(img, info);
}

int CPutImageOnSide::setInfoMiddle(CImg&, void* info) {
    const auto* r = static_cast<const tagPUTIMAGEONSIDEINFO*>(info);
    if (r == nullptr || r->ulSize != kPutImageOnSideInfoSize || r->pOther == nullptr)
        return RTN_PAR;
    m_info = *r;
    return RTN_OK;
}

namespace {

// One side of the sheet: the lines held from earlier calls, then the band.
struct Side {
    CImg* held;
    CImg* band;
    int32_t heldLines() const { return held->isNull() ? 0 : held->info().lHeight; }
    int32_t bandLines() const { return band->isNull() ? 0 : band->info().lHeight; }
    int32_t lines() const { return heldLines() + bandLines(); }
    // The side's shape: the first non-empty of held and band.
    const tagIMAGEINFO* shape() const {
        if (!held->isNull()) return &held->info();
        if (!band->isNull()) return &band->info();
        return nullptr;
    }
    const uint8_t* line(int32_t y) const {
        const int32_t hh = heldLines();
        return y < hh ? Line(held->info(), y) : Line(band->info(), y - hh);
    }
};

bool SameLayout(const tagIMAGEINFO& a, const tagIMAGEINFO& b) {
    return a.lBps == b.lBps && a.lSpp == b.lSpp && a.ulRGBOrder == b.ulRGBOrder &&
           a.lXResolution == b.lXResolution && a.lYResolution == b.lYResolution;
}

bool SameShape(const tagIMAGEINFO& a, const tagIMAGEINFO& b) {
    return SameLayout(a, b) && a.lWidth == b.lWidth && a.lSync == b.lSync;
}

// The lines of a side from `from` on as a new image (empty when none are
// left).
int RestOf(const Side& side, const tagIMAGEINFO& shape, int32_t from, CImg& out) {
    const int32_t n = side.lines() - from;
    if (n <= 0) return RTN_OK;
    if (!out.createImg(shape.lWidth, n, shape.lSync, shape.lBps, shape.lSpp, shape.ulRGBOrder,
                       shape.lXResolution, shape.lYResolution))
        return RTN_STATE;
    if (out.isNull()) return RTN_MEM;
    const size_t step = static_cast<size_t>(TvkLineStep(shape));
    for (int32_t y = 0; y < n; ++y) std::memcpy(Line(out.info(), y), side.line(from + y), step);
    return RTN_OK;
}

// Moves a band's lines below the held lines.
bool HoldBand(CImg& held, CImg& band) {
    if (band.isNull()) return true;
    if (held.isNull()) {
        held.attachImg(band);
        return true;
    }
    if (!held.appendImg(band)) return false;
    band.deleteImg();
    return true;
}

} // namespace

int CPutImageOnSide::PutImageOnSide(CImg& img, bool middle) {
    CImg* other = m_info.pOther;
    if (other == nullptr || other == &img) return RTN_PAR;
    const bool front = m_info.bFront != 0;
    Side left{&m_held[0], front ? &img : other};
    Side right{&m_held[1], front ? other : &img};

    auto finish = [&](int r) {
        if (!middle) {
            m_held[0].deleteImg();
            m_held[1].deleteImg();
        }
        return r;
    };

    if (middle && (left.lines() == 0 || right.lines() == 0)) {
        // A side without lines yet: the other side's band waits.
        Side& waiting = left.lines() == 0 ? right : left;
        if (waiting.held->isNull() || waiting.band->isNull() ||
            SameShape(waiting.held->info(), waiting.band->info())) {
            if (!HoldBand(*waiting.held, *waiting.band)) return RTN_MEM;
            img.deleteImg();
            return RTN_OK;
        }
        return RTN_PAR;
    }
    if (left.lines() == 0 && right.lines() == 0) {
        img.deleteImg();
        other->deleteImg();
        return finish(RTN_OK);
    }

    // Shapes: held lines and the new band of a side agree; the sides agree
    // in layout. A side that never delivered a line (last call only) takes
    // the other side's shape and stays background.
    for (const Side* s : {&left, &right})
        if (!s->held->isNull() && !s->band->isNull() &&
            !SameShape(s->held->info(), s->band->info()))
            return RTN_PAR;
    const tagIMAGEINFO* ls = left.shape();
    const tagIMAGEINFO* rs = right.shape();
    if (ls == nullptr) ls = rs;
    if (rs == nullptr) rs = ls;
    if (!SameLayout(*ls, *rs)) return RTN_PAR;
    const tagIMAGEINFO& shape = *ls;
    if (IsBinary(shape)) return RTN_UNSUPPORTED;
    if (shape.lBps != 8) return RTN_STATE;
    // A planar line is three stored rows; joining them row by row would mix
    // the planes of the two sides.
    if (shape.lSpp != 1 && shape.ulRGBOrder != 0) return RTN_UNSUPPORTED;
    if (shape.ulRGBOrder > 1) return RTN_PAR;

    const int32_t wl = ls->lWidth, wr = rs->lWidth;
    const int64_t width = int64_t{wl} + wr;
    const int64_t bits = width * shape.lBps * shape.lSpp;
    const int64_t sync = m_info.ulAlign == 1 ? (bits + 7) / 8 : (bits + 31) / 32 * 4;
    const int32_t height = middle ? std::min(left.lines(), right.lines())
                                  : std::max(left.lines(), right.lines());
    if (width > INT32_MAX || sync > INT32_MAX) return RTN_PAR;
    CImg out;
    if (!out.createImg(0, 0, static_cast<int32_t>(width), height, static_cast<int32_t>(sync),
                       shape.lBps, shape.lSpp, shape.ulRGBOrder, shape.lXResolution,
                       shape.lYResolution))
        return RTN_PAR;
    if (out.isNull()) return RTN_MEM;

    const int32_t bw = shape.lSpp;
    if (m_info.pLeftBackground != nullptr) {
        // Everything outside the right half is the left half.
        if (const int r = m_info.pLeftBackground->fixPlatenImage(
                out, tagKDRECT{wl, 0, static_cast<int32_t>(width), height});
            r != RTN_OK)
            return r;
    }
    if (m_info.pRightBackground != nullptr) {
        if (const int r = m_info.pRightBackground->fixPlatenImage(out, tagKDRECT{0, 0, wl, height});
            r != RTN_OK)
            return r;
    }
    const size_t lbytes = static_cast<size_t>(wl) * bw;
    const size_t rbytes = static_cast<size_t>(wr) * bw;
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* d = Line(out.info(), y);
        if (y < left.lines()) std::memcpy(d, left.line(y), lbytes);
        if (y < right.lines()) std::memcpy(d + lbytes, right.line(y), rbytes);
    }

    // What was not output waits for the next call.
    CImg restL, restR;
    if (middle) {
        if (const int r = RestOf(left, *ls, height, restL); r != RTN_OK) return r;
        if (const int r = RestOf(right, *rs, height, restR); r != RTN_OK) return r;
    }
    m_held[0].deleteImg();
    m_held[1].deleteImg();
    m_held[0].attachImg(restL);
    m_held[1].attachImg(restR);
    other->deleteImg();
    img.attachImg(out);
    return finish(RTN_OK);
}

} // namespace Tvk::Imvra
