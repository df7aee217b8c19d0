// The data source's window controller as the data source sees it: the
// settings window lives in a shared object of its own, loaded only when it
// is shown, whose class the data source creates by name. The window answers
// through the capability functions and the notifications below, which the
// data source handles synchronously, inside the post.
#pragma once

#include <foundation/Object.h>
#include <foundation/Value.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The class the data source creates.
inline constexpr const char* kUIControllerClassName = "ComTavrolekKD720KdUIController";

// Keys of the set-up parameter dictionary.
inline constexpr const char* kUIParamCapabilityObject = "CapabiltyObject"; // pointer value of the CCapPool
inline constexpr const char* kUIParamScannerObject = "ScannerObject";      // pointer value of the CTavrKd
inline constexpr const char* kUIParamSupportedPapers = "SupportedPapers";
inline constexpr const char* kUIParamUserGammaDatas = "UserGammaDatas";

// Notifications the controller posts on the default centre, sender the
// controller.
// Object: a dictionary with the scan mode and the pending image count.
inline constexpr const char* kXferReadyNotification = "XferReadyNotification";
inline constexpr const char* kXferReadyScanModeKey = "scanModeParam.xferReady.kdds";
inline constexpr const char* kXferReadyPendingImageCountKey = "pendingImageCount.xferReady.kdds";
// Object: a boolean; true saves the custom settings.
inline constexpr const char* kCloseRequestNotification = "CloseRequestNotification";
// No object: the settings-only window was confirmed.
inline constexpr const char* kCloseDSOkayNotification = "CloseDSOkayNotification";
// No object: drop the buffered prescan image.
inline constexpr const char* kDestroyImageRequestNotification = "DestroyImageRequestNotification";

// Values of kXferReadyScanModeKey.
enum XferReadyScanMode : int {
    kScanModeScan = 0,
    kScanModePrescan = 1,
    kScanModeScanToWindow = 2,
    kScanModeComplete = 3,
    kScanModeContinue = 4,
    kScanMode5 = 5,
    kScanMode6 = 6,
};

// The favourites the controller keeps in the data source's preferences
// file: an array of {"Name", "Data" (a "CapData" record), "DataVersion"}.
inline constexpr const char* kFavoriteSettingsKey = "FavoriteSettings";
inline constexpr const char* kFavoriteNameKey = "Name";
inline constexpr const char* kFavoriteDataKey = "Data";
inline constexpr const char* kFavoriteDataVersionKey = "DataVersion";

// Values of scanPanelStatus().
inline constexpr int kScanPanelNothing = 0;
inline constexpr int kScanPanelContinue = 1;
inline constexpr int kScanPanelStop = 2;

// The prescanned page handed to the window: rows top to bottom.
struct ScanBitmap {
    int width = 0;
    int height = 0;
    int bitsPerSample = 8;
    int samplesPerPixel = 1;
    std::size_t bytesPerRow = 0;
    std::vector<std::uint8_t> pixels; // height * bytesPerRow bytes
};

enum class AlertStyle { Warning, Informational, Critical };

class KdUIController : public kdf::Object {
public:
    using ModalSession = std::uint64_t;

    ~KdUIController() override;

    // forScanning: true when enabled for scanning, false for settings only.
    // May throw kdf::Exception; the data source reports it as no memory.
    virtual void setupMainUI(const kdf::Dictionary& param, bool forScanning) = 0;
    virtual void showMainWindow() = 0;
    virtual void hideMainWindow() = 0;
    virtual bool isMainWindowVisible() const = 0;
    // The controller answers later with kCloseRequestNotification.
    virtual void closeRequest(bool flag) = 0;

    virtual void setShield(bool on) = 0;
    virtual void showProgressWindow() = 0;
    virtual void resumeProgressWindow() = 0;
    virtual void suspendProgressWindow() = 0;
    virtual void hideProgressWindow() = 0;
    // Handles one event; true when the user pressed Cancel.
    virtual bool idleProgress() = 0;

    virtual void showScanPanel() = 0;
    virtual void hideScanPanel() = 0;
    // status: 0, 3, 0x10002 or 0x10003.
    virtual void updateScanPanel(std::uint32_t status) = 0;
    virtual bool isScanPanelVisible() const = 0;
    virtual void idleScanPanel() = 0;
    virtual int scanPanelStatus() const = 0; // kScanPanelStop, kScanPanelContinue, kScanPanelNothing
    virtual void setScanPanelWorksWhenModal(bool works) = 0;
    virtual void setScanPanelOrigin() = 0;
    virtual bool isScanPanelAlphaValue() const = 0;
    virtual ModalSession beginScanPanelModalSession() = 0;
    virtual void endScanPanelModalSession(ModalSession session) = 0;

    // Refreshes the colour-mode controls from the capability pool.
    virtual void updateColorModeControls() = 0;
    // The prescanned image with its resolution and whether it is a preview.
    virtual void setScanImage(const ScanBitmap& image, int resolution, bool isPreview) = 0;

    // kind 1: the alert for a double feed, which a scanner key may answer;
    // else 0. Answer 3 continue, 1 try again, anything else stop.
    virtual int runModalContinueModeAlert(int kind, const std::string& message) = 0;
    virtual int runModalRollerExchangeAlert(std::int64_t count, bool isPad, bool isBackgroundOnly) = 0;

    // What the data source needs of the windowing system.
    // A plain modal alert; the index of the button chosen (0 the first).
    virtual int runAlert(AlertStyle style, const std::string& message, const std::string& information,
                         const std::vector<std::string>& buttons) = 0;
    virtual bool isModalWindowVisible() const = 0;
    // Ends the running modal loop; it answers result.
    virtual void abortModal(int result) = 0;

    // True when the window made the process's event loop itself (a host
    // without one of its own): the data source then runs the window while
    // it is enabled, and keeps it live while the host calls.
    virtual bool ownsEventLoop() const { return false; }
};

// Loads the window's bundle (when a path is given) and creates the
// controller class by name. Null when the object or the class is missing
// or the object is no KdUIController (the reason on standard error).
std::unique_ptr<KdUIController> createUIController(const std::string& uiBundlePath);
