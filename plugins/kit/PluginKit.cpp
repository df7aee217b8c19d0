#include "PluginKit.h"

namespace kdkit {

DestinationController::~DestinationController() = default;

std::shared_ptr<const kdf::Bundle> pluginBundle() {
    // The address of a kit function lies in the object the kit is linked
    // into: the plug-in, never the application or another plug-in.
    static const std::shared_ptr<const kdf::Bundle> bundle =
        kdf::Bundle::containingAddress(reinterpret_cast<const void*>(&pluginBundle));
    return bundle;
}

std::string localized(std::string_view key) {
    if (auto bundle = pluginBundle()) return bundle->localizedString(key);
    return std::string(key);
}

} // namespace kdkit
