// The main window by application state: the process window's texts and
// buttons while a job scans and writes, the completion window that lists
// where each output went, the pause of these windows while an alert runs
// and the dark shield under the application's own alert.
#include "MainWindowController.h"

#include <AppMainCntlr.h>
#include <JobModel.h>
#include <OutputModel.h>
#include <PluginRegistryQueries.h>
#include <QlrDeviceCntlr.h>
#include <QlrUtilsMethod.h>
#include <TV_FuncUI.h>
#include <TV_Message.h>
#include <TvAnimationImageView.h>
#include <TvBackgroundViews.h>
#include <TvNotifications.h>
#include <TvPopoverWindow.h>
#include <TvTextFields.h>
#include <TvUI.h>
#include <TvWindow.h>

#include <foundation/Bundle.h>
#include <foundation/Format.h>
#include <foundation/NotificationCenter.h>
#include <foundation/RunLoop.h>
#include <ui/FrameChange.h>

#include <QAbstractButton>
#include <QEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>

#include <chrono>
#include <filesystem>
#include <thread>

namespace {

// One value per process, as the windows they describe.
bool sIsShowProcWindow = false;
bool sIsShowCompleteWindow = false;
// The alert pause under way: the setting window's close flag before it and
// whether the process window was up.
bool sIsAlertPaused = false;
bool sSavedIsValidClose = false;
bool sWasShowProcWindow = false;

constexpr kdf::RunLoopModes kDefaultModalTracking =
    kdf::RunLoopModes(kdf::RunLoopMode::Default) | kdf::RunLoopMode::ModalPanel | kdf::RunLoopMode::EventTracking;

constexpr const char* kCloseCompleteKey = "actionFromCompleteWindow";
constexpr const char* kTerminateKey = "terminateByAutoClose";
constexpr const char* kShowDarkShieldKey = "showDarkShield";

std::string localized(const char* key) {
    return kdf::localizedMainString(key);
}

std::string fieldText(const QWidget* field) {
    if (const auto* label = qobject_cast<const QLabel*>(field)) return label->text().toStdString();
    if (const auto* edit = qobject_cast<const QLineEdit*>(field)) return edit->text().toStdString();
    return {};
}

void setEnabledOf(QWidget* view, bool enabled) {
    if (view) view->setEnabled(enabled);
}

// Keeps the dark shield over the whole content view as the window resizes.
class ShieldSizer : public QObject {
public:
    ShieldSizer(QWidget* content, QWidget* shield) : QObject(shield), mShield(shield) {
        content->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Resize && mShield) {
            mShield->setGeometry(static_cast<QWidget*>(watched)->rect());
            mShield->raise();
        }
        return false;
    }

private:
    QPointer<QWidget> mShield;
};

} // namespace

MainWindowController::~MainWindowController() {
    kdf::RunLoop::main().cancelPerforms(this);
    hideDarkShield();
    // The windows go with the controller, and so do their process-wide marks.
    if (mProcessWindow && sIsShowProcWindow) TvWindow::endModalWindow(mProcessWindow, false);
    sIsShowProcWindow = false;
    sIsShowCompleteWindow = false;
    sIsAlertPaused = false;
    sWasShowProcWindow = false;
    delete mProcessWindow.data();
    delete mCompleteWindow.data();
    delete mAboutWindow.data();
    delete mSettingWindow.data();
}

bool MainWindowController::isShowProcWindow() { return sIsShowProcWindow; }
bool MainWindowController::isShowCompleteWindow() { return sIsShowCompleteWindow; }

void MainWindowController::setText(QWidget* field, const std::string& text) {
    const QString t = QString::fromStdString(text);
    if (auto* label = qobject_cast<QLabel*>(field)) label->setText(t);
    else if (auto* edit = qobject_cast<QLineEdit*>(field)) edit->setText(t);
    else if (auto* button = qobject_cast<QAbstractButton*>(field)) button->setText(t);
}

// ---- The window by application state --------------------------------------------------------

void MainWindowController::updateUIByAppState() {
    const int state = mCntlr.appState();
    const auto job = mCntlr.tmpCopyJobModel_Scan();
    const auto input = AppMainCntlr::curInputModelOfJobModel(job.get());
    const auto output = AppMainCntlr::curOutputModelOfJobModel(job.get());
    const bool isValidPlugin = output && output->isValidPlugin();
    const std::string pluginID = output ? output->pluginID() : std::string();
    const bool isSideChoosable = AppMainCntlr::isSupportedScanSide();
    const bool isManualFeed = isSideChoosable && input && input->ccap_TVK_MANUALFEED() > 0;

    const std::string scanPanelHint = localized("ScanInfo_DiplayScanPanel");
    QWidget* stateField = processItem(kProcStateInfoTag);
    QWidget* infoField = processItem(kProcInfoTag);
    QWidget* cancelButton = processItem(kProcCancelButtonTag);
    const std::string curInfo = fieldText(infoField);

    if (state == kAppStateMainTop) return;

    const auto pageCount = std::int64_t(mCntlr.preImageModel_List().size());
    if (state >= kAppStateScanReady && state <= kAppStateScanEnded) {
        setText(cancelButton, localized("Cancel"));
        setEnabledOf(cancelButton, true);
        if (state == kAppStateScanEnded) setEnabledOf(mainItem(kAgainScanButtonTag), true);
        else if (state == kAppStateScanFinished)
            setEnabledOf(mainItem(kAgainScanButtonTag), job && job->isContinueScan());

        std::string stateText;
        if (state == kAppStateScanReady) {
            mCntlr.previewPort()->setupPreviewByStartScan();
            stateText = localized(isSideChoosable ? "ScanState_Ready" : "ScanState_ReadyOneSide");
        } else if (state == kAppStateScanning || state == kAppStateScanWriting) {
            stateText = kdf::formatLocalized(localized("ScanState_Scning"), {pageCount});
        }

        if (state == kAppStateScanReady && isManualFeed) {
            setText(infoField, scanPanelHint);
            setText(stateField, stateText);
        } else {
            setText(stateField, stateText);
            if (isManualFeed) {
                if ((state == kAppStateScanFinished || state == kAppStateScanEnded) && curInfo == scanPanelHint)
                    setText(infoField, "");
            } else if (state != kAppStateScanEnded) {
                setText(infoField, "");
            }
        }

        if (state == kAppStateScanReady || state == kAppStateScanning) {
            startProcWindow();
        } else if (state == kAppStateScanFinished || state == kAppStateScanEnded) {
            mCntlr.previewPort()->restorePreviewByEndScan();
            if (state == kAppStateScanEnded) {
                setText(stateField, "");
                endProcWindow();
            } else if ((job && (job->isImageProcess() || job->isContinueScan())) || mCntlr.isErrInFinalOutput()) {
                endProcWindow();
            }
        }
        return;
    }

    switch (state) {
    case kAppStateOutputStarted:
        setText(stateField, kdf::formatLocalized(localized("FixState_Exe_SaveFile"), {std::int64_t(0), pageCount}));
        setText(infoField, "");
        setEnabledOf(cancelButton, false);
        startProcWindow();
        break;
    case kAppStateHandOn:
        // The finishing step is seen before the plug-in takes over.
        std::this_thread::sleep_for(std::chrono::duration<double>(kHandOnPauseSeconds));
        if (isValidPlugin) {
            std::string name;
            if (!pluginID.empty()) {
                if (auto value = PluginRegistryQueries::valueForPluginIDWithType(pluginID, 0))
                    if (const std::string* s = value->string()) name = *s;
            }
            setText(stateField, kdf::formatLocalized(localized("FixState_Exe_Plugin"), {name}));
            setText(infoField, "");
        }
        break;
    case kAppStateComplete:
        endProcWindow();
        break;
    case kAppStateWriteError:
    case kAppStateHandOnError: {
        // The scan screen comes back with its pages, so the user can choose
        // another output and write them again.
        mCntlr.setIsErrInFinalOutput(true);
        mCntlr.storeAppState(kAppStateScanEnded);
        if (QWidget* button = mainItem(kOutputSettingButtonTag)) button->setHidden(false);
        if (QlrDeviceCntlr* device = mCntlr.deviceCntlr()) device->setShadingData(nullptr);
        auto writer = mCntlr.outputWriterPort();
        writer->remakeTmpDirForSendPlugin();
        mCntlr.clearIsFinScanAndWritedFile();
        writer->releaseWriteFilePathArray(false, false);
        writer->initWriteFilePathArray(false);
        mCntlr.setIsOpenPDF(false);
        endProcWindow();
        break;
    }
    default:
        break;
    }
}

void MainWindowController::placeFlatWindow(QWidget* window) {
    using namespace TV_Func;
    const std::uint16_t alignment = QlrUtilsMethod::isLTR_LayoutDirection() ? (kAlignRight | kAlignBottom)
                                                                            : (kAlignLeft | kAlignBottom);
    windowPositionAdjustment(window, nullptr, alignment);
}

void MainWindowController::startProcWindow() {
    if (sIsShowProcWindow || !mProcessWindow) return;
    sIsShowProcWindow = true;
    TvUI::setupSpinnerImage();
    if (mAnimationImageView) mAnimationImageView->setImage(TvUI::imagePartsAtTag(0));
    kdf::RunLoop::performOnMainThread([this] { animatesProcWinOnMain(kdf::Value(true)); }, true);
    // The preview lays itself out again under the window.
    if (auto* preview = mMainWindow ? mMainWindow->findChild<QWidget*>(QStringLiteral("Scan_PreviewBaseView")) : nullptr) {
        QWidget* scroll = preview;
        for (QWidget* w = preview; w; w = w->parentWidget()) {
            if (qobject_cast<QScrollArea*>(w)) {
                scroll = w;
                break;
            }
        }
        kdui::postFrameDidChange(scroll);
    }
    mProcessWindow->setWindowTitle(QString());
    mProcessWindow->setBaseAlpha(kFlatWindowAlpha);
    mProcessWindow->setWindowOpacity(kFlatWindowAlpha);
    placeFlatWindow(mProcessWindow);
    TvWindow::beginModalWindow(mProcessWindow, mMainWindow, false, QRect(), {});
}

void MainWindowController::endProcWindow() {
    if (!sIsShowProcWindow) return;
    if (mProcessWindow) TvWindow::endModalWindow(mProcessWindow);
    kdf::RunLoop::performOnMainThread([this] { animatesProcWinOnMain(kdf::Value(false)); }, true);
    sIsShowProcWindow = false;
}

void MainWindowController::animatesProcWinOnMain(const kdf::Value& flag) {
    if (!flag.is(kdf::Value::Kind::Boolean) && !flag.is(kdf::Value::Kind::Integer) && !flag.is(kdf::Value::Kind::Real))
        return;
    const bool start = flag.toBool().value_or(false);
    QPointer<TvAnimationImageView> view = mAnimationImageView;
    kdf::RunLoop::performOnMainThread(
        [view, start] {
            if (!view) return;
            if (start) view->startThreadAnimation();
            else view->stopThreadAnimation();
        },
        false, kDefaultModalTracking);
}

void MainWindowController::setStateInfoStrForProcWin(const std::optional<std::string>& stateInfo,
                                                     const std::optional<std::string>& info) {
    const int state = mCntlr.appState();
    const bool isWritable = (state >= kAppStateScanReady && state <= kAppStateScanEnded) ||
                            (state >= kAppStateOutputStarted && state <= kAppStateHandOnError);
    if (isWritable) {
        if (stateInfo) setText(processItem(kProcStateInfoTag), *stateInfo);
        if (info) setText(processItem(kProcInfoTag), *info);
    }
    if (mProcessContent) mProcessContent->update();
}

void MainWindowController::setStateInfoStrForProcWinForPfm(const kdf::Array& texts) {
    if (texts.size() != 2) return;
    auto text = [](const kdf::Value& v) -> std::optional<std::string> {
        if (const std::string* s = v.string()) return *s;
        return std::nullopt;
    };
    setStateInfoStrForProcWin(text(texts[0]), text(texts[1]));
}

void MainWindowController::setStateInfoStrForProcWinForPfm(const std::optional<std::string>& title,
                                                           const std::optional<std::string>& information) {
    if (kdf::RunLoop::isMainThread()) {
        setStateInfoStrForProcWin(title, information);
        return;
    }
    kdf::RunLoop::performOnMainThread([this, title, information] { setStateInfoStrForProcWin(title, information); },
                                      true);
}

// ---- The completion window ------------------------------------------------------------------

std::optional<std::string> MainWindowController::linkTextOfOutput(const OutputModel& output) const {
    const std::string id = output.pluginID();
    const std::string guid = output.pluginGUID();
    if (output.isValidPlugin() && !id.empty() && !guid.empty()) {
        // A plug-in that is gone, offers no link or fails gives no row.
        if (!PluginRegistryQueries::hasPluginObject(id)) return std::nullopt;
        bool enabled = false;
        if (PluginRegistryQueries::isSupportLinkButton(id, guid, &enabled) != 0 || !enabled) return std::nullopt;
        std::optional<std::string> label;
        if (PluginRegistryQueries::copyLinkLable(id, guid, &label) != 0 || !label || label->empty())
            return std::nullopt;
        return label;
    }
    // The folder of the first written file; an output that wrote nothing
    // has no folder to show.
    const auto files = output.writeFilePathArray();
    if (files.empty() || files.front().empty()) return std::nullopt;
    return std::filesystem::path(files.front()).parent_path().string();
}

void MainWindowController::startCompleteWindowByPerform() {
    const auto job = mCntlr.tmpJobModel_Complete();
    if (!job || !mCompleteContent) return;
    setText(completeItem(kCompTitleTag), localized("Comp_Title"));
    const int lastTag = kCompFirstRowTag + 2 * kCompRowCount - 1;
    for (int tag = kCompFirstRowTag; tag <= lastTag; ++tag)
        if (QWidget* field = completeItem(tag)) field->setHidden(true);
    auto titleField = [this](int row) { return completeItem(kCompFirstRowTag + 2 * row); };
    auto linkField = [this](int row) { return completeItem(kCompFirstRowTag + 2 * row + 1); };

    // Scanned from a job panel: one title, the job's; else one per output.
    int sourceType = -1;
    if (const auto entries = job->userInfoList()) {
        for (const kdf::Value& entry : *entries) {
            const kdf::Array* pair = entry.array();
            if (!pair || pair->empty()) continue;
            const auto type = (*pair)[0].toInteger();
            if (type && (*type == kOutputPanelType || *type == kJobPanelType)) {
                sourceType = int(*type);
                break;
            }
        }
    }
    const bool isJobTitleMode = sourceType == kJobPanelType;
    const auto outputs = job->jobOutputModel_List();
    if (isJobTitleMode) {
        setText(titleField(0), job->dispTitle() + " :");
    } else {
        for (std::size_t i = 0; i < outputs.size(); ++i)
            if (outputs[i]) setText(titleField(std::min(int(i), kCompRowCount - 1)), outputs[i]->dispTitle() + " :");
    }

    bool anyRow = false;
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        if (!outputs[i]) continue;
        const auto link = linkTextOfOutput(*outputs[i]);
        if (!link) continue;
        const int row = std::min(int(i), kCompRowCount - 1);
        anyRow = true;
        if (QWidget* title = titleField(row)) title->setHidden(false);
        if (auto* field = qobject_cast<TvOpenLinkTextField*>(linkField(row))) {
            field->setHidden(false);
            field->setTextFormat(Qt::PlainText);
            QFont font = field->font();
            font.setUnderline(true);
            field->setFont(font);
            QPalette palette = field->palette();
            palette.setColor(QPalette::WindowText, Qt::blue);
            field->setPalette(palette);
            const QString text = QString::fromStdString(*link);
            field->setToolTip(text);
            field->setText(QFontMetrics(font).elidedText(text, Qt::ElideRight, field->width()));
            field->setOutputModel(outputs[i]);
        }
    }
    if (isJobTitleMode) {
        if (QWidget* title = titleField(0)) title->setHidden(!anyRow);
        for (int row = 1; row < kCompRowCount; ++row)
            if (QWidget* title = titleField(row)) title->setHidden(true);
    }
    layoutCompleteFields();

    startCompleteWindow();
    kdf::NotificationCenter::defaultCenter().post(kMouseMovedInFlatWindowContentViewDidChange, nullptr);
}

void MainWindowController::layoutCompleteFields() {
    int top = mCompFirstRowTop;
    bool first = true;
    for (int tag = kCompFirstRowTag; tag < kCompFirstRowTag + 2 * kCompRowCount; ++tag) {
        QWidget* field = completeItem(tag);
        if (!field || field->isHidden()) continue;
        if (!first) top += kCompFieldSpacing;
        field->move(field->x(), top);
        top += field->height();
        first = false;
    }
}

void MainWindowController::startCompleteWindow() {
    if (sIsShowCompleteWindow || !mCompleteWindow) return;
    sIsShowCompleteWindow = true;
    mCompleteWindow->setWindowTitle(QString());
    mCompleteWindow->setBaseAlpha(kFlatWindowAlpha);
    mCompleteWindow->setWindowOpacity(kFlatWindowAlpha);
    placeFlatWindow(mCompleteWindow);
    TvWindow::beginOpenWindow(mCompleteWindow, true, {});
}

void MainWindowController::endCompleteWindow() {
    if (!sIsShowCompleteWindow) return;
    if (mCompleteWindow) TvWindow::endCloseWindow(mCompleteWindow);
    mCntlr.setTmpJobModel_Complete(nullptr);
    sIsShowCompleteWindow = false;
}

void MainWindowController::mouseMovedInFlatWindowContentView(const kdf::Notification& n) {
    // Only moves over the completion window count (no sender: the window
    // itself just opened).
    const void* sender = n.sender();
    if (!mCompleteWindow) return;
    if (sender && sender != mCompleteContent.data() && sender != mCompleteWindow.data()) return;
    auto& loop = kdf::RunLoop::main();
    loop.cancelPerforms(this, kCloseCompleteKey);
    loop.performAfterDelay(
        this, kCloseCompleteKey, kdf::Seconds(kCompAutoCloseSeconds),
        [this] { actionFromCompleteWindow(completeItem(kCompCloseButtonTag)); }, kDefaultModalTracking);
    if (mCntlr.isAutoCloseApp()) {
        loop.cancelPerforms(this, kTerminateKey);
        loop.performAfterDelay(
            this, kTerminateKey, kdf::Seconds(kCompAutoCloseSeconds), [this] { mCntlr.terminateByAutoClose(); },
            kDefaultModalTracking);
    }
}

// ---- The alert pause and the dark shield ----------------------------------------------------

void MainWindowController::tvAlertRunModal(const kdf::Notification& n) {
    if (!n.sender() || !n.userInfo()) return;
    const kdf::Value* startValue = kdf::find(*n.userInfo(), TV_Message::kIsStartRunmodalKey);
    const bool isStart = startValue && startValue->toBool().value_or(false);
    const bool isTvAlert = n.sender() != TV_Message::notificationSender();
    auto& loop = kdf::RunLoop::main();
    if (isStart) {
        if (sIsAlertPaused) return;
        sIsAlertPaused = true;
        mCntlr.setIsAutoCloseApp(false);
        // The setting window must not close while the alert runs.
        if (mSettingWindow) {
            sSavedIsValidClose = mSettingWindow->isValidClose();
            mSettingWindow->setIsValidClose(false);
        }
        sWasShowProcWindow = sIsShowProcWindow;
        if (sWasShowProcWindow) endProcWindow();
        if (isTvAlert) {
            loop.cancelPerforms(this, kShowDarkShieldKey);
            loop.performAfterDelay(this, kShowDarkShieldKey, kdf::Seconds(0), [this] { showDarkShield(); },
                                   kDefaultModalTracking);
        }
        return;
    }
    if (!sIsAlertPaused) return;
    if (isTvAlert) {
        loop.cancelPerforms(this, kShowDarkShieldKey);
        hideDarkShield();
        if (mMainWindow && !mMainWindow->isMinimized()) {
            mMainWindow->raise();
            mMainWindow->activateWindow();
        }
    }
    if (mSettingWindow) mSettingWindow->setIsValidClose(sSavedIsValidClose);
    if (sWasShowProcWindow) startProcWindow();
    sWasShowProcWindow = false;
    sIsAlertPaused = false;
}

void MainWindowController::showDarkShield() {
    QWidget* content = contentView();
    if (!content) return;
    hideDarkShield();
    auto* shield = new TvColoedView(content);
    shield->setObjectName(QStringLiteral("DarkShieldView"));
    shield->setColor(QColor(0, 0, 0, qRound(255 * kDarkShieldAlpha)));
    shield->setWrapMode(true);
    shield->setGeometry(content->rect());
    mShieldSizer = new ShieldSizer(content, shield);
    shield->show();
    shield->raise();
    shield->setFocus(Qt::OtherFocusReason);
    mDarkShieldView = shield;
}

void MainWindowController::hideDarkShield() {
    delete mDarkShieldView.data();
    mDarkShieldView = nullptr;
}

bool MainWindowController::isShowDarkShieldView() const { return mDarkShieldView != nullptr; }
