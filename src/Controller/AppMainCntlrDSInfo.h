// The current data-source identity: which scanner's TWAIN data source the
// application works with (the companion device-button application names
// it), and what that model can do.
//
// The identity is one immutable dictionary, replaced whole and readable from
// any thread. The application controller (AppMainCntlr) inherits these class
// methods; the models reach them through AppControllerServices, which this
// class registers when the controller is made.
#pragma once

#include <foundation/Value.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

// Keys of the identity dictionary.
inline constexpr const char* kIsAPDSKey = "IsAPDS_Key";
inline constexpr const char* kVersionMajorNumKey = "Version_MajorNum_Key";
inline constexpr const char* kManufacturerKey = "Manufacturer_Key";
inline constexpr const char* kProductFamilyKey = "ProductFamily_Key";
inline constexpr const char* kProductNameKey = "ProductName_Key";
// The application's own data-source folder, directly in its bundle folder.
inline constexpr const char* kApDriverFolderName = "ApDriver";

class AppMainCntlrDSInfo {
public:
    using DSInfo = std::shared_ptr<const kdf::Dictionary>;

    // Stores the identity when it is another object than the stored one;
    // then, whenever isInitialized, runs the update hook (also for the same
    // object).
    static void setCurrentDSInfo(DSInfo info);
    static DSInfo currentDSInfo();

    // A value of the wrong type counts as absent.
    static bool curDS_IsAPDS();                              // YES when absent
    static std::uint16_t curDS_Version();                    // unsigned 16-bit; 0 when absent
    static std::optional<std::string> curDS_Manufacturer();  // none when absent
    static std::optional<std::string> curDS_ProductFamily(); // none when absent
    static std::string curDS_ProductName();                  // "DummyKey" when absent

    // The data-source bundle: in the application's own folder or in the
    // platform's TWAIN folder; for major versions below 2 the older-driver
    // table's file name, else the product name with the extension "ds".
    static std::optional<std::string> curDS_DSFilePath();
    // The application bundle that belongs to the data source.
    static std::optional<std::string> curDS_QLRAppName();
    // <application bundle>/ApDriver; none when the bundle has no path.
    static std::optional<std::string> pathOfApDriver();
    // The platform's TWAIN data-source folder: the first folder our source
    // manager searches.
    static std::optional<std::string> pathOfPlatformTwainFolder();

    // Feature queries: a data source of major version 2 or higher gets a
    // fixed answer, older ones are looked up by product name (none: the
    // current one).
    static bool isSupportedMultiDeviceBtns(const std::optional<std::string>& productName = std::nullopt);
    static bool isInvisibleScanPanel(const std::optional<std::string>& productName = std::nullopt);
    static bool isSupportedPaperInserted(const std::optional<std::string>& productName = std::nullopt);
    static bool isSupportedScanSide(const std::optional<std::string>& productName = std::nullopt);
    static bool isSupportedCAPOnDevice(std::uint16_t cap);

    // Set by start-up once the application has finished launching.
    static void setIsInitialized(bool initialized);
    static bool isInitialized();
    // The controller's hooks: adapting menus and panels to a new identity,
    // and whether the data source's settings window is up. Empty: nothing /
    // not visible.
    static void setUpdateCurrentDSInfoHook(std::function<void()> hook);
    static void setVisibleSettingWindowHook(std::function<bool()> hook);

    // Registers these answers for the models (AppControllerServices).
    static void registerServices();

protected:
    // The controller is made: the models get its answers.
    AppMainCntlrDSInfo() { registerServices(); }
};
