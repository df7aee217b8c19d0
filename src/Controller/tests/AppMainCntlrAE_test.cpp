// The companion link through the stand-in companion, on a private session
// bus: the start-up answer, the companion's events and the button-watching
// switch.
#include "AppMainCntlrAE.h"
#include "AppMainCntlrFakes.h"
#include "CompanionStandIn.h"
#include "QlrDeviceCntlr.h"
#include "QlrUtilsMethod.h"
#include "TestBus.h"

#include <foundation/Bundle.h>
#include <foundation/Preferences.h>
#include <foundation/PropertyList.h>
#include <foundation/UserDefaults.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>

#include <csignal>
#include <fstream>
#include <sstream>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace apptest;
using namespace std::chrono_literals;

class CompanionLink : public ControllerTest {
protected:
    fs::path root;
    fs::path companionDir;
    std::unique_ptr<Companion> companion;
    std::vector<std::uint32_t> clicks;
    kdf::ObserverToken clickObserver;
    QlrDeviceCntlr device;

    void SetUp() override {
        ControllerTest::SetUp();
        root = fs::path(std::getenv("TMPDIR")) / ("link-" + std::to_string(::getpid()) + "-" +
                                                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root);
        const fs::path bundle = root / "Quillora";
        companionDir = bundle / "SharedSupport" / "KdCompanion";
        fs::create_directories(companionDir);
        kdtest::TempHome::writeText(bundle / "Info.plist",
                                    "<plist><dict><key>CFBundleIdentifier</key><string>com.tavrolek.Quillora</string>"
                                    "<key>TVTaskAppName</key><string>KdCompanion</string></dict></plist>");
        fs::copy_file(fs::path(KD_COMPANION_DIR) / "KdCompanion", companionDir / "KdCompanion");
        fs::copy_file(fs::path(KD_COMPANION_DIR) / "Info.plist", companionDir / "Info.plist");
        kdf::Bundle::setMainBundlePath(bundle.string());
        AppMainCntlrDSInfo::setCurrentDSInfo(nullptr);
        cntlr->setDeviceCntlr(&device);
        clickObserver = kdf::NotificationCenter::defaultCenter().addObserver(
            kPanelIBViewClickCellNotification, [this](const kdf::Notification& n) {
                const kdf::Value* v = n.userInfo() ? kdf::find(*n.userInfo(), kClickCellIndexKey) : nullptr;
                clicks.push_back(v ? std::uint32_t(*v->toInteger()) : 9999u);
            });
    }
    void TearDown() override {
        // The controller leaves the bus before its companion goes.
        ControllerTest::TearDown();
        companion.reset();
        kdf::Bundle::setMainBundlePath({});
        AppMainCntlrDSInfo::setCurrentDSInfo(nullptr);
    }

    void startCompanion(std::map<std::string, std::string> env = {}) {
        companion = std::make_unique<Companion>(companionDir / "KdCompanion", root / "companion.log", std::move(env));
        ASSERT_TRUE(companion->waitLogged("ready"));
    }
    // A companion running with that answer, and the controller linked to it.
    void link(std::map<std::string, std::string> env = {}) {
        startCompanion(std::move(env));
        cntlr->setAppleEvent();
    }
    // Jobs with these button statuses.
    void setJobs(const std::vector<int>& buttons) {
        auto model = std::make_shared<AppModel>();
        std::vector<std::shared_ptr<JobModel>> jobs;
        for (int b : buttons) {
            auto job = std::make_shared<JobModel>();
            job->setScanBtnStatus(b);
            jobs.push_back(job);
        }
        model->setJobModel_List(jobs);
        cntlr->setAppModel(model);
    }
    static std::string product() {
        auto info = AppMainCntlrDSInfo::currentDSInfo();
        const kdf::Value* v = info ? kdf::find(*info, kProductNameKey) : nullptr;
        return v && v->string() ? *v->string() : std::string("<none>");
    }
};

TEST_F(CompanionLink, StartUpAnswerSetsLaunchTypeStatusesAndIdentity) {
    struct Case {
        const char* launchType;
        const char* dataForScan;
        int wantLaunchType;
        int wantConnect;
        std::uint32_t wantButton;
    };
    const Case cases[] = {
        {"0", "-5", 0, -5, 0},
        {"1", "7", 1, 0, 0},
        {"2", "65539", 2, 0, 0x10003},
        {"2", "4294967295", 2, 0, 0xFFFFFFFFu},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.launchType + std::string("/") + c.dataForScan);
        cntlr.reset();
        cntlr = std::make_unique<AppMainCntlr>();
        companion.reset();
        cntlr->setConnectStatus(99);
        cntlr->setBtnStatus(99);
        link({{"KD_COMPANION_LAUNCH_TYPE", c.launchType}, {"KD_COMPANION_DATA_FOR_SCAN", c.dataForScan}});
        EXPECT_EQ(cntlr->launchType(), c.wantLaunchType);
        EXPECT_EQ(cntlr->connectStatus(), c.wantConnect);
        EXPECT_EQ(cntlr->btnStatus(), c.wantButton);
        EXPECT_EQ(product(), "Tavro KD-720 TWAIN");
        EXPECT_EQ(AppMainCntlrDSInfo::curDS_Version(), 1);
        EXPECT_FALSE(AppMainCntlrDSInfo::curDS_IsAPDS());
        EXPECT_EQ(AppMainCntlrDSInfo::curDS_Manufacturer().value_or(""), "Tavrolek Document Systems");
        EXPECT_FALSE(cntlr->targetForAE().empty());
    }
}

TEST_F(CompanionLink, AnswerWithoutKeysTakesTheKeysPresent) {
    link({{"KD_COMPANION_OMIT", "Manufacturer_Key,IsAPDS_Key"}, {"KD_COMPANION_PRODUCT", "Tavro KD-930 TWAIN"}});
    EXPECT_EQ(product(), "Tavro KD-930 TWAIN");
    EXPECT_FALSE(AppMainCntlrDSInfo::curDS_Manufacturer());
    EXPECT_TRUE(AppMainCntlrDSInfo::curDS_IsAPDS()); // the default when absent
    EXPECT_EQ(AppMainCntlrDSInfo::curDS_Version(), 1);
}

TEST_F(CompanionLink, UndecodableOrNonDictionaryAnswerChangesNothing) {
    for (const char* raw : {"not a property list", "<plist><array><integer>1</integer></array></plist>"}) {
        SCOPED_TRACE(raw);
        cntlr.reset();
        cntlr = std::make_unique<AppMainCntlr>();
        companion.reset();
        cntlr->setLaunchType(5);
        cntlr->setConnectStatus(6);
        cntlr->setBtnStatus(7);
        link({{"KD_COMPANION_RAW_ANSWER", raw}});
        EXPECT_TRUE(companion->logged("CkSt"));
        EXPECT_EQ(cntlr->launchType(), 5);
        EXPECT_EQ(cntlr->connectStatus(), 6);
        EXPECT_EQ(cntlr->btnStatus(), 7u);
        EXPECT_FALSE(AppMainCntlrDSInfo::currentDSInfo());
    }
}

TEST_F(CompanionLink, WithoutCompanionNothingIsServedOrSent) {
    // The companion's folder is there, but its program never takes its
    // name: the launch gives up within the bound.
    fs::remove(companionDir / "KdCompanion");
    fs::copy_file("/bin/sleep", companionDir / "KdCompanion");
    const auto start = std::chrono::steady_clock::now();
    cntlr->setAppleEvent();
    EXPECT_LT(std::chrono::steady_clock::now() - start, companion_link::kLaunchTimeout + 2s);
    EXPECT_TRUE(cntlr->targetForAE().empty());
    EXPECT_FALSE(AppMainCntlrDSInfo::currentDSInfo());
    EXPECT_FALSE(QDBusConnection::sessionBus().interface()->isServiceRegistered(
        QString::fromStdString(companion_link::appBusName())));
    cntlr->sendChangeValidWatchingDeviceBtn(true); // no target: nothing to send, no failure
}

TEST_F(CompanionLink, LaunchStartsTheCompanionFromTheBundle) {
    cntlr->setAppleEvent();
    EXPECT_FALSE(cntlr->targetForAE().empty());
    EXPECT_EQ(product(), "Tavro KD-720 TWAIN");
    // The launched copy is ours to end: it goes with the private bus.
    const auto owner = QDBusConnection::sessionBus().interface()->serviceOwner(
        QString::fromStdString(companion_link::companionBusName()));
    const auto pid = QDBusConnection::sessionBus().interface()->servicePid(owner.value());
    if (pid.isValid() && pid.value() > 0) ::kill(pid_t(pid.value()), SIGTERM);
}

TEST_F(CompanionLink, ButtonPressesStartTheMatchingJobOrAnotherBatch) {
    struct Case {
        const char* name;
        const char* product;
        int state;
        bool modal;
        const char* event;
        std::vector<std::uint32_t> clicks;
        int againScans;
    };
    // Jobs: buttons -1, 5, 3.
    const Case cases[] = {
        {"paper inserted, first job with a button", "Tavro KD-930 TWAIN", 0, false, "Cnct 0 0x10003 0", {1}, 0},
        {"KD-720: the job of button 3", "Tavro KD-720 TWAIN", 0, false, "Cnct 0 0x10003 0", {2}, 0},
        {"no job has button 4", "Tavro KD-720 TWAIN", 0, false, "Cnct 0 4 0", {}, 0},
        {"103, paper inserted: again", "Tavro KD-930 TWAIN", 103, false, "Cnct 0 0x10000 0", {}, 1},
        {"103, KD-720: nothing", "Tavro KD-720 TWAIN", 103, false, "Cnct 0 0x10000 0", {}, 0},
        {"104, a button: again", "Tavro KD-720 TWAIN", 104, false, "Cnct 0 5 0", {}, 1},
        {"busy scanning", "Tavro KD-720 TWAIN", 101, false, "Cnct 0 3 0", {}, 0},
        {"output running", "Tavro KD-720 TWAIN", 201, false, "Cnct 0 3 0", {}, 0},
        {"after output", "Tavro KD-720 TWAIN", 203, false, "Cnct 0 3 0", {2}, 0},
        {"modal window", "Tavro KD-720 TWAIN", 0, true, "Cnct 0 3 0", {}, 0},
        {"not connected", "Tavro KD-720 TWAIN", 0, false, "Cnct 1 3 0", {}, 0},
        {"no button", "Tavro KD-720 TWAIN", 0, false, "Cnct 0 0 0", {}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        cntlr.reset();
        cntlr = std::make_unique<AppMainCntlr>();
        cntlr->setMainWindowPort(window);
        cntlr->setDialogsPort(dialogs);
        cntlr->setDeviceCntlr(&device);
        companion.reset();
        link({{"KD_COMPANION_PRODUCT", c.product}});
        setJobs({-1, 5, 3});
        cntlr->storeAppState(c.state);
        window->sheet = c.modal;
        clicks.clear();
        log.take();
        companion->send(c.event);
        ASSERT_TRUE(companion->waitLogged("reply Cnct"));
        EXPECT_EQ(clicks, c.clicks);
        EXPECT_EQ(int(log.count("again:4040")), c.againScans);
        window->sheet = false;
    }
}

TEST_F(CompanionLink, NonZeroConnectStatusDropsShadingAfterAScan) {
    for (int state : {0, 103, 104}) {
        SCOPED_TRACE(state);
        cntlr.reset();
        cntlr = std::make_unique<AppMainCntlr>();
        cntlr->setDeviceCntlr(&device);
        companion.reset();
        link();
        device.setShadingData(std::make_shared<const kdf::Bytes>(kdf::Bytes{1, 2}));
        cntlr->storeAppState(state);
        companion->send("Cnct 2 3 0");
        ASSERT_TRUE(companion->waitLogged("reply Cnct"));
        EXPECT_EQ(cntlr->connectStatus(), 2);
        EXPECT_EQ(device.shadingData() == nullptr, state != 0);
    }
}

TEST_F(CompanionLink, JobStartByButtonRefusesLargeIndexesAndBusyStates) {
    setJobs({});
    const struct {
        int state;
        std::uint32_t index;
        bool posted;
    } cases[] = {{0, 0, true}, {0, 99, true}, {0, 100, false}, {0, 0xFFFFFFFFu, false},
                 {203, 3, true}, {103, 3, false}, {202, 3, false}};
    for (const auto& c : cases) {
        clicks.clear();
        cntlr->storeAppState(c.state);
        cntlr->exeJobScanByLogin(c.index);
        EXPECT_EQ(clicks.size(), c.posted ? 1u : 0u) << c.state << "/" << c.index;
        if (c.posted && !clicks.empty()) {
            EXPECT_EQ(clicks[0], c.index);
        }
    }
}

TEST_F(CompanionLink, DataStoresTheRecordThenRepliesOneShort) {
    link();
    cntlr->storeAppState(103);
    // Other settings of the same file survive the record.
    kdf::UserDefaults::standard().set("SomeOtherKey", kdf::Value("kept"));
    kdf::UserDefaults::standard().synchronize();
    companion->send("Data");
    ASSERT_TRUE(companion->waitLogged("reply Data n 1"));
    const auto fromDefaults = kdf::UserDefaults::standard().object(companion_link::kAppSettingKey);
    ASSERT_TRUE(fromDefaults && fromDefaults->bytes());
    const auto file = kdf::readPreferencesFile(kdf::UserDefaults::standard().domain());
    const kdf::Value* fromFile = kdf::find(file.values, companion_link::kAppSettingKey);
    ASSERT_TRUE(fromFile && fromFile->bytes());
    EXPECT_EQ(*fromFile->bytes(), *fromDefaults->bytes());
    const kdf::Value* other = kdf::find(file.values, "SomeOtherKey");
    EXPECT_TRUE(other && other->string() && *other->string() == "kept");
    auto record = QlrUtilsMethod::decodeDataToDict(*fromFile->bytes());
    ASSERT_TRUE(record && record->dictionary());
    EXPECT_EQ(*record, kdf::Value(*cntlr->pipeAppSettingForLogin()));
    EXPECT_EQ(*kdf::find(*record->dictionary(), companion_link::kAppStateKey)->toInteger(), 103);
}

TEST_F(CompanionLink, WindowRequestsAndWrongCalls) {
    link();
    companion->send("verI 0");
    companion->send("verI 1");
    ASSERT_TRUE(waitUntil([&] { return companion->log().find("reply verI") != companion->log().rfind("reply verI"); }));
    EXPECT_EQ(log.count("about"), 1u);
    // Wrong arguments are refused by signature, unknown events by name.
    companion->send("!Cnct x");
    companion->send("!SeDS 1");
    companion->send("Nope");
    ASSERT_TRUE(companion->waitLogged("error Cnct org.freedesktop.DBus.Error.InvalidSignature")) << companion->log();
    ASSERT_TRUE(companion->waitLogged("error SeDS org.freedesktop.DBus.Error.InvalidSignature"));
    ASSERT_TRUE(companion->waitLogged("error Nope org.freedesktop.DBus.Error.UnknownMethod"));
    EXPECT_FALSE(cntlr->dummyWindow());
}

TEST_F(CompanionLink, ChooserBlocksTheMainWindowWithOneDummyWindow) {
    QWidget mainWindow;
    mainWindow.resize(400, 300);
    mainWindow.show();
    window->window = &mainWindow;
    link();
    companion->send("SeDS 1 Tavro KD-930 TWAIN");
    ASSERT_TRUE(companion->waitLogged("reply SeDS"));
    QPointer<QWidget> first = cntlr->dummyWindow();
    ASSERT_TRUE(first);
    EXPECT_EQ(product(), "Tavro KD-930 TWAIN");
    companion->send("SeDS 1");
    ASSERT_TRUE(waitUntil([&] { return companion->log().find("reply SeDS") != companion->log().rfind("reply SeDS"); }));
    EXPECT_EQ(cntlr->dummyWindow(), first.data());
    EXPECT_TRUE(cntlr->isModalWindow());
    EXPECT_EQ(product(), "Tavro KD-930 TWAIN"); // no identity: kept

    cntlr->handleShowSelectDS(0, std::nullopt);
    EXPECT_FALSE(cntlr->dummyWindow());
    EXPECT_TRUE(waitUntil([&] { return first.isNull() || !first->isVisible(); }));

    // Closing without a dummy window still takes the identity.
    companion->send("SeDS 0 Tavro KD-931 TWAIN");
    ASSERT_TRUE(waitUntil([&] { return product() == "Tavro KD-931 TWAIN"; }));
    EXPECT_FALSE(cntlr->dummyWindow());
    // A blob above the limit is refused undecoded; a broken one changes nothing.
    cntlr->handleShowSelectDS(0, kdf::Bytes(companion_link::kMaxPropertyListBytes + 1, ' '));
    cntlr->handleShowSelectDS(0, kdf::Bytes{'<', 'x'});
    EXPECT_EQ(product(), "Tavro KD-931 TWAIN");
}

TEST_F(CompanionLink, WatchingOffThenOnAroundTheSearch) {
    link();
    // A search with no source manager open finds nothing, but still turns
    // the watching off before and on after.
    QlrDeviceCntlr::setApplicationDelegate(cntlr.get());
    {
        QlrDeviceCntlr searching;
        EXPECT_FALSE(searching.openDS(nullptr, false, true));
    }
    QlrDeviceCntlr::setApplicationDelegate(nullptr);
    ASSERT_TRUE(companion->waitLogged("Timr 1")) << companion->log();
    const std::string text = companion->log();
    EXPECT_NE(text.find("Timr 0"), std::string::npos);
    EXPECT_LT(text.find("Timr 0"), text.find("Timr 1"));
}

TEST(CompanionAnswer, WrongTypesCountAsAbsentAndSizeIsBounded) {
    auto decode = [](const std::string& text) {
        return companion_link::decodeStartAnswer(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    };
    auto plist = [](const std::string& body) { return "<plist><dict>" + body + "</dict></plist>"; };
    // Wrong kinds: a string launch type, a text version, a numeric name.
    auto a = decode(plist("<key>QLRCom_LaunchType</key><string>2</string>"
                          "<key>QLRCom_DataForScan</key><integer>-3</integer>"
                          "<key>Version_MajorNum_Key</key><string>2</string>"
                          "<key>ProductName_Key</key><integer>5</integer>"
                          "<key>Manufacturer_Key</key><string>M</string>"
                          "<key>Other</key><string>x</string>"));
    ASSERT_TRUE(a);
    EXPECT_EQ(a->launchType, 0);
    EXPECT_EQ(a->connectStatus, -3);
    EXPECT_EQ(a->identity.size(), 1u);
    EXPECT_TRUE(kdf::find(a->identity, kManufacturerKey));
    // Launch type 2 reads the status unsigned; any other type ignores it.
    auto b = decode(plist("<key>QLRCom_LaunchType</key><integer>2</integer>"
                          "<key>QLRCom_DataForScan</key><integer>-1</integer>"));
    ASSERT_TRUE(b);
    EXPECT_EQ(b->btnStatus, 0xFFFFFFFFu);
    EXPECT_EQ(b->connectStatus, 0);
    // Not a dictionary, not a property list, too large: no answer.
    EXPECT_FALSE(decode("<plist><string>x</string></plist>"));
    EXPECT_FALSE(decode("garbage"));
    EXPECT_FALSE(decode(""));
    const std::string padded = plist("<key>ProductName_Key</key><string>" +
                                     std::string(companion_link::kMaxPropertyListBytes, 'a') + "</string>");
    EXPECT_FALSE(decode(padded));
}

} // namespace

// The private bus first: its address goes into the environment before main
// and any thread start, for this process and the companions it starts.
static kdtest::TestBus sBus;

APPTEST_MAIN()
