// The scanner's whole filter chain: from the raw sensor bands (reordering,
// widening, corner detection, offset cut, shading, turned pages) through the
// scanner's own page stages (colour gap, resolution conversion, shadow,
// deskew, automatic size, cut-out) and the generic page filters to the
// finished page. One exported call (ImvraKD730.h) is one pass of a band or a
// whole page through this chain. The engine also carries the light
// calibration and makes the shading data.
#pragma once

#include "AdjustLight.h"
#include "CollectArray.h"
#include "NormalFilter.h"
#include "Shading.h"

#include <cstdint>
#include <memory>

namespace Tvk::Imvra::KD730 {

// Dummy pixels of the sensor row of a layout index at a resolution (the 600
// dpi table at 600, else the 300 dpi one). Any index other than 1 reads row
// 0: both rows hold the same number of dummy pixels, so the sum never
// depends on a row outside the tables.
const tagDUMMYPIXELS& getDummyPixels(long resolution, long row);
long getDummyPixelSum(long resolution, long row);
// Raw width less the dummy pixels; 0 or less leaves no usable width.
long getMaxWidthWithoutDummyPixels(long width, long resolution, long row);

class CSpecialFilter : public CNormalFilter {
public:
    // Offset of the transport in micrometres at construction.
    static constexpr int32_t kDefaultOffset = -7946;

    CSpecialFilter() = default;
    ~CSpecialFilter() override = default;

    const char* getName() const override { return "SpecialFilter"; }
    // The chain for a whole image and for the first, a middle and the last band.
    int IP(CImg& img) override { return KdOrbelFilter(img, IMAGE_WHOLE); }
    int IPFirst(CImg& img) override { return KdOrbelFilter(img, IMAGE_FIRST); }
    int IPMiddle(CImg& img) override { return KdOrbelFilter(img, IMAGE_MIDDLE); }
    int IPLast(CImg& img) override { return KdOrbelFilter(img, IMAGE_LAST); }
    // Takes a tagFILTERSIMPLEXINFO (kFilterSimplexInfoSize) or a
    // tagFILTERDUPLEXINFO (kFilterDuplexInfoSize); re-read at every band.
    int setInfo(CImg& img, void* info) override;
    int setInfoFirst(CImg& img, void* info) override { return setInfo(img, info); }
    int setInfoMiddle(CImg& img, void* info) override { return setInfo(img, info); }
    int setInfoLast(CImg& img, void* info) override { return setInfo(img, info); }
    // Every stage and collected band, except the two shading stages, which
    // keep the platen colour of the last shading data made.
    void clear() override;

    // Only the generic page filters on a whole image; front picks the side.
    int NormalFilterSimplex(CImg& img, void* info, bool front);
    // The generic page filters of the side-by-side form on a whole image.
    int NormalFilterFolio(CImg& img, tagFILTERDUPLEXINFO* info);

    // The back side of a duplex sheet between the chain and the caller.
    void getBackImage(CImg& img) { img.attachImg(m_imgBack); }
    void setBackImage(CImg& img) { m_imgBack.attachImg(img); }

    // 2 when a side asks for automatic size, deskew or card mode without the
    // records they need.
    int checkParamError(tagSIDE side);

    int32_t getOffset() const { return m_lOffset; }
    void setOffset(int32_t offset) { m_lOffset = offset; }
    int32_t sensorIndex() const { return m_lSensorIndex; }

    // Light calibration.
    void AdjustLightFirst(tagADJUSTINFO* info, long mode);
    int AdjustLightNext(CImg& raw, tagADJUSTINFO* info);
    int AdjustLightLast(CImg& front, CImg& back, CImg& raw, tagADJUSTINFO* info);
    int makeShadingData(CImg& white, CImg& black, tagADJUSTINFO* info, tagSIDE side,
                        const uint8_t* curve, unsigned long curveSize);
    // The side's shading stage (null until shading data were made or used).
    CShading* shading(tagSIDE side) { return m_shading[side == SIDE_BACK ? 1 : 0].stage(); }

    // Each sample position of a line becomes its mean over all lines (64-bit
    // sums); the image becomes that one line, no wider than the usable width.
    int execMackOneLineImage(CImg& img);

protected:
    int execNormalFilter(CImg& img, tagSIDE side, tagIMAGESTATE state) override;
    using CNormalFilter::execNormalFilter;
    int execDetectColorOrGray(CImg& img, tagSIDE side, tagIMAGESTATE state) override;
    int execResolutionConvertNormal(CImg& img, tagSIDE side, tagIMAGESTATE state) override;
    int execResolutionConvertWithReduceMoire(CImg& img, tagSIDE side,
                                             tagIMAGESTATE state) override;
    int execSkewCorrection(CImg& img, tagSIDE side, tagIMAGESTATE state) override;
    int execAutoSize(CImg& img, tagSIDE side, tagIMAGESTATE state) override;
    int execGrayToBinary(CImg& img, tagSIDE side, tagIMAGESTATE state) override;
    int execRotate90x(CImg& img, tagSIDE side, tagIMAGESTATE state) override;

private:
    int KdOrbelFilter(CImg& img, tagIMAGESTATE state);
    int simplexChain(CImg& img, tagIMAGESTATE state);
    int duplexChain(CImg& img, tagIMAGESTATE state);
    int folioSequence(CImg& img, tagIMAGESTATE state);

    int execCollectArrayForSimplex(CImg& img, tagIMAGESTATE state);
    int execExtendBitData12To16(CImg& img, tagIMAGESTATE state);
    int execCollectArrayForDuplex(CImg& img, CImg& back, tagIMAGESTATE state);
    int execCutOffset(CImg& img, tagSIDE side, tagIMAGESTATE state);
    int execShading(CImg& img, tagSIDE side, tagIMAGESTATE state);
    int execSpecialFilter(CImg& img, tagSIDE side, tagIMAGESTATE state);
    int execRmvShadow(CImg& img, tagSIDE side, tagIMAGESTATE state);
    int execSRGBConversion(CImg& img, tagSIDE side, tagIMAGESTATE state);
    int execColorSaturate(CImg& img, tagSIDE side, tagIMAGESTATE state);
    int execDetectResolution(CImg& img, tagSIDE side, tagIMAGESTATE state);
    int execPutImageOnSide(CImg& front, CImg& back, tagIMAGESTATE state);
    int execGRCStep(CImg& img, tagSIDE side, tagIMAGESTATE state);

    // Steps whose stages are not part of the library yet. Each one lives in
    // SpecialFilterPending.cpp, the one place to connect them.
    int execDetect4Points(CImg& img, tagSIDE side, tagIMAGESTATE state);
    int execDetect4PointsDuplex(CImg& img, CImg& back, tagIMAGESTATE state);
    int execCorrectUnusualScanningDirection(CImg& img, tagSIDE side, tagIMAGESTATE state);
    int execMakePage(CImg& img, tagSIDE side, tagIMAGESTATE state);
    int execColorGapCorrect(CImg& img, tagSIDE side, tagIMAGESTATE state);
    int execCutOut(CImg& img, tagSIDE side, tagIMAGESTATE state);
    int execFixPage(CImg& img, tagSIDE side, tagIMAGESTATE state);
    int runAutoSize(CImg& img, tagSIDE side, tagIMAGESTATE state, const tagDETECT4POINTSINFO& c);

    // Helpers of the settings.
    bool duplex() const { return m_info.ulSize == kFilterDuplexInfoSize; }
    tagSPECIALFILTERINFO& special(tagSIDE side) {
        return side == SIDE_BACK ? m_info.specialBack : m_info.specialFront;
    }
    // The carrier-sheet flag of the duplex corner step: only from a back
    // corner record longer than its direction code.
    bool carrierSheet();
    // Reversed feed: the side's feeding record says 180 degrees.
    bool reversedFeed(tagSIDE side);
    // The feeding record the turned-page step reads for a side: its own, or
    // the front's for a back side without one (never a missing record).
    const tagFEEDINGDIRECTIONINFO* feedingRecord(tagSIDE side);
    // The side's turned-page flag for the corner steps.
    bool turnedPage(tagSIDE side);
    // Settings of the collection and widening stages; false when the raw
    // row leaves no usable width.
    bool collectInfo(tagCOLLECTARRAYINFO& rec, int32_t lines) const;
    template <class T>
    int resolutionSettings(const CIPController<T>& c, const CImg& img, tagSIDE side,
                           tagIMAGESTATE state, tagRESOLUTIONCONVERTINFO& rec);
    // Usable raw width of the input description; 0 or less when none.
    long usableWidth() const;
    // Offset in lines at a vertical resolution (64-bit product).
    int32_t offsetLines(int32_t yResolution) const;
    // Multiplies the twelve corner words by the new and divides by the old
    // resolution; false (nothing changed) for a resolution of 0.
    static bool rescaleCorners(tagDETECT4POINTSINFO& c, int32_t newX, int32_t oldX, int32_t newY,
                               int32_t oldY);
    // The colour decision: the output format for a class of
    // CDetectColorOrGray.
    void applyColorClass(tagSIDE side, uint32_t cls);
    int adjustLast(CImg& front, CImg& back, CImg& raw, tagADJUSTINFO* info);

    // The kept settings in the two-sided layout.
    tagFILTERDUPLEXINFO m_info{};
    CImg m_imgBack;
    CAdjustLight m_adjust;
    int32_t m_lOffset = kDefaultOffset;
    uint32_t m_ulColorClass[2] = {0, 0};
    // The colour tolerance handed to the colour decision of each side.
    std::unique_ptr<ColorOrGrayThresholdBuilder> m_thresholdBuilder[2];
    // The generic sequence runs on a side-by-side sheet (gamma on both halves).
    bool m_bFolioSequence = false;

    CIPController<CCollectArrayForSimplex> m_collectSimplex[2];
    CIPController<CExtendBitData12To16> m_extend;
    CIPController<CCollectArrayForDuplex> m_collectDuplex;
    CIPController<CIPBase> m_detect4PointsDuplex;
    CIPController<CCutOffset> m_cutOffset[2];
    CIPController<CIPBase> m_detect4Points[2];
    CIPController<CShading> m_shading[2];
    CIPController<CIPBase> m_correctDirection[2];
    CIPController<CIPBase> m_makePage[2];
    CIPController<CIPBase> m_colorGap[2];
    CIPController<CIPBase> m_cutOut[2];
    CIPController<CRmvShadow> m_rmvShadow[2];
    CIPController<CSRGBConversion> m_sRGB[2];
    CIPController<CColorSaturate> m_colorSaturate[2];
    CIPController<CDetectRes> m_detectRes[2];
    CIPController<CIPBase> m_fixPage[2];
};

} // namespace Tvk::Imvra::KD730
