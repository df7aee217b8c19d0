// Records that the data source and the image library exchange, the result
// codes of every filtering and calibration call, and the settings records of
// the page filters that those records point to. Every record is declared here
// once; both sides of the library boundary include this header.
//
// Two kinds of records:
// - Records that hold pointers pass only between our own code and use the
//   native 64-bit layout. Their size words are checked against the constants
//   below (taken from sizeof/offsetof), and callers fill them from the same
//   constants; never from byte counts of a 32-bit layout.
// - Pointer-free records keep their fixed byte layout (pinned by
//   static_assert), so they read the same whatever fills them.
#pragma once

#include "CImg.h"

#include <cstddef>
#include <cstdint>

namespace Tvk {
namespace Imvra {

// Result of every stage, filtering and calibration call.
enum IMVRA_EXPORT tagRTN : int {
    RTN_OK = 0,
    RTN_UNSUPPORTED = 1, // an input the stage does not handle (layout, band call, placeholder)
    RTN_PAR = 2,         // missing or mis-sized record, missing sub-record, unusable image
    RTN_MEM = 3,         // an image or a stage could not be created
    RTN_STATE = 4,       // band state out of range, calibration step out of order
    RTN_SEQ = 5,         // settings that do not fit together
};

// Band states of a page.
enum IMVRA_EXPORT tagIMAGESTATE : int {
    IMAGE_WHOLE = 0,
    IMAGE_FIRST = 1,
    IMAGE_MIDDLE = 2,
    IMAGE_LAST = 3,
};

// Sides of a sheet.
enum IMVRA_EXPORT tagSIDE : int {
    SIDE_FRONT = 0,
    SIDE_BACK = 1,
};

// Size of a record's leading part that ends with the field F (for records
// whose size word tells how many fields are present).
#define KD_SIZE_THROUGH(T, F) static_cast<uint32_t>(offsetof(T, F) + sizeof(T::F))

// ---------------------------------------------------------------------------
// Settings records of the generic page filters (pointed to from
// tagNORMALFILTERINFO). Pointer-free unless noted.

// Automatic colour/gray detection. The short form ends at
// ulIntensityOfAutoColor; the full form adds the four words from Mode on.
struct tagDETECTCOLORORGRAYINFO {
    uint32_t ulSize;
    int32_t lSensitivityOfAutoColor;
    uint32_t ulIntensityOfAutoColor;
    uint32_t Mode;
    int32_t lLength;
    int32_t lTopMargin;
    int32_t lBottomMargin;
};
inline constexpr uint32_t kDetectColorOrGrayInfoShortSize =
    KD_SIZE_THROUGH(tagDETECTCOLORORGRAYINFO, ulIntensityOfAutoColor);
inline constexpr uint32_t kDetectColorOrGrayInfoSize = sizeof(tagDETECTCOLORORGRAYINFO);
static_assert(kDetectColorOrGrayInfoShortSize == 12 && kDetectColorOrGrayInfoSize == 28);

// Drop-out colour and colour emphasis share one layout (holds pointers:
// native layout). The stages read only ulColor; the lists are carried for the
// record's other users.
struct tagDROPOUTCOLORINFO {
    uint32_t ulSize;
    uint32_t ulColor; // 0 none, 1 red, 2 green, 3 blue, 4 a listed colour
    void* lpColor;
    void* lpNewColors;
    uint32_t nColorCount;
    uint32_t nRange;
};
using tagEMPHASISCOLORINFO = tagDROPOUTCOLORINFO;
inline constexpr uint32_t kDropOutColorInfoSize = sizeof(tagDROPOUTCOLORINFO);
inline constexpr uint32_t kEmphasisColorInfoSize = sizeof(tagEMPHASISCOLORINFO);

// Show-through removal.
struct tagERASEBACKPAGEINFO {
    uint32_t ulSize;
    uint32_t ulCoefficient; // 1 to 7
    uint32_t ulThreshold;
};
inline constexpr uint32_t kEraseBackPageInfoSize = sizeof(tagERASEBACKPAGEINFO);
static_assert(kEraseBackPageInfoSize == 12);

// Tone record: brightness, contrast and four 256-entry tone tables.
struct tagGRCINFO {
    uint32_t ulSize;
    uint8_t ucBrightness;
    uint8_t ucContrast;
    uint8_t ucGrayTable[256];
    uint8_t ucRedTable[256];
    uint8_t ucGreenTable[256];
    uint8_t ucBlueTable[256];
};
inline constexpr uint32_t kGRCInfoSize = sizeof(tagGRCINFO);
static_assert(offsetof(tagGRCINFO, ucBrightness) == 4 && offsetof(tagGRCINFO, ucContrast) == 5 &&
              offsetof(tagGRCINFO, ucGrayTable) == 6 && offsetof(tagGRCINFO, ucBlueTable) == 774 &&
              kGRCInfoSize == 1032);

// Edge emphasis.
struct tagEMPHASISEDGEINFO {
    uint32_t ulSize;
    uint32_t ulEmphasisLevel;
};
inline constexpr uint32_t kEmphasisEdgeInfoSize = sizeof(tagEMPHASISEDGEINFO);
static_assert(kEmphasisEdgeInfoSize == 8);

// Text orientation; nDeg is the result in degrees.
struct tagTEXTIMAGEDIRECTIONINFO {
    uint32_t ulSize;
    uint32_t tidlang; // 0: no language
    uint32_t tidcodepage;
    int32_t nDeg;
};
inline constexpr uint32_t kTextImageDirectionInfoSize = sizeof(tagTEXTIMAGEDIRECTIONINFO);
static_assert(kTextImageDirectionInfoSize == 16);

// Rotation by a multiple of 90 degrees.
struct tagROTATE90XINFO {
    uint32_t ulSize;
    int32_t lDegree;
};
inline constexpr uint32_t kRotate90xInfoSize = sizeof(tagROTATE90XINFO);
static_assert(kRotate90xInfoSize == 8);

// Binarisation.
struct tagGRAYTOBINARYINFO {
    uint32_t ulSize;
    uint32_t Method;
    uint32_t ulBrightness;
    uint32_t ulContrast;
    int32_t lThresholdTable; // 1: the second threshold table
};
inline constexpr uint32_t kGrayToBinaryInfoSize = sizeof(tagGRAYTOBINARYINFO);
static_assert(kGrayToBinaryInfoSize == 20);

// Blank-page test; bBlankPage is the result.
struct tagBLANKPAGEINFO {
    uint32_t ulSize;
    int32_t lBlankSkipSlice;
    uint8_t bBlankPage;
};
inline constexpr uint32_t kBlankPageInfoSize = sizeof(tagBLANKPAGEINFO);
static_assert(offsetof(tagBLANKPAGEINFO, bBlankPage) == 8 && kBlankPageInfoSize == 12);

// Binary noise filter.
struct tagEPUBFILTERINFO {
    uint32_t ulSize;
    uint32_t ulLevel;
};
inline constexpr uint32_t kEPubFilterInfoSize = sizeof(tagEPUBFILTERINFO);
static_assert(kEPubFilterInfoSize == 8);

// Deskew kind.
struct tagSKEWCORRECTIONINFO {
    uint32_t ulSize;
    uint32_t type;
};
inline constexpr uint32_t kSkewCorrectionInfoSize = sizeof(tagSKEWCORRECTIONINFO);
static_assert(kSkewCorrectionInfoSize == 8);

// Binary-image filter: bit 0 erases isolated dots, bit 1 runs the binary filter.
struct tagBINIPFILTERINFO {
    uint32_t ulSize;
    uint32_t type;
};
inline constexpr uint32_t kBinIPFilterInfoSize = sizeof(tagBINIPFILTERINFO);
static_assert(kBinIPFilterInfoSize == 8);

// Generic page-filter settings of one side (holds pointers: native layout).
// A null pointer or a clear flag switches its filter off. The size word tells
// how much of the record is present; fields beyond it count as absent.
struct tagNORMALFILTERINFO {
    uint32_t ulSize;
    uint8_t bReduceMoire;
    tagDETECTCOLORORGRAYINFO* pDetectColorOrGrayInfo;
    tagDROPOUTCOLORINFO* pDropOutColorInfo;
    tagEMPHASISCOLORINFO* pEmphasisColorInfo;
    tagERASEBACKPAGEINFO* pEraseBackPageInfo;
    tagGRCINFO* pGRCInfo;
    tagEMPHASISEDGEINFO* pEmphasisEdgeInfo;
    uint8_t bAutoSize;
    uint8_t bSkewCorrection;
    tagTEXTIMAGEDIRECTIONINFO* pTextImageDirectionInfo;
    tagROTATE90XINFO* pRotate90xInfo;
    tagGRAYTOBINARYINFO* pGrayToBinaryInfo;
    uint8_t bInverse;
    tagBLANKPAGEINFO* pBlankPageInfo;
    uint32_t bDetectResolution;
    uint32_t bColorSaturation;
    tagEPUBFILTERINFO* pEPubFilterInfo;
    tagSKEWCORRECTIONINFO* pSkewCorrectionInfo;
    void* pGRCFlagInfo; // only whether it is null is read
    tagBINIPFILTERINFO* pBinIPFilterInfo;
};
// The five accepted sizes, each named by the last field it reaches.
inline constexpr uint32_t kNormalFilterInfoSizeBlankPage =
    KD_SIZE_THROUGH(tagNORMALFILTERINFO, pBlankPageInfo);
inline constexpr uint32_t kNormalFilterInfoSizeColorSaturation =
    KD_SIZE_THROUGH(tagNORMALFILTERINFO, bColorSaturation);
inline constexpr uint32_t kNormalFilterInfoSizeEPubFilter =
    KD_SIZE_THROUGH(tagNORMALFILTERINFO, pEPubFilterInfo);
inline constexpr uint32_t kNormalFilterInfoSizeGRCFlag =
    KD_SIZE_THROUGH(tagNORMALFILTERINFO, pGRCFlagInfo);
inline constexpr uint32_t kNormalFilterInfoSizeBinIPFilter =
    KD_SIZE_THROUGH(tagNORMALFILTERINFO, pBinIPFilterInfo);
inline constexpr uint32_t kNormalFilterInfoSize = sizeof(tagNORMALFILTERINFO);
inline constexpr uint32_t kNormalFilterInfoSizes[5] = {
    kNormalFilterInfoSizeBlankPage, kNormalFilterInfoSizeColorSaturation,
    kNormalFilterInfoSizeEPubFilter, kNormalFilterInfoSizeGRCFlag,
    kNormalFilterInfoSizeBinIPFilter};
static_assert(kNormalFilterInfoSizeBlankPage < kNormalFilterInfoSizeColorSaturation &&
              kNormalFilterInfoSizeColorSaturation < kNormalFilterInfoSizeEPubFilter &&
              kNormalFilterInfoSizeEPubFilter < kNormalFilterInfoSizeGRCFlag &&
              kNormalFilterInfoSizeGRCFlag < kNormalFilterInfoSizeBinIPFilter &&
              kNormalFilterInfoSizeBinIPFilter == kNormalFilterInfoSize);
// True when size is one of the five accepted sizes.
constexpr bool IsNormalFilterInfoSize(uint32_t size) {
    for (uint32_t s : kNormalFilterInfoSizes)
        if (s == size) return true;
    return false;
}

// Settings of one call of the generic chain: the two image descriptions and
// one or two sides (holds pointers: native layout). The size word names the
// form: one side with one of the five side sizes, or two sides with both
// side records of that size and the folio flag.
struct tagNORMALFILTERSETINFO {
    uint32_t ulSize;
    tagIMAGEINFO imageIn;
    tagIMAGEINFO imageOut;
    tagNORMALFILTERINFO front;
    tagNORMALFILTERINFO back;
    uint8_t bFolio;
};
constexpr uint32_t NormalFilterSetInfoSimplexSize(uint32_t sideSize) {
    return static_cast<uint32_t>(offsetof(tagNORMALFILTERSETINFO, front)) + sideSize;
}
constexpr uint32_t NormalFilterSetInfoDuplexSize(uint32_t sideSize) {
    return static_cast<uint32_t>(offsetof(tagNORMALFILTERSETINFO, front)) + 2 * sideSize +
           static_cast<uint32_t>(sizeof(uint32_t));
}
inline constexpr uint32_t kNormalFilterSetInfoSimplexSizes[5] = {
    NormalFilterSetInfoSimplexSize(kNormalFilterInfoSizeBlankPage),
    NormalFilterSetInfoSimplexSize(kNormalFilterInfoSizeColorSaturation),
    NormalFilterSetInfoSimplexSize(kNormalFilterInfoSizeEPubFilter),
    NormalFilterSetInfoSimplexSize(kNormalFilterInfoSizeGRCFlag),
    NormalFilterSetInfoSimplexSize(kNormalFilterInfoSizeBinIPFilter)};
inline constexpr uint32_t kNormalFilterSetInfoDuplexSizes[5] = {
    NormalFilterSetInfoDuplexSize(kNormalFilterInfoSizeBlankPage),
    NormalFilterSetInfoDuplexSize(kNormalFilterInfoSizeColorSaturation),
    NormalFilterSetInfoDuplexSize(kNormalFilterInfoSizeEPubFilter),
    NormalFilterSetInfoDuplexSize(kNormalFilterInfoSizeGRCFlag),
    NormalFilterSetInfoDuplexSize(kNormalFilterInfoSizeBinIPFilter)};
// The largest one-side size stays below the smallest two-side size, so the
// ten sizes are distinct and tell the form apart.
static_assert(kNormalFilterSetInfoSimplexSizes[4] < kNormalFilterSetInfoDuplexSizes[0]);
static_assert(kNormalFilterSetInfoDuplexSizes[4] <= sizeof(tagNORMALFILTERSETINFO));

// ---------------------------------------------------------------------------
// Scanner-specific sub-records (pointed to from tagSPECIALFILTERINFO).

// Corner detection: parameters in, corners and rectangle out. Pointer-free;
// the size word tells which trailing fields are present.
struct tagKDPOINT {
    int32_t x;
    int32_t y;
};
struct tagKDSIZE {
    int32_t cx;
    int32_t cy;
};
// Rectangle in the order left, top, right, bottom (right and bottom exclusive).
struct tagKDRECT {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};
struct tagDETECT4POINTSINFO {
    uint32_t ulSize;
    tagKDPOINT LeftTop;
    tagKDPOINT RightTop;
    tagKDPOINT LeftBottom;
    tagKDPOINT RightBottom;
    tagKDRECT rectDoc;
    tagKDPOINT vectorSlant;
    tagKDSIZE Size;
    int32_t lTopMargin;
    int32_t lBottomMargin;
    int32_t lLeftMargin;
    int32_t lRightMargin;
    int32_t lTopTrim;
    int32_t lBottomTrim;
    int32_t lLeftTrim;
    int32_t lRightTrim;
    uint32_t ulDirectionCode; // 7: the page passed turned by 180 degrees, 1: it did not
    uint8_t bCarrierSheetMode;
};
inline constexpr uint32_t kDetect4PointsInfoMinSize =
    KD_SIZE_THROUGH(tagDETECT4POINTSINFO, lRightMargin);
inline constexpr uint32_t kDetect4PointsInfoTrimSize =
    KD_SIZE_THROUGH(tagDETECT4POINTSINFO, lRightTrim);
inline constexpr uint32_t kDetect4PointsInfoDirectionSize =
    KD_SIZE_THROUGH(tagDETECT4POINTSINFO, ulDirectionCode);
inline constexpr uint32_t kDetect4PointsInfoSize = sizeof(tagDETECT4POINTSINFO);
static_assert(offsetof(tagDETECT4POINTSINFO, rectDoc) == 36 &&
              offsetof(tagDETECT4POINTSINFO, vectorSlant) == 52 &&
              offsetof(tagDETECT4POINTSINFO, Size) == 60 &&
              offsetof(tagDETECT4POINTSINFO, lTopMargin) == 68 &&
              offsetof(tagDETECT4POINTSINFO, bCarrierSheetMode) == 104);
static_assert(kDetect4PointsInfoMinSize == 84 && kDetect4PointsInfoTrimSize == 100 &&
              kDetect4PointsInfoDirectionSize == 104 && kDetect4PointsInfoSize == 108);

// Scanning direction of a page.
struct tagFEEDINGDIRECTIONINFO {
    uint32_t ulSize;
    uint32_t ulDirection; // degrees; 180: the page passed the sensor turned
    int32_t lLength;
    int32_t lTopMargin;
    int32_t lBottomMargin;
};
inline constexpr uint32_t kFeedingDirectionInfoSize = sizeof(tagFEEDINGDIRECTIONINFO);
static_assert(kFeedingDirectionInfoSize == 20);

// Feed-shadow removal.
struct tagRMVSHADOWINFO {
    uint32_t ulSize;
    int32_t lLength;
    int32_t lScannerTopMargin;
    int32_t lScannerBottomMargin;
};
inline constexpr uint32_t kRmvShadowInfoSize = sizeof(tagRMVSHADOWINFO);
static_assert(kRmvShadowInfoSize == 16);

// sRGB conversion: Type 0 and 1 take the built-in matrix, 2 the record's own
// (rows for output R, G, B; columns for input R, G, B; unit 1024).
struct tagSRGBCONVERSIONINFO {
    uint32_t ulSize;
    uint32_t Type;
    int32_t Matrix[3][3];
};
inline constexpr uint32_t kSRGBConversionInfoSize = sizeof(tagSRGBCONVERSIONINFO);
static_assert(offsetof(tagSRGBCONVERSIONINFO, Matrix) == 8 && kSRGBConversionInfoSize == 44);

// Scanner settings of one side (holds pointers: native layout). A null
// pointer switches its stage off.
// Shading data of one side: the white and the black shading line, each one
// line high, 16-bit, in the layout of the scan. Copying deep-copies both
// images (holds images: native layout).
struct tagSHADINGINFO {
    uint32_t ulSize = 0;
    CImg white;
    CImg black;
};
inline constexpr uint32_t kShadingInfoSize = sizeof(tagSHADINGINFO);

struct tagSPECIALFILTERINFO {
    uint32_t ulSize;
    tagSHADINGINFO* pShadingInfo;
    tagSRGBCONVERSIONINFO* pSRGBConversionInfo;
    tagDETECT4POINTSINFO* pDetect4PointsInfo;
    tagFEEDINGDIRECTIONINFO* pFeedingDirectionInfo;
    tagRMVSHADOWINFO* pRemoveShadowInfo;
    uint8_t bCardScan; // needs pDetect4PointsInfo and pFeedingDirectionInfo
    uint32_t bColorGapCorrect;
};
inline constexpr uint32_t kSpecialFilterInfoSize = sizeof(tagSPECIALFILTERINFO);

// Filter record of a one-sided page (holds pointers: native layout).
struct tagFILTERSIMPLEXINFO {
    uint32_t ulSize;
    tagIMAGEINFO imageIn;  // the raw scan as the scanner delivers it
    tagIMAGEINFO imageOut; // the page wanted
    tagNORMALFILTERINFO normal;
    tagSPECIALFILTERINFO special;
};
inline constexpr uint32_t kFilterSimplexInfoSize = sizeof(tagFILTERSIMPLEXINFO);

// Filter record of a two-sided sheet (holds pointers: native layout).
struct tagFILTERDUPLEXINFO {
    uint32_t ulSize;
    tagIMAGEINFO imageIn;
    tagIMAGEINFO imageOut;
    tagNORMALFILTERINFO normalFront;
    tagNORMALFILTERINFO normalBack;
    uint32_t bFolio; // low byte non-zero: join both sides side by side
    tagSPECIALFILTERINFO specialFront;
    tagSPECIALFILTERINFO specialBack;
};
inline constexpr uint32_t kFilterDuplexInfoSize = sizeof(tagFILTERDUPLEXINFO);
// The library tells the two filter records apart by their size alone.
static_assert(kFilterSimplexInfoSize != kFilterDuplexInfoSize);

// Light-calibration register set of one side (fixed 20-byte layout).
struct tagADJUSTREGISTERS {
    uint8_t Gain[3];
    uint8_t Reserved1;
    uint8_t Offset[3];
    uint8_t Reserved2;
    uint16_t RedLED;
    uint16_t GreenLED;
    uint16_t BlueLED;
    uint16_t Reserved3;
    uint16_t Reserved4;
    uint16_t Reserved5;
};
static_assert(sizeof(tagADJUSTREGISTERS) == 20 && offsetof(tagADJUSTREGISTERS, RedLED) == 8);

// Light calibration, exchanged both ways; the library writes the register
// values back. Pointer-free, fixed layout.
struct tagADJUSTINFO {
    uint32_t ulHead; // filled by the data source, not read by the library
    uint32_t bDuplex;
    uint32_t lXResolution;
    uint32_t ScanMode;
    uint32_t FrontLightSorce;
    uint32_t BackLightSorce;
    tagADJUSTREGISTERS FrontAdjustInfo;
    tagADJUSTREGISTERS BackAdjustInfo;
    uint16_t ScanInfo; // what the data source scans next
    uint8_t bDone;     // set by the step that ends the calibration
};
inline constexpr uint32_t kAdjustInfoSize = sizeof(tagADJUSTINFO);
static_assert(offsetof(tagADJUSTINFO, FrontAdjustInfo) == 24 &&
              offsetof(tagADJUSTINFO, BackAdjustInfo) == 44 &&
              offsetof(tagADJUSTINFO, ScanInfo) == 64 && offsetof(tagADJUSTINFO, bDone) == 66);

} // namespace Imvra
} // namespace Tvk
