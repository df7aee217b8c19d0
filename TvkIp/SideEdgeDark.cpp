// Side-edge detection of a sheet on a dark backing.
#include "SideEdgeDark.h"

#include "slant_fnc.h"

#include <algorithm>
#include <cstring>
#include <new>

using Tvk::tagPOINT;

namespace {

// Squared cosine (in 1/2^20) below which two sides count as perpendicular:
// the integer part of (cos 89.7)² × 2^20 with the angle taken in radians, as
// the detectors always used it.
constexpr int64_t THRESHOLD_VERTICAL_COSINE = 28156;

int32_t FirstValid(const std::vector<int32_t>& e) {
    for (size_t i = 0; i < e.size(); ++i)
        if (e[i] != -1) return static_cast<int32_t>(i);
    return -1;
}

int32_t LastValid(const std::vector<int32_t>& e) {
    for (size_t i = e.size(); i-- > 0;)
        if (e[i] != -1) return static_cast<int32_t>(i);
    return -1;
}

int32_t Um(int32_t um, int32_t dpi) {
    return static_cast<int32_t>(int64_t{um} * dpi / 25400);
}

// Median widths of a millimetre are even at some resolutions (75, 254 dpi);
// the median needs an odd width, so the next odd one is taken.
int32_t OddWidth(int32_t w) {
    return w < 1 ? 1 : (w % 2 == 0 ? w + 1 : w);
}

void Smooth(std::vector<int32_t>& e, int32_t width) {
    const int32_t f = FirstValid(e), l = LastValid(e);
    if (f >= 0 && f < l) revise_median_ex(e.data() + f, l - f, OddWidth(width));
}

// Outline of a profile between its valid ends moved inward by half a length.
bool Outline(const std::vector<int32_t>& e, bool side, int32_t half, EdgeIndexList& out) {
    int32_t a = FirstValid(e), b = LastValid(e);
    if (a < 0 || a >= b) return false;
    if (a + half < b - half) {
        a += half, b -= half;
        while (a < b && e[a] == -1) ++a;
        while (b > a && e[b] == -1) --b;
    }
    int32_t far = -1;
    get_outline_ex(e.data(), a, b, out, &far, side);
    return out.size() >= 2;
}

// Longest step between neighbouring outline points (the first of equals).
struct Step {
    int32_t length = 0;   // index difference
    tagPOINT along{0, 0}; // (index change, value change)
};

Step Longest(const std::vector<int32_t>& e, const EdgeIndexList& o) {
    Step s;
    for (size_t i = 1; i < o.size(); ++i) {
        const int32_t d = o[i] - o[i - 1];
        if (d > s.length) {
            s.length = d;
            s.along = {d, e[o[i]] - e[o[i - 1]]};
        }
    }
    return s;
}

} // namespace

CDetectSlantAndSize_SideEdge::CDetectSlantAndSize_SideEdge() {
    m_pLeft = new (std::nothrow) int32_t*[kBlocks]();
    m_pRight = new (std::nothrow) int32_t*[kBlocks]();
}

CDetectSlantAndSize_SideEdge::~CDetectSlantAndSize_SideEdge() {
    Release();
    delete[] m_pLeft;
    delete[] m_pRight;
}

void CDetectSlantAndSize_SideEdge::Release() {
    for (int32_t** table : {m_pLeft, m_pRight}) {
        if (!table) continue;
        for (int32_t i = 0; i < kBlocks; ++i) {
            delete[] table[i];
            table[i] = nullptr;
        }
    }
    std::vector<int32_t>().swap(m_top);
    std::vector<int32_t>().swap(m_bottom);
    std::vector<int32_t>().swap(m_count);
    std::vector<int32_t>().swap(m_left);
    std::vector<int32_t>().swap(m_right);
    m_lLine = 0;
    m_slant = {1, 0};
    m_rect = {0, 0, 0, 0};
    for (tagPOINT& p : m_pt) p = {0, 0};
}

uint32_t CDetectSlantAndSize_SideEdge::Initialize(const tagTVKIMAGEINFO* image,
                                                  const tagOPTION* option) {
    if (!image || !option) return kIpErrBadArgument;
    if (!m_pLeft || !m_pRight) return kIpErrOutOfMemory;
    Release();
    m_option = tagOPTION{};
    std::memcpy(&m_option, option, std::min<uint32_t>(option->ulSize, kKeptOptionSize));
    m_option.ulSize = kKeptOptionSize;
    if (image->lBps != 8 || image->lSpp < 1 || image->lWidth < 1 || image->lXResolution < 1 ||
        image->lYResolution < 1)
        return kIpErrBadArgument;
    m_lWidth = image->lWidth;
    m_lSpp = image->lSpp;
    m_ulOrder = image->ulRGBOrder;
    m_lXRes = image->lXResolution;
    m_lYRes = image->lYResolution;
    // The margin stays inside the line.
    m_lMargin = std::clamp(Um(m_option.lMarginUm, m_lXRes), 0, (m_lWidth - 1) / 2);
    m_lRun = Um(m_option.lMinRunUm, m_lXRes);
    m_lRunY = Um(m_option.lMinRunUm, m_lYRes);
    try {
        m_top.assign(m_lWidth, -1);
        m_bottom.assign(m_lWidth, -1);
        m_count.assign(m_lWidth, 0);
    } catch (const std::bad_alloc&) {
        Release();
        return kIpErrOutOfMemory;
    }
    return 0;
}

uint32_t CDetectSlantAndSize_SideEdge::Image(const tagTVKIMAGEINFO* band) {
    if (!band || band->lBps != 8) return kIpErrBadArgument;
    if (band->lHeight == 0) return 0;
    // A band must have the page's geometry, and its lines must hold it.
    if (m_top.empty() || !band->lpImage || band->lHeight < 0 || band->lWidth != m_lWidth ||
        band->lSpp != m_lSpp || band->ulRGBOrder != m_ulOrder)
        return kIpErrBadArgument;
    const bool planes = m_ulOrder != 0;
    const int64_t need = planes ? m_lWidth : int64_t{m_lWidth} * m_lSpp;
    if (band->lSync < need) return kIpErrBadArgument;
    const int64_t step = planes ? int64_t{band->lSync} * m_lSpp : band->lSync;
    const int64_t skip = planes ? m_lMargin : int64_t{m_lMargin} * m_lSpp;
    m_lPlane = band->lSync;
    for (int32_t y = 0; y < band->lHeight; ++y) {
        const uint32_t rc = Line(band->lpImage + y * step + skip, m_lWidth);
        if (rc != 0) return rc;
    }
    return 0;
}

uint32_t CDetectSlantAndSize_SideEdge::AddAllocate() {
    if (m_lLine > kBlocks * Document_Edge_Cluster_Length - 1) return kIpErrBadArgument;
    const int32_t block = m_lLine / Document_Edge_Cluster_Length;
    if (block >= kBlocks) return kIpErrUnsupported;
    if (m_pLeft[block]) return 0;
    int32_t* l = new (std::nothrow) int32_t[Document_Edge_Cluster_Length];
    int32_t* r = new (std::nothrow) int32_t[Document_Edge_Cluster_Length];
    if (!l || !r) {
        delete[] l;
        delete[] r;
        return kIpErrOutOfMemory;
    }
    std::fill(l, l + Document_Edge_Cluster_Length, -1);
    std::fill(r, r + Document_Edge_Cluster_Length, -1);
    m_pLeft[block] = l;
    m_pRight[block] = r;
    return 0;
}

uint32_t CDetectSlantAndSize_SideEdge::BeginLine(const uint8_t* p, int32_t width) {
    if (!p || width != m_lWidth) return kIpErrBadArgument;
    return AddAllocate();
}

uint32_t CDetectSlantAndSize_SideEdge::ColorLine(const uint8_t* p, int32_t width) {
    if (const uint32_t rc = BeginLine(p, width); rc != 0) return rc;
    GrayLine(p + 1, 3);
    ++m_lLine;
    return 0;
}

uint32_t CDetectSlantAndSize_SideEdge::Line(const uint8_t* p, int32_t width) {
    if (const uint32_t rc = BeginLine(p, width); rc != 0) return rc;
    if (m_lSpp == 3) {
        if (m_ulOrder != 0)
            ColorLine2(p, p + m_lPlane, p + 2 * int64_t{m_lPlane}, 1);
        else
            ColorLine2(p, p + 1, p + 2, 3);
    } else if (m_lSpp == 1) {
        GrayLine(p, 1);
    } else {
        return kIpErrBadArgument;
    }
    ++m_lLine;
    return 0;
}

void CDetectSlantAndSize_SideEdge::StoreLine(int32_t left, int32_t right) {
    const int32_t b = m_lLine / Document_Edge_Cluster_Length;
    const int32_t i = m_lLine % Document_Edge_Cluster_Length;
    m_pLeft[b][i] = left;
    m_pRight[b][i] = right;
}

void CDetectSlantAndSize_SideEdge::GrayLine(const uint8_t* p, int32_t step) {
    const int32_t m = m_lMargin, w = m_lWidth - 2 * m, level = m_option.lLevel;
    int32_t c = 0, stop = -1;
    for (int32_t x = 0; x < w; ++x) {
        const bool paper = p[int64_t{x} * step] > level;
        if (paper && c > m_lRun) {
            stop = x;
            break;
        }
        c = paper ? c + 1 : 0;
    }
    if (stop < 0) {
        StoreLine(-1, -1);
        return;
    }
    const int32_t left = m + stop - c;
    int32_t right = -1;
    c = 0;
    for (int32_t x = w - 1; x > stop; --x) {
        const bool paper = p[int64_t{x} * step] > level;
        if (paper && c > m_lRun) {
            right = m + x + c;
            break;
        }
        c = paper ? c + 1 : 0;
    }
    if (right > left)
        StoreLine(left, right);
    else
        StoreLine(-1, -1);
    ColumnPass(p, step, nullptr, nullptr);
}

void CDetectSlantAndSize_SideEdge::ColorLine2(const uint8_t* r, const uint8_t* g, const uint8_t* b,
                                              int32_t step) {
    const int32_t m = m_lMargin, w = m_lWidth - 2 * m, level = m_option.lLevel;
    auto paper = [&](int32_t x) {
        const int64_t i = int64_t{x} * step;
        return !(r[i] < level && g[i] < level && b[i] < level);
    };
    int32_t count = 0, stop = -1;
    for (int32_t x = 0; x < w; ++x) {
        count = paper(x) ? count + 1 : 0;
        if (count > m_lRun) {
            stop = x;
            break;
        }
    }
    if (stop < 0) {
        StoreLine(-1, -1);
        return;
    }
    // The count includes the stopping pixel: the run began count - 1 pixels
    // before it, where the gray scan (which counts the pixels before the
    // stop) finds it too.
    const int32_t left = std::max(m + stop - count + 1, 0);
    int32_t right = -1;
    count = 0;
    for (int32_t x = w - 1; x > stop; --x) {
        count = paper(x) ? count + 1 : 0;
        if (count > m_lRun) {
            // The last paper pixel of the run, which lies inside the scanned
            // part of the line.
            right = std::min(m + x + count - 1, m + w - 1);
            break;
        }
    }
    if (right > left)
        StoreLine(left, right);
    else
        StoreLine(-1, -1);
    ColumnPass(r, step, g, b);
}

// Top and bottom edge of every column: runs of paper longer than the
// narrowest paper line.
void CDetectSlantAndSize_SideEdge::ColumnPass(const uint8_t* p, int32_t step, const uint8_t* g,
                                              const uint8_t* b) {
    const int32_t m = m_lMargin, n = m_lWidth - 4 * m, level = m_option.lLevel, y = m_lLine;
    for (int32_t j = 0; j < n; ++j) {
        const int64_t i = int64_t{j} * step;
        const bool paper = g ? !(p[i] < level && g[i] < level && b[i] < level) : p[i] > level;
        const int32_t col = m + j;
        if (!paper) {
            m_count[col] = 0;
            continue;
        }
        if (++m_count[col] > m_lRunY) {
            // The counted run holds this line: it began count - 1 lines above.
            if (m_top[col] == -1) m_top[col] = std::max(y - m_count[col] + 1, 0);
            m_bottom[col] = y;
        }
    }
}

uint32_t CDetectSlantAndSize_SideEdge::Calc(const tagOPTION*) {
    uint32_t rc;
    try {
        rc = CalcCore();
    } catch (const std::bad_alloc&) {
        rc = kIpErrOutOfMemory;
    }
    return rc;
}

uint32_t CDetectSlantAndSize_SideEdge::CalcCore() {
    try {
        m_left.assign(m_lLine, -1);
        m_right.assign(m_lLine, -1);
    } catch (const std::bad_alloc&) {
        return kIpErrOutOfMemory;
    }
    for (int32_t y = 0; y < m_lLine; y += Document_Edge_Cluster_Length) {
        const int32_t b = y / Document_Edge_Cluster_Length;
        const int32_t n = std::min(Document_Edge_Cluster_Length, m_lLine - y);
        std::copy(m_pLeft[b], m_pLeft[b] + n, m_left.begin() + y);
        std::copy(m_pRight[b], m_pRight[b] + n, m_right.begin() + y);
    }
    for (int32_t y = 0; y < m_lLine; ++y)
        if (m_right[y] - m_left[y] < m_lRun) m_left[y] = m_right[y] = -1;
    const uint32_t slant = CalcSlant();
    CalcRect();
    if (slant != 0) {
        m_slant = {1, 0};
        SetFourPointFromRect();
        return 0;
    }
    CalcFourPoint();
    return 0;
}

uint32_t CDetectSlantAndSize_SideEdge::CalcSlant() {
    m_slant = {-1, 0};
    const int32_t mmX = Um(1000, m_lXRes), mmY = Um(1000, m_lYRes);
    Smooth(m_left, mmX);
    Smooth(m_right, mmX);
    Smooth(m_top, mmY);
    Smooth(m_bottom, mmY);
    const int32_t tenX = Um(10000, m_lXRes), tenY = Um(10000, m_lYRes);
    filtering_edge_data(m_left.data(), m_lLine, tenX);
    filtering_edge_data(m_right.data(), m_lLine, tenX);
    filtering_edge_data(m_top.data(), m_lWidth, tenY);
    filtering_edge_data(m_bottom.data(), m_lWidth, tenY);

    EdgeIndexList o[4]; // top, left, bottom, right
    if (!Outline(m_top, true, tenX / 2, o[0]) || !Outline(m_left, true, tenY / 2, o[1]) ||
        !Outline(m_bottom, false, tenX / 2, o[2]) || !Outline(m_right, false, tenY / 2, o[3]))
        return kIpErrUnsupported;
    const Step top = Longest(m_top, o[0]), left = Longest(m_left, o[1]),
               bottom = Longest(m_bottom, o[2]), right = Longest(m_right, o[3]);
    if (top.length < 1 || left.length < 1 || bottom.length < 1 || right.length < 1)
        return kIpErrUnsupported;
    // Side vectors (x, y) in pixels and lines.
    tagPOINT v[4] = {
        top.along, {left.along.y, left.along.x}, bottom.along, {right.along.y, right.along.x}};
    const int32_t len[4] = {top.length, left.length, bottom.length, right.length};
    for (tagPOINT& s : v) {
        if (m_lXRes > m_lYRes) s.y = static_cast<int32_t>(int64_t{s.y} * m_lXRes / m_lYRes);
        if (m_lXRes < m_lYRes) s.x = static_cast<int32_t>(int64_t{s.x} * m_lYRes / m_lXRes);
    }
    // SelectSlantFromSquare: a side nearly perpendicular to its neighbour.
    bool obtuse[4] = {false, false, false, false};
    const int64_t c[4] = {
        cos_product(&v[0], &v[1], &obtuse[0]), cos_product(&v[2], &v[1], &obtuse[1]),
        cos_product(&v[2], &v[3], &obtuse[2]), cos_product(&v[0], &v[3], &obtuse[3])};
    const int best = static_cast<int>(std::min_element(c, c + 4) - c);
    int chosen = -1;
    if (c[best] < THRESHOLD_VERTICAL_COSINE)
        chosen = best;
    else if (!obtuse[0] && !obtuse[1])
        chosen = 1;
    else if (!obtuse[2] && !obtuse[1])
        chosen = 2;
    else if (!obtuse[2] && !obtuse[3])
        chosen = 3;
    else if (!obtuse[0] && !obtuse[3])
        chosen = 0;
    if (chosen < 0 || (v[chosen].x == 0 && v[chosen].y == 0)) {
        const int first = len[0] >= len[1] ? 0 : 1;
        const int second = len[2] >= len[3] ? 2 : 3;
        chosen = len[first] >= len[second] ? first : second;
    }
    tagPOINT s = v[chosen];
    if (s.x < 0) s = {s.y, -s.x};
    if (s.y < 0) s = {-s.y, s.x};
    if (s.x == 0) s = {s.y, 0};
    m_slant = s;
    return 0;
}

void CDetectSlantAndSize_SideEdge::CalcRect() {
    int32_t left = m_lWidth, right = 0, top = m_lLine, bottom = 0;
    const int32_t mmX = Um(1000, m_lXRes), mmY = Um(1000, m_lYRes);
    const int32_t fl = FirstValid(m_left), ll = LastValid(m_left);
    if (fl >= 0)
        for (int32_t y = fl + mmY; y < ll - mmY; ++y) {
            if (m_left[y] != -1) left = std::min(left, m_left[y]);
            if (m_right[y] != -1) right = std::max(right, m_right[y]);
        }
    const int32_t ft = FirstValid(m_top), lt = LastValid(m_top);
    if (ft >= 0)
        for (int32_t x = ft + mmX; x < lt - mmX; ++x) {
            if (m_top[x] != -1) top = std::min(top, m_top[x]);
            if (m_bottom[x] != -1) bottom = std::max(bottom, m_bottom[x]);
        }
    if (right - left <= Um(10000, m_lYRes) || bottom - top <= Um(10000, m_lXRes)) {
        m_rect = {0, m_lLine, m_lWidth, 0};
        return;
    }
    m_rect = {left, bottom, right, top};
}

void CDetectSlantAndSize_SideEdge::SetFourPointFromRect() {
    m_pt[0] = {m_rect.left, m_rect.bottom};
    m_pt[1] = {m_rect.right, m_rect.bottom};
    m_pt[2] = {m_rect.right, m_rect.top};
    m_pt[3] = {m_rect.left, m_rect.top};
}

void CDetectSlantAndSize_SideEdge::CalcFourPoint() {
    const int32_t x = m_slant.x, y = m_slant.y;
    tagPOINT a, b;
    if (m_lXRes == m_lYRes) {
        a = {x, y}, b = {-y, x};
    } else if (m_lYRes < m_lXRes) {
        a = {x, static_cast<int32_t>(int64_t{y} * m_lYRes / m_lXRes)};
        b = {-y, static_cast<int32_t>(int64_t{x} * m_lYRes / m_lXRes)};
    } else {
        a = {static_cast<int32_t>(int64_t{x} * m_lXRes / m_lYRes), y};
        b = {static_cast<int32_t>(int64_t{-y} * m_lXRes / m_lYRes), x};
    }
    if (x == 0 || y == 0 || a.x == 0 || a.y == 0 || b.x == 0 || b.y == 0) {
        SetFourPointFromRect();
        return;
    }
    Tvk::tagRECT r = m_rect;
    const int32_t mmX = Um(1000, m_lXRes), mmY = Um(1000, m_lYRes);
    if (r.left + mmX < r.right - mmX && r.top + mmY < r.bottom - mmY) {
        r.left += mmX, r.right -= mmX;
        r.top += mmY, r.bottom -= mmY;
    }
    int64_t a0 = INT64_MAX, a1 = INT64_MIN, b0 = INT64_MAX, b1 = INT64_MIN;
    auto icpt = [](int64_t px, int64_t py, tagPOINT d) { return px - py * d.x / d.y; };
    auto lowSide = [&](int64_t px, int64_t py) {
        a0 = std::min(a0, icpt(px, py, a));
        b0 = std::min(b0, icpt(px, py, b));
    };
    auto highSide = [&](int64_t px, int64_t py) {
        a1 = std::max(a1, icpt(px, py, a));
        b1 = std::max(b1, icpt(px, py, b));
    };
    for (int32_t yy = std::max(r.top, 0); yy <= r.bottom && yy < m_lLine; ++yy) {
        if (m_left[yy] != -1) lowSide(m_left[yy], yy);
        if (m_right[yy] != -1) highSide(m_right[yy], yy);
    }
    for (int32_t xx = std::max(r.left, 0); xx <= r.right && xx < m_lWidth; ++xx) {
        if (m_top[xx] != -1) lowSide(xx, m_top[xx]);
        if (m_bottom[xx] != -1) highSide(xx, m_bottom[xx]);
    }
    if (a0 > a1 || b0 > b1) {
        SetFourPointFromRect();
        return;
    }
    auto at = [&](int64_t e, int64_t f) {
        return SideEdge_cross_y_x(
            a, b, static_cast<int32_t>(std::clamp<int64_t>(e, INT32_MIN, INT32_MAX)),
            static_cast<int32_t>(std::clamp<int64_t>(f, INT32_MIN, INT32_MAX)));
    };
    m_pt[0] = at(a0, b0);
    m_pt[1] = at(a0, b1);
    m_pt[2] = at(a1, b1);
    m_pt[3] = at(a1, b0);
}

uint32_t CDetectSlantAndSize_SideEdge::GetResult(Tvk::tagRECT* rect, tagPOINT* slant,
                                                 tagPOINT* corners) const {
    if (rect) *rect = m_rect;
    if (slant) *slant = m_slant;
    if (corners)
        for (int k = 0; k < 4; ++k) corners[k] = m_pt[k];
    return 0;
}

uint32_t CDetectSlantAndSize_SideEdge::GetInformation(tagOPTION* option) const {
    if (!option) return kIpErrBadArgument;
    const uint32_t size = option->ulSize;
    std::memcpy(option, &m_option, std::min<uint32_t>(size, kKeptOptionSize));
    option->ulSize = size;
    return 0;
}
