// The settings checker of a kit build. The Google Drive build recognises the
// older form of its entry under "Plugins", converts it (finding each
// destination folder again by name in the sync folder) and recognises the
// destinations it could not convert; in the other builds it is inert.
#pragma once

#include <foundation/Value.h>

#include <optional>
#include <string>

namespace kdkit {

// The settings error: domain, code and the two messages.
struct PluginError {
    std::string domain;
    int code = 0;
    kdf::Dictionary userInfo;
};

inline constexpr const char* kSettingsErrorDomain = "com.tavrolek.SvPlugins.TvSvPluginsErrorDomain";
inline constexpr const char* kErrorMessageSummaryKey = "TvSvPluginErrorMessageSummary";
inline constexpr const char* kErrorMessageFullKey = "TvSvPluginErrorMessageFull";

namespace TvSvPluginError {
// The error of a destination that must be chosen again (old folder name).
PluginError needToResetDestination(const std::string& oldFolderName);
} // namespace TvSvPluginError

namespace SettingChecker {

// Keys of the older and the current user dictionaries of the Google Drive
// build, and the parts of the marker stored for an unconverted folder.
inline constexpr const char* kOldUserIDKey = "GoogleDocUser.ID";
inline constexpr const char* kOldTargetNameKey = "GoogleDocUser.TargetCollectionName";
inline constexpr const char* kNewUserIDKey = "GoogleDocsUser.ID";
inline constexpr const char* kNewSyncPathKey = "GoogleDocsUser.SyncPath";
inline constexpr const char* kMarkerHead = "VersionUpError";
inline constexpr const char* kMarkerReason = "CloudNotSpecify";

// "VersionUpError:CloudNotSpecify:<name>".
std::string markerForFolderName(const std::string& name);

// The older form is a bare array of users.
bool isOldSettings(const std::optional<kdf::Value>& entry);
// {"UserList": [...]}; none for none (and in the inert builds).
std::optional<kdf::Value> convertToNewSettings(const std::optional<kdf::Value>& entry);
// False, with the error when asked, for a marker; true for anything else
// but none.
bool isValidDestination(const std::optional<std::string>& destination, std::optional<PluginError>* error);
std::optional<std::string> getSummaryMessageWithError(const std::optional<PluginError>& error);
std::optional<std::string> getFullMessageWithError(const std::optional<PluginError>& error);

} // namespace SettingChecker
} // namespace kdkit
