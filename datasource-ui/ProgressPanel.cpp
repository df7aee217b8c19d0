#include "KdSettingsController.h"

#include "ShieldWindow.h"

#include <foundation/RunLoop.h>

#include <QAbstractButton>
#include <QApplication>
#include <QEventLoop>

namespace ComTavrolekKD720 {

// The panel's modal session: an application-modal window. Qt takes a
// modality change only while the window is hidden, so a session begins
// and ends with the panel shown again.
namespace {

void setSession(QWidget* panel, bool modal) {
    const bool visible = panel->isVisible();
    if (visible) panel->hide();
    panel->setWindowModality(modal ? Qt::ApplicationModal : Qt::NonModal);
    if (visible || modal) {
        panel->show();
        panel->raise();
    }
}

} // namespace

void KdUIController::setShield(bool on) {
    if (on) {
        if (isMainWindowVisible()) FWindow::setShieldWindow(mWindow, false);
        for (QWidget* palette : palettes())
            if (palette && palette->isVisible()) FWindow::setShieldWindow(palette, true);
        return;
    }
    if (isMainWindowVisible()) FWindow::removeShieldWindow(mWindow);
    for (QWidget* palette : palettes())
        if (palette && palette->isVisible()) FWindow::removeShieldWindow(palette);
}

void KdUIController::showProgressWindow() {
    if (!mProgressWindow) return;
    mProgressCancel->setEnabled(true);
    if (!mProgressWindow->isVisible()) {
        if (progressSession_) {
            mProgressWindow->show();
            mProgressWindow->raise();
        } else {
            if (mWindow && mWindow->isVisible()) {
                // Over the main window's centre.
                QRect frame(QPoint(0, 0), mProgressWindow->size());
                frame.moveCenter(mWindow->geometry().center());
                mProgressWindow->move(frame.topLeft());
            }
            setSession(mProgressWindow, true);
            progressSession_ = true;
        }
    }
    idleProgress();
}

void KdUIController::hideProgressWindow() {
    if (!mProgressWindow) return;
    if (progressSession_) mProgressWindow->setWindowModality(Qt::NonModal);
    mProgressWindow->hide();
    progressSession_ = false;
}

void KdUIController::suspendProgressWindow() {
    if (!mProgressWindow || !progressSession_ || QApplication::activeModalWidget() != mProgressWindow) return;
    setSession(mProgressWindow, false);
    progressSession_ = false;
}

void KdUIController::resumeProgressWindow() {
    if (!mProgressWindow || !mProgressWindow->isVisible() || progressSession_) return;
    QWidget* key = QApplication::activeWindow();
    setSession(mProgressWindow, true);
    progressSession_ = true;
    if (key && key != mProgressWindow && key->property("kdWorksWhenModal").toBool() && !key->isActiveWindow())
        key->activateWindow();
}

bool KdUIController::idleProgress() {
    if (!mProgressWindow || QApplication::activeModalWidget() != mProgressWindow) return false;
    {
        // The panel's events, and the run loop's modal-panel sources, for
        // at most 0.05 s.
        kdf::RunLoopModeScope modal(kdf::RunLoopMode::ModalPanel);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return mProgressCancel && !mProgressCancel->isEnabled();
}

void KdUIController::abortScan(Sender) {
    if (mProgressCancel) mProgressCancel->setEnabled(false);
}

} // namespace ComTavrolekKD720
