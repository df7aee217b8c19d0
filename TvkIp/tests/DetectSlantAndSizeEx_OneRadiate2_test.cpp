// Modes 8, 10 and 11 of the slant-and-size interface: the one-radiate layers
// over the older size detectors and the detector on traced outlines.
#include "DarkSheetSpec.h"
#include "DetectSlantAndSizeEx_FromFrame.h"
#include "DetectSlantAndSizeEx_OneRadiate2.h"
#include "ImgDetect.h"
#include "TestKit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

using kdtest::SheetSpec;
using kdtest::TestImage;

namespace {

// A sheet on a dark backing; every line is marked so that no band counts as flat.
TestImage DarkSheetPage(double angle, SheetSpec* used = nullptr) {
    const SheetSpec s = DarkSheetSpec(angle);
    if (used != nullptr) *used = s;
    TestImage im = kdtest::SheetPage(s);
    for (int32_t y = 0; y < im.height(); ++y) im.set(0, y, 21);
    return im;
}

tagDETECTSLANTSIZEEX_ONERADIATE ModeEight() {
    tagDETECTSLANTSIZEEX_ONERADIATE r{};
    r.basic.cbsize = kOneRadiateSize;
    r.basic.dwMode = kDssModeOneRadiate;
    r.basic.dwResultFlag = kDssResultRect | kDssResultCorners | kDssResultSlant;
    for (int32_t& w : r.lParam) w = -1;
    return r;
}

uint32_t Command(const tagTVKIMAGEINFO* image, tagDETECTSLANTSIZEEXBASIC* r, uint32_t command) {
    r->dwCommand = command;
    return DetectSlantAndSizeEx(image, r);
}

// Init, bands of 100 lines, result.
void RunBands(TestImage& im, tagDETECTSLANTSIZEEXBASIC* r, TestImage* back = nullptr,
              const tagTVKIMAGEINFO** backSlot = nullptr) {
    ASSERT_EQ(Command(im.info(), r, kDssCmdInit), 0u);
    tagTVKIMAGEINFO backBand{};
    for (int32_t y = 0; y < im.height(); y += 100) {
        const int32_t n = std::min(100, im.height() - y);
        tagTVKIMAGEINFO band = im.band(y, n);
        if (back != nullptr) {
            backBand = back->band(y, n);
            *backSlot = &backBand;
        }
        const uint32_t c =
            y == 0 ? kDssCmdFirst : (y + n >= im.height() ? kDssCmdLast : kDssCmdMid);
        ASSERT_EQ(Command(&band, r, c), 0u) << y;
    }
    ASSERT_EQ(Command(im.info(), r, kDssCmdResult), 0u);
}

void ExpectSame(const Tvk::tagPOINT& a, const Tvk::tagPOINT& b, const char* what) {
    EXPECT_EQ(a.x, b.x) << what;
    EXPECT_EQ(a.y, b.y) << what;
}

} // namespace

// Mode 8 gives what the single-image entry gives for the same ten words.
TEST(OneRadiate, ModeEightReportsTheSingleImageResult) {
    for (const double angle : {0.0, 2.5, -1.5}) {
        SCOPED_TRACE(angle);
        TestImage im = DarkSheetPage(angle);
        auto r = ModeEight();
        r.paperSize = {0, 0};
        RunBands(im, &r.basic);

        tagSLANTSIZEINFO d{};
        d.size = kSlantSizeInfoSize;
        for (int32_t& w : d.lOption) w = -1;
        d.lPhase = kSlantSizeInit;
        ASSERT_EQ(DetectSlantAndSize(im.info(), &d), 0u);
        d.lPhase = kSlantSizeFirst;
        ASSERT_EQ(DetectSlantAndSize(im.info(), &d), 0u);
        d.lPhase = kSlantSizeResult;
        ASSERT_EQ(DetectSlantAndSize(im.info(), &d), 0u);
        d.lPhase = kSlantSizeRelease;
        DetectSlantAndSize(im.info(), &d);

        const tagDETECTRESULTBLOCK& out = r.basic.result;
        ExpectSame(out.leftTop, d.leftTop, "left-top");
        ExpectSame(out.rightTop, d.rightTop, "right-top");
        ExpectSame(out.leftBottom, d.leftBottom, "left-bottom");
        ExpectSame(out.rightBottom, d.rightBottom, "right-bottom");
        ExpectSame(out.slantVector, d.slant, "slant");
        ExpectSame(out.rectXY, {d.lLeft, d.lTop}, "rect origin");
        ExpectSame(out.rectSize, {d.lRight - d.lLeft, d.lBottom - d.lTop}, "rect size");
        EXPECT_EQ(Command(im.info(), &r.basic, kDssCmdRelease), 0u);
        EXPECT_EQ(r.basic.pHandle, nullptr);
    }
}

TEST(OneRadiate, ModeEightRequestChecks) {
    TestImage im = DarkSheetPage(0);
    auto r = ModeEight();
    r.method = 2;
    EXPECT_EQ(Command(im.info(), &r.basic, kDssCmdInit), kDssUnknownMode);
    // No inner detector: the band commands have nothing to run.
    EXPECT_EQ(Command(im.info(), &r.basic, kDssCmdFirst), kDssNoInner);
    EXPECT_EQ(Command(im.info(), &r.basic, kDssCmdResult), kDssNoInner);
    Command(im.info(), &r.basic, kDssCmdRelease);

    tagDETECTSLANTSIZEEX_ONERADIATE_DUPLEX longer{};
    longer.simplex = ModeEight();
    longer.simplex.basic.cbsize = kOneRadiateDuplexSize; // mode 8 takes exactly its own size
    EXPECT_EQ(Command(im.info(), &longer.simplex.basic, kDssCmdInit), kDssBadRequest);
    Command(im.info(), &longer.simplex.basic, kDssCmdRelease);
}

TEST(OneRadiate, WholePageCommandRunsTheBands) {
    TestImage im = DarkSheetPage(2.0);
    auto banded = ModeEight();
    RunBands(im, &banded.basic);
    auto page = ModeEight();
    ASSERT_EQ(Command(im.info(), &page.basic, kDssCmdPage), 0u);
    EXPECT_EQ(std::memcmp(&page.basic.result, &banded.basic.result, sizeof(tagDETECTRESULTBLOCK)),
              0);
    Command(im.info(), &banded.basic, kDssCmdRelease);
    Command(im.info(), &page.basic, kDssCmdRelease);
}

TEST(OneRadiate, ModeElevenWithoutDuplexRunsAsModeEight) {
    TestImage im = DarkSheetPage(-2.0);
    tagDETECTSLANTSIZEEX_ONERADIATE_DUPLEX r{};
    r.simplex = ModeEight();
    r.simplex.basic.cbsize = kOneRadiateDuplexSize;
    r.simplex.basic.dwMode = kDssModeOneRadiateDuplex;
    RunBands(im, &r.simplex.basic);
    EXPECT_EQ(r.simplex.basic.cbsize, kOneRadiateSize);
    auto eight = ModeEight();
    RunBands(im, &eight.basic);
    EXPECT_EQ(
        std::memcmp(&r.simplex.basic.result, &eight.basic.result, sizeof(tagDETECTRESULTBLOCK)), 0);
    Command(im.info(), &r.simplex.basic, kDssCmdRelease);
    Command(im.info(), &eight.basic, kDssCmdRelease);
}

// Mode 11 on a duplex pair gives the duplex detector's front and back results.
TEST(OneRadiate, ModeElevenDuplexReportsBothSides) {
    SheetSpec s;
    s.sheetWidth = 800;
    s.sheetHeight = 1000;
    s.imageWidth = 1100;
    s.imageHeight = 1300;
    s.centerX = 560;
    s.centerY = 640;
    s.shadow = 6;
    s.content = false;
    SheetSpec front = s, back = s;
    front.angleDeg = 181.5;
    back.angleDeg = -1.5;
    back.centerX = s.imageWidth - s.centerX;
    TestImage frontImage = kdtest::SheetPage(front);
    TestImage backImage = kdtest::SheetPage(back);

    tagDETECTSLANTSIZEEX_ONERADIATE_DUPLEX r{};
    r.simplex = ModeEight();
    r.simplex.basic.cbsize = kOneRadiateDuplexSize;
    r.simplex.basic.dwMode = kDssModeOneRadiateDuplex;
    r.bDuplex = 1;
    RunBands(frontImage, &r.simplex.basic, &backImage, &r.pBackImg);

    // The same detector run directly with the option the layer builds.
    CDetectSizeWithDuplex d;
    CDetectSizeWithDuplex::tagOPTION o{};
    o.ulSize = CDetectSizeWithDuplex::kOptionSize;
    for (int32_t& w : o.lRef) w = -1;
    o.lReserved11 = o.lReserved12 = o.lCornerMargin = o.lTrimLength = -1;
    o.lLeadDarkening = o.lTrailDarkening = 40;
    o.lLeadLimit = o.lTrailLimit = 100;
    CImg::tagIMGSET f{}, b{};
    Convert_TVKIMAGEINFOtoIMGSET(frontImage.info(), &f);
    Convert_TVKIMAGEINFOtoIMGSET(backImage.info(), &b);
    ASSERT_EQ(d.Initialize(f, f, &o, false), 0u);
    ASSERT_EQ(d.first(f, b), 0u);
    tagDETECTSIZEINFO want[2]{};
    for (int side = 0; side < 2; ++side) {
        want[side].ulSize = kDetectSizeInfoSize;
        o.ulSide = side == 0 ? 1 : 0;
        ASSERT_EQ(d.result(&want[side], &o), 0u);
    }
    const tagDETECTRESULTBLOCK* got[2] = {&r.simplex.basic.result, &r.back};
    for (int side = 0; side < 2; ++side) {
        SCOPED_TRACE(side == 0 ? "front" : "back");
        const tagDETECTSIZEINFO& w = want[side];
        ExpectSame(got[side]->slantVector, w.slant, "slant");
        ExpectSame(got[side]->rectXY, {w.rect.left, w.rect.top}, "rect origin");
        const int on = w.slant.x < w.slant.y ? 1 : 0;
        ExpectSame(got[side]->leftBottom, w.corner[(0 + on) % 4], "left-bottom");
        ExpectSame(got[side]->rightBottom, w.corner[(1 + on) % 4], "right-bottom");
        ExpectSame(got[side]->rightTop, w.corner[(2 + on) % 4], "right-top");
        ExpectSame(got[side]->leftTop, w.corner[(3 + on) % 4], "left-top");
    }
    Command(frontImage.info(), &r.simplex.basic, kDssCmdRelease);
}

namespace {

tagDETECTSLANTSIZEEX_FROMFRAME FrameRequest(uint32_t kind, const std::vector<int16_t>& a,
                                            const std::vector<int16_t>& b) {
    tagDETECTSLANTSIZEEX_FROMFRAME r{};
    r.basic.cbsize = kFromFrameSize;
    r.basic.dwMode = kDssModeFromFrame;
    r.basic.dwResultFlag = kDssResultRect | kDssResultCorners | kDssResultSlant;
    r.dwFrameKind = kind;
    r.dwCount = static_cast<uint32_t>(a.size());
    r.pOutline1 = a.data();
    r.pOutline2 = b.data();
    return r;
}

} // namespace

TEST(FromFrame, StraightOutlinesGiveTheUprightRectangle) {
    TestImage im = TestImage::Gray(8, 8);
    std::vector<int16_t> left(600, -1), right(600, -1);
    for (int y = 10; y < 490; ++y) {
        left[y] = 100;
        right[y] = 500;
    }
    auto r = FrameRequest(kFrameOutlinePair, left, right);
    ASSERT_EQ(Command(im.info(), &r.basic, kDssCmdPage), 0u);
    const tagDETECTRESULTBLOCK& out = r.basic.result;
    ExpectSame(out.slantVector, {1, 0}, "slant");
    ExpectSame(out.rectXY, {100, 10}, "rect origin");
    ExpectSame(out.rectSize, {401, 480}, "rect size");
    // Upright: (1, 0) has x above y, so left-top is the set's first point.
    ExpectSame(out.leftTop, {100, 489}, "left-top");
    ExpectSame(out.rightTop, {500, 489}, "right-top");
    Command(im.info(), &r.basic, kDssCmdRelease);

    // The same outlines as kind 33: x and y exchanged.
    auto t = FrameRequest(kFrameOutlinePairTransposed, left, right);
    ASSERT_EQ(Command(im.info(), &t.basic, kDssCmdPage), 0u);
    ExpectSame(t.basic.result.rectXY, {10, 100}, "transposed origin");
    ExpectSame(t.basic.result.slantVector, {0, 1}, "transposed slant");
    Command(im.info(), &t.basic, kDssCmdRelease);
}

TEST(FromFrame, RequestChecks) {
    TestImage im = TestImage::Gray(8, 8);
    std::vector<int16_t> a(10, 5), b(10, 50);
    // A bare request: its frame kind reads 0.
    auto r = FrameRequest(kFrameOutlinePair, a, b);
    r.basic.cbsize = kDssBasicSize;
    EXPECT_EQ(Command(im.info(), &r.basic, kDssCmdPage), kDssUnknownMode);
    Command(im.info(), &r.basic, kDssCmdRelease);

    auto missing = FrameRequest(kFrameOutlinePair, a, b);
    missing.pOutline2 = nullptr;
    EXPECT_EQ(Command(im.info(), &missing.basic, kDssCmdPage), kDssBadRequest);
    Command(im.info(), &missing.basic, kDssCmdRelease);

    auto empty = FrameRequest(kFrameOutlinePair, a, b);
    empty.dwCount = 0;
    EXPECT_EQ(Command(im.info(), &empty.basic, kDssCmdPage), kDssBadRequest);
    Command(im.info(), &empty.basic, kDssCmdRelease);

    // Without result bits nothing is looked at or written.
    auto none = FrameRequest(99, a, b);
    none.basic.dwResultFlag = 0;
    none.basic.result.slantVector = {7, 7};
    EXPECT_EQ(Command(im.info(), &none.basic, kDssCmdPage), 0u);
    ExpectSame(none.basic.result.slantVector, {7, 7}, "untouched");
    Command(im.info(), &none.basic, kDssCmdRelease);

    // Bands are not accepted.
    auto band = FrameRequest(kFrameOutlinePair, a, b);
    ASSERT_EQ(Command(im.info(), &band.basic, kDssCmdInit), 0u);
    EXPECT_EQ(Command(im.info(), &band.basic, kDssCmdFirst), kDssBadRequest);
    Command(im.info(), &band.basic, kDssCmdRelease);
}
