// The raw-line encoder against the collection rules: a decoder written here
// from the segment rules alone must give every page back.
#include "KdSensorModel.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

using namespace kdsensor;

namespace {

struct Table {
    int dpi, layout;
    int startB, startA, startC;
    int phase1, phase2, phase3;
};
// Start positions B, A, C and phase lengths, as the collection stage knows them.
const Table kTables[] = {
    {300, 0, 2551, 1700, 836, 13, 824, 27},
    {300, 1, 2551, 1687, 823, 0, 824, 40},
    {600, 0, 5103, 3401, 1673, 26, 1648, 54},
    {600, 1, 5103, 3375, 1647, 0, 1648, 80},
};
const Table& table(int dpi, int layout) {
    for (const Table& t : kTables)
        if (t.dpi == dpi && t.layout == layout) return t;
    throw std::logic_error("no table");
}

// Collects one side from a raw row of samples, the way the library does:
// segment cursors written downwards by phase, then the front mirrored.
// sampleOf(p, seg) gives the raw sample of segment seg (0 A, 1 B, 2 C) at
// position p for this side.
template <class F>
std::vector<uint16_t> collectSide(const Table& t, bool mirror, F sampleOf) {
    const int positions = t.phase1 + t.phase2 + t.phase3;
    const int width = t.dpi == 300 ? 2552 : 5104;
    std::vector<uint16_t> line(static_cast<size_t>(width), 0xFFFF);
    int a = t.startA, b = t.startB, c = t.startC;
    for (int p = 0; p < positions; ++p) {
        const int phase = p < t.phase1 ? 1 : (p < t.phase1 + t.phase2 ? 2 : 3);
        line.at(static_cast<size_t>(a--)) = sampleOf(p, 0);
        if (phase != 1) line.at(static_cast<size_t>(b--)) = sampleOf(p, 1);
        if (phase != 3) line.at(static_cast<size_t>(c--)) = sampleOf(p, 2);
    }
    if (mirror) std::reverse(line.begin(), line.end());
    return line;
}

// Front and back lines of one raw row (one window: only `front` is filled).
void collectRow(const Table& t, const std::vector<uint16_t>& raw, int windows,
                std::vector<uint16_t>& front, std::vector<uint16_t>& back) {
    if (windows == 1) {
        front = collectSide(t, true, [&](int p, int seg) { return raw[3 * p + seg]; });
        return;
    }
    // back B, back C, front A, back A, front B, front C
    static const int frontAt[3] = {2, 4, 5}, backAt[3] = {3, 0, 1};
    front = collectSide(t, true, [&](int p, int seg) { return raw[6 * p + frontAt[seg]]; });
    back = collectSide(t, false, [&](int p, int seg) { return raw[6 * p + backAt[seg]]; });
}

std::vector<uint16_t> rowSamples(const ScanFormat& f, const uint8_t* row) {
    std::vector<uint16_t> s(f.samplesPerRow());
    if (f.bits == 12) {
        unpack12(row, s.size(), s.data());
    } else {
        for (size_t i = 0; i < s.size(); ++i) s[i] = row[i];
    }
    return s;
}

std::vector<uint8_t> randomImage(int w, int h, int channels, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> px(static_cast<size_t>(w) * h * channels);
    for (auto& v : px) v = static_cast<uint8_t>(rng());
    return px;
}

} // namespace

TEST(SensorGeometry, EveryCollectedPixelComesFromExactlyOneSlot) {
    for (const Table& t : kTables) {
        const SensorGeometry& g = geometry(t.dpi, t.layout);
        for (bool mirrored : {false, true}) {
            const auto& map = slotPixels(t.dpi, t.layout, mirrored);
            ASSERT_EQ(map.size(), static_cast<size_t>(g.slotCount()));
            std::vector<int> hits(static_cast<size_t>(g.collectedWidth), 0);
            int idle = 0;
            for (int32_t x : map) {
                if (x < 0) { ++idle; continue; }
                ASSERT_LT(x, g.collectedWidth);
                ++hits[static_cast<size_t>(x)];
            }
            EXPECT_EQ(idle, g.dummySlots) << t.dpi << "/" << t.layout;
            for (int h : hits) ASSERT_EQ(h, 1) << t.dpi << "/" << t.layout;
        }
    }
}

TEST(SensorGeometry, FirstAndLastOutputPixelAt300DpiLayout0) {
    // After mirroring, the first pixel is s1 of position 13 (the first sample
    // segment B receives), the last s2 of position 836.
    const auto& map = slotPixels(300, 0, true);
    EXPECT_EQ(map[3 * 13 + 1], 0);
    EXPECT_EQ(map[3 * 836 + 2], 2551);
    // Idle slots: B in phase 1, C in phase 3.
    EXPECT_EQ(map[3 * 12 + 1], -1);
    EXPECT_EQ(map[3 * 837 + 2], -1);
    EXPECT_NE(map[3 * 837 + 1], -1);
}

TEST(SensorGeometry, Layout1HasNoPhase1AndFullSegmentsAAndB) {
    for (int dpi : {300, 600}) {
        const auto& map = slotPixels(dpi, 1, true);
        const int positions = geometry(dpi, 1).positions;
        int a = 0, b = 0, c = 0;
        for (int p = 0; p < positions; ++p) {
            a += map[3 * p] >= 0;
            b += map[3 * p + 1] >= 0;
            c += map[3 * p + 2] >= 0;
        }
        EXPECT_EQ(a, positions);
        EXPECT_EQ(b, positions);
        EXPECT_EQ(c, positions - (dpi == 300 ? 40 : 80));
    }
}

TEST(SensorGeometry, RefusesOtherResolutionsAndLayouts) {
    EXPECT_THROW(geometry(400, 0), std::invalid_argument);
    EXPECT_THROW(geometry(300, 2), std::invalid_argument);
    ScanFormat f;
    f.bits = 16;
    EXPECT_THROW(f.check(), std::invalid_argument);
    f.bits = 8;
    f.front = false;
    EXPECT_THROW(f.check(), std::invalid_argument);
}

TEST(Pack12, TwoSamplesInThreeBytes) {
    const uint16_t s[4] = {0xABC, 0x123, 0xFFF, 0x001};
    std::vector<uint8_t> out(packed12Bytes(4), 0xEE);
    pack12(s, 4, out.data());
    ASSERT_EQ(out.size(), 6u);
    EXPECT_EQ(out, (std::vector<uint8_t>{0xBC, 0x3A, 0x12, 0xFF, 0x1F, 0x00}));
    uint16_t back[4];
    unpack12(out.data(), 4, back);
    EXPECT_EQ(std::vector<uint16_t>(back, back + 4), std::vector<uint16_t>(s, s + 4));
}

TEST(Pack12, RowSizesAsTheDataSourceReadsThem) {
    EXPECT_EQ(packed12Bytes(2592), 3888u);
    EXPECT_EQ(packed12Bytes(5184), 7776u);
    EXPECT_EQ(packed12Bytes(10368), 15552u);
    ScanFormat f;
    f.bits = 12;
    f.colour = true;
    f.back = true;
    EXPECT_EQ(f.samplesPerRow(), 5184u);
    EXPECT_EQ(f.lineBytes(), 3u * 7776u);
}

struct RoundTrip {
    int dpi, layout, bits;
    bool colour, front, back;
};

class EncoderRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(EncoderRoundTrip, CollectedLinesGiveThePageBack) {
    const RoundTrip rt = GetParam();
    ScanFormat f;
    f.xdpi = rt.dpi;
    f.layout = rt.layout;
    f.bits = rt.bits;
    f.colour = rt.colour;
    f.front = rt.front;
    f.back = rt.back;
    const int w = f.collectedWidth(), h = 5, ch = rt.colour ? 3 : 1;
    auto frontPx = randomImage(w, h, ch, 7), backPx = randomImage(w, h, ch, 8);
    SideImage front{frontPx.data(), w, h, ch, static_cast<size_t>(w * ch)};
    SideImage back{backPx.data(), w, h, ch, static_cast<size_t>(w * ch)};
    EncodeOptions o;
    o.format = f;
    RawPageEncoder enc(o, &front, &back);
    ASSERT_EQ(enc.lines(), h);
    const Table& t = table(rt.dpi, rt.layout);
    const auto raw = enc.lines(0, h);
    ASSERT_EQ(raw.size(), f.lineBytes() * h);
    const int scale = rt.bits == 12 ? 16 : 1;
    for (int y = 0; y < h; ++y) {
        for (int r = 0; r < ch; ++r) {
            const uint8_t* row = raw.data() + f.lineBytes() * y + f.rowBytes() * r;
            std::vector<uint16_t> lf, lb;
            collectRow(t, rowSamples(f, row), f.windows(), lf, lb);
            // One window carries whichever side it reads as the collected front.
            const std::vector<uint8_t>& first = rt.front ? frontPx : backPx;
            for (int x = 0; x < w; ++x) {
                const size_t i = (static_cast<size_t>(y) * w + x) * ch + r;
                ASSERT_EQ(lf[static_cast<size_t>(x)], first[i] * scale) << "x " << x << " y " << y;
                if (f.windows() == 2) {
                    ASSERT_EQ(lb[static_cast<size_t>(x)], backPx[i] * scale) << "x " << x;
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, EncoderRoundTrip,
    ::testing::Values(RoundTrip{300, 0, 8, false, true, false}, RoundTrip{300, 1, 8, false, true, false},
                      RoundTrip{600, 0, 8, false, true, false}, RoundTrip{600, 1, 8, true, true, false},
                      RoundTrip{300, 0, 8, true, true, true}, RoundTrip{300, 1, 8, false, true, true},
                      RoundTrip{600, 0, 8, false, true, true}, RoundTrip{600, 1, 8, true, true, true},
                      RoundTrip{300, 0, 12, true, true, false}, RoundTrip{300, 1, 12, false, false, true},
                      RoundTrip{600, 0, 12, true, true, true}, RoundTrip{600, 1, 12, false, true, true},
                      RoundTrip{300, 0, 12, false, true, true}, RoundTrip{300, 1, 12, true, true, true}));

TEST(RawPageEncoder, TwoWindowsCarryTheLagAndReadLeadInOutsideTheImage) {
    ScanFormat f;
    f.back = true;
    const int w = f.collectedWidth(), h = 4;
    std::vector<uint8_t> fp(static_cast<size_t>(w) * h), bp(fp.size());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            fp[static_cast<size_t>(y * w + x)] = static_cast<uint8_t>(10 + y);
            bp[static_cast<size_t>(y * w + x)] = static_cast<uint8_t>(100 + y);
        }
    SideImage front{fp.data(), w, h, 1, static_cast<size_t>(w)};
    SideImage back{bp.data(), w, h, 1, static_cast<size_t>(w)};
    const Table& t = table(300, 0);
    for (int lag : {3, -3}) {
        EncodeOptions o;
        o.format = f;
        o.lag = lag;
        o.leadIn = 250;
        RawPageEncoder enc(o, &front, &back);
        ASSERT_EQ(enc.lines(), h + 3);
        for (int n = 0; n < enc.lines(); ++n) {
            std::vector<uint8_t> line(enc.lineBytes());
            enc.line(n, line.data());
            std::vector<uint16_t> lf, lb;
            collectRow(t, rowSamples(f, line.data()), 2, lf, lb);
            const int fr = n - std::max(lag, 0), br = n - std::max(-lag, 0);
            EXPECT_EQ(lf[5], fr >= 0 && fr < h ? 10 + fr : 250) << "lag " << lag << " line " << n;
            EXPECT_EQ(lb[5], br >= 0 && br < h ? 100 + br : 250) << "lag " << lag << " line " << n;
        }
    }
}

TEST(RawPageEncoder, RefusesImagesThatDoNotFitTheFormat) {
    ScanFormat f;
    std::vector<uint8_t> px(2552 * 3 * 2);
    SideImage narrow{px.data(), 2000, 2, 1, 2000};
    SideImage rgb{px.data(), 2552, 2, 3, 2552 * 3};
    SideImage shortStride{px.data(), 2552, 2, 3, 2552};
    EncodeOptions o;
    o.format = f;
    EXPECT_THROW(RawPageEncoder(o, &narrow, nullptr), std::invalid_argument);
    EXPECT_THROW(RawPageEncoder(o, &rgb, nullptr), std::invalid_argument); // direct gray from colour
    o.format.colour = true;
    EXPECT_THROW(RawPageEncoder(o, &shortStride, nullptr), std::invalid_argument);
    o.format.back = true;
    EXPECT_THROW(RawPageEncoder(o, &rgb, nullptr), std::invalid_argument); // no back image
    o.exposure = Exposure::Model;
    EXPECT_THROW(RawPageEncoder(o, &rgb, &rgb), std::invalid_argument); // no model
}
