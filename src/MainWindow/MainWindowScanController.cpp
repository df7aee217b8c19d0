#include "MainWindowScanController.h"

#include "AppMainCntlr.h"
#include "MainWindowNib.h"
#include "ProcessWindowServices.h"
#include "TvTextFields.h"

#include <foundation/Bundle.h>
#include <foundation/RunLoop.h>
#include <ui/ImageBrowserView.h>
#include <ui/ViewTag.h>

#include <QAbstractButton>
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include "SettingPopUpButtons.h"

namespace qlr_main {

MainWindowScanController::MainWindowScanController(AppMainCntlr& cntlr, QWidget* mainWindow)
    : MainWindowController(cntlr, mainWindow), ownedWindow_(mainWindow), scan_(cntlr, *this), pages_(cntlr, *this) {
    scan_.connectScanViewActions();
    pages_.connectScanViewActions();
    connectWindowActions();
}

MainWindowScanController::~MainWindowScanController() { kdf::RunLoop::main().cancelPerforms(&scan_); }

std::shared_ptr<MainWindowScanController> MainWindowScanController::install(AppMainCntlr& cntlr, QWidget* mainWindow) {
    auto controller = std::make_shared<MainWindowScanController>(cntlr, mainWindow);
    cntlr.setMainWindowPort(controller);
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
