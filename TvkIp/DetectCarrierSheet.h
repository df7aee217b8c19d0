// Carrier-sheet geometry and image steps: the black-belt test, the cut-out
// of a side along the sleeve, and the mapping of results found on the
// cut-outs back into the scanned images.
#pragma once

#include "CImgInf.h"
#include "RotateImage.h"
#include "TvkTypes.h"

#include <cstdint>

namespace CARRIERSHEET_FUNCSPACE {

inline constexpr int32_t kBeltFound = 0;
inline constexpr int32_t kBeltMissing = 1;
inline constexpr int32_t kBeltBadRequest = 87;

// What the black-belt test reads of a carrier-sheet type.
struct tagBELTPARAM {
    uint8_t th[3];     // a sample is dark when every channel is below its level
    int32_t lenBelt;   // micrometres
    int32_t lenIgnore; // micrometres
    uint32_t thBlack;  // share of dark samples, 1/65536
};

// Whether the sleeve's dark belt runs along the top edge from left-top to
// right-top: kBeltFound, kBeltMissing, or kBeltBadRequest for a missing image
// or parameter record. The front moves up by a negative duplex offset, the
// back down by a positive one.
int32_t DetectBlackBelt(const tagTVKIMAGEINFO* image, Tvk::tagPOINT leftTop, Tvk::tagPOINT rightTop,
                        Tvk::tagPOINT slant, const tagBELTPARAM* param, bool front,
                        int32_t duplexOffset);

// A vector of `lengthUm` along a slant given at the resolutions rx, ry.
Tvk::tagPOINT BuildSlant(Tvk::tagPOINT p, int32_t rx, int32_t ry, int32_t lengthUm);

// A box by its edges.
struct tagEDGEBOX {
    int32_t left, top, right, bottom;
};

// Four corners: left-top, right-top, left-bottom, right-bottom.
struct tagFOURPOINT {
    Tvk::tagPOINT leftTop, rightTop, leftBottom, rightBottom;
};
// Turns the corners by a slant vector (a, b) (nothing when a or b is 0) and
// relabels them (CheckFourPoint).
void RotateFourPoint(tagFOURPOINT& pts, Tvk::tagPOINT vec);
void CheckFourPoint(tagFOURPOINT& pts);

// Crossing of two segments (64-bit arithmetic); parallel ones do not cross.
bool is_cross_line(Tvk::tagPOINT a1, Tvk::tagPOINT a2, Tvk::tagPOINT b1, Tvk::tagPOINT b2,
                   Tvk::tagPOINT* at);
// Bounding box (left, top, right, bottom) of n points.
tagEDGEBOX get_rect_from_points(const Tvk::tagPOINT* pts, int n);
// Bounding box of the overlap of a turned rectangle and a quadrilateral,
// both given as four points in order around; the rectangle's box when they
// do not overlap.
tagEDGEBOX compare_rect_and_four_point(const Tvk::tagPOINT rect[4], const Tvk::tagPOINT quad[4]);

// Corners found on a cut-out back in the scanned image: turned by the
// side's kept slant, shifted by the cut-out's top-left corner, scaled from
// the lower of the two resolutions.
void calc_four_point_core_for_carrieer_sheet(tagFOURPOINT& pts, Tvk::tagPOINT keep,
                                             Tvk::tagPOINT origin, int32_t xdpi, int32_t ydpi);
// The rectangle (left, top, right, bottom) found on a cut-out back in the
// scanned image, limited to the found corners.
tagEDGEBOX calc_rect_core_for_carrier_sheet(const tagEDGEBOX& rect, const tagFOURPOINT& pts,
                                            Tvk::tagPOINT keep, Tvk::tagPOINT origin, int32_t xdpi,
                                            int32_t ydpi);

// An 8-bit image of the green samples of a colour image (a gray image is
// copied). The buffer comes from new[]; false when it cannot be had.
bool GreenToGray(tagTVKIMAGEINFO& out, const tagTVKIMAGEINFO& src);
// Area-averaged resampling of an 8-bit image to the lower of its two
// resolutions, with the rotation request's x or y values scaled to match.
// 0, or kIpErrCannotRun when memory runs out. The buffer comes from new[].
uint32_t ResampleToLowerResolution(tagTVKIMAGEINFO& out, const tagTVKIMAGEINFO& src,
                                   tagROTATEINFO& rot);

} // namespace CARRIERSHEET_FUNCSPACE
