// Binary noise filter: flips pixels of a 1-bit image whose 3 x 3
// neighbourhood matches a set of patterns (isolated dots, holes, notches and
// bumps, or by level the rim of black areas). Streams in bands with one line
// of delay per stage, or filters a whole image in one call.
#pragma once

#include "CBFunc.h"

#include <cstdint>

// Filter request.
struct tagBINFILTERINFO {
    uint32_t size;  // record size (not examined)
    uint32_t mode;  // pattern selection, kBinFilter... bits
    uint32_t lines; // destination lines produced so far; 0 after the start
    void* handle;   // first filter object, null until the start
    void* handle2;  // second stage of a two-stage mode, else null
};
inline constexpr uint32_t kBinFilterInfoSize = sizeof(tagBINFILTERINFO);

// Mode bits.
inline constexpr uint32_t kBinFilterWhiteNotch = 0x0001; // one-pixel white notch in a black edge
inline constexpr uint32_t kBinFilterBlackBump = 0x0002;  // one-pixel black bump on a black edge
inline constexpr uint32_t kBinFilterWhiteDot = 0x0004;   // isolated white pixel in black
inline constexpr uint32_t kBinFilterBlackDot = 0x0008;   // isolated black pixel in white
inline constexpr uint32_t kBinFilterGroup1 = 0x0100;     // thick corners and crossings
inline constexpr uint32_t kBinFilterGroup2 = 0x0200;     // sparse diagonal and pair patterns
inline constexpr uint32_t kBinFilterLevelMode = 0x1000;  // level filter, level in bits 0-2
inline constexpr uint32_t kBinFilterLevelThin = 0x2000;  // with 0x1000: thin (black outside)
inline constexpr uint32_t kBinFilterLevelMask = 0x0007;
inline constexpr uint32_t kBinFilterSingleBits = 0x000F;
inline constexpr uint32_t kBinFilterGroupBits = 0x0300;

// Filter by mode bits. Each object is one stage: lines go in, filtered lines
// come out one line later; the image's first and last lines pass unchanged.
class CBinFilter : public CTvkIP {
public:
    explicit CBinFilter(unsigned int mode);
    ~CBinFilter() override;

    using CTvkIP::Start;
    // Takes a band: the source lines to consume and the destination that
    // receives the finished lines. Returns 1 (0 when the line buffer cannot
    // be made: the band then passes through unfiltered).
    int Start(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, void* info) override;
    void Line() override;
    void Rect() override;
    // Writes the delayed last line into the destination of the last Start
    // (or of SetFinishDst) and frees the buffer.
    void Finish() override;
    void SetFinishDst(tagTVKIMAGEINFO* dst);

    // Lines written into the destination since the last Start/SetFinishDst.
    int32_t Produced() const { return m_lProduced; }

    void SetMode(unsigned int mode);
    // True when the neighbourhood of the pixel at `bit` (0 = most significant)
    // of the current byte is flagged; the three 10-bit windows hold the byte
    // with one neighbour bit on each side.
    static bool IsPattern(const uint8_t* table, unsigned above, unsigned current, unsigned below,
                          int bit);
    const uint8_t* Table() const { return m_byTable; }

protected:
    bool AllocLineBuff(int32_t lineSize);
    // The next destination line, or null when the destination is full.
    uint8_t* NextDstLine();
    // Bytes of a line that reach the destination.
    size_t CopyBytes() const {
        return static_cast<size_t>(m_lSrcSync < m_lDstSync ? m_lSrcSync : m_lDstSync);
    }
    // Writes a line unchanged as the next destination line (lost when full).
    void PassLine(const uint8_t* line);
    void InitMode();
    // Computes the flips of the current line into the destination line.
    virtual void FilterCurrent(const uint8_t* next, uint8_t* dstLine);
    // Neighbour value beyond the line ends (0 white, 0xFF black).
    virtual uint8_t Outside() const { return 0; }

    uint32_t m_ulSize = 0, m_ulMode = 0, m_ulLines = 0;
    void* m_pHandle = nullptr;
    void* m_pHandle2 = nullptr;
    int32_t m_lSrcSync = 0;
    int32_t m_lDstSync = 0;
    int32_t m_lBuffSize = 0;
    uint8_t* m_pDst = nullptr;
    const uint8_t* m_pSrc = nullptr;
    int32_t m_lSrcLeft = 0;
    uint8_t* m_pBuff = nullptr;
    uint8_t* m_pCur = nullptr;
    uint8_t* m_pPrev = nullptr;
    uint8_t* m_pSpare = nullptr;
    uint8_t m_byTable[512] = {};
    unsigned int m_uMode = 0;

    bool m_bFailed = false; // buffer could not be made: pass lines through
    bool m_bHavePrev = false;
    bool m_bHaveCur = false;
    int32_t m_lProduced = 0;
    int32_t m_lDstCapacity = INT32_MAX; // lines the destination holds
};

// Filter by level 1 to 6 (mode 0x1000 | level, optionally 0x2000).
class CBinFilter2 : public CBinFilter {
public:
    explicit CBinFilter2(unsigned int mode);
    // Levels that have a pattern set.
    static bool ValidLevel(unsigned int mode) {
        const unsigned level = mode & kBinFilterLevelMask;
        return level >= 1 && level <= 6;
    }
    // Number of patterns of a level's set (black centre, listed form).
    static int PatternCount(unsigned int level);
    // True when the black-centre neighbourhood index belongs to the level.
    static bool InLevel(unsigned int level, unsigned int index);

    int Start(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, void* info) override;

protected:
    void FilterCurrent(const uint8_t* next, uint8_t* dstLine) override;
    uint8_t Outside() const override { return (m_uMode & kBinFilterLevelThin) ? 0xFF : 0x00; }

    int32_t m_lWidthMod8 = 0;
    int32_t m_lWidth = 0;
};

extern "C" {
// Start of a banded image: makes the filter objects for the mode and
// filters the first band (one line fewer comes out per stage). 1, or -1 for
// a null record, a level outside 1..6 or objects that cannot be made.
IMVRA_EXPORT int32_t BinFilterStart(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src,
                                    tagBINFILTERINFO* info);
// A middle band: as many lines come out as go in. 1, or -1 for a null record.
IMVRA_EXPORT int32_t BinFilterCont(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src,
                                   tagBINFILTERINFO* info);
// The last band (src may be null): the delayed lines come out and the
// objects are released. 1, or -1 for a null record.
IMVRA_EXPORT int32_t BinFilterEnd(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src,
                                  tagBINFILTERINFO* info);
// The whole image in one call; dst->lHeight ends equal to src->lHeight.
// 0, or -1 as BinFilterStart.
IMVRA_EXPORT int32_t BinFilter(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagBINFILTERINFO* info);
IMVRA_EXPORT void ReleaseBinFilterHandle(tagBINFILTERINFO* info);
}
