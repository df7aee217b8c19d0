// Generated sheets from the sensor model's raw bands to finished pages
// through the exported calls, after a calibration through the exported
// calibration calls.
#include "ScannerSheets.h"

#include <gtest/gtest.h>

#include <cstdlib>
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
    // An engine of its own gives the same pages (the shading lines travel
    // in the record).
    void* engine = kd::createImvra();
    ASSERT_NE(engine, nullptr);
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
