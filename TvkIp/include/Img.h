// Raster images of the page-edge detectors: one small class with a kind per
// pixel format (1-bit, 8-bit gray, 24-bit interleaved, 24-bit planar), so a
// detector can be written once for all formats. This is the detection
// layer's own image class, unrelated to the image pipeline's.
#pragma once

#include "CImgInf.h"
#include "TvkTypes.h"

#include <cstddef>
#include <cstdint>
#include <memory>

class CImg {
public:
    // Description of a raster. `sync` 0 lets Create compute the line size;
    // `pixelorder` 1 makes a 24-bit line hold three planes one after another
    // (sync / 3 bytes each), any other value interleaved triplets.
    struct tagIMGSET {
        uint8_t* pImg; // first byte of line 0, may be null for Create
        int32_t width;
        int32_t height;
        int32_t sync; // bytes per line (all planes of a planar line)
        int32_t xdpi;
        int32_t ydpi;
        int32_t bpp; // 1, 8 or 24
        int32_t pixelorder;
    };

    virtual ~CImg();
    CImg(const CImg&) = delete;
    CImg& operator=(const CImg&) = delete;

    // Pixel access; outside the raster get reads 0 and put does nothing.
    // Values: binary 0/1 (1 black), gray the byte, colour first | second << 8
    // | third << 16 (in memory or plane order).
    virtual void put(int32_t x, int32_t y, uint32_t value) = 0;
    virtual uint32_t get(int32_t x, int32_t y) const = 0;
    // Conversions to a new owning raster; null when the kind has no such
    // conversion or memory runs out.
    virtual CImg* binary(int32_t threshold) const = 0;
    virtual CImg* gray() const = 0;
    virtual CImg* color() const = 0;
    // Dark test: binary pixel set, gray below the threshold, colour second
    // sample below it. False outside the raster.
    virtual bool black(int32_t x, int32_t y, int32_t threshold) const = 0;
    // Not provided: always kIpErrFailed.
    virtual uint32_t past(int32_t x, int32_t y, const CImg* src);
    // A copy whose two resolutions equal the smaller of the two (nearest
    // pixel); null on failure or when a resolution is not positive.
    virtual CImg* rivise_resolution() const;
    // Bounding box of the pixels that are black at threshold 128, as left,
    // bottom, right, top, and one contact point per side (0 left, 1 bottom,
    // 2 right, 3 top). Without dark pixels the box is (width, -1, -1, height)
    // and the points stay as they were. Returns 0.
    virtual uint32_t rect(Tvk::tagRECT* box, Tvk::tagPOINT* points) const;
    // The w x h pixels whose top-left pixel is (x, y), as a new owning raster
    // of the same kind; parts outside the source read 0. Null for a negative
    // size or when memory runs out.
    virtual CImg* cutout(int32_t x, int32_t y, int32_t w, int32_t h) const;

    // A raster owning a copy of the set's pixels (or a zeroed buffer when the
    // set has none). Null for an unsupported depth, a bad geometry or no memory.
    static CImg* Create(const tagIMGSET& set);
    // A raster over the caller's buffer (not owned); needs pointer and sync.
    static CImg* Set(const tagIMGSET& set);
    CImg* clone() const;
    void imgset(tagIMGSET* set) const;
    // Points a non-owning raster at another buffer; an owning one is left alone.
    CImg* change_pImg(uint8_t* p);
    // Inverts every byte of a gray or colour raster; a binary one is unchanged.
    void revers();
    // Appends a band below the lines appended so far (gray and colour
    // rasters), converted to this raster's kind and clipped to its height.
    // Returns 0, kIpErrBadArgument for a band that cannot be converted or a
    // binary receiver, kIpErrOutOfMemory when the conversion runs out of memory.
    uint32_t add(const CImg* band);

    // Fast access for detectors that scan whole lines.
    bool planar() const { return m_bPlanar; }
    // Bytes of one plane of a planar line, else of the whole line.
    int32_t planeSync() const { return m_bPlanar ? sync / 3 : sync; }
    uint8_t* line(int32_t y) const { return pImg + static_cast<ptrdiff_t>(y) * sync; }
    bool owns() const { return m_bOwn; }
    int32_t linesAdded() const { return m_lAdded; }

    // Geometry, read by the detectors directly.
    uint8_t* pImg = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    int32_t sync = 0;
    int32_t xdpi = 0;
    int32_t ydpi = 0;
    int32_t bpp = 0;

protected:
    explicit CImg(bool planar = false) : m_bPlanar(planar) {}
    bool inside(int32_t x, int32_t y) const { return x >= 0 && y >= 0 && x < width && y < height; }

private:
    static CImg* Make(const tagIMGSET& set);

    bool m_bOwn = false;
    const bool m_bPlanar;
    int32_t m_lAdded = 0; // lines appended by add (may exceed the height)
};

using CImgPtr = std::unique_ptr<CImg>;

// 1 bit a pixel, most significant bit first; a set bit is black.
class CBinaryImg : public CImg {
public:
    CBinaryImg() = default;
    void put(int32_t x, int32_t y, uint32_t value) override;
    uint32_t get(int32_t x, int32_t y) const override;
    CImg* binary(int32_t threshold) const override;
    CImg* gray() const override;
    CImg* color() const override;
    bool black(int32_t x, int32_t y, int32_t threshold) const override;
    CImg* cutout(int32_t x, int32_t y, int32_t w, int32_t h) const override;
    bool dark(int32_t x, int32_t y) const { return (line(y)[x >> 3] >> (7 - (x & 7))) & 1; }
};

// 8 bits a pixel.
class CGrayImg : public CImg {
public:
    CGrayImg() = default;
    void put(int32_t x, int32_t y, uint32_t value) override;
    uint32_t get(int32_t x, int32_t y) const override;
    CImg* binary(int32_t threshold) const override;
    CImg* gray() const override;
    CImg* color() const override;
    bool black(int32_t x, int32_t y, int32_t threshold) const override;
};

// 24 bits a pixel, three interleaved samples.
class CColorImg : public CImg {
public:
    CColorImg() = default;
    void put(int32_t x, int32_t y, uint32_t value) override;
    uint32_t get(int32_t x, int32_t y) const override;
    CImg* binary(int32_t threshold) const override;
    CImg* gray() const override;
    CImg* color() const override;
    bool black(int32_t x, int32_t y, int32_t threshold) const override;

protected:
    explicit CColorImg(bool planar) : CImg(planar) {}
};

// 24 bits a pixel, each line holding three planes of sync / 3 bytes.
class CColorImg2 : public CColorImg {
public:
    CColorImg2() : CColorImg(true) {}
    void put(int32_t x, int32_t y, uint32_t value) override;
    uint32_t get(int32_t x, int32_t y) const override;
    CImg* binary(int32_t threshold) const override;
    CImg* gray() const override;
    CImg* color() const override;
    bool black(int32_t x, int32_t y, int32_t threshold) const override;
    // First byte of plane k (0, 1, 2) of line y.
    uint8_t* plane(int32_t y, int k) const {
        return line(y) + static_cast<ptrdiff_t>(k) * planeSync();
    }
};

// Fills a raster description from an image record; a null record (or set)
// leaves the set unchanged.
void Convert_TVKIMAGEINFOtoIMGSET(const tagTVKIMAGEINFO* info, CImg::tagIMGSET* set,
                                   bool descriptionOnly = false);

// Flat-line tests on line 0 of a description: true when every pixel of the
// line equals its first pixel. Other depths, a null buffer or an empty line
// give false.
bool is_artful_image(const CImg::tagIMGSET& set);
bool is_artful_image_gray(const CImg::tagIMGSET& set);
bool is_artful_image_color(const CImg::tagIMGSET& set);
