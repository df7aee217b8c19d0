// Colour mode detection and the gray test.
#include "DetectGray.h"
#include "DetectGrayFunctions.h"
#include "TestKit.h"

#include <gtest/gtest.h>

#include <array>
#include <initializer_list>
#include <vector>

using kdtest::TestImage;

namespace {

tagDETECTGRAYINFO GrayRequest(const TestImage& page) {
    tagDETECTGRAYINFO g{};
    g.ulSize = kDetectGrayInfoSizeFull;
    g.lWidth = page.width();
    g.lHeight = page.height();
    g.lXResolution = page.info()->lXResolution;
    g.lYResolution = page.info()->lYResolution;
    g.btBlackLevel = 160;
    g.lIntensity = 2;
    g.btWhiteLevel = 240;
    g.btGrayBound1 = 96;
    g.btGrayBound2 = 200;
    g.lLeftMargin = g.lRightMargin = page.info()->lXResolution * 20 / 254;
    return g;
}

tagDETECT_COLOR_INFO ColorRequest(const TestImage& page) {
    tagDETECT_COLOR_INFO c{};
    c.ulSize = kDetectColorInfoSizeFull;
    c.lWidth = page.width();
    c.lHeight = page.height();
    c.lXResolution = page.info()->lXResolution;
    c.lYResolution = page.info()->lYResolution;
    c.lThresholdMode = 2;
    c.lSensitivity = 2;
    c.lIntensity = 2;
    c.lAreaLength = page.height();
    return c;
}

// A page with black text on white paper, as RGB.
TestImage TextRgb() {
    return kdtest::TextPage(600, 800, 3, 0, 11, 250, 10);
}

// A photograph in shades of gray, as RGB.
TestImage GrayPhotoRgb() {
    return kdtest::GrayToColor(kdtest::PhotoPage(600, 800, 1, 0, 12));
}

TestImage ColorPhotoRgb() {
    return kdtest::PhotoPage(600, 800, 3, 0, 13);
}

struct ModeRun {
    uint32_t rc;
    uint32_t result;
};

ModeRun RunMode(TestImage& page, uint32_t mode, bool withColor = true, bool withGray = true) {
    tagDETECT_COLOR_INFO c = ColorRequest(page);
    tagDETECTGRAYINFO g = GrayRequest(page);
    tagDETECTCOLORMODEINFO m{};
    m.ulSize = kDetectColorModeInfoSize;
    m.ulMode = mode;
    m.pColorInfo = withColor ? &c : nullptr;
    m.pGrayInfo = withGray ? &g : nullptr;
    const uint32_t rc = DetectColorMode(page.info(), &m);
    return {rc, m.ulResult};
}

} // namespace

TEST(DetectColorMode, ResultOnColourGrayAndMonochromePages) {
    TestImage color = ColorPhotoRgb();
    TestImage gray = GrayPhotoRgb();
    TestImage text = TextRgb();
    const struct {
        const char* name;
        TestImage* page;
        uint32_t mode;
        bool withColor, withGray;
        uint32_t rc, result;
    } cases[] = {
        {"colour page, all allowed", &color, 0x800081, true, true, 0, kColorModeColor},
        {"gray photo, all allowed", &gray, 0x800081, true, true, 0, kColorModeGray},
        {"text, all allowed", &text, 0x800081, true, true, 0, kColorModeMono},
        {"text, colour or gray: no gray test needed", &text, 0x800080, true, false, 0,
         kColorModeGray},
        {"gray photo, colour or mono", &gray, 0x800001, true, false, 0, kColorModeMono},
        {"gray or mono only", &gray, 0x81, false, true, 0, kColorModeGray},
        // A single mode is decided without any test or sub-record.
        {"colour alone", &text, 0x800000, false, false, 0, kColorModeColor},
        {"gray alone", &text, 0x80, false, false, 0, kColorModeGray},
        {"mono alone", &text, 0x1, false, false, 0, kColorModeMono},
        {"unknown mode", &text, 0x2, true, true, kIpErrBadArgument, 0},
        {"no mode", &text, 0, true, true, kIpErrBadArgument, 0},
        // Stray bits beside gray and mono cannot be resolved.
        {"stray bit", &gray, 0x83, true, true, kIpErrBadArgument, kColorModeGray | 0x2},
        {"colour test without its record", &text, 0x800081, false, true, kIpErrBadArgument,
         0x800081},
        {"gray test without its record", &text, 0x81, true, false, kIpErrBadArgument, 0x81},
    };
    for (const auto& c : cases) {
        const ModeRun r = RunMode(*c.page, c.mode, c.withColor, c.withGray);
        EXPECT_EQ(r.rc, c.rc) << c.name;
        EXPECT_EQ(r.result, c.result) << c.name;
    }
}

TEST(DetectColorMode, ArgumentsAndFailedSubTests) {
    TestImage gray8 = TestImage::Gray(64, 64, 128);
    tagDETECT_COLOR_INFO c = ColorRequest(gray8);
    tagDETECTCOLORMODEINFO m{kDetectColorModeInfoSize, 0x800081, 7, &c, nullptr};
    EXPECT_EQ(DetectColorMode(nullptr, &m), kIpErrBadArgument);
    EXPECT_EQ(DetectColorMode(gray8.info(), nullptr), kIpErrBadArgument);
    // The colour test needs a 24-bit page; the mask stays as reached.
    EXPECT_EQ(DetectColorMode(gray8.info(), &m), kIpErrBadArgument);
    EXPECT_EQ(m.ulResult, 0x800081u);
    m.ulSize = kDetectColorModeInfoSize - 1;
    EXPECT_EQ(DetectColorMode(gray8.info(), &m), kIpErrBadArgument);

    // A colour record the colour test refuses: its code is passed on.
    TestImage rgb = TestImage::Color(64, 64);
    tagDETECT_COLOR_INFO bad = ColorRequest(rgb);
    bad.lXResolution = 0;
    tagDETECTCOLORMODEINFO m2{kDetectColorModeInfoSize, 0x800081, 0, &bad, nullptr};
    EXPECT_EQ(DetectColorMode(rgb.info(), &m2), static_cast<uint32_t>(kDetectColorErrBadArgument));
    EXPECT_EQ(m2.ulResult, 0u);
    EXPECT_EQ(bad.pDetectColor, nullptr);
}

TEST(IsGrayImage, SpecialPages) {
    // A binary page is never gray.
    TestImage bin = TestImage::Binary(64, 64);
    tagDETECTGRAYINFO g = GrayRequest(bin);
    g.bGray = 7;
    g.lGrayCount = 5;
    ASSERT_EQ(IsGrayImage(bin.info(), &g), 0u);
    EXPECT_EQ(g.bGray, 0u);

    // Nothing darker than the white level: empty, count -1.
    TestImage blank = TestImage::Gray(200, 200, 245);
    g = GrayRequest(blank);
    ASSERT_EQ(IsGrayImage(blank.info(), &g), 0u);
    EXPECT_EQ(g.bGray, 0u);
    EXPECT_EQ(g.lGrayCount, -1);

    // A narrow spread of light levels above the second gray bound is empty too.
    TestImage pale = TestImage::Gray(200, 200, 230);
    for (int32_t x = 0; x < 200; x += 3) pale.set(x, 50, 222);
    g = GrayRequest(pale);
    ASSERT_EQ(IsGrayImage(pale.info(), &g), 0u);
    EXPECT_EQ(g.lGrayCount, -1);
}

TEST(IsGrayImage, GrayAndMonochromeGrayscalePages) {
    TestImage text = kdtest::TextPage(600, 800, 1, 0, 21, 250, 10);
    tagDETECTGRAYINFO g = GrayRequest(text);
    ASSERT_EQ(IsGrayImage(text.info(), &g), 0u);
    EXPECT_EQ(g.bGray, 0u) << g.lGrayCount;

    TestImage photo = kdtest::PhotoPage(600, 800, 1, 0, 22);
    g = GrayRequest(photo);
    ASSERT_EQ(IsGrayImage(photo.info(), &g), 0u);
    EXPECT_EQ(g.bGray, 1u);
    EXPECT_GT(g.lGrayCount, 0);

    // The same photograph as line-sequential colour planes.
    TestImage planar = kdtest::GrayToColor(photo, 1);
    tagDETECTGRAYINFO gp = GrayRequest(planar);
    ASSERT_EQ(IsGrayImage(planar.info(), &gp), 0u);
    EXPECT_EQ(gp.bGray, g.bGray);
    EXPECT_EQ(gp.lGrayCount, g.lGrayCount);
}

TEST(IsGrayImage, Arguments) {
    TestImage page = TestImage::Gray(32, 32);
    tagDETECTGRAYINFO g = GrayRequest(page);
    EXPECT_EQ(IsGrayImage(nullptr, &g), kIpErrBadArgument);
    EXPECT_EQ(IsGrayImage(page.info(), nullptr), kIpErrBadArgument);
    g.ulSize = kDetectGrayInfoSizeMin - 1;
    EXPECT_EQ(IsGrayImage(page.info(), &g), kIpErrBadArgument);
    g.ulSize = kDetectGrayInfoSizeMin;
    EXPECT_EQ(IsGrayImage(page.info(), &g), 0u);
    // Lines shorter than the width cannot be read.
    g = GrayRequest(page);
    page.info()->lSync = 16;
    EXPECT_EQ(IsGrayImage(page.info(), &g), kIpErrBadArgument);
}

TEST(IsGrayImage, FlagImageCountsGrayAreasButNotSpecks) {
    // A gray ramp spreads over many levels and makes no histogram peak, so
    // the flag image decides; isolated gray pixels vanish in its opening.
    for (int32_t lines : {50, 100}) {
        TestImage page = kdtest::TextPage(600, 800, 1, 0, 21, 250, 10);
        for (int32_t y = 300; y < 300 + lines; ++y)
            for (int32_t x = 200; x < 400; ++x) page.set(x, y, 100 + (x - 200) / 2);
        for (int32_t i = 0; i < 150; ++i) page.set(40 + 3 * i, 700 + (i % 5) * 7, 150);
        tagDETECTGRAYINFO g = GrayRequest(page);
        g.lIntensity = 7;
        ASSERT_EQ(IsGrayImage(page.info(), &g), 0u);
        EXPECT_EQ(g.lGrayCount, lines * 200);
        EXPECT_EQ(g.bGray, 0u); // below 73728 gray pixels
    }
}

TEST(DetectGrayFunctions, OpeningMatchesAPlainCyclicModel) {
    using DetectGray_FunctionSpace::BitImage;
    std::mt19937& rng = kdtest::Rng(5);
    for (int32_t bytes : {1, 2, 9, 10, 17, 40}) {
        for (int32_t lines : {1, 2, 5, 13}) {
            for (int reach : {1, 2, 3, 7}) {
                for (bool erode : {true, false}) {
                    std::vector<uint8_t> img(static_cast<size_t>(bytes) * lines);
                    for (auto& b : img) b = static_cast<uint8_t>(rng() & (rng() | rng()));
                    const int32_t w = bytes * 8;
                    auto bit = [&](int32_t x, int32_t y) {
                        x = ((x % w) + w) % w;
                        y = ((y % lines) + lines) % lines;
                        return (img[y * bytes + x / 8] >> (7 - x % 8)) & 1;
                    };
                    std::vector<uint8_t> want(img.size(), 0);
                    for (int32_t y = 0; y < lines; ++y)
                        for (int32_t x = 0; x < w; ++x) {
                            int v = erode ? 1 : 0;
                            for (int dy = -reach; dy <= reach; ++dy)
                                for (int dx = -reach; dx <= reach; ++dx)
                                    v = erode ? (v & bit(x + dx, y + dy))
                                              : (v | bit(x + dx, y + dy));
                            if (v) want[y * bytes + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
                        }
                    std::vector<uint8_t> got = img;
                    BitImage b{got.data(), bytes, lines};
                    const uint32_t rc = erode
                                            ? DetectGray_FunctionSpace::CompressWnd(b, reach, reach)
                                            : DetectGray_FunctionSpace::ExtendWnd(b, reach, reach);
                    ASSERT_EQ(rc, 0u);
                    ASSERT_EQ(got, want) << "bytes " << bytes << " lines " << lines << " reach "
                                         << reach << (erode ? " erode" : " dilate");
                }
            }
        }
    }
    std::vector<uint8_t> one(4, 0xFF);
    BitImage b{one.data(), 4, 1};
    EXPECT_EQ(DetectGray_FunctionSpace::CompressWnd(b, 8, 2), kIpErrBadArgument);
}

TEST(DetectGrayFunctions, PeakAnalysisOfConstructedHistograms) {
    using DetectGray_FunctionSpace::DetectHistgram;
    // Black level 64, white 224, gray bounds 48 and 200.
    const DetectGray_FunctionSpace::PeakSettings s{64, 224, 48, 200, 65536, 2};
    struct Case {
        const char* what;
        std::vector<uint32_t> hist;
        std::array<uint8_t, 4> ranges;
    };
    const auto spikes = [](std::initializer_list<int> at, uint32_t n, uint32_t floor = 0,
                           int floorTo = -1) {
        std::vector<uint32_t> h(256, 0);
        for (int v = 0; v <= floorTo; ++v) h[v] = floor;
        for (int v : at) h[v] += n;
        return h;
    };
    std::vector<uint32_t> comb(256, 0);
    for (int v = 8; v < 256; v += 16) comb[v] = 204800;
    const Case cases[] = {
        // No peak anywhere: the whole dark and light ranges.
        {"empty", std::vector<uint32_t>(256, 0), {0, 48, 200, 255}},
        // Content below the black level without a peak: nothing found.
        {"flat", std::vector<uint32_t>(256, 1000), {64, 64, 64, 64}},
        // Peaks at every intensity: nothing found.
        {"many peaks", comb, {64, 64, 64, 64}},
        // A dark and a light peak on empty ground: each range runs out to its limits.
        {"two peaks", spikes({16, 216}, 204800), {0, 48, 200, 255}},
        // The dark peak on a plateau reaching past the first gray bound: the
        // range is narrowed to 32 bins from its lower end.
        {"dark plateau", spikes({16, 216}, 204800, 1000, 63), {0, 32, 200, 255}},
        // A dark peak above the first gray bound is no dark range.
        {"dark peak too light", spikes({56, 216}, 204800), {64, 64, 64, 64}},
    };
    for (const Case& c : cases) {
        std::array<uint8_t, 4> got{};
        DetectHistgram(c.hist.data(), s, got.data());
        EXPECT_EQ(got, c.ranges) << c.what;
    }
}
