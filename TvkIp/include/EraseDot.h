// Dot erasure: removes isolated specks (a blot that fits in 3 x 3 pixels and
// touches no black pixel of the ring around it) from a 1-bit image, in one
// call or in strips that carry their last lines over to the next strip.
#pragma once

#include "CImgInf.h"

#include <cstdint>
#include <memory>

struct tagERASEDOTINFO {
    uint32_t size;     // at least kEraseDotInfoMinSize
    uint32_t polarity; // non-zero: a 1 bit is black; 0: a 0 bit is black
    void* handle;      // the CEraseDot worker; null until made
};
// The record must reach the handle word.
inline constexpr uint32_t kEraseDotInfoMinSize = sizeof(tagERASEDOTINFO);

// Lines carried from one strip to the next.
class CKeepingLines {
public:
    CKeepingLines() = default;
    CKeepingLines(const CKeepingLines&) = delete;
    CKeepingLines& operator=(const CKeepingLines&) = delete;
    virtual ~CKeepingLines() = default;

    // Appends all lines of the image below the kept lines. False when memory
    // runs out or the image does not match the kept lines (nothing changes).
    bool PushBack(const tagTVKIMAGEINFO* image);
    // Moves up to `lines` lines from the top into the image's buffer; returns
    // how many were moved. The image must match the kept lines.
    int32_t PopFront(tagTVKIMAGEINFO* image, int32_t lines);
    void Clear();

    int32_t KeptLines() const { return m_lLines; }

protected:
    bool Matches(const tagTVKIMAGEINFO* image) const;

    std::unique_ptr<uint8_t[]> m_pKept;
    int32_t m_lLines = 0;
    int32_t m_lWidth = 0, m_lSync = 0, m_lBps = 0, m_lSpp = 0;
    uint32_t m_ulOrder = 0;
};

class CEraseDot : public CKeepingLines {
public:
    explicit CEraseDot(uint32_t polarity = 1) : m_ulPolarity(polarity) {}
    void SetPolarity(uint32_t polarity) { m_ulPolarity = polarity; }
    uint32_t Polarity() const { return m_ulPolarity; }

    // Whole image: copies src into dst and erases the dots of dst. 1, or -1
    // for images that are not equal 1-bit images.
    int32_t Func(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src);
    int32_t Func(tagTVKIMAGEINFO* image) { return Func(image, image); }
    // Strips: the lines the call delivers (a query when dst is null), or -1
    // for mismatched images or lacking memory.
    int32_t Start(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src);
    int32_t Cont(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src);
    int32_t Finish(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src);

    // The erasing pass over a 1-bit buffer in place.
    static void ErasePass(uint8_t* image, int32_t width, int32_t height, int32_t sync,
                          uint32_t polarity);

protected:
    int32_t Func_SliceOfImage(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, int32_t r);
    int32_t Strip(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, int32_t held);

    uint32_t m_ulPolarity;
};

extern "C" {
IMVRA_EXPORT void* CreateEraseDotHandle(tagERASEDOTINFO* info);
IMVRA_EXPORT void ReleaseEraseDotHandle(tagERASEDOTINFO* info);
IMVRA_EXPORT int32_t EraseDot(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagERASEDOTINFO* info);
IMVRA_EXPORT int32_t EraseDotStart(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src,
                                   tagERASEDOTINFO* info);
IMVRA_EXPORT int32_t EraseDotCont(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src,
                                  tagERASEDOTINFO* info);
IMVRA_EXPORT int32_t EraseDotEnd(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagERASEDOTINFO* info);
}
