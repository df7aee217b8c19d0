// Edge-profile helpers: geometry, outlines, filters and step histograms.
#include "slant_fnc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Tvk::tagPOINT;

::testing::AssertionResult SamePoint(tagPOINT got, tagPOINT want) {
    if (got.x == want.x && got.y == want.y) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "(" << got.x << ", " << got.y << ") != (" << want.x << ", " << want.y << ")";
}

TEST(SlantGeometry, CrossMeetsThePerpendicular) {
    // y = x meets y = 10 - x at (5, 5); y = 2 + x / 2 meets the normal
    // through (0, 12) at (4, 4).
    EXPECT_TRUE(SamePoint(cross(1, 1, 0, 10), {5, 5}));
    EXPECT_TRUE(SamePoint(cross(2, 1, 2, 12), {4, 4}));
    EXPECT_TRUE(SamePoint(cross2(1, 1, 0, 10), {5, 5}));
}

TEST(SlantGeometry, CrossWithAZeroComponentGivesItsLimit) {
    // These divided by zero and turned an infinite or NaN double into an
    // integer; the limits of the construction are returned instead.
    struct Case {
        int32_t a, b, c, d;
        tagPOINT want;
    } cases[] = {
        {5, 0, 7, 3, {0, 7}}, // horizontal line y = 7, normal x = 0
        {0, 5, 7, 3, {0, 3}}, // vertical direction: the normal is y = d
        {0, 0, 7, 3, {0, 0}}, // no direction at all
        {-4, 0, -9, 3, {0, -9}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.a << "," << c.b << "," << c.c << "," << c.d);
        EXPECT_TRUE(SamePoint(cross(c.a, c.b, c.c, c.d), c.want));
    }
    EXPECT_TRUE(SamePoint(cross2(0, 5, 7, 3), {7, 0}));
    EXPECT_TRUE(SamePoint(cross2(5, 0, 7, 3), {3, 0}));
}

TEST(SlantGeometry, LineIntersections) {
    // Horizontal line through (0, 5) and the vertical through (3, 0).
    EXPECT_TRUE(SamePoint(cross_y_x(1, 0, 5, 3), {3, 5}));
    // Direction (4, 1) through (0, 100), normal through (2000, 0).
    const tagPOINT p = cross_y_x(4, 1, 100, 2000);
    EXPECT_TRUE(SamePoint(p, {4 * (4 * 2000 - 100) / 17, 4 * (4 * 100 + 2000) / 17}));
    EXPECT_TRUE(SamePoint(cross_y_x(0, 0, 5, 3), {0, 0}));
    // Products beyond 64 bits still give the exact point.
    EXPECT_TRUE(
        SamePoint(cross_y_x(2000000000, 0, 1500000000, 2000000000), {2000000000, 1500000000}));

    // y = x through (0, 0) and y = 10 - x through (10, 0) meet at (5, 5).
    EXPECT_TRUE(SamePoint(SideEdge_cross_y_x({1, 1}, {1, -1}, 0, 10), {5, 5}));
    EXPECT_TRUE(SamePoint(SideEdge_cross_y_x({2, 3}, {4, 6}, 0, 10), {0, 0}));
}

TEST(SlantGeometry, CosProduct) {
    struct Case {
        tagPOINT a, b;
        int64_t want;
        bool obtuse;
    } cases[] = {
        {{1, 0}, {0, 1}, 0, false},       {{3, 4}, {6, 8}, 1048576, false},
        {{1, 0}, {-1, 0}, 1048576, true}, {{1, 1}, {1, 0}, 524288, false},
        {{0, 0}, {1, 0}, 0, false}, // no direction: no angle
    };
    for (const Case& c : cases) {
        bool obtuse = false;
        EXPECT_EQ(cos_product(&c.a, &c.b, &obtuse), c.want);
        EXPECT_EQ(obtuse, c.obtuse);
    }
    bool sticky = true;
    tagPOINT a{1, 0}, b{1, 0};
    cos_product(&a, &b, &sticky);
    EXPECT_TRUE(sticky) << "the flag is only ever set";
}

TEST(SlantGeometry, MaxLengthVectorPrefersWidestThenTallest) {
    std::vector<tagPOINT> v = {{3, 1}, {-5, 0}, {5, -2}, {-5, 2}, {4, 9}};
    auto it = std::max_element(v.begin(), v.end(), CMaxLengthVec2);
    EXPECT_EQ(it - v.begin(), 2);
}

TEST(SlantOutline, StraightRunHasOnlyItsEnds) {
    std::vector<int32_t> p = {10, 12, 14, 16, 18, 20};
    EXPECT_EQ(GetContactPoint(p.data(), 0, 5, 0), 0);
    EXPECT_EQ(GetContactPoint(p.data(), 0, 5, 1), 0);
    EXPECT_EQ(GetContactPoint(p.data(), 3, 3, 0), 3);
    EdgeIndexList list;
    int32_t far = -7;
    get_outline(p.data(), 0, 5, list, &far);
    EXPECT_EQ(list, (EdgeIndexList{0, 5}));
    EXPECT_EQ(far, -7) << "no contact point leaves the far index alone";
}

TEST(SlantOutline, DipAndBump) {
    // A dip: the lower outline passes through its deepest point; invalid
    // entries are never contact points.
    std::vector<int32_t> p = {50, 48, 46, -1, 42, 2, 44, 46, 48, 50};
    EdgeIndexList list;
    int32_t far = -1;
    get_outline(p.data(), 0, 9, list, &far);
    EXPECT_EQ(list, (EdgeIndexList{0, 5, 9}));
    EXPECT_EQ(far, 5);

    // Upper side of a roof: the two eaves and the ridge.
    std::vector<int32_t> roof = {0, 10, 20, 30, 40, 30, 20, 10, 0};
    list.clear();
    get_outline_ex(roof.data(), 0, 8, list, &far, false);
    EXPECT_EQ(list, (EdgeIndexList{0, 4, 8}));
    EXPECT_EQ(far, 4);
    // The lower side of the roof is its chord.
    list.clear();
    get_outline_ex(roof.data(), 0, 8, list, &far, true);
    EXPECT_EQ(list, (EdgeIndexList{0, 8}));
}

TEST(SlantOutline, LongConvexProfileIsSortedAndConvex) {
    // A wide bowl: many contact points, one per convex corner; the walk
    // must survive a very long profile.
    const int32_t n = 40000;
    std::vector<int32_t> p(n);
    for (int32_t i = 0; i < n; ++i)
        p[i] = static_cast<int32_t>((int64_t(i) - n / 2) * (int64_t(i) - n / 2) / 4000);
    EdgeIndexList list;
    int32_t far = -1;
    get_outline(p.data(), 0, n - 1, list, &far);
    ASSERT_GE(list.size(), 10u);
    EXPECT_EQ(list.front(), 0);
    EXPECT_EQ(list.back(), n - 1);
    EXPECT_TRUE(std::is_sorted(list.begin(), list.end()));
    EXPECT_TRUE(std::adjacent_find(list.begin(), list.end()) == list.end());
    // Every outline point lies on or below the chord of its neighbours (to
    // within the one unit that the integer chord is truncated by).
    for (size_t k = 1; k + 1 < list.size(); ++k) {
        const int64_t a = list[k - 1], b = list[k], c = list[k + 1];
        const int64_t lhs = (p[b] - p[a]) * (c - a), rhs = (p[c] - p[a]) * (b - a);
        EXPECT_LE(lhs, rhs + (c - a)) << "at outline point " << b;
    }
}

TEST(SlantOutline, ChainsSplitAtTheExtremeAndGiveStepVectors) {
    // Outline columns 0, 3, 5, 8, 10; the highest point (smallest entry) is
    // shared by columns 5 and 8.
    std::vector<int32_t> p(11, -1);
    p[0] = 40, p[3] = 20, p[5] = 10, p[8] = 10, p[10] = 30;
    const EdgeIndexList outline = {0, 3, 5, 8, 10};
    EdgeIndexList top[2];
    get_sep_xvec(p.data(), outline, top);
    EXPECT_EQ(top[0], (EdgeIndexList{0, 3, 5}));
    EXPECT_EQ(top[1], (EdgeIndexList{10, 8}));
    EdgeIndexList low[2];
    get_sep_xvec_ex(p.data(), outline, low, false); // split at the largest entry
    EXPECT_EQ(low[0], (EdgeIndexList{0}));
    EXPECT_EQ(low[1], (EdgeIndexList{10, 8, 5, 3, 0}));

    std::vector<tagPOINT> v;
    get_pvec(p.data(), top[1], v);
    ASSERT_EQ(v.size(), 1u);
    EXPECT_TRUE(SamePoint(v[0], {2, 20}));
    EXPECT_EQ(get_median_range(300), 23);
    EXPECT_EQ(get_median_range(10), 3);
}

TEST(SlantFilter, RunsUpToTheLengthAreCleared) {
    std::vector<int32_t> p = {7, -1, 3, 3, 3, -1, 9, 9};
    filtering_edge_data(p.data(), 8, 2);
    EXPECT_EQ(p, (std::vector<int32_t>{-1, -1, 3, 3, 3, -1, -1, -1}));

    std::vector<int32_t> q = {1, 1, -1, 2, 2, 2, -1, 3, 3, 3, -1, 4};
    filtering_edge_data(q.data(), 12);
    EXPECT_EQ(q, (std::vector<int32_t>{-1, -1, -1, 2, 2, 2, -1, -1, -1, -1, -1, -1}));

    std::vector<int32_t> r = {5, 9, 12, -1, 4};
    edge_remove_from_bottom(r.data(), 5, 8);
    EXPECT_EQ(r, (std::vector<int32_t>{5, -1, -1, -1, 4}));
}

TEST(SlantFilter, MedianValueAndRange) {
    std::vector<int32_t> p = {9, 1, 7, 3, 5};
    EXPECT_EQ(get_median_value(nullptr, 5), 0);
    EXPECT_EQ(get_median_value(&p[2], 2), 7);
    EXPECT_EQ(get_median_value(&p[2], 5), 5);
    EXPECT_EQ(get_median_value(&p[2], 3), 3);
    EXPECT_EQ(get_median_range_ex(1000, 300), 23);
    EXPECT_EQ(get_median_range_ex(10, 300), 3);
    EXPECT_EQ(get_median_range_ex(1000, 600), 47);
}

TEST(SlantFilter, MedianFiltersPadTheEnds) {
    std::vector<int32_t> p = {5, 1, 5};
    revise_median(p.data(), 3, 3);
    EXPECT_EQ(p, (std::vector<int32_t>{5, 5, 5}));
    std::vector<int32_t> one = {4};
    revise_median_ex(one.data(), 1, 5);
    EXPECT_EQ(one, (std::vector<int32_t>{4}));
    revise_median_ex(one.data(), 0, 5); // nothing to do

    // Both filters agree with a plain per-window median over random data.
    std::mt19937 rng(7);
    for (int32_t range : {1, 3, 5, 23, 47}) {
        for (int32_t n : {1, 2, 10, 301}) {
            std::vector<int32_t> src(n);
            for (auto& v : src) v = static_cast<int32_t>(rng() % 200) - 1;
            std::vector<int32_t> padded;
            padded.insert(padded.end(), range / 2, src.front());
            padded.insert(padded.end(), src.begin(), src.end());
            padded.insert(padded.end(), range / 2, src.back());
            std::vector<int32_t> want(n);
            for (int32_t i = 0; i < n; ++i) {
                std::vector<int32_t> w(padded.begin() + i, padded.begin() + i + range);
                std::sort(w.begin(), w.end());
                want[i] = w[range / 2];
            }
            std::vector<int32_t> a = src, b = src;
            revise_median(a.data(), n, range);
            revise_median_ex(b.data(), n, range);
            EXPECT_EQ(a, want) << "range " << range << " n " << n;
            EXPECT_EQ(b, want) << "range " << range << " n " << n;
        }
    }
}

TEST(SlantHistogram, StepsAroundPeakAndLowestPoint) {
    std::vector<int32_t> p = {10, 8, 6, 4, 20, 18, 15, 12, 9};
    EdgeHistogram h[2];
    get_hist(p.data(), 9, 1, h, 1);
    EXPECT_TRUE(h[0].empty() && h[1].empty()) << "only kind 2 is measured";
    get_hist(p.data(), 9, 1, h, 2);
    EXPECT_EQ(h[0], (EdgeHistogram{2, 2, 2}));
    EXPECT_EQ(h[1], (EdgeHistogram{2, 3, 3, 3}));

    int32_t dx = 0, dy = 0;
    get_slant(h, 0, 1, &dx, &dy); // the second is fuller: 90 % of 4 -> 3 smallest
    EXPECT_EQ(dx, 8);
    EXPECT_EQ(dy, 3);

    // Around the lowest point; the outlier step 51 is filtered (mean 14).
    std::vector<int32_t> q = {9, 12, 15, 18, 3, 5, 7, 9, 60};
    EdgeHistogram g[2];
    get_hist2(q.data(), 9, 1, g, 2);
    EXPECT_EQ(g[0], (EdgeHistogram{3, 3, 3}));
    EXPECT_EQ(g[1], (EdgeHistogram{2, 2, 2}));
}

TEST(SlantHistogram, ShortProfileFlanksAndSlantChoice) {
    std::vector<int16_t> p = {-1, 10, 8, 6, 5, 7, 9, -1};
    EdgeHistogram h[2];
    int16_t fv = 0, fl = 0, ll = 0, lv = 0;
    get_hist(p.data(), 8, 0, 1, h, &fv, &fl, &ll, &lv);
    EXPECT_EQ(fv, 1);
    EXPECT_EQ(fl, 4);
    EXPECT_EQ(ll, 4);
    EXPECT_EQ(lv, 6);
    EXPECT_EQ(h[0], (EdgeHistogram{2, 2}));
    EXPECT_EQ(h[1], (EdgeHistogram{2}));
    get_hist(p.data(), 8, 0, 1, h, nullptr, &fl, &ll, &lv); // returns at once
    EXPECT_EQ(h[0].size(), 2u);

    EXPECT_EQ(leftindex(p.data(), 8), 1);
    EXPECT_EQ(rightindex(p.data(), 8), 6);
    std::vector<int16_t> none(4, -1);
    EXPECT_EQ(leftindex(none.data(), 4), 0);
    EXPECT_EQ(rightindex(none.data(), 4), 3);

    int32_t dx = 0, dy = 0;
    EdgeHistogram first[2] = {{5, 1, 3}, {}};
    get_slant(first, 0, 4, &dx, &dy); // m = 2: 1 + 3
    EXPECT_EQ(dx, 8);
    EXPECT_EQ(dy, 4);
    EdgeHistogram flat[2] = {{0, 0}, {}};
    get_slant(flat, 0, 4, &dx, &dy);
    EXPECT_EQ(dx, 1);
    EXPECT_EQ(dy, 0);
    EdgeHistogram empty[2];
    get_slant(empty, 0, 4, &dx, &dy);
    EXPECT_EQ(dx, 1);
    EXPECT_EQ(dy, 0);

    EdgeHistogram f = {1, 2, 3, 40};
    filtering_hist_data(f, 10); // mean 11: 40 goes
    EXPECT_EQ(f, (EdgeHistogram{1, 2, 3}));
}

TEST(SlantHistogram, DumpWritesOnlyIntoAnExistingFile) {
    const char* base = std::getenv("KD_TEST_TMP");
    const std::string dir = base ? base : "/tmp";
    const std::string path = dir + "/slant_dump_" + std::to_string(getpid()) + ".txt";
    std::remove(path.c_str());
    const int16_t values[] = {3, -2};
    dump_hist(values, 2, path.c_str());
    EXPECT_FALSE(std::ifstream(path).good()) << "no file is created";

    std::ofstream(path) << "old contents that are longer\n";
    dump_hist(EdgeHistogram{3, -2}, path.c_str());
    std::stringstream got;
    got << std::ifstream(path).rdbuf();
    EXPECT_EQ(got.str(), "3 \n-2 \n");

    // A link is not followed.
    const std::string link = path + ".lnk";
    std::remove(link.c_str());
    ASSERT_EQ(symlink(path.c_str(), link.c_str()), 0);
    dump_hist(values, 1, link.c_str());
    std::stringstream after;
    after << std::ifstream(path).rdbuf();
    EXPECT_EQ(after.str(), "3 \n-2 \n");
    std::remove(link.c_str());
    std::remove(path.c_str());

    // A pipe without a reader is not waited on.
    const std::string fifo = path + ".fifo";
    std::remove(fifo.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    dump_hist(values, 2, fifo.c_str());
    std::remove(fifo.c_str());
}

} // namespace
