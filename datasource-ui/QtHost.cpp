#include "QtHost.h"

#include "UIUtility.h"

#include <foundation/Bundle.h>

#include <foundation/RunLoop.h>
#include <ui/QtRunLoop.h>

#include <QApplication>
#include <QThread>

#include <xcb/xcb.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace ComTavrolekKD720 {

namespace {

// The application object made here (never destroyed: the host's process
// keeps it until it ends).
QApplication* sOwnApplication = nullptr;

} // namespace

bool displayAnswers(bool* useXcb) {
    *useXcb = false;
    if (const char* platform = std::getenv("QT_QPA_PLATFORM"); platform && *platform) return true;
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) return false;
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const bool ok = connection && xcb_connection_has_error(connection) == 0;
    if (connection) xcb_disconnect(connection);
    *useXcb = ok;
    return ok;
}

bool prepareQtForWindow(bool* ownsLoop) {
    *ownsLoop = false;
    if (QCoreApplication* app = QCoreApplication::instance()) {
        if (!qobject_cast<QApplication*>(app)) {
            std::fprintf(stderr, "KD720 window: the host's application object is no QApplication\n");
            return false;
        }
        if (QThread::currentThread() != app->thread()) {
            std::fprintf(stderr, "KD720 window: called on another thread than the application's\n");
            return false;
        }
        kdui::installQtRunLoopDriver();
        *ownsLoop = app == sOwnApplication;
        return true;
    }
    if (!kdf::RunLoop::isMainThread()) {
        std::fprintf(stderr, "KD720 window: called on another thread than the main thread\n");
        return false;
    }
    // Qt aborts the process when no platform starts: decline before.
    bool useXcb = false;
    if (!displayAnswers(&useXcb)) {
        std::fprintf(stderr, "KD720 window: no display\n");
        return false;
    }
    static int argc = 1;
    static char name[] = "KD720";
    static char platformFlag[] = "-platform";
    static char xcb[] = "xcb";
    static char* argv[] = {name, platformFlag, xcb, nullptr};
    if (useXcb) argc = 3;
    // Qt takes the user's locale for the C library: the host keeps its own.
    const std::string locale = std::setlocale(LC_ALL, nullptr) ? std::setlocale(LC_ALL, nullptr) : "C";
    sOwnApplication = new QApplication(argc, argv);
    std::setlocale(LC_ALL, locale.c_str());
    // Closing the window never ends the host.
    QApplication::setQuitOnLastWindowClosed(false);
    // A Qt host's direction stands; our own application takes the user's.
    QApplication::setLayoutDirection(KdUIUtility::directionForLanguages(kdf::userLanguages()));
    kdui::installQtRunLoopDriver();
    *ownsLoop = true;
    return true;
}

} // namespace ComTavrolekKD720
