// Colour-gap correction: turns the false-colour fringes that a sheet-fed
// colour sensor leaves above and below dark edges gray, band by band.
#pragma once

#include "CImgInf.h"

#include <cstddef>
#include <cstdint>

// Thirteen limits of the class map (channel values compared are 0..248 in
// steps of 8).
struct tagGAPPARAM {
    uint32_t dwGapParamSize; // must be kGapParamSize for the limits to be used
    int32_t lLimit[13];      // P1 .. P13
};
inline constexpr uint32_t kGapParamSize = sizeof(tagGAPPARAM);

class CTvkColorGap;

// Colour-gap request. Fields beyond ulSize are not read.
struct COLORGAPINFO {
    uint32_t ulSize;
    uint8_t bLastBand;         // 1: this call carries the last band (first call: the whole page)
    int32_t lDelayLines;       // out: lines by which output lags input (13)
    CTvkColorGap* pColorGap;   // the worker between calls; null before the first and after the last
    tagGAPPARAM* pGapParam;    // optional limits of the class map
    uint8_t* pByteTable;       // optional class map of the caller
    uint32_t ulByteTableSize;  // must be kColorGapMapSize for pByteTable to count
    uint8_t* pJudgeTable;      // optional transition table of the caller
    uint32_t ulJudgeTableSize; // must be kColorGapJudgeSize for pJudgeTable to count
    uint32_t ulLightOrder;     // order of the light sources 1..5 (full-size records only; 0 none)
    uint8_t reserved[48];
};
// Smallest record: through the worker pointer.
inline constexpr uint32_t kColorGapInfoSizeMin =
    offsetof(COLORGAPINFO, pColorGap) + sizeof(CTvkColorGap*);
// The light order is read only from a full-size record.
inline constexpr uint32_t kColorGapInfoSizeLightOrder = sizeof(COLORGAPINFO);
static_assert(kColorGapInfoSizeMin < kColorGapInfoSizeLightOrder);

inline constexpr uint32_t kColorGapMapSize = 32768;  // one class per RGB555 word
inline constexpr uint32_t kColorGapJudgeSize = 1024; // (previous class << 5) | class
inline constexpr int32_t kColorGapDelay = 13;        // output lags input by this many lines

// Result codes.
inline constexpr uint32_t kColorGapOk = 0;
inline constexpr uint32_t kColorGapNoMemory = 8;
inline constexpr uint32_t kColorGapBadParam = 13;

extern "C" {
// Corrects a band of 24-bit interleaved RGB (R first) into dst (which may be
// the same image). On return dst's lHeight holds the lines written by this
// call. 0 done, 8 memory exhausted (or, for a whole page in one call, images
// of different size), 13 bad parameters or a destination too small for the
// lines due (nothing is taken in then; the call may be repeated).
IMVRA_EXPORT uint32_t ColorGapCorrect(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src,
                                      COLORGAPINFO* info);
// Destroys the worker of an abandoned page and clears pColorGap.
IMVRA_EXPORT void ReleaseColorGapHandle(COLORGAPINFO* info);
}

// The worker kept between the band calls.
class CTvkColorGap {
public:
    CTvkColorGap() = default;
    ~CTvkColorGap();
    CTvkColorGap(const CTvkColorGap&) = delete;
    CTvkColorGap& operator=(const CTvkColorGap&) = delete;

    // Tables and rings for pages of src's width; 0 or 8.
    uint32_t Initialize(const tagTVKIMAGEINFO* src, const COLORGAPINFO* info);
    // Takes the lines of src from `first` on; corrected lines go to dst from
    // line dstStart. Returns the lines written.
    int32_t Process(tagTVKIMAGEINFO* dst, const tagTVKIMAGEINFO* src, int32_t first,
                    int32_t dstStart);
    // Writes the lines still held; returns their number.
    int32_t ProcessLast(tagTVKIMAGEINFO* dst, int32_t dstStart);
    // The whole page: src copied into dst and corrected there. 0 or 8.
    uint32_t PageProcess(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src);

    int32_t Width() const { return m_lWidth; }
    int32_t LinesTaken() const { return m_lLines; }
    // Lines a band of h lines makes this worker write, and the lines the
    // flush writes after it.
    int32_t LinesDue(int32_t h) const;
    int32_t LinesFlushed(int32_t h) const;
    const uint8_t* ClassMap() const { return m_pByteTable; }
    const uint8_t* JudgeTable() const { return m_JudgeTable; }

    // First flag: with 2 or 4 a whole page is not done in one pass. Second:
    // graded correction. Both 0 after initialisation.
    uint8_t m_bMode = 0;
    uint8_t m_bGraded = 0;

private:
    struct PreLineInfo {
        uint8_t btColorDat; // the previous line's class
        int8_t start;       // ring line where the open run began, -1 none
        uint8_t strong;
    };
    static constexpr int32_t kRing = 16;

    void FirstProcess(const uint8_t* line);
    void TakeLine(const uint8_t* line, uint8_t* out);
    void Search(int32_t y);
    void CheckDoubt(int32_t x, int32_t from, int32_t to, bool strong);
    void SideCheck(int32_t y);
    void Correct(int32_t y, uint8_t* out) const;
    uint8_t* Ring(int32_t y) const { return m_BuffImg + static_cast<size_t>(y) * m_lLineBytes; }
    uint8_t* Flags(int32_t y) const {
        return m_ColorGapMap + static_cast<size_t>(y) * static_cast<size_t>(m_lWidth);
    }

    int32_t m_lWidth = 0;
    size_t m_lLineBytes = 0;
    uint8_t* m_BuffImg = nullptr;     // ring of 16 lines of 24-bit pixels
    uint8_t* m_ColorGapMap = nullptr; // ring of 16 flag lines: 0 none, 1 weak, 2 strong
    uint8_t* m_pScratch = nullptr;    // one flag line
    uint8_t m_bMarked[kRing] = {};    // whether a flag line holds any flag
    PreLineInfo* m_PreLineInfo = nullptr;
    int32_t m_lLines = 0;
    uint8_t* m_pByteTable = nullptr;
    uint8_t m_JudgeTable[kColorGapJudgeSize] = {};
};
