// The main window as the application shows it at its first start: the
// built-in size and the panes' built-in extents.
#include "AppMainCntlrLaunch.h"
#include "MainWindowNib.h"

#include <ui/Screenshots.h>

#include <QSplitter>

KD_SCREENSHOT_SCENE(mainWindowAtStart, "app/main-window-start", kdui::Direction::Both) {
    QMainWindow* window = qlr_main::MainWindowNib::load();
    window->resize(kMainWindowDefaultWidth, kMainWindowDefaultHeight);
    window->move(0, 0);
    if (QSplitter* steps = qlr_main::MainWindowNib::splitView(window, qlr_main::kTopStepScanSplitView)) {
        steps->setStretchFactor(0, 0);
        steps->setStretchFactor(1, 1);
        steps->setSizes({int(kDefaultStep1PaneHeight), kMainWindowDefaultHeight});
    }
    return {window};
}
