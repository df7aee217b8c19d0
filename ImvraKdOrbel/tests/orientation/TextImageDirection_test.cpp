// The text-direction stage on the real orientation layer (Tesseract).
#include "PageStages.h"

#include "CImgInfPtr.h"
#include "StageImages.h"
#include "TempFolder.h"
#include "TestKit.h"
#include "TextPages.h"
#include "TvkLogger.h"

#include <gtest/gtest.h>

#include <string>

using namespace Tvk::Imvra;

namespace {

// The page turned clockwise by `quarters` quarter turns of the library.
CImg Turned(const CImg& page, int quarters) {
    const tagTVKIMAGEINFO& in = page.info();
    CImageInfoPtr p;
    EXPECT_TRUE(p.CreateImage(in.lWidth, in.lSync, in.lHeight, in.lBps, in.lSpp, in.lXResolution,
                              in.lYResolution));
    std::memcpy(p.GetPtr(), in.lpImage, in.tImageSize);
    for (int i = 0; i < quarters; ++i) EXPECT_TRUE(p.Rotate90R());
    const tagTVKIMAGEINFO& r = *p.Info();
    CImg out;
    EXPECT_TRUE(out.createImg(r.lWidth, r.lHeight, r.lSync, r.lBps, r.lSpp, r.ulRGBOrder,
                              r.lXResolution, r.lYResolution));
    std::memcpy(out.info().lpImage, r.lpImage, out.info().tImageSize);
    return out;
}

// A page of English text, 1240 x 1752 at 300 dpi, as gray, colour or 1 bit.
CImg TextPage(int bits) {
    const kdtest::GrayPage g = kdtest::TextPageGray(1240, 1752);
    kdtest::TestImage page = bits == 1   ? kdtest::TestImage::Binary(g.width, g.height)
                             : bits == 8 ? kdtest::TestImage::Gray(g.width, g.height)
                                         : kdtest::TestImage::Color(g.width, g.height);
    for (int32_t y = 0; y < g.height; ++y)
        for (int32_t x = 0; x < g.width; ++x) {
            const uint8_t v = g.pixels[static_cast<size_t>(y) * g.width + x];
            page.set(x, y, bits == 1 ? (v < 128 ? 1u : 0u) : bits == 8 ? v : v * 0x010101u);
        }
    return kdtest::ToCImg(page);
}

struct Outcome {
    int rc;
    int degrees;
};

Outcome Detect(CImg& page, uint32_t language, const char* path = KD_TESSDATA) {
    CTextImageDirection stage(path);
    tagTEXTIMAGEDIRECTIONINFO info{kTextImageDirectionInfoSize, language, 0, 0};
    const int rc = stage.IPInterface(page, &info);
    return {rc, stage.result()};
}

// The library's debug log on in a test folder.
class TextImageDirection : public testing::Test {
protected:
    void SetUp() override {
        orbeltest::WriteFile(m_tmp.path("Imvra.log"), "");
        TvkLogger::createGlobalLogger(m_tmp.dir(), "Imvra.log");
    }
    void TearDown() override { TvkLogger::releaseGlobalLogger(); }
    std::string log() {
        TvkLogger::releaseGlobalLogger();
        return orbeltest::ReadFile(m_tmp.path("Imvra.log"));
    }

    orbeltest::TempFolder m_tmp;
};

TEST_F(TextImageDirection, TurnedTextComesBackUpright) {
    // Each turn with another kind of page: gray, gray, colour, 1 bit.
    const int bits[4] = {8, 8, 24, 1};
    for (int quarters = 0; quarters < 4; ++quarters) {
        SCOPED_TRACE(testing::Message()
                     << quarters * 90 << " degrees, " << bits[quarters] << " bits");
        const CImg upright = TextPage(bits[quarters]);
        CImg page = Turned(upright, quarters);
        const Outcome o = Detect(page, 1);
        ASSERT_EQ(o.rc, RTN_OK);
        EXPECT_EQ(o.degrees, quarters * 90);
        // The chain's rule: a turn by 360 - nDeg sets the page upright.
        const CImg back = Turned(page, (360 - o.degrees) / 90 % 4);
        EXPECT_TRUE(kdtest::FromCImg(back).samePixels(kdtest::FromCImg(upright)));
    }
    EXPECT_EQ(log().find("ZNTD_spdetect"), std::string::npos);
}

TEST_F(TextImageDirection, PageWithoutTextIsNotTurned) {
    CImg photo = kdtest::ToCImg(kdtest::PhotoPage(1240, 1752));
    const Outcome o = Detect(photo, 1);
    EXPECT_EQ(o.rc, RTN_OK);
    EXPECT_EQ(o.degrees, 0);
    // A page higher than the detector takes is handed over cut to its limit.
    CImg tall = kdtest::ToCImg(kdtest::TestImage::Binary(64, 12000));
    const Outcome t = Detect(tall, 1);
    EXPECT_EQ(t.rc, RTN_OK);
    EXPECT_EQ(t.degrees, 0);
    // Both were undecided (1), not refused.
    const std::string text = log();
    EXPECT_NE(text.find("ZNTD_spdetect return 1\nCTextImageDirection::execLibrary ZNTD_spdetect "
                        "Img="),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("Width=64 Height=12000 Sync=8 Spp=1 Bps=1 XRes=300 YRes=300"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("ZNTD_spdetect return -"), std::string::npos) << text;
}

TEST_F(TextImageDirection, MissingDataOrLanguageGivesParameterError) {
    CImg page = TextPage(8);
    // Language 0 never opens the detector, so the missing data is not noticed.
    EXPECT_EQ(Detect(page, 0, "/nonexistent/tessdata").rc, RTN_PAR);
    const Outcome o = Detect(page, 1, "/nonexistent/tessdata");
    EXPECT_EQ(o.rc, RTN_PAR);
    EXPECT_EQ(o.degrees, 0);
    Detect(page, 0, KD_TESSDATA); // back to the real data for the other tests
    const std::string text = log();
    EXPECT_NE(text.find("CTextImageDirection::setOcrPath ZNTX_changepath return 0"),
              std::string::npos);
    const std::string openLine = "CTextImageDirection::openLibrary ZNTX_exopen return -1101";
    const size_t first = text.find(openLine);
    EXPECT_NE(first, std::string::npos) << text;
    EXPECT_EQ(text.find(openLine, first + 1), std::string::npos) << "opened without a language";
}

TEST_F(TextImageDirection, RefusesBadRecordsAndBands) {
    CImg page = kdtest::ToCImg(kdtest::TestImage::Gray(8, 8));
    CTextImageDirection stage;
    EXPECT_EQ(stage.setInfo(page, nullptr), RTN_PAR);
    tagTEXTIMAGEDIRECTIONINFO info{kTextImageDirectionInfoSize - 4, 1, 0, 0};
    EXPECT_EQ(stage.setInfo(page, &info), RTN_PAR);
    EXPECT_EQ(stage.IPFirst(page), RTN_UNSUPPORTED);
    EXPECT_EQ(CTextImageDirection::dispatchError(-1904), RTN_MEM);
    EXPECT_EQ(CTextImageDirection::dispatchError(-1002), RTN_MEM);
    EXPECT_EQ(CTextImageDirection::dispatchError(-1902), RTN_MEM);
    EXPECT_EQ(CTextImageDirection::dispatchError(-1101), RTN_PAR);
    // A 16-bit page is not taken.
    CImg deep;
    ASSERT_TRUE(deep.createImg(8, 8, 16, 1, 0, 300, 300));
    info.ulSize = kTextImageDirectionInfoSize;
    EXPECT_EQ(stage.IPInterface(deep, &info), RTN_PAR);
}

} // namespace
