#include "MainWindowScanController.h"

#include "AppMainCntlr.h"
#include "AppMainCntlrNib.h"
#include "MainWindowNib.h"
#include "PreviewBaseView.h"
#include "TvSlider.h"
#include "ProcessWindowServices.h"
#include "TvTextFields.h"

#include <foundation/Bundle.h>
#include <foundation/RunLoop.h>
#include <ui/ImageBrowserView.h>
#include <ui/MenuTags.h>
#include <ui/ViewTag.h>

#include <QAbstractButton>
#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QScrollArea>
#include <QLabel>
#include <QLineEdit>
#include "SettingPopUpButtons.h"

namespace qlr_main {

MainWindowScanController::MainWindowScanController(AppMainCntlr& cntlr, QWidget* mainWindow)
    : MainWindowController(cntlr, mainWindow), ownedWindow_(mainWindow), scan_(cntlr, *this), pages_(cntlr, *this),
      top_(cntlr, *this, *this),
      browsers_(cntlr, [this] { return MainWindowController::mainWindow(); }, [this] { return isShowDarkShieldView(); }) {
    scan_.connectScanViewActions();
    pages_.connectScanViewActions();
    connectWindowActions();
    setUpPreview(cntlr);
    kdWindows_ = makeKdWindows(cntlr);
}

MainWindowScanController::~MainWindowScanController() { kdf::RunLoop::main().cancelPerforms(&scan_); }

std::shared_ptr<MainWindowScanController> MainWindowScanController::install(AppMainCntlr& cntlr, QWidget* mainWindow) {
    auto controller = std::make_shared<MainWindowScanController>(cntlr, mainWindow);
    cntlr.setMainWindowPort(controller);
    cntlr.setPreviewPort(controller->previewCntlr());
    MainWindowCntlr::setProcessWindow(controller);
    return controller;
}

void MainWindowScanController::connectWindowActions() {
    if (auto* cancel = qobject_cast<QAbstractButton*>(processItem(kTagProcCancelButton)))
        QObject::connect(cancel, &QAbstractButton::clicked, cancel, [this, cancel] { scan_.actionFromProcWindow(cancel); });
    for (int tag : {kTagCompleteLink1, kTagCompleteLink2, kTagCompleteLink3}) {
        if (auto* link = qobject_cast<TvOpenLinkTextField*>(completeItem(tag)))
            QObject::connect(link, &TvOpenLinkTextField::clicked, link, [this, link] { actionFromCompleteWindow(link); });
    }
}

void MainWindowScanController::scanReadyByTwainCB() { scan_.scanReadyByTwainCB(); }

void MainWindowScanController::finishScan() { scan_.finishScan(kdui::viewWithTag(scanContentView(), kTagFinishButton)); }

void MainWindowScanController::cancelToMain(bool /*flag*/) { scan_.cancelToMain(); }

void MainWindowScanController::againExeScan(int controlTag) {
    scan_.againExeScan(kdui::viewWithTag(scanContentView(), controlTag));
}

void MainWindowScanController::panelIBViewClickCell(const kdf::Notification& n) {
    const kdf::Value* index = n.userInfo() ? kdf::find(*n.userInfo(), kClickCellIndexKey) : nullptr;
    const auto value = index ? index->toInteger() : std::nullopt;
    if (!value || *value < 0) return;
    // Clicks on input and output tiles only change their selection.
    if (!browsers_.isJobPanelClick(n)) return;
    scan_.panelIBViewClickCell(unsigned(*value));
}

void MainWindowScanController::scrollWheelDidChange(const kdf::Notification& /*n*/) { pages_.scrollWheelDidChange(); }

void MainWindowScanController::actionFromCompleteWindow(QWidget* sender) { scan_.actionFromCompleteWindow(sender); }

QWidget* MainWindowScanController::topContentView() {
    return MainWindowNib::outlet(MainWindowController::mainWindow(), kTopContentView);
}

QWidget* MainWindowScanController::scanContentView() {
    return MainWindowNib::outlet(MainWindowController::mainWindow(), kScanContentView);
}

kdui::ImageBrowserView* MainWindowScanController::pageBrowser() {
    QWidget* scan = scanContentView();
    return scan ? scan->findChild<kdui::ImageBrowserView*>(QStringLiteral("Scan_PreImage_IBView")) : nullptr;
}

void MainWindowScanController::setStateInfoStrForProcWin(const std::string& stateKey, const std::string& info) {
    auto bundle = kdf::Bundle::main();
    MainWindowController::setStateInfoStrForProcWin(bundle ? bundle->localizedString(stateKey) : stateKey, info);
}

// ---- Top display, edit-image panel, About window and commands (MainWindowTop)
void MainWindowScanController::updateMainTopDisplay(bool /*flag*/, bool isAnime) {
    top_.display().updateMainTopDisplay(nullptr, isAnime);
}
void MainWindowScanController::updateMainTopDisplay(QWidget* sender, bool isAnime) {
    top_.display().updateMainTopDisplay(sender, isAnime);
}
void MainWindowScanController::initEditImageView() { top_.editPanel().initEditImageView(); }
void MainWindowScanController::showQlrNavigation() { top_.commands().showQlrNavigation(); }
void MainWindowScanController::hideQlrNavigation() { top_.commands().hideQlrNavigation(); }
void MainWindowScanController::showQlrAbout() { top_.commands().showQlrAbout(); }
void MainWindowScanController::showHideEditImageDisplay(QWidget* sender, bool isShow, bool isAnime) {
    top_.editPanel().showHideEditImageDisplay(sender, isShow, isAnime);
}
bool MainWindowScanController::isEditImageDisplayShown() { return top_.editPanel().isEditImageDisplayShown(); }
void MainWindowScanController::updateEditImageViews(bool /*isEdit*/, bool isAnime) {
    top_.editPanel().updateEditImageViews(nullptr, isAnime);
}

// ---- Panel browsers: tiles, clicks, drag and drop, context menus
QSizeF MainWindowScanController::makePanelSize(const PanelModel& panel, int sizeType) {
    return MainWindowBrowsers::makePanelSize(panel, sizeType);
}

void MainWindowScanController::createPanelImageWithList(const std::vector<std::shared_ptr<PanelModel>>& list,
                                                        int sizeType) {
    MainWindowBrowsers::createPanelImageWithList(list, sizeType);
}

// ---- Page preview

namespace {

// The preview's calls on the main window: its zoom goes back to 1 through
// the page controls, editing is cancelled through the window.
class WindowPreviewNeighbours : public PreviewNeighbours {
public:
    WindowPreviewNeighbours(MainWindowPages& pages, MainWindowScanHost& host) : pages_(pages), host_(host) {}
    void changeScale() override { pages_.changeScale(nullptr); }
    void cancelEditingImage() override { host_.cancelEditingImage(); }

private:
    MainWindowPages& pages_;
    MainWindowScanHost& host_;
};

} // namespace

// ---- Panel setting window and new panels (PanelSettingCntlr)

namespace {

// The setting window's view of this controller.
class SettingHostOfController : public PanelSettingHost {
public:
    explicit SettingHostOfController(MainWindowScanController& c) : c_(c) {}
    TvPopoverWindow* settingWindow() override { return c_.settingWindow(); }
    QWidget* settingSection(const char* name) override { return c_.settingSection(name); }
    QWidget* mainWindow() override { return c_.mainWindow(); }
    QWidget* topContentView() override { return c_.topContentView(); }
    QWidget* scanContentView() override { return c_.scanContentView(); }
    void hidePanelFieldEditor() override { c_.hidePanelFieldEditor(); }
    void closePreferencesPanel() override { c_.closePreferencesPanel(); }
    QRect anchorOfPanel(int panelType, int index, QWidget** view) override {
        if (panelType < 0) {
            QWidget* button = kdui::viewWithTag(c_.scanContentView(), kOutputSettingButtonTag);
            *view = button ? button : c_.scanContentView();
            return *view ? (*view)->rect() : QRect();
        }
        auto* browser = dynamic_cast<kdui::ImageBrowserView*>(c_.panelBrowser(panelType));
        *view = browser;
        return browser ? browser->itemFrameAtIndex(index).intersected(browser->rect()) : QRect();
    }
    void scrollToLastItem(int panelType) override {
        if (auto* browser = dynamic_cast<kdui::ImageBrowserView*>(c_.panelBrowser(panelType)))
            if (browser->numberOfItems() > 0) browser->scrollIndexToVisible(browser->numberOfItems() - 1);
    }
    void changeSelectScanImage(QWidget* sender) override { c_.pages().changeSelectScanImage(sender); }
    void changeMainTopDisplay(QWidget* sender) override { c_.pages().changeMainTopDisplay(sender); }
    void changeBriCont(QWidget* sender) override { c_.MainWindowScanHost::changeBriCont(sender); }
    void changeStraighten(QWidget* sender) override { c_.MainWindowScanHost::changeStraighten(sender); }
    void changeTrimming(QWidget* sender) override { c_.MainWindowScanHost::changeTrimming(sender); }

private:
    MainWindowScanController& c_;
};

} // namespace

void MainWindowScanController::setUpPreview(AppMainCntlr& cntlr) {
    QWidget* window = MainWindowController::mainWindow();
    PreviewOutlets outlets;
    outlets.mainWindow = window;
    outlets.scanContentView = scanContentView();
    outlets.scanHeaderView = MainWindowNib::outlet(window, "Scan_Preview_HeaderView");
    outlets.scanInfoView = MainWindowNib::outlet(window, "Scan_InfoView");
    outlets.outputPagination = MainWindowNib::outlet(window, "Scan_OutputSetting_Pagenation");
    outlets.previewView = qobject_cast<PreviewBaseView*>(MainWindowNib::outlet(window, "Scan_PreviewBaseView"));
    outlets.pageBrowser = qobject_cast<ImageIBView*>(pageBrowser());
    // The preview scrolls with the kit's thin scrollers, as the browser does.
    if (outlets.previewView) {
        if (QScrollArea* area = outlets.previewView->enclosingScrollArea()) {
            area->setVerticalScrollBar(new TvScroller(Qt::Vertical));
            area->setHorizontalScrollBar(new TvScroller(Qt::Horizontal));
        }
    }
    preview_ = std::make_shared<PreviewCntlr>(pagesOfController(cntlr),
                                              std::make_shared<WindowPreviewNeighbours>(pages_, *this), outlets);
    for (int tag : {PreviewCntlr::kPreviousOutputButton, PreviewCntlr::kNextOutputButton}) {
        if (auto* button = qobject_cast<QAbstractButton*>(kdui::viewWithTag(outlets.scanContentView, tag)))
            QObject::connect(button, &QAbstractButton::clicked, button,
                             [this, button] { preview_->setCurrentOutputBySender(button); });
    }
}

PreviewBaseView* MainWindowScanController::previewView() { return preview_ ? preview_->outlets().previewView : nullptr; }

void MainWindowScanController::createPreviewImage(int index, bool isFitSize) {
    if (preview_) preview_->createPreviewImage(index, isFitSize);
}

void MainWindowScanController::updatePageDisplay() {
    if (preview_) preview_->updatePageDisplay();
}

void MainWindowScanController::imageBrowserSelectionDidChange() {
    if (auto* browser = pageBrowser(); browser && preview_) preview_->selectionDidChange(*browser);
}

// ---- Main-window texts, panel menus, relayout and the data source's window

std::unique_ptr<qlr_relayout::KdWindows> MainWindowScanController::makeKdWindows(AppMainCntlr& cntlr) {
    menuCntlr_ = &cntlr;
    auto ops = qlr_relayout::KdWindows::defaultOps(cntlr);
    // The process window when visible, else the setting window, else the
    // main window.
    ops.parentWindow = [this]() -> QWidget* {
        if (QWidget* process = processWindow(); process && process->isVisible()) return process;
        if (QWidget* setting = settingWindow(); setting && setting->isVisible()) return setting;
        return MainWindowController::mainWindow();
    };
    return std::make_unique<qlr_relayout::KdWindows>(cntlr, std::move(ops));
}

void MainWindowScanController::awakeFromNib() {
    qlr_nib::NibViews views;
    views.mainWindow = MainWindowController::mainWindow();
    views.settingWindow = settingWindow();
    views.flatWindows = {aboutWindow(), processWindow(), completeWindow()};
    qlr_nib::awakeFromNib(views, *this);
    if (QMenuBar* bar = MainWindowNib::mainMenu(views.mainWindow)) {
        for (QAction* item : bar->actions()) {
            if (QMenu* menu = item->menu())
                QObject::connect(menu, &QMenu::aboutToShow, menu, [this, menu] { mainMenuWillOpen(menu); });
        }
    }
}

void MainWindowScanController::mainMenuWillOpen(QMenu* menu) {
    if (!menuCntlr_) return;
    menuCntlr_->setIsAutoCloseApp(false);
    QWidget* window = MainWindowController::mainWindow();
    QAction* edit = kdui::mainMenuItemWithTag(window, 200);
    if (edit && edit->menu() == menu) {
        std::vector<QWidget*> panels;
        for (int type : {kInputPanelType, kOutputPanelType, kJobPanelType}) panels.push_back(panelBrowser(type));
        qlr_nib::editMenuWillOpen(window, window ? window->focusWidget() : nullptr, panels, pageBrowser());
    }
    qlr_nib::MainMenuState state;
    state.modalWindowOpen = menuCntlr_->isModalWindow();
    state.mainTopState = menuCntlr_->isMainTopState();
    const bool mainUsable = qlr_nib::isFrontUsable(window) && !state.modalWindowOpen;
    QWidget* prefs = menuCntlr_->dialogsPort()->preferencesPanel();
    state.closeAllowed = mainUsable || qlr_nib::isFrontUsable(aboutWindow()) || qlr_nib::isFrontUsable(prefs);
    qlr_nib::validateMainMenu(window, state);
}

void MainWindowScanController::setUpImageBrowsers() {
    qlr_nib::setUpPanelBrowsers(*this);
    browsers_.setUpImageBrowsers();
    qlr_nib::setUpPageBrowser(pageBrowser());
    setCellSizeOfPreImageIBView();
    for (int type : {kInputPanelType, kOutputPanelType, kJobPanelType}) reloadPanelBrowser(type);
    if (preview_) preview_->reloadPageBrowser();
}

void MainWindowScanController::setCellSizeOfPreImageIBView() {
    qlr_nib::setCellSizeOfPreImageIBView(pageBrowser(), isPreviewShown());
}

void MainWindowScanController::viewFrameDidChange(const kdf::Notification& /*n*/) {
    // The forms' layouts place the controls; the page cells follow the
    // browser's width on the scan screen.
    if (QWidget* scan = scanContentView(); scan && scan->isVisible()) setCellSizeOfPreImageIBView();
}

PanelSettingCntlr& MainWindowScanController::panelSetting() {
    if (!panelSetting_) {
        panelSettingHost_ = std::make_unique<SettingHostOfController>(*this);
        panelSetting_ = std::make_unique<PanelSettingCntlr>(cntlr(), *panelSettingHost_);
        panelSetting_->connectControls();
    }
    return *panelSetting_;
}

void MainWindowScanController::openSettingWindow(int panelType, int index) {
    if (panelType < 0)
        panelSetting().openSettingWindow(std::nullopt);
    else
        panelSetting().openSettingWindow(std::make_pair(panelType, index));
}

void MainWindowScanController::createPanel(QObject* sender) {
    panelSetting().createPanel(sender ? kdui::tag(sender) : 0, qobject_cast<QAction*>(sender) != nullptr);
}

void MainWindowScanController::setUpSettingPopUp(int tag) {
    panelSetting();
    QWidget* popUp = nullptr;
    for (const char* name : {kSettingInputView, kSettingOptionView})
        if (!popUp) popUp = kdui::viewWithTag(settingSection(name), tag);
    if (auto* p = qobject_cast<ColorModePopUpButton*>(popUp)) p->setUpMethod();
    if (auto* p = qobject_cast<PaperSizePopUpButton*>(popUp)) p->setUpMethod();
    if (auto* p = qobject_cast<ResolutionPopUpButton*>(popUp)) p->setUpMethod();
    if (auto* p = qobject_cast<ScanSidePopUpButton*>(popUp)) p->setUpMethod();
    if (auto* p = qobject_cast<SkewPopUpButton*>(popUp)) p->setUpMethod();
    if (auto* p = qobject_cast<ScanBtnStatusPopUpButton*>(popUp)) p->setUpMethod();
}

void MainWindowScanController::setSettingControlText(int tag, const std::string& text) {
    QWidget* control = nullptr;
    for (const char* name : {kSettingTabView, kSettingInputView, kSettingOutputView, kSettingOptionView,
                             kSettingWholeView, kSettingFooterView})
        if (!control) control = kdui::viewWithTag(settingSection(name), tag);
    const QString value = QString::fromStdString(text);
    if (auto* label = qobject_cast<QLabel*>(control))
        label->setText(value);
    else if (auto* button = qobject_cast<QAbstractButton*>(control))
        button->setText(value);
    else if (auto* field = qobject_cast<QLineEdit*>(control))
        field->setText(value);
}

void MainWindowScanController::driverCloseDSOk(const kdf::Notification& n) { panelSetting().driverCloseDSOk(n); }

void MainWindowScanController::driverTerminateUI(const kdf::Notification& n) { panelSetting().driverTerminateUI(n); }

bool MainWindowScanController::checkSettingValue(QWidget* sender, PanelModel& panel) {
    // The check reads the panel only while it runs: a non-owning handle.
    return panelSetting().checkSettingValue(sender, std::shared_ptr<PanelModel>(std::shared_ptr<PanelModel>(), &panel));
}

void MainWindowScanController::openSettingWindowForScanJob() { panelSetting().openSettingWindow(std::nullopt); }

std::shared_ptr<JobModel> MainWindowScanController::createJobModel(bool withUseCountRecord) {
    return panelSetting().createJobModel(withUseCountRecord);
}

} // namespace qlr_main
