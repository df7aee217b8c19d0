// The cloud sync-folder destination, built into the four cloud plug-ins:
// written files are copied into the local folder that the service's own
// desktop program watches and uploads. The keys of the user's dictionary
// carry the build's service word ("DropboxUser.SyncPath" and so on).
#pragma once

#include "KitController.h"

#include <thread>

namespace kdkit {

class CloudDestination final : public KitController {
public:
    explicit CloudDestination(UserRef user);
    ~CloudDestination() override;

    int runModal(QWidget* parentWindow, bool isCheckInstall) override;
    std::optional<std::string> summaryString() override;
    std::int32_t executeOperation(const std::vector<std::string>& files, bool fileDelete,
                                  QWidget* parentWindow) override;
    bool isSupportLinkButton() override;
    std::optional<std::string> linkLable() override;
    std::int32_t clickedLink() override;

    // The folder chooser, opened in the start folder: 1 confirmed, 0 not.
    int runModalSettings(const std::string& startFolder, QWidget* parentWindow);
    // True (after an alert) when the settings checker rejects the folder.
    bool warnOfDestination(const std::optional<std::string>& folder);

    // The build's keys.
    static std::string syncPathKey();
    static std::string writtenPathKey();

private:
    struct SendParameters {
        std::vector<std::string> unsent;
        bool deleteFiles = false;
        std::optional<std::string> syncFolder;
    };
    void startOperation(SendParameters parameters);
    void fileSaveProcess(const SendParameters& parameters);
    // One pass over the files not sent yet; false when the worker failed.
    bool sendPass(const std::vector<std::string>& files, bool fileDelete, QWidget* parentWindow);

    std::thread worker_;
};

} // namespace kdkit
