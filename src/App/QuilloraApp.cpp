#include "QuilloraApp.h"

#include "AppMainCntlrPlugin.h"
#include "CreatePDF.h"
#include "CreateTIFF.h"
#include "FileNameSettingCntlr.h"
#include "FileOptionSettingCntlr.h"
#include "MainWindowNib.h"
#include "MainWindowScanController.h"
#include "OutputWriter.h"
#include "PrefsCntlr.h"

#include <AppMainCntlrSaveLoad.h>
#include <ProcessWindowServices.h>
#include <QlrUtilsMethod.h>
#include <TV_MessageUI.h>
#include <TvAlert.h>

#include <foundation/NotificationCenter.h>
#include <ui/QtRunLoop.h>

#include <QApplication>
#include <QCloseEvent>
#include <QMainWindow>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace quillora {

namespace {

class SharedDialogsPort : public AppDialogsPort {
public:
    void createSharedDialogs() override { FileNameSettingCntlr::sharedFileNameSettingCntlr(); }
    bool isFileOptionPanelVisible() const override {
        return FileOptionSettingCntlr::sharedFileOptionSettingCntlr()->isVisible();
    }
    QWidget* preferencesPanel() override { return PrefsCntlr::sharedPrefsCntlr()->prefsPanel(); }
    std::shared_ptr<PrefsModel> prefsModel() override { return PrefsCntlr::sharedPrefsCntlr()->prefsModel(); }
    void terminatePrefsCntlr() override { PrefsCntlr::terminatePrefsCntlr(); }
    void terminateFileNameSettingCntlr() override { FileNameSettingCntlr::terminateFileNameSettingCntlr(); }
    void terminateFileOptionSettingCntlr() override { FileOptionSettingCntlr::terminateFileOptionSettingCntlr(); }
    void runModalPrefs() override { PrefsCntlr::sharedPrefsCntlr()->runModalPrefs(); }
};

int sSignalWriteEnd = -1;

extern "C" void onQuitSignal(int) {
    const char byte = 1;
    if (sSignalWriteEnd >= 0) (void)!::write(sSignalWriteEnd, &byte, 1);
}

} // namespace

std::shared_ptr<AppMainWindowPort> makeMainWindowPort(AppMainCntlr& cntlr) {
    auto controller = std::make_shared<qlr_main::MainWindowScanController>(cntlr, qlr_main::MainWindowNib::load());
    MainWindowCntlr::setProcessWindow(controller);
    cntlr.setPreviewPort(controller->previewCntlr());
    return controller;
}

std::shared_ptr<AppDialogsPort> makeDialogsPort(AppMainCntlr& /*cntlr*/) {
    return std::make_shared<SharedDialogsPort>();
}

void installNeighbours(AppMainCntlr& cntlr) {
    cntlr.setMainWindowPort(makeMainWindowPort(cntlr));
    cntlr.setDialogsPort(makeDialogsPort(cntlr));
    auto writer = std::make_shared<qlr_output::OutputWriter>(cntlr);
    qlr_output::installPdfWriter(*writer, std::make_shared<qlr_output::CreatePDF>(cntlr));
    qlr_output::installTIFFWriter(*writer);
    cntlr.setOutputWriterPort(writer);
}

void applicationWillTerminate(AppMainCntlr& cntlr) {
    cntlr.applicationWillTerminate();
    kdf::NotificationCenter::defaultCenter().post(kdf::kApplicationWillTerminateNotification, nullptr);
}

// ---- ApplicationHooks -------------------------------------------------------------------------

ApplicationHooks::ApplicationHooks(QCoreApplication& app, AppMainCntlr& cntlr) : cntlr_(cntlr) {
    app.installEventFilter(this);
    if (auto* gui = qobject_cast<QGuiApplication*>(&app)) {
        // The main window's close decides; no quit behind the controller's back.
        gui->setQuitOnLastWindowClosed(false);
        connect(gui, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
            if (state == Qt::ApplicationActive) cntlr_.applicationDidBecomeActive();
        });
    }
    connect(&app, &QCoreApplication::aboutToQuit, this, [this] { applicationWillTerminate(cntlr_); });

    if (::pipe2(signalPipe_, O_CLOEXEC | O_NONBLOCK) == 0) {
        sSignalWriteEnd = signalPipe_[1];
        auto* notifier = new QSocketNotifier(signalPipe_[0], QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this] {
            char buf[16];
            while (::read(signalPipe_[0], buf, sizeof buf) > 0) {
            }
            requestQuit();
        });
        struct sigaction action {};
        action.sa_handler = onQuitSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGTERM, &action, nullptr);
        ::sigaction(SIGINT, &action, nullptr);
    }
}

ApplicationHooks::~ApplicationHooks() {
    if (signalPipe_[0] < 0) return;
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGINT, SIG_DFL);
    sSignalWriteEnd = -1;
    ::close(signalPipe_[0]);
    ::close(signalPipe_[1]);
}

void ApplicationHooks::watchWindow(QObject* window) {
    if (window) window->installEventFilter(this);
}

void ApplicationHooks::requestQuit() {
    if (quitting_ || !cntlr_.applicationShouldTerminate()) return;
    quitting_ = true;
    QCoreApplication::exit(0);
}

bool ApplicationHooks::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Quit && watched == QCoreApplication::instance()) {
        if (quitting_) return false;
        if (!cntlr_.applicationShouldTerminate()) {
            event->ignore();
            return true;
        }
        quitting_ = true;
        return false;
    }
    if (event->type() == QEvent::Close && watched->isWidgetType() && !quitting_) {
        if (!cntlr_.windowShouldClose(static_cast<QWidget*>(watched))) {
            event->ignore();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

// ---- The program ------------------------------------------------------------------------------

int run(int argc, char** argv) {
    if (QlrUtilsMethod::isAppLaunched()) {
        // Ends quietly for the user, but a script waiting for this copy's
        // work learns why nothing happened.
        std::fputs("Quillora is already running: this copy ends.\n", stderr);
        return 0;
    }

    QApplication app(argc, argv);
    kdui::installQtRunLoopDriver();
    TV_Message::installMessageBoxPresenter();
    installTvAlertPresenter();

    // Settings of another format version go before anything reads them.
    AppMainCntlrSaveLoad::checkAppPlistIfDiffRemove();

    AppMainCntlr cntlr;
    AppMainCntlr::setCurrent(&cntlr);
    ApplicationHooks hooks(app, cntlr);
    // The plug-in registry answers from the first step of init on and
    // outlives the run, so no plug-in object is left to a freed host.
    const auto pluginHost = qlr_output::PluginHost::install(cntlr);
    installNeighbours(cntlr);
    if (!cntlr.init()) return 1;

    cntlr.mainWindowPort()->awakeFromNib();
    hooks.watchWindow(cntlr.mainWindow());
    cntlr.applicationWillFinishLaunching();
    QTimer::singleShot(0, &app, [&cntlr] { cntlr.applicationDidFinishLaunching(); });
    const int result = app.exec();
    // The main window goes with the application object, not at the
    // process's static end, where Qt is gone.
    MainWindowCntlr::setProcessWindow(nullptr);
    cntlr.setMainWindowPort(nullptr);
    cntlr.setPreviewPort(nullptr);
    cntlr.setOutputWriterPort(nullptr);
    cntlr.setDialogsPort(nullptr);
    // The host ends here, while the controller it reads still lives (the
    // registry would otherwise keep it until the process's static end).
    if (PluginRegistryQueries::current() == pluginHost) PluginRegistryQueries::setCurrent(nullptr);
    AppMainCntlr::setCurrent(nullptr);
    return result;
}

} // namespace quillora
