// Tests of the test kit itself: the other tests trust its records, pages and files.
#include "TestKit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>

using namespace kdtest;

namespace {

struct Format {
    int32_t w, bps, spp;
    uint32_t order;
    int32_t sync; // expected default bytes per line (one plane)
    int32_t full; // expected bytes from line to line
};

const Format kFormats[] = {
    {37, 1, 1, 1, 8, 8},   {32, 1, 1, 1, 4, 4},   {13, 8, 1, 1, 16, 16},  {13, 16, 1, 1, 28, 28},
    {13, 8, 3, 0, 40, 40}, {13, 8, 3, 1, 16, 48}, {13, 16, 3, 0, 80, 80}, {13, 16, 3, 1, 28, 84},
};

} // namespace

TEST(TestKit, DefaultLineSizesAndRecord) {
    for (const Format& f : kFormats) {
        SCOPED_TRACE(::testing::Message()
                     << f.w << " px " << f.bps << " bps " << f.spp << " spp order " << f.order);
        TestImage img(f.w, 5, f.bps, f.spp, f.order, 0, 200);
        const tagTVKIMAGEINFO* i = img.info();
        EXPECT_EQ(i->size, kTvkImageInfoSize);
        EXPECT_EQ(i->lSync, f.sync);
        EXPECT_EQ(img.fullSync(), f.full);
        EXPECT_EQ(i->tImageSize, static_cast<uint32_t>(5 * f.full));
        EXPECT_EQ(img.bytes().size(), static_cast<size_t>(5 * f.full));
        EXPECT_EQ(i->lpImage, img.data());
        EXPECT_EQ(i->lXResolution, 200);
        EXPECT_EQ(i->lYResolution, 200);
    }
}

TEST(TestKit, PixelAccessFollowsTheLayout) {
    TestImage planar = TestImage::Color(5, 2, 1, 0);
    planar.set(3, 1, 0x030201);
    const uint8_t* l = planar.line(1);
    EXPECT_EQ(l[3], 1);
    EXPECT_EQ(l[planar.sync() + 3], 2);
    EXPECT_EQ(l[2 * planar.sync() + 3], 3);

    TestImage inter = TestImage::Color(5, 2, 0, 0);
    inter.set(3, 1, 0x030201);
    EXPECT_EQ(inter.line(1)[9], 1);
    EXPECT_EQ(inter.line(1)[11], 3);
    EXPECT_TRUE(inter.samePixels(planar));

    TestImage bin = TestImage::Binary(10, 1);
    bin.set(0, 0, 1);
    bin.set(9, 0, 1);
    EXPECT_EQ(bin.line(0)[0], 0x80);
    EXPECT_EQ(bin.line(0)[1], 0x40);
    EXPECT_EQ(bin.get(9, 0), 1u);
    EXPECT_EQ(bin.get(8, 0), 0u);
}

TEST(TestKit, RecordFollowsTheBufferAfterCopyAndMove) {
    TestImage a = TextPage(64, 48, 3, 1);
    TestImage b(a);
    EXPECT_EQ(b.info()->lpImage, b.data());
    EXPECT_NE(b.data(), a.data());
    EXPECT_TRUE(b.samePixels(a));

    TestImage c(std::move(b));
    EXPECT_EQ(c.info()->lpImage, c.data());
    EXPECT_EQ(b.info()->lpImage, nullptr);
    EXPECT_EQ(b.info()->tImageSize, 0u);

    TestImage d = TestImage::Gray(4, 4);
    d = std::move(c);
    EXPECT_EQ(d.info()->lpImage, d.data());
    EXPECT_EQ(d.info()->tImageSize, d.bytes().size());
    EXPECT_TRUE(d.samePixels(a));

    TestImage e = TestImage::Gray(4, 4);
    e = a;
    EXPECT_EQ(e.info()->lpImage, e.data());
    e.set(0, 0, 0x123456);
    EXPECT_NE(a.get(0, 0), 0x123456u);

    // Padding differences do not count as pixel differences.
    TestImage wide(64, 48, 8, 3, 1, 80);
    for (int32_t y = 0; y < 48; ++y)
        for (int32_t x = 0; x < 64; ++x) wide.set(x, y, a.get(x, y));
    EXPECT_TRUE(wide.samePixels(a));
}

TEST(TestKit, BandViewsLinesOfTheImage) {
    TestImage img = NoisePage(21, 10, 8, 3, 1);
    const tagTVKIMAGEINFO b = img.band(4, 3);
    EXPECT_EQ(b.lpImage, img.line(4));
    EXPECT_EQ(b.lHeight, 3);
    EXPECT_EQ(b.tImageSize, static_cast<uint32_t>(3 * img.fullSync()));
    EXPECT_EQ(img.band(8, 5).lHeight, 2);
}

TEST(TestKit, PnmRoundTripInEveryFormat) {
    int n = 0;
    for (const Format& f : kFormats) {
        SCOPED_TRACE(::testing::Message() << f.bps << " bps " << f.spp << " spp order " << f.order);
        const TestImage src = NoisePage(f.w, 7, f.bps, f.spp, f.order, 40 + n);
        const std::string path = TempPath("kit_roundtrip_" + std::to_string(n++) + ".pnm");
        ASSERT_TRUE(WritePnm(path, *src.info()));
        TestImage back;
        ASSERT_TRUE(ReadPnm(path, back));
        EXPECT_EQ(back.info()->lBps, f.bps);
        EXPECT_EQ(back.info()->lSpp, f.spp);
        EXPECT_TRUE(back.samePixels(src));
        if (f.bps == 16) { // all 16 bits survive, not only the bytes that get() shows
            const auto sample = [](const TestImage& im, int32_t x, int32_t y, int c) {
                const uint8_t* l = im.line(y);
                const size_t off = im.info()->lSpp == 3 && im.info()->ulRGBOrder != 0
                                       ? static_cast<size_t>(c) * im.sync() + 2 * x
                                       : 2 * (static_cast<size_t>(x) * im.info()->lSpp + c);
                return static_cast<unsigned>(l[off] | l[off + 1] << 8);
            };
            for (int32_t y = 0; y < 7; ++y)
                for (int32_t x = 0; x < f.w; ++x)
                    for (int c = 0; c < f.spp; ++c)
                        ASSERT_EQ(sample(src, x, y, c), sample(back, x, y, c)) << x << "," << y;
        }
        std::remove(path.c_str());
    }
}

TEST(TestKit, ReadPnmRejectsBrokenFiles) {
    const struct {
        const char* name;
        std::string text;
    } cases[] = {
        {"not_pnm", "P3\n2 2\n255\n0 0 0 0\n"},
        {"truncated", std::string("P5\n4 4\n255\n") + std::string(10, '\x7f')},
        {"zero_width", "P5\n0 4\n255\n"},
        {"no_size", "P5\n# comment only\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = TempPath(std::string("kit_bad_") + c.name + ".pnm");
        std::ofstream(path, std::ios::binary) << c.text;
        TestImage out = TestImage::Gray(3, 3, 9);
        EXPECT_FALSE(ReadPnm(path, out));
        EXPECT_EQ(out.width(), 3); // left untouched
        std::remove(path.c_str());
    }
    TestImage out;
    EXPECT_FALSE(ReadPnm(TempPath("kit_missing_file.pnm"), out));
}

TEST(TestKit, ReadPnmSkipsHeaderComments) {
    const std::string path = TempPath("kit_comment.pnm");
    std::ofstream(path, std::ios::binary)
        << std::string("P5\n# made by hand\n3 1\n255\n") + std::string("\x01\x02\x03", 3);
    TestImage out;
    ASSERT_TRUE(ReadPnm(path, out));
    EXPECT_EQ(out.get(0, 0), 1u);
    EXPECT_EQ(out.get(2, 0), 3u);
    std::remove(path.c_str());
}

TEST(TestKit, PagesAreDeterministic) {
    EXPECT_TRUE(TextPage(300, 200, 1, 0, 7).samePixels(TextPage(300, 200, 1, 0, 7)));
    EXPECT_FALSE(TextPage(300, 200, 1, 0, 7).samePixels(TextPage(300, 200, 1, 0, 8)));
    EXPECT_TRUE(PhotoPage(120, 90, 3, 1).samePixels(PhotoPage(120, 90, 3, 0)));
    EXPECT_TRUE(BinaryTextPage(301, 200).samePixels(BinaryTextPage(301, 200)));
    SheetSpec s;
    s.imageWidth = 400;
    s.imageHeight = 500;
    s.sheetWidth = 300;
    s.sheetHeight = 420;
    s.centerX = 200;
    s.centerY = 250;
    s.angleDeg = 2.5;
    EXPECT_TRUE(SheetPage(s).samePixels(SheetPage(s)));
}

TEST(TestKit, TextPageHasInkAndPaper) {
    const TestImage p = TextPage(400, 300, 1, 0, 1, 235, 30);
    int ink = 0, paper = 0;
    for (int32_t y = 0; y < p.height(); ++y)
        for (int32_t x = 0; x < p.width(); ++x) (p.get(x, y) == 30 ? ink : paper)++;
    EXPECT_GT(ink, p.width() * p.height() / 20);
    EXPECT_GT(paper, p.width() * p.height() / 2);
    EXPECT_EQ(p.get(0, 0), 235u); // margins stay paper
}

TEST(TestKit, SheetCornersMatchThePixels) {
    const struct {
        double angle;
        uint8_t backing;
        int32_t spp;
        uint32_t order;
    } cases[] = {
        {0, 20, 1, 0}, {3.0, 20, 1, 0}, {-4.5, 250, 1, 0}, {7.0, 20, 3, 1}, {-2.0, 20, 3, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "angle " << c.angle);
        SheetSpec s;
        s.imageWidth = 700;
        s.imageHeight = 900;
        s.sheetWidth = 500;
        s.sheetHeight = 700;
        s.centerX = 340;
        s.centerY = 460;
        s.angleDeg = c.angle;
        s.paper = 150;
        s.backing = c.backing;
        s.content = false;
        s.spp = c.spp;
        s.order = c.order;
        const TestImage img = SheetPage(s);
        const std::vector<Corner> k = SheetCorners(s);
        ASSERT_EQ(k.size(), 4u);
        // Turned clockwise: the top edge runs down to the right for a positive angle.
        EXPECT_NEAR(k[1].y - k[0].y, 500 * std::sin(c.angle * M_PI / 180), 1e-6);
        for (const Corner& p : k) {
            // Three pixels towards the centre lies paper, three pixels away backing.
            const double dx = s.centerX - p.x, dy = s.centerY - p.y;
            const double len = std::hypot(dx, dy);
            const auto at = [&](double t) {
                const uint32_t v = img.get(static_cast<int32_t>(p.x + dx / len * t),
                                           static_cast<int32_t>(p.y + dy / len * t));
                return v & 0xFF;
            };
            EXPECT_EQ(at(3), 150u);
            EXPECT_EQ(at(-3), c.backing);
        }
    }
}

TEST(TestKit, SheetEdgesAreAntiAliased) {
    SheetSpec s;
    s.imageWidth = 200;
    s.imageHeight = 200;
    s.sheetWidth = 101; // left edge at x = 49.5, right edge at 150.5
    s.sheetHeight = 100;
    s.centerX = 100;
    s.centerY = 100;
    s.paper = 200;
    s.backing = 0;
    s.content = false;
    const TestImage img = SheetPage(s);
    EXPECT_EQ(img.get(48, 100), 0u);
    EXPECT_EQ(img.get(49, 100), 100u); // half covered
    EXPECT_EQ(img.get(50, 100), 200u);
    EXPECT_EQ(img.get(150, 100), 100u);
    EXPECT_EQ(img.get(151, 100), 0u);

    // A skewed edge passes through intermediate levels along its length.
    s.angleDeg = 1.0;
    const TestImage skew = SheetPage(s);
    int mid = 0;
    for (int32_t y = 60; y < 140; ++y)
        for (int32_t x = 40; x < 60; ++x) {
            const uint32_t v = skew.get(x, y);
            if (v > 20 && v < 180) ++mid;
        }
    EXPECT_GT(mid, 40);
}

TEST(TestKit, LeadingShadowLiesAboveTheTopEdge) {
    SheetSpec s;
    s.imageWidth = 300;
    s.imageHeight = 300;
    s.sheetWidth = 200;
    s.sheetHeight = 200;
    s.centerX = 150;
    s.centerY = 150; // top edge at y = 50
    s.paper = 230;
    s.backing = 250;
    s.shadow = 6;
    s.shadowLevel = 90;
    const TestImage img = SheetPage(s);
    EXPECT_EQ(img.get(150, 43), 250u);
    EXPECT_EQ(img.get(150, 44), 90u);
    EXPECT_EQ(img.get(150, 49), 90u);
    EXPECT_EQ(img.get(150, 50), 230u);
    EXPECT_EQ(img.get(150, 260), 250u); // nothing below the trailing edge
}

TEST(TestKit, TempPathUsesTheTestFolder) {
    const std::string p = TempPath("x.pnm");
    EXPECT_EQ(p.substr(p.size() - 6), "/x.pnm");
    const char* dir = std::getenv("KD_TEST_TMP");
    if (dir && *dir) {
        EXPECT_EQ(p.rfind(dir, 0), 0u);
    }
}
