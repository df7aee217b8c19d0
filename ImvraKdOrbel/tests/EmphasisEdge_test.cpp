#include "EmphasisEdge.h"

#include "StageImages.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace Tvk;
using namespace Tvk::Imvra;
using stagetest::ImageOfLines;
using stagetest::PixelBytes;

namespace {

tagEMPHASISEDGESTAGEINFO Settings(uint32_t level) {
    tagEMPHASISEDGESTAGEINFO rec{};
    rec.ulRequestSize = kEdgeInfoSizeParam;
    rec.ulLevel = level;
    return rec;
}

// The page through the controller in bands of `band` lines (0: one whole
// image; negative: the page unfiltered); the pixels of the bands handed on.
std::vector<uint8_t> FilterInBands(const kdtest::TestImage& page, uint32_t level, int32_t band,
                                   bool emptyLast = false) {
    tagEMPHASISEDGESTAGEINFO rec = Settings(level);
    CIPController<CEmphasisEdge> c;
    c.setStage(new CEmphasisEdge, IPMODE_BAND_FLUSH_3);
    std::vector<uint8_t> joined;
    if (band < 0) return PixelBytes(ImageOfLines(page, 0, page.height())); // unfiltered
    if (band == 0) {
        CImg img = ImageOfLines(page, 0, page.height());
        EXPECT_EQ(c.IPComplete(img, &rec), RTN_OK);
        return PixelBytes(img);
    }
    int32_t lines = 0;
    for (int32_t y = 0; y < page.height(); y += band) {
        const int32_t n = std::min(band, page.height() - y);
        CImg img = ImageOfLines(page, y, n);
        const bool last = y + n == page.height() && !emptyLast;
        EXPECT_EQ(last ? c.IPLast(img, &rec) : c.IPMiddle(img, &rec), RTN_OK) << y;
        if (!img.isNull()) lines += img.info().lHeight;
        const std::vector<uint8_t> b = PixelBytes(img);
        joined.insert(joined.end(), b.begin(), b.end());
    }
    if (emptyLast) {
        // The chain ends the page with an empty band: the held lines come out.
        CImg img;
        EXPECT_EQ(c.IPLast(img, &rec), RTN_OK);
        if (!img.isNull()) lines += img.info().lHeight;
        const std::vector<uint8_t> b = PixelBytes(img);
        joined.insert(joined.end(), b.begin(), b.end());
    }
    EXPECT_EQ(lines, page.height()) << "band " << band;
    EXPECT_EQ(c.stage()->handle(), 0u);
    return joined;
}

TEST(EmphasisEdge, BandsGiveTheWholePage) {
    struct Case {
        const char* name;
        kdtest::TestImage page;
        uint32_t level;
    } cases[] = {
        {"gray, level 3", kdtest::NoisePage(97, 150, 8, 1, 0, 5), 3},
        {"gray, level 6", kdtest::NoisePage(97, 150, 8, 1, 0, 5), 6},
        {"pixel-order colour, level 3", kdtest::NoisePage(61, 150, 8, 3, 0, 6), 3},
        {"pixel-order colour, level 5", kdtest::NoisePage(61, 150, 8, 3, 0, 6), 5},
    };
    for (const Case& c : cases) {
        const std::vector<uint8_t> whole = FilterInBands(c.page, c.level, 0);
        ASSERT_FALSE(whole.empty()) << c.name;
        EXPECT_NE(whole, FilterInBands(c.page, 0, -1)) << c.name << ": the filter changes the page";
        for (int32_t band : {1, 7, 64})
            EXPECT_EQ(FilterInBands(c.page, c.level, band), whole) << c.name << ", bands of " << band;
        EXPECT_EQ(FilterInBands(c.page, c.level, 50, true), whole) << c.name << ", empty last band";
    }
}

TEST(EmphasisEdge, NumberAndKindOfTheFilter) {
    struct Case {
        const char* name;
        int32_t spp;
        uint32_t order;
        uint32_t number;
        uintptr_t kind;
    } cases[] = {
        {"pixel-order colour", 3, 0, 515, 5},
        {"line-order colour", 3, 1, 3, 3},
        {"gray", 1, 1, 3, 1},
    };
    for (const Case& c : cases) {
        CImg img;
        ASSERT_TRUE(img.createImg(16, 8, 8, c.spp, c.order, 300, 300));
        tagEMPHASISEDGESTAGEINFO rec = Settings(3);
        CEmphasisEdge stage;
        ASSERT_EQ(stage.setInfo(img, &rec), RTN_OK) << c.name;
        EXPECT_NE(stage.handle(), 0u) << c.name;
        EXPECT_EQ(stage.createdNumber(), c.number) << c.name;
        EXPECT_EQ(stage.createdKind(), c.kind) << c.name;
    }
}

TEST(EmphasisEdge, RefusedSettings) {
    CImg img;
    ASSERT_TRUE(img.createImg(16, 8, 8, 1, 1, 300, 300));
    CEmphasisEdge stage;
    tagEMPHASISEDGESTAGEINFO rec = Settings(0);
    EXPECT_EQ(stage.setInfo(img, &rec), RTN_PAR);
    EXPECT_EQ(stage.handle(), 0u);
    EXPECT_EQ(stage.setInfo(img, nullptr), RTN_PAR);
    rec = Settings(3);
    rec.ulRequestSize = 44;
    EXPECT_EQ(stage.setInfo(img, &rec), RTN_PAR);
    rec = Settings(999); // no such filter
    EXPECT_EQ(stage.setInfo(img, &rec), RTN_PAR);
    EXPECT_EQ(stage.handle(), 0u);
}

// A 100-line first band comes back short by the held lines; the last band
// brings them, and the later settings calls do not restart the page.
TEST(EmphasisEdge, HeldLinesTravelToTheLastBand) {
    const kdtest::TestImage page = kdtest::PhotoPage(40, 150, 1, 0, 8);
    tagEMPHASISEDGESTAGEINFO rec = Settings(3);
    CEmphasisEdge stage;
    CImg first = ImageOfLines(page, 0, 100);
    ASSERT_EQ(stage.IPFirstInterface(first, &rec), RTN_OK);
    const int32_t held = stage.heldLines();
    ASSERT_GT(held, 0);
    EXPECT_EQ(first.info().lHeight, 100 - held);
    const uintptr_t handle = stage.handle();
    CImg middle = ImageOfLines(page, 100, 30);
    ASSERT_EQ(stage.IPMiddleInterface(middle, &rec), RTN_OK);
    EXPECT_EQ(stage.handle(), handle);
    EXPECT_EQ(stage.heldLines(), held);
    EXPECT_EQ(middle.info().lHeight, 30);
    CImg last = ImageOfLines(page, 130, 20);
    ASSERT_EQ(stage.IPLastInterface(last, &rec), RTN_OK);
    EXPECT_EQ(last.info().lHeight, 20 + held);
    EXPECT_EQ(last.info().tImageSize, static_cast<uint32_t>(last.info().lSync * (20 + held)));
    EXPECT_EQ(stage.handle(), 0u);
}

TEST(EmphasisEdge, FirstBandHeldEntirelyBecomesEmpty) {
    const kdtest::TestImage page = kdtest::PhotoPage(40, 20, 1, 0, 8);
    tagEMPHASISEDGESTAGEINFO rec = Settings(3);
    CEmphasisEdge stage;
    CImg first = ImageOfLines(page, 0, 1);
    ASSERT_EQ(stage.IPFirstInterface(first, &rec), RTN_OK);
    EXPECT_TRUE(first.isNull());
    EXPECT_EQ(stage.heldLines(), 1);
}

TEST(EmphasisEdge, OneBandThroughTheLastCallIsTheWholePage) {
    const kdtest::TestImage page = kdtest::PhotoPage(40, 30, 1, 0, 8);
    tagEMPHASISEDGESTAGEINFO rec = Settings(3);
    CImg whole = ImageOfLines(page, 0, 30);
    CEmphasisEdge a;
    ASSERT_EQ(a.IPInterface(whole, &rec), RTN_OK);
    CImg last = ImageOfLines(page, 0, 30);
    CEmphasisEdge b;
    ASSERT_EQ(b.setInfo(last, &rec), RTN_OK);
    ASSERT_EQ(b.IPLast(last), RTN_OK);
    EXPECT_EQ(PixelBytes(last), PixelBytes(whole));
}

TEST(EmphasisEdge, LineOrderedColourWithHeldLinesStaysOpen) {
    const kdtest::TestImage page = kdtest::PhotoPage(40, 60, 3, 1, 8);
    tagEMPHASISEDGESTAGEINFO rec = Settings(3);
    CEmphasisEdge stage;
    CImg first = ImageOfLines(page, 0, 30);
    ASSERT_EQ(stage.IPFirstInterface(first, &rec), RTN_OK);
    if (stage.heldLines() == 0) GTEST_SKIP() << "the line-order filter holds no lines";
    CImg last = ImageOfLines(page, 30, 30);
    const std::vector<uint8_t> before = PixelBytes(last);
    EXPECT_EQ(stage.IPLastInterface(last, &rec), RTN_PAR);
    EXPECT_EQ(PixelBytes(last), before);
}

} // namespace
