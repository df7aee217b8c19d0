// Removal of a shadow band that lies across a page near a known row.
#pragma once

#include "CImgInf.h"

#include <cstddef>
#include <cstdint>

struct tagREMOVE_SHADOW_INFO {
    uint32_t ulSize;
    uint32_t ulReserved;
    int32_t lShadowLength;   // micrometres; below 1 means 850
    int32_t lDocumentMargin; // micrometres; below 1 means 500
    int32_t lLevel;          // brightness step per sample; below 1 means 15
    int32_t bFront;          // non-zero: front side, searched from the top
    int32_t lPosition;       // row near which the shadow is expected
    int32_t lPositionMargin; // micrometres; below 1 (or not given) means 2000
};

inline constexpr uint32_t kRemoveShadowInfoSizeMin = sizeof(uint32_t);
// The position margin is read only from records that reach it.
inline constexpr uint32_t kRemoveShadowInfoSizeMargin =
    offsetof(tagREMOVE_SHADOW_INFO, lPositionMargin) + sizeof(int32_t);
static_assert(kRemoveShadowInfoSizeMin < kRemoveShadowInfoSizeMargin);

extern "C" {
// 0 when done or when there was nothing to do; 0x80000003 for a missing
// image or a short request; 0x80000002 when memory runs out. The image
// (8-bit gray or RGB) is changed in place.
IMVRA_EXPORT uint32_t RemoveShadow(tagTVKIMAGEINFO* image, tagREMOVE_SHADOW_INFO* request);
}
