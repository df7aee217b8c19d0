#include "QlrDeviceCntlr.h"

#include "AppMainCntlrDSInfo.h"
#include "InputModel.h"
#include "TV_Message.h"
#include "KdTwainCustom.h"

#include <foundation/DataObjectRegistry.h>
#include <foundation/NotificationCenter.h>
#include <foundation/RunLoop.h>

#include <cstring>

namespace {

QlrDeviceCntlr* sQlrDeviceCntlr = nullptr;
QlrDeviceCntlrDelegate* sAppDelegate = nullptr;
// The cancel command went to the source in this scan. Cleared on the main
// thread before enabling, set from the callback.
std::atomic<bool> sIsInvalidSendCancelToDS{false};
std::mutex sPumpLock;
QlrDeviceCntlr::IdlePump sIdlePump;

constexpr TW_UINT16 kEventIdle = 0x8004;
constexpr TW_UINT16 kEventScanStarted = 0x8003;
constexpr TW_UINT16 kEventReadyToScan = 0x8002;
constexpr int kStateScanning = 101;
constexpr int kStateScanEnded = 104;

std::optional<std::string> identityString(const TW_STR32& s) {
    return std::string(reinterpret_cast<const char*>(s), ::strnlen(reinterpret_cast<const char*>(s), sizeof s));
}

const char* openFailureKey(TW_INT16 code) {
    switch (code) {
    case TWRC_ENDOFLIST: return "Err_NotFoundScannerDriver";
    case -3: return "Err_NotUseScannerDriver";
    case -1: return "Err_DriverSetFault";
    default: return "Err_NotLoadScannerDriver";
    }
}

} // namespace

QlrDeviceCntlr* QlrDeviceCntlr::sharedDeviceCntlr() {
    if (!sQlrDeviceCntlr) sQlrDeviceCntlr = new QlrDeviceCntlr();
    return sQlrDeviceCntlr;
}

void QlrDeviceCntlr::terminateDeviceCntlr() {
    delete sQlrDeviceCntlr;
    sQlrDeviceCntlr = nullptr;
}

void QlrDeviceCntlr::setApplicationDelegate(QlrDeviceCntlrDelegate* delegate) { sAppDelegate = delegate; }
QlrDeviceCntlrDelegate* QlrDeviceCntlr::applicationDelegate() { return sAppDelegate; }

void QlrDeviceCntlr::setIdlePump(IdlePump pump) {
    std::lock_guard lock(sPumpLock);
    sIdlePump = std::move(pump);
}

QlrDeviceCntlr::QlrDeviceCntlr()
    : handler_(std::make_unique<TV_TWAINHandler>("Tavrolek", "Tavro", "Quillora", "4.0")) {
    // The controller is found through the shared instance: RefCon 0.
    handler_->registerCallback(TWAIN_ScanCallback, 0);
}

QlrDeviceCntlr::~QlrDeviceCntlr() {
    joinWorker();
    handler_.reset();
    setCurInputModel(nullptr);
}

void QlrDeviceCntlr::setAirPrintDsPath(std::optional<std::string> path) { handler_->setDsPath(std::move(path)); }

void QlrDeviceCntlr::setCurInputModel(std::shared_ptr<InputModel> model) {
    std::lock_guard lock(modelLock_);
    curInputModel_ = std::move(model);
}

std::shared_ptr<InputModel> QlrDeviceCntlr::curInputModel() const {
    std::lock_guard lock(modelLock_);
    return curInputModel_;
}

void QlrDeviceCntlr::setIsScanCancel(bool v) {
    std::lock_guard lock(scanCancelLck_);
    isScanCancel_ = v;
    if (!v) isFinishMSGReset_ = false;
}

void QlrDeviceCntlr::setIsRunningMemXfer(bool v) {
    std::lock_guard lock(runningMemXferLck_);
    isRunningMemXfer_ = v;
}

// ---- Pass-through ------------------------------------------------------------------------

TW_INT16 QlrDeviceCntlr::passThru(TW_UINT32 command, void* data, TW_UINT32 size) {
    TW_UINT32 word = command;
    TW_PASSTHRU record{};
    record.pCommand = &word;
    record.CommandBytes = kKdPassThruCommandBytes;
    record.Direction = 0;
    record.pData = data;
    record.DataBytes = size;
    record.DataBytesXfered = 0;
    return handler_->passThru(&record);
}

bool QlrDeviceCntlr::wasSentCancelToDS() { return sIsInvalidSendCancelToDS.load(); }

void QlrDeviceCntlr::sendCancelToDS() {
    if (sIsInvalidSendCancelToDS.exchange(true)) return;
    passThru(kPassThruAbortRequest, nullptr, 0);
}

TW_UINT32 QlrDeviceCntlr::getDeviceBtnStatus() {
    TW_UINT32 status = 0;
    passThru(kPassThruButtonStatus, &status, sizeof status);
    return status;
}

std::array<std::uint8_t, 16> QlrDeviceCntlr::getDeviceInfo() {
    std::array<std::uint8_t, 16> info{};
    passThru(kPassThruDeviceInfo, info.data(), TW_UINT32(info.size()));
    return info;
}

TW_INT16 QlrDeviceCntlr::resetRollerCount(TW_UINT32 command) { return passThru(command, nullptr, 0); }

void QlrDeviceCntlr::getShadingDataOnPassThru() {
    TW_UINT32 status = 0;
    if (passThru(kPassThruButtonStatus, &status, sizeof status) != TWRC_SUCCESS) {
        setShadingData(nullptr);
        return;
    }
    kdf::DataObjectHandle handle = kdf::kNoDataObject;
    passThru(kPassThruGetShading, &handle, sizeof handle);
    // The source registered a new object for us: we own it through the
    // handle whatever the code said. A reply without an object keeps nothing.
    ShadingData data;
    if (handle != kdf::kNoDataObject) {
        if (auto bytes = kdf::DataObjectRegistry::adopt(handle))
            data = std::make_shared<const kdf::Bytes>(std::move(*bytes));
    }
    setShadingData(std::move(data));
}

void QlrDeviceCntlr::setShadingDataOnPassThru() {
    // The source validates the handle and copies the bytes during the call;
    // our registration ends with it.
    kdf::DataObjectHandle handle = kdf::kNoDataObject;
    if (shadingData_) handle = kdf::DataObjectRegistry::add(*shadingData_);
    passThru(kPassThruSetShading, &handle, sizeof handle);
    if (handle != kdf::kNoDataObject) kdf::DataObjectRegistry::release(handle);
}

// ---- Alerts ------------------------------------------------------------------------------

void QlrDeviceCntlr::showError(const std::string& key, bool isUseTvAlert, bool wait) {
    lastAlertKey_ = key;
    auto request = TV_Message::paramShowPanel("Error", key, std::nullopt, "OK", std::nullopt, std::nullopt, TV_Message::kCriticalAlertStyle, 0,
                                  isUseTvAlert);
    kdf::RunLoop::performOnMainThread([request] { TV_Message::performShowPanel(request); }, wait);
}

// ---- Finding and opening -----------------------------------------------------------------

TW_UINT16 QlrDeviceCntlr::getStatusCC() {
    dsStatus_ = TW_STATUS{};
    // A failed MSG_OPENDS is the manager's to explain (TWCC_NODS and the
    // like); an open source explains its own failures.
    const TW_INT16 rc = handler_->isDSOpen() ? handler_->getDSStatus(&dsStatus_) : handler_->getDSMStatus(&dsStatus_);
    return rc != TWRC_SUCCESS ? TW_UINT16(0xFFFF) : dsStatus_.ConditionCode;
}

TW_INT16 QlrDeviceCntlr::findDSAndOpenDS() {
    if (delegate_) delegate_->sendChangeValidWatchingDeviceBtn(false);
    TW_INT16 code = handler_->getFirst();
    if (code != TWRC_SUCCESS) {
        code = TWRC_ENDOFLIST;
    } else {
        // Any code other than 0 ends the walk: a manager answering something
        // unexpected must not keep us here forever.
        while (code == TWRC_SUCCESS) {
            const auto maker = AppMainCntlrDSInfo::curDS_Manufacturer();
            const auto family = AppMainCntlrDSInfo::curDS_ProductFamily();
            const auto product = AppMainCntlrDSInfo::curDS_ProductName();
            const auto& id = handler_->dsIdentity();
            if (maker && family && maker == identityString(id.Manufacturer) &&
                family == identityString(id.ProductFamily) && product == identityString(id.ProductName)) {
                handler_->registerCallback(TWAIN_ScanCallback, 0);
                code = handler_->openDS();
                break;
            }
            code = handler_->getNext();
        }
    }
    if (delegate_) delegate_->sendChangeValidWatchingDeviceBtn(true);
    return code;
}

bool QlrDeviceCntlr::openDS(std::shared_ptr<InputModel> model, bool isOpenScnPanel, bool isUseTvAlert) {
    delegate_ = sAppDelegate;
    setIsOpenScnPanel(isOpenScnPanel);

    auto fail = [&](TW_INT16 code) {
        showError(openFailureKey(code), isUseTvAlert, true);
        return false;
    };

    const TW_INT16 found = findDSAndOpenDS();
    if (found != TWRC_SUCCESS) {
        const TW_UINT16 condition = getStatusCC();
        handler_->closeDS();
        TW_INT16 code = TWRC_ENDOFLIST;
        if (found != TWRC_ENDOFLIST) code = (found == -2 || condition == TWCC_NODS) ? -2 : -3;
        return fail(code);
    }
    if (!model) {
        handler_->closeDS();
        return fail(-1);
    }
    setCurInputModel(model);
    if (!setCCAPsValues(nullptr)) {
        handler_->closeDS();
        return fail(-1);
    }

    if (delegate_) delegate_->setIsInvalidScanCancelOnMain(false);
    sIsInvalidSendCancelToDS = false;
    setIsScanCancel(false);
    setIsFinishMSGReset(false);
    setIsRunningMemXfer(false);

    if (isOpenScnPanel) {
        const TW_INT16 rc = handler_->enableDSUIOnly(&userInterface_);
        if (rc == TWRC_SUCCESS) return true;
        handler_->disableDS();
        handler_->closeDS();
        return fail(rc);
    }

    setShadingDataOnPassThru();
    const TW_INT16 rc = handler_->enableDS(&userInterface_);
    if (delegate_ && delegate_->isScnCancelOnMain()) {
        delegate_->scanCancelOnMainFromDeviveCntlr();
        auto* d = delegate_;
        kdf::RunLoop::performOnMainThread([d] { d->setAppStateNum(kStateScanEnded); }, true);
    } else if (rc != TWRC_SUCCESS && delegate_) {
        delegate_->setAppState(kStateScanEnded);
    }
    if (rc != TWRC_SUCCESS) {
        // Not an alert: the application state tells the user.
        handler_->disableDS();
        getShadingDataOnPassThru();
        handler_->closeDS();
    }
    return true;
}

void QlrDeviceCntlr::closeRequest() {
    if (!isRunningMemXfer() && delegate_ && !isOpenScnPanel_ && delegate_->isExeScningState())
        delegate_->setAppState(kStateScanEnded);
    handler_->disableDS();
    if (isOpenScnPanel_)
        kdf::NotificationCenter::defaultCenter().post(kDriverTerminateUINotification);
    else
        getShadingDataOnPassThru();
    handler_->closeDS();
}

void QlrDeviceCntlr::closeOK() {
    handler_->disableDS();
    if (isOpenScnPanel_) {
        if (getCCAPsValues(nullptr))
            kdf::NotificationCenter::defaultCenter().post(kDriverCloseDSOkNotification);
        else
            showError("Err_NotGetSetting", true, false);
        kdf::NotificationCenter::defaultCenter().post(kDriverTerminateUINotification);
    } else {
        getShadingDataOnPassThru();
    }
    handler_->closeDS();
}

void QlrDeviceCntlr::deviceEvent() {
    if (!delegate_ || isOpenScnPanel_ || isScanCancel()) return;
    TW_DEVICEEVENT event{};
    handler_->getDeviceEvent(&event);
    if (event.Event == kEventScanStarted)
        delegate_->setAppState(kStateScanning);
    else if (event.Event == kEventReadyToScan)
        delegate_->scanReadyByTwainCB();
}

// ---- The callback ------------------------------------------------------------------------

TW_UINT16 TWAIN_ScanCallback(pTW_IDENTITY, pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16 msg, TW_MEMREF) {
    QlrDeviceCntlr* cntlr = sQlrDeviceCntlr;
    if (!cntlr) return TWRC_SUCCESS;
    switch (msg) {
    case MSG_XFERREADY:
        if (auto* d = sAppDelegate) kdf::RunLoop::performOnMainThread([d] { d->scanReadyByTwainCB(); }, true);
        kdf::RunLoop::performOnMainThread(
            [] {
                if (sQlrDeviceCntlr) sQlrDeviceCntlr->xferReady();
            },
            false);
        break;
    case MSG_CLOSEDSREQ:
        kdf::RunLoop::performOnMainThread(
            [] {
                if (sQlrDeviceCntlr) sQlrDeviceCntlr->closeRequest();
            },
            false);
        break;
    case MSG_CLOSEDSOK:
        kdf::RunLoop::performOnMainThread(
            [] {
                if (sQlrDeviceCntlr) sQlrDeviceCntlr->closeOK();
            },
            false);
        break;
    case MSG_DEVICEEVENT: {
        TW_DEVICEEVENT event{};
        TV_TWAINHandler* handler = cntlr->twHandler();
        const bool idle = handler && handler->getDeviceEvent(&event) == TWRC_SUCCESS && event.Event == kEventIdle;
        if (idle && kdf::RunLoop::isMainThread()) {
            QlrDeviceCntlr::IdlePump pump;
            {
                std::lock_guard lock(sPumpLock);
                pump = sIdlePump;
            }
            if (pump) pump(0.1);
            auto* d = sAppDelegate;
            if ((d && d->isScnCancelOnMain()) || cntlr->isScanCancel()) cntlr->sendCancelToDS();
        } else {
            kdf::RunLoop::performOnMainThread(
                [] {
                    if (sQlrDeviceCntlr) sQlrDeviceCntlr->deviceEvent();
                },
                true);
        }
        break;
    }
    default:
        break;
    }
    return TWRC_SUCCESS;
}
