#include "foundation/RunLoop.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>
#include <mutex>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace kdf {

namespace {

using SteadyDuration = std::chrono::steady_clock::duration;

struct TestClockState {
    std::mutex mutex;
    TimePoint now{};
};

std::atomic<bool> gTestClockActive{false};

TestClockState& testClockState() {
    static TestClockState state;
    return state;
}

// A callback that throws must not take the loop (or a Qt slot) with it.
template <class F>
void invokeGuarded(F&& f) {
    try {
        f();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "run loop: a callback threw: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "run loop: a callback threw\n");
    }
}

struct WaitState {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    bool ran = false;

    void finish(bool didRun) {
        std::lock_guard lock(mutex);
        done = true;
        ran = didRun;
        cv.notify_all();
    }
    bool await() {
        std::unique_lock lock(mutex);
        cv.wait(lock, [&] { return done; });
        return ran;
    }
};

struct PerformItem {
    const void* target = nullptr;
    std::string key;
    TimePoint due{};
    std::uint64_t seq = 0;
    RunLoopModes modes = RunLoopMode::Default;
    std::function<void()> fn;
    std::shared_ptr<WaitState> wait; // a waiting performOnMainThread
    bool cancelled = false;
};

struct Watch {
    int fd = -1;
    std::uint32_t events = 0;
    RunLoopModes modes = RunLoopMode::Default;
    std::function<void(int, short)> callback;
    bool parked = false; // taken out of the epoll set while its mode is not current
    bool removed = false;
};

std::uint32_t toEpoll(short events) {
    std::uint32_t out = 0;
    if (events & POLLIN) out |= EPOLLIN;
    if (events & POLLOUT) out |= EPOLLOUT;
    if (events & POLLPRI) out |= EPOLLPRI;
    return out;
}

short fromEpoll(std::uint32_t events) {
    short out = 0;
    if (events & EPOLLIN) out |= POLLIN;
    if (events & EPOLLOUT) out |= POLLOUT;
    if (events & EPOLLPRI) out |= POLLPRI;
    if (events & EPOLLERR) out |= POLLERR;
    if (events & EPOLLHUP) out |= POLLHUP;
    return out;
}

constexpr std::uint64_t kWakeId = 0;

void advanceTestClock(TimePoint to) {
    auto& state = testClockState();
    std::lock_guard lock(state.mutex);
    state.now = std::max(state.now, to);
}

} // namespace

TimePoint runLoopNow() {
    if (gTestClockActive.load(std::memory_order_acquire)) {
        auto& state = testClockState();
        std::lock_guard lock(state.mutex);
        if (gTestClockActive.load(std::memory_order_relaxed)) return state.now;
    }
    return std::chrono::steady_clock::now();
}

TimePoint runLoopDeadline(Seconds fromNow) {
    const TimePoint now = runLoopNow();
    if (!(fromNow.count() > 0)) return now; // also NaN
    const Seconds room = std::chrono::duration_cast<Seconds>(TimePoint::max() - now);
    if (fromNow >= room) return TimePoint::max();
    return now + std::chrono::duration_cast<SteadyDuration>(fromNow);
}

TestClock::TestClock() {
    auto& state = testClockState();
    std::lock_guard lock(state.mutex);
    state.now = std::chrono::steady_clock::now();
    gTestClockActive.store(true, std::memory_order_release);
}

TestClock::~TestClock() {
    auto& state = testClockState();
    std::lock_guard lock(state.mutex);
    gTestClockActive.store(false, std::memory_order_release);
}

TimePoint TestClock::now() const {
    auto& state = testClockState();
    std::lock_guard lock(state.mutex);
    return state.now;
}

void TestClock::advance(Seconds by) {
    auto& state = testClockState();
    std::lock_guard lock(state.mutex);
    if (by.count() > 0) state.now += std::chrono::duration_cast<SteadyDuration>(by);
}

void TestClock::advanceTo(TimePoint to) {
    advanceTestClock(to);
}

Timer::Timer(Seconds interval, bool repeats, RunLoopModes modes, Callback callback)
    : interval_(interval), repeats_(repeats), modes_(modes), callback_(std::move(callback)) {}

Timer::~Timer() = default;

void Timer::invalidate() {
    valid_ = false;
}

bool Timer::isValid() const {
    return valid_;
}

RunLoopDriver::~RunLoopDriver() = default;

struct RunLoop::Impl {
    mutable std::mutex mutex;
    bool main = false;
    int epollFd = -1;
    int eventFd = -1;
    std::vector<std::shared_ptr<PerformItem>> performs;
    std::vector<std::shared_ptr<Timer>> timers;
    std::map<WatchId, std::shared_ptr<Watch>> watches;
    WatchId nextWatch = 1;
    std::uint64_t nextSeq = 1;
    std::vector<RunLoopMode> modes; // innermost last
    int runDepth = 0;
    bool stop = false;
    bool shutDown = false;
    std::shared_ptr<RunLoopDriver> driver;

    RunLoopMode modeLocked() const { return modes.empty() ? RunLoopMode::Default : modes.back(); }

    void drainWake() const {
        std::uint64_t count;
        while (::read(eventFd, &count, sizeof count) == sizeof count) {
        }
    }

    // Next due time of the mode's sources; now when one that arrived during
    // the last pass is already due.
    std::optional<TimePoint> nextDueLocked(RunLoopMode mode) const {
        std::optional<TimePoint> next;
        auto consider = [&](TimePoint t) {
            if (!next || t < *next) next = t;
        };
        for (const auto& p : performs)
            if (!p->cancelled && p->modes.contains(mode)) consider(p->due);
        for (const auto& t : timers)
            if (t->valid_ && !t->firing_ && t->modes_.contains(mode)) consider(t->fireDate_);
        return next;
    }

    void rescheduleLocked(Timer& t) {
        SteadyDuration interval = std::chrono::duration_cast<SteadyDuration>(t.interval_);
        TimePoint next = t.fireDate_ + interval;
        const TimePoint now = runLoopNow();
        if (next <= now) {
            // Behind: keep the rhythm, skip the missed fires.
            const auto missed = (now - t.fireDate_) / interval;
            next = t.fireDate_ + (missed + 1) * interval;
        }
        t.fireDate_ = next;
    }
};

RunLoop::RunLoop() : impl_(std::make_unique<Impl>()) {
    impl_->epollFd = ::epoll_create1(EPOLL_CLOEXEC);
    impl_->eventFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (impl_->epollFd < 0 || impl_->eventFd < 0) {
        const int err = errno;
        if (impl_->epollFd >= 0) ::close(impl_->epollFd);
        if (impl_->eventFd >= 0) ::close(impl_->eventFd);
        throw std::system_error(err, std::generic_category(), "run loop: cannot create its descriptors");
    }
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = kWakeId;
    ::epoll_ctl(impl_->epollFd, EPOLL_CTL_ADD, impl_->eventFd, &ev);
}

RunLoop::~RunLoop() {
    shutDown();
    ::close(impl_->eventFd);
    ::close(impl_->epollFd);
}

bool RunLoop::isMainThread() {
    return ::gettid() == ::getpid();
}

RunLoop& RunLoop::main() {
    // Never destroyed: other threads may still reach it while the process
    // ends; it is shut down at exit instead, which releases their waits.
    static RunLoop* loop = [] {
        auto* l = new RunLoop();
        l->impl_->main = true;
        std::atexit([] { RunLoop::main().shutDown(); });
        return l;
    }();
    return *loop;
}

RunLoop& RunLoop::current() {
    if (isMainThread()) return main();
    thread_local std::unique_ptr<RunLoop> loop(new RunLoop());
    return *loop;
}

bool RunLoop::isMain() const {
    return impl_->main;
}

RunLoop::Result RunLoop::runMode(RunLoopMode mode, TimePoint limit) {
    std::shared_ptr<RunLoopDriver> driver;
    {
        std::lock_guard lock(impl_->mutex);
        if (impl_->shutDown) return Result::ShutDown;
        impl_->modes.push_back(mode);
        ++impl_->runDepth;
        driver = impl_->driver;
    }
    if (driver)
        driver->run(*this, limit);
    else
        pollUntil(limit);
    Result result;
    {
        std::lock_guard lock(impl_->mutex);
        result = impl_->shutDown ? Result::ShutDown : impl_->stop ? Result::Stopped : Result::TimedOut;
        impl_->stop = false;
        --impl_->runDepth;
        impl_->modes.pop_back();
    }
    // The outer level runs in another mode: let its driver look again.
    wake();
    return result;
}

void RunLoop::pollUntil(TimePoint limit) {
    for (;;) {
        const std::optional<TimePoint> next = fireDue();
        if (stopRequested() || isShutDown()) return;
        const TimePoint now = runLoopNow();
        if (now >= limit) return;
        const TimePoint deadline = next ? std::min(*next, limit) : limit;
        if (deadline <= now) continue;

        pollfd pfd{impl_->epollFd, POLLIN, 0};
        if (gTestClockActive.load(std::memory_order_acquire) && deadline != TimePoint::max()) {
            // Test time: nothing ready means the sleep passes at once.
            if (::poll(&pfd, 1, 0) <= 0) advanceTestClock(deadline);
            continue;
        }
        if (deadline == TimePoint::max()) {
            ::ppoll(&pfd, 1, nullptr, nullptr);
            continue;
        }
        const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - now);
        timespec ts{static_cast<time_t>(left.count() / 1000000000), static_cast<long>(left.count() % 1000000000)};
        ::ppoll(&pfd, 1, &ts, nullptr);
    }
}

void RunLoop::stop() {
    {
        std::lock_guard lock(impl_->mutex);
        if (impl_->runDepth == 0) return;
        impl_->stop = true;
    }
    wake();
}

bool RunLoop::stopRequested() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->stop;
}

std::optional<RunLoopMode> RunLoop::currentMode() const {
    std::lock_guard lock(impl_->mutex);
    if (impl_->modes.empty()) return std::nullopt;
    return impl_->modes.back();
}

void RunLoop::pushMode(RunLoopMode mode) {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->modes.push_back(mode);
    }
    wake();
}

void RunLoop::popMode() {
    {
        std::lock_guard lock(impl_->mutex);
        if (!impl_->modes.empty()) impl_->modes.pop_back();
    }
    wake();
}

std::shared_ptr<Timer> RunLoop::scheduleTimer(Seconds interval, bool repeats, RunLoopModes modes,
                                              Timer::Callback callback) {
    if (repeats && !(interval >= Seconds(0.0001))) interval = Seconds(0.0001);
    std::shared_ptr<Timer> timer(new Timer(interval, repeats, modes, std::move(callback)));
    {
        std::lock_guard lock(impl_->mutex);
        if (impl_->shutDown) {
            timer->invalidate();
            return timer;
        }
        timer->fireDate_ = runLoopDeadline(interval);
        timer->seq_ = impl_->nextSeq++;
        impl_->timers.push_back(timer);
    }
    wake();
    return timer;
}

void RunLoop::performAfterDelay(const void* target, std::string key, Seconds delay, std::function<void()> fn,
                                RunLoopModes modes) {
    auto item = std::make_shared<PerformItem>();
    item->target = target;
    item->key = std::move(key);
    item->due = runLoopDeadline(delay);
    item->modes = modes;
    item->fn = std::move(fn);
    {
        std::lock_guard lock(impl_->mutex);
        if (impl_->shutDown) return;
        item->seq = impl_->nextSeq++;
        impl_->performs.push_back(std::move(item));
    }
    wake();
}

void RunLoop::cancelPerforms(const void* target) {
    if (!target) return;
    std::vector<std::shared_ptr<PerformItem>> dropped; // destroyed after the lock
    std::lock_guard lock(impl_->mutex);
    std::erase_if(impl_->performs, [&](const std::shared_ptr<PerformItem>& p) {
        if (p->target != target) return false;
        p->cancelled = true;
        dropped.push_back(p);
        return true;
    });
}

void RunLoop::cancelPerforms(const void* target, std::string_view key) {
    if (!target) return;
    std::vector<std::shared_ptr<PerformItem>> dropped; // destroyed after the lock
    std::lock_guard lock(impl_->mutex);
    std::erase_if(impl_->performs, [&](const std::shared_ptr<PerformItem>& p) {
        if (p->target != target || p->key != key) return false;
        p->cancelled = true;
        dropped.push_back(p);
        return true;
    });
}

bool RunLoop::hasPerforms(const void* target) const {
    if (!target) return false;
    std::lock_guard lock(impl_->mutex);
    return std::any_of(impl_->performs.begin(), impl_->performs.end(),
                       [&](const std::shared_ptr<PerformItem>& p) { return p->target == target && !p->cancelled; });
}

bool RunLoop::performOnMainThread(std::function<void()> fn, bool wait, RunLoopModes modes) {
    if (wait && isMainThread()) {
        invokeGuarded(fn);
        return true;
    }
    RunLoop& loop = main();
    auto item = std::make_shared<PerformItem>();
    item->due = runLoopNow();
    item->modes = modes;
    item->fn = std::move(fn);
    if (wait) item->wait = std::make_shared<WaitState>();
    std::shared_ptr<WaitState> waitState = item->wait;
    {
        std::lock_guard lock(loop.impl_->mutex);
        if (loop.impl_->shutDown) return false;
        item->seq = loop.impl_->nextSeq++;
        loop.impl_->performs.push_back(std::move(item));
    }
    loop.wake();
    return waitState ? waitState->await() : true;
}

RunLoop::WatchId RunLoop::watchDescriptor(int fd, short events, RunLoopModes modes,
                                          std::function<void(int, short)> callback) {
    auto watch = std::make_shared<Watch>();
    watch->fd = fd;
    watch->events = toEpoll(events);
    watch->modes = modes;
    watch->callback = std::move(callback);
    WatchId id;
    {
        std::lock_guard lock(impl_->mutex);
        if (impl_->shutDown || fd < 0) return 0;
        id = impl_->nextWatch++;
        epoll_event ev{};
        ev.events = watch->events;
        ev.data.u64 = id;
        if (::epoll_ctl(impl_->epollFd, EPOLL_CTL_ADD, fd, &ev) != 0) return 0;
        impl_->watches.emplace(id, std::move(watch));
    }
    wake();
    return id;
}

void RunLoop::unwatchDescriptor(WatchId id) {
    std::shared_ptr<Watch> watch;
    std::lock_guard lock(impl_->mutex);
    auto it = impl_->watches.find(id);
    if (it == impl_->watches.end()) return;
    it->second->removed = true;
    ::epoll_ctl(impl_->epollFd, EPOLL_CTL_DEL, it->second->fd, nullptr);
    watch = std::move(it->second); // its callback may be running: destroyed after the lock
    impl_->watches.erase(it);
}

int RunLoop::wakeDescriptor() const {
    return impl_->epollFd;
}

void RunLoop::wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(impl_->eventFd, &one, sizeof one);
}

std::optional<TimePoint> RunLoop::fireDue() {
    Impl& d = *impl_;
    d.drainWake();

    struct Due {
        TimePoint when;
        std::uint64_t seq;
        std::shared_ptr<PerformItem> perform;
        std::shared_ptr<Timer> timer;
    };
    std::vector<std::pair<std::shared_ptr<Watch>, short>> ready;
    std::vector<Due> due;
    std::vector<std::shared_ptr<Timer>> spent; // released after the lock
    RunLoopMode mode;
    {
        std::lock_guard lock(d.mutex);
        if (d.shutDown) return std::nullopt;
        mode = d.modeLocked();
        for (auto& [id, w] : d.watches) {
            if (w->parked && w->modes.contains(mode)) {
                epoll_event ev{};
                ev.events = w->events;
                ev.data.u64 = id;
                ::epoll_ctl(d.epollFd, EPOLL_CTL_MOD, w->fd, &ev);
                w->parked = false;
            }
        }
        epoll_event events[32];
        const int n = ::epoll_wait(d.epollFd, events, 32, 0);
        for (int i = 0; i < n; ++i) {
            // epoll_event is packed: read the id out before binding a reference to it.
            const std::uint64_t watchId = events[i].data.u64;
            auto it = d.watches.find(watchId);
            if (it == d.watches.end()) continue;
            Watch& w = *it->second;
            if (!w.modes.contains(mode)) {
                // Level-triggered: keep it from waking us until its mode runs.
                epoll_event ev{};
                ev.data.u64 = it->first;
                ::epoll_ctl(d.epollFd, EPOLL_CTL_MOD, w.fd, &ev);
                w.parked = true;
                continue;
            }
            ready.emplace_back(it->second, fromEpoll(events[i].events));
        }

        // What is due now; sources added while this pass runs wait for the
        // next one.
        const TimePoint now = runLoopNow();
        for (const auto& p : d.performs)
            if (!p->cancelled && p->modes.contains(mode) && p->due <= now)
                due.push_back({p->due, p->seq, p, nullptr});
        std::erase_if(d.timers, [&](const std::shared_ptr<Timer>& t) {
            if (t->valid_) return false;
            spent.push_back(t);
            return true;
        });
        for (const auto& t : d.timers)
            if (!t->firing_ && t->modes_.contains(mode) && t->fireDate_ <= now)
                due.push_back({t->fireDate_, t->seq_, nullptr, t});
    }
    std::sort(due.begin(), due.end(),
              [](const Due& a, const Due& b) { return a.when != b.when ? a.when < b.when : a.seq < b.seq; });

    for (auto& entry : ready) {
        // Plain names: clang 14 cannot capture structured bindings in a lambda.
        auto& watch = entry.first;
        const auto revents = entry.second;
        {
            std::lock_guard lock(d.mutex);
            if (watch->removed) continue;
        }
        invokeGuarded([&] { watch->callback(watch->fd, revents); });
    }

    for (Due& item : due) {
        if (item.perform) {
            {
                std::lock_guard lock(d.mutex);
                if (item.perform->cancelled) continue;
                std::erase(d.performs, item.perform);
            }
            invokeGuarded(item.perform->fn);
            if (item.perform->wait) item.perform->wait->finish(true);
            continue;
        }
        Timer& t = *item.timer;
        {
            std::lock_guard lock(d.mutex);
            if (!t.valid_ || t.firing_) continue;
            t.firing_ = true;
        }
        invokeGuarded([&] { t.callback_(t); });
        std::lock_guard lock(d.mutex);
        t.firing_ = false;
        if (t.repeats_)
            d.rescheduleLocked(t);
        else
            t.valid_ = false;
    }

    std::lock_guard lock(d.mutex);
    if (d.shutDown) return std::nullopt;
    return d.nextDueLocked(d.modeLocked());
}

void RunLoop::setDriver(std::shared_ptr<RunLoopDriver> driver) {
    std::lock_guard lock(impl_->mutex);
    impl_->driver = std::move(driver);
}

void RunLoop::shutDown() {
    std::vector<std::shared_ptr<PerformItem>> performs;
    std::vector<std::shared_ptr<Timer>> timers;
    std::map<WatchId, std::shared_ptr<Watch>> watches;
    std::shared_ptr<RunLoopDriver> driver;
    {
        std::lock_guard lock(impl_->mutex);
        if (impl_->shutDown) return;
        impl_->shutDown = true;
        performs.swap(impl_->performs);
        timers.swap(impl_->timers);
        watches.swap(impl_->watches);
        driver.swap(impl_->driver);
        for (auto& p : performs) p->cancelled = true;
        for (auto& [id, w] : watches) {
            w->removed = true;
            ::epoll_ctl(impl_->epollFd, EPOLL_CTL_DEL, w->fd, nullptr);
        }
    }
    for (auto& p : performs)
        if (p->wait) p->wait->finish(false);
    for (auto& t : timers) t->invalidate();
    wake();
}

bool RunLoop::isShutDown() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->shutDown;
}

RunLoopModeScope::RunLoopModeScope(RunLoopMode mode, RunLoop& loop) : loop_(loop) {
    loop_.pushMode(mode);
}

RunLoopModeScope::~RunLoopModeScope() {
    loop_.popMode();
}

} // namespace kdf
