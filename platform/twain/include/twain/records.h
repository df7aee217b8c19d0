// TWAIN 2.x records in the Linux layout.
//
// Hosts, managers and sources built by others exchange these records with
// ours, so their layout is fixed: 2-byte packing, 32-bit TW_INT32/TW_UINT32,
// pointer-sized memory references. Each record's size and the offsets that
// other programs read are pinned below; a change that moves a field fails to
// compile instead of corrupting another program's view of the data.
#pragma once

#include <cstddef>

#include "twain/entry_types.h"
#include "twain/types.h"

#pragma pack(push, 2)

// Fixed-point number: Whole + Frac / 65536.
struct TW_FIX32 {
    TW_INT16 Whole;
    TW_UINT16 Frac;
};

struct TW_FRAME {
    TW_FIX32 Left;
    TW_FIX32 Top;
    TW_FIX32 Right;
    TW_FIX32 Bottom;
};

struct TW_VERSION {
    TW_UINT16 MajorNum;
    TW_UINT16 MinorNum;
    TW_UINT16 Language;
    TW_UINT16 Country;
    TW_STR32 Info;
};

// Identity of a host or a source. Id is the manager's: it is assigned when a
// host opens the manager and when a source is listed.
struct TW_IDENTITY {
    TW_UINT32 Id;
    TW_VERSION Version;
    TW_UINT16 ProtocolMajor;
    TW_UINT16 ProtocolMinor;
    TW_UINT32 SupportedGroups;
    TW_STR32 Manufacturer;
    TW_STR32 ProductFamily;
    TW_STR32 ProductName;
};

struct TW_CAPABILITY {
    TW_UINT16 Cap;
    TW_UINT16 ConType;
    TW_HANDLE hContainer;
};

// Containers. The item lists of TW_ARRAY and TW_ENUMERATION run on past the
// end of the record: allocate ItemList's offset plus the items' bytes.
struct TW_ONEVALUE {
    TW_UINT16 ItemType;
    TW_UINT32 Item;
};

struct TW_ARRAY {
    TW_UINT16 ItemType;
    TW_UINT32 NumItems;
    TW_UINT8 ItemList[1];
};

struct TW_ENUMERATION {
    TW_UINT16 ItemType;
    TW_UINT32 NumItems;
    TW_UINT32 CurrentIndex;
    TW_UINT32 DefaultIndex;
    TW_UINT8 ItemList[1];
};

struct TW_RANGE {
    TW_UINT16 ItemType;
    TW_UINT32 MinValue;
    TW_UINT32 MaxValue;
    TW_UINT32 StepSize;
    TW_UINT32 DefaultValue;
    TW_UINT32 CurrentValue;
};

struct TW_IMAGEINFO {
    TW_FIX32 XResolution;
    TW_FIX32 YResolution;
    TW_INT32 ImageWidth;
    TW_INT32 ImageLength;
    TW_INT16 SamplesPerPixel;
    TW_INT16 BitsPerSample[8];
    TW_INT16 BitsPerPixel;
    TW_BOOL Planar;
    TW_INT16 PixelType;
    TW_UINT16 Compression;
};

struct TW_IMAGELAYOUT {
    TW_FRAME Frame;
    TW_UINT32 DocumentNumber;
    TW_UINT32 PageNumber;
    TW_UINT32 FrameNumber;
};

struct TW_MEMORY {
    TW_UINT32 Flags;
    TW_UINT32 Length;
    TW_MEMREF TheMem;
};

struct TW_IMAGEMEMXFER {
    TW_UINT16 Compression;
    TW_UINT32 BytesPerRow;
    TW_UINT32 Columns;
    TW_UINT32 Rows;
    TW_UINT32 XOffset;
    TW_UINT32 YOffset;
    TW_UINT32 BytesWritten;
    TW_MEMORY Memory;
};

struct TW_SETUPMEMXFER {
    TW_UINT32 MinBufSize;
    TW_UINT32 MaxBufSize;
    TW_UINT32 Preferred;
};

struct TW_SETUPFILEXFER {
    TW_STR255 FileName;
    TW_UINT16 Format;
    TW_INT16 VRefNum;
};

struct TW_PENDINGXFERS {
    TW_UINT16 Count;
    union {
        TW_UINT32 EOJ;
        TW_UINT32 Reserved;
    };
};

struct TW_USERINTERFACE {
    TW_BOOL ShowUI;
    TW_BOOL ModalUI;
    TW_HANDLE hParent;
};

struct TW_STATUS {
    TW_UINT16 ConditionCode;
    union {
        TW_UINT16 Data;
        TW_UINT16 Reserved;
    };
};

struct TW_PASSTHRU {
    TW_MEMREF pCommand;
    TW_UINT32 CommandBytes;
    TW_INT32 Direction;
    TW_MEMREF pData;
    TW_UINT32 DataBytes;
    TW_UINT32 DataBytesXfered;
};

struct TW_DEVICEEVENT {
    TW_UINT32 Event;
    TW_STR255 DeviceName;
    TW_UINT32 BatteryMinutes;
    TW_INT16 BatteryPercentage;
    TW_INT32 PowerSupply;
    TW_FIX32 XResolution;
    TW_FIX32 YResolution;
    TW_UINT32 FlashUsed2;
    TW_UINT32 AutomaticCapture;
    TW_UINT32 TimeBeforeFirstCapture;
    TW_UINT32 TimeBetweenCaptures;
};

struct TW_EVENT {
    TW_MEMREF pEvent;
    TW_UINT16 TWMessage;
};

// Host callback registration. RefCon is only 32 bits wide here: a host that
// hands over a pointer registers with TW_CALLBACK2 (DAT_CALLBACK2).
struct TW_CALLBACK {
    TW_MEMREF CallBackProc;
    TW_UINT32 RefCon;
    TW_INT16 Message;
};

struct TW_CALLBACK2 {
    TW_MEMREF CallBackProc;
    TW_UINTPTR RefCon;
    TW_INT16 Message;
};

// The manager's entry and memory functions, handed to a 2.x source before it
// opens and to a 2.x host on request. Size is set to kTwEntryPointSize.
struct TW_ENTRYPOINT {
    TW_UINT32 Size;
    DSMENTRYPROC DSM_Entry;
    DSM_MEMALLOCATE DSM_MemAllocate;
    DSM_MEMFREE DSM_MemFree;
    DSM_MEMLOCK DSM_MemLock;
    DSM_MEMUNLOCK DSM_MemUnlock;
};

#pragma pack(pop)

using pTW_FIX32 = TW_FIX32*;
using pTW_FRAME = TW_FRAME*;
using pTW_VERSION = TW_VERSION*;
using pTW_CAPABILITY = TW_CAPABILITY*;
using pTW_ONEVALUE = TW_ONEVALUE*;
using pTW_ARRAY = TW_ARRAY*;
using pTW_ENUMERATION = TW_ENUMERATION*;
using pTW_RANGE = TW_RANGE*;
using pTW_IMAGEINFO = TW_IMAGEINFO*;
using pTW_IMAGELAYOUT = TW_IMAGELAYOUT*;
using pTW_MEMORY = TW_MEMORY*;
using pTW_IMAGEMEMXFER = TW_IMAGEMEMXFER*;
using pTW_SETUPMEMXFER = TW_SETUPMEMXFER*;
using pTW_SETUPFILEXFER = TW_SETUPFILEXFER*;
using pTW_PENDINGXFERS = TW_PENDINGXFERS*;
using pTW_USERINTERFACE = TW_USERINTERFACE*;
using pTW_STATUS = TW_STATUS*;
using pTW_PASSTHRU = TW_PASSTHRU*;
using pTW_DEVICEEVENT = TW_DEVICEEVENT*;
using pTW_EVENT = TW_EVENT*;
using pTW_CALLBACK = TW_CALLBACK*;
using pTW_CALLBACK2 = TW_CALLBACK2*;
using pTW_ENTRYPOINT = TW_ENTRYPOINT*;

// ---- Sizes and offsets, as every other TWAIN program on Linux sees them -------
inline constexpr TW_UINT32 kTwEntryPointSize = sizeof(TW_ENTRYPOINT);
// Where the item (lists) of the containers begin.
inline constexpr std::size_t kTwOneValueItemOffset = offsetof(TW_ONEVALUE, Item);
inline constexpr std::size_t kTwArrayItemListOffset = offsetof(TW_ARRAY, ItemList);
inline constexpr std::size_t kTwEnumerationItemListOffset = offsetof(TW_ENUMERATION, ItemList);

static_assert(sizeof(TW_FIX32) == 4);
static_assert(sizeof(TW_FRAME) == 16);
static_assert(sizeof(TW_VERSION) == 42);

static_assert(sizeof(TW_IDENTITY) == 156);
static_assert(offsetof(TW_IDENTITY, Version) == 4);
static_assert(offsetof(TW_IDENTITY, ProtocolMajor) == 46);
static_assert(offsetof(TW_IDENTITY, SupportedGroups) == 50);
static_assert(offsetof(TW_IDENTITY, Manufacturer) == 54);
static_assert(offsetof(TW_IDENTITY, ProductFamily) == 88);
static_assert(offsetof(TW_IDENTITY, ProductName) == 122);

static_assert(sizeof(TW_CAPABILITY) == 12);
static_assert(offsetof(TW_CAPABILITY, hContainer) == 4);

static_assert(kTwOneValueItemOffset == 2);
static_assert(kTwArrayItemListOffset == 6);
static_assert(offsetof(TW_ENUMERATION, CurrentIndex) == 6);
static_assert(offsetof(TW_ENUMERATION, DefaultIndex) == 10);
static_assert(kTwEnumerationItemListOffset == 14);

static_assert(sizeof(TW_RANGE) == 22);
static_assert(offsetof(TW_RANGE, MinValue) == 2);
static_assert(offsetof(TW_RANGE, MaxValue) == 6);
static_assert(offsetof(TW_RANGE, StepSize) == 10);
static_assert(offsetof(TW_RANGE, DefaultValue) == 14);
static_assert(offsetof(TW_RANGE, CurrentValue) == 18);

static_assert(sizeof(TW_IMAGEINFO) == 42);
static_assert(sizeof(TW_MEMORY) == 16);
static_assert(sizeof(TW_IMAGEMEMXFER) == 42);
static_assert(offsetof(TW_IMAGEMEMXFER, Memory) == 26);
static_assert(sizeof(TW_PASSTHRU) == 32);
static_assert(sizeof(TW_CALLBACK) == 14);
static_assert(sizeof(TW_CALLBACK2) == 18);
static_assert(kTwEntryPointSize == 44);
static_assert(sizeof(TW_SETUPFILEXFER) == 260);
static_assert(sizeof(TW_DEVICEEVENT) == 294);
static_assert(sizeof(TW_USERINTERFACE) == 12);
static_assert(sizeof(TW_STATUS) == 4);
static_assert(sizeof(TW_PENDINGXFERS) == 6);
static_assert(sizeof(TW_SETUPMEMXFER) == 12);
static_assert(sizeof(TW_IMAGELAYOUT) == 28);
static_assert(sizeof(TW_EVENT) == 10);
