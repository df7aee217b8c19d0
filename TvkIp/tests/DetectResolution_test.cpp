// Resolution detection: decisions on patterns, bands against one call, the
// command protocol and its misuse.
#include "DetectResolution.h"

#include "TestKit.h"
#include "TvkIpError.h"

#include <gtest/gtest.h>

#include <random>

using kdtest::TestImage;

namespace {

tagDETECT_RESOLUTION_INFO Request(const TestImage& img, uint32_t command = kDetResWhole) {
    tagDETECT_RESOLUTION_INFO r{};
    r.ulSize = kDetectResolutionInfoSize;
    r.ulCommand = command;
    r.lWidth = img.width();
    r.lHeight = img.height();
    r.lXResolution = img.info()->lXResolution;
    r.lYResolution = img.info()->lYResolution;
    return r;
}

// Vertical stripes of the given period (half dark, half light) in a square.
void Stripes(TestImage& img, int period, int x0, int y0, int x1, int y1) {
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) img.set(x, y, (x % period) < period / 2 ? 0 : 255);
    }
}

int32_t WholeResult(TestImage& img, tagDETECT_RESOLUTION_INFO* r) {
    return DetectResolution(img.info(), r);
}

} // namespace

TEST(DetectResolution, FlatPage) {
    TestImage img = TestImage::Gray(800, 600, 200);
    tagDETECT_RESOLUTION_INFO r = Request(img);
    ASSERT_EQ(WholeResult(img, &r), kDetResOk);
    EXPECT_EQ(r.lResult, 150);
    EXPECT_EQ(r.lEdgesH, 0);
    EXPECT_EQ(r.lEdgesV, 0);
    EXPECT_EQ(r.pWorker, nullptr);
}

TEST(DetectResolution, PatternsDecideTheResolution) {
    const struct {
        int dpi, period;
        int32_t want;
    } cases[] = {
        {300, 2, 300},                // one-pixel detail: full resolution
        {300, 4, 200},                // two-pixel detail: two thirds
        {300, 8, 150},                // coarse: half
        {600, 8, 300}, {200, 8, 150}, // half of 200 is raised to 150
    };
    for (const auto& c : cases) {
        TestImage img = TestImage::Gray(600, 400, 128, c.dpi);
        Stripes(img, c.period, 0, 0, 600, 400);
        tagDETECT_RESOLUTION_INFO r = Request(img);
        ASSERT_EQ(WholeResult(img, &r), kDetResOk);
        EXPECT_EQ(r.lResult, c.want) << c.dpi << " dpi, period " << c.period;
        EXPECT_GT(r.lEdgesH, 0);
    }
}

TEST(DetectResolution, LargestUnitDecisionWins) {
    // 1500 pixels at 300 dpi: two units across and down (60 mm = 708 pixels).
    TestImage img = TestImage::Gray(1500, 1500, 230);
    Stripes(img, 2, 100, 100, 300, 300);
    tagDETECT_RESOLUTION_INFO r = Request(img);
    ASSERT_EQ(WholeResult(img, &r), kDetResOk);
    EXPECT_EQ(r.lResult, 300);
}

TEST(DetectResolution, ShortPageKeepsTheFullUnitHeight) {
    // 100 rows at 300 dpi: one unit row 708 rows high, so its noise floor is
    // 708 * 708 / 8192 = 61 steps and these 20 steps stay below it. With a
    // unit of 100 rows the same detail would decide 300.
    TestImage img = TestImage::Gray(708, 100, 0);
    for (int x = 1; x < 10; x += 2) img.set(x, 50, 255);
    tagDETECT_RESOLUTION_INFO r = Request(img);
    ASSERT_EQ(WholeResult(img, &r), kDetResOk);
    EXPECT_EQ(r.lEdgesH + r.lEdgesV, 20);
    EXPECT_EQ(r.lResult, 150);
}

TEST(DetectResolution, BandsGiveTheSameAsOneCall) {
    for (uint32_t seed : {1u, 2u, 3u}) {
        TestImage img = kdtest::TextPage(900, 700, 1, 1, seed);
        Stripes(img, 2 + 2 * static_cast<int>(seed), 50, 50, 300, 200);
        tagDETECT_RESOLUTION_INFO whole = Request(img);
        whole.lMarginLeft = 13;
        whole.lMarginRight = 7;
        whole.lMarginTop = 21;
        whole.lMarginBottom = 5;
        tagDETECT_RESOLUTION_INFO banded = whole;
        ASSERT_EQ(DetectResolution(img.info(), &whole), kDetResOk);

        banded.ulCommand = kDetResCreate;
        ASSERT_EQ(DetectResolution(nullptr, &banded), kDetResOk);
        ASSERT_NE(banded.pWorker, nullptr);
        auto& rng = kdtest::Rng(seed);
        for (int y = 0; y < img.height();) {
            const int n = std::min(1 + static_cast<int>(rng() % 90), img.height() - y);
            tagTVKIMAGEINFO band = img.band(y, n);
            banded.ulCommand = kDetResProcess;
            ASSERT_EQ(DetectResolution(&band, &banded), kDetResOk);
            y += n;
        }
        banded.ulCommand = kDetResResult;
        ASSERT_EQ(DetectResolution(nullptr, &banded), kDetResOk);
        EXPECT_EQ(banded.lResult, whole.lResult) << seed;
        EXPECT_EQ(banded.lEdgesH, whole.lEdgesH) << seed;
        EXPECT_EQ(banded.lEdgesV, whole.lEdgesV) << seed;
        EXPECT_GT(whole.lEdgesV, 0);
        banded.ulCommand = kDetResRelease;
        ASSERT_EQ(DetectResolution(nullptr, &banded), kDetResOk);
        EXPECT_EQ(banded.pWorker, nullptr);
    }
}

TEST(DetectResolution, ColourRowsCountAsTheirLuminance) {
    TestImage gray = kdtest::TextPage(400, 300, 1, 1, 9);
    Stripes(gray, 2, 20, 20, 120, 120);
    for (uint32_t order : {0u, 1u}) {
        TestImage colour = kdtest::GrayToColor(gray, order);
        tagDETECT_RESOLUTION_INFO g = Request(gray);
        tagDETECT_RESOLUTION_INFO c = Request(colour);
        ASSERT_EQ(DetectResolution(gray.info(), &g), kDetResOk);
        ASSERT_EQ(DetectResolution(colour.info(), &c), kDetResOk);
        // (307 + 604 + 113) v >> 10 = v
        EXPECT_EQ(c.lResult, g.lResult);
        EXPECT_EQ(c.lEdgesH, g.lEdgesH);
        EXPECT_EQ(c.lEdgesV, g.lEdgesV);
    }
}

TEST(DetectResolution, CommandMisuse) {
    TestImage img = TestImage::Gray(100, 80, 128);
    EXPECT_EQ(DetectResolution(img.info(), nullptr), kDetResMisuse);

    tagDETECT_RESOLUTION_INFO r = Request(img, kDetResProcess);
    EXPECT_EQ(DetectResolution(img.info(), &r), kDetResMisuse); // no worker
    r.ulCommand = kDetResResult;
    EXPECT_EQ(DetectResolution(img.info(), &r), kDetResMisuse);
    r.ulCommand = kDetResRelease;
    EXPECT_EQ(DetectResolution(img.info(), &r), kDetResOk);
    r.ulCommand = 5;
    EXPECT_EQ(DetectResolution(img.info(), &r), kDetResOk);

    // Bad parameters leave no worker behind.
    const struct {
        const char* name;
        void (*spoil)(tagDETECT_RESOLUTION_INFO&);
    } bad[] = {
        {"zero x resolution", [](tagDETECT_RESOLUTION_INFO& q) { q.lXResolution = 0; }},
        {"zero y resolution", [](tagDETECT_RESOLUTION_INFO& q) { q.lYResolution = 0; }},
        {"no columns left", [](tagDETECT_RESOLUTION_INFO& q) { q.lMarginLeft = 100; }},
        {"no rows left",
         [](tagDETECT_RESOLUTION_INFO& q) {
             q.lMarginTop = 40;
             q.lMarginBottom = 40;
         }},
    };
    for (const auto& b : bad) {
        tagDETECT_RESOLUTION_INFO q = Request(img, kDetResCreate);
        b.spoil(q);
        EXPECT_EQ(DetectResolution(img.info(), &q), kDetResMisuse) << b.name;
        EXPECT_EQ(q.pWorker, nullptr) << b.name;
    }
    // Without margins in the record they are not read.
    tagDETECT_RESOLUTION_INFO shortRec = Request(img);
    shortRec.ulSize = kDetectResolutionInfoSizeNoMargins;
    shortRec.lMarginLeft = 1000;
    EXPECT_EQ(DetectResolution(img.info(), &shortRec), kDetResOk);

    // Protocol: result before all rows, a second create, a missing band, a
    // band narrower than the examined width.
    tagDETECT_RESOLUTION_INFO p = Request(img, kDetResCreate);
    ASSERT_EQ(DetectResolution(nullptr, &p), kDetResOk);
    EXPECT_EQ(DetectResolution(nullptr, &p), kDetResMisuse);
    p.ulCommand = kDetResWhole;
    EXPECT_EQ(DetectResolution(img.info(), &p), kDetResMisuse);
    p.ulCommand = kDetResProcess;
    tagTVKIMAGEINFO half = img.band(0, 40);
    ASSERT_EQ(DetectResolution(&half, &p), kDetResOk);
    p.ulCommand = kDetResResult;
    EXPECT_EQ(DetectResolution(nullptr, &p), kDetResMisuse); // 40 of 80 rows
    EXPECT_NE(p.pWorker, nullptr);
    p.ulCommand = kDetResProcess;
    EXPECT_EQ(DetectResolution(nullptr, &p), kDetResMisuse);
    tagTVKIMAGEINFO narrow = img.band(40, 40);
    narrow.lWidth = 50;
    EXPECT_EQ(DetectResolution(&narrow, &p), kDetResMisuse);
    tagTVKIMAGEINFO rest = img.band(40, 40);
    ASSERT_EQ(DetectResolution(&rest, &p), kDetResOk);
    p.ulCommand = kDetResResult;
    EXPECT_EQ(DetectResolution(nullptr, &p), kDetResOk);
    EXPECT_EQ(DetectResolution(nullptr, &p), kDetResOk); // may be repeated
    EXPECT_EQ(p.lResult, 150);
    p.ulCommand = kDetResRelease;
    EXPECT_EQ(DetectResolution(nullptr, &p), kDetResOk);
    EXPECT_EQ(p.pWorker, nullptr);
}

TEST(DetectResolution, SharpnessComparison) {
    // With k = 1536 the test is b < 4a.
    EXPECT_TRUE(CDetectResolution::CompareEdgeCount(10, 39, 1536));
    EXPECT_FALSE(CDetectResolution::CompareEdgeCount(10, 40, 1536));
    EXPECT_FALSE(CDetectResolution::CompareEdgeCount(0, 0, 1536));
}
