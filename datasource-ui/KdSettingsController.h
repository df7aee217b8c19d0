// The data source's own settings window: the controller the data source
// creates by name and drives through ::KdUIController. It owns the main
// window (scan mode with simple and advanced tabs, or settings only), the
// progress panel and the shields, and hands work to the data source by
// changing capabilities through the exported helpers and posting the
// notifications the data source handles inside the post.
#pragma once

#include "KdUIController.h"

#include "CapPool.h"

#include <foundation/Value.h>

#include <QAbstractButton>
#include <QPixmap>
#include <QMessageBox>
#include <QPointer>
#include <QRect>
#include <QTabWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QWidget;

namespace ComTavrolekKD720 {

class FRollOverInitiator;

// Posted to the host application (any observer) when the main window is
// shown or hidden; object: a pointer value of the top-level QWidget.
inline constexpr const char* kShowKdWindowNotification = "ShowKdWindowNotification";
inline constexpr const char* kHideKdWindowNotification = "HideKdWindowNotification";

// How an action was called: by the program, with the gamma controls'
// marker (refresh without marking the favourite as changed), or from a
// control. Only a control opens sheets.
struct Sender {
    enum class Kind { None, GammaMarker, Control };
    Kind kind = Kind::None;
    QObject* control = nullptr;

    static Sender none() { return {}; }
    static Sender gammaMarker() { return {Kind::GammaMarker, nullptr}; }
    static Sender from(QObject* control) { return control ? Sender{Kind::Control, control} : none(); }
    bool opensSheets() const { return kind == Kind::Control; }
};

// The capabilities the window edits, with the flag of those the simple
// scan resets.
struct UIRelatedCap {
    std::uint16_t id;
    std::uint16_t resetForSimpleScan;
};
extern const std::array<UIRelatedCap, 90> sUIRelatedCaps;
inline constexpr std::size_t sUIRelatedCapsCount = 90;

// Tags of the main window's controls.
enum MainWindowTag : int {
    kTagHelp = 1,
    kTagCancel = 2,
    kTagScanComplete = 3,
    kTagAdvancedScan = 600,
    kTagSimpleScan = 610,
    kTagContinue = 611,
    kTagToolFirst = 701, // the tool strip runs 701 to 706
    kTagToolHelp = 706,
};

class KdUIController : public ::KdUIController {
public:
    KdUIController();
    ~KdUIController() override;
    KdUIController(const KdUIController&) = delete;
    KdUIController& operator=(const KdUIController&) = delete;

    // ---- What the data source calls.
    void setupMainUI(const kdf::Dictionary& param, bool forScanning) override;
    void showMainWindow() override;
    void hideMainWindow() override;
    bool isMainWindowVisible() const override;
    void closeRequest(bool flag) override;

    void setShield(bool on) override;
    void showProgressWindow() override;
    void resumeProgressWindow() override;
    void suspendProgressWindow() override;
    void hideProgressWindow() override;
    bool idleProgress() override;

    void showScanPanel() override {}
    void hideScanPanel() override {}
    void updateScanPanel(std::uint32_t) override {}
    bool isScanPanelVisible() const override { return false; }
    void idleScanPanel() override {}
    int scanPanelStatus() const override { return kScanPanelNothing; }
    void setScanPanelWorksWhenModal(bool) override {}
    void setScanPanelOrigin() override {}
    bool isScanPanelAlphaValue() const override { return false; }
    ModalSession beginScanPanelModalSession() override { return 0; }
    void endScanPanelModalSession(ModalSession) override {}

    void updateColorModeControls() override {}
    void setScanImage(const ScanBitmap& image, int resolution, bool isPreview) override;

    // These two alerts come with their own panels; until then they answer
    // as alerts nobody saw.
    int runModalContinueModeAlert(int kind, const std::string& message) override;
    int runModalRollerExchangeAlert(std::int64_t count, bool isPad, bool isBackgroundOnly) override;

    int runAlert(AlertStyle style, const std::string& message, const std::string& information,
                 const std::vector<std::string>& buttons) override;
    bool isModalWindowVisible() const override;
    void abortModal(int result) override;

    bool ownsEventLoop() const override { return ownsEventLoop_; }
    void setOwnsEventLoop(bool owns) { ownsEventLoop_ = owns; }

    // ---- Actions of the window.
    void performScan(Sender sender = {});
    void performScanComplete(Sender sender = {});
    void performContinueScan(Sender sender = {});
    void performPrescan(Sender sender = {});
    void performCancel(Sender sender = {});
    void performReset(Sender sender = {});
    void showKdHelp(Sender sender = {});
    void abortScan(Sender sender = {});

    // A typed field's action runs 1.0 s after its last keystroke (each
    // keystroke starts the wait again), also while a modal panel runs.
    void controlTextDidChange(const QObject* field, std::function<void()> action);

    // Every setting the window shows back to its default, the scan area to
    // the whole bed and no preview: what Reset and full-auto start from.
    void resetWindowSettings();
    void resetSettingsForSimpleScan();
    void performFullAutoSetting();
    void destroyPreviewImage();
    void postCloseRequestNotification(bool flag);
    void saveMainUISettings();

    // ---- State.
    QWidget* currentView() const;
    bool isSimpleMode() const;
    bool hasScanImage() const;
    void updateCurrentView();
    bool isSetupSequence() const { return mIsSetupSequence; }
    CCapPool* settings() const { return mSettings; }
    QWidget* mainWindow() const { return mWindow; }
    QWidget* progressWindow() const { return mProgressWindow; }
    QTabWidget* settingModeTab() const { return mSettingModeTab; }
    // The palettes of the advanced mode (made by their own panels).
    std::array<QWidget*, 3> palettes() const { return {mGammaPalette, mImagePalette, mPreferencePalette}; }

    // The frame a stored frame is shown at: moved onto the screens when it
    // lies partly off them, centred on the primary screen when it lies off
    // every one.
    static QRect fitFrameToScreens(const QRect& frame);
    // The frame in the preferences' text form and back; none when malformed.
    static std::string frameString(const QRect& frame);
    static std::optional<QRect> frameFromString(const std::string& text);

    // A text of the window's strings, else the data source's, else the key.
    static std::string localized(const std::string& key);
    // The window's bundle when this code is not loaded from it (scenes and
    // tests linking it directly).
    static void setWindowBundlePath(const std::string& path);

    // Gives the image buttons their state images from the window's bundle
    // and turns roll-over on; gives the slider end buttons their [normal,
    // disabled] pairs. In a right-to-left layout the help images are mirrored.
    void setupRollOverButtons();
    // The resource's image, or nothing when the bundle has no such file.
    static std::optional<QPixmap> bundleImage(const std::string& name);

    // ---- The panels' methods (their own panels fill them).
    void buildToneSettingView() {}
    void buildFavoriteControls() {}
    void updateFavoriteControls() {}
    void initBasicSettingUI() {}
    void initAreaSelectionUI() {}
    void initImageEnhanceUI() {}
    void initToneSettingUI() {}
    void initExtraSettingUI() {}
    void initPrescanUI() {}
    void initScannerInformationPanel() {}
    void syncBasicSettingUI() {}
    void syncAreaSelectionUI() {}
    void syncImageEnhanceUI() {}
    void syncToneSettingUI() {}
    void syncExtraSettingUI() {}
    void syncPrescanUI() {}
    void syncPreferencePalette() {}
    void refrectScanAreaControls() {}
    void decideScanArea(bool) {}
    void resetScanArea() {}
    void restorePalettes() {}
    void savePalettes() {}
    void showPreviewArea(bool, bool) {}
    std::optional<kdf::Dictionary> getScannerInfo() { return std::nullopt; }

private:
    void loadForms();
    void connectActions();
    void post(const char* name, const kdf::Value* object);
    void postXferReady(int mode, int pendingCount = -1);
    // The target of the controller's delayed messages (the data source
    // cancels them by it).
    const void* target() const { return static_cast<const ::KdUIController*>(this); }
    void storeWindowState(kdf::Dictionary& prefs) const;
    void selectedTabChanged(int index);
    void sync();
    void init();
    QWidget* tagged(int tag) const;

    QPointer<QWidget> mWindow;
    QPointer<QWidget> mProgressWindow;
    QPointer<QTabWidget> mSettingModeTab;
    QPointer<QWidget> mSimpleModeView;
    QPointer<QWidget> mAdvanceModeView;
    QPointer<QWidget> mToolView;
    QPointer<QWidget> mPreviewFrame;
    QPointer<QWidget> mPreviewFrameBox;
    QPointer<QWidget> mScanAreaSettingView;
    QPointer<QWidget> mAdvImageSettingView;
    // Watches the main window's image buttons while it is shown.
    std::unique_ptr<FRollOverInitiator> mRollOverInitiator;
    // The detect-page-type sheet (made by its panel).
    QPointer<QWidget> mDetectPageTypePanel;
    QWidget* mGammaPalette = nullptr;
    QWidget* mImagePalette = nullptr;
    QWidget* mPreferencePalette = nullptr;
    QPointer<QAbstractButton> mProgressCancel;
    QPointer<QMessageBox> runningAlert_;
    int alertAbortResult_ = -1;
    bool alertAborted_ = false;

    CCapPool* mSettings = nullptr;
    kdf::Dictionary mUIParameters;
    std::optional<kdf::Dictionary> mScannerInfo;
    bool mIsSetupSequence = false;
    bool mPositioningPrescanMode = false;
    bool hasImage_ = false;
    bool progressSession_ = false;
    int mActiveGammaChannel = 0;
    int mMinWindowWidth = 0;
    bool frameRestored_ = false;
    bool ownsEventLoop_ = false;
    bool switchingTabs_ = false;
    int lastTab_ = -1;
    // Cleared when the controller goes: actions check it after their post,
    // since the host may close the data source from inside it.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace ComTavrolekKD720
