// The scan's start and end against the real application controller with
// recording neighbours: the start request and its re-sends while the
// scanner is busy, the ready signal by state, the wait for the page
// threads, the output step, the way back to the main view and the process
// and completion windows' actions.
#include "AppMainCntlrFakes.h"
#include "ScanTestWindow.h"

#include "QlrDeviceCntlr.h"
#include "QlrUtilsMethod.h"

#include <foundation/Exception.h>

#include <time.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace {

using namespace apptest;
using scantest::ScanTestWindow;
namespace fs = std::filesystem;

double threadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

std::shared_ptr<JobModel> plainJob(bool edit, bool again) {
    auto job = std::make_shared<JobModel>();
    job->setJobInputModel_List({std::make_shared<InputModel>()});
    job->setJobOutputModel_List({std::make_shared<OutputModel>()});
    job->setIsImageProcess(edit);
    job->setIsContinueScan(again);
    return job;
}

std::vector<int> indexesOf(const kdf::Value& entry, int* type) {
    std::vector<int> out;
    const kdf::Array* pair = entry.array();
    if (!pair || pair->size() != 2) return out;
    *type = int((*pair)[0].toInteger().value_or(-1));
    if (const kdf::Array* list = (*pair)[1].array())
        for (const auto& v : *list) out.push_back(int(v.toInteger().value_or(-1)));
    return out;
}

// The writer's close of an open PDF, recorded; it may be told to throw.
class ClosingWriter : public RecordingWriter {
public:
    using RecordingWriter::RecordingWriter;
    int closed = 0;
    int throwKind = -1;
    void checkClosePDF() override {
        ++closed;
        if (throwKind == 0) throw kdf::Exception("Err_NotSelectedInput");
        if (throwKind == 1) throw std::runtime_error("not a named one");
    }
};

class MainWindowScanTest : public ControllerTest {
protected:
    std::shared_ptr<ClosingWriter> closing = std::make_shared<ClosingWriter>(log);
    std::shared_ptr<ScanTestWindow> host;
    QlrDeviceCntlr* device = nullptr;
    std::shared_ptr<AppModel> model;
    std::vector<std::shared_ptr<JobModel>> jobs;

    void SetUp() override {
        ControllerTest::SetUp();
        host = std::make_shared<ScanTestWindow>(*cntlr);
        cntlr->setMainWindowPort(host);
        cntlr->setOutputWriterPort(closing);
        AppMainCntlr::setCurrent(cntlr.get());
        device = QlrDeviceCntlr::sharedDeviceCntlr();
        cntlr->setDeviceCntlr(device);
        device->twHandler()->setDSState(TV_TWAINHandler::kStateManagerOpen);
        model = std::make_shared<AppModel>();
        jobs = {plainJob(false, false), plainJob(true, false), plainJob(false, true)};
        model->setJobModel_List(jobs);
        cntlr->setAppModel(model);
    }
    void TearDown() override {
        kdf::RunLoop::main().cancelPerforms(&host->scan);
        device->setIsRunningMemXfer(false);
        cntlr->setDeviceCntlr(nullptr);
        QlrDeviceCntlr::terminateDeviceCntlr();
        AppMainCntlr::setCurrent(nullptr);
        cntlr->setMainWindowPort(nullptr);
        host.reset();
        QlrUtilsMethod::removeTmpFolder();
        ControllerTest::TearDown();
    }
    void runTurns(int n) {
        for (int i = 0; i < n; ++i) runOneTurn();
    }
    // A scan under way as the ready signal leaves it: copy, list, state.
    void startedScan(const std::shared_ptr<JobModel>& job, int state) {
        cntlr->setTmpCopyJobModel_Scan(job);
        host->scan.scanReadyByTwainCB();
        ASSERT_EQ(cntlr->appState(), kAppStateScanReady);
        if (state != kAppStateScanReady) cntlr->storeAppState(state);
    }
    void addPage() {
        auto page = std::make_shared<ImageInfoModel>();
        page->setImgInfo_Width(10);
        page->setImgInfo_Height(10);
        page->setImgInfo_bpp(8);
        cntlr->addImgInfo(page);
    }
};

// A job tile clicked while the scanner is busy stays that job when the
// request is tried again; a selection is never asked for.
TEST_F(MainWindowScanTest, BusyScannerRetriesTheClickedJobNotTheSelection) {
    host->settingCheckPasses = false; // the start stops right after the check
    device->setIsRunningMemXfer(true);
    // The scanner is ready again from the third try on.
    host->onCall = [&](const std::string& call) {
        if (call == "endProc" && host->count("endProc") == 3) device->setIsRunningMemXfer(false);
    };
    host->scan.panelIBViewClickCell(1);
    EXPECT_EQ(host->count("check:1032"), 0);
    ASSERT_TRUE(runUntil([&] { return host->count("check:1032") == 1; }, 2));
    EXPECT_TRUE(alerts->shown.empty()) << "no step scan of the selection";
    ASSERT_TRUE(jobs[1]->userInfoList());
    int type = -1;
    EXPECT_EQ(indexesOf(jobs[1]->userInfoList()->front(), &type), std::vector<int>{1});
    EXPECT_EQ(type, kJobPanelType);
    EXPECT_FALSE(cntlr->tmpCopyJobModel_Scan()) << "the failed start drops the copy";
    EXPECT_EQ(qlr_main::MainWindowScan::retryExecuteScanCount(), 0);
}

TEST_F(MainWindowScanTest, RequestIsDroppedAfterFiveResendsAndANewOneReplacesAWaitingOne) {
    device->setIsRunningMemXfer(true);
    host->scan.panelIBViewClickCell(0);
    runTurns(12);
    // The first try and five re-sends, each closing what stands over the
    // window; then the request is gone without a message.
    EXPECT_EQ(host->count("endProc"), 6);
    EXPECT_EQ(host->count("check:1032"), 0);
    EXPECT_TRUE(alerts->shown.empty());
    EXPECT_FALSE(kdf::RunLoop::main().hasPerforms(&host->scan));
    EXPECT_EQ(qlr_main::MainWindowScan::retryExecuteScanCount(), 0);

    // Two clicks while busy: only the newer one is waiting and then runs.
    host->settingCheckPasses = false;
    host->scan.panelIBViewClickCell(0);
    host->scan.panelIBViewClickCell(2);
    device->setIsRunningMemXfer(false);
    runTurns(4);
    EXPECT_EQ(host->count("check:1032"), 1);
    EXPECT_FALSE(jobs[0]->userInfoList());
    EXPECT_TRUE(jobs[2]->userInfoList());
}

TEST_F(MainWindowScanTest, ScanButtonWithoutSelectionShowsTheErrorAndStartsNothing) {
    host->scan.executeScan(qlr_main::ScanRequest{});
    ASSERT_EQ(alerts->shown.size(), 1u);
    EXPECT_EQ(host->count("check:none"), 0);
    EXPECT_FALSE(cntlr->tmpCopyJobModel_Scan());

    // A click past the end of the job list: no job, nothing scanned.
    host->scan.panelIBViewClickCell(7);
    EXPECT_EQ(host->count("check:1032"), 0);
    EXPECT_FALSE(cntlr->tmpCopyJobModel_Scan());
    EXPECT_EQ(cntlr->appState(), kAppStateMainTop);
}

TEST_F(MainWindowScanTest, ReadySignalPreparesTheScanOnlyFromTheMainView) {
    // Without a job copy nothing is prepared.
    host->scan.scanReadyByTwainCB();
    EXPECT_EQ(cntlr->appState(), kAppStateMainTop);
    EXPECT_FALSE(cntlr->hasImgInfoArray());
    EXPECT_FALSE(host->scanView->isVisibleTo(host->window.get()));

    // The stored job (listed twice) and an index past the end.
    model->setJobModel_List({jobs[0], jobs[1], jobs[0]});
    auto job = jobs[1]->copy();
    job->setUserInfoList(kdf::Array{kdf::Value(kdf::Array{kdf::Value(2), kdf::Value(kdf::Array{0, 2, 9})}),
                                    kdf::Value(kdf::Array{kdf::Value(7), kdf::Value(kdf::Array{0})})});
    cntlr->setTmpCopyJobModel_Scan(job);
    cntlr->setIsErrInFinalOutput(true);
    host->window->setWindowOpacity(1.0);
    host->againButton->setEnabled(true);
    host->scan.scanReadyByTwainCB();
    EXPECT_EQ(cntlr->appState(), kAppStateScanReady);
    EXPECT_EQ(jobs[0]->job_WholeModel()->panelUseCount(), 2);
    EXPECT_EQ(jobs[1]->job_WholeModel()->panelUseCount(), 0);
    EXPECT_FALSE(cntlr->isErrInFinalOutput());
    EXPECT_TRUE(host->scanView->isVisibleTo(host->window.get()));
    EXPECT_FALSE(host->top->isVisibleTo(host->window.get()));
    EXPECT_TRUE(host->editButton->isVisibleTo(host->window.get())) << "an edit job";
    EXPECT_FALSE(host->againButton->isEnabled()) << "not a continue job";
    EXPECT_TRUE(host->browser->allowsReordering());
    EXPECT_EQ(host->pageNumberOutput->value(), 1);
    EXPECT_TRUE(cntlr->hasImgInfoArray());
    EXPECT_TRUE(fs::is_directory(*QlrUtilsMethod::tmpImageFolderPath()));

    // Further ready signals: 101 and 102 keep their state, 103 and 104
    // return to 100 without a new page list.
    addPage();
    for (int state : {kAppStateScanning, kAppStateScanWriting, kAppStateScanFinished, kAppStateScanEnded,
                      kAppStateOutputStarted}) {
        SCOPED_TRACE(state);
        cntlr->storeAppState(state);
        host->scan.scanReadyByTwainCB();
        const bool back = state == kAppStateScanFinished || state == kAppStateScanEnded;
        EXPECT_EQ(cntlr->appState(), back ? kAppStateScanReady : state);
        EXPECT_EQ(cntlr->countOfImgInfoDict(), 1);
    }
}

TEST_F(MainWindowScanTest, HiddenWindowTurnsEditAndContinueOffOnTheCopyOnly) {
    host->window->setWindowOpacity(0.0);
    cntlr->setTmpCopyJobModel_Scan(jobs[1]);
    host->scan.scanReadyByTwainCB();
    auto copy = cntlr->tmpCopyJobModel_Scan();
    EXPECT_FALSE(copy->isImageProcess());
    EXPECT_FALSE(copy->isContinueScan());
    EXPECT_TRUE(jobs[1]->isImageProcess());
    EXPECT_FALSE(host->editButton->isVisibleTo(host->window.get()));
}

// While pages are still written, the end of the scan is looked at again
// about ten times a second, not in a loop that keeps the main thread busy.
TEST_F(MainWindowScanTest, FinishScanWaitsForPageThreadsWithoutSpinning) {
    startedScan(plainJob(false, false), kAppStateScanFinished);
    addPage();
    cntlr->upReadImgFileForJobScnCount();
    host->scan.finishScan(host->finishButton);
    const double cpu0 = threadCpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    runUntil([] { return false; }, 0.5);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_LT(threadCpuSeconds() - cpu0, 0.25 * wall);
    EXPECT_TRUE(kdf::RunLoop::main().hasPerforms(&host->scan));
    EXPECT_EQ(cntlr->appState(), kAppStateScanFinished);

    cntlr->downReadImgFileForJobScnCount();
    ASSERT_TRUE(runUntil([&] { return cntlr->appState() == kAppStateHandOn; }, 2));
    EXPECT_EQ(host->count("check:none"), 0) << "no check without a sender";
    EXPECT_EQ(closing->closed, 1);
}

TEST_F(MainWindowScanTest, FinishScanStopsForEmptyListsAndHandJobs) {
    struct Case {
        bool edit, again, error;
        int pages;
        int state;
    };
    const Case cases[] = {
        {false, false, false, 0, kAppStateScanFinished}, {true, false, false, 1, kAppStateScanFinished},
        {false, true, false, 1, kAppStateScanFinished},  {false, false, true, 1, kAppStateScanFinished},
        {false, false, false, 1, kAppStateHandOn},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.edit) + std::to_string(c.again) + std::to_string(c.error));
        startedScan(plainJob(c.edit, c.again), kAppStateScanFinished);
        for (int i = 0; i < c.pages; ++i) addPage();
        ASSERT_TRUE(runUntil([&] { return cntlr->readImgFileForJobScnCount() == 0; }));
        cntlr->setIsErrInFinalOutput(c.error);
        cntlr->setIsScnCancelOnMain(true);
        host->scan.finishScan(nullptr);
        EXPECT_EQ(cntlr->appState(), c.state);
        EXPECT_EQ(cntlr->isScnCancelOnMain(), c.pages == 0) << "flags reset once pages exist";
        cntlr->setIsErrInFinalOutput(false);
        cntlr->releaseImgInfoArray(true);
        cntlr->storeAppState(kAppStateMainTop);
    }
}

TEST_F(MainWindowScanTest, FinishButtonChecksTheJobAndConvertsEditedPages) {
    startedScan(plainJob(true, false), kAppStateScanFinished);
    addPage();
    host->settingCheckPasses = false;
    host->finishButton->click();
    EXPECT_EQ(cntlr->appState(), kAppStateScanFinished);
    EXPECT_EQ(host->count("check:4042"), 1);
    EXPECT_EQ(closing->closed, 0);

    host->settingCheckPasses = true;
    host->states.clear();
    host->finishButton->click();
    EXPECT_EQ(host->states, (std::vector<int>{kAppStateOutputStarted, kAppStateConvertNext}));
    EXPECT_EQ(host->count("cancelEditing"), 1);
    EXPECT_EQ(host->count("currentOutputNone"), 1);
}

// Nothing thrown in the output step escapes into the toolkit.
TEST_F(MainWindowScanTest, ExceptionsInTheOutputStepBecomeAlerts) {
    cntlr->setTmpCopyJobModel_Scan(plainJob(false, false));
    for (int kind : {0, 1}) {
        closing->throwKind = kind;
        EXPECT_NO_THROW(host->scan.executeFunction(nullptr));
    }
    closing->throwKind = -1;
    ASSERT_EQ(alerts->shown.size(), 2u);
    EXPECT_NE(alerts->shown[0].informativeText, alerts->shown[1].informativeText);
    EXPECT_EQ(alerts->shown[1].informativeText, TV_Message::errorText(kdf::Exception("Err_UnknownError")));
    EXPECT_EQ(cntlr->appState(), kAppStateMainTop) << "the state stays where it was";
}

TEST_F(MainWindowScanTest, BackToMainAsksKeepsOrDiscards) {
    struct Case {
        const char* name;
        int state;
        int pages;
        int sender; // 0 none, 1 control, 2 number
        int answer; // the recorder's button: 0 OK, 1 Cancel, -1 not shown
        bool asked, result, changed, cancelled;
    };
    const Case cases[] = {
        {"number outside a scan", kAppStateMainTop, 0, 2, 0, false, false, false, false},
        {"number in a scan", kAppStateScanning, 1, 2, 0, false, true, true, true},
        {"none without pages", kAppStateScanning, 0, 0, 0, false, true, true, true},
        {"answered Cancel", kAppStateScanning, 1, 0, 1, true, false, false, false},
        {"answered OK", kAppStateScanFinished, 1, 0, 0, true, true, true, true},
        {"control, alert not shown", kAppStateScanEnded, 0, 1, -1, true, true, true, true},
        {"none in the main view", kAppStateMainTop, 0, 0, 0, false, false, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        startedScan(plainJob(false, false), c.state == kAppStateMainTop ? kAppStateScanReady : c.state);
        for (int i = 0; i < c.pages; ++i) addPage();
        if (c.state == kAppStateMainTop) cntlr->storeAppState(kAppStateMainTop);
        alerts->shown.clear();
        alerts->answer = c.answer;
        log.take();
        cntlr->setIsWriteFileCancel(false);
        const bool result = host->scan.clearProcessAndShiftToMain(c.sender == 1 ? host->backButton : nullptr,
                                                                  c.sender == 2);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(alerts->shown.size(), c.asked ? 1u : 0u);
        EXPECT_EQ(cntlr->isWriteFileCancel(), c.cancelled);
        EXPECT_EQ(cntlr->hasImgInfoArray(), !c.changed);
        EXPECT_EQ(fs::exists(*QlrUtilsMethod::tmpImageFolderPath()), !c.changed);
        if (c.changed) {
            EXPECT_EQ(cntlr->appState(), kAppStateMainTop);
            EXPECT_TRUE(host->top->isVisibleTo(host->window.get()));
            // Pages are discarded only on a silent call or an OK.
            const bool discard = (c.sender == 2 && c.state != kAppStateMainTop) || (c.asked && c.answer == 0);
            if (c.state != kAppStateMainTop) {
                EXPECT_EQ(log.count(std::string("release:") + (discard ? "1" : "0") + ":1"), 1u);
            }
        } else {
            EXPECT_EQ(cntlr->appState(), c.state);
        }
        cntlr->releaseImgInfoArray(true);
        cntlr->storeAppState(kAppStateMainTop);
    }
}

TEST_F(MainWindowScanTest, ProcessWindowCancelActsOnlyWhenAllowed) {
    QPushButton cancel;
    kdui::setTag(&cancel, qlr_main::kTagProcCancelButton);
    QWidget kdWindow;
    struct Case {
        const char* name;
        int state;
        int pages;
        int answer;
        bool kdWindowShown, prescan, expected;
    };
    const Case cases[] = {
        {"state 100", kAppStateScanReady, 0, 0, false, false, false},
        {"no pages yet", kAppStateScanning, 0, 0, false, false, true},
        {"pages, OK", kAppStateScanning, 2, 0, false, false, true},
        {"pages, Cancel", kAppStateScanning, 2, 1, false, false, false},
        {"source window up", kAppStateScanning, 0, 0, true, false, false},
        {"prescan before the first page", kAppStateScanning, 0, 0, false, true, false},
        {"prescan after a page", kAppStateScanning, 1, 0, false, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto job = plainJob(false, false);
        job->jobInputModel_List().front()->setScnStColorType(1);
        job->jobInputModel_List().front()->setCcap_TVK_PRESCAN(c.prescan ? 1 : 0);
        startedScan(job, c.state);
        for (int i = 0; i < c.pages; ++i) addPage();
        cntlr->setKdMainWin(c.kdWindowShown ? &kdWindow : nullptr);
        cancel.setEnabled(true);
        cntlr->setIsScnCancelOnMain(false);
        alerts->shown.clear();
        alerts->answer = c.answer;
        host->calls.clear();
        host->scan.actionFromProcWindow(&cancel);
        EXPECT_EQ(cntlr->isScnCancelOnMain(), c.expected);
        EXPECT_EQ(cancel.isEnabled(), !c.expected);
        EXPECT_EQ(host->count("procText:ScanState_ScningCancel:"), c.expected ? 1 : 0);
        EXPECT_EQ(alerts->shown.size(), c.pages > 0 && c.state == kAppStateScanning && !c.kdWindowShown ? 1u : 0u);
        cntlr->releaseImgInfoArray(true);
        cntlr->storeAppState(kAppStateMainTop);
    }
    cntlr->setKdMainWin(nullptr);
    cntlr->setIsScnCancelOnMain(false);
    // Without a sender, or another control, nothing happens.
    cntlr->storeAppState(kAppStateScanning);
    host->scan.actionFromProcWindow(nullptr);
    host->scan.actionFromProcWindow(host->backButton);
    EXPECT_FALSE(cntlr->isScnCancelOnMain());
}

// The completion window's folder link opens the first written file's
// folder through the desktop's opener; an output that wrote nothing opens
// nothing.
TEST_F(MainWindowScanTest, CompletionLinkOpensTheFolderOfTheFirstFile) {
    const std::string oldPath = std::getenv("PATH");
    const fs::path record = scantest::installOpener(std::getenv("HOME"));

    const fs::path folder = fs::path(std::getenv("HOME")) / "Scans";
    fs::create_directories(folder);
    TvOpenLinkTextField link;
    kdui::setTag(&link, qlr_main::kTagCompleteLink2);
    auto output = std::make_shared<OutputModel>();
    link.setOutputModel(output);
    host->scan.actionFromCompleteWindow(&link);
    output->setWriteFilePathArray({(folder / "Scan_001.pdf").string(), "/elsewhere/Scan_002.pdf"});
    host->scan.actionFromCompleteWindow(&link);
    EXPECT_TRUE(runUntil([&] { return fs::exists(record); }, 5));
    EXPECT_EQ(scantest::firstOpened(record), folder);
    std::ifstream in(record);
    std::string line;
    std::getline(in, line);
    EXPECT_FALSE(std::getline(in, line)) << "one folder opened";
    setenv("PATH", oldPath.c_str(), 1);

    QPushButton close;
    kdui::setTag(&close, qlr_main::kTagCompleteCloseButton);
    host->scan.actionFromCompleteWindow(&close);
    EXPECT_EQ(host->count("endComplete"), 1);
}

TEST_F(MainWindowScanTest, ScanAgainOnlyFromAnEnabledButtonRunsTheHeldJob) {
    startedScan(plainJob(false, true), kAppStateScanFinished);
    auto held = cntlr->tmpCopyJobModel_Scan();
    host->settingCheckPasses = false;
    host->againButton->setEnabled(false);
    host->scan.againExeScan(host->againButton);
    EXPECT_EQ(host->count("check:none"), 0);
    host->againButton->setEnabled(true);
    host->scan.againExeScan(host->againButton);
    EXPECT_EQ(host->count("cancelEditing"), 1);
    EXPECT_EQ(host->count("check:none"), 1);
    EXPECT_EQ(cntlr->tmpCopyJobModel_Scan(), held) << "kept outside the main view";
}

} // namespace

APPTEST_MAIN()
