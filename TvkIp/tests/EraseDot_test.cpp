// Dot erasure: what counts as a dot, polarity, the strip protocol with its
// held-back lines, and strips equal to one whole-image call.
#include "BandTestHelpers.h"
#include "EraseDot.h"
#include "TestKit.h"
#include "TvkIpError.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

using bandtest::RandomBinary;
using kdtest::TestImage;

namespace {

tagERASEDOTINFO Record(uint32_t polarity = 1) {
    tagERASEDOTINFO r{};
    r.size = kEraseDotInfoMinSize;
    r.polarity = polarity;
    return r;
}

TestImage Erased(const TestImage& src, uint32_t polarity = 1) {
    TestImage dst = TestImage::Binary(src.width(), src.height());
    TestImage in = src;
    tagERASEDOTINFO r = Record(polarity);
    EXPECT_EQ(EraseDot(dst.info(), in.info(), &r), 1);
    EXPECT_EQ(r.handle, nullptr);
    return dst;
}

// The pass written from its description with plain pixel sets.
void ModelPass(TestImage& img) {
    const int32_t w = img.width(), h = img.height();
    for (int32_t y = 0; y + 5 <= h; ++y) {
        for (int32_t x = 0; x <= w - 5;) {
            bool inner[3][3], anyInner = false, allInner = true, anyRing = false;
            for (int r = 0; r < 3; ++r)
                for (int c = 0; c < 3; ++c) {
                    inner[r][c] = img.get(x + 1 + c, y + 1 + r) != 0;
                    anyInner |= inner[r][c];
                    allInner &= inner[r][c];
                }
            // Connected marks inner pixels reached from the ring.
            bool reached[3][3] = {};
            for (int c = 0; c < 3; ++c) {
                if (img.get(x + 1 + c, y) && inner[0][c]) reached[0][c] = true;
                if (img.get(x + 1 + c, y + 4) && inner[2][c]) reached[2][c] = true;
            }
            for (int r = 0; r < 3; ++r) {
                if (img.get(x, y + 1 + r) && inner[r][0]) reached[r][0] = true;
                if (img.get(x + 4, y + 1 + r) && inner[r][2]) reached[r][2] = true;
            }
            for (int c = 0; c < 3; ++c)
                anyRing |= img.get(x + 1 + c, y) || img.get(x + 1 + c, y + 4);
            for (int r = 0; r < 3; ++r)
                anyRing |= img.get(x, y + 1 + r) || img.get(x + 4, y + 1 + r);
            int step;
            if (anyRing && allInner) {
                step = 4;
            } else if (!anyInner) {
                step = 3;
            } else {
                for (bool grew = true; grew;) {
                    grew = false;
                    for (int r = 0; r < 3; ++r)
                        for (int c = 0; c < 3; ++c) {
                            if (!inner[r][c] || reached[r][c]) continue;
                            if ((r > 0 && reached[r - 1][c]) || (r < 2 && reached[r + 1][c]) ||
                                (c > 0 && reached[r][c - 1]) || (c < 2 && reached[r][c + 1])) {
                                reached[r][c] = grew = true;
                            }
                        }
                }
                for (int r = 0; r < 3; ++r)
                    for (int c = 0; c < 3; ++c)
                        if (inner[r][c] && !reached[r][c]) img.set(x + 1 + c, y + 1 + r, 0);
                step = 1;
            }
            const int32_t remain = (w - 5) - x;
            x = remain >= step ? x + step : (remain > 0 ? w - 5 : x + 1);
        }
    }
}

} // namespace

TEST(EraseDot, WhatIsADot) {
    TestImage img = TestImage::Binary(40, 20);
    img.set(3, 3, 1);             // single pixel: erased
    for (int y = 10; y < 13; ++y) // solid 3 x 3: erased
        for (int x = 3; x < 6; ++x) img.set(x, y, 1);
    img.set(12, 4, 1); // diagonal pair: both erased
    img.set(13, 5, 1);
    for (int y = 2; y < 4; ++y) // 2 x 2 blot ...
        for (int x = 22; x < 24; ++x) img.set(x, y, 1);
    for (int y = 0; y < 20; ++y) img.set(25, y, 1); // ... joined to a line
    img.set(24, 3, 1);
    TestImage out = Erased(img);
    EXPECT_EQ(out.get(3, 3), 0u);
    for (int y = 10; y < 13; ++y)
        for (int x = 3; x < 6; ++x) EXPECT_EQ(out.get(x, y), 0u) << x << "," << y;
    EXPECT_EQ(out.get(12, 4), 0u);
    EXPECT_EQ(out.get(13, 5), 0u);
    for (int y = 2; y < 4; ++y)
        for (int x = 22; x < 25; ++x) EXPECT_EQ(out.get(x, y), img.get(x, y)) << x << "," << y;
    for (int y = 0; y < 20; ++y) EXPECT_EQ(out.get(25, y), 1u);
}

TEST(EraseDot, PolarityZeroRemovesWhiteSpecks) {
    TestImage img = RandomBinary(33, 17, 4, 4);
    const TestImage expect = Erased(img, 1);
    TestImage inv = img, expectInv = expect;
    for (auto& b : inv.bytes()) b = static_cast<uint8_t>(~b);
    for (auto& b : expectInv.bytes()) b = static_cast<uint8_t>(~b);
    const TestImage out = Erased(inv, 0);
    EXPECT_TRUE(out.samePixels(expectInv));
}

TEST(EraseDot, MatchesModel) {
    for (int density : {3, 10, 30, 60}) {
        for (int32_t w : {5, 9, 17, 40}) {
            TestImage img = RandomBinary(w, 14, density * 100 + w, density);
            TestImage model = img;
            ModelPass(model);
            EXPECT_TRUE(Erased(img).samePixels(model)) << density << " " << w;
        }
    }
}

TEST(EraseDot, HeldBackLineCounts) {
    TestImage src = RandomBinary(24, 10, 1, 10);
    tagERASEDOTINFO r = Record();
    EXPECT_EQ(EraseDotStart(nullptr, src.info(), &r), 6);
    EXPECT_NE(r.handle, nullptr);

    TestImage small = RandomBinary(24, 3, 2, 10);
    TestImage dst = TestImage::Binary(24, 1);
    tagTVKIMAGEINFO d = dst.band(0, 0);
    EXPECT_EQ(EraseDotStart(&d, small.info(), &r), 0); // delivers nothing, keeps 3 lines
    EXPECT_EQ(EraseDotCont(nullptr, small.info(), &r), 2);
    EXPECT_EQ(EraseDotEnd(nullptr, small.info(), &r), 6); // query keeps the worker
    EXPECT_NE(r.handle, nullptr);
    TestImage rest = TestImage::Binary(24, 6);
    EXPECT_EQ(EraseDotEnd(rest.info(), small.info(), &r), 6);
    EXPECT_EQ(r.handle, nullptr);

    // Without a worker the middle and last strips are refused.
    EXPECT_EQ(EraseDotCont(rest.info(), small.info(), &r), -1);
    EXPECT_EQ(EraseDotEnd(rest.info(), small.info(), &r), -1);
    tagERASEDOTINFO shortRecord = Record();
    shortRecord.size = kEraseDotInfoMinSize - 1;
    EXPECT_EQ(EraseDot(rest.info(), rest.info(), &shortRecord), -1);
    EXPECT_EQ(EraseDot(rest.info(), rest.info(), nullptr), -1);
}

TEST(EraseDot, EmptyDestinationKeepsAStripThatDeliversNothing) {
    TestImage first = RandomBinary(24, 3, 1, 10);
    TestImage second = RandomBinary(24, 3, 2, 10);
    TestImage whole = RandomBinary(24, 6, 1, 10);
    std::copy(first.bytes().begin(), first.bytes().end(), whole.bytes().begin());
    std::copy(second.bytes().begin(), second.bytes().end(),
              whole.bytes().begin() + static_cast<ptrdiff_t>(first.bytes().size()));
    tagERASEDOTINFO r = Record();
    ASSERT_EQ(EraseDotStart(nullptr, first.info(), &r), 0);
    tagTVKIMAGEINFO none{}; // nothing to deliver: no lines, no buffer
    none.size = kTvkImageInfoSize;
    none.lWidth = 24;
    none.lSync = first.sync();
    none.lBps = none.lSpp = 1;
    EXPECT_EQ(EraseDotStart(&none, first.info(), &r), 0);
    // Every line of both strips comes out at the end.
    EXPECT_EQ(EraseDotEnd(nullptr, second.info(), &r), 6);
    TestImage out = TestImage::Binary(24, 6);
    EXPECT_EQ(EraseDotEnd(out.info(), second.info(), &r), 6);
    EXPECT_EQ(out.bytes(), Erased(whole).bytes());
    // An empty destination still cannot take lines that are due.
    TestImage big = RandomBinary(24, 10, 3, 10);
    EXPECT_EQ(EraseDotStart(&none, big.info(), &r), -1);
    ReleaseEraseDotHandle(&r);
}

TEST(EraseDot, StripsGiveTheWholeImageResult) {
    for (uint32_t seed : {1u, 2u, 3u, 4u}) {
        TestImage src = RandomBinary(45, 41, seed, 6 + 5 * static_cast<int>(seed));
        const TestImage whole = Erased(src);
        TestImage out = TestImage::Binary(45, 41);
        std::mt19937 rng(seed);
        const std::vector<int32_t> bands = bandtest::RandomBands(41, 9, rng);
        tagERASEDOTINFO r = Record();
        int32_t y = 0, delivered = 0;
        for (size_t i = 0; i < bands.size(); ++i) {
            const int32_t n = bands[i];
            tagTVKIMAGEINFO s = src.band(y, n);
            const bool first = i == 0, last = i + 1 == bands.size();
            auto call = [&](tagTVKIMAGEINFO* d) {
                return first ? EraseDotStart(d, &s, &r)
                             : (last ? EraseDotEnd(d, &s, &r) : EraseDotCont(d, &s, &r));
            };
            const int32_t count = call(nullptr);
            ASSERT_GE(count, 0);
            tagTVKIMAGEINFO d = out.band(delivered, count);
            ASSERT_EQ(call(&d), count);
            delivered += count;
            y += n;
        }
        EXPECT_EQ(delivered, 41);
        EXPECT_EQ(r.handle, nullptr);
        EXPECT_EQ(out.bytes(), whole.bytes()) << seed;
    }
}

TEST(EraseDot, MismatchedImagesAreRefused) {
    TestImage a = RandomBinary(20, 8, 1, 10);
    TestImage b = RandomBinary(21, 8, 1, 10);
    tagERASEDOTINFO r = Record();
    EXPECT_EQ(EraseDot(a.info(), b.info(), &r), -1);
    TestImage gray = TestImage::Gray(20, 8);
    EXPECT_EQ(EraseDot(gray.info(), gray.info(), &r), -1);
    // A strip destination smaller than the count it would receive.
    TestImage small = TestImage::Binary(20, 2);
    EXPECT_EQ(EraseDotStart(small.info(), a.info(), &r), -1);
    ReleaseEraseDotHandle(&r);
    EXPECT_EQ(r.handle, nullptr);
}

TEST(EraseDot, BottomUpRecordCoversItsLines) {
    // A negative height stands for as many lines.
    TestImage img = RandomBinary(30, 12, 9, 8);
    const TestImage expect = Erased(img);
    TestImage out = TestImage::Binary(30, 12);
    TestImage in = img;
    in.info()->lHeight = -12;
    out.info()->lHeight = -12;
    tagERASEDOTINFO r = Record();
    EXPECT_EQ(EraseDot(out.info(), in.info(), &r), 1);
    out.info()->lHeight = 12;
    EXPECT_EQ(out.bytes(), expect.bytes());
}
