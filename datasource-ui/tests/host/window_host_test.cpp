// A host without Qt of its own (like the TWAIN sample application): the
// window's module makes the application object, the data source runs the
// window inside the enable call, and the pages transfer after Scan.
#include "WindowHost.h"

#include <foundation/RunLoop.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QTest>

#include <sys/wait.h>
#include <unistd.h>

#include <thread>

namespace {

using namespace windowhost;

// Clicks the tagged control once the window runs.
void ClickSoon(int tag) {
    kdf::RunLoop::main().performAfterDelay(nullptr, "click", kdf::Seconds(0.2), [tag] {
        QWidget* control = Control(tag);
        ASSERT_NE(control, nullptr) << tag;
        QTest::mouseClick(control, Qt::LeftButton);
    });
}

void CloseWindowSoon() {
    kdf::RunLoop::main().performAfterDelay(nullptr, "close", kdf::Seconds(0.2), [] {
        QWidget* control = Control(610);
        ASSERT_NE(control, nullptr);
        control->window()->close();
    });
}

// Where Qt cannot run the window the enable call fails with an operation
// error and the host lives on: each case in a child process of its own.
TEST_F(WindowHostTest, WhereQtCannotRunTheWindowEnableFailsAndTheHostLivesOn) {
    if (QCoreApplication::instance()) GTEST_SKIP() << "Qt already runs in this process";
    kdscan::Watchdog dog(120);
    struct Case {
        const char* name;
        std::function<bool()> child; // true when the enable was declined as it should be
    };
    auto declined = [] {
        Host host;
        if (host.Open() != TWRC_SUCCESS) return false;
        return host.Enable() == TWRC_FAILURE && host.Condition() == TWCC_OPERATIONERROR;
    };
    const Case cases[] = {
        {"no display",
         [&] {
             ::unsetenv("QT_QPA_PLATFORM");
             ::unsetenv("DISPLAY");
             ::unsetenv("WAYLAND_DISPLAY");
             return declined() && !QCoreApplication::instance();
         }},
        {"a host whose application object is no QApplication",
         [&] {
             int argc = 1;
             char name[] = "host";
             char* argv[] = {name, nullptr};
             QCoreApplication app(argc, argv);
             return declined();
         }},
        {"a call on another thread",
         [&] {
             bool ok = false;
             std::thread([&] { ok = declined(); }).join();
             return ok && !QCoreApplication::instance();
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) std::exit(c.child() ? 0 : 1);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status)) << status;
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
}

TEST_F(WindowHostTest, ScanFromTheWindowTransfersEveryPageAndAsksToCloseBeforeTheLastEndReturns) {
    kdscan::Watchdog dog(180);
    Host host;
    ASSERT_EQ(host.Open(), TWRC_SUCCESS);
    ASSERT_EQ(host.SetGray100(), TWRC_SUCCESS);
    ClickSoon(610);
    ASSERT_EQ(host.Enable(), TWRC_SUCCESS);
    ASSERT_TRUE(qobject_cast<QApplication*>(QCoreApplication::instance()));
    EXPECT_EQ(gMessages, (std::vector<TW_UINT16>{MSG_XFERREADY}));

    std::vector<std::string> marks;
    for (int i = 0; i < 10; ++i) {
        TW_UINT16 rc = 0;
        const kdscan::Page page = host.MemoryPage(&rc);
        ASSERT_EQ(rc, TWRC_XFERDONE) << i;
        marks.push_back(kdscan::markOf(page, 100, 60));
        TW_UINT16 count = 0;
        ASSERT_EQ(host.EndXfer(&count), TWRC_SUCCESS);
        if (count == 0) break;
        EXPECT_FALSE(Saw(MSG_CLOSEDSREQ)) << i;
    }
    EXPECT_EQ(marks, (std::vector<std::string>{"1F", "2F", "3F"}));
    // The window's close request went out inside the last end of transfer.
    EXPECT_TRUE(Saw(MSG_CLOSEDSREQ));
    ASSERT_EQ(host.Disable(), TWRC_SUCCESS);
    ASSERT_EQ(host.Close(), TWRC_SUCCESS);

    // Again, and this time the user closes the window.
    gMessages.clear();
    ASSERT_EQ(host.Open(), TWRC_SUCCESS);
    CloseWindowSoon();
    ASSERT_EQ(host.Enable(), TWRC_SUCCESS);
    EXPECT_EQ(gMessages, (std::vector<TW_UINT16>{MSG_CLOSEDSREQ}));
    EXPECT_EQ(host.Disable(), TWRC_SUCCESS);
}

TEST_F(WindowHostTest, SettingsOnlyWindowConfirmsWithOk) {
    kdscan::Watchdog dog(120);
    Host host;
    ASSERT_EQ(host.Open(), TWRC_SUCCESS);
    ClickSoon(3);
    ASSERT_EQ(host.Enable(MSG_ENABLEDSUIONLY), TWRC_SUCCESS);
    EXPECT_EQ(gMessages, (std::vector<TW_UINT16>{MSG_CLOSEDSOK}));
    EXPECT_EQ(host.Disable(), TWRC_SUCCESS);
}

TEST_F(WindowHostTest, AHostClosingFromItsCallbackEndsTheWindowCleanly) {
    kdscan::Watchdog dog(120);
    Host host;
    ASSERT_EQ(host.Open(), TWRC_SUCCESS);
    gOnMessage = [&](TW_UINT16 msg) {
        if (msg != MSG_CLOSEDSREQ) return;
        EXPECT_EQ(host.Disable(), TWRC_SUCCESS);
        EXPECT_EQ(host.Close(), TWRC_SUCCESS);
    };
    CloseWindowSoon();
    ASSERT_EQ(host.Enable(), TWRC_SUCCESS);
    EXPECT_EQ(gMessages, (std::vector<TW_UINT16>{MSG_CLOSEDSREQ}));
    gOnMessage = nullptr;
    // The source opens and shows its window again.
    ASSERT_EQ(host.Open(), TWRC_SUCCESS);
    ClickSoon(2); // scan mode's Cancel: the window stays
    CloseWindowSoon();
    ASSERT_EQ(host.Enable(), TWRC_SUCCESS);
    EXPECT_EQ(host.Disable(), TWRC_SUCCESS);
}

TEST_F(WindowHostTest, AHostWithoutCallbackGetsTheMessageFromProcessEvent) {
    kdscan::Watchdog dog(120);
    Host host;
    ASSERT_EQ(host.Open(/*withCallback=*/false), TWRC_SUCCESS);
    TW_EVENT event{};
    EXPECT_EQ(host.Source(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event), TWRC_FAILURE); // state 4
    ClickSoon(610);
    ASSERT_EQ(host.Enable(), TWRC_SUCCESS);
    EXPECT_TRUE(gMessages.empty());
    EXPECT_EQ(host.Source(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event), TWRC_DSEVENT);
    EXPECT_EQ(event.TWMessage, MSG_XFERREADY);
    EXPECT_EQ(host.Source(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event), TWRC_NOTDSEVENT);
    EXPECT_EQ(event.TWMessage, MSG_NULL);
    TW_PENDINGXFERS pending{};
    EXPECT_EQ(host.Source(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending), TWRC_SUCCESS);
    EXPECT_EQ(host.Disable(), TWRC_SUCCESS);
}

} // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
