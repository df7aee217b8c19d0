// Reading the companion's property lists: outside data, kept apart from the
// bus so it can be fuzzed on its own.
#include "AppMainCntlrAE.h"
#include "AppMainCntlrDSInfo.h"

#include <foundation/PropertyList.h>

#include <string_view>

namespace companion_link {

namespace {

bool isNumber(const kdf::Value* v) {
    return v && (v->is(kdf::Value::Kind::Integer) || v->is(kdf::Value::Kind::Real));
}

} // namespace

std::optional<kdf::Dictionary> decodeCompanionDictionary(const std::uint8_t* data, std::size_t size) {
    if (!data || size == 0 || size > kMaxPropertyListBytes) return std::nullopt;
    auto value = kdf::readPropertyList(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!value || !value->dictionary()) return std::nullopt;
    return *value->dictionary();
}

std::optional<StartAnswer> decodeStartAnswer(const std::uint8_t* data, std::size_t size) {
    const auto dict = decodeCompanionDictionary(data, size);
    if (!dict) return std::nullopt;
    StartAnswer answer;
    // Numbers beyond 32 bits keep their low 32 bits, as a 32-bit read does.
    if (const kdf::Value* v = kdf::find(*dict, kLaunchTypeKey); isNumber(v) && v->toInteger())
        answer.launchType = std::int32_t(std::uint32_t(*v->toInteger()));
    if (const kdf::Value* v = kdf::find(*dict, kDataForScanKey); isNumber(v) && v->toInteger()) {
        const auto low = std::uint32_t(*v->toInteger());
        if (answer.launchType == kLaunchTypeNormal)
            answer.connectStatus = std::int32_t(low);
        else if (answer.launchType == kLaunchTypeByButton)
            answer.btnStatus = low;
    }
    auto take = [&](const char* key, kdf::Value::Kind kind) {
        if (const kdf::Value* v = kdf::find(*dict, key); v && v->is(kind)) answer.identity[key] = *v;
    };
    take(kIsAPDSKey, kdf::Value::Kind::Boolean);
    take(kVersionMajorNumKey, kdf::Value::Kind::Integer);
    take(kManufacturerKey, kdf::Value::Kind::String);
    take(kProductFamilyKey, kdf::Value::Kind::String);
    take(kProductNameKey, kdf::Value::Kind::String);
    return answer;
}

} // namespace companion_link
