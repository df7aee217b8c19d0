// Side-edge detection on a dark backing: line and column edges, limits of the
// line store, refusals and whole sheets at awkward resolutions.
#include "SideEdgeDark.h"

#include "TestKit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

using kdtest::TestImage;

CDetectSlantAndSize_SideEdge::tagOPTION Option(int32_t minRunUm = 2000, int32_t marginUm = 0) {
    CDetectSlantAndSize_SideEdge::tagOPTION o{};
    o.ulSize = CDetectSlantAndSize_SideEdge::kOptionSize;
    o.lLevel = 50;
    o.lMinRunUm = minRunUm;
    o.lMarginUm = marginUm;
    return o;
}

int32_t LeftOf(const CDetectSlantAndSize_SideEdge& d, int32_t y) {
    return d.GetEdgePointCore(true)[y / 1024][y % 1024];
}
int32_t RightOf(const CDetectSlantAndSize_SideEdge& d, int32_t y) {
    return d.GetEdgePointCore(false)[y / 1024][y % 1024];
}

TEST(SideEdge, LineEdges) {
    // 300 dpi: a 2 mm run is 23 pixels. Paper from 40 to 159 of 200.
    struct Case {
        const char* what;
        int32_t spp;
        int32_t from, to; // paper columns [from, to)
        int32_t left, right;
        int32_t marginUm = 0;
    } cases[] = {
        {"gray", 1, 40, 160, 40, 159},
        {"gray paper to the right end", 1, 40, 200, 40, 199},
        {"gray paper narrower than the run", 1, 40, 60, -1, -1},
        {"gray all dark", 1, 0, 0, -1, -1},
        // Colour finds the same first and last paper pixels as gray.
        {"colour", 3, 40, 160, 40, 159},
        {"colour paper to the right end", 3, 40, 200, 40, 199},
        {"colour all dark", 3, 0, 0, -1, -1},
        // A 1 mm side margin (11 pixels) is skipped at both line ends.
        {"gray with side margins", 1, 0, 200, 11, 188, 1000},
        {"colour with side margins", 3, 0, 200, 11, 188, 1000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestImage im = c.spp == 3 ? TestImage::Color(200, 1, 0, 20) : TestImage::Gray(200, 1, 20);
        for (int32_t x = c.from; x < c.to; ++x) im.set(x, 0, c.spp == 3 ? 0x00E6E6E6 : 230);
        CDetectSlantAndSize_SideEdge d;
        const auto o = Option(2000, c.marginUm);
        ASSERT_EQ(d.Initialize(im.info(), &o), 0u);
        ASSERT_EQ(d.Image(im.info()), 0u);
        EXPECT_EQ(LeftOf(d, 0), c.left);
        EXPECT_EQ(RightOf(d, 0), c.right);
    }
}

TEST(SideEdge, ColumnEdgesAreTheFirstAndLastPaperLines) {
    // Paper in lines 5 to 35 (and from line 0): top and bottom are the first
    // and last paper lines, in gray and in colour alike.
    for (const int32_t spp : {1, 3}) {
        for (const int32_t from : {5, 0}) {
            SCOPED_TRACE(testing::Message() << "spp " << spp << " paper from line " << from);
            TestImage im =
                spp == 3 ? TestImage::Color(200, 40, 0, 20) : TestImage::Gray(200, 40, 20);
            for (int32_t y = from; y <= 35; ++y)
                for (int32_t x = 0; x < 200; ++x) im.set(x, y, spp == 3 ? 0x00E6E6E6 : 230);
            CDetectSlantAndSize_SideEdge d;
            const auto o = Option();
            ASSERT_EQ(d.Initialize(im.info(), &o), 0u);
            ASSERT_EQ(d.Image(im.info()), 0u);
            EXPECT_EQ(d.topEdge()[100], from);
            EXPECT_EQ(d.bottomEdge()[100], 35);
        }
    }
}

TEST(SideEdge, DarkLinesLeaveTheColumnRunsAlone) {
    // Paper in lines 5 to 35 with a wholly dark line 20 among them: the dark
    // line has no edges, so the column runs go on counting across it and
    // pass the 23-line minimum (at line 29, the run counted 24 lines, so it
    // is taken to begin at line 6). A line with a bright patch does reset
    // them.
    for (const bool patch : {false, true}) {
        SCOPED_TRACE(patch ? "patch" : "dark");
        TestImage im = TestImage::Gray(200, 36, 230);
        for (int32_t y : {0, 1, 2, 3, 4, 20})
            for (int32_t x = 0; x < 200; ++x) im.set(x, y, 20);
        if (patch)
            for (int32_t x = 0; x < 80; ++x) im.set(x, 20, 230);
        CDetectSlantAndSize_SideEdge d;
        const auto o = Option();
        ASSERT_EQ(d.Initialize(im.info(), &o), 0u);
        ASSERT_EQ(d.Image(im.info()), 0u);
        EXPECT_EQ(LeftOf(d, 20), patch ? 0 : -1);
        EXPECT_EQ(RightOf(d, 20), patch ? 79 : -1);
        EXPECT_EQ(d.topEdge()[100], patch ? -1 : 6);
        EXPECT_EQ(d.bottomEdge()[100], patch ? -1 : 35);
    }
}

TEST(SideEdge, LineStoreLimits) {
    // 64 blocks of 1024 lines: exactly 65536 lines fit.
    TestImage im = TestImage::Gray(4, 1, 230);
    CDetectSlantAndSize_SideEdge d;
    const auto o = Option(0);
    ASSERT_EQ(d.Initialize(im.info(), &o), 0u);
    const uint8_t line[4] = {230, 230, 230, 230};
    for (int32_t y = 0; y < 65536; ++y) ASSERT_EQ(d.Line(line, 4), 0u) << y;
    EXPECT_EQ(d.Line(line, 4), kIpErrBadArgument);
    EXPECT_EQ(d.lines(), 65536);
    d.Release();
    EXPECT_EQ(d.lines(), 0);
}

TEST(SideEdge, Refusals) {
    TestImage gray = TestImage::Gray(50, 10, 230);
    CDetectSlantAndSize_SideEdge d;
    const auto o = Option();
    EXPECT_EQ(d.Initialize(nullptr, &o), kIpErrBadArgument);
    EXPECT_EQ(d.Initialize(gray.info(), nullptr), kIpErrBadArgument);
    struct Case {
        const char* what;
        int32_t bps, spp, width, xdpi, ydpi;
    } cases[] = {
        {"1 bit", 1, 1, 50, 300, 300},         {"16 bits", 16, 1, 50, 300, 300},
        {"no width", 8, 1, 0, 300, 300},       {"no x resolution", 8, 1, 50, 0, 300},
        {"no y resolution", 8, 1, 50, 300, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        tagTVKIMAGEINFO i = *gray.info();
        i.lBps = c.bps, i.lSpp = c.spp, i.lWidth = c.width;
        i.lXResolution = c.xdpi, i.lYResolution = c.ydpi;
        EXPECT_EQ(d.Initialize(&i, &o), kIpErrBadArgument);
    }
    ASSERT_EQ(d.Initialize(gray.info(), &o), 0u);
    EXPECT_EQ(d.Image(nullptr), kIpErrBadArgument);
    tagTVKIMAGEINFO band = gray.band(0, 0);
    EXPECT_EQ(d.Image(&band), 0u); // an empty band
    band = gray.band(0, 5);
    band.lWidth = 60; // lines wider than the page
    EXPECT_EQ(d.Image(&band), kIpErrBadArgument);
    band = gray.band(0, 5);
    band.lSync = 20; // lines shorter than their pixels
    EXPECT_EQ(d.Image(&band), kIpErrBadArgument);
    band = gray.band(0, 5);
    band.lBps = 16;
    EXPECT_EQ(d.Image(&band), kIpErrBadArgument);
    EXPECT_EQ(d.lines(), 0);

    // The kept option: 16 words, the caller's size word restored.
    CDetectSlantAndSize_SideEdge::tagOPTION back{};
    back.ulSize = CDetectSlantAndSize_SideEdge::kOptionSize;
    back.lReserved16[0] = 77;
    ASSERT_EQ(d.GetInformation(&back), 0u);
    EXPECT_EQ(back.ulSize, CDetectSlantAndSize_SideEdge::kOptionSize);
    EXPECT_EQ(back.lLevel, 50);
    EXPECT_EQ(back.lMinRunUm, 2000);
    EXPECT_EQ(back.lReserved16[0], 77); // beyond the kept part
}

// Slant of a sheet as the detector reports it, as a clockwise angle.
double SkewOf(Tvk::tagPOINT v) {
    if (v.x < v.y) return std::atan2(-v.x, v.y) * 180 / M_PI;
    return std::atan2(v.y, v.x) * 180 / M_PI;
}

TEST(SideEdge, SheetsAtOddResolutions) {
    // 75 dpi gives a 2-pixel millimetre (an even median width) and 254 dpi a
    // 10-pixel one; 300 x 600 has unequal resolutions.
    struct Case {
        int32_t xdpi, ydpi;
        double angle;
    } cases[] = {{75, 75, 3}, {75, 75, -2}, {254, 254, 2}, {300, 600, 2}, {300, 600, -3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.xdpi << "x" << c.ydpi << " skew " << c.angle);
        const double k = c.xdpi / 300.0, ky = double(c.ydpi) / c.xdpi;
        kdtest::SheetSpec s;
        s.sheetWidth = 1000 * k;
        s.sheetHeight = 1300 * k;
        s.imageWidth = static_cast<int32_t>(1300 * k);
        s.imageHeight = static_cast<int32_t>(1600 * k);
        s.centerX = s.imageWidth / 2.0;
        s.centerY = s.imageHeight / 2.0;
        s.angleDeg = c.angle;
        s.backing = 20;
        s.xdpi = s.ydpi = c.xdpi;
        TestImage im = kdtest::SheetPage(s);
        if (ky != 1) { // the same sheet at twice the line density
            TestImage tall(im.width(), im.height() * 2, 8, 1, 1, 0, c.xdpi);
            tall.info()->lYResolution = c.ydpi;
            for (int32_t y = 0; y < tall.height(); ++y)
                std::copy(im.line(y / 2), im.line(y / 2) + im.fullSync(), tall.line(y));
            im = tall;
        }
        CDetectSlantAndSize_SideEdge d;
        const auto o = Option();
        ASSERT_EQ(d.Initialize(im.info(), &o), 0u);
        for (int32_t y = 0; y < im.height(); y += 50) {
            const tagTVKIMAGEINFO b = im.band(y, std::min(50, im.height() - y));
            ASSERT_EQ(d.Image(&b), 0u);
        }
        ASSERT_EQ(d.Calc(&o), 0u);
        Tvk::tagRECT r;
        Tvk::tagPOINT slant, p[4];
        d.GetResult(&r, &slant, p);
        // The slant is measured in square units.
        EXPECT_LE(std::fabs(std::tan(SkewOf(slant) * M_PI / 180) - std::tan(c.angle * M_PI / 180)) *
                      s.sheetWidth,
                  2.5)
            << slant.x << "," << slant.y;
        const auto truth =
            kdtest::SheetCorners(s);       // left-top, right-top, right-bottom, left-bottom
        const int order[4] = {3, 2, 1, 0}; // detector corners: lb, rb, rt, lt
        for (int i = 0; i < 4; ++i) {
            const int j = slant.x < slant.y ? (i + 1) % 4 : i; // quarter-turned naming
            EXPECT_NEAR(p[j].x, truth[order[i]].x, 3 + 2 * k) << "corner " << j;
            EXPECT_NEAR(p[j].y, truth[order[i]].y * ky, (3 + 2 * k) * ky) << "corner " << j;
        }
    }
}

TEST(SideEdge, BlankScanGivesTheWholeImage) {
    const TestImage im = TestImage::Gray(300, 200, 20);
    CDetectSlantAndSize_SideEdge d;
    const auto o = Option();
    ASSERT_EQ(d.Initialize(im.info(), &o), 0u);
    ASSERT_EQ(d.Image(im.info()), 0u);
    EXPECT_EQ(d.Calc(&o), 0u);
    Tvk::tagRECT r;
    Tvk::tagPOINT slant, p[4];
    d.GetResult(&r, &slant, p);
    EXPECT_EQ(slant.x, 1);
    EXPECT_EQ(slant.y, 0);
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.bottom, 200);
    EXPECT_EQ(r.right, 300);
    EXPECT_EQ(r.top, 0);
    EXPECT_EQ(p[0].x, 0);
    EXPECT_EQ(p[0].y, 200);
    EXPECT_EQ(p[2].x, 300);
    EXPECT_EQ(p[2].y, 0);
}

} // namespace

TEST(SideEdge, ColorLineJudgesTheGreenSamplesAsGray) {
    // Green is paper from column 40 to 159 and on lines 10 to 49; red and
    // blue are bright everywhere, which the three-sample test would take for
    // paper, so only a green-only judgement gives the gray page's edges.
    TestImage gray = TestImage::Gray(200, 60, 20);
    TestImage colour = TestImage::Color(200, 60, 0, 20);
    for (int32_t y = 0; y < 60; ++y)
        for (int32_t x = 0; x < 200; ++x) {
            const bool paper = x >= 40 && x < 160 && y >= 10 && y < 50;
            const uint32_t g = paper ? 230 : 20;
            gray.set(x, y, g);
            colour.set(x, y, 0xF000F0u | (g << 8));
        }
    const auto o = Option();
    CDetectSlantAndSize_SideEdge byGray, byGreen;
    ASSERT_EQ(byGray.Initialize(gray.info(), &o), 0u);
    ASSERT_EQ(byGray.Image(gray.info()), 0u);
    ASSERT_EQ(byGreen.Initialize(colour.info(), &o), 0u);
    for (int32_t y = 0; y < 60; ++y) ASSERT_EQ(byGreen.ColorLine(colour.line(y), 200), 0u);
    ASSERT_EQ(byGreen.lines(), 60);
    for (int32_t y = 0; y < 60; ++y) {
        EXPECT_EQ(LeftOf(byGreen, y), LeftOf(byGray, y)) << y;
        EXPECT_EQ(RightOf(byGreen, y), RightOf(byGray, y)) << y;
    }
    EXPECT_EQ(LeftOf(byGreen, 20), 40);
    EXPECT_EQ(RightOf(byGreen, 20), 159);
    EXPECT_EQ(byGreen.topEdge(), byGray.topEdge());
    EXPECT_EQ(byGreen.bottomEdge(), byGray.bottomEdge());
    EXPECT_EQ(byGreen.ColorLine(colour.line(0), 199), kIpErrBadArgument);
    EXPECT_EQ(byGreen.ColorLine(nullptr, 200), kIpErrBadArgument);
}

TEST(SideEdge, FourPointsFromTheRectangle) {
    TestImage page = TestImage::Gray(300, 200, 20);
    kdtest::FillRect(page, 50, 30, 250, 170, 230);
    const auto o = Option();
    CDetectSlantAndSize_SideEdge d;
    ASSERT_EQ(d.Initialize(page.info(), &o), 0u);
    ASSERT_EQ(d.Image(page.info()), 0u);
    ASSERT_EQ(d.Calc(&o), 0u);
    d.SetFourPointFromRect();
    Tvk::tagRECT rect{};
    Tvk::tagPOINT corners[4]{};
    ASSERT_EQ(d.GetResult(&rect, nullptr, corners), 0u);
    EXPECT_GT(rect.right, rect.left);
    EXPECT_GT(rect.bottom, rect.top);
    const Tvk::tagPOINT want[4] = {{rect.left, rect.bottom},
                                   {rect.right, rect.bottom},
                                   {rect.right, rect.top},
                                   {rect.left, rect.top}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(corners[i].x, want[i].x) << i;
        EXPECT_EQ(corners[i].y, want[i].y) << i;
    }
}
