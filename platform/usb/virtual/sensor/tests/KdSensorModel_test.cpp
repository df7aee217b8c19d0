// The sensor model answers calibration the way the library's calibration
// arithmetic expects: one offset step lands the dark level at 96, one gain
// step the brightest sample at 3072, and shading made from the references
// gives paper white 255 and black near 0.
#include "KdSensorModel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

using namespace kdsensor;

namespace {

// The calibration formulas of the image library, written out for the test.
int offsetRegister(int dark, int gain, int offset) {
    const double v = offset - (dark - 96) * (1.0 / 4096) * (1350 / (analogGain(gain) * -2.4));
    const int o = static_cast<int>(v);
    return o < 1 ? 0 : std::min(o, 255);
}
int gainRegister(int bright, int gain) {
    const int g = static_cast<int>(bright * -288.3 / (analogGain(gain) * 3072) + 288.3);
    return g <= 0 ? 0 : std::min(g, 255);
}
int ledCurrent(int x1, int y1, int x2, int y2, int t) {
    if (y1 == y2) return 0;
    return static_cast<int>(static_cast<double>(x1 - x2) * t / (y1 - y2)) +
           static_cast<int>(static_cast<double>(x1) * y2 - static_cast<double>(x2) * y1) /
               (y2 - y1);
}

// Per side and channel, the collected samples of a one-line colour reference.
struct SideLines {
    std::vector<uint16_t> ch[3];
    int min() const {
        int m = 4096;
        for (const auto& c : ch) m = std::min(m, static_cast<int>(*std::min_element(c.begin(), c.end())));
        return m;
    }
    int max(int c) const { return *std::max_element(ch[c].begin(), ch[c].end()); }
    int max() const { return std::max({max(0), max(1), max(2)}); }
};

std::array<SideLines, 2> collect(const ScanFormat& f, const std::vector<uint8_t>& raw) {
    std::array<SideLines, 2> out;
    const auto& front = slotPixels(f.xdpi, f.layout, true);
    const auto& back = slotPixels(f.xdpi, f.layout, false);
    static const int kSide[6] = {1, 1, 0, 1, 0, 0}, kSeg[6] = {1, 2, 0, 0, 1, 2};
    std::vector<uint16_t> s(f.samplesPerRow());
    for (int c = 0; c < 3; ++c) {
        unpack12(raw.data() + f.rowBytes() * c, s.size(), s.data());
        for (auto& side : out) side.ch[c].assign(static_cast<size_t>(f.collectedWidth()), 0);
        for (size_t i = 0; i < s.size(); ++i) {
            const int side = kSide[i % 6];
            const size_t slot = 3 * (i / 6) + kSeg[i % 6];
            const int x = (side == 0 ? front : back)[slot];
            if (x >= 0) out[side].ch[c][static_cast<size_t>(x)] = s[i];
        }
    }
    return out;
}

struct Calibrated {
    Registers regs;
    int startDarkMin[2], startDarkMax[2];
};

// The calibration sequence on both sides of a two-window colour scan.
Calibrated calibrate(const SensorModel& m, const ScanFormat& f) {
    Calibrated c;
    auto scan = [&](bool lit) { return collect(f, scanReference(m, f, c.regs, lit, 1)); };
    auto setLeds = [&](int r, int g, int b) {
        for (SideRegisters* s : {&c.regs.front, &c.regs.back})
            s->led = {static_cast<uint16_t>(r), static_cast<uint16_t>(g), static_cast<uint16_t>(b)};
    };
    auto each = [&](auto fn) {
        fn(c.regs.front, 0);
        fn(c.regs.back, 1);
    };
    // Offset from the dark scan at the starting registers.
    auto start = scan(true);
    each([&](SideRegisters& r, int s) {
        c.startDarkMin[s] = start[s].min();
        c.startDarkMax[s] = start[s].max();
        r.offset.fill(static_cast<uint8_t>(offsetRegister(start[s].min(), r.gain[0], r.offset[0])));
    });
    const auto dark = scan(true);
    setLeds(8191, 8191, 8191);
    const auto sat = scan(true);
    setLeds(250, 250, 250);
    const auto lightDark = scan(true);
    const int ref[3] = {f.xdpi == 300 ? 470 : 910, f.xdpi == 300 ? 580 : 1150,
                        f.xdpi == 300 ? 520 : 1020};
    setLeds(ref[0], ref[1], ref[2]);
    const auto reference = scan(true);
    const int limit = f.xdpi == 300 ? 900 : 2000;
    each([&](SideRegisters& r, int s) {
        int d = 0, sv = 4096;
        for (int ch = 0; ch < 3; ++ch) {
            d = std::max(d, static_cast<int>(*std::min_element(dark[s].ch[ch].begin(), dark[s].ch[ch].end())));
            sv = std::min(sv, sat[s].max(ch));
        }
        const int t = std::min(3072 * 85 / 100, d + (sv - d) * 95 / 100);
        int led[3], top = 0;
        for (int ch = 0; ch < 3; ++ch) {
            led[ch] = ledCurrent(250, lightDark[s].max(ch), ref[ch], reference[s].max(ch), t);
            top = std::max(top, led[ch]);
        }
        for (int ch = 0; ch < 3; ++ch) {
            if (top > limit) led[ch] = led[ch] * limit / top;
            r.led[static_cast<size_t>(ch)] = static_cast<uint16_t>(led[ch]);
        }
    });
    const auto lit = scan(true);
    each([&](SideRegisters& r, int s) { r.gain.fill(static_cast<uint8_t>(gainRegister(lit[s].max(), r.gain[0]))); });
    const auto off = scan(false);
    each([&](SideRegisters& r, int s) {
        r.offset.fill(static_cast<uint8_t>(offsetRegister(off[s].min(), r.gain[0], r.offset[0])));
    });
    return c;
}

} // namespace

class SensorCalibration : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(SensorCalibration, FormulasLandDarkAt96AndWhiteAt3072) {
    const auto [dpi, layout] = GetParam();
    SensorModel m(11);
    ScanFormat f;
    f.xdpi = dpi;
    f.layout = layout;
    f.bits = 12;
    f.colour = true;
    f.back = true;
    const Calibrated c = calibrate(m, f);
    const int limit = dpi == 300 ? 900 : 2000;
    for (int s = 0; s < 2; ++s) {
        // The starting registers read the dark level inside the 12-bit range.
        EXPECT_GT(c.startDarkMin[s], 96);
        EXPECT_LT(c.startDarkMax[s], 4095);
        const SideRegisters& r = s == 0 ? c.regs.front : c.regs.back;
        for (uint16_t led : r.led) {
            EXPECT_GT(led, 0);
            EXPECT_LE(led, limit);
        }
    }
    const auto dark = collect(f, scanReference(m, f, c.regs, false, 1));
    const auto white = collect(f, scanReference(m, f, c.regs, true, 1));
    for (int s = 0; s < 2; ++s) {
        const SideRegisters& r = s == 0 ? c.regs.front : c.regs.back;
        // Truncation of the offset register leaves the dark level at most one
        // register step above the target.
        EXPECT_GE(dark[s].min(), 96);
        EXPECT_LT(dark[s].min(), 96 + kOffsetStep * analogGain(r.gain[0]) + 1);
        EXPECT_NEAR(white[s].max(), 3072, 3072 * 0.02);
    }
}

INSTANTIATE_TEST_SUITE_P(Resolutions, SensorCalibration,
                         ::testing::Combine(::testing::Values(300, 600), ::testing::Values(0, 1)));

TEST(SensorModel, ShadingFromTheReferencesGivesAMonotonicRamp) {
    SensorModel m(3);
    ScanFormat ref;
    ref.bits = 12;
    ref.colour = true;
    ref.back = true;
    const Calibrated c = calibrate(m, ref);
    const auto whiteRef = collect(ref, scanReference(m, ref, c.regs, true, 1));
    const auto blackRef = collect(ref, scanReference(m, ref, c.regs, false, 1));

    // A gray ramp on paper, scanned in colour as 8-bit image data, front only.
    ScanFormat f = ref;
    f.bits = 8;
    f.back = false;
    const int w = f.collectedWidth();
    std::vector<uint8_t> px(static_cast<size_t>(w) * 3);
    for (int x = 0; x < w; ++x) px[3 * x] = px[3 * x + 1] = px[3 * x + 2] = static_cast<uint8_t>(x * 255 / (w - 1));
    SideImage page{px.data(), w, 1, 3, px.size()};
    EncodeOptions o;
    o.format = f;
    o.exposure = Exposure::Model;
    o.model = &m;
    o.registers = c.regs;
    const auto raw = encodePage(o, &page, nullptr);
    const auto& map = slotPixels(f.xdpi, f.layout, true);
    const int targets[3] = {4591, 4527, 4485};
    for (int ch = 0; ch < 3; ++ch) {
        std::vector<int> out(static_cast<size_t>(w));
        for (size_t slot = 0; slot < map.size(); ++slot) {
            const int x = map[slot];
            if (x < 0) continue;
            const int s8 = raw[f.rowBytes() * ch + slot];
            const int white = whiteRef[0].ch[ch][x], black = blackRef[0].ch[ch][x];
            const int diff = white > black ? white - black : 0;
            const int mul = (diff == 0 || 16 * diff <= targets[ch]) ? 65535 : std::min(65535, targets[ch] * 4096 / diff);
            out[static_cast<size_t>(x)] = std::min(255, (std::max(s8 - (black >> 4), 0) * mul) >> 12);
        }
        EXPECT_LE(out.front(), 4) << "channel " << ch;
        EXPECT_EQ(out.back(), 255) << "channel " << ch;
        // Monotonic beyond the quantisation of 8-bit samples (a level or two).
        for (int x = 64; x < w; ++x) ASSERT_GE(out[x], out[x - 64]) << "channel " << ch << " x " << x;
    }
}

TEST(SensorModel, GraySeesAllLedsAndColourRowsTheirOwn) {
    SensorModel m(5);
    SideRegisters r;
    r.led = {400, 0, 300};
    const std::array<double, 3> refl{1.0, 1.0, 0.5};
    const int d = 300, slot = 100;
    const double a = analogGain(0);
    auto expect = [&](double light) {
        return static_cast<uint16_t>(a * (m.dark(0, d, slot) + light - kOffsetStep * 30));
    };
    const double red = 400 * SensorModel::efficiency(0, d) * m.sensitivity(0, d, 0, slot);
    const double blue = 300 * SensorModel::efficiency(2, d) * m.sensitivity(0, d, 2, slot) * 0.5;
    EXPECT_EQ(m.sample12(0, d, slot, 0, r, refl), expect(red));
    EXPECT_EQ(m.sample12(0, d, slot, 1, r, refl), expect(0)); // green LED dark
    EXPECT_EQ(m.sample12(0, d, slot, -1, r, refl), expect(red + blue));
    // Same seed, same sensor; another seed, another one.
    EXPECT_EQ(SensorModel(5).dark(1, 600, 77), m.dark(1, 600, 77));
    EXPECT_NE(SensorModel(6).dark(1, 600, 77), m.dark(1, 600, 77));
    EXPECT_EQ(SensorModel::efficiency(1, 600) * 2, SensorModel::efficiency(1, 300));
}

TEST(SensorModel, LampsOffReferenceReadsTheDarkLevelAndIdleSlotsToo) {
    SensorModel m(9);
    ScanFormat f;
    f.bits = 12;
    Registers regs;
    regs.front.led = {500, 500, 500};
    const auto dark = scanReference(m, f, regs, false, 8);
    ASSERT_EQ(dark.size(), f.lineBytes() * 8);
    std::vector<uint16_t> s(f.samplesPerRow());
    unpack12(dark.data() + f.lineBytes() * 7, s.size(), s.data());
    for (size_t slot = 0; slot < s.size(); ++slot) {
        const auto expect = static_cast<uint16_t>(m.dark(0, 300, static_cast<int>(slot)) - kOffsetStep * 30);
        ASSERT_EQ(s[slot], expect) << slot;
    }
    // Lit, the idle slots still read dark.
    const auto lit = scanReference(m, f, regs, true, 1);
    unpack12(lit.data(), s.size(), s.data());
    EXPECT_EQ(s[3 * 12 + 1], static_cast<uint16_t>(m.dark(0, 300, 3 * 12 + 1) - kOffsetStep * 30));
    EXPECT_GT(s[3 * 12], 2000);
}
