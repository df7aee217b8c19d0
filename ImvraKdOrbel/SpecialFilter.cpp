#include "SpecialFilter.h"

#include "KdOrbelLogger.h"
#include "TvkLogger.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace Tvk::Imvra::KD730 {

namespace {

constexpr int64_t kMicrometresPerInch = 25400;

// Gray bounds of the colour decision by slice (0..7), around the middle level.
constexpr int LOWER_GRAY_THRESHOLD_FROM_SLICE_CONST[8] = {37, 46, 38, 24, 24, 8, 8, 0};
constexpr int HIGHER_GRAY_THRESHOLD_FROM_SLICE_CONST[8] = {40, 48, 32, 32, 24, 24, 8, 0};
constexpr int kGrayMiddleLevel = 136;
// Offset of the slice word in a colour/gray detection record.
constexpr size_t kSliceOffset = 28;

uint8_t Level(int v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }

// a x b / c in 64 bits, truncated toward zero; c must not be 0.
int32_t Scale(int64_t a, int64_t b, int64_t c) {
    const int64_t v = a * b / c;
    return static_cast<int32_t>(
        std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

// What a whole-page controller's stage will see at this call: the bands it
// holds joined with this one at the last band, else the image itself.
template <class T>
tagIMAGEINFO PageSeen(const CIPController<T>& c, const CImg& img, tagIMAGESTATE state) {
    if (state != IMAGE_LAST || c.first() || c.bands().empty()) return img.info();
    tagIMAGEINFO page = c.bands().summary();
    if (!img.isNull()) page.lHeight += img.info().lHeight;
    return page;
}

// The colour tolerance of the scanner's sensor layout.
class SensorThresholdBuilder : public ColorOrGrayThresholdBuilderImp {
public:
    SensorThresholdBuilder(int sensitivity, int row) : ColorOrGrayThresholdBuilderImp(sensitivity) {
        m_nOffsetRow = row;
    }
};

} // namespace

const tagDUMMYPIXELS& getDummyPixels(long resolution, long row) {
    const tagDUMMYPIXELS* table = resolution == 600 ? DUMMY_PIXEL_600 : DUMMY_PIXEL_300;
    return table[row == 1 ? 1 : 0];
}

long getDummyPixelSum(long resolution, long row) {
    const tagDUMMYPIXELS& d = getDummyPixels(resolution, row);
    return long{d.ulDummy[0]} + d.ulDummy[1] + d.ulDummy[2];
}

long getMaxWidthWithoutDummyPixels(long width, long resolution, long row) {
    return width - getDummyPixelSum(resolution, row);
}

// ---------------------------------------------------------------------------
// Settings.

int CSpecialFilter::setInfo(CImg& img, void* info) {
    if (info == nullptr) {
        TvkLogger::writeLog("CSpecialFilter::setInfo return RTN_PAR. (lpInfo == 0)");
        return RTN_PAR;
    }
    const uint32_t size = *static_cast<const uint32_t*>(info);
    m_info = tagFILTERDUPLEXINFO{};
    if (size == kFilterSimplexInfoSize) {
        const auto* in = static_cast<const tagFILTERSIMPLEXINFO*>(info);
        KdOrbelLogger::writeFILTERSIMPLEXINFO(in);
        KdOrbelLogger::writeIMAGEINFO(&img.info());
        m_info.ulSize = kFilterSimplexInfoSize;
        m_info.imageIn = in->imageIn;
        m_info.imageOut = in->imageOut;
        m_info.normalFront = m_info.normalBack = in->normal;
        m_info.specialFront = m_info.specialBack = in->special;
    } else if (size == kFilterDuplexInfoSize) {
        const auto* in = static_cast<const tagFILTERDUPLEXINFO*>(info);
        KdOrbelLogger::writeFILTERDUPLEXINFO(in);
        KdOrbelLogger::writeIMAGEINFO(&img.info());
        m_info = *in;
    } else {
        TvkLogger::writeLog("CSpecialFilter::setInfo return RTN_PAR. (%d is not match info sizes.)",
                            static_cast<int>(size));
        return RTN_PAR;
    }
    if (m_info.specialFront.ulSize != kSpecialFilterInfoSize ||
        m_info.specialBack.ulSize != kSpecialFilterInfoSize) {
        TvkLogger::writeLog("CSpecialFilter::setInfo return RTN_PAR. (special filter info size)");
        m_info = tagFILTERDUPLEXINFO{};
        return RTN_PAR;
    }

    // The generic chain always gets both sides.
    tagNORMALFILTERSETINFO set{};
    set.ulSize = kNormalFilterSetInfoDuplexSizes[4];
    set.imageIn = m_info.imageIn;
    set.imageOut = m_info.imageOut;
    set.front = m_info.normalFront;
    set.back = m_info.normalBack;
    set.bFolio = duplex() ? static_cast<uint8_t>(m_info.bFolio & 0xFF) : 0;
    if (const int r = CNormalFilter::setInfo(img, &set); r != RTN_OK) return r;

    if (const int r = checkParamError(SIDE_FRONT); r != RTN_OK) return r;
    if (duplex())
        if (const int r = checkParamError(SIDE_BACK); r != RTN_OK) return r;
    return RTN_OK;
}

int CSpecialFilter::checkParamError(tagSIDE side) {
    const tagNORMALFILTERINFO& n = sideInfo(side);
    const tagSPECIALFILTERINFO& s = special(side);
    const tagDETECT4POINTSINFO* corners = s.pDetect4PointsInfo;
    if ((n.bAutoSize != 0 || n.bSkewCorrection != 0) && corners == nullptr) {
        TvkLogger::writeLog("CSpecialFilter::setInfo return RTN_PAR. (pDetect4PointsInfo == 0)");
        return RTN_PAR;
    }
    if (s.bCardScan != 0 && (corners == nullptr || s.pFeedingDirectionInfo == nullptr)) {
        TvkLogger::writeLog("CSpecialFilter::setInfo return RTN_PAR. (card scan records)");
        return RTN_PAR;
    }
    // Sub-records are read only through fields their size words cover.
    if (corners != nullptr && corners->ulSize < kDetect4PointsInfoMinSize) return RTN_PAR;
    if (s.pFeedingDirectionInfo != nullptr &&
        s.pFeedingDirectionInfo->ulSize < kFeedingDirectionInfoSize)
        return RTN_PAR;
    if (s.pRemoveShadowInfo != nullptr && s.pRemoveShadowInfo->ulSize != kRmvShadowInfoSize)
        return RTN_PAR;
    if (n.pDetectColorOrGrayInfo != nullptr &&
        n.pDetectColorOrGrayInfo->ulSize < kDetectColorOrGrayInfoShortSize)
        return RTN_PAR;
    return RTN_OK;
}

void CSpecialFilter::clear() {
    CNormalFilter::clear();
    for (int s = 0; s < 2; ++s) {
        m_collectSimplex[s].clear();
        m_cutOffset[s].clear();
        m_detect4Points[s].clear();
        m_correctDirection[s].clear();
        m_makePage[s].clear();
        m_colorGap[s].clear();
        m_cutOut[s].clear();
        m_rmvShadow[s].clear();
        m_sRGB[s].clear();
        m_colorSaturate[s].clear();
        m_detectRes[s].clear();
        m_fixPage[s].clear();
        m_thresholdBuilder[s].reset();
    }
    m_extend.clear();
    m_collectDuplex.clear();
    m_detect4PointsDuplex.clear();
    m_imgBack.deleteImg();
}

// ---------------------------------------------------------------------------
// Derived values.

bool CSpecialFilter::reversedFeed(tagSIDE side) {
    const tagFEEDINGDIRECTIONINFO* f = special(side).pFeedingDirectionInfo;
    return f != nullptr && f->ulDirection == 180;
}

bool CSpecialFilter::turnedPage(tagSIDE side) {
    const tagDETECT4POINTSINFO* c = special(side).pDetect4PointsInfo;
    if (c != nullptr && c->ulSize >= kDetect4PointsInfoDirectionSize) return c->ulDirectionCode == 7;
    return reversedFeed(side);
}

const tagFEEDINGDIRECTIONINFO* CSpecialFilter::feedingRecord(tagSIDE side) {
    const tagFEEDINGDIRECTIONINFO* own = special(side).pFeedingDirectionInfo;
    return own != nullptr ? own : m_info.specialFront.pFeedingDirectionInfo;
}

bool CSpecialFilter::carrierSheet() {
    const tagDETECT4POINTSINFO* c = m_info.specialBack.pDetect4PointsInfo;
    return c != nullptr && c->ulSize > kDetect4PointsInfoDirectionSize && c->bCarrierSheetMode != 0;
}

long CSpecialFilter::usableWidth() const {
    return getMaxWidthWithoutDummyPixels(m_info.imageIn.lWidth, m_info.imageIn.lXResolution,
                                         m_lSensorIndex);
}

int32_t CSpecialFilter::offsetLines(int32_t yResolution) const {
    return Scale(yResolution, m_lOffset, kMicrometresPerInch);
}

bool CSpecialFilter::rescaleCorners(tagDETECT4POINTSINFO& c, int32_t newX, int32_t oldX,
                                    int32_t newY, int32_t oldY) {
    if (oldX == 0 || oldY == 0) return false;
    tagKDPOINT* points[] = {&c.LeftTop, &c.RightTop, &c.LeftBottom, &c.RightBottom};
    for (tagKDPOINT* p : points) {
        p->x = Scale(p->x, newX, oldX);
        p->y = Scale(p->y, newY, oldY);
    }
    c.rectDoc.left = Scale(c.rectDoc.left, newX, oldX);
    c.rectDoc.right = Scale(c.rectDoc.right, newX, oldX);
    c.rectDoc.top = Scale(c.rectDoc.top, newY, oldY);
    c.rectDoc.bottom = Scale(c.rectDoc.bottom, newY, oldY);
    return true;
}

// ---------------------------------------------------------------------------
// Main chain.

int CSpecialFilter::KdOrbelFilter(CImg& img, tagIMAGESTATE state) {
    if (m_info.ulSize == kFilterSimplexInfoSize) return simplexChain(img, state);
    if (m_info.ulSize == kFilterDuplexInfoSize) return duplexChain(img, state);
    // No settings kept yet: the image passes unchanged.
    return RTN_OK;
}

int CSpecialFilter::simplexChain(CImg& img, tagIMAGESTATE state) {
    if (int r = execCollectArrayForSimplex(img, state); r != RTN_OK) return r;
    if (int r = execExtendBitData12To16(img, state); r != RTN_OK) return r;
    if (int r = execDetect4Points(img, SIDE_FRONT, state); r != RTN_OK) return r;
    if (int r = execShading(img, SIDE_FRONT, state); r != RTN_OK) return r;
    if (int r = execCorrectUnusualScanningDirection(img, SIDE_FRONT, state); r != RTN_OK) return r;
    if (int r = execSpecialFilter(img, SIDE_FRONT, state); r != RTN_OK) return r;
    if (int r = execNormalFilter(img, SIDE_FRONT, state); r != RTN_OK) return r;
    return execFixPage(img, SIDE_FRONT, state);
}

int CSpecialFilter::duplexChain(CImg& img, tagIMAGESTATE state) {
    CImg& back = m_imgBack;
    if (int r = execCollectArrayForDuplex(img, back, state); r != RTN_OK) return r;
    if (int r = execDetect4PointsDuplex(img, back, state); r != RTN_OK) return r;
    if (int r = execCutOffset(img, SIDE_FRONT, state); r != RTN_OK) return r;
    if (int r = execCutOffset(back, SIDE_BACK, state); r != RTN_OK) return r;
    for (tagSIDE side : {SIDE_FRONT, SIDE_BACK}) {
        CImg& page = side == SIDE_FRONT ? img : back;
        if (int r = execShading(page, side, state); r != RTN_OK) return r;
        if (int r = execCorrectUnusualScanningDirection(page, side, state); r != RTN_OK) return r;
        if (int r = execSpecialFilter(page, side, state); r != RTN_OK) return r;
    }
    if ((m_info.bFolio & 0xFF) != 0) {
        if (int r = execPutImageOnSide(img, back, state); r != RTN_OK) return r;
        if (int r = folioSequence(img, state); r != RTN_OK) return r;
        return execFixPage(img, SIDE_FRONT, state);
    }
    if (int r = execNormalFilter(img, SIDE_FRONT, state); r != RTN_OK) return r;
    if (int r = execFixPage(img, SIDE_FRONT, state); r != RTN_OK) return r;
    if (int r = execNormalFilter(back, SIDE_BACK, state); r != RTN_OK) return r;
    return execFixPage(back, SIDE_BACK, state);
}

int CSpecialFilter::execSpecialFilter(CImg& img, tagSIDE side, tagIMAGESTATE state) {
    // Border removal and character recognition have no stage in this
    // scanner's chain: they leave the page as it is.
    if (int r = execMakePage(img, side, state); r != RTN_OK) return r;
    if (int r = execColorGapCorrect(img, side, state); r != RTN_OK) return r;
    if (int r = execResolutionConvertWithReduceMoire(img, side, state); r != RTN_OK) return r;
    if (int r = execResolutionConvertNormal(img, side, state); r != RTN_OK) return r;
    if (int r = execRmvShadow(img, side, state); r != RTN_OK) return r;
    if (int r = execSkewCorrection(img, side, state); r != RTN_OK) return r;
    if (int r = execAutoSize(img, side, state); r != RTN_OK) return r;
    return execCutOut(img, side, state);
}

// The generic stages of one side; gamma of a side-by-side sheet runs on both
// halves (folio). The add-on and patch-code steps leave the page as it is.
int CSpecialFilter::execNormalFilter(CImg& img, tagSIDE side, tagIMAGESTATE state) {
    using Step = int (CSpecialFilter::*)(CImg&, tagSIDE, tagIMAGESTATE);
    static constexpr Step kSteps[] = {
        &CSpecialFilter::execDetectColorOrGray, &CSpecialFilter::execDetectResolution,
        &CSpecialFilter::execEraseBackPage,     &CSpecialFilter::execDropOutColor,
        &CSpecialFilter::execEmphasisColor,     &CSpecialFilter::execColorToGray,
        &CSpecialFilter::execGRCStep,           &CSpecialFilter::execSRGBConversion,
        &CSpecialFilter::execColorSaturate,     &CSpecialFilter::execEmphasisEdge,
        &CSpecialFilter::execTextImageDirection, &CSpecialFilter::execRotate90x,
        &CSpecialFilter::execGrayToBinary,      &CSpecialFilter::execEPubFilter,
        &CSpecialFilter::execBinIPFilter,       &CSpecialFilter::execIsBlankPage,
        &CSpecialFilter::execGray4Bit,          &CSpecialFilter::execInverse,
    };
    for (Step step : kSteps)
        if (const int r = (this->*step)(img, side, state); r != RTN_OK) return r;
    return RTN_OK;
}

int CSpecialFilter::execGRCStep(CImg& img, tagSIDE side, tagIMAGESTATE state) {
    return m_bFolioSequence ? execGRCFolio(img, state) : execGRC(img, side, state);
}

int CSpecialFilter::folioSequence(CImg& img, tagIMAGESTATE state) {
    m_bFolioSequence = true;
    const int r = execNormalFilter(img, SIDE_FRONT, state);
    m_bFolioSequence = false;
    return r;
}

int CSpecialFilter::execPutImageOnSide(CImg& front, CImg& back, tagIMAGESTATE state) {
    return CNormalFilter::execPutImageOnSide(front, back, state, m_shading[0].stage(),
                                             m_shading[1].stage());
}

// ---------------------------------------------------------------------------
// Raw-end steps.

bool CSpecialFilter::collectInfo(tagCOLLECTARRAYINFO& rec, int32_t lines) const {
    const long width = usableWidth();
    if (width <= 0) return false; // a raw row of dummy pixels only
    rec = tagCOLLECTARRAYINFO{};
    rec.ulSize = kCollectArrayInfoSize;
    rec.dummy = getDummyPixels(m_info.imageIn.lXResolution, m_lSensorIndex);
    rec.lWidth = static_cast<int32_t>(width);
    rec.lLines = lines;
    rec.lSensorIndex = m_lSensorIndex;
    return true;
}

int CSpecialFilter::execCollectArrayForSimplex(CImg& img, tagIMAGESTATE state) {
    const tagIMAGEINFO& i = img.info();
    if (!img.isNull() && ((i.lBps != 8 && i.lBps != 12) || (i.lSpp != 1 && i.lSpp != 3)))
        return RTN_PAR;
    tagCOLLECTARRAYINFO rec;
    if (!collectInfo(rec, m_info.imageIn.lHeight)) return RTN_PAR;
    return runStage(m_collectSimplex[0], IPMODE_BAND, img, &rec, state);
}

int CSpecialFilter::execExtendBitData12To16(CImg& img, tagIMAGESTATE state) {
    tagCOLLECTARRAYINFO rec;
    if (!collectInfo(rec, 0)) return RTN_PAR;
    return runStage(m_extend, IPMODE_BAND, img, &rec, state);
}

int CSpecialFilter::execCollectArrayForDuplex(CImg& img, CImg& back, tagIMAGESTATE state) {
    const tagIMAGEINFO& i = img.info();
    if (!img.isNull() && ((i.lBps != 8 && i.lBps != 12) || (i.lSpp != 1 && i.lSpp != 3)))
        return RTN_PAR;
    tagCOLLECTARRAYINFO rec;
    if (!collectInfo(rec, m_info.imageIn.lHeight)) return RTN_PAR;
    try {
        if (m_collectDuplex.stage() == nullptr)
            m_collectDuplex.setStage(new CCollectArrayForDuplex, IPMODE_BAND);
        m_collectDuplex.stage()->setBackImage(back);
        const int r = execIP(m_collectDuplex, img, &rec, state);
        m_collectDuplex.stage()->getBackImage(back);
        return r;
    } catch (...) {
        return RTN_MEM;
    }
}

int CSpecialFilter::execCutOffset(CImg& img, tagSIDE side, tagIMAGESTATE state) {
    tagCUTOFFSETINFO rec{};
    rec.ulSize = kCutOffsetInfoSize;
    rec.lOffset = offsetLines(m_info.imageIn.lYResolution);
    rec.ulDirection = static_cast<uint32_t>(side);
    int64_t limit = m_info.imageIn.lHeight;
    const tagDETECT4POINTSINFO* c = special(side).pDetect4PointsInfo;
    if (sideInfo(side).bAutoSize != 0 && c != nullptr)
        limit += int64_t{c->lTopMargin} + c->lBottomMargin;
    rec.lLimit = static_cast<int32_t>(std::clamp<int64_t>(limit, 0, INT32_MAX));
    return runStage(m_cutOffset[sideIndex(side)], IPMODE_BAND, img, &rec, state);
}

int CSpecialFilter::execShading(CImg& img, tagSIDE side, tagIMAGESTATE state) {
    tagSHADINGINFO* info = special(side).pShadingInfo;
    if (info == nullptr) return RTN_OK;
    return runStage(m_shading[sideIndex(side)], IPMODE_BAND, img, info, state);
}

// ---------------------------------------------------------------------------
// Scanner page steps.

// Settings of a resolution conversion of the page the controller's stage
// will see; the side's corners follow the page to the output resolution.
template <class T>
int CSpecialFilter::resolutionSettings(const CIPController<T>& c, const CImg& img, tagSIDE side,
                                       tagIMAGESTATE state, tagRESOLUTIONCONVERTINFO& rec) {
    rec = tagRESOLUTIONCONVERTINFO{};
    rec.ulSize = kResolutionConvertInfoSize;
    const tagIMAGEINFO page = PageSeen(c, img, state);
    const tagIMAGEINFO& out = m_info.imageOut;
    if (page.lpImage == nullptr && page.lHeight <= 0) return RTN_OK;
    if (page.lXResolution == 0 || page.lYResolution == 0 || out.lXResolution == 0 ||
        out.lYResolution == 0)
        return RTN_PAR;
    rec.lOutWidth = Scale(page.lWidth, out.lXResolution, page.lXResolution);
    rec.lOutHeight = Scale(page.lHeight, out.lYResolution, page.lYResolution);
    rec.lOutXResolution = out.lXResolution;
    rec.lOutYResolution = out.lYResolution;
    rec.lInWidth = page.lWidth;
    rec.lInHeight = page.lHeight;
    rec.lInXResolution = page.lXResolution;
    rec.lInYResolution = page.lYResolution;
    if (isWholeOrLast(state))
        if (tagDETECT4POINTSINFO* corners = special(side).pDetect4PointsInfo)
            rescaleCorners(*corners, out.lXResolution, page.lXResolution, out.lYResolution,
                           page.lYResolution);
    return RTN_OK;
}

int CSpecialFilter::execResolutionConvertNormal(CImg& img, tagSIDE side, tagIMAGESTATE state) {
    if (sideInfo(side).bReduceMoire != 0) return RTN_OK;
    auto& c = m_resolutionNormal[sideIndex(side)];
    tagRESOLUTIONCONVERTINFO rec;
    if (const int r = resolutionSettings(c, img, side, state, rec); r != RTN_OK) return r;
    return runStage(c, IPMODE_WHOLE_PAGE, img, &rec, state);
}

int CSpecialFilter::execResolutionConvertWithReduceMoire(CImg& img, tagSIDE side,
                                                         tagIMAGESTATE state) {
    if (sideInfo(side).bReduceMoire == 0) return RTN_OK;
    auto& c = m_resolutionMoire[sideIndex(side)];
    tagRESOLUTIONCONVERTINFO rec;
    if (const int r = resolutionSettings(c, img, side, state, rec); r != RTN_OK) return r;
    return runStage(c, IPMODE_WHOLE_PAGE, img, &rec, state);
}

int CSpecialFilter::execRmvShadow(CImg& img, tagSIDE side, tagIMAGESTATE state) {
    const tagRMVSHADOWINFO* s = special(side).pRemoveShadowInfo;
    if (s == nullptr) return RTN_OK;
    const int32_t inY = m_info.imageIn.lYResolution, outY = m_info.imageOut.lYResolution;
    if (inY == 0) return RTN_PAR;
    const bool reversed = reversedFeed(side);
    int32_t flag = reversed ? 0 : 1;
    if (side == SIDE_BACK) flag = 1 - flag;
    tagRMVSHADOWSTAGEINFO rec{kRmvShadowStageInfoSize, Scale(s->lLength, outY, inY),
                              Scale(reversed ? s->lScannerBottomMargin : s->lScannerTopMargin,
                                    outY, inY),
                              flag};
    return runStage(m_rmvShadow[sideIndex(side)], IPMODE_WHOLE_PAGE, img, &rec, state);
}

int CSpecialFilter::execSkewCorrection(CImg& img, tagSIDE side, tagIMAGESTATE state) {
    const tagNORMALFILTERINFO& n = sideInfo(side);
    if (n.bSkewCorrection == 0) return RTN_OK;
    const tagDETECT4POINTSINFO* c = special(side).pDetect4PointsInfo;
    if (c == nullptr) return RTN_SEQ;
    tagSKEWCORRECTIONSTAGEINFO rec{};
    if (isWholeOrLast(state)) {
        rec.LeftTop = {c->LeftTop.x, c->LeftTop.y};
        rec.RightTop = {c->RightTop.x, c->RightTop.y};
        rec.LeftBottom = {c->LeftBottom.x, c->LeftBottom.y};
        rec.RightBottom = {c->RightBottom.x, c->RightBottom.y};
        rec.vectorSlant = {c->vectorSlant.x, c->vectorSlant.y};
        rec.lWidth = m_info.imageOut.lWidth;
        rec.lHeight = m_info.imageOut.lHeight;
        rec.bPaperSize = n.bAutoSize;
        rec.ulPlacement = side == SIDE_FRONT && (m_info.bFolio & 0xFF) != 0 && duplex() ? 1 : 0;
        rec.pShading = m_shading[sideIndex(side)].stage();
        const tagSKEWCORRECTIONINFO* sk = n.pSkewCorrectionInfo;
        if (sk != nullptr) {
            if (sk->ulSize >= kSkewCorrectionInfoSize && sk->type == 1) {
                const uint8_t b = n.pGRCInfo != nullptr && n.pGRCInfo->ucBrightness != 0
                                      ? n.pGRCInfo->ucBrightness
                                      : 128;
                rec.bByContents = 1;
                rec.ucContentsLevel = BinarizeTableBuilder::getThresholdTable(b, m_lSensorIndex);
            }
            // A record of three words or more may name the background.
            if (sk->ulSize >= kSkewCorrectionInfoSize + sizeof(uint32_t)) {
                uint32_t background = 0;
                std::memcpy(&background,
                            reinterpret_cast<const uint8_t*>(sk) + kSkewCorrectionInfoSize,
                            sizeof background);
                if (background == 1) {
                    rec.pShading = nullptr;
                    rec.bgColor = {255, 255, 255, 255};
                } else if (background == 2) {
                    rec.pShading = nullptr;
                }
            }
        }
    }
    return runStage(m_skewCorrection[sideIndex(side)], IPMODE_WHOLE_PAGE, img, &rec, state);
}

int CSpecialFilter::execAutoSize(CImg& img, tagSIDE side, tagIMAGESTATE state) {
    const tagNORMALFILTERINFO& n = sideInfo(side);
    if (n.bAutoSize == 0 || n.bSkewCorrection != 0) return RTN_OK;
    const tagDETECT4POINTSINFO* c = special(side).pDetect4PointsInfo;
    if (c == nullptr) return RTN_SEQ;
    return runAutoSize(img, side, state, *c);
}

// ---------------------------------------------------------------------------
// Generic steps of this scanner.

int CSpecialFilter::execDetectColorOrGray(CImg& img, tagSIDE side, tagIMAGESTATE state) {
    tagNORMALFILTERINFO& n = sideInfo(side);
    tagDETECTCOLORORGRAYINFO* d = n.pDetectColorOrGrayInfo;
    if (d == nullptr) return RTN_OK;
    if (n.pGrayToBinaryInfo == nullptr) return RTN_PAR;
    const int s = sideIndex(side);

    // The slice word follows the record's full form; read it only when the
    // size word covers it.
    int32_t slice = 0;
    if (d->ulSize >= kSliceOffset + sizeof(int32_t))
        std::memcpy(&slice, reinterpret_cast<const uint8_t*>(d) + kSliceOffset, sizeof slice);
    slice = std::clamp(slice, 0, 7);

    // White level: the first index from which the gray curve stays at 255.
    uint8_t curve[256];
    GammaBuilderImp::buildGrayGamma(curve, 256, 128, 4, m_lSensorIndex);
    int white = 256;
    while (white > 0 && curve[white - 1] == 255) --white;

    m_thresholdBuilder[s] =
        std::make_unique<SensorThresholdBuilder>(d->lSensitivityOfAutoColor, m_lSensorIndex);
    m_ulColorClass[s] = CDetectColorOrGray::kClassColor;
    tagDETECTCOLORORGRAYSTAGEINFO rec{};
    rec.ulSize = kDetectColorOrGrayStageInfoSize;
    rec.pInfo = d;
    rec.pBuilder = m_thresholdBuilder[s].get();
    rec.btLevel[0] = Level(kGrayMiddleLevel);
    rec.btLevel[1] = Level(white);
    rec.btLevel[2] = Level(kGrayMiddleLevel - LOWER_GRAY_THRESHOLD_FROM_SLICE_CONST[slice]);
    rec.btLevel[3] = Level(kGrayMiddleLevel + HIGHER_GRAY_THRESHOLD_FROM_SLICE_CONST[slice]);
    rec.pResult = &m_ulColorClass[s];
    rec.lIntensity = static_cast<int32_t>(d->ulIntensityOfAutoColor);
    const int r = runStage(m_detectColorOrGray[s], IPMODE_WHOLE_PAGE, img, &rec, state);
    if (r == RTN_OK && isWholeOrLast(state)) applyColorClass(side, m_ulColorClass[s]);
    return r;
}

void CSpecialFilter::applyColorClass(tagSIDE side, uint32_t cls) {
    tagNORMALFILTERINFO& n = sideInfo(side);
    tagIMAGEINFO& out = m_set.imageOut;
    if (cls == CDetectColorOrGray::kClassBlackAndWhite) {
        out.lBps = 1;
        out.lSpp = 1;
        if (n.pGrayToBinaryInfo != nullptr &&
            n.pGrayToBinaryInfo->Method == CGrayToBinary::kMethodAdaptive) {
            n.pEmphasisEdgeInfo = nullptr;
            if (n.pGRCInfo != nullptr && n.pGRCInfo->ucBrightness != 0 &&
                n.pGRCInfo->ucContrast != 0)
                n.pGRCInfo = nullptr;
        }
        return;
    }
    n.pGrayToBinaryInfo = nullptr;
    n.bInverse = 0;
    out.lBps = 8;
    out.lSpp = cls == CDetectColorOrGray::kClassGray ? 1 : 3;
}

int CSpecialFilter::execDetectResolution(CImg& img, tagSIDE side, tagIMAGESTATE state) {
    if (sideInfo(side).bDetectResolution == 0) return RTN_OK;
    int32_t detected = 0;
    tagDETECTRESSTAGEINFO rec{kDetectResStageInfoSize, &detected, 0, 0, 0, 0};
    const int r = runStage(m_detectRes[sideIndex(side)], IPMODE_WHOLE_PAGE, img, &rec, state);
    if (r != RTN_OK || !isWholeOrLast(state) || detected < 1 || img.isNull()) return r;
    const tagIMAGEINFO page = img.info();
    if (page.lXResolution == 0 || page.lYResolution == 0) return RTN_PAR;
    if (tagDETECT4POINTSINFO* corners = special(side).pDetect4PointsInfo)
        rescaleCorners(*corners, detected, page.lXResolution, detected, page.lYResolution);
    tagRESOLUTIONCONVERTINFO conv{kResolutionConvertInfoSize,
                                  Scale(page.lWidth, detected, page.lXResolution),
                                  Scale(page.lHeight, detected, page.lYResolution),
                                  detected,
                                  detected,
                                  page.lWidth,
                                  page.lHeight,
                                  page.lXResolution,
                                  page.lYResolution};
    try {
        CResolutionConvertNormal convert;
        return convert.IPInterface(img, &conv);
    } catch (...) {
        return RTN_MEM;
    }
}

int CSpecialFilter::execSRGBConversion(CImg& img, tagSIDE side, tagIMAGESTATE state) {
    const tagNORMALFILTERINFO& n = sideInfo(side);
    const tagSRGBCONVERSIONINFO* info = special(side).pSRGBConversionInfo;
    if (info == nullptr) return RTN_OK;
    if (m_set.front.pDropOutColorInfo != nullptr && m_set.front.pEraseBackPageInfo != nullptr)
        return RTN_OK;
    tagSRGBCONVERSIONINFO rec = *info;
    if (rec.Type != CSRGBConversion::kTypeOwnMatrix &&
        (n.pGRCFlagInfo != nullptr || m_lSensorIndex >= 1)) {
        long matrix[3][3];
        if (n.pGRCFlagInfo != nullptr)
            getSRGBMatrixFeederPhoto(matrix, m_lSensorIndex);
        else
            getSRGBMatrixFeeder(matrix, m_lSensorIndex);
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) rec.Matrix[r][c] = static_cast<int32_t>(matrix[r][c]);
        rec.Type = CSRGBConversion::kTypeOwnMatrix;
    }
    return runStage(m_sRGB[sideIndex(side)], IPMODE_BAND, img, &rec, state);
}

int CSpecialFilter::execColorSaturate(CImg& img, tagSIDE side, tagIMAGESTATE state) {
    if (sideInfo(side).bColorSaturation == 0) return RTN_OK;
    return runStage(m_colorSaturate[sideIndex(side)], IPMODE_WHOLE_PAGE, img, nullptr, state);
}

int CSpecialFilter::execGrayToBinary(CImg& img, tagSIDE side, tagIMAGESTATE state) {
    tagNORMALFILTERINFO& n = sideInfo(side);
    tagGRAYTOBINARYINFO* info = n.pGrayToBinaryInfo;
    if (info == nullptr) return RTN_OK;
    // A measured resolution asks for the binarisation that suits it.
    if (n.bDetectResolution != 0 && info->Method == 0) info->Method = 13;
    return coreGrayToBinary(img, side, state, info);
}

int CSpecialFilter::execRotate90x(CImg& img, tagSIDE side, tagIMAGESTATE state) {
    tagNORMALFILTERINFO& n = sideInfo(side);
    if (n.pRotate90xInfo == nullptr || special(side).bCardScan == 0)
        return CNormalFilter::execRotate90x(img, side, state);
    // A card is fed turned the other way: the turn is reversed, on a copy
    // so the caller's record stays as it is.
    tagROTATE90XINFO* kept = n.pRotate90xInfo;
    tagROTATE90XINFO reversed{kept->ulSize, ((360 - kept->lDegree) % 360 + 360) % 360};
    n.pRotate90xInfo = &reversed;
    const int r = CNormalFilter::execRotate90x(img, side, state);
    n.pRotate90xInfo = kept;
    return r;
}

// ---------------------------------------------------------------------------
// Whole-image entries.

int CSpecialFilter::NormalFilterSimplex(CImg& img, void* info, bool front) {
    if (const int r = setInfo(img, info); r != RTN_OK) return r;
    return execNormalFilter(img, front ? SIDE_FRONT : SIDE_BACK, IMAGE_WHOLE);
}

int CSpecialFilter::NormalFilterFolio(CImg& img, tagFILTERDUPLEXINFO* info) {
    if (const int r = setInfo(img, info); r != RTN_OK) return r;
    return folioSequence(img, IMAGE_WHOLE);
}

// ---------------------------------------------------------------------------
// Calibration.

void CSpecialFilter::AdjustLightFirst(tagADJUSTINFO* info, long mode) {
    KdOrbelLogger::writeADJUSTINFO(info);
    m_adjust.AdjustLightFirst(info, mode);
    m_lSensorIndex = m_adjust.targetIndex();
}

int CSpecialFilter::AdjustLightLast(CImg& front, CImg& back, CImg& raw, tagADJUSTINFO* info) {
    if (info == nullptr || raw.isNull()) return RTN_PAR;
    KdOrbelLogger::writeADJUSTINFO(info);
    return adjustLast(front, back, raw, info);
}

int CSpecialFilter::adjustLast(CImg& front, CImg& back, CImg& raw, tagADJUSTINFO* info) {
    m_info.imageIn = raw.info();
    m_info.imageIn.lpImage = nullptr;
    if ((info->bDuplex & 0xFF) == 0) {
        if (int r = execCollectArrayForSimplex(raw, IMAGE_WHOLE); r != RTN_OK) return r;
        if (int r = execExtendBitData12To16(raw, IMAGE_WHOLE); r != RTN_OK) return r;
        if (int r = execMackOneLineImage(raw); r != RTN_OK) return r;
        front.attachImg(raw);
        return RTN_OK;
    }
    // The raw reference holds both sides side by side.
    m_info.imageIn.lWidth /= 2;
    m_info.imageIn.lSync /= 2;
    CImg b;
    if (int r = execCollectArrayForDuplex(raw, b, IMAGE_WHOLE); r != RTN_OK) return r;
    if (int r = execExtendBitData12To16(raw, IMAGE_WHOLE); r != RTN_OK) return r;
    if (int r = execExtendBitData12To16(b, IMAGE_WHOLE); r != RTN_OK) return r;
    if (int r = execMackOneLineImage(raw); r != RTN_OK) return r;
    if (int r = execMackOneLineImage(b); r != RTN_OK) return r;
    front.attachImg(raw);
    back.attachImg(b);
    return RTN_OK;
}

int CSpecialFilter::AdjustLightNext(CImg& raw, tagADJUSTINFO* info) {
    if (info == nullptr || raw.isNull()) return RTN_PAR;
    KdOrbelLogger::writeADJUSTINFO(info);
    CImg front, back;
    if (const int r = adjustLast(front, back, raw, info); r != RTN_OK) return r;
    return m_adjust.AdjustLightNext(front, back, info);
}

int CSpecialFilter::execMackOneLineImage(CImg& img) {
    if (img.isNull()) return RTN_PAR;
    const tagIMAGEINFO& i = img.info();
    if ((i.lBps != 16 && i.lBps != 8) || i.lHeight < 1 || i.lSync < 1) return RTN_PAR;
    const int64_t rows = i.ulRGBOrder == 1 && i.lSpp == 3 ? 3 : 1;
    const int64_t lineBytes = rows * i.lSync;
    const int64_t places = i.lBps == 16 ? lineBytes / 2 : lineBytes;
    const long usable = usableWidth();
    const int32_t width = static_cast<int32_t>(std::min<long>(usable, i.lWidth));
    CImg out;
    try {
        std::vector<uint64_t> sum(static_cast<size_t>(places), 0);
        for (int32_t y = 0; y < i.lHeight; ++y) {
            const uint8_t* line = i.lpImage + y * lineBytes;
            if (i.lBps == 16) {
                const auto* s = reinterpret_cast<const uint16_t*>(line);
                for (int64_t k = 0; k < places; ++k) sum[static_cast<size_t>(k)] += s[k];
            } else {
                for (int64_t k = 0; k < places; ++k) sum[static_cast<size_t>(k)] += line[k];
            }
        }
        if (width < 1 || !out.createImg(0, 0, width, 1, i.lSync, i.lBps, i.lSpp, i.ulRGBOrder,
                                        i.lXResolution, i.lYResolution))
            return RTN_PAR;
        if (out.isNull()) return RTN_MEM;
        uint8_t* d = out.info().lpImage;
        for (int64_t k = 0; k < places; ++k) {
            const uint64_t mean = sum[static_cast<size_t>(k)] / static_cast<uint64_t>(i.lHeight);
            if (i.lBps == 16)
                reinterpret_cast<uint16_t*>(d)[k] = static_cast<uint16_t>(mean);
            else
                d[k] = static_cast<uint8_t>(mean);
        }
    } catch (...) {
        return RTN_MEM;
    }
    img.attachImg(out);
    return RTN_OK;
}

int CSpecialFilter::makeShadingData(CImg& white, CImg& black, tagADJUSTINFO* info, tagSIDE side,
                                    const uint8_t* curve, unsigned long curveSize) {
    if (info == nullptr) return RTN_PAR;
    try {
        CImg whiteOrg = white, blackOrg = black;
        if (curveSize != 0 &&
            m_adjust.AdjustLightCurve(white, black, info, side, curve, curveSize) != RTN_OK)
            TvkLogger::writeLog("AdjustLightCurve data is not loaded.");
        auto& c = m_shading[sideIndex(side)];
        if (c.stage() == nullptr) c.setStage(new CShading, IPMODE_BAND);
        const int r = c.stage()->makeShadingData(white, black, whiteOrg, blackOrg, m_lSensorIndex);
        if (TvkLogger::isEnabled("ShadingDebug")) {
            const bool front = side != SIDE_BACK;
            const char* names[2] = {front ? "Front_White_ShadingData.log" : "Back_White_ShadingData.log",
                                    front ? "Front_Black_ShadingData.log" : "Back_Black_ShadingData.log"};
            const CImg* lines[2] = {&white, &black};
            for (int k = 0; k < 2; ++k) {
                TvkLogger* logger = TvkLogger::createLogger(names[k], true);
                KdOrbelLogger::dumpFirstLine(logger, &lines[k]->info());
                TvkLogger::releaseLogger(logger);
            }
        }
        return r;
    } catch (...) {
        return RTN_MEM;
    }
}

} // namespace Tvk::Imvra::KD730
