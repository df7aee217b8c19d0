// The application state: transitions with their follow-up steps, the job
// copies and their plug-in settings, the quit checks, the panel checks.
#include "AppBundleFixture.h"
#include "AppMainCntlrFakes.h"

#include "QlrDeviceCntlr.h"
#include "QlrUtilsMethod.h"

#include <QWidget>

namespace {

using namespace apptest;
using Log = std::vector<std::string>;

struct StateCase {
    const char* name;
    std::vector<int> states;
    bool continueScan;
    bool autoClose;
    int finalState;
    Log afterSet;  // calls made by the setter itself
    Log afterLoop; // calls made later on the main loop or a thread
    bool autoCloseAfter;
    bool converts = false; // the conversion thread ran
};

class AppStateTable : public ControllerTest, public ::testing::WithParamInterface<StateCase> {};

TEST_P(AppStateTable, FollowUps) {
    const StateCase& c = GetParam();
    auto job = std::make_shared<JobModel>();
    job->setIsContinueScan(c.continueScan);
    cntlr->setTmpCopyJobModel_Scan(job);
    cntlr->setIsAutoCloseApp(c.autoClose);

    for (int s : c.states) cntlr->setAppState(s);
    EXPECT_EQ(cntlr->appState(), c.finalState);
    EXPECT_EQ(log.take(), c.afterSet);

    // Delayed performs (0 s and 0.5 s) and the conversion thread.
    {
        kdf::TestClock clock;
        kdf::RunLoop::main().runMode(kdf::RunLoopMode::Default, kdf::Seconds(1));
    }
    if (c.converts) {
        EXPECT_TRUE(runUntil([&] { return !writer->threadCalls.entries().empty(); }));
    }
    runOneTurn();
    EXPECT_EQ(log.take(), c.afterLoop);
    EXPECT_EQ(writer->threadCalls.take(), c.converts ? Log{"readImgFiles"} : Log{});
    EXPECT_EQ(cntlr->isAutoCloseApp(), c.autoCloseAfter);
}

const Log kSet{"ui", "anim", "dirty"};
Log times(int n, const Log& l) {
    Log out;
    for (int i = 0; i < n; ++i) out.insert(out.end(), l.begin(), l.end());
    return out;
}
Log cat(Log a, const Log& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class AppStateChecks : public ControllerTest {};

INSTANTIATE_TEST_SUITE_P(
    Table, AppStateTable,
    ::testing::Values(
        StateCase{"ScanReady", {100}, true, false, 100, kSet, {}, false},
        StateCase{"RepeatIgnored", {100, 100, 101, 101}, true, false, 101, times(2, kSet), {}, false},
        StateCase{"Late103OnMainTop", {103}, true, false, 0, {}, {}, false},
        StateCase{"Late104OnMainTop", {104}, true, true, 0, {}, {}, true},
        StateCase{"Late103InOutput", {200, 103, 104}, true, false, 200, kSet, {}, false},
        StateCase{"FinishedFinishesOnNextTurn", {100, 101, 103}, false, false, 103, times(3, kSet), {"finishScan"},
                  false},
        StateCase{"FinishedContinuesScanning", {100, 103}, true, false, 103, times(2, kSet), {}, false},
        StateCase{"EndedClearsAutoClose", {100, 104}, true, true, 104, times(2, kSet), {}, false},
        StateCase{"ConvertNext", {200, 201}, true, false, 201,
                  cat(kSet, {"ui", "anim", "release:0:0", "init:0", "dirty"}), {}, false, true},
        StateCase{"HandOnIsPerformed", {200, 202}, true, false, 202, times(2, kSet), {"send"}, false},
        StateCase{"Complete", {200, 203}, true, true, 203,
                  cat(kSet, {"ui", "anim", "endProc", "cancelToMain:0", "dirty"}), {"complete"}, true},
        StateCase{"WriteErrorClearsAutoClose", {204}, true, true, 204, kSet, {}, false},
        StateCase{"BackToMainTop", {100, 0}, true, false, 0, cat(kSet, {"ui", "dirty"}), {}, false}),
    [](const auto& info) { return std::string(info.param.name); });

// The complete job: copies of the plug-in settings that could be copied,
// empty ID and GUID where the copy failed or the plug-in is gone, and the
// written files of each output.
TEST_F(AppStateChecks, CompleteJobCopiesPluginSettings) {
    registry->plugins["Good.plugin"] = {"Good", 0, 0};
    registry->plugins["Bad.plugin"] = {"Bad", 7, 0};
    auto job = std::make_shared<JobModel>();
    job->setJobOutputModel_List({outputWithPlugin("Good.plugin", "g1"), outputWithPlugin("Bad.plugin", "g2"),
                                 outputWithPlugin("Gone.plugin", "g3"), outputWithPlugin("", "")});
    cntlr->setTmpCopyJobModel_Scan(job);
    EXPECT_EQ(registry->calls.take(), (Log{"copy:Good.plugin:g1", "copy:Bad.plugin:g2"}));

    auto scan = cntlr->tmpCopyJobModel_Scan();
    ASSERT_TRUE(scan);
    ASSERT_NE(scan, job);
    const auto scanOutputs = scan->jobOutputModel_List();
    ASSERT_EQ(scanOutputs.size(), 4u);
    EXPECT_EQ(scanOutputs[0]->pluginGUID(), "g1-copy1");
    EXPECT_EQ(scanOutputs[1]->pluginGUID(), "g2");
    for (std::size_t i = 0; i < scanOutputs.size(); ++i)
        scanOutputs[i]->setWriteFilePathArray({"/out/file" + std::to_string(i) + ".pdf"});

    cntlr->storeAppState(202);
    cntlr->setAppState(203);
    auto complete = cntlr->tmpJobModel_Complete();
    ASSERT_TRUE(complete);
    const auto outputs = complete->jobOutputModel_List();
    ASSERT_EQ(outputs.size(), 4u);
    const std::vector<std::pair<std::string, std::string>> want{
        {"Good.plugin", "g1-copy1-copy2"}, {"", ""}, {"", ""}, {"", ""}};
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        EXPECT_EQ(std::make_pair(outputs[i]->pluginID(), outputs[i]->pluginGUID()), want[i]) << i;
        EXPECT_EQ(outputs[i]->writeFilePathArray(), std::vector<std::string>{"/out/file" + std::to_string(i) + ".pdf"});
    }
    registry->calls.take();

    // Clearing the scan copy deletes only the settings it made: the failed
    // copy still names the panel's own "g2", which stays.
    cntlr->setTmpCopyJobModel_Scan(nullptr);
    EXPECT_EQ(registry->calls.take(), Log{"delete:Good.plugin:g1-copy1"});
    // The same complete job again keeps its settings; another one deletes them.
    cntlr->setTmpJobModel_Complete(complete);
    EXPECT_TRUE(registry->calls.entries().empty());
    cntlr->setTmpJobModel_Complete(nullptr);
    EXPECT_EQ(registry->calls.take(), Log{"delete:Good.plugin:g1-copy1-copy2"});
    EXPECT_FALSE(cntlr->tmpJobModel_Complete());
}

// A scan copy replaced by another job is cleared and the new job copied.
TEST_F(AppStateChecks, ScanCopyReplacedIsClearedAndCopied) {
    registry->plugins["Good.plugin"] = {"Good", 0, 0};
    auto first = std::make_shared<JobModel>();
    first->setJobOutputModel_List({outputWithPlugin("Good.plugin", "a")});
    auto second = std::make_shared<JobModel>();
    second->setJobOutputModel_List({outputWithPlugin("Good.plugin", "b")});
    cntlr->setTmpCopyJobModel_Scan(first);
    cntlr->setTmpCopyJobModel_Scan(second);
    EXPECT_EQ(registry->calls.take(), (Log{"copy:Good.plugin:a", "delete:Good.plugin:a-copy1", "copy:Good.plugin:b"}));
    EXPECT_NE(cntlr->tmpCopyJobModel_Scan(), second);
    EXPECT_EQ(cntlr->tmpCopyJobModel_Scan()->jobOutputModel_List()[0]->pluginGUID(), "b-copy2");
    EXPECT_EQ(second->jobOutputModel_List()[0]->pluginGUID(), "b");
}

// Worker threads set the state through the main thread and wait.
TEST_F(AppStateChecks, StateFromAWorkerThreadRunsOnTheMainThread) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
        cntlr->setAppStateNum(100);
        done = true;
    });
    EXPECT_TRUE(runUntil([&] { return done.load(); }));
    worker.join();
    EXPECT_EQ(cntlr->appState(), 100);
    EXPECT_EQ(log.take(), kSet);
}

TEST_F(AppStateChecks, QuitChecks) {
    // The confirmation after a scan is asked once per process.
    static bool ran = false;
    if (std::exchange(ran, true)) GTEST_SKIP() << "runs once per process";
    modeltest::AppBundleFixture bundle;
    bundle.writeStrings("en", {{"Cnfm_QuitAppYesOrNo", "Quit now?"}});
    QlrDeviceCntlr device;
    cntlr->setDeviceCntlr(&device);
    auto dummy = std::make_unique<QWidget>();

    struct Case {
        const char* name;
        int state;
        std::function<void()> arrange;
        int answer; // index of the pressed button
        bool allowed;
        Log alerts;
    };
    const char* scanning = "Err_NotQuitAppInScanning";
    const char* processing = "Err_NotQuitAppInProcessing";
    // In this order: the confirmation is asked once per process.
    const std::vector<Case> cases{
        {"modal window", 101, [&] { cntlr->setDummyWindow(dummy.get()); }, 0, false, {}},
        {"sheet", 0, [&] { window->sheet = true; }, 0, false, {}},
        {"file-name panel", 0, [&] { dialogs->fileName = true; }, 0, false, {}},
        {"transfer on main top", 0, [&] { device.setIsRunningMemXfer(true); }, 0, false, {}},
        {"transfer while scanning", 101, [&] { device.setIsRunningMemXfer(true); }, 0, false, {scanning}},
        {"main top", 0, [] {}, 0, true, {}},
        {"ready", 100, [] {}, 0, false, {scanning}},
        {"scanning", 101, [] {}, 0, false, {scanning}},
        {"writing", 102, [] {}, 0, false, {scanning}},
        {"output", 200, [] {}, 0, false, {processing}},
        {"converting", 201, [] {}, 0, false, {processing}},
        {"handing on", 202, [] {}, 0, false, {processing}},
        {"complete", 203, [] {}, 0, true, {}},
        {"write error", 204, [] {}, 0, true, {}},
        {"finished, no pages, cancel", 103, [] {}, 1, false, {"Quit now?"}},
        {"finished with pages, cancel", 103,
         [&] {
             cntlr->initImgInfoArray();
             cntlr->addImgInfo(std::make_shared<ImageInfoModel>());
         },
         1, false, {"Cnfm_ScanCancelToMainYesOrNo"}},
        {"finished with pages, OK", 103, [] {}, 0, true, {"Cnfm_ScanCancelToMainYesOrNo"}},
        {"finished again", 103, [] {}, 0, true, {}},
        {"ended", 104, [] {}, 0, true, {}},
    };
    auto job = std::make_shared<JobModel>();
    job->setIsImageProcess(true); // pages are only shown
    cntlr->setTmpCopyJobModel_Scan(job);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        cntlr->setDummyWindow(nullptr);
        window->sheet = false;
        dialogs->fileName = false;
        device.setIsRunningMemXfer(false);
        alerts->shown.clear();
        alerts->answer = c.answer;
        cntlr->storeAppState(c.state);
        c.arrange();
        EXPECT_EQ(cntlr->isValidAppTerminate(), c.allowed);
        EXPECT_EQ(alerts->messages(), c.alerts);
        if (!alerts->shown.empty() && c.state == 103) {
            EXPECT_EQ(alerts->shown[0].messageText, "Confirm");
            EXPECT_EQ(alerts->shown[0].buttons, (std::vector<std::string>{"OK", "Cancel"}));
        }
    }
    // The OK released the pages with their files and the work folder.
    EXPECT_FALSE(cntlr->hasImgInfoArray());
    EXPECT_EQ(log.count("release:1:1"), 1u);
    EXPECT_FALSE(QlrUtilsMethod::tmpImageFolderPath() &&
                 std::filesystem::exists(*QlrUtilsMethod::tmpImageFolderPath()));
    cntlr->setDeviceCntlr(nullptr);
}

// Clearing the auto-close flag shows a faded main window again; the quit
// after the complete window happens only on the main screen and without a
// modal window, and the flag is cleared either way.
TEST_F(AppStateChecks, AutoClose) {
    QWidget mainWindow;
    window->window = &mainWindow;
    mainWindow.setWindowOpacity(0.0);
    cntlr->setIsAutoCloseApp(true);
    EXPECT_LT(mainWindow.windowOpacity(), 0.5);
    cntlr->setIsAutoCloseApp(false);
    EXPECT_EQ(mainWindow.windowOpacity(), 1.0);

    struct Case {
        int state;
        bool flag, modal;
        bool flagAfter;
    };
    for (const Case& c : {Case{103, true, false, true}, Case{0, false, false, false}, Case{0, true, true, false},
                          Case{0, true, false, false}}) {
        cntlr->storeAppState(c.state);
        cntlr->setIsAutoCloseApp(c.flag);
        window->sheet = c.modal;
        cntlr->terminateByAutoClose();
        EXPECT_EQ(cntlr->isAutoCloseApp(), c.flagAfter) << c.state << c.flag << c.modal;
    }
    window->sheet = false;
    window->window = nullptr;

    QWidget kdWindow;
    EXPECT_FALSE(cntlr->isOpenKdWin());
    cntlr->setKdSubWin(&kdWindow);
    EXPECT_TRUE(cntlr->isOpenKdWin());
    EXPECT_FALSE(cntlr->isModalWindow()); // set but not shown
    kdWindow.show();
    EXPECT_TRUE(cntlr->isModalWindow());
    kdWindow.hide();
    cntlr->setIsShowedPluginWin(true);
    EXPECT_TRUE(cntlr->isModalWindow());
}

TEST_F(AppStateChecks, AddPanelCheckRefusesAtNinetyNine) {
    auto model = std::make_shared<AppModel>();
    cntlr->setAppModel(model);
    for (auto [count, ok] : {std::pair{0, true}, {98, true}, {99, false}, {120, false}}) {
        std::vector<std::shared_ptr<OutputModel>> list;
        for (int i = 0; i < count; ++i) list.push_back(std::make_shared<OutputModel>());
        model->setOutputModel_List(list);
        alerts->shown.clear();
        EXPECT_EQ(cntlr->isCheckValidAddNewSetting(kOutputPanelType), ok) << count;
        EXPECT_EQ(alerts->messages(), ok ? Log{} : Log{"Err_NotAddNewSetting"}) << count;
    }
    alerts->shown.clear();
    EXPECT_FALSE(cntlr->isCheckValidAddNewSetting(3));
    cntlr->setAppModel(nullptr);
    EXPECT_FALSE(cntlr->isCheckValidAddNewSetting(kInputPanelType));
    EXPECT_EQ(alerts->messages(), (Log{"Err_NotAddNewSetting", "Err_NotAddNewSetting"}));
}

TEST_F(AppStateChecks, SelectedSettingAndDeleteChecks) {
    auto model = std::make_shared<AppModel>();
    cntlr->setAppModel(model);
    auto input = std::make_shared<InputModel>();
    auto output = std::make_shared<OutputModel>();
    model->setInputModel_List({input});
    model->setOutputModel_List({output});
    struct Case {
        bool in, out, ok;
        Log alerts;
    };
    for (const Case& c : {Case{false, false, false, {"Err_NotSelectedInput"}},
                          Case{false, true, false, {"Err_NotSelectedInput"}},
                          Case{true, false, false, {"Err_NotSelectedOutput"}}, Case{true, true, true, {}}}) {
        input->setIsSelected(c.in);
        output->setIsSelected(c.out);
        alerts->shown.clear();
        EXPECT_EQ(cntlr->isCheckValidSelectedSetting(), c.ok);
        EXPECT_EQ(alerts->messages(), c.alerts);
    }
    for (auto [answer, ok] : {std::pair{0, true}, {1, false}}) {
        alerts->answer = answer;
        alerts->shown.clear();
        EXPECT_EQ(cntlr->isCheckValidDeleteSetting(false), ok);
        EXPECT_EQ(alerts->messages(), Log{"Cnfm_SettingDeleteYesOrNo"});
    }
}

// A scan starts only with a device controller, an idle page list and a
// job copy with an input; the flags of the last scan are cleared first.
TEST_F(AppStateChecks, ScanStartRefusals) {
    cntlr->setIsWriteFileCancel(true);
    cntlr->setIsScnCancelOnMain(true);
    EXPECT_FALSE(cntlr->executeScanOnCntlr()); // no device controller
    EXPECT_FALSE(cntlr->isWriteFileCancel());
    EXPECT_FALSE(cntlr->isScnCancelOnMain());

    QlrDeviceCntlr device;
    cntlr->setDeviceCntlr(&device);
    EXPECT_FALSE(cntlr->executeScanOnCntlr()); // no job copy
    auto job = std::make_shared<JobModel>();
    cntlr->setTmpCopyJobModel_Scan(job);
    EXPECT_FALSE(cntlr->executeScanOnCntlr()); // no input
    device.setIsRunningMemXfer(true);
    EXPECT_FALSE(cntlr->executeScanOnCntlr());
    EXPECT_FALSE(cntlr->isValidSyncDriver());
    device.setIsRunningMemXfer(false);
    cntlr->setDeviceCntlr(nullptr);
    EXPECT_EQ(cntlr->curDSStateOnCntlr(), 10);
    EXPECT_FALSE(cntlr->isReadyScan());
}

} // namespace

APPTEST_MAIN()
