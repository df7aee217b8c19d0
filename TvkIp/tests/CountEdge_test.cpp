// Edge counting: request checks, frames, depths and an independent count.
#include "CountEdge.h"

#include "CBFunc.h"
#include "TestKit.h"
#include "TvkIpError.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using kdtest::TestImage;

namespace {

tagCOUNT_EDGE_INFO Request(int32_t left, int32_t top, int32_t right, int32_t bottom,
                           int32_t mode = kBinFixed, int32_t level = 128) {
    tagCOUNT_EDGE_INFO r{};
    r.ulSize = kCountEdgeInfoSize;
    r.lBinMode = mode;
    r.lBinParam1 = level;
    r.lBinParam2 = level;
    r.lLeft = left;
    r.lTop = top;
    r.lRight = right;
    r.lBottom = bottom;
    return r;
}

// Independent count: a pixel of the frame against its right neighbour (the
// last pixel of a line against itself) and against the pixel below it (the
// last line has none).
void RefCount(const TestImage& img, int left, int top, int right, int bottom, int* ex, int* ey) {
    const int w = img.width(), h = img.height();
    left = std::clamp(left, 0, w);
    right = std::clamp(right, 0, w);
    top = std::clamp(top, 0, h);
    bottom = std::clamp(bottom, 0, h);
    *ex = *ey = 0;
    for (int y = top; y < bottom; ++y) {
        for (int x = left; x < right; ++x) {
            const uint32_t p = img.get(x, y);
            const uint32_t r = x + 1 < w ? img.get(x + 1, y) : p;
            *ex += p != r;
            if (y + 1 < h) *ey += p != img.get(x, y + 1);
        }
    }
}

} // namespace

TEST(CountEdge, RequestChecks) {
    TestImage img = TestImage::Binary(16, 16);
    tagCOUNT_EDGE_INFO r = Request(0, 0, 16, 16);
    r.ulSize = 36;
    r.lEdgeX = 5;
    EXPECT_EQ(CountEdge(img.info(), &r), -1);
    EXPECT_EQ(IpGetLastError(), 0xFFFFFFFFu);
    EXPECT_EQ(r.lEdgeX, 5);
    EXPECT_EQ(CountEdge(img.info(), nullptr), -1);
    tagCOUNT_EDGE_INFO ok = Request(0, 0, 16, 16);
    img.info()->lpImage = nullptr;
    EXPECT_EQ(CountEdge(img.info(), &ok), -1);
    EXPECT_EQ(CountEdge(nullptr, &ok), -1);
}

TEST(CountEdge, SmallPagesWithKnownCounts) {
    const struct {
        const char* name;
        int w, h;
        std::vector<std::pair<int, int>> black;
        int left, top, right, bottom;
        int32_t wantX, wantY;
    } cases[] = {
        {"zero frame", 20, 10, {{5, 5}}, 0, 0, 0, 0, 0, 0},
        {"one pixel", 20, 10, {{5, 5}}, 0, 0, 20, 10, 2, 2},
        {"frame past the page", 20, 10, {{5, 5}}, -50, -50, 5000, 5000, 2, 2},
        {"inverted frame", 20, 10, {{5, 5}}, 15, 8, 3, 2, 0, 0},
        {"last column",
         13,
         7,
         {{12, 0}, {12, 1}, {12, 2}, {12, 3}, {12, 4}, {12, 5}, {12, 6}},
         0,
         0,
         13,
         7,
         7,
         0},
    };
    for (const auto& c : cases) {
        TestImage img = TestImage::Binary(c.w, c.h);
        for (auto [x, y] : c.black) img.set(x, y, 1);
        const TestImage before = img;
        tagCOUNT_EDGE_INFO r = Request(c.left, c.top, c.right, c.bottom);
        ASSERT_EQ(CountEdge(img.info(), &r), 0) << c.name;
        EXPECT_EQ(r.lEdgeX, c.wantX) << c.name;
        EXPECT_EQ(r.lEdgeY, c.wantY) << c.name;
        EXPECT_EQ(img.bytes(), before.bytes()) << c.name; // the page is not changed
    }
}

TEST(CountEdge, MatchesIndependentCountOnRandomPages) {
    auto& rng = kdtest::Rng(91);
    for (int trial = 0; trial < 40; ++trial) {
        const int w = 1 + static_cast<int>(rng() % 150);
        const int h = 1 + static_cast<int>(rng() % 40);
        TestImage img = TestImage::Binary(w, h);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) img.set(x, y, rng() % 3 == 0);
            // Set padding bits must not count.
            for (int x = w; x < img.sync() * 8; ++x) img.line(y)[x >> 3] |= 0x80 >> (x & 7);
        }
        const int left = static_cast<int>(rng() % (w + 10)) - 5;
        const int top = static_cast<int>(rng() % (h + 6)) - 3;
        const int right = left + static_cast<int>(rng() % (w + 10));
        const int bottom = top + static_cast<int>(rng() % (h + 6));
        int ex = 0, ey = 0;
        RefCount(img, left, top, right, bottom, &ex, &ey);
        tagCOUNT_EDGE_INFO r = Request(left, top, right, bottom);
        ASSERT_EQ(CountEdge(img.info(), &r), 0);
        ASSERT_EQ(r.lEdgeX, ex) << trial;
        ASSERT_EQ(r.lEdgeY, ey) << trial;
    }
}

TEST(CountEdge, GrayAndColourPages) {
    TestImage gray = kdtest::TextPage(200, 120, 1, 1, 7);
    tagCOUNT_EDGE_INFO g = Request(10, 10, 190, 110);
    ASSERT_EQ(CountEdge(gray.info(), &g), 0);
    // The same counts from our own thresholding of the gray page.
    TestImage bits = TestImage::Binary(200, 120);
    for (int y = 0; y < 120; ++y) {
        for (int x = 0; x < 200; ++x) bits.set(x, y, gray.get(x, y) < 128);
    }
    int ex = 0, ey = 0;
    RefCount(bits, 10, 10, 190, 110, &ex, &ey);
    EXPECT_EQ(g.lEdgeX, ex);
    EXPECT_EQ(g.lEdgeY, ey);
    EXPECT_GT(ex, 0);

    // Three equal channels count like the gray page, in both colour layouts.
    for (uint32_t order : {0u, 1u}) {
        TestImage colour = kdtest::GrayToColor(gray, order);
        tagCOUNT_EDGE_INFO c = Request(10, 10, 190, 110);
        ASSERT_EQ(CountEdge(colour.info(), &c), 0) << order;
        EXPECT_EQ(c.lEdgeX, g.lEdgeX) << order;
        EXPECT_EQ(c.lEdgeY, g.lEdgeY) << order;
    }
}

TEST(CountEdge, UnsupportedDepthAndUnknownMode) {
    TestImage deep(10, 10, 16, 1);
    tagCOUNT_EDGE_INFO r = Request(0, 0, 10, 10);
    r.lEdgeX = 11;
    r.lEdgeY = 12;
    EXPECT_EQ(CountEdge(deep.info(), &r), 0);
    EXPECT_EQ(r.lEdgeX, 11);
    EXPECT_EQ(r.lEdgeY, 12);

    // A mode without a binarisation fails rather than reporting no edges.
    TestImage gray = kdtest::TextPage(64, 64, 1, 1, 3);
    tagCOUNT_EDGE_INFO bad = Request(0, 0, 64, 64, 99);
    EXPECT_EQ(CountEdge(gray.info(), &bad), -1);
    EXPECT_EQ(IpGetLastError(), 0xFFFFFFFFu);
}

TEST(CountEdge, PopulationCount) {
    for (uint32_t v : {0u, 1u, 0x80000000u, 0xFFFFFFFFu, 0x12345678u, 0xF0F0F00Fu}) {
        EXPECT_EQ(CountEdgeFunc::numofbit32(v), static_cast<uint32_t>(__builtin_popcount(v)));
    }
}

TEST(CountEdge, EdgeMaskBinarisationAsThePipelineUsesIt) {
    // Mode 10 makes an edge mask; the counts are those of that mask.
    TestImage gray = kdtest::TextPage(256, 192, 1, 1, 11);
    tagCOUNT_EDGE_INFO r = Request(16, 16, 240, 176, kBinExtractEdge, 0);
    ASSERT_EQ(CountEdge(gray.info(), &r), 0);

    TestImage mask = TestImage::Binary(256, 192);
    tagBINFUNCINFO req{};
    req.size = kBinFuncInfoSizeLong;
    req.kind = kBinExtractEdge;
    ASSERT_EQ(BinalizeRectEx(mask.info(), gray.info(), &req), 0);
    ReleaseBinalizeHandle(&req);
    int ex = 0, ey = 0;
    RefCount(mask, 16, 16, 240, 176, &ex, &ey);
    EXPECT_EQ(r.lEdgeX, ex);
    EXPECT_EQ(r.lEdgeY, ey);
    EXPECT_GT(ex + ey, 0);

    // A blank page has no edges.
    TestImage blank = TestImage::Gray(256, 192, 240);
    tagCOUNT_EDGE_INFO b = Request(16, 16, 240, 176, kBinExtractEdge, 0);
    ASSERT_EQ(CountEdge(blank.info(), &b), 0);
    EXPECT_EQ(b.lEdgeX + b.lEdgeY, 0);
}
