// A host without Qt of its own (like the TWAIN sample application): the
// window's module makes the application object, the data source runs the
// window inside the enable call, and the pages transfer after Scan.
#include "WindowHost.h"

#include <foundation/RunLoop.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QTest>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

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
// error and the host lives on. Each case runs in a fresh process of this
// program (see main): a forked copy would inherit the state of this one's
// threads, and Qt must not yet run in it.
bool Declined() {
    Host host;
    if (host.Open() != TWRC_SUCCESS) return false;
    return host.Enable() == TWRC_FAILURE && host.Condition() == TWCC_OPERATIONERROR;
}

struct DeclineCase {
    const char* name;
    bool (*run)(); // true when the enable was declined as it should be
};

const DeclineCase kDeclineCases[] = {
    {"no display",
     [] {
         ::unsetenv("QT_QPA_PLATFORM");
         ::unsetenv("DISPLAY");
         ::unsetenv("WAYLAND_DISPLAY");
         return Declined() && !QCoreApplication::instance();
     }},
    {"a host whose application object is no QApplication",
     [] {
         int argc = 1;
         char name[] = "host";
         char* argv[] = {name, nullptr};
         QCoreApplication app(argc, argv);
         return Declined();
     }},
    {"a call on another thread",
     [] {
         bool ok = false;
         std::thread([&] { ok = Declined(); }).join();
         return ok && !QCoreApplication::instance();
     }},
};

constexpr const char* kCaseVariable = "KD_WINDOW_HOST_DECLINE_CASE";

// The exit status of the case's process; a case that does not end within
// its time is shown with its threads' stacks (where gdb is at hand) and
// killed.
std::optional<int> RunDeclineCase(std::size_t index) {
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    char assignment[64];
    std::snprintf(assignment, sizeof assignment, "%s=%zu", kCaseVariable, index);
    std::vector<char*> env;
    for (char** e = environ; *e; ++e) env.push_back(*e);
    env.push_back(assignment);
    env.push_back(nullptr);
    char* argv[] = {const_cast<char*>(self.c_str()), nullptr};
    pid_t child = 0;
    if (posix_spawn(&child, self.c_str(), nullptr, nullptr, argv, env.data()) != 0) return std::nullopt;
    int status = 0;
    for (int waited = 0; waited < 60 * 20; ++waited) {
        if (waitpid(child, &status, WNOHANG) == child)
            return WIFEXITED(status) ? std::optional<int>(WEXITSTATUS(status)) : std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    char stacks[128];
    std::snprintf(stacks, sizeof stacks, "command -v gdb >/dev/null && gdb -p %d -batch -ex 'thread apply all bt' 1>&2",
                  int(child));
    [[maybe_unused]] const int shown = std::system(stacks);
    ::kill(child, SIGKILL);
    waitpid(child, &status, 0);
    ADD_FAILURE() << kDeclineCases[index].name << ": the case hung";
    return std::nullopt;
}

TEST_F(WindowHostTest, WhereQtCannotRunTheWindowEnableFailsAndTheHostLivesOn) {
    for (std::size_t i = 0; i < std::size(kDeclineCases); ++i) {
        SCOPED_TRACE(kDeclineCases[i].name);
        EXPECT_EQ(RunDeclineCase(i), std::optional<int>(0));
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
    if (const char* index = std::getenv(kCaseVariable)) {
        ::unsetenv(kCaseVariable);
        const std::size_t i = std::strtoul(index, nullptr, 10);
        return i < std::size(kDeclineCases) && kDeclineCases[i].run() ? 0 : 1;
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
