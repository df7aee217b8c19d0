// Older simplex and duplex size detection on generated sheets.
#include "ImgDetect.h"

#include "SheetTruth.h"
#include "TestKit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using kdtest::SheetSpec;
using kdtest::TestImage;

using sheettruth::SetOf;

CDetectSize::tagOPTION SimplexOption() {
    CDetectSize::tagOPTION o{};
    o.ulSize = CDetectSize::kOptionSize;
    o.lRefX1 = o.lRefY1 = o.lRefX2 = o.lRefY2 = -1;
    o.lThresholdA = o.lThresholdB = -1;
    o.lCornerMargin = 0;
    o.lDistance = 0;
    o.ulFlags = CDetectSize::kNoSkipFlatBands;
    return o;
}

template <class Detector = CDetectSize>
tagDETECTSIZEINFO Detect(const TestImage& im, int32_t band,
                         const CDetectSize::tagOPTION& option = SimplexOption()) {
    Detector d;
    tagDETECTSIZEINFO info{};
    info.ulSize = kDetectSizeInfoSize;
    EXPECT_EQ(d.Initialize(SetOf(im), &option), 0u);
    const int32_t h = im.height();
    if (band <= 0) band = h;
    for (int32_t y = 0; y < h; y += band) {
        const int32_t n = std::min(band, h - y);
        const CImg::tagIMGSET b = SetOf(im, y, n);
        EXPECT_EQ(y == 0 ? d.first(b) : (y + n >= h ? d.last(b) : d.mid(b)), 0u);
    }
    EXPECT_EQ(d.result(&info, &option), 0u);
    return info;
}

// A sheet on a dark backing, whose leading and trailing edges both stand out.
SheetSpec DarkSheet(double angle) {
    SheetSpec s = sheettruth::FedSheet(angle, 100, 100);
    s.backing = 20;
    return s;
}

std::string Describe(const tagDETECTSIZEINFO& r) {
    char t[256];
    std::snprintf(t, sizeof t,
                  "slant (%d,%d) rect (%d,%d,%d,%d) corners (%d,%d) (%d,%d) (%d,%d) (%d,%d)",
                  r.slant.x, r.slant.y, r.rect.left, r.rect.bottom, r.rect.right, r.rect.top,
                  r.corner[0].x, r.corner[0].y, r.corner[1].x, r.corner[1].y, r.corner[2].x,
                  r.corner[2].y, r.corner[3].x, r.corner[3].y);
    return t;
}

using sheettruth::DoubleLines;

// The sheet's corners in the detector's order, as it reports them
// (SheetTruth.h): the right side on the last paper column, the bottom side on
// the last paper line of the squared scan. A slant vector whose x is below
// its y runs down the sheet's left side and names the corners one place on.
std::vector<kdtest::Corner> Expected(const SheetSpec& s, const tagDETECTSIZEINFO& r,
                                     double yscale) {
    const sheettruth::Quad q = sheettruth::PixelCorners(s, yscale, yscale);
    const std::vector<kdtest::Corner> upright = {q.lb, q.rb, q.rt, q.lt};
    if (r.slant.x >= r.slant.y) return upright;
    std::vector<kdtest::Corner> turned(4);
    for (int k = 0; k < 4; ++k) turned[(k + 1) % 4] = upright[k];
    return turned;
}

// Signed error of a corner, in pixels of the squared scan: the edges put the
// sides within 2 pixels (whole-pixel steps of a slanted edge, the slant
// measured between outline points), and the corners meet in floating point,
// truncated once toward zero.
void ExpectNear(double found, double truth, double unit, double low, double high, const char* what,
                int k) {
    const double d = (found - truth) / unit;
    EXPECT_GE(d, low) << what << " of corner " << k << ": " << found << " vs " << truth;
    EXPECT_LE(d, high) << what << " of corner " << k << ": " << found << " vs " << truth;
}

double SkewOf(Tvk::tagPOINT v, double yscale) {
    if (v.x < v.y) return std::atan2(-v.x, v.y / yscale) * 180 / M_PI;
    return std::atan2(v.y / yscale, v.x) * 180 / M_PI;
}

bool SameResult(const tagDETECTSIZEINFO& a, const tagDETECTSIZEINFO& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(DetectSize, DarkBackingSheetsGiveSlantAndCorners) {
    for (const double yscale : {1.0, 2.0}) {
        for (const double angle : {0.0, 0.5, -0.5, 2.0, -2.0, 5.0, -5.0}) {
            SCOPED_TRACE(testing::Message() << "skew " << angle << " dpi 300 x " << 300 * yscale);
            const SheetSpec s = DarkSheet(angle);
            TestImage im = kdtest::SheetPage(s);
            if (yscale == 2) im = DoubleLines(im);
            const tagDETECTSIZEINFO r = Detect(im, 0);
            SCOPED_TRACE(Describe(r));
            if (angle == 0) {
                EXPECT_EQ(r.slant.x, 1);
                EXPECT_EQ(r.slant.y, 0);
            }
            const double skew = SkewOf(r.slant, yscale) * M_PI / 180;
            EXPECT_LE(std::fabs(std::tan(skew) - std::tan(angle * M_PI / 180)) * s.sheetWidth, 2);
            const auto e = Expected(s, r, yscale);
            for (int k = 0; k < 4; ++k) {
                ExpectNear(r.corner[k].x, e[k].x, 1, -3.5, 1.5, "x", k);
                ExpectNear(r.corner[k].y, e[k].y, yscale, -3.5, 1.5, "y", k);
            }
        }
    }
}

TEST(DetectSize, BandsGiveTheWholePageResult) {
    // The distance is 11 lines at 300 dpi: shorter bands reach back into the
    // ring copies of earlier bands.
    for (const int32_t spp : {1, 3}) {
        SheetSpec s = DarkSheet(2.0);
        s.spp = spp;
        const TestImage im = kdtest::SheetPage(s);
        const tagDETECTSIZEINFO whole = Detect(im, 0);
        for (const int32_t band : {1, 5, 10, 11, 12, 64, 700}) {
            SCOPED_TRACE(testing::Message() << "spp " << spp << " band " << band);
            const tagDETECTSIZEINFO banded = Detect(im, band);
            EXPECT_TRUE(SameResult(banded, whole)) << Describe(banded) << " vs " << Describe(whole);
        }
    }
}

TEST(DetectSize, StraightSheetUsesTheUnslantedCorners) {
    const TestImage im = kdtest::SheetPage(DarkSheet(0));
    const tagDETECTSIZEINFO raw = Detect(im, 0); // margin 0: the corners are the rectangle
    ASSERT_EQ(raw.slant.x, 1);
    CDetectSize::tagOPTION o = SimplexOption();
    o.lCornerMargin = 10;
    const tagDETECTSIZEINFO r = Detect(im, 0, o);
    EXPECT_EQ(r.slant.x, 1);
    EXPECT_EQ(r.slant.y, 0);
    const int32_t left = raw.rect.left, top = raw.rect.top;
    const int32_t right = raw.rect.right, bottom = raw.rect.bottom;
    EXPECT_EQ(r.corner[kCornerLeftTop].x, left + 5);
    EXPECT_EQ(r.corner[kCornerLeftTop].y, top + 10);
    EXPECT_EQ(r.corner[kCornerRightTop].x, right - 5);
    EXPECT_EQ(r.corner[kCornerLeftBottom].y, bottom - 10);
    EXPECT_EQ(r.rect.left, left + 5);
    EXPECT_EQ(r.rect.bottom, bottom - 10);
}

TEST(DetectSize, FallbackRectangle) {
    struct Case {
        const char* what;
        int32_t height; // lines of the scan
        bool sheet;
        int32_t paperLength;
    } cases[] = {
        {"scan shorter than the distance", 8, true, 0},
        {"no sheet", 600, false, 0},
        {"sheet shorter than the length asked", 0, true, 2000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SheetSpec s = DarkSheet(2.0);
        if (c.height) s.imageHeight = c.height;
        if (!c.sheet) s.sheetWidth = s.sheetHeight = 0;
        const TestImage im = kdtest::SheetPage(s);
        CDetectSize::tagOPTION o = SimplexOption();
        o.lFallbackTop = 30;
        o.lFallbackLeft = 20;
        o.lFallbackRight = 40;
        o.lPaperLength = c.paperLength;
        CDetectSize d;
        ASSERT_EQ(d.Initialize(SetOf(im), &o), 0u);
        ASSERT_EQ(d.first(SetOf(im)), 0u);
        tagDETECTSIZEINFO r{};
        r.ulSize = kDetectSizeInfoSize;
        ASSERT_EQ(d.result(&r, &o), 0u);
        const int32_t y = d.lines();
        EXPECT_EQ(y, std::max(0, im.height() - 300 * 10 / 254 + 1));
        EXPECT_EQ(r.slant.x, 1);
        EXPECT_EQ(r.slant.y, 0);
        const int32_t right = im.width() - 40;
        const Tvk::tagPOINT want[4] = {{20, y}, {right, y}, {right, 30}, {20, 30}};
        for (int k = 0; k < 4; ++k) {
            EXPECT_EQ(r.corner[k].x, want[k].x) << k;
            EXPECT_EQ(r.corner[k].y, want[k].y) << k;
        }
        EXPECT_EQ(r.rect.left, 20);
        EXPECT_EQ(r.rect.top, 30);
        EXPECT_EQ(r.rect.right, right);
        EXPECT_EQ(r.rect.bottom, y);
    }
}

TEST(DetectSize, ReferencePointsAndLongPaper) {
    const SheetSpec s = DarkSheet(2.0);
    const TestImage im = kdtest::SheetPage(s);
    CDetectSize::tagOPTION o = SimplexOption();
    o.lRefX1 = 300, o.lRefY1 = 1000; // far from the leading edge
    o.lRefX2 = 700, o.lRefY2 = 130;  // close to it
    EXPECT_GT(Detect(im, 0, o).slant.y, 0);
    o.lRefY2 = 400;
    EXPECT_EQ(Detect(im, 0, o).slant.y, 0);
    o.lRefX1 = -1; // one word negative: no reference check
    EXPECT_GT(Detect(im, 0, o).slant.y, 0);

    o = SimplexOption();
    o.lPaperLength = 300 * 9000 / 254;
    CDetectSize d;
    ASSERT_EQ(d.Initialize(SetOf(im), &o), 0u);
    EXPECT_TRUE(d.IsTooLongPaper());
    EXPECT_EQ(Detect(im, 0, o).slant.y, 0);
    o.lPaperLength = 300 * 9000 / 254 - 1;
    ASSERT_EQ(d.Initialize(SetOf(im), &o), 0u);
    EXPECT_FALSE(d.IsTooLongPaper());
}

TEST(DetectSize, FlatBandsAreSkippedUnlessAsked) {
    const TestImage im = kdtest::SheetPage(DarkSheet(2.0)); // lines 0..~99 are backing
    for (const bool noSkip : {false, true}) {
        CDetectSize::tagOPTION o = SimplexOption();
        o.ulFlags = noSkip ? CDetectSize::kNoSkipFlatBands : 0;
        CDetectSize d;
        ASSERT_EQ(d.Initialize(SetOf(im), &o), 0u);
        ASSERT_EQ(d.first(SetOf(im, 0, 50)), 0u);
        EXPECT_EQ(d.lines(), noSkip ? 50 - 11 + 1 : 0);
        // A band that starts on the sheet is always read.
        ASSERT_EQ(d.mid(SetOf(im, 200, 50)), 0u);
        EXPECT_EQ(d.lines(), noSkip ? 100 - 11 + 1 : 50 - 11 + 1);
    }
}

TEST(DetectSize, RawRectangleAndEdgeData) {
    const TestImage im = kdtest::SheetPage(DarkSheet(2.0));
    CDetectSize2 d;
    CDetectSize::tagOPTION o = SimplexOption();
    tagDETECTSIZEINFO r{};
    r.ulSize = kDetectSizeInfoSize;
    ASSERT_EQ(d.result(SetOf(im), &r, &o), 0u);

    int32_t n = -1;
    d.read_edge_data(1, nullptr, &n);
    ASSERT_EQ(n, im.width());
    std::vector<int32_t> darker(n), trailing(n);
    d.read_edge_data(1, darker.data(), &n);
    d.read_edge_data(3, trailing.data(), &n);
    int32_t few = 5;
    std::vector<int32_t> part(5, 7);
    d.read_edge_data(3, part.data(), &few);
    EXPECT_EQ(few, 5);
    EXPECT_TRUE(std::equal(part.begin(), part.end(), trailing.begin()));
    d.read_edge_data(4, part.data(), &few); // no such profile: nothing happens
    EXPECT_EQ(few, 5);

    const auto first =
        std::find_if(darker.begin(), darker.end(), [](int32_t v) { return v != -1; });
    const auto last =
        std::find_if(darker.rbegin(), darker.rend(), [](int32_t v) { return v != -1; });
    ASSERT_NE(first, darker.end());
    const int32_t fx = static_cast<int32_t>(first - darker.begin());
    const int32_t lx = static_cast<int32_t>(darker.rend() - last) - 1;
    EXPECT_EQ(r.corner[kCornerLeftBottom].x, fx);
    EXPECT_EQ(r.corner[kCornerLeftBottom].y, darker[fx]);
    EXPECT_EQ(r.corner[kCornerRightTop].x, lx);
    EXPECT_EQ(r.corner[kCornerRightTop].y, darker[lx]);
    const auto top = std::min_element(darker.begin(), darker.end(), [](int32_t a, int32_t b) {
        return (a < 0 ? INT32_MAX : a) < (b < 0 ? INT32_MAX : b);
    });
    EXPECT_EQ(r.corner[kCornerLeftTop].x, top - darker.begin());
    EXPECT_EQ(r.corner[kCornerLeftTop].y, *top);
    const auto bottom = std::max_element(trailing.begin(), trailing.end());
    EXPECT_EQ(r.corner[kCornerRightBottom].x, bottom - trailing.begin());
    EXPECT_EQ(r.corner[kCornerRightBottom].y, *bottom);
    EXPECT_EQ(r.slant.x, 1);
    EXPECT_EQ(r.slant.y, 0);
    EXPECT_EQ(r.rect.left, fx);
    EXPECT_EQ(r.rect.top, *top);
    EXPECT_EQ(r.rect.right, lx);
    EXPECT_EQ(r.rect.bottom, std::min(*bottom, d.lines()));
}

TEST(DetectSize, Requests) {
    const TestImage im = kdtest::SheetPage(DarkSheet(0));
    CDetectSize d;
    CDetectSize::tagOPTION o = SimplexOption();
    CImg::tagIMGSET page = SetOf(im);
    o.ulSize = 60;
    EXPECT_EQ(d.Initialize(page, &o), kIpErrBadArgument);
    o = SimplexOption();
    page.xdpi = 0;
    EXPECT_EQ(d.Initialize(page, &o), kIpErrBadArgument);
    page = SetOf(im);
    page.bpp = 16;
    EXPECT_EQ(d.Initialize(page, &o), kIpErrBadArgument);
    page = SetOf(im);
    tagDETECTSIZEINFO r{};
    r.ulSize = 64;
    EXPECT_EQ(d.result(page, &r, &o), kIpErrBadArgument);
    ASSERT_EQ(d.Initialize(page, &o), 0u);
    CImg::tagIMGSET band = SetOf(im, 0, 10);
    band.sync = im.width() / 2; // too short for its lines
    EXPECT_EQ(d.piece(band), kIpErrBadArgument);
    band = SetOf(im, 0, 10);
    band.pImg = nullptr;
    EXPECT_EQ(d.last(band), 0u);
    EXPECT_EQ(d.lines(), 0);
}

// ------------------------------------------------------------------ duplex

// Both sides of one sheet: the front sensor sees the shadow below the
// trailing edge, the back sensor (mirrored left to right, `offset` lines
// behind) the shadow above the leading edge.
struct DuplexPair {
    SheetSpec front, back;
    TestImage frontImage, backImage;
};

DuplexPair MakePair(double angle, int32_t offset, bool sheet = true) {
    DuplexPair p;
    SheetSpec s;
    s.sheetWidth = sheet ? 1000 : 0;
    s.sheetHeight = sheet ? 1300 : 0;
    const double a = std::fabs(angle) * M_PI / 180;
    const double h = 1000 * std::sin(a) + 1300 * std::cos(a);
    const double w = 1000 * std::cos(a) + 1300 * std::sin(a);
    s.imageWidth = static_cast<int32_t>(w) + 200;
    s.imageHeight = static_cast<int32_t>(h) + 200 + std::abs(offset);
    s.centerX = s.imageWidth / 2.0 + 17;
    s.centerY = 100 + h / 2 + (offset < 0 ? -offset : 0);
    s.shadow = 6;
    s.content = false;
    p.front = s;
    p.front.angleDeg = angle + 180; // the sheet's own top edge, with its shadow, at the bottom
    p.back = s;
    p.back.angleDeg = -angle;
    p.back.centerX = s.imageWidth - s.centerX;
    p.back.centerY = s.centerY + offset;
    p.frontImage = kdtest::SheetPage(p.front);
    p.backImage = kdtest::SheetPage(p.back);
    return p;
}

// Image corners of a sheet in the detector's order (left-bottom,
// right-bottom, right-top, left-top) as the detector reports them (the right
// side on the last paper column, the bottom side on the last paper line), y
// moved by dy.
std::vector<kdtest::Corner> ImageCorners(const SheetSpec& s, double dy) {
    sheettruth::Quad q = sheettruth::PixelCorners(s, 1, 1);
    for (kdtest::Corner* p : {&q.lb, &q.rb, &q.rt, &q.lt}) p->y += dy;
    return {q.lb, q.rb, q.rt, q.lt};
}

CDetectSizeWithDuplex::tagOPTION DuplexOption(int32_t offset, bool front) {
    CDetectSizeWithDuplex::tagOPTION o{};
    o.ulSize = CDetectSizeWithDuplex::kOptionSize;
    o.lCornerMargin = 0;
    o.lTrimLength = -1;
    o.lOffset = offset;
    o.ulSide = front ? 1 : 0;
    o.lLeadDarkening = o.lTrailDarkening = o.lLeadLimit = o.lTrailLimit = -1;
    return o;
}

// Feeds both images in bands (0: whole) and asks for the front and the back.
void DetectDuplex(const TestImage& front, const TestImage& back, int32_t band,
                  CDetectSizeWithDuplex::tagOPTION o, tagDETECTSIZEINFO* frontInfo,
                  tagDETECTSIZEINFO* backInfo, bool swap = false) {
    CDetectSizeWithDuplex d;
    ASSERT_EQ(d.Initialize(SetOf(front), SetOf(back), &o, swap), 0u);
    const int32_t h = front.height();
    if (band <= 0) band = h;
    for (int32_t y = 0; y < h; y += band) {
        const int32_t n = std::min(band, h - y);
        const CImg::tagIMGSET f = SetOf(front, y, n), b = SetOf(back, y, n);
        ASSERT_EQ(y == 0 ? d.first(f, b) : (y + n >= h ? d.last(f, b) : d.mid(f, b)), 0u);
    }
    *frontInfo = tagDETECTSIZEINFO{};
    *backInfo = tagDETECTSIZEINFO{};
    frontInfo->ulSize = backInfo->ulSize = kDetectSizeInfoSize;
    o.ulSide = 1;
    ASSERT_EQ(d.result(frontInfo, &o), 0u);
    o.ulSide = 0;
    ASSERT_EQ(d.result(backInfo, &o), 0u);
}

TEST(DetectSizeWithDuplex, ShadowsOfBothEdgesGiveEachSide) {
    for (const int32_t offset : {0, 12, -12}) {
        for (const double angle : {0.0, 0.5, -2.0, 2.0, 5.0, -5.0}) {
            SCOPED_TRACE(testing::Message() << "skew " << angle << " offset " << offset);
            const DuplexPair p = MakePair(angle, offset);
            tagDETECTSIZEINFO f, b;
            DetectDuplex(p.frontImage, p.backImage, 0, DuplexOption(offset, true), &f, &b);
            SCOPED_TRACE(Describe(f) + " / " + Describe(b));
            // The back side sees the sheet mirrored; the side ahead is moved
            // back by the offset.
            const double skews[2] = {angle, -angle};
            const tagDETECTSIZEINFO* r[2] = {&f, &b};
            const std::vector<kdtest::Corner> truth[2] = {
                ImageCorners(p.front, offset < 0 ? offset : 0),
                ImageCorners(p.back, offset > 0 ? -offset : 0)};
            for (int side = 0; side < 2; ++side) {
                SCOPED_TRACE(side == 0 ? "front" : "back");
                const double skew = SkewOf(r[side]->slant, 1) * M_PI / 180;
                EXPECT_LE(std::fabs(std::tan(skew) - std::tan(skews[side] * M_PI / 180)) * 1000, 2);
                std::vector<kdtest::Corner> e = truth[side];
                if (r[side]->slant.x < r[side]->slant.y) {
                    std::vector<kdtest::Corner> t(4);
                    for (int k = 0; k < 4; ++k) t[(k + 1) % 4] = e[k];
                    e = t;
                }
                for (int k = 0; k < 4; ++k) {
                    ExpectNear(r[side]->corner[k].x, e[k].x, 1, -2.5, 1.0, "x", k);
                    ExpectNear(r[side]->corner[k].y, e[k].y, 1, -2.5, 1.0, "y", k);
                }
            }
        }
    }
}

TEST(DetectSizeWithDuplex, BandsGiveTheWholePageResult) {
    // The window is 21 lines at 300 dpi.
    const DuplexPair p = MakePair(2.0, 12);
    tagDETECTSIZEINFO f0, b0;
    DetectDuplex(p.frontImage, p.backImage, 0, DuplexOption(12, true), &f0, &b0);
    for (const int32_t band : {1, 7, 20, 21, 22, 64, 900}) {
        SCOPED_TRACE(testing::Message() << "band " << band);
        tagDETECTSIZEINFO f, b;
        DetectDuplex(p.frontImage, p.backImage, band, DuplexOption(12, true), &f, &b);
        EXPECT_TRUE(SameResult(f, f0)) << Describe(f) << " vs " << Describe(f0);
        EXPECT_TRUE(SameResult(b, b0)) << Describe(b) << " vs " << Describe(b0);
    }
}

TEST(DetectSizeWithDuplex, SwappedSidesReadTheOtherImageFirst) {
    const DuplexPair p = MakePair(2.0, 0);
    tagDETECTSIZEINFO f, b, sf, sb;
    DetectDuplex(p.frontImage, p.backImage, 64, DuplexOption(0, true), &f, &b);
    // With the flag set the back image takes the first image's part.
    DetectDuplex(p.backImage, p.frontImage, 64, DuplexOption(0, true), &sf, &sb, true);
    EXPECT_TRUE(SameResult(sb, f)) << Describe(sb) << " vs " << Describe(f);
    EXPECT_TRUE(SameResult(sf, b)) << Describe(sf) << " vs " << Describe(b);
}

TEST(DetectSizeWithDuplex, NoEdgesGiveTheFallbackOfEachSide) {
    // The side ahead of the other loses the offset from its scanned length.
    struct Case {
        int32_t offset;
        int32_t frontCut, backCut;
    } cases[] = {{0, 0, 0}, {12, 0, 12}, {-12, 12, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "offset " << c.offset);
        const DuplexPair p = MakePair(0, c.offset, false);
        CDetectSizeWithDuplex::tagOPTION o = DuplexOption(c.offset, true);
        o.lFallbackTop = 10, o.lFallbackLeft = 20, o.lFallbackRight = 30;
        tagDETECTSIZEINFO f, b;
        DetectDuplex(p.frontImage, p.backImage, 100, o, &f, &b);
        const int32_t h = p.frontImage.height(), w = p.frontImage.width();
        for (const auto& [r, cut] : {std::pair{f, c.frontCut}, std::pair{b, c.backCut}}) {
            EXPECT_EQ(r.slant.x, 1);
            EXPECT_EQ(r.slant.y, 0);
            EXPECT_EQ(r.rect.left, 20);
            EXPECT_EQ(r.rect.top, 10);
            EXPECT_EQ(r.rect.right, w - 30);
            EXPECT_EQ(r.rect.bottom, h - cut);
            EXPECT_EQ(r.corner[kCornerLeftBottom].y, h - cut);
            EXPECT_EQ(r.corner[kCornerRightTop].x, w - 30);
        }
    }
}

TEST(DetectSizeWithDuplex, Requests) {
    const DuplexPair p = MakePair(0, 0);
    CDetectSizeWithDuplex d;
    CDetectSizeWithDuplex::tagOPTION o = DuplexOption(0, true);
    CImg::tagIMGSET f = SetOf(p.frontImage), b = SetOf(p.backImage);
    o.ulSize = 80;
    EXPECT_EQ(d.Initialize(f, b, &o, false), kIpErrBadArgument);
    o = DuplexOption(0, true);
    b.ydpi = 0;
    EXPECT_EQ(d.Initialize(f, b, &o, false), kIpErrBadArgument);
    b = SetOf(p.backImage);
    ASSERT_EQ(d.Initialize(f, b, &o, false), 0u);

    CImg::tagIMGSET none{};
    EXPECT_EQ(d.last(none, none), 0u);
    EXPECT_EQ(d.last(none, SetOf(p.backImage, 0, 10)), kIpErrBadParamBlock);
    EXPECT_EQ(d.last(SetOf(p.frontImage, 0, 10), none), kIpErrBadParamBlock);
    EXPECT_EQ(d.lines(), 0);
    // Bands of different heights would be read beyond the shorter one.
    EXPECT_EQ(d.piece(SetOf(p.frontImage, 0, 10), SetOf(p.backImage, 0, 9)), kIpErrBadArgument);
    EXPECT_EQ(d.piece(SetOf(p.frontImage, 0, 30), SetOf(p.backImage, 0, 30)), 0u);
    EXPECT_EQ(d.lines(), 30);
}

} // namespace
