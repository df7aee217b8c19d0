// Shading correction: evens out the sensor's pixel-to-pixel differences of
// sensitivity and dark level and turns 16-bit (12-bit valued) or 8-bit
// samples into 8-bit image data. The shading data of a side are made once
// from a white and a black reference line; the stage applies them to every
// band. The stage also keeps the platen colour (the colour the scanner's
// background shows after shading) and paints it into images on request.
#pragma once

#include "IPBase.h"
#include "ImgEdit.h"

#include <cstddef>
#include <cstdint>

namespace Tvk::Imvra::KD730 {

// The average colour of a line.
struct tagSHADING_AVARAGE {
    uint16_t gray = 0;
    uint16_t red = 0;
    uint16_t green = 0;
    uint16_t blue = 0;
    bool isColor = false; // three samples
};

// Target levels (gray, red, green, blue) by target row (the sensor layout index).
inline constexpr int32_t SHADING_TARGET[2][4] = {{4607, 4591, 4527, 4485},
                                                 {4557, 4541, 4477, 4435}};

// Line routines of the stage: out = min(255, (max(s - b, 0) x w) >> 12) for
// 8-bit samples, >> 16 for 16-bit samples. The SSE2 forms (sse2 true, when
// the processor has it) give the same bytes as the plain loops.
namespace ShadingLine {
void Gray8(uint8_t* out, const uint8_t* src, const uint16_t* w, const uint16_t* b, size_t n,
           bool sse2);
void Gray16(uint8_t* out, const uint16_t* src, const uint16_t* w, const uint16_t* b, size_t n,
            bool sse2);
// A line of three planes into interleaved pixels; one black sample per pixel
// for all three channels.
void Planar8(uint8_t* out, const uint8_t* const src[3], const uint16_t* const w[3],
             const uint16_t* b, size_t n, bool sse2);
void Planar16(uint8_t* out, const uint16_t* const src[3], const uint16_t* const w[3],
              const uint16_t* b, size_t n);
} // namespace ShadingLine

class CShading : public CIPSameOnEveryBand {
public:
    const char* getName() const override { return "Shading"; }
    // Takes a tagSHADINGINFO of size kShadingInfoSize (a deep copy).
    int setInfo(CImg& img, void* info) override;
    int setInfoFirst(CImg& img, void* info) override { return setInfo(img, info); }
    int setInfoMiddle(CImg& img, void* info) override { return setInfo(img, info); }
    int setInfoLast(CImg& img, void* info) override { return setInfo(img, info); }

    // Turns the white and black references of one side (16-bit, one line,
    // equal sizes) into the shading lines, in place, and sets the platen
    // colour. whiteOrg is the white before the light-curve correction;
    // blackOrg is not read. targetRow picks the row of SHADING_TARGET.
    // RTN_PAR, nothing changed, when the references do not fit.
    int makeShadingData(CImg& white, CImg& black, CImg& whiteOrg, CImg& blackOrg,
                        int32_t targetRow);
    // The platen colour becomes the average of a one-line 8-bit or 16-bit image.
    int makeShadingData(CImg& line);
    // Replaces the band by its shaded 8-bit interleaved form.
    int Shading(CImg& img);
    // Fills everything outside the rectangle with the platen colour (an
    // all-zero rectangle: the whole image). A planar image is first made
    // anew as an interleaved one (its contents dropped).
    int fixPlatenImage(CImg& img, tagKDRECT rect);
    int fixPlatenImage(CImg& img) { return fixPlatenImage(img, tagKDRECT{0, 0, 0, 0}); }
    // Rewrites a white line as byte-swapped ((s & 0x3FFF) >> 5) and a black
    // line as byte-swapped (s x 4).
    static void formatShadingData9(CImg& white, CImg& black);

    const tagSHADING_AVARAGE& platenColor() const { return m_platen; }
    const tagSHADINGINFO& shadingInfo() const { return m_info; }

    // The average of a one-line 16-bit image (8-bit: capped at 255).
    static int makeShadingAvarage16(const CImg& img, tagSHADING_AVARAGE& avg);
    static int makeShadingAvarage8(const CImg& img, tagSHADING_AVARAGE& avg);

protected:
    int process(CImg& img) override { return Shading(img); }

private:
    tagSHADINGINFO m_info;
    tagSHADING_AVARAGE m_platen;
};

} // namespace Tvk::Imvra::KD730
