// The main-window controller with the scan's start and end and the
// scanning view's page controls: the controller's calls for a scan
// (job-tile click, ready signal, finish, back to the main view, scan again,
// scroll-wheel zoom), the scanning view's buttons and the process and
// completion windows' actions go to the scan part, which reaches the
// window's views and windows through this class. The program installs this
// one as the application controller's main-window port. Main thread only.
#pragma once

#include "MainWindowBrowsers.h"
#include "MainWindowController.h"
#include "MainWindowPages.h"
#include "MainWindowScan.h"
#include "MainWindowScanHost.h"
#include "MainWindowTop.h"
#include "PreviewCntlr.h"
#include "AppMainCntlrRelayout.h"
#include "PanelSettingCntlr.h"

// The window classes the controller keeps pointers to.
#include "TvAnimationImageView.h"
#include "TvBackgroundViews.h"
#include "TvPopoverWindow.h"
#include "TvWindow.h"

#include <memory>

class QMenu;

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

    // ---- Top display, edit-image panel, About window and commands (MainWindowTop)
public:
    MainWindowTop& top() { return top_; }
    void updateMainTopDisplay(bool flag, bool isAnime) override;
    void updateMainTopDisplay(QWidget* sender, bool isAnime) override;
    void initEditImageView() override;
    void showQlrNavigation() override;
    void hideQlrNavigation() override;
    void showQlrAbout() override;
    void showHideEditImageDisplay(QWidget* sender, bool isShow, bool isAnime) override;
    bool isEditImageDisplayShown() override;
    void updateEditImageViews(bool isEdit, bool isAnime) override;

private:
    MainWindowTop top_;
    // ---- Panel browsers: tiles, clicks, drag and drop, context menus
public:
    MainWindowBrowsers& browsers() { return browsers_; }
    QWidget* panelBrowser(int panelType) override { return browsers_.panelBrowser(panelType); }
    void reloadPanelBrowser(int panelType) override { browsers_.reloadPanelBrowser(panelType); }
    void setPanelBrowserCellSize(int panelType, QSizeF size) override { browsers_.setPanelBrowserCellSize(panelType, size); }
    QSizeF makePanelSize(const PanelModel& panel, int sizeType) override;
    void createPanelImageWithList(const std::vector<std::shared_ptr<PanelModel>>& list, int sizeType) override;
    void createIBViewMenu() override { browsers_.createIBViewMenu(); }
    void clearIconCache() override { MainWindowBrowsers::clearIconCache(); }
    void hidePanelFieldEditor() override { browsers_.hidePanelFieldEditor(); }
    void endEditingPanelTitle() override { browsers_.endEditingPanelTitle(); }
    void removePanelToolTips() override { browsers_.removePanelToolTips(); }
    void resetPanelToolTips() override { browsers_.resetPanelToolTips(); }
    void createPreviewIBViewMenu() override { browsers_.createPreviewIBViewMenu(); }
    void changeMultiSelectScanImage(QWidget* sender) override { pages_.changeMultiSelectScanImage(sender); }

private:
    MainWindowBrowsers browsers_;
    // ---- Page preview: the scan screen's preview controller, the
    // controller's preview port and the page browser's data source.
public:
    const std::shared_ptr<PreviewCntlr>& previewCntlr() const { return preview_; }
    PreviewBaseView* previewView() override;
    void createPreviewImage(int index, bool isFitSize) override;
    void updatePageDisplay() override;
    void imageBrowserSelectionDidChange() override;

private:
    void setUpPreview(AppMainCntlr& cntlr);
    std::shared_ptr<PreviewCntlr> preview_;

    // ---- Main-window texts, panel menus, relayout and the data source's
    // window (the controller's start-up hooks and notifications).
public:
    void awakeFromNib() override;
    void setUpImageBrowsers() override;
    void setCellSizeOfPreImageIBView() override;
    void viewFrameDidChange(const kdf::Notification& n) override;
    void showKdWindow(const kdf::Notification& n) override { kdWindows_->showKdWindow(n); }
    void hideKdWindow(const kdf::Notification& n) override { kdWindows_->hideKdWindow(n); }
    void willMiniKdWindow(const kdf::Notification& n) override { kdWindows_->willMiniKdWindow(n); }
    void didDeminiKdWindow(const kdf::Notification& n) override { kdWindows_->didDeminiKdWindow(n); }

private:
    std::unique_ptr<qlr_relayout::KdWindows> makeKdWindows(AppMainCntlr& cntlr);
    std::unique_ptr<qlr_relayout::KdWindows> kdWindows_;
    AppMainCntlr* menuCntlr_ = nullptr;
    void mainMenuWillOpen(QMenu* menu);
};

} // namespace qlr_main
