// The main loop's shut-down ends the process's use of it, so it has a test
// program of its own.
#include <foundation/RunLoop.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace kdf;
using namespace std::chrono_literals;

namespace {

TEST(RunLoopShutDown, ReleasesAWaitingWorkerAndRefusesLaterPerforms) {
    RunLoop& main = RunLoop::main();
    std::atomic<bool> queued{false};
    std::atomic<int> answer{-1};
    bool ran = false;
    std::thread worker([&] {
        // Queued first, so the main thread knows the waiting one follows.
        RunLoop::performOnMainThread([&] { queued = true; }, false);
        answer = RunLoop::performOnMainThread([&] { ran = true; }, true, RunLoopMode::EventTracking) ? 1 : 0;
    });
    // Run only the first perform: the waiting one is in a mode the loop
    // does not run, so the worker is still blocked at the shut-down.
    while (!queued) main.runMode(RunLoopMode::Default, 0.01s);
    main.runMode(RunLoopMode::Default, 0.05s);
    main.shutDown();
    worker.join();
    EXPECT_EQ(answer.load(), 0);
    EXPECT_FALSE(ran);

    // Afterwards a worker's waiting perform answers at once, not run.
    std::thread late([&] {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(RunLoop::performOnMainThread([&] { ran = true; }, true));
        EXPECT_FALSE(RunLoop::performOnMainThread([&] { ran = true; }, false));
        EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    });
    late.join();
    EXPECT_FALSE(ran);
    EXPECT_EQ(main.runMode(RunLoopMode::Default, 1s), RunLoop::Result::ShutDown);
}

} // namespace
