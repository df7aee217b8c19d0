// Slant and corners from two side outlines.
#include "slant_fnc_fromFrame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace ff = FROMFRAME_FUNCSPACE;

namespace {

constexpr double kPi = 3.14159265358979323846;

// Left and right outlines (-1 where a line holds no sheet) of a w x h sheet
// turned by `deg` (clockwise on screen) about its centre (cx, cy).
struct Outlines {
    std::vector<int16_t> left, right;
    double corners[4][2]; // left-top, right-top, right-bottom, left-bottom
};

Outlines SheetOutlines(int32_t lines, double cx, double cy, double w, double h, double deg) {
    const double c = std::cos(deg * kPi / 180), s = std::sin(deg * kPi / 180);
    Outlines o;
    o.left.assign(lines, -1);
    o.right.assign(lines, -1);
    const double local[4][2] = {{-w / 2, -h / 2}, {w / 2, -h / 2}, {w / 2, h / 2}, {-w / 2, h / 2}};
    for (int k = 0; k < 4; ++k) {
        o.corners[k][0] = cx + local[k][0] * c - local[k][1] * s;
        o.corners[k][1] = cy + local[k][0] * s + local[k][1] * c;
    }
    for (int32_t y = 0; y < lines; ++y) {
        // Pixels whose centre lies inside the sheet.
        double lo = 1e9, hi = -1e9;
        for (int k = 0; k < 4; ++k) {
            const double* a = o.corners[k];
            const double* b = o.corners[(k + 1) % 4];
            if ((a[1] - y) * (b[1] - y) > 0 || a[1] == b[1]) continue;
            const double x = a[0] + (b[0] - a[0]) * (y - a[1]) / (b[1] - a[1]);
            lo = std::min(lo, x);
            hi = std::max(hi, x);
        }
        if (lo <= hi) {
            o.left[y] = static_cast<int16_t>(std::ceil(lo));
            o.right[y] = static_cast<int16_t>(std::floor(hi));
        }
    }
    return o;
}

// Every expected corner has a found point near it.
void ExpectCornersNear(const Tvk::tagPOINT pts[4], const double corners[4][2], double tol) {
    for (int k = 0; k < 4; ++k) {
        double best = 1e9;
        for (int i = 0; i < 4; ++i) {
            best = std::min(best, std::hypot(pts[i].x - corners[k][0], pts[i].y - corners[k][1]));
        }
        EXPECT_LE(best, tol) << "corner " << k << " (" << corners[k][0] << ", " << corners[k][1]
                             << ")";
    }
}

} // namespace

TEST(SlantFromFrame, StraightVerticalOutlinesGiveAnUprightRectangle) {
    std::vector<int16_t> left(600, -1), right(600, -1);
    for (int y = 10; y < 490; ++y) {
        left[y] = 100;
        right[y] = 500;
    }
    CWhiteBkg4PtDetector d(false);
    ASSERT_TRUE(d.GetSlant(left.data(), right.data(), 600, -1, 300, 300));
    EXPECT_EQ(d.m_slant.x, 1);
    EXPECT_EQ(d.m_slant.y, 0);
    const Tvk::tagPOINT want[4] = {{100, 489}, {500, 489}, {500, 10}, {100, 10}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(d.m_ptB[i].x, want[i].x) << i;
        EXPECT_EQ(d.m_ptB[i].y, want[i].y) << i;
        EXPECT_EQ(d.m_ptA[i].x, want[i].x) << i;
        EXPECT_EQ(d.m_ptA[i].y, want[i].y) << i;
    }
    EXPECT_EQ(d.RectLeftTop().x, 100);
    EXPECT_EQ(d.RectLeftTop().y, 10);
    EXPECT_EQ(d.RectSize().x, 401);
    EXPECT_EQ(d.RectSize().y, 480);
}

TEST(SlantFromFrame, TurnedSheetGivesItsSlantAndCorners) {
    for (const double deg : {3.0, -3.0, 8.0, -6.0}) {
        SCOPED_TRACE(deg);
        Outlines o = SheetOutlines(1400, 620, 680, 900, 1100, deg);
        CWhiteBkg4PtDetector d(false);
        ASSERT_TRUE(d.GetSlant(o.left.data(), o.right.data(), 1400, -1, 300, 300));
        ASSERT_NE(d.m_slant.x, 0);
        ASSERT_NE(d.m_slant.y, 0);
        // The slant is the direction of a sheet side, in either quarter.
        const double t = std::tan(std::fabs(deg) * kPi / 180);
        const double r = static_cast<double>(std::min(d.m_slant.x, d.m_slant.y)) /
                         static_cast<double>(std::max(d.m_slant.x, d.m_slant.y));
        EXPECT_NEAR(r, t, 0.01);
        ExpectCornersNear(d.m_ptA, o.corners, 4);
    }
}

TEST(SlantFromFrame, NearlyUprightLongSidesCountAsUpright) {
    // Two straight sides leaning one line in 60: a slant is found, but both
    // sides lie within 2 degrees and are longer than 60 mm.
    std::vector<int16_t> left(1100, -1), right(1100, -1);
    for (int y = 50; y < 1050; ++y) {
        left[y] = static_cast<int16_t>(100 + y / 60);
        right[y] = static_cast<int16_t>(900 + y / 60);
    }
    CWhiteBkg4PtDetector d(false);
    ASSERT_TRUE(d.GetSlant(left.data(), right.data(), 1100, -1, 300, 300));
    EXPECT_EQ(d.m_slant.x, 1);
    EXPECT_EQ(d.m_slant.y, 0);
    // Shorter than 60 mm (708 lines at 300 dpi): the slant stays.
    std::fill(left.begin() + 600, left.end(), -1);
    std::fill(right.begin() + 600, right.end(), -1);
    ASSERT_TRUE(d.GetSlant(left.data(), right.data(), 1100, -1, 300, 300));
    EXPECT_NE(d.m_slant.y, 0);
}

TEST(SlantFromFrame, TransposeExchangesXAndY) {
    Outlines o = SheetOutlines(1400, 620, 680, 900, 1100, 4.0);
    CWhiteBkg4PtDetector plain(false);
    CWhiteBkg4PtDetector turned(true);
    ASSERT_TRUE(plain.GetSlant(o.left.data(), o.right.data(), 1400, -1, 300, 300));
    ASSERT_TRUE(turned.GetSlant(o.left.data(), o.right.data(), 1400, -1, 300, 300));
    EXPECT_EQ(turned.m_slant.x, plain.m_slant.y);
    EXPECT_EQ(turned.m_slant.y, plain.m_slant.x);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(turned.m_ptA[i].x, plain.m_ptA[i].y);
        EXPECT_EQ(turned.m_ptA[i].y, plain.m_ptA[i].x);
        EXPECT_EQ(turned.m_ptB[i].x, plain.m_ptB[i].y);
    }
}

TEST(SlantFromFrame, EmptyOutlinesAreRefused) {
    int16_t one = 5;
    CWhiteBkg4PtDetector d(false);
    EXPECT_FALSE(d.GetSlant(&one, &one, 0, -1, 300, 300));
    EXPECT_FALSE(d.GetSlant(nullptr, &one, 1, -1, 300, 300));
    // Outlines without any edge leave the slant upright and the corners zero.
    std::vector<int16_t> none(50, -1);
    ASSERT_TRUE(d.GetSlant(none.data(), none.data(), 50, -1, 300, 300));
    EXPECT_EQ(d.m_slant.x, 1);
    EXPECT_EQ(d.m_slant.y, 0);
}

TEST(SlantFromFrame, MedianAndVectorHelpers) {
    const std::vector<uint16_t> in = {5, 5, 90, 5, 5, 7, 7};
    for (const int32_t range : {1, 2}) {
        CTvkArray<uint16_t> a;
        for (uint16_t v : in) a.push_back(v);
        ASSERT_TRUE(ff::revise_median(a, range));
        for (size_t i = 0; i < in.size(); ++i) EXPECT_EQ(a[i], in[i]) << range;
    }
    CTvkArray<uint16_t> a;
    for (uint16_t v : in) a.push_back(v);
    ASSERT_TRUE(ff::revise_median(a, 3));
    const std::vector<uint16_t> want = {5, 5, 5, 5, 5, 7, 7};
    for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(a[i], want[i]) << i;
    EXPECT_EQ(a[100], 7); // reads past the count clamp to the last entry

    const struct {
        Tvk::tagPOINT in, out;
    } red[] = {{{6, 4}, {3, 2}}, {{-6, 4}, {3, 2}}, {{0, 5}, {0, 1}}, {{7, 1}, {7, 1}}};
    for (const auto& c : red) {
        const Tvk::tagPOINT r = ff::reduction(c.in);
        EXPECT_EQ(r.x, c.out.x);
        EXPECT_EQ(r.y, c.out.y);
    }
    const Tvk::tagPOINT big = ff::revise_vec_value({1234567, 7654});
    EXPECT_EQ(big.x, 12345);
    EXPECT_EQ(big.y, 76);
    const Tvk::tagPOINT small = ff::revise_vec_value({99999, 5});
    EXPECT_EQ(small.x, 99999);
}
