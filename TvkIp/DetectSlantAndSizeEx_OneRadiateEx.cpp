// Four-corner detector of the detection interface (mode 13).
#include "DetectSlantAndSizeEx_OneRadiateEx.h"

#include "DetectSize2Duplex.h"
#include "Img2.h"
#include "SideEdgeDark.h"
#include "TrimCorner.h"
#include "OneRadiateExFields.h"
#include "SizeDetectorGlue.h"
#include "TvkLogger.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <limits>
#include <new>

using namespace ONERADIATEEX_FIELDS;

namespace {

using Request = tagDETECTSLANTSIZEEX_ONERADIATE_EX;
using ScanInfo = tagONERADIATEEX_SCANINFO;
using ScannerInfo = tagONERADIATEEX_SCANNERINFO;
using SettingInfo = tagONERADIATEEX_SETTINGINFO;

// Copies at most our record's size of an image description.
void CopyImageInfo(tagTVKIMAGEINFO* dst, const tagTVKIMAGEINFO* src) {
    const size_t n = std::min<size_t>(src->size, kTvkImageInfoSize);
    std::memcpy(dst, src, n);
    dst->size = kTvkImageInfoSize;
}

// Option words 5-10 of the size detectors at the result step: the nominal
// paper size and the four margins.
struct ResultWords {
    int32_t w5 = 0, w6 = 0, w7 = 0, w8 = 0, w9 = 0, w10 = 0;
};

ResultWords WordsOf(const ScanInfo* s) {
    ResultWords w;
    if (Reaches(s, ONERADIATEEX_FIELD_END(ScanInfo, paperSize)))
        w.w5 = s->paperSize.x, w.w6 = s->paperSize.y;
    if (Reaches(s, ONERADIATEEX_FIELD_END(ScanInfo, rightMargin))) {
        w.w8 = s->topMargin;
        w.w7 = s->bottomMargin;
        w.w9 = s->leftMargin;
        w.w10 = s->rightMargin;
    }
    return w;
}

// The dark-backing detector measures its slant in square units (the coarser
// axis scaled to the finer resolution); the request reports a slant in pixels
// and lines of the scan, as the other detectors give it and as the trimming
// and the corner names take it. An upright (1, 0) stays as it is.
Tvk::tagPOINT ScanUnitSlant(Tvk::tagPOINT s, int32_t xdpi, int32_t ydpi) {
    if (s.x == 0 || s.y == 0 || xdpi < 1 || ydpi < 1 || xdpi == ydpi) return s;
    auto scale = [](int32_t v, int32_t mul, int32_t div) {
        return static_cast<int32_t>(std::clamp<int64_t>(int64_t{v} * mul / div,
                                                        std::numeric_limits<int32_t>::min(),
                                                        std::numeric_limits<int32_t>::max()));
    };
    if (xdpi < ydpi) return {s.x, scale(s.y, ydpi, xdpi)};
    return {scale(s.x, xdpi, ydpi), s.y};
}

// The corners of an upright (or quarter-turned) sheet as the size detectors
// order them, assigned to the request's names. The detectors hold a valid
// page's resolutions, never 0.
void AssignCorners(tagDETECTRESULTBLOCK& out, const Tvk::tagPOINT (&p)[4], Tvk::tagPOINT slant,
                   int32_t div, int32_t mul) {
    const tagLABELLEDCORNERS c = SizeDetectorCorners(p, SteeperThanDiagonal(slant, div, mul));
    out.leftTop = c.leftTop, out.rightTop = c.rightTop;
    out.leftBottom = c.leftBottom, out.rightBottom = c.rightBottom;
}

// Turns a size detector's answer into a result block. The simplex detector
// trims its rectangle with the short form; the duplex one with the long form.
void WriteResult(tagDETECTRESULTBLOCK& out, uint32_t flags, const tagDETECTSIZEINFO& info,
                 const int32_t trim[4], int32_t div, int32_t mul, bool longFormRect) {
    const Tvk::tagPOINT s = info.slant;
    if (flags & kDssResultRect) {
        const Tvk::tagPOINT a{info.rect.left, info.rect.bottom},
            b{info.rect.right, info.rect.bottom}, c{info.rect.right, info.rect.top},
            d{info.rect.left, info.rect.top};
        const bool turned = s.y > s.x;
        Tvk::tagPOINT p[4];
        if (turned)
            p[0] = d, p[1] = a, p[2] = b, p[3] = c;
        else
            p[0] = a, p[1] = b, p[2] = c, p[3] = d;
        if (longFormRect)
            TrimFourPoint(p, trim, s, div, mul);
        else
            TrimFourPoint(p, trim, s);
        const Tvk::tagPOINT td = turned ? p[0] : p[3], tb = turned ? p[2] : p[1];
        out.rectXY = td;
        out.rectSize = {tb.x - td.x, tb.y - td.y};
    }
    if (flags & kDssResultCorners) {
        Tvk::tagPOINT p[4] = {info.corner[0], info.corner[1], info.corner[2], info.corner[3]};
        if (NeedTrimFourPoint(info)) TrimFourPoint(p, trim, s, div, mul);
        AssignCorners(out, p, s, div, mul);
    }
    if (flags & kDssResultSlant) out.slantVector = s;
}

} // namespace

const tagONERADIATEEX_SCANNERINFO* OneRadiateExScannerInfo(const Request* r) {
    return Reaches(&r->basic, kOneRadiateExScannerInfoSize) ? r->pScannerInfo : nullptr;
}

tagONERADIATEEX_SCANINFO* OneRadiateExScanInfo(const Request* r) {
    return Reaches(&r->basic, kOneRadiateExScanInfoSize) ? r->pScanInfo : nullptr;
}

const tagONERADIATEEX_SETTINGINFO* OneRadiateExSettingInfo(const Request* r) {
    return Reaches(&r->basic, kOneRadiateExSettingInfoSize) ? r->pSettingInfo : nullptr;
}

CDetectSlantAndSize_OneRadiateEx::CDetectSlantAndSize_OneRadiateEx() {
    m_imgFront.size = kTvkImageInfoSize;
    m_imgBack.size = kTvkImageInfoSize;
}

CDetectSlantAndSize_OneRadiateEx::~CDetectSlantAndSize_OneRadiateEx() {
    ReleaseDetectSizeClass();
}

void CDetectSlantAndSize_OneRadiateEx::ReleaseDetectSizeClass() {
    m_pSimplex.reset();
    m_pDuplex.reset();
    m_pSideEdge.reset();
    m_bBlackBack = 0;
    m_bDuplex = 0;
}

uint32_t CDetectSlantAndSize_OneRadiateEx::InitProc(const tagTVKIMAGEINFO* image,
                                                    tagDETECTSLANTSIZEEXBASIC* request) {
    if (!request) return kDssBadRequest;
    auto* r = reinterpret_cast<Request*>(request);
    const ScannerInfo* scanner = OneRadiateExScannerInfo(r);
    ScanInfo* scan = OneRadiateExScanInfo(r);
    // Both records describe the scan; without them there is nothing to set up.
    if (!scanner || !scan) return kDssBadRequest;
    m_bDuplex =
        Reaches(scan, ONERADIATEEX_FIELD_END(ScanInfo, DuplexScan)) && scan->DuplexScan ? 1 : 0;
    m_bBlackBack = 0;
    m_bCarrierSheet = 0;
    if (image) {
        CopyImageInfo(&m_imgFront, image);
        if (m_bDuplex) {
            const tagTVKIMAGEINFO* back = BackImageOf(scan);
            if (back)
                CopyImageInfo(&m_imgBack, back);
            else
                m_imgBack = m_imgFront;
        }
    }
    if (Reaches(scanner, kScannerInfoBackBlackSize)) m_bBlackBack = scanner->bIsBackBlack ? 1 : 0;
    if (Reaches(scan, kScanInfoCarrierSheetSize)) m_bCarrierSheet = scan->bCarrierSheetMode ? 1 : 0;
    if (m_bBlackBack) return InitProc_BlackBack(image, r);
    if (m_bCarrierSheet) return InitProc_CarrierSheet(image, r);
    if (!m_bDuplex) return InitProc_Simplex(image, r);
    return InitProc_Duplex(image, r);
}

uint32_t CDetectSlantAndSize_OneRadiateEx::InitProc_Simplex(const tagTVKIMAGEINFO* image,
                                                            Request* r) {
    ReleaseDetectSizeClass();
    m_pSimplex.reset(new (std::nothrow) CDetectSize3());
    if (!m_pSimplex) return kDssNoMemory;
    const ScannerInfo* scanner = OneRadiateExScannerInfo(r);
    const ScanInfo* scan = OneRadiateExScanInfo(r);
    const SettingInfo* setting = OneRadiateExSettingInfo(r);
    const bool shadow = ShadowIdOf(scan) == 1;

    CDetectSize3::tagOPTION o{};
    o.ulSize = CDetectSize3::kOptionSize;
    o.lSensorX1 = SensorOf(scanner, 0).x, o.lSensorY1 = SensorOf(scanner, 0).y;
    o.lSensorX2 = SensorOf(scanner, 1).x, o.lSensorY2 = SensorOf(scanner, 1).y;
    o.ulFlags = r->basic.dwResultFlag & kDssResultPassOn;
    if (ProcessFlagOf(setting) & kProcessExtraPass) o.ulFlags |= 1u << 18;
    o.lThreshold1 = shadow ? 50 : 10;
    o.lThreshold2 = shadow ? 10 : 50;
    o.lWindow = o.lDarkRun = o.lDarkLevel = -1;
    o.bMode = shadow ? 1 : 0;

    const int32_t mmX = OneMillimetre(m_imgFront.lXResolution);
    const int32_t mmY = OneMillimetre(m_imgFront.lYResolution);
    m_trimFront[0] = m_trimFront[3] = mmY;
    m_trimFront[1] = m_trimFront[2] = mmX;
    m_trimFront[shadow ? 0 : 3] *= 2;

    if (setting) {
        if (setting->cbsize < kSettingInfoMinSize) return kIpErrBadArgument;
        if (setting->simplex_edge_th[0] >= 0) o.lThreshold1 = setting->simplex_edge_th[0];
        if (setting->simplex_edge_th[1] >= 0) o.lThreshold2 = setting->simplex_edge_th[1];
        if (setting->distance >= 0) o.lWindow = setting->distance;
        for (int i = 0; i < 4; ++i)
            if (setting->revise_margin_front[i] >= 0)
                m_trimFront[i] = setting->revise_margin_front[i];
        if (Reaches(setting, kSettingInfoBaseBackSize))
            o.bSlantFromBottom = setting->bIsBaseBack[0];
    }
    return m_pSimplex->Initialize(DescriptionSetOf(image), &o);
}

uint32_t CDetectSlantAndSize_OneRadiateEx::InitProc_Duplex(const tagTVKIMAGEINFO* image,
                                                           Request* r) {
    ReleaseDetectSizeClass();
    m_pDuplex.reset(new (std::nothrow) CDetectSizeWithDuplex2());
    if (!m_pDuplex) return kDssNoMemory;
    // Releasing the previous detector clears the way of working; this one is
    // the duplex way.
    m_bDuplex = 1;
    const ScannerInfo* scanner = OneRadiateExScannerInfo(r);
    const ScanInfo* scan = OneRadiateExScanInfo(r);
    const SettingInfo* setting = OneRadiateExSettingInfo(r);
    const bool shadow = ShadowIdOf(scan) == 1;

    CDetectSizeWithDuplex2::tagOPTION o{};
    o.ulSize = CDetectSizeWithDuplex2::kOptionSize;
    for (int k = 0; k < 2; ++k) {
        o.lSensor[2 * k] = SensorOf(scanner, k).x;
        o.lSensor[2 * k + 1] = SensorOf(scanner, k).y;
    }
    o.lOffset = DuplexOffsetOf(scanner);
    const ResultWords w = WordsOf(scan);
    o.lFallbackTop = w.w8;
    o.lShortfall = w.w7;
    o.lFallbackLeft = w.w9;
    o.lFallbackRight = w.w10;
    o.lEdgeTh[0] = shadow ? 50 : 10;
    o.lEdgeTh[1] = shadow ? 10 : 50;
    o.lDrop[0] = o.lDrop[1] = 40;
    o.lLevel[0] = o.lLevel[1] = 100;

    const int32_t mmX = OneMillimetre(m_imgFront.lXResolution);
    const int32_t mmY = OneMillimetre(m_imgFront.lYResolution);
    for (int32_t* t : {m_trimFront, m_trimBack}) {
        t[0] = t[3] = mmY;
        t[1] = t[2] = mmX;
    }
    if (shadow)
        m_trimFront[0] *= 2, m_trimBack[3] *= 2;
    else
        m_trimFront[3] *= 2, m_trimBack[0] *= 2;

    if (setting) {
        if (setting->cbsize < kSettingInfoMinSize) return kIpErrBadArgument;
        for (int k = 0; k < 2; ++k) {
            if (setting->duplex_edge_th[k] >= 0) o.lDrop[k] = setting->duplex_edge_th[k];
            if (setting->duplex_br_th[k] >= 0) o.lLevel[k] = setting->duplex_br_th[k];
        }
        for (int i = 0; i < 4; ++i) {
            if (setting->revise_margin_front[i] >= 0)
                m_trimFront[i] = setting->revise_margin_front[i];
            if (setting->revise_margin_back[i] >= 0) m_trimBack[i] = setting->revise_margin_back[i];
        }
        if (Reaches(setting, kSettingInfoBaseBackSize)) {
            // Each side's setting governs that side.
            o.bTakeBottomFront = setting->bIsBaseBack[0];
            o.bTakeBottomBack = setting->bIsBaseBack[1];
        }
        if (Reaches(setting, kSettingInfoProcessFlagSize)) {
            const uint32_t f = setting->dwProcessFlag;
            if (f & kProcessWholePageOnly) o.bBottomUp = 1;
            if (f & kProcessPass0) o.ulPass |= 1u << 0;
            if (f & kProcessExtraPass) o.ulPass |= 1u << 1;
        }
    }
    const tagTVKIMAGEINFO* back = BackImageOf(scan);
    return m_pDuplex->Initialize(DescriptionSetOf(image),
                                 DescriptionSetOf(back ? back : &m_imgBack), &o, shadow);
}

uint32_t CDetectSlantAndSize_OneRadiateEx::InitProc_BlackBack(const tagTVKIMAGEINFO* image,
                                                              Request* r) {
    ReleaseDetectSizeClass();
    m_pSideEdge.reset(new (std::nothrow) CDetectSlantAndSize_SideEdge());
    if (!m_pSideEdge) return kDssNoMemory;
    m_bBlackBack = 1;
    m_bDuplex = 0; // the back side is not processed on a dark backing
    const ScannerInfo* scanner = OneRadiateExScannerInfo(r);
    const SettingInfo* setting = OneRadiateExSettingInfo(r);
    if (setting && setting->cbsize < kSettingInfoMinSize) return kIpErrBadArgument;

    CDetectSlantAndSize_SideEdge::tagOPTION o{};
    o.ulSize = CDetectSlantAndSize_SideEdge::kOptionSize;
    for (int k = 0; k < 2; ++k) {
        o.lSensor[2 * k] = SensorOf(scanner, k).x;
        o.lSensor[2 * k + 1] = SensorOf(scanner, k).y;
    }
    o.lLevel = 50;
    o.lMinRunUm = 2000;
    if (setting && (setting->revise_margin_front[1] > 0 || setting->revise_margin_front[2] >= 1))
        o.lMarginUm = (setting->revise_margin_front[1] + setting->revise_margin_front[2]) / 2;

    m_trimFront[0] = m_trimFront[3] = OneMillimetre(m_imgFront.lYResolution);
    m_trimFront[1] = m_trimFront[2] = OneMillimetre(m_imgFront.lXResolution);
    if (setting) {
        if (setting->simplex_edge_th[0] >= 0) o.lLevel = setting->simplex_edge_th[0];
        for (int i = 0; i < 4; ++i)
            if (setting->revise_margin_front[i] >= 0)
                m_trimFront[i] = setting->revise_margin_front[i];
        // A shorter record has no length word; the default stands.
        if (Reaches(setting, kSettingInfoProcessFlagSize)) o.lMinRunUm = setting->dwReserved[0];
    }
    if (o.lLevel < 1) o.lLevel = 50;
    if (o.lMinRunUm < 0) o.lMinRunUm = 2000;
    return m_pSideEdge->Initialize(image, &o);
}

// ---- Bands ----

namespace {

// One band command in the way of working that init chose.
uint32_t BandCommand(CDetectSlantAndSize_OneRadiateEx& d, const tagTVKIMAGEINFO* image,
                     tagDETECTSLANTSIZEEXBASIC* request, uint32_t command) {
    if (!request) return kDssBadRequest;
    auto* r = reinterpret_cast<Request*>(request);
    if (d.m_bBlackBack) return d.BandProc_BlackBack(image, r);
    if (!d.m_bCarrierSheet && !d.m_bDuplex) return d.BandProc_Simplex(image, r, command);
    return d.BandProc_Duplex(image, r, command);
}

} // namespace

uint32_t CDetectSlantAndSize_OneRadiateEx::FirstProc(const tagTVKIMAGEINFO* image,
                                                     tagDETECTSLANTSIZEEXBASIC* request) {
    return BandCommand(*this, image, request, kDssCmdFirst);
}

uint32_t CDetectSlantAndSize_OneRadiateEx::MidProc(const tagTVKIMAGEINFO* image,
                                                   tagDETECTSLANTSIZEEXBASIC* request) {
    return BandCommand(*this, image, request, kDssCmdMid);
}

uint32_t CDetectSlantAndSize_OneRadiateEx::LastProc(const tagTVKIMAGEINFO* image,
                                                    tagDETECTSLANTSIZEEXBASIC* request) {
    return BandCommand(*this, image, request, kDssCmdLast);
}

uint32_t CDetectSlantAndSize_OneRadiateEx::BandProc_Simplex(const tagTVKIMAGEINFO* image,
                                                            Request* r, uint32_t command) {
    if (!r || !m_pSimplex) return kDssBadRequest;
    const CImg::tagIMGSET set = ImageSetOf(image);
    if (command == kDssCmdLast) return m_pSimplex->last(set);
    if (!image) return kDssBadRequest;
    return command == kDssCmdFirst ? m_pSimplex->first(set) : m_pSimplex->mid(set);
}

uint32_t CDetectSlantAndSize_OneRadiateEx::BandProc_Duplex(const tagTVKIMAGEINFO* image, Request* r,
                                                           uint32_t command) {
    if (!r || !m_pDuplex) return kDssBadRequest;
    const CImg::tagIMGSET front = ImageSetOf(image);
    const CImg::tagIMGSET back = ImageSetOf(BackImageOf(OneRadiateExScanInfo(r)));
    if (command == kDssCmdFirst) {
        CDetectSizeWithDuplex2::tagOPTION o{};
        m_pDuplex->get_current_option(&o);
        if (o.bBottomUp) return kDssBadRequest; // the page must come in one call
    }
    if (command == kDssCmdLast) return m_pDuplex->last(front, back);
    if (!image) return kDssBadRequest;
    return command == kDssCmdFirst ? m_pDuplex->first(front, back) : m_pDuplex->mid(front, back);
}

uint32_t CDetectSlantAndSize_OneRadiateEx::BandProc_BlackBack(const tagTVKIMAGEINFO* image,
                                                              Request* r) {
    if (!r || !m_pSideEdge) return kDssBadRequest;
    return m_pSideEdge->Image(image);
}

// ---- Whole page ----

uint32_t CDetectSlantAndSize_OneRadiateEx::PageProc(const tagTVKIMAGEINFO* image,
                                                    tagDETECTSLANTSIZEEXBASIC* request) {
    if (!request) return kDssBadRequest;
    auto* r = reinterpret_cast<Request*>(request);
    if (m_bBlackBack) return PageProc_BlackBack(image, r);
    if (m_bCarrierSheet) return PageProc_CarrierSheet(image, r);
    if (!m_bDuplex) return PageProc_Simplex(image, r);
    return PageProc_Duplex(image, r);
}

uint32_t CDetectSlantAndSize_OneRadiateEx::PageProc_Simplex(const tagTVKIMAGEINFO* image,
                                                            Request* r) {
    if (!r || !m_pSimplex) return kDssBadRequest;
    if (!image) return kDssBadRequest;
    uint32_t rc = m_pSimplex->first(ImageSetOf(image));
    if (rc != 0) return rc;
    rc = m_pSimplex->last(CImg::tagIMGSET{});
    if (rc != 0) return rc;
    return ResultProc_Simplex(r);
}

uint32_t CDetectSlantAndSize_OneRadiateEx::PageProc_Duplex(const tagTVKIMAGEINFO* image,
                                                           Request* r) {
    if (!r || !m_pDuplex) return kDssBadRequest;
    if (!image) return kDssBadRequest;
    uint32_t rc =
        m_pDuplex->first(ImageSetOf(image), ImageSetOf(BackImageOf(OneRadiateExScanInfo(r))));
    if (rc != 0) return rc;
    rc = m_pDuplex->last(CImg::tagIMGSET{}, CImg::tagIMGSET{});
    if (rc != 0) return rc;
    return ResultProc_Duplex(r);
}

uint32_t CDetectSlantAndSize_OneRadiateEx::PageProc_BlackBack(const tagTVKIMAGEINFO* image,
                                                              Request* r) {
    if (!r || !m_pSideEdge) return kDssBadRequest;
    if (image) CopyImageInfo(&m_imgFront, image);
    const uint32_t rc = m_pSideEdge->Image(image);
    if (rc != 0) return rc;
    return ResultProc_BlackBack(r);
}

// ---- Results ----

uint32_t CDetectSlantAndSize_OneRadiateEx::ResultProc(const tagTVKIMAGEINFO*,
                                                      tagDETECTSLANTSIZEEXBASIC* request) {
    if (!request) return kDssBadRequest;
    auto* r = reinterpret_cast<Request*>(request);
    if (m_bBlackBack) return ResultProc_BlackBack(r);
    if (m_bCarrierSheet) return ResultProc_CarrierSheet(r);
    if (!m_bDuplex) return ResultProc_Simplex(r);
    return ResultProc_Duplex(r);
}

uint32_t CDetectSlantAndSize_OneRadiateEx::ResultProc_Simplex(Request* r) {
    if (!r || !m_pSimplex) return kDssBadRequest;
    const ScanInfo* scan = OneRadiateExScanInfo(r);
    if (!scan) return kDssBadRequest;
    const ResultWords w = WordsOf(scan);
    CDetectSize3::tagOPTION o{};
    o.ulSize = CDetectSize3::kOptionSize;
    o.lReserved5 = w.w5;
    o.lLengthLimit = w.w6;
    o.lShortfall = w.w7;
    o.lFallbackTop = w.w8;
    o.lFallbackLeft = w.w9;
    o.lFallbackRight = w.w10;
    tagDETECTSIZEINFO info{};
    info.ulSize = kDetectSizeInfoSize;
    const uint32_t rc = m_pSimplex->result(&info, &o);
    WriteResult(r->basic.result, r->basic.dwResultFlag, info, m_trimFront, m_imgFront.lXResolution,
                m_imgFront.lYResolution, false);
    return rc;
}

uint32_t CDetectSlantAndSize_OneRadiateEx::ResultProc_Duplex(Request* r) {
    if (!r || !m_pDuplex) return kDssBadRequest;
    ScanInfo* scan = OneRadiateExScanInfo(r);
    if (!scan) return kDssBadRequest;
    const ResultWords w = WordsOf(scan);
    CDetectSizeWithDuplex2::tagOPTION o{};
    m_pDuplex->get_current_option(&o);
    o.lReserved5 = w.w5;
    o.lMinLength = w.w6;
    o.lShortfall = w.w7;
    o.lFallbackTop = w.w8;
    o.lFallbackLeft = w.w9;
    o.lFallbackRight = w.w10;
    const uint32_t flags = r->basic.dwResultFlag;

    o.bFront = 1;
    tagDETECTSIZEINFO info{};
    info.ulSize = kDetectSizeInfoSize;
    uint32_t rc = m_pDuplex->result(&info, &o);
    if (rc != 0) return DuplexFailureCode(rc);
    WriteResult(r->basic.result, flags, info, m_trimFront, m_pDuplex->xdpi(true),
                m_pDuplex->ydpi(true), true);

    o.bFront = 0;
    info = tagDETECTSIZEINFO{};
    info.ulSize = kDetectSizeInfoSize;
    rc = m_pDuplex->result(&info, &o);
    if (rc != 0) return DuplexFailureCode(rc);
    // A scan record too short for the back block gets no back results.
    if (Reaches(scan, kScanInfoBackResultSize))
        WriteResult(scan->back, flags, info, m_trimBack, m_pDuplex->xdpi(false),
                    m_pDuplex->ydpi(false), true);
    TvkLogger::writeLog("TrimFourPoint process end");
    return kDssOk;
}

uint32_t CDetectSlantAndSize_OneRadiateEx::ResultProc_BlackBack(Request* r) {
    if (!r || !m_pSideEdge) return kDssBadRequest;
    const ResultWords w = WordsOf(OneRadiateExScanInfo(r));
    CDetectSlantAndSize_SideEdge::tagOPTION o{};
    o.ulSize = CDetectSlantAndSize_SideEdge::kKeptOptionSize;
    const int32_t words[6] = {w.w5, w.w6, w.w7, w.w8, w.w9, w.w10};
    std::copy(words, words + 6, o.lReserved);
    const uint32_t rc = m_pSideEdge->Calc(&o);
    Tvk::tagRECT rect{};
    Tvk::tagPOINT slant{1, 0};
    Tvk::tagPOINT p[4]{};
    m_pSideEdge->GetResult(&rect, &slant, p);
    const int32_t div = m_pSideEdge->xdpi(), mul = m_pSideEdge->ydpi();
    slant = ScanUnitSlant(slant, div, mul);
    tagDETECTRESULTBLOCK& out = r->basic.result;
    const uint32_t flags = r->basic.dwResultFlag;
    if (flags & kDssResultRect) {
        out.rectXY = {rect.left, rect.top};
        out.rectSize = {rect.right - rect.left, rect.bottom - rect.top};
    }
    if (flags & kDssResultCorners) {
        if (NeedTrimFourPoint_BlackBack(rect, slant, p))
            TrimFourPoint(p, m_trimFront, slant, div, mul);
        AssignCorners(out, p, slant, div, mul);
    }
    if (flags & kDssResultSlant) out.slantVector = slant;
    return rc;
}
