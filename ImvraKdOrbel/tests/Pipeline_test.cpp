// Generated sheets from the sensor model's raw bands to finished pages
// through the exported calls, after a calibration through the exported
// calibration calls.
#include "ScannerSheets.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

using namespace Tvk;
using namespace Tvk::Imvra;
using namespace sheettest;

namespace {

constexpr int kLag = 93; // lines of the default transport offset at 300 dpi

class Pipeline : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        scanner = new Scanner;
        scanner->calibrate();
    }
    static void TearDownTestSuite() {
        delete scanner;
        scanner = nullptr;
    }
    void SetUp() override {
        ASSERT_EQ(scanner->adjust.bDone, 1) << "calibration failed";
        width = Scanner::Format(false, 8).collectedWidth();
    }

    tagFILTERSIMPLEXINFO simplex(int height, int32_t bps, int32_t spp) {
        tagFILTERSIMPLEXINFO r{};
        r.ulSize = kFilterSimplexInfoSize;
        Describe(r.imageIn, r.imageOut, width, height, bps, spp);
        r.normal.ulSize = kNormalFilterInfoSize;
        r.special.ulSize = kSpecialFilterInfoSize;
        r.special.pShadingInfo = &scanner->shading[0];
        return r;
    }
    tagFILTERDUPLEXINFO duplex(int height, int32_t bps, int32_t spp) {
        tagFILTERDUPLEXINFO r{};
        r.ulSize = kFilterDuplexInfoSize;
        Describe(r.imageIn, r.imageOut, width, height, bps, spp);
        r.normalFront.ulSize = r.normalBack.ulSize = kNormalFilterInfoSize;
        r.specialFront.ulSize = r.specialBack.ulSize = kSpecialFilterInfoSize;
        r.specialFront.pShadingInfo = &scanner->shading[0];
        r.specialBack.pShadingInfo = &scanner->shading[1];
        return r;
    }

    // Largest difference of a colour or gray page from the sheet's expected levels.
    static int WorstLevel(const Pages& p, int side, const Sheet& s) {
        int worst = 0;
        for (int y = 0; y < s.height; ++y)
            for (int x = 0; x < s.width; ++x) {
                int e[3];
                for (int c = 0; c < 3; ++c) e[c] = Scanner::Expected(s.at(x, y, c), c);
                if (p.shape[side].lSpp == 3) {
                    for (int c = 0; c < 3; ++c)
                        worst = std::max(worst, std::abs(p.at(side, x, y, c) - e[c]));
                } else {
                    const int g = (299 * e[0] + 587 * e[1] + 114 * e[2]) / 1000;
                    worst = std::max(worst, std::abs(p.at(side, x, y, 0) - g));
                }
            }
        return worst;
    }

    static Scanner* scanner;
    int width = 0;
};
Scanner* Pipeline::scanner = nullptr;

} // namespace

TEST_F(Pipeline, OneSidedColourGrayAndBlackAndWhite) {
    const int h = 260;
    const Sheet sheet = ColourSheet(width, h);
    const std::vector<uint8_t> raw = scanner->scan(sheet, nullptr, 0);
    const kdsensor::ScanFormat f = Scanner::Format(false, 8);
    tagGRAYTOBINARYINFO bin{kGrayToBinaryInfoSize, 0, 128, 0, 0};
    struct Case {
        const char* what;
        int32_t bps, spp;
    };
    for (const Case& c : {Case{"colour", 8, 3}, Case{"gray", 8, 1}, Case{"black and white", 1, 1}}) {
        tagFILTERSIMPLEXINFO rec = simplex(h, c.bps, c.spp);
        if (c.bps == 1) rec.normal.pGrayToBinaryInfo = &bin;
        Pages p;
        ASSERT_EQ(RunBands(f, raw, rec, Heights(h, 128), p), RTN_OK) << c.what;
        EXPECT_EQ(p.shape[0].lWidth, width) << c.what;
        EXPECT_EQ(p.shape[0].lHeight, h) << c.what;
        EXPECT_EQ(p.shape[0].lBps, c.bps) << c.what;
        EXPECT_EQ(p.shape[0].lSpp, c.spp) << c.what;
        if (c.bps == 8) {
            EXPECT_LE(WorstLevel(p, 0, sheet), 3) << c.what;
            continue;
        }
        // Strokes and paper come out as the two levels.
        int ink = -1, paper = -1, wrong = 0;
        for (int y = 180; y < 240; ++y)
            for (int x = 200; x < 2300; ++x) {
                const bool stroke = (x - 200) % 24 < 8;
                const int b = p.bit(0, x, y);
                int& want = stroke ? ink : paper;
                if (want < 0) want = b;
                wrong += b != want;
            }
        EXPECT_NE(ink, paper);
        EXPECT_EQ(wrong, 0);
    }
}

TEST_F(Pipeline, TwoSidedSheetGivesTheSamePagesInAnyBands) {
    const int h = 300;
    const Sheet front = ColourSheet(width, h), back = GraySheet(width, h);
    const std::vector<uint8_t> raw = scanner->scan(front, &back, kLag);
    const kdsensor::ScanFormat f = Scanner::Format(true, 8);
    tagFILTERDUPLEXINFO rec = duplex(h, 8, 3);
    Pages whole;
    ASSERT_EQ(RunBands(f, raw, rec, {}, whole), RTN_OK);
    for (int side = 0; side < 2; ++side) {
        EXPECT_EQ(whole.shape[side].lWidth, width) << side;
        EXPECT_EQ(whole.shape[side].lHeight, h) << side;
    }
    EXPECT_LE(WorstLevel(whole, 0, front), 3);
    EXPECT_LE(WorstLevel(whole, 1, back), 3);
    for (int band : {128, 77}) {
        Pages banded;
        ASSERT_EQ(RunBands(f, raw, rec, Heights(h + kLag, band), banded), RTN_OK) << band;
        EXPECT_EQ(banded.bytes[0], whole.bytes[0]) << band;
        EXPECT_EQ(banded.bytes[1], whole.bytes[1]) << band;
    }
    // An engine of its own, with its own shading data, gives the same pages.
    void* engine = kd::createImvra();
    ASSERT_NE(engine, nullptr);
    scanner->fixShading(engine);
    Pages own;
    EXPECT_EQ(RunBands(f, raw, rec, Heights(h + kLag, 128), own, engine), RTN_OK);
    EXPECT_EQ(own.bytes[0], whole.bytes[0]);
    kd::deleteImvra(engine);
}

TEST_F(Pipeline, SideBySideSheetComesOutAsOnePage) {
    const int h = 200;
    const Sheet front = ColourSheet(width, h), back = GraySheet(width, h);
    const std::vector<uint8_t> raw = scanner->scan(front, &back, kLag);
    tagFILTERDUPLEXINFO rec = duplex(h, 8, 3);
    rec.bFolio = 1;
    Pages p;
    ASSERT_EQ(RunBands(Scanner::Format(true, 8), raw, rec, Heights(h + kLag, 128), p), RTN_OK);
    EXPECT_EQ(p.shape[0].lWidth, 2 * width);
    EXPECT_EQ(p.shape[0].lHeight, h);
    EXPECT_TRUE(p.bytes[1].empty());
    for (int c = 0; c < 3; ++c) {
        EXPECT_NEAR(p.at(0, 400, 90, c), Scanner::Expected(front.at(400, 90, c), c), 3);
        EXPECT_NEAR(p.at(0, width + 400, 90, c), Scanner::Expected(back.at(400, 90, c), c), 3);
    }
}

TEST_F(Pipeline, BlankBackIsFlagged) {
    const int h = 300;
    const Sheet front = TextSheet(width, h), back = WhiteSheet(width, h);
    const std::vector<uint8_t> raw = scanner->scan(front, &back, kLag);
    tagFILTERDUPLEXINFO rec = duplex(h, 8, 1);
    tagBLANKPAGEINFO blank[2] = {{kBlankPageInfoSize, 5, 9}, {kBlankPageInfoSize, 5, 9}};
    rec.normalFront.pBlankPageInfo = &blank[0];
    rec.normalBack.pBlankPageInfo = &blank[1];
    Pages p;
    ASSERT_EQ(RunBands(Scanner::Format(true, 8), raw, rec, Heights(h + kLag, 128), p), RTN_OK);
    EXPECT_EQ(blank[0].bBlankPage, 0);
    EXPECT_EQ(blank[1].bBlankPage, 1);
}

TEST_F(Pipeline, AutomaticColourModePicksEachPagesFormat) {
    const int h = 300;
    tagGRAYTOBINARYINFO bin[2] = {{kGrayToBinaryInfoSize, 0, 128, 0, 0},
                                  {kGrayToBinaryInfoSize, 0, 128, 0, 0}};
    tagDETECTCOLORORGRAYINFO detect{kDetectColorOrGrayInfoSize, 3, 0, 0, 0, 0, 0};
    struct Case {
        const char* what;
        Sheet sheet;
        int32_t bps, spp;
    };
    const Case cases[] = {{"colour", ColourSheet(width, h), 8, 3},
                          {"gray", GraySheet(width, h), 8, 1},
                          {"text", TextSheet(width, h), 1, 1}};
    for (size_t k = 0; k + 1 < std::size(cases); ++k) {
        const Case& a = cases[k];
        const Case& b = cases[k + 1];
        const std::vector<uint8_t> raw = scanner->scan(a.sheet, &b.sheet, kLag);
        tagFILTERDUPLEXINFO rec = duplex(h, 8, 3);
        rec.normalFront.pDetectColorOrGrayInfo = rec.normalBack.pDetectColorOrGrayInfo = &detect;
        rec.normalFront.pGrayToBinaryInfo = &bin[0];
        rec.normalBack.pGrayToBinaryInfo = &bin[1];
        Pages p;
        ASSERT_EQ(RunBands(Scanner::Format(true, 8), raw, rec, Heights(h + kLag, 128), p), RTN_OK);
        EXPECT_EQ(p.shape[0].lBps, a.bps) << a.what;
        EXPECT_EQ(p.shape[0].lSpp, a.spp) << a.what;
        EXPECT_EQ(p.shape[1].lBps, b.bps) << b.what;
        EXPECT_EQ(p.shape[1].lSpp, b.spp) << b.what;
        EXPECT_EQ(p.shape[0].lHeight, h);
    }
}

TEST_F(Pipeline, TurnedSheetWithoutABackFeedingRecordUsesTheFronts) {
    const int h = 300;
    const Sheet front = ColourSheet(width, h), back = GraySheet(width, h);
    const std::vector<uint8_t> raw = scanner->scan(front, &back, kLag);
    tagFILTERDUPLEXINFO rec = duplex(h, 8, 3);
    // The page is 260 lines long with margins of 10 and 20 lines; only the
    // front has the record.
    tagFEEDINGDIRECTIONINFO feed{kFeedingDirectionInfoSize, 180, 260, 10, 20};
    rec.specialFront.pFeedingDirectionInfo = &feed;
    Pages p;
    ASSERT_EQ(RunBands(Scanner::Format(true, 8), raw, rec, Heights(h + kLag, 128), p), RTN_OK);
    // Both pages are shortened to the 290 lines and turned by 180 degrees;
    // the cut-out puts them on the output area (300 lines).
    const int lines = 260 + 10 + 20;
    for (int side = 0; side < 2; ++side) {
        EXPECT_EQ(p.shape[side].lHeight, h) << side;
        EXPECT_EQ(p.shape[side].lWidth, width) << side;
    }
    const Sheet* sheets[2] = {&front, &back};
    for (int side = 0; side < 2; ++side) {
        Sheet turned = WhiteSheet(width, lines);
        for (int y = 0; y < lines; ++y)
            for (int x = 0; x < width; ++x) {
                const Sheet& s = *sheets[side];
                turned.fill(x, y, x + 1, y + 1, s.at(width - 1 - x, lines - 1 - y, 0),
                            s.at(width - 1 - x, lines - 1 - y, 1), s.at(width - 1 - x, lines - 1 - y, 2));
            }
        EXPECT_LE(WorstLevel(p, side, turned), 3) << side;
    }
}

namespace {

// The first line from line 150 on (below the colour blocks) of a finished
// page that shows ink between columns x0 and x1.
int FirstInkLine(const Pages& p, int side, int x0, int x1) {
    const tagIMAGEINFO& s = p.shape[side];
    for (int y = 150; y < s.lHeight; ++y)
        for (int x = x0; x < std::min(x1, s.lWidth); ++x)
            if (std::max({p.at(side, x, y, 0), p.at(side, x, y, 1), p.at(side, x, y, 2)}) < 100)
                return y;
    return -1;
}

// A colour sheet skewed 1.5 degrees fed through both sensors: the front
// lags the back by the transport offset, the back sees the sheet mirrored.
struct SkewedSheet {
    Sheet page, front, back;
    Feed feed;
    SkewedSheet(int scanWidth, uint8_t backing) : page(ColourSheet(scanWidth - 240, 700)) {
        feed.angleDeg = 1.5;
        feed.backing = backing;
        front = FedSide(page, scanWidth, feed, true);
        Feed mirrored = feed;
        mirrored.angleDeg = -feed.angleDeg;
        back = FedSide(page, scanWidth, mirrored, false);
    }
};

// Runs a skewed sheet with page-edge detection, deskew and automatic size,
// one-sided (the front only) or two-sided, in bands of the given heights.
int RunSkewed(bool twoSided, const std::vector<int>& heights, Pages& p,
              tagFILTERSIMPLEXINFO simplexRec, tagFILTERDUPLEXINFO duplexRec,
              const std::vector<uint8_t>& raw) {
    tagDETECT4POINTSINFO corners[2]{};
    corners[0].ulSize = corners[1].ulSize = kDetect4PointsInfoSize;
    if (!twoSided) {
        simplexRec.normal.bAutoSize = simplexRec.normal.bSkewCorrection = 1;
        simplexRec.special.pDetect4PointsInfo = &corners[0];
        return RunBands(Scanner::Format(false, 8), raw, simplexRec, heights, p);
    }
    for (tagNORMALFILTERINFO* n : {&duplexRec.normalFront, &duplexRec.normalBack})
        n->bAutoSize = n->bSkewCorrection = 1;
    duplexRec.specialFront.pDetect4PointsInfo = &corners[0];
    duplexRec.specialBack.pDetect4PointsInfo = &corners[1];
    return RunBands(Scanner::Format(true, 8), raw, duplexRec, heights, p);
}

} // namespace

TEST_F(Pipeline, SkewedSheetOnAWhiteBackingComesOutStraightAtItsSize) {
    const SkewedSheet s(width, 255);
    const int h = s.front.height;
    for (const bool twoSided : {true, false}) {
        SCOPED_TRACE(twoSided ? "two-sided" : "one-sided");
        const int lag = twoSided ? kLag : 0;
        const std::vector<uint8_t> raw =
            scanner->scan(s.front, twoSided ? &s.back : nullptr, lag, s.feed.backing);
        Pages whole;
        ASSERT_EQ(RunSkewed(twoSided, {}, whole, simplex(h, 8, 3), duplex(h, 8, 3), raw), RTN_OK);
        for (int side = 0; side < (twoSided ? 2 : 1); ++side) {
            SCOPED_TRACE(side == 0 ? "front" : "back");
            // The detectors find an edge up to three lines inside the paper
            // (the two-sided one reads the trailing edge from its shadow's
            // averaged lines).
            EXPECT_NEAR(whole.shape[side].lWidth, s.page.width, 2);
            EXPECT_LE(whole.shape[side].lHeight, s.page.height);
            EXPECT_GE(whole.shape[side].lHeight, s.page.height - 3);
            // The strokes' tops (line 180 of the sheet) lie on one line from
            // left to right: the skew left in would move them by 37 lines.
            // The page starts at the sheet's top edge as the detector finds
            // it, within 3 lines.
            const int left = FirstInkLine(whole, side, 704, 790);
            const int right = FirstInkLine(whole, side, 2120, 2296);
            EXPECT_NEAR(left, 180, 3);
            EXPECT_NEAR(right, left, 1);
        }
        for (int band : {128, 77}) {
            Pages banded;
            ASSERT_EQ(RunSkewed(twoSided, Heights(h + lag, band), banded, simplex(h, 8, 3),
                                duplex(h, 8, 3), raw),
                      RTN_OK)
                << band;
            EXPECT_EQ(banded.bytes[0], whole.bytes[0]) << band;
            EXPECT_EQ(banded.bytes[1], whole.bytes[1]) << band;
        }
    }
}

// The scanner's detector finds a sheet by the shadow its edges cast on the
// white backing; on a dark backing there is none, and the pages keep the
// whole scanned area upright rather than losing any of the sheet.
TEST_F(Pipeline, SkewedSheetOnADarkBackingKeepsTheWholeScan) {
    const SkewedSheet s(width, 20);
    const int h = s.front.height;
    const std::vector<uint8_t> raw = scanner->scan(s.front, &s.back, kLag, s.feed.backing);
    Pages p;
    ASSERT_EQ(RunSkewed(true, Heights(h + kLag, 128), p, simplex(h, 8, 3), duplex(h, 8, 3), raw),
              RTN_OK);
    for (int side = 0; side < 2; ++side) {
        EXPECT_EQ(p.shape[side].lWidth, width) << side;
        EXPECT_GE(p.shape[side].lHeight, h) << side;
        // The sheet, strokes and all, is on the page.
        EXPECT_GE(FirstInkLine(p, side, 0, width), 0) << side;
    }
}


namespace {

// Fills the library's store of kept buffers with buffers of every size from
// 64 KiB to 12 MiB (beyond this test's pages) holding `value`: the stages'
// next buffers come from it.
void FillStore(uint8_t value) {
    for (int32_t n = 64 * 1024; n <= (12 << 20); n = n / 2 * 3)
        for (int copies = n <= (4 << 20) ? 3 : 1; copies > 0; --copies) {
            CImg img;
            ASSERT_TRUE(img.createImg(n, 1, 8, 1, 0));
            ASSERT_FALSE(img.isNull());
            std::memset(img.info().lpImage, value, static_cast<size_t>(n));
        }
}

} // namespace

// Band and page buffers are reused from one page to the next without being
// cleared: a page after a larger one, with old pixels and filled buffers
// waiting in the store, comes out byte for byte as with cleared ones, line
// tails and margins included.
TEST_F(Pipeline, ReusedBuffersLeakNothingIntoTheNextPage) {
    const SkewedSheet large(width, 20), small(width, 255);
    const int hl = large.front.height, hs = small.front.height;
    const std::vector<uint8_t> rawLarge = scanner->scan(large.front, &large.back, kLag, 20);
    const std::vector<uint8_t> rawSmall = scanner->scan(small.front, &small.back, kLag, 255);
    struct Case {
        int32_t bps, spp;
    };
    for (const Case c : {Case{8, 3}, Case{1, 1}}) {
        SCOPED_TRACE(testing::Message() << "bps " << c.bps << " spp " << c.spp);
        tagGRAYTOBINARYINFO bin{kGrayToBinaryInfoSize, 0, 128, 0, 0};
        auto record = [&](int h) {
            tagFILTERDUPLEXINFO r = duplex(h, c.bps, c.spp);
            if (c.bps == 1) r.normalFront.pGrayToBinaryInfo = r.normalBack.pGrayToBinaryInfo = &bin;
            return r;
        };
        kd::Clear();
        FillStore(0);
        Pages clean;
        ASSERT_EQ(RunSkewed(true, Heights(hs + kLag, 128), clean, simplex(hs, c.bps, c.spp),
                            record(hs), rawSmall),
                  RTN_OK);
        Pages before, reused;
        ASSERT_EQ(RunSkewed(true, Heights(hl + kLag, 100), before, simplex(hl, 8, 3), record(hl),
                            rawLarge),
                  RTN_OK);
        FillStore(0xA5);
        ASSERT_EQ(RunSkewed(true, Heights(hs + kLag, 128), reused, simplex(hs, c.bps, c.spp),
                            record(hs), rawSmall),
                  RTN_OK);
        for (int side = 0; side < 2; ++side) {
            EXPECT_GT(clean.buffers[side].size(), 0u) << side;
            EXPECT_TRUE(clean.buffers[side] == reused.buffers[side]) << side;
        }
    }
    kd::Clear();
    EXPECT_EQ(CImg::bufferStoreBytes(), 0u);
}
