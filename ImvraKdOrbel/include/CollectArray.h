// The raw end of the pipeline: the scanner's contact image sensor has three
// segments (A, B, C) read out in parallel, each from its far end towards its
// near end; in a duplex scan the front and back sensors are read out together.
// A raw row therefore holds, per readout position, one sample of each segment
// (and of each side), plus dummy samples. The collection stages put the
// samples back in image order (unpacking 12-bit data on the way);
// CCutOffset removes the transport offset at the top or bottom of a page.
#pragma once

#include "IPBase.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Tvk::Imvra::KD730 {

// Dummy samples of a raw row, one count per segment group.
struct tagDUMMYPIXELS {
    int32_t ulDummy[3];
};
static_assert(sizeof(tagDUMMYPIXELS) == 12);

// Rows by sensor layout index (0, or 1 after a calibration started in mode 3).
inline constexpr tagDUMMYPIXELS DUMMY_PIXEL_300[2] = {{{24, 0, 16}}, {{0, 0, 40}}};
inline constexpr tagDUMMYPIXELS DUMMY_PIXEL_600[2] = {{{48, 0, 32}}, {{0, 0, 80}}};

// Settings of the collection and widening stages (pointer-free, fixed layout).
struct tagCOLLECTARRAYINFO {
    uint32_t ulSize;       // kCollectArrayInfoSize
    tagDUMMYPIXELS dummy;  // dummy samples of a raw row
    int32_t lWidth;        // collected width: raw width minus the dummy samples
    int32_t lLines;        // lines of the page (not read by the stages)
    uint32_t ulReserved;   // not read by the stages
    int32_t lSensorIndex;  // sensor layout index, 0 or 1
};
inline constexpr uint32_t kCollectArrayInfoSize = sizeof(tagCOLLECTARRAYINFO);
static_assert(kCollectArrayInfoSize == 32 && offsetof(tagCOLLECTARRAYINFO, lWidth) == 16 &&
              offsetof(tagCOLLECTARRAYINFO, lSensorIndex) == 28);

// Settings of the offset cut (pointer-free, fixed layout).
struct tagCUTOFFSETINFO {
    uint32_t ulSize;      // kCutOffsetInfoSize
    int32_t lOffset;      // lines; the sign and the direction pick the end cut
    uint32_t ulDirection; // 0 or 1 (the engine passes the side)
    int32_t lLimit;       // lines kept by a bottom cut
};
inline constexpr uint32_t kCutOffsetInfoSize = sizeof(tagCUTOFFSETINFO);
static_assert(kCutOffsetInfoSize == 16);

// Geometry of the sensor for one resolution and layout index.
struct tagSENSORLAYOUT {
    int32_t dpi;
    int32_t positions;      // readout positions of a row: three samples each per side
    int32_t collected;      // pixels of a collected line
    int32_t startB, startA, startC;
    int32_t phase[3];       // positions in phase 1, 2, 3
};
// The layout of 300 or 600 dpi and index 0 or 1; null for anything else.
const tagSENSORLAYOUT* SensorLayout(int32_t dpi, int32_t index);

// Unpacks n 12-bit samples: every three bytes hold two samples,
// s0 = (b0 + 256 b1) & 0xFFF, s1 = (b1 + 256 b2) >> 4. Reads ceil(12 n / 8) bytes.
void Extend12To16BitCore(uint16_t* dst, const uint8_t* src, size_t n);

// The shared part of the collection and widening stages: settings, the copy
// plan of a raw row and the row routines.
class CCollectArray : public CIPSameOnEveryBand {
public:
    int setInfo(CImg& img, void* info) override;
    int setInfoFirst(CImg& img, void* info) override { return setInfo(img, info); }
    int setInfoMiddle(CImg& img, void* info) override { return setInfo(img, info); }
    int setInfoLast(CImg& img, void* info) override { return setInfo(img, info); }

    // The back side of the last band (duplex stage only; nothing here).
    virtual void getBackImage(CImg& img) {}
    virtual void setBackImage(CImg& img) {}

    // A copy of one raw sample into its collected place: dst[dst + j * step]
    // = src[src + j * stride] for j below count.
    struct CopyRun {
        int32_t src;
        int32_t dst;
        int32_t count;
        int32_t step; // +1 or -1
    };
    // Where the 8-bit vector path puts one sample stream of a block of
    // 16 readout positions: nowhere, 16 places up or down from dst, or
    // sample by sample (a block that crosses a run's end).
    struct BlockStream {
        int32_t dst;
        int32_t kind; // 0 none, 1 up, -1 down, 2 sample by sample
    };
    // The copy plan of a raw row: per side the runs (side 1 only for duplex
    // rows, where the back side is not mirrored), the place of every raw
    // sample per side (-1: not this side's or dropped), and the blocks of
    // the vector path.
    struct RowPlan {
        int32_t stride = 3;           // raw samples per readout position and side group
        int32_t positions = 0;
        std::vector<CopyRun> runs[2]; // front (or the one side), back
        std::vector<int32_t> place[2];
        std::vector<BlockStream> blocks; // stride entries per block
        int32_t vectorBlocks = 0;        // leading blocks whose 8-byte loads stay in the row
    };
    // One 8-bit raw row into its side rows by the plan; vector true takes
    // the SSE2 path (same bytes as the runs).
    static void CollectRow8(const RowPlan& plan, const uint8_t* src, uint8_t* const dst[2],
                            bool vector);
    // Plan of a simplex (duplex false) or duplex row of the layout; the
    // front side is mirrored over its first `mirror` collected pixels.
    static RowPlan MakePlan(const tagSENSORLAYOUT& layout, bool duplex, int32_t mirror);

protected:
    // Checks the band against the sensor: RTN_OK with the layout when its
    // depth (8 or 12), samples (1 or 3), resolution, raw row width (groups
    // sides of three samples per readout position), line size and buffer fit.
    int checkRaw(const tagIMAGEINFO& band, int32_t groups, const tagSENSORLAYOUT*& layout) const;
    // The plan for this band, rebuilt when the layout or the mirror width changes.
    const RowPlan& plan(const tagSENSORLAYOUT& layout, bool duplex, int32_t mirror);
    int32_t dummySum() const;

    tagCOLLECTARRAYINFO m_info{};
    bool m_bRefuseInterleaved = true; // the widening stage takes interleaved rows

private:
    RowPlan m_plan;
    const tagSENSORLAYOUT* m_pPlanLayout = nullptr;
    bool m_bPlanDuplex = false;
    int32_t m_lPlanMirror = -1;
};

// Reorders the raw rows of a one-sided scan; 12-bit rows become 16-bit.
class CCollectArrayForSimplex : public CCollectArray {
public:
    const char* getName() const override { return "CollectArrayForSimplex"; }

protected:
    int process(CImg& img) override;
};

// Separates the raw rows of a two-sided scan into the front (the band) and
// the back (held for getBackImage).
class CCollectArrayForDuplex : public CCollectArray {
public:
    const char* getName() const override { return "CollectArrayForDuplex"; }
    void getBackImage(CImg& img) override { img.attachImg(m_imgBack); }
    void setBackImage(CImg& img) override { m_imgBack.attachImg(img); }

protected:
    int process(CImg& img) override;

private:
    CImg m_imgBack;
};

// Unpacks and reorders 12-bit raw rows into 16-bit rows; other depths pass.
class CExtendBitData12To16 : public CCollectArray {
public:
    CExtendBitData12To16() { m_bRefuseInterleaved = false; }
    const char* getName() const override { return "CExtendBitData12To16"; }

protected:
    int process(CImg& img) override;
};

// Removes the transport offset: whole lines at the top or the bottom of a
// page, counted over the page's bands.
class CCutOffset : public CIPSameOnEveryBand {
public:
    const char* getName() const override { return "CutOffset"; }
    // A whole image or a first band starts the page's line counts.
    int setInfo(CImg& img, void* info) override;
    int setInfoFirst(CImg& img, void* info) override { return setInfo(img, info); }
    // Later bands take the settings and keep counting.
    int setInfoMiddle(CImg& img, void* info) override { return takeInfo(info); }
    int setInfoLast(CImg& img, void* info) override { return takeInfo(info); }

    // Keeps count rows of the band from row start (a planar line is its
    // plane rows).
    static int CutOutHorizontal(CImg& img, int32_t start, int32_t count);

protected:
    int process(CImg& img) override;

private:
    int takeInfo(void* info);
    tagCUTOFFSETINFO m_info{};
    int64_t m_lTopLines = 0;
    int64_t m_lBottomLines = 0;
};

} // namespace Tvk::Imvra::KD730
