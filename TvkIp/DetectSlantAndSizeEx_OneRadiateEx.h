// Four-corner detector (mode 13): the sheet's rectangle, corners and slant of
// every simplex, duplex, dark-backing and carrier-sheet page, with the
// corners pulled inward by the trim margins.
#pragma once

#include "CImgInf.h"
#include "DetectSize.h"
#include "DetectSlantAndSizeEx.h"
#include "Img.h"
#include "RotateImage.h"
#include "TvkDetectSlantAndSize.h"

#include <cstdint>
#include <memory>

class CDetectSize3;
class CDetectSizeWithDuplex2;
class CDetectSlantAndSize_SideEdge;

class CDetectSlantAndSize_OneRadiateEx : public CDetectSlantAndSizeBase {
public:
    CDetectSlantAndSize_OneRadiateEx();
    ~CDetectSlantAndSize_OneRadiateEx() override;

    bool CanBandProcess() override { return true; }
    uint32_t InitProc(const tagTVKIMAGEINFO* image, tagDETECTSLANTSIZEEXBASIC* request) override;
    uint32_t FirstProc(const tagTVKIMAGEINFO* image, tagDETECTSLANTSIZEEXBASIC* request) override;
    uint32_t MidProc(const tagTVKIMAGEINFO* image, tagDETECTSLANTSIZEEXBASIC* request) override;
    uint32_t LastProc(const tagTVKIMAGEINFO* image, tagDETECTSLANTSIZEEXBASIC* request) override;
    uint32_t ResultProc(const tagTVKIMAGEINFO* image, tagDETECTSLANTSIZEEXBASIC* request) override;
    uint32_t PageProc(const tagTVKIMAGEINFO* image, tagDETECTSLANTSIZEEXBASIC* request) override;

    // Ways of working.
    uint32_t InitProc_Simplex(const tagTVKIMAGEINFO* image, tagDETECTSLANTSIZEEX_ONERADIATE_EX* r);
    uint32_t InitProc_Duplex(const tagTVKIMAGEINFO* image, tagDETECTSLANTSIZEEX_ONERADIATE_EX* r);
    uint32_t InitProc_BlackBack(const tagTVKIMAGEINFO* image,
                                tagDETECTSLANTSIZEEX_ONERADIATE_EX* r);
    uint32_t BandProc_Simplex(const tagTVKIMAGEINFO* image, tagDETECTSLANTSIZEEX_ONERADIATE_EX* r,
                              uint32_t command);
    uint32_t BandProc_Duplex(const tagTVKIMAGEINFO* image, tagDETECTSLANTSIZEEX_ONERADIATE_EX* r,
                             uint32_t command);
    uint32_t BandProc_BlackBack(const tagTVKIMAGEINFO* image,
                                tagDETECTSLANTSIZEEX_ONERADIATE_EX* r);
    uint32_t PageProc_Simplex(const tagTVKIMAGEINFO* image, tagDETECTSLANTSIZEEX_ONERADIATE_EX* r);
    uint32_t PageProc_Duplex(const tagTVKIMAGEINFO* image, tagDETECTSLANTSIZEEX_ONERADIATE_EX* r);
    uint32_t PageProc_BlackBack(const tagTVKIMAGEINFO* image,
                                tagDETECTSLANTSIZEEX_ONERADIATE_EX* r);
    uint32_t ResultProc_Simplex(tagDETECTSLANTSIZEEX_ONERADIATE_EX* r);
    uint32_t ResultProc_Duplex(tagDETECTSLANTSIZEEX_ONERADIATE_EX* r);
    uint32_t ResultProc_BlackBack(tagDETECTSLANTSIZEEX_ONERADIATE_EX* r);

    // Carrier-sheet way of working (defined with the carrier-sheet code).
    uint32_t InitProc_CarrierSheet(const tagTVKIMAGEINFO* image,
                                   tagDETECTSLANTSIZEEX_ONERADIATE_EX* r);
    uint32_t PageProc_CarrierSheet(const tagTVKIMAGEINFO* image,
                                   tagDETECTSLANTSIZEEX_ONERADIATE_EX* r);
    uint32_t ResultProc_CarrierSheet(tagDETECTSLANTSIZEEX_ONERADIATE_EX* r);

    // Deletes the size detector and clears the black-backing and duplex flags.
    void ReleaseDetectSizeClass();

    // Millimetre in pixels at a resolution.
    static int32_t OneMillimetre(int32_t dpi) { return dpi * 10 / 254; }

    // State, read by the carrier-sheet code and by tests.
    int32_t m_bDuplex = 0;
    int32_t m_bBlackBack = 0;
    int32_t m_bCarrierSheet = 0;
    int32_t m_lCarrierSheetStep = 0;
    std::unique_ptr<CDetectSize3> m_pSimplex;
    std::unique_ptr<CDetectSizeWithDuplex2> m_pDuplex;
    std::unique_ptr<CDetectSlantAndSize_SideEdge> m_pSideEdge;
    int32_t m_trimFront[4] = {0, 0, 0, 0}; // 0 and 3 in lines, 1 and 2 in pixels
    int32_t m_trimBack[4] = {0, 0, 0, 0};
    tagROTATEINFO m_rotInfo[2]{}; // how each side was cut out (carrier sheet)
    tagTVKIMAGEINFO m_imgFront{};
    tagTVKIMAGEINFO m_imgBack{};

private:
    bool hasSizeDetector() const { return m_pSimplex || m_pDuplex || m_pSideEdge; }
};

// The request's sub-records as far as its size reaches (null beyond).
const tagONERADIATEEX_SCANNERINFO*
OneRadiateExScannerInfo(const tagDETECTSLANTSIZEEX_ONERADIATE_EX* r);
tagONERADIATEEX_SCANINFO* OneRadiateExScanInfo(const tagDETECTSLANTSIZEEX_ONERADIATE_EX* r);
const tagONERADIATEEX_SETTINGINFO*
OneRadiateExSettingInfo(const tagDETECTSLANTSIZEEX_ONERADIATE_EX* r);
