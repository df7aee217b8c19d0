#include "DeviceTables.h"
#include "ModelTestSupport.h"

#include <gtest/gtest.h>

namespace {

struct CapRow {
    std::uint16_t cap;
    int flags[9]; // device types 0..8
};
// The support table as the family's models have it; type 8 (any other data
// source) supports everything.
const CapRow kExpected[] = {
    {0x80CB, {1, 0, 0, 0, 0, 0, 0, 0, 1}}, {0x819A, {0, 1, 1, 1, 0, 0, 0, 0, 1}},
    {0x819B, {0, 0, 0, 0, 1, 1, 0, 0, 1}}, {0x819C, {0, 0, 0, 0, 1, 1, 0, 0, 1}},
    {0x819D, {0, 0, 0, 0, 0, 1, 0, 0, 1}}, {0x81A4, {0, 0, 0, 0, 1, 0, 0, 0, 1}},
    {0x81A5, {0, 0, 0, 0, 0, 1, 0, 0, 1}}, {0x81A6, {0, 0, 0, 0, 0, 1, 0, 0, 1}},
    {0x81AE, {0, 0, 0, 0, 1, 1, 1, 1, 1}}, {0x8420, {0, 0, 0, 1, 0, 0, 0, 0, 1}},
    {0x8421, {0, 1, 1, 1, 0, 0, 1, 1, 1}}, {0x8422, {1, 1, 1, 1, 1, 1, 1, 1, 1}},
};
// One product name per device type 0..8.
const char* const kProductOfType[9] = {
    "Tavro KD-710 TWAIN", "Tavro KD-931 TWAIN", "Tavro KD-920 TWAIN", "Tavro KD-911 TWAIN", "Tavro KD-810 TWAIN",
    "Tavro KD-820 TWAIN", "Tavro KD-730 TWAIN", "Tavro KD-720 TWAIN", "Tavro KD-990 TWAIN",
};

TEST(DeviceTables, SupportTableByDeviceType) {
    modeltest::ScopedController controller;
    for (int type = 0; type <= 8; ++type) {
        controller->productName = kProductOfType[type];
        ASSERT_EQ(curDeviceType(), type) << kProductOfType[type];
        for (const CapRow& row : kExpected) {
            SCOPED_TRACE(testing::Message() << "type " << type << " cap 0x" << std::hex << row.cap);
            EXPECT_EQ(isSupportedCAP(row.cap), row.flags[type] == 1);
        }
        EXPECT_TRUE(isSupportedCAP(0x1001));
    }
}

TEST(DeviceTables, PhotoModeNeverOnTheAirPrintClassSource) {
    modeltest::ScopedController controller;
    controller->productName = "Tavro KD-920 TWAIN";
    EXPECT_TRUE(isSupportedCAP(kCapPhotoMode));
    controller->isAPDS = true;
    EXPECT_FALSE(isSupportedCAP(kCapPhotoMode));
    EXPECT_TRUE(isSupportedCAP(0x8421));
}

TEST(DeviceTables, NoDataSourceChosen) {
    AppControllerServices::setCurrent(nullptr);
    EXPECT_EQ(AppControllerServices::curDS_ProductName(), "DummyKey");
    EXPECT_EQ(curDeviceType(), 8);
    int supported = 0;
    for (const CapSupportRow& row : capSupportTable()) supported += AppControllerServices::isSupportedCAPOnDevice(row.cap);
    EXPECT_EQ(supported, 11);
    EXPECT_FALSE(AppControllerServices::isSupportedCAPOnDevice(kCapPhotoMode));
    EXPECT_TRUE(AppControllerServices::isSupportedCAPOnDevice(0x1001));
    EXPECT_TRUE(AppControllerServices::isSupportedScanSide());
    EXPECT_FALSE(AppControllerServices::isVisibleSettingWindow());
}

TEST(DeviceTables, OldDriverTable) {
    EXPECT_EQ(TV_OldDevice::cntOfOldDeviceTable(), 11);
    EXPECT_EQ(TV_OldDevice::indexOfOldDriverInfo(-1), nullptr);
    EXPECT_EQ(TV_OldDevice::indexOfOldDriverInfo(11), nullptr);
    const OldDriverInfo* first = TV_OldDevice::indexOfOldDriverInfo(0);
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first->productName, "Tavro KD-910 TWAIN");
    const OldDriverInfo* kd720 = TV_OldDevice::driverInfoFromDSProductName(std::string("Tavro KD-720 TWAIN"));
    ASSERT_NE(kd720, nullptr);
    EXPECT_STREQ(kd720->manufacturer, "Tavrolek Document Systems");
    EXPECT_STREQ(kd720->driverFamily, "Tavro KD-720 Driver");
    EXPECT_STREQ(kd720->dsFileName, "KD720.ds");
    EXPECT_STREQ(kd720->modelName, "KD-720");
    EXPECT_STREQ(kd720->oldAppName, "Quillora KD-720.app");
    EXPECT_EQ(TV_OldDevice::driverInfoFromDSProductName(std::string("Tavro KD-990 TWAIN")), nullptr);
    EXPECT_EQ(TV_OldDevice::driverInfoFromDSProductName(std::nullopt), nullptr);
}

} // namespace
