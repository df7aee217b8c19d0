// Side-edge detection on a dark backing: the paper is brighter than its
// surroundings, so every scan line gives a left and a right paper edge and
// every column a top and a bottom edge. From the four edge profiles the
// detector chooses a slant, the bounding rectangle and the four corners.
#pragma once

#include "CImgInf.h"
#include "TvkTypes.h"

#include <cstdint>
#include <vector>

class CDetectSlantAndSize_SideEdge {
public:
    // Caller's request; the first 16 words are kept.
    struct tagOPTION {
        uint32_t ulSize;
        int32_t lSensor[4];   // not read
        int32_t lReserved[6]; // words 5-10, not read
        int32_t lLevel;       // word 11: a sample above it is paper
        int32_t lReserved12;
        int32_t lMinRunUm; // word 13: narrowest paper run, micrometres
        int32_t lMarginUm; // word 14: skipped at both line ends, micrometres
        int32_t lReserved15;
        int32_t lReserved16[3];
    };
    static constexpr uint32_t kOptionSize = sizeof(tagOPTION);
    // The part of the option the detector keeps.
    static constexpr uint32_t kKeptOptionSize = 16 * sizeof(int32_t);
    static_assert(kOptionSize == 19 * 4 && kKeptOptionSize < kOptionSize);
    // Lines per edge block, and blocks: at most 65536 lines a page.
    static constexpr int32_t Document_Edge_Cluster_Length = 1024;
    static constexpr int32_t kBlocks = 64;

    CDetectSlantAndSize_SideEdge();
    virtual ~CDetectSlantAndSize_SideEdge();
    CDetectSlantAndSize_SideEdge(const CDetectSlantAndSize_SideEdge&) = delete;
    CDetectSlantAndSize_SideEdge& operator=(const CDetectSlantAndSize_SideEdge&) = delete;

    uint32_t Initialize(const tagTVKIMAGEINFO* image, const tagOPTION* option);
    // One band: 0, kIpErrBadArgument, kIpErrOutOfMemory, kIpErrUnsupported
    // (all line blocks used).
    uint32_t Image(const tagTVKIMAGEINFO* band);
    uint32_t Line(const uint8_t* pixels, int32_t width);
    // One line of interleaved RGB judged by its green samples alone, as a
    // gray line is (Line judges colour by all three samples).
    uint32_t ColorLine(const uint8_t* pixels, int32_t width);
    uint32_t Calc(const tagOPTION* option);
    uint32_t GetResult(Tvk::tagRECT* rect, Tvk::tagPOINT* slant, Tvk::tagPOINT* corners) const;
    uint32_t GetInformation(tagOPTION* option) const;
    int32_t* const* GetEdgePointCore(bool left) const { return left ? m_pLeft : m_pRight; }
    void Release();
    // Corners of the bounding rectangle in the result's order: left-bottom,
    // right-bottom, right-top, left-top.
    void SetFourPointFromRect();

    int32_t xdpi() const { return m_lXRes; }
    int32_t ydpi() const { return m_lYRes; }
    int32_t lines() const { return m_lLine; }
    // Top and bottom paper edge of every column (-1: none yet).
    const std::vector<int32_t>& topEdge() const { return m_top; }
    const std::vector<int32_t>& bottomEdge() const { return m_bottom; }

private:
    uint32_t AddAllocate();
    uint32_t BeginLine(const uint8_t* p, int32_t width);
    void GrayLine(const uint8_t* p, int32_t step);
    void ColorLine2(const uint8_t* r, const uint8_t* g, const uint8_t* b, int32_t step);
    void ColumnPass(const uint8_t* p, int32_t step, const uint8_t* g, const uint8_t* b);
    void StoreLine(int32_t left, int32_t right);
    uint32_t CalcCore();
    uint32_t CalcSlant();
    void CalcRect();
    void CalcFourPoint();

    int32_t** m_pLeft = nullptr; // kBlocks block pointers
    int32_t** m_pRight = nullptr;
    std::vector<int32_t> m_top, m_bottom, m_count; // per column
    std::vector<int32_t> m_left, m_right;          // joined per line (Calc)
    int32_t m_lLine = 0;
    int32_t m_lWidth = 0;
    int32_t m_lSpp = 1;
    uint32_t m_ulOrder = 0;
    int32_t m_lXRes = 0, m_lYRes = 0;
    int32_t m_lMargin = 0;
    int32_t m_lRun = 1, m_lRunY = 1;
    int32_t m_lPlane = 0; // bytes from one plane of a planar line to the next
    tagOPTION m_option{};
    Tvk::tagPOINT m_slant{1, 0};
    Tvk::tagRECT m_rect{0, 0, 0, 0}; // left, bottom, right, top
    Tvk::tagPOINT m_pt[4]{};
};
