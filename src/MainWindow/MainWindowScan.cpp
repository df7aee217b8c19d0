#include "MainWindowScan.h"

#include "AppMainCntlr.h"
#include "PanelSettingCntlr.h"
#include "PreviewBaseView.h"

#include <QScrollArea>
#include "QlrDeviceCntlr.h"
#include "QlrUtilsMethod.h"
#include "TV_Message.h"
#include "TvTextFields.h"

#include <foundation/Exception.h>
#include <foundation/RunLoop.h>
#include <plugin/TvQLRPlugin.h>
#include <ui/FrameChange.h>
#include <ui/ImageBrowserView.h>
#include <ui/ViewTag.h>

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QComboBox>
#include <QLineEdit>
#include <QSpinBox>

#include <filesystem>

namespace qlr_main {

namespace {

// Re-sent start requests of the current request (main thread only).
int sRetryExecuteScanCnt = 0;

constexpr const char* kExecuteScanKey = "executeScan";
constexpr const char* kFinishScanKey = "finishScan";

constexpr kdf::RunLoopModes kDefaultModalTracking =
    kdf::RunLoopModes(kdf::RunLoopMode::Default) | kdf::RunLoopMode::ModalPanel | kdf::RunLoopMode::EventTracking;

// A control's integer value, whatever kind of control carries it.
void setIntValue(QWidget* control, int value) {
    if (auto* spin = qobject_cast<QSpinBox*>(control))
        spin->setValue(value);
    else if (auto* slider = qobject_cast<QAbstractSlider*>(control))
        slider->setValue(value);
    else if (auto* combo = qobject_cast<QComboBox*>(control))
        combo->setCurrentIndex(value);
    else if (auto* edit = qobject_cast<QLineEdit*>(control))
        edit->setText(QString::number(value));
    else if (auto* button = qobject_cast<QAbstractButton*>(control); button && button->isCheckable())
        button->setChecked(value != 0);
}

bool isShownWindow(const QWidget* w) { return w && w->windowOpacity() > 0.0; }

int askConfirm(const char* key) {
    return TV_Message::showPanel("Confirm", std::string(key), std::nullopt, "OK", "Cancel", std::nullopt,
                                 TV_Message::kInformationalAlertStyle, 0, true);
}

} // namespace

std::shared_ptr<JobModel> MainWindowScanHost::createJobModel(bool withUseCountRecord) {
    AppMainCntlr* cntlr = AppMainCntlr::current();
    return cntlr ? PanelSettingCntlr::jobModelOfSelection(*cntlr, withUseCountRecord) : nullptr;
}

MainWindowScan::MainWindowScan(AppMainCntlr& cntlr, MainWindowScanHost& host) : cntlr_(cntlr), host_(host) {}

MainWindowScan::~MainWindowScan() { kdf::RunLoop::main().cancelPerforms(this); }

int MainWindowScan::retryExecuteScanCount() { return sRetryExecuteScanCnt; }

QWidget* MainWindowScan::scanControl(int tag) const { return kdui::viewWithTag(host_.scanContentView(), tag); }

void MainWindowScan::unhighlight(QWidget* control) const {
    auto* button = qobject_cast<QAbstractButton*>(control);
    if (!button) return;
    button->setDown(false);
    if (button->isCheckable()) button->setChecked(false);
}

void MainWindowScan::panelIBViewClickCell(unsigned index) {
    ScanRequest request;
    request.control = kdui::viewWithTag(host_.topContentView(), kTagJobPanelClickControl);
    request.isJobPanelClick = true;
    request.index = index;
    executeScan(request);
}

void MainWindowScan::executeScan(const ScanRequest& request) {
    QWidget* control = request.control;

    host_.endProcWindow();
    host_.endCompleteWindow();
    host_.hideQlrNavigation();
    host_.closePreferencesPanel();
    host_.hidePanelFieldEditor();
    unhighlight(control);

    auto& loop = kdf::RunLoop::main();
    if (!cntlr_.isValidSyncDriver()) {
        // The scanner is briefly busy: the whole request is tried again, so
        // a clicked job stays that job; only the newest request waits.
        if (sRetryExecuteScanCnt < kMaxExecuteScanRetries) {
            loop.cancelPerforms(this, kExecuteScanKey);
            loop.performAfterDelay(
                this, kExecuteScanKey, kdf::Seconds(0), [this, request] { executeScan(request); },
                kDefaultModalTracking);
            ++sRetryExecuteScanCnt;
        } else {
            sRetryExecuteScanCnt = 0;
        }
        return;
    }
    // This request runs now: an older one still waiting is dropped.
    loop.cancelPerforms(this, kExecuteScanKey);

    if (!cntlr_.tmpCopyJobModel_Scan()) {
        std::shared_ptr<JobModel> job;
        if (request.isJobPanelClick) {
            const auto list = cntlr_.panelListOfType(kJobPanelType).value_or(std::vector<std::shared_ptr<PanelModel>>{});
            if (request.index < list.size()) job = std::dynamic_pointer_cast<JobModel>(list[request.index]);
            if (job) {
                kdf::Array indexes;
                for (std::size_t i = 0; i < list.size(); ++i)
                    if (list[i] == job) indexes.emplace_back(int(i));
                job->setUserInfoList(kdf::Array{kdf::Value(kdf::Array{kdf::Value(int(kJobPanelType)),
                                                                      kdf::Value(std::move(indexes))})});
            }
        } else {
            if (!cntlr_.isCheckValidSelectedSetting()) {
                sRetryExecuteScanCnt = 0;
                return;
            }
            job = host_.createJobModel(true);
        }
        cntlr_.setTmpCopyJobModel_Scan(job);
        if (auto copy = cntlr_.tmpCopyJobModel_Scan()) copy->setOutputIndex(0);
    }

    auto copy = cntlr_.tmpCopyJobModel_Scan();
    const bool started = copy && host_.checkSettingValue(control, *copy) && cntlr_.executeScanOnCntlr();
    if (!started && cntlr_.isMainTopState()) cntlr_.setTmpCopyJobModel_Scan(nullptr);
    sRetryExecuteScanCnt = 0;
}

void MainWindowScan::scanReadyByTwainCB() {
    const int state = cntlr_.appState();
    if (state == kAppStateScanReady || state == kAppStateScanFinished || state == kAppStateScanEnded) {
        cntlr_.setAppState(kAppStateScanReady);
        return;
    }
    if (state != kAppStateMainTop) return;
    auto job = cntlr_.tmpCopyJobModel_Scan();
    // A ready signal nobody asked for (no job copy) prepares nothing.
    if (!job) return;

    cntlr_.setIsErrInFinalOutput(false);
    QWidget* window = host_.mainWindow();
    if (window && window->windowOpacity() != 1.0) {
        job->setIsImageProcess(false);
        job->setIsContinueScan(false);
    }

    if (const auto entries = job->userInfoList()) {
        for (const auto& entry : *entries) {
            const kdf::Array* pair = entry.array();
            if (!pair || pair->size() < 2) continue;
            const auto type = (*pair)[0].toInteger();
            const kdf::Array* indexes = (*pair)[1].array();
            if (!type || !indexes || *type < kInputPanelType || *type > kJobPanelType) continue;
            const auto list = cntlr_.panelListOfType(int(*type));
            if (!list) continue;
            for (const auto& value : *indexes) {
                const auto index = value.toInteger();
                if (!index || *index < 0 || std::size_t(*index) >= list->size()) continue;
                const auto& panel = (*list)[std::size_t(*index)];
                if (!panel) continue;
                if (auto whole = panel->wholeModel()) whole->setPanelUseCount(whole->panelUseCount() + 1);
            }
        }
    }

    transitionViewToScanning();
    host_.showHideEditImageDisplay(nullptr, false, false);
    if (QWidget* edit = scanControl(kTagEditImageControl)) edit->setVisible(job->isImageProcess());
    if (auto* browser = host_.pageBrowser()) browser->setAllowsReordering(job->isImageProcess());
    if (QWidget* again = scanControl(kTagScanAgainButton)) again->setEnabled(job->isContinueScan());
    if (QWidget* pageNumber = scanControl(kTagPageNumberOutput)) setIntValue(pageNumber, 1);

    cntlr_.setIsOpenPDF(false);
    QlrUtilsMethod::createTmpFolder();
    cntlr_.initImgInfoArray();
    cntlr_.setAppState(kAppStateScanReady);

    if (QWidget* scan = host_.scanContentView()) kdui::postFrameDidChange(scan);
    if (auto* preview = host_.previewView())
        if (QWidget* scroll = preview->enclosingScrollArea()) kdui::postFrameDidChange(scroll);
    if (QWidget* content = host_.contentView()) content->repaint();
    if (window) {
        window->raise();
        window->activateWindow();
    }
}

void MainWindowScan::finishScan(QWidget* sender) {
    const int count = cntlr_.countOfImgInfoDict();
    if (cntlr_.isRunningScanThread() || cntlr_.readImgFileForJobScnCount() > 0) {
        // Pages are still arriving or being written: look again shortly
        // rather than spinning the main thread.
        auto& loop = kdf::RunLoop::main();
        loop.cancelPerforms(this, kFinishScanKey);
        QPointer<QWidget> again(sender);
        const bool hadSender = sender != nullptr;
        loop.performAfterDelay(
            this, kFinishScanKey, kdf::Seconds(kFinishScanRecheckSeconds),
            [this, again, hadSender] {
                if (hadSender && !again) return;
                finishScan(again);
            },
            kDefaultModalTracking);
        return;
    }
    if (count == 0) return;

    cntlr_.setIsScnCancelOnMain(false);
    cntlr_.cancelDriver(false);
    cntlr_.setIsWriteFileCancel(false);

    auto job = cntlr_.tmpCopyJobModel_Scan();
    if (!job) return;
    if (job->isImageProcess() || cntlr_.isErrInFinalOutput() || job->isContinueScan()) return;
    executeFunction(nullptr);
}

void MainWindowScan::executeFunction(QWidget* sender) {
    const int tag = sender ? kdui::tag(sender) : int(kTagFinishButton);
    try {
        runOutputStep(sender, tag);
    } catch (...) {
        // Named exceptions show their own message, anything else the
        // unknown-error one; none may escape into the toolkit.
        TV_Message::showErrorPanel(std::current_exception());
    }
}

void MainWindowScan::runOutputStep(QWidget* sender, int tag) {
    if (tag == kTagFinishButton) {
        auto job = cntlr_.tmpCopyJobModel_Scan();
        if (!job) return;
        if (sender && !host_.checkSettingValue(sender, *job)) return;
        host_.cancelEditingImage();
        cntlr_.outputWriterPort()->checkClosePDF();
        host_.setCurrentOutputNone();
        cntlr_.setAppState(kAppStateOutputStarted);
        const bool convert = job->isImageProcess() || cntlr_.isErrInFinalOutput();
        cntlr_.setAppState(convert ? kAppStateConvertNext : kAppStateHandOn);
    } else if (tag == kTagBackToMainButton) {
        cancelToMain();
    }
}

void MainWindowScan::againExeScan(QWidget* sender) {
    if (!sender || !sender->isEnabled()) return;
    unhighlight(sender);
    host_.cancelEditingImage();
    executeScan(ScanRequest{});
}

void MainWindowScan::cancelToMain() { clearProcessAndShiftToMain(nullptr); }

bool MainWindowScan::clearProcessAndShiftToMain(QWidget* sender, bool silent) {
    bool result = false;
    bool discard = false;
    if (cntlr_.isValidCancelState()) {
        if (silent) {
            discard = true;
            silent = false;
            sender = nullptr;
        } else if (cntlr_.countOfImgInfoDict() > 0 || sender) {
            const int answer = askConfirm("Cnfm_ScanCancelToMainYesOrNo");
            if (answer == TV_Message::kAlertAlternateReturn) return false;
            discard = answer == TV_Message::kAlertDefaultReturn;
        }
        scanCancelOnMain();
        result = true;
    }
    if (silent) return false;

    cntlr_.outputWriterPort()->checkClosePDF();
    transitionViewToMain();
    cntlr_.releaseImgInfoArray(discard);
    QlrUtilsMethod::removeTmpFolder();
    return result;
}

void MainWindowScan::scanCancelOnMain() {
    // The controller sets the write-cancel flag and raises the device
    // controller's cancel flag.
    kdf::RunLoop::performOnMainThread([this] { cntlr_.scanCancelOnMain(); }, true);
}

void MainWindowScan::actionFromProcWindow(QWidget* sender) {
    if (!sender || kdui::tag(sender) != kTagProcCancelButton) return;
    auto job = cntlr_.tmpCopyJobModel_Scan();
    auto input = AppMainCntlr::curInputModelOfJobModel(job.get());
    const bool manualFeedCancel =
        AppMainCntlrDSInfo::isInvisibleScanPanel() && input && input->ccap_TVK_MANUALFEED() > 0;
    const int state = cntlr_.appState();
    if (!(state == kAppStateScanning || (state == kAppStateScanReady && manualFeedCancel))) return;

    const bool useDriverSetting = input && input->isUseDriverSetting();
    const bool prescan = input && input->ccap_TVK_PRESCAN() > 0;
    const int colorType = input ? input->scnStColorType() : 1;

    if (manualFeedCancel) {
        unhighlight(sender);
        cntlr_.setIsScnCancelOnMain(true);
        return;
    }
    auto* device = cntlr_.deviceCntlr();
    if (device && device->isOpenScnPanel()) return;
    if (isShownWindow(cntlr_.kdMainWin()) || isShownWindow(cntlr_.kdSubWin())) return;
    const bool hasPages = cntlr_.countOfImgInfoDict() > 0;
    if (!hasPages && prescan && (colorType != 0 || useDriverSetting)) return;

    unhighlight(sender);
    if (hasPages && askConfirm("Cnfm_ScanCancelYesOrNo") == TV_Message::kAlertAlternateReturn) return;
    host_.setStateInfoStrForProcWin("ScanState_ScningCancel", "");
    sender->setEnabled(false);
    cntlr_.setIsScnCancelOnMain(true);
}

void MainWindowScan::actionFromCompleteWindow(QWidget* sender) {
    if (!sender) return;
    const int tag = kdui::tag(sender);
    if (tag == kTagCompleteCloseButton) {
        host_.endCompleteWindow();
        return;
    }
    if (tag != kTagCompleteLink1 && tag != kTagCompleteLink2 && tag != kTagCompleteLink3) return;
    auto* link = qobject_cast<TvOpenLinkTextField*>(sender);
    auto output = link ? link->outputModel() : nullptr;
    if (!output) return;

    const std::string pluginID = output->pluginID();
    const std::string guid = output->pluginGUID();
    if (output->isValidPlugin() && !pluginID.empty() && !guid.empty()) {
        TvQLRPlugin2* plugin = host_.pluginObjectByID(pluginID);
        if (!plugin) return;
        bool enabled = false;
        if (plugin->isSupportLinkButton(guid, &enabled) != kTvSvPluginSuccess || !enabled) return;
        std::optional<std::string> label;
        if (plugin->copyLinkLable(guid, &label) != kTvSvPluginSuccess || !label) return;
        plugin->clickedLinkLabel(guid);
        return;
    }
    // An output that wrote nothing has no folder to show.
    const auto written = output->writeFilePathArray();
    if (written.empty()) return;
    QlrUtilsMethod::openLinkPath(std::filesystem::path(written.front()).parent_path().string());
}

void MainWindowScan::connectScanViewActions() {
    const std::pair<int, void (MainWindowScan::*)(QWidget*)> actions[] = {
        {kTagScanAgainButton, &MainWindowScan::againExeScan},
        {kTagBackToMainButton, &MainWindowScan::executeFunction},
        {kTagFinishButton, &MainWindowScan::executeFunction},
    };
    for (const auto& [tag, action] : actions) {
        auto* button = qobject_cast<QAbstractButton*>(scanControl(tag));
        if (!button) continue;
        QObject::connect(button, &QAbstractButton::clicked, button,
                         [this, button, action = action] { (this->*action)(button); });
    }
}

void MainWindowScan::transitionViewToScanning() {
    QWidget* content = host_.contentView();
    QWidget* top = host_.topContentView();
    QWidget* scan = host_.scanContentView();
    if (top) top->hide();
    if (scan) {
        if (content) scan->setGeometry(content->rect());
        scan->show();
        kdui::postFrameDidChange(scan);
    }
    if (content) content->update();
}

void MainWindowScan::transitionViewToMain() {
    host_.updateEditImageViews(false, false);
    QWidget* content = host_.contentView();
    QWidget* top = host_.topContentView();
    QWidget* scan = host_.scanContentView();
    if (scan) scan->hide();
    if (top) {
        if (content) top->setGeometry(content->rect());
        top->show();
    }
    cntlr_.setAppState(kAppStateMainTop);
    if (top) kdui::postFrameDidChange(top);
    if (content) content->update();
    if (auto* device = cntlr_.deviceCntlr()) device->setShadingData(nullptr);
}

} // namespace qlr_main
