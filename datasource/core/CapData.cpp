#include "CapData.h"

#include "CapHelpers.h"
#include "CapTables.h"
#include "KdTwainCustom.h"

#include "foundation/Preferences.h"

#include <syslog.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

enum class Field { S16, U16, S32, U32, FloatBE, String };

struct RecordField {
    std::size_t offset;
    Field kind;
    TW_UINT16 id;
    std::size_t size; // the space of a string field
};

// The record's layout; bytes not listed are reserved (written as zero,
// ignored on reading).
constexpr RecordField kFields[] = {
    {0, Field::S16, CAP_XFERCOUNT, 2},
    {4, Field::S32, CCAP_TVKM_SCANAREA_X, 4},
    {8, Field::S32, CCAP_TVKM_SCANAREA_Y, 4},
    {12, Field::S32, CCAP_TVKM_SCANAREA_WIDTH, 4},
    {16, Field::S32, CCAP_TVKM_SCANAREA_HEIGHT, 4},
    {20, Field::U32, CCAP_TVKM_UNIT, 4},
    {24, Field::U32, CCAP_TVKM_CUSTOM_SCANAREA, 4},
    {28, Field::U32, CCAP_TVK_MARGINLENGTH, 4},
    {32, Field::U16, ICAP_PIXELTYPE, 2},
    {34, Field::String, ICAP_HALFTONES, 34},
    {68, Field::U32, CCAP_TVK_TEXTENHANCE, 4},
    {72, Field::U32, CCAP_TVK_DETECTPAGETYPE, 4},
    {76, Field::U32, CCAP_TVK_DETECTPAGETYPE_THRESHOLD, 4},
    {80, Field::U32, CCAP_TVK_DETECTPAGETYPE_AMOUNT, 4},
    {84, Field::U32, CCAP_TVKM_DETECTPAGETYPE_BWMODE, 4},
    {88, Field::U32, CCAP_TVK_DETECTPAGETYPE_MODE, 4},
    {92, Field::U32, CCAP_TVK_DETECTPAGETYPE_GRAY_THRESHOLD, 4},
    {96, Field::U32, CCAP_TVK_DETECTPAGETYPE_GRAY_AMOUNT, 4},
    {100, Field::U32, CCAP_TVK_EPUBFILTER, 4},
    {104, Field::U16, ICAP_XRESOLUTION, 2}, // read back into X and Y
    {106, Field::U16, CCAP_TVK_AUTORESOLUTION, 2},
    {108, Field::U16, CAP_DUPLEXENABLED, 2},
    {112, Field::U32, CCAP_TVK_BLANKSKIP, 4},
    {116, Field::U32, CCAP_TVK_FOLDLARGESIZE, 4},
    {120, Field::U32, CCAP_TVK_BLANKSKIPSLICE3, 4},
    {124, Field::S32, CCAP_TVKM_PAPERSIZE, 4},
    {128, Field::S32, CCAP_TVK_DETECTPAGESIZE, 4},
    {132, Field::String, CCAP_TVKM_CUSTOMPAGESIZENAME, 68},
    {200, Field::U32, CCAP_TVK_DESKEW, 4},
    {204, Field::U32, CCAP_TVK_SKEWMETHOD, 4},
    {208, Field::U16, CCAP_TVK_PHOTOMODE, 2},
    {212, Field::U32, CCAP_TVK_REDUCE_MOIRE, 4},
    {216, Field::U16, CCAP_TVK_REMOVESHADOW, 2},
    {218, Field::U16, CCAP_TVKM_REMOVESHADOW_ACTION, 2},
    {220, Field::U16, CCAP_TVK_COLORSATURATION, 2},
    {224, Field::FloatBE, ICAP_BRIGHTNESS, 4},
    {228, Field::FloatBE, kBackBrightness, 4},
    {232, Field::U16, CCAP_TVKM_BACKBRIGHTNESSENABLED, 2},
    {236, Field::FloatBE, ICAP_CONTRAST, 4},
    {240, Field::FloatBE, kBackContrast, 4},
    {244, Field::U16, CCAP_TVKM_BACKCONTRASTENABLED, 2},
    {248, Field::S32, CCAP_TVK_TEXTENHANCE_BRIGHTNESS, 4},
    {252, Field::S32, CCAP_TVK_TEXTENHANCE_CONTRAST, 4},
    {256, Field::U32, CCAP_TVK_EDGEEMPHASIS, 4},
    {260, Field::U32, CCAP_TVK_DATAORIENTATION, 4},
    {264, Field::U32, CCAP_TVK_REVERSESCANTYPE, 4},
    {268, Field::U32, CCAP_TVK_RECOGNIZE_DIRECTION, 4},
    {272, Field::U32, CCAP_TVK_BLEEDTHROUGH, 4},
    {276, Field::U32, CCAP_TVK_BLEEDTHROUGH_THRESHOLD, 4},
    {280, Field::U32, CCAP_TVK_DROPOUT, 4},
    {284, Field::U32, CCAP_TVK_COLORENHANCE, 4},
    {288, Field::U32, kBackDropout, 4},
    {292, Field::U32, kBackColorEnhance, 4},
    {296, Field::U32, CCAP_TVK_FEEDER_JAMLESS, 4},
    {300, Field::U32, CCAP_TVK_DETECTDBLFEED_LENGTH, 4},
    {304, Field::U32, CCAP_TVK_DETECTDBLFEED_ULTRASONIC, 4},
    {308, Field::U32, CCAP_TVK_MANUALFEED, 4},
    {312, Field::U32, CCAP_TVK_AUTOSTARTDELAY, 4},
    {316, Field::U16, CCAP_TVK_ROTATEFEEDINGDIRECTION, 2},
    {320, Field::U32, CCAP_TVK_PRESCAN, 4},
    {324, Field::String, CCAP_TVKM_GRAYCURVE, 256},
    {580, Field::String, CCAP_TVKM_REDCURVE, 256},
    {836, Field::String, CCAP_TVKM_GREENCURVE, 256},
    {1092, Field::String, CCAP_TVKM_BLUECURVE, 256},
    {1348, Field::String, kBackGrayCurve, 256},
    {1604, Field::String, kBackRedCurve, 256},
    {1860, Field::String, kBackGreenCurve, 256},
    {2116, Field::String, kBackBlueCurve, 256},
    {2372, Field::FloatBE, CCAP_TVKM_GRAYGAMMA, 4},
    {2376, Field::FloatBE, CCAP_TVKM_REDGAMMA, 4},
    {2380, Field::FloatBE, CCAP_TVKM_GREENGAMMA, 4},
    {2384, Field::FloatBE, CCAP_TVKM_BLUEGAMMA, 4},
    {2388, Field::FloatBE, kBackGrayGamma, 4},
    {2392, Field::FloatBE, kBackRedGamma, 4},
    {2396, Field::FloatBE, kBackGreenGamma, 4},
    {2400, Field::FloatBE, kBackBlueGamma, 4},
    {2404, Field::U32, CCAP_TVKM_GAMMAMODE, 4},
    {2408, Field::U32, CCAP_TVKM_GAMMAMETHOD, 4},
    {2412, Field::String, CCAP_TVKM_CUSTOMGAMMANAME, 66},
    {2478, Field::String, CCAP_TVKM_FAVORITENAME, 66},
    {2544, Field::S16, CCAP_TVKM_TRIMMING, 2},
    {2548, Field::U32, CCAP_TVK_DFDINDIFFERENT_START_POSOFY, 4},
    {2552, Field::U32, CCAP_TVK_DFDINDIFFERENT_END_POSOFY, 4},
    {2556, Field::U16, CCAP_TVK_SEPARATIONRETRY, 2},
    {2558, Field::U16, CCAP_TVK_SKEWDETECT, 2},
    {2560, Field::U16, CCAP_TVK_THINPAPER, 2},
    {2562, Field::U16, CCAP_TVK_NONSEPARATIONFEED, 2},
    {2564, Field::U16, CCAP_TVKM_CARRIERSHEET, 2},
    {2568, Field::U32, CCAP_TVK_BINIPFILTER, 4},
};

constexpr bool FieldsFitRecord() {
    std::size_t end = 0;
    for (const auto& f : kFields) {
        if (f.offset < end) return false; // overlapping or out of order
        end = f.offset + f.size;
    }
    return end == kCapDataSize;
}
static_assert(FieldsFitRecord());
static_assert(std::endian::native == std::endian::little, "the record's integers are little-endian");

template <typename T> void put(std::uint8_t* p, T v) { std::memcpy(p, &v, sizeof v); }
template <typename T> T get(const std::uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

std::uint32_t FloatBits(float f) { return __builtin_bswap32(std::bit_cast<std::uint32_t>(f)); }
float BitsFloat(std::uint32_t bits) { return std::bit_cast<float>(__builtin_bswap32(bits)); }

} // namespace

std::optional<kdf::Bytes> FlattenCapabilities(CCapPool* pool, TW_INT32* version) {
    if (!pool) return std::nullopt;
    kdf::Bytes record(kCapDataSize, 0); // reserved bytes stay zero
    for (const auto& f : kFields) {
        std::uint8_t* p = record.data() + f.offset;
        switch (f.kind) {
        case Field::S16: put(p, static_cast<std::int16_t>(GetCapSIntValue(pool, f.id))); break;
        case Field::U16: put(p, static_cast<std::uint16_t>(GetCapUIntValue(pool, f.id))); break;
        case Field::S32: put(p, static_cast<std::int32_t>(GetCapSIntValue(pool, f.id))); break;
        case Field::U32: put(p, static_cast<std::uint32_t>(GetCapUIntValue(pool, f.id))); break;
        case Field::FloatBE: put(p, FloatBits(GetCapFloatValue(pool, f.id))); break;
        case Field::String: {
            char item[sizeof(TW_STR255)] = {};
            GetCapStrValue(pool, f.id, item);
            std::memcpy(p, item, std::min(f.size, sizeof item));
            break;
        }
        }
    }
    if (version) *version = kCapDataVersion;
    return record;
}

void UnflattenCapabilities(CCapPool* pool, const kdf::Bytes& data, TW_INT32 version) {
    if (!pool || (version & 1) == 0 || data.size() < kCapDataSize) return;
    // A record may come from anything that wrote the file: a field its
    // capability refuses, or holds outside its domain, takes the default;
    // the other fields stand.
    std::string refused;
    auto check = [&](TW_UINT16 id, int accepted) {
        const CCapability* container = pool->GetCapability(id);
        if (!container || (accepted && CapValueAllowed(id, *container))) return;
        ResetCapValue(pool, id);
        char name[8];
        std::snprintf(name, sizeof name, "0x%04X", static_cast<unsigned>(id));
        refused += (refused.empty() ? "" : ", ") + std::string(name);
    };
    for (const auto& f : kFields) {
        const std::uint8_t* p = data.data() + f.offset;
        switch (f.kind) {
        case Field::S16: check(f.id, SetCapSIntValue(pool, f.id, get<std::int16_t>(p))); break;
        case Field::U16:
            check(f.id, SetCapUIntValue(pool, f.id, get<std::uint16_t>(p)));
            if (f.id == ICAP_XRESOLUTION)
                check(ICAP_YRESOLUTION, SetCapUIntValue(pool, ICAP_YRESOLUTION, get<std::uint16_t>(p)));
            break;
        case Field::S32: check(f.id, SetCapSIntValue(pool, f.id, get<std::int32_t>(p))); break;
        case Field::U32: check(f.id, SetCapUIntValue(pool, f.id, get<std::uint32_t>(p))); break;
        case Field::FloatBE: {
            const float value = BitsFloat(get<std::uint32_t>(p));
            check(f.id, std::isfinite(value) && SetCapFloatValue(pool, f.id, value));
            break;
        }
        case Field::String: {
            // Only the field's own bytes reach the container; the rest of
            // the item is zero.
            char item[sizeof(TW_STR255)] = {};
            std::memcpy(item, p, std::min(f.size, sizeof item));
            check(f.id, SetCapStrValue(pool, f.id, item));
            break;
        }
        }
    }
    if (!refused.empty())
        syslog(LOG_WARNING, "KD720: saved settings hold values out of range, defaults used for %s", refused.c_str());
}

bool LoadCustomCapabilities(CCapPool* pool) {
    if (!pool) return false;
    const kdf::PreferencesContent content = kdf::readPreferencesFile(kKdPreferencesName);
    if (content.state != kdf::PreferencesContent::State::Loaded) return false;
    const kdf::Value* data = kdf::find(content.values, kCapDataKey);
    const kdf::Value* version = kdf::find(content.values, kCapDataVersionKey);
    if (!data || !version || !data->bytes()) return false;
    const std::int64_t number = version->toIntegerOrDecimalString().value_or(0);
    // Only the lowest bit decides, so keep it when narrowing.
    pool->Unflatten(*data->bytes(), static_cast<TW_INT32>(number & 0x7FFFFFFF));
    return true;
}

bool SaveCustomCapabilities(CCapPool* pool, std::string* error) {
    if (!pool) return false;
    TW_INT32 version = 0;
    std::optional<kdf::Bytes> record = pool->Flatten(&version);
    return kdf::updatePreferencesFile(
        kKdPreferencesName,
        [&](kdf::Dictionary& values) {
            if (record) {
                values[kCapDataVersionKey] = kdf::Value(std::to_string(version));
                values[kCapDataKey] = kdf::Value(*record);
            } else {
                values.erase(kCapDataVersionKey);
                values.erase(kCapDataKey);
            }
            return true;
        },
        error);
}
