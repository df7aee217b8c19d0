// The deskew stage: the lower layer's rotation turns and cuts the page by its
// detected corners, and the background around the paper is painted in the
// platen colour (or a given colour).
#pragma once

#include "IPBase.h"
#include "ImgEdit.h"
#include "RotateImage.h"
#include "TvkTypes.h"

namespace Tvk::Imvra {

namespace KD730 {
class CShading;
}

// Settings of the deskew stage, filled by the engine (holds a pointer:
// native layout).
struct tagSKEWCORRECTIONSTAGEINFO {
    // Page geometry: the corners and the slant; after a turn, the turned
    // page's corners and the sine and cosine (x 1024) of the turn.
    Tvk::tagPOINT LeftTop;
    Tvk::tagPOINT RightTop;
    Tvk::tagPOINT LeftBottom;
    Tvk::tagPOINT RightBottom;
    Tvk::tagPOINT vectorSlant;
    int32_t lWidth;            // size of the result image
    int32_t lHeight;
    uint32_t bPaperSize;       // non-zero: the result takes the paper size instead
    uint32_t ulPlacement;      // 1: the paper lies at the right edge
    KD730::CShading* pShading; // platen background; null: bgColor
    Tvk::tagRGBQUAD bgColor;
    uint8_t bByContents;       // deskew by the slant of the contents
    uint8_t ucContentsLevel;   // binarisation level of that, used as 1 to 254
};
inline constexpr uint32_t kSkewCorrectionStageInfoSize = sizeof(tagSKEWCORRECTIONSTAGEINFO);

class CSkewCorrection : public CIPSameOnEveryBand {
public:
    const char* getName() const override { return "SkewCorrection"; }
    // RTN_PAR for a null record, RTN_UNSUPPORTED for a binary page.
    int setInfo(CImg& img, void* info) override;
    int setInfoFirst(CImg& img, void* info) override { return setInfo(img, info); }
    int setInfoMiddle(CImg& img, void* info) override { return setInfo(img, info); }
    int setInfoLast(CImg& img, void* info) override { return setInfo(img, info); }

    // The geometry after the last turn (and the rest of the settings).
    const tagSKEWCORRECTIONSTAGEINFO& settings() const { return m_info; }

    // The lower layer's rotation request for the settings: corners and
    // slant, right anchoring, bilinear sampling, a whole page, no fill. With
    // deskew by contents, the text-slant record (working resolution 150)
    // and its binarisation request (the level held to 1..254) are filled and
    // the request points to them.
    static void MakeRotateRequest(const tagSKEWCORRECTIONSTAGEINFO& settings,
                                  tagROTATEINFO& request, tagBINFUNCINFO& binarise,
                                  tagDETECTTEXTSLANTINFO& slant);

protected:
    int process(CImg& img) override { return SkewCorrection(img); }

private:
    int SkewCorrection(CImg& img);
    // Paints everything outside rect with the background.
    int SetBackgroundColor(CImg& img, tagKDRECT rect);

    tagSKEWCORRECTIONSTAGEINFO m_info{};
};

} // namespace Tvk::Imvra
