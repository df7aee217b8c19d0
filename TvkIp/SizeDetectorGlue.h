// Shared steps of the entries that run the size detectors: the detectors'
// image sets, and the labelling and storing of their results.
#pragma once

#include "DetectSlantAndSizeEx.h"
#include "ImgDetect.h"

#include <cstdint>

// The detectors' description of an image (an empty one for null).
inline CImg::tagIMGSET ImageSetOf(const tagTVKIMAGEINFO* image) {
    CImg::tagIMGSET set{};
    Convert_TVKIMAGEINFOtoIMGSET(image, &set);
    return set;
}

// The description a detector is set up with: the page's size and layout,
// with or without pixels (set-up reads none).
inline CImg::tagIMGSET DescriptionSetOf(const tagTVKIMAGEINFO* image) {
    CImg::tagIMGSET set{};
    Convert_TVKIMAGEINFOtoIMGSET(image, &set, true);
    return set;
}

// A duplex detector's failure as the detection interface reports it: a
// negative code of facility 7 travels as its low half, any other negative
// code was a memory failure; non-negative codes pass unchanged.
inline uint32_t DuplexFailureCode(uint32_t rc) {
    if (static_cast<int32_t>(rc) >= 0) return rc;
    return ((rc >> 16) & 0x1FFF) == 7 ? (rc & 0xFFFF) : uint32_t{kDssNoMemory};
}

struct tagLABELLEDCORNERS {
    Tvk::tagPOINT leftTop;
    Tvk::tagPOINT rightTop;
    Tvk::tagPOINT leftBottom;
    Tvk::tagPOINT rightBottom;
};

// Whether a slant is steeper than the diagonal once the pixels are made
// square (x scaled by ydpi / xdpi); a page without x resolution is square.
inline bool SteeperThanDiagonal(Tvk::tagPOINT slant, int64_t xdpi, int64_t ydpi) {
    const int64_t sx = xdpi != 0 ? ydpi * slant.x / xdpi : slant.x;
    return sx < slant.y;
}

// A size detector's corners (left-bottom, right-bottom, right-top, left-top
// of an upright sheet) under the requests' labels; a sheet turned by more
// than its diagonal names them one place on.
inline tagLABELLEDCORNERS SizeDetectorCorners(const Tvk::tagPOINT (&corner)[4], bool steep) {
    if (steep) return {corner[0], corner[3], corner[1], corner[2]};
    return {corner[3], corner[2], corner[0], corner[1]};
}

// The parts of a result block that the result flags ask for.
inline void StoreResultBlock(tagDETECTRESULTBLOCK& out, uint32_t flags, Tvk::tagPOINT rectXY,
                             Tvk::tagPOINT rectSize, const tagLABELLEDCORNERS& corners,
                             Tvk::tagPOINT slant) {
    if ((flags & kDssResultRect) != 0) {
        out.rectXY = rectXY;
        out.rectSize = rectSize;
    }
    if ((flags & kDssResultCorners) != 0) {
        out.leftTop = corners.leftTop;
        out.rightTop = corners.rightTop;
        out.leftBottom = corners.leftBottom;
        out.rightBottom = corners.rightBottom;
    }
    if ((flags & kDssResultSlant) != 0) out.slantVector = slant;
}
