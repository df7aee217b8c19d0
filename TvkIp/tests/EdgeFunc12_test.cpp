// The older edge filter of the short request record.
#include "BandTestHelpers.h"
#include "EdgeFunc.h"
#include "EdgeFuncImpl.h"
#include "TestKit.h"
#include "TvkIpError.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

using bandtest::BlankLike;
using kdtest::TestImage;

namespace {

tagEDGEINFO Short(uint32_t number) {
    tagEDGEINFO info{};
    info.ulSize = kEdgeInfoSizeOld;
    info.ulFilterNo = number;
    return info;
}

TestImage Whole(const TestImage& src, uint32_t number) {
    TestImage dst = BlankLike(src), in = src;
    tagEDGEINFO info = Short(number);
    EXPECT_EQ(EdgeFuncEx(dst.info(), in.info(), &info), 0) << number;
    EXPECT_EQ(dst.height(), src.height());
    EXPECT_EQ(info.lLineCount, src.height());
    return dst;
}

// Direct definition: first and last lines and columns copied; inner samples
// corrected by the number's table (no clamping of the table).
TestImage Reference(const TestImage& src, uint32_t number, int planes) {
    TestImage dst = src;
    const int w = src.width(), h = src.height();
    auto e = [&](int l) {
        const int a = std::abs(l);
        switch (number) {
        case 1:
            return l / 16;
        case 3:
            return a <= 128 ? 0 : (a <= 255 ? l / 16 : l / 8);
        case 4:
            return a <= 128 ? 0 : (a <= 255 ? l / 4 : l / 2);
        default:
            return a <= 64 ? 0 : (a <= 192 ? l / 2 : l);
        }
    };
    for (int p = 0; p < planes; ++p) {
        auto at = [&](const TestImage& img, int x, int y) {
            return img.line(y)[static_cast<size_t>(p) * img.sync() + x];
        };
        for (int y = 1; y < h - 1; ++y) {
            for (int x = 1; x < w - 1; ++x) {
                const int c = at(src, x, y);
                int l = 0;
                if (number == 1)
                    l = at(src, x - 1, y - 1) + at(src, x + 1, y - 1) + at(src, x - 1, y + 1) +
                        at(src, x + 1, y + 1) - 4 * c;
                else if (number != 2)
                    l = 4 * c - at(src, x - 1, y) - at(src, x + 1, y) - at(src, x, y - 1) -
                        at(src, x, y + 1);
                const int v = number == 2 ? c : std::clamp(c + e(l), 0, 255);
                dst.line(y)[static_cast<size_t>(p) * dst.sync() + x] = static_cast<uint8_t>(v);
            }
        }
    }
    return dst;
}

} // namespace

TEST(EdgeFuncShort, WholeImageMatchesTheDirectDefinition) {
    for (uint32_t n = 1; n <= 5; ++n) {
        const TestImage gray = kdtest::NoisePage(23, 11, 8, 1, 1, n);
        EXPECT_TRUE(Whole(gray, n).samePixels(Reference(gray, n, 1))) << n;
        const TestImage planes = kdtest::NoisePage(17, 9, 8, 3, 1, n + 10);
        EXPECT_TRUE(Whole(planes, n).samePixels(Reference(planes, n, 3))) << n;
    }
}

TEST(EdgeFuncShort, KnownValues) {
    // A lone 255 on black under number 1: 192 in the middle, 15 on the
    // diagonals, the straight neighbours stay 0.
    TestImage img = TestImage::Gray(5, 5, 0);
    img.set(2, 2, 255);
    const TestImage out = Whole(img, 1);
    EXPECT_EQ(out.get(2, 2), 192u);
    EXPECT_EQ(out.get(1, 1), 15u);
    EXPECT_EQ(out.get(3, 3), 15u);
    EXPECT_EQ(out.get(1, 2), 0u);
    EXPECT_EQ(out.get(2, 3), 0u);
    // Number 2 copies; a flat page stays flat under number 3.
    const TestImage noise = kdtest::NoisePage(9, 7, 8, 1, 1, 4);
    EXPECT_TRUE(Whole(noise, 2).samePixels(noise));
    const TestImage flat = TestImage::Gray(9, 7, 90);
    EXPECT_TRUE(Whole(flat, 3).samePixels(flat));
}

TEST(EdgeFuncShort, BandsGiveTheWholeImage) {
    const std::vector<std::vector<int32_t>> splits = {{2, 28}, {2, 1, 1, 26}, {10, 10, 10},
                                                      {29, 1}, {30, 0},       {5, 0, 25}};
    for (uint32_t n = 1; n <= 5; ++n) {
        for (int spp : {1, 3}) {
            const TestImage src = kdtest::NoisePage(19, 30, 8, spp, 1, 40 + n);
            const TestImage whole = Whole(src, n);
            for (const auto& split : splits) {
                TestImage dst = BlankLike(src);
                tagEDGEINFO info = Short(n);
                int32_t y = 0, out = 0;
                for (size_t i = 0; i < split.size(); ++i) {
                    tagTVKIMAGEINFO s = src.band(y, split[i]);
                    tagTVKIMAGEINFO d = dst.band(out, 30 - out);
                    const bool last = i + 1 == split.size();
                    const int32_t r = i == 0 ? EdgeFuncStartEx(&d, &s, &info)
                                             : (last ? EdgeFuncFinishEx(&d, &s, &info)
                                                     : EdgeFuncContEx(&d, &s, &info));
                    ASSERT_EQ(r, 0) << n << " band " << i;
                    out += d.lHeight;
                    y += split[i];
                }
                EXPECT_EQ(out, 30) << n << " split " << split.size() << "," << split[0];
                EXPECT_EQ(info.lLineCount, 30);
                EXPECT_TRUE(dst.samePixels(whole)) << n << " spp " << spp;
                EXPECT_FALSE(EdgeFuncOldInProgress());
            }
        }
    }
}

TEST(EdgeFuncShort, FirstPlaneOnlyWhenOrderBitTwoIsSet) {
    TestImage src = kdtest::NoisePage(12, 8, 8, 3, 1, 6);
    src.info()->ulRGBOrder = 3;
    TestImage dst(12, 8, 8, 3, 3), in = src;
    tagEDGEINFO info = Short(4);
    ASSERT_EQ(EdgeFuncEx(dst.info(), in.info(), &info), 0);
    TestImage gray(12, 8, 8, 1, 1);
    for (int y = 0; y < 8; ++y) std::copy_n(src.line(y), 12, gray.line(y));
    const TestImage expect = Reference(gray, 4, 1);
    for (int y = 0; y < 8; ++y)
        for (int p = 0; p < 3; ++p)
            for (int x = 0; x < 12; ++x)
                ASSERT_EQ(dst.line(y)[p * dst.sync() + x], expect.get(x, y)) << x << "," << y;
}

TEST(EdgeFuncShort, RefusalsAndDefaults) {
    // Both images null: the record returns to its defaults.
    tagEDGEINFO info = Short(4);
    info.lLineCount = 17;
    EXPECT_EQ(EdgeFuncEx(nullptr, nullptr, &info), 0);
    EXPECT_EQ(info.ulSize, kEdgeInfoSizeOld);
    EXPECT_EQ(info.ulFilterNo, 1u);
    EXPECT_EQ(info.lLineCount, 0);

    const TestImage src = kdtest::NoisePage(9, 6, 8, 1, 1, 2);
    // Numbers without a table, a one-line first band, a 16-bit source.
    for (uint32_t n : {0u, 6u, 1025u}) {
        TestImage in = src, dst = BlankLike(src);
        tagEDGEINFO bad = Short(n);
        EXPECT_EQ(EdgeFuncStartEx(dst.info(), in.info(), &bad), -1) << n;
        EXPECT_EQ(EdgeFuncEx(dst.info(), in.info(), &bad), -1) << n;
        EXPECT_TRUE(dst.samePixels(BlankLike(src)));
    }
    TestImage in = src, dst = BlankLike(src);
    tagTVKIMAGEINFO one = in.band(0, 1);
    tagEDGEINFO i3 = Short(3);
    EXPECT_EQ(EdgeFuncStartEx(dst.info(), &one, &i3), -1);
    TestImage deep(9, 6, 16, 1, 1);
    EXPECT_EQ(EdgeFuncStartEx(dst.info(), deep.info(), &i3), -1);
    // Middle and last bands with no image in progress.
    ASSERT_FALSE(EdgeFuncOldInProgress());
    EXPECT_EQ(EdgeFuncContEx(dst.info(), in.info(), &i3), -1);
    EXPECT_EQ(EdgeFuncFinishEx(dst.info(), in.info(), &i3), -1);
    // A band of another width is refused and does not overrun the held lines.
    ASSERT_EQ(EdgeFuncStartEx(dst.info(), in.info(), &i3), 0);
    TestImage wide = kdtest::NoisePage(40, 3, 8, 1, 1, 2);
    TestImage wideOut = BlankLike(wide);
    EXPECT_EQ(EdgeFuncContEx(wideOut.info(), wide.info(), &i3), -1);
    EXPECT_EQ(EdgeFuncFinishEx(dst.info(), nullptr, &i3), 0);
    // The release leaves a short record alone.
    tagEDGEINFO keep = Short(5);
    keep.lLineCount = 3;
    ReleaseEdgeFuncHandle(&keep);
    EXPECT_EQ(keep.ulFilterNo, 5u);
    EXPECT_EQ(keep.lLineCount, 3);
}
