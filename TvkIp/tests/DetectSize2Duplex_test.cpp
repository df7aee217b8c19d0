// Second duplex size detector: requests, bands, the edge agreement rule,
// fallbacks, unequal resolutions and the bottom-up first image.
#include "DetectSize2Duplex.h"

#include "TestKit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <unistd.h>

namespace {

using kdtest::TestImage;

// A sheet between two straight edges, in front-image coordinates: columns
// x0..x1, top edge through (x0, top) with slope ts, bottom edge through
// (x0, bottom) with slope bs.
struct Geometry {
    int32_t w = 1200, h = 1460;
    int32_t x0 = 100, x1 = 1100;
    double top = 60, ts = 0, bottom = 1360, bs = 0;
    int32_t shadow = 6; // lines of shadow at 300 dpi
};

// The front shows the trailing shadow below the sheet; the back, mirrored
// left to right, shows the leading shadow above it.
TestImage Side(const Geometry& g, bool back, int32_t ydpi = 300) {
    const int32_t k = ydpi / 300;
    TestImage im = TestImage::Gray(g.w, g.h * k, 250);
    im.info()->lYResolution = ydpi;
    for (int32_t x = g.x0; x < g.x1; ++x) {
        const double t = (g.top + (x - g.x0) * g.ts) * k, b = (g.bottom + (x - g.x0) * g.bs) * k;
        const int32_t col = back ? g.w - 1 - x : x;
        for (int32_t y = 0; y < im.height(); ++y) {
            if (y >= t && y < b)
                im.set(col, y, 230);
            else if (back && y >= t - g.shadow * k && y < t)
                im.set(col, y, 60);
            else if (!back && y >= b && y < b + g.shadow * k)
                im.set(col, y, 60);
        }
    }
    return im;
}

CImg::tagIMGSET SetOf(const TestImage& im, int32_t y0 = 0, int32_t n = -1) {
    CImg::tagIMGSET s{};
    Convert_TVKIMAGEINFOtoIMGSET(im.info(), &s);
    s.pImg = const_cast<uint8_t*>(im.line(y0));
    s.height = n < 0 ? im.height() - y0 : n;
    return s;
}

// The option the four-corner detector fills for a duplex scan.
CDetectSizeWithDuplex2::tagOPTION Option() {
    CDetectSizeWithDuplex2::tagOPTION o{};
    o.ulSize = CDetectSizeWithDuplex2::kOptionSize;
    for (int32_t& v : o.lSensor) v = -1;
    o.lDrop[0] = o.lDrop[1] = 40;
    o.lLevel[0] = o.lLevel[1] = 100;
    return o;
}

struct Both {
    tagDETECTSIZEINFO front{}, back{};
};

Both Detect(const TestImage& f, const TestImage& b, int32_t band,
            CDetectSizeWithDuplex2::tagOPTION o = Option()) {
    CDetectSizeWithDuplex2 d;
    Both r;
    EXPECT_EQ(d.Initialize(SetOf(f), SetOf(b), &o, false), 0u);
    const int32_t h = f.height();
    if (band <= 0) band = h;
    for (int32_t y = 0; y < h; y += band) {
        const int32_t n = std::min(band, h - y);
        EXPECT_EQ(d.piece(SetOf(f, y, n), SetOf(b, y, n)), 0u);
    }
    EXPECT_EQ(d.last(CImg::tagIMGSET{}, CImg::tagIMGSET{}), 0u);
    r.front.ulSize = r.back.ulSize = kDetectSizeInfoSize;
    o.bFront = 1;
    EXPECT_EQ(d.result(&r.front, &o), 0u);
    o.bFront = 0;
    EXPECT_EQ(d.result(&r.back, &o), 0u);
    return r;
}

std::string Describe(const tagDETECTSIZEINFO& r) {
    char t[256];
    std::snprintf(t, sizeof t, "slant (%d,%d) rect (%d,%d,%d,%d) c (%d,%d) (%d,%d) (%d,%d) (%d,%d)",
                  r.slant.x, r.slant.y, r.rect.left, r.rect.bottom, r.rect.right, r.rect.top,
                  r.corner[0].x, r.corner[0].y, r.corner[1].x, r.corner[1].y, r.corner[2].x,
                  r.corner[2].y, r.corner[3].x, r.corner[3].y);
    return t;
}

bool Same(const tagDETECTSIZEINFO& a, const tagDETECTSIZEINFO& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(DetectSizeWithDuplex2, Requests) {
    const Geometry g;
    const TestImage f = Side(g, false), b = Side(g, true);
    CDetectSizeWithDuplex2 d;
    CDetectSizeWithDuplex2::tagOPTION o = Option();
    struct Case {
        const char* what;
        uint32_t size;
        int32_t fxdpi, bydpi, bwidth, bbpp;
    } cases[] = {
        {"option of another size", CDetectSizeWithDuplex2::kOptionSize - 4, 300, 300, 1200, 8},
        {"no front resolution", CDetectSizeWithDuplex2::kOptionSize, 0, 300, 1200, 8},
        {"no back resolution", CDetectSizeWithDuplex2::kOptionSize, 300, 0, 1200, 8},
        {"sides of different widths", CDetectSizeWithDuplex2::kOptionSize, 300, 300, 1100, 8},
        {"1-bit sides", CDetectSizeWithDuplex2::kOptionSize, 300, 300, 1200, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        o.ulSize = c.size;
        CImg::tagIMGSET fs = SetOf(f), bs = SetOf(b);
        fs.xdpi = c.fxdpi;
        bs.ydpi = c.bydpi;
        bs.width = c.bwidth;
        bs.bpp = fs.bpp = c.bbpp;
        EXPECT_EQ(d.Initialize(fs, bs, &o, false), kIpErrBadArgument);
    }
    o = Option();
    ASSERT_EQ(d.Initialize(SetOf(f), SetOf(b), &o, false), 0u);
    // Bands must agree line for line.
    EXPECT_EQ(d.piece(SetOf(f, 0, 64), SetOf(b, 0, 63)), kIpErrBadArgument);
    CImg::tagIMGSET wide = SetOf(b, 0, 64);
    wide.width -= 1;
    EXPECT_EQ(d.piece(SetOf(f, 0, 64), wide), kIpErrBadArgument);
    // The last call: both bands empty ends the page, one alone is refused.
    EXPECT_EQ(d.last(SetOf(f, 0, 64), CImg::tagIMGSET{}), kIpErrBadParamBlock);
    EXPECT_EQ(d.last(CImg::tagIMGSET{}, SetOf(b, 0, 64)), kIpErrBadParamBlock);
    EXPECT_EQ(d.lines(), 0);
    EXPECT_EQ(d.last(CImg::tagIMGSET{}, CImg::tagIMGSET{}), 0u);
    CDetectSizeWithDuplex2::tagOPTION stored{};
    EXPECT_EQ(d.get_current_option(&stored), 0u);
    EXPECT_EQ(stored.lEndTrim, 0); // kept; only a negative width becomes 5 mm
    // Results before any band: no edges, the upright fallback.
    tagDETECTSIZEINFO r{};
    r.ulSize = kDetectSizeInfoSize;
    o.bFront = 1;
    ASSERT_EQ(d.result(&r, &o), 0u);
    EXPECT_EQ(r.slant.x, 1);
    EXPECT_EQ(r.slant.y, 0);
}

TEST(DetectSizeWithDuplex2, EdgeAgreement) {
    const double t3 = std::tan(3 * M_PI / 180), t4 = std::tan(-4 * M_PI / 180);
    struct Case {
        const char* what;
        double ts, bs, bottom;
        bool slanted;
    } cases[] = {
        {"both edges at 3 degrees", t3, t3, 1300, true},
        {"3 degrees on top, -4 below", t3, t4, 1390, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Geometry g;
        g.ts = c.ts, g.bs = c.bs, g.bottom = c.bottom;
        g.h = 1400; // no more than 10 mm of scan beyond the sheet
        const Both r = Detect(Side(g, false), Side(g, true), 64);
        SCOPED_TRACE(Describe(r.front));
        if (c.slanted) {
            ASSERT_GT(r.front.slant.y, 0);
            EXPECT_NEAR(double(r.front.slant.y) / r.front.slant.x, t3, 0.002);
        } else {
            EXPECT_EQ(r.front.slant.x, 1);
            EXPECT_EQ(r.front.slant.y, 0);
            // The rectangle the edges span.
            EXPECT_NEAR(r.front.rect.left, g.x0, 1);
            EXPECT_NEAR(r.front.rect.right, g.x1 - 1, 1);
            EXPECT_NEAR(r.front.rect.top, g.top, 1);
            EXPECT_NEAR(r.front.rect.bottom, g.bottom - 1, 2);
        }
    }
}

TEST(DetectSizeWithDuplex2, BandsAndLayouts) {
    Geometry g;
    g.ts = g.bs = std::tan(2 * M_PI / 180);
    g.bottom = 1320;
    g.h = 1400;
    const TestImage f = Side(g, false), b = Side(g, true);
    const Both whole = Detect(f, b, 0);
    ASSERT_GT(whole.front.slant.y, 0) << Describe(whole.front);
    // The back sees the mirrored sheet: an anticlockwise skew, reported as
    // the quarter-turned vector.
    ASSERT_LT(whole.back.slant.x, whole.back.slant.y) << Describe(whole.back);
    for (const int32_t band : {1, 10, 64}) {
        const Both r = Detect(f, b, band);
        EXPECT_TRUE(Same(r.front, whole.front)) << band << ": " << Describe(r.front);
        EXPECT_TRUE(Same(r.back, whole.back)) << band << ": " << Describe(r.back);
    }
    // Read bottom-up (the page in one call), the first image's trailing
    // shadow is found as a leading one and gives the same edge.
    CDetectSizeWithDuplex2::tagOPTION o = Option();
    o.bBottomUp = 1;
    const Both up = Detect(f, b, 0, o);
    EXPECT_TRUE(Same(up.front, whole.front))
        << Describe(up.front) << " vs " << Describe(whole.front);
    EXPECT_TRUE(Same(up.back, whole.back)) << Describe(up.back) << " vs " << Describe(whole.back);
}

TEST(DetectSizeWithDuplex2, TwiceTheLineDensity) {
    Geometry g;
    g.ts = g.bs = std::tan(2 * M_PI / 180);
    g.bottom = 1320;
    g.h = 1400;
    const Both single = Detect(Side(g, false), Side(g, true), 64);
    const Both twice = Detect(Side(g, false, 600), Side(g, true, 600), 64);
    SCOPED_TRACE(Describe(single.front) + " / " + Describe(twice.front));
    for (int k = 0; k < 4; ++k) {
        EXPECT_NEAR(twice.front.corner[k].x, single.front.corner[k].x, 3) << k;
        EXPECT_NEAR(twice.front.corner[k].y, 2 * single.front.corner[k].y, 6) << k;
    }
    EXPECT_NEAR(double(twice.front.slant.y) / twice.front.slant.x,
                2 * double(single.front.slant.y) / single.front.slant.x, 0.004);
}

// A rotated sheet as both sensors see it: the front with its trailing
// shadow, the back mirrored with its leading shadow.
struct Sheet {
    kdtest::SheetSpec front, back; // the sheet itself on each side
    TestImage frontImage, backImage;
};

Sheet RotatedSheet(double angle, int32_t shadow) {
    kdtest::SheetSpec s;
    s.sheetWidth = 1000, s.sheetHeight = 1300;
    const double a = std::fabs(angle) * M_PI / 180;
    const double h = s.sheetWidth * std::sin(a) + s.sheetHeight * std::cos(a);
    s.imageWidth = 1300;
    s.imageHeight = static_cast<int32_t>(h) + 100;
    s.centerX = 640, s.centerY = 60 + h / 2;
    s.shadow = shadow;
    s.shadowLevel = 40;
    s.angleDeg = angle;
    Sheet r;
    r.front = r.back = s;
    r.back.angleDeg = -angle;
    r.back.centerX = s.imageWidth - s.centerX;
    kdtest::SheetSpec trailing = r.front;
    trailing.angleDeg += 180;
    r.frontImage = kdtest::SheetPage(trailing);
    r.backImage = kdtest::SheetPage(r.back);
    return r;
}

// Corners against the sheet's, in the detector's order (quarter-turned
// naming for a vector whose x is below its y), and the slant's angle.
void ExpectSheet(const tagDETECTSIZEINFO& r, const kdtest::SheetSpec& s, double tol) {
    SCOPED_TRACE(Describe(r));
    const auto c = kdtest::SheetCorners(s); // left-top, right-top, right-bottom, left-bottom
    const bool turned = r.slant.x < r.slant.y;
    const kdtest::Corner upright[4] = {c[3], c[2], c[1], c[0]};
    for (int k = 0; k < 4; ++k) {
        const int j = turned ? (k + 1) % 4 : k;
        EXPECT_NEAR(r.corner[j].x, upright[k].x, tol) << "corner " << j;
        EXPECT_NEAR(r.corner[j].y, upright[k].y, tol) << "corner " << j;
    }
    const double skew =
        turned ? std::atan2(-r.slant.x, r.slant.y) : std::atan2(r.slant.y, r.slant.x);
    EXPECT_NEAR(skew * 180 / M_PI, s.angleDeg, 0.1);
}

TEST(DetectSizeWithDuplex2, FilterVariantsAndPasses) {
    // The one-line filters look for a shadow no deeper than their span (2
    // lines at 300 dpi), the averaged ones for a deeper one.
    struct Case {
        const char* what;
        int32_t shadow;
        uint32_t pass;
        int32_t endTrim, medianUm;
    } cases[] = {
        {"averaged filters", 6, 0, 0, 0},
        {"one-line filters", 2, CDetectSizeWithDuplex2::kPassOneLine, 0, 0},
        {"5 mm end trim", 6, 0, -1, 0},
        {"3 mm edge smoothing", 6, 0, 0, 3000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Sheet sheet = RotatedSheet(2.0, c.shadow);
        CDetectSizeWithDuplex2::tagOPTION o = Option();
        o.ulPass = c.pass;
        o.lEndTrim = c.endTrim;
        o.lMedianUm = c.medianUm;
        const Both r = Detect(sheet.frontImage, sheet.backImage, 7, o);
        ExpectSheet(r.front, sheet.front, 6);
        ExpectSheet(r.back, sheet.back, 6);
    }
    // A scan far longer than the sheet fails the length check and falls
    // back, unless the checks are switched off.
    Geometry g;
    g.ts = g.bs = std::tan(2 * M_PI / 180);
    g.bottom = 1320;
    g.h = 1600;
    const TestImage lf = Side(g, false), lb = Side(g, true);
    g.h = 1400;
    const Both fits = Detect(Side(g, false), Side(g, true), 64);
    ASSERT_GT(fits.front.slant.y, 0);
    EXPECT_EQ(Detect(lf, lb, 64).front.slant.y, 0);
    CDetectSizeWithDuplex2::tagOPTION o = Option();
    o.ulPass = CDetectSizeWithDuplex2::kPassNoLengthCheck;
    const Both unchecked = Detect(lf, lb, 64, o);
    EXPECT_TRUE(Same(unchecked.front, fits.front)) << Describe(unchecked.front);
}

TEST(DetectSizeWithDuplex2, MissingTrailingShadowFallsBack) {
    Geometry g;
    TestImage f = TestImage::Gray(g.w, g.h, 250); // front without its shadow
    const Both r = Detect(f, Side(g, true), 64);
    for (const tagDETECTSIZEINFO* i : {&r.front, &r.back}) {
        SCOPED_TRACE(Describe(*i));
        EXPECT_EQ(i->slant.x, 1);
        EXPECT_EQ(i->slant.y, 0);
        EXPECT_EQ(i->rect.left, 0);
        EXPECT_EQ(i->rect.top, 0);
        EXPECT_EQ(i->rect.right, g.w);
        EXPECT_EQ(i->rect.bottom, g.h);
        EXPECT_EQ(i->corner[0].x, 0);
        EXPECT_EQ(i->corner[0].y, g.h);
        EXPECT_EQ(i->corner[2].x, g.w);
        EXPECT_EQ(i->corner[2].y, 0);
    }
}

} // namespace

namespace {

// A gray side as a planar colour page whose planes are padded beyond the
// width: the green plane holds the side, red and blue are dark.
TestImage PaddedPlanar(const TestImage& gray, int32_t pad) {
    TestImage c(gray.width(), gray.height(), 8, 3, 1, gray.width() + pad);
    std::fill(c.bytes().begin(), c.bytes().end(), 0);
    for (int32_t y = 0; y < gray.height(); ++y)
        std::memcpy(c.line(y) + c.sync(), gray.line(y), static_cast<size_t>(gray.width()));
    return c;
}

// The described page without its padding, as the caller sets the detector
// up before any band exists.
CImg::tagIMGSET Unpadded(const TestImage& im) {
    CImg::tagIMGSET s = SetOf(im);
    s.pImg = nullptr;
    s.sync = im.width() * 3;
    return s;
}

} // namespace

TEST(DetectSizeWithDuplex2, ColourBandsReadTheirOwnGreenPlane) {
    Geometry g;
    g.ts = g.bs = std::tan(1.5 * M_PI / 180);
    g.bottom = 1320;
    g.h = 1400;
    const TestImage f = Side(g, false), b = Side(g, true);
    const Both gray = Detect(f, b, 64);
    const TestImage cf = PaddedPlanar(f, 40), cb = PaddedPlanar(b, 40);
    CDetectSizeWithDuplex2 d;
    CDetectSizeWithDuplex2::tagOPTION o = Option();
    ASSERT_EQ(d.Initialize(Unpadded(cf), Unpadded(cb), &o, false), 0u);
    for (int32_t y = 0; y < g.h; y += 64) {
        const int32_t n = std::min(64, g.h - y);
        ASSERT_EQ(d.piece(SetOf(cf, y, n), SetOf(cb, y, n)), 0u);
    }
    Both colour;
    colour.front.ulSize = colour.back.ulSize = kDetectSizeInfoSize;
    o.bFront = 1;
    ASSERT_EQ(d.result(&colour.front, &o), 0u);
    o.bFront = 0;
    ASSERT_EQ(d.result(&colour.back, &o), 0u);
    EXPECT_TRUE(Same(colour.front, gray.front)) << Describe(colour.front) << " vs " << Describe(gray.front);
    EXPECT_TRUE(Same(colour.back, gray.back)) << Describe(colour.back) << " vs " << Describe(gray.back);
}

// The offset is the back image's line against the front's. The side that
// lags carries the offset's lines of backing before the sheet (the caller
// cuts them off its top), the other as many after it: each side's corners
// come out as without the offset.
TEST(DetectSizeWithDuplex2, LaggingSideIsMeasuredFromTheLeadingSidesStart) {
    Geometry g;
    g.ts = g.bs = std::tan(1.5 * M_PI / 180);
    g.bottom = 1320;
    g.h = 1400;
    const Both still = Detect(Side(g, false), Side(g, true), 64);
    constexpr int32_t kLag = 40;
    for (const bool frontLags : {true, false}) {
        SCOPED_TRACE(frontLags ? "front lags" : "back lags");
        Geometry lagging = g, leading = g;
        lagging.h = leading.h = g.h + kLag;
        lagging.top += kLag;
        lagging.bottom += kLag;
        const TestImage f = Side(frontLags ? lagging : leading, false);
        const TestImage b = Side(frontLags ? leading : lagging, true);
        CDetectSizeWithDuplex2::tagOPTION o = Option();
        o.lOffset = frontLags ? -kLag : kLag;
        const Both r = Detect(f, b, 64, o);
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(r.front.corner[i].x, still.front.corner[i].x) << i;
            EXPECT_EQ(r.front.corner[i].y, still.front.corner[i].y) << i;
            EXPECT_EQ(r.back.corner[i].x, still.back.corner[i].x) << i;
            EXPECT_EQ(r.back.corner[i].y, still.back.corner[i].y) << i;
        }
        EXPECT_EQ(r.front.slant.x, still.front.slant.x);
        EXPECT_EQ(r.front.slant.y, still.front.slant.y);
        EXPECT_EQ(r.front.rect.top, still.front.rect.top);
        EXPECT_EQ(r.back.rect.top, still.back.rect.top);
    }
}
