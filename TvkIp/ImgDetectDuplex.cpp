// Older duplex size detector: the leading edge's shadow is searched on one
// side's image and the trailing edge's shadow on the other's; each edge is
// mirrored into the other side's coordinates, and each side's sheet is then
// found from its two edges.
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

namespace {

int32_t CeilDiv(int32_t a, int32_t b) {
    return b > 0 ? (a + b - 1) / b : 1;
}

bool Present(const CImg::tagIMGSET& band) {
    return band.pImg && band.height > 0;
}
bool Empty(const CImg::tagIMGSET& band) {
    return !band.pImg && band.height == 0;
}

bool Planar(const CImg::tagIMGSET& s) {
    return s.bpp == 24 && s.pixelorder == 1;
}

} // namespace

using Duplex = CDetectSizeWithDuplex;

// ================================================================== profiles

uint32_t Duplex::CEdge::init(const CImg::tagIMGSET& image) {
    try {
        m_edge.assign(std::max(image.width, 0), -1);
        m_run.assign(std::max(image.width, 0), 0);
    } catch (const std::bad_alloc&) {
        return kIpErrOutOfMemory;
    }
    return 0;
}

void Duplex::CEdge::normalize(int32_t xdpi, int32_t ydpi) {
    if (xdpi == ydpi || xdpi < 1 || ydpi < 1) return;
    if (xdpi > ydpi) {
        const int32_t width =
            static_cast<int32_t>(int64_t{static_cast<int32_t>(m_edge.size())} * ydpi / xdpi);
        std::vector<int32_t> q(width);
        for (int32_t j = 0; j < width; ++j)
            q[j] = m_edge[static_cast<size_t>(int64_t{j} * xdpi / ydpi)];
        m_edge.swap(q);
    } else {
        for (int32_t& v : m_edge)
            if (v != -1) v = static_cast<int32_t>(int64_t{v} * xdpi / ydpi);
    }
}

int32_t Duplex::CEdge::getLeftEdge() const {
    const int32_t first = FirstValid(m_edge);
    return first < static_cast<int32_t>(m_edge.size()) ? first
                                                       : static_cast<int32_t>(m_edge.size()) - 1;
}

int32_t Duplex::CEdge::getRightEdge() const {
    return std::max(LastValid(m_edge), 0);
}

uint32_t Duplex::CEdgeFlt::init(const CImg::tagIMGSET& image) {
    const uint32_t rc = CEdge::init(image);
    if (rc != 0) return rc;
    m_xStep = CeilDiv(image.xdpi, getFltTrgDPI());
    m_yStep = CeilDiv(image.ydpi, getFltTrgDPI());
    m_top = getFltTopTrgDPI() * m_yStep;
    m_bottom = getFltBottomTrgDPI() * m_yStep;
    m_left = getFltLeftTrgDPI() * m_xStep;
    m_right = getFltRightTrgDPI() * m_xStep;
    return 0;
}

void Duplex::CEdgeFlt::noizegate(int32_t xdpi) {
    filtering_edge_data(m_edge.data(), static_cast<int32_t>(m_edge.size()),
                        static_cast<int32_t>(int64_t{xdpi} * 50 / 254));
}

void Duplex::CEdgeFlt_ShadowEdge::trim(bool top) {
    std::vector<int32_t>& e = m_edge;
    const int32_t first = FirstValid(e), last = LastValid(e);
    if (first >= last) return;
    // A step the expected way clears the entries before it together with
    // the flat run that led to it; flat steps extend the run.
    auto otherWay = [top](int32_t s) { return top ? s < 0 : s > 0; };
    int32_t run = first;
    for (int32_t i = first; i < last && i + 1 - first <= m_trim; ++i) {
        if (e[i] == -1 || e[i + 1] == -1) break;
        const int32_t s = e[i + 1] - e[i];
        if (otherWay(s)) break;
        if (s == 0) continue;
        std::fill(e.begin() + run, e.begin() + i + 1, -1);
        run = i + 1;
    }
    run = last;
    for (int32_t j = last; j > first && last - (j - 1) <= m_trim; --j) {
        if (e[j] == -1 || e[j - 1] == -1) break;
        const int32_t s = e[j - 1] - e[j];
        if (otherWay(s)) break;
        if (s == 0) continue;
        std::fill(e.begin() + j, e.begin() + run + 1, -1);
        run = j - 1;
    }
}

void Duplex::CEdgeFlt_TopShadowEdge::filter(const CLineWindow& lines, int32_t step, int32_t y,
                                            int32_t darkening, int32_t limit) {
    const int32_t first = lines.dropped();
    const uint8_t* ref = lines.at(std::max(y - m_top - first, 0));
    const uint8_t* cur = lines.at(y - first);
    const uint8_t* prev = lines.at(std::max(y - 1 - first, 0));
    const int32_t width = static_cast<int32_t>(m_edge.size());
    for (int32_t x = 0; x < width; ++x) {
        // The first run of dark lines decides; later runs are ignored.
        if (m_edge[x] != -1 && m_run[x] == 0) continue;
        const size_t o = static_cast<size_t>(x) * step;
        const int32_t a = ref[o];
        const int32_t b = (cur[o] + prev[o]) / 2;
        if (a - b > darkening && b < limit) {
            m_edge[x] = y + 1;
            ++m_run[x];
        } else {
            m_run[x] = 0;
        }
    }
}

void Duplex::CEdgeFlt_BtmShadowEdge::filter(const CLineWindow& lines, int32_t step, int32_t y,
                                            int32_t darkening, int32_t limit) {
    const int32_t first = lines.dropped();
    const int32_t held = lines.count();
    const uint8_t* ref = lines.at(std::min(y + m_bottom - first, held - 1));
    const uint8_t* cur = lines.at(y - first);
    const uint8_t* next = lines.at(std::min(y + 1 - first, held - 1));
    const int32_t width = static_cast<int32_t>(m_edge.size());
    for (int32_t x = 0; x < width; ++x) {
        const size_t o = static_cast<size_t>(x) * step;
        const int32_t a = ref[o];
        const int32_t b = (cur[o] + next[o]) / 2;
        if (a - b > darkening && b < limit) {
            // The line before the run; every run replaces the last one.
            m_edge[x] = y - m_run[x] - 1;
            ++m_run[x];
        } else {
            m_run[x] = 0;
        }
    }
}

// ================================================================== detector

uint32_t Duplex::Initialize(const CImg::tagIMGSET& front, const CImg::tagIMGSET& back,
                            const tagOPTION* option, bool swap) {
    m_bInitialized = false;
    if (!option || option->ulSize != kOptionSize) return kIpErrBadArgument;
    if (front.xdpi < 1 || front.ydpi < 1 || back.xdpi < 1 || back.ydpi < 1)
        return kIpErrBadArgument;
    // The two sides are read line for line and column for column in step.
    if (front.width < 1 || front.width != back.width || front.bpp != back.bpp ||
        (front.bpp != 8 && front.bpp != 24) || Planar(front) != Planar(back))
        return kIpErrBadArgument;
    m_bSwap = swap;
    m_option = *option;
    tagOPTION& o = m_option;
    if (o.lCornerMargin < 0) o.lCornerMargin = front.xdpi * 10 / 254;
    if (o.lTrimLength < 0) o.lTrimLength = 5;
    if (o.lLeadDarkening < 0) o.lLeadDarkening = 40;
    if (o.lTrailDarkening < 0) o.lTrailDarkening = 40;
    if (o.lLeadLimit < 0) o.lLeadLimit = 100;
    if (o.lTrailLimit < 0) o.lTrailLimit = 100;
    m_image[0] = swap ? back : front;
    m_image[1] = swap ? front : back;
    for (auto& im : m_image) im.pImg = nullptr;
    uint32_t rc = m_trail.init(m_image[0]);
    if (rc == 0) rc = m_lead.init(m_image[1]);
    if (rc == 0) rc = m_leadOn1.init(m_image[0]);
    if (rc == 0) rc = m_trailOn2.init(m_image[1]);
    if (rc != 0) return rc;
    m_trail.m_trim = static_cast<int32_t>(int64_t{o.lTrimLength} * m_image[0].ydpi * 10 / 254);
    m_lead.m_trim = static_cast<int32_t>(int64_t{o.lTrimLength} * m_image[1].ydpi * 10 / 254);
    m_window =
        std::max(m_lead.m_top, m_trail.m_top) + std::max(m_lead.m_bottom, m_trail.m_bottom) + 1;
    m_step = front.bpp == 24 && !Planar(front) ? 3 : 1;
    const size_t bytes = static_cast<size_t>(front.width - 1) * m_step + 1;
    for (auto& q : m_queue) {
        rc = q.init(m_window, bytes);
        if (rc != 0) return rc;
    }
    for (auto& r : m_result) {
        r = tagDETECTSIZEINFO{};
        r.ulSize = kDetectSizeInfoSize;
    }
    m_l5mm = static_cast<int32_t>(int64_t{front.ydpi} * 50 / 254);
    m_lMargin = o.lCornerMargin;
    m_bFixed = false;
    m_bInitialized = true;
    return 0;
}

int32_t Duplex::lines() const {
    return m_queue[0].dropped() + m_queue[0].count();
}

uint32_t Duplex::last(const CImg::tagIMGSET& front, const CImg::tagIMGSET& back) {
    if (Present(front) && Present(back)) return piece(front, back);
    if (Empty(front) && Empty(back)) return 0;
    return kIpErrBadParamBlock;
}

uint32_t Duplex::piece(const CImg::tagIMGSET& imgF, const CImg::tagIMGSET& imgB) {
    assert(imgF.width == imgB.width && "imgF.width == imgB.width");
    assert(imgF.sync == imgB.sync && "imgF.sync == imgB.sync");
    assert(imgF.bpp == imgB.bpp && "imgF.bpp == imgB.bpp");
    assert(imgF.xdpi == imgB.xdpi && "imgF.xdpi == imgB.xdpi");
    assert(imgF.ydpi == imgB.ydpi && "imgF.ydpi == imgB.ydpi");
    assert(imgF.pixelorder == imgB.pixelorder && "imgF.pixelorder == imgB.pixelorder");
    if (!m_bInitialized) return kIpErrBadArgument;
    // Bands that disagree would be read beyond one of them.
    if (imgF.width != imgB.width || imgF.sync != imgB.sync || imgF.bpp != imgB.bpp ||
        imgF.pixelorder != imgB.pixelorder || imgF.height != imgB.height)
        return kIpErrBadArgument;
    if (imgF.height <= 0) return 0;
    if (!imgF.pImg || !imgB.pImg || imgF.width != m_image[0].width || imgF.bpp != m_image[0].bpp ||
        Planar(imgF) != Planar(m_image[0]))
        return kIpErrBadArgument;
    const bool planar = Planar(imgF);
    const int64_t offset = planar ? imgF.sync / 3 : (imgF.bpp == 24 ? 1 : 0);
    const int64_t needed =
        (planar ? 2 * int64_t{imgF.sync / 3} : offset) + int64_t{imgF.width - 1} * m_step + 1;
    if (imgF.sync < needed) return kIpErrBadArgument;
    const CImg::tagIMGSET& img1 = m_bSwap ? imgB : imgF;
    const CImg::tagIMGSET& img2 = m_bSwap ? imgF : imgB;
    const uint8_t* l1 = img1.pImg + offset;
    const uint8_t* l2 = img2.pImg + offset;
    for (int32_t y = 0; y < imgF.height; ++y, l1 += imgF.sync, l2 += imgF.sync) runLine(l1, l2);
    m_queue[0].keep();
    m_queue[1].keep();
    return 0;
}

void Duplex::runLine(const uint8_t* line1, const uint8_t* line2) {
    assert(m_queue[0].count() == m_queue[1].count() &&
           "m_queRemainImgF.getQueLine() == m_queRemainImgB.getQueLine()");
    m_queue[0].push(line1);
    m_queue[1].push(line2);
    if (!m_queue[0].full()) return;
    const int32_t received = m_queue[0].dropped() + m_queue[0].count();
    m_trail.filter(m_queue[0], m_step, received - m_trail.m_bottom - 1, m_option.lTrailDarkening,
                   m_option.lTrailLimit);
    m_lead.filter(m_queue[1], m_step, received - 1, m_option.lLeadDarkening, m_option.lLeadLimit);
    m_queue[0].pop();
    m_queue[1].pop();
}

void Duplex::fixEdge() {
    if (m_bFixed) return;
    m_bFixed = true;
    m_trail.noizegate(m_image[0].xdpi);
    m_lead.noizegate(m_image[1].xdpi);
    m_trail.trim(false);
    m_lead.trim(true);
    for (CEdgeFlt* f : {static_cast<CEdgeFlt*>(&m_trail), static_cast<CEdgeFlt*>(&m_lead)}) {
        const int32_t first = FirstValid(f->m_edge), last = LastValid(f->m_edge);
        const int32_t xdpi = f == &m_trail ? m_image[0].xdpi : m_image[1].xdpi;
        if (first < last)
            revise_median(f->m_edge.data() + first, last - first + 1, get_median_range(xdpi));
    }
    // The back image is mirrored left to right and runs `offset` lines
    // behind the front one.
    const int32_t w = static_cast<int32_t>(m_lead.m_edge.size());
    const int32_t off = m_option.lOffset;
    for (int32_t i = 0; i < w; ++i) {
        if (m_lead.m_edge[i] != -1)
            m_leadOn1.m_edge[w - 1 - i] = Clamp32(int64_t{m_lead.m_edge[i]} - off);
        if (m_trail.m_edge[i] != -1)
            m_trailOn2.m_edge[w - 1 - i] = Clamp32(int64_t{m_trail.m_edge[i]} + off);
    }
    m_lead.normalize(m_image[1].xdpi, m_image[1].ydpi);
    m_trailOn2.normalize(m_image[1].xdpi, m_image[1].ydpi);
    m_trail.normalize(m_image[0].xdpi, m_image[0].ydpi);
    m_leadOn1.normalize(m_image[0].xdpi, m_image[0].ydpi);
}

bool Duplex::calc_slant(const std::vector<int32_t>& lead, int32_t left, int32_t right, int32_t xdpi,
                        int32_t ydpi, tagPOINT* slant) const {
    EdgeIndexList outline;
    int32_t far = -1;
    get_outline(lead.data(), left, right, outline, &far);
    EdgeIndexList lists[2];
    get_sep_xvec(lead.data(), outline, lists);
    const int32_t leftSpan = lists[0].back() - lists[0].front();
    const int32_t rightSpan = lists[1].front() - lists[1].back();
    const int32_t flat =
        lead[lists[0].back()] == lead[lists[1].back()] ? lists[1].back() - lists[0].back() : 0;
    if (leftSpan <= flat && rightSpan <= flat) return false;
    const bool useLeft = leftSpan > rightSpan;
    std::vector<tagPOINT> vec;
    get_pvec(lead.data(), useLeft ? lists[0] : lists[1], vec);
    double minLength = m_l5mm;
    if (ydpi > 0 && ydpi < xdpi) minLength = static_cast<double>(int64_t{m_l5mm} * ydpi / xdpi);
    KeepSlantSteps(vec, minLength, ShorterStep);
    *slant = SumSlantSteps(vec, useLeft);
    return true;
}

void Duplex::roll_back_result(int32_t width, int32_t length, tagDETECTSIZEINFO* info) const {
    const tagOPTION& o = m_option;
    SetUprightResult(
        info, FallbackRect(o.lFallbackLeft, o.lFallbackTop, o.lFallbackRight, width, length));
}

uint32_t Duplex::result(tagDETECTSIZEINFO* info, const tagOPTION* option) {
    if (!info || !m_bInitialized) return kIpErrBadArgument;
    if (option) {
        m_option.lReserved5 = option->lReserved5;
        m_option.lPaperLength = option->lPaperLength;
        m_option.lReserved7 = option->lReserved7;
        m_option.lFallbackTop = option->lFallbackTop;
        m_option.lFallbackLeft = option->lFallbackLeft;
        m_option.lFallbackRight = option->lFallbackRight;
        m_option.ulSide = (m_option.ulSide & ~0xFFu) | (option->ulSide & 0xFFu);
    }
    try {
        fixEdge();
        const bool front = (m_option.ulSide & 0xFF) == 1;
        const bool image1 = front != m_bSwap; // image 1 is the front unless swapped
        const CImg::tagIMGSET& img = m_image[image1 ? 0 : 1];
        const CEdge& lead = image1 ? m_leadOn1 : static_cast<const CEdge&>(m_lead);
        const CEdge& trail = image1 ? static_cast<const CEdge&>(m_trail) : m_trailOn2;
        tagDETECTSIZEINFO& rec = m_result[image1 ? 0 : 1];
        const int32_t off = m_option.lOffset;
        const bool ahead = (off > 0 && !front) || (off < 0 && front);
        const int32_t shift = ahead ? std::abs(off) : 0;
        const int32_t length = lines() - shift;

        const int32_t lL = lead.getLeftEdge(), lR = lead.getRightEdge();
        const int32_t tL = trail.getLeftEdge(), tR = trail.getRightEdge();
        if (!(lL < lR && tL < tR)) {
            roll_back_result(img.width, length, info);
            return 0;
        }
        const int32_t xr = img.xdpi, yr = img.ydpi;
        calc_slant(lead.m_edge, lL, lR, xr, yr, &rec.slant);

        Tvk::tagRECT rect;
        rect.left = std::min(FirstValid(lead.m_edge), FirstValid(trail.m_edge));
        rect.right = std::max(LastValid(lead.m_edge), LastValid(trail.m_edge));
        rect.top = -1;
        for (int32_t v : lead.m_edge)
            if (v >= 0 && (rect.top < 0 || v < rect.top)) rect.top = v;
        rect.bottom = -1;
        for (int32_t v : trail.m_edge) rect.bottom = std::max(rect.bottom, v);

        int64_t m = m_lMargin;
        if (xr > yr && yr >= 1) m = m * yr / xr;
        const int64_t sx = rec.slant.x, sy = rec.slant.y;
        tagPOINT* c = rec.corner;
        if (sx != 0 && sy != 0) {
            int64_t aMin = std::numeric_limits<int64_t>::max();
            int64_t aMax = std::numeric_limits<int64_t>::min();
            int64_t bMin = aMin, bMax = aMax;
            for (const std::vector<int32_t>* p : {&lead.m_edge, &trail.m_edge}) {
                const int32_t to = std::min(rect.right, static_cast<int32_t>(p->size()) - 1);
                for (int32_t i = std::max(rect.left, 0); i <= to; ++i) {
                    const int64_t e = (*p)[i];
                    if (e == -1) continue;
                    const int64_t a = (e * sx - i * sy) / sx;
                    const int64_t b = (e * sy + i * sx) / sy;
                    aMin = std::min(aMin, a), aMax = std::max(aMax, a);
                    bMin = std::min(bMin, b), bMax = std::max(bMax, b);
                }
            }
            const int32_t x = rec.slant.x, y = rec.slant.y;
            c[kCornerLeftBottom] = cross(x, y, Clamp32(aMax), Clamp32(bMin));
            c[kCornerRightBottom] = cross(x, y, Clamp32(aMax), Clamp32(bMax));
            c[kCornerRightTop] = cross(x, y, Clamp32(aMin), Clamp32(bMax));
            c[kCornerLeftTop] = cross(x, y, Clamp32(aMin), Clamp32(bMin));
            const int64_t len = static_cast<int64_t>(std::sqrt(double(sx * sx + sy * sy)));
            if (len != 0) {
                auto t = [&](int64_t v) { return m * v / len; };
                const int64_t mv[4][2] = {{t(sx) + t(sy), sx > sy ? t(sy) - t(sx) : t(sy) + t(sx)},
                                          {t(sy) - t(sx), sx > sy ? -t(sx) - t(sy) : t(sx) - t(sy)},
                                          {-t(sx) - t(sy), t(sx) - t(sy)},
                                          {t(sx) - t(sy), t(sx) + t(sy)}};
                for (int k = 0; k < 4; ++k) {
                    c[k].x = Clamp32(c[k].x + mv[k][0]);
                    c[k].y = Clamp32(c[k].y + mv[k][1]);
                }
            }
        } else {
            const int32_t mm = static_cast<int32_t>(m);
            c[kCornerLeftBottom] = {rect.left + mm / 2, rect.bottom - mm};
            c[kCornerRightBottom] = {rect.right - mm / 2, rect.bottom - mm};
            c[kCornerRightTop] = {rect.right - mm / 2, rect.top + mm};
            c[kCornerLeftTop] = {rect.left + mm / 2, rect.top + mm};
        }
        for (int k = 0; k < 4; ++k) c[k].y -= shift;

        // Back to the image's own resolutions.
        info->slant = rec.slant;
        for (int k = 0; k < 4; ++k) info->corner[k] = c[k];
        if (xr > yr) {
            for (auto& p : info->corner) p.x = Clamp32(int64_t{p.x} * xr / yr);
            info->slant.x = Clamp32(int64_t{info->slant.x} * xr / yr);
        } else if (xr < yr) {
            for (auto& p : info->corner) p.y = Clamp32(int64_t{p.y} * yr / xr);
            info->slant.y = Clamp32(int64_t{info->slant.y} * yr / xr);
        }
        Tvk::tagRECT& r = info->rect;
        r.left = std::max(info->corner[kCornerLeftBottom].x, 0);
        r.top = std::max(info->corner[kCornerLeftTop].y, 0);
        r.right = std::min(info->corner[kCornerRightTop].x, img.width);
        r.bottom = std::min(length, info->corner[kCornerRightBottom].y);
        if (m_option.lPaperLength != 0 &&
            int64_t{length} - m_option.lFallbackTop < m_option.lPaperLength) {
            roll_back_result(img.width, length, info);
            return 0;
        }
        const tagPOINT bl = info->corner[kCornerLeftBottom], br = info->corner[kCornerRightBottom];
        const tagPOINT tr = info->corner[kCornerRightTop], tl = info->corner[kCornerLeftTop];
        const bool ordered = info->slant.x >= info->slant.y
                                 ? tl.y <= bl.y && tr.y <= br.y && tl.x <= tr.x && bl.x <= br.x
                                 : bl.y <= br.y && tl.y <= tr.y && bl.x <= tl.x && br.x <= tr.x;
        if (!ordered) roll_back_result(img.width, length, info);
    } catch (uint32_t code) {
        return code;
    } catch (const std::bad_alloc&) {
        return kIpErrOutOfMemory;
    }
    return 0;
}
