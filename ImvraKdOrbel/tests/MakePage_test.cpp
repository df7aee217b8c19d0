#include "MakePage.h"

#include "GeometryHelpers.h"

#include <gtest/gtest.h>

#include <vector>

using namespace Tvk;
using namespace Tvk::Imvra;
using geomtest::Bytes;
using geomtest::Px;

namespace {

using Tvk::Imvra::CImg;

int Make(CImg& img, int32_t target) {
    CMakePage stage;
    tagMAKEPAGEINFO info{target};
    return stage.IPInterface(img, &info);
}

// A line-ordered colour page of width 5 and plane length 8; sample
// (x, y, plane) = 100 y + 10 plane + x.
CImg LinePage() {
    CImg img;
    EXPECT_TRUE(img.createImg(5, 3, 8, 8, 3, 1, 300, 300));
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t k = 0; k < 3; ++k)
            for (int32_t x = 0; x < 5; ++x)
                img.info().lpImage[y * 24 + k * 8 + x] = static_cast<uint8_t>(100 * y + 10 * k + x);
    return img;
}

TEST(MakePage, PixelOrderAndBack) {
    CImg img = LinePage();
    const CImg before = img;
    ASSERT_EQ(Make(img, 0), RTN_OK);
    EXPECT_EQ(img.info().ulRGBOrder, 0u);
    EXPECT_EQ(img.info().lSync, 24);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 5; ++x)
            for (int32_t k = 0; k < 3; ++k)
                ASSERT_EQ(img.info().lpImage[y * 24 + 3 * x + k], 100 * y + 10 * k + x);
    ASSERT_EQ(Make(img, 1), RTN_OK);
    EXPECT_EQ(img.info().ulRGBOrder, 1u);
    EXPECT_EQ(img.info().lSync, 8);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 5; ++x) ASSERT_EQ(Px(img, x, y), Px(before, x, y));
}

TEST(MakePage, LineSizeNotAMultipleOfThree) {
    // 7 pixels in lines of 25 bytes: planes of 8 bytes, lines of 24.
    CImg odd;
    ASSERT_TRUE(odd.createImg(7, 4, 25, 8, 3, 0, 300, 300));
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t k = 0; k < 21; ++k) odd.info().lpImage[y * 25 + k] = static_cast<uint8_t>(30 * y + k);
    ASSERT_EQ(Make(odd, 1), RTN_OK);
    EXPECT_EQ(odd.info().lSync, 8);
    EXPECT_EQ(odd.info().tImageSize, 96u);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 7; ++x)
            for (int32_t k = 0; k < 3; ++k)
                ASSERT_EQ(odd.info().lpImage[y * 24 + k * 8 + x], 30 * y + 3 * x + k)
                    << x << "," << y;
}

TEST(MakePage, TargetsAndLayoutsLeftAlone) {
    struct Row {
        const char* name;
        int32_t bps, spp;
        uint32_t order;
        int32_t target;
        int result;
        uint32_t orderAfter;
    } rows[] = {
        {"interleaved to pixel", 8, 3, 0, 0, RTN_OK, 0},
        {"gray to pixel", 8, 1, 1, 0, RTN_OK, 0},
        {"gray to line", 8, 1, 0, 1, RTN_OK, 1},
        {"target 2", 8, 3, 0, 2, RTN_UNSUPPORTED, 0},
        {"target -1", 8, 3, 1, -1, RTN_UNSUPPORTED, 1},
        {"jpeg test on a page", 8, 3, 0, 3, RTN_UNSUPPORTED, 0},
        {"16-bit colour", 16, 3, 1, 0, RTN_UNSUPPORTED, 1},
    };
    for (const Row& r : rows) {
        CImg img;
        ASSERT_TRUE(img.createImg(4, 2, r.bps, r.spp, r.order, 300, 300));
        img.info().lpImage[1] = 7;
        const std::vector<uint8_t> before = Bytes(img);
        EXPECT_EQ(Make(img, r.target), r.result) << r.name;
        EXPECT_EQ(img.info().ulRGBOrder, r.orderAfter) << r.name;
        EXPECT_EQ(Bytes(img), before) << r.name;
    }
    CImg jpeg;
    ASSERT_TRUE(jpeg.createJpg(10, 8, 3, 300, 300, 64));
    EXPECT_EQ(Make(jpeg, 3), RTN_OK);
    EXPECT_EQ(Make(jpeg, 0), RTN_UNSUPPORTED);
    CMakePage stage;
    EXPECT_EQ(stage.setInfo(jpeg, nullptr), RTN_PAR);
    EXPECT_EQ(stage.IPFirst(jpeg), RTN_UNSUPPORTED);
}

// ---------------------------------------------------------------------------
// Automatic size

TEST(AutoSize, CropTable) {
    struct Row {
        const char* name;
        int32_t x, y, w, h;
        int result;
        int32_t x0, y0, x1, y1; // expected crop of the 40 x 30 page
    } rows[] = {
        {"inside", 5, 4, 10, 8, RTN_OK, 5, 4, 15, 12},
        {"left of the page", -10, 0, 20, 30, RTN_OK, 0, 0, 20, 30},
        {"past the right edge", 30, 25, 50, 50, RTN_OK, 30, 25, 40, 30},
        {"beyond the width", 41, 0, 5, 5, RTN_PAR, 0, 0, 0, 0},
        {"beyond the height", 0, 31, 5, 5, RTN_PAR, 0, 0, 0, 0},
    };
    for (const auto& [order, spp] : {std::pair{0u, 3}, std::pair{1u, 3}, std::pair{1u, 1}}) {
        CImg page;
        ASSERT_TRUE(page.createImg(40, 30, 8, spp, order, 300, 200));
        for (size_t k = 0; k < page.info().tImageSize; ++k)
            page.info().lpImage[k] = static_cast<uint8_t>(k * 7);
        for (const Row& r : rows) {
            SCOPED_TRACE(r.name);
            CImg img = page;
            CAutoSize stage;
            tagAUTOSIZEINFO info{kAutoSizeInfoSize, r.x, r.y, r.w, r.h};
            ASSERT_EQ(stage.IPInterface(img, &info), r.result);
            if (r.result != RTN_OK) {
                EXPECT_EQ(Bytes(img), Bytes(page));
                continue;
            }
            ASSERT_EQ(img.info().lWidth, r.x1 - r.x0);
            ASSERT_EQ(img.info().lHeight, r.y1 - r.y0);
            EXPECT_EQ(img.info().ulRGBOrder, order);
            EXPECT_EQ(img.info().lYResolution, 200);
            for (int32_t y = 0; y < r.y1 - r.y0; ++y)
                for (int32_t x = 0; x < r.x1 - r.x0; ++x)
                    ASSERT_EQ(Px(img, x, y), Px(page, x + r.x0, y + r.y0)) << x << "," << y;
        }
    }
    CImg binary;
    ASSERT_TRUE(binary.createImg(16, 4, 1, 1, 1, 300, 300));
    CAutoSize stage;
    tagAUTOSIZEINFO info{kAutoSizeInfoSize, 0, 0, 4, 4};
    EXPECT_EQ(stage.setInfo(binary, &info), RTN_UNSUPPORTED);
    // No record: the rectangle before stays.
    CImg page;
    ASSERT_TRUE(page.createImg(10, 10, 8, 1, 1, 300, 300));
    ASSERT_EQ(stage.setInfo(page, &info), RTN_OK);
    ASSERT_EQ(stage.IPInterface(page, nullptr), RTN_OK);
    EXPECT_EQ(page.info().lWidth, 4);
    const tagAUTOSIZEINFO r = CAutoSize::FromRect(tagKDRECT{3, 4, 13, 24});
    EXPECT_EQ(r.lX, 3);
    EXPECT_EQ(r.lY, 4);
    EXPECT_EQ(r.lWidth, 10);
    EXPECT_EQ(r.lHeight, 20);
}

} // namespace
