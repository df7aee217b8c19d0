// Whole-page stages of the page's assembly: conversion between the two
// sample orders of a colour page, and the crop to the detected document
// rectangle.
#pragma once

#include "IPBase.h"

#include <cstdint>

namespace Tvk::Imvra {

// Settings of the order conversion: one word, the target order (0 pixel
// order, 1 line order, 3 and above: only test for a JPEG stream).
struct tagMAKEPAGEINFO {
    int32_t lTarget;
};

// Converts a finished page between pixel order and line order in place.
// Whole pages only.
class CMakePage : public CIPBase {
public:
    const char* getName() const override { return "MakePage"; }
    int IP(CImg& img) override { return MakePage(img); }
    int IPFirst(CImg&) override { return RTN_UNSUPPORTED; }
    int IPMiddle(CImg&) override { return RTN_UNSUPPORTED; }
    int IPLast(CImg&) override { return RTN_UNSUPPORTED; }
    // RTN_PAR without a record; else takes its first word.
    int setInfo(CImg& img, void* info) override;
    int setInfoFirst(CImg& img, void* info) override { return setInfo(img, info); }
    int setInfoMiddle(CImg& img, void* info) override { return setInfo(img, info); }
    int setInfoLast(CImg& img, void* info) override { return setInfo(img, info); }

    static int toPixelOrder(CImg& img);
    static int toLineOrder(CImg& img);
    // RTN_UNSUPPORTED while the page is not a JPEG stream; nothing converted.
    static int toJpegOrder(CImg& img);

private:
    int MakePage(CImg& img);

    int32_t m_target = 0;
};

// Settings of the crop (pointer-free, fixed layout), in pixels of the page.
struct tagAUTOSIZEINFO {
    uint32_t ulSize;
    int32_t lX;
    int32_t lY;
    int32_t lWidth;
    int32_t lHeight;
};
inline constexpr uint32_t kAutoSizeInfoSize = sizeof(tagAUTOSIZEINFO);
static_assert(kAutoSizeInfoSize == 20);

// Crops a whole page to a rectangle (the detected document rectangle), cut
// at the page's edges.
class CAutoSize : public CIPBase {
public:
    const char* getName() const override { return "AutoSize"; }
    int IP(CImg& img) override { return AutoSize(img); }
    int IPFirst(CImg&) override { return RTN_UNSUPPORTED; }
    int IPMiddle(CImg&) override { return RTN_UNSUPPORTED; }
    int IPLast(CImg&) override { return RTN_UNSUPPORTED; }
    // No record: the previous rectangle stays (RTN_OK); a 1-bit page:
    // RTN_UNSUPPORTED; else the rectangle is taken.
    int setInfo(CImg& img, void* info) override;
    int setInfoFirst(CImg& img, void* info) override { return setInfo(img, info); }
    int setInfoMiddle(CImg& img, void* info) override { return setInfo(img, info); }
    int setInfoLast(CImg& img, void* info) override { return setInfo(img, info); }

    // The rectangle as the engine makes it from a side's document rectangle.
    static tagAUTOSIZEINFO FromRect(const tagKDRECT& rect);

private:
    int AutoSize(CImg& img);

    tagAUTOSIZEINFO m_info{kAutoSizeInfoSize, 0, 0, 0, 0};
};

} // namespace Tvk::Imvra
