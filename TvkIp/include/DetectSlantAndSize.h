// Single-image slant and size entries: the edge-profile size detector driven
// band by band through a phase word, and a whole-page detector that finds the
// four paper edges as straight lines.
#pragma once

#include "CImgInf.h"
#include "Img.h"
#include "TvkTypes.h"

#include <cstddef>
#include <cstdint>

class CDetectSize;

// Phases of the band-wise entries.
enum : int32_t {
    kSlantSizeInit = 0,
    kSlantSizeFirst = 1,
    kSlantSizeMid = 2,
    kSlantSizeLast = 3,
    kSlantSizeRelease = 4,
    kSlantSizeResult = 5,
};

// Request of DetectSlantAndSize.
struct tagSLANTSIZEINFO {
    uint32_t size;          // kSlantSizeInfoSize
    CDetectSize* pDetector; // made by phase 0, owned through this word
    int32_t lPhase;
    Tvk::tagPOINT leftTop;
    Tvk::tagPOINT rightTop;
    Tvk::tagPOINT leftBottom;
    Tvk::tagPOINT rightBottom;
    int32_t lLeft, lTop, lRight, lBottom;
    Tvk::tagPOINT slant;
    int32_t lOption[4]; // the size detector's option words 1 to 4 (two reference points)
    int32_t lParam[6];  // result: option words 5, 6, 8, 7, 9, 10 in this order
};
inline constexpr uint32_t kSlantSizeInfoSize = sizeof(tagSLANTSIZEINFO);

// Request of DetectSlantAndSize2 and DetectSlantAndSize3.
struct tagSLANTSIZEINFO2 {
    uint32_t size; // kSlantSizeInfo2Size
    CDetectSize* pDetector;
    int32_t lPhase;
    Tvk::tagPOINT leftTop;
    Tvk::tagPOINT rightTop;
    Tvk::tagPOINT leftBottom;
    Tvk::tagPOINT rightBottom;
    int32_t lLeft, lTop, lRight, lBottom;
    Tvk::tagPOINT slant;
    int32_t lOption[4]; // option words 1 to 4
    // Option words 5 to 10 at the result; words 7 to 14 (from lParam[2]) at
    // the initialisation.
    int32_t lParam[10];
    int32_t lNoSkipFlatBands; // non-zero: flat bands are not skipped
    int32_t lReserved[3];
};
inline constexpr uint32_t kSlantSizeInfo2Size = sizeof(tagSLANTSIZEINFO2);
static_assert(kSlantSizeInfoSize != kSlantSizeInfo2Size);

// A straight line: y = a x + b, or vertical at x, or horizontal at y. The
// kind says which form holds, so that a line along x = 0 or y = 0 is not
// taken for another form.
struct tagSTRAIGHT {
    double a;
    double b;
    double x; // of a vertical line
    double y; // of a horizontal line
    enum Kind : int32_t { kSloped = 0, kVertical = 1, kHorizontal = 2 } kind;
};

namespace STRAIGHT_FUNCSPACE {
// Through two points: 0, or 5 when they coincide.
int CalcStraight(const Tvk::tagPOINT& p1, const Tvk::tagPOINT& p2, tagSTRAIGHT* out);
// First pixel brighter than 128 in a column from the top or bottom, or in a
// line from the left or right: 0, or 1 when there is none.
int GetTopPoint(const CImg& img, int32_t x, Tvk::tagPOINT* pt);
int GetBottomPoint(const CImg& img, int32_t x, Tvk::tagPOINT* pt);
int GetLeftPoint(const CImg& img, int32_t y, Tvk::tagPOINT* pt);
int GetRightPoint(const CImg& img, int32_t y, Tvk::tagPOINT* pt);
// The edge through two probes either side of the middle, moved out by `n`.
int GetTopStraight(const CImg& img, int32_t n, tagSTRAIGHT* out);
int GetBottomStraight(const CImg& img, int32_t n, tagSTRAIGHT* out);
int GetLeftStraight(const CImg& img, int32_t n, tagSTRAIGHT* out);
int GetRightStraight(const CImg& img, int32_t n, tagSTRAIGHT* out);
// All four edges, each tried with n = 0 .. 9; the last code of an edge that
// failed ten times.
int GetPaperLine(tagSTRAIGHT* top, tagSTRAIGHT* bottom, tagSTRAIGHT* left, tagSTRAIGHT* right,
                 const CImg& img);
// Crossing of two lines: 0; 3 for two vertical or two horizontal lines, 4
// for parallel sloped ones.
int CalcPointFrom2Straights(const tagSTRAIGHT& l0, const tagSTRAIGHT& l1, Tvk::tagPOINT* pt);
// The four corners from the four edges; the first failing crossing's code.
int CalcSlantFrom4Straight(const tagSTRAIGHT& top, const tagSTRAIGHT& bottom,
                           const tagSTRAIGHT& left, const tagSTRAIGHT& right,
                           tagSLANTSIZEINFO2* info);
// y of a sloped or horizontal line at x (a vertical line gives 0).
double SetXGetY(const tagSTRAIGHT& line, double x);
} // namespace STRAIGHT_FUNCSPACE

extern "C" {
IMVRA_EXPORT uint32_t DetectSlantAndSize(const tagTVKIMAGEINFO* image, tagSLANTSIZEINFO* info);
IMVRA_EXPORT uint32_t DetectSlantAndSize2(const tagTVKIMAGEINFO* image, tagSLANTSIZEINFO2* info);
IMVRA_EXPORT uint32_t DetectSlantAndSize3(const tagTVKIMAGEINFO* image, tagSLANTSIZEINFO2* info);
}
