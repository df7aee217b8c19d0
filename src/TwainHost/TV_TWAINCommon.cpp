#include "TV_TWAINCommon.h"

#include <cstring>

bool TV_TWAINCommon::str32FromNSData(TW_STR32& out, const kdf::Bytes* data) {
    std::memset(out, 0, kStr32Size);
    if (!data || data->empty()) return true;
    if (data->size() > kStr32MaxText) return false;
    std::memcpy(out, data->data(), data->size());
    return true;
}

std::optional<kdf::Bytes> TV_TWAINCommon::nsDataFromStr32(const TW_STR32& in) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(in);
    const void* nul = std::memchr(p, 0, kStr32MaxText);
    const std::size_t n = nul ? std::size_t(static_cast<const std::uint8_t*>(nul) - p) : kStr32MaxText;
    if (n == 0) return std::nullopt;
    return kdf::Bytes(p, p + n);
}

kdf::Bytes TV_TWAINCommon::nsDataFromStr255(const TW_STR255& in) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(in);
    return kdf::Bytes(p, p + kStr255Size);
}

bool TV_TWAINCommon::str64FromNSData(TW_STR64& out, const kdf::Bytes* data) {
    std::memset(out, 0, kStr64Size);
    if (!data || data->empty()) return true;
    if (data->size() > kStr64Size) return false;
    std::memcpy(out, data->data(), data->size());
    return true;
}
