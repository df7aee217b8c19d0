// Older simplex size detector (CDetectSize, CDetectSize2) and its line engine.
#include "ImgDetect.h"

#include "EdgeProfile.h"
#include "slant_fnc.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

using Tvk::tagPOINT;
using namespace EDGE_PROFILE_FUNCSPACE;

// ===================================================================== engine

uint32_t CCalcEdge::initialize(const CImg::tagIMGSET& page, uint8_t a, uint8_t b, int32_t d) {
    if (page.width < 1 || (page.bpp != 8 && page.bpp != 24)) return kIpErrBadArgument;
    m_a = a;
    m_b = b;
    m_d = std::max(d, 1);
    m_r = std::max<int32_t>(1, static_cast<int32_t>(int64_t{page.ydpi} * 250 / 25400));
    m_n = 0;
    m_width = page.width;
    const int32_t step = page.bpp == 24 && page.pixelorder != 1 ? 3 : 1;
    try {
        m_counter.assign(page.width, 0);
    } catch (const std::bad_alloc&) {
        return kIpErrOutOfMemory;
    }
    return m_lines.init(m_d, static_cast<size_t>(page.width - 1) * step + 1);
}

template <int Step, bool Default>
void CCalcEdge::compare(const uint8_t* f, const uint8_t* c, int32_t* const* profiles) {
    const int32_t a = m_a, b = m_b, r = m_r, n = m_n;
    const int32_t runThreshold = Default ? a : b;
    const int32_t mark = std::max(0, n - r);
    int32_t* const p0 = profiles[0];
    int32_t* const p1 = profiles[1];
    int32_t* const p2 = profiles[2];
    int32_t* const p3 = profiles[3];
    uint8_t* const counter = m_counter.data();
    const int32_t quiet = std::min(a, b);
    constexpr int32_t kChunk = 32;
    for (int32_t x = 0; x < m_width; ++x) {
        // Columns within both thresholds end their run and change no profile.
        if ((x & (kChunk - 1)) == 0 && x + kChunk <= m_width &&
            LinesAgree<Step>(f + static_cast<size_t>(x) * Step, c + static_cast<size_t>(x) * Step,
                             kChunk, quiet)) {
            std::memset(counter + x, 0, kChunk);
            x += kChunk - 1;
            continue;
        }
        const int32_t fv = f[static_cast<size_t>(x) * Step];
        const int32_t cv = c[static_cast<size_t>(x) * Step];
        const int32_t d = fv - cv;
        const int32_t ad = d < 0 ? -d : d;
        if (ad > runThreshold) {
            if (++counter[x] > r) {
                counter[x] = 0;
                int32_t* target = d < 0 ? p0 : p1;
                // The default mode keeps the first completed run, the other
                // mode the last one.
                if (!Default || target[x] == -1) target[x] = mark;
            }
        } else {
            counter[x] = 0;
        }
        if (ad > a && p2[x] == -1) p2[x] = n;
        if (ad > b && cv < 255) p3[x] = n;
    }
}

void CCalcEdge::search(const uint8_t* line, int32_t width, int32_t step, int32_t* const* profiles) {
    assert(width && "img.width");
    assert(m_width && "m_buffer.width");
    assert(width == m_width && "img.width==m_buffer.width");
    m_lines.push(line);
    if (!m_lines.full()) return;
    const uint8_t* f = m_lines.at(0);
    const uint8_t* c = m_lines.at(m_d - 1);
    const bool def = m_a <= m_b;
    if (step == 3) {
        def ? compare<3, true>(f, c, profiles) : compare<3, false>(f, c, profiles);
    } else {
        def ? compare<1, true>(f, c, profiles) : compare<1, false>(f, c, profiles);
    }
    m_lines.pop();
    ++m_n;
}

// =================================================================== detector

uint32_t CDetectSize::Initialize(const CImg::tagIMGSET& page, const tagOPTION* option) {
    m_bInitialized = false;
    if (!option || option->ulSize != kOptionSize) return kIpErrBadArgument;
    if (page.xdpi < 1 || page.ydpi < 1 || page.width < 1) return kIpErrBadArgument;
    m_page = page;
    m_page.pImg = nullptr;
    m_work = m_page;
    m_slant = {1, 0};
    m_rect = {0, 0, 0, 0};
    for (auto& p : m_pt) p = {0, 0};
    for (auto& p : m_outline) p = {0, 0};
    try {
        for (auto& p : m_EdgePoints) p.assign(page.width, -1);
        for (auto& p : m_prof) p.clear();
    } catch (const std::bad_alloc&) {
        return kIpErrOutOfMemory;
    }
    m_option = *option;
    tagOPTION& o = m_option;
    if (o.lThresholdA < 0) o.lThresholdA = 10;
    if (o.lThresholdB < 0) o.lThresholdB = 50;
    if (o.lCornerMargin < 0) o.lCornerMargin = page.xdpi * 10 / 254;
    if (o.lDistance <= 0) o.lDistance = page.ydpi * 10 / 254;
    m_l10mm = static_cast<int32_t>(int64_t{page.xdpi} * 100 / 254);
    m_lMargin = o.lCornerMargin;
    m_bNoSkip = (o.ulFlags & kNoSkipFlatBands) != 0;
    const uint32_t rc = m_calc.initialize(page, static_cast<uint8_t>(o.lThresholdA),
                                          static_cast<uint8_t>(o.lThresholdB), o.lDistance);
    if (rc != 0) return rc;
    m_bInitialized = true;
    return 0;
}

uint32_t CDetectSize::last(const CImg::tagIMGSET& band) {
    if (!band.pImg || band.height == 0) return 0;
    return piece(band);
}

uint32_t CDetectSize::piece(const CImg::tagIMGSET& img) {
    assert(m_EdgePoints[0].size() == static_cast<size_t>(img.width));
    if (!m_bInitialized) return kIpErrBadArgument;
    if (img.height <= 0) return 0;
    int64_t offset = 0;
    int32_t step = 1;
    // A band of another geometry would read or write beyond the profiles.
    if (!img.pImg || static_cast<int64_t>(m_EdgePoints[0].size()) != img.width ||
        img.bpp != m_page.bpp || !LineLayout(img, &offset, &step) ||
        (img.bpp == 24 && (img.pixelorder == 1) != (m_page.pixelorder == 1)))
        return kIpErrBadArgument;
    if (!m_bNoSkip && is_artful_image(img)) return 0;
    int32_t* profiles[CCalcEdge::kProfiles];
    for (int i = 0; i < CCalcEdge::kProfiles; ++i) profiles[i] = m_EdgePoints[i].data();
    const uint8_t* line = img.pImg + offset;
    for (int32_t y = 0; y < img.height; ++y, line += img.sync)
        m_calc.search(line, img.width, step, profiles);
    m_calc.end();
    return 0;
}

uint32_t CDetectSize::result(const CImg::tagIMGSET& page, tagDETECTSIZEINFO* info,
                             const tagOPTION* option) {
    if (!info || info->ulSize != kDetectSizeInfoSize) return kIpErrBadArgument;
    uint32_t rc = Initialize(page, option);
    if (rc != 0) return rc;
    rc = piece(page);
    if (rc != 0) return rc;
    return result(info, option);
}

void CDetectSize::read_edge_data(int32_t profile, int32_t* buffer, int32_t* count) const {
    if (profile < 0 || profile >= CCalcEdge::kProfiles || !count) return;
    const std::vector<int32_t>& p = m_EdgePoints[profile];
    const int32_t length = static_cast<int32_t>(p.size());
    if (!buffer) {
        *count = length;
        return;
    }
    const int32_t n = std::clamp(*count, 0, length);
    std::copy(p.begin(), p.begin() + n, buffer);
    *count = n;
}

bool CDetectSize::IsTooLongPaper() const {
    return m_option.lPaperLength >= 1 &&
           m_option.lPaperLength >= static_cast<int32_t>(int64_t{m_page.ydpi} * 9000 / 254);
}

int32_t CDetectSize::working_lines(int32_t lines) const {
    return static_cast<int32_t>(int64_t{lines} * m_work.ydpi / m_page.ydpi);
}

uint32_t CDetectSize::result(tagDETECTSIZEINFO* info, const tagOPTION* option) {
    if (!info || !m_bInitialized) return kIpErrBadArgument;
    if (option) {
        m_option.lReserved5 = option->lReserved5;
        m_option.lPaperLength = option->lPaperLength;
        m_option.lReserved7 = option->lReserved7;
        m_option.lFallbackTop = option->lFallbackTop;
        m_option.lFallbackLeft = option->lFallbackLeft;
        m_option.lFallbackRight = option->lFallbackRight;
    }
    try {
        for (int i = 0; i < CCalcEdge::kProfiles; ++i) m_prof[i] = m_EdgePoints[i];
        m_work = m_page;
        m_l10mm = static_cast<int32_t>(int64_t{m_page.xdpi} * 100 / 254);
        m_lMargin = m_option.lCornerMargin;
        revise_edge_data();
        calc_slant();
        calc_rect();
        calc_points();
        make_result(info);
    } catch (uint32_t code) {
        return code;
    } catch (const std::bad_alloc&) {
        return kIpErrOutOfMemory;
    }
    return 0;
}

void CDetectSize::revise_edge_data() {
    const int32_t d = m_calc.distance();
    std::vector<int32_t>* p = m_prof;
    // The distance offsets count scanned lines, so they are applied before
    // the entries are brought to the squared resolution.
    for (size_t x = 0; x < p[0].size(); ++x) {
        if (m_option.lThresholdA <= m_option.lThresholdB) {
            if (p[0][x] != -1) p[0][x] += d;
            if (p[1][x] != -1) p[1][x] += 8 * d / 10;
            p[2][x] = p[0][x] == -1 || p[1][x] == -1 ? -1 : std::min(p[0][x], p[1][x]);
        } else {
            p[3][x] = p[0][x] == -1 || p[1][x] == -1 ? -1 : std::max(p[0][x], p[1][x]);
        }
    }
    const int64_t xr = m_work.xdpi, yr = m_work.ydpi;
    if (xr > yr) {
        const int32_t width = static_cast<int32_t>(m_work.width * yr / xr);
        for (int i = 0; i < CCalcEdge::kProfiles; ++i) {
            std::vector<int32_t> q(std::max(width, 0));
            for (int32_t k = 0; k < width; ++k) q[k] = p[i][static_cast<size_t>(k * xr / yr)];
            p[i].swap(q);
        }
        m_l10mm = static_cast<int32_t>(m_l10mm * yr / xr);
        m_lMargin = static_cast<int32_t>(m_lMargin * yr / xr);
        m_work.xdpi = m_work.ydpi;
        m_work.width = width;
    } else if (xr < yr) {
        for (int i = 0; i < CCalcEdge::kProfiles; ++i)
            for (int32_t& v : p[i])
                if (v != -1) v = static_cast<int32_t>(v * xr / yr);
        m_work.ydpi = m_work.xdpi;
        m_work.height = static_cast<int32_t>(m_work.height * xr / yr);
    }
    const int32_t n = static_cast<int32_t>(p[2].size());
    filtering_edge_data(p[2].data(), n, m_l10mm);
    filtering_edge_data(p[3].data(), n, m_l10mm);
    const int32_t first = FirstValid(p[3]), last = LastValid(p[3]);
    if (first <= last)
        revise_median(p[3].data() + first, last - first + 1, get_median_range(m_work.xdpi));
}

void CDetectSize::calc_slant() {
    m_slant = {1, 0};
    std::vector<int32_t>& p = m_prof[2];
    const int64_t r = m_work.xdpi;
    const int32_t n = static_cast<int32_t>(p.size());
    int32_t first = FirstValid(p), last = LastValid(p);
    if (first > last) return;
    const int32_t cut = static_cast<int32_t>(r * 30 / 254);
    for (int32_t x = first; x < std::min(first + cut, n); ++x) p[x] = -1;
    for (int32_t x = std::max(last - cut + 1, 0); x <= last; ++x) p[x] = -1;
    first = FirstValid(p);
    last = LastValid(p);
    if (first >= last) return;
    int32_t width = r * 100 > 10159 ? static_cast<int32_t>(r * 100 / 2540) : 3;
    if (width % 2 == 0) ++width; // the median needs an odd width
    revise_median(p.data() + first, last - first + 1, width);
    const int32_t limit = working_lines(m_calc.distance()) * 180 / 100;
    for (int32_t x = first; x <= last; ++x)
        if (p[x] <= limit) p[x] = -1;

    EdgeIndexList outline;
    int32_t far = -1;
    get_outline(p.data(), first, last, outline, &far);
    EdgeIndexList lists[2];
    get_sep_xvec(p.data(), outline, lists);
    const int32_t leftSpan = lists[0].back() - lists[0].front();
    const int32_t rightSpan = lists[1].front() - lists[1].back();
    const int32_t flat =
        p[lists[0].back()] == p[lists[1].back()] ? lists[1].back() - lists[0].back() : 0;
    if (leftSpan <= flat && rightSpan <= flat) return;
    const bool useLeft = leftSpan > rightSpan;
    std::vector<tagPOINT> vec;
    get_pvec(p.data(), useLeft ? lists[0] : lists[1], vec);
    KeepSlantSteps(vec, m_l10mm, ShorterStep);
    m_slant = SumSlantSteps(vec, useLeft);
    if (m_option.lPaperLength >= 1 && int64_t{m_page.ydpi} * 9000 / 254 <= m_option.lPaperLength)
        m_slant = {1, 0};
}

void CDetectSize::calc_rect() {
    const std::vector<int32_t>& p2 = m_prof[2];
    const std::vector<int32_t>& p3 = m_prof[3];
    m_rect.left = std::min(FirstValid(p2), FirstValid(p3));
    m_rect.right = std::max(LastValid(p2), LastValid(p3));
    // The top is the smallest edge found; columns without one do not count.
    int32_t top = -1;
    for (int32_t v : p2)
        if (v >= 0 && (top < 0 || v < top)) top = v;
    m_rect.top = top;
    m_rect.bottom = -1;
    for (int32_t v : p3) m_rect.bottom = std::max(m_rect.bottom, v);
}

void CDetectSize::calc_points() {
    const int64_t sx = m_slant.x, sy = m_slant.y;
    const int64_t m = m_lMargin;
    if (sx != 0 && sy != 0) {
        int64_t aMin = std::numeric_limits<int64_t>::max(),
                aMax = std::numeric_limits<int64_t>::min();
        int64_t bMin = aMin, bMax = aMax;
        const int32_t width = static_cast<int32_t>(m_prof[2].size());
        const int32_t from = std::max(m_rect.left, 0), to = std::min(m_rect.right, width - 1);
        for (int p = 2; p <= 3; ++p) {
            for (int32_t i = from; i <= to; ++i) {
                const int64_t e = m_prof[p][i];
                if (e == -1) continue;
                const int64_t a = (e * sx - i * sy) / sx;
                const int64_t b = (e * sy + i * sx) / sy;
                aMin = std::min(aMin, a), aMax = std::max(aMax, a);
                bMin = std::min(bMin, b), bMax = std::max(bMax, b);
            }
        }
        if (aMin > aMax) aMin = aMax = bMin = bMax = 0; // no edge at all
        const int32_t x = static_cast<int32_t>(sx), y = static_cast<int32_t>(sy);
        m_pt[kCornerLeftBottom] = cross(x, y, Clamp32(aMax), Clamp32(bMin));
        m_pt[kCornerRightBottom] = cross(x, y, Clamp32(aMax), Clamp32(bMax));
        m_pt[kCornerRightTop] = cross(x, y, Clamp32(aMin), Clamp32(bMax));
        m_pt[kCornerLeftTop] = cross(x, y, Clamp32(aMin), Clamp32(bMin));
        m_outline[0] = m_pt[kCornerLeftBottom];
        m_outline[1] = m_pt[kCornerLeftTop];
        m_outline[2] = m_pt[kCornerRightTop];
        const int64_t len = static_cast<int64_t>(std::sqrt(double(sx * sx + sy * sy)));
        if (len == 0) return;
        auto t = [&](int64_t coef, int64_t v) { return coef * m * v / len; };
        int64_t mv[4][2];
        if (sx > sy) {
            const int64_t tab[4][2] = {{t(1, sx) + t(2, sy), t(1, sy) - t(2, sx)},
                                       {t(2, sy) - t(1, sx), -t(2, sx) - t(1, sy)},
                                       {-t(1, sx) - t(1, sy), t(1, sx) - t(1, sy)},
                                       {t(1, sx) - t(1, sy), t(1, sx) + t(1, sy)}};
            std::memcpy(mv, tab, sizeof mv);
        } else {
            const int64_t tab[4][2] = {{t(1, sx) + t(1, sy), t(1, sy) + t(1, sx)},
                                       {t(1, sy) - t(2, sx), t(1, sx) - t(2, sy)},
                                       {-t(2, sx) - t(1, sy), t(1, sx) - t(2, sy)},
                                       {t(1, sx) - t(1, sy), t(1, sy) + t(1, sx)}};
            std::memcpy(mv, tab, sizeof mv);
        }
        for (int k = 0; k < 4; ++k) {
            m_pt[k].x = Clamp32(m_pt[k].x + mv[k][0]);
            m_pt[k].y = Clamp32(m_pt[k].y + mv[k][1]);
        }
        return;
    }
    const int32_t mm = m_lMargin;
    m_pt[kCornerLeftBottom] = {m_rect.left + mm / 2, m_rect.bottom - mm};
    m_pt[kCornerRightBottom] = {m_rect.right - mm / 2, m_rect.bottom - mm};
    m_pt[kCornerRightTop] = {m_rect.right - mm / 2, m_rect.top + mm};
    m_pt[kCornerLeftTop] = {m_rect.left + mm / 2, m_rect.top + mm};
    m_outline[0] = m_pt[kCornerLeftBottom];
    m_outline[1] = m_pt[kCornerLeftTop];
    m_outline[2] = m_pt[kCornerRightTop];
}

void CDetectSize::fill_record(tagDETECTSIZEINFO* info) const {
    const int32_t y = m_calc.lines();
    Tvk::tagRECT& r = info->rect;
    r.left = std::max(info->corner[kCornerLeftBottom].x, 0);
    r.bottom = std::min(info->corner[kCornerRightBottom].y, y);
    r.right = std::min(info->corner[kCornerRightTop].x, m_page.width);
    r.top = std::max(info->corner[kCornerLeftTop].y, 0);
}

void CDetectSize::make_result(tagDETECTSIZEINFO* info) {
    const int64_t xr = m_page.xdpi, yr = m_page.ydpi;
    for (int k = 0; k < 4; ++k) info->corner[k] = m_pt[k];
    info->slant = m_slant;
    if (xr > yr) {
        for (auto& p : info->corner) p.x = Clamp32(p.x * xr / yr);
        info->slant.x = Clamp32(info->slant.x * xr / yr);
    } else if (xr < yr) {
        for (auto& p : info->corner) p.y = Clamp32(p.y * yr / xr);
        info->slant.y = Clamp32(info->slant.y * yr / xr);
    }
    fill_record(info);
    if (!revise_result(*info)) roll_back_result(info);
}

bool CDetectSize::revise_result(const tagDETECTSIZEINFO& info) const {
    // a. The corners in order.
    const tagPOINT* c = info.corner;
    const tagPOINT bl = c[kCornerLeftBottom], br = c[kCornerRightBottom];
    const tagPOINT tr = c[kCornerRightTop], tl = c[kCornerLeftTop];
    if (info.slant.x >= info.slant.y) {
        if (!(tl.y <= bl.y && tr.y <= br.y && tl.x <= tr.x && bl.x <= br.x)) return false;
    } else {
        if (!(bl.y <= br.y && tl.y <= tr.y && bl.x <= tl.x && br.x <= tr.x)) return false;
    }
    // b. The leading edge follows the outline bottom-left, top-left, top-right.
    const std::vector<int32_t>& p2 = m_prof[2];
    int64_t compared = 0, misses = 0;
    const int32_t first = FirstValid(p2), last = LastValid(p2);
    for (int32_t x = first; x <= last; ++x) {
        if (p2[x] == -1) continue;
        ++compared;
        const int64_t expect = x < m_outline[1].x ? LineAt(m_outline[1], m_outline[0], x)
                                                  : LineAt(m_outline[1], m_outline[2], x);
        if (std::llabs(p2[x] - expect) > m_l10mm) ++misses;
    }
    if (2 * misses >= compared) return false;
    // c. One of the reference points lies near the outline (in page pixels,
    // like the points themselves).
    const tagOPTION& o = m_option;
    if (o.lRefX1 >= 0 && o.lRefY1 >= 0 && o.lRefX2 >= 0 && o.lRefY2 >= 0) {
        tagPOINT ol[3];
        for (int k = 0; k < 3; ++k) {
            ol[k] = m_outline[k];
            if (m_page.xdpi > m_page.ydpi)
                ol[k].x = Clamp32(int64_t{ol[k].x} * m_page.xdpi / m_page.ydpi);
            else if (m_page.xdpi < m_page.ydpi)
                ol[k].y = Clamp32(int64_t{ol[k].y} * m_page.ydpi / m_page.xdpi);
        }
        const int64_t tenMm = int64_t{m_page.ydpi} * 100 / 254;
        auto near = [&](int64_t px, int64_t py) {
            const int64_t line = px > ol[1].x ? LineAt(ol[1], ol[2], px) : LineAt(ol[1], ol[0], px);
            return std::llabs(py - line) <= tenMm;
        };
        if (!near(o.lRefX1, o.lRefY1) && !near(o.lRefX2, o.lRefY2)) return false;
    }
    // d. The scan is long enough for the paper length asked.
    if (o.lPaperLength != 0 &&
        int64_t{m_calc.lines()} - o.lFallbackTop - m_calc.distance() < o.lPaperLength)
        return false;
    return true;
}

void CDetectSize::roll_back_result(tagDETECTSIZEINFO* info) const {
    const tagOPTION& o = m_option;
    SetUprightResult(info, FallbackRect(o.lFallbackLeft, o.lFallbackTop, o.lFallbackRight,
                                        m_page.width, m_calc.lines()));
}

uint32_t CDetectSize2::result(tagDETECTSIZEINFO* info, const tagOPTION*) {
    if (!info) return kIpErrBadArgument;
    const std::vector<int32_t>& darker = edge(1);
    const std::vector<int32_t>& trailing = edge(3);
    const int32_t n = static_cast<int32_t>(darker.size());
    const int32_t first = FirstValid(darker), last = LastValid(darker);
    tagPOINT c1{0, 0}, c2{0, 0}, c3{0, 0}, c4{0, 0};
    if (first < n) c1 = {first, darker[first]};
    if (last >= 0) c3 = {last, darker[last]};
    int32_t topCol = -1;
    for (int32_t x = 0; x < n; ++x)
        if (darker[x] >= 0 && (topCol < 0 || darker[x] < darker[topCol])) topCol = x;
    if (topCol >= 0) c4 = {topCol, topCol == 0 ? 0 : darker[topCol]};
    int32_t bottomCol = -1;
    for (int32_t x = 0; x < static_cast<int32_t>(trailing.size()); ++x)
        if (trailing[x] != -1 && (bottomCol < 0 || trailing[x] > trailing[bottomCol]))
            bottomCol = x;
    if (bottomCol >= 0) c2 = {bottomCol, trailing[bottomCol]};
    info->corner[kCornerLeftBottom] = c1;
    info->corner[kCornerRightBottom] = c2;
    info->corner[kCornerRightTop] = c3;
    info->corner[kCornerLeftTop] = c4;
    info->slant = {1, 0};
    info->rect.left = c1.x;
    info->rect.top = c4.y;
    info->rect.right = std::min(c3.x, width());
    info->rect.bottom = std::min(c2.y, lines());
    return 0;
}
