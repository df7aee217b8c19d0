#include "AppControllerServices.h"

#include "DeviceTables.h"

#include <mutex>

AppControllerServices::~AppControllerServices() = default;

namespace {

std::mutex sServicesLock;
std::shared_ptr<const AppControllerServices> sServices;

} // namespace

void AppControllerServices::setCurrent(std::shared_ptr<const AppControllerServices> services) {
    std::lock_guard lock(sServicesLock);
    sServices = std::move(services);
}

std::shared_ptr<const AppControllerServices> AppControllerServices::current() {
    std::lock_guard lock(sServicesLock);
    return sServices;
}

std::string AppControllerServices::curDS_ProductName() {
    auto s = current();
    return s ? s->dsProductName() : std::string(kDummyProductName);
}

bool AppControllerServices::curDS_IsAPDS() {
    auto s = current();
    return s ? s->dsIsAPDS() : true;
}

bool AppControllerServices::isSupportedCAPOnDevice(std::uint16_t cap) {
    auto s = current();
    return s ? s->supportsCAPOnDevice(cap) : isSupportedCAP(cap);
}

bool AppControllerServices::isSupportedScanSide(const std::optional<std::string>& productName) {
    auto s = current();
    return s ? s->supportsScanSide(productName) : true;
}

bool AppControllerServices::isVisibleSettingWindow() {
    auto s = current();
    return s && s->settingWindowVisible();
}

bool AppControllerServices::isSupportedMultiDeviceBtns(const std::optional<std::string>& productName) {
    auto s = current();
    return s && s->supportsMultiDeviceBtns(productName);
}
