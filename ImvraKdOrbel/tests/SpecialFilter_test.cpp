#include "SpecialFilter.h"
#include "TempFolder.h"
#include "TvkLogger.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace Tvk;
using namespace Tvk::Imvra;
using namespace Tvk::Imvra::KD730;
using orbeltest::ReadFile;
using orbeltest::TempFolder;
using orbeltest::WriteFile;

namespace {

constexpr int32_t kRawWidth = 2592; // samples of one raw gray row at 300 dpi
constexpr int32_t kWidth = 2552;    // its collected pixels

tagFILTERSIMPLEXINFO Simplex(int32_t height) {
    tagFILTERSIMPLEXINFO r{};
    r.ulSize = kFilterSimplexInfoSize;
    r.imageIn = tagIMAGEINFO{kImageInfoSize, nullptr, 0, 0, kRawWidth, height, kRawWidth, 0, 8, 1, 1,
                             300, 300};
    r.imageOut = tagIMAGEINFO{kImageInfoSize, nullptr, 0, 0, kWidth, height, kWidth, 0, 8, 1, 0,
                              300, 300};
    r.normal.ulSize = kNormalFilterInfoSize;
    r.special.ulSize = kSpecialFilterInfoSize;
    return r;
}

tagFILTERDUPLEXINFO Duplex(int32_t height) {
    const tagFILTERSIMPLEXINFO s = Simplex(height);
    tagFILTERDUPLEXINFO r{};
    r.ulSize = kFilterDuplexInfoSize;
    r.imageIn = s.imageIn;
    r.imageOut = s.imageOut;
    r.normalFront = r.normalBack = s.normal;
    r.specialFront = r.specialBack = s.special;
    return r;
}

// A raw gray band of a 300 dpi sensor row, samples counting up.
CImg RawBand(int32_t lines) {
    CImg b;
    EXPECT_TRUE(b.createImg(kRawWidth, lines, kRawWidth, 8, 1, 1, 300, 300));
    for (uint32_t k = 0; k < b.info().tImageSize; ++k) b.info().lpImage[k] = static_cast<uint8_t>(k);
    return b;
}

// The library log switched on in a test folder while the object lives.
class LogOn {
public:
    explicit LogOn(const TempFolder& t) : m_path(t.path("Imvra.log")) {
        WriteFile(m_path, "");
        TvkLogger::createGlobalLogger(t.dir(), "Imvra.log");
    }
    ~LogOn() { TvkLogger::releaseGlobalLogger(); }
    std::string text() {
        TvkLogger::releaseGlobalLogger();
        return ReadFile(m_path);
    }

private:
    std::string m_path;
};

} // namespace

TEST(SpecialFilter, SettingsRecords) {
    tagDETECT4POINTSINFO corners{};
    corners.ulSize = kDetect4PointsInfoSize;
    tagFEEDINGDIRECTIONINFO feed{kFeedingDirectionInfoSize, 0, 0, 0, 0};
    struct Case {
        const char* what;
        int expected;
        void (*edit)(tagFILTERDUPLEXINFO&, tagDETECT4POINTSINFO*, tagFEEDINGDIRECTIONINFO*);
        bool duplex;
    };
    const Case cases[] = {
        {"one-sided", RTN_OK, [](auto&, auto*, auto*) {}, false},
        {"two-sided", RTN_OK, [](auto&, auto*, auto*) {}, true},
        {"automatic size without corners", RTN_PAR,
         [](auto& r, auto*, auto*) { r.normalFront.bAutoSize = 1; }, false},
        {"deskew without corners", RTN_PAR,
         [](auto& r, auto*, auto*) { r.normalFront.bSkewCorrection = 1; }, false},
        {"deskew of the back without corners", RTN_PAR,
         [](auto& r, auto* c, auto*) {
             r.specialFront.pDetect4PointsInfo = c;
             r.normalFront.bSkewCorrection = r.normalBack.bSkewCorrection = 1;
         },
         true},
        {"automatic size with corners", RTN_OK,
         [](auto& r, auto* c, auto*) {
             r.normalFront.bAutoSize = 1;
             r.specialFront.pDetect4PointsInfo = c;
         },
         false},
        {"card without feeding record", RTN_PAR,
         [](auto& r, auto* c, auto*) {
             r.specialFront.bCardScan = 1;
             r.specialFront.pDetect4PointsInfo = c;
         },
         false},
        {"card with both records", RTN_OK,
         [](auto& r, auto* c, auto* f) {
             r.specialFront.bCardScan = 1;
             r.specialFront.pDetect4PointsInfo = c;
             r.specialFront.pFeedingDirectionInfo = f;
         },
         false},
        {"special record size", RTN_PAR, [](auto& r, auto*, auto*) { r.specialFront.ulSize = 24; },
         false},
        {"side record size", RTN_PAR, [](auto& r, auto*, auto*) { r.normalBack.ulSize = 60; },
         true},
    };
    for (const Case& c : cases) {
        tagFILTERDUPLEXINFO d = Duplex(8);
        c.edit(d, &corners, &feed);
        CImg img;
        CSpecialFilter engine;
        if (c.duplex) {
            EXPECT_EQ(engine.setInfo(img, &d), c.expected) << c.what;
        } else {
            tagFILTERSIMPLEXINFO s = Simplex(8);
            s.normal = d.normalFront;
            s.special = d.specialFront;
            EXPECT_EQ(engine.setInfo(img, &s), c.expected) << c.what;
        }
    }
}

TEST(SpecialFilter, RefusedRecordSizesAreLogged) {
    TempFolder t;
    ASSERT_TRUE(t.ok());
    LogOn log(t);
    tagFILTERSIMPLEXINFO s = Simplex(8);
    s.ulSize = kFilterSimplexInfoSize + 1;
    {
        CSpecialFilter engine;
        CImg img;
        EXPECT_EQ(engine.setInfo(img, &s), RTN_PAR);
        EXPECT_EQ(engine.setInfo(img, nullptr), RTN_PAR);
    }
    const std::string text = log.text();
    EXPECT_NE(text.find("CSpecialFilter::setInfo return RTN_PAR. (" +
                        std::to_string(kFilterSimplexInfoSize + 1) + " is not match info sizes.)"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("CSpecialFilter::setInfo return RTN_PAR. (lpInfo == 0)"), std::string::npos);
}

TEST(SpecialFilter, BandBeforeAnySettingsPassesUnchanged) {
    CSpecialFilter engine;
    CImg img = RawBand(2);
    const uint8_t* before = img.info().lpImage;
    EXPECT_EQ(engine.IP(img), RTN_OK);
    EXPECT_EQ(img.info().lpImage, before);
    EXPECT_EQ(img.info().lWidth, kRawWidth);
}

TEST(SpecialFilter, ImpossibleGeometryIsRefusedBeforeAnyDivision) {
    struct Case {
        const char* what;
        void (*edit)(tagFILTERSIMPLEXINFO&);
    };
    for (const Case& c : {Case{"output resolution 0", [](auto& r) { r.imageOut.lXResolution = 0; }},
                          Case{"raw row of dummy pixels only", [](auto& r) { r.imageIn.lWidth = 40; }},
                          Case{"raw row narrower than the dummy pixels",
                               [](auto& r) { r.imageIn.lWidth = 12; }}}) {
        tagFILTERSIMPLEXINFO rec = Simplex(4);
        c.edit(rec);
        CSpecialFilter engine;
        CImg img = RawBand(4);
        EXPECT_EQ(engine.IPInterface(img, &rec), RTN_PAR) << c.what;
    }
    // A shadow record with an input resolution of 0.
    tagRMVSHADOWINFO shadow{kRmvShadowInfoSize, 10, 5, 5};
    tagFILTERSIMPLEXINFO rec = Simplex(4);
    rec.special.pRemoveShadowInfo = &shadow;
    rec.imageIn.lYResolution = 0;
    CSpecialFilter engine;
    CImg img = RawBand(4);
    EXPECT_EQ(engine.IPInterface(img, &rec), RTN_PAR);
}

TEST(SpecialFilter, CornersFollowTheResolutionChange) {
    tagDETECT4POINTSINFO corners{};
    corners.ulSize = kDetect4PointsInfoSize;
    corners.LeftTop = {100, 60};
    corners.RightBottom = {2001, 99};
    corners.rectDoc = {10, 20, 2000, 41};
    corners.vectorSlant = {7, 9}; // not a coordinate: left alone
    tagFILTERSIMPLEXINFO rec = Simplex(40);
    rec.imageOut.lXResolution = 150;
    rec.imageOut.lYResolution = 100;
    rec.special.pDetect4PointsInfo = &corners;
    CSpecialFilter engine;
    CImg img = RawBand(40);
    ASSERT_EQ(engine.IPInterface(img, &rec), RTN_OK);
    EXPECT_EQ(img.info().lWidth, kWidth / 2);
    EXPECT_EQ(img.info().lHeight, 40 / 3);
    EXPECT_EQ(corners.LeftTop.x, 50);
    EXPECT_EQ(corners.LeftTop.y, 20);
    EXPECT_EQ(corners.RightBottom.x, 1000);
    EXPECT_EQ(corners.RightBottom.y, 33);
    EXPECT_EQ(corners.rectDoc.left, 5);
    EXPECT_EQ(corners.rectDoc.top, 6);
    EXPECT_EQ(corners.rectDoc.right, 1000);
    EXPECT_EQ(corners.rectDoc.bottom, 13);
    EXPECT_EQ(corners.vectorSlant.x, 7);
}

TEST(SpecialFilter, OneLineReductionAveragesEveryPlaceIn64Bits) {
    CSpecialFilter engine;
    tagFILTERSIMPLEXINFO rec = Simplex(1);
    CImg none;
    ASSERT_EQ(engine.setInfo(none, &rec), RTN_OK);
    // More lines of full samples than a 32-bit sum holds.
    constexpr int32_t lines = 70000;
    CImg img;
    ASSERT_TRUE(img.createImg(2, lines, 4, 16, 1, 0, 300, 300));
    auto* s = reinterpret_cast<uint16_t*>(img.info().lpImage);
    for (int32_t y = 0; y < lines; ++y) {
        s[2 * y] = 65535;
        s[2 * y + 1] = static_cast<uint16_t>(y % 2 == 0 ? 100 : 201);
    }
    ASSERT_EQ(engine.execMackOneLineImage(img), RTN_OK);
    EXPECT_EQ(img.info().lHeight, 1);
    const auto* m = reinterpret_cast<const uint16_t*>(img.info().lpImage);
    EXPECT_EQ(m[0], 65535);
    EXPECT_EQ(m[1], 150);
}

TEST(SpecialFilter, CalibrationModeThreeSelectsTheSecondSensorLayoutForGood) {
    CSpecialFilter engine;
    tagADJUSTINFO info{};
    info.lXResolution = 300;
    engine.AdjustLightFirst(&info, 0);
    EXPECT_EQ(engine.sensorIndex(), 0);
    engine.AdjustLightFirst(&info, 3);
    EXPECT_EQ(engine.sensorIndex(), 1);
    engine.AdjustLightFirst(&info, 0);
    EXPECT_EQ(engine.sensorIndex(), 1);
    EXPECT_EQ(getDummyPixelSum(300, engine.sensorIndex()), 40);
    EXPECT_EQ(getDummyPixels(600, 1).ulDummy[2], 80);
    EXPECT_EQ(getDummyPixels(600, 7).ulDummy[0], 48);
}

TEST(SpecialFilter, ClearKeepsTheShadingStagesAndTheirPlatenColour) {
    CSpecialFilter engine;
    tagADJUSTINFO info{};
    CImg white, black;
    ASSERT_TRUE(white.createImg(kWidth, 1, kWidth * 2, 16, 1, 0, 300, 300));
    ASSERT_TRUE(black.createImg(kWidth, 1, kWidth * 2, 16, 1, 0, 300, 300));
    auto* w = reinterpret_cast<uint16_t*>(white.info().lpImage);
    auto* b = reinterpret_cast<uint16_t*>(black.info().lpImage);
    for (int32_t x = 0; x < kWidth; ++x) {
        w[x] = 3000;
        b[x] = 100;
    }
    ASSERT_EQ(engine.makeShadingData(white, black, &info, SIDE_BACK, nullptr, 0), RTN_OK);
    ASSERT_NE(engine.shading(SIDE_BACK), nullptr);
    const tagSHADING_AVARAGE before = engine.shading(SIDE_BACK)->platenColor();
    engine.clear();
    ASSERT_NE(engine.shading(SIDE_BACK), nullptr);
    EXPECT_EQ(engine.shading(SIDE_BACK)->platenColor().gray, before.gray);
    EXPECT_EQ(engine.shading(SIDE_FRONT), nullptr);
}
