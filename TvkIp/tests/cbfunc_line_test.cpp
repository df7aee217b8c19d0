// Line kinds of the binarisation family (error diffusion, colour to 1 bit,
// median threshold) and the double-density kinds, through the handle
// interface. Expected bytes come from direct models of the formulas.
#include "BandTestHelpers.h"
#include "CBFunc.h"
#include "CBFuncKinds.h"
#include "TestKit.h"
#include "TvkIpError.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <vector>

using bandtest::g_lastError;
using bandtest::LongRecord;
using bandtest::RunKind;
using kdtest::TestImage;

namespace {

struct HandleGuard {
    tagBINFUNCINFO* r;
    ~HandleGuard() { ReleaseBinalizeHandle(r); }
};

// Gray image of random values with an explicit line size (padding filled too).
TestImage RandomGray(int32_t w, int32_t h, uint32_t seed, int32_t lo = 0, int32_t hi = 255) {
    TestImage img(w, h, 8, 1, 1);
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> d(lo, hi);
    for (auto& b : img.bytes()) b = static_cast<uint8_t>(d(rng));
    return img;
}

// Error diffusion written straight from its description.
std::vector<std::vector<int>> ModelED(const TestImage& src, int slice) {
    const int w = src.width();
    std::map<int, int> err, sum;
    std::vector<std::vector<int>> out;
    for (int y = 0; y < src.height(); ++y) {
        sum.clear();
        for (int x = 0; x < w; ++x) sum[x] = static_cast<int>(src.get(x, y)) + err[x];
        std::vector<int> bits(w, 0);
        for (int x = 0; x < w; ++x) {
            const int v = sum[x];
            int res = v - 255;
            if (slice >= v) {
                bits[x] = 1;
                res = v;
            }
            const int e = res / 4;
            if (e == 0) continue;
            sum[x + 1] += e;
            err[x] = e;
            const int h = e / 2;
            if (h != 0) {
                sum[x + 2] += h;
                err[x - 2] += h;
                err[x - 1] += h;
                err[x + 1] += h;
            }
        }
        out.push_back(bits);
    }
    return out;
}

void ExpectBits(const TestImage& dst, int row, const std::vector<int>& bits, const char* what) {
    for (size_t x = 0; x < bits.size(); ++x)
        ASSERT_EQ(dst.get(static_cast<int>(x), row), static_cast<uint32_t>(bits[x]))
            << what << " row " << row << " x " << x;
}

// Feeds the image in bands of the given heights through one record; the
// destination band starts where the previous call's output ended.
void RunInBands(uint32_t kind, TestImage& dst, TestImage& src, const std::vector<int>& heights,
                uint32_t slice = 128) {
    tagBINFUNCINFO r = LongRecord(kind, slice);
    HandleGuard g{&r};
    int y = 0, out = 0;
    for (int h : heights) {
        tagTVKIMAGEINFO s = src.band(y, h);
        tagTVKIMAGEINFO d = dst.band(out, dst.height() - out);
        const uint32_t before = r.lineCount;
        ASSERT_EQ(BinalizeRectEx(&d, &s, &r), 0);
        // Kind 5 yields no line for source line 7; kind 11 two for each.
        out += kind == kBinDouble
                   ? 2 * h
                   : h - ((kind == kBinMedian && before <= 7 && before + h > 7) ? 1 : 0);
        y += h;
    }
}

} // namespace

TEST(ErrorDiffusion, UniformMidGrayFirstPixels) {
    TestImage src = TestImage::Gray(16, 1, 128);
    TestImage dst = TestImage::Binary(16, 1);
    ASSERT_EQ(RunKind(kBinErrorDiffusion, dst, src), 0);
    EXPECT_EQ(dst.get(0, 0), 1u); // 128 >= 128: black, residue 128, 32 pushed on
    EXPECT_EQ(dst.get(1, 0), 0u); // 128 + 32 > 128: white
}

TEST(ErrorDiffusion, MatchesModelAndCarriesErrorAcrossLinesAndBands) {
    for (int w : {1, 2, 5, 13, 211}) { // 211 grows the arrays beyond their first size
        TestImage src = RandomGray(w, 9, 100 + w);
        const auto expect = ModelED(src, 128);
        TestImage whole = TestImage::Binary(w, 9);
        ASSERT_EQ(RunKind(kBinErrorDiffusion, whole, src), 0);
        for (int y = 0; y < 9; ++y) ExpectBits(whole, y, expect[y], "ED");

        std::mt19937 rng(w);
        TestImage banded = TestImage::Binary(w, 9);
        RunInBands(kBinErrorDiffusion, banded, src, bandtest::RandomBands(9, 9, rng));
        EXPECT_TRUE(banded.samePixels(whole)) << w;
    }
}

TEST(ErrorDiffusion, LineCallWiderThanArraysIsSafe) {
    // The line call reaches the shared object without a start; a wide line
    // must not run past its arrays.
    TestImage src = RandomGray(1000, 1, 7);
    TestImage dst = TestImage::Binary(1000, 1);
    tagBINFUNCINFO r = LongRecord(kBinErrorDiffusion);
    EXPECT_EQ(BinalizeLineEx(dst.info(), src.info(), &r), 0);
}

TEST(ColourKinds, WeightedGrayAndAllSamples) {
    const struct {
        uint32_t kind;
        uint8_t r, g, b;
        uint32_t black;
    } cases[] = {
        {kBinToMonoChrome, 255, 255, 255, 0}, // 74 + 150 + 29 = 253
        {kBinToMonoChrome, 100, 100, 100, 1}, // 29 + 59 + 11 = 99
        {kBinToMonoChrome, 50, 200, 50, 0},   // 14 + 117 + 6 = 137
        {kBinMebrin, 100, 200, 100, 0},       {kBinMebrin, 100, 100, 100, 1},
        {kBinMebrin, 127, 127, 127, 1},       {kBinMebrin, 128, 0, 0, 0},
    };
    for (uint32_t order : {0u, 1u}) {
        for (const auto& c : cases) {
            TestImage src = TestImage::Color(11, 3, order);
            for (int y = 0; y < 3; ++y)
                for (int x = 0; x < 11; ++x)
                    src.set(x, y, c.r | (uint32_t{c.g} << 8) | (uint32_t{c.b} << 16));
            TestImage dst = TestImage::Binary(11, 3);
            ASSERT_EQ(RunKind(c.kind, dst, src), 0);
            for (int y = 0; y < 3; ++y)
                for (int x = 0; x < 11; ++x)
                    ASSERT_EQ(dst.get(x, y), c.black)
                        << "kind " << c.kind << " order " << order << " (" << int(c.r) << ","
                        << int(c.g) << "," << int(c.b) << ")";
        }
    }
}

TEST(StreamingKinds, BandsGiveTheWholePageResult) {
    for (uint32_t kind : {kBinToMonoChrome, kBinMebrin, kBinDouble}) {
        for (uint32_t order : {0u, 1u}) {
            const bool colour = kind != kBinDouble;
            TestImage src = colour ? kdtest::NoisePage(19, 23, 8, 3, order, kind + order)
                                   : RandomGray(19, 23, kind + order);
            const int32_t scale = colour ? 1 : 2;
            TestImage whole = TestImage::Binary(19 * scale, 23 * scale);
            ASSERT_EQ(RunKind(kind, whole, src), 0);
            std::mt19937 rng(kind * 10 + order);
            TestImage banded = TestImage::Binary(19 * scale, 23 * scale);
            RunInBands(kind, banded, src, bandtest::RandomBands(23, 9, rng));
            EXPECT_TRUE(banded.samePixels(whole)) << kind << " " << order;
        }
    }
}

TEST(ColourKinds, GraySourceIsRefusedAndDestinationKept) {
    for (uint32_t kind : {kBinToMonoChrome, kBinMebrin}) {
        TestImage src = TestImage::Gray(10, 4, 0);
        TestImage dst = TestImage::Binary(10, 4);
        std::fill(dst.bytes().begin(), dst.bytes().end(), 0x5A);
        const auto before = dst.bytes();
        EXPECT_EQ(RunKind(kind, dst, src), 0);
        EXPECT_EQ(dst.bytes(), before) << kind;
    }
}

namespace {

// Median threshold written from its description: lines 0..6 plain
// threshold, line 7 no output, then median of the 9 x 9 window (centre kept
// 4 columns inside the line) against the pixel.
std::vector<std::vector<int>> ModelMedian(const TestImage& src, int slice) {
    const int w = src.width();
    std::vector<std::vector<int>> out;
    for (int n = 0; n < src.height(); ++n) {
        if (n == 7) continue;
        std::vector<int> bits(w, 0);
        for (int x = 0; x < w; ++x) {
            const int p = static_cast<int>(src.get(x, n));
            if (n < 7) {
                bits[x] = slice > p;
                continue;
            }
            const int c = std::clamp(x, 4, w - 5);
            std::vector<int> v;
            for (int y = n - 8; y <= n; ++y)
                for (int cx = c - 4; cx <= c + 4; ++cx)
                    v.push_back(static_cast<int>(src.get(cx, y)));
            std::sort(v.begin(), v.end());
            bits[x] = v[40] > p;
        }
        out.push_back(bits);
    }
    return out;
}

} // namespace

TEST(Median, LineCountsMatchModelAndBands) {
    for (int h : {8, 20}) {
        TestImage src = RandomGray(23, h, 300 + h, 60, 200);
        TestImage dst = TestImage::Binary(23, h);
        std::fill(dst.bytes().begin(), dst.bytes().end(), 0xA5);
        ASSERT_EQ(RunKind(kBinMedian, dst, src), 0);
        const auto expect = ModelMedian(src, 128);
        ASSERT_EQ(static_cast<int>(expect.size()), h - 1);
        for (int y = 0; y < h - 1; ++y) ExpectBits(dst, y, expect[y], "median");
        // One destination line fewer than source lines: the last stays as it was.
        EXPECT_EQ(dst.line(h - 1)[0], 0xA5);

        std::mt19937 rng(h);
        TestImage banded = TestImage::Binary(23, h);
        std::fill(banded.bytes().begin(), banded.bytes().end(), 0xA5);
        RunInBands(kBinMedian, banded, src, bandtest::RandomBands(h, 9, rng));
        EXPECT_TRUE(banded.samePixels(dst)) << h;
    }
}

TEST(Median, WindowStaysInsideTheLine) {
    // Padding bytes hold no pixels: values there must not change the result.
    TestImage a = RandomGray(13, 12, 9);
    TestImage b = a;
    for (int y = 0; y < 12; ++y)
        for (int x = 13; x < a.sync(); ++x) {
            a.line(y)[x] = 0;
            b.line(y)[x] = 255;
        }
    TestImage da = TestImage::Binary(13, 12), db = TestImage::Binary(13, 12);
    ASSERT_EQ(RunKind(kBinMedian, da, a), 0);
    ASSERT_EQ(RunKind(kBinMedian, db, b), 0);
    EXPECT_TRUE(da.samePixels(db));
}

TEST(Median, TooNarrowImageIsRefused) {
    TestImage src = TestImage::Gray(8, 12, 0);
    TestImage dst = TestImage::Binary(8, 12);
    const auto before = dst.bytes();
    EXPECT_EQ(RunKind(kBinMedian, dst, src), -1);
    EXPECT_EQ(g_lastError, kIpErrCannotRun);
    EXPECT_EQ(dst.bytes(), before);
}

// ---------------------------------------------------------------------------
// Double density

namespace {

int Clamp255(int v) {
    return std::clamp(v, 0, 255);
}

// In-between samples of a line by kind (12 linear, 13 cubic).
std::vector<int> Mid(const std::vector<int>& s, uint32_t kind) {
    const int w = static_cast<int>(s.size());
    std::vector<int> m(w);
    for (int x = 0; x + 1 < w; ++x) m[x] = (s[x] + s[x + 1]) >> 1;
    if (kind == kBinDoubleCubic)
        for (int x = 1; x <= w - 3; ++x)
            m[x] = Clamp255(((s[x - 1] + s[x + 2]) * -8 + (s[x] + s[x + 1]) * 40) >> 6);
    m[w - 1] = Clamp255((3 * s[w - 1] - s[w - 2]) >> 1);
    return m;
}

std::vector<std::vector<int>> ModelDouble(const TestImage& src, uint32_t kind, int t) {
    const int w = src.width(), h = src.height();
    std::vector<std::vector<int>> s(h, std::vector<int>(w)), m;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) s[y][x] = static_cast<int>(src.get(x, y));
    for (int y = 0; y < h; ++y) m.push_back(Mid(s[y], kind));
    std::vector<std::vector<int>> out(2 * h, std::vector<int>(2 * w));
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            out[2 * y][2 * x] = t > s[y][x];
            out[2 * y][2 * x + 1] = t > m[y][x];
            int e, o;
            if (y == h - 1) {
                e = 3 * s[y][x] - s[y - 1][x] < 2 * t;
                o = 3 * m[y][x] - m[y - 1][x] < 2 * t;
            } else if (kind == kBinDoubleCubic && y >= 1 && y <= h - 3) {
                e = (s[y - 1][x] + s[y + 2][x]) * -8 + (s[y][x] + s[y + 1][x]) * 40 < 64 * t;
                o = (m[y - 1][x] + m[y + 2][x]) * -8 + (m[y][x] + m[y + 1][x]) * 40 < 64 * t;
            } else {
                e = s[y][x] + s[y + 1][x] < 2 * t;
                o = m[y][x] + m[y + 1][x] < 2 * t;
            }
            out[2 * y + 1][2 * x] = e;
            out[2 * y + 1][2 * x + 1] = o;
        }
    }
    return out;
}

} // namespace

TEST(DoubleDensity, ReplicationGolden) {
    TestImage src = TestImage::Gray(3, 1, 0);
    src.set(1, 0, 200);
    TestImage dst = TestImage::Binary(6, 2);
    ASSERT_EQ(RunKind(kBinDouble, dst, src), 0);
    for (int y = 0; y < 2; ++y) EXPECT_EQ(dst.line(y)[0] & 0xFC, 0xCC) << y; // 11 00 11
}

class DoubleDensityPaths : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { IpForcePortablePaths(GetParam()); }
    void TearDown() override { IpForcePortablePaths(false); }
};

// Both the portable and the vector row writers against the model.
TEST_P(DoubleDensityPaths, InterpolatedKindsMatchModel) {
    for (uint32_t kind : {kBinDouble, kBinDoubleLinear, kBinDoubleCubic}) {
        for (int w : {4, 5, 7, 8, 9, 17, 33, 300, 517}) {
            for (int h : {4, 5, 11}) {
                TestImage src = RandomGray(w, h, w * 31 + h, 40, 220);
                TestImage dst = TestImage::Binary(2 * w, 2 * h);
                std::fill(dst.bytes().begin(), dst.bytes().end(), 0x5A);
                ASSERT_EQ(RunKind(kind, dst, src, 100 + w % 60), 0);
                ASSERT_EQ(g_lastError, 0u);
                if (kind == kBinDouble) {
                    for (int y = 0; y < 2 * h; ++y)
                        for (int x = 0; x < 2 * w; ++x)
                            ASSERT_EQ(dst.get(x, y),
                                      src.get(x / 2, y / 2) < 100u + w % 60 ? 1u : 0u);
                    continue;
                }
                const auto expect = ModelDouble(src, kind, 100 + w % 60);
                for (int y = 0; y < 2 * h; ++y) ExpectBits(dst, y, expect[y], "double");
                // Bits beyond twice the width keep their value.
                if ((2 * w) % 8 != 0) {
                    const uint8_t mask = static_cast<uint8_t>(0xFF >> ((2 * w) % 8));
                    EXPECT_EQ(dst.line(0)[(2 * w) / 8] & mask, 0x5A & mask);
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(PortableAndVector, DoubleDensityPaths, ::testing::Values(true, false));

TEST(DoubleDensity, TooSmallAndTooNarrowDestination) {
    {
        TestImage src = TestImage::Gray(3, 6, 0);
        TestImage dst = TestImage::Binary(6, 12);
        const auto before = dst.bytes();
        ASSERT_EQ(RunKind(kBinDoubleCubic, dst, src), 0);
        EXPECT_EQ(g_lastError, kIpErrBadArgument);
        EXPECT_EQ(dst.bytes(), before);
    }
    {
        TestImage src = TestImage::Gray(1, 6, 0);
        TestImage dst = TestImage::Binary(2, 12);
        ASSERT_EQ(RunKind(kBinDoubleLinear, dst, src), 0);
        EXPECT_EQ(g_lastError, kIpErrBadArgument);
    }
    for (uint32_t kind : {kBinDouble, kBinDoubleLinear, kBinDoubleCubic}) {
        TestImage src = TestImage::Gray(8, 8, 0);
        TestImage dst = TestImage::Binary(8, 16); // only as wide as the source
        const auto before = dst.bytes();
        ASSERT_EQ(RunKind(kind, dst, src), 0);
        EXPECT_EQ(dst.bytes(), before) << kind;
    }
}

TEST(DoubleDensity, ExtremeSliceLevels) {
    // Every sample is below a huge level and none below a negative one.
    for (uint32_t kind : {kBinDouble, kBinDoubleLinear, kBinDoubleCubic}) {
        for (uint32_t slice : {0x7FFFFFFFu, 0x80000000u}) {
            TestImage src = RandomGray(9, 6, kind);
            TestImage dst = TestImage::Binary(18, 12);
            ASSERT_EQ(RunKind(kind, dst, src, slice), 0);
            for (int y = 0; y < 12; ++y)
                for (int x = 0; x < 18; ++x)
                    ASSERT_EQ(dst.get(x, y), slice == 0x7FFFFFFFu ? 1u : 0u)
                        << kind << " " << x << "," << y;
        }
    }
}

TEST(ErrorDiffusion, OneDimensionalFormRestartsEachLine) {
    TestImage src = RandomGray(21, 3, 77);
    TestImage dst = TestImage::Binary(21, 3);
    tagBINFUNCINFO r = LongRecord(kBinFixed, 128);
    CBFuncEDOld ed;
    ASSERT_EQ(ed.Rect(dst.info(), src.info(), &r), 3);
    for (int y = 0; y < 3; ++y) {
        int error = 0;
        for (int x = 0; x < 21; ++x) {
            const int s = static_cast<int>(src.get(x, y)) + error;
            const bool black = 128 >= s;
            error = black ? s : s - 255;
            ASSERT_EQ(dst.get(x, y), black ? 1u : 0u) << x << "," << y;
        }
    }
}

TEST(Median, VectorAndPortableLinesAgree) {
    // Odd line sizes put the source lines at every alignment.
    for (int w : {9, 10, 16, 24, 25, 39, 40, 41, 100, 257}) {
        for (int pad : {0, 1, 3}) {
            TestImage src(w, 13, 8, 1, 1, w + pad);
            std::mt19937 rng(w * 7 + pad);
            for (auto& b : src.bytes()) b = static_cast<uint8_t>(rng() % 64 + (rng() % 2) * 150);
            TestImage a = TestImage::Binary(w, 13), b = TestImage::Binary(w, 13);
            IpForcePortablePaths(true);
            ASSERT_EQ(RunKind(kBinMedian, a, src), 0);
            IpForcePortablePaths(false);
            ASSERT_EQ(RunKind(kBinMedian, b, src), 0);
            EXPECT_EQ(a.bytes(), b.bytes()) << w << " " << pad;
        }
    }
}
