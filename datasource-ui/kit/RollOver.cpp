#include "RollOver.h"

#include <QApplication>
#include <QCursor>
#include <QPainter>
#include <QStyleOptionButton>

namespace ComTavrolekKD720 {

FRollOverButton::FRollOverButton(QWidget* parent) : QPushButton(parent) {}

void FRollOverButton::setButtonImages(const Images& images) {
    mImages = images;
    updateGeometry();
    update();
}

void FRollOverButton::setRollOver(bool rollOver) {
    mIsRollOver = rollOver;
    update();
}

bool FRollOverButton::isFocusedForDrawing() const {
    return window()->isActiveWindow() && hasFocus();
}

int FRollOverButton::stateIndex() const {
    if (!isEnabled()) return Disabled;
    if (isDown()) return Pressed;
    const bool focused = isFocusedForDrawing();
    if (mIsRollOver) return focused ? FocusedRolledOver : RolledOver;
    return focused ? Focused : Normal;
}

bool FRollOverButton::isOn() const {
    return isCheckable() && isChecked() && stateIndex() != Disabled;
}

QRectF FRollOverButton::titleRect() const {
    const QFontMetricsF metrics(font());
    const QSizeF textSize(metrics.horizontalAdvance(text()), metrics.height());
    QRectF rect(QPointF(0, 0), QSizeF(size()));
    const qreal dx = (rect.width() - textSize.width()) / 2;
    const qreal dy = (rect.height() - textSize.height()) / 2;
    // Right-to-left titles align right, so they are moved left to centre.
    rect.translate(QApplication::layoutDirection() == Qt::LeftToRight ? dx : -dx, dy);
    if (stateIndex() == Pressed) rect.translate(1.0, 1.0);
    return rect;
}

QSize FRollOverButton::sizeHint() const {
    const std::optional<QPixmap>& normal = mImages[Normal];
    if (!normal || normal->isNull()) return QPushButton::sizeHint();
    QSize size = normal->deviceIndependentSize().toSize();
    if (!text().isEmpty()) {
        // A little room on each side of the title.
        const QFontMetrics metrics(font());
        size = size.expandedTo(QSize(metrics.horizontalAdvance(text()) + 16, metrics.height() + 4));
    }
    return size;
}

QPainterPath FRollOverButton::bezierPathWithRoundingRect(const QRectF& rect, qreal radius) {
    QPainterPath path;
    if (radius <= 0) {
        path.addRect(rect);
        return path;
    }
    const qreal x = rect.x(), y = rect.y(), w = rect.width(), h = rect.height(), d = 2 * radius;
    path.moveTo(x, y + h - radius);
    path.lineTo(x, y + radius);
    path.arcTo(x, y, d, d, 180, -90);
    path.lineTo(x + w - radius, y);
    path.arcTo(x + w - d, y, d, d, 90, -90);
    path.lineTo(x + w, y + h - radius);
    path.arcTo(x + w - d, y + h - d, d, d, 0, -90);
    path.lineTo(x + radius, y + h);
    path.arcTo(x, y + h - d, d, d, 270, -90);
    path.closeSubpath();
    return path;
}

void FRollOverButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRectF frame(QPointF(0, 0), QSizeF(size()));
    const int index = stateIndex();
    const bool on = isOn();
    const auto drawCentred = [&](const std::optional<QPixmap>& image) {
        if (!image || image->isNull()) return;
        const QSizeF sz = image->deviceIndependentSize();
        painter.drawPixmap(QPointF((frame.width() - sz.width()) / 2, (frame.height() - sz.height()) / 2), *image);
    };
    painter.save();
    const std::optional<QPixmap>& stateImage = mImages[static_cast<size_t>(index)];
    if (stateImage && !stateImage->isNull() && !on) {
        drawCentred(stateImage);
    } else {
        constexpr qreal kRadius = -2.0;
        const auto fill = [&](qreal outerAlpha, qreal innerAlpha) {
            painter.fillPath(bezierPathWithRoundingRect(frame, kRadius), QColor::fromRgbF(0, 0, 0, outerAlpha));
            painter.fillPath(bezierPathWithRoundingRect(frame.adjusted(1, 1, -1, -1), kRadius),
                             QColor::fromRgbF(1, 1, 1, innerAlpha));
        };
        if (on) fill(0.32, 0.34);
        else if (index == Pressed) fill(0.24, 0.26);
        else if (mIsRollOver) fill(0.16, 0.40);
        drawCentred(mImages[Normal]);
        if (isFocusedForDrawing()) {
            QStyleOptionFocusRect ring;
            ring.initFrom(this);
            style()->drawPrimitive(QStyle::PE_FrameFocusRect, &ring, &painter, this);
        }
    }
    painter.restore();
    if (!text().isEmpty()) {
        painter.setFont(font());
        painter.setPen(palette().color(index == Disabled ? QPalette::Disabled : QPalette::Active, QPalette::ButtonText));
        painter.drawText(titleRect(), Qt::AlignLeft | Qt::AlignTop, text());
    }
}

FRollOverInitiator::FRollOverInitiator(QObject* parent) : QObject(parent) {
    mTimer.setInterval(100);
    connect(&mTimer, &QTimer::timeout, this, &FRollOverInitiator::testRollOverControls);
}

FRollOverInitiator::~FRollOverInitiator() {
    stop();
}

void FRollOverInitiator::startWithWindow(QWidget* window) {
    mTimer.stop();
    mWindow = window;
    if (!window) return;
    mTimer.start();
    testRollOverControls();
}

void FRollOverInitiator::stop() {
    mTimer.stop();
    mWindow = nullptr;
}

void FRollOverInitiator::resignCurrent() {
    if (mCurrent) mCurrent->setRollOver(false);
    mCurrent = nullptr;
}

void FRollOverInitiator::testRollOverControls() {
    if (!mWindow) {
        // The window went away: nothing left to watch.
        stop();
        resignCurrent();
        return;
    }
    QWidget* hit = mWindow->childAt(mWindow->mapFromGlobal(QCursor::pos()));
    auto* button = dynamic_cast<FRollOverButton*>(hit);
    if (mWindow->isVisible() && mWindow->isActiveWindow() && button && button->acceptsRollOver()) {
        if (button == mCurrent) return;
        resignCurrent();
        button->setRollOver(true);
        mCurrent = button;
        return;
    }
    resignCurrent();
}

} // namespace ComTavrolekKD720
