// Blank-page test: edges counted inside the page less a 5 mm border, against
// a threshold that depends on the user's blank-skip level, the image type
// and the resolution.
#pragma once

#include "IPBase.h"

#include <cstdint>

namespace Tvk::Imvra {

// Stage record (holds a pointer: native layout).
struct tagISBLANKPAGESTAGEINFO {
    uint32_t ulSize;        // kIsBlankPageStageInfoSize
    uint32_t ulReserved1;   // not read
    int32_t lSlice;         // blank-skip level; 0 switches the test off
    uint32_t ulReserved2;   // not read
    uint8_t* pbBlankPage;   // receives 1 (blank) or 0
    uint8_t ucEdgeLevel[4]; // [0] and [1]: the edge levels of the edge count
};
inline constexpr uint32_t kIsBlankPageStageInfoSize = sizeof(tagISBLANKPAGESTAGEINFO);

// Thresholds of the blank-page test. Every product and quotient is taken in
// 64 bits: the level comes from the user.
class BlankSkipThresh {
public:
    // The straight line through (x0, y0) and (x1, y1) at x, truncated toward 0.
    static long GetThreshFrom2Point(long x0, long y0, long x1, long y1, long x);
    static long GetThreshBin(long slice, long dpi);
    static long GetThreshGray(long slice, long dpi);
    static long GetThreshColor(long slice, long dpi);
    // 8 bits a pixel: gray, 24: colour, 1: binary; any other value gives 0.
    static long GetThresh(long slice, long bitsPerPixel, long dpi);
};

class CIsBlankPage : public CIPBase {
public:
    CIsBlankPage() = default;
    // The count, ten pairs of doubles and the flag are kept for the engine
    // that passes them; the test does not read them.
    CIsBlankPage(unsigned long count, const double* table, bool flag);

    const char* getName() const override { return "IsBlankPage"; }
    int IP(CImg& img) override;
    int IPFirst(CImg&) override { return RTN_UNSUPPORTED; }
    int IPMiddle(CImg&) override { return RTN_UNSUPPORTED; }
    int IPLast(CImg&) override { return RTN_UNSUPPORTED; }
    int setInfo(CImg& img, void* info) override;
    int setInfoFirst(CImg& img, void* info) override { return setInfo(img, info); }
    int setInfoMiddle(CImg& img, void* info) override { return setInfo(img, info); }
    int setInfoLast(CImg& img, void* info) override { return setInfo(img, info); }

    // What the second constructor was given.
    unsigned long count() const { return m_count; }
    const double* table() const { return m_table; }
    bool flag() const { return m_flag; }

private:
    int IsBlankPage(CImg& img);

    tagISBLANKPAGESTAGEINFO m_info{};
    unsigned long m_count = 0;
    double m_table[20] = {};
    bool m_flag = false;
};

} // namespace Tvk::Imvra
