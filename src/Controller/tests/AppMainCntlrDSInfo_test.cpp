// The current data-source identity, its defaults and the feature queries,
// as the controller and the models see them.
#include "AppBundleFixture.h"
#include "AppControllerServices.h"
#include "AppMainCntlrDSInfo.h"
#include "DeviceTables.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace {

using DSInfo = AppMainCntlrDSInfo::DSInfo;

DSInfo identity(std::optional<std::string> product, std::optional<kdf::Value> version,
                std::optional<kdf::Value> isAPDS = std::nullopt) {
    kdf::Dictionary d;
    if (product) d[kProductNameKey] = *product;
    if (version) d[kVersionMajorNumKey] = *version;
    if (isAPDS) d[kIsAPDSKey] = *isAPDS;
    return std::make_shared<const kdf::Dictionary>(std::move(d));
}

// The controller made for a test: the models get its answers; everything
// class-level is reset afterwards.
struct Controller : AppMainCntlrDSInfo {
    ~Controller() {
        setIsInitialized(false);
        setUpdateCurrentDSInfoHook(nullptr);
        setVisibleSettingWindowHook(nullptr);
        setCurrentDSInfo(nullptr);
        AppControllerServices::setCurrent(nullptr);
    }
};

class DSInfoTest : public ::testing::Test {
protected:
    modeltest::AppBundleFixture bundle;
    Controller controller;
};

TEST_F(DSInfoTest, NoIdentityGivesTheDefaults) {
    EXPECT_EQ(AppMainCntlrDSInfo::currentDSInfo(), nullptr);
    EXPECT_EQ(AppMainCntlrDSInfo::curDS_ProductName(), "DummyKey");
    EXPECT_EQ(AppMainCntlrDSInfo::curDS_Version(), 0);
    EXPECT_TRUE(AppMainCntlrDSInfo::curDS_IsAPDS());
    EXPECT_FALSE(AppMainCntlrDSInfo::curDS_Manufacturer());
    EXPECT_FALSE(AppMainCntlrDSInfo::curDS_ProductFamily());
    EXPECT_FALSE(AppMainCntlrDSInfo::curDS_DSFilePath());  // no older-driver row for "DummyKey"
    EXPECT_FALSE(AppMainCntlrDSInfo::curDS_QLRAppName());
    EXPECT_FALSE(AppMainCntlrDSInfo::isSupportedMultiDeviceBtns());
    EXPECT_TRUE(AppMainCntlrDSInfo::isSupportedScanSide());
}

TEST_F(DSInfoTest, ValuesOfTheWrongTypeCountAsAbsent) {
    kdf::Dictionary d;
    d[kProductNameKey] = 720;
    d[kManufacturerKey] = kdf::Bytes{'T'};
    d[kProductFamilyKey] = "Tavro KD-720 Driver";
    d[kVersionMajorNumKey] = "2";
    d[kIsAPDSKey] = "NO";
    AppMainCntlrDSInfo::setCurrentDSInfo(std::make_shared<const kdf::Dictionary>(d));
    EXPECT_EQ(AppMainCntlrDSInfo::curDS_ProductName(), "DummyKey");
    EXPECT_FALSE(AppMainCntlrDSInfo::curDS_Manufacturer());
    EXPECT_EQ(AppMainCntlrDSInfo::curDS_ProductFamily(), "Tavro KD-720 Driver");
    EXPECT_EQ(AppMainCntlrDSInfo::curDS_Version(), 0);
    EXPECT_TRUE(AppMainCntlrDSInfo::curDS_IsAPDS());

    // The version is read as unsigned 16-bit; a bool number counts for IsAPDS.
    AppMainCntlrDSInfo::setCurrentDSInfo(identity("X", kdf::Value(65538), kdf::Value(false)));
    EXPECT_EQ(AppMainCntlrDSInfo::curDS_Version(), 2);
    EXPECT_FALSE(AppMainCntlrDSInfo::curDS_IsAPDS());
    AppMainCntlrDSInfo::setCurrentDSInfo(identity("X", kdf::Value(-1)));
    EXPECT_EQ(AppMainCntlrDSInfo::curDS_Version(), 0xFFFF);
}

TEST_F(DSInfoTest, FeatureQueries) {
    struct Row {
        std::optional<std::string> current;  // product of the identity (none: no key)
        int version;
        std::optional<std::string> asked;    // none: the current product
        bool multiButtons, invisiblePanel, paperInserted, scanSide;
    };
    const Row rows[] = {
        {"Tavro KD-720 TWAIN", 1, std::nullopt, true, true, false, true},
        {"Tavro KD-720 TWAIN", 0, std::nullopt, true, true, false, true},
        {"Tavro KD-720 TWAIN", 2, std::nullopt, false, false, false, true},
        {"Tavro KD-810 TWAIN", 1, std::nullopt, true, true, false, true},
        {"Tavro KD-930 TWAIN", 1, std::nullopt, false, false, true, true},
        {"Tavro KD-931 TWAIN", 2, std::nullopt, false, false, false, true},
        {"Tavro KD-910 TWAIN", 0, std::nullopt, false, false, false, false},
        {"Tavro KD-911 TWAIN", 2, std::nullopt, false, false, false, true},
        {"Some Other TWAIN", 1, std::nullopt, false, false, false, true},
        {std::nullopt, 0, std::nullopt, false, false, false, true},
        // A name passed is compared, but the version is the current identity's.
        {"Some Other TWAIN", 1, "Tavro KD-930 TWAIN", false, false, true, true},
        {"Some Other TWAIN", 1, "Tavro KD-911 TWAIN", false, false, false, false},
        {"Tavro KD-910 TWAIN", 2, "Tavro KD-910 TWAIN", false, false, false, true},
        {"Tavro KD-720 TWAIN", 3, "Tavro KD-720 TWAIN", false, false, false, true},
        // Compared exactly.
        {"tavro kd-720 twain", 1, std::nullopt, false, false, false, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.current.value_or("(none)") + " v" + std::to_string(r.version) + " asked " +
                     r.asked.value_or("(current)"));
        AppMainCntlrDSInfo::setCurrentDSInfo(identity(r.current, kdf::Value(r.version)));
        EXPECT_EQ(AppMainCntlrDSInfo::isSupportedMultiDeviceBtns(r.asked), r.multiButtons);
        EXPECT_EQ(AppMainCntlrDSInfo::isInvisibleScanPanel(r.asked), r.invisiblePanel);
        EXPECT_EQ(AppMainCntlrDSInfo::isSupportedPaperInserted(r.asked), r.paperInserted);
        EXPECT_EQ(AppMainCntlrDSInfo::isSupportedScanSide(r.asked), r.scanSide);
        // The models ask the same through the registered services.
        EXPECT_EQ(AppControllerServices::isSupportedScanSide(r.asked), r.scanSide);
        EXPECT_EQ(AppControllerServices::isSupportedMultiDeviceBtns(r.asked), r.multiButtons);
    }
}

TEST_F(DSInfoTest, DataSourceFileInEitherFolder) {
    const std::string apDriver = (bundle.dir() / "ApDriver").string();
    const std::string twain = (bundle.home().root() / "twain-a").string();
    bundle.home().env().set("KD_TWAIN_DS_PATH", twain + ":" + (bundle.home().root() / "twain-b").string());
    EXPECT_EQ(AppMainCntlrDSInfo::pathOfApDriver(), apDriver);
    EXPECT_EQ(AppMainCntlrDSInfo::pathOfPlatformTwainFolder(), twain);

    struct Row {
        std::optional<std::string> product;
        int version;
        std::optional<bool> isAPDS;
        std::optional<std::string> path;
    };
    const OldDriverInfo* old = TV_OldDevice::indexOfOldDriverInfo(0);
    ASSERT_NE(old, nullptr);
    const Row rows[] = {
        {"Tavro KD-960 TWAIN", 2, false, twain + "/Tavro KD-960 TWAIN.ds"},
        {"Tavro KD-960 TWAIN", 2, true, apDriver + "/Tavro KD-960 TWAIN.ds"},
        {"Tavro KD-960 TWAIN", 2, std::nullopt, apDriver + "/Tavro KD-960 TWAIN.ds"},
        {old->productName, 1, false, twain + "/" + old->dsFileName},
        {old->productName, 0, true, apDriver + "/" + old->dsFileName},
        {"Not In The Table", 1, false, std::nullopt},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.product.value_or("(none)"));
        AppMainCntlrDSInfo::setCurrentDSInfo(
            identity(r.product, kdf::Value(r.version), r.isAPDS ? std::optional<kdf::Value>(*r.isAPDS) : std::nullopt));
        EXPECT_EQ(AppMainCntlrDSInfo::curDS_DSFilePath(), r.path);
    }

    // Without KD_TWAIN_DS_PATH the platform folder is the standard one.
    bundle.home().env().set("KD_TWAIN_DS_PATH", std::nullopt);
    AppMainCntlrDSInfo::setCurrentDSInfo(identity("N", kdf::Value(2), kdf::Value(false)));
    EXPECT_EQ(AppMainCntlrDSInfo::curDS_DSFilePath(), "/usr/local/lib/twain/N.ds");
}

TEST_F(DSInfoTest, ApplicationNameByVersion) {
    AppMainCntlrDSInfo::setCurrentDSInfo(identity("Tavro KD-960 TWAIN", kdf::Value(2)));
    EXPECT_EQ(AppMainCntlrDSInfo::curDS_QLRAppName(), "Quillora.app");
    const OldDriverInfo* old = TV_OldDevice::indexOfOldDriverInfo(0);
    ASSERT_NE(old, nullptr);
    AppMainCntlrDSInfo::setCurrentDSInfo(identity(old->productName, kdf::Value(1)));
    EXPECT_EQ(AppMainCntlrDSInfo::curDS_QLRAppName(), old->oldAppName);
    AppMainCntlrDSInfo::setCurrentDSInfo(identity("Not In The Table", kdf::Value(1)));
    EXPECT_FALSE(AppMainCntlrDSInfo::curDS_QLRAppName());
}

TEST_F(DSInfoTest, UpdateHookRunsOnceInitializedAlsoForTheSameObject) {
    int updates = 0;
    AppMainCntlrDSInfo::setUpdateCurrentDSInfoHook([&] {
        ++updates;
        // The hook sees the new identity.
        EXPECT_EQ(AppMainCntlrDSInfo::curDS_ProductName(), "Tavro KD-720 TWAIN");
    });
    const DSInfo info = identity("Tavro KD-720 TWAIN", kdf::Value(2));
    AppMainCntlrDSInfo::setCurrentDSInfo(info);
    EXPECT_EQ(updates, 0);  // before the end of start-up
    EXPECT_EQ(AppMainCntlrDSInfo::currentDSInfo(), info);
    AppMainCntlrDSInfo::setIsInitialized(true);
    AppMainCntlrDSInfo::setCurrentDSInfo(info);
    EXPECT_EQ(updates, 1);
    AppMainCntlrDSInfo::setCurrentDSInfo(identity("Tavro KD-720 TWAIN", kdf::Value(1)));
    EXPECT_EQ(updates, 2);
    EXPECT_EQ(AppMainCntlrDSInfo::curDS_Version(), 1);
}

TEST_F(DSInfoTest, ModelsSeeTheChosenScanner) {
    EXPECT_EQ(curDeviceType(), kOtherDeviceType);
    AppMainCntlrDSInfo::setCurrentDSInfo(identity("Tavro KD-720 TWAIN", kdf::Value(2), kdf::Value(false)));
    EXPECT_EQ(AppControllerServices::curDS_ProductName(), "Tavro KD-720 TWAIN");
    EXPECT_EQ(curDeviceType(), deviceTypeOfProduct("Tavro KD-720 TWAIN"));
    EXPECT_NE(curDeviceType(), kOtherDeviceType);
    EXPECT_FALSE(AppControllerServices::curDS_IsAPDS());
    for (const CapSupportRow& row : capSupportTable())
        EXPECT_EQ(AppControllerServices::isSupportedCAPOnDevice(row.cap),
                  isSupportedCAPOnDeviceType(row.cap, curDeviceType(), false))
            << row.cap;

    EXPECT_FALSE(AppControllerServices::isVisibleSettingWindow());
    AppMainCntlrDSInfo::setVisibleSettingWindowHook([] { return true; });
    EXPECT_TRUE(AppControllerServices::isVisibleSettingWindow());
}

TEST_F(DSInfoTest, ReadersOnOtherThreadsSeeWholeIdentities) {
    const DSInfo a = identity("Tavro KD-720 TWAIN", kdf::Value(2), kdf::Value(false));
    const DSInfo b = identity("Tavro KD-910 TWAIN", kdf::Value(1), kdf::Value(true));
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 2; ++i) {
        readers.emplace_back([&] {
            while (!stop.load()) {
                const DSInfo info = AppMainCntlrDSInfo::currentDSInfo();
                if (info && info != a && info != b) ++torn;
                (void)AppMainCntlrDSInfo::curDS_ProductName();
            }
        });
    }
    for (int i = 0; i < 2000; ++i) AppMainCntlrDSInfo::setCurrentDSInfo(i % 2 ? a : b);
    stop = true;
    for (auto& t : readers) t.join();
    EXPECT_EQ(torn.load(), 0);
}

} // namespace
