// TW_FIX32 from and to floating point, one conversion for hosts and sources
// alike, so that a value read back and written again stays where it was.
//
// A value is rounded to the nearest 1/65536 (halves upward, negative values
// alike: floor(x * 65536 + 0.5)); NaN gives 0 and values beyond the format
// saturate at its ends.
#pragma once

#include <cmath>
#include <cstdint>

#include "twain/records.h"

// x * 65536 rounded as above, as the signed 32-bit fixed-point number.
inline TW_INT32 TwFix32Scaled(float x) {
    if (std::isnan(x)) return 0;
    const double v = std::floor(static_cast<double>(x) * 65536.0 + 0.5);
    if (v <= static_cast<double>(INT32_MIN)) return INT32_MIN;
    if (v >= static_cast<double>(INT32_MAX)) return INT32_MAX;
    return static_cast<TW_INT32>(v);
}

// Whole is the high 16 bits of the fixed-point number, Frac the low 16 bits.
inline TW_FIX32 TwFix32FromFloat(float x) {
    const auto bits = static_cast<std::uint32_t>(TwFix32Scaled(x));
    return TW_FIX32{static_cast<TW_INT16>(static_cast<std::uint16_t>(bits >> 16)),
                    static_cast<TW_UINT16>(bits & 0xFFFFu)};
}

inline float TwFix32ToFloat(const TW_FIX32& fix) {
    return static_cast<float>(fix.Whole) + static_cast<float>(fix.Frac) / 65536.0f;
}

// A TW_FIX32 as the one 32-bit word a container's Item holds on this
// platform (little-endian, Whole first): Whole in the low 16 bits, Frac in
// the high 16 bits.
inline TW_UINT32 TwFix32Word(const TW_FIX32& fix) {
    return static_cast<TW_UINT32>(static_cast<std::uint16_t>(fix.Whole)) | (static_cast<TW_UINT32>(fix.Frac) << 16);
}

inline TW_FIX32 TwFix32FromWord(TW_UINT32 word) {
    return TW_FIX32{static_cast<TW_INT16>(static_cast<std::uint16_t>(word & 0xFFFFu)),
                    static_cast<TW_UINT16>(word >> 16)};
}
