#include "CollectArray.h"
#include "RawBands.h"
#include "TvkIpError.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <tuple>
#include <vector>

using namespace Tvk;
using namespace Tvk::Imvra;
using namespace Tvk::Imvra::KD730;
using rawtest::Page;

namespace {

// ---------------------------------------------------------------------------
// Round trip: page -> sensor model -> collection gives the page back.

using RoundTrip = std::tuple<int /*dpi*/, int /*layout*/, int /*bits*/, bool /*colour*/,
                             bool /*duplex*/, bool /*portable*/>;

class CollectRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

// The value a collected sample must hold for page value v.
uint32_t Expected(int bits, uint8_t v) { return bits == 12 ? v * 16u : v; }

uint32_t Sample(const tagIMAGEINFO& i, int64_t row, int64_t x) {
    const uint8_t* line = i.lpImage + row * i.lSync;
    if (i.lBps == 16) {
        uint16_t s;
        std::memcpy(&s, line + 2 * x, 2);
        return s;
    }
    return line[x];
}

// Checks the collected lines of one side against rows [y0, y0 + h) of the page.
void CheckSide(const CImg& out, const Page& page, int y0, int bits, const char* side) {
    const tagIMAGEINFO& i = out.info();
    ASSERT_FALSE(out.isNull()) << side;
    EXPECT_EQ(i.lWidth, page.width) << side;
    EXPECT_EQ(i.lBps, bits == 12 ? 16 : 8) << side;
    EXPECT_EQ(i.ulRGBOrder, 1u) << side;
    for (int y = 0; y < i.lHeight; ++y)
        for (int c = 0; c < page.channels; ++c)
            for (int x = 0; x < page.width; ++x)
                if (Sample(i, int64_t{y} * page.channels + c, x) !=
                    Expected(bits, page.at(x, y0 + y, c))) {
                    ADD_FAILURE() << side << " differs at x " << x << " line " << y0 + y
                                  << " channel " << c;
                    return;
                }
}

TEST_P(CollectRoundTrip, GivesThePageBackByteForByte) {
    const auto [dpi, layout, bits, colour, duplex, portable] = GetParam();
    // The 8-bit rows have a vector path and a plain one; both must agree.
    IpForcePortablePaths(portable);
    struct Restore {
        ~Restore() { IpForcePortablePaths(false); }
    } restore;
    kdsensor::ScanFormat f;
    f.xdpi = dpi;
    f.layout = layout;
    f.bits = bits;
    f.colour = colour;
    f.front = true;
    f.back = duplex;
    const int width = f.collectedWidth();
    const int height = 5;
    const int channels = colour ? 3 : 1;
    const Page front = rawtest::RandomPage(width, height, channels, 11);
    const Page back = rawtest::RandomPage(width, height, channels, 12);
    kdsensor::EncodeOptions o;
    o.format = f;
    const auto fs = front.side(), bs = back.side();
    const std::vector<uint8_t> raw = kdsensor::encodePage(o, &fs, duplex ? &bs : nullptr);

    tagCOLLECTARRAYINFO info = rawtest::CollectInfo(f);
    // Two bands: the stage sees a first and a last band.
    std::vector<CImg> bands;
    bands.push_back(rawtest::RawBand(f, raw, 0, 3));
    bands.push_back(rawtest::RawBand(f, raw, 3, 2));
    int y0 = 0;
    if (duplex) {
        CIPController<CCollectArrayForDuplex> c;
        c.setStage(new CCollectArrayForDuplex, 0);
        ASSERT_EQ(rawtest::DriveBands(c, &info, bands,
                                      [&](CImg& band) {
                                          CImg backBand;
                                          c.stage()->getBackImage(backBand);
                                          CheckSide(band, front, y0, bits, "front");
                                          CheckSide(backBand, back, y0, bits, "back");
                                          y0 += band.info().lHeight;
                                      }),
                  0);
    } else {
        CIPController<CCollectArrayForSimplex> c;
        c.setStage(new CCollectArrayForSimplex, 0);
        ASSERT_EQ(rawtest::DriveBands(c, &info, bands,
                                      [&](CImg& band) {
                                          CheckSide(band, front, y0, bits, "page");
                                          y0 += band.info().lHeight;
                                      }),
                  0);
    }
    EXPECT_EQ(y0, height);
}

// Every format; 8-bit rows also through the plain path.
std::vector<RoundTrip> AllFormats() {
    std::vector<RoundTrip> v;
    for (int dpi : {300, 600})
        for (int layout : {0, 1})
            for (int bits : {8, 12})
                for (bool colour : {false, true})
                    for (bool duplex : {false, true})
                        for (bool portable : {false, true})
                            if (!portable || bits == 8)
                                v.emplace_back(dpi, layout, bits, colour, duplex, portable);
    return v;
}

INSTANTIATE_TEST_SUITE_P(AllFormats, CollectRoundTrip, ::testing::ValuesIn(AllFormats()));

// ---------------------------------------------------------------------------
// One 12-bit raw row whose every sample holds its own raw index.

CImg IndexRow(int32_t samples, int32_t dpi) {
    std::vector<uint16_t> s(static_cast<size_t>(samples));
    std::iota(s.begin(), s.end(), uint16_t{0});
    const int32_t sync = static_cast<int32_t>(kdsensor::packed12Bytes(s.size()));
    CImg band;
    EXPECT_TRUE(band.createImg(samples, 1, sync, 12, 1, 1, dpi, dpi));
    kdsensor::pack12(s.data(), s.size(), band.info().lpImage);
    return band;
}

tagCOLLECTARRAYINFO Info300(int layout) {
    kdsensor::ScanFormat f;
    f.layout = layout;
    return rawtest::CollectInfo(f);
}

const uint16_t* Samples16(const CImg& img) {
    return reinterpret_cast<const uint16_t*>(img.info().lpImage);
}

TEST(CollectArray, FirstPixelComesFromRawPosition13AndLastFromPosition836) {
    CImg band = IndexRow(2592, 300);
    tagCOLLECTARRAYINFO info = Info300(0);
    CCollectArrayForSimplex stage;
    ASSERT_EQ(stage.IPInterface(band, &info), RTN_OK);
    ASSERT_EQ(band.info().lWidth, 2552);
    // s1 of position 13 (the first sample segment B receives) and s2 of position 836.
    EXPECT_EQ(Samples16(band)[0], 3 * 13 + 1);
    EXPECT_EQ(Samples16(band)[2551], 3 * 836 + 2);
}

TEST(CollectArray, LayoutOneHasNoFirstPhase) {
    CImg band = IndexRow(2592, 300);
    tagCOLLECTARRAYINFO info = Info300(1);
    CCollectArrayForSimplex stage;
    ASSERT_EQ(stage.IPInterface(band, &info), RTN_OK);
    int perSegment[3] = {0, 0, 0};
    std::vector<bool> seen(2592, false);
    for (int x = 0; x < 2552; ++x) {
        const uint16_t s = Samples16(band)[x];
        ASSERT_LT(s, 2592);
        EXPECT_FALSE(seen[s]) << "raw sample " << s << " placed twice";
        seen[s] = true;
        ++perSegment[s % 3];
    }
    EXPECT_EQ(perSegment[0], 864);
    EXPECT_EQ(perSegment[1], 864);
    EXPECT_EQ(perSegment[2], 824);
}

TEST(CollectArray, WideningStageReordersTwelveBitRowsAndPassesOthers) {
    CImg band = IndexRow(2592, 300);
    tagCOLLECTARRAYINFO info = Info300(0);
    CExtendBitData12To16 stage;
    ASSERT_EQ(stage.IPInterface(band, &info), RTN_OK);
    EXPECT_EQ(band.info().lBps, 16);
    EXPECT_EQ(band.info().lWidth, 2592); // the width is not changed
    EXPECT_EQ(Samples16(band)[0], 3 * 13 + 1);
    EXPECT_EQ(Samples16(band)[2551], 3 * 836 + 2);

    CImg eight;
    ASSERT_TRUE(eight.createImg(2592, 2, 2592, 8, 1, 1, 300, 300));
    const uint8_t* before = eight.info().lpImage;
    ASSERT_EQ(stage.IPInterface(eight, &info), RTN_OK);
    EXPECT_EQ(eight.info().lpImage, before);
}

TEST(CollectArray, VectorAndPlainPathsAgreeOnAShorterCollectedWidth) {
    // A collected width below the sensor's splits the mirrored runs inside
    // blocks of positions.
    for (bool duplex : {false, true})
        for (int32_t width : {2000, 2551, 1}) {
            std::vector<uint8_t> out[2];
            for (bool portable : {false, true}) {
                IpForcePortablePaths(portable);
                CImg band;
                const int32_t samples = duplex ? 5184 : 2592;
                EXPECT_TRUE(band.createImg(samples, 2, samples, 8, 1, 1, 300, 300));
                for (uint32_t k = 0; k < band.info().tImageSize; ++k)
                    band.info().lpImage[k] = static_cast<uint8_t>(k * 13 + k / 7);
                tagCOLLECTARRAYINFO info = Info300(0);
                info.lWidth = width;
                int r;
                CImg back;
                if (duplex) {
                    CCollectArrayForDuplex stage;
                    r = stage.IPInterface(band, &info);
                    stage.getBackImage(back);
                } else {
                    CCollectArrayForSimplex stage;
                    r = stage.IPInterface(band, &info);
                }
                ASSERT_EQ(r, RTN_OK);
                auto& o = out[portable ? 1 : 0];
                o.assign(band.info().lpImage, band.info().lpImage + band.info().tImageSize);
                if (duplex) o.insert(o.end(), back.info().lpImage, back.info().lpImage + back.info().tImageSize);
            }
            IpForcePortablePaths(false);
            EXPECT_EQ(out[0], out[1]) << (duplex ? "duplex" : "simplex") << " width " << width;
        }
}

// Every refusal leaves the band as it was.
struct Refusal {
    const char* what;
    int32_t width, sync, bps, spp, order, dpi;
    int infoSize, infoWidth, layout;
    bool duplex;
};

TEST(CollectArray, RawRowsThatAreNotTheSensorsAreRefused) {
    const Refusal cases[] = {
        {"row one sample short", 2591, 2592, 8, 1, 1, 300, 32, 2552, 0, false},
        {"row one sample long", 2593, 2593, 8, 1, 1, 300, 32, 2552, 0, false},
        {"600 dpi width at 300 dpi", 5184, 5184, 8, 1, 1, 300, 32, 2552, 0, false},
        {"unsupported resolution", 2592, 2592, 8, 1, 1, 400, 32, 2552, 0, false},
        {"16-bit raw data", 2592, 5184, 16, 1, 1, 300, 32, 2552, 0, false},
        {"two samples a pixel", 2592, 2592, 8, 2, 1, 300, 32, 2552, 0, false},
        {"interleaved raw data", 2592, 2592, 8, 1, 0, 300, 32, 2552, 0, false},
        {"settings record of 31 bytes", 2592, 2592, 8, 1, 1, 300, 31, 2552, 0, false},
        {"collected width past the sensor", 2592, 2592, 8, 1, 1, 300, 32, 2553, 0, false},
        {"layout index 2", 2592, 2592, 8, 1, 1, 300, 32, 2552, 2, false},
        {"duplex simplex-wide row", 2592, 2592, 8, 1, 1, 300, 32, 2552, 0, true},
        {"duplex odd line size", 5184, 5185, 8, 1, 1, 300, 32, 2552, 0, true},
        {"12-bit line size short", 2592, 3888, 12, 1, 1, 300, 32, 2552, 0, false},
    };
    for (const Refusal& c : cases) {
        CImg band;
        ASSERT_TRUE(band.createImg(c.width, 3, c.sync, c.bps, c.spp, c.order, c.dpi, c.dpi))
            << c.what;
        for (uint32_t k = 0; k < band.info().tImageSize; ++k)
            band.info().lpImage[k] = static_cast<uint8_t>(k * 7);
        // A record changed after creation: its line no longer holds the row.
        if (c.bps == 12) band.info().lSync -= 1;
        const tagIMAGEINFO before = band.info();
        tagCOLLECTARRAYINFO info = Info300(0);
        info.ulSize = static_cast<uint32_t>(c.infoSize);
        info.lWidth = c.infoWidth;
        info.lSensorIndex = c.layout;
        int r;
        if (c.duplex) {
            CCollectArrayForDuplex stage;
            r = stage.IPInterface(band, &info);
        } else {
            CCollectArrayForSimplex stage;
            r = stage.IPInterface(band, &info);
        }
        EXPECT_EQ(r, RTN_PAR) << c.what;
        EXPECT_EQ(std::memcmp(&band.info(), &before, sizeof before), 0) << c.what;
        EXPECT_EQ(band.info().lpImage[5], static_cast<uint8_t>(35)) << c.what;
    }
}

TEST(CollectArray, EmptyBandPassesTheStages) {
    tagCOLLECTARRAYINFO info = Info300(0);
    CImg empty;
    CCollectArrayForSimplex simplex;
    EXPECT_EQ(simplex.IPInterface(empty, &info), RTN_OK);
    CCollectArrayForDuplex duplex;
    EXPECT_EQ(duplex.IPInterface(empty, &info), RTN_OK);
    EXPECT_TRUE(empty.isNull());
}

// ---------------------------------------------------------------------------
// Offset cut over the bands of a page.

// A page of rows whose first two bytes hold the row number (planar: in
// every plane row, plane number in the third byte).
std::vector<CImg> NumberedBands(int32_t lines, int32_t bandHeight, int32_t spp) {
    std::vector<CImg> bands;
    for (int32_t y0 = 0; y0 < lines; y0 += bandHeight) {
        const int32_t h = std::min(bandHeight, lines - y0);
        CImg b;
        EXPECT_TRUE(b.createImg(8, h, 8, 8, spp, 1, 300, 300));
        for (int32_t y = 0; y < h; ++y)
            for (int32_t p = 0; p < spp; ++p) {
                uint8_t* row = b.info().lpImage + (int64_t{y} * spp + p) * 8;
                row[0] = static_cast<uint8_t>((y0 + y) & 0xFF);
                row[1] = static_cast<uint8_t>((y0 + y) >> 8);
                row[2] = static_cast<uint8_t>(p);
            }
        bands.push_back(std::move(b));
    }
    return bands;
}

// The row numbers that come out of the cut, and the height of every band.
std::vector<int> Cut(tagCUTOFFSETINFO info, int32_t lines, int32_t bandHeight, int32_t spp,
                     std::vector<int32_t>* heights = nullptr) {
    std::vector<CImg> bands = NumberedBands(lines, bandHeight, spp);
    CIPController<CCutOffset> c;
    c.setStage(new CCutOffset, 0);
    std::vector<int> rows;
    EXPECT_EQ(rawtest::DriveBands(c, &info, bands,
                                  [&](CImg& band) {
                                      if (heights)
                                          heights->push_back(band.isNull() ? 0 : band.info().lHeight);
                                      if (band.isNull()) return;
                                      const tagIMAGEINFO& i = band.info();
                                      for (int32_t y = 0; y < i.lHeight; ++y) {
                                          for (int32_t p = 0; p < spp; ++p) {
                                              const uint8_t* row = i.lpImage + (int64_t{y} * spp + p) * 8;
                                              EXPECT_EQ(row[2], p);
                                          }
                                          const uint8_t* row = i.lpImage + int64_t{y} * spp * 8;
                                          rows.push_back(row[0] | (row[1] << 8));
                                      }
                                  }),
              0);
    return rows;
}

std::vector<int> Range(int from, int to) {
    std::vector<int> v(static_cast<size_t>(to - from));
    std::iota(v.begin(), v.end(), from);
    return v;
}

TEST(CutOffset, TopCutOfHundredLinesOverBandsOf64) {
    std::vector<int32_t> heights;
    const std::vector<int> rows = Cut({kCutOffsetInfoSize, -100, 0, 300}, 300, 64, 1, &heights);
    EXPECT_EQ(rows, Range(100, 300));
    ASSERT_EQ(heights.size(), 5u);
    EXPECT_EQ(heights[0], 0);
    EXPECT_EQ(heights[1], 28);
    EXPECT_EQ(heights[2], 64);
}

TEST(CutOffset, AnyBandSplitGivesTheSamePage) {
    struct Case {
        tagCUTOFFSETINFO info;
        std::vector<int> rows;
    };
    const Case cases[] = {
        {{kCutOffsetInfoSize, -100, 0, 300}, Range(100, 300)}, // top
        {{kCutOffsetInfoSize, 100, 1, 300}, Range(100, 300)},  // top by direction
        {{kCutOffsetInfoSize, -100, 1, 250}, Range(0, 250)},   // bottom
        {{kCutOffsetInfoSize, 40, 0, 180}, Range(0, 180)},     // bottom by sign
        {{kCutOffsetInfoSize, 0, 0, 10}, Range(0, 300)},       // no cut
    };
    for (const Case& c : cases)
        for (int32_t h : {300, 64, 37, 100, 101, 1})
            for (int32_t spp : {1, 3})
                EXPECT_EQ(Cut(c.info, 300, h, spp), c.rows)
                    << "offset " << c.info.lOffset << " direction " << c.info.ulDirection
                    << " bands of " << h << " spp " << spp;
}

TEST(CutOffset, SettingsOfAnotherSizeAreRefused) {
    CImg band = std::move(NumberedBands(4, 4, 1)[0]);
    tagCUTOFFSETINFO info{15, -1, 0, 4};
    CCutOffset stage;
    EXPECT_EQ(stage.IPInterface(band, &info), RTN_PAR);
    EXPECT_EQ(stage.IPInterface(band, nullptr), RTN_PAR);
    EXPECT_EQ(band.info().lHeight, 4);
}

} // namespace
