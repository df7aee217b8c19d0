// The open-in-application destination: written files are moved into a
// folder (Pictures, Documents, Desktop or one of the user's choice) and
// opened with the application the user chose (its desktop entry).
#pragma once

#include "KitController.h"

class QComboBox;
class QLineEdit;

namespace kdkit {

// Keys of the user's dictionary.
inline constexpr const char* kAppPathKey = "AppUser.AppPath";
inline constexpr const char* kSaveTypeKey = "AppUser.SvAppSaveType";
inline constexpr const char* kSavePathKey = "AppUser.SavePath";
inline constexpr const char* kAppWrittenPathKey = "AppUser.WrittenPath";

class AppDestination final : public KitController {
public:
    explicit AppDestination(UserRef user);
    ~AppDestination() override;

    int runModal(QWidget* parentWindow, bool isCheckInstall) override;
    std::optional<std::string> summaryString() override;
    std::int32_t executeOperation(const std::vector<std::string>& files, bool fileDelete,
                                  QWidget* parentWindow) override;
    bool isSupportLinkButton() override;
    std::optional<std::string> linkLable() override;
    std::int32_t clickedLink() override;

    QWidget* settingWindow() const { return settingWindow_.get(); }
    // The buttons' action: OK (306) checks the chosen folder first.
    void dialogDone(int senderTag);
    // The application panel (sender 302) or the folder panel (any other).
    int showOpenPanel(QWidget* parentWindow, int senderTag);
    void setUpSavePathPopUpButton();

    void checkAppPath() const;
    void fileSaveProcess(const std::vector<std::string>& files);
    void sendFilesToApp(const std::vector<std::string>& paths);

private:
    QLineEdit* appPathField() const;
    QComboBox* savePathPopUp() const;
    // The tag-3 item's folder.
    std::string chosenFolder() const;
    void setChosenFolder(const std::string& folder);

    std::unique_ptr<QWidget> settingWindow_;
};

} // namespace kdkit
