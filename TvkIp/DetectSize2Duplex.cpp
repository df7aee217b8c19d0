// Second duplex size detector: shadow edges of both sensors, mirrored into
// each side's coordinates, give each side's slant, corners and rectangle.
#include "DetectSize2Duplex.h"

#include "DebugFile.h"
#include "EdgeProfile.h"
#include "slant_fnc.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

using Tvk::tagPOINT;
using namespace EDGE_PROFILE_FUNCSPACE;

namespace {

constexpr int32_t kTargetDpi = 150;

int32_t CeilDiv(int32_t a, int32_t b) {
    return (a + b - 1) / b;
}

int32_t LeftEdge(const std::vector<int32_t>& e) {
    const int32_t n = static_cast<int32_t>(e.size());
    int32_t i = 0;
    while (i < n - 1 && e[i] == -1) ++i;
    return i;
}

int32_t RightEdge(const std::vector<int32_t>& e) {
    for (int32_t i = static_cast<int32_t>(e.size()) - 1; i >= 0; --i)
        if (e[i] != -1) return i;
    return 0;
}

// Resamples a column profile from x resolution to y resolution.
void Normalize(std::vector<int32_t>& e, int32_t xres, int32_t yres) {
    if (xres == yres || xres < 1 || yres < 1) return;
    const int64_t n = static_cast<int64_t>(e.size());
    const int64_t m = n * yres / xres;
    std::vector<int32_t> out(static_cast<size_t>(m));
    for (int64_t j = 0; j < m; ++j) out[j] = e[std::min(n - 1, j * xres / yres)];
    e.swap(out);
}

// ---- Slant log ----
FILE* g_dsoutput = nullptr;
bool g_dsChecked = false;
bool g_IsFront = true;

} // namespace

// ---- Edge filters ----

struct CDetectSizeWithDuplex2::Filter {
    bool top = true;
    bool oneLine = false;
    std::vector<int32_t> edge, cnt;
    int32_t topSpan = 0, bottomSpan = 0;
    int32_t endTrim = 0;
    int32_t medianUm = 1000;

    void init(const CImg::tagIMGSET& img, const tagOPTION& o, bool isTop, bool isOneLine) {
        top = isTop;
        oneLine = isOneLine;
        edge.assign(static_cast<size_t>(img.width), -1);
        cnt.assign(static_cast<size_t>(img.width), 0);
        const int32_t ystep = CeilDiv(img.ydpi, kTargetDpi);
        const int32_t value = oneLine ? 1 : 5;
        topSpan = top ? value * ystep : 0;
        bottomSpan = top ? 0 : value * ystep;
        endTrim = static_cast<int32_t>(int64_t{o.lEndTrim} * img.ydpi * 10 / 254);
        medianUm = o.lMedianUm > 0 ? o.lMedianUm : 1000;
    }

    // Line y of the image; `near` is line y - 1 (top) or y + 1 (bottom) for
    // the averaged forms, `ref` the line the span away.
    void filterLine(const uint8_t* cur, const uint8_t* near, const uint8_t* ref, int32_t y,
                    int32_t level, int32_t drop) {
        const int32_t w = static_cast<int32_t>(edge.size());
        int32_t* e = edge.data();
        int32_t* c = cnt.data();
        if (top && !oneLine) {
            for (int32_t x = 0; x < w; ++x) {
                if (e[x] != -1 && c[x] == 0) continue;
                const int32_t m = (cur[x] + near[x]) / 2;
                if (ref[x] - m > drop && m < level) {
                    e[x] = y + 1;
                    ++c[x];
                } else {
                    c[x] = 0;
                }
            }
        } else if (top) {
            for (int32_t x = 0; x < w; ++x) {
                if (c[x] < 0) continue;
                const int32_t v = cur[x];
                if (v < level && ref[x] - v > drop) {
                    e[x] = y + 1;
                    ++c[x];
                } else if (c[x] != 0) {
                    c[x] = -1;
                }
            }
        } else if (oneLine) {
            for (int32_t x = 0; x < w; ++x) {
                const int32_t m = cur[x];
                const bool hit = ref[x] - m > drop && m < level;
                e[x] = hit ? y - c[x] - 1 : e[x];
                c[x] = hit ? c[x] + 1 : 0;
            }
        } else {
            // Every line of every column: kept free of branches.
            for (int32_t x = 0; x < w; ++x) {
                const int32_t m = (cur[x] + near[x]) >> 1;
                const bool hit = ref[x] - m > drop && m < level;
                e[x] = hit ? y - c[x] - 1 : e[x];
                c[x] = hit ? c[x] + 1 : 0;
            }
        }
    }

    // Removes the rounded ends of an edge over at most the end-trim width.
    void trim() {
        const int32_t l = LeftEdge(edge), r = RightEdge(edge);
        if (l >= r || endTrim <= 0) return;
        auto bad = [this](int32_t s) { return top ? s < 0 : s >= 0; };
        int32_t run = l;
        for (int32_t i = l; i < std::min(l + endTrim, r); ++i) {
            if (edge[i + 1] == -1) break;
            const int32_t s = edge[i + 1] - edge[i];
            if (bad(s)) break;
            if (s != 0) {
                std::fill(edge.begin() + run, edge.begin() + i + 1, -1);
                run = i + 1;
            }
        }
        run = r;
        for (int32_t j = r; j > std::max(r - endTrim, l); --j) {
            if (edge[j - 1] == -1 || edge[j] == -1) break;
            const int32_t s = edge[j - 1] - edge[j];
            if (bad(s)) break;
            if (s != 0) {
                std::fill(edge.begin() + j, edge.begin() + run + 1, -1);
                run = j - 1;
            }
        }
    }

    void noizegate(int32_t xres) {
        const int32_t w = static_cast<int32_t>(edge.size());
        filtering_edge_data(edge.data(), w, static_cast<int32_t>(int64_t{xres} * 50 / 254));
        trim();
        const int32_t l = LeftEdge(edge), r = RightEdge(edge);
        if (l < r && r < w)
            revise_median_ex(edge.data() + l, r - l, get_median_range_ex(medianUm, xres));
    }
};

// ---- Detector ----

CDetectSizeWithDuplex2::CDetectSizeWithDuplex2() = default;
CDetectSizeWithDuplex2::~CDetectSizeWithDuplex2() = default;

uint32_t CDetectSizeWithDuplex2::Initialize(const CImg::tagIMGSET& front,
                                            const CImg::tagIMGSET& back, const tagOPTION* option,
                                            bool swap) {
    m_bInitialized = false;
    if (!option || option->ulSize != kOptionSize) return kIpErrBadArgument;
    if (front.xdpi < 1 || front.ydpi < 1 || back.xdpi < 1 || back.ydpi < 1)
        return kIpErrBadArgument;
    // Mirroring needs two images of one width; the filters read 8-bit
    // samples (the green ones of colour).
    auto usable = [](const CImg::tagIMGSET& s) {
        return s.width >= 1 && (s.bpp == 8 || s.bpp == 24);
    };
    if (!usable(front) || !usable(back) || front.width != back.width || front.bpp != back.bpp)
        return kIpErrBadArgument;
    m_option = *option;
    if (m_option.lEndTrim < 0) m_option.lEndTrim = 5;
    for (int k = 0; k < 2; ++k) {
        if (m_option.lDrop[k] < 0) m_option.lDrop[k] = 40;
        if (m_option.lLevel[k] < 0) m_option.lLevel[k] = 100;
    }
    m_bSwap = swap;
    m_bFixed = false;
    m_lLines = 0;
    m_side[0].page = swap ? back : front;
    m_side[1].page = swap ? front : back;
    m_lOffset = swap ? -m_option.lOffset : m_option.lOffset;

    const bool oneLine = (m_option.ulPass & kPassOneLine) != 0;
    for (auto& f : m_filter) {
        f.reset(new (std::nothrow) Filter());
        if (!f) return kIpErrOutOfMemory;
    }
    try {
        m_filter[0]->init(m_side[0].page, m_option, m_option.bBottomUp != 0, oneLine);
        m_filter[1]->init(m_side[1].page, m_option, true, oneLine);
        m_lWindow = std::max(m_filter[0]->topSpan, m_filter[1]->topSpan) +
                    std::max(m_filter[0]->bottomSpan, m_filter[1]->bottomSpan) + 1;
        for (auto& s : m_side) {
            s.page.pImg = nullptr;
            s.ring.assign(static_cast<size_t>(m_lWindow) * s.page.width, 0);
        }
        for (int k = 0; k < 2; ++k) m_receiver[k].assign(m_side[k].page.width, -1);
    } catch (const std::bad_alloc&) {
        return kIpErrOutOfMemory;
    }
    const CImg::tagIMGSET& f = front;
    m_l5mm = static_cast<int32_t>(int64_t{f.ydpi} * 50 / 254);
    m_lMargin = m_option.lCornerMargin >= 0 ? m_option.lCornerMargin
                                            : static_cast<int32_t>(int64_t{f.xdpi} * 10 / 254);
    m_bInitialized = true;
    return 0;
}

uint32_t CDetectSizeWithDuplex2::get_current_option(tagOPTION* option) const {
    if (option) *option = m_option;
    return 0;
}

int32_t CDetectSizeWithDuplex2::xdpi(bool front) const {
    return m_side[front == !m_bSwap ? 0 : 1].page.xdpi;
}

int32_t CDetectSizeWithDuplex2::ydpi(bool front) const {
    return m_side[front == !m_bSwap ? 0 : 1].page.ydpi;
}

uint32_t CDetectSizeWithDuplex2::last(const CImg::tagIMGSET& front, const CImg::tagIMGSET& back) {
    const bool emptyF = !front.pImg && front.height == 0;
    const bool emptyB = !back.pImg && back.height == 0;
    if (emptyF && emptyB) return 0;
    if (emptyF || emptyB) return kIpErrBadParamBlock;
    return piece(front, back);
}

uint32_t CDetectSizeWithDuplex2::piece(const CImg::tagIMGSET& front, const CImg::tagIMGSET& back) {
    if (!m_bInitialized) return kIpErrBadArgument;
    const CImg::tagIMGSET& a = m_bSwap ? back : front;
    const CImg::tagIMGSET& b = m_bSwap ? front : back;
    // Both bands must match each other and the page, line for line.
    if (a.width != b.width || a.sync != b.sync || a.bpp != b.bpp || a.xdpi != b.xdpi ||
        a.ydpi != b.ydpi || a.pixelorder != b.pixelorder || a.height != b.height)
        return kIpErrBadArgument;
    if (a.height == 0) return 0;
    const CImg::tagIMGSET& page = m_side[0].page;
    if (!a.pImg || !b.pImg || a.height < 0 || a.width != page.width || a.bpp != page.bpp)
        return kIpErrBadArgument;
    const int64_t need = a.bpp == 24 ? int64_t{a.width} * 3 : a.width;
    if (a.sync < need) return kIpErrBadArgument;
    // The green samples of a colour band: its second plane (a third of the
    // band's own bytes per line in), or every third byte from the second.
    const bool planar = a.bpp == 24 && a.pixelorder == 1;
    const ptrdiff_t green = a.bpp != 24 ? 0 : planar ? a.sync / 3 : 1;
    const int32_t step = a.bpp == 24 && !planar ? 3 : 1;
    if (planar && a.sync / 3 < a.width) return kIpErrBadArgument;
    const bool bottomUp = m_option.bBottomUp != 0;
    for (int32_t i = 0; i < a.height; ++i) {
        const int32_t ia = bottomUp ? a.height - 1 - i : i;
        feed(a.pImg + static_cast<ptrdiff_t>(ia) * a.sync + green,
             b.pImg + static_cast<ptrdiff_t>(i) * b.sync + green, step);
    }
    return 0;
}

void CDetectSizeWithDuplex2::feed(const uint8_t* first, const uint8_t* second, int32_t step) {
    const int32_t slot = m_lLines % m_lWindow;
    const uint8_t* src[2] = {first, second};
    for (int k = 0; k < 2; ++k) {
        const CImg::tagIMGSET& p = m_side[k].page;
        uint8_t* dst = m_side[k].ring.data() + static_cast<size_t>(slot) * p.width;
        if (step == 1) {
            std::memcpy(dst, src[k], static_cast<size_t>(p.width));
        } else {
            for (int32_t x = 0; x < p.width; ++x) dst[x] = src[k][step * x];
        }
    }
    ++m_lLines;
    if (m_lLines < m_lWindow) return;
    // The second image's filter first, then the first image's.
    for (int k = 1; k >= 0; --k) {
        Filter& f = *m_filter[k];
        const int32_t w = m_side[k].page.width;
        auto row = [&](int32_t y) {
            return m_side[k].ring.data() + static_cast<size_t>(y % m_lWindow) * w;
        };
        const int32_t y = m_lLines - f.bottomSpan - 1;
        const uint8_t* cur = row(y);
        const uint8_t* near = f.top ? row(y - 1) : row(y + 1);
        const uint8_t* ref = f.top ? row(y - f.topSpan) : row(y + f.bottomSpan);
        f.filterLine(cur, near, ref, y, m_option.lLevel[k], m_option.lDrop[k]);
    }
}

void CDetectSizeWithDuplex2::fixEdge() {
    if (m_bFixed) return;
    m_bFixed = true;
    Filter& f0 = *m_filter[0];
    Filter& f1 = *m_filter[1];
    if (f0.top && m_option.bBottomUp)
        for (int32_t& v : f0.edge)
            if (v != -1) v = (m_lLines - 1) - v;
    f0.noizegate(m_side[0].page.xdpi);
    f1.noizegate(m_side[1].page.xdpi);
    const int32_t w = m_side[0].page.width;
    std::fill(m_receiver[0].begin(), m_receiver[0].end(), -1);
    std::fill(m_receiver[1].begin(), m_receiver[1].end(), -1);
    for (int32_t x = 0; x < w; ++x) {
        if (f1.edge[x] != -1) m_receiver[0][w - 1 - x] = f1.edge[x] - m_lOffset;
        if (f0.edge[x] != -1) m_receiver[1][w - 1 - x] = f0.edge[x] + m_lOffset;
    }
    const CImg::tagIMGSET& p0 = m_side[0].page;
    const CImg::tagIMGSET& p1 = m_side[1].page;
    Normalize(f1.edge, p0.xdpi, p0.ydpi);
    Normalize(m_receiver[0], p0.xdpi, p0.ydpi);
    Normalize(f0.edge, p1.xdpi, p1.ydpi);
    Normalize(m_receiver[1], p1.xdpi, p1.ydpi);
}

namespace {

// Slant of one edge between two columns (both valid): (1, 0) for a flat
// edge; false when none is found.
bool SlantCore(std::vector<int32_t>& e, int32_t from, int32_t to, bool top, int32_t l5mm,
               tagPOINT* slant) {
    if (from >= to) return false;
    EdgeIndexList outline;
    int32_t far = -1;
    get_outline_ex(e.data(), from, to, outline, &far, top);
    if (outline.empty()) return false;
    EdgeIndexList chains[2];
    get_sep_xvec_ex(e.data(), outline, chains, top);
    if (chains[0].empty() || chains[1].empty()) return false;
    const int32_t a = chains[0].back() - chains[0].front();
    const int32_t b = chains[1].front() - chains[1].back();
    const int32_t e0 = chains[0].back(), e1 = chains[1].back();
    const int32_t c = e[e0] == e[e1] ? std::abs(e1 - e0) : 0;
    if (a <= c && b <= c) {
        *slant = {1, 0};
        return true;
    }
    const bool useLeft = a > b;
    std::vector<tagPOINT> vec;
    get_pvec(e.data(), useLeft ? chains[0] : chains[1], vec);
    KeepSlantSteps(vec, l5mm, ShorterStep);
    if (vec.empty()) return false;
    *slant = SumSlantSteps(vec, useLeft);
    return true;
}

// The columns of an edge used for its slant: 5 mm in from both ends, on
// valid entries.
void SlantRange(const std::vector<int32_t>& e, int32_t l5mm, int32_t* from, int32_t* to) {
    const int32_t l = LeftEdge(e), r = RightEdge(e);
    int32_t f = l + l5mm, t = r - l5mm;
    if (f >= t) f = l, t = r;
    while (f < t && e[f] == -1) ++f;
    while (t > f && e[t] == -1) --t;
    *from = f, *to = t;
}

} // namespace

uint32_t CDetectSizeWithDuplex2::result(tagDETECTSIZEINFO* info, const tagOPTION* option) {
    if (!info || !option || !m_bInitialized) return kIpErrBadArgument;
    m_option.lReserved5 = option->lReserved5;
    m_option.lMinLength = option->lMinLength;
    m_option.lShortfall = option->lShortfall;
    m_option.lFallbackTop = option->lFallbackTop;
    m_option.lFallbackLeft = option->lFallbackLeft;
    m_option.lFallbackRight = option->lFallbackRight;
    m_option.bFront = option->bFront;
    try {
        fixEdge();
        // The front is the first image unless the sides are swapped.
        const bool front = m_option.bFront != 0;
        calcSide(front == m_bSwap, info);
    } catch (const std::bad_alloc&) {
        return kIpErrOutOfMemory;
    }
    return 0;
}

void CDetectSizeWithDuplex2::rollBack(tagDETECTSIZEINFO* info, const CImg::tagIMGSET& page,
                                      bool lagging) const {
    const int32_t off = std::abs(m_option.lOffset);
    int32_t left = m_option.lFallbackLeft < 0 ? 0 : m_option.lFallbackLeft;
    int32_t top = m_option.lFallbackTop < 0 ? 0 : m_option.lFallbackTop;
    int32_t right =
        m_option.lFallbackRight < 0 ? page.width - left : page.width - m_option.lFallbackRight;
    int32_t bottom = lagging ? std::max(0, m_lLines - off) : m_lLines;
    SetUprightResult(info, {left, bottom, right, top});
}

void CDetectSizeWithDuplex2::calcSide(bool secondImage, tagDETECTSIZEINFO* info) {
    const int k = secondImage ? 1 : 0;
    const CImg::tagIMGSET& page = m_side[k].page;
    const bool front = m_option.bFront != 0;
    // The offset is the back image's line against the front's: negative when
    // the front lags. Each side is measured in its own image, so the lagging
    // side's lines are counted from where the leading side's page starts;
    // the caller cuts the same lines off the lagging side's top.
    const bool lagging = (m_option.lOffset < 0 && front) || (m_option.lOffset > 0 && !front);
    const int32_t off = std::abs(m_option.lOffset);
    // Working copies: the slant steps change the profiles.
    std::vector<int32_t> a = secondImage ? m_filter[1]->edge : m_receiver[0];
    std::vector<int32_t> b = secondImage ? m_receiver[1] : m_filter[0]->edge;
    if (RightEdge(a) <= LeftEdge(a) || RightEdge(b) <= LeftEdge(b)) {
        rollBack(info, page, lagging);
        return;
    }
    const int32_t yres = page.ydpi, xres = page.xdpi;
    const int32_t width = static_cast<int32_t>(a.size());

    // Slant and rectangle.
    const bool takeB = (front ? m_option.bTakeBottomFront : m_option.bTakeBottomBack) != 0;
    tagPOINT sa{1, 0}, sb{1, 0};
    int32_t fa, ta, fb, tb;
    SlantRange(a, m_l5mm, &fa, &ta);
    SlantRange(b, m_l5mm, &fb, &tb);
    std::vector<int32_t> wa = a, wb = b;
    const bool foundA = SlantCore(wa, fa, ta, true, m_l5mm, &sa);
    const bool foundB = SlantCore(wb, fb, tb, false, m_l5mm, &sb);
    if (foundB && sb.y != 0) std::swap(sb.x, sb.y);
    tagPOINT slant{1, 0};
    if (foundA && foundB) {
        const tagPOINT s1 = TurnIfSteep(sa), s2 = TurnIfSteep(sb);
        const int64_t cr = int64_t{s1.x} * s2.y - int64_t{s1.y} * s2.x;
        const int64_t dot = int64_t{s1.x} * s2.x + int64_t{s1.y} * s2.y;
        if (std::llabs(cr) * 1024 < std::llabs(dot) * 108) slant = takeB ? sb : sa;
    }
    Tvk::tagRECT rect;
    rect.left = std::min(LeftEdge(a), LeftEdge(b));
    rect.right = std::max(RightEdge(a), RightEdge(b));
    rect.top = MinEx(a);
    rect.bottom = MaxEntry(b);
    OutputSlantData_ForDebug(foundA ? sa : tagPOINT{1, 0});

    // Corners.
    int32_t m = m_lMargin;
    if (xres > yres && yres >= 1) m = static_cast<int32_t>(int64_t{m} * yres / xres);
    tagPOINT pt[4];
    bool fromRect = true;
    if (slant.x != 0 && slant.y != 0) {
        const tagPOINT u = slant.x <= slant.y ? slant : tagPOINT{slant.y, -slant.x};
        const int64_t ux = u.x, uy = u.y;
        int64_t cmin = INT64_MAX, cmax = INT64_MIN, emin = INT64_MAX, emax = INT64_MIN;
        int32_t l2 = rect.left + m_l5mm, r2 = rect.right - m_l5mm;
        if (l2 > r2) l2 = rect.left, r2 = rect.right;
        for (const std::vector<int32_t>* e : {&a, &b}) {
            for (int32_t x = std::max(0, rect.left); x <= rect.right && x < width; ++x) {
                const int64_t v = (*e)[x];
                if (v < 0) continue;
                const int64_t c = (ux * v - uy * x) / ux;
                cmin = std::min(cmin, c), cmax = std::max(cmax, c);
                if (x >= l2 && x <= r2) {
                    const int64_t ev = (uy * v + ux * x) / uy;
                    emin = std::min(emin, ev), emax = std::max(emax, ev);
                }
            }
        }
        if (cmin <= cmax && emin <= emax) {
            auto at = [&](int64_t c, int64_t e) { return cross(u.x, u.y, Clamp32(c), Clamp32(e)); };
            if (u.y < 1) {
                pt[0] = at(cmin, emax), pt[1] = at(cmax, emax);
                pt[2] = at(cmax, emin), pt[3] = at(cmin, emin);
            } else {
                pt[0] = at(cmax, emin), pt[1] = at(cmax, emax);
                pt[2] = at(cmin, emax), pt[3] = at(cmin, emin);
            }
            fromRect = false;
            const int32_t len = static_cast<int32_t>(std::sqrt(double(ux * ux + uy * uy)));
            if (m != 0 && len != 0) {
                const int32_t p = static_cast<int32_t>(int64_t{m} * u.y / len);
                const int32_t q = static_cast<int32_t>(int64_t{m} * u.x / len);
                const tagPOINT steep[4] = {
                    {p + q, p + q}, {p - q, q - p}, {-p - q, q - p}, {q - p, p + q}};
                const tagPOINT flat[4] = {
                    {p + q, p - q}, {p - q, -p - q}, {-p - q, q - p}, {q - p, p + q}};
                const tagPOINT* d = u.y >= u.x ? steep : flat;
                for (int i = 0; i < 4; ++i) pt[i].x += d[i].x, pt[i].y += d[i].y;
            }
        }
    }
    if (fromRect) {
        pt[0] = {rect.left + m / 2, rect.bottom - m};
        pt[1] = {rect.right - m / 2, rect.bottom - m};
        pt[2] = {rect.right - m / 2, rect.top + m};
        pt[3] = {rect.left + m / 2, rect.top + m};
    }
    if (lagging)
        for (tagPOINT& c : pt) c.y -= off;

    // Back to the page's own resolutions, and the checks.
    if (xres != yres) {
        for (tagPOINT& c : pt) c.x = Clamp32(int64_t{c.x} * xres / yres);
        slant.x = Clamp32(int64_t{slant.x} * xres / yres);
        rect.left = Clamp32(int64_t{rect.left} * xres / yres);
        rect.right = Clamp32(int64_t{rect.right} * xres / yres);
    }
    info->slant = slant;
    for (int i = 0; i < 4; ++i) info->corner[i] = pt[i];
    int32_t total = m_lLines;
    rect.left = std::max(rect.left, 0);
    rect.top = std::max(rect.top, 0);
    rect.right = std::min(rect.right, page.width);
    rect.bottom = std::min(rect.bottom, total);
    if (lagging) {
        rect.bottom = std::max(rect.bottom - off, 0);
        rect.top = std::max(rect.top - off, 0);
        total -= off;
    }
    info->rect = rect;
    if (!(m_option.ulPass & kPassNoLengthCheck)) {
        const int64_t tenMm = int64_t{yres} * 10000 / 25400;
        const bool tooShort =
            m_option.lMinLength != 0 && total - m_option.lFallbackTop < m_option.lMinLength;
        const bool shortfall =
            (m_lLines - off) - (tenMm + m_option.lShortfall + m_option.lFallbackTop) >
            int64_t{rect.bottom} - rect.top;
        const bool bottomSlant = takeB && int64_t{yres} * 5000 / 25400 > m_option.lShortfall;
        if (tooShort || shortfall || bottomSlant) {
            rollBack(info, page, lagging);
            return;
        }
    }
    const tagPOINT* c = info->corner;
    const bool turned = slant.x < slant.y;
    const bool yOrder =
        turned ? c[0].y <= c[1].y && c[3].y <= c[2].y : c[3].y <= c[0].y && c[2].y <= c[1].y;
    const bool xOrder =
        turned ? c[0].x <= c[3].x && c[2].x >= c[1].x : c[3].x <= c[2].x && c[1].x >= c[0].x;
    if (!yOrder || !xOrder) rollBack(info, page, lagging);
}

// ---- Slant log ----

FILE* SlantLogOpen(const char* path) {
    if (!path || !DebugFileIsEnabled(path)) return nullptr;
    const int fd = open(path, O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
        close(fd);
        return nullptr;
    }
    FILE* f = fdopen(fd, "a");
    if (!f) close(fd);
    return f;
}

void OutputSlantData_ForDebug(tagPOINT slant) {
    if (!g_dsChecked) {
        g_dsChecked = true;
        g_dsoutput = SlantLogOpen("/tmp/detectslant.log");
    }
    const bool write = g_IsFront;
    g_IsFront = !g_IsFront;
    if (!write || !g_dsoutput) return;
    if (slant.x == 1 && slant.y == 0) {
        std::fputs("\r\nCannot detect!", g_dsoutput);
    } else {
        tagPOINT s = slant;
        if (s.x <= s.y) s = {s.y, -s.x};
        std::fprintf(g_dsoutput, "\r\n%d,%d,%f", s.x, s.y,
                     std::atan2(double(s.y), double(s.x)) * 180 / 3.141592653589793);
    }
    std::fflush(g_dsoutput);
}
