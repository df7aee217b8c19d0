// Binarisation handle interface and the fixed-threshold kind.
#include "BinThreshold.h"
#include "CBFunc.h"
#include "TestKit.h"
#include "TvkIpError.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

using kdtest::FillRandom;
using kdtest::TestImage;

namespace {

// A single-sample test image (8-bit gray or 1-bit) with every byte set to fill.
TestImage Filled(int32_t w, int32_t h, int32_t bps, uint8_t fill = 0) {
    TestImage img(w, h, bps, 1);
    std::fill(img.bytes().begin(), img.bytes().end(), fill);
    return img;
}

tagBINFUNCINFO LongRecord(uint32_t kind, uint32_t slice = 128) {
    tagBINFUNCINFO r{};
    r.size = kBinFuncInfoSizeLong;
    r.kind = kind;
    r.firstSlice = r.nextSlice = slice;
    return r;
}

tagBINFUNCINFO ShortRecord(uint32_t kind, uint32_t slice = 128) {
    tagBINFUNCINFO r = LongRecord(kind, slice);
    r.size = kBinFuncInfoSizeShort;
    return r;
}

// Releases a long record's object at the end of a test.
struct HandleGuard {
    tagBINFUNCINFO* r;
    ~HandleGuard() { ReleaseBinalizeHandle(r); }
};

} // namespace

TEST(BrightnessToSlicelevel, TableValuesAndRange) {
    const struct {
        uint32_t brightness;
        int32_t slice;
    } cases[] = {{0, 35},    {1, 36},    {64, 84},  {127, 131}, {128, 132},
                 {200, 196}, {254, 244}, {255, -1}, {256, -1},  {0xFFFFFFFFu, -1}};
    for (const auto& c : cases) {
        IpSetLastError(99);
        EXPECT_EQ(BrightnessToSlicelevel(c.brightness), c.slice) << c.brightness;
        EXPECT_EQ(IpGetLastError(), 0u);
    }
    // Rising brightness never lowers the slice.
    for (uint32_t b = 1; b < 255; ++b)
        EXPECT_GE(BrightnessToSlicelevel(b), BrightnessToSlicelevel(b - 1)) << b;
}

TEST(BinalizeRectEx, ShortRecordWithoutImagesIsReset) {
    tagBINFUNCINFO r{};
    r.size = kBinFuncInfoSizeShort;
    r.kind = 5;
    r.firstSlice = 7;
    r.nextSlice = 9;
    r.lineCount = 42;
    EXPECT_EQ(BinalizeRectEx(nullptr, nullptr, &r), 0);
    EXPECT_EQ(r.kind, 0u);
    EXPECT_EQ(r.firstSlice, 128u);
    EXPECT_EQ(r.nextSlice, 128u);
    EXPECT_EQ(r.lineCount, 0u);
}

TEST(BinalizeRectEx, RejectedRequests) {
    TestImage src = Filled(16, 2, 8, 0), dst = Filled(16, 2, 1, 0x5A);
    const std::vector<uint8_t> before = dst.bytes();

    tagBINFUNCINFO bad = LongRecord(0);
    bad.size = kBinFuncInfoSizeShort + 1;
    EXPECT_EQ(BinalizeRectEx(dst.info(), src.info(), &bad), -1);

    tagBINFUNCINFO k7 = LongRecord(7);
    EXPECT_EQ(BinalizeRectEx(dst.info(), src.info(), &k7), -1);
    EXPECT_EQ(k7.handle, nullptr);
    for (uint32_t kind : {7u, 9u, 14u, 1000u}) {
        tagBINFUNCINFO r = LongRecord(kind);
        EXPECT_EQ(CreateBinalizeHandle(&r), nullptr) << kind;
    }

    tagBINFUNCINFO s7 = ShortRecord(7);
    EXPECT_EQ(BinalizeRectEx(dst.info(), src.info(), &s7), -1);

    // Only one of the two images: nothing to binarise, and no crash.
    tagBINFUNCINFO s0 = ShortRecord(0);
    EXPECT_EQ(BinalizeRectEx(dst.info(), nullptr, &s0), -1);
    EXPECT_EQ(BinalizeRectEx(nullptr, src.info(), &s0), -1);
    tagBINFUNCINFO l0 = LongRecord(0);
    HandleGuard g{&l0};
    EXPECT_EQ(BinalizeRectEx(nullptr, src.info(), &l0), -1);
    EXPECT_EQ(BinalizeRectEx(dst.info(), src.info(), nullptr), -1);

    EXPECT_EQ(dst.bytes(), before);
}

TEST(BinalizeRectEx, PlaceholderKindsLeaveDestinationAlone) {
    for (uint32_t kind : {2u, 3u}) {
        TestImage src = Filled(20, 3, 8, 0), dst = Filled(20, 3, 1, 0x33);
        const std::vector<uint8_t> before = dst.bytes();
        tagBINFUNCINFO l = LongRecord(kind);
        HandleGuard g{&l};
        EXPECT_EQ(BinalizeRectEx(dst.info(), src.info(), &l), 0) << kind;
        EXPECT_NE(l.handle, nullptr);
        EXPECT_EQ(l.lineCount, 0u);
        tagBINFUNCINFO s = ShortRecord(kind);
        EXPECT_EQ(BinalizeRectEx(dst.info(), src.info(), &s), 0) << kind;
        EXPECT_EQ(dst.bytes(), before) << kind;
    }
}

// Threshold rule: black only when slice > pixel; bits past the width keep
// whatever the destination held.
TEST(BinalizeRectEx, FixedThresholdRuleAndPadding) {
    const uint8_t pixels[10] = {0, 99, 100, 101, 255, 100, 50, 200, 99, 100};
    TestImage src = Filled(10, 1, 8), dst = Filled(10, 1, 1, 0xFF);
    std::memcpy(src.line(0), pixels, sizeof pixels);
    tagBINFUNCINFO r = ShortRecord(0, 100);
    IpSetLastError(1234);
    EXPECT_EQ(BinalizeRectEx(dst.info(), src.info(), &r), 0);
    EXPECT_EQ(IpGetLastError(), 0u);
    for (int x = 0; x < 10; ++x) EXPECT_EQ(dst.get(x, 0) != 0, 100 > pixels[x]) << x;
    EXPECT_EQ(dst.line(0)[1] & 0x3F, 0x3F) << "bits beyond the width changed";
    EXPECT_EQ(dst.line(0)[2], 0xFF);
}

TEST(BinalizeRectEx, TwoBandsEqualOneCall) {
    const int32_t w = 77, h = 150;
    TestImage src = Filled(w, h, 8);
    FillRandom(src.bytes(), 7);

    TestImage whole = Filled(w, h, 1);
    tagBINFUNCINFO one = LongRecord(0, 140);
    HandleGuard g1{&one};
    ASSERT_EQ(BinalizeRectEx(whole.info(), src.info(), &one), 0);
    EXPECT_EQ(one.lineCount, static_cast<uint32_t>(h));
    EXPECT_EQ(one.nextSlice, 140u);

    // The same page as a band of 100 lines and one of 50, each a record over
    // its part of the same buffers (lYpos selects the first line).
    TestImage banded = Filled(w, h, 1);
    tagBINFUNCINFO two = LongRecord(0, 140);
    HandleGuard g2{&two};
    tagTVKIMAGEINFO s1 = *src.info(), d1 = *banded.info();
    s1.lHeight = d1.lHeight = 100;
    IpSetLastError(5);
    ASSERT_EQ(BinalizeRectEx(&d1, &s1, &two), 0);
    EXPECT_EQ(IpGetLastError(), 0u);
    EXPECT_EQ(two.lineCount, 100u);
    EXPECT_EQ(two.nextSlice, 140u);
    tagTVKIMAGEINFO s2 = *src.info(), d2 = *banded.info();
    s2.lYpos = d2.lYpos = 100;
    s2.lHeight = d2.lHeight = 50;
    ASSERT_EQ(BinalizeRectEx(&d2, &s2, &two), 0);
    EXPECT_EQ(two.lineCount, 150u);
    EXPECT_EQ(banded.bytes(), whole.bytes());

    // Reference: the rule applied pixel by pixel.
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            ASSERT_EQ(whole.get(x, y) != 0, 140 > src.line(y)[x]) << x << "," << y;
}

TEST(BinalizeRectEx, LaterCallsUseTheCarriedSlice) {
    TestImage src = Filled(8, 100, 8, 100), dst = Filled(8, 100, 1);
    tagBINFUNCINFO r = ShortRecord(0, 90);
    r.nextSlice = 200;
    ASSERT_EQ(BinalizeRectEx(dst.info(), src.info(), &r), 0);
    EXPECT_EQ(dst.line(99)[0], 0x00) << "first call must use the first slice";
    EXPECT_EQ(r.lineCount, 100u);
    EXPECT_EQ(r.nextSlice, 90u);

    r.nextSlice = 200;
    ASSERT_EQ(BinalizeRectEx(dst.info(), src.info(), &r), 0);
    EXPECT_EQ(dst.line(0)[0], 0xFF) << "a continuing call must use the next slice";
    EXPECT_EQ(r.lineCount, 200u);
    EXPECT_EQ(r.nextSlice, 200u);

    // Line count 0 starts over with the first slice.
    r.lineCount = 0;
    ASSERT_EQ(BinalizeRectEx(dst.info(), src.info(), &r), 0);
    EXPECT_EQ(dst.line(0)[0], 0x00);
}

TEST(BinalizeLineEx, UsesTheStaticObjectState) {
    TestImage src = Filled(12, 4, 8, 60), dst = Filled(12, 4, 1);
    tagBINFUNCINFO s = ShortRecord(0, 61);
    tagTVKIMAGEINFO s3 = *src.info(), d3 = *dst.info();
    s3.lHeight = d3.lHeight = 3;
    ASSERT_EQ(BinalizeRectEx(&d3, &s3, &s), 0);

    tagBINFUNCINFO l = LongRecord(0, 10); // its slices are not used by the line call
    tagTVKIMAGEINFO s4 = *src.info(), d4 = *dst.info();
    s4.lYpos = d4.lYpos = 3;
    ASSERT_EQ(BinalizeLineEx(&d4, &s4, &l), 0);
    EXPECT_EQ(l.lineCount, 4u);
    EXPECT_EQ(l.nextSlice, 61u);
    EXPECT_EQ(l.handle, nullptr);
    EXPECT_EQ(dst.line(3)[0], 0xFF);
    EXPECT_EQ(dst.line(3)[1] & 0xF0, 0xF0);

    tagBINFUNCINFO shortRec = ShortRecord(0);
    EXPECT_EQ(BinalizeLineEx(&d4, &s4, &shortRec), -1);
    tagBINFUNCINFO k7 = LongRecord(7);
    EXPECT_EQ(BinalizeLineEx(&d4, &s4, &k7), -1);
}

TEST(BinalizeLineEx, PlaceholderKindsThresholdOnALine) {
    for (uint32_t kind : {2u, 3u}) {
        TestImage src = Filled(8, 1, 8, 10), dst = Filled(8, 1, 1);
        tagBINFUNCINFO l = LongRecord(kind);
        ASSERT_EQ(BinalizeLineEx(dst.info(), src.info(), &l), 0) << kind;
        // The static object keeps the constructor's slice of 128.
        EXPECT_EQ(dst.line(0)[0], 0xFF) << kind;
    }
}

TEST(BinalizeHandles, CreateReuseAndRelease) {
    tagBINFUNCINFO r = LongRecord(0);
    void* h = CreateBinalizeHandle(&r);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(r.handle, h);
    EXPECT_EQ(CreateBinalizeHandle(&r), h);
    ReleaseBinalizeHandle(&r);
    EXPECT_EQ(r.handle, nullptr);
    ReleaseBinalizeHandle(&r); // twice is harmless

    // The short form has no handle word: nothing is made or freed there.
    tagBINFUNCINFO s = ShortRecord(0);
    int marker = 0;
    s.handle = &marker;
    ReleaseBinalizeHandle(&s);
    EXPECT_EQ(s.handle, &marker);
    EXPECT_EQ(CreateBinalizeHandle(&s), nullptr);
    EXPECT_EQ(s.handle, &marker);
}

TEST(BinalizeHandles, StaticTable) {
    CBFunc* const* table = BFunc();
    ASSERT_NE(table, nullptr);
    EXPECT_NE(table[kBinFixed], nullptr);
    EXPECT_NE(table[kBinASC], nullptr);
    EXPECT_NE(table[kBinLineAE], nullptr);
    EXPECT_EQ(table[7], nullptr);
}

// The vector and portable threshold kernels give the same bytes, including
// the untouched bits past the width.
TEST(ThresholdLine, SSE2MatchesPortable) {
    std::vector<uint8_t> src(400);
    FillRandom(src, 11);
    const int32_t slices[] = {-3, 0, 1, 2, 127, 128, 200, 255, 256, 1000};
    for (int32_t width : {1, 7, 8, 15, 16, 17, 31, 33, 63, 100, 257, 383}) {
        for (int32_t offset : {0, 1, 3}) {
            for (int32_t slice : slices) {
                std::vector<uint8_t> a((width + 7) / 8 + 2, 0xA5), b = a;
                SSE2ThresholdLine(a.data() + 1, src.data() + offset, width, slice);
                IntegrityThresholdLine(b.data() + 1, src.data() + offset, width, slice);
                ASSERT_EQ(a, b) << "width " << width << " offset " << offset << " slice " << slice;
            }
        }
    }
    // The reference itself against the rule.
    std::vector<uint8_t> out(50, 0);
    IntegrityThresholdLine(out.data(), src.data(), 400, 128);
    for (int x = 0; x < 400; ++x)
        ASSERT_EQ((out[x / 8] >> (7 - x % 8)) & 1, 128 > src[x] ? 1 : 0) << x;
}
