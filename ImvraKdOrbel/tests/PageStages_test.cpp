#include "PageStages.h"

#include "RemoveShadow.h"
#include "StageImages.h"
#include "TestKit.h"

#include <gtest/gtest.h>

using namespace Tvk::Imvra;
using kdtest::RowBytes;
using kdtest::TestImage;

namespace {

TEST(CInverse, InvertsTheLineAndLeavesThePaddingAlone) {
    // 1 bit, width 10: two bytes of each 4-byte line change.
    CImg band;
    ASSERT_TRUE(band.createImg(10, 3, 4, 1, 1, 0, 300, 300));
    for (uint32_t i = 0; i < band.info().tImageSize; ++i)
        band.info().lpImage[i] = static_cast<uint8_t>(0x30 + i);
    CIPController<CInverse> c;
    c.setStage(new CInverse, IPMODE_BAND);
    ASSERT_EQ(c.IPMiddle(band, nullptr), RTN_OK);
    for (int y = 0; y < 3; ++y) {
        const uint8_t b = static_cast<uint8_t>(0x30 + 4 * y);
        EXPECT_EQ(RowBytes(band, y, 4),
                  (std::vector<uint8_t>{static_cast<uint8_t>(~b), static_cast<uint8_t>(~(b + 1)),
                                        static_cast<uint8_t>(b + 2), static_cast<uint8_t>(b + 3)}));
    }
    CImg gray = kdtest::GrayCImg(2, 1, {0, 200});
    ASSERT_EQ(c.IPMiddle(gray, nullptr), RTN_OK);
    EXPECT_EQ(RowBytes(gray, 0, 2), (std::vector<uint8_t>{255, 55}));

    CImg colour = kdtest::ToCImg(TestImage::Color(4, 4));
    EXPECT_EQ(c.IPMiddle(colour, nullptr), RTN_PAR);
}

struct ShowThroughCase {
    uint32_t coefficient, threshold;
    uint8_t r, g, b;
    uint8_t outR, outG, outB;
};

TEST(CEraseBackPage, ShowThroughInBothSampleOrders) {
    const ShowThroughCase cases[] = {
        {7, 0, 255, 255, 255, 255, 255, 255}, // k = 4048, held to 255
        {1, 0, 100, 100, 100, 103, 103, 103}, // k = 3
        {1, 4, 100, 100, 100, 100, 100, 100}, // k below the threshold
        {3, 0, 200, 100, 50, 215, 115, 65},   // k = (1000000 >> 12) x 256 >> 12 = 15
        {4, 0, 0, 255, 255, 0, 255, 255},     // a dark sample: k = 0
    };
    for (uint32_t order : {0u, 1u})
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message()
                         << "order " << order << " coefficient " << c.coefficient << " pixel "
                         << int(c.r) << "," << int(c.g) << "," << int(c.b));
            TestImage img = TestImage::Color(3, 2, order, 0);
            const uint32_t in = c.r | (c.g << 8) | (c.b << 16);
            for (int y = 0; y < 2; ++y)
                for (int x = 0; x < 3; ++x) img.set(x, y, in);
            CImg band = kdtest::ToCImg(img);
            tagERASEBACKPAGEINFO info{kEraseBackPageInfoSize, c.coefficient, c.threshold};
            CEraseBackPage stage;
            ASSERT_EQ(stage.IPMiddleInterface(band, &info), RTN_OK);
            const TestImage out = kdtest::FromCImg(band);
            for (int y = 0; y < 2; ++y)
                for (int x = 0; x < 3; ++x)
                    EXPECT_EQ(out.get(x, y), c.outR | (c.outG << 8) | (c.outB << 16u));
        }
}

TEST(CEraseBackPage, RefusesBadRecordsAndPages) {
    CImg colour = kdtest::ToCImg(TestImage::Color(4, 4));
    CEraseBackPage stage;
    tagERASEBACKPAGEINFO info{kEraseBackPageInfoSize, 0, 0};
    EXPECT_EQ(stage.setInfo(colour, &info), RTN_PAR);
    info.ulCoefficient = 8;
    EXPECT_EQ(stage.setInfo(colour, &info), RTN_PAR);
    info = {kEraseBackPageInfoSize + 4, 1, 0};
    EXPECT_EQ(stage.setInfo(colour, &info), RTN_PAR);
    EXPECT_EQ(stage.setInfo(colour, nullptr), RTN_PAR);
    info = {kEraseBackPageInfoSize, 1, 0};
    CImg gray = kdtest::ToCImg(TestImage::Gray(4, 4));
    EXPECT_EQ(stage.IPInterface(gray, &info), RTN_PAR);
}

// The shadow stage asks the detector for the shadow at the margin (top) or
// at margin + length (bottom), with the detector's defaults otherwise.
TEST(CRmvShadow, RemovesTheShadowWhereTheDetectorFindsIt) {
    for (int32_t top : {1, 0}) {
        SCOPED_TRACE(top ? "top" : "bottom");
        TestImage page = TestImage::Gray(400, 600, 235, 300);
        const int32_t row = top ? 40 : 560;
        kdtest::FillRect(page, 0, row, 400, row + 6, 90);
        CImg expected = kdtest::ToCImg(page);
        tagREMOVE_SHADOW_INFO direct{};
        direct.ulSize = sizeof(direct);
        direct.bFront = top;
        direct.lPosition = row;
        RemoveShadow(expected, &direct);
        ASSERT_FALSE(kdtest::FromCImg(expected).samePixels(page)) << "no shadow to remove";

        CImg img = kdtest::ToCImg(page);
        KD730::tagRMVSHADOWSTAGEINFO info{KD730::kRmvShadowStageInfoSize, 20, top ? 40 : 540, top};
        KD730::CRmvShadow stage;
        ASSERT_EQ(stage.IPInterface(img, &info), RTN_OK);
        EXPECT_TRUE(kdtest::FromCImg(img).samePixels(kdtest::FromCImg(expected)));
    }
}

TEST(CRmvShadow, RefusesBadRecordsAndBands) {
    CImg page = kdtest::ToCImg(TestImage::Gray(8, 8));
    KD730::CRmvShadow stage;
    KD730::tagRMVSHADOWSTAGEINFO info{KD730::kRmvShadowStageInfoSize, 0, 10, 1};
    EXPECT_EQ(stage.setInfo(page, &info), RTN_PAR);
    info.lLength = 1;
    info.ulSize = 12;
    EXPECT_EQ(stage.setInfo(page, &info), RTN_PAR);
    EXPECT_EQ(stage.setInfo(page, nullptr), RTN_PAR);
    EXPECT_EQ(stage.IPFirst(page), RTN_UNSUPPORTED);
}

} // namespace
