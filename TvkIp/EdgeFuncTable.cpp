// Level tables of the edge-emphasis members: the correction each member adds
// for a kernel response. Divisions truncate toward zero; the tables clamp the
// result to -255..255.
#include "EdgeFuncImpl.h"

#include <cstdlib>

namespace EdgeLevel {

int32_t Steps(int32_t l, int32_t t1, int32_t d1, int32_t t2, int32_t d2) {
    const int32_t a = std::abs(l);
    if (a <= t1) return 0;
    if (a <= t2) return l / d1;
    return l / d2;
}

int32_t Clamp255(int32_t l) {
    return l < -255 ? -255 : (l > 255 ? 255 : l);
}

int32_t ByNumber(uint32_t number, int32_t l) {
    switch (number) {
    case 1:
        return l / 16;
    case 2:
        return Steps(l, 192, 16, 255, 8);
    case 3:
        return Steps(l, 128, 16, 255, 8);
    case 4:
        return Steps(l, 128, 4, 255, 2);
    case 5:
        return Steps(l, 64, 2, 192, 1);
    default:
        return 0;
    }
}

} // namespace EdgeLevel

using EdgeLevel::ByNumber;
using EdgeLevel::Clamp255;
using EdgeLevel::Steps;

namespace {
// Zero up to |l| <= t, then num * l / den; the threshold is on num * |l|.
int32_t ScaledAbove(int32_t l, int32_t num, int32_t den, int32_t t) {
    return num * std::abs(l) <= t ? 0 : (num * l) / den;
}
} // namespace

// Gray members.
int32_t CEdgeFunc2::RawLevel(int32_t l) const {
    return ByNumber(2, l);
}
int32_t CEdgeFunc3::RawLevel(int32_t l) const {
    return ByNumber(3, l);
}
int32_t CEdgeFunc4::RawLevel(int32_t l) const {
    return ByNumber(4, l);
}
int32_t CEdgeFunc5::RawLevel(int32_t l) const {
    return ByNumber(5, l);
}
int32_t CEdgeFunc6::RawLevel(int32_t l) const {
    return Clamp255(l) / 16;
}
int32_t CEdgeFunc7::RawLevel(int32_t l) const {
    return Clamp255(l) / 8;
}
int32_t CEdgeFunc8::RawLevel(int32_t l) const {
    return Clamp255(l) / 4;
}
int32_t CEdgeFunc9::RawLevel(int32_t l) const {
    return Clamp255(l) / 2;
}

// Plane filters of line-sequential colour (the response is not clamped first).
int32_t CEdgeFuncR1::RawLevel(int32_t l) const {
    return ByNumber(1, l);
}
int32_t CEdgeFuncR3::RawLevel(int32_t l) const {
    return ByNumber(3, l);
}
int32_t CEdgeFuncR4::RawLevel(int32_t l) const {
    return ByNumber(4, l);
}
int32_t CEdgeFuncR5::RawLevel(int32_t l) const {
    return ByNumber(5, l);
}

// Wide-kernel members.
int32_t CEdgeFuncMS2::RawLevel(int32_t l) const {
    return ScaledAbove(l, 1, 2, 61);
}
int32_t CEdgeFuncMS3::RawLevel(int32_t l) const {
    return ScaledAbove(l, 1, 1, 30);
}
int32_t CEdgeFuncMS4::RawLevel(int32_t l) const {
    return ScaledAbove(l, 12, 8, 247);
}
int32_t CEdgeFuncMS5::RawLevel(int32_t l) const {
    return ScaledAbove(l, 2, 1, 30);
}
int32_t CEdgeFuncMSforGray2::RawLevel(int32_t l) const {
    return ScaledAbove(l, 1, 4, 123);
}
int32_t CEdgeFuncMSforGray3::RawLevel(int32_t l) const {
    return ScaledAbove(l, 3, 8, 247);
}
int32_t CEdgeFuncMSforGray4::RawLevel(int32_t l) const {
    return ScaledAbove(l, 5, 8, 247);
}
int32_t CEdgeFuncMSforGray5::RawLevel(int32_t l) const {
    return ScaledAbove(l, 6, 8, 247);
}

// Interleaved colour members.
int32_t CEdgeFuncColorRGB2::RawLevel(int32_t l) const {
    return ByNumber(2, l);
}
int32_t CEdgeFuncColorRGB3::RawLevel(int32_t l) const {
    return ByNumber(3, l);
}
int32_t CEdgeFuncColorRGB4::RawLevel(int32_t l) const {
    return ByNumber(4, l);
}
int32_t CEdgeFuncColorRGB5::RawLevel(int32_t l) const {
    return ByNumber(5, l);
}
int32_t CEdgeFuncColorRGBAve::RawLevel(int32_t l) const {
    return ScaledAbove(l, 1, 8, 192);
}
int32_t CEdgeFuncColorRGBAvg_Th1Div8::RawLevel(int32_t l) const {
    return ScaledAbove(l, 1, 8, 1);
}
int32_t CEdgeFuncColorRGBAvg_Th192Div8_Th1Div16::RawLevel(int32_t l) const {
    return Steps(l, 1, 16, 192, 8);
}
int32_t CEdgeFuncColorRGBAvg_Th1Div16::RawLevel(int32_t l) const {
    return ScaledAbove(l, 1, 16, 1);
}
