// Line-processor base and the binarisation family with its handle interface.
#pragma once

#include "CImgInf.h"

// Binarisation request. The short form (without the handle) drives the
// shared static objects of kinds 0 to 6; the long form carries its own
// object made by CreateBinalizeHandle.
struct tagBINFUNCINFO {
    uint32_t size;       // kBinFuncInfoSizeShort or kBinFuncInfoSizeLong
    uint32_t kind;       // binarisation kind, see BinKind
    uint32_t firstSlice; // slice level of an image's first line
    uint32_t nextSlice;  // carried between calls; written back
    uint32_t lineCount;  // lines done of this image; 0 starts a new one; written back
    void* handle;        // long form only: the object, null until made
};
inline constexpr uint32_t kBinFuncInfoSizeShort = offsetof(tagBINFUNCINFO, handle);
inline constexpr uint32_t kBinFuncInfoSizeLong = sizeof(tagBINFUNCINFO);
static_assert(kBinFuncInfoSizeShort != kBinFuncInfoSizeLong);

enum BinKind : uint32_t {
    kBinFixed = 0,
    kBinErrorDiffusion = 1,
    kBinASC = 2,
    kBinLineAE = 3,
    kBinToMonoChrome = 4,
    kBinMedian = 5,
    kBinMebrin = 6,
    kBinAdaptRegion = 8,
    kBinExtractEdge = 10,
    kBinDouble = 11,
    kBinDoubleLinear = 12,
    kBinDoubleCubic = 13,
    kBinKindCount = 14,
};

// Base of every line processor of the library.
class CTvkIP {
public:
    CTvkIP() = default;
    CTvkIP(const CTvkIP&) = delete;
    CTvkIP& operator=(const CTvkIP&) = delete;
    virtual ~CTvkIP() = default;
    virtual int Start(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, void* param) { return 1; }
    virtual void Line() {}
    virtual void Rect() {}
    virtual void Finish() {}
};

// Fixed-threshold binarisation and the frame every kind builds on.
class CBFunc : public CTvkIP {
public:
    CBFunc() = default;
    ~CBFunc() override = default;

    using CTvkIP::Line;
    using CTvkIP::Rect;
    using CTvkIP::Start;

    virtual void SetDst(tagTVKIMAGEINFO* dst);
    virtual void SetSrc(tagTVKIMAGEINFO* src);
    virtual void SetSlice(tagBINFUNCINFO* info);
    virtual void SetBInfo(tagBINFUNCINFO* info);
    // Returns 0 to refuse the images (nothing is written).
    virtual int Start(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagBINFUNCINFO* info);
    virtual int Line(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagBINFUNCINFO* info);
    virtual int Rect(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagBINFUNCINFO* info);

    void Line() override;
    void Rect() override;

    int32_t LineCount() const { return m_lLine; }
    int32_t SliceLevel() const { return m_lSlice; }

protected:
    // Step shared by every kind's Line(): move to the next line pair.
    void NextLine() {
        m_pDst += m_lDstSync;
        m_pSrc += m_lSrcSync;
        ++m_lLine;
    }
    // Clears the bits of the first m_lWidth pixels of the destination line,
    // leaving any padding bits beyond the width as they were.
    void ClearDstBits();
    void WriteBack(tagBINFUNCINFO* info) const;

    int32_t m_lSrcSync = 0;
    int32_t m_lDstSync = 0;
    uint8_t* m_pDst = nullptr;
    uint8_t* m_pSrc = nullptr;
    int32_t m_lSlice = 128;
    int32_t m_lFirstSlice = 128;
    int32_t m_lNextSlice = 128;
    int32_t m_lWidth = 0;
    int32_t m_lHeight = 0;
    int32_t m_lLine = 0;
    uint32_t m_ulRGBOrder = 0;
    int32_t m_lXResolution = 300;
    int32_t m_lYResolution = 300;
};

// Kinds 2 and 3: kept for old requests. Their start refuses every image, so a
// rectangle call leaves the destination alone; a line call thresholds like kind 0.
class CBFuncASC : public CBFunc {
public:
    using CBFunc::Start;
    int Start(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagBINFUNCINFO* info) override;
};

class CBFuncLineAE : public CBFunc {
public:
    using CBFunc::Start;
    int Start(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagBINFUNCINFO* info) override;
};

// Makes the object of a kind; null for kinds without one or when memory
// runs out. Defined beside the kinds so that every kind is reachable.
CBFunc* NewBinalizeObject(uint32_t kind);

// The shared objects of kinds 0 to 6 used by the short form and the line call
// (null entry at index 7).
extern "C" IMVRA_EXPORT CBFunc* const* BFunc();

extern "C" {
IMVRA_EXPORT void* CreateBinalizeHandle(tagBINFUNCINFO* info);
IMVRA_EXPORT int32_t BinalizeRectEx(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src,
                                    tagBINFUNCINFO* info);
IMVRA_EXPORT int32_t BinalizeLineEx(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src,
                                    tagBINFUNCINFO* info);
IMVRA_EXPORT void ReleaseBinalizeHandle(tagBINFUNCINFO* info);
IMVRA_EXPORT int32_t BrightnessToSlicelevel(uint32_t brightness);
}
