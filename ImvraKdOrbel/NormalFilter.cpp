#include "NormalFilter.h"

#include "KdOrbelLogger.h"
#include "TvkLogger.h"

#include <algorithm>
#include <cstring>

namespace Tvk::Imvra {

namespace {

bool IsOneSideSize(uint32_t size) {
    return std::find(std::begin(kNormalFilterSetInfoSimplexSizes),
                     std::end(kNormalFilterSetInfoSimplexSizes),
                     size) != std::end(kNormalFilterSetInfoSimplexSizes);
}
bool IsTwoSideSize(uint32_t size) {
    return std::find(std::begin(kNormalFilterSetInfoDuplexSizes),
                     std::end(kNormalFilterSetInfoDuplexSizes),
                     size) != std::end(kNormalFilterSetInfoDuplexSizes);
}

// The blank-page stage's count and table; the test itself does not read them.
constexpr unsigned long kBlankPageLevelCount = 257;
constexpr double kBlankPageLevelTable[20] = {};
// Edge levels of the blank-page test.
constexpr uint8_t kBlankPageLevel = 128;

} // namespace

CNormalFilter::CNormalFilter() { KD730::KdOrbelLogger::createLogger("Imvra.log"); }

CNormalFilter::~CNormalFilter() { TvkLogger::releaseGlobalLogger(); }

void CNormalFilter::logStep(const char* name, int state, int result) {
    TvkLogger::writeLog("%30s.IP[%d] return %d", name, state, result);
}

int CNormalFilter::copySide(tagNORMALFILTERINFO& to, const tagNORMALFILTERINFO& from,
                            size_t room) {
    if (!IsNormalFilterInfoSize(from.ulSize)) return RTN_PAR;
    // A side record that claims more than its place in the record holds is
    // read only as far as that place: the rest counts as absent.
    const size_t n = std::min<size_t>(from.ulSize, room);
    to = tagNORMALFILTERINFO{};
    std::memcpy(static_cast<void*>(&to), &from, n);
    to.ulSize = static_cast<uint32_t>(n);
    return RTN_OK;
}

int CNormalFilter::setInfo(CImg&, void* info) {
    const auto* in = static_cast<const tagNORMALFILTERSETINFO*>(info);
    if (in == nullptr) return RTN_PAR;
    m_set = tagNORMALFILTERSETINFO{};
    constexpr size_t frontAt = offsetof(tagNORMALFILTERSETINFO, front);
    if (IsOneSideSize(in->ulSize)) {
        if (const int r = copySide(m_set.front, in->front, in->ulSize - frontAt); r != RTN_OK) {
            m_set = tagNORMALFILTERSETINFO{};
            return r;
        }
        m_set.ulSize = kNormalFilterSetInfoSimplexSizes[4];
        m_set.imageIn = in->imageIn;
        m_set.imageOut = in->imageOut;
        return cehckInfoSEQError(SIDE_FRONT);
    }
    if (IsTwoSideSize(in->ulSize)) {
        if (copySide(m_set.front, in->front, kNormalFilterInfoSize) != RTN_OK ||
            copySide(m_set.back, in->back, kNormalFilterInfoSize) != RTN_OK) {
            m_set = tagNORMALFILTERSETINFO{};
            return RTN_PAR;
        }
        m_set.ulSize = kNormalFilterSetInfoDuplexSizes[4];
        m_set.imageIn = in->imageIn;
        m_set.imageOut = in->imageOut;
        m_set.bFolio = in->bFolio;
        if (const int r = cehckInfoSEQError(SIDE_FRONT); r != RTN_OK) return r;
        return cehckInfoSEQError(SIDE_BACK);
    }
    return RTN_PAR;
}

int CNormalFilter::cehckInfoSEQError(tagSIDE side) {
    const tagNORMALFILTERINFO& s = sideInfo(side);
    const tagGRAYTOBINARYINFO* bin = s.pGrayToBinaryInfo;
    if (bin == nullptr || bin->Method != CGrayToBinary::kMethodAdaptive) return RTN_OK;
    if (s.pEraseBackPageInfo != nullptr) return RTN_SEQ;
    const tagGRCINFO* grc = s.pGRCInfo;
    if (s.pDetectColorOrGrayInfo == nullptr && grc != nullptr && grc->ucBrightness != 0 &&
        grc->ucContrast != 0)
        return RTN_SEQ;
    return RTN_OK;
}

int CNormalFilter::setOcrPath(const char* folder) {
    if (folder == nullptr) return -1;
    const size_t n = std::strlen(folder);
    // A cut folder would name another place: refused, the old one kept.
    if (n > kOcrPathMax) return -1;
    std::memcpy(m_szOcrPath, folder, n + 1);
    return 0;
}

void CNormalFilter::clear() {
    for (int s = 0; s < 2; ++s) {
        m_detectColorOrGray[s].clear();
        m_resolutionNormal[s].clear();
        m_resolutionMoire[s].clear();
        m_dropOutColor[s].clear();
        m_emphasisColor[s].clear();
        m_eraseBackPage[s].clear();
        m_colorToGray[s].clear();
        m_grc[s].clear();
        m_emphasisEdge[s].clear();
        m_autoSize[s].clear();
        m_skewCorrection[s].clear();
        m_grayToBinary[s].clear();
        m_ePubFilter[s].clear();
        m_binIPFilter[s].clear();
        m_inverse[s].clear();
        m_textImageDirection[s].clear();
        m_rotate90x[s].clear();
    }
    m_putImageOnSide.clear();
    m_isBlankPage.clear();
}

// ---------------------------------------------------------------------------
// Single filters on a whole image.

int CNormalFilter::DropOutColor(CImg& img, tagDROPOUTCOLORINFO* info) {
    return runStage(m_dropOutColor[0], IPMODE_BAND, img, info, IMAGE_WHOLE);
}
int CNormalFilter::EmphasisColor(CImg& img, tagEMPHASISCOLORINFO* info) {
    return runStage(m_emphasisColor[0], IPMODE_BAND, img, info, IMAGE_WHOLE);
}
int CNormalFilter::EraseBackPage(CImg& img, tagERASEBACKPAGEINFO* info) {
    return runStage(m_eraseBackPage[0], IPMODE_BAND, img, info, IMAGE_WHOLE);
}
int CNormalFilter::ColorToGray(CImg& img) {
    return runStage(m_colorToGray[0], IPMODE_BAND, img, nullptr, IMAGE_WHOLE);
}
int CNormalFilter::GRC(CImg& img, tagGRCINFO* info, ColorMode mode, bool binaryFlag,
                       bool grayColorFlag) {
    return coreGRC(img, SIDE_FRONT, IMAGE_WHOLE, info, mode, grayColorFlag, binaryFlag);
}
int CNormalFilter::EmphasisEdge(CImg& img, tagEMPHASISEDGEINFO* info) {
    if (info == nullptr || info->ulSize < kEmphasisEdgeInfoSize) return RTN_PAR;
    tagEMPHASISEDGESTAGEINFO rec{};
    rec.ulRequestSize = kEdgeInfoSizeParam;
    rec.ulLevel = info->ulEmphasisLevel;
    return runStage(m_emphasisEdge[0], IPMODE_BAND_FLUSH_3, img, &rec, IMAGE_WHOLE);
}
int CNormalFilter::GrayToBinary(CImg& img, tagGRAYTOBINARYINFO* info) {
    return coreGrayToBinary(img, SIDE_FRONT, IMAGE_WHOLE, info);
}
int CNormalFilter::EPubFilter(CImg& img, tagEPUBFILTERINFO* info) {
    return runStage(m_ePubFilter[0], IPMODE_WHOLE_PAGE, img, info, IMAGE_WHOLE);
}
int CNormalFilter::BinIPFilter(CImg& img, tagBINIPFILTERINFO* info) {
    return runStage(m_binIPFilter[0], IPMODE_WHOLE_PAGE, img, info, IMAGE_WHOLE);
}
int CNormalFilter::Inverse(CImg& img) {
    return runStage(m_inverse[0], IPMODE_BAND, img, nullptr, IMAGE_WHOLE);
}
int CNormalFilter::TextImageDirection(CImg& img, tagTEXTIMAGEDIRECTIONINFO* info) {
    return coreTextImageDirection(img, SIDE_FRONT, IMAGE_WHOLE, info);
}
int CNormalFilter::Rotate90x(CImg& img, tagROTATE90XINFO* info) {
    return runStage(m_rotate90x[0], IPMODE_WHOLE_PAGE, img, info, IMAGE_WHOLE);
}
int CNormalFilter::IsBlankPage(CImg& img, tagBLANKPAGEINFO* info) {
    return coreIsBlankPage(img, SIDE_FRONT, IMAGE_WHOLE, info);
}
int CNormalFilter::PutImageOnSide(CImg& out, CImg& left, CImg& right) {
    const int r = corePutImageOnSide(right, left, IMAGE_WHOLE, true, nullptr, nullptr);
    if (r == RTN_OK) out.attachImg(right);
    return r;
}

// ---------------------------------------------------------------------------
// Core steps.

int CNormalFilter::coreGRC(CImg& img, tagSIDE side, tagIMAGESTATE state, const tagGRCINFO* info,
                           ColorMode mode, bool grayColorFlag, bool binaryFlag) {
    if (info == nullptr || info->ulSize < kGRCInfoSize) return RTN_PAR;
    CGRC::tagINFO rec{};
    rec.tone = *info;
    rec.tone.ulSize = CGRC::kInfoSize;
    rec.lCurveSet = m_lSensorIndex;
    auto& c = m_grc[sideIndex(side)];
    try {
        if (c.stage() == nullptr) c.setStage(new CGRC, IPMODE_BAND);
        c.stage()->setMode(mode, grayColorFlag, binaryFlag);
        return execIP(c, img, &rec, state);
    } catch (...) {
        return RTN_MEM;
    }
}

int CNormalFilter::coreGrayToBinary(CImg& img, tagSIDE side, tagIMAGESTATE state,
                                    const tagGRAYTOBINARYINFO* info) {
    if (info == nullptr || info->ulSize < KD_SIZE_THROUGH(tagGRAYTOBINARYINFO, ulContrast))
        return RTN_PAR;
    tagGRAYTOBINARYINFO rec{kGrayToBinaryInfoSize, info->Method, info->ulBrightness,
                            info->ulContrast, m_lSensorIndex};
    auto& c = m_grayToBinary[sideIndex(side)];
    try {
        if (c.stage() == nullptr) c.setStage(new CGrayToBinary, IPMODE_BAND);
        c.setMode(info->Method == CGrayToBinary::kMethodAdaptive ? IPMODE_WHOLE_PAGE
                                                                 : IPMODE_BAND);
        return execIP(c, img, &rec, state);
    } catch (...) {
        return RTN_MEM;
    }
}

int CNormalFilter::coreRotate90x(CImg& img, tagSIDE side, tagIMAGESTATE state, int32_t degree) {
    tagROTATE90XINFO rec{kRotate90xInfoSize, degree};
    return runStage(m_rotate90x[sideIndex(side)], IPMODE_WHOLE_PAGE, img, &rec, state);
}

int CNormalFilter::coreIsBlankPage(CImg& img, tagSIDE, tagIMAGESTATE state,
                                   tagBLANKPAGEINFO* info) {
    if (info == nullptr || info->ulSize != kBlankPageInfoSize) return RTN_PAR;
    info->bBlankPage = 0;
    uint8_t answer = 0;
    tagISBLANKPAGESTAGEINFO rec{};
    rec.ulSize = kIsBlankPageStageInfoSize;
    rec.lSlice = info->lBlankSkipSlice;
    rec.pbBlankPage = &answer;
    rec.ucEdgeLevel[0] = rec.ucEdgeLevel[1] = rec.ucEdgeLevel[2] = kBlankPageLevel;
    const int r = runStage(
        m_isBlankPage, IPMODE_WHOLE_PAGE,
        [] { return new CIsBlankPage(kBlankPageLevelCount, kBlankPageLevelTable, false); }, img,
        &rec, state);
    if (r == RTN_OK && isWholeOrLast(state)) info->bBlankPage = answer;
    return r;
}

int CNormalFilter::coreIsBlankPage2(CImg&, tagSIDE, tagIMAGESTATE) { return RTN_UNSUPPORTED; }

int CNormalFilter::coreTextImageDirection(CImg& img, tagSIDE side, tagIMAGESTATE state,
                                          tagTEXTIMAGEDIRECTIONINFO* info) {
    auto& c = m_textImageDirection[sideIndex(side)];
    const char* path = m_szOcrPath;
    const int r = runStage(
        c, IPMODE_WHOLE_PAGE, [path] { return new CTextImageDirection(path); }, img, info, state);
    if (r == RTN_OK && info != nullptr)
        info->nDeg = isWholeOrLast(state) && c.stage() != nullptr ? c.stage()->result() : 0;
    return r;
}

int CNormalFilter::corePutImageOnSide(CImg& target, CImg& other, tagIMAGESTATE state, bool front,
                                      void* left, void* right) {
    tagPUTIMAGEONSIDEINFO rec{};
    rec.ulSize = kPutImageOnSideInfoSize;
    rec.ulAlign = 1;
    rec.pOther = &other;
    rec.bFront = front ? 1 : 0;
    // The stage's backgrounds are those of the left (front) and the right
    // (back) half, whichever image it is given.
    rec.pLeftBackground = static_cast<KD730::CShading*>(left);
    rec.pRightBackground = static_cast<KD730::CShading*>(right);
    const int r = runStage(m_putImageOnSide, IPMODE_BAND, target, &rec, state);
    if (r == RTN_OK) other.deleteImg();
    return r;
}

// ---------------------------------------------------------------------------
// Steps of the per-side sequence.

int CNormalFilter::execDetectColorOrGray(CImg&, tagSIDE, tagIMAGESTATE) {
    return RTN_UNSUPPORTED;
}
int CNormalFilter::execResolutionConvertNormal(CImg&, tagSIDE, tagIMAGESTATE) {
    return RTN_UNSUPPORTED;
}
int CNormalFilter::execResolutionConvertWithReduceMoire(CImg&, tagSIDE, tagIMAGESTATE) {
    return RTN_UNSUPPORTED;
}
int CNormalFilter::execSkewCorrection(CImg&, tagSIDE, tagIMAGESTATE) { return RTN_UNSUPPORTED; }
int CNormalFilter::execAutoSize(CImg&, tagSIDE, tagIMAGESTATE) { return RTN_UNSUPPORTED; }

int CNormalFilter::execDropOutColor(CImg& img, tagSIDE side, tagIMAGESTATE state) {
    tagDROPOUTCOLORINFO* info = sideInfo(side).pDropOutColorInfo;
    if (info == nullptr) return RTN_OK;
    return runStage(m_dropOutColor[sideIndex(side)], IPMODE_BAND, img, info, state);
}
int CNormalFilter::execEmphasisColor(CImg& img, tagSIDE side, tagIMAGESTATE state) {
    tagEMPHASISCOLORINFO* info = sideInfo(side).pEmphasisColorInfo;
    if (info == nullptr) return RTN_OK;
    return runStage(m_emphasisColor[sideIndex(side)], IPMODE_BAND, img, info, state);
}
int CNormalFilter::execEraseBackPage(CImg& img, tagSIDE side, tagIMAGESTATE state) {
    tagERASEBACKPAGEINFO* info = sideInfo(side).pEraseBackPageInfo;
    if (info == nullptr) return RTN_OK;
    return runStage(m_eraseBackPage[sideIndex(side)], IPMODE_BAND, img, info, state);
}
int CNormalFilter::execColorToGray(CImg& img, tagSIDE side, tagIMAGESTATE state) {
    if (img.info().lSpp != 3 || m_set.imageOut.lSpp != 1) return RTN_OK;
    return runStage(m_colorToGray[sideIndex(side)], IPMODE_BAND, img, nullptr, state);
}

int CNormalFilter::execGRC(CImg& img, tagSIDE side, tagIMAGESTATE state) {
    const tagNORMALFILTERINFO& s = sideInfo(side);
    if (s.pGRCInfo == nullptr) return RTN_OK;
    const bool grcFlag = s.pGRCFlagInfo != nullptr;
    if (m_set.imageOut.lSpp == 3)
        return coreGRC(img, side, state, s.pGRCInfo, CGRC::ModeColor, grcFlag, false);
    if (m_set.imageOut.lBps == 1) {
        if (s.pGrayToBinaryInfo == nullptr) return RTN_PAR;
        return coreGRC(img, side, state, s.pGRCInfo, CGRC::ModeBinary, false,
                       s.pGrayToBinaryInfo->Method == 1);
    }
    return coreGRC(img, side, state, s.pGRCInfo, CGRC::ModeGray, grcFlag, false);
}

int CNormalFilter::execGRCFolio(CImg& img, tagIMAGESTATE state) {
    if (img.isNull()) return RTN_OK;
    tagIMAGEINFO& i = img.info();
    const int32_t w = i.lWidth, x = i.lXpos;
    i.lWidth = w / 2;
    int r = execGRC(img, SIDE_FRONT, state);
    i.lWidth = w;
    if (r != RTN_OK) return r;
    i.lXpos = w / 2;
    i.lWidth = w / 2;
    r = execGRC(img, SIDE_BACK, state);
    i.lXpos = x;
    i.lWidth = w;
    return r;
}

int CNormalFilter::execEmphasisEdge(CImg& img, tagSIDE side, tagIMAGESTATE state) {
    const tagEMPHASISEDGEINFO* info = sideInfo(side).pEmphasisEdgeInfo;
    if (info == nullptr) return RTN_OK;
    if (info->ulSize < kEmphasisEdgeInfoSize) return RTN_PAR;
    tagEMPHASISEDGESTAGEINFO rec{};
    rec.ulRequestSize = kEdgeInfoSizeParam;
    rec.ulLevel = info->ulEmphasisLevel;
    return runStage(m_emphasisEdge[sideIndex(side)], IPMODE_BAND_FLUSH_3, img, &rec, state);
}

int CNormalFilter::execGrayToBinary(CImg& img, tagSIDE side, tagIMAGESTATE state) {
    const tagGRAYTOBINARYINFO* info = sideInfo(side).pGrayToBinaryInfo;
    if (info == nullptr) return RTN_OK;
    return coreGrayToBinary(img, side, state, info);
}
int CNormalFilter::execEPubFilter(CImg& img, tagSIDE side, tagIMAGESTATE state) {
    tagEPUBFILTERINFO* info = sideInfo(side).pEPubFilterInfo;
    if (info == nullptr) return RTN_OK;
    return runStage(m_ePubFilter[sideIndex(side)], IPMODE_WHOLE_PAGE, img, info, state);
}
int CNormalFilter::execBinIPFilter(CImg& img, tagSIDE side, tagIMAGESTATE state) {
    tagBINIPFILTERINFO* info = sideInfo(side).pBinIPFilterInfo;
    if (info == nullptr) return RTN_OK;
    return runStage(m_binIPFilter[sideIndex(side)], IPMODE_WHOLE_PAGE, img, info, state);
}
int CNormalFilter::execInverse(CImg& img, tagSIDE side, tagIMAGESTATE state) {
    if (sideInfo(side).bInverse == 0) return RTN_OK;
    return runStage(m_inverse[sideIndex(side)], IPMODE_BAND, img, nullptr, state);
}

int CNormalFilter::execGray4Bit(CImg& img, tagSIDE, tagIMAGESTATE) {
    const tagIMAGEINFO& in = img.info();
    if (img.isNull() || int64_t{in.lBps} * in.lSpp != 8 || m_set.imageOut.lBps != 4)
        return RTN_OK;
    try {
        CImg out;
        if (!out.createImg(in.lWidth, in.lHeight, 4, 1, 0, in.lXResolution, in.lYResolution))
            return RTN_PAR;
        if (out.isNull()) return RTN_MEM;
        const tagIMAGEINFO& o = out.info();
        const int32_t pairs = in.lWidth / 2;
        for (int32_t y = 0; y < in.lHeight; ++y) {
            const uint8_t* s = in.lpImage + int64_t{y} * in.lSync;
            uint8_t* d = o.lpImage + int64_t{y} * o.lSync;
            for (int32_t k = 0; k < pairs; ++k)
                d[k] = static_cast<uint8_t>((s[2 * k] & 0xF0) | (s[2 * k + 1] >> 4));
            if (in.lWidth & 1) d[pairs] = static_cast<uint8_t>(s[2 * pairs] & 0xF0);
        }
        img.attachImg(out);
        return RTN_OK;
    } catch (...) {
        return RTN_MEM;
    }
}

int CNormalFilter::execPutImageOnSide(CImg& front, CImg& back, tagIMAGESTATE state, void* a,
                                      void* b) {
    if (m_set.bFolio == 0) return RTN_OK;
    if (front.isNull()) return corePutImageOnSide(back, front, state, false, a, b);
    return corePutImageOnSide(front, back, state, true, a, b);
}

int CNormalFilter::execTextImageDirection(CImg& img, tagSIDE side, tagIMAGESTATE state) {
    tagTEXTIMAGEDIRECTIONINFO* info = sideInfo(side).pTextImageDirectionInfo;
    if (info == nullptr) return RTN_OK;
    return coreTextImageDirection(img, side, state, info);
}

int CNormalFilter::execRotate90x(CImg& img, tagSIDE side, tagIMAGESTATE state) {
    const tagNORMALFILTERINFO& s = sideInfo(side);
    // The text orientation gives the clockwise angle of the text; turning by
    // the rest of the full turn sets it upright.
    int32_t degree = s.pTextImageDirectionInfo != nullptr ? 360 - s.pTextImageDirectionInfo->nDeg : 0;
    if (s.pRotate90xInfo != nullptr) {
        if (side == SIDE_FRONT)
            degree += s.pRotate90xInfo->lDegree;
        else
            degree = degree - s.pRotate90xInfo->lDegree + 360;
    } else if (degree == 0) {
        return RTN_OK;
    }
    return coreRotate90x(img, side, state, degree);
}

int CNormalFilter::execIsBlankPage(CImg& img, tagSIDE side, tagIMAGESTATE state) {
    tagBLANKPAGEINFO* info = sideInfo(side).pBlankPageInfo;
    if (info == nullptr) return RTN_OK;
    return coreIsBlankPage(img, side, state, info);
}

// ---------------------------------------------------------------------------
// Sequences.

int CNormalFilter::execNormalFilter(CImg& img, tagSIDE side, tagIMAGESTATE state) {
    using Step = int (CNormalFilter::*)(CImg&, tagSIDE, tagIMAGESTATE);
    static constexpr Step kSteps[] = {
        &CNormalFilter::execDetectColorOrGray, &CNormalFilter::execResolutionConvertNormal,
        &CNormalFilter::execResolutionConvertWithReduceMoire, &CNormalFilter::execEraseBackPage,
        &CNormalFilter::execDropOutColor, &CNormalFilter::execEmphasisColor,
        &CNormalFilter::execColorToGray, &CNormalFilter::execGRC,
        &CNormalFilter::execEmphasisEdge, &CNormalFilter::execSkewCorrection,
        &CNormalFilter::execAutoSize, &CNormalFilter::execTextImageDirection,
        &CNormalFilter::execRotate90x, &CNormalFilter::execIsBlankPage,
        &CNormalFilter::execGrayToBinary, &CNormalFilter::execInverse,
    };
    for (Step step : kSteps)
        if (const int r = (this->*step)(img, side, state); r != RTN_OK) return r;
    return RTN_OK;
}

int CNormalFilter::execNormalFilter(CImg& front, CImg& back, tagIMAGESTATE state) {
    if (m_set.bFolio == 0) {
        if (const int r = execNormalFilter(front, SIDE_FRONT, state); r != RTN_OK) return r;
        return execNormalFilter(back, SIDE_BACK, state);
    }
    // The join carries both sides; each side is turned only as the whole
    // sheet afterwards, and the back's text orientation is not asked.
    tagROTATE90XINFO* frontRotate = m_set.front.pRotate90xInfo;
    tagROTATE90XINFO* backRotate = m_set.back.pRotate90xInfo;
    tagTEXTIMAGEDIRECTIONINFO* backText = m_set.back.pTextImageDirectionInfo;
    m_set.front.pRotate90xInfo = nullptr;
    m_set.back.pRotate90xInfo = nullptr;
    m_set.back.pTextImageDirectionInfo = nullptr;
    if (const int r = execNormalFilter(front, SIDE_FRONT, state); r != RTN_OK) return r;
    if (const int r = execNormalFilter(back, SIDE_BACK, state); r != RTN_OK) return r;
    if (const int r = execPutImageOnSide(front, back, state, nullptr, nullptr); r != RTN_OK)
        return r;
    m_set.front.pRotate90xInfo = frontRotate;
    m_set.back.pRotate90xInfo = backRotate;
    m_set.back.pTextImageDirectionInfo = backText;
    m_set.bFolio = 0;
    const int r = execRotate90x(front, SIDE_FRONT, state);
    m_set.bFolio = 1;
    if (r != RTN_OK) return r;
    return m_set.front.pBlankPageInfo != nullptr || m_set.back.pBlankPageInfo != nullptr
               ? RTN_PAR
               : RTN_OK;
}

} // namespace Tvk::Imvra
