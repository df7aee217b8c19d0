#include "EPubFilter.h"
#include "ImgEdit.h"
#include "Shading.h"
#include "SkewCorrection.h"
#include "TestKit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

using namespace Tvk;
using namespace Tvk::Imvra;

namespace {

CImg Gray(const std::vector<uint8_t>& v, int32_t width) {
    CImg img;
    EXPECT_TRUE(img.createImg(width, static_cast<int32_t>(v.size()) / width, 8, 1, 0, 300, 300));
    for (size_t k = 0; k < v.size(); ++k)
        img.info().lpImage[(k / width) * img.info().lSync + k % width] = v[k];
    return img;
}

TEST(ImgEdit, ConversionsByDepth) {
    CImg gray = Gray({0, 127, 128, 255}, 4);
    const uint8_t* buffer = gray.info().lpImage;
    EXPECT_TRUE(CImgEdit::ToGray(gray));
    EXPECT_EQ(gray.info().lpImage, buffer); // 8 bits: nothing done

    CImg wide;
    ASSERT_TRUE(wide.createImg(4, 1, 16, 1, 0));
    EXPECT_FALSE(CImgEdit::ToGray(wide));
    EXPECT_FALSE(CImgEdit::ToColor(wide));

    ASSERT_TRUE(CImgEdit::ToBinary(gray));
    EXPECT_EQ(gray.info().lBps, 1);
    EXPECT_EQ(gray.info().lpImage[0], 0x30); // 127 clear, 128 set, MSB first
    ASSERT_TRUE(CImgEdit::ToColor(gray));    // binary -> gray -> colour
    EXPECT_EQ(gray.info().lSpp, 3);
    const uint8_t colour[12] = {0, 0, 0, 0, 0, 0, 255, 255, 255, 255, 255, 255};
    EXPECT_EQ(std::memcmp(gray.info().lpImage, colour, 12), 0);
}

TEST(ImgEdit, ColourToGrayWeighsRedGreenBlueInEitherLayout) {
    for (uint32_t order : {0u, 1u}) {
        CImg c;
        ASSERT_TRUE(c.createImg(2, 1, 8, 3, order, 300, 300));
        const uint8_t r[2] = {200, 10}, g[2] = {100, 20}, b[2] = {50, 250};
        for (int x = 0; x < 2; ++x) {
            uint8_t* p = c.info().lpImage;
            if (order == 0) {
                p[3 * x] = r[x], p[3 * x + 1] = g[x], p[3 * x + 2] = b[x];
            } else {
                p[x] = r[x], p[c.info().lSync + x] = g[x], p[2 * c.info().lSync + x] = b[x];
            }
        }
        ASSERT_TRUE(CImgEdit::ToGray(c)) << order;
        EXPECT_EQ(c.info().lpImage[0], (200 * 38 + 100 * 76 + 50 * 14) >> 7) << order;
        EXPECT_EQ(c.info().lpImage[1], (10 * 38 + 20 * 76 + 250 * 14) >> 7) << order;
    }
}

TEST(ImgEdit, FillColorPaintsOutsideTheLimitedRectangle) {
    const tagRGBQUAD colour{1, 2, 3, 9};
    CImg a = Gray(std::vector<uint8_t>(12, 5), 4);
    tagKDRECT big{-5, -5, 50, 50};
    ASSERT_TRUE(CImgEdit::FillColor(a, colour, big));
    EXPECT_EQ(big.left, 0);
    EXPECT_EQ(big.top, 0);
    EXPECT_EQ(big.right, 4);
    EXPECT_EQ(big.bottom, 3);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(a.info().lpImage[k], 5); // nothing painted

    tagKDRECT none{0, 0, 0, 0};
    ASSERT_TRUE(CImgEdit::FillColor(a, colour, none));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(a.info().lpImage[y * a.info().lSync + x], 9);

    CImg b = Gray(std::vector<uint8_t>(16, 5), 4);
    tagKDRECT inner{1, 1, 3, 3};
    ASSERT_TRUE(CImgEdit::FillColor(b, colour, inner));
    const std::vector<uint8_t> want = {9, 9, 9, 9, 9, 5, 5, 9, 9, 5, 5, 9, 9, 9, 9, 9};
    for (int k = 0; k < 16; ++k) EXPECT_EQ(b.info().lpImage[(k / 4) * b.info().lSync + k % 4], want[k]);

    CImg planar;
    ASSERT_TRUE(planar.createImg(2, 2, 8, 3, 1));
    EXPECT_FALSE(CImgEdit::FillColor(planar, colour, none));
}

TEST(ImgEdit, FillColorPaintsWholePixelsInsideTheLine) {
    // Colour lines of 7 bytes hold two whole pixels; the seventh byte is padding.
    CImg img;
    ASSERT_TRUE(img.createImg(2, 3, 7, 8, 3, 0));
    std::memset(img.info().lpImage, 0xEE, img.info().tImageSize);
    tagKDRECT none{0, 0, 0, 0};
    ASSERT_TRUE(CImgEdit::FillColor(img, tagRGBQUAD{30, 20, 10, 0}, none));
    for (int y = 0; y < 3; ++y) {
        const uint8_t* line = img.info().lpImage + y * 7;
        const uint8_t want[7] = {10, 20, 30, 10, 20, 30, 0xEE};
        EXPECT_EQ(std::memcmp(line, want, 7), 0) << "line " << y;
    }
}

TEST(EPubFilter, TakesOnlyBinaryPages) {
    CEPubFilter stage;
    EXPECT_EQ(stage.settings().ulSize, kEPubFilterInfoSize);
    tagEPUBFILTERINFO info{kEPubFilterInfoSize, 2};
    CImg gray = Gray({1, 2, 3, 4}, 4);
    EXPECT_EQ(stage.IPInterface(gray, &info), RTN_PAR);
    tagEPUBFILTERINFO wrong{7, 2};
    EXPECT_EQ(stage.IPInterface(gray, &wrong), RTN_PAR);

    // A binary page is filtered in place.
    kdtest::TestImage page = kdtest::BinaryTextPage(64, 48);
    CImg binary;
    ASSERT_TRUE(binary.createImg(page.width(), page.height(), page.sync(), 1, 1, 0, 300, 300));
    std::memcpy(binary.info().lpImage, page.data(), binary.info().tImageSize);
    const uint8_t* buffer = binary.info().lpImage;
    EXPECT_EQ(stage.IPInterface(binary, &info), RTN_OK);
    EXPECT_EQ(binary.info().lpImage, buffer);
}

// ---------------------------------------------------------------------------
// Deskew

TEST(SkewCorrection, RequestCarriesTheSettingsByName) {
    tagSKEWCORRECTIONSTAGEINFO s{};
    s.LeftTop = {10, 20};
    s.RightTop = {110, 25};
    s.LeftBottom = {5, 220};
    s.RightBottom = {105, 225};
    s.vectorSlant = {1000, 50};
    s.ulPlacement = 1;
    tagROTATEINFO r;
    tagBINFUNCINFO bin;
    tagDETECTTEXTSLANTINFO slant;
    CSkewCorrection::MakeRotateRequest(s, r, bin, slant);
    EXPECT_EQ(r.size, kRotateInfoSize);
    EXPECT_EQ(r.topLeft.x, 10);
    EXPECT_EQ(r.topRight.y, 25);
    EXPECT_EQ(r.bottomLeft.x, 5);
    EXPECT_EQ(r.bottomRight.y, 225);
    EXPECT_EQ(r.keep.x, 1000);
    EXPECT_EQ(r.rightAnchored, 1);
    EXPECT_EQ(r.interpolate, 1);
    EXPECT_EQ(r.last, 1);
    EXPECT_EQ(r.fillMode, 0);
    EXPECT_EQ(r.slantFlags, 0u);
    EXPECT_EQ(r.textSlant, nullptr);

    s.bByContents = 1;
    for (auto [level, used] : {std::pair{0, 1u}, {1, 1u}, {128, 128u}, {255, 254u}}) {
        s.ucContentsLevel = static_cast<uint8_t>(level);
        CSkewCorrection::MakeRotateRequest(s, r, bin, slant);
        EXPECT_EQ(r.slantFlags & kRotateSlantDetect, kRotateSlantDetect);
        ASSERT_EQ(r.textSlant, &slant);
        EXPECT_EQ(slant.size, kDetectTextSlantInfoSize);
        EXPECT_EQ(slant.workingResolution, 150);
        ASSERT_EQ(slant.binInfo, &bin);
        EXPECT_EQ(bin.size, kBinFuncInfoSizeLong);
        EXPECT_EQ(bin.firstSlice, used) << level;
    }
}

// A skewed sheet on a colour page, and the settings for it.
struct SkewedSheet {
    kdtest::SheetSpec sheetSpec;
    CImg page;
    tagSKEWCORRECTIONSTAGEINFO settings{};
    SkewedSheet() {
        sheetSpec.imageWidth = 500;
        sheetSpec.imageHeight = 640;
        sheetSpec.sheetWidth = 360;
        sheetSpec.sheetHeight = 480;
        sheetSpec.centerX = 250;
        sheetSpec.centerY = 320;
        sheetSpec.angleDeg = 5;
        sheetSpec.paper = 200;
        sheetSpec.backing = 250;
        sheetSpec.content = false;
        sheetSpec.spp = 3;
        const kdtest::TestImage t = kdtest::SheetPage(sheetSpec);
        EXPECT_TRUE(page.createImg(t.width(), t.height(), t.sync(), 8, 3, 0, 300, 300));
        std::memcpy(page.info().lpImage, t.data(), page.info().tImageSize);
        const auto c = kdtest::SheetCorners(sheetSpec); // left-top, right-top, right-bottom, left-bottom
        auto pt = [](const kdtest::Corner& k) {
            return Tvk::tagPOINT{static_cast<int32_t>(std::lround(k.x)),
                                 static_cast<int32_t>(std::lround(k.y))};
        };
        settings.LeftTop = pt(c[0]);
        settings.RightTop = pt(c[1]);
        settings.RightBottom = pt(c[2]);
        settings.LeftBottom = pt(c[3]);
        settings.lWidth = 400;
        settings.lHeight = 500;
        settings.bgColor = tagRGBQUAD{10, 20, 30, 40};
    }
    const uint8_t* pixel(int x, int y) const {
        return page.info().lpImage + int64_t{y} * page.info().lSync + 3 * x;
    }
};

bool Near(const uint8_t* p, int r, int g, int b, int tolerance = 4) {
    return std::abs(p[0] - r) <= tolerance && std::abs(p[1] - g) <= tolerance &&
           std::abs(p[2] - b) <= tolerance;
}

TEST(SkewCorrection, SkewedSheetComesOutUprightOnItsBackground) {
    for (uint32_t placement : {0u, 1u}) {
        SkewedSheet s;
        s.settings.ulPlacement = placement;
        CSkewCorrection stage;
        ASSERT_EQ(stage.IPInterface(s.page, &s.settings), RTN_OK);
        ASSERT_EQ(s.page.info().lWidth, 400);
        ASSERT_EQ(s.page.info().lHeight, 500);
        const int paperW = stage.settings().RightTop.x - stage.settings().LeftTop.x;
        EXPECT_NEAR(paperW, 360, 2);
        const int x0 = placement == 1 ? 400 - paperW : 0;
        // The paper is upright: its columns just inside both edges are paper
        // from top to bottom, the columns just outside background.
        for (int y = 3; y < 470; y += 13) {
            EXPECT_TRUE(Near(s.pixel(x0 + 3, y), 200, 200, 200)) << placement << " y " << y;
            EXPECT_TRUE(Near(s.pixel(x0 + paperW - 4, y), 200, 200, 200)) << placement << " y " << y;
        }
        const int outside = placement == 1 ? 2 : 398;
        EXPECT_TRUE(Near(s.pixel(outside, 100), 30, 20, 10, 0)) << placement;
        EXPECT_TRUE(Near(s.pixel(200, 496), 30, 20, 10, 0)) << placement;
        EXPECT_EQ(stage.settings().vectorSlant.y, 1024); // cosine of no further turn
        EXPECT_EQ(stage.settings().vectorSlant.x, 0);
    }
}

TEST(SkewCorrection, PaperSizeAndPlatenBackground) {
    SkewedSheet s;
    s.settings.bPaperSize = 1;
    s.settings.lWidth = 600; // not used
    KD730::CShading shading;
    CImg line;
    ASSERT_TRUE(line.createImg(2, 1, 8, 3, 0));
    const uint8_t platen[6] = {90, 80, 70, 90, 80, 70};
    std::memcpy(line.info().lpImage, platen, 6);
    ASSERT_EQ(shading.makeShadingData(line), RTN_OK);
    s.settings.pShading = &shading;
    CSkewCorrection stage;
    ASSERT_EQ(stage.IPInterface(s.page, &s.settings), RTN_OK);
    EXPECT_NEAR(s.page.info().lWidth, 360, 2);
    EXPECT_NEAR(s.page.info().lHeight, 480, 2);
    EXPECT_TRUE(Near(s.pixel(180, 240), 200, 200, 200));

    // A larger result shows the platen colour around the paper.
    SkewedSheet t;
    t.settings.pShading = &shading;
    ASSERT_EQ(stage.IPInterface(t.page, &t.settings), RTN_OK);
    EXPECT_TRUE(Near(t.pixel(398, 100), 90, 80, 70, 0));
}

TEST(SkewCorrection, RefusesBinaryPagesAndMismatchedPlatens) {
    CSkewCorrection stage;
    SkewedSheet s;
    CImg binary;
    ASSERT_TRUE(binary.createImg(8, 8, 1, 1, 0));
    EXPECT_EQ(stage.IPInterface(binary, &s.settings), RTN_UNSUPPORTED);
    EXPECT_EQ(stage.IPInterface(s.page, nullptr), RTN_PAR);

    // A gray platen for a colour page: refused, the page unchanged.
    KD730::CShading shading;
    CImg line = Gray({50, 50}, 2);
    ASSERT_EQ(shading.makeShadingData(line), RTN_OK);
    s.settings.pShading = &shading;
    const uint8_t* buffer = s.page.info().lpImage;
    EXPECT_EQ(stage.IPInterface(s.page, &s.settings), RTN_PAR);
    EXPECT_EQ(s.page.info().lpImage, buffer);
}

} // namespace
