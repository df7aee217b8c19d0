#include "ScrollableView.h"

#include "FormLoading.h"

#include <foundation/RunLoop.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLayout>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyleOptionFocusRect>

namespace ComTavrolekKD720 {

namespace {

constexpr const char* kFocusKey = "handleBecomeFirstResponder";

KFScrollableView* enclosingScrollableView(QWidget* widget) {
    for (QWidget* w = widget ? widget->parentWidget() : nullptr; w; w = w->parentWidget()) {
        if (auto* view = dynamic_cast<KFScrollableView*>(w)) return view;
    }
    return nullptr;
}

// On every focus change in the application: schedule the scroll of the
// scrollable view holding the newly focused widget.
class FocusFilter final : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::FocusIn && watched->isWidgetType()) {
            if (KFScrollableView* view = enclosingScrollableView(static_cast<QWidget*>(watched))) {
                kdf::RunLoop& loop = kdf::RunLoop::main();
                loop.cancelPerforms(view, kFocusKey);
                QPointer<KFScrollableView> guard(view);
                loop.performAfterDelay(view, kFocusKey, kdf::Seconds(KFScrollableView::kFocusDelay), [guard] {
                    if (guard) guard->handleBecomeFirstResponder();
                });
            }
        }
        return false;
    }
};

FocusFilter* sFocusFilter = nullptr;
int sFocusFilterRefCount = 0;

} // namespace

KFFocusRingView::KFFocusRingView(QWidget* parent) : QWidget(parent) {}

void KFFocusRingView::paintEvent(QPaintEvent*) {
    auto* scroll = findChild<QScrollArea*>(QString(), Qt::FindDirectChildrenOnly);
    QWidget* document = scroll ? scroll->widget() : nullptr;
    if (!document || !isActiveWindow() || !IsFullKeyboardAccessInView(document) || !document->hasFocus()) return;
    QPainter painter(this);
    QStyleOptionFocusRect ring;
    ring.initFrom(this);
    ring.rect = scroll->geometry().adjusted(-2, -2, 2, 2);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &ring, &painter, this);
}

KFScrollableView::KFScrollableView(QWidget* parent) : QWidget(parent) {}

KFScrollableView::~KFScrollableView() {
    kdf::RunLoop::main().cancelPerforms(this);
    if (mFollowing) terminateView();
}

QScrollArea* KFScrollableView::enclosingScrollArea() const {
    for (QWidget* w = parentWidget(); w; w = w->parentWidget()) {
        if (auto* scroll = qobject_cast<QScrollArea*>(w)) return scroll->widget() == this ? scroll : nullptr;
    }
    return nullptr;
}

bool KFScrollableView::isFocusFilterInstalled() {
    return sFocusFilter != nullptr;
}

void KFScrollableView::setup() {
    QScrollArea* scroll = enclosingScrollArea();
    if (!scroll || mFollowing) return;
    if (IsFullKeyboardAccessInView(this)) setFocusPolicy(Qt::StrongFocus);
    QWidget* former = scroll->parentWidget();
    auto* ring = new KFFocusRingView;
    const QRect frame = scroll->geometry();
    if (former && former->layout()) delete former->layout()->replaceWidget(scroll, ring);
    else ring->setParent(former);
    ring->setGeometry(frame.adjusted(-KFFocusRingView::kMargin, -KFFocusRingView::kMargin,
                                     KFFocusRingView::kMargin, KFFocusRingView::kMargin));
    ring->setSizePolicy(scroll->sizePolicy());
    auto* ringLayout = new QVBoxLayout(ring);
    ringLayout->setContentsMargins(KFFocusRingView::kMargin, KFFocusRingView::kMargin, KFFocusRingView::kMargin,
                                   KFFocusRingView::kMargin);
    ringLayout->addWidget(scroll);
    ring->show();
    mFocusRingView = ring;

    mFollowing = true;
    if (sFocusFilterRefCount++ == 0) {
        sFocusFilter = new FocusFilter;
        qApp->installEventFilter(sFocusFilter);
    }
}

void KFScrollableView::terminateView() {
    if (!mFollowing) return;
    mFollowing = false;
    kdf::RunLoop::main().cancelPerforms(this);
    if (--sFocusFilterRefCount <= 0) {
        sFocusFilterRefCount = 0;
        if (qApp) qApp->removeEventFilter(sFocusFilter);
        delete sFocusFilter;
        sFocusFilter = nullptr;
    }
}

void KFScrollableView::handleBecomeFirstResponder() {
    QScrollArea* scroll = enclosingScrollArea();
    QWidget* focused = QApplication::focusWidget();
    if (!scroll || !focused || focused == this || !isAncestorOf(focused)) return;
    const QRect frame(focused->mapTo(this, QPoint(0, 0)), focused->size());
    const QRect visible(-pos(), scroll->viewport()->size());
    if (visible.contains(frame)) return;
    // The smallest scroll that shows the frame with the margin above and below.
    const QRect wanted = frame.adjusted(0, -kFocusMargin, 0, kFocusMargin);
    const auto reach = [](QScrollBar* bar, int start, int end, int visibleStart, int visibleLength) {
        if (end > visibleStart + visibleLength) bar->setValue(bar->value() + end - (visibleStart + visibleLength));
        if (start < visibleStart) bar->setValue(bar->value() - (visibleStart - start));
    };
    reach(scroll->verticalScrollBar(), wanted.top(), wanted.top() + wanted.height(), visible.top(), visible.height());
    reach(scroll->horizontalScrollBar(), wanted.left(), wanted.left() + wanted.width(), visible.left(),
          visible.width());
}

void KFScrollableView::keyPressEvent(QKeyEvent* event) {
    QScrollArea* scroll = enclosingScrollArea();
    if (scroll && hasFocus() && IsFullKeyboardAccessInView(this)) {
        QScrollBar* v = scroll->verticalScrollBar();
        QScrollBar* h = scroll->horizontalScrollBar();
        switch (event->key()) {
        case Qt::Key_Up: v->setValue(v->value() - v->singleStep()); return;
        case Qt::Key_Down: v->setValue(v->value() + v->singleStep()); return;
        case Qt::Key_Left: h->setValue(h->value() - h->singleStep()); return;
        case Qt::Key_Right: h->setValue(h->value() + h->singleStep()); return;
        default: break;
        }
    }
    const bool arrow = event->key() == Qt::Key_Up || event->key() == Qt::Key_Down || event->key() == Qt::Key_Left ||
                       event->key() == Qt::Key_Right;
    if (arrow && scroll) {
        // An arrow a control left unused: the scroll area would scroll by
        // it, but only the view itself scrolls by arrows.
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void KFScrollableView::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    if (mFocusRingView) mFocusRingView->update();
}

void KFScrollableView::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    if (mFocusRingView) mFocusRingView->update();
}

bool KFScrollableView::focusNextPrevChild(bool next) {
    // Moves focus along the window's chain itself, so the scroll area does
    // not scroll at once: the view's own delayed scroll places the control.
    QWidget* start = QApplication::focusWidget();
    if (!start) return QWidget::focusNextPrevChild(next);
    for (QWidget* w = next ? start->nextInFocusChain() : start->previousInFocusChain(); w && w != start;
         w = next ? w->nextInFocusChain() : w->previousInFocusChain()) {
        if ((w->focusPolicy() & Qt::TabFocus) == Qt::TabFocus && w->isEnabled() && w->isVisibleTo(window()) &&
            w->window() == window() && !w->focusProxy()) {
            w->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
            return true;
        }
    }
    return QWidget::focusNextPrevChild(next);
}

} // namespace ComTavrolekKD720
