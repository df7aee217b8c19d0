// The send-to plug-in interface: the one header the application and every
// plug-in share. A plug-in bundle's principal class derives from
// TvQLRPlugin2; the application creates it by class name
// (kdf::Bundle::principalClass().createAs<TvQLRPlugin2>()) and talks to it
// through these methods only, on the main thread.
//
// Every method is noexcept: a plug-in turns whatever goes wrong into its
// result code, so nothing unwinds into the application. Strings are UTF-8,
// "nil" is an empty optional, out values are pointers that may be null,
// windows are QWidget pointers (null for none).
#pragma once

#include <foundation/Object.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class QWidget;

// Result of every method with an integer result. The application tests only
// for non-zero; the plug-ins' settings and logs keep the exact values.
using TvSvPluginResultCode = std::int32_t;

inline constexpr TvSvPluginResultCode kTvSvPluginSuccess = 0;
// The user ID is not in the plug-in's list.
inline constexpr TvSvPluginResultCode kTvSvPluginNotFoundID = TvSvPluginResultCode(0x8FFC0200u);
inline constexpr TvSvPluginResultCode kTvSvPluginFailConnect = TvSvPluginResultCode(0x8FFC0201u);
inline constexpr TvSvPluginResultCode kTvSvPluginFailDisconnect = TvSvPluginResultCode(0x8FFC0202u);
inline constexpr TvSvPluginResultCode kTvSvPluginFailCreateID = TvSvPluginResultCode(0x8FFC0204u);
inline constexpr TvSvPluginResultCode kTvSvPluginFailDeleteID = TvSvPluginResultCode(0x8FFC0205u);
inline constexpr TvSvPluginResultCode kTvSvPluginFailCopyID = TvSvPluginResultCode(0x8FFC0206u);
// The settings window failed, or a send failed before the destination ran.
inline constexpr TvSvPluginResultCode kTvSvPluginFailShowSetting = TvSvPluginResultCode(0x8FFC0207u);
inline constexpr TvSvPluginResultCode kTvSvPluginFailExecuteOperation = TvSvPluginResultCode(0x8FFC0207u);
// The common-settings window is not offered.
inline constexpr TvSvPluginResultCode kTvSvPluginNoCommonSetting = TvSvPluginResultCode(0x8FFC0208u);
// The destination's send failed or was cancelled.
inline constexpr TvSvPluginResultCode kTvSvPluginFailSend = TvSvPluginResultCode(0x8FFC020Au);
inline constexpr TvSvPluginResultCode kTvSvPluginFailSummary = TvSvPluginResultCode(0x8FFC020Bu);
inline constexpr TvSvPluginResultCode kTvSvPluginFailLinkButton = TvSvPluginResultCode(0x8FFC020Cu);
inline constexpr TvSvPluginResultCode kTvSvPluginFailLinkLabel = TvSvPluginResultCode(0x8FFC020Du);
inline constexpr TvSvPluginResultCode kTvSvPluginFailClickedLink = TvSvPluginResultCode(0x8FFC020Eu);

static_assert(kTvSvPluginNotFoundID < 0, "the codes are signed 32-bit values");
static_assert(std::uint32_t(kTvSvPluginFailClickedLink) == 0x8FFC020Eu);

// The methods in their declared order. The key function (the destructor)
// lives in the shared library kdplugin, so the type is one and the same in
// the application and in every plug-in.
class __attribute__((visibility("default"))) TvQLRPlugin : public kdf::Object {
public:
    ~TvQLRPlugin() override;

    // Localised texts of the plug-in's own bundle.
    virtual std::optional<std::string> getName() noexcept = 0;
    virtual std::optional<std::string> getTitle() noexcept = 0;
    virtual std::optional<std::string> getDescription() noexcept = 0;
    // Info "CFBundleShortVersionString".
    virtual std::optional<std::string> getVersion() noexcept = 0;
    // The path of the bundle's icon file (not an image).
    virtual std::optional<std::string> getIcon() noexcept = 0;
    virtual bool getShowSettingButton() noexcept = 0;
    virtual bool getShowCommonSettingButton() noexcept = 0;
    virtual bool getIsExecutable() noexcept = 0;
    // Loads the users from the application's defaults ("Plugins").
    virtual TvSvPluginResultCode connect() noexcept = 0;
    // Writes them back and synchronises the defaults.
    virtual TvSvPluginResultCode disconnect() noexcept = 0;
    virtual TvSvPluginResultCode createID(std::optional<std::string>* newID) noexcept = 0;
    virtual TvSvPluginResultCode deleteID(const std::optional<std::string>& userID) noexcept = 0;
    virtual TvSvPluginResultCode copyID(const std::optional<std::string>& sourceID,
                                        std::optional<std::string>* newID) noexcept = 0;
    virtual TvSvPluginResultCode showSettingWithID(const std::optional<std::string>& userID,
                                                   QWidget* parentWindow) noexcept = 0;
    virtual TvSvPluginResultCode showCommonSettingWithParentWindow(QWidget* parentWindow) noexcept = 0;
    virtual TvSvPluginResultCode isSupportedFileType(const std::optional<std::string>& fileType,
                                                     bool* enabled) noexcept = 0;
    // fileDelete: the plug-in may delete the files once they are sent.
    virtual TvSvPluginResultCode executeOperationWithID(const std::optional<std::string>& userID,
                                                        const std::optional<std::vector<std::string>>& fileList,
                                                        bool fileDelete, QWidget* parentWindow) noexcept = 0;
};

class __attribute__((visibility("default"))) TvQLRPlugin2 : public TvQLRPlugin {
public:
    ~TvQLRPlugin2() override;

    virtual bool getShowSettingSummary() noexcept = 0;
    virtual bool getShowFileNameSetting() noexcept = 0;
    virtual bool getShowFileTypeSetting() noexcept = 0;
    // The summary is the empty string, never none, whenever the pointer is
    // given, also after a failure.
    virtual TvSvPluginResultCode showSettingSummaryWithID(const std::optional<std::string>& userID,
                                                          std::optional<std::string>* summary) noexcept = 0;
    // Not sent by the application; the kit answers 1.
    virtual int importSettingFromFolder(const std::optional<std::string>& folder) noexcept = 0;
    virtual int exportSettingToFolder(const std::optional<std::string>& folder) noexcept = 0;
    virtual TvSvPluginResultCode isSupportLinkButton(const std::optional<std::string>& userID,
                                                     bool* enabled) noexcept = 0;
    virtual TvSvPluginResultCode copyLinkLable(const std::optional<std::string>& userID,
                                               std::optional<std::string>* label) noexcept = 0;
    virtual TvSvPluginResultCode clickedLinkLabel(const std::optional<std::string>& userID) noexcept = 0;
};

// The user-defaults key of the plug-ins' settings: plug-in key -> entry.
inline constexpr const char* kTvPluginsDefaultsKey = "Plugins";
