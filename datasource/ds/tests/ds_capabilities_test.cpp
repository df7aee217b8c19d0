// The data source object in process: DS_Entry's dispatch and states, the
// capability triplets and handlers, enable with and without the window,
// the notifications back to the host, and host recognition.
#include "CapData.h"
#include "CapHelpers.h"
#include "CapTables.h"
#include "ClientApp.h"
#include "DsTestKit.h"
#include "KdTwainCustom.h"
#include "RecordingUIController.h"
#include "TavrKdDS.h"
#include "TempHome.h"
#include "TestKdDSScript.h"

#include "foundation/Bundle.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Object.h"
#include "foundation/Preferences.h"
#include "foundation/PropertyList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

extern "C" {
__attribute__((visibility("default"))) KdTestDsScript kd_test_ds_script{};
}

namespace {

using dstest::OneValue;
using dstest::OneValueItem;

std::vector<std::string> gJournal;

// ---- The window double, created by name from the main program ----------------------------

RecordingUIController* gWindow = nullptr;

class TrackedUIController : public RecordingUIController {
public:
    TrackedUIController() { gWindow = this; }
    ~TrackedUIController() override {
        if (gWindow == this) gWindow = nullptr;
    }
};

// ---- The manager's side: the host's callback ---------------------------------------------

struct Callback {
    TW_UINT16 msg;
    TW_INT32 state;
};
std::vector<Callback> gCallbacks;
TW_UINT16 gCallbackAnswer = TWRC_SUCCESS;
std::function<void()> gInsideCallback;

TW_UINT16 FakeDsmEntry(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                       TW_MEMREF) {
    EXPECT_EQ(dg, DG_CONTROL);
    EXPECT_EQ(dat, DAT_NULL);
    const TW_UINT32 originId = origin->Id;
    EXPECT_EQ(originId, 77u); // the Id the manager gave at open
    EXPECT_EQ(dest->ProtocolMajor, 2); // the host identity copied at open
    gCallbacks.push_back({msg, CDataSource::CurrentDataSource()->State()});
    if (gInsideCallback) gInsideCallback();
    return gCallbackAnswer;
}

TW_HANDLE Alloc(TW_UINT32 size) { return std::calloc(size, 1); }

class DataSourceTest : public ::testing::Test {
protected:
    void SetUp() override {
        kd_test_ds_script = {};
        kd_test_ds_script.record = [](const char* what) { gJournal.emplace_back(what); };
        gJournal.clear();
        gCallbacks.clear();
        gCallbackAnswer = TWRC_SUCCESS;
        gInsideCallback = nullptr;
        folder_ = dstest::AssembleBundle(home_.root() / "twain", true).string();
        kd_test_ds_script.bundleFolder = folder_.c_str();
        kdf::registerClass(kUIControllerClassName, &kdf::makeObject<TrackedUIController>);
        std::strcpy(host_.ProductName, "Test Host");
        std::strcpy(host_.Manufacturer, "Test Maker");
        host_.ProtocolMajor = 2;
    }
    void TearDown() override {
        Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr);
        kdf::unregisterClass(kUIControllerClassName);
    }

    TW_UINT16 Call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
        return CDataSource::Entry(&host_, dg, dat, msg, data);
    }
    TW_UINT16 Condition() {
        TW_STATUS status{};
        EXPECT_EQ(Call(DG_CONTROL, DAT_STATUS, MSG_GET, &status), TWRC_SUCCESS);
        return status.ConditionCode;
    }
    CTavrKdDS* DS() { return static_cast<CTavrKdDS*>(CDataSource::CurrentDataSource()); }
    CCapPool* Pool() { return DS()->Pool(); }

    void Open() {
        TW_ENTRYPOINT points{};
        points.Size = kTwEntryPointSize;
        points.DSM_Entry = &FakeDsmEntry;
        ASSERT_EQ(Call(DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &points), TWRC_SUCCESS);
        TW_IDENTITY id{};
        id.Id = 77;
        ASSERT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &id), TWRC_SUCCESS);
        const TW_UINT32 kept = id.Id;
        EXPECT_EQ(kept, 77u);
        EXPECT_STREQ(id.ProductName, "Tavro KD-720 TWAIN");
    }
    // Open (state 1), then enabled with the settings-only window (2) or
    // without a window (4).
    void GoTo(TW_INT32 state) {
        if (state >= 1) Open();
        if (state == 2) {
            ASSERT_EQ(Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDSUIONLY, nullptr), TWRC_SUCCESS);
        }
        if (state == 4) {
            ASSERT_EQ(Enable(false), TWRC_SUCCESS);
        }
        ASSERT_EQ(DS()->State(), state);
    }
    TW_UINT16 Enable(bool showUI) {
        TW_USERINTERFACE ui{};
        ui.ShowUI = showUI;
        return Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui);
    }

    // The capability triplets with a one-value of one item.
    template <typename T> TW_UINT16 Set(TW_UINT16 cap, TW_UINT16 itemType, const T& value) {
        TW_CAPABILITY c{cap, TWON_ONEVALUE, OneValue(Alloc, itemType, value)};
        const TW_UINT16 rc = Call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &c);
        std::free(c.hContainer);
        return rc;
    }
    // MSG_GETCURRENT's one-value item.
    template <typename T> T Current(TW_UINT16 cap, TW_UINT16* itemType = nullptr, TW_UINT16 msg = MSG_GETCURRENT) {
        TW_CAPABILITY c{cap, 0, nullptr};
        EXPECT_EQ(Call(DG_CONTROL, DAT_CAPABILITY, msg, &c), TWRC_SUCCESS) << std::hex << cap;
        EXPECT_EQ(c.ConType, TWON_ONEVALUE);
        if (!c.hContainer) return T{};
        const T value = OneValueItem<T>(c.hContainer, itemType);
        std::free(c.hContainer);
        return value;
    }
    float CurrentFix(TW_UINT16 cap) { return static_cast<float>(dstest::Fix32Word(Current<TW_UINT32>(cap))); }

    kdtest::TempHome home_;
    std::string folder_;
    TW_IDENTITY host_{};
};

// ---- DS_Entry and the states ---------------------------------------------------------------------

struct TripletCase {
    TW_UINT32 dg;
    TW_UINT16 dat;
    TW_UINT16 msg;
    const char* name;
    unsigned admitted;      // bit n: state n
    TW_UINT16 rcAdmitted;   // and its condition code
    TW_UINT16 ccAdmitted;
};
constexpr unsigned S0 = 1, S1 = 2, S2 = 4, S4 = 16, S5 = 32, Any = S0 | S1 | S2 | S4 | S5;

TEST_F(DataSourceTest, EveryTripletAgainstTheStates) {
    const TripletCase cases[] = {
        {DG_CONTROL, DAT_IDENTITY, MSG_GET, "identity get", Any, TWRC_SUCCESS, 0},
        {DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, "open", S0, TWRC_SUCCESS, 0},
        {DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, "close", Any, TWRC_SUCCESS, 0},
        {DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, "enable", S1, TWRC_SUCCESS, 0},
        {DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDSUIONLY, "enable UI only", S1, TWRC_SUCCESS, 0},
        {DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, "disable", S2, TWRC_SUCCESS, 0},
        {DG_CONTROL, DAT_CAPABILITY, MSG_GET, "cap get", S1 | S2 | S4 | S5, TWRC_SUCCESS, 0},
        {DG_CONTROL, DAT_CAPABILITY, MSG_GETCURRENT, "cap current", S1 | S2 | S4 | S5, TWRC_SUCCESS, 0},
        {DG_CONTROL, DAT_CAPABILITY, MSG_GETDEFAULT, "cap default", S1 | S2 | S4 | S5, TWRC_SUCCESS, 0},
        {DG_CONTROL, DAT_CAPABILITY, MSG_RESET, "cap reset", S1, TWRC_SUCCESS, 0},
        {DG_CONTROL, DAT_CAPABILITY, MSG_SET, "cap set", S1, TWRC_SUCCESS, 0},
        {DG_CONTROL, DAT_CAPABILITY, MSG_QUERYSUPPORT, "cap query support", S1 | S2 | S4 | S5, TWRC_SUCCESS, 0},
        {DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, "end xfer", S4 | S5, TWRC_SUCCESS, 0},
        {DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, "pending get", S1 | S2 | S4 | S5, TWRC_SUCCESS, 0},
        {DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, "pending reset", S4 | S5, TWRC_SUCCESS, 0},
        {DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, "setup mem", S1 | S2 | S4, TWRC_SUCCESS, 0},
        {DG_CONTROL, DAT_STATUS, MSG_GET, "status", Any, TWRC_SUCCESS, 0},
        {DG_CONTROL, DAT_XFERGROUP, MSG_GET, "xfer group", S1 | S2 | S4, TWRC_SUCCESS, 0},
        {DG_CONTROL, DAT_DEVICEEVENT, MSG_GET, "device event", S1 | S2 | S4 | S5, TWRC_SUCCESS, 0},
        {DG_CONTROL, DAT_PASSTHRU, MSG_PASSTHRU, "pass-through", S1 | S2 | S4 | S5, TWRC_FAILURE, TWCC_BADPROTOCOL},
        {DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET, "layout get", Any, TWRC_SUCCESS, 0},
        {DG_IMAGE, DAT_IMAGELAYOUT, MSG_GETDEFAULT, "layout default", Any, TWRC_SUCCESS, 0},
        {DG_IMAGE, DAT_IMAGELAYOUT, MSG_RESET, "layout reset", S1, TWRC_SUCCESS, 0},
        {DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, "layout set", S1, TWRC_SUCCESS, 0},
        {DG_IMAGE, DAT_IMAGEINFO, MSG_GET, "image info", S4 | S5, TWRC_FAILURE, TWCC_BADPROTOCOL},
        {DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, "mem xfer", S4 | S5, TWRC_FAILURE, TWCC_BADPROTOCOL},
        {DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, "native xfer", Any, TWRC_SUCCESS, 0},
        {DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, "file xfer", S4 | S5, TWRC_FAILURE, TWCC_BADPROTOCOL},
        {DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, "entry point", S0, TWRC_SUCCESS, 0},
        {DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, "process event", S2 | S4 | S5, TWRC_NOTDSEVENT, 0},
        {DG_CONTROL, DAT_XFERGROUP, MSG_SET, "not in the table", 0, 0, 0},
    };
    for (const TW_INT32 state : {0, 1, 2, 4}) {
        for (const TripletCase& c : cases) {
            SCOPED_TRACE(std::string(c.name) + " in state " + std::to_string(state));
            GoTo(state);
            // A record big enough for any triplet, filled as each needs.
            alignas(8) unsigned char data[1024] = {};
            if (c.dat == DAT_CAPABILITY) {
                auto* cap = reinterpret_cast<TW_CAPABILITY*>(data);
                cap->Cap = CAP_XFERCOUNT;
                if (c.msg == MSG_SET) {
                    cap->ConType = TWON_ONEVALUE;
                    cap->hContainer = OneValue(Alloc, TWTY_INT16, TW_INT16(-1));
                }
            } else if (c.dat == DAT_ENTRYPOINT) {
                auto* points = reinterpret_cast<TW_ENTRYPOINT*>(data);
                points->Size = kTwEntryPointSize;
                points->DSM_Entry = &FakeDsmEntry;
            } else if (c.dat == DAT_IMAGELAYOUT && c.msg == MSG_SET) {
                auto* layout = reinterpret_cast<TW_IMAGELAYOUT*>(data);
                layout->Frame.Right.Whole = 2;
                layout->Frame.Bottom.Whole = 3;
            }
            const bool admitted = (c.admitted >> state) & 1;
            const TW_UINT16 rc = Call(c.dg, c.dat, c.msg, data);
            TW_UINT16 expectedRc = admitted ? c.rcAdmitted : TWRC_FAILURE;
            TW_UINT16 expectedCc = admitted ? c.ccAdmitted : TWCC_SEQERROR;
            if (c.admitted == 0) expectedCc = TWCC_BADPROTOCOL;
            if (c.dat == DAT_IMAGELAYOUT && (c.msg == MSG_GET || c.msg == MSG_GETDEFAULT) && state == 0) {
                // Served in any state, but closed there is no frame to answer.
                expectedRc = TWRC_FAILURE;
                expectedCc = TWCC_LOWMEMORY;
            }
            EXPECT_EQ(rc, expectedRc);
            EXPECT_EQ(Condition(), expectedCc);
            auto* cap = reinterpret_cast<TW_CAPABILITY*>(data);
            if (c.dat == DAT_CAPABILITY) std::free(cap->hContainer);
            Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr);
        }
    }
}

// A scanner lock that cannot be made is no memory matter: a planted link
// denies the open. A runtime folder gone with its login gives way to the
// private temporary folder, and the open works.
TEST_F(DataSourceTest, ScannerLockFailuresAreReportedTruthfully) {
    const auto planted = home_.root() / "run" / "kd_720";
    std::filesystem::create_symlink(home_.root() / "victim", planted);
    TW_IDENTITY id{};
    EXPECT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &id), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_DENIED);
    EXPECT_EQ(DS()->State(), 0);
    std::filesystem::remove(planted);
    home_.env().set("XDG_RUNTIME_DIR", (home_.root() / "gone").string());
    Open();
}

TEST_F(DataSourceTest, ConditionCodeIsReportedOnceAndClearedByALaterSuccess) {
    Open();
    TW_UINT32 group = DG_IMAGE;
    EXPECT_EQ(Call(DG_CONTROL, DAT_XFERGROUP, MSG_SET, &group), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_BADPROTOCOL);
    EXPECT_EQ(Condition(), TWCC_SUCCESS);
    // A later success clears it too.
    EXPECT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, nullptr), TWRC_FAILURE);
    TW_IDENTITY id{};
    EXPECT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_GET, &id), TWRC_SUCCESS);
    EXPECT_EQ(Condition(), TWCC_SUCCESS);
}

TEST_F(DataSourceTest, NullRecordsAreRefusedExceptForTheIdentity) {
    EXPECT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_GET, nullptr), TWRC_SUCCESS);
    EXPECT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, nullptr), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_BADVALUE);
    Open();
    for (TW_UINT16 dat : {DAT_CAPABILITY, DAT_PENDINGXFERS, DAT_SETUPMEMXFER, DAT_XFERGROUP, DAT_DEVICEEVENT}) {
        EXPECT_EQ(Call(DG_CONTROL, dat, MSG_GET, nullptr), TWRC_FAILURE) << dat;
        EXPECT_EQ(Condition(), TWCC_BADVALUE) << dat;
    }
    EXPECT_EQ(Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, nullptr), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_BADVALUE);
}

TEST_F(DataSourceTest, ExceptionsEndAtTheEntryAndOpenReleasesTheLock) {
    for (const auto& [how, cc] : {std::pair{2, TWCC_LOWMEMORY}, std::pair{3, TWCC_BUMMER}}) {
        kd_test_ds_script.setupScannerFails = how;
        TW_IDENTITY id{};
        EXPECT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &id), TWRC_FAILURE);
        EXPECT_EQ(Condition(), cc);
    }
    kd_test_ds_script.setupScannerFails = 1;
    TW_IDENTITY id{};
    EXPECT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &id), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_NODS);
    kd_test_ds_script.setupScannerFails = 0;
    Open(); // the lock was given back each time
}

TEST_F(DataSourceTest, CloseFromEveryStateStartsTheNextOpenFresh) {
    for (const TW_INT32 state : {0, 1, 2, 4}) {
        SCOPED_TRACE(state);
        GoTo(state);
        // The side selector is no saved setting: a fresh object starts at 0.
        if (state >= 1) {
            ASSERT_EQ(SetCapSIntValue(Pool(), CCAP_TVKM_WINDOW, -1), 1);
        }
        EXPECT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr), TWRC_SUCCESS);
        Open();
        EXPECT_EQ(GetCapSIntValue(Pool(), CCAP_TVKM_WINDOW), 0);
        EXPECT_EQ(DS()->State(), 1);
        EXPECT_EQ(gWindow, nullptr); // no window survives a close
        Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr);
    }
}

// ---- Enable without the window ----------------------------------------------------------------

TEST_F(DataSourceTest, EnableWithoutTheWindowCallsBackInsideTheCallAtState4) {
    Open();
    TW_PENDINGXFERS insideCount{};
    gInsideCallback = [&] {
        // The host may call the data source from its callback.
        EXPECT_EQ(Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &insideCount), TWRC_SUCCESS);
    };
    EXPECT_EQ(Enable(false), TWRC_SUCCESS);
    ASSERT_EQ(gCallbacks.size(), 1u);
    EXPECT_EQ(gCallbacks[0].msg, MSG_XFERREADY);
    EXPECT_EQ(gCallbacks[0].state, 4);
    EXPECT_EQ(insideCount.Count, 0xFFFF); // all pages: -1
    TW_PENDINGXFERS xfers{};
    EXPECT_EQ(Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &xfers), TWRC_SUCCESS);
    EXPECT_EQ(xfers.Count, 0);
    EXPECT_EQ(DS()->State(), 2);
    EXPECT_EQ(Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, nullptr), TWRC_SUCCESS);
    EXPECT_EQ(DS()->State(), 1);
}

TEST_F(DataSourceTest, AFailedCallbackIsTheEnableAnswerAndCloseStillSaves) {
    Open();
    SetCapSIntValue(Pool(), CCAP_TVK_EDGEEMPHASIS, 2);
    gCallbackAnswer = TWRC_FAILURE;
    EXPECT_EQ(Enable(false), TWRC_FAILURE);
    EXPECT_NE(Condition(), TWCC_SUCCESS);
    // Nothing moved: still state 1, nothing registered, enable works again.
    EXPECT_EQ(DS()->State(), 1);
    kdf::NotificationCenter::defaultCenter().post(kXferReadyNotification);
    EXPECT_EQ(gCallbacks.size(), 1u);
    EXPECT_EQ(DS()->State(), 1);
    gCallbackAnswer = TWRC_SUCCESS;
    EXPECT_EQ(Enable(false), TWRC_SUCCESS);
    EXPECT_EQ(gCallbacks.size(), 2u);
    EXPECT_EQ(DS()->State(), 4);
    EXPECT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr), TWRC_SUCCESS);
    const auto prefs = kdf::readPreferencesFile(kKdPreferencesName);
    ASSERT_NE(kdf::find(prefs.values, kCapDataKey), nullptr);
    Open();
    EXPECT_EQ(GetCapSIntValue(Pool(), CCAP_TVK_EDGEEMPHASIS), 2);
}

TEST_F(DataSourceTest, TheHostMayCloseFromInsideTheCallback) {
    Open();
    gInsideCallback = [&] { EXPECT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr), TWRC_SUCCESS); };
    EXPECT_EQ(Enable(false), TWRC_SUCCESS);
    gInsideCallback = nullptr;
    EXPECT_EQ(DS()->State(), 0);
    Open();
}

TEST_F(DataSourceTest, AHostCarryingTheDataSourceInItsFrameworksGetsTheInProcessNotification) {
    const auto main = home_.root() / "Main";
    folder_ = dstest::AssembleBundle(main / "Frameworks", false).string();
    kd_test_ds_script.bundleFolder = folder_.c_str();
    kdf::Bundle::setMainBundlePath(main.string());
    std::vector<TW_UINT16> posted;
    auto token = kdf::NotificationCenter::defaultCenter().addObserver(kDsmNotification, [&](const kdf::Notification& n) {
        const kdf::Value* data = kdf::find(*n.userInfo(), "DATA");
        ASSERT_TRUE(data && data->pointer());
        posted.push_back(static_cast<TW_UINT16>(static_cast<const TW_CALLBACK*>(data->pointer()->address)->Message));
        EXPECT_EQ(kdf::find(*n.userInfo(), "MSG")->toInteger(), MSG_INVOKE_CALLBACK);
    });
    Open();
    EXPECT_EQ(Enable(false), TWRC_SUCCESS);
    kdf::Bundle::setMainBundlePath("");
    EXPECT_EQ(posted, std::vector<TW_UINT16>{MSG_XFERREADY});
    EXPECT_TRUE(gCallbacks.empty());
}

TEST_F(DataSourceTest, ApplicationTerminationDisablesAndCloses) {
    Open();
    ASSERT_EQ(Enable(false), TWRC_SUCCESS);
    kdf::NotificationCenter::defaultCenter().post(kdf::kApplicationWillTerminateNotification);
    EXPECT_EQ(DS()->State(), 0);
    EXPECT_NE(kdf::find(kdf::readPreferencesFile(kKdPreferencesName).values, kCapDataKey), nullptr);
    Open(); // the scanner lock was given back
}

TEST_F(DataSourceTest, HostsThatDisableColourDetectionWithoutTheWindow) {
    std::strcpy(host_.Manufacturer, "Microsoft");
    std::strcpy(host_.ProductName, "Microsoft Scan");
    Open();
    SetCapSIntValue(Pool(), CCAP_TVK_DETECTPAGETYPE, 1);
    EXPECT_EQ(Enable(false), TWRC_SUCCESS);
    EXPECT_EQ(GetCapSIntValue(Pool(), CCAP_TVK_DETECTPAGETYPE), 0);
}

TEST_F(DataSourceTest, PrescanModesRunThePrescanAndNeverCallTheHost) {
    Open();
    SetCapSIntValue(Pool(), CCAP_TVK_PRESCAN, 1);
    kd_test_ds_script.prescanPaperJams = 1;
    kd_test_ds_script.noPageAlertOk = 0; // Cancel
    EXPECT_EQ(Enable(false), TWRC_CANCEL);
    EXPECT_TRUE(gCallbacks.empty());
    EXPECT_EQ(DS()->State(), 2);
    EXPECT_EQ(gJournal, (std::vector<std::string>{"SetupScanner", "ShowRollerExchangeAlert", "Prescan",
                                                  "ShowNoPageAlert"}));
}

TEST_F(DataSourceTest, SkipBlankPagesEndingTheBatchAnswersCancelWithoutCallback) {
    Open();
    SetCapSIntValue(Pool(), CCAP_TVK_BLANKSKIP, 1);
    kd_test_ds_script.skipBlankEndsBatch = 1;
    EXPECT_EQ(Enable(false), TWRC_CANCEL);
    EXPECT_TRUE(gCallbacks.empty());
    EXPECT_EQ(DS()->State(), 2);
}

// ---- Enable with the window and the window's notifications ----------------------------------

TEST_F(DataSourceTest, EnableWithTheWindowAndItsNotifications) {
    Open();
    ASSERT_EQ(Enable(true), TWRC_SUCCESS);
    ASSERT_NE(gWindow, nullptr);
    EXPECT_EQ(DS()->State(), 2);
    EXPECT_EQ((std::vector<std::string>(gWindow->calls.begin(), gWindow->calls.begin() + 2)),
              (std::vector<std::string>{"setupMainUI YES", "showMainWindow"}));
    const kdf::Value* pool = kdf::find(gWindow->setupParam, kUIParamCapabilityObject);
    ASSERT_NE(pool, nullptr);
    EXPECT_EQ(pool->pointer()->address, Pool());
    const kdf::Value* papers = kdf::find(gWindow->setupParam, kUIParamSupportedPapers);
    ASSERT_TRUE(papers && papers->dictionary());
    EXPECT_EQ(kdf::find(*papers->dictionary(), "OriginalPapers")->array()->size(), 10u);

    struct Case {
        const char* name;
        std::function<void()> post;
        TW_UINT16 msg;
        bool saves;
        TW_INT32 state;
    };
    const Case cases[] = {
        {"xfer ready mode 0", [] { gWindow->postXferReady(kScanModeScan, 0); }, MSG_XFERREADY, true, 4},
        {"xfer ready mode 3", [] { gWindow->postXferReady(kScanModeComplete, 3); }, MSG_XFERREADY, true, 4},
        {"close request YES", [] { gWindow->postCloseRequest(true); }, MSG_CLOSEDSREQ, true, 2},
        {"close request NO", [] { gWindow->postCloseRequest(false); }, MSG_CLOSEDSREQ, false, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kdf::removePreferencesFile(kKdPreferencesName);
        gCallbacks.clear();
        c.post();
        ASSERT_EQ(gCallbacks.size(), 1u);
        EXPECT_EQ(gCallbacks[0].msg, c.msg);
        EXPECT_EQ(DS()->State(), c.state);
        const auto prefs = kdf::readPreferencesFile(kKdPreferencesName);
        EXPECT_EQ(kdf::find(prefs.values, kCapDataKey) != nullptr, c.saves);
        if (c.state == 4) {
            TW_PENDINGXFERS xfers{};
            ASSERT_EQ(Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &xfers), TWRC_SUCCESS);
        }
    }
    EXPECT_EQ(DS()->PendingImageCount(), 3);
    // Disable saves while the window is visible, and releases it.
    kdf::removePreferencesFile(kKdPreferencesName);
    EXPECT_EQ(Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, nullptr), TWRC_SUCCESS);
    EXPECT_EQ(gWindow, nullptr);
    EXPECT_NE(kdf::find(kdf::readPreferencesFile(kKdPreferencesName).values, kCapDataKey), nullptr);
}

TEST_F(DataSourceTest, SettingsOnlyWindowConfirmsWithCloseDSOkay) {
    Open();
    ASSERT_EQ(Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDSUIONLY, nullptr), TWRC_SUCCESS);
    ASSERT_NE(gWindow, nullptr);
    EXPECT_EQ(gWindow->calls.front(), "setupMainUI NO");
    gWindow->postCloseDSOkay();
    ASSERT_EQ(gCallbacks.size(), 1u);
    EXPECT_EQ(gCallbacks[0].msg, MSG_CLOSEDSOK);
    EXPECT_NE(kdf::find(kdf::readPreferencesFile(kKdPreferencesName).values, kCapDataKey), nullptr);
    // Without the show-UI flag a close request never saves.
    kdf::removePreferencesFile(kKdPreferencesName);
    gWindow->postCloseRequest(true);
    EXPECT_EQ(kdf::find(kdf::readPreferencesFile(kKdPreferencesName).values, kCapDataKey), nullptr);
}

TEST_F(DataSourceTest, AWindowSetUpFailureIsReportedAfterTheWindowIsShown) {
    Open();
    kdf::unregisterClass(kUIControllerClassName);
    kdf::registerClass(kUIControllerClassName, [] {
        auto c = std::make_unique<TrackedUIController>();
        c->setupThrows = true;
        return std::unique_ptr<kdf::Object>(std::move(c));
    });
    EXPECT_EQ(Enable(true), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_LOWMEMORY);
    ASSERT_NE(gWindow, nullptr);
    EXPECT_TRUE(gWindow->mainWindowVisible);
    EXPECT_EQ(DS()->State(), 2);
}

TEST_F(DataSourceTest, AMissingWindowBundleIsAnOperationError) {
    std::filesystem::remove_all(std::filesystem::path(folder_) / "PlugIns");
    Open();
    EXPECT_EQ(Enable(true), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_OPERATIONERROR);
    EXPECT_EQ(Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDSUIONLY, nullptr), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_OPERATIONERROR);
    EXPECT_EQ(DS()->State(), 1);
}

// ---- Capabilities ------------------------------------------------------------------------------

TEST_F(DataSourceTest, CapabilityEdgeCases) {
    Open();
    // Refused values keep the previous one.
    EXPECT_EQ(Set(CAP_XFERCOUNT, TWTY_INT16, TW_INT16(0)), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_BADVALUE);
    EXPECT_EQ(Current<TW_INT16>(CAP_XFERCOUNT), -1);
    EXPECT_EQ(Set(CAP_XFERCOUNT, TWTY_INT16, TW_INT16(-2)), TWRC_FAILURE);
    EXPECT_EQ(Set(CAP_XFERCOUNT, TWTY_INT16, TW_INT16(5)), TWRC_SUCCESS);
    EXPECT_EQ(GetCapUIntValue(Pool(), CAP_AUTOFEED), 0u); // a count switches automatic feeding off
    EXPECT_EQ(Set(CAP_AUTOFEED, TWTY_BOOL, TW_BOOL(1)), TWRC_SUCCESS);
    EXPECT_EQ(Current<TW_INT16>(CAP_XFERCOUNT), -1);
    EXPECT_EQ(GetCapUIntValue(Pool(), CAP_AUTOSCAN), 1u);
    EXPECT_EQ(Set(CAP_XFERCOUNT, TWTY_INT16, TW_INT16(1)), TWRC_SUCCESS);
    EXPECT_EQ(Set(CAP_DUPLEXENABLED, TWTY_BOOL, TW_BOOL(1)), TWRC_SUCCESS);
    EXPECT_EQ(Current<TW_INT16>(CAP_XFERCOUNT), -1);
    EXPECT_EQ(Set(CAP_FEEDERENABLED, TWTY_BOOL, TW_BOOL(0)), TWRC_SUCCESS);
    EXPECT_EQ(GetCapUIntValue(Pool(), CAP_AUTOFEED), 0u);

    // Unknown ids and wrong kinds.
    TW_CAPABILITY unknown{0x7777, 0, nullptr};
    EXPECT_EQ(Call(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &unknown), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_CAPUNSUPPORTED);
    EXPECT_EQ(Set(CAP_XFERCOUNT, TWTY_UINT32, TW_UINT32(3)), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_BADVALUE);

    // Resolution: the twin follows, the moire value and automatic resolution too.
    SetCapSIntValue(Pool(), CCAP_TVK_AUTORESOLUTION, 1);
    EXPECT_EQ(Set(ICAP_XRESOLUTION, TWTY_FIX32, FloatToFix32(400)), TWRC_SUCCESS);
    EXPECT_FLOAT_EQ(CurrentFix(ICAP_YRESOLUTION), 400);
    EXPECT_EQ(GetCapSIntValue(Pool(), CCAP_TVK_REDUCE_MOIRE), 1);
    EXPECT_EQ(GetCapSIntValue(Pool(), CCAP_TVK_AUTORESOLUTION), 0);
    SetCapSIntValue(Pool(), CCAP_TVK_REDUCE_MOIRE, 2);
    EXPECT_EQ(Set(ICAP_YRESOLUTION, TWTY_FIX32, FloatToFix32(300)), TWRC_SUCCESS);
    EXPECT_EQ(GetCapSIntValue(Pool(), CCAP_TVK_REDUCE_MOIRE), 3);

    // Pixel type and bit depth.
    EXPECT_EQ(Set(ICAP_PIXELTYPE, TWTY_UINT16, TW_UINT16(TWPT_GRAY)), TWRC_SUCCESS);
    EXPECT_EQ(Current<TW_UINT16>(ICAP_BITDEPTH), 8);
    EXPECT_EQ(Set(ICAP_BITDEPTH, TWTY_UINT16, TW_UINT16(1)), TWRC_SUCCESS);
    EXPECT_EQ(Current<TW_UINT16>(ICAP_PIXELTYPE), TWPT_BW);

    // Threshold 128 in black-and-white sets the brightness to 4, both sides;
    // the threshold reads back from the brightness.
    EXPECT_EQ(Set(ICAP_THRESHOLD, TWTY_FIX32, FloatToFix32(128)), TWRC_SUCCESS);
    EXPECT_FLOAT_EQ(CurrentFix(ICAP_BRIGHTNESS), 4);
    EXPECT_FLOAT_EQ(GetCapFloatValue(Pool(), kBackBrightness), 4);
    // Read back from the brightness: trunc((4 + 1000) / (1000 / 127) + 1.5).
    EXPECT_FLOAT_EQ(CurrentFix(ICAP_THRESHOLD), 129);
    // In gray the threshold is accepted and ignored.
    EXPECT_EQ(Set(ICAP_PIXELTYPE, TWTY_UINT16, TW_UINT16(TWPT_GRAY)), TWRC_SUCCESS);
    EXPECT_EQ(Set(ICAP_THRESHOLD, TWTY_FIX32, FloatToFix32(200)), TWRC_SUCCESS);
    EXPECT_FLOAT_EQ(CurrentFix(ICAP_BRIGHTNESS), 4);

    // Deskew mirrors the custom capability.
    SetCapSIntValue(Pool(), CCAP_TVK_DESKEW, 1);
    EXPECT_EQ(Current<TW_BOOL>(ICAP_AUTOMATICDESKEW), 1);
    EXPECT_EQ(Set(ICAP_AUTOMATICDESKEW, TWTY_BOOL, TW_BOOL(0)), TWRC_SUCCESS);
    EXPECT_EQ(GetCapSIntValue(Pool(), CCAP_TVK_DESKEW), 0);

    // Tone settings: with the side selector at 0 the back twin follows; at -1
    // the host's ids address the twins, and an id without a twin stays.
    SetCapSIntValue(Pool(), CCAP_TVKM_WINDOW, 0);
    EXPECT_EQ(Set(ICAP_CONTRAST, TWTY_FIX32, FloatToFix32(100)), TWRC_SUCCESS);
    EXPECT_NEAR(GetCapFloatValue(Pool(), kBackContrast), 100, 0.01);
    EXPECT_EQ(Set(CCAP_TVKM_WINDOW, TWTY_INT32, TW_INT32(-1)), TWRC_SUCCESS);
    SetCapFloatValue(Pool(), kBackBrightness, -500);
    EXPECT_FLOAT_EQ(CurrentFix(ICAP_BRIGHTNESS), -500);
    EXPECT_EQ(Set(ICAP_BRIGHTNESS, TWTY_FIX32, FloatToFix32(250)), TWRC_SUCCESS);
    EXPECT_FLOAT_EQ(GetCapFloatValue(Pool(), kBackBrightness), 250);
    EXPECT_FLOAT_EQ(GetCapFloatValue(Pool(), ICAP_BRIGHTNESS), 4);
    EXPECT_EQ(Current<TW_INT16>(CAP_XFERCOUNT), -1);

    // MSG_RESET answers the default, which becomes current.
    TW_CAPABILITY reset{CCAP_TVKM_WINDOW, 0, nullptr};
    EXPECT_EQ(Call(DG_CONTROL, DAT_CAPABILITY, MSG_RESET, &reset), TWRC_SUCCESS);
    EXPECT_EQ(OneValueItem<TW_INT32>(reset.hContainer), 0);
    std::free(reset.hContainer);

    // Supported capabilities list this scanner's standard ids.
    TW_CAPABILITY supported{CAP_SUPPORTEDCAPS, 0, nullptr};
    ASSERT_EQ(Call(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &supported), TWRC_SUCCESS);
    EXPECT_EQ(supported.ConType, TWON_ARRAY);
    const auto* array = static_cast<const TW_ARRAY*>(supported.hContainer);
    const TW_UINT32 count = array->NumItems;
    std::vector<TW_UINT16> ids(count);
    std::memcpy(ids.data(), reinterpret_cast<const unsigned char*>(array) + offsetof(TW_ARRAY, ItemList),
                count * sizeof(TW_UINT16));
    std::free(supported.hContainer);
    for (TW_UINT16 id : {CAP_DUPLEXENABLED, ICAP_THRESHOLD, ICAP_SUPPORTEDSIZES, ICAP_BRIGHTNESS})
        EXPECT_NE(std::find(ids.begin(), ids.end(), id), ids.end()) << std::hex << id;
    EXPECT_EQ(std::count_if(ids.begin(), ids.end(), [](TW_UINT16 id) { return id >= CAP_CUSTOMBASE; }), 0);
}

TEST_F(DataSourceTest, SupportedSizesAndDocumentSizeBothWays) {
    const TW_UINT16 expected[10] = {1, 5, 1, 13, 1, 2, 39, 1, 4, 3};
    for (TW_INT32 size = 0; size < 10; ++size) EXPECT_EQ(SupportedSizeOfDocumentSize(size), expected[size]);
    EXPECT_EQ(SupportedSizeOfDocumentSize(-1), 1);
    const std::pair<TW_UINT16, TW_INT32> back[] = {{2, 5}, {3, 9}, {4, 8}, {5, 1}, {13, 3}, {39, 6}, {1, 0}};
    for (const auto& [supported, size] : back) EXPECT_EQ(DocumentSizeOfSupportedSize(supported), size);

    Open();
    EXPECT_EQ(Set(ICAP_SUPPORTEDSIZES, TWTY_UINT16, TW_UINT16(3)), TWRC_SUCCESS); // US Letter
    EXPECT_EQ(GetCapSIntValue(Pool(), CCAP_TVKM_PAPERSIZE), 9);
    EXPECT_EQ(Current<TW_UINT16>(ICAP_SUPPORTEDSIZES), 3);
    // The frame became the whole paper (US Letter: 10200 x 13200).
    EXPECT_EQ(GetCapSIntValue(Pool(), CCAP_TVKM_SCANAREA_WIDTH), 10200);
    EXPECT_EQ(GetCapSIntValue(Pool(), CCAP_TVKM_SCANAREA_HEIGHT), 13200);
    SetCapSIntValue(Pool(), CCAP_TVKM_PAPERSIZE, 6);
    EXPECT_EQ(Current<TW_UINT16>(ICAP_SUPPORTEDSIZES), 39);
}

TEST_F(DataSourceTest, MetricUsersStartWithA4) {
    for (const auto& [locale, size] : {std::pair{"de_DE.UTF-8", 0}, std::pair{"en_US.UTF-8", 9}}) {
        SCOPED_TRACE(locale);
        home_.env().set("LC_ALL", std::string(locale));
        Open();
        EXPECT_EQ(GetCapSIntValue(Pool(), CCAP_TVKM_PAPERSIZE), size);
        TW_CAPABILITY c{CCAP_TVKM_PAPERSIZE, 0, nullptr};
        ASSERT_EQ(Call(DG_CONTROL, DAT_CAPABILITY, MSG_GETDEFAULT, &c), TWRC_SUCCESS);
        EXPECT_EQ(OneValueItem<TW_INT32>(c.hContainer), size);
        std::free(c.hContainer);
        Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr);
    }
}

TEST_F(DataSourceTest, FramesAndPhysicalSizeInEveryUnit) {
    Open();
    // A frame of 1 x 2 inches at (0.5, 0.25) inch, at 200 dpi.
    EXPECT_EQ(Set(ICAP_XRESOLUTION, TWTY_FIX32, FloatToFix32(200)), TWRC_SUCCESS);
    SetCapSIntValue(Pool(), CCAP_TVKM_SCANAREA_X, 600);
    SetCapSIntValue(Pool(), CCAP_TVKM_SCANAREA_Y, 300);
    SetCapSIntValue(Pool(), CCAP_TVKM_SCANAREA_WIDTH, 1200);
    SetCapSIntValue(Pool(), CCAP_TVKM_SCANAREA_HEIGHT, 2400);
    struct Case {
        TW_UINT16 unit;
        double left, top, right, bottom, width; // width: ICAP_PHYSICALWIDTH (10208 / 1200 inch)
    };
    const Case cases[] = {
        {TWUN_PIXELS, 100, 50, 300, 450, 1701},
        {TWUN_INCHES, 0.5, 0.25, 1.5, 2.25, 1701 / 200.0},
        {TWUN_CENTIMETERS, 1.27, 0.635, 3.81, 5.715, 1701 / 200.0 * 2.54},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.unit);
        ASSERT_EQ(Set(ICAP_UNITS, TWTY_UINT16, c.unit), TWRC_SUCCESS);
        TW_UINT16 type = 0;
        const TW_FRAME frame = Current<TW_FRAME>(ICAP_FRAMES, &type);
        EXPECT_EQ(type, TWTY_FRAME);
        EXPECT_NEAR(dstest::Fix32(frame.Left), c.left, 0.002);
        EXPECT_NEAR(dstest::Fix32(frame.Top), c.top, 0.002);
        EXPECT_NEAR(dstest::Fix32(frame.Right), c.right, 0.002);
        EXPECT_NEAR(dstest::Fix32(frame.Bottom), c.bottom, 0.002);
        EXPECT_NEAR(CurrentFix(ICAP_PHYSICALWIDTH), c.width, 0.01);
        // Setting the same frame back keeps it.
        ASSERT_EQ(Set(ICAP_FRAMES, TWTY_FRAME, frame), TWRC_SUCCESS);
        EXPECT_NEAR(GetCapSIntValue(Pool(), CCAP_TVKM_SCANAREA_WIDTH), 1200, 12);
        EXPECT_NEAR(GetCapSIntValue(Pool(), CCAP_TVKM_SCANAREA_HEIGHT), 2400, 12);
    }
    // Setting a frame makes the scan area custom and switches the automatic
    // features off.
    EXPECT_EQ(GetCapSIntValue(Pool(), CCAP_TVKM_CUSTOM_SCANAREA), 1);
    // An empty or inverted frame is refused and nothing is stored.
    TW_FRAME inverted{};
    inverted.Left.Whole = 3;
    inverted.Right.Whole = 2;
    inverted.Bottom.Whole = 5;
    EXPECT_EQ(Set(ICAP_FRAMES, TWTY_FRAME, inverted), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_BADVALUE);
    TW_IMAGELAYOUT layout{};
    layout.Frame = inverted;
    EXPECT_EQ(Call(DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, &layout), TWRC_FAILURE);
    EXPECT_NEAR(GetCapSIntValue(Pool(), CCAP_TVKM_SCANAREA_WIDTH), 1200, 12);
}

TEST_F(DataSourceTest, SetInState2FailsAndGetStillWorks) {
    Open();
    ASSERT_EQ(Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDSUIONLY, nullptr), TWRC_SUCCESS);
    EXPECT_EQ(Set(CAP_XFERCOUNT, TWTY_INT16, TW_INT16(3)), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_SEQERROR);
    EXPECT_EQ(Current<TW_INT16>(CAP_XFERCOUNT), -1);
}

// ---- Favourites and the snapshot ----------------------------------------------------------------

TEST_F(DataSourceTest, CheckCapabilitiesClearsAFavouriteThatNoLongerMatches) {
    // The favourite "Mine" is the settings of a fresh data source.
    Open();
    TW_INT32 version = 0;
    const auto record = Pool()->Flatten(&version);
    ASSERT_TRUE(record);
    Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr);
    kdf::Dictionary favourite{{kFavoriteNameKey, "Mine"}, {kFavoriteDataKey, *record},
                              {kFavoriteDataVersionKey, 1}};
    // Names are written as a count byte and UTF-16 units.
    char name[sizeof(TW_STR64)] = {4, 'M', 0, 'i', 0, 'n', 0, 'e', 0};
    struct Case {
        const char* what;
        bool change;
        bool fullAuto;
        bool showUI;
        bool cleared;
        bool namedRecord = true; // the favourite's record carries its name
    };
    const Case cases[] = {
        {"equal to the favourite", false, false, true, false},
        {"equal, the record flattened before the name was set", false, false, true, false, false},
        {"different from the favourite", true, false, true, true},
        {"different, the record flattened before the name was set", true, false, true, true, false},
        {"a favourite name without the window is kept", true, false, false, false},
        {"255: different from the snapshot", true, true, false, true},
        {"255: equal to the snapshot", false, true, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(kdf::writePreferencesFile(kKdPreferencesName,
                                              kdf::Dictionary{{kFavoriteSettingsKey, kdf::Array{favourite}}}));
        Open();
        char value[sizeof(TW_STR64)] = {};
        if (c.fullAuto)
            value[0] = static_cast<char>(255);
        else
            std::memcpy(value, name, sizeof value);
        if (!c.fullAuto && !c.namedRecord) {
            TW_INT32 v = 0;
            favourite[kFavoriteDataKey] = *Pool()->Flatten(&v);
            ASSERT_TRUE(kdf::writePreferencesFile(kKdPreferencesName,
                                                  kdf::Dictionary{{kFavoriteSettingsKey, kdf::Array{favourite}}}));
        }
        SetCapStrValue(Pool(), CCAP_TVKM_FAVORITENAME, value);
        if (!c.fullAuto && c.namedRecord) {
            // The favourite's own record carries the name as well.
            TW_INT32 v = 0;
            favourite[kFavoriteDataKey] = *Pool()->Flatten(&v);
            ASSERT_TRUE(kdf::writePreferencesFile(kKdPreferencesName,
                                                  kdf::Dictionary{{kFavoriteSettingsKey, kdf::Array{favourite}}}));
        } else {
            // The snapshot is taken at open: reopen with the name saved.
            ASSERT_TRUE(SaveCustomCapabilities(Pool()));
            Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr);
            Open();
        }
        if (c.change) SetCapSIntValue(Pool(), CCAP_TVK_EDGEEMPHASIS, 7);
        DS()->CheckCapabilities(c.showUI);
        char after[sizeof(TW_STR64)] = {};
        GetCapStrValue(Pool(), CCAP_TVKM_FAVORITENAME, after);
        EXPECT_EQ(after[0] == 0, c.cleared);
        Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr);
        kdf::removePreferencesFile(kKdPreferencesName);
    }
}

// ---- Capability support and papers ------------------------------------------------------------

// MSG_QUERYSUPPORT answers every capability of the tables: the reads and
// the reset always, MSG_SET unless the capability is read-only; an id
// outside the tables is unsupported.
TEST_F(DataSourceTest, QuerySupportOfEveryCapability) {
    Open();
    constexpr TW_INT32 kReads = TWQC_GET | TWQC_GETDEFAULT | TWQC_GETCURRENT | TWQC_RESET;
    const std::pair<const SMakeCapDesc*, std::size_t> tables[] = {{sGeneralCapDesc, kGeneralCapCount},
                                                                    {sKdDSCapDesc, kKdDSCapCount}};
    for (const auto& [table, count] : tables) {
        for (std::size_t i = 0; i < count; ++i) {
            const SMakeCapDesc& row = table[i];
            SCOPED_TRACE(row.cap);
            // The scanner's table replaces a general row of the same id.
            bool readOnly = row.readOnly != 0;
            for (std::size_t k = 0; table == sGeneralCapDesc && k < kKdDSCapCount; ++k)
                if (sKdDSCapDesc[k].cap == row.cap) readOnly = sKdDSCapDesc[k].readOnly != 0;
            TW_UINT16 itemType = 0;
            const TW_INT32 mask = Current<TW_INT32>(row.cap, &itemType, MSG_QUERYSUPPORT);
            EXPECT_EQ(itemType, TWTY_INT32);
            EXPECT_EQ(mask, readOnly ? kReads : kReads | TWQC_SET);
        }
    }
    TW_CAPABILITY unknown{0x1FFF, 0, nullptr};
    EXPECT_EQ(Call(DG_CONTROL, DAT_CAPABILITY, MSG_QUERYSUPPORT, &unknown), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_CAPUNSUPPORTED);
}

// CAP_DEVICEEVENT: the host's selection of standard events, refused whole
// when it names one the scanner cannot raise; only selected events are
// queued, announced and handed out once each, in order, after which the
// current custom code answers again.
struct EventListCase {
    const char* name;
    TW_UINT16 conType;
    TW_UINT16 itemType;
    std::vector<TW_UINT16> asked;
    TW_UINT16 rc;
    std::vector<TW_UINT16> selection; // afterwards
};

TEST_F(DataSourceTest, DeviceEventCapabilitySelectsWhatTheHostIsTold) {
    Open();
    auto list = [this](TW_UINT16 msg, TW_UINT16* rc = nullptr) {
        TW_CAPABILITY c{CAP_DEVICEEVENT, 0, nullptr};
        const TW_UINT16 answer = Call(DG_CONTROL, DAT_CAPABILITY, msg, &c);
        if (rc) *rc = answer;
        EXPECT_EQ(answer, TWRC_SUCCESS) << msg;
        if (!c.hContainer) return std::vector<TW_UINT16>{99};
        EXPECT_EQ(c.ConType, TWON_ARRAY);
        TW_UINT16 itemType = 0;
        std::vector<TW_UINT16> items = dstest::UInt16ArrayItems(c.hContainer, &itemType);
        EXPECT_EQ(itemType, TWTY_UINT16);
        std::free(c.hContainer);
        return items;
    };
    auto set = [this](TW_UINT16 conType, TW_UINT16 itemType, const std::vector<TW_UINT16>& items) {
        TW_CAPABILITY c{CAP_DEVICEEVENT, conType,
                        conType == TWON_ARRAY ? dstest::UInt16Array(Alloc, items, itemType)
                                              : OneValue(Alloc, itemType, items.at(0))};
        const TW_UINT16 rc = Call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &c);
        std::free(c.hContainer);
        return rc;
    };
    using V = std::vector<TW_UINT16>;
    EXPECT_EQ(list(MSG_GET), V{});
    EXPECT_EQ(list(MSG_GETDEFAULT), V{});
    EXPECT_EQ(Current<TW_INT32>(CAP_DEVICEEVENT, nullptr, MSG_QUERYSUPPORT),
              TWQC_GET | TWQC_SET | TWQC_GETDEFAULT | TWQC_GETCURRENT | TWQC_RESET);

    const EventListCase cases[] = {
        {"jam and double feed", TWON_ARRAY, TWTY_UINT16, {TWDE_PAPERJAM, TWDE_PAPERDOUBLEFEED}, TWRC_SUCCESS,
         {TWDE_PAPERJAM, TWDE_PAPERDOUBLEFEED}},
        {"repeats once", TWON_ARRAY, TWTY_UINT16, {TWDE_PAPERJAM, TWDE_PAPERJAM, TWDE_DEVICEOFFLINE}, TWRC_SUCCESS,
         {TWDE_PAPERJAM, TWDE_DEVICEOFFLINE}},
        {"an event the scanner cannot raise", TWON_ARRAY, TWTY_UINT16, {TWDE_PAPERJAM, 6}, TWRC_FAILURE,
         {TWDE_PAPERJAM, TWDE_DEVICEOFFLINE}},
        {"a custom code", TWON_ARRAY, TWTY_UINT16, {0x8002}, TWRC_FAILURE, {TWDE_PAPERJAM, TWDE_DEVICEOFFLINE}},
        {"a one-value", TWON_ONEVALUE, TWTY_UINT16, {TWDE_PAPERJAM}, TWRC_FAILURE, {TWDE_PAPERJAM, TWDE_DEVICEOFFLINE}},
        {"items of another type", TWON_ARRAY, TWTY_UINT32, {TWDE_PAPERJAM, 0}, TWRC_FAILURE,
         {TWDE_PAPERJAM, TWDE_DEVICEOFFLINE}},
        {"none", TWON_ARRAY, TWTY_UINT16, {}, TWRC_SUCCESS, {}},
    };
    for (const EventListCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(set(c.conType, c.itemType, c.asked), c.rc);
        if (c.rc == TWRC_FAILURE) {
            EXPECT_EQ(Condition(), TWCC_BADVALUE);
        }
        EXPECT_EQ(list(MSG_GETCURRENT), c.selection);
        EXPECT_EQ(list(MSG_GET), c.selection);
    }

    // Listed among the supported capabilities.
    TW_CAPABILITY supported{CAP_SUPPORTEDCAPS, 0, nullptr};
    ASSERT_EQ(Call(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &supported), TWRC_SUCCESS);
    const V ids = dstest::UInt16ArrayItems(supported.hContainer);
    std::free(supported.hContainer);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), CAP_DEVICEEVENT), 1);

    auto fetch = [this](std::string* device = nullptr) {
        TW_DEVICEEVENT event{};
        EXPECT_EQ(Call(DG_CONTROL, DAT_DEVICEEVENT, MSG_GET, &event), TWRC_SUCCESS);
        if (device) *device = event.DeviceName;
        return TW_UINT32(event.Event);
    };
    // Nothing selected: nothing queued, nothing announced.
    gCallbacks.clear();
    EXPECT_FALSE(DS()->QueueDeviceEvent(TWDE_PAPERJAM));
    EXPECT_TRUE(gCallbacks.empty());
    EXPECT_EQ(fetch(), TWDE_TVK_NONE);

    // Selected in state 4; announced through the host's callback once enabled.
    ASSERT_EQ(set(TWON_ARRAY, TWTY_UINT16, {TWDE_PAPERJAM, TWDE_DEVICEOFFLINE}), TWRC_SUCCESS);
    ASSERT_EQ(Enable(false), TWRC_SUCCESS);
    gCallbacks.clear();
    EXPECT_FALSE(DS()->QueueDeviceEvent(TWDE_PAPERDOUBLEFEED));
    EXPECT_TRUE(DS()->QueueDeviceEvent(TWDE_PAPERJAM));
    EXPECT_TRUE(DS()->QueueDeviceEvent(TWDE_DEVICEOFFLINE));
    ASSERT_EQ(gCallbacks.size(), 2u);
    EXPECT_EQ(gCallbacks[0].msg, MSG_DEVICEEVENT);
    EXPECT_EQ(gCallbacks[1].msg, MSG_DEVICEEVENT);
    std::string device;
    EXPECT_EQ(fetch(&device), TWDE_PAPERJAM);
    EXPECT_EQ(device, "Tavro KD-720 TWAIN");
    EXPECT_EQ(fetch(), TWDE_DEVICEOFFLINE);
    // The queue is empty: the current custom code, as often as asked.
    EXPECT_EQ(fetch(), TWDE_TVK_NONE);
    EXPECT_EQ(fetch(), TWDE_TVK_NONE);

    // Set and reset belong to state 4; the selection is read in any open state.
    EXPECT_EQ(set(TWON_ARRAY, TWTY_UINT16, {TWDE_PAPERJAM}), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_SEQERROR);
    TW_CAPABILITY reset{CAP_DEVICEEVENT, 0, nullptr};
    EXPECT_EQ(Call(DG_CONTROL, DAT_CAPABILITY, MSG_RESET, &reset), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_SEQERROR);
    EXPECT_EQ(list(MSG_GET), (V{TWDE_PAPERJAM, TWDE_DEVICEOFFLINE}));
    // The selection belongs to one open.
    ASSERT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr), TWRC_SUCCESS);
    Open();
    EXPECT_EQ(list(MSG_GET), V{});

    // A new selection drops the queued events it leaves out; a reset drops all.
    ASSERT_EQ(set(TWON_ARRAY, TWTY_UINT16, {TWDE_PAPERJAM, TWDE_DEVICEOFFLINE}), TWRC_SUCCESS);
    DS()->QueueDeviceEvent(TWDE_PAPERJAM);
    DS()->QueueDeviceEvent(TWDE_DEVICEOFFLINE);
    ASSERT_EQ(set(TWON_ARRAY, TWTY_UINT16, {TWDE_DEVICEOFFLINE}), TWRC_SUCCESS);
    EXPECT_EQ(fetch(), TWDE_DEVICEOFFLINE);
    EXPECT_EQ(fetch(), TWDE_TVK_NONE);
    DS()->QueueDeviceEvent(TWDE_DEVICEOFFLINE);
    EXPECT_EQ(list(MSG_RESET), V{});
    EXPECT_EQ(fetch(), TWDE_TVK_NONE);
    EXPECT_EQ(list(MSG_GET), V{});

    // Events nobody fetches are bounded; the newest stay.
    ASSERT_EQ(set(TWON_ARRAY, TWTY_UINT16, {TWDE_PAPERJAM, TWDE_DEVICEOFFLINE}), TWRC_SUCCESS);
    for (int i = 0; i < 1000; ++i) DS()->QueueDeviceEvent(TWDE_PAPERJAM);
    DS()->QueueDeviceEvent(TWDE_DEVICEOFFLINE);
    EXPECT_LE(DS()->QueuedDeviceEvents(), 64u);
    TW_UINT32 last = 0;
    for (TW_UINT32 e = fetch(); e != TWDE_TVK_NONE; e = fetch()) last = e;
    EXPECT_EQ(last, TWDE_DEVICEOFFLINE);
}

// The paper resource follows the data source's paper codes: 0 A4, 1 A5,
// 2 A5R, 3 A6, 4 A6R, 5 B5, 6 B6, 7 B6R, 8 Legal, 9 Letter, in 1/1200 inch
// (the R sizes lie on their long side).
TEST(KdPaperSize, CodesAndSizes) {
    struct Paper {
        const char* name;
        double width, height; // millimetres
    };
    const Paper papers[] = {
        {"A4", 210, 297},  {"A5", 148, 210}, {"A5R", 210, 148}, {"A6", 105, 148},   {"A6R", 148, 105},
        {"B5", 182, 257},  {"B6", 128, 182}, {"B6R", 182, 128}, {"Legal", 215.9, 355.6}, {"Letter", 215.9, 279.4},
    };
    const auto list = kdf::readPropertyListFile(std::string(KD_DS_RESOURCES) + "/KdPaperSize.plist");
    ASSERT_TRUE(list && list->array());
    ASSERT_EQ(list->array()->size(), std::size(papers));
    for (std::size_t i = 0; i < std::size(papers); ++i) {
        SCOPED_TRACE(papers[i].name);
        const kdf::Dictionary* entry = (*list->array())[i].dictionary();
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(kdf::find(*entry, "ID")->toInteger(), std::int64_t(i));
        EXPECT_EQ(*kdf::find(*entry, "Name")->string(), papers[i].name);
        EXPECT_NEAR(*kdf::find(*entry, "Width")->toReal(), papers[i].width / 25.4 * 1200, 0.6);
        EXPECT_NEAR(*kdf::find(*entry, "Height")->toReal(), papers[i].height / 25.4 * 1200, 0.6);
    }
}

// A custom paper (document size -2) is the user's paper named by 0x8401
// when it fits the scanner; otherwise the default document size's paper,
// and at the start of a scan the document size and frame go back to it.
TEST_F(DataSourceTest, CustomPaperByName) {
    const kdf::Array custom{
        kdf::Dictionary{{"Name", "Receipt"}, {"Width", 3000}, {"Height", 9000}},
        kdf::Dictionary{{"Name", "Wide"}, {"Width", 40000}, {"Height", 9000}},
        kdf::Dictionary{{"Name", "Banner"}, {"Width", 3000}, {"Height", 900000}},
    };
    struct Case {
        const char* name;
        bool detection;
        bool custom;   // the user's paper is taken
        bool physical; // the scanner's whole area
        float width, height;
    };
    const Case cases[] = {
        {"Receipt", false, true, false, 3000, 9000},
        {"Wide", false, false, false, 0, 0},
        {"Banner", false, false, false, 0, 0},
        {"Unknown", false, false, false, 0, 0},
        {"", false, false, false, 0, 0},
        {"Receipt", true, false, true, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + (c.detection ? " with detection" : ""));
        ASSERT_TRUE(kdf::writePreferencesFile(kKdPreferencesName, kdf::Dictionary{{"CustomPapers", custom}}));
        Open();
        char name[sizeof(TW_STR64)] = {};
        name[0] = static_cast<char>(std::strlen(c.name));
        for (std::size_t i = 0; c.name[i]; ++i) name[1 + 2 * i] = c.name[i];
        SetCapStrValue(Pool(), CCAP_TVKM_CUSTOMPAGESIZENAME, name);
        SetCapSIntValue(Pool(), CCAP_TVKM_PAPERSIZE, kCustomPaperSize);
        SetCapSIntValue(Pool(), CCAP_TVK_DETECTPAGESIZE, c.detection);
        TW_INT32 fallback = 0;
        ASSERT_TRUE(Pool()->GetCapability(CCAP_TVKM_PAPERSIZE)->ReadValue(&fallback, kCapDefault));
        float defaultWidth = 0, defaultHeight = 0;
        SetCapSIntValue(Pool(), CCAP_TVKM_PAPERSIZE, fallback);
        ASSERT_TRUE(DS()->GetCurrentPaperSize(&defaultWidth, &defaultHeight));
        SetCapSIntValue(Pool(), CCAP_TVKM_PAPERSIZE, kCustomPaperSize);
        float width = 0, height = 0;
        EXPECT_TRUE(DS()->GetCurrentPaperSize(&width, &height));
        if (c.custom) {
            EXPECT_EQ(width, c.width);
            EXPECT_EQ(height, c.height);
        } else if (c.physical) {
            EXPECT_EQ(width, GetCapFloatValue(Pool(), ICAP_PHYSICALWIDTH));
            EXPECT_EQ(height, GetCapFloatValue(Pool(), ICAP_PHYSICALHEIGHT));
        } else {
            EXPECT_EQ(width, defaultWidth);
            EXPECT_EQ(height, defaultHeight);
        }
        SetCapFloatValue(Pool(), CCAP_TVKM_SCANAREA_X, 100);
        DS()->ApplyCustomPaperFallback();
        const bool fellBack = !c.custom && !c.physical;
        EXPECT_EQ(GetCapSIntValue(Pool(), CCAP_TVKM_PAPERSIZE), fellBack ? fallback : kCustomPaperSize);
        if (fellBack) {
            EXPECT_EQ(GetCapFloatValue(Pool(), CCAP_TVKM_SCANAREA_X), 0);
            EXPECT_EQ(GetCapFloatValue(Pool(), CCAP_TVKM_SCANAREA_WIDTH), defaultWidth);
            EXPECT_EQ(GetCapFloatValue(Pool(), CCAP_TVKM_SCANAREA_HEIGHT), defaultHeight);
        } else {
            EXPECT_EQ(GetCapFloatValue(Pool(), CCAP_TVKM_SCANAREA_X), 100);
        }
        Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr);
        kdf::removePreferencesFile(kKdPreferencesName);
    }
}

TEST_F(DataSourceTest, PreferenceEntriesOfTheWrongTypeAreSkipped) {
    ASSERT_TRUE(kdf::writePreferencesFile(kKdPreferencesName,
                                          kdf::Dictionary{{"FavoriteSettings", "not a list"},
                                                          {"CustomPapers", 12},
                                                          {"UserGammaDatas", kdf::Array{"x", kdf::Dictionary{}}}}));
    Open();
    EXPECT_EQ(DS()->UserGammaDatas().size(), 1u);
    EXPECT_TRUE(kdf::find(DS()->SupportedPapers(), "CustomPapers")->array()->empty());
    char name[sizeof(TW_STR64)] = {1, 'x', 0};
    SetCapStrValue(Pool(), CCAP_TVKM_FAVORITENAME, name);
    DS()->CheckCapabilities(true); // no list: nothing happens
    char after[sizeof(TW_STR64)] = {};
    GetCapStrValue(Pool(), CCAP_TVKM_FAVORITENAME, after);
    EXPECT_EQ(after[0], 1);
}

// ---- Host recognition ------------------------------------------------------------------------------

TEST(HostRecognition, SignatureTable) {
    struct Case {
        const char* manufacturer;
        const char* product;
        int host;
    };
    const Case cases[] = {
        {"Apple Computer, Inc.", "TWAINBridge", 1}, // the first match wins
        {"Apple Computer, Inc.", "Image Capture", 2},
        {"Apple", "Image Capture TWAIN", 3},
        {"Adobe", "Adobe Acrobat 9", 7},
        {"Adobe Systems, Inc.", "Adobe Photoshop CS3", 5},
        {"\x05" "Adobe", "\x09" "Adobe Foo", 4}, // counted strings
        {"Adobe", "Adobe Foo", 8},               // terminated strings
        {"Microsoft", "Microsoft Paint", 6},
        {"NewSoftInc", "ScanModule", 9},
        {"Tavrolek", "Quillora", 10},
        {"Tav", "Anything", 10},
        {"Tavrolek Document Systems", "Quillora", 0},
        {"", "Adobe", 0},
        {"Someone", "Something", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.manufacturer) + " / " + c.product);
        TW_STR32 m = {}, p = {};
        std::strncpy(m, c.manufacturer, sizeof m - 1);
        std::strncpy(p, c.product, sizeof p - 1);
        EXPECT_EQ(CClientApp::Classify(m, p), c.host);
    }
}

TEST(HostRecognition, QuestionsAndFieldsWithoutATerminator) {
    TW_IDENTITY id{};
    std::memset(id.Manufacturer, 'A', sizeof id.Manufacturer); // no NUL anywhere
    std::memset(id.ProductName, 'B', sizeof id.ProductName);
    auto* app = new CClientApp(&id);
    EXPECT_EQ(CClientApp::Current(), app);
    EXPECT_EQ(CClientApp::FieldText(id.Manufacturer), std::string(34, 'A'));
    EXPECT_EQ(app->HostId(), 0);
    EXPECT_FALSE(app->RequireNextTransferRequest());
    EXPECT_FALSE(app->IsDisableDetectPageType());
    std::strcpy(id.Manufacturer, "Apple");
    std::strcpy(id.ProductName, "Image Capture TWAIN");
    auto* next = new CClientApp(&id); // replaces the first
    EXPECT_EQ(CClientApp::Current(), next);
    EXPECT_TRUE(next->RequireNextTransferRequest());
    EXPECT_TRUE(next->IsDisableDetectPageType());
    auto* none = new CClientApp(nullptr);
    EXPECT_EQ(none->HostId(), 0);
    CClientApp::DeleteCurrent();
    EXPECT_EQ(CClientApp::Current(), nullptr);
}

} // namespace
