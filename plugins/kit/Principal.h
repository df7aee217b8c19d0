// The principal class of the kit builds: the plug-in's list of users (one
// settings dictionary per destination the application created) behind the
// plug-in interface. Each call that concerns one user makes a short-lived
// destination controller on that user's dictionary.
#pragma once

#include "PluginKit.h"

#include <plugin/TvQLRPlugin.h>

#include <vector>

namespace kdkit {

class Principal final : public TvQLRPlugin2 {
public:
    Principal();
    ~Principal() override;

    std::optional<std::string> getName() noexcept override;
    std::optional<std::string> getTitle() noexcept override;
    std::optional<std::string> getDescription() noexcept override;
    std::optional<std::string> getVersion() noexcept override;
    std::optional<std::string> getIcon() noexcept override;
    bool getShowSettingButton() noexcept override;
    bool getShowCommonSettingButton() noexcept override;
    bool getIsExecutable() noexcept override;
    TvSvPluginResultCode connect() noexcept override;
    TvSvPluginResultCode disconnect() noexcept override;
    TvSvPluginResultCode createID(std::optional<std::string>* newID) noexcept override;
    TvSvPluginResultCode deleteID(const std::optional<std::string>& userID) noexcept override;
    TvSvPluginResultCode copyID(const std::optional<std::string>& sourceID,
                                std::optional<std::string>* newID) noexcept override;
    TvSvPluginResultCode showSettingWithID(const std::optional<std::string>& userID,
                                           QWidget* parentWindow) noexcept override;
    TvSvPluginResultCode showCommonSettingWithParentWindow(QWidget* parentWindow) noexcept override;
    TvSvPluginResultCode isSupportedFileType(const std::optional<std::string>& fileType,
                                             bool* enabled) noexcept override;
    TvSvPluginResultCode executeOperationWithID(const std::optional<std::string>& userID,
                                                const std::optional<std::vector<std::string>>& fileList,
                                                bool fileDelete, QWidget* parentWindow) noexcept override;

    bool getShowSettingSummary() noexcept override;
    bool getShowFileNameSetting() noexcept override;
    bool getShowFileTypeSetting() noexcept override;
    TvSvPluginResultCode showSettingSummaryWithID(const std::optional<std::string>& userID,
                                                  std::optional<std::string>* summary) noexcept override;
    int importSettingFromFolder(const std::optional<std::string>& folder) noexcept override;
    int exportSettingToFolder(const std::optional<std::string>& folder) noexcept override;
    TvSvPluginResultCode isSupportLinkButton(const std::optional<std::string>& userID,
                                             bool* enabled) noexcept override;
    TvSvPluginResultCode copyLinkLable(const std::optional<std::string>& userID,
                                       std::optional<std::string>* label) noexcept override;
    TvSvPluginResultCode clickedLinkLabel(const std::optional<std::string>& userID) noexcept override;

private:
    // The user with the ID; throws "NotFoundIDException" when none has it.
    std::size_t findUser(const std::optional<std::string>& userID) const;
    std::unique_ptr<DestinationController> makeController(const UserRef& user) const;

    // Shared with the controller of a running call, so a list change made
    // meanwhile never frees the dictionary it edits.
    std::vector<UserRef> mUserList;
    bool mShowRenameWindow = true;
};

} // namespace kdkit
