// The records as other TWAIN programs on Linux see them: a few records are
// filled field by field and compared byte for byte with hand-made images.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "twain/twain.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Little-endian pieces of a hand-made image.
struct Image {
    Bytes bytes;
    Image& u16(std::uint16_t v) { return raw(v, 2); }
    Image& u32(std::uint32_t v) { return raw(v, 4); }
    Image& u64(std::uint64_t v) { return raw(v, 8); }
    Image& text(const char* s, std::size_t width) {
        const std::size_t n = std::strlen(s);
        for (std::size_t i = 0; i < width; ++i) bytes.push_back(i < n ? static_cast<std::uint8_t>(s[i]) : 0);
        return *this;
    }
    Image& raw(std::uint64_t v, int width) {
        for (int i = 0; i < width; ++i) bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        return *this;
    }
};

template <typename T>
Bytes BytesOf(const T& record) {
    Bytes out(sizeof record);
    std::memcpy(out.data(), &record, sizeof record);
    return out;
}

struct Case {
    std::string name;
    std::function<Bytes()> written;
    Bytes expected;
};

std::vector<Case> Cases() {
    auto* const pointer = reinterpret_cast<void*>(std::uintptr_t{0x1122334455667788});
    return {
        {"identity",
         [] {
             TW_IDENTITY id{};
             id.Id = 0x01020304;
             id.Version = {1, 0, TWLG_USA, TWCY_USA, "1.0"};
             id.ProtocolMajor = 2;
             id.ProtocolMinor = 4;
             id.SupportedGroups = DG_CONTROL | DG_IMAGE | DF_DS2;
             std::strcpy(id.Manufacturer, "Maker");
             std::strcpy(id.ProductFamily, "Family");
             std::strcpy(id.ProductName, "Product");
             return BytesOf(id);
         },
         Image{}
             .u32(0x01020304)
             .u16(1).u16(0).u16(13).u16(1).text("1.0", 34)
             .u16(2).u16(4)
             .u32(0x40000003)
             .text("Maker", 34).text("Family", 34).text("Product", 34)
             .bytes},
        {"range",
         [] {
             TW_RANGE range{TWTY_UINT16, 1, 2, 3, 4, 5};
             return BytesOf(range);
         },
         Image{}.u16(TWTY_UINT16).u32(1).u32(2).u32(3).u32(4).u32(5).bytes},
        {"memory transfer",
         [pointer] {
             TW_IMAGEMEMXFER xfer{};
             xfer.Compression = 0xFFFF;
             xfer.BytesPerRow = 0x11;
             xfer.Columns = 0x22;
             xfer.Rows = 0x33;
             xfer.XOffset = 0x44;
             xfer.YOffset = 0x55;
             xfer.BytesWritten = 0x66;
             xfer.Memory = {TWMF_APPOWNS | TWMF_POINTER, 0x10000, pointer};
             return BytesOf(xfer);
         },
         Image{}
             .u16(0xFFFF).u32(0x11).u32(0x22).u32(0x33).u32(0x44).u32(0x55).u32(0x66)
             .u32(9).u32(0x10000).u64(0x1122334455667788)
             .bytes},
        {"callback2",
         [pointer] {
             TW_CALLBACK2 callback{pointer, 0xA1A2A3A4A5A6A7A8, MSG_XFERREADY};
             return BytesOf(callback);
         },
         Image{}.u64(0x1122334455667788).u64(0xA1A2A3A4A5A6A7A8).u16(0x0101).bytes},
        {"callback",
         [pointer] {
             TW_CALLBACK callback{pointer, 0xB1B2B3B4, MSG_CLOSEDSREQ};
             return BytesOf(callback);
         },
         Image{}.u64(0x1122334455667788).u32(0xB1B2B3B4).u16(0x0102).bytes},
        {"pass-through",
         [pointer] {
             TW_PASSTHRU pass{pointer, 4, -1, pointer, 16, 8};
             return BytesOf(pass);
         },
         Image{}.u64(0x1122334455667788).u32(4).u32(0xFFFFFFFF).u64(0x1122334455667788).u32(16).u32(8).bytes},
        {"device event",
         [] {
             TW_DEVICEEVENT event{};
             event.Event = 0x8002;
             std::strcpy(event.DeviceName, "dev");
             event.BatteryPercentage = -2;
             event.PowerSupply = 7;
             event.XResolution = {300, 0x8000};
             event.TimeBetweenCaptures = 9;
             return BytesOf(event);
         },
         Image{}
             .u32(0x8002).text("dev", 256).u32(0).u16(0xFFFE).u32(7).u16(300).u16(0x8000).u32(0)
             .u32(0).u32(0).u32(0).u32(9)
             .bytes},
        {"pending transfers",
         [] {
             TW_PENDINGXFERS pending{};
             pending.Count = 0xFFFF;
             pending.EOJ = 0x01020304;
             return BytesOf(pending);
         },
         Image{}.u16(0xFFFF).u32(0x01020304).bytes},
    };
}

TEST(TwainRecords, FieldsLandWhereOtherProgramsReadThem) {
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.written(), c.expected);
    }
}

TEST(TwainRecords, ContainerItemsFollowTheirHeaders) {
    // An enumeration of three UINT16 items, allocated as a source does: the
    // header up to the item list, then the items.
    alignas(8) std::uint8_t block[kTwEnumerationItemListOffset + 3 * sizeof(TW_UINT16)] = {};
    auto* enumeration = reinterpret_cast<TW_ENUMERATION*>(block);
    enumeration->ItemType = TWTY_UINT16;
    enumeration->NumItems = 3;
    enumeration->CurrentIndex = 1;
    enumeration->DefaultIndex = 2;
    const TW_UINT16 items[3] = {TWUN_INCHES, TWUN_CENTIMETERS, TWUN_PIXELS};
    std::memcpy(enumeration->ItemList, items, sizeof items);
    const Bytes expected = Image{}.u16(TWTY_UINT16).u32(3).u32(1).u32(2).u16(0).u16(1).u16(5).bytes;
    EXPECT_EQ(Bytes(block, block + sizeof block), expected);

    alignas(8) std::uint8_t one[8] = {};
    auto* value = reinterpret_cast<TW_ONEVALUE*>(one);
    value->ItemType = TWTY_INT32;
    value->Item = static_cast<TW_UINT32>(-1);
    EXPECT_EQ(Bytes(one, one + kTwOneValueItemOffset + 4), Image{}.u16(TWTY_INT32).u32(0xFFFFFFFF).bytes);
}

}  // namespace
