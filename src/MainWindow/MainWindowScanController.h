// The main-window controller with the scan's start and end and the
// scanning view's page controls: the controller's calls for a scan
// (job-tile click, ready signal, finish, back to the main view, scan again,
// scroll-wheel zoom), the scanning view's buttons and the process and
// completion windows' actions go to the scan part, which reaches the
// window's views and windows through this class. The program installs this
// one as the application controller's main-window port. Main thread only.
#pragma once

#include "MainWindowController.h"
#include "MainWindowPages.h"
#include "MainWindowScan.h"
#include "MainWindowScanHost.h"
#include "PanelSettingCntlr.h"

// The window classes the controller keeps pointers to.
#include "TvAnimationImageView.h"
#include "TvBackgroundViews.h"
#include "TvPopoverWindow.h"
#include "TvWindow.h"

#include <memory>

namespace qlr_main {

class MainWindowScanController : public MainWindowController, public MainWindowScanHost {
public:
    // The window is owned from here on (may be null in tools).
    MainWindowScanController(AppMainCntlr& cntlr, QWidget* mainWindow);
    ~MainWindowScanController() override;

    // Makes one over the window and registers it as the controller's
    // main-window port and the routines' process window.
    static std::shared_ptr<MainWindowScanController> install(AppMainCntlr& cntlr, QWidget* mainWindow);

    MainWindowScan& scan() { return scan_; }
    MainWindowPages& pages() { return pages_; }

    // ---- The controller's port
    void scanReadyByTwainCB() override;
    void finishScan() override;
    void cancelToMain(bool flag) override;
    void againExeScan(int controlTag) override;
    void panelIBViewClickCell(const kdf::Notification& n) override;
    void scrollWheelDidChange(const kdf::Notification& n) override;
    void actionFromCompleteWindow(QWidget* sender) override;

    // ---- The scan part's host
    QWidget* mainWindow() override { return MainWindowController::mainWindow(); }
    QWidget* contentView() override { return MainWindowController::contentView(); }
    QWidget* topContentView() override;
    QWidget* scanContentView() override;
    kdui::ImageBrowserView* pageBrowser() override;
    void endProcWindow() override { MainWindowController::endProcWindow(); }
    void endCompleteWindow() override { MainWindowController::endCompleteWindow(); }
    void setStateInfoStrForProcWin(const std::string& stateKey, const std::string& info) override;

    // ---- Panel setting window and new panels (PanelSettingCntlr)
    // Made on first use, with its controls connected.
    PanelSettingCntlr& panelSetting();
    void openSettingWindow(int panelType, int index) override;
    void createPanel(QObject* sender) override;
    void setUpSettingPopUp(int tag) override;
    void setSettingControlText(int tag, const std::string& text) override;
    void driverCloseDSOk(const kdf::Notification& n) override;
    void driverTerminateUI(const kdf::Notification& n) override;
    bool checkSettingValue(QWidget* sender, PanelModel& panel) override;
    void openSettingWindowForScanJob() override;
    std::shared_ptr<JobModel> createJobModel(bool withUseCountRecord) override;

private:
    std::unique_ptr<PanelSettingHost> panelSettingHost_;
    std::unique_ptr<PanelSettingCntlr> panelSetting_;

private:
    void connectWindowActions();

    std::unique_ptr<QWidget> ownedWindow_;
    MainWindowScan scan_;
    MainWindowPages pages_;
};

} // namespace qlr_main
