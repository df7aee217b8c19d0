// The binarisation kinds beyond the fixed threshold: error diffusion (1),
// colour to 1 bit (4, 6), median threshold (5), adaptive region (8),
// edge extraction (10) and double density (11, 12, 13).
#pragma once

#include "CBFunc.h"

#include <cstdint>

// Kind 1: error diffusion over two lines.
class CBFuncED : public CBFunc {
public:
    CBFuncED();
    ~CBFuncED() override;
    using CBFunc::Line;
    using CBFunc::Rect;
    using CBFunc::Start;
    int Start(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagBINFUNCINFO* info) override;
    void Line() override;

    int32_t Capacity() const { return m_lCapacity; }

protected:
    // Grows both arrays to hold n pixels, keeping what they hold; false when
    // memory runs out (the arrays stay as they were).
    bool Grow(int32_t n);
    void ZeroFill();

    int32_t* m_pErrBlock = nullptr; // capacity + 4 entries
    int32_t* m_pErr = nullptr;      // m_pErrBlock + 2: indexes -2 .. capacity + 1
    int32_t* m_pSum = nullptr;      // capacity + 2 entries
    int32_t m_lCapacity = 0;
};

// One-dimensional error diffusion; no kind number makes it.
class CBFuncEDOld : public CBFunc {
public:
    using CBFunc::Line;
    using CBFunc::Rect;
    using CBFunc::Start;
    void Line() override;
};

// Kinds 4 and 6 take 24-bit colour to 1 bit; their start refuses other images.
class CBFuncColourTo1Bit : public CBFunc {
public:
    using CBFunc::Line;
    using CBFunc::Rect;
    using CBFunc::Start;
    int Start(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagBINFUNCINFO* info) override;
};

// Kind 4: through weighted gray.
class CBFuncToMonoChrome : public CBFuncColourTo1Bit {
public:
    using CBFunc::Line;
    void Line() override;
};

// Kind 6: black when all three samples are below the slice.
class CBFuncMebrin : public CBFuncColourTo1Bit {
public:
    using CBFunc::Line;
    void Line() override;
};

// Kind 5: threshold from the median of a 9 x 9 window. Needs an image at
// least kMedianMinWidth pixels wide; narrower images and a ring that cannot
// be allocated are refused with the family's error result.
class CBFuncMedian : public CBFunc {
public:
    static constexpr int32_t kMedianMinWidth = 9;
    CBFuncMedian() = default;
    ~CBFuncMedian() override;
    using CBFunc::Rect;
    using CBFunc::Start;
    int Start(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagBINFUNCINFO* info) override;
    int Line(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagBINFUNCINFO* info) override;
    void Line() override;

protected:
    // True when the ring holds 8 lines of the current source line size.
    bool RingFits() const;
    // Refuses a source the window does not fit in; makes a zeroed ring for
    // the source's line size when the ring is missing or of another size,
    // else clears it when asked.
    void PrepareRing(const tagTVKIMAGEINFO* src, bool clear);

    uint8_t* m_pRing = nullptr; // the last 8 source lines, m_lRingLine bytes apart
    uint32_t m_lRingSize = 0;   // bytes; 0 when not allocated
    int32_t m_lRingLine = 0;    // line size the ring was made for
};

struct ImagePlane;
struct AdaptParams;

// Kinds 8 and 10 work on whole rectangles of 8-bit gray through the block
// grid. The start remembers the source's real format so that the rectangle
// can refuse a source that is not 8-bit gray; the rectangle derives the
// kind's levels from the two slice levels and reports a failure in the last
// error (the slice fields and the line count stay as the start set them).
class CBFuncBlockGrid : public CBFunc {
public:
    using CBFunc::Line;
    using CBFunc::Rect;
    using CBFunc::Start;
    int Start(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagBINFUNCINFO* info) override;
    void Line() override {}
    void Rect() override;

protected:
    // The kind over the whole rectangle: 1 done, 0 when it cannot run; may
    // throw a last-error code.
    virtual int RunKind(const ImagePlane& dst, const ImagePlane& src, const AdaptParams& prm) = 0;

    int32_t m_lSrcBps = 8;
    int32_t m_lSrcSpp = 1;
};

// Kind 8: adaptive regional binarisation.
class CBFuncAdaptRegion : public CBFuncBlockGrid {
protected:
    int RunKind(const ImagePlane& dst, const ImagePlane& src, const AdaptParams& prm) override;
};

// Kind 10: edge mask from the block grid of kind 8.
class CBFuncExtractEdge : public CBFuncBlockGrid {
protected:
    int RunKind(const ImagePlane& dst, const ImagePlane& src, const AdaptParams& prm) override;
};

// Kind 11: each thresholded pixel becomes a 2 x 2 block.
class CBFuncDouble : public CBFunc {
public:
    using CBFunc::Line;
    using CBFunc::Rect;
    using CBFunc::Start;
    int Start(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagBINFUNCINFO* info) override;
    void Line() override;

protected:
    // Source line y and destination row r of the rectangle.
    const uint8_t* SrcLine(int32_t y) const { return m_pSrc + int64_t{y} * m_lSrcSync; }
    uint8_t* DstRow(int64_t r) const { return m_pDst + r * m_lDstSync; }
};

// Kind 12: double density from linearly interpolated samples.
class CBFuncDouble_Linear : public CBFuncDouble {
public:
    using CBFunc::Line;
    using CBFunc::Rect;
    using CBFunc::Start;
    void Line() override {}
    void Rect() override;
};

// Kind 13: double density from four-tap cubic interpolation.
class CBFuncDouble_Cubic : public CBFuncDouble {
public:
    using CBFunc::Line;
    using CBFunc::Rect;
    using CBFunc::Start;
    void Line() override {}
    void Rect() override;
};
