#include "CapHelpers.h"
#include "CapTables.h"
#include "KdTwainCustom.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

TEST(CapTables, RowCountsAndSupportedCapsOrder) {
    EXPECT_EQ(kGeneralCapCount, 26u);
    EXPECT_EQ(kKdDSCapCount, 101u);
    auto pool = MakeKdCapPool();
    ASSERT_NE(pool, nullptr);
    auto* supported = dynamic_cast<CCapArray*>(pool->GetCapability(CAP_SUPPORTEDCAPS));
    ASSERT_NE(supported, nullptr);
    EXPECT_TRUE(supported->IsReadOnly());
    const std::vector<TW_UINT16> expected = {0x0001, 0x1005, 0x100E, 0x0100, 0x1120, 0x1112, 0x1111, 0x111F,
                                             0x112B, 0x111C, 0x0101, 0x0102, 0x0103, 0x1118, 0x1119, 0x100F,
                                             0x100B, 0x1116, 0x1117, 0x1014, 0x110C, 0x1114};
    std::vector<TW_UINT16> listed(supported->GetValueCount());
    for (std::size_t i = 0; i < listed.size(); ++i) ASSERT_TRUE(supported->GetValueAtIndex(i, &listed[i]));
    EXPECT_EQ(listed, expected);
}

TEST(CapPool, ScannerTableMergesOverTheGeneralOne) {
    auto pool = MakeKdCapPool();
    ASSERT_NE(pool, nullptr);
    // The physical size and the four resolutions are in both tables.
    EXPECT_EQ(pool->Capabilities().size(), 26u + 101u - 6u);
    auto* x = dynamic_cast<CCapEnum*>(pool->GetCapability(ICAP_XRESOLUTION));
    ASSERT_NE(x, nullptr);
    std::vector<float> values(x->GetValueCount());
    for (std::size_t i = 0; i < values.size(); ++i) ASSERT_TRUE(x->GetValueAtIndex(i, &values[i]));
    EXPECT_EQ(values, (std::vector<float>{100, 150, 200, 240, 300, 400, 600}));
    EXPECT_EQ(GetCapFloatValue(pool.get(), ICAP_XRESOLUTION), 300.0f);
    EXPECT_EQ(GetCapFloatValue(pool.get(), ICAP_PHYSICALHEIGHT), 16800.0f);
    EXPECT_EQ(pool->GetCapability(0x7777), nullptr);
    // The scan frame stays a 32-bit integer one-value for hosts.
    CapBytes frame;
    ASSERT_TRUE(pool->GetCapability(CCAP_TVKM_SCANAREA_X)->BuildNativeRecord(frame));
    EXPECT_EQ(frame[0], TWTY_INT32);
    // Brightness steps of 1000/127 reach hosts as FIX32.
    EXPECT_FLOAT_EQ(GetCapStepSize(pool.get(), ICAP_BRIGHTNESS), 1000.0f / 127.0f);
}

TEST(CapPool, CompareExcludesTheFavouriteName) {
    auto live = MakeKdCapPool();
    auto stored = MakeKdCapPool();
    ASSERT_TRUE(live && stored);
    const TW_UINT16 excluded[] = {CCAP_TVKM_FAVORITENAME};
    EXPECT_TRUE(live->IsEqualToCapValues(stored.get(), nullptr, 0));
    char name[66] = "\x05" "Fast1";
    ASSERT_TRUE(SetCapStrValue(live.get(), CCAP_TVKM_FAVORITENAME, name));
    EXPECT_FALSE(live->IsEqualToCapValues(stored.get(), nullptr, 0));
    EXPECT_TRUE(live->IsEqualToCapValues(stored.get(), excluded, 1));
    ASSERT_TRUE(SetCapSIntValue(live.get(), CCAP_TVK_DESKEW, 1));
    EXPECT_FALSE(live->IsEqualToCapValues(stored.get(), excluded, 1));
}

TEST(CapPool, PoolsWithOtherIdsAreUnequal) {
    auto full = MakeKdCapPool();
    CCapPool general;
    ASSERT_TRUE(general.MakeCapabilities(sGeneralCapDesc, kGeneralCapCount));
    CCapPool empty;
    // Neither direction walks past the shorter pool.
    EXPECT_FALSE(full->IsEqualToCapValues(&general, nullptr, 0));
    EXPECT_FALSE(general.IsEqualToCapValues(full.get(), nullptr, 0));
    EXPECT_FALSE(empty.IsEqualToCapValues(full.get(), nullptr, 0));
    EXPECT_TRUE(empty.IsEqualToCapValues(&empty, nullptr, 0));
    // Same count, different ids.
    CCapPool a, b;
    const TW_INT32 v = 0;
    a.AppendCapability(0x8001, new CCapOneValue(TWTY_INT32, false, &v, &v));
    b.AppendCapability(0x8002, new CCapOneValue(TWTY_INT32, false, &v, &v));
    const TW_UINT16 both[] = {0x8001, 0x8002};
    EXPECT_FALSE(a.IsEqualToCapValues(&b, both, 2));
}

int gDeleted = 0;
struct Counted : CCapOneValue {
    using CCapOneValue::CCapOneValue;
    ~Counted() override { ++gDeleted; }
};

TEST(CapPool, AppendReplacesAndDeletesOnce) {
    gDeleted = 0;
    const TW_INT32 one = 1, two = 2;
    {
        CCapPool pool;
        pool.AppendCapability(0x8001, new Counted(TWTY_INT32, false, &one, &one));
        pool.AppendCapability(0x8001, new Counted(TWTY_INT32, false, &two, &two));
        EXPECT_EQ(gDeleted, 1);
        EXPECT_EQ(GetCapSIntValue(&pool, 0x8001), 2);
        pool.AppendCapability(0x8001, nullptr);
        EXPECT_EQ(GetCapSIntValue(&pool, 0x8001), 2);
    }
    EXPECT_EQ(gDeleted, 2);
}

TEST(CapPool, MergeDuplicatesAndSkipsUnknownKinds) {
    const TW_INT32 v = 5;
    const SMakeCapDesc rows[] = {
        {0x8001, TWON_ONEVALUE, TWTY_INT32, &v, 0},
        {0x8002, 99, TWTY_INT32, &v, 0}, // not a container kind
    };
    CCapPool source;
    ASSERT_TRUE(source.MakeCapabilities(rows, 2));
    EXPECT_EQ(source.Capabilities().size(), 1u);
    CCapPool target;
    ASSERT_TRUE(target.Merge(&source));
    ASSERT_TRUE(SetCapSIntValue(&target, 0x8001, 9));
    EXPECT_EQ(GetCapSIntValue(&source, 0x8001), 5); // a copy, not the same container
}

TEST(CapPool, HalftonesReachHostsAsTerminatedText) {
    auto pool = MakeKdCapPool();
    CCapability* h = pool->GetCapability(ICAP_HALFTONES);
    ASSERT_NE(h, nullptr);
    CapBytes record;
    ASSERT_TRUE(h->BuildNativeRecord(record));
    ASSERT_EQ(record.size(), kTwEnumerationItemListOffset + 2 * 34);
    EXPECT_EQ(std::memcmp(record.data() + kTwEnumerationItemListOffset, "None\0", 5), 0);
    // Custom string ids pass their bytes unchanged.
    char raw[66] = "\x03" "abc";
    ASSERT_TRUE(SetCapStrValue(pool.get(), CCAP_TVKM_CUSTOMGAMMANAME, raw));
    ASSERT_TRUE(pool->GetCapability(CCAP_TVKM_CUSTOMGAMMANAME)->BuildNativeRecord(record));
    EXPECT_EQ(std::memcmp(record.data() + kTwOneValueItemOffset, raw, 66), 0);
}

TEST(CapPool, FlattenWithoutHookGivesNothing) {
    CCapPool pool;
    TW_INT32 version = 7;
    EXPECT_FALSE(pool.Flatten(&version).has_value());
    kdf::Bytes data{1, 2};
    EXPECT_EQ(FlatteningCaps(&pool, &version, &data), 0);
    EXPECT_EQ(data.size(), 2u);
    EXPECT_EQ(version, 7);
}

} // namespace
