// The spine of a scan as the user drives it from the main window: a click
// on a job tile, the Scan button or a scanner button becomes a frozen copy
// of the job and a request to open the data source; the source's ready
// signal swaps in the scanning view; the end of the scan hands over to the
// output step; scanning again, cancelling, going back to the main view and
// the completion window's links follow.
//
// The main-window controller owns one and delegates the controller's calls
// (scanReadyByTwainCB, finishScan, cancelToMain, againExeScan, the job-tile
// click) and the actions of the scanning view, the process window and the
// completion window to it. Main thread only.
#pragma once

#include "MainWindowScanHost.h"

#include <QPointer>
#include <QWidget>

#include <optional>

class AppMainCntlr;

namespace qlr_main {

// Tags of the controls this part reads or drives.
enum ScanControlTag : int {
    kTagJobPanelClickControl = 1032,
    kTagPageNumberOutput = 4037,
    kTagEditImageControl = 4039,
    kTagScanAgainButton = 4040,
    kTagBackToMainButton = 4041,
    kTagFinishButton = 4042,
    kTagProcCancelButton = 6002,
    kTagCompleteCloseButton = 7000,
    kTagCompleteLink1 = 7003,
    kTagCompleteLink2 = 7005,
    kTagCompleteLink3 = 7007,
};

// A start request: a control (or none), and for a job-tile click the
// clicked tile's index.
struct ScanRequest {
    QPointer<QWidget> control;
    bool isJobPanelClick = false;
    unsigned index = 0;
};

class MainWindowScan {
public:
    MainWindowScan(AppMainCntlr& cntlr, MainWindowScanHost& host);
    ~MainWindowScan();
    MainWindowScan(const MainWindowScan&) = delete;
    MainWindowScan& operator=(const MainWindowScan&) = delete;

    // A click (or the space bar) on a job tile: the control tagged 1032 in
    // the top view with the tile's index.
    void panelIBViewClickCell(unsigned index);

    void executeScan(const ScanRequest& request);
    void scanReadyByTwainCB();
    void finishScan(QWidget* sender);
    void executeFunction(QWidget* sender);
    void againExeScan(QWidget* sender);
    void cancelToMain();
    // silent: the caller's number form (no question, discard the pages).
    bool clearProcessAndShiftToMain(QWidget* sender, bool silent = false);
    void scanCancelOnMain();
    void actionFromProcWindow(QWidget* sender);
    void actionFromCompleteWindow(QWidget* sender);
    void transitionViewToScanning();
    void transitionViewToMain();

    // Connects the scanning view's buttons of this part (scan again, back,
    // finish) to their actions; the process and completion windows connect
    // theirs to actionFromProcWindow and actionFromCompleteWindow.
    void connectScanViewActions();

    // Re-sent start requests pending, or spent for the current request.
    static int retryExecuteScanCount();
    // How long finishScan waits before it looks at the page threads again.
    static constexpr double kFinishScanRecheckSeconds = 0.1;
    static constexpr int kMaxExecuteScanRetries = 5;

private:
    QWidget* scanControl(int tag) const;
    void unhighlight(QWidget* control) const;
    void runOutputStep(QWidget* sender, int tag);

    AppMainCntlr& cntlr_;
    MainWindowScanHost& host_;
};

} // namespace qlr_main
