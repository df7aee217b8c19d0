#include "AppMainCntlrRelayout.h"

#include "AppMainCntlr.h"
#include "QlrDeviceCntlr.h"
#include "TvWindow.h"

#include <foundation/RunLoop.h>

#include <QApplication>
#include <QWidget>

#include <algorithm>

namespace qlr_relayout {

namespace {

QRect mirrored(QRect r, int width) { return QRect(width - r.x() - r.width(), r.y(), r.width(), r.height()); }

// How far b's left part lies under a's right part (0: apart).
int overlap(QRect left, QRect right) { return std::max(0, left.x() + left.width() - right.x()); }

} // namespace

InfoBarButtons layoutScanInfoBar(int barWidth, QRect outputSetting, QRect again, QRect cancel, QRect finish,
                                 bool ltr) {
    if (!ltr) {
        // Worked out left to right on the mirrored bar, then mirrored back.
        InfoBarButtons b = layoutScanInfoBar(barWidth, mirrored(outputSetting, barWidth), mirrored(again, barWidth),
                                             mirrored(cancel, barWidth), mirrored(finish, barWidth), true);
        return {mirrored(b.again, barWidth), mirrored(b.cancel, barWidth), mirrored(b.finish, barWidth)};
    }
    finish.moveLeft(barWidth - kFinishRightInset - finish.width());
    cancel.moveLeft(finish.x() - kCancelGap - cancel.width());
    again.moveLeft(cancel.x() - kAgainGap - again.width());

    again.translate(overlap(outputSetting, again), 0);
    cancel.translate(overlap(again, cancel), 0);
    finish.translate(overlap(cancel, finish), 0);
    finish.setWidth(kFinishWidth);

    if (const int still = overlap(outputSetting, again); still > 0) {
        for (QRect* r : {&again, &cancel, &finish}) r->translate(still, 0);
    }
    // The finish button ends inside the bar, and never before it begins.
    if (finish.x() + finish.width() > barWidth) finish.setWidth(std::max(0, barWidth - finish.x()));
    return {again, cancel, finish};
}

QRect layoutScanButton(int areaWidth, QRect button, QRect addToJob, bool ltr) {
    button.moveLeft(int((areaWidth - button.width()) * 0.5));
    const int left = std::max(button.x(), addToJob.x());
    const int right = std::min(button.x() + button.width(), addToJob.x() + addToJob.width());
    if (right > left && addToJob.width() > 0) {
        const int over = right - left;
        if (ltr) {
            button.moveLeft(std::max(kScanButtonInset, button.x() - over));
        } else {
            button.moveLeft(button.x() + over);
            if (button.x() + button.width() > areaWidth - kScanButtonInset) {
                const int start = addToJob.x() + addToJob.width();
                button = QRect(start, button.y(), std::max(0, areaWidth - kScanButtonInset - start), button.height());
            }
        }
    }
    if (button.width() > areaWidth - 2 * kScanButtonInset)
        button = QRect(kScanButtonInset, button.y(), std::max(0, areaWidth - 2 * kScanButtonInset), button.height());
    return button;
}

// ---- The data source's windows.

KdWindows::KdWindows(AppMainCntlr& cntlr, Ops ops) : mCntlr(cntlr), mOps(std::move(ops)) {}

QWidget* KdWindows::windowOfNotification(const kdf::Notification& n) {
    // The settings window sends itself as a pointer value; the platform's
    // window notifications come from the window as sender.
    const kdf::Value* object = n.object();
    const kdf::Pointer* pointer = object ? object->pointer() : nullptr;
    const void* address = pointer ? pointer->address : (object ? nullptr : n.sender());
    if (!address) return nullptr;
    // Only an address that is one of our live top-level windows is used.
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window == address) return window;
    return nullptr;
}

void KdWindows::showKdWindow(const kdf::Notification& n) {
    QWidget* window = windowOfNotification(n);
    if (!window) return;
    const bool modal = mOps.isOpenScnPanel && mOps.isOpenScnPanel();
    if (!mCntlr.kdMainWin()) {
        if (window == mCntlr.kdSubWin()) return;
        if (modal && mOps.beginModal) mOps.beginModal(window, mOps.parentWindow ? mOps.parentWindow() : nullptr);
        mCntlr.setKdMainWin(window);
    } else if (!mCntlr.kdSubWin()) {
        if (window == mCntlr.kdMainWin()) return;
        if (modal && mOps.beginModal) mOps.beginModal(window, mOps.parentWindow ? mOps.parentWindow() : nullptr);
        mCntlr.setKdSubWin(window);
    } else {
        return;
    }
    if (mOps.performLater) mOps.performLater([this] { orderFrontDriverWinByPerform(); });
}

void KdWindows::orderFrontDriverWinByPerform() {
    for (QWidget* window : {mCntlr.kdMainWin(), mCntlr.kdSubWin()})
        if (window && window->isVisible() && window->isActiveWindow()) window->raise();
}

void KdWindows::hideKdWindow(const kdf::Notification& n) {
    if (!mCntlr.kdMainWin() && !mCntlr.kdSubWin()) return;
    QWidget* window = windowOfNotification(n);
    if (!window) return;
    const bool modal = mOps.isOpenScnPanel && mOps.isOpenScnPanel();
    if (window == mCntlr.kdMainWin()) {
        if (modal && mOps.endModal) mOps.endModal(window);
        mCntlr.setKdMainWin(nullptr);
    } else if (window == mCntlr.kdSubWin()) {
        if (modal && mOps.endModal) mOps.endModal(window);
        mCntlr.setKdSubWin(nullptr);
    }
}

void KdWindows::willMiniKdWindow(const kdf::Notification& n) {
    if (!mOps.isOpenScnPanel || !mOps.isOpenScnPanel()) return;
    if (!mCntlr.kdMainWin() && !mCntlr.kdSubWin()) return;
    QWidget* window = windowOfNotification(n);
    if (window && (window == mCntlr.kdMainWin() || window == mCntlr.kdSubWin()) && mOps.endModal)
        mOps.endModal(window);
    // Any window going down leaves the parent shielded.
    if (mOps.shieldParent) mOps.shieldParent(mOps.parentWindow ? mOps.parentWindow() : nullptr);
}

void KdWindows::didDeminiKdWindow(const kdf::Notification& n) {
    if (!mOps.isOpenScnPanel || !mOps.isOpenScnPanel()) return;
    if (!mCntlr.kdMainWin() && !mCntlr.kdSubWin()) return;
    QWidget* window = mCntlr.kdMainWin() ? mCntlr.kdMainWin() : mCntlr.kdSubWin();
    if (!window) window = windowOfNotification(n);
    if (window && mOps.beginModal) mOps.beginModal(window, mOps.parentWindow ? mOps.parentWindow() : nullptr);
}

KdWindows::Ops KdWindows::defaultOps(AppMainCntlr& cntlr) {
    Ops ops;
    ops.isOpenScnPanel = [&cntlr] {
        auto* device = cntlr.deviceCntlr();
        return device && device->isOpenScnPanel();
    };
    ops.parentWindow = [&cntlr]() -> QWidget* { return cntlr.mainWindow(); };
    ops.beginModal = [](QWidget* window, QWidget* parent) { TvWindow::beginModalWindow(window, parent, false); };
    ops.endModal = [](QWidget* window) { TvWindow::endModalWindow(window, false); };
    // The kit shields a parent only while a window is modal over it; the
    // window that comes back is made modal again, which shields it then.
    ops.shieldParent = [](QWidget*) {};
    ops.performLater = [&cntlr](std::function<void()> work) {
        kdf::RunLoop::main().performAfterDelay(&cntlr, "orderFrontDriverWinByPerform", kdf::Seconds(0), std::move(work));
    };
    return ops;
}

} // namespace qlr_relayout
