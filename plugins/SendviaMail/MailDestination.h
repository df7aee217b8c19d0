// The mail destination: the written files are handed to the user's mail
// program as attachments of a new message, after the question whether to
// go on when together they exceed the user's limit.
#pragma once

#include "KitController.h"

#include <thread>

class QCheckBox;
class QSpinBox;

namespace kdkit {

class PluginTextField;

inline constexpr const char* kShowMsgExceedsLimitKey = "AppUser.ShowMsgExceedsLimit";
inline constexpr const char* kLimitOfAttachmentKey = "AppUser.LimitOfAttachment";
inline constexpr long long kDefaultLimitOfAttachment = 5;

// 1 to 99: stored values outside (older or foreign settings) are clamped.
long long clampedLimit(long long limit);

class MailDestination final : public KitController {
public:
    explicit MailDestination(UserRef user);
    ~MailDestination() override;

    int runModal(QWidget* parentWindow, bool isCheckInstall) override;
    std::optional<std::string> summaryString() override;
    std::int32_t executeOperation(const std::vector<std::string>& files, bool fileDelete,
                                  QWidget* parentWindow) override;
    bool isSupportLinkButton() override { return false; }
    std::optional<std::string> linkLable() override { return std::nullopt; }
    std::int32_t clickedLink() override;
    int runModalPrefs(QWidget*) override { return 0; }
    void setRenameWindowState(bool) override {}
    bool getRenameWindowState() const override { return true; }

    QWidget* settingWindow() const { return settingWindow_.get(); }
    void dialogDone(int senderTag);
    // From the field (202) or the stepper (203): the value clamped to 1 to
    // 99 and written back to both.
    void changeSettings(QObject* sender);

    void checkAppPath() const;
    void sendFilesToApp(const std::vector<std::string>& paths);
    std::uint64_t totalFileSize() const { return mTotalFileSize.load(); }

private:
    struct SendParameters {
        std::vector<std::string> files;
        bool askAboveLimit = true;
        long long limit = kDefaultLimitOfAttachment;
    };
    void fileSaveProcess(const SendParameters& parameters);

    PluginTextField* limitField() const;
    QSpinBox* limitStepper() const;
    QCheckBox* showMsgCheck() const;

    std::unique_ptr<QWidget> settingWindow_;
    std::atomic<std::uint64_t> mTotalFileSize{0};
    int mReturnAlert_SizeExceedLimit = 0;
    std::thread worker_;
};

} // namespace kdkit
