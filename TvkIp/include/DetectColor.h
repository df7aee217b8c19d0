// Colour test of an RGB page: reduces the page to a coarse copy by area
// averaging, optionally cleans colour fringes on the way, and counts the
// lines of the copy that hold enough colour.
#pragma once

#include "CImgInf.h"

#include <cstddef>
#include <cstdint>

// Commands of IsColorImage.
inline constexpr int32_t kDetectColorCreate = 0;
inline constexpr int32_t kDetectColorBand = 1;
inline constexpr int32_t kDetectColorNextBand = 2;
inline constexpr int32_t kDetectColorEnd = 3;
inline constexpr int32_t kDetectColorRelease = 4;
inline constexpr int32_t kDetectColorWholePage = 5;

// Options (ulOptions).
inline constexpr uint32_t kDetectColorOptFringeFilter = 0x1;
inline constexpr uint32_t kDetectColorOptComplementary = 0x4; // also the halftone filter
inline constexpr uint32_t kDetectColorOptArea = 0x10;
inline constexpr uint32_t kDetectColorOptCoarse = 0x10000000;

// Result codes of IsColorImage.
inline constexpr int32_t kDetectColorErrNoRequest = -1;
inline constexpr int32_t kDetectColorErrNoMemory = -2;
inline constexpr int32_t kDetectColorErrBadArgument = -4;
inline constexpr int32_t kDetectColorErrNoReducer = -7;

struct tagDETECT_COLOR_INFO {
    uint32_t ulSize;
    uint32_t bColor;         // out: 1 when the page is colour
    int32_t lColorLineCount; // out: counted colour lines
    void* pDetectColor;      // worker between calls
    int32_t lCommand;
    int32_t lWidth;
    int32_t lHeight;
    int32_t lXResolution;
    int32_t lYResolution;
    int32_t lThresholdMode; // 0 defaults, 1 explicit, 2 built-in table, 3 own table
    int32_t lLinesPerCount;
    int32_t lPixelsPerRun;
    int32_t lRunsPerLine;
    uint8_t btThreshold[256]; // chroma threshold by the largest channel
    uint32_t ulReserved1;
    int32_t lSensitivity;
    int32_t lIntensity;
    // Read only with a size of at least kDetectColorInfoSizeOptions.
    uint32_t ulOptions;
    int32_t lFilterHalfWindow;
    uint8_t btDarkLevel;
    uint8_t btPadding[3];
    uint32_t ulFillColor; // R low byte, then G, then B
    int32_t lReducedXResolution;
    int32_t lReducedYResolution;
    // Read only with the full size.
    uint32_t ulReserved2;
    int32_t lAreaLength;
    int32_t lAreaOffset;
};

// The accepted record sizes.
inline constexpr uint32_t kDetectColorInfoSizeMinimal = sizeof(uint32_t);
inline constexpr uint32_t kDetectColorInfoSizeBasic = offsetof(tagDETECT_COLOR_INFO, ulOptions);
inline constexpr uint32_t kDetectColorInfoSizeOptions = offsetof(tagDETECT_COLOR_INFO, ulReserved2);
inline constexpr uint32_t kDetectColorInfoSizeFull = sizeof(tagDETECT_COLOR_INFO);
static_assert(kDetectColorInfoSizeMinimal < kDetectColorInfoSizeBasic &&
              kDetectColorInfoSizeBasic < kDetectColorInfoSizeOptions &&
              kDetectColorInfoSizeOptions < kDetectColorInfoSizeFull);

extern "C" {
// 0, or a negative code above. The page must be 8-bit RGB, pixel-interleaved.
IMVRA_EXPORT int32_t IsColorImage(tagTVKIMAGEINFO* page, tagDETECT_COLOR_INFO* request);
// Cleans colour fringes of a whole RGB page in place: 0, -1 for a missing or
// unusable page, -2 when memory runs out.
IMVRA_EXPORT int32_t ReviseColorGap(tagTVKIMAGEINFO* page);
}
