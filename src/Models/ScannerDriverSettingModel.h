// The complete data-source settings of one input panel for one scanner
// product: one value per capability the application writes in driver-setting
// mode, front and back variants included. The values and their keys, kinds
// and capability ids are one public table (ScannerDriverValues.def), which
// also serves the TWAIN host when it writes the capabilities.
#pragma once

#include "twain/twain.h"

#include "LockedFields.h"

#include <foundation/Value.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <variant>

// How a value is stored in the settings dictionary, and the field's type.
enum class DriverValueKind { Short, UShort, Int, UInt, Float, Str32, Str64, Str255 };

// A data value: the bytes, or null for no value. Shared read-only; a model
// never changes the bytes it holds, it replaces them.
using DriverData = std::shared_ptr<const kdf::Bytes>;

template <DriverValueKind K> struct DriverValueTypeOf {
    using type = DriverData;
};
template <> struct DriverValueTypeOf<DriverValueKind::Short> {
    using type = std::int16_t;
};
template <> struct DriverValueTypeOf<DriverValueKind::UShort> {
    using type = std::uint16_t;
};
template <> struct DriverValueTypeOf<DriverValueKind::Int> {
    using type = std::int32_t;
};
template <> struct DriverValueTypeOf<DriverValueKind::UInt> {
    using type = std::uint32_t;
};
template <> struct DriverValueTypeOf<DriverValueKind::Float> {
    using type = float;
};
template <DriverValueKind K> using DriverValueType = typename DriverValueTypeOf<K>::type;

// One row of the table.
struct DriverValueInfo {
    const char* name;     // the getter's name
    std::uint16_t cap;    // TWAIN capability the value is written to
    bool backSide;        // written after the back-side selector
    std::uint16_t itemType; // TWAIN item type used when writing
    DriverValueKind kind;
    const char* key;      // dictionary key
};

enum class DriverValueId : std::size_t {
#define X(getter, setter, cap, back, item, kind, key, def) getter,
#include "ScannerDriverValues.def"
#undef X
    Count
};
inline constexpr std::size_t kDriverValueCount = std::size_t(DriverValueId::Count);
static_assert(kDriverValueCount == 91);

std::span<const DriverValueInfo, kDriverValueCount> driverValueTable();

// A value of any row: integers of the four integer kinds, floats, data.
using DriverValue = std::variant<std::int64_t, float, DriverData>;

// Byte sizes of the data values as stored.
inline constexpr std::size_t kCurveSize = sizeof(TW_STR255);    // one level per input level
inline constexpr std::size_t kStr64ImageSize = sizeof(TW_STR64); // a whole STR64 record image
inline constexpr std::size_t kStr64MaxUnits = 32;                // UTF-16 units after the count byte
inline constexpr std::size_t kHalftoneMaxSize = sizeof(TW_STR32) - 1;
// The favourite name (0x8402): a count byte of 0xFF names the data source's
// full-auto settings snapshot rather than a favourite.
inline constexpr TW_UINT16 kFavoriteNameCap = 0x8402;
inline constexpr std::uint8_t kFavoriteFullAutoMark = 0xFF;

// Fills buf with the identity curve (byte i is i); returns 256.
int MakeLinearTable(std::uint8_t* buf);

// Every field is read and written under the model's lock: data values are
// replaced while other threads read them, and numbers are as cheap to guard.
class ScannerDriverSettingModel : private LockedFields {
public:
    // Every value at its default, then the one-sided adjustment for the
    // current data source.
    ScannerDriverSettingModel();
    // The defaults, then every usable value of the dictionary (null: the
    // standard user defaults), then the one-sided adjustment for productName.
    ScannerDriverSettingModel(const kdf::Dictionary* dict, const std::string& productName);
    ScannerDriverSettingModel(const ScannerDriverSettingModel&) = delete;
    ScannerDriverSettingModel& operator=(const ScannerDriverSettingModel&) = delete;

    // Writes every value under its key (null: the user defaults); a data
    // value that is missing is not written.
    void saveInputModel(kdf::Dictionary* dict) const;
    // Equal values, each data value a copy of its own.
    std::shared_ptr<ScannerDriverSettingModel> clone() const;

    // Generic access by row, for code that walks the table.
    DriverValue value(DriverValueId id) const;
    // A value of another kind than the row's is ignored.
    void setValue(DriverValueId id, const DriverValue& v);

    // Same values, data values compared by content.
    bool operator==(const ScannerDriverSettingModel& other) const;

#define X(getter, setter, cap, back, item, kind, key, def)                            \
    DriverValueType<DriverValueKind::kind> getter() const { return get(getter##_); } \
    void setter(DriverValueType<DriverValueKind::kind> v) { put(getter##_, std::move(v)); }
#include "ScannerDriverValues.def"
#undef X

private:
    void setDefaults();
    void adjustOneSided(const std::optional<std::string>& productName);
    void load(const kdf::Dictionary* dict);

#define X(getter, setter, cap, back, item, kind, key, def) DriverValueType<DriverValueKind::kind> getter##_{};
#include "ScannerDriverValues.def"
#undef X
};
