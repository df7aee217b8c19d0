#include "SettingChecker.h"

#include "PathUtil.h"
#include "PluginFunc.h"
#include "PluginKit.h"

#include <foundation/Format.h>

#include <vector>

namespace kdkit {

PluginError TvSvPluginError::needToResetDestination(const std::string& oldFolderName) {
    const std::string summary = kdf::formatLocalized(localized("Err_NeedToReset"), {localized("Destination")});
    const std::string before = kdf::formatLocalized(localized("Err_ValueBeforeVersionUp"), {oldFolderName});
    PluginError error;
    error.domain = kSettingsErrorDomain;
    error.code = 0;
    error.userInfo[kErrorMessageSummaryKey] = summary;
    error.userInfo[kErrorMessageFullKey] = summary + "\n\n" + before;
    return error;
}

namespace SettingChecker {
namespace {

bool migrates() { return buildConstants().migratesOldSettings; }

std::optional<std::string> messageOf(const std::optional<PluginError>& error, const char* key) {
    if (!migrates() || !error || error->domain != kSettingsErrorDomain) return std::nullopt;
    const kdf::Value* text = kdf::find(error->userInfo, key);
    if (!text || !text->string()) return std::nullopt;
    return *text->string();
}

} // namespace

std::string markerForFolderName(const std::string& name) {
    return std::string(kMarkerHead) + ":" + kMarkerReason + ":" + name;
}

bool isOldSettings(const std::optional<kdf::Value>& entry) {
    return migrates() && entry && entry->array();
}

std::optional<kdf::Value> convertToNewSettings(const std::optional<kdf::Value>& entry) {
    if (!migrates() || !entry) return std::nullopt;
    kdf::Array users;
    if (const kdf::Array* old = entry->array()) {
        const std::string root = PluginFunc::googleDriveFolder();
        for (const kdf::Value& element : *old) {
            const kdf::Dictionary* user = element.dictionary();
            if (!user) continue;
            const kdf::Value* id = kdf::find(*user, kOldUserIDKey);
            // A user without a string ID could never be addressed again.
            if (!id || !id->string()) continue;
            const kdf::Value* nameValue = kdf::find(*user, kOldTargetNameKey);
            const std::string name = nameValue && nameValue->string() ? *nameValue->string() : std::string();
            std::vector<std::string> found;
            if (!name.empty()) PathUtil::getSubFolderPath(name, root, 2, &found);
            kdf::Dictionary converted;
            converted[kNewUserIDKey] = *id->string();
            converted[kNewSyncPathKey] = found.size() == 1 ? found.front() : markerForFolderName(name);
            users.push_back(kdf::Value(std::move(converted)));
        }
    }
    kdf::Dictionary result;
    result["UserList"] = kdf::Value(std::move(users));
    return kdf::Value(std::move(result));
}

bool isValidDestination(const std::optional<std::string>& destination, std::optional<PluginError>* error) {
    if (!migrates()) return true;
    if (!destination) return false;
    const std::string& text = *destination;
    const std::size_t first = text.find(':');
    if (first == std::string::npos || text.compare(0, first, kMarkerHead) != 0) return true;
    const std::size_t second = text.find(':', first + 1);
    const std::string reason = text.substr(first + 1, second == std::string::npos ? std::string::npos
                                                                                    : second - first - 1);
    if (reason != kMarkerReason) return true;
    std::string name;
    if (second != std::string::npos) {
        const std::size_t third = text.find(':', second + 1);
        name = text.substr(second + 1, third == std::string::npos ? std::string::npos : third - second - 1);
    }
    if (error) *error = TvSvPluginError::needToResetDestination(name);
    return false;
}

std::optional<std::string> getSummaryMessageWithError(const std::optional<PluginError>& error) {
    return messageOf(error, kErrorMessageSummaryKey);
}

std::optional<std::string> getFullMessageWithError(const std::optional<PluginError>& error) {
    return messageOf(error, kErrorMessageFullKey);
}

} // namespace SettingChecker
} // namespace kdkit
