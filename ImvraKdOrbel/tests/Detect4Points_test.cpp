#include "Detect4Points.h"

#include "../../TvkIp/tests/SheetTruth.h"
#include "GeometryHelpers.h"
#include "Shading.h"
#include "TestKit.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace Tvk;
using namespace Tvk::Imvra;
using namespace Tvk::Imvra::KD730;
using geomtest::Bytes;
using geomtest::Px;
using geomtest::ToCImg;
using kdtest::SheetSpec;

namespace {

using Tvk::Imvra::CImg;

// A sheet nearly filling the scanned length, its leading edge casting a
// shadow, as the feeder scans it.
SheetSpec Sheet(double angle) {
    SheetSpec s = sheettruth::FedSheet(angle, 60, 40, -17);
    s.shadow = 6;
    return s;
}

CImg Page(const SheetSpec& s) {
    kdtest::TestImage t = kdtest::SheetPage(s);
    t.info()->ulRGBOrder = 0;
    return ToCImg(t);
}

tagDETECT4POINTSINFO Corners(uint32_t size) {
    tagDETECT4POINTSINFO c{};
    c.ulSize = size;
    return c;
}

tagDETECT4POINTSSETINFO Settings(tagDETECT4POINTSINFO* c, const CImg& page) {
    tagDETECT4POINTSSETINFO s{};
    s.ulSize = kDetect4PointsSetInfoSize;
    s.pInfo = c;
    std::fill(std::begin(s.lSensor), std::end(s.lSensor), -1);
    s.lWidth = page.info().lWidth;
    s.lHeight = page.info().lHeight;
    s.bFront = 1;
    return s;
}

// Runs the page through the stage in bands of `band` lines (0: whole).
template <class Stage, class Info>
int RunPage(CIPController<Stage>& c, const CImg& page, int32_t band, Info* info) {
    if (band == 0) {
        CImg whole = page;
        return c.IPComplete(whole, info);
    }
    std::vector<CImg> bands = geomtest::Bands(page, band);
    c.setFirst();
    for (size_t k = 0; k + 1 < bands.size(); ++k)
        if (const int r = c.IPMiddle(bands[k], info); r != RTN_OK) return r;
    return c.IPLast(bands.back(), info);
}

std::string Describe(const tagDETECT4POINTSINFO& c) {
    char t[200];
    std::snprintf(t, sizeof t, "lt %d,%d rt %d,%d lb %d,%d rb %d,%d rect %d,%d,%d,%d",
                  c.LeftTop.x, c.LeftTop.y, c.RightTop.x, c.RightTop.y, c.LeftBottom.x,
                  c.LeftBottom.y, c.RightBottom.x, c.RightBottom.y, c.rectDoc.left, c.rectDoc.top,
                  c.rectDoc.right, c.rectDoc.bottom);
    return t;
}

// Every corner within the detector's reach of the truth: its edges lie
// within 2 pixels; its integer corner construction truncates toward the
// image origin by up to 3.5 pixels more.
void ExpectCorners(const tagDETECT4POINTSINFO& c, const sheettruth::Quad& q, double low = -5.5,
                   double high = 2) {
    SCOPED_TRACE(Describe(c));
    const std::pair<tagKDPOINT, kdtest::Corner> pairs[] = {
        {c.LeftTop, q.lt}, {c.RightTop, q.rt}, {c.RightBottom, q.rb}, {c.LeftBottom, q.lb}};
    for (const auto& [p, t] : pairs) {
        EXPECT_GE(p.x - t.x, low) << p.x << " vs " << t.x;
        EXPECT_LE(p.x - t.x, high) << p.x << " vs " << t.x;
        EXPECT_GE(p.y - t.y, low) << p.y << " vs " << t.y;
        EXPECT_LE(p.y - t.y, high) << p.y << " vs " << t.y;
    }
}

bool SameResults(const tagDETECT4POINTSINFO& a, const tagDETECT4POINTSINFO& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(Detect4Points, SimplexSheetsInBandsAndWhole) {
    for (const double angle : {0.0, 2.0, -5.0}) {
        SCOPED_TRACE(angle);
        const SheetSpec s = Sheet(angle);
        const CImg page = Page(s);
        tagDETECT4POINTSINFO whole = Corners(kDetect4PointsInfoMinSize);
        {
            CIPController<CDetect4Points> c;
            c.setStage(new CDetect4Points, IPMODE_BAND_FLUSH);
            tagDETECT4POINTSSETINFO set = Settings(&whole, page);
            ASSERT_EQ(RunPage(c, page, 0, &set), RTN_OK);
            EXPECT_FALSE(c.stage()->detectorOpen());
        }
        ExpectCorners(whole, sheettruth::PixelCorners(s, 1, 1));
        // The rectangle holds the corners.
        EXPECT_LE(whole.rectDoc.left, whole.LeftTop.x + 1);
        EXPECT_GE(whole.rectDoc.right, whole.RightBottom.x - 1);
        for (const int32_t band : {64, 333}) {
            tagDETECT4POINTSINFO banded = Corners(kDetect4PointsInfoMinSize);
            CIPController<CDetect4Points> c;
            c.setStage(new CDetect4Points, IPMODE_BAND_FLUSH);
            tagDETECT4POINTSSETINFO set = Settings(&banded, page);
            ASSERT_EQ(RunPage(c, page, band, &set), RTN_OK);
            EXPECT_TRUE(SameResults(banded, whole))
                << band << ": " << Describe(banded) << " vs " << Describe(whole);
            EXPECT_FALSE(c.stage()->detectorOpen());
        }
    }
}

TEST(Detect4Points, DarkBackingSheets) {
    for (const double angle : {0.0, 3.0}) {
        SheetSpec s = Sheet(angle);
        s.backing = 20;
        s.shadow = 0;
        const CImg page = Page(s);
        tagDETECT4POINTSINFO whole = Corners(kDetect4PointsInfoMinSize);
        tagDETECT4POINTSINFO banded = Corners(kDetect4PointsInfoMinSize);
        for (auto [band, rec] : {std::pair{0, &whole}, std::pair{100, &banded}}) {
            CIPController<CDetect4Points> c;
            c.setStage(new CDetect4Points, IPMODE_BAND_FLUSH);
            tagDETECT4POINTSSETINFO set = Settings(rec, page);
            set.bBlackBack = 1;
            ASSERT_EQ(RunPage(c, page, band, &set), RTN_OK);
        }
        ExpectCorners(whole, sheettruth::PixelCorners(s, 1, 1), -4.5, 2.5);
        EXPECT_TRUE(SameResults(banded, whole)) << Describe(banded) << " vs " << Describe(whole);
    }
}

TEST(Detect4Points, CornerRecordSizes) {
    const CImg page = Page(Sheet(1.0));
    struct Row {
        uint32_t size;
        int setInfo;
        bool trims;
    } rows[] = {{83, RTN_PAR, false},
                {84, RTN_OK, false},
                {100, RTN_OK, true},
                {104, RTN_OK, true},
                {108, RTN_OK, true}};
    for (const Row& row : rows) {
        tagDETECT4POINTSINFO c = Corners(row.size);
        c.lTopTrim = 11, c.lBottomTrim = 12, c.lLeftTrim = 13, c.lRightTrim = 14;
        tagDETECT4POINTSSETINFO set = Settings(&c, page);
        CDetect4Points stage;
        CImg img = page;
        EXPECT_EQ(stage.setInfo(img, &set), row.setInfo) << row.size;
        EXPECT_EQ(stage.detectorOpen(), row.setInfo == RTN_OK) << row.size;

        tagDETECT4POINTSREQUEST r;
        set.bTurned = 1;
        set.lSensor[0] = 5, set.lSensor[3] = 8;
        CDetect4Points::BuildRequest(r, set, nullptr, kDssCmdFirst);
        const int32_t* t = r.setting.revise_margin_front;
        if (row.trims) {
            EXPECT_EQ(t[0], 11); // top, left, right, bottom
            EXPECT_EQ(t[1], 13);
            EXPECT_EQ(t[2], 14);
            EXPECT_EQ(t[3], 12);
        } else {
            EXPECT_EQ(t[0] | t[1] | t[2] | t[3], 0) << row.size;
        }
        EXPECT_EQ(r.setting.bIsBaseBack[0], 1);
        EXPECT_EQ(r.setting.bIsBaseBack[1], 1);
        EXPECT_EQ(r.scanner.sensorPos[0].x, 5);
        EXPECT_EQ(r.scanner.sensorPos[1].y, 8);
        EXPECT_EQ(r.scan.shadowID, 1);
        EXPECT_EQ(r.req.basic.cbsize, kOneRadiateExSize);
        EXPECT_EQ(r.req.basic.dwMode, kDssModeOneRadiateEx);
        EXPECT_EQ(r.req.basic.dwResultFlag, 31u);
    }
    CDetect4Points stage;
    CImg img = page;
    tagDETECT4POINTSINFO c = Corners(84);
    tagDETECT4POINTSSETINFO set = Settings(&c, page);
    set.ulSize -= 4;
    EXPECT_EQ(stage.setInfo(img, &set), RTN_PAR);
    EXPECT_EQ(stage.setInfo(img, nullptr), RTN_PAR);
}

TEST(Detect4Points, LastSettingsTakeOnlySizeAndMargins) {
    const SheetSpec s = Sheet(2.0);
    const CImg page = Page(s);
    tagDETECT4POINTSINFO first = Corners(100);
    tagDETECT4POINTSINFO second = Corners(100);
    second.Size = {777, 888};
    second.lTopMargin = 1, second.lBottomMargin = 2, second.lLeftMargin = 3,
    second.lRightMargin = 4;
    second.lTopTrim = 99;
    tagDETECT4POINTSSETINFO set = Settings(&first, page);
    tagDETECT4POINTSSETINFO last = Settings(&second, page);
    CIPController<CDetect4Points> c;
    c.setStage(new CDetect4Points, IPMODE_BAND_FLUSH);
    std::vector<CImg> bands = geomtest::Bands(page, 200);
    c.setFirst();
    for (size_t k = 0; k + 1 < bands.size(); ++k) ASSERT_EQ(c.IPMiddle(bands[k], &set), RTN_OK);
    ASSERT_EQ(c.IPLast(bands.back(), &last), RTN_OK);
    EXPECT_EQ(first.Size.cx, 777);
    EXPECT_EQ(first.lRightMargin, 4);
    EXPECT_EQ(first.lTopTrim, 0);   // trims stay
    EXPECT_GT(first.RightTop.x, 0); // the results go to the first record
    EXPECT_EQ(second.RightTop.x, 0);
    const int32_t y0 = static_cast<int32_t>(bands.size() - 1) * 200;
    EXPECT_EQ(Bytes(bands.back()), Bytes(geomtest::Slice(page, y0, page.info().lHeight - y0)));
}

// ---------------------------------------------------------------------------
// Duplex

struct Sheets {
    SheetSpec front, back;
    CImg frontPage, backPage;
};

Sheets DuplexSheet(double angle) {
    Sheets d;
    d.front = Sheet(angle);
    d.back = d.front;
    d.back.centerX = d.back.imageWidth - d.back.centerX; // seen from behind
    d.back.angleDeg = -d.back.angleDeg;
    SheetSpec trailing = d.back;
    trailing.angleDeg += 180; // its shadow along the trailing edge
    d.frontPage = Page(d.front);
    d.backPage = Page(trailing);
    return d;
}

tagDETECT4POINTSDUPLEXINFO DuplexSettings(tagDETECT4POINTSINFO* f, tagDETECT4POINTSINFO* b,
                                          const CImg& page, CImg* back) {
    tagDETECT4POINTSDUPLEXINFO s{};
    s.ulSize = kDetect4PointsDuplexInfoSize;
    s.pFront = f;
    s.pBack = b;
    std::fill(std::begin(s.lSensor), std::end(s.lSensor), -1);
    s.lWidth = page.info().lWidth;
    s.lHeight = page.info().lHeight;
    s.pBackImage = back;
    s.lShadowID = 1;
    return s;
}

TEST(Detect4PointsDuplex, BothSidesInBandsAndWhole) {
    for (const double angle : {0.0, -2.0}) {
        SCOPED_TRACE(angle);
        Sheets d = DuplexSheet(angle);
        tagDETECT4POINTSINFO wf = Corners(108), wb = Corners(108);
        {
            CImg front = d.frontPage, back = d.backPage;
            tagDETECT4POINTSDUPLEXINFO set = DuplexSettings(&wf, &wb, front, &back);
            CIPController<CDetect4PointsDuplex> c;
            c.setStage(new CDetect4PointsDuplex, IPMODE_BAND_FLUSH);
            ASSERT_EQ(c.IPComplete(front, &set), RTN_OK);
        }
        ExpectCorners(wf, sheettruth::PixelCorners(d.front, 1, 1), -3.5, 2);
        ExpectCorners(wb, sheettruth::PixelCorners(d.back, 1, 1), -3.5, 2);
        // The bounding rectangle of the corners.
        EXPECT_EQ(wf.rectDoc.right, std::max(wf.RightTop.x, wf.RightBottom.x));
        EXPECT_EQ(wf.rectDoc.bottom, std::max(wf.LeftBottom.y, wf.RightBottom.y));

        tagDETECT4POINTSINFO bf = Corners(108), bb = Corners(108);
        std::vector<CImg> fronts = geomtest::Bands(d.frontPage, 128);
        std::vector<CImg> backs = geomtest::Bands(d.backPage, 128);
        CIPController<CDetect4PointsDuplex> c;
        c.setStage(new CDetect4PointsDuplex, IPMODE_BAND_FLUSH);
        c.setFirst();
        for (size_t k = 0; k < fronts.size(); ++k) {
            tagDETECT4POINTSDUPLEXINFO set = DuplexSettings(&bf, &bb, d.frontPage, &backs[k]);
            const int r = k + 1 < fronts.size() ? c.IPMiddle(fronts[k], &set)
                                                : c.IPLast(fronts[k], &set);
            ASSERT_EQ(r, RTN_OK) << k;
        }
        EXPECT_TRUE(SameResults(bf, wf)) << Describe(bf) << " vs " << Describe(wf);
        EXPECT_TRUE(SameResults(bb, wb)) << Describe(bb) << " vs " << Describe(wb);
        EXPECT_FALSE(c.stage()->detectorOpen());
    }
}

TEST(Detect4PointsDuplex, WholePageFormCollectsTheBands) {
    Sheets d = DuplexSheet(1.0);
    tagDETECT4POINTSINFO wf = Corners(108), wb = Corners(108);
    CImg front = d.frontPage, back = d.backPage;
    tagDETECT4POINTSDUPLEXINFO whole = DuplexSettings(&wf, &wb, front, &back);
    whole.bWholePage = 1;
    CIPController<CDetect4PointsDuplex> one;
    one.setStage(new CDetect4PointsDuplex, IPMODE_BAND_FLUSH);
    const int rc = one.IPComplete(front, &whole);
    ASSERT_EQ(rc, RTN_OK);
    ExpectCorners(wf, sheettruth::PixelCorners(d.front, 1, 1), -3.5, 2);

    tagDETECT4POINTSINFO bf = Corners(108), bb = Corners(108);
    std::vector<CImg> fronts = geomtest::Bands(d.frontPage, 300);
    std::vector<CImg> backs = geomtest::Bands(d.backPage, 300);
    CIPController<CDetect4PointsDuplex> c;
    c.setStage(new CDetect4PointsDuplex, IPMODE_BAND_FLUSH);
    c.setFirst();
    for (size_t k = 0; k < fronts.size(); ++k) {
        tagDETECT4POINTSDUPLEXINFO set = DuplexSettings(&bf, &bb, d.frontPage, &backs[k]);
        set.bWholePage = 1;
        const int r =
            k + 1 < fronts.size() ? c.IPMiddle(fronts[k], &set) : c.IPLast(fronts[k], &set);
        if (k + 1 < fronts.size()) {
            ASSERT_EQ(r, RTN_OK) << k;
            EXPECT_FALSE(fronts[k].isNull()); // the bands pass on unchanged
        } else {
            EXPECT_EQ(r, rc);
        }
    }
    // The last band carries the joined page of each side.
    EXPECT_EQ(Bytes(fronts.back()), Bytes(d.frontPage));
    EXPECT_EQ(Bytes(backs.back()), Bytes(d.backPage));
    EXPECT_TRUE(SameResults(bf, wf)) << Describe(bf) << " vs " << Describe(wf);
    EXPECT_TRUE(SameResults(bb, wb)) << Describe(bb) << " vs " << Describe(wb);
}

TEST(Detect4PointsDuplex, SettingsChecks) {
    const CImg page = Page(Sheet(0));
    CImg back = page;
    tagDETECT4POINTSINFO f = Corners(108), b = Corners(108), shortRec = Corners(104);
    struct Row {
        const char* name;
        tagDETECT4POINTSDUPLEXINFO set;
        bool null;
    } rows[] = {
        {"null", {}, true},
        {"size", DuplexSettings(&f, &b, page, &back), false},
        {"no back", DuplexSettings(&f, nullptr, page, &back), false},
        {"short front", DuplexSettings(&shortRec, &b, page, &back), false},
        {"100 back", DuplexSettings(&f, &shortRec, page, &back), false},
    };
    rows[1].set.ulSize = 52;
    shortRec.ulSize = 100;
    for (Row& row : rows) {
        CDetect4PointsDuplex stage;
        CImg img = page;
        void* info = row.null ? nullptr : &row.set;
        EXPECT_EQ(stage.setInfo(img, info), RTN_PAR) << row.name;
        EXPECT_EQ(stage.setInfoMiddle(img, info), RTN_PAR) << row.name;
        EXPECT_EQ(stage.setInfoLast(img, info), RTN_PAR) << row.name;
        EXPECT_FALSE(stage.detectorOpen());
    }
}

TEST(Detect4PointsDuplex, WholePageFormCarriesTheCarrierSheetBlocks) {
    tagDETECT4POINTSINFO f = Corners(108), b = Corners(108);
    f.lTopTrim = 30, b.lTopTrim = 60; // 60 lines at 300 dpi: 5080 micrometres
    f.lLeftTrim = 7, b.lBottomTrim = 9;
    CImg page;
    ASSERT_TRUE(page.createImg(64, 64, 8, 1, 0, 300, 300));
    tagDETECT4POINTSDUPLEXINFO set = DuplexSettings(&f, &b, page, &page);
    set.bWholePage = 1;
    set.bTurned[1] = 1;
    set.lOffset = 42;
    tagDETECT4POINTSREQUEST r;
    ASSERT_EQ(CDetect4PointsDuplex::BuildRequest(r, set, page.info(), &page.info(), nullptr,
                                                 kDssCmdPage),
              RTN_OK);
    EXPECT_EQ(r.setting.dwProcessFlag, 28u);
    EXPECT_EQ(r.setting.csinfo_count, 2u);
    EXPECT_EQ(r.setting.pCSInfo, r.carrier);
    EXPECT_EQ(r.setting.duplex_cs_edge_th[0], 30);
    EXPECT_EQ(r.setting.duplex_cs_br_th[1], 110);
    EXPECT_EQ(r.setting.revise_margin_front[1], 7);
    EXPECT_EQ(r.setting.revise_margin_back[3], 9);
    EXPECT_EQ(r.setting.bIsBaseBack[0], 0);
    EXPECT_EQ(r.setting.bIsBaseBack[1], 1);
    EXPECT_EQ(r.scan.DuplexScan, 1);
    EXPECT_EQ(r.scan.pImg, &page.info());
    EXPECT_EQ(r.scan.bCarrierSheetMode, 1);
    EXPECT_EQ(r.scanner.duplex_offset, 42);
    for (int k = 0; k < 2; ++k) {
        const tagONERADIATEEX_CSINFO& b = r.carrier[k];
        EXPECT_EQ(b.cbsize, kCSInfoSize);
        EXPECT_EQ(b.dwTag, 3u);
        EXPECT_EQ(b.th_br[0], 0x282828u);
        EXPECT_EQ(b.len_belt, 9700 - 5080);
        EXPECT_EQ(b.len_ignore, 0); // 1000 - 5080 held at 0
        EXPECT_EQ(b.dwTh_black, 57344u);
        EXPECT_EQ(b.SheetSize.x, 216000);
        EXPECT_EQ(b.SheetSize.y, k == 0 ? 320000 : 379000);
        EXPECT_EQ(b.SheetMargin[0], 11000);
        EXPECT_EQ(b.SheetMargin[3], 5000);
    }
    // Without a vertical resolution the trim has no length.
    page.info().lYResolution = 0;
    EXPECT_EQ(CDetect4PointsDuplex::BuildRequest(r, set, page.info(), &page.info(), nullptr,
                                                 kDssCmdPage),
              RTN_PAR);
    CDetect4PointsDuplex stage;
    EXPECT_EQ(stage.setInfo(page, &set), RTN_PAR);
    // The band form sends neither flag nor blocks.
    set.bWholePage = 0;
    ASSERT_EQ(CDetect4PointsDuplex::BuildRequest(r, set, page.info(), &page.info(), nullptr,
                                                 kDssCmdFirst),
              RTN_OK);
    EXPECT_EQ(r.setting.dwProcessFlag, 0u);
    EXPECT_EQ(r.setting.pCSInfo, nullptr);
    EXPECT_EQ(r.setting.duplex_cs_edge_th[0], -1);
}

// ---------------------------------------------------------------------------
// Cut-out

CImg Ramp(int32_t w, int32_t h) {
    CImg img;
    EXPECT_TRUE(img.createImg(w, h, 8, 3, 0, 300, 300));
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            uint8_t* p = img.info().lpImage + y * img.info().lSync + 3 * x;
            p[0] = static_cast<uint8_t>(x), p[1] = static_cast<uint8_t>(y), p[2] = 7;
        }
    return img;
}

TEST(CutOut, RectanglesAgainstThePage) {
    KD730::CShading platen;
    geomtest::SetPlaten(platen, 1, 2, 3);
    const uint32_t bg = 0x030201;
    struct Row {
        const char* name;
        int32_t sx, sy, sw, sh, dx, dy, dw, dh;
        // Expected: destination pixel (x, y) shows source (x + ox, y + oy)
        // inside [x0, x1) x [y0, y1), else the platen colour.
        int32_t ox, oy, x0, x1, y0, y1;
    } rows[] = {
        {"plain", 5, 4, 20, 10, 0, 0, 20, 10, 5, 4, 0, 20, 0, 10},
        {"destination offset -10", 0, 0, 30, 10, -10, 0, 30, 10, 10, 0, 0, 20, 0, 10},
        {"source offset -10", -10, 0, 30, 10, 0, 0, 30, 10, -10, 0, 10, 30, 0, 10},
        {"beyond the page", 30, 15, 20, 20, 0, 0, 20, 20, 30, 15, 0, 10, 0, 5},
        {"outside the page", 50, 0, 10, 10, 0, 0, 10, 10, 0, 0, 0, 0, 0, 0},
        {"larger destination", 0, 0, 40, 20, 5, 3, 50, 30, -5, -3, 5, 45, 3, 23},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const CImg page = Ramp(40, 20);
        CImg img = page;
        tagCUTOUTINFO info{kCutOutInfoSize, r.sx, r.sy, r.sw, r.sh, r.dx, r.dy, r.dw, r.dh,
                           &platen};
        CIPController<CCutOut> c;
        c.setStage(new CCutOut, IPMODE_WHOLE_PAGE);
        ASSERT_EQ(c.IPComplete(img, &info), RTN_OK);
        ASSERT_EQ(img.info().lWidth, r.dw);
        ASSERT_EQ(img.info().lHeight, r.dh);
        for (int32_t y = 0; y < r.dh; ++y)
            for (int32_t x = 0; x < r.dw; ++x) {
                const bool inside = x >= r.x0 && x < r.x1 && y >= r.y0 && y < r.y1;
                ASSERT_EQ(Px(img, x, y), inside ? Px(page, x + r.ox, y + r.oy) : bg)
                    << x << "," << y;
            }
    }
}

TEST(CutOut, RefusalsAndNothingToDo) {
    CCutOut stage;
    CImg page = Ramp(8, 4);
    const std::vector<uint8_t> before = Bytes(page);
    tagCUTOUTINFO info{kCutOutInfoSize, 0, 0, 8, 4, 0, 0, 8, 0, nullptr};
    EXPECT_EQ(stage.IPInterface(page, &info), RTN_OK); // height 0
    EXPECT_EQ(Bytes(page), before);
    info.lDstHeight = 4;
    info.ulSize = 40;
    EXPECT_EQ(stage.setInfo(page, &info), RTN_PAR);
    info.ulSize = kCutOutInfoSize;
    CImg planar;
    ASSERT_TRUE(planar.createImg(8, 4, 8, 3, 1, 300, 300));
    EXPECT_EQ(stage.IPInterface(planar, &info), RTN_PAR);
    EXPECT_EQ(planar.info().ulRGBOrder, 1u);
    CImg binary;
    ASSERT_TRUE(binary.createImg(8, 4, 1, 1, 0, 300, 300));
    EXPECT_EQ(stage.IPInterface(binary, &info), RTN_PAR);
    EXPECT_EQ(stage.IPFirst(page), RTN_UNSUPPORTED);
}

TEST(CutOut, EngineSettingsForPageAndCard) {
    tagIMAGEINFO page{}, output{}, input{};
    page.lWidth = 1000, page.lHeight = 1400, page.lYResolution = 200;
    output.lXpos = 20, output.lYpos = 30, output.lWidth = 800, output.lHeight = 1000;
    input.lYResolution = 400;
    tagDETECT4POINTSINFO corners = Corners(108);
    corners.rectDoc = {100, 50, 500, 300};
    tagFEEDINGDIRECTIONINFO feeding{kFeedingDirectionInfoSize, 0, 0, 80, 0};
    KD730::CShading shading;
    tagCUTOUTINFO n = MakeCutOutInfo(page, output, input, false, &corners, &feeding, &shading);
    EXPECT_EQ(n.ulSize, kCutOutInfoSize);
    EXPECT_EQ(n.lSrcXOffset, 20);
    EXPECT_EQ(n.lSrcYOffset, 30);
    EXPECT_EQ(n.lSrcWidth, 1000);
    EXPECT_EQ(n.lSrcHeight, 1400);
    EXPECT_EQ(n.lDstXOffset, 0);
    EXPECT_EQ(n.lDstYOffset, 0);
    EXPECT_EQ(n.lDstWidth, 800);
    EXPECT_EQ(n.lDstHeight, 1000);
    EXPECT_EQ(n.pShading, &shading);
    tagCUTOUTINFO card = MakeCutOutInfo(page, output, input, true, &corners, &feeding, &shading);
    EXPECT_EQ(card.lSrcXOffset, 100);
    EXPECT_EQ(card.lSrcYOffset, 50);
    EXPECT_EQ(card.lSrcWidth, 400);
    EXPECT_EQ(card.lSrcHeight, 250);
    EXPECT_EQ(card.lDstXOffset, (1000 - 400) / 2 - 20);
    EXPECT_EQ(card.lDstYOffset, 80 * 200 / 400 - 30);
    EXPECT_EQ(card.lDstWidth, 800);
}

} // namespace
