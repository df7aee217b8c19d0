// The link with the companion device-button application: the events it
// sends become method calls on the session bus, served by the application;
// the application's two requests become calls to the companion.
//
// The application serves the interface <base>.thKD at the path of the base
// identifier; the companion, whose identifier is the base plus ".KdCompanion",
// serves <its identifier>.evQL at its own path. Names follow
// kdf::busNameForIdentifier and its siblings.
#pragma once

#include <foundation/Value.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

class AppMainCntlr;

namespace companion_link {

// The bundle identifier every program of this product uses on the bus.
inline constexpr const char* kBaseIdentifier = "com.tavrolek.Quillora";

// Events the companion sends to the application.
inline constexpr const char* kAppEventClass = "thKD";
inline constexpr const char* kConnectEvent = "Cnct";
inline constexpr const char* kDataEvent = "Data";
inline constexpr const char* kActiveWindowEvent = "actW";
inline constexpr const char* kVersionEvent = "verI";
inline constexpr const char* kSelectDSEvent = "SeDS";
// Events the application sends to the companion.
inline constexpr const char* kCompanionEventClass = "evQL";
inline constexpr const char* kCheckStartEvent = "CkSt";
inline constexpr const char* kTimerEvent = "Timr";

// The answer to the start-up check.
inline constexpr const char* kLaunchTypeKey = "QLRCom_LaunchType";
inline constexpr const char* kDataForScanKey = "QLRCom_DataForScan";
// The status record, in the user defaults and the preferences file.
inline constexpr const char* kAppSettingKey = "KD_AppSetting";
inline constexpr const char* kIsInitializedKey = "KD_IsInitialized";
inline constexpr const char* kIsModalKey = "KD_IsModal";
inline constexpr const char* kAppStateKey = "KD_AppState";
inline constexpr const char* kIsResidingKey = "KD_IsResiding";
inline constexpr const char* kStartAppPlugInScnKey = "KD_StartAppPlugInScn";

// Launch types of the start-up answer.
inline constexpr int kLaunchTypeNormal = 0;
inline constexpr int kLaunchTypeByButton = 2;

// How long the start-up check waits for the companion's answer, and how
// long a launched companion may take to appear on the bus.
inline constexpr std::chrono::milliseconds kCheckStartTimeout{3000};
inline constexpr std::chrono::milliseconds kLaunchTimeout{5000};
// Property-list bytes above this size are refused undecoded.
inline constexpr std::size_t kMaxPropertyListBytes = 64 * 1024;
// The scan view's scan-again button.
inline constexpr int kScanAgainControlTag = 4040;

std::string appBusName();
std::string appInterface();
std::string appPath();
std::string companionIdentifier();
std::string companionBusName();
std::string companionInterface();
std::string companionPath();

// The companion's start-up answer as the application takes it: none when
// the bytes are too many, no property list or no dictionary. The statuses
// start at 0; data for scan fills the connect status (launch type 0) or the
// button status (2). The identity holds the five keys present with values of
// their kind; absent ones take the identity readers' defaults.
struct StartAnswer {
    std::int32_t launchType = 0;
    std::int32_t connectStatus = 0;
    std::uint32_t btnStatus = 0;
    kdf::Dictionary identity;
};
std::optional<StartAnswer> decodeStartAnswer(const std::uint8_t* data, std::size_t size);
// Property-list bytes from the companion as a dictionary; none when too
// large, undecodable or no dictionary.
std::optional<kdf::Dictionary> decodeCompanionDictionary(const std::uint8_t* data, std::size_t size);

// Serves the application's interface for the controller on the session bus
// (handlers on the main thread). Made by setAppleEvent.
class Server;

} // namespace companion_link
