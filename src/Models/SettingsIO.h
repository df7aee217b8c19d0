// One reader and one writer for the settings dictionaries of the models: a
// loader reads either a dictionary or, given none, the standard user
// defaults; a saver writes into a dictionary or, given none, the defaults.
// The dictionaries come from stored files, so a value of the wrong kind or
// out of the field's range reads as absent and the field keeps its value.
#pragma once

#include <foundation/Value.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

class SettingsReader {
public:
    // Null reads the standard user defaults.
    explicit SettingsReader(const kdf::Dictionary* dict) : dict_(dict) {}

    std::optional<kdf::Value> object(std::string_view key) const;

    // Integers (a boolean or a finite real, truncated, counts as a number)
    // within T's range.
    template <class T> bool readInt(std::string_view key, T& out) const {
        static_assert(std::is_integral_v<T> && !std::is_same_v<T, bool> && sizeof(T) <= 4);
        using L = std::numeric_limits<T>;
        std::optional<kdf::Value> v = object(key);
        std::optional<std::int64_t> n = v ? v->toInteger() : std::nullopt;
        if (!n || *n < std::int64_t(L::min()) || *n > std::int64_t(L::max())) return false;
        out = T(*n);
        return true;
    }
    // A finite value within the 32-bit float range.
    bool readFloat(std::string_view key, float& out) const;
    bool readBool(std::string_view key, bool& out) const;
    bool readString(std::string_view key, std::string& out) const;
    bool readBytes(std::string_view key, kdf::Bytes& out) const;

private:
    const kdf::Dictionary* dict_;
};

class SettingsWriter {
public:
    // Null writes the standard user defaults.
    explicit SettingsWriter(kdf::Dictionary* dict) : dict_(dict) {}
    void set(std::string_view key, kdf::Value value);

private:
    kdf::Dictionary* dict_;
};
