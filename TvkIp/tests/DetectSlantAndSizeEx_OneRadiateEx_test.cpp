// The four-corner detector (mode 13) on generated simplex, duplex and
// dark-backing scans, driven through DetectSlantAndSizeEx as the image
// pipeline drives it.
#include "DetectSlantAndSizeEx_OneRadiateEx.h"

#include "DetectRequestFixture.h"
#include "SheetTruth.h"
#include "TestKit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

using kdtest::SheetSpec;
using kdtest::TestImage;

// A sheet that nearly fills the scanned length, as a feeder scans it.
SheetSpec Sheet(double angle, int32_t spp = 1) {
    SheetSpec s = sheettruth::FedSheet(angle, 60, 40, -17);
    s.shadow = 6;
    s.spp = spp;
    return s;
}

// The same sheet seen from behind: mirrored left to right.
SheetSpec Mirrored(SheetSpec s) {
    s.centerX = s.imageWidth - s.centerX;
    s.angleDeg = -s.angleDeg;
    return s;
}

// The sheet with its shadow along the trailing edge instead.
SheetSpec TrailingShadow(SheetSpec s) {
    s.angleDeg += 180;
    return s;
}

std::string Describe(const tagDETECTRESULTBLOCK& r) {
    char t[256];
    std::snprintf(t, sizeof t,
                  "slant (%d,%d) rect (%d,%d %dx%d) lt (%d,%d) rt (%d,%d) "
                  "lb (%d,%d) rb (%d,%d)",
                  r.slantVector.x, r.slantVector.y, r.rectXY.x, r.rectXY.y, r.rectSize.x,
                  r.rectSize.y, r.leftTop.x, r.leftTop.y, r.rightTop.x, r.rightTop.y,
                  r.leftBottom.x, r.leftBottom.y, r.rightBottom.x, r.rightBottom.y);
    return t;
}

bool Same(const tagDETECTRESULTBLOCK& a, const tagDETECTRESULTBLOCK& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Clockwise skew that a slant vector describes, in degrees of the squared
// image (the vector's y is in lines of the scan); a vector whose x is below
// its y runs down the sheet's left side.
double SkewOf(Tvk::tagPOINT v, double yscale = 1) {
    if (v.x < v.y) return std::atan2(-v.x, v.y / yscale) * 180 / M_PI;
    return std::atan2(v.y / yscale, v.x) * 180 / M_PI;
}

// The sheet's corners as a detector reports them (SheetTruth.h): the right
// side on the last paper column and the bottom side `bottomLines` scan lines
// inside the drawn edge (its last paper line).
using Expected = sheettruth::Quad;

Expected Truth(const SheetSpec& s, double yscale = 1, double bottomLines = 1) {
    return sheettruth::PixelCorners(s, yscale, bottomLines);
}

// Every corner within [low, high] pixels of the truth, y in pixels of the
// squared scan.
void ExpectCorners(const tagDETECTRESULTBLOCK& r, const Expected& e, double low, double high,
                   double yscale = 1) {
    SCOPED_TRACE(Describe(r));
    const std::pair<Tvk::tagPOINT, kdtest::Corner> pairs[] = {
        {r.leftTop, e.lt}, {r.rightTop, e.rt}, {r.rightBottom, e.rb}, {r.leftBottom, e.lb}};
    const char* names[] = {"left-top", "right-top", "right-bottom", "left-bottom"};
    for (int k = 0; k < 4; ++k) {
        const double dx = pairs[k].first.x - pairs[k].second.x;
        const double dy = (pairs[k].first.y - pairs[k].second.y) / yscale;
        EXPECT_GE(dx, low) << names[k] << " x " << pairs[k].first.x << " vs " << pairs[k].second.x;
        EXPECT_LE(dx, high) << names[k] << " x " << pairs[k].first.x << " vs " << pairs[k].second.x;
        EXPECT_GE(dy, low) << names[k] << " y " << pairs[k].first.y << " vs " << pairs[k].second.y;
        EXPECT_LE(dy, high) << names[k] << " y " << pairs[k].first.y << " vs " << pairs[k].second.y;
    }
}

// The trimmed corners against the untrimmed ones: moved inward along the
// sheet's axes by the trims (top, left, right, bottom), or by half the trims
// along the image axes when the slant has a zero component.
void ExpectTrimmed(const tagDETECTRESULTBLOCK& bare, const tagDETECTRESULTBLOCK& trimmed,
                   const int32_t t[4], double angle) {
    SCOPED_TRACE(Describe(bare) + " -> " + Describe(trimmed));
    const Tvk::tagPOINT s = bare.slantVector;
    double ux, uy, k = 1;
    if (s.x == 0 || s.y == 0) {
        ux = 1, uy = 0, k = 0.5;
    } else {
        ux = std::cos(angle * M_PI / 180), uy = std::sin(angle * M_PI / 180);
    }
    const double vx = -uy, vy = ux;
    auto check = [&](Tvk::tagPOINT a, Tvk::tagPOINT b, double along, double down,
                     const char* name) {
        const double ex = a.x + k * (along * ux + down * vx);
        const double ey = a.y + k * (along * uy + down * vy);
        EXPECT_NEAR(b.x, ex, 2) << name;
        EXPECT_NEAR(b.y, ey, 2) << name;
    };
    check(bare.leftTop, trimmed.leftTop, t[1], t[0], "left-top");
    check(bare.rightTop, trimmed.rightTop, -t[2], t[0], "right-top");
    check(bare.rightBottom, trimmed.rightBottom, -t[2], -t[3], "right-bottom");
    check(bare.leftBottom, trimmed.leftBottom, t[1], -t[3], "left-bottom");
    EXPECT_EQ(bare.slantVector.x, trimmed.slantVector.x);
    EXPECT_EQ(bare.slantVector.y, trimmed.slantVector.y);
}

void NoTrims(Mode13Request& m) {
    std::fill(std::begin(m.setting.revise_margin_front), std::end(m.setting.revise_margin_front),
              0);
    std::fill(std::begin(m.setting.revise_margin_back), std::end(m.setting.revise_margin_back), 0);
}

// Slant within 2 pixels across the sheet's width.
void ExpectSlant(const tagDETECTRESULTBLOCK& r, double angle, double width, double yscale = 1) {
    const double skew = SkewOf(r.slantVector, yscale) * M_PI / 180;
    EXPECT_LE(std::fabs(std::tan(skew) - std::tan(angle * M_PI / 180)) * width, 2) << Describe(r);
}

// Runs a page through the interface: bands of `band` lines (0: one whole-page
// command). The back side, when given, moves in step.
void Detect(Mode13Request& m, const TestImage& front, const TestImage* back, int32_t band) {
    tagTVKIMAGEINFO backBand{};
    m.scan.pImg = back ? back->info() : nullptr;
    ASSERT_EQ(m.run(kDssCmdInit, front.info()), 0u);
    if (band <= 0) {
        ASSERT_EQ(m.run(kDssCmdPage, front.info()), 0u);
        return;
    }
    const int32_t h = front.height();
    for (int32_t y = 0; y < h; y += band) {
        const int32_t n = std::min(band, h - y);
        const tagTVKIMAGEINFO f = front.band(y, n);
        if (back) {
            backBand = back->band(y, n);
            m.scan.pImg = &backBand;
        }
        const uint32_t command = y == 0 ? kDssCmdFirst : (y + n >= h ? kDssCmdLast : kDssCmdMid);
        ASSERT_EQ(m.run(command, &f), 0u) << "line " << y;
    }
    ASSERT_EQ(m.run(kDssCmdResult, nullptr), 0u);
}

// Bounds of the corners against the truth (pixels of the squared scan).
// Simplex: the edges put the sides within 2 pixels; the size detector's
// integer corner construction truncates toward zero four times over (0.5 to
// 3 pixels toward the image origin), and the trimming, even with zero trims,
// takes the corners to micrometres and back, truncating both ways (up to one
// more pixel toward the origin).
constexpr double kSimplexLow = -5.5, kSimplexHigh = 0.5;
// Duplex: the edges of both sides within 2 pixels, the meeting points
// truncated once, and the micrometre round trip of the trimming.
constexpr double kDuplexLow = -3.5, kDuplexHigh = 1.5;
// Dark backing: a pixel counts as paper from about a seventh of coverage on
// (level 50 between backing 20 and paper 230), so a slanted side's outermost
// points lie up to a pixel outside it, and the outermost edge points (not a
// fitted line) make each side; the meeting points truncate.
constexpr double kDarkLow = -4.5, kDarkHigh = 2.5;

const double kAngles[] = {0.0, 0.5, -0.5, 2.0, -2.0, 5.0, -5.0};

TEST(OneRadiateEx, SimplexSheets) {
    for (const double yscale : {1.0, 2.0}) {
        for (const double angle : kAngles) {
            SCOPED_TRACE(testing::Message() << "skew " << angle << " dpi 300 x " << 300 * yscale);
            const SheetSpec s = Sheet(angle);
            TestImage im = kdtest::SheetPage(s);
            if (yscale == 2) im = sheettruth::DoubleLines(im);
            // Without trims the corners are the sheet's own.
            Mode13Request bare;
            NoTrims(bare);
            Detect(bare, im, nullptr, 0);
            ExpectSlant(bare.front(), angle, s.sheetWidth, yscale);
            // The size detector squares the scan: its last paper line is a
            // line of the squared scan.
            ExpectCorners(bare.front(), Truth(s, yscale, yscale), kSimplexLow, kSimplexHigh,
                          yscale);

            // Default trims pull every corner inward; bands give the page result.
            Mode13Request whole;
            Detect(whole, im, nullptr, 0);
            if (yscale == 1)
                ExpectTrimmed(bare.front(), whole.front(), whole.detector()->m_trimFront, angle);
            for (const int32_t band : {64, 17, 1000}) {
                Mode13Request banded;
                Detect(banded, im, nullptr, band);
                EXPECT_TRUE(Same(banded.front(), whole.front()))
                    << "band " << band << ": " << Describe(banded.front()) << " vs "
                    << Describe(whole.front());
            }
            // The rectangle lies inside the trimmed bounding box of the sheet.
            const tagDETECTRESULTBLOCK& r = whole.front();
            const auto c = kdtest::SheetCorners(s);
            double l = 1e9, t = 1e9, rr = -1e9, b = -1e9;
            for (const auto& p : c)
                l = std::min(l, p.x), t = std::min(t, p.y * yscale), rr = std::max(rr, p.x),
                b = std::max(b, p.y * yscale);
            EXPECT_GE(r.rectXY.x, l - 1);
            EXPECT_GE(r.rectXY.y, t - 1);
            EXPECT_LE(r.rectXY.x + r.rectSize.x, rr + 1);
            EXPECT_LE(r.rectXY.y + r.rectSize.y, b + 1);
            EXPECT_GT(r.rectSize.x, s.sheetWidth * 0.9);
        }
    }
}

TEST(OneRadiateEx, ResultGroupsFollowTheFlags) {
    const TestImage im = kdtest::SheetPage(Sheet(2.0));
    Mode13Request all;
    Detect(all, im, nullptr, 0);
    const tagDETECTRESULTBLOCK sentinel = [] {
        tagDETECTRESULTBLOCK b;
        std::memset(&b, 0x5A, sizeof b);
        return b;
    }();
    for (const uint32_t flags : {0u, 1u, 2u, 4u, 7u}) {
        SCOPED_TRACE(flags);
        Mode13Request m;
        m.req.basic.dwResultFlag = flags;
        m.req.basic.result = sentinel;
        Detect(m, im, nullptr, 64);
        const tagDETECTRESULTBLOCK& r = m.front();
        auto same = [](Tvk::tagPOINT a, Tvk::tagPOINT b) { return a.x == b.x && a.y == b.y; };
        EXPECT_EQ(same(r.rectXY, all.front().rectXY), (flags & 1) != 0);
        EXPECT_EQ(same(r.rectSize, sentinel.rectSize), (flags & 1) == 0);
        EXPECT_EQ(same(r.leftTop, all.front().leftTop), (flags & 2) != 0);
        EXPECT_EQ(same(r.rightBottom, sentinel.rightBottom), (flags & 2) == 0);
        EXPECT_EQ(same(r.slantVector, all.front().slantVector), (flags & 4) != 0);
    }
}

// Front and back of one sheet. The side whose image shows the leading
// shadow is the one the detector reads the top edge from: the front when
// the request names a shadow (shadowID 1), else the back.
struct DuplexPages {
    SheetSpec front, back;
    TestImage frontImage, backImage;
};

DuplexPages Duplex(double angle, int32_t shadowID, int32_t spp = 1) {
    DuplexPages d;
    d.front = Sheet(angle, spp);
    d.back = Mirrored(d.front);
    const bool frontLeads = shadowID == 1;
    d.frontImage = kdtest::SheetPage(frontLeads ? d.front : TrailingShadow(d.front));
    d.backImage = kdtest::SheetPage(frontLeads ? TrailingShadow(d.back) : d.back);
    return d;
}

TEST(OneRadiateEx, DuplexSheets) {
    for (const int32_t shadowID : {0, 1}) {
        for (const double yscale : {1.0, 2.0}) {
            for (const double angle : kAngles) {
                SCOPED_TRACE(testing::Message() << "skew " << angle << " shadowID " << shadowID
                                                << " dpi 300 x " << 300 * yscale);
                DuplexPages d = Duplex(angle, shadowID);
                if (yscale == 2) {
                    d.frontImage = sheettruth::DoubleLines(d.frontImage);
                    d.backImage = sheettruth::DoubleLines(d.backImage);
                }
                Mode13Request bare(true, shadowID);
                NoTrims(bare);
                Detect(bare, d.frontImage, &d.backImage, 0);
                ExpectSlant(bare.front(), angle, d.front.sheetWidth, yscale);
                ExpectSlant(bare.back(), -angle, d.back.sheetWidth, yscale);
                // The duplex detector works on the scan's own lines: the last
                // paper line is one line inside at any resolution.
                ExpectCorners(bare.front(), Truth(d.front, yscale), kDuplexLow, kDuplexHigh,
                              yscale);
                ExpectCorners(bare.back(), Truth(d.back, yscale), kDuplexLow, kDuplexHigh, yscale);
                if (yscale != 1 || (angle != 0 && angle != 2 && angle != -5)) continue;
                Mode13Request whole(true, shadowID);
                Detect(whole, d.frontImage, &d.backImage, 0);
                ExpectTrimmed(bare.front(), whole.front(), whole.detector()->m_trimFront, angle);
                ExpectTrimmed(bare.back(), whole.back(), whole.detector()->m_trimBack, -angle);
                for (const int32_t band : {64, 7}) {
                    Mode13Request banded(true, shadowID);
                    Detect(banded, d.frontImage, &d.backImage, band);
                    EXPECT_TRUE(Same(banded.front(), whole.front())) << Describe(banded.front());
                    EXPECT_TRUE(Same(banded.back(), whole.back())) << Describe(banded.back());
                }
            }
        }
    }
}

TEST(OneRadiateEx, DuplexColourAndMissingShadow) {
    // Colour pages read their green samples, in either layout.
    const DuplexPages gray = Duplex(2.0, 1);
    Mode13Request g(true, 1);
    Detect(g, gray.frontImage, &gray.backImage, 64);
    for (const uint32_t order : {0u, 1u}) {
        DuplexPages c = Duplex(2.0, 1, 3);
        if (order == 1) {
            SheetSpec f = c.front, b = TrailingShadow(c.back);
            f.order = b.order = 1;
            c.frontImage = kdtest::SheetPage(f);
            c.backImage = kdtest::SheetPage(b);
        }
        Mode13Request m(true, 1);
        Detect(m, c.frontImage, &c.backImage, 64);
        EXPECT_TRUE(Same(m.front(), g.front())) << "order " << order << Describe(m.front());
        EXPECT_TRUE(Same(m.back(), g.back())) << "order " << order << Describe(m.back());
    }
    // Without the trailing shadow there is no bottom edge: the upright
    // fallback rectangle, trimmed.
    DuplexPages d = Duplex(2.0, 1);
    SheetSpec noShadow = Mirrored(d.front);
    noShadow.shadow = 0;
    d.backImage = kdtest::SheetPage(noShadow);
    Mode13Request m(true, 1);
    Detect(m, d.frontImage, &d.backImage, 64);
    EXPECT_EQ(m.front().slantVector.x, 1) << Describe(m.front());
    EXPECT_EQ(m.front().slantVector.y, 0);
    EXPECT_EQ(m.back().slantVector.x, 1) << Describe(m.back());
}

TEST(OneRadiateEx, DarkBackingSheets) {
    for (const int32_t spp : {1, 3}) {
        for (const double yscale : {1.0, 2.0}) {
            for (const double angle : kAngles) {
                SCOPED_TRACE(testing::Message() << "skew " << angle << " spp " << spp
                                                << " dpi 300 x " << 300 * yscale);
                SheetSpec s = Sheet(angle, spp);
                s.backing = 20;
                s.shadow = 0;
                TestImage im = kdtest::SheetPage(s);
                if (yscale == 2) im = sheettruth::DoubleLines(im);
                Mode13Request bare(true, 0);
                bare.scanner.bIsBackBlack = 1;
                NoTrims(bare);
                Detect(bare, im, &im, 0);
                ExpectSlant(bare.front(), angle, s.sheetWidth, yscale);
                ExpectCorners(bare.front(), Truth(s, yscale), kDarkLow, kDarkHigh, yscale);
                if (yscale != 1 || (angle != 0 && angle != 2 && angle != -5)) continue;
                Mode13Request whole(true, 0); // duplex is ignored on a dark backing
                whole.scanner.bIsBackBlack = 1;
                std::memset(&whole.scan.back, 0x5A, sizeof whole.scan.back);
                const tagDETECTRESULTBLOCK untouched = whole.scan.back;
                Detect(whole, im, &im, 0);
                ExpectTrimmed(bare.front(), whole.front(), whole.detector()->m_trimFront, angle);
                EXPECT_TRUE(Same(whole.back(), untouched));
                Mode13Request banded(true, 0);
                banded.scanner.bIsBackBlack = 1;
                Detect(banded, im, &im, 64);
                EXPECT_TRUE(Same(banded.front(), whole.front())) << Describe(banded.front());
            }
        }
    }
}

TEST(OneRadiateEx, BlankScanFallsBackUpright) {
    // A blank scan falls back to the whole image, upright; with no slant
    // direction the corners move by half their trims (22, 11, 11, 11 with a
    // shadow at 300 dpi), the rectangle by the full trims.
    const TestImage im = TestImage::Gray(600, 400, 250);
    Mode13Request m;
    Detect(m, im, nullptr, 0);
    const tagDETECTRESULTBLOCK& r = m.front();
    SCOPED_TRACE(Describe(r));
    EXPECT_EQ(r.slantVector.x, 1);
    EXPECT_EQ(r.slantVector.y, 0);
    EXPECT_EQ(r.leftTop.x, 5);
    EXPECT_EQ(r.leftTop.y, 11);
    EXPECT_EQ(r.rightTop.x, 600 - 5);
    EXPECT_EQ(r.rightTop.y, 11);
    EXPECT_EQ(r.leftBottom.x, 5);
    EXPECT_EQ(r.rightBottom.y, r.leftBottom.y);
    EXPECT_EQ(r.rectXY.x, 11);
    EXPECT_EQ(r.rectXY.y, 22);
    EXPECT_EQ(r.rectSize.x, 600 - 22);
    EXPECT_EQ(r.rectXY.y + r.rectSize.y, r.leftBottom.y + 5 - 11);
}

} // namespace

namespace {

TEST(OneRadiateEx, DegeneratePagesGiveUprightResults) {
    // Blank, black, tiny and single-line scans in every way of working end
    // upright (or refused), never in a fault.
    struct Page {
        const char* what;
        int32_t w, h;
        uint8_t level;
    } pages[] = {{"white", 300, 200, 250},
                 {"black", 300, 200, 10},
                 {"one pixel", 1, 1, 250},
                 {"one line", 300, 1, 128},
                 {"one column", 1, 300, 128}};
    enum Way { kSimplex, kDuplex, kDark };
    for (const Page& p : pages) {
        for (const Way way : {kSimplex, kDuplex, kDark}) {
            for (const int32_t band : {0, 7}) {
                SCOPED_TRACE(testing::Message() << p.what << " way " << way << " band " << band);
                const TestImage im = TestImage::Gray(p.w, p.h, p.level);
                Mode13Request m(way == kDuplex, 1);
                m.scanner.bIsBackBlack = way == kDark;
                m.scan.pImg = im.info();
                if (m.run(kDssCmdInit, im.info()) != 0) continue;
                uint32_t rc = 0;
                if (band == 0) {
                    rc = m.run(kDssCmdPage, im.info());
                } else {
                    for (int32_t y = 0; y < p.h && rc == 0; y += band) {
                        const int32_t n = std::min(band, p.h - y);
                        const tagTVKIMAGEINFO b = im.band(y, n);
                        m.scan.pImg = &b;
                        rc = m.run(
                            y == 0 ? kDssCmdFirst : (y + n >= p.h ? kDssCmdLast : kDssCmdMid), &b);
                        m.scan.pImg = im.info();
                    }
                    if (rc == 0) rc = m.run(kDssCmdResult, nullptr);
                }
                if (rc == 0) {
                    EXPECT_EQ(m.front().slantVector.y, 0) << Describe(m.front());
                }
            }
        }
    }
}

} // namespace

namespace {

// The white backing as a feeder scans it: the leading edge from a few lines
// below the scan's first line on, backing after the trailing edge, sensor
// noise, blur and JPEG-like loss. Every result is either the sheet (slant
// within 0.1 degrees, corners within the simplex bounds) or the upright
// fallback over the whole scan; never another crop reported as success.
// Rows marked `found` must give the sheet.
TEST(OneRadiateEx, WhiteBackingIsRightOrRefused) {
    const struct Row {
        double angle;
        int32_t leadIn, trailing;
        double sigma;
        bool blur, jpeg;
        int32_t overscan; // lines the request lets the scan run past the sheet
        bool found;
    } rows[] = {
        // Leading edge within two comparison windows of the first line: the
        // clipped part of the edge once tilted the slant by its height.
        {1.0, 25, 40, 0, false, false, 0, true},
        {2.5, 20, 40, 0, false, false, 0, true},
        {-1.0, 30, 40, 0, false, false, 0, true},
        {5.0, 10, 40, 0, false, false, 0, true},
        {-1.0, 12, 40, 0, false, false, 0, false},
        {0.3, 10, 40, 0, false, false, 0, false},
        {0.3, 25, 40, 2, false, false, 0, false},
        // Backing after the trailing edge: beyond a centimetre the scan is
        // longer than the sheet allows unless the request says otherwise.
        {1.0, 60, 150, 0, false, false, 0, false},
        {1.0, 60, 150, 0, false, false, 300, true},
        {-2.5, 40, 400, 1, false, false, 600, true},
        // Noise, blur and loss.
        {1.0, 60, 40, 3, false, false, 0, true},
        {-2.5, 60, 40, 3, true, true, 0, true},
        {5.0, 60, 40, 5, false, false, 0, false},
        {-5.0, 60, 40, 6, false, false, 0, false},
        {2.5, 20, 40, 6, true, false, 0, false},
        {0.0, 40, 40, 6, false, true, 0, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message()
                     << "skew " << row.angle << " lead-in " << row.leadIn << " trailing "
                     << row.trailing << " sigma " << row.sigma << " blur " << row.blur << " jpeg "
                     << row.jpeg << " overscan " << row.overscan);
        SheetSpec s = sheettruth::FedSheet(row.angle, row.leadIn, row.trailing);
        s.shadow = 6;
        TestImage im = kdtest::SheetPage(s);
        if (row.blur) kdtest::BoxBlur(im, 1);
        kdtest::AddGaussianNoise(im, row.sigma, 7);
        if (row.jpeg) kdtest::JpegLikeLoss(im, 12);
        Mode13Request m;
        NoTrims(m);
        m.scan.bottomMargin = row.overscan;
        Detect(m, im, nullptr, 64);
        const tagDETECTRESULTBLOCK& r = m.front();
        const bool refused = r.slantVector.y == 0 && r.leftTop.x == 0 && r.leftTop.y == 0 &&
                             r.rightTop.x == im.width() && r.rightBottom.x == im.width();
        if (refused) {
            EXPECT_FALSE(row.found) << Describe(r);
            continue;
        }
        EXPECT_NEAR(SkewOf(r.slantVector), row.angle, 0.1) << Describe(r);
        // Strong noise breaks the shadow's run in a few columns, which then
        // read the edge a line or two early.
        const double slack = row.sigma >= 5 ? 2 : 0;
        ExpectCorners(r, Truth(s), kSimplexLow - slack, kSimplexHigh + slack);
    }
}

} // namespace
