// XML property lists. Reading does no DTD or entity processing and keeps no
// process-wide state, so it is safe inside any host process; writing gives
// one value always the same bytes.
#pragma once

#include "foundation/Value.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kdf {

inline constexpr std::size_t kMaxPropertyListBytes = std::size_t(64) << 20;
inline constexpr int kMaxPropertyListDepth = 128;

// The value of an XML property list, or no value with the reason in *error.
// Refused: binary property lists, more than kMaxPropertyListBytes, nesting
// deeper than kMaxPropertyListDepth, malformed or truncated XML, bad UTF-8,
// unknown elements, integers beyond 64 bits, bad base64 or dates, and
// DOCTYPEs that declare entities.
std::optional<Value> readPropertyList(std::string_view bytes, std::string* error = nullptr);

// Reads a whole file (no more than kMaxPropertyListBytes) and parses it.
// A missing file sets *missing (when given) besides the error.
std::optional<Value> readPropertyListFile(const std::string& path, std::string* error = nullptr,
                                          bool* missing = nullptr);

// The XML text of a value. Fails only for a pointer value somewhere inside.
// Characters that XML 1.0 cannot carry (and bytes that are not UTF-8) are
// dropped, so the result always reads back.
std::optional<std::string> writePropertyList(const Value& value, std::string* error = nullptr);

// writePropertyList, then writeFileAtomically.
bool writePropertyListFile(const std::string& path, const Value& value,
                           std::string* error = nullptr);

} // namespace kdf
