// Adaptive-region (kind 8) and edge-extracting (kind 10) binarisation: the
// vector/portable twins byte for byte, the class-map clean-up steps, and the
// kinds through the handle interface.
#include "AdaptRegionCore.h"
#include "BandTestHelpers.h"
#include "CBFunc.h"
#include "CImgInfPtr.h"
#include "PathTestHelpers.h"
#include "TestKit.h"
#include "TvkIpError.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

using bandtest::g_lastError;
using bandtest::RunKind;
using kdtest::TestImage;

namespace {

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = static_cast<uint8_t>(rng());
    return v;
}

// Rough texture: random runs of similar values, so blocks of every class appear.
std::vector<uint8_t> Texture(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    uint8_t level = 128;
    for (auto& b : v) {
        if (rng() % 7 == 0) level = static_cast<uint8_t>(rng());
        b = static_cast<uint8_t>(std::clamp<int>(level + static_cast<int>(rng() % 9) - 4, 0, 255));
    }
    return v;
}

} // namespace

// ---------------------------------------------------------------------------
// Twins

TEST(AdaptRegionTwins, BlockInfoAndMaxMin) {
    // The vector entries with their AVX2 parts on and off.
    for (pathtest::Path path : pathtest::Available()) {
        pathtest::Use use(path);
        for (int32_t count : {1, 2, 3, 5, 8, 13, 40}) {
            for (int32_t extra : {0, 1, 3, 17}) {
                for (int32_t shift : {0, 1, 5, 15}) {
                    const int32_t width = 4 * count + 4 + extra;
                    const int32_t sync = width + shift + 3;
                    const auto noise =
                        RandomBytes(static_cast<size_t>(sync) * 8 + 16, count * 97 + extra);
                    const auto smooth = Texture(static_cast<size_t>(sync) * 8 + 16, count + extra);
                    for (const auto* data : {&noise, &smooth}) {
                        const uint8_t* top = data->data() + shift;
                        std::vector<uint16_t> g1(count), v1(count), g2(count), v2(count);
                        std::vector<uint8_t> m1(count), m2(count), b1(count), b2(count);
                        AdaptRegionBin::IntegralGetBlockInfo(top, sync, width, count, g1.data(),
                                                             v1.data(), m1.data());
                        AdaptRegionBin::GetBlockInfo(top, sync, width, count, g2.data(), v2.data(),
                                                     m2.data());
                        ASSERT_EQ(g1, g2) << count << " " << extra << " " << shift;
                        ASSERT_EQ(v1, v2) << count << " " << extra << " " << shift;
                        ASSERT_EQ(m1, m2) << count << " " << extra << " " << shift;
                        AdaptRegionBin::IntegralGetMaxMinBand(top, sync, width, count, b1.data());
                        AdaptRegionBin::GetMaxMinBand(top, sync, width, count, b2.data());
                        ASSERT_EQ(b1, b2) << count << " " << extra << " " << shift;
                    }
                }
            }
        }
    }
}

TEST(AdaptRegionTwins, BlockStatisticsOfKnownBlocks) {
    // Black left half, white right half: G = 8160 and V = 8 * 255.
    std::vector<uint8_t> block(8 * 8);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) block[y * 8 + x] = x < 4 ? 0 : 255;
    uint16_t g, v;
    uint8_t m;
    AdaptRegionBin::IntegralGetBlockInfo(block.data(), 8, 8, 1, &g, &v, &m);
    EXPECT_EQ(g, 8160);
    EXPECT_EQ(v, 8 * 255);
    EXPECT_EQ(m, 127);
}

TEST(AdaptRegionTwins, BinaliseAllPhases) {
    for (int32_t width : {1, 7, 8, 9, 15, 16, 17, 33, 100}) {
        for (int32_t shift : {0, 1, 3}) {
            const auto pix = RandomBytes(width + shift, width);
            const auto a = RandomBytes(width + shift, width + 1);
            const auto b = RandomBytes(width + shift, width + 2);
            for (int phase = 0; phase < 4; ++phase) {
                std::vector<uint8_t> d1((width + 7) / 8 + 1, 0x5A), d2 = d1;
                Hokan::IntegrityBinalise(d1.data(), pix.data() + shift, a.data() + shift,
                                         b.data() + shift, width, phase);
                Hokan::SSEBinalise(d2.data(), pix.data() + shift, a.data() + shift,
                                   b.data() + shift, width, phase);
                ASSERT_EQ(d1, d2) << width << " " << shift << " " << phase;
            }
        }
    }
}

TEST(AdaptRegionTwins, SmoothingLinesAndRoughMap) {
    for (int32_t width : {1, 2, 31, 32, 33, 47, 64, 101}) {
        for (int32_t shift : {0, 1, 7}) {
            const auto s = RandomBytes(width + shift, width * 3 + shift);
            std::vector<uint16_t> h1(width), h2(width);
            Filter::IntegrityLine121Filter(h1.data(), s.data() + shift, width);
            Filter::SSE2Line121Filter(h2.data(), s.data() + shift, width);
            ASSERT_EQ(h1, h2) << width << " " << shift;

            std::vector<uint16_t> up(width), mid(width), down(width);
            std::mt19937 rng(width);
            for (int32_t x = 0; x < width; ++x) {
                up[x] = static_cast<uint16_t>(rng() % 1021);
                mid[x] = static_cast<uint16_t>(rng() % 1021);
                down[x] = static_cast<uint16_t>(rng() % 1021);
            }
            std::vector<uint8_t> o1(width), o2(width);
            Filter::IntegrityFilter121(o1.data(), up.data(), mid.data(), down.data(), width);
            Filter::MMXFilter121(o2.data(), up.data(), mid.data(), down.data(), width);
            ASSERT_EQ(o1, o2) << width;
        }
        // Rough map from random codes (every nibble value appears).
        const int32_t cells = width, rows = 5;
        // The map starts at an odd address to catch aligned-load assumptions.
        auto codes = RandomBytes(static_cast<size_t>(EdgeMapSync(cells)) * rows + 1, width + 11);
        EdgeMap edge{codes.data() + 1, cells, rows, EdgeMapSync(cells)};
        const int32_t rs = BitSync(cells);
        std::vector<uint8_t> r1(static_cast<size_t>(rs) * rows, 0), r2 = r1;
        EdgeCorrection::IntegrityEdgeInfoToRoughBin(ImagePlane{r1.data(), cells, rows, rs}, edge);
        EdgeCorrection::MMXEdgeInfoToRoughBin(ImagePlane{r2.data(), cells, rows, rs}, edge);
        ASSERT_EQ(r1, r2) << width;
        for (int32_t x = 0; x < cells; ++x) {
            const uint8_t c = edge.Get(x, 2);
            const int bit = (r1[2 * rs + x / 8] >> (7 - x % 8)) & 1;
            ASSERT_EQ(bit, (c == 12 || c == 14) ? 0 : 1) << x;
        }
        if (cells % 8 != 0) {
            EXPECT_EQ(r1[cells / 8] & (0xFF >> (cells % 8)), 0) << width;
        }
    }
}

// ---------------------------------------------------------------------------
// Parameters and helpers

TEST(AdaptRegion, ParameterTable) {
    const struct {
        int32_t level;
        uint32_t A, B, C, D, E;
    } table[] = {{0, 350, 300, 300, 255, 255}, {64, 234, 177, 179, 167, 157},
                 {128, 120, 55, 60, 80, 60},   {160, 90, 41, 45, 60, 45},
                 {200, 52, 24, 26, 35, 26},    {255, 1, 1, 1, 1, 1}};
    for (const auto& t : table) {
        const AdaptParams p = MakeAdaptParams(t.level, t.level);
        EXPECT_EQ(p.A, t.A) << t.level;
        EXPECT_EQ(p.B, t.B) << t.level;
        EXPECT_EQ(p.C, t.C) << t.level;
        EXPECT_EQ(p.D, t.D) << t.level;
        EXPECT_EQ(p.E, t.E) << t.level;
        EXPECT_EQ(p.T, 100u);
    }
    // The contrast thresholds follow the next slice, the levels the first.
    const AdaptParams mixed = MakeAdaptParams(128, 200);
    EXPECT_EQ(mixed.A, 52u);
    EXPECT_EQ(mixed.C, 26u);
    EXPECT_EQ(mixed.D, 80u);
    EXPECT_EQ(mixed.E, 60u);
}

TEST(AdaptRegion, HokanInterpolatesInThirds) {
    const uint8_t samples[3] = {30, 60, 90};
    std::vector<uint8_t> line(14);
    Hokan::Hokan(line.data(), 14, samples, 4, 3);
    const std::vector<uint8_t> expect = {30, 30, 30, 30, 30, 40, 50, 60, 60, 70, 80, 90, 90, 90};
    EXPECT_EQ(line, expect);
    Hokan::Hokan(line.data(), 14, samples, 4, 0);
    EXPECT_EQ(line, std::vector<uint8_t>(14, 128));
}

TEST(AdaptRegion, OnePixelWideSmoothing) {
    TestImage img = TestImage::Gray(1, 3, 0);
    img.set(0, 0, 16);
    img.set(0, 1, 100);
    img.set(0, 2, 200);
    const ImagePlane plane{img.data(), 1, 3, img.sync()};
    Filter::FilterFunc(plane);
    EXPECT_EQ(img.get(0, 0), (4u * 16 + 8 * 16 + 4 * 100) / 16);
    EXPECT_EQ(img.get(0, 1), (4u * 16 + 8 * 100 + 4 * 200) / 16);
    EXPECT_EQ(img.get(0, 2), (4u * 100 + 8 * 200 + 4 * 200) / 16);
}

// ---------------------------------------------------------------------------
// Class-map clean-up

namespace {

struct Bits {
    int32_t w, h, sync;
    std::vector<uint8_t> b;
    Bits(int32_t w_, int32_t h_, int fill = 0)
        : w(w_), h(h_), sync(BitSync(w_)), b(static_cast<size_t>(sync) * h_, 0) {
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) Put(x, y, fill);
    }
    int Get(int32_t x, int32_t y) const { return (b[y * sync + x / 8] >> (7 - x % 8)) & 1; }
    void Put(int32_t x, int32_t y, int v) {
        uint8_t& byte = b[y * sync + x / 8];
        const uint8_t m = static_cast<uint8_t>(0x80 >> (x % 8));
        byte = v ? (byte | m) : (byte & ~m);
    }
};

struct Map {
    int32_t w, h;
    std::vector<uint8_t> cells;
    EdgeMap edge;
    Map(int32_t w_, int32_t h_, uint8_t code)
        : w(w_), h(h_), cells(static_cast<size_t>(EdgeMapSync(w_)) * h_, 0), edge{nullptr, w_, h_,
                                                                                  EdgeMapSync(w_)} {
        edge.p = cells.data();
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) edge.Set(x, y, code);
    }
};

} // namespace

TEST(RunLenFilter, UniformMapsAndIsolatedBits) {
    for (int fill : {0, 1}) {
        Bits img(13, 11, fill);
        const auto before = img.b;
        ASSERT_TRUE(RunLenFilter::RunLenFilter(ImagePlane{img.b.data(), img.w, img.h, img.sync}));
        EXPECT_EQ(img.b, before) << fill;

        // One pixel of the other value inside is flipped back.
        img.Put(6, 5, !fill);
        ASSERT_TRUE(RunLenFilter::RunLenFilter(ImagePlane{img.b.data(), img.w, img.h, img.sync}));
        EXPECT_EQ(img.b, before) << fill;
    }
}

TEST(RunLenFilter, FirstAndLastRunsOfALineStay) {
    // A single black pixel at both ends of a white row and the column ends:
    // they are the first and last runs of their lines and are not erased.
    Bits img(16, 16, 0);
    img.Put(0, 0, 1);
    img.Put(15, 15, 1);
    const auto before = img.b;
    ASSERT_TRUE(RunLenFilter::RunLenFilter(ImagePlane{img.b.data(), img.w, img.h, img.sync}));
    EXPECT_EQ(img.b, before);
}

namespace {

// The run filter as first described: the image is turned by the handle's
// quarter turns and each row is handled as a list of (black, white) pairs,
// with bit 15 protecting the first and the last run.
using Pairs = std::vector<std::pair<uint32_t, uint32_t>>;

Pairs Compress(const Pairs& in) {
    if (in.size() < 2) return in;
    Pairs out{in[0]};
    for (size_t i = 1; i < in.size(); ++i) {
        if (in[i].first == 0 && in[i].second == 0) continue;
        if (out.back().second != 0 && in[i].first != 0) {
            out.push_back(in[i]);
        } else {
            out.back().first += in[i].first;
            out.back().second += in[i].second;
        }
    }
    return out;
}

Pairs RowRuns(const uint8_t* row, int32_t width) {
    std::vector<uint32_t> lengths;
    int cur = 1; // lists start with a black run, possibly empty
    uint32_t len = 0;
    for (int32_t x = 0; x < width; ++x) {
        const int bit = (row[x / 8] >> (7 - x % 8)) & 1;
        if (bit != cur) {
            lengths.push_back(len);
            len = 0;
            cur = bit;
        }
        ++len;
    }
    lengths.push_back(len);
    if (lengths.size() % 2) lengths.push_back(0);
    Pairs p;
    for (size_t i = 0; i < lengths.size(); i += 2) p.push_back({lengths[i], lengths[i + 1]});
    return Compress(p);
}

Pairs EraseNoise(Pairs p, uint32_t n, int mode) {
    constexpr uint32_t kProtect = 0x8000;
    if (p.front().first != 0)
        p.front().first |= kProtect;
    else
        p.front().second |= kProtect;
    if (p.back().second != 0)
        p.back().second |= kProtect;
    else
        p.back().first |= kProtect;
    for (auto& [b, w] : p) {
        if (mode == 0 && b <= n) {
            w += b;
            b = 0;
        } else if (mode == 1 && w <= n) {
            b += w;
            w = 0;
        }
    }
    for (auto* q : {&p.front(), &p.back()}) {
        q->first &= ~kProtect;
        q->second &= ~kProtect;
    }
    return Compress(p);
}

void ReferenceRunLenFilter(CImageInfoPtr& img) {
    for (uint32_t n = 1; n <= 4; ++n) {
        for (int pass = 0; pass < 4; ++pass) {
            ASSERT_TRUE(pass % 2 == 0 ? img.Rotate90R() : img.Rotate90L());
            for (int32_t y = 0; y < img.Height(); ++y) {
                uint8_t* row = img.GetPtr() + static_cast<size_t>(y) * img.Sync();
                const int32_t w = img.Width();
                const Pairs p = EraseNoise(EraseNoise(RowRuns(row, w), n, 0), n, 1);
                for (int32_t i = 0; i < (w + 7) / 8; ++i) row[i] = 0;
                uint32_t x = 0;
                for (auto [b, wl] : p) {
                    for (uint32_t k = 0; k < b; ++k, ++x)
                        row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
                    x += wl;
                }
            }
        }
    }
}

} // namespace

TEST(RunLenFilter, MatchesTheQuarterTurnForm) {
    // Sizes on both sides of the 64-line lanes of the filter.
    for (auto [w, h] : {std::pair{13, 11}, {8, 8}, {17, 30}, {40, 9}, {3, 21}, {64, 64}, {70, 130},
                        {129, 65}}) {
        for (int density : {15, 50, 85}) {
            Bits img(w, h);
            std::mt19937 rng(w * 1000 + h * 10 + density);
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x)
                    img.Put(x, y, static_cast<int>(rng() % 100) < density);
            CImageInfoPtr ref;
            ASSERT_TRUE(ref.CreateImage(w, img.sync, h, 1, 1, 300, 300));
            std::copy(img.b.begin(), img.b.end(), ref.GetPtr());
            ReferenceRunLenFilter(ref);
            ASSERT_TRUE(RunLenFilter::RunLenFilter(ImagePlane{img.b.data(), w, h, img.sync}));
            ASSERT_EQ(ref.Sync(), img.sync);
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x)
                    ASSERT_EQ((ref.GetPtr()[y * ref.Sync() + x / 8] >> (7 - x % 8)) & 1,
                              img.Get(x, y))
                        << w << "x" << h << " " << density << " at " << x << "," << y;
        }
    }
}

TEST(EdgeCorrection, IsolatedBusyCellSwitchesToWeakEdge) {
    Map map(9, 9, 0);
    map.edge.Set(4, 4, 12);
    ASSERT_TRUE(AdaptRegionBin::IpEdgeCorrection(map.edge));
    EXPECT_EQ(map.edge.Get(4, 4), 7);
    for (int32_t y = 0; y < 9; ++y)
        for (int32_t x = 0; x < 9; ++x)
            if (x != 4 || y != 4) {
                EXPECT_EQ(map.edge.Get(x, y), 0) << x << "," << y;
            }

    // And a flat cell inside busy cells becomes busy.
    Map busy(9, 9, 14);
    busy.edge.Set(4, 4, 0);
    ASSERT_TRUE(AdaptRegionBin::IpEdgeCorrection(busy.edge));
    EXPECT_EQ(busy.edge.Get(4, 4), 14);
}

TEST(ComplementEdge, IsolateRemovalAndStrain) {
    // Too small for isolate removal: nothing changes.
    Map small(4, 9, 0);
    small.edge.Set(2, 4, 12);
    const auto before = small.cells;
    ComplementEdge::RemoveIsolateInfo(small.edge);
    EXPECT_EQ(small.cells, before);

    // A weak edge among flat cells (R0 > 22) turns flat.
    Map iso(7, 7, 0);
    iso.edge.Set(3, 3, 7);
    ComplementEdge::RemoveIsolateInfo(iso.edge);
    EXPECT_EQ(iso.edge.Get(3, 3), 0);

    // A flat cell whose upper-left neighbour is a strong edge becomes 9 and
    // takes that edge slice, even with busy neighbours later in the order.
    Map strain(3, 3, 0);
    strain.edge.Set(0, 0, 15);
    for (auto [x, y] : {std::pair{2, 1}, {0, 2}, {1, 2}, {2, 2}, {2, 0}}) strain.edge.Set(x, y, 14);
    std::vector<uint8_t> edgeSlice(4 * 3, 0), mixed(4 * 3, 0);
    edgeSlice[0] = 77;
    ComplementEdge::StrainEdge(strain.edge, ImagePlane{edgeSlice.data(), 3, 3, 4},
                               ImagePlane{mixed.data(), 3, 3, 4});
    EXPECT_EQ(strain.edge.Get(1, 1), 9);
    EXPECT_EQ(edgeSlice[1 * 4 + 1], 77);

    // Busy cell with three edge neighbours becomes 11 and takes the slice of
    // the third.
    Map busy(3, 3, 0);
    busy.edge.Set(1, 1, 14);
    busy.edge.Set(0, 0, 12);
    busy.edge.Set(1, 0, 7);
    busy.edge.Set(0, 1, 15);
    std::vector<uint8_t> es(12, 0), ms(12, 0);
    ms[1 * 4 + 0] = 55;
    ComplementEdge::StrainEdge(busy.edge, ImagePlane{es.data(), 3, 3, 4},
                               ImagePlane{ms.data(), 3, 3, 4});
    EXPECT_EQ(busy.edge.Get(1, 1), 11);
    EXPECT_EQ(ms[1 * 4 + 1], 55);
}

// ---------------------------------------------------------------------------
// Kind 8 and kind 10 through the handle interface

TEST(AdaptRegionKind, UniformPages) {
    const struct {
        uint8_t value;
        uint32_t black;
    } cases[] = {{255, 0}, {80, 0}, {50, 1}}; // D = 80: equal is white
    for (const auto& c : cases) {
        for (auto [w, h] : {std::pair{8, 8}, {37, 29}, {64, 20}}) {
            TestImage src = TestImage::Gray(w, h, c.value);
            TestImage dst = TestImage::Binary(w, h);
            ASSERT_EQ(RunKind(kBinAdaptRegion, dst, src), 0);
            EXPECT_EQ(g_lastError, 0u);
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x)
                    ASSERT_EQ(dst.get(x, y), c.black) << int(c.value) << " " << x << "," << y;
            // The inversion leaves the bits beyond the width set.
            if (w % 8 != 0) {
                EXPECT_EQ(dst.line(0)[w / 8] & (0xFF >> (w % 8)), 0xFF >> (w % 8));
            }
        }
    }
}

TEST(AdaptRegionKind, TextPageIsBinarisedPlausibly) {
    TestImage src = kdtest::TextPage(200, 120, 1, 0, 7, 235, 30);
    TestImage dst = TestImage::Binary(200, 120);
    ASSERT_EQ(RunKind(kBinAdaptRegion, dst, src), 0);
    ASSERT_EQ(g_lastError, 0u);
    // Ink pixels come out black and paper pixels white almost everywhere.
    int wrong = 0, total = 0;
    for (int32_t y = 0; y < 120; ++y)
        for (int32_t x = 0; x < 200; ++x) {
            const uint32_t v = src.get(x, y);
            if (v > 60 && v < 200) continue; // anti-aliased edges
            ++total;
            wrong += dst.get(x, y) != (v < 128 ? 1u : 0u);
        }
    EXPECT_LT(wrong * 100, total * 2) << wrong << " of " << total;
}

TEST(AdaptRegionKind, SmallImageGetsDefinedResultAndRecordWriteBack) {
    TestImage src = TestImage::Gray(7, 5, 60);
    src.set(3, 2, 200);
    TestImage dst = TestImage::Binary(7, 5);
    std::fill(dst.bytes().begin(), dst.bytes().end(), 0x00);
    tagBINFUNCINFO r{};
    r.size = kBinFuncInfoSizeLong;
    r.kind = kBinAdaptRegion;
    r.firstSlice = 128;
    r.nextSlice = 200;
    ASSERT_EQ(BinalizeRectEx(dst.info(), src.info(), &r), 0);
    EXPECT_EQ(IpGetLastError(), 0u);
    // Compared with the flat level D = 80 like a flat block.
    for (int32_t y = 0; y < 5; ++y)
        for (int32_t x = 0; x < 7; ++x)
            EXPECT_EQ(dst.get(x, y), (x == 3 && y == 2) ? 0u : 1u) << x << "," << y;
    // The slice chosen at start becomes the next slice; the line count stays.
    EXPECT_EQ(r.nextSlice, 128u);
    EXPECT_EQ(r.lineCount, 0u);
    ReleaseBinalizeHandle(&r);
}

TEST(AdaptRegionKind, NonGraySourceIsRefused) {
    for (uint32_t kind : {kBinAdaptRegion, kBinExtractEdge}) {
        TestImage src = TestImage::Color(32, 32, 0, 0);
        TestImage dst = TestImage::Binary(32, 32);
        std::fill(dst.bytes().begin(), dst.bytes().end(), 0x33);
        const auto before = dst.bytes();
        ASSERT_EQ(RunKind(kind, dst, src), 0);
        EXPECT_EQ(g_lastError, kIpErrCannotRun);
        EXPECT_EQ(dst.bytes(), before);
    }
}

TEST(ExtractEdgeKind, MaskOfEdgeBlocks) {
    {
        TestImage src = TestImage::Gray(40, 40, 90);
        TestImage dst = TestImage::Binary(40, 40);
        ASSERT_EQ(RunKind(kBinExtractEdge, dst, src), 0);
        EXPECT_TRUE(
            std::all_of(dst.bytes().begin(), dst.bytes().end(), [](uint8_t b) { return b == 0; }));
    }
    {
        // Vertical border at x = 4 inside block 0 of a 12-pixel-wide image:
        // block 0 (x 0..7) is an edge, block 1 (x 4..11) too.
        TestImage src = TestImage::Gray(12, 8, 255);
        for (int32_t y = 0; y < 8; ++y)
            for (int32_t x = 0; x < 4; ++x) src.set(x, y, 0);
        TestImage dst = TestImage::Binary(12, 8);
        ASSERT_EQ(RunKind(kBinExtractEdge, dst, src), 0);
        for (int32_t y = 0; y < 8; ++y) {
            EXPECT_EQ(dst.line(y)[0], y < 4 ? 0xF0 : 0x00) << y; // W = 2, H = 1
            EXPECT_EQ(dst.line(y)[1], 0x00) << y;
        }
        // A second call keeps what is set; nothing is cleared.
        dst.line(7)[0] = 0x01;
        ASSERT_EQ(RunKind(kBinExtractEdge, dst, src), 0);
        EXPECT_EQ(dst.line(7)[0], 0x01);
    }
    {
        // Too small for a block: an empty mask within the width.
        TestImage src = TestImage::Gray(6, 6, 0);
        TestImage dst = TestImage::Binary(6, 6);
        std::fill(dst.bytes().begin(), dst.bytes().end(), 0xFF);
        ASSERT_EQ(RunKind(kBinExtractEdge, dst, src), 0);
        EXPECT_EQ(g_lastError, 0u);
        for (int32_t y = 0; y < 6; ++y) EXPECT_EQ(dst.line(y)[0], 0x03) << y;
    }
}

TEST(AdaptRegionKind, PortableAndVectorPathsAgree) {
    // Pages of every block class (text: flat and edges; texture and noise:
    // busy blocks, smoothed pixels and their levels), widths that leave
    // vector tails and odd line lengths, destinations with spare bytes.
    // A text page with a patch of noise has a few busy blocks among flat
    // ones, whose smoothed levels are made for them alone.
    enum Page { kPhoto, kText, kTexture, kNoise, kPatch };
    const struct {
        Page page;
        int32_t w, h;
    } pages[] = {{kPhoto, 157, 93}, {kText, 300, 90},   {kTexture, 8, 8},  {kTexture, 9, 13},
                 {kTexture, 37, 29}, {kNoise, 64, 20},  {kTexture, 131, 67}, {kNoise, 255, 41},
                 {kTexture, 200, 9}, {kTexture, 12, 70}, {kTexture, 34, 12}, {kNoise, 66, 10},
                 {kPatch, 1400, 900}};
    // Levels beyond 0..255 give thresholds beyond 16 bits.
    const std::pair<uint32_t, uint32_t> slices[] = {
        {128, 128}, {140, 110}, {60, 200}, {1000, 0xFFFFFF00u}};
    for (uint32_t kind : {kBinAdaptRegion, kBinExtractEdge}) {
        for (const auto& pg : pages) {
            TestImage src(pg.w, pg.h, 8, 1, 1, pg.w + 3);
            if (pg.page == kPhoto || pg.page == kText || pg.page == kPatch) {
                const TestImage page = pg.page == kPhoto ? kdtest::PhotoPage(pg.w, pg.h, 1, 0, 4)
                                                         : kdtest::TextPage(pg.w, pg.h, 1, 0, 5);
                for (int32_t y = 0; y < pg.h; ++y)
                    for (int32_t x = 0; x < pg.w; ++x) src.set(x, y, page.get(x, y));
            }
            if (pg.page == kPatch) {
                // Fine noise (busy, code 14) beside coarse stripes of noise
                // (busy with contrast, 12), so the strain step makes 11s too.
                std::mt19937 rng(pg.w);
                for (int32_t y = 40; y < 72; ++y)
                    for (int32_t x = 50; x < 114; ++x) {
                        const uint32_t base = x < 82 ? 100 : ((x / 6 + y / 7) % 2 ? 40 : 190);
                        src.set(x, y, base + rng() % 60);
                    }
            }
            const auto tex = pg.page == kNoise ? RandomBytes(src.bytes().size(), pg.w)
                                               : Texture(src.bytes().size(), pg.w + pg.h);
            // The photo gets texture on every third byte, the text page none.
            const size_t step = pg.page == kPhoto ? 3 : 1;
            if (pg.page != kText && pg.page != kPatch)
                for (size_t i = 0; i < tex.size(); i += step) src.bytes()[i] = tex[i];
            const int32_t dstSync = (pg.w + 7) / 8 + 5;
            for (const auto& [first, next] : slices) {
                TestImage a(pg.w, pg.h, 1, 1, 1, dstSync);
                {
                    pathtest::Use use(pathtest::Path::Portable);
                    ASSERT_EQ(RunKind(kind, a, src, first, next), 0);
                }
                for (pathtest::Path path : pathtest::Available()) {
                    pathtest::Use use(path);
                    TestImage b(pg.w, pg.h, 1, 1, 1, dstSync);
                    ASSERT_EQ(RunKind(kind, b, src, first, next), 0);
                    ASSERT_EQ(a.bytes(), b.bytes()) << kind << ' ' << pathtest::Name(path) << ' '
                                                    << pg.w << 'x' << pg.h << ' ' << first;
                }
            }
        }
    }
}

TEST(BinarizeKinds, TightBuffersOfManySizes) {
    // Sources without line padding and destinations exactly as large as the
    // result: every kind stays inside both buffers (checked under the
    // address sanitizer) and leaves the last-error word clear.
    const uint32_t kinds[] = {kBinErrorDiffusion, kBinMedian, kBinAdaptRegion,
                              kBinExtractEdge,    kBinDouble, kBinDoubleLinear,
                              kBinDoubleCubic};
    for (uint32_t kind : kinds) {
        const int32_t scale = kind >= kBinDouble ? 2 : 1;
        for (int32_t w : {8, 9, 11, 12, 15, 16, 17, 19, 31, 33, 50}) {
            if (kind == kBinMedian && w < 9) continue; // the 9 x 9 window must fit
            for (int32_t h : {8, 9, 13, 21}) {
                TestImage src(w, h, 8, 1, 1, w);
                const auto bytes = RandomBytes(src.bytes().size(), w * 100 + h);
                std::copy(bytes.begin(), bytes.end(), src.bytes().begin());
                TestImage dst(w * scale, h * scale, 1, 1, 1, (w * scale + 7) / 8);
                ASSERT_EQ(RunKind(kind, dst, src), 0) << kind << " " << w << "x" << h;
                EXPECT_EQ(g_lastError, 0u) << kind << " " << w << "x" << h;
            }
        }
    }
}

TEST(AdaptRegionKind, BusyBlocksWithoutContrastUseLevelEOnSmoothedPixels) {
    // Fine noise has high activity but little contrast: its blocks are busy
    // (code 14), take the level E = 60 and are compared smoothed. So noise
    // around 130 comes out white and noise around 30 black, where a fixed
    // threshold would scatter both.
    const struct {
        int lo, hi;
        uint32_t black;
    } cases[] = {{100, 160, 0}, {0, 60, 1}};
    for (const auto& c : cases) {
        TestImage src = TestImage::Gray(96, 64);
        std::mt19937 rng(c.lo + 1);
        for (int32_t y = 0; y < 64; ++y)
            for (int32_t x = 0; x < 96; ++x)
                src.set(x, y,
                        static_cast<uint32_t>(c.lo + static_cast<int>(rng() % (c.hi - c.lo + 1))));
        TestImage dst = TestImage::Binary(96, 64);
        ASSERT_EQ(RunKind(kBinAdaptRegion, dst, src), 0);
        // Away from the two outer block rings, which isolate removal does not
        // visit (a busy block with chance contrast there keeps code 12).
        int other = 0;
        for (int32_t y = 16; y < 64 - 20; ++y)
            for (int32_t x = 16; x < 96 - 20; ++x) other += dst.get(x, y) != c.black;
        EXPECT_EQ(other, 0) << c.lo << ".." << c.hi;
    }
}

namespace {

// The two clean-up passes transcribed from their tables, on a plain grid.
using Grid = std::vector<std::vector<int>>;

void ModelIsolate(Grid& g) {
    const int H = static_cast<int>(g.size()), W = static_cast<int>(g[0].size());
    for (int y = 2; y <= H - 3; ++y)
        for (int x = 2; x <= W - 3; ++x) {
            const int c = g[y][x];
            int n[16] = {}, ring[16] = {};
            for (int dy = -2; dy <= 2; ++dy)
                for (int dx = -2; dx <= 2; ++dx) {
                    if (dx == 0 && dy == 0) continue;
                    const bool inner = std::abs(dx) <= 1 && std::abs(dy) <= 1;
                    (inner ? n : ring)[g[y + dy][x + dx]]++;
                }
            const int r0 = n[0] + ring[0], r14 = n[14] + ring[14];
            int r = c;
            if (n[0] == 8)
                r = 0;
            else if (n[14] == 8)
                r = 14;
            else if (c == 0)
                r = (n[14] > 3 && n[0] + n[14] >= 8) ? 14 : 0;
            else if (c == 12) {
                if (r14 > 20 || n[14] == 7)
                    r = 14;
                else if (n[0] + n[15] + n[7] <= 6)
                    r = 12;
                else
                    r = (n[15] + n[7] >= 3) ? 7 : 0;
            } else if (c == 15)
                r = (n[14] + n[12] >= 8) ? 12 : 15;
            else if (c == 7) {
                if (r0 > 22 || n[0] + n[14] >= 8)
                    r = 0;
                else if (n[0] + n[15] + n[7] >= 8)
                    r = n[15] == 0 ? 15 : 7;
                else if (n[14] + n[7] + n[12] >= 7)
                    r = 12;
            } else if (c == 14)
                r = (n[0] + n[15] + n[7] + n[14] >= 7 && n[14] <= 1) ? 0 : 14;
            g[y][x] = r;
        }
}

void ModelStrain(Grid& g, Grid& es, Grid& ms) {
    const int H = static_cast<int>(g.size()), W = static_cast<int>(g[0].size());
    const int dxs[8] = {-1, 0, 1, -1, 1, -1, 0, 1}, dys[8] = {-1, -1, -1, 0, 0, 1, 1, 1};
    for (int y = 1; y <= H - 2; ++y)
        for (int x = 1; x <= W - 2; ++x) {
            int k = 0, m = 0;
            const int c = g[y][x];
            for (int i = 0; i < 8; ++i) {
                const int ny = y + dys[i], nx = x + dxs[i], nc = g[ny][nx];
                if (c == 0 && (nc == 15 || (nc == 7 && ++m == 2))) {
                    g[y][x] = 9;
                    es[y][x] = es[ny][nx];
                    break;
                }
                if (c == 0 && (nc == 12 || nc == 14) && ++k == 5) {
                    g[y][x] = 14;
                    break;
                }
                if (c == 14 && (nc == 12 || nc == 15 || nc == 7) && ++k == 3) {
                    g[y][x] = 11;
                    ms[y][x] = ms[ny][nx];
                    break;
                }
                if (c == 15 && (nc == 12 || nc == 14) && ++k == 5) {
                    g[y][x] = 12;
                    break;
                }
            }
        }
}

} // namespace

TEST(ComplementEdge, CleanUpMatchesTablesOnRandomMaps) {
    const int codes[5] = {0, 7, 12, 14, 15};
    for (pathtest::Path path : pathtest::Available()) {
        pathtest::Use use(path);
        for (uint32_t seed = 1; seed <= 20; ++seed) {
            std::mt19937 rng(seed);
            const int W = 5 + static_cast<int>(rng() % 40), H = 5 + static_cast<int>(rng() % 40);
            Map map(W, H, 0);
            Grid g(H, std::vector<int>(W)), es = g, ms = g;
            std::vector<uint8_t> esBuf(static_cast<size_t>(ByteSync(W)) * H), msBuf = esBuf;
            // Square patches of one code with scattered others, so both the
            // uniform areas and the mixed borders occur.
            std::vector<int> patches(64);
            for (int& c : patches) c = codes[rng() % 5];
            for (int y = 0; y < H; ++y)
                for (int x = 0; x < W; ++x) {
                    const int patch = patches[(y / 6) * 8 + x / 6];
                    g[y][x] = rng() % 7 == 0 ? codes[rng() % 5] : patch;
                    es[y][x] = static_cast<int>(rng() % 256);
                    ms[y][x] = static_cast<int>(rng() % 256);
                    map.edge.Set(x, y, static_cast<uint8_t>(g[y][x]));
                    esBuf[y * ByteSync(W) + x] = static_cast<uint8_t>(es[y][x]);
                    msBuf[y * ByteSync(W) + x] = static_cast<uint8_t>(ms[y][x]);
                }
            ModelIsolate(g);
            ModelStrain(g, es, ms);
            ComplementEdge::CompEdgeInfo(map.edge, ImagePlane{esBuf.data(), W, H, ByteSync(W)},
                                         ImagePlane{msBuf.data(), W, H, ByteSync(W)});
            for (int y = 0; y < H; ++y)
                for (int x = 0; x < W; ++x) {
                    ASSERT_EQ(map.edge.Get(x, y), g[y][x]) << seed << " at " << x << "," << y;
                    ASSERT_EQ(esBuf[y * ByteSync(W) + x], es[y][x]) << seed;
                    ASSERT_EQ(msBuf[y * ByteSync(W) + x], ms[y][x]) << seed;
                }
        }
    }
}

TEST(AdaptRegion, ExtremeSliceLevelsAreDefined) {
    // Levels beyond 0..255 are not clamped; they must still give defined
    // parameters (no overflow) and a result without error.
    for (uint32_t level : {256u, 1000u, 0x80000000u, 0xFFFFFFFFu}) {
        const AdaptParams p =
            MakeAdaptParams(static_cast<int32_t>(level), static_cast<int32_t>(level));
        EXPECT_EQ(p.T, 100u);
        TestImage src = kdtest::TextPage(40, 24, 1, 0, 3);
        TestImage dst = TestImage::Binary(40, 24);
        ASSERT_EQ(RunKind(kBinAdaptRegion, dst, src, level, level), 0) << level;
        EXPECT_EQ(g_lastError, 0u);
    }
}
