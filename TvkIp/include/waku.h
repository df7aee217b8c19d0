// Where the content of a page lies: the content box, the content span of one
// or a few rows, a frame on a reduced gray page, the left and right outlines
// of the content row by row, and masking everything outside an outline.
//
// For these detectors a clear pixel is content and a set pixel background.
// A set pixel of a 1-bit page is dark, and gray pages are binarised to the
// same polarity, so the content found is the light paper against a dark
// backing.
#pragma once

#include "CImgInf.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>

// An owning array that allocates without throwing: a failed allocation
// leaves it empty and is reported by the result.
template <typename T> class CBuffer {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    CBuffer() = default;
    explicit CBuffer(size_t n) { Allocate(n); }
    CBuffer(size_t n, const T& fill) {
        if (Allocate(n)) Fill(fill);
    }
    CBuffer(const CBuffer&) = delete;
    CBuffer& operator=(const CBuffer&) = delete;
    ~CBuffer() { Free(); }

    // Replaces the contents by n uninitialised entries; false (and empty)
    // when memory runs out. n = 0 just frees.
    bool Allocate(size_t n) {
        Free();
        if (n == 0) return true;
        m_p = new (std::nothrow) T[n];
        if (m_p == nullptr) return false;
        m_n = n;
        return true;
    }
    // Keeps the first entries; new ones are uninitialised. False (contents
    // kept) when memory runs out.
    bool Resize(size_t n) {
        if (n == 0) {
            Free();
            return true;
        }
        T* p = new (std::nothrow) T[n];
        if (p == nullptr) return false;
        if (m_p != nullptr) std::memcpy(p, m_p, (n < m_n ? n : m_n) * sizeof(T));
        delete[] m_p;
        m_p = p;
        m_n = n;
        return true;
    }
    // Removes count entries from first on and closes the gap.
    void Delete(size_t first, size_t count) {
        if (first >= m_n) return;
        if (count > m_n - first) count = m_n - first;
        std::memmove(m_p + first, m_p + first + count, (m_n - first - count) * sizeof(T));
        m_n -= count;
    }
    void Fill(const T& v) {
        for (size_t i = 0; i < m_n; ++i) m_p[i] = v;
    }
    void Zero() {
        if (m_p != nullptr) std::memset(static_cast<void*>(m_p), 0, m_n * sizeof(T));
    }
    // Bytes: inverts every byte.
    void Reverse() requires std::is_same_v<T, uint8_t> {
        for (size_t i = 0; i < m_n; ++i) m_p[i] = static_cast<uint8_t>(~m_p[i]);
    }
    // Hands the array over; the buffer is empty afterwards.
    T* Detach() {
        T* p = m_p;
        m_p = nullptr;
        m_n = 0;
        return p;
    }
    void Free() {
        delete[] m_p;
        m_p = nullptr;
        m_n = 0;
    }

    T* Ptr() const { return m_p; }
    size_t Count() const { return m_n; }
    T& operator[](size_t i) const { return m_p[i]; }

private:
    T* m_p = nullptr;
    size_t m_n = 0;
};

// One pair of run lengths of a row: a run of set pixels followed by a run of
// clear pixels. A row starts with a set run (0 when it starts clear). The
// lengths are 32-bit so that rows and columns of any page length fit.
struct tagBWT {
    uint32_t black; // set pixels
    uint32_t white; // clear pixels
};

// A signed block of a list: start and length.
class CBlockLen {
public:
    CBlockLen() = default;
    CBlockLen(int32_t start, int32_t len) : m_lStart(start), m_lLen(len) {}
    void Set(int32_t start, int32_t len) {
        m_lStart = start;
        m_lLen = len;
    }
    void Init() { Set(0, 0); }
    int32_t Start() const { return m_lStart; }
    int32_t Len() const { return m_lLen; }
    int32_t End() const { return m_lStart + m_lLen; }
    // Becomes the smallest block covering both; the other block is reset.
    void Marge(CBlockLen& other);

private:
    int32_t m_lStart = 0;
    int32_t m_lLen = 0;
};

// Runs of n pixels of a 1-bit row from pixel `start`, appended as normalised
// pairs to `pairs` (which must hold n / 2 + 2 entries). Returns the pair count.
size_t MakeBWLenData(const uint8_t* line, int64_t start, int64_t n, tagBWT* pairs);
// Normalises pairs in place (empty runs dropped, runs of one colour joined,
// pairs starting with the set run); returns the new count.
size_t CheckBWLenData(tagBWT* pairs, size_t count);
// Erases clear runs shorter than max(a, b), then bridges set runs shorter
// than it inside the row. Returns the new count.
size_t BWTDotErase(tagBWT* pairs, size_t count, int64_t a, int64_t b);
// Content span of a row of n pixels after the erasure: true with the first
// content pixel and the length, false when there is none.
bool DetectWidthBin(const uint8_t* line, int64_t start, int64_t n, int64_t a, int64_t b,
                    tagBWT* work, int64_t* spanStart, int64_t* spanLen);

// Request and result of DetectWidth, DetectWaku, DetectLineWidth and
// DetectLinesWidth. Fields beyond ulSize count as 0.
struct tagDETWAKUINFO {
    uint32_t ulSize;
    int32_t lLeft;   // DetectWidth: left column; line exports: first content pixel
    int32_t lTop;    // top row
    int32_t lWidth;  // DetectWidth: width; line exports: last pixel (see each export)
    int32_t lHeight; // height
    int32_t lReserved[2];
    int32_t lMinRunA; // micrometres (0: 2000)
    int32_t lMinRunB; // micrometres (0: 2000)
    int32_t lSlice;   // binarisation level for gray pages
};
static_assert(sizeof(tagDETWAKUINFO) == 40);
inline constexpr uint32_t kDetWakuInfoSize = sizeof(tagDETWAKUINFO);
// The minimum run lengths are read from this size on.
inline constexpr uint32_t kDetWakuInfoSizeMinRun = offsetof(tagDETWAKUINFO, lSlice);
// Smallest record that has room for the four result words.
inline constexpr uint32_t kDetWakuInfoSizeResult = offsetof(tagDETWAKUINFO, lReserved);
static_assert(kDetWakuInfoSizeMinRun != kDetWakuInfoSize);

// Request and result of the outline exports. Fields beyond ulSize count as 0.
struct tagDETOUTLINEINFO {
    uint32_t ulSize;
    int32_t lMinRunA; // micrometres (0: 2)
    int32_t lMinRunB; // micrometres (0: 2)
    int32_t bDone;    // 1 when the outlines below are filled
    Tvk::tagPOINT* pLeft;
    int32_t lLeftCount;
    Tvk::tagPOINT* pRight;
    int32_t lRightCount;
    int32_t lSlice;
    int32_t lMaskMargin; // ImageMask: negative moves the mask inwards (micrometres)
    uint32_t ulFlags;    // bit 0: median smoothing of the outlines
    int32_t lTraceParam; // tolerance of the contour tracer, micrometres (0: 1000)
};
inline constexpr uint32_t kDetOutlineInfoSize = sizeof(tagDETOUTLINEINFO);
// Smallest record that has room for the outlines.
inline constexpr uint32_t kDetOutlineInfoSizeResult = offsetof(tagDETOUTLINEINFO, lSlice);
static_assert(kDetOutlineInfoSizeResult != kDetOutlineInfoSize);

// Reduction factor of the frame detector for a resolution, 0 when there is
// none (0 counts as 300).
int32_t WakuReductionFactor(int32_t resolution);

// Outline tracers on a point list. TraceOutline keeps the hull chain seen from
// the left (side 0) or the right (side 1); TraceContour simplifies a closed
// outline to within `tolerance` micrometres. Both return false when memory
// runs out (the list is then unchanged).
bool TraceOutline(CBuffer<Tvk::tagPOINT>& pts, int side);
bool TraceContour(CBuffer<Tvk::tagPOINT>& pts, int32_t xres, int32_t yres, int32_t tolerance);
// Running-median smoothing of an outline with a window of w points.
bool MedianOutline(CBuffer<Tvk::tagPOINT>& pts, int32_t w);
// Sets the pixels of the trapezoid with the given corners (top corners on
// one row, bottom corners on one row) to value; clipped to the page.
void FillTrapezoid(tagTVKIMAGEINFO* image, Tvk::tagPOINT topLeft, Tvk::tagPOINT topRight,
                   Tvk::tagPOINT bottomLeft, Tvk::tagPOINT bottomRight, uint32_t value);

// Binarises a gray (mode 0) or colour (colourKind) page into the 1-bit dst
// with dark pixels set; the level defaults as for Binalise. False when the
// binarisation fails. Other sample counts leave dst as it is.
bool BinarizeDarkSet(CImageInfo& dst, const CImageInfo& src, int autoLevel, int32_t level,
                     uint32_t colourKind);
// Binarises a gray (mode 0) or colour (mode 6) page into the 1-bit dst and
// leaves light pixels set. Levels outside 1-255 take 90 (gray) or 75
// (colour); autoLevel takes the mean of the two histogram peaks for gray.
bool Binalise(CImageInfo& dst, const CImageInfo& src, int autoLevel, int32_t level);
// Gray row to bits: a pixel below level sets its bit.
void Gray2Bin(uint8_t* dst, const uint8_t* src, int64_t n, int32_t level);

extern "C" {
IMVRA_EXPORT int32_t* DetectWidth(tagTVKIMAGEINFO* image, tagDETWAKUINFO* info);
IMVRA_EXPORT int32_t* DetectLineWidth(tagTVKIMAGEINFO* image, tagDETWAKUINFO* info);
IMVRA_EXPORT int32_t* DetectLinesWidth(tagTVKIMAGEINFO* image, tagDETWAKUINFO* info);
// 8-bit gray pages: the frame in page pixels, or null (all six result words 0).
IMVRA_EXPORT int32_t* DetectWaku(tagTVKIMAGEINFO* image, tagDETWAKUINFO* info);
// Outlines into the record: 0, or -1 with the last error set.
IMVRA_EXPORT int32_t DetectOutline(tagTVKIMAGEINFO* image, tagDETOUTLINEINFO* info);
IMVRA_EXPORT int32_t DetectOutlineBin(tagTVKIMAGEINFO* image, tagDETOUTLINEINFO* info);
IMVRA_EXPORT int32_t DetectContourBin(tagTVKIMAGEINFO* image, tagDETOUTLINEINFO* info);
// Fills everything outside the outline (detected first when bDone is 0)
// with white.
IMVRA_EXPORT int32_t ImageMask(tagTVKIMAGEINFO* image, tagDETOUTLINEINFO* info);
// Frees both point arrays and clears bDone and the outline words.
IMVRA_EXPORT void ReleaseOutline(tagDETOUTLINEINFO* info);
}
