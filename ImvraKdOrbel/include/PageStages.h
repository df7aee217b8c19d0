// Small page stages: inversion of gray and binary pages, removal of the feed
// shadow, lightening of show-through on colour pages, and detection of the
// text orientation (through the platform's orientation layer).
#pragma once

#include "IPBase.h"

#include <cstdint>

namespace Tvk::Imvra {

// Inverts every pixel of a one-sample band.
class CInverse : public CIPSameOnEveryBand {
public:
    const char* getName() const override { return "Inverse"; }
    int setInfo(CImg&, void*) override { return RTN_OK; }
    int setInfoFirst(CImg&, void*) override { return RTN_OK; }
    int setInfoMiddle(CImg&, void*) override { return RTN_OK; }
    int setInfoLast(CImg&, void*) override { return RTN_OK; }

protected:
    int process(CImg& img) override;
};

// Lightens show-through from the back of thin paper on colour bands.
class CEraseBackPage : public CIPSameOnEveryBand {
public:
    const char* getName() const override { return "EraseBackPage"; }
    int setInfo(CImg& img, void* info) override;
    int setInfoFirst(CImg& img, void* info) override { return setInfo(img, info); }
    int setInfoMiddle(CImg& img, void* info) override { return setInfo(img, info); }
    int setInfoLast(CImg& img, void* info) override { return setInfo(img, info); }

protected:
    int process(CImg& img) override;

private:
    uint32_t m_gain = 0;
    uint32_t m_threshold = 0;
};

// Finds the orientation of the text on a whole page. result() is the
// clockwise angle (0, 90, 180, 270) by which the text is turned from
// upright; a turn by 360 - result() sets the page upright. A page whose
// orientation cannot be decided gives 0.
class CTextImageDirection : public CIPBase {
public:
    // A non-empty path names the folder of the recognition data.
    explicit CTextImageDirection(const char* ocrPath = nullptr);
    CTextImageDirection(const CTextImageDirection&) = delete;
    CTextImageDirection& operator=(const CTextImageDirection&) = delete;
    ~CTextImageDirection() override { closeLibrary(); }

    const char* getName() const override { return "TextImageDirection"; }
    int IP(CImg& img) override { return TextImageDirection(img); }
    int IPFirst(CImg&) override { return RTN_UNSUPPORTED; }
    int IPMiddle(CImg&) override { return RTN_UNSUPPORTED; }
    int IPLast(CImg&) override { return RTN_UNSUPPORTED; }
    int setInfo(CImg& img, void* info) override;
    int setInfoFirst(CImg& img, void* info) override { return setInfo(img, info); }
    int setInfoMiddle(CImg& img, void* info) override { return setInfo(img, info); }
    int setInfoLast(CImg& img, void* info) override { return setInfo(img, info); }

    int result() const { return m_result; }

    int openLibrary();
    int execLibrary(CImg& img);
    void closeLibrary();
    // -1902, -1002 and -1904 (memory) give RTN_MEM, every other value RTN_PAR.
    static int dispatchError(int code);
    static int dispatchWarning(int) { return RTN_PAR; }

private:
    int TextImageDirection(CImg& img);

    uint32_t m_lang = 0;
    uint32_t m_codePage = 0;
    int m_result = 0;
    uint32_t m_openLang = 0; // 0: closed
    uint32_t m_openCodePage = 0;
};

namespace KD730 {

// Shadow stage record (pointer-free: fixed layout).
struct tagRMVSHADOWSTAGEINFO {
    uint32_t ulSize;  // kRmvShadowStageInfoSize
    int32_t lLength;  // lines, at least 1
    int32_t lMargin;  // lines
    int32_t lTopFlag; // 1: the margin counts from the top of the page, 0: from the bottom
};
inline constexpr uint32_t kRmvShadowStageInfoSize = sizeof(tagRMVSHADOWSTAGEINFO);
static_assert(kRmvShadowStageInfoSize == 16);

// Removes the shadow line that the feed leaves near the top or bottom of a
// whole page.
class CRmvShadow : public CIPBase {
public:
    const char* getName() const override { return "RmvShadow"; }
    int IP(CImg& img) override;
    int IPFirst(CImg&) override { return RTN_UNSUPPORTED; }
    int IPMiddle(CImg&) override { return RTN_UNSUPPORTED; }
    int IPLast(CImg&) override { return RTN_UNSUPPORTED; }
    int setInfo(CImg& img, void* info) override;
    int setInfoFirst(CImg& img, void* info) override { return setInfo(img, info); }
    int setInfoMiddle(CImg& img, void* info) override { return setInfo(img, info); }
    int setInfoLast(CImg& img, void* info) override { return setInfo(img, info); }

private:
    tagRMVSHADOWSTAGEINFO m_info{};
};

} // namespace KD730

} // namespace Tvk::Imvra
