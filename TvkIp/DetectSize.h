// Result record shared by the page size detectors: where the sheet lies in
// the scanned image, in pixels (x) and lines (y) of that image.
#pragma once

#include "TvkTypes.h"

#include <cstddef>
#include <cstdint>

// Corners are those of an upright sheet in this order; y grows with the line
// number, so "bottom" is the larger line.
enum : int {
    kCornerLeftBottom = 0,
    kCornerRightBottom = 1,
    kCornerRightTop = 2,
    kCornerLeftTop = 3,
};

struct tagDETECTSIZEINFO {
    uint32_t ulSize;         // sizeof(tagDETECTSIZEINFO); other sizes are refused
    Tvk::tagPOINT corner[4]; // left-bottom, right-bottom, right-top, left-top
    Tvk::tagPOINT slant;     // direction of the sheet's top edge; (1, 0) upright
    Tvk::tagRECT rect;       // left, bottom (largest line), right, top
};
inline constexpr uint32_t kDetectSizeInfoSize = sizeof(tagDETECTSIZEINFO);
static_assert(kDetectSizeInfoSize == 60, "a result record is fifteen 32-bit words");
static_assert(offsetof(tagDETECTSIZEINFO, slant) == 36);
static_assert(offsetof(tagDETECTSIZEINFO, rect) == 44);
