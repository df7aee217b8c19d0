// Binary noise filter: pattern sets, line delay, whole-image and banded calls.
#include "BandTestHelpers.h"
#include "CBinFilter.h"
#include "TestKit.h"
#include "TvkIpError.h"

#include <gtest/gtest.h>

#include <bit>
#include <random>
#include <vector>

using bandtest::RandomBinary;
using kdtest::TestImage;

namespace {

tagBINFILTERINFO Record(uint32_t mode) {
    tagBINFILTERINFO r{};
    r.size = kBinFilterInfoSize;
    r.mode = mode;
    return r;
}

TestImage Filtered(const TestImage& src, uint32_t mode) {
    TestImage dst = TestImage::Binary(src.width(), src.height());
    TestImage in = src;
    tagBINFILTERINFO r = Record(mode);
    EXPECT_EQ(BinFilter(dst.info(), in.info(), &r), 0);
    EXPECT_EQ(dst.info()->lHeight, src.height());
    EXPECT_EQ(r.handle, nullptr);
    EXPECT_EQ(r.handle2, nullptr);
    dst.info()->lHeight = src.height();
    return dst;
}

// Feeds the image through start / cont / end in bands of random height; the
// destination band begins where the previous output ended.
TestImage Banded(const TestImage& src, uint32_t mode, uint32_t seed) {
    TestImage dst = TestImage::Binary(src.width(), src.height());
    std::mt19937 rng(seed);
    tagBINFILTERINFO r = Record(mode);
    int32_t y = 0, out = 0;
    bool first = true;
    while (y < src.height()) {
        const int32_t n = std::min<int32_t>(src.height() - y, static_cast<int32_t>(rng() % 7) + 1);
        tagTVKIMAGEINFO s = src.band(y, n);
        tagTVKIMAGEINFO d = dst.band(out, dst.height() - out);
        const bool last = y + n == src.height() && rng() % 2;
        if (first)
            EXPECT_EQ(BinFilterStart(&d, &s, &r), 1);
        else if (last)
            EXPECT_EQ(BinFilterEnd(&d, &s, &r), 1);
        else
            EXPECT_EQ(BinFilterCont(&d, &s, &r), 1);
        out += d.lHeight;
        y += n;
        first = false;
        if (last) {
            EXPECT_EQ(out, src.height());
            EXPECT_EQ(r.lines, static_cast<uint32_t>(src.height()));
            return dst;
        }
    }
    tagTVKIMAGEINFO d = dst.band(out, dst.height() - out);
    EXPECT_EQ(BinFilterEnd(&d, nullptr, &r), 1);
    out += d.lHeight;
    EXPECT_EQ(out, src.height());
    EXPECT_EQ(r.lines, static_cast<uint32_t>(src.height()));
    return dst;
}

} // namespace

TEST(BinFilter2, LevelSetsNestAndHaveTheirSizes) {
    const int sizes[7] = {0, 128, 180, 222, 225, 245, 255};
    const int byNeighbours[7][5] = {{0, 0, 0, 0, 0},    {46, 35, 10, 0, 0}, {56, 58, 26, 3, 0},
                                    {56, 70, 56, 3, 0}, {56, 70, 56, 6, 0}, {56, 70, 56, 22, 4},
                                    {56, 70, 56, 28, 8}};
    for (unsigned level = 1; level <= 6; ++level) {
        EXPECT_EQ(CBinFilter2::PatternCount(level), sizes[level]) << level;
        int count[9] = {};
        for (unsigned i = 0; i < 512; ++i) {
            if (!CBinFilter2::InLevel(level, i)) continue;
            ASSERT_TRUE(i & 0x10) << "black centre";
            ++count[std::popcount(i & ~0x10u)];
            if (level < 6) {
                EXPECT_TRUE(CBinFilter2::InLevel(level + 1, i)) << level << " " << i;
            }
        }
        EXPECT_EQ(count[0] + count[1] + count[2], 37) << level;
        for (int k = 3; k <= 7; ++k) EXPECT_EQ(count[k], byNeighbours[level][k - 3]) << level;
        EXPECT_EQ(count[8], 0);
    }
}

TEST(BinFilter, DotsAndHoles) {
    // Mode 0x0008: a lone black pixel goes, a pair stays.
    TestImage img = TestImage::Binary(16, 7);
    img.set(3, 3, 1);
    img.set(9, 3, 1);
    img.set(10, 3, 1);
    TestImage out = Filtered(img, kBinFilterBlackDot);
    EXPECT_EQ(out.get(3, 3), 0u);
    EXPECT_EQ(out.get(9, 3), 1u);
    EXPECT_EQ(out.get(10, 3), 1u);

    // Mode 0x0004: a lone white pixel in black is filled.
    TestImage black = TestImage::Binary(16, 7);
    for (int32_t y = 0; y < 7; ++y)
        for (int32_t x = 0; x < 16; ++x) black.set(x, y, 1);
    black.set(5, 3, 0);
    TestImage filled = Filtered(black, kBinFilterWhiteDot);
    EXPECT_EQ(filled.get(5, 3), 1u);
}

TEST(BinFilter, ModeZeroOnlyCounts) {
    TestImage src = RandomBinary(20, 9, 1, 50);
    TestImage dst = TestImage::Binary(20, 9);
    std::fill(dst.bytes().begin(), dst.bytes().end(), 0x77);
    const auto before = dst.bytes();
    tagBINFILTERINFO r = Record(0);
    EXPECT_EQ(BinFilterStart(dst.info(), src.info(), &r), 1);
    EXPECT_EQ(r.lines, 9u);
    EXPECT_EQ(dst.bytes(), before);
    BinFilterEnd(dst.info(), nullptr, &r);
    EXPECT_EQ(r.lines, 9u);
}

TEST(BinFilter, LevelSixThinningAndThickeningModel) {
    // 0x3006: every black pixel with a white neighbour turns white (outside
    // the line ends counts as black); 0x1006: every white pixel with a black
    // neighbour turns black (outside counts as white). Never in the first and
    // last lines, nor in the last pixel of a line.
    for (bool thin : {true, false}) {
        const uint32_t mode = kBinFilterLevelMode | (thin ? kBinFilterLevelThin : 0) | 6;
        const uint32_t from = thin ? 1 : 0;
        for (int32_t w : {9, 16, 21}) {
            TestImage src = RandomBinary(w, 12, w, thin ? 75 : 25);
            TestImage out = Filtered(src, mode);
            for (int32_t y = 0; y < 12; ++y)
                for (int32_t x = 0; x < w; ++x) {
                    uint32_t expect = src.get(x, y);
                    if (expect == from && y > 0 && y < 11 && x < w - 1) {
                        bool other = false;
                        for (int dy = -1; dy <= 1; ++dy)
                            for (int dx = -1; dx <= 1; ++dx) {
                                const int32_t nx = x + dx;
                                if (nx >= 0 && nx < w && src.get(nx, y + dy) != from) other = true;
                            }
                        if (other) expect = 1 - from;
                    }
                    ASSERT_EQ(out.get(x, y), expect) << thin << " " << w << " " << x << "," << y;
                }
        }
    }
}

TEST(BinFilter, CurrentLineSeesFilteredLineAbove) {
    // Model of the mode filter: flips use the filtered line above, the
    // unfiltered current line and the line below; outside is white.
    const uint32_t mode = kBinFilterWhiteNotch | kBinFilterBlackBump | kBinFilterBlackDot;
    CBinFilter tableOwner(mode);
    const uint8_t* table = tableOwner.Table();
    TestImage src = RandomBinary(29, 15, 5, 45);
    TestImage out = Filtered(src, mode);
    TestImage model = src;
    const int32_t bits = src.sync() * 8; // every byte of the line is walked
    const auto px = [&](const TestImage& img, int32_t x, int32_t y) -> unsigned {
        return (x < 0 || x >= bits) ? 0u : (img.line(y)[x / 8] >> (7 - x % 8)) & 1u;
    };
    for (int32_t y = 1; y < 14; ++y)
        for (int32_t x = 0; x < bits; ++x) {
            unsigned idx = 0;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    idx = (idx << 1) | px(dy < 0 ? model : src, x + dx, y + dy);
            if (table[idx]) model.line(y)[x / 8] ^= static_cast<uint8_t>(0x80 >> (x % 8));
        }
    EXPECT_EQ(out.bytes(), model.bytes());
}

TEST(BinFilter, BandsGiveTheWholeImageResult) {
    const uint32_t modes[] = {kBinFilterSingleBits, kBinFilterGroup1 | kBinFilterGroup2,
                              kBinFilterBlackDot | kBinFilterGroup1, // two stages
                              kBinFilterLevelMode | 3,
                              kBinFilterLevelMode | kBinFilterLevelThin | 2};
    for (uint32_t mode : modes) {
        for (uint32_t seed : {1u, 2u, 3u}) {
            TestImage src = RandomBinary(37, 23, seed * 7 + mode, 50);
            const TestImage whole = Filtered(src, mode);
            const TestImage banded = Banded(src, mode, seed);
            EXPECT_EQ(banded.bytes(), whole.bytes()) << std::hex << mode << " " << seed;
            // The first and the last line are never changed.
            for (int32_t y : {0, 22})
                for (int32_t x = 0; x < 37; ++x) ASSERT_EQ(whole.get(x, y), src.get(x, y));
        }
    }
}

TEST(BinFilter, LevelOutsideOneToSixIsRefused) {
    for (uint32_t level : {0u, 7u}) {
        TestImage src = RandomBinary(16, 4, 3, 50);
        TestImage dst = TestImage::Binary(16, 4);
        tagBINFILTERINFO r = Record(kBinFilterLevelMode | level);
        EXPECT_EQ(BinFilterStart(dst.info(), src.info(), &r), -1);
        EXPECT_EQ(IpGetLastError(), kIpErrBadArgument);
        EXPECT_EQ(r.handle, nullptr);
        EXPECT_EQ(BinFilter(dst.info(), src.info(), &r), -1);
    }
}

TEST(BinFilter, NotchesAndBumpsOnAnEdge) {
    // A black area over white: its lower edge is row 2. A one-pixel white
    // notch in that edge (at a byte border) is filled under 0x0001; a
    // one-pixel black bump below the edge is removed under 0x0002.
    TestImage img = TestImage::Binary(24, 7);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 24; ++x) img.set(x, y, 1);
    img.set(8, 2, 0);  // notch
    img.set(16, 3, 1); // bump
    const TestImage notch = Filtered(img, kBinFilterWhiteNotch);
    EXPECT_EQ(notch.get(8, 2), 1u);
    EXPECT_EQ(notch.get(16, 3), 1u);
    const TestImage bump = Filtered(img, kBinFilterBlackBump);
    EXPECT_EQ(bump.get(8, 2), 0u);
    EXPECT_EQ(bump.get(16, 3), 0u);
    // Nothing else on the straight edge changes.
    for (const TestImage* out : {&notch, &bump})
        for (int32_t y = 0; y < 7; ++y)
            for (int32_t x = 0; x < 24; ++x)
                if (!((x == 8 && y == 2) || (x == 16 && y == 3))) {
                    ASSERT_EQ(out->get(x, y), img.get(x, y)) << x << "," << y;
                }
}

TEST(BinFilter, DestinationWithoutRoomIsNotOverrun) {
    TestImage src = RandomBinary(20, 10, 8, 40);
    // Whole image into fewer lines: refused.
    TestImage small = TestImage::Binary(20, 9);
    tagBINFILTERINFO r = Record(kBinFilterBlackDot);
    EXPECT_EQ(BinFilter(small.info(), src.info(), &r), -1);
    EXPECT_EQ(IpGetLastError(), kIpErrBadArgument);
    EXPECT_EQ(r.handle, nullptr);

    // A last band whose destination holds one line fewer than come out: the
    // extra line is dropped (and reported), nothing is written past the buffer.
    TestImage dst = TestImage::Binary(20, 10);
    tagBINFILTERINFO s = Record(kBinFilterBlackDot | kBinFilterGroup1);
    tagTVKIMAGEINFO first = src.band(0, 6), rest = src.band(6, 4);
    tagTVKIMAGEINFO d1 = dst.band(0, 6);
    ASSERT_EQ(BinFilterStart(&d1, &first, &s), 1);
    EXPECT_EQ(d1.lHeight, 4); // two stages hold back a line each
    std::vector<uint8_t> tail(static_cast<size_t>(dst.sync()) * 5);
    tagTVKIMAGEINFO d2 = dst.band(4, 5); // room for 5 of the 6 lines
    d2.lpImage = tail.data();
    ASSERT_EQ(BinFilterEnd(&d2, &rest, &s), 1);
    EXPECT_EQ(d2.lHeight, 5);
    EXPECT_EQ(IpGetLastError(), kIpErrBadArgument);
    EXPECT_EQ(s.handle, nullptr);
}
