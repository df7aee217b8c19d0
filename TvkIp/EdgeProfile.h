// Helpers shared by the size detectors' result steps: queries on edge
// profiles (one entry per column, -1 where there is no edge), the line
// layout of a band, and the slant that one outline chain's steps give.
// Internal to the library.
#pragma once

#include "DetectSize.h"
#include "Img.h"
#include "TvkTypes.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace EDGE_PROFILE_FUNCSPACE {

// First column with an entry; the profile's length when there is none.
inline int32_t FirstValid(const std::vector<int32_t>& p) {
    for (size_t i = 0; i < p.size(); ++i)
        if (p[i] != -1) return static_cast<int32_t>(i);
    return static_cast<int32_t>(p.size());
}

// Last column with an entry; -1 when there is none.
inline int32_t LastValid(const std::vector<int32_t>& p) {
    for (size_t i = p.size(); i-- > 0;)
        if (p[i] != -1) return static_cast<int32_t>(i);
    return -1;
}

// How a missing entry counts in a search for the top line.
constexpr int32_t kNoEntryTop = 500000;

// Smallest entry, a missing (negative) entry counting as kNoEntryTop.
inline int32_t MinEx(const std::vector<int32_t>& p) {
    int32_t best = kNoEntryTop;
    for (int32_t v : p) best = std::min(best, v < 0 ? kNoEntryTop : v);
    return best;
}

// Largest entry; -1 when there is none.
inline int32_t MaxEntry(const std::vector<int32_t>& p) {
    int32_t best = -1;
    for (int32_t v : p) best = std::max(best, v);
    return best;
}

// Line y at column x on the segment p-q; p's y when the segment is vertical.
inline int64_t LineAt(Tvk::tagPOINT p, Tvk::tagPOINT q, int64_t x) {
    if (q.x == p.x) return p.y;
    return p.y + (x - p.x) * (static_cast<int64_t>(q.y) - p.y) / (static_cast<int64_t>(q.x) - p.x);
}

// A quarter turn of a steep slant vector: (x, y) -> (y, -x) when x < y.
inline Tvk::tagPOINT TurnIfSteep(Tvk::tagPOINT s) {
    return s.x < s.y ? Tvk::tagPOINT{s.y, -s.x} : s;
}

// How a band's lines are read: the gray plane, the middle plane of planar
// colour, or the middle byte of interleaved colour. False for a depth the
// detectors do not read or a line too short for its pixels.
inline bool LineLayout(const CImg::tagIMGSET& img, int64_t* offset, int32_t* step) {
    if (img.bpp != 8 && img.bpp != 24) return false;
    const bool planar = img.bpp == 24 && img.pixelorder == 1;
    *step = img.bpp == 24 && !planar ? 3 : 1;
    *offset = planar ? img.sync / 3 : (img.bpp == 24 ? 1 : 0);
    const int64_t needed =
        (planar ? 2 * int64_t{img.sync / 3} : *offset) + int64_t{img.width - 1} * *step + 1;
    return img.width > 0 && img.sync >= needed;
}

// The steps (|dx|, |dy|) of one outline chain that make its slant: steps
// shorter than `minLength` go; when two or more remain, the one that `less`
// ranks highest (the first of equals) sets a slope and only steps within 0.1
// of it stay.
template <class Less>
void KeepSlantSteps(std::vector<Tvk::tagPOINT>& steps, double minLength, Less less) {
    steps.erase(std::remove_if(steps.begin(), steps.end(),
                               [&](const Tvk::tagPOINT& v) {
                                   return std::hypot(double(v.x), double(v.y)) < minLength;
                               }),
                steps.end());
    if (steps.size() < 2) return;
    const Tvk::tagPOINT ref = *std::max_element(steps.begin(), steps.end(), less);
    auto slope = [](const Tvk::tagPOINT& v) {
        return v.x == 0 ? std::numeric_limits<double>::infinity() : double(v.y) / v.x;
    };
    const double r = slope(ref);
    steps.erase(std::remove_if(steps.begin(), steps.end(),
                               [&](const Tvk::tagPOINT& v) {
                                   const double s = slope(v);
                                   return !(s >= r - 0.1 && s <= r + 0.1);
                               }),
                steps.end());
}

// Ranks steps by their squared length.
inline bool ShorterStep(const Tvk::tagPOINT& a, const Tvk::tagPOINT& b) {
    return int64_t{a.x} * a.x + int64_t{a.y} * a.y < int64_t{b.x} * b.x + int64_t{b.y} * b.y;
}

// The sum of the kept steps as a slant: (sum dx, sum dy) for the right-hand
// chain, (sum dy, sum dx) for the left-hand one.
inline Tvk::tagPOINT SumSlantSteps(const std::vector<Tvk::tagPOINT>& steps, bool leftChain) {
    int64_t sx = 0, sy = 0;
    for (const Tvk::tagPOINT& v : steps) sx += v.x, sy += v.y;
    return leftChain ? Tvk::tagPOINT{Clamp32(sy), Clamp32(sx)}
                     : Tvk::tagPOINT{Clamp32(sx), Clamp32(sy)};
}

// The fallback rectangle of a result that can't be trusted: left and top
// from the request (0 when negative), right `rightMargin` in from the width
// (width - left when that is negative), bottom the given line.
inline Tvk::tagRECT FallbackRect(int32_t left, int32_t top, int32_t rightMargin, int32_t width,
                                 int32_t bottom) {
    Tvk::tagRECT r;
    r.left = std::max(left, 0);
    r.top = std::max(top, 0);
    r.right = width - rightMargin;
    if (r.right < 0) r.right = width - r.left;
    r.bottom = bottom;
    return r;
}

// An upright result: slant (1, 0), the rectangle and its corners.
inline void SetUprightResult(tagDETECTSIZEINFO* info, const Tvk::tagRECT& r) {
    info->slant = {1, 0};
    info->rect = r;
    info->corner[kCornerLeftBottom] = {r.left, r.bottom};
    info->corner[kCornerRightBottom] = {r.right, r.bottom};
    info->corner[kCornerRightTop] = {r.right, r.top};
    info->corner[kCornerLeftTop] = {r.left, r.top};
}

} // namespace EDGE_PROFILE_FUNCSPACE
