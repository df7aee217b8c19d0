// Page shape stages of the generic chain: quarter turns and the top-to-bottom
// flip, colour to gray, and the side-by-side join of a sheet's front and back.
#pragma once

#include "IPBase.h"

#include <cstdint>

namespace Tvk::Imvra {

namespace KD730 {
class CShading;
}

// Turns a whole page by a multiple of 90 degrees (clockwise for positive
// angles); -180 (and angles that reduce to it) flips the page top to bottom.
// Quarter turns keep both resolutions as they are.
class CRotate90x : public CIPSameOnEveryBand {
public:
    const char* getName() const override { return "Rotate90x"; }
    // Takes a tagROTATE90XINFO of kRotate90xInfoSize with lDegree a multiple
    // of 90; else RTN_PAR.
    int setInfo(CImg& img, void* info) override;
    int setInfoFirst(CImg& img, void* info) override { return setInfo(img, info); }
    int setInfoMiddle(CImg& img, void* info) override { return setInfo(img, info); }
    int setInfoLast(CImg& img, void* info) override { return setInfo(img, info); }

    // A turn without a chain: false when degrees is not a multiple of 90 or
    // the turn did not succeed (the image is then as it was).
    static bool rotate(CImg& img, int32_t degrees);

protected:
    int process(CImg& img) override { return Rotate90x(img); }

private:
    int Rotate90x(CImg& img);

    tagROTATE90XINFO m_info{kRotate90xInfoSize, 0};
};

// 8-bit interleaved colour to 8-bit gray, band by band:
// (299 R + 587 G + 114 B) / 1000.
class CColorToGray : public CIPSameOnEveryBand {
public:
    const char* getName() const override { return "ColorToGray"; }
    // RTN_PAR unless the image has 8 bits and 3 samples.
    int setInfo(CImg& img, void* info) override;
    int setInfoFirst(CImg& img, void* info) override { return setInfo(img, info); }
    int setInfoMiddle(CImg& img, void* info) override { return setInfo(img, info); }
    int setInfoLast(CImg& img, void* info) override { return setInfo(img, info); }

protected:
    int process(CImg& img) override { return ColorToGray(img); }

private:
    static int ColorToGray(CImg& img);
};

// Settings of the side-by-side join (holds pointers: native layout).
struct tagPUTIMAGEONSIDEINFO {
    uint32_t ulSize;
    uint32_t ulAlign; // 1: output lines end on a byte; else on a 32-bit boundary
    CImg* pOther;     // the sheet's other side (its band of this call)
    uint8_t bFront;   // 1: the image given to the stage is the front
    uint8_t reserved[3];
    // Platen colour painted behind the left (front) and right (back) half
    // before the lines are copied; null leaves that half zero.
    KD730::CShading* pLeftBackground;
    KD730::CShading* pRightBackground;
};
inline constexpr uint32_t kPutImageOnSideInfoSize = sizeof(tagPUTIMAGEONSIDEINFO);

// Joins the front (left) and back (right) of a sheet into one image, band by
// band. Lines of the longer side wait in the stage for the other side's
// lines; the last band outputs all that is left, the shorter side's part
// painted as background.
class CPutImageOnSide : public CIPBase {
public:
    const char* getName() const override { return "PutImageOnSide"; }
    int IP(CImg& img) override { return PutImageOnSide(img, false); }
    int IPFirst(CImg& img) override { return PutImageOnSide(img, true); }
    int IPMiddle(CImg& img) override { return PutImageOnSide(img, true); }
    int IPLast(CImg& img) override { return PutImageOnSide(img, false); }
    // Empties the held lines, then takes the settings.
    int setInfo(CImg& img, void* info) override;
    int setInfoFirst(CImg& img, void* info) override { return setInfo(img, info); }
    // Takes the settings: RTN_PAR for a null record, a size other than
    // kPutImageOnSideInfoSize or no other image.
    int setInfoMiddle(CImg& img, void* info) override;
    int setInfoLast(CImg& img, void* info) override { return setInfoMiddle(img, info); }

    // Lines of the left (0) and right (1) side not yet output.
    const CImg& held(int side) const { return m_held[side != 0 ? 1 : 0]; }

private:
    int PutImageOnSide(CImg& img, bool middle);

    tagPUTIMAGEONSIDEINFO m_info{};
    CImg m_held[2];
};

} // namespace Tvk::Imvra
