// Spread tables and the colour test.
#include "DetectColor.h"
#include "SpreadCountTable.h"
#include "TestKit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <numeric>
#include <vector>

using kdtest::FillRect;
using kdtest::TestImage;

namespace {

std::vector<uint32_t> Spread(int32_t n, int32_t m) {
    std::vector<uint32_t> t(static_cast<size_t>(m));
    MakeSpreadCountTable(t.data(), n, m);
    return t;
}

std::vector<int32_t> Marked(const std::vector<uint32_t>& t) {
    std::vector<int32_t> out;
    for (size_t i = 0; i < t.size(); ++i)
        if (t[i] != 0) out.push_back(static_cast<int32_t>(i));
    return out;
}

tagDETECT_COLOR_INFO Request(const TestImage& page, int32_t command = kDetectColorCreate) {
    tagDETECT_COLOR_INFO r{};
    r.ulSize = kDetectColorInfoSizeFull;
    r.lCommand = command;
    r.lWidth = page.width();
    r.lHeight = page.height();
    r.lXResolution = page.info()->lXResolution;
    r.lYResolution = page.info()->lYResolution;
    return r;
}

// Runs create, whole page and release; returns the code of the whole page.
int32_t RunWhole(TestImage& page, tagDETECT_COLOR_INFO& r) {
    r.lCommand = kDetectColorCreate;
    int32_t rc = IsColorImage(nullptr, &r);
    if (rc != 0) return rc;
    r.lCommand = kDetectColorWholePage;
    rc = IsColorImage(page.info(), &r);
    r.lCommand = kDetectColorRelease;
    EXPECT_EQ(IsColorImage(nullptr, &r), 0);
    EXPECT_EQ(r.pDetectColor, nullptr);
    return rc;
}

int32_t RunBands(TestImage& page, tagDETECT_COLOR_INFO& r, int32_t bandLines) {
    r.lCommand = kDetectColorCreate;
    int32_t rc = IsColorImage(nullptr, &r);
    if (rc != 0) return rc;
    for (int32_t y = 0; y < page.height(); y += bandLines) {
        tagTVKIMAGEINFO band = page.band(y, std::min(bandLines, page.height() - y));
        r.lCommand = y == 0 ? kDetectColorBand : kDetectColorNextBand;
        if ((rc = IsColorImage(&band, &r)) != 0) return rc;
    }
    r.lCommand = kDetectColorEnd;
    rc = IsColorImage(nullptr, &r);
    r.lCommand = kDetectColorRelease;
    IsColorImage(nullptr, &r);
    return rc;
}

} // namespace

TEST(SpreadCountTable, SumsToOutputCount) {
    for (int32_t m = 1; m <= 260; m += 7)
        for (int32_t n = 1; n <= 260; n += 3) {
            const auto t = Spread(n, m);
            EXPECT_EQ(std::accumulate(t.begin(), t.end(), 0u), static_cast<uint32_t>(n))
                << "n=" << n << " m=" << m;
        }
    // Page-sized pairs of the reductions.
    for (auto [n, m] : {std::pair{2480, 4960}, {1653, 4960}, {1240, 4960}, {3508, 7016}}) {
        const auto t = Spread(n, m);
        EXPECT_EQ(std::accumulate(t.begin(), t.end(), 0u), static_cast<uint32_t>(n));
    }
}

TEST(SpreadCountTable, MarksTheDocumentedUnits) {
    EXPECT_EQ(Marked(Spread(3, 10)), (std::vector<int32_t>{3, 7, 9}));
    const auto marks = Marked(Spread(200, 600));
    ASSERT_EQ(marks.size(), 200u);
    EXPECT_EQ(std::vector<int32_t>(marks.begin(), marks.begin() + 4),
              (std::vector<int32_t>{2, 5, 8, 11}));
    EXPECT_EQ(marks[198], 597);
    EXPECT_EQ(marks[199], 599);
    const auto same = Spread(7, 7);
    EXPECT_EQ(same, std::vector<uint32_t>(7, 1u));
    // Enlarging: several outputs complete at one source unit.
    const auto up = Spread(5, 2);
    EXPECT_EQ(up[0] + up[1], 5u);
}

TEST(IsColorImage, VerdictOnPlainPages) {
    const struct {
        const char* name;
        uint32_t rgb;
        uint32_t color;
    } cases[] = {
        {"red", 0x2020E0, 1},
        {"blue", 0xC04020, 1},
        {"neutral gray", 0x808080, 0},
        {"white", 0xFFFFFF, 0},
        // A largest channel of 60 or below never counts, however saturated.
        {"dark saturated red", 0x00003C, 0},
    };
    for (const auto& c : cases) {
        TestImage page = TestImage::Color(600, 600, 0, 255);
        FillRect(page, 0, 0, 600, 600, c.rgb);
        tagDETECT_COLOR_INFO r = Request(page);
        ASSERT_EQ(RunWhole(page, r), 0) << c.name;
        EXPECT_EQ(r.bColor, c.color) << c.name;
    }
}

TEST(IsColorImage, ManySourcePixelsPerOutputPixelAverageExactly) {
    // 30 x 30 = 900 source pixels make one pixel of a 10 dpi copy; 16-bit
    // sums would wrap and turn this saturated red into a dull colour.
    TestImage page = TestImage::Color(600, 600, 0, 255);
    FillRect(page, 0, 0, 600, 600, 0x2828FA);
    tagDETECT_COLOR_INFO r = Request(page);
    r.lReducedXResolution = 10;
    r.lReducedYResolution = 10;
    ASSERT_EQ(RunWhole(page, r), 0);
    EXPECT_EQ(r.bColor, 1u);
    // 20 copy lines, lines 1..19 counted one by one (10 dpi shortens the streak to 1).
    EXPECT_EQ(r.lColorLineCount, 19);
}

TEST(IsColorImage, LowCopyResolutionShortensTheStreak) {
    TestImage page = TestImage::Color(300, 300, 0, 255);
    FillRect(page, 0, 0, 300, 300, 0x2020E0);
    tagDETECT_COLOR_INFO r = Request(page);
    r.lReducedYResolution = 30; // (30 * 5 + 74) / 75 = 2 lines a count
    ASSERT_EQ(RunWhole(page, r), 0);
    EXPECT_EQ(r.lColorLineCount, 29 / 2); // copy lines 1..29
    EXPECT_EQ(r.lReducedXResolution, 75); // zero was filled in and written back
}

TEST(IsColorImage, FringeFilterRemovesEdgeFringes) {
    // A red fringe line two lines above black bars, as misregistration
    // leaves it along dark text edges.
    TestImage page = TestImage::Color(400, 400, 0, 255);
    for (int32_t y = 0; y + 3 < 400; y += 4) {
        FillRect(page, 0, y, 400, y + 1, 0x0000FF);
        FillRect(page, 0, y + 1, 400, y + 3, 0x000000);
    }
    tagDETECT_COLOR_INFO plain = Request(page);
    TestImage copy = page;
    ASSERT_EQ(RunWhole(copy, plain), 0);
    EXPECT_EQ(plain.bColor, 1u);

    for (uint32_t options : {kDetectColorOptFringeFilter,
                             kDetectColorOptFringeFilter | kDetectColorOptComplementary}) {
        TestImage filtered = page;
        tagDETECT_COLOR_INFO r = Request(filtered);
        r.ulOptions = options;
        ASSERT_EQ(RunWhole(filtered, r), 0);
        EXPECT_EQ(r.bColor, 0u) << options;
    }
}

TEST(IsColorImage, BandsGiveTheWholePageVerdict) {
    TestImage page = kdtest::PhotoPage(500, 700, 3, 0, 7);
    for (int32_t y = 100; y < 700; y += 37) FillRect(page, 30, y, 470, y + 3, 0x000000);
    FillRect(page, 50, 300, 200, 500, 0x3050E0);
    for (uint32_t options : {0u, kDetectColorOptFringeFilter,
                             kDetectColorOptFringeFilter | kDetectColorOptComplementary}) {
        TestImage whole = page;
        tagDETECT_COLOR_INFO rw = Request(whole);
        rw.ulOptions = options;
        ASSERT_EQ(RunWhole(whole, rw), 0);
        for (int32_t bandLines : {1, 3, 64, 701}) {
            TestImage banded = page;
            tagDETECT_COLOR_INFO rb = Request(banded);
            rb.ulOptions = options;
            ASSERT_EQ(RunBands(banded, rb, bandLines), 0);
            EXPECT_EQ(rb.lColorLineCount, rw.lColorLineCount)
                << "options " << options << " band " << bandLines;
            EXPECT_EQ(rb.bColor, rw.bColor);
            // The complementary-pair step works on the page's own lines.
            EXPECT_TRUE(banded.samePixels(whole));
        }
    }
}

TEST(IsColorImage, PlanarPagesGiveTheInterleavedVerdict) {
    // Fringes along dark bars, a colour block and a photo background, with
    // padded planes (498 is not a whole number of 32-bit words).
    TestImage page = kdtest::PhotoPage(498, 700, 3, 0, 7);
    for (int32_t y = 100; y < 700; y += 37) {
        FillRect(page, 30, y, 470, y + 1, 0x0000FF);
        FillRect(page, 30, y + 1, 470, y + 4, 0x000000);
    }
    FillRect(page, 50, 300, 200, 500, 0x3050E0);
    TestImage planar(498, 700, 8, 3, 1);
    ASSERT_GT(planar.sync(), 498);
    for (int32_t y = 0; y < 700; ++y)
        for (int32_t x = 0; x < 498; ++x) planar.set(x, y, page.get(x, y));
    for (int32_t yres : {300, 200}) { // below 300 dpi the halftone filter runs too
        page.info()->lYResolution = planar.info()->lYResolution = yres;
        for (uint32_t options : {0u, kDetectColorOptFringeFilter,
                                 kDetectColorOptFringeFilter | kDetectColorOptComplementary}) {
            TestImage interleaved = page;
            tagDETECT_COLOR_INFO ri = Request(interleaved);
            ri.ulOptions = options;
            ASSERT_EQ(RunWhole(interleaved, ri), 0);
            ASSERT_GT(ri.lColorLineCount, 0);
            for (int32_t bandLines : {0, 5, 64}) {
                TestImage planes = planar;
                tagDETECT_COLOR_INFO rp = Request(planes);
                rp.ulOptions = options;
                ASSERT_EQ(bandLines == 0 ? RunWhole(planes, rp) : RunBands(planes, rp, bandLines),
                          0);
                EXPECT_EQ(rp.lColorLineCount, ri.lColorLineCount)
                    << "yres " << yres << " options " << options << " band " << bandLines;
                EXPECT_EQ(rp.bColor, ri.bColor);
            }
        }
    }
}

TEST(IsColorImage, CommandErrors) {
    TestImage page = TestImage::Color(64, 64, 0, 255);
    EXPECT_EQ(IsColorImage(page.info(), nullptr), kDetectColorErrNoRequest);

    tagDETECT_COLOR_INFO r = Request(page);
    r.ulSize = kDetectColorInfoSizeFull + 4;
    EXPECT_EQ(IsColorImage(page.info(), &r), kDetectColorErrBadArgument);

    r = Request(page, kDetectColorRelease);
    r.ulSize = kDetectColorInfoSizeMinimal;
    EXPECT_EQ(IsColorImage(nullptr, &r), 0); // release without a worker

    r = Request(page, kDetectColorBand);
    EXPECT_EQ(IsColorImage(page.info(), &r), kDetectColorErrBadArgument); // no worker

    r = Request(page, 9);
    EXPECT_EQ(IsColorImage(page.info(), &r), kDetectColorErrBadArgument);

    // A page without a resolution cannot be reduced.
    r = Request(page);
    r.lXResolution = 0;
    EXPECT_EQ(IsColorImage(nullptr, &r), kDetectColorErrBadArgument);
    EXPECT_EQ(r.pDetectColor, nullptr);

    // A band after the analysis has no reducer left; the worker is freed.
    r = Request(page);
    ASSERT_EQ(IsColorImage(nullptr, &r), 0);
    r.lCommand = kDetectColorWholePage;
    ASSERT_EQ(IsColorImage(page.info(), &r), 0);
    r.lCommand = kDetectColorBand;
    EXPECT_EQ(IsColorImage(page.info(), &r), kDetectColorErrNoReducer);
    EXPECT_EQ(r.pDetectColor, nullptr);

    // A gray page is refused and frees the worker.
    TestImage gray = TestImage::Gray(64, 64);
    r = Request(page);
    ASSERT_EQ(IsColorImage(nullptr, &r), 0);
    r.lCommand = kDetectColorWholePage;
    EXPECT_EQ(IsColorImage(gray.info(), &r), kDetectColorErrBadArgument);
    EXPECT_EQ(r.pDetectColor, nullptr);
}

TEST(ReviseColorGap, CleansFringesAndKeepsTheBottomLines) {
    TestImage page = TestImage::Color(40, 20, 0, 255);
    FillRect(page, 0, 6, 40, 7, 0x0000FF);   // red fringe ...
    FillRect(page, 0, 8, 40, 10, 0x000000);  // ... two lines above black
    FillRect(page, 0, 18, 40, 20, 0x00FF00); // last lines: never leave the window
    ASSERT_EQ(ReviseColorGap(page.info()), 0);
    EXPECT_EQ(page.get(5, 6), 0u);
    EXPECT_EQ(page.get(5, 0), 0xFFFFFFu);
    EXPECT_EQ(page.get(5, 19), 0x00FF00u);
    EXPECT_EQ(ReviseColorGap(nullptr), kDetectColorErrNoRequest);
}

TEST(IsColorImage, HalftoneFilterDropsHueCyclingScreens) {
    // The hue turns round quickly along the lines and down the columns, as a
    // colour screen beats against the sampling grid.
    auto rainbow = [](int32_t dpi) {
        TestImage page = TestImage::Color(400, 400, 0, 255, dpi);
        for (int32_t y = 0; y < 400; ++y)
            for (int32_t x = 0; x < 400; ++x) {
                const double h = (x + y) * 15.0 / 256.0 * 2 * std::numbers::pi;
                const auto r = static_cast<uint32_t>(128 + 100 * std::cos(h));
                const auto g =
                    static_cast<uint32_t>(128 + 100 * std::cos(h - 2 * std::numbers::pi / 3));
                const auto b =
                    static_cast<uint32_t>(128 + 100 * std::cos(h + 2 * std::numbers::pi / 3));
                page.set(x, y, r | g << 8 | b << 16);
            }
        return page;
    };
    const struct {
        const char* name;
        bool screen;
        int32_t dpi;
        uint32_t options;
        uint32_t color;
    } cases[] = {
        {"screen, filtered", true, 200, kDetectColorOptComplementary, 0},
        {"screen, no filter", true, 200, 0, 1},
        {"screen at 300 dpi: the filter is not due", true, 300, kDetectColorOptComplementary, 1},
        {"plain colour, filtered", false, 200, kDetectColorOptComplementary, 1},
    };
    for (const auto& c : cases) {
        TestImage page = rainbow(c.dpi);
        if (!c.screen) FillRect(page, 0, 0, 400, 400, 0x3030D0);
        tagDETECT_COLOR_INFO r = Request(page);
        r.ulOptions = c.options;
        ASSERT_EQ(RunWhole(page, r), 0) << c.name;
        EXPECT_EQ(r.bColor, c.color) << c.name;
    }
}

TEST(IsColorImage, ExaminedArea) {
    // Colour in the top half only; the copy is 75 dpi, 5 mm is 14 copy lines.
    TestImage page = TestImage::Color(300, 1200, 0, 255);
    FillRect(page, 0, 0, 300, 600, 0x2020E0);
    const struct {
        const char* name;
        uint32_t size, options;
        int32_t offset, length;
        int32_t count;
    } cases[] = {
        {"whole page", kDetectColorInfoSizeFull, 0, 0, 0, 29},
        {"top half", kDetectColorInfoSizeFull, kDetectColorOptArea, 0, 600, (150 - 14 - 14) / 5},
        {"bottom half", kDetectColorInfoSizeFull, kDetectColorOptArea, 600, 600, 0},
        {"beyond the copy: from line 1", kDetectColorInfoSizeFull, kDetectColorOptArea, 5000, 600,
         29},
        {"area needs the option", kDetectColorInfoSizeFull, 0, 600, 600, 29},
        {"area needs the full record", kDetectColorInfoSizeOptions, kDetectColorOptArea, 600, 600,
         29},
    };
    for (const auto& c : cases) {
        TestImage copy = page;
        tagDETECT_COLOR_INFO r = Request(copy);
        r.ulSize = c.size;
        r.ulOptions = c.options;
        r.lAreaOffset = c.offset;
        r.lAreaLength = c.length;
        ASSERT_EQ(RunWhole(copy, r), 0) << c.name;
        EXPECT_EQ(r.lColorLineCount, c.count) << c.name;
    }
}
