// Edge emphasis: sharpening and smoothing of 8-bit gray and 24-bit colour
// images, band by band, through a size-prefixed request record.
#pragma once

#include "CImgInf.h"

#include <cstddef>
#include <cstdint>

// Edge-emphasis request. The size selects the variant: the short form (size,
// filter number, line count) drives the older object-less filter; from the
// handle on, the record carries its own filter object; with the level-table
// parameters a parameterised member can be chosen.
struct tagEDGEINFO {
    uint32_t ulSize;     // record size in bytes, see the kEdgeInfoSize... constants
    uint32_t ulFilterNo; // member of the family; meaning depends on the kind
    int32_t lLineCount;  // progress: 0 when an image starts; written back by the band calls
    // Before the object exists: 0, or the image kind (kEdgeKind...). After
    // CreateEdgeFuncHandle: the filter object. 0 again after release.
    uintptr_t hEdge;
    uint8_t bParam;  // non-zero selects the parameterised member (parameter form only)
    int32_t lHighTh; // |response| above this: response * lHighMul / lHighDiv
    int32_t lHighMul;
    int32_t lHighDiv; // 0 (here or in lLowDiv) selects the defaults
    int32_t lLowTh;   // |response| above this (and not above lHighTh): * lLowMul / lLowDiv
    int32_t lLowMul;
    int32_t lLowDiv;
};
// Object-less older filter: exactly this size.
inline constexpr uint32_t kEdgeInfoSizeOld = offsetof(tagEDGEINFO, lLineCount) + sizeof(int32_t);
// Filter object in the handle word: at least this size.
inline constexpr uint32_t kEdgeInfoSizeHandle = offsetof(tagEDGEINFO, hEdge) + sizeof(uintptr_t);
// Parameter flag and level-table parameters present: at least this size.
inline constexpr uint32_t kEdgeInfoSizeParam = offsetof(tagEDGEINFO, lLowDiv) + sizeof(int32_t);
static_assert(kEdgeInfoSizeOld < kEdgeInfoSizeHandle && kEdgeInfoSizeHandle < kEdgeInfoSizeParam);
static_assert(kEdgeInfoSizeParam <= sizeof(tagEDGEINFO));

// Image kinds the handle word holds before the object is made.
inline constexpr uintptr_t kEdgeKindGray0 = 0;
inline constexpr uintptr_t kEdgeKindGray = 1;
inline constexpr uintptr_t kEdgeKindColorPlanes = 3; // line-sequential planes
inline constexpr uintptr_t kEdgeKindColorRGB = 5;    // interleaved samples

extern "C" {
// Makes the filter object for the record's kind (the handle word) and filter
// number, stores it in the handle word and returns it; 0 when there is no such
// member or memory ran out. A handle word holding neither 0, 1, 3 nor 5 (an
// existing object among them) is returned unchanged. Leaves the last error alone.
IMVRA_EXPORT uintptr_t CreateEdgeFuncHandle(tagEDGEINFO* info);
// Band calls: first, middle and last band of an image (destination first).
// 0 done, -1 refused; the last error holds 8 when memory ran out.
IMVRA_EXPORT int32_t EdgeFuncStartEx(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagEDGEINFO* info);
IMVRA_EXPORT int32_t EdgeFuncContEx(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagEDGEINFO* info);
// src may be null (or have no lines) when the last band brings no new lines.
IMVRA_EXPORT int32_t EdgeFuncFinishEx(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src,
                                      tagEDGEINFO* info);
// The whole image in one call.
IMVRA_EXPORT int32_t EdgeFuncEx(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagEDGEINFO* info);
// Deletes the object of an abandoned image and clears the handle word.
IMVRA_EXPORT void ReleaseEdgeFuncHandle(tagEDGEINFO* info);
// True when the record asks for the parameterised member.
IMVRA_EXPORT bool UseParameter(tagEDGEINFO* info);
}
