#include "AppControllerServices.h"

#include "DeviceTables.h"

#include <mutex>

AppControllerServices::~AppControllerServices() = default;

namespace {

std::mutex sServicesLock;
std::shared_ptr<const AppControllerServices> sServices;

} // namespace

namespace AppMainCntlr {

void setServices(std::shared_ptr<const AppControllerServices> services) {
    std::lock_guard lock(sServicesLock);
    sServices = std::move(services);
}

std::shared_ptr<const AppControllerServices> services() {
    std::lock_guard lock(sServicesLock);
    return sServices;
}

std::string curDS_ProductName() {
    auto s = services();
    return s ? s->curDS_ProductName() : std::string(kDummyProductName);
}

bool curDS_IsAPDS() {
    auto s = services();
    return s ? s->curDS_IsAPDS() : true;
}

bool isSupportedCAPOnDevice(std::uint16_t cap) {
    auto s = services();
    return s ? s->isSupportedCAPOnDevice(cap) : isSupportedCAP(cap);
}

bool isSupportedScanSide(const std::optional<std::string>& productName) {
    auto s = services();
    return s ? s->isSupportedScanSide(productName) : true;
}

bool isVisibleSettingWindow() {
    auto s = services();
    return s && s->isVisibleSettingWindow();
}

} // namespace AppMainCntlr
