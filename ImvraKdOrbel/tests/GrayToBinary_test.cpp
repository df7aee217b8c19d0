#include "GrayToBinary.h"

#include "StageImages.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace Tvk;
using namespace Tvk::Imvra;
using KD730::BinarizeTableBuilder;
using stagetest::ImageOfLines;
using stagetest::PixelBytes;

namespace {

tagGRAYTOBINARYINFO Settings(uint32_t method, uint32_t brightness, uint32_t contrast = 0,
                             int32_t table = 0) {
    return {kGrayToBinaryInfoSize, method, brightness, contrast, table};
}

TEST(BinarizeTables, GivenRows) {
    struct Row {
        uint8_t index, first, second, adaptive;
    } rows[] = {{0, 227, 227, 230},   {1, 227, 227, 229},  {64, 187, 185, 187},
                {128, 147, 144, 143}, {192, 91, 89, 91},   {255, 36, 36, 40}};
    for (const Row& r : rows) {
        EXPECT_EQ(BinarizeTableBuilder::getThresholdTable(r.index), r.first) << int(r.index);
        EXPECT_EQ(BinarizeTableBuilder::getThresholdTable2(r.index), r.second) << int(r.index);
        EXPECT_EQ(BinarizeTableBuilder::getThresholdTableHalvexII(r.index), r.adaptive)
            << int(r.index);
        EXPECT_EQ(BinarizeTableBuilder::getThresholdTable(r.index, 1), r.second);
        EXPECT_EQ(BinarizeTableBuilder::getThresholdTable(r.index, 2), r.first);
    }
}

// Never rising, steps of 0 or 1, and two nearly straight runs: about 0.6 a
// step up to 128 and about 0.85 a step beyond.
TEST(BinarizeTables, Shape) {
    using Table = uint8_t (*)(uint8_t);
    const Table tables[] = {BinarizeTableBuilder::getThresholdTable,
                            BinarizeTableBuilder::getThresholdTable2,
                            BinarizeTableBuilder::getThresholdTableHalvexII};
    for (Table t : tables) {
        for (int i = 1; i < 256; ++i) {
            const int step = t(static_cast<uint8_t>(i - 1)) - t(static_cast<uint8_t>(i));
            ASSERT_TRUE(step == 0 || step == 1) << i;
        }
        auto fall = [&](int from, int to) {
            return (t(static_cast<uint8_t>(from)) - t(static_cast<uint8_t>(to))) /
                   static_cast<double>(to - from);
        };
        for (int i = 1; i + 16 <= 128; i += 16) EXPECT_NEAR(fall(i, i + 16), 0.65, 0.1) << i;
        for (int i = 128; i + 16 <= 255; i += 16) EXPECT_NEAR(fall(i, i + 16), 0.85, 0.1) << i;
    }
}

TEST(GrayToBinary, SetInfoRefusals) {
    CGrayToBinary stage;
    CImg gray, color;
    ASSERT_TRUE(gray.createImg(8, 2, 8, 1, 1, 300, 300));
    ASSERT_TRUE(color.createImg(8, 2, 8, 3, 0, 300, 300));
    tagGRAYTOBINARYINFO rec = Settings(0, 128);
    EXPECT_EQ(stage.setInfo(gray, &rec), RTN_OK);
    EXPECT_EQ(stage.setInfo(gray, nullptr), RTN_PAR);
    EXPECT_EQ(stage.setInfo(color, &rec), RTN_PAR);
    rec.ulSize = 16;
    EXPECT_EQ(stage.setInfo(gray, &rec), RTN_PAR);
}

// The whole page through IP, and the same page in bands of the given heights
// through the controller, give the same bits; the handle lives from the first
// band to the last.
void ExpectBandsEqualWhole(uint32_t method, const std::vector<int32_t>& split) {
    const kdtest::TestImage page = kdtest::PhotoPage(123, 90, 1, 0, 7);
    tagGRAYTOBINARYINFO rec = Settings(method, 140);
    CImg whole = ImageOfLines(page, 0, page.height());
    CGrayToBinary single;
    ASSERT_EQ(single.IPInterface(whole, &rec), RTN_OK);
    EXPECT_FALSE(single.holdsHandle());
    ASSERT_EQ(whole.info().lBps, 1);

    CIPController<CGrayToBinary> c;
    c.setStage(new CGrayToBinary, IPMODE_BAND);
    std::vector<uint8_t> joined;
    int32_t y = 0;
    for (size_t i = 0; i < split.size(); ++i) {
        CImg band = ImageOfLines(page, y, split[i]);
        y += split[i];
        const bool last = i + 1 == split.size();
        ASSERT_EQ(last ? c.IPLast(band, &rec) : c.IPMiddle(band, &rec), RTN_OK);
        EXPECT_EQ(c.stage()->holdsHandle(), !last);
        ASSERT_EQ(band.info().lHeight, split[i]);
        const std::vector<uint8_t> b = PixelBytes(band);
        joined.insert(joined.end(), b.begin(), b.end());
    }
    ASSERT_EQ(y, page.height());
    EXPECT_EQ(joined, PixelBytes(whole)) << "method " << method;
}

TEST(GrayToBinary, BandsGiveTheWholePage) {
    for (uint32_t method : {0u, 1u})
        for (const auto& split : {std::vector<int32_t>{45, 45}, {1, 30, 29, 30}, {89, 1}})
            ExpectBandsEqualWhole(method, split);
}

TEST(GrayToBinary, DoubleMethodDoublesSizeAndResolution) {
    CGrayToBinary stage;
    CImg img;
    ASSERT_TRUE(img.createImg(100, 50, 8, 1, 1, 200, 200));
    std::memset(img.info().lpImage, 200, img.info().tImageSize);
    tagGRAYTOBINARYINFO rec = Settings(CGrayToBinary::kMethodDouble, 128);
    ASSERT_EQ(stage.IPInterface(img, &rec), RTN_OK);
    const tagIMAGEINFO& out = img.info();
    EXPECT_EQ(out.lWidth, 200);
    EXPECT_EQ(out.lHeight, 100);
    EXPECT_EQ(out.lSync, 25);
    EXPECT_EQ(out.lBps, 1);
    EXPECT_EQ(out.lSpp, 1);
    EXPECT_EQ(out.lXResolution, 400);
    EXPECT_EQ(out.lYResolution, 400);
}

TEST(GrayToBinary, LevelsOfTheRequest) {
    struct Case {
        const char* name;
        tagGRAYTOBINARYINFO rec;
        uint32_t level1, level2;
    } cases[] = {
        {"first table, brightness 0", Settings(0, 0), 227, 227},
        {"first table, brightness 255", Settings(0, 255), 36, 36},
        {"only the low byte of the brightness", Settings(0, 0x1FF), 36, 36},
        {"second table", Settings(1, 128, 0, 1), 144, 144},
        {"adaptive, brightness 0", Settings(CGrayToBinary::kMethodAdaptive, 0, 77), 25, 77},
        {"adaptive, brightness 255", Settings(CGrayToBinary::kMethodAdaptive, 255, 9), 215, 9},
    };
    for (Case& c : cases) {
        const CGrayToBinary::Levels levels = CGrayToBinary::SliceLevels(c.rec);
        EXPECT_EQ(levels.level1, c.level1) << c.name;
        EXPECT_EQ(levels.level2, c.level2) << c.name;
        // The request of a first band carries the method and the first level
        // (the lower layer writes the level it carries on into the second).
        CGrayToBinary stage;
        CImg img;
        ASSERT_TRUE(img.createImg(16, 4, 8, 1, 1, 300, 300));
        ASSERT_EQ(stage.IPFirstInterface(img, &c.rec), RTN_OK) << c.name;
        EXPECT_EQ(stage.request().kind, c.rec.Method) << c.name;
        EXPECT_EQ(stage.request().firstSlice, c.level1) << c.name;
    }
}

TEST(GrayToBinary, UnknownMethodGivesParameterError) {
    CGrayToBinary stage;
    CImg img;
    ASSERT_TRUE(img.createImg(16, 4, 8, 1, 1, 300, 300));
    tagGRAYTOBINARYINFO rec = Settings(99, 128);
    EXPECT_EQ(stage.IPInterface(img, &rec), RTN_PAR);
    EXPECT_FALSE(stage.holdsHandle());
}

// 1-bit page 16 x 16: black square 8..15 x 0..7, one black speck at (3, 12)
// on white and one white hole at (11, 3) inside the black square.
CImg SpeckPage() {
    CImg img;
    EXPECT_TRUE(img.createImg(16, 16, 8, 1, 1, 1, 300, 300));
    auto set = [&](int x, int y, bool black) {
        uint8_t& byte = img.info().lpImage[y * 8 + x / 8];
        const uint8_t bit = static_cast<uint8_t>(0x80 >> (x % 8));
        byte = black ? (byte | bit) : (byte & ~bit);
    };
    for (int y = 0; y < 8; ++y)
        for (int x = 8; x < 16; ++x) set(x, y, true);
    set(3, 12, true);
    set(11, 3, false);
    return img;
}

bool Black(const CImg& img, int x, int y) {
    return (img.info().lpImage[y * img.info().lSync + x / 8] & (0x80 >> (x % 8))) != 0;
}

TEST(BinIPFilter, ByType) {
    struct Case {
        uint32_t type;
        bool speckStays, holeStays;
        bool changes;
    } cases[] = {{0, true, true, false}, {1, false, false, true}, {3, false, false, true}};
    for (const Case& c : cases) {
        CBinIPFilter stage;
        tagBINIPFILTERINFO rec{kBinIPFilterInfoSize, c.type};
        CImg img = SpeckPage();
        const std::vector<uint8_t> before = PixelBytes(img);
        ASSERT_EQ(stage.IPInterface(img, &rec), RTN_OK) << c.type;
        EXPECT_EQ(Black(img, 3, 12), c.speckStays) << c.type;
        EXPECT_EQ(!Black(img, 11, 3), c.holeStays) << c.type;
        EXPECT_EQ(PixelBytes(img) != before, c.changes) << c.type;
        EXPECT_TRUE(Black(img, 12, 4)) << "the square stays, type " << c.type;
    }
}

TEST(BinIPFilter, BinaryFilterRunsInPlace) {
    CBinIPFilter stage;
    tagBINIPFILTERINFO rec{kBinIPFilterInfoSize, CBinIPFilter::kBinaryFilter};
    CImg img = SpeckPage();
    ASSERT_EQ(stage.IPInterface(img, &rec), RTN_OK);
    EXPECT_EQ(img.info().lHeight, 16);
    EXPECT_TRUE(Black(img, 12, 4));
}

TEST(BinIPFilter, Refusals) {
    CBinIPFilter stage;
    tagBINIPFILTERINFO rec{kBinIPFilterInfoSize, 3};
    CImg img = SpeckPage();
    EXPECT_EQ(stage.setInfo(img, nullptr), RTN_PAR);
    tagBINIPFILTERINFO shortRec{4, 3};
    EXPECT_EQ(stage.setInfo(img, &shortRec), RTN_PAR);
    ASSERT_EQ(stage.setInfo(img, &rec), RTN_OK);
    const std::vector<uint8_t> before = PixelBytes(img);
    EXPECT_EQ(stage.IPFirst(img), RTN_UNSUPPORTED);
    EXPECT_EQ(stage.IPMiddle(img), RTN_UNSUPPORTED);
    EXPECT_EQ(stage.IPLast(img), RTN_UNSUPPORTED);
    EXPECT_EQ(PixelBytes(img), before);
    CImg gray;
    ASSERT_TRUE(gray.createImg(8, 2, 8, 1, 1, 300, 300));
    EXPECT_EQ(stage.IP(gray), RTN_PAR);
}

} // namespace
