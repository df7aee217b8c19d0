// Carrier-sheet steps: black-belt test on a generated carrier page, slant
// building, corner turning and relabelling, overlap boxes and resampling.
#include "DetectCarrierSheet.h"
#include "DetectRequestFixture.h"
#include "TestKit.h"
#include "TvkIpError.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

using kdtest::TestImage;
namespace cs = CARRIERSHEET_FUNCSPACE;

namespace {

constexpr double kPi = 3.14159265358979323846;

struct CarrierPage {
    TestImage image;
    Tvk::tagPOINT leftTop, rightTop;
    Tvk::tagPOINT slant;
};

// A light sleeve turned by `deg` on a white backing, with a dark belt of
// `beltLines` lines along its top edge starting `beltStart` lines below it.
CarrierPage MakeCarrierPage(double deg, int32_t beltStart, int32_t beltLines, int spp = 1) {
    kdtest::SheetSpec s;
    s.imageWidth = 900;
    s.imageHeight = 1000;
    s.sheetWidth = 700;
    s.sheetHeight = 800;
    s.centerX = 450;
    s.centerY = 500;
    s.angleDeg = deg;
    s.paper = 225;
    s.backing = 250;
    s.content = false;
    s.spp = spp;
    CarrierPage p{kdtest::SheetPage(s), {}, {}, {}};
    const double c = std::cos(deg * kPi / 180), sn = std::sin(deg * kPi / 180);
    for (int32_t y = 0; y < s.imageHeight; ++y) {
        for (int32_t x = 0; x < s.imageWidth; ++x) {
            const double u = (x - s.centerX) * c + (y - s.centerY) * sn + s.sheetWidth / 2;
            const double v = -(x - s.centerX) * sn + (y - s.centerY) * c + s.sheetHeight / 2;
            if (u >= 0 && u < s.sheetWidth && v >= beltStart && v < beltStart + beltLines) {
                p.image.set(x, y, spp == 3 ? 0x1E1E1E : 30);
            }
        }
    }
    const auto corners = kdtest::SheetCorners(s);
    p.leftTop = {static_cast<int32_t>(std::lround(corners[0].x)),
                 static_cast<int32_t>(std::lround(corners[0].y))};
    p.rightTop = {static_cast<int32_t>(std::lround(corners[1].x)),
                  static_cast<int32_t>(std::lround(corners[1].y))};
    p.slant =
        deg >= 0
            ? Tvk::tagPOINT{10000,
                            static_cast<int32_t>(std::lround(10000 * std::tan(deg * kPi / 180)))}
            : Tvk::tagPOINT{static_cast<int32_t>(std::lround(-10000 * std::tan(deg * kPi / 180))),
                            10000};
    return p;
}

// 10 mm belt, first 2 mm ignored, half the samples dark.
cs::tagBELTPARAM Belt() {
    return {{0x60, 0x60, 0x60}, 10000, 2000, 32768};
}

} // namespace

TEST(CarrierSheet, BlackBeltOnAGeneratedCarrierPage) {
    const cs::tagBELTPARAM belt = Belt();
    for (const double deg : {0.0, 1.5, -2.0}) {
        for (const int spp : {1, 3}) {
            SCOPED_TRACE(testing::Message() << deg << " spp " << spp);
            CarrierPage with = MakeCarrierPage(deg, 0, 118, spp);
            EXPECT_EQ(cs::DetectBlackBelt(with.image.info(), with.leftTop, with.rightTop,
                                          with.slant, &belt, true, 0),
                      cs::kBeltFound);
            CarrierPage without = MakeCarrierPage(deg, 0, 0, spp);
            EXPECT_EQ(cs::DetectBlackBelt(without.image.info(), without.leftTop, without.rightTop,
                                          without.slant, &belt, true, 0),
                      cs::kBeltMissing);
        }
    }
    CarrierPage p = MakeCarrierPage(0, 0, 118);
    EXPECT_EQ(cs::DetectBlackBelt(nullptr, p.leftTop, p.rightTop, p.slant, &belt, true, 0),
              cs::kBeltBadRequest);
    EXPECT_EQ(cs::DetectBlackBelt(p.image.info(), p.leftTop, p.rightTop, p.slant, nullptr, true, 0),
              cs::kBeltBadRequest);
}

// The belt lies 150 lines below where the corners say: the front finds it
// only when moved down by a negative offset, the back by a positive one.
TEST(CarrierSheet, DuplexOffsetMovesTheBeltWindow) {
    const cs::tagBELTPARAM belt = Belt();
    CarrierPage p = MakeCarrierPage(0.5, 150, 118);
    auto run = [&](bool front, int32_t offset) {
        return cs::DetectBlackBelt(p.image.info(), p.leftTop, p.rightTop, p.slant, &belt, front,
                                   offset);
    };
    EXPECT_EQ(run(true, 0), cs::kBeltMissing);
    EXPECT_EQ(run(true, -150), cs::kBeltFound);
    EXPECT_EQ(run(true, 150), cs::kBeltMissing); // a positive offset moves only the back
    EXPECT_EQ(run(false, 150), cs::kBeltFound);
    EXPECT_EQ(run(false, -150), cs::kBeltMissing);
}

TEST(CarrierSheet, BuildSlant) {
    const struct {
        Tvk::tagPOINT p;
        int32_t rx, ry, um;
        Tvk::tagPOINT want;
    } cases[] = {
        {{1000, 26}, 300, 300, 100000, {1180, 30}},
        {{1, 0}, 300, 300, 100000, {0, 1181}}, // upright: straight down
        {{1000, 26}, 300, 600, 100000, {1181, 30}},
        {{1000, 26}, 0, 300, 100000, {1000, 26}}, // no resolution: unchanged
        {{0, 0}, 300, 300, 100000, {0, 0}},       // no direction: unchanged
    };
    for (const auto& c : cases) {
        const Tvk::tagPOINT r = cs::BuildSlant(c.p, c.rx, c.ry, c.um);
        EXPECT_EQ(r.x, c.want.x) << c.p.x << "," << c.p.y << " " << c.rx << "x" << c.ry;
        EXPECT_EQ(r.y, c.want.y) << c.p.x << "," << c.p.y << " " << c.rx << "x" << c.ry;
    }
}

TEST(CarrierSheet, RotateFourPointByVectorKeepsLabels) {
    cs::tagFOURPOINT pts{{100, 100}, {900, 100}, {100, 600}, {900, 600}};
    const cs::tagFOURPOINT upright = pts;
    cs::RotateFourPoint(pts, {1000, 0}); // a zero component: nothing happens
    EXPECT_EQ(pts.rightBottom.x, 900);
    const double n = std::hypot(1000.0, 17.0);
    cs::RotateFourPoint(pts, {1000, 17});
    auto turned = [&](Tvk::tagPOINT p) {
        return Tvk::tagPOINT{static_cast<int32_t>((p.x * 1000.0 - p.y * 17.0) / n),
                             static_cast<int32_t>((p.x * 17.0 + p.y * 1000.0) / n)};
    };
    const Tvk::tagPOINT want[4] = {turned(upright.leftTop), turned(upright.rightTop),
                                   turned(upright.leftBottom), turned(upright.rightBottom)};
    const Tvk::tagPOINT got[4] = {pts.leftTop, pts.rightTop, pts.leftBottom, pts.rightBottom};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(got[i].x, want[i].x) << i;
        EXPECT_EQ(got[i].y, want[i].y) << i;
    }
    // Corners handed over in the wrong places are relabelled.
    cs::tagFOURPOINT mixed{{900, 600}, {100, 100}, {900, 100}, {100, 600}};
    cs::CheckFourPoint(mixed);
    EXPECT_EQ(mixed.leftTop.x, 100);
    EXPECT_EQ(mixed.leftTop.y, 100);
    EXPECT_EQ(mixed.rightTop.x, 900);
    EXPECT_EQ(mixed.rightTop.y, 100);
    EXPECT_EQ(mixed.leftBottom.x, 100);
    EXPECT_EQ(mixed.rightBottom.y, 600);
}

TEST(CarrierSheet, SegmentsAndOverlapBoxes) {
    Tvk::tagPOINT at{};
    EXPECT_TRUE(cs::is_cross_line({0, 0}, {10, 10}, {0, 10}, {10, 0}, &at));
    EXPECT_EQ(at.x, 5);
    EXPECT_EQ(at.y, 5);
    EXPECT_FALSE(cs::is_cross_line({0, 0}, {10, 0}, {0, 5}, {10, 5}, nullptr));   // parallel
    EXPECT_FALSE(cs::is_cross_line({0, 0}, {10, 10}, {20, 0}, {11, 9}, nullptr)); // apart
    // Coordinates whose products exceed 32 bits.
    EXPECT_TRUE(cs::is_cross_line({-100000, 0}, {100000, 0}, {0, -100000}, {0, 100000}, &at));
    EXPECT_EQ(at.x, 0);

    const Tvk::tagPOINT rect[4] = {{0, 0}, {100, 0}, {100, 100}, {0, 100}};
    const struct {
        Tvk::tagPOINT quad[4];
        cs::tagEDGEBOX want;
    } cases[] = {
        {{{50, 50}, {150, 50}, {150, 150}, {50, 150}}, {50, 50, 100, 100}},   // overlapping
        {{{20, 30}, {60, 30}, {60, 70}, {20, 70}}, {20, 30, 60, 70}},         // inside
        {{{300, 300}, {400, 300}, {400, 400}, {300, 400}}, {0, 0, 100, 100}}, // apart
        {{{-50, -50}, {150, -50}, {150, 150}, {-50, 150}}, {0, 0, 100, 100}}, // around
    };
    for (const auto& c : cases) {
        const cs::tagEDGEBOX b = cs::compare_rect_and_four_point(rect, c.quad);
        EXPECT_EQ(b.left, c.want.left);
        EXPECT_EQ(b.top, c.want.top);
        EXPECT_EQ(b.right, c.want.right);
        EXPECT_EQ(b.bottom, c.want.bottom);
    }
}

TEST(CarrierSheet, ResultsBackInTheScannedImage) {
    // Found on a cut-out at 300 dpi of a 600 x 300 dpi side whose cut-out
    // started at (40, 20): shifted, then x doubled.
    cs::tagFOURPOINT pts{{10, 5}, {110, 5}, {10, 205}, {110, 205}};
    cs::calc_four_point_core_for_carrieer_sheet(pts, {1, 0}, {40, 20}, 600, 300);
    EXPECT_EQ(pts.leftTop.x, 100);
    EXPECT_EQ(pts.leftTop.y, 25);
    EXPECT_EQ(pts.rightBottom.x, 300);
    EXPECT_EQ(pts.rightBottom.y, 225);
    const cs::tagEDGEBOX box = cs::calc_rect_core_for_carrier_sheet(
        {0, 0, 200, 300}, {{10, 5}, {110, 5}, {10, 205}, {110, 205}}, {1, 0}, {40, 20}, 600, 300);
    EXPECT_EQ(box.left, 100);
    EXPECT_EQ(box.top, 25);
    EXPECT_EQ(box.right, 300);
    EXPECT_EQ(box.bottom, 225);
}

TEST(CarrierSheet, GreenAndResampling) {
    TestImage colour = TestImage::Color(4, 2, 0, 0);
    TestImage planar = TestImage::Color(4, 2, 1, 0);
    for (int32_t x = 0; x < 4; ++x) {
        colour.set(x, 1, 0x0A00FF | (x * 20) << 8);
        planar.set(x, 1, 0x0A00FF | (x * 20) << 8);
    }
    for (TestImage* src : {&colour, &planar}) {
        tagTVKIMAGEINFO g{};
        ASSERT_TRUE(cs::GreenToGray(g, *src->info()));
        std::unique_ptr<uint8_t[]> own(g.lpImage);
        for (int32_t x = 0; x < 4; ++x) EXPECT_EQ(g.lpImage[g.lSync + x], x * 20);
    }

    // 600 x 300 dpi: pairs of columns averaged, x values halved.
    TestImage wide = TestImage::Gray(8, 2, 0);
    wide.info()->lXResolution = 600;
    for (int32_t x = 0; x < 8; ++x) wide.set(x, 0, x * 10);
    tagROTATEINFO rot{};
    rot.topLeft = {10, 7};
    rot.topRight = {81, 9};
    rot.srcWidth = 8;
    tagTVKIMAGEINFO out{};
    ASSERT_EQ(cs::ResampleToLowerResolution(out, *wide.info(), rot), 0u);
    std::unique_ptr<uint8_t[]> own(out.lpImage);
    ASSERT_EQ(out.lWidth, 4);
    EXPECT_EQ(out.lXResolution, 300);
    for (int32_t x = 0; x < 4; ++x) EXPECT_EQ(out.lpImage[x], 20 * x + 5);
    EXPECT_EQ(rot.topLeft.x, 5);
    EXPECT_EQ(rot.topLeft.y, 7);
    EXPECT_EQ(rot.topRight.x, 40);
    EXPECT_EQ(rot.srcWidth, 4);
    EXPECT_EQ(rot.keep.x, 1); // a zero kept slant becomes upright
    EXPECT_EQ(rot.keep.y, 0);

    // 300 x 600 dpi: pairs of lines averaged, y values halved.
    TestImage tall = TestImage::Gray(2, 4, 0);
    tall.info()->lYResolution = 600;
    for (int32_t y = 0; y < 4; ++y) tall.set(1, y, 40 * y);
    rot = {};
    rot.bottomLeft = {3, 50};
    rot.keep = {1000, 30};
    tagTVKIMAGEINFO out2{};
    ASSERT_EQ(cs::ResampleToLowerResolution(out2, *tall.info(), rot), 0u);
    std::unique_ptr<uint8_t[]> own2(out2.lpImage);
    ASSERT_EQ(out2.lHeight, 2);
    EXPECT_EQ(out2.lpImage[1], 20);
    EXPECT_EQ(out2.lpImage[out2.lSync + 1], 100);
    EXPECT_EQ(rot.bottomLeft.y, 25);
    EXPECT_EQ(rot.keep.y, 15);
}

// ---------------------------------------------------------------------------
// Carrier-sheet passes of the four-corner detector

namespace {

// A sleeve seen by both sensors: the front with the shadow of its leading
// edge, the back mirrored with the shadow along its trailing edge.
struct CarrierPair {
    kdtest::SheetSpec front, back;
    TestImage frontImage, backImage;
};

// A sleeve that nearly fills the scanned length, as the feeder scans it.
kdtest::SheetSpec Sleeve(double angle) {
    kdtest::SheetSpec s;
    s.sheetWidth = 1000;
    s.sheetHeight = 1300;
    const double a = std::fabs(angle) * kPi / 180;
    const double h = s.sheetWidth * std::sin(a) + s.sheetHeight * std::cos(a);
    const double w = s.sheetWidth * std::cos(a) + s.sheetHeight * std::sin(a);
    s.imageWidth = static_cast<int32_t>(w) + 200;
    s.imageHeight = static_cast<int32_t>(h) + 100;
    s.centerX = s.imageWidth / 2.0 - 17;
    s.centerY = 60 + h / 2;
    s.angleDeg = angle;
    s.shadow = 6;
    s.content = false;
    return s;
}

// Darkens a band of `lines` lines of the sheet, `from` lines inside its
// edge nearest the image's top (the leading edge keeps its own shadow).
void DrawBelt(TestImage& img, const kdtest::SheetSpec& s, double from, double lines) {
    const double a = s.angleDeg * kPi / 180;
    const double c = std::cos(a), sn = std::sin(a);
    for (int32_t y = 0; y < img.height(); ++y) {
        for (int32_t x = 0; x < img.width(); ++x) {
            const double u = (x - s.centerX) * c + (y - s.centerY) * sn;
            const double v = -(x - s.centerX) * sn + (y - s.centerY) * c;
            if (std::fabs(u) > s.sheetWidth / 2 || std::fabs(v) > s.sheetHeight / 2) continue;
            const double fromTop = c > 0 ? v + s.sheetHeight / 2 : s.sheetHeight / 2 - v;
            if (fromTop >= from && fromTop < from + lines) img.set(x, y, 30);
        }
    }
}

CarrierPair MakePair(double angle, bool frontBelt, bool backBelt) {
    CarrierPair p;
    p.front = Sleeve(angle);
    p.back = p.front;
    p.back.centerX = p.back.imageWidth - p.back.centerX;
    p.back.angleDeg = 180 - angle; // mirrored, its leading edge at the bottom
    p.frontImage = kdtest::SheetPage(p.front);
    p.backImage = kdtest::SheetPage(p.back);
    if (frontBelt) DrawBelt(p.frontImage, p.front, 15, 90);
    if (backBelt) DrawBelt(p.backImage, p.back, 15, 90);
    return p;
}

tagONERADIATEEX_CSINFO Type(uint32_t tag) {
    tagONERADIATEEX_CSINFO t{};
    t.cbsize = kCSInfoSize;
    t.dwTag = tag;
    t.th_br[0] = t.th_br[1] = 0x606060;
    t.len_belt = 7000;
    t.len_ignore = 2000;
    t.dwTh_black = 32768;
    return t;
}

struct CarrierRun {
    Mode13Request m{true, 1};
    std::vector<tagONERADIATEEX_CSINFO> types;
    uint32_t code = 1;
};

void RunCarrier(CarrierRun& run, const CarrierPair& p, bool carrierMode = true) {
    run.m.scan.bCarrierSheetMode = carrierMode ? 1 : 0;
    run.m.setting.pCSInfo = run.types.empty() ? nullptr : run.types.data();
    run.m.setting.csinfo_count = static_cast<uint32_t>(run.types.size());
    run.m.scan.pImg = p.backImage.info();
    ASSERT_EQ(run.m.run(kDssCmdInit, p.frontImage.info()), 0u);
    run.code = run.m.run(kDssCmdPage, p.frontImage.info());
}

bool SameBlock(const tagDETECTRESULTBLOCK& a, const tagDETECTRESULTBLOCK& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

} // namespace

TEST(CarrierSheetPasses, TypeMatchingDecidesTheSecondPass) {
    const CarrierPair both = MakePair(1.5, true, true);
    const CarrierPair frontOnly = MakePair(1.5, true, false);
    CarrierRun plain;
    RunCarrier(plain, both, false);
    ASSERT_EQ(plain.code, 0u);

    const struct {
        const char* name;
        const CarrierPair* pair;
        std::vector<uint32_t> tags;
        int32_t step;
    } cases[] = {
        {"first type without tests", &both, {0}, 1},
        {"length test only never matches", &both, {2}, 0},
        {"belt on both sides", &both, {1}, 1},
        {"belt on the front only, next type length-only", &frontOnly, {1, 2}, 0},
        {"belt on the front only, next type without tests", &frontOnly, {1, 0}, 1},
        {"no types", &both, {}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CarrierRun run;
        for (const uint32_t tag : c.tags) run.types.push_back(Type(tag));
        RunCarrier(run, *c.pair);
        EXPECT_EQ(run.code, 0u);
        ASSERT_NE(run.m.detector(), nullptr);
        EXPECT_EQ(run.m.detector()->m_lCarrierSheetStep, c.step);
        if (c.step == 0 && c.pair == &both) {
            // Without a match the first pass is the answer: the plain duplex result.
            EXPECT_TRUE(SameBlock(run.m.front(), plain.m.front()));
            EXPECT_TRUE(SameBlock(run.m.back(), plain.m.back()));
        }
    }
}

// The second pass runs on the sleeve cut out upright; its results come back
// in the scanned image, inside the sleeve.
TEST(CarrierSheetPasses, SecondPassResultsLieInTheScannedSleeve) {
    const CarrierPair p = MakePair(2.0, true, true);
    for (const uint32_t flag : {0u, static_cast<uint32_t>(kProcessDeskewCut)}) {
        SCOPED_TRACE(flag);
        CarrierRun run;
        run.types.push_back(Type(1));
        run.m.setting.dwProcessFlag = flag;
        RunCarrier(run, p);
        ASSERT_EQ(run.code, 0u);
        ASSERT_EQ(run.m.detector()->m_lCarrierSheetStep, 1);
        const auto corners = kdtest::SheetCorners(p.front);
        double minX = 1e9, maxX = -1e9, minY = 1e9, maxY = -1e9;
        for (const auto& c : corners) {
            minX = std::min(minX, c.x), maxX = std::max(maxX, c.x);
            minY = std::min(minY, c.y), maxY = std::max(maxY, c.y);
        }
        const tagDETECTRESULTBLOCK& f = run.m.front();
        for (const Tvk::tagPOINT pt : {f.leftTop, f.rightTop, f.leftBottom, f.rightBottom}) {
            EXPECT_GE(pt.x, minX - 8);
            EXPECT_LE(pt.x, maxX + 8);
            EXPECT_GE(pt.y, minY - 8);
            EXPECT_LE(pt.y, maxY + 8);
        }
        // The kept slant of the sleeve plus the cut-out's own slant.
        EXPECT_GT(f.slantVector.x, 0);
    }
}

TEST(CarrierSheetPasses, RefusedWithoutCornersAndSlant) {
    const CarrierPair p = MakePair(0.0, true, true);
    Mode13Request m(true, 1);
    m.scan.bCarrierSheetMode = 1;
    m.scan.pImg = p.backImage.info();
    m.req.basic.dwResultFlag = kDssResultRect | kDssResultCorners;
    EXPECT_EQ(m.run(kDssCmdInit, p.frontImage.info()), kDssBadRequest);
}
