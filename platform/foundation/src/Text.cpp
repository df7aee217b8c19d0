#include "Text.h"

namespace kdf::detail {

bool isValidUtf8(std::string_view s) {
    while (!s.empty()) {
        if (static_cast<unsigned char>(s.front()) < 0x80) { // fast path for ASCII
            s.remove_prefix(1);
            continue;
        }
        std::uint32_t cp = 0;
        int len = decodeUtf8(s, cp);
        if (len == 0) return false;
        s.remove_prefix(std::size_t(len));
    }
    return true;
}

namespace {
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int base64Digit(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

bool isXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}
} // namespace

std::string base64Encode(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        std::uint32_t v = (p[i] << 16) | (p[i + 1] << 8) | p[i + 2];
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    if (std::size_t rest = bytes.size() - i) {
        std::uint32_t v = p[i] << 16;
        if (rest == 2) v |= p[i + 1] << 8;
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::optional<std::string> base64Decode(std::string_view text) {
    std::string out;
    out.reserve(text.size() / 4 * 3);
    std::uint32_t acc = 0;
    int count = 0;   // digits in the current group
    int padding = 0; // '=' seen
    for (char c : text) {
        if (isXmlSpace(c)) continue;
        if (c == '=') {
            // Padding only completes a group of two or three digits.
            if (count + padding < 2) return std::nullopt;
            ++padding;
            if (count + padding > 4) return std::nullopt;
            continue;
        }
        int d = base64Digit(c);
        if (d < 0 || padding > 0) return std::nullopt;
        acc = (acc << 6) | std::uint32_t(d);
        if (++count == 4) {
            out += char(acc >> 16);
            out += char((acc >> 8) & 0xFF);
            out += char(acc & 0xFF);
            acc = 0;
            count = 0;
        }
    }
    if (padding > 0) {
        if (count + padding != 4) return std::nullopt;
        acc <<= 6 * padding;
        out += char(acc >> 16);
        if (count == 3) out += char((acc >> 8) & 0xFF);
    } else if (count != 0) {
        return std::nullopt;
    }
    return out;
}

std::string_view trimWhitespace(std::string_view s) {
    while (!s.empty() && isXmlSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && isXmlSpace(s.back())) s.remove_suffix(1);
    return s;
}

} // namespace kdf::detail
