// Row runs, short-run erasure, content spans and the width detectors.
#include "waku.h"

#include "TestKit.h"
#include "TvkIpError.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using kdtest::FillRect;
using kdtest::TestImage;

namespace {

// A 1-bit row from a picture string: '#' set, '.' clear.
std::vector<uint8_t> Row(const std::string& s) {
    std::vector<uint8_t> b((s.size() + 7) / 8 + 1, 0);
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '#') b[i >> 3] |= static_cast<uint8_t>(0x80 >> (i & 7));
    }
    return b;
}

std::vector<tagBWT> Pairs(const std::string& s, int64_t start = 0) {
    const std::vector<uint8_t> row = Row(std::string(start, '.') + s);
    std::vector<tagBWT> p(s.size() / 2 + 2);
    p.resize(MakeBWLenData(row.data(), start, static_cast<int64_t>(s.size()), p.data()));
    return p;
}

std::string Str(const std::vector<tagBWT>& p) {
    std::string out;
    for (const tagBWT& x : p) out += std::to_string(x.black) + "," + std::to_string(x.white) + " ";
    return out;
}

tagDETWAKUINFO WakuRecord(int32_t minRun = 0) {
    tagDETWAKUINFO r{};
    r.ulSize = kDetWakuInfoSize;
    r.lMinRunA = minRun;
    r.lMinRunB = minRun;
    return r;
}

// Light paper on a dark backing (1 bit: backing set).
TestImage PaperOnBacking(int w, int h, int x0, int y0, int x1, int y1) {
    TestImage img = TestImage::Binary(w, h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            img.set(x, y, (x >= x0 && x < x1 && y >= y0 && y < y1) ? 0 : 1);
        }
    }
    return img;
}

} // namespace

TEST(WakuRuns, PairsFromBytesAndPartialBytes) {
    const struct {
        std::string row;
        int64_t start;
        std::string want;
    } cases[] = {
        {"........", 0, "0,8 "},
        {"########", 0, "8,0 "},
        {"#.......", 0, "1,7 "},
        {".......#", 0, "0,7 1,0 "},
        {"##..###.#...........##", 0, "2,2 3,1 1,11 2,0 "},
        {"##..###.#...........##", 3, "2,2 3,1 1,11 2,0 "}, // unaligned start
        {"...", 5, "0,3 "},                                 // inside one byte
        {"", 0, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(Str(Pairs(c.row, c.start)), c.want) << c.row;
}

TEST(WakuRuns, ErasureRemovesShortContentAndBridgesShortBackground) {
    const struct {
        std::string row;
        int64_t m;
        std::string want;
    } cases[] = {
        // A clear run shorter than m disappears into the background.
        {"###..######", 3, "11,0 "},
        // A short set run inside the content is bridged.
        {"##......#......##", 3, "2,13 2,0 "},
        // The border set runs stay even when short.
        {"#......#", 3, "1,6 1,0 "},
        {"#......#", 0, "1,6 1,0 "},
    };
    for (const auto& c : cases) {
        std::vector<tagBWT> p = Pairs(c.row);
        p.resize(BWTDotErase(p.data(), p.size(), c.m, 1));
        EXPECT_EQ(Str(p), c.want) << c.row;
    }
}

TEST(WakuRuns, ContentSpanOfARow) {
    const struct {
        std::string row;
        int64_t m;
        bool has;
        int64_t start, len;
    } cases[] = {
        {"##########", 0, false, 0, 0}, // background only
        {"####.#####", 0, false, 0, 0}, // one clear pixel: end equals start
        {"###....###", 0, true, 3, 4},
        {"###....###", 5, false, 0, 0}, // content shorter than the minimum
        {"#...#.....", 2, true, 1, 9},  // open content at the right end
        {"..........", 0, true, 0, 10},
    };
    std::vector<tagBWT> work(16);
    for (const auto& c : cases) {
        const std::vector<uint8_t> row = Row(c.row);
        int64_t s = -1, len = -1;
        const bool has = DetectWidthBin(row.data(), 0, static_cast<int64_t>(c.row.size()), c.m, 0,
                                        work.data(), &s, &len);
        EXPECT_EQ(has, c.has) << c.row;
        if (c.has && has) {
            EXPECT_EQ(s, c.start) << c.row;
            EXPECT_EQ(len, c.len) << c.row;
        }
    }
}

TEST(WakuBuffer, OwningArray) {
    CBuffer<int32_t> b(5, 7);
    ASSERT_EQ(b.Count(), 5u);
    for (int i = 0; i < 5; ++i) b[i] = i;
    b.Delete(1, 2);
    ASSERT_EQ(b.Count(), 3u);
    EXPECT_EQ(b[0], 0);
    EXPECT_EQ(b[1], 3);
    EXPECT_EQ(b[2], 4);
    b.Delete(2, 100); // clamped to what is there
    EXPECT_EQ(b.Count(), 2u);
    ASSERT_TRUE(b.Resize(4));
    EXPECT_EQ(b[1], 3);
    ASSERT_TRUE(b.Resize(0));
    EXPECT_EQ(b.Ptr(), nullptr);
    CBuffer<uint8_t> bytes(3, 0x0F);
    bytes.Reverse();
    EXPECT_EQ(bytes[2], 0xF0);

    CBlockLen a(10, 5), c(20, 10);
    a.Marge(c);
    EXPECT_EQ(a.Start(), 10);
    EXPECT_EQ(a.End(), 30);
    EXPECT_EQ(c.Len(), 0);
}

TEST(WakuWidth, ContentBoxOfBinaryAndGrayPages) {
    TestImage img = PaperOnBacking(400, 300, 100, 50, 300, 250);
    // Dark marks on the paper are bridged; a short light gap in the backing
    // is erased and does not widen the box.
    for (int x = 150; x < 160; ++x) img.set(x, 100, 1);
    for (int x = 20; x < 25; ++x) img.set(x, 100, 0);
    tagDETWAKUINFO r = WakuRecord();
    int32_t* p = DetectWidth(img.info(), &r);
    ASSERT_EQ(p, &r.lLeft);
    EXPECT_EQ(r.lLeft, 100);
    EXPECT_EQ(r.lTop, 50);
    EXPECT_EQ(r.lWidth, 200);
    EXPECT_EQ(r.lHeight, 200);

    // The same page in gray: dark backing, light paper.
    TestImage gray = TestImage::Gray(400, 300, 20);
    FillRect(gray, 100, 50, 300, 250, 230);
    tagDETWAKUINFO g = WakuRecord();
    g.lSlice = 128;
    ASSERT_NE(DetectWidth(gray.info(), &g), nullptr);
    EXPECT_EQ(g.lLeft, 100);
    EXPECT_EQ(g.lTop, 50);
    EXPECT_EQ(g.lWidth, 200);
    EXPECT_EQ(g.lHeight, 200);

    // A page without light content: an empty box, not a failure.
    TestImage dark = PaperOnBacking(100, 100, 0, 0, 0, 0);
    tagDETWAKUINFO d = WakuRecord();
    ASSERT_NE(DetectWidth(dark.info(), &d), nullptr);
    EXPECT_EQ(d.lWidth, 0);
    EXPECT_EQ(d.lHeight, 0);
}

TEST(WakuWidth, Failures) {
    TestImage img = TestImage::Binary(10, 10);
    tagDETWAKUINFO r = WakuRecord();
    EXPECT_EQ(DetectWidth(img.info(), nullptr), nullptr);
    EXPECT_EQ(IpGetLastError(), 87u);
    tagDETWAKUINFO tiny{};
    tiny.ulSize = 8; // no room for the result
    EXPECT_EQ(DetectWidth(img.info(), &tiny), nullptr);
    EXPECT_EQ(IpGetLastError(), 87u);
    TestImage deep(10, 10, 16, 1);
    EXPECT_EQ(DetectWidth(deep.info(), &r), nullptr);
}

TEST(WakuWidth, LineExports) {
    // One gray row: dark ends, light middle 20..79.
    TestImage row = TestImage::Gray(100, 1, 10);
    for (int x = 20; x < 80; ++x) row.set(x, 0, 200);
    tagDETWAKUINFO r = WakuRecord();
    ASSERT_EQ(DetectLineWidth(row.info(), &r), &r.lLeft);
    EXPECT_EQ(r.lLeft, 20);
    EXPECT_EQ(r.lWidth, 79);

    // A dark row leaves the caller's words alone.
    TestImage dark = TestImage::Gray(100, 1, 10);
    tagDETWAKUINFO d = WakuRecord();
    d.lLeft = -5;
    d.lWidth = -6;
    ASSERT_NE(DetectLineWidth(dark.info(), &d), nullptr);
    EXPECT_EQ(d.lLeft, -5);
    EXPECT_EQ(d.lWidth, -6);

    TestImage colour = TestImage::Color(10, 1);
    EXPECT_EQ(DetectLineWidth(colour.info(), &r), nullptr);

    // Three sampled rows: white page, dark page.
    TestImage white = TestImage::Gray(120, 60, 255);
    tagDETWAKUINFO w = WakuRecord();
    ASSERT_NE(DetectLinesWidth(white.info(), &w), nullptr);
    EXPECT_EQ(w.lLeft, 0);
    EXPECT_EQ(w.lWidth, 119);
    TestImage black = TestImage::Gray(120, 60, 0);
    EXPECT_EQ(DetectLinesWidth(black.info(), &w), nullptr);
}

namespace {

// Light paper on a dark gray backing.
TestImage GrayPaper(int w, int h, int x0, int y0, int x1, int y1, int dpi = 300) {
    TestImage img = TestImage::Gray(w, h, 20, dpi);
    FillRect(img, x0, y0, x1, y1, 230);
    return img;
}

tagDETOUTLINEINFO OutlineRecord() {
    tagDETOUTLINEINFO r{};
    r.ulSize = kDetOutlineInfoSize;
    return r;
}

std::vector<Tvk::tagPOINT> Points(const Tvk::tagPOINT* p, int32_t n) {
    return std::vector<Tvk::tagPOINT>(p, p + n);
}

} // namespace

namespace Tvk {
// Lets point lists compare in expectations.
static bool operator==(const tagPOINT& a, const tagPOINT& b) {
    return a.x == b.x && a.y == b.y;
}
} // namespace Tvk

TEST(WakuFrame, FrameOfTheReducedPage) {
    TestImage img = GrayPaper(2400, 3000, 480, 480, 1920, 2520);
    // A small light speck in the backing is filtered away.
    FillRect(img, 100, 100, 150, 150, 230);
    tagDETWAKUINFO r = WakuRecord();
    r.lReserved[0] = r.lReserved[1] = 9;
    ASSERT_EQ(DetectWaku(img.info(), &r), &r.lLeft);
    EXPECT_EQ(r.lLeft, 480 + 24);
    EXPECT_EQ(r.lTop, 480 + 24);
    EXPECT_EQ(r.lWidth, 29 * 48);
    EXPECT_EQ(r.lHeight, 42 * 48);
    EXPECT_EQ(r.lReserved[0], 0);
    EXPECT_EQ(r.lReserved[1], 0);
}

TEST(WakuFrame, Failures) {
    TestImage odd = GrayPaper(480, 480, 100, 100, 380, 380, 250);
    tagDETWAKUINFO r = WakuRecord();
    EXPECT_EQ(DetectWaku(odd.info(), &r), nullptr);
    EXPECT_EQ(IpGetLastError(), 2u);

    TestImage bits = TestImage::Binary(480, 480);
    EXPECT_EQ(DetectWaku(bits.info(), &r), nullptr);
    EXPECT_EQ(IpGetLastError(), 0xFFFFFFFFu);

    TestImage dark = TestImage::Gray(960, 960, 20);
    tagDETWAKUINFO d = WakuRecord();
    d.lLeft = d.lTop = d.lWidth = d.lHeight = 5;
    EXPECT_EQ(DetectWaku(dark.info(), &d), nullptr);
    EXPECT_EQ(IpGetLastError(), 0u);
    EXPECT_EQ(d.lLeft + d.lTop + d.lWidth + d.lHeight, 0);
}

TEST(WakuOutline, RectangleOutlinesAndContour) {
    TestImage img = PaperOnBacking(100, 60, 20, 10, 80, 50);
    // A notch in the left side: the hull chain passes over it.
    FillRect(img, 20, 20, 40, 30, 1);
    tagDETOUTLINEINFO r = OutlineRecord();
    ASSERT_EQ(DetectOutlineBin(img.info(), &r), 0);
    EXPECT_EQ(r.bDone, 1);
    const std::vector<Tvk::tagPOINT> wantLeft = {{20, 10}, {20, 49}};
    const std::vector<Tvk::tagPOINT> wantRight = {{79, 10}, {79, 49}};
    EXPECT_EQ(Points(r.pLeft, r.lLeftCount), wantLeft);
    EXPECT_EQ(Points(r.pRight, r.lRightCount), wantRight);
    // An outline is already there.
    EXPECT_EQ(DetectOutlineBin(img.info(), &r), -1);
    EXPECT_EQ(IpGetLastError(), 87u);
    ReleaseOutline(&r);
    EXPECT_EQ(r.bDone, 0);
    EXPECT_EQ(r.pLeft, nullptr);
    EXPECT_EQ(r.lRightCount, 0);

    TestImage plain = PaperOnBacking(100, 60, 20, 10, 80, 50);
    tagDETOUTLINEINFO c = OutlineRecord();
    ASSERT_EQ(DetectContourBin(plain.info(), &c), 0);
    const std::vector<Tvk::tagPOINT> wantContour = {
        {20, 10}, {20, 49}, {79, 49}, {79, 10}, {20, 10}};
    EXPECT_EQ(Points(c.pLeft, c.lLeftCount), wantContour);
    EXPECT_EQ(c.lRightCount, 0);
    ReleaseOutline(&c);
}

TEST(WakuOutline, HullChainOfAConvexShape) {
    // A light disc on a dark backing: the traced left outline is a subset of
    // the row starts, and no row start lies left of the chain.
    TestImage img = TestImage::Binary(200, 200);
    for (int y = 0; y < 200; ++y) {
        for (int x = 0; x < 200; ++x) {
            const int dx = x - 100, dy = y - 100;
            img.set(x, y, dx * dx + dy * dy <= 80 * 80 ? 0 : 1);
        }
    }
    tagDETOUTLINEINFO r = OutlineRecord();
    ASSERT_EQ(DetectOutline(img.info(), &r), 0);
    const std::vector<Tvk::tagPOINT> chain = Points(r.pLeft, r.lLeftCount);
    ASSERT_GE(chain.size(), 3u);
    // Rows 20 and 180 hold a single light pixel: no span there.
    EXPECT_EQ(chain.front().y, 21);
    EXPECT_EQ(chain.back().y, 179);
    for (size_t i = 0; i + 1 < chain.size(); ++i) {
        const Tvk::tagPOINT a = chain[i], b = chain[i + 1];
        ASSERT_LT(a.y, b.y);
        for (int y = a.y; y <= b.y; ++y) {
            int x0 = 0;
            while (img.get(x0, y) != 0) ++x0;
            const double chordX = a.x + double(y - a.y) * (b.x - a.x) / (b.y - a.y);
            EXPECT_GE(x0, chordX - 1.0) << "row " << y;
        }
    }
    ReleaseOutline(&r);
}

TEST(WakuOutline, GrayPagesAndFailures) {
    TestImage gray = GrayPaper(100, 60, 20, 10, 80, 50);
    tagDETOUTLINEINFO r = OutlineRecord();
    r.lSlice = 128;
    ASSERT_EQ(DetectOutline(gray.info(), &r), 0);
    EXPECT_EQ(Points(r.pLeft, r.lLeftCount), (std::vector<Tvk::tagPOINT>{{20, 10}, {20, 49}}));
    ReleaseOutline(&r);
    // The bin exports take 1-bit pages only.
    tagDETOUTLINEINFO b = OutlineRecord();
    EXPECT_EQ(DetectOutlineBin(gray.info(), &b), -1);
    EXPECT_EQ(IpGetLastError(), 87u);
    // No content row.
    TestImage dark = PaperOnBacking(50, 50, 0, 0, 0, 0);
    EXPECT_EQ(DetectOutlineBin(dark.info(), &b), -1);
    EXPECT_EQ(IpGetLastError(), 0u);
    EXPECT_EQ(b.bDone, 0);
    tagDETOUTLINEINFO tiny = OutlineRecord();
    tiny.ulSize = 12;
    EXPECT_EQ(DetectOutline(gray.info(), &tiny), -1);
    EXPECT_EQ(IpGetLastError(), 87u);
}

TEST(WakuOutline, MedianSmoothingDropsASpike) {
    CBuffer<Tvk::tagPOINT> pts(40);
    for (int i = 0; i < 40; ++i) pts[i] = Tvk::tagPOINT{10, i};
    pts[17].x = 60;
    ASSERT_TRUE(MedianOutline(pts, 5));
    ASSERT_GT(pts.Count(), 2u);
    for (size_t i = 0; i < pts.Count(); ++i) {
        EXPECT_EQ(pts[i].x, 10);
        if (i > 0) {
            EXPECT_GT(pts[i].y, pts[i - 1].y);
        }
    }
    // Shorter than the window: unchanged.
    CBuffer<Tvk::tagPOINT> few(3, Tvk::tagPOINT{1, 2});
    ASSERT_TRUE(MedianOutline(few, 5));
    EXPECT_EQ(few.Count(), 3u);
}

TEST(WakuMask, FillsOutsideTheOutline) {
    for (int32_t margin : {0, -2000}) {
        TestImage img = GrayPaper(100, 60, 20, 10, 80, 50);
        const int m = -margin * 300 / 25400; // 0 or 23
        tagDETOUTLINEINFO r = OutlineRecord();
        r.lSlice = 128;
        r.lMaskMargin = margin;
        ASSERT_EQ(ImageMask(img.info(), &r), 0);
        for (int y = 0; y < 60; ++y) {
            for (int x = 0; x < 100; ++x) {
                const bool inside = x > 20 + m && x < 79 - m && y >= 10 + m && y <= 49 - m;
                const uint32_t want = inside ? 230 : 255;
                ASSERT_EQ(img.get(x, y), want) << margin << " at " << x << "," << y;
            }
        }
        ReleaseOutline(&r);
    }
}

TEST(WakuMask, TrapezoidStaysOnThePage) {
    TestImage img = TestImage::Gray(20, 10, 0);
    // Far outside in every direction: clipped, nothing written past the page.
    FillTrapezoid(img.info(), {-100, -50}, {500, -50}, {-300, 400}, {900, 400}, 7);
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 20; ++x) ASSERT_EQ(img.get(x, y), 7u);
    }
    // Top corners on different rows: nothing.
    TestImage other = TestImage::Gray(20, 10, 0);
    FillTrapezoid(other.info(), {0, 0}, {5, 1}, {0, 9}, {5, 9}, 9);
    EXPECT_EQ(other.get(2, 5), 0u);
    // 1 bit: a span inside one byte and across bytes.
    TestImage bits = TestImage::Binary(40, 4);
    FillTrapezoid(bits.info(), {3, 1}, {5, 1}, {3, 2}, {30, 2}, 1);
    EXPECT_EQ(bits.get(2, 1), 0u);
    EXPECT_EQ(bits.get(3, 1), 1u);
    EXPECT_EQ(bits.get(5, 1), 1u);
    EXPECT_EQ(bits.get(6, 1), 0u);
    EXPECT_EQ(bits.get(30, 2), 1u);
    EXPECT_EQ(bits.get(31, 2), 0u);
}
