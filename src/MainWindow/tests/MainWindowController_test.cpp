// The main window by application state, driven through the real application
// controller's state machine: the process window's texts, buttons and
// showing, the fallback of failed outputs, the completion window's rows and
// auto-close, the alert pause and the dark shield.
#include "MainWindowController.h"
#include "MainWindowNib.h"

#include "AppMainCntlrFakes.h"

#include <QlrDeviceCntlr.h>
#include <TvAlert.h>
#include <TvAnimationImageView.h>
#include <TvBackgroundViews.h>
#include <TvNotifications.h>
#include <TvPopoverWindow.h>
#include <TvTextFields.h>
#include <TvWindow.h>

#include <foundation/NotificationCenter.h>
#include <foundation/RunLoop.h>
#include <ui/ViewTag.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMainWindow>

#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using apptest::CallLog;
using Log = std::vector<std::string>;

// The completion window's close is recorded until the scan-end actions
// take it over.
class RecordingController : public MainWindowController {
public:
    using MainWindowController::MainWindowController;
    std::vector<QWidget*> closes;
    void actionFromCompleteWindow(QWidget* sender) override { closes.push_back(sender); }
};

class Preview : public apptest::RecordingPreview {
public:
    explicit Preview(CallLog& log) : RecordingPreview(log), log_(log) {}
    void setupPreviewByStartScan() override { log_.add("setupPreview"); }
    void restorePreviewByEndScan() override { log_.add("restorePreview"); }

private:
    CallLog& log_;
};

class Writer : public apptest::RecordingWriter {
public:
    explicit Writer(CallLog& log) : RecordingWriter(log), log_(log) {}
    std::optional<std::string> remakeTmpDirForSendPlugin() override {
        log_.add("remakeTmp");
        return std::nullopt;
    }

private:
    CallLog& log_;
};

// Plug-ins by ID with their names and link answers.
class LinkRegistry : public PluginRegistryQueries {
public:
    struct Plugin {
        std::string name;
        int linkResult = 0;
        bool offersLink = true;
        int labelResult = 0;
        std::optional<std::string> label;
    };
    std::map<std::string, Plugin, std::less<>> plugins;

protected:
    std::optional<kdf::Value> pluginValue(std::string_view id, int type) const override {
        auto it = plugins.find(id);
        if (it == plugins.end() || type != 0) return std::nullopt;
        return kdf::Value(it->second.name);
    }
    int pluginIndex(std::string_view id) const override { return plugins.count(id) ? 0 : -1; }
    bool pluginObjectPresent(std::string_view id) const override { return plugins.find(id) != plugins.end(); }
    int pluginIsSupportLinkButton(std::string_view id, std::string_view, bool* enabled) const override {
        const auto& p = plugins.find(id)->second;
        *enabled = p.offersLink;
        return p.linkResult;
    }
    int pluginCopyLinkLable(std::string_view id, std::string_view, std::optional<std::string>* label) const override {
        const auto& p = plugins.find(id)->second;
        *label = p.label;
        return p.labelResult;
    }
};

kdf::Dictionary dsInfo(const char* product) {
    return {{kProductNameKey, kdf::Value(product)}, {kVersionMajorNumKey, kdf::Value(1)}};
}
constexpr const char* kDuplexModel = "Tavro KD-720 TWAIN";
constexpr const char* kOneSideModel = "Tavro KD-910 TWAIN";

std::string textOf(QWidget* w) {
    if (auto* label = qobject_cast<QLabel*>(w)) return label->text().toStdString();
    if (auto* button = qobject_cast<QAbstractButton*>(w)) return button->text().toStdString();
    return "<none>";
}

class MainWindowTest : public ::testing::Test {
protected:
    CallLog log;
    std::shared_ptr<Preview> preview = std::make_shared<Preview>(log);
    std::shared_ptr<Writer> writer = std::make_shared<Writer>(log);
    std::shared_ptr<LinkRegistry> registry = std::make_shared<LinkRegistry>();
    std::unique_ptr<QMainWindow> window;
    std::unique_ptr<AppMainCntlr> cntlr;
    std::shared_ptr<RecordingController> ui;

    void SetUp() override {
        AppMainCntlrDSInfo::setCurrentDSInfo(std::make_shared<const kdf::Dictionary>(dsInfo(kDuplexModel)));
        PluginRegistryQueries::setCurrent(registry);
        window.reset(qlr_main::MainWindowNib::load());
        window->show();
        cntlr = std::make_unique<AppMainCntlr>();
        cntlr->setPreviewPort(preview);
        cntlr->setOutputWriterPort(writer);
        ui = std::make_shared<RecordingController>(*cntlr, window.get());
        cntlr->setMainWindowPort(ui);
        MainWindowCntlr::setProcessWindow(ui);
        cntlr->setUpNotification();
    }
    void TearDown() override {
        ui->uninstall();
        ui.reset();
        cntlr.reset();
        window.reset();
        PluginRegistryQueries::setCurrent(nullptr);
        AppMainCntlrDSInfo::setCurrentDSInfo(nullptr);
    }

    std::shared_ptr<JobModel> scanJob(bool continueScan, bool imageProcess, int manualFeed,
                                      std::shared_ptr<OutputModel> output = std::make_shared<OutputModel>()) {
        auto job = std::make_shared<JobModel>();
        auto input = std::make_shared<InputModel>();
        input->setCcap_TVK_MANUALFEED(manualFeed);
        job->setJobInputModel_List({input});
        job->setJobOutputModel_List({std::move(output)});
        job->setIsContinueScan(continueScan);
        job->setIsImageProcess(imageProcess);
        return job;
    }
    void setPages(int n) { cntlr->setPreImageModel_List(std::vector<std::shared_ptr<PanelModel>>(n)); }

    QWidget* proc(int tag) { return ui->processItem(tag); }
    std::string stateText() { return textOf(proc(kProcStateInfoTag)); }
    std::string infoText() { return textOf(proc(kProcInfoTag)); }
    bool procShown() { return ui->processWindow()->isVisible() && MainWindowController::isShowProcWindow(); }
    void drain() {
        kdf::TestClock clock;
        kdf::RunLoop::main().runMode(kdf::RunLoopMode::Default, kdf::Seconds(1));
    }
};

// ---- The scan states ------------------------------------------------------------------------

struct ScanCase {
    const char* name;
    bool continueScan;
    bool imageProcess;
    bool errInFinalOutput;
    int manualFeed;
    const char* product;
    // After 103: the process window is still up for the output phase.
    bool procAfter103;
    bool againScanAfter103;
};

void PrintTo(const ScanCase& c, std::ostream* os) { *os << c.name; }

class MainWindowScanStates : public MainWindowTest, public ::testing::WithParamInterface<ScanCase> {};

TEST_P(MainWindowScanStates, ProcessWindowTextsButtonsAndShowing) {
    const ScanCase& c = GetParam();
    AppMainCntlrDSInfo::setCurrentDSInfo(std::make_shared<const kdf::Dictionary>(dsInfo(c.product)));
    const bool sideChoosable = std::string(c.product) == kDuplexModel;
    const bool manual = sideChoosable && c.manualFeed > 0;
    cntlr->setTmpCopyJobModel_Scan(scanJob(c.continueScan, c.imageProcess, c.manualFeed));
    cntlr->setIsErrInFinalOutput(c.errInFinalOutput);
    QWidget* again = ui->mainItem(kAgainScanButtonTag);
    ASSERT_NE(again, nullptr);
    again->setEnabled(false);
    qobject_cast<QLabel*>(proc(kProcInfoTag))->setText("left from before");

    cntlr->setAppState(kAppStateScanReady);
    EXPECT_TRUE(procShown());
    EXPECT_EQ(textOf(proc(kProcCancelButtonTag)), "Cancel");
    EXPECT_TRUE(proc(kProcCancelButtonTag)->isEnabled());
    const std::string ready = sideChoosable ? "Ready to scan. Place the documents in the feeder."
                                            : "Ready to scan. Place the documents face down in the feeder.";
    EXPECT_EQ(stateText(), ready);
    EXPECT_EQ(infoText(), manual ? "Use the scan panel to go on scanning." : "");
    EXPECT_FALSE(again->isEnabled()) << "left alone below 103";
    // The spinner is started on the next pass of the main loop.
    apptest::runOneTurn();
    EXPECT_TRUE(ui->animationImageView()->isAnimating());
    // The window is modal over the main window.
    EXPECT_EQ(TvWindow::behindWindow(ui->processWindow()), window.get());

    setPages(3);
    cntlr->setAppState(kAppStateScanning);
    EXPECT_EQ(stateText(), "Scanning… 3 pages");
    EXPECT_EQ(infoText(), manual ? "Use the scan panel to go on scanning." : "");
    setPages(4);
    cntlr->setAppState(kAppStateScanWriting);
    EXPECT_EQ(stateText(), "Scanning… 4 pages");
    EXPECT_TRUE(procShown());

    cntlr->setAppState(kAppStateScanFinished);
    EXPECT_EQ(stateText(), "");
    EXPECT_EQ(infoText(), "") << "the hint goes when the scan ends";
    EXPECT_EQ(procShown(), c.procAfter103);
    EXPECT_EQ(again->isEnabled(), c.againScanAfter103);
    if (!c.procAfter103) {
        apptest::runOneTurn();
        EXPECT_FALSE(ui->animationImageView()->isAnimating());
    }
    const Log calls = log.take();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "setupPreview"), 1);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "restorePreview"), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MainWindowScanStates,
    ::testing::Values(
        // Straight to the output: the window stays up for writing.
        ScanCase{"Plain", false, false, false, 0, kDuplexModel, true, false},
        ScanCase{"ManualFeed", false, false, false, 1, kDuplexModel, true, false},
        // Manual feed needs a side choice: a one-sided model shows neither the hint nor the side text.
        ScanCase{"OneSidedManualFeed", false, false, false, 1, kOneSideModel, true, false},
        ScanCase{"ContinueScan", true, false, false, 0, kDuplexModel, false, true},
        ScanCase{"EditFirst", false, true, false, 0, kDuplexModel, false, false},
        ScanCase{"FailedBefore", false, false, true, 1, kDuplexModel, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MainWindowTest, ScanEndedKeepsTheInformationLineAndEndsTheWindow) {
    cntlr->setTmpCopyJobModel_Scan(scanJob(true, false, 0));
    cntlr->setAppState(kAppStateScanReady);
    cntlr->setAppState(kAppStateScanning);
    ui->setStateInfoStrForProcWin("Jam", std::string("Paper jam on sheet 2"));
    cntlr->setAppState(kAppStateScanEnded);
    EXPECT_FALSE(procShown());
    EXPECT_EQ(stateText(), "");
    EXPECT_EQ(infoText(), "Paper jam on sheet 2") << "104 leaves the second line";
    EXPECT_TRUE(ui->mainItem(kAgainScanButtonTag)->isEnabled());
}

TEST_F(MainWindowTest, ManualFeedHintReplacedByAnotherTextStaysAtTheEnd) {
    cntlr->setTmpCopyJobModel_Scan(scanJob(false, true, 2));
    cntlr->setAppState(kAppStateScanReady);
    ui->setStateInfoStrForProcWin(std::nullopt, std::string("Sheet 3 read"));
    cntlr->setAppState(kAppStateScanFinished);
    EXPECT_EQ(infoText(), "Sheet 3 read");
}

TEST_F(MainWindowTest, OutputPhaseTextsThenTheWindowEnds) {
    auto output = std::make_shared<OutputModel>();
    output->setPluginID("com.example.cloud");
    output->setPluginGUID("g1");
    registry->plugins["com.example.cloud"] = {"Cloud Box", 0, true, 0, std::nullopt};
    cntlr->setTmpCopyJobModel_Scan(scanJob(false, false, 0, output));
    setPages(5);
    cntlr->setAppState(kAppStateScanReady);
    cntlr->setAppState(kAppStateScanning);
    cntlr->setAppState(kAppStateScanFinished);
    ASSERT_TRUE(procShown());

    cntlr->setAppState(kAppStateOutputStarted);
    EXPECT_EQ(stateText(), "Saving page 0 of 5");
    EXPECT_EQ(infoText(), "");
    EXPECT_FALSE(proc(kProcCancelButtonTag)->isEnabled());
    EXPECT_TRUE(procShown());

    ui->setStateInfoStrForProcWin(std::nullopt, std::string("page 2"));
    const auto before = std::chrono::steady_clock::now();
    cntlr->storeAppState(kAppStateConvertNext);
    cntlr->setAppState(kAppStateHandOn);
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(480)) << "the 0.5 s pause stays";
    EXPECT_EQ(stateText(), "Sending to Cloud Box…");
    EXPECT_EQ(infoText(), "");

    cntlr->setAppState(kAppStateComplete);
    EXPECT_FALSE(procShown());
    drain();
}

TEST_F(MainWindowTest, HandOnWithoutPluginKeepsTheSavingText) {
    cntlr->setTmpCopyJobModel_Scan(scanJob(false, false, 0));
    setPages(2);
    cntlr->storeAppState(kAppStateScanFinished);
    cntlr->setAppState(kAppStateOutputStarted);
    ui->setStateInfoStrForProcWin(std::nullopt, std::string("written"));
    cntlr->setAppState(kAppStateHandOn);
    EXPECT_EQ(stateText(), "Saving page 0 of 2");
    EXPECT_EQ(infoText(), "written");
    drain();
}

// ---- Failed outputs ---------------------------------------------------------------------------

class MainWindowFailedOutput : public MainWindowTest, public ::testing::WithParamInterface<int> {};

TEST_P(MainWindowFailedOutput, FallsBackToTheScanScreenWithoutASecondChange) {
    QlrDeviceCntlr device;
    device.setShadingData(std::make_shared<const kdf::Bytes>(kdf::Bytes{1, 2, 3}));
    cntlr->setDeviceCntlr(&device);
    cntlr->setTmpCopyJobModel_Scan(scanJob(false, false, 0));
    cntlr->setIsOpenPDF(true);
    ui->mainItem(kOutputSettingButtonTag)->setHidden(true);
    cntlr->storeAppState(kAppStateScanFinished);
    cntlr->setAppState(kAppStateOutputStarted);
    ASSERT_TRUE(procShown());
    log.take();

    cntlr->setAppState(GetParam());
    EXPECT_EQ(cntlr->appState(), kAppStateScanEnded);
    EXPECT_TRUE(cntlr->isErrInFinalOutput());
    EXPECT_FALSE(ui->mainItem(kOutputSettingButtonTag)->isHidden());
    EXPECT_EQ(device.shadingData(), nullptr);
    EXPECT_FALSE(cntlr->isOpenPDF());
    EXPECT_FALSE(procShown());
    const Log calls = log.take();
    EXPECT_EQ(calls, (Log{"remakeTmp", "release:0:0", "init:0"}))
        << "one update only: no second pass through the scan-end state";
    cntlr->setDeviceCntlr(nullptr);

    // The user can now write the pages again: 104 is a scan state once more.
    cntlr->setAppState(kAppStateOutputStarted);
    EXPECT_TRUE(procShown());
    drain();
}

INSTANTIATE_TEST_SUITE_P(Table, MainWindowFailedOutput, ::testing::Values(kAppStateWriteError, kAppStateHandOnError));

// ---- The process window's lines --------------------------------------------------------------

TEST_F(MainWindowTest, LinesAreWrittenOnlyWhileAJobRuns) {
    auto& label = *qobject_cast<QLabel*>(proc(kProcStateInfoTag));
    label.setText("before");
    for (int state : {0, 99, 105, 199, 206}) {
        cntlr->storeAppState(state);
        ui->setStateInfoStrForProcWin("x", std::string("y"));
        EXPECT_EQ(stateText(), "before") << state;
    }
    for (int state : {100, 104, 200, 205}) {
        cntlr->storeAppState(state);
        ui->setStateInfoStrForProcWin(std::to_string(state), std::nullopt);
        EXPECT_EQ(stateText(), std::to_string(state));
    }
}

TEST_F(MainWindowTest, ArrayFormNeedsTwoElementsAndTakesOnlyStrings) {
    cntlr->storeAppState(kAppStateOutputStarted);
    ui->setStateInfoStrForProcWin("a", std::string("b"));
    ui->setStateInfoStrForProcWinForPfm(kdf::Array{kdf::Value("only one")});
    ui->setStateInfoStrForProcWinForPfm(kdf::Array{kdf::Value("1"), kdf::Value("2"), kdf::Value("3")});
    EXPECT_EQ(stateText(), "a");
    EXPECT_EQ(infoText(), "b");
    ui->setStateInfoStrForProcWinForPfm(kdf::Array{kdf::Value(7), kdf::Value("second")});
    EXPECT_EQ(stateText(), "a") << "a number counts as none";
    EXPECT_EQ(infoText(), "second");
}

TEST_F(MainWindowTest, WorkerThreadTextsReachTheWindowOnTheMainThread) {
    cntlr->storeAppState(kAppStateOutputStarted);
    std::atomic<bool> done{false};
    std::thread worker([&] {
        cntlr->setStateInfoStrForProcWinForPfm(std::array<std::string, 2>{"Saving page 1 of 2", "scan_0001.pdf"});
        done = true;
    });
    EXPECT_TRUE(apptest::runUntil([&] { return done.load(); }));
    worker.join();
    EXPECT_EQ(stateText(), "Saving page 1 of 2");
    EXPECT_EQ(infoText(), "scan_0001.pdf");
}

TEST_F(MainWindowTest, EachWindowStartsAndEndsOnce) {
    ui->startProcWindow();
    ui->startProcWindow();
    EXPECT_TRUE(procShown());
    ui->endProcWindow();
    EXPECT_FALSE(procShown());
    EXPECT_EQ(TvWindow::behindWindow(ui->processWindow()), nullptr);
    ui->endProcWindow();
    EXPECT_FALSE(MainWindowController::isShowProcWindow());

    auto job = std::make_shared<JobModel>();
    cntlr->setTmpJobModel_Complete(job);
    ui->startCompleteWindow();
    ui->startCompleteWindow();
    EXPECT_TRUE(MainWindowController::isShowCompleteWindow());
    ui->endCompleteWindow();
    EXPECT_FALSE(MainWindowController::isShowCompleteWindow());
    EXPECT_EQ(cntlr->tmpJobModel_Complete(), nullptr);
    cntlr->setTmpJobModel_Complete(job);
    ui->endCompleteWindow();
    EXPECT_EQ(cntlr->tmpJobModel_Complete(), job) << "an end while closed changes nothing";
}

TEST_F(MainWindowTest, SpinnerIgnoresAnythingButAFlag) {
    ui->animatesProcWinOnMain(kdf::Value("yes"));
    apptest::runOneTurn();
    EXPECT_FALSE(ui->animationImageView()->isAnimating());
    ui->animatesProcWinOnMain(kdf::Value(1));
    apptest::runOneTurn();
    EXPECT_TRUE(ui->animationImageView()->isAnimating());
    ui->animatesProcWinOnMain(kdf::Value(false));
    // Also while a modal panel runs.
    {
        kdf::RunLoopModeScope modal(kdf::RunLoopMode::ModalPanel);
        kdf::RunLoop::main().runMode(kdf::RunLoopMode::ModalPanel, kdf::Seconds(0.01));
    }
    EXPECT_FALSE(ui->animationImageView()->isAnimating());
}

// ---- The completion window -------------------------------------------------------------------

std::shared_ptr<OutputModel> folderOutput(const std::string& title, std::vector<std::string> files) {
    auto out = std::make_shared<OutputModel>();
    out->setDispTitle(title);
    out->setWriteFilePathArray(std::move(files));
    return out;
}

std::shared_ptr<OutputModel> pluginOutput(const std::string& title, const std::string& id) {
    auto out = apptest::outputWithPlugin(id, "guid-" + id);
    out->setDispTitle(title);
    return out;
}

class MainWindowCompleteTest : public MainWindowTest {
protected:
    struct Row {
        bool titleShown;
        std::string title;
        bool linkShown;
        std::string link;
    };
    Row row(int r) {
        QWidget* title = ui->completeItem(kCompFirstRowTag + 2 * r);
        auto* link = qobject_cast<TvOpenLinkTextField*>(ui->completeItem(kCompFirstRowTag + 2 * r + 1));
        return {!title->isHidden(), textOf(title), !link->isHidden(), link->toolTip().toStdString()};
    }
    // Visible fields in row order with their tops.
    std::vector<std::pair<int, int>> visibleTops() {
        std::vector<std::pair<int, int>> out;
        for (int tag = kCompFirstRowTag; tag < kCompFirstRowTag + 6; ++tag)
            if (QWidget* f = ui->completeItem(tag); !f->isHidden()) out.emplace_back(tag, f->y());
        return out;
    }
};

TEST_F(MainWindowCompleteTest, JobPanelScanShowsOneTitleAboveEveryLink) {
    auto job = std::make_shared<JobModel>();
    job->setDispTitle("Invoices");
    job->setJobOutputModel_List({folderOutput("Folder A", {"/data/a/scan_1.pdf", "/data/a/scan_2.pdf"}),
                                 folderOutput("Folder B", {"/data/b/p.jpg"}),
                                 pluginOutput("Cloud", "cloud")});
    registry->plugins["cloud"] = {"Cloud", 0, true, 0, std::string("https://cloud.example/Invoices")};
    // Panels it was made from: an input, then the job panel.
    job->setUserInfoList(kdf::Array{kdf::Value(kdf::Array{kdf::Value(0), kdf::Value(kdf::Array{})}),
                                    kdf::Value(kdf::Array{kdf::Value(2), kdf::Value(kdf::Array{kdf::Value(4)})})});
    cntlr->setTmpJobModel_Complete(job);
    ui->startCompleteWindowByPerform();

    EXPECT_TRUE(MainWindowController::isShowCompleteWindow());
    EXPECT_EQ(textOf(ui->completeItem(kCompTitleTag)), "Finished. The pages went to:");
    const Row r0 = row(0), r1 = row(1), r2 = row(2);
    EXPECT_TRUE(r0.titleShown);
    EXPECT_EQ(r0.title, "Invoices :");
    EXPECT_FALSE(r1.titleShown);
    EXPECT_FALSE(r2.titleShown);
    EXPECT_EQ(r0.link, "/data/a");
    EXPECT_EQ(r1.link, "/data/b");
    EXPECT_EQ(r2.link, "https://cloud.example/Invoices");
    EXPECT_TRUE(r0.linkShown && r1.linkShown && r2.linkShown);
    auto* link2 = qobject_cast<TvOpenLinkTextField*>(ui->completeItem(7007));
    EXPECT_EQ(link2->outputModel(), job->jobOutputModel_List()[2]);
    EXPECT_TRUE(link2->font().underline());
    EXPECT_EQ(link2->palette().color(QPalette::WindowText), QColor(Qt::blue));

    // Stacked from the first row, 8 apart, the hidden titles taking no room.
    const auto tops = visibleTops();
    ASSERT_EQ(tops.size(), 4u);
    EXPECT_EQ(tops[0].first, 7002);
    int expected = tops[0].second;
    for (std::size_t i = 0; i < tops.size(); ++i) {
        EXPECT_EQ(tops[i].second, expected) << tops[i].first;
        expected += ui->completeItem(tops[i].first)->height() + kCompFieldSpacing;
    }
    drain();
}

TEST_F(MainWindowCompleteTest, StepScanRowsOnlyForOutputsWithALink) {
    auto job = std::make_shared<JobModel>();
    job->setJobOutputModel_List({pluginOutput("Mail", "mail"), folderOutput("Empty", {}),
                                 folderOutput("Pictures", {"/home/u/Pictures/s.png"})});
    registry->plugins["mail"] = {"Mail", 0, false, 0, std::nullopt};
    job->setUserInfoList(kdf::Array{kdf::Value(kdf::Array{kdf::Value(1), kdf::Value(kdf::Array{})})});
    cntlr->setTmpJobModel_Complete(job);
    ui->startCompleteWindowByPerform();

    EXPECT_FALSE(row(0).titleShown) << "the plug-in offers no link";
    EXPECT_FALSE(row(0).linkShown);
    EXPECT_FALSE(row(1).titleShown) << "an output that wrote nothing";
    EXPECT_FALSE(row(1).linkShown);
    EXPECT_EQ(row(2).title, "Pictures :");
    EXPECT_EQ(row(2).link, "/home/u/Pictures");
    const auto tops = visibleTops();
    ASSERT_EQ(tops.size(), 2u);
    const int firstRowTop = tops[0].second;
    EXPECT_EQ(tops[0].first, 7006);
    EXPECT_EQ(tops[1].second, firstRowTop + ui->completeItem(7006)->height() + kCompFieldSpacing);

    // Shown again for another job, the rows start from the first row's place.
    ui->endCompleteWindow();
    job = std::make_shared<JobModel>();
    job->setJobOutputModel_List({folderOutput("A", {"/x/1.pdf"})});
    cntlr->setTmpJobModel_Complete(job);
    ui->startCompleteWindowByPerform();
    ASSERT_EQ(visibleTops().size(), 2u);
    EXPECT_EQ(visibleTops()[0], std::make_pair(7002, firstRowTop));
    drain();
}

TEST_F(MainWindowCompleteTest, PluginsThatFailGoneOrSilentGiveNoRow) {
    struct Case {
        const char* name;
        bool present;
        LinkRegistry::Plugin plugin;
    };
    const Case cases[] = {
        {"gone", false, {"P", 0, true, 0, std::string("x")}},
        {"link query fails", true, {"P", -3, true, 0, std::string("x")}},
        {"label fails", true, {"P", 0, true, 5, std::string("x")}},
        {"label nil", true, {"P", 0, true, 0, std::nullopt}},
        {"label empty", true, {"P", 0, true, 0, std::string()}},
    };
    for (const Case& c : cases) {
        registry->plugins.clear();
        if (c.present) registry->plugins["p"] = c.plugin;
        auto job = std::make_shared<JobModel>();
        job->setJobOutputModel_List({pluginOutput("P", "p")});
        cntlr->setTmpJobModel_Complete(job);
        ui->startCompleteWindowByPerform();
        EXPECT_FALSE(row(0).titleShown) << c.name;
        EXPECT_FALSE(row(0).linkShown) << c.name;
        ui->endCompleteWindow();
    }
    // A plug-in output without a GUID shows its folder instead.
    auto out = pluginOutput("P", "p");
    out->setPluginGUID("");
    out->setWriteFilePathArray({"/tmp/send/x.pdf"});
    auto job = std::make_shared<JobModel>();
    job->setJobOutputModel_List({out});
    cntlr->setTmpJobModel_Complete(job);
    ui->startCompleteWindowByPerform();
    EXPECT_EQ(row(0).link, "/tmp/send");
    drain();
}

TEST_F(MainWindowCompleteTest, ClosesFiveSecondsAfterTheLastMove) {
    kdf::TestClock clock;
    cntlr->setIsAutoCloseApp(true);
    auto job = std::make_shared<JobModel>();
    job->setJobOutputModel_List({folderOutput("A", {"/x/1.pdf"})});
    cntlr->setTmpJobModel_Complete(job);
    ui->startCompleteWindowByPerform();
    auto& loop = kdf::RunLoop::main();
    auto& center = kdf::NotificationCenter::defaultCenter();

    loop.runMode(kdf::RunLoopMode::Default, kdf::Seconds(4.9));
    EXPECT_TRUE(ui->closes.empty());
    // A move over the completion window postpones the close by a full 5 s.
    center.post(kMouseMovedInFlatWindowContentViewDidChange, ui->completeWindow()->findChild<TvFlatWindowContentView*>());
    // A move over another flat window does not.
    QWidget other;
    center.post(kMouseMovedInFlatWindowContentViewDidChange, &other);
    loop.runMode(kdf::RunLoopMode::Default, kdf::Seconds(4.9));
    EXPECT_TRUE(ui->closes.empty());
    EXPECT_TRUE(cntlr->isAutoCloseApp()) << "the application's close waits as well";
    // Also while a modal panel runs.
    {
        kdf::RunLoopModeScope modal(kdf::RunLoopMode::ModalPanel);
        loop.runMode(kdf::RunLoopMode::ModalPanel, kdf::Seconds(0.2));
    }
    ASSERT_EQ(ui->closes.size(), 1u);
    EXPECT_EQ(kdui::tag(ui->closes[0]), kCompCloseButtonTag);
    EXPECT_FALSE(cntlr->isAutoCloseApp()) << "the application's auto-close ran";
    loop.runMode(kdf::RunLoopMode::Default, kdf::Seconds(6));
    EXPECT_EQ(ui->closes.size(), 1u);
}

TEST_F(MainWindowCompleteTest, CloseButtonSendsItself) {
    auto* close = qobject_cast<QAbstractButton*>(ui->completeItem(kCompCloseButtonTag));
    ASSERT_NE(close, nullptr);
    close->click();
    ASSERT_EQ(ui->closes.size(), 1u);
    EXPECT_EQ(ui->closes[0], close);
}

// ---- The alert pause and the dark shield -----------------------------------------------------

class MainWindowAlertPause : public MainWindowTest, public ::testing::WithParamInterface<bool> {
protected:
    void post(const void* sender, std::optional<bool> start) {
        kdf::Dictionary info;
        if (start) info[TV_Message::kIsStartRunmodalKey] = kdf::Value(*start);
        kdf::NotificationCenter::defaultCenter().post(TV_Message::kTvAlertRunModalNotification, sender, nullptr,
                                                      &info);
    }
};

TEST_P(MainWindowAlertPause, HidesTheProcessWindowAndShieldsOnlyUnderTheOwnAlert) {
    const bool isTvAlert = GetParam();
    TvAlert alert;
    const void* sender = isTvAlert ? static_cast<const void*>(&alert) : TV_Message::notificationSender();
    ui->settingWindow()->setIsValidClose(true);
    cntlr->setIsAutoCloseApp(true);
    cntlr->setTmpCopyJobModel_Scan(scanJob(false, false, 0));
    cntlr->setAppState(kAppStateScanReady);
    ASSERT_TRUE(procShown());

    post(sender, true);
    EXPECT_FALSE(procShown());
    EXPECT_FALSE(ui->settingWindow()->isValidClose());
    EXPECT_FALSE(cntlr->isAutoCloseApp());
    {
        // The shield is laid while the alert runs its modal loop.
        kdf::RunLoopModeScope modal(kdf::RunLoopMode::ModalPanel);
        kdf::RunLoop::main().runMode(kdf::RunLoopMode::ModalPanel, kdf::Seconds(0.02));
    }
    EXPECT_EQ(ui->isShowDarkShieldView(), isTvAlert);
    // A second start while one is recorded changes nothing.
    ui->settingWindow()->setIsValidClose(true);
    post(sender, true);
    ui->settingWindow()->setIsValidClose(false);

    post(sender, std::nullopt); // a missing flag ends it
    EXPECT_TRUE(procShown());
    EXPECT_TRUE(ui->settingWindow()->isValidClose()) << "the value from before the first start";
    EXPECT_FALSE(ui->isShowDarkShieldView());
    EXPECT_FALSE(cntlr->isAutoCloseApp()) << "cleared for good";

    // An end without a start changes nothing.
    ui->settingWindow()->setIsValidClose(false);
    post(sender, false);
    EXPECT_FALSE(ui->settingWindow()->isValidClose());
    EXPECT_TRUE(procShown());
    drain();
}

INSTANTIATE_TEST_SUITE_P(PlatformAndOwnAlert, MainWindowAlertPause, ::testing::Bool());

TEST_F(MainWindowTest, AlertPauseNeedsASenderAndUserInfo) {
    cntlr->setTmpCopyJobModel_Scan(scanJob(false, false, 0));
    cntlr->setAppState(kAppStateScanReady);
    kdf::Dictionary info{{TV_Message::kIsStartRunmodalKey, kdf::Value(true)}};
    auto& center = kdf::NotificationCenter::defaultCenter();
    center.post(TV_Message::kTvAlertRunModalNotification, nullptr, nullptr, &info);
    TvAlert alert;
    center.post(TV_Message::kTvAlertRunModalNotification, &alert, nullptr, nullptr);
    apptest::runOneTurn();
    EXPECT_TRUE(procShown());
    EXPECT_FALSE(ui->isShowDarkShieldView());
}

TEST_F(MainWindowTest, DarkShieldCoversTheContentAndSwallowsInput) {
    QWidget* content = ui->contentView();
    ui->showDarkShield();
    TvColoedView* shield = ui->darkShieldView();
    ASSERT_NE(shield, nullptr);
    EXPECT_EQ(shield->parentWidget(), content);
    EXPECT_EQ(shield->geometry(), content->rect());
    EXPECT_EQ(shield->color(), QColor(0, 0, 0, 51));
    EXPECT_TRUE(shield->wrapMode());
    EXPECT_EQ(content->children().last(), shield) << "on top";
    window->resize(window->width() + 40, window->height() + 30);
    QApplication::processEvents();
    EXPECT_EQ(shield->geometry(), content->rect());
    // A new shield replaces the old one.
    ui->showDarkShield();
    EXPECT_EQ(content->findChildren<TvColoedView*>().size(), 1);
    ui->hideDarkShield();
    EXPECT_FALSE(ui->isShowDarkShieldView());
    EXPECT_TRUE(content->findChildren<TvColoedView*>().isEmpty());
}

} // namespace

APPTEST_MAIN()
