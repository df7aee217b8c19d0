#include "CapHelpers.h"
#include "Fix32Cases.h"
#include "CapTables.h"
#include "KdTwainCustom.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr TW_UINT32 Fix(std::int16_t whole, std::uint16_t frac) {
    return std::uint32_t(std::uint16_t(whole)) | (std::uint32_t(frac) << 16);
}

TEST(CapHelpers, FloatToFix32) {
    for (const twaintest::Fix32Case& c : twaintest::kFix32Cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FloatToFix32(c.value), Fix(c.whole, c.frac));
        if (c.exact) {
            EXPECT_EQ(Fix32ToFloat(FloatToFix32(c.value)), c.value);
        }
    }
    EXPECT_EQ(Fix32ToFloat(Fix(1, 0x8000)), 1.5f);
    EXPECT_EQ(Fix32ToFloat(Fix(-2, 0x8000)), -1.5f);
}

TEST(CapHelpers, UnitConversions) {
    EXPECT_EQ(PixelToInch(600, 300), Fix(2, 0));
    EXPECT_EQ(Fix32ToFloat(PixelToCm(300, 300)), Fix32ToFloat(FloatToFix32(2.54f)));
    EXPECT_EQ(InchToPixel(Fix(2, 0x8000), 300), 750);
    EXPECT_EQ(InchToPixel(Fix(0, 0x8000), 301), 150); // truncated toward zero
    EXPECT_EQ(CmToPixel(FloatToFix32(5.08f), 100), 200);
    EXPECT_EQ(InchToPixel(Fix(-1, 0), 300), -300);
    // 0 dpi answers 0, huge products saturate.
    EXPECT_EQ(PixelToInch(600, 0), 0u);
    EXPECT_EQ(PixelToCm(600, 0), 0u);
    EXPECT_EQ(InchToPixel(Fix(2, 0), 0), 0);
    EXPECT_EQ(InchToPixel(Fix(32767, 0), 4000000000u), std::numeric_limits<TW_INT32>::max());
    EXPECT_EQ(CmToPixel(Fix(-32768, 0), 4000000000u), std::numeric_limits<TW_INT32>::min());
}

TEST(CapHelpers, ToneTables) {
    unsigned char table[256];
    MakeGammaTable(2.2f, table);
    EXPECT_EQ(table[128], 186);
    EXPECT_EQ(table[0], 0);
    EXPECT_EQ(table[255], 255);
    for (float gamma : {1.0f, 0.0f, -2.0f, std::numeric_limits<float>::quiet_NaN(),
                        std::numeric_limits<float>::infinity()}) {
        std::memset(table, 0xEE, sizeof table);
        MakeGammaTable(gamma, table);
        for (int i = 0; i < 256; ++i) ASSERT_EQ(table[i], i) << "gamma " << gamma;
    }
}

TEST(CapHelpers, AccessorsOnThePool) {
    auto pool = MakeKdCapPool();
    ASSERT_NE(pool, nullptr);
    CCapPool* p = pool.get();

    // Missing ids: 0 and no effect.
    EXPECT_EQ(GetCapUIntValue(p, 0x7777), 0u);
    EXPECT_EQ(SetCapUIntValue(p, 0x7777, 5), 0);
    EXPECT_EQ(GetCapFloatValue(p, 0x7777), 0.0f);
    EXPECT_EQ(GetCapStepSize(p, 0x7777), 0.0f);
    EXPECT_EQ(ResetCapValue(p, 0x7777), 0);
    EXPECT_EQ(p->GetCapability(0x7777), nullptr);
    EXPECT_EQ(GetCapUIntValue(nullptr, CCAP_TVK_DESKEW), 0u);

    // The string getter leaves the buffer alone for other item types.
    char buffer[256];
    std::memset(buffer, 'q', sizeof buffer);
    EXPECT_EQ(GetCapStrValue(p, CCAP_TVK_DESKEW, buffer), buffer);
    EXPECT_EQ(GetCapStrValue(p, 0x7777, buffer), buffer);
    for (char c : buffer) ASSERT_EQ(c, 'q');
    EXPECT_EQ(SetCapStrValue(p, CCAP_TVK_DESKEW, buffer), 0);
    GetCapStrValue(p, ICAP_HALFTONES, buffer);
    EXPECT_EQ(std::memcmp(buffer, "\x04None", 5), 0);

    // Enumerations accept listed values only.
    EXPECT_EQ(SetCapUIntValue(p, ICAP_XRESOLUTION, 400), 1);
    EXPECT_EQ(SetCapUIntValue(p, ICAP_XRESOLUTION, 123), 0);
    EXPECT_EQ(GetCapUIntValue(p, ICAP_XRESOLUTION), 400u);
    EXPECT_EQ(ResetCapValue(p, ICAP_XRESOLUTION), 1);
    EXPECT_EQ(GetCapUIntValue(p, ICAP_XRESOLUTION), 300u);

    // The scan frame is INT32; the settings window reads it as float.
    EXPECT_EQ(SetCapFloatValue(p, CCAP_TVKM_SCANAREA_WIDTH, 10200.9f), 1);
    EXPECT_EQ(GetCapSIntValue(p, CCAP_TVKM_SCANAREA_WIDTH), 10200);
    EXPECT_EQ(GetCapFloatValue(p, CCAP_TVKM_SCANAREA_WIDTH), 10200.0f);
    EXPECT_EQ(SetCapSIntValue(p, CCAP_TVKM_WINDOW, -1), 1);
    EXPECT_EQ(GetCapUIntValue(p, CCAP_TVKM_WINDOW), 0xFFFFFFFFu);
    EXPECT_EQ(GetCapSIntValue(p, CCAP_TVKM_WINDOW), -1);

    // Ranges check their limits; NaN never gets in.
    EXPECT_EQ(SetCapFloatValue(p, ICAP_BRIGHTNESS, -1000.0f), 1);
    EXPECT_EQ(SetCapFloatValue(p, ICAP_BRIGHTNESS, 1000.5f), 0);
    EXPECT_EQ(SetCapFloatValue(p, ICAP_BRIGHTNESS, std::nanf("")), 0);
    EXPECT_EQ(GetCapFloatValue(p, ICAP_BRIGHTNESS), -1000.0f);
    EXPECT_FLOAT_EQ(GetCapStepSize(p, ICAP_CONTRAST), 1000.0f / 3.0f);
    EXPECT_EQ(GetCapStepSize(p, CCAP_TVK_DESKEW), 0.0f); // not a range
}

} // namespace
