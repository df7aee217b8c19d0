// Screenshot scenes of the main window's top display in its three types,
// the edit side panel with each section open, the navigation overlay and
// the filled About window.
#include "MainWindowController.h"
#include "MainWindowNib.h"
#include "MainWindowScanHost.h"
#include "MainWindowTop.h"

#include <AppMainCntlr.h>
#include <AppModel.h>
#include <TvButtons.h>

#include <foundation/RunLoop.h>
#include <ui/Screenshots.h>
#include <ui/ViewTag.h>

#include <QCoreApplication>
#include <QMainWindow>

#include <memory>

namespace {

using namespace qlr_main;

class SceneController : public MainWindowController, public MainWindowScanHost {
public:
    using MainWindowController::MainWindowController;
    QWidget* mainWindow() override { return MainWindowController::mainWindow(); }
    QWidget* contentView() override { return MainWindowController::contentView(); }
    QWidget* topContentView() override { return MainWindowNib::outlet(mainWindow(), kTopContentView); }
    QWidget* scanContentView() override { return MainWindowNib::outlet(mainWindow(), kScanContentView); }
    void hideQlrNavigation() override {}
};

// One set per scene build; the tool deletes the scene's windows.
struct SceneSet {
    std::unique_ptr<MainWindowTop> top;
    std::shared_ptr<SceneController> ui;
    std::unique_ptr<AppMainCntlr> cntlr;
    QMainWindow* window = nullptr;
};

SceneSet& freshSet(bool showScanView) {
    static SceneSet set;
    set.top.reset();
    if (set.ui) set.ui->uninstall();
    set.ui.reset();
    set.cntlr = std::make_unique<AppMainCntlr>();
    set.cntlr->setAppModel(std::make_shared<AppModel>());
    set.window = MainWindowNib::load();
    set.window->move(0, 0);
    set.window->resize(900, 600);
    if (showScanView) {
        MainWindowNib::outlet(set.window, kTopContentView)->hide();
        MainWindowNib::outlet(set.window, kScanContentView)->show();
    }
    set.ui = std::make_shared<SceneController>(*set.cntlr, set.window);
    set.cntlr->setMainWindowPort(set.ui);
    set.top = std::make_unique<MainWindowTop>(*set.cntlr, *set.ui, *set.ui);
    set.window->show();
    QCoreApplication::processEvents();
    return set;
}

std::vector<QWidget*> topScene(int type) {
    SceneSet& set = freshSet(false);
    set.cntlr->appModel()->setMainTopDispType(type);
    set.top->display().updateMainTopDisplay(nullptr, false);
    return {set.window};
}

std::vector<QWidget*> editScene(int sectionTag) {
    SceneSet& set = freshSet(true);
    if (auto* mode = qobject_cast<TvSegmentedControl*>(kdui::viewWithTag(set.ui->scanContentView(), kImageProcModeTag))) {
        mode->setSegmentCount(2);
        mode->setLabel(QStringLiteral("Typical"), 0);
        mode->setLabel(QStringLiteral("Custom"), 1);
    }
    set.top->editPanel().initEditImageView();
    if (sectionTag) set.top->editPanel().updateEditImageViews(kdui::viewWithTag(set.ui->scanContentView(), sectionTag), false);
    return {set.window};
}

} // namespace

KD_SCREENSHOT_SCENE(topStepScan, "main-window/top-step-scan", kdui::Direction::Both) { return topScene(0); }
KD_SCREENSHOT_SCENE(topBoth, "main-window/top-both", kdui::Direction::Both) { return topScene(1); }
KD_SCREENSHOT_SCENE(topFavorite, "main-window/top-favorite", kdui::Direction::Both) { return topScene(2); }

KD_SCREENSHOT_SCENE(editPanelClosed, "main-window/edit-panel-closed", kdui::Direction::LeftToRight) {
    return editScene(0);
}
KD_SCREENSHOT_SCENE(editPanelProcessing, "main-window/edit-panel-processing", kdui::Direction::Both) {
    return editScene(kImageProcToggleTag);
}
KD_SCREENSHOT_SCENE(editPanelTransform, "main-window/edit-panel-transform", kdui::Direction::LeftToRight) {
    return editScene(kImageTransformToggleTag);
}
KD_SCREENSHOT_SCENE(editPanelRotate, "main-window/edit-panel-rotate", kdui::Direction::LeftToRight) {
    return editScene(kImageRotateToggleTag);
}

KD_SCREENSHOT_SCENE(navigationOverlay, "main-window/navigation", kdui::Direction::Both) {
    SceneSet& set = freshSet(false);
    set.cntlr->appModel()->setMainTopDispType(1);
    set.top->display().updateMainTopDisplay(nullptr, false);
    set.top->commands().showQlrNavigation();
    return {set.window};
}

KD_SCREENSHOT_SCENE(aboutFilled, "main-window/about-filled", kdui::Direction::LeftToRight) {
    SceneSet& set = freshSet(false);
    set.top->display().initAboutWindow();
    set.window->hide();
    return {set.ui->aboutWindow()};
}
