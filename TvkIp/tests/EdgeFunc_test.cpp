// Edge emphasis through the handle interface: kernels against a direct
// reference, band splits against the whole page, level tables, and the
// refusals of bad requests.
#include "BandTestHelpers.h"
#include "EdgeFunc.h"
#include "EdgeFuncImpl.h"
#include "PathTestHelpers.h"
#include "TestKit.h"
#include "TvkIpError.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

using bandtest::BlankLike;
using kdtest::TestImage;

namespace {

// A filter as the caller names it.
struct Member {
    const char* name;
    uintptr_t kind;
    uint32_t number;
    bool param = false;
    int32_t params[6] = {0, 0, 0, 0, 0, 0};
};

tagEDGEINFO MakeInfo(const Member& m, uint32_t size = sizeof(tagEDGEINFO)) {
    tagEDGEINFO info{};
    info.ulSize = size;
    info.ulFilterNo = m.number;
    info.hEdge = m.kind;
    info.bParam = m.param ? 1 : 0;
    info.lHighTh = m.params[0];
    info.lHighMul = m.params[1];
    info.lHighDiv = m.params[2];
    info.lLowTh = m.params[3];
    info.lLowMul = m.params[4];
    info.lLowDiv = m.params[5];
    return info;
}

int32_t SppOf(uintptr_t kind) {
    return kind == kEdgeKindGray || kind == 0 ? 1 : 3;
}
uint32_t OrderOf(uintptr_t kind) {
    return kind == kEdgeKindColorRGB ? 0 : 1;
}

TestImage Page(uintptr_t kind, int32_t w, int32_t h, uint32_t seed) {
    return kdtest::NoisePage(w, h, 8, SppOf(kind), OrderOf(kind), seed);
}

// The whole image in one call.
TestImage Whole(const TestImage& src, const Member& m, int32_t* lineCount = nullptr) {
    TestImage dst = BlankLike(src);
    TestImage in = src;
    tagEDGEINFO info = MakeInfo(m);
    if (m.kind != 0) CreateEdgeFuncHandle(&info);
    EXPECT_EQ(EdgeFuncEx(dst.info(), in.info(), &info), 0) << m.name;
    EXPECT_EQ(dst.height(), src.height()) << m.name;
    EXPECT_EQ(info.hEdge, 0u) << m.name;
    if (lineCount != nullptr) *lineCount = info.lLineCount;
    return dst;
}

// The image in bands of the given heights (the last band is the last call).
// Returns the destination; `produced` receives the destination lines the
// band calls reported, the last band counted as its lines plus the delay.
TestImage Bands(const TestImage& src, const Member& m, const std::vector<int32_t>& heights,
                int32_t delay, int32_t* produced, int32_t* lineCount) {
    TestImage dst = BlankLike(src);
    tagEDGEINFO info = MakeInfo(m);
    if (m.kind != 0) {
        EXPECT_NE(CreateEdgeFuncHandle(&info), 0u) << m.name;
    }
    int32_t y = 0;
    int32_t out = 0;
    for (size_t i = 0; i < heights.size(); ++i) {
        tagTVKIMAGEINFO s = src.band(y, heights[i]);
        tagTVKIMAGEINFO d = dst.band(out, dst.height() - out);
        if (i + 1 == heights.size()) {
            EXPECT_EQ(EdgeFuncFinishEx(&d, &s, &info), 0) << m.name;
            out += heights[i] + delay;
        } else {
            const int32_t r =
                i == 0 ? EdgeFuncStartEx(&d, &s, &info) : EdgeFuncContEx(&d, &s, &info);
            EXPECT_EQ(r, 0) << m.name << " band " << i;
            out += d.lHeight;
        }
        y += heights[i];
    }
    EXPECT_EQ(info.hEdge, 0u) << m.name;
    *produced = out;
    *lineCount = info.lLineCount;
    return dst;
}

// Sample access independent of layout.
struct Grid {
    const tagTVKIMAGEINFO* img;
    int channels() const { return img->lSpp; }
    int64_t stride() const { return int64_t{img->lSync} * (img->ulRGBOrder != 0 ? img->lSpp : 1); }
    uint8_t* at(int ch, int x, int y) const {
        uint8_t* l = img->lpImage + y * stride();
        if (img->lSpp == 1) return l + x;
        return img->ulRGBOrder != 0 ? l + int64_t{ch} * img->lSync + x : l + 3 * x + ch;
    }
};

// Four-neighbour filter straight from its definition: the response is the
// centre times the number of neighbours present minus those neighbours;
// smoothing members negate it.
TestImage ReferenceFour(const TestImage& src, const std::function<int32_t(int32_t)>& f,
                        bool negate = false) {
    TestImage dst = src;
    Grid s{src.info()};
    Grid d{dst.info()};
    const int w = src.width();
    const int h = src.height();
    for (int ch = 0; ch < s.channels(); ++ch) {
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const int c = *s.at(ch, x, y);
                int n = 0, sum = 0;
                if (x > 0) ++n, sum += *s.at(ch, x - 1, y);
                if (x < w - 1) ++n, sum += *s.at(ch, x + 1, y);
                if (y > 0) ++n, sum += *s.at(ch, x, y - 1);
                if (y < h - 1) ++n, sum += *s.at(ch, x, y + 1);
                int l = n * c - sum;
                if (negate) l = -l;
                const int t = std::clamp(f(l), -255, 255);
                *d.at(ch, x, y) = static_cast<uint8_t>(std::clamp(c + t, 0, 255));
            }
        }
    }
    return dst;
}

// Level rules as the family defines them (raw; the tables clamp).
int32_t Step3(int32_t l, int t1, int d1, int t2, int d2) {
    const int a = std::abs(l);
    return a <= t1 ? 0 : (a <= t2 ? l / d1 : l / d2);
}
int32_t Cl(int32_t l) {
    return std::clamp(l, -255, 255);
}

struct RefCase {
    Member m;
    std::function<int32_t(int32_t)> f;
    bool negate;
};

std::vector<RefCase> FourNeighbourCases() {
    auto p2 = [](int32_t l) { return Step3(l, 192, 16, 255, 8); };
    auto p3 = [](int32_t l) { return Step3(l, 128, 16, 255, 8); };
    auto p4 = [](int32_t l) { return Step3(l, 128, 4, 255, 2); };
    auto p5 = [](int32_t l) { return Step3(l, 64, 2, 192, 1); };
    auto zero = [](int32_t) { return 0; };
    auto v3 = [](int32_t l) { // defaults of the parameterised members
        const int a = std::abs(l);
        return a > 255 ? l / 16 : (a > 192 ? l / 32 : 0);
    };
    auto custom = [](int32_t l) { // {100, 1, 4, 50, 1, 8}
        const int a = std::abs(l);
        return a > 100 ? l / 4 : (a > 50 ? l / 8 : 0);
    };
    auto thirds = [](int32_t l) { // {300, 2, 3, 100, 1, 3}: no power-of-two divisor
        const int a = std::abs(l);
        return a > 300 ? 2 * l / 3 : (a > 100 ? l / 3 : 0);
    };
    auto against = [](int32_t l) { // {200, -1, 4, 50, 1, 8}: corrections against the response
        const int a = std::abs(l);
        return a > 200 ? -l / 4 : (a > 50 ? l / 8 : 0);
    };
    const uintptr_t G = kEdgeKindGray, P = kEdgeKindColorPlanes, I = kEdgeKindColorRGB;
    return {
        {{"gray2", G, 2}, p2, false},
        {{"gray3", G, 3}, p3, false},
        {{"gray4", G, 4}, p4, false},
        {{"gray5", G, 5}, p5, false},
        {{"gray6", G, 6}, [](int32_t l) { return Cl(l) / 16; }, false},
        {{"gray7", G, 7}, [](int32_t l) { return Cl(l) / 8; }, false},
        {{"gray8", G, 8}, [](int32_t l) { return Cl(l) / 4; }, false},
        {{"gray9", G, 9}, [](int32_t l) { return Cl(l) / 2; }, false},
        {{"gray10", G, 10}, [](int32_t l) { return l; }, false},
        {{"grayV3default", G, 0, true}, v3, false},
        {{"grayV3custom", G, 7, true, {100, 1, 4, 50, 1, 8}}, custom, false},
        {{"grayV3thirds", G, 0, true, {300, 2, 3, 100, 1, 3}}, thirds, false},
        {{"grayV3against", G, 0, true, {200, -1, 4, 50, 1, 8}}, against, false},
        {{"planes1", P, 1}, [](int32_t l) { return l / 16; }, false},
        {{"planes3", P, 3}, p3, false},
        {{"planes4", P, 4}, p4, false},
        {{"planes5", P, 5}, p5, false},
        {{"rgb1", I, 1}, zero, false},
        {{"rgb2", I, 2}, p2, false},
        {{"rgb3", I, 3}, p3, false},
        {{"rgb4", I, 4}, p4, false},
        {{"rgb5", I, 5}, p5, false},
        {{"rgbV2_1", I, 0x201}, [](int32_t l) { return std::abs(l) <= 1 ? 0 : l / 8; }, true},
        {{"rgbV2_2", I, 0x202}, [](int32_t l) { return Step3(l, 1, 16, 192, 8); }, true},
        {{"rgbV2_3", I, 0x203}, [](int32_t l) { return std::abs(l) <= 1 ? 0 : l / 16; }, true},
        {{"rgbV2_4", I, 0x204}, zero, false},
        {{"rgbV2_5", I, 0x205}, p3, false},
        {{"rgbV3custom", I, 1, true, {100, 1, 4, 50, 1, 8}}, custom, false},
    };
}

// Every member reachable through the interface, with its output delay.
struct AnyMember {
    Member m;
    int32_t delay;
};
std::vector<AnyMember> AllMembers() {
    std::vector<AnyMember> all;
    for (const RefCase& c : FourNeighbourCases()) all.push_back({c.m, 1});
    const uintptr_t G = kEdgeKindGray;
    all.push_back({{"gray1", G, 1}, 0});
    all.push_back({{"planes2", kEdgeKindColorPlanes, 2}, 0});
    const char* ms[] = {"MS1", "MS2", "MS3", "MS4", "MS5"};
    const char* msg[] = {"MSG1", "MSG2", "MSG3", "MSG4", "MSG5"};
    for (uint32_t i = 0; i < 5; ++i) {
        all.push_back({{ms[i], G, 0x401 + i}, 1});
        all.push_back({{msg[i], G, 0xC01 + i}, 1});
    }
    return all;
}

} // namespace

TEST(EdgeFunc, FourNeighbourMembersMatchTheDirectDefinition) {
    for (const RefCase& c : FourNeighbourCases()) {
        for (int32_t w : {2, 3, 37}) {
            const TestImage src = Page(c.m.kind, w, 9, 7 + w);
            const TestImage expect = ReferenceFour(src, c.f, c.negate);
            EXPECT_TRUE(Whole(src, c.m).samePixels(expect)) << c.m.name << " width " << w;
        }
        // Flat paper with text: long runs without correction next to edges.
        const TestImage text =
            kdtest::TextPage(203, 40, SppOf(c.m.kind), OrderOf(c.m.kind), 9, 235, 30);
        EXPECT_TRUE(Whole(text, c.m).samePixels(ReferenceFour(text, c.f, c.negate)))
            << c.m.name << " text";
    }
}

// Mid-gray paper with sparse dots of contrast up to 90: responses around
// the thresholds of the level tables, in blocks whose samples differ little.
TestImage FaintDots(uintptr_t kind, int32_t w, int32_t h, uint32_t seed) {
    TestImage img = Page(kind, w, h, seed);
    std::fill(img.bytes().begin(), img.bytes().end(), 128);
    std::mt19937 rng(seed);
    for (int32_t n = 0; n < w * h / 6; ++n) {
        const int32_t x = static_cast<int32_t>(rng() % static_cast<uint32_t>(w));
        const int32_t y = static_cast<int32_t>(rng() % static_cast<uint32_t>(h));
        const uint32_t v = 38 + rng() % 181; // 128 - 90 .. 128 + 90
        img.set(x, y, SppOf(kind) == 1 ? v : v * 0x010101u);
    }
    return img;
}

// Samples of 0 and 255 only: responses out to the extremes (+-1020), where
// the level tables clamp.
TestImage BlackAndWhite(uintptr_t kind, int32_t w, int32_t h, uint32_t seed) {
    TestImage img = Page(kind, w, h, seed);
    std::mt19937 rng(seed);
    for (uint8_t& b : img.bytes()) b = (rng() & 1) != 0 ? 255 : 0;
    return img;
}

// Every path (portable, SSE2, AVX2) on widths around the vector blocks, on
// noise (an edge in every block), on text (flat blocks beside edges) and on
// black and white (extreme responses), whole and in bands of one line.
TEST(EdgeFunc, VectorTwinsMatchTheDirectDefinition) {
    for (const RefCase& c : FourNeighbourCases()) {
        for (int32_t w : {33, 34, 66, 97}) {
            const TestImage pages[] = {
                Page(c.m.kind, w, 5, 11 + w),
                kdtest::TextPage(w, 14, SppOf(c.m.kind), OrderOf(c.m.kind), 5, 235, 30),
                FaintDots(c.m.kind, w, 9, 3 + w), BlackAndWhite(c.m.kind, w, 7, 5 + w)};
            for (const TestImage& src : pages) {
                const TestImage expect = ReferenceFour(src, c.f, c.negate);
                const std::vector<int32_t> lines(static_cast<size_t>(src.height()), 1);
                for (pathtest::Path p : pathtest::Available()) {
                    pathtest::Use use(p);
                    EXPECT_TRUE(Whole(src, c.m).samePixels(expect))
                        << c.m.name << ' ' << pathtest::Name(p) << " width " << w;
                    int32_t produced = 0, count = 0;
                    EXPECT_TRUE(Bands(src, c.m, lines, 1, &produced, &count).samePixels(expect))
                        << c.m.name << ' ' << pathtest::Name(p) << " width " << w << " lines";
                }
            }
        }
    }
}

// The vector kernels compute a table from its pieces instead of looking it
// up; every member of the family has such a form, and a table with
// corrections against the response (which has none) is looked up.
TEST(EdgeFunc, LevelTablesInPieces) {
    for (const RefCase& c : FourNeighbourCases()) {
        tagEDGEINFO info = MakeInfo(c.m);
        std::unique_ptr<CEdgeFunc> obj;
        if (c.m.kind != kEdgeKindColorPlanes) // planes: the red plane's filter
            obj.reset(NewEdgeFuncObject(c.m.kind, &info));
        else if (c.m.number == 1)
            obj = std::make_unique<CEdgeFuncR1>();
        else if (c.m.number == 3)
            obj = std::make_unique<CEdgeFuncR3>();
        else if (c.m.number == 4)
            obj = std::make_unique<CEdgeFuncR4>();
        else
            obj = std::make_unique<CEdgeFuncR5>();
        auto* four = dynamic_cast<CEdgeFuncOn*>(obj.get());
        ASSERT_NE(four, nullptr) << c.m.name;
        ASSERT_EQ(four->MakeLevelTable(), 1) << c.m.name;
        const EdgeLevelShape& shape = four->LevelShape();
        EXPECT_EQ(shape.pieces == 0, std::string(c.m.name) == "grayV3against") << c.m.name;
        for (int32_t l = -EdgeLevelShape::kMaxResponse;
             shape.pieces > 0 && l <= EdgeLevelShape::kMaxResponse; ++l)
            ASSERT_EQ(shape.Level(l), four->LevelAt(l)) << c.m.name << " at " << l;
    }
}

TEST(EdgeFunc, BandSplitsGiveTheWholePageBytes) {
    std::mt19937 rng(99);
    for (const AnyMember& a : AllMembers()) {
        const TestImage src = Page(a.m.kind, 41, 30, 3);
        int32_t wholeCount = 0;
        const TestImage whole = Whole(src, a.m, &wholeCount);
        EXPECT_EQ(wholeCount, 30) << a.m.name;
        std::vector<std::vector<int32_t>> splits = {{1, 29}, {1, 1, 1, 27}, {2, 14, 14},
                                                    {29, 1}, {10, 10, 10},  {30, 0}};
        for (int r = 0; r < 3; ++r) { // random splits
            std::vector<int32_t> s = bandtest::RandomBands(30, 7, rng);
            if (s.size() < 2) s.push_back(0);
            splits.push_back(s);
        }
        for (const auto& split : splits) {
            int32_t produced = 0, count = 0;
            const TestImage banded = Bands(src, a.m, split, a.delay, &produced, &count);
            EXPECT_TRUE(banded.samePixels(whole)) << a.m.name << " split of " << split.size();
            EXPECT_EQ(produced, 30) << a.m.name;
            EXPECT_EQ(count, 30) << a.m.name;
        }
    }
}

TEST(EdgeFunc, InPlaceEqualsSeparateDestination) {
    for (const AnyMember& a : AllMembers()) {
        const TestImage src = Page(a.m.kind, 23, 12, 5);
        const TestImage expect = Whole(src, a.m);
        TestImage img = src;
        tagEDGEINFO info = MakeInfo(a.m);
        if (a.m.kind != 0) CreateEdgeFuncHandle(&info);
        ASSERT_EQ(EdgeFuncEx(img.info(), img.info(), &info), 0);
        EXPECT_TRUE(img.samePixels(expect)) << a.m.name;
    }
}

TEST(EdgeFunc, BandLineAccounting) {
    // Window filter: 10, 10, 5 source lines give 9, 10 and 6 destination lines.
    const TestImage src = kdtest::TextPage(16, 25);
    TestImage dst = BlankLike(src);
    tagEDGEINFO info = MakeInfo({"gray2", 0, 2}, kEdgeInfoSizeHandle);
    tagTVKIMAGEINFO s = src.band(0, 10), d = dst.band(0, 25);
    ASSERT_EQ(EdgeFuncStartEx(&d, &s, &info), 0);
    EXPECT_EQ(d.lHeight, 9);
    s = src.band(10, 10);
    d = dst.band(9, 16);
    ASSERT_EQ(EdgeFuncContEx(&d, &s, &info), 0);
    EXPECT_EQ(d.lHeight, 10);
    s = src.band(20, 5);
    d = dst.band(19, 6);
    ASSERT_EQ(EdgeFuncFinishEx(&d, &s, &info), 0);
    EXPECT_EQ(d.lHeight, 6); // the finish leaves the caller's count alone
    EXPECT_EQ(info.lLineCount, 25);
    EXPECT_EQ(info.hEdge, 0u);

    // Bands of 1, 4 and 3 lines: 0, 4 and 4.
    tagEDGEINFO on = MakeInfo({"gray10", 0, 10});
    TestImage dst2 = BlankLike(src);
    s = src.band(0, 1);
    d = dst2.band(0, 25);
    ASSERT_EQ(EdgeFuncStartEx(&d, &s, &on), 0);
    EXPECT_EQ(d.lHeight, 0);
    EXPECT_EQ(on.lLineCount, 1);
    s = src.band(1, 4);
    ASSERT_EQ(EdgeFuncContEx(&d, &s, &on), 0);
    EXPECT_EQ(d.lHeight, 4);

    // The copying filter yields a first band whole.
    tagEDGEINFO copy = MakeInfo({"gray1", 0, 1});
    TestImage dst3 = BlankLike(src);
    s = src.band(0, 10);
    d = dst3.band(0, 25);
    ASSERT_EQ(EdgeFuncStartEx(&d, &s, &copy), 0);
    EXPECT_EQ(d.lHeight, 10);
    ReleaseEdgeFuncHandle(&copy);
    EXPECT_EQ(copy.hEdge, 0u);
    ReleaseEdgeFuncHandle(&on);
}

TEST(EdgeFunc, FlatImagesStayFlatAndAPointStandsOut) {
    for (const AnyMember& a : AllMembers()) {
        TestImage flat = Page(a.m.kind, 9, 7, 1);
        std::fill(flat.bytes().begin(), flat.bytes().end(), 117);
        EXPECT_TRUE(Whole(flat, a.m).samePixels(flat)) << a.m.name;
    }
    // A single bright pixel on black under the identity table: neighbours
    // clip to 0, the pixel stays 255.
    TestImage img = TestImage::Gray(5, 5, 0);
    img.set(2, 2, 200);
    const TestImage out = Whole(img, {"gray10", 0, 10});
    EXPECT_EQ(out.get(2, 2), 255u);
    EXPECT_EQ(out.get(1, 2), 0u);
    EXPECT_EQ(out.get(2, 3), 0u);
}

TEST(EdgeFunc, SingleLineImageUsesItsHorizontalNeighboursOnly) {
    TestImage img = TestImage::Gray(5, 1, 0);
    img.set(2, 0, 50);
    const TestImage out = Whole(img, {"gray10", 0, 10});
    EXPECT_EQ(out.get(2, 0), 150u); // 50 + (2 * 50 - 0 - 0)
    EXPECT_EQ(out.get(1, 0), 0u);
    EXPECT_EQ(out.get(0, 0), 0u);
}

TEST(EdgeFunc, WideKernelWeights) {
    // One sample of 100 on black in an inner line: the centre saturates, its
    // horizontal neighbours get 2 x 100, the ones two columns away and the
    // lines above and below go negative (clipped to 0).
    TestImage img = TestImage::Gray(10, 7, 0);
    img.set(5, 3, 100);
    const TestImage out = Whole(img, {"MS3", 0, 0x403});
    EXPECT_EQ(out.get(5, 3), 255u);
    EXPECT_EQ(out.get(4, 3), 200u);
    EXPECT_EQ(out.get(6, 3), 200u);
    EXPECT_EQ(out.get(3, 3), 0u);
    EXPECT_EQ(out.get(5, 2), 0u);
    // At the left border column 1 sees column 0 with weight 1.
    TestImage edge = TestImage::Gray(10, 7, 0);
    edge.set(0, 3, 100);
    const TestImage out2 = Whole(edge, {"MS3", 0, 0x403});
    EXPECT_EQ(out2.get(0, 3), 255u);
    EXPECT_EQ(out2.get(1, 3), 100u);
    // Four pixels wide is the narrowest width served; three is refused.
    TestImage narrow = Page(kEdgeKindGray, 4, 6, 4);
    Whole(narrow, {"MS2", 0, 0x402});
    TestImage tooNarrow = Page(kEdgeKindGray, 3, 6, 4);
    TestImage dst = BlankLike(tooNarrow);
    tagEDGEINFO info = MakeInfo({"MS2", 0, 0x402});
    EXPECT_EQ(EdgeFuncEx(dst.info(), tooNarrow.info(), &info), -1);
    EXPECT_EQ(info.hEdge, 0u);
}

namespace {
// The wide kernel with every block looked up, as the reference for the copy
// of uncorrected blocks.
template <class Base> class CAlwaysLookUp : public Base {
public:
    int MakeLevelTable() override {
        const int r = Base::MakeLevelTable();
        this->m_lZeroBand = -1;
        return r;
    }
};

TestImage RunObject(CEdgeFuncGray& obj, const TestImage& src) {
    TestImage in = src, dst = BlankLike(src);
    tagEDGEINFO info = MakeInfo({"direct", kEdgeKindGray, 0});
    tagTVKIMAGEINFO d = *dst.info();
    EXPECT_EQ(obj.Start(&d, in.info(), &info), 1);
    tagTVKIMAGEINFO last = dst.band(d.lHeight, 1);
    EXPECT_EQ(obj.Finish(&last, nullptr, &info), 1);
    return dst;
}
} // namespace

TEST(EdgeFunc, WideKernelCopiesOnlyUncorrectedBlocks) {
    for (const TestImage& page :
         {kdtest::TextPage(301, 30, 1, 1, 4, 235, 30), kdtest::PhotoPage(301, 30, 1, 1, 4)}) {
        CEdgeFuncMS2 fast;
        CAlwaysLookUp<CEdgeFuncMS2> slow;
        EXPECT_TRUE(RunObject(fast, page).samePixels(RunObject(slow, page)));
        CEdgeFuncMSforGray5 fast5;
        CAlwaysLookUp<CEdgeFuncMSforGray5> slow5;
        EXPECT_TRUE(RunObject(fast5, page).samePixels(RunObject(slow5, page)));
    }
}

TEST(EdgeFunc, ColourSpecifics) {
    // A pure red pixel on white with the strongest interleaved member keeps
    // its green and blue at 0 and leaves its neighbours' red alone.
    TestImage img = TestImage::Color(5, 5, 0, 255);
    img.set(2, 2, 0x0000FF);
    const TestImage out = Whole(img, {"rgb5", kEdgeKindColorRGB, 5});
    EXPECT_EQ(out.get(2, 2) & 0xFFFF00u, 0u);
    EXPECT_EQ(out.get(1, 2) & 0xFF, 255u);
    EXPECT_EQ(out.get(2, 1) & 0xFF, 255u);

    // Line-sequential number 2 copies every plane and yields the first band whole.
    const TestImage planes = Page(kEdgeKindColorPlanes, 11, 8, 2);
    TestImage in = planes, dst = BlankLike(planes);
    tagEDGEINFO info = MakeInfo({"planes2", 0, 2});
    tagTVKIMAGEINFO s = in.band(0, 8), d = dst.band(0, 8);
    ASSERT_EQ(EdgeFuncStartEx(&d, &s, &info), 0);
    EXPECT_EQ(d.lHeight, 8);
    EXPECT_TRUE(dst.samePixels(planes));
    ReleaseEdgeFuncHandle(&info);
}

TEST(EdgeFunc, LevelTablesAtTheirThresholds) {
    struct T {
        const char* name;
        uintptr_t kind;
        uint32_t number;
        int32_t response;
        int32_t expect;
    };
    const uintptr_t G = kEdgeKindGray, I = kEdgeKindColorRGB;
    const T cases[] = {
        {"gray2", G, 2, 192, 0},        {"gray2", G, 2, 193, 12},
        {"gray2", G, 2, 255, 15},       {"gray2", G, 2, 256, 32},
        {"gray2", G, 2, -193, -12},     {"gray3", G, 3, 128, 0},
        {"gray3", G, 3, 129, 8},        {"gray3", G, 3, -300, -37},
        {"gray4", G, 4, 129, 32},       {"gray4", G, 4, 256, 128},
        {"gray5", G, 5, 64, 0},         {"gray5", G, 5, 65, 32},
        {"gray5", G, 5, 192, 96},       {"gray5", G, 5, 193, 193},
        {"gray5", G, 5, 300, 255},      {"gray5", G, 5, -1020, -255},
        {"gray6", G, 6, 1020, 15},      {"gray7", G, 7, 1020, 31},
        {"gray8", G, 8, -1020, -63},    {"gray9", G, 9, 1020, 127},
        {"gray10", G, 10, 300, 255},    {"gray10", G, 10, -17, -17},
        {"MS2", G, 0x402, 61, 0},       {"MS2", G, 0x402, 62, 31},
        {"MS3", G, 0x403, 30, 0},       {"MS3", G, 0x403, 31, 31},
        {"MS4", G, 0x404, 20, 0},       {"MS4", G, 0x404, 21, 31},
        {"MS4", G, 0x404, -21, -31},    {"MS5", G, 0x405, 15, 0},
        {"MS5", G, 0x405, 16, 32},      {"MS5", G, 0x405, 4000, 255},
        {"MSG2", G, 0xC02, 123, 0},     {"MSG2", G, 0xC02, 124, 31},
        {"MSG3", G, 0xC03, 82, 0},      {"MSG3", G, 0xC03, 83, 31},
        {"MSG4", G, 0xC04, 49, 0},      {"MSG4", G, 0xC04, 50, 31},
        {"MSG5", G, 0xC05, 41, 0},      {"MSG5", G, 0xC05, 42, 31},
        {"MSG5", G, 0xC05, -42, -31},   {"MS1", G, 0x401, 999, 0},
        {"rgb2", I, 2, 192, 0},         {"rgb2", I, 2, 193, 12},
        {"rgb5", I, 5, 65, 32},         {"rgbV2_1", I, 0x201, 1, 0},
        {"rgbV2_1", I, 0x201, 2, 0},    {"rgbV2_1", I, 0x201, -9, -1},
        {"rgbV2_2", I, 0x202, 192, 12}, {"rgbV2_2", I, 0x202, 193, 24},
        {"rgbV2_3", I, 0x203, 32, 2},   {"rgbV2_4", I, 0x204, 500, 0},
        {"rgbV2_5", I, 0x205, 129, 8},
    };
    for (const T& c : cases) {
        tagEDGEINFO info = MakeInfo({c.name, c.kind, c.number});
        std::unique_ptr<CEdgeFunc> obj(NewEdgeFuncObject(c.kind, &info));
        auto* gray = dynamic_cast<CEdgeFuncGray*>(obj.get());
        ASSERT_NE(gray, nullptr) << c.name;
        ASSERT_EQ(gray->MakeLevelTable(), 1) << c.name;
        EXPECT_EQ(gray->LevelAt(c.response), c.expect) << c.name << " at " << c.response;
    }
    // Plane filter of number 1 divides the unclamped response.
    CEdgeFuncR1 r1;
    ASSERT_EQ(r1.MakeLevelTable(), 1);
    EXPECT_EQ(r1.LevelAt(1020), 63);
    EXPECT_EQ(r1.LevelAt(-300), -18);
    // The wide kernel's table covers -4096..4095.
    CEdgeFuncMS3 ms3;
    ASSERT_EQ(ms3.MakeLevelTable(), 1);
    EXPECT_EQ(ms3.LevelRange(), 4096);
    EXPECT_EQ(ms3.LevelAt(-4096), -255);
}

TEST(EdgeFunc, ParameterisedTables) {
    struct T {
        int32_t p[6];
        int32_t response;
        int32_t expect;
    };
    const T cases[] = {
        {{100, 1, 4, 50, 1, 8}, 40, 0},
        {{100, 1, 4, 50, 1, 8}, 50, 0},
        {{100, 1, 4, 50, 1, 8}, 60, 7},
        {{100, 1, 4, 50, 1, 8}, 100, 12},
        {{100, 1, 4, 50, 1, 8}, 101, 25},
        {{100, 1, 4, 50, 1, 8}, 1020, 255},
        {{100, 1, 4, 50, 1, 8}, -101, -25},
        // Either divisor 0: the defaults for all six values.
        {{100, 1, 4, 50, 1, 0}, 193, 6},
        {{100, 1, 0, 50, 1, 8}, 192, 0},
        {{0, 0, 0, 0, 0, 0}, 256, 16},
        {{0, 0, 0, 0, 0, 0}, 255, 7},
        // Huge multipliers do not overflow.
        {{0, 2000000000, 1, 0, 1, 1}, 1000, 255},
    };
    for (const T& c : cases) {
        Member m{"v3", kEdgeKindGray, 0, true};
        std::copy(std::begin(c.p), std::end(c.p), m.params);
        tagEDGEINFO info = MakeInfo(m);
        ASSERT_TRUE(UseParameter(&info));
        CEdgeFuncV3 v3(&info);
        ASSERT_EQ(v3.MakeLevelTable(), 1);
        EXPECT_EQ(v3.LevelAt(c.response), c.expect)
            << c.p[0] << "/" << c.p[5] << " at " << c.response;
    }
}

TEST(EdgeFunc, RecordSizesSelectTheVariant) {
    const TestImage src = Page(kEdgeKindGray, 13, 9, 8);
    const TestImage gray2 = Whole(src, {"gray2", 0, 2});
    // A parameter-size record without the flag is the fixed member.
    tagEDGEINFO noFlag = MakeInfo({"gray2", 0, 2, false, {100, 1, 4, 50, 1, 8}});
    EXPECT_FALSE(UseParameter(&noFlag));
    TestImage dst = BlankLike(src), in = src;
    ASSERT_EQ(EdgeFuncEx(dst.info(), in.info(), &noFlag), 0);
    EXPECT_TRUE(dst.samePixels(gray2));
    // Between the handle form and the parameter form: the handle form, flag unread.
    tagEDGEINFO mid = MakeInfo({"gray2", 0, 2, true}, kEdgeInfoSizeParam - 4);
    EXPECT_FALSE(UseParameter(&mid));
    TestImage dst2 = BlankLike(src);
    ASSERT_EQ(EdgeFuncEx(dst2.info(), in.info(), &mid), 0);
    EXPECT_TRUE(dst2.samePixels(gray2));
    // Sizes that are neither the short form nor a whole handle are refused.
    for (uint32_t size : {0u, 8u, 13u, 16u, kEdgeInfoSizeHandle - 1}) {
        tagEDGEINFO bad = MakeInfo({"gray2", 0, 2}, size);
        TestImage d = BlankLike(src);
        EXPECT_EQ(EdgeFuncStartEx(d.info(), in.info(), &bad), -1) << size;
        EXPECT_EQ(EdgeFuncContEx(d.info(), in.info(), &bad), -1) << size;
        EXPECT_EQ(EdgeFuncFinishEx(d.info(), in.info(), &bad), -1) << size;
        EXPECT_EQ(EdgeFuncEx(d.info(), in.info(), &bad), -1) << size;
        EXPECT_EQ(bad.hEdge, 0u);
        EXPECT_EQ(CreateEdgeFuncHandle(&bad), 0u);
    }
    EXPECT_FALSE(UseParameter(nullptr));
}

TEST(EdgeFunc, FactoryKindsAndNumbers) {
    tagEDGEINFO none = MakeInfo({"gray0", kEdgeKindGray, 0});
    EXPECT_EQ(CreateEdgeFuncHandle(&none), 0u);
    EXPECT_EQ(none.hEdge, 0u);
    tagEDGEINFO big = MakeInfo({"gray11", kEdgeKindGray, 11});
    EXPECT_EQ(CreateEdgeFuncHandle(&big), 0u);
    tagEDGEINFO rgb6 = MakeInfo({"rgb6", kEdgeKindColorRGB, 6});
    EXPECT_EQ(CreateEdgeFuncHandle(&rgb6), 0u);
    for (uintptr_t kind : {uintptr_t{2}, uintptr_t{4}, uintptr_t{6}}) {
        tagEDGEINFO odd = MakeInfo({"odd", kind, 2});
        EXPECT_EQ(CreateEdgeFuncHandle(&odd), kind);
        EXPECT_EQ(odd.hEdge, kind);
    }
    // An existing object is returned as it is.
    tagEDGEINFO info = MakeInfo({"gray3", kEdgeKindGray, 3});
    const uintptr_t h = CreateEdgeFuncHandle(&info);
    ASSERT_NE(h, 0u);
    EXPECT_EQ(CreateEdgeFuncHandle(&info), h);
    EXPECT_NE(dynamic_cast<CEdgeFunc3*>(EdgeFuncLiveObject(h)), nullptr);
    ReleaseEdgeFuncHandle(&info);
    EXPECT_EQ(info.hEdge, 0u);
    EXPECT_EQ(EdgeFuncLiveObject(h), nullptr);
    // The handle word is wide enough for the object.
    static_assert(sizeof(tagEDGEINFO::hEdge) == sizeof(void*));
}

TEST(EdgeFunc, BandCallsWithoutALiveObjectAreRefused) {
    const TestImage src = Page(kEdgeKindGray, 13, 9, 8);
    TestImage in = src, dst = BlankLike(src);
    // Kind 1, number 0: nothing made, the start refuses, the word is 0.
    tagEDGEINFO info = MakeInfo({"gray0", 0, 0});
    EXPECT_EQ(EdgeFuncStartEx(dst.info(), in.info(), &info), -1);
    EXPECT_EQ(info.hEdge, 0u);
    EXPECT_EQ(EdgeFuncContEx(dst.info(), in.info(), &info), -1);
    EXPECT_EQ(EdgeFuncFinishEx(dst.info(), in.info(), &info), -1);
    // A kind in the word is not an object.
    info.hEdge = kEdgeKindColorRGB;
    EXPECT_EQ(EdgeFuncContEx(dst.info(), in.info(), &info), -1);
    EXPECT_EQ(EdgeFuncFinishEx(dst.info(), in.info(), &info), -1);
    // Nor is a stale pointer from a record copied before the release.
    tagEDGEINFO live = MakeInfo({"gray2", 0, 2});
    ASSERT_EQ(EdgeFuncStartEx(dst.info(), in.info(), &live), 0);
    tagEDGEINFO stale = live;
    ReleaseEdgeFuncHandle(&live);
    EXPECT_EQ(EdgeFuncContEx(dst.info(), in.info(), &stale), -1);
    EXPECT_EQ(EdgeFuncFinishEx(dst.info(), in.info(), &stale), -1);
    // A source of four samples names no kind.
    TestImage four(9, 4, 8, 4, 1);
    tagEDGEINFO k = MakeInfo({"x", 0, 2});
    EXPECT_EQ(EdgeFuncStartEx(four.info(), four.info(), &k), -1);
    EXPECT_EQ(k.hEdge, 0u);
    // Interleaved colour with the word left 0 would be read as planes: refused.
    TestImage rgb = Page(kEdgeKindColorRGB, 9, 4, 1);
    TestImage rgbOut = BlankLike(rgb);
    tagEDGEINFO r = MakeInfo({"x", 0, 2});
    EXPECT_EQ(EdgeFuncStartEx(rgbOut.info(), rgb.info(), &r), -1);
    EXPECT_EQ(r.hEdge, 0u);
    EXPECT_TRUE(rgbOut.samePixels(BlankLike(rgb)));
    // A caller's non-zero line count on a fresh object is refused, and a
    // negative one on a running object too.
    tagEDGEINFO late = MakeInfo({"gray2", 0, 2});
    late.lLineCount = 5;
    EXPECT_EQ(EdgeFuncStartEx(dst.info(), in.info(), &late), -1);
    EXPECT_EQ(late.hEdge, 0u);
    tagEDGEINFO running = MakeInfo({"gray2", 0, 2});
    ASSERT_EQ(EdgeFuncStartEx(dst.info(), in.info(), &running), 0);
    running.lLineCount = -3;
    EXPECT_EQ(EdgeFuncStartEx(dst.info(), in.info(), &running), -1);
    ReleaseEdgeFuncHandle(&running);
    // A whole-image call into a destination shorter than the source.
    TestImage shortDst(13, 5, 8, 1);
    tagEDGEINFO w = MakeInfo({"gray2", 0, 2});
    EXPECT_EQ(EdgeFuncEx(shortDst.info(), in.info(), &w), -1);
    EXPECT_EQ(w.hEdge, 0u);
}

TEST(EdgeFunc, PlaneFiltersMissingForNumbersOutsideOneToFive) {
    const TestImage src = Page(kEdgeKindColorPlanes, 10, 6, 3);
    for (uint32_t n : {0u, 6u, 0x201u}) {
        TestImage in = src, dst = BlankLike(src);
        tagEDGEINFO info = MakeInfo({"planes", kEdgeKindColorPlanes, n});
        ASSERT_NE(CreateEdgeFuncHandle(&info), 0u);
        EXPECT_EQ(EdgeFuncStartEx(dst.info(), in.info(), &info), -1) << n;
        EXPECT_TRUE(dst.samePixels(BlankLike(src))) << n;
        EXPECT_EQ(EdgeFuncContEx(dst.info(), in.info(), &info), -1) << n;
        EXPECT_EQ(EdgeFuncFinishEx(dst.info(), in.info(), &info), -1) << n;
        EXPECT_EQ(info.hEdge, 0u) << n;
        // Made by the start itself: nothing is left behind.
        tagEDGEINFO own = MakeInfo({"planes", 0, n});
        EXPECT_EQ(EdgeFuncStartEx(dst.info(), in.info(), &own), -1) << n;
        EXPECT_EQ(own.hEdge, 0u) << n;
    }
}

namespace {
// A member whose table cannot be made, as when memory runs out.
class CNoTable : public CEdgeFuncOn {
public:
    int MakeLevelTable() override { return 0; }
};
} // namespace

TEST(EdgeFunc, OutOfMemoryInTheFirstBandIsReportedNotThrown) {
    const TestImage src = Page(kEdgeKindGray, 12, 6, 3);
    TestImage in = src, dst = BlankLike(src);
    auto* obj = new CNoTable;
    ASSERT_TRUE(EdgeFuncRegister(obj));
    tagEDGEINFO info = MakeInfo({"x", 0, 2});
    info.hEdge = reinterpret_cast<uintptr_t>(obj);
    IpSetLastError(0);
    EXPECT_EQ(EdgeFuncStartEx(dst.info(), in.info(), &info), -1);
    EXPECT_EQ(IpGetLastError(), kIpErrNoMemory);
    EXPECT_EQ(info.hEdge, 0u); // the broken object is gone
    EXPECT_EQ(EdgeFuncLiveObject(reinterpret_cast<uintptr_t>(obj)), nullptr);
    EXPECT_EQ(EdgeFuncFinishEx(dst.info(), in.info(), &info), -1);

    // The same from a first band of 0 lines, reached by the middle band.
    auto* late = new CNoTable;
    ASSERT_TRUE(EdgeFuncRegister(late));
    tagEDGEINFO info2 = MakeInfo({"x", 0, 2});
    info2.hEdge = reinterpret_cast<uintptr_t>(late);
    tagTVKIMAGEINFO none = in.band(0, 0), d = dst.band(0, 6);
    ASSERT_EQ(EdgeFuncStartEx(&d, &none, &info2), 0);
    EXPECT_EQ(EdgeFuncContEx(dst.info(), in.info(), &info2), -1);
    EXPECT_EQ(IpGetLastError(), kIpErrNoMemory);
    EXPECT_EQ(info2.hEdge, 0u);
}

TEST(EdgeFunc, ExportsClearTheLastError) {
    const TestImage src = Page(kEdgeKindGray, 12, 6, 3);
    TestImage in = src, dst = BlankLike(src);
    tagEDGEINFO info = MakeInfo({"gray2", 0, 2});
    IpSetLastError(77);
    EXPECT_EQ(EdgeFuncEx(dst.info(), in.info(), &info), 0);
    EXPECT_EQ(IpGetLastError(), 0u);
    // The factory and the flag test leave it alone.
    IpSetLastError(77);
    tagEDGEINFO c = MakeInfo({"gray2", kEdgeKindGray, 2});
    CreateEdgeFuncHandle(&c);
    UseParameter(&c);
    EXPECT_EQ(IpGetLastError(), 77u);
    ReleaseEdgeFuncHandle(&c);
    EXPECT_EQ(IpGetLastError(), 0u);
}
