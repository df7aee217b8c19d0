// Image description record and the image container that wraps or owns it.
#pragma once

#include "TvkTypes.h"

// The image description passed through the whole library. The upper layer's
// image record has exactly this layout, so images pass down unchanged.
struct tagTVKIMAGEINFO {
    uint32_t size;    // sizeof(tagTVKIMAGEINFO)
    uint8_t* lpImage; // first byte of the pixel buffer
    int32_t lXpos;
    int32_t lYpos;        // the binarisation family starts at this line
    int32_t lWidth;       // pixels
    int32_t lHeight;      // lines
    int32_t lSync;        // bytes per line (of one sample plane)
    uint32_t tImageSize;  // buffer size in bytes
    int32_t lBps;         // bits per sample: 1, 8 or 16
    int32_t lSpp;         // samples per pixel: 1 or 3
    uint32_t ulRGBOrder;  // 0 pixel-interleaved, 1 line-sequential planes
    int32_t lXResolution; // dpi
    int32_t lYResolution; // dpi
};
inline constexpr uint32_t kTvkImageInfoSize = sizeof(tagTVKIMAGEINFO);

// Default line size of a width at a bit depth: whole 32-bit words.
constexpr int32_t TvkDefaultSync(int64_t width, int64_t bits) {
    return static_cast<int32_t>(((bits * width + 31) & ~int64_t{31}) / 8);
}

// Bytes from one line of a record to the next: every sample plane of a
// line-sequential image (lSync each), else one lSync.
constexpr int64_t TvkLineStep(const tagTVKIMAGEINFO& info) {
    return info.ulRGBOrder == 1 ? int64_t{info.lSync} * info.lSpp : int64_t{info.lSync};
}
// First byte of line y of a record.
inline uint8_t* TvkLinePtr(const tagTVKIMAGEINFO& info, int64_t y) {
    return info.lpImage + y * TvkLineStep(info);
}

class CImageInfo {
public:
    CImageInfo();
    explicit CImageInfo(tagTVKIMAGEINFO* info);
    CImageInfo(CImageInfo& other);
    CImageInfo(int32_t width, int32_t sync, int32_t height, int32_t bps, int32_t spp,
               unsigned int order, uint8_t* buffer, uint32_t size);
    CImageInfo(int32_t width, int32_t sync, int32_t height, int32_t bps, int32_t spp,
               unsigned int order, uint8_t* buffer, uint32_t size, int owns, int allocTypeVirtual);
    CImageInfo(int32_t width, int32_t sync, int32_t height, int32_t bps, int32_t spp,
               unsigned int order);
    CImageInfo(int32_t width, int32_t height, int32_t bps, int32_t spp, unsigned int order);
    explicit CImageInfo(tagTVKIMAGEINFO info);
    CImageInfo& operator=(const CImageInfo&) = delete;
    virtual ~CImageInfo();

    // Buffer ownership, reached through the virtual slots so that a
    // subclass sees every change.
    virtual uint8_t* AllocateBuffer(uint32_t n);
    virtual void ReleaseImageBuffer();
    virtual uint8_t* DetachImageBuffer();
    virtual uint8_t* SetPtr(uint8_t* p);
    virtual int32_t SetWidth(int32_t w);
    virtual int32_t SetHeight(int32_t h);
    virtual int32_t SetSync(int32_t s);
    virtual int32_t SetBps(int32_t b);
    virtual uint32_t SetSize(uint32_t n);
    virtual unsigned int SetRGBOrder(unsigned int o);
    virtual int32_t SetResolution(int32_t x, int32_t y);

    void Init();
    tagTVKIMAGEINFO* CreateTvkImageInfoStruct();
    void Init(int32_t width, int32_t sync, int32_t height, int32_t bps, int32_t spp,
              unsigned int order, uint8_t* buffer, uint32_t size);
    uint8_t* Init(int32_t width, int32_t sync, int32_t height, int32_t bps, int32_t spp,
                  unsigned int order);
    uint8_t* Init(const tagTVKIMAGEINFO& src, int copy);

    CImageInfo* CreateSameSize() const;
    CImageInfo* CreateCopy() const;

    // Accessors of the described record.
    tagTVKIMAGEINFO* Info() const { return m_pInfo; }
    uint8_t* GetPtr() const { return m_pInfo ? m_pInfo->lpImage : nullptr; }
    int32_t Width() const { return m_pInfo->lWidth; }
    int32_t Height() const { return m_pInfo->lHeight; }
    int32_t Sync() const { return m_pInfo->lSync; }
    int32_t Bps() const { return m_pInfo->lBps; }
    int32_t Spp() const { return m_pInfo->lSpp; }
    unsigned int RGBOrder() const { return m_pInfo->ulRGBOrder; }
    uint32_t GetSize() const { return m_pInfo->tImageSize; }
    int32_t XResolution() const { return m_pInfo->lXResolution; }
    int32_t YResolution() const { return m_pInfo->lYResolution; }
    bool IsAllocated() const { return m_bAllocated != 0; }
    bool IsBlackIs() const { return m_bBlackIs != 0; }

    int32_t BitCount() const;
    int32_t RGBSync() const;
    uint8_t* GetPtr(int32_t x, int32_t y) const;

    unsigned int PGET2(int32_t x, int32_t y) const;
    void PSET2(int32_t x, int32_t y, unsigned int v);
    unsigned int PGET8(int32_t x, int32_t y) const;
    void PSET8(int32_t x, int32_t y, unsigned int v);
    unsigned int PGET16(int32_t x, int32_t y) const;
    void PSET16(int32_t x, int32_t y, unsigned int v);
    void PSET24(int32_t x, int32_t y, uint32_t rgb);

    void GetHLineData(uint8_t* dst, int32_t y) const;
    void GetVLineData(uint8_t* dst, int32_t x) const;
    void GetRectData(uint8_t* dst, int32_t x, int32_t y, int32_t bytes, int32_t ignored,
                     int32_t lines) const;
    void GetRectData(uint8_t* dst, const tagRECT& rect, int32_t n) const;
    uint32_t RectSum(const tagRECT* rect, unsigned int* count) const;
    uint8_t RectAve(const tagRECT* rect) const;

    // Makes the container a view of the rectangle within the same buffer.
    // Returns false (and changes nothing) when the container owns its buffer
    // (a view cannot be made of an owned buffer) or the rectangle does not
    // lie inside the image. Trim(ratio) keeps the centred part of that size
    // ratio; a ratio of 1 or more keeps all (true), a negative one is refused.
    bool Trim(const tagRECT& rect);
    bool Trim(double ratio);
    void ShiftLeft(int32_t n);
    void Shift(int32_t s);
    void ShiftRight(int) {}
    void HorzLine(int32_t, int32_t, int32_t, unsigned int) {}
    int MirrorLeftRight() { return 0; }
    void CutOffV(int32_t x, int32_t n);
    void CutOffH(int32_t y, int32_t n);
    void VertLine(int32_t x, int32_t y, int32_t n, uint32_t value);
    void CrearUnusedArea(uint8_t value);
    void SetPack1(int32_t x);
    void SetPackN(int32_t n, int32_t x);
    void PutImage(int32_t x, int32_t y, const CImageInfo& src);
    void PutImage1(int32_t x, int32_t y, const CImageInfo& src);
    void PutImage8(int32_t x, int32_t y, const CImageInfo& src);
    void PutImage16(int32_t x, int32_t y, const CImageInfo& src);
    void PutImage24(int32_t x, int32_t y, const CImageInfo& src);
    void Reverse();
    int SetBlackIs(int b);
    int SetWhiteIs(int w);

protected:
    // Buffer size that the record's line size, planes and height describe.
    uint32_t GeometrySize() const;

    tagTVKIMAGEINFO* m_pInfo;
    int m_bInfoAllocated;
    int m_bAllocated;
    int m_bAllocTypeVirtualYes;
    int m_bBlackIs;
};

bool operator==(const CImageInfo& a, const CImageInfo& b);
bool operator!=(const CImageInfo& a, const CImageInfo& b);
