// The program Quillora around its controller: the neighbours it starts
// with, the application's moments on Qt's signals and events, and the run
// from the single-copy check to the end of the event loop.
#pragma once

#include <AppMainCntlr.h>

#include <QObject>

#include <memory>

class QCoreApplication;

namespace quillora {

// ---- The neighbours the controller starts with. The main-window
// controller is plugged in HERE: until it exists, a port that only builds
// the main window from its form.
std::shared_ptr<AppMainWindowPort> makeMainWindowPort(AppMainCntlr& cntlr);
// The shared dialog controllers that exist so far (the file-name dialog).
std::shared_ptr<AppDialogsPort> makeDialogsPort(AppMainCntlr& cntlr);
// Registers every neighbour: main window, dialogs, output writer.
void installNeighbours(AppMainCntlr& cntlr);

// The end of the run, on aboutToQuit: the controller saves, then every
// observer (a data source loaded into the process among them) hears that
// the application will terminate.
void applicationWillTerminate(AppMainCntlr& cntlr);

// Routes the application's quit requests, the main window's close and the
// activation changes to the controller; SIGTERM and SIGINT become quit
// requests, so a session logout saves like the Quit item.
class ApplicationHooks : public QObject {
public:
    ApplicationHooks(QCoreApplication& app, AppMainCntlr& cntlr);
    ~ApplicationHooks() override;
    ApplicationHooks(const ApplicationHooks&) = delete;
    ApplicationHooks& operator=(const ApplicationHooks&) = delete;

    // Watches the window's close requests.
    void watchWindow(QObject* window);
    // A quit request: asks the controller, then ends the event loop.
    void requestQuit();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    AppMainCntlr& cntlr_;
    bool quitting_ = false;
    int signalPipe_[2] = {-1, -1};
};

// The whole program: 0 at once for a second copy; non-zero when the
// controller could not be made; else the event loop's result.
int run(int argc, char** argv);

} // namespace quillora
