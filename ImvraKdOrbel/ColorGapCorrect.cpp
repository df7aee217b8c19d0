#include "ColorGapCorrect.h"

#include "Rotate90x.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace Tvk::Imvra {

namespace {

constexpr tagGAPPARAM kGap150And400{
    kGapParamSize, {104, 144, 152, 88, 64, 144, 152, 80, 56, 144, 160, 64, 96}};
constexpr tagGAPPARAM kGap200{kGapParamSize,
                              {96, 136, 144, 88, 64, 136, 144, 80, 56, 144, 160, 64, 96}};
constexpr tagGAPPARAM kGap300{kGapParamSize,
                              {84, 116, 116, 88, 64, 100, 116, 80, 56, 128, 160, 72, 92}};
constexpr tagGAPPARAM kGap600{kGapParamSize,
                              {84, 116, 116, 88, 64, 100, 108, 80, 48, 128, 160, 72, 92}};

bool IsRgb24(const tagIMAGEINFO& s) {
    return s.lBps == 8 && s.lSpp == 3 && s.ulRGBOrder == 0;
}

// The first `lines` lines of a record as a new image of their own.
int FirstLines(const tagIMAGEINFO& s, int32_t lines, CImg& out) {
    if (!out.createImg(s.lXpos, s.lYpos, s.lWidth, lines, s.lSync, s.lBps, s.lSpp, s.ulRGBOrder,
                       s.lXResolution, s.lYResolution))
        return RTN_PAR;
    if (out.isNull()) return RTN_MEM;
    std::memcpy(out.info().lpImage, s.lpImage, static_cast<size_t>(s.lSync) * lines);
    return RTN_OK;
}

} // namespace

const tagGAPPARAM* ColorGapParamFor(int32_t yResolution) {
    switch (yResolution) {
    case 150:
    case 400: return &kGap150And400;
    case 200: return &kGap200;
    case 300: return &kGap300;
    case 600: return &kGap600;
    default: return nullptr;
    }
}

CColorGapCorrect::~CColorGapCorrect() {
    Release();
}

void CColorGapCorrect::Release() {
    if (m_handle == nullptr) return;
    COLORGAPINFO r = Request(true);
    ReleaseColorGapHandle(&r);
    m_handle = nullptr;
}

COLORGAPINFO CColorGapCorrect::Request(bool last) const {
    COLORGAPINFO r{};
    r.ulSize = kColorGapInfoSizeLightOrder;
    r.bLastBand = last ? 1 : 0;
    r.lDelayLines = m_heldLines;
    r.pColorGap = m_handle;
    r.ulLightOrder = m_info.ulSetting;
    return r;
}

int CColorGapCorrect::setInfo(CImg& img, void* info) {
    if (const int r = setInfoMiddle(img, info); r != RTN_OK) return r;
    m_heldLines = 0;
    m_held = tagIMAGEINFO{};
    m_held.size = kImageInfoSize;
    return RTN_OK;
}

int CColorGapCorrect::setInfoMiddle(CImg&, void* info) {
    const auto* s = static_cast<const tagCOLORGAPCORRECTINFO*>(info);
    if (s == nullptr || s->ulSize != kColorGapCorrectInfoSize) return RTN_PAR;
    m_info = *s;
    return RTN_OK;
}

int CColorGapCorrect::IPFirst(CImg& img) {
    // A worker left by a page that never reached its last band.
    Release();
    m_heldLines = 0;
    return CorrectColorGap(img, false);
}

int CColorGapCorrect::CorrectColorGap(CImg& img, bool last) {
    const bool empty = img.isNull() || img.info().lHeight == 0;
    if (!(last && empty) && !IsRgb24(img.info())) return RTN_UNSUPPORTED;
    // The lines come out against the layout of the band, or for an empty
    // last band of the bands before it.
    tagIMAGEINFO src = empty ? m_held : img.info();
    if (empty) {
        if (m_handle == nullptr || !IsRgb24(src)) {
            Release();
            return RTN_OK; // nothing held back
        }
        src.lHeight = 0;
        src.lpImage = nullptr;
        src.tImageSize = 0;
    }

    CImg out;
    tagIMAGEINFO dst = src;
    if (last) {
        const int64_t lines = int64_t{std::max(m_heldLines, 0)} + src.lHeight;
        if (lines > INT32_MAX) return RTN_PAR;
        if (!out.createImg(src.lXpos, src.lYpos, src.lWidth, static_cast<int32_t>(lines),
                           src.lSync, 8, 3, 0, src.lXResolution, src.lYResolution))
            return RTN_PAR;
        if (out.isNull()) return RTN_MEM;
        dst = out.info();
    }

    COLORGAPINFO r = Request(last);
    const uint32_t rc = ColorGapCorrect(&dst, &src, &r);
    m_handle = r.pColorGap;
    if (rc != kColorGapOk) return RTN_PAR;
    m_heldLines = last ? 0 : r.lDelayLines;
    if (!empty) {
        m_held = img.info();
        m_held.lHeight = 0;
        m_held.lpImage = nullptr;
        m_held.tImageSize = 0;
    }

    // What the lower layer wrote replaces the band; a band of which nothing
    // came out yet is handed on empty (its lines come with a later band).
    const int32_t written = dst.lHeight;
    if (written <= 0) {
        img.deleteImg();
        return RTN_OK;
    }
    if (!last && written == src.lHeight) return RTN_OK;
    if (last && written == out.info().lHeight) {
        img.attachImg(out);
        return RTN_OK;
    }
    CImg lines;
    if (const int e = FirstLines(dst, written, lines); e != RTN_OK) return e;
    img.attachImg(lines);
    return RTN_OK;
}

int CColorGapCorrect::IP(CImg& img) {
    Release();
    m_heldLines = 0;
    if (img.isNull() || img.info().lHeight == 0) return RTN_OK;
    if (!IsRgb24(img.info())) return RTN_UNSUPPORTED;
    COLORGAPINFO r = Request(true);
    r.lDelayLines = 0;
    r.pColorGap = nullptr;
    // The table is read, never written, by the lower layer.
    r.pGapParam = const_cast<tagGAPPARAM*>(ColorGapParamFor(img.info().lYResolution));
    tagIMAGEINFO page = img.info();
    tagIMAGEINFO dst = page;
    const uint32_t rc = ColorGapCorrect(&dst, &page, &r);
    if (r.pColorGap != nullptr) ReleaseColorGapHandle(&r);
    return rc == kColorGapOk ? RTN_OK : RTN_PAR;
}

// ---------------------------------------------------------------------------
// Scanning direction

namespace KD730 {

int CCorrectUnusualScanningDirection::setInfo(CImg&, void* info) {
    const auto* s = static_cast<const tagSCANNINGDIRECTIONINFO*>(info);
    if (s == nullptr) return RTN_PAR;
    if (s->pDetect4Points != nullptr && s->pDetect4Points->ulSize < kDetect4PointsInfoMinSize)
        return RTN_PAR;
    if (s->pShadow != nullptr && s->pShadow->ulSize < kRmvShadowInfoSize) return RTN_PAR;
    m_info = *s;
    return RTN_OK;
}

int CCorrectUnusualScanningDirection::CorrectUnusualScanningDirection(CImg& img) {
    const uint32_t code = m_info.ulDirectionCode;
    switch (code) {
    case 0:
    case 4: return RTN_OK;
    case 8: return CorrectUnusualScanningMirror(img);
    case 2:
    case 6: break;
    default: return RTN_UNSUPPORTED; // no way of scanning known: the page stays
    }
    if (img.isNull()) return code == 2 ? RTN_OK : RTN_UNSUPPORTED;
    // The page is cut to its expected length first.
    const int64_t expected = int64_t{m_info.lLines[0]} + m_info.lLines[1] + m_info.lLines[2];
    tagIMAGEINFO& s = img.info();
    if (expected >= 1 && expected < s.lHeight) {
        s.lHeight = static_cast<int32_t>(expected);
        s.tImageSize = static_cast<uint32_t>(CImg::calcSize(s.lSync, s.lHeight, s.lSpp, s.ulRGBOrder));
    }
    return code == 2 ? CorrectUnusualScanningF180(img) : CorrectUnusualScanningB180(img);
}

int CCorrectUnusualScanningDirection::CorrectUnusualScanningF180(CImg& img) {
    CRotate90x turn;
    tagROTATE90XINFO info{kRotate90xInfoSize, 180};
    if (const int r = turn.IPInterface(img, &info); r != RTN_OK) return r;
    const int32_t w = img.info().lWidth, h = img.info().lHeight;
    auto turned = [w, h](tagKDPOINT p) { return tagKDPOINT{w - p.x, h - p.y}; };
    if (tagDETECT4POINTSINFO* c = m_info.pDetect4Points; c != nullptr) {
        const tagDETECT4POINTSINFO o = *c;
        c->LeftTop = turned(o.RightBottom);
        c->RightTop = turned(o.LeftBottom);
        c->LeftBottom = turned(o.RightTop);
        c->RightBottom = turned(o.LeftTop);
        const tagKDPOINT lt = turned({o.rectDoc.right, o.rectDoc.bottom});
        const tagKDPOINT rb = turned({o.rectDoc.left, o.rectDoc.top});
        c->rectDoc = {lt.x, lt.y, rb.x, rb.y};
        std::swap(c->lTopMargin, c->lBottomMargin);
        std::swap(c->lLeftMargin, c->lRightMargin);
    }
    if (tagRMVSHADOWINFO* sh = m_info.pShadow; sh != nullptr)
        std::swap(sh->lScannerTopMargin, sh->lScannerBottomMargin);
    return RTN_OK;
}

int CCorrectUnusualScanningDirection::CorrectUnusualScanningMirror(CImg& img) {
    if (img.isNull()) return RTN_OK;
    const tagIMAGEINFO& s = img.info();
    const bool gray = s.lBps == 8 && s.lSpp == 1;
    if (!gray && !IsRgb24(s)) return RTN_UNSUPPORTED;
    const int32_t w = s.lWidth;
    for (int32_t y = 0; y < s.lHeight; ++y) {
        uint8_t* line = TvkLinePtr(s, y);
        if (gray) {
            std::reverse(line, line + w);
            continue;
        }
        for (int32_t x = 0; x < w / 2; ++x)
            for (int k = 0; k < 3; ++k) std::swap(line[3 * x + k], line[3 * (w - 1 - x) + k]);
    }
    if (tagDETECT4POINTSINFO* c = m_info.pDetect4Points; c != nullptr) {
        const tagDETECT4POINTSINFO o = *c;
        c->LeftTop = {w - o.RightTop.x, o.RightTop.y};
        c->RightTop = {w - o.LeftTop.x, o.LeftTop.y};
        c->LeftBottom = {w - o.RightBottom.x, o.RightBottom.y};
        c->RightBottom = {w - o.LeftBottom.x, o.LeftBottom.y};
        c->rectDoc.left = w - o.rectDoc.right;
        c->rectDoc.right = w - o.rectDoc.left;
        std::swap(c->lLeftMargin, c->lRightMargin);
    }
    return RTN_OK;
}

} // namespace KD730
} // namespace Tvk::Imvra
