// Second duplex size detector: finds the sheet of a two-sided scan from the
// shadows that its leading and trailing edges cast on the two sensors.
//
// Front and back bands arrive line for line in step. One edge filter looks
// for the leading (top) shadow on one image, the other for the trailing
// (bottom) shadow on the other image. When the page is complete each edge is
// mirrored into the other side's coordinates (the back image is mirrored
// left to right and offset by the distance between the sensors), so that
// each side has a top and a bottom edge to compute its slant, corners and
// rectangle from.
#pragma once

#include "DetectSize.h"
#include "Img.h"
#include "TvkTypes.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

class CDetectSizeWithDuplex2 {
public:
    // Request, 24 words. The first image is the front image unless the swap
    // flag of Initialize is set. Words 5-10 and bFront are read again from the
    // option given to result.
    struct tagOPTION {
        uint32_t ulSize;        // sizeof(tagOPTION)
        int32_t lSensor[4];     // sensor points; not read here
        int32_t lReserved5;     // not read
        int32_t lMinLength;     // minimum paper length in lines; 0: no test
        int32_t lShortfall;     // allowed shortfall of the paper height, lines
        int32_t lFallbackTop;   // fallback rectangle: top line
        int32_t lFallbackLeft;  // left pixel
        int32_t lFallbackRight; // margin from the right border
        int32_t lEdgeTh[2];     // not read here
        int32_t lCornerMargin;  // pixels; negative: 1 mm
        int32_t lEndTrim;       // end-trim width in millimetres; negative: 5
        int32_t lOffset;        // lines of the back image behind the front
        uint8_t bFront;         // result side: 1 front, 0 back
        uint8_t bReserved16[3];
        int32_t lDrop[2];         // brightness drop, first and second image; negative: 40
        int32_t lLevel[2];        // dark level, first and second image; negative: 100
        uint8_t bTakeBottomBack;  // back side: slant from the bottom edge
        uint8_t bTakeBottomFront; // front side: the same
        uint8_t bBottomUp;        // first image runs bottom-up (whole page only)
        uint8_t bReserved21;
        uint32_t ulPass;   // bit 0 one-line filters, bit 1 no length checks
        int32_t lMedianUm; // edge smoothing half-width; 0 or less: 1000
    };
    static constexpr uint32_t kOptionSize = sizeof(tagOPTION);
    static_assert(kOptionSize == 24 * 4);
    enum : uint32_t { kPassOneLine = 1u << 0, kPassNoLengthCheck = 1u << 1 };
    using tagDETECTSIZEINFO = ::tagDETECTSIZEINFO;

    CDetectSizeWithDuplex2();
    virtual ~CDetectSizeWithDuplex2();
    CDetectSizeWithDuplex2(const CDetectSizeWithDuplex2&) = delete;
    CDetectSizeWithDuplex2& operator=(const CDetectSizeWithDuplex2&) = delete;

    // 0; kIpErrBadArgument for a wrong option size or a resolution below 1
    // (or an unsupported image); kIpErrOutOfMemory.
    uint32_t Initialize(const CImg::tagIMGSET& front, const CImg::tagIMGSET& back,
                        const tagOPTION* option, bool swap);
    uint32_t first(const CImg::tagIMGSET& front, const CImg::tagIMGSET& back) {
        return piece(front, back);
    }
    uint32_t mid(const CImg::tagIMGSET& front, const CImg::tagIMGSET& back) {
        return piece(front, back);
    }
    // 0 when both bands are empty, kIpErrBadParamBlock when only one is.
    uint32_t last(const CImg::tagIMGSET& front, const CImg::tagIMGSET& back);
    // Feeds both bands; kIpErrBadArgument for bands that disagree with each
    // other or with the page.
    uint32_t piece(const CImg::tagIMGSET& front, const CImg::tagIMGSET& back);
    // The side named by option->bFront; 0, or kIpErrBadArgument.
    uint32_t result(tagDETECTSIZEINFO* info, const tagOPTION* option);
    uint32_t get_current_option(tagOPTION* option) const;

    // Resolutions of the side's image as given at Initialize.
    int32_t xdpi(bool front) const;
    int32_t ydpi(bool front) const;
    int32_t lines() const { return m_lLines; }

    struct Filter; // edge filter of one image

private:
    struct Side {
        CImg::tagIMGSET page{};    // geometry (no buffer)
        std::vector<uint8_t> ring; // the last window lines, one byte a pixel
    };
    // One line of each image, pointing at its gray (or green) samples,
    // step bytes apart.
    void feed(const uint8_t* first, const uint8_t* second, int32_t step);
    void fixEdge();
    void calcSide(bool secondImage, tagDETECTSIZEINFO* info);
    void rollBack(tagDETECTSIZEINFO* info, const CImg::tagIMGSET& page, bool lagging) const;

    bool m_bSwap = false;
    bool m_bInitialized = false;
    bool m_bFixed = false;
    tagOPTION m_option{};
    Side m_side[2]; // first and second image
    std::unique_ptr<Filter> m_filter[2];
    std::vector<int32_t> m_receiver[2]; // the other image's edge, mirrored
    int32_t m_lWindow = 1;
    int32_t m_lOffset = 0;
    int32_t m_lLines = 0; // lines received per image
    int32_t m_l5mm = 59;
    int32_t m_lMargin = 0;
};

// Slant log: appends one line per front slant to "/tmp/detectslant.log",
// only when that file exists at the first offer in the process.
void OutputSlantData_ForDebug(Tvk::tagPOINT slant);
// Opens path for appending when it is an existing regular file of the
// calling user (no symbolic link followed); null otherwise.
FILE* SlantLogOpen(const char* path);
