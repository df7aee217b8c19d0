// What the models ask the application controller about the current data
// source. The controller implements the interface and registers it at
// start-up; until then (and in tools) the answers are those of a session
// with no data source chosen.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class AppControllerServices {
public:
    virtual ~AppControllerServices();
    // TWAIN product name of the current data source; "DummyKey" when none.
    virtual std::string curDS_ProductName() const = 0;
    // The current data source is the AirPrint-class one (YES when unknown).
    virtual bool curDS_IsAPDS() const = 0;
    virtual bool isSupportedCAPOnDevice(std::uint16_t cap) const = 0;
    // Does the product (none: the current data source) offer a choice of
    // scan side?
    virtual bool isSupportedScanSide(const std::optional<std::string>& productName) const = 0;
    virtual bool isVisibleSettingWindow() const = 0;
};

// The product name used while no data source is chosen.
inline constexpr const char* kDummyProductName = "DummyKey";

namespace AppMainCntlr {

// Registers the controller's answers; null goes back to the defaults.
void setServices(std::shared_ptr<const AppControllerServices> services);
std::shared_ptr<const AppControllerServices> services();

std::string curDS_ProductName();
bool curDS_IsAPDS();
bool isSupportedCAPOnDevice(std::uint16_t cap);
bool isSupportedScanSide(const std::optional<std::string>& productName = std::nullopt);
bool isVisibleSettingWindow();

} // namespace AppMainCntlr
