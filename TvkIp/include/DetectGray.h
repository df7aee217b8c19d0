// Colour mode detection (colour, gray or black-and-white per page) and the
// gray-versus-monochrome test.
#pragma once

#include "CImgInf.h"
#include "DetectColor.h"

#include <cstddef>
#include <cstdint>

// Result masks of DetectColorMode.
inline constexpr uint32_t kColorModeColor = 0x800000;
inline constexpr uint32_t kColorModeGray = 0x80;
inline constexpr uint32_t kColorModeMono = 0x1;

struct tagDETECTGRAYINFO {
    uint32_t ulSize;
    uint32_t bGray;     // out: 1 gray, 0 monochrome
    int32_t lGrayCount; // out: gray pixel count, -1 for a page without content
    uint32_t ulReserved1;
    int32_t lWidth;
    int32_t lHeight;
    int32_t lXResolution;
    int32_t lYResolution;
    uint8_t btBlackLevel;
    uint8_t btPadding1[3];
    int32_t lIntensity; // 1..7, any other value means 2
    uint8_t btWhiteLevel;
    uint8_t btGrayBound1;
    uint8_t btGrayBound2;
    uint8_t btPadding2;
    uint32_t ulReserved2;
    int32_t lAreaLength; // read with a size of at least kDetectGrayInfoSizeArea
    int32_t lAreaOffset;
    int32_t lLeftMargin; // read with the full size
    int32_t lRightMargin;
};

inline constexpr uint32_t kDetectGrayInfoSizeMin = offsetof(tagDETECTGRAYINFO, btGrayBound2) + 1;
inline constexpr uint32_t kDetectGrayInfoSizeArea = offsetof(tagDETECTGRAYINFO, lLeftMargin);
inline constexpr uint32_t kDetectGrayInfoSizeFull = sizeof(tagDETECTGRAYINFO);
static_assert(kDetectGrayInfoSizeMin < kDetectGrayInfoSizeArea &&
              kDetectGrayInfoSizeArea < kDetectGrayInfoSizeFull);

struct tagDETECTCOLORMODEINFO {
    uint32_t ulSize;
    uint32_t ulMode;   // allowed results: kColorModeColor | kColorModeGray | kColorModeMono
    uint32_t ulResult; // out: exactly one bit on success
    tagDETECT_COLOR_INFO* pColorInfo;
    tagDETECTGRAYINFO* pGrayInfo;
};
inline constexpr uint32_t kDetectColorModeInfoSize = sizeof(tagDETECTCOLORMODEINFO);

extern "C" {
// 0 with ulResult set; 0x80000003 for bad arguments; otherwise the code of
// the failed sub-test.
IMVRA_EXPORT uint32_t DetectColorMode(tagTVKIMAGEINFO* page, tagDETECTCOLORMODEINFO* request);
// 0 with bGray and lGrayCount set; 0x80000003 bad arguments, 0x80000002 no memory.
IMVRA_EXPORT uint32_t IsGrayImage(tagTVKIMAGEINFO* page, tagDETECTGRAYINFO* request);
}
