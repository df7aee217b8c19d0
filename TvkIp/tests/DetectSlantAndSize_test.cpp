// Single-image slant and size entries: the phase protocol over the size
// detector, and the four paper edges as straight lines.
#include "DarkSheetSpec.h"
#include "DetectSlantAndSize.h"
#include "ImgDetect.h"
#include "TestKit.h"
#include "TvkIpError.h"

#include <gtest/gtest.h>

#include <cmath>

using kdtest::SheetSpec;
using kdtest::TestImage;
namespace sf = STRAIGHT_FUNCSPACE;

namespace {

template <typename Info> Info Record(uint32_t size) {
    Info r{};
    r.size = size;
    for (int32_t& w : r.lOption) w = -1; // no reference points
    return r;
}

// Phases 0, 1-3 in bands of 64 lines, 5 and 4.
template <typename Info, typename Fn>
void RunPhases(Fn detect, TestImage& im, Info& r, uint32_t* resultCode) {
    r.lPhase = kSlantSizeInit;
    ASSERT_EQ(detect(im.info(), &r), 0u);
    ASSERT_NE(r.pDetector, nullptr);
    for (int32_t y = 0; y < im.height(); y += 64) {
        const int32_t n = std::min(64, im.height() - y);
        tagTVKIMAGEINFO band = im.band(y, n);
        r.lPhase =
            y == 0 ? kSlantSizeFirst : (y + n >= im.height() ? kSlantSizeLast : kSlantSizeMid);
        ASSERT_EQ(detect(&band, &r), 0u) << y;
    }
    r.lPhase = kSlantSizeResult;
    *resultCode = detect(im.info(), &r);
    r.lPhase = kSlantSizeRelease;
    EXPECT_EQ(detect(im.info(), &r), 0u);
    EXPECT_EQ(r.pDetector, nullptr);
}

template <typename Info> void ExpectCorners(const Info& r, const SheetSpec& s, double tol) {
    const auto c = kdtest::SheetCorners(s); // left-top, right-top, right-bottom, left-bottom
    EXPECT_NEAR(r.leftTop.x, c[0].x, tol);
    EXPECT_NEAR(r.leftTop.y, c[0].y, tol);
    EXPECT_NEAR(r.rightTop.x, c[1].x, tol);
    EXPECT_NEAR(r.rightTop.y, c[1].y, tol);
    EXPECT_NEAR(r.rightBottom.x, c[2].x, tol);
    EXPECT_NEAR(r.rightBottom.y, c[2].y, tol);
    EXPECT_NEAR(r.leftBottom.x, c[3].x, tol);
    EXPECT_NEAR(r.leftBottom.y, c[3].y, tol);
}

void ExpectPoint(const Tvk::tagPOINT& a, const Tvk::tagPOINT& b) {
    EXPECT_EQ(a.x, b.x);
    EXPECT_EQ(a.y, b.y);
}

tagDETECTSIZEINFO DetectDirectly(TestImage& im) {
    CImg::tagIMGSET set{};
    Convert_TVKIMAGEINFOtoIMGSET(im.info(), &set);
    CDetectSize::tagOPTION o{};
    o.ulSize = CDetectSize::kOptionSize;
    o.lRefX1 = o.lRefY1 = o.lRefX2 = o.lRefY2 = -1;
    o.lThresholdA = o.lThresholdB = o.lCornerMargin = o.lDistance = -1;
    CDetectSize det;
    EXPECT_EQ(det.Initialize(set, &o), 0u);
    EXPECT_EQ(det.first(set), 0u);
    tagDETECTSIZEINFO info{};
    info.ulSize = kDetectSizeInfoSize;
    EXPECT_EQ(det.result(&info, &o), 0u);
    return info;
}

} // namespace

TEST(DetectSlantAndSize, PhasesFindTheSheet) {
    for (const double angle : {0.0, 2.0, -3.0}) {
        SCOPED_TRACE(angle);
        const SheetSpec s = DarkSheetSpec(angle);
        const TestImage flat = kdtest::SheetPage(s);
        // The first entry skips bands whose first line is flat: mark every line.
        TestImage im = flat;
        for (int32_t y = 0; y < im.height(); ++y) im.set(0, y, 21);
        auto r = Record<tagSLANTSIZEINFO>(kSlantSizeInfoSize);
        uint32_t code = 1;
        RunPhases(DetectSlantAndSize, im, r, &code);
        EXPECT_EQ(code, 0u);
        // The same as the size detector run directly with the entry's
        // options (default thresholds and margins), corners relabelled.
        // A slant whose x is below its y names the corners one place on.
        const tagDETECTSIZEINFO d = DetectDirectly(im);
        const int on = d.slant.x < d.slant.y ? 1 : 0;
        ExpectPoint(r.leftBottom, d.corner[(0 + on) % 4]);
        ExpectPoint(r.rightBottom, d.corner[(1 + on) % 4]);
        ExpectPoint(r.rightTop, d.corner[(2 + on) % 4]);
        ExpectPoint(r.leftTop, d.corner[(3 + on) % 4]);
        ExpectPoint(r.slant, d.slant);
        EXPECT_EQ(r.lLeft, d.rect.left);
        EXPECT_EQ(r.lTop, d.rect.top);
        EXPECT_EQ(r.lRight, d.rect.right);
        EXPECT_EQ(r.lBottom, d.rect.bottom);
        if (angle == 0) {
            EXPECT_EQ(r.slant.x, 1);
            EXPECT_EQ(r.slant.y, 0);
        }

        auto r2 = Record<tagSLANTSIZEINFO2>(kSlantSizeInfo2Size);
        for (int i = 2; i < 10; ++i) r2.lParam[i] = i >= 6 ? -1 : 0; // the detector's defaults
        r2.lParam[8] = 0;                                            // no corner margin
        r2.lNoSkipFlatBands = 1;
        TestImage plain = flat;
        RunPhases(DetectSlantAndSize2, plain, r2, &code);
        EXPECT_EQ(code, 0u);
        ExpectCorners(r2, s, 3);
    }
}

TEST(DetectSlantAndSize, PhaseProtocolErrors) {
    TestImage im = kdtest::SheetPage(DarkSheetSpec(0));
    EXPECT_EQ(DetectSlantAndSize(im.info(), nullptr), kIpErrUnsupported);
    auto wrong = Record<tagSLANTSIZEINFO>(kSlantSizeInfo2Size);
    EXPECT_EQ(DetectSlantAndSize(im.info(), &wrong), kIpErrUnsupported);
    auto wrong2 = Record<tagSLANTSIZEINFO2>(kSlantSizeInfoSize);
    EXPECT_EQ(DetectSlantAndSize2(im.info(), &wrong2), kIpErrUnsupported);

    auto r = Record<tagSLANTSIZEINFO>(kSlantSizeInfoSize);
    for (const int32_t phase : {kSlantSizeFirst, kSlantSizeMid, kSlantSizeLast, kSlantSizeResult}) {
        r.lPhase = phase;
        EXPECT_EQ(DetectSlantAndSize(im.info(), &r), kIpErrUnsupported) << phase;
    }
    r.lPhase = kSlantSizeRelease;
    EXPECT_EQ(DetectSlantAndSize(im.info(), &r), 0u);
    EXPECT_EQ(DetectSlantAndSize(im.info(), &r), 0u);

    // An unknown phase releases the detector.
    r.lPhase = kSlantSizeInit;
    ASSERT_EQ(DetectSlantAndSize(im.info(), &r), 0u);
    r.lPhase = 6;
    EXPECT_EQ(DetectSlantAndSize(im.info(), &r), kIpErrUnsupported);
    EXPECT_EQ(r.pDetector, nullptr);

    // A failing initialisation (no resolution) leaves no detector behind.
    im.info()->lXResolution = 0;
    r.lPhase = kSlantSizeInit;
    EXPECT_TRUE(static_cast<int32_t>(DetectSlantAndSize(im.info(), &r)) < 0);
    EXPECT_EQ(r.pDetector, nullptr);
}

TEST(DetectSlantAndSize3, EdgesAsStraightLines) {
    for (const double angle : {0.0, 1.5, -2.5}) {
        SCOPED_TRACE(angle);
        SheetSpec s = DarkSheetSpec(angle);
        s.content = false;
        TestImage im = kdtest::SheetPage(s);
        auto r = Record<tagSLANTSIZEINFO2>(kSlantSizeInfo2Size);
        ASSERT_EQ(DetectSlantAndSize3(im.info(), &r), 0u);
        ExpectCorners(r, s, 3);
    }
}

TEST(DetectSlantAndSize3, FailuresAndBorderLines) {
    auto r = Record<tagSLANTSIZEINFO2>(kSlantSizeInfo2Size);
    TestImage dark = TestImage::Gray(200, 200, 40);
    EXPECT_EQ(DetectSlantAndSize3(dark.info(), &r), 1u); // no edge point on the top line
    auto shortRec = Record<tagSLANTSIZEINFO2>(kSlantSizeInfoSize);
    EXPECT_EQ(DetectSlantAndSize3(dark.info(), &shortRec), kIpErrUnsupported);
    EXPECT_EQ(DetectSlantAndSize3(dark.info(), nullptr), kIpErrUnsupported);

    // Paper reaching the image's left and top borders: lines along x = 0 and
    // y = 0 are vertical and horizontal lines like any other.
    TestImage page = TestImage::Gray(200, 200, 40);
    for (int32_t y = 0; y < 150; ++y) {
        for (int32_t x = 0; x < 170; ++x) page.set(x, y, 220);
    }
    ASSERT_EQ(DetectSlantAndSize3(page.info(), &r), 0u);
    EXPECT_EQ(r.leftTop.x, 0);
    EXPECT_EQ(r.leftTop.y, 0);
    EXPECT_EQ(r.rightTop.x, 169);
    EXPECT_EQ(r.rightBottom.y, 149);
    EXPECT_EQ(r.leftBottom.x, 0);
}

TEST(DetectSlantAndSize3, LineGeometry) {
    tagSTRAIGHT l{};
    EXPECT_EQ(sf::CalcStraight({3, 4}, {3, 4}, &l), 5);
    ASSERT_EQ(sf::CalcStraight({0, 1}, {10, 6}, &l), 0);
    EXPECT_DOUBLE_EQ(l.a, 0.5);
    EXPECT_DOUBLE_EQ(l.b, 1.0);
    EXPECT_DOUBLE_EQ(sf::SetXGetY(l, 4), 3.0);

    tagSTRAIGHT v{}, v2{}, h{}, s2{};
    sf::CalcStraight({7, 0}, {7, 9}, &v);
    sf::CalcStraight({9, 0}, {9, 9}, &v2);
    sf::CalcStraight({0, 5}, {9, 5}, &h);
    sf::CalcStraight({0, 3}, {10, 8}, &s2); // parallel to l
    Tvk::tagPOINT p{};
    const struct {
        const tagSTRAIGHT *a, *b;
        int code;
        Tvk::tagPOINT p;
    } cases[] = {
        {&v, &h, 0, {7, 5}}, {&h, &v, 0, {7, 5}}, {&l, &v, 0, {7, 4}},
        {&v, &l, 0, {7, 4}}, {&l, &h, 0, {8, 5}}, {&h, &l, 0, {8, 5}},
        {&v, &v2, 3, {}},    {&h, &h, 3, {}},     {&l, &s2, 4, {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sf::CalcPointFrom2Straights(*c.a, *c.b, &p), c.code);
        if (c.code == 0) {
            EXPECT_EQ(p.x, c.p.x);
            EXPECT_EQ(p.y, c.p.y);
        }
    }
    // Two sloped lines: y = 0.5x + 1 and y = -x + 10 cross at (6, 4).
    tagSTRAIGHT down{};
    sf::CalcStraight({0, 10}, {10, 0}, &down);
    ASSERT_EQ(sf::CalcPointFrom2Straights(l, down, &p), 0);
    EXPECT_EQ(p.x, 6);
    EXPECT_EQ(p.y, 4);
}
