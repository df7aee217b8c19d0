// The page image of the upper layer (one pixel buffer described by one image
// record), the band list that joins the bands of a page, and a plain byte
// buffer.
//
// The data source is a separate shared object that builds its bands with
// CImg: the members marked IMVRA_EXPORT are part of the library's exported
// interface.
#pragma once

#include "CImgInf.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// Members of an exported class that stay inside the library.
#define IMVRA_HIDDEN __attribute__((visibility("hidden")))

namespace Tvk {

// The upper layer's image record is the lower layer's one: one type, so an
// image's record is handed down unchanged.
using tagIMAGEINFO = ::tagTVKIMAGEINFO;
inline constexpr uint32_t kImageInfoSize = sizeof(tagIMAGEINFO);

namespace Imvra {

// An image that owns its pixel buffer. An empty image has an all-zero record
// (size included) and no buffer. Ownership moves only through attachImg, so a
// buffer is never freed twice.
//
// The class is exported (its virtual table and type information too, so the
// data source can hold and delete images); its members are hidden unless
// marked IMVRA_EXPORT.
class IMVRA_EXPORT CImg {
public:
    IMVRA_EXPORT CImg();
    // As operator= on an empty image.
    IMVRA_HIDDEN CImg(const CImg& other);
    IMVRA_EXPORT virtual ~CImg();

    // Deep copy; nothing when assigned to itself. Leaves an empty image when
    // the buffer cannot be allocated.
    IMVRA_EXPORT CImg& operator=(const CImg& other);
    // The image's own record; callers read and adjust fields through it
    // (stages shrink lHeight in place and the like).
    IMVRA_EXPORT operator tagIMAGEINFO*();
    tagIMAGEINFO& info() { return m_info; }
    const tagIMAGEINFO& info() const { return m_info; }

    bool isNull() const { return m_info.lpImage == nullptr; }
    // Frees the buffer and zeroes the whole record.
    IMVRA_EXPORT void deleteImg();
    // Takes over the other image's record and buffer and empties the other,
    // so exactly one image owns the buffer. Nothing with itself.
    IMVRA_HIDDEN void attachImg(CImg& other);

    // A new zero-filled image described by info (its lpImage ignored, its
    // size word set to kImageInfoSize). False, the image unchanged, when
    // checkInfo refuses the record (callers report RTN_PAR). True with an
    // empty image when the buffer cannot be allocated (callers test isNull
    // and report RTN_MEM).
    IMVRA_EXPORT bool createImg(const tagIMAGEINFO& info);
    // A new zero-filled image with the model's record.
    IMVRA_HIDDEN bool createImg(const CImg& model);
    // As createImg(info), but the bytes are not cleared: the buffer may be
    // one an earlier band or page gave back, holding its pixels. Only for
    // stages that write every byte they hand on, or clear what they do not
    // (clearRowTails), and for the data source's raw bands, which it fills
    // whole from the scanner's data.
    IMVRA_EXPORT bool createImgForWrite(const tagIMAGEINFO& info);
    // Clears bytes [written, lSync) of every stored row: the tails a stage
    // does not write in a buffer from createImgForWrite.
    IMVRA_HIDDEN void clearRowTails(int64_t written);
    // A record with tImageSize = calcSize(sync, height, spp, order); false
    // also when that size does not fit its 32-bit field.
    IMVRA_EXPORT bool createImg(int32_t xpos, int32_t ypos, int32_t width, int32_t height,
                                int32_t sync, int32_t bps, int32_t spp, uint32_t order,
                                int32_t xres, int32_t yres);
    // At position 0,0.
    IMVRA_EXPORT bool createImg(int32_t width, int32_t height, int32_t sync, int32_t bps,
                                int32_t spp, uint32_t order, int32_t xres, int32_t yres);
    // At 0,0 without resolutions.
    IMVRA_HIDDEN bool createImg(int32_t width, int32_t height, int32_t sync, int32_t bps,
                                int32_t spp, uint32_t order);
    // With the shortest line (calcMinSync).
    IMVRA_HIDDEN bool createImg(int32_t width, int32_t height, int32_t bps, int32_t spp,
                                uint32_t order, int32_t xres, int32_t yres);
    IMVRA_HIDDEN bool createImg(int32_t width, int32_t height, int32_t bps, int32_t spp,
                                uint32_t order);
    // A JPEG stream buffer of size bytes (lHeight and lSync -1, order 3);
    // false and an empty image when it cannot be allocated.
    IMVRA_HIDDEN bool createJpg(int32_t width, int32_t bps, int32_t spp, int32_t xres, int32_t yres,
                                uint32_t size);
    // No JPEG encoder: does nothing and returns false.
    IMVRA_HIDDEN bool convertToJpg(int quality);

    // Appends the other image's lines below this image's. Both must agree in
    // bits, samples, order and resolutions and the other must lie at 0,0.
    // False, this image unchanged, on a mismatch, a refused result or when
    // memory runs out.
    IMVRA_HIDDEN bool appendImg(CImg& other);

    // True when the record describes a buffer that createImg can make: sizes
    // computed in 64 bits, so a record whose sizes do not fit is refused.
    IMVRA_HIDDEN static bool checkInfo(const tagIMAGEINFO& info);
    // Bytes of the shortest line: -1 for an order other than 0 and 1.
    IMVRA_HIDDEN static int64_t calcMinSync(int64_t width, int64_t bps, int64_t spp,
                                            uint32_t order);
    // Bytes of the buffer: 0 for an order other than 0 and 1.
    IMVRA_HIDDEN static uint64_t calcSize(int64_t sync, int64_t height, int64_t spp,
                                          uint32_t order);

    // Stored rows of the record (planar images hold lSpp rows a line) that
    // lie inside its buffer.
    IMVRA_HIDDEN static int64_t storedRows(const tagIMAGEINFO& info);

    // Large buffers are not given back to the system when an image lets them
    // go: they are kept (up to a bound) for the next band or page, whose
    // buffer then needs neither fresh pages nor the system's zero-fill.
    // Every engine holds the store open; when the last one is deleted the
    // kept buffers are freed. The built-in engine does not hold it: the
    // library's Clear() frees them when no engine holds the store.
    IMVRA_HIDDEN static void holdBufferStore();
    IMVRA_HIDDEN static void releaseBufferStore();
    IMVRA_HIDDEN static void trimBufferStore();
    // Bytes the store keeps now (for tests).
    IMVRA_HIDDEN static size_t bufferStoreBytes();

protected:
    // Frees any old buffer and allocates one of tImageSize bytes, zeroed
    // unless zero is false; false (and no buffer) when tImageSize is 0 or
    // memory runs out.
    IMVRA_HIDDEN bool allocate(bool zero = true);
    // Gives the buffer back (to the store or the system) and forgets it.
    IMVRA_HIDDEN void freeBuffer();

    tagIMAGEINFO m_info;
    // Bytes of the buffer lpImage points to (at least tImageSize when it was
    // made; stages may shrink the record in place).
    size_t m_capacity = 0;
};

// The bands of a page collected in order, with a summary record of the page
// so far (first band's geometry, heights and sizes summed).
class CImgList {
public:
    CImgList();
    CImgList(const CImgList&) = delete;
    CImgList& operator=(const CImgList&) = delete;
    ~CImgList();

    // Takes the band over (the caller's image is left empty) and returns
    // RTN_OK; an empty band: RTN_OK and nothing added. RTN_PAR when the band
    // does not fit the bands held (bits, samples, width, line size,
    // resolutions, and the order of three-sample bands); RTN_MEM when memory
    // runs out. On failure the band stays with the caller.
    int push(CImg& band);
    // push() as a yes/no answer.
    bool PushBack(CImg& band) { return push(band) == 0; }
    // Deletes every band and resets the summary.
    void PopAll();
    // Joins all bands into out (one band is handed over without a copy) and
    // empties the list. Nothing when no band is held. Throws std::bad_alloc
    // when the joined image cannot be made; the bands are dropped then.
    void SpliceAndPopAll(CImg& out);

    bool empty() const { return m_listImg.empty(); }
    size_t count() const { return m_listImg.size(); }
    const tagIMAGEINFO& summary() const { return m_info; }

private:
    std::vector<CImg*> m_listImg;
    tagIMAGEINFO m_info;
};

// A plain resizable byte buffer that owns its memory.
class CTvkRaster {
public:
    CTvkRaster() = default;
    CTvkRaster(const CTvkRaster&) = delete;
    CTvkRaster& operator=(const CTvkRaster&) = delete;
    virtual ~CTvkRaster();

    // A new (not zeroed) buffer of bytes bytes. 0 bytes: false, the raster
    // unchanged. False and no buffer when memory runs out.
    bool SetSize(size_t bytes);
    uint8_t* GetPtr() const { return m_pData; }
    size_t GetSize() const { return m_nSize; }
    void Clear();

private:
    uint8_t* m_pData = nullptr;
    size_t m_nSize = 0;
};

} // namespace Imvra
} // namespace Tvk
