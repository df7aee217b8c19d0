// A test host drives the test data source through our manager, the way
// any TWAIN host does: the .ds lies in a bundle folder named by
// KD_TWAIN_DS_PATH, with the window double in the window's place.
#include "DsTestKit.h"
#include "RecordingUIController.h"
#include "TempHome.h"
#include "TestKdDSScript.h"

#include "foundation/Object.h"
#include "foundation/RunLoop.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

extern "C" {
__attribute__((visibility("default"))) KdTestDsScript kd_test_ds_script{};
}

namespace {

RecordingUIController* gWindow = nullptr;
bool gWindowOwnsLoop = false;
class TrackedUIController : public RecordingUIController {
public:
    TrackedUIController() {
        gWindow = this;
        ownsLoop = gWindowOwnsLoop;
    }
    ~TrackedUIController() override {
        if (gWindow == this) gWindow = nullptr;
    }
};

struct Seen {
    TW_UINT16 msg;
    std::string from;
};
std::vector<Seen> gSeen;
std::function<void()> gInsideCallback;

TW_UINT16 HostCallback(pTW_IDENTITY origin, pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16 msg, TW_MEMREF) {
    gSeen.push_back({msg, origin->ProductName});
    if (gInsideCallback) gInsideCallback();
    return TWRC_SUCCESS;
}

TW_HANDLE Alloc(TW_UINT32 size) { return std::calloc(size, 1); }

TW_IDENTITY HostIdentity(const char* product) {
    TW_IDENTITY id{};
    id.Id = 1;
    id.Version = {1, 0, TWLG_USA, TWCY_USA, "1.0"};
    id.ProtocolMajor = 2;
    id.SupportedGroups = DG_CONTROL | DG_IMAGE | DF_APP2;
    std::strcpy(id.Manufacturer, "Test Maker");
    std::strcpy(id.ProductFamily, "Test");
    std::strcpy(id.ProductName, product);
    return id;
}

// One host: the manager opened, the data source found and opened.
class Host {
public:
    explicit Host(const char* product) : self_(HostIdentity(product)) {}
    ~Host() {
        if (sourceOpen_) Close();
        Manager(DAT_PARENT, MSG_CLOSEDSM, nullptr);
    }
    TW_UINT16 Manager(TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
        return DSM_Entry(&self_, nullptr, DG_CONTROL, dat, msg, data);
    }
    TW_UINT16 ToSource(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
        return DSM_Entry(&self_, &source_, dg, dat, msg, data);
    }
    bool OpenManager() { return Manager(DAT_PARENT, MSG_OPENDSM, nullptr) == TWRC_SUCCESS; }
    // Lists the sources and opens ours; the open's answer.
    TW_UINT16 Open() {
        TW_IDENTITY id{};
        for (TW_UINT16 rc = Manager(DAT_IDENTITY, MSG_GETFIRST, &id); rc == TWRC_SUCCESS;
             rc = Manager(DAT_IDENTITY, MSG_GETNEXT, &id)) {
            if (std::string(id.ProductName) == "Tavro KD-720 TWAIN") {
                source_ = id;
                const TW_UINT16 open = Manager(DAT_IDENTITY, MSG_OPENDS, &source_);
                sourceOpen_ = open == TWRC_SUCCESS;
                if (sourceOpen_) {
                    TW_CALLBACK2 callback{reinterpret_cast<TW_MEMREF>(&HostCallback), 0, 0};
                    ToSource(DG_CONTROL, DAT_CALLBACK2, MSG_REGISTER_CALLBACK, &callback);
                }
                return open;
            }
        }
        return 0xFFFF; // not listed
    }
    TW_UINT16 Close() {
        sourceOpen_ = false;
        return Manager(DAT_IDENTITY, MSG_CLOSEDS, &source_);
    }
    TW_UINT16 ManagerCondition() {
        TW_STATUS status{};
        Manager(DAT_STATUS, MSG_GET, &status);
        return status.ConditionCode;
    }
    TW_UINT16 SourceCondition() {
        TW_STATUS status{};
        EXPECT_EQ(ToSource(DG_CONTROL, DAT_STATUS, MSG_GET, &status), TWRC_SUCCESS);
        return status.ConditionCode;
    }
    TW_UINT16 Enable(bool showUI) {
        TW_USERINTERFACE ui{};
        ui.ShowUI = showUI;
        return ToSource(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui);
    }
    const TW_IDENTITY& Source() const { return source_; }

private:
    TW_IDENTITY self_;
    TW_IDENTITY source_{};
    bool sourceOpen_ = false;
};

class DsHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        kd_test_ds_script = {};
        gSeen.clear();
        gInsideCallback = nullptr;
        dstest::AssembleBundle(home_.root() / "twain", true, KD_TEST_DS);
        home_.env().set("KD_TWAIN_DS_PATH", (home_.root() / "twain").string());
        kdf::registerClass(kUIControllerClassName, &kdf::makeObject<TrackedUIController>);
    }
    void TearDown() override {
        kdf::unregisterClass(kUIControllerClassName);
        gWindowOwnsLoop = false;
    }

    kdtest::TempHome home_;
};

TEST_F(DsHostTest, ListedWithItsIdentityAndOpenedThroughTheManager) {
    Host host("Host");
    ASSERT_TRUE(host.OpenManager());
    ASSERT_EQ(host.Open(), TWRC_SUCCESS);
    const TW_IDENTITY& source = host.Source();
    EXPECT_STREQ(source.Manufacturer, "Tavrolek Document Systems");
    EXPECT_STREQ(source.ProductFamily, "Tavro KD-720 Driver");
    // Packed fields are copied before they are compared.
    const TW_UINT16 major = source.ProtocolMajor, minor = source.ProtocolMinor;
    const TW_UINT32 groups = source.SupportedGroups, id = source.Id;
    EXPECT_EQ(major, 2);
    EXPECT_EQ(minor, 4);
    EXPECT_EQ(groups, DG_CONTROL | DG_IMAGE | DF_DS2);
    EXPECT_NE(id, 1u); // the manager's Id survived the open

    // A capability round trip in the manager's memory.
    TW_CAPABILITY cap{CAP_XFERCOUNT, TWON_ONEVALUE, dstest::OneValue(Alloc, TWTY_INT16, TW_INT16(4))};
    EXPECT_EQ(host.ToSource(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap), TWRC_SUCCESS);
    std::free(cap.hContainer);
    cap = {CAP_XFERCOUNT, 0, nullptr};
    EXPECT_EQ(host.ToSource(DG_CONTROL, DAT_CAPABILITY, MSG_GETCURRENT, &cap), TWRC_SUCCESS);
    EXPECT_EQ(dstest::OneValueItem<TW_INT16>(cap.hContainer), 4);
    std::free(cap.hContainer);

    // A second open of the same source is the manager's sequence error; an
    // unknown triplet is the source's, reported once.
    TW_UINT32 group = DG_IMAGE;
    EXPECT_EQ(host.ToSource(DG_CONTROL, DAT_XFERGROUP, MSG_SET, &group), TWRC_FAILURE);
    EXPECT_EQ(host.SourceCondition(), TWCC_BADPROTOCOL);
    EXPECT_EQ(host.SourceCondition(), TWCC_SUCCESS);
}

TEST_F(DsHostTest, EnableWithoutTheWindowCallsTheHostBeforeItReturns) {
    Host host("Host");
    ASSERT_TRUE(host.OpenManager());
    ASSERT_EQ(host.Open(), TWRC_SUCCESS);
    TW_PENDINGXFERS inside{};
    gInsideCallback = [&] { EXPECT_EQ(host.ToSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &inside), TWRC_SUCCESS); };
    EXPECT_EQ(host.Enable(false), TWRC_SUCCESS);
    gInsideCallback = nullptr;
    ASSERT_EQ(gSeen.size(), 1u);
    EXPECT_EQ(gSeen[0].msg, MSG_XFERREADY);
    EXPECT_EQ(gSeen[0].from, "Tavro KD-720 TWAIN");
    EXPECT_EQ(inside.Count, 0xFFFF);
    // State 4: settings are fixed, the transfers can be reset.
    TW_CAPABILITY cap{CAP_XFERCOUNT, TWON_ONEVALUE, dstest::OneValue(Alloc, TWTY_INT16, TW_INT16(2))};
    EXPECT_EQ(host.ToSource(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap), TWRC_FAILURE);
    EXPECT_EQ(host.SourceCondition(), TWCC_SEQERROR);
    std::free(cap.hContainer);
    TW_PENDINGXFERS xfers{};
    EXPECT_EQ(host.ToSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &xfers), TWRC_SUCCESS);
    TW_USERINTERFACE ui{};
    EXPECT_EQ(host.ToSource(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS);
    EXPECT_EQ(host.Close(), TWRC_SUCCESS);
    ASSERT_EQ(host.Open(), TWRC_SUCCESS); // a fresh object
}

TEST_F(DsHostTest, TheWindowsNotificationsReachTheHostsCallback) {
    Host host("Host");
    ASSERT_TRUE(host.OpenManager());
    ASSERT_EQ(host.Open(), TWRC_SUCCESS);
    ASSERT_EQ(host.Enable(true), TWRC_SUCCESS);
    ASSERT_NE(gWindow, nullptr);
    gWindow->postXferReady(kScanModeScan, 0);
    gWindow->postCloseRequest(false);
    ASSERT_EQ(gSeen.size(), 2u);
    EXPECT_EQ(gSeen[0].msg, MSG_XFERREADY);
    EXPECT_EQ(gSeen[1].msg, MSG_CLOSEDSREQ);
    TW_PENDINGXFERS xfers{};
    EXPECT_EQ(host.ToSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &xfers), TWRC_SUCCESS);
    // Close without disabling: the window goes with the data source.
    EXPECT_EQ(host.Close(), TWRC_SUCCESS);
    EXPECT_EQ(gWindow, nullptr);
}

TEST_F(DsHostTest, AFailedOpenIsExplainedByTheManager) {
    kd_test_ds_script.setupScannerFails = 1;
    Host host("Host");
    ASSERT_TRUE(host.OpenManager());
    EXPECT_EQ(host.Open(), TWRC_FAILURE);
    EXPECT_EQ(host.ManagerCondition(), TWCC_NODS);
    kd_test_ds_script.setupScannerFails = 0;
    EXPECT_EQ(host.Open(), TWRC_SUCCESS);
}

// A second process finds the scanner in use.
bool WaitReadable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, ms) == 1;
}

TEST_F(DsHostTest, ASecondHostProcessWaitsThenGetsMaxConnections) {
    int toChild[2], toParent[2];
    ASSERT_EQ(pipe(toChild), 0);
    ASSERT_EQ(pipe(toParent), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // The second host: nothing of the parent's manager or data source
        // was loaded before the fork.
        char go;
        if (read(toChild[0], &go, 1) != 1) _exit(2);
        struct Result {
            TW_UINT16 rc, cc, rcAfter;
            long long ms;
        } result{};
        {
            Host second("Second");
            if (!second.OpenManager()) _exit(3);
            const auto start = std::chrono::steady_clock::now();
            result.rc = second.Open();
            result.ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                            .count();
            result.cc = second.ManagerCondition();
            if (write(toParent[1], &result, sizeof result) != sizeof result) _exit(4);
            if (read(toChild[0], &go, 1) != 1) _exit(5);
            result.rcAfter = second.Open();
            if (write(toParent[1], &result, sizeof result) != sizeof result) _exit(6);
        }
        _exit(0);
    }
    struct Result {
        TW_UINT16 rc, cc, rcAfter;
        long long ms;
    } result{};
    {
        Host first("First");
        ASSERT_TRUE(first.OpenManager());
        ASSERT_EQ(first.Open(), TWRC_SUCCESS);
        ASSERT_EQ(write(toChild[1], "g", 1), 1);
        ASSERT_TRUE(WaitReadable(toParent[0], 30000));
        ASSERT_EQ(read(toParent[0], &result, sizeof result), static_cast<ssize_t>(sizeof result));
        EXPECT_EQ(result.rc, TWRC_FAILURE);
        EXPECT_EQ(result.cc, TWCC_MAXCONNECTIONS);
        EXPECT_GE(result.ms, 4400);
        EXPECT_EQ(first.Close(), TWRC_SUCCESS);
    }
    ASSERT_EQ(write(toChild[1], "g", 1), 1);
    ASSERT_TRUE(WaitReadable(toParent[0], 30000));
    ASSERT_EQ(read(toParent[0], &result, sizeof result), static_cast<ssize_t>(sizeof result));
    EXPECT_EQ(result.rcAfter, TWRC_SUCCESS);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    for (int fd : {toChild[0], toChild[1], toParent[0], toParent[1]}) close(fd);
}

} // namespace

// A window that owns the event loop runs inside the enable call until a
// message went to the host, the window is gone, or the host disabled the
// data source from its callback.
TEST_F(DsHostTest, AWindowOwningTheLoopRunsInsideEnableUntilItsEnd) {
    gWindowOwnsLoop = true;
    struct Case {
        const char* name;
        TW_UINT16 enableMsg;
        std::function<void()> act; // run by the loop inside the enable call
        std::vector<TW_UINT16> seen;
    };
    const Case cases[] = {
        {"scan", MSG_ENABLEDS, [] { gWindow->postXferReady(kScanModeScan, 0); }, {MSG_XFERREADY}},
        {"close request", MSG_ENABLEDS, [] { gWindow->postCloseRequest(true); }, {MSG_CLOSEDSREQ}},
        {"settings confirmed", MSG_ENABLEDSUIONLY, [] { gWindow->postCloseDSOkay(); }, {MSG_CLOSEDSOK}},
        {"window gone", MSG_ENABLEDS, [] { gWindow->hideMainWindow(); }, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        gSeen.clear();
        Host host("Host");
        ASSERT_TRUE(host.OpenManager());
        ASSERT_EQ(host.Open(), TWRC_SUCCESS);
        kdf::RunLoop::main().performAfterDelay(nullptr, "act", kdf::Seconds(0.05), c.act);
        TW_USERINTERFACE ui{};
        ui.ShowUI = 1;
        ASSERT_EQ(host.ToSource(DG_CONTROL, DAT_USERINTERFACE, c.enableMsg, &ui), TWRC_SUCCESS);
        std::vector<TW_UINT16> seen;
        for (const Seen& s : gSeen) seen.push_back(s.msg);
        EXPECT_EQ(seen, c.seen);
        EXPECT_EQ(host.Close(), TWRC_SUCCESS);
    }
    // The host disables from its callback: enable returns cleanly.
    gSeen.clear();
    Host host("Host");
    ASSERT_TRUE(host.OpenManager());
    ASSERT_EQ(host.Open(), TWRC_SUCCESS);
    gInsideCallback = [&] {
        TW_USERINTERFACE none{};
        EXPECT_EQ(host.ToSource(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &none), TWRC_SUCCESS);
    };
    kdf::RunLoop::main().performAfterDelay(nullptr, "act", kdf::Seconds(0.05), [] { gWindow->postCloseRequest(false); });
    EXPECT_EQ(host.Enable(true), TWRC_SUCCESS);
    EXPECT_EQ(gSeen.size(), 1u);
    EXPECT_EQ(gWindow, nullptr);
}

TEST_F(DsHostTest, ProcessEventIsServedFromEnabledToTransferring) {
    Host host("Host");
    ASSERT_TRUE(host.OpenManager());
    ASSERT_EQ(host.Open(), TWRC_SUCCESS);
    TW_EVENT event{};
    EXPECT_EQ(host.ToSource(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event), TWRC_FAILURE); // open: state 4
    EXPECT_EQ(host.SourceCondition(), TWCC_SEQERROR);
    ASSERT_EQ(host.Enable(true), TWRC_SUCCESS); // state 5
    event.TWMessage = 0xFFFF;
    EXPECT_EQ(host.ToSource(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event), TWRC_NOTDSEVENT);
    EXPECT_EQ(event.TWMessage, MSG_NULL);
    gWindow->postXferReady(kScanModeScan, 0); // state 6
    EXPECT_EQ(host.ToSource(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event), TWRC_NOTDSEVENT);
    EXPECT_EQ(host.ToSource(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, nullptr), TWRC_FAILURE);
    EXPECT_EQ(host.SourceCondition(), TWCC_BADVALUE);
    TW_PENDINGXFERS xfers{};
    EXPECT_EQ(host.ToSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &xfers), TWRC_SUCCESS);
}
