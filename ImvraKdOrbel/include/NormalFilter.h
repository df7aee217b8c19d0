// The generic page-filter chain: for each side of a sheet a fixed sequence of
// optional page filters, switched on and off by one settings record per side,
// over a whole image or a page delivered in bands. Every filter is a stage
// created at its first use and kept in one controller per filter and side, so
// a stage keeps its state across the bands of a page and is reused for the
// next page. The scanner's engine (SpecialFilter.h) derives from this chain,
// replaces the per-side sequence and fills in the steps left open here.
#pragma once

#include "ColorStages.h"
#include "DetectColorOrGray.h"
#include "EPubFilter.h"
#include "EmphasisEdge.h"
#include "GRC.h"
#include "GrayToBinary.h"
#include "IPBase.h"
#include "IsBlankPage.h"
#include "PageStages.h"
#include "ResolutionConvert.h"
#include "Rotate90x.h"
#include "SkewCorrection.h"

#include <cstddef>
#include <cstdint>
#include <new>

namespace Tvk::Imvra {

class CNormalFilter : public CIPBase {
public:
    using tagIMAGESTATE = ::Tvk::Imvra::tagIMAGESTATE;
    using ColorMode = CGRC::ColorMode;

    // Longest text-orientation folder (without the terminating zero).
    static constexpr size_t kOcrPathMax = 1023;

    CNormalFilter();
    CNormalFilter(const CNormalFilter&) = delete;
    CNormalFilter& operator=(const CNormalFilter&) = delete;
    ~CNormalFilter() override;

    // Takes a tagNORMALFILTERSETINFO (one of the ten sizes of
    // kNormalFilterSetInfoSimplexSizes / kNormalFilterSetInfoDuplexSizes).
    int setInfo(CImg& img, void* info) override;
    int setInfoFirst(CImg& img, void* info) override { return setInfo(img, info); }
    int setInfoMiddle(CImg& img, void* info) override { return setInfo(img, info); }
    int setInfoLast(CImg& img, void* info) override { return setInfo(img, info); }

    // The folder of the text-orientation data: -1 for null or a folder
    // longer than kOcrPathMax (the previous folder is kept), else 0.
    int setOcrPath(const char* folder);
    const char* ocrPath() const { return m_szOcrPath; }

    // Deletes every stage and drops every collected band.
    virtual void clear();
    // 5 when a side's binarisation by method 8 meets show-through removal,
    // or gamma brightness and contrast without colour detection.
    virtual int cehckInfoSEQError(tagSIDE side);

    // Single filters on a whole image with the front side's controllers.
    virtual int DropOutColor(CImg& img, tagDROPOUTCOLORINFO* info);
    virtual int EmphasisColor(CImg& img, tagEMPHASISCOLORINFO* info);
    virtual int EraseBackPage(CImg& img, tagERASEBACKPAGEINFO* info);
    virtual int ColorToGray(CImg& img);
    virtual int GRC(CImg& img, tagGRCINFO* info, ColorMode mode, bool binaryFlag,
                    bool grayColorFlag);
    virtual int EmphasisEdge(CImg& img, tagEMPHASISEDGEINFO* info);
    virtual int GrayToBinary(CImg& img, tagGRAYTOBINARYINFO* info);
    virtual int EPubFilter(CImg& img, tagEPUBFILTERINFO* info);
    virtual int BinIPFilter(CImg& img, tagBINIPFILTERINFO* info);
    virtual int Inverse(CImg& img);
    // Joins left and right side by side; on success out holds both.
    virtual int PutImageOnSide(CImg& out, CImg& left, CImg& right);
    virtual int TextImageDirection(CImg& img, tagTEXTIMAGEDIRECTIONINFO* info);
    virtual int Rotate90x(CImg& img, tagROTATE90XINFO* info);
    virtual int IsBlankPage(CImg& img, tagBLANKPAGEINFO* info);

    // The per-side sequence; the first non-zero result ends it.
    virtual int execNormalFilter(CImg& img, tagSIDE side, tagIMAGESTATE state);
    // Both sides, or with the folio flag the two joined side by side.
    virtual int execNormalFilter(CImg& front, CImg& back, tagIMAGESTATE state);

    // The kept settings (always with room for both sides).
    const tagNORMALFILTERSETINFO& settings() const { return m_set; }

protected:
    // Steps whose stages belong to the scanner's engine: 1 here.
    virtual int execDetectColorOrGray(CImg& img, tagSIDE side, tagIMAGESTATE state);
    virtual int execResolutionConvertNormal(CImg& img, tagSIDE side, tagIMAGESTATE state);
    virtual int execResolutionConvertWithReduceMoire(CImg& img, tagSIDE side,
                                                     tagIMAGESTATE state);
    virtual int execSkewCorrection(CImg& img, tagSIDE side, tagIMAGESTATE state);
    virtual int execAutoSize(CImg& img, tagSIDE side, tagIMAGESTATE state);

    virtual int execDropOutColor(CImg& img, tagSIDE side, tagIMAGESTATE state);
    virtual int execEmphasisColor(CImg& img, tagSIDE side, tagIMAGESTATE state);
    virtual int execEraseBackPage(CImg& img, tagSIDE side, tagIMAGESTATE state);
    virtual int execColorToGray(CImg& img, tagSIDE side, tagIMAGESTATE state);
    virtual int execGRC(CImg& img, tagSIDE side, tagIMAGESTATE state);
    // Gamma of a side-by-side sheet: the left half with the front's settings,
    // the right half with the back's.
    virtual int execGRCFolio(CImg& img, tagIMAGESTATE state);
    virtual int execEmphasisEdge(CImg& img, tagSIDE side, tagIMAGESTATE state);
    virtual int execGrayToBinary(CImg& img, tagSIDE side, tagIMAGESTATE state);
    virtual int execEPubFilter(CImg& img, tagSIDE side, tagIMAGESTATE state);
    virtual int execBinIPFilter(CImg& img, tagSIDE side, tagIMAGESTATE state);
    // 8-bit gray to 4-bit gray, two pixels a byte (no stage).
    virtual int execGray4Bit(CImg& img, tagSIDE side, tagIMAGESTATE state);
    virtual int execInverse(CImg& img, tagSIDE side, tagIMAGESTATE state);
    // The side-by-side join with the folio flag; a and b are the platen
    // backgrounds of the left and the right half.
    virtual int execPutImageOnSide(CImg& front, CImg& back, tagIMAGESTATE state, void* a,
                                   void* b);
    virtual int execTextImageDirection(CImg& img, tagSIDE side, tagIMAGESTATE state);
    virtual int execRotate90x(CImg& img, tagSIDE side, tagIMAGESTATE state);
    virtual int execIsBlankPage(CImg& img, tagSIDE side, tagIMAGESTATE state);

    // Core steps: the filter's stage on the side's controller with the
    // settings handed to the stage.
    int coreGRC(CImg& img, tagSIDE side, tagIMAGESTATE state, const tagGRCINFO* info,
                ColorMode mode, bool grayColorFlag, bool binaryFlag);
    int coreGrayToBinary(CImg& img, tagSIDE side, tagIMAGESTATE state,
                         const tagGRAYTOBINARYINFO* info);
    int coreRotate90x(CImg& img, tagSIDE side, tagIMAGESTATE state, int32_t degree);
    int coreIsBlankPage(CImg& img, tagSIDE side, tagIMAGESTATE state, tagBLANKPAGEINFO* info);
    int coreTextImageDirection(CImg& img, tagSIDE side, tagIMAGESTATE state,
                               tagTEXTIMAGEDIRECTIONINFO* info);
    int corePutImageOnSide(CImg& target, CImg& other, tagIMAGESTATE state, bool front,
                           void* left, void* right);
    // A second blank-page test of the scanner's engine; 1 here.
    virtual int coreIsBlankPage2(CImg& img, tagSIDE side, tagIMAGESTATE state);

    // Runs one band state on a controller: 0 whole image, 1 first band, 2
    // middle band, 3 last band, anything else 4 without calling the stage;
    // then writes the step's log line.
    template <class T>
    static int execIP(CIPController<T>& c, CImg& img, void* info, tagIMAGESTATE state) {
        int r;
        switch (state) {
        case IMAGE_WHOLE: r = c.IPComplete(img, info); break;
        case IMAGE_FIRST:
            c.setFirst();
            r = c.IPMiddle(img, info);
            break;
        case IMAGE_MIDDLE: r = c.IPMiddle(img, info); break;
        case IMAGE_LAST: r = c.IPLast(img, info); break;
        default: r = RTN_STATE; break;
        }
        logStep(c.stage() != nullptr ? c.stage()->getName() : "", state, r);
        return r;
    }
    // Creates the stage on first use (make returns a new stage) with its
    // mode, then runs the band state; any exception (allocation failures
    // included) gives 3.
    template <class T, class Make>
    static int runStage(CIPController<T>& c, int mode, Make&& make, CImg& img, void* info,
                        tagIMAGESTATE state) {
        try {
            if (c.stage() == nullptr) c.setStage(make(), mode);
            return execIP(c, img, info, state);
        } catch (...) {
            return RTN_MEM;
        }
    }
    template <class T>
    static int runStage(CIPController<T>& c, int mode, CImg& img, void* info,
                        tagIMAGESTATE state) {
        return runStage(c, mode, [] { return new T; }, img, info, state);
    }
    static void logStep(const char* name, int state, int result);

    static bool isWholeOrLast(tagIMAGESTATE s) { return s == IMAGE_WHOLE || s == IMAGE_LAST; }
    tagNORMALFILTERINFO& sideInfo(tagSIDE side) {
        return side == SIDE_BACK ? m_set.back : m_set.front;
    }
    static int sideIndex(tagSIDE side) { return side == SIDE_BACK ? 1 : 0; }

    // Copies the settings with room for both sides; the size word becomes
    // the full one- or two-sided size.
    tagNORMALFILTERSETINFO m_set{};
    // Sensor layout index, 0 or 1; set by the scanner's calibration.
    int32_t m_lSensorIndex = 0;

    CIPController<CDetectColorOrGray> m_detectColorOrGray[2];
    CIPController<CResolutionConvertNormal> m_resolutionNormal[2];
    CIPController<CResolutionConvertWithReduceMoire> m_resolutionMoire[2];
    CIPController<CDropOutColor> m_dropOutColor[2];
    CIPController<CEmphasisColor> m_emphasisColor[2];
    CIPController<CEraseBackPage> m_eraseBackPage[2];
    CIPController<CColorToGray> m_colorToGray[2];
    CIPController<CGRC> m_grc[2];
    CIPController<CEmphasisEdge> m_emphasisEdge[2];
    CIPController<CIPBase> m_autoSize[2];
    CIPController<CSkewCorrection> m_skewCorrection[2];
    CIPController<CGrayToBinary> m_grayToBinary[2];
    CIPController<CEPubFilter> m_ePubFilter[2];
    CIPController<CBinIPFilter> m_binIPFilter[2];
    CIPController<CInverse> m_inverse[2];
    CIPController<CTextImageDirection> m_textImageDirection[2];
    CIPController<CRotate90x> m_rotate90x[2];
    CIPController<CPutImageOnSide> m_putImageOnSide;
    CIPController<CIsBlankPage> m_isBlankPage;

    char m_szOcrPath[kOcrPathMax + 1] = {};

private:
    int copySide(tagNORMALFILTERINFO& to, const tagNORMALFILTERINFO& from, size_t room);
};

} // namespace Tvk::Imvra
