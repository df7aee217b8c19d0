// Third-generation simplex size detection on generated sheets.
#include "Img2.h"

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

// The request that the four-corner detector makes for a simplex scan with a
// leading shadow: no sensor points, no fallback margins, default window.
CDetectSize3::tagOPTION ShadowOption() {
    CDetectSize3::tagOPTION o{};
    o.ulSize = CDetectSize3::kOptionSize;
    o.lSensorX1 = o.lSensorY1 = o.lSensorX2 = o.lSensorY2 = -1;
    o.lThreshold1 = 50;
    o.lThreshold2 = 10;
    o.lCornerMargin = 0;
    o.lWindow = o.lDarkRun = o.lDarkLevel = -1;
    o.bMode = 1;
    return o;
}

// Runs the detector over the image in bands of `band` lines (0: whole).
tagDETECTSIZEINFO Detect(const TestImage& im, int32_t band,
                         const CDetectSize3::tagOPTION& option = ShadowOption()) {
    CDetectSize3 d;
    tagDETECTSIZEINFO info{};
    info.ulSize = kDetectSizeInfoSize;
    CImg::tagIMGSET page = SetOf(im);
    EXPECT_EQ(d.Initialize(page, &option), 0u);
    const int32_t h = im.height();
    if (band <= 0) band = h;
    for (int32_t y = 0; y < h; y += band) {
        const int32_t n = std::min(band, h - y);
        const CImg::tagIMGSET b = SetOf(im, y, n);
        const uint32_t rc = y == 0 ? d.first(b) : (y + n >= h ? d.last(b) : d.mid(b));
        EXPECT_EQ(rc, 0u);
    }
    EXPECT_EQ(d.result(&info, &option), 0u);
    return info;
}

// A sheet that fills the scanned length, as a feeder scans it: a leading
// shadow above the paper and a little backing after the trailing edge.
// With `trailing` the sheet lies the other way round, its shadow below the
// trailing edge, as a scanner lit from the other side sees it.
SheetSpec Sheet(double angle, int32_t spp = 1, bool trailing = false) {
    SheetSpec s = sheettruth::FedSheet(angle, 60, 20);
    s.angleDeg = trailing ? angle + 180 : angle;
    s.shadow = 6;
    s.spp = spp;
    return s;
}

// The request for a trailing shadow: the mode flag clear, thresholds 10/50.
CDetectSize3::tagOPTION TrailingOption() {
    CDetectSize3::tagOPTION o = ShadowOption();
    o.lThreshold1 = 10;
    o.lThreshold2 = 50;
    o.bMode = 0;
    return o;
}

using sheettruth::DoubleLines;

// The sheet's corners in the detector's order, as the detector reports them
// (SheetTruth.h): the bottom side of a sheet with a leading shadow is found
// on the last paper line, one line of the squared scan inside the drawn edge;
// a trailing shadow gives the first shadow line, on the drawn edge. A slant
// vector whose x is below its y describes the sheet turned by a quarter (the
// vector runs down its left side), and its corners are named one place on.
std::vector<kdtest::Corner> Expected(const SheetSpec& s, const tagDETECTSIZEINFO& r, double yscale,
                                     bool trailing) {
    const sheettruth::Quad q = sheettruth::PixelCorners(s, yscale, trailing ? 0 : yscale);
    const std::vector<kdtest::Corner> upright = {q.lb, q.rb, q.rt, q.lt};
    if (r.slant.x >= r.slant.y) return upright;
    std::vector<kdtest::Corner> turned(4);
    for (int k = 0; k < 4; ++k) turned[(k + 1) % 4] = upright[k];
    return turned;
}

// Clockwise skew of the sheet that a slant vector describes, in degrees of
// the squared image (the vector's y is in lines of the scan). A vector
// whose x is below its y runs down the sheet's left side.
double SkewOf(Tvk::tagPOINT v, double yscale) {
    if (v.x < v.y) return std::atan2(-v.x, v.y / yscale) * 180 / M_PI;
    return std::atan2(v.y / yscale, v.x) * 180 / M_PI;
}

bool SameResult(const tagDETECTSIZEINFO& a, const tagDETECTSIZEINFO& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
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

// Signed error of a corner against the truth, in pixels of the squared scan.
// The edges put the sheet's sides within 2 pixels of the truth: a slanted
// edge steps by whole pixels, the slant is measured between two outline
// points, and with a trailing shadow the top comes from the border edge,
// which the window offset leaves one line below the first paper line. The
// corner construction then works in integers and truncates toward zero four
// times over (the intercepts of the tangent lines, their meeting points, the
// intercepts of those eight points and the final meeting points): every
// corner lands another 0.5 to 3 pixels nearer the image origin. The
// rectangle follows the corners and the edge extremes.
constexpr double kLow = -4.5, kHigh = 1.5, kRectHigh = 2.5;

void ExpectOffset(double found, double truth, double unit, double high, const std::string& what) {
    const double d = (found - truth) / unit;
    EXPECT_GE(d, kLow) << what << ": " << found << " vs " << truth;
    EXPECT_LE(d, high) << what << ": " << found << " vs " << truth;
}

TEST(DetectSize3, ShadowedSheetsGiveSlantAndCorners) {
    for (const bool trailing : {false, true})
        for (const double yscale : {1.0, 2.0}) {
            for (const double angle : {0.0, 0.5, -0.5, 2.0, -2.0, 5.0, -5.0}) {
                SCOPED_TRACE(testing::Message()
                             << "skew " << angle << " dpi 300 x " << 300 * yscale
                             << (trailing ? " trailing shadow" : " leading shadow"));
                const SheetSpec s = Sheet(angle, 1, trailing);
                TestImage im = kdtest::SheetPage(s);
                if (yscale == 2) im = DoubleLines(im);
                const tagDETECTSIZEINFO r =
                    Detect(im, 0, trailing ? TrailingOption() : ShadowOption());
                SCOPED_TRACE(Describe(r));
                if (angle == 0) {
                    EXPECT_EQ(r.slant.y, 0);
                    EXPECT_GT(r.slant.x, 0);
                }
                // Along the sheet's width the found slant is within 2 pixels.
                const double skew = SkewOf(r.slant, yscale) * M_PI / 180;
                EXPECT_LE(std::fabs(std::tan(skew) - std::tan(angle * M_PI / 180)) * s.sheetWidth,
                          2);
                const auto e = Expected(s, r, yscale, trailing);
                for (int k = 0; k < 4; ++k) {
                    ExpectOffset(r.corner[k].x, e[k].x, 1, kHigh,
                                 "x of corner " + std::to_string(k));
                    ExpectOffset(r.corner[k].y, e[k].y, yscale, kHigh,
                                 "y of corner " + std::to_string(k));
                }
                double top = 1e9, bottom = -1e9, left = 1e9, right = -1e9;
                for (const auto& c : e) {
                    top = std::min(top, c.y), bottom = std::max(bottom, c.y);
                    left = std::min(left, c.x), right = std::max(right, c.x);
                }
                ExpectOffset(r.rect.left, left, 1, kRectHigh, "rectangle left");
                ExpectOffset(r.rect.right, right, 1, kRectHigh, "rectangle right");
                ExpectOffset(r.rect.top, top, yscale, kRectHigh, "rectangle top");
                ExpectOffset(r.rect.bottom, bottom, yscale, kRectHigh, "rectangle bottom");
            }
        }
}

TEST(DetectSize3, BandsGiveTheWholePageResult) {
    // The window is 17 lines at 300 dpi and 35 at 600: bands shorter than
    // it reach back into the ring copies of earlier bands.
    struct Case {
        double angle;
        double yscale;
        int32_t spp;
        uint32_t order;
        bool trailing;
    } cases[] = {{2.0, 1, 1, 0, false},
                 {-5.0, 2, 1, 0, false},
                 {0.5, 1, 3, 0, false},
                 {-2.0, 1, 3, 1, false},
                 {2.0, 1, 1, 0, true}};
    for (const Case& c : cases) {
        SheetSpec s = Sheet(c.angle, c.spp, c.trailing);
        s.order = c.order;
        TestImage im = kdtest::SheetPage(s);
        if (c.yscale == 2) im = DoubleLines(im);
        const CDetectSize3::tagOPTION o = c.trailing ? TrailingOption() : ShadowOption();
        const tagDETECTSIZEINFO whole = Detect(im, 0, o);
        for (const int32_t band : {1, 5, 16, 17, 18, 40, 64, 1000}) {
            SCOPED_TRACE(testing::Message() << "skew " << c.angle << " spp " << c.spp << " band "
                                            << band << (c.trailing ? " trailing" : ""));
            const tagDETECTSIZEINFO banded = Detect(im, band, o);
            EXPECT_TRUE(SameResult(banded, whole)) << Describe(banded) << " vs " << Describe(whole);
        }
    }
}

TEST(DetectSize3, ColourReadsTheGreenSamples) {
    SheetSpec s = Sheet(2.0);
    const tagDETECTSIZEINFO gray = Detect(kdtest::SheetPage(s), 0);
    s.spp = 3;
    for (uint32_t order : {0u, 1u}) {
        s.order = order;
        TestImage im = kdtest::SheetPage(s);
        // Red and blue disagree wildly; only green carries the page.
        for (int32_t y = 0; y < im.height(); ++y)
            for (int32_t x = 0; x < im.width(); ++x) {
                const uint32_t g = (im.get(x, y) >> 8) & 0xFF;
                im.set(x, y, ((x * 7 + y) & 0xFF) | g << 8 | ((x ^ y) & 0xFF) << 16);
            }
        EXPECT_TRUE(SameResult(Detect(im, 64), gray)) << "order " << order;
    }
}

TEST(DetectSize3, NoEdgeGivesTheFallbackRectangle) {
    struct Case {
        const char* what;
        int32_t top, left, right; // fallback words 8, 9, 10
        bool shadow;
    } cases[] = {
        {"blank scan, zero margins", 0, 0, 0, false},
        {"blank scan, margins", 30, 20, 40, false},
        {"blank scan, margin beyond the width", 0, 20, 5000, false},
        {"sheet without a shadow", 0, 0, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SheetSpec s = Sheet(2.0);
        if (!c.shadow) s.sheetWidth = s.sheetHeight = 0; // backing only
        s.shadow = 0;
        const TestImage im = kdtest::SheetPage(s);
        CDetectSize3::tagOPTION o = ShadowOption();
        o.lFallbackTop = c.top;
        o.lFallbackLeft = c.left;
        o.lFallbackRight = c.right;
        const tagDETECTSIZEINFO r = Detect(im, 64, o);
        const int32_t y = im.height() - 300 * 15 / 254 + 1; // lines compared
        int32_t right = im.width() - c.right;
        if (right < 0) right = im.width() - c.left;
        EXPECT_EQ(r.slant.x, 1);
        EXPECT_EQ(r.slant.y, 0);
        EXPECT_EQ(r.rect.left, c.left);
        EXPECT_EQ(r.rect.top, c.top);
        EXPECT_EQ(r.rect.right, right);
        EXPECT_EQ(r.rect.bottom, y);
        const Tvk::tagPOINT want[4] = {{c.left, y}, {right, y}, {right, c.top}, {c.left, c.top}};
        for (int k = 0; k < 4; ++k) {
            EXPECT_EQ(r.corner[k].x, want[k].x);
            EXPECT_EQ(r.corner[k].y, want[k].y);
        }
    }
}

TEST(DetectSize3, ResultChecksRollBack) {
    // A sheet far shorter than the scan fails the length check.
    SheetSpec s = Sheet(2.0);
    s.imageHeight += 400;
    tagDETECTSIZEINFO r = Detect(kdtest::SheetPage(s), 0);
    EXPECT_EQ(r.slant.x, 1);
    EXPECT_EQ(r.slant.y, 0);
    EXPECT_EQ(r.rect.top, 0);
    EXPECT_EQ(r.rect.left, 0);

    // Sensor points: one within 10 mm of the top edge keeps the result;
    // both far away roll it back.
    s = Sheet(2.0);
    const TestImage im = kdtest::SheetPage(s);
    CDetectSize3::tagOPTION o = ShadowOption();
    o.lSensorX1 = 300, o.lSensorY1 = 1000;
    o.lSensorX2 = 700, o.lSensorY2 = 80;
    r = Detect(im, 0, o);
    EXPECT_GT(r.slant.y, 0) << Describe(r);
    o.lSensorY2 = 300;
    r = Detect(im, 0, o);
    EXPECT_EQ(r.slant.y, 0) << Describe(r);
    EXPECT_EQ(r.rect.top, 0);
    o.lSensorX1 = -1; // a negative word switches the check off
    r = Detect(im, 0, o);
    EXPECT_GT(r.slant.y, 0) << Describe(r);

    // A length limit of 900 mm marks long paper: no slant is measured.
    o = ShadowOption();
    o.lLengthLimit = 300 * 9000 / 254;
    CDetectSize3 d;
    ASSERT_EQ(d.Initialize(SetOf(im), &o), 0u);
    EXPECT_TRUE(d.IsTooLongPaper());
    tagDETECTSIZEINFO info{};
    info.ulSize = kDetectSizeInfoSize;
    ASSERT_EQ(d.result(SetOf(im), &info, &o), 0u);
    EXPECT_EQ(info.slant.y, 0);
    o.lLengthLimit = 0;
    ASSERT_EQ(d.Initialize(SetOf(im), &o), 0u);
    EXPECT_FALSE(d.IsTooLongPaper());
}

// Paper between a top edge and a bottom edge of their own slopes, with a
// shadow above it: x0..x1 wide, top edge through (x0, top) and bottom edge
// through (x0, bottom).
TestImage Quad(int32_t w, int32_t h, int32_t x0, int32_t x1, double top, double topSlope,
               double bottom, double bottomSlope) {
    TestImage im = TestImage::Gray(w, h, 250);
    for (int32_t x = x0; x < x1; ++x) {
        const double t = top + (x - x0) * topSlope, b = bottom + (x - x0) * bottomSlope;
        for (int32_t y = 0; y < h; ++y) {
            if (y >= t && y < b)
                im.set(x, y, 230);
            else if (y >= t - 6 && y < t)
                im.set(x, y, 90);
        }
    }
    return im;
}

TEST(DetectSize3, EdgesThatDisagreeGiveNoSlant) {
    // 3 degrees on top and 3 degrees below: the slant stands.
    const double t3 = std::tan(3 * M_PI / 180);
    tagDETECTSIZEINFO r = Detect(Quad(1200, 1460, 100, 1100, 60, t3, 1360, t3), 0);
    EXPECT_NEAR(SkewOf(r.slant, 1), 3, 0.1) << Describe(r);
    // 3 degrees on top, -4 below (7 degrees apart): upright, with the
    // rectangle the edges span.
    const double t4 = std::tan(-4 * M_PI / 180);
    r = Detect(Quad(1200, 1460, 100, 1100, 60, t3, 1430, t4), 0);
    EXPECT_EQ(r.slant.x, 1) << Describe(r);
    EXPECT_EQ(r.slant.y, 0);
    EXPECT_NEAR(r.rect.left, 100, 2);
    EXPECT_NEAR(r.rect.right, 1100, 2);
    EXPECT_NEAR(r.rect.top, 60, 2);
}

TEST(DetectSize3, RightCornersReachTheLastPaperColumn) {
    // Paper with upright sides over columns 100..1099 whose bottom edge runs
    // to the end of the scan, so that the corners come from the outermost
    // edge points. Each slanted end of the paper has one corner that only
    // the outermost column reaches: the left one in the first column, the
    // right one in the last. The construction truncates toward the origin
    // (up to 2 pixels here), alike on both sides.
    for (const double deg : {3.0, 1.0, -1.0, -3.0}) {
        SCOPED_TRACE(testing::Message() << "skew " << deg);
        const double t = std::tan(deg * M_PI / 180);
        const double top = deg > 0 ? 60 : 60 - 999 * t, bottom = top + 1300;
        const int32_t h = static_cast<int32_t>(std::max(bottom, bottom + 999 * t)) + 12;
        const tagDETECTSIZEINFO r = Detect(Quad(1200, h, 100, 1100, top, t, bottom, t), 0);
        SCOPED_TRACE(Describe(r));
        ASSERT_NE(r.slant.y, 0);
        // The rectangle along the slant holds the paper: two of its corners
        // lie beyond the upright sides, the other two on the paper's ends,
        // second from the left and second from the right.
        int32_t xs[4];
        for (int k = 0; k < 4; ++k) xs[k] = r.corner[k].x;
        std::sort(xs, xs + 4);
        EXPECT_GE(xs[1], 98);
        EXPECT_LE(xs[1], 100);
        EXPECT_GE(xs[2], 1097);
        EXPECT_LE(xs[2], 1099);
    }
}

TEST(DetectSize3, EvenMedianWidthResolutions) {
    // At 102 to 126 dpi a millimetre holds an even number of pixels; the
    // edge smoothing takes the next odd width and the sheet is still found.
    SheetSpec s;
    s.xdpi = s.ydpi = 120;
    s.sheetWidth = 400, s.sheetHeight = 540;
    s.imageWidth = 520, s.imageHeight = 600;
    s.centerX = 260, s.centerY = 20 + 290;
    s.angleDeg = 3;
    s.shadow = 3;
    const tagDETECTSIZEINFO r = Detect(kdtest::SheetPage(s), 32);
    EXPECT_LE(std::fabs(std::tan(SkewOf(r.slant, 1) * M_PI / 180) - std::tan(3 * M_PI / 180)) *
                  s.sheetWidth,
              2)
        << Describe(r);
}

TEST(DetectSize3, RequestsAndBands) {
    const TestImage im = kdtest::SheetPage(Sheet(0));
    CDetectSize3 d;
    CDetectSize3::tagOPTION o = ShadowOption();
    CImg::tagIMGSET page = SetOf(im);
    o.ulSize = 72;
    EXPECT_EQ(d.Initialize(page, &o), kIpErrBadArgument);
    o.ulSize = CDetectSize3::kOptionSize;
    EXPECT_EQ(d.Initialize(page, nullptr), kIpErrBadArgument);
    page.ydpi = 0;
    EXPECT_EQ(d.Initialize(page, &o), kIpErrBadArgument);
    page = SetOf(im);
    page.bpp = 1; // a 1-bit line holds fewer bytes than pixels
    EXPECT_EQ(d.Initialize(page, &o), kIpErrBadArgument);
    page = SetOf(im);
    ASSERT_EQ(d.Initialize(page, &o), 0u);

    // A band too short for its lines is refused instead of read beyond.
    CImg::tagIMGSET band = SetOf(im, 0, 10);
    band.sync = im.width() - 1;
    EXPECT_EQ(d.piece(band), kIpErrBadArgument);
    // An empty last band changes nothing.
    ASSERT_EQ(d.first(SetOf(im, 0, 100)), 0u);
    const int32_t lines = d.lines();
    CImg::tagIMGSET empty = SetOf(im, 0, 0);
    EXPECT_EQ(d.last(empty), 0u);
    empty = SetOf(im, 100, 50);
    empty.pImg = nullptr;
    EXPECT_EQ(d.last(empty), 0u);
    EXPECT_EQ(d.lines(), lines);

    tagDETECTSIZEINFO info{};
    info.ulSize = 56;
    EXPECT_EQ(d.result(SetOf(im), &info, &o), kIpErrBadArgument);
    info.ulSize = kDetectSizeInfoSize;
    ASSERT_EQ(d.result(SetOf(im), &info, &o), 0u);
    EXPECT_TRUE(SameResult(info, Detect(im, 0)));
    // The result can be asked again and does not drift.
    tagDETECTSIZEINFO again = info;
    ASSERT_EQ(d.result(&again, &o), 0u);
    EXPECT_TRUE(SameResult(again, info));
}

} // namespace
