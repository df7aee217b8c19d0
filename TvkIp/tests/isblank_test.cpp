// Blank-page decision: fractions, the set-pixel and edge counters, the
// percent and fraction decisions and the record handling of the export.
#include "isblank.h"

#include "TestKit.h"
#include "TvkIpError.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>
#include <vector>

using kdtest::TestImage;

namespace {

tagISBLANKINFO Record(uint32_t size = kIsBlankInfoSize) {
    tagISBLANKINFO r{};
    r.ulSize = size;
    return r;
}

// A 100 x 100 1-bit page with the first n pixels (row by row) set.
TestImage PageWithSetPixels(int n) {
    TestImage img = TestImage::Binary(100, 100);
    for (int i = 0; i < n; ++i) img.set(i % 100, i / 100, 1);
    return img;
}

// Reference edge counter: the per-pixel, per-column state machine of the
// counting rules, written independently of the word-wise library code.
struct RefEdges {
    int64_t h = 0, v = 0, ignoredH = 0, ignoredV = 0;
};
RefEdges CountEdgesRef(const TestImage& img, int left, int top, int right, int bottom,
                       bool frameMode) {
    RefEdges e;
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, img.width());
    bottom = std::min(bottom, img.height());
    if (right <= left || bottom <= top) return e;
    struct Col {
        bool leading = true;
        int64_t lead = 0, cur = 0;
    };
    std::vector<Col> cols(right - left);
    for (int y = top; y < bottom; ++y) {
        bool rowLeading = true;
        int64_t lead = 0, cur = 0;
        for (int x = left; x < right; ++x) {
            Col& c = cols[x - left];
            const bool set = img.get(x, y) != 0;
            if (set) {
                (frameMode && rowLeading) ? ++lead : ++cur;
                (frameMode && c.leading) ? ++c.lead : ++c.cur;
            } else {
                if (cur > 0) ++e.h;
                cur = 0;
                rowLeading = false;
                if (frameMode && c.leading) {
                    c.leading = false;
                } else if (c.cur > 0) {
                    ++e.v;
                    c.cur = 0;
                }
            }
        }
        if (frameMode) e.ignoredH += lead + cur;
    }
    if (frameMode) {
        for (const Col& c : cols) e.ignoredV += c.lead + c.cur;
    }
    return e;
}

TestImage RandomBinary(int w, int h, uint32_t seed, int density) {
    TestImage img = TestImage::Binary(w, h);
    auto& rng = kdtest::Rng(seed);
    std::uniform_int_distribution<int> d(0, 99);
    // Runs rather than salt and pepper, so leading and trailing runs vary.
    for (int y = 0; y < h; ++y) {
        bool on = d(rng) < density;
        for (int x = 0; x < w; ++x) {
            if (d(rng) < 20) on = d(rng) < density;
            img.set(x, y, on ? 1 : 0);
        }
    }
    // Garbage in the line padding must never be counted.
    for (int y = 0; y < h; ++y) {
        for (int x = w; x < img.sync() * 8; ++x) {
            img.line(y)[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
        }
    }
    return img;
}

} // namespace

TEST(IsBlankFraction, ShortConversionHalvesUntilItFits) {
    const struct {
        int32_t num, den;
        int16_t wantNum, wantDen;
    } cases[] = {
        {70000, 140000, 8750, 17500}, // three halvings
        {100, 30000, 100, 30000},     // already fits
        {32768, 10, 16384, 5},
        {0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        const tagSHORTRAT r = ToSHORTRAT(c.num, c.den);
        EXPECT_EQ(r.num, c.wantNum) << c.num << "/" << c.den;
        EXPECT_EQ(r.den, c.wantDen) << c.num << "/" << c.den;
    }
    const tagLONGRAT l = ToLONGRAT(tagSHORTRAT{-3, 7});
    EXPECT_EQ(l.num, -3);
    EXPECT_EQ(l.den, 7);
    EXPECT_EQ(SHORTRATToWord(tagSHORTRAT{100, 30000}), (30000u << 16) | 100u);
}

TEST(IsBlankFraction, ComparesExactlyBeyond32Bits) {
    // 2000000000/2000000001 < 1999999999/2000000000 is false: the products
    // need 64 bits, and floating point cannot tell the two apart.
    const tagLONGRAT a{2000000000, 2000000001};
    const tagLONGRAT b{1999999999, 2000000000};
    EXPECT_TRUE(a > b);
    EXPECT_FALSE(a < b);
    EXPECT_TRUE(a != b);
    EXPECT_TRUE((tagLONGRAT{2, 4} == tagLONGRAT{1, 2}));
    EXPECT_TRUE((tagLONGRAT{2, 4} >= tagSHORTRAT{1, 2}));
    EXPECT_TRUE((tagSHORTRAT{1, 3} < tagLONGRAT{1000000, 2999999}));
    EXPECT_TRUE((tagSHORTRAT{1, 3} <= tagSHORTRAT{2, 6}));
    EXPECT_FALSE((tagSHORTRAT{150, 30000} > tagSHORTRAT{150, 30000}));
}

TEST(IsBlankDecision, PercentOfSetPixels) {
    const struct {
        int setPixels;
        uint32_t threshold;
        int32_t inverse;
        uint32_t wantRatio;
        int want;
    } cases[] = {
        {0, 0, 0, 0, 0},  {1, 0, 0, 0, 0},  // 0.01 % rounds to 0
        {50, 0, 0, 1, 1}, {49, 0, 0, 0, 0}, // 0.5 % rounds up
        {50, 1, 0, 1, 0}, {5000, 100, 0, 50, 0},
        {0, 99, 1, 0, 1}, {0, 100, 1, 0, 0}, // inverse compares 100 - ratio
    };
    for (const auto& c : cases) {
        TestImage img = PageWithSetPixels(c.setPixels);
        tagISBLANKINFO r = Record();
        r.lThreshold = c.threshold;
        r.bInverse = c.inverse;
        EXPECT_EQ(IsBlankPageEx2(img.info(), &r), c.want) << c.setPixels << " " << c.threshold;
        EXPECT_EQ(r.lRatio, c.wantRatio) << c.setPixels;
        EXPECT_EQ(r.lCount, c.setPixels);
        EXPECT_EQ(r.lArea, 10000);
    }
}

TEST(IsBlankDecision, FractionThresholdAndLongRecord) {
    // The pipeline's form: an 84-byte record and n / 30000.
    const struct {
        int setPixels;
        uint32_t num;
        int32_t inverse;
        int want;
    } cases[] = {
        {50, 149, 0, 1}, // 50/10000 = 150/30000
        {50, 150, 0, 0}, {50, 151, 1, 1}, {50, 150, 1, 0}, {0, 101, 0, 0},
    };
    for (const auto& c : cases) {
        TestImage img = PageWithSetPixels(c.setPixels);
        tagISBLANKINFO r = Record(kIsBlankInfoSizeLong);
        r.reserved[0] = 0x11111111;
        r.reserved[2] = 0x33333333;
        r.lThreshold = (30000u << 16) | c.num;
        r.bInverse = c.inverse;
        EXPECT_EQ(IsBlankPageEx2(img.info(), &r), c.want) << c.setPixels << " " << c.num;
        EXPECT_EQ(r.ulSize, kIsBlankInfoSize);
        EXPECT_EQ(r.reserved[0], 0x11111111u);
        EXPECT_EQ(r.reserved[2], 0x33333333u);
        EXPECT_EQ(r.lRatio, SHORTRATToWord(ToSHORTRAT(c.setPixels, 10000)));
    }
}

TEST(IsBlankDecision, SumsGrowAndEmptyAreaGivesZero) {
    TestImage img = PageWithSetPixels(50);
    tagISBLANKINFO r = Record();
    r.lCount = 10;
    r.lArea = 90000;
    IsBlankPageEx2(img.info(), &r);
    EXPECT_EQ(r.lCount, 60);
    EXPECT_EQ(r.lArea, 100000);

    tagISBLANKINFO z = Record();
    EXPECT_EQ(IsBlankResult(&z), 0);
    EXPECT_EQ(z.lRatio, 0u);
}

TEST(IsBlankCounters, FrameModeIgnoresBorderRuns) {
    // clear, clear, set, clear, set, clear
    TestImage img = TestImage::Binary(6, 1);
    img.set(2, 0, 1);
    img.set(4, 0, 1);
    const int32_t frame[4] = {0, 0, 6, 1};
    tagBITNUMRATIOINFO head{12, 0, 0};
    EXPECT_EQ(GetBitNum(img.info(), &head, frame, 0, true, 0), 2);
    EXPECT_EQ(head.lArea, 3); // two leading and one trailing clear pixel ignored

    // The same through the export: frame mode is the second byte of ulMode.
    tagISBLANKINFO r = Record();
    r.ulMode = kIsBlankModeFrame;
    IsBlankPageEx2(img.info(), &r);
    EXPECT_EQ(r.lCount, 2);
    EXPECT_EQ(r.lArea, 3);
    // A second byte other than 1 is not frame mode.
    tagISBLANKINFO notFrame = Record();
    notFrame.ulMode = 2 * kIsBlankModeFrame;
    IsBlankPageEx2(img.info(), &notFrame);
    EXPECT_EQ(notFrame.lArea, 6);

    // Inverse: set border runs. set, set, clear, set, clear, set, set
    TestImage inv = TestImage::Binary(7, 1);
    for (int x : {0, 1, 3, 5, 6}) inv.set(x, 0, 1);
    const int32_t f7[4] = {0, 0, 7, 1};
    tagBITNUMRATIOINFO h2{12, 0, 0};
    EXPECT_EQ(GetBitNum(inv.info(), &h2, f7, 1, true, 0), 1);
    EXPECT_EQ(h2.lArea, 3);
}

TEST(IsBlankCounters, OpenRunAtTheRowEndIsNotAnEdge) {
    TestImage img = TestImage::Binary(4, 1);
    for (int x : {0, 1, 3}) img.set(x, 0, 1);
    const int32_t frame[4] = {0, 0, 4, 1};
    tagBITNUMRATIOINFO head{12, 0, 0};
    int32_t h = -1, v = -1;
    EXPECT_EQ(GetEdgeNum(img.info(), &head, frame, 0, false, 0, &h, &v), 1);
    EXPECT_EQ(h, 1);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(head.lArea, 8);
}

TEST(IsBlankCounters, EdgesMatchReferenceOnRandomPagesAndFrames) {
    auto& rng = kdtest::Rng(77);
    for (int trial = 0; trial < 60; ++trial) {
        const int w = 1 + static_cast<int>(rng() % 200);
        const int h = 1 + static_cast<int>(rng() % 40);
        TestImage img = RandomBinary(w, h, 1000 + trial, 10 + trial);
        // Frames inside, across and outside the image.
        const int left = static_cast<int>(rng() % (w + 20)) - 10;
        const int top = static_cast<int>(rng() % (h + 10)) - 5;
        const int right = left + static_cast<int>(rng() % (w + 30));
        const int bottom = top + static_cast<int>(rng() % (h + 20));
        for (bool frameMode : {false, true}) {
            const RefEdges ref = CountEdgesRef(img, left, top, right, bottom, frameMode);
            const int32_t frame[4] = {left, top, right, bottom};
            tagBITNUMRATIOINFO head{12, 0, 0};
            int32_t eh = 0, ev = 0;
            GetEdgeNum(img.info(), &head, frame, 0, frameMode, 0, &eh, &ev);
            const int64_t cols = std::max(0, std::min(right, w) - std::max(left, 0));
            const int64_t rows = std::max(0, std::min(bottom, h) - std::max(top, 0));
            ASSERT_EQ(eh, ref.h) << trial << " frame " << frameMode;
            ASSERT_EQ(ev, ref.v) << trial << " frame " << frameMode;
            ASSERT_EQ(head.lArea, 2 * cols * rows - ref.ignoredH - ref.ignoredV) << trial;
            ASSERT_EQ(head.lCount, ref.h + ref.v);
        }
    }
}

TEST(IsBlankCounters, BitCountStaysInsideTheImage) {
    // Frames that reach outside the page count only what lies inside it;
    // under the sanitizers a read past the buffer would fail the test.
    auto& rng = kdtest::Rng(78);
    for (int trial = 0; trial < 60; ++trial) {
        const int w = 1 + static_cast<int>(rng() % 150);
        const int h = 1 + static_cast<int>(rng() % 30);
        TestImage img = RandomBinary(w, h, 2000 + trial, 50);
        img.info()->lXpos = 0;
        const int x = static_cast<int>(rng() % (w + 20)) - 10;
        const int y = static_cast<int>(rng() % (h + 10)) - 5;
        const int fw = static_cast<int>(rng() % (2 * w + 10));
        const int fh = static_cast<int>(rng() % (2 * h + 10));
        int64_t want = 0, area = 0;
        for (int yy = std::max(y, 0); yy < std::min(y + fh, h); ++yy) {
            for (int xx = std::max(x, 0); xx < std::min(x + fw, w); ++xx) {
                want += img.get(xx, yy) != 0;
                ++area;
            }
        }
        const int32_t frame[4] = {x, y, fw, fh};
        tagBITNUMRATIOINFO head{12, 0, 0};
        ASSERT_EQ(GetBitNum(img.info(), &head, frame, 0, false, 0), want) << trial;
        ASSERT_EQ(head.lArea, area) << trial;
    }
}

TEST(IsBlankExport, FrameHandling) {
    TestImage img = PageWithSetPixels(0);
    for (int i = 0; i < 10; ++i) img.set(50 + i, 50, 1); // all inside 40..60

    // F2 - F0 = 0: the whole page.
    tagISBLANKINFO r = Record();
    r.lFrame[0] = 30;
    r.lFrame[2] = 30;
    r.lFrame[3] = 100;
    IsBlankPageEx2(img.info(), &r);
    EXPECT_EQ(r.lArea, 10000);
    EXPECT_EQ(r.lCount, 10);

    // A frame far outside the page: only what lies inside is read.
    tagISBLANKINFO big = Record();
    big.lFrame[0] = 40;
    big.lFrame[1] = 40;
    big.lFrame[2] = 1 << 30;
    big.lFrame[3] = 1 << 30;
    IsBlankPageEx2(img.info(), &big);
    EXPECT_EQ(big.lArea, 60 * 60);
    EXPECT_EQ(big.lCount, 10);
    EXPECT_EQ(big.lFrame[2], 1 << 30); // the caller's frame words are kept

    // A record too short for the frame measures the whole page.
    tagISBLANKINFO small = Record(kIsBlankInfoSizeFrame - 4);
    small.lFrame[0] = 40;
    small.lFrame[2] = 60;
    IsBlankPageEx2(img.info(), &small);
    EXPECT_EQ(small.lArea, 10000);
}

TEST(IsBlankExport, ExtremeFrameWordsInEdgeMode) {
    // Right and bottom at the bottom of the integer range: the inset must not
    // wrap, and nothing outside the page is read.
    TestImage img = TestImage::Binary(300, 300);
    img.set(150, 150, 1);
    tagISBLANKINFO r = Record();
    r.ulMode = kIsBlankModeEdge;
    r.lFrame[0] = INT32_MIN;
    r.lFrame[1] = INT32_MIN;
    r.lFrame[2] = INT32_MIN + 1;
    r.lFrame[3] = INT32_MAX;
    IsBlankPageEx2(img.info(), &r);
    EXPECT_EQ(r.lCount, 0);
    EXPECT_EQ(r.lArea, 0);
}

TEST(IsBlankExport, EdgeModeInsetsFiveMillimetres) {
    // 300 dpi: 59 pixels a side. A mark inside the inset counts, one in the
    // margin does not.
    TestImage img = TestImage::Binary(300, 300);
    img.set(150, 150, 1);
    img.set(10, 10, 1);
    tagISBLANKINFO r = Record();
    r.ulMode = kIsBlankModeEdge;
    IsBlankPageEx2(img.info(), &r);
    EXPECT_EQ(r.lEdgeH, 1);
    EXPECT_EQ(r.lEdgeV, 1);
    EXPECT_EQ(r.lArea, 2 * (300 - 118) * (300 - 118));
}

TEST(IsBlankExport, GrayPaths) {
    TestImage gray = TestImage::Gray(100, 100, 230);
    for (int i = 0; i < 50; ++i) gray.set(i, 7, 10);
    // Histogram: the darkest lSlice levels are content.
    tagISBLANKINFO r = Record();
    r.lSlice = 128;
    EXPECT_EQ(IsBlankPageEx2(gray.info(), &r), 1);
    EXPECT_EQ(r.lCount, 50);
    EXPECT_EQ(r.lArea, 10000);
    // An out-of-range bin count reads no further than the histogram.
    tagISBLANKINFO wide = Record();
    wide.lSlice = 100000;
    IsBlankPageEx2(gray.info(), &wide);
    EXPECT_EQ(wide.lCount, 10000);

    // Edge mode binarises first: one 50-pixel dash has one edge a row... here
    // a single row, so one horizontal edge and 50 vertical ones.
    tagISBLANKINFO e = Record();
    e.ulMode = kIsBlankModeEdge;
    e.lSlice = 128;
    gray.info()->lXResolution = gray.info()->lYResolution = 0; // no inset
    IsBlankPageEx2(gray.info(), &e);
    EXPECT_EQ(e.lEdgeH, 1);
    EXPECT_EQ(e.lEdgeV, 50);

    TestImage colour = TestImage::Color(100, 100, 0, 230);
    for (int i = 0; i < 20; ++i) colour.set(i, 3, 0x0A0A0A);
    tagISBLANKINFO c = Record();
    c.ulMode = kIsBlankModeFrame; // frame mode also binarises
    c.lSlice = 128;
    IsBlankPageEx2(colour.info(), &c);
    EXPECT_EQ(c.lCount, 20);
}

TEST(IsBlankExport, FailuresAndUnsupportedDepths) {
    TestImage img = PageWithSetPixels(50);
    img.info()->lpImage = nullptr;
    tagISBLANKINFO r = Record(kIsBlankInfoSizeLong);
    r.lCount = 7;
    EXPECT_EQ(IsBlankPageEx2(img.info(), &r), 0);
    EXPECT_EQ(IpGetLastError(), kIpErrNoMemory);
    EXPECT_EQ(r.ulSize, kIsBlankInfoSize);
    EXPECT_EQ(r.lCount, 7);

    // Nothing is written past the size the caller gave.
    TestImage ok = PageWithSetPixels(50);
    tagISBLANKINFO shortRec = Record(offsetof(tagISBLANKINFO, lRatio));
    shortRec.lRatio = 77;
    IsBlankPageEx2(ok.info(), &shortRec);
    EXPECT_EQ(shortRec.lCount, 50);
    EXPECT_EQ(shortRec.lRatio, 77u);

    TestImage deep(10, 10, 16, 1);
    tagISBLANKINFO d = Record();
    d.lCount = 3;
    EXPECT_EQ(IsBlankPageEx2(deep.info(), &d), 0);
    EXPECT_EQ(IpGetLastError(), 0u);
    EXPECT_EQ(d.lCount, 3);
}

TEST(IsBlankExport, DetectedBoxIsInsetAndWrittenBack) {
    // Light paper 100..299 x 50..249 on a dark backing, 1 bit: the backing is set.
    TestImage img = TestImage::Binary(400, 300);
    kdtest::FillRect(img, 0, 0, 400, 300, 1);
    kdtest::FillRect(img, 100, 50, 300, 250, 0);
    img.set(200, 150, 1); // one mark on the paper
    tagISBLANKINFO r = Record();
    r.bDetectWidth = 1;
    IsBlankPageEx2(img.info(), &r);
    EXPECT_EQ(r.lFrame[0], 120);
    EXPECT_EQ(r.lFrame[1], 70);
    EXPECT_EQ(r.lFrame[2], 160);
    EXPECT_EQ(r.lFrame[3], 160);
    EXPECT_EQ(r.lCount, 1);
    EXPECT_EQ(r.lArea, 160 * 160);
}
