// Colour-gap correction: class map, band delays, destination room, and a
// misregistered text page whose fringes turn gray.
#include "BandTestHelpers.h"
#include "TestKit.h"
#include "TvkIpError.h"
#include "colorgaptable.h"
#include "tvkcolorgap.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

using kdtest::TestImage;

namespace {

COLORGAPINFO Request(bool last = false) {
    COLORGAPINFO info{};
    info.ulSize = sizeof(COLORGAPINFO);
    info.bLastBand = last ? 1 : 0;
    return info;
}

// Dark text blocks on white paper, scanned with the red sample of every line
// taken one line late, as a sheet-fed sensor does: red fringes above each
// block's top edge line, cyan ones below its bottom edge.
TestImage MisregisteredPage(int32_t w, int32_t h, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> ink(static_cast<size_t>(w) * h, 255);
    for (int32_t top = 4; top + 8 < h; top += 12) {
        const int32_t height = 5 + static_cast<int32_t>(rng() % 4);
        // Words at least 3 pixels wide: a lone flagged column is taken for
        // noise and left alone.
        for (int32_t x = 3; x + 3 <= w - 3;) {
            const int32_t len = 3 + static_cast<int32_t>(rng() % 9);
            for (int32_t y = top; y < top + height; ++y)
                for (int32_t i = x; i < std::min(x + len, w - 3); ++i)
                    ink[static_cast<size_t>(y) * w + i] = 20;
            x += len + 2 + static_cast<int32_t>(rng() % 3);
        }
    }
    TestImage img = TestImage::Color(w, h, 0, 255);
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            const uint32_t v = ink[static_cast<size_t>(y) * w + x];
            const uint32_t r = ink[static_cast<size_t>(y > 0 ? y - 1 : 0) * w + x];
            img.set(x, y, r | v << 8 | v << 16);
        }
    }
    return img;
}

bool IsNeutral(uint32_t rgb) {
    return (rgb & 0xFF) == ((rgb >> 8) & 0xFF) && (rgb & 0xFF) == ((rgb >> 16) & 0xFF);
}

int32_t CountColoured(const TestImage& img) {
    int32_t n = 0;
    for (int32_t y = 0; y < img.height(); ++y)
        for (int32_t x = 0; x < img.width(); ++x) n += IsNeutral(img.get(x, y)) ? 0 : 1;
    return n;
}

TestImage WholePage(const TestImage& src) {
    TestImage in = src, dst = TestImage::Color(src.width(), src.height(), 0, 0);
    COLORGAPINFO info = Request(true);
    EXPECT_EQ(ColorGapCorrect(dst.info(), in.info(), &info), 0u);
    EXPECT_EQ(dst.height(), src.height());
    EXPECT_EQ(info.pColorGap, nullptr);
    return dst;
}

// The page in bands; returns the destination and the total lines written.
TestImage InBands(const TestImage& src, const std::vector<int32_t>& heights, int32_t* total,
                  std::vector<int32_t>* perCall = nullptr) {
    TestImage dst = TestImage::Color(src.width(), src.height(), 0, 0);
    COLORGAPINFO info = Request();
    int32_t y = 0, out = 0;
    for (size_t i = 0; i < heights.size(); ++i) {
        info.bLastBand = i + 1 == heights.size() ? 1 : 0;
        tagTVKIMAGEINFO s = src.band(y, heights[i]);
        tagTVKIMAGEINFO d = dst.band(out, src.height() - out);
        EXPECT_EQ(ColorGapCorrect(&d, &s, &info), 0u) << "band " << i;
        if (i == 0) {
            EXPECT_EQ(info.lDelayLines, kColorGapDelay);
        }
        out += d.lHeight;
        if (perCall != nullptr) perCall->push_back(d.lHeight);
        y += heights[i];
    }
    EXPECT_EQ(info.pColorGap, nullptr);
    *total = out;
    return dst;
}

} // namespace

TEST(ColorGap, MisregisteredTextTurnsGray) {
    const TestImage src = MisregisteredPage(96, 64, 1);
    const int32_t before = CountColoured(src);
    ASSERT_GT(before, 100);
    const TestImage out = WholePage(src);
    // The fringes are gone...
    EXPECT_EQ(CountColoured(out), 0) << "of " << before;
    // ...and every neutral pixel of the scan is unchanged.
    for (int32_t y = 0; y < src.height(); ++y)
        for (int32_t x = 0; x < src.width(); ++x)
            if (IsNeutral(src.get(x, y))) {
                ASSERT_EQ(out.get(x, y), src.get(x, y)) << x << "," << y;
            }
    // The same in place.
    TestImage inPlace = src;
    COLORGAPINFO info = Request(true);
    ASSERT_EQ(ColorGapCorrect(inPlace.info(), inPlace.info(), &info), 0u);
    EXPECT_TRUE(inPlace.samePixels(out));
    // A fringe pixel (255, 20, 20) becomes (255 + 40 + 20) / 4 in every channel.
    for (int32_t y = 0; y < src.height(); ++y)
        for (int32_t x = 0; x < src.width(); ++x)
            if (src.get(x, y) == 0x1414FFu) {
                ASSERT_EQ(out.get(x, y), 0x4E4E4Eu);
            }
}

namespace {
// Slightly tinted paper and ink (both near-neutral, so their gray value
// differs from them), words in columns 2-3 and 5-6 and a lone column 9,
// rows 8-13, red sampled one line late.
TestImage TintedWords() {
    const uint32_t paper = 0xF4F0EC, ink = 0x1C1814; // (236, 240, 244), (20, 24, 28)
    TestImage img = TestImage::Color(12, 24, 0, 0);
    auto inked = [](int32_t x, int32_t y) {
        return y >= 8 && y <= 13 && (x == 2 || x == 3 || x == 5 || x == 6 || x == 9);
    };
    for (int32_t y = 0; y < 24; ++y) {
        for (int32_t x = 0; x < 12; ++x) {
            const uint32_t v = inked(x, y) ? ink : paper;
            const uint32_t r = (y > 0 && inked(x, y - 1)) ? ink : paper;
            img.set(x, y, (v & 0xFFFF00u) | (r & 0xFFu));
        }
    }
    return img;
}

uint32_t Gray(uint32_t v) {
    const uint32_t g = ((v & 0xFF) + 2 * ((v >> 8) & 0xFF) + ((v >> 16) & 0xFF)) / 4;
    return g | g << 8 | g << 16;
}

uint32_t Soft(uint32_t v) {
    const uint32_t r = v & 0xFF, g = (v >> 8) & 0xFF, b = (v >> 16) & 0xFF, sum = r + g + b;
    return (r + sum) / 4 | ((g + sum) / 4) << 8 | ((b + sum) / 4) << 16;
}
} // namespace

TEST(ColorGap, FlaggedRunsAndTheirNeighbourLinesTurnGray) {
    // A fringe run starts on the paper line above the edge and closes on the
    // first line past the fringe (lines 7-9 and 13-15); the flagged lines and
    // the lines next to them are made gray. The one-column gap between the
    // words is filled, the lone column is left alone.
    const TestImage img = TintedWords();
    TestImage expect = img;
    for (int32_t y = 0; y < 24; ++y)
        for (int32_t x = 2; x <= 6; ++x)
            if ((y >= 6 && y <= 10) || (y >= 12 && y <= 16)) expect.set(x, y, Gray(img.get(x, y)));
    const TestImage out = WholePage(img);
    for (int32_t y = 0; y < 24; ++y)
        for (int32_t x = 0; x < 12; ++x)
            EXPECT_EQ(out.get(x, y), expect.get(x, y)) << x << "," << y;
    int32_t total = 0;
    EXPECT_TRUE(InBands(img, {3, 9, 12}, &total).samePixels(expect));
}

TEST(ColorGap, GradedCorrection) {
    // Graded: strongly flagged pixels turn gray, weakly flagged ones (the
    // filled gap) and those flagged only in a neighbouring line are softened.
    TestImage img = TintedWords();
    TestImage dst = TestImage::Color(12, 24, 0, 0);
    COLORGAPINFO info = Request();
    CTvkColorGap worker;
    ASSERT_EQ(worker.Initialize(img.info(), &info), 0u);
    worker.m_bGraded = 1;
    const int32_t n = worker.Process(dst.info(), img.info(), 0, 0);
    ASSERT_EQ(n, 11);
    ASSERT_EQ(worker.ProcessLast(dst.info(), n), 13);
    for (int32_t y = 0; y < 24; ++y) {
        for (int32_t x = 0; x < 12; ++x) {
            const uint32_t v = img.get(x, y);
            const bool flagged = (y >= 7 && y <= 9) || (y >= 13 && y <= 15);
            const bool near = y == 6 || y == 10 || y == 12 || y == 16;
            uint32_t e = v;
            if (x >= 2 && x <= 6 && flagged) e = x == 4 ? Soft(v) : Gray(v);
            if (x >= 2 && x <= 6 && near) e = Soft(v);
            EXPECT_EQ(dst.get(x, y), e) << x << "," << y;
        }
    }
}

TEST(ColorGap, GenuineColourIsKept) {
    // A large red area is certain colour, not a fringe.
    TestImage img = TestImage::Color(40, 40, 0, 255);
    for (int32_t y = 10; y < 30; ++y)
        for (int32_t x = 10; x < 30; ++x) img.set(x, y, 0x2020E0);
    const TestImage out = WholePage(img);
    EXPECT_EQ(out.get(20, 20), 0x2020E0u);
    EXPECT_EQ(CountColoured(out), CountColoured(img));
}

TEST(ColorGap, BandsGiveTheWholePageAndEveryLine) {
    const TestImage src = MisregisteredPage(57, 70, 2);
    const TestImage whole = WholePage(src);
    std::mt19937 rng(5);
    std::vector<std::vector<int32_t>> splits = {{1, 69},          {13, 57}, {14, 56}, {35, 35},
                                                {1, 1, 1, 1, 66}, {69, 1},  {70, 0},  {10, 0, 60}};
    for (int r = 0; r < 4; ++r) {
        std::vector<int32_t> s = bandtest::RandomBands(70, 20, rng);
        s.push_back(0);
        splits.push_back(s);
    }
    for (const auto& split : splits) {
        int32_t total = 0;
        std::vector<int32_t> perCall;
        const TestImage banded = InBands(src, split, &total, &perCall);
        EXPECT_EQ(total, 70);
        EXPECT_TRUE(banded.samePixels(whole)) << "split starting " << split[0];
        // The first band lags by the delay.
        EXPECT_EQ(perCall[0], std::max(split[0] - kColorGapDelay, 0));
    }
}

TEST(ColorGap, ShortPageInOneCallStreamsAndFlushes) {
    const TestImage src = MisregisteredPage(30, 15, 3);
    TestImage in = src, dst = TestImage::Color(30, 15, 0, 0);
    COLORGAPINFO info = Request(true);
    ASSERT_EQ(ColorGapCorrect(dst.info(), in.info(), &info), 0u);
    EXPECT_EQ(dst.height(), 15);
    EXPECT_EQ(info.pColorGap, nullptr);
    int32_t total = 0;
    EXPECT_TRUE(dst.samePixels(InBands(src, {5, 10}, &total)));
}

TEST(ColorGap, DestinationTooSmallIsRefusedAndCanBeRepeated) {
    const TestImage src = MisregisteredPage(40, 60, 4);
    const TestImage whole = WholePage(src);
    TestImage dst = TestImage::Color(40, 60, 0, 0);
    COLORGAPINFO info = Request();
    tagTVKIMAGEINFO s = src.band(0, 30), d = dst.band(0, 60);
    ASSERT_EQ(ColorGapCorrect(&d, &s, &info), 0u);
    ASSERT_EQ(d.lHeight, 17);
    ASSERT_NE(info.pColorGap, nullptr);
    // A middle band of 20 lines is due to write 20: a destination of 19 is refused.
    s = src.band(30, 20);
    d = dst.band(17, 19);
    EXPECT_EQ(ColorGapCorrect(&d, &s, &info), kColorGapBadParam);
    EXPECT_NE(info.pColorGap, nullptr);
    d = dst.band(17, 43);
    ASSERT_EQ(ColorGapCorrect(&d, &s, &info), 0u);
    EXPECT_EQ(d.lHeight, 20);
    // The last band needs its 10 lines plus the 13 held back.
    info.bLastBand = 1;
    s = src.band(50, 10);
    d = dst.band(37, 22);
    EXPECT_EQ(ColorGapCorrect(&d, &s, &info), kColorGapBadParam);
    EXPECT_NE(info.pColorGap, nullptr);
    d = dst.band(37, 23);
    ASSERT_EQ(ColorGapCorrect(&d, &s, &info), 0u);
    EXPECT_EQ(d.lHeight, 23);
    EXPECT_EQ(info.pColorGap, nullptr);
    EXPECT_TRUE(dst.samePixels(whole));
}

TEST(ColorGap, ParameterFaults) {
    TestImage img = MisregisteredPage(20, 20, 5);
    TestImage out = TestImage::Color(20, 20, 0, 0);
    COLORGAPINFO info = Request();
    EXPECT_EQ(ColorGapCorrect(nullptr, img.info(), &info), kColorGapBadParam);
    EXPECT_EQ(ColorGapCorrect(out.info(), nullptr, &info), kColorGapBadParam);
    EXPECT_EQ(ColorGapCorrect(out.info(), img.info(), nullptr), kColorGapBadParam);
    COLORGAPINFO tiny = Request();
    tiny.ulSize = kColorGapInfoSizeMin - 1;
    EXPECT_EQ(ColorGapCorrect(out.info(), img.info(), &tiny), kColorGapBadParam);
    // Two line-sequential images, or any image that is not interleaved 24-bit.
    TestImage planes = TestImage::Color(20, 20, 1, 255), planes2 = TestImage::Color(20, 20, 1, 0);
    EXPECT_EQ(ColorGapCorrect(planes2.info(), planes.info(), &info), kColorGapBadParam);
    EXPECT_EQ(ColorGapCorrect(out.info(), planes.info(), &info), kColorGapBadParam);
    TestImage gray = TestImage::Gray(20, 20);
    EXPECT_EQ(ColorGapCorrect(out.info(), gray.info(), &info), kColorGapBadParam);
    EXPECT_EQ(info.pColorGap, nullptr);
    // Whole page of different sizes.
    TestImage other = TestImage::Color(20, 19, 0, 0);
    COLORGAPINFO whole = Request(true);
    EXPECT_EQ(ColorGapCorrect(other.info(), img.info(), &whole), kColorGapNoMemory);
    EXPECT_EQ(whole.pColorGap, nullptr);
    // A band of another width on a running worker, and a stale worker pointer.
    tagTVKIMAGEINFO s = img.band(0, 5), d = out.band(0, 20);
    ASSERT_EQ(ColorGapCorrect(&d, &s, &info), 0u);
    EXPECT_EQ(d.lHeight, 0);
    TestImage wide = TestImage::Color(30, 5, 0, 0), wideOut = TestImage::Color(30, 20, 0, 0);
    EXPECT_EQ(ColorGapCorrect(wideOut.info(), wide.info(), &info), kColorGapBadParam);
    COLORGAPINFO stale = info;
    ReleaseColorGapHandle(&info);
    EXPECT_EQ(info.pColorGap, nullptr);
    EXPECT_EQ(ColorGapCorrect(out.info(), img.info(), &stale), kColorGapBadParam);
    // A first band of 13 lines writes nothing yet.
    COLORGAPINFO fresh = Request();
    s = img.band(0, 13);
    d = out.band(0, 20);
    ASSERT_EQ(ColorGapCorrect(&d, &s, &fresh), 0u);
    EXPECT_EQ(d.lHeight, 0);
    ReleaseColorGapHandle(&fresh);
    // The export resets the last error.
    IpSetLastError(9);
    COLORGAPINFO again = Request(true);
    TestImage in = img;
    EXPECT_EQ(ColorGapCorrect(out.info(), in.info(), &again), 0u);
    EXPECT_EQ(IpGetLastError(), 0u);
}

TEST(ColorGap, ClassMapRules) {
    CBuildDefColorGapMap map;
    map.Init(nullptr, 300);
    EXPECT_EQ(map.IsDoubtColor(248, 248, 248), 27); // light neutral
    EXPECT_EQ(map.IsDoubtColor(0, 0, 0), 19);       // dark neutral
    EXPECT_EQ(map.IsDoubtColor(96, 96, 96), 23);    // middle neutral
    EXPECT_EQ(map.IsDoubtColor(80, 40, 40), 0);     // pale red
    EXPECT_EQ(map.IsDoubtColor(248, 16, 16), 4);    // red fringe
    EXPECT_EQ(map.IsDoubtColor(16, 248, 248), 5);   // cyan fringe
    EXPECT_EQ(map.IsDoubtColor(32, 40, 72), 1);     // pale blue
    EXPECT_EQ(map.IsDoubtColor(40, 64, 48), 2);     // pale green, red smallest
    EXPECT_EQ(map.IsDoubtColor(224, 32, 32), 4);
    EXPECT_EQ(map.IsDoubtColor(48, 248, 32), 31); // strong green is certain colour
    // Limits by resolution band, at each boundary.
    struct B {
        int32_t dpi;
        int limit;
        int32_t expect;
    };
    for (const B& b : {B{150, 1, 104}, B{151, 1, 96}, B{200, 1, 96}, B{201, 1, 84}, B{300, 7, 116},
                       B{301, 7, 108}, B{400, 9, 48}, B{401, 9, 40}, B{401, 11, 128}}) {
        CBuildDefColorGapMap m;
        m.Init(nullptr, b.dpi);
        EXPECT_EQ(m.Limit(b.limit), b.expect) << b.dpi << " P" << b.limit;
    }
    // The caller's limits count only with the right record size.
    tagGAPPARAM p{kGapParamSize, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}};
    map.Init(&p, 300);
    EXPECT_EQ(map.Limit(13), 13);
    p.dwGapParamSize = kGapParamSize - 4;
    map.Init(&p, 300);
    EXPECT_EQ(map.Limit(13), 92);
    // Transitions of the judge table.
    EXPECT_EQ(ColorGapBoolMap[27 << 5 | 4], 1);
    EXPECT_EQ(ColorGapBoolMap[4 << 5 | 19], 1);
    EXPECT_EQ(ColorGapBoolMap[4 << 5 | 4], 0);
    EXPECT_EQ(ColorGapBoolMap[8 << 5 | 23], 1);
    for (int c = 0; c < 32; ++c) EXPECT_EQ(ColorGapBoolMap[31 << 5 | c], 0);
    for (int p2 = 0; p2 < 32; ++p2) EXPECT_EQ(ColorGapBoolMap[p2 << 5 | 31], 0);
}

TEST(ColorGap, MapSources) {
    TestImage img = TestImage::Color(8, 4, 0, 255);
    COLORGAPINFO info = Request();
    // Resolution 0: the built-in map.
    img.info()->lYResolution = 0;
    CTvkColorGap zero;
    ASSERT_EQ(zero.Initialize(img.info(), &info), 0u);
    EXPECT_EQ(std::memcmp(zero.ClassMap(), ByteColorMap(), kColorGapMapSize), 0);
    EXPECT_EQ(std::memcmp(zero.JudgeTable(), ColorGapBoolMap, kColorGapJudgeSize), 0);
    // The caller's map (five bits of each entry) and judge table when sized right.
    std::vector<uint8_t> own(kColorGapMapSize, 0xE7), judge(kColorGapJudgeSize, 1);
    info.pByteTable = own.data();
    info.ulByteTableSize = kColorGapMapSize;
    info.pJudgeTable = judge.data();
    info.ulJudgeTableSize = kColorGapJudgeSize;
    img.info()->lYResolution = 300;
    CTvkColorGap caller;
    ASSERT_EQ(caller.Initialize(img.info(), &info), 0u);
    EXPECT_EQ(caller.ClassMap()[12345], 0xE7 & 31);
    EXPECT_EQ(caller.JudgeTable()[0], 1);
    // With limits given the map is built, not copied; a wrong size is ignored.
    tagGAPPARAM p{kGapParamSize, {84, 116, 116, 88, 64, 100, 116, 80, 56, 128, 160, 72, 92}};
    info.pGapParam = &p;
    info.ulJudgeTableSize = 1000;
    CTvkColorGap built;
    ASSERT_EQ(built.Initialize(img.info(), &info), 0u);
    EXPECT_EQ(std::memcmp(built.ClassMap(), ByteColorMap(), kColorGapMapSize), 0);
    EXPECT_EQ(std::memcmp(built.JudgeTable(), ColorGapBoolMap, kColorGapJudgeSize), 0);
    // Light order 1 stores the class of (R, G, B) at the word (B, G, R).
    info.ulLightOrder = 1;
    CTvkColorGap ordered;
    ASSERT_EQ(ordered.Initialize(img.info(), &info), 0u);
    const uint16_t rgb = ColorToWord(200, 40, 8);
    const uint16_t bgr = ColorToWord(8, 40, 200);
    EXPECT_EQ(ordered.ClassMap()[bgr], ByteColorMap()[rgb]);
    EXPECT_NE(ordered.ClassMap()[bgr], ByteColorMap()[bgr]);
    // ...but only from a full-size record.
    info.ulSize = kColorGapInfoSizeLightOrder - 1;
    CTvkColorGap shortRecord;
    ASSERT_EQ(shortRecord.Initialize(img.info(), &info), 0u);
    EXPECT_EQ(shortRecord.ClassMap()[bgr], ByteColorMap()[bgr]);
}
