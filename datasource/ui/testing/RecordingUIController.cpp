#include "RecordingUIController.h"

#include <foundation/Exception.h>
#include <foundation/NotificationCenter.h>

namespace {

const char* yesNo(bool b) {
    return b ? "YES" : "NO";
}

} // namespace

RecordingUIController::RecordingUIController() = default;

RecordingUIController::~RecordingUIController() = default;

void RecordingUIController::record(std::string call) const {
    calls.push_back(std::move(call));
}

int RecordingUIController::nextAnswer() {
    if (alertAnswers.empty()) return 0;
    int answer = alertAnswers.front();
    alertAnswers.pop_front();
    return answer;
}

void RecordingUIController::postXferReady(int scanMode, int pendingImageCount) {
    kdf::Dictionary object{{kXferReadyScanModeKey, scanMode},
                           {kXferReadyPendingImageCountKey, pendingImageCount}};
    kdf::NotificationCenter::defaultCenter().post(kXferReadyNotification, this, kdf::Value(std::move(object)));
}

void RecordingUIController::postXferReadyWithoutObject() {
    kdf::NotificationCenter::defaultCenter().post(kXferReadyNotification, this);
}

void RecordingUIController::postCloseRequest(bool saveSettings) {
    kdf::NotificationCenter::defaultCenter().post(kCloseRequestNotification, this, kdf::Value(saveSettings));
}

void RecordingUIController::postCloseDSOkay() {
    kdf::NotificationCenter::defaultCenter().post(kCloseDSOkayNotification, this);
}

void RecordingUIController::postDestroyImageRequest() {
    kdf::NotificationCenter::defaultCenter().post(kDestroyImageRequestNotification, this);
}

void RecordingUIController::setupMainUI(const kdf::Dictionary& param, bool forScanning) {
    record(std::string("setupMainUI ") + yesNo(forScanning));
    setupParam = param;
    if (setupThrows) throw kdf::Exception(kdf::kMallocExceptionName, "window set-up failed");
}

void RecordingUIController::showMainWindow() {
    record("showMainWindow");
    mainWindowVisible = true;
}

void RecordingUIController::hideMainWindow() {
    record("hideMainWindow");
    mainWindowVisible = false;
}

bool RecordingUIController::isMainWindowVisible() const {
    record("isMainWindowVisible");
    return mainWindowVisible;
}

void RecordingUIController::closeRequest(bool flag) {
    record(std::string("closeRequest ") + yesNo(flag));
}

void RecordingUIController::setShield(bool on) {
    record(std::string("setShield ") + yesNo(on));
}

void RecordingUIController::showProgressWindow() {
    record("showProgressWindow");
}

void RecordingUIController::resumeProgressWindow() {
    record("resumeProgressWindow");
}

void RecordingUIController::suspendProgressWindow() {
    record("suspendProgressWindow");
}

void RecordingUIController::hideProgressWindow() {
    record("hideProgressWindow");
}

bool RecordingUIController::idleProgress() {
    record("idleProgress");
    return cancelProgress;
}

void RecordingUIController::showScanPanel() {
    record("showScanPanel");
    scanPanelVisible = true;
}

void RecordingUIController::hideScanPanel() {
    record("hideScanPanel");
    scanPanelVisible = false;
}

void RecordingUIController::updateScanPanel(std::uint32_t status) {
    record("updateScanPanel " + std::to_string(status));
}

bool RecordingUIController::isScanPanelVisible() const {
    record("isScanPanelVisible");
    return scanPanelVisible;
}

void RecordingUIController::idleScanPanel() {
    record("idleScanPanel");
}

int RecordingUIController::scanPanelStatus() const {
    record("scanPanelStatus");
    return panelStatus;
}

void RecordingUIController::setScanPanelWorksWhenModal(bool works) {
    record(std::string("setScanPanelWorksWhenModal ") + yesNo(works));
}

void RecordingUIController::setScanPanelOrigin() {
    record("setScanPanelOrigin");
}

bool RecordingUIController::isScanPanelAlphaValue() const {
    record("isScanPanelAlphaValue");
    return scanPanelAlpha;
}

KdUIController::ModalSession RecordingUIController::beginScanPanelModalSession() {
    record("beginScanPanelModalSession");
    return nextSession_++;
}

void RecordingUIController::endScanPanelModalSession(ModalSession session) {
    record("endScanPanelModalSession " + std::to_string(session));
}

void RecordingUIController::updateColorModeControls() {
    record("updateColorModeControls");
}

void RecordingUIController::setScanImage(const ScanBitmap& image, int resolution, bool isPreview) {
    record("setScanImage " + std::to_string(resolution) + " " + yesNo(isPreview));
    lastImage = image;
}

int RecordingUIController::runModalContinueModeAlert(int kind, const std::string& message) {
    record("runModalContinueModeAlert " + std::to_string(kind) + " " + message);
    return nextAnswer();
}

int RecordingUIController::runModalRollerExchangeAlert(std::int64_t count, bool isPad, bool isBackgroundOnly) {
    record("runModalRollerExchangeAlert " + std::to_string(count) + " " + yesNo(isPad) + " " +
           yesNo(isBackgroundOnly));
    return nextAnswer();
}

int RecordingUIController::runAlert(AlertStyle style, const std::string& message, const std::string& information,
                                    const std::vector<std::string>& buttons) {
    std::string call = "runAlert " + std::to_string(int(style)) + " " + message + " / " + information;
    for (const auto& b : buttons) call += " [" + b + "]";
    record(std::move(call));
    return nextAnswer();
}

bool RecordingUIController::isModalWindowVisible() const {
    record("isModalWindowVisible");
    return modalWindowVisible;
}

void RecordingUIController::abortModal(int result) {
    record("abortModal " + std::to_string(result));
}
