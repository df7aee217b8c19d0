// A window controller for the data source's tests: it records every call
// in order, answers from settable fields, and posts the window's
// notifications on request.
#pragma once

#include "KdUIController.h"

#include <deque>
#include <string>
#include <vector>

class RecordingUIController : public KdUIController {
public:
    RecordingUIController();
    ~RecordingUIController() override;

    // --- What the data source called, e.g. "updateScanPanel 65539".
    mutable std::vector<std::string> calls;
    kdf::Dictionary setupParam;
    ScanBitmap lastImage;

    // --- Answers.
    bool setupThrows = false;      // setupMainUI throws a kdf::Exception
    bool mainWindowVisible = false; // set by show/hideMainWindow
    bool scanPanelVisible = false;  // set by show/hideScanPanel
    bool cancelProgress = false;    // idleProgress
    int panelStatus = kScanPanelNothing;
    bool scanPanelAlpha = false;
    bool modalWindowVisible = false;
    bool ownsLoop = false;          // ownsEventLoop (not recorded)
    std::deque<int> alertAnswers; // answers of the run...Alert calls in turn; 0 when empty

    // --- The window's notifications, posted on the default centre with
    // this controller as the sender.
    void postXferReady(int scanMode, int pendingImageCount);
    void postXferReadyWithoutObject();
    void postCloseRequest(bool saveSettings);
    void postCloseDSOkay();
    void postDestroyImageRequest();

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
    void showScanPanel() override;
    void hideScanPanel() override;
    void updateScanPanel(std::uint32_t status) override;
    bool isScanPanelVisible() const override;
    void idleScanPanel() override;
    int scanPanelStatus() const override;
    void setScanPanelWorksWhenModal(bool works) override;
    void setScanPanelOrigin() override;
    bool isScanPanelAlphaValue() const override;
    ModalSession beginScanPanelModalSession() override;
    void endScanPanelModalSession(ModalSession session) override;
    void updateColorModeControls() override;
    void setScanImage(const ScanBitmap& image, int resolution, bool isPreview) override;
    int runModalContinueModeAlert(int kind, const std::string& message) override;
    int runModalRollerExchangeAlert(std::int64_t count, bool isPad, bool isBackgroundOnly) override;
    int runAlert(AlertStyle style, const std::string& message, const std::string& information,
                 const std::vector<std::string>& buttons) override;
    bool isModalWindowVisible() const override;
    void abortModal(int result) override;
    bool ownsEventLoop() const override { return ownsLoop; }

private:
    void record(std::string call) const;
    int nextAnswer();
    ModalSession nextSession_ = 1;
};
