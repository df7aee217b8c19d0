#include "Detect4Points.h"

#include "Shading.h"
#include "TvkDetectSlantAndSize.h"
#include "TvkLogger.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace Tvk::Imvra::KD730 {

namespace {

// Every result group: rectangle, corners, slant and the two further bits the
// detector is always given.
constexpr uint32_t kResultFlags = 31;

void FillRequestHead(tagDETECT4POINTSREQUEST& r, void* handle, uint32_t command) {
    r.req.basic.cbsize = kOneRadiateExSize;
    r.req.basic.dwMode = kDssModeOneRadiateEx;
    r.req.basic.pHandle = handle;
    r.req.basic.dwCommand = command;
    r.req.basic.dwResultFlag = kResultFlags;
    r.req.pScannerInfo = &r.scanner;
    r.req.pScanInfo = &r.scan;
    r.req.pSettingInfo = &r.setting;
    r.scanner.cbsize = kScannerInfoSize;
    r.scan.cbsize = kScanInfoSize;
    r.setting.cbsize = kSettingInfoSize;
}

void SetSensors(tagONERADIATEEX_SCANNERINFO& s, const int32_t (&w)[4]) {
    s.sensorPos[0] = {w[0], w[1]};
    s.sensorPos[1] = {w[2], w[3]};
}

// Paper size and margins of a corner record, in the detector's field order.
void SetPaper(tagONERADIATEEX_SCANINFO& s, const tagDETECT4POINTSINFO& c) {
    s.paperSize = {c.Size.cx, c.Size.cy};
    s.topMargin = c.lTopMargin;
    s.bottomMargin = c.lBottomMargin;
    s.leftMargin = c.lLeftMargin;
    s.rightMargin = c.lRightMargin;
}

// Thresholds left at the detector's defaults.
void DefaultThresholds(tagONERADIATEEX_SETTINGINFO& s) {
    s.distance = 0;
    std::fill(std::begin(s.simplex_edge_th), std::end(s.simplex_edge_th), -1);
    std::fill(std::begin(s.duplex_edge_th), std::end(s.duplex_edge_th), -1);
    std::fill(std::begin(s.duplex_br_th), std::end(s.duplex_br_th), -1);
}

// Trims of a corner record in the detector's order top, left, right, bottom;
// zeros when the record is too short to hold them.
void SetTrims(int32_t (&out)[4], const tagDETECT4POINTSINFO& c) {
    if (c.ulSize < kDetect4PointsInfoTrimSize) {
        std::fill(std::begin(out), std::end(out), 0);
        return;
    }
    out[0] = c.lTopTrim;
    out[1] = c.lLeftTrim;
    out[2] = c.lRightTrim;
    out[3] = c.lBottomTrim;
}

void CopyCorners(tagDETECT4POINTSINFO& c, const tagDETECTRESULTBLOCK& r) {
    c.LeftTop = {r.leftTop.x, r.leftTop.y};
    c.RightTop = {r.rightTop.x, r.rightTop.y};
    c.LeftBottom = {r.leftBottom.x, r.leftBottom.y};
    c.RightBottom = {r.rightBottom.x, r.rightBottom.y};
    c.vectorSlant = {r.slantVector.x, r.slantVector.y};
}

void TakeSizeAndMargins(tagDETECT4POINTSINFO& kept, const tagDETECT4POINTSINFO& given) {
    kept.Size = given.Size;
    kept.lTopMargin = given.lTopMargin;
    kept.lBottomMargin = given.lBottomMargin;
    kept.lLeftMargin = given.lLeftMargin;
    kept.lRightMargin = given.lRightMargin;
}

// The description the detector is set up with: the page's size, the
// band's layout.
tagIMAGEINFO SetupDescription(const CImg& band, int32_t width, int32_t height) {
    tagIMAGEINFO d{};
    d.size = kImageInfoSize;
    d.lWidth = width;
    d.lHeight = height;
    d.lBps = band.info().lBps;
    d.lSpp = band.info().lSpp;
    d.ulRGBOrder = band.info().ulRGBOrder;
    d.lXResolution = band.info().lXResolution;
    d.lYResolution = band.info().lYResolution;
    d.lSync = static_cast<int32_t>(
        std::max<int64_t>(0, CImg::calcMinSync(width, d.lBps, d.lSpp, d.ulRGBOrder)));
    return d;
}

uint32_t RunDetector(const tagIMAGEINFO* images, tagDETECT4POINTSREQUEST& r, void*& handle) {
    const uint32_t rc = DetectSlantAndSizeEx(images, &r.req.basic);
    handle = r.req.basic.pHandle;
    return rc;
}

} // namespace

// ---------------------------------------------------------------------------
// One side

CDetect4Points::~CDetect4Points() {
    if (m_handle != nullptr) Detect4Points(&m_desc, kDssCmdRelease);
}

void CDetect4Points::BuildRequest(tagDETECT4POINTSREQUEST& r, const tagDETECT4POINTSSETINFO& set,
                                  void* handle, uint32_t command) {
    r = tagDETECT4POINTSREQUEST{};
    FillRequestHead(r, handle, command);
    SetSensors(r.scanner, set.lSensor);
    r.scanner.duplex_offset = 0;
    r.scanner.bIsBackBlack = set.bBlackBack;
    r.scan.shadowID = static_cast<int32_t>(set.bFront);
    if (command != kDssCmdRelease && set.pInfo != nullptr) SetPaper(r.scan, *set.pInfo);
    DefaultThresholds(r.setting);
    if (set.pInfo != nullptr) SetTrims(r.setting.revise_margin_front, *set.pInfo);
    r.setting.bIsBaseBack[0] = set.bTurned;
    r.setting.bIsBaseBack[1] = set.bTurned;
}

int CDetect4Points::Detect4Points(const tagIMAGEINFO* image, uint32_t command) {
    tagDETECT4POINTSREQUEST r;
    BuildRequest(r, m_set, m_handle, command);
    tagIMAGEINFO desc = *image;
    const uint32_t rc = RunDetector(&desc, r, m_handle);
    if (command == kDssCmdResult && m_set.pInfo != nullptr) {
        tagDETECT4POINTSINFO& c = *m_set.pInfo;
        CopyCorners(c, r.req.basic.result);
        const tagDETECTRESULTBLOCK& b = r.req.basic.result;
        c.rectDoc = {b.rectXY.x, b.rectXY.y, b.rectXY.x + b.rectSize.x,
                     b.rectXY.y + b.rectSize.y};
    }
    return rc == 0 ? RTN_OK : RTN_PAR;
}

namespace {
bool SimplexSettingsOk(const void* info) {
    const auto* s = static_cast<const tagDETECT4POINTSSETINFO*>(info);
    return s != nullptr && s->ulSize == kDetect4PointsSetInfoSize && s->pInfo != nullptr &&
           s->pInfo->ulSize >= kDetect4PointsInfoMinSize;
}
} // namespace

int CDetect4Points::setInfo(CImg& img, void* info) {
    if (!SimplexSettingsOk(info)) return RTN_PAR;
    const auto* s = static_cast<const tagDETECT4POINTSSETINFO*>(info);
    if (m_handle != nullptr) Detect4Points(&m_desc, kDssCmdRelease);
    m_set = *s;
    m_desc = SetupDescription(img, s->lWidth, s->lHeight);
    return Detect4Points(&m_desc, kDssCmdInit);
}

int CDetect4Points::setInfoLast(CImg&, void* info) {
    if (!SimplexSettingsOk(info)) return RTN_PAR;
    const auto* s = static_cast<const tagDETECT4POINTSSETINFO*>(info);
    if (m_set.pInfo != nullptr) TakeSizeAndMargins(*m_set.pInfo, *s->pInfo);
    return RTN_OK;
}

int CDetect4Points::IPFirst(CImg& img) {
    return Detect4Points(&img.info(), kDssCmdFirst);
}

int CDetect4Points::IPMiddle(CImg& img) {
    return Detect4Points(&img.info(), kDssCmdMid);
}

int CDetect4Points::IPLast(CImg& img) {
    // A failed last band leaves the detector open until the next page or
    // the stage's end.
    for (uint32_t command : {kDssCmdLast, kDssCmdResult, kDssCmdRelease})
        if (const int r = Detect4Points(&img.info(), command); r != RTN_OK) return r;
    return RTN_OK;
}

int CDetect4Points::IP(CImg& img) {
    for (uint32_t command : {kDssCmdFirst, kDssCmdResult, kDssCmdRelease})
        if (const int r = Detect4Points(&img.info(), command); r != RTN_OK) return r;
    return RTN_OK;
}

// ---------------------------------------------------------------------------
// Both sides

CDetect4PointsDuplex::~CDetect4PointsDuplex() {
    if (m_handle != nullptr) Detect4Points(m_desc, m_desc, kDssCmdRelease);
}

namespace {

// Micrometres of a trim in lines; false without a resolution.
bool TrimMicrometres(int32_t lines, int32_t ydpi, int32_t& um) {
    if (ydpi <= 0) return false;
    um = static_cast<int32_t>(int64_t{lines} * 25400 / ydpi);
    return true;
}

void CarrierSheetBlock(tagONERADIATEEX_CSINFO& b, int32_t topTrimUm, int32_t sheetLength) {
    b.cbsize = kCSInfoSize;
    b.dwTag = 3;
    b.th_br[0] = b.th_br[1] = 0x282828;
    b.len_belt = 9700 - topTrimUm;
    b.len_ignore = std::max(1000 - topTrimUm, 0);
    b.dwTh_black = 57344;
    b.SheetSize = {216000, sheetLength};
    b.SheetMargin[0] = 11000;
    b.SheetMargin[1] = 400;
    b.SheetMargin[2] = 400;
    b.SheetMargin[3] = 5000;
}

} // namespace

int CDetect4PointsDuplex::BuildRequest(tagDETECT4POINTSREQUEST& r,
                                       const tagDETECT4POINTSDUPLEXINFO& set,
                                       const tagIMAGEINFO& front, const tagIMAGEINFO* backImage,
                                       void* handle, uint32_t command) {
    r = tagDETECT4POINTSREQUEST{};
    FillRequestHead(r, handle, command);
    SetSensors(r.scanner, set.lSensor);
    r.scanner.duplex_offset = set.lOffset;
    r.scanner.bIsBackBlack = 0;
    r.scan.shadowID = set.lShadowID;
    if (command != kDssCmdRelease && set.pFront != nullptr) SetPaper(r.scan, *set.pFront);
    r.scan.DuplexScan = 1;
    r.scan.pImg = backImage;
    r.scan.bCarrierSheetMode = set.bWholePage ? 1 : 0;
    DefaultThresholds(r.setting);
    if (set.pFront != nullptr) SetTrims(r.setting.revise_margin_front, *set.pFront);
    if (set.pBack != nullptr) SetTrims(r.setting.revise_margin_back, *set.pBack);
    r.setting.bIsBaseBack[0] = set.bTurned[0];
    r.setting.bIsBaseBack[1] = set.bTurned[1];
    std::fill(std::begin(r.setting.duplex_cs_edge_th), std::end(r.setting.duplex_cs_edge_th), -1);
    std::fill(std::begin(r.setting.duplex_cs_br_th), std::end(r.setting.duplex_cs_br_th), -1);
    if (set.bWholePage) {
        r.setting.dwProcessFlag = kProcessExtraPass | kProcessRebuildLowerCorners |
                                  kProcessDeskewCut; // 28
        r.setting.duplex_cs_edge_th[0] = r.setting.duplex_cs_edge_th[1] = 30;
        r.setting.duplex_cs_br_th[0] = r.setting.duplex_cs_br_th[1] = 110;
        r.setting.pCSInfo = r.carrier;
        r.setting.csinfo_count = 2;
        if (command != kDssCmdRelease) {
            // The larger top trim of the two sides, in micrometres.
            int32_t top = 0;
            if (set.pFront != nullptr) top = set.pFront->lTopTrim;
            if (set.pBack != nullptr) top = std::max(top, set.pBack->lTopTrim);
            int32_t um = 0;
            if (!TrimMicrometres(top, front.lYResolution, um)) return RTN_PAR;
            CarrierSheetBlock(r.carrier[0], um, 320000);
            CarrierSheetBlock(r.carrier[1], um, 379000);
        }
    }
    return RTN_OK;
}

int CDetect4PointsDuplex::Detect4Points(const tagIMAGEINFO& front, const tagIMAGEINFO& back,
                                        uint32_t command) {
    // The front and the back description side by side; the detector takes
    // the back one through the scan record.
    tagIMAGEINFO images[2] = {front, back};
    tagDETECT4POINTSREQUEST r;
    if (const int e = BuildRequest(r, m_set, front, &images[1], m_handle, command); e != RTN_OK)
        return e;
    const uint32_t rc = RunDetector(images, r, m_handle);
    if (command == kDssCmdResult) {
        const tagDETECTRESULTBLOCK* blocks[2] = {&r.req.basic.result, &r.scan.back};
        tagDETECT4POINTSINFO* sides[2] = {m_set.pFront, m_set.pBack};
        for (int k = 0; k < 2; ++k) {
            if (sides[k] == nullptr) continue;
            tagDETECT4POINTSINFO& c = *sides[k];
            CopyCorners(c, *blocks[k]);
            // The bounding rectangle of the corners, as the one-sided stage
            // reports it: a cut to it never cuts into a slanted page.
            c.rectDoc.left = std::min(c.LeftTop.x, c.LeftBottom.x);
            c.rectDoc.top = std::min(c.LeftTop.y, c.RightTop.y);
            c.rectDoc.right = std::max(c.RightTop.x, c.RightBottom.x);
            c.rectDoc.bottom = std::max(c.LeftBottom.y, c.RightBottom.y);
        }
    }
    return rc == 0 ? RTN_OK : RTN_PAR;
}

int CDetect4PointsDuplex::Check(void* info) const {
    const auto* s = static_cast<const tagDETECT4POINTSDUPLEXINFO*>(info);
    if (s == nullptr) {
        TvkLogger::writeLog("CDetect4PointsDuplex::setInfo lpInfo = NULL.");
        return RTN_PAR;
    }
    if (s->ulSize != kDetect4PointsDuplexInfoSize) {
        TvkLogger::writeLog("CDetect4PointsDuplex::setInfo size error.");
        return RTN_PAR;
    }
    if (s->pFront == nullptr || s->pBack == nullptr) {
        TvkLogger::writeLog("CDetect4PointsDuplex::setInfo front or back = NULL.");
        return RTN_PAR;
    }
    if (s->pFront->ulSize != kDetect4PointsInfoSize || s->pBack->ulSize != kDetect4PointsInfoSize) {
        TvkLogger::writeLog("CDetect4PointsDuplex::setInfo front or back size error.");
        return RTN_PAR;
    }
    return RTN_OK;
}

int CDetect4PointsDuplex::setInfo(CImg& img, void* info) {
    if (const int r = Check(info); r != RTN_OK) return r;
    const auto* s = static_cast<const tagDETECT4POINTSDUPLEXINFO*>(info);
    if (m_handle != nullptr) Detect4Points(m_desc, m_desc, kDssCmdRelease);
    m_set = *s;
    m_desc = SetupDescription(img, s->lWidth, s->lHeight);
    return Detect4Points(m_desc, m_desc, kDssCmdInit);
}

int CDetect4PointsDuplex::setInfoMiddle(CImg&, void* info) {
    if (const int r = Check(info); r != RTN_OK) return r;
    m_set.pBackImage = static_cast<const tagDETECT4POINTSDUPLEXINFO*>(info)->pBackImage;
    return RTN_OK;
}

int CDetect4PointsDuplex::setInfoLast(CImg&, void* info) {
    if (const int r = Check(info); r != RTN_OK) return r;
    const auto* s = static_cast<const tagDETECT4POINTSDUPLEXINFO*>(info);
    TakeSizeAndMargins(*m_set.pFront, *s->pFront);
    TakeSizeAndMargins(*m_set.pBack, *s->pBack);
    m_set.pBackImage = s->pBackImage;
    return RTN_OK;
}

namespace {
tagIMAGEINFO DescriptionOf(const CImg* img) {
    if (img == nullptr) return tagIMAGEINFO{};
    return img->info();
}
} // namespace

int CDetect4PointsDuplex::BandCommand(CImg& img, uint32_t command) {
    return Detect4Points(img.info(), DescriptionOf(m_set.pBackImage), command);
}

// Commands from firstCommand on: the last band or the whole page, then the
// results and the release, each only after the one before succeeded.
int CDetect4PointsDuplex::Finish(CImg& img, uint32_t firstCommand) {
    for (const uint32_t command : {firstCommand, uint32_t{kDssCmdResult}, uint32_t{kDssCmdRelease}})
        if (const int r = BandCommand(img, command); r != RTN_OK) return r;
    return RTN_OK;
}

int CDetect4PointsDuplex::IPFirst(CImg& img) {
    m_front.PopAll();
    m_back.PopAll();
    if (!m_set.bWholePage) return BandCommand(img, kDssCmdFirst);
    return IPMiddle(img);
}

int CDetect4PointsDuplex::IPMiddle(CImg& img) {
    if (!m_set.bWholePage) return BandCommand(img, kDssCmdMid);
    // The detector sees the page at the last band: copies wait here.
    CImg front = img;
    if (!img.isNull() && front.isNull()) return RTN_MEM;
    if (const int r = m_front.push(front); r != RTN_OK) return r;
    if (m_set.pBackImage != nullptr) {
        CImg back = *m_set.pBackImage;
        if (!m_set.pBackImage->isNull() && back.isNull()) return RTN_MEM;
        if (const int r = m_back.push(back); r != RTN_OK) return r;
    }
    return RTN_OK;
}

int CDetect4PointsDuplex::IPLast(CImg& img) {
    if (!m_set.bWholePage) {
        m_front.PopAll();
        m_back.PopAll();
        return Finish(img, kDssCmdLast);
    }
    if (const int r = IPMiddle(img); r != RTN_OK) return r;
    CImg front, back;
    try {
        m_front.SpliceAndPopAll(front);
        m_back.SpliceAndPopAll(back);
    } catch (const std::bad_alloc&) {
        m_front.PopAll();
        m_back.PopAll();
        return RTN_MEM;
    }
    img.attachImg(front);
    if (m_set.pBackImage != nullptr) m_set.pBackImage->attachImg(back);
    return Finish(img, kDssCmdPage);
}

int CDetect4PointsDuplex::IP(CImg& img) {
    m_front.PopAll();
    m_back.PopAll();
    return Finish(img, kDssCmdPage);
}

// ---------------------------------------------------------------------------
// Cut-out

int CCutOut::setInfo(CImg&, void* info) {
    const auto* s = static_cast<const tagCUTOUTINFO*>(info);
    if (s == nullptr || s->ulSize != kCutOutInfoSize) return RTN_PAR;
    m_info = *s;
    return RTN_OK;
}

int CCutOut::IP(CImg& img) {
    const tagIMAGEINFO& s = img.info();
    if (s.lBps != 8) return RTN_PAR;
    if (m_info.lDstHeight == 0) return RTN_OK;
    const int64_t sync = int64_t{m_info.lDstWidth} * s.lSpp;
    if (sync < 0 || sync > INT32_MAX) return RTN_PAR;
    CImg out;
    if (!out.createImg(0, 0, m_info.lDstWidth, m_info.lDstHeight, static_cast<int32_t>(sync), 8,
                       s.lSpp, s.ulRGBOrder, s.lXResolution, s.lYResolution))
        return RTN_PAR;
    if (out.isNull()) return RTN_MEM;
    if (const int r = CutOutCore(out, img, m_info); r != RTN_OK) return r;
    img.attachImg(out);
    return RTN_OK;
}

int CCutOut::CutOutCore(CImg& dst, const CImg& src, const tagCUTOUTINFO& info) {
    const tagIMAGEINFO& s = src.info();
    if (s.lBps != 8 || s.ulRGBOrder != 0 || dst.info().lBps != 8 || dst.info().ulRGBOrder != 0 ||
        dst.info().lSpp != s.lSpp)
        return RTN_PAR;
    int64_t sx = info.lSrcXOffset, sy = info.lSrcYOffset;
    int64_t w = info.lSrcWidth, h = info.lSrcHeight;
    int64_t dx = info.lDstXOffset, dy = info.lDstYOffset;
    // A source rectangle that starts before the page starts at its edge;
    // the destination moves with it, so each pixel keeps its place.
    if (sx < 0) w += sx, dx -= sx, sx = 0;
    if (sy < 0) h += sy, dy -= sy, sy = 0;
    // Destination side.
    int64_t wd = w, hd = h;
    if (dx < 0) wd = w + dx, sx -= dx, dx = 0;
    if (dy < 0) hd = h + dy, sy -= dy, dy = 0;
    const tagIMAGEINFO& d = dst.info();
    if (dx + wd > d.lWidth) wd = d.lWidth - dx;
    if (dy + hd > d.lHeight) hd = d.lHeight - dy;
    wd = std::max<int64_t>(wd, 0);
    hd = std::max<int64_t>(hd, 0);
    // Source side.
    const int64_t ws = sx + w > s.lWidth ? std::max<int64_t>(s.lWidth - sx, 0) : w;
    const int64_t hs = sy + h > s.lHeight ? std::max<int64_t>(s.lHeight - sy, 0) : h;
    const int64_t cw = std::max<int64_t>(std::min(wd, ws), 0);
    const int64_t ch = std::max<int64_t>(std::min(hd, hs), 0);

    if (info.pShading != nullptr)
        if (const int r = info.pShading->fixPlatenImage(dst); r != RTN_OK) return r;
    if (cw == 0 || ch == 0 || src.isNull()) return RTN_OK;
    const size_t bytes = static_cast<size_t>(cw * s.lSpp);
    for (int64_t y = 0; y < ch; ++y)
        std::memcpy(TvkLinePtr(d, dy + y) + dx * s.lSpp, TvkLinePtr(s, sy + y) + sx * s.lSpp,
                    bytes);
    return RTN_OK;
}

// ---------------------------------------------------------------------------
// What the engine puts into the cut-out settings

tagCUTOUTINFO MakeCutOutInfo(const tagIMAGEINFO& page, const tagIMAGEINFO& output,
                             const tagIMAGEINFO& input, bool cardScan,
                             const tagDETECT4POINTSINFO* corners,
                             const tagFEEDINGDIRECTIONINFO* feeding, CShading* shading) {
    tagCUTOUTINFO c{};
    c.ulSize = kCutOutInfoSize;
    c.lDstWidth = output.lWidth;
    c.lDstHeight = output.lHeight;
    c.pShading = shading;
    if (!cardScan || corners == nullptr) {
        c.lSrcXOffset = output.lXpos;
        c.lSrcYOffset = output.lYpos;
        c.lSrcWidth = page.lWidth;
        c.lSrcHeight = page.lHeight;
        return c;
    }
    const tagKDRECT& r = corners->rectDoc;
    c.lSrcXOffset = r.left;
    c.lSrcYOffset = r.top;
    c.lSrcWidth = r.right - r.left;
    c.lSrcHeight = r.bottom - r.top;
    c.lDstXOffset = (page.lWidth - c.lSrcWidth) / 2 - output.lXpos;
    const int32_t top = feeding != nullptr ? feeding->lTopMargin : 0;
    const int64_t topLines =
        input.lYResolution > 0 ? int64_t{top} * page.lYResolution / input.lYResolution : 0;
    c.lDstYOffset = static_cast<int32_t>(topLines - output.lYpos);
    return c;
}

} // namespace Tvk::Imvra::KD730
