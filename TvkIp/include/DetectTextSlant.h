// Text slant measurement and the to-gray line function it shares with the
// image pipeline.
#pragma once

#include "CBFunc.h"
#include "CImgInf.h"

#include <cstddef>
#include <cstdint>
#include <memory>

// To-gray request: its size and a line counter that every conversion
// increases by the source height.
struct tagTOGRAYFUNCINFO {
    uint32_t size;      // at least kToGrayFuncInfoSize for ToGrayRect to act
    uint32_t lineCount; // source lines converted so far
};
inline constexpr uint32_t kToGrayFuncInfoSize = sizeof(tagTOGRAYFUNCINFO);

// Text slant request.
struct tagDETECTTEXTSLANTINFO {
    uint32_t size;             // at least kDetectTextSlantInfoSize
    tagBINFUNCINFO* binInfo;   // binarisation of a non-binary image; its handle is released
    int32_t workingResolution; // 0: none; else halve once when x resolution >= twice this
    double angle;              // out: slant in radians (positive: text descends to the right)
};
inline constexpr uint32_t kDetectTextSlantInfoSize =
    offsetof(tagDETECTTEXTSLANTINFO, angle) + sizeof(double);
static_assert(kDetectTextSlantInfoSize == sizeof(tagDETECTTEXTSLANTINFO));

// Line function converting binary, gray or colour lines to 8-bit gray. The
// caller makes the destination an 8-bit one-sample image of the source's
// width and height.
class CGFunc : public CTvkIP {
public:
    CGFunc() = default;
    ~CGFunc() override = default;

    using CTvkIP::Start;
    int Start(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, void* param) override;
    void Line() override;
    void Rect() override;
    void Finish() override;
    virtual int Start(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagTOGRAYFUNCINFO* info);

    // Start with the images, then every source line; the request's counter
    // grows by the source height.
    int Rect(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagTOGRAYFUNCINFO* info);

private:
    tagTVKIMAGEINFO* m_pDstInfo = nullptr;
    tagTVKIMAGEINFO* m_pSrcInfo = nullptr;
    tagTOGRAYFUNCINFO* m_pInfo = nullptr;
    uint8_t* m_pDst = nullptr;
    const uint8_t* m_pSrc = nullptr;
};

// The process-wide to-gray line function run by ToGrayRect.
CGFunc& GFunc();

// Best slope found so far: the accuracy and its step in pixels per line of
// descent (negative for rising lines, kTextSlantHorizontal for none).
inline constexpr int32_t kTextSlantHorizontal = 0x7FFFFFFF;
struct ACCURACYINFO {
    double accuracy = 0.0;
    int32_t step = kTextSlantHorizontal;
    // The median accuracy of the projections of the pass that found the best
    // step: what a slope that does not fit the text scores.
    double typical = 0.0;
};

// Building blocks of the measurement, reachable by the tests.
namespace TEXTSLANT_FUNCSPACE {
// Steps tried, from the flattest slope to the steepest.
inline constexpr int32_t kSlopeSteps[] = {565, 281, 192, 144, 114, 96, 82, 72, 64, 57,
                                          52,  48,  44,  41,  38,  36, 34, 32, 30, 29,
                                          27,  26,  25,  24,  23,  22, 21, 20, 19};

// Black pixels of a 1-bit image along a line from `line` that moves one line
// down (dir +1) or up (dir -1) every `step` pixels, read in whole bytes.
int64_t CountBlackPixels(const tagTVKIMAGEINFO& img, int32_t line, int32_t step, int dir);
// Sharpness of the projection at a step; `scratch` holds one entry per line.
double GetAccuracy(const tagTVKIMAGEINFO& img, int32_t step, int dir, int64_t* scratch);

// The projections of every step from one pass over a 1-bit image: black
// pixels of each line up to each whole byte, stored byte by byte, so that a
// piece of a slanted path costs one difference and a projection runs down
// contiguous columns. Gives the counts and sharpness of CountBlackPixels and
// GetAccuracy.
class ProjectionTable {
public:
    // False when memory runs out.
    bool Build(const tagTVKIMAGEINFO& img);
    // Counts of the `n` paths starting at lines first, first + 1, ...
    const int64_t* Counts(int32_t step, int dir, int64_t first, int64_t n) const;
    double Accuracy(const tagTVKIMAGEINFO& img, int32_t step, int dir, int64_t* scratch) const;

private:
    // Byte bounds of the pieces of a path at a step; returns their number.
    int64_t Segments(int32_t step) const;

    int64_t m_height = 0;
    int64_t m_bytes = 0;
    std::unique_ptr<int32_t[]> m_prefix; // [byte][line]: pixels before that byte
    std::unique_ptr<int64_t[]> m_counts;
    std::unique_ptr<int64_t[]> m_bounds;
};
// 1 when the image has nothing to measure (horizontal accuracy 0.0), -1 when
// the scratch cannot be had, else 0 after trying every step both ways.
int GetMaxAccuracy(const tagTVKIMAGEINFO& img, ACCURACYINFO& best);
// Whether the best step is a slant to report: not the steepest step of the
// table (the text may lie at that slope or anywhere beyond it) and scoring
// well above the typical projection (no slope fits text slanted beyond the
// table, and the best of such a page is a chance spike, often of the wrong
// sign).
bool IsFoundSlant(const ACCURACYINFO& best);
// Left pixel of every pair of `outWidth` output pixels.
void HalveLine(uint8_t* out, const uint8_t* src, int32_t outWidth);
// Out line k is the halved source line 2k; -1 unless both are 1-bit images.
int HalveResolution(tagTVKIMAGEINFO& out, const tagTVKIMAGEINFO& src);
} // namespace TEXTSLANT_FUNCSPACE

extern "C" {
// Converts every source line into the 8-bit destination; always 0.
IMVRA_EXPORT int32_t ToGrayRect(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src,
                                tagTOGRAYFUNCINFO* info);
// Measures the slant of the text lines. 0; 87 for a missing or short request
// or a non-binary image without binarisation request; 8 when memory runs out.
IMVRA_EXPORT int32_t DetectTextSlant(tagTVKIMAGEINFO* image, tagDETECTTEXTSLANTINFO* info);
}
