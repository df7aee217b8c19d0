// Carrier-sheet steps: black-belt test on a generated carrier page, slant
// building, corner turning and relabelling, overlap boxes and resampling.
#include "DetectCarrierSheet.h"
#include "TestKit.h"
#include "TvkIpError.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

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
