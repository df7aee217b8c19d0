// Owning image handle, image copies and comparison, quarter turns, byte and
// bit line helpers, and the clip exports.
#pragma once

#include "CImgInf.h"

#include <cstddef>
#include <cstdint>

// Clip request: an area of the source copied to a place in the destination
// (ClipView), or cropped within the image's own buffer (ClipViewOwnBuffer).
struct tagCLIPVIEWINFO {
    uint32_t size;   // record size (not examined)
    int32_t lDstX;   // left of the target area in the destination
    int32_t lDstY;   // top of the target area in the destination
    int32_t lSrcX;   // left of the area in the source
    int32_t lSrcY;   // top of the area in the source
    int32_t lWidth;  // area width in pixels; cut down in place to what fits
    int32_t lHeight; // area height in lines; cut down in place to what fits
};
inline constexpr uint32_t kClipViewInfoSize = sizeof(tagCLIPVIEWINFO);

// Read-only geometry of a clip request.
class CClipInfo {
public:
    explicit CClipInfo(tagCLIPVIEWINFO* info) : m_pInfo(info) {}
    int32_t DstRight() const { return m_pInfo->lDstX + m_pInfo->lWidth; }
    int32_t DstBottom() const { return m_pInfo->lDstY + m_pInfo->lHeight; }
    int32_t SrcRight() const { return m_pInfo->lSrcX + m_pInfo->lWidth; }
    int32_t SrcBottom() const { return m_pInfo->lSrcY + m_pInfo->lHeight; }
    tagCLIPVIEWINFO* Info() const { return m_pInfo; }

private:
    tagCLIPVIEWINFO* m_pInfo;
};

// Owns at most one CImageInfo and deletes it when replaced or destroyed.
class CImageInfoPtr {
public:
    CImageInfoPtr() = default;
    CImageInfoPtr(const CImageInfoPtr&) = delete;
    CImageInfoPtr& operator=(const CImageInfoPtr&) = delete;
    virtual ~CImageInfoPtr();

    // Deletes the owned image and takes the given one (null empties).
    void Attach(CImageInfo* img);
    // Returns the owned image; the caller owns it now.
    CImageInfo* Detach();
    void ReleaseImage();

    // A new owning image (order 0 for three samples, else 1) with the given
    // line size. False when its buffer could not be made; the old image stays.
    bool CreateImage(int32_t width, int32_t sync, int32_t height, int32_t bps, int32_t spp,
                     int32_t xres, int32_t yres);

    CImageInfo* GetImage() const { return m_pImg; }
    CImageInfo* operator->() const { return m_pImg; }
    tagTVKIMAGEINFO* Info() const { return m_pImg ? m_pImg->Info() : nullptr; }
    bool IsEmpty() const { return m_pImg == nullptr; }

    // Record accessors; the handle must hold an image.
    int32_t Width() const { return m_pImg->Width(); }
    int32_t Height() const { return m_pImg->Height(); }
    int32_t Bps() const { return m_pImg->Bps(); }
    int32_t Spp() const { return m_pImg->Spp(); }
    int32_t XResolution() const { return m_pImg->XResolution(); }
    int32_t YResolution() const { return m_pImg->YResolution(); }
    uint8_t* GetPtr() const { return m_pImg->GetPtr(); }
    uint32_t GetSize() const { return m_pImg->GetSize(); }
    int32_t Sync() const { return m_pImg->Sync(); }
    unsigned int RGBOrder() const { return m_pImg->RGBOrder(); }

    // Quarter turns clockwise (R) and anticlockwise (L). The new height is
    // the old width rounded up to a multiple of 8 (extra lines are zero).
    // False (image kept) when the new image cannot be made.
    bool Rotate90R();
    bool Rotate90L();
    // Inverts every byte of the owned buffer.
    bool ReverseColor();

protected:
    CImageInfo* m_pImg = nullptr;
};

// Turns src a quarter (clockwise or anticlockwise) into dst, which the
// caller made zeroed with the turned geometry, the same depth and layout and
// its own line size: at least src's height in pixels and src's width in
// lines (1-bit: the width raised to a multiple of 8). False, nothing
// written, for other layouts than 1-bit, 8-bit gray and 24-bit colour.
bool RotateQuarterInto(tagTVKIMAGEINFO& dst, const tagTVKIMAGEINFO& src, bool clockwise);

// dst takes a new zeroed image of src's geometry (or a copy of it); false
// (dst unchanged) when it cannot be made.
bool SameSizeCImageInfo(CImageInfoPtr& dst, const CImageInfo& src);
bool SameSizeCImageInfo(CImageInfoPtr& dst, const CImageInfoPtr& src);
bool CopyCImageInfo(CImageInfoPtr& dst, const CImageInfo& src);
bool CopyCImageInfo(CImageInfoPtr& dst, const CImageInfoPtr& src);

// 1 when the geometry, depth, resolution or order differ; otherwise the first
// nonzero MemBitCmp of corresponding lines (only the pixels inside the width
// count), else 0.
int CompareImages(const CImageInfo& a, const CImageInfo& b);
int CompareImages(const CImageInfoPtr& a, const CImageInfoPtr& b);
// Compares the first `bits` bits (bytes first, then the leading bits of the
// next byte): <0, 0, >0 like a byte comparison.
int MemBitCmp(const uint8_t* a, const uint8_t* b, int64_t bits);

// Byte and bit helpers. Lines lie `step` bytes apart; bits are numbered from
// the most significant bit of a byte.
void MemStepCopy(uint8_t* dst, const uint8_t* src, int64_t bytes, int64_t lines, int64_t dstStep,
                 int64_t srcStep);
void BitStepCopy(uint8_t* dst, int64_t dstBit, const uint8_t* src, int64_t srcBit, int64_t bits,
                 int64_t lines, int64_t dstStep, int64_t srcStep);
void BitSet(uint8_t* buf, int64_t startBit, int value, int64_t count);
int GetBit(const uint8_t* buf, int64_t bit);
void PutBit(uint8_t* buf, int64_t bit, int value);
// Reverses the bit order of each of n bytes.
void MemBitSwitch(uint8_t* buf, int64_t n);
// Reverses the order of n bytes.
void MemSwitch(uint8_t* buf, int64_t n);
// Mirrors every line of `step` bytes within `size` bytes (byte order).
void MemStepSwitch(uint8_t* buf, int64_t size, int64_t step);
// Mirrors every 1-bit line of `step` bytes within `size` bytes.
void MemBitStepSwitch(uint8_t* buf, int64_t size, int64_t step);
// Moves the bytes of every line `shift` bytes towards the line start.
void MemStepShift(uint8_t* buf, int64_t shift, int64_t step, int64_t lines);
// Moves every line `bits` bits towards its start; vacated bits are zero.
void MemBitStepShift(uint8_t* buf, int64_t bits, int64_t step, int64_t lines);
// Copies n bytes in reverse order; dstEnd points one past the last
// destination byte, which receives src[0].
void MemReverseCopy(uint8_t* dstEnd, const uint8_t* src, int64_t n);
// The same for n three-byte pixels (each pixel keeps its sample order).
void RGBReverseCopy(uint8_t* dstEnd, const uint8_t* src, int64_t n);
// Copies n three-byte pixels to a destination `step` bytes apart.
void RGBStepCopy(uint8_t* dst, const uint8_t* src, int64_t step, int64_t n);
// Inverts n bytes.
void MemBitReverse(uint8_t* buf, int64_t n);

extern "C" {
// Copies an area of src into dst (equal depth and samples). 1 on success,
// 0 on failure (dst unchanged; the request's width and height may be cut).
IMVRA_EXPORT int32_t ClipView(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagCLIPVIEWINFO* info);
// Crops an 8-bit image (gray or interleaved colour) within its own buffer to
// the request's source area; 0 on success, -1 on failure.
IMVRA_EXPORT int32_t ClipViewOwnBuffer(tagTVKIMAGEINFO* image, tagCLIPVIEWINFO* info);
}
