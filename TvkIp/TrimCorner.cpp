// Corner trimming of the four-corner detectors.
#include "TrimCorner.h"

#include <cmath>

namespace {

struct P64 {
    int64_t x, y;
};

// Case A: the slant as given has x < y (the vector runs down the sheet's
// left side); case B otherwise.
bool CaseA(Tvk::tagPOINT slant) {
    return slant.x < slant.y;
}

// Full move along (a, b) of length n; every numerator is summed before it is
// divided, truncating toward zero.
void FullMove(P64 p[4], const int64_t t[4], int64_t a, int64_t b, int64_t n, bool caseA) {
    if (n == 0) return;
    if (caseA) {
        p[0].x += (b * t[1] + a * t[0]) / n, p[0].y += (b * t[0] - a * t[1]) / n;
        p[1].x += (b * t[1] - a * t[3]) / n, p[1].y += (-a * t[1] - b * t[3]) / n;
        p[2].x += (-b * t[2] - a * t[3]) / n, p[2].y += (a * t[2] - b * t[3]) / n;
        p[3].x += (a * t[0] - b * t[2]) / n, p[3].y += (a * t[2] + b * t[0]) / n;
    } else {
        p[0].x += (a * t[1] + b * t[3]) / n, p[0].y += (b * t[1] - a * t[3]) / n;
        p[1].x += (b * t[3] - a * t[2]) / n, p[1].y += (-a * t[3] - b * t[2]) / n;
        p[2].x += (-a * t[2] - b * t[0]) / n, p[2].y += (a * t[0] - b * t[2]) / n;
        p[3].x += (a * t[1] - b * t[0]) / n, p[3].y += (b * t[1] + a * t[0]) / n;
    }
}

// Half move along the image axes, used when the slant gives no direction.
void HalfMove(Tvk::tagPOINT p[4], const int32_t t[4], bool caseA) {
    const int32_t h0 = t[0] / 2, h1 = t[1] / 2, h2 = t[2] / 2, h3 = t[3] / 2;
    if (caseA) {
        p[0].x += h1, p[0].y += h0;
        p[1].x += h1, p[1].y -= h3;
        p[2].x -= h2, p[2].y -= h3;
        p[3].x -= h2, p[3].y += h0;
    } else {
        p[0].x += h1, p[0].y -= h3;
        p[1].x -= h2, p[1].y -= h3;
        p[2].x -= h2, p[2].y += h0;
        p[3].x += h1, p[3].y += h0;
    }
}

// The moved corners must still be ordered like the sheet's corners, and the
// lower pair must not have left the image at the top.
bool Proper(const Tvk::tagPOINT p[4], bool caseA) {
    if (caseA)
        return p[0].x <= p[3].x && p[1].x <= p[2].x && p[0].y <= p[1].y && p[3].y <= p[2].y &&
               (p[1].y > 0 || p[2].y >= 1);
    return p[3].x <= p[2].x && p[0].x <= p[1].x && p[3].y <= p[0].y && p[2].y <= p[1].y &&
           (p[0].y > 0 || p[1].y >= 1);
}

void Finish(Tvk::tagPOINT pt[4], const Tvk::tagPOINT saved[4], bool caseA) {
    if (!Proper(pt, caseA))
        for (int k = 0; k < 4; ++k) pt[k] = saved[k];
}

} // namespace

int32_t TrimVectorLength(int64_t a, int64_t b) {
    // The length goes through single precision, as the detectors always
    // measured it; the sum is formed in 64 bits so that it cannot wrap.
    const float sq = static_cast<float>(a * a + b * b);
    return static_cast<int32_t>(std::sqrt(static_cast<double>(sq)));
}

void TrimFourPoint(Tvk::tagPOINT pt[4], const int32_t trim[4], Tvk::tagPOINT slant) {
    Tvk::tagPOINT saved[4];
    for (int k = 0; k < 4; ++k) saved[k] = pt[k];
    const bool caseA = CaseA(slant);
    const int32_t n = TrimVectorLength(slant.x, slant.y);
    if (n != 0) {
        P64 p[4];
        for (int k = 0; k < 4; ++k) p[k] = {pt[k].x, pt[k].y};
        const int64_t t[4] = {trim[0], trim[1], trim[2], trim[3]};
        FullMove(p, t, slant.x, slant.y, n, caseA);
        for (int k = 0; k < 4; ++k) pt[k] = {Clamp32(p[k].x), Clamp32(p[k].y)};
        Finish(pt, saved, caseA);
    } else {
        HalfMove(pt, trim, false);
        Finish(pt, saved, false);
    }
}

void TrimFourPoint(Tvk::tagPOINT pt[4], const int32_t trim[4], Tvk::tagPOINT slant, int32_t div,
                   int32_t mul) {
    if (div == 0 || mul == 0) return;
    Tvk::tagPOINT saved[4];
    for (int k = 0; k < 4; ++k) saved[k] = pt[k];
    const bool caseA = CaseA(slant);
    if (TrimVectorLength(slant.x, slant.y) != 0 && slant.x != 0 && slant.y != 0) {
        constexpr int64_t kUm = 25400;
        P64 p[4];
        for (int k = 0; k < 4; ++k) p[k] = {pt[k].x * kUm / div, pt[k].y * kUm / mul};
        const int64_t t[4] = {trim[0] * kUm / mul, trim[1] * kUm / div, trim[2] * kUm / div,
                              trim[3] * kUm / mul};
        int64_t a, b;
        if (div > mul) {
            a = slant.x;
            b = int64_t{div} * slant.y / mul;
        } else {
            a = int64_t{mul} * slant.x / div;
            b = slant.y;
        }
        FullMove(p, t, a, b, TrimVectorLength(a, b), caseA);
        for (int k = 0; k < 4; ++k)
            pt[k] = {Clamp32(p[k].x * div / kUm), Clamp32(p[k].y * mul / kUm)};
    } else {
        HalfMove(pt, trim, caseA);
    }
    Finish(pt, saved, caseA);
}

bool NeedTrimFourPoint_BlackBack(const Tvk::tagRECT& rect, Tvk::tagPOINT slant,
                                 const Tvk::tagPOINT pt[4]) {
    if (slant.x != 0 || slant.y != 0) return true;
    const Tvk::tagPOINT corners[4] = {{rect.left, rect.bottom},
                                      {rect.right, rect.bottom},
                                      {rect.left, rect.top},
                                      {rect.right, rect.top}};
    for (const Tvk::tagPOINT& c : corners) {
        bool found = false;
        for (int k = 0; k < 4 && !found; ++k) found = pt[k].x == c.x && pt[k].y == c.y;
        if (!found) return true;
    }
    return false;
}

bool NeedTrimFourPoint(const tagDETECTSIZEINFO& info) {
    return NeedTrimFourPoint_BlackBack(info.rect, info.slant, info.corner);
}

bool NeedTrimFourPointD(const tagDETECTSIZEINFO& info) {
    return NeedTrimFourPoint_BlackBack(info.rect, info.slant, info.corner);
}
