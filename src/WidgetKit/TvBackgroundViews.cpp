#include "TvBackgroundViews.h"

#include "TvUI.h"

#include <QAbstractButton>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

#include <cmath>

TvBackgroundView::TvBackgroundView(unsigned type, QWidget* parent) : QWidget(parent), type_(type) {}

void TvBackgroundView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    TvUI::drawRectForView(painter, rect(), type_);
}

void TvStripHeaderView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect all = rect();
    TvUI::drawRectForView(painter, all.adjusted(0, 0, 0, -kStripHeight), backgroundType());
    painter.fillRect(QRect(all.left(), all.bottom() - kStripHeight + 1, all.width(), kStripHeight),
                     TvUI::colorWithDeviceRGB(0x000000, 0.09));
}

void TvClickForwardingHeaderView::setRelatedViews(QAbstractButton* related, QAbstractButton* related2) {
    mRelatedView = related;
    mRelatedView2 = related2;
}

void TvClickForwardingHeaderView::mousePressEvent(QMouseEvent* event) {
    if (mRelatedView && mRelatedView->isEnabled())
        mRelatedView->click();
    else if (mRelatedView2 && mRelatedView2->isEnabled())
        mRelatedView2->click();
    event->accept();
}

void TvSettingGridView::performLayout() {
    QWidget* leftmost = nullptr;
    const auto children = findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* child : children) {
        const int x = child->x();
        if (x < width() && (!leftmost || x < leftmost->x())) leftmost = child;
    }
    auto* field = qobject_cast<QLabel*>(leftmost);
    if (!field) return;
    field->setWordWrap(true);
    // Measured from the top-left of an unlimited height: vertical centring
    // in a huge rectangle would round differently.
    constexpr int kUnlimited = 1 << 20;
    const QRect measured = QFontMetrics(field->font())
                               .boundingRect(QRect(0, 0, std::max(field->width() - 4, 1), kUnlimited),
                                             int(Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop), field->text());
    const int delta = measured.height() - field->height();
    QWidget* rightmost = nullptr;
    if (delta > 0) {
        setGeometry(x(), y(), width(), height() + delta);
        for (QWidget* child : children)
            if (child->x() > 0 && (!rightmost || child->x() > rightmost->x())) rightmost = child;
    }
    if (delta != 0) field->resize(field->width(), measured.height());
    if (rightmost && rightmost != field)
        rightmost->move(rightmost->x(), int(std::floor((height() - rightmost->height()) * 0.5)));
}

TvColoedView::TvColoedView(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
}

void TvColoedView::setColor(const QColor& color) {
    mColor = color;
    update();
}

void TvColoedView::setWrapMode(bool wrap) {
    mWrapMode = wrap;
    setFocusPolicy(wrap ? Qt::StrongFocus : Qt::NoFocus);
    if (wrap) setFocus(Qt::OtherFocusReason);
}

void TvColoedView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), mColor.value_or(QColor(Qt::black)));
}

void TvColoedView::mousePressEvent(QMouseEvent* event) {
    if (!mWrapMode) return QWidget::mousePressEvent(event);
    event->accept();
    if (mClickActionBlock) mClickActionBlock();
}

void TvColoedView::mouseMoveEvent(QMouseEvent* event) {
    if (!mWrapMode) return QWidget::mouseMoveEvent(event);
    event->accept();
}

void TvColoedView::enterEvent(QEnterEvent* event) {
    if (!mWrapMode) return QWidget::enterEvent(event);
    event->accept();
}

void TvColoedView::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    // Another window taking the focus is not ours to refuse; within the
    // window the overlay keeps it.
    if (!mWrapMode || event->reason() == Qt::ActiveWindowFocusReason || event->reason() == Qt::PopupFocusReason)
        return;
    QTimer::singleShot(0, this, [this] {
        if (mWrapMode) setFocus(Qt::OtherFocusReason);
    });
}

bool TvColoedView::focusNextPrevChild(bool next) {
    if (mWrapMode) return true;
    return QWidget::focusNextPrevChild(next);
}
