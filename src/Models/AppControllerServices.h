// What the models ask the application controller about the current data
// source. The controller implements the interface and registers it when it
// is made; until then (and in tools) the answers are those of a session
// with no data source chosen.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class AppControllerServices {
public:
    virtual ~AppControllerServices();

    // Registers the controller's answers; null goes back to the defaults.
    static void setCurrent(std::shared_ptr<const AppControllerServices> services);
    static std::shared_ptr<const AppControllerServices> current();

    // TWAIN product name of the current data source; "DummyKey" when none.
    static std::string curDS_ProductName();
    // The current data source lies in the application's own folder (YES
    // when unknown).
    static bool curDS_IsAPDS();
    static bool isSupportedCAPOnDevice(std::uint16_t cap);
    // Does the product (none: the current data source) offer a choice of
    // scan side?
    static bool isSupportedScanSide(const std::optional<std::string>& productName = std::nullopt);
    static bool isVisibleSettingWindow();
    // Does the product (none: the current data source) have several device
    // buttons? NO while no controller is registered.
    static bool isSupportedMultiDeviceBtns(const std::optional<std::string>& productName = std::nullopt);

protected:
    // The registered object's answers to the questions above.
    virtual std::string dsProductName() const = 0;
    virtual bool dsIsAPDS() const = 0;
    virtual bool supportsCAPOnDevice(std::uint16_t cap) const = 0;
    virtual bool supportsScanSide(const std::optional<std::string>& productName) const = 0;
    virtual bool settingWindowVisible() const = 0;
    virtual bool supportsMultiDeviceBtns(const std::optional<std::string>& /*productName*/) const {
        return false;
    }
};

// The product name used while no data source is chosen.
inline constexpr const char* kDummyProductName = "DummyKey";
