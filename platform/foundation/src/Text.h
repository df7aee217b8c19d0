// Text helpers of the library (not installed).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kdf::detail {

// True when the bytes are well-formed UTF-8 (no overlongs, no surrogates,
// nothing above U+10FFFF).
bool isValidUtf8(std::string_view s);

// Calls f(codepoint, bytes) for every well-formed character, and
// f(-1, bytes) for every byte that does not start one.
template <class F> void forEachUtf8(std::string_view s, F&& f);

std::string base64Encode(std::string_view bytes);
std::optional<std::string> base64Decode(std::string_view text);

std::string_view trimWhitespace(std::string_view s);

} // namespace kdf::detail

#include "Text.inl"
