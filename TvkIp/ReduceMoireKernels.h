// Line kernels of the moire filters, in a portable and an SSE2 form that
// give identical bytes. The filtered value is (sum of coefficient x sample)
// x scale / 16384, truncated towards zero and clamped to 0..255.
#pragma once

#include <cstdint>

namespace MOIRE_KERNEL {

// True when the SSE2 kernels are exact for this mask: every intermediate
// value stays below 2^24, where single-precision arithmetic is exact.
bool SSE2Exact(const int16_t* coef, int32_t count, int32_t scale);

// out[i] = filter over rows[0][i] .. rows[count - 1][i], for i < bytes.
// Sums must fit 32 bits.
void IntegrityMaskLine(const uint8_t* const* rows, int32_t count, const int16_t* coef,
                       int32_t scale, int32_t bytes, uint8_t* out);
void SSE2MaskLine(const uint8_t* const* rows, int32_t count, const int16_t* coef, int32_t scale,
                  int32_t bytes, uint8_t* out);

// Horizontal filter at kept pixels: output pixel o is centred on source
// pixel xs[o]; pad holds the line with count / 2 edge pixels on each side.
// The portable kernel filters the kept pixels only; the SSE2 one filters
// the whole line into tmp (width x spp bytes) and picks the kept pixels.
void IntegrityMaskH(const uint8_t* pad, const int32_t* xs, int32_t outW, int32_t spp,
                    const int16_t* coef, int32_t count, int32_t scale, uint8_t* out);
void SSE2MaskH(const uint8_t* pad, int32_t width, const int32_t* xs, int32_t outW, int32_t spp,
               const int16_t* coef, int32_t count, int32_t scale, uint8_t* tmp, uint8_t* out);
// SSE2MaskH read from the unpadded line itself (out may overlap it; tmp is
// required). False, with nothing written, for masks of more than 64 taps.
bool SSE2MaskHLine(const uint8_t* line, int32_t width, const int32_t* xs, int32_t outW, int32_t spp,
                   const int16_t* coef, int32_t count, int32_t scale, uint8_t* tmp, uint8_t* out);

// The 1-2-1 mask whose weights and scale divide by exactly 4 (the 600 to 300
// dpi mask): the filtered value is (a + 2b + c) >> 2.
bool IsQuarter121(const int16_t* coef, int32_t count, int32_t scale);

// Kept pixels two source pixels apart (the halving of 600 to 300 dpi), each
// with both neighbours on the line: output pixels o .. o + count - 1 centred
// on xs[o] + 2k. Found once per page; runs shorter than kHalfRunMin are left
// out. runs needs room for outW / kHalfRunMin entries; returns their number.
struct HalfRun {
    int32_t o, count;
};
constexpr int32_t kHalfRunMin = 8;
int32_t FindHalfRuns(const int32_t* xs, int32_t outW, int32_t width, HalfRun* runs);

// The 1-2-1 mask at the kept pixels of a colour line, read from the line
// itself (neither output may overlap it): the runs eight pixels a step, the
// other kept pixels one at a time. The result goes to out and its
// complement (255 - value) to inverted, the form the vertical kernel reads.
// Only where the processor has AVX2.
void AVX2Quarter121H3(const uint8_t* line, int32_t width, const int32_t* xs, int32_t outW,
                      const HalfRun* runs, int32_t runCount, uint8_t* out, uint8_t* inverted);
// The 1-2-1 mask over three complemented lines; out gets the plain result,
// the same as IntegrityMaskLine over the lines themselves. Only where the
// processor has AVX2.
void AVX2InvertedQuarter121(const uint8_t* const* rows, int32_t bytes, uint8_t* out);

} // namespace MOIRE_KERNEL
