// Tests of the line-streaming scaler: the calling protocol, hand-computed
// cases, and a whole-image reference built directly from the weight formulas.
#include "FG_Zoom.h"
#include "TvkIpError.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

std::size_t LineBytes(int width, int bpp) {
    return bpp == 1 ? static_cast<std::size_t>(width + 7) / 8
                    : static_cast<std::size_t>(width) * static_cast<std::size_t>(bpp / 8);
}

int SamplesPerPixel(int bpp) {
    return bpp == 24 || bpp == 48 ? 3 : bpp == 32 || bpp == 64 ? 4 : 1;
}

struct Image {
    int width = 0;
    int height = 0;
    int bpp = 8;
    std::vector<uint8_t> bytes;

    Image() = default;
    Image(int w, int h, int b, uint8_t fill = 0)
        : width(w), height(h), bpp(b), bytes(LineBytes(w, b) * static_cast<std::size_t>(h), fill) {}
    std::size_t Stride() const { return LineBytes(width, bpp); }
    uint8_t* Line(int y) { return bytes.data() + Stride() * static_cast<std::size_t>(y); }
    const uint8_t* Line(int y) const {
        return bytes.data() + Stride() * static_cast<std::size_t>(y);
    }

    // Sample j of pixel x on line y; 1-bit pixels read as 0 or 255.
    uint32_t Get(int x, int y, int j) const {
        const uint8_t* line = Line(y);
        if (bpp == 1) return (line[x / 8] >> (7 - x % 8)) & 1 ? 255u : 0u;
        const std::size_t i = static_cast<std::size_t>(x) * SamplesPerPixel(bpp) + j;
        if (bpp == 16 || bpp == 48 || bpp == 64) {
            uint16_t v;
            std::memcpy(&v, line + 2 * i, 2);
            return v;
        }
        return line[i];
    }
    // Stores v; a 1-bit pixel is set when v is 128 or more.
    void Set(int x, int y, int j, uint32_t v) {
        uint8_t* line = Line(y);
        if (bpp == 1) {
            const uint8_t bit = static_cast<uint8_t>(0x80u >> (x % 8));
            line[x / 8] = static_cast<uint8_t>(v >= 128 ? line[x / 8] | bit : line[x / 8] & ~bit);
            return;
        }
        const std::size_t i = static_cast<std::size_t>(x) * SamplesPerPixel(bpp) + j;
        if (bpp == 16 || bpp == 48 || bpp == 64) {
            const uint16_t w = static_cast<uint16_t>(v);
            std::memcpy(line + 2 * i, &w, 2);
            return;
        }
        line[i] = static_cast<uint8_t>(v);
    }
};

Image RandomImage(int w, int h, int bpp, std::mt19937& rng, uint32_t lo = 0) {
    Image img(w, h, bpp);
    const uint32_t hi = bpp == 16 || bpp == 48 || bpp == 64 ? 65535u : 255u;
    std::uniform_int_distribution<uint32_t> dist(lo, hi);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int j = 0; j < SamplesPerPixel(bpp); ++j)
                img.Set(x, y, j, bpp == 1 ? (rng() & 1) * 255 : dist(rng));
    return img;
}

// ---------------------------------------------------------------------------
// Reference: every output sample computed on its own from the weights of its
// axis, horizontally first (truncated), then vertically (truncated).

struct Weights {
    std::vector<std::pair<int, int64_t>> taps; // source index, weight
    int64_t divisor = 1;
};

// Share of the partly covered last pixel, reshaped by a parabola.
int64_t Reshape(int64_t g, int64_t n) {
    const double half = 0.5 * static_cast<double>(n);
    const double gd = static_cast<double>(g);
    const double nd = static_cast<double>(n);
    if (gd > half) return static_cast<int64_t>(nd - (nd - gd) * (nd - gd) / half);
    if (gd < half) return static_cast<int64_t>(gd * gd / half);
    return g;
}

Weights AxisWeights(int dstN, int srcN, int i) {
    Weights w;
    if (dstN < srcN) {
        // Area average: a source pixel is dstN units wide, an output pixel
        // srcN units; output i covers units [i * srcN, (i + 1) * srcN).
        const int64_t n = dstN;
        const int64_t begin = static_cast<int64_t>(i) * srcN;
        const int64_t end = begin + srcN;
        int64_t k = begin / n;
        w.taps.push_back({static_cast<int>(k), (k + 1) * n - begin});
        for (++k; (k + 1) * n <= end; ++k) w.taps.push_back({static_cast<int>(k), n});
        if (end % n != 0) w.taps.push_back({static_cast<int>(k), Reshape(end % n, n)});
        w.divisor = 0;
        for (const auto& t : w.taps) w.divisor += t.second;
    } else if (srcN == 1) {
        w.taps.push_back({0, 1});
    } else {
        // Bilinear with the end pixels of both sides coinciding.
        const int64_t d = dstN - 1;
        const int64_t pos = static_cast<int64_t>(i) * (srcN - 1);
        const int k = static_cast<int>(pos / d);
        w.taps.push_back({k, d - pos % d});
        if (pos % d != 0) w.taps.push_back({k + 1, pos % d});
        w.divisor = d;
    }
    return w;
}

Image Reference(const Image& src, int dstW, int dstH) {
    const int spp = SamplesPerPixel(src.bpp);
    const std::size_t rowLen = static_cast<std::size_t>(dstW) * spp;
    std::vector<Weights> hw(static_cast<std::size_t>(dstW));
    for (int x = 0; x < dstW; ++x) hw[x] = AxisWeights(dstW, src.width, x);
    std::vector<uint64_t> horz(rowLen * static_cast<std::size_t>(src.height));
    for (int y = 0; y < src.height; ++y)
        for (int x = 0; x < dstW; ++x)
            for (int j = 0; j < spp; ++j) {
                uint64_t sum = 0;
                for (const auto& t : hw[x].taps)
                    sum += static_cast<uint64_t>(t.second) * src.Get(t.first, y, j);
                horz[y * rowLen + x * spp + j] = sum / static_cast<uint64_t>(hw[x].divisor);
            }
    Image out(dstW, dstH, src.bpp);
    for (int y = 0; y < dstH; ++y) {
        const Weights vw = AxisWeights(dstH, src.height, y);
        for (int x = 0; x < dstW; ++x)
            for (int j = 0; j < spp; ++j) {
                uint64_t sum = 0;
                for (const auto& t : vw.taps)
                    sum += static_cast<uint64_t>(t.second) * horz[t.first * rowLen + x * spp + j];
                out.Set(x, y, j, static_cast<uint32_t>(sum / static_cast<uint64_t>(vw.divisor)));
            }
    }
    return out;
}

// ---------------------------------------------------------------------------
// The calling order of every caller: send a line, then read while lines are
// ready. With probeBusy, every time lines are waiting a different line is
// offered first; it must be refused and leave no trace in the output.

struct StreamRun {
    Image out;
    std::vector<int> readyAfterSend; // ReadyLines() right after each Send
};

StreamRun Stream(const Image& src, int dstW, int dstH, bool probeBusy = false) {
    StreamRun run;
    run.out = Image(dstW, dstH, src.bpp, 0xA5); // garbage where nothing is written
    FG_Zoom zoom;
    EXPECT_EQ(zoom.Open(dstW, dstH, src.width, src.height, src.bpp, 2), 0);
    const std::vector<uint8_t> junk(src.Stride(), 0x5A);
    int written = 0;
    for (int y = 0; y < src.height; ++y) {
        EXPECT_EQ(zoom.Send(src.Line(y)), 0) << "source line " << y;
        run.readyAfterSend.push_back(zoom.ReadyLines());
        while (zoom.ReadyLines() > 0) {
            if (probeBusy) {
                const int waiting = zoom.ReadyLines();
                EXPECT_EQ(zoom.Send(junk.data()), 3);
                EXPECT_EQ(zoom.ReadyLines(), waiting);
            }
            if (written >= dstH) {
                ADD_FAILURE() << "more output lines than the destination height";
                return run;
            }
            const int r = zoom.Read(run.out.Line(written));
            EXPECT_EQ(r, 0) << "output line " << written;
            ++written;
            if (r != 0) break;
        }
    }
    EXPECT_EQ(written, dstH);
    EXPECT_EQ(zoom.ReadyLines(), 0);
    // Every declared line has been taken; a further one is refused.
    EXPECT_EQ(zoom.Send(junk.data()), 3);
    zoom.Close();
    return run;
}

::testing::AssertionResult SameImage(const Image& got, const Image& want) {
    if (got.width != want.width || got.height != want.height || got.bpp != want.bpp)
        return ::testing::AssertionFailure() << "different geometry";
    for (int y = 0; y < want.height; ++y) {
        if (std::memcmp(got.Line(y), want.Line(y), want.Stride()) != 0) {
            for (std::size_t b = 0; b < want.Stride(); ++b)
                if (got.Line(y)[b] != want.Line(y)[b])
                    return ::testing::AssertionFailure()
                           << "line " << y << " byte " << b << ": got " << int(got.Line(y)[b])
                           << ", want " << int(want.Line(y)[b]);
        }
    }
    return ::testing::AssertionSuccess();
}

Image Gray8(int w, int h, const std::vector<int>& values) {
    Image img(w, h, 8);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.Set(x, y, 0, static_cast<uint32_t>(values[static_cast<std::size_t>(y * w + x)]));
    return img;
}

// ---------------------------------------------------------------------------

struct OpenCase {
    const char* what;
    int dstW, dstH, srcW, srcH, bpp, mode;
    int expected;
};

TEST(FGZoomOpen, ModeForcingAndParameterChecks) {
    const OpenCase cases[] = {
        {"reduction forces mode 2", 2, 2, 4, 4, 8, 0, 0},
        {"reduction of one axis forces mode 2", 16, 4, 8, 8, 8, 0, 0},
        {"source sides of 5 or less force mode 2", 8, 8, 4, 4, 8, 0, 0},
        {"enlargement keeps mode 0, which no engine serves", 16, 16, 8, 8, 8, 0, 2},
        {"mode 2 enlargement", 16, 16, 8, 8, 8, 2, 0},
        {"1-bit forces mode 2", 16, 16, 8, 8, 1, 0, 0},
        {"reduction forces an unknown mode to 2", 2, 2, 4, 4, 8, 7, 0},
        {"mode 1 is not forced for a small source, and unknown", 8, 8, 4, 4, 8, 1, 2},
        {"unknown mode without forcing", 16, 16, 8, 8, 8, 7, 2},
        {"zero destination width", 0, 4, 8, 8, 8, 2, 2},
        {"zero source height", 4, 4, 8, 0, 8, 2, 2},
        {"negative source width", 4, 4, -8, 8, 8, 2, 2},
        {"negative destination height", 4, -4, 8, 8, 8, 2, 2},
        {"unsupported depth", 4, 4, 8, 8, 12, 2, 2},
        {"line buffer beyond 29 bits", 1, 1, 1 << 27, 1, 64, 2, 2},
        {"line buffer far beyond 32 bits", 1, 1, 0x7FFFFFFF, 1, 64, 2, 2},
    };
    for (const OpenCase& c : cases) {
        FG_Zoom zoom;
        EXPECT_EQ(zoom.Open(c.dstW, c.dstH, c.srcW, c.srcH, c.bpp, c.mode), c.expected) << c.what;
    }
}

TEST(FGZoomOpen, SecondOpenWithoutCloseIsRefused) {
    FG_Zoom zoom;
    ASSERT_EQ(zoom.Open(4, 4, 8, 8, 8, 2), 0);
    EXPECT_EQ(zoom.Open(4, 4, 8, 8, 8, 2), 3);
    zoom.Close();
    EXPECT_EQ(zoom.Open(4, 4, 8, 8, 8, 2), 0);

    // An engine that refused its parameters stays bound until Close, and it
    // takes no lines.
    FG_Zoom refused;
    ASSERT_EQ(refused.Open(16, 16, 8, 8, 8, 0), 2);
    EXPECT_EQ(refused.Open(16, 16, 8, 8, 8, 2), 3);
    const uint8_t line[8] = {};
    uint8_t out[16];
    EXPECT_EQ(refused.Send(line), 3);
    EXPECT_EQ(refused.Read(out), 3);
    EXPECT_EQ(refused.ReadyLines(), 0);
    refused.Close();
    EXPECT_EQ(refused.Open(16, 16, 8, 8, 8, 2), 0);
}

TEST(FGZoomProtocol, ClosedNullAndEmptyCalls) {
    FG_Zoom zoom;
    uint8_t buf[64] = {};
    EXPECT_EQ(zoom.Send(buf), 3);
    EXPECT_EQ(zoom.Read(buf), 3);
    EXPECT_EQ(zoom.ReadyLines(), 0);

    ASSERT_EQ(zoom.Open(3, 3, 2, 2, 8, 2), 0);
    EXPECT_EQ(zoom.Send(nullptr), 2);
    EXPECT_EQ(zoom.Read(buf), 3);
    EXPECT_EQ(zoom.Read(nullptr), 2);
    zoom.Close();
    EXPECT_EQ(zoom.Send(buf), 3);
}

// Enlarging two lines to three: nothing after the first line, all three
// outputs after the second; a line offered while they wait is refused.
TEST(FGZoomProtocol, SendWhileLinesWaitIsRefusedAndTakesNothing) {
    const uint8_t line0[3] = {10, 20, 255};
    const uint8_t line1[3] = {11, 40, 0};
    const uint8_t intruder[3] = {99, 99, 99};
    FG_Zoom zoom;
    ASSERT_EQ(zoom.Open(3, 3, 3, 2, 8, 2), 0);
    ASSERT_EQ(zoom.Send(line0), 0);
    EXPECT_EQ(zoom.ReadyLines(), 0);
    ASSERT_EQ(zoom.Send(line1), 0);
    EXPECT_EQ(zoom.ReadyLines(), 3);
    EXPECT_EQ(zoom.Send(intruder), 3);
    EXPECT_EQ(zoom.ReadyLines(), 3);

    uint8_t out[3][3];
    for (auto& o : out) {
        ASSERT_EQ(zoom.Read(o), 0);
        if (zoom.ReadyLines() == 2) {
            EXPECT_EQ(zoom.Send(intruder), 3);
        }
    }
    EXPECT_EQ(zoom.ReadyLines(), 0);
    EXPECT_EQ(zoom.Read(out[0]), 3);
    const uint8_t want[3][3] = {{10, 20, 255}, {10, 30, 127}, {11, 40, 0}};
    EXPECT_EQ(std::memcmp(out, want, sizeof want), 0);
}

struct ExactCase {
    const char* what;
    int srcW, srcH, dstW, dstH;
    std::vector<int> src;
    std::vector<int> want;
    std::vector<int> readyAfterSend;
};

TEST(FGZoomExact, HandComputedCases) {
    const ExactCase cases[] = {
        {"3 to 2 across", 3, 1, 2, 1, {200, 100, 7}, {166, 38}, {1}},
        {"3 to 2 down", 1, 3, 1, 2, {200, 100, 7}, {166, 38}, {0, 1, 1}},
        // The 1-unit share of s1 reshapes to weight 0.
        {"4 to 3 across", 4, 1, 3, 1, {9, 200, 101, 50}, {9, 150, 62}, {1}},
        // Output lines end inside source lines 1 and 2, which then serve the
        // next output line too.
        {"4 to 3 down", 1, 4, 1, 3, {9, 200, 101, 50}, {9, 150, 62}, {0, 1, 1, 1}},
        {"2 to 3 down", 1, 2, 1, 3, {10, 21}, {10, 15, 21}, {0, 3}},
        {"2 to 3 across", 2, 1, 3, 1, {10, 21}, {10, 15, 21}, {1}},
        {"one line to four", 2, 1, 2, 4, {7, 250}, {7, 250, 7, 250, 7, 250, 7, 250}, {4}},
        {"one column to four", 1, 2, 4, 2, {7, 250}, {7, 7, 7, 7, 250, 250, 250, 250}, {1, 1}},
        {"one pixel to 2x3", 1, 1, 2, 3, {77}, {77, 77, 77, 77, 77, 77}, {3}},
        {"equal sizes copy", 3, 2, 3, 2, {1, 2, 3, 4, 5, 6}, {1, 2, 3, 4, 5, 6}, {1, 1}},
    };
    for (const ExactCase& c : cases) {
        const StreamRun run = Stream(Gray8(c.srcW, c.srcH, c.src), c.dstW, c.dstH, true);
        EXPECT_TRUE(SameImage(run.out, Gray8(c.dstW, c.dstH, c.want))) << c.what;
        EXPECT_EQ(run.readyAfterSend, c.readyAfterSend) << c.what;
    }
}

TEST(FGZoomExact, EqualSizesCopyEveryDepth) {
    std::mt19937 rng(7);
    for (int bpp : {1, 8, 16, 24, 32, 48, 64}) {
        const Image src = RandomImage(13, 5, bpp, rng);
        EXPECT_TRUE(SameImage(Stream(src, 13, 5).out, src)) << bpp << " bits";
    }
}

// 1-bit lines: padding bits of the source are ignored and those of the output
// are cleared; averaged values are thresholded at 128.
TEST(FGZoomExact, OneBitPaddingAndThreshold) {
    Image src(13, 2, 1);
    src.Line(0)[0] = 0xB5;
    src.Line(0)[1] = 0x57; // last 3 bits are padding
    src.Line(1)[0] = 0x0F;
    src.Line(1)[1] = 0xF7;
    Image want = src;
    want.Line(0)[1] = 0x50;
    want.Line(1)[1] = 0xF0;
    EXPECT_TRUE(SameImage(Stream(src, 13, 2).out, want));

    // 1 0 1 across to 2 pixels: (2 * 255 + 0) / 3 = 170 and (0 + 2 * 255) / 3 = 170,
    // both set; to 1 pixel: 510 / 3 = 170 is set, while 1 0 0 gives 85, clear.
    Image three(3, 1, 1);
    three.Line(0)[0] = 0xA0; // 1 0 1
    Image twoWant(2, 1, 1);
    twoWant.Line(0)[0] = 0xC0;
    EXPECT_TRUE(SameImage(Stream(three, 2, 1).out, twoWant));
    Image oneWant(1, 1, 1);
    oneWant.Line(0)[0] = 0x80;
    EXPECT_TRUE(SameImage(Stream(three, 1, 1).out, oneWant));
    three.Line(0)[0] = 0x80; // 1 0 0
    oneWant.Line(0)[0] = 0x00;
    EXPECT_TRUE(SameImage(Stream(three, 1, 1).out, oneWant));
}

// The streamed result equals the whole-image reference for random sizes, with
// one axis enlarged and the other reduced, at every depth.
TEST(FGZoomReference, RandomSizesEveryDepth) {
    std::mt19937 rng(20261210);
    std::uniform_int_distribution<int> small(1, 40);
    for (int bpp : {1, 8, 16, 24, 32, 48, 64}) {
        for (int trial = 0; trial < 24; ++trial) {
            int srcW = small(rng) + 1;
            int srcH = small(rng) + 1;
            int dstW = std::uniform_int_distribution<int>(srcW + 1, 3 * srcW + 2)(rng);
            int dstH = std::uniform_int_distribution<int>(1, srcH - 1)(rng);
            if (trial % 2 == 1) {
                std::swap(srcW, srcH);
                std::swap(dstW, dstH);
            }
            const Image src = RandomImage(srcW, srcH, bpp, rng);
            const StreamRun run = Stream(src, dstW, dstH, trial % 3 == 0);
            EXPECT_TRUE(SameImage(run.out, Reference(src, dstW, dstH)))
                << bpp << " bits, " << srcW << "x" << srcH << " -> " << dstW << "x" << dstH;
        }
    }
}

// Both axes the same way, including strong reductions where many source
// pixels fall into one output pixel, and single-pixel sides.
TEST(FGZoomReference, SameDirectionAndExtremeRatios) {
    std::mt19937 rng(4242);
    const int sizes[][4] = {
        // srcW, srcH, dstW, dstH
        {97, 83, 7, 5}, {97, 83, 1, 1},   {64, 64, 8, 8},     {31, 7, 30, 6},
        {6, 6, 41, 29}, {7, 9, 7, 40},    {40, 7, 40, 3},     {1, 9, 5, 3},
        {9, 1, 3, 5},   {200, 3, 3, 200}, {255, 17, 254, 16}, {17, 255, 16, 254},
    };
    for (int bpp : {1, 8, 16, 24, 32, 48, 64}) {
        for (const auto& s : sizes) {
            const Image src = RandomImage(s[0], s[1], bpp, rng);
            EXPECT_TRUE(SameImage(Stream(src, s[2], s[3]).out, Reference(src, s[2], s[3])))
                << bpp << " bits, " << s[0] << "x" << s[1] << " -> " << s[2] << "x" << s[3];
        }
    }
}

// Widths shrunk by exactly 2, 4 or 8 take a vector path for whole groups of
// 16 source pixels and the tables for the rest: both paths give the
// reference, from one output pixel to several groups and a tail.
TEST(FGZoomReference, ReductionsByTwoFourAndEightOnEveryPath) {
    std::mt19937 rng(808);
    for (bool portable : {false, true}) {
        IpForcePortablePaths(portable);
        for (int bpp : {1, 8, 24, 32}) {
            for (int k : {2, 4, 8}) {
                for (int dstW : {1, 2, 7, 8, 9, 17, 33}) {
                    const Image src = RandomImage(k * dstW, 5, bpp, rng);
                    for (int dstH : {3, 5, 9}) {
                        EXPECT_TRUE(
                            SameImage(Stream(src, dstW, dstH).out, Reference(src, dstW, dstH)))
                            << bpp << " bits, " << k * dstW << " -> " << dstW << " x " << dstH
                            << (portable ? " portable" : "");
                    }
                }
            }
        }
    }
    IpForcePortablePaths(false);
}

// Divisors above 0xFFFF: 32-bit sums of bright 16-bit samples would overflow,
// so the long axis must compute in double precision, on either axis.
TEST(FGZoomReference, SixteenBitSumsBeyond32Bits) {
    std::mt19937 rng(99);
    const Image wide = RandomImage(70000, 3, 16, rng, 60000);
    EXPECT_TRUE(SameImage(Stream(wide, 3, 2).out, Reference(wide, 3, 2)));
    const Image tall = RandomImage(2, 70000, 48, rng, 60000);
    EXPECT_TRUE(SameImage(Stream(tall, 3, 2).out, Reference(tall, 3, 2)));
}

} // namespace
