#include "CapData.h"
#include "CapHelpers.h"
#include "CapTables.h"
#include "KdTwainCustom.h"
#include "TempHome.h"

#include "foundation/Preferences.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <random>
#include <string>

namespace {

std::unique_ptr<CCapPool> HookedPool() {
    auto pool = MakeKdCapPool();
    pool->SetFlatteningFunction(FlattenCapabilities);
    pool->SetUnflatteningFunction(UnflattenCapabilities);
    return pool;
}

kdf::Bytes Flatten(CCapPool* pool) {
    TW_INT32 version = 0;
    kdf::Bytes data;
    EXPECT_EQ(FlatteningCaps(pool, &version, &data), 1);
    EXPECT_EQ(version, 1);
    EXPECT_EQ(data.size(), kCapDataSize);
    return data;
}

void Put(kdf::Bytes& b, std::size_t at, std::initializer_list<std::uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
}

TEST(CapData, GoldenRecordOfTheDefaults) {
    auto pool = HookedPool();
    kdf::Bytes expected(kCapDataSize, 0);
    Put(expected, 0, {0xFF, 0xFF});              // CAP_XFERCOUNT -1
    Put(expected, 20, {2});                      // unit
    Put(expected, 34, {4, 'N', 'o', 'n', 'e'});  // ICAP_HALFTONES, counted
    Put(expected, 76, {2});
    Put(expected, 80, {2});
    Put(expected, 88, {1});
    Put(expected, 92, {2});
    Put(expected, 96, {2});
    Put(expected, 100, {1});
    Put(expected, 104, {0x2C, 0x01}); // 300 dpi
    Put(expected, 120, {10});
    Put(expected, 124, {9}); // paper size
    Put(expected, 212, {1});
    Put(expected, 216, {1});
    Put(expected, 218, {1});
    Put(expected, 248, {128});
    Put(expected, 252, {128});
    Put(expected, 256, {3});
    Put(expected, 260, {1});
    Put(expected, 276, {4});
    for (std::size_t at = 2372; at <= 2400; at += 4) Put(expected, at, {0x3F, 0x80, 0, 0}); // 1.0f big-endian
    EXPECT_EQ(Flatten(pool.get()), expected);
}

// Every field of the record at a value other than its default: where it
// lands in the record, and that it comes back.
struct FieldCase {
    std::size_t offset;
    char kind; // h s16, H u16, i s32, I u32, f float, s string of the given size
    TW_UINT16 id;
    double value;
    std::size_t stringSize = 0;
};

const FieldCase kFieldCases[] = {
    {0, 'h', CAP_XFERCOUNT, 5},
    {4, 'i', CCAP_TVKM_SCANAREA_X, 100},
    {8, 'i', CCAP_TVKM_SCANAREA_Y, 200},
    {12, 'i', CCAP_TVKM_SCANAREA_WIDTH, 10200},
    {16, 'i', CCAP_TVKM_SCANAREA_HEIGHT, -7},
    {20, 'I', CCAP_TVKM_UNIT, 1},
    {24, 'I', CCAP_TVKM_CUSTOM_SCANAREA, 1},
    {28, 'I', CCAP_TVK_MARGINLENGTH, 3},
    {32, 'H', ICAP_PIXELTYPE, 2},
    {68, 'I', CCAP_TVK_TEXTENHANCE, 1},
    {72, 'I', CCAP_TVK_DETECTPAGETYPE, 1},
    {76, 'I', CCAP_TVK_DETECTPAGETYPE_THRESHOLD, 5},
    {80, 'I', CCAP_TVK_DETECTPAGETYPE_AMOUNT, 6},
    {84, 'I', CCAP_TVKM_DETECTPAGETYPE_BWMODE, 1},
    {88, 'I', CCAP_TVK_DETECTPAGETYPE_MODE, 2},
    {92, 'I', CCAP_TVK_DETECTPAGETYPE_GRAY_THRESHOLD, 7},
    {96, 'I', CCAP_TVK_DETECTPAGETYPE_GRAY_AMOUNT, 8},
    {100, 'I', CCAP_TVK_EPUBFILTER, 0},
    {104, 'H', ICAP_XRESOLUTION, 600},
    {106, 'H', CCAP_TVK_AUTORESOLUTION, 1},
    {108, 'H', CAP_DUPLEXENABLED, 1},
    {112, 'I', CCAP_TVK_BLANKSKIP, 1},
    {116, 'I', CCAP_TVK_FOLDLARGESIZE, 1},
    {120, 'I', CCAP_TVK_BLANKSKIPSLICE3, 20},
    {124, 'i', CCAP_TVKM_PAPERSIZE, -1},
    {128, 'i', CCAP_TVK_DETECTPAGESIZE, 1},
    {132, 's', CCAP_TVKM_CUSTOMPAGESIZENAME, 1, 66},
    {200, 'I', CCAP_TVK_DESKEW, 1},
    {204, 'I', CCAP_TVK_SKEWMETHOD, 2},
    {208, 'H', CCAP_TVK_PHOTOMODE, 1},
    {212, 'I', CCAP_TVK_REDUCE_MOIRE, 0},
    {216, 'H', CCAP_TVK_REMOVESHADOW, 0},
    {218, 'H', CCAP_TVKM_REMOVESHADOW_ACTION, 0},
    {220, 'H', CCAP_TVK_COLORSATURATION, 1},
    {224, 'f', ICAP_BRIGHTNESS, 500},
    {228, 'f', kBackBrightness, -250.5},
    {232, 'H', CCAP_TVKM_BACKBRIGHTNESSENABLED, 1},
    {236, 'f', ICAP_CONTRAST, 1000.0f / 3.0f},
    {240, 'f', kBackContrast, -1000},
    {244, 'H', CCAP_TVKM_BACKCONTRASTENABLED, 1},
    {248, 'i', CCAP_TVK_TEXTENHANCE_BRIGHTNESS, -5},
    {252, 'i', CCAP_TVK_TEXTENHANCE_CONTRAST, 200},
    {256, 'I', CCAP_TVK_EDGEEMPHASIS, 7},
    {260, 'I', CCAP_TVK_DATAORIENTATION, 2},
    {264, 'I', CCAP_TVK_REVERSESCANTYPE, 1},
    {268, 'I', CCAP_TVK_RECOGNIZE_DIRECTION, 1},
    {272, 'I', CCAP_TVK_BLEEDTHROUGH, 1},
    {276, 'I', CCAP_TVK_BLEEDTHROUGH_THRESHOLD, 9},
    {280, 'I', CCAP_TVK_DROPOUT, 2},
    {284, 'I', CCAP_TVK_COLORENHANCE, 3},
    {288, 'I', kBackDropout, 4},
    {292, 'I', kBackColorEnhance, 5},
    {296, 'I', CCAP_TVK_FEEDER_JAMLESS, 1},
    {300, 'I', CCAP_TVK_DETECTDBLFEED_LENGTH, 1},
    {304, 'I', CCAP_TVK_DETECTDBLFEED_ULTRASONIC, 1},
    {308, 'I', CCAP_TVK_MANUALFEED, 1},
    {312, 'I', CCAP_TVK_AUTOSTARTDELAY, 7},
    {316, 'H', CCAP_TVK_ROTATEFEEDINGDIRECTION, 1},
    {320, 'I', CCAP_TVK_PRESCAN, 4294967295.0},
    {324, 's', CCAP_TVKM_GRAYCURVE, 2, 256},
    {580, 's', CCAP_TVKM_REDCURVE, 3, 256},
    {836, 's', CCAP_TVKM_GREENCURVE, 4, 256},
    {1092, 's', CCAP_TVKM_BLUECURVE, 5, 256},
    {1348, 's', kBackGrayCurve, 6, 256},
    {1604, 's', kBackRedCurve, 7, 256},
    {1860, 's', kBackGreenCurve, 8, 256},
    {2116, 's', kBackBlueCurve, 9, 256},
    {2372, 'f', CCAP_TVKM_GRAYGAMMA, 1.8},
    {2376, 'f', CCAP_TVKM_REDGAMMA, 2.2},
    {2380, 'f', CCAP_TVKM_GREENGAMMA, 0.5},
    {2384, 'f', CCAP_TVKM_BLUEGAMMA, 3},
    {2388, 'f', kBackGrayGamma, 1.25},
    {2392, 'f', kBackRedGamma, 1.5},
    {2396, 'f', kBackGreenGamma, 1.75},
    {2400, 'f', kBackBlueGamma, 2},
    {2404, 'I', CCAP_TVKM_GAMMAMODE, 1},
    {2408, 'I', CCAP_TVKM_GAMMAMETHOD, 0xAA},
    {2412, 's', CCAP_TVKM_CUSTOMGAMMANAME, 10, 66},
    {2478, 's', CCAP_TVKM_FAVORITENAME, 11, 66},
    {2544, 'h', CCAP_TVKM_TRIMMING, 1},
    {2548, 'I', CCAP_TVK_DFDINDIFFERENT_START_POSOFY, 10},
    {2552, 'I', CCAP_TVK_DFDINDIFFERENT_END_POSOFY, 20},
    {2556, 'H', CCAP_TVK_SEPARATIONRETRY, 1},
    {2558, 'H', CCAP_TVK_SKEWDETECT, 1},
    {2560, 'H', CCAP_TVK_THINPAPER, 1},
    {2562, 'H', CCAP_TVK_NONSEPARATIONFEED, 1},
    {2564, 'H', CCAP_TVKM_CARRIERSHEET, 1},
    {2568, 'I', CCAP_TVK_BINIPFILTER, 2},
};

// Raw bytes of a string field; seed picks the pattern.
std::string Pattern(int seed, std::size_t size) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 7 + seed * 13) & 0xFF);
    return s;
}

void SetAll(CCapPool* pool) {
    for (const FieldCase& f : kFieldCases) {
        SCOPED_TRACE(f.id);
        switch (f.kind) {
        case 'f': ASSERT_EQ(SetCapFloatValue(pool, f.id, static_cast<float>(f.value)), 1); break;
        case 's': ASSERT_EQ(SetCapStrValue(pool, f.id, Pattern(int(f.value), f.stringSize).data()), 1); break;
        case 'h':
        case 'i': ASSERT_EQ(SetCapSIntValue(pool, f.id, static_cast<TW_INT32>(f.value)), 1); break;
        default: ASSERT_EQ(SetCapUIntValue(pool, f.id, static_cast<TW_UINT32>(f.value)), 1); break;
        }
    }
    ASSERT_EQ(SetCapStrValue(pool, ICAP_HALFTONES, "\x0F" "Error Diffusion\0..................."), 1);
}

TEST(CapData, EveryFieldLandsInPlaceAndComesBack) {
    auto pool = HookedPool();
    SetAll(pool.get());
    ASSERT_EQ(SetCapUIntValue(pool.get(), ICAP_YRESOLUTION, 200), 1); // differs from X
    const kdf::Bytes record = Flatten(pool.get());

    for (const FieldCase& f : kFieldCases) {
        SCOPED_TRACE(f.offset);
        const std::uint8_t* p = record.data() + f.offset;
        switch (f.kind) {
        case 'h': EXPECT_EQ(std::int16_t(p[0] | p[1] << 8), std::int16_t(f.value)); break;
        case 'H': EXPECT_EQ(std::uint16_t(p[0] | p[1] << 8), std::uint16_t(f.value)); break;
        case 'i':
        case 'I': {
            std::uint32_t v;
            std::memcpy(&v, p, 4);
            EXPECT_EQ(v, static_cast<std::uint32_t>(static_cast<std::int64_t>(f.value)));
            break;
        }
        case 'f': {
            const std::uint32_t be = std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 |
                                     std::uint32_t(p[2]) << 8 | p[3];
            EXPECT_EQ(std::bit_cast<float>(be), static_cast<float>(f.value));
            break;
        }
        case 's': EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), f.stringSize), Pattern(int(f.value), f.stringSize));
        }
    }
    EXPECT_EQ(std::memcmp(record.data() + 34, "\x0F" "Error Diffusion", 16), 0);
    EXPECT_EQ(record[200], 1);

    auto back = HookedPool();
    UnflatteningCaps(back.get(), &record, 1);
    EXPECT_EQ(GetCapUIntValue(back.get(), ICAP_YRESOLUTION), 600u); // follows X
    const TW_UINT16 yRes[] = {ICAP_YRESOLUTION};
    EXPECT_TRUE(back->IsEqualToCapValues(pool.get(), yRes, 1));
    EXPECT_FALSE(back->IsEqualToCapValues(HookedPool().get(), nullptr, 0));
}

TEST(CapData, ShortRecordsAndEvenVersionsChangeNothing) {
    auto changed = HookedPool();
    SetAll(changed.get());
    kdf::Bytes record = Flatten(changed.get());
    const auto defaults = HookedPool();

    auto target = HookedPool();
    UnflattenCapabilities(target.get(), record, 2);
    UnflattenCapabilities(target.get(), record, 0);
    record.pop_back();
    UnflattenCapabilities(target.get(), record, 1);
    UnflattenCapabilities(target.get(), kdf::Bytes{}, 1);
    EXPECT_TRUE(target->IsEqualToCapValues(defaults.get(), nullptr, 0));
    record.push_back(0);
    record.push_back(0); // longer is fine
    UnflattenCapabilities(target.get(), record, 3);
    EXPECT_EQ(GetCapUIntValue(target.get(), CCAP_TVK_DESKEW), 1u);
}

TEST(CapData, DamagedFieldsTakeTheirDefaults) {
    auto pool = HookedPool();
    ASSERT_EQ(SetCapUIntValue(pool.get(), ICAP_PIXELTYPE, 1), 1);
    ASSERT_EQ(SetCapFloatValue(pool.get(), ICAP_BRIGHTNESS, 250), 1);
    kdf::Bytes record = Flatten(HookedPool().get());
    Put(record, 32, {7, 0});                 // pixel type not in the list
    Put(record, 104, {123, 0});              // resolution not in the list
    Put(record, 224, {0x7F, 0xC0, 0, 0});    // NaN brightness
    Put(record, 236, {0x7F, 0x80, 0, 0});    // infinite contrast
    Put(record, 34, {40, 'N', 'o', 'n', 'e'}); // length beyond the field
    Put(record, 200, {1});                   // a sound field beside them
    Put(record, 256, {0, 0, 0, 0});          // edge emphasis 0: no page would come
    Put(record, 108, {0xFF, 0xFF});          // duplex "65535"
    Put(record, 0, {0x3C, 0xF2});            // transfer count -3524
    ASSERT_EQ(SetCapSIntValue(pool.get(), CCAP_TVK_EDGEEMPHASIS, 5), 1);
    UnflattenCapabilities(pool.get(), record, 1);
    EXPECT_EQ(GetCapUIntValue(pool.get(), ICAP_PIXELTYPE), 0u);
    EXPECT_EQ(GetCapUIntValue(pool.get(), ICAP_XRESOLUTION), 300u);
    EXPECT_EQ(GetCapFloatValue(pool.get(), ICAP_BRIGHTNESS), 0.0f);
    EXPECT_EQ(GetCapSIntValue(pool.get(), CCAP_TVK_EDGEEMPHASIS), 3);
    EXPECT_EQ(GetCapUIntValue(pool.get(), CAP_DUPLEXENABLED), 0u);
    EXPECT_EQ(GetCapSIntValue(pool.get(), CAP_XFERCOUNT), -1);
    EXPECT_EQ(GetCapFloatValue(pool.get(), ICAP_CONTRAST), 0.0f);
    char halftone[34];
    GetCapStrValue(pool.get(), ICAP_HALFTONES, halftone);
    EXPECT_EQ(std::memcmp(halftone, "\x04None", 5), 0);
    EXPECT_EQ(GetCapUIntValue(pool.get(), CCAP_TVK_DESKEW), 1u);
}

// Seeded garbage and truncations; the sanitizer build checks the reads.
TEST(CapData, GarbageNeverBreaksThePool) {
    std::mt19937 random(20240611);
    auto valid = HookedPool();
    SetAll(valid.get());
    const kdf::Bytes good = Flatten(valid.get());
    for (int round = 0; round < 200; ++round) {
        kdf::Bytes data;
        if (round % 2 == 0) {
            data.assign(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(random() % (good.size() + 1)));
        } else {
            data.resize(kCapDataSize + random() % 16);
            for (auto& b : data) b = static_cast<std::uint8_t>(random());
        }
        auto pool = HookedPool();
        UnflattenCapabilities(pool.get(), data, 1);
        for (const auto& [id, cap] : pool->Capabilities()) {
            if (auto* e = dynamic_cast<CCapEnum*>(cap.get())) {
                ASSERT_LT(e->GetCurrentIndex(), e->GetValueCount()) << id;
            }
        }
        const float brightness = GetCapFloatValue(pool.get(), ICAP_BRIGHTNESS);
        ASSERT_TRUE(brightness >= -1000 && brightness <= 1000);
        ASSERT_TRUE(std::isfinite(GetCapFloatValue(pool.get(), CCAP_TVKM_GRAYGAMMA)));
        for (const auto& [id, cap] : pool->Capabilities()) ASSERT_TRUE(CapValueAllowed(id, *cap)) << id;
    }
}

// A record of 0xFF bytes: every field its capability refuses takes its
// default, the ones that read as sound values stand.
TEST(CapData, RecordOfFFBytesLeavesOnlyAllowedValues) {
    auto pool = HookedPool();
    UnflattenCapabilities(pool.get(), kdf::Bytes(kCapDataSize, 0xFF), 1);
    for (const auto& [id, cap] : pool->Capabilities()) EXPECT_TRUE(CapValueAllowed(id, *cap)) << id;
    EXPECT_EQ(GetCapUIntValue(pool.get(), CAP_DUPLEXENABLED), 0u);
    EXPECT_EQ(GetCapSIntValue(pool.get(), CAP_XFERCOUNT), -1);
    EXPECT_EQ(GetCapSIntValue(pool.get(), CCAP_TVK_EDGEEMPHASIS), 3);
    EXPECT_EQ(GetCapUIntValue(pool.get(), ICAP_PIXELTYPE), 0u);
    EXPECT_EQ(GetCapUIntValue(pool.get(), ICAP_XRESOLUTION), 300u);
}

// The domains themselves: what a one-value cannot refuse.
TEST(CapData, ValueDomainsOfOneValueCapabilities) {
    struct Case {
        TW_UINT16 cap;
        TW_INT32 value;
        bool allowed;
    };
    const Case cases[] = {
        {CCAP_TVK_EDGEEMPHASIS, 0, false}, {CCAP_TVK_EDGEEMPHASIS, 1, true},  {CCAP_TVK_EDGEEMPHASIS, 9, true},
        {CCAP_TVK_EDGEEMPHASIS, 10, false}, {CAP_XFERCOUNT, -1, true},        {CAP_XFERCOUNT, 0, false},
        {CAP_XFERCOUNT, -2, false},         {CAP_XFERCOUNT, 32767, true},     {CAP_DUPLEXENABLED, 1, true},
        {CAP_DUPLEXENABLED, 2, false},      {CCAP_TVK_DESKEW, 123456, true},
    };
    auto pool = HookedPool();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.cap) + " = " + std::to_string(c.value));
        CCapability* cap = pool->GetCapability(c.cap);
        ASSERT_NE(cap, nullptr);
        ASSERT_TRUE(cap->WriteValue(c.value));
        EXPECT_EQ(CapValueAllowed(c.cap, *cap), c.allowed);
        cap->Reset();
    }
}

class CapDataFile : public ::testing::Test {
protected:
    kdtest::TempHome home;

    static kdf::Bytes ChangedRecord() {
        auto pool = HookedPool();
        EXPECT_EQ(SetCapUIntValue(pool.get(), CCAP_TVK_DESKEW, 1), 1);
        return Flatten(pool.get());
    }
};

TEST_F(CapDataFile, VersionDecidesWhetherTheRecordApplies) {
    struct Case {
        const char* name;
        std::optional<kdf::Value> version;
        bool applied;
    };
    const Case cases[] = {
        {"string 1", kdf::Value("1"), true},  {"number 1", kdf::Value(1), true},
        {"string 3", kdf::Value("3"), true},  {"string 2", kdf::Value("2"), false},
        {"number 2", kdf::Value(2), false},   {"absent", std::nullopt, false},
        {"not a number", kdf::Value("one"), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kdf::Dictionary file{{kCapDataKey, kdf::Value(ChangedRecord())}};
        if (c.version) file[kCapDataVersionKey] = *c.version;
        ASSERT_TRUE(kdf::writePreferencesFile(kKdPreferencesName, file));
        auto pool = HookedPool();
        LoadCustomCapabilities(pool.get());
        EXPECT_EQ(GetCapUIntValue(pool.get(), CCAP_TVK_DESKEW), c.applied ? 1u : 0u);
    }
}

TEST_F(CapDataFile, SavingKeepsOtherKeys) {
    ASSERT_TRUE(kdf::writePreferencesFile(
        kKdPreferencesName, {{"ExchangeRollerCount", kdf::Value(200000)}, {"FavoriteDatas", kdf::Value("kept")}}));
    auto pool = HookedPool();
    ASSERT_EQ(SetCapSIntValue(pool.get(), CCAP_TVKM_PAPERSIZE, 4), 1);
    ASSERT_TRUE(SaveCustomCapabilities(pool.get()));

    kdf::PreferencesContent content = kdf::readPreferencesFile(kKdPreferencesName);
    ASSERT_EQ(content.state, kdf::PreferencesContent::State::Loaded);
    EXPECT_EQ(*kdf::find(content.values, "ExchangeRollerCount"), kdf::Value(200000));
    EXPECT_EQ(*kdf::find(content.values, "FavoriteDatas"), kdf::Value("kept"));
    EXPECT_EQ(*kdf::find(content.values, kCapDataVersionKey), kdf::Value("1"));
    ASSERT_NE(kdf::find(content.values, kCapDataKey)->bytes(), nullptr);
    EXPECT_EQ(*kdf::find(content.values, kCapDataKey)->bytes(), Flatten(pool.get()));

    auto loaded = HookedPool();
    EXPECT_TRUE(LoadCustomCapabilities(loaded.get()));
    EXPECT_EQ(GetCapSIntValue(loaded.get(), CCAP_TVKM_PAPERSIZE), 4);

    // No record (no hook): both keys go, the rest stays.
    CCapPool bare;
    ASSERT_TRUE(SaveCustomCapabilities(&bare));
    content = kdf::readPreferencesFile(kKdPreferencesName);
    EXPECT_EQ(kdf::find(content.values, kCapDataKey), nullptr);
    EXPECT_EQ(kdf::find(content.values, kCapDataVersionKey), nullptr);
    EXPECT_NE(kdf::find(content.values, "FavoriteDatas"), nullptr);
}

} // namespace
