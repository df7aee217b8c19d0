// The application state: the one setter with its follow-up step, the range
// predicates, the scan start, the device controller's flags, the working
// copies of the job, and the checks for quitting, scanning and panels.
#include "AppMainCntlr.h"

#include "PluginRegistryQueries.h"
#include "QlrDeviceCntlr.h"
#include "QlrUtilsMethod.h"
#include "TV_Message.h"

#include <foundation/Bundle.h>
#include <foundation/RunLoop.h>

#include <QApplication>
#include <QCoreApplication>

#include <thread>

namespace {

// Set once the user confirmed quitting after a scan; never cleared.
std::atomic<bool> sIsConfirmedQuit{false};

constexpr kdf::RunLoopModes kDefaultModalTracking =
    kdf::RunLoopModes(kdf::RunLoopMode::Default) | kdf::RunLoopMode::ModalPanel | kdf::RunLoopMode::EventTracking;

bool between(int v, int lo, int hi) { return v >= lo && v <= hi; }

bool visibleOrMinimized(const QWidget* w) { return w && (w->isVisible() || w->isMinimized()); }

} // namespace

// ---- The state ------------------------------------------------------------------------------

void AppMainCntlr::setAppState(int state) {
    if (!kdf::RunLoop::isMainThread()) {
        setAppStateNum(state);
        return;
    }
    const int old = appState_.load();
    if (state == old) return;
    if ((state == kAppStateScanFinished || state == kAppStateScanEnded) && !between(old, 100, 104)) return;
    appState_.store(state);
    auto window = mainWindowPort();
    window->updateUIByAppState();
    shiftNextDisposeByAppState();
    window->setContentViewNeedsDisplay();
}

void AppMainCntlr::setAppStateNum(int state) {
    if (kdf::RunLoop::isMainThread()) {
        setAppState(state);
        return;
    }
    kdf::RunLoop::performOnMainThread([this, state] { setAppState(state); }, true);
}

void AppMainCntlr::shiftNextDisposeByAppState() {
    const int state = appState_.load();
    if (state == kAppStateMainTop) return;
    mainWindowPort()->displayProcessAnimationIfNeeded();
    switch (state) {
    case kAppStateScanFinished: {
        auto job = tmpCopyJobModel_Scan();
        if (!job || !job->isContinueScan()) {
            kdf::RunLoop::main().performAfterDelay(this, "finishScan", kdf::Seconds(0),
                                                   [this] { mainWindowPort()->finishScan(); });
        }
        removeDisusedTmpFile();
        break;
    }
    case kAppStateScanEnded:
        setIsAutoCloseApp(false);
        removeDisusedTmpFile();
        break;
    case kAppStateConvertNext: {
        clearIsFinScanAndWritedFile();
        auto writer = outputWriterPort();
        writer->releaseWriteFilePathArray(false, false);
        writer->initWriteFilePathArray(false);
        setIsOpenPDF(false);
        startOutputThread();
        break;
    }
    case kAppStateHandOn:
        kdf::RunLoop::main().performAfterDelay(this, "maybeSendFileToPlugin", kdf::Seconds(0),
                                               [this] { outputWriterPort()->maybeSendFileToPlugin(); });
        break;
    case kAppStateComplete: {
        buildCompleteJob();
        auto window = mainWindowPort();
        window->endProcWindow();
        window->cancelToMain(false);
        kdf::RunLoop::main().performAfterDelay(
            this, "startCompleteWindow", kdf::Seconds(0.5),
            [this] { mainWindowPort()->startCompleteWindowByPerform(); }, kDefaultModalTracking);
        break;
    }
    default:
        if (state > kAppStateComplete) setIsAutoCloseApp(false);
        break;
    }
}

void AppMainCntlr::startOutputThread() {
    ++runningThreads_;
    std::thread([this] {
        outputWriterPort()->readImgFiles();
        --runningThreads_;
    }).detach();
}

bool AppMainCntlr::isMainTopState() const { return appState() == kAppStateMainTop; }
bool AppMainCntlr::isExecuteScnState() const { return between(appState(), 100, 104); }
bool AppMainCntlr::isExeScningState() { return between(appState(), 100, 101); }
bool AppMainCntlr::isScanningOrWritingState() const { return between(appState(), 100, 102); }
bool AppMainCntlr::isFinishScnState() const { return between(appState(), 103, 104); }
bool AppMainCntlr::isStandbyScnState() const { return isMainTopState() || isFinishScnState(); }
bool AppMainCntlr::isValidCancelState() const { return between(appState(), 100, 199); }
bool AppMainCntlr::isExecuteScnFuncState() const { return between(appState(), 100, 202); }
bool AppMainCntlr::isFinishState() const { return between(appState(), 200, 205); }
bool AppMainCntlr::isOutputProcessingState() const { return between(appState(), 200, 202); }
bool AppMainCntlr::isFinishFixState() const { return appState() > kAppStateHandOn; }

// ---- The device controller ------------------------------------------------------------------

int AppMainCntlr::curDSStateOnCntlr() const {
    auto* d = deviceCntlr();
    return d ? int(d->curDSState()) : 10;
}

bool AppMainCntlr::isReadyScan() const {
    const int s = curDSStateOnCntlr();
    return s == 30 || s == 80;
}

bool AppMainCntlr::wasSentCancelToDSOnCntlr() const { return deviceCntlr() && QlrDeviceCntlr::wasSentCancelToDS(); }

void AppMainCntlr::cancelDriver(std::optional<bool> cancel) {
    auto* d = deviceCntlr();
    if (d && cancel) d->setIsScanCancel(*cancel);
}

bool AppMainCntlr::isCancelDriver() const {
    auto* d = deviceCntlr();
    return d && d->isScanCancel();
}

bool AppMainCntlr::isRunningScanThread() const {
    auto* d = deviceCntlr();
    return d && d->isRunningMemXfer();
}

bool AppMainCntlr::isFinishScan() const {
    auto* d = deviceCntlr();
    return d && d->isFinishMSGReset();
}

bool AppMainCntlr::executeScanOnCntlr() {
    clearIsFinScan();
    if (isRunningScanThread() || readImgFileForJobScnCount() != 0) return false;
    setIsScnCancelOnMain(false);
    cancelDriver(false);
    setIsWriteFileCancel(false);
    auto* device = deviceCntlr();
    if (!device) return false;
    mainWindowPort()->displayContentViewIfNeeded();
    auto job = tmpCopyJobModel_Scan();
    if (!job) return false;
    auto inputs = job->jobInputModel_List();
    if (inputs.empty()) return false;
    return device->openDS(inputs.front(), false, true);
}

void AppMainCntlr::scanCancelOnMain() {
    setIsWriteFileCancel(true);
    cancelDriver(true);
    mainWindowPort()->scanCancelOnMain();
}

// ---- The job copies -------------------------------------------------------------------------

std::shared_ptr<JobModel> AppMainCntlr::makeJobCopy(const JobModel& job, std::set<std::string>* copiedGuids) {
    auto copy = job.copy();
    if (!copy) return nullptr;
    for (const auto& output : copy->jobOutputModel_List()) {
        if (!output) continue;
        const std::string id = output->pluginID();
        const std::string guid = output->pluginGUID();
        if (guid.empty() || !PluginRegistryQueries::hasPluginObject(id)) continue;
        std::string newID;
        if (PluginRegistryQueries::copyID(id, guid, &newID) == 0 && !newID.empty()) {
            output->setPluginGUID(newID);
            copiedGuids->insert(newID);
        }
    }
    return copy;
}

void AppMainCntlr::clearJobCopy(const std::shared_ptr<JobModel>& copy, const std::set<std::string>* onlyGuids) {
    if (!copy) return;
    for (const auto& output : copy->jobOutputModel_List()) {
        if (!output) continue;
        const std::string id = output->pluginID();
        const std::string guid = output->pluginGUID();
        if (guid.empty() || !PluginRegistryQueries::hasPluginObject(id)) continue;
        if (onlyGuids && !onlyGuids->count(guid)) continue;
        PluginRegistryQueries::deleteID(id, guid);
    }
}

void AppMainCntlr::setTmpCopyJobModel_Scan(std::shared_ptr<JobModel> job) {
    auto held = tmpCopyJobModel_Scan();
    if (held == job) return;
    // A copy held while another job comes is cleared first, and the new job
    // is copied like any other: holding the given job itself would later
    // delete the panel's own plug-in settings when the copy is cleared.
    if (held) {
        put(tmpCopyJobModel_Scan_, std::shared_ptr<JobModel>());
        const auto owned = get(scanCopyGuids_);
        put(scanCopyGuids_, std::set<std::string>());
        // Only the settings this copy made are deleted: an output whose
        // plug-in could not copy still names the panel's own.
        clearJobCopy(held, &owned);
    }
    if (job) {
        std::set<std::string> owned;
        auto copy = makeJobCopy(*job, &owned);
        put(scanCopyGuids_, std::move(owned));
        put(tmpCopyJobModel_Scan_, std::move(copy));
    }
}

void AppMainCntlr::setTmpJobModel_Complete(std::shared_ptr<JobModel> job) {
    auto held = tmpJobModel_Complete();
    // The same job again keeps its plug-in settings: they are in use.
    if (held == job) return;
    clearJobCopy(held, nullptr);
    put(tmpJobModel_Complete_, std::move(job));
}

void AppMainCntlr::buildCompleteJob() {
    auto scan = tmpCopyJobModel_Scan();
    auto copy = scan ? scan->copy() : nullptr;
    if (!copy) return;
    const auto scanOutputs = scan->jobOutputModel_List();
    const auto outputs = copy->jobOutputModel_List();
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const auto& output = outputs[i];
        if (!output) continue;
        const std::string id = output->pluginID();
        const std::string guid = output->pluginGUID();
        output->setPluginID("");
        output->setPluginGUID("");
        if (!id.empty() && !guid.empty() && PluginRegistryQueries::hasPluginObject(id)) {
            std::string newID;
            if (PluginRegistryQueries::copyID(id, guid, &newID) == 0 && !newID.empty()) {
                output->setPluginID(id);
                output->setPluginGUID(newID);
            }
        }
        output->setWriteFilePathArray(i < scanOutputs.size() && scanOutputs[i] ? scanOutputs[i]->writeFilePathArray()
                                                                              : std::vector<std::string>());
    }
    setTmpJobModel_Complete(copy);
}

// ---- Auto close and quitting ----------------------------------------------------------------

void AppMainCntlr::setIsAutoCloseApp(bool flag) {
    if (!flag) {
        if (QWidget* w = mainWindow(); w && w->windowOpacity() != 1.0) w->setWindowOpacity(1.0);
    }
    isAutoCloseApp_.store(flag);
}

void AppMainCntlr::terminateByAutoClose() {
    if (!isMainTopState() || !isAutoCloseApp()) return;
    if (!isModalWindow()) terminateQlr();
    setIsAutoCloseApp(false);
}

void AppMainCntlr::terminateQlr() {
    if (QCoreApplication::instance()) QCoreApplication::quit();
}

void AppMainCntlr::performTerminate() {
    kdf::RunLoop::main().performAfterDelay(this, "terminate", kdf::Seconds(0), [this] { terminateQlr(); },
                                           kDefaultModalTracking);
}

void AppMainCntlr::performCloseQlr() {
    for (QWidget* w : {mainWindow(), aboutWindow(), dialogsPort()->preferencesPanel()}) {
        if (w && w->isVisible() && w->isActiveWindow() && !w->isMinimized()) {
            w->close();
            return;
        }
    }
}

bool AppMainCntlr::isModalWindow() const {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) && QApplication::activeModalWidget()) return true;
    auto window = mainWindowPort();
    if (window->hasAttachedSheet() || window->isVisibleSettingWindow()) return true;
    auto dialogs = dialogsPort();
    if (dialogs->isFileOptionPanelVisible() || dialogs->isFileNamePanelVisible()) return true;
    if (visibleOrMinimized(kdMainWin_) || visibleOrMinimized(kdSubWin_)) return true;
    if (isShowedPluginWin()) return true;
    return !dummyWindow_.isNull();
}

bool AppMainCntlr::isOpenKdWin() const { return !kdMainWin_.isNull() || !kdSubWin_.isNull(); }

void AppMainCntlr::showErrorPanel(const char* key) const {
    TV_Message::showPanel("Error", std::string(key), std::nullopt, "OK", std::nullopt, std::nullopt,
                          TV_Message::kCriticalAlertStyle, 0, true);
}

void AppMainCntlr::checkAndShowScanningOrProcessingMsg() const {
    const int s = appState();
    if (between(s, 100, 102))
        showErrorPanel("Err_NotQuitAppInScanning");
    else if (between(s, 200, 202))
        showErrorPanel("Err_NotQuitAppInProcessing");
}

bool AppMainCntlr::isValidAppTerminate() {
    if (isModalWindow()) return false;
    if (isRunningScanThread()) {
        checkAndShowScanningOrProcessingMsg();
        return false;
    }
    const int s = appState();
    if (!between(s, 100, 202)) return true;
    if (between(s, 103, 104)) {
        if (!sIsConfirmedQuit.load()) {
            // Without pages the plain quit question, when it has a text;
            // else the one about leaving the scan.
            std::optional<std::string> localized;
            if (countOfImgInfo() == 0) {
                if (auto bundle = kdf::Bundle::main()) {
                    std::string t = bundle->localizedString("Cnfm_QuitAppYesOrNo");
                    if (!t.empty() && t != "Cnfm_QuitAppYesOrNo") localized = std::move(t);
                }
            }
            const std::optional<std::string> key =
                localized ? std::nullopt : std::optional<std::string>("Cnfm_ScanCancelToMainYesOrNo");
            const int answer = TV_Message::showPanel("Confirm", key, localized, "OK", "Cancel", std::nullopt,
                                                     TV_Message::kInformationalAlertStyle, 0, true);
            if (answer == TV_Message::kAlertAlternateReturn) return false;
            if (answer == TV_Message::kAlertDefaultReturn) {
                releaseImgInfoArray(true);
                QlrUtilsMethod::removeTmpFolder();
            }
            sIsConfirmedQuit.store(true);
        }
        return true;
    }
    checkAndShowScanningOrProcessingMsg();
    return false;
}

bool AppMainCntlr::isValidSyncDriver() const {
    if (isRunningScanThread() || !isReadyScan()) return false;
    return isStandbyScnState();
}

bool AppMainCntlr::isCheckValidSelectedSetting() const {
    const auto inputs = selectedModelList(kInputPanelType);
    const auto outputs = selectedModelList(kOutputPanelType);
    if (!inputs) {
        showErrorPanel("Err_NotSelectedInput");
        return false;
    }
    if (!outputs) {
        showErrorPanel("Err_NotSelectedOutput");
        return false;
    }
    return true;
}

bool AppMainCntlr::isCheckValidAddNewSetting(int panelType) const {
    const auto list = panelListOfType(panelType);
    if (list && list->size() < std::size_t(kMaxPanelCount)) return true;
    showErrorPanel("Err_NotAddNewSetting");
    return false;
}

bool AppMainCntlr::isCheckValidDeleteSetting(bool isUseTvAlert) const {
    return TV_Message::showPanel("Confirm", std::string("Cnfm_SettingDeleteYesOrNo"), std::nullopt, "OK", "Cancel",
                                 std::nullopt, TV_Message::kInformationalAlertStyle, 0,
                                 isUseTvAlert) == TV_Message::kAlertDefaultReturn;
}
