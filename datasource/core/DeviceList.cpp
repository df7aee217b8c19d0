#include "DeviceList.h"

#include "foundation/Bundle.h"

#include <charconv>
#include <optional>
#include <string>

namespace {

std::optional<std::uint16_t> hex16(const kdf::Value* v) {
    const std::string* s = v != nullptr ? v->string() : nullptr;
    if (s == nullptr) return std::nullopt;
    std::string_view text = *s;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.remove_prefix(2);
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value > 0xFFFF)
        return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

}  // namespace

std::vector<SKdDeviceId> KdDeviceIdsFromInfo(const kdf::Dictionary& info) {
    std::vector<SKdDeviceId> ids;
    const kdf::Value* usb = kdf::find(info, "usb");
    const kdf::Dictionary* usbDict = usb != nullptr ? usb->dictionary() : nullptr;
    const kdf::Value* list = usbDict != nullptr ? kdf::find(*usbDict, "IOUSBDevice") : nullptr;
    const kdf::Array* entries = list != nullptr ? list->array() : nullptr;
    if (entries == nullptr) return ids;
    for (const kdf::Value& entry : *entries) {
        const kdf::Dictionary* d = entry.dictionary();
        if (d == nullptr) continue;
        const auto vendor = hex16(kdf::find(*d, "vendor"));
        const auto product = hex16(kdf::find(*d, "product"));
        if (vendor && product) ids.push_back({*vendor, *product});
    }
    return ids;
}

std::vector<SKdDeviceId> KdBundleDeviceIds() {
    const auto bundle = kdf::Bundle::containingAddress(reinterpret_cast<const void*>(&KdBundleDeviceIds));
    if (!bundle) return {};
    return KdDeviceIdsFromInfo(bundle->infoDictionary());
}
