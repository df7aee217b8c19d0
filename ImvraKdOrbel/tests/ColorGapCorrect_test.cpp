#include "ColorGapCorrect.h"

#include "GeometryHelpers.h"
#include "TestKit.h"

#include <gtest/gtest.h>

#include <vector>

using namespace Tvk;
using namespace Tvk::Imvra;
using geomtest::Bytes;
using geomtest::Px;
using geomtest::ToCImg;

namespace {

using Tvk::Imvra::CImg;

// Dark word blocks on white paper with the red sample of every line taken
// one line late, as a sheet-fed sensor does: red fringes above each block,
// cyan ones below.
CImg FringedPage(int32_t w, int32_t h, int32_t dpi = 300) {
    std::vector<uint8_t> ink(static_cast<size_t>(w) * h, 255);
    uint32_t seed = 7;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7FFF; };
    for (int32_t top = 4; top + 8 < h; top += 12) {
        const int32_t height = 5 + static_cast<int32_t>(next() % 4);
        for (int32_t x = 3; x + 3 <= w - 3;) {
            const int32_t len = 3 + static_cast<int32_t>(next() % 9);
            for (int32_t y = top; y < top + height; ++y)
                for (int32_t i = x; i < std::min(x + len, w - 3); ++i)
                    ink[static_cast<size_t>(y) * w + i] = 20;
            x += len + 2 + static_cast<int32_t>(next() % 3);
        }
    }
    CImg img;
    EXPECT_TRUE(img.createImg(w, h, 8, 3, 0, dpi, dpi));
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            uint8_t* p = img.info().lpImage + y * img.info().lSync + 3 * x;
            p[0] = ink[static_cast<size_t>(y > 0 ? y - 1 : 0) * w + x];
            p[1] = p[2] = ink[static_cast<size_t>(y) * w + x];
        }
    return img;
}

// Joins the non-empty bands of a page.
CImg Join(std::vector<CImg>& out) {
    CImg page;
    for (CImg& b : out) {
        if (b.isNull()) continue;
        if (page.isNull())
            page = b;
        else
            EXPECT_TRUE(page.appendImg(b));
    }
    return page;
}

// The page through the stage in the given band heights (0: an empty band),
// the last one a last band.
CImg Banded(const CImg& page, const std::vector<int32_t>& heights, uint32_t setting = 0) {
    CColorGapCorrect stage;
    tagCOLORGAPCORRECTINFO info{kColorGapCorrectInfoSize, setting};
    std::vector<CImg> out;
    int32_t y = 0;
    for (size_t k = 0; k < heights.size(); ++k) {
        CImg band = geomtest::Slice(page, y, heights[k]);
        y += heights[k];
        int r;
        if (k == 0)
            r = stage.IPFirstInterface(band, &info);
        else if (k + 1 < heights.size())
            r = stage.IPMiddleInterface(band, &info);
        else
            r = stage.IPLastInterface(band, &info);
        EXPECT_EQ(r, RTN_OK) << k;
        out.push_back(band);
    }
    EXPECT_FALSE(stage.hasHandle());
    return Join(out);
}

TEST(ColorGapCorrect, BandSplitsGiveTheSamePage) {
    const CImg page = FringedPage(120, 200);
    // The page as one band, then an empty last band.
    const CImg one = Banded(page, {200, 0});
    ASSERT_FALSE(one.isNull());
    EXPECT_EQ(one.info().lHeight, 200);
    EXPECT_NE(Bytes(one), Bytes(page)); // the fringes were corrected
    for (const auto& split : std::vector<std::vector<int32_t>>{
             {50, 50, 50, 50}, {5, 7, 100, 88}, {1, 12, 1, 186}, {64, 64, 64, 8, 0}, {199, 1}}) {
        const CImg banded = Banded(page, split);
        ASSERT_FALSE(banded.isNull());
        EXPECT_EQ(banded.info().lHeight, 200);
        EXPECT_EQ(Bytes(banded), Bytes(one)) << split.size();
    }
}

TEST(ColorGapCorrect, EmptyLastBandFlushesExactlyTheHeldLines) {
    const CImg page = FringedPage(40, 60);
    CColorGapCorrect stage;
    tagCOLORGAPCORRECTINFO info{kColorGapCorrectInfoSize, 0};
    CImg first = geomtest::Slice(page, 0, 8);
    ASSERT_EQ(stage.IPFirstInterface(first, &info), RTN_OK);
    EXPECT_TRUE(first.isNull()); // nothing came out yet: not handed on again later
    CImg middle = geomtest::Slice(page, 8, 52);
    // The settings of a middle band keep the held lines.
    ASSERT_EQ(stage.IPMiddleInterface(middle, &info), RTN_OK);
    EXPECT_EQ(middle.info().lHeight, 60 - kColorGapDelay);
    CImg last;
    ASSERT_EQ(stage.IPLastInterface(last, &info), RTN_OK);
    ASSERT_FALSE(last.isNull());
    EXPECT_EQ(last.info().lHeight, kColorGapDelay);
    EXPECT_EQ(last.info().lWidth, 40);
    EXPECT_FALSE(stage.hasHandle());
    // Nothing held: an empty last band stays empty.
    CImg none;
    ASSERT_EQ(stage.IPLastInterface(none, &info), RTN_OK);
    EXPECT_TRUE(none.isNull());
}

TEST(ColorGapCorrect, RefusalsLeaveTheBand) {
    CColorGapCorrect stage;
    tagCOLORGAPCORRECTINFO info{kColorGapCorrectInfoSize, 0};
    CImg gray;
    ASSERT_TRUE(gray.createImg(8, 4, 8, 1, 0, 300, 300));
    EXPECT_EQ(stage.IPInterface(gray, &info), RTN_UNSUPPORTED);
    CImg planar;
    ASSERT_TRUE(planar.createImg(8, 4, 8, 3, 1, 300, 300));
    EXPECT_EQ(stage.IPFirstInterface(planar, &info), RTN_UNSUPPORTED);
    EXPECT_EQ(planar.info().lHeight, 4);
    info.ulSize = 12;
    EXPECT_EQ(stage.setInfo(planar, &info), RTN_PAR);
    EXPECT_EQ(stage.setInfoMiddle(planar, nullptr), RTN_PAR);
}

TEST(ColorGapCorrect, WholePageTablesByResolution) {
    const std::vector<std::pair<int32_t, std::vector<int32_t>>> rows = {
        {150, {104, 144, 152, 88, 64, 144, 152, 80, 56, 144, 160, 64, 96}},
        {400, {104, 144, 152, 88, 64, 144, 152, 80, 56, 144, 160, 64, 96}},
        {200, {96, 136, 144, 88, 64, 136, 144, 80, 56, 144, 160, 64, 96}},
        {300, {84, 116, 116, 88, 64, 100, 116, 80, 56, 128, 160, 72, 92}},
        {600, {84, 116, 116, 88, 64, 100, 108, 80, 48, 128, 160, 72, 92}},
    };
    for (const auto& [dpi, limits] : rows) {
        const tagGAPPARAM* p = ColorGapParamFor(dpi);
        ASSERT_NE(p, nullptr) << dpi;
        EXPECT_EQ(p->dwGapParamSize, kGapParamSize);
        EXPECT_EQ(std::vector<int32_t>(p->lLimit, p->lLimit + 13), limits) << dpi;
    }
    EXPECT_EQ(ColorGapParamFor(250), nullptr);
    EXPECT_EQ(ColorGapParamFor(0), nullptr);

    // The whole page is corrected in one call with its resolution's table.
    for (const int32_t dpi : {600, 250}) {
        const CImg page = FringedPage(80, 90, dpi);
        CImg img = page;
        CColorGapCorrect stage;
        tagCOLORGAPCORRECTINFO info{kColorGapCorrectInfoSize, 0};
        ASSERT_EQ(stage.IPInterface(img, &info), RTN_OK);
        EXPECT_EQ(img.info().lHeight, 90);
        EXPECT_FALSE(stage.hasHandle());

        CImg ref = page;
        COLORGAPINFO r{};
        r.ulSize = kColorGapInfoSizeLightOrder;
        r.bLastBand = 1;
        r.pGapParam = const_cast<tagGAPPARAM*>(ColorGapParamFor(dpi));
        ASSERT_EQ(ColorGapCorrect(&ref.info(), &ref.info(), &r), 0u);
        EXPECT_EQ(Bytes(img), Bytes(ref)) << dpi;
    }
}

// ---------------------------------------------------------------------------
// Scanning direction

tagDETECT4POINTSINFO CornerRecord() {
    tagDETECT4POINTSINFO c{};
    c.ulSize = kDetect4PointsInfoMinSize;
    c.LeftTop = {1, 2};
    c.RightTop = {3, 4};
    c.LeftBottom = {5, 6};
    c.RightBottom = {7, 8};
    c.rectDoc = {9, 10, 11, 12};
    c.vectorSlant = {13, 14};
    c.Size = {15, 16};
    c.lTopMargin = 17, c.lBottomMargin = 18, c.lLeftMargin = 19, c.lRightMargin = 20;
    return c;
}

// The corner record's words 1 to 20.
std::vector<int32_t> Words(const tagDETECT4POINTSINFO& c) {
    std::vector<int32_t> w(21);
    std::memcpy(w.data(), &c, 21 * sizeof(int32_t));
    return std::vector<int32_t>(w.begin() + 1, w.end());
}

TEST(CorrectUnusualScanningDirection, CodesMoveThePageAndItsCorners) {
    // A 10 x 6 gray page of distinct pixels; expected length 4 + 0 + 1.
    const int32_t W = 10, H = 6;
    struct Row {
        uint32_t code;
        int result;
        int32_t height;
        std::vector<int32_t> words; // corner words 1 to 20 afterwards
        bool shadowSwapped;
    };
    const std::vector<int32_t> same = Words(CornerRecord());
    const int32_t h = 5; // after shortening
    const Row rows[] = {
        {0, RTN_OK, H, same, false},
        {4, RTN_OK, H, same, false},
        {8, RTN_OK, H,
         {W - 3, 4, W - 1, 2, W - 7, 8, W - 5, 6, W - 11, 10, W - 9, 12, 13, 14, 15, 16, 17, 18,
          20, 19},
         false},
        {2, RTN_OK, h,
         {W - 7, h - 8, W - 5, h - 6, W - 3, h - 4, W - 1, h - 2, W - 11, h - 12, W - 9, h - 10,
          13, 14, 15, 16, 18, 17, 20, 19},
         true},
        {6, RTN_UNSUPPORTED, h, same, false},
        {3, RTN_UNSUPPORTED, H, same, false},
        {7, RTN_UNSUPPORTED, H, same, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.code);
        CImg img;
        ASSERT_TRUE(img.createImg(W, H, 8, 1, 0, 300, 300));
        for (int32_t k = 0; k < W * H; ++k) img.info().lpImage[k] = static_cast<uint8_t>(k);
        const CImg before = img;
        tagDETECT4POINTSINFO corners = CornerRecord();
        tagRMVSHADOWINFO shadow{kRmvShadowInfoSize, 100, 31, 32};
        KD730::tagSCANNINGDIRECTIONINFO info{row.code, {4, 0, 1}, &corners, &shadow, 0};
        KD730::CCorrectUnusualScanningDirection stage;
        ASSERT_EQ(stage.IPInterface(img, &info), row.result);
        EXPECT_EQ(img.info().lHeight, row.height);
        EXPECT_EQ(Words(corners), row.words);
        EXPECT_EQ(shadow.lScannerTopMargin, row.shadowSwapped ? 32 : 31);
        EXPECT_EQ(shadow.lLength, 100);
        for (int32_t y = 0; y < img.info().lHeight; ++y)
            for (int32_t x = 0; x < W; ++x) {
                uint32_t expect = Px(before, x, y);
                if (row.code == 8 && row.result == RTN_OK) expect = Px(before, W - 1 - x, y);
                if (row.code == 2) expect = Px(before, W - 1 - x, h - 1 - y);
                ASSERT_EQ(Px(img, x, y), expect) << x << "," << y;
            }
    }
}

TEST(CorrectUnusualScanningDirection, LengthsAndRefusals) {
    struct Row {
        std::vector<int32_t> lines;
        int32_t height;
    } rows[] = {{{10, 5, 5}, 8}, {{0, 0, 0}, 8}, {{-3, 1, 1}, 8}, {{3, 3, 0}, 6}};
    for (const Row& row : rows) {
        CImg img;
        ASSERT_TRUE(img.createImg(4, 8, 8, 3, 0, 300, 300));
        KD730::tagSCANNINGDIRECTIONINFO info{
            2, {row.lines[0], row.lines[1], row.lines[2]}, nullptr, nullptr, 0};
        KD730::CCorrectUnusualScanningDirection stage;
        ASSERT_EQ(stage.IPInterface(img, &info), RTN_OK);
        EXPECT_EQ(img.info().lHeight, row.height);
        EXPECT_EQ(img.info().tImageSize, static_cast<uint32_t>(img.info().lSync * row.height));
    }
    CImg planar;
    ASSERT_TRUE(planar.createImg(4, 2, 8, 3, 1, 300, 300));
    planar.info().lpImage[0] = 9;
    const std::vector<uint8_t> before = Bytes(planar);
    KD730::tagSCANNINGDIRECTIONINFO info{8, {0, 0, 0}, nullptr, nullptr, 0};
    KD730::CCorrectUnusualScanningDirection stage;
    EXPECT_EQ(stage.IPInterface(planar, &info), RTN_UNSUPPORTED);
    EXPECT_EQ(Bytes(planar), before);
    EXPECT_EQ(stage.setInfo(planar, nullptr), RTN_PAR);
    tagDETECT4POINTSINFO shortRecord = CornerRecord();
    shortRecord.ulSize = 83;
    info.pDetect4Points = &shortRecord;
    EXPECT_EQ(stage.setInfo(planar, &info), RTN_PAR);
    tagRMVSHADOWINFO shortShadow{12, 0, 0, 0};
    info.pDetect4Points = nullptr;
    info.pShadow = &shortShadow;
    EXPECT_EQ(stage.setInfo(planar, &info), RTN_PAR);
}

} // namespace
