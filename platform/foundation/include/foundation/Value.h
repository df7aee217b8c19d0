// A settings value: what a property list can hold, plus an in-process
// pointer that travels only in notification payloads and is never written.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kdf {

class Value;

using Bytes = std::vector<std::uint8_t>;
using Array = std::vector<Value>;
// Sorted by key; heterogeneous lookup so string_view keys need no copy.
using Dictionary = std::map<std::string, Value, std::less<>>;

// A moment in time at whole-second precision, as property lists store it.
struct Date {
    std::int64_t secondsSinceEpoch = 0; // UTC, seconds since 1970-01-01
    friend bool operator==(const Date&, const Date&) = default;
};

// An address inside this process. Never serialised.
struct Pointer {
    void* address = nullptr;
    friend bool operator==(const Pointer&, const Pointer&) = default;
};

class Value {
public:
    enum class Kind { Boolean, Integer, Real, String, Bytes, Date, Array, Dictionary, Pointer };

    Value() : v_(std::string()) {}
    Value(bool b) : v_(b) {}
    Value(int i) : v_(std::int64_t(i)) {}
    Value(unsigned u) : v_(std::int64_t(u)) {}
    Value(long i) : v_(std::int64_t(i)) {}
    Value(long long i) : v_(std::int64_t(i)) {}
    // Unsigned 64-bit numbers may not fit: cast to std::int64_t knowingly.
    Value(unsigned long) = delete;
    Value(unsigned long long) = delete;
    Value(double d) : v_(d) {}
    Value(std::string s) : v_(std::move(s)) {}
    Value(std::string_view s) : v_(std::string(s)) {}
    Value(const char* s) : v_(std::string(s)) {}
    Value(kdf::Bytes b) : v_(std::move(b)) {}
    Value(kdf::Date d) : v_(d) {}
    Value(kdf::Array a) : v_(std::make_shared<kdf::Array>(std::move(a))) {}
    Value(kdf::Dictionary d) : v_(std::make_shared<kdf::Dictionary>(std::move(d))) {}
    Value(kdf::Pointer p) : v_(p) {}

    Kind kind() const { return Kind(v_.index()); }
    bool is(Kind k) const { return kind() == k; }

    // Typed readers answer "no value" when the kind does not fit, so a
    // caller keeps its default. Range checks narrower than 64 bits are the
    // caller's.
    // Integer from an integer, a boolean, or a finite real (toward zero,
    // within the 64-bit range).
    std::optional<std::int64_t> toInteger() const;
    // As toInteger, and also from a decimal string ("  -12 " included),
    // for the few keys stored as text.
    std::optional<std::int64_t> toIntegerOrDecimalString() const;
    // Real from a real or an integer.
    std::optional<double> toReal() const;
    // Boolean from a boolean or a number (non-zero is true).
    std::optional<bool> toBool() const;

    // Direct access; null when the kind differs.
    const std::string* string() const { return std::get_if<std::string>(&v_); }
    const kdf::Bytes* bytes() const { return std::get_if<kdf::Bytes>(&v_); }
    const kdf::Date* date() const { return std::get_if<kdf::Date>(&v_); }
    const kdf::Array* array() const;
    const kdf::Dictionary* dictionary() const;
    const kdf::Pointer* pointer() const { return std::get_if<kdf::Pointer>(&v_); }
    // Mutable container access copies a shared container first.
    kdf::Array* mutableArray();
    kdf::Dictionary* mutableDictionary();

    // True when this value or anything inside it is a pointer value.
    bool containsPointer() const;

    friend bool operator==(const Value& a, const Value& b);

private:
    // Containers are shared on copy and copied on write, so copying a large
    // settings dictionary (a snapshot) is cheap.
    std::variant<bool, std::int64_t, double, std::string, kdf::Bytes, kdf::Date,
                 std::shared_ptr<kdf::Array>, std::shared_ptr<kdf::Dictionary>, kdf::Pointer>
        v_;
};

// Lookup helpers for settings dictionaries.
const Value* find(const Dictionary& d, std::string_view key);

} // namespace kdf
