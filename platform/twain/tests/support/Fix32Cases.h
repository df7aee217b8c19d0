// The one table of TW_FIX32 conversions that the host's and the data
// source's tests both check: rounding to nearest (negative values do not
// creep toward 0), the ends of the format, saturation and NaN.
#pragma once

#include <limits>

#include "twain/types.h"

namespace twaintest {

struct Fix32Case {
    const char* name;
    float value;
    TW_INT16 whole;
    TW_UINT16 frac;
    bool exact;  // the value reads back unchanged
};

inline constexpr Fix32Case kFix32Cases[] = {
    {"0.5", 0.5f, 0, 0x8000, true},
    {"-0.5", -0.5f, -1, 0x8000, true},
    {"-1.0", -1.0f, -1, 0, true},
    {"-1.5", -1.5f, -2, 0x8000, true},
    {"-10.0", -10.0f, -10, 0, true},
    {"150.5", 150.5f, 150, 0x8000, true},
    {"0", 0.0f, 0, 0, true},
    {"a third (to nearest)", 1.0f / 3.0f, 0, 0x5555, false},
    {"minus a third (to nearest)", -1.0f / 3.0f, -1, 0xAAAB, false},
    {"-32768.0", -32768.0f, -32768, 0, true},
    {"largest float below 32768", 32767.998046875f, 32767, 0xFF80, true},
    {"32768.0 (beyond range)", 32768.0f, 32767, 0xFFFF, false},
    {"1e9 (beyond range)", 1e9f, 32767, 0xFFFF, false},
    {"-32768.5 (beyond range)", -32768.5f, -32768, 0, false},
    {"-1e9 (beyond range)", -1e9f, -32768, 0, false},
    {"infinity", std::numeric_limits<float>::infinity(), 32767, 0xFFFF, false},
    {"NaN", std::numeric_limits<float>::quiet_NaN(), 0, 0, false},
};

}  // namespace twaintest
