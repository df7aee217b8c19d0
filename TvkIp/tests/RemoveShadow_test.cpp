// Shadow removal.
#include "RemoveShadow.h"
#include "TestKit.h"
#include "TvkTypes.h"

#include <gtest/gtest.h>

using kdtest::TestImage;

namespace {

// A dark band ten lines deep across the page, falling one line every 60
// pixels; `start` is where it begins on the searched side.
int Level(bool front, int32_t start, int32_t x, int32_t y) {
    const int32_t s = front ? y - start - x / 60 : start + x / 60 - y;
    if (s < 0 || s >= 10) return 220;
    if (s < 3) return 220 - s * 40;
    if (s < 7) return 100;
    return 100 + (s - 6) * 40;
}

TestImage ShadowPage(int32_t w, int32_t h, bool front, int32_t start, int32_t spp = 1,
                     int32_t dpi = 300) {
    TestImage p = spp == 1 ? TestImage::Gray(w, h, 220, dpi) : TestImage::Color(w, h, 0, 220, dpi);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const uint32_t v = static_cast<uint32_t>(Level(front, start, x, y));
            p.set(x, y, spp == 1 ? v : v * 0x010101u);
        }
    return p;
}

tagREMOVE_SHADOW_INFO Request(bool front, int32_t position) {
    tagREMOVE_SHADOW_INFO r{};
    r.ulSize = sizeof(r);
    r.bFront = front ? 1 : 0;
    r.lPosition = position;
    return r;
}

int32_t DarkPixels(const TestImage& p, int32_t x0 = 0, int32_t x1 = -1) {
    if (x1 < 0) x1 = p.width();
    int32_t n = 0;
    for (int32_t y = 0; y < p.height(); ++y)
        for (int32_t x = x0; x < x1; ++x)
            if ((p.get(x, y) & 0xFF) < 200) ++n;
    return n;
}

} // namespace

TEST(RemoveShadow, RepaintsTheBandOnEitherSide) {
    const struct {
        bool front;
        int32_t spp;
        int32_t start, position;
        int32_t dpi;
    } cases[] = {
        {true, 1, 150, 150, 300},  {true, 3, 150, 150, 300}, {false, 1, 250, 250, 300},
        {false, 3, 250, 250, 300}, {true, 1, 150, 150, 0}, // no resolution: 300
    };
    for (const auto& c : cases) {
        TestImage page = ShadowPage(300, 400, c.front, c.start, c.spp, c.dpi);
        ASSERT_GT(DarkPixels(page), 0);
        tagREMOVE_SHADOW_INFO r = Request(c.front, c.position);
        ASSERT_EQ(RemoveShadow(page.info(), &r), 0u);
        EXPECT_EQ(DarkPixels(page), 0) << "front " << c.front << " spp " << c.spp;
    }
}

TEST(RemoveShadow, NothingToDoLeavesThePage) {
    const struct {
        const char* name;
        int32_t position;
    } cases[] = {
        {"far below the found lines", 300},
        {"far above the found lines", 60},
        {"within half a millimetre of the top", 3},
        {"within half a millimetre of the bottom", 397},
    };
    for (const auto& c : cases) {
        TestImage page = ShadowPage(300, 400, true, 150);
        const TestImage before = page;
        tagREMOVE_SHADOW_INFO r = Request(true, c.position);
        ASSERT_EQ(RemoveShadow(page.info(), &r), 0u) << c.name;
        EXPECT_TRUE(page.samePixels(before)) << c.name;
    }
    // A page without any shadow.
    TestImage plain = TestImage::Gray(200, 200, 220);
    const TestImage before = plain;
    tagREMOVE_SHADOW_INFO r = Request(true, 100);
    ASSERT_EQ(RemoveShadow(plain.info(), &r), 0u);
    EXPECT_TRUE(plain.samePixels(before));
}

TEST(RemoveShadow, ColumnsThatBrightenFirstKeepTheirPixels) {
    TestImage page = ShadowPage(300, 400, true, 150);
    // Right half: darker from the top, brightening before the shadow.
    kdtest::FillRect(page, 150, 0, 300, 120, 150);
    // The lines found on the left are carried at most 5 mm (59 pixels)
    // beyond the last shadowed column.
    const int32_t rightBefore = DarkPixels(page, 210, 300);
    tagREMOVE_SHADOW_INFO r = Request(true, 150);
    ASSERT_EQ(RemoveShadow(page.info(), &r), 0u);
    EXPECT_EQ(DarkPixels(page, 0, 140), 0);
    EXPECT_EQ(DarkPixels(page, 210, 300), rightBefore);
}

TEST(RemoveShadow, ShadowsAtThePageEdgesStayInsideTheImage) {
    // Bands touching the first or last lines, narrow pages (no line
    // corrections), tiny resolutions: every row read or written must lie
    // inside the image (checked by the sanitizers).
    const struct {
        bool front;
        int32_t w, h, start, position, dpi;
    } cases[] = {
        {true, 300, 120, 0, 10, 300},     {true, 300, 120, 112, 110, 300},
        {false, 300, 120, 119, 110, 300}, {false, 300, 120, 6, 10, 300},
        {true, 40, 80, 2, 10, 300},       {false, 40, 80, 78, 70, 300},
        {true, 300, 60, 30, 30, 1200},    {false, 70, 50, 25, 25, 25},
        {true, 64, 30, 10, 12, 600},
    };
    for (const auto& c : cases) {
        for (int32_t spp : {1, 3}) {
            TestImage page = ShadowPage(c.w, c.h, c.front, c.start, spp, c.dpi);
            tagREMOVE_SHADOW_INFO r = Request(c.front, c.position);
            r.lShadowLength = 20000; // deeper than the page
            r.lDocumentMargin = 9000;
            EXPECT_EQ(RemoveShadow(page.info(), &r), 0u);
            r = Request(c.front, c.position);
            EXPECT_EQ(RemoveShadow(page.info(), &r), 0u);
        }
    }
    // Bands ending at the last line searched, at several resolutions.
    for (int32_t dpi : {300, 600, 1200})
        for (bool front : {true, false})
            for (int32_t k = 0; k < 16; ++k) {
                const int32_t h = 90;
                const int32_t start = front ? h - 16 + k : 15 - k;
                TestImage page = ShadowPage(120, h, front, start, 1, dpi);
                tagREMOVE_SHADOW_INFO r = Request(front, front ? h - 20 : 20);
                r.lPositionMargin = 20000;
                EXPECT_EQ(RemoveShadow(page.info(), &r), 0u);
            }
}

TEST(RemoveShadow, Arguments) {
    TestImage page = ShadowPage(100, 100, true, 50);
    tagREMOVE_SHADOW_INFO r = Request(true, 50);
    EXPECT_EQ(RemoveShadow(nullptr, &r), kIpErrBadArgument);
    EXPECT_EQ(RemoveShadow(page.info(), nullptr), kIpErrBadArgument);
    r.ulSize = kRemoveShadowInfoSizeMin - 1;
    EXPECT_EQ(RemoveShadow(page.info(), &r), kIpErrBadArgument);
    // A short record reads no position margin: the default 2 mm applies.
    r.ulSize = kRemoveShadowInfoSizeMin;
    EXPECT_EQ(RemoveShadow(page.info(), &r), 0u);
    TestImage deep(100, 100, 16, 1);
    r = Request(true, 50);
    EXPECT_EQ(RemoveShadow(deep.info(), &r), kIpErrBadArgument);
}
