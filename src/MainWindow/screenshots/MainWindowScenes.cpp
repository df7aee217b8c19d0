// Screenshot scenes of the main window and the windows beside it: both
// content views, the process window while scanning and writing, the
// completion window in both title modes, the About window and the dark
// shield.
#include "MainWindowController.h"
#include "MainWindowNib.h"

#include <AppMainCntlr.h>
#include <JobModel.h>
#include <OutputModel.h>
#include <TvAnimationImageView.h>
#include <TvBackgroundViews.h>
#include <TvPopoverWindow.h>
#include <TvWindow.h>

#include <foundation/RunLoop.h>
#include <ui/Screenshots.h>

#include <QMainWindow>

#include <memory>

namespace {

// One controller per scene build. The tool deletes the scene's windows; the
// controller only keeps weak pointers to them, so the next build frees it.
struct SceneSet {
    std::unique_ptr<AppMainCntlr> cntlr;
    std::shared_ptr<MainWindowController> ui;
    QMainWindow* window = nullptr;
};

SceneSet& freshSet(bool showScanView) {
    static SceneSet set;
    if (set.ui) set.ui->uninstall();
    set.ui.reset();
    set.cntlr.reset();
    set.cntlr = std::make_unique<AppMainCntlr>();
    set.window = qlr_main::MainWindowNib::load();
    set.window->move(0, 0);
    set.window->resize(900, 600);
    if (showScanView) {
        set.window->findChild<QWidget*>(QString::fromLatin1(qlr_main::kTopContentView))->hide();
        set.window->findChild<QWidget*>(QString::fromLatin1(qlr_main::kScanContentView))->show();
    }
    set.ui = MainWindowController::install(*set.cntlr, set.window);
    return set;
}

// Lets the queued spinner start run, then stops it: a still picture.
void settle(SceneSet& set) {
    kdf::RunLoop::main().runMode(kdf::RunLoopMode::Default, kdf::Seconds(0.01));
    if (auto* spinner = set.ui->animationImageView()) spinner->stopThreadAnimation();
}

std::vector<QWidget*> processScene(int state, int pages) {
    SceneSet& set = freshSet(true);
    auto job = std::make_shared<JobModel>();
    job->setJobInputModel_List({std::make_shared<InputModel>()});
    job->setJobOutputModel_List({std::make_shared<OutputModel>()});
    job->setIsContinueScan(false);
    job->setIsImageProcess(false);
    set.cntlr->setTmpCopyJobModel_Scan(job);
    set.cntlr->setPreImageModel_List(std::vector<std::shared_ptr<PanelModel>>(std::size_t(pages)));
    set.window->show();
    if (state >= kAppStateOutputStarted) set.cntlr->storeAppState(kAppStateScanFinished);
    set.cntlr->setAppState(state);
    settle(set);
    return {set.window, set.ui->processWindow()};
}

std::vector<QWidget*> completeScene(bool jobTitle) {
    SceneSet& set = freshSet(false);
    delete set.window;
    auto job = std::make_shared<JobModel>();
    job->setDispTitle("Receipts");
    auto folder = [](const char* title, std::vector<std::string> files) {
        auto out = std::make_shared<OutputModel>();
        out->setDispTitle(title);
        out->setWriteFilePathArray(std::move(files));
        return out;
    };
    job->setJobOutputModel_List({folder("Documents", {"/home/user/Documents/Scans/scan_0001.pdf"}),
                                 folder("Pictures", {"/home/user/Pictures/scan_0001.jpg"})});
    job->setUserInfoList(
        kdf::Array{kdf::Value(kdf::Array{kdf::Value(jobTitle ? 2 : 1), kdf::Value(kdf::Array{kdf::Value(0)})})});
    set.cntlr->setTmpJobModel_Complete(job);
    set.ui->startCompleteWindowByPerform();
    kdf::RunLoop::main().cancelPerforms(set.ui.get());
    set.ui->completeWindow()->setWindowOpacity(kFlatWindowAlpha);
    return {set.ui->completeWindow()};
}

} // namespace

KD_SCREENSHOT_SCENE(mainWindowTop, "main-window/top-view", kdui::Direction::Both) {
    return {freshSet(false).window};
}

KD_SCREENSHOT_SCENE(mainWindowScan, "main-window/scan-view", kdui::Direction::Both) {
    return {freshSet(true).window};
}

KD_SCREENSHOT_SCENE(processWindowReady, "main-window/process-ready", kdui::Direction::Both) {
    return processScene(kAppStateScanReady, 0);
}

KD_SCREENSHOT_SCENE(processWindowScanning, "main-window/process-scanning", kdui::Direction::LeftToRight) {
    return processScene(kAppStateScanning, 7);
}

KD_SCREENSHOT_SCENE(processWindowSaving, "main-window/process-saving", kdui::Direction::LeftToRight) {
    return processScene(kAppStateOutputStarted, 7);
}

KD_SCREENSHOT_SCENE(completeWindowJob, "main-window/complete-job-title", kdui::Direction::Both) {
    return completeScene(true);
}

KD_SCREENSHOT_SCENE(completeWindowOutputs, "main-window/complete-output-titles", kdui::Direction::LeftToRight) {
    return completeScene(false);
}

KD_SCREENSHOT_SCENE(aboutWindow, "main-window/about", kdui::Direction::LeftToRight) {
    SceneSet& set = freshSet(false);
    delete set.window;
    return {set.ui->aboutWindow()};
}

KD_SCREENSHOT_SCENE(darkShield, "main-window/dark-shield", kdui::Direction::LeftToRight) {
    SceneSet& set = freshSet(false);
    set.ui->showDarkShield();
    return {set.window};
}
