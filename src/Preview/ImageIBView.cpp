#include "ImageIBView.h"

#include <QDrag>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

// Set by every press in any page browser, read by the drag that follows.
bool sIsHitTestCell = false;

bool isDeleteKey(const QKeyEvent& key) {
    if (key.key() == Qt::Key_Delete || key.key() == Qt::Key_Backspace) return true;
    if (key.key() == ImageIBView::kForwardDeleteCharacter) return true;
    const QString text = key.text();
    return text.size() == 1 && text.at(0).unicode() == ImageIBView::kForwardDeleteCharacter;
}

} // namespace

ImageIBView::ImageIBView(QWidget* parent) : TvIBView(parent) {}

bool ImageIBView::isHitTestCell() {
    return sIsHitTestCell;
}

int ImageIBView::indexAtPoint(QPoint point, QRect* frame) const {
    QRect last;
    for (int index : visibleItemIndexes()) {
        last = itemFrameAtIndex(index);
        if (last.contains(point)) {
            if (frame) *frame = last;
            return index;
        }
    }
    if (frame) *frame = last;
    return kNotFound;
}

bool ImageIBView::event(QEvent* event) {
    if (event->type() != QEvent::KeyPress) return TvIBView::event(event);
    auto* key = static_cast<QKeyEvent*>(event);
    if (!mIsValidMouseDragged) {
        if (isDeleteKey(*key)) {
            key->accept();
            return true;
        }
        return TvIBView::event(event);
    }
    const bool isTab = key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab;
    const bool wasFocused = hasFocus();
    const kdui::IndexSet before = selectionIndexes();
    const bool handled = TvIBView::event(event);
    if (isTab && wasFocused && hasFocus() && selectionIndexes() != before) {
        // Tab only moves the keyboard focus: the pages chosen before stay
        // chosen, and the controller is not told of a change that did not
        // happen.
        kdui::ImageBrowserDelegate* owner = delegate();
        setDelegate(nullptr);
        setSelectionIndexes(before, false);
        setDelegate(owner);
    }
    return handled;
}

void ImageIBView::mousePressEvent(QMouseEvent* event) {
    sIsHitTestCell = indexAtPoint(event->position().toPoint(), nullptr) != kNotFound;
    TvIBView::mousePressEvent(event);
}

void ImageIBView::mouseMoveEvent(QMouseEvent* event) {
    if (!mIsValidMouseDragged && sIsHitTestCell) return;
    TvIBView::mouseMoveEvent(event);
}

std::unique_ptr<kdui::ImageBrowserCell> ImageIBView::newCellForItem(int) {
    return std::make_unique<ImageIBCell>();
}

Qt::DropAction ImageIBView::executeDrag(QDrag& drag, Qt::DropActions) {
    // Pages only move within the browser: nothing else is offered.
    return TvIBView::executeDrag(drag, Qt::MoveAction);
}

// --- Cell.

QRect ImageIBCell::imageFrame() const {
    const QRect f = frame();
    if (f.isEmpty() || !view()) return {};
    // The picture sits in the band above the title line.
    int bandTop = f.top();
    int bandBottom = f.bottom() + 1;
    const QRect title = titleFrame();
    if (!title.isEmpty()) bandBottom = std::min(bandBottom, title.top());
    const double bandHeight = std::max(0, bandBottom - bandTop);
    const double boxW = std::max(1, std::min(view()->cellSize().width(), f.width()) - kImageMargin);
    const double boxH = std::max(1.0, std::min<double>(view()->cellSize().height(), bandHeight) - kImageMargin);
    double w = boxW;
    double h = boxH;
    const QSize picture = imageSize();
    if (!picture.isEmpty()) {
        const double ratio = double(picture.width()) / double(picture.height());
        if (picture.width() > picture.height()) {
            h = w / ratio;
            if (h > boxH) {
                h = boxH;
                w = h * ratio;
            }
        } else {
            w = h * ratio;
            if (w > boxW) {
                w = boxW;
                h = w / ratio;
            }
        }
    }
    const int width = std::max(1, int(std::lround(w)));
    const int height = std::max(1, int(std::lround(h)));
    const int x = int(std::ceil(f.left() + (f.width() - w) / 2));
    const int y = int(std::ceil(bandTop + (bandHeight - h) / 2));
    return QRect(x, y, width, height);
}

QRect ImageIBCell::selectionFrame() const {
    const QRect image = imageFrame();
    return image.adjusted(-kSelectionOutset, -kSelectionOutset, kSelectionOutset, kSelectionOutset);
}

bool ImageIBCell::isShownItem() const {
    if (!view()) return false;
    auto* source = dynamic_cast<ImageIBViewDataSource*>(view()->dataSource());
    return source && source->isShownItem(*view(), index());
}

void ImageIBCell::drawSelection(QPainter& painter) {
    const QRect r = selectionFrame();
    painter.fillRect(r, QColor::fromRgb(kSelectionGray));
    if (!isShownItem()) return;
    // The ring lies inside the selection frame, as a layer's border does.
    const QColor ring = shownRingColor();
    const int w = kShownRingWidth;
    painter.fillRect(QRect(r.left(), r.top(), r.width(), w), ring);
    painter.fillRect(QRect(r.left(), r.bottom() - w + 1, r.width(), w), ring);
    painter.fillRect(QRect(r.left(), r.top() + w, w, r.height() - 2 * w), ring);
    painter.fillRect(QRect(r.right() - w + 1, r.top() + w, w, r.height() - 2 * w), ring);
}

void ImageIBCell::drawPlaceholder(QPainter& painter) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill(Qt::white);
    fill.setAlphaF(0.3f);
    QColor border(Qt::white);
    border.setAlphaF(0.9f);
    // A border of width 2 drawn inside the frame, as a layer draws it.
    const QRectF r = QRectF(imageFrame()).adjusted(1, 1, -1, -1);
    painter.setPen(QPen(border, 2));
    painter.setBrush(fill);
    painter.drawRoundedRect(r, 10, 10);
    painter.restore();
}

void ImageIBCell::drawForeground(QPainter& painter) {
    // Only over a picture that is there.
    if (imageSize().isEmpty()) return;
    const QColor colour = QColor::fromRgb(kFrameColor);
    if (isSelected()) {
        const QRect title = titleFrame();
        if (!title.isEmpty()) painter.fillRect(QRect(title.x(), title.y(), title.width(), title.height() - 1), colour);
        return;
    }
    const QRect r = imageFrame().adjusted(-1, -1, 1, 1);
    painter.fillRect(QRect(r.left(), r.top(), r.width(), 1), colour);
    painter.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), colour);
    painter.fillRect(QRect(r.left(), r.top() + 1, 1, r.height() - 2), colour);
    painter.fillRect(QRect(r.right(), r.top() + 1, 1, r.height() - 2), colour);
}
