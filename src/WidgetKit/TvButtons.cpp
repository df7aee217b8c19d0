#include "TvButtons.h"

#include "TvUI.h"

#include "QlrUtilsMethod.h"

#include <foundation/RunLoop.h>

#include <QEnterEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QToolTip>
#include <QVariantAnimation>
#include <QtGlobal>

#include <cmath>

using namespace TvUI;

namespace {

bool isLTR() { return QlrUtilsMethod::isLTR_LayoutDirection(); }

// Focused: the button is the focus widget of the active window.
bool hasKeyFocus(const QWidget& widget) {
    return widget.hasFocus() && widget.window() && widget.window()->isActiveWindow();
}

} // namespace

// --- Looks.

TvButtonCell::~TvButtonCell() = default;

std::uint32_t TvButtonCell::baseFlags(const QAbstractButton& button) {
    std::uint32_t f = kFlagFlipped;
    if (button.isDown()) f |= kFlagHighlighted;
    if (!button.isEnabled()) f |= kFlagDisabled;
    if (hasKeyFocus(button)) f |= kFlagFocused;
    return f;
}

std::uint32_t TvButtonCell::rollOverFlag(const QAbstractButton& button) {
    const auto* b = qobject_cast<const TvButton*>(&button);
    return (b && b->isRollOverState()) ? kFlagRollOver : 0;
}

std::uint32_t TvButtonCell::onFlag(const QAbstractButton& button) {
    return (button.isCheckable() && button.isChecked()) ? kFlagOn : 0;
}

std::uint32_t TvButtonCell::flags(const QAbstractButton& button) const { return baseFlags(button); }

std::uint32_t TvRoundedButtonCell::flags(const QAbstractButton& button) const {
    return baseFlags(button) & ~kFlagDisabled;
}

void TvRoundedButtonCell::draw(QPainter& painter, const QRectF& frame, const QAbstractButton& button) const {
    drawRoundedButtonWithFrame(painter, frame, flags(button));
}

void TvArrowButtonCell::draw(QPainter& painter, const QRectF& frame, const QAbstractButton& button) const {
    drawArrowButtonWithFrame(painter, frame, button.text(), flags(button));
}

std::uint32_t TvColoredPushButtonCell::flags(const QAbstractButton& button) const {
    return baseFlags(button) | styleFlags(mStyle) | buttonImageFlags(mImageIndex);
}

void TvColoredPushButtonCell::draw(QPainter& painter, const QRectF& frame, const QAbstractButton& button) const {
    drawColoredPushButtonWithFrame(painter, frame, button.text(), flags(button));
}

std::uint32_t TvImageButtonCell::flags(const QAbstractButton& button) const {
    return baseFlags(button) | onFlag(button) | rollOverFlag(button) | styleFlags(mImageIndex);
}

void TvImageButtonCell::draw(QPainter& painter, const QRectF& frame, const QAbstractButton& button) const {
    drawImageButtonWithFrame(painter, frame, flags(button));
}

std::uint32_t TvPreviewButtonCell::flags(const QAbstractButton& button) const {
    return baseFlags(button) | (button.isChecked() ? kFlagOn : 0) | rollOverFlag(button);
}

void TvPreviewButtonCell::draw(QPainter& painter, const QRectF& frame, const QAbstractButton& button) const {
    drawPreviewButtonWithFrame(painter, frame, mImage, flags(button));
}

TvTriangleButtonCell::TvTriangleButtonCell() : mAnimation(std::make_unique<QVariantAnimation>()) {
    mAnimation->setDuration(250);
    QObject::connect(mAnimation.get(), &QVariantAnimation::valueChanged, [this](const QVariant& value) {
        mAngle = value.toDouble();
        if (mButton) mButton->update();
    });
    mAngle = targetAngle(false);
}

TvTriangleButtonCell::~TvTriangleButtonCell() = default;

std::uint32_t TvTriangleButtonCell::flags(const QAbstractButton& button) const {
    return baseFlags(button) | onFlag(button);
}

double TvTriangleButtonCell::targetAngle(bool on) { return on ? 90.0 : (isLTR() ? 0.0 : 180.0); }

void TvTriangleButtonCell::attach(QAbstractButton* button) {
    mButton = button;
    QObject::connect(button, &QAbstractButton::toggled, mAnimation.get(),
                     [this](bool on) { turnTo(on, true); });
    turnTo(onFlag(*button) != 0, false);
}

void TvTriangleButtonCell::turnTo(bool on, bool animated) {
    mAnimation->stop();
    const double target = targetAngle(on);
    if (!animated || mAngle == target) {
        mAngle = target;
        if (mButton) mButton->update();
        return;
    }
    mAnimation->setStartValue(mAngle);
    mAnimation->setEndValue(target);
    mAnimation->start();
}

QRectF TvTriangleButtonCell::triangleRect(const QRectF& frame) const {
    const QImage image = kitImageNamed("btn_expandor.png");
    const QSizeF size = image.isNull() ? QSizeF(0, 0) : QSizeF(image.size()) / image.devicePixelRatio();
    const double y = frame.top() + std::floor((frame.height() - size.height()) / 2);
    const double x = isLTR() ? frame.left() : frame.right() - 15 - size.width();
    return QRectF(QPointF(x, y), size);
}

void TvTriangleButtonCell::draw(QPainter& painter, const QRectF& frame, const QAbstractButton& button) const {
    drawTriangleButtonWithFrame(painter, frame, button.text(), flags(button));
    const QImage image = kitImageNamed("btn_expandor.png");
    if (image.isNull()) return;
    const QRectF r = triangleRect(frame);
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setOpacity(opacity(button));
    painter.translate(r.center());
    painter.rotate(mAngle);
    painter.drawImage(QRectF(-r.width() / 2, -r.height() / 2, r.width(), r.height()), image);
    painter.restore();
}

void TvMenuButtonCell::draw(QPainter& painter, const QRectF& frame, const QAbstractButton& button) const {
    drawMenuButtonWithFrame(painter, frame, button.text(), flags(button));
}

std::unique_ptr<TvButtonCell> makeButtonCell(const QString& className) {
    if (className == QLatin1String("TvRoundedButtonCell")) return std::make_unique<TvRoundedButtonCell>();
    if (className == QLatin1String("TvArrowButtonCell")) return std::make_unique<TvArrowButtonCell>();
    if (className == QLatin1String("TvColoredPushButtonCell")) return std::make_unique<TvColoredPushButtonCell>();
    if (className == QLatin1String("TvImageButtonCell")) return std::make_unique<TvImageButtonCell>();
    if (className == QLatin1String("TvPreviewButtonCell")) return std::make_unique<TvPreviewButtonCell>();
    if (className == QLatin1String("TvTriangleButtonCell")) return std::make_unique<TvTriangleButtonCell>();
    if (className == QLatin1String("TvMenuButtonCell")) return std::make_unique<TvMenuButtonCell>();
    return nullptr;
}

// --- Buttons.

TvCellButton::TvCellButton(QWidget* parent) : QAbstractButton(parent) {}

TvCellButton::~TvCellButton() = default;

void TvCellButton::setCell(std::unique_ptr<TvButtonCell> cell) {
    mCell = std::move(cell);
    if (mCell) mCell->attach(this);
    updateGeometry();
    update();
}

void TvCellButton::readFormProperties() {
    const QVariant name = property("kdCell");
    if (!name.isValid() || mCell) return;
    std::unique_ptr<TvButtonCell> cell = makeButtonCell(name.toString());
    if (!cell) {
        qWarning("%s: unknown kdCell \"%s\"; Qt's own look is kept", qPrintable(objectName()),
                 qPrintable(name.toString()));
        return;
    }
    const QVariant style = property("kdStyle");
    const QVariant index = property("kdImageIndex");
    const QVariant minSize = property("kdMinSize");
    if (auto* push = dynamic_cast<TvColoredPushButtonCell*>(cell.get())) {
        if (style.isValid()) push->setStyle(style.toInt());
        if (index.isValid()) push->setImageIndex(index.toInt());
        if (minSize.isValid()) push->setMinSize(minSize.toDouble());
    } else if (auto* image = dynamic_cast<TvImageButtonCell*>(cell.get())) {
        if (index.isValid()) image->setImageIndex(index.toInt());
        image->setToolTipString(toolTip());
    }
    setCell(std::move(cell));
}

bool TvCellButton::event(QEvent* event) {
    if (event->type() == QEvent::Polish && !mPolished) {
        mPolished = true;
        readFormProperties();
    }
    if (event->type() == QEvent::ToolTip && mCell && !mCell->toolTipString().isEmpty()) {
        QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), mCell->toolTipString(), this);
        return true;
    }
    return QAbstractButton::event(event);
}

QSize TvCellButton::sizeHint() const {
    const QString title = text();
    if (const auto* push = dynamic_cast<const TvColoredPushButtonCell*>(mCell.get()))
        return calcColoredPushButtonButtonSizeWithTitle(title, push->minSize()).toSize();
    if (dynamic_cast<const TvArrowButtonCell*>(mCell.get()))
        return calcBestArrowButtonSizeWithTitle(title).toSize();
    if (dynamic_cast<const TvMenuButtonCell*>(mCell.get())) return calcMenuButtonButtonSizeWithTitle(title).toSize();
    if (mCell) return QSize(29, 29);
    QStyleOptionButton option;
    option.initFrom(this);
    option.text = title;
    const QSize text = fontMetrics().size(Qt::TextShowMnemonic, title);
    return style()->sizeFromContents(QStyle::CT_PushButton, &option, text, this);
}

void TvCellButton::paintEvent(QPaintEvent*) {
    if (mCell) {
        QPainter painter(this);
        mCell->draw(painter, QRectF(rect()), *this);
        return;
    }
    QStylePainter painter(this);
    QStyleOptionButton option;
    option.initFrom(this);
    option.text = text();
    option.icon = icon();
    option.iconSize = iconSize();
    if (isDown()) option.state |= QStyle::State_Sunken;
    if (isChecked()) option.state |= QStyle::State_On;
    painter.drawControl(QStyle::CE_PushButton, option);
}

TvButton::TvButton(QWidget* parent) : TvCellButton(parent) {
    setAttribute(Qt::WA_Hover);
    watchAncestors();
}

TvButton::~TvButton() = default;

void TvButton::setIsRollOverState(bool on) {
    mIsRollOverState = on;
    update();
}

void TvButton::watchAncestors() {
    for (const QPointer<QWidget>& w : mWatched)
        if (w) w->removeEventFilter(this);
    mWatched.clear();
    for (QWidget* w = parentWidget(); w; w = w->parentWidget()) {
        w->installEventFilter(this);
        mWatched.emplace_back(w);
    }
}

bool TvButton::event(QEvent* event) {
    if (event->type() == QEvent::ParentChange) {
        watchAncestors();
        setIsRollOverState(false);
    }
    return TvCellButton::event(event);
}

bool TvButton::eventFilter(QObject* watched, QEvent* event) {
    if ((event->type() == QEvent::Resize || event->type() == QEvent::Move) && mIsRollOverState)
        setIsRollOverState(false);
    if (event->type() == QEvent::ParentChange) watchAncestors();
    return TvCellButton::eventFilter(watched, event);
}

void TvButton::enterEvent(QEnterEvent* event) {
    TvCellButton::enterEvent(event);
    setIsRollOverState(true);
}

void TvButton::leaveEvent(QEvent* event) {
    TvCellButton::leaveEvent(event);
    setIsRollOverState(false);
}

void TvButton::resizeEvent(QResizeEvent* event) {
    TvCellButton::resizeEvent(event);
    setIsRollOverState(false);
}

void TvButton::moveEvent(QMoveEvent* event) {
    TvCellButton::moveEvent(event);
    setIsRollOverState(false);
}

TvToolButton::TvToolButton(QWidget* parent) : TvCellButton(parent) {}

void TvToolButton::setExcludeKeyViewLoop(bool exclude) {
    if (exclude == mExcludeKeyViewLoop) return;
    mExcludeKeyViewLoop = exclude;
    if (exclude) {
        mPolicy = focusPolicy();
        setFocusPolicy(Qt::ClickFocus);
    } else {
        setFocusPolicy(mPolicy);
    }
}

TvMenuButton::TvMenuButton(QWidget* parent) : TvButton(parent), mBtnMenu(new QMenu(this)) {}

TvMenuButton::~TvMenuButton() = default;

void TvMenuButton::setBtnMenu(QMenu* menu) {
    if (menu == mBtnMenu) return;
    if (mBtnMenu && mBtnMenu->parent() == this) delete mBtnMenu;
    mBtnMenu = menu;
    if (menu) menu->setParent(this, menu->windowFlags());
}

QPoint TvMenuButton::menuOrigin() const {
    const int menuWidth = mBtnMenu ? mBtnMenu->sizeHint().width() : 0;
    // Qt's coordinates are device-independent already: no scale factor.
    return isLTR() ? QPoint(width() - menuWidth, height() + 5) : QPoint(0, height() + 5);
}

void TvMenuButton::showBtnMenu() {
    if (!mBtnMenu) return;
    emit menuAboutToPopUp();
    const QPoint at = mapToGlobal(menuOrigin());
    kdf::RunLoopModeScope tracking(kdf::RunLoopMode::EventTracking);
    setDown(true);
    mBtnMenu->exec(at);
    setDown(false);
}

void TvMenuButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && isEnabled() && rect().contains(event->position().toPoint())) {
        event->accept();
        showBtnMenu();
        return;
    }
    TvButton::mousePressEvent(event);
}

void TvMenuButton::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second press of a double click never opens the menu.
    TvButton::mousePressEvent(event);
}

void TvMenuButton::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) {
        event->accept();
        showBtnMenu();
        return;
    }
    TvButton::keyPressEvent(event);
}

// --- Segmented control.

TvSegmentedControl::TvSegmentedControl(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setFixedHeight(31);
}

void TvSegmentedControl::setSegmentCount(int count) {
    mSegments.resize(std::size_t(std::max(0, count)));
    if (mSelected >= segmentCount()) mSelected = -1;
    if (mKey >= segmentCount()) mKey = 0;
    updateGeometry();
    update();
}

void TvSegmentedControl::setLabel(const QString& label, int segment) {
    if (!valid(segment)) return;
    mSegments[std::size_t(segment)].label = label;
    update();
}

QString TvSegmentedControl::labelForSegment(int segment) const {
    return valid(segment) ? mSegments[std::size_t(segment)].label : QString();
}

void TvSegmentedControl::setWidth(int width, int segment) {
    if (!valid(segment)) return;
    mSegments[std::size_t(segment)].width = std::max(0, width);
    updateGeometry();
    update();
}

int TvSegmentedControl::widthForSegment(int segment) const {
    return valid(segment) ? mSegments[std::size_t(segment)].width : 0;
}

void TvSegmentedControl::setEnabled(bool enabled, int segment) {
    if (!valid(segment)) return;
    mSegments[std::size_t(segment)].enabled = enabled;
    update();
}

bool TvSegmentedControl::isEnabledForSegment(int segment) const {
    return valid(segment) && mSegments[std::size_t(segment)].enabled;
}

void TvSegmentedControl::setSelectedSegment(int segment) {
    mSelected = valid(segment) ? segment : -1;
    update();
}

std::uint32_t TvSegmentedControl::flagsForSegment(int segment) const {
    if (!valid(segment)) return 0;
    std::uint32_t f = kFlagFlipped;
    if (segment == mHighlighted) f |= kFlagHighlighted;
    if (!isEnabled() || !mSegments[std::size_t(segment)].enabled) f |= kFlagDisabled;
    if (segment == mKey && hasKeyFocus(*this)) f |= kFlagFocused;
    if (segment == mSelected) f |= kFlagOn;
    if (segment == 0) f |= kFlagFirstSegment;
    if (segment == segmentCount() - 1) f |= kFlagLastSegment;
    return f;
}

QRect TvSegmentedControl::rectForSegment(int segment) const {
    if (!valid(segment)) return {};
    int x = 0;
    for (int i = 0; i < segment; ++i) x += mSegments[std::size_t(i)].width;
    return QRect(x, 0, mSegments[std::size_t(segment)].width, height());
}

int TvSegmentedControl::segmentAt(const QPoint& point) const {
    for (int i = 0; i < segmentCount(); ++i)
        if (rectForSegment(i).contains(point)) return i;
    return -1;
}

QSize TvSegmentedControl::sizeHint() const {
    int w = 0;
    for (const Segment& s : mSegments) w += s.width;
    return QSize(w, 31);
}

void TvSegmentedControl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    for (int i = 0; i < segmentCount(); ++i)
        drawSegmentWithFrame(painter, QRectF(rectForSegment(i)), mSegments[std::size_t(i)].label, flagsForSegment(i));
}

void TvSegmentedControl::choose(int segment) {
    if (!valid(segment) || !mSegments[std::size_t(segment)].enabled) return;
    mSelected = segment;
    update();
    emit activated(segment);
}

void TvSegmentedControl::mousePressEvent(QMouseEvent* event) {
    const int at = segmentAt(event->position().toPoint());
    if (event->button() != Qt::LeftButton || !isEnabledForSegment(at)) {
        QWidget::mousePressEvent(event);
        return;
    }
    mHighlighted = at;
    update();
}

void TvSegmentedControl::mouseReleaseEvent(QMouseEvent* event) {
    const int pressed = mHighlighted;
    mHighlighted = -1;
    update();
    if (pressed >= 0 && segmentAt(event->position().toPoint()) == pressed) choose(pressed);
}

void TvSegmentedControl::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Left:
        if (mKey > 0) --mKey;
        update();
        break;
    case Qt::Key_Right:
        if (mKey < segmentCount() - 1) ++mKey;
        update();
        break;
    case Qt::Key_Space:
        choose(mKey);
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}
