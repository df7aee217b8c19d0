#include "AppMainCntlrDSInfo.h"

#include "AppControllerServices.h"
#include "DeviceTables.h"
#include "source_search.h"

#include <foundation/Bundle.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <span>
#include <string_view>

namespace {

std::mutex sLock;
AppMainCntlrDSInfo::DSInfo sInfo;
std::function<void()> sUpdateHook;
std::function<bool()> sVisibleSettingWindowHook;
std::atomic<bool> sIsInitialized{false};

const kdf::Value* valueOf(const AppMainCntlrDSInfo::DSInfo& info, std::string_view key) {
    return info ? kdf::find(*info, key) : nullptr;
}

std::optional<std::string> stringOf(const AppMainCntlrDSInfo::DSInfo& info, std::string_view key) {
    const kdf::Value* v = valueOf(info, key);
    const std::string* s = v ? v->string() : nullptr;
    return s ? std::optional<std::string>(*s) : std::nullopt;
}

bool isAPDSOf(const AppMainCntlrDSInfo::DSInfo& info) {
    const kdf::Value* v = valueOf(info, kIsAPDSKey);
    return v ? v->toBool().value_or(true) : true;
}

std::uint16_t versionOf(const AppMainCntlrDSInfo::DSInfo& info) {
    const kdf::Value* v = valueOf(info, kVersionMajorNumKey);
    const std::optional<std::int64_t> n = v ? v->toInteger() : std::nullopt;
    return n ? static_cast<std::uint16_t>(static_cast<std::uint64_t>(*n) & 0xFFFFu) : 0;
}

std::string productNameOf(const AppMainCntlrDSInfo::DSInfo& info) {
    return stringOf(info, kProductNameKey).value_or(kDummyProductName);
}

std::optional<std::string> mainBundlePath() {
    const auto bundle = kdf::Bundle::main();
    if (!bundle || bundle->path().empty()) return std::nullopt;
    return bundle->path();
}

// The older per-model data sources whose feature is listed by name.
using Names = std::span<const std::string_view>;

bool isListed(std::string_view name, Names names) {
    for (std::string_view n : names)
        if (n == name) return true;
    return false;
}

constexpr std::string_view kButtonModels[] = {"Tavro KD-810 TWAIN", "Tavro KD-820 TWAIN", "Tavro KD-730 TWAIN",
                                              "Tavro KD-720 TWAIN"};
constexpr std::string_view kPaperInsertedModels[] = {"Tavro KD-930 TWAIN", "Tavro KD-931 TWAIN"};
constexpr std::string_view kOneSideModels[] = {"Tavro KD-910 TWAIN", "Tavro KD-911 TWAIN"};

// The version of the current identity decides; the name is compared only for
// older data sources.
bool featureQuery(const std::optional<std::string>& productName, bool newerAnswer, Names names, bool listedAnswer) {
    const AppMainCntlrDSInfo::DSInfo info = AppMainCntlrDSInfo::currentDSInfo();
    if (versionOf(info) >= 2) return newerAnswer;
    const std::string name = productName ? *productName : productNameOf(info);
    return isListed(name, names) ? listedAnswer : !listedAnswer;
}

class Services final : public AppControllerServices {
protected:
    std::string dsProductName() const override { return AppMainCntlrDSInfo::curDS_ProductName(); }
    bool dsIsAPDS() const override { return AppMainCntlrDSInfo::curDS_IsAPDS(); }
    bool supportsCAPOnDevice(std::uint16_t cap) const override { return isSupportedCAP(cap); }
    bool supportsScanSide(const std::optional<std::string>& productName) const override {
        return AppMainCntlrDSInfo::isSupportedScanSide(productName);
    }
    bool supportsMultiDeviceBtns(const std::optional<std::string>& productName) const override {
        return AppMainCntlrDSInfo::isSupportedMultiDeviceBtns(productName);
    }
    bool settingWindowVisible() const override {
        std::function<bool()> hook;
        {
            std::lock_guard lock(sLock);
            hook = sVisibleSettingWindowHook;
        }
        return hook && hook();
    }
};

} // namespace

void AppMainCntlrDSInfo::setCurrentDSInfo(DSInfo info) {
    std::function<void()> hook;
    {
        std::lock_guard lock(sLock);
        if (info != sInfo) sInfo = std::move(info);
        hook = sUpdateHook;
    }
    if (sIsInitialized.load() && hook) hook();
}

AppMainCntlrDSInfo::DSInfo AppMainCntlrDSInfo::currentDSInfo() {
    std::lock_guard lock(sLock);
    return sInfo;
}

bool AppMainCntlrDSInfo::curDS_IsAPDS() { return isAPDSOf(currentDSInfo()); }

std::uint16_t AppMainCntlrDSInfo::curDS_Version() { return versionOf(currentDSInfo()); }

std::optional<std::string> AppMainCntlrDSInfo::curDS_Manufacturer() {
    return stringOf(currentDSInfo(), kManufacturerKey);
}

std::optional<std::string> AppMainCntlrDSInfo::curDS_ProductFamily() {
    return stringOf(currentDSInfo(), kProductFamilyKey);
}

std::string AppMainCntlrDSInfo::curDS_ProductName() { return productNameOf(currentDSInfo()); }

std::optional<std::string> AppMainCntlrDSInfo::curDS_DSFilePath() {
    const DSInfo info = currentDSInfo();
    const std::optional<std::string> folder = isAPDSOf(info) ? pathOfApDriver() : pathOfPlatformTwainFolder();
    const std::string product = productNameOf(info);
    std::string file;
    if (versionOf(info) < 2) {
        const OldDriverInfo* row = TV_OldDevice::driverInfoFromDSProductName(product);
        if (!row || !row->dsFileName) return std::nullopt;
        file = row->dsFileName;
    } else {
        file = product + ".ds";
    }
    if (!folder || product.empty()) return std::nullopt;
    return (std::filesystem::path(*folder) / file).string();
}

std::optional<std::string> AppMainCntlrDSInfo::curDS_QLRAppName() {
    const DSInfo info = currentDSInfo();
    if (versionOf(info) >= 2) {
        const std::optional<std::string> bundle = mainBundlePath();
        if (!bundle) return std::nullopt;
        std::filesystem::path p(*bundle);
        if (!p.has_filename()) p = p.parent_path();
        return p.filename().string();
    }
    const OldDriverInfo* row = TV_OldDevice::driverInfoFromDSProductName(productNameOf(info));
    if (!row || !row->oldAppName) return std::nullopt;
    return std::string(row->oldAppName);
}

std::optional<std::string> AppMainCntlrDSInfo::pathOfApDriver() {
    const std::optional<std::string> bundle = mainBundlePath();
    if (!bundle) return std::nullopt;
    return (std::filesystem::path(*bundle) / kApDriverFolderName).string();
}

std::optional<std::string> AppMainCntlrDSInfo::pathOfPlatformTwainFolder() {
    const std::vector<std::string> folders = kd::twain::SourceFolders();
    if (folders.empty()) return std::nullopt;
    return folders.front();
}

bool AppMainCntlrDSInfo::isSupportedMultiDeviceBtns(const std::optional<std::string>& productName) {
    return featureQuery(productName, false, kButtonModels, true);
}

bool AppMainCntlrDSInfo::isInvisibleScanPanel(const std::optional<std::string>& productName) {
    return featureQuery(productName, false, kButtonModels, true);
}

bool AppMainCntlrDSInfo::isSupportedPaperInserted(const std::optional<std::string>& productName) {
    return featureQuery(productName, false, kPaperInsertedModels, true);
}

bool AppMainCntlrDSInfo::isSupportedScanSide(const std::optional<std::string>& productName) {
    return featureQuery(productName, true, kOneSideModels, false);
}

bool AppMainCntlrDSInfo::isSupportedCAPOnDevice(std::uint16_t cap) { return isSupportedCAP(cap); }

void AppMainCntlrDSInfo::setIsInitialized(bool initialized) { sIsInitialized.store(initialized); }

bool AppMainCntlrDSInfo::isInitialized() { return sIsInitialized.load(); }

void AppMainCntlrDSInfo::setUpdateCurrentDSInfoHook(std::function<void()> hook) {
    std::lock_guard lock(sLock);
    sUpdateHook = std::move(hook);
}

void AppMainCntlrDSInfo::setVisibleSettingWindowHook(std::function<bool()> hook) {
    std::lock_guard lock(sLock);
    sVisibleSettingWindowHook = std::move(hook);
}

void AppMainCntlrDSInfo::registerServices() { AppControllerServices::setCurrent(std::make_shared<Services>()); }
