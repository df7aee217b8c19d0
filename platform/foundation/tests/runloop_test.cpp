#include <foundation/RunLoop.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <ctime>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace kdf;
using namespace std::chrono_literals;

namespace {

// Each case gets a loop of its own: the one of a new thread.
template <class F>
void onFreshThread(F f) {
    std::thread(f).join();
}

double secondsSince(TimePoint start) {
    return std::chrono::duration<double>(runLoopNow() - start).count();
}

// Fire times in seconds after start, rounded to milliseconds.
struct FireLog {
    TimePoint start = runLoopNow();
    std::vector<std::pair<std::string, long>> entries;
    void add(std::string what) { entries.emplace_back(std::move(what), std::lround(secondsSince(start) * 1000)); }
};

using Log = std::vector<std::pair<std::string, long>>;

TEST(RunLoop, SourcesFireInTimeOrderAndTheLoopSleepsToTheLimit) {
    onFreshThread([] {
        TestClock clock;
        RunLoop& loop = RunLoop::current();
        FireLog log;
        loop.scheduleTimer(0.3s, false, RunLoopMode::Default, [&](Timer&) { log.add("timer 0.3"); });
        loop.scheduleTimer(0.1s, false, RunLoopMode::Default, [&](Timer&) { log.add("timer 0.1"); });
        loop.performAfterDelay(nullptr, "", 0.15s, [&] { log.add("perform 0.15"); });
        loop.scheduleTimer(0.2s, false, kCommonModes, [&](Timer&) { log.add("timer 0.2"); });
        EXPECT_EQ(loop.runMode(RunLoopMode::Default, 1s), RunLoop::Result::TimedOut);
        EXPECT_EQ(log.entries, (Log{{"timer 0.1", 100}, {"perform 0.15", 150}, {"timer 0.2", 200}, {"timer 0.3", 300}}));
        EXPECT_EQ(std::lround(secondsSince(log.start) * 1000), 1000);
    });
}

TEST(RunLoop, RepeatingTimerKeepsItsRhythmWithoutBurstAndCanInvalidateItself) {
    onFreshThread([&] {
        TestClock clock;
        RunLoop& loop = RunLoop::current();
        FireLog log;
        int fires = 0;
        auto timer = loop.scheduleTimer(1s, true, RunLoopMode::Default, [&](Timer& t) {
            log.add("tick");
            if (++fires == 2) clock.advance(3.5s); // a long callback
            if (fires == 4) t.invalidate();
        });
        loop.runMode(RunLoopMode::Default, 10s);
        // Fires at 1 and 2; the callback ends at 5.5; the missed 3, 4 and 5
        // are skipped, not fired in a burst.
        EXPECT_EQ(log.entries, (Log{{"tick", 1000}, {"tick", 2000}, {"tick", 6000}, {"tick", 7000}}));
        EXPECT_FALSE(timer->isValid());
    });
}

TEST(RunLoop, DelayZeroRunsOnTheNextPassNeverInline) {
    onFreshThread([] {
        TestClock clock;
        RunLoop& loop = RunLoop::current();
        std::vector<std::string> calls;
        loop.performAfterDelay(nullptr, "", 0s, [&] {
            calls.push_back("first");
            loop.performAfterDelay(nullptr, "", 0s, [&] { calls.push_back("second"); });
            EXPECT_EQ(calls.size(), 1u); // not inline
        });
        EXPECT_TRUE(calls.empty());
        const auto next = loop.fireDue();
        EXPECT_EQ(calls, (std::vector<std::string>{"first"}));
        ASSERT_TRUE(next.has_value()); // the second is due at once, on the next pass
        EXPECT_LE(*next, runLoopNow());
        loop.fireDue();
        EXPECT_EQ(calls, (std::vector<std::string>{"first", "second"}));
        EXPECT_FALSE(loop.fireDue().has_value());
    });
}

TEST(RunLoop, CancelPerformsByTargetAndByKey) {
    struct Case {
        const char* what;
        bool byKey;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"by target and key", true, {"a/other", "b/show"}},
        {"by target", false, {"b/show"}},
    };
    for (const Case& c : cases) {
        onFreshThread([&] {
            TestClock clock;
            RunLoop& loop = RunLoop::current();
            int a = 0, b = 0;
            std::vector<std::string> calls;
            loop.performAfterDelay(&a, "show", 0.1s, [&] { calls.push_back("a/show"); });
            loop.performAfterDelay(&a, "show", 0.2s, [&] { calls.push_back("a/show"); });
            loop.performAfterDelay(&a, "other", 0.1s, [&] { calls.push_back("a/other"); });
            loop.performAfterDelay(&b, "show", 0.1s, [&] { calls.push_back("b/show"); });
            if (c.byKey)
                loop.cancelPerforms(&a, "show");
            else
                loop.cancelPerforms(&a);
            loop.runMode(RunLoopMode::Default, 1s);
            EXPECT_EQ(calls, c.expected) << c.what;
        });
    }
}

TEST(RunLoop, HasPerformsUntilTheTargetsLastRanOrWasCancelled) {
    onFreshThread([] {
        TestClock clock;
        RunLoop& loop = RunLoop::current();
        int a = 0, b = 0;
        EXPECT_FALSE(loop.hasPerforms(&a));
        loop.performAfterDelay(&a, "x", 0.1s, [] {}, RunLoopMode::ModalPanel);
        loop.performAfterDelay(&b, "y", 0.1s, [] {});
        EXPECT_TRUE(loop.hasPerforms(&a)); // in any mode
        EXPECT_FALSE(loop.hasPerforms(nullptr));
        loop.runMode(RunLoopMode::Default, 1s);
        EXPECT_FALSE(loop.hasPerforms(&b));
        EXPECT_TRUE(loop.hasPerforms(&a));
        loop.cancelPerforms(&a);
        EXPECT_FALSE(loop.hasPerforms(&a));
    });
}

TEST(RunLoop, APerformCancelledInItsOwnPassDoesNotRun) {
    onFreshThread([] {
        TestClock clock;
        RunLoop& loop = RunLoop::current();
        int target = 0;
        std::vector<std::string> calls;
        loop.performAfterDelay(nullptr, "", 0.1s, [&] {
            calls.push_back("canceller");
            loop.cancelPerforms(&target);
        });
        loop.performAfterDelay(&target, "k", 0.1s, [&] { calls.push_back("cancelled"); });
        loop.runMode(RunLoopMode::Default, 1s);
        EXPECT_EQ(calls, (std::vector<std::string>{"canceller"}));
    });
}

TEST(RunLoop, NothingRunsOnADestroyedTarget) {
    onFreshThread([] {
        TestClock clock;
        RunLoop& loop = RunLoop::current();
        struct Window {
            int* shown;
        };
        int shown = 0;
        auto kept = std::make_shared<Window>(Window{&shown});
        auto dropped = std::make_shared<Window>(Window{&shown});
        loop.performAfterDelay(kept, "show", 0.1s, [](Window& w) { ++*w.shown; });
        loop.performAfterDelay(dropped, "show", 0.1s, [](Window& w) { *w.shown += 100; });
        dropped.reset();
        loop.runMode(RunLoopMode::Default, 1s);
        EXPECT_EQ(shown, 1);
    });
}

TEST(RunLoop, DefaultModePerformWaitsWhileAModalPanelRuns) {
    onFreshThread([] {
        TestClock clock;
        RunLoop& loop = RunLoop::current();
        FireLog log;
        int commonTicks = 0;
        // Common-mode sources run in the modal panel too.
        auto ticker = loop.scheduleTimer(0.25s, true, kCommonModes, [&](Timer&) { ++commonTicks; });
        loop.performAfterDelay(nullptr, "", 0.1s, [&] {
            log.add("modal begins");
            EXPECT_EQ(loop.currentMode(), std::optional<RunLoopMode>(RunLoopMode::Default));
            loop.performAfterDelay(nullptr, "", 0.1s, [&] { log.add("default perform"); });
            loop.performAfterDelay(nullptr, "", 0.1s, [&] { log.add("tracking perform"); },
                                   RunLoopMode::EventTracking);
            loop.performAfterDelay(nullptr, "", 0.2s, [&] { log.add("modal perform"); }, RunLoopMode::ModalPanel);
            const int ticksBefore = commonTicks;
            EXPECT_EQ(loop.runMode(RunLoopMode::ModalPanel, 1s), RunLoop::Result::TimedOut);
            EXPECT_EQ(commonTicks - ticksBefore, 4); // 0.25, 0.5, 0.75, 1.0
            log.add("modal ends");
        });
        loop.runMode(RunLoopMode::Default, 1.5s);
        EXPECT_EQ(log.entries, (Log{{"modal begins", 100},
                                    {"modal perform", 300},
                                    {"modal ends", 1100},
                                    {"default perform", 1100}}));
        // The tracking perform waits for its own mode.
        loop.runMode(RunLoopMode::EventTracking, 0s);
        EXPECT_EQ(log.entries.back().first, "tracking perform");
        ticker->invalidate();
    });
}

TEST(RunLoop, SourcesFireOnlyInTheirModes) {
    const RunLoopMode modes[] = {RunLoopMode::Default, RunLoopMode::ModalPanel, RunLoopMode::EventTracking};
    for (RunLoopMode mode : modes) {
        onFreshThread([&] {
            TestClock clock;
            RunLoop& loop = RunLoop::current();
            std::vector<std::string> fired;
            loop.scheduleTimer(0.1s, false, kCommonModes, [&](Timer&) { fired.push_back("common"); });
            loop.scheduleTimer(0.1s, false, RunLoopMode::Default, [&](Timer&) { fired.push_back("default"); });
            loop.performAfterDelay(nullptr, "", 0.1s, [&] { fired.push_back("panel+tracking"); },
                                   RunLoopModes(RunLoopMode::ModalPanel) | RunLoopMode::EventTracking);
            loop.runMode(mode, 1s);
            std::vector<std::string> expected{"common"};
            if (mode == RunLoopMode::Default)
                expected.push_back("default");
            else
                expected.push_back("panel+tracking");
            EXPECT_EQ(fired, expected) << int(mode);
        });
    }
}

TEST(RunLoop, StopEndsTheInnermostRun) {
    onFreshThread([] {
        TestClock clock;
        RunLoop& loop = RunLoop::current();
        const TimePoint start = runLoopNow();
        RunLoop::Result inner{};
        loop.performAfterDelay(nullptr, "", 0.1s, [&] {
            loop.performAfterDelay(nullptr, "", 0.1s, [&] { loop.stop(); }, RunLoopMode::ModalPanel);
            inner = loop.runMode(RunLoopMode::ModalPanel, 5s);
        });
        EXPECT_EQ(loop.runMode(RunLoopMode::Default, 1s), RunLoop::Result::TimedOut);
        EXPECT_EQ(inner, RunLoop::Result::Stopped);
        EXPECT_EQ(std::lround(secondsSince(start) * 1000), 1000);
        loop.stop(); // not running: ignored, the next run is not cut short
        EXPECT_EQ(loop.runMode(RunLoopMode::Default, 1s), RunLoop::Result::TimedOut);
    });
}

double threadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

TEST(RunLoop, AnEmptyModeSleepsInsteadOfSpinning) {
    onFreshThread([] {
        RunLoop& loop = RunLoop::current();
        // A source of another mode must not keep this one awake either.
        loop.scheduleTimer(0.01s, true, RunLoopMode::ModalPanel, [](Timer&) {});
        const auto wallStart = std::chrono::steady_clock::now();
        const double cpuStart = threadCpuSeconds();
        EXPECT_EQ(loop.runMode(RunLoopMode::Default, 0.3s), RunLoop::Result::TimedOut);
        EXPECT_GE(std::chrono::steady_clock::now() - wallStart, 0.3s);
        EXPECT_LT(threadCpuSeconds() - cpuStart, 0.1);
    });
}

TEST(RunLoop, WatchedDescriptorsFireInTheirModesOnly) {
    onFreshThread([] {
        RunLoop& loop = RunLoop::current();
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        int reads = 0;
        const auto id = loop.watchDescriptor(fds[0], POLLIN, RunLoopMode::Default, [&](int fd, short revents) {
            EXPECT_TRUE(revents & POLLIN);
            char c;
            if (::read(fd, &c, 1) == 1) ++reads;
        });
        ASSERT_NE(id, 0u);
        EXPECT_EQ(loop.watchDescriptor(fds[0], POLLIN, kCommonModes, [](int, short) {}), 0u); // one watch a descriptor
        ASSERT_EQ(::write(fds[1], "x", 1), 1);
        // In the modal panel the ready descriptor waits, and does not keep
        // the loop from sleeping.
        const double cpuStart = threadCpuSeconds();
        loop.runMode(RunLoopMode::ModalPanel, 0.2s);
        EXPECT_LT(threadCpuSeconds() - cpuStart, 0.1);
        EXPECT_EQ(reads, 0);
        loop.runMode(RunLoopMode::Default, 0s);
        EXPECT_EQ(reads, 1);
        loop.unwatchDescriptor(id);
        ASSERT_EQ(::write(fds[1], "y", 1), 1);
        loop.runMode(RunLoopMode::Default, 0.05s);
        EXPECT_EQ(reads, 1);
        ::close(fds[0]);
        ::close(fds[1]);
    });
}

TEST(RunLoop, DescriptorWakesASleepingLoop) {
    onFreshThread([] {
        RunLoop& loop = RunLoop::current();
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        loop.watchDescriptor(fds[0], POLLIN, kCommonModes, [&](int fd, short) {
            char c;
            [[maybe_unused]] auto n = ::read(fd, &c, 1);
            loop.stop();
        });
        std::thread writer([&] { [[maybe_unused]] auto n = ::write(fds[1], "x", 1); });
        EXPECT_EQ(loop.runMode(RunLoopMode::Default, 30s), RunLoop::Result::Stopped);
        writer.join();
        ::close(fds[0]);
        ::close(fds[1]);
    });
}

TEST(RunLoop, MainLoopIsTheInitialThreadsLoop) {
    EXPECT_TRUE(RunLoop::isMainThread());
    EXPECT_EQ(&RunLoop::current(), &RunLoop::main());
    EXPECT_TRUE(RunLoop::main().isMain());
    std::thread([] {
        EXPECT_FALSE(RunLoop::isMainThread());
        EXPECT_NE(&RunLoop::current(), &RunLoop::main());
        EXPECT_FALSE(RunLoop::current().isMain());
    }).join();
}

TEST(RunLoop, PerformOnMainThreadWithWaitingOnTheMainThreadRunsAtOnce) {
    bool ran = false;
    EXPECT_TRUE(RunLoop::performOnMainThread([&] { ran = true; }, true));
    EXPECT_TRUE(ran);
}

TEST(RunLoop, WorkerWaitsForItsPerformOnTheMainThread) {
    RunLoop& main = RunLoop::main();
    std::atomic<bool> ranOnMain{false};
    bool workerSawIt = false;
    std::thread worker([&] {
        const bool ran = RunLoop::performOnMainThread([&] { ranOnMain = RunLoop::isMainThread(); }, true);
        workerSawIt = ran && ranOnMain; // the perform finished before the call returned
        main.stop();
    });
    EXPECT_EQ(main.runMode(RunLoopMode::Default, 60s), RunLoop::Result::Stopped);
    worker.join();
    EXPECT_TRUE(workerSawIt);
}

TEST(RunLoop, WorkersDefaultModePerformWaitsForTheModalPanelToEnd) {
    RunLoop& main = RunLoop::main();
    std::atomic<bool> alertShown{false};
    std::atomic<bool> requested{false};
    bool shownDuringModal = false;
    std::thread worker;
    main.performAfterDelay(nullptr, "", 0s, [&] {
        // The worker asks only once the modal panel runs, so its request
        // certainly meets the panel however the threads are scheduled.
        worker = std::thread([&] {
            requested = true;
            RunLoop::performOnMainThread([&] { alertShown = true; }, true);
            main.stop();
        });
        // The panel closes a while after the request was made.
        const auto poll = main.scheduleTimer(0.01s, true, RunLoopMode::ModalPanel, [&](Timer& t) {
            if (!requested) return;
            t.invalidate();
            main.performAfterDelay(&main, "end modal", 0.05s, [&] { main.stop(); },
                                   RunLoopMode::ModalPanel);
        });
        main.runMode(RunLoopMode::ModalPanel, 60s);
        poll->invalidate();
        shownDuringModal = alertShown;
    });
    EXPECT_EQ(main.runMode(RunLoopMode::Default, 60s), RunLoop::Result::Stopped);
    worker.join();
    EXPECT_FALSE(shownDuringModal);
    EXPECT_TRUE(alertShown);
}

TEST(RunLoop, AHostCanDriveTheMainLoopByItsWakeDescriptor) {
    // A host that runs its own loop: it watches the descriptor and calls
    // fireDue when it becomes readable.
    RunLoop& main = RunLoop::main();
    main.fireDue(); // start clean
    pollfd pfd{main.wakeDescriptor(), POLLIN, 0};
    EXPECT_EQ(::poll(&pfd, 1, 0), 0);

    bool ran = false;
    std::thread worker([&] { RunLoop::performOnMainThread([&] { ran = true; }, false); });
    ASSERT_EQ(::poll(&pfd, 1, 30000), 1);
    worker.join();
    main.fireDue();
    EXPECT_TRUE(ran);
    EXPECT_EQ(::poll(&pfd, 1, 0), 0); // cleared until something new arrives

    // fireDue tells when to call again.
    auto timer = main.scheduleTimer(30s, false, kCommonModes, [](Timer&) {});
    const auto next = main.fireDue();
    ASSERT_TRUE(next.has_value());
    EXPECT_GT(*next, runLoopNow() + 20s);
    timer->invalidate();
    EXPECT_FALSE(main.fireDue().has_value());
}

} // namespace
