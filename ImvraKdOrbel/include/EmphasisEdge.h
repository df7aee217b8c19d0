// Edge emphasis (sharpening or softening) of gray and colour pages, band by
// band, through the lower layer's edge filter. The filter needs neighbouring
// lines, so it holds the last lines of a band back until the next band; the
// stage keeps the page's band sizes consistent around that lag.
#pragma once

#include "EdgeFunc.h"
#include "IPBase.h"

#include <cstdint>

namespace Tvk::Imvra {

// The stage's settings record (pointer-free: eleven 32-bit words).
struct tagEMPHASISEDGESTAGEINFO {
    uint32_t ulReserved0;
    uint32_t ulReserved1;
    uint32_t ulRequestSize; // kEdgeInfoSizeParam, the lower layer's full request
    uint32_t ulLevel;       // the edge function's number; 0 is refused
    uint8_t bParam;         // the six values below are used
    uint8_t btPadding[3];
    int32_t lValues[6]; // lHighTh, lHighMul, lHighDiv, lLowTh, lLowMul, lLowDiv
};
inline constexpr uint32_t kEmphasisEdgeStageInfoSize = sizeof(tagEMPHASISEDGESTAGEINFO);
static_assert(kEmphasisEdgeStageInfoSize == 11 * sizeof(uint32_t));

class CEmphasisEdge : public CIPBase {
public:
    // Pixel-order colour takes the RGB member of the same number.
    static constexpr uint32_t kRGBNumberOffset = 512;

    CEmphasisEdge() = default;
    CEmphasisEdge(const CEmphasisEdge&) = delete;
    CEmphasisEdge& operator=(const CEmphasisEdge&) = delete;
    ~CEmphasisEdge() override { releaseEmphasisEdgeHandle(); }

    const char* getName() const override { return "EmphasisEdge"; }
    int IP(CImg& img) override;
    int IPFirst(CImg& img) override;
    int IPMiddle(CImg& img) override;
    int IPLast(CImg& img) override;
    // A whole image or a first band: the settings and a new filter for the
    // page (2 for a missing or mis-sized record, level 0 or a filter the
    // lower layer cannot make).
    int setInfo(CImg& img, void* info) override;
    int setInfoFirst(CImg& img, void* info) override { return setInfo(img, info); }
    // Later bands: the settings are checked and kept; the page goes on.
    int setInfoMiddle(CImg& img, void* info) override { return takeSettings(info); }
    int setInfoLast(CImg& img, void* info) override { return takeSettings(info); }

    // Makes the filter for the band's kind; false when the lower layer has none.
    bool createEmphasisEdgeHandle(CImg& img);
    void releaseEmphasisEdgeHandle();
    void setEmphasisEdgeHandleInfo(tagEDGEINFO& request, int32_t state, uintptr_t handle) const;

    uintptr_t handle() const { return m_hEdge; }
    int32_t state() const { return m_lState; }
    int32_t heldLines() const { return m_held.lHeight; }
    // The number and kind the last handle was made with.
    uint32_t createdNumber() const { return m_ulCreatedNumber; }
    uintptr_t createdKind() const { return m_createdKind; }

private:
    using BandCall = int32_t (*)(tagTVKIMAGEINFO*, tagTVKIMAGEINFO*, tagEDGEINFO*);

    int takeSettings(void* info);
    int startPage(CImg& img);
    // One call of the lower layer with the stage's request; the state word
    // and the handle are taken back from it.
    int32_t callFilter(BandCall fn, tagIMAGEINFO* dst, tagIMAGEINFO* src);
    // A first or middle band in place: the lines the call did not write are
    // held back and the band keeps the lines written (none: it is emptied).
    int filterBand(CImg& img, BandCall fn);

    tagEMPHASISEDGESTAGEINFO m_info{};
    uint32_t m_ulNumber = 0;
    uintptr_t m_hEdge = 0;
    int32_t m_lState = 0;
    tagIMAGEINFO m_held{}; // the page's band description; lHeight: lines held back
    uint32_t m_ulCreatedNumber = 0;
    uintptr_t m_createdKind = 0;
};

} // namespace Tvk::Imvra
