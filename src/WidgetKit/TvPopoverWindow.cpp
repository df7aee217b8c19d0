#include "TvPopoverWindow.h"

#include "TvUI.h"

#include <foundation/RunLoop.h>

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPointer>
#include <QScreen>

#include <algorithm>
#include <cmath>

namespace {

constexpr const char* kDeactivatedStepKey = "TvPopoverWindow.deactivated";

// The distance from a side's start to the anchor's middle: the body's
// inset, the corner and half the arrow's base.
constexpr double kArrowLead = 25;
// What a side's length leaves for the arrow's offset.
constexpr double kSideReserve = 30;

TvPopoverWindow::CheckSettingValue& checkHook() {
    static TvPopoverWindow::CheckSettingValue hook;
    return hook;
}

// The arrow faces the anchor: it sits on the body's side opposite to the
// side of the anchor the popover opens on.
int arrowEdgeOfRequest(int requested) {
    switch (requested) {
    case 0: return 4;
    case 4: return 0;
    case 2: return 6;
    case 6: return 2;
    default: return requested;
    }
}

bool isVertical(int side) {
    return side == 0 || side == 4;
}

// The origin for an arrow side, in y-down screen coordinates.
QPointF originFor(int side, const QRectF& a, QSizeF size, double offset) {
    const double w = size.width(), h = size.height();
    switch (side) {
    case 0: return {a.x() + a.width(), a.y() + a.height() * 0.5 - (kArrowLead + offset)};
    case 4: return {a.x() - w, a.y() + a.height() * 0.5 + kArrowLead + offset - h};
    case 2: return {a.x() + a.width() * 0.5 + kArrowLead + offset - w, a.y() + a.height()};
    default: return {a.x() + a.width() * 0.5 - (kArrowLead + offset), a.y() - h};
    }
}

// Moves the frame inside the visible area; too large a frame keeps its
// left and top edges on the screen.
QRectF fitted(QRectF frame, const QRectF& visible) {
    frame.moveLeft(std::max(frame.left(), visible.left()));
    frame.moveLeft(std::min(frame.left(), visible.right() - frame.width()));
    frame.moveTop(std::min(frame.top(), visible.bottom() - frame.height()));
    frame.moveTop(std::max(frame.top(), visible.top()));
    return frame;
}

} // namespace

// --- Placement.

int TvPopoverWindow::sideOfEdge(int rectEdge) {
    const int code = ((rectEdge % 8) + 8) % 8;
    return code % 2 ? (code + 1) % 8 : code;
}

double TvPopoverWindow::usableLength(double sideLength) {
    // A popover under 51 pixels would get a negative room, and the offset's
    // limits would contradict each other.
    return std::max(0.0, sideLength - 2 * TvPopoverWindowContentView::kInset - kSideReserve);
}

TvPopoverPlacement TvPopoverWindow::placement(const QRectF& anchor, QSize size, const QRectF& visibleFrame,
                                              int requestedEdge, double valueFromCorner) {
    int edge = arrowEdgeOfRequest(requestedEdge);
    int side = sideOfEdge(edge);
    const QSizeF s(size);
    const double usable = usableLength(isVertical(side) ? s.height() : s.width());
    double offset = valueFromCorner < 0 ? usable * 0.5 : std::clamp(valueFromCorner, 0.0, usable);

    const QRectF first(originFor(side, anchor, s, offset), s);
    QRectF frame = fitted(first, visibleFrame);
    const double dx = frame.x() - first.x(), dy = frame.y() - first.y();

    // The arrow keeps pointing at the same place.
    switch (side) {
    case 0: offset -= dy; break;
    case 4: offset += dy; break;
    case 2: offset += dx; break;
    default: offset -= dx; break;
    }
    offset = std::clamp(offset, 0.0, usable);

    const bool pushedTowardAnchor = (side == 0 && dx < 0) || (side == 4 && dx > 0) || (side == 2 && dy < 0) ||
                                    (side == 6 && dy > 0);
    if (pushedTowardAnchor && (frame.intersects(anchor) || !anchor.intersects(visibleFrame))) {
        edge = (edge + 4) % 8;
        side = (side + 4) % 8;
        switch (side) {
        case 4: frame.moveLeft(anchor.x() - s.width()); break;
        case 0: frame.moveLeft(anchor.x() + anchor.width()); break;
        case 6: frame.moveTop(anchor.y() - s.height()); break;
        default: frame.moveTop(anchor.y() + anchor.height()); break;
        }
        // Measured from the other end of the same line on the opposite
        // side, so the arrow stays where it pointed.
        offset = usable - offset;
        frame = fitted(frame, visibleFrame);
    }
    return {QRect(QPoint(int(std::lround(frame.x())), int(std::lround(frame.y()))), size), edge, offset};
}

// --- The window.

TvPopoverWindow::TvPopoverWindow(QWidget* parent)
    : TvWindow(parent, Qt::Window | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint) {
    setAttribute(Qt::WA_TranslucentBackground);
    setMinimumSize(kMinimumSide, kMinimumSide);
    mContentView = new TvPopoverWindowContentView(this);
    mContentView->setGeometry(rect());
}

TvPopoverWindow::~TvPopoverWindow() = default;

TvPopoverWindowContentView* TvPopoverWindow::contentView() const {
    if (mContentView->geometry() != rect()) mContentView->setGeometry(rect());
    return mContentView;
}

void TvPopoverWindow::setRectEdge(int edge) {
    mRectEdge = edge;
    mContentView->update();
}

void TvPopoverWindow::setValueFromCorner(double value) {
    mValueFromCorner = value;
    mContentView->update();
}

void TvPopoverWindow::setCheckSettingValueHook(CheckSettingValue hook) {
    checkHook() = std::move(hook);
}

bool TvPopoverWindow::hasCheckSettingValueHook() {
    return bool(checkHook());
}

void TvPopoverWindow::showPopoverWindow(QWidget* parent, const QRectF& bounds, QWidget* view, int requestedEdge,
                                        double valueFromCorner, std::function<void()> completeBlock) {
    QRectF anchor = bounds;
    QScreen* screen = nullptr;
    if (view) {
        const QRectF viewBounds(view->rect());
        QRectF inside = bounds.intersected(viewBounds);
        if (inside.isEmpty()) inside = viewBounds;
        // Qt's coordinates are device-independent already: no scale factor.
        anchor = QRectF(QPointF(view->mapToGlobal(QPoint(0, 0))) + inside.topLeft(), inside.size());
        screen = view->screen();
    }
    if (!screen) screen = QGuiApplication::screenAt(anchor.center().toPoint());
    if (!screen) screen = QGuiApplication::primaryScreen();
    const QRectF visible = screen ? QRectF(screen->availableGeometry()) : QRectF(anchor);

    const TvPopoverPlacement place = placement(anchor, size(), visible, requestedEdge, valueFromCorner);
    setGeometry(place.frame);
    contentView();
    setRectEdge(place.rectEdge);
    setValueFromCorner(place.valueFromCorner);
    setIsValidClose(true);
    TvWindow::beginModalWindow(this, parent, true, {}, std::move(completeBlock));
}

void TvPopoverWindow::resignKeyWindow() {
    kdf::RunLoop::main().cancelPerforms(static_cast<const QWidget*>(this), kDeactivatedStepKey);
    // The check may run an alert, whose activation must not start a second
    // check.
    if (mResigning || !isValidClose()) return;
    mResigning = true;
    QPointer<TvPopoverWindow> self = this;
    bool accepted = true;
    if (const CheckSettingValue hook = checkHook()) {
        try {
            accepted = hook(this, nullptr);
        } catch (...) {
            // A check that fails to answer keeps the settings on screen.
            accepted = false;
        }
    }
    if (!self) return;
    mResigning = false;
    if (accepted) {
        // Closing once: a shield press right after a deactivation asks again.
        setIsValidClose(false);
        TvWindow::endModalWindow(this, true);
    } else {
        raise();
        activateWindow();
    }
}

void TvPopoverWindow::cancelOperation() {
    resignKeyWindow();
}

void TvPopoverWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        cancelOperation();
        return;
    }
    TvWindow::keyPressEvent(event);
}

void TvPopoverWindow::changeEvent(QEvent* event) {
    TvWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && !isActiveWindow() && isVisible()) deactivated();
}

void TvPopoverWindow::deactivated() {
    if (!isValidClose() || mResigning) return;
    // A press on the parent's shield deactivates the popover and then asks
    // it directly: one check for both, a moment later.
    QPointer<TvPopoverWindow> self = this;
    kdf::RunLoop::main().cancelPerforms(static_cast<const QWidget*>(this), kDeactivatedStepKey);
    kdf::RunLoop::main().performAfterDelay(
        static_cast<const QWidget*>(this), kDeactivatedStepKey, kdf::Seconds(0),
        [self] {
            TvPopoverWindow* popover = self.data();
            if (!popover || !popover->isVisible() || popover->isActiveWindow()) return;
            // The popover's own menus, and alerts about its settings, take
            // the activation for a while; they are no click outside.
            if (QApplication::activePopupWidget()) return;
            if (QWidget* modal = QApplication::activeModalWidget(); modal && !popover->isAncestorOf(modal))
                return;
            popover->resignKeyWindow();
        },
        kdf::kCommonModes);
}

void TvPopoverWindow::resizeEvent(QResizeEvent* event) {
    TvWindow::resizeEvent(event);
    contentView();
}

// --- The body.

TvPopoverWindowContentView::TvPopoverWindowContentView(QWidget* parent) : QWidget(parent) {}

const TvPopoverWindow* TvPopoverWindowContentView::popover() const {
    return qobject_cast<const TvPopoverWindow*>(window());
}

int TvPopoverWindowContentView::rectEdge() const {
    const TvPopoverWindow* p = popover();
    return p ? p->rectEdge() : mRectEdge;
}

void TvPopoverWindowContentView::setRectEdge(int edge) {
    mRectEdge = edge;
    update();
}

double TvPopoverWindowContentView::valueFromCorner() const {
    const TvPopoverWindow* p = popover();
    return p ? p->valueFromCorner() : mValueFromCorner;
}

void TvPopoverWindowContentView::setValueFromCorner(double value) {
    mValueFromCorner = value;
    update();
}

QRectF TvPopoverWindowContentView::insetFrame() const {
    return QRectF(rect()).adjusted(kInset, kInset, -kInset, -kInset);
}

QPainterPath TvPopoverWindowContentView::bodyPath(QSizeF size, int rectEdge, double valueFromCorner) {
    const QRectF r = QRectF(QPointF(0, 0), size).adjusted(kInset, kInset, -kInset, -kInset);
    QPainterPath path;
    if (r.width() <= 0 || r.height() <= 0) return path;
    const double radius = std::min({kCornerRadius, r.width() * 0.5, r.height() * 0.5});
    const double d = 2 * radius;
    const int side = TvPopoverWindow::sideOfEdge(rectEdge);
    // The arrow's middle from the start of its side, held inside the side.
    const auto along = [&](double length) {
        const double low = kArrowBase * 0.5 + radius, high = length - low;
        if (high < low) return length * 0.5;
        return std::clamp(valueFromCorner + kSideReserve * 0.5, low, high);
    };
    const double half = kArrowBase * 0.5;

    path.moveTo(r.left() + radius, r.top());
    if (side == 2) {
        const double mx = r.right() - along(r.width());
        path.lineTo(mx - half, r.top());
        path.lineTo(mx, r.top() - kArrowDepth);
        path.lineTo(mx + half, r.top());
    }
    path.arcTo(QRectF(r.right() - d, r.top(), d, d), 90, -90);
    if (side == 4) {
        const double my = r.bottom() - along(r.height());
        path.lineTo(r.right(), my - half);
        path.lineTo(r.right() + kArrowDepth, my);
        path.lineTo(r.right(), my + half);
    }
    path.arcTo(QRectF(r.right() - d, r.bottom() - d, d, d), 0, -90);
    if (side == 6) {
        const double mx = r.left() + along(r.width());
        path.lineTo(mx + half, r.bottom());
        path.lineTo(mx, r.bottom() + kArrowDepth);
        path.lineTo(mx - half, r.bottom());
    }
    path.arcTo(QRectF(r.left(), r.bottom() - d, d, d), 270, -90);
    if (side == 0) {
        const double my = r.top() + along(r.height());
        path.lineTo(r.left(), my + half);
        path.lineTo(r.left() - kArrowDepth, my);
        path.lineTo(r.left(), my - half);
    }
    path.arcTo(QRectF(r.left(), r.top(), d, d), 180, -90);
    path.closeSubpath();
    return path;
}

void TvPopoverWindowContentView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPainterPath path = bodyPath(QSizeF(size()), rectEdge(), valueFromCorner());
    painter.fillPath(path, Qt::white);
    painter.strokePath(path, QPen(TvUI::colorWithDeviceRGB(kStrokeRGB), 1));
}
