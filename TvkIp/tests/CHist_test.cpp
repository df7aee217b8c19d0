// Histogram peaks, the exported image histogram and channel extraction.
#include "CHist.h"
#include "ExtractRGBElementFromColor.h"
#include "TestKit.h"
#include "TvkIpError.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

using kdtest::TestImage;

namespace {

struct Count {
    int value;
    uint32_t n;
};

} // namespace

TEST(CHist, Peaks) {
    const struct {
        const char* name;
        std::vector<Count> counts;
        int32_t peek1, peek2;
    } cases[] = {
        {"empty: split 1", {}, 0, 1},
        {"paper and ink", {{20, 50}, {30, 800}, {200, 300}, {230, 900}}, 30, 230},
        // mean 97.5 -> split 98: the two equal maxima above it report the lower.
        {"tie above the mean", {{0, 4}, {150, 3}, {175, 3}}, 0, 150},
        {"tie below the mean", {{10, 5}, {40, 5}, {250, 20}}, 10, 250},
        // mean exactly 100 belongs below the split.
        {"mean on a value", {{100, 10}, {50, 1}, {150, 1}}, 100, 150},
        {"single value", {{77, 9}}, 77, 78},
        {"everything at the top", {{255, 4}}, 255, 255},
    };
    for (const auto& c : cases) {
        CHist h;
        std::vector<uint8_t> bytes;
        for (const Count& k : c.counts) bytes.insert(bytes.end(), k.n, uint8_t(k.value));
        h.Add(bytes.data(), bytes.size());
        int32_t p1 = -1, p2 = -1;
        h.GetPeek(&p1, &p2);
        EXPECT_EQ(p1, c.peek1) << c.name;
        EXPECT_EQ(p2, c.peek2) << c.name;
        EXPECT_EQ(h.Peek1(), c.peek1) << c.name;
        EXPECT_EQ(h.Peek2(), c.peek2) << c.name;
    }
}

TEST(CHist, AddingBytesRefreshesThePeaks) {
    CHist h;
    const std::vector<uint8_t> dark(10, 40), light(30, 220);
    h.Add(dark.data(), dark.size());
    EXPECT_EQ(h.Peek1(), 40);
    h.Add(light.data(), light.size());
    h.Add(dark.data(), dark.size());
    // Mean (20*40 + 30*220)/50 = 148: both sides have a peak now.
    EXPECT_EQ(h.Peek1(), 40);
    EXPECT_EQ(h.Peek2(), 220);
    EXPECT_EQ(h.Total(), 50u);
    EXPECT_EQ(h.GetColorNum(), 2);
    h.Init();
    EXPECT_EQ(h.GetColorNum(), 0);
    EXPECT_EQ(h.Peek1(), 0);
}

TEST(CHist, AddOverloadsSkipLinePadding) {
    // 3 pixels a line, 5 bytes apart: the two padding bytes must not count.
    const uint8_t lines[] = {1, 2, 3, 9, 9, 4, 5, 6, 9, 9, 7, 8, 1, 9};
    CHist a(nullptr, 100);
    a.Add(lines, 3, 3, 5);
    EXPECT_EQ(a.Total(), 109u);
    EXPECT_EQ(a.Counts()[9], 0u);
    EXPECT_EQ(a.Counts()[1], 2u);
    EXPECT_EQ(a.GetColorNum(), 8);

    TestImage img = TestImage::Gray(3, 2, 9); // line size rounds up to 4
    img.set(0, 0, 1);
    img.set(2, 1, 1);
    CHist b;
    b.Add(img.info());
    EXPECT_EQ(b.Total(), 6u);
    EXPECT_EQ(b.Counts()[1], 2u);
    EXPECT_EQ(b.Counts()[9], 4u);

    // A caller's array is used as it is, and Init leaves it alone.
    std::array<uint32_t, kHistBins> mine{};
    mine[5] = 7;
    CHist c(mine.data());
    c.Add(lines, 3, 1, 5);
    c.Init();
    EXPECT_EQ(mine[5], 7u);
    EXPECT_EQ(mine[2], 1u);
}

TEST(GetHistogram, LayoutsAndAccumulation) {
    // 1 sample with unused bytes at the line ends.
    TestImage gray = TestImage::Gray(5, 3, 10);
    ASSERT_GT(gray.sync(), 5);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 5; x < gray.sync(); ++x) gray.line(y)[x] = 200;
    gray.set(4, 2, 99);
    tagHISTOGRAMINFO r{};
    r.size = kHistogramInfoSize;
    IpSetLastError(3);
    EXPECT_EQ(GetHistogram(gray.info(), &r), 15u);
    EXPECT_EQ(IpGetLastError(), 0u);
    EXPECT_EQ(r.count, 15u);
    EXPECT_EQ(r.hist[10], 14u);
    EXPECT_EQ(r.hist[99], 1u);
    EXPECT_EQ(r.hist[200], 0u);
    // A second call adds to what is there.
    EXPECT_EQ(GetHistogram(gray.info(), &r), 30u);
    EXPECT_EQ(r.hist[10], 28u);

    // Tightly packed lines go through in one run.
    TestImage packed = TestImage::Gray(8, 2, 3);
    ASSERT_EQ(packed.sync(), 8);
    tagHISTOGRAMINFO p{};
    EXPECT_EQ(GetHistogram(packed.info(), &p), 16u);
    EXPECT_EQ(p.hist[3], 16u);

    // Interleaved colour: all three samples count, padding does not.
    TestImage rgb = TestImage::Color(3, 2, 0, 0);
    std::fill(rgb.bytes().begin(), rgb.bytes().end(), 250);
    kdtest::FillRect(rgb, 0, 0, 3, 2, 0x030201);
    tagHISTOGRAMINFO c{};
    EXPECT_EQ(GetHistogram(rgb.info(), &c), 18u);
    EXPECT_EQ(c.hist[1], 6u);
    EXPECT_EQ(c.hist[2], 6u);
    EXPECT_EQ(c.hist[3], 6u);

    // Planar colour with padding: width bytes of every sample row.
    TestImage planar = TestImage::Color(3, 2, 1, 0);
    ASSERT_GT(planar.sync(), 3);
    std::fill(planar.bytes().begin(), planar.bytes().end(), 250);
    kdtest::FillRect(planar, 0, 0, 3, 2, 0x070605);
    tagHISTOGRAMINFO q{};
    EXPECT_EQ(GetHistogram(planar.info(), &q), 18u);
    EXPECT_EQ(q.hist[5] + q.hist[6] + q.hist[7], 18u);

    // Other sample counts count nothing.
    TestImage two(4, 2, 8, 2, 0, 8);
    tagHISTOGRAMINFO z{};
    EXPECT_EQ(GetHistogram(two.info(), &z), 0u);
}

TEST(ExtractRGBElementFromColor, EachChannel) {
    TestImage rgb = TestImage::Color(5, 3, 0, 0);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 5; ++x)
            rgb.set(x, y, uint32_t(10 * y + x) | uint32_t(100 + x) << 8 | uint32_t(200 + y) << 16);
    CExtractRGBElementFromColor ex;
    for (int channel = 0; channel < 3; ++channel) {
        TestImage gray = TestImage::Gray(5, 3, 255);
        ex.Rect(gray.info(), rgb.info(), channel);
        for (int32_t y = 0; y < 3; ++y)
            for (int32_t x = 0; x < 5; ++x)
                ASSERT_EQ(gray.get(x, y), (rgb.get(x, y) >> (8 * channel)) & 0xFF)
                    << channel << " " << x << "," << y;
        // Padding bytes of the gray lines stay as they were.
        EXPECT_EQ(gray.line(0)[5], 255);
    }
    TestImage untouched = TestImage::Gray(5, 3, 255);
    ex.Rect(untouched.info(), rgb.info(), 3);
    ex.Rect(untouched.info(), rgb.info(), -1);
    EXPECT_EQ(untouched.get(0, 0), 255u);
}
