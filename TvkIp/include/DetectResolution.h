// True-resolution estimate of a scanned page: brightness steps between
// neighbouring pixels, classified by their spacing, decide per area whether
// the page carries detail at the full scan resolution, two thirds or half.
#pragma once

#include "CImgInf.h"

#include <cstddef>
#include <cstdint>

class CDetectResolution;

// Request, worker handle and result. Fields beyond ulSize are not read.
struct tagDETECT_RESOLUTION_INFO {
    uint32_t ulSize;
    uint32_t ulCommand; // see DetectResolutionCommand
    CDetectResolution* pWorker;
    int32_t reserved;
    int32_t lWidth;       // page width in pixels
    int32_t lHeight;      // rows that will be fed
    int32_t lXResolution; // dpi, not 0
    int32_t lYResolution; // dpi, not 0
    int32_t lStepLevel;   // brightness difference of a step; below 1: 30
    int32_t lSharpRatio;  // 1/1024 units; below 1: 1536
    int32_t lUnitLength;  // side of a decision area in mm; below 1: 60
    int32_t lResult;      // out: dpi
    int32_t lEdgesH;      // out: steps along rows
    int32_t lEdgesV;      // out: steps along columns
    int32_t lMarginLeft;  // the margins are read only from kDetectResolutionInfoSize on
    int32_t lMarginRight;
    int32_t lMarginTop;
    int32_t lMarginBottom;
};
inline constexpr uint32_t kDetectResolutionInfoSize = sizeof(tagDETECT_RESOLUTION_INFO);
inline constexpr uint32_t kDetectResolutionInfoSizeNoMargins =
    offsetof(tagDETECT_RESOLUTION_INFO, lMarginLeft);
static_assert(kDetectResolutionInfoSize != kDetectResolutionInfoSizeNoMargins);

enum DetectResolutionCommand : uint32_t {
    kDetResCreate = 0,
    kDetResProcess = 1,
    kDetResResult = 2,
    kDetResRelease = 3,
    kDetResWhole = 4,
};

// Result codes.
inline constexpr int32_t kDetResOk = 0;
inline constexpr int32_t kDetResNoMemory = 8;
inline constexpr int32_t kDetResMisuse = 13;

class CDetectResolution {
public:
    CDetectResolution() = default;
    CDetectResolution(const CDetectResolution&) = delete;
    CDetectResolution& operator=(const CDetectResolution&) = delete;
    ~CDetectResolution() { UnInit(); }

    int32_t Init(const tagDETECT_RESOLUTION_INFO* info);
    int32_t Process(const tagTVKIMAGEINFO* band);
    void CalcResult();
    void GetResult(tagDETECT_RESOLUTION_INFO* info) const;
    bool AllRowsDone() const { return m_lRowsDone == m_lRows; }
    void UnInit();

    // Holds when b - a < 2 * ((a * k) >> 10); needs 0 <= a <= b.
    static bool CompareEdgeCount(int64_t a, int64_t b, int64_t k);

    // Direction and spacing of the last step along a row or a column.
    struct StepState {
        uint8_t dir; // 0 none, 1 up, 2 down
        uint8_t pad[3];
        int32_t dist;
        int32_t spare;
    };
    static_assert(sizeof(StepState) == 12);

private:
    // Counts of one pass for the unit being filled.
    struct Counts {
        int64_t steps = 0, c1 = 0, c2 = 0, c3 = 0;
    };
    int32_t UnitInit();
    void LineProc(const uint8_t* row);
    void LineProcV(const uint8_t* row);
    void LineProcS(const uint8_t* row);
    void LineProcEnd(const uint8_t* row);
    void Classify(StepState& s, int32_t d, Counts& c) const;
    void Flush(int pass, int32_t unitX, Counts& c);
    template <typename F> void ForEachUnit(int32_t total, int pass, F&& step);

    int32_t m_lLeft = 0;
    int32_t m_lN = 0;    // examined line length
    int32_t m_lRows = 0; // examined rows
    int32_t m_lXRes = 0, m_lYRes = 0;
    int32_t m_lStep = 30;
    int32_t m_lRatio = 1536;
    int32_t m_lUnitMm = 60;
    int32_t m_lSkip = 0;     // rows of the top margin still to skip
    int32_t m_lRowsDone = 0; // rows processed
    int32_t m_lUnitW = 0, m_lUnitsX = 0;
    int32_t m_lUnitH = 0, m_lUnitsY = 0;
    int32_t m_lUnitRow = 0, m_lRowInUnit = 0;
    uint8_t* m_pLine = nullptr;      // the previous processed row
    StepState* m_pColumns = nullptr; // vertical pass state per column
    int32_t* m_pCount[8] = {};       // per unit: steps, c1, c2, c3 of each pass
    int64_t m_lEdgesH = 0, m_lEdgesV = 0;
    int32_t m_lResult = 0;
};

extern "C" {
// 0, 8 (out of memory) or 13 (misuse or bad parameters).
IMVRA_EXPORT int32_t DetectResolution(tagTVKIMAGEINFO* image, tagDETECT_RESOLUTION_INFO* info);
}
