#include "ui/QtRunLoop.h"

#include <foundation/RunLoop.h>

#include "TempHome.h"

#include <QApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

using namespace kdf;
using namespace std::chrono_literals;

namespace {

// Runs the application's loop until quit; a case that hangs fails after a
// generous limit instead of blocking the suite.
int execWithLimit() {
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard.start(60000);
    return QCoreApplication::exec();
}

TEST(QtRunLoop, FoundationTimerFiresUnderTheApplicationLoop) {
    int fires = 0;
    RunLoop::main().scheduleTimer(0.02s, true, RunLoopMode::Default, [&](Timer& t) {
        if (++fires == 3) {
            t.invalidate();
            QCoreApplication::quit();
        }
    });
    EXPECT_EQ(execWithLimit(), 0);
    EXPECT_EQ(fires, 3);
}

TEST(QtRunLoop, NestedRunModeDeliversPostedQtEvents) {
    RunLoop& main = RunLoop::main();
    bool delivered = false;
    RunLoop::Result result{};
    // From inside a foundation perform, as the data source waits while it
    // serves a call.
    main.performAfterDelay(nullptr, "", 0s, [&] {
        QMetaObject::invokeMethod(
            qApp,
            [&] {
                delivered = true;
                RunLoop::main().stop();
            },
            Qt::QueuedConnection);
        result = main.runMode(RunLoopMode::Default, 60s);
        QCoreApplication::quit();
    });
    EXPECT_EQ(execWithLimit(), 0);
    EXPECT_TRUE(delivered);
    EXPECT_EQ(result, RunLoop::Result::Stopped);
}

TEST(QtRunLoop, NestedRunModeEndsAtItsLimit) {
    RunLoop& main = RunLoop::main();
    RunLoop::Result result{};
    main.performAfterDelay(nullptr, "", 0s, [&] {
        result = main.runMode(RunLoopMode::Default, 0.05s);
        QCoreApplication::quit();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(execWithLimit(), 0);
    EXPECT_EQ(result, RunLoop::Result::TimedOut);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 0.05s);
}

TEST(QtRunLoop, ModeScopeAroundANestedQtLoopHoldsDefaultModePerforms) {
    RunLoop& main = RunLoop::main();
    std::vector<std::string> log;
    QTimer::singleShot(0, [&] {
        main.performAfterDelay(nullptr, "", 0s, [&] {
            log.push_back("default perform");
            QCoreApplication::quit();
        });
        {
            // A modal dialog's loop.
            RunLoopModeScope scope(RunLoopMode::ModalPanel);
            QEventLoop modal;
            main.performAfterDelay(
                nullptr, "", 0.05s,
                [&] {
                    log.push_back("modal perform");
                    modal.quit();
                },
                RunLoopMode::ModalPanel);
            modal.exec();
            log.push_back("modal ends");
        }
    });
    EXPECT_EQ(execWithLimit(), 0);
    EXPECT_EQ(log, (std::vector<std::string>{"modal perform", "modal ends", "default perform"}));
}

TEST(QtRunLoop, WorkerPerformsOnTheMainThreadAndWaits) {
    std::atomic<bool> ranOnMain{false};
    std::atomic<bool> answered{false};
    std::thread worker([&] {
        answered = RunLoop::performOnMainThread([&] { ranOnMain = RunLoop::isMainThread(); }, true) && ranOnMain;
        RunLoop::performOnMainThread([] { QCoreApplication::quit(); }, false);
    });
    EXPECT_EQ(execWithLimit(), 0);
    worker.join();
    EXPECT_TRUE(answered);
}

TEST(QtRunLoop, NestedRunModeInsideAWakeUpSeesTheNextWakeUp) {
    // Both the outer perform and the one that ends the nested run arrive
    // from a worker, through the wake descriptor alone.
    RunLoop& main = RunLoop::main();
    RunLoop::Result result{};
    std::thread stopper;
    std::thread worker([&] {
        RunLoop::performOnMainThread(
            [&] {
                stopper = std::thread([] { RunLoop::performOnMainThread([] { RunLoop::main().stop(); }, false); });
                result = main.runMode(RunLoopMode::Default, 30s);
                QCoreApplication::quit();
            },
            false);
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(execWithLimit(), 0);
    worker.join();
    if (stopper.joinable()) stopper.join();
    EXPECT_EQ(result, RunLoop::Result::Stopped);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
}

// A loaded module installs the driver again while the application's
// driver runs a nested loop: nothing is replaced under the running loop.
TEST(QtRunLoop, InstallingAgainInsideARunningLoopChangesNothing) {
    RunLoop& main = RunLoop::main();
    int fired = 0;
    main.performAfterDelay(nullptr, "again", 0.01s, [&] {
        kdui::installQtRunLoopDriver();
        main.performAfterDelay(nullptr, "after", 0.01s, [&] {
            ++fired;
            main.stop();
        });
    });
    EXPECT_EQ(main.runMode(RunLoopMode::Default, 20s), RunLoop::Result::Stopped);
    EXPECT_EQ(fired, 1);
}

} // namespace

int main(int argc, char** argv) {
    // Headless, and Qt's runtime folder in a private home.
    kdtest::TempHome home;
    home.env().set("QT_QPA_PLATFORM", "offscreen");
    std::filesystem::permissions(home.root() / "run", std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace);
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    kdui::installQtRunLoopDriver();
    return RUN_ALL_TESTS();
}
