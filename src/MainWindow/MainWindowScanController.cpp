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

namespace qlr_main {

MainWindowScanController::MainWindowScanController(AppMainCntlr& cntlr, QWidget* mainWindow)
    : MainWindowController(cntlr, mainWindow), ownedWindow_(mainWindow), scan_(cntlr, *this), pages_(cntlr, *this),
      top_(cntlr, *this, *this),
      browsers_(cntlr, [this] { return MainWindowController::mainWindow(); }, [this] { return isShowDarkShieldView(); }) {
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

} // namespace qlr_main
