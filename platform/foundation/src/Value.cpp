#include "foundation/Value.h"

#include <charconv>
#include <cmath>

namespace kdf {

namespace {

std::optional<std::int64_t> integerFromReal(double d) {
    // 2^63 itself does not fit; -2^63 does.
    if (!std::isfinite(d) || d >= 9223372036854775808.0 || d < -9223372036854775808.0)
        return std::nullopt;
    return std::int64_t(d); // toward zero
}

std::optional<std::int64_t> integerFromDecimal(std::string_view s) {
    auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    std::int64_t v = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
    return v;
}

} // namespace

std::optional<std::int64_t> Value::toInteger() const {
    if (auto* i = std::get_if<std::int64_t>(&v_)) return *i;
    if (auto* b = std::get_if<bool>(&v_)) return *b ? 1 : 0;
    if (auto* d = std::get_if<double>(&v_)) return integerFromReal(*d);
    return std::nullopt;
}

std::optional<std::int64_t> Value::toIntegerOrDecimalString() const {
    if (auto* s = string()) return integerFromDecimal(*s);
    return toInteger();
}

std::optional<double> Value::toReal() const {
    if (auto* d = std::get_if<double>(&v_)) return *d;
    if (auto* i = std::get_if<std::int64_t>(&v_)) return double(*i);
    return std::nullopt;
}

std::optional<bool> Value::toBool() const {
    if (auto* b = std::get_if<bool>(&v_)) return *b;
    if (auto* i = std::get_if<std::int64_t>(&v_)) return *i != 0;
    if (auto* d = std::get_if<double>(&v_)) return *d != 0.0;
    return std::nullopt;
}

const Array* Value::array() const {
    auto* p = std::get_if<std::shared_ptr<Array>>(&v_);
    return p ? p->get() : nullptr;
}

const Dictionary* Value::dictionary() const {
    auto* p = std::get_if<std::shared_ptr<Dictionary>>(&v_);
    return p ? p->get() : nullptr;
}

Array* Value::mutableArray() {
    auto* p = std::get_if<std::shared_ptr<Array>>(&v_);
    if (!p) return nullptr;
    if (p->use_count() > 1) *p = std::make_shared<Array>(**p);
    return p->get();
}

Dictionary* Value::mutableDictionary() {
    auto* p = std::get_if<std::shared_ptr<Dictionary>>(&v_);
    if (!p) return nullptr;
    if (p->use_count() > 1) *p = std::make_shared<Dictionary>(**p);
    return p->get();
}

bool Value::containsPointer() const {
    if (pointer()) return true;
    if (auto* a = array()) {
        for (const auto& e : *a)
            if (e.containsPointer()) return true;
    }
    if (auto* d = dictionary()) {
        for (const auto& [k, e] : *d)
            if (e.containsPointer()) return true;
    }
    return false;
}

bool operator==(const Value& a, const Value& b) {
    if (a.kind() != b.kind()) return false;
    if (auto* x = a.array()) return *x == *b.array();
    if (auto* x = a.dictionary()) return *x == *b.dictionary();
    return a.v_ == b.v_;
}

const Value* find(const Dictionary& d, std::string_view key) {
    auto it = d.find(key);
    return it == d.end() ? nullptr : &it->second;
}

} // namespace kdf
