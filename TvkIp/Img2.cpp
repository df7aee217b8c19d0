// Third-generation simplex size detector and its line engine.
#include "Img2.h"

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

namespace {

int16_t Sat16(int32_t v) {
    return static_cast<int16_t>(std::clamp<int32_t>(v, -32767, 32767));
}

int32_t IntSqrt(int64_t v) {
    return static_cast<int32_t>(std::sqrt(static_cast<double>(v)));
}

} // namespace

// ===================================================================== engine

uint32_t CCalcEdge3::initialize(const CImg::tagIMGSET& page, uint8_t t0, uint8_t t1, int32_t n,
                                int32_t darkLevel, int32_t darkRun, bool flag) {
    m_buffer = page;
    m_buffer.pImg = nullptr;
    m_buffer.height = 1;
    if (m_buffer.bpp != 8 && m_buffer.bpp != 24) return kIpErrBadArgument;
    const bool planar = m_buffer.bpp == 24 && m_buffer.pixelorder == 1;
    if (planar) {
        m_buffer.bpp = 8;
        m_buffer.sync /= 3;
    }
    if (m_buffer.sync == 0)
        m_buffer.sync = m_buffer.bpp == 24 ? m_buffer.width * 3 : m_buffer.width;
    if (m_buffer.sync <= 0 || m_buffer.width <= 0) return kIpErrBadArgument;
    m_step = m_buffer.bpp == 24 ? 3 : 1;
    m_copyBytes = static_cast<size_t>(m_buffer.width - 1) * m_step + 1;
    m_t0 = t0;
    m_t1 = t1;
    m_n = std::max(n, 1);
    m_level = darkLevel;
    m_run = std::max(darkRun, 1);
    m_flag = flag;
    const int64_t yres = page.ydpi;
    m_k = yres * 250 > 50799 ? static_cast<int32_t>(yres * 250 / 25400) : 1;
    m_y = 0;
    try {
        m_cnt.assign(m_buffer.width, 0);
        m_dark.assign(m_buffer.width, 0);
    } catch (const std::bad_alloc&) {
        return kIpErrOutOfMemory;
    }
    return m_lines.init(m_n, m_copyBytes);
}

template <int Step, bool Flag>
void CCalcEdge3::compare(const uint8_t* f, const uint8_t* b, int32_t* const* profiles) {
    const int32_t w = m_buffer.width, y = m_y, k = m_k, level = m_level, run = m_run;
    const int32_t t0 = m_t0, t1 = m_t1;
    const int32_t quiet = std::min(t0, t1);
    int32_t* const p0 = profiles[0];
    int32_t* const p1 = profiles[1];
    int32_t* const p2 = profiles[2];
    int32_t* const p3 = profiles[3];
    int32_t* const p4 = profiles[4];
    int32_t* const p5 = profiles[5];
    int16_t* const cntv = m_cnt.data();
    int16_t* const darkv = m_dark.data();
    constexpr int32_t kChunk = 32;
    for (int32_t x = 0; x < w; ++x) {
        // A difference within both thresholds (most of a page) ends both
        // counters and changes no profile, whatever the mode; whole chunks
        // of such columns are settled at once.
        if ((x & (kChunk - 1)) == 0 && x + kChunk <= w &&
            LinesAgree<Step>(f + static_cast<size_t>(x) * Step, b + static_cast<size_t>(x) * Step,
                             kChunk, quiet)) {
            std::memset(cntv + x, 0, kChunk * sizeof(int16_t));
            std::memset(darkv + x, 0, kChunk * sizeof(int16_t));
            x += kChunk - 1;
            continue;
        }
        const int32_t fv = f[static_cast<size_t>(x) * Step];
        const int32_t bv = b[static_cast<size_t>(x) * Step];
        const int32_t d = fv - bv;
        const int32_t a = d < 0 ? -d : d;
        if (a <= quiet) {
            cntv[x] = 0;
            darkv[x] = 0;
            continue;
        }
        int32_t cnt = cntv[x], s = darkv[x];
        if (Flag) {
            // Runs of differences above t1: where the last run of each sign ends.
            if (a <= t1) {
                cnt = 0;
            } else if (d >= 0) {
                cnt = std::max(cnt + 1, 1);
                if (cnt > k) p0[x] = y;
            } else {
                cnt = std::min(cnt - 1, -1);
                if (cnt < -k) p1[x] = y;
            }
            // Dark edges above t0: the first run into or out of dark pixels.
            if (a <= t0) {
                s = 0;
            } else if (d >= 0) {
                if (level > bv && (p2[x] == -1 || s > 0)) {
                    s = std::max(s + 1, 1);
                    p2[x] = y - s + std::min(s, run);
                } else {
                    s = 0;
                }
            } else {
                if (level > fv && (p3[x] == -1 || s < 0)) {
                    s = std::min(s - 1, -1);
                    p3[x] = y;
                } else {
                    s = 0;
                }
            }
            if (a > t1) p4[x] = y;
        } else {
            // Runs above t0: where the first run of each sign begins.
            if (a <= t0) {
                cnt = 0;
            } else {
                if (d >= 0) {
                    if (p0[x] == -1) {
                        cnt = std::max(cnt + 1, 1);
                        if (cnt > k) {
                            cnt = 0;
                            p0[x] = std::max(y - k, 0);
                        }
                    }
                } else if (p1[x] == -1) {
                    cnt = std::min(cnt - 1, -1);
                    if (cnt < -k) {
                        cnt = 0;
                        p1[x] = std::max(y - k, 0);
                    }
                }
                if (p4[x] == -1) p4[x] = y;
            }
            // Dark edges above t1: where the last one lies.
            if (a <= t1) {
                s = 0;
            } else {
                p5[x] = y;
                if (d >= 0) {
                    if (level > bv) {
                        s = std::min(std::max(s + 1, 1), run);
                        p2[x] = y - s - 1;
                    } else {
                        s = 0;
                    }
                } else {
                    if (level > fv) {
                        s = std::max(std::min(s - 1, -1), -run);
                        p3[x] = y + s + 1;
                    } else {
                        s = 0;
                    }
                }
            }
        }
        cntv[x] = Sat16(cnt);
        darkv[x] = Sat16(s);
    }
}

void CCalcEdge3::search(const uint8_t* line, int32_t width, int32_t step,
                        int32_t* const* profiles) {
    assert(width && "img.width");
    assert(m_buffer.width && "m_buffer.width");
    assert(width == m_buffer.width && "img.width==m_buffer.width");
    m_lines.push(line);
    if (!m_lines.full()) return;
    const uint8_t* f = m_lines.at(0);
    const uint8_t* b = m_lines.at(m_n - 1);
    if (step == 3) {
        m_flag ? compare<3, true>(f, b, profiles) : compare<3, false>(f, b, profiles);
    } else {
        m_flag ? compare<1, true>(f, b, profiles) : compare<1, false>(f, b, profiles);
    }
    m_lines.pop();
    ++m_y;
}

void CCalcEdge3::end() {
    m_lines.keep();
}

// =================================================================== detector

uint32_t CDetectSize3::Initialize(const CImg::tagIMGSET& page, const tagOPTION* option) {
    m_bInitialized = false;
    if (!option || option->ulSize != kOptionSize) return kIpErrBadArgument;
    if (page.xdpi < 1 || page.ydpi < 1) return kIpErrBadArgument;
    if (page.width < 1) return kIpErrBadArgument;
    m_page = page;
    m_page.pImg = nullptr;
    m_page.sync = 0;
    m_work = m_page;
    m_slant = m_slantTop = m_slantBottom = {0, 0};
    m_rect = {0, 0, 0, 0};
    for (auto& p : m_pt) p = {0, 0};
    for (auto& p : m_ref) p = {0, 0};
    m_bAgree = false;
    m_bTopPreferred = true;
    try {
        for (auto& p : m_EdgePoints) p.assign(page.width, -1);
        for (auto& p : m_prof) p.clear();
    } catch (const std::bad_alloc&) {
        return kIpErrOutOfMemory;
    }
    m_option = *option;
    tagOPTION& o = m_option;
    if (o.lThreshold1 < 0) o.lThreshold1 = 10;
    if (o.lThreshold2 < 0) o.lThreshold2 = 50;
    if (o.lCornerMargin < 0) o.lCornerMargin = page.xdpi * 10 / 254;
    if (o.lWindow < 1) o.lWindow = page.ydpi * 15 / 254;
    if (o.lDarkRun < 1) o.lDarkRun = page.ydpi * 15 / 254;
    if (o.lDarkLevel < 1) o.lDarkLevel = 100;
    o.lDarkLevel = std::clamp(o.lDarkLevel, 0, 255);
    m_l10mm = static_cast<int32_t>(int64_t{page.xdpi} * 100 / 254);
    m_lMargin = o.lCornerMargin;
    const uint32_t rc = m_calc.initialize(page, static_cast<uint8_t>(o.lThreshold1),
                                          static_cast<uint8_t>(o.lThreshold2), o.lWindow,
                                          o.lDarkLevel, o.lDarkRun, o.bMode != 0);
    if (rc != 0) return rc;
    m_bInitialized = true;
    return 0;
}

uint32_t CDetectSize3::last(const CImg::tagIMGSET& band) {
    if (!band.pImg || band.height == 0) return 0;
    return piece(band);
}

uint32_t CDetectSize3::piece(const CImg::tagIMGSET& img) {
    assert(static_cast<long>(m_EdgePoints[0].size()) == img.width);
    if (!m_bInitialized) return kIpErrBadArgument;
    if (img.height <= 0) return 0;
    const int32_t w = img.width;
    int64_t offset = 0;
    int32_t step = 1;
    // A band of another geometry would read or write beyond the profiles.
    if (!img.pImg || static_cast<int64_t>(m_EdgePoints[0].size()) != w || img.bpp != m_page.bpp ||
        !LineLayout(img, &offset, &step) ||
        (img.bpp == 24 && (img.pixelorder == 1) != (m_page.pixelorder == 1)))
        return kIpErrBadArgument;
    int32_t* profiles[CCalcEdge3::kProfiles];
    for (int i = 0; i < CCalcEdge3::kProfiles; ++i) profiles[i] = m_EdgePoints[i].data();
    const uint8_t* line = img.pImg + offset;
    for (int32_t y = 0; y < img.height; ++y, line += img.sync)
        m_calc.search(line, w, step, profiles);
    m_calc.end();
    return 0;
}

bool CDetectSize3::IsTooLongPaper() const {
    return m_option.lLengthLimit >= 1 &&
           m_option.lLengthLimit >= static_cast<int32_t>(int64_t{m_page.ydpi} * 9000 / 254);
}

uint32_t CDetectSize3::result(const CImg::tagIMGSET& page, tagDETECTSIZEINFO* info,
                              const tagOPTION* option) {
    if (!info || info->ulSize != kDetectSizeInfoSize) return kIpErrBadArgument;
    uint32_t rc = Initialize(page, option);
    if (rc != 0) return rc;
    rc = piece(page);
    if (rc & 0x80000000u) return rc;
    return result(info, option);
}

uint32_t CDetectSize3::result(tagDETECTSIZEINFO* info, const tagOPTION* option) {
    if (!info || !m_bInitialized) return kIpErrBadArgument;
    if (option) {
        m_option.lReserved5 = option->lReserved5;
        m_option.lLengthLimit = option->lLengthLimit;
        m_option.lShortfall = option->lShortfall;
        m_option.lFallbackTop = option->lFallbackTop;
        m_option.lFallbackLeft = option->lFallbackLeft;
        m_option.lFallbackRight = option->lFallbackRight;
    }
    try {
        // Each result starts from the profiles as the bands left them.
        for (int i = 0; i < CCalcEdge3::kProfiles; ++i) m_prof[i] = m_EdgePoints[i];
        m_work = m_page;
        m_l10mm = static_cast<int32_t>(int64_t{m_page.xdpi} * 100 / 254);
        m_lMargin = m_option.lCornerMargin;
        m_slant = m_slantTop = m_slantBottom = {0, 0};
        m_bReach = true;
        m_bTopClipped = false;
        revise_edge_data();
        calc_slant_and_rect();
        calc_points();
        make_result(info);
    } catch (uint32_t code) {
        return code;
    } catch (const std::bad_alloc&) {
        return kIpErrOutOfMemory;
    }
    return 0;
}

// ------------------------------------------------------------ edge revision

void CDetectSize3::revise_edge_data() {
    // The window offsets are in scanned lines, so they are applied before the
    // entries are brought to the squared resolution; applied after it, a
    // page scanned at twice the x resolution in y would have its edges moved
    // by a whole window.
    revise_shadow_edge_data();
    revise_border_edge_data();
    revise_resolution();
    remove_noize();
}

int32_t CDetectSize3::working_lines(int32_t lines) const {
    return static_cast<int32_t>(int64_t{lines} * m_work.ydpi / m_page.ydpi);
}

void CDetectSize3::revise_resolution() {
    const int64_t xr = m_work.xdpi, yr = m_work.ydpi;
    if (xr == yr) return;
    if (xr > yr) {
        const int32_t width = static_cast<int32_t>(m_work.width * yr / xr);
        for (auto& p : m_prof) {
            std::vector<int32_t> q(std::max(width, 0));
            for (int32_t j = 0; j < width; ++j) q[j] = p[static_cast<size_t>(j * xr / yr)];
            p.swap(q);
        }
        m_l10mm = static_cast<int32_t>(m_l10mm * yr / xr);
        m_lMargin = static_cast<int32_t>(m_lMargin * yr / xr);
        m_work.xdpi = m_work.ydpi;
        m_work.width = width;
    } else {
        for (auto& p : m_prof)
            for (int32_t& v : p)
                if (v != -1) v = static_cast<int32_t>(v * xr / yr);
        m_work.ydpi = m_work.xdpi;
        m_work.height = static_cast<int32_t>(m_work.height * xr / yr);
    }
}

void CDetectSize3::revise_shadow_edge_data() {
    const int32_t n = m_calc.window();
    std::vector<int32_t>& p2 = m_prof[2];
    std::vector<int32_t>& p3 = m_prof[3];
    std::vector<int32_t>& p5 = m_prof[5];
    for (size_t x = 0; x < p5.size(); ++x) {
        if (m_option.bMode) {
            if (p2[x] != -1) p2[x] += n;
            if (p3[x] != -1) p3[x] += n;
            if (p2[x] == -1)
                p5[x] = p3[x];
            else if (p3[x] == -1)
                p5[x] = p2[x];
            else
                p5[x] = std::min(p2[x], p3[x]);
        } else {
            p5[x] = p3[x] != -1 && p3[x] >= p2[x] ? p3[x] : p2[x];
        }
    }
}

void CDetectSize3::revise_border_edge_data() {
    const int32_t n = m_calc.window();
    const int32_t halfMm = static_cast<int32_t>(int64_t{m_page.ydpi} * 5 / 254);
    std::vector<int32_t>& p0 = m_prof[0];
    std::vector<int32_t>& p1 = m_prof[1];
    std::vector<int32_t>& p4 = m_prof[4];
    for (size_t x = 0; x < p4.size(); ++x) {
        if (p0[x] == -1 || p1[x] == -1) {
            p4[x] = -1;
        } else if (m_option.bMode) {
            p0[x] -= n;
            p4[x] = std::max(p0[x], p1[x]);
        } else {
            p0[x] += n;
            p1[x] += n * 9 / 5;
            p4[x] = p0[x] <= p1[x] + halfMm ? p0[x] : p1[x];
        }
    }
}

void CDetectSize3::remove_noize() {
    const int32_t len = static_cast<int32_t>(int64_t{m_page.xdpi} * 100 / 254);
    filtering_edge_data(m_prof[5].data(), static_cast<int32_t>(m_prof[5].size()), len);
    filtering_edge_data(m_prof[4].data(), static_cast<int32_t>(m_prof[4].size()), len);
}

// ------------------------------------------------------------ slant and rect

bool CDetectSize3::calc_slant_and_width_core(std::vector<int32_t>& profile, bool top,
                                             tagPOINT* slant, int32_t* first, int32_t* last) {
    *first = FirstValid(profile);
    *last = LastValid(profile);
    if (*first >= *last) return false;
    const int64_t res = m_work.xdpi;
    int32_t width = res * 100 > 10159 ? static_cast<int32_t>(res * 100 / 2540) : 3;
    // Resolutions whose millimetre holds an even number of pixels give an
    // even width; the median needs an odd one.
    if (width % 2 == 0) ++width;
    revise_median_ex(profile.data() + *first, *last - *first, width);
    if (top) {
        m_topSeen = profile;
        // Entries too close to the scan's start. Where the shadow above the
        // sheet began before the first compared window (a leading edge less
        // than a window below the first line) only its lower side is seen,
        // and the entry lands a window less one line below the edge: up to
        // two windows less two lines from the start. A limit of 1.8 windows
        // kept some of them, a dozen lines off.
        const int32_t limit = working_lines(m_calc.window()) * 2;
        for (int32_t& v : profile)
            if (v <= limit) v = -1;
    } else {
        const int32_t limit = working_lines(m_calc.lines());
        for (int32_t& v : profile)
            if (v > limit) v = -1;
    }
    // The outline runs between the ends that are still valid: an end dropped
    // above would enter it as a point at line -1 and tilt the slant by the
    // edge's whole height (a sheet entering close to the scan's first line).
    // Fewer than two valid entries left: the edge is not found.
    const int32_t from = FirstValid(profile), to = LastValid(profile);
    if (from >= to) return false;
    if (top) m_bTopClipped = int64_t{to - from} * 10 < int64_t{*last - *first} * 9;
    EdgeIndexList outline;
    int32_t far = -1;
    get_outline_ex(profile.data(), from, to, outline, &far, top);
    EdgeIndexList chains[2];
    get_sep_xvec_ex(profile.data(), outline, chains, top);
    const int32_t a = chains[0].back() - chains[0].front();
    const int32_t b = chains[1].front() - chains[1].back();
    const int32_t c = chains[1].back() - chains[0].back();
    if (a <= c && b <= c) {
        *slant = {c, 0};
        return true;
    }
    const bool useLeft = a > b;
    std::vector<tagPOINT> vec;
    get_pvec(profile.data(), useLeft ? chains[0] : chains[1], vec);
    KeepSlantSteps(vec, m_l10mm, CMaxLengthVec2);
    if (vec.empty()) return false;
    *slant = SumSlantSteps(vec, useLeft);
    return true;
}

void CDetectSize3::calc_slant_and_rect() {
    m_bAgree = false;
    m_bTopPreferred = true;
    std::vector<int32_t>& top = topEdge();
    std::vector<int32_t>& bottom = bottomEdge();
    m_topSeen = top;
    int32_t firstT = 0, lastT = 0, firstB = 0, lastB = 0;
    const bool foundTop = calc_slant_and_width_core(top, true, &m_slantTop, &firstT, &lastT);
    const bool foundBottom =
        calc_slant_and_width_core(bottom, false, &m_slantBottom, &firstB, &lastB);
    if (foundBottom && m_slantBottom.y != 0) std::swap(m_slantBottom.x, m_slantBottom.y);
    const bool needed = m_option.bMode ? foundTop : foundBottom;
    if (!needed) {
        m_slant = {1, 0};
        calc_rect();
        return;
    }
    bool single = false;
    if (!foundTop) {
        m_slantTop = m_slantBottom;
        single = true;
    } else if (!foundBottom) {
        m_slantBottom = m_slantTop;
        single = true;
    }
    if (m_option.lLengthLimit >= 1 && int64_t{m_page.ydpi} * 9000 / 254 <= m_option.lLengthLimit) {
        m_slant = {1, 0};
        calc_rect();
        return;
    }
    if (m_option.bSlantFromBottom) {
        m_slant = m_slantBottom;
        m_bTopPreferred = !foundBottom;
    } else {
        m_slant = m_slantTop;
        m_bTopPreferred = foundTop;
    }
    const tagPOINT s1 = TurnIfSteep(m_slantTop), s2 = TurnIfSteep(m_slantBottom);

    m_rect.left = std::min(firstT, firstB);
    m_rect.right = std::max(lastT, lastB);
    m_rect.top = MinEx(top);
    m_rect.bottom = MaxEntry(bottom);

    const int64_t crossv = int64_t{s1.x} * s2.y - int64_t{s1.y} * s2.x;
    const int64_t dot = int64_t{s1.x} * s2.x + int64_t{s1.y} * s2.y;
    const int64_t ac = std::llabs(crossv) * 1024, ad = std::llabs(dot);
    if (ac <= ad * 18)
        m_bAgree = !single;
    else if (ac >= ad * 108)
        m_slant = {1, 0};
    // A leading edge that entered close to the scan's first line keeps only
    // the part of it further down: a short piece whose slant is coarse, and
    // far off where a few of its entries are still clipped. The whole
    // trailing edge, where it agrees, gives the slant instead.
    if (m_bAgree && m_bTopClipped && !m_option.bSlantFromBottom) m_slant = m_slantBottom;
}

void CDetectSize3::calc_rect() {
    const std::vector<int32_t>& p5 = m_prof[5];
    const std::vector<int32_t>& p4 = m_prof[4];
    m_rect.left = std::min(FirstValid(p5), FirstValid(p4));
    m_rect.right = std::max(LastValid(p5), LastValid(p4));
    m_rect.top = MinEx(topEdge());
    m_rect.bottom = MaxEntry(bottomEdge());
}

// ------------------------------------------------------------------ corners

void CDetectSize3::calc_intercept(tagPOINT u, int64_t i[6]) const {
    assert(u.x && u.y && "slant.x && slant.y");
    const int64_t ux = u.x, uy = u.y;
    auto cOf = [&](int64_t x, int64_t y) { return (ux * y - uy * x) / ux; };
    auto eOf = [&](int64_t x, int64_t y) { return (ux * x + uy * y) / ux; };
    constexpr int64_t kLo = std::numeric_limits<int64_t>::min();
    constexpr int64_t kHi = std::numeric_limits<int64_t>::max();
    int64_t i0 = kLo, i2 = kHi, i1 = kLo, i4 = kLo, i3 = kHi, i5 = kHi;
    const std::vector<int32_t>& bottom = m_prof[m_option.bMode ? 4 : 5];
    const std::vector<int32_t>& topRef = m_prof[m_option.bMode ? 5 : 0];
    const std::vector<int32_t>& p5 = m_prof[5];
    // The sheet's extent across the slant: the top edge as it was seen,
    // including its entries too close to the scan's start for the slant.
    const std::vector<int32_t>& s5 = m_option.bMode ? m_topSeen : p5;
    const std::vector<int32_t>& s4 = m_option.bMode ? m_prof[4] : m_topSeen;
    const int32_t width = static_cast<int32_t>(p5.size());
    // The rectangle's right is the last valid column, and it counts: a
    // slanted sheet's rightmost corner is often reached by that column alone.
    const int32_t from = std::max(m_rect.left, 0), to = std::min(m_rect.right, width - 1);
    for (int32_t x = from; x <= to; ++x) {
        if (bottom[x] >= 0) i0 = std::max(i0, cOf(x, bottom[x]));
        if (topRef[x] >= 0) i2 = std::min(i2, cOf(x, topRef[x]));
        if (s5[x] >= 0) {
            const int64_t e = eOf(x, s5[x]);
            i1 = std::max(i1, e);
            i3 = std::min(i3, e);
            i4 = std::max(i4, e);
            i5 = std::min(i5, e);
        }
        if (s4[x] >= 0) {
            const int64_t e = eOf(x, s4[x]);
            i4 = std::max(i4, e);
            i5 = std::min(i5, e);
        }
    }
    const int32_t y = working_lines(m_calc.lines()), n = working_lines(m_calc.window());
    if (!m_bAgree || m_rect.bottom >= y - n - 1 || m_rect.top <= n + 1) {
        i1 = i4;
        i3 = i5;
    } else {
        if (m_rect.left < 1) i3 = i5;
        if (m_rect.right + 1 >= width) i1 = i4;
    }
    // Without any entry an extreme stays at its start; keep it finite.
    auto fin = [](int64_t v) { return v == kLo || v == kHi ? 0 : v; };
    i[0] = fin(i0);
    i[1] = fin(i1);
    i[2] = fin(i2);
    i[3] = fin(i3);
    i[4] = fin(i4);
    i[5] = fin(i5);
}

void CDetectSize3::calc_4points_core(tagPOINT u, const int64_t i[6]) {
    auto at = [&](int64_t c, int64_t e) { return cross_y_x(u.x, u.y, Clamp32(c), Clamp32(e)); };
    const tagPOINT inner[4] = {at(i[0], i[3]), at(i[0], i[1]), at(i[2], i[1]), at(i[2], i[3])};
    tagPOINT outer[4] = {at(i[0], i[5]), at(i[0], i[4]), at(i[2], i[4]), at(i[2], i[5])};

    // compare_points_result: pull the outer corners 1 mm inwards along both
    // axes of u, then take the rectangle along u that holds all eight.
    const int64_t len = int64_t{m_work.ydpi} * 10 / 254;
    const int64_t norm = IntSqrt(int64_t{u.x} * u.x + int64_t{u.y} * u.y);
    const int64_t ux = u.x, uy = u.y;
    if (norm != 0) {
        const int64_t mv[4][2] = {
            {ux + uy, uy - ux}, {uy - ux, -ux - uy}, {-ux - uy, ux - uy}, {ux - uy, ux + uy}};
        for (int k = 0; k < 4; ++k) {
            outer[k].x = Clamp32(outer[k].x + mv[k][0] * len / norm);
            outer[k].y = Clamp32(outer[k].y + mv[k][1] * len / norm);
        }
    }
    int64_t cmax = std::numeric_limits<int64_t>::min(), cmin = std::numeric_limits<int64_t>::max();
    int64_t emax = cmax, emin = cmin;
    for (const tagPOINT* set : {inner, static_cast<const tagPOINT*>(outer)}) {
        for (int k = 0; k < 4; ++k) {
            const int64_t c = (ux * set[k].y - uy * set[k].x) / ux;
            const int64_t e = (ux * set[k].x + uy * set[k].y) / ux;
            cmax = std::max(cmax, c);
            cmin = std::min(cmin, c);
            emax = std::max(emax, e);
            emin = std::min(emin, e);
        }
    }
    tagPOINT pt[4] = {at(cmax, emin), at(cmax, emax), at(cmin, emax), at(cmin, emin)};
    if (m_slant.x <= m_slant.y) {
        for (int k = 0; k < 4; ++k) m_pt[(k + 1) % 4] = pt[k];
    } else {
        for (int k = 0; k < 4; ++k) m_pt[k] = pt[k];
    }
    set_reference();
}

void CDetectSize3::set_reference() {
    m_ref[0] = m_pt[0];
    m_ref[1] = m_bTopPreferred ? m_pt[3] : m_pt[1];
    m_ref[2] = m_pt[2];
}

void CDetectSize3::calc_points() {
    if (m_slant.x != 0 && m_slant.y != 0) {
        const tagPOINT u = m_slant.y > m_slant.x ? tagPOINT{m_slant.y, -m_slant.x} : m_slant;
        int64_t i[6];
        calc_intercept(u, i);
        calc_4points_core(u, i);
        m_bReach = check_reach(u, i[0]);
        const int64_t a = m_slant.x, b = m_slant.y;
        const int64_t len = IntSqrt(a * a + b * b);
        if (len == 0) {
            set_pos_from_rct();
            return;
        }
        const int64_t m = m_lMargin;
        if (m == 0) return;
        auto t = [&](int64_t coef, int64_t v) { return coef * v * m / len; };
        int64_t mv[4][2];
        if (a <= b) {
            const int64_t tab[4][2] = {{t(1, a) + t(1, b), t(1, b) - t(1, a)},
                                       {t(1, b) - t(2, a), -t(2, b) - t(1, a)},
                                       {-t(2, a) - t(1, b), t(1, a) - t(2, b)},
                                       {t(1, a) - t(1, b), t(1, a) + t(1, b)}};
            std::memcpy(mv, tab, sizeof mv);
        } else {
            const int64_t tab[4][2] = {{t(1, a) + t(2, b), t(1, b) - t(2, a)},
                                       {t(2, b) - t(1, a), -t(2, a) - t(1, b)},
                                       {-t(1, b) - t(1, a), t(1, a) - t(1, b)},
                                       {t(1, a) - t(1, b), t(1, a) + t(1, b)}};
            std::memcpy(mv, tab, sizeof mv);
        }
        for (int k = 0; k < 4; ++k) {
            m_pt[k].x = Clamp32(m_pt[k].x + mv[k][0]);
            m_pt[k].y = Clamp32(m_pt[k].y + mv[k][1]);
        }
        return;
    }
    if (m_bAgree) set_pos_from_edge();
    set_pos_from_rct();
}

// The leading edge runs from corner to corner, so the sheet's width along
// its slant is the reach of that edge, or of the bottom edge where it sticks
// out further. Entries of the bottom edge off its line (noise on the backing
// beside a steep side) reach nowhere, but the corners' construction takes
// them; a rectangle wider than the edges, or narrower, is not the sheet's.
// Only the leading shadow spans the sheet this way; border edges do not.
bool CDetectSize3::check_reach(tagPOINT u, int64_t bottomLine) const {
    if (!m_option.bMode) return true;
    const int64_t ux = u.x, uy = u.y;
    auto cOf = [&](int64_t x, int64_t y) { return (ux * y - uy * x) / ux; };
    auto eOf = [&](int64_t x, int64_t y) { return (ux * x + uy * y) / ux; };
    const int64_t tolerance = m_l10mm / 10; // 1 mm
    int64_t lo = std::numeric_limits<int64_t>::max(), hi = std::numeric_limits<int64_t>::min();
    auto reach = [&](int64_t x, int64_t y) {
        const int64_t e = eOf(x, y);
        lo = std::min(lo, e);
        hi = std::max(hi, e);
    };
    const std::vector<int32_t>& bottom = m_prof[4];
    for (size_t x = 0; x < m_topSeen.size(); ++x) {
        const int64_t xi = static_cast<int64_t>(x);
        if (m_topSeen[x] >= 0) reach(xi, m_topSeen[x]);
        if (bottom[x] >= 0 && cOf(xi, bottom[x]) >= bottomLine - tolerance) reach(xi, bottom[x]);
    }
    if (lo > hi) return true;
    int64_t clo = std::numeric_limits<int64_t>::max(), chi = std::numeric_limits<int64_t>::min();
    for (const tagPOINT& c : m_pt) {
        const int64_t e = eOf(c.x, c.y);
        clo = std::min(clo, e);
        chi = std::max(chi, e);
    }
    // The construction pulls the outermost points in by up to a millimetre
    // (and truncates), so the corners may lie inside the reach by that much.
    const int64_t inside = 2 * tolerance + 2;
    return lo - clo <= tolerance && chi - hi <= tolerance && clo - lo <= inside &&
           hi - chi <= inside;
}

void CDetectSize3::set_pos_from_edge() {
    const std::vector<int32_t>& p5 = m_prof[5];
    const int32_t width = static_cast<int32_t>(p5.size());
    m_rect.left = m_rect.left > 0 ? FirstValid(p5) : 0;
    m_rect.right = width > m_rect.right + 1 ? LastValid(p5) : width - 1;
}

void CDetectSize3::set_pos_from_rct() {
    const int32_t m = m_lMargin;
    m_pt[kCornerLeftBottom] = {m_rect.left + m / 2, m_rect.bottom - m};
    m_pt[kCornerRightBottom] = {m_rect.right - m / 2, m_rect.bottom - m};
    m_pt[kCornerRightTop] = {m_rect.right - m / 2, m_rect.top + m};
    m_pt[kCornerLeftTop] = {m_rect.left + m / 2, m_rect.top + m};
    set_reference();
}

// ------------------------------------------------------------------- result

void CDetectSize3::revise_datas() {
    const int64_t xr = m_page.xdpi, yr = m_page.ydpi;
    if (xr < yr) {
        for (auto& p : m_pt) p.y = Clamp32(p.y * yr / xr);
        m_slant.y = Clamp32(m_slant.y * yr / xr);
        m_rect.top = Clamp32(m_rect.top * yr / xr);
        m_rect.bottom = Clamp32(m_rect.bottom * yr / xr);
    } else if (xr > yr) {
        for (auto& p : m_pt) p.x = Clamp32(p.x * xr / yr);
        m_slant.x = Clamp32(m_slant.x * xr / yr);
        m_rect.left = Clamp32(m_rect.left * xr / yr);
        m_rect.right = Clamp32(m_rect.right * xr / yr);
    }
    m_work = m_page;
}

void CDetectSize3::make_result(tagDETECTSIZEINFO* info) {
    revise_datas();
    const int32_t y = m_calc.lines(), n = m_calc.window();
    const int32_t width = m_page.width;
    info->slant = m_slant;
    for (int k = 0; k < 4; ++k) info->corner[k] = m_pt[k];
    const int32_t p = static_cast<int32_t>(int64_t{m_page.xdpi} * 1000 / 25400);
    Tvk::tagRECT& r = info->rect;
    r.left = std::max(std::min(m_pt[0].x, m_rect.left + p), 0);
    r.right = std::min(std::max(m_pt[2].x, m_rect.right - p), width);
    r.bottom = y >= int64_t{m_pt[1].y} + n ? m_rect.bottom : std::min(m_pt[1].y, y);
    if (!m_option.bMode && int64_t{m_rect.bottom} + 2 * n < y) r.bottom = m_rect.bottom;
    r.top = m_pt[3].y >= n ? m_rect.top : std::max(m_pt[3].y, 0);
    if (m_option.bMode && int64_t{m_rect.top} + 2 * n > 0) r.top = m_rect.top;

    if (!check_inner_order(*info) || !check_length(*info)) {
        roll_back(info, false);
        return;
    }
    if (!check_sensor(*info)) {
        roll_back(info, !m_option.bMode);
        return;
    }
    bool profile4 = false;
    if (!check_document_line(&profile4)) {
        roll_back(info, profile4);
        return;
    }
    // Beyond the checks above: corners the sheet cannot have. Taken back to
    // the whole scan rather than reported as a crop.
    if (!m_bReach || !check_inside(*info)) roll_back(info, false);
}

bool CDetectSize3::check_inner_order(const tagDETECTSIZEINFO& info) const {
    const tagPOINT* c = info.corner;
    if (info.slant.x < info.slant.y)
        return c[0].y <= c[1].y && c[3].y <= c[2].y && c[0].x <= c[3].x && c[2].x >= c[1].x;
    return c[3].y <= c[0].y && c[2].y <= c[1].y && c[3].x <= c[2].x && c[1].x >= c[0].x;
}

bool CDetectSize3::check_length(const tagDETECTSIZEINFO& info) const {
    const int64_t yres = m_page.ydpi;
    const int64_t h = int64_t{m_calc.lines()} - m_option.lFallbackTop - m_calc.window();
    if (m_option.lLengthLimit != 0 && h < m_option.lLengthLimit) return false;
    if (h - (yres * 10000 / 25400 + m_option.lShortfall) >
        int64_t{info.rect.bottom} - info.rect.top)
        return false;
    if (!m_bTopPreferred && m_option.lShortfall < yres * 5000 / 25400) return false;
    return true;
}

bool CDetectSize3::check_sensor(const tagDETECTSIZEINFO& info) const {
    const tagOPTION& o = m_option;
    if (o.lSensorX1 < 0 || o.lSensorY1 < 0 || o.lSensorX2 < 0 || o.lSensorY2 < 0) return true;
    const tagPOINT* c = info.corner;
    auto near = [&](int64_t sx, int64_t sy) {
        const int64_t line = c[3].x < sx ? LineAt(c[3], c[2], sx) : LineAt(c[3], c[0], sx);
        return std::llabs(sy - line) <= m_l10mm;
    };
    return near(o.lSensorX1, o.lSensorY1) || near(o.lSensorX2, o.lSensorY2);
}

bool CDetectSize3::check_document_line(bool* profile4) const {
    const int index = m_bTopPreferred ? (m_option.bMode ? 5 : 4) : (m_option.bMode ? 4 : 5);
    *profile4 = index == 4;
    const std::vector<int32_t>& edge = m_prof[index];
    int64_t compared = 0, misses = 0;
    for (size_t x = 0; x < edge.size(); ++x) {
        if (edge[x] == -1) continue;
        ++compared;
        const int64_t xi = static_cast<int64_t>(x);
        const int64_t line =
            xi < m_ref[1].x ? LineAt(m_ref[1], m_ref[0], xi) : LineAt(m_ref[1], m_ref[2], xi);
        if (std::llabs(edge[x] - line) > m_l10mm) ++misses;
    }
    return compared / 2 > misses;
}

bool CDetectSize3::check_inside(const tagDETECTSIZEINFO& info) const {
    const int32_t lines = m_calc.lines() + m_calc.window() - 1;
    for (const tagPOINT& c : info.corner)
        if (c.x < 0 || c.x > m_page.width || c.y < 0 || c.y > lines) return false;
    return true;
}

void CDetectSize3::roll_back(tagDETECTSIZEINFO* info, bool keepRect) const {
    const tagOPTION& o = m_option;
    const int32_t width = m_page.width, y = m_calc.lines();
    Tvk::tagRECT r;
    if (keepRect) {
        r = info->rect;
        if (m_bTopPreferred)
            r.top = std::min(r.top, o.lFallbackTop);
        else
            r.bottom = std::max(r.bottom, y);
    } else {
        r = FallbackRect(o.lFallbackLeft, o.lFallbackTop, o.lFallbackRight, width, y);
    }
    SetUprightResult(info, r);
}
