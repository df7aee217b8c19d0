// The main window's form with the top display, edit panel and commands
// over the real application controller; the other engineers' parts (title
// editor, tool tips, edit mode, preferences) are recorded. A bundle of the
// test's own gives the Info.plist and the texts.
#pragma once

#include "MainWindowController.h"
#include "MainWindowNib.h"
#include "MainWindowScanHost.h"
#include "MainWindowTop.h"

#include "AppMainCntlrFakes.h"

#include <AppModel.h>
#include <JobModel.h>

#include <foundation/Bundle.h>
#include <foundation/RunLoop.h>
#include <ui/ViewTag.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QMainWindow>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace toptest {

using Log = std::vector<std::string>;

class RecordingController : public MainWindowController, public qlr_main::MainWindowScanHost {
public:
    RecordingController(AppMainCntlr& cntlr, QWidget* window, Log& log)
        : MainWindowController(cntlr, window), log_(log) {}

    QWidget* mainWindow() override { return MainWindowController::mainWindow(); }
    QWidget* contentView() override { return MainWindowController::contentView(); }
    QWidget* topContentView() override {
        return qlr_main::MainWindowNib::outlet(MainWindowController::mainWindow(), qlr_main::kTopContentView);
    }
    QWidget* scanContentView() override {
        return qlr_main::MainWindowNib::outlet(MainWindowController::mainWindow(), qlr_main::kScanContentView);
    }
    void hideQlrNavigation() override {}

    void endEditingPanelTitle() override { log_.push_back("endEditingPanelTitle"); }
    void removePanelToolTips() override { log_.push_back("removePanelToolTips"); }
    void resetPanelToolTips() override { log_.push_back("resetPanelToolTips"); }
    void changeImageProcMode(QWidget* sender) override {
        log_.push_back("changeImageProcMode " + std::to_string(kdui::tag(sender)));
    }
    void cancelEditingImage() override { log_.push_back("cancelEditingImage"); }

private:
    Log& log_;
};

class Dialogs : public AppDialogsPort {
public:
    explicit Dialogs(Log& log) : log_(log) {}
    void runModalPrefs() override { log_.push_back("runModalPrefs"); }

private:
    Log& log_;
};

// A bundle folder: Info.plist from the given dictionary body, English texts.
inline void writeBundle(const std::filesystem::path& dir, const std::string& infoBody) {
    std::filesystem::remove_all(dir);
    kdtest::TempHome::writeText(dir / "Info.plist", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n"
                                                    "<dict>\n" + infoBody + "</dict>\n</plist>\n");
    kdtest::TempHome::writeText(
        dir / "Resources/en.lproj/Localizable.strings",
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
        "<key>About_Licence</key><string>Licences</string>\n"
        "<key>Nav_Title_Step1</key><string>Step 1</string>\n"
        "<key>Nav_Step1_Message</key><string>Pick an input.</string>\n"
        "<key>Nav_Title_Step2</key><string>Step 2</string>\n"
        "<key>Nav_Step2_Message</key><string>Pick an output.</string>\n"
        "<key>Nav_Title_Step3</key><string>Step 3</string>\n"
        "<key>Nav_Step3_Message</key><string>Scan.</string>\n"
        "<key>Nav_ModeChange_Message</key><string>Favourites.</string>\n"
        "</dict>\n</plist>\n");
}

class TopTest : public ::testing::Test {
protected:
    Log log;
    // One clock for the whole program: the rate limit of animations keeps
    // the last accepted time across tests.
    static kdf::TestClock& testClock() {
        static kdf::TestClock clock;
        return clock;
    }
    kdf::TestClock& clock = testClock();
    std::filesystem::path bundleDir;
    std::unique_ptr<QMainWindow> window;
    std::unique_ptr<AppMainCntlr> cntlr;
    std::shared_ptr<RecordingController> ui;
    std::shared_ptr<Dialogs> dialogs = std::make_shared<Dialogs>(log);
    std::unique_ptr<qlr_main::MainWindowTop> top;

    virtual std::string infoBody() const {
        return "<key>CFBundleName</key><string>Quillora</string>\n"
               "<key>CFBundleShortVersionString</key><string>1.2.3</string>\n";
    }

    void SetUp() override {
        // The rate limit of animations starts afresh.
        clock.advance(kdf::Seconds(10));
        bundleDir = std::filesystem::path(std::getenv("HOME")) / "TopTest.app";
        writeBundle(bundleDir, infoBody());
        kdf::Bundle::setMainBundlePath(bundleDir.string());
        window.reset(qlr_main::MainWindowNib::load());
        window->resize(982, 720);
        window->show();
        cntlr = std::make_unique<AppMainCntlr>();
        cntlr->setDialogsPort(dialogs);
        cntlr->setAppModel(std::make_shared<AppModel>());
        ui = std::make_shared<RecordingController>(*cntlr, window.get(), log);
        cntlr->setMainWindowPort(ui);
        top = std::make_unique<qlr_main::MainWindowTop>(*cntlr, *ui, *ui);
        QCoreApplication::processEvents();
    }
    void TearDown() override {
        top.reset();
        ui->uninstall();
        ui.reset();
        cntlr.reset();
        window.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        kdf::Bundle::setMainBundlePath({});
    }

    QWidget* outlet(const char* name) { return qlr_main::MainWindowNib::outlet(window.get(), name); }
    QWidget* item(int tag) { return ui->mainItem(tag); }
    bool checked(int tag) {
        auto* b = qobject_cast<QAbstractButton*>(item(tag));
        return b && b->isChecked();
    }
    // A view's frame in another view's coordinates.
    static QRect frameIn(QWidget* view, QWidget* ancestor) {
        return {view->mapTo(ancestor, QPoint(0, 0)), view->size()};
    }
    void setDirection(Qt::LayoutDirection d) {
        window->setLayoutDirection(d);
        QCoreApplication::processEvents();
    }
};

} // namespace toptest
