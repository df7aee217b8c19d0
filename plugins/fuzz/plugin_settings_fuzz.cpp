// Offers arbitrary stored plug-in settings to the Google Drive build's
// settings checker: the input is read as a property list and taken as the
// plug-in's entry under "Plugins" (an array is the older form, converted by
// searching the sync folder); every string in it is also checked as a
// destination.
#include "SettingChecker.h"

#include <foundation/PropertyList.h>

#include <cstdint>
#include <string_view>

namespace {

void checkStrings(const kdf::Value& value, int depth) {
    if (depth > 8) return;
    if (const std::string* text = value.string()) {
        std::optional<kdkit::PluginError> error;
        if (!kdkit::SettingChecker::isValidDestination(*text, &error)) {
            (void)kdkit::SettingChecker::getSummaryMessageWithError(error);
            (void)kdkit::SettingChecker::getFullMessageWithError(error);
        }
    } else if (const kdf::Array* array = value.array()) {
        for (const kdf::Value& element : *array) checkStrings(element, depth + 1);
    } else if (const kdf::Dictionary* dictionary = value.dictionary()) {
        for (const auto& [key, element] : *dictionary) checkStrings(element, depth + 1);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::optional<kdf::Value> entry =
        kdf::readPropertyList(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!entry) return 0;
    if (kdkit::SettingChecker::isOldSettings(entry))
        if (std::optional<kdf::Value> converted = kdkit::SettingChecker::convertToNewSettings(entry))
            checkStrings(*converted, 0);
    checkStrings(*entry, 0);
    return 0;
}
