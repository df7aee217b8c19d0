// Helpers of the gray test, shared with its tests.
#pragma once

#include <cstdint>

namespace DetectGray_FunctionSpace {

// A one-bit image, most significant bit first, with cyclic neighbourhoods:
// a line's last byte is next to its first, the last line next to the first.
struct BitImage {
    uint8_t* bits;
    int32_t bytes; // per line
    int32_t lines;
};

// Erosion and dilation over (2 reachX + 1) x (2 reachY + 1) pixels; reach
// values of 8 or more are refused with 0x80000003, a failed allocation
// gives 0x80000002.
uint32_t CompressWnd(BitImage& img, int reachX, int reachY);
uint32_t ExtendWnd(BitImage& img, int reachX, int reachY);

// Levels of the peak analysis: black level, white level, the two gray
// bounds, the peak divisor (0: 65536) and the intensity (0: 2).
struct PeakSettings {
    int black, white, gray1, gray2;
    uint32_t divisor;
    int intensity;
};

// Peak analysis of a 256-bin luminance histogram: the dark range
// ranges[0..1] and the light range ranges[2..3]; everything between them
// counts as gray. All four bytes are the black level when the histogram has
// no usable dark and light peak.
void DetectHistgram(const uint32_t* hist, const PeakSettings& s, uint8_t* ranges);

} // namespace DetectGray_FunctionSpace
