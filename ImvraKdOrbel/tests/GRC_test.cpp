#include "GRC.h"

#include "TestKit.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

using namespace Tvk;
using namespace Tvk::Imvra;
using KD730::GammaBuilderImp;

namespace {

std::unique_ptr<CGRC::tagINFO> Record(uint8_t brightness, uint8_t contrast, int32_t curveSet = 0) {
    auto rec = std::make_unique<CGRC::tagINFO>();
    std::memset(rec.get(), 0, sizeof *rec);
    rec->tone.ulSize = CGRC::kInfoSize;
    rec->tone.ucBrightness = brightness;
    rec->tone.ucContrast = contrast;
    rec->lCurveSet = curveSet;
    return rec;
}

TEST(GammaBuilder, ContrastClass) {
    EXPECT_EQ(GammaBuilderImp::contrastClass(0), 1);
    EXPECT_EQ(GammaBuilderImp::contrastClass(36), 1);  // trunc(252 / 255) + 1
    EXPECT_EQ(GammaBuilderImp::contrastClass(37), 2);  // trunc(259 / 255) + 1
    EXPECT_EQ(GammaBuilderImp::contrastClass(219), 7); // 6 + 1
    EXPECT_EQ(GammaBuilderImp::contrastClass(255), 7); // 8, held to 7
}

// Values worked out from the curves at brightness 128 (no shift), x = 128
// (128 / 255 = 0.50196; its power 1/2.2 is 0.73104).
TEST(GammaBuilder, HandWorkedValues) {
    struct Case {
        const char* name;
        uint8_t (*curve)(int, uint8_t, int);
        int x, k;
        uint8_t b, expected;
    } cases[] = {
        {"colour k4: -101 + 391 * 0.73104", GammaBuilderImp::calcColorGamma, 128, 4, 128, 185},
        {"colour k4 x64", GammaBuilderImp::calcColorGamma, 64, 4, 128, 108},
        {"gray k4: -116 + 422 * 0.73104", GammaBuilderImp::calcGrayGamma, 128, 4, 128, 192},
        {"gray k1, brightness 200", GammaBuilderImp::calcGrayGamma, 50, 1, 200, 188},
        {"second colour k4: -80 + 371 * 0.73104", GammaBuilderImp::calcColorGamma2, 128, 4, 128,
         191},
        {"error diffusion k4: -65 + 370 * 0.73104", GammaBuilderImp::calcErrorDiffusionGamma, 128,
         4, 128, 205},
        {"second error diffusion k4", GammaBuilderImp::calcErrorDiffusionGamma2, 128, 4, 128, 210},
        {"binary k4: 0.50196 * 255 - 8", GammaBuilderImp::calcBinGamma, 128, 4, 128, 120},
        {"binary k2: 0.50196^2 * 255 - 8", GammaBuilderImp::calcBinGamma, 128, 2, 0, 56},
        {"second binary k4: 0.50196 * 249.9", GammaBuilderImp::calcBinGamma2, 128, 4, 128, 125},
        {"colour k7 at 0 clamps to 0", GammaBuilderImp::calcColorGamma, 0, 7, 128, 0},
        {"colour k7 at 255 clamps to 255", GammaBuilderImp::calcColorGamma, 255, 7, 128, 255},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.curve(c.x, c.b, c.k), c.expected) << c.name;
}

TEST(GammaBuilder, EveryBuiltTableNeverFalls) {
    using Build = void (*)(uint8_t*, size_t, uint8_t, int, int);
    const Build builders[] = {GammaBuilderImp::buildColorGamma, GammaBuilderImp::buildGrayGamma,
                              GammaBuilderImp::buildErrorDiffusionGamma,
                              GammaBuilderImp::buildBinGamma};
    for (Build build : builders)
        for (int set : {0, 1})
            for (int k = 1; k <= 7; ++k)
                for (int b : {1, 64, 128, 200, 255}) {
                    uint8_t table[256];
                    build(table, 256, static_cast<uint8_t>(b), k, set);
                    for (int x = 1; x < 256; ++x)
                        ASSERT_LE(table[x - 1], table[x]) << "k " << k << " b " << b << " set " << set;
                }
}

TEST(GammaBuilder, InverseBinaryCurveUndoesTheCurve) {
    for (int k = 1; k <= 7; ++k) {
        const int y = GammaBuilderImp::calcBinGamma(128, 0, k);
        if (y > 0 && y < 255) {
            EXPECT_NEAR(GammaBuilderImp::calcBinGammaInv(y, k), 128, 3) << k;
        }
    }
}

TEST(GRC, TablesByModeAndCurveSet) {
    CImg img;
    CGRC stage;
    stage.setMode(CGRC::ModeColor, true, true);
    EXPECT_TRUE(stage.flagA());
    EXPECT_FALSE(stage.flagB());
    auto rec = Record(128, 255);
    ASSERT_EQ(stage.setInfo(img, rec.get()), RTN_OK);
    EXPECT_EQ(stage.tables().ucRedTable[0], 0);
    EXPECT_EQ(stage.tables().ucRedTable[255], 255);
    EXPECT_EQ(0, std::memcmp(stage.tables().ucRedTable, stage.tables().ucGreenTable, 256));
    EXPECT_EQ(0, std::memcmp(stage.tables().ucRedTable, stage.tables().ucBlueTable, 256));

    uint8_t expected[256];
    stage.setMode(CGRC::ModeGray, false, false);
    rec = Record(128, 100, 1);
    ASSERT_EQ(stage.setInfo(img, rec.get()), RTN_OK);
    GammaBuilderImp::buildGrayGamma(expected, 256, 128, 3, 1);
    EXPECT_EQ(0, std::memcmp(stage.tables().ucGrayTable, expected, 256));

    stage.setMode(CGRC::ModeBinary, true, true); // error diffusion
    EXPECT_FALSE(stage.flagA());
    rec = Record(128, 100, 2);
    ASSERT_EQ(stage.setInfo(img, rec.get()), RTN_OK);
    GammaBuilderImp::buildErrorDiffusionGamma(expected, 256, 128, 3, 0);
    EXPECT_EQ(0, std::memcmp(stage.tables().ucGrayTable, expected, 256));

    stage.setMode(CGRC::ModeBinary, false, false);
    ASSERT_EQ(stage.setInfo(img, rec.get()), RTN_OK);
    GammaBuilderImp::buildBinGamma(expected, 256, 128, 3, 0);
    EXPECT_EQ(0, std::memcmp(stage.tables().ucGrayTable, expected, 256));
}

TEST(GRC, ZeroBrightnessOrContrastKeepsTheCallersTables) {
    for (auto [b, c] : {std::pair<uint8_t, uint8_t>{0, 128}, {128, 0}}) {
        CImg img;
        CGRC stage;
        stage.setMode(CGRC::ModeGray, false, false);
        auto rec = Record(b, c);
        for (int i = 0; i < 256; ++i) rec->tone.ucGrayTable[i] = static_cast<uint8_t>(255 - i);
        ASSERT_EQ(stage.setInfo(img, rec.get()), RTN_OK);
        ASSERT_TRUE(img.createImg(4, 2, 8, 1, 1, 300, 300));
        img.info().lpImage[0] = 10;
        ASSERT_EQ(stage.IP(img), RTN_OK);
        EXPECT_EQ(img.info().lpImage[0], 245);
        EXPECT_EQ(img.info().lpImage[1], 255);
    }
}

TEST(GRC, RefusesMisSizedRecords) {
    CImg img;
    CGRC stage;
    auto rec = Record(128, 128);
    EXPECT_EQ(stage.setInfo(img, nullptr), RTN_PAR);
    rec->tone.ulSize = kGRCInfoSize; // the tone record without its curve set
    EXPECT_EQ(stage.setInfo(img, rec.get()), RTN_PAR);
}

// A stage with tables that add 1 (gray, red), 2 (green), 3 (blue).
CGRC OffsetStage() {
    CGRC stage;
    auto rec = Record(0, 0);
    for (int i = 0; i < 256; ++i) {
        rec->tone.ucGrayTable[i] = rec->tone.ucRedTable[i] = static_cast<uint8_t>(i + 1);
        rec->tone.ucGreenTable[i] = static_cast<uint8_t>(i + 2);
        rec->tone.ucBlueTable[i] = static_cast<uint8_t>(i + 3);
    }
    CImg img;
    EXPECT_EQ(stage.setInfo(img, rec.get()), RTN_OK);
    return stage;
}

TEST(GRC, AppliesToGrayAndInterleavedColourFromXpos) {
    CGRC stage = OffsetStage();
    CImg gray;
    ASSERT_TRUE(gray.createImg(8, 2, 8, 1, 1, 300, 300));
    gray.info().lXpos = 4; // the back half of a side-by-side page
    gray.info().lWidth = 4;
    ASSERT_EQ(stage.IP(gray), RTN_OK);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 8; ++x)
            EXPECT_EQ(gray.info().lpImage[y * 8 + x], x < 4 ? 0 : 1) << x << "," << y;

    CImg color;
    ASSERT_TRUE(color.createImg(2, 1, 8, 3, 0, 300, 300));
    ASSERT_EQ(stage.IP(color), RTN_OK);
    const uint8_t expected[6] = {1, 2, 3, 1, 2, 3};
    EXPECT_EQ(0, std::memcmp(color.info().lpImage, expected, 6));

    // One curve in all three tables.
    CGRC curve;
    curve.setMode(CGRC::ModeColor, false, false);
    auto rec = Record(128, 255);
    CImg none;
    ASSERT_EQ(curve.setInfo(none, rec.get()), RTN_OK);
    const uint8_t in[6] = {0, 255, 128, 64, 200, 10};
    std::memcpy(color.info().lpImage, in, 6);
    ASSERT_EQ(curve.IP(color), RTN_OK);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(color.info().lpImage[i], GammaBuilderImp::calcColorGamma(in[i], 128, 7)) << i;
}

TEST(GRC, RefusedLayoutsLeaveThePageUnchanged) {
    CGRC stage = OffsetStage();
    struct Case {
        const char* name;
        int32_t bps, spp;
        uint32_t order;
        int32_t xpos;
        int expected;
    } cases[] = {
        {"planar colour", 8, 3, 1, 0, RTN_UNSUPPORTED},
        {"16-bit gray", 16, 1, 1, 0, RTN_PAR},
        {"columns past the line", 8, 1, 1, 1, RTN_PAR},
        {"colour columns past the line", 8, 3, 0, 1, RTN_PAR},
        {"negative position", 8, 1, 1, -1, RTN_PAR},
    };
    for (const Case& c : cases) {
        CImg img;
        ASSERT_TRUE(img.createImg(8, 2, c.bps, c.spp, c.order, 300, 300)) << c.name;
        img.info().lXpos = c.xpos;
        EXPECT_EQ(stage.IP(img), c.expected) << c.name;
        for (uint32_t i = 0; i < img.info().tImageSize; ++i)
            ASSERT_EQ(img.info().lpImage[i], 0) << c.name;
    }
}

} // namespace

namespace {

// The vector forms give the plain loops' bytes for every line length.
TEST(GRC, VectorTablesMatchThePlainLoops) {
    uint8_t tables[3][256];
    kdtest::FillRandom(&tables[0][0], sizeof tables, 5);
    for (size_t pixels : {0u, 1u, 15u, 16u, 17u, 21u, 22u, 63u, 64u, 65u, 200u}) {
        std::vector<uint8_t> line(pixels * 3 + 70);
        kdtest::FillRandom(line, static_cast<uint32_t>(pixels));
        std::vector<uint8_t> plain = line;
        ApplyColorTables(line.data(), pixels, tables[0], tables[1], tables[2]);
        ApplyColorTablesPlain(plain.data(), pixels, tables[0], tables[1], tables[2]);
        ASSERT_EQ(line, plain) << pixels << " colour pixels";
        ApplyGrayTable(line.data(), pixels, tables[1]);
        ApplyGrayTablePlain(plain.data(), pixels, tables[1]);
        ASSERT_EQ(line, plain) << pixels << " gray pixels";
    }
}

} // namespace
