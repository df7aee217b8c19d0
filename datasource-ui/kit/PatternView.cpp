#include "PatternView.h"

#include <QPainter>

namespace ComTavrolekKD720 {

FPatternView::FPatternView(QWidget* parent) : QWidget(parent) {}

void FPatternView::setColor(const QColor& color) {
    mPattern = QBrush(color);
    update();
}

void FPatternView::setPatternImage(const QPixmap& image) {
    mPattern = image.isNull() ? QBrush(Qt::white) : QBrush(image);
    update();
}

void FPatternView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    // The tiles start at the window's origin, not the view's.
    painter.setBrushOrigin(-mapTo(window(), QPoint(0, 0)));
    painter.fillRect(rect(), mPattern);
}

} // namespace ComTavrolekKD720
