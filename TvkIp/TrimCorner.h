// Corner trimming: pulls the four corners a size detector found inward along
// the sheet's own axes, so that a crop does not keep the dark border line.
// Both forms restore the points when the moved corners no longer form a
// proper quadrilateral.
#pragma once

#include "DetectSize.h"
#include "TvkTypes.h"

#include <cstdint>

// Trims: index 0 and 3 along the sheet's vertical axis (lines), 1 and 2 along
// its horizontal axis (pixels). Points p0..p3 are in and out.

// Short form: trims and points in pixels.
void TrimFourPoint(Tvk::tagPOINT pt[4], const int32_t trim[4], Tvk::tagPOINT slant);
// Long form: the move is made in micrometres so that the slant is measured in
// square units; div and mul are the horizontal and vertical resolutions. A
// zero resolution leaves the points alone.
void TrimFourPoint(Tvk::tagPOINT pt[4], const int32_t trim[4], Tvk::tagPOINT slant, int32_t div,
                   int32_t mul);

// Whether trimming is needed at all: a slant other than (0, 0), or a corner
// of the rectangle (left, bottom, right, top) that is none of the points.
bool NeedTrimFourPoint_BlackBack(const Tvk::tagRECT& rect, Tvk::tagPOINT slant,
                                 const Tvk::tagPOINT pt[4]);
// The same test on a simplex and on a duplex size detector's result.
bool NeedTrimFourPoint(const tagDETECTSIZEINFO& info);
bool NeedTrimFourPointD(const tagDETECTSIZEINFO& info);

// Integer length of a vector: square root of a² + b², truncated.
int32_t TrimVectorLength(int64_t a, int64_t b);
