// Background detection and repaint.
#include "ColorSaturation.h"
#include "TestKit.h"

#include <gtest/gtest.h>

using kdtest::TestImage;

namespace {

tagCOLOR_SATURATION_INFO Request(int32_t command, int32_t paintMode = kPaintDetectedColor) {
    tagCOLOR_SATURATION_INFO r{};
    r.ulSize = kColorSaturationInfoSize;
    r.lCommand = command;
    r.lReserved = -1;
    r.lEdgeThreshold = 18;
    r.lPaintMode = paintMode;
    return r;
}

// Paper of one level with dark word blocks.
TestImage Page(int32_t w, int32_t h, uint8_t paper, int32_t spp = 1, uint32_t order = 0) {
    return kdtest::TextPage(w, h, spp, order, 3, paper, 20);
}

} // namespace

TEST(ColorSaturation, WhiteOrBlackByTheBackgroundsLuminance) {
    const struct {
        uint8_t paper;
        uint32_t painted;
    } cases[] = {{160, 0}, {161, 255}};
    for (const auto& c : cases) {
        TestImage page = Page(300, 200, c.paper);
        const TestImage before = page;
        tagCOLOR_SATURATION_INFO r = Request(kColorSaturationOneShot, kPaintWhiteOrBlack);
        ASSERT_EQ(ColorSaturation(page.info(), &r), 0);
        EXPECT_EQ(r.pColorSaturation, nullptr);
        EXPECT_EQ(r.ulBackgroundColor, c.paper * 0x010101u);
        int32_t paper = 0, kept = 0;
        for (int32_t y = 0; y < 200; ++y)
            for (int32_t x = 0; x < 300; ++x) {
                if (before.get(x, y) == c.paper) {
                    // Paper next to ink is an edge and stays; the rest is painted.
                    if (page.get(x, y) == c.painted) ++paper;
                } else if (before.get(x, y) < 60) {
                    EXPECT_EQ(page.get(x, y), before.get(x, y)) << x << "," << y;
                    ++kept;
                }
            }
        EXPECT_GT(paper, 300 * 200 / 2) << int(c.paper);
        EXPECT_GT(kept, 0);
    }
}

TEST(ColorSaturation, PaintsInsideTheOutlineOnly) {
    // A colour page, with the outline a tilted quadrilateral.
    for (uint32_t order : {0u, 1u}) {
        TestImage page = TestImage::Color(200, 200, order, 0);
        kdtest::FillRect(page, 0, 0, 200, 200, 0x90A0B0);
        tagCOLOR_SATURATION_INFO r = Request(kColorSaturationCreate, kPaintGivenColor);
        r.ulPaintColor = 0x102030;
        r.ptLeftTop = {20, 40};
        r.ptRightTop = {160, 20};
        r.ptRightBottom = {180, 160};
        r.ptLeftBottom = {40, 180};
        ASSERT_EQ(ColorSaturation(page.info(), &r), 0);
        r.lCommand = kColorSaturationDetect;
        ASSERT_EQ(ColorSaturation(page.info(), &r), 0);
        EXPECT_EQ(r.ulBackgroundColor, 0x90A0B0u);
        r.lCommand = kColorSaturationPaint;
        ASSERT_EQ(ColorSaturation(page.info(), &r), 0);
        r.lCommand = kColorSaturationRelease;
        ASSERT_EQ(ColorSaturation(page.info(), &r), 0);
        EXPECT_EQ(page.get(100, 100), 0x102030u);
        EXPECT_EQ(page.get(140, 25), 0x102030u); // near the top vertex
        EXPECT_EQ(page.get(110, 25), 0x90A0B0u); // left of the upper left edge
        EXPECT_EQ(page.get(5, 5), 0x90A0B0u);
        EXPECT_EQ(page.get(190, 100), 0x90A0B0u);
        EXPECT_EQ(page.get(100, 195), 0x90A0B0u);
        EXPECT_EQ(page.get(25, 25), 0x90A0B0u);
    }
}

TEST(ColorSaturation, NoOutlineMeansTheWholePage) {
    TestImage page = Page(120, 90, 210);
    tagCOLOR_SATURATION_INFO r = Request(kColorSaturationOneShot, kPaintGivenColor);
    r.ulPaintColor = 0xFFFFFF;
    r.ptLeftTop = {50, 50}; // ignored: ptRightBottom is (0, 0)
    r.ptRightTop = {60, 40};
    r.ptLeftBottom = {55, 70};
    ASSERT_EQ(ColorSaturation(page.info(), &r), 0);
    EXPECT_EQ(page.get(0, 0), 255u);
    EXPECT_EQ(page.get(119, 89), 255u);
}

TEST(ColorSaturation, OutlinesBeyondThePageOrOutOfOrderStayInside) {
    // Corners off the page, bottoms at different lines than the outline's
    // lists cover, degenerate edges: the walk must stay within the image.
    const Tvk::tagPOINT corners[][4] = {
        {{-50, -30}, {400, -10}, {-20, 500}, {420, 520}},
        {{10, 5}, {100, 60}, {5, 199}, {120, 70}},   // left bottom far below the bottom vertex
        {{30, 50}, {150, 10}, {20, 60}, {160, 300}}, // right bottom below the page
        {{10, 10}, {100, 10}, {10, 10}, {100, 10}},  // a flat line
        {{100, 150}, {20, 180}, {90, 20}, {10, 5}},  // corners upside down
    };
    for (const auto& c : corners) {
        TestImage page = Page(150, 100, 200, 3);
        tagCOLOR_SATURATION_INFO r = Request(kColorSaturationOneShot);
        r.ptLeftTop = c[0];
        r.ptRightTop = c[1];
        r.ptLeftBottom = c[2];
        r.ptRightBottom = c[3];
        EXPECT_EQ(ColorSaturation(page.info(), &r), 0);
    }
}

TEST(ColorSaturation, RequestAndCommandOrder) {
    TestImage page = Page(64, 64, 200);
    tagCOLOR_SATURATION_INFO r = Request(kColorSaturationCreate);
    EXPECT_EQ(ColorSaturation(page.info(), nullptr), 13);
    r.ulSize = kColorSaturationInfoSize - 1;
    EXPECT_EQ(ColorSaturation(page.info(), &r), 13);
    r.ulSize = kColorSaturationInfoSize;

    r.lCommand = kColorSaturationDetect;
    EXPECT_EQ(ColorSaturation(page.info(), &r), 13); // no worker
    r.lCommand = kColorSaturationRelease;
    EXPECT_EQ(ColorSaturation(page.info(), &r), 0); // release without a worker
    r.lCommand = 77;
    EXPECT_EQ(ColorSaturation(page.info(), &r), 0); // unknown commands do nothing

    r.lCommand = kColorSaturationCreate;
    ASSERT_EQ(ColorSaturation(page.info(), &r), 0);
    EXPECT_EQ(ColorSaturation(page.info(), &r), 13); // a worker exists
    r.lCommand = kColorSaturationOneShot;
    EXPECT_EQ(ColorSaturation(page.info(), &r), 13);
    r.lCommand = kColorSaturationPaint;
    EXPECT_EQ(ColorSaturation(page.info(), &r), 13); // not detected yet
    TestImage wide(8, 8, 16, 1);
    r.lCommand = kColorSaturationDetect;
    EXPECT_EQ(ColorSaturation(wide.info(), &r), 13); // 16 bits per sample
    EXPECT_EQ(ColorSaturation(nullptr, &r), 13);
    r.lCommand = kColorSaturationRelease;
    EXPECT_EQ(ColorSaturation(page.info(), &r), 0);
    EXPECT_EQ(r.pColorSaturation, nullptr);
}
