#include "TV_TWAINCommon.h"

#include "twain/fix32.h"

#include <algorithm>
#include <cstring>
#include <vector>

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

void TV_TWAINCommon::setResult(TW_INT16 code, TW_INT16* pResult, bool* pIsSuccess) {
    if (code == 0 || !pIsSuccess || !*pIsSuccess) return;
    *pIsSuccess = false;
    if (pResult && *pResult == 0) *pResult = code;
}

float TV_TWAINCommon::fix32ToFloat(const TW_FIX32& fix) { return TwFix32ToFloat(fix); }

void TV_TWAINCommon::floatToFix32(TW_FIX32& out, float value) { out = TwFix32FromFloat(value); }

namespace {

constexpr std::size_t kStr64MaxUnits = (sizeof(TW_STR64) - 1) / 2; // 32

// UTF-8 to UTF-16; no value for bytes that are not UTF-8.
std::optional<std::vector<char16_t>> utf16Of(std::string_view text) {
    std::vector<char16_t> units;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t extra = 0;
        char32_t cp = 0;
        if (lead < 0x80) {
            cp = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            extra = 1;
            cp = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2;
            cp = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3;
            cp = lead & 0x07;
        } else {
            return std::nullopt;
        }
        if (extra > 0 && i + extra >= text.size()) return std::nullopt;
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto c = static_cast<unsigned char>(text[i + k]);
            if ((c & 0xC0) != 0x80) return std::nullopt;
            cp = (cp << 6) | (c & 0x3F);
        }
        static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
        if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            units.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            units.push_back(static_cast<char16_t>(cp));
        }
        i += extra + 1;
    }
    return units;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

} // namespace

bool TV_TWAINCommon::str64FromNSStr(TW_STR64& out, const std::optional<std::string>& str) {
    std::memset(out, 0, kStr64Size);
    if (!str || str->empty()) return true;
    const auto units = utf16Of(*str);
    if (!units || units->size() > kStr64MaxUnits) return false;
    out[0] = static_cast<char>(units->size());
    std::memcpy(out + 1, units->data(), units->size() * sizeof(char16_t));
    return true;
}

std::optional<std::string> TV_TWAINCommon::nsStrFromStr64(const TW_STR64& in) {
    const auto count = static_cast<unsigned char>(in[0]);
    if (count == 0 || count > kStr64MaxUnits) return std::nullopt;
    std::vector<char16_t> units(count);
    std::memcpy(units.data(), in + 1, count * sizeof(char16_t));
    std::string text;
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t u = units[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            appendUtf8(text, 0x10000 + ((char32_t(u) - 0xD800) << 10) + (char32_t(units[i + 1]) - 0xDC00));
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            appendUtf8(text, 0xFFFD);
        } else {
            appendUtf8(text, u);
        }
    }
    return text;
}

kdf::Bytes TV_TWAINCommon::nsDataFromStr64(const TW_STR64& in) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(in);
    return kdf::Bytes(p, p + kStr64Size);
}

bool TV_TWAINCommon::str255FromNSData(TW_STR255& out, const kdf::Bytes* data) {
    std::memset(out, 0, kStr255Size);
    if (!data || data->empty()) return true;
    if (data->size() > kStr255Size) return false;
    std::memcpy(out, data->data(), data->size());
    return true;
}

void pstrcopy(TW_STR32& dest, std::string_view src) {
    std::memset(dest, 0, sizeof(TW_STR32));
    std::memcpy(dest, src.data(), std::min(src.size(), sizeof(TW_STR32) - 1));
}
