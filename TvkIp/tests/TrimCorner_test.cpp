// Corner trimming: the moves of both forms, the undo of improper results and
// the property that corners only move inward.
#include "TrimCorner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>

namespace {

using Tvk::tagPOINT;

struct Quad {
    tagPOINT p[4];
};

// An upright sheet in the detectors' order: left-bottom, right-bottom,
// right-top, left-top.
Quad Upright(int32_t l, int32_t t, int32_t r, int32_t b) {
    return {{{l, b}, {r, b}, {r, t}, {l, t}}};
}

void ExpectMoved(const Quad& before, const Quad& after, const tagPOINT (&d)[4]) {
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(after.p[k].x - before.p[k].x, d[k].x) << "point " << k;
        EXPECT_EQ(after.p[k].y - before.p[k].y, d[k].y) << "point " << k;
    }
}

TEST(TrimCorner, MovesOfBothForms) {
    const int32_t trims[4] = {4, 6, 8, 10};
    const int32_t even[4] = {10, 10, 10, 10};
    struct Case {
        const char* what;
        bool longForm;
        tagPOINT slant;
        const int32_t* trim;
        int32_t div, mul;
        tagPOINT d[4];
    } cases[] = {
        // No slant: half of each trim along the image axes (case B).
        {"short, no slant", false, {0, 0}, even, 0, 0, {{5, -5}, {-5, -5}, {-5, 5}, {5, 5}}},
        // Upright slant: the full trims, p0 by (t1, -t3).
        {"short, upright", false, {100, 0}, trims, 0, 0, {{6, -10}, {-8, -10}, {-8, 4}, {6, 4}}},
        // The long form needs both slant components; otherwise half moves.
        {"long, upright", true, {100, 0}, trims, 300, 300, {{3, -5}, {-4, -5}, {-4, 2}, {3, 2}}},
        {"long, no slant", true, {0, 0}, trims, 300, 300, {{3, -5}, {-4, -5}, {-4, 2}, {3, 2}}},
        {"long, no horizontal resolution", true, {100, 3}, trims, 0, 300, {}},
        {"long, no vertical resolution", true, {100, 3}, trims, 300, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Quad q = Upright(100, 100, 400, 500);
        Quad t = q;
        if (c.longForm)
            TrimFourPoint(t.p, c.trim, c.slant, c.div, c.mul);
        else
            TrimFourPoint(t.p, c.trim, c.slant);
        ExpectMoved(q, t, c.d);
    }
}

TEST(TrimCorner, ImproperResultsAreUndone) {
    // Trims beyond half the sheet make left pass right: nothing changes.
    const int32_t huge[4] = {10, 400, 400, 10};
    for (const bool longForm : {false, true}) {
        for (const tagPOINT slant : {tagPOINT{0, 0}, tagPOINT{1000, 20}, tagPOINT{20, 1000}}) {
            SCOPED_TRACE(testing::Message()
                         << "long " << longForm << " slant " << slant.x << "," << slant.y);
            const Quad q = Upright(100, 100, 400, 500);
            Quad t = q;
            if (longForm)
                TrimFourPoint(t.p, huge, slant, 300, 300);
            else
                TrimFourPoint(t.p, huge, slant);
            ExpectMoved(q, t, {});
        }
    }
    // Case A (x below y): lower corners that end at or above line 0 are
    // refused even though the corners are still in order.
    const int32_t trim[4] = {0, 0, 0, 2};
    const tagPOINT steep{0, 100};
    Quad q = {{{100, -300}, {100, -10}, {400, -10}, {400, -300}}}; // LT, LB, RB, RT
    Quad t = q;
    TrimFourPoint(t.p, trim, steep);
    ExpectMoved(q, t, {});
    for (tagPOINT& p : q.p) p.y += 400;
    t = q;
    TrimFourPoint(t.p, trim, steep);
    ExpectMoved(q, t, {{0, 0}, {0, -2}, {0, -2}, {0, 0}});
}

TEST(TrimCorner, NeedForTrimming) {
    tagDETECTSIZEINFO info{};
    info.ulSize = kDetectSizeInfoSize;
    info.rect = {100, 500, 400, 100};
    const Quad q = Upright(100, 100, 400, 500);
    for (int k = 0; k < 4; ++k) info.corner[k] = q.p[k];
    EXPECT_FALSE(NeedTrimFourPoint(info)); // the rectangle's corners, no slant
    EXPECT_FALSE(NeedTrimFourPointD(info));
    std::swap(info.corner[0], info.corner[2]); // any order
    EXPECT_FALSE(NeedTrimFourPoint_BlackBack(info.rect, info.slant, info.corner));
    info.corner[1].x += 1;
    EXPECT_TRUE(NeedTrimFourPoint(info));
    info.corner[1].x -= 1;
    info.slant = {1, 0};
    EXPECT_TRUE(NeedTrimFourPoint(info));
}

// Point-in-convex-quadrilateral test with a margin (in the squared space).
double InsideDepth(const double (&q)[4][2], double x, double y) {
    double depth = 1e18;
    for (int k = 0; k < 4; ++k) {
        const double* a = q[k];
        const double* b = q[(k + 1) % 4];
        const double ex = b[0] - a[0], ey = b[1] - a[1];
        const double len = std::hypot(ex, ey);
        // Signed distance, positive on the inner side of a clockwise (on
        // screen) ring.
        const double d = ((x - a[0]) * ey - (y - a[1]) * ex) / len;
        depth = std::min(depth, -d);
    }
    return depth;
}

TEST(TrimCorner, CornersOnlyMoveInward) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> angle(-12, 12);
    std::uniform_int_distribution<int32_t> trimDist(0, 40);
    for (const int32_t mul : {300, 600}) {
        for (int n = 0; n < 200; ++n) {
            const double deg = angle(rng);
            if (std::fabs(deg) < 0.05) continue;
            const double th = deg * M_PI / 180, c = std::cos(th), s = std::sin(th);
            // Sheet in square units (300 dpi): centre, half sizes.
            const double cx = 1300, cy = 1700, hw = 1000, hh = 1400;
            auto at = [&](double u, double v) {
                return std::array<double, 2>{cx + u * c - v * s, cy + u * s + v * c};
            };
            const auto lt = at(-hw, -hh), rt = at(hw, -hh), rb = at(hw, hh), lb = at(-hw, hh);
            const double yscale = mul / 300.0;
            auto px = [&](const std::array<double, 2>& p) {
                return tagPOINT{static_cast<int32_t>(std::lround(p[0])),
                                static_cast<int32_t>(std::lround(p[1] * yscale))};
            };
            // The detectors' conventions: a clockwise sheet reports its top
            // edge and upright order, an anticlockwise one the quarter turn.
            tagPOINT slant;
            Quad q;
            if (deg > 0) {
                slant = {static_cast<int32_t>(std::lround(1000 * c)),
                         static_cast<int32_t>(std::lround(1000 * s * yscale))};
                q = {{px(lb), px(rb), px(rt), px(lt)}};
            } else {
                slant = {static_cast<int32_t>(std::lround(-1000 * s)),
                         static_cast<int32_t>(std::lround(1000 * c * yscale))};
                q = {{px(lt), px(lb), px(rb), px(rt)}};
            }
            const int32_t trim[4] = {trimDist(rng) * mul / 300, trimDist(rng), trimDist(rng),
                                     trimDist(rng) * mul / 300};
            Quad t = q;
            TrimFourPoint(t.p, trim, slant, 300, mul);
            SCOPED_TRACE(testing::Message() << "angle " << deg << " mul " << mul);
            // Every corner stays inside the sheet, about as deep as its trims.
            const double ring[4][2] = {
                {lt[0], lt[1]}, {rt[0], rt[1]}, {rb[0], rb[1]}, {lb[0], lb[1]}};
            for (int k = 0; k < 4; ++k) {
                const double x = t.p[k].x, y = t.p[k].y / yscale;
                EXPECT_GE(InsideDepth(ring, x, y), -1.5) << "corner " << k;
            }
            // Corners moved (nothing was undone), by at most their trims.
            const int32_t most = std::max({trim[0], trim[1], trim[2], trim[3]});
            if (std::min({trim[0], trim[1], trim[2], trim[3]}) >= 4) {
                for (int k = 0; k < 4; ++k) {
                    const double x = t.p[k].x, y = t.p[k].y / yscale;
                    EXPECT_GE(InsideDepth(ring, x, y), 1.0) << "corner " << k;
                }
            }
            for (int k = 0; k < 4; ++k) {
                const double dx = t.p[k].x - q.p[k].x, dy = (t.p[k].y - q.p[k].y) / yscale;
                EXPECT_LE(std::hypot(dx, dy), most * 1.5 + 2) << "corner " << k;
            }
        }
    }
}

} // namespace

TEST(TrimCorner, SlantInBothComponentsMovesByTheWorkedOutAmounts) {
    // Trims 4, 6, 8, 10 on the sheet (100, 100)-(400, 500); every move worked
    // out by hand from the sheet's axes, divisions truncated toward zero. Swapped
    // trims or axes give other numbers.
    const int32_t trims[4] = {4, 6, 8, 10};
    struct Case {
        const char* what;
        bool longForm;
        tagPOINT slant;
        int32_t div, mul;
        tagPOINT d[4];
        bool quarterTurn = false; // points in the order of a sheet reported turned
    } cases[] = {
        // Case B (sx >= sy), length 100: p0 by ((100*6 + 7*10) / 100, (7*6 - 100*10) / 100).
        {"short, mostly across", false, {100, 7}, 0, 0, {{6, -9}, {-7, -10}, {-8, 3}, {5, 4}}},
        // Case A (sx < sy), the points from left-top: p0 by ((100*6 + 7*4) / 100,
        // (100*4 - 7*6) / 100).
        {"short, mostly down", false, {7, 100}, 0, 0, {{6, 3}, {5, -10}, {-8, -9}, {-7, 4}}, true},
        // In micrometres at 300 x 600 dpi: the slant in square units is
        // (200, 14), the trims 169, 508, 677 and 423; the points go there and
        // back, so p3's x of 100 becomes 8466 + 496 and then 105.
        {"long, 300 x 600 dpi", true, {100, 14}, 300, 600, {{6, -10}, {-8, -12}, {-9, 2}, {5, 4}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Quad up = Upright(100, 100, 400, 500);
        const Quad q = c.quarterTurn ? Quad{{up.p[3], up.p[0], up.p[1], up.p[2]}} : up;
        Quad t = q;
        if (c.longForm)
            TrimFourPoint(t.p, trims, c.slant, c.div, c.mul);
        else
            TrimFourPoint(t.p, trims, c.slant);
        ExpectMoved(q, t, c.d);
    }
}
