// Text slant of generated text lines, the halving and projection helpers, and
// the to-gray conversion.
#include "DetectTextSlant.h"
#include "TestKit.h"
#include "TvkIpError.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using kdtest::TestImage;
namespace ts = TEXTSLANT_FUNCSPACE;

namespace {

// Text-like lines of word blocks that drop one line every `step` pixels
// (rise when step is negative); 0 draws them level. Only pixels whose x
// passes `keep` are inked.
template <typename Keep> void DrawTextLines(TestImage& img, int32_t step, uint32_t ink, Keep keep) {
    const int32_t w = img.width();
    const int32_t h = img.height();
    for (int32_t base = 40; base < h - 40; base += 28) {
        for (int32_t x = 10; x < w - 10; ++x) {
            if ((x / 37) % 5 == 4 || !keep(x)) continue; // gaps between words
            int32_t y0 = base;
            if (step > 0) y0 += x / step;
            if (step < 0) y0 -= x / -step;
            for (int32_t y = y0; y < y0 + 9; ++y) {
                if (y >= 0 && y < h) img.set(x, y, ink);
            }
        }
    }
}

template <typename Keep> TestImage BinaryText(int32_t w, int32_t h, int32_t step, Keep keep) {
    TestImage img = TestImage::Binary(w, h);
    DrawTextLines(img, step, 1, keep);
    return img;
}

TestImage BinaryText(int32_t w, int32_t h, int32_t step) {
    return BinaryText(w, h, step, [](int32_t) { return true; });
}

tagDETECTTEXTSLANTINFO Request(tagBINFUNCINFO* bin = nullptr, int32_t res = 0) {
    tagDETECTTEXTSLANTINFO r{};
    r.size = kDetectTextSlantInfoSize;
    r.binInfo = bin;
    r.workingResolution = res;
    r.angle = 99.0;
    return r;
}

// Half the angular distance to the neighbouring steps of the table.
constexpr double kStepTolerance = 0.0008;

} // namespace

TEST(DetectTextSlant, SlantedBinaryTextGivesItsStep) {
    const int32_t steps[] = {57, -57, 144, -30, 25};
    for (const int32_t step : steps) {
        TestImage img = BinaryText(1200, 900, step);
        auto req = Request();
        ASSERT_EQ(DetectTextSlant(img.info(), &req), 0) << step;
        EXPECT_NEAR(req.angle, std::atan(1.0 / step), kStepTolerance) << "step " << step;
    }
}

TEST(DetectTextSlant, LevelTextAndBlankPageGiveZero) {
    TestImage level = BinaryText(1000, 700, 0);
    auto req = Request();
    ASSERT_EQ(DetectTextSlant(level.info(), &req), 0);
    EXPECT_EQ(req.angle, 0.0);

    TestImage blank = TestImage::Binary(640, 480);
    req = Request();
    ASSERT_EQ(DetectTextSlant(blank.info(), &req), 0);
    EXPECT_EQ(req.angle, 0.0);
}

TEST(DetectTextSlant, RefusesUnusableRequests) {
    TestImage gray = TestImage::Gray(64, 64);
    auto req = Request();
    EXPECT_EQ(DetectTextSlant(gray.info(), &req), 87); // gray without binarisation
    EXPECT_EQ(DetectTextSlant(gray.info(), nullptr), 87);
    req.size = kDetectTextSlantInfoSize - 4;
    EXPECT_EQ(DetectTextSlant(gray.info(), &req), 87);
    req = Request();
    EXPECT_EQ(DetectTextSlant(nullptr, &req), 87);
    EXPECT_EQ(IpGetLastError(), 0u);
}

// Gray and colour pages go through the caller's binarisation, whose handle the
// call releases.
TEST(DetectTextSlant, BinarisesGrayAndColourAndReleasesTheHandle) {
    for (const int spp : {1, 3}) {
        for (const uint32_t order : {0u, 1u}) {
            if (spp == 1 && order == 1) continue;
            TestImage img = spp == 1 ? TestImage::Gray(1000, 800, 235)
                                     : TestImage::Color(1000, 800, order, 235);
            DrawTextLines(img, 48, spp == 1 ? 30u : 0x201810u, [](int32_t) { return true; });
            tagBINFUNCINFO bin{kBinFuncInfoSizeLong, kBinFixed, 128, 128, 0, nullptr};
            ASSERT_NE(CreateBinalizeHandle(&bin), nullptr);
            auto req = Request(&bin);
            ASSERT_EQ(DetectTextSlant(img.info(), &req), 0);
            EXPECT_NEAR(req.angle, std::atan(1.0 / 48), kStepTolerance) << spp << order;
            EXPECT_EQ(bin.handle, nullptr) << "binarisation handle left behind";
        }
    }
}

// Ink only on odd columns vanishes when the image is halved (the left pixel
// of every pair is kept), which shows whether halving took place. The page is
// wide so that the striped columns do not win when turned.
TEST(DetectTextSlant, WorkingResolutionHalvesOnlyFromTwiceItsValue) {
    TestImage img = BinaryText(1800, 400, 57, [](int32_t x) { return x % 2 == 1; });
    const struct {
        int32_t res;
        bool halved;
    } cases[] = {{0, false}, {150, true}, {200, false}, {100, true}};
    for (const auto& c : cases) {
        auto req = Request(nullptr, c.res);
        ASSERT_EQ(DetectTextSlant(img.info(), &req), 0);
        if (c.halved) {
            EXPECT_EQ(req.angle, 0.0) << c.res;
        } else {
            EXPECT_NEAR(req.angle, std::atan(1.0 / 57), kStepTolerance) << c.res;
        }
    }
    // Even columns survive halving, and the slope is unchanged.
    TestImage even = BinaryText(1800, 400, 57, [](int32_t x) { return x % 2 == 0; });
    auto req = Request(nullptr, 150);
    ASSERT_EQ(DetectTextSlant(even.info(), &req), 0);
    EXPECT_NEAR(req.angle, std::atan(1.0 / 57), 0.002);
}

TEST(DetectTextSlant, HalveLineKeepsTheLeftPixelOfEachPair) {
    const struct {
        std::vector<uint8_t> src;
        int32_t outWidth;
        std::vector<uint8_t> out;
    } cases[] = {
        {{0xAA, 0xAA}, 8, {0xFF}},
        {{0x55, 0x55}, 8, {0x00}},
        {{0xAA, 0x00, 0x80}, 9, {0xF0, 0x80}},        // odd width: one more high nibble
        {{0xFF, 0xFF, 0xFF, 0xFF}, 12, {0xFF, 0xF0}}, // even partial byte: written, rest cleared
        {{0x80, 0x20, 0x08, 0x02}, 14, {0x84, 0x20}},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> out(c.out.size(), 0xEE);
        ts::HalveLine(out.data(), c.src.data(), c.outWidth);
        EXPECT_EQ(out, c.out) << c.outWidth;
    }
}

TEST(DetectTextSlant, ProjectionFollowsTheStepAndShortImagesScoreZero) {
    // One black pixel per byte column on a staircase descending one line per 16 pixels.
    TestImage img = TestImage::Binary(64, 8);
    for (int32_t x = 0; x < 64; x += 8) img.set(x, x / 16, 1);
    EXPECT_EQ(ts::CountBlackPixels(*img.info(), 0, 16, 1), 8);
    EXPECT_EQ(ts::CountBlackPixels(*img.info(), 0, ts::kSlopeSteps[0], 1), 2);
    EXPECT_EQ(ts::CountBlackPixels(*img.info(), 3, 16, -1), 0);
    TestImage up = TestImage::Binary(64, 8);
    for (int32_t x = 0; x < 64; x += 8) up.set(x, 3 - x / 16, 1);
    EXPECT_EQ(ts::CountBlackPixels(*up.info(), 3, 16, -1), 8);
    EXPECT_EQ(ts::CountBlackPixels(*up.info(), 3, 16, 1), 2);

    // Height at most W / 19 lines: no start line fits at the steepest step.
    TestImage flat = kdtest::NoisePage(380, 20, 1, 1);
    std::vector<int64_t> scratch(20);
    EXPECT_EQ(ts::GetAccuracy(*flat.info(), 19, 1, scratch.data()), 0.0);
    EXPECT_EQ(ts::GetAccuracy(*flat.info(), 19, -1, scratch.data()), 0.0);
}

// The table of line counts gives the byte walk's counts for every start line,
// step and direction, odd widths and steps below a byte included, and so the
// same sharpness.
TEST(DetectTextSlant, ProjectionTableMatchesTheByteWalk) {
    const int32_t steps[] = {kTextSlantHorizontal, 0, 1, 3, 8, 13, 19, 57, 565};
    for (const int32_t width : {7, 64, 203}) {
        TestImage img = kdtest::NoisePage(width, 37, 1, 1, 0, static_cast<uint32_t>(width));
        ts::ProjectionTable table;
        ASSERT_TRUE(table.Build(*img.info()));
        std::vector<int64_t> a(37), b(37);
        for (const int32_t step : steps) {
            for (const int dir : {1, -1}) {
                const int64_t* counts = table.Counts(step, dir, 0, 37);
                for (int32_t line = 0; line < 37; ++line) {
                    ASSERT_EQ(counts[line], ts::CountBlackPixels(*img.info(), line, step, dir))
                        << width << " " << step << " " << dir << " " << line;
                }
                EXPECT_EQ(table.Accuracy(*img.info(), step, dir, a.data()),
                          ts::GetAccuracy(*img.info(), step, dir, b.data()));
            }
        }
    }
}

namespace {

// A 1-bit 300 dpi page of text turned clockwise by `angle` degrees (its
// lines descend to the right for a positive angle).
TestImage TurnedText(double angle, uint32_t seed) {
    kdtest::SheetSpec s;
    s.imageWidth = 1400;
    s.imageHeight = 1800;
    s.sheetWidth = s.imageWidth * 1.3;
    s.sheetHeight = s.imageHeight * 1.3;
    s.centerX = s.imageWidth / 2.0;
    s.centerY = s.imageHeight / 2.0;
    s.angleDeg = angle;
    s.paper = s.backing = 235;
    s.seed = seed;
    const TestImage gray = kdtest::SheetPage(s);
    TestImage bits = TestImage::Binary(gray.width(), gray.height());
    for (int32_t y = 0; y < gray.height(); ++y)
        for (int32_t x = 0; x < gray.width(); ++x)
            if (gray.get(x, y) < 128) bits.set(x, y, 1);
    return bits;
}

} // namespace

// Text turned beyond the steepest measured slope (about 3 degrees) has no
// step that fits it; its best projection is a chance one, often of the
// other sign. Such a page is reported level, at either working resolution;
// turned within the range, it keeps its slant.
TEST(DetectTextSlant, BeyondTheRangeIsLevelNeverTheWrongWay) {
    for (const double angle : {4.0, -4.0, 5.0, -5.0, 6.0, -6.0, 1.0, -2.0}) {
        for (const uint32_t seed : {1u, 2u}) {
            TestImage img = TurnedText(angle, seed);
            for (const int32_t res : {0, 150}) {
                SCOPED_TRACE(testing::Message()
                             << "angle " << angle << " seed " << seed << " res " << res);
                auto req = Request(nullptr, res);
                ASSERT_EQ(DetectTextSlant(img.info(), &req), 0);
                const double got = req.angle * 180 / M_PI;
                if (std::fabs(angle) > 3.1) {
                    EXPECT_EQ(got, 0.0);
                } else {
                    EXPECT_NEAR(got, angle, 0.06);
                }
            }
        }
    }
}

// The steepest step of the table is the edge of the range: text there may
// lie at that slope or anywhere beyond, and is reported level; the step
// next to it is kept.
TEST(DetectTextSlant, SteepestStepIsTheEdgeOfTheRange) {
    for (const int32_t step : {19, -19}) {
        TestImage img = BinaryText(1200, 900, step);
        auto req = Request();
        ASSERT_EQ(DetectTextSlant(img.info(), &req), 0);
        EXPECT_EQ(req.angle, 0.0) << step;
    }
    TestImage img = BinaryText(1200, 900, -20);
    auto req = Request();
    ASSERT_EQ(DetectTextSlant(img.info(), &req), 0);
    EXPECT_NEAR(req.angle, std::atan(1.0 / -20), kStepTolerance);

    // The decision on a best record: a step inside the range, scoring well
    // above what the other slopes typically score.
    const struct {
        double accuracy, typical;
        int32_t step;
        bool found;
    } cases[] = {
        {400, 20, 57, true},   {400, 20, -20, true},  {400, 20, 19, false},
        {400, 20, -19, false}, {50, 20, 36, false},   {60, 20, 36, true},
        {400, 20, kTextSlantHorizontal, false},
    };
    for (const auto& c : cases) {
        ACCURACYINFO best;
        best.accuracy = c.accuracy;
        best.typical = c.typical;
        best.step = c.step;
        EXPECT_EQ(ts::IsFoundSlant(best), c.found) << c.step << " " << c.accuracy;
    }
}

TEST(ToGrayRect, ConvertsEachDepthAndCountsLines) {
    TestImage bin = TestImage::Binary(11, 2);
    bin.set(0, 0, 1);
    bin.set(10, 1, 1);
    TestImage gray = TestImage::Gray(5, 2, 0);
    gray.set(2, 1, 77);
    TestImage inter = TestImage::Color(3, 2, 0, 0);
    inter.set(1, 0, 0xFFFFFF);
    inter.set(2, 1, 0x0000FF); // red only
    TestImage planar = TestImage::Color(3, 2, 1, 0);
    planar.set(1, 0, 0xFFFFFF);
    planar.set(2, 1, 0xFF0000); // blue only
    const struct {
        TestImage* src;
        std::vector<uint8_t> line0, line1;
    } cases[] = {
        {&bin,
         {0, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255},
         {255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 0}},
        {&gray, {0, 0, 0, 0, 0}, {0, 0, 77, 0, 0}},
        {&inter, {0, 253, 0}, {0, 0, 74}},
        {&planar, {0, 253, 0}, {0, 0, 29}},
    };
    for (const auto& c : cases) {
        TestImage dst = TestImage::Gray(c.src->width(), 2, 9);
        dst.info()->lSync = c.src->width();
        tagTOGRAYFUNCINFO req{kToGrayFuncInfoSize, 5};
        EXPECT_EQ(ToGrayRect(dst.info(), c.src->info(), &req), 0);
        EXPECT_EQ(req.lineCount, 7u);
        for (int32_t x = 0; x < c.src->width(); ++x) {
            EXPECT_EQ(dst.data()[x], c.line0[x]) << x;
            EXPECT_EQ(dst.data()[c.src->width() + x], c.line1[x]) << x;
        }
    }
    // A short request does nothing.
    TestImage dst = TestImage::Gray(5, 2, 9);
    tagTOGRAYFUNCINFO shortReq{kToGrayFuncInfoSize - 1, 0};
    EXPECT_EQ(ToGrayRect(dst.info(), gray.info(), &shortReq), 0);
    EXPECT_EQ(shortReq.lineCount, 0u);
    EXPECT_EQ(dst.get(2, 1), 9u);
}
