// Colour-gap correction (the colour fringes a sheet-fed sensor leaves because
// red, green and blue see the paper at slightly different moments), band by
// band through the lower layer, and the correction of pages scanned in an
// unusual direction (turned or mirrored), with their detected corners.
#pragma once

#include "IPBase.h"
#include "tvkcolorgap.h"

#include <cstdint>

namespace Tvk::Imvra {

// Settings of the colour-gap stage (pointer-free, fixed layout).
struct tagCOLORGAPCORRECTINFO {
    uint32_t ulSize;
    uint32_t ulSetting; // the lower layer's light order (0: none)
};
inline constexpr uint32_t kColorGapCorrectInfoSize = sizeof(tagCOLORGAPCORRECTINFO);
static_assert(kColorGapCorrectInfoSize == 8);

// The limits of the whole-page correction by vertical resolution; null for a
// resolution without its own table.
const tagGAPPARAM* ColorGapParamFor(int32_t yResolution);

// Band-wise colour-gap correction of 24-bit interleaved colour. The lower
// layer holds back the last lines of every band until it has seen the lines
// after them; the last band (also an empty one) brings them out.
class CColorGapCorrect : public CIPBase {
public:
    CColorGapCorrect() = default;
    CColorGapCorrect(const CColorGapCorrect&) = delete;
    CColorGapCorrect& operator=(const CColorGapCorrect&) = delete;
    ~CColorGapCorrect() override;

    const char* getName() const override { return "ColorGapCorrect"; }
    int IP(CImg& img) override;
    int IPFirst(CImg& img) override;
    int IPMiddle(CImg& img) override { return CorrectColorGap(img, false); }
    int IPLast(CImg& img) override { return CorrectColorGap(img, true); }
    // Takes the settings (kColorGapCorrectInfoSize, else RTN_PAR) and starts
    // a page: no lines held.
    int setInfo(CImg& img, void* info) override;
    int setInfoFirst(CImg& img, void* info) override { return setInfo(img, info); }
    // Takes the settings only; the held lines stay.
    int setInfoMiddle(CImg& img, void* info) override;
    int setInfoLast(CImg& img, void* info) override { return setInfoMiddle(img, info); }

    bool hasHandle() const { return m_handle != nullptr; }
    // Lines the lower layer may still hold back.
    int32_t heldLines() const { return m_heldLines; }

private:
    int CorrectColorGap(CImg& img, bool last);
    void Release();
    COLORGAPINFO Request(bool last) const;

    tagCOLORGAPCORRECTINFO m_info{kColorGapCorrectInfoSize, 0};
    CTvkColorGap* m_handle = nullptr;
    int32_t m_heldLines = 0;
    tagIMAGEINFO m_held{}; // layout of the lines held back
};

namespace KD730 {

// Settings of the scanning-direction stage (holds pointers: native layout).
struct tagSCANNINGDIRECTIONINFO {
    uint32_t ulDirectionCode; // 0, 4 nothing; 2 turn by 180; 6 back turned (not done); 8 mirror
    int32_t lLines[3];        // their sum: the page's expected length
    tagDETECT4POINTSINFO* pDetect4Points; // the side's corners, moved with the page; or null
    tagRMVSHADOWINFO* pShadow; // scanner margins exchanged on a turn; or null
    uint32_t ulReserved;       // not read
};
inline constexpr uint32_t kScanningDirectionInfoSize = sizeof(tagSCANNINGDIRECTIONINFO);

// Puts right a page scanned in an unusual direction: shortens it to its
// expected length, turns it by 180 degrees or mirrors it, and moves the
// detected corners with it.
class CCorrectUnusualScanningDirection : public CIPSameOnEveryBand {
public:
    const char* getName() const override { return "CorrectUnusualScanningDirection"; }
    // RTN_PAR for a null record, a corner record under
    // kDetect4PointsInfoMinSize or a shadow record under kRmvShadowInfoSize.
    int setInfo(CImg& img, void* info) override;
    int setInfoFirst(CImg& img, void* info) override { return setInfo(img, info); }
    int setInfoMiddle(CImg& img, void* info) override { return setInfo(img, info); }
    int setInfoLast(CImg& img, void* info) override { return setInfo(img, info); }

protected:
    int process(CImg& img) override { return CorrectUnusualScanningDirection(img); }

private:
    int CorrectUnusualScanningDirection(CImg& img);
    int CorrectUnusualScanningF180(CImg& img);
    static int CorrectUnusualScanningB180(CImg&) { return RTN_UNSUPPORTED; }
    int CorrectUnusualScanningMirror(CImg& img);

    tagSCANNINGDIRECTIONINFO m_info{};
};

} // namespace KD730
} // namespace Tvk::Imvra
