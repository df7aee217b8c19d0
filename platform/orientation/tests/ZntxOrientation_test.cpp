#include "ZntxOrientation.h"

#include "TextPages.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

ZNTD_IMAGE Gray(const kdtest::GrayPage& page) {
    return {page.pixels.data(), page.width, page.width, page.height, 300, 300,
            ZNTD_KIND_GRAY,     0,          0};
}

// The page turned clockwise by a quarter.
kdtest::GrayPage TurnRight(const kdtest::GrayPage& p) {
    kdtest::GrayPage r;
    r.width = p.height;
    r.height = p.width;
    r.pixels.resize(p.pixels.size());
    for (int32_t y = 0; y < p.height; ++y)
        for (int32_t x = 0; x < p.width; ++x)
            r.pixels[static_cast<size_t>(x) * r.width + (p.height - 1 - y)] =
                p.pixels[static_cast<size_t>(y) * p.width + x];
    return r;
}

// An A4 page at 300 dpi, white, with `block` drawn at its lower right,
// `inset` pixels from the edges.
kdtest::GrayPage OnA4(const kdtest::GrayPage& block, int32_t inset) {
    kdtest::GrayPage page;
    page.width = 2480;
    page.height = 3508;
    page.pixels.assign(static_cast<size_t>(page.width) * page.height, 255);
    const int32_t x0 = page.width - inset - block.width, y0 = page.height - inset - block.height;
    for (int32_t y = 0; y < block.height; ++y)
        std::copy_n(block.pixels.begin() + static_cast<ptrdiff_t>(y) * block.width, block.width,
                    page.pixels.begin() + static_cast<ptrdiff_t>(y0 + y) * page.width + x0);
    return page;
}

// A4 pages at 300 dpi in each quarter turn: small print, which has too few
// pixels a letter once the page is reduced (it was once reported upside
// down; 6 points came out upside down when the detector's class pruning was
// set too narrow), large print decided by the first, reduced look, and a
// short text far from the page's middle.
TEST(ZntxOrientation, PrintSizesAndTextOffCentreInEachTurn) {
    ASSERT_EQ(ZNTX_changepath(KD_TESSDATA), 0);
    ASSERT_EQ(ZNTX_exmodeset(1, 1, 0), 0);
    ASSERT_EQ(ZNTX_exopen(0, 6, 0), 0);
    struct Case {
        const char* name;
        kdtest::GrayPage page;
    };
    const Case cases[] = {
        {"6 point text", kdtest::TextPageGray(2480, 3508, 6)},
        {"8 point text", kdtest::TextPageGray(2480, 3508, 8)},
        {"16 point text", kdtest::TextPageGray(2480, 3508, 16)},
        {"a block at the lower right", OnA4(kdtest::TextPageGray(900, 700, 12), 150)},
    };
    for (const Case& c : cases) {
        ASSERT_FALSE(c.page.pixels.empty()) << c.name;
        kdtest::GrayPage page = c.page;
        for (int quarter = 0; quarter < 4; ++quarter) {
            SCOPED_TRACE(testing::Message() << c.name << ", " << quarter * 90 << " degrees");
            int degrees = -1;
            const ZNTD_IMAGE img = Gray(page);
            EXPECT_EQ(ZNTD_spdetect(&img, &degrees, nullptr), 0);
            EXPECT_EQ(degrees, quarter * 90);
            page = TurnRight(page);
        }
    }
    EXPECT_EQ(ZNTX_exclose(0), 0);
}

TEST(ZntxOrientation, CallsOutOfOrderFail) {
    int degrees = 5;
    uint8_t px = 255;
    const ZNTD_IMAGE one{&px, 1, 1, 1, 300, 300, ZNTD_KIND_GRAY, 0, 0};
    EXPECT_EQ(ZNTD_spdetect(&one, &degrees, nullptr), ZNTD_ERR_NOT_OPEN);
    EXPECT_EQ(ZNTX_exclose(0), ZNTD_ERR_NOT_OPEN);
    EXPECT_EQ(ZNTX_exmodeset(2, 1, 0), ZNTD_ERR_ARGUMENT);
    EXPECT_EQ(ZNTX_exopen(0, 6, 0), ZNTD_ERR_ARGUMENT); // no mode set
    EXPECT_EQ(degrees, 5);
}

TEST(ZntxOrientation, MissingDataFails) {
    ASSERT_EQ(ZNTX_changepath("/nonexistent/tessdata"), 0);
    ASSERT_EQ(ZNTX_exmodeset(1, 1, 0), 0);
    EXPECT_EQ(ZNTX_exopen(0, 6, 0), ZNTD_ERR_NO_DATA);
    ASSERT_EQ(ZNTX_changepath(KD_TESSDATA), 0);
}

// Tesseract's answer pinned: the clockwise angle of the text from upright;
// bad pages are refused and leave the word alone.
TEST(ZntxOrientation, AngleOfTurnedTextAndBadPages) {
    ASSERT_EQ(ZNTX_changepath(KD_TESSDATA), 0);
    ASSERT_EQ(ZNTX_exmodeset(1, 1, 0), 0);
    ASSERT_EQ(ZNTX_exopen(0, 6, 0), 0);
    const kdtest::GrayPage upright = kdtest::TextPageGray(1240, 1752);
    ASSERT_FALSE(upright.pixels.empty());
    int degrees = -1;
    const int32_t work[2] = {0, 0};
    const ZNTD_IMAGE u = Gray(upright);
    EXPECT_EQ(ZNTD_spdetect(&u, &degrees, const_cast<int32_t*>(work)), 0);
    EXPECT_EQ(degrees, 0);
    const kdtest::GrayPage turned = TurnRight(upright);
    const ZNTD_IMAGE t = Gray(turned);
    EXPECT_EQ(ZNTD_spdetect(&t, &degrees, nullptr), 0);
    EXPECT_EQ(degrees, 90);

    degrees = 7;
    ZNTD_IMAGE bad = t;
    bad.width = 0;
    EXPECT_EQ(ZNTD_spdetect(&bad, &degrees, nullptr), ZNTD_ERR_ARGUMENT);
    bad = t;
    bad.height = ZNTD_MAX_SIDE + 1;
    EXPECT_EQ(ZNTD_spdetect(&bad, &degrees, nullptr), ZNTD_ERR_ARGUMENT);
    bad = t;
    bad.kind = 16;
    EXPECT_EQ(ZNTD_spdetect(&bad, &degrees, nullptr), ZNTD_ERR_ARGUMENT);
    bad = t;
    bad.rowBytes = t.width - 1;
    EXPECT_EQ(ZNTD_spdetect(&bad, &degrees, nullptr), ZNTD_ERR_ARGUMENT);
    EXPECT_EQ(ZNTD_spdetect(&t, nullptr, nullptr), ZNTD_ERR_ARGUMENT);
    EXPECT_EQ(degrees, 7);
    EXPECT_EQ(ZNTX_exclose(0), 0);
}

} // namespace
