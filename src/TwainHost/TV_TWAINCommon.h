// The host's TWAIN helpers: folding of return codes, TW_FIX32 conversion,
// and conversions between TWAIN string records and the values the models
// keep. On Linux a TW_STR32 holds NUL-terminated text from byte 0 (at most
// 33 bytes), while STR64 and STR255 values travel as whole 66- and 256-byte
// record images; the string form of a TW_STR64 is a count of UTF-16 units in
// byte 0 and the units from byte 1. Nothing is ever read or written past a
// record, and input too long for a record is refused (record cleared, false).
#pragma once

#include "twain/fix32.h"
#include "twain/twain.h"

#include <foundation/Value.h>

#include <optional>
#include <string>
#include <string_view>

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

    // ---- Return codes
    // Folds one call's code into a run's result: the first nonzero code
    // clears the success flag and, when the code variable is still 0, is
    // kept there; later codes change nothing. Either pointer may be null.
    static void setResult(TW_INT16 code, TW_INT16* pResult, bool* pIsSuccess);

    // ---- TW_FIX32 (the conversion shared with the data source: to nearest,
    // NaN 0, saturated beyond the format)
    static float fix32ToFloat(const TW_FIX32& fix);
    static void floatToFix32(TW_FIX32& out, float value);

    // ---- TW_STR64 string form and whole images, TW_STR255 images
    // Clears the record; a non-empty string (UTF-8) is written as its count
    // of UTF-16 units in byte 0 and the units in host byte order from byte 1.
    // More than 32 units, or text that is not UTF-8, is refused.
    static bool str64FromNSStr(TW_STR64& out, const std::optional<std::string>& str);
    // The string of byte 0's count of UTF-16 units from byte 1; no value for
    // a count of 0 or a count above 32 (such as 0xFF), which the record
    // cannot hold. Unpaired surrogates read as U+FFFD.
    static std::optional<std::string> nsStrFromStr64(const TW_STR64& in);
    // All 66 bytes of the record.
    static kdf::Bytes nsDataFromStr64(const TW_STR64& in);
    // Clears the record, then copies the data's bytes from byte 0. Data
    // longer than 256 bytes is refused.
    static bool str255FromNSData(TW_STR255& out, const kdf::Bytes* data);
};

// Copies text into a TW_IDENTITY string: at most 33 bytes, then the NUL;
// the rest of the field is cleared.
void pstrcopy(TW_STR32& dest, std::string_view src);
