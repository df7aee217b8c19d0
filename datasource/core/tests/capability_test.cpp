#include "Capability.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

namespace {

// Hand-made host records, little-endian as on this platform.
struct Record {
    CapBytes bytes;
    Record& u16(std::uint16_t v) { return raw(&v, 2); }
    Record& u32(std::uint32_t v) { return raw(&v, 4); }
    Record& raw(const void* p, std::size_t n) {
        const auto* b = static_cast<const std::uint8_t*>(p);
        bytes.insert(bytes.end(), b, b + n);
        return *this;
    }
    Record& text(const std::string& s, std::size_t field) {
        CapBytes f(field, 0);
        std::memcpy(f.data(), s.data(), std::min(s.size(), field));
        return raw(f.data(), field);
    }
    Record& zeros(std::size_t n) { return raw(CapBytes(n, 0).data(), n); }
};

std::array<char, 34> Str32(const std::string& s) {
    std::array<char, 34> item{};
    item[0] = static_cast<char>(s.size());
    std::memcpy(item.data() + 1, s.data(), s.size());
    return item;
}

std::unique_ptr<CCapEnum> Halftones() {
    const std::array<char, 34> items[] = {Str32("None"), Str32("Error Diffusion")};
    auto cap = std::make_unique<CCapEnum>(TWTY_STR32, false, items, 2, 0, 0);
    cap->SetHostStringsTerminated(true);
    return cap;
}

std::unique_ptr<CCapRange> FloatRange(float current, float def, float max, float min, float step) {
    const float values[] = {current, def, max, min, step};
    return std::make_unique<CCapRange>(TWTY_FLOAT32, false, values);
}

CapBytes NativeBytes(const CCapability& cap) {
    TW_HANDLE h = cap.CreateNativeContainer();
    EXPECT_NE(h, nullptr);
    if (!h) return {};
    CapBytes record;
    EXPECT_TRUE(cap.BuildNativeRecord(record));
    CapBytes inHandle(record.size());
    std::memcpy(inHandle.data(), NativeMemoryLock(h), record.size());
    NativeMemoryUnlock(h);
    NativeMemoryFree(h);
    EXPECT_EQ(inHandle, record);
    return record;
}

TEST(CapabilityNative, RecordsMatchTheLinuxLayout) {
    const TW_INT16 minusOne = -1;
    const float onePointFive = 1.5f;
    const TW_UINT16 list[] = {1, 2};
    const float resolutions[] = {300, 600};
    std::uint8_t curve[256];
    for (int i = 0; i < 256; ++i) curve[i] = static_cast<std::uint8_t>(255 - i);
    const TW_FRAME frame{{1, 0x8000}, {2, 0}, {8, 0x4000}, {11, 0}};

    struct Case {
        const char* name;
        std::function<std::unique_ptr<CCapability>()> make;
        CapBytes expected;
    };
    const Case cases[] = {
        {"INT16 one value", [&] { return std::make_unique<CCapOneValue>(TWTY_INT16, false, &minusOne, &minusOne); },
         Record().u16(TWTY_INT16).u16(0xFFFF).u16(0).bytes},
        {"float one value as FIX32",
         [&] { return std::make_unique<CCapOneValue>(TWTY_FLOAT32, false, &onePointFive, &onePointFive); },
         Record().u16(TWTY_FIX32).u16(1).u16(0x8000).bytes},
        {"frame one value", [&] { return std::make_unique<CCapOneValue>(TWTY_FRAME, false, &frame, &frame); },
         Record().u16(TWTY_FRAME).raw(&frame, sizeof frame).bytes},
        {"custom STR255 raw", [&] { return std::make_unique<CCapOneValue>(TWTY_STR255, false, curve, curve); },
         Record().u16(TWTY_STR255).raw(curve, 256).bytes},
        {"UINT16 array", [&] { return std::make_unique<CCapArray>(TWTY_UINT16, true, list, 2); },
         Record().u16(TWTY_UINT16).u32(2).u16(1).u16(2).bytes},
        {"float enumeration", [&] { return std::make_unique<CCapEnum>(TWTY_FLOAT32, false, resolutions, 2, 1, 0); },
         Record().u16(TWTY_FIX32).u32(2).u32(1).u32(0).u16(300).u16(0).u16(600).u16(0).bytes},
        {"halftones, terminated for hosts", [&] { return Halftones(); },
         Record().u16(TWTY_STR32).u32(2).u32(0).u32(0).text("None", 34).text("Error Diffusion", 34).bytes},
        {"float range", [&] { return FloatRange(128, 128, 255, 0, 1); },
         Record().u16(TWTY_FIX32).u16(0).u16(0).u16(255).u16(0).u16(1).u16(0).u16(128).u16(0).u16(128).u16(0).bytes},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(NativeBytes(*c.make()), c.expected);
    }
}

TEST(CapabilityNative, HandlesComeFromTheManagerOnceGiven) {
    static int allocations = 0, frees = 0;
    TW_ENTRYPOINT entry{};
    entry.DSM_MemAllocate = [](TW_UINT32 size) -> TW_HANDLE {
        ++allocations;
        void* p = std::malloc(size);
        std::memset(p, 0xAB, size); // the manager's memory is not cleared for us
        return p;
    };
    entry.DSM_MemFree = [](TW_HANDLE h) {
        ++frees;
        std::free(h);
    };
    entry.DSM_MemLock = [](TW_HANDLE h) -> TW_MEMREF { return h; };
    entry.DSM_MemUnlock = [](TW_HANDLE) {};
    SetNativeMemoryEntryPoints(&entry);
    const TW_UINT16 v = 7;
    CCapOneValue cap(TWTY_UINT16, false, &v, &v);
    const CapBytes record = NativeBytes(cap); // byte-compared with the zero-filled record
    SetNativeMemoryEntryPoints(nullptr);
    EXPECT_EQ(record, Record().u16(TWTY_UINT16).u16(7).u16(0).bytes);
    EXPECT_EQ(allocations, 1);
    EXPECT_EQ(frees, 1);
}

// Host records offered to containers: the condition code and the current
// value afterwards.
TEST(CapabilityAccept, HostRecords) {
    struct Case {
        const char* name;
        std::function<std::unique_ptr<CCapability>()> make;
        TW_UINT16 containerType;
        CapBytes record;
        TW_UINT16 expectedCode;
        std::function<void(CCapability&)> check;
    };
    auto range = [] { return FloatRange(0, 0, 1000, -1000, 1); };
    auto floatIs = [](float expected) {
        return [expected](CCapability& cap) {
            float v = NAN;
            ASSERT_TRUE(cap.ReadValue(&v));
            EXPECT_FLOAT_EQ(v, expected);
        };
    };
    auto enumIndex = [](std::size_t expected) {
        return [expected](CCapability& cap) { EXPECT_EQ(static_cast<CCapEnum&>(cap).GetCurrentIndex(), expected); };
    };
    static constexpr TW_UINT16 zero16 = 0;
    const Case cases[] = {
        {"range accepts its maximum", range, TWON_ONEVALUE, Record().u16(TWTY_FIX32).u16(1000).u16(0).bytes, TWCC_SUCCESS,
         floatIs(1000)},
        {"range accepts its minimum", range, TWON_ONEVALUE, Record().u16(TWTY_FIX32).u16(0xFC18).u16(0).bytes,
         TWCC_SUCCESS, floatIs(-1000)},
        {"range refuses 1000.5", range, TWON_ONEVALUE, Record().u16(TWTY_FIX32).u16(1000).u16(0x8000).bytes,
         TWCC_BADVALUE, floatIs(0)},
        {"range takes a host range's current value", range, TWON_RANGE,
         Record().u16(TWTY_FIX32).u16(0xFC18).u16(0).u16(1000).u16(0).u16(1).u16(0).u32(0).u16(12).u16(0x4000).bytes,
         TWCC_SUCCESS, floatIs(12.25f)},
        // A host range must agree with itself; only its current value is
        // taken, but a record that lies about the rest is no range.
        {"host range with its minimum above its maximum", range, TWON_RANGE,
         Record().u16(TWTY_FIX32).u16(10).u16(0).u16(5).u16(0).u16(1).u16(0).u32(0).u16(7).u16(0).bytes, TWCC_BADVALUE,
         floatIs(0)},
        {"host range with a step of 0", range, TWON_RANGE,
         Record().u16(TWTY_FIX32).u16(0xFFF6).u16(0).u16(10).u16(0).u32(0).u32(0).u16(5).u16(0).bytes, TWCC_BADVALUE,
         floatIs(0)},
        {"host range whose current value lies outside it", range, TWON_RANGE,
         Record().u16(TWTY_FIX32).u32(0).u16(10).u16(0).u16(1).u16(0).u32(0).u16(20).u16(0).bytes, TWCC_BADVALUE,
         floatIs(0)},
        {"float refuses a wrong item type", range, TWON_ONEVALUE, Record().u16(TWTY_INT32).u32(5).bytes, TWCC_BADVALUE,
         floatIs(0)},
        {"array container kind is refused", range, TWON_ARRAY, Record().u16(TWTY_FIX32).u32(1).u32(5).bytes,
         TWCC_BADVALUE, floatIs(0)},
        {"halftones from terminated text", Halftones, TWON_ONEVALUE,
         Record().u16(TWTY_STR32).text("Error Diffusion", 34).bytes, TWCC_SUCCESS, enumIndex(1)},
        {"halftones from our host's counted text", Halftones, TWON_ONEVALUE,
         Record().u16(TWTY_STR32).text("\x0F" "Error Diffusion", 34).bytes, TWCC_SUCCESS, enumIndex(1)},
        {"halftones refuses Non", Halftones, TWON_ONEVALUE, Record().u16(TWTY_STR32).text("Non", 34).bytes,
         TWCC_BADVALUE, enumIndex(0)},
        {"halftones refuses unterminated text", Halftones, TWON_ONEVALUE,
         Record().u16(TWTY_STR32).text(std::string(34, 'x'), 34).bytes, TWCC_BADVALUE, enumIndex(0)},
        {"enumeration at its current index", Halftones, TWON_ENUMERATION,
         Record().u16(TWTY_STR32).u32(2).u32(1).u32(0).text("None", 34).text("Error Diffusion", 34).bytes,
         TWCC_SUCCESS, enumIndex(1)},
        {"enumeration index beyond the count", Halftones, TWON_ENUMERATION,
         Record().u16(TWTY_STR32).u32(1).u32(1).u32(0).text("None", 34).text("Error Diffusion", 34).bytes,
         TWCC_BADVALUE, enumIndex(0)},
        // Counts and indexes no real list has: refused before any item is
        // read (the handle form cannot know the record's size).
        {"enumeration claiming every item with a huge index", Halftones, TWON_ENUMERATION,
         Record().u16(TWTY_STR32).u32(0xFFFFFFFF).u32(0x7FFFFFFF).u32(0).text("None", 34).bytes, TWCC_BADVALUE,
         enumIndex(0)},
        {"enumeration claiming 0x40000000 items", Halftones, TWON_ENUMERATION,
         Record().u16(TWTY_STR32).u32(0x40000000).u32(1).u32(0).text("None", 34).text("Error Diffusion", 34).bytes,
         TWCC_BADVALUE, enumIndex(0)},
        {"enumeration default index beyond the count", Halftones, TWON_ENUMERATION,
         Record().u16(TWTY_STR32).u32(2).u32(1).u32(5).text("None", 34).text("Error Diffusion", 34).bytes,
         TWCC_BADVALUE, enumIndex(0)},
        {"enumeration of no items", Halftones, TWON_ENUMERATION, Record().u16(TWTY_STR32).u32(0).u32(0).u32(0).bytes,
         TWCC_BADVALUE, enumIndex(0)},
        {"read-only refuses before looking", [] { return std::make_unique<CCapOneValue>(TWTY_UINT16, true, &zero16, &zero16); },
         TWON_ONEVALUE, Record().u16(TWTY_UINT16).u32(1).bytes, TWCC_CAPBADOPERATION, [](CCapability& cap) {
             TW_UINT32 v = 9;
             ASSERT_TRUE(cap.ReadValue(&v));
             EXPECT_EQ(v, 0u);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto cap = c.make();
        EXPECT_EQ(cap->AcceptsNativeRecord(c.containerType, c.record.data(), c.record.size()), c.expectedCode);
        c.check(*cap);
        // The handle form gives the same answer.
        auto again = c.make();
        TW_HANDLE h = NativeMemoryAllocate(c.record.size());
        std::memcpy(NativeMemoryLock(h), c.record.data(), c.record.size());
        EXPECT_EQ(again->AcceptsNativeContainer(c.containerType, h), c.expectedCode);
        NativeMemoryFree(h);
    }
}

TEST(CapabilityAccept, ShortRecordsAndNullHandles) {
    auto range = FloatRange(0, 0, 1000, -1000, 1);
    const CapBytes full = Record().u16(TWTY_FIX32).u16(5).u16(0).bytes;
    for (std::size_t size = 0; size < full.size(); ++size)
        EXPECT_EQ(range->AcceptsNativeRecord(TWON_ONEVALUE, full.data(), size), TWCC_BADVALUE) << size;
    EXPECT_EQ(range->AcceptsNativeContainer(TWON_ONEVALUE, nullptr), TWCC_BADVALUE);
    const CapBytes enumeration = Record().u16(TWTY_STR32).u32(2).u32(1).u32(0).text("None", 34).bytes;
    EXPECT_EQ(Halftones()->AcceptsNativeRecord(TWON_ENUMERATION, enumeration.data(), enumeration.size()),
              TWCC_BADVALUE); // the second item lies past the record
}

TEST(CapabilityAccept, FloatRoundTripsThroughFix32) {
    const float g = 2.25f;
    CCapOneValue source(TWTY_FLOAT32, false, &g, &g);
    const float one = 1;
    CCapOneValue target(TWTY_FLOAT32, false, &one, &one);
    TW_HANDLE h = source.CreateNativeContainer();
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(target.AcceptsNativeContainer(TWON_ONEVALUE, h), TWCC_SUCCESS);
    NativeMemoryFree(h);
    float v = 0;
    ASSERT_TRUE(target.ReadValue(&v));
    EXPECT_EQ(v, 2.25f);
}

TEST(CapabilityContainers, ArrayKeepsOneCopyOfAnItem) {
    const TW_UINT16 items[] = {3, 5};
    CCapArray array(TWTY_UINT16, false, items, 2);
    EXPECT_TRUE(array.WriteValue(5));
    EXPECT_EQ(array.GetValueCount(), 2u);
    EXPECT_TRUE(array.WriteValue(9));
    ASSERT_EQ(array.GetValueCount(), 3u);
    TW_UINT16 last = 0;
    EXPECT_TRUE(array.GetValueAtIndex(2, &last));
    EXPECT_EQ(last, 9);
    EXPECT_FALSE(array.GetValueAtIndex(3, &last));
}

TEST(CapabilityContainers, EnumerationIndexesAndReset) {
    const float items[] = {100, 300, 600};
    CCapEnum e(TWTY_FLOAT32, false, items, 3, 1, 1);
    EXPECT_FALSE(e.SetCurrentIndex(3));
    EXPECT_EQ(e.GetCurrentIndex(), 1u);
    EXPECT_TRUE(e.WriteValue(600u));
    EXPECT_EQ(e.GetCurrentIndex(), 2u);
    EXPECT_FALSE(e.WriteValue(601.0f));
    EXPECT_EQ(e.GetCurrentIndex(), 2u);
    e.Reset();
    EXPECT_EQ(e.GetCurrentIndex(), 1u);
    CCapEnum empty(TWTY_UINT16, false, nullptr, 0, 0, 0);
    EXPECT_FALSE(empty.WriteValue(0));
    TW_UINT32 v = 7;
    EXPECT_FALSE(empty.ReadValue(&v));
    EXPECT_EQ(v, 7u);
}

TEST(CapabilityContainers, DuplicateKeepsValuesAndFlags) {
    auto original = Halftones();
    ASSERT_TRUE(original->SetCurrentIndex(1));
    std::unique_ptr<CCapability> copy(original->Duplicate());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->GetContainerType(), TWON_ENUMERATION);
    EXPECT_TRUE(copy->HostStringsTerminated());
    CapBytes a, b;
    ASSERT_TRUE(original->BuildNativeRecord(a));
    ASSERT_TRUE(copy->BuildNativeRecord(b));
    EXPECT_EQ(a, b);
}

// Typed conversions: truncation, saturation and the refusal of NaN.
TEST(CapabilityTyped, Conversions) {
    const std::int16_t zero16 = 0;
    CCapOneValue i16(TWTY_INT16, false, &zero16, &zero16);
    EXPECT_TRUE(i16.WriteValue(1e10f));
    TW_UINT32 u = 0;
    long l = 0;
    ASSERT_TRUE(i16.ReadValue(&l));
    EXPECT_EQ(l, 32767);
    EXPECT_TRUE(i16.WriteValue(-2.9f));
    ASSERT_TRUE(i16.ReadValue(&l));
    EXPECT_EQ(l, -2);
    EXPECT_TRUE(i16.WriteValue(0x12345)); // integers keep the item's width
    ASSERT_TRUE(i16.ReadValue(&u));
    EXPECT_EQ(u, 0x2345u);
    EXPECT_FALSE(i16.WriteValue(NAN));
    ASSERT_TRUE(i16.ReadValue(&u));
    EXPECT_EQ(u, 0x2345u);

    const float nan = NAN;
    CCapOneValue f(TWTY_FLOAT32, false, &nan, &nan);
    EXPECT_FALSE(f.ReadValue(&u)); // NaN has no integer
    EXPECT_TRUE(f.WriteValue(-5.75f));
    ASSERT_TRUE(f.ReadValue(&l));
    EXPECT_EQ(l, -5);
    EXPECT_TRUE(f.WriteValue(3e38f));
    ASSERT_TRUE(f.ReadValue(&u));
    EXPECT_EQ(u, UINT32_MAX);

    const TW_UINT32 fixZero = 0;
    CCapOneValue fix(TWTY_FIX32, false, &fixZero, &fixZero);
    EXPECT_TRUE(fix.WriteValue(2.5f));
    float back = 0;
    ASSERT_TRUE(fix.ReadValue(&back));
    EXPECT_EQ(back, 2.5f);

    const TW_FRAME frame{};
    CCapOneValue fr(TWTY_FRAME, false, &frame, &frame);
    EXPECT_FALSE(fr.WriteValue(1));
    EXPECT_FALSE(fr.ReadValue(&u));
}

} // namespace
