// Colour-to-gray line kernels of the to-gray line function:
// gray = RedToGray[r] + GreenToGray[g] + BlueToGray[b] (GRAY_WEIGHT tables).
// The portable loops are the reference; the SSE2 and AVX2 twins give the same
// bytes for every input.
#pragma once

#include <cstdint>

namespace GRAY_KERNEL {

// n pixels of interleaved R, G, B samples into n gray samples.
void InterleavedPortable(uint8_t* out, const uint8_t* rgb, int32_t n);
// n pixels of three sample planes into n gray samples.
void PlanarPortable(uint8_t* out, const uint8_t* r, const uint8_t* g, const uint8_t* b, int32_t n);

#if defined(__SSE2__)
void InterleavedSSE2(uint8_t* out, const uint8_t* rgb, int32_t n);
void PlanarSSE2(uint8_t* out, const uint8_t* r, const uint8_t* g, const uint8_t* b, int32_t n);
// Only when the processor has AVX2 (IsAVX2FeatureAvailable).
void InterleavedAVX2(uint8_t* out, const uint8_t* rgb, int32_t n);
void PlanarAVX2(uint8_t* out, const uint8_t* r, const uint8_t* g, const uint8_t* b, int32_t n);
#endif

// The fastest path the processor and the portable override allow.
void Interleaved(uint8_t* out, const uint8_t* rgb, int32_t n);
void Planar(uint8_t* out, const uint8_t* r, const uint8_t* g, const uint8_t* b, int32_t n);

} // namespace GRAY_KERNEL
