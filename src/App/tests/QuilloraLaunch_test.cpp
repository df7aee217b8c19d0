// The controller's life cycle driven in-process on the offscreen platform,
// in a bundle of its own with the stand-in companion on a private bus: the
// main window's layout from stored values, a start by a scanner button, the
// navigation overlay, termination, the reset with its relaunch, a failing
// set-up and the legacy import.
#include "AppMainCntlrLaunch.h"
#include "CompanionStandIn.h"
#include "MainWindowNib.h"
#include "TestBus.h"

#include <AppMainCntlrSaveLoad.h>
#include <QlrUtilsMethod.h>

#include <desktop/Desktop.h>
#include <foundation/Bundle.h>
#include <foundation/Geometry.h>
#include <foundation/Preferences.h>
#include <foundation/UserDefaults.h>
#include <ui/MenuTags.h>

#include <QApplication>
#include <QMainWindow>
#include <QScreen>

#include <cmath>
#include <limits>

namespace {

using namespace apptest;
namespace fs = std::filesystem;

// The bundle every test runs in (made by main).
fs::path sBundle;

// The offscreen screen of these tests: 1600 × 1000, no window frame.
constexpr int kScreenW = 1600;
constexpr int kScreenH = 1000;

kdf::UserDefaults& defaults() { return kdf::UserDefaults::standard(); }

// The main window from its form, recording the launch steps it is asked for.
class FormWindow : public AppMainWindowPort {
public:
    explicit FormWindow(CallLog& log) : log_(log), window_(qlr_main::MainWindowNib::load()) {}
    ~FormWindow() override { delete window_; }
    QWidget* mainWindow() override { return window_; }
    void setUpImageBrowsers() override { log_.add("browsers"); }
    void updateMainTopDisplay(bool, bool) override { log_.add("top"); }
    void initEditImageView() override { log_.add("edit"); }
    void showQlrNavigation() override { log_.add("navigation"); }
    QMainWindow* window() const { return window_; }

private:
    CallLog& log_;
    QMainWindow* window_;
};

// The companions the controller launched from the test bundle (each test
// starts with none, so it can start one with the answer it needs).
void endLaunchedCompanions() {
    const fs::path exe = fs::canonical(sBundle / "SharedSupport" / "KdCompanion" / "KdCompanion");
    for (const auto& process : kdd::runningProcesses()) {
        if (process.pid == ::getpid() || process.executable != exe.string()) continue;
        ::kill(process.pid, SIGTERM);
        for (int i = 0; i < 300 && ::kill(process.pid, 0) == 0; ++i) std::this_thread::sleep_for(10ms);
    }
}

// A plug-in host whose loading fails.
class FailingHost : public RegistryDouble {
protected:
    void pluginSetupInfoList(AppModel*) const override { throw kdf::Exception("Err_UnknownError", "loading"); }
};

class Launch : public ::testing::Test {
protected:
    CallLog log;
    std::shared_ptr<FormWindow> window;
    std::shared_ptr<RecordingDialogs> dialogs;
    std::shared_ptr<AlertRecorder> alerts;
    std::unique_ptr<AppMainCntlr> cntlr;
    std::unique_ptr<Companion> companion;
    std::vector<std::uint32_t> clicks;
    kdf::ObserverToken clickObserver;

    void SetUp() override {
        log.take();
        clicks.clear();
        window = std::make_shared<FormWindow>(log);
        dialogs = std::make_shared<RecordingDialogs>();
        alerts = std::make_shared<AlertRecorder>();
        defaults().setPersistentDomain(kdf::Dictionary{}, defaults().domain());
        for (const char* name : {kLegacyPrefsKD810, kLegacyPrefsKD820}) fs::remove(kdf::preferencesFilePath(name));
        fs::remove(sBundle.parent_path() / "relaunched");
        TV_Message::setAlertPresenter(TV_Message::AlertKind::Platform, alerts);
        TV_Message::setAlertPresenter(TV_Message::AlertKind::TvAlert, alerts);
        AppMainCntlrDSInfo::setIsInitialized(false);
        AppMainCntlrDSInfo::setCurrentDSInfo(nullptr);
        cntlr = std::make_unique<AppMainCntlr>();
        AppMainCntlr::setCurrent(cntlr.get());
        cntlr->setMainWindowPort(window);
        cntlr->setDialogsPort(dialogs);
        clickObserver = kdf::NotificationCenter::defaultCenter().addObserver(
            kPanelIBViewClickCellNotification, [this](const kdf::Notification& n) {
                const kdf::Value* v = n.userInfo() ? kdf::find(*n.userInfo(), kClickCellIndexKey) : nullptr;
                clicks.push_back(v ? std::uint32_t(*v->toInteger()) : 9999u);
            });
    }
    void TearDown() override {
        clickObserver = {};
        cntlr.reset();
        window.reset();
        companion.reset();
        endLaunchedCompanions();
        PluginRegistryQueries::setCurrent(nullptr);
        TV_Message::setAlertPresenter(TV_Message::AlertKind::Platform, nullptr);
        TV_Message::setAlertPresenter(TV_Message::AlertKind::TvAlert, nullptr);
        AppMainCntlrDSInfo::setIsInitialized(false);
        AppMainCntlrDSInfo::setCurrentDSInfo(nullptr);
    }

    // The stand-in companion with that answer, running before the start.
    void startCompanion(std::map<std::string, std::string> env) {
        companion = std::make_unique<Companion>(sBundle / "SharedSupport" / "KdCompanion" / "KdCompanion",
                                                sBundle.parent_path() / "companion.log", std::move(env));
        ASSERT_TRUE(companion->waitLogged("ready"));
    }
    static void setJobs(AppModel& model, const std::vector<int>& buttons) {
        std::vector<std::shared_ptr<JobModel>> jobs;
        for (int b : buttons) {
            auto job = std::make_shared<JobModel>();
            job->setScanBtnStatus(b);
            jobs.push_back(job);
        }
        model.setJobModel_List(jobs);
    }
    QWidget* pane(const char* name) const { return qlr_main::MainWindowNib::outlet(window->window(), name); }
    static kdf::Dictionary stored() { return kdf::readPreferencesFile(defaults().domain()).values; }
};

// ---- The main window's size and place ---------------------------------------------------------

TEST_F(Launch, WindowAndPanesFromStoredValues) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const QRect centred((kScreenW - 982) / 2, (kScreenH - 720) / 2, 982, 720);
    struct Case {
        const char* name;
        std::optional<kdf::Value> frame, height, width;
        std::optional<QRect> wantFrame; // none: pulled inside the screen
        int wantHeight, wantWidth;
    };
    const Case cases[] = {
        {"nothing stored", {}, {}, {}, centred, 214, 186},
        {"stored frame kept", kdf::Value("{{100, 50}, {900, 700}}"), 300.0, 250.0, QRect(100, 50, 900, 700), 300, 250},
        {"oversized frame", kdf::Value("{{-300, -200}, {5000, 4000}}"), {}, {}, std::nullopt, 214, 186},
        {"thumbnails too narrow", {}, {}, 50.0, centred, 214, 97},
        {"thumbnails too wide", {}, {}, 500.0, centred, 214, 414},
        {"unparsable frame", kdf::Value("982 x 720"), {}, {}, centred, 214, 186},
        {"frame without size", kdf::Value("{{10, 10}, {0, 0}}"), {}, {}, centred, 214, 186},
        {"NaN and negative sizes", {}, nan, -5.0, centred, 214, 186},
        {"infinite and text sizes", {}, inf, kdf::Value("wide"), centred, 214, 186},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        for (auto [key, value] : {std::pair{kMainWindowFrameKey, c.frame}, std::pair{kStep1SplitSubViewHKey, c.height},
                                  std::pair{kThumbnailSplitSubViewWKey, c.width}})
            if (value) defaults().set(key, *value);
        ASSERT_TRUE(cntlr->init());
        cntlr->applicationWillFinishLaunching();
        QCoreApplication::processEvents();

        QMainWindow* w = window->window();
        ASSERT_TRUE(w->isVisible());
        EXPECT_EQ(w->minimumSize(), QSize(800, 600));
        EXPECT_EQ(w->maximumSize(), QSize(kScreenW, kScreenH));
        if (c.wantFrame)
            EXPECT_EQ(w->geometry(), *c.wantFrame);
        else
            EXPECT_TRUE(QRect(0, 0, kScreenW, kScreenH).contains(w->frameGeometry())) << w->frameGeometry().x();
        EXPECT_EQ(pane(qlr_main::kTopStepScanStep1SplitSubView)->height(), c.wantHeight);
        EXPECT_EQ(pane(qlr_main::kScanThumbnailSplitSubView)->width(), c.wantWidth);
        EXPECT_EQ(log.take(), (std::vector<std::string>{"browsers", "top", "edit"}));

        // What termination stores brings the same layout back.
        cntlr->applicationWillTerminate();
        const kdf::Dictionary saved = stored();
        const QRect g = w->geometry();
        EXPECT_EQ(*kdf::find(saved, kMainWindowFrameKey),
                  kdf::Value(kdf::stringFromRect({double(g.x()), double(g.y()), double(g.width()), double(g.height())})));
        EXPECT_EQ(kdf::find(saved, kStep1SplitSubViewHKey)->toReal(), double(c.wantHeight));
        EXPECT_EQ(kdf::find(saved, kThumbnailSplitSubViewWKey)->toReal(), double(c.wantWidth));
    }
}

// ---- A start by a scanner button --------------------------------------------------------------

TEST_F(Launch, ButtonStartRunsThatButtonsJob) {
    for (bool hide : {true, false}) {
        SCOPED_TRACE(hide ? "hidden start" : "visible start");
        TearDown();
        SetUp();
        defaults().set(PrefsModel::kIsHideAppStartFromButtonKey, kdf::Value(hide));
        startCompanion({{"KD_COMPANION_LAUNCH_TYPE", "2"}, {"KD_COMPANION_DATA_FOR_SCAN", "3"}});
        ASSERT_TRUE(cntlr->init());
        // The identity is the companion's.
        EXPECT_EQ(AppMainCntlrDSInfo::curDS_ProductName(), "Tavro KD-720 TWAIN");
        EXPECT_EQ(cntlr->launchType(), 2);
        setJobs(*cntlr->appModel(), {-1, 5, 3, 3});
        cntlr->applicationWillFinishLaunching();
        EXPECT_EQ(clicks, std::vector<std::uint32_t>{2});
        EXPECT_EQ(cntlr->isAutoCloseApp(), hide);
        EXPECT_EQ(window->window()->windowOpacity(), hide ? 0.0 : 1.0);
        EXPECT_TRUE(alerts->shown.empty());
    }
}

TEST_F(Launch, OlderSettingsAreOfferedBeforeAButtonStartScans) {
    kdf::writePreferencesFile(kLegacyPrefsKD810, kdf::Dictionary{{"PrefsIsQLRResidingKey", kdf::Value(true)}});
    startCompanion({{"KD_COMPANION_LAUNCH_TYPE", "2"},
                    {"KD_COMPANION_DATA_FOR_SCAN", "3"},
                    {"KD_COMPANION_PRODUCT", kLegacyProductKD810}});
    ASSERT_TRUE(cntlr->init());
    setJobs(*cntlr->appModel(), {3});
    alerts->answer = 1; // Cancel
    cntlr->applicationWillFinishLaunching();
    ASSERT_EQ(alerts->shown.size(), 1u);
    EXPECT_EQ(alerts->shown[0].buttons.size(), 3u);
    EXPECT_TRUE(clicks.empty());
    EXPECT_EQ(cntlr->launchType(), 0);
    EXPECT_TRUE(window->window()->isVisible());
}

// ---- Did finish launching ---------------------------------------------------------------------

TEST_F(Launch, NavigationOverlayOnlyOnTheFirstStartOnTheMainScreen) {
    ASSERT_TRUE(cntlr->init());
    cntlr->storeAppState(kAppStateScanning);
    cntlr->applicationDidFinishLaunching();
    EXPECT_EQ(log.count("navigation"), 0u);
    EXPECT_FALSE(defaults().boolean(kIsShowedNavigationKey).has_value());

    cntlr->storeAppState(kAppStateMainTop);
    cntlr->setIsAutoCloseApp(true);
    cntlr->applicationDidFinishLaunching();
    EXPECT_EQ(log.count("navigation"), 1u);
    EXPECT_EQ(defaults().boolean(kIsShowedNavigationKey), true);
    // A button start that stayed on the main screen does not close the
    // application after all.
    EXPECT_FALSE(cntlr->isAutoCloseApp());

    cntlr->applicationDidFinishLaunching();
    EXPECT_EQ(log.count("navigation"), 1u);
}

// ---- Termination ------------------------------------------------------------------------------

TEST_F(Launch, TerminationSavesLayoutSettingsAndFileVersion) {
    ASSERT_TRUE(cntlr->init());
    cntlr->applicationWillFinishLaunching();
    window->window()->setGeometry(120, 80, 1000, 760);
    cntlr->setScanThumbnailView_W(250.0f); // known: the pane's frame is not asked
    cntlr->applicationWillTerminate();
    const kdf::Dictionary saved = stored();
    EXPECT_EQ(*kdf::find(saved, kMainWindowFrameKey), kdf::Value("{{120, 80}, {1000, 760}}"));
    EXPECT_EQ(kdf::find(saved, kThumbnailSplitSubViewWKey)->toReal(), 250.0);
    EXPECT_TRUE(kdf::find(saved, kStep1SplitSubViewHKey));
    EXPECT_EQ(*kdf::find(saved, kFileVerKey), kdf::Value(int(AppMainCntlrSaveLoad::currentFileVersion())));
    EXPECT_TRUE(kdf::find(saved, "KD_AppSetting"));
    EXPECT_TRUE(kdf::find(saved, AppModel::kJobModel_DictListKey));
    EXPECT_FALSE(cntlr->appModel());
    EXPECT_FALSE(cntlr->panelMenu(kJobPanelType, false));
    EXPECT_FALSE(fs::exists(sBundle.parent_path() / "relaunched"));
}

TEST_F(Launch, WithoutAWindowTheFrameIsEmpty) {
    cntlr->setMainWindowPort(nullptr);
    ASSERT_TRUE(cntlr->init());
    cntlr->applicationWillTerminate();
    const kdf::Dictionary saved = stored();
    EXPECT_EQ(*kdf::find(saved, kMainWindowFrameKey), kdf::Value("{{0, 0}, {0, 0}}"));
    EXPECT_EQ(kdf::find(saved, kStep1SplitSubViewHKey)->toReal(), 0.0);
    EXPECT_EQ(kdf::find(saved, kThumbnailSplitSubViewWKey)->toReal(), 0.0);
}

TEST_F(Launch, ResetEmptiesTheSettingsAndStartsTheRelaunchHelper) {
    ASSERT_TRUE(cntlr->init());
    cntlr->applicationWillFinishLaunching();
    cntlr->setIsTerminateByInitInPrefs(true);
    ASSERT_TRUE(cntlr->applicationShouldTerminate());
    cntlr->applicationWillTerminate();
    EXPECT_TRUE(stored().empty());
    EXPECT_TRUE(defaults().dictionaryRepresentation().empty());
    const fs::path record = sBundle.parent_path() / "relaunched";
    ASSERT_TRUE(waitUntil([&] { return readText(record) == sBundle.string() + "\n"; })) << readText(record);

    // The next start: no file version, so the check stamps a fresh domain,
    // and the models come from the presets.
    AppMainCntlrSaveLoad::checkAppPlistIfDiffRemove();
    AppModel next(nullptr);
    EXPECT_FALSE(next.jobModel_List().empty());
    EXPECT_FALSE(next.inputModel_List().empty());
}

TEST_F(Launch, RefusedQuitAfterAResetChangesNothing) {
    ASSERT_TRUE(cntlr->init());
    cntlr->applicationWillFinishLaunching();
    defaults().set("Kept", kdf::Value(1));
    defaults().synchronize();
    cntlr->setIsTerminateByInitInPrefs(true);
    dialogs->fileName = true; // a modal panel is up
    EXPECT_FALSE(cntlr->applicationShouldTerminate());
    EXPECT_FALSE(cntlr->isTerminateByInitInPrefs());
    EXPECT_FALSE(cntlr->windowShouldClose(window->window()));
    EXPECT_EQ(*kdf::find(stored(), "Kept"), kdf::Value(1));

    // A later ordinary quit saves without a reset.
    dialogs->fileName = false;
    ASSERT_TRUE(cntlr->applicationShouldTerminate());
    cntlr->applicationWillTerminate();
    EXPECT_EQ(*kdf::find(stored(), "Kept"), kdf::Value(1));
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(fs::exists(sBundle.parent_path() / "relaunched"));
}

// ---- The set-up -------------------------------------------------------------------------------

TEST_F(Launch, SetUpPreparesMenusAndFields) {
    ASSERT_TRUE(cntlr->init());
    for (int type : {kInputPanelType, kOutputPanelType, kJobPanelType})
        for (bool isBack : {false, true}) {
            ASSERT_TRUE(cntlr->panelMenu(type, isBack));
            EXPECT_FALSE(kdui::autoenablesItems(cntlr->panelMenu(type, isBack)));
        }
    ASSERT_TRUE(cntlr->scanPanelMenu());
    EXPECT_EQ(cntlr->previewCellSize(), 126.0f);
    EXPECT_EQ(cntlr->preDisplayIndex(), -1);
    EXPECT_TRUE(cntlr->appModel());
    // Not yet launched: identity changes are not forwarded.
    EXPECT_FALSE(AppMainCntlrDSInfo::isInitialized());
    cntlr->applicationWillFinishLaunching();
    EXPECT_TRUE(AppMainCntlrDSInfo::isInitialized());
}

TEST_F(Launch, ASetUpThatThrowsShowsOneAlertAndFails) {
    PluginRegistryQueries::setCurrent(std::make_shared<FailingHost>());
    EXPECT_FALSE(cntlr->init());
    EXPECT_EQ(alerts->shown.size(), 1u);
}

// ---- The legacy import ------------------------------------------------------------------------

kdf::Value archivedJobs(const kdf::Dictionary& jobs) {
    return kdf::Value(*QlrUtilsMethod::encodeDictToData(kdf::Value(jobs)));
}

// The older application's preferences with one favourite job (its entries
// from "2" on are the user's) on scanner button 3.
kdf::Dictionary olderPrefs(bool complete = true) {
    kdf::Dictionary list{{"0", kdf::Value(kdf::Dictionary{})},
                         {"1", kdf::Value(kdf::Dictionary{})},
                         {"2", kdf::Value(kdf::Dictionary{{"JLMdlJList_TitleKey", kdf::Value("Older")},
                                                           {"JLMdlJList_ScanBtnStatusKey", kdf::Value(3)}})}};
    kdf::Dictionary prefs{{"PrefsIsQLRResidingKey", kdf::Value(false)}, {"MainJobJLMdlKey", archivedJobs(list)}};
    if (complete) prefs["PrefsIsShowPlugInScanKey"] = kdf::Value(true);
    return prefs;
}

class LegacyImport : public Launch {
protected:
    void SetUp() override {
        Launch::SetUp();
        AppMainCntlrDSInfo::setCurrentDSInfo(std::make_shared<const kdf::Dictionary>(
            kdf::Dictionary{{kProductNameKey, kdf::Value(kLegacyProductKD820)}}));
        cntlr->setAppModel(std::make_shared<AppModel>());
    }
    std::size_t jobCount() const { return cntlr->appModel()->jobModel_List().size(); }
};

TEST_F(LegacyImport, OfferedAnsweredAndRemembered) {
    enum File { None, Complete, Incomplete, NoDictionary };
    struct Case {
        const char* name;
        const char* product;
        File file;
        std::size_t jobs;
        int answer; // the recorder's button index; -1 none
        bool asked;
        std::size_t jobsAfter;
        bool failed;
        bool remembered;
    };
    const Case cases[] = {
        {"another scanner", "Tavro KD-720 TWAIN", Complete, 2, 0, false, 2, false, false},
        {"no older file", kLegacyProductKD820, None, 2, 0, false, 2, false, false},
        {"84 jobs, YES", kLegacyProductKD820, Complete, 84, 0, true, 85, false, true},
        {"85 jobs", kLegacyProductKD820, Complete, 85, 0, false, 85, false, false},
        {"NO", kLegacyProductKD820, Complete, 2, 2, true, 2, false, true},
        {"Cancel", kLegacyProductKD820, Complete, 2, 1, true, 2, false, false},
        {"another alert was up", kLegacyProductKD820, Complete, 2, -1, true, 2, false, false},
        {"failed conversion", kLegacyProductKD820, Incomplete, 2, 0, true, 2, true, false},
        {"file of no dictionary", kLegacyProductKD820, NoDictionary, 2, 0, true, 2, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        AppMainCntlrDSInfo::setCurrentDSInfo(
            std::make_shared<const kdf::Dictionary>(kdf::Dictionary{{kProductNameKey, kdf::Value(c.product)}}));
        setJobs(*cntlr->appModel(), std::vector<int>(c.jobs, -1));
        const std::string path = kdf::preferencesFilePath(kLegacyPrefsKD820);
        if (c.file == Complete || c.file == Incomplete)
            kdf::writePreferencesFile(kLegacyPrefsKD820, olderPrefs(c.file == Complete));
        if (c.file == NoDictionary) kdtest::TempHome::writeText(path, "<plist><string>x</string></plist>");
        cntlr->setLaunchType(2);
        alerts->answer = c.answer;

        cntlr->checkImportLegacyData();

        EXPECT_EQ(!alerts->shown.empty(), c.asked);
        EXPECT_EQ(cntlr->launchType(), c.asked ? 0 : 2);
        EXPECT_EQ(jobCount(), c.jobsAfter);
        EXPECT_EQ(alerts->shown.size(), c.failed ? 2u : c.asked ? 1u : 0u);
        if (c.failed) EXPECT_EQ(alerts->shown[1].buttons.size(), 1u);
        EXPECT_EQ(defaults().boolean(kIsShowedImportWinKey).value_or(false), c.remembered);
        // The older preferences only come with a successful import.
        const bool imported = c.jobsAfter > c.jobs;
        EXPECT_EQ(defaults().boolean(PrefsModel::kIsShowPlugInScanKey).value_or(false), imported);
    }
}

TEST_F(LegacyImport, TheImportedJobTakesOverItsButton) {
    setJobs(*cntlr->appModel(), {3, 5, -1});
    kdf::writePreferencesFile(kLegacyPrefsKD820, olderPrefs());
    alerts->answer = 0;
    cntlr->checkImportLegacyData();
    std::vector<int> buttons;
    for (const auto& job : cntlr->appModel()->jobModel_List()) buttons.push_back(job->scanBtnStatus());
    EXPECT_EQ(buttons, (std::vector<int>{-1, 5, -1, 3}));
    EXPECT_EQ(defaults().boolean(PrefsModel::kIsQLRResidingKey), false);
    // Stored with the answer.
    EXPECT_EQ(JobModel::modelListFromDictList(kdf::find(stored(), AppModel::kJobModel_DictListKey)).size(), 4u);
}

} // namespace

// The private bus first: its address goes into the environment before main
// and any thread start, for this process and the companions it starts.
static kdtest::TestBus sBus;

int main(int argc, char** argv) {
    kdtest::TempHome home;
    std::filesystem::permissions(home.root() / "run", std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace);
    // A bundle of the application's kind: Info.plist, presets, the stand-in
    // companion and a relaunch helper that records its argument.
    const fs::path root = home.root() / "apps";
    sBundle = root / "Quillora";
    const fs::path support = sBundle / "SharedSupport";
    fs::create_directories(support / "KdCompanion");
    fs::create_directories(sBundle / "Resources");
    kdtest::TempHome::writeText(sBundle / "Info.plist",
                                "<plist><dict><key>CFBundleIdentifier</key><string>com.tavrolek.Quillora</string>"
                                "<key>TVTaskAppName</key><string>KdCompanion</string>"
                                "<key>TVCurrentFileVersion</key><integer>1</integer></dict></plist>");
    for (const char* preset : {"Preset_InputList.plist", "Preset_OutputList.plist", "Preset_JobList.plist"})
        fs::copy_file(fs::path(KD_APP_RESOURCES) / preset, sBundle / "Resources" / preset);
    fs::copy_file(fs::path(KD_COMPANION_DIR) / "KdCompanion", support / "KdCompanion" / "KdCompanion");
    fs::copy_file(fs::path(KD_COMPANION_DIR) / "Info.plist", support / "KdCompanion" / "Info.plist");
    kdtest::TempHome::writeText(support / "RelaunchQLR",
                                "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"" + (root / "relaunched.tmp").string() +
                                    "\"\nmv \"" + (root / "relaunched.tmp").string() + "\" \"" +
                                    (root / "relaunched").string() + "\"\n");
    fs::permissions(support / "RelaunchQLR", fs::perms::owner_all);
    kdf::Bundle::setMainBundlePath(sBundle.string());

    const fs::path screen = home.root() / "screen.json";
    kdtest::TempHome::writeText(screen, "{\"screens\": [{\"name\": \"Test\", \"x\": 0, \"y\": 0, \"width\": " +
                                            std::to_string(kScreenW) + ", \"height\": " + std::to_string(kScreenH) +
                                            ", \"logicalDpi\": 96, \"logicalBaseDpi\": 96, \"dpr\": 1}],"
                                            " \"windowFrameMargins\": false}");
    home.env().set("QT_QPA_PLATFORM", "offscreen:configfile=" + screen.string());
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
