// Fixed-threshold packing of one 8-bit gray line into 1-bit pixels: bit x
// (most significant bit first) is set when slice > src[x]. Bits of the last
// byte beyond the width keep their value.
#pragma once

#include <cstdint>

// Portable reference.
void IntegrityThresholdLine(uint8_t* dst, const uint8_t* src, int32_t width, int32_t slice);
// SSE2 twin; identical bytes. Falls back to the portable code where SSE2 is
// not compiled in.
void SSE2ThresholdLine(uint8_t* dst, const uint8_t* src, int32_t width, int32_t slice);
// Chooses the twin by IsSSE2FeatureAvailable().
void ThresholdLine(uint8_t* dst, const uint8_t* src, int32_t width, int32_t slice);
