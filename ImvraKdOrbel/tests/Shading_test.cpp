#include "Shading.h"
#include "RawBands.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <vector>

using namespace Tvk;
using namespace Tvk::Imvra;
using namespace Tvk::Imvra::KD730;

namespace {

// A one-line 16-bit image: gray (spp 1), interleaved (order 0) or planar (order 1) colour.
CImg Line16(const std::vector<uint16_t>& samples, int32_t spp = 1, uint32_t order = 0) {
    const int32_t width = static_cast<int32_t>(samples.size()) / spp;
    CImg img;
    EXPECT_TRUE(img.createImg(width, 1, 16, spp, order, 300, 300));
    std::memcpy(img.info().lpImage, samples.data(), samples.size() * 2);
    return img;
}

CImg Band8(const std::vector<uint8_t>& samples, int32_t width, int32_t spp = 1,
           uint32_t order = 0) {
    CImg img;
    const int32_t height = static_cast<int32_t>(samples.size()) / (width * spp);
    EXPECT_TRUE(img.createImg(width, height, 8, spp, order, 300, 300));
    std::memcpy(img.info().lpImage, samples.data(), samples.size());
    return img;
}

std::vector<uint16_t> Values16(const CImg& img) {
    const auto* p = reinterpret_cast<const uint16_t*>(img.info().lpImage);
    return {p, p + img.info().tImageSize / 2};
}

std::vector<uint8_t> Bytes(const CImg& img) {
    return {img.info().lpImage, img.info().lpImage + img.info().tImageSize};
}

// The shading stage with data made from the references.
struct Shaded {
    CShading stage;
    tagSHADINGINFO info;
    int made = -1;
    Shaded(const CImg& white, const CImg& black, int32_t row = 0) {
        info.ulSize = kShadingInfoSize;
        info.white = white;
        info.black = black;
        CImg whiteOrg = white, blackOrg = black;
        made = stage.makeShadingData(info.white, info.black, whiteOrg, blackOrg, row);
    }
    int run(CImg& band) { return stage.IPInterface(band, &info); }
};

TEST(Shading, ShadingDataFollowEachRule) {
    // White equal to black, below black, 16 w not above the target (4607),
    // and two ordinary samples.
    Shaded s(Line16({100, 50, 300, 1000, 4000}), Line16({100, 60, 20, 200, 400}));
    ASSERT_EQ(s.made, RTN_OK);
    EXPECT_EQ(Values16(s.info.white),
              (std::vector<uint16_t>{65535, 65535, 65535, 4607 * 4096 / 800, 4607 * 4096 / 3600}));
    EXPECT_EQ(Values16(s.info.black), (std::vector<uint16_t>{6, 3, 1, 12, 25}));
}

TEST(Shading, EightAndSixteenBitSourcesShiftBy12And16) {
    Shaded s(Line16({100, 50, 300, 1000, 4000}), Line16({100, 60, 20, 200, 400}));
    CImg eight = Band8({10, 5, 0, 20, 60}, 5);
    ASSERT_EQ(s.run(eight), RTN_OK);
    // (10 - 6) x 65535 >> 12, (5 - 3) x 65535 >> 12, below black 0, 8 x 23587 >> 12, 35 x 5241 >> 12.
    EXPECT_EQ(Bytes(eight), (std::vector<uint8_t>{63, 31, 0, 46, 44}));

    CImg wide = Line16({10, 5, 0, 100, 65535});
    ASSERT_EQ(s.run(wide), RTN_OK);
    EXPECT_EQ(wide.info().lBps, 8);
    EXPECT_EQ(Bytes(wide), (std::vector<uint8_t>{3, 1, 0, 31, 255}));
}

TEST(Shading, WithoutShadingDataSixteenBitSamplesKeepTheirUpperByte) {
    CShading stage;
    tagSHADINGINFO none;
    none.ulSize = kShadingInfoSize;
    CImg wide = Line16({4095, 16, 0, 15});
    ASSERT_EQ(stage.IPInterface(wide, &none), RTN_OK);
    EXPECT_EQ(Bytes(wide), (std::vector<uint8_t>{255, 1, 0, 0}));
    CImg eight = Band8({1, 2}, 2);
    EXPECT_EQ(stage.IPInterface(eight, &none), RTN_PAR);
    CImg binary;
    ASSERT_TRUE(binary.createImg(8, 1, 1, 1, 0));
    EXPECT_EQ(stage.IPInterface(binary, &none), RTN_OK);
    EXPECT_EQ(binary.info().lBps, 1);
}

TEST(Shading, SettingsOfAnotherSizeAreRefused) {
    CShading stage;
    tagSHADINGINFO info;
    info.ulSize = kShadingInfoSize - 1;
    CImg band = Band8({1}, 1);
    EXPECT_EQ(stage.IPInterface(band, &info), RTN_PAR);
    EXPECT_EQ(stage.IPInterface(band, nullptr), RTN_PAR);
}

TEST(Shading, GrayBandWiderThanTheShadingLineLeavesTheRestAtZero) {
    Shaded s(Line16({4000, 4000}), Line16({0, 0}));
    CImg band = Band8({100, 100, 100, 100, 100, 100, 100, 100}, 4);
    ASSERT_EQ(s.run(band), RTN_OK);
    // 100 x (4607 x 4096 / 4000) >> 12 = 115.
    EXPECT_EQ(Bytes(band), (std::vector<uint8_t>{115, 115, 0, 0, 115, 115, 0, 0}));
}

TEST(Shading, PlanarBandUsesOneBlackSampleForAllThreeChannels) {
    // Multipliers of about 1.0 in red, 2.0 in green, 0.5 in blue (4096 = 1.0).
    const uint16_t r = 4591, g = 4527 / 2, b = 4485 * 2;
    Shaded s(Line16({r, r, g, g, b, b}, 3, 1), Line16({0, 0, 0, 0, 0, 0}, 3, 1));
    ASSERT_EQ(Values16(s.info.white), (std::vector<uint16_t>{4096, 4096, 4527 * 4096 / g,
                                                             4527 * 4096 / g, 2048, 2048}));
    // Black line: red plane 160 (10 after >> 4); green and blue planes differ
    // and are not used.
    std::memcpy(s.info.black.info().lpImage,
                std::vector<uint16_t>{10, 20, 30, 30, 40, 40}.data(), 12);
    CImg band = Band8({50, 60, 50, 60, 50, 60}, 2, 3, 1);
    ASSERT_EQ(s.run(band), RTN_OK);
    EXPECT_EQ(band.info().ulRGBOrder, 0u);
    EXPECT_EQ(Bytes(band), (std::vector<uint8_t>{40, 80, 20, 40, 80, 20}));
}

TEST(Shading, InterleavedBandUsesEverySamplesOwnBlack) {
    Shaded s(Line16({2000, 2000, 2000}, 3, 0), Line16({0, 0, 0}, 3, 0));
    std::memcpy(s.info.black.info().lpImage, std::vector<uint16_t>{10, 20, 30}.data(), 6);
    const uint16_t* w = reinterpret_cast<const uint16_t*>(s.info.white.info().lpImage);
    CImg band = Band8({50, 50, 50}, 1, 3, 0);
    ASSERT_EQ(s.run(band), RTN_OK);
    EXPECT_EQ(Bytes(band), (std::vector<uint8_t>{static_cast<uint8_t>((40 * w[0]) >> 12),
                                                 static_cast<uint8_t>((30 * w[1]) >> 12),
                                                 static_cast<uint8_t>((20 * w[2]) >> 12)}));
}

TEST(Shading, ColourBandWithShadingDataOfAnotherLayoutIsRefused) {
    Shaded planarData(Line16({1000, 1000, 1000}, 3, 1), Line16({0, 0, 0}, 3, 1));
    Shaded pixelData(Line16({1000, 1000, 1000}, 3, 0), Line16({0, 0, 0}, 3, 0));
    CImg interleaved = Band8({1, 2, 3}, 1, 3, 0);
    CImg planar = Band8({1, 2, 3}, 1, 3, 1);
    const std::vector<uint8_t> before = Bytes(interleaved);
    EXPECT_EQ(planarData.run(interleaved), RTN_PAR);
    EXPECT_EQ(pixelData.run(planar), RTN_PAR);
    EXPECT_EQ(Bytes(interleaved), before);
    EXPECT_EQ(planar.info().ulRGBOrder, 1u);
}

TEST(Shading, ReferencesThatDoNotFitAreRefusedUnchanged) {
    CShading stage;
    struct Case {
        const char* what;
        CImg white, black;
        int32_t row;
    };
    CImg eightWhite = Band8({1, 2}, 2);
    CImg twoLines;
    ASSERT_TRUE(twoLines.createImg(2, 2, 16, 1, 0));
    Case cases[] = {
        {"8-bit white", Band8({1, 2, 3, 4}, 4), Line16({1, 2}), 0},
        {"sizes differ", Line16({1, 2, 3}), Line16({1, 2}), 0},
        {"two lines", twoLines, twoLines, 0},
        {"colour and gray", Line16({1, 2, 3}, 3), Line16({1, 2, 3}), 0},
        {"target row 2", Line16({1, 2}), Line16({1, 2}), 2},
    };
    for (Case& c : cases) {
        const std::vector<uint8_t> w = Bytes(c.white), b = Bytes(c.black);
        CImg org = c.white, orgBlack = c.black;
        EXPECT_EQ(stage.makeShadingData(c.white, c.black, org, orgBlack, c.row), RTN_PAR) << c.what;
        EXPECT_EQ(Bytes(c.white), w) << c.what;
        EXPECT_EQ(Bytes(c.black), b) << c.what;
    }
}

TEST(Shading, PlatenColourComesFromTheUnadjustedWhite) {
    // Adjusted white 800 over black 160: multiplier 4591 x 4096 / 640 for red
    // (and the green and blue targets); black 10 after >> 4.
    CImg white = Line16({800, 800, 800}, 3, 0), black = Line16({160, 160, 160}, 3, 0);
    // Unadjusted red 400 (25 after >> 4), green 4800 (300: low byte 44),
    // blue 100 (6: below black, so 0).
    CImg org = Line16({400, 4800, 100}, 3, 0), orgBlack = black;
    CShading stage;
    ASSERT_EQ(stage.makeShadingData(white, black, org, orgBlack, 0), RTN_OK);
    const tagSHADING_AVARAGE& p = stage.platenColor();
    EXPECT_TRUE(p.isColor);
    EXPECT_EQ(p.red, (25 - 10) * (4591 * 4096 / 640) / 4096);
    EXPECT_EQ(p.green, (44 - 10) * (4527 * 4096 / 640) / 4096);
    EXPECT_EQ(p.blue, 0);

    // The platen fill: blue, green, red from the colour; a gray image is refused.
    CImg page;
    ASSERT_TRUE(page.createImg(4, 3, 8, 3, 1, 300, 300)); // planar: made anew, interleaved
    ASSERT_EQ(stage.fixPlatenImage(page, tagKDRECT{1, 1, 3, 2}), RTN_OK);
    EXPECT_EQ(page.info().ulRGBOrder, 0u);
    const uint8_t* px = page.info().lpImage;
    EXPECT_EQ(px[0], p.red);
    EXPECT_EQ(px[1], p.green);
    EXPECT_EQ(px[2], p.blue);
    const uint8_t* inside = px + page.info().lSync + 3;
    EXPECT_EQ(inside[0], 0); // inside the rectangle: untouched
    CImg gray = Band8({7, 7}, 2);
    EXPECT_EQ(stage.fixPlatenImage(gray), RTN_PAR);
    EXPECT_EQ(Bytes(gray), (std::vector<uint8_t>{7, 7}));
}

// ---------------------------------------------------------------------------
// SSE2 twins against the plain loops.

TEST(Shading, VectorRoutinesMatchThePlainLoopsByteForByte) {
    std::mt19937 rng(77);
    auto fill8 = [&](std::vector<uint8_t>& v) { for (auto& x : v) x = static_cast<uint8_t>(rng()); };
    auto fill16 = [&](std::vector<uint16_t>& v, unsigned mask) {
        for (auto& x : v) x = static_cast<uint16_t>(rng() & mask);
    };
    std::vector<size_t> widths;
    for (size_t n = 0; n <= 40; ++n) widths.push_back(n);
    widths.push_back(1001);
    for (size_t n : widths) {
        for (size_t off = 0; off < 4; ++off) {
            const size_t len = n + off + 8;
            std::vector<uint8_t> s8(len), s8g(len), s8b(len);
            std::vector<uint16_t> s16(len), w(len), wg(len), wb(len), b(len);
            fill8(s8), fill8(s8g), fill8(s8b);
            fill16(s16, 0xFFFF), fill16(w, 0xFFFF), fill16(wg, 0x3FFF), fill16(wb, 0xFFFF);
            fill16(b, off % 2 ? 0x0FFF : 0x00FF);
            std::vector<uint8_t> plain(3 * len, 0xAA), vec(3 * len, 0xAA);

            ShadingLine::Gray8(plain.data(), s8.data() + off, w.data() + off, b.data() + off, n, false);
            ShadingLine::Gray8(vec.data(), s8.data() + off, w.data() + off, b.data() + off, n, true);
            ASSERT_EQ(plain, vec) << "Gray8 n " << n << " offset " << off;

            ShadingLine::Gray16(plain.data(), s16.data() + off, w.data() + off, b.data() + off, n, false);
            ShadingLine::Gray16(vec.data(), s16.data() + off, w.data() + off, b.data() + off, n, true);
            ASSERT_EQ(plain, vec) << "Gray16 n " << n << " offset " << off;

            const uint8_t* src[3] = {s8.data() + off, s8g.data() + off, s8b.data() + off};
            const uint16_t* ws[3] = {w.data() + off, wg.data() + off, wb.data() + off};
            ShadingLine::Planar8(plain.data(), src, ws, b.data() + off, n, false);
            ShadingLine::Planar8(vec.data(), src, ws, b.data() + off, n, true);
            ASSERT_EQ(plain, vec) << "Planar8 n " << n << " offset " << off;
        }
    }
}

// ---------------------------------------------------------------------------
// Raw pages from a sensor with uneven sensitivity and dark level, shaded with
// the references the sensor model scans, come back even.

struct ModelScan {
    kdsensor::SensorModel model{5};
    kdsensor::ScanFormat page;
    kdsensor::Registers regs;
    ModelScan(bool colour) {
        page.colour = colour;
        // Settings a calibration arrives at: dark near 96 counts, white near 3072.
        for (auto* side : {&regs.front, &regs.back}) {
            side->gain = {20, 20, 20};
            side->offset = {70, 70, 70};
            // A gray row sees all three LEDs at once.
            side->led = colour ? std::array<uint16_t, 3>{560, 690, 620}
                               : std::array<uint16_t, 3>{187, 230, 207};
        }
    }
    // A reference scanned in 12 bits, collected and averaged to one line.
    CImg reference(bool lit) {
        kdsensor::ScanFormat f = page;
        f.bits = 12;
        const std::vector<uint8_t> raw = kdsensor::scanReference(model, f, regs, lit, 4);
        CImg band = rawtest::RawBand(f, raw, 0, 4);
        tagCOLLECTARRAYINFO info = rawtest::CollectInfo(f);
        CCollectArrayForSimplex collect;
        EXPECT_EQ(collect.IPInterface(band, &info), RTN_OK);
        return rawtest::MeanLine(band);
    }
    // The page scanned in 8 bits, collected and shaded.
    CImg shade(const rawtest::Page& p, CShading& shading, tagSHADINGINFO& info) {
        kdsensor::EncodeOptions o;
        o.format = page;
        o.exposure = kdsensor::Exposure::Model;
        o.model = &model;
        o.registers = regs;
        const auto side = p.side();
        const std::vector<uint8_t> raw = kdsensor::encodePage(o, &side, nullptr);
        CImg band = rawtest::RawBand(page, raw, 0, p.height);
        tagCOLLECTARRAYINFO ci = rawtest::CollectInfo(page);
        CCollectArrayForSimplex collect;
        EXPECT_EQ(collect.IPInterface(band, &ci), RTN_OK);
        EXPECT_EQ(shading.IPInterface(band, &info), RTN_OK);
        return band;
    }
};

TEST(Shading, ModelPagesComeBackEvenAtTheLevelsTheModelExpects) {
    for (bool colour : {false, true}) {
        ModelScan scan(colour);
        tagSHADINGINFO info;
        info.ulSize = kShadingInfoSize;
        info.white = scan.reference(true);
        info.black = scan.reference(false);
        CImg whiteOrg = info.white, blackOrg = info.black;
        CShading shading;
        ASSERT_EQ(shading.makeShadingData(info.white, info.black, whiteOrg, blackOrg, 0), RTN_OK);
        const int channels = colour ? 3 : 1;
        const int width = scan.page.collectedWidth();
        // A uniform page and a random one; the expected level of value v is
        // what paper reflecting kPaperWhite x v / 255 of the light shades to.
        for (const rawtest::Page& p :
             {rawtest::UniformPage(width, 3, channels, 128), rawtest::RandomPage(width, 3, channels, 9)}) {
            const CImg out = scan.shade(p, shading, info);
            ASSERT_EQ(out.info().lBps, 8);
            int worst = 0;
            for (int y = 0; y < p.height; ++y)
                for (int x = 0; x < width; ++x)
                    for (int c = 0; c < channels; ++c) {
                        const int32_t target = SHADING_TARGET[0][colour ? 1 + c : 0];
                        const double ideal =
                            kdsensor::kPaperWhite * p.at(x, y, c) / 255.0 * target / 16.0;
                        const int expected = static_cast<int>(std::min(255.0, ideal));
                        const int got = out.info().lpImage[int64_t{y} * out.info().lSync +
                                                           int64_t{x} * channels + c];
                        worst = std::max(worst, std::abs(got - expected));
                    }
            EXPECT_LE(worst, 2) << (colour ? "colour" : "gray");
        }
    }
}

} // namespace
