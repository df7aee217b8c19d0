#include "DetectColorOrGray.h"

#include "StageImages.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace Tvk;
using namespace Tvk::Imvra;

namespace {

// A stage record as the engine fills it, with its own side record and result.
struct Detection {
    explicit Detection(uint32_t mode, int32_t sensitivity = 4, bool withBuilder = true)
        : builder(sensitivity) {
        side = {kDetectColorOrGrayInfoSize, sensitivity, 4, mode, 0, 0, 0};
        stage = {kDetectColorOrGrayStageInfoSize, &side, withBuilder ? &builder : nullptr,
                 {136, 235, 96, 176}, &result, 0, 0, 2};
    }
    // The lower layer's records for a 64 x 32 colour page at 300 dpi across.
    void Build(CDetectColorOrGray::Records& r, int32_t yres = 300) {
        CImg img;
        EXPECT_TRUE(img.createImg(64, 32, 8, 3, 0, 300, yres));
        CDetectColorOrGray detect;
        EXPECT_EQ(detect.setInfo(img, &stage), RTN_OK);
        detect.buildRecords(img, 5, r);
    }

    ColorOrGrayThresholdBuilderImp builder;
    tagDETECTCOLORORGRAYINFO side{};
    tagDETECTCOLORORGRAYSTAGEINFO stage{};
    uint32_t result = 99;
};

// A colour page (text with red marks), a gray photo and black text, all 24-bit.
CImg Page(uint32_t expected) {
    if (expected == CDetectColorOrGray::kClassColor) {
        kdtest::TestImage page = kdtest::GrayToColor(kdtest::TextPage(600, 800, 1, 0, 3));
        kdtest::FillRect(page, 100, 100, 400, 300, 0x2020E0);
        kdtest::FillRect(page, 150, 500, 450, 700, 0xD04020);
        return stagetest::ImageOf(page);
    }
    if (expected == CDetectColorOrGray::kClassGray)
        return stagetest::ImageOf(kdtest::GrayToColor(kdtest::PhotoPage(600, 800, 1, 0, 3)));
    return stagetest::ImageOf(kdtest::GrayToColor(kdtest::TextPage(600, 800, 1, 0, 3, 250, 5)));
}

TEST(DetectColorOrGray, ClassesOfGeneratedPages) {
    using D = CDetectColorOrGray;
    struct Case {
        const char* name;
        uint32_t page, mode, expected;
    } cases[] = {
        {"colour, any class", D::kClassColor, 0, D::kClassColor},
        {"gray, any class", D::kClassGray, 0, D::kClassGray},
        {"text, any class", D::kClassBlackAndWhite, 0, D::kClassBlackAndWhite},
        {"colour, colour or gray", D::kClassColor, 1, D::kClassColor},
        {"gray, colour or gray", D::kClassGray, 1, D::kClassGray},
        {"text, colour or gray", D::kClassBlackAndWhite, 1, D::kClassGray},
        {"colour, colour or black-and-white", D::kClassColor, 2, D::kClassColor},
        {"gray, colour or black-and-white", D::kClassGray, 2, D::kClassBlackAndWhite},
        {"text, colour or black-and-white", D::kClassBlackAndWhite, 2, D::kClassBlackAndWhite},
    };
    for (const Case& c : cases) {
        Detection s(c.mode);
        CImg img = Page(c.page);
        CDetectColorOrGray stage;
        ASSERT_EQ(stage.IPInterface(img, &s.stage), RTN_OK) << c.name;
        EXPECT_EQ(s.result, c.expected) << c.name;
    }
}

TEST(DetectColorOrGray, ModeWithoutClassesIsRefused) {
    Detection s(3);
    CImg img = Page(CDetectColorOrGray::kClassGray);
    CDetectColorOrGray stage;
    EXPECT_EQ(stage.IPInterface(img, &s.stage), RTN_PAR);
    EXPECT_EQ(s.result, CDetectColorOrGray::kClassColor);
    EXPECT_EQ(CDetectColorOrGray::AllowedClasses(0), 0x800081u);
    EXPECT_EQ(CDetectColorOrGray::AllowedClasses(1), 0x800080u);
    EXPECT_EQ(CDetectColorOrGray::AllowedClasses(2), 0x800001u);
    EXPECT_EQ(CDetectColorOrGray::AllowedClasses(3), 0u);
}

TEST(DetectColorOrGray, SetInfoAndBandCalls) {
    Detection s(0);
    CImg img = Page(CDetectColorOrGray::kClassGray);
    CDetectColorOrGray stage;
    EXPECT_EQ(stage.setInfo(img, nullptr), RTN_PAR);
    tagDETECTCOLORORGRAYSTAGEINFO rec = s.stage;
    rec.pInfo = nullptr;
    EXPECT_EQ(stage.setInfo(img, &rec), RTN_PAR);
    rec = s.stage;
    rec.ulSize = 32;
    EXPECT_EQ(stage.setInfo(img, &rec), RTN_PAR);
    ASSERT_EQ(stage.setInfo(img, &s.stage), RTN_OK);
    EXPECT_EQ(stage.IPFirst(img), RTN_UNSUPPORTED);
    EXPECT_EQ(stage.IPMiddle(img), RTN_UNSUPPORTED);
    EXPECT_EQ(stage.IPLast(img), RTN_UNSUPPORTED);
    EXPECT_EQ(s.result, 99u);
}

TEST(DetectColorOrGray, RecordsForThePage) {
    Detection s(0);
    s.side.lLength = 4000;
    CDetectColorOrGray::Records r;
    s.Build(r, 200);
    EXPECT_EQ(r.color.ulSize, kDetectColorInfoSizeFull);
    EXPECT_EQ(r.color.lCommand, 5);
    EXPECT_EQ(r.color.lWidth, 64);
    EXPECT_EQ(r.color.lHeight, 32);
    EXPECT_EQ(r.color.ulOptions, 0x10000005u); // below 300 dpi vertically
    EXPECT_EQ(r.color.lThresholdMode, 3);      // the builder's table
    EXPECT_EQ(r.color.lSensitivity, 4);
    EXPECT_EQ(r.color.lIntensity, 4);
    EXPECT_EQ(r.color.lAreaLength, 4000);
    EXPECT_EQ(r.gray.ulSize, kDetectGrayInfoSizeFull);
    EXPECT_EQ(r.gray.btBlackLevel, 136);
    EXPECT_EQ(r.gray.btWhiteLevel, 235);
    EXPECT_EQ(r.gray.btGrayBound1, 96);
    EXPECT_EQ(r.gray.btGrayBound2, 176);
    EXPECT_EQ(r.gray.lIntensity, 2);
    EXPECT_EQ(r.gray.lAreaLength, 4000);
    EXPECT_EQ(r.gray.lLeftMargin, 23); // 2 mm at 300 dpi
    EXPECT_EQ(r.gray.lRightMargin, 23);
    EXPECT_EQ(r.head.ulMode, 0x800081u);
    EXPECT_EQ(r.head.pColorInfo, &r.color);
    EXPECT_EQ(r.head.pGrayInfo, &r.gray);

    s.Build(r, 300);
    EXPECT_EQ(r.color.ulOptions, 0u);
}

// A failing tolerance builder leaves the colour test on its built-in table.
TEST(DetectColorOrGray, SensitivityOutsideTheRangeFallsBackToTheBuiltInTable) {
    for (int32_t sensitivity : {0, 8}) {
        Detection s(0, sensitivity);
        CDetectColorOrGray::Records r;
        s.Build(r);
        EXPECT_EQ(r.color.lThresholdMode, 2) << sensitivity;
    }
    Detection none(0, 4, false);
    CImg img = Page(CDetectColorOrGray::kClassColor);
    CDetectColorOrGray stage;
    ASSERT_EQ(stage.IPInterface(img, &none.stage), RTN_OK);
    EXPECT_EQ(none.result, CDetectColorOrGray::kClassColor);
}

// The side's record is read only as far as its size word reaches: the short
// form has no Mode and no length.
TEST(DetectColorOrGray, ShortSideRecordReadsNoFurther) {
    Detection s(2);
    s.side.lLength = 500;
    s.side.ulSize = kDetectColorOrGrayInfoShortSize;
    CDetectColorOrGray::Records r;
    s.Build(r);
    EXPECT_EQ(r.head.ulMode, 0x800081u); // mode 0
    EXPECT_EQ(r.color.lAreaLength, 0);
    EXPECT_EQ(r.color.lSensitivity, 4);

    s.side.ulSize = 4; // not even the sensitivity
    s.Build(r);
    EXPECT_EQ(r.color.lSensitivity, 0);
    EXPECT_EQ(r.color.lIntensity, 0);
}

TEST(ColorOrGrayThresholdBuilder, Offsets) {
    ColorOrGrayThresholdBuilderImp b(3);
    double out = -1;
    EXPECT_EQ(b.GetOffset(&out, 1), 0);
    EXPECT_DOUBLE_EQ(out, 0.001);
    EXPECT_EQ(b.GetOffset(&out, 7), 0);
    EXPECT_DOUBLE_EQ(out, 0.3);
    EXPECT_EQ(b.GetOffset(&out, 0), 0); // the stored sensitivity
    EXPECT_DOUBLE_EQ(out, 0.075);
    EXPECT_EQ(b.GetOffset(&out, -1), ColorOrGrayThresholdBuilder::kErrBelowRange);
    EXPECT_EQ(b.GetOffset(&out, 8), ColorOrGrayThresholdBuilder::kErrAboveRange);
    EXPECT_EQ(b.GetOffset(nullptr, 2), 0);
    ColorOrGrayThresholdBuilderImp zero(0);
    EXPECT_EQ(zero.GetOffset(&out, 0), ColorOrGrayThresholdBuilder::kErrBelowRange);
    EXPECT_FALSE(b.SetGammaTable(nullptr, 256));
}

// Levels whose perceptual value stays at or below 45 (up to 29), and those
// whose tolerance would fall below zero, keep table[i] = i; beyond, the
// tolerance is i - gmminv(y). Worked out for level 255 at sensitivity 1:
// g = 255, y = 255 - (5 / 210 + 0.001) * 255 = 248.67, gmminv = 201.3, 54.
TEST(ColorOrGrayThresholdBuilder, Table) {
    struct Case {
        int sensitivity, level, expected;
    } cases[] = {{1, 29, 29}, {1, 30, 30}, {1, 40, 8},  {1, 255, 54},
                 {7, 40, 17}, {7, 128, 53}, {7, 255, 138}};
    for (const Case& c : cases) {
        ColorOrGrayThresholdBuilderImp b(c.sensitivity);
        uint8_t table[256];
        ASSERT_TRUE(b.BuildThreshold(table, 256));
        for (int i = 0; i < 30; ++i) ASSERT_EQ(table[i], i);
        for (int i = 0; i < 256; ++i) ASSERT_LE(table[i], i);
        EXPECT_EQ(table[c.level], c.expected) << c.sensitivity << " " << c.level;
    }
    ColorOrGrayThresholdBuilderImp b(1);
    uint8_t table[256] = {};
    EXPECT_FALSE(b.BuildThreshold(table, 255));
    EXPECT_EQ(table[200], 0);
}

} // namespace
