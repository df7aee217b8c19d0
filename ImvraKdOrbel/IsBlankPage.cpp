#include "IsBlankPage.h"

#include "CountEdge.h"
#include "TvkIpError.h"

#include <cstring>

namespace Tvk::Imvra {

namespace {

// Edge counts at the levels 10, 20, 50 and 100 (0 at level 0) for the
// resolutions 100, 150, 200, 240, 300, 400 and, last, 600 dpi, which also
// serves every other resolution scaled by it.
using ThreshRows = long[7][4];
constexpr long kDpis[6] = {100, 150, 200, 240, 300, 400};
constexpr ThreshRows kBinary = {{409, 885, 2396, 65000},    {676, 1356, 3686, 100000},
                                {915, 1862, 5025, 150000},  {1000, 2200, 6000, 160000},
                                {1484, 2922, 7823, 220000}, {2026, 3951, 10541, 300000},
                                {3270, 6187, 16108, 440000}};
constexpr ThreshRows kGray = {{196, 358, 970, 17000},     {367, 647, 1834, 38000},
                              {571, 1011, 2880, 75000},   {700, 1400, 3800, 80000},
                              {1127, 2083, 5597, 100000}, {1879, 3150, 8566, 160000},
                              {3491, 6281, 15525, 400000}};
constexpr ThreshRows kColor = {{199, 358, 1011, 17000},    {357, 659, 1768, 37000},
                               {557, 1034, 2869, 75000},   {700, 1400, 3900, 80000},
                               {1118, 2069, 5599, 100000}, {1737, 3231, 8484, 160000},
                               {3623, 6438, 15650, 400000}};

// The line of one row for the slice's segment.
long RowThresh(const long (&row)[4], long slice) {
    const long levels[5] = {0, 10, 20, 50, 100};
    const long values[5] = {0, row[0], row[1], row[2], row[3]};
    int seg = 2; // 21 to 50: the points at 20 and 50
    if (slice < 11)
        seg = 0;
    else if (slice <= 20)
        seg = 1;
    else if (slice > 50)
        seg = 3;
    return BlankSkipThresh::GetThreshFrom2Point(levels[seg], values[seg], levels[seg + 1],
                                                values[seg + 1], slice);
}

long TableThresh(const ThreshRows& rows, long slice, long dpi) {
    for (int i = 0; i < 6; ++i)
        if (dpi == kDpis[i]) return RowThresh(rows[i], slice);
    return RowThresh(rows[6], slice) * dpi / 600;
}

} // namespace

long BlankSkipThresh::GetThreshFrom2Point(long x0, long y0, long x1, long y1, long x) {
    const double t =
        static_cast<double>(y0 * x1 - y1 * x0) / static_cast<double>(x1 - x0) +
        (static_cast<double>(y0 - y1) / static_cast<double>(x0 - x1)) * static_cast<double>(x);
    return static_cast<long>(t);
}

long BlankSkipThresh::GetThreshBin(long slice, long dpi) {
    return TableThresh(kBinary, slice, dpi);
}
long BlankSkipThresh::GetThreshGray(long slice, long dpi) {
    return TableThresh(kGray, slice, dpi);
}
long BlankSkipThresh::GetThreshColor(long slice, long dpi) {
    return TableThresh(kColor, slice, dpi);
}

long BlankSkipThresh::GetThresh(long slice, long bitsPerPixel, long dpi) {
    switch (bitsPerPixel) {
    case 8:
        return GetThreshGray(slice, dpi);
    case 24:
        return GetThreshColor(slice, dpi);
    case 1:
        return GetThreshBin(slice, dpi);
    default:
        return 0;
    }
}

CIsBlankPage::CIsBlankPage(unsigned long count, const double* table, bool flag)
    : m_count(count), m_flag(flag) {
    if (table != nullptr) std::memcpy(m_table, table, sizeof(m_table));
}

int CIsBlankPage::setInfo(CImg&, void* info) {
    const auto* rec = static_cast<const tagISBLANKPAGESTAGEINFO*>(info);
    // Without a result byte the decision could go nowhere.
    if (rec == nullptr || rec->ulSize != kIsBlankPageStageInfoSize || rec->pbBlankPage == nullptr)
        return RTN_PAR;
    m_info = *rec;
    *m_info.pbBlankPage = 0;
    return RTN_OK;
}

int CIsBlankPage::IP(CImg& img) {
    return IsBlankPage(img);
}

int CIsBlankPage::IsBlankPage(CImg& img) {
    if (img.isNull()) return RTN_PAR;
    if (m_info.lSlice == 0) {
        *m_info.pbBlankPage = 0;
        return RTN_OK;
    }
    tagIMAGEINFO& page = img.info();
    // The 5 mm border, integer part; a page too small for it is counted whole.
    const long bx = static_cast<long>(static_cast<double>(page.lXResolution) * 5 / 25.4);
    const long by = static_cast<long>(static_cast<double>(page.lYResolution) * 5 / 25.4);
    long left = bx, top = by, right = page.lWidth - bx, bottom = page.lHeight - by;
    if (bx < 1 || by < 1 || right < 1 || bottom < 1 || right <= bx || bottom <= by) {
        left = 0;
        top = 0;
        right = page.lWidth;
        bottom = page.lHeight;
    }
    tagCOUNT_EDGE_INFO request{};
    request.ulSize = kCountEdgeInfoSize;
    request.lBinMode = 10;
    request.lBinParam1 = m_info.ucEdgeLevel[0];
    request.lBinParam2 = m_info.ucEdgeLevel[1];
    request.lLeft = static_cast<int32_t>(left);
    request.lTop = static_cast<int32_t>(top);
    request.lRight = static_cast<int32_t>(right);
    request.lBottom = static_cast<int32_t>(bottom);
    // The edge count reports a failure as -1 with its code in the last-error
    // word (8: memory).
    const int32_t r = CountEdge(&page, &request);
    if (r != 0) return r == 8 || IpGetLastError() == 8 ? RTN_MEM : RTN_PAR;

    const long threshold = BlankSkipThresh::GetThresh(
        m_info.lSlice, static_cast<long>(page.lBps) * page.lSpp, page.lXResolution);
    const long edges = static_cast<long>(request.lEdgeX) + request.lEdgeY;
    *m_info.pbBlankPage = threshold < edges ? 0 : 1;
    return RTN_OK;
}

} // namespace Tvk::Imvra
