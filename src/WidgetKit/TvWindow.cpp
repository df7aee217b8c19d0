#include "TvWindow.h"

#include "TvNotifications.h"
#include "TvUI.h"

#include <foundation/NotificationCenter.h>
#include <foundation/RunLoop.h>
#include <ui/ModalShield.h>
#include <ui/ViewAnimation.h>

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWindow>

namespace {

constexpr const char* kFadeStepKey = "TvWindowAnimation";
constexpr const char* kCloseBlockKey = "exeWindowCloseCompleteBlock";

// A press on a shield closes the parent's popover while it may close.
void shieldPressed(QWidget* window) {
    const QList<QWidget*> modals = kdui::modalWindows(window);
    if (modals.isEmpty()) return;
    auto* popover = qobject_cast<TvWindow*>(modals.first());
    if (popover && popover->isPopoverWindow() && popover->isValidClose()) popover->resignKeyWindow();
}

// The deferred steps of a window go with it.
void cancelStepsWithWindow(QWidget* window) {
    if (window->property("kd_steps_cancelled_on_destroy").toBool()) return;
    window->setProperty("kd_steps_cancelled_on_destroy", true);
    QObject::connect(window, &QObject::destroyed, [key = static_cast<const void*>(window)] {
        kdf::RunLoop::main().cancelPerforms(key);
    });
}

void setParentIsValidClose(QWidget* parent, bool valid) {
    auto* popover = qobject_cast<TvWindow*>(parent);
    if (popover && popover->isPopoverWindow()) popover->setIsValidClose(valid);
}

void redisplay(QWidget* window) {
    window->update();
}

} // namespace

TvWindow::TvWindow(QWidget* parent, Qt::WindowFlags flags) : QWidget(parent, flags) {
    mFocusConnection =
        connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) { focusChanged(now); });
}

TvWindow::~TvWindow() {
    // QWidget's destructor moves the focus after this part is gone.
    disconnect(mFocusConnection);
    kdf::RunLoop::main().cancelPerforms(static_cast<const QWidget*>(this));
}

void TvWindow::exeWindowCloseCompleteBlock() {
    if (!mWindowCloseCompleteBlock) return;
    auto block = std::move(mWindowCloseCompleteBlock);
    mWindowCloseCompleteBlock = nullptr;
    block();
}

void TvWindow::focusChanged(QWidget* now) {
    QScrollArea* area = mScrollArea.data();
    if (!now || !area || !area->widget() || !area->widget()->isAncestorOf(now)) return;
    QWidget* document = area->widget();
    // Qt's coordinates are device-independent already: no scale factor.
    const QRect target(now->mapTo(document, QPoint(0, 0)), now->size());
    const QRect visible(-document->pos(), area->viewport()->size());
    if (visible.united(target) == visible) return;
    area->horizontalScrollBar()->setValue(target.x());
    area->verticalScrollBar()->setValue(target.y());
}

void TvWindow::beginModalWindow(QWidget* window, QWidget* parent, bool animate, QRect /*fromFrame*/,
                                std::function<void()> completeBlock) {
    if (parent) {
        setParentIsValidClose(parent, false);
        if (parent->isMinimized()) parent->setWindowState(parent->windowState() & ~Qt::WindowMinimized);
        parent->raise();
        parent->activateWindow();
        kdui::setShieldPressHandler(shieldPressed);
        kdui::setShieldWindow(parent, true);
        kdui::addModalWindow(parent, window);
    }
    beginOpenWindow(window, animate, std::move(completeBlock));
}

void TvWindow::endModalWindow(QWidget* window, bool orderOut) {
    if (!window) return;
    QWidget* parent = kdui::behindWindow(window);
    if (parent) {
        kdui::removeModalWindow(parent, window);
        if (kdui::modalWindows(parent).isEmpty()) kdui::removeShieldWindow(parent);
    }
    if (!orderOut) return;
    if (parent) setParentIsValidClose(parent, true);
    fadeInOutWindow(window, false);
}

void TvWindow::beginOpenWindow(QWidget* window, bool animate, std::function<void()> completeBlock) {
    if (!window) return;
    redisplay(window);
    if (animate) {
        if (auto* tv = qobject_cast<TvWindow*>(window)) tv->setWindowCloseCompleteBlock(std::move(completeBlock));
        fadeInOutWindow(window, true);
    } else {
        window->show();
        window->raise();
        window->activateWindow();
    }
}

void TvWindow::endCloseWindow(QWidget* window) {
    if (window) fadeInOutWindow(window, false);
}

QWidget* TvWindow::behindWindow(const QWidget* window) {
    return kdui::behindWindow(window);
}

void TvWindow::fadeInOutWindow(QWidget* window, bool fadeIn) {
    if (!window) return;
    auto* flat = qobject_cast<TvFlatWindow*>(window);
    const double resting = flat ? flat->baseAlpha() : 1.0;
    cancelStepsWithWindow(window);
    window->setWindowOpacity(fadeIn ? 0.0 : resting);
    window->show();
    window->raise();
    kdui::ViewAnimation fade;
    fade.target = window;
    fade.effect = fadeIn ? kdui::ViewAnimation::Effect::FadeIn : kdui::ViewAnimation::Effect::FadeOut;
    fade.fadeOpacity = resting;
    kdui::runViewAnimations({fade}, kFadeSeconds, true);

    QPointer<QWidget> guarded = window;
    kdf::RunLoop::main().performAfterDelay(
        static_cast<const QWidget*>(window), kFadeStepKey, kdf::Seconds(0),
        [guarded, fadeIn, resting] {
            QWidget* w = guarded.data();
            if (!w) return;
            if (fadeIn) {
                w->setWindowOpacity(resting);
                w->raise();
                w->activateWindow();
                return;
            }
            w->hide();
            w->setWindowOpacity(1.0);
            if (qobject_cast<TvWindow*>(w))
                kdf::RunLoop::main().performAfterDelay(
                    static_cast<const QWidget*>(w), kCloseBlockKey, kdf::Seconds(0),
                    [guarded] {
                        if (auto* t = qobject_cast<TvWindow*>(guarded.data())) t->exeWindowCloseCompleteBlock();
                    },
                    kdf::kCommonModes);
        },
        kdf::kCommonModes);
}

TvFlatWindow::TvFlatWindow(QWidget* parent)
    : TvWindow(parent, Qt::Window | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint) {
    setAttribute(Qt::WA_TranslucentBackground);
}

void TvFlatWindow::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && windowHandle()) {
        windowHandle()->startSystemMove();
        event->accept();
        return;
    }
    TvWindow::mousePressEvent(event);
}

TvFlatWindowContentView::TvFlatWindowContentView(QWidget* parent, int style) : QWidget(parent), mStyle(style) {
    setMouseTracking(true);
    setAttribute(Qt::WA_Hover);
}

void TvFlatWindowContentView::setStyle(int style) {
    mStyle = style;
    update();
}

void TvFlatWindowContentView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (mStyle == Alert)
        TvUI::drawAlertContentView(painter, QRectF(rect()));
    else if (mStyle == Panel)
        TvUI::drawPanelContentView(painter, QRectF(rect()));
}

void TvFlatWindowContentView::mouseMoveEvent(QMouseEvent* event) {
    mouseChanged(true);
    QWidget::mouseMoveEvent(event);
}

void TvFlatWindowContentView::enterEvent(QEnterEvent* event) {
    mouseChanged(true);
    QWidget::enterEvent(event);
}

void TvFlatWindowContentView::leaveEvent(QEvent* event) {
    mouseChanged(false);
    QWidget::leaveEvent(event);
}

void TvFlatWindowContentView::mouseChanged(bool inside) {
    kdf::NotificationCenter::defaultCenter().post(kMouseMovedInFlatWindowContentViewDidChange, this);
    auto* flat = qobject_cast<TvFlatWindow*>(window());
    if (!flat || mStyle != Panel || !mIsChangeAlpha) return;
    flat->setWindowOpacity(inside ? 1.0 : flat->baseAlpha());
}
