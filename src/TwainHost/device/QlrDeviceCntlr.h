// The one object through which the application drives the scanner's data
// source: it finds the source of the current identity, opens it for a scan
// or for the source's own settings window, writes the job's settings as
// capabilities (and reads them back after the window's OK), enables it,
// receives the manager's callback and speaks the pass-through commands.
//
// Everything runs on the main thread except the callback, which may be
// called wherever the manager calls it and hands its work to the main
// thread; the cancel byte and the idle path are the only things it touches
// itself.
#pragma once

#include "QlrDeviceCntlrDelegate.h"
#include "TV_TWAINHandler.h"

#include <foundation/Value.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

class InputModel;

// Notifications posted on the default centre (no object).
inline constexpr const char* kDriverTerminateUINotification = "Driver_TerminateUI_Notification";
inline constexpr const char* kDriverCloseDSOkNotification = "Driver_MSG_CLOSEDSOK_Notification";

// The manager's callback: dispatches on MSG alone and always answers
// TWRC_SUCCESS.
TW_UINT16 TWAIN_ScanCallback(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                             TW_MEMREF data);

class QlrDeviceCntlr {
public:
    // The shared instance, made on the first call (on the main thread).
    static QlrDeviceCntlr* sharedDeviceCntlr();
    static void terminateDeviceCntlr();
    // The controller reaches the application controller as the
    // application's delegate; start-up sets it (null: none).
    static void setApplicationDelegate(QlrDeviceCntlrDelegate* delegate);
    static QlrDeviceCntlrDelegate* applicationDelegate();

    // The idle path's event pump: processes pending user-interface events,
    // waiting at most the given seconds for one. The Qt application installs
    // one; tests install a scripted one. None: nothing is pumped.
    using IdlePump = std::function<void(double seconds)>;
    static void setIdlePump(IdlePump pump);

    QlrDeviceCntlr();
    ~QlrDeviceCntlr();
    QlrDeviceCntlr(const QlrDeviceCntlr&) = delete;
    QlrDeviceCntlr& operator=(const QlrDeviceCntlr&) = delete;

    TV_TWAINHandler* twHandler() { return handler_.get(); }
    void setAirPrintDsPath(std::optional<std::string> path);
    TW_UINT32 curDSState() const { return handler_->getDSState(); }

    void setIsOpenScnPanel(bool v) { isOpenScnPanel_ = v; }
    bool isOpenScnPanel() const { return isOpenScnPanel_; }
    void resetTmpFileIndex() { tmpFileIndex_ = 0; }
    int tmpFileIndex() const { return tmpFileIndex_.load(); }
    void setCurInputModel(std::shared_ptr<InputModel> model);
    std::shared_ptr<InputModel> curInputModel() const;

    bool isScanCancel() const { return isScanCancel_.load(); }
    // Clearing also clears the finish-reset flag, both under the lock.
    void setIsScanCancel(bool v);
    bool isRunningMemXfer() const { return isRunningMemXfer_.load(); }
    void setIsRunningMemXfer(bool v);
    bool isFinishMSGReset() const { return isFinishMSGReset_.load(); }
    void setIsFinishMSGReset(bool v) { isFinishMSGReset_ = v; }

    // ---- Shading data, kept from one opening of the source to the next
    using ShadingData = std::shared_ptr<const kdf::Bytes>;
    void setShadingData(ShadingData data) { shadingData_ = std::move(data); }
    const ShadingData& shadingData() const { return shadingData_; }

    // ---- Pass-through commands
    static bool wasSentCancelToDS();
    // 'AbRq' at most once per scan.
    void sendCancelToDS();
    TW_UINT32 getDeviceBtnStatus();
    std::array<std::uint8_t, 16> getDeviceInfo();
    TW_INT16 resetRollerCount(TW_UINT32 command);
    // 'GtBS' probe; when it fails the kept data are dropped, else 'GtSd'.
    void getShadingDataOnPassThru();
    // 'StSd' with the kept data (or none).
    void setShadingDataOnPassThru();

    // ---- Opening and closing
    void deviceEvent();
    // The condition of the last failure: the source's while it is open,
    // else the manager's; 0xFFFF when it cannot be had.
    TW_UINT16 getStatusCC();
    TW_INT16 findDSAndOpenDS();
    TW_INT16 closeDSForAppQuit() { return handler_->closeDS(); }
    // Opens for a scan, or UI-only for the source's settings window. NO after
    // an alert; a scan whose enable fails answers YES without one.
    bool openDS(std::shared_ptr<InputModel> model, bool isOpenScnPanel, bool isUseTvAlert);
    void closeRequest();
    void closeOK();

    // ---- Receiving the pages (QlrDeviceCntlrScan.cpp)
    // MSG_XFERREADY, on the main thread: starts the next page's worker. It
    // never blocks: while a worker still runs it posts itself again, and it
    // does nothing unless the source is enabled for a scan.
    void xferReady();
    // One page on the worker thread (see the source file).
    void completeMemoryXfer();
    // The code of the last call made for the transfer, or -1 for a failure
    // of our own resources (file, memory, disk).
    TW_INT16 scnErr() const { return scnErr_.load(); }
    // Ends the job from the worker: end state, disable, close.
    void terminateScan(bool isNormalEnd);
    // On the main thread: the application state that ends the job (none:
    // no state), handler state 50; the finish-reset flag in every case.
    void sendMSGReset(std::optional<bool> isNormalEnd);
    // Fits width x height into the limit keeping the ratio, only ever
    // shrinking; truncates, and a side never becomes less than 1. Nothing
    // changes unless all four are positive.
    static void sizeForPreImg(int* width, int* height, QlrPreviewSize limit);
    // The records of the last page, for the tests.
    const TW_IMAGEINFO& imageInfo() const { return imageInfo_; }

    // ---- Capabilities (QlrDeviceCntlrCAPs.cpp)
    // YES when every call answered 0; pResult gets the first nonzero code
    // (writing leaves it as the caller set it, reading starts it at 0).
    bool setCCAPsValues(TW_INT16* pResult);
    bool getCCAPsValues(TW_INT16* pResult);

    // The key of the last alert this controller asked for (none yet).
    const std::optional<std::string>& lastAlertKey() const { return lastAlertKey_; }

private:
    // The calls the worker makes on the main thread, waiting.
    void getImageInfoOnMain();
    void getPendingXfersOnMain();
    void getSetupMemXferOnMain();
    void getImageMemXferOnMain();
    void endxferPendingXfersOnMain();
    void resetPendingXfersOnMain();
    void disableDSOnMain();
    void closeDSOnMain();
    void afterSourceCall(TW_INT16 rc);
    // Runs fn on the main thread and waits; false once the main loop has
    // shut down (fn did not run).
    static bool onMainWaiting(std::function<void()> fn);
    void joinWorker();

    void showError(const std::string& key, bool isUseTvAlert, bool wait);
    TW_INT16 passThru(TW_UINT32 command, void* data, TW_UINT32 size);
    bool setOneCap(TW_UINT16 cap, TW_UINT16 itemType, std::int64_t word, TW_INT16* pResult, bool* pOk);

    std::unique_ptr<TV_TWAINHandler> handler_;
    std::shared_ptr<InputModel> curInputModel_;
    mutable std::mutex modelLock_;
    bool isOpenScnPanel_ = false;
    std::atomic<bool> isRunningMemXfer_{false};
    std::atomic<bool> isScanCancel_{false};
    std::mutex runningMemXferLck_;
    std::mutex scanCancelLck_;
    std::atomic<bool> isFinishMSGReset_{false};
    std::atomic<TW_INT16> scnErr_{0};
    TW_IMAGEINFO imageInfo_{};
    TW_SETUPMEMXFER setupMemXfer_{};
    TW_IMAGEMEMXFER imageMemXfer_{};
    TW_PENDINGXFERS pendingXfers_{};
    TW_USERINTERFACE userInterface_{};
    TW_STATUS dsStatus_{};
    std::atomic<int> tmpFileIndex_{0};
    std::thread worker_;
    bool terminating_ = false; // main thread only
    ShadingData shadingData_;
    QlrDeviceCntlrDelegate* delegate_ = nullptr;
    std::optional<std::string> lastAlertKey_;
};
