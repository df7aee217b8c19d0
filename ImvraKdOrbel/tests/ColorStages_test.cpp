#include "ColorStages.h"

#include "StageImages.h"
#include "TvkIpError.h"

#include <gtest/gtest.h>

#include <cstring>
#include <array>
#include <random>
#include <vector>

using namespace Tvk;
using namespace Tvk::Imvra;
using KD730::CColorSaturate;
using KD730::CSRGBConversion;

namespace {

struct RGB {
    uint8_t r, g, b;
    bool operator==(const RGB&) const = default;
};

CImg OnePixel(RGB p, uint32_t order = 0) {
    CImg img;
    EXPECT_TRUE(img.createImg(1, 1, 8, 3, order, 300, 300));
    img.info().lpImage[0] = p.r;
    img.info().lpImage[1] = p.g;
    img.info().lpImage[2] = p.b;
    return img;
}

RGB PixelOf(const CImg& img) {
    return {img.info().lpImage[0], img.info().lpImage[1], img.info().lpImage[2]};
}

tagDROPOUTCOLORINFO InkRecord(uint32_t color) {
    return {kDropOutColorInfoSize, color, nullptr, nullptr, 0, 0};
}

tagSRGBCONVERSIONINFO SRGBRecord(uint32_t type, const int32_t (&m)[3][3] = {}) {
    tagSRGBCONVERSIONINFO rec{kSRGBConversionInfoSize, type, {}};
    std::memcpy(rec.Matrix, m, sizeof rec.Matrix);
    return rec;
}

constexpr int32_t kSwapRB[3][3] = {{0, 0, 1024}, {0, 1024, 0}, {1024, 0, 0}};

TEST(ColorStages, PixelExamples) {
    enum Kind { DropOut, Emphasis, SRGB };
    struct Case {
        const char* name;
        Kind kind;
        uint32_t setting; // ink colour or sRGB type
        RGB in, out;
        int result;
    } cases[] = {
        {"drop-out green", DropOut, INK_GREEN, {200, 100, 50}, {100, 100, 100}, RTN_OK},
        {"drop-out red", DropOut, INK_RED, {200, 100, 50}, {200, 200, 200}, RTN_OK},
        {"drop-out blue", DropOut, INK_BLUE, {200, 100, 50}, {50, 50, 50}, RTN_OK},
        {"drop-out none", DropOut, INK_NONE, {200, 100, 50}, {200, 100, 50}, RTN_OK},
        {"drop-out of a listed colour", DropOut, INK_LISTED, {200, 100, 50}, {200, 100, 50},
         RTN_UNSUPPORTED},
        {"drop-out beyond the range", DropOut, 5, {200, 100, 50}, {200, 100, 50}, RTN_UNSUPPORTED},
        {"emphasis green", Emphasis, INK_GREEN, {200, 100, 50}, {125, 125, 125}, RTN_OK},
        {"emphasis red", Emphasis, INK_RED, {200, 100, 50}, {75, 75, 75}, RTN_OK},
        {"emphasis blue, mean rounded down", Emphasis, INK_BLUE, {200, 101, 50}, {150, 150, 150},
         RTN_OK},
        {"emphasis of a listed colour", Emphasis, INK_LISTED, {200, 100, 50}, {200, 100, 50},
         RTN_UNSUPPORTED},
        {"emphasis beyond the range", Emphasis, 9, {200, 100, 50}, {200, 100, 50},
         RTN_UNSUPPORTED},
        {"sRGB white stays white", SRGB, 0, {255, 255, 255}, {255, 255, 255}, RTN_OK},
        {"sRGB red: 1101 * 255 held, (113 * 255 + 512) >> 10, (259 * 255 + 512) >> 10", SRGB, 0,
         {255, 0, 0}, {255, 28, 64}, RTN_OK},
        {"sRGB type 1 takes the same built-in matrix", SRGB, 1, {255, 0, 0}, {255, 28, 64}, RTN_OK},
        {"sRGB green: negative sums held to 0", SRGB, 0, {0, 255, 0}, {0, 255, 0}, RTN_OK},
        {"sRGB own matrix", SRGB, 2, {10, 20, 30}, {30, 20, 10}, RTN_OK},
        {"sRGB unknown type", SRGB, 3, {10, 20, 30}, {10, 20, 30}, RTN_PAR},
    };
    for (const Case& c : cases) {
        CImg img = OnePixel(c.in);
        int r;
        if (c.kind == SRGB) {
            tagSRGBCONVERSIONINFO rec = SRGBRecord(c.setting, kSwapRB);
            CSRGBConversion stage;
            r = stage.IPInterface(img, &rec);
        } else {
            tagDROPOUTCOLORINFO rec = InkRecord(c.setting);
            CDropOutColor drop;
            CEmphasisColor emphasis;
            r = c.kind == DropOut ? drop.IPInterface(img, &rec) : emphasis.IPInterface(img, &rec);
        }
        EXPECT_EQ(r, c.result) << c.name;
        EXPECT_TRUE(PixelOf(img) == c.out)
            << c.name << ": " << int(PixelOf(img).r) << "," << int(PixelOf(img).g) << ","
            << int(PixelOf(img).b);
    }
}

TEST(ColorStages, LayoutsAndRecords) {
    tagDROPOUTCOLORINFO ink = InkRecord(INK_GREEN);
    tagSRGBCONVERSIONINFO srgb = SRGBRecord(0);
    const RGB in{200, 100, 50};

    CImg planar = OnePixel(in, 1);
    CDropOutColor drop;
    EXPECT_EQ(drop.IPInterface(planar, &ink), RTN_UNSUPPORTED);
    CEmphasisColor emphasis;
    EXPECT_EQ(emphasis.IPInterface(planar, &ink), RTN_UNSUPPORTED);
    CSRGBConversion convert;
    EXPECT_EQ(convert.IPInterface(planar, &srgb), RTN_OK); // passed through
    EXPECT_TRUE(PixelOf(planar) == in);

    CImg gray;
    ASSERT_TRUE(gray.createImg(3, 1, 8, 1, 1, 300, 300));
    std::memset(gray.info().lpImage, 77, 3);
    EXPECT_EQ(drop.IPInterface(gray, &ink), RTN_PAR);
    EXPECT_EQ(emphasis.setInfo(gray, &ink), RTN_PAR);
    EXPECT_EQ(convert.IPInterface(gray, &srgb), RTN_OK);
    EXPECT_EQ(gray.info().lpImage[0], 77);

    CImg img = OnePixel(in);
    EXPECT_EQ(drop.setInfo(img, nullptr), RTN_PAR);
    EXPECT_EQ(convert.setInfo(img, nullptr), RTN_PAR);
    ink.ulSize = 24;
    EXPECT_EQ(drop.setInfo(img, &ink), RTN_PAR);
    srgb.ulSize = 40;
    EXPECT_EQ(convert.setInfo(img, &srgb), RTN_PAR);
    EXPECT_TRUE(PixelOf(img) == in);
}

// Every line of a band of several lines is converted, its padding left alone.
TEST(ColorStages, EveryLineOfABand) {
    CImg img;
    ASSERT_TRUE(img.createImg(0, 0, 5, 3, 20, 8, 3, 0, 300, 300));
    std::memset(img.info().lpImage, 0xAA, img.info().tImageSize);
    tagDROPOUTCOLORINFO ink = InkRecord(INK_BLUE);
    for (int y = 0; y < 3; ++y) img.info().lpImage[y * 20 + 4 * 3 + 2] = static_cast<uint8_t>(y);
    CDropOutColor drop;
    ASSERT_EQ(drop.IPInterface(img, &ink), RTN_OK);
    for (int y = 0; y < 3; ++y) {
        EXPECT_EQ(img.info().lpImage[y * 20 + 4 * 3], y);
        EXPECT_EQ(img.info().lpImage[y * 20 + 15], 0xAA);
    }
}

TEST(ColorStages, BuiltInMatrices) {
    long m[3][3];
    KD730::getSRGBMatrixFeeder(m, 1);
    EXPECT_EQ(m[0][0], 1097);
    EXPECT_EQ(m[2][1], -559);
    for (long kind : {0L, 2L, -1L}) {
        KD730::getSRGBMatrixFeeder(m, kind);
        EXPECT_EQ(m[0][2], -79);
        EXPECT_EQ(m[1][2], -182);
        EXPECT_EQ(m[2][2], 1136);
    }
    long f[3][3], p[3][3];
    for (long kind : {0L, 1L}) {
        KD730::getSRGBMatrixFeeder(m, kind);
        KD730::getSRGBMatrixFlatbed(f, kind);
        KD730::getSRGBMatrixFeederPhoto(p, kind);
        EXPECT_EQ(0, std::memcmp(m, f, sizeof m));
        EXPECT_EQ(0, std::memcmp(m, p, sizeof m));
    }
}

// The vector form gives the plain loop's bytes for every line length and
// for matrices that reach the limits of the arithmetic.
TEST(ColorStages, VectorConversionMatchesThePlainLoop) {
    std::mt19937& rng = kdtest::Rng(17);
    std::uniform_int_distribution<int32_t> small(-3000, 3000);
    std::uniform_int_distribution<int32_t> mid(-(1 << 21), 1 << 21);
    std::uniform_int_distribution<int32_t> any(INT32_MIN / 256, INT32_MAX / 256);
    std::vector<std::array<std::array<int32_t, 3>, 3>> matrices = {
        {{{1101, 0, -79}, {113, 1092, -182}, {259, -372, 1136}}},
        {{{1 << 21, -(1 << 21), 1 << 21}, {-(1 << 21), 1 << 21, -(1 << 21)}, {0, 0, 1 << 21}}},
    };
    for (int i = 0; i < 9; ++i) {
        std::array<std::array<int32_t, 3>, 3> m{};
        for (auto& row : m)
            for (auto& v : row) v = i < 3 ? small(rng) : i < 6 ? mid(rng) : any(rng);
        matrices.push_back(m);
    }
    for (const auto& mm : matrices) {
        int32_t m[3][3];
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) m[r][c] = mm[r][c];
        for (size_t pixels : {0u, 1u, 7u, 9u, 10u, 11u, 17u, 18u, 19u, 64u, 101u}) {
            std::vector<uint8_t> line(pixels * 3 + 8);
            kdtest::FillRandom(line, static_cast<uint32_t>(pixels));
            std::vector<uint8_t> plain = line;
            ConvertLineByMatrix(line.data(), pixels, m);
            ConvertLineByMatrixPlain(plain.data(), pixels, m);
            ASSERT_EQ(line, plain) << pixels << " pixels";
        }
    }
}

TEST(ColorSaturate, GrayPageAndBandCalls) {
    CColorSaturate stage;
    CImg gray;
    ASSERT_TRUE(gray.createImg(64, 64, 8, 1, 1, 300, 300));
    EXPECT_EQ(stage.IPInterface(gray, nullptr), RTN_PAR);
    CImg color;
    ASSERT_TRUE(color.createImg(64, 64, 8, 3, 0, 300, 300));
    EXPECT_EQ(stage.IPFirst(color), RTN_UNSUPPORTED);
    EXPECT_EQ(stage.IPMiddle(color), RTN_UNSUPPORTED);
    EXPECT_EQ(stage.IPLast(color), RTN_UNSUPPORTED);
    CImg binary;
    ASSERT_TRUE(binary.createImg(64, 64, 1, 1, 1, 300, 300));
    EXPECT_EQ(stage.IP(binary), RTN_PAR);
}

// A page of tinted paper with dark text: the background is found and painted
// in one colour, the text stays.
TEST(ColorSaturate, PaintsTheBackgroundOfAColourPage) {
    kdtest::TestImage page = kdtest::GrayToColor(kdtest::TextPage(300, 300, 1, 0, 9, 230, 20));
    for (int32_t y = 0; y < page.height(); ++y)
        for (int32_t x = 0; x < page.width(); ++x)
            if (page.get(x, y) == 0xE6E6E6) page.set(x, y, 0xC8DCE6 + ((x * 7 + y * 3) % 5));
    CImg img = stagetest::ImageOf(page);
    CColorSaturate stage;
    ASSERT_EQ(stage.IPInterface(img, nullptr), RTN_OK);
    EXPECT_NE(0, std::memcmp(img.info().lpImage, page.data(), img.info().tImageSize));
}

} // namespace
