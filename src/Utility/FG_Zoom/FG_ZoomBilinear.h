// The engine behind FG_Zoom: per-axis coefficient tables built at Open, a
// horizontal pass per source line and a vertical pass that either accumulates
// (reduction) or interpolates between two kept lines (enlargement).
#pragma once

#include "FG_Zoom.h"

#include <cstdint>

// One output position of an axis. The meaning of the words depends on whether
// the table reduces or enlarges:
//   reduction: source pixels first (weight firstWeight), first+1 .. lastFull
//   (weight = destination size each) and lastFull+1 (weight lastWeight, the
//   reshaped rawLastWeight); divisor is the sum of the weights; runOrLast is the
//   last source index used.
//   enlargement: (firstWeight * s[first] + lastWeight * s[first + 1]) / divisor;
//   runOrLast is the number of entries sharing this first index, on the first
//   entry of such a run, else 0.
struct FG_Zoom2_Param {
    int32_t first;
    int32_t firstWeight;
    int32_t lastFull;
    int32_t lastWeight;
    int32_t rawLastWeight;
    int32_t divisor;
    int32_t runOrLast;
};
static_assert(sizeof(FG_Zoom2_Param) == 7 * sizeof(int32_t));

// Bilinear table for dstN >= srcN >= 1 (dstN entries).
void Calc_ExpandParam(FG_Zoom2_Param* table, int32_t dstN, int32_t srcN);

// Area-averaging table for dstN < srcN (dstN entries). Returns 1 when a divisor
// exceeds 0xFFFF, so that 32-bit sums of 16-bit samples could overflow.
int Calc_ReducedParam(FG_Zoom2_Param* table, int32_t dstN, int32_t srcN);

// Reshapes the share g (of n units) that a partly covered last pixel
// contributes.
int32_t Shift_Coefficient(int32_t g, int32_t n);

class FG_ZoomBilinear : public FG_Zoom {
public:
    FG_ZoomBilinear();
    ~FG_ZoomBilinear() override;

    int Open(int dstWidth, int dstHeight, int srcWidth, int srcHeight, int bitsPerPixel,
             int mode) override;
    void Close() override;
    int Send(const void* srcLine) override;
    int Read(void* dstLine) override;

private:
    int SendLine(const void* srcLine);
    void ClearEngine();
    void Unpack(const uint8_t* packed);
    void Pack(uint8_t* packed) const;
    void HorizontalPass(const void* src, uint32_t* dst);

    template <typename Acc, typename Sample> void Expand_Horz(const Sample* src, uint32_t* dst);
    template <typename Acc> void Add_ReduceVert(Acc* acc, const uint32_t* line, uint32_t weight);
    template <typename Sample, typename Acc>
    void Expand_Vert(const uint32_t* upper, const uint32_t* lower, Sample* out);
    template <typename Sample, typename Acc> void Reduce_Vert(const Acc* acc, Sample* out);
    template <typename Sample> void ReadSamples(void* out);

    int32_t m_workDepth;
    int32_t m_lineBufferSize;
    int32_t m_samplesPerPixel;
    int32_t m_lineCounter;
    int32_t m_pingPong;
    bool m_pending;
    bool m_horzDouble;
    bool m_vertDouble;
    void* m_lineBuffer[2];
    uint8_t* m_unpackBuffer;
    FG_Zoom2_Param* m_horzTable;
    FG_Zoom2_Param* m_vertTable;
    FG_Zoom2_Param* m_curVert;
    // Per output column: the exact reciprocal of the column's divisor (see DivExact).
    uint64_t* m_horzRecip;
    // 2, 4 or 8 when lines of one or three 8-bit samples shrink by exactly
    // that factor (a vector path sums whole pixels), else 0.
    int32_t m_horzGroup;
};
