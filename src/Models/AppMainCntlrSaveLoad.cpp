#include "AppMainCntlrSaveLoad.h"

#include <foundation/Bundle.h>

#include <atomic>
#include <limits>

namespace {

std::atomic<std::uint32_t> sFileVersion{0};
std::atomic<bool> sIsCheckDiff{false};

} // namespace

std::uint32_t AppMainCntlrSaveLoad::currentFileVersion() {
    if (std::uint32_t cached = sFileVersion.load()) return cached;
    const kdf::Value* v = kdf::Bundle::main()->objectForInfoKey(kCurrentFileVersionInfoKey);
    // The Info.plist may say it as a number or as a decimal string.
    std::optional<std::int64_t> n = v ? v->toIntegerOrDecimalString() : std::nullopt;
    if (!n || *n <= 0 || *n > std::numeric_limits<std::uint32_t>::max()) return 0;
    sFileVersion.store(std::uint32_t(*n));
    return std::uint32_t(*n);
}

void AppMainCntlrSaveLoad::saveFileVersionToFile(kdf::Dictionary* dict) {
    if (dict) dict->insert_or_assign(std::string(kFileVerKey), kdf::Value(currentFileVersion()));
}

void AppMainCntlrSaveLoad::saveFileVersionToFile(kdf::UserDefaults* defaults) {
    if (defaults) defaults->set(kFileVerKey, kdf::Value(currentFileVersion()));
}

std::optional<std::uint32_t> AppMainCntlrSaveLoad::storedFileVersion(const kdf::Value* stored) {
    if (!stored || stored->string()) return std::nullopt;
    // A fraction is not a version either: 5.5 must not pass for 5.
    if (stored->is(kdf::Value::Kind::Real) &&
        *stored->toReal() != double(stored->toInteger().value_or(-1)))
        return std::nullopt;
    std::optional<std::int64_t> n = stored->toInteger();
    if (!n || *n < 0 || *n > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    return std::uint32_t(*n);
}

std::uint32_t AppMainCntlrSaveLoad::loadFileVersionFromFile(const kdf::Dictionary* dict) {
    return dict ? storedFileVersion(kdf::find(*dict, kFileVerKey)).value_or(0) : 0;
}

std::uint32_t AppMainCntlrSaveLoad::loadFileVersionFromFile(const kdf::UserDefaults* defaults) {
    if (!defaults) return 0;
    std::optional<kdf::Value> v = defaults->object(kFileVerKey);
    return storedFileVersion(v ? &*v : nullptr).value_or(0);
}

void AppMainCntlrSaveLoad::checkAppPlistIfDiffRemove() {
    if (sIsCheckDiff.exchange(true)) return;
    kdf::UserDefaults& defaults = kdf::UserDefaults::standard();
    std::optional<kdf::Value> stored = defaults.object(kFileVerKey);
    std::optional<std::uint32_t> version = storedFileVersion(stored ? &*stored : nullptr);
    const std::uint32_t current = currentFileVersion();
    if (version && *version == current) return;
    // Only the application's own domain goes: the data source's preferences
    // and the companion's file are other files.
    defaults.setPersistentDomain(kdf::Dictionary{{"", kdf::Value("")}}, defaults.domain());
    defaults.remove("");
    // Stamped at once: a run that ends without a normal termination must not
    // make the next start drop what it saved.
    saveFileVersionToFile(&defaults);
    defaults.synchronize();
}

void AppMainCntlrSaveLoad::writePresetFile() {}
