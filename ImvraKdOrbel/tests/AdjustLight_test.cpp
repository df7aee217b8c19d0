#include "AdjustLight.h"
#include "RawBands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

using namespace Tvk;
using namespace Tvk::Imvra;
using namespace Tvk::Imvra::KD730;

namespace {

// ---------------------------------------------------------------------------
// The register arithmetic, by hand.

TEST(AdjustLight, OffsetRegisterBringsTheDarkestSampleTo96) {
    // A(0) = 1: 30 - (400 - 96) / 4096 x 1350 / -2.4 = 71.75.
    EXPECT_EQ(GetOffsetRegister_Feeder(400, 0, 30, 96), 71);
    EXPECT_EQ(GetOffsetRegister_Feeder(96, 0, 30, 96), 30);
    EXPECT_EQ(GetOffsetRegister_Feeder(4095, 0, 30, 96), 255);  // capped
    EXPECT_EQ(GetOffsetRegister_Feeder(0, 0, 10, 96), 0);       // 10 - 13.2: below 1
    EXPECT_NEAR(AdjustLight_GetAnaproGain(0), 1.0, 1e-12);
}

TEST(AdjustLight, GainRegisterMovesTheBrightestSampleTowards3072) {
    EXPECT_EQ(GetGainRegister(3072, 0, 3072), 0);
    EXPECT_EQ(GetGainRegister(2000, 0, 3072), 100); // 288.3 - 187.69
    // Above the target the gain goes down, below it up.
    EXPECT_LT(GetGainRegister(3500, 100, 3072), 100);
    EXPECT_GT(GetGainRegister(2500, 100, 3072), 100);
    EXPECT_EQ(GetGainRegister(4095, 0, 3072), 0);  // never below 0
    EXPECT_EQ(GetGainRegister(10, 200, 3072), 255); // never above 255
}

TEST(AdjustLight, TargetCurrentOnTheLineThroughTwoScans) {
    // (250 - 470) x 2611 / (500 - 1000) = 1148.8, (250 x 1000 - 470 x 500) / 500 = 30.
    EXPECT_EQ(GetTargetX(250, 500, 470, 1000, 2611), 1178);
    EXPECT_EQ(GetTargetX(250, 700, 470, 700, 2611), 0); // equal levels
    // Truncation toward zero of each part: -0.5 and -0.5 give 0.
    EXPECT_EQ(GetTargetX(1, 2, 2, 4, 1), 0);
}

TEST(AdjustLight, LimitPutsTheLargestCurrentExactlyOnTheLimit) {
    struct Row {
        int32_t limit;
        int32_t in[3];
        int32_t out[3];
    };
    const Row rows[] = {
        {900, {4852, 100, 2426}, {900, 18, 450}},    // a ratio in doubles gave 899
        {900, {900, 899, 0}, {900, 899, 0}},         // at the limit: untouched
        {900, {901, 901, 450}, {900, 900, 449}},     // just above
        {2000, {100, 6000, 2999}, {33, 2000, 999}},  // 600 dpi, largest in the middle
        {2000, {65535, 65535, 1}, {2000, 2000, 0}},
    };
    for (const Row& r : rows) {
        int32_t led[3] = {r.in[0], r.in[1], r.in[2]};
        AdjustLight_DecideLightAdjustValue_CheckRegisterLimit(led, r.limit);
        for (int c = 0; c < 3; ++c) EXPECT_EQ(led[c], r.out[c]) << r.in[0] << " " << c;
    }
    // Every largest current above the limit lands on it.
    for (int32_t limit : {900, 2000})
        for (int32_t largest = limit + 1; largest <= 65535; ++largest) {
            int32_t led[3] = {largest / 3, largest, largest / 2};
            AdjustLight_DecideLightAdjustValue_CheckRegisterLimit(led, limit);
            ASSERT_EQ(led[1], limit) << largest;
            ASSERT_EQ(led[0], static_cast<int32_t>(int64_t{largest / 3} * limit / largest));
        }
}

TEST(AdjustLight, RecordAccessorsWriteAllThreeBytesOfASide) {
    tagADJUSTINFO rec{};
    AdjustLightData_SetGain(&rec, true, 7);
    AdjustLightData_SetOffset(&rec, false, 9);
    AdjustLightData_SetLEDCurrent(&rec, true, 1234);
    EXPECT_EQ(rec.FrontAdjustInfo.Gain[2], 7);
    EXPECT_EQ(AdjustLightData_GetGain(&rec, true), 7);
    EXPECT_EQ(AdjustLightData_GetGain(&rec, false), 0);
    EXPECT_EQ(rec.BackAdjustInfo.Offset[1], 9);
    EXPECT_EQ(AdjustLightData_GetOffset(&rec, false), 9);
    EXPECT_EQ(rec.FrontAdjustInfo.RedLED, 0);
}

// ---------------------------------------------------------------------------
// A calibration against the sensor model: every reference scan is answered
// from the record's current registers.

struct Calibration {
    kdsensor::SensorModel model{3};
    kdsensor::ScanFormat format;
    tagADJUSTINFO rec{};
    CAdjustLight adjust;

    Calibration(int dpi, bool duplex, uint32_t scanMode, uint32_t front, uint32_t back,
                int recordDpi = 0) {
        format.xdpi = dpi;
        format.bits = 12;
        format.colour = true;
        format.back = duplex;
        rec.bDuplex = duplex ? 1 : 0;
        rec.lXResolution = static_cast<uint32_t>(recordDpi ? recordDpi : dpi);
        rec.ScanMode = scanMode;
        rec.FrontLightSorce = front;
        rec.BackLightSorce = back;
    }
    static kdsensor::SideRegisters Side(const tagADJUSTREGISTERS& r) {
        kdsensor::SideRegisters s;
        std::copy(r.Gain, r.Gain + 3, s.gain.begin());
        std::copy(r.Offset, r.Offset + 3, s.offset.begin());
        s.led = {r.RedLED, r.GreenLED, r.BlueLED};
        return s;
    }
    kdsensor::Registers registers() const {
        return {Side(rec.FrontAdjustInfo), Side(rec.BackAdjustInfo)};
    }
    // The reference the record asks for, as one averaged line per side.
    void scan(CImg& front, CImg& back, bool lit) {
        const std::vector<uint8_t> raw = kdsensor::scanReference(model, format, registers(), lit, 4);
        CImg band = rawtest::RawBand(format, raw, 0, 4);
        tagCOLLECTARRAYINFO info = rawtest::CollectInfo(format);
        if (format.back) {
            CCollectArrayForDuplex collect;
            ASSERT_EQ(collect.IPInterface(band, &info), RTN_OK);
            CImg b;
            collect.getBackImage(b);
            back = rawtest::MeanLine(b);
        } else {
            CCollectArrayForSimplex collect;
            ASSERT_EQ(collect.IPInterface(band, &info), RTN_OK);
        }
        front = rawtest::MeanLine(band);
    }
    void scan(CImg& front, CImg& back) { scan(front, back, rec.ScanInfo == 0xFEFE); }
    int step() {
        CImg front, back;
        scan(front, back);
        return adjust.AdjustLightNext(front, back, &rec);
    }
};

int32_t Extreme(const CImg& line, bool max) {
    const auto* s = reinterpret_cast<const uint16_t*>(line.info().lpImage);
    const int64_t plane = line.info().lSync / 2;
    int32_t v = max ? 0 : 65535;
    for (int c = 0; c < 3; ++c)
        for (int32_t x = 0; x < line.info().lWidth; ++x)
            v = max ? std::max<int32_t>(v, s[c * plane + x]) : std::min<int32_t>(v, s[c * plane + x]);
    return v;
}

// LEDs a light source leaves lit: red, green, blue.
std::array<bool, 3> Lit(uint32_t source) {
    switch (source) {
    case 1: return {true, false, false};
    case 2: return {false, true, false};
    case 3: return {false, false, true};
    case 4: return {false, true, true};
    case 5: return {true, false, true};
    case 6: return {true, true, false};
    default: return {true, true, true};
    }
}

struct CalibrationRun {
    int dpi;
    bool duplex;
    uint32_t scanMode, front, back;
};

TEST(AdjustLight, SevenStepsSetTheRegistersTheModelNeeds) {
    const CalibrationRun runs[] = {
        {300, false, 0, 0, 0}, {300, true, 0, 0, 0},  {600, true, 0, 0, 3}, {300, false, 2, 0, 0},
        {300, true, 1, 1, 2},  {300, true, 1, 4, 5},  {600, false, 1, 6, 0}, {300, true, 2, 3, 9},
    };
    for (const CalibrationRun& run : runs) {
        const std::string name = std::to_string(run.dpi) + (run.duplex ? " duplex" : " simplex") +
                                 " mode " + std::to_string(run.scanMode) + " light " +
                                 std::to_string(run.front) + "/" + std::to_string(run.back);
        Calibration cal(run.dpi, run.duplex, run.scanMode, run.front, run.back);
        cal.adjust.AdjustLightFirst(&cal.rec, 0);
        EXPECT_EQ(cal.rec.ScanInfo, 0xFFFF) << name;
        const uint16_t scanInfo[7] = {0xFEFE, 0xFEFE, 0xFEFE, 0xFEFE, 0xFEFE, 0xFFFF, 0xFFFF};
        for (int k = 0; k < 7; ++k) {
            EXPECT_EQ(cal.rec.bDone, 0) << name << " step " << k;
            ASSERT_EQ(cal.step(), RTN_OK) << name << " step " << k;
            EXPECT_EQ(cal.rec.ScanInfo, scanInfo[k]) << name << " step " << k;
            if (k == 5) {
                // The gain brings the brightest sample of a lit scan near 3072.
                CImg front, back;
                cal.scan(front, back, true);
                EXPECT_NEAR(Extreme(front, true), 3072, 3072 * 0.03) << name;
                if (run.duplex) {
                    EXPECT_NEAR(Extreme(back, true), 3072, 3072 * 0.03) << name;
                }
            }
        }
        EXPECT_EQ(cal.rec.bDone, 1) << name;
        EXPECT_EQ(cal.step(), RTN_STATE) << name; // an eighth call
        EXPECT_EQ(cal.step(), RTN_STATE) << name;

        // The offset brings the darkest sample of an unlit scan near 96.
        CImg front, back;
        cal.scan(front, back, false);
        EXPECT_NEAR(Extreme(front, false), 96, 12) << name;
        if (run.duplex) {
            EXPECT_NEAR(Extreme(back, false), 96, 12) << name;
        }

        const int limit = run.dpi == 300 ? 900 : 2000;
        for (int side = 0; side < (run.duplex ? 2 : 1); ++side) {
            const tagADJUSTREGISTERS& r = side ? cal.rec.BackAdjustInfo : cal.rec.FrontAdjustInfo;
            const auto lit = Lit(side ? run.back : run.front);
            const uint16_t led[3] = {r.RedLED, r.GreenLED, r.BlueLED};
            for (int c = 0; c < 3; ++c) {
                if (lit[c]) {
                    EXPECT_GT(led[c], 0) << name << " side " << side << " LED " << c;
                    EXPECT_LE(led[c], limit) << name << " side " << side << " LED " << c;
                } else {
                    EXPECT_EQ(led[c], 0) << name << " side " << side << " LED " << c;
                }
            }
            EXPECT_EQ(r.Gain[0], r.Gain[2]) << name;
            EXPECT_EQ(r.Offset[0], r.Offset[2]) << name;
        }
        if (!run.duplex) {
            // The back side keeps the start values and the LEDs of the last
            // preparation step, masked by its light source.
            const tagADJUSTREGISTERS& b = cal.rec.BackAdjustInfo;
            EXPECT_EQ(b.Gain[0], 0) << name;
            EXPECT_EQ(b.Offset[0], 30) << name;
            const auto lit = Lit(run.back);
            const uint16_t start[3] = {static_cast<uint16_t>(run.dpi == 300 ? 470 : 910),
                                       static_cast<uint16_t>(run.dpi == 300 ? 580 : 1150),
                                       static_cast<uint16_t>(run.dpi == 300 ? 520 : 1020)};
            EXPECT_EQ(b.RedLED, lit[0] ? start[0] : 0) << name;
            EXPECT_EQ(b.GreenLED, lit[1] ? start[1] : 0) << name;
            EXPECT_EQ(b.BlueLED, lit[2] ? start[2] : 0) << name;
        }
    }
}

TEST(AdjustLight, LevelMethodTargetFollowsTheRateTable) {
    struct Case {
        uint32_t scanMode, source;
        int rate; // 0: the fixed emphasis target
    };
    const Case cases[] = {{2, 0, 95}, {1, 1, 95}, {1, 3, 95}, {1, 4, 0}, {1, 6, 0}, {1, 9, 31}, {0, 5, 95}};
    for (const Case& c : cases) {
        Calibration cal(300, false, c.scanMode, c.source, 0);
        cal.adjust.AdjustLightFirst(&cal.rec, 0);
        for (int k = 0; k < 5; ++k) ASSERT_EQ(cal.step(), RTN_OK);
        const auto& dark = cal.adjust.darkLevel().side[0];
        const auto& sat = cal.adjust.saturateLevel().side[0];
        const int32_t D = std::max({dark[0].lMin, dark[1].lMin, dark[2].lMin});
        const int32_t S = std::min({sat[0].lMax, sat[1].lMax, sat[2].lMax});
        const int32_t t = c.rate == 0 ? 1305 : std::min(2611, D + (S - D) * c.rate / 100);
        for (int ch = 0; ch < 3; ++ch)
            EXPECT_EQ(cal.adjust.decidedLevel().side[0][ch].lMax, t)
                << "mode " << c.scanMode << " source " << c.source;
    }
}

TEST(AdjustLight, UnsupportedResolutionStopsTheDecisionBeforeTheRecord) {
    // Scanned at 300 dpi, recorded as 400 dpi.
    Calibration cal(300, true, 2, 0, 0, 400);
    cal.adjust.AdjustLightFirst(&cal.rec, 0);
    for (int k = 0; k < 4; ++k) ASSERT_EQ(cal.step(), RTN_OK);
    EXPECT_EQ(cal.rec.FrontAdjustInfo.RedLED, 0); // no start currents at 400 dpi
    EXPECT_EQ(cal.step(), RTN_STATE);
    EXPECT_EQ(cal.rec.FrontAdjustInfo.RedLED, 0);
    EXPECT_EQ(cal.rec.FrontAdjustInfo.GreenLED, 0);
    EXPECT_EQ(cal.rec.BackAdjustInfo.BlueLED, 0);
    EXPECT_EQ(cal.rec.ScanInfo, 0xFEFE); // the next scan is still prepared
}

TEST(AdjustLight, ModeThreeSetsTheTargetIndexForGood) {
    CAdjustLight adjust;
    tagADJUSTINFO rec{};
    adjust.AdjustLightFirst(&rec, 0);
    EXPECT_EQ(adjust.targetIndex(), 0);
    adjust.AdjustLightFirst(&rec, 3);
    EXPECT_EQ(adjust.targetIndex(), 1);
    adjust.AdjustLightFirst(&rec, 0);
    EXPECT_EQ(adjust.targetIndex(), 1);
}

TEST(AdjustLight, AFailedMeasurementStillPreparesTheNextScan) {
    Calibration cal(300, true, 0, 0, 0);
    cal.adjust.AdjustLightFirst(&cal.rec, 0);
    CImg none, gray;
    ASSERT_TRUE(gray.createImg(8, 1, 16, 1, 0, 300, 300));
    // Step 0 without images: the offsets stay, the LEDs are prepared.
    EXPECT_EQ(cal.adjust.AdjustLightNext(none, none, &cal.rec), RTN_PAR);
    EXPECT_EQ(cal.rec.FrontAdjustInfo.Offset[0], 30);
    EXPECT_EQ(cal.rec.ScanInfo, 0xFEFE);
    // Step 1 with a one-sample front: the dark level is not measured.
    EXPECT_EQ(cal.adjust.AdjustLightNext(gray, gray, &cal.rec), RTN_PAR);
    EXPECT_EQ(cal.rec.FrontAdjustInfo.RedLED, 8191);
    EXPECT_EQ(cal.rec.BackAdjustInfo.BlueLED, 8191);
    ASSERT_EQ(cal.step(), RTN_OK);
    ASSERT_EQ(cal.step(), RTN_OK);
    // The balanced gray method finds no dark samples: 4.
    EXPECT_EQ(cal.step(), RTN_STATE);
    EXPECT_EQ(cal.adjust.AdjustLightNext(none, none, nullptr), RTN_PAR);
}

TEST(AdjustLight, ReferencesOfDifferentWidthsAreReadOnlyAsFarAsAllReach) {
    Calibration cal(300, false, 0, 0, 0);
    cal.adjust.AdjustLightFirst(&cal.rec, 0);
    ASSERT_EQ(cal.step(), RTN_OK);
    // A dark reference of 10 pixels: the decision reads no further.
    CImg front, back;
    cal.scan(front, back);
    front.info().lWidth = 10;
    ASSERT_EQ(cal.adjust.AdjustLightNext(front, back, &cal.rec), RTN_OK);
    ASSERT_EQ(cal.step(), RTN_OK);
    ASSERT_EQ(cal.step(), RTN_OK);
    EXPECT_EQ(cal.step(), RTN_OK);
    EXPECT_GT(cal.rec.FrontAdjustInfo.RedLED, 0);
}

} // namespace
