#include "Principal.h"

#include "SettingChecker.h"

#include <foundation/Exception.h>
#include <foundation/Format.h>
#include <foundation/UserDefaults.h>
#include <foundation/Uuid.h>

#include <algorithm>

namespace kdkit {
namespace {

constexpr const char* kNotFoundIDException = "NotFoundIDException";
constexpr const char* kFailCreateException = "FailCreateException";
constexpr const char* kFailExecuteOperationException = "FailExecuteOperationException";
constexpr const char* kFailControllerException = "FailCreateControllerException";
constexpr const char* kUserListKey = "UserList";
constexpr const char* kShowRenameWindowKey = "ShowRenameWindow";

// Runs the body; a missing user gives kTvSvPluginNotFoundID, anything else
// thrown the method's own code. Nothing unwinds out of a plug-in.
template <class Body>
TvSvPluginResultCode guarded(TvSvPluginResultCode failure, Body&& body) noexcept {
    try {
        return body();
    } catch (const kdf::Exception& e) {
        return e.name() == kNotFoundIDException ? kTvSvPluginNotFoundID : failure;
    } catch (...) {
        return failure;
    }
}

std::optional<std::string> infoString(const char* key) {
    auto bundle = pluginBundle();
    if (!bundle) return std::nullopt;
    const kdf::Value* value = bundle->objectForInfoKey(key);
    if (!value || !value->string()) return std::nullopt;
    return *value->string();
}

std::optional<std::string> localizedOrNone(const char* key) noexcept {
    try {
        return localized(key);
    } catch (...) {
        return std::nullopt;
    }
}

const std::string* userIDOf(const kdf::Dictionary& user) {
    const kdf::Value* id = kdf::find(user, buildConstants().userIDKey);
    return id ? id->string() : nullptr;
}

} // namespace

Principal::Principal() = default;
Principal::~Principal() = default;

std::size_t Principal::findUser(const std::optional<std::string>& userID) const {
    if (userID) {
        for (std::size_t i = 0; i < mUserList.size(); ++i) {
            const std::string* id = userIDOf(*mUserList[i]);
            if (id && *id == *userID) return i;
        }
    }
    throw kdf::Exception(kNotFoundIDException);
}

std::unique_ptr<DestinationController> Principal::makeController(const UserRef& user) const {
    const DestinationClass& destination = destinationClass();
    std::unique_ptr<DestinationController> controller = destination.create ? destination.create(user) : nullptr;
    // A window that cannot be made is a failure, never a silent success.
    if (!controller) throw kdf::Exception(kFailControllerException);
    return controller;
}

std::optional<std::string> Principal::getName() noexcept { return localizedOrNone("Plugin_Name"); }
std::optional<std::string> Principal::getTitle() noexcept { return localizedOrNone("Plugin_Title"); }
std::optional<std::string> Principal::getDescription() noexcept { return localizedOrNone("Plugin_Description"); }

std::optional<std::string> Principal::getVersion() noexcept {
    try {
        return infoString("CFBundleShortVersionString");
    } catch (...) {
        return std::nullopt;
    }
}

std::optional<std::string> Principal::getIcon() noexcept {
    try {
        auto bundle = pluginBundle();
        const std::optional<std::string> icon = infoString("CFBundleIconFile");
        if (!bundle || !icon || icon->empty()) return std::nullopt;
        std::string path = bundle->pathForResource(*icon, "");
        if (path.empty()) return std::nullopt;
        return path;
    } catch (...) {
        return std::nullopt;
    }
}

bool Principal::getShowSettingButton() noexcept { return true; }
bool Principal::getShowCommonSettingButton() noexcept { return destinationClass().isShowCommonSettingButton; }
bool Principal::getIsExecutable() noexcept { return true; }
bool Principal::getShowSettingSummary() noexcept { return destinationClass().isShowSettingSummary; }
bool Principal::getShowFileNameSetting() noexcept { return destinationClass().isShowFileNameSetting; }
bool Principal::getShowFileTypeSetting() noexcept { return destinationClass().isShowFileTypeSetting; }

TvSvPluginResultCode Principal::connect() noexcept {
    mUserList.clear();
    return guarded(kTvSvPluginFailConnect, [&] {
        std::optional<kdf::Value> entry;
        if (std::optional<kdf::Value> plugins = kdf::UserDefaults::standard().object(kTvPluginsDefaultsKey))
            if (const kdf::Dictionary* all = plugins->dictionary())
                if (const kdf::Value* found = kdf::find(*all, buildConstants().pluginKey)) entry = *found;
        // The converted form is stored by the next disconnect.
        if (SettingChecker::isOldSettings(entry)) entry = SettingChecker::convertToNewSettings(entry);
        const kdf::Dictionary* settings = entry ? entry->dictionary() : nullptr;
        if (!settings) return kTvSvPluginSuccess;
        std::vector<UserRef> users;
        if (const kdf::Value* list = kdf::find(*settings, kUserListKey))
            if (const kdf::Array* array = list->array())
                for (const kdf::Value& element : *array)
                    // Only users that can be addressed by their ID.
                    if (const kdf::Dictionary* user = element.dictionary(); user && userIDOf(*user))
                        users.push_back(std::make_shared<kdf::Dictionary>(*user));
        if (destinationClass().isRenameWindow)
            if (const kdf::Value* flag = kdf::find(*settings, kShowRenameWindowKey))
                if (std::optional<bool> value = flag->toBool()) mShowRenameWindow = *value;
        mUserList = std::move(users);
        return kTvSvPluginSuccess;
    });
}

TvSvPluginResultCode Principal::disconnect() noexcept {
    return guarded(kTvSvPluginFailDisconnect, [&] {
        kdf::UserDefaults& defaults = kdf::UserDefaults::standard();
        kdf::Dictionary all;
        if (std::optional<kdf::Value> plugins = defaults.object(kTvPluginsDefaultsKey))
            if (const kdf::Dictionary* current = plugins->dictionary()) all = *current;
        kdf::Array users;
        users.reserve(mUserList.size());
        for (const UserRef& user : mUserList) users.emplace_back(*user);
        kdf::Dictionary entry;
        entry[kUserListKey] = kdf::Value(std::move(users));
        if (destinationClass().isRenameWindow) entry[kShowRenameWindowKey] = mShowRenameWindow;
        all[buildConstants().pluginKey] = kdf::Value(std::move(entry));
        if (!defaults.set(kTvPluginsDefaultsKey, kdf::Value(std::move(all)))) return kTvSvPluginFailDisconnect;
        defaults.synchronize();
        return kTvSvPluginSuccess;
    });
}

TvSvPluginResultCode Principal::createID(std::optional<std::string>* newID) noexcept {
    const TvSvPluginResultCode code = guarded(kTvSvPluginFailCreateID, [&] {
        const std::string id = kdf::newUuidString();
        if (id.empty()) throw kdf::Exception(kFailCreateException);
        auto user = std::make_shared<kdf::Dictionary>();
        (*user)[buildConstants().userIDKey] = id;
        if (auto setup = destinationClass().setupData) setup(*user);
        // setupData may not take the ID away.
        (*user)[buildConstants().userIDKey] = id;
        mUserList.push_back(std::move(user));
        if (newID) *newID = id;
        return kTvSvPluginSuccess;
    });
    // No user ID ever reaches the caller of a failed creation.
    if (code != kTvSvPluginSuccess && newID) newID->reset();
    return code;
}

TvSvPluginResultCode Principal::deleteID(const std::optional<std::string>& userID) noexcept {
    return guarded(kTvSvPluginFailDeleteID, [&] {
        mUserList.erase(mUserList.begin() + std::ptrdiff_t(findUser(userID)));
        return kTvSvPluginSuccess;
    });
}

TvSvPluginResultCode Principal::copyID(const std::optional<std::string>& sourceID,
                                       std::optional<std::string>* newID) noexcept {
    const TvSvPluginResultCode code = guarded(kTvSvPluginFailCopyID, [&] {
        const std::string id = kdf::newUuidString();
        if (id.empty()) throw kdf::Exception(kFailCreateException);
        auto copy = std::make_shared<kdf::Dictionary>(*mUserList[findUser(sourceID)]);
        (*copy)[buildConstants().userIDKey] = id;
        mUserList.push_back(std::move(copy));
        if (newID) *newID = id;
        return kTvSvPluginSuccess;
    });
    if (code != kTvSvPluginSuccess && newID) newID->reset();
    return code;
}

TvSvPluginResultCode Principal::showSettingWithID(const std::optional<std::string>& userID,
                                                  QWidget* parentWindow) noexcept {
    return guarded(kTvSvPluginFailShowSetting, [&] {
        const UserRef user = mUserList[findUser(userID)];
        std::unique_ptr<DestinationController> controller = makeController(user);
        controller->runModal(parentWindow, true);
        return kTvSvPluginSuccess;
    });
}

TvSvPluginResultCode Principal::showCommonSettingWithParentWindow(QWidget* parentWindow) noexcept {
    guarded(kTvSvPluginSuccess, [&] {
        std::unique_ptr<DestinationController> controller = makeController(nullptr);
        controller->setRenameWindowState(mShowRenameWindow);
        if (controller->runModalPrefs(parentWindow) != 0) mShowRenameWindow = controller->getRenameWindowState();
        return kTvSvPluginSuccess;
    });
    return kTvSvPluginSuccess;
}

TvSvPluginResultCode Principal::isSupportedFileType(const std::optional<std::string>& fileType,
                                                    bool* enabled) noexcept {
    bool supported = false;
    if (fileType) {
        const std::vector<std::string>& types = destinationClass().supportedFileTypeList;
        supported = std::find(types.begin(), types.end(), *fileType) != types.end();
    }
    if (enabled) *enabled = supported;
    return kTvSvPluginSuccess;
}

TvSvPluginResultCode Principal::executeOperationWithID(const std::optional<std::string>& userID,
                                                       const std::optional<std::vector<std::string>>& fileList,
                                                       bool fileDelete, QWidget* parentWindow) noexcept {
    return guarded(kTvSvPluginFailExecuteOperation, [&] {
        if (!userID || !fileList || fileList->empty() || !parentWindow)
            throw kdf::Exception(kFailExecuteOperationException);
        const UserRef user = mUserList[findUser(userID)];
        std::unique_ptr<DestinationController> controller = makeController(user);
        controller->setRenameWindowState(mShowRenameWindow);
        const TvSvPluginResultCode code = controller->executeOperation(*fileList, fileDelete, parentWindow);
        // The rename window may have changed it.
        mShowRenameWindow = controller->getRenameWindowState();
        return code;
    });
}

TvSvPluginResultCode Principal::showSettingSummaryWithID(const std::optional<std::string>& userID,
                                                         std::optional<std::string>* summary) noexcept {
    std::optional<std::string> text;
    const TvSvPluginResultCode code = guarded(kTvSvPluginFailSummary, [&] {
        const UserRef user = mUserList[findUser(userID)];
        std::unique_ptr<DestinationController> controller = makeController(user);
        const std::optional<std::string> destination = controller->summaryString();
        if (destination) {
            std::optional<PluginError> error;
            if (SettingChecker::isValidDestination(destination, &error))
                text = kdf::formatLocalized(localized("Plugin_SummaryFormat"), {*destination});
            else
                text = SettingChecker::getSummaryMessageWithError(error);
        }
        return kTvSvPluginSuccess;
    });
    if (summary) {
        try {
            *summary = text ? std::move(*text) : std::string();
        } catch (...) {
        }
    }
    return code;
}

int Principal::importSettingFromFolder(const std::optional<std::string>&) noexcept { return 1; }
int Principal::exportSettingToFolder(const std::optional<std::string>&) noexcept { return 1; }

TvSvPluginResultCode Principal::isSupportLinkButton(const std::optional<std::string>& userID,
                                                    bool* enabled) noexcept {
    bool supported = false;
    const TvSvPluginResultCode code = guarded(kTvSvPluginFailLinkButton, [&] {
        const UserRef user = mUserList[findUser(userID)];
        supported = makeController(user)->isSupportLinkButton();
        return kTvSvPluginSuccess;
    });
    if (enabled) *enabled = code == kTvSvPluginSuccess && supported;
    return code;
}

TvSvPluginResultCode Principal::copyLinkLable(const std::optional<std::string>& userID,
                                              std::optional<std::string>* label) noexcept {
    std::optional<std::string> text;
    const TvSvPluginResultCode code = guarded(kTvSvPluginFailLinkLabel, [&] {
        const UserRef user = mUserList[findUser(userID)];
        text = makeController(user)->linkLable();
        return kTvSvPluginSuccess;
    });
    if (label) {
        if (code == kTvSvPluginSuccess)
            label->swap(text);
        else
            label->reset();
    }
    return code;
}

TvSvPluginResultCode Principal::clickedLinkLabel(const std::optional<std::string>& userID) noexcept {
    return guarded(kTvSvPluginFailClickedLink, [&] {
        const UserRef user = mUserList[findUser(userID)];
        return makeController(user)->clickedLink();
    });
}

} // namespace kdkit
