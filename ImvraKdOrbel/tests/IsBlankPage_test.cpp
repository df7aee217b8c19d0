#include "IsBlankPage.h"

#include "StageImages.h"
#include "TestKit.h"

#include <gtest/gtest.h>

using namespace Tvk::Imvra;
using kdtest::TestImage;

namespace {

struct ThreshCase {
    long slice, bitsPerPixel, dpi, expected;
};

TEST(BlankSkipThresh, ThresholdsOfTheTable) {
    const ThreshCase cases[] = {
        {10, 1, 300, 1484},                        // a table point
        {15, 1, 300, 2203},                        // trunc(1484 + 0.5 x 1438)
        {10, 24, 600, 3623},                       // the 600 dpi row
        {10, 24, 500, 3019},                       // 3623 x 500 / 600
        {100, 8, 400, 160000},                     // last point
        {35, 8, 200, 1945},                        // segment 20..50
        {75, 24, 1000, 346375},                    // segment 50..100 of the 600 dpi row, scaled
        {100, 8, 9600, 6400000},                   // 400000 x 9600 / 600: past 32 bits on the way
        {5, 1, 100, 204},                          // segment 0..10
        {0, 8, 300, 0},          {10, 16, 300, 0}, // no table for 16 bits a pixel
        {10, 24, 0, 0},                            // no resolution: the scaled row gives 0
    };
    for (const auto& c : cases)
        EXPECT_EQ(BlankSkipThresh::GetThresh(c.slice, c.bitsPerPixel, c.dpi), c.expected)
            << "slice " << c.slice << " bits " << c.bitsPerPixel << " dpi " << c.dpi;
}

// The stage run on a whole page: its result code and decision.
struct Decision {
    int rc;
    uint8_t blank;
};

Decision Decide(CImg& page, int32_t slice, uint8_t initial = 7) {
    uint8_t blank = initial;
    tagISBLANKPAGESTAGEINFO info{};
    info.ulSize = kIsBlankPageStageInfoSize;
    info.lSlice = slice;
    info.pbBlankPage = &blank;
    info.ucEdgeLevel[0] = 128;
    info.ucEdgeLevel[1] = 128;
    CIPController<CIsBlankPage> c;
    c.setStage(new CIsBlankPage, IPMODE_WHOLE_PAGE);
    const int rc = c.IPComplete(page, &info);
    return {rc, blank};
}

// A white page of w x h at dpi with a few isolated specks.
TestImage SpeckledPage(int32_t w, int32_t h, int32_t bits, int32_t dpi) {
    TestImage page = bits == 1   ? TestImage::Binary(w, h, dpi)
                     : bits == 8 ? TestImage::Gray(w, h, 245, dpi)
                                 : TestImage::Color(w, h, 0, 245, dpi);
    const uint32_t ink = bits == 1 ? 1 : bits == 8 ? 20 : 0x141414;
    for (int i = 0; i < 12; ++i) {
        const int32_t x = w / 3 + i * w / 40, y = h / 4 + i * h / 30;
        kdtest::FillRect(page, x, y, x + 2, y + 2, ink);
    }
    return page;
}

TestImage Text(int32_t w, int32_t h, int32_t bits, int32_t dpi) {
    TestImage page = bits == 1 ? kdtest::BinaryTextPage(w, h) : kdtest::TextPage(w, h, bits / 8);
    page.info()->lXResolution = dpi;
    page.info()->lYResolution = dpi;
    return page;
}

TEST(CIsBlankPage, SpeckledPagesAreBlankAndTextPagesAreNot) {
    for (int32_t dpi : {200, 300, 600})
        for (int32_t bits : {1, 8, 24}) {
            SCOPED_TRACE(testing::Message() << dpi << " dpi, " << bits << " bits");
            // Three by four inches.
            const int32_t w = 3 * dpi, h = 4 * dpi;
            CImg blank = kdtest::ToCImg(SpeckledPage(w, h, bits, dpi));
            const Decision b = Decide(blank, 10);
            EXPECT_EQ(b.rc, RTN_OK);
            EXPECT_EQ(b.blank, 1);
            CImg text = kdtest::ToCImg(Text(w, h, bits, dpi));
            const Decision t = Decide(text, 10);
            EXPECT_EQ(t.rc, RTN_OK);
            EXPECT_EQ(t.blank, 0);
        }
}

TEST(CIsBlankPage, SliceZeroNeverMarksBlank) {
    CImg page = kdtest::ToCImg(TestImage::Gray(300, 300, 255, 300));
    const Decision d = Decide(page, 0);
    EXPECT_EQ(d.rc, RTN_OK);
    EXPECT_EQ(d.blank, 0);
}

TEST(CIsBlankPage, BorderIsLeftOutUnlessThePageIsTooNarrow) {
    // 300 dpi: a border of 59 pixels. Ink only within it is not counted; on a
    // page narrower than two borders the whole page counts.
    TestImage wide = TestImage::Gray(600, 600, 255, 300);
    for (int32_t y = 0; y < 600; y += 4) kdtest::FillRect(wide, 0, y, 40, y + 2, 0);
    CImg wideImg = kdtest::ToCImg(wide);
    EXPECT_EQ(Decide(wideImg, 1).blank, 1);

    TestImage narrow = TestImage::Gray(100, 600, 255, 300);
    for (int32_t y = 0; y < 600; y += 4) kdtest::FillRect(narrow, 0, y, 40, y + 2, 0);
    CImg narrowImg = kdtest::ToCImg(narrow);
    EXPECT_EQ(Decide(narrowImg, 1).blank, 0);
}

TEST(CIsBlankPage, RefusesBadRecordsAndBands) {
    CImg page = kdtest::ToCImg(TestImage::Gray(64, 64));
    CIsBlankPage stage;
    EXPECT_EQ(stage.setInfo(page, nullptr), RTN_PAR);
    uint8_t blank = 0;
    tagISBLANKPAGESTAGEINFO info{};
    info.ulSize = kIsBlankPageStageInfoSize - 1;
    info.lSlice = 10;
    info.pbBlankPage = &blank;
    EXPECT_EQ(stage.setInfo(page, &info), RTN_PAR);
    info.ulSize = kIsBlankPageStageInfoSize;
    info.pbBlankPage = nullptr;
    EXPECT_EQ(stage.setInfo(page, &info), RTN_PAR);
    info.pbBlankPage = &blank;
    blank = 1;
    EXPECT_EQ(stage.setInfo(page, &info), RTN_OK);
    EXPECT_EQ(blank, 0); // cleared until decided
    EXPECT_EQ(stage.IPFirst(page), RTN_UNSUPPORTED);
    CImg empty;
    EXPECT_EQ(stage.IP(empty), RTN_PAR);
}

} // namespace
