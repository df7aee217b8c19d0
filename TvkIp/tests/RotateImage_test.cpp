// Deskew and cut-out: geometry, samplers, banding and fill, text-slant turn.
#include "RotateImage.h"
#include "TestKit.h"
#include "TvkIpError.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

using kdtest::TestImage;

namespace {

constexpr double kPi = 3.14159265358979323846;

tagROTATEINFO Request(const TestImage& src, Tvk::tagPOINT tl, Tvk::tagPOINT bl, Tvk::tagPOINT tr,
                      Tvk::tagPOINT br) {
    tagROTATEINFO r{};
    r.size = kRotateInfoSize;
    r.topLeft = tl;
    r.bottomLeft = bl;
    r.topRight = tr;
    r.bottomRight = br;
    r.bitsPerPixel = src.info()->lBps * src.info()->lSpp;
    r.srcWidth = src.width();
    r.interpolate = 1;
    r.last = 1;
    EXPECT_EQ(GetRotateImagePaperSize(&r), 0u);
    return r;
}

// Corners of a w x h page turned by `deg` (clockwise on screen) about its
// top-left corner at (x0, y0), rounded to whole pixels.
tagROTATEINFO TurnedRequest(const TestImage& src, double x0, double y0, double w, double h,
                            double deg) {
    const double c = std::cos(deg * kPi / 180);
    const double s = std::sin(deg * kPi / 180);
    auto pt = [](double x, double y) {
        return Tvk::tagPOINT{static_cast<int32_t>(std::lround(x)),
                             static_cast<int32_t>(std::lround(y))};
    };
    return Request(src, pt(x0, y0), pt(x0 - h * s, y0 + h * c), pt(x0 + w * c, y0 + w * s),
                   pt(x0 + w * c - h * s, y0 + w * s + h * c));
}

TestImage Destination(const TestImage& src, const tagROTATEINFO& r, uint8_t fill = 0) {
    return src.info()->lSpp == 3 ? TestImage::Color(r.paperWidth, r.paperHeight, 0, fill)
                                 : TestImage::Gray(r.paperWidth, r.paperHeight, fill);
}

// Independent bilinear sample in double precision.
double Sample(const TestImage& img, double x, double y, int s) {
    const int x0 = static_cast<int>(std::floor(x));
    const int y0 = static_cast<int>(std::floor(y));
    const double fx = x - x0, fy = y - y0;
    auto at = [&](int xx, int yy) {
        const uint32_t v = img.get(xx, yy);
        return static_cast<double>((v >> (8 * s)) & 0xFF);
    };
    return (at(x0, y0) * (1 - fx) + at(x0 + 1, y0) * fx) * (1 - fy) +
           (at(x0, y0 + 1) * (1 - fx) + at(x0 + 1, y0 + 1) * fx) * fy;
}

} // namespace

TEST(RotateImage, PaperSizeOfCorners) {
    const struct {
        Tvk::tagPOINT tl, bl, tr, br;
        int32_t w, h;
    } cases[] = {
        {{0, 0}, {0, 100}, {300, 400}, {300, 500}, 500, 100},
        {{10, 20}, {10, 220}, {110, 20}, {110, 220}, 100, 200},
        {{100, 5}, {97, 305}, {500, 9}, {497, 309}, 400, 300},
    };
    for (const auto& c : cases) {
        tagROTATEINFO r{};
        r.topLeft = c.tl;
        r.bottomLeft = c.bl;
        r.topRight = c.tr;
        r.bottomRight = c.br;
        EXPECT_EQ(GetRotateImagePaperSize(&r), 0u);
        EXPECT_EQ(r.paperWidth, c.w);
        EXPECT_EQ(r.paperHeight, c.h);
    }
    EXPECT_EQ(GetRotateImagePaperSize(nullptr), kIpErrBadArgument);
    EXPECT_EQ(get_vector_length(3, 4), 5);
    EXPECT_EQ(get_vector_length(60000, 80000), 100000); // the sum exceeds 31 bits
}

TEST(RotateImage, HandleCreationChecksTheRequest) {
    TestImage src = TestImage::Gray(200, 200);
    const tagROTATEINFO good = Request(src, {10, 10}, {10, 110}, {110, 12}, {110, 112});
    const struct {
        const char* name;
        void (*change)(tagROTATEINFO&);
        uint32_t code;
    } cases[] = {
        {"valid", [](tagROTATEINFO&) {}, 0},
        {"short record", [](tagROTATEINFO& r) { r.size = kRotateInfoSize - 4; }, kIpErrBadArgument},
        {"text-slant size", [](tagROTATEINFO& r) { r.size = kRotateInfoTextSlantSize; },
         kIpErrBadArgument},
        {"4 bits", [](tagROTATEINFO& r) { r.bitsPerPixel = 4; }, kIpErrBadArgument},
        {"right left of left", [](tagROTATEINFO& r) { r.topRight.x = 5; }, kIpErrBadArgument},
        {"bottom above top", [](tagROTATEINFO& r) { r.bottomLeft.y = 5; }, kIpErrBadArgument},
        {"no paper width", [](tagROTATEINFO& r) { r.paperWidth = 0; }, kIpErrBadArgument},
        {"no source width", [](tagROTATEINFO& r) { r.srcWidth = 0; }, kIpErrBadArgument},
        {"vertical top edge",
         [](tagROTATEINFO& r) {
             r.topRight = {10, 60};
         },
         kIpErrFailed},
        {"outside the source",
         [](tagROTATEINFO& r) {
             r.topLeft.x = r.bottomLeft.x = 300;
             r.topRight.x = r.bottomRight.x = 400;
         },
         0},
    };
    for (const auto& c : cases) {
        tagROTATEINFO r = good;
        c.change(r);
        EXPECT_EQ(CreateRotateImageHandle(&r), c.code) << c.name;
        EXPECT_EQ(r.handle != nullptr, c.code == 0) << c.name;
        EXPECT_EQ(ReleaseRotateImageHandle(&r), 0u);
        EXPECT_EQ(r.handle, nullptr);
    }
    EXPECT_EQ(CreateRotateImageHandle(nullptr), kIpErrBadArgument);
    EXPECT_EQ(ReleaseRotateImageHandle(nullptr), 0u);
}

TEST(RotateImage, UprightCornersCutOutTheSourceRectangle) {
    for (const int spp : {1, 3}) {
        TestImage src = kdtest::NoisePage(300, 240, 8, spp, 0);
        for (const bool interpolate : {true, false}) {
            tagROTATEINFO r = Request(src, {37, 21}, {37, 201}, {237, 21}, {237, 201});
            r.interpolate = interpolate ? 1 : 0;
            TestImage dst = Destination(src, r);
            ASSERT_EQ(RotateImagePage(src.info(), dst.info(), &r), 0u);
            EXPECT_EQ(r.linesOut, 180);
            for (int32_t y = 0; y < 180; ++y) {
                for (int32_t x = 0; x < 200; ++x) {
                    ASSERT_EQ(dst.get(x, y), src.get(37 + x, 21 + y)) << x << "," << y;
                }
            }
        }
    }
}

TEST(RotateImage, CutOutPartlyOutsideKeepsTheFill) {
    TestImage src = kdtest::NoisePage(100, 80, 8, 1, 0);
    tagROTATEINFO r = Request(src, {-10, -5}, {-10, 45}, {40, -5}, {40, 45});
    r.fillMode = 2;
    r.fillColour = 0xFFFFFF;
    TestImage dst = Destination(src, r, 7);
    ASSERT_EQ(RotateImagePage(src.info(), dst.info(), &r), 0u);
    for (int32_t y = 0; y < 50; ++y) {
        for (int32_t x = 0; x < 50; ++x) {
            const uint32_t want = (x < 10 || y < 5) ? 255 : src.get(x - 10, y - 5);
            ASSERT_EQ(dst.get(x, y), want) << x << "," << y;
        }
    }
}

TEST(RotateImage, BilinearCentreOfTwoByTwo) {
    const uint8_t r0[] = {0, 255};
    const uint8_t r1[] = {255, 0};
    const uint8_t* rows[] = {r0, r1};
    uint8_t a = 1;
    uint8_t b = 1;
    CRotateImage::DrawBilinearRun(&a, rows, 1, 2048, 2048, 4096, 100, 1);
    CRotateImage::DrawBilinearPixel(&b, rows, 1, 2048, 2048, 4096, 100, 1);
    EXPECT_EQ(a, 127);
    EXPECT_EQ(b, 127);
    // The full weight of a white corner does not overflow.
    const uint8_t w0[] = {255, 255};
    const uint8_t* white[] = {w0, w0};
    CRotateImage::DrawBilinearPixel(&b, white, 1, 4095, 4095, 4096, 1, 1);
    EXPECT_EQ(b, 255); // the sum reaches 255 x 2^24, beyond a signed 32-bit word
}

// The run-wise bilinear sampler, on its AVX2, SSE2 and portable paths, gives
// the pixels of the per-pixel sampler.
TEST(RotateImage, RunWiseAndPerPixelSamplersAgree) {
    std::mt19937 rng(7);
    const int32_t width = 203;
    const int32_t rows = 48;
    for (const int path : {0, 1, 2}) {
        const bool portable = path == 2;
        IpForcePortablePaths(portable);
        IpForceSSE2Paths(path == 1);
        for (const int32_t spp : {1, 3}) {
            std::vector<uint8_t> data(static_cast<size_t>(width * spp * rows));
            for (auto& v : data) v = static_cast<uint8_t>(rng());
            std::vector<const uint8_t*> ptrs(rows);
            for (int32_t i = 0; i < rows; ++i) ptrs[i] = data.data() + i * width * spp;
            for (int trial = 0; trial < 300; ++trial) {
                const double ang = std::uniform_real_distribution<double>(-1.2, 1.2)(rng);
                const int32_t cx = static_cast<int32_t>(4096 * std::cos(ang));
                const int32_t cy = static_cast<int32_t>(4096 * std::sin(ang));
                if (cx <= 0) continue;
                // A start and length that keep every sample inside the rows.
                const int64_t count = 1 + rng() % 150;
                const int64_t x = rng() % 4096 * 3 + 1;
                const int64_t span = count * std::abs(cy);
                if (span + 2 * 4096 >= int64_t{rows - 1} * 4096 ||
                    count * cx + x >= (width - 1) * 4096) {
                    continue;
                }
                const int64_t y = (cy >= 0 ? 0 : span) + rng() % 4096;
                std::vector<uint8_t> a(static_cast<size_t>(count * spp)), b(a.size());
                CRotateImage::DrawBilinearRun(a.data(), ptrs.data(), spp, x, y, cx, cy, count);
                CRotateImage::DrawBilinearPixel(b.data(), ptrs.data(), spp, x, y, cx, cy, count);
                ASSERT_EQ(a, b) << "spp " << spp << " trial " << trial << " path " << path;
            }
            // Level runs that end on the last column pair of the last two
            // rows, the buffer's last byte, from every start column.
            for (int32_t first = 0; first < width - 1; ++first) {
                const int64_t count = width - 1 - first;
                const int64_t x = int64_t{first} * 4096 + 1;
                const int64_t y = int64_t{rows - 2} * 4096 + 2048;
                std::vector<uint8_t> a(static_cast<size_t>(count * spp)), b(a.size());
                CRotateImage::DrawBilinearRun(a.data(), ptrs.data(), spp, x, y, 4096, 0, count);
                CRotateImage::DrawBilinearPixel(b.data(), ptrs.data(), spp, x, y, 4096, 0, count);
                ASSERT_EQ(a, b) << "spp " << spp << " first " << first << " path " << path;
            }
        }
    }
    IpForcePortablePaths(false);
    IpForceSSE2Paths(false);
}

// Rotation agrees with an independent bilinear rotation written here.
TEST(RotateImage, MatchesIndependentRotationInTheInterior) {
    const double angles[] = {0.5, -0.5, 1.5, -3.0, 8.0, -20.0, 25.0};
    for (const int spp : {1, 3}) {
        TestImage src = kdtest::PhotoPage(700, 600, spp, 0);
        for (const double deg : angles) {
            tagROTATEINFO r = TurnedRequest(src, 150, 130, 380, 300, deg);
            TestImage dst = Destination(src, r);
            ASSERT_EQ(RotateImagePage(src.info(), dst.info(), &r), 0u) << deg;
            // One pixel step along the top edge: the edge over its whole-pixel
            // length, in 1/4096 pixel.
            const double ex = r.topRight.x - r.topLeft.x;
            const double ey = r.topRight.y - r.topLeft.y;
            const double len = std::floor(std::hypot(ex, ey));
            const double c = std::trunc(ex * 4096 / len) / 4096;
            const double s = std::trunc(ey * 4096 / len) / 4096;
            int worst = 0;
            for (int32_t j = 2; j < r.paperHeight - 2; j += 3) {
                for (int32_t k = 2; k < r.paperWidth - 2; k += 3) {
                    const double x = r.topLeft.x + k * c - j * s;
                    const double y = r.topLeft.y + k * s + j * c;
                    if (x < 1 || y < 1 || x > src.width() - 3 || y > src.height() - 3) continue;
                    const uint32_t got = dst.get(k, j);
                    for (int p = 0; p < spp; ++p) {
                        const int want = static_cast<int>(Sample(src, x, y, p));
                        worst = std::max(
                            worst, std::abs(static_cast<int>((got >> (8 * p)) & 0xFF) - want));
                    }
                }
            }
            EXPECT_LE(worst, 2) << "spp " << spp << " angle " << deg;
        }
    }
}

namespace {

// Whole page against bands of `srcBand` source lines into destination bands
// of at most `dstBand` lines, the caller's band memory reused between calls.
void ExpectBandsEqualWhole(const TestImage& src, tagROTATEINFO r, int32_t srcBand, int32_t dstBand,
                           const char* what) {
    TestImage whole = Destination(src, r, 3);
    tagROTATEINFO wr = r;
    ASSERT_EQ(RotateImagePage(const_cast<TestImage&>(src).info(), whole.info(), &wr), 0u) << what;

    TestImage banded = Destination(src, r, 3);
    r.last = 0;
    ASSERT_EQ(CreateRotateImageHandle(&r), 0u) << what;
    const int32_t fullSync = src.fullSync();
    std::vector<uint8_t> scratch(static_cast<size_t>(fullSync) * srcBand);
    int32_t inDone = 0;
    int32_t outDone = 0;
    for (int guard = 0; guard < 10000 && outDone < r.paperHeight; ++guard) {
        const int32_t n = std::min(srcBand, src.height() - inDone);
        r.last = inDone + n >= src.height() ? 1 : 0;
        std::memcpy(scratch.data(), src.line(inDone), static_cast<size_t>(n) * fullSync);
        tagTVKIMAGEINFO band = src.band(inDone, n);
        band.lpImage = scratch.data();
        tagTVKIMAGEINFO out = banded.band(outDone, std::min(dstBand, r.paperHeight - outDone));
        ASSERT_EQ(RotateImage(&band, &out, &r), 0u) << what;
        std::memset(scratch.data(), 0xA5, scratch.size()); // the caller reuses its band
        inDone += r.linesIn;
        outDone += r.linesOut;
        if (r.last != 0 && r.linesIn == n && r.linesOut == 0) break;
    }
    EXPECT_EQ(outDone, r.paperHeight) << what;
    ReleaseRotateImageHandle(&r);
    EXPECT_TRUE(banded.samePixels(whole)) << what;
}

} // namespace

TEST(RotateImage, BandsGiveTheWholePageResult) {
    const struct {
        const char* name;
        int spp;
        double deg;
        int fillMode;
        uint8_t interpolate;
        uint8_t rightAnchored;
        int32_t dstBand;
    } cases[] = {
        {"gray +1.5 no fill", 1, 1.5, 0, 1, 0, 1 << 20},
        {"gray -4 fill", 1, -4.0, 2, 1, 0, 1 << 20},
        {"colour +2.5 fill", 3, 2.5, 2, 1, 0, 1 << 20},
        {"colour -1 nearest", 3, -1.0, 0, 0, 0, 1 << 20},
        {"gray +20 per-pixel fill", 1, 20.0, 2, 1, 0, 1 << 20},
        {"gray -0.7 right-anchored", 1, -0.7, 2, 1, 1, 1 << 20},
        {"gray +3 short destination bands", 1, 3.0, 2, 1, 0, 7},
        {"colour upright cut-out", 3, 0.0, 2, 1, 0, 5},
    };
    for (const auto& c : cases) {
        TestImage src = kdtest::PhotoPage(420, 360, c.spp, 0);
        // The page reaches beyond the source on the left and at the bottom.
        tagROTATEINFO r = TurnedRequest(src, 20, 30, 380, 345, c.deg);
        r.fillMode = c.fillMode;
        r.fillColour = 0xF0E0D0;
        r.interpolate = c.interpolate;
        r.rightAnchored = c.rightAnchored;
        ExpectBandsEqualWhole(src, r, 16, c.dstBand, c.name);
    }
}

TEST(RotateImage, FillReachesWhereThePageDoesNot) {
    TestImage src = TestImage::Gray(300, 300, 0);
    // A page turned by 5 degrees, reaching above and right of the source.
    tagROTATEINFO r = TurnedRequest(src, 150, -20, 200, 200, 5);
    r.fillMode = 2;
    r.fillColour = 0xFFFFFF;
    TestImage dst = Destination(src, r, 99);
    ASSERT_EQ(RotateImagePage(src.info(), dst.info(), &r), 0u);
    EXPECT_EQ(dst.get(0, 0), 255u);                  // above the source
    EXPECT_EQ(dst.get(100, 100), 0u);                // inside: the black source
    EXPECT_EQ(dst.get(r.paperWidth - 1, 100), 255u); // right of the source
}

TEST(RotateImage, BackgroundDetection) {
    kdtest::SheetSpec sheet;
    sheet.imageWidth = 500;
    sheet.imageHeight = 600;
    sheet.sheetWidth = 300;
    sheet.sheetHeight = 400;
    sheet.centerX = 250;
    sheet.centerY = 300;
    sheet.angleDeg = 3;
    sheet.backing = 20;
    sheet.paper = 230;
    sheet.content = false;
    TestImage src = kdtest::SheetPage(sheet);
    const auto corners = kdtest::SheetCorners(sheet);
    auto pt = [](const kdtest::Corner& c) {
        return Tvk::tagPOINT{static_cast<int32_t>(std::lround(c.x)),
                             static_cast<int32_t>(std::lround(c.y))};
    };
    // Ask for a page longer than the source so that the fill shows below it.
    tagROTATEINFO base =
        Request(src, pt(corners[0]), pt(corners[3]), pt(corners[1]), pt(corners[2]));
    base.paperHeight += 150;

    // Dark backing: the fill becomes the backing's mean level.
    tagROTATEINFO r = base;
    r.fillMode = 1;
    r.fillColour = 0x606060;
    TestImage dst = Destination(src, r, 99);
    ASSERT_EQ(RotateImagePage(src.info(), dst.info(), &r), 0u);
    EXPECT_NEAR(static_cast<int>(dst.get(r.paperWidth / 2, r.paperHeight - 2)), 20, 2);
    EXPECT_NEAR(static_cast<int>(dst.get(r.paperWidth / 2, r.paperHeight / 2)), 230, 2);

    // A light threshold finds no margin pixel brighter: the fill is off.
    r = base;
    r.fillMode = 1;
    r.fillColour = 0xF8F8F8;
    dst = Destination(src, r, 99);
    ASSERT_EQ(RotateImagePage(src.info(), dst.info(), &r), 0u);
    EXPECT_EQ(dst.get(r.paperWidth / 2, r.paperHeight - 2), 99u);

    // Detection needs the whole page and the resolutions.
    r = base;
    r.fillMode = 1;
    r.last = 0;
    ASSERT_EQ(CreateRotateImageHandle(&r), 0u);
    tagTVKIMAGEINFO band = src.band(0, 16);
    dst = Destination(src, r, 99);
    EXPECT_EQ(RotateImage(&band, dst.info(), &r), kIpErrBadArgument);
    ReleaseRotateImageHandle(&r);
    r = base;
    r.fillMode = 1;
    src.info()->lXResolution = 0;
    EXPECT_EQ(RotateImagePage(src.info(), dst.info(), &r), kIpErrBadArgument);
}

TEST(RotateImage, RefusesUnusableImages) {
    TestImage src = TestImage::Gray(100, 100);
    TestImage dst = TestImage::Gray(50, 50);
    TestImage colourDst = TestImage::Color(50, 50);
    TestImage planar = TestImage::Color(100, 100, 1);
    TestImage binary = TestImage::Binary(100, 100);
    tagROTATEINFO r = Request(src, {10, 10}, {10, 60}, {60, 11}, {60, 61});
    EXPECT_EQ(RotateImagePage(binary.info(), dst.info(), &r), kIpErrBadArgument);
    EXPECT_EQ(RotateImagePage(src.info(), colourDst.info(), &r), kIpErrBadArgument);
    EXPECT_EQ(RotateImagePage(src.info(), nullptr, &r), kIpErrBadArgument);
    EXPECT_EQ(RotateImagePage(nullptr, dst.info(), &r), kIpErrBadArgument);
    tagROTATEINFO rc = r;
    rc.bitsPerPixel = 24;
    EXPECT_EQ(RotateImagePage(planar.info(), colourDst.info(), &rc), kIpErrBadArgument);
    // A source narrower than the request's width would be read past its lines.
    tagROTATEINFO wide = r;
    wide.srcWidth = 400;
    EXPECT_EQ(RotateImagePage(src.info(), dst.info(), &wide), kIpErrBadArgument);
    r.last = 0;
    EXPECT_EQ(RotateImagePage(src.info(), dst.info(), &r), kIpErrBadArgument);
    EXPECT_EQ(RotateImage(src.info(), dst.info(), &r), kIpErrBadArgument); // whole page needs last
}

TEST(RotateImage, RotateFourPointTurnsAboutTheCentre) {
    using F = ROTATEIMAGE_COMMON_FUNCTION;
    Tvk::tagPOINT tl{0, 0}, bl{0, 100}, tr{200, 0}, br{200, 100};
    F::RotateFourPoint(tl, bl, tr, br, 0.0);
    EXPECT_EQ(tr.x, 200);
    F::RotateFourPoint(tl, bl, tr, br, kPi / 2);
    // A quarter turn clockwise on screen about (100, 50).
    EXPECT_EQ(tl.x, 150);
    EXPECT_EQ(tl.y, -50);
    EXPECT_EQ(tr.x, 150);
    EXPECT_EQ(tr.y, 150);
    EXPECT_EQ(bl.x, 50);
    EXPECT_EQ(bl.y, -50);
    EXPECT_EQ(br.x, 50);
    EXPECT_EQ(br.y, 150);
}

namespace {

// A gray page whose text lines drop one line every `step` pixels.
TestImage SlantedTextPage(int32_t w, int32_t h, int32_t step) {
    TestImage img = TestImage::Gray(w, h, 235);
    for (int32_t base = 60; base < h - 60; base += 30) {
        for (int32_t x = 40; x < w - 40; ++x) {
            if ((x / 41) % 6 == 5) continue;
            const int32_t y0 = base + (step > 0 ? x / step : -(x / -step));
            for (int32_t y = y0; y < y0 + 10; ++y) img.set(x, y, 25);
        }
    }
    return img;
}

} // namespace

TEST(RotateImage, TextSlantTurnsThePage) {
    TestImage src = SlantedTextPage(900, 800, 57);
    tagBINFUNCINFO bin{kBinFuncInfoSizeShort, kBinFixed, 128, 128, 0, nullptr};
    tagDETECTTEXTSLANTINFO ts{};
    ts.size = kDetectTextSlantInfoSize;
    ts.binInfo = &bin;
    tagROTATEINFO r = Request(src, {0, 0}, {0, 800}, {900, 0}, {900, 800});
    r.slantFlags = kRotateSlantDetect;
    r.textSlant = &ts;

    // Detection only.
    ASSERT_EQ(RotateImage(src.info(), nullptr, &r), 0u);
    EXPECT_NEAR(ts.angle, std::atan(1.0 / 57), 0.0008);

    // Detect and turn: the text lines of the result are level.
    ts.angle = 0;
    bin.lineCount = 0;
    TestImage dst = Destination(src, r, 255);
    ASSERT_EQ(RotateImagePageAndDetectTextSlant(src.info(), dst.info(), &r), 0u);
    EXPECT_NEAR(ts.angle, std::atan(1.0 / 57), 0.0008);
    EXPECT_EQ(r.sin1024, static_cast<int32_t>(std::sin(-ts.angle) * 1024));
    EXPECT_EQ(r.dstTopLeft.x + r.dstBottomRight.x, 900); // turned about the page centre
    tagDETECTTEXTSLANTINFO again{};
    again.size = kDetectTextSlantInfoSize;
    again.binInfo = &bin;
    bin.lineCount = 0;
    TestImage inner = TestImage::Gray(600, 500);
    for (int32_t y = 0; y < 500; ++y) {
        std::memcpy(inner.line(y), dst.line(y + 150) + 150, 600);
    }
    ASSERT_EQ(DetectTextSlant(inner.info(), &again), 0);
    EXPECT_LE(std::abs(again.angle), std::atan(1.0 / 565)); // at most the flattest step

    // Bit 1 turns by the angle already in the record.
    tagROTATEINFO given = Request(src, {0, 0}, {0, 800}, {900, 0}, {900, 800});
    given.slantFlags = kRotateSlantUseAngle;
    given.textSlant = &ts;
    TestImage dst2 = Destination(src, given, 255);
    ASSERT_EQ(RotateImage(src.info(), dst2.info(), &given), 0u);
    EXPECT_TRUE(dst2.samePixels(dst));

    // Without a text-slant record the flags cannot be served.
    given.textSlant = nullptr;
    EXPECT_EQ(RotateImage(src.info(), dst2.info(), &given), kIpErrBadArgument);
    given.slantFlags = kRotateSlantDetect;
    EXPECT_EQ(RotateImage(src.info(), dst2.info(), &given), kIpErrBadArgument);
}

TEST(RotateImage, DestinationCornersWithoutTurn) {
    TestImage src = kdtest::NoisePage(200, 200, 8, 1, 0);
    tagROTATEINFO r = Request(src, {10, 10}, {10, 110}, {160, 10}, {160, 110});
    r.paperWidth = 180;
    r.rightAnchored = 1;
    TestImage dst = Destination(src, r);
    ASSERT_EQ(RotateImage(src.info(), dst.info(), &r), 0u);
    EXPECT_EQ(r.dstTopLeft.x, 30);
    EXPECT_EQ(r.dstTopRight.x, 180);
    EXPECT_EQ(r.dstBottomLeft.y, 100);
    EXPECT_EQ(r.sin1024, 0);
    EXPECT_EQ(r.cos1024, 1024);
    // Right-anchored: the page's right edge lies against the destination's.
    EXPECT_EQ(dst.get(179, 0), src.get(159, 10));
}

TEST(RotateImage, RightEdgeClipsAtTheLastColumnsPosition) {
    // Columns 100 + x, the same on every line. A top edge of (300, 5) has a
    // length of 300, so the cosine is exactly 4096 and the sine 68: line 0
    // samples whole columns, and its pixel 29 lies exactly on the last
    // column (39 x 4096); on the later lines pixel 30 lies between the last
    // column and the source's right end, which the clipping leaves out.
    TestImage src = TestImage::Gray(40, 80);
    for (int32_t y = 0; y < 80; ++y)
        for (int32_t x = 0; x < 40; ++x) src.set(x, y, static_cast<uint32_t>(100 + x));
    for (const uint8_t interpolate : {uint8_t{0}, uint8_t{1}}) {
        tagROTATEINFO r = Request(src, {10, 5}, {9, 45}, {310, 10}, {309, 50});
        r.interpolate = interpolate;
        TestImage dst = Destination(src, r, 0);
        ASSERT_EQ(RotateImagePage(src.info(), dst.info(), &r), 0u);
        EXPECT_EQ(dst.get(29, 0), 139u) << "interpolate " << int{interpolate};
        EXPECT_EQ(dst.get(30, 0), 0u) << "interpolate " << int{interpolate};
        for (int32_t j = 1; j < 30; ++j) {
            EXPECT_NE(dst.get(29, j), 0u) << "line " << j;
            EXPECT_EQ(dst.get(30, j), 0u) << "interpolate " << int{interpolate} << " line " << j;
        }
    }
}
