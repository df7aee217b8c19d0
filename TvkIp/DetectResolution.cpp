// True-resolution estimate from the spacing of brightness steps.
#include "DetectResolution.h"

#include "ImageCheck.h"
#include "Luminance.h"
#include "TvkIpError.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

constexpr int kPassRows = 0; // steps along rows
constexpr int kPassCols = 1; // steps along columns

} // namespace

bool CDetectResolution::CompareEdgeCount(int64_t a, int64_t b, int64_t k) {
    return b - a < 2 * ((a * k) >> 10);
}

void CDetectResolution::UnInit() {
    delete[] m_pLine;
    delete[] m_pColumns;
    for (int32_t*& p : m_pCount) {
        delete[] p;
        p = nullptr;
    }
    m_pLine = nullptr;
    m_pColumns = nullptr;
    m_lLeft = m_lN = m_lRows = m_lXRes = m_lYRes = 0;
    m_lSkip = m_lRowsDone = 0;
    m_lUnitW = m_lUnitsX = m_lUnitH = m_lUnitsY = m_lUnitRow = m_lRowInUnit = 0;
    m_lEdgesH = m_lEdgesV = 0;
    m_lResult = 0;
}

int32_t CDetectResolution::Init(const tagDETECT_RESOLUTION_INFO* info) {
    UnInit();
    int64_t left = 0, right = 0, top = 0, bottom = 0;
    if (info->ulSize >= kDetectResolutionInfoSize) {
        left = std::max(info->lMarginLeft, 0);
        right = std::max(info->lMarginRight, 0);
        top = std::max(info->lMarginTop, 0);
        bottom = std::max(info->lMarginBottom, 0);
    }
    const int64_t n = int64_t{info->lWidth} - left - right;
    const int64_t m = int64_t{info->lHeight} - top - bottom;
    if (n < 1 || m < 1) return kDetResMisuse;
    if (info->lXResolution <= 0 || info->lYResolution <= 0) return kDetResMisuse;
    m_lLeft = static_cast<int32_t>(left);
    m_lN = static_cast<int32_t>(n);
    m_lRows = static_cast<int32_t>(m);
    m_lSkip = static_cast<int32_t>(top);
    m_lXRes = info->lXResolution;
    m_lYRes = info->lYResolution;
    m_lStep = info->lStepLevel < 1 ? 30 : info->lStepLevel;
    m_lRatio = info->lSharpRatio < 1 ? 1536 : info->lSharpRatio;
    m_lUnitMm = info->lUnitLength < 1 ? 60 : info->lUnitLength;
    m_pLine = new (std::nothrow) uint8_t[static_cast<size_t>(n)]();
    m_pColumns = new (std::nothrow) StepState[static_cast<size_t>(n)]();
    if (m_pLine == nullptr || m_pColumns == nullptr) return kDetResNoMemory;
    return UnitInit();
}

int32_t CDetectResolution::UnitInit() {
    const auto grid = [this](int32_t res, int32_t extent, int32_t* size, int32_t* count) {
        const int64_t u = int64_t{m_lUnitMm} * res * 1000 / 25400;
        if (u <= 0) return false;
        if (u <= extent) {
            *count = static_cast<int32_t>(std::max<int64_t>(extent / u, 1));
            *size = extent / *count;
        } else {
            *count = 1;
            *size = static_cast<int32_t>(std::min<int64_t>(u, INT32_MAX));
        }
        return true;
    };
    if (!grid(m_lXRes, m_lN, &m_lUnitW, &m_lUnitsX) ||
        !grid(m_lYRes, m_lRows, &m_lUnitH, &m_lUnitsY)) {
        return kDetResMisuse;
    }
    const size_t units = static_cast<size_t>(m_lUnitsX) * static_cast<size_t>(m_lUnitsY);
    for (int32_t*& p : m_pCount) {
        p = new (std::nothrow) int32_t[units]();
        if (p == nullptr) return kDetResNoMemory;
    }
    return kDetResOk;
}

void CDetectResolution::Classify(StepState& s, int32_t d, Counts& c) const {
    const uint8_t dir = d > m_lStep ? 1 : (d < -m_lStep ? 2 : 0);
    if (dir == 0) {
        ++s.dist;
        return;
    }
    if (s.dir == 0) {
        // The first step of a line: counted, and the distance runs on.
        ++c.steps;
        s.dir = dir;
        return;
    }
    // c1, c2 and c3 count the steps at most 1, 2 or 3 pixels after the last
    // one (c1 only where the direction turns); every counted step is in steps.
    switch (s.dist) {
    case 1:
        if (dir == s.dir) break; // a ramp continues: nothing counted
        ++c.c1;
        [[fallthrough]];
    case 2:
        ++c.c2;
        [[fallthrough]];
    case 3:
        ++c.c3;
        [[fallthrough]];
    default:
        ++c.steps;
    }
    s.dir = dir;
    s.dist = 1;
}

void CDetectResolution::Flush(int pass, int32_t unitX, Counts& c) {
    const size_t idx = static_cast<size_t>(m_lUnitRow) * m_lUnitsX + unitX;
    int32_t** a = m_pCount + 4 * pass;
    a[0][idx] += static_cast<int32_t>(c.steps);
    a[1][idx] += static_cast<int32_t>(c.c1);
    a[2][idx] += static_cast<int32_t>(c.c2);
    a[3][idx] += static_cast<int32_t>(c.c3);
    (pass == kPassRows ? m_lEdgesH : m_lEdgesV) += c.steps;
    c = Counts{};
}

// Units across take unit width + 1 neighbour pairs (columns) each; the last
// unit takes the rest of the line.
template <typename F> void CDetectResolution::ForEachUnit(int32_t total, int pass, F&& step) {
    int32_t i = 0;
    for (int32_t unitX = 0; i < total || unitX == 0; ++unitX) {
        const int32_t end =
            unitX < m_lUnitsX - 1
                ? static_cast<int32_t>(std::min<int64_t>(int64_t{i} + m_lUnitW + 1, total))
                : total;
        Counts c;
        for (; i < end; ++i) step(i, c);
        Flush(pass, unitX, c);
        if (unitX == m_lUnitsX - 1) break;
    }
}

void CDetectResolution::LineProcV(const uint8_t* row) {
    StepState s{};
    ForEachUnit(m_lN - 1, kPassRows,
                [&](int32_t i, Counts& c) { Classify(s, int32_t{row[i + 1]} - row[i], c); });
}

void CDetectResolution::LineProcS(const uint8_t* row) {
    ForEachUnit(m_lN, kPassCols, [&](int32_t x, Counts& c) {
        Classify(m_pColumns[x], int32_t{row[x]} - m_pLine[x], c);
    });
}

void CDetectResolution::LineProcEnd(const uint8_t* row) {
    std::memcpy(m_pLine, row, static_cast<size_t>(m_lN));
}

void CDetectResolution::LineProc(const uint8_t* row) {
    if (m_lSkip > 0) {
        --m_lSkip;
        return;
    }
    if (m_lRowsDone >= m_lRows) return;
    LineProcV(row);
    if (m_lRowsDone > 0) LineProcS(row);
    LineProcEnd(row);
    ++m_lRowsDone;
    if (++m_lRowInUnit >= m_lUnitH) {
        m_lUnitRow = std::min(m_lUnitRow + 1, m_lUnitsY - 1);
        m_lRowInUnit = 0;
    }
}

int32_t CDetectResolution::Process(const tagTVKIMAGEINFO* band) {
    if (band == nullptr || band->lpImage == nullptr) return kDetResMisuse;
    const int64_t need = int64_t{m_lLeft} + m_lN;
    const int64_t sync = TvkLineStep(*band);
    const bool colour = band->lSpp == 3;
    // Gray or RGB whose rows lie in the buffer and hold the examined pixels.
    if (!TvkImageFits(band, kTvkGray8 | kTvkRgb24Any) || band->lWidth < need) return kDetResMisuse;
    if (!colour) {
        for (int64_t y = 0; y < band->lHeight; ++y) {
            LineProc(band->lpImage + y * sync + m_lLeft);
        }
        return kDetResOk;
    }
    // Colour rows become gray one at a time.
    uint8_t* gray = new (std::nothrow) uint8_t[static_cast<size_t>(m_lN)];
    if (gray == nullptr) return kDetResNoMemory;
    const bool planar = band->ulRGBOrder == 1;
    const int64_t plane = band->lSync;
    for (int64_t y = 0; y < band->lHeight; ++y) {
        const uint8_t* row = band->lpImage + y * sync;
        if (planar) {
            const uint8_t* r = row + m_lLeft;
            LuminancePlanar(r, r + plane, r + 2 * plane, m_lN, gray);
        } else {
            LuminanceInterleaved(row + 3 * int64_t{m_lLeft}, m_lN, gray);
        }
        LineProc(gray);
    }
    delete[] gray;
    return kDetResOk;
}

void CDetectResolution::CalcResult() {
    const int32_t r = std::min(m_lXRes, m_lYRes);
    const int32_t full = std::max(r, 150);
    const int32_t twoThirds = static_cast<int32_t>(std::max<int64_t>(int64_t{r} * 2 / 3, 150));
    const int32_t half = std::max(r / 2, 150);
    const int64_t t = int64_t{m_lUnitW} * m_lUnitH / 8192;
    int32_t best = 0;
    const size_t units = static_cast<size_t>(m_lUnitsX) * static_cast<size_t>(m_lUnitsY);
    for (size_t i = 0; i < units; ++i) {
        const int64_t s = int64_t{m_pCount[0][i]} + m_pCount[4][i];
        const int64_t c1 = int64_t{m_pCount[1][i]} + m_pCount[5][i];
        const int64_t c2 = int64_t{m_pCount[2][i]} + m_pCount[6][i];
        int32_t decision;
        if (s <= t) {
            decision = 150;
        } else if (s >= 16 * c1 || t > c1) {
            decision = (s >= 16 * c2 || t > c2) ? half : twoThirds;
        } else {
            decision = CompareEdgeCount(c1, c2, m_lRatio) ? full : twoThirds;
        }
        best = std::max(best, decision);
    }
    m_lResult = best;
}

void CDetectResolution::GetResult(tagDETECT_RESOLUTION_INFO* info) const {
    info->lResult = m_lResult;
    info->lEdgesH = static_cast<int32_t>(m_lEdgesH);
    info->lEdgesV = static_cast<int32_t>(m_lEdgesV);
}

int32_t DetectResolution(tagTVKIMAGEINFO* image, tagDETECT_RESOLUTION_INFO* info) {
    IpSetLastError(0);
    // Every command reads the short form of the record.
    if (info == nullptr || info->ulSize < kDetectResolutionInfoSizeNoMargins) return kDetResMisuse;
    switch (info->ulCommand) {
    case kDetResCreate: {
        if (info->pWorker != nullptr) return kDetResMisuse;
        auto* w = new (std::nothrow) CDetectResolution();
        if (w == nullptr) return kDetResNoMemory;
        const int32_t rc = w->Init(info);
        if (rc != kDetResOk) {
            delete w;
            return rc;
        }
        info->pWorker = w;
        return kDetResOk;
    }
    case kDetResProcess:
        if (info->pWorker == nullptr) return kDetResMisuse;
        return info->pWorker->Process(image);
    case kDetResResult:
        if (info->pWorker == nullptr || !info->pWorker->AllRowsDone()) return kDetResMisuse;
        info->pWorker->CalcResult();
        info->pWorker->GetResult(info);
        return kDetResOk;
    case kDetResRelease:
        delete info->pWorker;
        info->pWorker = nullptr;
        return kDetResOk;
    case kDetResWhole: {
        if (info->pWorker != nullptr) return kDetResMisuse;
        auto* w = new (std::nothrow) CDetectResolution();
        if (w == nullptr) return kDetResNoMemory;
        int32_t rc = w->Init(info);
        if (rc == kDetResOk) rc = w->Process(image);
        if (rc == kDetResOk && !w->AllRowsDone()) rc = kDetResMisuse;
        if (rc == kDetResOk) {
            w->CalcResult();
            w->GetResult(info);
        }
        delete w;
        return rc;
    }
    default:
        return kDetResOk;
    }
}
