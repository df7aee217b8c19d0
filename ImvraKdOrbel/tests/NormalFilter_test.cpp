#include "NormalFilter.h"
#include "TempFolder.h"
#include "TvkLogger.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

using namespace Tvk;
using namespace Tvk::Imvra;
using orbeltest::ReadFile;
using orbeltest::TempFolder;
using orbeltest::WriteFile;

namespace {

// The generic chain on its own: the engine's abstract operations filled in
// and the steps reachable.
class Chain : public CNormalFilter {
public:
    const char* getName() const override { return "Chain"; }
    int IP(CImg&) override { return RTN_OK; }
    int IPFirst(CImg&) override { return RTN_OK; }
    int IPMiddle(CImg&) override { return RTN_OK; }
    int IPLast(CImg&) override { return RTN_OK; }
    // The steps the engine fills in pass when engineSteps is set.
    bool engineSteps = true;
    int execDetectColorOrGray(CImg& i, tagSIDE s, tagIMAGESTATE b) override {
        return engineSteps ? RTN_OK : CNormalFilter::execDetectColorOrGray(i, s, b);
    }
    int execResolutionConvertNormal(CImg& i, tagSIDE s, tagIMAGESTATE b) override {
        return engineSteps ? RTN_OK : CNormalFilter::execResolutionConvertNormal(i, s, b);
    }
    int execResolutionConvertWithReduceMoire(CImg&, tagSIDE, tagIMAGESTATE) override {
        return RTN_OK;
    }
    int execSkewCorrection(CImg&, tagSIDE, tagIMAGESTATE) override { return RTN_OK; }
    int execAutoSize(CImg&, tagSIDE, tagIMAGESTATE) override { return RTN_OK; }
    using CNormalFilter::execGray4Bit;
    using CNormalFilter::execInverse;
    using CNormalFilter::execRotate90x;
    using CNormalFilter::execGRC;
};

tagNORMALFILTERSETINFO OneSide(uint32_t sideSize) {
    tagNORMALFILTERSETINFO s{};
    s.ulSize = NormalFilterSetInfoSimplexSize(sideSize);
    s.front.ulSize = sideSize;
    s.imageOut.lBps = 8;
    s.imageOut.lSpp = 1;
    return s;
}

tagNORMALFILTERSETINFO TwoSides() {
    tagNORMALFILTERSETINFO s{};
    s.ulSize = kNormalFilterSetInfoDuplexSizes[4];
    s.front.ulSize = s.back.ulSize = kNormalFilterInfoSize;
    s.imageOut.lBps = 8;
    s.imageOut.lSpp = 1;
    return s;
}

// A gray image whose pixels count up from 1.
CImg Counting(int32_t w, int32_t h) {
    CImg img;
    EXPECT_TRUE(img.createImg(w, h, w, 8, 1, 0, 300, 300));
    for (int32_t k = 0; k < w * h; ++k) img.info().lpImage[k] = static_cast<uint8_t>(k + 1);
    return img;
}

std::vector<uint8_t> Bytes(const CImg& img) {
    return {img.info().lpImage, img.info().lpImage + img.info().tImageSize};
}

} // namespace

TEST(NormalFilter, SettingsSizesAndSideRecords) {
    CImg img;
    Chain chain;
    EXPECT_EQ(chain.setInfo(img, nullptr), RTN_PAR);
    for (uint32_t side : kNormalFilterInfoSizes) {
        tagNORMALFILTERSETINFO s = OneSide(side);
        EXPECT_EQ(chain.setInfo(img, &s), RTN_OK) << side;
        EXPECT_EQ(chain.settings().ulSize, kNormalFilterSetInfoSimplexSizes[4]);
    }
    // A side record that claims more than the record holds is read only as
    // far as the record goes.
    tagEPUBFILTERINFO epub{kEPubFilterInfoSize, 1};
    tagNORMALFILTERSETINFO s = OneSide(kNormalFilterInfoSizeColorSaturation);
    s.front.ulSize = kNormalFilterInfoSize;
    s.front.pEPubFilterInfo = &epub;
    ASSERT_EQ(chain.setInfo(img, &s), RTN_OK);
    EXPECT_EQ(chain.settings().front.pEPubFilterInfo, nullptr);
    EXPECT_EQ(chain.settings().front.ulSize, kNormalFilterInfoSizeColorSaturation);

    struct Refused {
        const char* what;
        uint32_t size, front, back;
    };
    for (const Refused& r : {Refused{"set size", kNormalFilterSetInfoSimplexSizes[0] + 1, 80, 0},
                             Refused{"front size", kNormalFilterSetInfoSimplexSizes[4], 60, 0},
                             Refused{"back size", kNormalFilterSetInfoDuplexSizes[4], 80, 60}}) {
        tagNORMALFILTERSETINFO t = TwoSides();
        t.ulSize = r.size;
        t.front.ulSize = r.front == 80 ? kNormalFilterInfoSize : r.front;
        t.back.ulSize = r.back == 80 ? kNormalFilterInfoSize : r.back;
        EXPECT_EQ(chain.setInfo(img, &t), RTN_PAR) << r.what;
    }
}

TEST(NormalFilter, SettingsThatDoNotFitTogether) {
    tagGRAYTOBINARYINFO adaptive{kGrayToBinaryInfoSize, 8, 128, 128, 0};
    tagERASEBACKPAGEINFO showThrough{kEraseBackPageInfoSize, 3, 200};
    tagGRCINFO tone{};
    tone.ulSize = kGRCInfoSize;
    tagDETECTCOLORORGRAYINFO detect{kDetectColorOrGrayInfoSize, 3, 0, 0, 0, 0, 0};
    struct Case {
        const char* what;
        uint8_t brightness, contrast;
        bool showThrough, detect, back;
        int expected;
    };
    for (const Case& c : {Case{"show-through", 0, 0, true, false, false, RTN_SEQ},
                          Case{"gamma 10/0", 10, 0, false, false, false, RTN_OK},
                          Case{"gamma 10/10", 10, 10, false, false, false, RTN_SEQ},
                          Case{"gamma 10/10 with detection", 10, 10, false, true, false, RTN_OK},
                          Case{"back show-through", 0, 0, true, false, true, RTN_SEQ}}) {
        tagNORMALFILTERSETINFO s = TwoSides();
        tagNORMALFILTERINFO& side = c.back ? s.back : s.front;
        tone.ucBrightness = c.brightness;
        tone.ucContrast = c.contrast;
        side.pGrayToBinaryInfo = &adaptive;
        side.pGRCInfo = &tone;
        side.pEraseBackPageInfo = c.showThrough ? &showThrough : nullptr;
        side.pDetectColorOrGrayInfo = c.detect ? &detect : nullptr;
        CImg img;
        Chain chain;
        EXPECT_EQ(chain.setInfo(img, &s), c.expected) << c.what;
    }
}

TEST(NormalFilter, RotationFromTextOrientationAndTheSideRecord) {
    tagTEXTIMAGEDIRECTIONINFO text{kTextImageDirectionInfoSize, 0, 0, 0};
    tagROTATE90XINFO turn{kRotate90xInfoSize, 0};
    struct Case {
        const char* what;
        int32_t nDeg;    // -1: no text record
        int32_t lDegree; // -1: no rotation record
        tagSIDE side;
        int32_t expected; // -1: the image is left alone
    };
    for (const Case& c : {Case{"text 90 front", 90, -1, SIDE_FRONT, 270},
                          Case{"rotation 90 back", -1, 90, SIDE_BACK, 270},
                          Case{"rotation 90 front", -1, 90, SIDE_FRONT, 90},
                          Case{"text 90 and rotation 90 back", 90, 90, SIDE_BACK, 180},
                          Case{"nothing", -1, -1, SIDE_FRONT, -1}}) {
        tagNORMALFILTERSETINFO s = TwoSides();
        tagNORMALFILTERINFO& side = c.side == SIDE_BACK ? s.back : s.front;
        text.nDeg = c.nDeg;
        turn.lDegree = c.lDegree;
        side.pTextImageDirectionInfo = c.nDeg >= 0 ? &text : nullptr;
        side.pRotate90xInfo = c.lDegree >= 0 ? &turn : nullptr;
        Chain chain;
        CImg img = Counting(3, 2);
        ASSERT_EQ(chain.setInfo(img, &s), RTN_OK);
        ASSERT_EQ(chain.execRotate90x(img, c.side, IMAGE_WHOLE), RTN_OK) << c.what;
        CImg expected = Counting(3, 2);
        if (c.expected >= 0) {
            ASSERT_TRUE(CRotate90x::rotate(expected, c.expected));
        }
        EXPECT_EQ(img.info().lWidth, expected.info().lWidth) << c.what;
        EXPECT_EQ(Bytes(img), Bytes(expected)) << c.what;
    }
}

TEST(NormalFilter, FourBitGrayPacksTwoPixelsAByte) {
    tagNORMALFILTERSETINFO s = OneSide(kNormalFilterInfoSize);
    s.imageOut.lBps = 4;
    Chain chain;
    CImg img;
    ASSERT_TRUE(img.createImg(5, 2, 5, 8, 1, 0, 300, 200));
    const uint8_t px[10] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xFF, 0x0F, 0xF0, 0x80, 0x7F};
    std::memcpy(img.info().lpImage, px, 10);
    ASSERT_EQ(chain.setInfo(img, &s), RTN_OK);
    ASSERT_EQ(chain.execGray4Bit(img, SIDE_FRONT, IMAGE_WHOLE), RTN_OK);
    EXPECT_EQ(img.info().lBps, 4);
    EXPECT_EQ(img.info().lSync, 3);
    EXPECT_EQ(img.info().lYResolution, 200);
    EXPECT_EQ(Bytes(img), (std::vector<uint8_t>{0x13, 0x57, 0x90, 0xF0, 0xF8, 0x70}));
}

TEST(NormalFilter, BandStateOutOfRangeIsRefusedAndLogged) {
    TempFolder t;
    ASSERT_TRUE(t.ok());
    WriteFile(t.path("Imvra.log"), "");
    TvkLogger::createGlobalLogger(t.dir(), "Imvra.log");
    {
        tagNORMALFILTERSETINFO s = OneSide(kNormalFilterInfoSize);
        s.front.bInverse = 1;
        Chain chain;
        CImg img = Counting(4, 1);
        ASSERT_EQ(chain.setInfo(img, &s), RTN_OK);
        EXPECT_EQ(chain.execInverse(img, SIDE_FRONT, static_cast<tagIMAGESTATE>(7)), RTN_STATE);
        EXPECT_EQ(img.info().lpImage[0], 1); // the stage was not called
    } // the chain releases the global logger
    TvkLogger::releaseGlobalLogger();
    const std::string log = ReadFile(t.path("Imvra.log"));
    EXPECT_NE(log.find("                       Inverse.IP[7] return 4"), std::string::npos) << log;
}

TEST(NormalFilter, GammaForBinaryOutputNeedsBinarisation) {
    tagGRCINFO tone{};
    tone.ulSize = kGRCInfoSize;
    tagNORMALFILTERSETINFO s = OneSide(kNormalFilterInfoSize);
    s.imageOut.lBps = 1;
    s.front.pGRCInfo = &tone;
    Chain chain;
    CImg img = Counting(4, 1);
    ASSERT_EQ(chain.setInfo(img, &s), RTN_OK);
    EXPECT_EQ(chain.execGRC(img, SIDE_FRONT, IMAGE_WHOLE), RTN_PAR);
}

TEST(NormalFilter, TextOrientationFolder) {
    Chain chain;
    EXPECT_EQ(chain.setOcrPath("/data/tess"), 0);
    EXPECT_EQ(chain.setOcrPath(nullptr), -1);
    EXPECT_STREQ(chain.ocrPath(), "/data/tess");
    const std::string longest(CNormalFilter::kOcrPathMax, 'a');
    EXPECT_EQ(chain.setOcrPath((longest + "b").c_str()), -1);
    EXPECT_STREQ(chain.ocrPath(), "/data/tess");
    EXPECT_EQ(chain.setOcrPath(longest.c_str()), 0);
    EXPECT_EQ(std::string(chain.ocrPath()), longest);
}

TEST(NormalFilter, FolioSheetJoinsBothSidesIntoTheFront) {
    tagNORMALFILTERSETINFO s = TwoSides();
    s.bFolio = 1;
    Chain chain;
    CImg front = Counting(3, 2), back = Counting(2, 2);
    ASSERT_EQ(chain.setInfo(front, &s), RTN_OK);
    ASSERT_EQ(chain.execNormalFilter(front, back, IMAGE_WHOLE), RTN_OK);
    EXPECT_TRUE(back.isNull());
    EXPECT_EQ(front.info().lWidth, 5);
    EXPECT_EQ(front.info().lpImage[3], 1); // the back's first pixel on the right

    tagBLANKPAGEINFO blank{kBlankPageInfoSize, 0, 0};
    s.back.pBlankPageInfo = &blank;
    CImg f2 = Counting(3, 2), b2 = Counting(3, 2);
    ASSERT_EQ(chain.setInfo(f2, &s), RTN_OK);
    EXPECT_EQ(chain.execNormalFilter(f2, b2, IMAGE_WHOLE), RTN_PAR);

    // Without the engine's steps the sequence stops at its first placeholder.
    chain.engineSteps = false;
    CImg f3 = Counting(3, 2);
    EXPECT_EQ(chain.execNormalFilter(f3, SIDE_FRONT, IMAGE_WHOLE), RTN_UNSUPPORTED);
}
