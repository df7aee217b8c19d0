#include "SettingsIO.h"

#include <foundation/UserDefaults.h>

std::optional<kdf::Value> SettingsReader::object(std::string_view key) const {
    if (!dict_) return kdf::UserDefaults::standard().object(key);
    if (const kdf::Value* v = kdf::find(*dict_, key)) return *v;
    return std::nullopt;
}

bool SettingsReader::readFloat(std::string_view key, float& out) const {
    std::optional<kdf::Value> v = object(key);
    std::optional<double> d = v ? v->toReal() : std::nullopt;
    if (!d || !std::isfinite(*d) || std::fabs(*d) > double(std::numeric_limits<float>::max()))
        return false;
    out = float(*d);
    return true;
}

bool SettingsReader::readBool(std::string_view key, bool& out) const {
    std::optional<kdf::Value> v = object(key);
    std::optional<bool> b = v ? v->toBool() : std::nullopt;
    if (!b) return false;
    out = *b;
    return true;
}

bool SettingsReader::readString(std::string_view key, std::string& out) const {
    std::optional<kdf::Value> v = object(key);
    const std::string* s = v ? v->string() : nullptr;
    if (!s) return false;
    out = *s;
    return true;
}

bool SettingsReader::readBytes(std::string_view key, kdf::Bytes& out) const {
    std::optional<kdf::Value> v = object(key);
    const kdf::Bytes* b = v ? v->bytes() : nullptr;
    if (!b) return false;
    out = *b;
    return true;
}

void SettingsWriter::set(std::string_view key, kdf::Value value) {
    if (dict_)
        dict_->insert_or_assign(std::string(key), std::move(value));
    else
        kdf::UserDefaults::standard().set(key, std::move(value));
}
