// Safe formatting of localised texts: the arguments are typed, so a
// translated format can never read past them.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace kdf {

using FormatArg = std::variant<std::int64_t, std::uint64_t, double, std::string>;

// Substitutes %d %i %u %ld %lu %lld %llu %@ %s %f %.Nf and %% (and the
// positional forms such as %1$@ or %2$d) from args. A conversion without a
// matching argument (too few, or a number asked of a text) stays in the
// result as literal text.
std::string formatLocalized(std::string_view format, std::span<const FormatArg> args);
std::string formatLocalized(std::string_view format, std::initializer_list<FormatArg> args);

// True when the bytes are well-formed UTF-8 (no overlong forms, no
// surrogates, nothing above U+10FFFF): text from a command line or a file
// checked before it is shown or handed on as text.
bool isValidUtf8(std::string_view bytes);

} // namespace kdf
