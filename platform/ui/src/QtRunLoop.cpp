#include "ui/QtRunLoop.h"

#include <foundation/RunLoop.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QObject>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <climits>
#include <cstdio>
#include <memory>
#include <vector>

namespace kdui {

namespace {

// Milliseconds until t, rounded up so a timer never fires before t.
int msUntil(kdf::TimePoint t) {
    const auto left = t - kdf::runLoopNow();
    if (left <= decltype(left)::zero()) return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > INT_MAX ? INT_MAX : int(ms);
}

class QtRunLoopDriver final : public QObject, public kdf::RunLoopDriver {
public:
    explicit QtRunLoopDriver(kdf::RunLoop& loop)
        : loop_(loop), notifier_(loop.wakeDescriptor(), QSocketNotifier::Read) {
        deadline_.setSingleShot(true);
        deadline_.setTimerType(Qt::PreciseTimer);
        connect(&notifier_, &QSocketNotifier::activated, this, [this] { pass(); });
        connect(&deadline_, &QTimer::timeout, this, [this] { pass(); });
        // What was scheduled before Qt took over.
        QTimer::singleShot(0, this, [this] { pass(); });
    }

    void run(kdf::RunLoop& loop, kdf::TimePoint limit) override {
        QEventLoop nested;
        QTimer limitTimer;
        limitTimer.setSingleShot(true);
        limitTimer.setTimerType(Qt::PreciseTimer);
        connect(&limitTimer, &QTimer::timeout, &nested, [&] {
            // Rounded up, but check: a timer may come a little early.
            if (kdf::runLoopNow() >= limit)
                nested.quit();
            else
                limitTimer.start(msUntil(limit));
        });
        nested_.push_back(&nested);
        pass();
        if (!loop.stopRequested() && !loop.isShutDown() && kdf::runLoopNow() < limit) {
            if (limit != kdf::TimePoint::max()) limitTimer.start(msUntil(limit));
            nested.exec();
        }
        nested_.pop_back();
        // The outer level, in its own mode, looks again.
        loop.wake();
    }

private:
    void pass() {
        const std::optional<kdf::TimePoint> next = loop_.fireDue();
        if (!nested_.empty() && (loop_.stopRequested() || loop_.isShutDown())) nested_.back()->quit();
        if (next)
            deadline_.start(msUntil(*next));
        else
            deadline_.stop();
    }

    kdf::RunLoop& loop_;
    QSocketNotifier notifier_;
    QTimer deadline_;
    std::vector<QEventLoop*> nested_; // innermost runMode last
};

// The application object the driver was installed for; a second install
// for it changes nothing.
const QCoreApplication* sInstalledFor = nullptr;

void uninstall() {
    kdf::RunLoop::main().setDriver(nullptr);
    sInstalledFor = nullptr;
}

} // namespace

void installQtRunLoopDriver() {
    if (!QCoreApplication::instance() || !kdf::RunLoop::isMainThread()) {
        std::fprintf(stderr, "Qt run-loop driver: install it on the main thread after the application object\n");
        return;
    }
    if (sInstalledFor == QCoreApplication::instance()) return;
    kdf::RunLoop& loop = kdf::RunLoop::main();
    loop.setDriver(std::make_shared<QtRunLoopDriver>(loop));
    sInstalledFor = QCoreApplication::instance();
    qAddPostRoutine(&uninstall);
}

} // namespace kdui
