// Conversions between TWAIN string records and the byte values the models
// keep. On Linux a TW_STR32 holds NUL-terminated text from byte 0 (at most
// 33 bytes), while STR64 and STR255 values travel as whole 66- and 256-byte
// record images. Nothing is ever read or written past a record.
#pragma once

#include "twain/twain.h"

#include <foundation/Value.h>

#include <optional>

class TV_TWAINCommon {
public:
    static constexpr std::size_t kStr32Size = sizeof(TW_STR32);
    static constexpr std::size_t kStr32MaxText = kStr32Size - 1;
    static constexpr std::size_t kStr64Size = sizeof(TW_STR64);
    static constexpr std::size_t kStr255Size = sizeof(TW_STR255);

    // Clears the record, then writes the data's bytes from byte 0 with a NUL
    // after them. No data or empty data leaves the record cleared (success).
    // Data longer than 33 bytes is refused: the record stays cleared and the
    // result is false.
    static bool str32FromNSData(TW_STR32& out, const kdf::Bytes* data);

    // The text bytes before the first NUL, at most 33 of them; no value when
    // the text is empty.
    static std::optional<kdf::Bytes> nsDataFromStr32(const TW_STR32& in);

    // All 256 bytes of the record.
    static kdf::Bytes nsDataFromStr255(const TW_STR255& in);

    // Clears the record, then copies the data's bytes from byte 0 (the data
    // is a whole record image). Data longer than 66 bytes is refused: the
    // record stays cleared and the result is false.
    static bool str64FromNSData(TW_STR64& out, const kdf::Bytes* data);
};
