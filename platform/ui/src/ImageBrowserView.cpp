#include "ui/ImageBrowserView.h"

#include <QApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QScrollBar>
#include <QToolTip>

#include <algorithm>
#include <cmath>

namespace kdui {

// --- Data source, delegates: the defaults refuse or do nothing.

ImageBrowserDataSource::~ImageBrowserDataSource() = default;
bool ImageBrowserDataSource::removeItems(ImageBrowserView&, const IndexSet&) { return false; }
bool ImageBrowserDataSource::moveItems(ImageBrowserView&, const IndexSet&, int) { return false; }
bool ImageBrowserDataSource::writeItems(ImageBrowserView&, const IndexSet&, QMimeData&) { return false; }

ImageBrowserDelegate::~ImageBrowserDelegate() = default;
void ImageBrowserDelegate::selectionDidChange(ImageBrowserView&) {}
void ImageBrowserDelegate::cellWasDoubleClicked(ImageBrowserView&, int) {}
void ImageBrowserDelegate::cellWasRightClicked(ImageBrowserView&, int, QPoint) {}
void ImageBrowserDelegate::backgroundWasRightClicked(ImageBrowserView&, QPoint) {}
QString ImageBrowserDelegate::toolTipForItem(ImageBrowserView&, int) { return {}; }

ImageBrowserDraggingDestination::~ImageBrowserDraggingDestination() = default;
Qt::DropAction ImageBrowserDraggingDestination::draggingEntered(ImageBrowserView&, const QMimeData&, QPoint,
                                                                Qt::DropActions) {
    return Qt::IgnoreAction;
}
Qt::DropAction ImageBrowserDraggingDestination::draggingUpdated(ImageBrowserView&, const QMimeData&, QPoint,
                                                                Qt::DropActions) {
    return Qt::IgnoreAction;
}
bool ImageBrowserDraggingDestination::performDragOperation(ImageBrowserView&, const QMimeData&, QPoint) {
    return false;
}
void ImageBrowserDraggingDestination::draggingEnded(ImageBrowserView&, bool) {}

// --- Cell.

namespace {
constexpr int kImageInset = 6;
constexpr int kTitleGap = 4;

int titleHeight(const ImageBrowserView& view) {
    return view.fontMetrics().height() + kTitleGap;
}
} // namespace

ImageBrowserCell::ImageBrowserCell() = default;
ImageBrowserCell::~ImageBrowserCell() = default;

bool ImageBrowserCell::isSelected() const {
    return mView && mView->selectionIndexes().count(mIndex) != 0;
}

QRect ImageBrowserCell::frame() const {
    return mView ? mView->itemFrameAtIndex(mIndex) : QRect();
}

QRect ImageBrowserCell::imageFrame() const {
    QRect area = frame().adjusted(kImageInset, kImageInset, -kImageInset, -kImageInset);
    if (mView && mView->cellsTitled()) area.setBottom(area.bottom() - titleHeight(*mView));
    if (area.width() < 1 || area.height() < 1) return {};
    if (mImageSize.isEmpty()) return area;
    const QSize fitted = mImageSize.scaled(area.size(), Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
    return QRect(area.x() + (area.width() - fitted.width()) / 2, area.y() + (area.height() - fitted.height()) / 2,
                 fitted.width(), fitted.height());
}

QRect ImageBrowserCell::selectionFrame() const {
    return frame();
}

QRect ImageBrowserCell::titleFrame() const {
    if (!mView || !mView->cellsTitled()) return {};
    const QRect f = frame();
    const int h = titleHeight(*mView);
    return QRect(f.x() + kTitleGap, f.bottom() - kImageInset - h + 1, f.width() - 2 * kTitleGap, h);
}

void ImageBrowserCell::paint(QPainter& painter, const ImageBrowserItem& item) {
    mImageSize = item.image.size();
    drawBackground(painter);
    if (isSelected()) drawSelection(painter);
    if (item.image.isNull())
        drawPlaceholder(painter);
    else
        drawImage(painter, item.image);
    drawForeground(painter);
    if (mView && mView->cellsTitled()) drawTitle(painter, item.title);
}

void ImageBrowserCell::drawBackground(QPainter&) {}

void ImageBrowserCell::drawSelection(QPainter& painter) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(mView->selectionColor());
    painter.drawRoundedRect(QRectF(selectionFrame()), 6, 6);
    painter.restore();
}

void ImageBrowserCell::drawImage(QPainter& painter, const QImage& image) {
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRectF(imageFrame()), image);
    painter.restore();
}

void ImageBrowserCell::drawPlaceholder(QPainter& painter) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0xC8, 0xC8, 0xC8), 1));
    painter.setBrush(QColor(0xEE, 0xEE, 0xEE));
    painter.drawRoundedRect(QRectF(imageFrame()).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
    painter.restore();
}

void ImageBrowserCell::drawForeground(QPainter&) {}

void ImageBrowserCell::drawTitle(QPainter& painter, const QString& title) {
    const QRect r = titleFrame();
    if (r.isEmpty() || title.isEmpty()) return;
    painter.save();
    painter.setFont(mView->font());
    painter.setPen(mView->palette().color(QPalette::Text));
    painter.drawText(r, Qt::AlignCenter, mView->fontMetrics().elidedText(title, Qt::ElideMiddle, r.width()));
    painter.restore();
}

// --- View.

ImageBrowserView::ImageBrowserView(QWidget* parent) : QAbstractScrollArea(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    viewport()->setMouseTracking(true);
    viewport()->setAutoFillBackground(false);
}

ImageBrowserView::~ImageBrowserView() = default;

void ImageBrowserView::setDataSource(ImageBrowserDataSource* source) {
    mDataSource = source;
    reloadData();
}

void ImageBrowserView::setDelegate(ImageBrowserDelegate* delegate) {
    mDelegate = delegate;
}

void ImageBrowserView::setDraggingDestinationDelegate(ImageBrowserDraggingDestination* destination) {
    mDestination = destination;
}

void ImageBrowserView::reloadData() {
    mCount = mDataSource ? std::max(0, mDataSource->numberOfItems(*this)) : 0;
    mCells.clear();
    mCells.resize(std::size_t(mCount));
    if (mAnchor >= mCount) mAnchor = kNotFound;
    if (mPressIndex >= mCount) mPressIndex = kNotFound;
    IndexSet kept(mSelection.begin(), mSelection.lower_bound(mCount));
    updateScrollBars();
    viewport()->update();
    if (kept != mSelection) {
        mSelection = std::move(kept);
        if (mDelegate) mDelegate->selectionDidChange(*this);
    }
}

// --- Layout.

void ImageBrowserView::setCellSize(QSize size) {
    size = size.expandedTo(QSize(1, 1));
    if (size == mCellSize) return;
    mCellSize = size;
    updateScrollBars();
    viewport()->update();
}

void ImageBrowserView::setIntercellSpacing(QSize spacing) {
    spacing = spacing.expandedTo(QSize(0, 0));
    if (spacing == mSpacing) return;
    mSpacing = spacing;
    updateScrollBars();
    viewport()->update();
}

void ImageBrowserView::setCellEdgeRange(int minimum, int maximum) {
    mMinEdge = std::max(1, minimum);
    mMaxEdge = std::max(mMinEdge, maximum);
    setZoomValue(mZoomValue);
}

void ImageBrowserView::setZoomValue(double value) {
    mZoomValue = std::clamp(std::isfinite(value) ? value : 0.0, 0.0, 1.0);
    const int edge = int(std::lround(mMinEdge + mZoomValue * (mMaxEdge - mMinEdge)));
    setCellSize(QSize(edge, edge));
}

void ImageBrowserView::setCellsTitled(bool titled) {
    mCellsTitled = titled;
    viewport()->update();
}

ImageBrowserView::Geometry ImageBrowserView::gridGeometry() const {
    Geometry g;
    g.pitch = mCellSize + mSpacing;
    const int width = viewport()->width();
    g.columns = std::max(1, width / g.pitch.width());
    g.rows = (mCount + g.columns - 1) / g.columns;
    g.margin = std::max(0, (width - g.columns * g.pitch.width()) / 2);
    return g;
}

int ImageBrowserView::numberOfColumns() const {
    return gridGeometry().columns;
}

int ImageBrowserView::numberOfRows() const {
    return gridGeometry().rows;
}

void ImageBrowserView::updateScrollBars() {
    const Geometry g = gridGeometry();
    const int contentHeight = g.rows * g.pitch.height();
    QScrollBar* bar = verticalScrollBar();
    bar->setRange(0, std::max(0, contentHeight - viewport()->height()));
    bar->setPageStep(viewport()->height());
    bar->setSingleStep(std::max(1, g.pitch.height() / 4));
}

QRect ImageBrowserView::itemFrameAtIndex(int index) const {
    if (index < 0 || index >= mCount) return {};
    const Geometry g = gridGeometry();
    const int col = index % g.columns;
    const int row = index / g.columns;
    const int lx = g.margin + col * g.pitch.width() + mSpacing.width() / 2;
    const int y = row * g.pitch.height() + mSpacing.height() / 2 - verticalScrollBar()->value();
    const int x = isMirrored() ? viewport()->width() - lx - mCellSize.width() : lx;
    return QRect(QPoint(x, y), mCellSize);
}

int ImageBrowserView::indexAtPoint(QPoint pos) const {
    if (mCount == 0) return kNotFound;
    const Geometry g = gridGeometry();
    const int lx = isMirrored() ? viewport()->width() - 1 - pos.x() : pos.x();
    const int cy = pos.y() + verticalScrollBar()->value();
    if (lx < g.margin || cy < 0) return kNotFound;
    const int col = (lx - g.margin) / g.pitch.width();
    const int row = cy / g.pitch.height();
    if (col >= g.columns) return kNotFound;
    const int index = row * g.columns + col;
    if (index >= mCount || !itemFrameAtIndex(index).contains(pos)) return kNotFound;
    return index;
}

int ImageBrowserView::dropIndexAtPoint(QPoint pos) const {
    if (mCount == 0) return 0;
    const Geometry g = gridGeometry();
    const int lx = isMirrored() ? viewport()->width() - 1 - pos.x() : pos.x();
    const int cy = pos.y() + verticalScrollBar()->value();
    if (cy >= g.rows * g.pitch.height()) return mCount;
    const int row = std::max(0, cy / g.pitch.height());
    const int rel = lx - g.margin;
    int col = 0;
    int after = 0;
    if (rel >= 0) {
        col = rel / g.pitch.width();
        if (col >= g.columns) {
            col = g.columns - 1;
            after = 1;
        } else {
            after = (rel - col * g.pitch.width()) * 2 >= g.pitch.width() ? 1 : 0;
        }
    }
    return std::min(mCount, row * g.columns + col + after);
}

IndexSet ImageBrowserView::indexesInRect(const QRect& rect) const {
    IndexSet out;
    if (mCount == 0 || rect.isEmpty()) return out;
    const Geometry g = gridGeometry();
    const int scroll = verticalScrollBar()->value();
    const int firstRow = std::max(0, (rect.top() + scroll) / g.pitch.height());
    const int lastRow = std::min(g.rows - 1, std::max(0, (rect.bottom() + scroll) / g.pitch.height()));
    for (int row = firstRow; row <= lastRow; ++row)
        for (int col = 0; col < g.columns; ++col) {
            const int index = row * g.columns + col;
            if (index >= mCount) break;
            if (itemFrameAtIndex(index).intersects(rect)) out.insert(index);
        }
    return out;
}

IndexSet ImageBrowserView::visibleItemIndexes() const {
    return indexesInRect(viewport()->rect());
}

void ImageBrowserView::scrollRectToVisible(const QRect& rect) {
    QScrollBar* bar = verticalScrollBar();
    const int height = viewport()->height();
    if (rect.top() < 0)
        bar->setValue(bar->value() + rect.top());
    else if (rect.bottom() >= height)
        bar->setValue(bar->value() + std::min(rect.top(), rect.bottom() - height + 1));
}

void ImageBrowserView::scrollIndexToVisible(int index) {
    const QRect frame = itemFrameAtIndex(index);
    if (!frame.isEmpty())
        scrollRectToVisible(frame.adjusted(0, -mSpacing.height() / 2, 0, mSpacing.height() - mSpacing.height() / 2));
}

// --- Cells.

std::unique_ptr<ImageBrowserCell> ImageBrowserView::newCellForItem(int) {
    return std::make_unique<ImageBrowserCell>();
}

ImageBrowserCell* ImageBrowserView::cellForItemAtIndex(int index) {
    if (index < 0 || index >= mCount) return nullptr;
    std::unique_ptr<ImageBrowserCell>& slot = mCells[std::size_t(index)];
    if (!slot) {
        slot = newCellForItem(index);
        if (!slot) slot = std::make_unique<ImageBrowserCell>();
        slot->mView = this;
        slot->mIndex = index;
    }
    return slot.get();
}

// --- Selection.

void ImageBrowserView::changeSelection(const IndexSet& indexes) {
    IndexSet next(indexes.begin(), indexes.lower_bound(mCount));
    next.erase(next.begin(), next.lower_bound(0));
    if (!mAllowsMultiple && next.size() > 1) next = IndexSet{*next.begin()};
    if (next.empty() && !mAllowsEmpty && mCount > 0) return;
    if (next == mSelection) return;
    mSelection = std::move(next);
    viewport()->update();
    if (mDelegate) mDelegate->selectionDidChange(*this);
}

void ImageBrowserView::setSelectionIndexes(const IndexSet& indexes, bool extend) {
    IndexSet next = extend ? mSelection : IndexSet{};
    next.insert(indexes.begin(), indexes.end());
    // The owner may empty the selection even where the user may not.
    const bool allowsEmpty = mAllowsEmpty;
    mAllowsEmpty = true;
    changeSelection(next);
    mAllowsEmpty = allowsEmpty;
}

void ImageBrowserView::setAllowsMultipleSelection(bool allows) {
    mAllowsMultiple = allows;
    if (!allows && mSelection.size() > 1) changeSelection(IndexSet{*mSelection.begin()});
}

void ImageBrowserView::setAllowsEmptySelection(bool allows) {
    mAllowsEmpty = allows;
}

void ImageBrowserView::setAllowsReordering(bool allows) {
    mAllowsReordering = allows;
}

void ImageBrowserView::setSelectionColor(const QColor& color) {
    mSelectionColor = color;
    viewport()->update();
}

void ImageBrowserView::setBackgroundColor(const QColor& color) {
    mBackgroundColor = color;
    viewport()->update();
}

// --- Painting.

void ImageBrowserView::drawOverCells(QPainter&) {}

void ImageBrowserView::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    painter.fillRect(event->rect(), mBackgroundColor);
    if (mDataSource) {
        for (int index : indexesInRect(event->rect())) {
            ImageBrowserCell* cell = cellForItemAtIndex(index);
            const ImageBrowserItem item = mDataSource->itemAtIndex(*this, index);
            painter.save();
            cell->paint(painter, item);
            painter.restore();
        }
    }
    if (mRubberBanding && !mRubberRect.isEmpty()) {
        QColor fill = mSelectionColor;
        fill.setAlphaF(0.25f);
        painter.fillRect(mRubberRect, fill);
        painter.setPen(mSelectionColor);
        painter.drawRect(mRubberRect.adjusted(0, 0, -1, -1));
    }
    if (mInternalDrag && mDropIndex != kNotFound && mCount > 0) {
        // A bar in the gap the drop would fill, on the leading side of the
        // item that would follow (or the trailing side of the last one).
        const bool atEnd = mDropIndex >= mCount;
        const QRect frame = itemFrameAtIndex(atEnd ? mCount - 1 : mDropIndex);
        const bool leftSide = atEnd == isMirrored();
        const int half = mSpacing.width() / 2;
        const int x = leftSide ? frame.left() - half : frame.right() + 1 + half;
        painter.fillRect(QRect(x - 1, frame.top(), 3, frame.height()), mSelectionColor);
    }
    drawOverCells(painter);
}

void ImageBrowserView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

void ImageBrowserView::scrollContentsBy(int, int) {
    viewport()->update();
}

void ImageBrowserView::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::LayoutDirectionChange || event->type() == QEvent::FontChange) viewport()->update();
}

// --- Mouse.

void ImageBrowserView::mousePressEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    const int index = indexAtPoint(pos);
    if (event->button() == Qt::RightButton) {
        if (index != kNotFound) {
            if (!mSelection.count(index)) changeSelection(IndexSet{index});
            if (mDelegate) mDelegate->cellWasRightClicked(*this, index, event->globalPosition().toPoint());
        } else if (mDelegate) {
            mDelegate->backgroundWasRightClicked(*this, event->globalPosition().toPoint());
        }
        return;
    }
    if (event->button() != Qt::LeftButton) return;
    const bool toggle = event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier);
    const bool range = event->modifiers() & Qt::ShiftModifier;
    mPressed = true;
    mPressPos = pos;
    mPressIndex = index;
    mCollapseOnRelease = false;
    if (index != kNotFound) {
        const bool selected = mSelection.count(index) != 0;
        if (toggle) {
            IndexSet next = mAllowsMultiple ? mSelection : IndexSet{};
            if (selected)
                next.erase(index);
            else
                next.insert(index);
            changeSelection(next);
            mAnchor = index;
        } else if (range && mAllowsMultiple && mAnchor != kNotFound) {
            IndexSet next = mSelection;
            for (int i = std::min(mAnchor, index); i <= std::max(mAnchor, index); ++i) next.insert(i);
            changeSelection(next);
        } else if (selected) {
            // Several selected cells may be dragged together: the click
            // narrows the selection only when it ends without a drag.
            mCollapseOnRelease = mSelection.size() > 1;
            mAnchor = index;
        } else {
            changeSelection(IndexSet{index});
            mAnchor = index;
        }
        return;
    }
    if (mAllowsMultiple) {
        mRubberBanding = true;
        mRubberBase = (toggle || range) ? mSelection : IndexSet{};
        mRubberRect = QRect();
    }
    if (!toggle && !range) changeSelection(IndexSet{});
}

void ImageBrowserView::mouseMoveEvent(QMouseEvent* event) {
    if (!mPressed || !(event->buttons() & Qt::LeftButton)) return;
    const QPoint pos = event->position().toPoint();
    if (mRubberBanding) {
        mRubberRect = QRect(mPressPos, pos).normalized();
        IndexSet next = mRubberBase;
        const IndexSet inside = indexesInRect(mRubberRect);
        next.insert(inside.begin(), inside.end());
        changeSelection(next);
        viewport()->update();
        return;
    }
    if (mPressIndex != kNotFound && mSelection.count(mPressIndex) &&
        (pos - mPressPos).manhattanLength() >= QApplication::startDragDistance()) {
        mPressed = false;
        mCollapseOnRelease = false;
        startDrag();
    }
}

void ImageBrowserView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    if (mPressed && mCollapseOnRelease && indexAtPoint(event->position().toPoint()) == mPressIndex)
        changeSelection(IndexSet{mPressIndex});
    mPressed = false;
    mCollapseOnRelease = false;
    if (mRubberBanding) {
        mRubberBanding = false;
        mRubberRect = QRect();
        viewport()->update();
    }
}

void ImageBrowserView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const int index = indexAtPoint(event->position().toPoint());
    if (index != kNotFound && mDelegate) mDelegate->cellWasDoubleClicked(*this, index);
}

bool ImageBrowserView::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const int index = indexAtPoint(help->pos());
        const QString text = (index != kNotFound && mDelegate) ? mDelegate->toolTipForItem(*this, index) : QString();
        if (text.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), text, viewport(), itemFrameAtIndex(index));
        return true;
    }
    return QAbstractScrollArea::viewportEvent(event);
}

// --- Keys.

void ImageBrowserView::moveByKey(int step, bool extend) {
    if (mCount == 0) return;
    int target = 0;
    if (!mSelection.empty()) {
        const int from = step > 0 ? *mSelection.rbegin() : *mSelection.begin();
        target = from + step;
        if (target < 0 || target >= mCount) return;
    }
    IndexSet next = (extend && mAllowsMultiple) ? mSelection : IndexSet{};
    next.insert(target);
    changeSelection(next);
    if (!extend) mAnchor = target;
    scrollIndexToVisible(target);
}

void ImageBrowserView::removeSelection() {
    if (!mDataSource || mSelection.empty()) return;
    const IndexSet removing = mSelection;
    if (!mDataSource->removeItems(*this, removing)) return;
    mSelection.clear();
    mAnchor = kNotFound;
    reloadData();
    // Where empty selection is not allowed the item that took the first
    // removed one's place (or the new last one) is selected.
    if (!mAllowsEmpty && mCount > 0) mSelection.insert(std::min(*removing.begin(), mCount - 1));
    viewport()->update();
    if (mDelegate) mDelegate->selectionDidChange(*this);
}

void ImageBrowserView::keyPressEvent(QKeyEvent* event) {
    const bool extend = event->modifiers() & Qt::ShiftModifier;
    const int columns = numberOfColumns();
    switch (event->key()) {
    case Qt::Key_Left:
        moveByKey(isMirrored() ? 1 : -1, extend);
        return;
    case Qt::Key_Right:
        moveByKey(isMirrored() ? -1 : 1, extend);
        return;
    case Qt::Key_Up:
        moveByKey(-columns, extend);
        return;
    case Qt::Key_Down:
        moveByKey(columns, extend);
        return;
    case Qt::Key_Delete:
    case Qt::Key_Backspace:
        removeSelection();
        return;
    default:
        QAbstractScrollArea::keyPressEvent(event);
    }
}

// --- Dragging out.

QPixmap ImageBrowserView::dragPixmap(const IndexSet& indexes) {
    if (indexes.empty() || !mDataSource) return {};
    const int first = *indexes.begin();
    ImageBrowserCell* cell = cellForItemAtIndex(first);
    const QImage image = mDataSource->itemAtIndex(*this, first).image;
    if (!cell || image.isNull()) return {};
    cell->mImageSize = image.size();
    const QSize size = cell->imageFrame().size();
    if (size.isEmpty()) return {};
    return QPixmap::fromImage(image.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

Qt::DropAction ImageBrowserView::executeDrag(QDrag& drag, Qt::DropActions actions) {
    return drag.exec(actions, Qt::MoveAction);
}

void ImageBrowserView::startDrag() {
    const IndexSet indexes = mSelection;
    auto* data = new QMimeData;
    const bool wrote = mDataSource && mDataSource->writeItems(*this, indexes, *data);
    if (!wrote && !mAllowsReordering) {
        delete data;
        return;
    }
    // Qt deletes an executed drag later itself; one that never ran goes
    // with the view.
    auto* drag = new QDrag(this);
    drag->setMimeData(data);
    const QPixmap pixmap = dragPixmap(indexes);
    if (!pixmap.isNull()) {
        drag->setPixmap(pixmap);
        drag->setHotSpot(QPoint(pixmap.width() / 2, pixmap.height() / 2));
    }
    mInternalDrag = true;
    mDragIndexes = indexes;
    mDropIndex = kNotFound;
    executeDrag(*drag, Qt::MoveAction | Qt::CopyAction);
    endInternalDrag();
}

void ImageBrowserView::endInternalDrag() {
    mInternalDrag = false;
    mDragIndexes.clear();
    mDropIndex = kNotFound;
    viewport()->update();
}

// --- Dropping in.

void ImageBrowserView::dragEnterEvent(QDragEnterEvent* event) {
    const QPoint pos = event->position().toPoint();
    if (mInternalDrag) {
        if (!mAllowsReordering) return event->ignore();
        mDropIndex = dropIndexAtPoint(pos);
        event->setDropAction(Qt::MoveAction);
        event->accept();
        viewport()->update();
        return;
    }
    mExternalDrag = false;
    if (!mDestination || !event->mimeData()) return event->ignore();
    const Qt::DropAction action = mDestination->draggingEntered(*this, *event->mimeData(), pos,
                                                                event->possibleActions());
    if (action == Qt::IgnoreAction) return event->ignore();
    mExternalDrag = true;
    event->setDropAction(action);
    event->accept();
}

void ImageBrowserView::dragMoveEvent(QDragMoveEvent* event) {
    const QPoint pos = event->position().toPoint();
    if (mInternalDrag) {
        if (!mAllowsReordering) return event->ignore();
        const int gap = dropIndexAtPoint(pos);
        if (gap != mDropIndex) {
            mDropIndex = gap;
            viewport()->update();
        }
        event->setDropAction(Qt::MoveAction);
        event->accept();
        return;
    }
    if (!mExternalDrag || !event->mimeData()) return event->ignore();
    const Qt::DropAction action = mDestination->draggingUpdated(*this, *event->mimeData(), pos,
                                                                event->possibleActions());
    if (action == Qt::IgnoreAction) return event->ignore();
    event->setDropAction(action);
    event->accept();
}

void ImageBrowserView::dragLeaveEvent(QDragLeaveEvent*) {
    if (mInternalDrag) {
        mDropIndex = kNotFound;
        viewport()->update();
        return;
    }
    if (mExternalDrag && mDestination) mDestination->draggingEnded(*this, false);
    mExternalDrag = false;
}

void ImageBrowserView::dropEvent(QDropEvent* event) {
    const QPoint pos = event->position().toPoint();
    if (mInternalDrag) {
        if (!mAllowsReordering || !mDataSource || mDragIndexes.empty()) return event->ignore();
        const int gap = dropIndexAtPoint(pos);
        const IndexSet moving = mDragIndexes;
        mDropIndex = kNotFound;
        const int before = int(std::distance(moving.begin(), moving.lower_bound(gap)));
        const int insertAt = gap - before;
        // Dropped where the block already stands: nothing moves.
        const bool inPlace = *moving.rbegin() - *moving.begin() + 1 == int(moving.size()) &&
                             insertAt == *moving.begin();
        event->setDropAction(Qt::MoveAction);
        event->accept();
        if (inPlace || !mDataSource->moveItems(*this, moving, gap)) {
            viewport()->update();
            return;
        }
        reloadData();
        IndexSet moved;
        for (int i = 0; i < int(moving.size()); ++i) moved.insert(insertAt + i);
        changeSelection(moved);
        return;
    }
    if (!mExternalDrag || !mDestination || !event->mimeData()) return event->ignore();
    mExternalDrag = false;
    const bool taken = mDestination->performDragOperation(*this, *event->mimeData(), pos);
    if (taken)
        event->acceptProposedAction();
    else
        event->ignore();
    mDestination->draggingEnded(*this, taken);
}

} // namespace kdui
