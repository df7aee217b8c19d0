#include "AdjustLight.h"
#include "AdjustLightCurve.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

using namespace Tvk;
using namespace Tvk::Imvra;
using namespace Tvk::Imvra::KD730;

namespace {

// One curve of a block; factors channel by channel (entry c x count + i).
struct CurveSpec {
    uint16_t side = 0, channels = 1, bits = 16;
    uint32_t divisor = 1000;
    std::vector<uint32_t> factors;
    uint16_t resolution = 300, order = 1;
    uint32_t flags = 1;
    uint16_t headerLength = 40;
    uint8_t dropout = 0, emphasis = 0;
    uint32_t count() const { return static_cast<uint32_t>(factors.size()) / channels; }
};

void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}

// A block of the curves; each curve's channels lie count x bytes apart.
std::vector<uint8_t> Block(const std::vector<CurveSpec>& curves, uint32_t stamp = 7) {
    std::vector<uint8_t> b(kLightCurveBlockSize, 0);
    Put32(b, 0, stamp);
    Put32(b, 8, static_cast<uint32_t>(curves.size()));
    size_t pos = 12;
    for (const CurveSpec& c : curves) {
        const uint32_t bytes = c.bits / 8u, count = c.count();
        const uint32_t distance = count * bytes;
        const uint32_t dataSize = distance * c.channels;
        Put16(b, pos, c.headerLength);
        Put16(b, pos + 2, c.side);
        Put16(b, pos + 4, c.channels);
        Put16(b, pos + 6, c.bits);
        Put32(b, pos + 8, c.divisor);
        Put32(b, pos + 12, count);
        Put32(b, pos + 16, distance);
        Put32(b, pos + 20, dataSize);
        Put16(b, pos + 24, c.resolution);
        Put16(b, pos + 26, c.order);
        Put32(b, pos + 28, c.flags);
        b[pos + 32] = c.dropout;
        b[pos + 33] = c.emphasis;
        const size_t data = pos + c.headerLength;
        for (uint32_t ch = 0; ch < c.channels; ++ch)
            for (uint32_t i = 0; i < count; ++i) {
                const size_t at = data + size_t{ch} * distance + size_t{i} * bytes;
                const uint32_t f = c.factors[size_t{ch} * count + i];
                if (bytes == 1) b[at] = static_cast<uint8_t>(f);
                if (bytes == 2) Put16(b, at, f);
                if (bytes == 4) Put32(b, at, f);
            }
        pos = data + dataSize;
    }
    return b;
}

CImg Line16(const std::vector<uint16_t>& samples, int32_t spp = 1, uint32_t order = 0,
            int32_t dpi = 300) {
    CImg img;
    EXPECT_TRUE(img.createImg(static_cast<int32_t>(samples.size()) / spp, 1, 16, spp, order, dpi, dpi));
    std::memcpy(img.info().lpImage, samples.data(), samples.size() * 2);
    return img;
}

std::vector<uint16_t> Values(const CImg& img) {
    const auto* p = reinterpret_cast<const uint16_t*>(img.info().lpImage);
    return {p, p + img.info().tImageSize / 2};
}

int Adjust(const std::vector<uint8_t>& block, CImg& white, CImg& black, tagSIDE side = SIDE_FRONT,
           int dropout = 0, int emphasis = 0) {
    CLightCurveAdjustData data;
    const int r = data.LoadData(block.data(), block.size());
    if (r != RTN_OK) return r;
    return data.AdjustData(black, white, side, dropout, emphasis);
}

TEST(LightCurve, BlocksOfAnotherSizeOrWithoutDataAreRefused) {
    CLightCurveAdjustData data;
    std::vector<uint8_t> block = Block({CurveSpec{.factors = {1000}}});
    EXPECT_EQ(data.LoadData(block.data(), block.size() - 1), RTN_PAR);
    EXPECT_EQ(data.LoadData(nullptr, block.size()), RTN_PAR);
    EXPECT_EQ(data.LoadData(block.data(), block.size()), RTN_OK);
    EXPECT_EQ(data.Count(), 1u);
    Put32(block, 0, kLightCurveNoData);
    EXPECT_EQ(data.LoadData(block.data(), block.size()), RTN_PAR);
    EXPECT_EQ(data.Count(), 0u);
    EXPECT_EQ(CLightCurveAdjustData::CheckTimeStamp(block.data(), block.size(), kLightCurveNoData), 0);
    EXPECT_EQ(CLightCurveAdjustData::CheckTimeStamp(block.data(), block.size(), 5), 1);
    EXPECT_EQ(CLightCurveAdjustData::CheckTimeStamp(block.data(), 12, 5), 2);
}

TEST(LightCurve, FactorsRescaleTheWhiteAboveTheBlack) {
    // Factor = divisor: unchanged; twice the divisor: twice the distance
    // above black, capped; a white below its black ends at the black.
    CImg white = Line16({1000, 60000, 50, 1000}), black = Line16({100, 100, 100, 100});
    const std::vector<uint8_t> block = Block({CurveSpec{.factors = {1000, 2000, 2000, 1500}}});
    ASSERT_EQ(Adjust(block, white, black), RTN_OK);
    EXPECT_EQ(Values(white), (std::vector<uint16_t>{1000, 65535, 100, 1450}));
    EXPECT_EQ(CLightCurveAdjustData::LightCurveAdjPixel(1234, 100, 5, 0), 1234);
    // Rounded by half the divisor: 3 x 1 / 2 + 0.5.
    EXPECT_EQ(CLightCurveAdjustData::LightCurveAdjPixel(103, 100, 1, 2), 102);
}

TEST(LightCurve, GrayDropOutUsesItsChannelOfAThreeChannelCurve) {
    for (uint16_t order : {uint16_t{1}, uint16_t{0}}) {
        CurveSpec c{.channels = 3, .factors = {1000, 1000, 2000, 2000, 3000, 3000}};
        c.order = order;
        CImg white = Line16({200, 300}), black = Line16({100, 100});
        ASSERT_EQ(Adjust(Block({c}), white, black, SIDE_FRONT, 2), RTN_OK);
        if (order == 1) // green: entries 2 and 3
            EXPECT_EQ(Values(white), (std::vector<uint16_t>{300, 500}));
        else // pixel by pixel: entries 3 x i + 1
            EXPECT_EQ(Values(white), (std::vector<uint16_t>{200, 700}));
    }
}

TEST(LightCurve, ThreeSampleWhiteOfEitherLayout) {
    CurveSpec c{.channels = 3, .factors = {2000, 2000, 3000, 3000, 4000, 4000}};
    CImg interleaved = Line16({110, 110, 110, 120, 120, 120}, 3, 0);
    CImg black = Line16({100, 100, 100, 100, 100, 100}, 3, 0);
    ASSERT_EQ(Adjust(Block({c}), interleaved, black), RTN_OK);
    EXPECT_EQ(Values(interleaved), (std::vector<uint16_t>{120, 130, 140, 140, 160, 180}));
    CImg planar = Line16({110, 120, 110, 120, 110, 120}, 3, 1);
    CImg planarBlack = Line16({100, 100, 100, 100, 100, 100}, 3, 1);
    ASSERT_EQ(Adjust(Block({c}), planar, planarBlack), RTN_OK);
    EXPECT_EQ(Values(planar), (std::vector<uint16_t>{120, 140, 130, 160, 140, 180}));
}

TEST(LightCurve, TheFirstMatchingCurveIsTaken) {
    auto curve = [](uint32_t f) { return CurveSpec{.factors = {f}}; };
    CurveSpec back = curve(2000), other = curve(3000), invalid = curve(4000), emphasis = curve(5000),
              plain = curve(6000), dropout = curve(7000);
    back.side = 1;
    other.resolution = 600;
    invalid.flags = 0;
    emphasis.emphasis = 1;
    dropout.dropout = 1;
    const std::vector<uint8_t> block = Block({back, other, invalid, emphasis, dropout, plain});
    struct Case {
        tagSIDE side;
        int dropout, emphasis;
        uint16_t result; // 0: refused
    };
    // 200 over a black of 100 with factor f / 1000: 100 + f / 10.
    const Case cases[] = {{SIDE_BACK, 0, 0, 300}, {SIDE_FRONT, 0, 0, 700},
                          {SIDE_FRONT, 0, 2, 600}, {SIDE_FRONT, 1, 0, 0},
                          {SIDE_FRONT, 1, 1, 0},  {SIDE_FRONT, 4, 0, 0}};
    for (const Case& c : cases) {
        CImg white = Line16({200}), black = Line16({100});
        const int r = Adjust(block, white, black, c.side, c.dropout, c.emphasis);
        EXPECT_EQ(r, c.result ? RTN_OK : RTN_PAR) << c.dropout << "/" << c.emphasis;
        EXPECT_EQ(Values(white)[0], c.result ? c.result : 200) << c.dropout << "/" << c.emphasis;
    }
}

TEST(LightCurve, CorruptedCountsAndLengthsAreRefused) {
    const std::vector<uint8_t> good =
        Block({CurveSpec{.channels = 3, .factors = {1, 2, 3, 4, 5, 6}}, CurveSpec{.factors = {9}}});
    struct Case {
        const char* what;
        size_t at;
        uint32_t value;
        int bytes;
    };
    const size_t h = 12; // the first curve's header
    const Case cases[] = {
        {"header length 0", h, 0, 2},
        {"two channels", h + 4, 2, 2},
        {"12-bit factors", h + 6, 12, 2},
        {"no factors", h + 12, 0, 4},
        {"more factors than data", h + 12, 3, 4},
        {"channel distance past the data", h + 16, 5, 4},
        {"data past the block", h + 20, 0x7FFFFFF0u, 4},
        {"no data", h + 20, 0, 4},
        {"header past the block", h, 0xFFFF, 2},
        {"more curves than fit", 8, 0x10000000u, 4},
        {"a curve missing at the end", 8, 20000, 4},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> block = good;
        if (c.bytes == 2)
            Put16(block, c.at, c.value);
        else
            Put32(block, c.at, c.value);
        CLightCurveAdjustData data;
        EXPECT_EQ(data.LoadData(block.data(), block.size()), RTN_PAR) << c.what;
        EXPECT_EQ(data.Count(), 0u) << c.what;
    }
    CLightCurveAdjustData data;
    EXPECT_EQ(data.LoadData(good.data(), good.size()), RTN_OK);
}

TEST(LightCurve, RandomlyCorruptedHeadersNeverReadOutsideTheBlock) {
    CurveSpec a{.channels = 3, .bits = 8, .factors = std::vector<uint32_t>(30, 7)};
    CurveSpec b{.bits = 32, .factors = std::vector<uint32_t>(12, 2000)};
    CurveSpec c{.factors = std::vector<uint32_t>(12, 1000)};
    c.headerLength = 32;
    std::vector<uint8_t> block = Block({a, b, c});
    std::mt19937 rng(2024);
    int loaded = 0;
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> saved(block.begin(), block.begin() + 256);
        const int changes = 1 + static_cast<int>(rng() % 4);
        for (int k = 0; k < changes; ++k) block[rng() % 256] = static_cast<uint8_t>(rng());
        CLightCurveAdjustData data;
        if (data.LoadData(block.data(), block.size()) == RTN_OK) {
            ++loaded;
            CImg white = Line16(std::vector<uint16_t>(12, 500));
            CImg black = Line16(std::vector<uint16_t>(12, 100));
            data.AdjustData(black, white, SIDE_FRONT, 0, 0);
            CImg colour = Line16(std::vector<uint16_t>(36, 500), 3, 1);
            CImg colourBlack = Line16(std::vector<uint16_t>(36, 100), 3, 1);
            data.AdjustData(colourBlack, colour, SIDE_FRONT, 0, 0);
        }
        std::copy(saved.begin(), saved.end(), block.begin());
    }
    EXPECT_GT(loaded, 0);
}

TEST(LightCurve, CalibrationPicksTheCurveByTheSidesLightSource) {
    CurveSpec plain{.factors = {2000}}, emphasisGreen{.factors = {3000}},
        dropout{.channels = 3, .factors = {4000, 5000, 6000}};
    plain.side = emphasisGreen.side = dropout.side = 1;
    emphasisGreen.emphasis = 2;
    const std::vector<uint8_t> block = Block({plain, emphasisGreen, dropout});
    struct Case {
        uint32_t source;
        uint16_t result;
    };
    for (const Case& c : {Case{0, 300}, Case{5, 400}, Case{3, 700}, Case{9, 300}}) {
        tagADJUSTINFO rec{};
        rec.BackLightSorce = c.source;
        CImg white = Line16({200}), black = Line16({100});
        CAdjustLight adjust;
        EXPECT_EQ(adjust.AdjustLightCurve(white, black, &rec, SIDE_BACK, block.data(), block.size()),
                  RTN_OK)
            << c.source;
        EXPECT_EQ(Values(white)[0], c.result) << c.source;
    }
}

} // namespace
