// Basic TWAIN 2.x types for the Linux ABI.
//
// On Linux the 32-bit TWAIN integers stay 32 bits wide on 64-bit builds,
// while memory references and handles are pointer-sized. Strings are
// NUL-terminated character arrays two bytes longer than their name says
// (the extra bytes keep the records' 16-bit alignment).
#pragma once

#include <cstdint>

using TW_INT8 = signed char;
using TW_INT16 = short;
using TW_INT32 = int;
using TW_UINT8 = unsigned char;
using TW_UINT16 = unsigned short;
using TW_UINT32 = unsigned int;
using TW_BOOL = unsigned short;

using TW_HANDLE = void*;
using TW_MEMREF = void*;
using TW_UINTPTR = std::uintptr_t;

using TW_STR32 = char[34];
using TW_STR64 = char[66];
using TW_STR128 = char[130];
using TW_STR255 = char[256];

static_assert(sizeof(TW_INT32) == 4 && sizeof(TW_UINT32) == 4, "TWAIN 32-bit integers are 4 bytes on Linux");
static_assert(sizeof(TW_INT16) == 2 && sizeof(TW_UINT16) == 2 && sizeof(TW_BOOL) == 2);
static_assert(sizeof(TW_MEMREF) == sizeof(void*) && sizeof(TW_UINTPTR) == sizeof(void*));
static_assert(sizeof(TW_STR32) == 34 && sizeof(TW_STR64) == 66 && sizeof(TW_STR128) == 130 &&
              sizeof(TW_STR255) == 256);
