// Run loops: one per thread, made on first use. Sources (timers, delayed
// performs, performs sent to the main thread, watched descriptors) each
// name the modes they run in; a loop running in one mode fires only the
// sources of that mode, so a default-mode perform waits while a modal
// panel runs.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

namespace kdf {

// ViewAnimation is private to the user interface's blocking view
// animations: nothing scheduled in the common modes fires while one runs.
enum class RunLoopMode : unsigned { Default = 1, ModalPanel = 2, EventTracking = 4, ViewAnimation = 8 };

class RunLoopModes {
public:
    constexpr RunLoopModes(RunLoopMode mode) : bits_(unsigned(mode)) {}
    // All three modes.
    static constexpr RunLoopModes common() { return RunLoopModes(7u); }
    constexpr bool contains(RunLoopMode mode) const { return (bits_ & unsigned(mode)) != 0; }
    friend constexpr RunLoopModes operator|(RunLoopModes a, RunLoopModes b) {
        return RunLoopModes(a.bits_ | b.bits_);
    }
    friend constexpr bool operator==(RunLoopModes, RunLoopModes) = default;

private:
    constexpr explicit RunLoopModes(unsigned bits) : bits_(bits) {}
    unsigned bits_;
};

inline constexpr RunLoopModes kCommonModes = RunLoopModes::common();

using Seconds = std::chrono::duration<double>;
using TimePoint = std::chrono::steady_clock::time_point;

// The time of all run loops: the steady clock, or the test clock while one
// exists.
TimePoint runLoopNow();
// now + seconds, saturating instead of overflowing.
TimePoint runLoopDeadline(Seconds fromNow);

// A settable clock for tests. While it exists it is the run loops' time,
// and a loop that would sleep until a moment moves the clock there instead
// of waiting (after checking its descriptors), so timed behaviour runs in
// no real time. One at a time.
class TestClock {
public:
    TestClock();
    ~TestClock();
    TestClock(const TestClock&) = delete;
    TestClock& operator=(const TestClock&) = delete;

    TimePoint now() const;
    void advance(Seconds by);
    // Only forward; an earlier time is ignored.
    void advanceTo(TimePoint to);
};

class RunLoop;

// A timer on one run loop. The loop keeps it until it is invalidated; a
// one-shot timer is invalidated after it fires. A repeating timer that
// fell behind (a long callback, a blocked loop) fires once and then keeps
// to its original rhythm: no burst of catch-up fires.
class Timer {
public:
    using Callback = std::function<void(Timer&)>;

    ~Timer();
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    // Any thread; also from its own callback. No call starts afterwards.
    void invalidate();
    bool isValid() const;
    bool repeats() const { return repeats_; }
    Seconds interval() const { return interval_; }

private:
    friend class RunLoop;
    Timer(Seconds interval, bool repeats, RunLoopModes modes, Callback callback);
    Seconds interval_;
    bool repeats_;
    RunLoopModes modes_;
    Callback callback_;
    std::atomic<bool> valid_{true};
    // Kept under the loop's lock.
    TimePoint fireDate_{};
    std::uint64_t seq_ = 0;
    bool firing_ = false;
};

// How a thread waits while its loop runs. Without one the loop polls its
// wake descriptor; the application installs a driver that lets Qt's event
// loop run the main loop.
class RunLoopDriver {
public:
    virtual ~RunLoopDriver();
    // Runs the loop until the limit or until the loop is asked to stop
    // (RunLoop::stopRequested): fire what is due (RunLoop::fireDue) and wait
    // for the next due time, a wake-up or a watched descriptor.
    virtual void run(RunLoop& loop, TimePoint limit) = 0;
};

class RunLoop {
public:
    enum class Result { TimedOut, Stopped, ShutDown };

    ~RunLoop();
    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;

    // This thread's loop.
    static RunLoop& current();
    // The loop of the process's initial thread (the thread whose id is the
    // process id), reachable from any thread.
    static RunLoop& main();
    static bool isMainThread();
    bool isMain() const;

    // Fires what is due in mode until the limit or stop(); sleeps between
    // (never spins). Nested calls are fine; the innermost sets the mode.
    Result runMode(RunLoopMode mode, TimePoint limit);
    Result runMode(RunLoopMode mode, Seconds duration) { return runMode(mode, runLoopDeadline(duration)); }
    // Ends the innermost running runMode; any thread. Ignored when the loop
    // is not running.
    void stop();
    bool stopRequested() const;

    // The mode of the innermost runMode or RunLoopModeScope; none when the
    // loop is not running (fireDue then fires the default mode).
    std::optional<RunLoopMode> currentMode() const;

    // --- Sources. All may be added from any thread.

    // A timer first due after interval (a repeating interval is at least
    // 0.1 ms).
    std::shared_ptr<Timer> scheduleTimer(Seconds interval, bool repeats, RunLoopModes modes,
                                         Timer::Callback callback);

    // Runs fn after the delay; delay 0 means the next pass, never at once.
    // target and key identify it for cancelPerforms; target may be null.
    void performAfterDelay(const void* target, std::string key, Seconds delay, std::function<void()> fn,
                           RunLoopModes modes = RunLoopMode::Default);
    // As above for a target owned by a shared_ptr: it does not keep the
    // target alive, and nothing runs once the target is gone.
    template <class T>
    void performAfterDelay(const std::shared_ptr<T>& target, std::string key, Seconds delay,
                           std::type_identity_t<std::function<void(T&)>> fn,
                           RunLoopModes modes = RunLoopMode::Default) {
        std::weak_ptr<T> weak = target;
        performAfterDelay(
            target.get(), std::move(key), delay,
            [weak = std::move(weak), fn = std::move(fn)] {
                if (auto t = weak.lock()) fn(*t);
            },
            modes);
    }
    // Cancels the target's pending performs (of one key); a perform about
    // to run in the current pass is cancelled too.
    void cancelPerforms(const void* target);
    void cancelPerforms(const void* target, std::string_view key);
    // Whether the target has a perform waiting (in any mode).
    bool hasPerforms(const void* target) const;

    // Runs fn on the main loop in modes. Called on the main thread with
    // wait, it runs at once. From another thread with wait, it blocks until
    // fn ran. Answers whether fn ran (or, without wait, was queued): false
    // once the main loop has shut down, at once, also for a waiting caller.
    static bool performOnMainThread(std::function<void()> fn, bool wait,
                                    RunLoopModes modes = RunLoopMode::Default);

    // Calls back when the descriptor is ready (poll events such as POLLIN);
    // one watch per descriptor. Answers 0 when it cannot be watched.
    using WatchId = std::uint64_t;
    WatchId watchDescriptor(int fd, short events, RunLoopModes modes,
                            std::function<void(int fd, short revents)> callback);
    void unwatchDescriptor(WatchId id);

    // --- Driving the loop from outside (a driver, or a host that does not
    // run our loop).

    // Readable when something may be due: a wake-up, a source added, a mode
    // change or a watched descriptor ready. fireDue() clears it.
    int wakeDescriptor() const;
    void wake();
    // One pass: fires the ready descriptors and the due timers and performs
    // of the current mode. Answers when the next source of that mode is due.
    std::optional<TimePoint> fireDue();

    // Null restores the built-in polling.
    void setDriver(std::shared_ptr<RunLoopDriver> driver);

    // Drops every source and answers every waiting performOnMainThread with
    // false; later performs are refused. The main loop shuts down at exit.
    void shutDown();
    bool isShutDown() const;

    // Mode bookkeeping for RunLoopModeScope.
    void pushMode(RunLoopMode mode);
    void popMode();

    struct Impl;

private:
    RunLoop();
    void pollUntil(TimePoint limit);
    std::unique_ptr<Impl> impl_;
};

// Sets the current mode of the thread's loop while a nested event loop
// that is not a runMode (a modal dialog or session, a menu, a drag) runs,
// so that only the sources of that mode fire meanwhile.
class RunLoopModeScope {
public:
    explicit RunLoopModeScope(RunLoopMode mode, RunLoop& loop = RunLoop::current());
    ~RunLoopModeScope();
    RunLoopModeScope(const RunLoopModeScope&) = delete;
    RunLoopModeScope& operator=(const RunLoopModeScope&) = delete;

private:
    RunLoop& loop_;
};

} // namespace kdf
