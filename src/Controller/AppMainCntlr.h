// The application controller: it drives a scan from the request to the
// complete window through one integer, the application state, keeps the
// list of scanned pages with the counters that tell when the scan is over
// and written, and offers the small services the main window, the preview,
// the output writer and the TWAIN host call.
//
// One class, its members in files by concern: AppMainCntlr.cpp (making it,
// neighbours, properties), AppMainCntlrAppState.cpp (the state machine, the
// job copies, the quit and panel checks), AppMainCntlrImgInfo.cpp (the page
// list and counters), AppMainCntlrServices.cpp (panel services, plug-in
// setting IDs, preview sizes, observers).
//
// Threads: the state changes on the main thread only; worker threads
// (transfer, page threads) read the properties, which are atomics or taken
// under a lock, and set the state through setAppStateNum.
#pragma once

#include "AppMainCntlrDSInfo.h"
#include "AppMainCntlrPorts.h"
#include "AppMainCntlrUIKit.h"
#include "QlrDeviceCntlrDelegate.h"

#include <AppModel.h>
#include <LockedFields.h>
#include <PageModels.h>

#include <foundation/NotificationCenter.h>

#include <QMenu>
#include <QPointer>
#include <QSizeF>
#include <QWidget>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

class QlrDeviceCntlr;
namespace companion_link {
class Server;
}

// Application states.
enum AppState : int {
    kAppStateMainTop = 0,
    kAppStateScanReady = 100,
    kAppStateScanning = 101,
    kAppStateScanWriting = 102,
    kAppStateScanFinished = 103,
    kAppStateScanEnded = 104,
    kAppStateOutputStarted = 200,
    kAppStateConvertNext = 201,
    kAppStateHandOn = 202,
    kAppStateComplete = 203,
    kAppStateWriteError = 204,
    kAppStateHandOnError = 205,
};

// Lists with at most this many panels.
inline constexpr int kMaxPanelCount = 99;

class AppMainCntlr : public AppMainCntlrDSInfo, public AppMainCntlrUIKit, public QlrDeviceCntlrDelegate,
                     private LockedFields {
public:
    AppMainCntlr();
    ~AppMainCntlr() override;
    AppMainCntlr(const AppMainCntlr&) = delete;
    AppMainCntlr& operator=(const AppMainCntlr&) = delete;

    // The application's one controller; start-up sets it (null: none).
    static AppMainCntlr* current();
    static void setCurrent(AppMainCntlr* cntlr);

    // ---- Neighbours (null: the inert stand-in)
    void setMainWindowPort(std::shared_ptr<AppMainWindowPort> port);
    void setPreviewPort(std::shared_ptr<AppPreviewPort> port);
    void setOutputWriterPort(std::shared_ptr<AppOutputWriterPort> port);
    void setDialogsPort(std::shared_ptr<AppDialogsPort> port);
    std::shared_ptr<AppMainWindowPort> mainWindowPort() const;
    std::shared_ptr<AppPreviewPort> previewPort() const;
    std::shared_ptr<AppOutputWriterPort> outputWriterPort() const;
    std::shared_ptr<AppDialogsPort> dialogsPort() const;

    // ==== The state machine (AppMainCntlrAppState.cpp)

    int appState() const { return appState_.load(); }
    // Main thread. The same state is ignored, and 103 and 104 outside the
    // scan states; else the state is stored, the window updated and the
    // follow-up run.
    void setAppState(int state) override;
    // Any thread: setAppState on the main thread, waiting.
    void setAppStateNum(int state) override;
    // Stores the state without a change: no redraw, no follow-up.
    void storeAppState(int state) { appState_.store(state); }
    void shiftNextDisposeByAppState();

    bool isMainTopState() const;
    bool isExecuteScnState() const;
    bool isExeScningState() override;
    bool isScanningOrWritingState() const;
    bool isFinishScnState() const;
    bool isStandbyScnState() const;
    bool isValidCancelState() const;
    bool isExecuteScnFuncState() const;
    bool isFinishState() const;
    bool isOutputProcessingState() const;
    bool isFinishFixState() const;

    // The device controller as the application sees it (none: 10, NO, ...).
    QlrDeviceCntlr* deviceCntlr() const { return deviceCntlr_.load(); }
    void setDeviceCntlr(QlrDeviceCntlr* cntlr) { deviceCntlr_.store(cntlr); }
    int curDSStateOnCntlr() const;
    bool isReadyScan() const;
    bool wasSentCancelToDSOnCntlr() const;
    void cancelDriver(std::optional<bool> cancel);
    bool isCancelDriver() const;
    bool isRunningScanThread() const;
    bool isFinishScan() const;

    // YES when the data source was opened for the scan.
    bool executeScanOnCntlr();

    // The two working copies of the job. Making the scan copy copies its
    // outputs' plug-in settings; clearing it deletes those copies.
    void setTmpCopyJobModel_Scan(std::shared_ptr<JobModel> job);
    std::shared_ptr<JobModel> tmpCopyJobModel_Scan() override { return get(tmpCopyJobModel_Scan_); }
    void setTmpJobModel_Complete(std::shared_ptr<JobModel> job);
    std::shared_ptr<JobModel> tmpJobModel_Complete() const { return get(tmpJobModel_Complete_); }

    void setIsAutoCloseApp(bool flag);
    bool isAutoCloseApp() const { return isAutoCloseApp_.load(); }
    void terminateByAutoClose();
    void terminateQlr();
    void performTerminate();
    void performCloseQlr();
    bool isModalWindow() const;
    bool isOpenKdWin() const;
    void checkAndShowScanningOrProcessingMsg() const;
    bool isValidAppTerminate();
    bool isValidSyncDriver() const;
    bool isCheckValidSelectedSetting() const;
    bool isCheckValidAddNewSetting(int panelType) const;
    bool isCheckValidDeleteSetting(bool isUseTvAlert) const;

    bool isScnCancelOnMain() override { return isScnCancelOnMain_.load(); }
    void setIsScnCancelOnMain(bool v) { isScnCancelOnMain_.store(v); }
    bool isWriteFileCancel() const { return isWriteFileCancel_.load(); }
    void setIsWriteFileCancel(bool v) override { isWriteFileCancel_.store(v); }
    bool isErrInFinalOutput() override { return isErrInFinalOutput_.load(); }
    void setIsErrInFinalOutput(bool v) { isErrInFinalOutput_.store(v); }
    bool isOpenPDF() const { return isOpenPDF_.load(); }
    void setIsOpenPDF(bool v) { isOpenPDF_.store(v); }
    // Sets the write-cancel flag and tells the device controller; then the
    // main window's part.
    void scanCancelOnMain();

    // ==== The page list and counters (AppMainCntlrImgInfo.cpp)

    void initImgInfoArray();
    void releaseImgInfoArray(bool isDeleteFiles);
    // Whether a list exists (a job runs).
    bool hasImgInfoArray() const;
    std::shared_ptr<ImageInfoModel> imgInfoAtIndex(int index) const;
    // Any thread. Appends the page; it is shown, or written on a page
    // thread of its own.
    void addImgInfo(std::shared_ptr<ImageInfoModel> info) override;
    int countOfImgInfoDict() override;
    int countOfImgInfo() const;
    void removeImgInfoByIndexOver(int index);
    // The page browser's edits of the page list, under its lock. A move by
    // the browsers' rule (qlr::moveItemsInList: false, nothing changed, for
    // an index outside the list or a destination past its end); a removal
    // that also deletes each removed page's raw and edited files (answers
    // how many pages went; none for an index outside the list).
    bool moveImgInfos(const std::set<int>& indexes, int destination);
    int removeImgInfos(const std::set<int>& indexes);
    void removeDisusedTmpFile();

    int readImgFileForJobScnCount() const { return readImgFileForJobScnCount_.load(); }
    void resetReadImgFileForJobScnCount() { readImgFileForJobScnCount_.store(0); }
    void upReadImgFileForJobScnCount() { ++readImgFileForJobScnCount_; }
    void downReadImgFileForJobScnCount() { --readImgFileForJobScnCount_; }

    bool isFinScanAndWritedFile(bool isFinScan, int index) override;
    void clearIsFinScanAndWritedFile();
    void clearIsFinScan();
    bool isFinScanLastIndex() const;
    int countWritedFile() const;

    // Page threads write in page order: a page thread waits for its turn
    // (every earlier page of the list finished or gave up) before it calls
    // the writer, and ends it when the writer returns. For the writer the
    // turn is already held: waiting answers YES at once; NO when the list
    // went away or writing was cancelled meanwhile (the page gives up).
    bool waitForPageTurn(int index);

    // The process-wide latch that lets one cancel of a scan reach the main
    // thread; the device controller clears it when it opens a scan.
    void setIsInvalidScanCancelOnMain(bool isInvalid) override;
    bool isInvalidScanCancelOnMain() const;
    void scanCancelOnMainFromDeviveCntlr() override;

    // ==== Services (AppMainCntlrServices.cpp)

    QWidget* ibViewOfType(int panelType) const;
    std::optional<std::vector<std::shared_ptr<PanelModel>>> panelListOfType(int panelType) const;
    std::optional<std::vector<std::shared_ptr<PanelModel>>> selectedModelList(int panelType) const;
    static std::shared_ptr<InputModel> curInputModelOfJobModel(const JobModel* job);
    static std::shared_ptr<OutputModel> curOutputModelOfJobModel(const JobModel* job);
    static void createIDInPluginWithOutputModelList(const std::vector<std::shared_ptr<OutputModel>>& outputs);
    void reloadSettingByPref();
    void updateCurrentDSInfo();
    QlrPreviewSize previewSizeByMainWindow(bool flag) override;
    QlrPreviewSize previewSizeWithLimitationForIKImageBrowserMemLeak(bool flag) override;
    void setUpNotification();

    // The preferences model: the dialogs', else one from the user defaults.
    std::shared_ptr<PrefsModel> prefsModel() const;

    // ---- The device controller's other questions
    void sendChangeValidWatchingDeviceBtn(bool isValid) override;
    void scanReadyByTwainCB() override;
    void setStateInfoStrForProcWinForPfm(const std::array<std::string, 2>& texts) override;

    // ==== The companion link (AppMainCntlrAE.cpp)

    // Launches the companion when needed, asks it which scanner and why the
    // application started, and serves its events. Without a companion, or
    // when another process owns the application's bus name, nothing is
    // served and no event is sent.
    void setAppleEvent();
    // YES when the companion at that bundle path runs, or was launched and
    // appeared on the bus within the bound.
    bool launchTaskApp(const std::string& path);
    // Keeps the companion's address and applies its start-up answer.
    void sendAEToTuvoApp(const std::string& path);
    // The status record into the user defaults and the preferences file.
    void saveAppSettingForLogin();
    // None without a preferences model.
    std::optional<kdf::Dictionary> pipeAppSettingForLogin() const;
    void scanFromTuvoDeviceBtn(int connectStatus, std::uint32_t btnStatus, bool isLaunchApp);
    bool isValidScanByDviceBtn() const;
    void exeJobScanByLogin(std::uint32_t index);
    // The events' handlers (main thread).
    void handleConnectInfo(int parm, int btnStatus, int launched);
    void handleAppActiveWindow(int parm);
    void handleVersionPanel(int parm);
    void handleShowSelectDS(int parm, const std::optional<kdf::Bytes>& info);
    // The companion's unique bus name; empty: no companion.
    std::string targetForAE() const { return get(targetForAE_); }
    void setTargetForAE(std::string target) { put(targetForAE_, std::move(target)); }

    // ==== Start-up and termination (AppMainCntlrLaunch.cpp)

    // The controller's set-up, in its order: the companion link, the device
    // controller, the settings, the plug-ins, the menus and the observers.
    // False when a step threw: the error was shown once and the program
    // ends without launching.
    bool init();
    // The application's moments. Will finish: plug-ins checked, the legacy
    // import offered, the browsers set up and the main window shown. Did
    // finish: the navigation overlay on the first start. Should terminate:
    // false refuses the quit (and forgets a pending reset). Will terminate:
    // layout and settings saved, and after a reset the settings emptied and
    // the relaunch helper started.
    void applicationWillFinishLaunching();
    void applicationDidFinishLaunching();
    void applicationDidBecomeActive();
    bool applicationShouldTerminate();
    void applicationWillTerminate();
    // A window asks to close: false refuses; the main window's close ends
    // the application.
    bool windowShouldClose(QWidget* window);
    // Restores the main window's frame and its two panes and shows it.
    void showMainWindow();
    // Brings the companion forward; Linux offers no portable way to raise
    // another program's window, so this only checks that it runs.
    void activateTuvoApp();

    // ==== The legacy-settings import (AppMainCntlrImport.cpp)

    // The older application's preferences file for the current scanner;
    // none for other scanners or when the file does not exist.
    static std::optional<std::string> filePathOfLegacyData();
    // Offers the import once per start until it was answered.
    void checkImportLegacyData();

    // ==== Properties
    bool isTerminateByInitInPrefs() const { return isTerminateByInitInPrefs_.load(); }
    void setIsTerminateByInitInPrefs(bool v) { isTerminateByInitInPrefs_.store(v); }
    std::shared_ptr<AppModel> appModel() const { return get(appModel_); }
    void setAppModel(std::shared_ptr<AppModel> m) { put(appModel_, std::move(m)); }
    QWidget* kdMainWin() const { return kdMainWin_; }
    void setKdMainWin(QWidget* w) { kdMainWin_ = w; }
    QWidget* kdSubWin() const { return kdSubWin_; }
    void setKdSubWin(QWidget* w) { kdSubWin_ = w; }
    QWidget* dummyWindow() const { return dummyWindow_; }
    void setDummyWindow(QWidget* w) { dummyWindow_ = w; }
    QWidget* cornerView() const { return cornerView_; }
    void setCornerView(QWidget* w) { cornerView_ = w; }
    // Context menus: input, output and job panel (isBack NO) and empty
    // browser area (YES); the scanned-page browser's.
    QMenu* panelMenu(int panelType, bool isBack) const;
    void setPanelMenu(int panelType, bool isBack, QMenu* menu);
    QMenu* scanPanelMenu() const { return scanPanelMenu_; }
    void setScanPanelMenu(QMenu* m) { scanPanelMenu_ = m; }
    std::shared_ptr<PanelModel> tmpPanelModel_Setting() const { return get(tmpPanelModel_Setting_); }
    void setTmpPanelModel_Setting(std::shared_ptr<PanelModel> m) { put(tmpPanelModel_Setting_, std::move(m)); }
    std::shared_ptr<InputModel> tmpCopyInputModel_Setting() const { return get(tmpCopyInputModel_Setting_); }
    void setTmpCopyInputModel_Setting(std::shared_ptr<InputModel> m) {
        put(tmpCopyInputModel_Setting_, std::move(m));
    }
    std::vector<std::shared_ptr<PanelModel>> preImageModel_List() const { return get(preImageModel_List_); }
    void setPreImageModel_List(std::vector<std::shared_ptr<PanelModel>> v) { put(preImageModel_List_, std::move(v)); }
    int preDisplayIndex() const { return preDisplayIndex_.load(); }
    void setPreDisplayIndex(int v) { preDisplayIndex_.store(v); }
    float previewScale() const { return previewScale_.load(); }
    void setPreviewScale(float v) { previewScale_.store(v); }
    float previewCellSize() const { return previewCellSize_.load(); }
    void setPreviewCellSize(float v) { previewCellSize_.store(v); }
    std::shared_ptr<EditImageInfoModel> editImageInfoModel() const { return get(editImageInfoModel_); }
    void setEditImageInfoModel(std::shared_ptr<EditImageInfoModel> m) { put(editImageInfoModel_, std::move(m)); }
    std::shared_ptr<PanelModel> preImagePanelModel() const { return get(preImagePanelModel_); }
    void setPreImagePanelModel(std::shared_ptr<PanelModel> m) { put(preImagePanelModel_, std::move(m)); }
    QlrUtilsMethod::ImageRef revertPreviewImage() const { return get(revertPreviewImage_); }
    void setRevertPreviewImage(QlrUtilsMethod::ImageRef i) { put(revertPreviewImage_, std::move(i)); }
    QlrUtilsMethod::ImageRef revertPreThumbImage() const { return get(revertPreThumbImage_); }
    void setRevertPreThumbImage(QlrUtilsMethod::ImageRef i) { put(revertPreThumbImage_, std::move(i)); }
    int launchType() const { return launchType_.load(); }
    void setLaunchType(int v) { launchType_.store(v); }
    int connectStatus() const { return connectStatus_.load(); }
    void setConnectStatus(int v) { connectStatus_.store(v); }
    std::uint32_t btnStatus() const { return btnStatus_.load(); }
    void setBtnStatus(std::uint32_t v) { btnStatus_.store(v); }
    bool isShowedPluginWin() const { return isShowedPluginWin_.load(); }
    void setIsShowedPluginWin(bool v) { isShowedPluginWin_.store(v); }
    float scanThumbnailView_W() const { return scanThumbnailView_W_.load(); }
    void setScanThumbnailView_W(float v) { scanThumbnailView_W_.store(v); }
    // The locks of the output writer: the per-output written-file lists,
    // and page reading and writing.
    std::mutex& writeFilePathArrayLock() { return writeFilePathArrayLock_; }
    std::mutex& readWriteFileLock() { return readWriteFileLock_; }

    QWidget* mainWindow() const;
    QWidget* aboutWindow() const;
    bool isVisibleSettingWindow() const;

private:
    void buildCompleteJob();
    // Deletes the plug-in settings of the copy's outputs (of those only,
    // when a set is given).
    void clearJobCopy(const std::shared_ptr<JobModel>& copy, const std::set<std::string>* onlyGuids);
    std::shared_ptr<JobModel> makeJobCopy(const JobModel& job, std::set<std::string>* copiedGuids);
    void runPageThread(const PageParam& param, std::uint64_t generation);
    bool waitForPageTurn(int index, std::uint64_t generation);
    void finishPageTurn(int index, std::uint64_t generation);
    void startOutputThread();
    void showErrorPanel(const char* key) const;

    std::atomic<int> appState_{kAppStateMainTop};
    std::atomic<QlrDeviceCntlr*> deviceCntlr_{nullptr};
    std::shared_ptr<JobModel> tmpCopyJobModel_Scan_;
    std::shared_ptr<JobModel> tmpJobModel_Complete_;
    // The plug-in settings the scan copy made for itself.
    std::set<std::string> scanCopyGuids_;
    std::atomic<bool> isAutoCloseApp_{false};
    std::atomic<bool> isScnCancelOnMain_{false};
    std::atomic<bool> isWriteFileCancel_{false};
    std::atomic<bool> isErrInFinalOutput_{false};
    std::atomic<bool> isOpenPDF_{false};

    // The page list: the lock lives as long as the controller; no list
    // means no job.
    mutable std::mutex imageInfoLock_;
    std::optional<std::vector<std::shared_ptr<ImageInfoModel>>> imageInfoModel_List_;
    // Counters' lock first, then the list's, never the other way.
    mutable std::mutex finScanAndWritedFileLock_;
    bool isFinScanLastIndex_ = false;
    int countWritedFile_ = 0;
    std::atomic<int> readImgFileForJobScnCount_{0};
    // Page turns: pages below firstUnfinished_ are done; finished_ holds
    // later ones done early. A new generation sends every waiter away.
    std::mutex turnLock_;
    std::condition_variable turnChanged_;
    int firstUnfinished_ = 0;
    std::set<int> finished_;
    std::uint64_t turnGeneration_ = 0;
    // Threads this controller started that may still use it.
    std::atomic<int> runningThreads_{0};

    std::mutex writeFilePathArrayLock_;
    std::mutex readWriteFileLock_;

    std::atomic<bool> isTerminateByInitInPrefs_{false};
    std::shared_ptr<AppModel> appModel_;
    QPointer<QWidget> kdMainWin_;
    QPointer<QWidget> kdSubWin_;
    QPointer<QWidget> dummyWindow_;
    QPointer<QWidget> cornerView_;
    QPointer<QMenu> panelMenus_[3][2];
    QPointer<QMenu> scanPanelMenu_;
    std::shared_ptr<PanelModel> tmpPanelModel_Setting_;
    std::shared_ptr<InputModel> tmpCopyInputModel_Setting_;
    std::vector<std::shared_ptr<PanelModel>> preImageModel_List_;
    std::atomic<int> preDisplayIndex_{-1};
    std::atomic<float> previewScale_{1.0f};
    std::atomic<float> previewCellSize_{0.0f};
    std::shared_ptr<EditImageInfoModel> editImageInfoModel_;
    std::shared_ptr<PanelModel> preImagePanelModel_;
    QlrUtilsMethod::ImageRef revertPreviewImage_;
    QlrUtilsMethod::ImageRef revertPreThumbImage_;
    std::atomic<int> launchType_{0};
    std::atomic<int> connectStatus_{0};
    std::atomic<std::uint32_t> btnStatus_{0};
    std::atomic<bool> isShowedPluginWin_{false};
    std::atomic<float> scanThumbnailView_W_{0.0f};

    mutable std::mutex portsLock_;
    std::shared_ptr<AppMainWindowPort> mainWindowPort_;
    std::shared_ptr<AppPreviewPort> previewPort_;
    std::shared_ptr<AppOutputWriterPort> outputWriterPort_;
    std::shared_ptr<AppDialogsPort> dialogsPort_;

    std::vector<kdf::ObserverToken> observers_;

    std::string targetForAE_;
    std::unique_ptr<companion_link::Server> aeServer_;
    // The menus init made: they live until termination or the controller's end.
    std::vector<std::unique_ptr<QMenu>> ownMenus_;
};
