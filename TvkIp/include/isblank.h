// Blank-page decision: the share of a page (or of a frame in it) that carries
// content, as set pixels or as closed runs, compared with a threshold given in
// percent or as an exact fraction.
#pragma once

#include "CImgInf.h"

#include <cstddef>
#include <cstdint>

// Exact fractions. Comparisons cross-multiply in 64 bits, so no precision is
// lost and no division by a zero denominator happens. Denominators are used
// as they stand (no sign normalisation).
struct tagLONGRAT {
    int32_t num;
    int32_t den;
};
struct tagSHORTRAT {
    int16_t num;
    int16_t den;
};
static_assert(sizeof(tagLONGRAT) == 8 && sizeof(tagSHORTRAT) == 4);

// Sign-extends both halves.
tagLONGRAT ToLONGRAT(tagSHORTRAT r);
// Halves numerator and denominator together until both are below 32768.
// Meant for non-negative values (counts and areas).
tagSHORTRAT ToSHORTRAT(int32_t num, int32_t den);
tagSHORTRAT ToSHORTRAT(tagLONGRAT r);
// A 32-bit word holding a short fraction: numerator in the low half.
tagSHORTRAT SHORTRATFromWord(uint32_t word);
uint32_t SHORTRATToWord(tagSHORTRAT r);

#define TVK_RAT_OPS(A, B)                                                                          \
    bool operator>(const A& p, const B& q);                                                        \
    bool operator<(const A& p, const B& q);                                                        \
    bool operator>=(const A& p, const B& q);                                                       \
    bool operator<=(const A& p, const B& q);                                                       \
    bool operator==(const A& p, const B& q);                                                       \
    bool operator!=(const A& p, const B& q);
TVK_RAT_OPS(tagLONGRAT, tagLONGRAT)
TVK_RAT_OPS(tagSHORTRAT, tagSHORTRAT)
TVK_RAT_OPS(tagLONGRAT, tagSHORTRAT)
TVK_RAT_OPS(tagSHORTRAT, tagLONGRAT)
#undef TVK_RAT_OPS

// Head shared by the blank-page record and the counters' results.
struct tagBITNUMRATIOINFO {
    uint32_t ulSize;
    int32_t lCount; // running numerator
    int32_t lArea;  // running denominator
};

// Request and result of IsBlankPageEx2. Fields beyond ulSize read as 0.
struct tagISBLANKINFO {
    uint32_t ulSize;      // kIsBlankInfoSizeLong is rewritten to kIsBlankInfoSize on entry
    int32_t lCount;       // in/out: running count (set pixels or edges)
    int32_t lArea;        // in/out: running area
    int32_t lSlice;       // binarisation level, or histogram bins counted as content
    uint32_t lRatio;      // out: percent, or a short fraction when lThreshold is one
    uint32_t lThreshold;  // <= 100: percent; above: short fraction (num low, den high)
    int32_t bInverse;     // compare the complement / reverse the comparison
    int32_t lFrame[4];    // region measured (see IsBlankPageEx2)
    int32_t bDetectWidth; // replace the frame by the detected content box
    int32_t lDetectParam1;
    int32_t lDetectParam2;
    int32_t lDetectSlice;
    uint32_t ulMode;      // low byte 1: edge count; second byte: frame mode / no inset
    int32_t lEdgeH;       // out (edge mode)
    int32_t lEdgeV;       // out (edge mode)
    uint32_t reserved[3]; // never read or written
};
static_assert(sizeof(tagISBLANKINFO) == 84);
inline constexpr uint32_t kIsBlankInfoSizeLong = sizeof(tagISBLANKINFO);
inline constexpr uint32_t kIsBlankInfoSize = offsetof(tagISBLANKINFO, reserved);
// The frame words are written back from this size on.
inline constexpr uint32_t kIsBlankInfoSizeFrame = offsetof(tagISBLANKINFO, bDetectWidth);
// lDetectSlice is read from this size on.
inline constexpr uint32_t kIsBlankInfoSizeSlice = offsetof(tagISBLANKINFO, ulMode);
// ulMode is read from this size on.
inline constexpr uint32_t kIsBlankInfoSizeMode = offsetof(tagISBLANKINFO, lEdgeH);
static_assert(kIsBlankInfoSize != kIsBlankInfoSizeLong);

// Mode bytes of ulMode.
inline constexpr uint32_t kIsBlankModeEdge = 1;      // low byte
inline constexpr uint32_t kIsBlankModeFrame = 0x100; // second byte exactly 1

// Pixel tables of the 1-bit counters: pixel n of a line is bit 7 - n % 8 of
// byte n / 8.
extern const uint8_t bBitMask[8];  // one pixel
extern const uint8_t bBitMaskF[9]; // the first k pixels of a byte
extern const uint8_t bBitCnt[256]; // set bits of each byte value

// Set bits of n whole bytes.
int64_t GetBitNumByte(const uint8_t* p, int64_t n);
// Set pixels among n pixels of one row from pixel `start`.
int64_t GetBitNumBit(const uint8_t* line, int64_t start, int64_t n);
// Rows (of `rows`, `stride` bytes apart) whose pixel `pos` is set.
int64_t GetBitNumBit(const uint8_t* line, int64_t pos, int64_t rows, int64_t stride);

// Counters on a 1-bit image. The frame is clamped to the image, so nothing
// outside it is ever read, and the area added is the area examined.
//  - GetBitNum reads the frame as left, top, width, height.
//  - GetEdgeNum reads it as left, top, right, bottom (exclusive).
// frameMode leaves out the runs that touch the frame's border. Both add to
// info->lCount and info->lArea and return what they counted.
int64_t GetBitNum(const tagTVKIMAGEINFO* image, tagBITNUMRATIOINFO* info, const int32_t* frame,
                  int32_t bInverse, bool frameMode, uint32_t unused);
int64_t GetEdgeNum(const tagTVKIMAGEINFO* image, tagBITNUMRATIOINFO* info, const int32_t* frame,
                   int32_t bInverse, bool frameMode, uint32_t unused, int32_t* edgeH,
                   int32_t* edgeV);

// Computes info->lRatio from lCount and lArea and returns the decision.
int IsBlankResult(tagISBLANKINFO* info);

extern "C" {
// 1 when the measured share of content exceeds the threshold, else 0 (also
// for unsupported depths and failures; the last error then tells).
IMVRA_EXPORT int32_t IsBlankPageEx2(tagTVKIMAGEINFO* image, tagISBLANKINFO* info);
}
