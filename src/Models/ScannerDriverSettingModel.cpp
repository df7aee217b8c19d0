#include "ScannerDriverSettingModel.h"

#include "AppControllerServices.h"
#include "SettingsIO.h"
#include "TV_TWAINCommon.h"

#include <cstring>
#include <limits>

namespace {

constexpr DriverValueInfo kTable[] = {
#define X(getter, setter, cap, back, item, kind, key, def) \
    {#getter, cap, back, item, DriverValueKind::kind, key},
#include "ScannerDriverValues.def"
#undef X
};
static_assert(std::size(kTable) == kDriverValueCount);

constexpr bool isData(DriverValueKind k) {
    return k == DriverValueKind::Str32 || k == DriverValueKind::Str64 || k == DriverValueKind::Str255;
}

// Data that would not fit the TWAIN record it is later written into keeps
// the default: a halftone name of more than 33 bytes, a name record that is
// not a whole STR64 or counts more units than it holds (the favourite name's
// full-auto mark excepted), a curve that is not exactly one byte per level.
bool dataFits(DriverValueKind kind, TW_UINT16 cap, const kdf::Bytes& b) {
    switch (kind) {
    case DriverValueKind::Str32: return b.size() <= kHalftoneMaxSize;
    case DriverValueKind::Str64:
        return b.size() == kStr64ImageSize &&
               (b[0] <= kStr64MaxUnits || (cap == kFavoriteNameCap && b[0] == kFavoriteFullAutoMark));
    case DriverValueKind::Str255: return b.size() == kCurveSize;
    default: return false;
    }
}

template <DriverValueKind K>
bool readRow(const SettingsReader& in, TW_UINT16 cap, const char* key, DriverValueType<K>& out) {
    if constexpr (K == DriverValueKind::Float) {
        return in.readFloat(key, out);
    } else if constexpr (isData(K)) {
        kdf::Bytes b;
        if (!in.readBytes(key, b) || !dataFits(K, cap, b)) return false;
        out = std::make_shared<const kdf::Bytes>(std::move(b));
        return true;
    } else {
        return in.readInt(key, out);
    }
}

template <DriverValueKind K> void writeRow(SettingsWriter& out, const char* key, const DriverValueType<K>& v) {
    if constexpr (K == DriverValueKind::Float) {
        out.set(key, kdf::Value(double(v)));
    } else if constexpr (isData(K)) {
        if (v) out.set(key, kdf::Value(*v));
    } else {
        out.set(key, kdf::Value(std::int64_t(v)));
    }
}

template <DriverValueKind K> DriverValue toVariant(const DriverValueType<K>& v) {
    if constexpr (K == DriverValueKind::Float || isData(K))
        return v;
    else
        return std::int64_t(v);
}

template <DriverValueKind K> bool fromVariant(const DriverValue& v, DriverValueType<K>& out) {
    using T = DriverValueType<K>;
    if constexpr (K == DriverValueKind::Float || isData(K)) {
        if (const T* p = std::get_if<T>(&v)) {
            out = *p;
            return true;
        }
    } else if (const std::int64_t* n = std::get_if<std::int64_t>(&v)) {
        if (*n >= std::int64_t(std::numeric_limits<T>::min()) && *n <= std::int64_t(std::numeric_limits<T>::max())) {
            out = T(*n);
            return true;
        }
    }
    return false;
}

// Copies never share a data value with their source.
template <class T> T copyValue(const T& v) { return v; }
DriverData copyValue(const DriverData& d) { return d ? std::make_shared<const kdf::Bytes>(*d) : nullptr; }

struct DataDefaults {
    DriverData halftone;
    TW_STR255 curveRecord;
};

template <DriverValueKind K, class N> DriverValueType<K> defaultOf(N number, const DataDefaults& d) {
    if constexpr (K == DriverValueKind::Str32)
        return d.halftone;
    else if constexpr (K == DriverValueKind::Str255)
        // Each curve gets a data value of its own.
        return std::make_shared<const kdf::Bytes>(TV_TWAINCommon::nsDataFromStr255(d.curveRecord));
    else if constexpr (K == DriverValueKind::Str64)
        return nullptr;
    else
        return DriverValueType<K>(number);
}

DriverData defaultHalftone() {
    TW_STR32 rec;
    const char* none = "None";
    const kdf::Bytes text(none, none + 4);
    TV_TWAINCommon::str32FromNSData(rec, &text);
    std::optional<kdf::Bytes> b = TV_TWAINCommon::nsDataFromStr32(rec);
    return b ? std::make_shared<const kdf::Bytes>(std::move(*b)) : nullptr;
}

} // namespace

std::span<const DriverValueInfo, kDriverValueCount> driverValueTable() {
    return std::span<const DriverValueInfo, kDriverValueCount>(kTable);
}

int MakeLinearTable(std::uint8_t* buf) {
    for (int i = 0; i < 256; ++i) buf[i] = std::uint8_t(i);
    return 256;
}

ScannerDriverSettingModel::ScannerDriverSettingModel() {
    setDefaults();
    adjustOneSided(std::nullopt);
}

ScannerDriverSettingModel::ScannerDriverSettingModel(const kdf::Dictionary* dict, const std::string& productName) {
    setDefaults();
    adjustOneSided(std::nullopt);
    load(dict);
    adjustOneSided(productName);
}

void ScannerDriverSettingModel::setDefaults() {
    DataDefaults d;
    std::uint8_t linear[kCurveSize];
    MakeLinearTable(linear);
    std::memcpy(d.curveRecord, linear, kCurveSize);
    d.halftone = defaultHalftone();
#define X(getter, setter, cap, back, item, kind, key, def) put(getter##_, defaultOf<DriverValueKind::kind>(def, d));
#include "ScannerDriverValues.def"
#undef X
}

void ScannerDriverSettingModel::adjustOneSided(const std::optional<std::string>& productName) {
    if (AppControllerServices::isSupportedScanSide(productName)) return;
    setCcap_TVK_MANUALFEED(3);
    setCcap_TVKM_MANUALFEED_AUTOBATCH(1);
    setCap_DUPLEXENABLED(0);
    setCcap_TVK_BLANKSKIP(0);
}

void ScannerDriverSettingModel::load(const kdf::Dictionary* dict) {
    SettingsReader in(dict);
#define X(getter, setter, cap, back, item, kind, key, def)                   \
    {                                                                        \
        DriverValueType<DriverValueKind::kind> v{};                          \
        if (readRow<DriverValueKind::kind>(in, cap, key, v)) setter(std::move(v)); \
    }
#include "ScannerDriverValues.def"
#undef X
}

void ScannerDriverSettingModel::saveInputModel(kdf::Dictionary* dict) const {
    SettingsWriter out(dict);
#define X(getter, setter, cap, back, item, kind, key, def) writeRow<DriverValueKind::kind>(out, key, getter());
#include "ScannerDriverValues.def"
#undef X
}

std::shared_ptr<ScannerDriverSettingModel> ScannerDriverSettingModel::clone() const {
    auto copy = std::make_shared<ScannerDriverSettingModel>();
#define X(getter, setter, cap, back, item, kind, key, def) copy->setter(copyValue(getter()));
#include "ScannerDriverValues.def"
#undef X
    return copy;
}

DriverValue ScannerDriverSettingModel::value(DriverValueId id) const {
    switch (id) {
#define X(getter, setter, cap, back, item, kind, key, def) \
    case DriverValueId::getter: return toVariant<DriverValueKind::kind>(getter());
#include "ScannerDriverValues.def"
#undef X
    case DriverValueId::Count: break;
    }
    return std::int64_t(0);
}

void ScannerDriverSettingModel::setValue(DriverValueId id, const DriverValue& v) {
    switch (id) {
#define X(getter, setter, cap, back, item, kind, key, def)                          \
    case DriverValueId::getter: {                                                   \
        DriverValueType<DriverValueKind::kind> field{};                             \
        if (fromVariant<DriverValueKind::kind>(v, field)) setter(std::move(field)); \
        return;                                                                     \
    }
#include "ScannerDriverValues.def"
#undef X
    case DriverValueId::Count: break;
    }
}

bool ScannerDriverSettingModel::operator==(const ScannerDriverSettingModel& other) const {
    auto same = [](const auto& a, const auto& b) {
        if constexpr (std::is_same_v<std::decay_t<decltype(a)>, DriverData>)
            return a == b || (a && b && *a == *b);
        else
            return a == b;
    };
#define X(getter, setter, cap, back, item, kind, key, def) \
    if (!same(getter(), other.getter())) return false;
#include "ScannerDriverValues.def"
#undef X
    return true;
}
