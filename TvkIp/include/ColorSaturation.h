// Background detection and repaint: finds the background colour inside the
// document's outline and paints every background pixel with one colour,
// keeping text and edges.
#pragma once

#include "CImgInf.h"

#include <cstdint>

// Commands.
inline constexpr int32_t kColorSaturationCreate = 0;
inline constexpr int32_t kColorSaturationDetect = 1;
inline constexpr int32_t kColorSaturationPaint = 2;
inline constexpr int32_t kColorSaturationRelease = 3;
inline constexpr int32_t kColorSaturationOneShot = 4;

// Paint modes.
inline constexpr int32_t kPaintDetectedColor = 0;
inline constexpr int32_t kPaintWhiteOrBlack = 1;
inline constexpr int32_t kPaintGivenColor = 2;

inline constexpr uint32_t kNoBackgroundColor = 0xFFFFFFFFu;

struct tagCOLOR_SATURATION_INFO {
    uint32_t ulSize;
    int32_t lCommand;
    void* pColorSaturation; // worker between commands
    int32_t lReserved;      // -1 means 40
    int32_t lEdgeThreshold; // per channel; -1 means 12
    Tvk::tagPOINT ptLeftTop;
    Tvk::tagPOINT ptRightTop;
    Tvk::tagPOINT ptLeftBottom;
    Tvk::tagPOINT ptRightBottom; // (0, 0): no outline, the whole page
    int32_t lPaintMode;
    uint32_t ulPaintColor;      // R low byte, then G, then B
    uint32_t ulBackgroundColor; // out; kNoBackgroundColor when none was found
};
inline constexpr uint32_t kColorSaturationInfoSize = sizeof(tagCOLOR_SATURATION_INFO);

extern "C" {
// 0; 8 no memory for the worker; 13 bad request, command order or page;
// 14 the masks could not be built.
IMVRA_EXPORT int32_t ColorSaturation(tagTVKIMAGEINFO* page, tagCOLOR_SATURATION_INFO* request);
}
